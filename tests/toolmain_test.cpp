// The command line: what the POSIX entry rebuilds from argv at and past its
// limits, and the parser's tokens and program names. Other command lines are
// in tests/data/runs.txt.
#include <gtest/gtest.h>

#include <memory>

#include "inspector/toolmain.h"
#include "tests/test_support.h"

namespace {

TEST(CommandLine, NamesLongerThanAPathAreRefusedNotCut) {
    std::string longest(4095, 'a');
    std::string tooLong(4096, 'a');
    EXPECT_EQ(RunSondrel(longest).err.substr(0, 13), "Cannot open \"");
    RunResult r = RunSondrel(tooLong);
    EXPECT_EQ(r.err, Lines({"Invalid file specification"}));
    EXPECT_EQ(r.code, 2);
}

// The command line rebuilt from the arguments holds 32767 characters: the
// program's stand-in name "sondrel", then a blank and each argument, quoted
// when it holds a blank. Lines from 3 below to 3 above the limit, of many
// "-o" and one name padded with slashes; next to the real file lie the files
// a name cut short would open. An argument list either arrives whole or is
// refused whole.
TEST(CommandLine, ArgumentListsAtTheLimitArriveWholeOrAreRefused) {
    const std::string wave = SimpleWave(Format16(1, 1, 8000, 8));
    const std::string decoy = SimpleWave(Format16(1, 2, 44100, 16));
    const std::string good = Lines({"Format descriptor offset: 20 / 0x14", "Format descriptor size: 16 / 0x10",
                                    "Format: PCM/8000/8/1", "Wave data offset: 44 / 0x2c", "Wave data size: 8 / 0x8"});
    const RunResult refused{"", Lines({"No option letter: \"\""}), 2};
    const struct {
        std::string name;
        size_t rebuilt;  // its length on the command line
    } names[] = {{"my file.wav", 13}, {"myfile.wav", 10}, {"q\\\"x\".wav", 14}};
    std::vector<std::unique_ptr<ScopedFile>> files;
    for (const auto& n : names) {
        files.emplace_back(new ScopedFile(n.name, wave));
        for (const char* cut : {"", " -", "\"", "\" -", "\\"}) {
            for (size_t dropped = 1; dropped <= 3; ++dropped) {
                files.emplace_back(new ScopedFile(n.name.substr(0, n.name.size() - dropped) + cut, decoy));
            }
        }
    }
    const size_t kLimit = 32767;
    for (const auto& n : names) {
        for (bool trailing : {false, true}) {
            const size_t fixed = 7 + 1 + n.rebuilt + (trailing ? 6 : 0);
            for (size_t length = kLimit - 3; length <= kLimit + 3; ++length) {
                const size_t options = (length - fixed - 1000) / 3;
                const std::string name = "." + std::string(length - fixed - 3 * options - 1, '/') + n.name;
                SCOPED_TRACE(std::to_string(length) + " " + n.name + (trailing ? " extra" : ""));
                std::string arguments;
                for (size_t i = 0; i < options; ++i) arguments += "-o ";
                arguments += ShellQuote(name) + (trailing ? " extra" : "");
                const RunResult fits = trailing ? RunResult{"", Lines({"Invalid rest of command line: \"extra\""}), 2}
                                                : RunResult{good, "", 0};
                EXPECT_EQ(RunSondrel(arguments), length <= kLimit ? fits : refused);
            }
        }
    }
    // Backslashes before a double quote are doubled: 20,000 of them and a
    // quote take 40,006 characters.
    EXPECT_EQ(RunSondrel(ShellQuote(std::string(20000, '\\') + "\"")), refused);
}

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
