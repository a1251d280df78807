// Start-up, memory hooks, shutdown, error texts and the output channel,
// driven through a fake platform.
#include <gtest/gtest.h>

#include "runtime/errortext.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "tests/test_support.h"

namespace {

const std::u16string kWave = u"a.wav";

struct StartupCase {
    const char* name;
    uint32_t major, minor;
    uint64_t frequency;
    int allocations;  // how many allocations succeed
    bool starts;
    uint32_t perMillisecond, perMicrosecond;
};

uint32_t g_major, g_minor;
uint64_t g_frequency;
int g_versionCalls;

bool FakeVersion(OsVersionInfo* info) {
    ++g_versionCalls;
    info->dwMajorVersion = g_major;
    info->dwMinorVersion = g_minor;
    info->dwBuildNumber = 7;
    return true;
}
uint64_t FakeFrequency() { return g_frequency; }

TEST(Startup, ChecksAndFacts) {
    const StartupCase cases[] = {
        {"Windows 5.0 passes", 5, 0, 10000000, -1, true, 10000, 10},
        {"Windows 4.9 fails", 4, 9, 10000000, -1, false, 0, 0},
        {"Linux 2.6 passes", 2, 6, 3579545, -1, true, 3580, 4},
        {"Linux 2.4 fails", 2, 4, 1999, -1, false, 0, 0},
        {"slow counter", 6, 1, 1999, -1, true, 2, 0},
        {"no counter", 6, 1, 0, -1, false, 0, 0},
        {"no memory for the shutdown list", 6, 1, 1000000000, 0, false, 1000000, 1000},
    };
    for (const StartupCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fake;
        g_platform.getVersion = FakeVersion;
        g_platform.counterFrequency = FakeFrequency;
        g_platform.minimumVersion = c.major == 2 ? 0x0206 : 0x0500;
        g_major = c.major;
        g_minor = c.minor;
        g_frequency = c.frequency;
        fake.allocationsLeft = c.allocations;
        fake.files[kWave] = SimpleWave(Format16(1, 1, 8000, 8));
        uint32_t code = fake.Run(u"a.wav");
        EXPECT_EQ(code, c.starts ? 0u : 1002u);
        EXPECT_EQ(fake.err, c.starts ? "" : Lines({"Cannot initialize application"}));
        EXPECT_EQ(fake.liveBlocks, 0);
        EXPECT_EQ(g_runtime.shutdownList, nullptr);
        if (c.starts) {
            EXPECT_EQ(g_runtime.ticksPerMillisecond, c.perMillisecond);
            EXPECT_EQ(g_runtime.ticksPerMicrosecond, c.perMicrosecond);
            EXPECT_EQ(g_runtime.buildNumber, 7u);
        }
    }
}

TEST(Startup, RunsOnceAndRecordsTheSystem) {
    FakePlatform fake;
    g_versionCalls = 0;
    g_major = 6;
    g_minor = 0;
    g_frequency = 1000;
    g_platform.getVersion = FakeVersion;
    g_platform.counterFrequency = FakeFrequency;
    ASSERT_TRUE(RuntimeStartup());
    ShutdownList* list = g_runtime.shutdownList;
    EXPECT_TRUE(RuntimeStartup());
    EXPECT_EQ(g_versionCalls, 1);
    EXPECT_EQ(g_runtime.shutdownList, list);
    EXPECT_EQ(g_runtime.windowsVersion, 0x0600u);
    EXPECT_EQ(g_runtime.updateBuildRevision, 0xFFFFFFFFu);  // nothing stands for it on Linux
    RuntimeShutdown();
    EXPECT_EQ(fake.liveBlocks, 0);
}

int g_handlerCalls;
uint32_t TwiceThenGiveUp(size_t) { return ++g_handlerCalls < 3 ? 1 : 0; }
int g_frees;
void CountFree(void*, size_t) { ++g_frees; }

TEST(Memory, OutOfMemoryHandlerAndNullFree) {
    FakePlatform fake;
    fake.allocationsLeft = 0;
    g_handlerCalls = 0;
    g_runtime.outOfMemoryHandler = TwiceThenGiveUp;
    EXPECT_EQ(MemAlloc(16), nullptr);
    EXPECT_EQ(g_handlerCalls, 3);
    g_frees = 0;
    g_memoryHooks.free = CountFree;
    MemFree(nullptr, 8);
    EXPECT_EQ(g_frees, 0);
}

std::string g_order;
void First() { g_order += "1"; }
void Second() { g_order += "2"; }

TEST(Shutdown, CallbacksRunFirstToLastAndTheListGoes) {
    FakePlatform fake;
    RuntimeShutdown();  // without a start-up: nothing
    ASSERT_TRUE(RuntimeStartup());
    ShutdownList* list = g_runtime.shutdownList;
    ShutdownNode* a = static_cast<ShutdownNode*>(MemAlloc(sizeof(ShutdownNode)));
    ShutdownNode* b = static_cast<ShutdownNode*>(MemAlloc(sizeof(ShutdownNode)));
    *a = {nullptr, b, First};
    *b = {a, nullptr, Second};
    *list = {a, b, 2};
    g_order.clear();
    RuntimeShutdown();
    EXPECT_EQ(g_order, "12");
    EXPECT_EQ(g_runtime.shutdownList, nullptr);
    EXPECT_EQ(fake.liveBlocks, 0);
}

uint32_t g_description_code;
const char16_t* g_description;
uint32_t FakeMessage(WChar* buffer, uint32_t capacity, uint32_t id, void*) {
    g_description_code = id;
    if (g_description == nullptr) return 0;
    return CopyWideBounded(buffer, capacity, g_description, 0);
}

TEST(ErrorText, PrefixTrimmingAndFallback) {
    const struct {
        uint32_t code;
        const char16_t* description;
        uint32_t capacity;
        std::u16string text;
        uint32_t looked_up;
    } cases[] = {
        {5, u"Access is denied.\r\n", 256, u"5 - Access is denied", 5},
        {0xFFFF, u"x", 256, u"65535 - x", 0xFFFF},
        {0x10000, u"x", 256, u"0x010000 - x", 0x10000},
        {0x80070005, u"Access is denied. \t", 256, u"0x80070005 - Access is denied", 5},
        {0x80040005, u"y", 256, u"0x80040005 - y", 0x80040005},
        {7, u".", 256, u"7 - .", 7},
        {7, u"a. .", 256, u"7 - a", 7},
        {9, nullptr, 256, u"9 - *** no error description ***", 9},
        {9, nullptr, 12, u"9 - *** no ", 9},
    };
    FakePlatform fake;
    g_platform.systemMessage = FakeMessage;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        g_description = c.description;
        WChar buffer[256];
        g_platform.setLastError(42);
        uint32_t n = SystemErrorText(buffer, c.capacity, c.code, nullptr);
        EXPECT_EQ(std::u16string(buffer, n), c.text);
        EXPECT_EQ(g_description_code, c.looked_up);
        EXPECT_EQ(g_platform.lastError(), 42u);
    }
}

std::vector<std::string> g_writes;
bool RecordWrite(OsHandle, const void* bytes, uint32_t count) {
    g_writes.emplace_back(static_cast<const char*>(bytes), count);
    return false;
}

TEST(Output, OneWritePerLine) {
    FakePlatform fake;
    g_platform.writeFile = RecordWrite;
    g_writes.clear();
    g_runtime.outputHandle = 1;
    std::u16string longLine(1100, u'x');
    PrintMessage(u"");
    PrintMessage(u"%s", longLine.c_str());
    PrintMessage(u"a\r\nb");
    ASSERT_EQ(g_writes.size(), 3u);
    EXPECT_EQ(g_writes[0], std::string("\r\0\n\0", 4));
    EXPECT_EQ(g_writes[1].size(), 1023u * 2);
    EXPECT_EQ(Utf16LeToUtf8(g_writes[1]), std::string(1021, 'x') + "\r\n");
    EXPECT_EQ(Utf16LeToUtf8(g_writes[2]), "a\r\nb\r\n");
}

}  // namespace
