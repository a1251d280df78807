// The types that every floor speaks in: the program's character, a handle,
// and the records in which the system's start-up facts are kept.
//
// Apart from the platform seam (platform/platform.h), so that a header that
// only names these types does not pull in the table of the operating system.
#ifndef SONDREL_PLATFORM_TYPES_H
#define SONDREL_PLATFORM_TYPES_H

#include <stdint.h>

// One UTF-16 code unit. All of the program's text is made of these.
using WChar = char16_t;

// An open stream or file. 0 means "no handle" on every backend.
using OsHandle = intptr_t;
constexpr OsHandle kNoHandle = 0;

// A file opened for the walk, with its size as the open found it (the walk
// asks for nothing of the system but reads and skips).
struct OpenedFile {
    OsHandle handle;  // kNoHandle when the open failed
    uint32_t openError;
    uint32_t size;
    uint32_t sizeError;  // 0, or why the size cannot be had (4 GiB and more)
};

// What the system tells about its version (the fields of OSVERSIONINFOEXW that
// Windows fills; the POSIX backend fills the first five from uname()).
struct OsVersionInfo {
    uint32_t dwOSVersionInfoSize;
    uint32_t dwMajorVersion;
    uint32_t dwMinorVersion;
    uint32_t dwBuildNumber;
    uint32_t dwPlatformId;
    WChar szCSDVersion[128];
    uint16_t wServicePackMajor;
    uint16_t wServicePackMinor;
    uint16_t wSuiteMask;
    uint8_t wProductType;
    uint8_t wReserved;
};

// The facts of SYSTEM_INFO the program records.
struct OsSystemInfo {
    uint16_t wProcessorArchitecture;
    uint32_t dwPageSize;
    uintptr_t lpMinimumApplicationAddress;
    uintptr_t lpMaximumApplicationAddress;
    uintptr_t dwActiveProcessorMask;
    uint32_t dwNumberOfProcessors;
    uint32_t dwProcessorType;
    uint32_t dwAllocationGranularity;
    uint16_t wProcessorLevel;
    uint16_t wProcessorRevision;
};

#endif
