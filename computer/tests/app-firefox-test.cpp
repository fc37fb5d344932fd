// Firefox (Gecko): the sentences a page keeps in its paragraphs' text read as text lines
// around the links inside them, a form filled, sent and answered, and a page too long to list
// whole read as far as it shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "desktop-apps.h"

namespace pelko::computer::testing {
namespace {

TEST(Firefox, AFormInAPageIsFilledSentAndAnswered) {
    SKIP_WITHOUT_APP("firefox-esr");
    DesktopComputer computer;
    StartedApp browser({"firefox-esr", "--no-remote", pageURL("order-form.html")});
    ASSERT_TRUE(awaitApp(computer, "Firefox ESR").contains("pid"));
    const JSON page = {{"app", "Firefox ESR"}, {"window", "Order form"}};
    ASSERT_GT(awaitLine(computer, page, R"(\] button "Send")").index, 0);
    const std::string tree = computer.result("state", page).value("tree", "");
    // "Fill in your name, tick <a>the terms</a>, then press Send.": one paragraph's text.
    const auto lines = linesOf(tree);
    const auto sentence = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find(R"(text value="Fill in your name, tick ")") != std::string::npos;
    });
    ASSERT_NE(sentence, lines.end()) << tree;
    ASSERT_LT(sentence + 2, lines.end());
    EXPECT_NE(sentence[1].find(R"(link "the terms")"), std::string::npos) << tree;
    EXPECT_NE(sentence[2].find(R"(text value=", then press Send.")"), std::string::npos) << tree;
    EXPECT_TRUE(hasLine(tree, R"(\] text value="No order yet\.")")) << tree;

    const int64_t name = indexOf(tree, R"(\] field "Name")");
    ASSERT_GT(name, 0) << tree;
    EXPECT_TRUE(hasLine(tree, R"(\] checkbox "I accept the terms" \(off\))")) << tree;
    // Gecko answers text edits with success and changes nothing: they are not offered.
    const JSON refused =
        computer.request("setValue", {{"app", "Firefox ESR"}, {"index", name}, {"value", "x"}});
    EXPECT_EQ(refused.value("error", ""),
              "Element [" + std::to_string(name) +
                  "] does not take a value directly. Click it and use type_text instead.");
    EXPECT_EQ(
        computer
            .result("typeText",
                    {{"app", "Firefox ESR"}, {"index", name}, {"text", "Ada"}, {"front", true}})
            .value("via", ""),
        "keys");
    EXPECT_GT(awaitLine(computer, page, R"(\] field "Name" value="Ada")").index, 0);
    // That read numbered the page anew.
    const std::string filled = computer.result("state", page).value("tree", "");
    EXPECT_EQ(computer.result("click", {{"app", "Firefox ESR"},
                                        {"index", indexOf(filled, R"(\] checkbox "I accept)")}}),
              JSON({{"via", "press"}}));
    EXPECT_EQ(computer.result("click", {{"app", "Firefox ESR"},
                                        {"index", indexOf(filled, R"(\] button "Send")")}}),
              JSON({{"via", "press"}}));
    EXPECT_GT(
        awaitLine(computer, page, R"(\] text value="Thank you, Ada\. Your order is on its way\.")")
            .index,
        0);
}

TEST(Firefox, ALongPageIsReadAsFarAsItShowsAndAtItsEnd) {
    SKIP_WITHOUT_APP("firefox-esr");
    DesktopComputer computer;
    // More objects than are worth listing in one bulk read: after the first read the page is
    // read going down, the paragraphs on screen only.
    StartedApp browser({"firefox-esr", "--no-remote", writeLongPage(std::getenv("HOME"), 1200)});
    ASSERT_TRUE(awaitApp(computer, "Firefox ESR").contains("pid"));
    readLongPage(computer, "Firefox ESR", 1200);
}

}  // namespace
}  // namespace pelko::computer::testing
