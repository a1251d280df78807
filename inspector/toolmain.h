// The run from first to last: streams, start-up, the command line, the walk,
// and the ending that every path goes through.
#ifndef SONDREL_INSPECTOR_TOOLMAIN_H
#define SONDREL_INSPECTOR_TOOLMAIN_H

#include "inspector/options_and_exit_codes.h"
#include "platform/types.h"

// The argument text is what SkipProgramName leaves of the command line.
ExitCode ToolMain(const WChar* arguments);

#endif
