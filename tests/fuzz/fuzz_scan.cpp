// Fuzzes sondrel-scan over a list of names and the files they name: the
// list's reading (new lines or NUL bytes), the names' bytes, each file's walk
// and both kinds of record, in this process, through the fake platform.
//
// The input: a byte of options (bit 0 --json, 1 -0, 2 -o, 3 -f, 4 -v, 5 the
// list given twice, with options run together), the list, then files, each
// after a 0xFE byte and named "1", "2" ... in order.
// A name that begins with "!" is a check that ended early, one with "?" a
// check whose facts do not decode.
//
// Checked on every input: one record for each name of the list, in text as
// one block each, in JSON as one line each of valid UTF-8 with no raw control or mark that reorders, opening
// with the name's string and closing the object; the count on standard error names as many files; every file,
// list and block was released.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "inspector/scan.h"
#include "platform/scan.h"
#include "platform/text.h"
#include "tests/test_support.h"

namespace {

std::string g_list;
size_t g_listAt;
int g_listsOpen;
std::string g_out, g_err;

constexpr OsHandle kList = 77;

void Check(bool property) {
    if (!property) __builtin_trap();
}

OsHandle OpenList(const WChar*) {
    g_listAt = 0;
    ++g_listsOpen;
    return kList;
}
void CloseList(OsHandle list) {
    Check(list == kList);
    --g_listsOpen;
}

bool ReadList(OsHandle, void* buffer, uint32_t count, uint32_t* got) {
    // A few bytes at a time, so that names cross the reads.
    size_t n = g_list.size() - g_listAt;
    if (n > 5) n = 5;
    if (n > count) n = count;
    g_list.copy(static_cast<char*>(buffer), n, g_listAt);
    g_listAt += n;
    *got = static_cast<uint32_t>(n);
    return true;
}

size_t Count(const std::string& text, const std::string& what);
bool g_json;

// Standard output in whole records: at most 4,096 bytes a write, or one record.
bool Write(OsHandle handle, const void* bytes, uint32_t count) {
    const std::string written(static_cast<const char*>(bytes), count);
    if (handle == 1) {
        Check(count > 0 && written.back() == '\n');
        Check(count <= 4096 || Count("\n" + written, g_json ? "\n{" : "\n==> ") == 1);
        const size_t last = g_json ? written.size() - 2 : written.rfind('\n', written.size() - 2) + 1;  // a record's end
        Check(written.compare(last, 14, g_json ? "}\n" : "<== exit code ") == 0);
    }
    (handle == 1 ? g_out : g_err) += written;
    return true;
}

// Each name opened and checked here, in turn, as the Windows backend does. A
// name that begins with "!" stands for a check whose process died after a
// line, by the signal the next unit tells.
bool CheckHere(ScanCheck check, uint32_t flags, const ScanLimits*, const ScanCallbacks* callbacks) {
    for (const WChar* name; (name = callbacks->nextName()) != nullptr;) {
        if (name[0] == u'!') {
            static const uint8_t frame[] = {1, 3, 0, 'a', 'b', '\n'};
            callbacks->recordLines(frame, sizeof frame);
            callbacks->beforeWait();  // a slow check: its record is not whole yet
            callbacks->recordEnd(kScanCheckLost | (name[1] & 0x1F));
            continue;
        }
        if (name[0] == u'?') {  // facts that do not decode: a worker not to be believed
            static const uint8_t frame[] = {1, 2, 0, 'a', '\n', kScanStreamFacts, 1, 0, 0};
            callbacks->recordLines(frame, sizeof frame);
            callbacks->recordEnd(0);
            continue;
        }
        ScanFile file = ScanOpen(name);
        callbacks->recordEnd(check(name, flags, &file, callbacks->recordLines));
    }
    return true;
}

bool ValidUtf8(const std::string& text) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text.data());
    for (size_t i = 0; i < text.size();) {
        uint32_t cp;
        uint32_t length = DecodeUtf8(bytes + i, text.size() - i, &cp);
        if (length == 0 || cp < 0x20 || (cp >= 0x80 && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E)) return false;
        i += length;
    }
    return true;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t options = data[0];
    std::vector<std::string> parts(1);
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0xFE) {
            parts.emplace_back();
        } else {
            parts.back() += static_cast<char>(data[i]);
        }
    }
    FakePlatform fake;
    for (size_t i = 1; i < parts.size(); ++i) {
        std::string name = std::to_string(i);
        fake.files[std::u16string(name.begin(), name.end())] = parts[i];
    }
    ScanPlatform savedScan = g_scanPlatform;
    g_scanPlatform.argumentCount = nullptr;  // the arguments below are one text
    g_scanPlatform.openList = OpenList;
    g_scanPlatform.readList = ReadList;
    g_scanPlatform.closeList = CloseList;
    g_scanPlatform.checkAll = CheckHere;
    g_platform.writeFile = Write;
    g_list = parts[0];
    g_listAt = 0;
    g_out.clear();
    g_err.clear();

    std::u16string arguments = u"--files-from list";
    const bool json = (options & 1) != 0, nul = (options & 2) != 0;
    g_json = json;
    if (json) arguments += u" --json";
    if (nul) arguments += u" -0";
    if (options & 4) arguments += u" -o";
    if (options & 8) arguments += u" -f";
    if (options & 16) arguments += u" -v";
    const bool twice = (options & 32) != 0;
    if (twice) arguments += nul ? u" -0of --files-from=list" : u" -of --files-from=list";
    uint32_t status = ScanMain(arguments.c_str());
    g_scanPlatform = savedScan;

    // The names the list holds: its non-empty entries, in a list of lines
    // past a leading byte order mark and without the CR of a CR LF.
    // Those that begin with "?" are checks whose facts do not decode, unless
    // a NUL byte in the name, or a length past any system's (which only a
    // name of more than 4096 bytes can have), has it refused before any check.
    size_t names = 0, unbelieved = 0, perhaps = 0;
    const char separator = nul ? '\0' : '\n';
    for (size_t at = !nul && g_list.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0; at <= g_list.size();) {
        size_t end = g_list.find(separator, at);
        if (end == std::string::npos) end = g_list.size();
        const bool crLf = !nul && end < g_list.size() && end > at && g_list[end - 1] == '\r';
        if (end - crLf > at) ++names;
        if (end > at && g_list[at] == '?' && g_list.find('\0', at) >= end) ++(end - at > 4096 ? perhaps : unbelieved);
        at = end + 1;
    }
    if (twice) names *= 2, unbelieved *= 2, perhaps *= 2;
    Check(status <= 1 && (names != 0 || status == 0) && (status == 1 || g_list.find_first_of("!?") == std::string::npos));
    // The reason, where no name can forge it: a name's controls and quotes
    // never reach the output as they are.
    const std::string reason = "The check of this file ended early (its facts could not be read)";
    const size_t told = Count(g_out, json ? "\"error\":\"" + reason + "\"}" : "\n" + reason + "\n<== exit code 128\n");
    Check(told >= unbelieved && told <= unbelieved + perhaps);
    if (json) {
        Check(Count(g_out, "\n") == names);
        for (size_t at = 0; at < g_out.size();) {
            size_t end = g_out.find('\n', at);
            const std::string line = g_out.substr(at, end - at);
            Check(line.compare(0, 9, "{\"file\":\"") == 0 && line.back() == '}' && ValidUtf8(line));
            at = end + 1;
        }
    } else {
        // A name's controls show as "?", so no line of a block opens another.
        Check(Count("\n" + g_out, "\n==> ") == names && Count(g_out, "\n<== exit code ") == names);
    }
    const std::string counted = "Checked " + std::to_string(names) + (names == 1 ? " file" : " files");
    Check(g_err.compare(0, counted.size(), counted) == 0);
    Check(fake.openFiles == 0 && fake.liveBlocks == 0 && g_listsOpen == 0);
    return 0;
}
