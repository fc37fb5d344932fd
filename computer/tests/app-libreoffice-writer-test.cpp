// LibreOffice Writer (its GTK 3 plug-in): a sentence typed into the document and read back,
// then changed through its menus; its toolbars read without the values their buttons carry.
#include <gtest/gtest.h>

#include "desktop-apps.h"

namespace pelko::computer::testing {
namespace {

TEST(LibreOffice, WriterTakesASentenceAndChangesItFromItsMenus) {
    SKIP_WITHOUT_APP("libreoffice");
    DesktopComputer computer;
    const JSON writer = openApp(computer, "LibreOffice Writer");
    ASSERT_TRUE(writer.contains("pid")) << writer;
    // A first start may open a dialog in front: the document's window is named.
    const JSON document = {{"app", "LibreOffice Writer"}, {"window", "LibreOffice Writer"}};
    const Found text = awaitLine(computer, document, R"(^\s+\[\d+\] textarea( \(focused\))?$)");
    ASSERT_GT(text.index, 0);
    const std::string tree = computer.result("state", document).value("tree", "");
    EXPECT_TRUE(hasLine(tree, R"(\] button "Save")")) << tree;
    EXPECT_FALSE(hasLine(tree, R"(button .*value="0"|actions: increment)"))
        << "toolbar buttons carry a value interface that means nothing\n"
        << tree;

    const int64_t paragraph = indexOf(tree, R"(^\s+\[\d+\] textarea( \(focused\))?$)");
    ASSERT_GT(paragraph, 0) << tree;
    EXPECT_EQ(computer.result("typeText", {{"app", "LibreOffice Writer"},
                                           {"index", paragraph},
                                           {"text", "The quick brown fox."}}),
              JSON({{"via", "insert"}}));
    EXPECT_GT(awaitLine(computer, document, R"(\] textarea value="The quick brown fox\.")").index,
              0);

    EXPECT_EQ(
        computer.result("menu", {{"app", "LibreOffice Writer"}, {"path", {"Edit", "Select All"}}}),
        JSON({{"ok", true}, {"via", "press"}}));
    EXPECT_EQ(computer.result("menu", {{"app", "LibreOffice Writer"},
                                       {"path", {"Format", "Text", "UPPERCASE"}}}),
              JSON({{"ok", true}, {"via", "press"}}));
    EXPECT_GT(awaitLine(computer, document, R"(\] textarea value="THE QUICK BROWN FOX\.")").index,
              0);
    endApp(computer, writer["pid"].get<pid_t>());
}

}  // namespace
}  // namespace pelko::computer::testing
