// sondrel-scan's opener and worker: descriptors reach a sandboxed worker that
// can read them, records come back in the order of the names however many
// are on their way, and a worker that dies costs the record it was making.
#include <gtest/gtest.h>
#include <errno.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/posix/tests/start.h"
#include "platform/scan.h"
#include "tests/test_support.h"

namespace {

std::vector<std::u16string> g_names;
size_t g_nextName;
std::vector<std::string> g_lines;  // one string a record
std::vector<uint32_t> g_codes;

const WChar* NextName() { return g_nextName < g_names.size() ? g_names[g_nextName++].c_str() : nullptr; }
void RecordLines(const uint8_t* frames, uint32_t count) {
    if (g_lines.size() == g_codes.size()) g_lines.emplace_back();
    g_lines.back().append(reinterpret_cast<const char*>(frames), count);
}
void RecordEnd(uint32_t code) {
    if (g_lines.size() == g_codes.size()) g_lines.emplace_back();
    g_codes.push_back(code);
}

// Stands in for the walk, inside the worker's sandbox: a name that begins
// with "crash" faults; "open:NAME" tries to open NAME itself, and its code is
// the error; "many" sends 20,000 frames of three bytes, more than one reply
// holds; any other record holds one frame with the file's first four bytes
// (or nothing), and the code is the open's error.
uint32_t FakeCheck(const WChar* name, uint32_t, const ScanFile* given, ScanSink sink) {
    OsHandle file = given->handle;
    uint32_t openError = given->openError;
    if (name[0] == u'c' && name[1] == u'r') __builtin_trap();
    if (name[0] == u'm' && name[1] == u'a') {
        static const uint8_t empty[3] = {1, 0, 0};
        for (int i = 0; i < 20000; ++i) sink(empty, 3);
        return 0;
    }
    if (name[0] == u'o' && name[4] == u':') {
        OsHandle opened = g_platform.openFile(name + 5);
        if (file != kNoHandle) g_platform.closeFile(file);
        return opened == kNoHandle ? g_platform.lastError() : 0;
    }
    if (file != kNoHandle && given->size != 8) return 99;  // the size as the opener found it
    uint8_t frame[3 + 4] = {1, 0, 0};
    uint32_t got = 0;
    if (file != kNoHandle) {
        if (!g_platform.readFile(file, frame + 3, 4, &got)) got = 0;
        g_platform.closeFile(file);
    }
    frame[1] = static_cast<uint8_t>(got);
    sink(frame, 3 + got);
    return openError;
}

TEST(ScanWorker, RecordsInOrderAndAFaultCostsOneRecord) {
    ScopedFile wave("scan_worker.wav", "RIFFxxxx");
    std::u16string path(wave.path().begin(), wave.path().end());
    struct Case {
        const char* what;
        std::vector<std::u16string> names;
    };
    std::vector<std::u16string> many;
    for (int i = 0; i < 40; ++i) many.push_back(i % 13 == 5 ? u"crash" : i % 2 == 0 ? path : u"/no/such/file");
    const Case cases[] = {
        {"no names", {}},
        {"one file, read through the handed descriptor", {path}},
        {"a fault first, then files", {u"crash", path, u"crash", u"crash", path}},
        {"more names than the window, faults among them", many},
        {"a record longer than a reply", {u"many", path}},
    };
    // The worker itself can open nothing, not even the file it was given:
    // the try ends it (in the sanitizers' builds the open fails instead).
    g_names = {u"open:" + path};
    g_nextName = 0;
    g_lines.clear();
    g_codes.clear();
    const ScanCallbacks opening = {NextName, RecordLines, RecordEnd};
    ASSERT_TRUE(g_scanPlatform.checkAll(FakeCheck, 0, &opening));
    ASSERT_EQ(g_codes.size(), 1u);
    EXPECT_EQ(g_codes[0], SONDREL_SANITIZED ? static_cast<uint32_t>(EPERM) : kScanCheckLost | SIGSYS);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_names = c.names;
        g_nextName = 0;
        g_lines.clear();
        g_codes.clear();
        const ScanCallbacks callbacks = {NextName, RecordLines, RecordEnd};
        ASSERT_TRUE(g_scanPlatform.checkAll(FakeCheck, 0, &callbacks));
        ASSERT_EQ(g_codes.size(), c.names.size());
        for (size_t i = 0; i < c.names.size(); ++i) {
            SCOPED_TRACE(i);
            if (c.names[i] == u"many") {
                EXPECT_EQ(g_codes[i], 0u);
                std::string frames;
                for (int k = 0; k < 20000; ++k) frames.append("\x01\x00\x00", 3);
                EXPECT_EQ(g_lines[i], frames);
            } else if (c.names[i] == u"crash") {
                EXPECT_EQ(g_codes[i], kScanCheckLost | SIGILL);
                EXPECT_EQ(g_lines[i], "");
            } else if (c.names[i] == path) {
                EXPECT_EQ(g_codes[i], 0u);
                EXPECT_EQ(g_lines[i], std::string("\x01\x04\x00RIFF", 7));
            } else {
                EXPECT_EQ(g_codes[i], 2u);  // ENOENT, as the opener found it
                EXPECT_EQ(g_lines[i], std::string("\x01\x00\x00", 3));
            }
        }
    }
}

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
            RecordLines, RecordEnd};
        const bool ended = g_scanPlatform.checkAll(FakeCheck, 0, &callbacks);
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

}  // namespace
