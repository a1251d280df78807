// The front door of the program: the command line and the run's outcome.
#ifndef SONDREL_INSPECTOR_TOOLMAIN_H
#define SONDREL_INSPECTOR_TOOLMAIN_H

#include <stdint.h>

#include "platform/platform.h"

// The run's outcome, which becomes the process exit code.
using ExitCode = uint32_t;
constexpr ExitCode ExitSuccess = 0;
constexpr ExitCode ExitUsage = 1;
constexpr ExitCode ExitBadCommandLine = 2;
constexpr ExitCode ExitCannotOpen = 101;
constexpr ExitCode ExitReadFailed = 102;
constexpr ExitCode ExitNotUsableWave = 103;
constexpr ExitCode ExitNoStreams = 1001;
constexpr ExitCode ExitNoRuntime = 1002;
constexpr ExitCode ExitNoMemory = 1003;
// While the run is under way: none of the codes above.
constexpr ExitCode ExitUndecided = 0xFFFFFFFF;

struct RunOptions {
    bool printOffsets;  // -o
    bool printFields;   // -f
    bool verbose;       // -v
};

// Where the argument text begins: past the program name and the blanks after it.
const WChar* SkipProgramName(const WChar* commandLine);

ExitCode ToolMain(const WChar* arguments);

// Space and tab: what separates the words of a command line, and the set the
// helpers below use when given none.
extern const WChar kBlankSet[];

// How NextToken reads quotes and backslashes; a file name takes both.
constexpr uint32_t kTokenDoubledQuote = 1;     // "" is one literal quote
constexpr uint32_t kTokenBackslashEscape = 2;  // \\ and \" stand for their second character
constexpr uint32_t kTokenFileName = kTokenDoubledQuote | kTokenBackslashEscape;

// Copies one token into buffer (when given) and returns the position after it,
// or nullptr when text is already at its end. A token is quoted, or ends at a
// character of set (the blank set when null); flags are the kToken ones.
const WChar* NextToken(const WChar* text, WChar* buffer, uint32_t capacity, const WChar* set, uint32_t flags);

// The first occurrence of c among at most bound characters of text, or nullptr.
const WChar* FindCharBounded(const WChar* text, uint32_t bound, WChar c);

// Argument text as the program echoes it: each control character (U+0001 to
// U+001F, DEL and the C1 controls U+0080 to U+009F) shows as "?", as `ls -q`
// shows names, so an argument cannot add report lines (NEL U+0085 ends a line
// for some readers) or send the terminal escape sequences (CSI U+009B).
// Returns text itself when it holds none, else a copy in buffer (as much as
// fits in one line); callers keep the buffer in static storage.
constexpr uint32_t kEchoRoom = 1024;
const WChar* EchoText(const WChar* text, WChar (&buffer)[kEchoRoom]);
inline WChar EchoChar(WChar c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F) ? u'?' : c; }

// A null set is the blank set; the NUL character is in no set.
bool IsCharInSet(WChar c, const WChar* set);
const WChar* SkipCharsInSet(const WChar* text, const WChar* set);

#endif
