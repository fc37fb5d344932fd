#include "utf8.h"

#include <gtest/gtest.h>

#include "json-line.h"
#include "text.h"

namespace pelko {
namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

TEST(RepairUtf8, KeepsValidTextAsItIs) {
    const std::string text = "plain · ⏎ 👍🏽 🇫🇷 e\xCC\x81";
    EXPECT_TRUE(isValidUtf8(text));
    EXPECT_EQ(repairUtf8(text), text);
}

TEST(RepairUtf8, ReplacesEachMaximalInvalidSubpartOnce) {
    // A lone continuation byte, a truncated three-byte sequence, an overlong two-byte form
    // (both bytes invalid), a surrogate half, and a sequence cut at the end of the text.
    EXPECT_EQ(repairUtf8("a\x80z"), "a" + kReplacement + "z");
    EXPECT_EQ(repairUtf8("a\xE2\x82z"), "a" + kReplacement + "z");
    EXPECT_EQ(repairUtf8("\xC0\xAF"), kReplacement + kReplacement);
    EXPECT_EQ(repairUtf8("\xED\xA0\x80"), kReplacement + kReplacement + kReplacement);
    EXPECT_EQ(repairUtf8("ok\xF0\x9F\x98"), "ok" + kReplacement);
    EXPECT_FALSE(isValidUtf8("\xFF"));
    EXPECT_TRUE(isValidUtf8(repairUtf8("\xFF\xFE\xC3")));
}

TEST(CompactJson, WritesNoWhiteSpaceAndRefusesInvalidText) {
    EXPECT_EQ(compactJson(Json{{"a", 1}, {"b", Json::array({true, nullptr})}}),
              R"({"a":1,"b":[true,null]})");
    EXPECT_EQ(compactJson(Json{{"a", "\xFF"}}), std::nullopt);
    EXPECT_EQ(parseJson("[1"), std::nullopt);
    EXPECT_EQ(parseJson(" 3 "), Json(3));
}

TEST(Text, LowersAndTrimsBeyondAscii) {
    EXPECT_EQ(lowerCased("CAFÉ Ångström ΣΟΦΊΑ"), "café ångström σοφία");
    EXPECT_EQ(lowerCased("bad \xFF KEEP"), "bad \xFF keep");
    EXPECT_EQ(trimmedWhitespace("\u00A0\u2003 Notes\u2028\n"), "Notes");
    EXPECT_EQ(trimmedWhitespace(" a b "), "a b");
    EXPECT_EQ(trimmedWhitespace("\u3000"), "");
}

}  // namespace
}  // namespace pelko
