// GNOME's calculator (GTK 4 and libadwaita) driven by the agent: buttons pressed by their
// indexes, the answer read back from the calculator's own history.
#include <gtest/gtest.h>

#include "desktop-apps.h"

namespace pelko::computer::testing {
namespace {

TEST(GnomeApps, TheCalculatorComputesWithItsButtons) {
    SKIP_WITHOUT_APP("gnome-calculator");
    DesktopComputer computer;
    const JSON calculator = openApp(computer, "Calculator");
    ASSERT_TRUE(calculator.contains("pid")) << calculator;
    const JSON state = computer.result("state", {{"app", "Calculator"}});
    const std::string tree = state.value("tree", "");
    // GTK 4 names a widget after its class and sets no "enabled" state: neither shows.
    EXPECT_FALSE(hasLine(tree, R"(Gtk|Adw|disabled)")) << tree;
    EXPECT_FALSE(hasLine(tree, R"(actions: .*\w\.\w)")) << "internal action names\n" << tree;
    for (const char* key : {"7", "×", "6", "="}) {
        const int64_t index = indexOf(tree, std::string(R"(\] button ")") + key + "\"");
        ASSERT_GT(index, 0) << key << "\n" << tree;
        EXPECT_EQ(computer.result("click", {{"app", "Calculator"}, {"index", index}}),
                  JSON({{"via", "press"}}))
            << key;
    }
    EXPECT_GT(awaitLine(computer, {{"app", "Calculator"}}, R"(text "7×6")").index, 0);
    EXPECT_GT(awaitLine(computer, {{"app", "Calculator"}}, R"(textarea value="42")").index, 0)
        << "the display holds the answer";
    endApp(computer, calculator["pid"].get<pid_t>());
}

}  // namespace
}  // namespace pelko::computer::testing
