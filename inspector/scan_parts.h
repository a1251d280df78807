// The parts of sondrel-scan and the one record of its state.
//
// scan.cpp: the output, the command line, each record's ending and the
// check; scan_names.cpp: the arguments and the list; scan_text.cpp: records
// as text; scan_json.cpp: records as JSON; scan_count.cpp: the closing count.
#ifndef SONDREL_INSPECTOR_SCAN_PARTS_H
#define SONDREL_INSPECTOR_SCAN_PARTS_H

#include <stdint.h>

#include "platform/types.h"
#include "inspector/scan_progress.h"
#include "runtime/format.h"

// Flags of a check, as they cross to the worker.
constexpr uint32_t kFlagOffsets = 1;
constexpr uint32_t kFlagFields = 2;
constexpr uint32_t kFlagVerbose = 4;

struct ScanOptions {
    uint32_t flags;         // the user's -o -f -v
    bool json;              // --json
    bool nulSeparated;      // -0
    uint32_t lists;         // how many --files-from there are
    ProgressMode progress;  // --progress, --no-progress
    uint32_t timeLimitMs;   // --time-limit, 0 for none
    bool isolate;           // --isolate
};

// The arguments, read one at a time: from the system's own list where it
// keeps one (POSIX argv, of any length), else split from the command line as
// sondrel splits it (Windows).
struct ArgumentCursor {
    const WChar* position;  // in the command line
    uint32_t index;         // in the system's list
};

struct CodeCount {
    uint32_t code;
    uint32_t files;
};

// Everything a run changes, small enough to set back at once: one process
// may run more than once (the fuzz target does). The large buffers live in
// the parts that fill them, and these counts say how much of each is used.
struct ScanState {
    ScanOptions options;
    // Names: each waits in a slot of the ring until its record ends.
    uint32_t nameNext;    // the slot the next name goes to
    uint32_t recordSlot;  // the slot of the oldest unfinished record
    ArgumentCursor arguments;
    bool namesInArguments;  // the options ended before the last argument
    uint32_t namesGiven;
    uint32_t namesTotal;  // all of them, once known; 0 until then
    // The lists, read in turn: the one being read.
    ArgumentCursor listSearch;  // where the options are searched for the next
    uint32_t listsOpened;
    OsHandle list;
    bool listOpenedHere;
    uint32_t listUsed;
    uint32_t listAt;
    bool listBegun;  // past its first entry, the one place a byte order mark may be
    bool listEnded;
    bool listFailed;
    bool listUnopened;  // the failure was the open of a list after the first
    uint32_t listError;
    // The record under way.
    bool recordOpen;
    bool factsKnown;  // its facts arrived and decoded
    bool factsBad;    // a frame of it did not: the record ends early
    // The count. Room for every code a record can have: sondrel's nine,
    // 128 + each signal (up to 64), and the refused reply's and the time
    // limit's.
    CodeCount counts[80];
    uint32_t countsUsed;
    uint32_t files;
    bool someNotUsable;
};

extern ScanState g_scan;

// --- Output (scan.cpp) ---
void OutBytes(const uint8_t* bytes, uint32_t count);
void OutText(const char* text);
// Up to 1024 units: every caller's text is a line or a piece of one.
void OutUtf8(const WChar* text, uint32_t count);

// Formats with the program's formatter and appends the UTF-8 bytes, spelt
// as the system spells names.
template <typename... A>
void OutFormat(const WChar* format, A... args) {
    static WChar line[1024];
    uint32_t count = FormatText(line, 1024, format, args...);
    OutUtf8(line, count);
}

// --- Names and the list (scan_names.cpp) ---
bool NextArgument(WChar* buffer, uint32_t capacity);
bool ArgumentsLeft();
// Opens the next list the options name; false when it cannot be opened.
bool OpenList();
void CloseList();
// The name of the list opened last.
const WChar* ListName();
// The next name, or null: the callback the backend asks.
const WChar* NextName();
// The name of the oldest unfinished record, its length in *units (a NUL
// byte of a list is a unit 0 inside it), and the step past it.
const WChar* RecordName(uint32_t* units);
void NextRecordSlot();
// A name as records show it, terminated: a NUL as U+FFFD.
const WChar* ShownName(const WChar* name, uint32_t units);
// False when UTF-8 cannot give the name whole: it holds a NUL, or a lone
// surrogate half (a byte that is not UTF-8, on POSIX).
bool ShownExactly(const WChar* name, uint32_t units);
// Bytes that are not UTF-8 become U+DC80..U+DCFF and a NUL a unit 0; returns
// the units written, out holds kScanNameUnits + 1.
uint32_t NameFromBytes(const uint8_t* bytes, uint32_t n, WChar* out);

// --- Records as text (scan_text.cpp) ---
void TextBegin(const WChar* name);
void TextLines(const uint8_t* frames, uint32_t count);
void TextEnd(uint32_t exitCode);

// --- Records as JSON (scan_json.cpp) ---
void JsonBegin(const WChar* name, uint32_t units);
void JsonLines(const uint8_t* frames, uint32_t count);
struct WaveFacts;
// facts: null when none arrived.
void JsonEnd(uint32_t exitCode, const WaveFacts* facts);
// Appends the JSON string of bytes to out (room bytes); false when it does
// not fit, with nothing kept. *exact (if given) becomes false when the bytes
// were not UTF-8.
bool JsonString(const uint8_t* bytes, uint32_t n, uint8_t* out, uint32_t room, uint32_t* used, bool* exact);

// --- The count (scan_count.cpp) ---
void Count(uint32_t exitCode);
void ReportCounts();

#endif
