// The opener's check of each reply a worker sends. A worker parses hostile
// files and may have been taken over by one, so its replies are checked as
// a hostile file is: every length and count before it is used, every field
// against what the opener asked for and what a check can write. A reply
// passes whole or not at all, so a refused one leaves nothing behind.
#include <string.h>

#include "platform/scan.h"
#include "platform/text.h"

namespace {

// Whether code is one a check gives.
bool KnownExitCode(const ScanLimits* limits, uint32_t code) {
    for (uint32_t i = 0; i < limits->exitCodeCount; ++i) {
        if (limits->exitCodes[i] == code) return true;
    }
    return false;
}

// Whether one of the lines begins as the lines around a record do in text
// ("==> NAME", "<== exit code N"), which no check writes: a worker's line
// could otherwise open or close a record of its own making.
bool FramesRecord(const uint8_t* lines, uint32_t n) {
    for (uint32_t start = 0; start + 4 <= n;) {
        const uint8_t* line = lines + start;
        if ((line[0] == '=' && line[1] == '=' && line[2] == '>' && line[3] == ' ') ||
            (line[0] == '<' && line[1] == '=' && line[2] == '=' && line[3] == ' ')) {
            return true;
        }
        const void* end = memchr(line, '\n', n - start);
        start = static_cast<uint32_t>(static_cast<const uint8_t*>(end) - lines) + 1;
    }
    return false;
}

}  // namespace

ScanReplyVerdict ScanCheckReply(const uint8_t* reply, uint32_t count, const ScanLimits* limits,
                                ScanReplyState* state) {
    ScanReplyHeader header;
    if (count < sizeof header) return kReplyShort;
    if (state->inFlight == 0) return kReplyUnasked;
    memcpy(&header, reply, sizeof header);
    if (header.last > 1 || (header.last == 0 && header.exitCode != 0)) return kReplyBadHeader;
    if (header.last == 1 && !KnownExitCode(limits, header.exitCode)) return kReplyBadHeader;
    bool facts = state->factsSeen;
    for (uint32_t i = sizeof header; i < count;) {
        if (count - i < 3) return kReplyBadFrame;
        const uint8_t stream = reply[i];
        const uint32_t length = reply[i + 1] | reply[i + 2] << 8;
        i += 3;
        if (length > count - i || stream < 1 || stream > kScanStreamUnshown) return kReplyBadFrame;
        if (stream == 3) {
            if (facts || length > kScanFactsRoom) return kReplyBadFacts;
            facts = true;
        } else if (!IsWrittenText(reply + i, length, kScanLineBytes) || FramesRecord(reply + i, length)) {
            return kReplyBadLine;
        }
        i += length;
    }
    state->factsSeen = facts && header.last == 0;
    state->inFlight -= header.last;
    return kReplyTaken;
}
