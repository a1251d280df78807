// The support runtime's lifecycle: start-up, the memory hooks every heap
// request goes through, and the shutdown list. Its global record is in
// runtime/state.h.
#ifndef SONDREL_RUNTIME_RUNTIME_H
#define SONDREL_RUNTIME_RUNTIME_H

#include <stddef.h>
#include <stdint.h>

#include "platform/types.h"
#include "runtime/state.h"

// The replaceable functions behind error texts and the heap.
struct MemoryHooks {
    uint32_t (*errorText)(WChar* buffer, uint32_t capacity, uint32_t code);
    // The same with a module's own message table; nothing here calls it.
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

// The text of the system's last error, as the error-text hook gives it.
const WChar* LastErrorText(WChar (&buffer)[256]);

#endif
