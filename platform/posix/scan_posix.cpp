// The POSIX (Linux) backend of sondrel-scan's seam: the opener and its worker.
//
// The opener opens each name with sondrel's own checks (a FIFO or a device is
// refused unopened) and sends the descriptor over a socket pair to a worker
// process, which parses it in the same seccomp sandbox as a sondrel run, plus
// receiving and sending on its one socket. Up to kScanWindow files are on
// their way at once, so the two processes work side by side. A worker that
// dies costs the record it was making; a new one takes the files after it.
//
// Sections: the messages; the worker; the opener; the list of names; the table.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "platform/posix/sandbox.h"
#include "platform/scan.h"
#include "platform/text.h"

namespace {

// --- The messages ----------------------------------------------------------------
//
// A request is the flags, what the open found and the name's units, with
// the descriptor (when the open succeeded) as SCM_RIGHTS. A reply is a
// header and captured lines; the last reply of a record says so and carries
// the exit code. SOCK_SEQPACKET keeps each message whole.

struct RequestHeader {
    uint32_t flags;
    uint32_t openError;
    uint32_t size;
    uint32_t sizeError;
};

constexpr uint32_t kLinesRoom = 32 * 1024;

// Static, as every large buffer: the worker's request, and the replies,
// several at a time: as the worker makes them, and as the opener receives
// them.
struct {
    RequestHeader header;
    WChar name[kScanNameUnits + 1];
} g_request;

struct Reply {
    ScanReplyHeader header;
    uint8_t lines[kLinesRoom];
};

constexpr unsigned kRepliesAtOnce = 8;
Reply g_replies[kRepliesAtOnce];
// In the worker: the room used in the reply being made, g_replies[0].
uint32_t g_replyUsed;

// The worker's descriptors: 0 to 2 are /dev/null, 3 its socket, and each
// received file lands on the lowest free number, 4, which the sandbox pins.
constexpr int kWorkerSocket = kScanWorkerSocket;
constexpr int kWorkerFile = 4;

// --- The worker ------------------------------------------------------------------

#ifdef SONDREL_COVERAGE
// The coverage build's line counters are written by exit handlers, which
// _exit never runs.
extern "C" void __gcov_dump();
#endif

// The worker's end: the opener has gone, or closed its side.
[[noreturn]] void WorkerExit() {
#ifdef SONDREL_COVERAGE
    __gcov_dump();
#endif
    _exit(0);  // GCOVR_EXCL_LINE: its count would come after the counters are written
}

// Sends the reply made. Each goes as soon as it is made: a reply held back
// while the next file is parsed would be lost with it, should that file end
// the worker, and its record taken for the one that did.
bool SendReply(uint32_t last, uint32_t exitCode) {
    g_replies[0].header = {last, exitCode};
    size_t size = sizeof g_replies[0].header + g_replyUsed;
    g_replyUsed = 0;
    // sendmsg, the one sending call the sandbox lets through.
    struct iovec part = {&g_replies[0], size};
    struct msghdr message = {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    ssize_t n;
    do {
        n = sendmsg(kWorkerSocket, &message, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(size);
}

// Lines wait in the reply until it is full or the record ends.
void WorkerSink(const uint8_t* frames, uint32_t count) {
    if (g_replyUsed + count > kLinesRoom) {
        // The opener went away; nothing more to do.
        if (!SendReply(0, 0)) WorkerExit();
    }
    memcpy(g_replies[0].lines + g_replyUsed, frames, count);
    g_replyUsed += count;
}

// The socket where the sandbox expects it, and /dev/null for the streams;
// the sandbox then closes everything else, so the first free number is
// always the one it lets the worker read.
void ArrangeDescriptors(int socket) {
    if (socket != kWorkerSocket) dup2(socket, kWorkerSocket);
    int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd) {
        if (null >= 0 && null != fd) dup2(null, fd);
    }
    if (null > 2) close(null);
}

[[noreturn]] void WorkerMain(int socket, ScanCheck check) {
    ArrangeDescriptors(socket);
    g_sandboxScanWorker = true;
    g_platform.restrictProcess(kWorkerFile + 1);
    for (;;) {
        union {
            struct cmsghdr header;
            char room[CMSG_SPACE(sizeof(int))];
        } control;
        struct iovec part = {&g_request, sizeof g_request};
        struct msghdr message = {};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control.room;
        message.msg_controllen = sizeof control.room;
        ssize_t n = recvmsg(kWorkerSocket, &message, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < static_cast<ssize_t>(sizeof(RequestHeader))) WorkerExit();
        int fd = -1;
        struct cmsghdr* c = CMSG_FIRSTHDR(&message);
        if (c != nullptr && c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) memcpy(&fd, CMSG_DATA(c), sizeof fd);
        size_t units = (static_cast<size_t>(n) - sizeof(RequestHeader)) / sizeof(WChar);
        g_request.name[units < kScanNameUnits ? units : kScanNameUnits] = 0;
        const RequestHeader& h = g_request.header;
        // The descriptor lands on kWorkerFile, the lowest free number.
        const ScanFile file = {fd >= 0 ? fd + 1 : kNoHandle, h.openError, h.size, h.sizeError};
        uint32_t exitCode = check(g_request.name, h.flags, &file, WorkerSink);
        if (!SendReply(1, exitCode)) WorkerExit();
    }
}

// --- The opener ------------------------------------------------------------------
//
// The opener takes nothing from a worker unchecked (ScanCheckReply): a reply
// it cannot take, or a check that runs past the time limit, ends that
// worker and the record it was making, and a new worker takes the files
// after it, still open here. While it waits for its worker, the opener has
// what is finished written out (beforeWait) once it has waited kPatienceMs.

struct Pending {
    const WChar* name;
    ScanFile file;
    bool sent;  // to some worker, which may have moved its read position
};

struct Opener {
    ScanCheck check;
    uint32_t flags;
    const ScanLimits* limits;
    int socket;
    pid_t worker;
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

uint64_t NowMs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

bool StartWorker(Opener& o) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return false;
    pid_t pid = fork();
    if (pid < 0) {
        close(pair[0]);
        close(pair[1]);
        return false;
    }
    if (pid == 0) {
        close(pair[0]);
        WorkerMain(pair[1], o.check);
    }
    close(pair[1]);
    // The files still to check may have been sent to the worker before, which
    // shares their read position and may have moved it: each starts anew.
    for (uint32_t i = 0; i < o.count; ++i) {
        const Pending& p = o.ring[(o.head + i) % kScanWindow];
        if (p.sent && p.file.handle != kNoHandle) lseek(static_cast<int>(p.file.handle) - 1, 0, SEEK_SET);
    }
    const struct timeval patience = {0, kPatienceMs * 1000};
    setsockopt(pair[0], SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    o.socket = pair[0];
    o.worker = pid;
    o.sent = 0;
    o.replies = {};
    o.headSince = NowMs();
    return true;
}

// Ends the worker and says how: kScanCheckLost, with the signal that ended
// it. A worker that is done is told so, and has kGraceMs to leave by itself
// (its coverage counters are written as it leaves); one that sends anything
// more then, or is not done, is ended at once.
uint32_t EndWorker(Opener& o, bool done, bool* leftAlone = nullptr) {
    bool left = false;
    if (done) {
        shutdown(o.socket, SHUT_WR);
        for (uint64_t since = NowMs();;) {
            ssize_t n = recv(o.socket, &g_replies[0], sizeof g_replies[0], 0);
            if (n == 0) left = true;
            if (n >= 0 || (errno != EINTR && errno != EAGAIN) || NowMs() - since >= kGraceMs) break;
        }
    }
    close(o.socket);
    o.socket = -1;
    // Before the wait, which might otherwise never end: a worker that closed
    // its socket may still run.
    if (!left) kill(o.worker, SIGKILL);
    if (leftAlone != nullptr) *leftAlone = left;
    int status = 0;
    while (waitpid(o.worker, &status, 0) < 0 && errno == EINTR) {
    }
    return kScanCheckLost | (WIFSIGNALED(status) ? static_cast<uint32_t>(WTERMSIG(status)) & 0xFF : 0);
}

// Sends the requests not yet sent, up to the window, in one call and
// without waiting: fewer when the socket has no room now (the worker is busy)
// or the worker is gone. The names go from where they are kept.
void SendRequests(Opener& o, uint32_t window) {
    static RequestHeader headers[kScanWindow];
    static struct iovec parts[kScanWindow][2];
    static union {
        struct cmsghdr header;
        char room[CMSG_SPACE(sizeof(int))];
    } controls[kScanWindow];
    static struct mmsghdr messages[kScanWindow];
    const uint32_t first = o.sent;
    uint32_t count = 0;
    for (; first + count < o.count && first + count < window; ++count) {
        Pending& p = o.ring[(o.head + first + count) % kScanWindow];
        p.sent = true;
        headers[count] = {o.flags, p.file.openError, p.file.size, p.file.sizeError};
        size_t units = 0;
        while (p.name[units] != 0) ++units;
        parts[count][0] = {&headers[count], sizeof headers[count]};
        parts[count][1] = {const_cast<WChar*>(p.name), units * sizeof(WChar)};
        struct msghdr& message = messages[count].msg_hdr;
        message = {};
        message.msg_iov = parts[count];
        message.msg_iovlen = 2;
        if (p.file.handle != kNoHandle) {
            int fd = static_cast<int>(p.file.handle) - 1;
            message.msg_control = controls[count].room;
            message.msg_controllen = sizeof controls[count].room;
            struct cmsghdr* c = CMSG_FIRSTHDR(&message);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int));
            memcpy(CMSG_DATA(c), &fd, sizeof fd);
        }
    }
    if (count == 0) return;
    int n;
    do {
        n = sendmmsg(o.socket, messages, count, MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return;
    o.sent += static_cast<uint32_t>(n);
    o.replies.inFlight += static_cast<uint32_t>(n);
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

// What came of one wait for the worker.
enum Heard { kHeardReplies, kHeardNothing, kHeardEnd, kHeardRefused };

// Takes every reply that is there, up to kRepliesAtOnce, in one call, each
// checked before any of it is used; stops at the first refused.
Heard TakeReplies(Opener& o, const ScanCallbacks* callbacks) {
    static struct iovec parts[kRepliesAtOnce];
    static struct mmsghdr messages[kRepliesAtOnce];
    for (unsigned i = 0; i < kRepliesAtOnce; ++i) {
        parts[i] = {&g_replies[i], sizeof g_replies[i]};
        messages[i] = {};
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    // A worker that dies with requests unread leaves ECONNRESET, which the
    // next call reports before the replies it sent first; the call after
    // that reads them, then the end.
    int got = recvmmsg(o.socket, messages, kRepliesAtOnce, MSG_WAITFORONE, nullptr);
    if (got < 0) return errno == EAGAIN ? kHeardNothing : errno == EINTR || errno == ECONNRESET ? kHeardReplies : kHeardEnd;
    for (int i = 0; i < got; ++i) {
        const uint8_t* reply = reinterpret_cast<const uint8_t*>(&g_replies[i]);
        uint32_t n = messages[i].msg_len;
        if (n == 0) return kHeardEnd;  // the worker's end, after what came before it
        if ((messages[i].msg_hdr.msg_flags & MSG_TRUNC) != 0 ||
            ScanCheckReply(reply, n, o.limits, &o.replies) != kReplyTaken) {
            return kHeardRefused;
        }
        const ScanReplyHeader& header = g_replies[i].header;
        if (n > sizeof header) callbacks->recordLines(reply + sizeof header, n - sizeof header);
        if (header.last != 0 && o.limits->isolate) {
            o.answered = true;
            o.answer = header.exitCode;
        } else if (header.last != 0) {
            EndRecord(o, callbacks, header.exitCode);
        }
    }
    return kHeardReplies;
}

bool PosixCheckAll(ScanCheck check, uint32_t flags, const ScanLimits* limits, const ScanCallbacks* callbacks) {
    static Opener o;
    o = {};
    o.check = check;
    o.flags = flags;
    o.limits = limits;
    if (!StartWorker(o)) return false;
    // One request a worker when each file has a process of its own.
    const uint32_t window = limits->isolate ? 1 : kScanWindow;
    bool more = true;
    for (;;) {
        while (more && o.count < kScanWindow) more = TakeName(o, callbacks);
        if (o.socket >= 0) SendRequests(o, window);
        if (o.count == 0) break;
        uint32_t lost = kScanCheckLost;
        if (o.socket >= 0) {
            const uint32_t before = o.count;
            Heard heard = TakeReplies(o, callbacks);
            if (o.count < before) o.headSince = NowMs();
            if (heard == kHeardNothing) callbacks->beforeWait();
            if (o.answered) {
                // A process made for one file: its record ends as it said
                // only when it then leaves with nothing more to say.
                o.answered = false;
                bool left = false;
                EndWorker(o, true, &left);
                EndRecord(o, callbacks, left && heard != kHeardRefused ? o.answer : kScanCheckLost | kScanEndRefused);
                if (o.count != 0 || more) StartWorker(o);
                continue;
            }
            if (heard == kHeardReplies || heard == kHeardNothing) {
                if (o.count < before || limits->timeLimitMs == 0 || NowMs() - o.headSince < limits->timeLimitMs) {
                    continue;
                }
                heard = kHeardNothing;
            }
            // The worker went away, sent what no check writes, or is past the
            // time limit: it is ended, and so is the record it was making,
            // if any (a reply after its last request was answered is refused
            // with no record in the making).
            lost = EndWorker(o, false);
            if (heard == kHeardRefused) lost = kScanCheckLost | kScanEndRefused;
            if (heard == kHeardNothing) lost = kScanCheckLost | kScanEndTimeLimit;
            if (heard == kHeardRefused && o.sent == 0) {
                StartWorker(o);  // GCOVR_EXCL_LINE: the forged-count test reaches it only when the opener has no request out
                continue;        // GCOVR_EXCL_LINE: (the same timing)
            }
        }
        EndRecord(o, callbacks, lost);
        if (o.count != 0 || more) StartWorker(o);
    }
    if (o.socket >= 0) EndWorker(o, true);
    return true;
}

// --- The list of names -----------------------------------------------------------

uint8_t g_listPath[PATH_MAX * 3];

// Any file that can be read in order, a pipe or a FIFO included: the list is
// the user's own, unlike the files it names.
OsHandle PosixOpenList(const WChar* name) {
    uint32_t length = 0;
    while (name[length] != 0) ++length;
    if (length >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return kNoHandle;
    }
    uint32_t bytes = g_platform.toUtf8(name, length, g_listPath);
    if (bytes >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return kNoHandle;
    }
    g_listPath[bytes] = 0;
    int fd = open(reinterpret_cast<const char*>(g_listPath), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    return fd < 0 ? kNoHandle : fd + 1;
}

// A pipe, a FIFO or a file: read() tells the end the same way for each.
bool PosixReadList(OsHandle list, void* buffer, uint32_t count, uint32_t* got) {
    return g_platform.readFile(list, buffer, count, got);
}

void PosixCloseList(OsHandle list) { close(static_cast<int>(list) - 1); }

// --- The arguments ---------------------------------------------------------------

int g_argc;
char** g_argv;

void PosixKeepArguments(int argc, char** argv) {
    g_argc = argc;
    g_argv = argv;
}

uint32_t PosixArgumentCount() { return g_argc > 1 ? static_cast<uint32_t>(g_argc - 1) : 0; }

// As the command line sondrel gets is made: a byte that does not begin valid
// UTF-8 becomes U+DC80..U+DCFF, which turns back into the same byte.
void PosixArgument(uint32_t index, WChar* buffer, uint32_t capacity) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(g_argv[index + 1]);
    size_t n = strlen(g_argv[index + 1]);
    size_t w = BytesToUnits(bytes, n, buffer, capacity - 1);
    buffer[w < capacity - 1 ? w : capacity - 1] = 0;
}

// --- The table -------------------------------------------------------------------

constexpr ScanPlatform PosixScanPlatform() {
    ScanPlatform p{};
    p.keepArguments = PosixKeepArguments;
    p.argumentCount = PosixArgumentCount;
    p.argument = PosixArgument;
    p.openList = PosixOpenList;
    p.readList = PosixReadList;
    p.closeList = PosixCloseList;
    p.checkAll = PosixCheckAll;
    return p;
}

}  // namespace

ScanPlatform g_scanPlatform = PosixScanPlatform();
