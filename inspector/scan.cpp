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
#include "inspector/facts.h"
#include "inspector/scan_parts.h"
#include "inspector/scan_progress.h"
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

// A check that takes longer than this ends early, unless --time-limit says
// otherwise: far longer than any honest file takes (a file of a million
// chunks, read cold, takes seconds).
constexpr uint32_t kDefaultTimeLimitMs = 60 * 1000;

// A record's exit code when its check ended early other than by a signal
// (which gives 128 + the signal, as a shell reports it). No run of sondrel
// gives either; 124 is what timeout(1) gives.
constexpr uint32_t kScanRefusedCode = 122;
constexpr uint32_t kScanTimeLimitCode = 124;

}  // namespace

// --- Output -----------------------------------------------------------------------
//
// Into the output channel's records: each file's record is whole before any
// of it is written.

void OutBytes(const uint8_t* bytes, uint32_t count) { RecordBytes(bytes, count); }

void OutText(const char* text) {
    uint32_t n = 0;
    while (text[n] != 0) ++n;
    OutBytes(reinterpret_cast<const uint8_t*>(text), n);
}

void OutUtf8(const WChar* text, uint32_t count) {
    static uint8_t bytes[1024 * 3];
    if (count > 1024) count = 1024;
    OutBytes(bytes, g_platform.toUtf8(text, count, bytes));
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

// The facts of the record under way, from its one frame of facts.
WaveFacts g_recordFacts;

void RecordLine(const uint8_t* frame, uint32_t count) {
    if (g_scan.options.json) {
        JsonLines(frame, count);
    } else {
        TextLines(frame, count);
    }
}

// The frames of the record under way, one at a time: lines go to the record
// as they come; the facts are decoded, and facts that do not decode end the
// record early, with nothing more taken from its check.
void RecordLines(const uint8_t* frames, uint32_t count) {
    BeginRecord();
    ScanState& s = g_scan;
    for (uint32_t i = 0; i + 3 <= count && !s.factsBad;) {
        uint32_t length = frames[i + 1] | frames[i + 2] << 8;
        if (length > count - i - 3) break;  // the backend passes whole frames only
        if (frames[i] != kScanStreamFacts) {
            RecordLine(frames + i, 3 + length);
        } else if (s.factsKnown || !DecodeFacts(frames + i + 3, length, &g_recordFacts)) {
            s.factsBad = true;
            s.factsKnown = false;
        } else {
            s.factsKnown = true;
        }
        i += 3 + length;
    }
}

// Why a record ended before its check did.
enum class EndedBy { kLostCheck, kBadFacts };

// A record the check did not finish: the code a shell gives a program that a
// signal ended (128 when none did; 122 for a refused reply, 124 past the
// time limit, as timeout(1) gives), and one line on standard error that
// says why, as a captured one.
uint32_t EndedEarly(uint32_t exitCode, EndedBy why) {
    uint32_t signal = why == EndedBy::kLostCheck ? exitCode & 0xFF : 0;
    uint32_t reason = why == EndedBy::kLostCheck ? exitCode & kScanEndReasons : kScanEndSignal;
    static uint8_t line[3 + 128 * 3];
    static WChar text[128];
    uint32_t n = 0;
    uint32_t code = 128 + signal;
    if (why == EndedBy::kBadFacts) {
        n = FormatText(text, 128, u"The check of this file ended early (its facts could not be read)\n");
    } else if (reason == kScanEndRefused) {
        code = kScanRefusedCode;
        n = FormatText(text, 128, u"The check of this file ended early (its worker's reply was refused)\n");
    } else if (reason == kScanEndTimeLimit) {
        code = kScanTimeLimitCode;
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
    RecordLine(line, 3 + n);
    return code;
}

void RecordEnd(uint32_t exitCode) {
    BeginRecord();
    ScanState& s = g_scan;
    if (s.factsBad) {
        exitCode = EndedEarly(exitCode, EndedBy::kBadFacts);
    } else if ((exitCode & kScanCheckLost) != 0) {
        exitCode = EndedEarly(exitCode, EndedBy::kLostCheck);
    }
    if (s.options.json) {
        JsonEnd(exitCode, s.factsKnown ? &g_recordFacts : nullptr);
    } else {
        TextEnd(exitCode);
    }
    s.factsKnown = false;
    s.factsBad = false;
    g_scan.recordOpen = false;
    NextRecordSlot();
    Count(exitCode);
    // The status line goes before a record reaches the same terminal.
    if (RecordsToConsole()) ScanProgressErase();
    RecordDone();
    ScanProgressRecordEnd(exitCode, s.namesTotal);
}

// --- The check ----------------------------------------------------------------------
//
// The walk of a sondrel run, given the file the opener opened (the sandbox,
// where there is one, already in place), with a sink that frames each line
// as a UTF-8 stream of sondrel's would get it.

// Where the check under way sends its frames.
ScanSink g_frames;

void CaptureLine(uint8_t stream, const WChar* format, const uint64_t* slots, uint32_t slotCount) {
    static uint8_t frame[3 + 1024 * 3];
    uint32_t count = FormatUtf8Line(format, slots, slotCount, frame + 3);
    frame[0] = stream;
    frame[1] = static_cast<uint8_t>(count);
    frame[2] = static_cast<uint8_t>(count >> 8);
    g_frames(frame, 3 + count);
}

void CaptureOutput(const WChar* format, const uint64_t* slots, uint32_t slotCount) {
    CaptureLine(1, format, slots, slotCount);
}

void CaptureError(const WChar* format, const uint64_t* slots, uint32_t slotCount) {
    CaptureLine(2, format, slots, slotCount);
}

void CaptureUnshown(const WChar* format, const uint64_t* slots, uint32_t slotCount) {
    CaptureLine(kScanStreamUnshown, format, slots, slotCount);
}

void CaptureFacts(const WaveFacts& facts) {
    static uint8_t frame[3 + kScanFactsRoom];
    uint32_t count = EncodeFacts(facts, frame + 3);
    frame[0] = kScanStreamFacts;
    frame[1] = static_cast<uint8_t>(count);
    frame[2] = static_cast<uint8_t>(count >> 8);
    g_frames(frame, 3 + count);
}

// --- The command line -----------------------------------------------------------------

// The usage text, in two messages: whole, it is longer than one line of
// the output channel holds.
const WChar kScanUsage[] =
    u"Usage: sondrel-scan [-o] [-f] [-v] [--json] [--files-from FILE|-]... [-0] [--time-limit S]\r\n"
    u"                    [--isolate] [--] [NAME...]\r\n"
    u"\r\n"
    u"Checks every named RIFF/WAVE file as sondrel checks one, in one run. Each file's report\r\n"
    u"opens with \"==> NAME\" and closes with \"<== exit code N\"; a count per exit code ends\r\n"
    u"the run on standard error.\r\n";
const WChar kScanUsageOptions[] =
    u"-o, -f, -v        as sondrel: offsets, descriptor fields, verbose (or -ofv)\r\n"
    u"--json            one JSON object a line and file\r\n"
    u"--files-from FILE read names from FILE (- for standard input), one a line, after\r\n"
    u"                  the arguments; each list given in turn; also --files-from=FILE\r\n"
    u"-0                names in the lists end with a NUL byte, not a new line\r\n"
    u"--time-limit S    end a file's check after S seconds (default 60; 0: never)\r\n"
    u"--isolate         check each file in a process of its own\r\n"
    u"--                every argument after it is a name\r\n"
    u"--progress        a status line on standard error, even when it is no terminal\r\n"
    u"--no-progress     none, even on a terminal\r\n"
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
        } else if (Same(word, "--progress")) {
            g_scan.options.progress = ProgressMode::kOn;
        } else if (Same(word, "--no-progress")) {
            g_scan.options.progress = ProgressMode::kOff;
        } else if (StartsWith(word, "--files-from=")) {
            ++g_scan.options.lists;
        } else if (Same(word, "--files-from")) {
            static WChar list[2];
            if (!NextArgument(list, 2)) {
                ReportError(u"No list named after --files-from");
                return kScanBadCommandLine;
            }
            ++g_scan.options.lists;
        } else if (Same(word, "--isolate")) {
            g_scan.options.isolate = true;
        } else if (Same(word, "--time-limit")) {
            if (!NextArgument(word, kEchoRoom)) {
                ReportError(u"No time limit after --time-limit");
                return kScanBadCommandLine;
            }
            if (!ParseSeconds(word, &g_scan.options.timeLimitMs)) {
                static WChar echo[kEchoRoom];
                ReportError(u"Invalid time limit \"%s\" (seconds, up to 3 decimals)", EchoText(word, echo));
                return kScanBadCommandLine;
            }
        } else if (Same(word, "--help")) {
            PrintMessage(u"%s", kScanUsage), PrintMessage(u"%s", kScanUsageOptions);
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
        PrintMessage(u"%s", kScanUsage), PrintMessage(u"%s", kScanUsageOptions);
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
    RecordsStart();
    uint32_t flags = g_scan.options.flags;
    // Names on the command line alone are counted before the first check.
    if (g_scan.options.lists == 0) {
        ArgumentCursor mark = g_scan.arguments;
        static WChar scratch[2];
        while (NextArgument(scratch, 2)) ++g_scan.namesTotal;
        g_scan.arguments = mark;
    }
    ScanProgressStart(g_runtime.errorHandle, g_scan.options.progress);
    static const ScanCallbacks callbacks = {NextName, RecordLines, RecordEnd, RecordsFlush};
    static const uint32_t kCodes[] = {ExitSuccess,       ExitUsage,     ExitBadCommandLine, ExitCannotOpen, ExitReadFailed,
                                      ExitNotUsableWave, ExitNoStreams, ExitNoRuntime,      ExitNoMemory};
    const ScanLimits limits = {g_scan.options.timeLimitMs, g_scan.options.isolate, kCodes,
                               sizeof kCodes / sizeof kCodes[0]};
    bool started = g_scanPlatform.checkAll(CheckCaptured, flags, &limits, &callbacks);
    ScanProgressErase();
    RecordsFlush();
    CloseList();
    WChar error[256];
    if (!started) {
        ReportError(u"Cannot start the checks (%s)", LastErrorText(error));
        return kScanCannotWrite;
    }
    uint32_t writeError;
    if (RecordsFailed(&writeError)) {
        g_platform.setLastError(writeError);
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

uint32_t CheckCaptured(const WChar* name, uint32_t flags, const OpenedFile* file, ScanSink sink) {
    static const WalkSink capture = {CaptureOutput, CaptureError, CaptureFacts, CaptureUnshown};
    g_frames = sink;
    // What a sondrel run refuses before it opens anything.
    if (!ScanNameFits(name)) {
        if (file->handle != kNoHandle) g_platform.closeFile(file->handle);
        SinkError(capture, u"Invalid file specification");
        return ExitBadCommandLine;
    }
    RunOptions options{(flags & kFlagOffsets) != 0, (flags & kFlagFields) != 0, (flags & kFlagVerbose) != 0};
    return WalkChunks(name, *file, options, capture);
}

namespace {

void ResetScan() {
    g_scan = ScanState{};
    g_scan.list = kNoHandle;
    g_scan.options.timeLimitMs = kDefaultTimeLimitMs;
}

}  // namespace

uint32_t ScanMain(const WChar* arguments) {
    ResetScan();
    // Where the worker that parses the files is this program started anew,
    // it only checks what it is sent, and writes nothing of its own.
    if (g_scanPlatform.startedAsWorker != nullptr && g_scanPlatform.startedAsWorker()) {
        // GCOVR_EXCL_START: the Windows worker, run by the Windows build's tests under Wine
        if (!RuntimeStartup()) return kScanCannotWrite;
        LinesAsUtf8();
        g_scanPlatform.serveChecks(CheckCaptured);
        return kScanCannotWrite;  // serveChecks ends the process
        // GCOVR_EXCL_STOP
    }
    RuntimeState& rt = g_runtime;
    // The streams, with every line in UTF-8 and ended by LF.
    if (!GetStdStreams(nullptr, &rt.outputHandle, &rt.errorHandle)) return kScanCannotWrite;
    LinesAsUtf8();
    uint32_t status = Scan(arguments);
    if (rt.outputHandle != kNoHandle) g_platform.closeHandle(rt.outputHandle);
    if (rt.errorHandle != kNoHandle) g_platform.closeHandle(rt.errorHandle);
    RuntimeShutdown();
    return status;
}
