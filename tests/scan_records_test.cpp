// sondrel-scan's records: the facts as they cross from the worker, which may
// be hostile, and the JSON strings every record is made of.
#include <gtest/gtest.h>

#include <string>

#include "inspector/facts.h"
#include "inspector/scan_parts.h"

namespace {

std::string Encoded(const WaveFacts& facts) {
    uint8_t bytes[kFactsMaxBytes];
    return std::string(reinterpret_cast<char*>(bytes), EncodeFacts(facts, bytes));
}

bool Decodes(const std::string& bytes) {
    static WaveFacts facts;
    return DecodeFacts(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()), &facts);
}

TEST(ScanRecords, FactsDecodeOnlyWhenEveryLengthAgrees) {
    static WaveFacts full{kFactFileSize | kFactHeader | kFactFormat | kFactData, 100, 92, 4096, {}, 44, 8, 70, {}};
    full.chunks[63] = {{'d', 'a', 't', 'a'}, 36, 8};
    const std::string many = Encoded(full);
    ASSERT_EQ(many.size(), kFactsMaxBytes);
    static WaveFacts back;
    ASSERT_TRUE(DecodeFacts(reinterpret_cast<const uint8_t*>(many.data()), uint32_t(many.size()), &back));
    EXPECT_EQ(Encoded(back), many);

    const std::string none = Encoded(WaveFacts{});
    auto with = [](std::string bytes, size_t at, char value) { return bytes[at] = value, bytes; };
    const size_t count = 1 + 4 * 3 + 40 + 4 * 2, listed = count + 4, formatSize = 1 + 4 * 2;
    struct {
        const char* name;
        std::string bytes;
        bool decodes;
    } cases[] = {
        {"nothing known", none, true},
        {"a byte short", none.substr(0, none.size() - 1), false},
        {"a byte over", none + '\0', false},
        {"an unknown bit", with(none, 0, 16), false},
        {"a chunk counted but not listed", with(none, count, 1), false},
        {"a chunk listed but not counted", with(none, listed, 1) + std::string(12, '\0'), false},
        {"more listed than the cap", with(with(many, listed, 65), count, 65) + std::string(12, '\0'), false},
        {"past the cap, fewer listed", many.substr(0, many.size() - 12), false},
        {"a descriptor size without a descriptor", with(none, formatSize, 16), false},
        {"a descriptor of 15 bytes", with(with(none, 0, kFactFormat), formatSize, 15), false},
        {"a descriptor of 16 bytes", with(with(none, 0, kFactFormat), formatSize, 16), true},
    };
    for (const auto& c : cases) EXPECT_EQ(Decodes(c.bytes), c.decodes) << c.name;
}

TEST(ScanRecords, JsonStrings) {
    struct {
        const char* name;
        std::string in;
        uint32_t room;
        const char* out;  // null: does not fit
        bool exact;
    } cases[] = {
        {"plain", "a b", 64, "\"a b\"", true},
        {"quote and backslash", "\"\\", 64, "\"\\\"\\\\\"", true},
        {"controls and DEL", std::string("\x01\n\x1f\x7f", 4), 64, "\"\\u0001\\u000a\\u001f\x7f\"", true},
        {"C1 and marks that reorder or break lines", "\xc2\x9b\xe2\x80\xae\xe2\x80\xa8", 64, "\"\\u009b\\u202e\\u2028\"", true},
        {"not UTF-8", "\xe9x\xed\xa0\x80", 64, "\"\xef\xbf\xbdx\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\"", false},
        {"UTF-8 of four bytes", "\xf0\x9f\x8e\xb5", 64, "\"\xf0\x9f\x8e\xb5\"", true},
        {"exactly the room", "ab", 4, "\"ab\"", true},
        {"a byte too few", "ab", 3, nullptr, true},
    };
    for (const auto& c : cases) {
        uint8_t out[64] = {'x'};
        uint32_t used = 1;  // appended after what is there
        bool exact = true;
        bool fits = JsonString(reinterpret_cast<const uint8_t*>(c.in.data()), uint32_t(c.in.size()), out, c.room + 1,
                               &used, &exact);
        ASSERT_EQ(fits, c.out != nullptr) << c.name;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), used), std::string("x") + (fits ? c.out : "")) << c.name;
        EXPECT_EQ(exact, c.exact) << c.name;
    }
}

}  // namespace
