// The support runtime's one global record, RuntimeState.
//
// Besides the two standard handles and the start-up flag it keeps what the
// runtime's design asks for though this program never reads it: the facts
// that start-up gathers, the places where a program may plug in its own
// error texts and out-of-memory handler, and the shutdown list. Each such
// field says so in one line below; tests pin what start-up writes there.
#ifndef SONDREL_RUNTIME_STATE_H
#define SONDREL_RUNTIME_STATE_H

#include <stddef.h>
#include <stdint.h>

#include "platform/types.h"

// Writes a terminated description of an error code at position and returns
// its length, or 0 when it has none.
using ErrorTextProvider = uint32_t (*)(WChar* position, uint32_t capacity, uint32_t code);
// Asked when an allocation fails; non-zero means "try again".
using OutOfMemoryHandler = uint32_t (*)(size_t size);

struct ShutdownNode {
    ShutdownNode* previous;
    ShutdownNode* next;
    void (*callback)();
};

struct ShutdownList {
    ShutdownNode* first;
    ShutdownNode* last;
    uint32_t count;
};

struct RuntimeState {
    uint32_t updateBuildRevision;  // a start-up fact; never read here
    OsHandle outputHandle;
    OsHandle errorHandle;
    OutOfMemoryHandler outOfMemoryHandler;  // a hook MemAlloc asks; this program installs none
    ShutdownList* shutdownList;             // made at start-up and run at shutdown; nothing registers into it
    ErrorTextProvider errorTextProvider;    // a hook asked before the system's texts; none installed
    ErrorTextProvider fallbackErrorTextProviders[5];  // hooks asked after them; none installed
    uint64_t perfFrequency;        // a start-up fact, read only by start-up's own check
    uint32_t ticksPerMillisecond;  // a start-up fact; never read here
    uint32_t ticksPerMicrosecond;  // a start-up fact; never read here
    OsVersionInfo versionInfo;     // a start-up fact, read only to make windowsVersion and buildNumber
    bool started;
    OsSystemInfo systemInfo;  // a start-up fact; never read here
    uint32_t windowsVersion;  // a start-up fact, read only by start-up's own check
    uint32_t buildNumber;     // a start-up fact; never read here
    WChar releaseId[50];      // a start-up fact; never read here
    void* ZwQuerySystemInformation;        // a start-up fact; never called here
    void* GetCurrentProcessorNumber;       // a start-up fact; never called here
    void* RtlNtStatusToDosError;           // a start-up fact; never called here
    void* GetLogicalProcessorInformation;  // a start-up fact; never called here
};

// The state before start-up, set by name: every other field starts as zero,
// null or "no handle".
constexpr RuntimeState InitialRuntimeState() {
    RuntimeState state{};
    state.updateBuildRevision = 0xFFFFFFFFu;  // none read yet
    state.outputHandle = kNoHandle;
    state.errorHandle = kNoHandle;
    return state;
}

extern RuntimeState g_runtime;

#endif
