// sondrel-scan's opener and worker as both systems run them, over the
// backend's channel (scan_channel.h).
//
// The opener opens each name with sondrel's own checks and sends the open
// file to a worker process, which parses it restricted as a sondrel run is.
// Up to kScanWindow files are on their way at once, so the two work side by
// side. The opener takes nothing from a worker unchecked (ScanCheckReply): a
// worker that dies, sends a reply the opener cannot take, or runs past the
// time limit is ended, and so is the record it was making; a new worker
// takes the files after it, still open here and read from their start again.
#include <string.h>

#include "platform/scan_channel.h"

namespace {

// --- The worker ------------------------------------------------------------------

const ScanChannel* g_workerChannel;
// The reply being made, and how much of its room is used.
ScanReply g_making;
uint32_t g_makingUsed;
WChar g_requestName[kScanNameUnits + 1];

// Sends the reply made. Each goes as soon as it is made: a reply held back
// while the next file is parsed would be lost with it, should that file end
// the worker, and its record taken for the one that did.
bool SendReply(uint32_t last, uint32_t exitCode) {
    g_making.header = {last, exitCode};
    const uint32_t size = sizeof g_making.header + g_makingUsed;
    g_makingUsed = 0;
    return g_workerChannel->sendReply(&g_making, size);
}

// Lines wait in the reply until it is full or the record ends.
void WorkerSink(const uint8_t* frames, uint32_t count) {
    if (g_makingUsed + count > kScanLinesRoom) {
        // The opener went away; nothing more to do.
        if (!SendReply(0, 0)) g_workerChannel->leave();
    }
    memcpy(g_making.lines + g_makingUsed, frames, count);
    g_makingUsed += count;
}

// --- The opener ------------------------------------------------------------------

struct Pending {
    const WChar* name;
    ScanFile file;
    bool sent;  // to some worker, which may have moved its read position
};

struct Opener {
    const ScanChannel* channel;
    ScanCheck check;
    uint32_t flags;
    const ScanLimits* limits;
    bool running;  // a worker is there to send to
    Pending ring[kScanWindow];
    uint32_t head;
    uint32_t count;  // records not yet ended
    uint32_t sent;   // of those, how many the worker has been sent
    ScanReplyState replies;
    uint64_t headSince;  // when the oldest record's check may have begun, in ms
    bool answered;       // with --isolate: the worker's one record has its code
    uint32_t answer;
};

// How long the opener waits for its worker in one call: also how late a
// time limit may be noticed, and how long finished records may wait.
constexpr uint32_t kPatienceMs = 20;
// How long a worker that was told it is done has to leave before it is ended.
constexpr uint32_t kGraceMs = 1000;

constexpr unsigned kRepliesAtOnce = 8;
ScanReply g_replies[kRepliesAtOnce];

bool StartWorker(Opener& o) {
    if (!o.channel->start(o.check)) return false;
    // The files still to check may have been sent to the worker before, which
    // shares their read position and may have moved it: each starts anew.
    for (uint32_t i = 0; i < o.count; ++i) {
        const Pending& p = o.ring[(o.head + i) % kScanWindow];
        if (p.sent && p.file.handle != kNoHandle) o.channel->rewind(p.file.handle);
    }
    o.running = true;
    o.sent = 0;
    o.replies = {};
    o.headSince = g_platform.milliseconds();
    return true;
}

// Ends the worker and says how: kScanCheckLost, with the signal that ended
// it. A worker that is done is told so, and has kGraceMs to leave by itself
// (its coverage counters are written as it leaves); one that sends anything
// more then, or is not done, is ended at once.
uint32_t EndWorker(Opener& o, bool done, bool* leftAlone = nullptr) {
    bool left = false;
    const uint32_t signal = o.channel->end(done, kGraceMs, &left);
    o.running = false;
    if (leftAlone != nullptr) *leftAlone = left;
    return kScanCheckLost | (signal & 0xFF);
}

// Sends the requests not yet sent, up to the window, without waiting: fewer
// when the worker has no room now or is gone.
void SendRequests(Opener& o, uint32_t window) {
    static ScanRequest requests[kScanWindow];
    const uint32_t first = o.sent;
    uint32_t count = 0;
    for (; first + count < o.count && first + count < window; ++count) {
        Pending& p = o.ring[(o.head + first + count) % kScanWindow];
        p.sent = true;
        uint32_t units = 0;
        while (p.name[units] != 0) ++units;
        requests[count] = {{o.flags, p.file.openError, p.file.size, p.file.sizeError}, p.name, units, p.file.handle};
    }
    if (count == 0) return;
    const uint32_t n = o.channel->send(requests, count);
    o.sent += n;
    o.replies.inFlight += n;
}

// Opens the next name the way a sondrel run opens its file.
bool TakeName(Opener& o, const ScanCallbacks* callbacks) {
    const WChar* name = callbacks->nextName();
    if (name == nullptr) return false;
    o.ring[(o.head + o.count) % kScanWindow] = {name, ScanOpen(name), false};
    ++o.count;
    return true;
}

void EndRecord(Opener& o, const ScanCallbacks* callbacks, uint32_t exitCode) {
    Pending& p = o.ring[o.head];
    if (p.file.handle != kNoHandle) g_platform.closeFile(p.file.handle);
    o.head = (o.head + 1) % kScanWindow;
    --o.count;
    if (o.sent > 0) --o.sent;
    callbacks->recordEnd(exitCode);
}

// What came of one wait, as the opener acts on it.
enum Heard { kReplies, kNothing, kEnd, kRefused };

// Takes the replies that are there, each checked before any of it is used;
// stops at the first refused.
Heard TakeReplies(Opener& o, const ScanCallbacks* callbacks) {
    static uint32_t sizes[kRepliesAtOnce];
    uint32_t got = 0;
    const ScanHeard heard = o.channel->receive(g_replies, sizes, kRepliesAtOnce, kPatienceMs, &got);
    for (uint32_t i = 0; i < got && i < kRepliesAtOnce; ++i) {
        const uint8_t* reply = reinterpret_cast<const uint8_t*>(&g_replies[i]);
        const uint32_t n = sizes[i];
        if (n > sizeof g_replies[i] || ScanCheckReply(reply, n, o.limits, &o.replies) != kReplyTaken) return kRefused;
        const ScanReplyHeader& header = g_replies[i].header;
        if (n > sizeof header) callbacks->recordLines(reply + sizeof header, n - sizeof header);
        if (header.last != 0 && o.limits->isolate) {
            o.answered = true;
            o.answer = header.exitCode;
        } else if (header.last != 0) {
            EndRecord(o, callbacks, header.exitCode);
        }
    }
    return heard == kHeardEnd ? kEnd : heard == kHeardNothing ? kNothing : kReplies;
}

}  // namespace

void ScanServe(const ScanChannel* channel, ScanCheck check) {
    g_workerChannel = channel;
    for (;;) {
        ScanRequestHeader h;
        uint32_t units = 0;
        OsHandle handle = kNoHandle;
        if (!channel->receiveRequest(&h, g_requestName, &units, &handle)) channel->leave();
        g_requestName[units < kScanNameUnits ? units : kScanNameUnits] = 0;
        const ScanFile file = {handle, h.openError, h.size, h.sizeError};
        const uint32_t exitCode = check(g_requestName, h.flags, &file, WorkerSink);
        if (!SendReply(1, exitCode)) channel->leave();
    }
}

bool ScanCheckAll(const ScanChannel* channel, ScanCheck check, uint32_t flags, const ScanLimits* limits,
                  const ScanCallbacks* callbacks) {
    static Opener o;
    o = {};
    o.channel = channel;
    o.check = check;
    o.flags = flags;
    o.limits = limits;
    if (!StartWorker(o)) return false;
    // One request a worker when each file has a process of its own.
    const uint32_t window = limits->isolate ? 1 : kScanWindow;
    bool more = true;
    for (;;) {
        while (more && o.count < kScanWindow) more = TakeName(o, callbacks);
        if (o.running) SendRequests(o, window);
        if (o.count == 0) break;
        uint32_t lost = kScanCheckLost;
        if (o.running) {
            const uint32_t before = o.count;
            Heard heard = TakeReplies(o, callbacks);
            if (o.count < before) o.headSince = g_platform.milliseconds();
            if (heard == kNothing) callbacks->beforeWait();
            if (o.answered) {
                // A process made for one file: its record ends as it said
                // only when it then leaves with nothing more to say.
                o.answered = false;
                bool left = false;
                EndWorker(o, true, &left);
                EndRecord(o, callbacks, left && heard != kRefused ? o.answer : kScanCheckLost | kScanEndRefused);
                if (o.count != 0 || more) StartWorker(o);
                continue;
            }
            if (heard == kReplies || heard == kNothing) {
                if (o.count < before || limits->timeLimitMs == 0 ||
                    g_platform.milliseconds() - o.headSince < limits->timeLimitMs) {
                    continue;
                }
                heard = kNothing;
            }
            // The worker went away, sent what no check writes, or is past the
            // time limit: it is ended, and so is the record it was making,
            // if any (a reply after its last request was answered is refused
            // with no record in the making).
            lost = EndWorker(o, false);
            if (heard == kRefused) lost = kScanCheckLost | kScanEndRefused;
            if (heard == kNothing) lost = kScanCheckLost | kScanEndTimeLimit;
            if (heard == kRefused && o.sent == 0) {
                StartWorker(o);  // GCOVR_EXCL_LINE: the forged-count test reaches it only when the opener has no request out
                continue;        // GCOVR_EXCL_LINE: (the same timing)
            }
        }
        EndRecord(o, callbacks, lost);
        if (o.count != 0 || more) StartWorker(o);
    }
    if (o.running) EndWorker(o, true);
    return true;
}
