// The state reader on simulated desktops built in code, in virtual time.
#include "state-reader.h"

#include <gtest/gtest.h>

#include "child-process.h"
#include "request-loop.h"
#include "sim/sim-desktop.h"

namespace pelko::computer {
namespace {

using pelko::testing::ScopedTempDir;

// Notes: two titled windows and an untitled one, a menu bar, and a manual switch it accepts.
const char* notesApp = R"({"name": "Notes", "pid": 10, "bundleId": "com.example.Notes",
  "settable": ["AXManualAccessibility"],
  "windows": [
    {"id": "main", "role": "AXWindow", "title": "Shopping list", "frame": [0, 0, 800, 600],
     "children": [{"id": "save", "role": "AXButton", "title": "Save"},
                  {"id": "body", "role": "AXTextArea", "value": "milk"}]},
    {"id": "untitled", "role": "AXWindow", "frame": [10, 10, 100, 100]},
    {"id": "archive", "role": "AXWindow", "title": "Archive", "minimized": true,
     "children": [{"role": "AXButton", "title": "Restore"}]}],
  "menuBar": {"role": "AXMenuBar", "children": [{"role": "AXMenuBarItem", "title": "Notes"},
    {"role": "AXMenuBarItem"}, {"role": "AXMenuBarItem", "title": "Edit"}]}})";

// Feed: a window whose "Posts" part (20 texts) sits three branching levels down.
JSON feedApp() {
    JSON posts = {{"id", "posts"}, {"role", "AXGroup"}, {"title", "Posts"}};
    for (int i = 1; i <= 20; ++i)
        posts["children"].push_back({{"role", "AXStaticText"}, {"value", "p" + std::to_string(i)}});
    auto beside = [](JSON part, const char* button) {
        return JSON{{"role", "AXGroup"},
                    {"children", JSON::array({part, {{"role", "AXButton"}, {"title", button}}})}};
    };
    JSON window = beside(beside(posts, "x3"), "x2");
    window = {{"id", "feed"},
              {"role", "AXWindow"},
              {"title", "Feed"},
              {"frame", {0, 0, 400, 300}},
              {"children", JSON::array({window, {{"role", "AXButton"}, {"title", "x1"}}})}};
    return {{"name", "Feed"}, {"pid", 40}, {"windows", JSON::array({window})}};
}

class StateReader : public ::testing::Test {
  protected:
    void build(JSON apps, JSON extra = JSON::object()) {
        JSON scene = extra;
        scene["apps"] = std::move(apps);
        computer.reset();
        platform.reset();
        desktop.reset();
        logPath = dir / ("calls" + std::to_string(++builds) + ".log");
        desktop = std::make_unique<sim::SimDesktop>(clock, scene, logPath.string());
        platform = std::make_unique<Platform>(
            Platform{clock, mainLoop, *desktop, *desktop, *desktop, *desktop, *desktop, *desktop});
        computer = std::make_unique<Computer>(*platform, stdout);
    }
    JSON state(JSON params) { return handle(*computer, "state", params); }
    Failure failure(JSON params) {
        try {
            state(std::move(params));
        } catch (const Failure& failure) {
            return failure;
        }
        return {"no failure", "none"};
    }
    AppSession& session(pid_t pid) { return computer->sessions.session(pid); }
    // The log's entries of one kind, without their times.
    std::vector<JSON> calls(const std::string& kind) {
        std::vector<JSON> found;
        const std::string text = pelko::testing::readFile(logPath);
        for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1) {
            JSON entry = JSON::parse(text.substr(start, end - start));
            if (entry["call"] != kind) continue;
            entry.erase("t");
            entry.erase("call");
            found.push_back(entry);
        }
        return found;
    }
    std::vector<double> pauses() {
        std::vector<double> seconds;
        for (const auto pause : clock.pauses()) seconds.push_back(inSeconds(pause));
        return seconds;
    }
    Element named(const std::string& name) { return desktop->elementNamed(name); }

    ScopedTempDir dir;
    std::filesystem::path logPath;
    int builds = 0;
    VirtualClock clock;
    MainLoop mainLoop{clock};
    std::unique_ptr<sim::SimDesktop> desktop;
    std::unique_ptr<Platform> platform;
    std::unique_ptr<Computer> computer;
};

TEST_F(StateReader, AWindowReadReportsTheAppItsWindowsMenusAndOutline) {
    build(JSON::array({JSON::parse(notesApp)}));
    EXPECT_EQ(state({{"app", "notes"}}), JSON::parse(R"({
      "app": {"name": "Notes", "pid": 10, "active": false, "hidden": false,
              "bundleId": "com.example.Notes"},
      "windows": ["Shopping list", "Archive"],
      "menus": ["Notes", "Edit"],
      "tree": "[1] window \"Shopping list\"\n  [2] button \"Save\"\n  [3] textarea value=\"milk\"",
      "count": 3, "truncated": false, "overview": false,
      "window": {"title": "Shopping list", "x": 0, "y": 0, "width": 800, "height": 600,
                 "minimized": false}})"));
    const AppSession& s = session(10);
    EXPECT_EQ(s.next, 4);
    EXPECT_EQ(s.elements.size(), 3u);
    EXPECT_TRUE(desktop->isEqual(s.elements.at(2), named("save")));
    EXPECT_TRUE(desktop->isEqual(s.window, named("main")));
    EXPECT_FALSE(s.denseWindow);

    EXPECT_EQ(calls("setMessagingTimeout").at(0)["seconds"], 2.0);
    const auto sets = calls("setAttribute");
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0]["attribute"], "AXManualAccessibility");
    EXPECT_EQ(sets[0]["value"], true);
    // The switch was just taken and the outline is small: one wait, one more read.
    EXPECT_EQ(pauses(), std::vector<double>{1.2});

    // A later read takes no switch and no wait, and numbers on from the last read.
    const JSON again = state({{"app", "Notes"}});
    EXPECT_EQ(again["tree"].get<std::string>().substr(0, 4), "[4] ");
    EXPECT_EQ(calls("setAttribute").size(), 1u);
    EXPECT_EQ(pauses(), std::vector<double>{1.2});
    try {
        element(*desktop, computer->sessions, *desktop->runningApplication(10), 3);
        ADD_FAILURE() << "index 3 should be stale";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code, "stale");
        EXPECT_EQ(failure.message,
                  "Element [3] is not in the latest state of Notes. Read the app's state again "
                  "and use an index from it.");
    }
}

TEST_F(StateReader, WindowTitlesPickTheWindowLooselyAndFallBackToTheFocusedOne) {
    build(JSON::array({JSON::parse(notesApp)}));
    JSON archive = state({{"app", "Notes"}, {"window", "ARCH"}});
    EXPECT_EQ(archive["window"]["title"], "Archive");
    EXPECT_EQ(archive["window"]["minimized"], true);
    EXPECT_EQ(archive["window"]["width"], 0);  // it reports no frame
    EXPECT_EQ(state({{"app", "Notes"}, {"window", "nothing like it"}})["window"]["title"],
              "Shopping list");
    // Letters outside ASCII match in any case too.
    JSON accented = JSON::parse(notesApp);
    accented["windows"][2]["title"] = "Übersicht";
    build(JSON::array({accented}));
    EXPECT_EQ(state({{"app", "Notes"}, {"window", "üBERS"}})["window"]["title"], "Übersicht");

    JSON firstOnly = JSON::parse(notesApp);
    firstOnly["focusedWindow"] = nullptr;
    firstOnly["mainWindow"] = nullptr;
    firstOnly["windows"].erase(0);
    build(JSON::array({firstOnly}));
    Accessibility& ax = *desktop;
    EXPECT_TRUE(
        ax.isEqual(pickWindow(ax, ax.applicationElement(10), std::nullopt), named("untitled")));
}

TEST_F(StateReader, AnAppWithoutWindowsForgetsItsIndexes) {
    build(JSON::array({JSON::parse(notesApp)}));
    state({{"app", "Notes"}});
    for (const char* window : {"main", "untitled", "archive"})
        desktop->control({{"do", "destroy"}, {"element", window}});
    const JSON result = state({{"app", "Notes"}});
    EXPECT_EQ(result["tree"], "");
    EXPECT_EQ(result["count"], 0);
    EXPECT_EQ(result["windows"], JSON::array());
    for (const char* key : {"window", "truncated", "overview"}) EXPECT_FALSE(result.contains(key));
    const AppSession& s = session(10);
    EXPECT_TRUE(s.elements.empty());
    EXPECT_FALSE(s.window);
    EXPECT_EQ(s.next, 4);
}

TEST_F(StateReader, AnEmptyWebPageIsWaitedForOnceOnTheFirstRead) {
    JSON browser = JSON::parse(R"({"name": "Browser", "pid": 20,
      "settable": ["AXManualAccessibility"], "revealedBy": "AXManualAccessibility",
      "revealDelaySeconds": 1.0,
      "windows": [{"role": "AXWindow", "title": "Start", "children": [
        {"id": "web", "role": "AXWebArea", "lazy": true, "children": [
          {"id": "link", "role": "AXLink", "title": "News"}]}]}]})");
    build(JSON::array({browser}));
    const JSON first = state({{"app", "Browser"}});
    EXPECT_EQ(first["tree"], "[1] window \"Start\"\n  [2] link \"News\"");
    EXPECT_EQ(pauses(), std::vector<double>{1.2});

    // Later reads never look for an empty page again, even when the page is empty.
    desktop->control({{"do", "destroy"}, {"element", "link"}});
    EXPECT_EQ(state({{"app", "Browser"}})["tree"], "[3] window \"Start\"");
    EXPECT_EQ(pauses(), std::vector<double>{1.2});
}

TEST_F(StateReader, TheEnhancedSwitchIsTriedOnceAndSetBackOnlyWhenItWasOff) {
    const JSON legacy = JSON::parse(R"({"name": "Legacy", "pid": 30,
      "attributes": {"AXEnhancedUserInterface": false}, "settable": ["AXEnhancedUserInterface"],
      "windows": [{"role": "AXWindow", "title": "Old", "children": [
        {"role": "AXButton", "title": "OK"}]}]})");
    const JSON unknown = JSON::parse(R"({"name": "Unknown", "pid": 31,
      "windows": [{"role": "AXWindow", "title": "Plain"}]})");
    build(JSON::array({legacy, unknown}));
    state({{"app", "Legacy"}});
    auto sets = calls("setAttribute");
    ASSERT_EQ(sets.size(), 3u);
    EXPECT_EQ(sets[0]["attribute"], "AXManualAccessibility");
    EXPECT_NE(sets[0]["result"], 0);
    EXPECT_EQ(sets[1]["attribute"], "AXEnhancedUserInterface");
    EXPECT_EQ(sets[1]["value"], true);
    EXPECT_EQ(sets[2]["attribute"], "AXEnhancedUserInterface");
    EXPECT_EQ(sets[2]["value"], false);
    EXPECT_EQ(pauses(), std::vector<double>{1.2});
    state({{"app", "Legacy"}});
    EXPECT_EQ(calls("setAttribute").size(), 3u);
    EXPECT_EQ(pauses(), std::vector<double>{1.2});

    // An app that does not report the switch: it is tried (and refused), the read still waits
    // once, and nothing is set back.
    state({{"app", "Unknown"}});
    sets = calls("setAttribute");
    ASSERT_EQ(sets.size(), 5u);
    EXPECT_EQ(sets[4]["attribute"], "AXEnhancedUserInterface");
    EXPECT_EQ(sets[4]["value"], true);
    EXPECT_EQ(pauses(), (std::vector<double>{1.2, 1.2}));
}

TEST_F(StateReader, ADenseWindowStaysInOverviewUntilAnOverviewFoldsNothing) {
    build(JSON::array({feedApp()}));
    const JSON first = state({{"app", "Feed"}, {"maxChars", 200}});
    EXPECT_EQ(first["tree"], R"([1] window "Feed"
  [2] group "Posts" — more inside: "p1", "p2", "p3"
  [3] button "x3"
  [4] button "x2"
  [5] button "x1")");
    EXPECT_EQ(first["overview"], true);
    EXPECT_EQ(first["truncated"], false);
    EXPECT_TRUE(desktop->isEqual(session(40).denseWindow, named("feed")));

    // A budget that would fit everything still reads the dense window as an overview.
    const JSON second = state({{"app", "Feed"}});
    EXPECT_EQ(second["overview"], true);
    EXPECT_EQ(second["count"], 5);

    desktop->control({{"do", "remove"}, {"element", "posts"}});
    const JSON third = state({{"app", "Feed"}});
    EXPECT_EQ(third["overview"], true);
    EXPECT_FALSE(session(40).denseWindow);
    EXPECT_EQ(state({{"app", "Feed"}})["overview"], false);
}

TEST_F(StateReader, ARegionThenAgainShowsThePartBesideTheOverview) {
    build(JSON::array({feedApp()}));
    state({{"app", "Feed"}, {"maxChars", 200}});  // [2] is the folded "Posts"
    const JSON region = state({{"app", "Feed"}, {"region", 2}});
    EXPECT_EQ(region["region"], 2);
    EXPECT_EQ(region["window"], JSON::parse(R"({"title": "Feed", "width": 400, "height": 300})"));
    EXPECT_EQ(region["count"], 21);
    EXPECT_EQ(region["overview"], false);
    EXPECT_EQ(region["truncated"], false);
    const std::string tree = region["tree"];
    EXPECT_EQ(tree.substr(0, tree.find("\n  [8]")), "[6] group \"Posts\"\n  [7] text value=\"p1\"");
    std::vector<std::string> keys;
    for (const auto& [key, value] : region.items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"app", "count", "menus", "overview", "region", "tree",
                                              "truncated", "window", "windows"}));
    // The window's indexes still hold next to the region's.
    EXPECT_EQ(session(40).elements.size(), 26u);
    EXPECT_TRUE(desktop->isEqual(session(40).region, named("posts")));

    const JSON again = state({{"app", "Feed"}, {"again", true}, {"maxChars", 900}});
    EXPECT_EQ(again["overview"], true);
    EXPECT_EQ(again["tree"].get<std::string>().substr(0, 24), "[27] window \"Feed\"\n  [28");
    const std::string part = again["part"];
    EXPECT_EQ(part.substr(0, part.find('\n')), "[32] group \"Posts\"");
    EXPECT_EQ(again["partTruncated"], false);
    EXPECT_EQ(again["count"], 5);
    EXPECT_EQ(session(40).next, 53);
    EXPECT_EQ(session(40).elements.size(), 26u);  // the window's 5 and the part's 21

    // The window gets a third of the budget: 100 characters do not hold its overview.
    const JSON tight = state({{"app", "Feed"}, {"again", true}, {"maxChars", 300}});
    EXPECT_EQ(tight["truncated"], true);
    EXPECT_TRUE(tight.contains("part"));

    // "again" reads the part each time until a read without it.
    EXPECT_TRUE(state({{"app", "Feed"}, {"again", true}}).contains("part"));
    EXPECT_FALSE(state({{"app", "Feed"}}).contains("part"));
    EXPECT_FALSE(state({{"app", "Feed"}, {"again", true}}).contains("part"));
}

TEST_F(StateReader, AgainNeedsARegionReadInsideTheDenseWindow) {
    build(JSON::array({feedApp(), JSON::parse(notesApp)}));
    EXPECT_FALSE(state({{"app", "Feed"}, {"again", true}}).contains("part"));
    // Not dense: the region read marks no part to re-read.
    state({{"app", "Notes"}});
    const JSON region = state({{"app", "Notes"}, {"region", 2}});
    EXPECT_EQ(region["tree"], "[4] button \"Save\"");
    EXPECT_FALSE(session(10).region);
    EXPECT_FALSE(state({{"app", "Notes"}, {"again", true}}).contains("part"));
}

TEST_F(StateReader, APartLeftWithoutBudgetIsEmptyAndTruncated) {
    // Thirty buttons make the first read dense without making it small, so the one-time
    // enhanced switch is still untried when "again" writes an outline of under 15 elements.
    JSON busy = JSON::parse(R"({"name": "Busy", "pid": 50,
      "windows": [{"id": "w", "role": "AXWindow", "title": "Busy", "children": []}]})");
    for (int i = 0; i < 30; ++i)
        busy["windows"][0]["children"].push_back(
            {{"role", "AXButton"}, {"title", "b" + std::to_string(i)}});
    build(JSON::array({busy}));
    const JSON first = state({{"app", "Busy"}, {"maxChars", 300}});
    EXPECT_EQ(first["truncated"], true);
    ASSERT_GE(first["count"].get<int>(), 15);
    state({{"app", "Busy"}, {"region", 2}});
    const JSON again = state({{"app", "Busy"}, {"again", true}, {"maxChars", 300}});
    EXPECT_EQ(pauses(), std::vector<double>{1.2});  // the enhanced switch's wait
    EXPECT_EQ(again["part"], "");
    EXPECT_EQ(again["partTruncated"], true);
}

TEST_F(StateReader, IndexesWrapAfterNinetyThousandButNotInRegions) {
    build(JSON::array({JSON::parse(notesApp)}));
    state({{"app", "Notes"}});
    session(10).next = 90000;
    EXPECT_EQ(state({{"app", "Notes"}})["tree"].get<std::string>().substr(0, 8), "[90000] ");
    EXPECT_EQ(session(10).next, 90003);
    EXPECT_EQ(state({{"app", "Notes"}, {"region", 90001}})["tree"], "[90003] button \"Save\"");
    EXPECT_EQ(state({{"app", "Notes"}})["tree"].get<std::string>().substr(0, 4), "[1] ");
}

TEST_F(StateReader, RegionReadsKeepOnlyTheNewestFiveThousandElements) {
    build(JSON::array({JSON::parse(notesApp)}));
    state({{"app", "Notes"}});  // [1] window, [2] Save, [3] text area
    AppSession& s = session(10);
    for (int64_t index = 4; index <= 5000; ++index) s.elements[index] = named("save");
    s.next = 5001;
    EXPECT_EQ(state({{"app", "Notes"}, {"region", 1}})["count"], 3);
    EXPECT_EQ(s.elements.size(), maxKeptElements);
    EXPECT_EQ(s.elements.begin()->first, 4);
    EXPECT_EQ(s.elements.rbegin()->first, 5003);
    EXPECT_EQ(failure({{"app", "Notes"}, {"region", 3}}).code, "stale");
}

TEST_F(StateReader, FailuresComeBeforeAnythingChanges) {
    build(JSON::array({JSON::parse(notesApp)}),
          JSON::parse(R"({"bundles": [{"path": "/Applications/Calendar.app"}]})"));
    EXPECT_EQ(failure(JSON::object()).message, "Give the app's name.");
    EXPECT_EQ(failure({{"app", 5}}).code, "bad-input");
    const Failure closed = failure({{"app", "Calendar"}, {"launch", false}});
    EXPECT_EQ(closed.code, "not-running");
    EXPECT_TRUE(calls("openApplication").empty());
    const Failure stale = failure({{"app", "Notes"}, {"region", 7}});
    EXPECT_EQ(stale.message,
              "Element [7] is not in the latest state of Notes. Read the app's state again and "
              "use an index from it.");
    // The stale region still took the one-time switch and made the session.
    EXPECT_EQ(calls("setAttribute").size(), 1u);
    EXPECT_NE(computer->sessions.find(10), nullptr);

    build(JSON::array({JSON::parse(notesApp)}), {{"trusted", false}});
    const Failure untrusted = failure({{"app", "Notes"}});
    EXPECT_EQ(untrusted.code, "accessibility");
    EXPECT_TRUE(calls("setAttribute").empty());
}

TEST_F(StateReader, TheWebAreaSearchExaminesThreeHundredElements) {
    auto withLeaves = [](int leaves) {
        JSON root = {{"id", "root"}, {"role", "AXWindow"}, {"children", JSON::array()}};
        for (int i = 0; i < leaves; ++i) root["children"].push_back({{"role", "AXButton"}});
        root["children"].push_back({{"role", "AXWebArea"}});
        return JSON{{"name", "Web"}, {"windows", JSON::array({root})}};
    };
    build(JSON::array({withLeaves(298)}));
    EXPECT_TRUE(hasEmptyWebArea(*desktop, named("root")));  // the 300th element examined
    build(JSON::array({withLeaves(299)}));
    EXPECT_FALSE(hasEmptyWebArea(*desktop, named("root")));
}

}  // namespace
}  // namespace pelko::computer
