// The state method through the program's standard streams, on a scene file.
#include <gtest/gtest.h>

#include "computer-process.h"
#include "sim/sim-desktop.h"

namespace pelko::computer::testing {
namespace {

JSON notesScene() {
    return sim::SimDesktop::loadScene(PELKO_COMPUTER_TEST_SCENES "/notes.json");
}

TEST(StateProtocol, AWindowThenOneOfItsPartsThenAStaleIndex) {
    ComputerProcess computer(notesScene());
    computer.nextLine();  // ready
    const JSON reply =
        computer.request({{"id", 1}, {"method", "state"}, {"params", {{"app", "Notes"}}}});
    EXPECT_EQ(reply, JSON::parse(R"({"id": 1, "result": {
      "app": {"name": "Notes", "pid": 501, "active": true, "hidden": false,
              "bundleId": "com.example.notes", "path": "/Applications/Notes.app"},
      "windows": ["Notes — Groceries"],
      "menus": ["Notes", "File", "Edit", "Format"],
      "window": {"title": "Notes — Groceries", "x": 100, "y": 80, "width": 900, "height": 640,
                 "minimized": false},
      "count": 19, "truncated": false, "overview": false,
      "tree": "[1] window \"Notes — Groceries\"\n  [2] close button\n  [3] minimize button\n  [4] zoom button\n  [5] button \"New Note\"\n  [6] button desc=\"Delete\" (disabled)\n  [7] popup \"Share\" value=\"Mail\" actions: showMenu\n  [8] search field placeholder=\"Search\"\n  [9] outline desc=\"Notes\"\n    [10] row (selected)\n      [11] cell\n        [12] text value=\"Groceries\"\n        [13] text value=\"Milk, eggs, 'good' bread\"\n    [14] row\n      [15] cell\n        [16] text value=\"Trip to Lyon\"\n  [17] textarea value=\"Groceries ⏎ Milk ⏎ Eggs\" (focused)\n  [18] checkbox \"Pin note\" (on)\n  [19] text value=\"2 notes\""
    }})"));

    const JSON region = computer.request(
        {{"id", 2}, {"method", "state"}, {"params", {{"app", "Notes"}, {"region", 9}}}});
    EXPECT_EQ(region["result"]["tree"], R"([20] outline desc="Notes"
  [21] row (selected)
    [22] cell
      [23] text value="Groceries"
      [24] text value="Milk, eggs, 'good' bread"
  [25] row
    [26] cell
      [27] text value="Trip to Lyon")");
    EXPECT_EQ(region["result"]["window"],
              JSON::parse(R"({"title": "Notes — Groceries", "width": 900, "height": 640})"));
    EXPECT_EQ(region["result"]["region"], 9);
    EXPECT_EQ(region["result"]["count"], 8);

    EXPECT_EQ(computer.request(
                  {{"id", 3}, {"method", "state"}, {"params", {{"app", "Notes"}, {"region", 99}}}}),
              JSON::parse(R"({"id": 3, "code": "stale", "error":
                "Element [99] is not in the latest state of Notes. Read the app's state again and use an index from it."})"));
    EXPECT_EQ(computer.request({{"id", 4}, {"method", "state"}, {"params", {{"window", "x"}}}}),
              JSON::parse(R"({"id": 4, "code": "bad-input", "error": "Give the app's name."})"));

    // The app's element was given its time-out, and the manual switch was tried once.
    int timeouts = 0, switches = 0;
    for (const auto& call : computer.calls()) {
        if (call["call"] == "setMessagingTimeout" && call["seconds"] == 2.0) ++timeouts;
        if (call["call"] == "setAttribute" && call["attribute"] == "AXManualAccessibility")
            ++switches;
    }
    EXPECT_EQ(timeouts, 3);
    EXPECT_EQ(switches, 1);
}

}  // namespace
}  // namespace pelko::computer::testing
