// Fuzzes the walk and the report over an in-memory file served through the
// platform seam. The first byte picks the options and whether the
// descriptor's allocation fails; the rest is the file.
//
// Checked on every input: a failed run printed exactly one error line and
// its code is one of the program's; a run that reached the end printed none;
// every block and the file were released.
#include <stddef.h>
#include <stdint.h>

#include "tests/test_support.h"

namespace {

size_t CountLines(const std::string& text) {
    size_t lines = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++lines;
    return lines;
}

bool KnownFailure(uint32_t code) {
    return code == 101 || code == 102 || code == 103 || code == 1003;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FakePlatform fake;
    fake.files[u"f.wav"] = std::string(reinterpret_cast<const char*>(data + 1), size - 1);
    uint8_t flags = data[0];
    std::u16string arguments;
    if (flags & 1) arguments += u"-v ";
    if (flags & 2) arguments += u"-o ";
    if (flags & 4) arguments += u"-f ";
    arguments += u"f.wav";
    // One allocation for the runtime, then the descriptors.
    if (flags & 8) fake.allocationsLeft = 1 + (flags >> 4 & 3);
    uint32_t code = fake.Run(arguments);

    bool ok = code == 0 ? fake.err.empty() : KnownFailure(code) && CountLines(fake.err) == 1;
    ok = ok && fake.liveBlocks == 0 && fake.openFiles == 0 && fake.furthestRead <= size - 1;
    if (!ok) __builtin_trap();
    return 0;
}
