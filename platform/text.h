// The text helpers that both the backends and the runtime need: the one
// UTF-8 codec of the program, and decimal digits.
//
// The codec knows UTF-8 and UTF-16 only. What a system makes of bytes that
// are not UTF-8, or of a lone surrogate half, is its backend's affair; here a
// lone half is a character that UTF-8 cannot carry, and it becomes U+FFFD.
#ifndef SONDREL_PLATFORM_TEXT_H
#define SONDREL_PLATFORM_TEXT_H

#include <stddef.h>
#include <stdint.h>

#include "platform/types.h"

// Decodes one UTF-8 sequence at bytes (n of them available, at least one).
// Returns its length, or 0 when the first byte does not begin a valid,
// shortest-form sequence of a character (a surrogate half is none).
uint32_t DecodeUtf8(const uint8_t* bytes, size_t n, uint32_t* codePoint);

// Writes the UTF-8 form of a code point below 0x110000 and returns its
// length, 1 to 4. A surrogate half becomes U+FFFD.
uint32_t EncodeUtf8(uint32_t codePoint, uint8_t* out);

// Writes the UTF-16 form of a code point below 0x110000: one unit, or a pair
// above U+FFFF. Returns the number of units.
uint32_t EncodeUtf16(uint32_t codePoint, WChar* out);

// The code point at text[*i] (count units in all), two halves of a pair
// joined; a lone half comes back as itself. Moves *i past it.
uint32_t NextCodePoint(const WChar* text, size_t count, size_t* i);

// Writes the UTF-8 form of count units (3 bytes a unit is always enough) and
// returns the number of bytes; a lone half becomes U+FFFD.
uint32_t WideToUtf8(const WChar* text, uint32_t count, uint8_t* out);

// The UTF-16 form of bytes as a name carries them: a byte that does not
// begin valid UTF-8 becomes U+DC80..U+DCFF, so every byte can be had back
// (a NUL byte stays a unit 0: the count, not a terminator, says where the
// name ends). Writes at most capacity units; returns how many the
// bytes take, more than capacity when they did not fit (it stops counting
// soon after).
size_t BytesToUnits(const uint8_t* bytes, size_t n, WChar* out, size_t capacity);

// Whether bytes are whole lines as the program writes them in UTF-8: each
// ended by LF and at most longest bytes with it, well-formed but for a
// name's raw bytes (A0 to FF alone, as a name's echo on Linux keeps them),
// and free of what the echo of a name shows as "?": control characters (C0
// and C1; DEL, which a chunk's identifier may hold, is let through), the
// marks that reorder a line (U+202A to U+202E, U+2066 to U+2069) and the
// line and paragraph separators. What another process says the program
// wrote is checked with this.
bool IsWrittenText(const uint8_t* bytes, size_t n, size_t longest);

// Reads the decimal digits at text and moves it past them; unsigned 32-bit
// arithmetic with no limit on the number of digits (more wrap around). For
// 8-bit and wide text alike.
template <typename Char>
constexpr uint32_t ParseDecimal(const Char*& text) {
    uint32_t value = 0;
    while (*text >= '0' && *text <= '9') value = value * 10 + static_cast<uint32_t>(*text++ - '0');
    return value;
}

#endif
