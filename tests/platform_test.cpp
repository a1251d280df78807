// The real backend of the platform seam, on whichever system the tests run
// (under Wine these are the Win32 calls themselves): the file entries on files
// made here, the texts the walk builds with the system's formatter where
// there is one, and the start-up facts.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "inspector/walk.h"
#include "runtime/runtime.h"
#include "tests/test_support.h"

namespace {

// A file in the working folder, removed when it goes out of scope; sizes
// beyond the contents are made sparse. (ScopedFile's folder is made through a
// POSIX shell, which a Windows test process does not have.)
class LocalFile {
public:
    explicit LocalFile(const std::string& contents, uint64_t size = 0)
        : name_("platform_test_" + std::to_string(std::random_device{}()) + ".bin") {
        std::ofstream out(name_, std::ios::binary);
        out << contents;
        if (size > contents.size()) {
            out.seekp(static_cast<std::streamoff>(size - 1));
            out.put('\0');
        }
    }
    ~LocalFile() { std::remove(name_.c_str()); }
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;
    std::u16string name() const { return ToU16(name_); }

private:
    std::string name_;
};

TEST(PlatformFile, ReadsSkipsAndEnds) {
    LocalFile file("0123456789");
    OsHandle handle = g_platform.openFile(file.name().c_str());
    ASSERT_NE(handle, kNoHandle);
    uint32_t size = 0;
    EXPECT_TRUE(g_platform.fileSize(handle, &size));
    EXPECT_EQ(size, 10u);
    char buffer[16] = {};
    uint32_t got = 99;
    EXPECT_TRUE(g_platform.readFile(handle, buffer, 4, &got));
    EXPECT_EQ(std::string(buffer, got), "0123");
    EXPECT_TRUE(g_platform.skipForward(handle, 3));
    // A read that reaches the end is short, not failed; at the end it gets 0.
    EXPECT_TRUE(g_platform.readFile(handle, buffer, 16, &got));
    EXPECT_EQ(std::string(buffer, got), "789");
    EXPECT_TRUE(g_platform.readFile(handle, buffer, 16, &got));
    EXPECT_EQ(got, 0u);
    g_platform.closeFile(handle);
}

// A missing file and a folder cannot be opened, and the failure leaves an
// error code that has a text.
TEST(PlatformFile, OpenFailures) {
    const char16_t* names[] = {u"platform_test_missing.bin", u"."};
    for (const char16_t* name : names) {
        SCOPED_TRACE(ToUtf8(name));
        g_platform.setLastError(0);
        EXPECT_EQ(g_platform.openFile(name), kNoHandle);
        uint32_t code = g_platform.lastError();
        EXPECT_NE(code, 0u);
        WChar text[256];
        EXPECT_GT(g_platform.systemMessage(text, 256, code, nullptr), 0u);
    }
}

// Sizes from 0xFFFFFFFF on cannot be told from the failure value, and those
// past 4 GiB must not be taken for their low 32 bits: both are refused.
TEST(PlatformFile, SizesNearAndBeyondFourGigabytes) {
    struct {
        uint64_t size;
        bool ok;
    } cases[] = {
        {0, true},
        {0xFFFFFFFEull, true},
        {0xFFFFFFFFull, false},
        {0x100000010ull, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        LocalFile file("", c.size);
        OsHandle handle = g_platform.openFile(file.name().c_str());
        ASSERT_NE(handle, kNoHandle);
        uint32_t size = 12345;
        g_platform.setLastError(0);
        EXPECT_EQ(g_platform.fileSize(handle, &size), c.ok);
        if (c.ok) {
            EXPECT_EQ(size, c.size);
        } else {
            EXPECT_NE(g_platform.lastError(), 0u);
        }
        g_platform.closeFile(handle);
    }
}

// A text that does not fit, or a code the system does not know, gives none.
TEST(PlatformText, SystemMessages) {
    struct {
        uint32_t code;
        uint32_t capacity;
        bool found;
    } cases[] = {
        {2, 256, true},
        {2, 3, false},
        {0x20001234, 256, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        WChar text[256];
        uint32_t length = g_platform.systemMessage(text, c.capacity, c.code, nullptr);
        EXPECT_EQ(length != 0, c.found);
        EXPECT_LT(length, c.capacity);
    }
}

// Where the system formats these texts (wsprintfW on Windows) it must give
// what the program's own formatter gives elsewhere.
TEST(PlatformText, ChunkIdentifiers) {
    struct {
        const char* id;
        const char16_t* text;
    } cases[] = {
        {"fmt ", u"fmt "},
        {"\x7F ~!", u"\x7F ~!"},
        {"\0\0\0\0", u"0"},
        {"\x01\x02\x03\x04", u"4030201"},
        {"dat\x80", u"80746164"},
        {"\x1F" "abc", u"6362611f"},
        {"\xFF\xFF\xFF\xFF", u"ffffffff"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.text));
        WChar text[9];
        uint32_t length = ChunkIdText(reinterpret_cast<const uint8_t*>(c.id), text);
        EXPECT_EQ(std::u16string(text), c.text);
        EXPECT_EQ(length, std::u16string(c.text).size());
    }
}

TEST(PlatformText, FoundChunkLines) {
    const std::string fmt = Chunk("fmt ", Format16(1, 1, 8000, 8));
    const std::string head = Lines({"File: w.wav"});
    struct {
        const char* name;
        std::string file;
        std::string out;
        std::string err;
    } cases[] = {
        {"empty chunk with a number for a name", Riff(fmt + Chunk("\x01\x02\x03\x04", "") + Chunk("data", "12")),
         head + Lines({"File size: 54 / 0x36", "RIFF chink size: 46 / 0x2e",
                       "Found chunk \"fmt \" at 12 / 0xc, size 16 / 0x10", "Format descriptor size: 16 / 0x10",
                       "Format: PCM/8000/8/1", "Found chunk \"4030201\" at 36 / 0x24, size 0 / 0x0",
                       "*** Unknown chunk \"4030201\" at 36 / 0x24, size 0 / 0x0",
                       "Found chunk \"data\" at 44 / 0x2c, size 2 / 0x2", "Wave data size: 2 / 0x2"}),
         ""},
        {"the largest size", Riff(Chunk("LIST", "", 0xFFFFFFFF)),
         head + Lines({"File size: 20 / 0x14", "RIFF chink size: 12 / 0xc",
                       "Found chunk \"LIST\" at 12 / 0xc, size 4294967295 / 0xffffffff"}),
         Lines({"Chunk \"LIST\" ends beyond the end of file"})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fake;
        fake.files[u"w.wav"] = c.file;
        fake.Run(u"-v w.wav");
        EXPECT_EQ(fake.out, c.out);
        EXPECT_EQ(fake.err, c.err);
    }
}

TEST(PlatformFacts, WhatStartUpRecords) {
    OsVersionInfo version = {};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(g_platform.getVersion(&version));
    EXPECT_GE((version.dwMajorVersion & 0xFF) << 8 | (version.dwMinorVersion & 0xFF), g_platform.minimumVersion);
    EXPECT_GT(g_platform.counterFrequency(), 0u);
    OsSystemInfo system = {};
    g_platform.getSystemInfo(&system);
    EXPECT_GT(system.dwPageSize, 0u);
    EXPECT_GT(system.dwNumberOfProcessors, 0u);

    EXPECT_EQ(g_platform.loadLibrary(u"platform_test_no_such_library"), nullptr);
    void* kernel = g_platform.loadLibrary(u"kernel32");
    ASSERT_NE(kernel, nullptr);
    EXPECT_NE(g_platform.getProcAddress(kernel, "GetCurrentProcessorNumber"), nullptr);
    EXPECT_EQ(g_platform.getProcAddress(kernel, "PlatformTestNoSuchFunction"), nullptr);
    g_platform.freeLibrary(kernel);
}

}  // namespace
