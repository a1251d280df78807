// The output channel. The line buffer lives on the stack and each line goes
// out in one write, so lines never interleave and nothing is allocated.
#include "runtime/output.h"

#include "runtime/runtime.h"

namespace {

// The file format and the output are little-endian whatever the host is; on
// a little-endian host the line's units already are the bytes to write.
#if !defined(__BYTE_ORDER__) || !defined(__ORDER_LITTLE_ENDIAN__)
#error "the compiler must tell the host's byte order"
#endif
constexpr bool kLittleEndianHost = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// How lines reach a stream that is not a console, chosen once at start-up.
bool g_utf8Streams = false;

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
    return true;
}

uint32_t Utf8LineBytes(const WChar* text, uint32_t count, uint8_t* out) {
    uint32_t o = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t cp = text[i];
        if (cp == u'\r' && i + 1 < count && text[i + 1] == u'\n') continue;
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00u);
        } else if (cp >= 0xDC80 && cp <= 0xDCFF) {
            // A name's byte that was not UTF-8, kept as it came.
            out[o++] = static_cast<uint8_t>(cp);
            continue;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out[o++] = static_cast<uint8_t>(cp);
            continue;
        }
        // The lead byte, then six bits per continuation byte, highest first.
        uint32_t extra = cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
        static const uint8_t kLead[4] = {0, 0xC0, 0xE0, 0xF0};
        out[o++] = static_cast<uint8_t>(kLead[extra] | cp >> (6 * extra));
        for (uint32_t shift = 6 * extra; shift != 0;) {
            shift -= 6;
            out[o++] = static_cast<uint8_t>(0x80 | (cp >> shift & 0x3F));
        }
    }
    return o;
}

namespace {

// Apart from the line writer, so that the usual UTF-16 path keeps its small
// stack frame.
__attribute__((noinline)) bool WriteUtf8Line(OsHandle handle, const WChar* line, uint32_t count) {
    static uint8_t bytes[1024 * 3];
    return g_platform.writeFile(handle, bytes, Utf8LineBytes(line, count, bytes));
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
    if (!kLittleEndianHost) {
        for (uint32_t i = 0; i < count; ++i) line[i] = static_cast<WChar>(line[i] << 8 | line[i] >> 8);
    }
    return g_platform.writeFile(handle, line, count * 2);
}

void PrintMessageV(const WChar* format, const uint64_t* slots, uint32_t slotCount) {
    WriteTextLine(g_runtime.outputHandle, format, slots, slotCount, true);
}

void ReportErrorV(const WChar* format, const uint64_t* slots, uint32_t slotCount) {
    WriteTextLine(g_runtime.errorHandle, format, slots, slotCount, true);
}
