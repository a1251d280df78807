// The formatter's conversion language and its cutting at the capacity, and
// the shorter road of the common conversions against the general one.
#include "runtime/format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr uint64_t kAllOnes = ~uint64_t{0};
constexpr char16_t kGuard = u'#';
const std::u16string kOnes64(64, u'1');
// Unterminated: only a bound may stop a read of these.
const char kRiff[4] = {'R', 'I', 'F', 'F'};
const char16_t kWideRiff[4] = {u'R', u'I', u'F', u'F'};

// A negative argument or a text as the slot the formatter receives.
uint64_t S(int64_t value) { return static_cast<uint64_t>(value); }
uint64_t T(const void* text) { return ToSlot(text); }

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

struct Row {
    const char16_t* format;
    uint64_t a0, a1, a2;
    std::u16string expected;
    uint32_t capacity = 64;
};

void RunRows(const std::vector<Row>& rows) {
    for (const Row& r : rows) {
        SCOPED_TRACE(Show(r.format) + " capacity " + std::to_string(r.capacity));
        EXPECT_EQ(Fmt(r.capacity, r.format, r.a0, r.a1, r.a2), r.expected);
    }
}

TEST(FormatTest, ConversionsAndCuts) {
    RunRows({
        {u"%5u|%-5u|%.9u|", 42, 42, 1234567890, u"   42|42   |234567890|"},
        // With no pad flag the sign goes after the padding, with one before it.
        {u"%5d|% 5d|%05d|", S(-3), S(-3), S(-3), u"   -3|-   3|-0003|"},
        {u"%-05d|", S(-3), 0, 0, u"-3   |"},  // the right padding is always spaces
        {u"%0 5d|% 05d|", 3, 3, 0, u"    3|00003|"},  // the last pad flag wins
        {u"%3s|", T(u"abcdef"), 0, 0, u"abcdef|"},
        {u"%+d|%+u|%i", S(-5), 0, S(-12), u"-5|+0|-12"},
        {u"%#x|%#X|%#x", 255, 255, 0, u"0xff|0xFF|0x0"},
        {u"%#b %#y %#o", 5, 5, 8, u"0b101 0y101 010"},
        {u"%#u|%#d", 7, S(-7), 0, u"0n7|-0n7"},
        {u"%#08X|%#5x|%-+#10X|", 5, 255, 0xab, u"0x000005| 0xff|+0xAB     |"},
        // A precision keeps the trailing digits and never adds any.
        {u"%.2u|%#.2x|%.3d", 987, 0x1234, S(-1987), u"87|0x34|-987"},
        {u"%.5u|%.0u|%10.3u|", 42, 123, 12345, u"42|123|       345|"},
        // Size classes pick how many of the slot's bytes count.
        {u"%u|%d|%lu", S(-1), 0xFFFFFFFFu, 0x1FFFFFFFF, u"4294967295|-1|4294967295"},
        {u"%I32u|%Id|%zu", 0x1FFFFFFFF, 0xFFFFFFFFu, 0x1FFFFFFFF, u"4294967295|4294967295|8589934591"},
        {u"%llu|%I64d", kAllOnes, 0x8000000000000000, 0, u"18446744073709551615|-9223372036854775808"},
        {u"%lly", kAllOnes, 0, 0, kOnes64, 80},
        {u"%hd|%hu", 0x8000, 0x1FFFF, 0, u"-32768|65535"},
        // Pointers, characters and texts.
        {u"%P|%p|%hp", 0xABC, kAllOnes, 0x123456789, u"ABC|ffffffffffffffff|123456789"},
        // '+' with a width and no precision: zeros up to the width, cut to it.
        {u"%+8p|%+8p|%+2p", 0x1234, 0x123456789A, 0xABC, u"+0001234|+456789a|+c"},
        {u"%+#10p|% +8p|%+8.2p", 0xABC, 0x1234, 0x1234, u"+0x0000abc|+   1234|     +34"},
        {u"%c|%c|%C", 0x10041, 0x20AC, 0x1E9, u"A|\u20AC|\u00E9"},
        {u"%+c%#c%.1C", 'A', 'B', 'b', u"+ABb"},
        {u"%.4S|%.4s|%S", T(kRiff), T(kWideRiff), T("\xE9t\xE9"), u"RIFF|RIFF|\u00E9t\u00E9"},
        // An empty text brings no sign and no padding.
        {u"%+s|%#S|[%+5s]", T(u"ab"), T("cd"), T(u""), u"+ab|cd|[]"},
        {u"a%cb", 0, 0, 0, std::u16string(u"a\0b", 3)},  // a NUL character is written and counted
        // Unrecognised sequences, also at the end of the format, stand as written.
        {u"%5%|%I3d|%D%Ld%w|%%|100%", 0, 0, 0, u"%5%|%I3d|%D%Ld%w|%|100%"},
        {u"%I64", 0, 0, 0, u"%I64"},
        {u"%5", 0, 0, 0, u"%5"},
        // An unrecognised sequence takes no argument, not even for its '*'.
        {u"%.%d|%hhd%d|%.x", 5, 6, 0, u"%.5|%hhd6|%.x"},
        {u"%*.*k%d", 1, 2, 3, u"%*.*k1"},
        {u"%*.*u|", 6, 2, 12345, u"    45|"},
        {u"%*d|", 0x100000005, 42, 0, u"   42|"},  // only the low 32 bits count
        {u"%*d|", S(-1), 42, 0, std::u16string(63, u' ')},  // a width of 4294967295 fills the buffer
        // A cut at the capacity keeps the leftmost part.
        {u"abcdef", 0, 0, 0, u"abc", 4},
        {u"abcdef", 0, 0, 0, u"abcdef", 7},
        {u"abc", 0, 0, 0, u"", 1},
        {u"x%u", 123456, 0, 0, u"x12", 4},
        {u"%#08X", 5, 0, 0, u"0x0", 4},
        {u"%-5u|", 42, 0, 0, u"42   ", 6},
        {u"%%%%", 0, 0, 0, u"%", 2},
        {u"%S|", T("abcdef"), 0, 0, u"abcd", 5},
        // Plain text is copied two characters a pass: an even capacity
        // leaves one over, and the conversion after a cut writes nothing.
        {u"abcdef%u%s", 7, T(u"xyz"), 0, u"abc", 4},
        {u"abcdefg%u", 7, 0, 0, u"abcdef", 7},
    });
}

// The digit routines on their own, as the name tables call the 32-bit one:
// cut to the capacity from the most significant digit, any base to 36.
TEST(FormatTest, IntegerToDigits) {
    const struct { uint64_t value; uint32_t base, capacity; bool wide; std::u16string digits; } rows[] = {
        {123456, 10, 4, false, u"123"}, {123456, 10, 1, false, u""}, {0, 10, 8, false, u"0"}, {35, 36, 8, false, u"z"},
        {0xFFFFFFFF, 16, 9, false, u"ffffffff"}, {kAllOnes, 2, 70, true, kOnes64}, {kAllOnes, 10, 4, true, u"184"},
        {kAllOnes, 10, 70, true, u"18446744073709551615"}, {0x1FFFFFFFF, 16, 70, true, u"1ffffffff"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.value) + " base " + std::to_string(r.base));
        std::vector<char16_t> buffer(r.capacity + 4, kGuard);
        uint32_t n = r.wide ? IntToDigits64(buffer.data(), r.capacity, r.value, r.base)
                            : IntToDigits32(buffer.data(), r.capacity, static_cast<uint32_t>(r.value), r.base);
        EXPECT_EQ(Written(buffer, r.capacity, n), r.digits);
    }
}

// The common conversions take a shorter road than the rest; a '0' flag with
// no width changes nothing in the text but sends them down the general one.
// Both roads must write the same text at every capacity.
TEST(FormatTest, CommonConversionsMatchTheGeneralPath) {
    const char narrow[] = "RIFF";
    // Each run of nines is the last value of its digit count.
    const uint64_t values[] = {0,        7,         9,          10,         99,         100,
                               999,      9999,      99999,      999999,     9999999,    99999999,
                               999999999, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFF00000001};
    const std::pair<const char16_t*, const char16_t*> formats[] = {
        {u"a%ub", u"a%0ub"}, {u"%d|", u"%0d|"}, {u"%x", u"%0x"}, {u"%#x", u"%#0x"}};
    for (uint32_t capacity = 1; capacity < 16; ++capacity) {
        for (const auto& f : formats) {
            for (uint64_t v : values) {
                SCOPED_TRACE(std::to_string(capacity) + " " + std::to_string(v));
                WChar fast[16], general[16];
                uint32_t n = FormatText(fast, capacity, f.first, v);
                ASSERT_EQ(n, FormatText(general, capacity, f.second, v));
                EXPECT_EQ(std::u16string(fast, n), std::u16string(general, n));
            }
        }
        WChar fast[16], general[16];
        uint32_t n = FormatText(fast, capacity, u"%s/%.4S", u"text", narrow);
        ASSERT_EQ(n, FormatText(general, capacity, u"%0s/%0.4S", u"text", narrow));
        EXPECT_EQ(std::u16string(fast, n), std::u16string(general, n));
    }
}

// Calls that break the contract write nothing they have no room for and go
// on: a slot list that is missing reads as zeros, a %n without a target
// stores nothing. With a target, %n stores how much is written so far.
TEST(FormatTest, BrokenContractsAndRareForms) {
    WChar buffer[16] = {u'#'};
    EXPECT_EQ(FormatTextV(nullptr, 16, u"x", nullptr, 0), 0u);
    EXPECT_EQ(FormatTextV(buffer, 0, u"x", nullptr, 0), 0u);
    EXPECT_EQ(buffer[0], u'#');
    EXPECT_EQ(FormatTextV(buffer, 16, nullptr, nullptr, 0), 0u);
    EXPECT_EQ(buffer[0], u'\0');
    EXPECT_EQ(std::u16string(buffer, FormatTextV(buffer, 16, u"%u|%u", nullptr, 2)), u"0|0");
    int32_t written = -1;
    EXPECT_EQ(Fmt(16, u"ab%ncd%n|", T(&written), 0), u"abcd|");
    EXPECT_EQ(written, 2);
    EXPECT_EQ(std::u16string(FormatText16(buffer, u"%s", u"0123456789abcdefXYZ")), u"0123456789abcde");
}

}  // namespace
