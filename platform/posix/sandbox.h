// What a sandboxed process of sondrel-scan adds to the sandbox of a run.
#ifndef SONDREL_PLATFORM_POSIX_SANDBOX_H
#define SONDREL_PLATFORM_POSIX_SANDBOX_H

// The socket a scanning worker takes descriptors from and sends records to,
// or -1 (a run of sondrel). When set, the sandbox also lets it receive and
// send messages on that one descriptor, and nothing else.
extern int g_sandboxSocket;

#endif
