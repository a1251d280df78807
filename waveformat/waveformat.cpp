// The descriptor's field readers, the sample-format GUID constants and the
// five predicates that classify a descriptor.
//
// For tags 1 and 3 nothing past byte 15 is read, not even cbSize, so a
// 16-byte PCM or float descriptor classifies the same whatever follows it.
// For other tags the extension (bytes 18..39) is read only when cbSize says
// it is there.
#include "waveformat/waveformat.h"

uint16_t ReadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

GUID ReadGuid(const uint8_t* p) {
    GUID guid;
    for (int i = 0; i < 16; ++i) guid.bytes[i] = p[i];
    return guid;
}

const GUID KSDATAFORMAT_SUBTYPE_WAVEFORMATEX = {
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};  // 00000000-0000-0010-8000-00AA00389B71
const GUID KSDATAFORMAT_SUBTYPE_PCM = {
    {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};  // 00000001-0000-0010-8000-00AA00389B71
const GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT = {
    {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};  // 00000003-0000-0010-8000-00AA00389B71
const GUID GUID_NULL = {{0}};

bool GuidEquals(const GUID& a, const GUID& b) {
    for (int i = 0; i < 16; ++i) {
        if (a.bytes[i] != b.bytes[i]) return false;
    }
    return true;
}

namespace {

bool IsPlainTag(uint16_t tag) {
    return tag == WAVE_FORMAT_PCM || tag == WAVE_FORMAT_IEEE_FLOAT;
}

// The GUID that stands for a format tag: the base with Data1 = tag.
GUID GuidForTag(uint16_t tag) {
    GUID guid = KSDATAFORMAT_SUBTYPE_WAVEFORMATEX;
    guid.bytes[0] = static_cast<uint8_t>(tag);
    guid.bytes[1] = static_cast<uint8_t>(tag >> 8);
    return guid;
}

}  // namespace

bool WaveFormatHasSubFormat(const WAVEFORMATEXTENSIBLE& format) {
    // Tags 1 and 3 are decided before cbSize is read: a 16-byte descriptor
    // has no cbSize at all.
    if (IsPlainTag(WaveFormatTag(format))) return false;
    return WaveFormatCbSize(format) >= kExtensibleExtensionSize;
}

GUID WaveFormatEffectiveSubFormat(const WAVEFORMATEXTENSIBLE& format) {
    if (WaveFormatHasSubFormat(format)) return ReadGuid(format.bytes + kOffset_SubFormat);
    return GuidForTag(WaveFormatTag(format));
}

bool WaveFormatIsPresent(const WAVEFORMATEXTENSIBLE& format) {
    if (WaveFormatTag(format) != 0) return true;
    const uint16_t cbSize = WaveFormatCbSize(format);
    if (cbSize == 0) return false;
    // Below 22 the effective SubFormat is the base GUID itself, never null.
    if (cbSize < kExtensibleExtensionSize) return true;
    return !GuidEquals(ReadGuid(format.bytes + kOffset_SubFormat), GUID_NULL);
}

bool WaveFormatIsFloat(const WAVEFORMATEXTENSIBLE& format) {
    return GuidEquals(WaveFormatEffectiveSubFormat(format), KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);
}

bool WaveFormatIsPcmOrFloat(const WAVEFORMATEXTENSIBLE& format) {
    const GUID subFormat = WaveFormatEffectiveSubFormat(format);
    return GuidEquals(subFormat, KSDATAFORMAT_SUBTYPE_PCM) || GuidEquals(subFormat, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);
}

bool WaveFormatIsValidPcm(const WAVEFORMATEXTENSIBLE& format) {
    if (!WaveFormatIsPresent(format)) return false;
    if (WaveFormatSamplesPerSec(format) == 0) return false;
    const uint32_t bits = WaveFormatBitsPerSample(format);
    if (bits == 0 || bits % 8 != 0) return false;
    const uint32_t channels = WaveFormatChannels(format);
    if (channels == 0) return false;
    if (WaveFormatIsFloat(format) && bits != 32) return false;

    // A byte rate that disagrees with the block alignment is tolerated; only
    // when the two agree must the block alignment also match the sample size.
    const uint32_t blockAlign = WaveFormatBlockAlign(format);
    if (WaveFormatAvgBytesPerSec(format) == blockAlign * WaveFormatSamplesPerSec(format) &&
        blockAlign != (bits / 8) * channels) {
        return false;
    }

    if (!WaveFormatHasSubFormat(format)) return true;
    // Only the extensible tag may carry a SubFormat, and that SubFormat must
    // stand for a format tag.
    if (WaveFormatTag(format) != WAVE_FORMAT_EXTENSIBLE) return false;
    for (uint32_t i = 2; i < 16; ++i) {
        if (format.bytes[kOffset_SubFormat + i] != KSDATAFORMAT_SUBTYPE_WAVEFORMATEX.bytes[i]) return false;
    }
    const uint32_t validBits = WaveFormatSamples(format);
    return validBits >= 1 && validBits <= bits;
}
