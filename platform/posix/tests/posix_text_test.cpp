// The POSIX backend's UTF-8: a name's bytes that were not UTF-8 arrive as
// U+DC80..U+DCFF and go back as those bytes, on a terminal, in a UTF-8
// stream and in the name that is opened.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/test_support.h"

namespace {

TEST(PosixText, EscapedBytesGoBack) {
    const struct { std::u16string units; std::string bytes; } cases[] = {
        {u"\xDC80\xDCE9\xDCFF.wav", "\x80\xE9\xFF.wav"},
        {u"\u00E9t\u00E9", "\xC3\xA9t\xC3\xA9"},
        // A pair is a pair even when its low half is in the escape range.
        {u"\xD800\xDC80", "\xF0\x90\x82\x80"},
        // Other lone halves are no byte: U+FFFD.
        {u"\xDC7F\xDD00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.units));
        uint8_t bytes[64];
        uint32_t n = g_platform.toUtf8(c.units.data(), uint32_t(c.units.size()), bytes);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), n), c.bytes);
    }
}

}  // namespace
