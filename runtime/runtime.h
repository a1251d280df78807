// The support runtime's global state and lifecycle: start-up, the memory
// hooks every heap request goes through, and the shutdown list.
#ifndef SONDREL_RUNTIME_RUNTIME_H
#define SONDREL_RUNTIME_RUNTIME_H

#include <stddef.h>
#include <stdint.h>

#include "platform/platform.h"

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
    uint32_t updateBuildRevision;
    OsHandle outputHandle;
    OsHandle errorHandle;
    OutOfMemoryHandler outOfMemoryHandler;
    ShutdownList* shutdownList;
    ErrorTextProvider errorTextProvider;
    ErrorTextProvider fallbackErrorTextProviders[5];
    uint64_t perfFrequency;
    uint32_t ticksPerMillisecond;
    uint32_t ticksPerMicrosecond;
    OsVersionInfo versionInfo;
    bool started;
    OsSystemInfo systemInfo;
    uint32_t windowsVersion;
    uint32_t buildNumber;
    WChar releaseId[50];
    void* ZwQuerySystemInformation;
    void* GetCurrentProcessorNumber;
    void* RtlNtStatusToDosError;
    void* GetLogicalProcessorInformation;
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

// The replaceable functions behind error texts and the heap.
struct MemoryHooks {
    uint32_t (*errorText)(WChar* buffer, uint32_t capacity, uint32_t code);
    uint32_t (*moduleErrorText)(WChar* buffer, uint32_t capacity, uint32_t code, void* module);
    void* (*allocate)(size_t size, uint32_t unused);
    void (*free)(void* block, size_t size);
};

extern MemoryHooks g_memoryHooks;

bool RuntimeStartup();
void RuntimeShutdown();
void* MemAlloc(size_t size);
void MemFree(void* block, size_t size);
void* LoadProcFromLibrary(const WChar* library, const char* name);

#endif
