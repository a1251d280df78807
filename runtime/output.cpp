// The output channel. The line buffer lives on the stack and each line goes
// out in one write, so lines never interleave and nothing is allocated.
#include "runtime/output.h"

#include "runtime/state.h"

namespace {

// The file format and the output are little-endian whatever the host is; on
// a little-endian host the line's units already are the bytes to write.
#if !defined(__BYTE_ORDER__) || !defined(__ORDER_LITTLE_ENDIAN__)
#error "the compiler must tell the host's byte order"
#endif
constexpr bool kLittleEndianHost = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// How lines reach a stream that is not a console, chosen once at start-up.
bool g_utf8Streams = false;

// Whether a line may hold a name's raw bytes, which UTF-16 cannot carry.
bool g_rawBytes = false;

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
    g_utf8Streams = WantsUtf8();
    g_rawBytes = false;
    g_outputFate = StreamFate{};
    g_errorFate = StreamFate{};
    return true;
}

bool OutputLost(uint32_t* error) {
    *error = g_outputFate.error;
    return g_outputFate.lost;
}

void LinesHoldRawBytes() { g_rawBytes = true; }

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

// Apart from the line writer, so that the usual UTF-16 path keeps its small
// stack frame.
__attribute__((noinline)) bool WriteUtf8Line(OsHandle handle, WChar* line, uint32_t count) {
    static uint8_t bytes[1024 * 3];
    return g_platform.writeFile(handle, bytes, g_platform.toUtf8(line, DropCrBeforeLf(line, count), bytes));
}

// Each lone U+DC80..U+DCFF becomes U+FFFD; a pair whose low half lies
// there is a character and stays.
__attribute__((noinline)) void ReplaceRawBytes(WChar* line, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        bool paired = i > 0 && line[i - 1] >= 0xD800 && line[i - 1] <= 0xDBFF;
        if (line[i] >= 0xDC80 && line[i] <= 0xDCFF && !paired) line[i] = 0xFFFD;
    }
}

// A stream whose write failed gets nothing more. A reader that has gone
// away (a pipe closed by "head") only ends the stream's output; any other
// failure loses a line the run meant to deliver. A stream the process was
// started without was never there to fail.
void WriteStreamLine(OsHandle handle, StreamFate& fate, const WChar* format, const uint64_t* slots,
                     uint32_t slotCount) {
    if (fate.stopped || WriteTextLine(handle, format, slots, slotCount, true) || handle == kNoHandle) return;
    uint32_t error = g_platform.lastError();
    fate.stopped = true;
    fate.lost = error != g_platform.readerGoneErrors[0] && error != g_platform.readerGoneErrors[1];
    fate.error = error;
}

}  // namespace

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
    if (g_utf8Streams) return WriteUtf8Line(handle, line, count);
    if (g_rawBytes) ReplaceRawBytes(line, count);
    if (!kLittleEndianHost) {
        for (uint32_t i = 0; i < count; ++i) line[i] = static_cast<WChar>(line[i] << 8 | line[i] >> 8);
    }
    return g_platform.writeFile(handle, line, count * 2);
}

void PrintMessageV(const WChar* format, const uint64_t* slots, uint32_t slotCount) {
    WriteStreamLine(g_runtime.outputHandle, g_outputFate, format, slots, slotCount);
}

void ReportErrorV(const WChar* format, const uint64_t* slots, uint32_t slotCount) {
    WriteStreamLine(g_runtime.errorHandle, g_errorFate, format, slots, slotCount);
}
