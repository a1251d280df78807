// sondrel-scan's records as JSON: one object a line. Strings are always
// valid UTF-8: a byte that is not (only a file name's bytes can be) shows as
// U+FFFD. A name that "file" cannot give whole (such a byte, a NUL of a
// list, a lone surrogate of a Windows name) is also given in base 64.
#include "inspector/facts.h"
#include "inspector/scan_parts.h"
#include "waveformat/describe.h"
#include "waveformat/names.h"
#include "platform/platform.h"
#include "platform/scan.h"
#include "platform/text.h"

bool JsonString(const uint8_t* bytes, uint32_t n, uint8_t* out, uint32_t room, uint32_t* used, bool* exact) {
    uint32_t o = *used;
    auto put = [&](uint8_t b) {
        if (o < room) out[o] = b;
        ++o;
    };
    put('"');
    for (uint32_t i = 0; i < n;) {
        uint32_t cp;
        uint32_t length = DecodeUtf8(bytes + i, n - i, &cp);
        if (length == 0) {
            if (exact != nullptr) *exact = false;
            put(0xEF), put(0xBF), put(0xBD);
            ++i;
            continue;
        }
        uint8_t b = bytes[i];
        // Controls (C0, C1) and the marks that reorder or break lines are
        // escaped, so that a chunk's identifier or a name cannot move a
        // terminal or a viewer of the output; the string's value is the same.
        // DEL stays, as the report's lines show it in an identifier.
        bool control = cp < 0x20 || (cp >= 0x80 && cp <= 0x9F);
        bool layout = cp == 0x2028 || cp == 0x2029 || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
        if (b == '"' || b == '\\') {
            put('\\'), put(b);
        } else if (control || layout) {
            static const char kHex[] = "0123456789abcdef";
            put('\\'), put('u');
            for (int shift = 12; shift >= 0; shift -= 4) put(static_cast<uint8_t>(kHex[cp >> shift & 15]));
        } else {
            for (uint32_t k = 0; k < length; ++k) put(bytes[i + k]);
        }
        i += length;
    }
    put('"');
    if (o > room) return false;
    *used = o;
    return true;
}

namespace {

// A name's bytes: as many as a name of kScanNameUnits units can take.
uint8_t g_nameBytes[kScanNameUnits * 4];

// Warnings listed in a record; those past it are only counted.
constexpr uint32_t kWarningsListed = 64;

struct JsonRecord {
    bool firstLine;
    uint8_t stderrText[8 * 1024];
    uint32_t stderrUsed;
    uint32_t errorAt, errorLength;  // the last line of standard error
    uint8_t warnings[64 * 1024];
    uint32_t warningsUsed;
    uint32_t warningsListed;
    uint32_t warningsOmitted;
};

JsonRecord g_json;

// Room for the longest text given, a name's bytes, each escaped in six.
void OutJsonString(const uint8_t* bytes, uint32_t n, bool* exact) {
    static uint8_t text[sizeof g_nameBytes * 6 + 2];
    uint32_t used = 0;
    JsonString(bytes, n, text, sizeof text, &used, exact);
    OutBytes(text, used);
}

// A text of the program's, which is always UTF-8 once converted.
void OutJsonText(const WChar* text, uint32_t n) {
    static uint8_t bytes[256 * 3];
    if (n > 256) n = 256;
    OutJsonString(bytes, g_platform.toUtf8(text, n, bytes), nullptr);
}

void OutBase64(const uint8_t* bytes, uint32_t n) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    uint8_t quad[4];
    for (uint32_t i = 0; i < n; i += 3) {
        uint32_t v = static_cast<uint32_t>(bytes[i]) << 16 | (i + 1 < n ? bytes[i + 1] << 8 : 0) | (i + 2 < n ? bytes[i + 2] : 0);
        for (int k = 0; k < 4; ++k) quad[k] = static_cast<uint8_t>(kAlphabet[v >> (18 - 6 * k) & 63]);
        if (i + 1 >= n) quad[2] = '=';
        if (i + 2 >= n) quad[3] = '=';
        OutBytes(quad, 4);
    }
}

// A warning of the report: a line of standard output that opens with "*** ".
void NoteWarning(const uint8_t* line, uint32_t n) {
    if (n < 4 || line[0] != '*' || line[1] != '*' || line[2] != '*' || line[3] != ' ') return;
    uint32_t used = g_json.warningsUsed + (g_json.warningsUsed != 0 ? 1 : 0);
    if (g_json.warningsListed < kWarningsListed && used < sizeof g_json.warnings &&
        JsonString(line, n, g_json.warnings, sizeof g_json.warnings, &used, nullptr)) {
        if (g_json.warningsUsed != 0) g_json.warnings[g_json.warningsUsed] = ',';
        g_json.warningsUsed = used;
        ++g_json.warningsListed;
    } else {
        ++g_json.warningsOmitted;
    }
}

void AddStderrLine(const uint8_t* line, uint32_t n) {
    uint32_t used = g_json.stderrUsed + (g_json.stderrUsed != 0 ? 1 : 0);
    if (!JsonString(line, n, g_json.stderrText, sizeof g_json.stderrText, &used, nullptr)) return;
    if (g_json.stderrUsed != 0) g_json.stderrText[g_json.stderrUsed] = ',';
    g_json.errorAt = g_json.stderrUsed + (g_json.stderrUsed != 0 ? 1 : 0);
    g_json.errorLength = used - g_json.errorAt;
    g_json.stderrUsed = used;
}

// A captured write may hold several lines (the block of a non-PCM format is
// one write): each is a string of its own, as a reader of the stream sees it.
void JsonLine(uint8_t stream, const uint8_t* line, uint32_t n) {
    if (stream == 2) {
        AddStderrLine(line, n);
        return;
    }
    // A warning that standard output shows only with -f: the record's
    // warnings are the same with or without it.
    if (stream == kScanStreamUnshown) {
        NoteWarning(line, n);
        return;
    }
    NoteWarning(line, n);
    if (!g_json.firstLine) OutText(",");
    g_json.firstLine = false;
    OutJsonString(line, n, nullptr);
}

// ,"key":value, or null where the value is not known.
void OutNumber(const char* key, bool known, uint64_t value) {
    OutText(key);
    if (known) {
        OutFormat(u"%I64u", value);
    } else {
        OutText("null");
    }
}

void OutNull(const char* key) {
    OutText(key);
    OutText("null");
}

// The descriptor's fields, each from the working copy as the report reads
// it: the extensible part only where the chunk holds it.
void OutFormatFacts(const WaveFacts* facts) {
    bool known = facts != nullptr && (facts->known & kFactFormat) != 0;
    const WAVEFORMATEXTENSIBLE& f = facts != nullptr ? facts->format : WAVEFORMATEXTENSIBLE{};
    uint16_t tag = WaveFormatTag(f);
    bool pcmOrFloat = known && WaveFormatIsPcmOrFloat(f);
    bool extensible = known && tag == WAVE_FORMAT_EXTENSIBLE && facts->formatSize >= sizeof f.bytes;
    static WChar text[64];
    if (pcmOrFloat && WaveFormatIsValidPcm(f)) {
        OutText(",\"format\":");
        OutJsonText(text, WaveFormatDescribe(f, text, 50, 0));
    } else {
        OutNull(",\"format\":");
    }
    OutNumber(",\"sample_rate\":", known, WaveFormatSamplesPerSec(f));
    OutNumber(",\"channels\":", known, WaveFormatChannels(f));
    OutNumber(",\"bits\":", known, WaveFormatBitsPerSample(f));
    OutNumber(",\"format_tag\":", known, tag);
    const WChar* name = known ? FormatTagName(tag) : nullptr;
    if (name != nullptr) {
        OutText(",\"format_name\":");
        OutJsonText(text, FormatText(text, 64, u"WAVE_FORMAT_%s", name));
    } else {
        OutNull(",\"format_name\":");
    }
    OutNumber(",\"byte_rate\":", known, WaveFormatAvgBytesPerSec(f));
    OutNumber(",\"block_align\":", known, WaveFormatBlockAlign(f));
    // The valid width: the container's for the plain tags, the extensible
    // part's sample word for PCM and float in it.
    bool plain = known && (tag == WAVE_FORMAT_PCM || tag == WAVE_FORMAT_IEEE_FLOAT);
    OutNumber(",\"valid_bits\":", plain || (extensible && pcmOrFloat),
              plain ? WaveFormatBitsPerSample(f) : WaveFormatSamples(f));
    OutNumber(",\"channel_mask\":", extensible, WaveFormatChannelMask(f));
    if (extensible) {
        OutText(",\"sub_format\":");
        OutJsonText(text, GuidToName(text, 64, ReadGuid(f.bytes + kOffset_SubFormat), nullptr));
    } else {
        OutNull(",\"sub_format\":");
    }
}

void OutDataFacts(const WaveFacts* facts) {
    bool data = facts != nullptr && (facts->known & kFactData) != 0;
    OutNumber(",\"data_offset\":", data, data ? facts->dataOffset : 0);
    OutNumber(",\"data_size\":", data, data ? facts->dataSize : 0);
    uint32_t align = facts != nullptr && (facts->known & kFactFormat) != 0 ? WaveFormatBlockAlign(facts->format) : 0;
    uint32_t rate = align != 0 ? WaveFormatSamplesPerSec(facts->format) : 0;
    uint64_t frames = data && align != 0 ? facts->dataSize / align : 0;
    OutNumber(",\"frames\":", data && align != 0, frames);
    // Seconds to the microsecond, cut rather than rounded, in whole numbers.
    OutText(",\"duration\":");
    if (data && rate != 0) {
        uint64_t micro = frames % rate * 1000000 / rate;
        OutFormat(u"%I64u.%06I64u", frames / rate, micro);
    } else {
        OutText("null");
    }
    OutNumber(",\"file_size\":", facts != nullptr && (facts->known & kFactFileSize) != 0,
              facts != nullptr ? facts->fileSize : 0);
    OutNumber(",\"riff_size\":", facts != nullptr && (facts->known & kFactHeader) != 0,
              facts != nullptr ? facts->riffSize : 0);
}

void OutChunks(const WaveFacts* facts) {
    OutText(",\"chunks\":[");
    uint32_t count = facts != nullptr ? facts->chunkCount : 0;
    uint32_t listed = count < kFactsChunksListed ? count : kFactsChunksListed;
    for (uint32_t i = 0; i < listed; ++i) {
        const FactsChunk& chunk = facts->chunks[i];
        OutText(i == 0 ? "{\"id\":" : ",{\"id\":");
        OutJsonString(chunk.id, 4, nullptr);
        OutFormat(u",\"offset\":%u,\"size\":%u}", chunk.offset, chunk.size);
    }
    OutText("]");
    if (count > listed) OutFormat(u",\"chunks_omitted\":%u", count - listed);
}

}  // namespace

void JsonLines(const uint8_t* frames, uint32_t count) {
    for (uint32_t i = 0; i + 3 <= count;) {
        uint8_t stream = frames[i];
        uint32_t length = frames[i + 1] | frames[i + 2] << 8;
        const uint8_t* text = frames + i + 3;
        i += 3 + length;
        uint32_t start = 0;
        for (uint32_t k = 0; k < length; ++k) {
            if (text[k] != '\n') continue;
            JsonLine(stream, text + start, k - start);
            start = k + 1;
        }
        if (start < length) JsonLine(stream, text + start, length - start);
    }
}

void JsonBegin(const WChar* name, uint32_t units) {
    g_json.firstLine = true;
    g_json.stderrUsed = 0;
    g_json.errorLength = 0;
    g_json.warningsUsed = 0;
    g_json.warningsListed = 0;
    g_json.warningsOmitted = 0;
    OutText("{\"file\":");
    OutJsonString(g_nameBytes, g_platform.toUtf8(ShownName(name, units), units, g_nameBytes), nullptr);
    // The name whole, as the system has it: its bytes where names are bytes
    // (POSIX), else its UTF-16 units, little-endian.
    if (!ShownExactly(name, units)) {
        uint32_t n = 0;
        if (g_platform.namesHoldBytes) {
            n = g_platform.toUtf8(name, units, g_nameBytes);
        } else {
            // GCOVR_EXCL_START: Windows names, run by the Windows build's runs under Wine
            for (uint32_t i = 0; i < units; ++i) {
                g_nameBytes[n++] = static_cast<uint8_t>(name[i]);
                g_nameBytes[n++] = static_cast<uint8_t>(name[i] >> 8);
            }
            // GCOVR_EXCL_STOP
        }
        OutText(",\"file_base64\":\"");
        OutBase64(g_nameBytes, n);
        OutText("\"");
    }
    OutText(",\"stdout\":[");
}

void JsonEnd(uint32_t exitCode, const WaveFacts* facts) {
    OutText("],\"stderr\":[");
    OutBytes(g_json.stderrText, g_json.stderrUsed);
    OutFormat(u"],\"exit\":%u", exitCode);
    OutFormatFacts(facts);
    OutDataFacts(facts);
    OutChunks(facts);
    OutText(",\"warnings\":[");
    OutBytes(g_json.warnings, g_json.warningsUsed);
    OutText("]");
    if (g_json.warningsOmitted != 0) OutFormat(u",\"warnings_omitted\":%u", g_json.warningsOmitted);
    OutText(",\"error\":");
    if (g_json.errorLength != 0) {
        OutBytes(g_json.stderrText + g_json.errorAt, g_json.errorLength);
    } else {
        OutText("null");
    }
    OutText("}\n");
}
