// The program's vocabulary of wave formats: names of format tags, of the
// speaker positions in a channel mask and of GUIDs met in audio and media
// descriptions, and the routines that turn a tag, a mask or a GUID into text.
//
// The tables are constant and never change at run time. Every text routine
// writes at most capacity - 1 characters, always terminates, cuts silently
// and returns the number of characters written.
#ifndef SONDREL_WAVEFORMAT_NAMES_H
#define SONDREL_WAVEFORMAT_NAMES_H

#include <stdint.h>

#include "platform/platform.h"
#include "waveformat/waveformat.h"

// A format tag and its WAVE_FORMAT_ constant's name without that prefix.
struct FormatTagRow {
    uint16_t tag;
    const WChar* name;
};

// In ascending tag order; tag 0x0011 has two rows (DVI_ADPCM, then
// IMA_ADPCM). No terminating row: the count bounds every search.
extern const FormatTagRow FormatTagTable[153];

// Mask bits and their name; a table ends with a row whose mask is 0 and which
// has no name.
struct BitNameRow {
    uint32_t mask;
    const char* name;
};

// The 18 speaker-position bits of dwChannelMask in ascending order, then the
// terminating row.
extern const BitNameRow SpeakerNameTable[19];

// A GUID and its published name. A group ends with a row that has neither:
// {} (its name is null; its bytes, all zero, are not a GUID of the group).
struct GuidNameRow {
    GUID guid;
    const char* name;
};

// Ten groups searched in order, then nullptr. Where a GUID occurs in several
// rows, the first one names it.
extern const GuidNameRow* const GuidNameGroups[11];

// The name of a format tag, or nullptr when no row has it.
const WChar* FormatTagName(uint16_t tag);

// The names of the bits of mask in table order, joined by separator (nullptr
// means "|"), followed by the bits no row names as one lower-case hexadecimal
// number. No bits give the empty text.
uint32_t BitMaskToNames(WChar* buffer, uint32_t capacity, uint32_t mask, const BitNameRow* table,
                        const WChar* separator);

// The name of guid from groups (nullptr means GuidNameGroups), or its
// lower-case text in braces when no row holds it.
uint32_t GuidToName(WChar* buffer, uint32_t capacity, const GUID& guid, const GuidNameRow* const* groups);

// The 36-character text form, Data1-Data2-Data3-Data4[0..1]-Data4[2..7];
// a missing guid gives "GUID_NULL".
uint32_t GuidToText(WChar* buffer, uint32_t capacity, const GUID* guid, bool upperCase);

#endif
