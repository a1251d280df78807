// sondrel-scan's records as JSON: one object a line. Strings are always
// valid UTF-8: a byte that is not (only a file name's bytes can be) shows as
// U+FFFD. A name that "file" cannot give whole (such a byte, a NUL of a
// list, a lone surrogate of a Windows name) is also given in base 64.
#include "inspector/scan_parts.h"
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
        if (b == '"' || b == '\\') {
            put('\\'), put(b);
        } else if (b < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            put('\\'), put('u'), put('0'), put('0'), put(static_cast<uint8_t>(kHex[b >> 4])), put(static_cast<uint8_t>(kHex[b & 15]));
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

struct JsonRecord {
    bool firstLine;
    bool hasFormat;
    uint8_t format[64];
    uint32_t formatLength;
    bool has[5];
    uint64_t value[5];  // sample_rate, channels, bits, data_offset, data_size
    uint8_t stderrText[8 * 1024];
    uint32_t stderrUsed;
    uint32_t errorAt, errorLength;  // the last line of standard error
    uint8_t warnings[64 * 1024];
    uint32_t warningsUsed;
    uint32_t warningsOmitted;
};

JsonRecord g_json;

enum Field { kRate, kChannels, kBits, kDataOffset, kDataSize };

void OutJsonString(const uint8_t* bytes, uint32_t n, bool* exact) {
    static uint8_t text[3 * 1024 * 6 + 2];
    uint32_t used = 0;
    JsonString(bytes, n, text, sizeof text, &used, exact);
    OutBytes(text, used);
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

bool StartsWith(const uint8_t* line, uint32_t n, const char* prefix, uint32_t* after) {
    uint32_t i = 0;
    for (; prefix[i] != 0; ++i) {
        if (i >= n || line[i] != static_cast<uint8_t>(prefix[i])) return false;
    }
    *after = i;
    return true;
}

// Decimal digits at line[*i]; false when there are none.
bool ReadNumber(const uint8_t* line, uint32_t n, uint32_t* i, uint64_t* value) {
    uint32_t start = *i;
    uint64_t v = 0;
    while (*i < n && line[*i] >= '0' && line[*i] <= '9') v = v * 10 + (line[(*i)++] - '0');
    *value = v;
    return *i > start;
}

void Remember(Field field, const uint8_t* line, uint32_t n, uint32_t at) {
    uint64_t v;
    if (!ReadNumber(line, n, &at, &v)) return;
    g_json.has[field] = true;
    g_json.value[field] = v;
}

// "Format: PCM/44100/16/2", "ExtPCM/48000/24(4)/6(3f)": rate, bits, channels.
void RememberFormat(const uint8_t* line, uint32_t n, uint32_t at) {
    g_json.hasFormat = true;
    g_json.formatLength = 0;
    for (uint32_t i = at; i < n && g_json.formatLength < sizeof g_json.format; ++i) {
        g_json.format[g_json.formatLength++] = line[i];
    }
    const Field order[3] = {kRate, kBits, kChannels};
    uint32_t i = at;
    for (Field field : order) {
        while (i < n && line[i] != '/') ++i;
        if (i == n) return;
        ++i;
        Remember(field, line, n, i);
    }
}

// The report lines scripts ask for most, taken as they pass.
void NoteReportLine(const uint8_t* line, uint32_t n) {
    uint32_t at;
    if (StartsWith(line, n, "Format: ", &at)) {
        RememberFormat(line, n, at);
    } else if (StartsWith(line, n, "Samples per second: ", &at) || StartsWith(line, n, "nSamplesPerSec: ", &at)) {
        Remember(kRate, line, n, at);
    } else if (StartsWith(line, n, "Channels: ", &at) || StartsWith(line, n, "nChannels: ", &at)) {
        Remember(kChannels, line, n, at);
    } else if (StartsWith(line, n, "wBitsPerSample: ", &at)) {
        Remember(kBits, line, n, at);
    } else if (StartsWith(line, n, "Wave data offset: ", &at)) {
        Remember(kDataOffset, line, n, at);
    } else if (StartsWith(line, n, "Wave data size: ", &at)) {
        Remember(kDataSize, line, n, at);
    } else if (StartsWith(line, n, "*** ", &at)) {
        uint32_t used = g_json.warningsUsed + (g_json.warningsUsed != 0 ? 1 : 0);
        if (used < sizeof g_json.warnings &&
            JsonString(line, n, g_json.warnings, sizeof g_json.warnings, &used, nullptr)) {
            if (g_json.warningsUsed != 0) g_json.warnings[g_json.warningsUsed] = ',';
            g_json.warningsUsed = used;
        } else {
            ++g_json.warningsOmitted;
        }
    }
}

// JSON records always ask the walk for the offsets, which scripts want; a
// user who did not give -o does not see their two lines.
bool IsOffsetLine(const uint8_t* line, uint32_t n) {
    uint32_t at;
    return (g_scan.options.flags & kFlagOffsets) == 0 &&
           (StartsWith(line, n, "Format descriptor offset: ", &at) || StartsWith(line, n, "Wave data offset: ", &at));
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
    NoteReportLine(line, n);
    if (IsOffsetLine(line, n)) return;
    if (!g_json.firstLine) OutText(",");
    g_json.firstLine = false;
    OutJsonString(line, n, nullptr);
}

void OutNumberField(const char* key, Field field) {
    OutText(key);
    if (g_json.has[field]) {
        OutFormat(u"%I64u", g_json.value[field]);
    } else {
        OutText("null");
    }
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
    g_json.hasFormat = false;
    for (bool& h : g_json.has) h = false;
    g_json.stderrUsed = 0;
    g_json.errorLength = 0;
    g_json.warningsUsed = 0;
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
            for (uint32_t i = 0; i < units; ++i) {
                g_nameBytes[n++] = static_cast<uint8_t>(name[i]);
                g_nameBytes[n++] = static_cast<uint8_t>(name[i] >> 8);
            }
        }
        OutText(",\"file_base64\":\"");
        OutBase64(g_nameBytes, n);
        OutText("\"");
    }
    OutText(",\"stdout\":[");
}

void JsonEnd(uint32_t exitCode) {
    OutText("],\"stderr\":[");
    OutBytes(g_json.stderrText, g_json.stderrUsed);
    OutFormat(u"],\"exit\":%u,\"format\":", exitCode);
    if (g_json.hasFormat) {
        OutJsonString(g_json.format, g_json.formatLength, nullptr);
    } else {
        OutText("null");
    }
    OutNumberField(",\"sample_rate\":", kRate);
    OutNumberField(",\"channels\":", kChannels);
    OutNumberField(",\"bits\":", kBits);
    OutNumberField(",\"data_offset\":", kDataOffset);
    OutNumberField(",\"data_size\":", kDataSize);
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
