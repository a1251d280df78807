// The walk over the chunks of a RIFF/WAVE file.
#ifndef SONDREL_INSPECTOR_WALK_H
#define SONDREL_INSPECTOR_WALK_H

#include <stdint.h>

#include "inspector/options_and_exit_codes.h"
#include "platform/types.h"

// Opens the file, checks its header, walks its chunks and decides the run's
// outcome. Releases the descriptor memory and closes the file before it returns.
ExitCode WalkChunks(const WChar* fileName, RunOptions options);

// The identifier as four characters when all four bytes are printable
// (0x20..0x7F), else as a little-endian number in lower-case hexadecimal.
uint32_t ChunkIdText(const uint8_t id[4], WChar (&text)[9]);

#endif
