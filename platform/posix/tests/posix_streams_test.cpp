// The POSIX program's standard streams under what a parent or the shell can
// hand down (a terminal and a reader that goes away are among the whole
// runs): a non-blocking pipe with a slow reader, a file size limit, and too few
// descriptors with a stream closed. Each runs the built program. Then what a
// hostile name or a small stack can do, and the sandbox; the backend's system
// texts, the version and release it reads, and its UTF-8; the formatter's
// reads, stopped by a page that cannot be read.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <tuple>

#include "platform/platform.h"
#include "platform/posix/tests/start.h"
#include "runtime/contract.h"
#include "runtime/format.h"
#include "tests/test_support.h"

namespace {

// A -v run prints two lines per chunk: some 200 bytes each.
std::string ManyChunks(int count) {
    std::string chunks = Chunk("fmt ", Format16(1, 1, 8000, 8));
    for (int i = 0; i < count; ++i) chunks += Chunk("JUNK", "");
    return Riff(chunks + Chunk("data", "12"));
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

// A file that reaches its size limit (ulimit -f) fails the write: what
// arrived is the report's first bytes, nothing after the failure, and the run
// says that its report is cut.
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
    EXPECT_EQ(limited, (RunResult{Utf16LeToUtf8(whole.substr(0, kLimit)), Lines({"Cannot write output (27 - File too large)"}), 233}));
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

// Overflows its buffer by a count the compiler cannot see, so that only
// the stack protector's check at the return finds it.
__attribute__((noinline)) void SmashStack(volatile size_t count) {
    char buffer[16];
    for (size_t i = 0; i < count; ++i) reinterpret_cast<volatile char*>(buffer)[i] = 'x';
}

// What may happen once the sandbox is in place, each in a child of its own
// that inherited a read-write descriptor (7) of another file: reading and
// skipping in the file, writing to the streams and private memory go on; any
// other call ends the child by SIGSYS (in the sanitizers' builds it fails
// with EPERM, exit code 1 here); a fault glibc detects still prints its
// message and ends it by SIGABRT.
TEST(PosixHostile, Sandbox) {
    ScopedFile wave("a.wav", SimpleWave(Format16(1, 1, 8000, 8)));
    ScopedFile victim("victim.txt", "untouched");
    const std::string path = ScratchDir() + "/a.wav";
    const std::u16string name(path.begin(), path.end());
    static OsHandle file;
    const int refused = SONDREL_SANITIZED ? 1 : 128 + SIGSYS;
    const int fileFd = 4;  // after the name's own descriptor, 3
    const std::string out = ScratchDir() + "/child.out", err = ScratchDir() + "/child.err";
    static auto mapped = [](int prot, int flags, int fd) {
        void* m = mmap(nullptr, 4096, prot, flags, fd, 0);
        return m != MAP_FAILED && munmap(m, 4096) == 0;
    };
    const int rw = PROT_READ | PROT_WRITE, anonymous = MAP_PRIVATE | MAP_ANONYMOUS;
    const struct {
        const char* what;
        std::function<bool()> act;  // true when the call did what it asked
        int fate;                   // exit code, or 128 + the signal
        std::string err;
    } cases[] = {
        {"read and skip in the file, write a line", [] {
             char riff[4] = {};
             uint32_t got = 0;
             return g_platform.readFile(file, riff, 4, &got) && got == 4 && std::string(riff, 4) == "RIFF" &&
                    g_platform.skipForward(file, 4) && g_platform.writeFile(2 + 1, "read RIFF", 9);
         }, 0, "read RIFF"},
        {"private memory", [&] { return mapped(rw, anonymous, -1); }, 0, ""},
        {"a shared mapping of the inherited descriptor", [&] { return mapped(rw, MAP_SHARED, 7); }, refused, ""},
        {"shared anonymous memory", [&] { return mapped(rw, MAP_SHARED | MAP_ANONYMOUS, -1); }, refused, ""},
        {"a private mapping of the file", [&] { return mapped(PROT_READ, MAP_PRIVATE, fileFd); }, refused, ""},
        {"executable memory", [&] { return mapped(PROT_READ | PROT_EXEC, anonymous, -1); }, refused, ""},
        {"a socket", [] { return socket(AF_UNIX, SOCK_STREAM, 0) >= 0; }, refused, ""},
        {"opening a file", [&] { return open(victim.path().c_str(), O_RDONLY) >= 0; }, refused, ""},
        {"a write to the inherited descriptor", [] { return write(7, "x", 1) == 1; }, refused, ""},
        {"a read of standard input", [] { char c; return read(0, &c, 1) >= 0; }, refused, ""},
        {"SIGABRT to the parent", [] { return kill(getppid(), SIGABRT) == 0; }, refused, ""},
        {"a smashed stack", [] { SmashStack(64); return true; }, 128 + SIGABRT, "*** stack smashing detected ***: terminated\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // The sanitizers find the smashed stack themselves, and report it.
        if (SONDREL_SANITIZED && c.fate == 128 + SIGABRT) continue;
#ifdef SONDREL_COVERAGE
        // The coverage build lets through the reads and writes that its
        // counters need at exit.
        if (std::string(c.what).find("a write") == 0 || std::string(c.what).find("a read") == 0) continue;
#endif
        pid_t child = fork();
        if (child == 0) {
            for (int fd = 3; fd < 8; ++fd) close(fd);
            if (open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644) != 3 || dup2(3, 1) != 1 ||
                open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644) != 4 || dup2(4, 2) != 2 ||
                dup2(open(victim.path().c_str(), O_RDWR), 7) != 7 || close(3) != 0 || close(4) != 0 || close(5) != 0) {
                _exit(120);
            }
            file = g_platform.openFile(name.c_str());
            if (file != fileFd + 1) _exit(119);
            g_platform.restrictProcess(file);
            _exit(c.act() ? 0 : errno == EPERM ? 1 : 2);
        }
        EXPECT_EQ(WaitFor(child), c.fate);
        EXPECT_EQ(ReadWhole(out) + ReadWhole(err), c.err);
    }
    EXPECT_EQ(ReadWhole(victim.path()), "untouched");
}

// The shipped program, caught while it waits on a full pipe: the sandbox is
// on, and of the descriptors it inherited (a pipe's two ends, the file open
// for writing) only the three streams are left, beside the file it reads.
TEST(PosixHostile, SandboxSeenFromOutside) {
    if (SONDREL_SANITIZED) GTEST_SKIP() << "the sanitizers' build keeps descriptors of its own";
    ScopedFile wave("many.wav", ManyChunks(5000));
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = StartChild({"-v", "many.wav"}, [&fds] {
        if (dup2(fds[1], 1) < 0 || open("many.wav", O_RDWR) < 0) _exit(123);  // the file itself, inherited
    });
    close(fds[1]);
    const std::string proc = "/proc/" + std::to_string(child);
    std::string status;
    for (int tries = 0; tries < 500 && status.find("Seccomp:\t2") == std::string::npos; ++tries) {
        usleep(10000);
        status = ReadWhole(proc + "/status");
    }
    std::string descriptors;
    char text[4096];
    for (int fd = 0; fd < 64; ++fd) {
        ssize_t n = readlink((proc + "/fd/" + std::to_string(fd)).c_str(), text, sizeof text);
        if (n < 0) continue;
        descriptors += (std::string(text, size_t(n)) == wave.path() ? "wave" : std::to_string(fd)) + " ";
    }
    while (read(fds[0], text, sizeof text) > 0) {
    }
    close(fds[0]);
    EXPECT_EQ(WaitFor(child), 0);
    EXPECT_NE(status.find("NoNewPrivs:\t1"), std::string::npos) << status;
    EXPECT_NE(status.find("Seccomp:\t2"), std::string::npos) << status;
    EXPECT_EQ(descriptors, "0 1 2 wave ");
}

// Linux before 5.9 has no close_range, and a system may have no /proc: the
// inherited descriptors are then closed one by one, found in /proc/self/fd or
// tried up to the limit, and the name is opened and then checked, so a FIFO
// is still refused and a regular file still read.
TEST(PosixHostile, OlderSystems) {
    ScopedFile wave("a.wav", SimpleWave(Format16(1, 1, 8000, 8)));
    ScopedFile victim("victim.txt", "untouched");
    const std::string path = ScratchDir() + "/a.wav", fifo = ScratchDir() + "/old.fifo";
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct { const char* what; bool noCloseRange, noProc; } rows[] = {
        {"no close_range", true, false}, {"no /proc", false, true}, {"neither", true, true}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        // The sanitizers' leak check, which the sandbox runs, reads /proc.
        if (SONDREL_SANITIZED && r.noProc) continue;
        pid_t child = fork();
        if (child == 0) {
            if (dup2(open(victim.path().c_str(), O_RDWR), 7) != 7) _exit(120);
            // Each a step of its own, so a system that cannot take one (an
            // emulator, no right to mount) skips the run rather than failing it.
            // /proc is made private first, so that what hides it here is
            // never seen outside this child's own view of the mounts.
            if (r.noProc && (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/proc", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                             mount("none", "/proc", "tmpfs", 0, nullptr) != 0)) {
                _exit(77);
            }
            if (r.noCloseRange && !FailSystemCall(436 /* close_range */, ENOSYS)) {
                _exit(77);
            }
            const std::u16string fifoName(fifo.begin(), fifo.end()), name(path.begin(), path.end());
            if (g_platform.openFile(fifoName.c_str()) != kNoHandle) _exit(121);
            OsHandle file = g_platform.openFile(name.c_str());
            if (file == kNoHandle || !g_platform.restrictProcess(file)) _exit(122);
            char riff[4] = {};
            uint32_t got = 0;
            if (!g_platform.readFile(file, riff, 4, &got) || got != 4) _exit(123);
            // close() is let through for any descriptor: 7 is gone already.
            EndChild(close(7) != 0 && errno == EBADF ? 0 : 124);
        }
        const int code = WaitFor(child);
        if (code == 77) continue;
        EXPECT_EQ(code, 0);
    }
    unlink(fifo.c_str());
    EXPECT_EQ(ReadWhole(victim.path()), "untouched");
}

// A name swapped between a regular file and a FIFO as fast as the system
// can, while the program is run on it again and again: a writer waiting in
// open() on the FIFO is never let go, so no run opened it, not even those
// that found the FIFO there and refused it. Each run ends either with the
// file's report or with the FIFO refused.
TEST(PosixHostile, NoRunOpensAFifoSwappedIn) {
    ScopedFile wave("swap", SimpleWave(Format16(1, 1, 8000, 8)));
    const std::string fifo = ScratchDir() + "/race.fifo", other = ScratchDir() + "/other";
    unlink(fifo.c_str());
    unlink(other.c_str());
    ASSERT_TRUE(mkfifo(fifo.c_str(), 0600) == 0 && link(fifo.c_str(), other.c_str()) == 0);
    auto exchange = [&] {
        return syscall(SYS_renameat2, AT_FDCWD, wave.path().c_str(), AT_FDCWD, other.c_str(), 2 /* RENAME_EXCHANGE */);
    };
    if (exchange() != 0) GTEST_SKIP() << "this file system cannot exchange names";
    int opened[2];
    ASSERT_EQ(pipe(opened), 0);
    const pid_t swapper = fork();
    while (swapper == 0) exchange();
    const pid_t writer = fork();
    for (int fd; writer == 0;) {
        if ((fd = open(fifo.c_str(), O_WRONLY)) >= 0 && write(opened[1], "x", 1) == 1) close(fd);
    }
    close(opened[1]);
    int outcomes[256] = {};
    for (int run = 0; run < 300; ++run) ++outcomes[RunChild({"swap"}, [] {}).code & 0xFF];
    for (pid_t helper : {swapper, writer}) {
        kill(helper, SIGKILL);
        WaitFor(helper);
    }
    fcntl(opened[0], F_SETFL, O_NONBLOCK);
    char buffer[512];
    EXPECT_LE(read(opened[0], buffer, sizeof buffer), 0) << "runs opened the FIFO";
    close(opened[0]);
    unlink(fifo.c_str());
    unlink(other.c_str());
    EXPECT_EQ(outcomes[0] + outcomes[101], 300);
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

// Texts are read no further than their room: %s stops at the end of its
// line, before a page that cannot be read; an /etc/os-release longer than the
// buffer (mounted in a child) is cut one byte short, where its ending 0 goes,
// so a value that would begin on the buffer's last byte is empty.
TEST(PosixBackend, TextsReadNoFurtherThanTheirRoom) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    auto* pages = static_cast<uint8_t*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_EQ(mprotect(pages + page, page, PROT_NONE), 0);
    auto* text = reinterpret_cast<WChar*>(pages + page) - 4;
    std::copy_n(u"abcd", 4, text);
    WChar line[5];
    EXPECT_EQ(std::u16string(line, FormatText(line, 5, u"%s", text)), u"abcd");
    munmap(pages, 2 * page);
    // A value cut by the end of what is read, and one longer than its room,
    // which is cut to the room, the terminator inside it.
    const struct {
        std::string release;
        std::u16string id;
    } kReleases[] = {{"A=" + std::string(4081, 'a') + "\nVERSION_ID=9\n", u""},
                     {"VERSION_ID=\"1234567890\"\n", u"1234567"}};
    for (const auto& r : kReleases) {
        ScopedFile release("os-release", r.release);
        pid_t child = fork();
        if (child == 0) {
            struct {
                WChar id[8];
                WChar after;
            } room = {{u'?'}, u'!'};
            EndChild(unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                             mount(release.path().c_str(), "/etc/os-release", nullptr, MS_BIND, nullptr) != 0
                         ? 77
                     : g_platform.readSystemValue(u"ReleaseId", room.id, sizeof room.id) && room.id == r.id &&
                             room.after == u'!'
                         ? 0
                         : 1);
        }
        const int code = WaitFor(child);
        if (code == 77) GTEST_SKIP() << "no mounts of its own here";
        EXPECT_EQ(code, 0) << ToUtf8(r.id);
    }
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
