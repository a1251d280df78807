// The chunk walk through the built program: damaged and unusual files, the
// pad byte, and files too large for a 32-bit size.
#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

const std::string kFmt = Format16(1, 1, 8000, 8);
const std::string kFmtLines = Lines({"Format descriptor size: 16 / 0x10", "Format: PCM/8000/8/1"});

struct WalkCase {
    const char* name;
    std::string file;
    const char* options;
    std::string out;
    std::string err;
    int code;
};

void RunCases(const WalkCase* cases, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const WalkCase& c = cases[i];
        SCOPED_TRACE(c.name);
        ScopedFile file("w.wav", c.file);
        EXPECT_EQ(RunSondrel(std::string(c.options) + " w.wav"), (RunResult{c.out, c.err, c.code}));
    }
}

TEST(Walk, HeaderAndSizes) {
    const WalkCase cases[] = {
        {"empty", "", "", "", Lines({"Read only 0 bytes of 12"}), 102},
        {"five bytes", "RIFF\x01", "", "", Lines({"Read only 5 bytes of 12"}), 102},
        {"RIFX", "RIFX" + Le32(4) + "WAVE", "", "", Lines({"Not a RIFF file"}), 103},
        {"RF64", "RF64" + Le32(4) + "WAVE", "", "", Lines({"Not a RIFF file"}), 103},
        {"not WAVE", "RIFF" + Le32(4) + "AVI ", "", "", Lines({"Not a WAVE file"}), 103},
        {"header only", Riff(""), "-v", Lines({"File: w.wav", "File size: 12 / 0xc", "RIFF chink size: 4 / 0x4"}),
         Lines({"No fmt chink"}), 103},
        {"19 bytes, RIFF size too large", Riff("1234567", 100), "", Lines({"*** RIFF chunk size exceeds file size"}),
         Lines({"No fmt chink"}), 103},
        {"RIFF size smaller: the rest is walked too",
         Riff(Chunk("fmt ", kFmt), 28) + Chunk("data", "12345678"), "",
         Lines({"*** Extra data size after RIFF chunk: 16 / 0x10"}) + kFmtLines + Lines({"Wave data size: 8 / 0x8"}),
         "", 0},
        {"RIFF size larger: still walked to the end", Riff(Chunk("fmt ", kFmt) + Chunk("data", "12"), 1000), "",
         Lines({"*** RIFF chunk size exceeds file size"}) + kFmtLines + Lines({"Wave data size: 2 / 0x2"}), "", 0},
    };
    RunCases(cases, sizeof cases / sizeof cases[0]);
}

TEST(Walk, Chunks) {
    const WalkCase cases[] = {
        {"the usual file with -v -o", SimpleWave(kFmt, 8), "-v -o",
         Lines({"File: w.wav", "File size: 52 / 0x34", "RIFF chink size: 44 / 0x2c",
                "Found chunk \"fmt \" at 12 / 0xc, size 16 / 0x10", "Format descriptor offset: 20 / 0x14",
                "Format descriptor size: 16 / 0x10", "Format: PCM/8000/8/1",
                "Found chunk \"data\" at 36 / 0x24, size 8 / 0x8", "Wave data offset: 44 / 0x2c",
                "Wave data size: 8 / 0x8"}),
         "", 0},
        {"cut-off data chunk", Riff(Chunk("fmt ", kFmt) + Chunk("data", "1234", 9)), "", kFmtLines,
         Lines({"Chunk \"data\" ends beyond the end of file"}), 102},
        {"cut-off fmt chunk is tested before its size", Riff(Chunk("fmt ", kFmt, 17)), "", Lines({"Format descriptor size: 17 / 0x11"}).substr(0, 0),
         Lines({"Chunk \"fmt \" ends beyond the end of file"}), 102},
        {"unknown chunks, shown always; hexadecimal identifiers",
         Riff(Chunk("LIST", "abcd") + Chunk(std::string("\0\0\0\0", 4), "") + Chunk("FMT ", "") +
              Chunk("a\x7F\x01z", "") + Chunk("fmt ", kFmt) + Chunk("data", "12")),
         "",
         Lines({"*** Unknown chunk \"LIST\" at 12 / 0xc, size 4 / 0x4", "*** Unknown chunk \"0\" at 24 / 0x18, size 0 / 0x0",
                "*** Unknown chunk \"FMT \" at 32 / 0x20, size 0 / 0x0",
                "*** Unknown chunk \"7a017f61\" at 40 / 0x28, size 0 / 0x0"}) +
             kFmtLines + Lines({"Wave data size: 2 / 0x2"}),
         "", 0},
        {"0x7F is printable", Riff(Chunk("ab\x7F" "c", "") + Chunk("fmt ", kFmt) + Chunk("data", "1")), "",
         Lines({"*** Unknown chunk \"ab\x7F" "c\" at 12 / 0xc, size 0 / 0x0"}) + kFmtLines +
             Lines({"Wave data size: 1 / 0x1"}),
         "", 0},
        {"data before fmt", Riff(Chunk("data", "12") + Chunk("fmt ", kFmt)), "",
         Lines({"Wave data size: 2 / 0x2"}) + kFmtLines, "", 0},
        {"only fmt", Riff(Chunk("fmt ", kFmt)), "", kFmtLines, Lines({"No data chunk"}), 103},
        {"only data", Riff(Chunk("data", "12")), "", Lines({"Wave data size: 2 / 0x2"}), Lines({"No fmt chink"}), 103},
        {"empty data chunk", Riff(Chunk("fmt ", kFmt) + Chunk("data", "")), "",
         kFmtLines + Lines({"Wave data size: 0 / 0x0"}), Lines({"No data chunk"}), 103},
        {"an empty last data chunk wins", Riff(Chunk("fmt ", kFmt) + Chunk("data", "12") + Chunk("data", "")), "",
         kFmtLines + Lines({"Wave data size: 2 / 0x2", "Wave data size: 0 / 0x0"}), Lines({"No data chunk"}), 103},
        {"seven bytes left", Riff(Chunk("fmt ", kFmt) + Chunk("data", "12") + "1234567"), "",
         kFmtLines + Lines({"Wave data size: 2 / 0x2", "*** Extra data size in RIFF chunk: 7 / 0x7"}), "", 0},
        {"eight bytes left are a chunk header", Riff(Chunk("fmt ", kFmt) + Chunk("data", "12") + Chunk("junk", "")), "",
         kFmtLines + Lines({"Wave data size: 2 / 0x2", "*** Unknown chunk \"junk\" at 46 / 0x2e, size 0 / 0x0"}), "",
         0},
        {"two fmt chunks, each reported", Riff(Chunk("fmt ", kFmt) + Chunk("fmt ", Format16(3, 1, 8000, 32)) + Chunk("data", "1")),
         "", kFmtLines + Lines({"Format descriptor size: 16 / 0x10", "Format: Flt/8000/32/1", "Wave data size: 1 / 0x1"}),
         "", 0},
    };
    RunCases(cases, sizeof cases / sizeof cases[0]);
}

// Writers that follow RIFF pad an odd-sized chunk with a zero byte; writers
// that do not must keep working too.
TEST(Walk, PadByte) {
    const std::string tail = Lines({"Wave data size: 3 / 0x3"});
    const WalkCase cases[] = {
        {"padded odd chunk in the middle", Riff(PaddedChunk("LIST", "abc") + Chunk("fmt ", kFmt) + PaddedChunk("data", "123")), "",
         Lines({"*** Unknown chunk \"LIST\" at 12 / 0xc, size 3 / 0x3"}) + kFmtLines + tail, "", 0},
        {"unpadded odd chunk in the middle", Riff(Chunk("LIST", "abc") + Chunk("fmt ", kFmt) + Chunk("data", "123")), "",
         Lines({"*** Unknown chunk \"LIST\" at 12 / 0xc, size 3 / 0x3"}) + kFmtLines + tail, "", 0},
        {"padded odd data chunk at the end", Riff(Chunk("fmt ", kFmt) + PaddedChunk("data", "123")), "", kFmtLines + tail,
         "", 0},
        {"padded odd fmt chunk", Riff(PaddedChunk("fmt ", kFmt + "\x05") + Chunk("data", "123")), "-v",
         Lines({"File: w.wav", "File size: 49 / 0x31", "RIFF chink size: 41 / 0x29",
                "Found chunk \"fmt \" at 12 / 0xc, size 17 / 0x11", "Format descriptor size: 17 / 0x11",
                "Format: PCM/8000/8/1", "Found chunk \"data\" at 38 / 0x26, size 3 / 0x3"}) +
             tail,
         "", 0},
        {"a zero byte after an even chunk is not a pad", Riff(Chunk("fmt ", kFmt) + Chunk("data", "12") + std::string(1, '\0')), "",
         kFmtLines + Lines({"Wave data size: 2 / 0x2", "*** Extra data size in RIFF chunk: 1 / 0x1"}), "", 0},
        {"pad byte then a few stray bytes", Riff(Chunk("fmt ", kFmt) + PaddedChunk("data", "123") + "xy"), "",
         kFmtLines + tail + Lines({"*** Extra data size in RIFF chunk: 2 / 0x2"}), "", 0},
    };
    RunCases(cases, sizeof cases / sizeof cases[0]);
}

// Sparse files: the size is learnt without reading, and nothing beyond the
// first chunks is read.
TEST(Walk, FilesNearAndBeyondFourGigabytes) {
    std::string head = Riff(Chunk("fmt ", kFmt) + Chunk("data", "", 0xFFFFFFFEu - 44), 0xFFFFFFFEu - 8);
    struct {
        uint64_t size;
        std::string out;
        std::string err;
        int code;
    } cases[] = {
        {0xFFFFFFFEull, kFmtLines + Lines({"Wave data size: 4294967250 / 0xffffffd2"}), "", 0},
        {0xFFFFFFFFull, "", Lines({"Cannot get file size (27 - File too large)"}), 102},
        {5ull << 30, "", Lines({"Cannot get file size (27 - File too large)"}), 102},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        ScopedFile file("big.wav", head);
        std::string truncate = "truncate -s " + std::to_string(c.size) + " " + ShellQuote(file.path());
        ASSERT_EQ(std::system(truncate.c_str()), 0);
        EXPECT_EQ(RunSondrel("big.wav"), (RunResult{c.out, c.err, c.code}));
    }
}

}  // namespace
