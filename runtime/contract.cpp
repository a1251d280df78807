// The two answers to a broken call contract.
#include "runtime/contract.h"

#include "platform/platform.h"

bool BreakIfDebugged() { return g_platform.isDebuggerPresent(); }

void FormatterCheckFailed() {
    if (BreakIfDebugged()) g_platform.debugBreak();
}

bool ContractBroken(bool broken) {
    if (broken) g_platform.debugBreak();
    return broken;
}
