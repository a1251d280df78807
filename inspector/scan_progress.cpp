// sondrel-scan's status line (see scan_progress.h).
//
// A scan of a million names on a network share runs for minutes; without a
// sign of life a user cannot tell a slow share from a hung run. The line is
// drawn at most ten times a second, so a fast scan pays one clock reading a
// file, and a scan shorter than a tenth of a second shows nothing at all.
#include "inspector/scan_progress.h"

#include "platform/platform.h"
#include "runtime/format.h"

namespace {

constexpr uint64_t kRedrawMilliseconds = 100;

struct Progress {
    bool on;
    OsHandle error;
    bool console;        // characters to a console, else bytes
    uint64_t start;      // when the run began, in milliseconds
    uint64_t nextDraw;   // no drawing before this
    uint32_t files;
    uint32_t notUsable;
    uint32_t shown;      // units of the line on the terminal now, 0 when none
};

Progress g_progress;

// One write per change, as every line of the program goes out.
void Write(const WChar* text, uint32_t count) {
    Progress& p = g_progress;
    bool written;
    if (p.console) {
        written = g_platform.writeConsole(p.error, text, count);
    } else {
        static uint8_t bytes[512 * 3];
        written = g_platform.writeFile(p.error, bytes, g_platform.toUtf8(text, count, bytes));
    }
    // A stream that cannot take the line does not get another.
    if (!written) p.on = false;
}

// Units kept free of the terminal's last column, so a line never wraps on a
// terminal of 80 columns.
constexpr uint32_t kLineRoom = 79;

void Draw(uint32_t total, uint64_t now) {
    Progress& p = g_progress;
    static WChar line[2 + 2 * kLineRoom];
    uint32_t n = FormatText(line, kLineRoom + 2, u"\rChecked %u", p.files);
    if (total != 0) n += FormatText(line + n, kLineRoom + 2 - n, u" of %u", total);
    uint64_t elapsed = now - p.start;
    n += FormatText(line + n, kLineRoom + 2 - n, u" files, %I64u a second, %u not usable", p.files * 1000ull / elapsed,
                    p.notUsable);
    // Blanks over what is left of a longer line before it.
    uint32_t length = n - 1;
    for (uint32_t k = length; k < p.shown; ++k) line[n++] = u' ';
    Write(line, n);
    p.shown = length > p.shown ? length : p.shown;
}

}  // namespace

void ScanProgressStart(OsHandle error, ProgressMode mode) {
    Progress& p = g_progress;
    p = {};
    p.error = error;
    p.console = error != kNoHandle && g_platform.isConsole(error);
    p.on = error != kNoHandle && (mode == ProgressMode::kOn || (mode == ProgressMode::kIfTerminal && p.console));
    if (!p.on) return;
    p.start = g_platform.milliseconds();
    p.nextDraw = p.start + kRedrawMilliseconds;
}

void ScanProgressRecordEnd(uint32_t exitCode, uint32_t total) {
    Progress& p = g_progress;
    if (!p.on) return;
    ++p.files;
    if (exitCode != 0) ++p.notUsable;
    uint64_t now = g_platform.milliseconds();
    if (now < p.nextDraw) return;
    p.nextDraw = now + kRedrawMilliseconds;
    Draw(total, now);
}

void ScanProgressErase() {
    Progress& p = g_progress;
    if (!p.on || p.shown == 0) return;
    static WChar blank[2 + kLineRoom];
    uint32_t n = 0;
    blank[n++] = u'\r';
    for (uint32_t k = 0; k < p.shown; ++k) blank[n++] = u' ';
    blank[n++] = u'\r';
    Write(blank, n);
    p.shown = 0;
}
