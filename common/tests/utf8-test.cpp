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

}  // namespace
}  // namespace pelko
