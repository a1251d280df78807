// The POSIX program's standard streams under what a parent or the shell can
// hand down (a terminal is among the whole runs): a pipe with no reader, a
// non-blocking pipe with a slow reader, a file size limit, and too few
// descriptors with a stream closed. Each runs the built program. Then what a
// hostile name or a small stack can do, and the sandbox; the backend's system
// texts, the version it reads, and its UTF-8.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <iterator>
#include <tuple>

#include "runtime/contract.h"
#include "tests/test_support.h"

namespace {

// A -v run prints two lines per chunk: some 200 bytes each.
std::string ManyChunks(int count) {
    std::string chunks = Chunk("fmt ", Format16(1, 1, 8000, 8));
    for (int i = 0; i < count; ++i) chunks += Chunk("JUNK", "");
    return Riff(chunks + Chunk("data", "12"));
}

// Starts the program in the scratch folder with standard output and error
// in files, after setup has run in the child.
pid_t StartChild(const std::vector<std::string>& arguments, const std::function<void()>& setup) {
    pid_t child = fork();
    if (child != 0) return child;
    if (chdir(ScratchDir().c_str()) != 0) _exit(120);
    int out = open("child.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open("child.err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(121);
    close(out);
    close(err);
    setup();
    std::vector<char*> argv{const_cast<char*>(SONDREL_BINARY)};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(SONDREL_BINARY, argv.data());
    _exit(122);
}

// The exit code, or 128 plus the signal when one ended the child.
int WaitFor(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

RunResult RunChild(const std::vector<std::string>& arguments, const std::function<void()>& setup,
                   std::string* rawOut = nullptr) {
    const int code = WaitFor(StartChild(arguments, setup));
    const std::string out = ReadWhole(ScratchDir() + "/child.out");
    if (rawOut != nullptr) *rawOut = out;
    return {Utf16LeToUtf8(out), Utf16LeToUtf8(ReadWhole(ScratchDir() + "/child.err")), code};
}

// A reader gone before the first line (a shell leaves SIGPIPE at its
// default): the lines are lost, the run and its exit code are not.
TEST(PosixStreams, PipeWithNoReader) {
    ScopedFile wave("a.wav", SimpleWave(Format16(1, 1, 8000, 8)));
    EXPECT_EQ(RunChild({"-v", "a.wav"}, [] {
        int fds[2];
        if (signal(SIGPIPE, SIG_DFL) == SIG_ERR || pipe(fds) != 0 || dup2(fds[1], 1) < 0) _exit(123);
        close(fds[0]);
        close(fds[1]);
    }), (RunResult{"", "", 0}));
}

// A pipe in non-blocking mode takes part of a line, or none, while its
// reader is slow: every line still arrives whole.
TEST(PosixStreams, NonBlockingPipeWithASlowReader) {
    ScopedFile wave("many.wav", ManyChunks(5000));
    std::string expected;
    ASSERT_EQ(RunChild({"-v", "many.wav"}, [] {}, &expected).code, 0);
    ASSERT_GT(expected.size(), 1000000u);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(fcntl(fds[1], F_SETFL, O_NONBLOCK), 0);
    pid_t child = StartChild({"-v", "many.wav"}, [&fds] {
        if (dup2(fds[1], 1) < 0) _exit(123);
        close(fds[0]);
        close(fds[1]);
    });
    close(fds[1]);
    std::string received;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) {
        received.append(buffer, size_t(n));
        usleep(300);
    }
    close(fds[0]);
    EXPECT_EQ(WaitFor(child), 0);
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected);
}

// A file that reaches its size limit (ulimit -f) fails the write; the run
// goes on and its exit code is the file's.
TEST(PosixStreams, FileSizeLimit) {
    ScopedFile wave("many.wav", ManyChunks(200));
    std::string whole;
    RunResult full = RunChild({"-v", "many.wav"}, [] {}, &whole);
    ASSERT_EQ(full.code, 0);
    // The limit falls inside a line, and is above what the coverage build
    // writes into each of its counter files at exit.
    const rlim_t kLimit = 32000;
    ASSERT_GT(whole.size(), kLimit);
    std::string cut;
    RunResult limited = RunChild({"-v", "many.wav"}, [kLimit] {
        struct rlimit limit = {kLimit, kLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
    }, &cut);
    EXPECT_EQ(limited, (RunResult{Utf16LeToUtf8(whole.substr(0, kLimit)), "", 0}));
}

// With room for only one or two descriptors, poll() cannot look at all three
// streams; a closed one is still filled, so the input file cannot take its
// place (and cannot be opened at all).
TEST(PosixStreams, TooFewDescriptorsAndAClosedStream) {
    // The sanitizers' runtime needs descriptors of its own before the
    // program starts.
    if (SONDREL_SANITIZED) GTEST_SKIP() << "the sanitizer runtime cannot start with one or two descriptors";
    ScopedFile wave("a.wav", SimpleWave(Format16(1, 1, 8000, 8)));
    const std::string refused = Lines({"Cannot open \"a.wav\" (24 - Too many open files)"});
    const struct {
        rlim_t limit;
        int closed;
        RunResult expected;
    } cases[] = {
        {1, 0, {"", refused, 101}},
        {2, 0, {"", refused, 101}},
        {2, 1, {"", refused, 101}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.limit) + " descriptors, " + std::to_string(c.closed) + " closed");
        EXPECT_EQ(RunChild({"a.wav"}, [&c] {
            close(c.closed);
            struct rlimit limit = {c.limit, c.limit};
            setrlimit(RLIMIT_NOFILE, &limit);
        }), c.expected);
    }
}

// A writer waits in open() on a FIFO until a reader opens it: had the
// program opened the FIFO to refuse it, the writer would have gone on.
TEST(PosixHostile, AFifoIsRefusedUnopened) {
    const std::string fifo = ScratchDir() + "/writer.fifo";
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    pid_t writer = fork();
    if (writer == 0) _exit(open(fifo.c_str(), O_WRONLY) >= 0 ? 0 : 1);
    EXPECT_EQ(RunChild({"writer.fifo"}, [] {}),
              (RunResult{"", Lines({"Cannot open \"writer.fifo\" (1000 - Not a regular file)"}), 101}));
    usleep(100000);
    EXPECT_EQ(waitpid(writer, nullptr, WNOHANG), 0) << "the FIFO was opened";
    kill(writer, SIGKILL);
    WaitFor(writer);
    unlink(fifo.c_str());
}

// A stack of 24 KiB holds every run: no buffer over 1 KiB lives there. The
// longest name the command line takes, the UTF-8 lines and a full report.
TEST(PosixHostile, SmallStack) {
    if (SONDREL_SANITIZED) GTEST_SKIP() << "the sanitizers' runtime needs a larger stack of its own";
    ScopedFile wave("a.wav", SimpleWave(Format16(1, 1, 8000, 8)));
    auto smallStack = [] {
        struct rlimit limit = {24 * 1024, 24 * 1024};
        setrlimit(RLIMIT_STACK, &limit);
    };
    EXPECT_EQ(RunChild({"-v", "-o", "-f", "a.wav"}, smallStack).code, 0);
    EXPECT_EQ(RunChild({std::string(5000, 'x')}, smallStack).code, 2);
    EXPECT_EQ(RunChild({"-v", "a.wav"}, [&smallStack] {
        smallStack();
        setenv("SONDREL_ENCODING", "utf-8", 1);
    }).code, 0);
    EXPECT_EQ(RunChild({"missing\x1b.wav"}, smallStack).code, 101);
}

// Once the sandbox is in place, a child can still read the file and write
// to its streams, and every other call fails with EPERM rather than killing
// it: opening a file, a socket, executable memory, writing elsewhere.
TEST(PosixHostile, SandboxLeavesReadsAndWrites) {
    ScopedFile wave("a.wav", SimpleWave(Format16(1, 1, 8000, 8)));
    const std::string path = ScratchDir() + "/a.wav";
    const std::u16string name(path.begin(), path.end());
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    if (child == 0) {
        if (dup2(fds[1], 1) < 0) _exit(100);
        OsHandle file = g_platform.openFile(name.c_str());
        if (file == kNoHandle) _exit(101);
        g_platform.restrictProcess(file);
        auto refused = [](bool failed) { return failed && errno == EPERM; };
        // The exit code tells which call was let through: 110 + its row.
        const bool refusals[] = {
            refused(open("/etc/hostname", O_RDONLY) < 0),
            refused(socket(AF_UNIX, SOCK_STREAM, 0) < 0),
            refused(mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) == MAP_FAILED),
#ifndef SONDREL_COVERAGE  // whose counters are written at exit
            refused(write(fds[1], "x", 1) < 0),
#endif
        };
        for (size_t i = 0; i < std::size(refusals); ++i) {
            if (!refusals[i]) _exit(110 + int(i));
        }
        char riff[4] = {};
        uint32_t got = 0;
        if (!g_platform.readFile(file, riff, 4, &got) || got != 4 || std::string(riff, 4) != "RIFF") _exit(103);
        if (!g_platform.skipForward(file, 4)) _exit(104);
        if (!g_platform.writeFile(1 + 1, "read RIFF", 9)) _exit(105);
        void* memory = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED || munmap(memory, 4096) != 0) _exit(106);
        g_platform.closeFile(file);
        _exit(0);
    }
    close(fds[1]);
    std::string received;
    char buffer[64];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) received.append(buffer, size_t(n));
    close(fds[0]);
    EXPECT_EQ(WaitFor(child), 0);
    EXPECT_EQ(received, "read RIFF");
}

// The C library's texts: "Unknown error N", and a text cut short, count as
// none, so the caller falls back to its own.
TEST(PosixBackend, SystemMessages) {
    WChar text[256];
    EXPECT_GT(g_platform.systemMessage(text, 256, 2, nullptr), 0u);
    EXPECT_EQ(g_platform.systemMessage(text, 3, 2, nullptr), 0u);
    EXPECT_EQ(g_platform.systemMessage(text, 256, 0x20001234, nullptr), 0u);
}

volatile sig_atomic_t g_trapped = 0;

// What the program keeps but no run reaches: the size of a file other than
// the last opened, a breakpoint after a broken contract; and names too long
// for a path, in characters or in the bytes of their UTF-8, which the
// command line lets through only in part.
TEST(PosixBackend, EntriesNoRunReaches) {
    ScopedFile a("a.wav", "12345"), b("b.wav", "12");
    const std::u16string first(a.path().begin(), a.path().end()), second(b.path().begin(), b.path().end());
    OsHandle handles[] = {g_platform.openFile(first.c_str()), g_platform.openFile(second.c_str())};
    uint32_t size = 0;
    EXPECT_TRUE(g_platform.fileSize(handles[0], &size));
    EXPECT_EQ(size, 5u);
    for (OsHandle handle : handles) g_platform.closeFile(handle);
    signal(SIGTRAP, [](int) { g_trapped = 1; });
    EXPECT_TRUE(ContractBroken(true));
    signal(SIGTRAP, SIG_DFL);
    EXPECT_EQ(g_trapped, 1);
    for (const std::u16string& name : {std::u16string(4096, u'a'), std::u16string(1366, u'\u20AC')}) {
        errno = 0;
        EXPECT_EQ(g_platform.openFile(name.c_str()), kNoHandle);
        EXPECT_EQ(errno, ENAMETOOLONG);
    }
}

// "6.1.0-18-amd64" stands for version 6.1, build 0: a release misread could
// make start-up refuse a system the program runs on.
TEST(PosixBackend, VersionFromTheKernelRelease) {
    struct utsname names;
    ASSERT_EQ(uname(&names), 0);
    unsigned major = 0, minor = 0, build = 0;
    std::sscanf(names.release, "%u.%u.%u", &major, &minor, &build);
    OsVersionInfo info = {};
    ASSERT_TRUE(g_platform.getVersion(&info));
    EXPECT_EQ(std::tuple(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber), std::tuple(major, minor, build));
}

// A name's bytes that were not UTF-8 arrive as U+DC80..U+DCFF and go back
// as those bytes, on a terminal, in a UTF-8 stream and in the name opened.
TEST(PosixBackend, EscapedBytesGoBack) {
    const struct { std::u16string units; std::string bytes; } cases[] = {
        {u"\xDC80\xDCE9\xDCFF.wav", "\x80\xE9\xFF.wav"},
        // A pair is a pair even when its low half is in the escape range.
        {u"\xD800\xDC80", "\xF0\x90\x82\x80"},
        // Other lone halves are no byte: U+FFFD.
        {u"\xDC7F\xDD00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.units));
        EXPECT_EQ(EncodedBy(g_platform.toUtf8, c.units), c.bytes);
    }
}

}  // namespace
