// sondrel-scan's records as text: "==> NAME", the lines of both streams in
// the order the run wrote them, and "<== exit code N". A run writes at most
// one line to standard error, its last, so the line before the end of a
// block with a code other than 0 is the reason.
#include "inspector/commandline.h"
#include "inspector/scan_parts.h"

void TextBegin(const WChar* name) {
    static WChar echo[kEchoRoom];
    OutFormat(u"==> %s\n", EchoText(name, echo));
}

void TextLines(const uint8_t* frames, uint32_t count) {
    for (uint32_t i = 0; i + 3 <= count;) {
        uint32_t length = frames[i + 1] | frames[i + 2] << 8;
        OutBytes(frames + i + 3, length);
        i += 3 + length;
    }
}

void TextEnd(uint32_t exitCode) { OutFormat(u"<== exit code %u\n", exitCode); }
