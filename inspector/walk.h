// The walk over the chunks of a RIFF/WAVE file.
#ifndef SONDREL_INSPECTOR_WALK_H
#define SONDREL_INSPECTOR_WALK_H

#include <stdint.h>

#include "inspector/options_and_exit_codes.h"
#include "inspector/sink.h"
#include "platform/types.h"

// Opens the file as a sondrel run does: the process is restricted to reading
// it before its size is asked for and before any byte of it is read. A file
// that cannot be read under that restriction comes back unopened.
OpenedFile OpenToWalk(const WChar* fileName);

// Checks the header of the file given, walks its chunks and decides the
// outcome; every line goes to sink, and so do the facts where it takes them.
// A file that was not opened is reported as such. Releases the descriptor
// memory and closes the file before it returns.
ExitCode WalkChunks(const WChar* fileName, const OpenedFile& file, RunOptions options, const WalkSink& sink);

// The identifier as four characters when all four bytes are printable
// (0x20..0x7F), else as a little-endian number in lower-case hexadecimal.
uint32_t ChunkIdText(const uint8_t id[4], WChar (&text)[9]);

#endif
