// sondrel-scan: many files in one run, each file's report exactly the one a
// sondrel run gives for it alone, as blocks of text or as JSON records.
#ifndef SONDREL_INSPECTOR_SCAN_H
#define SONDREL_INSPECTOR_SCAN_H

#include <stdint.h>

#include "platform/types.h"

// The run's own exit status (each file's code is in its record).
constexpr uint32_t kScanAllUsable = 0;
constexpr uint32_t kScanSomeNotUsable = 1;
constexpr uint32_t kScanBadCommandLine = 2;  // also the usage text, and a list that cannot be read
constexpr uint32_t kScanCannotWrite = 3;     // also: the checks could not be started

// The arguments as the entry hands them to ToolMain: after the program name.
uint32_t ScanMain(const WChar* arguments);

// One file's check with its lines captured (the worker's part): the walk of
// a sondrel run given the file already opened, or the open's error.
uint32_t CheckCaptured(const WChar* name, uint32_t flags, const OpenedFile* file,
                       void (*sink)(const uint8_t* frames, uint32_t count));

#endif
