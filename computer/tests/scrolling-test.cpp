// scroll on a simulated desktop: scroll bars stepped in the background, parts scrolled into
// view, the fall-back to the wheel, and what the wheel event looks like.
#include "scrolling.h"

#include "acting-fixture.h"
#include "input-events.h"

namespace pelko::computer {
namespace {

using testing::ActingFixture;

// Paragraphs 300 points high, one under the other from `top`, each able to scroll into view.
JSON paragraphs(int count, double top, bool moves = true) {
    JSON list = JSON::array();
    for (int i = 0; i < count; ++i) {
        JSON paragraph = {{"id", "p" + std::to_string(i + 1)},
                          {"role", "AXStaticText"},
                          {"frame", {0, top + 300 * i, 800, 300}},
                          {"actions", {"AXScrollToVisible"}}};
        if (!moves) paragraph["onAction"] = {{"AXScrollToVisible", JSON::array()}};
        list.push_back(paragraph);
    }
    return list;
}

JSON scrollDesktop() {
    JSON scene = JSON::parse(R"({
      "pointer": [5, 6],
      "apps": [
        {"name": "Mail", "pid": 20, "active": true,
         "windows": [{"role": "AXWindow", "frame": [0, 0, 600, 400]}]},
        {"name": "Reader", "pid": 10, "windows": [{"id": "window", "role": "AXWindow", "frame": [0, 0, 800, 700],
         "children": [
          {"id": "small", "role": "AXScrollArea", "frame": [400, 100, 100, 100],
           "attributes": {"AXVerticalScrollBar": {"ref": "smallBar"}}, "children": [
            {"id": "smallContent", "role": "AXGroup", "frame": [400, 100, 100, 1000],
             "children": [{"id": "row", "role": "AXRow", "frame": [400, 100, 100, 20]}]},
            {"id": "smallBar", "role": "AXScrollBar", "value": 0, "settable": ["AXValue"]}]},
          {"id": "list", "role": "AXScrollArea", "frame": [0, 100, 400, 500],
           "attributes": {"AXVerticalScrollBar": {"ref": "bar"}}, "children": [
            {"id": "content", "role": "AXGroup", "frame": [0, 100, 400, 1500]},
            {"id": "bar", "role": "AXScrollBar", "frame": [390, 100, 10, 500], "value": 0, "settable": ["AXValue"]}]}]}]},
        {"name": "Pages", "pid": 30, "windows": [{"role": "AXWindow", "frame": [0, 0, 800, 600], "children": [
          {"id": "page", "role": "AXScrollArea", "frame": [0, 0, 800, 600], "children": [
            {"id": "doc", "role": "AXGroup", "frame": [0, 0, 800, 1800]}]}]}]},
        {"name": "Wide", "pid": 50, "windows": [{"role": "AXWindow", "frame": [0, 0, 400, 300], "children": [
          {"role": "AXScrollArea", "frame": [0, 0, 400, 300],
           "attributes": {"AXHorizontalScrollBar": {"ref": "hbar"}}, "children": [
            {"role": "AXGroup", "frame": [0, 0, 1300, 300]},
            {"id": "hbar", "role": "AXScrollBar", "value": 0.5, "settable": ["AXValue"]}]}]}]},
        {"name": "Flat", "pid": 40, "windows": [{"role": "AXWindow", "frame": [0, 0, 200, 100]}]},
        {"name": "Empty", "pid": 60},
        {"name": "Browser", "pid": 80, "windows": [{"role": "AXWindow", "frame": [0, 0, 800, 600], "children": [
          {"role": "AXScrollArea", "frame": [0, 0, 200, 600],
           "attributes": {"AXVerticalScrollBar": {"ref": "sideBar"}}, "children": [
            {"role": "AXGroup", "frame": [0, 0, 200, 1200]},
            {"id": "sideBar", "role": "AXScrollBar", "value": 0, "settable": ["AXValue"]}]},
          {"role": "AXWebArea", "frame": [200, 0, 600, 600], "children": [
            {"role": "AXScrollArea", "frame": [200, 0, 600, 600],
             "attributes": {"AXVerticalScrollBar": {"ref": "pageBar"}}, "children": [
              {"role": "AXGroup", "frame": [200, 0, 600, 3000]},
              {"id": "pageBar", "role": "AXScrollBar", "value": 0, "settable": ["AXValue"]}]}]}]}]}
      ]})");
    scene["apps"][2]["windows"][0]["children"][0]["children"][0]["children"] = paragraphs(6, 0);
    return scene;
}

class Scroll : public ActingFixture {
  protected:
    void SetUp() override { build(scrollDesktop()); }
    JSON scroll(JSON params) {
        params["app"] = params.value("app", "Reader");
        return run("scroll", params);
    }
    double barValue(const std::string& bar) { return desktop->attributeOf(bar, "AXValue"); }
};

TEST_F(Scroll, TheLargestAreasScrollBarIsSteppedByEighteenPointsALine) {
    EXPECT_EQ(scroll(JSON::object()), JSON::parse(R"({"via": "behind"})"));
    EXPECT_DOUBLE_EQ(barValue("bar"), 0.09) << "90 points of a 1000-point range";
    EXPECT_EQ(desktop->attributeOf("content", "AXPosition"), JSON::parse(R"({"point": [0, 10]})"));
    EXPECT_EQ(posted(), std::vector<std::string>{});
    EXPECT_EQ(pausesMs(), std::vector<long>{});

    struct Case {
        const char* direction;
        int amount;
        double from, to;
    };
    const Case cases[] = {{"down", 0, 0, 0.018}, {"down", 500, 0, 0.9}, {"down", 50, 0, 0.9},
                          {"up", 5, 0.5, 0.41},  {"up", 5, 0.05, 0},    {"down", 5, 0.95, 1}};
    for (const auto& [direction, amount, from, to] : cases) {
        desktop->control(
            {{"do", "set"}, {"element", "bar"}, {"attribute", "AXValue"}, {"value", from}});
        scroll({{"direction", direction}, {"amount", amount}});
        EXPECT_NEAR(barValue("bar"), to, 1e-9) << direction << " " << amount << " from " << from;
    }
}

TEST_F(Scroll, TheAreaIsTheOneUnderThePointElseTheLargestOutsideWebPages) {
    // Reader's small area comes before its larger list, so the largest is not merely the first.
    number(10, {{1, "row"}});
    EXPECT_EQ(scroll({{"x", 450}, {"y", 110}}), JSON::parse(R"({"via": "behind"})"));
    EXPECT_DOUBLE_EQ(barValue("smallBar"), 0.1) << "the area around the row under the point";
    EXPECT_EQ(barValue("bar"), 0);
    EXPECT_EQ(scroll(JSON::object()), JSON::parse(R"({"via": "behind"})"));
    EXPECT_DOUBLE_EQ(barValue("bar"), 0.09);

    // The page's own area is larger, but the inside of a web area is not searched.
    EXPECT_EQ(scroll({{"app", "Browser"}}), JSON::parse(R"({"via": "behind"})"));
    EXPECT_DOUBLE_EQ(barValue("sideBar"), 0.15) << "90 points of a 600-point range";
    EXPECT_EQ(barValue("pageBar"), 0);
}

TEST_F(Scroll, ABarThatRefusesItsValueGivesWayToScrollingIntoView) {
    JSON scene = scrollDesktop();
    JSON& page = scene["apps"][2]["windows"][0]["children"][0];
    page["attributes"] = {{"AXVerticalScrollBar", {{"ref", "stuckBar"}}}};
    page["children"].push_back({{"id", "stuckBar"},
                                {"role", "AXScrollBar"},
                                {"value", 0},
                                {"settable", {"AXValue"}},
                                {"setErrors", {{"AXValue", -25200}}}});
    build(scene);
    EXPECT_EQ(scroll({{"app", "Pages"}}), JSON::parse(R"({"via": "behind"})"));
    EXPECT_EQ(acts(),
              (std::vector<std::string>{"set stuckBar AXValue -25200", "AXScrollToVisible p3 0"}));
}

TEST_F(Scroll, ABarAtItsEndAnswersMovedFalseWithoutAnyEvent) {
    desktop->control({{"do", "set"}, {"element", "bar"}, {"attribute", "AXValue"}, {"value", 1}});
    EXPECT_EQ(scroll(JSON::object()), JSON::parse(R"({"via": "behind", "moved": false})"));
    EXPECT_EQ(acts(), std::vector<std::string>{}) << "not even an attempt to set the bar";
    EXPECT_EQ(frontEvents(), 0);
}

TEST_F(Scroll, TheSearchClimbsFromTheNamedElementToItsOwnArea) {
    number(10, {{1, "row"}});
    EXPECT_EQ(scroll({{"index", 1}}), JSON::parse(R"({"via": "behind"})"));
    EXPECT_EQ(barValue("bar"), 0);
    EXPECT_DOUBLE_EQ(barValue("smallBar"), 0.1) << "90 points of a 900-point range";
}

TEST_F(Scroll, HorizontalBarsAndUnknownWordsScrollTowardTheStart) {
    EXPECT_EQ(scroll({{"app", "Wide"}, {"direction", "right"}}),
              JSON::parse(R"({"via": "behind"})"));
    EXPECT_NEAR(barValue("hbar"), 0.6, 1e-9);
    scroll({{"app", "Wide"}, {"direction", "sideways"}});
    scroll({{"app", "Wide"}, {"direction", "left"}});
    EXPECT_NEAR(barValue("hbar"), 0.4, 1e-9);
}

TEST_F(Scroll, WithoutABarThePartClosestToTheDistanceScrollsIntoView) {
    // Down by 5 lines (90 points): p3 reaches 300 points past the bottom, the least of those
    // that reach past it by more than 4.
    EXPECT_EQ(scroll({{"app", "Pages"}}), JSON::parse(R"({"via": "behind"})"));
    EXPECT_EQ(acts(), (std::vector<std::string>{"AXScrollToVisible p3 0"}));
    EXPECT_EQ(pausesMs(), std::vector<long>{100}) << "moved at the first check";
    EXPECT_EQ(desktop->attributeOf("p3", "AXPosition"), JSON::parse(R"({"point": [0, 300]})"));

    // 50 lines (900 points): now that p3 is in view, p6 reaches exactly 900 points past the
    // bottom. Up by 5: p4 sits 300 points above the top, the nearest of those above it.
    scroll({{"app", "Pages"}, {"amount", 50}});
    scroll({{"app", "Pages"}, {"direction", "up"}});
    EXPECT_EQ(acts(), (std::vector<std::string>{"AXScrollToVisible p3 0", "AXScrollToVisible p6 0",
                                                "AXScrollToVisible p4 0"}));
    EXPECT_EQ(desktop->attributeOf("p4", "AXPosition"), JSON::parse(R"({"point": [0, 0]})"));
}

TEST_F(Scroll, PartsThatDoNotMoveOrAreAllInViewAnswerMovedFalse) {
    JSON scene = scrollDesktop();
    scene["apps"][2]["windows"][0]["children"][0]["children"][0]["children"] =
        paragraphs(3, 0, /*moves=*/false);
    build(scene);
    EXPECT_EQ(scroll({{"app", "Pages"}}), JSON::parse(R"({"via": "behind", "moved": false})"));
    EXPECT_EQ(pausesMs(), std::vector<long>(10, 100));
    // Up from the top: nothing reaches past the top edge.
    EXPECT_EQ(scroll({{"app", "Pages"}, {"direction", "up"}}),
              JSON::parse(R"({"via": "behind", "moved": false})"));
    EXPECT_EQ(pausesMs().size(), 10u);
    EXPECT_EQ(posted(), std::vector<std::string>{});
}

TEST_F(Scroll, FullHeightColumnsScrollIntoViewSideways) {
    // Columns as tall as the area, one beyond its right edge: scrolling right brings it in.
    build(JSON::parse(R"({"apps": [{"name": "Finder", "pid": 70, "windows": [{"role": "AXWindow",
      "frame": [0, 0, 600, 400], "children": [{"role": "AXScrollArea", "frame": [0, 0, 600, 400], "children": [
        {"role": "AXGroup", "frame": [0, 0, 900, 400], "children": [
          {"id": "c1", "role": "AXList", "frame": [0, 0, 300, 400], "actions": ["AXScrollToVisible"]},
          {"id": "c2", "role": "AXList", "frame": [300, 0, 300, 400], "actions": ["AXScrollToVisible"]},
          {"id": "c3", "role": "AXList", "frame": [600, 0, 300, 400], "actions": ["AXScrollToVisible"]}]}]}]}]}]})"));
    EXPECT_EQ(scroll({{"app", "Finder"}, {"direction", "right"}}),
              JSON::parse(R"({"via": "behind"})"));
    EXPECT_EQ(desktop->attributeOf("c3", "AXPosition"), JSON::parse(R"({"point": [300, 0]})"));
}

TEST_F(Scroll, ARefusedScrollOrAnEmptyAreaFallsBackToTheWheel) {
    JSON scene = scrollDesktop();
    auto& parts = scene["apps"][2]["windows"][0]["children"][0]["children"][0]["children"];
    for (auto& part : parts) part["actionErrors"] = {{"AXScrollToVisible", -25204}};
    build(scene);
    EXPECT_EQ(scroll({{"app", "Pages"}}), JSON::parse(R"({"via": "wheel", "front": true})"));
    EXPECT_EQ(posted(), (std::vector<std::string>{"post mouseMoved system",
                                                  "post scrollWheel(-5,0) system"}));
    build(JSON::parse(R"({"apps": [{"name": "Pages", "pid": 30, "windows": [{"role": "AXWindow",
      "frame": [0, 0, 800, 600], "children": [{"role": "AXScrollArea", "frame": [0, 0, 800, 600]}]}]}]})"));
    EXPECT_EQ(scroll({{"app", "Pages"}}), JSON::parse(R"({"via": "wheel", "front": true})"));
}

TEST_F(Scroll, NoScrollAreaIsLookedForTwiceThenTheWheelTurnsAtTheWindowsCentre) {
    EXPECT_EQ(scroll({{"app", "Flat"}}), JSON::parse(R"({"via": "wheel", "front": true})"));
    EXPECT_EQ(pausesMs(), (std::vector<long>{300, 150, 50, 80}));
    const auto events = calls("post");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["location"], JSON::parse("[100, 50]"));
    EXPECT_EQ(events[0]["source"], "none");
    EXPECT_EQ(events[1]["location"], JSON::parse("[100, 50]"));
    EXPECT_EQ(events[1]["mark"], ownEventMark);
    EXPECT_EQ(desktop->pointer(), (Point{5, 6})) << "the pointer is put back";
}

TEST_F(Scroll, FrontOrAnAppInFrontAlwaysUsesTheWheel) {
    EXPECT_EQ(scroll({{"app", "Mail"}}), JSON::parse(R"({"via": "wheel", "front": false})"));
    EXPECT_EQ(calls("post")[0]["location"], JSON::parse("[300, 200]"));
    EXPECT_EQ(scroll({{"front", true}, {"x", 10}, {"y", 20}}),
              JSON::parse(R"({"via": "wheel", "front": true})"));
    EXPECT_EQ(calls("post")[2]["location"], JSON::parse("[10, 20]"));
    EXPECT_EQ(barValue("bar"), 0);

    // An app in front that has a scroll area still gets the wheel.
    EXPECT_EQ(scroll(JSON::object()), JSON::parse(R"({"via": "wheel", "front": false})"));
    EXPECT_EQ(barValue("bar"), 0);
    EXPECT_EQ(posted().size(), 6u);
}

TEST_F(Scroll, ScrollAtHoldsTheAmountAndReadsTheDirection) {
    struct Case {
        const char* direction;
        int amount;
        const char* wheels;
    };
    const Case cases[] = {{"up", 5, "(5,0)"},
                          {"down", 0, "(-1,0)"},
                          {"left", 500, "(0,50)"},
                          {"right", 3, "(0,-3)"},
                          {"sideways", 3, "(0,0)"}};
    std::vector<std::string> expected;
    for (const auto& [direction, amount, wheels] : cases) {
        scrollAt(*platform, {50, 60}, direction, amount);
        expected.push_back("post mouseMoved system");
        expected.push_back(std::string("post scrollWheel") + wheels + " system");
        expected.push_back("warp");
    }
    EXPECT_EQ(acts(), expected);
}

TEST_F(Scroll, NowhereToScrollInAnAppWithoutAWindow) {
    const Failure failure = failureOf("scroll", {{"app", "Empty"}});
    EXPECT_EQ(failure.message, "Nowhere to scroll in Empty.");
    EXPECT_EQ(failure.code, "no-window");
    EXPECT_EQ(pausesMs(), std::vector<long>{}) << "no window: no search, no retry";
    EXPECT_EQ(failureOf("scroll", JSON::object()).message, "Give the app's name.");
}

}  // namespace
}  // namespace pelko::computer
