// The file as the walk reads it: strictly forward, through a read-ahead
// buffer, so a file of many small chunks costs a few reads of the system and
// every header is a copy from memory. The platform only opens, reads, skips
// and closes; buffering is decided here, the same on every system, and so is
// the message when a read brings less than it must.
#ifndef SONDREL_INSPECTOR_READER_H
#define SONDREL_INSPECTOR_READER_H

#include <stdint.h>

#include "inspector/sink.h"
#include "platform/types.h"

// One refill's worth: large enough that the headers of a typical file come in
// one read, small enough to stay out of the way of the sound data's pages.
constexpr uint32_t kReadAheadSize = 65536;

// The largest read that takes the inline road: a chunk header, the RIFF
// header, a 16-byte descriptor.
constexpr uint32_t kInlineReadLimit = 16;

struct FileReader {
    OsHandle file;
    uint32_t start;  // first unread byte of buffer
    uint32_t end;    // end of the bytes in buffer
    const WalkSink* sink;  // where a read that brings too little is reported
    uint8_t buffer[kReadAheadSize];
};

// Starts reading file from its current position with an empty buffer.
void ReaderStart(FileReader& reader, OsHandle file, const WalkSink& sink);

// Everything but a small read the buffer can serve: refills, large reads,
// the end of the file.
bool ReadThroughBuffer(FileReader& reader, uint8_t* out, uint32_t count, uint32_t* got);

// Reads up to count bytes; *got receives how many arrived (fewer only at the
// end of the file). False on a failed read of the system, whose last error
// tells why.
inline bool ReaderRead(FileReader& reader, void* buffer, uint32_t count, uint32_t* got) {
    uint8_t* out = static_cast<uint8_t*>(buffer);
    if (count > kInlineReadLimit || count > reader.end - reader.start) {
        return ReadThroughBuffer(reader, out, count, got);
    }
    // A chunk header from the buffer, the walk's usual read: no call at all.
    // The walk's sizes are constants: a copy of a constant size is a move or
    // two, whatever the code around it.
    const uint8_t* from = reader.buffer + reader.start;
    if (__builtin_constant_p(count)) {
        __builtin_memcpy(out, from, count);
    } else {
        for (uint32_t i = 0; i < count; ++i) out[i] = from[i];
    }
    reader.start += count;
    *got = count;
    return true;
}

// Moves forward by count bytes: within the buffer when they are there, else
// past what it holds through the system.
bool ReaderSkip(FileReader& reader, uint64_t count);

// --- Reads that must bring every byte ----------------------------------------

// Reports why a read did not bring all count bytes: the system's read
// failed, or the file ended after total bytes (the reader reads on until
// one or the other). The messages speak of the whole count. Returns false.
bool ReportShortRead(const WalkSink& sink, uint32_t count, uint32_t total, bool failed);

// Reads count bytes into buffer, of which the first `have` are there
// already; otherwise reports why and returns false. The usual case, one read
// that brings everything, stays clear of the messages.
inline bool ReadBytes(FileReader& reader, uint8_t* buffer, uint32_t count, uint32_t have) {
    uint32_t got = 0;
    bool ok = ReaderRead(reader, buffer + have, count - have, &got);
    if (ok && got == count - have) return true;
    return ReportShortRead(*reader.sink, count, have + got, !ok);
}

// Reads exactly count bytes; otherwise reports why and returns false.
bool ReadExact(FileReader& reader, void* buffer, uint32_t count);

#endif
