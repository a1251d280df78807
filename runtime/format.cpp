// The formatter: one pass over the format, each field written straight into
// the caller's buffer and cut while it is written.
//
// Sections: the conversion table; writing bounded pieces; argument slots;
// one conversion (flags, width, precision, size, content, layout), with a
// direct road for the few conversions of nearly every line; the main loop;
// digits; bounded copies and lengths.
#include "runtime/format.h"

#include "platform/text.h"
#include "runtime/contract.h"

namespace {

// --- The conversion table ---------------------------------------------------

enum ConversionKind : uint8_t { KindInteger, KindPointer, KindChar, KindNarrowChar, KindText, KindNarrowText };

struct ConversionInfo {
    WChar letter;
    uint8_t base;
    bool isSigned;
    bool upperCase;
    ConversionKind kind;
    // Shown under '#'; empty when the letter has none. Kept in the row, not
    // pointed to: a pointer in a constant table costs a relocation at every
    // start of a position-independent program.
    WChar prefix[3];
};

constexpr ConversionInfo kConversions[] = {
    {u'd', 10, true, false, KindInteger, u"0n"},   {u'i', 10, true, false, KindInteger, u"0n"},
    {u'u', 10, false, false, KindInteger, u"0n"},  {u'o', 8, false, false, KindInteger, u"0"},
    {u'x', 16, false, false, KindInteger, u"0x"},  {u'X', 16, false, true, KindInteger, u"0x"},
    {u'b', 2, false, false, KindInteger, u"0b"},   {u'y', 2, false, false, KindInteger, u"0y"},
    {u'p', 16, false, false, KindPointer, u"0x"},  {u'P', 16, false, true, KindPointer, u"0x"},
    {u'c', 0, false, false, KindChar, u""},    {u'C', 0, false, false, KindNarrowChar, u""},
    {u's', 0, false, false, KindText, u""},    {u'S', 0, false, false, KindNarrowText, u""},
};

// Size classes: 0 "h", 1 none or "I32", 2 "l", 3 "ll" or "I64", 4 "z",
// 5 pointers, 6 a bare "I". The argument size picks the digit routine.
constexpr uint8_t kClassArgumentSize[7] = {2, 4, 4, 8, 8, 8, 8};
constexpr uint8_t kClassPointer = 5;

const WChar kNullWide[] = u"(null)";
const char kNullNarrow[] = "(null)";

// Every line of output passes through here: the row of each letter is looked
// up, not searched. The index is made from the table itself, so the two cannot
// disagree.
constexpr WChar kFirstLetter = u'A';
constexpr uint32_t kLetterRange = u'z' - kFirstLetter + 1;
constexpr uint8_t kNoRow = 0xFF;

struct ConversionIndex {
    uint8_t row[kLetterRange];
};

constexpr ConversionIndex MakeConversionIndex() {
    ConversionIndex index{};
    for (uint8_t& row : index.row) row = kNoRow;
    for (uint8_t i = 0; i < sizeof kConversions / sizeof kConversions[0]; ++i) {
        index.row[kConversions[i].letter - kFirstLetter] = i;
    }
    return index;
}

constexpr ConversionIndex kConversionIndex = MakeConversionIndex();

const ConversionInfo* FindConversion(WChar letter) {
    uint32_t slot = static_cast<uint32_t>(letter - kFirstLetter);  // below 'A' wraps to a large value
    if (slot >= kLetterRange || kConversionIndex.row[slot] == kNoRow) return nullptr;
    return &kConversions[kConversionIndex.row[slot]];
}

// --- Writing bounded pieces -------------------------------------------------

struct Output {
    WChar* position;
    uint32_t remaining;
};

// Text of either width is written, measured and copied by the same code:
// an 8-bit character becomes the wide one of the same value (0x80..0xFF
// stay themselves rather than turn negative).
constexpr WChar Widen(char c) { return static_cast<uint8_t>(c); }
constexpr WChar Widen(WChar c) { return c; }

template <typename Char>
void WriteText(Output& out, const Char* text, uint32_t length) {
    uint32_t n = length < out.remaining ? length : out.remaining;
    for (uint32_t i = 0; i < n; ++i) out.position[i] = Widen(text[i]);
    out.position += n;
    out.remaining -= n;
}

void WriteRepeated(Output& out, WChar c, uint32_t count) {
    uint32_t n = count < out.remaining ? count : out.remaining;
    for (uint32_t i = 0; i < n; ++i) out.position[i] = c;
    out.position += n;
    out.remaining -= n;
}

// Copies the text up to the next '%' or the end of the format, at most room
// characters, and returns how many it copied. Two characters a pass: the
// second is read only after the first proved not to be the terminator.
uint32_t CopyPlainText(WChar* out, const WChar* text, uint32_t room) {
    // One comparison for most characters: only those up to '%' end the run.
    auto ends = [](WChar c) { return c <= u'%' && (c == u'%' || c == 0); };
    size_t n = 0;
    for (size_t pairs = room / 2; pairs != 0; --pairs, n += 2) {
        WChar first = text[n];
        if (ends(first)) return static_cast<uint32_t>(n);
        out[n] = first;
        WChar second = text[n + 1];
        if (ends(second)) return static_cast<uint32_t>(n + 1);
        out[n + 1] = second;
    }
    if (n < room && !ends(text[n])) {
        out[n] = text[n];
        ++n;
    }
    return static_cast<uint32_t>(n);
}

// --- Argument slots ---------------------------------------------------------

// A slot past the end of the list reads as 0, so no format can make the
// formatter read outside its arguments.
inline uint64_t TakeSlot(FormatArgs& args) {
    uint32_t index = args.taken++;
    if (index >= args.count) return 0;
    if (args.slots == nullptr) {
        FormatterCheckFailed();
        return 0;
    }
    return args.slots[index];
}

bool IsDigit(WChar c) { return c >= u'0' && c <= u'9'; }

// --- One conversion ---------------------------------------------------------

struct FieldSpec {
    WChar pad;  // 0 when no pad flag was given
    bool prefixFlag;
    bool signFlag;
    bool leftJustify;
    uint32_t width;
    uint32_t precision;  // 0 when absent
    uint8_t sizeClass;
};

void ParseFlags(const WChar*& f, FieldSpec& field) {
    for (;; ++f) {
        switch (*f) {
            case u' ': field.pad = u' '; break;
            case u'0': field.pad = u'0'; break;
            case u'#': field.prefixFlag = true; break;
            case u'+': field.signFlag = true; break;
            case u'-': field.leftJustify = true; break;
            default: return;
        }
    }
}

uint8_t ParseSizeClass(const WChar*& f) {
    switch (*f) {
        case u'I':
            if (f[1] == u'3' && f[2] == u'2') { f += 3; return 1; }
            if (f[1] == u'6' && f[2] == u'4') { f += 3; return 3; }
            f += 1;
            return 6;
        case u'l':
            if (f[1] == u'l') { f += 2; return 3; }
            f += 1;
            return 2;
        case u'h': f += 1; return 0;
        case u'z': f += 1; return 4;
        default: return 1;
    }
}

// Writes the digits of value so that they end at `end`, and returns where
// they begin: no reversal and no copy.
// Two decimal digits at a time halve the divisions of every number printed.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

template <typename T, uint32_t kBase = 0>
WChar* DigitsBefore(WChar* end, T value, uint32_t base) {
    if (kBase != 0) base = kBase;
    if (kBase == 10) {
        while (value >= 100) {
            uint32_t pair = static_cast<uint32_t>(value % 100) * 2;
            value /= 100;
            *--end = static_cast<WChar>(kDigitPairs[pair + 1]);
            *--end = static_cast<WChar>(kDigitPairs[pair]);
        }
        if (value >= 10) {
            uint32_t pair = static_cast<uint32_t>(value) * 2;
            *--end = static_cast<WChar>(kDigitPairs[pair + 1]);
            *--end = static_cast<WChar>(kDigitPairs[pair]);
            return end;
        }
        *--end = static_cast<WChar>(u'0' + value);
        return end;
    }
    do {
        uint32_t r = static_cast<uint32_t>(value % base);
        *--end = static_cast<WChar>(r <= 9 ? u'0' + r : u'a' + r - 10);
        value /= base;
    } while (value != 0);
    return end;
}


// The common bases get their own instances, where division by a constant is
// cheap. The scratch holds 64 digits, enough for 64 bits in base 2.
template <typename T>
WChar* DigitsAnyBase(WChar (&scratch)[64], T value, uint32_t base) {
    switch (base) {
        case 10: return DigitsBefore<T, 10>(scratch + 64, value, base);
        case 16: return DigitsBefore<T, 16>(scratch + 64, value, base);
        default: return DigitsBefore<T>(scratch + 64, value, base);
    }
}

// The digits of an integer conversion, most significant first, already cut
// to the precision. Sets the sign flag for a negative signed value.
uint32_t IntegerDigits(const ConversionInfo& info, FieldSpec& field, uint64_t slot, WChar (&digits)[64],
                       const WChar** start, WChar* signChar) {
    uint64_t value = slot;
    switch (field.sizeClass) {
        case 0: value = info.isSigned ? static_cast<uint64_t>(static_cast<int16_t>(slot)) : static_cast<uint16_t>(slot); break;
        case 1:
        case 2: value = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(slot))); break;
        default: break;
    }
    *signChar = u'+';
    if (info.isSigned && static_cast<int64_t>(value) < 0) {
        field.signFlag = true;
        *signChar = u'-';
        value = 0 - value;
    }
    WChar* first = kClassArgumentSize[field.sizeClass] <= 4
                       ? DigitsAnyBase(digits, static_cast<uint32_t>(value), info.base)
                       : DigitsAnyBase(digits, value, info.base);
    uint32_t count = static_cast<uint32_t>(digits + 64 - first);
    if (info.upperCase) {
        for (WChar* d = first; d != digits + 64; ++d) {
            if (*d >= u'a' && *d <= u'z') *d = static_cast<WChar>(*d - u'a' + u'A');
        }
    }
    // A precision keeps the trailing digits.
    if (field.precision != 0 && count > field.precision) {
        first += count - field.precision;
        count = field.precision;
    }
    *start = first;
    return count;
}

// Writes sign and prefix, padding, content and right padding, in the order
// that puts the sign before the padding when a pad character was chosen.
void LayOutField(Output& out, const FieldSpec& field, const WChar* sign, uint32_t signLength, const WChar* wide,
                 const char* narrow, uint32_t contentLength) {
    if (contentLength == 0) return;
    uint32_t total = signLength + contentLength;
    if (signLength != 0 && field.pad != 0) WriteText(out, sign, signLength);
    if (field.width > total && !field.leftJustify) WriteRepeated(out, field.pad != 0 ? field.pad : u' ', field.width - total);
    if (signLength != 0 && field.pad == 0) WriteText(out, sign, signLength);
    if (narrow != nullptr) {
        WriteText(out, narrow, contentLength);
    } else {
        WriteText(out, wide, contentLength);
    }
    if (field.leftJustify && field.width > total) WriteRepeated(out, u' ', field.width - total);
}

template <typename Char>
uint32_t TextLength(const Char* text) {
    uint32_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

template <typename Char>
uint32_t TextLengthBounded(const Char* text, uint32_t bound) {
    if (ContractBroken(text == nullptr || bound == 0)) return 0;
    uint32_t n = 0;
    while (n < bound && text[n] != 0) ++n;
    return n;
}

template <typename Char>
uint32_t CopyTextBounded(WChar* buffer, uint32_t capacity, const Char* source, uint32_t sourceLimit) {
    if (ContractBroken(buffer == nullptr || capacity == 0 || source == nullptr)) return 0;
    uint32_t limit = sourceLimit != 0 ? sourceLimit : capacity;
    uint32_t n = 0;
    while (n < limit && n < capacity - 1 && source[n] != 0) {
        buffer[n] = Widen(source[n]);
        ++n;
    }
    buffer[n] = 0;
    return n;
}

uint32_t HexDigitCount(uint32_t value) { return (32 - static_cast<uint32_t>(__builtin_clz(value | 1)) + 3) / 4; }

// The number of decimal digits from the bit length (1233 / 4096 is just
// above log10(2)) and one comparison. value | 1 has as many digits as value
// and keeps 0 at one digit.
uint32_t DecimalDigitCount(uint32_t value) {
    static constexpr uint32_t kPowersOfTen[10] = {1,      10,      100,      1000,      10000,
                                                  100000, 1000000, 10000000, 100000000, 1000000000};
    uint32_t w = value | 1;
    uint32_t t = ((32 - static_cast<uint32_t>(__builtin_clz(w))) * 1233) >> 12;
    return t + 1 - (w < kPowersOfTen[t] ? 1 : 0);
}

// The conversions of nearly every report line ("%u", "%d", "%x", "%#x",
// "%s": no width, precision, size or other flag) written directly. The text
// is exactly what the general path makes; this only skips its parsing.
bool WriteCommonConversion(Output& out, const WChar*& cursor, FormatArgs& args) {
    const WChar* f = cursor;
    bool prefix = *f == u'#';
    if (prefix) ++f;
    // "%.4S", the chunk identifier: 8-bit text of at most four characters.
    if (!prefix && f[0] == u'.' && f[1] == u'4' && f[2] == u'S') {
        const char* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(TakeSlot(args)));
        if (text == nullptr) text = kNullNarrow;
        WriteText(out, text, NarrowLengthBounded(text, 4));
        cursor = f + 3;
        return true;
    }
    WChar letter = *f;
    if (letter == u's' && !prefix) {
        const WChar* text = reinterpret_cast<const WChar*>(static_cast<uintptr_t>(TakeSlot(args)));
        if (text == nullptr) text = kNullWide;
        WChar* p = out.position;
        WChar* end = p + out.remaining;
        while (p != end && *text != 0) *p++ = *text++;
        out.remaining -= static_cast<uint32_t>(p - out.position);
        out.position = p;
    } else if (letter == u'x' || (!prefix && (letter == u'u' || letter == u'd'))) {
        uint32_t value = static_cast<uint32_t>(TakeSlot(args));
        if (letter == u'd' && static_cast<int32_t>(value) < 0) {
            WriteRepeated(out, u'-', 1);
            value = 0u - value;
        }
        if (prefix) WriteText(out, u"0x", 2);
        uint32_t count = letter == u'x' ? HexDigitCount(value) : DecimalDigitCount(value);
        if (count <= out.remaining) {
            // The usual case: the digits go straight to their place.
            WChar* end = out.position + count;
            if (letter == u'x') {
                DigitsBefore<uint32_t, 16>(end, value, 16);
            } else {
                DigitsBefore<uint32_t, 10>(end, value, 10);
            }
            out.position = end;
            out.remaining -= count;
        } else {
            WChar digits[16];
            WChar* first = letter == u'x' ? DigitsBefore<uint32_t, 16>(digits + 16, value, 16)
                                          : DigitsBefore<uint32_t, 10>(digits + 16, value, 10);
            WriteText(out, first, count);
        }
    } else {
        return false;
    }
    cursor = f + 1;
    return true;
}

}  // namespace

bool FormatConversion(WChar** position, uint32_t* remaining, const WChar** cursor, FormatArgs* args) {
    const WChar* f = *cursor;
    FormatArgs a = *args;
    FieldSpec field{0, false, false, false, 0, 0, 1};

    ParseFlags(f, field);
    if (*f == u'*') {
        ++f;
        field.width = static_cast<uint32_t>(TakeSlot(a));
    } else {
        field.width = ParseDecimal(f);
    }
    if (*f == u'.') {
        ++f;
        if (*f == u'*') {
            ++f;
            field.precision = static_cast<uint32_t>(TakeSlot(a));
        } else if (IsDigit(*f)) {
            field.precision = ParseDecimal(f);
        } else {
            return false;
        }
    }
    field.sizeClass = ParseSizeClass(f);
    const ConversionInfo* info = FindConversion(*f);
    if (info == nullptr || *f == 0) return false;
    ++f;

    WChar digits[64];
    WChar character = 0;
    const WChar* wide = nullptr;
    const char* narrow = nullptr;
    uint32_t length = 1;
    WChar signChar = u'+';
    switch (info->kind) {
        case KindPointer:
            field.sizeClass = kClassPointer;
            if (field.signFlag && field.width > 1 && field.precision == 0) {
                field.precision = field.width - 1;
                if (field.pad == 0) field.pad = u'0';
            }
            [[fallthrough]];
        case KindInteger:
            length = IntegerDigits(*info, field, TakeSlot(a), digits, &wide, &signChar);
            break;
        case KindChar:
            character = static_cast<WChar>(TakeSlot(a) & 0xFFFF);
            wide = &character;
            break;
        case KindNarrowChar:
            character = static_cast<WChar>(TakeSlot(a) & 0xFF);
            wide = &character;
            break;
        case KindText:
            wide = reinterpret_cast<const WChar*>(static_cast<uintptr_t>(TakeSlot(a)));
            if (wide == nullptr) wide = kNullWide;
            length = field.precision != 0 ? WideLengthBounded(wide, field.precision) : TextLength(wide);
            break;
        case KindNarrowText:
            narrow = reinterpret_cast<const char*>(static_cast<uintptr_t>(TakeSlot(a)));
            if (narrow == nullptr) narrow = kNullNarrow;
            length = field.precision != 0 ? NarrowLengthBounded(narrow, field.precision) : TextLength(narrow);
            break;
    }

    WChar sign[8];
    uint32_t signLength = 0;
    if (field.signFlag) sign[signLength++] = signChar;
    if (field.prefixFlag) {
        for (const WChar* p = info->prefix; *p != 0; ++p) sign[signLength++] = *p;
    }

    Output out{*position, *remaining};
    LayOutField(out, field, sign, signLength, wide, narrow, length);

    if (f <= *cursor || a.taken <= args->taken) FormatterCheckFailed();
    *position = out.position;
    *remaining = out.remaining;
    *cursor = f;
    *args = a;
    return true;
}

uint32_t FormatTextV(WChar* buffer, uint32_t capacity, const WChar* format, const uint64_t* slots,
                     uint32_t slotCount) {
    if (buffer == nullptr || format == nullptr || capacity == 0) {
        FormatterCheckFailed();
        if (buffer != nullptr && capacity != 0) buffer[0] = 0;
        return 0;
    }
    Output out{buffer, capacity - 1};
    FormatArgs args{slots, slotCount, 0};
    const WChar* cursor = format;
    while (*cursor != 0 && out.remaining != 0) {
        // Ordinary text up to the next '%' is copied in one tight loop.
        if (*cursor != u'%') {
            uint32_t n = CopyPlainText(out.position, cursor, out.remaining);
            cursor += n;
            out.position += n;
            out.remaining -= n;
            continue;
        }
        WChar c = *cursor++;
        if (c == u'%' && *cursor != 0) {
            if (*cursor == u'%') {
                ++cursor;
                WriteRepeated(out, u'%', 1);
            } else if (*cursor == u'n') {
                ++cursor;
                int32_t* target = reinterpret_cast<int32_t*>(static_cast<uintptr_t>(TakeSlot(args)));
                if (target != nullptr) {
                    *target = static_cast<int32_t>(out.position - buffer);
                } else {
                    FormatterCheckFailed();
                }
            } else if (!WriteCommonConversion(out, cursor, args) &&
                       !FormatConversion(&out.position, &out.remaining, &cursor, &args)) {
                WriteRepeated(out, u'%', 1);
            }
        } else {
            WriteRepeated(out, c, 1);
        }
    }
    if (out.position >= buffer + capacity) FormatterCheckFailed();
    *out.position = 0;
    return static_cast<uint32_t>(out.position - buffer);
}

// --- Digits -------------------------------------------------------------------

namespace {

template <typename T>
uint32_t IntToDigits(WChar* buffer, uint32_t capacity, T value, uint32_t base) {
    WChar scratch[64];
    WChar* first = DigitsAnyBase(scratch, value, base);
    uint32_t count = static_cast<uint32_t>(scratch + 64 - first);
    uint32_t n = count < capacity - 1 ? count : capacity - 1;
    for (uint32_t i = 0; i < n; ++i) buffer[i] = first[i];
    buffer[n] = 0;
    return n;
}

}  // namespace

uint32_t IntToDigits32(WChar* buffer, uint32_t capacity, uint32_t value, uint32_t base) {
    return IntToDigits(buffer, capacity, value, base);
}

uint32_t IntToDigits64(WChar* buffer, uint32_t capacity, uint64_t value, uint32_t base) {
    return IntToDigits(buffer, capacity, value, base);
}

// --- Bounded copies and lengths -------------------------------------------------

uint32_t CopyNarrowToWide(WChar* buffer, uint32_t capacity, const char* source, uint32_t sourceLimit) {
    return CopyTextBounded(buffer, capacity, source, sourceLimit);
}

uint32_t CopyWideBounded(WChar* buffer, uint32_t capacity, const WChar* source, uint32_t sourceLimit) {
    return CopyTextBounded(buffer, capacity, source, sourceLimit);
}

uint32_t NarrowLengthBounded(const char* text, uint32_t bound) { return TextLengthBounded(text, bound); }

uint32_t WideLengthBounded(const WChar* text, uint32_t bound) { return TextLengthBounded(text, bound); }
