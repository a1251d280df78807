// Start-up, memory hooks and shutdown.
//
// Start-up records what the system is and refuses one too old for the
// program; every heap block goes through MemAlloc/MemFree so the allocator
// can be replaced (tests make it fail); shutdown runs the registered
// callbacks, first to last.
#include "runtime/runtime.h"

#include "platform/platform.h"
#include "runtime/errortext.h"

namespace {

uint32_t DefaultErrorText(WChar* buffer, uint32_t capacity, uint32_t code) {
    return SystemErrorText(buffer, capacity, code, nullptr);
}

void* DefaultAllocate(size_t size, uint32_t) { return g_platform.heapAlloc(size); }

void DefaultFree(void* block, size_t) { g_platform.heapFree(block); }

ShutdownNode* TakeFirstNode(ShutdownList* list) {
    ShutdownNode* node = list->first;
    if (node == nullptr) return nullptr;
    if (node->previous != nullptr) node->previous->next = node->next;
    if (node->next != nullptr) node->next->previous = node->previous;
    if (list->first == node) list->first = node->next;
    if (list->last == node) list->last = node->previous;
    node->previous = nullptr;
    node->next = nullptr;
    --list->count;
    return node;
}

// The hooks are set by name: every other field starts as null.
constexpr MemoryHooks DefaultMemoryHooks() {
    MemoryHooks hooks{};
    hooks.errorText = DefaultErrorText;
    hooks.moduleErrorText = SystemErrorText;
    hooks.allocate = DefaultAllocate;
    hooks.free = DefaultFree;
    return hooks;
}

}  // namespace

MemoryHooks g_memoryHooks = DefaultMemoryHooks();

void* LoadProcFromLibrary(const WChar* library, const char* name) {
    void* module = g_platform.loadLibrary(library);
    if (module == nullptr) return nullptr;
    void* proc = g_platform.getProcAddress(module, name);
    if (proc == nullptr) g_platform.freeLibrary(module);
    return proc;
}

bool RuntimeStartup() {
    RuntimeState& rt = g_runtime;
    if (rt.started) return true;

    // The size field names the record actually passed, so the system never
    // writes past it.
    rt.versionInfo.dwOSVersionInfoSize = sizeof(OsVersionInfo);
    if (!g_platform.getVersion(&rt.versionInfo)) return false;

    g_platform.readSystemValue(u"UBR", &rt.updateBuildRevision, sizeof rt.updateBuildRevision);
    g_platform.readSystemValue(u"ReleaseId", rt.releaseId, sizeof rt.releaseId);

    rt.windowsVersion = (rt.versionInfo.dwMajorVersion & 0xFF) << 8 | (rt.versionInfo.dwMinorVersion & 0xFF);
    rt.buildNumber = rt.versionInfo.dwBuildNumber;
    if (rt.windowsVersion < g_platform.minimumVersion) return false;

    rt.perfFrequency = g_platform.counterFrequency();
    if (rt.perfFrequency == 0) return false;
    rt.ticksPerMillisecond = static_cast<uint32_t>((rt.perfFrequency + 500) / 1000);
    rt.ticksPerMicrosecond = (rt.ticksPerMillisecond + 500) / 1000;

    g_platform.getSystemInfo(&rt.systemInfo);

    rt.ZwQuerySystemInformation = LoadProcFromLibrary(u"ntdll", "ZwQuerySystemInformation");
    rt.RtlNtStatusToDosError = LoadProcFromLibrary(u"ntdll", "RtlNtStatusToDosError");
    rt.GetCurrentProcessorNumber = LoadProcFromLibrary(u"kernel32", "GetCurrentProcessorNumber");
    rt.GetLogicalProcessorInformation = LoadProcFromLibrary(u"kernel32", "GetLogicalProcessorInformation");

    ShutdownList* list = static_cast<ShutdownList*>(MemAlloc(sizeof(ShutdownList)));
    rt.shutdownList = list;
    if (list == nullptr) return false;
    list->first = nullptr;
    list->last = nullptr;
    list->count = 0;
    rt.started = true;
    return true;
}

void RuntimeShutdown() {
    if (g_runtime.shutdownList == nullptr) return;
    while (g_runtime.shutdownList->count != 0) {
        ShutdownNode* node = TakeFirstNode(g_runtime.shutdownList);
        if (node == nullptr) break;
        node->callback();
        MemFree(node, sizeof(ShutdownNode));
    }
    MemFree(g_runtime.shutdownList, sizeof(ShutdownList));
    g_runtime.shutdownList = nullptr;
}

void* MemAlloc(size_t size) {
    for (;;) {
        void* block = g_memoryHooks.allocate(size, 0);
        if (block != nullptr) return block;
        if (g_runtime.outOfMemoryHandler == nullptr || g_runtime.outOfMemoryHandler(size) == 0) return nullptr;
    }
}

void MemFree(void* block, size_t size) {
    if (block != nullptr) g_memoryHooks.free(block, size);
}

const WChar* LastErrorText(WChar (&buffer)[256]) {
    g_memoryHooks.errorText(buffer, 256, g_platform.lastError());
    return buffer;
}
