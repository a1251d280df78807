// The command line's tokens and program names. Other command lines are in
// tests/data/runs.txt; the arguments joined at and past their limits in
// platform/posix/tests/posix_arguments_test.cpp.
#include <gtest/gtest.h>

#include "inspector/commandline.h"
#include "tests/test_support.h"

namespace {

struct TokenCase {
    std::u16string text;
    uint32_t capacity;
    std::u16string token;
    int rest;  // offset of the result in text, -1 for none
};

TEST(NextToken, QuotingAndEscapes) {
    const TokenCase cases[] = {
        {u"", 10, u"", -1},
        {u"abc def", 10, u"abc", 3},
        {u"\"a b\" c", 10, u"a b", 5},
        {u"\"", 10, u"", 1},
        {u"\"\"", 10, u"", 2},
        {u"\"abc", 10, u"abc", 4},
        {u"a\"\"b", 10, u"a\"b", 4},
        // Backslashes are themselves unless a double quote follows them.
        {u"\\\\srv\\s\\a b", 16, u"\\\\srv\\s\\a", 9},
        {u"\"\\\\?\\C:\\x\" b", 16, u"\\\\?\\C:\\x", 10},
        {u"\"a\\\" b\"", 10, u"a\" b", 7},
        {u"\"a\\\"", 10, u"a\"", 4},
        {u"\"a\\\\\" b", 10, u"a\\", 5},
        {u"\"a\\\\\\\" b\"", 10, u"a\\\" b", 9},
        {u"a\\\\\\\\\"b c", 10, u"a\\\\\"b", 7},
        {u"a\\\\\"\"b", 10, u"a\\\"b", 6},
        {u"a\"b c", 10, u"a\"b", 3},
        {u"abcdef", 4, u"abc", 6},
        {u"a\tb", 10, u"a", 1},
    };
    for (const TokenCase& c : cases) {
        SCOPED_TRACE(ToUtf8(c.text));
        WChar buffer[16];
        const WChar* rest = NextToken(c.text.c_str(), buffer, c.capacity, nullptr, kTokenFileName);
        EXPECT_EQ(std::u16string(buffer), c.token);
        EXPECT_EQ(rest == nullptr ? -1 : int(rest - c.text.c_str()), c.rest);
    }
}

TEST(SkipProgramName, WhereTheArgumentsBegin) {
    const struct {
        std::u16string line;
        std::u16string arguments;
    } cases[] = {
        {u"sondrel", u""},
        {u"sondrel  \t -v a.wav", u"-v a.wav"},
        {u"sondrel\ta.wav", u""},
        {u"\"C:\\my tools\\sondrel.exe\"  a.wav", u"a.wav"},
        {u"\"sondrel\"a.wav", u"a.wav"},
        {u"\"sondrel", u""},
        {std::u16string(1100, u'x') + u" a.wav", u""},
        {std::u16string(1000, u'x') + u" a.wav", u"a.wav"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.line.substr(0, 40)));
        EXPECT_EQ(std::u16string(SkipProgramName(c.line.c_str())), c.arguments);
    }
}

}  // namespace
