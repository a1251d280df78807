// Benchmarks of the parts a run spends its time in once the process is up:
// formatting report lines, and walking files of many chunks. Files live in
// memory and are served through the tests' fake platform; writes are
// dropped, so what is measured is the formatter and the walk, not a pipe.
//
// Sections: the formatter; the walk.
#include <stdint.h>
#include <sys/resource.h>

#include <map>
#include <string>

#include <benchmark/benchmark.h>

#include "platform/platform.h"
#include "runtime/format.h"
#include "tests/test_support.h"

namespace {

// --- The formatter -------------------------------------------------------------

// The lines a verbose run prints most: one "Found chunk" per chunk and one
// warning per chunk the program does not know, each with four numbers.
void BM_FormatFoundChunk(benchmark::State& state) {
    WChar line[160];
    uint32_t offset = 12, size = 16;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            FormatText(line, 160, u"Found chunk \"%s\" at %u / %#x, size %u / %#x", u"LIST", offset, offset, size, size));
        benchmark::ClobberMemory();
        offset += 24;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("lines");
}
BENCHMARK(BM_FormatFoundChunk);

void BM_FormatUnknownChunk(benchmark::State& state) {
    WChar line[1024];
    uint32_t offset = 12, size = 16;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FormatText(line, 1022, u"*** Unknown chunk \"%s\" at %u / %#x, size %u / %#x",
                                            u"junk", offset, offset, size, size));
        benchmark::ClobberMemory();
        offset += 24;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("lines");
}
BENCHMARK(BM_FormatUnknownChunk);

// The chunk identifier text, made once per chunk before the lines above.
void BM_FormatChunkId(benchmark::State& state) {
    WChar text[9];
    const char id[5] = "fmt ";
    for (auto _ : state) {
        benchmark::DoNotOptimize(FormatText(text, 9, u"%.4S", id));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("lines");
}
BENCHMARK(BM_FormatChunkId);

// The sixteen lines of `-v -o -f` on a typical file, in order.
void BM_FormatTypicalReport(benchmark::State& state) {
    WChar line[1024];
    for (auto _ : state) {
        uint32_t n = 0;
        n += FormatText(line, 1022, u"File: %s", u"examples/tone.wav");
        n += FormatText(line, 1022, u"File size: %u / %#x", 1808u, 1808u);
        n += FormatText(line, 1022, u"RIFF chink size: %u / %#x", 1800u, 1800u);
        n += FormatText(line, 1022, u"Found chunk \"%s\" at %u / %#x, size %u / %#x", u"fmt ", 12u, 12u, 16u, 16u);
        n += FormatText(line, 1022, u"Format descriptor offset: %u / %#x", 20u, 20u);
        n += FormatText(line, 1022, u"Format descriptor size: %u / %#x", 16u, 16u);
        n += FormatText(line, 1022, u"Format: %s", u"PCM/44100/16/2");
        n += FormatText(line, 1022, u"wFormatTag: %u / %#x%s", 1u, 1u, u" (WAVE_FORMAT_PCM)");
        n += FormatText(line, 1022, u"nChannels: %u", 2u);
        n += FormatText(line, 1022, u"nSamplesPerSec: %u / %#x", 44100u, 44100u);
        n += FormatText(line, 1022, u"nAvgBytesPerSec: %u / %#x", 176400u, 176400u);
        n += FormatText(line, 1022, u"nBlockAlign: %u", 4u);
        n += FormatText(line, 1022, u"wBitsPerSample: %u", 16u);
        n += FormatText(line, 1022, u"Found chunk \"%s\" at %u / %#x, size %u / %#x", u"data", 36u, 36u, 1764u, 1764u);
        n += FormatText(line, 1022, u"Wave data offset: %u / %#x", 44u, 44u);
        n += FormatText(line, 1022, u"Wave data size: %u / %#x", 1764u, 1764u);
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 16);
    state.SetLabel("lines");
}
BENCHMARK(BM_FormatTypicalReport);

// --- The walk ------------------------------------------------------------------

// A file with a fmt chunk first, then `count` chunks the program does not
// know, then a small data chunk. Bodies of bodySize bytes; an odd size gets
// its pad byte, so the pad rule is walked too.
std::string ManyChunkFile(uint32_t count, uint32_t bodySize) {
    std::string one = PaddedChunk("junk", std::string(bodySize, '\x01'));
    std::string chunks = Chunk("fmt ", Format16(1, 2, 44100, 16));
    chunks.reserve(chunks.size() + size_t(count) * one.size() + 16);
    for (uint32_t i = 0; i < count; ++i) chunks += one;
    chunks += Chunk("data", std::string(8, '\x01'));
    return Riff(chunks);
}

uint64_t g_linesWritten = 0;
uint64_t g_bytesRead = 0;
uint64_t g_bytesSkipped = 0;
bool (*g_fakeRead)(OsHandle, void*, uint32_t, uint32_t*) = nullptr;
bool (*g_fakeSkip)(OsHandle, uint64_t) = nullptr;

// Output goes nowhere: its cost would be the system's, not the program's.
bool DropLine(OsHandle, const void*, uint32_t) {
    ++g_linesWritten;
    return true;
}

// Bytes read and skipped are counted on their way to the fake file; the two
// together must come to the file's size.
bool CountingRead(OsHandle file, void* buffer, uint32_t count, uint32_t* got) {
    bool ok = g_fakeRead(file, buffer, count, got);
    g_bytesRead += *got;
    return ok;
}

bool CountingSkip(OsHandle file, uint64_t count) {
    g_bytesSkipped += count;
    return g_fakeSkip(file, count);
}

long PeakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void WalkManyChunks(benchmark::State& state, uint32_t count, uint32_t bodySize, const char16_t* arguments) {
    FakePlatform fake;
    const std::string& bytes = fake.files[u"many.wav"] = ManyChunkFile(count, bodySize);
    g_platform.writeFile = DropLine;
    g_fakeRead = g_platform.readFile;
    g_platform.readFile = CountingRead;
    g_fakeSkip = g_platform.skipForward;
    g_platform.skipForward = CountingSkip;
    long peakBefore = PeakResidentKiB();
    uint64_t lines = 0;
    for (auto _ : state) {
        g_bytesRead = 0;
        g_bytesSkipped = 0;
        g_linesWritten = 0;
        uint32_t code = fake.Run(arguments);
        lines = g_linesWritten;
        if (code != 0) {
            state.SkipWithError("the walk did not succeed");
            break;
        }
        if (g_bytesRead + g_bytesSkipped != bytes.size()) {
            state.SkipWithError("bytes read and skipped differ from the file size");
            break;
        }
        if (fake.liveBlocks != 0 || fake.openFiles != 0) {
            state.SkipWithError("a block or the file was not released");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * int64_t(count));
    state.SetComplexityN(count);
    state.SetLabel("chunks");
    state.counters["file_MiB"] = double(bytes.size()) / (1 << 20);
    state.counters["lines"] = double(lines);
    // Peak memory growth during the walks: the file is already in memory, so
    // a walk in constant memory adds nothing here however many chunks it has.
    state.counters["peak_growth_KiB"] = double(PeakResidentKiB() - peakBefore);
}

// 100,000 small chunks (2-byte bodies) with every line a verbose run prints.
void BM_Walk100kSmallChunks(benchmark::State& state) {
    WalkManyChunks(state, 100000, 2, u"-v -o -f many.wav");
}
BENCHMARK(BM_Walk100kSmallChunks)->Unit(benchmark::kMillisecond);

// Empty chunks, up to ten million: the time must grow linearly with the
// count (the fitted complexity is printed) and memory not at all.
void BM_WalkEmptyChunks(benchmark::State& state) {
    WalkManyChunks(state, uint32_t(state.range(0)), 0, u"-v many.wav");
}
BENCHMARK(BM_WalkEmptyChunks)
    ->RangeMultiplier(10)
    ->Range(100000, 10000000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
