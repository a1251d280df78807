// Error texts, the output channel, start-up's refusals and the shutdown
// list, driven through a fake platform. A start-up without memory is in
// faults_test.cpp.
#include <gtest/gtest.h>

#include "inspector/scan.h"
#include "platform/platform.h"
#include "platform/scan.h"
#include "runtime/errortext.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "tests/test_support.h"

namespace {

uint32_t g_lookedUp;
void* g_lookedUpIn;
const char16_t* g_description;
uint32_t FakeMessage(WChar* buffer, uint32_t capacity, uint32_t id, void* module) {
    g_lookedUp = id;
    g_lookedUpIn = module;
    if (g_description == nullptr) return 0;
    return CopyWideBounded(buffer, capacity, g_description, 0);
}

// WinINet stands loaded in the process.
char g_wininet;
void* FakeModuleHandle(const WChar*) { return &g_wininet; }

TEST(ErrorText, PrefixTrimmingAndFallback) {
    const struct {
        uint32_t code;
        const char16_t* description;
        uint32_t capacity;
        std::u16string text;
        uint32_t lookedUp;
        bool inWininet = false;
    } cases[] = {
        {5, u"Access is denied.\r\n", 256, u"5 - Access is denied", 5},
        {0xFFFF, u"x", 256, u"65535 - x", 0xFFFF},
        {0x10000, u"x", 256, u"0x010000 - x", 0x10000},
        {0x80070005, u"Access is denied. \t", 256, u"0x80070005 - Access is denied", 5},
        {0x80040005, u"y", 256, u"0x80040005 - y", 0x80040005},
        {7, u".", 256, u"7 - .", 7},
        {7, u"a. .", 256, u"7 - a", 7},
        {7, u"Unknown", 256, u"7 - Unknown", 7},  // 'n' is 46 + 64: only the test below 47 keeps it
        {9, nullptr, 256, u"9 - *** no error description ***", 9},
        {9, nullptr, 12, u"9 - *** no ", 9},
        // WinINet's range, 12000 to 12499, plain or wrapped in an HRESULT of
        // facility 7, is looked up in its own table; the edges and other
        // facilities are not.
        {12000, u"w", 256, u"12000 - w", 12000, true},
        {0x800730D3, u"w", 256, u"0x800730D3 - w", 12499, true},
        {11999, u"w", 256, u"11999 - w", 11999},
        {12500, u"w", 256, u"12500 - w", 12500},
        {0x80012EE2, u"w", 256, u"0x80012EE2 - w", 0x80012EE2},
    };
    FakePlatform fake;
    g_platform.systemMessage = FakeMessage;
    g_platform.moduleHandle = FakeModuleHandle;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        g_description = c.description;
        WChar buffer[256];
        g_platform.setLastError(42);
        uint32_t n = SystemErrorText(buffer, c.capacity, c.code, nullptr);
        EXPECT_EQ(std::u16string(buffer, n + 1), c.text + u'\0');  // callers read up to the terminator
        EXPECT_EQ(g_lookedUp, c.lookedUp);
        EXPECT_EQ(g_lookedUpIn, c.inWininet ? &g_wininet : nullptr);
        EXPECT_EQ(g_platform.lastError(), 42u);  // the caller's code survives the lookup
    }
}

std::vector<std::string> g_writes;
bool RecordWrite(OsHandle, const void* bytes, uint32_t count) {
    g_writes.emplace_back(static_cast<const char*>(bytes), count);
    return true;
}

// One write per line, CR LF added, a long line cut at 1021 characters.
TEST(Output, OneWritePerLine) {
    FakePlatform fake;
    g_platform.writeFile = RecordWrite;
    g_writes.clear();
    g_runtime.outputHandle = 1;
    std::u16string longLine(1100, u'x');
    PrintMessage(u"");
    PrintMessage(u"%s", longLine.c_str());
    PrintMessage(u"a\r\nb");
    EXPECT_TRUE(WriteTextLine(1, u"", nullptr, 0, false));  // nothing to write, nothing failed
    WriteTextLine(1, u"ab", nullptr, 0, false);
    ASSERT_EQ(g_writes.size(), 4u);
    EXPECT_EQ(g_writes[3], std::string("a\0b\0", 4));
    EXPECT_EQ(g_writes[0], std::string("\r\0\n\0", 4));
    EXPECT_EQ(Utf16LeToUtf8(g_writes[1]), std::string(1021, 'x') + "\r\n");
    EXPECT_EQ(Utf16LeToUtf8(g_writes[2]), "a\r\nb\r\n");
}

// Writes to standard output that fail at the n-th line (from 1), with the
// error a row gives; those to standard error always arrive.
int g_outputWrites, g_failAt;
uint32_t g_failWith;
bool (*g_realWrite)(OsHandle, const void*, uint32_t);
bool FailingWrite(OsHandle handle, const void* bytes, uint32_t count) {
    if (handle != 1) return g_realWrite(handle, bytes, count);
    if (++g_outputWrites < g_failAt) return g_realWrite(handle, bytes, count);
    g_platform.setLastError(g_failWith);
    return false;
}

// A line lost to standard output turns a success into 1001, said once on
// standard error; a reader gone away only ends the output. Either way not
// one more line is written there, and a failed run keeps its own code.
TEST(Output, LostLines) {
    const uint32_t* gone = g_platform.readerGoneErrors;
    const uint32_t full = 0x20001234;
    const std::string lost = Lines({"Cannot write output (0x20001234 - *** no error description ***)"});
    const struct {
        int failAt;
        uint32_t error, code;
        std::string out, err;
    } cases[] = {
        {3, gone[0], 0, Lines({"File: a.wav", "File size: 52 / 0x34"}), ""},
        {1, gone[1], 0, "", ""},
        {1, gone[2], 0, "", ""},
        {1, full, 1001, "", lost},
        {2, full, 1001, Lines({"File: a.wav"}), lost},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("error " + std::to_string(c.error) + " at line " + std::to_string(c.failAt));
        FakePlatform fake;
        fake.files[u"a.wav"] = SimpleWave(Format16(1, 1, 8000, 8));
        g_realWrite = g_platform.writeFile;
        g_platform.writeFile = FailingWrite;
        g_outputWrites = 0;
        g_failAt = c.failAt;
        g_failWith = c.error;
        EXPECT_EQ(fake.Run(u"-v a.wav"), c.code);
        EXPECT_EQ(fake.out + "|" + fake.err, c.out + "|" + c.err);
        EXPECT_EQ(g_outputWrites, c.failAt);
    }
}

// Windows refuses the standard handles when GetStdHandle gives an invalid
// one: the run ends at once with 1001, silent, holding nothing.
bool NoStreams(OsHandle*, OsHandle*, OsHandle*) { return false; }

TEST(Output, NoStreamsEndTheRunSilently) {
    FakePlatform fake;
    g_platform.getStdHandles = NoStreams;
    EXPECT_EQ(fake.Run(u"a.wav"), 1001u);
    EXPECT_EQ(fake.out + fake.err, "");
    EXPECT_EQ(fake.liveBlocks, 0);
}

OsVersionInfo g_version;
uint64_t g_frequency;

// Exactly the oldest system the program runs on passes; one just below it,
// or one without a counter, is refused.
TEST(Startup, TheMinimumVersionPasses) {
    const struct { uint32_t major, minor; uint64_t frequency; uint32_t code; } rows[] = {
        {5, 0, 1, 101}, {4, 255, 1, 1002}, {5, 0, 0, 1002}};
    FakePlatform fake;
    g_platform.minimumVersion = 0x0500;
    g_platform.getVersion = [](OsVersionInfo* info) { return *info = g_version, true; };
    g_platform.counterFrequency = [] { return g_frequency; };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.major) + "." + std::to_string(r.minor));
        g_version.dwMajorVersion = r.major;
        g_version.dwMinorVersion = r.minor;
        g_frequency = r.frequency;
        EXPECT_EQ(fake.Run(u"a.wav"), r.code);
        EXPECT_EQ(fake.liveBlocks, 0);
    }
}

// The system's own entries that no run reaches: its standard handles asked
// in the test's process, an optional function that exists and runs (it names
// one of the processors the system counts, not an error's -1), one that does
// not (its library is released), WinINet's codes.
TEST(Startup, TheSystemsOwnEntries) {
    OsHandle handles[3];
    EXPECT_TRUE(g_platform.getStdHandles(&handles[0], &handles[1], &handles[2]));
    EXPECT_EQ(LoadProcFromLibrary(u"kernel32", "NoSuchFunction"), nullptr);
    auto processor = reinterpret_cast<int (*)()>(LoadProcFromLibrary(u"kernel32", "GetCurrentProcessorNumber"));
    ASSERT_NE(processor, nullptr);
    OsSystemInfo info = {};
    g_platform.getSystemInfo(&info);
    EXPECT_LT(static_cast<uint32_t>(processor()), info.dwNumberOfProcessors);
    WChar text[256];
    EXPECT_EQ(std::u16string(text, SystemErrorText(text, 256, 12002, nullptr)).substr(0, 8), u"12002 - ");
}

// sondrel-scan ends at once, with its own status, when the runtime cannot
// start or the checks cannot be set going (no process for the worker).
std::string g_scanWritten;

TEST(Startup, SondrelScanCannotStart) {
    const ScanPlatform saved = g_scanPlatform;
    for (uint32_t major : {4u, 5u}) {
        SCOPED_TRACE(major);
        FakePlatform fake;
        g_platform.minimumVersion = 0x0500;
        g_platform.getVersion = [](OsVersionInfo* info) { return *info = g_version, true; };
        g_platform.counterFrequency = [] { return g_frequency; };
        // Its lines are UTF-8.
        g_platform.writeFile = [](OsHandle, const void* bytes, uint32_t count) {
            return g_scanWritten.append(static_cast<const char*>(bytes), count), true;
        };
        g_version.dwMajorVersion = major;
        g_frequency = 1;
        g_scanPlatform.argumentCount = nullptr;  // the names from the text below, not this process's own
        g_scanPlatform.checkAll = [](ScanCheck, uint32_t, const ScanLimits*, const ScanCallbacks*) {
            g_platform.setLastError(11);
            return false;
        };
        g_scanWritten.clear();
        EXPECT_EQ(ScanMain(u"a.wav"), kScanCannotWrite);
        EXPECT_EQ(g_scanWritten.substr(0, 28), major == 4 ? "Cannot initialize applicatio" : "Cannot start the checks (11 ");
        g_scanPlatform = saved;
    }
}

std::string g_ran;

// Shutdown runs what was placed on its list, first to last, and releases
// every node and the list.
TEST(Shutdown, CallbacksRunInOrder) {
    FakePlatform fake;
    ASSERT_TRUE(RuntimeStartup());
    ShutdownList* list = g_runtime.shutdownList;
    for (void (*callback)() : {+[] { g_ran += 'a'; }, +[] { g_ran += 'b'; }, +[] { g_ran += 'c'; }}) {
        auto* node = static_cast<ShutdownNode*>(MemAlloc(sizeof(ShutdownNode)));
        *node = {list->last, nullptr, callback};
        (list->last != nullptr ? list->last->next : list->first) = node;
        list->last = node;
        ++list->count;
    }
    RuntimeShutdown();
    EXPECT_EQ(g_ran, "abc");
    EXPECT_EQ(g_runtime.shutdownList, nullptr);
    EXPECT_EQ(fake.liveBlocks, 0);
}

}  // namespace
