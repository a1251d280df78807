// The output channel: one formatted line, one system call. A console gets the
// line as characters; a file or pipe gets its UTF-16LE code units, CR LF
// included, with no byte-order mark, on every host. With SONDREL_ENCODING set
// to utf-8 (or utf8, in any case) a file or pipe gets UTF-8 with LF line ends
// instead, for the usual text tools, spelt as the system spells its names.
#ifndef SONDREL_RUNTIME_OUTPUT_H
#define SONDREL_RUNTIME_OUTPUT_H

#include <stdint.h>

#include "platform/types.h"
#include "runtime/format.h"

// Fills the locations that are not null with the standard handles, and
// reads once how lines are to reach streams that are not consoles.
bool GetStdStreams(OsHandle* input, OsHandle* output, OsHandle* error);

// Formats one line and writes it to handle. False when the write failed.
// Every caller asks for the line end; a line without one (a text of up to
// 1023 units, and no write when it is empty) is kept as part of the channel.
bool WriteTextLine(OsHandle handle, const WChar* format, const uint64_t* slots, uint32_t slotCount,
                   bool appendLineEnd);

void PrintMessageV(const WChar* format, const uint64_t* slots, uint32_t slotCount);
void ReportErrorV(const WChar* format, const uint64_t* slots, uint32_t slotCount);

// One line to standard output (report lines and warnings).
template <typename... A>
void PrintMessage(const WChar* format, A... args) {
    const uint64_t slots[sizeof...(A) + 1] = {ToSlot(args)..., 0};
    PrintMessageV(format, slots, sizeof...(A));
}

// One line to standard error (the failure of the run).
template <typename... A>
void ReportError(const WChar* format, A... args) {
    const uint64_t slots[sizeof...(A) + 1] = {ToSlot(args)..., 0};
    ReportErrorV(format, slots, sizeof...(A));
}

#endif
