// The command line and the run: streams, start-up, options, the one file
// name, the walk, and the ending that every path goes through.
#include "inspector/toolmain.h"

#include "inspector/walk.h"
#include "runtime/contract.h"
#include "runtime/output.h"
#include "runtime/runtime.h"

const WChar kBlankSet[] = u" \t";

namespace {

constexpr uint32_t kSetBound = 50;

// Room for the longest path any backend takes (PATH_MAX on Linux) plus one
// character, so a name that is too long can be told from one that fits.
constexpr uint32_t kFileNameRoom = 4096 + 1;

const WChar kUsageText[] =
    u"\r\n"
    u"sondrel %u.%u.%u.%u - RIFF/WAVE file inspector, by the sondrel developers\r\n"
    u"https://sondrel.org/\r\n"
    u"\r\n"
    u"Arguments: [<Options>] <Wave file>\r\n"
    u"\r\n"
    u"Options:\r\n"
    u"\r\n"
    u"-o - print format descriptor and data offsets.\r\n"
    u"-f - print format descriptor fields.\r\n"
    u"-v - verbose mode.\r\n";

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
            ReportError(u"No space after option: \"%s\"", EchoText(position + 2, echo));
            return ExitBadCommandLine;
        }
        position = SkipCharsInSet(position + 2, kBlankSet);
        switch (letter) {
            case u'f': options.printFields = true; break;
            case u'o': options.printOffsets = true; break;
            case u'v': options.verbose = true; break;
            default:
                ReportError(u"Invalid option \"%c\"", EchoChar(letter));
                outcome = ExitBadCommandLine;
                break;
        }
    }
    return outcome;
}

ExitCode Run(const WChar* arguments) {
    if (!RuntimeStartup()) {
        ReportError(u"Cannot initialize application");
        return ExitNoRuntime;
    }
    const WChar* position = SkipCharsInSet(arguments, kBlankSet);
    if (*position == 0) {
        PrintMessage(kUsageText, SONDREL_VERSION_MAJOR, SONDREL_VERSION_MINOR, SONDREL_VERSION_PATCH,
                     SONDREL_VERSION_BUILD);
        return ExitUsage;
    }
    RunOptions options{false, false, false};
    ExitCode outcome = ParseOptions(position, options);
    if (outcome != ExitUndecided) return outcome;

    // 8 KiB: static, so that a small stack (ulimit -s) still runs the program.
    static WChar fileName[kFileNameRoom];
    uint32_t room = g_platform.maxPath + 1 < kFileNameRoom ? g_platform.maxPath + 1 : kFileNameRoom;
    const WChar* rest = NextToken(position, fileName, room, kBlankSet, kTokenFileName);
    // A name as long as the room was cut: refuse it rather than open
    // whatever file the cut name happens to name.
    if (rest == nullptr || fileName[0] == 0 || WideLengthBounded(fileName, room) >= room - 1) {
        ReportError(u"Invalid file specification");
        return ExitBadCommandLine;
    }
    rest = SkipCharsInSet(rest, kBlankSet);
    if (*rest != 0) {
        static WChar echo[kEchoRoom];
        ReportError(u"Invalid rest of command line: \"%s\"", EchoText(rest, echo));
        return ExitBadCommandLine;
    }
    return WalkChunks(fileName, options);
}

void CloseStream(OsHandle& handle) {
    if (handle == kNoHandle) return;
    g_platform.closeHandle(handle);
    handle = kNoHandle;
}

// A character taken into a token is kept while the buffer has room; the
// rest of the token is read on and dropped.
void Store(WChar* buffer, uint32_t capacity, uint32_t& stored, WChar c) {
    if (buffer != nullptr && stored + 1 < capacity) buffer[stored++] = c;
}

}  // namespace

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

ExitCode ToolMain(const WChar* arguments) {
    RuntimeState& rt = g_runtime;
    if (!GetStdStreams(nullptr, &rt.outputHandle, &rt.errorHandle)) {
        rt.outputHandle = kNoHandle;
        rt.errorHandle = kNoHandle;
        RuntimeShutdown();
        return ExitNoStreams;
    }
    ExitCode outcome = Run(arguments);
    // A report that did not all arrive is no success, though the file was
    // fine: a script that keeps it must learn that it is cut.
    uint32_t error;
    if (outcome == ExitSuccess && OutputLost(&error)) {
        WChar text[256];
        g_memoryHooks.errorText(text, 256, error);
        ReportError(u"Cannot write output (%s)", text);
        outcome = ExitNoStreams;
    }
    CloseStream(rt.outputHandle);
    CloseStream(rt.errorHandle);
    RuntimeShutdown();
    return outcome;
}
