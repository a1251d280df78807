// The arguments of the POSIX program, joined into one command line at and
// past its limits, and the name the program is started by.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>

#include "platform/posix/tests/start.h"
#include "tests/test_support.h"

namespace {

TEST(CommandLine, NamesLongerThanAPathAreRefusedNotCut) {
    std::string longest(4095, 'a');
    std::string tooLong(4096, 'a');
    EXPECT_EQ(RunChild({longest}).err.substr(0, 13), "Cannot open \"");
    RunResult r = RunChild({tooLong});
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
                std::vector<std::string> arguments(options, "-o");
                arguments.push_back(name);
                if (trailing) arguments.push_back("extra");
                const RunResult fits = trailing ? RunResult{"", Lines({"Invalid rest of command line: \"extra\""}), 2}
                                                : RunResult{good, "", 0};
                EXPECT_EQ(RunChild(arguments), length <= kLimit ? fits : refused);
            }
        }
    }
    // Backslashes before a double quote are doubled: 20,000 of them and a
    // quote take 40,006 characters.
    EXPECT_EQ(RunChild({std::string(20000, '\\') + "\""}), refused);
}

// The program name is never read back; however long the name the program
// was started by, and whatever it holds, the arguments arrive. An empty
// environment changes nothing either.
TEST(CommandLine, ProgramNamesOfAnyLengthAndAnEmptyEnvironment) {
    ScopedFile wave("a.wav", SimpleWave(Format16(1, 1, 8000, 8)));
    std::vector<std::string> names = {"/my \"odd\" dir/sondrel"};
    for (size_t length : {1023, 1024, 4095, 20000}) names.push_back(std::string(length - 7, '/') + "sondrel");
    for (const std::string& name : names) {
        SCOPED_TRACE(name.substr(0, 40));
        EXPECT_EQ(RunChildRaw({"-v", "a.wav"}, [] {}, name.c_str()).code, 0);
    }
    EXPECT_EQ(RunChildRaw({"-v", "a.wav"}, [] { clearenv(); }).code, 0);
}

}  // namespace
