// The format report: one summary line for PCM and float, a block of the main
// fields for every other format, and with -f every field of the descriptor.
#include "inspector/report.h"

#include "inspector/reader.h"
#include "runtime/format.h"
#include "runtime/runtime.h"
#include "waveformat/describe.h"
#include "waveformat/names.h"
#include "waveformat/waveformat.h"

namespace {

constexpr uint32_t kBaseSize = 18;        // up to and including cbSize
constexpr uint32_t kExtensibleSize = 40;  // the whole extensible record

// The field dump reads the descriptor memory itself, and each part only
// after the size test that says the chunk holds it. Not shown (no -f), only
// its warnings go out, to the sink that wants them.
void PrintFields(const WalkSink& sink, const uint8_t* descriptor, uint32_t size, const WChar* tagSuffix, bool shown) {
    uint16_t tag = ReadLe16(descriptor + kOffset_wFormatTag);
    if (shown) {
        uint32_t rate = ReadLe32(descriptor + kOffset_nSamplesPerSec);
        uint32_t byteRate = ReadLe32(descriptor + kOffset_nAvgBytesPerSec);
        SinkLine(sink, u"wFormatTag: %u / %#x%s", tag, tag, tagSuffix);
        SinkLine(sink, u"nChannels: %u", ReadLe16(descriptor + kOffset_nChannels));
        SinkLine(sink, u"nSamplesPerSec: %u / %#x", rate, rate);
        SinkLine(sink, u"nAvgBytesPerSec: %u / %#x", byteRate, byteRate);
        SinkLine(sink, u"nBlockAlign: %u", ReadLe16(descriptor + kOffset_nBlockAlign));
        SinkLine(sink, u"wBitsPerSample: %u", ReadLe16(descriptor + kOffset_wBitsPerSample));
    }
    if (tag == WAVE_FORMAT_PCM || tag == WAVE_FORMAT_IEEE_FLOAT) return;
    const WalkSink warnings = {shown ? sink.line : sink.unshownWarning, nullptr, nullptr, nullptr};
    if (size < kBaseSize) {
        SinkLine(warnings, u"*** Format descriptor size is less than %u / %#x bytes required for non-PCM formats",
                 kBaseSize, kBaseSize);
        return;
    }
    uint16_t cbSize = ReadLe16(descriptor + kOffset_cbSize);
    if (shown) SinkLine(sink, u"cbSize: %u / %#x", cbSize, cbSize);
    if (tag != WAVE_FORMAT_EXTENSIBLE) return;
    if (size < kExtensibleSize) {
        SinkLine(warnings, u"*** Format descriptor size is less than %u / %#x bytes required for extensible formats",
                 kExtensibleSize, kExtensibleSize);
        return;
    }
    if (!shown) return;
    uint16_t samples = ReadLe16(descriptor + kOffset_Samples);
    uint32_t mask = ReadLe32(descriptor + kOffset_dwChannelMask);
    SinkLine(sink, u"wValidBitsPerSample/wSamplesPerBlock: %u / %#x", samples, samples);
    WChar speakers[100];
    BitMaskToNames(speakers, 100, mask, SpeakerNameTable, u" ");
    SinkLine(sink, u"dwChannelMask: %#x (%s)", mask, speakers[0] != 0 ? speakers : u"DIRECTOUT");
    WChar subFormat[60];
    GUID guid = ReadGuid(descriptor + kOffset_SubFormat);
    GuidToName(subFormat, 60, guid, nullptr);
    SinkLine(sink, u"SubFormat: %s", subFormat);
}

}  // namespace

FormatChunkReport ReportFormatChunk(FileReader& reader, uint32_t chunkSize, RunOptions options) {
    const WalkSink& sink = *reader.sink;
    if (static_cast<uint64_t>(chunkSize) - 16 > 4080) {
        SinkError(sink, u"Invalid fmt chunk size");
        return {ExitNotUsableWave, nullptr};
    }
    uint8_t* block = static_cast<uint8_t*>(MemAlloc(chunkSize));
    if (block == nullptr) {
        SinkError(sink, u"Cannot allocate %u bytes for format descriptor", chunkSize);
        return {ExitNoMemory, nullptr};
    }
    if (!ReadExact(reader, block, chunkSize)) return {ExitReadFailed, block};

    // The working copy holds zeros beyond the end of a short chunk, so
    // nothing is ever taken from beyond the chunk.
    WAVEFORMATEXTENSIBLE format{};
    uint32_t copied = chunkSize < kExtensibleSize ? chunkSize : kExtensibleSize;
    for (uint32_t i = 0; i < copied; ++i) format.bytes[i] = block[i];

    uint16_t tag = WaveFormatTag(format);
    const WChar* tagName = FormatTagName(tag);
    WChar suffixBuffer[50];
    const WChar* tagSuffix = tagName != nullptr ? FormatText50(suffixBuffer, u" (WAVE_FORMAT_%s)", tagName) : u"";

    if (WaveFormatIsPcmOrFloat(format)) {
        if (WaveFormatIsValidPcm(format)) {
            WChar description[50];
            WaveFormatDescribe(format, description, 50, 0);
            SinkLine(sink, u"Format: %s", description);
        } else {
            SinkLine(sink, u"*** Invalid PCM format descriptor");
        }
    } else {
        SinkLine(sink, 
            u"Non-PCM format %u / %#x%s\r\nSamples per second: %u\r\nAvg bytes per second: %u\r\nChannels: "
            u"%u\r\nFrame alignment: %u\r\nSize of descriptor extension: %u",
            tag, tag, tagSuffix, WaveFormatSamplesPerSec(format), WaveFormatAvgBytesPerSec(format),
            WaveFormatChannels(format), WaveFormatBlockAlign(format), WaveFormatCbSize(format));
    }
    if (options.printFields || sink.unshownWarning != nullptr) {
        PrintFields(sink, block, chunkSize, tagSuffix, options.printFields);
    }
    return {ExitUndecided, block};
}
