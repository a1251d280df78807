// Fuzzes what sondrel-scan takes from a worker: arbitrary replies, checked
// as the opener checks them, handed to the records when taken, a refused one
// ending the oldest record. The input: a byte of options (bit 0 --json, bits 1
// to 4 the number of names), then replies, each its length (two bytes, little
// endian) and its bytes. Checked: each reply is read only within its length
// (alone in memory of its size); no more records end than were asked for; one
// record a name, in JSON one line each holding one object of valid UTF-8 and
// no raw control byte, in text one block each with no control byte.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "inspector/scan.h"
#include "platform/scan.h"
#include "platform/text.h"
#include "tests/test_support.h"

namespace {

const uint8_t* g_input;
size_t g_inputSize;
std::string g_out;

void Check(bool property) {
    if (!property) __builtin_trap();
}

bool Write(OsHandle handle, const void* bytes, uint32_t count) {
    if (handle == 1) g_out.append(static_cast<const char*>(bytes), count);
    return true;
}

// The opener's part, with the input's replies for a worker's.
bool Broker(ScanCheck, uint32_t, const ScanLimits* limits, const ScanCallbacks* callbacks) {
    ScanReplyState state = {};
    while (state.inFlight < kScanWindow && callbacks->nextName() != nullptr) ++state.inFlight;
    for (size_t at = 1; at + 2 <= g_inputSize && state.inFlight != 0;) {
        size_t n = g_input[at] | g_input[at + 1] << 8;
        at += 2;
        if (n > g_inputSize - at) n = g_inputSize - at;
        const std::vector<uint8_t> reply(g_input + at, g_input + at + n);
        at += n;
        const uint32_t before = state.inFlight;
        if (ScanCheckReply(reply.data(), static_cast<uint32_t>(n), limits, &state) != kReplyTaken) {
            callbacks->recordEnd(kScanCheckLost | kScanEndRefused);
            state = {before - 1, false};
            continue;
        }
        Check(state.inFlight + 1 >= before);
        if (n > sizeof(ScanReplyHeader)) callbacks->recordLines(reply.data() + 8, static_cast<uint32_t>(n - 8));
        if (state.inFlight < before) callbacks->recordEnd(reinterpret_cast<const ScanReplyHeader*>(reply.data())->exitCode);
    }
    for (; state.inFlight != 0; --state.inFlight) callbacks->recordEnd(kScanCheckLost | kScanEndTimeLimit);
    callbacks->beforeWait();
    return true;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; ++at) ++n;
    return n;
}

// One JSON object: brackets balanced outside strings, closed at its end.
bool OneObject(const std::string& line) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (inString) {
            if (c == '\\') ++i;
            inString = c != '"';
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            if (--depth == 0 && i + 1 != line.size()) return false;
        }
    }
    return depth == 0 && !inString;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    g_input = data;
    g_inputSize = size;
    const bool json = (data[0] & 1) != 0;
    const size_t names = data[0] >> 1 & 15;
    FakePlatform fake;
    ScanPlatform savedScan = g_scanPlatform;
    g_scanPlatform.argumentCount = nullptr;
    g_scanPlatform.checkAll = Broker;
    g_platform.writeFile = Write;
    g_out.clear();
    std::u16string arguments = json ? u"--json --" : u"--";
    for (size_t i = 0; i < names; ++i) arguments += u" n" + std::u16string(1, static_cast<char16_t>(u'a' + i));
    ScanMain(arguments.c_str());
    g_scanPlatform = savedScan;
    if (json) {
        Check(Count(g_out, "\n") == names);
        for (size_t at = 0; at < g_out.size();) {
            const size_t end = g_out.find('\n', at);
            const std::string line = g_out.substr(at, end - at);
            Check(line.compare(0, 8, "{\"file\":") == 0 && OneObject(line));
            const uint8_t* bytes = reinterpret_cast<const uint8_t*>(line.data());
            for (size_t i = 0; i < line.size();) {
                uint32_t cp;
                const uint32_t length = DecodeUtf8(bytes + i, line.size() - i, &cp);
                Check(length != 0 && cp >= 0x20 && (cp < 0x80 || cp > 0x9F));
                i += length;
            }
            at = end + 1;
        }
    } else {
        Check(Count("\n" + g_out, "\n==> ") == names && Count(g_out, "\n<== exit code ") == names);
        for (const char c : g_out) Check(static_cast<uint8_t>(c) >= 0x20 || c == '\n');
    }
    Check(fake.openFiles == 0 && fake.liveBlocks == 0);
    return 0;
}
