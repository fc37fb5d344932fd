// listApps, find and resolve through the program, on the sample desktop and on small scenes.
#include <gtest/gtest.h>

#include "computer-process.h"

namespace pelko::computer::testing {
namespace {

std::vector<std::string> names(const JSON& apps) {
    std::vector<std::string> list;
    for (const auto& app : apps) list.push_back(app["name"]);
    return list;
}

TEST(AppsProtocol, ListAppsGivesRegularAppsWithWindowTitlesOnlyWithTrust) {
    ComputerProcess computer(ComputerProcess::sampleScene());
    computer.nextLine();
    const JSON reply = computer.request({{"id", 1}, {"method", "listApps"}});
    const JSON apps = reply["result"]["apps"];
    EXPECT_EQ(names(apps), (std::vector<std::string>{"Finder", "Notes", "Browser", "Settings"}));
    EXPECT_EQ(apps[1], JSON::parse(R"({"name": "Notes", "pid": 402, "active": true, "hidden": false,
        "bundleId": "com.apple.Notes", "path": "/System/Applications/Notes.app",
        "windows": ["Groceries"]})"));
    EXPECT_EQ(apps[3]["hidden"], true);
    int timeouts = 0;
    for (const auto& call : computer.calls()) {
        if (call["call"] == "setMessagingTimeout") {
            EXPECT_EQ(call["seconds"], 0.5);
            ++timeouts;
        }
    }
    EXPECT_EQ(timeouts, 4) << "one per listed app";

    JSON untrusted = ComputerProcess::sampleScene();
    untrusted["trusted"] = false;
    ComputerProcess withoutTrust(untrusted);
    withoutTrust.nextLine();
    const JSON listed = withoutTrust.request({{"id", 1}, {"method", "listApps"}})["result"]["apps"];
    EXPECT_EQ(listed.size(), 4u);
    for (const auto& app : listed) EXPECT_FALSE(app.contains("windows")) << app;
}

TEST(AppsProtocol, ListAppsKeepsTheFirstEightTitledWindows) {
    JSON windows = JSON::array();
    for (int i = 1; i <= 10; ++i) {
        windows.push_back({{"role", "AXWindow"}, {"title", "Doc " + std::to_string(i)}});
        if (i == 2) windows.push_back({{"role", "AXWindow"}, {"title", ""}});
        if (i == 3) windows.push_back({{"role", "AXWindow"}});
    }
    ComputerProcess computer(
        JSON{{"apps", JSON::array({{{"name", "Pages"}, {"pid", 9}, {"windows", windows}}})}});
    computer.nextLine();
    EXPECT_EQ(
        computer.request({{"id", 1}, {"method", "listApps"}})["result"]["apps"][0]["windows"],
        JSON::parse(R"(["Doc 1", "Doc 2", "Doc 3", "Doc 4", "Doc 5", "Doc 6", "Doc 7", "Doc 8"])"));
}

TEST(AppsProtocol, FindReportsRunningAndInstalledApps) {
    ComputerProcess computer(ComputerProcess::sampleScene());
    computer.nextLine();
    EXPECT_EQ(computer.request(
                  {{"id", 1}, {"method", "find"}, {"params", {{"app", "settings"}}}})["result"],
              JSON::parse(R"({"name": "Settings", "pid": 604, "active": false, "hidden": true,
                  "bundleId": "com.apple.systempreferences",
                  "path": "/System/Applications/System Settings.app", "running": true})"));
    EXPECT_EQ(computer.request(
                  {{"id", 2}, {"method", "find"}, {"params", {{"app", "maps.app"}}}})["result"],
              JSON::parse(R"({"name": "Maps", "path": "/System/Applications/Maps.app",
                              "running": false, "bundleId": "com.apple.Maps"})"));
    EXPECT_EQ(computer.request({{"id", 3},
                                {"method", "find"},
                                {"params", {{"app", "Activity Monitor"}}}})["result"]["path"],
              "/Applications/Utilities/Activity Monitor.app");
    EXPECT_EQ(computer.request({{"id", 4}, {"method", "find"}, {"params", {{"app", "Atlas"}}}}),
              JSON::parse(R"({"id": 4, "code": "no-app",
                  "error": "No app named Atlas was found on this Mac. list_apps shows the apps that are open."})"));
    EXPECT_EQ(computer.request({{"id", 5}, {"method", "find"}}),
              JSON::parse(R"({"id": 5, "code": "bad-input", "error": "Give the app's name."})"));
}

TEST(AppsProtocol, ResolveOpensOnlyWhenAllowedAndNeverActivates) {
    ComputerProcess computer(ComputerProcess::sampleScene());
    computer.nextLine();
    EXPECT_EQ(computer.request({{"id", 1}, {"method", "resolve"}, {"params", {{"app", "Maps"}}}}),
              JSON::parse(R"({"id": 1, "code": "not-running",
                  "error": "Maps is not open. Call get_app_state for it first (that opens it), then act."})"));
    const JSON opened =
        computer.request({{"id", 2},
                          {"method", "resolve"},
                          {"params", {{"app", "Maps"}, {"launch", true}}}})["result"];
    EXPECT_EQ(opened["name"], "Maps");
    EXPECT_EQ(opened["active"], false);
    EXPECT_EQ(opened["path"], "/System/Applications/Maps.app");
    EXPECT_EQ(computer.request(
                  {{"id", 3}, {"method", "find"}, {"params", {{"app", "maps"}}}})["result"]["pid"],
              opened["pid"]);
    EXPECT_EQ(
        computer.request(
            {{"id", 4}, {"method", "resolve"}, {"params", {{"app", "Atlas"}, {"launch", true}}}}),
        JSON::parse(
            R"({"id": 4, "code": "no-app", "error": "No app named Atlas was found on this Mac."})"));
    std::vector<JSON> opens;
    for (const auto& call : computer.calls()) {
        if (call["call"] == "openApplication") opens.push_back(call);
    }
    EXPECT_EQ(
        opens,
        (std::vector<JSON>{JSON::parse(
            R"({"call": "openApplication", "path": "/System/Applications/Maps.app", "activates": false})")}));
}

TEST(AppsProtocol, TheControlChannelActsAsTheUser) {
    ComputerProcess computer(ComputerProcess::sampleScene());
    computer.nextLine();
    computer.control({{"do", "quit"}, {"app", "Notes"}});
    computer.control({{"do", "front"}, {"app", "Browser"}});
    // The commands are read on their own thread; ask until they have landed.
    JSON apps;
    for (int attempt = 0; attempt < 100; ++attempt) {
        apps = computer.request({{"id", attempt}, {"method", "listApps"}})["result"]["apps"];
        if (names(apps).size() == 3 && apps[1]["active"] == true) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(names(apps), (std::vector<std::string>{"Finder", "Browser", "Settings"}));
    EXPECT_EQ(apps[1]["active"], true);
    EXPECT_EQ(
        computer.request(
            {{"id", "f"}, {"method", "find"}, {"params", {{"app", "Notes"}}}})["result"]["running"],
        false);
}

}  // namespace
}  // namespace pelko::computer::testing
