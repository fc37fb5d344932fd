// The simulated desktop's standard controls where the acting methods' tests do not reach: focus
// moving between fields, selections counted in characters, scrolling into view held inside the
// content's range, and which key equivalent chooses which menu item. (Refused, ignored and
// effectful settings and scroll bars are exercised through the methods.)
#include <gtest/gtest.h>

#include "ax-readers.h"
#include "child-process.h"
#include "sim/sim-desktop.h"

namespace pelko::computer::sim {
namespace {

const char* widgetScene = R"({
  "apps": [{
    "name": "Notes", "pid": 10, "active": true, "focusedElement": "first",
    "windows": [{"role": "AXWindow", "children": [
      {"id": "first", "role": "AXTextField", "value": "", "focused": true, "settable": ["AXFocused"]},
      {"id": "second", "role": "AXTextField", "value": "caf\u00e9 au lait", "selection": [2, 2],
       "settable": ["AXFocused", "AXSelectedText", "AXValue"]},
      {"id": "area", "role": "AXScrollArea", "frame": [0, 100, 400, 300],
       "attributes": {"AXVerticalScrollBar": {"ref": "vbar"}, "AXHorizontalScrollBar": {"ref": "hbar"}},
       "children": [
        {"id": "content", "role": "AXGroup", "frame": [0, 100, 800, 1300], "children": [
          {"id": "top", "role": "AXStaticText", "frame": [10, 100, 100, 20], "actions": ["AXScrollToVisible"]},
          {"id": "low", "role": "AXStaticText", "frame": [10, 700, 100, 20], "actions": ["AXScrollToVisible"]},
          {"id": "last", "role": "AXStaticText", "frame": [10, 1380, 100, 20], "actions": ["AXScrollToVisible"]}]},
        {"id": "vbar", "role": "AXScrollBar", "value": 0, "settable": ["AXValue"]},
        {"id": "hbar", "role": "AXScrollBar", "value": 0, "settable": ["AXValue"]}]}]}],
    "menuBar": {"role": "AXMenuBar", "children": [{"role": "AXMenuBarItem", "title": "File", "children": [
      {"role": "AXMenu", "children": [
        {"id": "note", "role": "AXMenuItem", "attributes": {"AXMenuItemCmdChar": "N"},
         "onAction": {"AXPress": [{"do": "set", "element": "first", "attribute": "AXValue", "value": "note"}]}},
        {"id": "folder", "role": "AXMenuItem", "attributes": {"AXMenuItemCmdChar": "N", "AXMenuItemCmdModifiers": 1},
         "onAction": {"AXPress": [{"do": "set", "element": "first", "attribute": "AXValue", "value": "folder"}]}},
        {"id": "zoom", "role": "AXMenuItem", "attributes": {"AXMenuItemCmdChar": "+"}}]}]}]}
  }]
})";

class Widgets : public ::testing::Test {
  protected:
    Widgets() : desktop(clock, JSON::parse(widgetScene), (dir / "calls.log").string()) {}
    Element named(const std::string& name) { return desktop.elementNamed(name); }
    int set(const std::string& name, const std::string& attribute, const Value& value) {
        return desktop.setAttribute(named(name), attribute, value);
    }
    JSON origin(const std::string& name) {
        return desktop.attributeOf(name, "AXPosition")["point"];
    }
    void press(uint16_t keyCode, EventFlags flags, const std::u16string& text) {
        for (const bool down : {true, false}) {
            auto event = *desktop.createKeyboardEvent(EventSourceState::hidSystem, keyCode, down);
            event.flags = flags;
            event.unicode = text;
            desktop.postSystem(event);
        }
    }
    std::vector<std::string> chosenItems() {
        std::vector<std::string> items;
        const std::string log = pelko::testing::readFile(dir / "calls.log");
        for (size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos;
             start = end + 1) {
            const JSON entry = JSON::parse(log.substr(start, end - start));
            if (entry["call"] == "menuShortcut") items.push_back(entry["item"]);
        }
        return items;
    }

    pelko::testing::ScopedTempDir dir;
    VirtualClock clock;
    SimDesktop desktop;
};

TEST_F(Widgets, FocusingAFieldMakesItTheOneKeysTypeInto) {
    EXPECT_EQ(set("second", "AXFocused", true), axSuccess);
    EXPECT_EQ(desktop.attributeOf("first", "AXFocused"), false);
    EXPECT_TRUE(
        desktop.isEqual(elementAttr(desktop, desktop.applicationElement(10), "AXFocusedUIElement"),
                        named("second")));
    press(0, 0, u"!");
    EXPECT_EQ(desktop.attributeOf("second", "AXValue"), "caf\u00e9 au lait!");
    EXPECT_EQ(desktop.attributeOf("first", "AXValue"), "");
}

TEST_F(Widgets, SelectedTextReadsAndReplacesTheSelectionInCharacters) {
    EXPECT_EQ(str(desktop, named("second"), "AXSelectedText"), "f\u00e9");
    EXPECT_EQ(set("second", "AXSelectedText", "\U0001F375"), axSuccess);
    EXPECT_EQ(desktop.attributeOf("second", "AXValue"), "ca\U0001F375 au lait");
    EXPECT_EQ(set("second", "AXSelectedText", "!"), axSuccess) << "the caret follows the insertion";
    EXPECT_EQ(desktop.attributeOf("second", "AXValue"), "ca\U0001F375! au lait");
    EXPECT_EQ(set("second", "AXValue", "new"), axSuccess);
    EXPECT_EQ(set("second", "AXSelectedText", "er"), axSuccess) << "a new value puts it at the end";
    EXPECT_EQ(desktop.attributeOf("second", "AXValue"), "newer");
    EXPECT_EQ(set("first", "AXSelectedText", "x"), axAttributeUnsupported);
}

TEST_F(Widgets, ScrollingIntoViewMovesTheLeastAndStaysInRange) {
    EXPECT_EQ(desktop.performAction(named("low"), "AXScrollToVisible"), axSuccess);
    EXPECT_EQ(origin("low"), JSON::parse("[10, 380]")) << "its bottom at the area's bottom";
    EXPECT_DOUBLE_EQ(desktop.attributeOf("vbar", "AXValue").get<double>(), 0.32);
    desktop.performAction(named("low"), "AXScrollToVisible");
    EXPECT_EQ(origin("low"), JSON::parse("[10, 380]")) << "already in view";
    desktop.performAction(named("last"), "AXScrollToVisible");
    EXPECT_EQ(origin("content"), JSON::parse("[0, -900]")) << "not past the end";
    desktop.performAction(named("top"), "AXScrollToVisible");
    EXPECT_EQ(origin("top"), JSON::parse("[10, 100]"));
    EXPECT_EQ(desktop.attributeOf("vbar", "AXValue"), 0.0);
}

TEST_F(Widgets, KeyEquivalentsChooseTheirMenuItem) {
    press(45, eventFlagCommand, u"");
    EXPECT_EQ(desktop.attributeOf("first", "AXValue"), "note");
    press(45, eventFlagCommand | eventFlagShift, u"N");
    EXPECT_EQ(desktop.attributeOf("first", "AXValue"), "folder");
    press(24, eventFlagCommand | eventFlagShift, u"+");  // shift is how "+" is typed
    press(1, eventFlagCommand, u"");                     // nothing has cmd+s
    EXPECT_EQ(chosenItems(), (std::vector<std::string>{"note", "folder", "zoom"}));
}

TEST(WidgetScene, ASelectionMustBeTwoCounts) {
    VirtualClock clock;
    EXPECT_THROW(SimDesktop(clock, JSON::parse(R"({"apps": [{"windows": [{"selection": [1]}]}]})")),
                 SceneError);
    EXPECT_THROW(
        SimDesktop(clock, JSON::parse(R"({"apps": [{"windows": [{"selection": [-1, 2]}]}]})")),
        SceneError);
}

}  // namespace
}  // namespace pelko::computer::sim
