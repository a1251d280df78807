// The chunk walk: header, RIFF size, every chunk from offset 12 to the end of
// the file, and the end checks that decide the outcome.
//
// The file is read strictly forward. All sums of offsets and sizes are made
// in 64 bits and sizes are compared with what remains before anything is
// subtracted, so nothing wraps.
#include "inspector/walk.h"

#include "inspector/commandline.h"
#include "inspector/facts.h"
#include "inspector/reader.h"
#include "inspector/report.h"
#include "platform/platform.h"
#include "runtime/format.h"
#include "runtime/runtime.h"
#include "waveformat/waveformat.h"

namespace {

bool SameId(const uint8_t* bytes, const char* id) {
    return bytes[0] == static_cast<uint8_t>(id[0]) && bytes[1] == static_cast<uint8_t>(id[1]) &&
           bytes[2] == static_cast<uint8_t>(id[2]) && bytes[3] == static_cast<uint8_t>(id[3]);
}

struct WalkState {
    uint32_t fileSize;
    uint64_t current;  // offset of the next chunk header
    uint64_t formatOffset;
    uint32_t formatSize;
    uint64_t dataOffset;
    uint32_t dataSize;
    void* descriptor;
    bool padPossible;  // the chunk just walked had an odd size: a pad byte may follow
    bool ended;        // too few bytes are left for another chunk header
    WaveFacts* facts;  // null when the sink does not take them
};

// Apart from the walk's usual road, which sondrel takes with no facts.
__attribute__((noinline)) void NoteChunk(WaveFacts& facts, const uint8_t (&header)[8], uint64_t offset, uint32_t size) {
    if (facts.chunkCount < kFactsChunksListed) {
        FactsChunk& chunk = facts.chunks[facts.chunkCount];
        for (int i = 0; i < 4; ++i) chunk.id[i] = header[i];
        chunk.offset = static_cast<uint32_t>(offset);
        chunk.size = size;
    }
    ++facts.chunkCount;
}

// The descriptor the report has just described in full: its working copy.
void NoteFormat(WaveFacts& facts, const uint8_t* descriptor, uint32_t size) {
    facts.known |= kFactFormat;
    facts.formatSize = size;
    for (uint32_t i = 0; i < sizeof facts.format.bytes; ++i) facts.format.bytes[i] = i < size ? descriptor[i] : 0;
}

// What follows a chunk's data: the next chunk header, or the end of the walk.
enum class Next { kHeader, kEnd, kFailed };

// Too few bytes for a header after a chunk of odd size: a pad byte may be
// one of them. Apart from the usual road, which it would only lengthen: a
// walk ends once.
__attribute__((noinline)) Next SkipLastPadByte(FileReader& reader, WalkState& walk) {
    if (walk.current >= walk.fileSize) return Next::kEnd;
    uint8_t next;
    if (!ReadBytes(reader, &next, 1, 0)) return Next::kFailed;
    if (next == 0) ++walk.current;
    return Next::kEnd;
}

// The pad-byte rule, in one place. RIFF pads a chunk of odd size with one
// byte so the next header starts at an even offset; conforming writers write
// it, others do not. A zero byte there is the pad (no chunk identifier
// starts with a zero byte); any other byte begins the next header. The
// header is read as usual and a leading zero taken as the pad, so unpadded
// files cost no extra read. Hands the next header and leaves walk.current
// at its offset; at the end, walk.current is where the bytes after the last
// chunk (if any) begin. kFailed after a failed read, reported.
Next NextChunkHeader(FileReader& reader, WalkState& walk, uint8_t (&header)[8]) {
    bool pad = walk.padPossible;
    walk.padPossible = false;
    if (walk.current + 8 > walk.fileSize) return pad ? SkipLastPadByte(reader, walk) : Next::kEnd;
    if (!ReadBytes(reader, header, 8, 0)) return Next::kFailed;
    if (!pad || header[0] != 0) return Next::kHeader;
    ++walk.current;
    if (walk.current + 8 > walk.fileSize) return Next::kEnd;
    for (int i = 0; i < 7; ++i) header[i] = header[i + 1];
    if (!ReadBytes(reader, header, 8, 7)) return Next::kFailed;
    return Next::kHeader;
}

void PrintFoundChunk(const WalkSink& sink, const WChar* idText, uint64_t offset, uint32_t size) {
    const WChar* format = u"Found chunk \"%s\" at %u / %#x, size %u / %#x";
    uint32_t at = static_cast<uint32_t>(offset);
    if (g_platform.systemFormat == nullptr) {
        // The program's own formatter makes the same text in one pass.
        SinkLine(sink, format, idText, at, at, size, size);
        return;
    }
    WChar line[160];
    g_platform.systemFormat(line, format, idText, at, at, size, size);
    SinkLine(sink, u"%s", line);
}

// One pass of the chunk loop: the next header, the chunk's lines, then its
// data read (fmt) or skipped. Returns the outcome once it is decided; after
// the last chunk, sets walk.ended.
ExitCode WalkOneChunk(FileReader& reader, RunOptions options, WalkState& walk) {
    const WalkSink& sink = *reader.sink;
    uint8_t header[8];
    Next next = NextChunkHeader(reader, walk, header);
    if (next == Next::kFailed) return ExitReadFailed;
    if (next == Next::kEnd) {
        walk.ended = true;
        return ExitUndecided;
    }
    uint64_t offset = walk.current;
    walk.current = offset + 8;
    uint32_t size = ReadLe32(header + 4);
    if (walk.facts != nullptr) NoteChunk(*walk.facts, header, offset, size);

    WChar idText[9];
    ChunkIdText(header, idText);
    if (options.verbose) PrintFoundChunk(sink, idText, offset, size);
    if (size > walk.fileSize - walk.current) {
        SinkError(sink, u"Chunk \"%s\" ends beyond the end of file", idText);
        return ExitReadFailed;
    }

    uint32_t dataAt = static_cast<uint32_t>(walk.current);
    if (SameId(header, "fmt ")) {
        walk.formatOffset = walk.current;
        walk.formatSize = size;
        if (options.printOffsets) SinkLine(sink, u"Format descriptor offset: %u / %#x", dataAt, dataAt);
        SinkLine(sink, u"Format descriptor size: %u / %#x", size, size);
        FormatChunkReport report = ReportFormatChunk(reader, size, options);
        if (report.descriptor != nullptr) {
            // Each fmt chunk brings its own block; the earlier one goes now.
            MemFree(walk.descriptor, 0);
            walk.descriptor = report.descriptor;
        }
        // After a failure the walk stops where it is: skipping the rest
        // could only add a second error line.
        if (report.outcome != ExitUndecided) return report.outcome;
        if (walk.facts != nullptr) NoteFormat(*walk.facts, static_cast<const uint8_t*>(report.descriptor), size);
    } else {
        if (SameId(header, "data")) {
            walk.dataOffset = walk.current;
            walk.dataSize = size;
            if (walk.facts != nullptr) {
                walk.facts->known |= kFactData;
                walk.facts->dataOffset = dataAt;
                walk.facts->dataSize = size;
            }
            if (options.printOffsets) SinkLine(sink, u"Wave data offset: %u / %#x", dataAt, dataAt);
            SinkLine(sink, u"Wave data size: %u / %#x", size, size);
        } else {
            uint32_t at = static_cast<uint32_t>(offset);
            SinkLine(sink, u"*** Unknown chunk \"%s\" at %u / %#x, size %u / %#x", idText, at, at, size, size);
        }
        if (size != 0 && !ReaderSkip(reader, size)) {
            WChar error[256];
            SinkError(sink, u"Cannot skip chunk data (%s)", LastErrorText(error));
            return ExitReadFailed;
        }
    }
    // The data was read or skipped: the file stands at its end.
    walk.current += size;
    walk.padPossible = (size & 1) != 0;
    return ExitUndecided;
}

// Decides the outcome of the walk of an open file: a failure of the size,
// a read or the header, or of any chunk, ends it at once with that failure's
// code; a walk that reaches the end of the file ends with 103 when the fmt
// chunk or a data chunk that is not empty is missing, else with 0. Warnings
// never change it.
ExitCode WalkFile(FileReader& reader, const WChar* fileName, const OpenedFile& file, RunOptions options,
                  WalkState& walk) {
    const WalkSink& sink = *reader.sink;
    if (file.sizeError != 0) {
        WChar error[256];
        g_memoryHooks.errorText(error, 256, file.sizeError);
        SinkError(sink, u"Cannot get file size (%s)", error);
        return ExitReadFailed;
    }
    walk.fileSize = file.size;
    if (walk.facts != nullptr) {
        walk.facts->known |= kFactFileSize;
        walk.facts->fileSize = file.size;
    }
    uint8_t header[12];
    if (!ReadBytes(reader, header, 12, 0)) return ExitReadFailed;
    if (!SameId(header, "RIFF")) {
        SinkError(sink, u"Not a RIFF file");
        return ExitNotUsableWave;
    }
    if (!SameId(header + 8, "WAVE")) {
        SinkError(sink, u"Not a WAVE file");
        return ExitNotUsableWave;
    }
    uint32_t fileSize = walk.fileSize;
    uint32_t riffSize = ReadLe32(header + 4);
    if (walk.facts != nullptr) {
        walk.facts->known |= kFactHeader;
        walk.facts->riffSize = riffSize;
    }
    if (options.verbose) {
        static WChar echo[kEchoRoom];
        SinkLine(sink, u"File: %s", EchoText(fileName, echo));
        SinkLine(sink, u"File size: %u / %#x", fileSize, fileSize);
        SinkLine(sink, u"RIFF chink size: %u / %#x", riffSize, riffSize);
    }
    uint64_t riffEnd = static_cast<uint64_t>(riffSize) + 8;
    if (riffEnd > fileSize) {
        SinkLine(sink, u"*** RIFF chunk size exceeds file size");
    } else if (riffEnd < fileSize) {
        uint32_t extra = static_cast<uint32_t>(fileSize - riffEnd);
        SinkLine(sink, u"*** Extra data size after RIFF chunk: %u / %#x", extra, extra);
    }
    if (fileSize < 20) {
        SinkError(sink, u"No fmt chink");
        return ExitNotUsableWave;
    }

    walk.current = 12;
    while (!walk.ended) {
        ExitCode outcome = WalkOneChunk(reader, options, walk);
        if (outcome != ExitUndecided) return outcome;
    }

    if (walk.formatOffset == 0 || walk.formatSize == 0) {
        SinkError(sink, u"No fmt chink");
        return ExitNotUsableWave;
    }
    if (walk.dataOffset == 0 || walk.dataSize == 0) {
        SinkError(sink, u"No data chunk");
        return ExitNotUsableWave;
    }
    if (walk.current < fileSize) {
        uint32_t extra = static_cast<uint32_t>(fileSize - walk.current);
        SinkLine(sink, u"*** Extra data size in RIFF chunk: %u / %#x", extra, extra);
    }
    return ExitSuccess;
}

}  // namespace

namespace {

// The system's formatter may look for the terminator: it gets a copy with
// one. Apart, so that the usual road has no array to guard on its stack.
__attribute__((noinline)) uint32_t SystemChunkIdText(const uint8_t id[4], WChar (&text)[9], const WChar* format,
                                                     bool printable) {
    char narrow[5] = {static_cast<char>(id[0]), static_cast<char>(id[1]), static_cast<char>(id[2]),
                      static_cast<char>(id[3]), 0};
    if (printable) return static_cast<uint32_t>(g_platform.systemFormat(text, format, narrow));
    return static_cast<uint32_t>(g_platform.systemFormat(text, format, ReadLe32(id)));
}

}  // namespace

uint32_t ChunkIdText(const uint8_t id[4], WChar (&text)[9]) {
    // Each byte in 0x20..0x7F; & rather than && keeps it free of branches.
    auto inRange = [](uint8_t b) { return static_cast<unsigned>(static_cast<uint8_t>(b - 0x20) < 0x60); };
    bool printable = (inRange(id[0]) & inRange(id[1]) & inRange(id[2]) & inRange(id[3])) != 0;
    const WChar* format = printable ? u"%.4S" : u"%0x";
    if (g_platform.systemFormat != nullptr) return SystemChunkIdText(id, text, format, printable);
    // The precision bounds the program's own formatter to the four bytes.
    if (printable) return FormatText(text, 9, format, reinterpret_cast<const char*>(id));
    return FormatText(text, 9, format, ReadLe32(id));
}

namespace {

// The one file open at a time. Static, so its buffer costs neither the
// stack nor the heap, and nothing in the executable.
FileReader g_reader;

// The facts of that file, for a sink that takes them.
WaveFacts g_facts;

}  // namespace

OpenedFile OpenToWalk(const WChar* fileName) {
    OpenedFile file{g_platform.openFile(fileName), 0, 0, 0};
    // Before the first byte of a file that may be hostile is read. A file
    // that cannot be read under the sandbox the program promises is not
    // read at all.
    bool restricted = file.handle != kNoHandle && g_platform.restrictProcess(file.handle);
    if (!restricted) {
        file.openError = g_platform.lastError();
        if (file.handle != kNoHandle) g_platform.closeFile(file.handle);
        file.handle = kNoHandle;
        return file;
    }
    if (!g_platform.fileSize(file.handle, &file.size)) file.sizeError = g_platform.lastError();
    return file;
}

ExitCode WalkChunks(const WChar* fileName, const OpenedFile& file, RunOptions options, const WalkSink& sink) {
    if (file.handle == kNoHandle) {
        WChar error[256];
        static WChar echo[kEchoRoom];
        g_memoryHooks.errorText(error, 256, file.openError);
        SinkError(sink, u"Cannot open \"%s\" (%s)", EchoText(fileName, echo), error);
        return ExitCannotOpen;
    }
    ReaderStart(g_reader, file.handle, sink);
    WalkState walk{};
    if (sink.facts != nullptr) {
        g_facts = WaveFacts{};
        walk.facts = &g_facts;
    }
    ExitCode outcome = WalkFile(g_reader, fileName, file, options, walk);
    if (walk.facts != nullptr) sink.facts(g_facts);
    MemFree(walk.descriptor, 0);
    g_platform.closeFile(file.handle);
    return outcome;
}
