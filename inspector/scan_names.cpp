// sondrel-scan's names: from the arguments first, then from the list, each
// held in a slot of a ring until its record ends.
#include "inspector/commandline.h"
#include "inspector/scan_parts.h"
#include "runtime/output.h"
#include "platform/scan.h"
#include "platform/text.h"

namespace {

WChar g_names[kScanWindow][kScanNameUnits + 1];
uint8_t g_listBytes[64 * 1024];

// A name's bytes: as many as a name of kScanNameUnits units can take.
uint8_t g_nameBytes[kScanNameUnits * 4];

bool Same(const WChar* a, const char* b) {
    while (*a != 0 && *a == static_cast<uint8_t>(*b)) ++a, ++b;
    return *a == 0 && *b == 0;
}

// The next byte of the list, or -1 at its end (or after a failed read).
int ListByte() {
    ScanState& s = g_scan;
    if (s.listAt == s.listUsed) {
        if (s.listEnded) return -1;
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

// The next name of the list into out; false at its end. Empty entries (a
// last separator, a blank line) name nothing and are passed over.
bool NextListName(WChar* out) {
    const int separator = g_scan.options.nulSeparated ? 0 : '\n';
    for (;;) {
        uint32_t n = 0;
        bool longer = false;
        int c;
        while ((c = ListByte()) >= 0 && c != separator) {
            if (n < sizeof g_nameBytes) {
                g_nameBytes[n++] = static_cast<uint8_t>(c);
            } else {
                longer = true;
            }
        }
        // A list written on Windows ends its lines in CR LF: the CR is part of
        // the line end, not of the name.
        if (separator == '\n' && c == '\n' && n > 0 && !longer && g_nameBytes[n - 1] == '\r') --n;
        if (n == 0 && c < 0) return false;
        if (n == 0) continue;
        uint32_t units = NameFromBytes(g_nameBytes, n, out);
        // Too long for any system: kept too long, so that it is refused.
        if (longer) {
            while (units < kScanNameUnits) out[units++] = u'?';
            out[units] = 0;
        }
        return true;
    }
}

}  // namespace

// The next argument into buffer, cut to capacity - 1 units; false when
// there is none.
bool NextArgument(WChar* buffer, uint32_t capacity) {
    ArgumentCursor& cursor = g_scan.arguments;
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

bool ArgumentsLeft() {
    ArgumentCursor mark = g_scan.arguments;
    static WChar first[2];
    bool left = NextArgument(first, 2);
    g_scan.arguments = mark;
    return left;
}

// Bytes that are not UTF-8 become U+DC80..U+DCFF, which the system's side
// turns back into the same bytes; a NUL byte (in a list of lines) becomes
// U+DC00, which no system takes, so that name is refused, never cut.
uint32_t NameFromBytes(const uint8_t* bytes, uint32_t n, WChar* out) {
    size_t w = BytesToUnits(bytes, n, out, kScanNameUnits);
    if (w > kScanNameUnits) w = kScanNameUnits;
    out[w] = 0;
    return static_cast<uint32_t>(w);
}

bool OpenList() {
    ScanState& s = g_scan;
    if (s.options.listName == nullptr) return true;
    if (Same(s.options.listName, "-")) {
        return g_platform.getStdHandles(&s.list, nullptr, nullptr) && s.list != kNoHandle;
    }
    s.list = g_scanPlatform.openList(s.options.listName);
    s.listOpenedHere = s.list != kNoHandle;
    return s.listOpenedHere;
}

void CloseList() {
    if (g_scan.listOpenedHere) g_scanPlatform.closeList(g_scan.list);
}

const WChar* NextName() {
    ScanState& s = g_scan;
    uint32_t error;
    if (RecordsFailed(&error)) return nullptr;
    WChar* slot = g_names[s.nameNext];
    if (!(s.namesInArguments && NextArgument(slot, kScanNameUnits + 1)) &&
        (s.list == kNoHandle || !NextListName(slot))) {
        return nullptr;
    }
    s.nameNext = (s.nameNext + 1) % kScanWindow;
    return slot;
}

const WChar* RecordName() { return g_names[g_scan.recordSlot]; }

void NextRecordSlot() { g_scan.recordSlot = (g_scan.recordSlot + 1) % kScanWindow; }
