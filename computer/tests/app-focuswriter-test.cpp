// FocusWriter, a Qt 6 writing app: words typed into its document and counted in its status
// line, and the whole text selected from its Edit menu (its Copy button then works).
#include <gtest/gtest.h>

#include "desktop-apps.h"

namespace pelko::computer::testing {
namespace {

TEST(QtApps, FocusWriterCountsTheWordsTypedAndSelectsFromItsMenu) {
    SKIP_WITHOUT_APP("focuswriter");
    DesktopComputer computer;
    const JSON writer = openApp(computer, "FocusWriter");
    ASSERT_TRUE(writer.contains("pid")) << writer;
    // The document shows once the app has loaded its themes: on a busy machine, many seconds
    // after its window.
    const Found document = awaitLine(computer, {{"app", "FocusWriter"}}, R"(\] textarea)", 300);
    ASSERT_GT(document.index, 0);
    EXPECT_GT(awaitLine(computer, {{"app", "FocusWriter"}}, R"(\] text "Words: 0")").index, 0);
    const Found field = findLine(computer, "FocusWriter", R"(\] textarea)");
    EXPECT_EQ(computer.result(
                  "typeText",
                  {{"app", "FocusWriter"}, {"index", field.index}, {"text", "one two three four"}}),
              JSON({{"via", "insert"}}));
    EXPECT_GT(
        awaitLine(computer, {{"app", "FocusWriter"}}, R"(\] textarea value="one two three four")")
            .index,
        0);
    EXPECT_GT(awaitLine(computer, {{"app", "FocusWriter"}}, R"(\] text "Words: 4")").index, 0)
        << "the app's own count of what was typed";

    EXPECT_TRUE(hasLine(computer.result("state", {{"app", "FocusWriter"}}).value("tree", ""),
                        R"(\] button "Copy" \(disabled\))"));
    EXPECT_EQ(computer.result("menu", {{"app", "FocusWriter"}, {"path", {"Edit", "Select All"}}}),
              JSON({{"ok", true}, {"via", "press"}}));
    EXPECT_GT(awaitLine(computer, {{"app", "FocusWriter"}}, R"(\] button "Copy"$)").index, 0)
        << "with the text selected, Copy is enabled";
    endApp(computer, writer["pid"].get<pid_t>());
}

}  // namespace
}  // namespace pelko::computer::testing
