// Shared helpers of the tests.
#include "tests/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "inspector/toolmain.h"
#include "runtime/runtime.h"

// --- WAV builder -------------------------------------------------------------

std::string Le16(uint32_t v) { return std::string{char(v & 0xFF), char(v >> 8 & 0xFF)}; }

std::string Le32(uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }

std::string Chunk(const std::string& id, const std::string& body, int64_t size) {
    return id + Le32(size < 0 ? uint32_t(body.size()) : uint32_t(size)) + body;
}

std::string PaddedChunk(const std::string& id, const std::string& body) {
    return Chunk(id, body) + (body.size() % 2 ? std::string(1, '\0') : std::string());
}

std::string Riff(const std::string& chunks, int64_t riffSize) {
    return "RIFF" + Le32(riffSize < 0 ? uint32_t(chunks.size() + 4) : uint32_t(riffSize)) + "WAVE" + chunks;
}

std::string Format16(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t byteRate, uint16_t blockAlign,
                     uint16_t bits) {
    return Le16(tag) + Le16(channels) + Le32(rate) + Le32(byteRate) + Le16(blockAlign) + Le16(bits);
}

std::string Format16(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    uint16_t align = uint16_t(channels * (bits / 8));
    return Format16(tag, channels, rate, rate * align, align, bits);
}

std::string SubFormat(uint16_t tag) {
    return Le16(tag) + std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
}

std::string Extensible(uint16_t channels, uint32_t rate, uint16_t containerBits, uint16_t validBits, uint32_t mask,
                       uint16_t subFormatTag) {
    return Format16(0xFFFE, channels, rate, containerBits) + Le16(22) + Le16(validBits) + Le32(mask) +
           SubFormat(subFormatTag);
}

std::string SimpleWave(const std::string& descriptor, uint32_t dataSize) {
    return Riff(Chunk("fmt ", descriptor) + Chunk("data", std::string(dataSize, '\x01')));
}

// --- Text ----------------------------------------------------------------------

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

// A lone surrogate becomes three bytes of its own, not valid UTF-8, so a
// stray unit shows in a comparison.
std::string ToUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >> 10 == 0x36 && i + 1 < text.size() && text[i + 1] >> 10 == 0x37) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        static const uint8_t kLead[] = {0, 0xC0, 0xE0, 0xF0};
        int extra = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
        out += char(kLead[extra] | cp >> 6 * extra);
        while (extra-- > 0) out += char(0x80 | (cp >> 6 * extra & 0x3F));
    }
    return out;
}

std::string Utf16LeToUtf8(const std::string& bytes) {
    std::u16string units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) units += char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8);
    return ToUtf8(units) + (bytes.size() % 2 ? "<odd byte>" : "");
}

// --- Files and the built program -----------------------------------------------

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// One folder per test process, so tests that run in parallel never share
// files; it goes when the process ends.
std::string ScratchDir() {
    static const std::string dir = [] {
        std::string path = std::string(SONDREL_BINARY) + ".scratch." + std::to_string(std::random_device{}());
        std::system(("mkdir -p " + ShellQuote(path)).c_str());
        static std::string* removeAtExit = new std::string("rm -rf " + ShellQuote(path));
        std::atexit([] { std::system(removeAtExit->c_str()); });
        return path;
    }();
    return dir;
}

ScopedFile::ScopedFile(const std::string& name, const std::string& contents) : path_(ScratchDir() + "/" + name) {
    std::ofstream(path_, std::ios::binary) << contents;
}

ScopedFile::~ScopedFile() { std::remove(path_.c_str()); }

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

RunResult RunSondrelRaw(const std::string& environment, const std::string& shellArguments) {
    std::string dir = ScratchDir();
    std::string command = "cd " + ShellQuote(dir) + " && env -u SONDREL_ENCODING " + environment + " " +
                          ShellQuote(SONDREL_BINARY) + " >run.out 2>run.err " + shellArguments + "; echo $? >run.code";
    std::system(command.c_str());
    return {ReadWhole(dir + "/run.out"), ReadWhole(dir + "/run.err"), std::atoi(ReadWhole(dir + "/run.code").c_str())};
}

RunResult RunSondrel(const std::string& shellArguments) {
    RunResult result = RunSondrelRaw("", shellArguments);
    result.out = Utf16LeToUtf8(result.out);
    result.err = Utf16LeToUtf8(result.err);
    return result;
}

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
    g_fakeFile = {&it->second, 0};
    g_readCount = 0;
    ++g_fake->openFiles;
    return reinterpret_cast<OsHandle>(&g_fakeFile);
}

bool FakeSize(OsHandle, uint32_t* size) {
    *size = uint32_t(g_fakeFile.bytes->size());
    return true;
}

bool FakeRead(OsHandle, void* buffer, uint32_t count, uint32_t* got) {
    int index = g_readCount++;
    if (g_fake->readsLeft == 0) {
        g_fakeError = 5;
        return false;
    }
    if (g_fake->readsLeft > 0) --g_fake->readsLeft;
    uint64_t size = g_fakeFile.bytes->size();
    uint64_t available = g_fakeFile.position < size ? size - g_fakeFile.position : 0;
    uint32_t n = count < available ? count : uint32_t(available);
    if (index == g_fake->shortReadAt && n > 0) --n;
    for (uint32_t i = 0; i < n; ++i) static_cast<char*>(buffer)[i] = (*g_fakeFile.bytes)[g_fakeFile.position + i];
    g_fakeFile.position += n;
    *got = n;
    // One short read, then the file seems to end there.
    if (index == g_fake->shortReadAt) g_fakeFile.position = size;
    return true;
}

bool FakeSkip(OsHandle, uint64_t count) {
    if (g_fake->failSkip) {
        g_fakeError = 29;
        return false;
    }
    g_fakeFile.position += count;
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
    g_platform.restrictProcess = [](OsHandle) {};  // never the test's own process
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
