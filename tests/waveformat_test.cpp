// Classification of format descriptors: the five predicates, and through them
// the effective SubFormat.
#include "waveformat/waveformat.h"

#include <gtest/gtest.h>

namespace {

const GUID kPcm = KSDATAFORMAT_SUBTYPE_PCM, kFloat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
const GUID kTag55 = {{0x55, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID kOther = {{0x90, 0x31, 0xBA, 0x6D, 0xBD, 0x67, 0xCF, 0x11, 0xA0, 0xF7, 0x00, 0x20, 0xAF, 0xD1, 0x56, 0xE4}};

struct Row {
    const char* what;
    uint32_t tag, channels, rate, avgBytes, blockAlign, bits, cbSize, samples, mask;
    GUID subFormat;
    bool present, isFloat, pcmOrFloat, hasSubFormat, valid;
};

void Put16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v), p[1] = uint8_t(v >> 8); }
void Put32(uint8_t* p, uint32_t v) { Put16(p, v), Put16(p + 2, v >> 16); }

WAVEFORMATEXTENSIBLE Make(const Row& r) {
    WAVEFORMATEXTENSIBLE w = {};
    Put16(w.bytes, r.tag), Put16(w.bytes + 2, r.channels), Put32(w.bytes + 4, r.rate), Put32(w.bytes + 8, r.avgBytes);
    Put16(w.bytes + 12, r.blockAlign), Put16(w.bytes + 14, r.bits), Put16(w.bytes + 16, r.cbSize);
    Put16(w.bytes + 18, r.samples), Put32(w.bytes + 20, r.mask);
    for (int i = 0; i < 16; ++i) w.bytes[24 + i] = r.subFormat.bytes[i];
    return w;
}

const Row kRows[] = {
    {"PCM stereo 16", 1, 2, 44100, 176400, 4, 16, 0, 0, 0, {}, true, false, true, false, true},
    {"PCM 0 bits", 1, 2, 44100, 0, 0, 0, 0, 0, 0, {}, true, false, true, false, false},
    {"PCM 12 bits", 1, 1, 44100, 88200, 2, 12, 0, 0, 0, {}, true, false, true, false, false},
    {"PCM no rate", 1, 2, 0, 0, 4, 16, 0, 0, 0, {}, true, false, true, false, false},
    {"PCM no channels", 1, 0, 44100, 0, 0, 16, 0, 0, 0, {}, true, false, true, false, false},
    {"rate agrees, block wrong", 1, 2, 44100, 264600, 6, 16, 0, 0, 0, {}, true, false, true, false, false},
    {"rate disagrees, block wrong", 1, 2, 44100, 176400, 6, 16, 0, 0, 0, {}, true, false, true, false, true},
    {"product wraps to 32 bits", 1, 2, 0x80000000u, 0, 6, 16, 0, 0, 0, {}, true, false, true, false, false},
    // Past byte 15 a 16-byte PCM or float descriptor holds whatever the
    // caller put there; none of it may count.
    {"PCM ignores its extension", 1, 2, 44100, 176400, 4, 16, 22, 0, 0, kFloat, true, false, true, false, true},
    {"float 24 ignores its extension", 3, 1, 44100, 132300, 3, 24, 0xFFFF, 0, 3, kPcm, true, true, true, false, false},
    {"ext PCM 24 in 32", 0xFFFE, 2, 48000, 384000, 8, 32, 22, 24, 3, kPcm, true, false, true, true, true},
    {"ext PCM 0 valid bits", 0xFFFE, 2, 48000, 384000, 8, 32, 22, 0, 3, kPcm, true, false, true, true, false},
    {"ext PCM 33 valid bits", 0xFFFE, 2, 48000, 384000, 8, 32, 22, 33, 3, kPcm, true, false, true, true, false},
    {"ext float 32", 0xFFFE, 2, 48000, 384000, 8, 32, 22, 32, 3, kFloat, true, true, true, true, true},
    {"ext float 64", 0xFFFE, 2, 48000, 768000, 16, 64, 22, 64, 3, kFloat, true, true, true, true, false},
    {"ext cbSize 21", 0xFFFE, 2, 48000, 384000, 8, 32, 21, 24, 3, kPcm, true, false, false, false, true},
    {"ext other tag's GUID", 0xFFFE, 2, 44100, 88200, 2, 8, 22, 8, 3, kTag55, true, false, false, true, true},
    {"ext non-tag GUID", 0xFFFE, 2, 44100, 88200, 2, 8, 22, 8, 3, kOther, true, false, false, true, false},
    {"tag 0 cbSize 0", 0, 2, 44100, 176400, 4, 16, 0, 0, 0, {}, false, false, false, false, false},
    {"tag 0 cbSize 10", 0, 2, 44100, 176400, 4, 16, 10, 0, 0, {}, true, false, false, false, true},
    {"tag 0 null SubFormat", 0, 2, 44100, 176400, 4, 16, 22, 16, 3, {}, false, false, false, true, false},
    // Only the extensible tag may carry a SubFormat.
    {"tag 0 carrying PCM", 0, 2, 44100, 176400, 4, 16, 22, 16, 3, kPcm, true, false, true, true, false},
};

TEST(WaveFormatPredicates, Table) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        const WAVEFORMATEXTENSIBLE w = Make(row);
        EXPECT_EQ(WaveFormatIsPresent(w), row.present);
        EXPECT_EQ(WaveFormatIsFloat(w), row.isFloat);
        EXPECT_EQ(WaveFormatIsPcmOrFloat(w), row.pcmOrFloat);
        EXPECT_EQ(WaveFormatHasSubFormat(w), row.hasSubFormat);
        EXPECT_EQ(WaveFormatIsValidPcm(w), row.valid);
    }
}

}  // namespace
