// Fuzzes the walk and the report over an in-memory file served through the
// platform seam, with the platform's failures driven by the input too.
//
// The input: options and allocation failure, a read fault, a skip fault, a
// stretch, then the file. A read fault fails a read (and all after it),
// brings a short read after which the file seems to end, or interrupts a read
// half way (the file goes on). A skip fault fails one skip. A stretch of 255
// fails the size; any other declares the file that many KiB longer than its
// bytes, the rest read as
// 0xFF: so a short input crosses the read-ahead's refills, and its chunks
// skip past what the read-ahead holds. A header read there claims 4 GiB and
// ends the walk, so the stretch costs no run of thousands of chunks.
//
// Checked on every input: nothing is read or skipped past the end of the
// file; a failed run printed exactly one error line and its code is one of
// the program's; a run that succeeded printed none and reported a fmt chunk
// and a data chunk that is not empty; every block and the file were released.
#include <stddef.h>
#include <stdint.h>

#include "platform/platform.h"
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

// The fake platform's entries, wrapped to follow the position, to stretch
// the file, to interrupt reads and to fail skips.
struct Tracker {
    Platform inner;
    uint64_t size;  // as declared: the bytes and the stretch
    uint64_t position;
    bool pastEnd;
    bool ended;  // after the fake's short read, the file seems to end
    int reads;
    int interruptAt;
    int shortReadAt;
    int skips;
    int failSkipAt;
    bool failSize;
};
Tracker g_tracker;

bool TrackedSize(OsHandle, uint32_t* size) {
    if (g_tracker.failSize) {
        g_platform.setLastError(27);
        return false;
    }
    *size = static_cast<uint32_t>(g_tracker.size);
    return true;
}

bool TrackedRead(OsHandle file, void* buffer, uint32_t count, uint32_t* got) {
    int index = g_tracker.reads++;
    if (index == g_tracker.interruptAt && count > 1) count /= 2;
    bool ok = g_tracker.inner.readFile(file, buffer, count, got);
    g_tracker.ended |= index == g_tracker.shortReadAt;
    // Past the bytes, within the declared size: the stretch.
    if (ok && *got < count && !g_tracker.ended && g_tracker.position + *got < g_tracker.size) {
        uint64_t rest = g_tracker.size - g_tracker.position - *got;
        uint32_t filled = count - *got < rest ? count - *got : static_cast<uint32_t>(rest);
        for (uint32_t i = 0; i < filled; ++i) static_cast<uint8_t*>(buffer)[*got + i] = 0xFF;
        *got += filled;
    }
    if (ok) g_tracker.position += *got;
    g_tracker.pastEnd |= g_tracker.position > g_tracker.size;
    return ok;
}

bool TrackedSkip(OsHandle file, uint64_t count) {
    if (g_tracker.skips++ == g_tracker.failSkipAt) {
        g_platform.setLastError(29);
        return false;
    }
    g_tracker.position += count;
    g_tracker.pastEnd |= g_tracker.position > g_tracker.size;
    return g_tracker.inner.skipForward(file, count);
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
    const bool failSize = data[3] == 0xFF;
    g_tracker = {g_platform, file.size() + (failSize ? 0 : data[3] * 1024u), 0, false, false, 0, -1, -1, 0, -1, failSize};
    switch (data[1] & 3) {
        case 1: fake.readsLeft = readFaultAt; break;
        case 2: fake.shortReadAt = g_tracker.shortReadAt = readFaultAt; break;
        case 3: g_tracker.interruptAt = readFaultAt; break;
    }
    if (data[2] & 0x80) g_tracker.failSkipAt = data[2] & 0x7F;
    g_platform.fileSize = TrackedSize;
    g_platform.readFile = TrackedRead;
    g_platform.skipForward = TrackedSkip;

    uint32_t code = fake.Run(arguments);

    bool ok = code == 0 ? fake.err.empty() && fake.out.find("Format descriptor size: ") != std::string::npos &&
                              ReportedData(fake.out)
                        : KnownFailure(code) && CountLines(fake.err) == 1;
    ok = ok && fake.liveBlocks == 0 && fake.openFiles == 0 && !g_tracker.pastEnd;
    if (!ok) __builtin_trap();
    return 0;
}
