// System error texts: "<code> - <description>". The description comes from an
// installed provider, the system's message tables, or a fallback text.
#include "runtime/errortext.h"

#include "platform/platform.h"
#include "runtime/format.h"
#include "runtime/state.h"

namespace {

constexpr uint32_t kFacilityWin32 = 7;

// Trailing TAB, LF, CR, space and full stop are dropped from a system text;
// its first character always stays.
constexpr uint64_t kTrimmedCharacters = 0x400100002600ull;

uint32_t TrimDescription(WChar* text, uint32_t length) {
    while (length > 1 && text[length - 1] <= 46 && ((kTrimmedCharacters >> text[length - 1]) & 1) != 0) {
        text[--length] = 0;
    }
    return length;
}

}  // namespace

uint32_t SystemErrorText(WChar* buffer, uint32_t capacity, uint32_t code, void* module) {
    uint32_t savedError = g_platform.lastError();
    uint32_t prefix = FormatText(buffer, capacity, code <= 0xFFFF ? u"%u - " : u"%#08X - ", code);
    WChar* description = buffer + prefix;
    uint32_t space = capacity - prefix;
    uint32_t length = 0;

    if (g_runtime.errorTextProvider != nullptr) length = g_runtime.errorTextProvider(description, space, code);
    if (length == 0) {
        uint32_t facility = (code >> 16) & 0x1FFF;
        uint32_t low = code & 0xFFFF;
        if (module == nullptr && (facility == 0 || facility == kFacilityWin32) && low >= 12000 && low <= 12499) {
            module = g_platform.moduleHandle(u"wininet.dll");
        }
        length = g_platform.systemMessage(description, space, facility == kFacilityWin32 ? low : code, module);
    }
    if (length != 0) {
        length = TrimDescription(description, length);
    } else {
        for (ErrorTextProvider provider : g_runtime.fallbackErrorTextProviders) {
            if (provider != nullptr && (length = provider(description, space, code)) != 0) break;
        }
        if (length == 0) length = FormatText(description, space, u"*** no error description ***");
    }
    g_platform.setLastError(savedError);
    return prefix + length;
}
