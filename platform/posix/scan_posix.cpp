// The POSIX (Linux) backend of sondrel-scan's seam: the channel between the
// opener and its worker (what each does is in platform/scan_opener.cpp), the
// list of names and the arguments.
//
// The worker is a copy of the opener made with fork, joined to it by a socket
// pair; each open file crosses as a descriptor (SCM_RIGHTS). The worker runs
// in the seccomp sandbox of a sondrel run, plus receiving and sending on its
// one socket.
//
// Sections: the messages; the worker; the opener's side; the list of names; the table.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/sandbox.h"
#include "platform/scan_channel.h"
#include "platform/text.h"

namespace {

// --- The messages ----------------------------------------------------------------
//
// A request is its header and the name's units, with the descriptor (when the
// open succeeded) as SCM_RIGHTS. SOCK_SEQPACKET keeps each message whole.

// The worker's descriptors: 0 to 2 are /dev/null, 3 its socket, and each
// received file lands on the lowest free number, 4, which the sandbox pins.
constexpr int kWorkerSocket = kScanWorkerSocket;
constexpr int kWorkerFile = 4;

// The worker this opener has, and the opener's end of its socket.
int g_socket = -1;
uint32_t g_socketWait;  // the wait its receives are set to, in ms (0: none)
pid_t g_worker;

// --- The worker ------------------------------------------------------------------

#ifdef SONDREL_COVERAGE
// The coverage build's line counters are written by exit handlers, which
// _exit never runs.
extern "C" void __gcov_dump();
#endif

// The worker's end: the opener has gone, or closed its side.
void WorkerLeave() {
#ifdef SONDREL_COVERAGE
    __gcov_dump();
#endif
    _exit(0);  // GCOVR_EXCL_LINE: its count would come after the counters are written
}

// sendmsg, the one sending call the sandbox lets through.
bool WorkerSendReply(const void* reply, uint32_t size) {
    struct iovec part = {const_cast<void*>(reply), size};
    struct msghdr message = {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    ssize_t n;
    do {
        n = sendmsg(kWorkerSocket, &message, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(size);
}

// The header and the name straight into their places.
bool WorkerReceiveRequest(ScanRequestHeader* header, WChar* name, uint32_t* units, OsHandle* file) {
    union {
        struct cmsghdr header;
        char room[CMSG_SPACE(sizeof(int))];
    } control;
    struct iovec parts[2] = {{header, sizeof *header}, {name, kScanNameUnits * sizeof(WChar)}};
    struct msghdr message = {};
    ssize_t n;
    do {
        message = {};
        message.msg_iov = parts;
        message.msg_iovlen = 2;
        message.msg_control = control.room;
        message.msg_controllen = sizeof control.room;
        n = recvmsg(kWorkerSocket, &message, 0);
    } while (n < 0 && errno == EINTR);
    if (n < static_cast<ssize_t>(sizeof *header)) return false;
    int fd = -1;
    struct cmsghdr* c = CMSG_FIRSTHDR(&message);
    if (c != nullptr && c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) memcpy(&fd, CMSG_DATA(c), sizeof fd);
    *units = static_cast<uint32_t>((static_cast<size_t>(n) - sizeof *header) / sizeof(WChar));
    // The descriptor lands on kWorkerFile, the lowest free number.
    *file = fd >= 0 ? fd + 1 : kNoHandle;
    return true;
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

const ScanChannel* Channel();

[[noreturn]] void WorkerMain(int socket, ScanCheck check) {
    ArrangeDescriptors(socket);
    g_sandboxScanWorker = true;
    g_platform.restrictProcess(kWorkerFile + 1);
    ScanServe(Channel(), check);
}

// --- The opener's side -----------------------------------------------------------

// The worker is a copy of this process made for the checks, with a socket
// pair between the two; the opener waits at most the wait it is given for
// each receive.
bool PosixStart(ScanCheck check) {
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
        WorkerMain(pair[1], check);
    }
    close(pair[1]);
    g_socket = pair[0];
    g_socketWait = 0;
    g_worker = pid;
    return true;
}

uint32_t PosixEnd(bool tell, uint32_t graceMs, bool* left) {
    *left = false;
    if (tell) {
        shutdown(g_socket, SHUT_WR);
        static ScanReply rest;
        for (uint64_t since = g_platform.milliseconds();;) {
            ssize_t n = recv(g_socket, &rest, sizeof rest, 0);
            if (n == 0) *left = true;
            if (n >= 0 || (errno != EINTR && errno != EAGAIN) || g_platform.milliseconds() - since >= graceMs) break;
        }
    }
    close(g_socket);
    g_socket = -1;
    // Before the wait, which might otherwise never end: a worker that closed
    // its socket may still run.
    if (!*left) kill(g_worker, SIGKILL);
    int status = 0;
    while (waitpid(g_worker, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFSIGNALED(status) ? static_cast<uint32_t>(WTERMSIG(status)) : 0;
}

// All in one call; the names go from where they are kept.
uint32_t PosixSend(const ScanRequest* requests, uint32_t count) {
    static struct iovec parts[kScanWindow][2];
    static union {
        struct cmsghdr header;
        char room[CMSG_SPACE(sizeof(int))];
    } controls[kScanWindow];
    static struct mmsghdr messages[kScanWindow];
    if (count > kScanWindow) count = kScanWindow;
    for (uint32_t i = 0; i < count; ++i) {
        const ScanRequest& r = requests[i];
        parts[i][0] = {const_cast<ScanRequestHeader*>(&r.header), sizeof r.header};
        parts[i][1] = {const_cast<WChar*>(r.name), r.units * sizeof(WChar)};
        struct msghdr& message = messages[i].msg_hdr;
        message = {};
        message.msg_iov = parts[i];
        message.msg_iovlen = 2;
        if (r.file != kNoHandle) {
            int fd = static_cast<int>(r.file) - 1;
            message.msg_control = controls[i].room;
            message.msg_controllen = sizeof controls[i].room;
            struct cmsghdr* c = CMSG_FIRSTHDR(&message);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int));
            memcpy(CMSG_DATA(c), &fd, sizeof fd);
        }
    }
    int n;
    do {
        n = sendmmsg(g_socket, messages, count, MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

// Every reply that is there, in one call.
ScanHeard PosixReceive(ScanReply* replies, uint32_t* sizes, uint32_t count, uint32_t waitMs, uint32_t* got) {
    static struct iovec parts[kScanWindow];
    static struct mmsghdr messages[kScanWindow];
    if (count > kScanWindow) count = kScanWindow;
    for (unsigned i = 0; i < count; ++i) {
        parts[i] = {&replies[i], sizeof replies[i]};
        messages[i] = {};
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    *got = 0;
    if (waitMs != g_socketWait) {
        const struct timeval patience = {static_cast<time_t>(waitMs / 1000), static_cast<suseconds_t>(waitMs % 1000) * 1000};
        setsockopt(g_socket, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        g_socketWait = waitMs;
    }
    // A worker that dies with requests unread leaves ECONNRESET, which the
    // next call reports before the replies it sent first; the call after
    // that reads them, then the end.
    int n = recvmmsg(g_socket, messages, count, MSG_WAITFORONE, nullptr);
    if (n < 0) return errno == EAGAIN ? kHeardNothing : errno == EINTR || errno == ECONNRESET ? kHeardReplies : kHeardEnd;
    for (int i = 0; i < n; ++i) {
        if (messages[i].msg_len == 0) return *got == 0 ? kHeardEnd : kHeardReplies;  // the worker's end
        const bool cut = (messages[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
        sizes[i] = cut ? sizeof(ScanReply) + 1 : messages[i].msg_len;
        ++*got;
    }
    return kHeardReplies;
}

void PosixRewind(OsHandle file) { lseek(static_cast<int>(file) - 1, 0, SEEK_SET); }

constexpr ScanChannel kPosixChannel = {PosixStart, PosixSend, PosixReceive, PosixEnd, PosixRewind,
                                       WorkerReceiveRequest, WorkerSendReply, WorkerLeave};

const ScanChannel* Channel() { return &kPosixChannel; }

bool PosixCheckAll(ScanCheck check, uint32_t flags, const ScanLimits* limits, const ScanCallbacks* callbacks) {
    return ScanCheckAll(&kPosixChannel, check, flags, limits, callbacks);
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
