// menu on a simulated desktop: loose titles matched exactly and then by their beginning, the
// messages that list what is there, pick before press, and disabled items reached through
// their shortcut only in the background.
#include "menus.h"

#include "acting-fixture.h"
#include "input-events.h"

namespace pelko::computer {
namespace {

using testing::ActingFixture;

JSON item(const std::string& title, JSON extra = JSON::object()) {
    JSON entry = {{"role", "AXMenuItem"}, {"title", title}, {"actions", {"AXPress"}}};
    entry.update(extra);
    return entry;
}

JSON menuDesktop() {
    JSON file = JSON::array({
        item("New Note", {{"attributes", {{"AXMenuItemCmdChar", "N"}}}}),
        item("New Folder", {{"id", "newFolder"}, {"actions", {"AXPick", "AXPress"}}}),
        {{"role", "AXMenuItem"}},  // a separator
        item("Save As\u2026", {{"id", "saveAs"}}),
        item("Save", {{"id", "save"}}),  // after the longer title it begins
        item("Share", {{"children",
                        {{{"role", "AXMenu"}, {"children", {item("Mail"), item("Messages")}}}}}}),
        item("Export\u2026",
             {{"id", "export"},
              {"enabled", false},
              {"attributes", {{"AXMenuItemCmdChar", "E"}, {"AXMenuItemCmdModifiers", 2}}},
              {"onAction",
               {{"AXPress",
                 {{{"do", "set"},
                   {"element", "export"},
                   {"attribute", "AXHelp"},
                   {"value", "done"}}}}}}}),
        item("Zoom In", {{"enabled", false}, {"attributes", {{"AXMenuItemCmdChar", "+"}}}}),
        item("Accent", {{"enabled", false}, {"attributes", {{"AXMenuItemCmdChar", "\u00E9"}}}}),
        item("Quiet", {{"enabled", false}}),
        item("Broken", {{"actionErrors", {{"AXPress", -25200}}}}),
        item("Pickless",
             {{"actions", {"AXPick", "AXPress"}}, {"actionErrors", {{"AXPick", -25204}}}}),
    });
    JSON windows = JSON::array();
    for (int i = 1; i <= 45; ++i) {
        windows.push_back(item("Doc " + std::to_string(i)));
        if (i == 2) windows.push_back({{"role", "AXMenuItem"}});
    }
    auto bar = [](const JSON& file, const JSON& windows) {
        return JSON{{"role", "AXMenuBar"},
                    {"children",
                     {{{"role", "AXMenuBarItem"}, {"title", "Notes"}},
                      {{"role", "AXMenuBarItem"},
                       {"title", "File"},
                       {"children", {{{"role", "AXMenu"}, {"children", file}}}}},
                      {{"role", "AXMenuBarItem"},
                       {"title", "Window"},
                       {"children", {{{"role", "AXMenu"}, {"children", windows}}}}}}}};
    };
    JSON scene = JSON::parse(R"({"apps": [
      {"name": "Mail", "pid": 20, "active": true},
      {"name": "Notes", "pid": 10, "acceptsBackgroundKeys": true},
      {"name": "Bare", "pid": 30}]})");
    scene["apps"][1]["menuBar"] = bar(file, windows);
    return scene;
}

class Menu : public ActingFixture {
  protected:
    void SetUp() override { build(menuDesktop()); }
    JSON menu(const JSON& path, const std::string& app = "Notes") {
        return run("menu", {{"app", app}, {"path", path}});
    }
    Failure menuFailure(const JSON& path, const std::string& app = "Notes") {
        return failureOf("menu", {{"app", app}, {"path", path}});
    }
};

TEST_F(Menu, LooseTitlesIgnoreCaseEllipsesAndBlanks) {
    const std::pair<const char*, const char*> cases[] = {{"Export...", "export"},
                                                         {" EXPORT\u2026\t", "export"},
                                                         {"Save As\u2026", "save as"},
                                                         {"....", "."},
                                                         {"\u2026", ""},
                                                         {"\u00C9t\u00E9", "\u00E9t\u00E9"}};
    for (const auto& [title, expected] : cases) EXPECT_EQ(loose(title), expected) << title;
}

TEST_F(Menu, ExactTitlesComeBeforeBeginningsAndPickBeforePress) {
    EXPECT_EQ(menu({"file", "new folder"}), JSON::parse(R"({"ok": true, "via": "pick"})"));
    EXPECT_EQ(menu({"File", "New"}), JSON::parse(R"({"ok": true, "via": "press"})"));
    EXPECT_EQ(menu({"File", "save"}), JSON::parse(R"({"ok": true, "via": "press"})"));
    EXPECT_EQ(calls("performAction").back()["element"], JSON("save"))
        << "not \"Save As\u2026\" above it";
    EXPECT_EQ(menu({"File", "sav"}), JSON::parse(R"({"ok": true, "via": "press"})"));
    EXPECT_EQ(calls("performAction").back()["element"], JSON("saveAs")) << "the first beginning";
    EXPECT_EQ(menu({"File", "Share", "messages"}), JSON::parse(R"({"ok": true, "via": "press"})"));
    EXPECT_EQ(menu({"File", "Pickless"}), JSON::parse(R"({"ok": true, "via": "press"})"));
    std::vector<std::string> performed;
    for (const auto& entry : calls("performAction"))
        performed.push_back(entry["action"].get<std::string>() + " " + entry["result"].dump());
    EXPECT_EQ(performed,
              (std::vector<std::string>{"AXPick 0", "AXPress 0", "AXPress 0", "AXPress 0",
                                        "AXPress 0", "AXPick -25204", "AXPress 0"}));
    EXPECT_EQ(posted(), std::vector<std::string>{});
}

TEST_F(Menu, AnEntryThatMatchesNothingListsTheTitledItemsAmongTheFirstForty) {
    const Failure file = menuFailure({"File", "Print"});
    EXPECT_EQ(file.message,
              "No menu item \"Print\" there. The items are: New Note, New Folder, Save As\u2026, "
              "Save, Share, Export\u2026, Zoom In, Accent, Quiet, Broken, Pickless.");
    EXPECT_EQ(file.code, "not-found");
    std::string docs;
    for (int i = 1; i <= 39; ++i) docs += (i > 1 ? ", Doc " : "Doc ") + std::to_string(i);
    EXPECT_EQ(menuFailure({"Window", "Nope"}).message,
              "No menu item \"Nope\" there. The items are: " + docs + ".");
    const Failure plain = menuFailure({"File", "New Note", "Copy"});
    EXPECT_EQ(plain.message, "\"New Note\" has no submenu.");
    EXPECT_EQ(plain.code, "not-found");
    EXPECT_EQ(calls("performAction"), std::vector<JSON>{}) << "nothing pressed";
}

TEST_F(Menu, ADisabledItemInTheBackgroundIsReachedThroughItsShortcut) {
    EXPECT_EQ(menu({"File", "Export..."}), JSON::parse(R"({"ok": true, "via": "shortcut"})"));
    const auto events = calls("post");
    ASSERT_EQ(events.size(), 2u);
    for (const auto& event : events) {
        EXPECT_EQ(event["target"], 10);
        EXPECT_EQ(event["source"], "private");
        EXPECT_EQ(event["keyCode"], 14);
        EXPECT_EQ(event["flags"], eventFlagCommand | eventFlagAlternate);
        EXPECT_EQ(event["text"], "E");
        EXPECT_EQ(event["mark"], ownEventMark);
    }
    EXPECT_EQ(pausesMs(), std::vector<long>{30});
    EXPECT_EQ(desktop->attributeOf("export", "AXHelp"), "done") << "the app chose the item";
    EXPECT_EQ(frontEvents(), 0) << "the app stayed behind";

    EXPECT_EQ(menu({"File", "zoom in"}), JSON::parse(R"({"ok": true, "via": "shortcut"})"));
    EXPECT_EQ(calls("post")[2]["keyCode"], 24) << "\"+\" is the = key";
    EXPECT_EQ(calls("post")[2]["flags"], eventFlagCommand | eventFlagShift);
    EXPECT_EQ(calls("post")[2]["text"], "+");
}

TEST_F(Menu, ADisabledItemStaysDisabledInFrontOrWithoutAKeyToSend) {
    desktop->control({{"do", "front"}, {"app", "Notes"}});
    const Failure front = menuFailure({"File", "Export..."});
    EXPECT_EQ(front.message, "The menu item \"Export...\" is disabled now.");
    EXPECT_EQ(front.code, "failed");
    desktop->control({{"do", "front"}, {"app", "Mail"}});
    EXPECT_EQ(menuFailure({"File", "Quiet"}).message, "The menu item \"Quiet\" is disabled now.");
    EXPECT_EQ(menuFailure({"File", "Accent"}).message, "The menu item \"Accent\" is disabled now.");
    EXPECT_EQ(acts(), std::vector<std::string>{});
}

TEST_F(Menu, RefusalsAndMissingMenusAreReported) {
    const Failure broken = menuFailure({"File", "Broken"});
    EXPECT_EQ(broken.message, "The menu item did not respond (-25200).");
    EXPECT_EQ(broken.code, "failed");
    const Failure bare = menuFailure({"File"}, "Bare");
    EXPECT_EQ(bare.message, "Bare has no menu bar to read.");
    EXPECT_EQ(bare.code, "failed");
}

TEST_F(Menu, MalformedPathsAreRefusedBeforeTheAppIsLookedAt) {
    for (const JSON& path : {JSON(), JSON::array(), JSON::parse(R"(["File", 3])"), JSON("File"),
                             JSON::parse(R"(["File", " \u2026 "])")}) {
        JSON params = {{"app", "Nowhere"}};
        if (!path.is_null()) params["path"] = path;
        const Failure failure = failureOf("menu", params);
        EXPECT_EQ(failure.message, "Give the app and the menu path.") << path;
        EXPECT_EQ(failure.code, "bad-input");
    }
    const RunningApp notes = *desktop->runningApplication(10);
    try {
        chooseMenu(computer(), notes, {});
        ADD_FAILURE() << "an empty path was taken";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.message, "Give the menu path, e.g. [\"File\", \"Export\u2026\"].");
        EXPECT_EQ(failure.code, "bad-input");
    }
}

TEST_F(Menu, ShortcutFlagsComeFromTheModifierBits) {
    build(JSON::parse(
        R"({"apps": [{"name": "Notes", "pid": 10, "menuBar": {"role": "AXMenuBar", "children": [
      {"id": "plain", "attributes": {"AXMenuItemCmdChar": "s"}},
      {"id": "all", "attributes": {"AXMenuItemCmdChar": "s", "AXMenuItemCmdModifiers": 7}},
      {"id": "noCommand", "attributes": {"AXMenuItemCmdChar": "s", "AXMenuItemCmdModifiers": 9}},
      {"id": "noChar", "attributes": {"AXMenuItemCmdChar": "", "AXMenuItemCmdModifiers": 0}}]}}]})"));
    Accessibility& ax = *desktop;
    EXPECT_EQ(menuShortcut(ax, element("plain")), (MenuShortcut{"s", eventFlagCommand}));
    EXPECT_EQ(menuShortcut(ax, element("all")),
              (MenuShortcut{
                  "s", eventFlagCommand | eventFlagShift | eventFlagAlternate | eventFlagControl}));
    EXPECT_EQ(menuShortcut(ax, element("noCommand")), (MenuShortcut{"s", eventFlagShift}));
    EXPECT_EQ(menuShortcut(ax, element("noChar")), std::nullopt);
}

}  // namespace
}  // namespace pelko::computer
