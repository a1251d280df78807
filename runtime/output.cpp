// The output channel. The line buffer lives on the stack and each line goes
// out in one write, so lines never interleave and nothing is allocated.
#include "runtime/output.h"

#include "platform/platform.h"
#include "platform/text.h"
#include "runtime/runtime.h"
#include "runtime/state.h"

namespace {

// The file format and the output are little-endian whatever the host is; on
// a little-endian host the line's units already are the bytes to write.
#if !defined(__BYTE_ORDER__) || !defined(__ORDER_LITTLE_ENDIAN__)
#error "the compiler must tell the host's byte order"
#endif
constexpr bool kLittleEndianHost = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// How lines reach a stream that is not a console: UTF-16LE as they stand
// (0, the usual road), or one of these, on a road of their own.
enum LineMode : uint8_t {
    kUtf16 = 0,
    kUtf8 = 1,            // SONDREL_ENCODING asked for UTF-8, chosen at start-up
    kUtf16RawBytes = 2,   // UTF-16LE, and a line may hold a name's raw bytes
};
uint8_t g_lineMode = kUtf16;

// What became of the writes to one standard stream during the run.
struct StreamFate {
    bool stopped;    // a write failed: nothing more goes to the stream
    bool lost;       // and not because its reader went away
    uint32_t error;  // the system's code of that failure
};
StreamFate g_outputFate, g_errorFate;

bool SameAsciiIgnoringCase(const WChar* text, const char* lower) {
    for (; *lower != 0; ++text, ++lower) {
        WChar c = *text >= u'A' && *text <= u'Z' ? static_cast<WChar>(*text + 32) : *text;
        if (c != static_cast<uint8_t>(*lower)) return false;
    }
    return *text == 0;
}

bool WantsUtf8() {
    WChar value[8];
    if (!g_platform.environmentVariable(u"SONDREL_ENCODING", value, 8)) return false;
    return SameAsciiIgnoringCase(value, "utf-8") || SameAsciiIgnoringCase(value, "utf8");
}

}  // namespace

bool GetStdStreams(OsHandle* input, OsHandle* output, OsHandle* error) {
    OsHandle handles[3];
    if (!g_platform.getStdHandles(&handles[0], &handles[1], &handles[2])) return false;
    if (input != nullptr) *input = handles[0];
    if (output != nullptr) *output = handles[1];
    if (error != nullptr) *error = handles[2];
    g_lineMode = WantsUtf8() ? kUtf8 : kUtf16;
    g_outputFate = StreamFate{};
    g_errorFate = StreamFate{};
    return true;
}

bool OutputLost(uint32_t* error) {
    *error = g_outputFate.error;
    return g_outputFate.lost;
}

void LinesAsUtf8() { g_lineMode = kUtf8; }

void LinesHoldRawBytes() {
    if (g_lineMode == kUtf16) g_lineMode = kUtf16RawBytes;
}

namespace {

// Unix tools end a line with LF alone: each CR that stands right before an
// LF goes, in place. Returns the new count.
uint32_t DropCrBeforeLf(WChar* line, uint32_t count) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (line[i] == u'\r' && i + 1 < count && line[i + 1] == u'\n') continue;
        line[kept++] = line[i];
    }
    return kept;
}

// Each lone U+DC80..U+DCFF becomes U+FFFD; a pair whose low half lies
// there is a character and stays.
void ReplaceRawBytes(WChar* line, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        bool paired = i > 0 && line[i - 1] >= 0xD800 && line[i - 1] <= 0xDBFF;
        if (line[i] >= 0xDC80 && line[i] <= 0xDCFF && !paired) line[i] = 0xFFFD;
    }
}

// Every road but the usual one, apart from the line writer so that it keeps
// its small stack frame: UTF-8 for the usual tools, UTF-16LE without a
// name's raw bytes, and UTF-16LE from a big-endian host.
__attribute__((noinline)) bool WriteOtherLine(OsHandle handle, WChar* line, uint32_t count) {
    static uint8_t bytes[1024 * 3];
    if (g_lineMode == kUtf8) {
        return g_platform.writeFile(handle, bytes, g_platform.toUtf8(line, DropCrBeforeLf(line, count), bytes));
    }
    if (g_lineMode == kUtf16RawBytes) ReplaceRawBytes(line, count);
    if (!kLittleEndianHost) {
        for (uint32_t i = 0; i < count; ++i) line[i] = static_cast<WChar>(line[i] << 8 | line[i] >> 8);
    }
    return g_platform.writeFile(handle, line, count * 2);
}

// A stream whose write failed gets nothing more. A reader that has gone
// away (a pipe closed by "head") only ends the stream's output; any other
// failure loses a line the run meant to deliver. A stream the process was
// started without was never there to fail.
__attribute__((noinline)) void NoteFailedWrite(OsHandle handle, StreamFate& fate) {
    if (handle == kNoHandle) return;
    uint32_t error = g_platform.lastError();
    fate.stopped = true;
    fate.lost = true;
    for (uint32_t gone : g_platform.readerGoneErrors) fate.lost = fate.lost && error != gone;
    fate.error = error;
}

}  // namespace

uint32_t FormatUtf8Line(const WChar* format, const uint64_t* slots, uint32_t slotCount, uint8_t* bytes) {
    static WChar line[1024];
    uint32_t count = FormatTextV(line, 1022, format, slots, slotCount);
    line[count++] = u'\r';
    line[count++] = u'\n';
    return g_platform.toUtf8(line, DropCrBeforeLf(line, count), bytes);
}

bool WriteTextLine(OsHandle handle, const WChar* format, const uint64_t* slots, uint32_t slotCount,
                   bool appendLineEnd) {
    // Static, as every buffer over 1 KiB: a small stack still runs the
    // program. Lines are written one at a time.
    static WChar line[1024];
    uint32_t count = FormatTextV(line, appendLineEnd ? 1022 : 1024, format, slots, slotCount);
    if (appendLineEnd) {
        line[count++] = u'\r';
        line[count++] = u'\n';
    } else if (count == 0) {
        // Nothing to write; a line with its end is never empty, so the
        // usual path does not test for it.
        return true;
    }
    bool console = g_platform.isConsole(handle);
    if (console) return g_platform.writeConsole(handle, line, count);
    if (g_lineMode != kUtf16 || !kLittleEndianHost) return WriteOtherLine(handle, line, count);
    return g_platform.writeFile(handle, line, count * 2);
}

void PrintMessageV(const WChar* format, const uint64_t* slots, uint32_t slotCount) {
    if (g_outputFate.stopped) return;
    OsHandle handle = g_runtime.outputHandle;
    if (!WriteTextLine(handle, format, slots, slotCount, true)) NoteFailedWrite(handle, g_outputFate);
}

void ReportErrorV(const WChar* format, const uint64_t* slots, uint32_t slotCount) {
    if (g_errorFate.stopped) return;
    OsHandle handle = g_runtime.errorHandle;
    if (!WriteTextLine(handle, format, slots, slotCount, true)) NoteFailedWrite(handle, g_errorFate);
}

// --- Records ---------------------------------------------------------------------

namespace {

// A record larger than the static buffer takes a block from MemAlloc, up to
// this size; past it, it goes out in pieces.
constexpr uint32_t kLargestRecord = 256u << 20;

uint8_t g_recordBuffer[64 * 1024];

struct Records {
    uint8_t* bytes;  // g_recordBuffer, or a larger block
    uint32_t room;
    uint32_t whole;  // bytes of whole records at the front
    uint32_t used;
    OsHandle handle;
    bool console;
    bool failed;
    uint32_t error;  // kept: a check under way may change the last error
};
Records g_records;

// A console takes characters: the bytes as UTF-8, a piece at a time, each
// line ended in CR LF there, as sondrel's lines are.
bool WriteConsoleText(const uint8_t* bytes, uint32_t count) {
    static WChar units[1024];
    uint32_t n = 0;
    bool written = true;
    for (uint32_t i = 0; i < count && written;) {
        uint32_t cp = 0xFFFD;
        uint32_t length = DecodeUtf8(bytes + i, count - i, &cp);
        i += length == 0 ? 1 : length;
        if (cp == u'\n') units[n++] = u'\r';
        n += EncodeUtf16(length == 0 ? 0xFFFD : cp, units + n);
        if (n > 1019 || i == count) {
            written = g_platform.writeConsole(g_records.handle, units, n);
            n = 0;
        }
    }
    return written;
}

// Writes the first count bytes and keeps the rest at the front.
void WriteFront(uint32_t count) {
    Records& r = g_records;
    if (count == 0) return;
    if (!r.failed && r.handle != kNoHandle) {
        bool written = r.console ? WriteConsoleText(r.bytes, count) : g_platform.writeFile(r.handle, r.bytes, count);
        if (!written) {
            r.failed = true;
            r.error = g_platform.lastError();
        }
    }
    for (uint32_t i = count; i < r.used; ++i) r.bytes[i - count] = r.bytes[i];
    r.used -= count;
    r.whole = r.whole > count ? r.whole - count : 0;
}

// Back to the static buffer once the large record is out.
void ReleaseBlock() {
    Records& r = g_records;
    if (r.bytes == g_recordBuffer || r.used > sizeof g_recordBuffer) return;
    for (uint32_t i = 0; i < r.used; ++i) g_recordBuffer[i] = r.bytes[i];
    MemFree(r.bytes, r.room);
    r.bytes = g_recordBuffer;
    r.room = sizeof g_recordBuffer;
}

// Room for count more bytes of the record under way: the whole records go
// out first, then the buffer grows; a record past the largest goes out in
// pieces.
void MakeRoom(uint32_t count) {
    Records& r = g_records;
    WriteFront(r.whole);
    if (count <= r.room - r.used) return;
    uint64_t needed = static_cast<uint64_t>(r.used) + count;
    uint64_t room = r.room;
    while (room < needed) room *= 2;
    uint8_t* block = room <= kLargestRecord ? static_cast<uint8_t*>(MemAlloc(static_cast<size_t>(room))) : nullptr;
    if (block == nullptr) {
        WriteFront(r.used);  // GCOVR_EXCL_LINE: a record past 256 MiB, or no memory for a larger block
        return;              // GCOVR_EXCL_LINE: (the same)
    }
    for (uint32_t i = 0; i < r.used; ++i) block[i] = r.bytes[i];
    if (r.bytes != g_recordBuffer) MemFree(r.bytes, r.room);
    r.bytes = block;
    r.room = static_cast<uint32_t>(room);
}

}  // namespace

void RecordsStart() {
    if (g_records.bytes != nullptr && g_records.bytes != g_recordBuffer) MemFree(g_records.bytes, g_records.room);
    g_records = Records{g_recordBuffer, sizeof g_recordBuffer, 0, 0, g_runtime.outputHandle, false, false, 0};
    g_records.console = g_platform.isConsole(g_records.handle);
}

bool RecordsToConsole() { return g_records.console; }

void RecordBytes(const uint8_t* bytes, uint32_t count) {
    Records& r = g_records;
    while (count > 0) {
        if (r.used == r.room) MakeRoom(count);
        uint32_t n = count < r.room - r.used ? count : r.room - r.used;
        for (uint32_t i = 0; i < n; ++i) r.bytes[r.used + i] = bytes[i];
        r.used += n;
        bytes += n;
        count -= n;
    }
}

void RecordDone() {
    Records& r = g_records;
    if (r.used > kRecordWrite) WriteFront(r.whole);
    if (r.used >= kRecordWrite) WriteFront(r.used);
    r.whole = r.used;
    if (r.console) WriteFront(r.whole);
    ReleaseBlock();
}

// Only whole records: the one under way may be waiting for a slow check,
// and a piece of it written now would let another writer's records into it.
void RecordsFlush() { WriteFront(g_records.whole); }

bool RecordsFailed(uint32_t* error) {
    *error = g_records.error;
    return g_records.failed;
}
