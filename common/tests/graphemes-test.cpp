// Counting and cutting text by user-perceived characters.
#include "graphemes.h"

#include <gtest/gtest.h>

namespace pelko {
namespace {

const std::string combined = "e\xCC\x81";  // e + combining acute accent
const std::string family =
    "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // man ZWJ woman
                                                                                 // ZWJ girl
const std::string flagFr = "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";  // regional indicators F R
const std::string flagDe = "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";  // regional indicators D E

TEST(Graphemes, ClustersCountAsOneCharacterEach) {
    EXPECT_EQ(graphemeCount(""), 0u);
    EXPECT_EQ(graphemeCount("abc"), 3u);
    EXPECT_EQ(graphemeCount("caf" + combined), 4u);
    EXPECT_EQ(graphemeCount(family), 1u);
    EXPECT_EQ(graphemeCount(flagFr + flagDe), 2u);
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
    EXPECT_EQ(graphemePrefix(combined + combined, 1), combined);
    EXPECT_EQ(graphemePrefix(family + "x", 1), family);
    // Regional indicators pair up from the start: one flag, not half of two.
    EXPECT_EQ(graphemePrefix(flagFr + flagDe, 1), flagFr);
}

TEST(Graphemes, StartsAreTheOffsetsOfEachCluster) {
    EXPECT_EQ(graphemeStarts(""), std::vector<size_t>{});
    EXPECT_EQ(
        graphemeStarts("a" + combined + flagFr + "z"),
        (std::vector<size_t>{0, 1, 1 + combined.size(), 1 + combined.size() + flagFr.size()}));
}

}  // namespace
}  // namespace pelko
