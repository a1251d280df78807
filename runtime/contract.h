// What a routine does when its caller breaks its contract: a null buffer, a
// zero capacity or bound, arguments that no caller in the program passes.
// Such a call is a programming error, and there are two answers, one per kind
// of routine:
//
// - The formatter engine has no error result and must go on as safely as it
//   can: it stops an attached debugger and is otherwise silent
//   (FormatterCheckFailed).
// - The small text routines (bounded copies and lengths, the character-set
//   and token helpers of the command line) stop at once: a breakpoint, which
//   ends the process when no debugger is attached (ContractBroken).
//
// Every check of a call contract goes through one of these two.
#ifndef SONDREL_RUNTIME_CONTRACT_H
#define SONDREL_RUNTIME_CONTRACT_H

void FormatterCheckFailed();

// True when a debugger is attached to the process; it raises no breakpoint
// itself.
bool BreakIfDebugged();

// Returns broken, after the breakpoint when it is true, so a check reads
// `if (ContractBroken(text == nullptr)) return ...;`.
bool ContractBroken(bool broken);

#endif
