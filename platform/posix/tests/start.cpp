// Starts the built program.
#include "platform/posix/tests/start.h"

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

pid_t StartChild(const std::vector<std::string>& arguments, const std::function<void()>& setup,
                 const char* programName) {
    // The folder is made on first use: by the parent, so that it reads the
    // files the child writes.
    const std::string dir = ScratchDir();
    pid_t child = fork();
    if (child != 0) return child;
    if (chdir(dir.c_str()) != 0) _exit(120);
    int out = open("child.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open("child.err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(121);
    close(out);
    close(err);
    unsetenv("SONDREL_ENCODING");
    setup();
    std::vector<char*> argv{const_cast<char*>(programName != nullptr ? programName : SONDREL_BINARY)};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(SONDREL_BINARY, argv.data());
    _exit(122);
}

int WaitFor(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

RunResult RunChildRaw(const std::vector<std::string>& arguments, const std::function<void()>& setup,
                      const char* programName) {
    const int code = WaitFor(StartChild(arguments, setup, programName));
    return {ReadWhole(ScratchDir() + "/child.out"), ReadWhole(ScratchDir() + "/child.err"), code};
}

RunResult RunChild(const std::vector<std::string>& arguments, const std::function<void()>& setup,
                   std::string* rawOut) {
    RunResult run = RunChildRaw(arguments, setup);
    if (rawOut != nullptr) *rawOut = run.out;
    return {Utf16LeToUtf8(run.out), Utf16LeToUtf8(run.err), run.code};
}

bool FailSystemCall(long call, int error) {
    struct sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(call), 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (static_cast<uint32_t>(error) & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {4, code};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

#ifdef SONDREL_COVERAGE
extern "C" void __gcov_dump();
#endif

void EndChild(int code) {
#ifdef SONDREL_COVERAGE
    __gcov_dump();
#endif
    _exit(code);
}
