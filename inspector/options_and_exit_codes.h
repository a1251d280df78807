// The options a run is given and the codes it can end with: what the
// command line, the walk and the report share about one run.
#ifndef SONDREL_INSPECTOR_OPTIONS_AND_EXIT_CODES_H
#define SONDREL_INSPECTOR_OPTIONS_AND_EXIT_CODES_H

#include <stdint.h>

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

#endif
