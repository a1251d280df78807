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

struct ReplyHeader {
    uint32_t last;
    uint32_t exitCode;
};

constexpr uint32_t kLinesRoom = 32 * 1024;

// Static, as every large buffer: the worker's request and reply, and the
// opener's replies as received, several at a time.
struct {
    RequestHeader header;
    WChar name[kScanNameUnits + 1];
} g_request;

struct Reply {
    ReplyHeader header;
    uint8_t lines[kLinesRoom];
};
Reply g_reply;
uint32_t g_replyUsed;

constexpr unsigned kRepliesAtOnce = 8;
Reply g_replies[kRepliesAtOnce];

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

bool SendReply(uint32_t last, uint32_t exitCode) {
    g_reply.header = {last, exitCode};
    size_t size = sizeof g_reply.header + g_replyUsed;
    g_replyUsed = 0;
    // sendmsg, the one sending call the sandbox lets through.
    struct iovec part = {&g_reply, size};
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
    memcpy(g_reply.lines + g_replyUsed, frames, count);
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

struct Pending {
    const WChar* name;
    ScanFile file;
};

struct Opener {
    ScanCheck check;
    uint32_t flags;
    int socket;
    pid_t worker;
    Pending ring[kScanWindow];
    uint32_t head;
    uint32_t count;  // records not yet ended
    uint32_t sent;   // of those, how many the worker has been sent
};

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
    o.socket = pair[0];
    o.worker = pid;
    o.sent = 0;
    return true;
}

// How the worker ended: kScanCheckLost, with the signal that ended it.
uint32_t EndWorker(Opener& o) {
    close(o.socket);
    o.socket = -1;
    int status = 0;
    while (waitpid(o.worker, &status, 0) < 0 && errno == EINTR) {
    }
    return kScanCheckLost | (WIFSIGNALED(status) ? static_cast<uint32_t>(WTERMSIG(status)) & 0xFF : 0);
}

// Sends the next request, without waiting: false when the socket has no
// room now (the worker is busy) or the worker is gone.
bool SendNext(Opener& o) {
    const Pending& p = o.ring[(o.head + o.sent) % kScanWindow];
    g_request.header = {o.flags, p.file.openError, p.file.size, p.file.sizeError};
    int fd = static_cast<int>(p.file.handle) - 1;
    size_t units = 0;
    while (p.name[units] != 0) g_request.name[units] = p.name[units], ++units;
    struct iovec part = {&g_request, sizeof g_request.header + units * sizeof(WChar)};
    union {
        struct cmsghdr header;
        char room[CMSG_SPACE(sizeof(int))];
    } control;
    struct msghdr message = {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (p.file.handle != kNoHandle) {
        message.msg_control = control.room;
        message.msg_controllen = sizeof control.room;
        struct cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        memcpy(CMSG_DATA(c), &fd, sizeof fd);
    }
    ssize_t n;
    do {
        n = sendmsg(o.socket, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return false;
    ++o.sent;
    return true;
}

// Opens the next name the way a sondrel run opens its file.
bool TakeName(Opener& o, const ScanCallbacks* callbacks) {
    const WChar* name = callbacks->nextName();
    if (name == nullptr) return false;
    o.ring[(o.head + o.count) % kScanWindow] = {name, ScanOpen(name)};
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

bool PosixCheckAll(ScanCheck check, uint32_t flags, const ScanCallbacks* callbacks) {
    static Opener o;
    o = {};
    o.check = check;
    o.flags = flags;
    if (!StartWorker(o)) return false;
    bool more = true;
    for (;;) {
        while (more && o.count < kScanWindow) more = TakeName(o, callbacks);
        while (o.socket >= 0 && o.sent < o.count && SendNext(o)) {
        }
        if (o.count == 0) break;
        // Every reply that is there, up to kRepliesAtOnce, in one call.
        int got = -1;
        if (o.socket >= 0) {
            static struct iovec parts[kRepliesAtOnce];
            static struct mmsghdr messages[kRepliesAtOnce];
            for (unsigned i = 0; i < kRepliesAtOnce; ++i) {
                parts[i] = {&g_replies[i], sizeof g_replies[i]};
                messages[i] = {};
                messages[i].msg_hdr.msg_iov = &parts[i];
                messages[i].msg_hdr.msg_iovlen = 1;
            }
            // A worker that dies with requests unread leaves ECONNRESET, which
            // the next call reports before the replies it sent first; the
            // call after that reads them, then the end.
            do {
                got = recvmmsg(o.socket, messages, kRepliesAtOnce, MSG_WAITFORONE, nullptr);
            } while (got < 0 && (errno == EINTR || errno == ECONNRESET));
            for (int i = 0; i < got; ++i) {
                uint32_t n = messages[i].msg_len;
                if (n < sizeof(ReplyHeader)) {
                    got = i == 0 ? 0 : i;  // the end of the worker, after what came before it
                    break;
                }
                const Reply& reply = g_replies[i];
                if (n > sizeof(ReplyHeader)) callbacks->recordLines(reply.lines, n - sizeof(ReplyHeader));
                if (reply.header.last != 0) EndRecord(o, callbacks, reply.header.exitCode);
            }
        }
        if (got > 0) continue;
        // The worker is gone, in the middle of the oldest record: that record
        // says so, and a new worker takes the rest, their files still open.
        if (o.socket >= 0) {
            uint32_t lost = EndWorker(o);
            EndRecord(o, callbacks, lost);
        } else {
            EndRecord(o, callbacks, kScanCheckLost);
        }
        if (o.count != 0 || more) StartWorker(o);
    }
    if (o.socket >= 0) EndWorker(o);
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
