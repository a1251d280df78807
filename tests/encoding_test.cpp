// Redirected output in UTF-8 on request: the conversion of a line, long lines
// through the built program, and the values of SONDREL_ENCODING that leave
// the output as it was. The usual runs are in tests/data/runs.txt.
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

// Lines cut at their limit of 1021 characters: one of three bytes each,
// the longest there is; one whose cut leaves half a pair.
TEST(Utf8Output, LongLinesCutWhole) {
    const struct { std::string name, shown; } cases[] = {
        {Repeated("\xE2\x82\xAC", 1100), Repeated("\xE2\x82\xAC", 1008)},
        {"a" + Repeated("\xF0\x9F\x98\x80", 600), "a" + Repeated("\xF0\x9F\x98\x80", 503) + "\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RunSondrelRaw("SONDREL_ENCODING=utf-8", c.name), (RunResult{"", "Cannot open \"" + c.shown + "\n", 101}));
    }
}

TEST(Utf8Output, OtherValuesLeaveTheBytesAsTheyWere) {
    ScopedFile wave("a.wav", SimpleWave(Format16(1, 1, 8000, 8)));
    for (const char* arguments : {"-v -o -f a.wav", "", "missing.wav"}) {
        RunResult usual = RunSondrelRaw("", arguments);
        for (const char* environment : {"SONDREL_ENCODING=", "SONDREL_ENCODING=utf-16", "SONDREL_ENCODING=utf-8x", "SONDREL_ENCODING=utf-8xy",
                                        "SONDREL_ENCODING=' utf-8'", "SONDREL_ENCODING=utf_8",
                                        "sondrel_encoding=utf-8", "SONDREL_ENCODING=utf-8-and-a-long-tail"}) {
            SCOPED_TRACE(std::string(environment) + " " + arguments);
            EXPECT_EQ(RunSondrelRaw(environment, arguments), usual);
        }
    }
}

}  // namespace
