// What both backends of sondrel-scan do alike: which names the walk may be
// given, and opening them as a sondrel run opens its file.
#include "platform/scan.h"

bool ScanNameFits(const WChar* name) {
    uint32_t n = 0;
    while (n < g_platform.maxPath && name[n] != 0) ++n;
    return n > 0 && n < g_platform.maxPath;
}

ScanFile ScanOpen(const WChar* name) {
    ScanFile file = {kNoHandle, 0, 0, 0};
    if (!ScanNameFits(name)) return file;
    file.handle = g_platform.openFile(name);
    if (file.handle == kNoHandle) {
        file.openError = g_platform.lastError();
    } else if (!g_platform.fileSize(file.handle, &file.size)) {
        file.sizeError = g_platform.lastError();
    }
    return file;
}
