// The format report through the built program: summary lines, the non-PCM
// block, the -f field dump and its size warnings.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/test_support.h"

namespace {

struct ReportCase {
    const char* name;
    std::string descriptor;  // the fmt chunk's data
    const char* options;
    std::string report;  // the lines after "Format descriptor size"
    int code;
};

std::string SizeLine(size_t size) {
    return "Format descriptor size: " + std::to_string(size) + " / 0x" +
           (std::stringstream() << std::hex << size).str();
}

std::string NonPcmBlock(const std::string& head, uint32_t rate, uint32_t byteRate, uint32_t channels, uint32_t align,
                        uint32_t cbSize) {
    return Lines({head, "Samples per second: " + std::to_string(rate), "Avg bytes per second: " + std::to_string(byteRate),
                  "Channels: " + std::to_string(channels), "Frame alignment: " + std::to_string(align),
                  "Size of descriptor extension: " + std::to_string(cbSize)});
}

const std::string kPcmFields = Lines({"wFormatTag: 1 / 0x1 (WAVE_FORMAT_PCM)", "nChannels: 2",
                                      "nSamplesPerSec: 44100 / 0xac44", "nAvgBytesPerSec: 176400 / 0x2b110",
                                      "nBlockAlign: 4", "wBitsPerSample: 16"});

std::string Fields(uint32_t tag, const std::string& suffix, uint32_t channels, uint32_t rate, uint32_t byteRate,
                   uint32_t align, uint32_t bits) {
    auto hex = [](uint32_t v) { return (std::stringstream() << "0x" << std::hex << v).str(); };
    return Lines({"wFormatTag: " + std::to_string(tag) + " / " + hex(tag) + suffix, "nChannels: " + std::to_string(channels),
                  "nSamplesPerSec: " + std::to_string(rate) + " / " + hex(rate),
                  "nAvgBytesPerSec: " + std::to_string(byteRate) + " / " + hex(byteRate),
                  "nBlockAlign: " + std::to_string(align), "wBitsPerSample: " + std::to_string(bits)});
}

TEST(Report, Descriptors) {
    const std::string pcm = Format16(1, 2, 44100, 16);
    const std::string adpcm = Format16(2, 2, 22050, 11155, 1024, 4);
    const std::string ext = Extensible(2, 48000, 32, 24, 0x3, 1);
    const std::string extFields = Fields(0xFFFE, " (WAVE_FORMAT_EXTENSIBLE)", 2, 48000, 384000, 8, 32);
    const std::string ext20 = ext.substr(0, 20);
    const ReportCase cases[] = {
        {"PCM", pcm, "", Lines({"Format: PCM/44100/16/2"}), 0},
        {"PCM with -f: no cbSize line", pcm, "-f", Lines({"Format: PCM/44100/16/2"}) + kPcmFields, 0},
        {"PCM of 18 bytes with -f", pcm + Le16(0), "-f", Lines({"Format: PCM/44100/16/2"}) + kPcmFields, 0},
        {"wrong block alignment", Format16(1, 2, 44100, 264600, 6, 16), "", Lines({"*** Invalid PCM format descriptor"}), 0},
        {"float", Format16(3, 1, 44100, 32), "", Lines({"Format: Flt/44100/32/1"}), 0},
        {"ADPCM with -f", adpcm + Le16(32) + std::string(32, '\x07'), "-f",
         NonPcmBlock("Non-PCM format 2 / 0x2 (WAVE_FORMAT_ADPCM)", 22050, 11155, 2, 1024, 32) +
             Fields(2, " (WAVE_FORMAT_ADPCM)", 2, 22050, 11155, 1024, 4) + Lines({"cbSize: 32 / 0x20"}),
         0},
        {"unnamed tag", Format16(0xABCD, 1, 8000, 8) + Le16(0), "",
         NonPcmBlock("Non-PCM format 43981 / 0xabcd", 8000, 8000, 1, 1, 0), 0},
        {"tag 0x11 takes the first of its two names", Format16(0x11, 1, 8000, 4000, 256, 4) + Le16(2) + Le16(505), "",
         NonPcmBlock("Non-PCM format 17 / 0x11 (WAVE_FORMAT_DVI_ADPCM)", 8000, 4000, 1, 256, 2), 0},
        {"non-PCM of 16 bytes with -f", adpcm, "-f",
         NonPcmBlock("Non-PCM format 2 / 0x2 (WAVE_FORMAT_ADPCM)", 22050, 11155, 2, 1024, 0) +
             Fields(2, " (WAVE_FORMAT_ADPCM)", 2, 22050, 11155, 1024, 4) +
             Lines({"*** Format descriptor size is less than 18 / 0x12 bytes required for non-PCM formats"}),
         0},
        {"non-PCM of 17 bytes shows the cbSize byte it holds", adpcm + "\x05", "",
         NonPcmBlock("Non-PCM format 2 / 0x2 (WAVE_FORMAT_ADPCM)", 22050, 11155, 2, 1024, 5), 0},
        {"extensible PCM with -f", ext, "-f",
         Lines({"Format: ExtPCM/48000/24(4)/2"}) + extFields +
             Lines({"cbSize: 22 / 0x16", "wValidBitsPerSample/wSamplesPerBlock: 24 / 0x18", "dwChannelMask: 0x3 (FL FR)",
                    "SubFormat: KSDATAFORMAT_SUBTYPE_PCM"}),
         0},
        {"extensible, mask 0 and an unnamed SubFormat", Extensible(2, 48000, 32, 24, 0, 0x55), "-f",
         NonPcmBlock("Non-PCM format 65534 / 0xfffe (WAVE_FORMAT_EXTENSIBLE)", 48000, 384000, 2, 8, 22) + extFields +
             Lines({"cbSize: 22 / 0x16", "wValidBitsPerSample/wSamplesPerBlock: 24 / 0x18", "dwChannelMask: 0x0 (DIRECTOUT)",
                    "SubFormat: {00000055-0000-0010-8000-00aa00389b71}"}),
         0},
        {"extensible of 20 bytes with -f", ext20, "-f",
         NonPcmBlock("Non-PCM format 65534 / 0xfffe (WAVE_FORMAT_EXTENSIBLE)", 48000, 384000, 2, 8, 22) + extFields +
             Lines({"cbSize: 22 / 0x16",
                    "*** Format descriptor size is less than 40 / 0x28 bytes required for extensible formats"}),
         0},
        {"50 bytes: read whole, the first 40 reported", ext + std::string(10, '\x09'), "",
         Lines({"Format: ExtPCM/48000/24(4)/2"}), 0},
        {"size 15 refused", pcm.substr(0, 15), "", "", 103},
        {"size 0 refused", "", "", "", 103},
        {"size 4096 accepted", pcm + std::string(4080, '\0'), "", Lines({"Format: PCM/44100/16/2"}), 0},
        {"size 4097 refused", pcm + std::string(4081, '\0'), "", "", 103},
    };
    for (const ReportCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedFile file("r.wav", Riff(Chunk("fmt ", c.descriptor) + Chunk("data", "1234")));
        std::string expected = Lines({SizeLine(c.descriptor.size())}) + c.report;
        if (c.code == 0) expected += Lines({"Wave data size: 4 / 0x4"});
        EXPECT_EQ(RunSondrel(std::string(c.options) + " r.wav"),
                  (RunResult{expected, c.code == 0 ? "" : Lines({"Invalid fmt chunk size"}), c.code}));
    }
}

// Files written by other programs, kept under tests/data with the commands
// that made them.
TEST(Report, FilesFromOtherWriters) {
    std::ifstream list(std::string(SONDREL_SOURCE_DIR) + "/tests/data/expected.txt");
    ASSERT_TRUE(list.good());
    std::string line, name, expected;
    int checked = 0;
    auto check = [&] {
        if (name.empty()) return;
        SCOPED_TRACE(name);
        RunResult r = RunSondrel("-v -o -f " + ShellQuote(std::string(SONDREL_SOURCE_DIR) + "/tests/data/" + name));
        std::string out = r.out;
        size_t at = out.find("\r\n");  // the "File:" line holds the full path
        EXPECT_EQ(out.substr(at == std::string::npos ? 0 : at + 2), expected);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.err, "");
        ++checked;
    };
    while (std::getline(list, line)) {
        if (line.rfind("== ", 0) == 0) {
            check();
            name = line.substr(3);
            expected.clear();
        } else {
            expected += line + "\r\n";
        }
    }
    check();
    EXPECT_GE(checked, 4);
}

}  // namespace
