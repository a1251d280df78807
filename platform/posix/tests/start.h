// Starts the built program by a fork and an exec, so a test can hand the
// child anything a parent can (streams, limits, signals, a filter of system
// calls, the environment, the name it is started by). The runs of
// tests/data/runs.txt start it the other way, through a shell, from a line
// of text: that way also reaches the builds for other systems, under Wine
// or qemu, where no function of this process can run in the child.
#ifndef SONDREL_PLATFORM_POSIX_TESTS_START_H
#define SONDREL_PLATFORM_POSIX_TESTS_START_H

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/test_support.h"

// Starts the program in the scratch folder with standard output and error
// in files, without SONDREL_ENCODING, after setup has run in the child.
// argv[0] is the program's path unless programName is given.
pid_t StartChild(const std::vector<std::string>& arguments, const std::function<void()>& setup,
                 const char* programName = nullptr);

// The exit code, or 128 plus the signal when one ended the child.
int WaitFor(pid_t child);

// A whole run, its streams as the bytes written.
RunResult RunChildRaw(const std::vector<std::string>& arguments, const std::function<void()>& setup = [] {},
                      const char* programName = nullptr);

// A whole run, its streams UTF-16LE decoded to UTF-8 (a byte-order mark or
// an odd byte would show in the text); rawOut receives the bytes of
// standard output.
RunResult RunChild(const std::vector<std::string>& arguments, const std::function<void()>& setup = [] {},
                   std::string* rawOut = nullptr);

// In a forked child: makes every later call of the system call `call` fail
// with `error`, as an older or a stricter system would. False where the
// system takes no filter (an emulator).
bool FailSystemCall(long call, int error);

// Ends a forked child with code, its line counters written first in the
// coverage build (_exit skips the handlers that write them).
[[noreturn]] void EndChild(int code);

#endif
