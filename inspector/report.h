// The report of one "fmt " chunk: the format descriptor.
#ifndef SONDREL_INSPECTOR_REPORT_H
#define SONDREL_INSPECTOR_REPORT_H

#include <stdint.h>

#include "inspector/reader.h"
#include "inspector/toolmain.h"
#include "platform/platform.h"

// Reads the chunk's data (the file stands at its start) and prints what the
// descriptor says. Returns ExitUndecided on success, else the decided outcome
// after printing its message. *descriptor receives the memory it allocated,
// also on a failed read; the caller releases it.
ExitCode ReportFormatChunk(FileReader& reader, uint32_t chunkSize, RunOptions options, void** descriptor);

#endif
