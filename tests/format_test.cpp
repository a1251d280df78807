// The formatter's conversion language, its cutting at the capacity, and the
// small text routines it shares with the name tables.
#include "runtime/format.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kAllOnes = ~uint64_t{0};
constexpr char16_t kGuard = u'#';
const std::u16string kOnes64(64, u'1');

// A negative argument as the slot the formatter receives.
constexpr uint64_t S(int64_t value) { return static_cast<uint64_t>(value); }

// Trace text: ASCII as is, anything else as '?'.
std::string Show(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out;
}

// The text by the returned count, so a wrong count shows as wrong text; also
// checks the terminator and that the guards behind the capacity are intact.
std::u16string Written(const std::vector<char16_t>& buffer, uint32_t capacity, uint32_t count) {
    EXPECT_LT(count, capacity);
    if (count >= capacity) return u"<count past capacity>";
    EXPECT_EQ(buffer[count], u'\0') << "terminator";
    for (size_t i = capacity; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], kGuard) << "written past capacity";
    return std::u16string(buffer.data(), count);
}

template <typename... A>
std::u16string Fmt(uint32_t capacity, const WChar* format, A... args) {
    std::vector<char16_t> buffer(capacity + 4, kGuard);
    return Written(buffer, capacity, FormatText(buffer.data(), capacity, format, args...));
}

struct IntRow {
    const char16_t* format;
    uint64_t a0, a1, a2;
    const char16_t* expected;
    uint32_t capacity = 64;
};

template <size_t N>
void RunRows(const IntRow (&rows)[N]) {
    for (const IntRow& r : rows) {
        SCOPED_TRACE(Show(r.format) + " capacity " + std::to_string(r.capacity));
        EXPECT_EQ(Fmt(r.capacity, r.format, r.a0, r.a1, r.a2), r.expected);
    }
}

TEST(FormatTest, WidthAndPadCharacter) {
    static const IntRow rows[] = {
        {u"%5u|", 42, 0, 0, u"   42|"},
        {u"%-5u|", 42, 0, 0, u"42   |"},
        {u"%5d|", S(-3), 0, 0, u"   -3|"},
        {u"% 5d|", S(-3), 0, 0, u"-   3|"},
        {u"%05d|", S(-3), 0, 0, u"-0003|"},
        {u"%-05d|", S(-3), 0, 0, u"-3   |"},
        {u"%+ 08d|", S(-42), 0, 0, u"-0000042|"},
        {u"%0 5d|", 3, 0, 0, u"    3|"},
        {u"% 05d|", 3, 0, 0, u"00003|"},
    };
    RunRows(rows);
}

TEST(FormatTest, SignAndPrefix) {
    static const IntRow rows[] = {
        {u"%#x", 255, 0, 0, u"0xff"},
        {u"%#X", 255, 0, 0, u"0xFF"},
        {u"%#x", 0, 0, 0, u"0x0"},
        {u"%#08X", 5, 0, 0, u"0x000005"},
        {u"%#08X", 0x80070005, 0, 0, u"0x80070005"},
        {u"%+d", S(-5), 0, 0, u"-5"},
        {u"%+d", 5, 0, 0, u"+5"},
        {u"%+u", 0, 0, 0, u"+0"},
        {u"%+5x|", 255, 0, 0, u"  +ff|"},
        {u"%+05x|", 255, 0, 0, u"+00ff|"},
        {u"%+-6d|", 42, 0, 0, u"+42   |"},
        {u"% #8x|", 255, 0, 0, u"0x    ff|"},
        {u"%#5x|", 255, 0, 0, u" 0xff|"},
        {u"%#-7x|", 255, 0, 0, u"0xff   |"},
        {u"%#-5o|", 8, 0, 0, u"010  |"},
        {u"%-+#10X|", 0xab, 0, 0, u"+0xAB     |"},
        {u"%b", 5, 0, 0, u"101"},
        {u"%y", 5, 0, 0, u"101"},
        {u"%#b", 5, 0, 0, u"0b101"},
        {u"%#y", 5, 0, 0, u"0y101"},
        {u"%#+b", 5, 0, 0, u"+0b101"},
        {u"%#o", 8, 0, 0, u"010"},
        {u"%#o", 0, 0, 0, u"00"},
        {u"%#u", 7, 0, 0, u"0n7"},
        {u"%#d", S(-7), 0, 0, u"-0n7"},
        {u"%i", S(-12), 0, 0, u"-12"},
    };
    RunRows(rows);
}

TEST(FormatTest, PrecisionKeepsTrailingDigits) {
    static const IntRow rows[] = {
        {u"%.2u", 987, 0, 0, u"87"},
        {u"%.2x", 0x1234, 0, 0, u"34"},
        {u"%#.2x", 0x1234, 0, 0, u"0x34"},
        {u"%.3d", S(-987), 0, 0, u"-987"},
        {u"%.3d", S(-1987), 0, 0, u"-987"},
        {u"%.5u", 42, 0, 0, u"42"},
        {u"%.0u", 123, 0, 0, u"123"},
        {u"%.1llu", kAllOnes, 0, 0, u"5"},
        {u"%10.3u|", 12345, 0, 0, u"       345|"},
        {u"%010.3u|", 12345, 0, 0, u"0000000345|"},
    };
    RunRows(rows);
}

TEST(FormatTest, SizeClasses) {
    static const IntRow rows[] = {
        {u"%u", S(-1), 0, 0, u"4294967295"},
        {u"%d", 0xFFFFFFFFu, 0, 0, u"-1"},
        {u"%d", 0x80000000u, 0, 0, u"-2147483648"},
        {u"%o", kAllOnes, 0, 0, u"37777777777"},
        {u"%x", 0xFFFFFFFFF, 0, 0, u"ffffffff"},
        {u"%lx", 0xFFFFFFFFF, 0, 0, u"ffffffff"},
        {u"%Iu", 0x1FFFFFFFF, 0, 0, u"8589934591"},
        {u"%zu", 0x1FFFFFFFF, 0, 0, u"8589934591"},
        {u"%lu", 0x1FFFFFFFF, 0, 0, u"4294967295"},
        {u"%I32u", 0x1FFFFFFFF, 0, 0, u"4294967295"},
        {u"%I32d", 0x1FFFFFFFF, 0, 0, u"-1"},
        {u"%ld", 0xFFFFFFFFu, 0, 0, u"-1"},
        {u"%Id", 0xFFFFFFFFu, 0, 0, u"4294967295"},
        {u"%zd", kAllOnes, 0, 0, u"-1"},
        {u"%lld", kAllOnes, 0, 0, u"-1"},
        {u"%llu", kAllOnes, 0, 0, u"18446744073709551615"},
        {u"%I64u", kAllOnes, 0, 0, u"18446744073709551615"},
        {u"%I64d", 0x8000000000000000, 0, 0, u"-9223372036854775808"},
        {u"%lly", kAllOnes, 0, 0, kOnes64.c_str(), 80},
        {u"%hd", 0x8000, 0, 0, u"-32768"},
        {u"%hd", 0x1FFFF, 0, 0, u"-1"},
        {u"%hx", 0x8000, 0, 0, u"8000"},
        {u"%hu", 0x1FFFF, 0, 0, u"65535"},
    };
    RunRows(rows);
}

TEST(FormatTest, Pointers) {
    static const IntRow rows[] = {
        {u"%p", 0x1234, 0, 0, u"1234"},
        {u"%P", 0xABC, 0, 0, u"ABC"},
        {u"%#p", 0xABC, 0, 0, u"0xabc"},
        {u"%#P", 0xABC, 0, 0, u"0xABC"},
        {u"%#08p", 0xABC, 0, 0, u"0x000abc"},
        {u"%+8p", 0x1234, 0, 0, u"+0001234"},
        {u"%+8p", 0x123456789A, 0, 0, u"+456789a"},
        {u"%+#10p", 0xABC, 0, 0, u"+0x0000abc"},
        {u"% +8p", 0x1234, 0, 0, u"+   1234"},
        {u"%+2p", 0xABC, 0, 0, u"+c"},
        {u"%+1p", 0xABC, 0, 0, u"+abc"},
        {u"%+8.2p", 0x1234, 0, 0, u"     +34"},
        {u"%p", kAllOnes, 0, 0, u"ffffffffffffffff"},
        {u"%hp", 0x123456789, 0, 0, u"123456789"},
    };
    RunRows(rows);
}

TEST(FormatTest, Characters) {
    static const IntRow rows[] = {
        {u"%c", 0x10041, 0, 0, u"A"},
        {u"%c", 0x20AC, 0, 0, u"\u20AC"},
        {u"%C", 0x1E9, 0, 0, u"\u00E9"},
        {u"%C", 0x20AC, 0, 0, u"\u00AC"},
        {u"%+c", 'A', 0, 0, u"+A"},
        {u"%#c", 'A', 0, 0, u"A"},
        {u"%05c|", 'A', 0, 0, u"0000A|"},
        {u"%-3C|", 'x', 0, 0, u"x  |"},
        {u"%.0c%.1C", 'a', 'b', 0, u"ab"},
    };
    RunRows(rows);
    // A NUL character is written and counted like any other.
    EXPECT_EQ(Fmt(64, u"a%cb", 0), std::u16string(u"a\0b", 3));
    EXPECT_EQ(Fmt(64, u"%C|%c", 0x100, 0x10000), std::u16string(u"\0|\0", 3));
}

TEST(FormatTest, Texts) {
    // Unterminated: the precision alone must stop the read.
    static const char kRiff[4] = {'R', 'I', 'F', 'F'};
    static const char16_t kWideRiff[4] = {u'R', u'I', u'F', u'F'};
    static const struct {
        const char16_t* format;
        const void* text;
        const char16_t* expected;
    } rows[] = {
        {u"%s", nullptr, u"(null)"},
        {u"%S", nullptr, u"(null)"},
        {u"%.3s", nullptr, u"(nu"},
        {u"%.3s", u"hello", u"hel"},
        {u"%.4S", "RIFFxxxx", u"RIFF"},
        {u"%.4S", kRiff, u"RIFF"},
        {u"%.4s", kWideRiff, u"RIFF"},
        {u"%.9S", "ab", u"ab"},
        {u"%5.3s|", u"abcdef", u"  abc|"},
        {u"%3s|", u"abcdef", u"abcdef|"},
        {u"%-4S|", "ab", u"ab  |"},
        {u"%S", "\xE9t\xE9", u"\u00E9t\u00E9"},
        {u"%+s", u"ab", u"+ab"},
        {u"%+S", "ab", u"+ab"},
        {u"%#s", u"ab", u"ab"},
        {u"%05s|", u"ab", u"000ab|"},
        {u"[%5s]", u"", u"[]"},
        {u"[%+5s]", u"", u"[]"},
        {u"[%-5S]", "", u"[]"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(Show(r.format));
        EXPECT_EQ(Fmt(64, r.format, r.text), r.expected);
    }
    EXPECT_EQ(Fmt(64, u"%08X-%04X-%04X-%02X%02X", 0x12345678, 0xABCD, 0xEF, 1, 0xA2), u"12345678-ABCD-00EF-01A2");
    EXPECT_EQ(Fmt(64, u"%s=%u (%S)", u"rate", 44100u, "Hz"), u"rate=44100 (Hz)");
}

TEST(FormatTest, PercentAndUnrecognisedSequences) {
    static const IntRow rows[] = {
        {u"%%", 0, 0, 0, u"%"},
        {u"100%", 0, 0, 0, u"100%"},
        {u"%", 0, 0, 0, u"%"},
        {u"", 0, 0, 0, u""},
        {u"%d%", 5, 0, 0, u"5%"},
        {u"%5%", 0, 0, 0, u"%5%"},
        {u"%5k", 0, 0, 0, u"%5k"},
        {u"%.x", 0, 0, 0, u"%.x"},
        {u"%5.d", 0, 0, 0, u"%5.d"},
        {u"%hhd", 0, 0, 0, u"%hhd"},
        {u"%I3d", 0, 0, 0, u"%I3d"},
        {u"%I64", 0, 0, 0, u"%I64"},
        {u"%ll", 0, 0, 0, u"%ll"},
        {u"%5", 0, 0, 0, u"%5"},
        {u"%-%", 0, 0, 0, u"%-%"},
        {u"%D%Ld%w", 0, 0, 0, u"%D%Ld%w"},
        {u"%ln", 0, 0, 0, u"%ln"},
        // An unrecognised sequence takes no argument, not even for its '*'.
        {u"%.%d", 5, 0, 0, u"%.5"},
        {u"%hhd%d", 5, 0, 0, u"%hhd5"},
        {u"%5.d%d", 7, 0, 0, u"%5.d7"},
        {u"%*k%d", 9, 0, 0, u"%*k9"},
        {u"%*.*k%d", 1, 2, 3, u"%*.*k1"},
    };
    RunRows(rows);
}

TEST(FormatTest, StarTakesWidthAndPrecisionFromArguments) {
    static const IntRow rows[] = {
        {u"%*d|", 5, 42, 0, u"   42|"},
        {u"%-*d|", 5, 42, 0, u"42   |"},
        {u"%*.*u|", 6, 2, 12345, u"    45|"},
        {u"%*d|", 0x100000005, 42, 0, u"   42|"},  // only the low 32 bits count
        {u"%*d|%d", 3, 1, 2, u"  1|2"},
    };
    RunRows(rows);
    EXPECT_EQ(Fmt(64, u"%.*s|", 2, u"hello"), u"he|");
    // A width of -1 is 4294967295: the padding fills the rest of the buffer.
    EXPECT_EQ(Fmt(64, u"%*d|", -1, 42), std::u16string(63, u' '));
    EXPECT_EQ(Fmt(64, u"%-*d|", -1, 42), u"42" + std::u16string(61, u' '));
}

TEST(FormatTest, CountStore) {
    constexpr int32_t kUntouched = -7;
    static const struct {
        const char16_t* format;
        const char16_t* expected;
        int32_t stored;
        uint32_t capacity;
    } rows[] = {
        {u"ab%ncd", u"abcd", 2, 64},
        {u"%n", u"", 0, 64},
        {u"%%%n", u"%", 1, 64},
        {u"%5n", u"%5n", kUntouched, 64},
        {u"%ln", u"%ln", kUntouched, 64},
        {u"abc%n", u"abc", kUntouched, 4},  // the capacity ran out before the store
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(Show(r.format));
        int32_t target[2] = {kUntouched, kUntouched};  // the second catches a store wider than 32 bits
        EXPECT_EQ(Fmt(r.capacity, r.format, &target[0]), r.expected);
        EXPECT_EQ(target[0], r.stored);
        EXPECT_EQ(target[1], kUntouched);
    }
    int32_t target = kUntouched;
    EXPECT_EQ(Fmt(64, u"%d%n|%d", 123, &target, 45), u"123|45");
    EXPECT_EQ(target, 3);
    target = kUntouched;
    EXPECT_EQ(Fmt(4, u"%s%n", u"hello", &target), u"hel");
    EXPECT_EQ(target, kUntouched);
}

TEST(FormatTest, CutKeepsTheLeftmostPart) {
    static const std::u16string kOnes63(63, u'1');
    static const IntRow rows[] = {
        {u"abcdef", 0, 0, 0, u"abc", 4},
        {u"abcdef", 0, 0, 0, u"abcdef", 7},
        {u"x%u", 123456, 0, 0, u"x12", 4},
        {u"%5u|", 42, 0, 0, u"   ", 4},
        {u"%#08X", 5, 0, 0, u"0x0", 4},
        {u"%+#-9x|", 255, 0, 0, u"+0x", 4},
        {u"% #8x|", 255, 0, 0, u"0x ", 4},
        {u"%05d", S(-3), 0, 0, u"-0", 3},
        {u"%+x", 255, 0, 0, u"+", 2},
        {u"%-5u|", 42, 0, 0, u"42   ", 6},
        {u"%%%%", 0, 0, 0, u"%", 2},
        {u"ab%%", 0, 0, 0, u"ab", 3},
        {u"%c%c|x", 'a', 'b', 0, u"ab|", 4},
        {u"abc", 0, 0, 0, u"", 1},
        {u"%d", 5, 0, 0, u"", 1},
        {u"%lly", kAllOnes, 0, 0, kOnes63.c_str(), 64},
    };
    RunRows(rows);
    EXPECT_EQ(Fmt(3, u"%s", nullptr), u"(n");
    EXPECT_EQ(Fmt(5, u"%S|", "abcdef"), u"abcd");
}

TEST(FormatTest, FixedBufferWrappersReturnTheirBuffer) {
    WChar small[16];
    EXPECT_EQ(FormatText16(small, u"%s", u"0123456789abcdefghij"), small);
    EXPECT_EQ(std::u16string(small), u"0123456789abcde");
    WChar large[50];
    EXPECT_EQ(FormatText50(large, u"%060u", 7), large);
    EXPECT_EQ(std::u16string(large), std::u16string(49, u'0'));
    // The wrappers stand as arguments of another formatting call.
    EXPECT_EQ(Fmt(64, u"(%s)%s", FormatText16(small, u"%x", 255), FormatText50(large, u"_%s", u"PCM")), u"(ff)_PCM");
}

TEST(FormatTest, MissingArgumentsReadAsZero) {
    // The slots behind the list's end hold a value the formatter must never see.
    const uint64_t slots[] = {5, 77, 77, 77};
    static const struct {
        const char16_t* format;
        uint32_t slotCount;
        const char16_t* expected;
    } rows[] = {
        {u"%d %d", 1, u"5 0"},
        {u"%d|%x|%s|%S", 0, u"0|0|(null)|(null)"},
        {u"%*d|", 1, u"    0|"},
        {u"%*.*u|%#p", 2, u"    0|0x0"},
        {u"%d%%%d%d", 2, u"5%770"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(Show(r.format));
        std::vector<char16_t> buffer(68, kGuard);
        EXPECT_EQ(Written(buffer, 64, FormatTextV(buffer.data(), 64, r.format, slots, r.slotCount)), r.expected);
    }
}

TEST(FormatConversionTest, UnrecognisedChangesNothing) {
    static const char16_t* const texts[] = {u"5k", u".x", u"*k", u"*.*k", u"hhd", u"I3d", u"5"};
    const uint64_t slots[] = {9, 8};
    for (const char16_t* text : texts) {
        SCOPED_TRACE(Show(text));
        WChar buffer[4] = {u'#', u'#', u'#', u'#'};
        WChar* position = buffer;
        uint32_t remaining = 3;
        const WChar* cursor = text;
        FormatArgs args{slots, 2, 0};
        EXPECT_FALSE(FormatConversion(&position, &remaining, &cursor, &args));
        EXPECT_EQ(position, buffer);
        EXPECT_EQ(remaining, 3u);
        EXPECT_EQ(cursor, text);
        EXPECT_EQ(args.slots, slots);
        EXPECT_EQ(args.count, 2u);
        EXPECT_EQ(args.taken, 0u);
        EXPECT_EQ(std::u16string(buffer, 4), u"####");
    }
}

TEST(FormatConversionTest, RecognisedMovesAllFour) {
    const struct {
        const char16_t* text;
        uint64_t a0, a1, a2;
        uint32_t remaining;
        const char16_t* written;
        ptrdiff_t taken;  // characters of the conversion
        uint32_t slotsTaken;
    } rows[] = {
        {u"5d!", 42, 0, 0, 7, u"   42", 2, 1},
        {u"*.*u!", 4, 2, 12345, 7, u"  45", 4, 3},
        {u"s!", 0, 0, 0, 3, u"(nu", 1, 1},          // cut at the remaining count
        {u"S!", ToSlot(""), 0, 0, 7, u"", 1, 1},  // an empty text writes nothing but counts
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(Show(r.text));
        const uint64_t slots[] = {r.a0, r.a1, r.a2};
        WChar buffer[8] = {};
        WChar* position = buffer;
        uint32_t remaining = r.remaining;
        const WChar* cursor = r.text;
        FormatArgs args{slots, 3, 0};
        EXPECT_TRUE(FormatConversion(&position, &remaining, &cursor, &args));
        ptrdiff_t written = position - buffer;
        EXPECT_EQ(std::u16string(buffer, static_cast<size_t>(written)), r.written);
        EXPECT_EQ(remaining + written, static_cast<ptrdiff_t>(r.remaining));
        EXPECT_EQ(cursor, r.text + r.taken);
        EXPECT_EQ(args.taken, r.slotsTaken);
    }
}

TEST(IntToDigitsTest, MostSignificantFirstCutToCapacity) {
    static const struct {
        uint64_t value;
        uint32_t base, capacity;
        const char16_t* expected;
        bool only64;  // the value needs more than 32 bits
    } rows[] = {
        {123456, 10, 4, u"123", false},
        {123456, 10, 1, u"", false},
        {0, 10, 70, u"0", false},
        {35, 36, 70, u"z", false},
        {36, 36, 70, u"10", false},
        {5, 2, 70, u"101", false},
        {255, 8, 70, u"377", false},
        {0xFFFFFFFF, 16, 70, u"ffffffff", false},
        {0xFFFFFFFF, 10, 70, u"4294967295", false},
        {0xFFFFFFFF, 36, 70, u"1z141z3", false},
        {kAllOnes, 2, 70, kOnes64.c_str(), true},
        {kAllOnes, 10, 70, u"18446744073709551615", true},
        {kAllOnes, 36, 70, u"3w5e11264sgsf", true},
        {kAllOnes, 16, 5, u"ffff", true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(Show(r.expected) + " capacity " + std::to_string(r.capacity));
        std::vector<WChar> buffer(r.capacity + 2, kGuard);
        EXPECT_EQ(Written(buffer, r.capacity, IntToDigits64(buffer.data(), r.capacity, r.value, r.base)), r.expected);
        if (r.only64) continue;
        std::vector<WChar> buffer32(r.capacity + 2, kGuard);
        uint32_t n = IntToDigits32(buffer32.data(), r.capacity, static_cast<uint32_t>(r.value), r.base);
        EXPECT_EQ(Written(buffer32, r.capacity, n), r.expected);
    }
}

TEST(CopyTest, BoundedByCapacityAndSourceLimit) {
    static const struct {
        const char* narrow;
        const char16_t* wide;
        uint32_t capacity, limit;
        const char16_t* expected;
    } rows[] = {
        {"hello", u"hello", 4, 0, u"hel"},
        {"hello", u"hello", 10, 3, u"hel"},
        {"hello", u"hello", 10, 0, u"hello"},
        {"hello", u"hello", 6, 0, u"hello"},
        {"abcdef", u"abcdef", 3, 5, u"ab"},
        {"", u"", 10, 0, u""},
        {"abc", u"abc", 1, 0, u""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(Show(r.wide) + " capacity " + std::to_string(r.capacity) + " limit " + std::to_string(r.limit));
        std::vector<WChar> buffer(r.capacity + 2, kGuard);
        EXPECT_EQ(Written(buffer, r.capacity, CopyNarrowToWide(buffer.data(), r.capacity, r.narrow, r.limit)),
                  r.expected);
        std::vector<WChar> wideBuffer(r.capacity + 2, kGuard);
        EXPECT_EQ(Written(wideBuffer, r.capacity, CopyWideBounded(wideBuffer.data(), r.capacity, r.wide, r.limit)),
                  r.expected);
    }
    // High bytes widen with zeros, as the formatter's "%S" does.
    std::vector<WChar> buffer(12, kGuard);
    EXPECT_EQ(Written(buffer, 8, CopyNarrowToWide(buffer.data(), 8, "\x80\xE9\xFF", 0)), u"\u0080\u00E9\u00FF");
}

TEST(LengthBoundedTest, StopsAtNulOrBound) {
    static const char kRiff[4] = {'R', 'I', 'F', 'F'};
    static const char16_t kWideRiff[4] = {u'R', u'I', u'F', u'F'};
    static const struct {
        const char* narrow;
        const char16_t* wide;
        uint32_t bound, expected;
    } rows[] = {
        {"RIFFxx", u"RIFFxx", 4, 4},
        {"RI", u"RI", 4, 2},
        {"", u"", 5, 0},
        {"abc", u"abc", 100, 3},
        {kRiff, kWideRiff, 4, 4},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(NarrowLengthBounded(rows[i].narrow, rows[i].bound), rows[i].expected);
        EXPECT_EQ(WideLengthBounded(rows[i].wide, rows[i].bound), rows[i].expected);
    }
}

}  // namespace
