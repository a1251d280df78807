// What the walk learns of a file, as values: the descriptor the report
// describes, the data chunk, the sizes and the chunks. sondrel-scan's JSON
// record is written from these, never from the report's text; between the
// worker that walks a file and the opener they travel in the encoding below.
#ifndef SONDREL_INSPECTOR_FACTS_H
#define SONDREL_INSPECTOR_FACTS_H

#include <stdint.h>

#include "waveformat/waveformat.h"

// Chunks listed by offset and size; those past it are only counted.
constexpr uint32_t kFactsChunksListed = 64;

// Which facts are known.
constexpr uint8_t kFactFileSize = 1;  // the size of the file
constexpr uint8_t kFactHeader = 2;    // a RIFF/WAVE header, so its RIFF size
constexpr uint8_t kFactFormat = 4;    // a descriptor, reported in full
constexpr uint8_t kFactData = 8;      // a data chunk

struct FactsChunk {
    uint8_t id[4];
    uint32_t offset;  // of its header
    uint32_t size;
};

struct WaveFacts {
    uint8_t known;
    uint32_t fileSize;
    uint32_t riffSize;
    // The descriptor of the last fmt chunk, as the walk keeps it: a later fmt
    // chunk replaces an earlier one, as its offset and size do. Its chunk
    // size, and the working copy of the report (zeros past a shorter chunk).
    uint32_t formatSize;
    WAVEFORMATEXTENSIBLE format;
    // The last data chunk, as the end checks see it.
    uint32_t dataOffset;
    uint32_t dataSize;
    uint32_t chunkCount;  // every chunk header walked
    FactsChunk chunks[kFactsChunksListed];
};

// The encoding: little-endian, in this order: known (1 byte), file size,
// RIFF size, descriptor chunk size (4 bytes each), the working copy (40),
// data offset, data size, chunk count (4 each), the chunks listed (1 byte,
// the smaller of the count and kFactsChunksListed), then each listed chunk's
// id (4), offset (4) and size (4).
constexpr uint32_t kFactsFixedBytes = 1 + 4 * 3 + 40 + 4 * 3 + 1;
constexpr uint32_t kFactsChunkBytes = 12;
constexpr uint32_t kFactsMaxBytes = kFactsFixedBytes + kFactsChunksListed * kFactsChunkBytes;

// Encodes facts into out (room for kFactsMaxBytes); returns the count.
uint32_t EncodeFacts(const WaveFacts& facts, uint8_t* out);

// Decodes bytes that may come from a hostile process: false, with facts
// unspecified, unless every length and count agrees (the listed chunks are
// exactly the smaller of the count and the cap, the bytes end with the last,
// a descriptor's chunk size is one the walk accepts, no unknown bit is set).
bool DecodeFacts(const uint8_t* bytes, uint32_t count, WaveFacts* facts);

#endif
