// The window picture on simulated desktops built in code, in virtual time: the window chosen,
// the picture's size and content, every failure, and the time limit with late completions.
#include "screenshot.h"

#include <thread>

#include "decoded-picture.h"
#include "jpeg-quality.h"
#include "request-loop.h"
#include "sim-fixture.h"

namespace pelko::computer {
namespace {

using testing::DecodedPicture;
using testing::decodePicture;

JSON window(const std::string& id, const std::string& title, JSON frame, JSON extra = {}) {
    JSON entry = {{"id", id}, {"role", "AXWindow"}, {"title", title}, {"frame", std::move(frame)}};
    if (extra.is_object()) entry.update(extra);
    return entry;
}

JSON app(const std::string& name, int pid, JSON windows, JSON extra = {}) {
    JSON entry = {{"name", name}, {"pid", pid}, {"windows", std::move(windows)}};
    if (extra.is_object()) entry.update(extra);
    return entry;
}

class Screenshot : public testing::SimFixture {
  protected:
    /// A new desktop of these apps, and the program's values on it.
    void scene(JSON apps, JSON extra = JSON::object()) {
        extra["apps"] = std::move(apps);
        computer.reset();
        build(extra);
        computer = std::make_unique<Computer>(*platform, stdout);
    }
    JSON shoot(const std::string& appName, std::optional<int64_t> maxWidth = std::nullopt) {
        JSON params = {{"app", appName}};
        if (maxWidth) params["maxWidth"] = *maxWidth;
        return handle(*computer, "screenshot", params);
    }
    Failure failureFor(const JSON& params) {
        try {
            handle(*computer, "screenshot", params);
        } catch (const Failure& failure) {
            return failure;
        }
        return {"no failure", "none"};
    }
    Failure failure(const std::string& appName) { return failureFor({{"app", appName}}); }
    /// The windows the capture was asked for, by scene id, with the asked sizes.
    std::vector<JSON> captures() {
        std::vector<JSON> asked;
        for (auto entry : calls("captureWindow")) {
            entry.erase("t");
            entry.erase("call");
            asked.push_back(entry);
        }
        return asked;
    }

    std::unique_ptr<Computer> computer;
};

// ---- the choice, on plain values ----

ShareableWindow shareable(std::uint32_t id, pid_t pid, Rect frame, int layer = 0,
                          std::optional<std::string> title = std::nullopt) {
    return {id, pid, layer, frame, std::move(title)};
}

JSON rectJSONOf(const Rect& r) {
    return {r.origin.x, r.origin.y, r.size.width, r.size.height};
}

std::vector<std::uint32_t> ids(const std::vector<ShareableWindow>& windows) {
    std::vector<std::uint32_t> found;
    for (const auto& w : windows) found.push_back(w.windowId);
    return found;
}

TEST(ScreenshotChoice, CandidatesAreTheAppsOrdinaryWindowsAbove40PointsInOrder) {
    const std::vector<ShareableWindow> windows = {
        shareable(1, 7, {{0, 0}, {500, 400}}),
        shareable(2, 8, {{0, 0}, {500, 400}}),               // another app's
        shareable(3, 7, {{0, 0}, {500, 400}}, /*layer=*/3),  // a panel
        shareable(4, 7, {{0, 0}, {40, 400}}),                // 40 points is not enough
        shareable(5, 7, {{0, 0}, {400, 40}}),
        shareable(6, 7, {{0, 0}, {40.5, 40.5}}),
        {9, std::nullopt, 0, {{0, 0}, {500, 400}}, {}},  // owned by no app
        shareable(7, 7, {{10, 10}, {300, 200}}),
    };
    EXPECT_EQ(ids(candidateWindows(windows, 7)), (std::vector<std::uint32_t>{1, 6, 7}));
    EXPECT_TRUE(candidateWindows(windows, 99).empty());
}

TEST(ScreenshotChoice, NearestOriginAndWidthWinsAndTheEarlierOnATie) {
    const std::vector<ShareableWindow> candidates = {
        shareable(1, 7, {{100, 100}, {500, 400}}),
        shareable(2, 7, {{103, 100}, {500, 900}}),  // nearest: height is not compared
        shareable(3, 7, {{97, 100}, {500, 400}}),   // as near as the second, but later
        shareable(4, 7, {{100, 100}, {510, 400}}),
    };
    const Rect reference{{102, 100}, {500, 400}};
    EXPECT_EQ(chooseWindow(candidates, {reference, "Other"})->windowId, 2u)
        << "a reference frame decides, whatever the title";
    EXPECT_EQ(chooseWindow(candidates, {Rect{{100, 104}, {500, 400}}, {}})->windowId, 1u);
    EXPECT_EQ(chooseWindow(candidates, {Rect{{100, 100}, {505, 1}}, {}})->windowId, 1u)
        << "1 and 4 are 5 points from it; the earlier wins";
    EXPECT_FALSE(chooseWindow({}, {reference, {}}));
}

TEST(ScreenshotChoice, WithoutAFrameTheExactTitleElseTheFirst) {
    const std::vector<ShareableWindow> candidates = {
        shareable(1, 7, {{0, 0}, {500, 400}}, 0, "Inbox"),
        shareable(2, 7, {{0, 0}, {500, 400}}),
        shareable(3, 7, {{0, 0}, {500, 400}}, 0, "Draft"),
        shareable(4, 7, {{0, 0}, {500, 400}}, 0, "Draft"),
    };
    EXPECT_EQ(chooseWindow(candidates, {{}, "Draft"})->windowId, 3u);
    EXPECT_EQ(chooseWindow(candidates, {{}, "draft"})->windowId, 1u) << "letter case counts";
    EXPECT_EQ(chooseWindow(candidates, {{}, "Dra"})->windowId, 1u) << "no part of a title";
    EXPECT_EQ(chooseWindow(candidates, {{}, {}})->windowId, 1u);
}

TEST(ScreenshotChoice, SizesAreCutToWholePixelsAndNeverBelowOne) {
    auto size = [](double width, double height, int64_t maxWidth) {
        const PictureSize s = pictureSize({{0, 0}, {width, height}}, maxWidth);
        return std::tuple{s.width, s.height, s.scale};
    };
    EXPECT_EQ(size(2880, 1800, 1440), std::tuple(1440, 900, 0.5));
    EXPECT_EQ(size(800, 600, 1440), std::tuple(800, 600, 1.0)) << "never enlarged";
    EXPECT_EQ(size(800.9, 600.9, 1440), std::tuple(800, 600, 1.0));
    EXPECT_EQ(size(2880, 1800, 333), std::tuple(333, 208, 333.0 / 2880));
    EXPECT_EQ(size(2880, 1800, 0), std::tuple(1, 1, 0.0));
    EXPECT_EQ(size(2880, 1800, -20), std::tuple(1, 1, 0.0)) << "no negative scale";
    EXPECT_EQ(size(5000, 41, 100), std::tuple(100, 1, 0.02));
    EXPECT_EQ(size(0.5, 300, 1440), std::tuple(1, 300, 1.0)) << "a width below 1 counts as 1";
}

// ---- through the method ----

TEST_F(Screenshot, AWideWindowIsHalvedAndANarrowOneKeepsItsSize) {
    scene({app("Wide", 10, {window("wide", "Plan", {0, 25, 2880, 1800})}),
           app("Narrow", 11, {window("narrow", "Note", {100.5, 80, 800, 500})})});
    const JSON wide = shoot("Wide");
    EXPECT_EQ(wide["mimeType"], "image/jpeg");
    EXPECT_EQ(wide["width"], 1440);
    EXPECT_EQ(wide["height"], 900);
    EXPECT_EQ(wide["scale"], 0.5);
    EXPECT_EQ(wide["window"], JSON::parse(R"({"x": 0, "y": 25, "width": 2880, "height": 1800})"));
    const DecodedPicture picture = decodePicture(wide["data"]);
    ASSERT_TRUE(picture.valid());
    EXPECT_EQ(picture.width, 1440);
    EXPECT_EQ(picture.height, 900);
    EXPECT_EQ(wide["data"].get<std::string>().find_first_of("\r\n"), std::string::npos);

    const JSON narrow = shoot("Narrow");
    EXPECT_EQ(narrow["width"], 800);
    EXPECT_EQ(narrow["height"], 500);
    EXPECT_EQ(narrow["scale"], 1);
    EXPECT_EQ(narrow["window"]["x"], 100.5);
    EXPECT_EQ(decodePicture(narrow["data"]).width, 800);
    const auto jpeg = pictures::decodeBase64(narrow["data"].get<std::string>());
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(pelko::testing::jpegQualityOf(*jpeg), 72);

    const JSON tiny = shoot("Narrow", 0);
    EXPECT_EQ(tiny["width"], 1);
    EXPECT_EQ(tiny["height"], 1);
    EXPECT_EQ(tiny["scale"], 0);
    const DecodedPicture dot = decodePicture(tiny["data"]);
    EXPECT_EQ(std::tuple(dot.width, dot.height), std::tuple(1, 1));

    // The capture was asked for the picture's size each time.
    EXPECT_EQ(captures(), JSON::parse(R"([{"window": "wide", "width": 1440, "height": 900},
        {"window": "narrow", "width": 800, "height": 500},
        {"window": "narrow", "width": 1, "height": 1}])"));
    EXPECT_EQ(calls("shareableContent").front()["onScreenWindowsOnly"], true);
    EXPECT_EQ(calls("shareableContent").front()["excludingDesktopWindows"], true);
}

TEST_F(Screenshot, ASharperCaptureIsScaledToThePictureSize) {
    // A capture system that delivers two pixels per point and leaves the scaling to the caller.
    scene({app("Wide", 10, {window("wide", "Plan", {0, 0, 1001, 601})})},
          {{"capture", {{"pixelsPerPoint", 2}}}});
    const JSON result = shoot("Wide", 500);
    const DecodedPicture picture = decodePicture(result["data"]);
    EXPECT_EQ(std::tuple(picture.width, picture.height), std::tuple(500, 300));
}

// A settings window whose look the test knows: a checked and an unchecked box, a button.
JSON settingsWindow() {
    return window("settings", "Privacy", {100, 100, 400, 300}, JSON::parse(R"({"children": [
        {"id": "on", "role": "AXCheckBox", "title": "Location", "value": 1, "frame": [140, 160, 200, 22]},
        {"id": "off", "role": "AXCheckBox", "title": "Analytics", "value": 0, "frame": [140, 200, 200, 22]},
        {"role": "AXButton", "title": "Unlock", "frame": [140, 300, 100, 40]}]})"));
}

TEST_F(Screenshot, ThePictureShowsTheWindowAsItsTreeDescribesIt) {
    scene({app("Settings", 10, {settingsWindow()})});
    const DecodedPicture picture = decodePicture(shoot("Settings")["data"]);
    ASSERT_TRUE(picture.valid());
    ASSERT_EQ(std::tuple(picture.width, picture.height), std::tuple(400, 300));
    auto near = [](std::array<int, 3> seen, std::array<int, 3> wanted) {
        for (int i = 0; i < 3; ++i) {
            if (std::abs(seen[i] - wanted[i]) > 30) return false;
        }
        return true;
    };
    const std::array<int, 3> white{255, 255, 255}, titleBar{237, 237, 237}, accent{0, 122, 255};
    EXPECT_TRUE(near(picture.at(200, 10), titleBar)) << "the title bar";
    EXPECT_TRUE(near(picture.at(300, 150), white)) << "the window's body";
    // The boxes sit at the left end of their rows: 14 points square, centred in 22.
    EXPECT_TRUE(near(picture.at(40 + 4, 60 + 7), accent)) << "the checked box";
    EXPECT_TRUE(near(picture.at(40 + 4, 100 + 7), white)) << "the unchecked box";
    EXPECT_TRUE(near(picture.at(45, 225), {247, 247, 247})) << "the button's face";
    int darkest = 255;
    for (int x = 40 + 22; x < 40 + 90; ++x)
        for (int y = 60 + 4; y < 60 + 18; ++y) darkest = std::min(darkest, picture.at(x, y)[0]);
    EXPECT_LT(darkest, 100) << "the box's title is written beside it";

    // The picture follows the model: unchecked, the box turns white.
    desktop->control(
        JSON::parse(R"({"do": "set", "element": "on", "attribute": "AXValue", "value": 0})"));
    EXPECT_TRUE(near(decodePicture(shoot("Settings")["data"]).at(40 + 4, 60 + 7), white));
}

TEST_F(Screenshot, MinimizedHiddenOffScreenSmallAndPanelWindowsAreNoCandidates) {
    const JSON hidden = JSON::parse(R"({"hidden": true})");
    scene({app("Many", 10,
               {window("minimized", "A", {0, 0, 500, 400}, {{"minimized", true}}),
                window("elsewhere", "B", {0, 0, 500, 400}, {{"offScreen", true}}),
                window("thin", "C", {0, 0, 40, 400}), window("flat", "D", {0, 0, 400, 40}),
                window("panel", "E", {0, 0, 500, 400}, {{"layer", 8}})},
               {{"id", "many"}}),
           app("Shy", 11, {window("shy", "F", {0, 0, 500, 400})}, hidden)});
    const Failure many = failure("Many");
    EXPECT_EQ(many.code, "no-window");
    EXPECT_EQ(many.message,
              "Many has no window on screen to picture (it may be minimized or on another "
              "desktop).");
    EXPECT_EQ(failure("Shy").code, "no-window") << "a hidden app's windows are off screen";
    EXPECT_TRUE(captures().empty());

    // One more window of 41 points either way is pictured.
    desktop->control(
        {{"do", "add"}, {"parent", "many"}, {"element", window("small", "H", {0, 0, 41, 41})}});
    EXPECT_EQ(shoot("Many")["width"], 41);
}

TEST_F(Screenshot, AnAppWithoutANameIsCalledTheApp) {
    scene({{{"pid", 12},
            {"bundleId", "x.nameless"},
            {"windows", {window("w", "G", {0, 0, 30, 30})}}}});
    EXPECT_EQ(failure("x.nameless").message,
              "The app has no window on screen to picture (it may be minimized or on another "
              "desktop).");
}

// Two windows: "front" is focused and listed first, "back" sits behind it.
JSON twoWindows(JSON backExtra = {}) {
    return app("Mail", 10,
               {window("front", "Inbox", {100, 100, 700, 500}),
                window("back", "Draft", {140, 120, 600, 400}, backExtra)},
               {{"focusedWindow", "front"}});
}

TEST_F(Screenshot, TheWindowTheAgentLastReadIsPicturedEvenBehindAnother) {
    scene({twoWindows()});
    EXPECT_EQ(shoot("Mail")["window"]["x"], 100) << "without a read, the focused window";
    handle(*computer, "state", {{"app", "Mail"}, {"window", "draft"}});
    const JSON result = shoot("Mail");
    EXPECT_EQ(result["window"],
              JSON::parse(R"({"x": 140, "y": 120, "width": 600, "height": 400})"));
    EXPECT_EQ(captures().back()["window"], "back");
    // The session is only read: a read of the other window moves the picture back.
    handle(*computer, "state", {{"app", "Mail"}});
    EXPECT_EQ(shoot("Mail")["window"]["x"], 100);
}

TEST_F(Screenshot, FramesThatDifferFromTheCapturesPickTheNearestAndTheFirstOnATie) {
    // The capture system reports "back" 3 points off its accessibility frame.
    scene({app("Mail", 10,
               {window("front", "Inbox", {100, 100, 600, 400}),
                window("back", "Draft", {104, 100, 600, 400},
                       {{"captureFrame", {103, 100, 600, 400}}})})});
    handle(*computer, "state", {{"app", "Mail"}, {"window", "Draft"}});
    EXPECT_EQ(shoot("Mail")["window"]["x"], 103) << "1 point away against 4";

    scene({app("Mail", 10,
               {window("front", "Inbox", {100, 100, 600, 400}),
                window("back", "Draft", {104, 100, 600, 400},
                       {{"captureFrame", {108, 100, 600, 400}}})})});
    handle(*computer, "state", {{"app", "Mail"}, {"window", "Draft"}});
    EXPECT_EQ(shoot("Mail")["window"]["x"], 100) << "4 points each way: the one listed first";
}

TEST_F(Screenshot, AReferenceWithoutAFrameIsMatchedByItsTitle) {
    // "back" is focused but reports no position: its title finds its picture.
    scene({app(
        "Mail", 10,
        {window("front", "Inbox", {100, 100, 700, 500}),
         window("back", "Draft", {140, 120, 600, 400}, {{"failing", {{"AXPosition", -25204}}}})},
        {{"focusedWindow", "back"}})});
    EXPECT_EQ(shoot("Mail")["window"]["x"], 140);
}

TEST_F(Screenshot, WithoutAccessibilityTheFirstCandidateIsTaken) {
    scene({app("Mail", 10,
               {window("front", "Inbox", {100, 100, 700, 500}),
                window("back", "Draft", {140, 120, 600, 400})},
               {{"focusedWindow", "back"}})},
          {{"trusted", false}});
    EXPECT_EQ(shoot("Mail")["window"]["x"], 100);
}

TEST_F(Screenshot, EveryFailureHasItsCodeAndSentence) {
    struct Case {
        const char* what;
        JSON extra;
        const char* code;
        const char* message;
    };
    const Case cases[] = {
        {"no permission",
         {{"screenCapture", false}},
         "screen",
         "Pelko may not take pictures of the screen yet (System Settings → Privacy & Security "
         "→ Screen & System Audio Recording)."},
        {"no content",
         {{"capture", {{"contentFails", true}, {"contentError", "Stopped."}}}},
         "screen",
         "The screen could not be read (Stopped.)."},
        {"no content, no error",
         {{"capture", {{"contentFails", true}}}},
         "screen",
         "The screen could not be read (unknown)."},
        {"no image",
         {{"capture", {{"image", "fails"}, {"imageError", "Busy."}}}},
         "screen",
         "The picture failed (Busy.)."},
        {"no image, no error",
         {{"capture", {{"image", "fails"}}}},
         "screen",
         "The picture failed (unknown)."},
        {"an image that does not encode",
         {{"capture", {{"image", "empty"}}}},
         "failed",
         "The picture could not be encoded."},
        {"a capture that never answers",
         {{"capture", {{"image", "dropped"}}}},
         "screen",
         "The picture failed."},
    };
    for (const auto& c : cases) {
        scene({twoWindows()}, c.extra);
        const Duration before = clock.elapsed();
        const Failure f = failure("Mail");
        EXPECT_EQ(f.code, c.code) << c.what;
        EXPECT_EQ(f.message, c.message) << c.what;
        EXPECT_EQ(clock.elapsed(), before) << c.what << ": answered without waiting";
    }

    scene({twoWindows()},
          JSON::parse(
              R"({"bundles": [{"path": "/Applications/Atlas.app", "bundleId": "x.atlas"}]})"));
    EXPECT_EQ(failure("Atlas").code, "not-running");
    EXPECT_TRUE(calls("openApplication").empty()) << "a picture never opens an app";
    const Failure missing = failureFor({{"maxWidth", 10}});
    EXPECT_EQ(std::tuple(missing.code, missing.message),
              std::tuple(std::string("bad-input"), std::string("Give the app's name.")));
    EXPECT_EQ(failureFor({{"app", 5}}).code, "bad-input") << "a name must be text";
    EXPECT_EQ(shoot("Mail", std::nullopt)["width"], 700);
    EXPECT_EQ(handle(*computer, "screenshot", {{"app", "Mail"}, {"maxWidth", "350"}})["width"], 700)
        << "a maximum that is not a number counts as missing";
}

TEST_F(Screenshot, ASlowChainTimesOutAfterTenSecondsAndItsLateEndHarmsNothing) {
    // Content after 6 s, the image 6 s later: the chain needs 12 s.
    scene({twoWindows()}, {{"capture", {{"contentSeconds", 6}, {"imageSeconds", 6}}}});
    Failure first = failure("Mail");
    EXPECT_EQ(std::tuple(first.code, first.message),
              std::tuple(std::string("screen"), std::string("The picture took too long.")));
    EXPECT_DOUBLE_EQ(inSeconds(clock.elapsed()), 10);
    // The second request waits through the first one's late image (at 12 s), which must not
    // answer it: it times out on its own at 20 s.
    Failure second = failure("Mail");
    EXPECT_EQ(second.message, "The picture took too long.");
    EXPECT_DOUBLE_EQ(inSeconds(clock.elapsed()), 20);
    EXPECT_EQ(captures().size(), 2u);
    // The second one's image arrives at 22 s, on another thread, into cells nobody reads.
    std::thread([this] { clock.advance(seconds(5)); }).join();
    EXPECT_DOUBLE_EQ(inSeconds(clock.elapsed()), 25);
}

TEST_F(Screenshot, AChainJustInsideTheLimitIsAnswered) {
    scene({twoWindows()}, {{"capture", {{"contentSeconds", 4}, {"imageSeconds", 5.9}}}});
    EXPECT_EQ(shoot("Mail")["width"], 700);
    EXPECT_NEAR(inSeconds(clock.elapsed()), 9.9, 1e-9);
}

// The simulated capture system itself: what it lists, in which order, and when it answers.
TEST_F(Screenshot, TheSimulatedDesktopListsWindowsFrontAppFirstAsTheCaptureReportsThem) {
    scene({app("Back", 10,
               {window("b1", "One", {0, 0, 300, 200}),
                window("b2", "", {10, 10, 300, 200}, {{"minimized", true}})}),
           app("Front", 11,
               {window("f1", "Palette", {5, 5, 100, 300}, {{"layer", 3}}),
                window("f2", "Main", {50, 60, 700, 500}, {{"captureFrame", {49, 59, 702, 502}}}),
                window("f3", "Elsewhere", {0, 0, 300, 200}, {{"offScreen", true}})},
               {{"active", true}})},
          {{"capture", {{"contentSeconds", 0.5}}}});
    auto list = [this](bool onScreenOnly) {
        std::optional<std::vector<ShareableWindow>> listed;
        Signal done;
        desktop->shareableContent({true, onScreenOnly}, [&](auto windows, auto) {
            listed = std::move(windows);
            done.raise();
        });
        EXPECT_FALSE(done.isRaised()) << "the answer comes later";
        EXPECT_TRUE(clock.wait(done, seconds(1)));
        JSON seen = JSON::array();
        for (const auto& w : listed.value()) {
            seen.push_back(
                {w.ownerPid.value_or(0), w.layer, w.title.value_or("-"), rectJSONOf(w.frame)});
        }
        return seen;
    };
    EXPECT_EQ(list(true), JSON::parse(R"([[11, 3, "Palette", [5, 5, 100, 300]],
        [11, 0, "Main", [49, 59, 702, 502]], [10, 0, "One", [0, 0, 300, 200]]])"));
    EXPECT_EQ(list(false).size(), 5u) << "off-screen and minimised windows too";
    EXPECT_DOUBLE_EQ(inSeconds(clock.elapsed()), 1);
}

}  // namespace
}  // namespace pelko::computer
