// Redirected output in UTF-8 on request: long lines through the built
// program, and the values of SONDREL_ENCODING that leave the output as it
// was. The usual runs are in tests/data/runs.txt, the codec's cases in
// tests/text_test.cpp.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/posix/tests/start.h"
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
        EXPECT_EQ(RunChildRaw({c.name}, [] { setenv("SONDREL_ENCODING", "utf-8", 1); }),
                  (RunResult{"", "Cannot open \"" + c.shown + "\n", 101}));
    }
}

TEST(Utf8Output, OtherValuesLeaveTheBytesAsTheyWere) {
    ScopedFile wave("a.wav", SimpleWave(Format16(1, 1, 8000, 8)));
    const std::vector<std::string> argumentLists[] = {{"-v", "-o", "-f", "a.wav"}, {}, {"missing.wav"}};
    const struct { const char* name; const char* value; } environments[] = {
        {"SONDREL_ENCODING", ""}, {"SONDREL_ENCODING", "utf-16"}, {"SONDREL_ENCODING", "utf-8x"},
        {"SONDREL_ENCODING", "utf-8xy"}, {"SONDREL_ENCODING", " utf-8"}, {"SONDREL_ENCODING", "utf_8"},
        {"sondrel_encoding", "utf-8"}, {"SONDREL_ENCODING", "utf-8-and-a-long-tail"},
    };
    for (const auto& arguments : argumentLists) {
        RunResult usual = RunChildRaw(arguments);
        for (const auto& environment : environments) {
            SCOPED_TRACE(std::string(environment.name) + "=" + environment.value + " " + std::to_string(arguments.size()));
            EXPECT_EQ(RunChildRaw(arguments, [&environment] { setenv(environment.name, environment.value, 1); }), usual);
        }
    }
}

}  // namespace
