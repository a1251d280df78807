// The Windows backend of sondrel-scan's seam: the channel between the opener
// and its worker (what each does is in platform/scan_opener.cpp), and the
// list of names.
//
// The worker is this program started anew, with kWorkerWord after its path
// as its whole command line, joined to the opener by two pipes of messages,
// one each way, which are its standard input and output and the only
// handles it inherits. Each open file crosses as a handle the opener makes
// in the worker (DuplicateHandle), with the rights the open gave. The worker
// takes the mitigation policies of a sondrel run (no code made at run time,
// no images from remote places or with a low integrity label, no child
// process) before it reads its first request; it still has the user's rights
// otherwise, which Windows gives one process no cheap way to give up. Every
// worker is in a job that ends it when the opener ends.
#include <windows.h>

#include <stddef.h>
#include <string.h>
#include <wchar.h>

#include "platform/scan_channel.h"

namespace {

bool IsSeparator(WChar c) { return c == u'\\' || c == u'/'; }

// Whether text begins with prefix, letters in either case, a backslash
// standing for either separator.
bool Begins(const WChar* text, const char* prefix) {
    for (; *prefix != 0; ++text, ++prefix) {
        WChar c = *text >= u'a' && *text <= u'z' ? static_cast<WChar>(*text - 32) : *text;
        if (*prefix == '\\' ? !IsSeparator(c) : c != static_cast<WChar>(*prefix)) return false;
    }
    return true;
}

// A pipe on a server ("\\host\pipe\x", "\\?\UNC\host\pipe\x"): opening it
// connects to whoever serves it there. A pipe of this machine ("\\.\pipe\x")
// is a list as good as a file.
bool IsRemotePipe(const WChar* name) {
    const WChar* server = Begins(name, "\\\\?\\UNC\\") ? name + 8 : name + 2;
    if (server == name + 2 && (!Begins(name, "\\\\") || Begins(name, "\\\\.\\") || Begins(name, "\\\\?\\"))) return false;
    while (*server != 0 && !IsSeparator(*server)) ++server;
    return *server != 0 && Begins(server + 1, "PIPE") && (server[5] == 0 || IsSeparator(server[5]));
}

// Opened as the names are: a pipe's server may only identify the user, never
// act as the user, and a pipe on another server is refused unopened.
OsHandle WinOpenList(const WChar* name) {
    if (IsRemotePipe(name)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return kNoHandle;
    }
    HANDLE list = CreateFileW(reinterpret_cast<const wchar_t*>(name), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    return list == INVALID_HANDLE_VALUE ? kNoHandle : reinterpret_cast<OsHandle>(list);
}

// A pipe whose writer has gone, or whose server has disconnected it, is the
// end of the list, not a failure.
bool WinReadList(OsHandle list, void* buffer, uint32_t count, uint32_t* got) {
    DWORD read = 0;
    BOOL ok = ReadFile(reinterpret_cast<HANDLE>(list), buffer, count, &read, nullptr);
    *got = read;
    return ok != FALSE || GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_PIPE_NOT_CONNECTED;
}

void WinCloseList(OsHandle list) { CloseHandle(reinterpret_cast<HANDLE>(list)); }

// --- The channel -----------------------------------------------------------------

// What follows the program's quoted path on a worker's command line.
constexpr wchar_t kWorkerWord[] = L" --scan-worker";

// A request as it crosses: the file is the handle's value in the worker, 0
// for none.
struct RequestMessage {
    ScanRequestHeader header;
    uint64_t file;
    WChar name[kScanNameUnits];
};

struct Worker {
    HANDLE process;
    HANDLE requests;  // the opener's ends of the two pipes, both overlapped
    HANDLE replies;
    HANDLE event;     // for the waits on them
};
Worker g_worker;
HANDLE g_job;  // the job every worker is in, made with the first
// The program's path, quoted, then kWorkerWord: the worker's command line.
wchar_t g_workerLine[MAX_PATH * 128];
uint32_t g_pipes;  // pipes made so far, for their names

void AppendHex(wchar_t* text, uint32_t value) {
    while (*text != 0) ++text;
    for (int shift = 28; shift >= 0; shift -= 4) *text++ = L"0123456789abcdef"[(value >> shift) & 0xF];
    *text = 0;
}

// A pipe of messages between this process and a worker: ours, overlapped, and
// theirs, inheritable. A name already taken (FILE_FLAG_FIRST_PIPE_INSTANCE),
// a second client (one instance) and a client on another machine are refused.
bool MakePipe(bool toWorker, HANDLE* ours, HANDLE* theirs) {
    wchar_t name[64] = L"\\\\.\\pipe\\sondrel-scan-";
    AppendHex(name, GetCurrentProcessId());
    AppendHex(name, ++g_pipes);
    const DWORD access = (toWorker ? PIPE_ACCESS_OUTBOUND : PIPE_ACCESS_INBOUND) | FILE_FLAG_OVERLAPPED |
                         FILE_FLAG_FIRST_PIPE_INSTANCE;
    *ours = CreateNamedPipeW(name, access, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_REJECT_REMOTE_CLIENTS, 1,
                             sizeof(ScanReply), sizeof(ScanReply), 0, nullptr);
    if (*ours == INVALID_HANDLE_VALUE) return false;
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    // The worker reads whole messages: setting that needs FILE_WRITE_ATTRIBUTES.
    *theirs = CreateFileW(name, toWorker ? GENERIC_READ | FILE_WRITE_ATTRIBUTES : GENERIC_WRITE, 0, &inherited,
                          OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS, nullptr);
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (*theirs != INVALID_HANDLE_VALUE && (!toWorker || SetNamedPipeHandleState(*theirs, &mode, nullptr, nullptr))) {
        return true;
    }
    if (*theirs != INVALID_HANDLE_VALUE) CloseHandle(*theirs);
    CloseHandle(*ours);
    return false;
}

// Every worker goes when the opener goes, however it goes, and a fault in
// one ends it at once.
void JoinJob(HANDLE process) {
    if (g_job == nullptr) {
        g_job = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags =
            JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
        if (g_job != nullptr) SetInformationJobObject(g_job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    // A system whose jobs do not nest may refuse; the worker still runs.
    if (g_job != nullptr) AssignProcessToJobObject(g_job, process);
}

bool WinStart(ScanCheck) {
    if (g_workerLine[0] == 0) {
        constexpr DWORD room = sizeof g_workerLine / sizeof g_workerLine[0] - sizeof kWorkerWord / sizeof(wchar_t) - 2;
        g_workerLine[0] = L'"';
        const DWORD n = GetModuleFileNameW(nullptr, g_workerLine + 1, room);
        if (n == 0 || n >= room) return false;
        g_workerLine[n + 1] = L'"';
        memcpy(g_workerLine + n + 2, kWorkerWord, sizeof kWorkerWord);
    }
    HANDLE requests = INVALID_HANDLE_VALUE;
    HANDLE replies = INVALID_HANDLE_VALUE;
    if (!MakePipe(true, &g_worker.requests, &requests)) return false;
    if (!MakePipe(false, &g_worker.replies, &replies)) {
        CloseHandle(g_worker.requests);
        CloseHandle(requests);
        return false;
    }
    // The pipes are the worker's standard input and output, and nothing
    // else of the opener's is inherited: not its own streams.
    alignas(8) static uint8_t listRoom[256];
    SIZE_T listSize = sizeof listRoom;
    auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listRoom);
    HANDLE inherited[2] = {requests, replies};
    STARTUPINFOEXW start = {};
    start.StartupInfo.cb = sizeof start;
    start.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    start.StartupInfo.hStdInput = requests;
    start.StartupInfo.hStdOutput = replies;
    start.StartupInfo.hStdError = nullptr;
    PROCESS_INFORMATION made = {};
    bool ok = InitializeProcThreadAttributeList(list, 1, 0, &listSize) &&
              UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof inherited,
                                        nullptr, nullptr);
    if (ok) {
        start.lpAttributeList = list;
        ok = CreateProcessW(nullptr, g_workerLine, nullptr, nullptr, TRUE,
                            EXTENDED_STARTUPINFO_PRESENT | CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr,
                            &start.StartupInfo, &made);
        DeleteProcThreadAttributeList(list);
    }
    DWORD error = GetLastError();
    CloseHandle(requests);
    CloseHandle(replies);
    g_worker.event = ok ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr;
    if (g_worker.event == nullptr) {
        if (ok) {
            error = GetLastError();
            TerminateProcess(made.hProcess, 1);
            CloseHandle(made.hThread);
            CloseHandle(made.hProcess);
        }
        CloseHandle(g_worker.requests);
        CloseHandle(g_worker.replies);
        SetLastError(error);
        return false;
    }
    JoinJob(made.hProcess);
    ResumeThread(made.hThread);
    CloseHandle(made.hThread);
    g_worker.process = made.hProcess;
    return true;
}

// An overlapped operation on one of the pipes, finished within waitMs or
// given up; false with the error when it failed or was given up
// (ERROR_OPERATION_ABORTED).
bool Finish(HANDLE pipe, OVERLAPPED* operation, BOOL started, uint32_t waitMs, DWORD* count) {
    *count = 0;
    if (started == FALSE && GetLastError() != ERROR_IO_PENDING) return false;
    if (WaitForSingleObject(g_worker.event, waitMs) != WAIT_OBJECT_0) CancelIoEx(pipe, operation);
    return GetOverlappedResult(pipe, operation, count, TRUE) != FALSE;
}

// Each request in a message of its own; one the worker has no room for now
// is taken back, and it and those after it go later.
uint32_t WinSend(const ScanRequest* requests, uint32_t count) {
    static RequestMessage message;
    uint32_t sent = 0;
    for (; sent < count; ++sent) {
        const ScanRequest& r = requests[sent];
        message.header = r.header;
        message.file = 0;
        HANDLE theirs = nullptr;
        if (r.file != kNoHandle && !DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(r.file),
                                                    g_worker.process, &theirs, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
            break;
        }
        message.file = reinterpret_cast<uintptr_t>(theirs);
        const uint32_t units = r.units < kScanNameUnits ? r.units : kScanNameUnits;
        memcpy(message.name, r.name, units * sizeof(WChar));
        const DWORD size = static_cast<DWORD>(offsetof(RequestMessage, name) + units * sizeof(WChar));
        OVERLAPPED operation = {};
        operation.hEvent = g_worker.event;
        DWORD written = 0;
        if (!Finish(g_worker.requests, &operation, WriteFile(g_worker.requests, &message, size, nullptr, &operation), 0,
                    &written) ||
            written != size) {
            break;
        }
    }
    return sent;
}

// One reply a read; the first waits up to waitMs, the others are taken only
// when they are there already.
ScanHeard WinReceive(ScanReply* replies, uint32_t* sizes, uint32_t count, uint32_t waitMs, uint32_t* got) {
    *got = 0;
    for (uint32_t i = 0; i < count; ++i) {
        DWORD waiting = 0;
        if (i > 0 && (!PeekNamedPipe(g_worker.replies, nullptr, 0, nullptr, &waiting, nullptr) || waiting == 0)) break;
        OVERLAPPED operation = {};
        operation.hEvent = g_worker.event;
        DWORD n = 0;
        const BOOL started = ReadFile(g_worker.replies, &replies[i], sizeof replies[i], nullptr, &operation);
        if (!Finish(g_worker.replies, &operation, started, waitMs, &n)) {
            const DWORD error = GetLastError();
            if (error == ERROR_MORE_DATA) {
                // Longer than any reply: refused, and the rest of it is
                // never read.
                sizes[(*got)++] = sizeof(ScanReply) + 1;
                break;
            }
            if (error == ERROR_OPERATION_ABORTED) return kHeardNothing;
            return *got == 0 ? kHeardEnd : kHeardReplies;
        }
        sizes[(*got)++] = n;
    }
    return kHeardReplies;
}

// The signal a POSIX system would name for the exception that ended a
// worker, as the exit code says; 0 for any other end.
uint32_t SignalOf(DWORD exitCode) {
    static const struct {
        DWORD exception;
        uint32_t signal;
    } kSignals[] = {
        {0xC0000005, 11},  // access violation: SIGSEGV
        {0xC00000FD, 11},  // stack overflow
        {0xC000001D, 4},   // illegal instruction: SIGILL
        {0xC0000096, 4},   // privileged instruction
        {0xC0000094, 8},   // integer division by zero: SIGFPE
        {0xC0000095, 8},   // integer overflow
        {0x80000003, 5},   // breakpoint: SIGTRAP
        {0xC0000409, 6},   // fast fail, a check of the compiler's: SIGABRT
    };
    for (const auto& s : kSignals) {
        if (s.exception == exitCode) return s.signal;
    }
    return 0;
}

// The end of its requests tells the worker it is done. One that goes of
// itself (its replies' pipe broken) has graceMs to finish going, so that its
// exit code says how it went; any other is ended at once.
uint32_t WinEnd(bool tell, uint32_t graceMs, bool* left) {
    *left = false;
    CloseHandle(g_worker.requests);
    const uint64_t since = g_platform.milliseconds();
    bool going = !tell && !PeekNamedPipe(g_worker.replies, nullptr, 0, nullptr, nullptr, nullptr) &&
                 GetLastError() == ERROR_BROKEN_PIPE;
    while (tell) {
        const uint64_t spent = g_platform.milliseconds() - since;
        if (spent >= graceMs) break;
        static ScanReply rest;
        uint32_t size = 0;
        uint32_t got = 0;
        const ScanHeard heard = WinReceive(&rest, &size, 1, static_cast<uint32_t>(graceMs - spent), &got);
        *left = heard == kHeardEnd;
        going = *left;
        if (heard != kHeardNothing) break;
    }
    const uint64_t spent = g_platform.milliseconds() - since;
    const DWORD wait = going && spent < graceMs ? static_cast<DWORD>(graceMs - spent) : 0;
    uint32_t signal = 0;
    if (WaitForSingleObject(g_worker.process, wait) != WAIT_OBJECT_0) {
        *left = false;
        TerminateProcess(g_worker.process, 1);
        signal = 9;  // as SIGKILL ends a worker on Linux
        WaitForSingleObject(g_worker.process, INFINITE);
    }
    DWORD code = 0;
    if (signal == 0 && GetExitCodeProcess(g_worker.process, &code)) signal = SignalOf(code);
    if (signal != 0) *left = false;
    CloseHandle(g_worker.replies);
    CloseHandle(g_worker.event);
    CloseHandle(g_worker.process);
    g_worker = {};
    return signal;
}

void WinRewind(OsHandle file) {
    LARGE_INTEGER start = {};
    SetFilePointerEx(reinterpret_cast<HANDLE>(file), start, nullptr, FILE_BEGIN);
}

// --- The worker's side -------------------------------------------------------------

HANDLE g_workerRequests;
HANDLE g_workerReplies;

bool WorkerReceiveRequest(ScanRequestHeader* header, WChar* name, uint32_t* units, OsHandle* file) {
    static RequestMessage message;
    DWORD n = 0;
    if (!ReadFile(g_workerRequests, &message, sizeof message, &n, nullptr) || n < offsetof(RequestMessage, name)) {
        return false;
    }
    *header = message.header;
    *units = static_cast<uint32_t>((n - offsetof(RequestMessage, name)) / sizeof(WChar));
    memcpy(name, message.name, *units * sizeof(WChar));
    *file = static_cast<OsHandle>(message.file);
    return true;
}

bool WorkerSendReply(const void* reply, uint32_t size) {
    DWORD written = 0;
    return WriteFile(g_workerReplies, reply, size, &written, nullptr) != FALSE && written == size;
}

void WorkerLeave() { g_platform.exitProcess(0); }

constexpr ScanChannel kWinChannel = {WinStart, WinSend, WinReceive, WinEnd, WinRewind,
                                     WorkerReceiveRequest, WorkerSendReply, WorkerLeave};

bool WinCheckAll(ScanCheck check, uint32_t flags, const ScanLimits* limits, const ScanCallbacks* callbacks) {
    return ScanCheckAll(&kWinChannel, check, flags, limits, callbacks);
}

// Started by an opener: the command line is the one it writes, and the
// standard input a pipe.
bool WinStartedAsWorker() {
    const wchar_t* line = GetCommandLineW();
    size_t n = wcslen(line);
    const size_t word = sizeof kWorkerWord / sizeof(wchar_t) - 1;
    // At least a quoted name of one character, before the word.
    return n >= word + 3 && wcscmp(line + n - word, kWorkerWord) == 0 && line[0] == L'"' && line[n - word - 1] == L'"' &&
           wmemchr(line + 1, L'"', n - word - 2) == nullptr &&
           GetFileType(GetStdHandle(STD_INPUT_HANDLE)) == FILE_TYPE_PIPE;
}

// A fault ends the worker at once, with the exception as its exit code: no
// window, and no debugger started (Wine starts one whatever the error mode
// says), which would inherit the replies' pipe and write into it.
LONG WINAPI EndOnFault(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

// The fault handling, then the restrictions, then the checks.
void WinServeChecks(ScanCheck check) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(EndOnFault);
    g_workerRequests = GetStdHandle(STD_INPUT_HANDLE);
    g_workerReplies = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!g_platform.restrictProcess(kNoHandle)) WorkerLeave();
    ScanServe(&kWinChannel, check);
}

// The command line is split as sondrel splits it: no list of arguments here.
void WinKeepArguments(int, char**) {}

constexpr ScanPlatform WinScanPlatform() {
    ScanPlatform p{};
    p.keepArguments = WinKeepArguments;
    p.openList = WinOpenList;
    p.readList = WinReadList;
    p.closeList = WinCloseList;
    p.checkAll = WinCheckAll;
    p.startedAsWorker = WinStartedAsWorker;
    p.serveChecks = WinServeChecks;
    return p;
}

}  // namespace

ScanPlatform g_scanPlatform = WinScanPlatform();
