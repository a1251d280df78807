// sondrel-scan's status line: on a terminal, how far a long scan has come.
//
// One line on standard error, drawn over itself, never on standard output
// and never inside a record: it is erased before a record goes to the same
// terminal and before the run's last lines.
#ifndef SONDREL_INSPECTOR_SCAN_PROGRESS_H
#define SONDREL_INSPECTOR_SCAN_PROGRESS_H

#include <stdint.h>

#include "platform/types.h"

enum class ProgressMode { kIfTerminal, kOn, kOff };  // --progress, --no-progress

// From here the line may be drawn, on error.
void ScanProgressStart(OsHandle error, ProgressMode mode);

// A record has ended; total is the number of names, or 0 while unknown.
void ScanProgressRecordEnd(uint32_t exitCode, uint32_t total);

// Erases the line before other text reaches the terminal; the next record's
// end may draw it again.
void ScanProgressErase();

#endif
