// Redirected output in UTF-8 on request: the conversion of a line, and whole
// runs of the built program under each value of SONDREL_ENCODING.
#include <gtest/gtest.h>

#include "runtime/output.h"
#include "tests/test_support.h"

namespace {

// The UTF-8 form of the first count units (all when count is -1); the units
// past count are there to be left alone.
std::string Utf8Of(const std::u16string& units, int count = -1) {
    uint8_t bytes[64 * 3];
    uint32_t n = Utf8LineBytes(units.data(), count < 0 ? uint32_t(units.size()) : uint32_t(count), bytes);
    return std::string(reinterpret_cast<const char*>(bytes), n);
}

std::string Repeated(const std::string& text, int times) {
    std::string out;
    while (times-- > 0) out += text;
    return out;
}

TEST(Utf8Lines, EveryKindOfUnit) {
    const struct { std::u16string units; std::string bytes; int count = -1; } cases[] = {
        {u"a\r\n", "a\n"},
        {u"\r\n\r\nx\r\n", "\n\nx\n"},
        {u"a\rb\n\r", "a\rb\n\r"},  // only a CR right before an LF goes
        {u"\u007F\u0080\u07FF\u0800\uFFFF", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
        {u"\u00E9t\u00E9 \u266B", "\xC3\xA9t\xC3\xA9 \xE2\x99\xAB"},
        {u"\U0001F600\U0010FFFF", "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
        // Bytes of a name that were not UTF-8 go back as themselves.
        {u"\xDC80\xDCE9\xDCFF.wav", "\x80\xE9\xFF.wav"},
        // A pair is a pair even when its low half is in the escape range.
        {u"\xD800\xDC80", "\xF0\x90\x82\x80"},
        // Other lone halves: U+FFFD, so the line stays valid UTF-8.
        {u"\xDC7F\xDD00", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {u"a\xD83D", "a\xEF\xBF\xBD"},
        {u"\xD83D\r\n", "\xEF\xBF\xBD\n"},
        {u"\xDBFF\xD800\xDC00", "\xEF\xBF\xBD\xF0\x90\x80\x80"},
        {u"\xD800\xE000\xDFFF", "\xEF\xBF\xBD\xEE\x80\x80\xEF\xBF\xBD"},
        // A line ends where it is cut, whatever follows it.
        {u"a\r\n", "a\r", 2},
        {u"\xD800\xDC00", "\xEF\xBF\xBD", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.units));
        EXPECT_EQ(Utf8Of(c.units, c.count), c.bytes);
    }
}

TEST(Utf8Output, ThroughTheProgram) {
    ScopedFile wave("a.wav", SimpleWave(Format16(1, 1, 8000, 8)));
    ScopedFile odd("\xE9t\xC3\xA9.wav", SimpleWave(Format16(1, 2, 44100, 16)));
    const std::string usage =
        "\nsondrel 1.5.0.233 - RIFF/WAVE file inspector, by the sondrel developers\nhttps://sondrel.org/\n\n"
        "Arguments: [<Options>] <Wave file>\n\nOptions:\n\n-o - print format descriptor and data offsets.\n"
        "-f - print format descriptor fields.\n-v - verbose mode.\n\n";
    const struct { const char* environment; std::string arguments; RunResult expected; } cases[] = {
        {"SONDREL_ENCODING=utf-8", "a.wav",
         {"Format descriptor size: 16 / 0x10\nFormat: PCM/8000/8/1\nWave data size: 8 / 0x8\n", "", 0}},
        {"SONDREL_ENCODING=UTF8", "", {usage, "", 1}},
        {"SONDREL_ENCODING=Utf-8", "-v '\xE9t\xC3\xA9.wav'",
         {"File: \xE9t\xC3\xA9.wav\nFile size: 52 / 0x34\nRIFF chink size: 44 / 0x2c\n"
          "Found chunk \"fmt \" at 12 / 0xc, size 16 / 0x10\nFormat descriptor size: 16 / 0x10\n"
          "Format: PCM/44100/16/2\nFound chunk \"data\" at 36 / 0x24, size 8 / 0x8\nWave data size: 8 / 0x8\n",
          "", 0}},
        {"SONDREL_ENCODING=uTF-8", "missing.wav -x",
         {"", "Invalid rest of command line: \"-x\"\n", 2}},
        {"SONDREL_ENCODING=utf8", "'\xE9t\xE9.wav'",
         {"", "Cannot open \"\xE9t\xE9.wav\" (2 - No such file or directory)\n", 101}},
        // Lines cut at their limit of 1021 characters: one of three bytes
        // each, the longest there is; one whose cut leaves half a pair.
        {"SONDREL_ENCODING=utf-8", Repeated("\xE2\x82\xAC", 1100),
         {"", "Cannot open \"" + Repeated("\xE2\x82\xAC", 1008) + "\n", 101}},
        {"SONDREL_ENCODING=utf-8", "a" + Repeated("\xF0\x9F\x98\x80", 600),
         {"", "Cannot open \"a" + Repeated("\xF0\x9F\x98\x80", 503) + "\xEF\xBF\xBD\n", 101}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.environment) + " " + c.arguments);
        EXPECT_EQ(RunSondrelRaw(c.environment, c.arguments), c.expected);
    }
}

TEST(Utf8Output, OtherValuesLeaveTheBytesAsTheyWere) {
    ScopedFile wave("a.wav", SimpleWave(Format16(1, 1, 8000, 8)));
    for (const char* arguments : {"-v -o -f a.wav", "", "missing.wav"}) {
        RunResult usual = RunSondrelRaw("", arguments);
        for (const char* environment : {"SONDREL_ENCODING=", "SONDREL_ENCODING=utf-16", "SONDREL_ENCODING=utf-8x",
                                        "SONDREL_ENCODING=' utf-8'", "SONDREL_ENCODING=utf_8",
                                        "sondrel_encoding=utf-8", "SONDREL_ENCODING=utf-8-and-a-long-tail"}) {
            SCOPED_TRACE(std::string(environment) + " " + arguments);
            EXPECT_EQ(RunSondrelRaw(environment, arguments), usual);
        }
    }
}

}  // namespace
