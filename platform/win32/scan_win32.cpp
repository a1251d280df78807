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

OsHandle WinOpenList(const WChar* name) {
    HANDLE list = CreateFileW(reinterpret_cast<const wchar_t*>(name), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    return list == INVALID_HANDLE_VALUE ? kNoHandle : reinterpret_cast<OsHandle>(list);
}

// A pipe whose writer has gone is the end of the list, not a failure.
bool WinReadList(OsHandle list, void* buffer, uint32_t count, uint32_t* got) {
    DWORD read = 0;
    BOOL ok = ReadFile(reinterpret_cast<HANDLE>(list), buffer, count, &read, nullptr);
    *got = read;
    return ok != FALSE || GetLastError() == ERROR_BROKEN_PIPE;
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
