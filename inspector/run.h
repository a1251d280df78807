// What the entry, the walk and the report share about one run: its options,
// its outcome, and how argument text is echoed in a message.
#ifndef SONDREL_INSPECTOR_RUN_H
#define SONDREL_INSPECTOR_RUN_H

#include <stdint.h>

#include "platform/platform.h"

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

// Argument text as the program echoes it: each control character (U+0001 to
// U+001F, DEL and the C1 controls U+0080 to U+009F) shows as "?", as `ls -q`
// shows names, so an argument cannot add report lines (NEL U+0085 ends a line
// for some readers) or send the terminal escape sequences (CSI U+009B). So do
// a name's raw bytes 0x80 to 0x9F, which an 8-bit terminal takes for those
// controls, the marks that reorder how a terminal shows a line (U+202A to
// U+202E, U+2066 to U+2069), and the line and paragraph separators U+2028
// and U+2029. Returns text itself when it holds none, else a copy in buffer
// (as much as fits in one line); callers keep the buffer in static storage.
constexpr uint32_t kEchoRoom = 1024;
const WChar* EchoText(const WChar* text, WChar (&buffer)[kEchoRoom]);
inline WChar EchoChar(WChar c) {
    bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
    bool layout = (c >= 0x2028 && c <= 0x2029) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
    bool rawControl = g_platform.namesHoldBytes && c >= 0xDC80 && c <= 0xDC9F;
    return control || layout || rawControl ? u'?' : c;
}

#endif
