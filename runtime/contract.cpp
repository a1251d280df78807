// The two answers to a broken call contract.
#include "runtime/contract.h"

#include "runtime/format.h"

void FormatterCheckFailed() {
    if (BreakIfDebugged()) g_platform.debugBreak();
}

bool ContractBroken(bool broken) {
    if (broken) g_platform.debugBreak();
    return broken;
}
