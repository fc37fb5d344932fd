// GNOME's text editor (GTK 4 and libadwaita): text typed into the document and read back, the
// window named after it, and the View menu opened from its button.
#include <gtest/gtest.h>

#include "desktop-apps.h"

namespace pelko::computer::testing {
namespace {

TEST(GnomeApps, TheTextEditorTakesTextAndOpensItsMenu) {
    SKIP_WITHOUT_APP("gnome-text-editor");
    DesktopComputer computer;
    const JSON editor = openApp(computer, "Text Editor");
    ASSERT_TRUE(editor.contains("pid")) << editor;
    const Found document = awaitLine(computer, {{"app", "Text Editor"}}, R"(\] textarea)");
    ASSERT_GT(document.index, 0);
    const JSON typed = computer.result(
        "typeText",
        {{"app", "Text Editor"}, {"index", document.index}, {"text", "Notes from the agent"}});
    EXPECT_EQ(typed.value("landed", true), true) << typed;
    EXPECT_GT(
        awaitLine(computer, {{"app", "Text Editor"}}, R"(\] textarea value="Notes from the agent")")
            .index,
        0);
    const JSON state = computer.result("state", {{"app", "Text Editor"}});
    EXPECT_EQ(state["window"].value("title", "").find("Notes from the agent"), 0u) << state;
    // A closed revealer's bars are "visible" to GTK 4 but have no size: they are not written.
    EXPECT_FALSE(hasLine(state.value("tree", ""), R"(Could Not Open File|_Retry)"))
        << state.value("tree", "");

    // GTK 4's menu button holds the button that opens the menu.
    const int64_t view = lastIndexOf(state.value("tree", ""), R"(\] button "View")");
    ASSERT_GT(view, 0) << state.value("tree", "");
    EXPECT_EQ(computer.result("click", {{"app", "Text Editor"}, {"index", view}}),
              JSON({{"via", "press"}}));
    EXPECT_GT(awaitLine(computer, {{"app", "Text Editor"}}, R"(\] menuitem "Line Numbers")").index,
              0)
        << "the View menu opened";
    computer.result("pressKey", {{"app", "Text Editor"}, {"key", "escape"}});
    endApp(computer, editor["pid"].get<pid_t>());
}

}  // namespace
}  // namespace pelko::computer::testing
