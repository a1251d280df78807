// The read-ahead reader under the walk, through the fake platform: system
// reads that fail or come up short at a refill, and a skip to the buffer's
// edge that needs none of the system (the reads and skips across the edge
// that succeed are whole runs). Then the walk's lines made by the system's
// formatter.
#include <gtest/gtest.h>

#include <cstdarg>

#include "inspector/reader.h"
#include "runtime/format.h"
#include "tests/test_support.h"

namespace {

const std::string kFmt = Format16(1, 1, 8000, 8);
const std::string kFmtLines = Lines({"Format descriptor size: 16 / 0x10", "Format: PCM/8000/8/1"});

// The last chunk header starts 4 bytes before the buffer's end.
const std::string kHeaderAcross =
    Riff(Chunk("fmt ", kFmt) + Chunk("data", std::string(kReadAheadSize - 48, '\x01')) + Chunk("LIST", ""));
const std::string kHeaderAcrossLines = kFmtLines + Lines({"Wave data size: 65488 / 0xffd0"});

// The last chunk header starts at the buffer's end.
const std::string kHeaderAtEdge =
    Riff(Chunk("fmt ", kFmt) + Chunk("data", std::string(kReadAheadSize - 44, '\x01')) + Chunk("LIST", ""));

// The descriptor starts 6 bytes before the buffer's end.
const std::string kDescriptorAcross =
    Riff(Chunk("LIST", std::string(kReadAheadSize - 34, 'x')) + Chunk("fmt ", kFmt) + Chunk("data", "12"));
const std::string kDescriptorAcrossLines = Lines({"*** Unknown chunk \"LIST\" at 12 / 0xc, size 65502 / 0xffde"});

// A pad byte, then a chunk that goes on past the buffer.
const std::string kPadThenLarge = Riff(Chunk("fmt ", kFmt) + PaddedChunk("junk", "abc") +
                                       Chunk("LIST", std::string(70000, 'x')) + Chunk("data", "12"));
const std::string kPadThenLargeLines =
    kFmtLines + Lines({"*** Unknown chunk \"junk\" at 36 / 0x24, size 3 / 0x3",
                       "*** Unknown chunk \"LIST\" at 48 / 0x30, size 70000 / 0x11170"});

const std::string kReadError = "(5)";

// The system's description of an error code is its own on each system.
std::string WithoutSystemText(std::string line) {
    size_t text = line.find(" - ", line.rfind('('));
    return text == std::string::npos ? line : line.erase(text, line.rfind(')') - text);
}

TEST(Reader, RefillsSkipsAndFaults) {
    struct {
        const char* name;
        const std::string& file;
        int readsLeft;    // system reads that succeed before the rest fail
        int shortReadAt;  // the system read that comes up one byte short
        bool failSkip;
        std::string out;
        std::string err;
        uint32_t code;
    } cases[] = {
        {"a short read at the refill", kHeaderAcross, -1, 1, false, kHeaderAcrossLines,
         Lines({"Read only 7 bytes of 8"}), 102},
        {"a failed read at the refill", kHeaderAcross, 1, -1, false, kHeaderAcrossLines,
         Lines({"Cannot read 8 bytes " + kReadError}), 102},
        {"a skip to the buffer's end needs no skip of the system", kHeaderAtEdge, -1, -1, true,
         kFmtLines + Lines({"Wave data size: 65492 / 0xffd4", "*** Unknown chunk \"LIST\" at 65536 / 0x10000, size 0 / 0x0"}),
         "", 0},
        {"a failed descriptor read at the refill", kDescriptorAcross, 1, -1, false,
         kDescriptorAcrossLines + Lines({"Format descriptor size: 16 / 0x10"}),
         Lines({"Cannot read 16 bytes " + kReadError}), 102},
        {"a failed skip past the buffer", kPadThenLarge, -1, -1, true, kPadThenLargeLines,
         Lines({"Cannot skip chunk data (29)"}), 102},
        {"the first read fails", kHeaderAcross, 0, -1, false, "", Lines({"Cannot read 12 bytes " + kReadError}), 102},
        {"the first read comes up short", Riff(""), -1, 0, false, "", Lines({"Read only 11 bytes of 12"}), 102},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fake;
        fake.files[u"a.wav"] = c.file;
        fake.readsLeft = c.readsLeft;
        fake.shortReadAt = c.shortReadAt;
        fake.skipsLeft = c.failSkip ? 0 : -1;
        EXPECT_EQ(fake.Run(u"a.wav"), c.code);
        EXPECT_EQ(fake.out, c.out);
        EXPECT_EQ(WithoutSystemText(fake.err), c.err);
        EXPECT_EQ(fake.liveBlocks, 0);
        EXPECT_EQ(fake.openFiles, 0);
    }
}

// The system's formatter for the walk's three formats, as the program's own
// one does it: a chunk identifier's text or number, or a "Found chunk" line.
int SystemFormat(WChar* buffer, const WChar* format, ...) {
    va_list list;
    va_start(list, format);
    const uint64_t first = format[1] == u'0' ? va_arg(list, unsigned) : ToSlot(va_arg(list, void*));
    uint64_t slots[5] = {first};
    for (int i = 1; i < 5 && format[1] != u'.' && format[1] != u'0'; ++i) slots[i] = va_arg(list, unsigned);
    va_end(list);
    return int(FormatTextV(buffer, 160, format, slots, 5));
}

// The walk's lines made by the system's formatter are the program's own.
TEST(Walk, TheSystemFormatterWritesTheSameLines) {
    FakePlatform fake;
    fake.files[u"a.wav"] = Riff(Chunk("fmt ", kFmt) + Chunk("\x01\xff\x7f\x20", "") + Chunk("data", "12"));
    g_platform.systemFormat = nullptr;
    const uint32_t code = fake.Run(u"-v a.wav");
    const std::string out = fake.out;
    g_platform.systemFormat = SystemFormat;
    EXPECT_EQ(fake.Run(u"-v a.wav"), code);
    EXPECT_EQ(fake.out, out);
}

}  // namespace
