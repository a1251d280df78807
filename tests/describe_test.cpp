// The one-line format description.
#include "waveformat/describe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

const GUID kPcm = KSDATAFORMAT_SUBTYPE_PCM, kFloat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
const GUID kTag2 = {{0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr uint32_t kAll = DescribeFlagContainer | DescribeFlagMask;

struct Row {
    uint32_t tag, channels, rate, bits, cbSize, validBits, mask;
    GUID subFormat;
    uint32_t flags;
    const char16_t* expected;
};

void Put16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v), p[1] = uint8_t(v >> 8); }
void Put32(uint8_t* p, uint32_t v) { Put16(p, v), Put16(p + 2, v >> 16); }

WAVEFORMATEXTENSIBLE Make(const Row& r) {
    WAVEFORMATEXTENSIBLE w = {};
    Put16(w.bytes, r.tag), Put16(w.bytes + 2, r.channels), Put32(w.bytes + 4, r.rate), Put16(w.bytes + 14, r.bits);
    Put16(w.bytes + 16, r.cbSize), Put16(w.bytes + 18, r.validBits), Put32(w.bytes + 20, r.mask);
    for (int i = 0; i < 16; ++i) w.bytes[24 + i] = r.subFormat.bytes[i];
    return w;
}

const Row kRows[] = {
    {1, 2, 44100, 16, 0, 0, 0, {}, 0, u"PCM/44100/16/2"},
    {1, 1, 8000, 8, 0, 0, 0, {}, kAll, u"PCM/8000/8/1"},
    {3, 1, 44100, 32, 0, 0, 0, {}, kAll, u"Flt/44100/32/1"},
    {0xFFFE, 2, 48000, 32, 22, 24, 0x3, kPcm, 0, u"ExtPCM/48000/24(4)/2"},
    {0xFFFE, 2, 96000, 24, 22, 20, 0x3, kPcm, 0, u"ExtPCM/96000/20/2"},
    {0xFFFE, 2, 44100, 16, 22, 16, 0x3, kPcm, 0, u"ExtPCM/44100/16/2"},
    {0xFFFE, 2, 44100, 16, 22, 16, 0x3, kPcm, DescribeFlagContainer, u"ExtPCM/44100/16(2)/2"},
    {0xFFFE, 2, 44100, 16, 22, 16, 0x3, kPcm, DescribeFlagMask | 0x100, u"ExtPCM/44100/16/2(3)"},
    {0xFFFE, 2, 44100, 16, 22, 16, 0, kPcm, 0, u"ExtPCM/44100/16/2(0)"},
    {0xFFFE, 1, 44100, 16, 22, 16, 0x4, kPcm, 0, u"ExtPCM/44100/16/1"},
    // Past two channels even the usual mask is shown.
    {0xFFFE, 4, 44100, 16, 22, 16, 0x33, kPcm, 0, u"ExtPCM/44100/16/4(33)"},
    {0xFFFE, 6, 48000, 32, 22, 32, 0x3F, kFloat, kAll, u"ExtFlt/48000/32/6"},
    {0x55, 2, 44100, 0, 12, 0, 0, {}, 0, u"(55)/44100/0/2"},
    {0x55, 2, 44100, 0, 22, 0, 0, kPcm, 0, u"ExtPCM/44100/0/2(0)"},
    {0xFFFE, 2, 44100, 4, 22, 0, 0x3, kTag2, 0, u"Ext(2)/44100/4/2"},
    // Below 22 the SubFormat bytes are not part of the descriptor, yet an
    // extensible tag is still shown as the tag they stand for.
    {0xFFFE, 2, 44100, 4, 21, 0, 0x3, kTag2, 0, u"(2)/44100/4/2"},
    {0, 0, 0, 0, 0, 0, 0, {}, 0, u"NoFormat"},
    {0, 2, 44100, 16, 10, 0, 0, {}, 0, u"(0)/44100/16/2"},
    // The longest description there is, 45 characters.
    {0xFFFE, 0xFFFF, 0xFFFFFFFF, 0xFFFF, 22, 0xFFFF, 0xFFFFFFFF, kPcm, 0,
     u"ExtPCM/4294967295/65535(8191)/65535(ffffffff)"},
};

// Each description, and the same cut to a buffer of six.
TEST(WaveFormatDescribe, Table) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(&row - kRows);
        const std::u16string expected = row.expected;
        WChar buffer[50], cut[6];
        EXPECT_EQ(WaveFormatDescribe(Make(row), buffer, 50, row.flags), expected.size());
        EXPECT_EQ(std::u16string(buffer), expected);
        EXPECT_EQ(WaveFormatDescribe(Make(row), cut, 6, row.flags), std::min<size_t>(5, expected.size()));
        EXPECT_EQ(std::u16string(cut), expected.substr(0, 5));
    }
}

}  // namespace
