// Fuzzes the echo with any sequence of UTF-16 units (lone halves, pairs,
// every control and mark, a name's raw bytes) and holds its promise on each
// road a line can take: to a console as characters, to a file or pipe as
// UTF-16LE, and as UTF-8.
//
// The input: one byte whose lowest bit asks for names as Windows keeps them
// (no raw bytes, its UTF-8 encoder) where the build's own system carries raw
// bytes; then the units, two bytes each, little-endian, up to the first 0.
// The units are echoed alone, and given to the whole program as its argument
// text, so every message that shows an argument is reached.
//
// Checked on each road: no control (but the line ends), no mark that
// reorders a line, no line or paragraph separator, and, where names hold raw
// bytes, no byte 0x80 to 0x9F comes out; the output is well-formed, but for
// what the stream keeps of a name (a Windows name's lone halves, a Linux
// name's raw bytes 0xA0 to 0xFF on a terminal or in UTF-8); and the echo
// gives back each unit as it went in, or "?" for one that is masked.
#include <stddef.h>
#include <stdint.h>

#include <set>
#include <string>

#include "inspector/commandline.h"
#include "platform/text.h"
#include "runtime/output.h"
#include "tests/test_support.h"

namespace {

enum Road { kConsole, kUtf16, kUtf8 };

Road g_road;
std::u16string g_console;  // what a console got
std::string g_file;        // what a file or pipe got

bool IsConsole(OsHandle) { return g_road == kConsole; }

bool WriteConsole(OsHandle, const WChar* text, uint32_t count) {
    g_console.append(text, count);
    return true;
}

bool WriteFile(OsHandle, const void* bytes, uint32_t count) {
    g_file.append(static_cast<const char*>(bytes), count);
    return true;
}

bool Environment(const WChar*, WChar* value, uint32_t capacity) {
    if (g_road != kUtf8 || capacity < 6) return false;
    for (int i = 0; i < 6; ++i) value[i] = u"utf-8"[i];
    return true;
}

bool Masked(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}
bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsRawByte(char16_t c) { return g_platform.namesHoldBytes && c >= 0xDC80 && c <= 0xDCFF; }

// What the input holds as lone halves: the only ones a stream may keep.
std::set<char16_t> g_lone;

// Units as a console or a UTF-16LE stream got them. A lone half may stay
// where the stream keeps it: a Windows name's unit in either, a name's raw
// byte above 0x9F on a terminal, and nowhere else.
void CheckUnits(const std::u16string& units) {
    for (size_t i = 0; i < units.size(); ++i) {
        char16_t c = units[i];
        if (c == u'\r' && i + 1 < units.size() && units[i + 1] == u'\n') {
            ++i;
        } else if (IsHigh(c) && i + 1 < units.size() && IsLow(units[i + 1])) {
            ++i;
        } else if (Masked(c)) {
            __builtin_trap();
        } else if ((IsHigh(c) || IsLow(c)) && g_lone.count(c) == 0) {
            __builtin_trap();
        } else if (IsRawByte(c) && (g_road != kConsole || c < 0xDCA0)) {
            __builtin_trap();
        }
    }
}

// UTF-8 bytes: each sequence a character that is not masked, or a name's
// raw byte above 0x9F where names hold them. Lines end with LF alone.
void CheckUtf8(const std::string& text) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text.data());
    for (size_t i = 0; i < text.size();) {
        uint32_t c = 0;
        uint32_t length = DecodeUtf8(bytes + i, text.size() - i, &c);
        if (length == 0) {
            char16_t raw = static_cast<char16_t>(0xDC00 | bytes[i]);
            if (!IsRawByte(raw) || bytes[i] < 0xA0 || g_lone.count(raw) == 0) __builtin_trap();
            length = 1;
        } else if (c != u'\n' && c < 0x10000 && Masked(static_cast<char16_t>(c))) {
            __builtin_trap();
        }
        i += length;
    }
}

void CheckRoad() {
    if (g_road == kConsole) {
        if (!g_file.empty()) __builtin_trap();
        CheckUnits(g_console);
    } else if (g_road == kUtf16) {
        if (!g_console.empty() || g_file.size() % 2 != 0) __builtin_trap();
        std::u16string units;
        for (size_t i = 0; i < g_file.size(); i += 2) {
            units += static_cast<char16_t>(uint8_t(g_file[i]) | uint8_t(g_file[i + 1]) << 8);
        }
        CheckUnits(units);
    } else {
        if (!g_console.empty()) __builtin_trap();
        CheckUtf8(g_file);
    }
}

// Each unit back as it went in, or "?" for a unit alone that the rule masks,
// or U+FFFD for a lone half no name holds where names hold raw bytes.
void CheckEcho(const std::u16string& text, const WChar* echo) {
    std::u16string shown(echo);
    if (shown.size() != text.size()) __builtin_trap();
    for (size_t i = 0; i < text.size(); ++i) {
        if (shown[i] == text[i]) continue;
        char16_t c = text[i];
        bool paired = (IsHigh(c) && i + 1 < text.size() && IsLow(text[i + 1])) || (IsLow(c) && i > 0 && IsHigh(text[i - 1]));
        bool maskable = Masked(c) || (IsRawByte(c) && c <= 0xDC9F);
        bool stray = g_platform.namesHoldBytes && (IsHigh(c) || IsLow(c)) && !IsRawByte(c);
        if (paired || (shown[i] == u'?' ? !maskable : shown[i] != 0xFFFD || !stray)) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::u16string text;
    for (size_t i = 1; i + 1 < size && text.size() < 900; i += 2) {
        char16_t c = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (c == 0) break;
        text += c;
    }
    FakePlatform fake;
    g_platform.isConsole = IsConsole;
    g_platform.writeConsole = WriteConsole;
    g_platform.writeFile = WriteFile;
    g_platform.environmentVariable = Environment;
    if (data[0] & 1) {
        g_platform.namesHoldBytes = false;
        g_platform.toUtf8 = WideToUtf8;
    }
    // A raw byte the name held alone; a Windows name's every half, as the
    // reading of the options may cut a character.
    std::set<char16_t> lone;
    for (size_t i = 0; i < text.size(); ++i) {
        bool paired = (IsHigh(text[i]) && i + 1 < text.size() && IsLow(text[i + 1])) ||
                      (IsLow(text[i]) && i > 0 && IsHigh(text[i - 1]));
        if (g_platform.namesHoldBytes ? IsRawByte(text[i]) && !paired : IsHigh(text[i]) || IsLow(text[i])) {
            lone.insert(text[i]);
        }
    }
    for (Road road : {kConsole, kUtf16, kUtf8}) {
        g_road = road;
        // The echo alone, in a line of its own.
        g_console.clear();
        g_file.clear();
        g_lone = lone;
        static WChar buffer[kEchoRoom];
        GetStdStreams(nullptr, nullptr, nullptr);
        const WChar* echo = EchoText(text.c_str(), buffer);
        CheckEcho(text, echo);
        ReportError(u"\"%s\"", echo);
        CheckRoad();
        // The whole program, with the units as its argument text.
        g_console.clear();
        g_file.clear();
        g_lone = lone;
        fake.Run(text);
        CheckRoad();
    }
    return 0;
}
