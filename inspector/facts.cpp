// The encoding of a file's facts between the worker and the opener.
#include "inspector/facts.h"

#include "platform/scan.h"

static_assert(kFactsMaxBytes == kScanFactsRoom, "the facts of a file fill at most one frame of the room the opener takes");

namespace {

constexpr uint8_t kFactsAll = kFactFileSize | kFactHeader | kFactFormat | kFactData;

uint8_t* Put32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) *out++ = static_cast<uint8_t>(value >> (8 * i));
    return out;
}

uint32_t Listed(uint32_t chunkCount) { return chunkCount < kFactsChunksListed ? chunkCount : kFactsChunksListed; }

}  // namespace

uint32_t EncodeFacts(const WaveFacts& facts, uint8_t* out) {
    uint8_t* o = out;
    *o++ = facts.known;
    o = Put32(o, facts.fileSize);
    o = Put32(o, facts.riffSize);
    o = Put32(o, facts.formatSize);
    for (uint8_t b : facts.format.bytes) *o++ = b;
    o = Put32(o, facts.dataOffset);
    o = Put32(o, facts.dataSize);
    o = Put32(o, facts.chunkCount);
    uint32_t listed = Listed(facts.chunkCount);
    *o++ = static_cast<uint8_t>(listed);
    for (uint32_t i = 0; i < listed; ++i) {
        for (uint8_t b : facts.chunks[i].id) *o++ = b;
        o = Put32(o, facts.chunks[i].offset);
        o = Put32(o, facts.chunks[i].size);
    }
    return static_cast<uint32_t>(o - out);
}

bool DecodeFacts(const uint8_t* bytes, uint32_t count, WaveFacts* facts) {
    if (count < kFactsFixedBytes) return false;
    const uint8_t* p = bytes;
    facts->known = *p++;
    facts->fileSize = ReadLe32(p), p += 4;
    facts->riffSize = ReadLe32(p), p += 4;
    facts->formatSize = ReadLe32(p), p += 4;
    for (uint8_t& b : facts->format.bytes) b = *p++;
    facts->dataOffset = ReadLe32(p), p += 4;
    facts->dataSize = ReadLe32(p), p += 4;
    facts->chunkCount = ReadLe32(p), p += 4;
    uint32_t listed = *p++;
    if ((facts->known & ~kFactsAll) != 0 || listed != Listed(facts->chunkCount) ||
        count != kFactsFixedBytes + listed * kFactsChunkBytes) {
        return false;
    }
    // The sizes the walk accepts for a descriptor, and none without one.
    bool format = (facts->known & kFactFormat) != 0;
    if (format ? facts->formatSize - 16 > 4080 : facts->formatSize != 0) return false;
    for (uint32_t i = 0; i < listed; ++i) {
        for (uint8_t& b : facts->chunks[i].id) b = *p++;
        facts->chunks[i].offset = ReadLe32(p), p += 4;
        facts->chunks[i].size = ReadLe32(p), p += 4;
    }
    return true;
}
