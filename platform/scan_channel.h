// What a backend of sondrel-scan gives the opener and the worker, which both
// systems share (scan_opener.cpp): a worker process, made and ended, and the
// messages between the two. Each message crosses whole and in order, or not
// at all. The backend moves bytes and files; what is sent, what is taken and
// when a worker is ended is decided above it, once for both systems.
#ifndef SONDREL_PLATFORM_SCAN_CHANNEL_H
#define SONDREL_PLATFORM_SCAN_CHANNEL_H

#include <stdint.h>

#include "platform/scan.h"

// A request: the flags, what the open found, and the name's units. The file,
// when the open succeeded, crosses beside them as the system lets an open
// file cross to another process.
struct ScanRequestHeader {
    uint32_t flags;
    uint32_t openError;
    uint32_t size;
    uint32_t sizeError;
};

struct ScanRequest {
    ScanRequestHeader header;
    const WChar* name;
    uint32_t units;
    OsHandle file;  // the opener's, or kNoHandle
};

// A reply: its header and up to kScanLinesRoom bytes of whole frames.
constexpr uint32_t kScanLinesRoom = 32 * 1024;
struct ScanReply {
    ScanReplyHeader header;
    uint8_t lines[kScanLinesRoom];
};

// What came of one wait for the worker: replies (perhaps none, when the wait
// was cut short), nothing within the wait, or the worker's end after every
// reply it sent before it.
enum ScanHeard : uint32_t { kHeardReplies, kHeardNothing, kHeardEnd };

struct ScanChannel {
    // --- In the opener ---
    // Makes a worker process that runs check on each file it is sent
    // (ScanServe), restricted as a sondrel run is; false when none can be made.
    bool (*start)(ScanCheck check);
    // Sends requests in order without waiting: how many went, fewer when the
    // worker has no room for more now or is gone.
    uint32_t (*send)(const ScanRequest* requests, uint32_t count);
    // Waits up to waitMs for replies and takes up to count of those there:
    // each into replies[i], its size into sizes[i] (more than sizeof(ScanReply)
    // for one too long for the room), their number into *got.
    ScanHeard (*receive)(ScanReply* replies, uint32_t* sizes, uint32_t count, uint32_t waitMs, uint32_t* got);
    // Ends the worker. With tell, it is told that no more requests come and
    // has graceMs to leave by itself; *left says whether it did with nothing
    // more to say. Returns the signal that ended it, or 0 (it left, or how it
    // ended is not known).
    uint32_t (*end)(bool tell, uint32_t graceMs, bool* left);
    // Puts an open file's position back at its start: a worker that was sent
    // it may have read on.
    void (*rewind)(OsHandle file);

    // --- In the worker ---
    // The next request: its header, its name's units (at most kScanNameUnits,
    // into name; their number into *units), and the file as this process can
    // read it. False when the opener has gone or has no more.
    bool (*receiveRequest)(ScanRequestHeader* header, WChar* name, uint32_t* units, OsHandle* file);
    bool (*sendReply)(const void* reply, uint32_t size);
    // Ends the worker; does not return.
    void (*leave)();
};

// Checks every name as ScanPlatform::checkAll says, each in a worker made
// through channel.
bool ScanCheckAll(const ScanChannel* channel, ScanCheck check, uint32_t flags, const ScanLimits* limits,
                  const ScanCallbacks* callbacks);

// The worker's loop, once it has restricted itself: runs check on each file
// it is sent and sends back its lines and exit code, until the opener has
// no more. Does not return.
[[noreturn]] void ScanServe(const ScanChannel* channel, ScanCheck check);

#endif
