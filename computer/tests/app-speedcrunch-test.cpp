// SpeedCrunch, a Qt 5 calculator: an expression typed into it, its answer read from its
// history, and a menu item picked by its path.
#include <gtest/gtest.h>

#include <thread>

#include "desktop-apps.h"

namespace pelko::computer::testing {
namespace {

TEST(QtApps, SpeedCrunchComputesWhatIsTypedAndClearsItsHistoryFromItsMenu) {
    SKIP_WITHOUT_APP("speedcrunch");
    DesktopComputer computer;
    const JSON calculator = openApp(computer, "SpeedCrunch");
    ASSERT_TRUE(calculator.contains("pid")) << calculator;
    const JSON state = computer.result("state", {{"app", "SpeedCrunch"}});
    EXPECT_EQ(state["menus"], JSON({"Session", "Edit", "View", "Settings", "Help"})) << state;
    const std::string tree = state.value("tree", "");
    EXPECT_TRUE(hasLine(tree, R"(^  \[\d+\] menubaritem "Edit" actions: showMenu$)")) << tree;
    // The history comes first, the expression's field last.
    const int64_t input = lastIndexOf(tree, R"(\] textarea)");
    ASSERT_GT(input, 0) << tree;
    EXPECT_EQ(
        computer.result("typeText", {{"app", "SpeedCrunch"}, {"index", input}, {"text", "6*7"}}),
        JSON({{"via", "insert"}}));
    computer.result("pressKey", {{"app", "SpeedCrunch"}, {"key", "return"}});
    EXPECT_GT(awaitLine(computer, {{"app", "SpeedCrunch"}}, R"(textarea value="6\*7 ⏎ = 42)").index,
              0);

    EXPECT_EQ(
        computer.result("menu", {{"app", "SpeedCrunch"}, {"path", {"Edit", "Clear History"}}}),
        JSON({{"ok", true}, {"via", "press"}}));
    std::string after;
    for (int attempt = 0; attempt < 50; ++attempt) {
        after = computer.result("state", {{"app", "SpeedCrunch"}}).value("tree", "");
        if (!hasLine(after, "= 42")) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_FALSE(hasLine(after, "= 42")) << after;
    endApp(computer, calculator["pid"].get<pid_t>());
}

}  // namespace
}  // namespace pelko::computer::testing
