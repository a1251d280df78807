// Fuzzes the POSIX entry's command line: an argv array from the input goes
// through the builder, and the arguments the parser takes back out must be
// the very bytes of argv, each one, or the command line must be refused as a
// whole (exit code 2). Then the whole run goes on that command line.
//
// The input: a padding length (two bytes), a padding byte and where the
// padding goes (the program name, or an argument before the last one), then
// argv itself, its strings separated by zero bytes. The padding reaches
// lengths up to and past the command line's limit without long inputs.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "inspector/commandline.h"
#include "platform/platform.h"
#include "tests/test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kHead = 4;
    if (size < kHead) return 0;
    std::vector<std::string> strings(1);
    for (size_t i = kHead; i < size; ++i) {
        if (data[i] == 0) {
            strings.emplace_back();
        } else {
            strings.back() += static_cast<char>(data[i]);
        }
    }
    std::string padding(data[0] | data[1] << 8, data[2] != 0 ? static_cast<char>(data[2]) : 'x');
    if (data[3] & 1) {
        strings[0] += padding;
    } else if (data[3] & 2) {
        strings.insert(strings.end() - 1 + (strings.size() == 1), padding);
    }
    std::vector<char*> argv;
    for (std::string& s : strings) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    int argc = static_cast<int>(strings.size());

    const WChar* line = ReadCommandLine(argc, argv.data());
    const WChar* rest = SkipProgramName(line);
    bool refused = std::u16string(rest) == u"-";
    if (refused) {
        // Refused only when the arguments might not fit: each byte is at most
        // one character, doubled when escaped, and a blank and quotes around.
        size_t most = 7;
        for (int i = 1; i < argc; ++i) most += 2 * strings[i].size() + 3;
        if (most <= 32767 && !(argc == 2 && strings[1] == "-")) __builtin_trap();
    } else {
        static std::vector<WChar> token(32768);
        const WChar* position = rest;
        for (int i = 1; i < argc; ++i) {
            position = NextToken(SkipCharsInSet(position, nullptr), token.data(), 32768, nullptr, 3);
            if (position == nullptr || EncodedBy(g_platform.toUtf8, token.data()) != strings[i]) __builtin_trap();
        }
        if (*SkipCharsInSet(position, nullptr) != 0) __builtin_trap();
    }

    FakePlatform fake;
    fake.files[u"a.wav"] = SimpleWave(Format16(1, 1, 8000, 8));
    uint32_t code = fake.Run(rest);
    if (refused ? code != 2 : code != 0 && code != 1 && code != 2 && code != 101) __builtin_trap();
    return 0;
}
