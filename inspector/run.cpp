// Argument text echoed in a message.
#include "inspector/run.h"

#include "runtime/output.h"

namespace {

bool IsHighHalf(WChar c) { return c >= 0xD800 && c <= 0xDBFF; }

// The unit as echoed; the low half of a pair is part of a character, never
// a raw byte.
WChar EchoUnit(const WChar* text, uint32_t i) {
    return i > 0 && IsHighHalf(text[i - 1]) ? text[i] : EchoChar(text[i]);
}

}  // namespace

const WChar* EchoText(const WChar* text, WChar (&buffer)[kEchoRoom]) {
    uint32_t i = 0;
    bool changed = false;
    for (; text[i] != 0; ++i) {
        // Most names are printable ASCII, which passes as it is.
        if (text[i] >= 0x20 && text[i] < 0x7F) continue;
        // A name's raw byte is a lone low half; UTF-16 output cannot carry it.
        if (g_platform.namesHoldBytes && text[i] >= 0xDC80 && text[i] <= 0xDCFF) LinesHoldRawBytes();
        changed = changed || EchoUnit(text, i) != text[i];
    }
    if (!changed) return text;
    for (i = 0; i + 1 < kEchoRoom && text[i] != 0; ++i) buffer[i] = EchoUnit(text, i);
    buffer[i] = 0;
    return buffer;
}
