// Fuzzes the POSIX backend's file and stream I/O. The input becomes a real
// file, stretched past its bytes with 0xFF as far as the input declares (as
// fuzz_walk stretches its fake file: a header there ends the walk), and the
// program runs on it through the backend's own open, size, read, skip and
// close, writing its lines through the backend's write loop into real files.
// What it prints and its exit code must be exactly those of the same run
// over the in-memory fake file: the backend adds nothing and loses nothing.
//
// The input: options and how lines are written (UTF-16LE, UTF-8 for the
// usual tools, or as to a terminal), a stretch (KiB of 0xFF after the
// bytes), then the file. The sandbox is left out: it would hold the
// fuzzer's own process.
#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "tests/test_support.h"

namespace {

// The backend's table as the process started with it.
const Platform g_real = g_platform;

struct Scratch {
    std::string wave, out, err;
};

const Scratch& ScratchFiles() {
    static Scratch scratch = [] {
        char folder[] = "/tmp/sondrel-fuzz-XXXXXX";
        if (mkdtemp(folder) == nullptr) __builtin_trap();
        std::string base = folder;
        return Scratch{base + "/f.wav", base + "/out", base + "/err"};
    }();
    return scratch;
}

int g_out = -1, g_err = -1;

bool ScratchStreams(OsHandle* input, OsHandle* output, OsHandle* error) {
    if (input != nullptr) *input = kNoHandle;
    *output = g_out + 1;
    *error = g_err + 1;
    return true;
}

bool g_utf8, g_console;

bool AskedForUtf8(const WChar*, WChar* value, uint32_t) {
    std::char_traits<char16_t>::copy(value, u"utf8", 5);  // the program gives room for 8
    return g_utf8;
}

bool ATerminal(OsHandle handle) { return g_console && handle != kNoHandle; }

// What the fake's lines (UTF-8 with CR LF) look like as written: to a
// terminal as they are, to a UTF-8 stream with LF alone.
std::string AsWritten(std::string lines) {
    for (size_t at = 0; !g_console && g_utf8 && (at = lines.find("\r\n", at)) != std::string::npos;) lines.erase(at, 1);
    return lines;
}

void WriteWhole(const std::string& path, const std::string& bytes) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) __builtin_trap();
    close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kHead = 2;
    if (size < kHead) return 0;
    const Scratch& scratch = ScratchFiles();
    const std::string bytes =
        std::string(reinterpret_cast<const char*>(data + kHead), size - kHead) + std::string(data[1] * 1024u, '\xFF');
    WriteWhole(scratch.wave, bytes);

    std::u16string arguments;
    if (data[0] & 1) arguments += u"-v ";
    if (data[0] & 2) arguments += u"-o ";
    if (data[0] & 4) arguments += u"-f ";
    g_utf8 = (data[0] & 8) != 0;
    g_console = (data[0] & 16) != 0;
    const std::u16string name(scratch.wave.begin(), scratch.wave.end());
    arguments += name;

    std::string fakeOut, fakeErr;
    uint32_t fakeCode;
    {
        FakePlatform fake;
        fake.files[name] = bytes;
        fakeCode = fake.Run(arguments);
        fakeOut = fake.out;
        fakeErr = fake.err;
        if (fake.liveBlocks != 0 || fake.openFiles != 0) __builtin_trap();
    }

    g_out = open(scratch.out.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    g_err = open(scratch.err.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (g_out < 0 || g_err < 0) __builtin_trap();
    uint32_t code;
    {
        FakePlatform fake;
        g_platform.openFile = g_real.openFile;
        g_platform.fileSize = g_real.fileSize;
        g_platform.readFile = g_real.readFile;
        g_platform.skipForward = g_real.skipForward;
        g_platform.closeFile = g_real.closeFile;
        g_platform.lastError = g_real.lastError;
        g_platform.setLastError = g_real.setLastError;
        g_platform.getStdHandles = ScratchStreams;
        g_platform.isConsole = ATerminal;
        g_platform.writeConsole = g_real.writeConsole;
        g_platform.writeFile = g_real.writeFile;
        g_platform.environmentVariable = AskedForUtf8;
        g_platform.closeHandle = g_real.closeHandle;  // closes g_out and g_err
        code = fake.Run(arguments);
        if (fake.liveBlocks != 0) __builtin_trap();
    }
    const bool utf16 = !g_console && !g_utf8;
    const std::string out = utf16 ? Utf16LeToUtf8(ReadWhole(scratch.out)) : ReadWhole(scratch.out);
    const std::string err = utf16 ? Utf16LeToUtf8(ReadWhole(scratch.err)) : ReadWhole(scratch.err);
    if (code != fakeCode || out != AsWritten(fakeOut) || err != AsWritten(fakeErr)) __builtin_trap();
    return 0;
}
