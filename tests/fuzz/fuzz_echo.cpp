// Fuzzes the echo with any UTF-16 units (lone halves, pairs, every control
// and mark, a name's raw bytes), alone and as the whole program's argument
// text, on each road a line takes: a console, UTF-16LE, UTF-8. The input: a
// byte whose lowest bit asks for names as Windows keeps them (no raw bytes,
// its UTF-8 encoder), then the units, little-endian, up to the first 0.
//
// Checked: no control (but line ends), mark that reorders a line or line
// separator comes out, nor a raw byte 0x80 to 0x9F where names hold them;
// the output is well-formed but for what a stream keeps of a name (a Windows
// name's halves, a Linux name's raw bytes 0xA0 to 0xFF on a terminal or in
// UTF-8); the echo gives back each unit as it was, or "?" for a masked one.
#include <stddef.h>
#include <stdint.h>

#include <set>
#include <string>

#include "inspector/commandline.h"
#include "platform/text.h"
#include "runtime/output.h"
#include "tests/test_support.h"

namespace {

enum Road { kConsole, kUtf16, kUtf8 } g_road;
std::u16string g_console;     // what a console got
std::string g_file;           // what a file or pipe got
std::set<char16_t> g_kept;    // the halves a stream may keep

bool Masked(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}
bool IsHalf(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }
bool IsRawByte(char16_t c) { return g_platform.namesHoldBytes && c >= 0xDC80 && c <= 0xDCFF; }
bool Paired(const std::u16string& t, size_t i) {
    bool high = t[i] >= 0xD800 && t[i] <= 0xDBFF && i + 1 < t.size() && t[i + 1] >= 0xDC00 && t[i + 1] <= 0xDFFF;
    return high || (t[i] >= 0xDC00 && t[i] <= 0xDFFF && i > 0 && t[i - 1] >= 0xD800 && t[i - 1] <= 0xDBFF);
}

// A console's or a UTF-16LE stream's units: a raw byte only on a terminal.
void CheckUnits(const std::u16string& units) {
    for (size_t i = 0; i < units.size(); ++i) {
        char16_t c = units[i];
        if ((c == u'\r' && i + 1 < units.size() && units[i + 1] == u'\n') || Paired(units, i)) {
            i += c == u'\r' || c < 0xDC00;
        } else if (Masked(c) || (IsHalf(c) && g_kept.count(c) == 0) ||
                   (IsRawByte(c) && (g_road != kConsole || c < 0xDCA0))) {
            __builtin_trap();
        }
    }
}

// UTF-8: characters that are not masked, lines ended by LF alone, and a raw
// byte above 0x9F only where names hold them.
void CheckUtf8(const std::string& text) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text.data());
    for (size_t i = 0; i < text.size();) {
        uint32_t c = 0;
        uint32_t length = DecodeUtf8(bytes + i, text.size() - i, &c);
        char16_t raw = static_cast<char16_t>(0xDC00 | bytes[i]);
        if (length == 0 ? !IsRawByte(raw) || raw < 0xDCA0 || g_kept.count(raw) == 0
                        : c != u'\n' && c < 0x10000 && Masked(static_cast<char16_t>(c))) {
            __builtin_trap();
        }
        i += length == 0 ? 1 : length;
    }
}

void CheckRoad() {
    if ((g_road == kConsole) != g_file.empty() || (g_road != kConsole && !g_console.empty())) __builtin_trap();
    std::u16string units = g_console;
    for (size_t i = 0; g_road == kUtf16 && i + 1 < g_file.size(); i += 2) {
        units += static_cast<char16_t>(uint8_t(g_file[i]) | uint8_t(g_file[i + 1]) << 8);
    }
    if (g_road == kUtf8) {
        CheckUtf8(g_file);
    } else {
        CheckUnits(units);
    }
    g_console.clear();
    g_file.clear();
}

// Each unit back as it was, or "?" for a unit alone that the rule masks, or
// U+FFFD for a lone half that is no raw byte where names hold raw bytes.
void CheckEcho(const std::u16string& text, const std::u16string& shown) {
    if (shown.size() != text.size()) __builtin_trap();
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        bool maskable = Masked(c) || (IsRawByte(c) && c <= 0xDC9F);
        bool stray = g_platform.namesHoldBytes && IsHalf(c) && !IsRawByte(c);
        if (shown[i] != c && (Paired(text, i) || (shown[i] == u'?' ? !maskable : shown[i] != 0xFFFD || !stray))) {
            __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::u16string text;
    for (size_t i = 1; i + 1 < size && text.size() < 900 && (data[i] | data[i + 1]) != 0; i += 2) {
        text += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    }
    FakePlatform fake;
    g_platform.isConsole = [](OsHandle) { return g_road == kConsole; };
    g_platform.writeConsole = [](OsHandle, const WChar* line, uint32_t count) {
        g_console.append(line, count);
        return true;
    };
    g_platform.writeFile = [](OsHandle, const void* bytes, uint32_t count) {
        g_file.append(static_cast<const char*>(bytes), count);
        return true;
    };
    g_platform.environmentVariable = [](const WChar*, WChar* value, uint32_t capacity) {
        for (uint32_t i = 0; i < 6 && i < capacity; ++i) value[i] = u"utf-8"[i];
        return g_road == kUtf8 && capacity >= 6;
    };
    if (data[0] & 1) {
        g_platform.namesHoldBytes = false;
        g_platform.toUtf8 = WideToUtf8;
    }
    // A stream may keep a raw byte the name held alone, and a Windows name's
    // every half, as the reading of the options may cut a character in two.
    g_kept.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        bool kept = g_platform.namesHoldBytes ? IsRawByte(text[i]) && !Paired(text, i) : IsHalf(text[i]);
        if (kept) g_kept.insert(text[i]);
    }
    for (Road road : {kConsole, kUtf16, kUtf8}) {
        g_road = road;
        static WChar buffer[kEchoRoom];
        GetStdStreams(nullptr, nullptr, nullptr);
        const WChar* echo = EchoText(text.c_str(), buffer);
        CheckEcho(text, echo);
        ReportError(u"\"%s\"", echo);
        CheckRoad();
        fake.Run(text);
        CheckRoad();
    }
    return 0;
}
