// Finding, locating and opening apps on desktops built in code.
#include "apps.h"

#include <gtest/gtest.h>

#include "computer.h"
#include "method.h"
#include "sim/sim-desktop.h"

namespace pelko::computer {
namespace {

class Apps : public ::testing::Test {
  protected:
    void build(const JSON& scene) { desktop = std::make_unique<sim::SimDesktop>(clock, scene); }
    Workspace& workspace() { return *desktop; }
    Platform platform() {
        return {clock, mainLoop, *desktop, *desktop, *desktop, *desktop, *desktop, *desktop};
    }
    std::string found(const std::string& name) {
        auto app = findRunning(workspace(), name);
        return app ? app->localizedName.value_or("(unnamed)") : "nothing";
    }

    VirtualClock clock;
    MainLoop mainLoop{clock};
    std::unique_ptr<sim::SimDesktop> desktop;
};

TEST_F(Apps, NormalizedLowersCutsEveryDotAppAndTrims) {
    EXPECT_EQ(normalized("  Notes.APP \n"), "notes");
    EXPECT_EQ(normalized("com.example.appstore"), "com.examplestore");
    EXPECT_EQ(normalized("My.app Thing.app"), "my thing");
    EXPECT_EQ(normalized(" \t "), "");
    EXPECT_EQ(normalized("\u00A0ÉCRAN.APP\n"), "écran");
    EXPECT_EQ(normalized("X..appapp"), "x.app") << "one pass: no new \".app\" forms";
}

TEST_F(Apps, RunningAppsAreRegularAndAliveInWorkspaceOrder) {
    build(JSON::parse(R"({"apps": [
        {"name": "Finder", "pid": 10},
        {"name": "Helper", "pid": 11, "policy": "accessory"},
        {"name": "Daemon", "pid": 12, "policy": "prohibited"},
        {"name": "Gone", "pid": 13, "terminated": true},
        {"name": "Notes", "pid": 14, "hidden": true}
    ]})"));
    std::vector<pid_t> pids;
    for (const auto& app : runningApps(workspace())) pids.push_back(app.pid);
    EXPECT_EQ(pids, (std::vector<pid_t>{10, 14}));
}

TEST_F(Apps, AppInfoLeavesOutWhatIsUnknown) {
    RunningApp bare;
    bare.pid = 42;
    EXPECT_EQ(appInfo(bare),
              JSON::parse(R"({"name": "", "pid": 42, "active": false, "hidden": false})"));
    RunningApp full{7,
                    "Notes",
                    "com.apple.Notes",
                    "/System/Applications/Notes.app",
                    ActivationPolicy::regular,
                    true,
                    false,
                    false};
    EXPECT_EQ(appInfo(full), JSON::parse(R"({"name": "Notes", "pid": 7, "active": true,
        "hidden": false, "bundleId": "com.apple.Notes", "path": "/System/Applications/Notes.app"})"));
}

TEST_F(Apps, FindRunningTriesIdentifierNamePathExactIdentifierThenBundle) {
    build(JSON::parse(R"({
      "apps": [
        {"name": "Notes", "pid": 10, "bundleId": "com.example.Notes",
         "path": "/System/Applications/Notes.app"},
        {"name": "com.example.notes", "pid": 11, "bundleId": "org.example.decoy"},
        {"name": "Store", "pid": 12, "bundleId": "com.example.AppStore"},
        {"name": "Code", "pid": 13, "bundleId": "com.microsoft.VSCode",
         "path": "/Applications/Visual Studio Code.app"}
      ],
      "bundles": [
        {"path": "/Applications/Visual Studio Code.app", "bundleId": "com.microsoft.VSCode"},
        {"path": "/Applications/Fancy.app", "bundleId": "com.example.fancy"}
      ]
    })"));
    for (const char* name : {"Notes", "notes", "NOTES.APP", "  Notes  ", "Notes.app"})
        EXPECT_EQ(found(name), "Notes") << name;
    // The identifier step comes before the name step.
    EXPECT_EQ(found("COM.EXAMPLE.NOTES"), "Notes");
    // Normalizing turns the identifier into "com.examplestore"; spelled exactly it is found.
    EXPECT_EQ(found("com.example.AppStore"), "Store");
    EXPECT_EQ(found("com.example.appstore"), "nothing") << "the exact step is case-sensitive";
    // The bundle path finds the app only spelled exactly; a differently spelled path goes
    // through the bundle on disk and its identifier.
    EXPECT_EQ(found("/System/Applications/Notes.app"), "Notes");
    EXPECT_EQ(found("/Applications/Visual Studio Code.app"), "Code");
    EXPECT_EQ(found("Visual Studio Code"), "Code") << "the display name differs from the file";
    EXPECT_EQ(found("Fancy"), "nothing") << "installed but not running";
    EXPECT_EQ(found("Safari"), "nothing");
}

TEST_F(Apps, ANameWithASpaceAndADotIsNeverAnIdentifier) {
    build(JSON::parse(R"({
      "apps": [{"name": "Tool", "pid": 10, "bundleId": "my tool.v2"}],
      "bundles": [{"path": "/Applications/Other.app", "bundleId": "my tool.v2"}]
    })"));
    EXPECT_EQ(found("my tool.v2"), "Tool") << "found by the identifier step, lower-cased";
    EXPECT_EQ(installedURL(workspace(), "my tool.v2"), std::nullopt)
        << "the workspace is never asked about it as an identifier";
}

TEST_F(Apps, InstalledURLSearchesFoldersInOrderThenLoosely) {
    build(JSON::parse(R"({
      "home": "/Users/pat",
      "bundles": [
        {"path": "/Applications/Utilities/Terminal.app", "bundleId": "com.apple.Terminal"},
        {"path": "/System/Applications/Utilities/Terminal.app"},
        {"path": "/Users/pat/Applications/Tiny Tool.app"},
        {"path": "/Applications/Safari.app", "bundleId": "com.apple.Safari"},
        {"path": "/System/Applications/Safari.app"}
      ]
    })"));
    EXPECT_EQ(installedURL(workspace(), "Safari"), "/Applications/Safari.app");
    EXPECT_EQ(installedURL(workspace(), "Terminal"), "/System/Applications/Utilities/Terminal.app")
        << "the third folder comes before the fourth";
    EXPECT_EQ(installedURL(workspace(), "tiny tool"), "/Users/pat/Applications/Tiny Tool.app")
        << "the loose match through the home folder";
    EXPECT_EQ(installedURL(workspace(), "TINY TOOL.APP"), "/Users/pat/Applications/Tiny Tool.app");
    EXPECT_EQ(installedURL(workspace(), "com.apple.Terminal"),
              "/Applications/Utilities/Terminal.app");
    EXPECT_EQ(installedURL(workspace(), "/Applications/Safari.app"), "/Applications/Safari.app");
    EXPECT_EQ(installedURL(workspace(), "/Applications/Nope.app"), std::nullopt);
    EXPECT_EQ(installedURL(workspace(), "Nope"), std::nullopt);
}

TEST_F(Apps, UnlistableFoldersAreSkipped) {
    build(JSON::parse(R"({
      "unlistableFolders": ["/Applications"],
      "bundles": [{"path": "/Applications/Maps Pro.app"}, {"path": "/System/Applications/maps pro.app"}]
    })"));
    EXPECT_EQ(installedURL(workspace(), "MAPS PRO"), "/System/Applications/maps pro.app");
}

TEST_F(Apps, ResolveReturnsARunningAppAtOnceWithoutActivatingIt) {
    build(JSON::parse(R"({"apps": [{"name": "Notes", "pid": 10, "active": false}]})"));
    auto p = platform();
    const RunningApp app = resolveApp(p, "notes", true);
    EXPECT_EQ(app.pid, 10);
    EXPECT_EQ(clock.elapsed(), Duration::zero());
    EXPECT_FALSE(workspace().runningApplication(10)->active);
}

TEST_F(Apps, ResolveTellsNotRunningFromNoApp) {
    build(JSON::parse(R"({"bundles": [{"path": "/Applications/Maps.app"}]})"));
    auto p = platform();
    try {
        resolveApp(p, "maps", false);
        FAIL();
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code, "not-running");
        EXPECT_EQ(failure.message,
                  "maps is not open. Call get_app_state for it first (that opens it), then act.");
    }
    try {
        resolveApp(p, "Atlas", true);
        FAIL();
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code, "no-app");
        EXPECT_EQ(failure.message, "No app named Atlas was found on this Mac.");
    }
}

TEST_F(Apps, ResolveOpensInTheBackgroundAndWaitsForTheFirstWindow) {
    build(
        JSON::parse(R"({"bundles": [{"path": "/Applications/Maps.app", "bundleId": "com.apple.Maps",
        "info": {"CFBundleName": "Maps"},
        "launch": {"seconds": 3, "app": {"windowlessReads": 2,
                   "windows": [{"role": "AXWindow", "title": "Maps"}]}}}]})"));
    auto p = platform();
    const RunningApp app = resolveApp(p, "Maps", true);
    EXPECT_EQ(app.localizedName, "Maps");
    EXPECT_FALSE(app.active) << "opened without activation";
    // Three seconds for the open, then two empty window reads with a quarter second after each.
    EXPECT_DOUBLE_EQ(inSeconds(clock.elapsed()), 3.5);
    EXPECT_EQ(clock.pauses(), (std::vector<Duration>{seconds(0.25), seconds(0.25)}));
    EXPECT_EQ(findRunning(workspace(), "maps")->pid, app.pid);
}

TEST_F(Apps, AnAppThatShowsNoWindowIsWaitedForSixSecondsAndStillReturned) {
    build(JSON::parse(R"({"bundles": [{"path": "/Applications/Agent.app",
        "launch": {"seconds": 1}}]})"));
    auto p = platform();
    const RunningApp app = resolveApp(p, "agent", true);
    EXPECT_EQ(app.localizedName, "Agent") << "named after the file without a bundle name";
    EXPECT_EQ(clock.pauses().size(), 24u);
    EXPECT_DOUBLE_EQ(inSeconds(clock.elapsed()), 1 + 24 * 0.25);
}

TEST_F(Apps, AFailedOrEndlessOpenIsNoApp) {
    build(JSON::parse(R"({"bundles": [
        {"path": "/Applications/Broken.app", "launch": {"seconds": 1, "error": "The file is damaged"}},
        {"path": "/Applications/Stuck.app", "launch": {"never": true}},
        {"path": "/Applications/Slow.app", "launch": {"seconds": 25}}
    ]})"));
    auto p = platform();
    auto failure = [&](const std::string& name) {
        try {
            resolveApp(p, name, true);
        } catch (const Failure& f) {
            EXPECT_EQ(f.code, "no-app");
            return f.message;
        }
        return std::string("no failure");
    };
    EXPECT_EQ(failure("Broken"), "Could not open Broken: The file is damaged.");
    EXPECT_DOUBLE_EQ(inSeconds(clock.elapsed()), 1);
    EXPECT_EQ(failure("Stuck"), "Could not open Stuck.");
    EXPECT_DOUBLE_EQ(inSeconds(clock.elapsed()), 21) << "the open is waited for 20 seconds";
    EXPECT_EQ(failure("Slow"), "Could not open Slow.");
    // The late completion still lands, and the next request finds the app running.
    clock.advance(seconds(10));
    EXPECT_TRUE(findRunning(workspace(), "Slow").has_value());
}

TEST_F(Apps, FindReportsInstalledAppsByTheirBundleNames) {
    build(JSON::parse(R"({"bundles": [
        {"path": "/Applications/Display.app", "bundleId": "x.display",
         "info": {"CFBundleDisplayName": "Shown Name", "CFBundleName": "Plain Name"}},
        {"path": "/Applications/Plain.app", "info": {"CFBundleName": "Plain Name", "CFBundleDisplayName": 3}},
        {"path": "/Applications/Bare.app"}
    ], "apps": [{"name": "Notes", "pid": 5}]})"));
    auto p = platform();
    Computer computer(p, stdout);
    EXPECT_EQ(find(computer, {{"app", "display"}}),
              JSON::parse(R"({"name": "Shown Name", "path": "/Applications/Display.app",
                              "running": false, "bundleId": "x.display"})"));
    EXPECT_EQ(find(computer, {{"app", "plain"}})["name"], "Plain Name");
    EXPECT_EQ(
        find(computer, {{"app", "bare"}}),
        JSON::parse(R"({"name": "Bare", "path": "/Applications/Bare.app", "running": false})"));
    EXPECT_EQ(find(computer, {{"app", "/Applications/Bare.app/"}})["name"], "Bare")
        << "a path ending in a slash still names its last component";
    EXPECT_EQ(find(computer, {{"app", "notes"}})["running"], true);
    try {
        find(computer, {{"app", "Atlas"}});
        FAIL();
    } catch (const Failure& failure) {
        EXPECT_EQ(
            failure.message,
            "No app named Atlas was found on this Mac. list_apps shows the apps that are open.");
        EXPECT_EQ(failure.code, "no-app");
    }
    try {
        find(computer, {{"app", 3}});
        FAIL();
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.message, "Give the app's name.");
        EXPECT_EQ(failure.code, "bad-input");
    }
}

}  // namespace
}  // namespace pelko::computer
