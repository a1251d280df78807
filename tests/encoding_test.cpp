// Redirected output in UTF-8 on request: long lines through the built
// program, and the values of SONDREL_ENCODING that leave the output as it
// was. The usual runs are in tests/data/runs.txt, the codec's cases in
// text_test.cpp.
#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

std::string Repeated(const std::string& text, int times) {
    std::string out;
    while (times-- > 0) out += text;
    return out;
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
