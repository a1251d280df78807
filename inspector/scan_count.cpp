// sondrel-scan's closing count: how many files, and how many with each exit
// code, on standard error.
#include "inspector/options_and_exit_codes.h"
#include "inspector/scan_parts.h"
#include "runtime/output.h"

void Count(uint32_t code) {
    ScanState& s = g_scan;
    ++s.files;
    if (code != ExitSuccess) s.someNotUsable = true;
    uint32_t i = 0;
    while (i < s.countsUsed && s.counts[i].code < code) ++i;
    if (i < s.countsUsed && s.counts[i].code == code) {
        ++s.counts[i].files;
        return;
    }
    if (s.countsUsed == sizeof s.counts / sizeof s.counts[0]) return;
    for (uint32_t k = s.countsUsed; k > i; --k) s.counts[k] = s.counts[k - 1];
    s.counts[i] = {code, 1};
    ++s.countsUsed;
}

void ReportCounts() {
    const ScanState& s = g_scan;
    static WChar line[1024];
    uint32_t n = FormatText(line, 1024, u"Checked %u %s", s.files, s.files == 1 ? u"file" : u"files");
    for (uint32_t i = 0; i < s.countsUsed; ++i) {
        n += FormatText(line + n, 1024 - n, u"%s %u with exit code %u", i == 0 ? u":" : u",", s.counts[i].files,
                        s.counts[i].code);
    }
    ReportError(u"%s", line);
}
