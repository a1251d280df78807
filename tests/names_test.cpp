// The GUID name table: every row's GUID names itself, whole, except the later
// rows of GUIDs that several rows hold; a stray duplicate, an end row amid a
// group, or a name too long for the report's buffer shows up here. The other
// names the report shows are in tests/data/runs.txt.
#include "waveformat/names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(GuidNames, EveryRowNamesItselfUnlessShadowed) {
    std::string shadowed;
    for (int group = 0; GuidNameGroups[group] != nullptr; ++group) {
        for (const GuidNameRow* row = GuidNameGroups[group]; row->name != 0; ++row) {
            WChar buffer[60];  // as in the report
            GuidToName(buffer, 60, row->guid, nullptr);
            std::u16string name(buffer);
            const std::string own = GuidNamePool + row->name;
            if (std::string(name.begin(), name.end()) != own) shadowed += own + " ";
        }
    }
    EXPECT_EQ(shadowed,
              "KSDATAFORMAT_SUBTYPE_WILDCARD KSDATAFORMAT_SPECIFIER_WILDCARD MEDIATYPE_Audio MEDIATYPE_Video "
              "MEDIASUBTYPE_PCM MEDIASUBTYPE_IEEE_FLOAT TIME_FORMAT_NONE ");
}

}  // namespace
