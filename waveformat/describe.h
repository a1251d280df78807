// The one-line description of a format descriptor, such as "PCM/44100/16/2"
// or "ExtPCM/48000/24(4)/2": kind, frame rate, bits, channels, and markers
// for wide containers and unusual channel masks.
#ifndef SONDREL_WAVEFORMAT_DESCRIBE_H
#define SONDREL_WAVEFORMAT_DESCRIBE_H

#include <stdint.h>

#include "platform/types.h"
#include "waveformat/waveformat.h"

// Flags of WaveFormatDescribe; both only affect extensible PCM. Other bits
// are ignored. The report asks for neither; they are part of the routine for
// callers that want every marker.
constexpr uint32_t DescribeFlagContainer = 1;  // always show the container bytes
constexpr uint32_t DescribeFlagMask = 2;       // always show the channel mask

// The usual channel mask by channel count (index 0..8); 0 where a count has
// no usual mask.
extern const uint32_t DefaultChannelMasks[9];

// Writes the description into buffer (capacity in characters, terminator
// included), cut to fit, and returns the characters written. Accepts any
// descriptor; the longest description has 45 characters.
uint32_t WaveFormatDescribe(const WAVEFORMATEXTENSIBLE& format, WChar* buffer, uint32_t capacity, uint32_t flags);

#endif
