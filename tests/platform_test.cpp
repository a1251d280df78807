// The real platform backend's file entries on whichever system the tests run
// (under Wine, the Win32 calls themselves), on files made here.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "tests/test_support.h"

namespace {

// A file in the working folder (ScopedFile's is made through a POSIX shell,
// which a Windows test process lacks); a size beyond the contents makes it
// sparse.
struct LocalFile {
    explicit LocalFile(const std::string& contents, uint64_t size = 0) {
        std::ofstream out(name, std::ios::binary);
        out << contents;
        if (size > contents.size()) out.seekp(static_cast<std::streamoff>(size - 1)).put('\0');
    }
    ~LocalFile() { std::remove(name.c_str()); }
    OsHandle Open() const { return g_platform.openFile(std::u16string(name.begin(), name.end()).c_str()); }
    const std::string name = "platform_test_" + std::to_string(std::random_device{}()) + ".bin";
};

// A read that reaches the end is short, not failed; at the end it gets 0.
TEST(PlatformFile, ReadsSkipsAndEnds) {
    LocalFile file("0123456" + std::string(100000, '.') + "789");
    OsHandle handle = file.Open();
    ASSERT_NE(handle, kNoHandle);
    const struct { uint64_t skip; uint32_t count; const char* expected; } steps[] = {
        {0, 4, "0123"}, {1, 2, "56"}, {100000, 16, "789"}, {0, 16, ""}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.expected);
        char buffer[16];
        uint32_t got = 99;
        EXPECT_TRUE(g_platform.skipForward(handle, step.skip));
        EXPECT_TRUE(g_platform.readFile(handle, buffer, step.count, &got));
        EXPECT_EQ(std::string(buffer, got), step.expected);
    }
    g_platform.closeFile(handle);
}

// Sizes from 0xFFFFFFFF on cannot be told from the failure value, and those
// past 4 GiB must not be taken for their low 32 bits: both are refused.
TEST(PlatformFile, SizesNearAndBeyondFourGigabytes) {
    const struct { uint64_t size; bool ok; } cases[] = {
        {0xFFFFFFFEull, true}, {0xFFFFFFFFull, false}, {0x100000010ull, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        LocalFile file("", c.size);
        OsHandle handle = file.Open();
        ASSERT_NE(handle, kNoHandle);
        uint32_t size = 12345;
        g_platform.setLastError(0);
        EXPECT_EQ(g_platform.fileSize(handle, &size), c.ok);
        if (c.ok) { EXPECT_EQ(size, c.size); } else { EXPECT_NE(g_platform.lastError(), 0u); }
        g_platform.closeFile(handle);
    }
}

}  // namespace
