// sondrel-scan's opener and worker, on each system: open files reach a
// restricted worker that can read them, records come back in the order of
// the names however many are on their way, and a worker that dies, hangs or
// sends what no check writes costs the record it was making.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/scan.h"
#include "tests/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/sandbox.h"
#include "platform/posix/tests/start.h"
#endif

namespace {

#ifdef _WIN32
// The worker is a process started anew, slowly under Wine.
constexpr uint32_t kLimitMs = 3000;
constexpr uint32_t kNoFolder = ERROR_PATH_NOT_FOUND;
constexpr uint32_t kSigIll = 4;
constexpr uint32_t kPermission = ERROR_ACCESS_DENIED;
constexpr bool kSanitized = false;

// Bytes on the worker's pipe as they are, as a worker taken over by a file
// might send them.
void SendRaw(const void* bytes, size_t n) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, static_cast<DWORD>(n), &written, nullptr);
}
#else
constexpr uint32_t kLimitMs = 500;
constexpr uint32_t kNoFolder = ENOENT;
constexpr uint32_t kSigIll = SIGILL;
constexpr uint32_t kPermission = EPERM;
constexpr bool kSanitized = SONDREL_SANITIZED;

// Sends bytes on the worker's socket as they are, as a worker taken over
// by a file might.
void SendRaw(const void* bytes, size_t n) {
    struct iovec part = {const_cast<void*>(bytes), n};
    struct msghdr message = {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    sendmsg(kScanWorkerSocket, &message, MSG_NOSIGNAL);
}
#endif

std::vector<std::u16string> g_names;
size_t g_nextName;
std::vector<std::string> g_lines;  // one string a record
std::vector<uint32_t> g_codes;

const WChar* NextName() { return g_nextName < g_names.size() ? g_names[g_nextName++].c_str() : nullptr; }
void RecordLines(const uint8_t* frames, uint32_t count) {
    if (g_lines.size() == g_codes.size()) g_lines.emplace_back();
    if (g_lines.back().size() < 100000) g_lines.back().append(reinterpret_cast<const char*>(frames), count);
}
void RecordEnd(uint32_t code) {
    if (g_lines.size() == g_codes.size()) g_lines.emplace_back();
    g_codes.push_back(code);
}

// The exit codes the fake check gives, and the limits the tests run with.
const uint32_t kCodes[] = {0, 2, kNoFolder, 99, kPermission};
const ScanLimits kLimits = {kLimitMs, false, kCodes, 5};

// Stands in for the walk, inside the worker's sandbox: a name that begins
// with "crash" faults; "open:NAME" tries to open NAME itself, and its code is
// the error; "many" sends 20,000 lines, more than one reply holds; the
// hostile ones forge three more records, send a frame longer than its
// message, a line with a terminal's escape, loop, or send lines without end;
// a name longer than a request holds arrives cut to it (code 99); any other
// record holds one line with the file's first four bytes (or nothing), and
// the code is the open's error.
uint32_t FakeCheck(const WChar* name, uint32_t, const ScanFile* given, ScanSink sink) {
    OsHandle file = given->handle;
    uint32_t openError = given->openError;
    static const uint8_t empty[4] = {1, 1, 0, '\n'};
    const std::u16string n(name);
    if (n == u"crash") __builtin_trap();
    if (n.size() > kScanNameUnits - 1) return n.size() == kScanNameUnits ? 99 : 2;
    if (n == u"many" || n == u"flood") {
        for (int i = 0; i < 20000 || n == u"flood"; ++i) sink(empty, 4);
        return 0;
    }
    if (n == u"forge") {
        const uint32_t reply[2] = {1, 0};
        for (int i = 0; i < 3; ++i) SendRaw(reply, sizeof reply);
    }
    if (n == u"overlong") {
        const uint8_t reply[8 + 4] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 0xFF, 0x7F, 'a'};
        SendRaw(reply, sizeof reply);
    }
    if (n == u"escape") sink(reinterpret_cast<const uint8_t*>("\1\5\0\x1b[2J\n"), 8);
    for (volatile bool loop = n == u"hang"; loop;) {
    }
    if (n.compare(0, 5, u"open:") == 0) {
        OsHandle opened = g_platform.openFile(name + 5);
        if (file != kNoHandle) g_platform.closeFile(file);
        return opened == kNoHandle ? g_platform.lastError() : 0;
    }
    if (file != kNoHandle && given->size != 8) return 99;  // the size as the opener found it
    uint8_t frame[3 + 5] = {1, 0, 0};
    uint32_t got = 0;
    if (file != kNoHandle) {
        if (!g_platform.readFile(file, frame + 3, 4, &got)) got = 0;
        g_platform.closeFile(file);
    }
    frame[3 + got] = '\n';
    frame[1] = static_cast<uint8_t>(got + 1);
    sink(frame, 4 + got);
    return openError;
}

void NoWait() {}

TEST(ScanWorker, RecordsInOrderAndAFaultCostsOneRecord) {
    ScopedFile wave("scan_worker.wav", "RIFFxxxx");
    std::u16string path(wave.path().begin(), wave.path().end());
    struct Case {
        const char* what;
        std::vector<std::u16string> names;
        bool sharedToo;  // also with one worker for all files
    };
    std::vector<std::u16string> many;
    for (int i = 0; i < 40; ++i) many.push_back(i % 13 == 5 ? u"crash" : i % 2 == 0 ? path : u"/no/such/file");
    const std::u16string longName(kScanNameUnits + 10, u'a');
    // Each hostile file costs its own record and no other: with one worker
    // for all, only where none comes after it in the same worker.
    const Case cases[] = {
        {"no names", {}, true},
        {"one file, read through the handed descriptor", {path}, true},
        {"a fault first, then files", {u"crash", path, u"crash", u"crash", path}, true},
        {"more names than the window, faults among them", many, true},
        {"a record longer than a reply", {u"many", path}, true},
        {"a frame past its message, a control character", {path, u"overlong", path, u"escape", path}, true},
        {"a loop, lines without end", {path, u"hang", path, u"flood", path}, true},
        {"records forged", {path, u"forge"}, true},
        {"records forged, then a file", {u"forge", path}, false},
        {"a name longer than a request holds", {longName, path}, true},
    };
#ifndef _WIN32
    // The worker itself can open nothing, not even the file it was given:
    // the try ends it (in the sanitizers' builds the open fails instead).
    g_names = {u"open:" + path};
    g_nextName = 0;
    g_lines.clear();
    g_codes.clear();
    const ScanCallbacks opening = {NextName, RecordLines, RecordEnd, NoWait};
    ASSERT_TRUE(g_scanPlatform.checkAll(FakeCheck, 0, &kLimits, &opening));
    ASSERT_EQ(g_codes.size(), 1u);
    EXPECT_EQ(g_codes[0], kSanitized ? kPermission : kScanCheckLost | SIGSYS);
#endif
    for (const bool isolate : {false, true}) {
        for (const Case& c : cases) {
            if (!isolate && !c.sharedToo) continue;
            SCOPED_TRACE(std::string(c.what) + (isolate ? ", a process a file" : ""));
            g_names = c.names;
            g_nextName = 0;
            g_lines.clear();
            g_codes.clear();
            const ScanCallbacks callbacks = {NextName, RecordLines, RecordEnd, NoWait};
            ScanLimits limits = kLimits;
            limits.isolate = isolate;
            ASSERT_TRUE(g_scanPlatform.checkAll(FakeCheck, 0, &limits, &callbacks));
            ASSERT_EQ(g_codes.size(), c.names.size());
            for (size_t i = 0; i < c.names.size(); ++i) {
                SCOPED_TRACE(i);
                const std::u16string& name = c.names[i];
                const struct {
                    const char16_t* name;
                    uint32_t code;
                    std::string lines;
                } kExpected[] = {
                    {u"crash", kScanCheckLost | kSigIll, ""},
                    {path.c_str(), 0, std::string("\x01\x05\x00RIFF\n", 8)},
                    {u"/no/such/file", kNoFolder, std::string("\x01\x01\x00\n", 4)},  // as the opener found it
                    {u"overlong", kScanCheckLost | kScanEndRefused, ""},
                    {u"escape", kScanCheckLost | kScanEndRefused, ""},
                    {u"hang", kScanCheckLost | kScanEndTimeLimit, ""},
                    {u"forge", isolate ? kScanCheckLost | kScanEndRefused : 0, ""},
                    {longName.c_str(), 99, ""},
                };
                if (name == u"many" || name == u"flood") {
                    EXPECT_EQ(g_codes[i], name == u"many" ? 0u : kScanCheckLost | kScanEndTimeLimit);
                    EXPECT_EQ(g_lines[i].find_first_not_of(std::string("\x01\x01\x00\n", 4)), std::string::npos);
                    continue;
                }
                for (const auto& e : kExpected) {
                    if (name != e.name) continue;
                    EXPECT_EQ(g_codes[i], e.code);
                    EXPECT_EQ(g_lines[i], e.lines);
                }
            }
        }
    }
}

#ifndef _WIN32
// Once the first worker has died, no process can be started any more: the
// record it was making, and each one after it, ends as lost, and the run
// still ends. In a child, whose process-starting a filter of its own stops
// after the names are taken.
TEST(ScanWorker, NoNewWorker) {
    ScopedFile wave("scan_worker.wav", "RIFFxxxx");
    const std::u16string path(wave.path().begin(), wave.path().end());
    pid_t child = fork();
    if (child == 0) {
        g_names = {path, u"crash", path, path};
        g_nextName = 0;
        g_lines.clear();
        g_codes.clear();
        const ScanCallbacks callbacks = {
            [] {
                if (g_nextName == 1 && !FailSystemCall(SYS_clone, EAGAIN)) _exit(77);
                return NextName();
            },
            RecordLines, RecordEnd, NoWait};
        const bool ended = g_scanPlatform.checkAll(FakeCheck, 0, &kLimits, &callbacks);
        const std::vector<uint32_t> expected = {0, kScanCheckLost | SIGILL, kScanCheckLost, kScanCheckLost};
        EndChild(ended && g_codes == expected ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no filter here";
    EXPECT_EQ(status, 0);
}

// A list's name too long for a path, in characters or in the bytes of its
// UTF-8, is refused as the system would refuse it.
TEST(ScanWorker, ListNamesTooLong) {
    for (const std::u16string& name : {std::u16string(4096, u'a'), std::u16string(1366, u'\u20AC')}) {
        errno = 0;
        EXPECT_EQ(g_scanPlatform.openList(name.c_str()), kNoHandle);
        EXPECT_EQ(errno, ENAMETOOLONG);
    }
}

#endif

}  // namespace

int main(int argc, char** argv) {
    // Started anew as the worker of a test's checks (Windows).
    if (g_scanPlatform.startedAsWorker != nullptr && g_scanPlatform.startedAsWorker()) {
        g_scanPlatform.serveChecks(FakeCheck);
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
