// Fuzzes sondrel-scan's opener with arbitrary replies from its worker: the
// opener that both systems run, over a channel whose worker sends the input.
// The input: a byte of options (bit 0 --json, bits 1 to 4 the number of
// names, bit 5 --isolate), then replies, each its length (two bytes, little
// endian; 0xFFFF: no reply within the wait, and half a minute gone) and its
// bytes; past the input the worker has gone. Checked: each reply is read
// only within its length (what lies past it is poisoned); one record a name,
// in JSON one line each holding one object of valid UTF-8 and no raw control
// byte, in text one block each with no control byte; every file closed.
#include <sanitizer/asan_interface.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "inspector/scan.h"
#include "platform/scan.h"
#include "platform/scan_channel.h"
#include "platform/text.h"
#include "tests/test_support.h"

namespace {

const uint8_t* g_input;
size_t g_inputSize;
size_t g_at;
uint64_t g_now;
std::string g_out;

void Check(bool property) {
    if (!property) __builtin_trap();
}

bool Write(OsHandle handle, const void* bytes, uint32_t count) {
    if (handle == 1) g_out.append(static_cast<const char*>(bytes), count);
    return true;
}

uint64_t Now() { return g_now; }

// The room past the reply handed over last, which the opener must not read.
ScanReply* g_poisoned;

// The worker: it takes every request, and its replies are the input's.
bool Start(ScanCheck) { return true; }
uint32_t Send(const ScanRequest*, uint32_t count) { return count; }
ScanHeard Receive(ScanReply* replies, uint32_t* sizes, uint32_t, uint32_t, uint32_t* got) {
    *got = 0;
    if (g_at + 2 > g_inputSize) return kHeardEnd;
    size_t n = g_input[g_at] | g_input[g_at + 1] << 8;
    g_at += 2;
    if (n == 0xFFFF) {
        g_now += 30 * 1000;
        return kHeardNothing;
    }
    if (n > g_inputSize - g_at) n = g_inputSize - g_at;
    if (g_poisoned != nullptr) ASAN_UNPOISON_MEMORY_REGION(g_poisoned, sizeof *g_poisoned);
    const size_t kept = n < sizeof *replies ? n : sizeof *replies;
    memcpy(replies, g_input + g_at, kept);
    ASAN_POISON_MEMORY_REGION(reinterpret_cast<uint8_t*>(replies) + kept, sizeof *replies - kept);
    g_poisoned = replies;
    g_at += n;
    sizes[0] = static_cast<uint32_t>(n);
    *got = 1;
    return kHeardReplies;
}
uint32_t End(bool tell, uint32_t, bool* left) {
    *left = tell;
    return 0;
}
void Rewind(OsHandle) {}

const ScanChannel kChannel = {Start, Send, Receive, End, Rewind, nullptr, nullptr, nullptr};

bool Broker(ScanCheck check, uint32_t flags, const ScanLimits* limits, const ScanCallbacks* callbacks) {
    const bool ended = ScanCheckAll(&kChannel, check, flags, limits, callbacks);
    if (g_poisoned != nullptr) ASAN_UNPOISON_MEMORY_REGION(g_poisoned, sizeof *g_poisoned);
    g_poisoned = nullptr;
    return ended;
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
    g_at = 1;
    g_now = 0;
    const bool json = (data[0] & 1) != 0;
    const size_t names = data[0] >> 1 & 15;
    FakePlatform fake;
    ScanPlatform savedScan = g_scanPlatform;
    g_scanPlatform.argumentCount = nullptr;
    g_scanPlatform.checkAll = Broker;
    g_platform.writeFile = Write;
    g_platform.milliseconds = Now;
    g_out.clear();
    std::u16string arguments = json ? u"--json" : u"";
    if ((data[0] & 32) != 0) arguments += u" --isolate";
    arguments += u" --";
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
