// The command line: how it reaches the program, how it is read, and how its
// text is echoed in a message.
//
// The program reads one UTF-16 line in the Windows quoting, program name
// first, on every system: Windows keeps that line, and on POSIX the
// arguments are quoted and joined into one here. Reading it: the program
// name skipped, then options, then exactly one file name, a token that may
// be quoted.
#ifndef SONDREL_INSPECTOR_COMMANDLINE_H
#define SONDREL_INSPECTOR_COMMANDLINE_H

#include <stddef.h>
#include <stdint.h>

#include "inspector/options_and_exit_codes.h"
#include "platform/types.h"

// --- The line ------------------------------------------------------------------

// The command line of this process, program name first. Where the system
// keeps only the arguments, they arrive one by one at JoinArgument.
const WChar* ReadCommandLine(int argc, char** argv);

// Quotes one argument of count units onto the joined line. Arguments that
// do not all fit are refused as a whole: the line then holds a lone "-",
// which makes it invalid (exit code 2).
void JoinArgument(const WChar* argument, size_t count);

// Where the argument text begins: past the program name and the blanks after it.
const WChar* SkipProgramName(const WChar* commandLine);

// --- The arguments -------------------------------------------------------------

// Reads the options and the one file name from the argument text, which
// holds more than blanks. Reports every fault and returns ExitBadCommandLine;
// else ExitUndecided, with options set and fileName pointing at the name.
ExitCode ReadArguments(const WChar* arguments, RunOptions& options, const WChar*& fileName);

// --- Tokens --------------------------------------------------------------------

// Space and tab: what separates the words of a command line, and the set the
// helpers below use when given none.
extern const WChar kBlankSet[];

// How NextToken reads quotes and backslashes; a file name takes both.
constexpr uint32_t kTokenDoubledQuote = 1;     // "" is one literal quote
// Backslashes before a double quote: each pair is one backslash, and an odd
// one makes the quote literal. Other backslashes are themselves.
constexpr uint32_t kTokenBackslashEscape = 2;
constexpr uint32_t kTokenFileName = kTokenDoubledQuote | kTokenBackslashEscape;

// Copies one token into buffer (when given) and returns the position after it,
// or nullptr when text is already at its end. A token is quoted, or ends at a
// character of set (the blank set when null); flags are the kToken ones.
const WChar* NextToken(const WChar* text, WChar* buffer, uint32_t capacity, const WChar* set, uint32_t flags);

// The first occurrence of c among at most bound characters of text, or nullptr.
const WChar* FindCharBounded(const WChar* text, uint32_t bound, WChar c);

// A null set is the blank set; the NUL character is in no set.
bool IsCharInSet(WChar c, const WChar* set);
const WChar* SkipCharsInSet(const WChar* text, const WChar* set);

// --- The echo ------------------------------------------------------------------

// Every text either program shows back (a name, an argument, an option
// letter), on every stream, goes through EchoText, and this is its rule:
// - "?" stands for each control character (U+0001 to U+001F, DEL and the C1
//   controls U+0080 to U+009F), as `ls -q` shows names, so an argument cannot
//   add report lines (NEL U+0085 ends a line for some readers) or send the
//   terminal escape sequences (CSI U+009B); for the marks that reorder how a
//   terminal shows a line (U+202A to U+202E, U+2066 to U+2069) and the line
//   and paragraph separators U+2028 and U+2029; and, where names hold raw
//   bytes, for the bytes 0x80 to 0x9F, which an 8-bit terminal takes for
//   the C1 controls.
// - A high half followed by a low half is one character and passes whole;
//   any other unit is judged alone, a lone half included.
// - Where names hold raw bytes, a lone half that is none (half of a
//   character that the reading of the options cut in two) shows as U+FFFD.
// - Everything else comes back as it was. What the stream cannot carry is
//   then the output's affair: a name's other raw bytes (lone U+DCA0 to
//   U+DCFF) go back as those bytes to a terminal and to UTF-8 output and
//   become U+FFFD in UTF-16LE output, which EchoText tells the output channel;
//   a Windows name's lone half becomes U+FFFD in UTF-8 and stays itself in
//   UTF-16.
// before is the unit just before text where text begins inside an argument
// (after an option letter), else 0. Returns text itself when nothing
// changes, else a copy in buffer (as much as fits in one line, never half a
// pair); callers keep the buffer in static storage.
constexpr uint32_t kEchoRoom = 1024;
const WChar* EchoText(const WChar* text, WChar (&buffer)[kEchoRoom], WChar before = 0);

#endif
