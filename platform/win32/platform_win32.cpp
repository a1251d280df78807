// The Windows backend of the platform seam: each entry is the Win32 call the
// program was written against, with as little in between as possible.
//
// Sections: the command line and process exit; the input file; the sandbox;
// last error; standard streams and console; error texts; start-up facts; heap
// and debugging; the system formatter; the environment; the table.
//
// WChar (char16_t) and wchar_t are both UTF-16 code units here, so text goes
// to and from the system by a pointer cast, never by conversion.
#include <windows.h>
#include <shlwapi.h>

#include <stdarg.h>
#include <stddef.h>

#include "platform/devicename.h"
#include "platform/platform.h"
#include "platform/text.h"

static_assert(sizeof(wchar_t) == sizeof(WChar), "Windows text is UTF-16");
static_assert(sizeof(HANDLE) == sizeof(OsHandle), "a handle fits an OsHandle");

// The version record is passed to GetVersionExW as it stands, so it must be
// the system's OSVERSIONINFOEXW field for field.
static_assert(sizeof(OsVersionInfo) == sizeof(OSVERSIONINFOEXW), "OsVersionInfo is OSVERSIONINFOEXW");
static_assert(sizeof(OsVersionInfo) == 284, "OSVERSIONINFOEXW is 284 bytes");
static_assert(offsetof(OsVersionInfo, dwBuildNumber) == offsetof(OSVERSIONINFOEXW, dwBuildNumber), "");
static_assert(offsetof(OsVersionInfo, szCSDVersion) == offsetof(OSVERSIONINFOEXW, szCSDVersion), "");
static_assert(offsetof(OsVersionInfo, wServicePackMajor) == offsetof(OSVERSIONINFOEXW, wServicePackMajor), "");
static_assert(offsetof(OsVersionInfo, wProductType) == offsetof(OSVERSIONINFOEXW, wProductType), "");

namespace {

const wchar_t* Wide(const WChar* text) { return reinterpret_cast<const wchar_t*>(text); }

HANDLE HandleOf(OsHandle handle) { return reinterpret_cast<HANDLE>(handle); }

OsHandle ToOsHandle(HANDLE handle) { return reinterpret_cast<OsHandle>(handle); }

// --- The command line and process exit -----------------------------------------

// The system keeps the command line exactly as the parent passed it; argv is
// the C runtime's reading of it and is not used.
const WChar* WinCommandLine(int, char**, ArgumentJoiner) { return reinterpret_cast<const WChar*>(GetCommandLineW()); }

#ifdef SONDREL_COVERAGE
// The coverage build's line counters are written by the C library's exit
// handlers, which ExitProcess never runs.
extern "C" void __gcov_dump();
#endif

[[noreturn]] void WinExitProcess(uint32_t code) {
#ifdef SONDREL_COVERAGE
    __gcov_dump();
#endif
    ExitProcess(code);  // GCOVR_EXCL_LINE: its count would come after the counters are written
}

// --- The input file ----------------------------------------------------------------

// A device or pipe name (IsWindowsDeviceName) is refused before CreateFileW
// sees it: opening one acts on the device or connects to the pipe's server.
// Without FILE_FLAG_BACKUP_SEMANTICS a directory is refused
// (ERROR_ACCESS_DENIED), as the walk can only read a file. Should a name
// still reach a pipe, its server may only identify the user, never act as
// the user (SECURITY_IDENTIFICATION).
OsHandle WinOpenFile(const WChar* name) {
    if (IsWindowsDeviceName(name)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return kNoHandle;
    }
    HANDLE file = CreateFileW(Wide(name), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (file == INVALID_HANDLE_VALUE) return kNoHandle;
    // Whatever is not a file on disk and still got past the name check (the
    // name may have been made to point elsewhere) would wait for input or
    // read as empty: refused, as a directory is.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        SetLastError(ERROR_NOT_SUPPORTED);
        return kNoHandle;
    }
    return ToOsHandle(file);
}

// GetFileSize alone returns the low half of the size, so a file of 4 GiB and
// more would be taken for a small one; the high half tells. A size that does
// not fit below 0xFFFFFFFF, the failure value, is refused.
bool WinFileSize(OsHandle file, uint32_t* size) {
    DWORD high = 0;
    // A size whose low half is 0xFFFFFFFF looks like a failure; only the last
    // error tells them apart, so it must not hold an older code.
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(HandleOf(file), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    if (high != 0 || low == 0xFFFFFFFFu) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    *size = low;
    return true;
}

bool WinReadFile(OsHandle file, void* buffer, uint32_t count, uint32_t* got) {
    DWORD read = 0;
    BOOL ok = ReadFile(HandleOf(file), buffer, count, &read, nullptr);
    *got = read;
    return ok != FALSE;
}

bool WinSkipForward(OsHandle file, uint64_t count) {
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(count);
    return SetFilePointerEx(HandleOf(file), distance, nullptr, FILE_CURRENT) != FALSE;
}

void WinCloseFile(OsHandle file) { CloseHandle(HandleOf(file)); }

// --- The sandbox ---------------------------------------------------------------------
//
// The process mitigation policies a file made to subvert the program would
// need lifted: no code made or changed at run time, no image loaded from a
// remote place or with a low integrity label, no child process. Windows 8
// and later have the call, Windows 10 1709 and later the last policy;
// older systems and Wine lack the call, and the run goes on as before. A
// policy the system does not know is refused as an invalid parameter; any
// other refusal fails the run, since the process would then read the file
// with less protection than it claims. Each policy is a record of one DWORD
// of flags.

constexpr int kProcessDynamicCodePolicy = 2;
constexpr int kProcessImageLoadPolicy = 10;
constexpr int kProcessChildProcessPolicy = 13;
constexpr DWORD kProhibitDynamicCode = 0x1;
constexpr DWORD kNoRemoteImages = 0x1;
constexpr DWORD kNoLowMandatoryLabelImages = 0x2;
constexpr DWORD kNoChildProcessCreation = 0x1;

using SetPolicyFunction = BOOL(WINAPI*)(int policy, void* buffer, SIZE_T length);

bool WinRestrictProcess(OsHandle) {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto setPolicy = reinterpret_cast<SetPolicyFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetProcessMitigationPolicy")));
    if (setPolicy == nullptr) return true;
    static const struct {
        int policy;
        DWORD flags;
    } kPolicies[] = {
        {kProcessDynamicCodePolicy, kProhibitDynamicCode},
        {kProcessImageLoadPolicy, kNoRemoteImages | kNoLowMandatoryLabelImages},
        {kProcessChildProcessPolicy, kNoChildProcessCreation},
    };
    DWORD saved = GetLastError();
    for (const auto& p : kPolicies) {
        DWORD flags = p.flags;
        if (setPolicy(p.policy, &flags, sizeof flags) == FALSE && GetLastError() != ERROR_INVALID_PARAMETER) {
            return false;
        }
    }
    SetLastError(saved);
    return true;
}

// --- Last error ----------------------------------------------------------------------

uint32_t WinLastError() { return GetLastError(); }
void WinSetLastError(uint32_t code) { SetLastError(code); }

// --- Standard streams and console ------------------------------------------------------

// A parent that passed its own handles (a redirection, a pipe) put them in
// the start-up information; one it marked invalid is only lost output. A
// process started without them asks the system, and an invalid handle there
// means the streams cannot be had at all.
bool WinGetStdHandles(OsHandle* input, OsHandle* output, OsHandle* error) {
    HANDLE handles[3];
    STARTUPINFOW startup;
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    if ((startup.dwFlags & STARTF_USESTDHANDLES) != 0) {
        handles[0] = startup.hStdInput;
        handles[1] = startup.hStdOutput;
        handles[2] = startup.hStdError;
        for (HANDLE& handle : handles) {
            if (handle == INVALID_HANDLE_VALUE) handle = nullptr;
        }
    } else {
        handles[0] = GetStdHandle(STD_INPUT_HANDLE);
        handles[1] = GetStdHandle(STD_OUTPUT_HANDLE);
        handles[2] = GetStdHandle(STD_ERROR_HANDLE);
        for (HANDLE handle : handles) {
            if (handle == INVALID_HANDLE_VALUE) return false;
        }
    }
    if (input != nullptr) *input = ToOsHandle(handles[0]);
    if (output != nullptr) *output = ToOsHandle(handles[1]);
    if (error != nullptr) *error = ToOsHandle(handles[2]);
    return true;
}

bool WinIsConsole(OsHandle handle) {
    DWORD mode;
    return GetConsoleMode(HandleOf(handle), &mode) != FALSE;
}

bool WinWriteConsole(OsHandle handle, const WChar* text, uint32_t count) {
    DWORD written;
    return WriteConsoleW(HandleOf(handle), Wide(text), count, &written, nullptr) != FALSE;
}

bool WinWriteFile(OsHandle handle, const void* bytes, uint32_t count) {
    DWORD written;
    return WriteFile(HandleOf(handle), bytes, count, &written, nullptr) != FALSE;
}

void WinCloseHandle(OsHandle handle) { CloseHandle(HandleOf(handle)); }

// --- Error texts -----------------------------------------------------------------------

// The width 0xFF makes the system join a message's lines into one. With a
// module only its message table is searched, so a WinINet code never picks
// up an unrelated system text of the same number. Nothing is allocated: a
// text that does not fit fails, and the caller falls back.
uint32_t WinSystemMessage(WChar* buffer, uint32_t capacity, uint32_t messageId, void* module) {
    DWORD source = module != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM;
    DWORD flags = source | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
    return FormatMessageW(flags, module, messageId, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                          reinterpret_cast<wchar_t*>(buffer), capacity, nullptr);
}

void* WinModuleHandle(const WChar* name) { return GetModuleHandleW(Wide(name)); }

// --- Start-up facts ----------------------------------------------------------------------

// The caller has set the size field; the system fills as much as it names.
bool WinGetVersion(OsVersionInfo* info) {
    return GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(info)) != FALSE;
}

bool WinReadSystemValue(const WChar* name, void* data, uint32_t size) {
    DWORD room = size;
    return SHGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", Wide(name), nullptr,
                       data, &room) == ERROR_SUCCESS;
}

// The value is what the caller judges, whatever the call returned: a zero
// frequency stays zero.
// The performance counter rather than GetTickCount64, which Windows 2000
// and XP lack.
uint64_t WinMilliseconds() {
    LARGE_INTEGER now, frequency;
    now.QuadPart = 0;
    frequency.QuadPart = 0;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    if (frequency.QuadPart <= 0) return 0;
    uint64_t counts = static_cast<uint64_t>(now.QuadPart), perSecond = static_cast<uint64_t>(frequency.QuadPart);
    return counts / perSecond * 1000u + counts % perSecond * 1000u / perSecond;
}

uint64_t WinCounterFrequency() {
    LARGE_INTEGER frequency;
    frequency.QuadPart = 0;
    QueryPerformanceFrequency(&frequency);
    return static_cast<uint64_t>(frequency.QuadPart);
}

void WinGetSystemInfo(OsSystemInfo* info) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    info->wProcessorArchitecture = system.wProcessorArchitecture;
    info->dwPageSize = system.dwPageSize;
    info->lpMinimumApplicationAddress = reinterpret_cast<uintptr_t>(system.lpMinimumApplicationAddress);
    info->lpMaximumApplicationAddress = reinterpret_cast<uintptr_t>(system.lpMaximumApplicationAddress);
    info->dwActiveProcessorMask = system.dwActiveProcessorMask;
    info->dwNumberOfProcessors = system.dwNumberOfProcessors;
    info->dwProcessorType = system.dwProcessorType;
    info->dwAllocationGranularity = system.dwAllocationGranularity;
    info->wProcessorLevel = system.wProcessorLevel;
    info->wProcessorRevision = system.wProcessorRevision;
}

void* WinLoadLibrary(const WChar* name) { return LoadLibraryW(Wide(name)); }

void* WinGetProcAddress(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void WinFreeLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

// --- Heap and debugging ------------------------------------------------------------------

// No flags: the memory is not zeroed, and a failure is a null result.
void* WinHeapAlloc(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }
void WinHeapFree(void* block) { HeapFree(GetProcessHeap(), 0, block); }

bool WinIsDebuggerPresent() { return IsDebuggerPresent() != FALSE; }
void WinDebugBreak() { DebugBreak(); }

// --- The system formatter ------------------------------------------------------------------

// wsprintfW itself takes no argument list, so the variadic entry forwards to
// its va_list twin. The buffer must hold 1024 characters or the longest text
// the format can make.
int WinSystemFormat(WChar* buffer, const WChar* format, ...) {
    va_list args;
    va_start(args, format);
    int length = wvsprintfW(reinterpret_cast<wchar_t*>(buffer), Wide(format), args);
    va_end(args);
    return length;
}

// --- Environment -------------------------------------------------------------------------

// The result counts the terminator only when the value did not fit.
bool WinEnvironmentVariable(const WChar* name, WChar* value, uint32_t capacity) {
    DWORD length = GetEnvironmentVariableW(Wide(name), reinterpret_cast<wchar_t*>(value), capacity);
    return length != 0 && length < capacity;
}

// --- The table ---------------------------------------------------------------------------

// Every entry is set by name, so two entries of one type cannot change places
// unnoticed; the compiler makes the table before the program starts.
constexpr Platform WinPlatform() {
    Platform p{};
    p.commandLine = WinCommandLine;
    p.exitProcess = WinExitProcess;
    p.maxPath = MAX_PATH;
    p.openFile = WinOpenFile;
    p.fileSize = WinFileSize;
    p.readFile = WinReadFile;
    p.skipForward = WinSkipForward;
    p.closeFile = WinCloseFile;
    p.restrictProcess = WinRestrictProcess;
    p.lastError = WinLastError;
    p.setLastError = WinSetLastError;
    p.getStdHandles = WinGetStdHandles;
    p.isConsole = WinIsConsole;
    p.writeConsole = WinWriteConsole;
    p.writeFile = WinWriteFile;
    p.closeHandle = WinCloseHandle;
    // A pipe whose reader closed it: being closed, closed, or (as Wine
    // tells it) with no process at the other end.
    p.readerGoneErrors[0] = ERROR_NO_DATA;
    p.readerGoneErrors[1] = ERROR_BROKEN_PIPE;
    p.readerGoneErrors[2] = ERROR_PIPE_NOT_CONNECTED;
    p.systemMessage = WinSystemMessage;
    p.moduleHandle = WinModuleHandle;
    p.getVersion = WinGetVersion;
    p.minimumVersion = 0x0500;  // Windows 2000
    p.readSystemValue = WinReadSystemValue;
    p.counterFrequency = WinCounterFrequency;
    p.milliseconds = WinMilliseconds;
    p.getSystemInfo = WinGetSystemInfo;
    p.loadLibrary = WinLoadLibrary;
    p.getProcAddress = WinGetProcAddress;
    p.freeLibrary = WinFreeLibrary;
    p.heapAlloc = WinHeapAlloc;
    p.heapFree = WinHeapFree;
    p.isDebuggerPresent = WinIsDebuggerPresent;
    p.debugBreak = WinDebugBreak;
    p.systemFormat = WinSystemFormat;
    p.environmentVariable = WinEnvironmentVariable;
    // A Windows name is UTF-16 already: a lone half in it is no byte.
    p.toUtf8 = WideToUtf8;
    return p;
}

}  // namespace

Platform g_platform = WinPlatform();
