// The POSIX (Linux) backend of the platform seam.
//
// Sections: text conversion between UTF-16 and the bytes of names and the
// console; the arguments handed over in UTF-16; the input file; the sandbox;
// standard streams; error texts; start-up facts; heap and debugging; the
// environment; the table.
//
// Names and arguments are UTF-8 bytes to the system but UTF-16 to the
// program. A byte that is not part of valid UTF-8 becomes one character
// U+DC80..U+DCFF and turns back into the same byte, so every file name opens
// the file it names.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>
// Valgrind passes a seccomp filter on to the kernel, which then holds its
// own calls to it too: a run under valgrind goes unsandboxed. Its header
// comes with valgrind; where it is missing, so is valgrind.
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#else
#define RUNNING_ON_VALGRIND 0
#endif

// The sanitizers' runtime makes calls of its own at exit and when it
// reports; in their builds the filter lets those through too.
#if defined(__SANITIZE_ADDRESS__)
#define SONDREL_SANITIZED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SONDREL_SANITIZED_BUILD 1
#endif
#endif
#ifdef SONDREL_SANITIZED_BUILD
#include <sanitizer/lsan_interface.h>
#endif

#include "platform/platform.h"
#include "platform/posix/sandbox.h"
#include "platform/text.h"

namespace {

// The error code of a name that is neither a regular file nor a directory
// (a FIFO, a terminal, a socket, a device): beyond every errno value.
constexpr uint32_t kErrorNotRegularFile = 1000;

// --- Text conversion ----------------------------------------------------------

// Appends the UTF-16 form of bytes to out (at most capacity units). Returns
// the number of units written, or capacity + 1 when they did not fit.
size_t Utf8ToWide(const uint8_t* bytes, size_t n, WChar* out, size_t capacity) {
    // Most arguments and names are ASCII: a unit a byte, as long as they fit.
    size_t w = 0;
    for (size_t ascii = n < capacity ? n : capacity; w < ascii && bytes[w] < 0x80; ++w) out[w] = bytes[w];
    if (w == n) return w;
    w += BytesToUnits(bytes + w, n - w, out + w, capacity - w);
    return w <= capacity ? w : capacity + 1;
}

// The bytes of a name, and the text of a line as a terminal or a UTF-8
// stream gets it (3 bytes a unit is always enough). A lone U+DC80..U+DCFF
// is a byte of a name that was not UTF-8 and goes back as that byte; other
// lone halves become U+FFFD.
uint32_t PosixToUtf8(const WChar* text, uint32_t count, uint8_t* out) {
    uint32_t o = 0;
    for (size_t i = 0; i < count;) {
        if (text[i] < 0x80) {
            out[o++] = static_cast<uint8_t>(text[i++]);
            continue;
        }
        uint32_t cp = NextCodePoint(text, count, &i);
        if (cp >= 0xDC80 && cp <= 0xDCFF) {
            out[o++] = static_cast<uint8_t>(cp);
        } else {
            o += EncodeUtf8(cp, out + o);
        }
    }
    return o;
}

// --- The command line -----------------------------------------------------------

// Each argument in UTF-16 on its way to the command line; one that does not
// fit in here would not fit on the line either, whose room is the same.
WChar g_argument[32768];
constexpr size_t kArgumentRoom = sizeof g_argument / sizeof g_argument[0] - 1;

// The system keeps argv only: the program joins it into one line. An
// argument too long for any line goes on with a count past the room, and is
// refused there.
const WChar* PosixCommandLine(int argc, char** argv, ArgumentJoiner join) {
    for (int i = 1; i < argc; ++i) {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(argv[i]);
        join(g_argument, Utf8ToWide(bytes, strlen(argv[i]), g_argument, kArgumentRoom));
    }
    return nullptr;
}

[[noreturn]] void PosixExitProcess(uint32_t code) { exit(static_cast<int>(code)); }

// --- The input file -------------------------------------------------------------

// Handles are descriptors plus one, so 0 stays "no handle" and every open
// file has its own.
int FdOf(OsHandle handle) { return static_cast<int>(handle) - 1; }

// What fstat told when the file was opened, so its size costs no second
// call, and the descriptor of its name (O_PATH), kept until the sandbox
// closes it with every other descriptor, or the file is closed. Only the
// latest open is kept; another descriptor asks again.
struct OpenedFile {
    int fd;
    uint64_t size;
    int where;
};
OpenedFile g_lastOpened = {-1, 0, -1};

// The name's bytes: static, as every large buffer is, so that a small stack
// (ulimit -s) still runs the program.
uint8_t g_path[PATH_MAX * 3];

// What a name stands for, as stat() or fstat() tells: 0 for a regular file,
// else the error that refuses it.
int RefusalOf(const struct stat& st) {
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return static_cast<int>(kErrorNotRegularFile);
    return 0;
}

// "/proc/self/fd/N": the file a descriptor stands for, opened anew.
void DescriptorPath(int fd, char (&path)[32]) {
    static const char kPrefix[] = "/proc/self/fd/";
    char digits[12];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + fd % 10);
        fd /= 10;
    } while (fd > 0);
    size_t at = sizeof kPrefix - 1;
    memcpy(path, kPrefix, at);
    while (n > 0) path[at++] = digits[--n];
    path[at] = 0;
}

// The old way, where /proc is missing: open the name, then refuse what was
// opened if it is not a regular file. Opening a FIFO swapped in between the
// look and the open cannot be helped there. O_NONBLOCK: such a FIFO must not
// wait for a writer.
int OpenAndCheck(const char* path, struct stat& st) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    int error = fstat(fd, &st) != 0 ? errno : RefusalOf(st);
    if (error != 0) {
        close(fd);         // GCOVR_EXCL_LINE: only a name swapped for a FIFO or device after the look comes here
        errno = error;     // GCOVR_EXCL_LINE: (the same race)
        return -1;         // GCOVR_EXCL_LINE: (the same race)
    }
    return fd;
}

OsHandle PosixOpenFile(const WChar* name) {
    size_t length = 0;
    while (name[length] != 0) ++length;
    uint8_t* path = g_path;
    if (length >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return kNoHandle;
    }
    size_t bytes = PosixToUtf8(name, static_cast<uint32_t>(length), path);
    if (bytes >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return kNoHandle;
    }
    path[bytes] = 0;
    // Opening is itself an act on a FIFO or a device: a writer on a FIFO goes
    // on, a tape rewinds when closed. So the name is first taken without
    // opening what it names (O_PATH), that is looked at, and only a regular
    // file is then opened for reading, through the descriptor: the name can
    // be pointed elsewhere meanwhile, but what was looked at cannot change.
    int where = open(reinterpret_cast<const char*>(path), O_PATH | O_CLOEXEC);
    if (where < 0) return kNoHandle;
    struct stat st;
    int error = fstat(where, &st) != 0 ? errno : RefusalOf(st);
    int fd = -1;
    if (error == 0) {
        char reopen[32];
        DescriptorPath(where, reopen);
        fd = open(reopen, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) error = errno;
        // Only where /proc is missing. Where it is there, a descriptor's entry
        // is missing only for a wrong number: the name then stays refused
        // rather than opened the old way, whose look and open a swap can
        // come between.
        if (error == ENOENT && access("/proc/self/fd", F_OK) != 0) {
            fd = OpenAndCheck(reinterpret_cast<const char*>(path), st);
            error = fd < 0 ? errno : 0;
        }
    }
    if (error != 0) {
        close(where);
        errno = error;
        return kNoHandle;
    }
    if (g_lastOpened.where >= 0) close(g_lastOpened.where);
    g_lastOpened = {fd, static_cast<uint64_t>(st.st_size), where};
    return fd + 1;
}

bool PosixFileSize(OsHandle handle, uint32_t* size) {
    int fd = FdOf(handle);
    uint64_t bytes = g_lastOpened.size;
    if (fd != g_lastOpened.fd) {
        struct stat st;
        if (fstat(fd, &st) != 0) return false;
        bytes = static_cast<uint64_t>(st.st_size);
    }
    // A size of 0xFFFFFFFF or more cannot be told from a failure: refused.
    if (bytes >= 0xFFFFFFFFu) {
        errno = EFBIG;
        return false;
    }
    *size = static_cast<uint32_t>(bytes);
    return true;
}

// read(), again when a signal interrupted it.
ssize_t ReadOnce(int fd, void* out, size_t count) {
    ssize_t n;
    do {
        n = read(fd, out, count);
    } while (n < 0 && errno == EINTR);
    return n;
}

// Reads until count bytes have arrived, the end, or an error.
bool ReadFully(int fd, uint8_t* out, size_t count, size_t* got) {
    *got = 0;
    while (*got < count) {
        ssize_t n = ReadOnce(fd, out + *got, count - *got);
        if (n < 0) return false;
        if (n == 0) break;
        *got += static_cast<size_t>(n);
    }
    return true;
}

// A small text of the system (/etc/os-release, /proc/self/status: a few
// hundred bytes to a kilobyte or two) whole, ended by a 0; a longer one is cut
// one byte short of the buffer, the byte the 0 takes. Null when it cannot be
// opened or read. One buffer serves every such text, read one at a time.
const char* ReadSmallText(const char* path) {
    static char text[4096];
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    size_t n = 0;
    bool read = ReadFully(fd, reinterpret_cast<uint8_t*>(text), sizeof text - 1, &n);
    close(fd);
    text[n] = 0;
    return read ? text : nullptr;
}

bool PosixReadFile(OsHandle handle, void* buffer, uint32_t count, uint32_t* got) {
    ssize_t n = ReadOnce(FdOf(handle), buffer, count);
    *got = n > 0 ? static_cast<uint32_t>(n) : 0;
    return n >= 0;
}

bool PosixSkipForward(OsHandle handle, uint64_t count) {
    return lseek(FdOf(handle), static_cast<off_t>(count), SEEK_CUR) >= 0;
}

void PosixCloseFile(OsHandle handle) {
    int fd = FdOf(handle);
    if (fd == g_lastOpened.fd) {
        g_lastOpened.fd = -1;
        if (g_lastOpened.where >= 0) close(g_lastOpened.where);
        g_lastOpened.where = -1;
    }
    close(fd);
}

// --- The sandbox ------------------------------------------------------------------
//
// First every descriptor but the three streams and the file is closed, so
// nothing a shell or a build tool left open can be reached. Then
// no_new_privs and a seccomp filter: the calls the rest of a run makes
// pass, with their arguments checked where that matters, and any other call
// ends the process at once (SIGSYS), as the sandboxes of file(1) and
// OpenSSH do: code that a hostile file took over learns nothing from a
// failed call and cannot go on to try another. What glibc does on a fault it
// detects (a smashed stack, a corrupt heap) stays open, so its message
// still appears and the process ends by SIGABRT. The sanitizers' builds
// refuse with EPERM instead, so that their reports come out whole.
//
// The allowed calls are a table of rules, so that another program can reuse
// the filter with a few calls of its own added (BuildFilter takes them).

#if defined(__x86_64__)
constexpr uint32_t kAuditArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
#elif defined(__s390x__)
constexpr uint32_t kAuditArch = AUDIT_ARCH_S390X;
#else
constexpr uint32_t kAuditArch = 0;  // a machine the filter does not know: no filter
#endif

#ifndef SYS_close_range
#define SYS_close_range 436  // the same on every machine; older headers lack it
#endif

// Set once the filter is in place: from then on nothing may be opened.
bool g_sandboxed = false;

// One check of an argument: (its low or high 32 bits & mask) == value. A mask
// of 0 marks a check that is not used. Every argument checked here is one
// the kernel reads as 32 bits (a descriptor, a command, a signal, a process,
// mmap's protection and flags), and the C library leaves the high half of
// such an argument undefined (an int -1 arrives as 0x00000000FFFFFFFF), so
// only the low half is compared; a check of a whole 64-bit value would add a
// check of its high half.
struct ArgumentCheck {
    uint8_t argument;
    bool high;
    uint32_t mask;
    uint32_t value;
};

constexpr ArgumentCheck Is(uint8_t argument, uint32_t value) { return {argument, false, 0xFFFFFFFFu, value}; }
constexpr ArgumentCheck Masked(uint8_t argument, uint32_t mask, uint32_t value) {
    return {argument, false, mask, value};
}

// A call allowed when all of its checks hold. A call may have several rules;
// the first whose checks hold lets it through.
struct SandboxRule {
    long call;
    ArgumentCheck checks[4];
};

constexpr uint32_t ArgumentOffset(const ArgumentCheck& check) {
    bool upperWordFirst = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
    return static_cast<uint32_t>(offsetof(struct seccomp_data, args) + 8 * check.argument +
                                 (check.high != upperWordFirst ? 4 : 0));
}

#ifdef SONDREL_SANITIZED_BUILD
constexpr uint32_t kRefuse = SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA);
#else
constexpr uint32_t kRefuse = SECCOMP_RET_KILL_PROCESS;
#endif

// Stand-ins in the rules for what is known only when the filter goes in:
// the descriptor of the file and the id of the process. No rule compares
// an argument with these values themselves.
constexpr uint32_t kTheFile = 0xFFFFFF00u;
constexpr uint32_t kThisProcess = 0xFFFFFF01u;

// The filter's program, made by the compiler from the rules; only the
// stand-ins are filled in at run time, at the places noted.
struct Filter {
    struct sock_filter code[160];
    unsigned short length;
    bool full;
    struct {
        unsigned short at;
        uint32_t standIn;
    } standIns[4];
    unsigned short standInCount;
};

constexpr void Emit(Filter& f, struct sock_filter instruction) {
    if (f.length == sizeof f.code / sizeof f.code[0]) {
        f.full = true;
        return;
    }
    if ((instruction.k == kTheFile || instruction.k == kThisProcess) && f.standInCount < 4) {
        f.standIns[f.standInCount++] = {f.length, instruction.k};
    }
    f.code[f.length++] = instruction;
}

// The call number, then each check; any that fails jumps past the rule.
constexpr void EmitRule(Filter& f, const SandboxRule& rule) {
    unsigned short misses[5] = {};
    int missCount = 0;
    Emit(f, BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)));
    misses[missCount++] = f.length;
    Emit(f, BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(rule.call), 0, 0));
    for (const ArgumentCheck& check : rule.checks) {
        if (check.mask == 0) continue;
        Emit(f, BPF_STMT(BPF_LD | BPF_W | BPF_ABS, ArgumentOffset(check)));
        if (check.mask != 0xFFFFFFFFu) Emit(f, BPF_STMT(BPF_ALU | BPF_AND | BPF_K, check.mask));
        misses[missCount++] = f.length;
        Emit(f, BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, check.value, 0, 0));
    }
    Emit(f, BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    if (f.full) return;
    for (int i = 0; i < missCount; ++i) f.code[misses[i]].jf = static_cast<uint8_t>(f.length - misses[i] - 1);
}

// A filter that allows the calls of the three tables and refuses every
// other. A call of another architecture's numbering (x86-64's i386 entry) is
// refused before its number is read.
constexpr Filter BuildFilter(const SandboxRule* rules, size_t count, const SandboxRule* extra, size_t extraCount,
                             const SandboxRule* more, size_t moreCount) {
    Filter f{};
    Emit(f, BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)));
    Emit(f, BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0));
    Emit(f, BPF_STMT(BPF_RET | BPF_K, kRefuse));
    for (size_t i = 0; i < count; ++i) EmitRule(f, rules[i]);
    for (size_t i = 0; i < extraCount; ++i) EmitRule(f, extra[i]);
    for (size_t i = 0; i < moreCount; ++i) EmitRule(f, more[i]);
    Emit(f, BPF_STMT(BPF_RET | BPF_K, kRefuse));
    return f;
}

// Fills in the stand-ins and installs the filter. False when the system
// refuses it (qemu-user, a kernel without seccomp); the process is then as
// it was.
bool InstallFilter(Filter& f, uint32_t file, uint32_t process) {
    if (kAuditArch == 0 || f.full) return false;
    for (unsigned short i = 0; i < f.standInCount; ++i) {
        f.code[f.standIns[i].at].k = f.standIns[i].standIn == kTheFile ? file : process;
    }
    struct sock_fprog program = {f.length, f.code};
    int saved = errno;
    bool installed = prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
                     prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
    errno = saved;
    return installed;
}

// The calls the rest of a run makes, with the arguments it gives them.
constexpr SandboxRule kRunRules[] = {
    // The streams: write, wait for room, ask whether a terminal.
    {SYS_write, {Is(0, 1)}},
    {SYS_write, {Is(0, 2)}},
    {SYS_ioctl, {Is(1, TCGETS)}},
#ifdef SYS_poll
    {SYS_poll, {}},
#endif
    {SYS_ppoll, {}},
    // The file: read and skip.
    {SYS_read, {Is(0, kTheFile)}},
    {SYS_lseek, {Is(0, kTheFile)}},
    // Memory for the descriptor: private, anonymous, never executable, so no
    // file can be mapped and written through the mapping. s390x passes
    // mmap's arguments in a record the filter cannot read: there only the
    // descriptors' own modes stop a shared mapping (the file is read-only;
    // the streams too, unless opened for reading and writing).
#if defined(__s390x__)
    {SYS_mmap, {}},
#else
    {SYS_mmap, {Masked(2, PROT_EXEC, 0), Masked(3, MAP_TYPE | MAP_ANONYMOUS, MAP_PRIVATE | MAP_ANONYMOUS),
                Is(4, 0xFFFFFFFFu)}},
#endif
    {SYS_munmap, {}},
    {SYS_brk, {}},
    // The end.
    {SYS_close, {}},
    {SYS_exit_group, {}},
    // glibc's way out of a fault it detects: its message on standard error,
    // then SIGABRT, unblocked, sent to this process alone. No handler is
    // ever set, so the signal ends the process.
    {SYS_writev, {Is(0, 2)}},
    {SYS_rt_sigprocmask, {}},
    {SYS_getpid, {}},
    {SYS_gettid, {}},
    {SYS_tgkill, {Is(0, kThisProcess), Is(2, SIGABRT)}},
};

#ifdef SONDREL_SANITIZED_BUILD
// The sanitizers' threads, signals and locks; never a file or a socket.
constexpr SandboxRule kSanitizerRules[] = {
    {SYS_sigaltstack, {}},  {SYS_futex, {}}, {SYS_rt_sigaction, {}},
    {SYS_tgkill, {}},       {SYS_sched_yield, {}}, {SYS_madvise, {}},
    {SYS_rt_sigreturn, {}}, {SYS_exit, {}},  {SYS_mprotect, {Masked(2, PROT_EXEC, 0)}},
};
constexpr const SandboxRule* kBuildRules = kSanitizerRules;
constexpr size_t kBuildRuleCount = sizeof kSanitizerRules / sizeof kSanitizerRules[0];
#elif defined(SONDREL_COVERAGE)
// The coverage build only: the line counters are written at exit into files
// that are created or opened read-write, locked, read, merged and written
// back. Every open without O_CREAT, as the program's own, stays refused.
constexpr SandboxRule kCoverageRules[] = {
    {SYS_openat, {Masked(2, O_CREAT, O_CREAT)}},
    {SYS_fcntl, {}}, {SYS_read, {}}, {SYS_write, {}}, {SYS_lseek, {}},
    {SYS_fstat, {}},
#ifdef SYS_newfstatat
    {SYS_newfstatat, {}},
#endif
};
constexpr const SandboxRule* kBuildRules = kCoverageRules;
constexpr size_t kBuildRuleCount = sizeof kCoverageRules / sizeof kCoverageRules[0];
#else
constexpr const SandboxRule* kBuildRules = nullptr;
constexpr size_t kBuildRuleCount = 0;
#endif

// A worker of sondrel-scan also takes each file's descriptor from its
// socket and sends the file's record back, on that socket alone.
constexpr SandboxRule kScanWorkerRules[] = {
    {SYS_recvmsg, {Is(0, kScanWorkerSocket)}},
    {SYS_sendmsg, {Is(0, kScanWorkerSocket)}},
};

constexpr size_t kRunRuleCount = sizeof kRunRules / sizeof kRunRules[0];
constexpr Filter kRunFilter =
    BuildFilter(kRunRules, kRunRuleCount, kBuildRules, kBuildRuleCount, nullptr, 0);
constexpr Filter kScanWorkerFilter = BuildFilter(kRunRules, kRunRuleCount, kBuildRules, kBuildRuleCount,
                                                 kScanWorkerRules, sizeof kScanWorkerRules / sizeof kScanWorkerRules[0]);
static_assert(!kRunFilter.full && kRunFilter.standInCount == 3, "the filter fits, with its three stand-ins");
static_assert(!kScanWorkerFilter.full && kScanWorkerFilter.standInCount == 3, "the worker's filter fits too");

// Static, about a kilobyte: the stand-ins are filled in here.
Filter g_filter = kRunFilter;

bool CloseRange(unsigned first, unsigned last) {
    return first > last || syscall(SYS_close_range, first, last, 0) == 0;
}

// Without close_range (Linux before 5.9) the open descriptors are read from
// /proc/self/fd, or where that is missing, every number up to the limit is
// closed.
void CloseEachInherited(int keep) {
    int folder = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        struct rlimit limit;
        rlim_t last = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536 ? limit.rlim_cur : 65536;
        for (int fd = 3; fd < static_cast<int>(last); ++fd) {
            if (fd != keep) close(fd);
        }
        return;
    }
    static uint8_t entries[4096];
    for (long n; (n = syscall(SYS_getdents64, folder, entries, sizeof entries)) > 0;) {
        for (long at = 0; at < n;) {
            const uint8_t* entry = entries + at;
            uint16_t size;
            memcpy(&size, entry + 16, sizeof size);
            const char* name = reinterpret_cast<const char*>(entry + 19);
            int fd = *name >= '0' && *name <= '9' ? static_cast<int>(ParseDecimal(name)) : -1;
            if (fd > 2 && fd != keep && fd != folder) close(fd);
            at += size;
        }
    }
    close(folder);
}

void CloseInherited(int keep) {
    if (CloseRange(3, static_cast<unsigned>(keep) - 1) && CloseRange(static_cast<unsigned>(keep) + 1, ~0u)) return;
    CloseEachInherited(keep);
}

// The filter is all or nothing: a system that refuses it (qemu-user, a
// kernel without seccomp) leaves the process as it was, and the run goes on.
bool PosixRestrictProcess(OsHandle file) {
    // valgrind keeps descriptors of its own, and would hold its own calls to
    // the filter too: a run under it goes unsandboxed.
    if (RUNNING_ON_VALGRIND) return true;
    const uint32_t fd = static_cast<uint32_t>(FdOf(file));
    // A scanning worker keeps its socket instead: the file's number is
    // still free for the first file it is handed.
    CloseInherited(g_sandboxScanWorker ? kScanWorkerSocket : static_cast<int>(fd));
    if (g_sandboxScanWorker) g_filter = kScanWorkerFilter;
    if (fd == static_cast<uint32_t>(g_lastOpened.fd)) g_lastOpened.where = -1;
#ifdef SONDREL_SANITIZED_BUILD
    // The leak check at exit needs /proc and ptrace, which stay refused: it
    // runs now, before the walk, and no more (the in-process tests and the
    // fuzzers check the walk's blocks).
    __lsan_do_leak_check();
#endif
    g_sandboxed = InstallFilter(g_filter, fd, static_cast<uint32_t>(getpid()));
    return true;
}

uint32_t PosixLastError() { return static_cast<uint32_t>(errno); }
void PosixSetLastError(uint32_t code) { errno = static_cast<int>(code); }

// --- Standard streams ------------------------------------------------------------

// A standard descriptor that was closed at start is filled with /dev/null,
// so the input file can never land on it and be written to or closed as if
// it were a stream; the program sees no handle there and its lines are lost.
bool PosixGetStdHandles(OsHandle* input, OsHandle* output, OsHandle* error) {
    // Output errors never change the outcome, so a reader that goes away or
    // a file that reaches its size limit (ulimit -f) must not kill the
    // process: the write fails instead.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    // One poll() tells which of the three are closed (POLLNVAL). It fails
    // when the process may have fewer than three descriptors
    // (RLIMIT_NOFILE); then each is asked on its own.
    struct pollfd probe[3] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
    bool polled = poll(probe, 3, 0) >= 0;
    OsHandle handles[3];
    for (int fd = 0; fd < 3; ++fd) {
        handles[fd] = fd + 1;
        bool closed = polled ? (probe[fd].revents & POLLNVAL) != 0 : fcntl(fd, F_GETFD) < 0 && errno == EBADF;
        if (closed) {
            int filled = open("/dev/null", O_RDWR);
            if (filled >= 0 && filled != fd) close(filled);
            handles[fd] = kNoHandle;
        }
    }
    if (input != nullptr) *input = handles[0];
    if (output != nullptr) *output = handles[1];
    if (error != nullptr) *error = handles[2];
    return true;
}

// Whether each standard descriptor is a terminal, asked once: that cannot
// change during a run, and asking is a system call.
int8_t g_isTerminal[3] = {-1, -1, -1};

__attribute__((noinline)) bool AskIsConsole(OsHandle handle) {
    if (handle == kNoHandle) return false;
    int fd = FdOf(handle);
    bool terminal = isatty(fd) == 1;
    if (fd <= 2) g_isTerminal[fd] = terminal;
    return terminal;
}

bool PosixIsConsole(OsHandle handle) {
    uintptr_t fd = static_cast<uintptr_t>(handle) - 1;  // kNoHandle wraps to the slow road
    if (fd <= 2 && g_isTerminal[fd] >= 0) return g_isTerminal[fd] != 0;
    return AskIsConsole(handle);
}

// Goes on from a write() that did not take the whole line, as WriteFile
// would. A descriptor may be handed down in non-blocking mode: while its
// reader is slow it takes part of a line or none, and the rest waits until
// there is room. A signal may interrupt the call.
__attribute__((noinline)) bool FinishWrite(int fd, const uint8_t* bytes, size_t count, ssize_t n) {
    for (;;) {
        if (n > 0 && static_cast<size_t>(n) < count) {
            bytes += n;
            count -= static_cast<size_t>(n);
        } else if (n >= 0) {
            return static_cast<size_t>(n) == count;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            struct pollfd room = {fd, POLLOUT, 0};
            if (poll(&room, 1, -1) < 0 && errno != EINTR) return false;
        } else if (errno != EINTR) {
            return false;
        }
        n = write(fd, bytes, count);
    }
}

// All count bytes; one write() when nothing goes wrong.
inline bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
    ssize_t n = write(fd, bytes, count);
    if (static_cast<size_t>(n) == count) return true;
    return FinishWrite(fd, bytes, count, n);
}

bool PosixWriteConsole(OsHandle handle, const WChar* text, uint32_t count) {
    static uint8_t bytes[1024 * 3];
    if (count > 1024) count = 1024;
    size_t n = PosixToUtf8(text, count, bytes);
    return WriteAll(FdOf(handle), bytes, n);
}

bool PosixWriteFile(OsHandle handle, const void* bytes, uint32_t count) {
    if (handle == kNoHandle) return false;
    return WriteAll(FdOf(handle), static_cast<const uint8_t*>(bytes), count);
}

void PosixCloseHandle(OsHandle handle) {
    if (handle != kNoHandle) close(FdOf(handle));
}

// --- Error texts -------------------------------------------------------------------

// The C library's description; "Unknown error N" counts as none.
uint32_t PosixSystemMessage(WChar* buffer, uint32_t capacity, uint32_t messageId, void*) {
    const char* text;
    char scratch[256];
    if (messageId == kErrorNotRegularFile) {
        text = "Not a regular file";
    } else {
        int saved = errno;
        text = strerror_r(static_cast<int>(messageId), scratch, sizeof scratch);
        errno = saved;
        if (text == nullptr || strncmp(text, "Unknown error", 13) == 0) return 0;
    }
    size_t n = Utf8ToWide(reinterpret_cast<const uint8_t*>(text), strlen(text), buffer, capacity - 1);
    if (n == 0 || n > capacity - 1) {
        buffer[0] = 0;
        return 0;
    }
    buffer[n] = 0;
    return static_cast<uint32_t>(n);
}

void* PosixModuleHandle(const WChar*) { return nullptr; }

// --- Start-up facts ----------------------------------------------------------------

// The kernel release "major.minor.patch-..." stands for the version and build.
bool PosixGetVersion(OsVersionInfo* info) {
    struct utsname names;
    if (uname(&names) != 0) return false;
    const char* p = names.release;
    info->dwMajorVersion = ParseDecimal(p);
    if (*p == '.') ++p;
    info->dwMinorVersion = ParseDecimal(p);
    if (*p == '.') ++p;
    info->dwBuildNumber = ParseDecimal(p);
    info->dwPlatformId = 0;
    return true;
}

bool SameName(const WChar* a, const char* b) {
    while (*a != 0 && *a == static_cast<uint8_t>(*b)) {
        ++a;
        ++b;
    }
    return *a == 0 && *b == 0;
}

// "ReleaseId" stands for VERSION_ID of /etc/os-release; nothing corresponds
// to "UBR".
bool PosixReadSystemValue(const WChar* name, void* data, uint32_t size) {
    if (!SameName(name, "ReleaseId") || size < 2) return false;
    const char* text = ReadSmallText("/etc/os-release");
    if (text == nullptr) return false;
    const char* line = text;
    while (line != nullptr && strncmp(line, "VERSION_ID=", 11) != 0) {
        line = strchr(line, '\n');
        if (line != nullptr) ++line;
    }
    if (line == nullptr) return false;
    const char* value = line + 11;
    if (*value == '"' || *value == '\'') ++value;
    size_t length = strcspn(value, "\"'\n");
    WChar* out = static_cast<WChar*>(data);
    size_t room = size / sizeof(WChar) - 1;
    size_t w = Utf8ToWide(reinterpret_cast<const uint8_t*>(value), length, out, room);
    if (w > room) w = room;
    out[w] = 0;
    return true;
}

uint64_t PosixCounterFrequency() {
    struct timespec resolution;
    if (clock_getres(CLOCK_MONOTONIC, &resolution) != 0) return 0;
    uint64_t nanoseconds = static_cast<uint64_t>(resolution.tv_sec) * 1000000000u + static_cast<uint64_t>(resolution.tv_nsec);
    return nanoseconds == 0 ? 0 : 1000000000u / nanoseconds;
}

uint64_t PosixMilliseconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

void PosixGetSystemInfo(OsSystemInfo* info) {
    long page = sysconf(_SC_PAGESIZE);
    long processors = sysconf(_SC_NPROCESSORS_ONLN);
    info->dwPageSize = page > 0 ? static_cast<uint32_t>(page) : 0;
    info->dwAllocationGranularity = info->dwPageSize;
    info->dwNumberOfProcessors = processors > 0 ? static_cast<uint32_t>(processors) : 0;
    info->lpMinimumApplicationAddress = info->dwPageSize;
    info->lpMaximumApplicationAddress = 0x7FFFFFFFFFFFull;
}

// Only the processor-number function has a native equivalent; the other
// three optional functions stay null without any search of the disk.
char g_kernelModule;

void* PosixLoadLibrary(const WChar* name) { return SameName(name, "kernel32") ? &g_kernelModule : nullptr; }

int CurrentProcessorNumber() { return sched_getcpu(); }

void* PosixGetProcAddress(void* library, const char* name) {
    if (library == &g_kernelModule && strcmp(name, "GetCurrentProcessorNumber") == 0) {
        return reinterpret_cast<void*>(&CurrentProcessorNumber);
    }
    return nullptr;
}

void PosixFreeLibrary(void*) {}

// --- Heap and debugging ------------------------------------------------------------

void* PosixHeapAlloc(size_t size) { return malloc(size); }
void PosixHeapFree(void* block) { free(block); }

// A tracer attached to the process stands for a debugger. In the sandbox
// nothing can be opened to ask, and trying would end the process.
bool PosixIsDebuggerPresent() {
    if (g_sandboxed) return false;
    const char* text = ReadSmallText("/proc/self/status");
    if (text == nullptr) return false;
    const char* tracer = strstr(text, "TracerPid:");
    if (tracer == nullptr) return false;
    tracer += 10;
    while (*tracer == ' ' || *tracer == '\t') ++tracer;
    return *tracer >= '1' && *tracer <= '9';
}

void PosixDebugBreak() { raise(SIGTRAP); }

// --- Environment ---------------------------------------------------------------------

// Names are ASCII; the value is UTF-8 bytes like a name of a file.
bool PosixEnvironmentVariable(const WChar* name, WChar* value, uint32_t capacity) {
    char narrow[64];
    size_t n = 0;
    for (; name[n] != 0; ++n) {
        if (n + 1 >= sizeof narrow || name[n] >= 0x80) return false;
        narrow[n] = static_cast<char>(name[n]);
    }
    narrow[n] = 0;
    const char* text = getenv(narrow);
    if (text == nullptr || *text == 0 || capacity == 0) return false;
    size_t w = Utf8ToWide(reinterpret_cast<const uint8_t*>(text), strlen(text), value, capacity - 1);
    if (w > capacity - 1) return false;
    value[w] = 0;
    return true;
}

// --- The table ---------------------------------------------------------------------

// Every entry is set by name, so two entries of one type cannot change places
// unnoticed; the compiler makes the table before the program starts.
constexpr Platform PosixPlatform() {
    Platform p{};
    p.commandLine = PosixCommandLine;
    p.exitProcess = PosixExitProcess;
    p.maxPath = PATH_MAX;
    p.openFile = PosixOpenFile;
    p.fileSize = PosixFileSize;
    p.readFile = PosixReadFile;
    p.skipForward = PosixSkipForward;
    p.closeFile = PosixCloseFile;
    p.restrictProcess = PosixRestrictProcess;
    p.lastError = PosixLastError;
    p.setLastError = PosixSetLastError;
    p.getStdHandles = PosixGetStdHandles;
    p.isConsole = PosixIsConsole;
    p.writeConsole = PosixWriteConsole;
    p.writeFile = PosixWriteFile;
    p.closeHandle = PosixCloseHandle;
    p.readerGoneErrors[0] = EPIPE;
    p.readerGoneErrors[1] = EPIPE;
    p.readerGoneErrors[2] = EPIPE;
    p.systemMessage = PosixSystemMessage;
    p.moduleHandle = PosixModuleHandle;
    p.getVersion = PosixGetVersion;
    p.minimumVersion = 0x0206;  // Linux 2.6: every kernel the program runs on
    p.readSystemValue = PosixReadSystemValue;
    p.counterFrequency = PosixCounterFrequency;
    p.milliseconds = PosixMilliseconds;
    p.getSystemInfo = PosixGetSystemInfo;
    p.loadLibrary = PosixLoadLibrary;
    p.getProcAddress = PosixGetProcAddress;
    p.freeLibrary = PosixFreeLibrary;
    p.heapAlloc = PosixHeapAlloc;
    p.heapFree = PosixHeapFree;
    p.isDebuggerPresent = PosixIsDebuggerPresent;
    p.debugBreak = PosixDebugBreak;
    // systemFormat stays null: the program's own formatter makes the text.
    p.environmentVariable = PosixEnvironmentVariable;
    p.toUtf8 = PosixToUtf8;
    p.namesHoldBytes = true;
    return p;
}

}  // namespace

bool g_sandboxScanWorker = false;

Platform g_platform = PosixPlatform();
