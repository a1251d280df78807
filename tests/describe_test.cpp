// The short description's two flags, which the report never passes: each
// forces its marker on extensible PCM and on nothing else.
#include "waveformat/describe.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

TEST(Describe, FlagsForceTheMarkers) {
    const std::string stereo16 = Extensible(2, 44100, 16, 16, 0x3, 1);
    const std::string float6 = Extensible(6, 48000, 32, 32, 0x3F, 3);
    const struct { std::string descriptor; uint32_t flags; std::u16string text; } rows[] = {
        {stereo16, 0, u"ExtPCM/44100/16/2"},           {stereo16, 1, u"ExtPCM/44100/16(2)/2"},
        {stereo16, 2, u"ExtPCM/44100/16/2(3)"},        {stereo16, 3, u"ExtPCM/44100/16(2)/2(3)"},
        {Format16(1, 1, 8000, 8), 3, u"PCM/8000/8/1"}, {float6, 3, u"ExtFlt/48000/32/6"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(ToUtf8(r.text));
        WAVEFORMATEXTENSIBLE format{};
        for (size_t i = 0; i < r.descriptor.size(); ++i) format.bytes[i] = static_cast<uint8_t>(r.descriptor[i]);
        WChar text[50];
        uint32_t n = WaveFormatDescribe(format, text, 50, r.flags);
        EXPECT_EQ(std::u16string(text, n), r.text);
    }
}

}  // namespace
