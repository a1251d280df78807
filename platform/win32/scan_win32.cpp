// The Windows backend of sondrel-scan's seam: one process opens and parses.
//
// Windows gives one process no way to give up opening files while keeping
// them coming from another, short of a second, low-integrity process and a
// broker, so the run takes what a sondrel run takes: the mitigation
// policies (no code made at run time, no images from remote places or with a
// low integrity label, no child process), set once before the first file is
// read. A policy the system has but refuses means no file is checked.
#include <windows.h>

#include "platform/scan.h"

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

// The time limit and --isolate need a process that can be ended and made
// anew, which the checks here do not have: the limits are not kept.
bool WinCheckAll(ScanCheck check, uint32_t flags, const ScanLimits*, const ScanCallbacks* callbacks) {
    if (!g_platform.restrictProcess(kNoHandle)) return false;
    for (const WChar* name; (name = callbacks->nextName()) != nullptr;) {
        ScanFile file = ScanOpen(name);
        callbacks->recordEnd(check(name, flags, &file, callbacks->recordLines));
    }
    return true;
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
    return p;
}

}  // namespace

ScanPlatform g_scanPlatform = WinScanPlatform();
