// The wave format descriptor (WAVEFORMATEX, extended to WAVEFORMATEXTENSIBLE)
// as it stands in a "fmt " chunk, the GUID that names a sample format, and
// the predicates that classify a descriptor.
//
// The record is kept as raw little-endian bytes and every field is read by
// its byte offset, so the host's struct layout and byte order never matter.
// All routines here are pure: they read the record and never write it.
#ifndef SONDREL_WAVEFORMAT_WAVEFORMAT_H
#define SONDREL_WAVEFORMAT_WAVEFORMAT_H

#include <stdint.h>

// Data1 (u32 LE), Data2 (u16 LE), Data3 (u16 LE), Data4 (8 bytes), in file
// order. Two GUIDs are equal when all 16 bytes are.
struct GUID {
    uint8_t bytes[16];
};

// The 40-byte extensible layout; a plain WAVEFORMATEX uses its first 18 bytes.
struct WAVEFORMATEXTENSIBLE {
    uint8_t bytes[40];
};

// Byte offsets of the fields, by their published names.
constexpr uint32_t kOffset_wFormatTag = 0, kOffset_nChannels = 2, kOffset_nSamplesPerSec = 4,
                   kOffset_nAvgBytesPerSec = 8, kOffset_nBlockAlign = 12, kOffset_wBitsPerSample = 14,
                   kOffset_cbSize = 16, kOffset_Samples = 18, kOffset_dwChannelMask = 20,
                   kOffset_SubFormat = 24;

constexpr uint16_t WAVE_FORMAT_PCM = 1, WAVE_FORMAT_IEEE_FLOAT = 3, WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

// The smallest cbSize whose extension holds wValidBitsPerSample,
// dwChannelMask and SubFormat; below it those bytes are not part of the
// descriptor, whatever the tag says.
constexpr uint16_t kExtensibleExtensionSize = 22;

uint16_t ReadLe16(const uint8_t* p);
uint32_t ReadLe32(const uint8_t* p);
GUID ReadGuid(const uint8_t* p);

// KSDATAFORMAT_SUBTYPE_WAVEFORMATEX is the base from which a format tag makes
// a GUID: the tag goes into Data1, the other 14 bytes stay.
extern const GUID KSDATAFORMAT_SUBTYPE_WAVEFORMATEX, KSDATAFORMAT_SUBTYPE_PCM,
    KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, GUID_NULL;

bool GuidEquals(const GUID& a, const GUID& b);

// Field accessors. The ones for bytes 16 and beyond are only meaningful where
// the predicates below say those bytes belong to the descriptor.
inline uint16_t WaveFormatTag(const WAVEFORMATEXTENSIBLE& f) { return ReadLe16(f.bytes + kOffset_wFormatTag); }
inline uint16_t WaveFormatChannels(const WAVEFORMATEXTENSIBLE& f) { return ReadLe16(f.bytes + kOffset_nChannels); }
inline uint32_t WaveFormatSamplesPerSec(const WAVEFORMATEXTENSIBLE& f) {
    return ReadLe32(f.bytes + kOffset_nSamplesPerSec);
}
inline uint32_t WaveFormatAvgBytesPerSec(const WAVEFORMATEXTENSIBLE& f) {
    return ReadLe32(f.bytes + kOffset_nAvgBytesPerSec);
}
inline uint16_t WaveFormatBlockAlign(const WAVEFORMATEXTENSIBLE& f) { return ReadLe16(f.bytes + kOffset_nBlockAlign); }
inline uint16_t WaveFormatBitsPerSample(const WAVEFORMATEXTENSIBLE& f) {
    return ReadLe16(f.bytes + kOffset_wBitsPerSample);
}
inline uint16_t WaveFormatCbSize(const WAVEFORMATEXTENSIBLE& f) { return ReadLe16(f.bytes + kOffset_cbSize); }
inline uint16_t WaveFormatSamples(const WAVEFORMATEXTENSIBLE& f) { return ReadLe16(f.bytes + kOffset_Samples); }
inline uint32_t WaveFormatChannelMask(const WAVEFORMATEXTENSIBLE& f) {
    return ReadLe32(f.bytes + kOffset_dwChannelMask);
}

// The SubFormat that decides the kind of samples: the record's own when it
// carries one (WaveFormatHasSubFormat), else the GUID that stands for its tag.
GUID WaveFormatEffectiveSubFormat(const WAVEFORMATEXTENSIBLE& format);

// The descriptor names some format (a non-zero tag, or a tag 0 whose
// effective SubFormat is not GUID_NULL; tag 0 with cbSize 0 names nothing).
bool WaveFormatIsPresent(const WAVEFORMATEXTENSIBLE& format);
// The samples are IEEE floating point.
bool WaveFormatIsFloat(const WAVEFORMATEXTENSIBLE& format);
// The samples are integer PCM or IEEE floating point.
bool WaveFormatIsPcmOrFloat(const WAVEFORMATEXTENSIBLE& format);
// The record's own SubFormat counts: the tag is neither 1 nor 3 and cbSize
// is at least 22. Any such tag, not only 0xFFFE.
bool WaveFormatHasSubFormat(const WAVEFORMATEXTENSIBLE& format);
// A PCM or float descriptor is internally consistent; ask it after
// WaveFormatIsPcmOrFloat.
bool WaveFormatIsValidPcm(const WAVEFORMATEXTENSIBLE& format);

#endif
