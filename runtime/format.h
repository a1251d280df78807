// The program's own formatter and the small text routines it shares with the
// name tables.
//
// Every argument of a formatting call occupies one 8-byte slot, taken strictly
// in order: integers in the low-order bytes (signed ones widened with their
// sign), characters in the low 16 bits, pointers whole. The variadic wrappers
// below pack their arguments into such slots, so a conversion can never read
// outside the list: a slot past the last argument reads as 0.
#ifndef SONDREL_RUNTIME_FORMAT_H
#define SONDREL_RUNTIME_FORMAT_H

#include <stdint.h>
#include <type_traits>

#include "platform/types.h"

// The argument list of one call: its slots, how many there are, and how many
// have been taken so far.
struct FormatArgs {
    const uint64_t* slots;
    uint32_t count;
    uint32_t taken;
};

template <typename T>
constexpr uint64_t ToSlot(T value) {
    if constexpr (std::is_pointer_v<T>) {
        return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(value));
    } else if constexpr (std::is_same_v<T, decltype(nullptr)>) {
        return 0;
    } else if constexpr (std::is_enum_v<T>) {
        return ToSlot(static_cast<std::underlying_type_t<T>>(value));
    } else if constexpr (std::is_signed_v<T>) {
        return static_cast<uint64_t>(static_cast<int64_t>(value));
    } else {
        return static_cast<uint64_t>(value);
    }
}

// Formats into buffer (capacity in characters, terminator included) and
// returns the number of characters written, at most capacity - 1.
uint32_t FormatTextV(WChar* buffer, uint32_t capacity, const WChar* format, const uint64_t* slots,
                     uint32_t slotCount);

template <typename... A>
uint32_t FormatText(WChar* buffer, uint32_t capacity, const WChar* format, A... args) {
    const uint64_t slots[sizeof...(A) + 1] = {ToSlot(args)..., 0};
    return FormatTextV(buffer, capacity, format, slots, sizeof...(A));
}

// Formats into a caller's 50- or 16-character buffer and returns it, so the
// call can stand as a "%s" argument of another formatting call.
template <typename... A>
WChar* FormatText50(WChar (&buffer)[50], const WChar* format, A... args) {
    FormatText(buffer, 50, format, args...);
    return buffer;
}
template <typename... A>
WChar* FormatText16(WChar (&buffer)[16], const WChar* format, A... args) {
    FormatText(buffer, 16, format, args...);
    return buffer;
}

// One conversion; the cursor stands on the character after the '%'. True when
// it was recognised: all four values then moved past what it wrote and took.
// False: nothing was written and none of them changed.
bool FormatConversion(WChar** position, uint32_t* remaining, const WChar** cursor, FormatArgs* args);

// Digits of value in base 2..36, most significant first, cut to capacity - 1.
uint32_t IntToDigits32(WChar* buffer, uint32_t capacity, uint32_t value, uint32_t base);
// The 64-bit twin: nothing in the program calls it, but it is part of the
// routines' interface and shares the formatter's own digit code.
uint32_t IntToDigits64(WChar* buffer, uint32_t capacity, uint64_t value, uint32_t base);

// Bounded copies; a source limit of 0 stands for the capacity.
uint32_t CopyNarrowToWide(WChar* buffer, uint32_t capacity, const char* source, uint32_t sourceLimit);
uint32_t CopyWideBounded(WChar* buffer, uint32_t capacity, const WChar* source, uint32_t sourceLimit);

// Characters before the first NUL, or bound when none is among the first bound.
uint32_t NarrowLengthBounded(const char* text, uint32_t bound);
uint32_t WideLengthBounded(const WChar* text, uint32_t bound);

#endif
