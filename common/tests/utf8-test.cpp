#include "utf8.h"

#include <gtest/gtest.h>

#include "json-line.h"
#include "text.h"

namespace pelko {
namespace {

const std::string replacement = "\xEF\xBF\xBD";

TEST(RepairUTF8, KeepsValidTextAsItIs) {
    const std::string text = "plain · ⏎ 👍🏽 🇫🇷 e\xCC\x81";
    EXPECT_TRUE(isValidUTF8(text));
    EXPECT_EQ(repairUTF8(text), text);
}

TEST(RepairUTF8, ReplacesEachMaximalInvalidSubpartOnce) {
    // A lone continuation byte, a truncated three-byte sequence, an overlong two-byte form
    // (both bytes invalid), a surrogate half, and a sequence cut at the end of the text.
    EXPECT_EQ(repairUTF8("a\x80z"), "a" + replacement + "z");
    EXPECT_EQ(repairUTF8("a\xE2\x82z"), "a" + replacement + "z");
    EXPECT_EQ(repairUTF8("\xC0\xAF"), replacement + replacement);
    EXPECT_EQ(repairUTF8("\xED\xA0\x80"), replacement + replacement + replacement);
    EXPECT_EQ(repairUTF8("ok\xF0\x9F\x98"), "ok" + replacement);
    EXPECT_FALSE(isValidUTF8("\xFF"));
    EXPECT_TRUE(isValidUTF8(repairUTF8("\xFF\xFE\xC3")));
}

TEST(CompactJSON, WritesNoWhiteSpaceAndRefusesInvalidText) {
    EXPECT_EQ(compactJSON(JSON{{"a", 1}, {"b", JSON::array({true, nullptr})}}),
              R"({"a":1,"b":[true,null]})");
    EXPECT_EQ(compactJSON(JSON{{"a", "\xFF"}}), std::nullopt);
    EXPECT_EQ(parseJSON("[1"), std::nullopt);
    EXPECT_EQ(parseJSON(" 3 "), JSON(3));
}

TEST(Text, LowersAndTrimsBeyondAscii) {
    EXPECT_EQ(lowerCased("CAFÉ Ångström ΣΟΦΊΑ"), "café ångström σοφία");
    EXPECT_EQ(lowerCased("bad \xFF KEEP"), "bad \xFF keep");
    EXPECT_EQ(trimmedWhitespace("\u00A0\u2003 Notes\u2028\n"), "Notes");
    EXPECT_EQ(trimmedWhitespace(" a b "), "a b");
    EXPECT_EQ(trimmedWhitespace("\u3000"), "");
}

TEST(CodePoints, WalksEveryByteOnceAndReadsInvalidBytesAsReplacement) {
    // "é" (2 bytes), a lone continuation byte, "👍" (4 bytes), a truncated 3-byte sequence
    // (2 bytes, each a step of its own), "z".
    const std::string text = "\xC3\xA9\x80\xF0\x9F\x91\x8D\xE2\x82z";
    struct Step {
        char32_t value;
        size_t offset, length;
        bool valid;
    };
    const std::vector<Step> expected = {{U'\u00E9', 0, 2, true},     {U'\uFFFD', 2, 1, false},
                                        {U'\U0001F44D', 3, 4, true}, {U'\uFFFD', 7, 1, false},
                                        {U'\uFFFD', 8, 1, false},    {U'z', 9, 1, true}};
    std::vector<Step> seen;
    for (const CodePoint& step : CodePoints(text))
        seen.push_back({step.value, step.offset, step.length, step.valid});
    ASSERT_EQ(seen.size(), expected.size());
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].value, expected[i].value) << i;
        EXPECT_EQ(seen[i].offset, expected[i].offset) << i;
        EXPECT_EQ(seen[i].length, expected[i].length) << i;
        EXPECT_EQ(seen[i].valid, expected[i].valid) << i;
    }
    EXPECT_EQ(firstCodePoint(""), std::nullopt);
    EXPECT_EQ(firstCodePoint("\xFF"
                             "a"),
              U'\uFFFD');
}

TEST(CodePoints, AppendUTF8EncodesEveryLengthAndRefusesSurrogates) {
    std::string text;
    for (char32_t scalar : {U'a', U'\u00E9', U'\u20AC', U'\U0001F600'}) appendUTF8(text, scalar);
    EXPECT_EQ(text, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    std::string refused;
    appendUTF8(refused, 0xD800);
    appendUTF8(refused, 0x110000);
    EXPECT_EQ(refused, replacement + replacement);
    std::u32string back;
    for (const CodePoint& step : CodePoints(text)) back.push_back(step.value);
    EXPECT_EQ(back, U"a\u00E9\u20AC\U0001F600");
}

}  // namespace
}  // namespace pelko
