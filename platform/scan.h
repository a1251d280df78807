// The seam for checking many files in one run (sondrel-scan).
//
// The program's core decides what a record says; the backend decides where
// each file is parsed. On Linux the process that opens the names never parses
// a byte: it hands each descriptor to a long-lived worker that runs in the
// same sandbox as a sondrel run, and a worker that dies costs one record. On
// Windows the worker is this program started anew, with the protection the
// system gives a sondrel run (see the backend).
#ifndef SONDREL_PLATFORM_SCAN_H
#define SONDREL_PLATFORM_SCAN_H

#include <stdint.h>

#include "platform/platform.h"

// How many files may be on their way to the worker at once. The core keeps
// the names of that many unfinished records.
constexpr uint32_t kScanWindow = 16;

// The longest name the core hands over, in units without the terminator: a
// longer one arrives cut to this and is then too long for every system.
constexpr uint32_t kScanNameUnits = 4096;

// An exit code that no run of sondrel gives: the check ended before the
// record did. Bits 8 to 15 say why (kScanEnd...); with kScanEndSignal the low
// byte holds the signal that ended the check's process, where known (0: no
// process could be started for it).
constexpr uint32_t kScanCheckLost = 0x80000000u;
constexpr uint32_t kScanEndSignal = 0 << 8;
// The worker sent what no check writes (a reply nobody asked for, a frame
// past its message, a line sondrel cannot write...): that worker is ended.
constexpr uint32_t kScanEndRefused = 1 << 8;
// The check ran past the time limit: its worker is ended.
constexpr uint32_t kScanEndTimeLimit = 2 << 8;
constexpr uint32_t kScanEndReasons = 0xFF << 8;

// The longest line a check writes, its line end included: a line of the
// output channel (1,024 units) in UTF-8.
constexpr uint32_t kScanLineBytes = 3 * 1024;

// Receives captured frames: each a stream byte (1 a line of standard output,
// 2 a line of standard error, 3 the file's facts, 4 a warning that standard
// output shows only with -f, captured without it), the length as two
// little-endian bytes, then the bytes. The core encodes the facts and
// decodes them, checking every length and count; they come in one frame of
// at most kScanFactsRoom bytes, after the file's lines.
using ScanSink = void (*)(const uint8_t* frames, uint32_t count);
// The facts' frame crosses as an opaque blob: the opener only keeps it
// within kScanFactsRoom and to one a record, and the core checks its bytes.
constexpr uint8_t kScanStreamFacts = 3;
constexpr uint32_t kScanFactsRoom = 834;
constexpr uint8_t kScanStreamUnshown = 4;

// A name opened as a sondrel run opens its file, and its size as the open
// found it (a run asks for the size right after the open).
using ScanFile = OpenedFile;

// One file's check as the core makes it, given the file already opened. It
// closes the file.
using ScanCheck = uint32_t (*)(const WChar* name, uint32_t flags, const ScanFile* file, ScanSink sink);

struct ScanCallbacks {
    // The next name, or null when there are no more. The text stays valid
    // until its record ends. The empty name stands for one that no system
    // can have (it held a NUL byte): it is never opened.
    const WChar* (*nextName)();
    // Lines of the oldest unfinished record, whole frames only.
    ScanSink recordLines;
    // The oldest unfinished record is complete.
    void (*recordEnd)(uint32_t exitCode);
    // The checks may take a while now: write what is finished.
    void (*beforeWait)();
};

// How the checks are run, as the user asked.
struct ScanLimits {
    // A check that takes longer ends early (kScanEndTimeLimit); 0 is none.
    uint32_t timeLimitMs;
    // Each file in a process of its own, made for it.
    bool isolate;
    // The exit codes a check can give; a reply with another is refused.
    const uint32_t* exitCodes;
    uint32_t exitCodeCount;
};

struct ScanPlatform {
    // The arguments one at a time, where the system keeps them so (POSIX
    // argv, which has no limit of length, unlike a command line of 32767
    // units); null where the command line is one text to split (Windows).
    void (*keepArguments)(int argc, char** argv);
    uint32_t (*argumentCount)();
    // Argument index (after the program name) in UTF-16, bytes that are not
    // UTF-8 as U+DC80..U+DCFF, cut to capacity - 1 units and terminated.
    void (*argument)(uint32_t index, WChar* buffer, uint32_t capacity);
    // Opens a list of names for reading: a file, a pipe or a FIFO (a shell's
    // <(find ...)); kNoHandle on failure, with the last error set.
    OsHandle (*openList)(const WChar* name);
    // Reads the list (or standard input) as readFile does; the end of a pipe
    // is its end, not a failure.
    bool (*readList)(OsHandle list, void* buffer, uint32_t count, uint32_t* got);
    void (*closeList)(OsHandle list);
    // Checks every name nextName gives, in order, records ending in that
    // order. False when the checks could not be started at all.
    bool (*checkAll)(ScanCheck check, uint32_t flags, const ScanLimits* limits, const ScanCallbacks* callbacks);
    // Where the worker that parses the files is this program started anew
    // (Windows; null elsewhere): whether this process is such a worker, and,
    // once its runtime is up, its work: it restricts itself, runs check on
    // each file it is sent, and ends the process when the opener has no more.
    bool (*startedAsWorker)();
    void (*serveChecks)(ScanCheck check);
};

extern ScanPlatform g_scanPlatform;

// A name the walk may be given: not empty, and shorter than the system's
// longest path. Every other name is the system's to open or refuse, as a
// sondrel run leaves it (a name that held a NUL byte reaches the check as
// the empty name: see nextName).
bool ScanNameFits(const WChar* name);

// Opens a name the walk may be given; a name it may not be given is left
// unopened, and the check refuses it.
ScanFile ScanOpen(const WChar* name);

// --- A worker's replies, as the opener takes them -------------------------------
//
// A reply is a header (whether it is the last of its record, and then the
// record's exit code) and whole frames. Nothing in it is used before all of
// it is checked.

struct ScanReplyHeader {
    uint32_t last;
    uint32_t exitCode;
};

// What the opener knows that a reply must agree with.
struct ScanReplyState {
    uint32_t inFlight;  // requests sent whose records have not ended
    bool factsSeen;     // the oldest of them already has its facts
};

// Why a reply was refused; kReplyTaken when it was not.
enum ScanReplyVerdict : uint32_t {
    kReplyTaken,
    kReplyShort,       // shorter than its header
    kReplyUnasked,     // no request is in flight
    kReplyBadHeader,   // neither last nor not, or an exit code no check gives
    kReplyBadFrame,    // a frame that does not lie inside the message, or of no stream
    kReplyBadLine,     // lines sondrel cannot write
    kReplyBadFacts,    // facts too long, or twice in one record
};

// Checks one reply of count bytes against state and, when it is taken,
// moves state on (a last reply ends the oldest request in flight).
ScanReplyVerdict ScanCheckReply(const uint8_t* reply, uint32_t count, const ScanLimits* limits,
                                ScanReplyState* state);

#endif
