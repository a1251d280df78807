// Which names the Windows backend refuses as devices or pipes before the
// system sees them: each reserved form, and names that only look like one.
#include <gtest/gtest.h>

#include "platform/devicename.h"
#include "tests/test_support.h"

namespace {

TEST(WindowsDeviceName, ReservedFormsAndLookalikes) {
    const struct { std::u16string name; bool device; } cases[] = {
        // Each reserved name in any case, extension, dots, blanks, colon, stream, folder or drive.
        {u"CON", true}, {u"prn", true}, {u"Aux.wav", true}, {u"NUL:", true}, {u"nul.wav:s", true},
        {u"COM0", true}, {u"com9.wav", true}, {u"COM1:", true}, {u"LPT0:x", true}, {u"lpt9 .a.b", true},
        {u"COM\u00B9", true}, {u"com\u00B2.wav", true}, {u"COM\u00B3:", true}, {u"LPT\u00B9", true},
        {u"lpt\u00B2...", true}, {u"LPT\u00B3  ", true}, {u"CONIN$", true}, {u"conout$.x", true},
        {u"C:\\dir/NUL", true}, {u"c:nul", true}, {u"\\\\?\\C:\\x\\CON.txt", true}, {u"NUL  :s", true},
        // The device and pipe spaces.
        {u"\\\\.\\x", true}, {u"\\??\\C:\\a.wav", true}, {u"\\\\?\\pipe\\x", true}, {u"//host/PIPE/x", true},
        {u"\\\\?\\UNC\\host\\pipe\\x", true}, {u"\\\\host\\pipe", true},
        // Names that are files.
        {u"CONSOLE", false}, {u"COM10", false}, {u"COM", false}, {u"LPT\u2074", false}, {u"COM\u00B9x", false},
        {u"NUL x", false}, {u"xNUL", false}, {u"NUL\\a.wav", false}, {u"a.wav:NUL", false}, {u"C:\\a.wav", false},
        {u"\\\\?\\a:\\b", false}, {u"\\\\host\\pipes\\a.wav", false}, {u"\\\\?\\UNC\\host\\share\\a", false},
        {u"\\\\host", false}, {u"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.name));
        EXPECT_EQ(IsWindowsDeviceName(c.name.c_str()), c.device);
    }
}

}  // namespace
