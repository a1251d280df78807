// Shared helpers of the tests.
#include "tests/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "inspector/toolmain.h"
#include "platform/platform.h"
#include "runtime/runtime.h"

std::string EncodedBy(uint32_t (*encode)(const WChar*, uint32_t, uint8_t*), const std::u16string& units) {
    std::vector<uint8_t> bytes(units.size() * 3 + 1);
    uint32_t n = encode(units.data(), uint32_t(units.size()), bytes.data());
    return std::string(bytes.begin(), bytes.begin() + n);
}

// --- Files and the built program -----------------------------------------------

// One folder per test process, so tests that run in parallel never share
// files; it goes when the process ends.
std::string ScratchDir() {
    static const std::string dir = [] {
        std::string path = std::string(SONDREL_BINARY) + ".scratch." + std::to_string(std::random_device{}());
        std::filesystem::create_directories(path);
        static std::string* removeAtExit = new std::string(path);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(*removeAtExit, ignored);
        });
        return path;
    }();
    return dir;
}

ScopedFile::ScopedFile(const std::string& name, const std::string& contents) : path_(ScratchDir() + "/" + name) {
    std::ofstream(path_, std::ios::binary) << contents;
}

ScopedFile::~ScopedFile() { std::remove(path_.c_str()); }

void PrintTo(const RunResult& run, std::ostream* os) {
    *os << "{out \"" << run.out << "\", err \"" << run.err << "\", code " << run.code << "}";
}

// --- Fake platform ---------------------------------------------------------------

namespace {

FakePlatform* g_fake = nullptr;
MemoryHooks g_savedHooks;

struct FakeFile {
    const std::string* bytes;
    uint64_t position;
    uint64_t taken;  // what the program read and skipped: after a short read, less than position
};
FakeFile g_fakeFile;
int g_readCount = 0;
uint32_t g_fakeError = 0;

constexpr OsHandle kFakeOut = 1, kFakeErr = 2;

OsHandle FakeOpen(const WChar* name) {
    auto it = g_fake->files.find(name);
    if (it == g_fake->files.end()) {
        g_fakeError = 2;
        return kNoHandle;
    }
    g_fakeFile = {&it->second, 0, 0};
    g_readCount = 0;
    ++g_fake->openFiles;
    return reinterpret_cast<OsHandle>(&g_fakeFile);
}

uint64_t FakeFileSize() { return g_fakeFile.bytes->size() + g_fake->stretch; }

bool FakeSize(OsHandle, uint32_t* size) {
    if (g_fake->failSize) {
        g_fakeError = 27;
        return false;
    }
    *size = uint32_t(FakeFileSize());
    return true;
}

bool FakeRead(OsHandle, void* buffer, uint32_t count, uint32_t* got) {
    int index = g_readCount++;
    if (g_fake->readsLeft == 0) {
        g_fakeError = 5;
        return false;
    }
    if (g_fake->readsLeft > 0) --g_fake->readsLeft;
    if (index == g_fake->interruptAt && count > 1) count /= 2;
    uint64_t size = FakeFileSize();
    uint64_t available = g_fakeFile.position < size ? size - g_fakeFile.position : 0;
    uint32_t n = count < available ? count : uint32_t(available);
    if (index == g_fake->shortReadAt && n > 0) --n;
    const std::string& bytes = *g_fakeFile.bytes;
    for (uint32_t i = 0; i < n; ++i) {
        uint64_t at = g_fakeFile.position + i;
        static_cast<char*>(buffer)[i] = at < bytes.size() ? bytes[at] : '\xFF';
    }
    g_fakeFile.position += n;
    g_fakeFile.taken += n;
    *got = n;
    // One short read, then the file seems to end there.
    if (index == g_fake->shortReadAt) g_fakeFile.position = size;
    return true;
}

bool FakeSkip(OsHandle, uint64_t count) {
    if (g_fake->skipsLeft == 0) {
        g_fakeError = 29;
        return false;
    }
    if (g_fake->skipsLeft > 0) --g_fake->skipsLeft;
    g_fakeFile.position += count;
    g_fakeFile.taken += count;
    g_fake->pastEnd |= g_fakeFile.taken > FakeFileSize();
    return true;
}

void FakeClose(OsHandle) { --g_fake->openFiles; }

uint32_t FakeLastError() { return g_fakeError; }
void FakeSetLastError(uint32_t code) { g_fakeError = code; }

bool FakeStdHandles(OsHandle* in, OsHandle* out, OsHandle* err) {
    *in = kNoHandle;
    *out = kFakeOut;
    *err = kFakeErr;
    return true;
}

bool FakeIsConsole(OsHandle) { return false; }

bool FakeWrite(OsHandle handle, const void* bytes, uint32_t count) {
    std::string text = Utf16LeToUtf8(std::string(static_cast<const char*>(bytes), count));
    if (handle == kFakeOut) g_fake->out += text;
    if (handle == kFakeErr) g_fake->err += text;
    return handle == kFakeOut || handle == kFakeErr;
}

void FakeCloseHandle(OsHandle) {}

// The runs inside the test process write UTF-16LE whatever the tester's
// environment holds.
bool FakeEnvironmentVariable(const WChar*, WChar*, uint32_t) { return false; }

void* CountingAllocate(size_t size, uint32_t) {
    if (g_fake->allocationsLeft == 0) return nullptr;
    if (g_fake->allocationsLeft > 0) --g_fake->allocationsLeft;
    ++g_fake->liveBlocks;
    return std::malloc(size);
}

void CountingFree(void* block, size_t) {
    --g_fake->liveBlocks;
    std::free(block);
}

// The runtime's state as before a start-up, so one can run again.
void ResetRuntime() { g_runtime = InitialRuntimeState(); }

}  // namespace

FakePlatform::FakePlatform() : saved_(g_platform) {
    g_fake = this;
    g_savedHooks = g_memoryHooks;
    g_platform.openFile = FakeOpen;
    g_platform.fileSize = FakeSize;
    g_platform.readFile = FakeRead;
    g_platform.skipForward = FakeSkip;
    g_platform.closeFile = FakeClose;
    g_platform.restrictProcess = [](OsHandle) { return true; };  // never the test's own process
    g_platform.lastError = FakeLastError;
    g_platform.setLastError = FakeSetLastError;
    g_platform.getStdHandles = FakeStdHandles;
    g_platform.isConsole = FakeIsConsole;
    g_platform.writeFile = FakeWrite;
    g_platform.closeHandle = FakeCloseHandle;
    g_platform.environmentVariable = FakeEnvironmentVariable;
    g_memoryHooks.allocate = CountingAllocate;
    g_memoryHooks.free = CountingFree;
    ResetRuntime();
}

FakePlatform::~FakePlatform() {
    g_platform = saved_;
    g_memoryHooks = g_savedHooks;
    ResetRuntime();
    g_fake = nullptr;
}

uint32_t FakePlatform::Run(const std::u16string& arguments) {
    ResetRuntime();
    out.clear();
    err.clear();
    return ToolMain(arguments.c_str());
}
