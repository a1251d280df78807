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

// Every line to a file or pipe in UTF-8 with LF line ends from now on, as
// SONDREL_ENCODING=utf-8 asks (sondrel-scan's records are UTF-8 throughout).
void LinesAsUtf8();

// Formats one line as a UTF-8 stream gets it, line end included, into bytes
// (room for 1024 * 3); returns the count.
uint32_t FormatUtf8Line(const WChar* format, const uint64_t* slots, uint32_t slotCount, uint8_t* bytes);

// --- Records (sondrel-scan) ---
//
// Standard output in records rather than lines: the bytes of a record
// gather until it is whole, and every write holds whole records only, at most
// kRecordWrite bytes of them where a record is no longer; a longer record
// goes in one write of its own. So two runs writing into one pipe never
// split each other's records (POSIX keeps such writes whole). A terminal
// gets each record as it ends.
constexpr uint32_t kRecordWrite = 4096;

// From now on, standard output (g_runtime.outputHandle) takes records.
void RecordsStart();
// Standard output is a console: each record reaches it as it ends.
bool RecordsToConsole();
void RecordBytes(const uint8_t* bytes, uint32_t count);
// The record is whole.
void RecordDone();
// Writes every whole record now.
void RecordsFlush();
// Whether a write failed, and the system's code of that failure; nothing
// more is written after one. A run without standard output loses its
// records silently.
bool RecordsFailed(uint32_t* error);

// Whether a line meant for standard output was lost to a failed write (a
// full disk, a size limit, a broken device) rather than to a reader that
// went away; *error receives the system's code of the first such failure.
// A run that would have succeeded must not say so then.
bool OutputLost(uint32_t* error);

// Told by whoever puts a name's raw bytes (lone U+DC80..U+DCFF, where the
// system carries them so) into a line: from then on each UTF-16 line is
// checked for them and each becomes U+FFFD there, so that redirected output
// is always well-formed UTF-16. UTF-8 streams and terminals still get the
// bytes back.
void LinesHoldRawBytes();

// Formats one line and writes it to handle. False when the write failed.
// Every caller asks for the line end; a line without one (a text of up to
// 1023 units, and no write when it is empty) is kept as part of the channel.
bool WriteTextLine(OsHandle handle, const WChar* format, const uint64_t* slots, uint32_t slotCount,
                   bool appendLineEnd);

// A failed write to a stream stops all later lines to it, so what arrives is
// always the report's first lines, none missing between.
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
