// The front door of the program: the command line and the run's outcome.
#ifndef SONDREL_INSPECTOR_TOOLMAIN_H
#define SONDREL_INSPECTOR_TOOLMAIN_H

#include <stdint.h>

#include "inspector/run.h"
#include "platform/types.h"

// Where the argument text begins: past the program name and the blanks after it.
const WChar* SkipProgramName(const WChar* commandLine);

ExitCode ToolMain(const WChar* arguments);

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

#endif
