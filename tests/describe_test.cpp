// The one-line format description.
#include "waveformat/describe.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Only the fields the description shows.
struct Fields {
    uint16_t tag, channels;
    uint32_t rate;
    uint16_t bits, cbSize, validBits;
    uint32_t mask;
    GUID subFormat;
};

void Put16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v), p[1] = uint8_t(v >> 8); }
void Put32(uint8_t* p, uint32_t v) { Put16(p, v), Put16(p + 2, v >> 16); }

WAVEFORMATEXTENSIBLE Make(const Fields& f) {
    WAVEFORMATEXTENSIBLE w = {};
    Put16(w.bytes + 0, f.tag), Put16(w.bytes + 2, f.channels), Put32(w.bytes + 4, f.rate);
    Put16(w.bytes + 14, f.bits), Put16(w.bytes + 16, f.cbSize), Put16(w.bytes + 18, f.validBits);
    Put32(w.bytes + 20, f.mask);
    for (int i = 0; i < 16; ++i) w.bytes[24 + i] = f.subFormat.bytes[i];
    return w;
}

GUID TagGuid(uint16_t tag) {
    GUID g = KSDATAFORMAT_SUBTYPE_WAVEFORMATEX;
    g.bytes[0] = uint8_t(tag), g.bytes[1] = uint8_t(tag >> 8);
    return g;
}

const GUID kPcm = KSDATAFORMAT_SUBTYPE_PCM, kFloat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
constexpr uint32_t kAllFlags = DescribeFlagContainer | DescribeFlagMask;

struct Row {
    Fields in;
    uint32_t flags;
    const char16_t* expected;
};

const Row kRows[] = {
    {{1, 2, 44100, 16, 0, 0, 0, {}}, 0, u"PCM/44100/16/2"},
    {{1, 1, 8000, 8, 0, 0, 0, {}}, kAllFlags, u"PCM/8000/8/1"},
    {{1, 2, 44100, 16, 22, 12, 0, kFloat}, kAllFlags, u"PCM/44100/16/2"},
    {{3, 1, 44100, 32, 0, 0, 0, {}}, kAllFlags, u"Flt/44100/32/1"},
    {{0xFFFE, 2, 48000, 32, 22, 24, 0x3, kPcm}, 0, u"ExtPCM/48000/24(4)/2"},
    {{0xFFFE, 2, 48000, 32, 22, 24, 0x3, kPcm}, DescribeFlagMask, u"ExtPCM/48000/24(4)/2(3)"},
    {{0xFFFE, 2, 44100, 16, 22, 16, 0x3, kPcm}, 0, u"ExtPCM/44100/16/2"},
    {{0xFFFE, 2, 44100, 16, 22, 16, 0x3, kPcm}, DescribeFlagContainer, u"ExtPCM/44100/16(2)/2"},
    {{0xFFFE, 2, 44100, 16, 22, 16, 0x3, kPcm}, kAllFlags | 0x100, u"ExtPCM/44100/16(2)/2(3)"},
    {{0xFFFE, 2, 44100, 16, 22, 16, 0, kPcm}, 0, u"ExtPCM/44100/16/2(0)"},
    {{0xFFFE, 1, 44100, 16, 22, 16, 0x4, kPcm}, 0, u"ExtPCM/44100/16/1"},
    {{0xFFFE, 1, 44100, 16, 22, 16, 0x1, kPcm}, 0, u"ExtPCM/44100/16/1(1)"},
    {{0xFFFE, 4, 44100, 16, 22, 16, 0x33, kPcm}, 0, u"ExtPCM/44100/16/4(33)"},
    {{0xFFFE, 6, 48000, 24, 22, 24, 0x3F, kPcm}, 0, u"ExtPCM/48000/24/6(3f)"},
    {{0xFFFE, 0, 48000, 24, 22, 24, 0, kPcm}, 0, u"ExtPCM/48000/24/0"},
    {{0xFFFE, 2, 96000, 24, 22, 20, 0x3, kPcm}, 0, u"ExtPCM/96000/20/2"},
    {{0xFFFE, 6, 48000, 32, 22, 32, 0x3F, kFloat}, kAllFlags, u"ExtFlt/48000/32/6"},
    {{0x55, 2, 44100, 0, 12, 0, 0, {}}, 0, u"(55)/44100/0/2"},
    {{0x55, 2, 44100, 0, 22, 0, 0, kPcm}, 0, u"ExtPCM/44100/0/2(0)"},
    {{0xFFFE, 2, 44100, 4, 22, 0, 0x3, TagGuid(2)}, 0, u"Ext(2)/44100/4/2"},
    // Below 22 the SubFormat bytes are not part of the descriptor, yet an
    // extensible tag is still shown as the tag they stand for.
    {{0xFFFE, 2, 44100, 4, 21, 0, 0x3, TagGuid(2)}, 0, u"(2)/44100/4/2"},
    {{0, 0, 0, 0, 0, 0, 0, {}}, 0, u"NoFormat"},
    {{0, 2, 44100, 16, 22, 16, 3, {}}, 0, u"NoFormat"},
    {{0, 2, 44100, 16, 10, 0, 0, {}}, 0, u"(0)/44100/16/2"},
    // The longest description there is, 45 characters.
    {{0xFFFE, 0xFFFF, 0xFFFFFFFF, 0xFFFF, 22, 0xFFFF, 0xFFFFFFFF, kPcm}, 0,
     u"ExtPCM/4294967295/65535(8191)/65535(ffffffff)"},
};

TEST(WaveFormatDescribe, Table) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(&row - kRows);
        WChar buffer[50];
        const uint32_t count = WaveFormatDescribe(Make(row.in), buffer, 50, row.flags);
        EXPECT_EQ(std::u16string(buffer), row.expected);
        EXPECT_EQ(count, std::char_traits<char16_t>::length(row.expected));
    }
}

TEST(WaveFormatDescribe, CutsToCapacity) {
    WChar buffer[10];
    EXPECT_EQ(WaveFormatDescribe(Make({1, 2, 44100, 16, 0, 0, 0, {}}), buffer, 10, 0), 9u);
    EXPECT_EQ(std::u16string(buffer), u"PCM/44100");
}

}  // namespace
