// The name tables and the routines that turn tags, masks and GUIDs into text.
#include "waveformat/names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

TEST(FormatTagName, FirstRowWinsAndMissingTagsHaveNone) {
    const struct { uint16_t tag; const char16_t* expected; } rows[] = {
        {0x0000, u"UNKNOWN"}, {0x0011, u"DVI_ADPCM"}, {0xFFFF, u"DEVELOPMENT"}, {0x000C, u"none"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.tag);
        const WChar* name = FormatTagName(row.tag);
        EXPECT_EQ(name ? std::u16string(name) : u"none", row.expected);
    }
}

// A row names all of its bits at once, so a bit an earlier row took is not
// named again; the bits no row names come last, as one number.
TEST(BitMaskToNames, NamesThenTheRestCutToCapacity) {
    static const BitNameRow pairs[] = {{0x3, "LR"}, {0x2, "R"}, {0x4, "C"}, {0, nullptr}};
    const BitNameRow* const speakers = SpeakerNameTable;
    const struct {
        const BitNameRow* table; uint32_t mask, capacity; const WChar* separator; const char16_t* expected;
    } rows[] = {
        {speakers, 0x60F, 100, u" ", u"FL FR FC LF SL SR"},
        {speakers, 0xFFFFFFFF, 100, u" ", u"FL FR FC LF BL BR FLC FRC BC SL SR TC TFL TFC TFR TBL TBC TBR fffc0000"},
        {speakers, 0x80000000, 100, u" ", u"80000000"},
        {speakers, 0, 100, u" ", u""},
        {pairs, 0x6, 100, nullptr, u"LR|C"},
        // Cut where the capacity ends, even right after a separator.
        {speakers, 0x3, 4, u" ", u"FL "},
        {speakers, 0x40003, 8, u" ", u"FL FR 4"},
        {speakers, 0xFFFFFFFF, 1, u" ", u""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.expected));
        WChar buffer[100];
        const uint32_t count = BitMaskToNames(buffer, row.capacity, row.mask, row.table, row.separator);
        EXPECT_EQ(std::u16string(buffer), row.expected);
        EXPECT_EQ(count, std::char_traits<char16_t>::length(row.expected));
    }
}

// Every row's GUID names itself, except the later rows of GUIDs that several
// rows hold; a stray duplicate, or an end row amid a group, shows up here.
TEST(GuidNameGroups, EveryRowNamesItselfUnlessShadowed) {
    std::string shadowed;
    for (int group = 0; GuidNameGroups[group] != nullptr; ++group) {
        for (const GuidNameRow* row = GuidNameGroups[group]; row->name != nullptr; ++row) {
            WChar buffer[60];
            GuidToName(buffer, 60, row->guid, nullptr);
            if (Narrow(buffer) != row->name) shadowed += std::string(row->name) + " ";
        }
    }
    EXPECT_EQ(shadowed,
              "KSDATAFORMAT_SUBTYPE_WILDCARD KSDATAFORMAT_SPECIFIER_WILDCARD MEDIATYPE_Audio MEDIATYPE_Video "
              "MEDIASUBTYPE_PCM MEDIASUBTYPE_IEEE_FLOAT TIME_FORMAT_NONE ");
}

// An own list replaces the default one; a GUID no row holds is shown in
// braces; GuidToText also writes upper case, and a missing GUID by name.
TEST(GuidToName, NamedOrInBraces) {
    static const GuidNameRow mine[] = {{KSDATAFORMAT_SUBTYPE_PCM, "mine"}, {}};
    static const GuidNameRow* const own[] = {mine, nullptr};
    const GUID category = GuidNameGroups[0][0].guid;
    const struct { GUID guid; const GuidNameRow* const* groups; uint32_t capacity; const char* expected; } rows[] = {
        {KSDATAFORMAT_SUBTYPE_PCM, nullptr, 10, "KSDATAFOR"},
        {category, own, 60, "{6994ad04-93ef-11d0-a3cc-00a0c9223196}"},
        {category, own, 10, "{6994ad04"},
        {KSDATAFORMAT_SUBTYPE_PCM, own, 60, "mine"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected);
        WChar buffer[60];
        EXPECT_EQ(GuidToName(buffer, row.capacity, row.guid, row.groups), std::char_traits<char>::length(row.expected));
        EXPECT_EQ(Narrow(buffer), row.expected);
    }
    WChar upper[37], none[10];
    EXPECT_EQ(GuidToText(upper, 37, &category, true), 36u);
    EXPECT_EQ(GuidToText(none, 10, nullptr, true), 9u);
    EXPECT_EQ(Narrow(upper) + " " + Narrow(none), "6994AD04-93EF-11D0-A3CC-00A0C9223196 GUID_NULL");
}

}  // namespace
