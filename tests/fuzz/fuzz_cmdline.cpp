// Fuzzes the command line: program name skipping, the options and the file
// name of a whole run, and NextToken into small buffers, on arbitrary UTF-16
// text held in a buffer of exactly its size, so no read past its end and no
// name longer than its buffer goes unnoticed.
#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "inspector/toolmain.h"
#include "tests/test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    uint32_t capacity = 1 + data[0] % 40;
    std::vector<WChar> text;
    for (size_t i = 1; i + 1 < size; i += 2) {
        WChar c = static_cast<WChar>(data[i] | data[i + 1] << 8);
        if (c != 0) text.push_back(c);
    }
    text.push_back(0);

    std::vector<WChar> token(capacity);
    const WChar* rest = text.data();
    while ((rest = NextToken(SkipCharsInSet(rest, nullptr), token.data(), capacity, nullptr, data[0] >> 6)) != nullptr) {
        size_t length = 0;
        while (token[length] != 0) ++length;
        if (length > capacity - 1) __builtin_trap();
    }

    FakePlatform fake;
    fake.files[u"a.wav"] = SimpleWave(Format16(1, 1, 8000, 8));
    uint32_t code = fake.Run(SkipProgramName(text.data()));
    if (code != 0 && code != 1 && code != 2 && code != 101) __builtin_trap();
    return 0;
}
