// sondrel-scan's records as text: "==> NAME", the lines of both streams in
// the order the run wrote them, and "<== exit code N". A run writes at most
// one line to standard error, its last, so the line before the end of a
// block with a code other than 0 is the reason.
#include "inspector/commandline.h"
#include "inspector/scan_parts.h"
#include "platform/scan.h"

// The whole name, shown safely as sondrel shows a name, in pieces the echo
// takes whole; a pair of surrogates stays in one piece.
void TextBegin(const WChar* name) {
    static WChar piece[kEchoRoom];
    static WChar echo[kEchoRoom];
    OutText("==> ");
    for (uint32_t at = 0; name[at] != 0;) {
        uint32_t n = 0;
        while (n + 1 < kEchoRoom && name[at + n] != 0) {
            piece[n] = name[at + n];
            ++n;
        }
        if (name[at + n] != 0 && piece[n - 1] >= 0xD800 && piece[n - 1] <= 0xDBFF) --n;
        piece[n] = 0;
        at += n;
        const WChar* shown = EchoText(piece, echo);
        uint32_t units = 0;
        while (shown[units] != 0) ++units;
        OutUtf8(shown, units);
    }
    OutText("\n");
}

void TextLines(const uint8_t* frames, uint32_t count) {
    for (uint32_t i = 0; i + 3 <= count;) {
        uint32_t length = frames[i + 1] | frames[i + 2] << 8;
        // A warning the report does not show is only the JSON record's.
        if (frames[i] != kScanStreamUnshown) OutBytes(frames + i + 3, length);
        i += 3 + length;
    }
}

void TextEnd(uint32_t exitCode) { OutFormat(u"<== exit code %u\n", exitCode); }
