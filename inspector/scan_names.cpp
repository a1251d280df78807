// sondrel-scan's names: from the arguments first, then from each list in
// turn, each name held in a slot of a ring until its record ends.
#include "inspector/commandline.h"
#include "inspector/scan_parts.h"
#include "runtime/output.h"
#include "platform/scan.h"
#include "platform/text.h"

namespace {

WChar g_names[kScanWindow][kScanNameUnits + 1];
// Each name's length in units. A NUL byte that a list of lines held is a
// unit 0 inside the name: the length, not a mark in the text, says so.
uint32_t g_nameUnits[kScanWindow];
WChar g_shown[kScanNameUnits + 1];
uint8_t g_listBytes[64 * 1024];
// The name of the list being read: room for "--files-from=" and a name.
constexpr uint32_t kListNameRoom = kScanNameUnits + 14;
WChar g_listName[kListNameRoom];

// A name's bytes: as many as a name of kScanNameUnits units can take.
uint8_t g_nameBytes[kScanNameUnits * 4];

bool HoldsNul(const WChar* name, uint32_t units) {
    for (uint32_t i = 0; i < units; ++i) {
        if (name[i] == 0) return true;
    }
    return false;
}

bool Same(const WChar* a, const char* b) {
    while (*a != 0 && *a == static_cast<uint8_t>(*b)) ++a, ++b;
    return *a == 0 && *b == 0;
}

// The next byte of the list, or -1 at its end (or after a failed read).
int ListByte() {
    ScanState& s = g_scan;
    if (s.listAt == s.listUsed) {
        if (s.listEnded) return -1;
        // A list may keep the next name waiting (a pipe, a FIFO): what is
        // finished goes out first, rather than wait for it or be lost with it.
        RecordsFlush();
        uint32_t got = 0;
        if (!g_scanPlatform.readList(s.list, g_listBytes, sizeof g_listBytes, &got)) {
            s.listFailed = true;
            s.listError = g_platform.lastError();
            got = 0;
        }
        if (got == 0) {
            s.listEnded = true;
            return -1;
        }
        s.listUsed = got;
        s.listAt = 0;
    }
    return g_listBytes[s.listAt++];
}

// The next name of the list into out and its length into *units; false at
// its end. Empty entries (a last separator, a blank line) name nothing and
// are passed over.
bool NextListName(WChar* out, uint32_t* units) {
    const bool lines = !g_scan.options.nulSeparated;
    for (;;) {
        uint32_t n = 0;
        bool longer = false;
        int c;
        while ((c = ListByte()) >= 0 && c != (lines ? '\n' : 0)) {
            if (n < sizeof g_nameBytes) {
                g_nameBytes[n++] = static_cast<uint8_t>(c);
            } else {
                longer = true;
            }
        }
        if (n == 0 && c < 0) {
            // The next list, if any, after a list that has ended well.
            if (g_scan.listFailed || g_scan.listsOpened == g_scan.options.lists) return false;
            CloseList();
            RecordsFlush();  // the next list may be a FIFO that waits for its writer
            if (!OpenList()) {
                g_scan.listFailed = g_scan.listUnopened = true;
                g_scan.listError = g_platform.lastError();
                return false;
            }
            continue;
        }
        // A text file made on Windows or by an editor may open with a byte
        // order mark and end its lines with CR LF: neither belongs to a name.
        // A list of -0 is taken byte for byte.
        uint32_t from = 0;
        if (lines && !g_scan.listBegun && n >= 3 && g_nameBytes[0] == 0xEF && g_nameBytes[1] == 0xBB &&
            g_nameBytes[2] == 0xBF) {
            from = 3;
        }
        g_scan.listBegun = true;
        if (lines && c == '\n' && !longer && n > from && g_nameBytes[n - 1] == '\r') --n;
        if (n == from) continue;
        *units = NameFromBytes(g_nameBytes + from, n - from, out);
        // Too long for any system: kept too long, so that it is refused.
        if (longer) {
            while (*units < kScanNameUnits) out[(*units)++] = u'?';
            out[*units] = 0;
        }
        return true;
    }
}

bool NextArgumentAt(ArgumentCursor& cursor, WChar* buffer, uint32_t capacity) {
    if (g_scanPlatform.argumentCount != nullptr) {
        if (cursor.index >= g_scanPlatform.argumentCount()) return false;
        g_scanPlatform.argument(cursor.index++, buffer, capacity);
        return true;
    }
    if (*cursor.position == 0) return false;
    const WChar* rest = NextToken(cursor.position, buffer, capacity, kBlankSet, kTokenFileName);
    cursor.position = SkipCharsInSet(rest, kBlankSet);
    return true;
}

// The name of the next list into g_listName. The lists are found again in
// the options, in their order, each when the one before it has ended, so
// that any number of them takes no room. The options were read once
// already: there are as many lists as they counted.
void FindNextList() {
    static const char kOption[] = "--files-from";
    while (NextArgumentAt(g_scan.listSearch, g_listName, kListNameRoom)) {
        uint32_t i = 0;
        while (kOption[i] != 0 && g_listName[i] == static_cast<uint8_t>(kOption[i])) ++i;
        if (kOption[i] != 0) continue;
        if (g_listName[i] == 0) {
            NextArgumentAt(g_scan.listSearch, g_listName, kScanNameUnits + 1);
            return;
        }
        if (g_listName[i] != u'=') continue;
        uint32_t k = 0;
        for (++i; g_listName[i] != 0; ++i) g_listName[k++] = g_listName[i];
        g_listName[k] = 0;
        return;
    }
}

}  // namespace

// The next argument into buffer, cut to capacity - 1 units; false when
// there is none.
bool NextArgument(WChar* buffer, uint32_t capacity) { return NextArgumentAt(g_scan.arguments, buffer, capacity); }

bool ArgumentsLeft() {
    ArgumentCursor mark = g_scan.arguments;
    static WChar first[2];
    bool left = NextArgument(first, 2);
    g_scan.arguments = mark;
    return left;
}

// Bytes that are not UTF-8 become U+DC80..U+DCFF, which the system's side
// turns back into the same bytes; a NUL byte (in a list of lines) stays a
// unit 0, which the length returned counts.
uint32_t NameFromBytes(const uint8_t* bytes, uint32_t n, WChar* out) {
    size_t w = BytesToUnits(bytes, n, out, kScanNameUnits);
    if (w > kScanNameUnits) w = kScanNameUnits;
    out[w] = 0;
    return static_cast<uint32_t>(w);
}

bool OpenList() {
    ScanState& s = g_scan;
    FindNextList();
    ++s.listsOpened;
    s.listBegun = s.listEnded = false;
    if (Same(g_listName, "-")) {
        return g_platform.getStdHandles(&s.list, nullptr, nullptr) && s.list != kNoHandle;
    }
    s.list = g_scanPlatform.openList(g_listName);
    s.listOpenedHere = s.list != kNoHandle;
    return s.listOpenedHere;
}

void CloseList() {
    if (g_scan.listOpenedHere) g_scanPlatform.closeList(g_scan.list);
    g_scan.listOpenedHere = false;
    g_scan.list = kNoHandle;
}

const WChar* ListName() { return g_listName; }

const WChar* NextName() {
    ScanState& s = g_scan;
    uint32_t error;
    if (RecordsFailed(&error)) return nullptr;
    WChar* slot = g_names[s.nameNext];
    uint32_t& units = g_nameUnits[s.nameNext];
    if (s.namesInArguments && NextArgument(slot, kScanNameUnits + 1)) {
        units = WideLengthBounded(slot, kScanNameUnits + 1);
    } else if (s.list == kNoHandle || !NextListName(slot, &units)) {
        s.namesTotal = s.namesGiven;
        return nullptr;
    }
    ++s.namesGiven;
    s.nameNext = (s.nameNext + 1) % kScanWindow;
    // A name that held a NUL byte is one no system can have. Its check gets
    // the empty name, which every run refuses unopened, never the name cut at
    // the NUL; its record still shows the name whole.
    return HoldsNul(slot, units) ? u"" : slot;
}

const WChar* RecordName(uint32_t* units) {
    *units = g_nameUnits[g_scan.recordSlot];
    return g_names[g_scan.recordSlot];
}

const WChar* ShownName(const WChar* name, uint32_t units) {
    if (!HoldsNul(name, units)) return name;
    for (uint32_t i = 0; i < units; ++i) g_shown[i] = name[i] != 0 ? name[i] : 0xFFFD;
    g_shown[units] = 0;
    return g_shown;
}

bool ShownExactly(const WChar* name, uint32_t units) {
    for (size_t i = 0; i < units;) {
        uint32_t c = NextCodePoint(name, units, &i);
        if (c == 0 || (c >= 0xD800 && c <= 0xDFFF)) return false;
    }
    return true;
}

void NextRecordSlot() { g_scan.recordSlot = (g_scan.recordSlot + 1) % kScanWindow; }
