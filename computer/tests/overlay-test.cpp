// The banner's geometry and look, the highlight, and the Escape stop, on a simulated desktop
// whose call log shows every panel change.
#include "overlay.h"

#include "banner.h"
#include "input-events.h"
#include "request-loop.h"
#include "sim-fixture.h"

namespace pelko::computer {
namespace {

using testing::SimFixture;

const JSON sampleDesktop = JSON::parse(R"({
  "screens": [{"frame": [0, 0, 1440, 900], "visibleFrame": [0, 70, 1440, 805]},
              {"frame": [1440, -180, 1920, 1080], "visibleFrame": [1440, -180, 1920, 1055]}],
  "apps": [
    {"name": "Notes", "pid": 10, "active": true,
     "windows": [{"id": "notesWindow", "role": "AXWindow", "frame": [100, 50, 800, 600],
                  "children": [{"id": "notesText", "role": "AXTextArea", "frame": [100, 200, 50, 20]},
                               {"id": "flat", "role": "AXGroup", "frame": [100, 200, 50, 0]},
                               {"id": "unplaced", "role": "AXGroup"}]}]},
    {"name": "Browser", "pid": 11,
     "windows": [{"id": "browserWindow", "role": "AXWindow", "frame": [0, 25, 1200, 800]}]}
  ]
})");

const Font bannerFont{13, fontWeightMedium};

class Overlays : public SimFixture {
  protected:
    void SetUp() override { build(sampleDesktop); }
    Overlay& overlay() { return computer().overlay; }
    double textWidth(const std::string& text) {
        return desktop->measureText(text, bannerFont).width;
    }
    // Frames logged for a call, as [x, y, width, height].
    std::vector<JSON> frames(const std::string& call) const {
        std::vector<JSON> found;
        for (const auto& entry : calls(call)) found.push_back(entry["frame"]);
        return found;
    }
};

TEST_F(Overlays, TextIsMeasuredInARealFont) {
    const double width = textWidth(defaultBannerText);
    EXPECT_GT(width, 200);
    EXPECT_LT(width, 330);
    EXPECT_EQ(textWidth(""), 0);
    EXPECT_GT(textWidth("WWWW"), 3 * textWidth("iiii")) << "proportional glyphs";
    EXPECT_GT(desktop->measureText("Esc", {26, fontWeightMedium}).width, 1.9 * textWidth("Esc"));
}

TEST_F(Overlays, BannerSitsCentredBelowTheTopOfTheVisibleFrame) {
    overlay().show(defaultBannerText);
    EXPECT_TRUE(overlay().shown());
    const double w = textWidth(defaultBannerText) + 40;
    const auto created = calls("createPanel");
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0]["frame"], JSON::array({720 - w / 2, 875 - 32 - 8, w, 32}));
    EXPECT_EQ(created[0]["level"], 25);
    EXPECT_EQ(created[0]["collectionBehavior"], 0x151);
    EXPECT_EQ(created[0]["ignoresMouseEvents"], true);
    EXPECT_EQ(created[0]["nonActivating"], true);
    EXPECT_EQ(created[0]["hasShadow"], false);
    EXPECT_EQ(created[0]["opaque"], false);
    EXPECT_EQ(created[0]["clearBackground"], true);
    EXPECT_EQ(created[0]["hidesOnDeactivate"], false);
    const auto content = calls("setPanelContent");
    ASSERT_EQ(content.size(), 1u);
    EXPECT_EQ(content[0]["layer"], JSON::parse(R"({"background": [0.08, 0.08, 0.08, 0.92],
        "cornerRadius": 16, "borderWidth": 1, "borderColor": [1, 1, 1, 0.18]})"));
    EXPECT_EQ(content[0]["label"]["text"], "Pelko is using your computer \u00B7 Esc to stop");
    EXPECT_EQ(content[0]["label"]["font"], JSON::parse(R"({"size": 13, "weight": 500})"));
    EXPECT_EQ(content[0]["label"]["color"], JSON::array({1, 1, 1, 1}));
    EXPECT_EQ(content[0]["label"]["frame"], JSON::array({12, 7, w - 24, 18}));
    EXPECT_EQ(frames("setPanelFrame"), (std::vector<JSON>{created[0]["frame"]}));
    EXPECT_EQ(calls("orderFront").size(), 1u);
}

TEST_F(Overlays, EmptyAndVeryLongTextsMakeNarrowestAndWidestBanners) {
    overlay().show("");
    EXPECT_EQ(frames("setPanelFrame").back(), JSON::array({700, 835, 40, 32}));
    const std::string longText(120, 'W');
    ASSERT_GT(textWidth(longText), 600);
    overlay().show(longText);
    EXPECT_EQ(frames("setPanelFrame").back(), JSON::array({400, 835, 640, 32}))
        << "held at 640 points, too narrow for all of the text";
}

TEST_F(Overlays, ASecondShowResizesAndRecentresTheSamePanel) {
    overlay().show("Short");
    overlay().show("A somewhat longer text for the banner");
    EXPECT_EQ(calls("createPanel").size(), 1u);
    const auto texts = calls("setLabelText");
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1]["text"], "A somewhat longer text for the banner");
    const double w = textWidth("A somewhat longer text for the banner") + 40;
    EXPECT_EQ(frames("setPanelFrame").back(), JSON::array({720 - w / 2, 835, w, 32}));
    const auto panels = desktop->panelStates();
    ASSERT_EQ(panels.size(), 1u);
    EXPECT_EQ(panels[0].content->label->frame.size.width, w - 24) << "the label follows the view";
    EXPECT_TRUE(panels[0].onScreen);
}

TEST_F(Overlays, HideBeforeAnyShowChangesNothingAndHideKeepsThePanel) {
    overlay().hide();
    EXPECT_FALSE(overlay().shown());
    EXPECT_TRUE(calls().empty());
    overlay().show("Working");
    overlay().hide();
    EXPECT_FALSE(overlay().shown());
    EXPECT_EQ(calls("orderOut").size(), 1u);
    overlay().show("Working again");
    EXPECT_EQ(calls("createPanel").size(), 1u);
    EXPECT_TRUE(desktop->panelStates()[0].onScreen);
}

TEST_F(Overlays, BannerUsesTheMainScreenAndArmsEscapeWithoutOne) {
    JSON scene = sampleDesktop;
    scene["mainScreen"] = 1;
    build(scene);
    overlay().show("");
    EXPECT_EQ(frames("setPanelFrame").back(), JSON::array({2380, 1055 - 180 - 40, 40, 32}));

    scene["mainScreen"] = nullptr;
    build(scene);
    Overlay bare(*platform);
    bare.show("Nobody sees this");
    EXPECT_TRUE(bare.shown());
    EXPECT_TRUE(calls().empty());
}

TEST_F(Overlays, PanelSceneKeysOfTheWrongKindAreSceneErrors) {
    for (const char* scene : {R"({"accentColor": [0, "blue", 1]})", R"({"accentColor": "blue"})",
                              R"({"screens": [{"frame": [0, 0, 10]}]})"}) {
        EXPECT_THROW(sim::SimDesktop(clock, JSON::parse(scene)), sim::SceneError) << scene;
    }
}

TEST_F(Overlays, BannerMethodShowsTheDefaultTextAndHidesForAnythingButTrue) {
    EXPECT_EQ(handle(computer(), "banner", JSON::parse(R"({"show": true})")),
              JSON::parse(R"({"ok": true})"));
    EXPECT_EQ(calls("setLabelText").back()["text"], defaultBannerText);
    EXPECT_TRUE(overlay().shown());
    EXPECT_EQ(handle(computer(), "banner", JSON::parse(R"({"show": "yes", "text": "x"})")),
              JSON::parse(R"({"ok": true})"));
    EXPECT_FALSE(overlay().shown());
    EXPECT_EQ(calls("orderOut").size(), 1u);
}

TEST_F(Overlays, HighlightOutlinesTheRectangleForSixTenthsOfASecond) {
    overlay().highlight({{100, 200}, {50, 20}});
    const auto created = calls("createPanel");
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0]["level"], 25);
    EXPECT_EQ(frames("setPanelFrame"),
              (std::vector<JSON>{JSON::array({97, 900 - 220 - 3, 56, 26})}));
    const auto content = calls("setPanelContent");
    ASSERT_EQ(content.size(), 1u);
    EXPECT_EQ(content[0]["layer"], JSON::parse(R"({"background": [0, 0.478, 1, 0.08],
        "cornerRadius": 6, "borderWidth": 2.5, "borderColor": [0, 0.478, 1, 1]})"));
    EXPECT_TRUE(content[0]["label"].is_null());
    EXPECT_EQ(calls("setPanelAlpha")[0]["alpha"], 1.0);
    EXPECT_EQ(calls("orderFront").size(), 1u);

    clock.advance(std::chrono::milliseconds(590));
    drainMainLoop();
    EXPECT_TRUE(calls("orderOut").empty());
    clock.advance(std::chrono::milliseconds(10));
    drainMainLoop();
    const auto hidden = calls("orderOut");
    ASSERT_EQ(hidden.size(), 1u);
    EXPECT_EQ(hidden[0]["t"], 0.6);

    overlay().highlight({{0, 0}, {10, 10}});
    EXPECT_EQ(calls("createPanel").size(), 1u) << "the flash panel is kept";
    EXPECT_EQ(calls("setPanelContent").size(), 2u) << "with a new view each time";
}

TEST_F(Overlays, HighlightOfAnElementDrawsOnlyOverTheFrontApp) {
    highlight(computer(), desktop->elementNamed("browserWindow"));
    EXPECT_TRUE(calls().empty()) << "Browser is in the background";
    highlight(computer(), desktop->elementNamed("flat"));
    highlight(computer(), desktop->elementNamed("unplaced"));
    highlight(computer(), Element());
    EXPECT_TRUE(calls().empty()) << "no area, no frame, no element";
    // A size that is not a number is not positive either (a panel cannot take such a frame).
    desktop->control({{"do", "set"},
                      {"element", "unplaced"},
                      {"attribute", "AXPosition"},
                      {"value", {{"point", {100, 200}}}}});
    desktop->control({{"do", "set"},
                      {"element", "unplaced"},
                      {"attribute", "AXSize"},
                      {"value", {{"size", {std::nan(""), 20}}}}});
    highlight(computer(), desktop->elementNamed("unplaced"));
    EXPECT_TRUE(calls("setPanelFrame").empty()) << "a size that is not a number";
    highlight(computer(), desktop->elementNamed("notesText"));
    EXPECT_EQ(frames("setPanelFrame"), (std::vector<JSON>{JSON::array({97, 677, 56, 26})}));

    desktop->control(JSON::parse(R"({"do": "front", "app": "Browser"})"));
    highlight(computer(), desktop->elementNamed("browserWindow"));
    EXPECT_EQ(frames("setPanelFrame").back(), JSON::array({-3, 900 - 825 - 3, 1206, 806}));
}

TEST_F(Overlays, EscapeStopsOnlyWhileTheBannerIsShownAndNeverForOwnEvents) {
    installEscapeMonitor(computer());
    auto userPresses = [&](int keyCode, int64_t mark = 0) {
        desktop->control({{"do", "key"}, {"keyCode", keyCode}, {"mark", mark}});
    };
    userPresses(53);
    EXPECT_TRUE(outputLines().empty()) << "no banner yet";
    overlay().show(defaultBannerText);
    userPresses(12);
    EXPECT_TRUE(outputLines().empty()) << "not Escape";
    pressKey(*platform, "Escape", std::nullopt);
    typeText(*platform, "\x1b", std::nullopt);
    userPresses(53, ownEventMark);
    EXPECT_TRUE(outputLines().empty()) << "the program's own Escape";
    EXPECT_EQ(calls("post").front()["keyCode"], 53) << "the own Escape did go out";
    userPresses(53);
    EXPECT_EQ(outputLines(), (std::vector<JSON>{{{"event", "stop"}}}));
    EXPECT_TRUE(overlay().shown()) << "the banner stays up until the host hides it";
    overlay().hide();
    userPresses(53);
    EXPECT_EQ(outputLines().size(), 1u);
}

}  // namespace
}  // namespace pelko::computer
