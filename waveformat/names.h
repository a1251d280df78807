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

#include "platform/types.h"
#include "waveformat/waveformat.h"

// The tables keep their names in pools, one per table: a row holds its
// name's offset there, and offset 0, the empty name, marks an end row.
// Offsets rather than pointers cost no relocation when the program starts.

// A format tag and the offset of its WAVE_FORMAT_ constant's name without
// that prefix. 153 rows in ascending tag order; tag 0x0011 has two (DVI_ADPCM,
// then IMA_ADPCM).
struct FormatTagRow {
    uint16_t tag;
    uint16_t name;
};

// Mask bits and their name; rows end with one whose mask is 0.
struct BitNameRow {
    uint32_t mask;
    uint16_t name;
};
struct BitNameTable {
    const BitNameRow* rows;
    const char* names;  // the pool of the rows' names
};

// The 18 speaker-position bits of dwChannelMask in ascending order, then the
// end row.
extern const BitNameTable SpeakerNameTable;

// A GUID and its published name. A group ends with a row that has neither:
// {} (its bytes, all zero, are not a GUID of the group).
struct GuidNameRow {
    GUID guid;
    uint16_t name;
};

// Ten groups searched in order, then nullptr. Where a GUID occurs in several
// rows, the first one names it. Every GUID row's name is in GuidNamePool.
extern const GuidNameRow* const GuidNameGroups[11];
extern const char* const GuidNamePool;

// The name of a format tag, or nullptr when no row has it.
const WChar* FormatTagName(uint16_t tag);

// The names of the bits of mask in table order, joined by separator (nullptr
// means "|"), followed by the bits no row names as one lower-case hexadecimal
// number. No bits give the empty text.
uint32_t BitMaskToNames(WChar* buffer, uint32_t capacity, uint32_t mask, const BitNameTable& table,
                        const WChar* separator);

// The name of guid from groups (nullptr means GuidNameGroups), or its
// lower-case text in braces when no row holds it.
uint32_t GuidToName(WChar* buffer, uint32_t capacity, const GUID& guid, const GuidNameRow* const* groups);

// The 36-character text form, Data1-Data2-Data3-Data4[0..1]-Data4[2..7];
// a missing guid gives "GUID_NULL".
uint32_t GuidToText(WChar* buffer, uint32_t capacity, const GUID* guid, bool upperCase);

#endif
