// sondrel-scan: the command line, the names, each file's record as text or
// JSON, and the closing count.
//
// Each file is checked by the walk of a sondrel run, with that run's lines
// captured instead of written (CheckCaptured); where it runs (a sandboxed
// worker on Linux) is the backend's affair (platform/scan.h). Records come
// back in the order of the names and are written as they come, so memory
// stays the same however many files there are.
//
// Sections: output; names; records as text; records as JSON; the count; the
// check; the command line.
#include "inspector/scan.h"

#include "inspector/commandline.h"
#include "inspector/toolmain.h"
#include "inspector/walk.h"
#include "platform/scan.h"
#include "platform/text.h"
#include "runtime/format.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/state.h"

namespace {

// Flags of a check, as they cross to the worker.
constexpr uint32_t kFlagOffsets = 1;
constexpr uint32_t kFlagFields = 2;
constexpr uint32_t kFlagVerbose = 4;

struct ScanOptions {
    uint32_t flags;         // the user's -o -f -v
    bool json;              // --json
    bool nulSeparated;      // -0
    const WChar* listName;  // --files-from, or null
    uint32_t timeLimitMs;   // --time-limit, 0 for none
    bool isolate;           // --isolate
};

// A check that takes longer than this ends early, unless --time-limit says
// otherwise: far longer than any honest file takes (a file of a million
// chunks, read cold, takes seconds).
constexpr uint32_t kDefaultTimeLimitMs = 60 * 1000;

// A record's exit code when its check ended early other than by a signal
// (which gives 128 + the signal, as a shell reports it). No run of sondrel
// gives either; 124 is what timeout(1) gives.
constexpr uint32_t kScanRefusedCode = 122;
constexpr uint32_t kScanTimeLimitCode = 124;

ScanOptions g_options;

// The system's entries as the run began: a check in this process swaps some
// of g_platform's for its time, and the run's own output must not be taken
// for the file's.
Platform g_system;

// --- Output -----------------------------------------------------------------------
//
// Standard output is written in large pieces: a record costs no system call
// of its own. A terminal gets each record as it ends.

uint8_t g_out[64 * 1024];
uint32_t g_outUsed;
bool g_writeFailed;
uint32_t g_writeError;  // kept: the checks still under way change the last error
bool g_outConsole;
OsHandle g_outputHandle;

void FlushOutput() {
    // A closed standard output loses the lines, as a sondrel run's are lost;
    // the count and the status still tell.
    if (g_outUsed == 0 || g_writeFailed || g_outputHandle == kNoHandle) {
        g_outUsed = 0;
        return;
    }
    OsHandle handle = g_outputHandle;
    bool written = true;
    if (g_outConsole) {
        // A console takes characters: the bytes as UTF-8, a piece at a time.
        static WChar units[1024];
        uint32_t n = 0;
        // Each line ends in CR LF there, as sondrel's lines do.
        for (uint32_t i = 0; i < g_outUsed && written;) {
            uint32_t cp = 0xFFFD;
            uint32_t length = DecodeUtf8(g_out + i, g_outUsed - i, &cp);
            i += length == 0 ? 1 : length;
            if (cp == u'\n') units[n++] = u'\r';
            n += EncodeUtf16(length == 0 ? 0xFFFD : cp, units + n);
            if (n > 1019 || i == g_outUsed) {
                written = g_system.writeConsole(handle, units, n);
                n = 0;
            }
        }
    } else {
        written = g_system.writeFile(handle, g_out, g_outUsed);
    }
    g_outUsed = 0;
    // A failed write is the one thing that ends the run.
    if (!written) {
        g_writeFailed = true;
        g_writeError = g_platform.lastError();
    }
}

void OutBytes(const uint8_t* bytes, uint32_t count) {
    while (count > 0) {
        if (g_outUsed == sizeof g_out) FlushOutput();
        uint32_t room = static_cast<uint32_t>(sizeof g_out) - g_outUsed;
        uint32_t n = count < room ? count : room;
        for (uint32_t i = 0; i < n; ++i) g_out[g_outUsed + i] = bytes[i];
        g_outUsed += n;
        bytes += n;
        count -= n;
    }
}

void OutText(const char* text) {
    uint32_t n = 0;
    while (text[n] != 0) ++n;
    OutBytes(reinterpret_cast<const uint8_t*>(text), n);
}

// Formats with the program's formatter and appends the UTF-8 bytes, spelt
// as the system spells names.
template <typename... A>
void OutFormat(const WChar* format, A... args) {
    static WChar line[1024];
    static uint8_t bytes[1024 * 3];
    uint32_t count = FormatText(line, 1024, format, args...);
    OutBytes(bytes, g_platform.toUtf8(line, count, bytes));
}

// --- Names ------------------------------------------------------------------------
//
// Names come from the arguments first, then from the list. Each waits in a
// slot of the ring until its record ends.

WChar g_names[kScanWindow][kScanNameUnits + 1];
uint32_t g_nameNext;    // the slot the next name goes to
uint32_t g_recordSlot;  // the slot of the oldest unfinished record

// The arguments, read one at a time: from the system's own list where it
// keeps one (POSIX argv, of any length), else split from the command line as
// sondrel splits it (Windows).
struct ArgumentCursor {
    const WChar* position;  // in the command line
    uint32_t index;         // in the system's list
};
ArgumentCursor g_arguments;
bool g_namesInArguments;  // the options ended before the last argument

// The next argument into buffer, cut to capacity - 1 units; false when
// there is none.
bool NextArgument(WChar* buffer, uint32_t capacity) {
    if (g_scanPlatform.argumentCount != nullptr) {
        if (g_arguments.index >= g_scanPlatform.argumentCount()) return false;
        g_scanPlatform.argument(g_arguments.index++, buffer, capacity);
        return true;
    }
    if (*g_arguments.position == 0) return false;
    const WChar* rest = NextToken(g_arguments.position, buffer, capacity, kBlankSet, kTokenFileName);
    g_arguments.position = SkipCharsInSet(rest, kBlankSet);
    return true;
}

bool ArgumentsLeft() {
    ArgumentCursor mark = g_arguments;
    static WChar first[2];
    bool left = NextArgument(first, 2);
    g_arguments = mark;
    return left;
}

OsHandle g_list = kNoHandle;
bool g_listOpenedHere;
uint8_t g_listBytes[64 * 1024];
uint32_t g_listUsed;
uint32_t g_listAt;
bool g_listEnded;
bool g_listFailed;
uint32_t g_listError;

// A name's bytes: as many as a name of kScanNameUnits units can take.
uint8_t g_nameBytes[kScanNameUnits * 4];

// Bytes that are not UTF-8 become U+DC80..U+DCFF, which the system's side
// turns back into the same bytes; a NUL byte (in a list of lines) becomes
// U+DC00, which no system takes, so that name is refused, never cut.
uint32_t NameFromBytes(const uint8_t* bytes, uint32_t n, WChar* out) {
    uint32_t w = 0;
    for (uint32_t i = 0; i < n && w < kScanNameUnits;) {
        uint32_t cp;
        uint32_t length = DecodeUtf8(bytes + i, n - i, &cp);
        if (length == 0 || cp == 0) {
            cp = 0xDC00 | bytes[i];
            length = 1;
        }
        i += length;
        WChar units[2];
        uint32_t count = EncodeUtf16(cp, units);
        for (uint32_t u = 0; u < count && w < kScanNameUnits; ++u) out[w++] = units[u];
    }
    out[w] = 0;
    return w;
}

// The next byte of the list, or -1 at its end (or after a failed read).
int ListByte() {
    if (g_listAt == g_listUsed) {
        if (g_listEnded) return -1;
        uint32_t got = 0;
        if (!g_scanPlatform.readList(g_list, g_listBytes, sizeof g_listBytes, &got)) {
            g_listFailed = true;
            g_listError = g_platform.lastError();
            got = 0;
        }
        if (got == 0) {
            g_listEnded = true;
            return -1;
        }
        g_listUsed = got;
        g_listAt = 0;
    }
    return g_listBytes[g_listAt++];
}

// The next name of the list into out; false at its end. Empty entries (a
// last separator, a blank line) name nothing and are passed over.
bool NextListName(WChar* out) {
    const int separator = g_options.nulSeparated ? 0 : '\n';
    for (;;) {
        uint32_t n = 0;
        bool longer = false;
        int c;
        while ((c = ListByte()) >= 0 && c != separator) {
            if (n < sizeof g_nameBytes) {
                g_nameBytes[n++] = static_cast<uint8_t>(c);
            } else {
                longer = true;
            }
        }
        if (n == 0 && c < 0) return false;
        if (n == 0) continue;
        uint32_t units = NameFromBytes(g_nameBytes, n, out);
        // Too long for any system: kept too long, so that it is refused.
        if (longer) {
            while (units < kScanNameUnits) out[units++] = u'?';
            out[units] = 0;
        }
        return true;
    }
}

const WChar* NextName() {
    if (g_writeFailed) return nullptr;
    WChar* slot = g_names[g_nameNext];
    if (!(g_namesInArguments && NextArgument(slot, kScanNameUnits + 1)) &&
        (g_list == kNoHandle || !NextListName(slot))) {
        return nullptr;
    }
    g_nameNext = (g_nameNext + 1) % kScanWindow;
    return slot;
}

// --- Records as text ----------------------------------------------------------------
//
// "==> NAME", the lines of both streams in the order the run wrote them, and
// "<== exit code N". A run writes at most one line to standard error, its
// last, so the line before the end of a block with a code other than 0 is
// the reason.

bool g_recordOpen;

void BeginRecord();

// A frame of stream 3 holds the record's facts, not lines.
void TextLines(const uint8_t* frames, uint32_t count) {
    for (uint32_t i = 0; i + 3 <= count;) {
        uint32_t length = frames[i + 1] | frames[i + 2] << 8;
        if (frames[i] != 3) OutBytes(frames + i + 3, length);
        i += 3 + length;
    }
}

// --- Records as JSON ------------------------------------------------------------------
//
// One object a line. Strings are always valid UTF-8: a byte that is not
// (only a file name's bytes can be) shows as U+FFFD, and the name's exact
// bytes are then also given in base 64.

struct JsonRecord {
    bool firstLine;
    bool hasFormat;
    uint8_t format[64];
    uint32_t formatLength;
    bool has[5];
    uint64_t value[5];  // sample_rate, channels, bits, data_offset, data_size
    uint8_t stderrText[8 * 1024];
    uint32_t stderrUsed;
    uint32_t errorAt, errorLength;  // the last line of standard error
    uint8_t warnings[64 * 1024];
    uint32_t warningsUsed;
    uint32_t warningsOmitted;
};

JsonRecord g_json;

enum Field { kRate, kChannels, kBits, kDataOffset, kDataSize };

// Appends the JSON string of bytes to out (room bytes); false when it does
// not fit, with nothing kept. *exact tells whether the bytes were UTF-8.
bool JsonString(const uint8_t* bytes, uint32_t n, uint8_t* out, uint32_t room, uint32_t* used, bool* exact) {
    uint32_t o = *used;
    auto put = [&](uint8_t b) {
        if (o < room) out[o] = b;
        ++o;
    };
    put('"');
    for (uint32_t i = 0; i < n;) {
        uint32_t cp;
        uint32_t length = DecodeUtf8(bytes + i, n - i, &cp);
        if (length == 0) {
            if (exact != nullptr) *exact = false;
            put(0xEF), put(0xBF), put(0xBD);
            ++i;
            continue;
        }
        uint8_t b = bytes[i];
        if (b == '"' || b == '\\') {
            put('\\'), put(b);
        } else if (b < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            put('\\'), put('u'), put('0'), put('0'), put(static_cast<uint8_t>(kHex[b >> 4])), put(static_cast<uint8_t>(kHex[b & 15]));
        } else {
            for (uint32_t k = 0; k < length; ++k) put(bytes[i + k]);
        }
        i += length;
    }
    put('"');
    if (o > room) return false;
    *used = o;
    return true;
}

void OutJsonString(const uint8_t* bytes, uint32_t n, bool* exact) {
    static uint8_t text[3 * 1024 * 6 + 2];
    uint32_t used = 0;
    JsonString(bytes, n, text, sizeof text, &used, exact);
    OutBytes(text, used);
}

void OutBase64(const uint8_t* bytes, uint32_t n) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    uint8_t quad[4];
    for (uint32_t i = 0; i < n; i += 3) {
        uint32_t v = static_cast<uint32_t>(bytes[i]) << 16 | (i + 1 < n ? bytes[i + 1] << 8 : 0) | (i + 2 < n ? bytes[i + 2] : 0);
        for (int k = 0; k < 4; ++k) quad[k] = static_cast<uint8_t>(kAlphabet[v >> (18 - 6 * k) & 63]);
        if (i + 1 >= n) quad[2] = '=';
        if (i + 2 >= n) quad[3] = '=';
        OutBytes(quad, 4);
    }
}

bool StartsWith(const uint8_t* line, uint32_t n, const char* prefix, uint32_t* after) {
    uint32_t i = 0;
    for (; prefix[i] != 0; ++i) {
        if (i >= n || line[i] != static_cast<uint8_t>(prefix[i])) return false;
    }
    *after = i;
    return true;
}

// Decimal digits at line[*i]; false when there are none.
bool ReadNumber(const uint8_t* line, uint32_t n, uint32_t* i, uint64_t* value) {
    uint32_t start = *i;
    uint64_t v = 0;
    while (*i < n && line[*i] >= '0' && line[*i] <= '9') v = v * 10 + (line[(*i)++] - '0');
    *value = v;
    return *i > start;
}

void Remember(Field field, const uint8_t* line, uint32_t n, uint32_t at) {
    uint64_t v;
    if (!ReadNumber(line, n, &at, &v)) return;
    g_json.has[field] = true;
    g_json.value[field] = v;
}

// "Format: PCM/44100/16/2", "ExtPCM/48000/24(4)/6(3f)": rate, bits, channels.
void RememberFormat(const uint8_t* line, uint32_t n, uint32_t at) {
    g_json.hasFormat = true;
    g_json.formatLength = 0;
    for (uint32_t i = at; i < n && g_json.formatLength < sizeof g_json.format; ++i) {
        g_json.format[g_json.formatLength++] = line[i];
    }
    const Field order[3] = {kRate, kBits, kChannels};
    uint32_t i = at;
    for (Field field : order) {
        while (i < n && line[i] != '/') ++i;
        if (i == n) return;
        ++i;
        Remember(field, line, n, i);
    }
}

// The report lines scripts ask for most, taken as they pass.
void NoteReportLine(const uint8_t* line, uint32_t n) {
    uint32_t at;
    if (StartsWith(line, n, "Format: ", &at)) {
        RememberFormat(line, n, at);
    } else if (StartsWith(line, n, "Samples per second: ", &at) || StartsWith(line, n, "nSamplesPerSec: ", &at)) {
        Remember(kRate, line, n, at);
    } else if (StartsWith(line, n, "Channels: ", &at) || StartsWith(line, n, "nChannels: ", &at)) {
        Remember(kChannels, line, n, at);
    } else if (StartsWith(line, n, "wBitsPerSample: ", &at)) {
        Remember(kBits, line, n, at);
    } else if (StartsWith(line, n, "Wave data offset: ", &at)) {
        Remember(kDataOffset, line, n, at);
    } else if (StartsWith(line, n, "Wave data size: ", &at)) {
        Remember(kDataSize, line, n, at);
    } else if (StartsWith(line, n, "*** ", &at)) {
        uint32_t used = g_json.warningsUsed + (g_json.warningsUsed != 0 ? 1 : 0);
        if (used < sizeof g_json.warnings &&
            JsonString(line, n, g_json.warnings, sizeof g_json.warnings, &used, nullptr)) {
            if (g_json.warningsUsed != 0) g_json.warnings[g_json.warningsUsed] = ',';
            g_json.warningsUsed = used;
        } else {
            ++g_json.warningsOmitted;
        }
    }
}

// JSON records always ask the walk for the offsets, which scripts want; a
// user who did not give -o does not see their two lines.
bool IsOffsetLine(const uint8_t* line, uint32_t n) {
    uint32_t at;
    return (g_options.flags & kFlagOffsets) == 0 &&
           (StartsWith(line, n, "Format descriptor offset: ", &at) || StartsWith(line, n, "Wave data offset: ", &at));
}

void AddStderrLine(const uint8_t* line, uint32_t n) {
    uint32_t used = g_json.stderrUsed + (g_json.stderrUsed != 0 ? 1 : 0);
    if (!JsonString(line, n, g_json.stderrText, sizeof g_json.stderrText, &used, nullptr)) return;
    if (g_json.stderrUsed != 0) g_json.stderrText[g_json.stderrUsed] = ',';
    g_json.errorAt = g_json.stderrUsed + (g_json.stderrUsed != 0 ? 1 : 0);
    g_json.errorLength = used - g_json.errorAt;
    g_json.stderrUsed = used;
}

// A captured write may hold several lines (the block of a non-PCM format is
// one write): each is a string of its own, as a reader of the stream sees it.
void JsonLine(uint8_t stream, const uint8_t* line, uint32_t n) {
    if (stream == 2) {
        AddStderrLine(line, n);
        return;
    }
    NoteReportLine(line, n);
    if (IsOffsetLine(line, n)) return;
    if (!g_json.firstLine) OutText(",");
    g_json.firstLine = false;
    OutJsonString(line, n, nullptr);
}

void JsonLines(const uint8_t* frames, uint32_t count) {
    for (uint32_t i = 0; i + 3 <= count;) {
        uint8_t stream = frames[i];
        uint32_t length = frames[i + 1] | frames[i + 2] << 8;
        const uint8_t* text = frames + i + 3;
        i += 3 + length;
        if (stream == 3) continue;
        uint32_t start = 0;
        for (uint32_t k = 0; k < length; ++k) {
            if (text[k] != '\n') continue;
            JsonLine(stream, text + start, k - start);
            start = k + 1;
        }
        if (start < length) JsonLine(stream, text + start, length - start);
    }
}

void BeginJson(const WChar* name) {
    g_json.firstLine = true;
    g_json.hasFormat = false;
    for (bool& h : g_json.has) h = false;
    g_json.stderrUsed = 0;
    g_json.errorLength = 0;
    g_json.warningsUsed = 0;
    g_json.warningsOmitted = 0;
    uint32_t length = 0;
    while (name[length] != 0) ++length;
    uint32_t n = g_platform.toUtf8(name, length, g_nameBytes);
    OutText("{\"file\":");
    bool exact = true;
    OutJsonString(g_nameBytes, n, &exact);
    if (!exact) {
        OutText(",\"file_base64\":\"");
        OutBase64(g_nameBytes, n);
        OutText("\"");
    }
    OutText(",\"stdout\":[");
}

void OutNumberField(const char* key, Field field) {
    OutText(key);
    if (g_json.has[field]) {
        OutFormat(u"%I64u", g_json.value[field]);
    } else {
        OutText("null");
    }
}

void EndJson(uint32_t exitCode) {
    OutText("],\"stderr\":[");
    OutBytes(g_json.stderrText, g_json.stderrUsed);
    OutFormat(u"],\"exit\":%u,\"format\":", exitCode);
    if (g_json.hasFormat) {
        OutJsonString(g_json.format, g_json.formatLength, nullptr);
    } else {
        OutText("null");
    }
    OutNumberField(",\"sample_rate\":", kRate);
    OutNumberField(",\"channels\":", kChannels);
    OutNumberField(",\"bits\":", kBits);
    OutNumberField(",\"data_offset\":", kDataOffset);
    OutNumberField(",\"data_size\":", kDataSize);
    OutText(",\"warnings\":[");
    OutBytes(g_json.warnings, g_json.warningsUsed);
    OutText("]");
    if (g_json.warningsOmitted != 0) OutFormat(u",\"warnings_omitted\":%u", g_json.warningsOmitted);
    OutText(",\"error\":");
    if (g_json.errorLength != 0) {
        OutBytes(g_json.stderrText + g_json.errorAt, g_json.errorLength);
    } else {
        OutText("null");
    }
    OutText("}\n");
}

// --- Records -----------------------------------------------------------------------

void BeginRecord() {
    if (g_recordOpen) return;
    g_recordOpen = true;
    const WChar* name = g_names[g_recordSlot];
    if (g_options.json) {
        BeginJson(name);
    } else {
        static WChar echo[kEchoRoom];
        OutFormat(u"==> %s\n", EchoText(name, echo));
    }
}

void RecordLines(const uint8_t* frames, uint32_t count) {
    BeginRecord();
    if (g_options.json) {
        JsonLines(frames, count);
    } else {
        TextLines(frames, count);
    }
}

// --- The count ----------------------------------------------------------------------

struct CodeCount {
    uint32_t code;
    uint32_t files;
};
// Room for every code a record can have: sondrel's nine, 128 + each signal
// (up to 64), and the refused reply's and the time limit's.
CodeCount g_counts[80];
uint32_t g_countsUsed;
uint32_t g_files;
bool g_allUsable = true;

void Count(uint32_t code) {
    ++g_files;
    if (code != ExitSuccess) g_allUsable = false;
    uint32_t i = 0;
    while (i < g_countsUsed && g_counts[i].code < code) ++i;
    if (i < g_countsUsed && g_counts[i].code == code) {
        ++g_counts[i].files;
        return;
    }
    if (g_countsUsed == sizeof g_counts / sizeof g_counts[0]) return;
    for (uint32_t k = g_countsUsed; k > i; --k) g_counts[k] = g_counts[k - 1];
    g_counts[i] = {code, 1};
    ++g_countsUsed;
}

void RecordEnd(uint32_t exitCode) {
    BeginRecord();
    if ((exitCode & kScanCheckLost) != 0) {
        // As a shell reports a program that a signal ended.
        uint32_t signal = exitCode & 0xFF;
        uint32_t reason = exitCode & kScanEndReasons;
        exitCode = 128 + signal;
        // One line on standard error, framed as a captured one, saying why.
        static uint8_t line[3 + 128 * 3];
        static WChar text[128];
        uint32_t n = 0;
        if (reason == kScanEndRefused) {
            exitCode = kScanRefusedCode;
            n = FormatText(text, 128, u"The check of this file ended early (its worker's reply was refused)\n");
        } else if (reason == kScanEndTimeLimit) {
            exitCode = kScanTimeLimitCode;
            n = FormatText(text, 128, u"The check of this file ended early (past the time limit)\n");
        } else if (signal != 0) {
            n = FormatText(text, 128, u"The check of this file ended early (signal %u)\n", signal);
        } else {
            n = FormatText(text, 128, u"The check of this file ended early\n");
        }
        n = g_platform.toUtf8(text, n, line + 3);
        line[0] = 2;
        line[1] = static_cast<uint8_t>(n);
        line[2] = 0;
        RecordLines(line, 3 + n);
    }
    if (g_options.json) {
        EndJson(exitCode);
    } else {
        OutFormat(u"<== exit code %u\n", exitCode);
    }
    g_recordOpen = false;
    g_recordSlot = (g_recordSlot + 1) % kScanWindow;
    Count(exitCode);
    if (g_outConsole) FlushOutput();
}

void ReportCounts() {
    static WChar line[1024];
    uint32_t n = FormatText(line, 1024, u"Checked %u %s", g_files, g_files == 1 ? u"file" : u"files");
    for (uint32_t i = 0; i < g_countsUsed; ++i) {
        n += FormatText(line + n, 1024 - n, u"%s %u with exit code %u", i == 0 ? u":" : u",", g_counts[i].files,
                        g_counts[i].code);
    }
    ReportError(u"%s", line);
}

// --- The check ----------------------------------------------------------------------
//
// The walk of a sondrel run, with three entries of the platform table
// swapped for the time of one file: the open hands over the file the opener
// opened, the sandbox is already in place, and each line is captured in
// place of its write.

constexpr OsHandle kCapturedOutput = -2;
constexpr OsHandle kCapturedError = -3;

ScanFile g_given;
void (*g_captureSink)(const uint8_t*, uint32_t);

OsHandle OpenGivenFile(const WChar*) {
    OsHandle file = g_given.handle;
    g_given.handle = kNoHandle;
    if (file == kNoHandle) g_platform.setLastError(g_given.openError);
    return file;
}

bool GivenFileSize(OsHandle, uint32_t* size) {
    if (g_given.sizeError != 0) {
        g_platform.setLastError(g_given.sizeError);
        return false;
    }
    *size = g_given.size;
    return true;
}

bool AlreadyRestricted(OsHandle) { return true; }

bool NeverConsole(OsHandle) { return false; }

bool CaptureLine(OsHandle handle, const void* bytes, uint32_t count) {
    static uint8_t frame[3 + 1024 * 3];
    if (count > 1024 * 3) count = 1024 * 3;
    frame[0] = handle == kCapturedError ? 2 : 1;
    frame[1] = static_cast<uint8_t>(count);
    frame[2] = static_cast<uint8_t>(count >> 8);
    const uint8_t* from = static_cast<const uint8_t*>(bytes);
    for (uint32_t i = 0; i < count; ++i) frame[3 + i] = from[i];
    g_captureSink(frame, 3 + count);
    return true;
}

// Every line goes out as UTF-8 with LF, what SONDREL_ENCODING=utf-8 asks for.
bool AskUtf8(const WChar* name, WChar* value, uint32_t capacity) {
    static const WChar kUtf8[] = u"utf-8";
    if (WideLengthBounded(name, 20) != 16 || capacity < 6) return false;
    for (uint32_t i = 0; i < 6; ++i) value[i] = kUtf8[i];
    return true;
}

// --- The command line -----------------------------------------------------------------

const WChar kScanUsage[] =
    u"Usage: sondrel-scan [-o] [-f] [-v] [--json] [--files-from FILE|-] [-0] [--time-limit S] [--isolate]\r\n"
    u"                    [--] [NAME...]\r\n"
    u"\r\n"
    u"Checks every named RIFF/WAVE file as sondrel checks one, in one run. Each file's report\r\n"
    u"opens with \"==> NAME\" and closes with \"<== exit code N\"; a count per exit code ends\r\n"
    u"the run on standard error.\r\n"
    u"\r\n"
    u"-o, -f, -v        as sondrel: offsets, descriptor fields, verbose\r\n"
    u"--json            one JSON object a line and file\r\n"
    u"--files-from FILE read names from FILE (- for standard input), one a line\r\n"
    u"-0                names in that list end with a NUL byte, not a new line\r\n"
    u"--time-limit S    end a file's check after S seconds (default 60; 0: never)\r\n"
    u"--isolate         check each file in a process of its own\r\n"
    u"--                every argument after it is a name\r\n"
    u"--help, --version\r\n"
    u"\r\n"
    u"Exit status: 0 every file usable, 1 some file not usable, 2 bad command line or\r\n"
    u"unreadable list, 3 output could not be written.";

bool Same(const WChar* a, const char* b) {
    while (*a != 0 && *a == static_cast<uint8_t>(*b)) ++a, ++b;
    return *a == 0 && *b == 0;
}

WChar g_listNameBuffer[kScanNameUnits + 1];

// Seconds as "60" or "0.25", to the millisecond, up to about 49 days.
bool ParseSeconds(const WChar* text, uint32_t* ms) {
    const WChar* at = text;
    uint32_t whole = ParseDecimal(at);
    if (at == text || at - text > 7) return false;
    uint32_t fraction = 0;
    if (*at == u'.') {
        const WChar* digits = ++at;
        fraction = ParseDecimal(at);
        if (at == digits || at - digits > 3) return false;
        for (auto n = at - digits; n < 3; ++n) fraction *= 10;
    }
    if (*at != 0 || whole > 4000000) return false;
    *ms = whole * 1000 + fraction;
    return true;
}

// The options, up to the first name or "--". Returns kScanAllUsable to go
// on, or the status to end with.
uint32_t ParseScanOptions(bool* done) {
    static WChar word[kEchoRoom];
    *done = false;
    for (ArgumentCursor mark = g_arguments; NextArgument(word, kEchoRoom); mark = g_arguments) {
        if (word[0] != u'-' || word[1] == 0) {  // a name: the names begin here
            g_arguments = mark;
            return kScanAllUsable;
        }
        if (Same(word, "--")) return kScanAllUsable;
        if (Same(word, "-o")) {
            g_options.flags |= kFlagOffsets;
        } else if (Same(word, "-f")) {
            g_options.flags |= kFlagFields;
        } else if (Same(word, "-v")) {
            g_options.flags |= kFlagVerbose;
        } else if (Same(word, "-0")) {
            g_options.nulSeparated = true;
        } else if (Same(word, "--json")) {
            g_options.json = true;
        } else if (Same(word, "--files-from")) {
            if (!NextArgument(g_listNameBuffer, kScanNameUnits + 1)) {
                ReportError(u"No list named after --files-from");
                return kScanBadCommandLine;
            }
            g_options.listName = g_listNameBuffer;
        } else if (Same(word, "--isolate")) {
            g_options.isolate = true;
        } else if (Same(word, "--time-limit")) {
            if (!NextArgument(word, kEchoRoom)) {
                ReportError(u"No time limit after --time-limit");
                return kScanBadCommandLine;
            }
            if (!ParseSeconds(word, &g_options.timeLimitMs)) {
                static WChar echo[kEchoRoom];
                ReportError(u"Invalid time limit \"%s\" (seconds, up to 3 decimals)", EchoText(word, echo));
                return kScanBadCommandLine;
            }
        } else if (Same(word, "--help")) {
            PrintMessage(u"%s", kScanUsage);
            *done = true;
            return kScanAllUsable;
        } else if (Same(word, "--version")) {
            PrintMessage(u"sondrel-scan %u.%u.%u.%u", SONDREL_VERSION_MAJOR, SONDREL_VERSION_MINOR,
                         SONDREL_VERSION_PATCH, SONDREL_VERSION_BUILD);
            *done = true;
            return kScanAllUsable;
        } else {
            static WChar echo[kEchoRoom];
            ReportError(u"Invalid option \"%s\"", EchoText(word, echo));
            return kScanBadCommandLine;
        }
    }
    return kScanAllUsable;
}

bool OpenList() {
    if (g_options.listName == nullptr) return true;
    if (Same(g_options.listName, "-")) {
        return g_platform.getStdHandles(&g_list, nullptr, nullptr) && g_list != kNoHandle;
    }
    g_list = g_scanPlatform.openList(g_options.listName);
    g_listOpenedHere = g_list != kNoHandle;
    return g_listOpenedHere;
}

uint32_t Scan(const WChar* arguments) {
    if (!RuntimeStartup()) {
        ReportError(u"Cannot initialize application");
        return kScanCannotWrite;
    }
    g_arguments = {SkipCharsInSet(arguments, kBlankSet), 0};
    if (!ArgumentsLeft()) {
        PrintMessage(u"%s", kScanUsage);
        return kScanBadCommandLine;
    }
    bool done = false;
    uint32_t status = ParseScanOptions(&done);
    if (status != kScanAllUsable || done) return status;
    g_namesInArguments = ArgumentsLeft();
    if (!g_namesInArguments && g_options.listName == nullptr) {
        ReportError(u"No file names: give them as arguments or with --files-from");
        return kScanBadCommandLine;
    }
    if (!OpenList()) {
        WChar error[256];
        static WChar echo[kEchoRoom];
        ReportError(u"Cannot open the list \"%s\" (%s)", EchoText(g_options.listName, echo), LastErrorText(error));
        return kScanBadCommandLine;
    }
    g_outputHandle = g_runtime.outputHandle;
    g_outConsole = g_platform.isConsole(g_outputHandle);
    uint32_t flags = g_options.flags | (g_options.json ? kFlagOffsets : 0);
    static const ScanCallbacks callbacks = {NextName, RecordLines, RecordEnd, FlushOutput};
    static const uint32_t kCodes[] = {ExitSuccess,        ExitUsage,     ExitBadCommandLine, ExitCannotOpen, ExitReadFailed,
                                      ExitNotUsableWave, ExitNoStreams, ExitNoRuntime,      ExitNoMemory};
    const ScanLimits limits = {g_options.timeLimitMs, g_options.isolate, kCodes, sizeof kCodes / sizeof kCodes[0]};
    bool started = g_scanPlatform.checkAll(CheckCaptured, flags, &limits, &callbacks);
    FlushOutput();
    if (g_listOpenedHere) g_scanPlatform.closeList(g_list);
    WChar error[256];
    if (!started) {
        ReportError(u"Cannot start the checks (%s)", LastErrorText(error));
        return kScanCannotWrite;
    }
    if (g_writeFailed) {
        g_platform.setLastError(g_writeError);
        ReportError(u"Cannot write output (%s)", LastErrorText(error));
        ReportCounts();
        return kScanCannotWrite;
    }
    ReportCounts();
    if (g_listFailed) {
        g_platform.setLastError(g_listError);
        ReportError(u"Cannot read the list of names (%s)", LastErrorText(error));
        return kScanBadCommandLine;
    }
    return g_allUsable ? kScanAllUsable : kScanSomeNotUsable;
}

}  // namespace

uint32_t CheckCaptured(const WChar* name, uint32_t flags, const ScanFile* file,
                       void (*sink)(const uint8_t* frames, uint32_t count)) {
    Platform saved = g_platform;
    RuntimeState& rt = g_runtime;
    OsHandle output = rt.outputHandle;
    OsHandle error = rt.errorHandle;
    g_platform.openFile = OpenGivenFile;
    g_platform.fileSize = GivenFileSize;
    g_platform.restrictProcess = AlreadyRestricted;
    g_platform.writeFile = CaptureLine;
    g_platform.isConsole = NeverConsole;
    rt.outputHandle = kCapturedOutput;
    rt.errorHandle = kCapturedError;
    g_captureSink = sink;
    g_given = *file;
    ExitCode outcome;
    // What a sondrel run refuses before it opens anything.
    if (name[0] == 0 || !ScanNameFits(name)) {
        ReportError(u"Invalid file specification");
        outcome = ExitBadCommandLine;
    } else {
        RunOptions options{(flags & kFlagOffsets) != 0, (flags & kFlagFields) != 0, (flags & kFlagVerbose) != 0};
        outcome = WalkChunks(name, options);
    }
    g_platform = saved;
    if (g_given.handle != kNoHandle) g_platform.closeFile(g_given.handle);
    g_given.handle = kNoHandle;
    rt.outputHandle = output;
    rt.errorHandle = error;
    return outcome;
}

namespace {

// Everything a run changes, as it was before the first: one process may run
// more than once (the fuzz target does).
void ResetScan() {
    g_options = {};
    g_options.timeLimitMs = kDefaultTimeLimitMs;
    g_outUsed = 0;
    g_writeFailed = false;
    g_nameNext = 0;
    g_recordSlot = 0;
    g_arguments = {};
    g_namesInArguments = false;
    g_list = kNoHandle;
    g_listOpenedHere = false;
    g_listUsed = 0;
    g_listAt = 0;
    g_listEnded = false;
    g_listFailed = false;
    g_recordOpen = false;
    g_countsUsed = 0;
    g_files = 0;
    g_allUsable = true;
}

}  // namespace

uint32_t ScanMain(const WChar* arguments) {
    ResetScan();
    RuntimeState& rt = g_runtime;
    // The streams, with every line in UTF-8 and ended by LF.
    Platform saved = g_platform;
    g_platform.environmentVariable = AskUtf8;
    bool streams = GetStdStreams(nullptr, &rt.outputHandle, &rt.errorHandle);
    g_platform.environmentVariable = saved.environmentVariable;
    if (!streams) return kScanCannotWrite;
    g_system = g_platform;
    uint32_t status = Scan(arguments);
    if (rt.outputHandle != kNoHandle) g_platform.closeHandle(rt.outputHandle);
    if (rt.errorHandle != kNoHandle) g_platform.closeHandle(rt.errorHandle);
    RuntimeShutdown();
    return status;
}
