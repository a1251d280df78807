// The UTF-8 codec.
#include "platform/text.h"

namespace {

bool IsSurrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace

uint32_t DecodeUtf8(const uint8_t* bytes, size_t n, uint32_t* codePoint) {
    uint8_t b = bytes[0];
    if (b < 0x80) {
        *codePoint = b;
        return 1;
    }
    uint32_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
    if (length == 0 || b > 0xF4 || n < length) return 0;
    uint32_t cp = b & (0x7F >> length);
    for (uint32_t i = 1; i < length; ++i) {
        if ((bytes[i] & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (bytes[i] & 0x3F);
    }
    static const uint32_t kMinimum[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[length] || cp > 0x10FFFF || IsSurrogate(cp)) return 0;
    *codePoint = cp;
    return length;
}

uint32_t EncodeUtf8(uint32_t codePoint, uint8_t* out) {
    if (codePoint < 0x80) {
        out[0] = static_cast<uint8_t>(codePoint);
        return 1;
    }
    if (IsSurrogate(codePoint)) codePoint = 0xFFFD;
    // The lead byte, then six bits per continuation byte, highest first.
    static const uint8_t kLead[4] = {0, 0xC0, 0xE0, 0xF0};
    uint32_t extra = codePoint < 0x800 ? 1 : codePoint < 0x10000 ? 2 : 3;
    out[0] = static_cast<uint8_t>(kLead[extra] | codePoint >> (6 * extra));
    for (uint32_t i = 1; i <= extra; ++i) out[i] = static_cast<uint8_t>(0x80 | (codePoint >> (6 * (extra - i)) & 0x3F));
    return extra + 1;
}

uint32_t EncodeUtf16(uint32_t codePoint, WChar* out) {
    if (codePoint < 0x10000) {
        out[0] = static_cast<WChar>(codePoint);
        return 1;
    }
    out[0] = static_cast<WChar>(0xD800 + ((codePoint - 0x10000) >> 10));
    out[1] = static_cast<WChar>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
    return 2;
}

uint32_t NextCodePoint(const WChar* text, size_t count, size_t* i) {
    uint32_t c = text[(*i)++];
    if (c >= 0xD800 && c <= 0xDBFF && *i < count && text[*i] >= 0xDC00 && text[*i] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text[(*i)++] - 0xDC00u);
    }
    return c;
}

size_t BytesToUnits(const uint8_t* bytes, size_t n, WChar* out, size_t capacity) {
    size_t w = 0;
    for (size_t i = 0; i < n && w <= capacity;) {
        uint32_t cp = bytes[i];
        uint32_t length = 1;
        if (cp >= 0x80) {
            length = DecodeUtf8(bytes + i, n - i, &cp);
            if (length == 0) {
                cp = 0xDC00 | bytes[i];
                length = 1;
            }
        }
        i += length;
        WChar units[2];
        for (uint32_t u = 0, count = EncodeUtf16(cp, units); u < count; ++u, ++w) {
            if (w < capacity) out[w] = units[u];
        }
    }
    return w;
}

uint32_t WideToUtf8(const WChar* text, uint32_t count, uint8_t* out) {
    uint32_t o = 0;
    for (size_t i = 0; i < count;) o += EncodeUtf8(NextCodePoint(text, count, &i), out + o);
    return o;
}

bool IsWrittenText(const uint8_t* bytes, size_t n, size_t longest) {
    if (n == 0 || bytes[n - 1] != '\n') return false;
    for (size_t i = 0, start = 0; i < n;) {
        if (bytes[i] == '\n') {
            if (++i - start > longest) return false;
            start = i;
            continue;
        }
        uint32_t cp;
        uint32_t length = DecodeUtf8(bytes + i, n - i, &cp);
        if (length == 0) {
            if (bytes[i] < 0xA0) return false;
            cp = 0xFFFD;
            length = 1;
        }
        bool control = cp < 0x20 || (cp >= 0x80 && cp <= 0x9F);
        bool reorders = (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
        if (control || reorders || cp == 0x2028 || cp == 0x2029) return false;
        i += length;
    }
    return true;
}
