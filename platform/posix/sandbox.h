// What a sandboxed process of sondrel-scan adds to the sandbox of a run.
#ifndef SONDREL_PLATFORM_POSIX_SANDBOX_H
#define SONDREL_PLATFORM_POSIX_SANDBOX_H

// The socket a scanning worker takes descriptors from and sends records to:
// the worker arranges its descriptors so that it is always this one.
constexpr int kScanWorkerSocket = 3;

// Set in a scanning worker before it restricts itself: the sandbox then also
// lets it receive and send messages on its socket, and nothing else, and
// leaves its descriptors as the worker arranged them. False in sondrel.
extern bool g_sandboxScanWorker;

#endif
