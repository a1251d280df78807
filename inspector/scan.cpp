// sondrel-scan: the command line, the output, each record's opening and
// ending, and the check.
//
// Each file is checked by the walk of a sondrel run, with that run's lines
// captured instead of written (CheckCaptured); where it runs (a sandboxed
// worker on Linux) is the backend's affair (platform/scan.h). Records come
// back in the order of the names and are written as they come, so memory
// stays the same however many files there are. The names, the two kinds of
// record and the count are parts of their own (scan_parts.h).
#include "inspector/scan.h"

#include "inspector/commandline.h"
#include "inspector/scan_parts.h"
#include "inspector/toolmain.h"
#include "inspector/walk.h"
#include "platform/scan.h"
#include "platform/text.h"
#include "runtime/format.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/state.h"

ScanState g_scan;

namespace {

// The system's entries as the run began: a check in this process swaps some
// of g_platform's for its time, and the run's own output must not be taken
// for the file's.
Platform g_system;

// --- Output -----------------------------------------------------------------------
//
// Standard output is written in large pieces: a record costs no system call
// of its own. A terminal gets each record as it ends.

uint8_t g_out[64 * 1024];

void FlushOutput() {
    // A closed standard output loses the lines, as a sondrel run's are lost;
    // the count and the status still tell.
    if (g_scan.outUsed == 0 || g_scan.writeFailed || g_scan.outputHandle == kNoHandle) {
        g_scan.outUsed = 0;
        return;
    }
    OsHandle handle = g_scan.outputHandle;
    bool written = true;
    if (g_scan.outConsole) {
        // A console takes characters: the bytes as UTF-8, a piece at a time.
        static WChar units[1024];
        uint32_t n = 0;
        // Each line ends in CR LF there, as sondrel's lines do.
        for (uint32_t i = 0; i < g_scan.outUsed && written;) {
            uint32_t cp = 0xFFFD;
            uint32_t length = DecodeUtf8(g_out + i, g_scan.outUsed - i, &cp);
            i += length == 0 ? 1 : length;
            if (cp == u'\n') units[n++] = u'\r';
            n += EncodeUtf16(length == 0 ? 0xFFFD : cp, units + n);
            if (n > 1019 || i == g_scan.outUsed) {
                written = g_system.writeConsole(handle, units, n);
                n = 0;
            }
        }
    } else {
        written = g_system.writeFile(handle, g_out, g_scan.outUsed);
    }
    g_scan.outUsed = 0;
    // A failed write is the one thing that ends the run.
    if (!written) {
        g_scan.writeFailed = true;
        g_scan.writeError = g_platform.lastError();
    }
}

}  // namespace

void OutBytes(const uint8_t* bytes, uint32_t count) {
    while (count > 0) {
        if (g_scan.outUsed == sizeof g_out) FlushOutput();
        uint32_t room = static_cast<uint32_t>(sizeof g_out) - g_scan.outUsed;
        uint32_t n = count < room ? count : room;
        for (uint32_t i = 0; i < n; ++i) g_out[g_scan.outUsed + i] = bytes[i];
        g_scan.outUsed += n;
        bytes += n;
        count -= n;
    }
}

void OutText(const char* text) {
    uint32_t n = 0;
    while (text[n] != 0) ++n;
    OutBytes(reinterpret_cast<const uint8_t*>(text), n);
}

void OutUtf8(const WChar* text, uint32_t count) {
    static uint8_t bytes[1024 * 3];
    while (count > 0) {
        uint32_t n = count < 1024 ? count : 1024;
        // A pair of surrogates is not split between two pieces.
        if (n < count && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
        OutBytes(bytes, g_platform.toUtf8(text, n, bytes));
        text += n;
        count -= n;
    }
}

namespace {

// --- Records -----------------------------------------------------------------------

void BeginRecord() {
    if (g_scan.recordOpen) return;
    g_scan.recordOpen = true;
    uint32_t units;
    const WChar* name = RecordName(&units);
    if (g_scan.options.json) {
        JsonBegin(name, units);
    } else {
        TextBegin(ShownName(name, units));
    }
}

void RecordLines(const uint8_t* frames, uint32_t count) {
    BeginRecord();
    if (g_scan.options.json) {
        JsonLines(frames, count);
    } else {
        TextLines(frames, count);
    }
}

// A record the check did not finish: the code a shell gives a program that a
// signal ended, and one line on standard error that says why, framed as a
// captured one.
uint32_t EndedEarly(uint32_t exitCode) {
    uint32_t signal = exitCode & 0xFF;
    static uint8_t line[3 + 64 * 3];
    static WChar text[64];
    uint32_t n = signal != 0 ? FormatText(text, 64, u"The check of this file ended early (signal %u)\n", signal)
                             : FormatText(text, 64, u"The check of this file ended early\n");
    n = g_platform.toUtf8(text, n, line + 3);
    line[0] = 2;
    line[1] = static_cast<uint8_t>(n);
    line[2] = 0;
    RecordLines(line, 3 + n);
    return 128 + signal;
}

void RecordEnd(uint32_t exitCode) {
    BeginRecord();
    if ((exitCode & kScanCheckLost) != 0) exitCode = EndedEarly(exitCode);
    if (g_scan.options.json) {
        JsonEnd(exitCode);
    } else {
        TextEnd(exitCode);
    }
    g_scan.recordOpen = false;
    NextRecordSlot();
    Count(exitCode);
    if (g_scan.outConsole) FlushOutput();
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
    u"Usage: sondrel-scan [-o] [-f] [-v] [--json] [--files-from FILE|-]... [-0] [--] [NAME...]\r\n"
    u"\r\n"
    u"Checks every named RIFF/WAVE file as sondrel checks one, in one run. Each file's report\r\n"
    u"opens with \"==> NAME\" and closes with \"<== exit code N\"; a count per exit code ends\r\n"
    u"the run on standard error.\r\n"
    u"\r\n"
    u"-o, -f, -v        as sondrel: offsets, descriptor fields, verbose (or -ofv)\r\n"
    u"--json            one JSON object a line and file\r\n"
    u"--files-from FILE read names from FILE (- for standard input), one a line, after\r\n"
    u"                  the arguments; each list given in turn; also --files-from=FILE\r\n"
    u"-0                names in the lists end with a NUL byte, not a new line\r\n"
    u"--                every argument after it is a name\r\n"
    u"--help, --version\r\n"
    u"\r\n"
    u"Exit status: 0 every file usable (or none, from empty lists), 1 some file not\r\n"
    u"usable, 2 bad command line or unreadable list, 3 output could not be written.";

bool Same(const WChar* a, const char* b) {
    while (*a != 0 && *a == static_cast<uint8_t>(*b)) ++a, ++b;
    return *a == 0 && *b == 0;
}

// The options of one letter, which may be run together ("-of"), as in
// other tools of the system: each sets flags, or (-0) the list's separator.
struct LetterOption {
    WChar letter;
    uint32_t flag;  // 0 for -0
};
constexpr LetterOption kLetterOptions[] = {{u'o', kFlagOffsets}, {u'f', kFlagFields}, {u'v', kFlagVerbose}, {u'0', 0}};

bool TakeLetters(const WChar* letters) {
    for (; *letters != 0; ++letters) {
        uint32_t i = 0;
        while (i < sizeof kLetterOptions / sizeof kLetterOptions[0] && kLetterOptions[i].letter != *letters) ++i;
        if (i == sizeof kLetterOptions / sizeof kLetterOptions[0]) return false;
        g_scan.options.flags |= kLetterOptions[i].flag;
        g_scan.options.nulSeparated = g_scan.options.nulSeparated || kLetterOptions[i].flag == 0;
    }
    return true;
}

bool StartsWith(const WChar* text, const char* prefix) {
    while (*prefix != 0 && *text == static_cast<uint8_t>(*prefix)) ++text, ++prefix;
    return *prefix == 0;
}

// The options, up to the first name or "--". Returns kScanAllUsable to go
// on, or the status to end with. Each list is only counted here: the names
// part finds it again when its turn comes.
uint32_t ParseScanOptions(bool* done) {
    static WChar word[kEchoRoom];
    *done = false;
    for (ArgumentCursor mark = g_scan.arguments; NextArgument(word, kEchoRoom); mark = g_scan.arguments) {
        if (word[0] != u'-' || word[1] == 0) {  // a name: the names begin here
            g_scan.arguments = mark;
            return kScanAllUsable;
        }
        if (Same(word, "--")) return kScanAllUsable;
        if (word[1] != u'-' && TakeLetters(word + 1)) {
            continue;  // one letter or more, each an option
        } else if (Same(word, "--json")) {
            g_scan.options.json = true;
        } else if (StartsWith(word, "--files-from=")) {
            ++g_scan.options.lists;
        } else if (Same(word, "--files-from")) {
            static WChar list[2];
            if (!NextArgument(list, 2)) {
                ReportError(u"No list named after --files-from");
                return kScanBadCommandLine;
            }
            ++g_scan.options.lists;
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

void ReportListUnopened() {
    WChar error[256];
    static WChar echo[kEchoRoom];
    ReportError(u"Cannot open the list \"%s\" (%s)", EchoText(ListName(), echo), LastErrorText(error));
}

uint32_t Scan(const WChar* arguments) {
    if (!RuntimeStartup()) {
        ReportError(u"Cannot initialize application");
        return kScanCannotWrite;
    }
    g_scan.arguments = {SkipCharsInSet(arguments, kBlankSet), 0};
    g_scan.listSearch = g_scan.arguments;
    if (!ArgumentsLeft()) {
        PrintMessage(u"%s", kScanUsage);
        return kScanBadCommandLine;
    }
    bool done = false;
    uint32_t status = ParseScanOptions(&done);
    if (status != kScanAllUsable || done) return status;
    g_scan.namesInArguments = ArgumentsLeft();
    if (!g_scan.namesInArguments && g_scan.options.lists == 0) {
        ReportError(u"No file names: give them as arguments or with --files-from");
        return kScanBadCommandLine;
    }
    if (g_scan.options.lists != 0 && !OpenList()) {
        ReportListUnopened();
        return kScanBadCommandLine;
    }
    g_scan.outputHandle = g_runtime.outputHandle;
    g_scan.outConsole = g_platform.isConsole(g_scan.outputHandle);
    uint32_t flags = g_scan.options.flags | (g_scan.options.json ? kFlagOffsets : 0);
    static const ScanCallbacks callbacks = {NextName, RecordLines, RecordEnd};
    bool started = g_scanPlatform.checkAll(CheckCaptured, flags, &callbacks);
    FlushOutput();
    CloseList();
    WChar error[256];
    if (!started) {
        ReportError(u"Cannot start the checks (%s)", LastErrorText(error));
        return kScanCannotWrite;
    }
    if (g_scan.writeFailed) {
        g_platform.setLastError(g_scan.writeError);
        ReportError(u"Cannot write output (%s)", LastErrorText(error));
        ReportCounts();
        return kScanCannotWrite;
    }
    ReportCounts();
    if (g_scan.listFailed) {
        g_platform.setLastError(g_scan.listError);
        if (g_scan.listUnopened) {
            ReportListUnopened();
        } else {
            ReportError(u"Cannot read the list of names (%s)", LastErrorText(error));
        }
        return kScanBadCommandLine;
    }
    return !g_scan.someNotUsable ? kScanAllUsable : kScanSomeNotUsable;
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
    if (!ScanNameFits(name)) {
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

void ResetScan() {
    g_scan = ScanState{};
    g_scan.list = kNoHandle;
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
