// The simulated desktop is a model, not a script: what the program does to it reads back.
#include "sim/sim-desktop.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "ax-readers.h"
#include "child-process.h"

namespace pelko::computer::sim {
namespace {

const char* testScene = R"({
  "apps": [{
    "name": "Chat", "pid": 20, "bundleId": "com.example.chat", "active": true,
    "settable": ["AXManualAccessibility", "AXEnhancedUserInterface"],
    "revealedBy": "AXManualAccessibility", "revealDelaySeconds": 0.5,
    "windows": [{"id": "win", "role": "AXWindow", "title": "Chat", "children": [
      {"id": "web", "role": "AXWebArea", "lazy": true, "children": [
        {"id": "send", "role": "AXButton", "title": "Send", "actions": ["AXPress"],
         "onAction": {"AXPress": [
           {"do": "set", "element": "status", "attribute": "AXValue", "value": "Sent"},
           {"do": "add", "parent": "web", "element": {"id": "toast", "role": "AXStaticText", "value": "Delivered"}},
           {"do": "destroy", "element": "draft"}
         ]}},
        {"id": "draft", "role": "AXTextField", "value": "hi", "settable": ["AXValue"]},
        {"id": "status", "role": "AXStaticText", "value": ""},
        {"id": "refuse", "role": "AXButton", "actions": ["AXPress"], "actionErrors": {"AXPress": -25200}}
      ]}
    ]}],
    "menuBar": {"id": "menubar", "role": "AXMenuBar", "children": [
      {"role": "AXMenuBarItem", "title": "File"}]}
  }]
})";

class Model : public ::testing::Test {
  protected:
    Model() : desktop(clock, JSON::parse(testScene), (dir / "calls.log").string()) {}
    Element named(const std::string& name) { return desktop.elementNamed(name); }
    std::vector<std::string> childNames(const std::string& name) {
        std::vector<std::string> names;
        for (const auto& child : children(desktop, named(name)))
            names.push_back(str(desktop, child, "AXTitle")
                                .value_or(str(desktop, child, "AXRole").value_or("?")));
        return names;
    }

    pelko::testing::ScopedTempDir dir;
    VirtualClock clock;
    SimDesktop desktop;
};

TEST_F(Model, TheAppElementLeadsToWindowsMenusAndFocus) {
    const Element app = desktop.applicationElement(20);
    EXPECT_EQ(str(desktop, app, "AXRole"), "AXApplication");
    EXPECT_EQ(str(desktop, app, "AXTitle"), "Chat");
    const auto focused = attr(desktop, app, "AXFocusedWindow");
    ASSERT_TRUE(focused && focused->as<Element>());
    EXPECT_TRUE(isSame(desktop, *focused->as<Element>(), named("win")));
    const auto menuBar = attr(desktop, app, "AXMenuBar");
    ASSERT_TRUE(menuBar && menuBar->as<Element>());
    EXPECT_TRUE(isSame(desktop, *menuBar->as<Element>(), named("menubar")));
    const auto front = attr(desktop, desktop.systemWideElement(), "AXFocusedApplication");
    ASSERT_TRUE(front && front->as<Element>());
    EXPECT_EQ(desktop.processId(*front->as<Element>()), 20);
    EXPECT_EQ(desktop.copyAttribute(desktop.applicationElement(999), "AXRole").error,
              axInvalidElement);
}

TEST_F(Model, ALazyTreeAppearsOnlyAfterItsSwitchAndDelay) {
    EXPECT_TRUE(children(desktop, named("web")).empty());
    const Element app = desktop.applicationElement(20);
    EXPECT_EQ(desktop.setAttribute(app, "AXManualAccessibility", true), axSuccess);
    EXPECT_TRUE(children(desktop, named("web")).empty()) << "still building";
    clock.advance(seconds(0.5));
    EXPECT_EQ(children(desktop, named("web")).size(), 4u);
    EXPECT_EQ(boolAttr(desktop, app, "AXManualAccessibility"), true) << "the set reads back";
}

TEST_F(Model, SettingReadsBackAndRefusalsChangeNothing) {
    EXPECT_EQ(desktop.isSettable(named("draft"), "AXValue"), true);
    EXPECT_EQ(desktop.isSettable(named("status"), "AXValue"), false);
    EXPECT_EQ(desktop.setAttribute(named("draft"), "AXValue", "hello"), axSuccess);
    EXPECT_EQ(str(desktop, named("draft"), "AXValue"), "hello");
    EXPECT_EQ(desktop.setAttribute(named("status"), "AXValue", "x"), axAttributeUnsupported);
    EXPECT_EQ(str(desktop, named("status"), "AXValue"), std::nullopt);
}

TEST_F(Model, ActionsRunTheirEffectsAndDestroyedElementsAreInvalid) {
    desktop.setAttribute(desktop.applicationElement(20), "AXManualAccessibility", true);
    clock.advance(seconds(1));
    const Element draft = named("draft");
    EXPECT_EQ(desktop.performAction(named("send"), "AXPress"), axSuccess);
    EXPECT_EQ(str(desktop, named("status"), "AXValue"), "Sent");
    EXPECT_EQ(childNames("web"),
              (std::vector<std::string>{"Send", "AXStaticText", "AXButton", "AXStaticText"}));
    EXPECT_EQ(str(desktop, named("toast"), "AXValue"), "Delivered");
    EXPECT_EQ(desktop.copyAttribute(draft, "AXRole").error, axInvalidElement);
    EXPECT_EQ(desktop.performAction(draft, "AXPress"), axInvalidElement);
    EXPECT_EQ(desktop.setAttribute(draft, "AXValue", "x"), axInvalidElement);
    EXPECT_EQ(desktop.performAction(named("refuse"), "AXPress"), axFailure);
    EXPECT_EQ(desktop.performAction(named("status"), "AXPress"), axActionUnsupported);

    const std::string log = pelko::testing::readFile(dir / "calls.log");
    EXPECT_NE(log.find(R"("call":"performAction","element":"send","result":0)"), std::string::npos)
        << log;
    EXPECT_NE(
        log.find(R"("action":"AXPress","call":"performAction","element":"refuse","result":-25200)"),
        std::string::npos)
        << log;
}

TEST_F(Model, QuittingAnAppInvalidatesItsElementsAndFrontMoves) {
    desktop.control(JSON::parse(R"({"do": "launch", "app": {"name": "Other", "pid": 30}})"));
    desktop.control(JSON::parse(R"({"do": "front", "app": "Other"})"));
    EXPECT_EQ(desktop.frontmostApplication()->pid, 30);
    EXPECT_FALSE(desktop.runningApplication(20)->active);
    desktop.control(JSON::parse(R"({"do": "quit", "app": 20})"));
    EXPECT_TRUE(desktop.runningApplication(20)->terminated);
    EXPECT_EQ(desktop.copyAttribute(named("win"), "AXTitle").error, axInvalidElement);
    EXPECT_THROW(desktop.control(JSON::parse(R"({"do": "dance"})")), SceneError);
}

TEST_F(Model, BatchedReadsCountOneRoundTrip) {
    const auto before = desktop.traffic();
    const auto reads = desktop.copyAttributes(named("win"), {"AXRole", "AXTitle", "AXNothing"});
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(*reads[0].value.as<std::string>(), "AXWindow");
    EXPECT_EQ(reads[2].error, axAttributeUnsupported);
    const auto after = desktop.traffic();
    EXPECT_EQ(after.attributeReads - before.attributeReads, 3);
    EXPECT_EQ(after.roundTrips - before.roundTrips, 1);
}

TEST_F(Model, ReferencesToNothingAndNullReadAsNoValue) {
    desktop.control(JSON::parse(
        R"({"do": "set", "element": "win", "attribute": "AXTitleUIElement", "value": {"ref": "nowhere"}})"));
    desktop.control(JSON::parse(
        R"({"do": "set", "element": "win", "attribute": "AXDocument", "value": null})"));
    EXPECT_EQ(desktop.copyAttribute(named("win"), "AXTitleUIElement").error, axNoValue);
    EXPECT_EQ(desktop.copyAttribute(named("win"), "AXDocument").error, axNoValue);
}

TEST_F(Model, AnAddedWindowTakesItsPlaceBeforeTheMenuBar) {
    desktop.control(JSON::parse(R"({"do": "launch", "app": {"name": "Two", "pid": 40, "id": "two",
        "windows": [{"role": "AXWindow", "title": "Middle"}], "menuBar": {"role": "AXMenuBar"}}})"));
    desktop.control(JSON::parse(R"({"do": "add", "parent": "two", "index": 0,
        "element": {"role": "AXWindow", "title": "First"}})"));
    desktop.control(JSON::parse(R"({"do": "add", "parent": "two",
        "element": {"role": "AXWindow", "title": "Last"}})"));
    std::vector<std::string> windows;
    const auto list = attr(desktop, named("two"), "AXWindows");
    ASSERT_TRUE(list && list->as<Value::List>());
    for (const auto& window : *list->as<Value::List>())
        windows.push_back(str(desktop, *window.as<Element>(), "AXTitle").value_or("?"));
    EXPECT_EQ(windows, (std::vector<std::string>{"First", "Middle", "Last"}));
    EXPECT_EQ(childNames("two"),
              (std::vector<std::string>{"First", "Middle", "Last", "AXMenuBar"}));
}

TEST_F(Model, OpeningWhatIsNotABundleIsLoggedAsAFailedOpen) {
    std::optional<std::string> reported;
    desktop.openApplication(
        "/Applications/Nope.app", false,
        [&](std::optional<RunningApp>, std::optional<std::string> error) { reported = error; });
    ASSERT_TRUE(reported.has_value());
    const std::string log = pelko::testing::readFile(dir / "calls.log");
    EXPECT_NE(log.find(R"("call":"openFailed","error":")" + *reported +
                       R"(","path":"/Applications/Nope.app")"),
              std::string::npos)
        << log;
}

TEST(Workspace, LooksBundlesUpAtAnySpellingOfTheirPathAndIdentifiersInAnyCase) {
    VirtualClock clock;
    SimDesktop desktop(clock, JSON::parse(R"({
      "apps": [{"name": "Notes", "pid": 10, "bundleId": "com.apple.Notes",
                "path": "/System/Applications/Notes.app"}],
      "bundles": [
        {"path": "/System/Applications/Notes.app", "bundleId": "com.apple.Notes"},
        {"path": "/Applications/Maps.app", "bundleId": "com.apple.Maps"}
      ]
    })"));
    ASSERT_EQ(desktop.runningApplications("COM.APPLE.NOTES").size(), 1u);
    EXPECT_EQ(desktop.runningApplications("com.apple.notes")[0].pid, 10);
    EXPECT_TRUE(desktop.runningApplications("com.apple.Note").empty());
    EXPECT_EQ(desktop.applicationLocation("com.APPLE.maps"), "/Applications/Maps.app");

    for (const char* path : {"/System/Applications/Notes.app/", "/System//Applications/Notes.app",
                             "/System/./Applications/Notes.app//"}) {
        auto bundle = desktop.bundleAt(path);
        ASSERT_TRUE(bundle) << path;
        EXPECT_EQ(bundle->identifier, "com.apple.Notes") << path;
        EXPECT_TRUE(desktop.fileExists(path)) << path;
    }
    EXPECT_FALSE(desktop.bundleAt("/System/Applications/Notes.app/Contents/MacOS/Notes"));
    EXPECT_EQ(desktop.listFolder("/Applications/"), (std::vector<std::string>{"Maps.app"}));

    // Opened at another spelling, the bundle's app is the one already running.
    std::optional<RunningApp> opened;
    desktop.openApplication("/System/Applications/Notes.app/", false,
                            [&](std::optional<RunningApp> app, std::optional<std::string>) {
                                opened = std::move(app);
                            });
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->pid, 10);
}

TEST_F(Model, MalformedCommandsAreSceneErrors) {
    for (
        const char* command : {
            R"({"do": "set", "element": {"id": "win"}, "attribute": "AXTitle", "value": "x"})",
            R"({"do": "set", "element": "win", "attribute": "AXPosition", "value": {"point": [1]}})",
            R"({"do": "add", "parent": "web", "element": {"frame": ["a", 1, 2, 3]}})",
        })
        EXPECT_THROW(desktop.control(JSON::parse(command)), SceneError) << command;
}

TEST(ControlChannel, LogsLinesThatAreNoCommandAndGoesOn) {
    pelko::testing::ScopedTempDir dir;
    const auto fifo = dir / "control";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    VirtualClock clock;
    SimDesktop desktop(clock, JSON::parse(R"({"apps": [{"name": "A", "pid": 5}]})"),
                       (dir / "calls.log").string());
    desktop.listenForControl(fifo.string());
    {
        std::FILE* writer = std::fopen(fifo.c_str(), "w");
        ASSERT_NE(writer, nullptr);
        std::fputs(
            "not json\n\n{\"do\": \"set\", \"element\": {\"id\": \"x\"}}\n"
            "{\"do\": \"hide\", \"app\": 5}\n",
            writer);
        std::fclose(writer);
    }
    // The commands are read on the desktop's own thread: wait until the last one has landed.
    std::string log;
    for (int attempt = 0; attempt < 500 && log.find("control:hide") == std::string::npos;
         ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        log = pelko::testing::readFile(dir / "calls.log");
    }
    ASSERT_NE(log.find("control:hide"), std::string::npos) << log;
    size_t errors = 0;
    for (size_t at = 0; (at = log.find("controlError", at)) != std::string::npos; ++at) ++errors;
    EXPECT_EQ(errors, 2u) << log;
    EXPECT_TRUE(desktop.runningApplication(5)->hidden);
}

TEST(SceneErrors, NameTheProblem) {
    VirtualClock clock;
    EXPECT_THROW(SimDesktop(clock, JSON::parse(R"({"trusted": "yes"})")), SceneError);
    for (const char* scene : {
             R"({"folders": ["/Applications", 3]})",
             R"({"apps": [{"windows": [{"failing": {"AXTitle": "sometimes"}}]}]})",
             R"({"apps": [{"windows": [{"actionErrors": {"AXPress": null}}]}]})",
             R"({"apps": [{"windows": [{"settable": [true]}]}]})",
             R"({"apps": [{"windows": [{"frame": [0, 0, "wide", 10]}]}]})",
             R"({"apps": [{"windows": [{"attributes": {"AXPosition": {"point": [1]}}}]}]})",
             R"({"apps": [{"windows": [{"attributes": {"AXList": [{"rect": [1, 2]}]}}]}]})",
             R"({"apps": [{"windows": [{"onAction": {"AXPress": {"do": "set"}}}]}]})",
         })
        EXPECT_THROW(SimDesktop(clock, JSON::parse(scene)), SceneError) << scene;
    EXPECT_THROW(SimDesktop(clock, JSON::parse(R"({"apps": [{"pid": 1}, {"pid": 1}]})")),
                 SceneError);
    EXPECT_THROW(SimDesktop(clock, JSON::parse(R"({"bundles": [{"path": "Relative.app"}]})")),
                 SceneError);
}

}  // namespace
}  // namespace pelko::computer::sim
