// The message bytes a command line turns into, compared byte for byte. nlohmann::json writes
// object keys in sorted order, which the resident does not depend on.
#include <gtest/gtest.h>

#include "message.h"

namespace pelko::notifier {
namespace {

using Args = std::vector<std::string>;

TEST(FlagValue, FirstOccurrenceWinsAndEveryPositionCounts) {
    EXPECT_EQ(flagValue({"post", "--id", "a", "--id", "b"}, "--id"), "a");
    EXPECT_EQ(flagValue({"post", "--title"}, "--title"), std::nullopt);
    EXPECT_EQ(flagValue({"post"}, "--title"), std::nullopt);
    // A flag's value may itself look like a flag, and a value position is still examined.
    EXPECT_EQ(flagValue({"post", "--id", "--title", "x"}, "--id"), "--title");
    EXPECT_EQ(flagValue({"post", "--id", "--title", "x"}, "--title"), "x");
    EXPECT_EQ(flagValue({"--id", "post"}, "--id"), "post");
}

TEST(FlagValues, CollectsEveryFollowedOccurrenceInOrder) {
    EXPECT_EQ(flagValues({"clear", "--id", "a", "--id", "b"}, "--id"), (Args{"a", "b"}));
    EXPECT_EQ(flagValues({"clear", "--id", "--id", "x"}, "--id"), (Args{"--id", "x"}));
    EXPECT_EQ(flagValues({"clear", "--id"}, "--id"), Args{});
    EXPECT_EQ(flagValues({"clear"}, "--id"), Args{});
}

TEST(EncodeCommand, PostBytes) {
    EXPECT_EQ(encodeCommand({"post", "--id", "a", "--title", "Done"}),
              R"({"cmd":"post","id":"a","title":"Done"})");
    EXPECT_EQ(encodeCommand({"post", "--title", "T", "--id", "7", "--subtitle", "S", "--body",
                             "line 1\nline 2", "--url", "https://x.example/?q=1", "--kind",
                             "failed", "--app", "/usr/share/applications/x.desktop"}),
              R"({"app":"/usr/share/applications/x.desktop","body":"line 1\nline 2",)"
              R"("cmd":"post","id":"7","kind":"failed","subtitle":"S","title":"T",)"
              R"("url":"https://x.example/?q=1"})");
    // The first --id wins.
    EXPECT_EQ(encodeCommand({"post", "--id", "a", "--id", "b", "--title", "t"}),
              R"({"cmd":"post","id":"a","title":"t"})");
    // A trailing flag without a value adds no key, and no empty default is ever sent.
    EXPECT_EQ(encodeCommand({"post", "--id", "a", "--title", "t", "--kind"}),
              R"({"cmd":"post","id":"a","title":"t"})");
    // Values are passed on unvalidated, empty ones included.
    EXPECT_EQ(encodeCommand({"post", "--id", "", "--title", "", "--kind", "whatever"}),
              R"({"cmd":"post","id":"","kind":"whatever","title":""})");
    // Non-ASCII text travels as UTF-8, unescaped.
    EXPECT_EQ(encodeCommand({"post", "--id", "h", "--title", "שלום · ok"}),
              "{\"cmd\":\"post\",\"id\":\"h\",\"title\":\"\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D "
              "\xC2\xB7 ok\"}");
}

TEST(EncodeCommand, ClearBytes) {
    EXPECT_EQ(encodeCommand({"clear"}), R"({"cmd":"clear","ids":[]})");
    EXPECT_EQ(encodeCommand({"clear", "--id", "a"}), R"({"cmd":"clear","ids":["a"]})");
    EXPECT_EQ(encodeCommand({"clear", "--id", "b", "--id", "a"}),
              R"({"cmd":"clear","ids":["b","a"]})");
    EXPECT_EQ(encodeCommand({"clear", "--title", "x", "--id"}), R"({"cmd":"clear","ids":[]})");
}

TEST(EncodeCommand, RefusesWhatIsNoCommand) {
    EXPECT_EQ(encodeCommand({}), std::nullopt);
    EXPECT_EQ(encodeCommand({"show", "--id", "a", "--title", "t"}), std::nullopt);
    EXPECT_EQ(encodeCommand({"--id", "a", "post", "--title", "t"}), std::nullopt);
    EXPECT_EQ(encodeCommand({"post", "--id", "a"}), std::nullopt);
    EXPECT_EQ(encodeCommand({"post", "--title", "t"}), std::nullopt);
    EXPECT_EQ(encodeCommand({"post", "--title", "t", "--id"}), std::nullopt);
    // Text that is not UTF-8 cannot be serialised.
    EXPECT_EQ(encodeCommand({"post", "--id", "a", "--title", "\xFF\xFE"}), std::nullopt);
}

}  // namespace
}  // namespace pelko::notifier
