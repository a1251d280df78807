// The name tables and the routines that turn tags, masks and GUIDs into text.
#include "waveformat/names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

GUID TagGuid(uint16_t tag) {
    GUID g = KSDATAFORMAT_SUBTYPE_WAVEFORMATEX;
    g.bytes[0] = uint8_t(tag), g.bytes[1] = uint8_t(tag >> 8);
    return g;
}

TEST(FormatTagName, FirstRowWinsAndMissingTagsHaveNone) {
    struct {
        uint16_t tag;
        const char16_t* expected;
    } const rows[] = {{0x0000, u"UNKNOWN"},     {0x0011, u"DVI_ADPCM"}, {0x2001, u"DTS2"},  {0xFFFE, u"EXTENSIBLE"},
                      {0xFFFF, u"DEVELOPMENT"}, {0x000C, nullptr},      {0x0054, nullptr}, {0x2002, nullptr}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.tag);
        const WChar* name = FormatTagName(row.tag);
        EXPECT_EQ(name ? std::u16string(name) : u"none", row.expected ? row.expected : u"none");
    }
}

TEST(BitMaskToNames, Speakers) {
    struct {
        uint32_t mask;
        const WChar* separator;
        uint32_t capacity;
        const char16_t* expected;
    } const rows[] = {
        {0x3, u" ", 100, u"FL FR"},
        {0x60F, u" ", 100, u"FL FR FC LF SL SR"},
        {0x40003, u" ", 100, u"FL FR 40000"},
        {0x80000000, u" ", 100, u"80000000"},
        {0xFFFFFFFF, u" ", 100, u"FL FR FC LF BL BR FLC FRC BC SL SR TC TFL TFC TFR TBL TBC TBR fffc0000"},
        {0, u" ", 100, u""},
        {0x3, nullptr, 100, u"FL|FR"},
        // Cut where the capacity ends, even right after a separator.
        {0x3, u" ", 4, u"FL "},
        {0x40003, u" ", 8, u"FL FR 4"},
        {0xFFFFFFFF, u" ", 1, u""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.expected));
        WChar buffer[100];
        const uint32_t count = BitMaskToNames(buffer, row.capacity, row.mask, SpeakerNameTable, row.separator);
        EXPECT_EQ(std::u16string(buffer), row.expected);
        EXPECT_EQ(count, std::char_traits<char16_t>::length(row.expected));
    }
}

// A row names all of its bits at once; a bit an earlier row took is not
// named again.
TEST(BitMaskToNames, MultiBitRows) {
    static const BitNameRow table[] = {{0x3, "LR"}, {0x2, "R"}, {0x4, "C"}, {0, nullptr}};
    struct {
        uint32_t mask;
        const char16_t* expected;
    } const rows[] = {{0x2, u"LR"}, {0x6, u"LR|C"}, {0xC, u"C|8"}, {0x18, u"18"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mask);
        WChar buffer[20];
        BitMaskToNames(buffer, 20, row.mask, table, nullptr);
        EXPECT_EQ(std::u16string(buffer), row.expected);
    }
}

TEST(GuidToName, DefaultGroups) {
    struct {
        GUID guid;
        uint32_t capacity;
        const char* expected;
    } const rows[] = {
        {KSDATAFORMAT_SUBTYPE_PCM, 60, "KSDATAFORMAT_SUBTYPE_PCM"},
        {KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, 60, "KSDATAFORMAT_SUBTYPE_IEEE_FLOAT"},
        {KSDATAFORMAT_SUBTYPE_WAVEFORMATEX, 60, "KSDATAFORMAT_SUBTYPE_WAVEFORMATEX"},
        {GUID_NULL, 60, "KSDATAFORMAT_TYPE_WILDCARD"},
        {TagGuid(0x55), 60, "{00000055-0000-0010-8000-00aa00389b71}"},
        {KSDATAFORMAT_SUBTYPE_PCM, 10, "KSDATAFOR"},
        {TagGuid(0x55), 10, "{00000055"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected);
        WChar buffer[60];
        const uint32_t count = GuidToName(buffer, row.capacity, row.guid, nullptr);
        EXPECT_EQ(Narrow(buffer), row.expected);
        EXPECT_EQ(count, std::char_traits<char>::length(row.expected));
    }
}

// Every row's GUID names itself, except the later rows of the five GUIDs
// that several rows hold; a stray duplicate would show up here.
TEST(GuidNameGroups, EveryRowNamesItselfUnlessShadowed) {
    const int expectedRows[] = {6, 4, 18, 4, 7, 14, 14, 5, 6, 134};
    std::string shadowed;
    for (int g = 0; g < 10; ++g) {
        int rows = 0;
        for (const GuidNameRow* row = GuidNameGroups[g]; row->name != nullptr; ++row, ++rows) {
            WChar buffer[60];
            GuidToName(buffer, 60, row->guid, nullptr);
            if (Narrow(buffer) != row->name) shadowed += std::string(row->name) + " ";
        }
        EXPECT_EQ(rows, expectedRows[g]) << g;
    }
    EXPECT_EQ(GuidNameGroups[10], nullptr);
    EXPECT_EQ(shadowed,
              "KSDATAFORMAT_SUBTYPE_WILDCARD KSDATAFORMAT_SPECIFIER_WILDCARD MEDIATYPE_Audio MEDIATYPE_Video "
              "MEDIASUBTYPE_PCM MEDIASUBTYPE_IEEE_FLOAT TIME_FORMAT_NONE ");
}

TEST(GuidToName, OwnGroupListOnly) {
    static const GuidNameRow mine[] = {{KSDATAFORMAT_SUBTYPE_PCM, "mine"}, {}};
    static const GuidNameRow* const groups[] = {mine, nullptr};
    WChar buffer[60];
    GuidToName(buffer, 60, KSDATAFORMAT_SUBTYPE_PCM, groups);
    EXPECT_EQ(Narrow(buffer), "mine");
    GuidToName(buffer, 60, GUID_NULL, groups);
    EXPECT_EQ(Narrow(buffer), "{00000000-0000-0000-0000-000000000000}");
}

// The first row's bytes also pin the order of Data1, Data2 and Data3.
TEST(GuidToText, CaseOrderAndCut) {
    const GUID* category = &GuidNameGroups[0][0].guid;
    struct {
        const GUID* guid;
        bool upperCase;
        uint32_t capacity;
        const char* expected;
    } const rows[] = {
        {&KSDATAFORMAT_SUBTYPE_PCM, true, 40, "00000001-0000-0010-8000-00AA00389B71"},
        {category, true, 40, "6994AD04-93EF-11D0-A3CC-00A0C9223196"},
        {category, false, 37, "6994ad04-93ef-11d0-a3cc-00a0c9223196"},
        {category, true, 9, "6994AD04"},
        {nullptr, true, 40, "GUID_NULL"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected);
        WChar buffer[40];
        const uint32_t count = GuidToText(buffer, row.capacity, row.guid, row.upperCase);
        EXPECT_EQ(Narrow(buffer), row.expected);
        EXPECT_EQ(count, std::char_traits<char>::length(row.expected));
    }
}

}  // namespace
