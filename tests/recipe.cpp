// WAV files described in a few words, and the text helpers that read what
// the program wrote. No GoogleTest and no part of the program: the runner of
// the whole runs is built for this machine even when the program is not.
#include "tests/recipe.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

// --- WAV builder -------------------------------------------------------------

static std::string Le16(uint32_t v) { return std::string{char(v & 0xFF), char(v >> 8 & 0xFF)}; }

static std::string Le32(uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }

std::string Chunk(const std::string& id, const std::string& body, int64_t size) {
    return id + Le32(size < 0 ? uint32_t(body.size()) : uint32_t(size)) + body;
}

std::string PaddedChunk(const std::string& id, const std::string& body) {
    return Chunk(id, body) + (body.size() % 2 ? std::string(1, '\0') : std::string());
}

std::string Riff(const std::string& chunks, int64_t riffSize) {
    return "RIFF" + Le32(riffSize < 0 ? uint32_t(chunks.size() + 4) : uint32_t(riffSize)) + "WAVE" + chunks;
}

// With explicit byte rate and block alignment, as only a recipe asks.
static std::string Format16(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t byteRate,
                            uint16_t blockAlign, uint16_t bits) {
    return Le16(tag) + Le16(channels) + Le32(rate) + Le32(byteRate) + Le16(blockAlign) + Le16(bits);
}

std::string Format16(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    uint16_t align = uint16_t(channels * (bits / 8));
    return Format16(tag, channels, rate, rate * align, align, bits);
}

static std::string SubFormat(uint16_t tag) {
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

// --- The recipe language ---------------------------------------------------------

std::string Unescape(const std::string& text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\\x") == 0 && i + 3 < text.size() && std::isxdigit(uint8_t(text[i + 2])) &&
            std::isxdigit(uint8_t(text[i + 3]))) {
            bytes += char(std::strtoul(text.substr(i + 2, 2).c_str(), nullptr, 16));
            i += 3;
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

namespace {

struct Recipe {
    const char* at;
    const std::string& dataDir;
    std::string error;

    void Fail(const std::string& what) {
        if (error.empty()) error = what;
    }
    void Spaces() {
        while (*at == ' ') ++at;
    }
    // To the next argument of a call.
    void Next() {
        Spaces();
        if (*at == ',') ++at;
        Spaces();
    }
    uint64_t Number() {
        Next();
        char* end;
        uint64_t n = std::strtoull(at, &end, 0);
        if (end == at) Fail(std::string("a number expected at ") + at);
        at = end;
        return n;
    }
    std::string Text() {
        const char* end = std::strchr(++at, '"');
        if (end == nullptr) {
            Fail("a text without its closing quote");
            at += std::strlen(at);
            return "";
        }
        const std::string text = Unescape(std::string(at, end));
        at = end + 1;
        if (*at != '*') return text;
        ++at;
        std::string repeated;
        for (uint64_t n = Number(); n > 0; --n) repeated += text;
        return repeated;
    }
    // Items up to a closing parenthesis, a comma or the end.
    std::string Bytes() {
        std::string bytes;
        for (Next(); *at != 0 && *at != ')' && *at != ',' && error.empty(); Spaces()) {
            bytes += *at == '"' ? Text() : Call();
        }
        return bytes;
    }
    bool More() {
        Spaces();
        return *at == ',';
    }
    std::string Call() {
        const char* name = at;
        while (*at != '(' && *at != 0) ++at;
        if (*at == 0) {
            Fail(std::string("no call in ") + name);
            return "";
        }
        const std::string f(name, at++);
        std::string result;
        if (f == "le16" || f == "le32") {
            result = f == "le16" ? Le16(uint32_t(Number())) : Le32(uint32_t(Number()));
        } else if (f == "riff") {
            std::string body = Bytes();
            result = Riff(body, More() ? int64_t(Number()) : -1);
        } else if (f == "chunk" || f == "padded") {
            std::string id = Bytes(), body = Bytes();
            result = f == "padded" ? PaddedChunk(id, body) : Chunk(id, body, More() ? int64_t(Number()) : -1);
        } else if (f == "pcm") {
            uint64_t v[6] = {Number(), Number(), Number(), Number()};
            if (More()) {
                v[4] = Number(), v[5] = Number();
                result = Format16(uint16_t(v[0]), uint16_t(v[1]), uint32_t(v[2]), uint32_t(v[4]), uint16_t(v[5]),
                                  uint16_t(v[3]));
            } else {
                result = Format16(uint16_t(v[0]), uint16_t(v[1]), uint32_t(v[2]), uint16_t(v[3]));
            }
        } else if (f == "sub") {
            result = SubFormat(uint16_t(Number()));
        } else if (f == "data") {
            result = ReadWhole(dataDir + "/" + Bytes());
        } else {
            Fail("no recipe " + f);
        }
        Spaces();
        if (*at != ')') Fail("no closing parenthesis after " + f);
        if (*at != 0) ++at;
        return result;
    }
};

}  // namespace

std::string RecipeBytes(const std::string& recipe, const std::string& dataDir, std::string* error) {
    Recipe r{recipe.c_str(), dataDir, ""};
    std::string bytes = r.Bytes();
    if (r.error.empty() && *r.at != 0) r.Fail(std::string("cannot read ") + r.at);
    *error = r.error;
    return bytes;
}

// --- Files -------------------------------------------------------------------------

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
