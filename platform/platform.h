// The one seam between sondrel and the operating system.
//
// Every system service the program uses is an entry of `Platform`, a plain
// table of function pointers. Each backend (posix/, win32/) fills one instance
// at static initialisation; `g_platform` is the table the program calls
// through. Tests swap single entries to make a read fail, an allocation fail
// or the system report an old version, and then check the exact message and
// exit code.
//
// The types it speaks in (WChar, OsHandle, the start-up records) are in
// platform/types.h, which code that never calls the system includes instead.
#ifndef SONDREL_PLATFORM_PLATFORM_H
#define SONDREL_PLATFORM_PLATFORM_H

#include <stddef.h>
#include <stdint.h>

#include "platform/types.h"

// Takes one argument of count UTF-16 units onto the command line.
using ArgumentJoiner = void (*)(const WChar* argument, size_t count);

struct Platform {
    // --- Process -------------------------------------------------------------
    // The whole command line as one UTF-16 string in the Windows quoting,
    // program name first, where the system keeps one (Windows). Where it
    // keeps only argv (POSIX), each argument after the program name goes to
    // join in UTF-16, in order, and the result is null: the program quotes
    // and joins them itself.
    const WChar* (*commandLine)(int argc, char** argv, ArgumentJoiner join);
    void (*exitProcess)(uint32_t code);  // does not return
    // The longest path the system takes, in characters with the terminator.
    // A longer file name is refused rather than cut to a different name.
    uint32_t maxPath;

    // --- The input file ------------------------------------------------------
    // Opens an existing file for reading; kNoHandle on failure.
    OsHandle (*openFile)(const WChar* name);
    // The size in bytes. Fails (false) with the platform's "file too large"
    // error for files of 0xFFFFFFFF bytes or more.
    bool (*fileSize)(OsHandle file, uint32_t* size);
    // Reads up to count bytes at the current position; *got receives how many
    // arrived. False on a failed read.
    bool (*readFile)(OsHandle file, void* buffer, uint32_t count, uint32_t* got);
    // Moves the current position forward by count bytes.
    bool (*skipForward)(OsHandle file, uint64_t count);
    void (*closeFile)(OsHandle file);
    // Gives up what the rest of the run does not need, once the file is open
    // and before its first byte is read: from then on the process can read
    // and skip in the file, write to the standard streams, use the memory it
    // asks for, close and exit, and little else, so a file made to subvert
    // the program can at worst change what it prints. Where the system
    // cannot (an old kernel, an emulator) the run goes on as before. False,
    // with the system's error, only when a system that can refused.
    bool (*restrictProcess)(OsHandle file);

    // --- Last error ----------------------------------------------------------
    uint32_t (*lastError)();
    void (*setLastError)(uint32_t code);

    // --- Standard streams and console ----------------------------------------
    // Fills the locations that are not null with the standard input, output
    // and error handles; a stream the process lacks becomes kNoHandle. False
    // when the streams cannot be had at all.
    bool (*getStdHandles)(OsHandle* input, OsHandle* output, OsHandle* error);
    bool (*isConsole)(OsHandle handle);
    bool (*writeConsole)(OsHandle handle, const WChar* text, uint32_t count);
    bool (*writeFile)(OsHandle handle, const void* bytes, uint32_t count);
    void (*closeHandle)(OsHandle handle);
    // The last errors of a write whose reader has gone away (a pipe whose
    // read end was closed): that ends a stream's output, but loses nothing
    // the reader wanted.
    uint32_t readerGoneErrors[3];

    // --- Error texts ---------------------------------------------------------
    // The system's description of a message id, searched in module's message
    // table when module is not null, else in the system's. Writes at most
    // capacity - 1 code units plus a terminator and returns the length, or 0
    // when there is no text or it does not fit.
    uint32_t (*systemMessage)(WChar* buffer, uint32_t capacity, uint32_t messageId, void* module);
    // A module already loaded in the process, or null.
    void* (*moduleHandle)(const WChar* name);

    // --- Start-up facts ------------------------------------------------------
    bool (*getVersion)(OsVersionInfo* info);
    // The oldest version (major << 8 | minor) the program runs on.
    uint32_t minimumVersion;
    // Reads a value of the system's current-version settings ("UBR",
    // "ReleaseId") into data, at most size bytes; false when it is missing.
    bool (*readSystemValue)(const WChar* name, void* data, uint32_t size);
    // Counts per second of the high-resolution counter; 0 when there is none.
    uint64_t (*counterFrequency)();
    // Milliseconds from a fixed moment, never going back (not the time of
    // day): what paces a status line.
    uint64_t (*milliseconds)();
    void (*getSystemInfo)(OsSystemInfo* info);
    void* (*loadLibrary)(const WChar* name);
    void* (*getProcAddress)(void* library, const char* name);
    void (*freeLibrary)(void* library);

    // --- Heap ----------------------------------------------------------------
    void* (*heapAlloc)(size_t size);
    void (*heapFree)(void* block);

    // --- Debugging -----------------------------------------------------------
    bool (*isDebuggerPresent)();
    void (*debugBreak)();

    // --- System formatter ----------------------------------------------------
    // Windows builds the chunk identifier text and the "Found chunk" line with
    // wsprintfW; elsewhere this is null and the program's own formatter makes
    // the same text.
    int (*systemFormat)(WChar* buffer, const WChar* format, ...);

    // --- Environment ---------------------------------------------------------
    // The value of an environment variable as a terminated string of at most
    // capacity units, terminator included. False when it is not set, is
    // empty, or does not fit.
    bool (*environmentVariable)(const WChar* name, WChar* value, uint32_t capacity);

    // --- Text in UTF-8 -------------------------------------------------------
    // Writes count units as UTF-8, the way the system spells its names, and
    // returns the number of bytes (3 a unit is always enough). A lone
    // surrogate half becomes U+FFFD, except where the backend made such
    // halves of a name's bytes (POSIX: U+DC80..U+DCFF is a byte given back).
    uint32_t (*toUtf8)(const WChar* text, uint32_t count, uint8_t* out);
    // Whether the backend carries a name's bytes that are not UTF-8 as lone
    // U+DC80..U+DCFF (POSIX); a Windows name is UTF-16 already.
    bool namesHoldBytes;
};

// The table the program calls through. Tests may change entries and must put
// them back.
extern Platform g_platform;

#endif
