// click, setValue and action on a simulated desktop: each way a click can be carried out, what
// reached the desktop on the way (and what must not have), the messages and the pauses.
#include "click.h"

#include "acting-fixture.h"
#include "ax-readers.h"

namespace pelko::computer {
namespace {

using testing::ActingFixture;

const JSON clickDesktop = JSON::parse(R"({
  "pointer": [5, 6],
  "apps": [
    {"name": "Mail", "pid": 20, "active": true,
     "windows": [{"id": "mail.window", "role": "AXWindow", "frame": [0, 0, 600, 400], "children": [
       {"id": "mail.field", "role": "AXTextField", "frame": [10, 40, 200, 20], "settable": ["AXFocused"]},
       {"id": "mail.send", "role": "AXButton", "frame": [10, 80, 60, 20], "actions": ["AXPress"]}]}]},
    {"name": "Notes", "pid": 10,
     "windows": [{"id": "window", "role": "AXWindow", "frame": [100, 50, 800, 600], "children": [
       {"id": "button", "role": "AXButton", "title": "Save", "frame": [110, 60, 80, 20], "actions": ["AXPress"],
        "children": [{"id": "label", "role": "AXStaticText", "frame": [115, 62, 40, 16]},
                     {"id": "check", "role": "AXCheckBox", "frame": [160, 62, 16, 16]}]},
       {"id": "refused", "role": "AXButton", "frame": [200, 60, 80, 20], "actions": ["AXPress"],
        "actionErrors": {"AXPress": -25204}},
       {"id": "field", "role": "AXTextField", "frame": [300, 60, 200, 20], "settable": ["AXFocused", "AXValue"]},
       {"id": "fixed", "role": "AXTextField", "frame": [300, 100, 200, 20]},
       {"id": "search", "role": "AXTextField", "frame": [300, 220, 200, 20], "settable": ["AXFocused"],
        "actions": ["AXPress"]},
       {"id": "popup", "role": "AXPopUpButton", "frame": [300, 140, 100, 20],
        "actions": ["AXShowMenu", "Name:Copy link\nTarget:0x0", "AXRaise"], "actionErrors": {"AXRaise": -25204}},
       {"id": "flat", "role": "AXButton", "frame": [300, 180, 0, 20]},
       {"id": "text", "role": "AXStaticText", "frame": [600, 60, 50, 20]},
       {"id": "g1", "role": "AXGroup", "description": "Card", "frame": [100, 300, 400, 300], "actions": ["AXPress"],
        "children": [{"id": "open", "role": "AXButton", "title": "Open", "frame": [120, 320, 60, 20],
                      "actions": ["AXPress"]},
                     {"id": "g2", "role": "AXGroup", "children": [{"id": "g3", "role": "AXGroup", "children": [
          {"id": "near", "role": "AXImage"},
          {"id": "g4", "role": "AXGroup", "children": [{"id": "deep", "role": "AXImage"}]}]}]}]},
       {"id": "web", "role": "AXWebArea", "actions": ["AXPress"], "children": [{"id": "webText", "role": "AXStaticText"}]},
       {"id": "roleless", "actions": ["AXPress"], "children": [{"id": "inRoleless", "role": "AXStaticText"}]}
     ]}]},
    {"name": "Empty", "pid": 30}
  ]
})");

class Click : public ActingFixture {
  protected:
    void SetUp() override { reset(); }
    void reset() {
        build(clickDesktop);
        number(10, {{1, "button"},
                    {2, "label"},
                    {3, "refused"},
                    {4, "field"},
                    {5, "popup"},
                    {6, "flat"},
                    {7, "fixed"},
                    {8, "g1"},
                    {9, "open"},
                    {10, "search"}});
        number(20, {{1, "mail.field"}, {2, "mail.send"}});
    }
    JSON click(JSON params) {
        params["app"] = params.value("app", "Notes");
        return run("click", params);
    }
};

TEST_F(Click, PressableClimbsFromTextImagesAndGroupsOnlyAndAtMostThreeSteps) {
    const std::pair<const char*, const char*> cases[] = {
        {"button", "button"},       // offers the press itself
        {"label", "button"},        // static text hands it to its button
        {"check", ""},              // a check box is not a climbing role
        {"near", "g1"},             // the third ancestor
        {"deep", ""},               // g1 would be the fourth
        {"text", ""},               // its parent is the window
        {"webText", ""},            // never into a whole web page
        {"inRoleless", "roleless"}  // a parent without a role is climbed into
    };
    Accessibility& ax = *desktop;
    for (const auto& [from, expected] : cases) {
        const Element found = pressable(ax, element(from));
        if (*expected)
            EXPECT_TRUE(isSame(ax, found, element(expected))) << from;
        else
            EXPECT_FALSE(found) << from;
    }
}

TEST_F(Click, ASimpleClickPressesTheElementOrTheAncestorThatTakesThePress) {
    EXPECT_EQ(click({{"index", 1}}), JSON::parse(R"({"via": "press"})"));
    EXPECT_EQ(click({{"index", 2}}), JSON::parse(R"({"via": "pressParent", "role": "AXButton"})"));
    EXPECT_EQ(acts(), (std::vector<std::string>{"AXPress button 0", "AXPress button 0"}));
    EXPECT_EQ(desktop->pointer(), (Point{5, 6}));
    EXPECT_EQ(frontEvents(), 0) << "the app stayed in the background";
}

TEST_F(Click, ATextFieldInTheBackgroundIsFocusedButInFrontItIsClicked) {
    EXPECT_EQ(click({{"index", 4}}), JSON::parse(R"({"via": "focus"})"));
    EXPECT_EQ(acts(), (std::vector<std::string>{"set field AXFocused 0"}));

    // Mail is in front: no focusing, a pointer click in the middle of the field.
    EXPECT_EQ(click({{"app", "Mail"}, {"index", 1}}),
              JSON::parse(R"({"via": "pointer", "front": false})"));
    EXPECT_EQ(acts(), (std::vector<std::string>{"set field AXFocused 0", "post mouseMoved system",
                                                "post leftMouseDown(1) system",
                                                "post leftMouseUp(1) system", "warp"}));
    EXPECT_EQ(calls("post")[1]["location"], JSON::parse("[110, 50]"));
    EXPECT_EQ(pausesMs(), (std::vector<long>{50, 60})) << "already in front: no settling";
    // Only the field of the app in front was outlined (grown by 3, window-system coordinates).
    const auto outlines = calls("setPanelFrame");
    ASSERT_EQ(outlines.size(), 1u);
    EXPECT_EQ(outlines[0]["frame"], JSON::parse("[7, 837, 206, 26]"));
}

TEST_F(Click, ARefusedPressFallsThroughToAPointerClickThatBringsTheAppForward) {
    EXPECT_EQ(click({{"index", 3}}), JSON::parse(R"({"via": "pointer", "front": true})"));
    EXPECT_EQ(acts(), (std::vector<std::string>{
                          "AXPress refused -25204", "activate 10", "post mouseMoved system",
                          "post leftMouseDown(1) system", "post leftMouseUp(1) system", "warp"}));
    EXPECT_EQ(pausesMs(), (std::vector<long>{150, 50, 60}));
    EXPECT_EQ(outputLines(),
              (std::vector<JSON>{JSON::parse(R"({"event":"front","app":"Notes"})")}));
    EXPECT_EQ(desktop->pointer(), (Point{5, 6})) << "the pointer is put back";
}

TEST_F(Click, RightClicksOpenTheContextMenuUnlessFrontIsAsked) {
    EXPECT_EQ(click({{"index", 5}, {"button", "right"}}), JSON::parse(R"({"via": "showMenu"})"));
    EXPECT_EQ(click({{"index", 5}, {"button", "right"}, {"count", 2}}),
              JSON::parse(R"({"via": "showMenu"})"));
    EXPECT_EQ(acts(), (std::vector<std::string>{"AXShowMenu popup 0", "AXShowMenu popup 0"}));

    EXPECT_EQ(click({{"index", 5}, {"button", "right"}, {"front", true}}),
              JSON::parse(R"({"via": "pointer", "front": true})"));
    EXPECT_EQ(posted(),
              (std::vector<std::string>{"post mouseMoved system", "post rightMouseDown(1) system",
                                        "post rightMouseUp(1) system"}));
}

TEST_F(Click, EachWayIsTakenOnlyWhereItsConditionsHold) {
    struct Case {
        JSON params;
        const char* expected;
        const char* why;
    };
    const Case cases[] = {
        {{{"index", 5}},
         R"({"via": "pointer", "front": true})",
         "a left click never opens the context menu"},
        {{{"index", 10}}, R"({"via": "press"})", "a text field that offers a press is pressed"},
        {{{"app", "Mail"}, {"x", 20}, {"y", 85}},
         R"({"via": "pointer", "front": false})",
         "in front, a point is clicked with the pointer, not pressed"},
        {{{"x", 30}, {"y", 275}},
         R"({"via": "pressAtPoint", "role": "AXButton", "label": "Open"})",
         "the smallest element at the point, not the card around it"},
    };
    for (const auto& [params, expected, why] : cases) {
        reset();
        EXPECT_EQ(click(params), JSON::parse(expected)) << why;
    }
}

TEST_F(Click, ADoubleClickIsAlwaysAPointerClick) {
    EXPECT_EQ(click({{"index", 1}, {"count", 2}}),
              JSON::parse(R"({"via": "pointer", "front": true})"));
    EXPECT_EQ(acts(), (std::vector<std::string>{
                          "activate 10", "post mouseMoved system", "post leftMouseDown(1) system",
                          "post leftMouseUp(1) system", "post leftMouseDown(2) system",
                          "post leftMouseUp(2) system", "warp"}));
}

TEST_F(Click, AnElementWithNoWidthFailsWithoutMovingAnything) {
    const Failure failure = failureOf("click", {{"app", "Notes"}, {"index", 6}});
    EXPECT_EQ(failure.message, "Element [6] has no place on screen to click.");
    EXPECT_EQ(failure.code, "failed");
    EXPECT_EQ(acts(), std::vector<std::string>{}) << "not brought forward, no pointer event";
    EXPECT_EQ(outputLines(), std::vector<JSON>{});
}

TEST_F(Click, PointsAreCheckedAgainstTheWindowBeforeAnythingHappens) {
    const Failure outside = failureOf("click", {{"app", "Notes"}, {"x", 900.7}, {"y", -3.2}});
    EXPECT_EQ(outside.message,
              "900,-3 is outside Notes's window (800\u00D7600). Read x and y off its latest "
              "screenshot, or use an element index.");
    EXPECT_EQ(outside.code, "bad-input");
    const Failure noY = failureOf("click", {{"app", "Notes"}, {"x", 5}});
    EXPECT_EQ(noY.message, "Give an element index, or x and y inside the window.");
    EXPECT_EQ(noY.code, "bad-input");
    const Failure noWindow = failureOf("click", {{"app", "Empty"}, {"x", 5}, {"y", 5}});
    EXPECT_EQ(noWindow.message, "Empty has no window.");
    EXPECT_EQ(noWindow.code, "no-window");
    EXPECT_EQ(acts(), std::vector<std::string>{});
}

TEST_F(Click, APointInABackgroundAppPressesTheSmallestElementThere) {
    // (20, 15) in the window is on the label inside the Save button.
    EXPECT_EQ(click({{"x", 20}, {"y", 15}}),
              JSON::parse(R"({"via": "pressAtPoint", "role": "AXButton", "label": "Save"})"));
    // Nothing pressable under (20.5, 200): a pointer click there, after a 20-point mark.
    EXPECT_EQ(click({{"x", 20.5}, {"y", 200}}),
              JSON::parse(R"({"via": "pointer", "front": true})"));
    EXPECT_EQ(acts(), (std::vector<std::string>{
                          "AXPress button 0", "activate 10", "post mouseMoved system",
                          "post leftMouseDown(1) system", "post leftMouseUp(1) system", "warp"}));
    EXPECT_EQ(calls("post")[1]["location"], JSON::parse("[120.5, 250]"));
    // The mark: 20 × 20 around the point, grown by 3 and in the window system's coordinates.
    EXPECT_EQ(calls("setPanelFrame").back()["frame"], JSON::parse("[107.5, 637, 26, 26]"));
}

TEST_F(Click, TheLabelOfAPressAtAPointFallsBackToTheDescription) {
    EXPECT_EQ(click({{"x", 100}, {"y", 400}}),
              JSON::parse(R"({"via": "pressAtPoint", "role": "AXGroup", "label": "Card"})"));
}

TEST_F(Click, AStaleIndexStopsTheClick) {
    const Failure failure = failureOf("click", {{"app", "Notes"}, {"index", 99}});
    EXPECT_EQ(failure.code, "stale");
    desktop->control({{"do", "destroy"}, {"element", "button"}});
    EXPECT_EQ(failureOf("click", {{"app", "Notes"}, {"index", 1}}).message,
              "Element [1] is gone (the app redrew its window). Read the app's state again.");
    EXPECT_EQ(acts(), std::vector<std::string>{});
}

TEST_F(Click, SetValueFocusesThenWritesOrSaysWhy) {
    EXPECT_EQ(run("setValue", {{"app", "Notes"}, {"index", 4}, {"value", "milk"}}),
              JSON::parse(R"({"ok": true})"));
    EXPECT_EQ(desktop->attributeOf("field", "AXValue"), "milk");
    EXPECT_EQ(acts(), (std::vector<std::string>{"set field AXFocused 0", "set field AXValue 0"}));

    const Failure fixed = failureOf("setValue", {{"app", "Notes"}, {"index", 7}, {"value", "x"}});
    EXPECT_EQ(fixed.message,
              "Element [7] does not take a value directly. Click it and use type_text instead.");
    EXPECT_EQ(fixed.code, "failed");
    const Failure missing = failureOf("setValue", {{"app", "Notes"}, {"index", 4}});
    EXPECT_EQ(missing.message, "Give the app, the element index and the value.");
    EXPECT_EQ(missing.code, "bad-input");
    EXPECT_EQ(acts().size(), 2u) << "nothing set by the failures";
}

TEST_F(Click, SetValueReportsTheRefusalNumber) {
    build(JSON::parse(R"({"apps": [{"name": "Notes", "pid": 10, "windows": [{"role": "AXWindow",
      "children": [{"id": "field", "role": "AXTextField", "settable": ["AXValue"],
                    "setErrors": {"AXValue": -25200}}]}]}]})"));
    number(10, {{1, "field"}});
    EXPECT_EQ(failureOf("setValue", {{"app", "Notes"}, {"index", 1}, {"value", "x"}}).message,
              "Setting the value failed (-25200). Click the field and use type_text instead.");
}

TEST_F(Click, ActionFindsTheNamedActionInAnySpellingAndListsLabelsWhenMissing) {
    for (const char* name : {"show menu", "ShowMenu", "AXShowMenu", "axshowmenu", "copy link"})
        EXPECT_EQ(run("action", {{"app", "Notes"}, {"index", 5}, {"action", name}}),
                  JSON::parse(R"({"ok": true})"))
            << name;
    EXPECT_EQ(acts(), (std::vector<std::string>{"AXShowMenu popup 0", "AXShowMenu popup 0",
                                                "AXShowMenu popup 0", "AXShowMenu popup 0",
                                                "Name:Copy link\nTarget:0x0 popup 0"}));

    const Failure missing =
        failureOf("action", {{"app", "Notes"}, {"index", 5}, {"action", "Press Me"}});
    EXPECT_EQ(missing.message,
              "Element [5] has no action \"Press Me\". Its actions: showMenu, Copy link, raise.");
    EXPECT_EQ(missing.code, "not-found");
    const Failure refused =
        failureOf("action", {{"app", "Notes"}, {"index", 5}, {"action", "raise"}});
    EXPECT_EQ(refused.message, "The action did not respond (-25204).");
    EXPECT_EQ(failureOf("action", {{"app", "Notes"}, {"index", 5}}).message,
              "Give the app, the element index and the action.");
}

TEST_F(Click, EveryMethodChecksTrustFirstAndNeverOpensTheApp) {
    build(JSON::parse(R"({"trusted": false, "apps": [{"name": "Notes", "pid": 10}]})"));
    for (const char* method : {"click", "setValue", "action"})
        EXPECT_EQ(failureOf(method, JSON::object()).code, "accessibility") << method;
    build(JSON::parse(R"({"bundles": [{"path": "/Applications/Maps.app", "bundleId": "maps"}]})"));
    EXPECT_EQ(failureOf("click", {{"app", "Maps"}, {"index", 1}}).code, "not-running");
    EXPECT_EQ(calls("openApplication"), std::vector<JSON>{});
}

}  // namespace
}  // namespace pelko::computer
