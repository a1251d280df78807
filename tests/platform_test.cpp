// The real platform backend on whichever system the tests run (under Wine, the
// Win32 calls themselves): file entries on files made here, the system's texts
// and formatter, and what start-up records.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "inspector/walk.h"
#include "runtime/runtime.h"
#include "tests/test_support.h"

namespace {

// A file in the working folder (ScopedFile's is made through a POSIX shell, which
// a Windows test process lacks); a size beyond the contents makes it sparse.
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

// A skip may land inside what a backend read ahead or beyond it. A read that
// reaches the end is short, not failed; at the end it gets 0.
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

// Each open is a handle of its own: reading, sizing and closing one leaves
// the other where it was.
TEST(PlatformFile, TwoOpenFilesKeepApart) {
    LocalFile first("first file");
    LocalFile second("2nd");
    OsHandle one = first.Open();
    OsHandle two = second.Open();
    ASSERT_NE(one, kNoHandle);
    ASSERT_NE(two, kNoHandle);
    EXPECT_NE(one, two);
    uint32_t sizes[2] = {0, 0};
    EXPECT_TRUE(g_platform.fileSize(one, &sizes[0]));
    EXPECT_TRUE(g_platform.fileSize(two, &sizes[1]));
    EXPECT_EQ(sizes[0], 10u);
    EXPECT_EQ(sizes[1], 3u);
    char buffer[16];
    uint32_t got = 0;
    EXPECT_TRUE(g_platform.readFile(one, buffer, 5, &got));
    EXPECT_EQ(std::string(buffer, got), "first");
    g_platform.closeFile(two);
    EXPECT_TRUE(g_platform.readFile(one, buffer, 16, &got));
    EXPECT_EQ(std::string(buffer, got), " file");
    g_platform.closeFile(one);
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

// A missing file and a folder cannot be opened, and the failure leaves a code
// the system has a text for, though none that is cut to fit a short buffer.
TEST(PlatformFile, OpenFailuresAndTheirTexts) {
    WChar text[256];
    for (const char16_t* name : {u"platform_test_missing.bin", u"."}) {
        SCOPED_TRACE(ToUtf8(name));
        g_platform.setLastError(0);
        EXPECT_EQ(g_platform.openFile(name), kNoHandle);
        const uint32_t code = g_platform.lastError();
        EXPECT_NE(code, 0u);
        EXPECT_GT(g_platform.systemMessage(text, 256, code, nullptr), 0u);
        EXPECT_EQ(g_platform.systemMessage(text, 3, code, nullptr), 0u);
    }
    EXPECT_EQ(g_platform.systemMessage(text, 256, 0x20001234, nullptr), 0u);  // a code the system does not know
}

// Where the system formats these texts (wsprintfW on Windows) it must give
// what the program's own formatter gives elsewhere.
TEST(PlatformText, ChunkIdentifiers) {
    const struct { const char* id; const char16_t* text; } cases[] = {
        {"\x7F ~!", u"\x7F ~!"}, {"\0\0\0\0", u"0"}, {"dat\x80", u"80746164"}, {"\x1F" "abc", u"6362611f"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.text));
        WChar text[9];
        EXPECT_EQ(ChunkIdText(reinterpret_cast<const uint8_t*>(c.id), text), std::u16string(c.text).size());
        EXPECT_EQ(std::u16string(text), c.text);
    }
}

// The "Found chunk" line of an empty chunk with a number for a name, and of the largest size.
TEST(PlatformText, FoundChunkLines) {
    FakePlatform fake;
    fake.files[u"w.wav"] = Riff(Chunk("\x01\x02\x03\x04", "") + Chunk("LIST", "", 0xFFFFFFFF));
    fake.Run(u"-v w.wav");
    EXPECT_EQ(fake.out, Lines({"File: w.wav", "File size: 28 / 0x1c", "RIFF chink size: 20 / 0x14",
                               "Found chunk \"4030201\" at 12 / 0xc, size 0 / 0x0",
                               "*** Unknown chunk \"4030201\" at 12 / 0xc, size 0 / 0x0",
                               "Found chunk \"LIST\" at 20 / 0x14, size 4294967295 / 0xffffffff"}));
    EXPECT_EQ(fake.err, Lines({"Chunk \"LIST\" ends beyond the end of file"}));
}

// Start-up's own checks, of the version and the counter, pass in every run
// through the program, as in FoundChunkLines; the rest it only records.
TEST(PlatformFacts, SystemInfoAndLookups) {
    OsSystemInfo system = {};
    g_platform.getSystemInfo(&system);
    EXPECT_GT(system.dwPageSize, 0u);
    EXPECT_NE(LoadProcFromLibrary(u"kernel32", "GetCurrentProcessorNumber"), nullptr);
    EXPECT_EQ(LoadProcFromLibrary(u"kernel32", "PlatformTestNoSuchFunction"), nullptr);
    EXPECT_EQ(LoadProcFromLibrary(u"platform_test_no_such_library", "GetCurrentProcessorNumber"), nullptr);
}

}  // namespace
