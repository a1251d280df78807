// The POSIX (Linux) backend of the platform seam.
//
// Sections: text conversion between UTF-16 and the bytes of names and the
// console; the command line built from argv; the input file; the sandbox;
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
#include "platform/text.h"

namespace {

// The error code of a name that is neither a regular file nor a directory
// (a FIFO, a terminal, a socket, a device): beyond every errno value.
constexpr uint32_t kErrorNotRegularFile = 1000;

// --- Text conversion ----------------------------------------------------------

// Hands each UTF-16 unit of the bytes to emit, in order. A byte that does not
// begin valid UTF-8 becomes U+DC80..U+DCFF.
template <typename Emit>
void ForEachUnit(const uint8_t* bytes, size_t n, Emit emit) {
    for (size_t i = 0; i < n;) {
        if (bytes[i] < 0x80) {  // most names are ASCII: no call for them
            emit(static_cast<WChar>(bytes[i++]));
            continue;
        }
        uint32_t cp;
        uint32_t length = DecodeUtf8(bytes + i, n - i, &cp);
        if (length == 0) {
            cp = 0xDC00 | bytes[i];
            length = 1;
        }
        i += length;
        WChar units[2];
        for (uint32_t u = 0, count = EncodeUtf16(cp, units); u < count; ++u) emit(units[u]);
    }
}

// Appends the UTF-16 form of bytes to out (at most capacity units). Returns
// the number of units written, or capacity + 1 when they did not fit.
size_t Utf8ToWide(const uint8_t* bytes, size_t n, WChar* out, size_t capacity) {
    size_t w = 0;
    ForEachUnit(bytes, n, [&](WChar c) {
        if (w < capacity) out[w] = c;
        ++w;
    });
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

// Windows limits a command line to 32767 characters; the one built from argv
// has the same room.
WChar g_commandLine[32768];
constexpr size_t kCommandLineRoom = sizeof g_commandLine / sizeof g_commandLine[0] - 1;

// The program name is only ever skipped, never read back, and the parser
// looks for its end among its first 1024 characters only: a path may be 4095
// characters long, so a fixed short name stands in for argv[0].
const WChar kProgramName[] = u"sondrel";
constexpr size_t kProgramNameLength = sizeof kProgramName / sizeof kProgramName[0] - 1;

bool NeedsQuotes(const char* arg) {
    if (*arg == 0) return true;
    for (const char* p = arg; *p != 0; ++p) {
        if (*p == ' ' || *p == '\t' || *p == '"') return true;
    }
    return false;
}

// Appends a blank and one argument in the quoting that Windows programs
// read: plain when that is unambiguous, else in double quotes, with each
// double quote escaped by a backslash and the backslashes just before a
// double quote or the closing quote doubled. Other backslashes stand for
// themselves. False, with nothing written, when it does not fit.
bool AppendArgument(size_t& length, const char* arg) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(arg);
    size_t n = strlen(arg);
    bool quote = NeedsQuotes(arg);
    // First the room it needs, then the text.
    size_t units = 0;
    size_t backslashes = 0;
    ForEachUnit(bytes, n, [&](WChar c) {
        units += c == u'"' ? backslashes + 2 : 1;
        backslashes = c == u'\\' ? backslashes + 1 : 0;
    });
    size_t needed = 1 + units + (quote ? 2 + backslashes : 0);
    if (needed > kCommandLineRoom - length) return false;
    g_commandLine[length++] = u' ';
    if (quote) g_commandLine[length++] = u'"';
    backslashes = 0;
    auto escape = [&]() {
        for (size_t i = 0; i <= backslashes; ++i) g_commandLine[length++] = u'\\';
    };
    ForEachUnit(bytes, n, [&](WChar c) {
        if (c == u'"') escape();
        backslashes = c == u'\\' ? backslashes + 1 : 0;
        g_commandLine[length++] = c;
    });
    if (quote) {
        // The closing quote must not be taken for an escaped one.
        for (size_t i = 0; i < backslashes; ++i) g_commandLine[length++] = u'\\';
        g_commandLine[length++] = u'"';
    }
    return true;
}

// Arguments that do not all fit are refused as a whole: dropping or cutting
// one could leave a valid command line that names another file. A lone "-"
// in their place makes the command line invalid (exit code 2).
const WChar* PosixCommandLine(int argc, char** argv) {
    size_t length = kProgramNameLength;
    for (size_t i = 0; i < length; ++i) g_commandLine[i] = kProgramName[i];
    for (int i = 1; i < argc; ++i) {
        if (!AppendArgument(length, argv[i])) {
            length = kProgramNameLength;
            g_commandLine[length++] = u' ';
            g_commandLine[length++] = u'-';
            break;
        }
    }
    g_commandLine[length] = 0;
    return g_commandLine;
}

[[noreturn]] void PosixExitProcess(uint32_t code) { exit(static_cast<int>(code)); }

// --- The input file -------------------------------------------------------------

// Handles are descriptors plus one, so 0 stays "no handle" and every open
// file has its own.
int FdOf(OsHandle handle) { return static_cast<int>(handle) - 1; }

// What fstat told when the file was opened, so its size costs no second
// call. Only the latest open is kept; another descriptor asks again.
struct OpenedFile {
    int fd;
    uint64_t size;
};
OpenedFile g_lastOpened = {-1, 0};

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
    // Opening is itself an act on a FIFO or a device: a writer on a FIFO
    // loses what it wrote, a tape rewinds when closed. Such a name is looked
    // at and refused without being opened.
    struct stat st;
    if (stat(reinterpret_cast<const char*>(path), &st) != 0) return kNoHandle;
    int error = RefusalOf(st);
    if (error != 0) {
        errno = error;
        return kNoHandle;
    }
    // The name can be pointed elsewhere between the look and the open, so the
    // open file is asked again. O_NONBLOCK: a FIFO swapped in must not wait
    // for a writer.
    int fd = open(reinterpret_cast<const char*>(path), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return kNoHandle;
    error = fstat(fd, &st) != 0 ? errno : RefusalOf(st);
    if (error != 0) {
        close(fd);         // GCOVR_EXCL_LINE: only a name swapped for another after the look comes here
        errno = error;     // GCOVR_EXCL_LINE: (the same race)
        return kNoHandle;  // GCOVR_EXCL_LINE: (the same race)
    }
    g_lastOpened = {fd, static_cast<uint64_t>(st.st_size)};
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
    if (fd == g_lastOpened.fd) g_lastOpened.fd = -1;
    close(fd);
}

// --- The sandbox ------------------------------------------------------------------
//
// no_new_privs, then a seccomp filter: the system calls the rest of a run
// makes pass, each other one fails with EPERM. Failing rather than killing
// keeps a sanitizer's report or a debugger's view of a fault. A run makes no
// call the filter refuses; only the look for a debugger after a broken
// contract (/proc/self/status) finds none.

#if defined(__x86_64__)
constexpr uint32_t kAuditArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
#elif defined(__s390x__)
constexpr uint32_t kAuditArch = AUDIT_ARCH_S390X;
#else
constexpr uint32_t kAuditArch = 0;  // a machine the filter does not know: no sandbox
#endif

// The low half of a system call's argument (all the filter compares).
constexpr uint32_t ArgumentLow(int index) {
    return static_cast<uint32_t>(offsetof(struct seccomp_data, args) + 8 * index +
                                 (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 4 : 0));
}

struct Filter {
    struct sock_filter code[96];
    unsigned short length;
};

void Emit(Filter& f, struct sock_filter instruction) { f.code[f.length++] = instruction; }

constexpr uint32_t kRefuse = SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA);

// Each rule leaves the system call number in the accumulator for the next
// one, or decides.
void Allow(Filter& f, long call) {
    Emit(f, BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(call), 0, 1));
    Emit(f, BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
}

// Allowed when (argument & mask) == value; refused otherwise.
void AllowMasked(Filter& f, long call, int argument, uint32_t mask, uint32_t value) {
    Emit(f, BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(call), 0, 5));
    Emit(f, BPF_STMT(BPF_LD | BPF_W | BPF_ABS, ArgumentLow(argument)));
    Emit(f, BPF_STMT(BPF_ALU | BPF_AND | BPF_K, mask));
    Emit(f, BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, 0, 1));
    Emit(f, BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    Emit(f, BPF_STMT(BPF_RET | BPF_K, kRefuse));
}

// Allowed when the argument is one of two values.
void AllowEither(Filter& f, long call, int argument, uint32_t first, uint32_t second) {
    Emit(f, BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(call), 0, 5));
    Emit(f, BPF_STMT(BPF_LD | BPF_W | BPF_ABS, ArgumentLow(argument)));
    Emit(f, BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, first, 1, 0));
    Emit(f, BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, second, 0, 1));
    Emit(f, BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    Emit(f, BPF_STMT(BPF_RET | BPF_K, kRefuse));
}

// Static: the filter is some 600 bytes, and it is made once.
Filter g_filter;

void PosixRestrictProcess(OsHandle file) {
    if (kAuditArch == 0 || RUNNING_ON_VALGRIND) return;
    const uint32_t fd = static_cast<uint32_t>(FdOf(file));
    Filter& f = g_filter;
    f.length = 0;
    // A call of another architecture's numbering (x86-64's i386 entry) is
    // refused before its number is read.
    Emit(f, BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)));
    Emit(f, BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0));
    Emit(f, BPF_STMT(BPF_RET | BPF_K, kRefuse));
    Emit(f, BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)));
#ifdef SONDREL_COVERAGE
    // The coverage build only: the line counters are written at exit into
    // files that are created or opened read-write, locked, read, merged and
    // written back. The rules below still refuse every other open.
    AllowMasked(f, SYS_openat, 2, O_CREAT, O_CREAT);
    const long counterCalls[] = {SYS_fcntl, SYS_read, SYS_write, SYS_lseek};
    for (long call : counterCalls) Allow(f, call);
#endif
    // The file: read and skip; the streams: write, wait for room, ask
    // whether a terminal; memory without execution; the end.
    AllowEither(f, SYS_read, 0, fd, fd);
    AllowEither(f, SYS_lseek, 0, fd, fd);
    AllowEither(f, SYS_write, 0, 1, 2);
    AllowMasked(f, SYS_ioctl, 1, 0xFFFFFFFF, TCGETS);
#if defined(__s390x__)
    // s390x passes mmap's arguments in a record the filter cannot read.
    Allow(f, SYS_mmap);
#else
    AllowMasked(f, SYS_mmap, 2, PROT_EXEC, 0);
#endif
    Allow(f, SYS_fstat);
#ifdef SYS_newfstatat
    Allow(f, SYS_newfstatat);
#endif
#ifdef SYS_poll
    Allow(f, SYS_poll);
#endif
    Allow(f, SYS_ppoll);
    Allow(f, SYS_close);
    Allow(f, SYS_brk);
    Allow(f, SYS_munmap);
    Allow(f, SYS_rt_sigreturn);
    Allow(f, SYS_exit);
    Allow(f, SYS_exit_group);
#ifdef SONDREL_SANITIZED_BUILD
    // Its threads, signals and locks; never a file or a socket. The leak
    // check at exit needs /proc and ptrace, which stay refused: it runs now,
    // before the walk, and no more (the in-process tests and the fuzzers
    // check the walk's blocks).
    const long runtimeCalls[] = {SYS_gettid, SYS_getpid, SYS_sigaltstack, SYS_futex, SYS_rt_sigprocmask,
                                 SYS_rt_sigaction, SYS_tgkill, SYS_sched_yield, SYS_madvise};
    for (long call : runtimeCalls) Allow(f, call);
    AllowMasked(f, SYS_mprotect, 2, PROT_EXEC, 0);
    __lsan_do_leak_check();
#endif
    Emit(f, BPF_STMT(BPF_RET | BPF_K, kRefuse));
    struct sock_fprog program = {f.length, f.code};
    // Either call may be refused (qemu-user, valgrind, a kernel without
    // seccomp); the run then goes on as before.
    int saved = errno;
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0) prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program);
    errno = saved;
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
    int fd = open("/etc/os-release", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // The file is a few hundred bytes: one read holds it.
    static char text[4096];
    ssize_t n = ReadOnce(fd, text, sizeof text - 1);
    close(fd);
    if (n < 0) return false;
    text[n] = 0;
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

// A tracer attached to the process stands for a debugger.
bool PosixIsDebuggerPresent() {
    int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    static char text[4096];
    size_t n = 0;
    ReadFully(fd, reinterpret_cast<uint8_t*>(text), sizeof text - 1, &n);
    close(fd);
    text[n] = 0;
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
    p.systemMessage = PosixSystemMessage;
    p.moduleHandle = PosixModuleHandle;
    p.getVersion = PosixGetVersion;
    p.minimumVersion = 0x0206;  // Linux 2.6: every kernel the program runs on
    p.readSystemValue = PosixReadSystemValue;
    p.counterFrequency = PosixCounterFrequency;
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
    return p;
}

}  // namespace

Platform g_platform = PosixPlatform();
