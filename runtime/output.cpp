// The output channel. The line buffer lives on the stack and each line goes
// out in one write, so lines never interleave and nothing is allocated.
#include "runtime/output.h"

#include "runtime/runtime.h"

bool GetStdStreams(OsHandle* input, OsHandle* output, OsHandle* error) {
    OsHandle handles[3];
    if (!g_platform.getStdHandles(&handles[0], &handles[1], &handles[2])) return false;
    if (input != nullptr) *input = handles[0];
    if (output != nullptr) *output = handles[1];
    if (error != nullptr) *error = handles[2];
    return true;
}

bool WriteTextLine(OsHandle handle, const WChar* format, const uint64_t* slots, uint32_t slotCount,
                   bool appendLineEnd) {
    WChar line[1024];
    uint32_t count = FormatTextV(line, appendLineEnd ? 1022 : 1024, format, slots, slotCount);
    if (appendLineEnd) {
        line[count++] = u'\r';
        line[count++] = u'\n';
    }
    bool console = g_platform.isConsole(handle);
    if (count == 0) return true;
    if (console) return g_platform.writeConsole(handle, line, count);
    return g_platform.writeFile(handle, line, count * 2);
}

void PrintMessageV(const WChar* format, const uint64_t* slots, uint32_t slotCount) {
    WriteTextLine(g_runtime.outputHandle, format, slots, slotCount, true);
}

void ReportErrorV(const WChar* format, const uint64_t* slots, uint32_t slotCount) {
    WriteTextLine(g_runtime.errorHandle, format, slots, slotCount, true);
}
