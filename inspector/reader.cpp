// The read-ahead reader: refills, skips, and the reads that must bring every
// byte.
#include "inspector/reader.h"

#include "platform/platform.h"
#include "runtime/runtime.h"

void ReaderStart(FileReader& reader, OsHandle file, const WalkSink& sink) {
    reader.file = file;
    reader.sink = &sink;
    reader.start = 0;
    reader.end = 0;
}

// Kept out of line so the small reads the walk makes all the time stay a
// few instructions each. A read larger than the buffer takes several refills.
__attribute__((noinline)) bool ReadThroughBuffer(FileReader& reader, uint8_t* out, uint32_t count, uint32_t* got) {
    uint32_t done = 0;
    while (done < count) {
        if (reader.start == reader.end) {
            uint32_t n;
            if (!g_platform.readFile(reader.file, reader.buffer, kReadAheadSize, &n)) {
                *got = done;
                return false;
            }
            if (n == 0) break;
            reader.start = 0;
            reader.end = n;
        }
        uint32_t available = reader.end - reader.start;
        uint32_t take = count - done < available ? count - done : available;
        __builtin_memcpy(out + done, reader.buffer + reader.start, take);
        reader.start += take;
        done += take;
    }
    *got = done;
    return true;
}

bool ReaderSkip(FileReader& reader, uint64_t count) {
    uint32_t available = reader.end - reader.start;
    if (count <= available) {
        reader.start += static_cast<uint32_t>(count);
        return true;
    }
    reader.start = reader.end;
    return g_platform.skipForward(reader.file, count - available);
}

__attribute__((noinline)) bool ReportShortRead(const WalkSink& sink, uint32_t count, uint32_t total, bool failed) {
    if (failed) {
        WChar error[256];
        SinkError(sink, u"Cannot read %u bytes (%s)", count, LastErrorText(error));
    } else {
        SinkError(sink, u"Read only %u bytes of %u", total, count);
    }
    return false;
}

bool ReadExact(FileReader& reader, void* buffer, uint32_t count) {
    return ReadBytes(reader, static_cast<uint8_t*>(buffer), count, 0);
}
