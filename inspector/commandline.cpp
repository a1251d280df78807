// The command line: the line joined from the arguments where the system
// keeps no line, the program name, the options and the one file name, the
// token helpers, and the echo of argument text in a message.
#include "inspector/commandline.h"

#include "platform/platform.h"
#include "runtime/contract.h"
#include "runtime/format.h"
#include "runtime/output.h"

const WChar kBlankSet[] = u" \t";

namespace {

constexpr uint32_t kSetBound = 50;

// Room for the longest path any backend takes (PATH_MAX on Linux) plus one
// character, so a name that is too long can be told from one that fits.
constexpr uint32_t kFileNameRoom = 4096 + 1;

// --- The joined line -------------------------------------------------------------

// Windows limits a command line to 32767 characters; the one joined from the
// arguments has the same room.
WChar g_joined[32768];
constexpr size_t kJoinedRoom = sizeof g_joined / sizeof g_joined[0] - 1;
size_t g_joinedLength;
bool g_joinRefused;

// The program name is only ever skipped, never read back, and the parser
// looks for its end among its first 1024 characters only: a path may be 4095
// characters long, so a fixed short name stands in for argv[0].
const WChar kProgramName[] = u"sondrel";
constexpr size_t kProgramNameLength = sizeof kProgramName / sizeof kProgramName[0] - 1;

// Appends a blank and one argument in the quoting that Windows programs
// read: plain when that is unambiguous, else in double quotes, with each
// double quote escaped by a backslash and the backslashes just before a
// double quote or the closing quote doubled. Other backslashes stand for
// themselves. False, with nothing written, when it does not fit.
bool AppendArgument(size_t& length, const WChar* arg, size_t n) {
    if (n > kJoinedRoom) return false;
    // First the room it needs, then the text.
    bool quote = n == 0;
    size_t units = 0;
    size_t backslashes = 0;
    for (size_t i = 0; i < n; ++i) {
        WChar c = arg[i];
        quote |= c == u' ' || c == u'\t' || c == u'"';
        units += c == u'"' ? backslashes + 2 : 1;
        backslashes = c == u'\\' ? backslashes + 1 : 0;
    }
    size_t needed = 1 + units + (quote ? 2 + backslashes : 0);
    if (needed > kJoinedRoom - length) return false;
    WChar* out = g_joined + length;
    *out++ = u' ';
    if (!quote) {
        // Nothing to quote or escape (no blank, no double quote), as in most
        // arguments.
        for (size_t i = 0; i < n; ++i) *out++ = arg[i];
        length = static_cast<size_t>(out - g_joined);
        return true;
    }
    *out++ = u'"';
    backslashes = 0;
    for (size_t i = 0; i < n; ++i) {
        WChar c = arg[i];
        if (c == u'"') {
            for (size_t b = 0; b <= backslashes; ++b) *out++ = u'\\';
        }
        backslashes = c == u'\\' ? backslashes + 1 : 0;
        *out++ = c;
    }
    // The closing quote must not be taken for an escaped one.
    for (size_t i = 0; i < backslashes; ++i) *out++ = u'\\';
    *out++ = u'"';
    length = static_cast<size_t>(out - g_joined);
    return true;
}

// --- The arguments ---------------------------------------------------------------

// Options: each a token of exactly two characters. Every invalid letter is
// reported; a malformed token ends parsing at once.
ExitCode ParseOptions(const WChar*& position, RunOptions& options) {
    ExitCode outcome = ExitUndecided;
    static WChar echo[kEchoRoom];
    while (*position == u'-') {
        WChar letter = position[1];
        if (letter == 0 || IsCharInSet(letter, kBlankSet)) {
            ReportError(u"No option letter: \"%s\"", EchoText(position + 1, echo));
            return ExitBadCommandLine;
        }
        WChar next = position[2];
        if (next != 0 && !IsCharInSet(next, kBlankSet)) {
            ReportError(u"No space after option: \"%s\"", EchoText(position + 2, echo, letter));
            return ExitBadCommandLine;
        }
        position = SkipCharsInSet(position + 2, kBlankSet);
        switch (letter) {
            case u'f': options.printFields = true; break;
            case u'o': options.printOffsets = true; break;
            case u'v': options.verbose = true; break;
            default: {
                const WChar alone[2] = {letter, 0};
                ReportError(u"Invalid option \"%s\"", EchoText(alone, echo));
                outcome = ExitBadCommandLine;
                break;
            }
        }
    }
    return outcome;
}

// A character taken into a token is kept while the buffer has room; the
// rest of the token is read on and dropped.
void Store(WChar* buffer, uint32_t capacity, uint32_t& stored, WChar c) {
    if (buffer != nullptr && stored + 1 < capacity) buffer[stored++] = c;
}

}  // namespace

// --- The line --------------------------------------------------------------------

void JoinArgument(const WChar* argument, size_t count) {
    if (g_joinRefused) return;
    if (!AppendArgument(g_joinedLength, argument, count)) {
        // Dropping or cutting one argument could leave a valid command line
        // that names another file.
        g_joinRefused = true;
        g_joinedLength = kProgramNameLength;
        g_joined[g_joinedLength++] = u' ';
        g_joined[g_joinedLength++] = u'-';
    }
}

const WChar* ReadCommandLine(int argc, char** argv) {
    for (size_t i = 0; i < kProgramNameLength; ++i) g_joined[i] = kProgramName[i];
    g_joinedLength = kProgramNameLength;
    g_joinRefused = false;
    const WChar* line = g_platform.commandLine(argc, argv, JoinArgument);
    if (line != nullptr) return line;
    g_joined[g_joinedLength] = 0;
    return g_joined;
}

const WChar* SkipProgramName(const WChar* commandLine) {
    const WChar* name = commandLine;
    WChar end = u' ';
    if (*name == u'"') {
        ++name;
        end = u'"';
    }
    const WChar* found = FindCharBounded(name, 1024, end);
    if (found == nullptr) {
        while (*name != 0) ++name;
        return name;
    }
    return SkipCharsInSet(found + 1, kBlankSet);
}

// --- The arguments ---------------------------------------------------------------

ExitCode ReadArguments(const WChar* arguments, RunOptions& options, const WChar*& fileName) {
    const WChar* position = arguments;
    ExitCode outcome = ParseOptions(position, options);
    if (outcome != ExitUndecided) return outcome;

    // 8 KiB: static, so that a small stack (ulimit -s) still runs the program.
    static WChar name[kFileNameRoom];
    uint32_t room = g_platform.maxPath + 1 < kFileNameRoom ? g_platform.maxPath + 1 : kFileNameRoom;
    const WChar* rest = NextToken(position, name, room, kBlankSet, kTokenFileName);
    // A name as long as the room was cut: refuse it rather than open
    // whatever file the cut name happens to name.
    if (rest == nullptr || name[0] == 0 || WideLengthBounded(name, room) >= room - 1) {
        ReportError(u"Invalid file specification");
        return ExitBadCommandLine;
    }
    rest = SkipCharsInSet(rest, kBlankSet);
    if (*rest != 0) {
        static WChar echo[kEchoRoom];
        ReportError(u"Invalid rest of command line: \"%s\"", EchoText(rest, echo));
        return ExitBadCommandLine;
    }
    fileName = name;
    return ExitUndecided;
}

// --- Tokens ----------------------------------------------------------------------

const WChar* FindCharBounded(const WChar* text, uint32_t bound, WChar c) {
    if (ContractBroken(text == nullptr || bound == 0)) return nullptr;
    for (uint32_t i = 0; i < bound && text[i] != 0; ++i) {
        if (text[i] == c) return text + i;
    }
    return nullptr;
}

bool IsCharInSet(WChar c, const WChar* set) {
    return c != 0 && FindCharBounded(set != nullptr ? set : kBlankSet, kSetBound, c) != nullptr;
}

const WChar* SkipCharsInSet(const WChar* text, const WChar* set) {
    if (ContractBroken(text == nullptr)) return nullptr;
    while (*text != 0 && IsCharInSet(*text, set)) ++text;
    return text;
}

const WChar* NextToken(const WChar* text, WChar* buffer, uint32_t capacity, const WChar* set, uint32_t flags) {
    if (ContractBroken(text == nullptr || (buffer != nullptr && capacity == 0))) return nullptr;
    uint32_t stored = 0;
    const WChar* result = nullptr;
    if (*text != 0) {
        bool quoted = *text == u'"';
        if (quoted) {
            ++text;
            set = u"\"";
        } else if (set == nullptr) {
            set = kBlankSet;
        }
        while (*text != 0) {
            WChar c = *text;
            if (c == u'\\' && (flags & kTokenBackslashEscape) != 0) {
                // A run of backslashes is literal unless a double quote follows
                // it: then each pair stands for one backslash, and an odd one
                // out makes the quote literal. So \\server\share\a.wav and
                // \\?\C:\dir\a.wav keep every backslash, as Windows reads them.
                uint32_t run = 1;
                while (text[run] == u'\\') ++run;
                bool beforeQuote = text[run] == u'"';
                for (uint32_t i = beforeQuote ? run / 2 : run; i > 0; --i) Store(buffer, capacity, stored, u'\\');
                text += run;
                if (!beforeQuote || run % 2 == 0) continue;
                c = *text;
            } else if (c == u'"' && text[1] == u'"' && (flags & kTokenDoubledQuote) != 0) {
                ++text;
            } else if (FindCharBounded(set, kSetBound, c) != nullptr) {
                break;
            }
            Store(buffer, capacity, stored, c);
            ++text;
        }
        if (quoted && *text == u'"') ++text;
        result = text;
    }
    if (buffer != nullptr) buffer[stored] = 0;
    return result;
}

// --- The echo --------------------------------------------------------------------
//
// The rule is in the header; here it is applied. A unit is judged together
// with its neighbour only when the two are a pair (a high half, then a low
// half): that is one character past U+FFFF, and none of those is a control
// or a mark. Every other unit is judged alone, whatever came before it, so a
// lone high half cannot carry the unit after it past the mask.

namespace {

bool IsHighHalf(WChar c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowHalf(WChar c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Whether text[i] and the unit after it are a pair.
bool PairAt(const WChar* text, uint32_t i) { return IsHighHalf(text[i]) && IsLowHalf(text[i + 1]); }

// Whether a name's raw byte stands at text[i]: not the low half of a pair,
// even one whose high half lies just before the text.
bool RawByteAt(const WChar* text, uint32_t i, WChar before) {
    WChar previous = i > 0 ? text[i - 1] : before;
    return g_platform.namesHoldBytes && text[i] >= 0xDC80 && text[i] <= 0xDCFF && !IsHighHalf(previous);
}

// One unit that is not half of a pair within text, as echoed.
WChar EchoAlone(const WChar* text, uint32_t i, WChar before) {
    WChar c = text[i];
    bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
    bool layout = (c >= 0x2028 && c <= 0x2029) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
    bool rawByte = RawByteAt(text, i, before);
    if (control || layout || (rawByte && c <= 0xDC9F)) return u'?';
    // A lone half that is no raw byte, where names hold raw bytes, is half
    // of a character the reading cut ("-" and a character past U+FFFF).
    bool strayHalf = g_platform.namesHoldBytes && !rawByte && (IsHighHalf(c) || IsLowHalf(c));
    return strayHalf ? u'\uFFFD' : c;
}

}  // namespace

const WChar* EchoText(const WChar* text, WChar (&buffer)[kEchoRoom], WChar before) {
    bool changed = false;
    for (uint32_t i = 0; text[i] != 0; ++i) {
        // Most names are printable ASCII, which passes as it is.
        if (text[i] >= 0x20 && text[i] < 0x7F) continue;
        if (PairAt(text, i)) {
            ++i;
            continue;
        }
        // A name's raw byte is a lone low half; UTF-16 output cannot carry it.
        if (RawByteAt(text, i, before)) LinesHoldRawBytes();
        changed = changed || EchoAlone(text, i, before) != text[i];
    }
    if (!changed) return text;
    // As much as fits in one line, and never half of a pair.
    uint32_t n = 0;
    for (uint32_t i = 0; text[i] != 0 && n + 1 + PairAt(text, i) < kEchoRoom; ++i) {
        if (PairAt(text, i)) {
            buffer[n++] = text[i++];
            buffer[n++] = text[i];
        } else {
            buffer[n++] = EchoAlone(text, i, before);
        }
    }
    buffer[n] = 0;
    return buffer;
}
