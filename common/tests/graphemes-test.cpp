// Counting and cutting text by user-perceived characters.
#include "graphemes.h"

#include <gtest/gtest.h>

namespace pelko {
namespace {

const std::string kCombined = "e\xCC\x81";  // e + combining acute accent
const std::string kFamily =
    "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // man ZWJ woman
                                                                                 // ZWJ girl
const std::string kFlagFr = "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";  // regional indicators F R
const std::string kFlagDe = "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";  // regional indicators D E

TEST(Graphemes, ClustersCountAsOneCharacterEach) {
    EXPECT_EQ(graphemeCount(""), 0u);
    EXPECT_EQ(graphemeCount("abc"), 3u);
    EXPECT_EQ(graphemeCount("caf" + kCombined), 4u);
    EXPECT_EQ(graphemeCount(kFamily), 1u);
    EXPECT_EQ(graphemeCount(kFlagFr + kFlagDe), 2u);
    EXPECT_EQ(graphemeCount("\r\n"), 1u);
    EXPECT_EQ(graphemeCount("\xE2\x80\xA6"), 1u);  // …
    EXPECT_EQ(graphemeCount("a\xFF"
                            "b"),
              3u);  // an invalid byte is a character of its own
}

TEST(Graphemes, PrefixNeverSplitsACluster) {
    EXPECT_EQ(graphemePrefix("abc", 0), "");
    EXPECT_EQ(graphemePrefix("abc", 2), "ab");
    EXPECT_EQ(graphemePrefix("abc", 9), "abc");
    EXPECT_EQ(graphemePrefix(kCombined + kCombined, 1), kCombined);
    EXPECT_EQ(graphemePrefix(kFamily + "x", 1), kFamily);
    // Regional indicators pair up from the start: one flag, not half of two.
    EXPECT_EQ(graphemePrefix(kFlagFr + kFlagDe, 1), kFlagFr);
}

}  // namespace
}  // namespace pelko
