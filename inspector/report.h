// The report of one "fmt " chunk: the format descriptor.
#ifndef SONDREL_INSPECTOR_REPORT_H
#define SONDREL_INSPECTOR_REPORT_H

#include <stdint.h>

#include "inspector/reader.h"
#include "inspector/options_and_exit_codes.h"
#include "platform/types.h"

// What reading one fmt chunk left: the outcome, ExitUndecided when the report
// was made, else the one decided after printing its message; and the
// descriptor memory, also after a failed read (null when none was had),
// which the caller releases.
struct FormatChunkReport {
    ExitCode outcome;
    void* descriptor;
};

// Reads the chunk's data (the file stands at its start) and prints what the
// descriptor says.
FormatChunkReport ReportFormatChunk(FileReader& reader, uint32_t chunkSize, RunOptions options);

#endif
