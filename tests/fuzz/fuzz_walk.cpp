// Fuzzes the walk and the report over an in-memory file served through the
// fake platform, with its failures driven by the input too.
//
// The input: options and allocation failure, a read fault, a skip fault, a
// stretch, then the file. A read fault fails a read (and all after it),
// brings a short read after which the file seems to end, or interrupts a read
// half way (the file goes on). A skip fault fails a skip. A stretch of 255
// fails the size; any other declares the file that many KiB longer than its
// bytes, the rest read as 0xFF: so a short input crosses the read-ahead's
// refills, and its chunks skip past what the read-ahead holds. A header read there claims 4 GiB and
// ends the walk, so the stretch costs no run of thousands of chunks.
//
// Checked on every input: nothing is read or skipped past the end of the
// file; a failed run printed exactly one error line and its code is one of
// the program's; a run that succeeded printed none and reported a fmt chunk
// and a data chunk that is not empty; every block and the file were released.
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

// A data chunk with a size other than 0 was reported.
bool ReportedData(const std::string& out) {
    const std::string text = "\r\n" + out;
    const std::string line = "\r\nWave data size: ";
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) {
        if (text[at + line.size()] != '0') return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kHead = 4;
    if (size < kHead) return 0;
    FakePlatform fake;
    const std::string file(reinterpret_cast<const char*>(data + kHead), size - kHead);
    fake.files[u"f.wav"] = file;
    uint8_t flags = data[0];
    std::u16string arguments;
    if (flags & 1) arguments += u"-v ";
    if (flags & 2) arguments += u"-o ";
    if (flags & 4) arguments += u"-f ";
    arguments += u"f.wav";
    // One allocation for the runtime, then the descriptors.
    if (flags & 8) fake.allocationsLeft = 1 + (flags >> 4 & 3);

    int readFaultAt = data[1] >> 2;
    switch (data[1] & 3) {
        case 1: fake.readsLeft = readFaultAt; break;
        case 2: fake.shortReadAt = readFaultAt; break;
        case 3: fake.interruptAt = readFaultAt; break;
    }
    // A failed skip ends the walk: failing those after it changes nothing.
    if (data[2] & 0x80) fake.skipsLeft = data[2] & 0x7F;
    fake.failSize = data[3] == 0xFF;
    if (!fake.failSize) fake.stretch = data[3] * 1024u;

    uint32_t code = fake.Run(arguments);

    bool ok = code == 0 ? fake.err.empty() && fake.out.find("Format descriptor size: ") != std::string::npos &&
                              ReportedData(fake.out)
                        : KnownFailure(code) && CountLines(fake.err) == 1;
    ok = ok && fake.liveBlocks == 0 && fake.openFiles == 0 && !fake.pastEnd;
    if (!ok) __builtin_trap();
    return 0;
}
