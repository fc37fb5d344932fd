// The attribute readers, action labels and element sessions.
#include "ax-readers.h"

#include <gtest/gtest.h>

#include "method.h"
#include "sessions.h"
#include "sim/sim-desktop.h"

namespace pelko::computer {
namespace {

class Readers : public ::testing::Test {
  protected:
    Readers()
        : desktop(clock, JSON::parse(R"({"apps": [{"name": "Notes", "pid": 10, "windows": [
            {"id": "w", "role": "AXWindow", "title": "", "frame": [10, 20, 300, 200],
             "attributes": {"AXNumberTitle": 5, "AXOne": 1, "AXTwo": 2, "AXFraction": 0.5,
                            "AXOddPosition": {"size": [1, 2]},
                            "AXMixed": [{"ref": "b"}, "text"]},
             "failing": {"AXDescription": -25204},
             "children": [
               {"id": "b", "role": "AXButton", "title": "OK", "enabled": false,
                "actions": ["AXPress", "AXShowMenu", "Name:Copy link\nTarget:0x0\nSelector:copy"]},
               {"id": "gone", "role": "AXStaticText"}
             ]}]}]})")) {}

    Element named(const std::string& name) { return desktop.elementNamed(name); }

    VirtualClock clock;
    sim::SimDesktop desktop;
};

TEST_F(Readers, StrAndBoolTakeOnlyTheirTypes) {
    EXPECT_EQ(str(desktop, named("b"), "AXTitle"), "OK");
    EXPECT_EQ(str(desktop, named("w"), "AXTitle"), std::nullopt) << "an empty title is no title";
    EXPECT_EQ(str(desktop, named("w"), "AXNumberTitle"), std::nullopt);
    EXPECT_EQ(str(desktop, named("w"), "AXDescription"), std::nullopt) << "a failing read";
    EXPECT_EQ(str(desktop, named("w"), "AXMissing"), std::nullopt);
    EXPECT_EQ(str(desktop, Element(), "AXTitle"), std::nullopt);
    EXPECT_EQ(boolAttr(desktop, named("b"), "AXEnabled"), false);
    EXPECT_EQ(boolAttr(desktop, named("w"), "AXOne"), true) << "numbers 0 and 1 count";
    EXPECT_EQ(boolAttr(desktop, named("w"), "AXTwo"), std::nullopt);
    EXPECT_EQ(boolAttr(desktop, named("w"), "AXFraction"), std::nullopt);
    EXPECT_EQ(boolAttr(desktop, named("w"), "AXTitle"), std::nullopt);
}

TEST_F(Readers, ChildrenFramesAndActions) {
    const auto kids = children(desktop, named("w"));
    ASSERT_EQ(kids.size(), 2u);
    EXPECT_TRUE(isSame(desktop, kids[0], named("b")));
    EXPECT_FALSE(isSame(desktop, kids[0], named("gone")));
    EXPECT_FALSE(isSame(desktop, kids[0], Element()));
    EXPECT_TRUE(children(desktop, named("b")).empty());
    EXPECT_EQ(frameOf(desktop, named("w")), (Rect{{10, 20}, {300, 200}}));
    EXPECT_EQ(frameOf(desktop, named("b")), std::nullopt);
    EXPECT_EQ(actionsOf(desktop, named("b")),
              (std::vector<std::string>{"AXPress", "AXShowMenu",
                                        "Name:Copy link\nTarget:0x0\nSelector:copy"}));
    desktop.control({{"do", "destroy"}, {"element", "b"}});
    EXPECT_TRUE(actionsOf(desktop, kids[0]).empty());
    EXPECT_EQ(children(desktop, named("w")).size(), 1u);
}

TEST_F(Readers, BatchedReadsFollowTheSameRules) {
    const std::vector<std::string> names = {
        "AXTitle",    "AXNumberTitle", "AXDescription", "AXOne",  "AXTwo",
        "AXChildren", "AXMixed",       "AXPosition",    "AXSize", "AXOddPosition"};
    const auto reads = desktop.copyAttributes(named("w"), names);
    ASSERT_EQ(reads.size(), names.size());
    EXPECT_EQ(str(reads[0]), std::nullopt) << "an empty title is no title";
    EXPECT_EQ(str(reads[1]), std::nullopt);
    EXPECT_EQ(str(reads[2]), std::nullopt) << "a failing read";
    EXPECT_EQ(valueOf(reads[2]), nullptr);
    EXPECT_EQ(boolAttr(reads[3]), true);
    EXPECT_EQ(boolAttr(reads[4]), std::nullopt);
    EXPECT_EQ(elementsOf(reads[5]).size(), 2u);
    EXPECT_TRUE(elementsOf(reads[6]).empty()) << "a list holding text is no list of elements";
    EXPECT_EQ(elementList(desktop, named("w"), "AXMixed").size(), 1u)
        << "the lenient reader passes the text over";
    EXPECT_EQ(frameOf(reads[7], reads[8]), (Rect{{10, 20}, {300, 200}}));
    EXPECT_EQ(frameOf(reads[9], reads[8]), std::nullopt) << "a size where a point belongs";
    EXPECT_TRUE(
        isSame(desktop, elementAttr(desktop.copyAttribute(named("b"), "AXParent")), named("w")));
    EXPECT_EQ(elementAttr(reads[0]), nullptr);
    const auto button = desktop.copyAttributes(named("b"), {"AXTitle", "AXEnabled"});
    EXPECT_EQ(str(button[0]), "OK");
    EXPECT_EQ(boolAttr(button[1]), false);
}

TEST_F(Readers, GoneMeansTheElementNoLongerExists) {
    EXPECT_FALSE(isGone(desktop, named("gone")));
    EXPECT_TRUE(isGone(desktop, Element()));
    const Element text = named("gone");
    desktop.control({{"do", "destroy"}, {"element", "gone"}});
    EXPECT_TRUE(isGone(desktop, text));
    EXPECT_FALSE(isGone(desktop, named("w"))) << "failing reads of other attributes are not gone";
}

TEST(ActionLabels, ShortenPlatformAndCustomNames) {
    EXPECT_EQ(actionLabel("AXPress"), "press");
    EXPECT_EQ(actionLabel("AXShowMenu"), "showMenu");
    EXPECT_EQ(actionLabel("Name:Copy link\nTarget:0x0\nSelector:(null)"), "Copy link");
    EXPECT_EQ(actionLabel("Name:"), "");
    EXPECT_EQ(actionLabel("scroll"), "scroll");
    EXPECT_EQ(actionLabel("AX"), "");
    EXPECT_EQ(actionLabel("AXÉtendre"), "étendre") << "the first letter, not the first byte";
}

TEST(ActionLabels, MatchEveryWayTheAgentSpellsThem) {
    for (const char* wanted : {"showmenu", "axshowmenu"})
        EXPECT_TRUE(matchesAction("AXShowMenu", wanted)) << wanted;
    EXPECT_TRUE(matchesAction("Name:Copy link\nTarget:0x0", "copylink"));
    EXPECT_FALSE(matchesAction("AXShowMenu", "press"));
    EXPECT_TRUE(matchesAction("Name:Öffnen im Tab\nTarget:0x0", "öffnenimtab"))
        << "letters beyond ASCII are lower-cased too";
    EXPECT_TRUE(matchesAction("AXÉtendre", "axétendre"));
    EXPECT_FALSE(matchesAction("AXPress", "axshowmenu"));
}

TEST_F(Readers, ElementTellsNeverReadFromGone) {
    Sessions sessions;
    const RunningApp notes = *desktop.runningApplication(10);
    auto message = [&](const RunningApp& app, int64_t index) {
        try {
            element(desktop, sessions, app, index);
            return std::string("found");
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.code, "stale");
            return failure.message;
        }
    };
    EXPECT_EQ(message(notes, 12),
              "Element [12] is not in the latest state of Notes. Read the app's state again and "
              "use an index from it.");
    RunningApp unnamed = notes;
    unnamed.localizedName.reset();
    EXPECT_EQ(message(unnamed, 3),
              "Element [3] is not in the latest state of the app. Read the app's state again and "
              "use an index from it.");
    AppSession& session = sessions.session(10);
    session.elements[1] = named("b");
    session.elements[2] = named("gone");
    EXPECT_EQ(message(notes, 1), "found");
    desktop.control({{"do", "destroy"}, {"element", "gone"}});
    EXPECT_EQ(message(notes, 2),
              "Element [2] is gone (the app redrew its window). Read the app's state again.");
    EXPECT_EQ(session.elements.count(2), 1u) << "a stale element stays in the table";
    EXPECT_EQ(sessions.find(11), nullptr) << "looking up never creates a session";
}

}  // namespace
}  // namespace pelko::computer
