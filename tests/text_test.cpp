// The UTF-8 codec that the backends and the output channel share: every kind
// of unit to UTF-8, and which byte sequences decode.
#include <gtest/gtest.h>

#include "platform/scan.h"
#include "platform/text.h"
#include "tests/test_support.h"

namespace {

// A lone half is no byte on any system here: only a backend that made such
// halves of a name's bytes gives them back (the POSIX tests show that).
TEST(Utf8Codec, EveryKindOfUnitToUtf8) {
    const struct { std::u16string units; std::string bytes; } cases[] = {
        {u"a\r\n", "a\r\n"},
        {u"\u007F\u0080\u07FF\u0800\uFFFF", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
        {u"\U0001F600\U0010FFFF", "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
        {u"\xD800\xDC80", "\xF0\x90\x82\x80"},
        {u"\xDC80x.wav", "\xEF\xBF\xBDx.wav"},
        {u"\xDCFF\xDC7F\xDD00", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {u"a\xD83D", "a\xEF\xBF\xBD"},
        {u"\xDBFF\xD800\xDC00", "\xEF\xBF\xBD\xF0\x90\x80\x80"},
        {u"\xD800\xE000\xDFFF", "\xEF\xBF\xBD\xEE\x80\x80\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.units));
        EXPECT_EQ(EncodedBy(WideToUtf8, c.units), c.bytes);
    }
    // A pair cut by the count is a lone half.
    uint8_t bytes[8];
    EXPECT_EQ(WideToUtf8(u"\xD800\xDC00", 1, bytes), 3u);
}

// Each sequence with its code point and length, or 0 and 0 when its first
// byte begins nothing valid.
TEST(Utf8Codec, WhatDecodes) {
    const struct { std::string bytes; uint32_t codePoint; uint32_t length; } cases[] = {
        {"A", 'A', 1}, {"\xC2\x80", 0x80, 2}, {"\xDF\xBF", 0x7FF, 2}, {"\xE0\xA0\x80", 0x800, 3},
        {"\xED\x9F\xBF", 0xD7FF, 3}, {"\xEF\xBF\xBF", 0xFFFF, 3}, {"\xF0\x90\x80\x80", 0x10000, 4},
        {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4}, {"\xC3\xA9t", 0xE9, 2},
        // Not UTF-8: stray continuation, overlong forms, surrogate halves,
        // beyond U+10FFFF, a sequence cut short or broken.
        {"\x80", 0, 0}, {"\xC0\x80", 0, 0}, {"\xC1\xBF", 0, 0}, {"\xE0\x9F\xBF", 0, 0}, {"\xF0\x8F\xBF\xBF", 0, 0},
        {"\xED\xA0\x80", 0, 0}, {"\xED\xBF\xBF", 0, 0}, {"\xF4\x90\x80\x80", 0, 0}, {"\xF5\x80\x80\x80", 0, 0},
        {"\xFF", 0, 0}, {"\xE2\x82", 0, 0}, {"\xE2\x28\xA1", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        uint32_t codePoint = 0;
        uint32_t length = DecodeUtf8(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(), &codePoint);
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(codePoint, c.codePoint);
    }
}

// Bytes as a name carries them, into a buffer that may be too short: a
// unit is never written past it, and the count tells how many were needed.
TEST(Utf8Codec, BytesAsANameCarriesThem) {
    const struct { std::string bytes; size_t capacity; std::u16string written; size_t count; } cases[] = {
        {"a\xE9\xC3\xA9", 8, u"a\xDCE9\u00E9", 3}, {std::string("\0x", 2), 8, std::u16string(u"\0x", 2), 2},
        {"\xF0\x9F\x98\x80", 8, u"\U0001F600", 2}, {"\xF0\x9F\x98\x80", 1, u"\xD83D", 2},
        {"abc", 2, u"ab", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        WChar out[9] = {};
        out[c.capacity] = u'!';
        size_t count = BytesToUnits(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(), out, c.capacity);
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(std::u16string(out, c.written.size()), c.written);
        EXPECT_EQ(out[c.capacity], u'!');
    }
}

// What a worker may say the program wrote, as the opener checks one frame of
// standard output, at the edges of each rule.
TEST(WorkerLines, OnlyWhatTheProgramWrites) {
    const std::string longest = std::string(kScanLineBytes - 1, 'a') + "\n";
    const struct {
        std::string lines;
        bool taken;
    } kCases[] = {
        {"a\n\xc2\xa0\x7f\xe9\n", true},  // NBSP, DEL, a name's raw byte
        {longest, true},
        {"a" + longest, false},
        {"a", false},
        {"", false},
        {"a\tb\n", false},
        {"\xc2\x80\n", false},  // C1, first and last
        {"\xc2\x9f\n", false},
        {"\x9f\n", false},      // a lone byte an 8-bit terminal takes for C1
        {"\xe2\x80\xae\n", false},
        {"\xe2\x81\xa9\n", false},
        {"\xe2\x80\xa8\n", false},
        {"a\n==> b\n", false},
        {"<== exit code 0\n", false},
        {"=> a\n<=> b\n", true},
    };
    const uint32_t codes[] = {0};
    const ScanLimits limits = {0, false, codes, 1};
    const ScanReplyHeader last = {1, 0};
    for (const auto& c : kCases) {
        std::string reply(reinterpret_cast<const char*>(&last), sizeof last);
        reply += {1, static_cast<char>(c.lines.size()), static_cast<char>(c.lines.size() >> 8)};
        reply += c.lines;
        ScanReplyState state = {1, false};
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(reply.data());
        EXPECT_EQ(ScanCheckReply(bytes, static_cast<uint32_t>(reply.size()), &limits, &state) == kReplyTaken, c.taken)
            << c.lines;
    }
}

}  // namespace
