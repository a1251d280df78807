// Windows' device and pipe names, read the way the system reads them.
#include "platform/devicename.h"

namespace {

WChar Upper(WChar c) { return c >= u'a' && c <= u'z' ? static_cast<WChar>(c - 32) : c; }

// Windows takes a forward slash for a backslash in a name.
bool IsSeparator(WChar c) { return c == u'\\' || c == u'/'; }

// Whether text starts with prefix, letters in either case, a backslash of
// prefix standing for either separator.
bool StartsWith(const WChar* text, const char16_t* prefix) {
    for (; *prefix != 0; ++text, ++prefix) {
        bool same = *prefix == u'\\' ? IsSeparator(*text) : Upper(*text) == *prefix;
        if (!same) return false;
    }
    return true;
}

// Whether the share of a UNC name ("server\share\...", after its two leading
// separators) is a server's pipes: opening one connects to whoever serves it.
bool IsPipeShare(const WChar* server) {
    while (*server != 0 && !IsSeparator(*server)) ++server;
    if (*server == 0) return false;
    const WChar* share = server + 1;
    return StartsWith(share, u"PIPE") && (share[4] == 0 || IsSeparator(share[4]));
}

// The reserved names, one row each: a last part that is one of them, in any
// case, is the device, whatever extension, trailing dots or blanks, or ":"
// and stream name follow it. COM and LPT take the superscript digits too.
constexpr char16_t kReservedNames[][8] = {
    u"CON",    u"PRN",     u"AUX",  u"NUL",  u"CONIN$", u"CONOUT$",
    u"COM0",   u"COM1",    u"COM2", u"COM3", u"COM4",   u"COM5",    u"COM6", u"COM7", u"COM8", u"COM9",
    u"COM\u00B9", u"COM\u00B2", u"COM\u00B3",
    u"LPT0",   u"LPT1",    u"LPT2", u"LPT3", u"LPT4",   u"LPT5",    u"LPT6", u"LPT7", u"LPT8", u"LPT9",
    u"LPT\u00B9", u"LPT\u00B2", u"LPT\u00B3",
};
static_assert(sizeof kReservedNames / sizeof kReservedNames[0] == 32, "4 devices, 2 consoles, 13 COM, 13 LPT");

// Whether the last part of a name, up to its first dot or colon and without
// the blanks before that, is a reserved name: so the system reads "nul .wav",
// "NUL...", "NUL:" and "nul.wav:s".
bool IsReservedName(const WChar* part) {
    const WChar* end = part;
    while (*end != 0 && *end != u'.' && *end != u':') ++end;
    while (end > part && end[-1] == u' ') --end;
    for (const auto& reserved : kReservedNames) {
        const char16_t* r = reserved;
        const WChar* p = part;
        while (*r != 0 && p < end && Upper(*p) == *r) ++r, ++p;
        if (*r == 0 && p == end) return true;
    }
    return false;
}

}  // namespace

bool IsWindowsDeviceName(const WChar* name) {
    if (StartsWith(name, u"\\\\.\\") || StartsWith(name, u"\\??\\")) return true;
    if (StartsWith(name, u"\\\\?\\")) {
        const WChar* rest = name + 4;
        bool drive = Upper(rest[0]) >= u'A' && Upper(rest[0]) <= u'Z' && rest[1] == u':';
        if (StartsWith(rest, u"UNC\\")) return IsPipeShare(rest + 4);
        if (!drive) return true;
    } else if (StartsWith(name, u"\\\\") && IsPipeShare(name + 2)) {
        return true;
    }
    // The last part: past the last separator, and past a drive ("C:nul").
    const WChar* last = name;
    for (const WChar* p = name; *p != 0; ++p) {
        if (IsSeparator(*p)) last = p + 1;
    }
    if (last == name && Upper(name[0]) >= u'A' && Upper(name[0]) <= u'Z' && name[1] == u':') last = name + 2;
    return IsReservedName(last);
}
