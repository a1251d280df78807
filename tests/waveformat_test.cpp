// Format descriptors: the five predicates that classify one, and the short
// description ("PCM/44100/16/2") made from it, alone and cut short.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/test_support.h"
#include "waveformat/describe.h"
#include "waveformat/waveformat.h"

namespace {

const std::string kNull(16, '\0');
const std::string kOther = "\x90\x31\xBA\x6D\xBD\x67\xCF\x11\xA0\xF7\x00\x20\xAF\xD1\x56\xE4";

// The 16 common bytes, then cbSize, the valid bits, the mask and the
// SubFormat.
WAVEFORMATEXTENSIBLE Record(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t byteRate, uint16_t align,
                            uint16_t bits, uint16_t cbSize = 0, uint16_t valid = 0, uint32_t mask = 0,
                            const std::string& subFormat = kNull) {
    const std::string bytes =
        Format16(tag, channels, rate, byteRate, align, bits) + Le16(cbSize) + Le16(valid) + Le32(mask) + subFormat;
    WAVEFORMATEXTENSIBLE record;
    std::memcpy(record.bytes, bytes.data(), sizeof record.bytes);
    return record;
}

TEST(WaveFormatPredicates, Table) {
    const struct {
        const char* what;
        WAVEFORMATEXTENSIBLE format;
        bool present, isFloat, pcmOrFloat, hasSubFormat, valid;
    } rows[] = {
        {"PCM stereo 16", Record(1, 2, 44100, 176400, 4, 16), true, false, true, false, true},
        {"PCM 0 bits", Record(1, 2, 44100, 0, 0, 0), true, false, true, false, false},
        {"PCM 12 bits", Record(1, 1, 44100, 88200, 2, 12), true, false, true, false, false},
        {"PCM no rate", Record(1, 2, 0, 0, 4, 16), true, false, true, false, false},
        {"PCM no channels", Record(1, 0, 44100, 0, 0, 16), true, false, true, false, false},
        {"rate agrees, block wrong", Record(1, 2, 44100, 264600, 6, 16), true, false, true, false, false},
        {"rate disagrees, block wrong", Record(1, 2, 44100, 176400, 6, 16), true, false, true, false, true},
        {"product wraps to 32 bits", Record(1, 2, 0x80000000u, 0, 6, 16), true, false, true, false, false},
        // Past byte 15 a 16-byte PCM or float descriptor holds whatever the
        // caller put there; none of it may count.
        {"PCM ignores its extension", Record(1, 2, 44100, 176400, 4, 16, 22, 0, 0, SubFormat(3)), true, false, true,
         false, true},
        {"float 24 ignores its extension", Record(3, 1, 44100, 132300, 3, 24, 0xFFFF, 0, 3, SubFormat(1)), true, true,
         true, false, false},
        {"ext PCM 24 in 32", Record(0xFFFE, 2, 48000, 384000, 8, 32, 22, 24, 3, SubFormat(1)), true, false, true, true,
         true},
        {"ext PCM 0 valid bits", Record(0xFFFE, 2, 48000, 384000, 8, 32, 22, 0, 3, SubFormat(1)), true, false, true,
         true, false},
        {"ext PCM 33 valid bits", Record(0xFFFE, 2, 48000, 384000, 8, 32, 22, 33, 3, SubFormat(1)), true, false, true,
         true, false},
        {"ext float 32", Record(0xFFFE, 2, 48000, 384000, 8, 32, 22, 32, 3, SubFormat(3)), true, true, true, true, true},
        {"ext float 64", Record(0xFFFE, 2, 48000, 768000, 16, 64, 22, 64, 3, SubFormat(3)), true, true, true, true,
         false},
        {"ext cbSize 21", Record(0xFFFE, 2, 48000, 384000, 8, 32, 21, 24, 3, SubFormat(1)), true, false, false, false,
         true},
        {"ext other tag's GUID", Record(0xFFFE, 2, 44100, 88200, 2, 8, 22, 8, 3, SubFormat(0x55)), true, false, false,
         true, true},
        {"ext non-tag GUID", Record(0xFFFE, 2, 44100, 88200, 2, 8, 22, 8, 3, kOther), true, false, false, true, false},
        {"tag 0 cbSize 0", Record(0, 2, 44100, 176400, 4, 16), false, false, false, false, false},
        {"tag 0 cbSize 10", Record(0, 2, 44100, 176400, 4, 16, 10), true, false, false, false, true},
        {"tag 0 null SubFormat", Record(0, 2, 44100, 176400, 4, 16, 22, 16, 3), false, false, false, true, false},
        // Only the extensible tag may carry a SubFormat.
        {"tag 0 carrying PCM", Record(0, 2, 44100, 176400, 4, 16, 22, 16, 3, SubFormat(1)), true, false, true, true,
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(WaveFormatIsPresent(row.format), row.present);
        EXPECT_EQ(WaveFormatIsFloat(row.format), row.isFloat);
        EXPECT_EQ(WaveFormatIsPcmOrFloat(row.format), row.pcmOrFloat);
        EXPECT_EQ(WaveFormatHasSubFormat(row.format), row.hasSubFormat);
        EXPECT_EQ(WaveFormatIsValidPcm(row.format), row.valid);
    }
}

// Each description, and the same cut to a buffer of six.
TEST(WaveFormatDescribe, Table) {
    constexpr uint32_t kAll = DescribeFlagContainer | DescribeFlagMask;
    const struct {
        WAVEFORMATEXTENSIBLE format;
        uint32_t flags;
        std::u16string expected;
    } rows[] = {
        {Record(1, 2, 44100, 0, 0, 16), 0, u"PCM/44100/16/2"},
        {Record(1, 1, 8000, 0, 0, 8), kAll, u"PCM/8000/8/1"},
        {Record(3, 1, 44100, 0, 0, 32), kAll, u"Flt/44100/32/1"},
        {Record(0xFFFE, 2, 48000, 0, 0, 32, 22, 24, 0x3, SubFormat(1)), 0, u"ExtPCM/48000/24(4)/2"},
        {Record(0xFFFE, 2, 96000, 0, 0, 24, 22, 20, 0x3, SubFormat(1)), 0, u"ExtPCM/96000/20/2"},
        {Record(0xFFFE, 2, 44100, 0, 0, 16, 22, 16, 0x3, SubFormat(1)), 0, u"ExtPCM/44100/16/2"},
        {Record(0xFFFE, 2, 44100, 0, 0, 16, 22, 16, 0x3, SubFormat(1)), DescribeFlagContainer, u"ExtPCM/44100/16(2)/2"},
        {Record(0xFFFE, 2, 44100, 0, 0, 16, 22, 16, 0x3, SubFormat(1)), DescribeFlagMask | 0x100, u"ExtPCM/44100/16/2(3)"},
        {Record(0xFFFE, 2, 44100, 0, 0, 16, 22, 16, 0, SubFormat(1)), 0, u"ExtPCM/44100/16/2(0)"},
        {Record(0xFFFE, 1, 44100, 0, 0, 16, 22, 16, 0x4, SubFormat(1)), 0, u"ExtPCM/44100/16/1"},
        // Past two channels even the usual mask is shown.
        {Record(0xFFFE, 4, 44100, 0, 0, 16, 22, 16, 0x33, SubFormat(1)), 0, u"ExtPCM/44100/16/4(33)"},
        {Record(0xFFFE, 6, 48000, 0, 0, 32, 22, 32, 0x3F, SubFormat(3)), kAll, u"ExtFlt/48000/32/6"},
        {Record(0x55, 2, 44100, 0, 0, 0, 12), 0, u"(55)/44100/0/2"},
        {Record(0x55, 2, 44100, 0, 0, 0, 22, 0, 0, SubFormat(1)), 0, u"ExtPCM/44100/0/2(0)"},
        {Record(0xFFFE, 2, 44100, 0, 0, 4, 22, 0, 0x3, SubFormat(2)), 0, u"Ext(2)/44100/4/2"},
        // Below 22 the SubFormat bytes are not part of the descriptor, yet an
        // extensible tag is still shown as the tag they stand for.
        {Record(0xFFFE, 2, 44100, 0, 0, 4, 21, 0, 0x3, SubFormat(2)), 0, u"(2)/44100/4/2"},
        {Record(0, 0, 0, 0, 0, 0), 0, u"NoFormat"},
        {Record(0, 2, 44100, 0, 0, 16, 10), 0, u"(0)/44100/16/2"},
        // The longest description there is, 45 characters.
        {Record(0xFFFE, 0xFFFF, 0xFFFFFFFF, 0, 0, 0xFFFF, 22, 0xFFFF, 0xFFFFFFFF, SubFormat(1)), 0,
         u"ExtPCM/4294967295/65535(8191)/65535(ffffffff)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(ToUtf8(row.expected));
        WChar buffer[50], cut[6];
        EXPECT_EQ(WaveFormatDescribe(row.format, buffer, 50, row.flags), row.expected.size());
        EXPECT_EQ(std::u16string(buffer), row.expected);
        EXPECT_EQ(WaveFormatDescribe(row.format, cut, 6, row.flags), std::min<size_t>(5, row.expected.size()));
        EXPECT_EQ(std::u16string(cut), row.expected.substr(0, 5));
    }
}

}  // namespace
