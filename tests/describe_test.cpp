// The short description of formats the report never describes: those that
// are neither PCM nor float go by their tag, an extensible one by the tag
// its SubFormat stands for.
#include "waveformat/describe.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/recipe.h"

namespace {

TEST(Describe, OtherFormatsGoByTheirTag) {
    const struct { std::string descriptor; std::u16string text; } rows[] = {
        {Format16(2, 1, 8000, 4), u"(2)/8000/4/1"},
        {Extensible(2, 48000, 16, 16, 3, 0x55), u"Ext(55)/48000/16/2"},
    };
    for (const auto& r : rows) {
        WAVEFORMATEXTENSIBLE format = {};
        std::memcpy(format.bytes, r.descriptor.data(), r.descriptor.size());
        WChar text[50];
        EXPECT_EQ(std::u16string(text, WaveFormatDescribe(format, text, 50, 0)), r.text);
    }
}

}  // namespace
