// Outlines of trees built in code, compared line by line with what the agent must see.
#include "tree-writer.h"

#include <gtest/gtest.h>

#include "graphemes.h"
#include "sim/sim-desktop.h"
#include "watched-accessibility.h"

namespace pelko::computer {
namespace {

using testing::WatchedAccessibility;

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\n" : "") + lines[i];
    return text;
}

std::string repeated(const std::string& piece, size_t times) {
    std::string text;
    for (size_t i = 0; i < times; ++i) text += piece;
    return text;
}

class Outline : public ::testing::Test {
  protected:
    // A desktop whose one app has `window` (named "root" unless it names itself) as its window.
    Element build(JSON window) {
        if (!window.contains("id")) window["id"] = "root";
        JSON scene = {{"apps", JSON::array({{{"name", "T"}, {"pid", 10}}})}};
        scene["apps"][0]["windows"] = JSON::array({window});
        desktop = std::make_unique<sim::SimDesktop>(clock, scene);
        watched = std::make_unique<WatchedAccessibility>(*desktop, &clock, perRoundTrip);
        return desktop->elementNamed(window["id"]);
    }
    TreeWriter write(const JSON& window, int64_t maxChars = 12000,
                     std::optional<Rect> bounds = std::nullopt, bool overview = false) {
        const Element root = build(window);
        TreeWriter writer(*watched, clock, maxChars, bounds, overview);
        writer.walk(root, 0, 0);
        return writer;
    }
    Element named(const std::string& name) { return desktop->elementNamed(name); }

    VirtualClock clock;
    Duration perRoundTrip{};
    std::unique_ptr<sim::SimDesktop> desktop;
    std::unique_ptr<WatchedAccessibility> watched;
};

TEST_F(Outline, EveryPartOfTheLineInItsOrder) {
    const auto writer = write(JSON::parse(R"({"role": "AXWindow", "title": "Notes", "children": [
      {"role": "AXButton", "subrole": "AXCloseButton", "actions": ["AXPress"]},
      {"role": "AXGroup", "children": [
        {"role": "AXTextField", "subrole": "AXSearchField", "placeholder": "Search"},
        {"role": "AXTextArea", "value": "first line\nsecond \"quoted\"", "focused": true},
        {"role": "AXCheckBox", "title": "Bold", "value": 1, "focused": true},
        {"role": "AXRadioButton", "title": "Plain", "value": 0, "enabled": false},
        {"role": "AXPopUpButton", "title": "Size", "value": "12", "expanded": false,
         "actions": ["AXPress", "AXShowMenu"]},
        {"role": "AXButton", "title": "More", "actions": ["AXPress", "AXShowMenu"]},
        {"id": "pw", "role": "AXTextField", "subrole": "AXSecureTextField", "value": "hunter2",
         "placeholder": "Password"},
        {"role": "AXButton", "title": "Save", "description": "Save", "help": "Saves the note"},
        {"role": "AXStaticText", "title": "Total", "value": "Total", "placeholder": "none"},
        {"role": "AXImage", "description": "Logo", "help": "not shown beside a description"},
        {"role": "AXGroup", "help": "Only help"},
        {"title": "No role"},
        {"role": "AXFancyThing", "title": "Custom"},
        {"role": "AXSlider", "value": 0.5},
        {"role": "AXIncrementor", "value": 42},
        {"role": "AXStaticText", "value": 7},
        {"role": "AXGroup", "title": "Section", "expanded": true, "selected": true},
        {"role": "AXRow", "selected": true, "expanded": true, "enabled": true, "actions": [
          "Name:Copy link\nTarget:0x0", "AXScrollToVisible", "AXShowDefaultUI",
          "AXShowAlternateUI", "AXShowMenu", "AXRaise", "AXCancel", "AXConfirm", "AXDecrement",
          "AXIncrement", "AXPick"]}
      ]}
    ]})"));
    EXPECT_EQ(joined(writer.lines), R"([1] window "Notes"
  [2] close button
  [3] search field placeholder="Search"
  [4] textarea value="first line ⏎ second 'quoted'" (focused)
  [5] checkbox "Bold" (focused, on)
  [6] radio "Plain" (disabled, off)
  [7] popup "Size" value="12" (collapsed) actions: showMenu
  [8] button "More"
  [9] password field (hidden) placeholder="Password"
  [10] button "Save"
  [11] text "Total"
  [12] image desc="Logo"
  [13] group help="Only help"
  [14]  "No role"
  [15] fancything "Custom"
  [16] slider value="0.5"
  [17] stepper value="42"
  [18] group "Section" (selected)
  [19] row (selected, expanded) actions: Copy link, raise, cancel, confirm, decrement, increment)");
    EXPECT_FALSE(watched->wasRead(named("pw"), "AXValue"));
    EXPECT_EQ(writer.next, 20);
    EXPECT_EQ(writer.elements.size(), 19u);
    EXPECT_TRUE(desktop->isEqual(writer.elements.at(9), named("pw")));
    EXPECT_FALSE(writer.truncated);
}

TEST_F(Outline, InvisibleValuesMakeElementsTransparent) {
    const auto writer = write(JSON::parse(R"({"role": "AXWindow", "title": "W", "children": [
      {"role": "AXGroup", "value": " \u200B\uF8FF\n\uFEFF", "children": [
        {"role": "AXButton", "title": "Go"}]},
      {"role": "AXGroup", "value": " x ", "children": [{"role": "AXButton", "title": "Stay"}]},
      {"role": "AXStaticText", "value": "\u2060\uE000", "children": [
        {"role": "AXGroup", "children": [{"role": "AXLink", "title": "Deep"}]}]}
    ]})"));
    EXPECT_EQ(joined(writer.lines), R"([1] window "W"
  [2] button "Go"
  [3] group value=" x "
    [4] button "Stay"
  [5] link "Deep")");
}

TEST_F(Outline, RolesAndActionsFromTheAppCannotBreakOrQuoteTheLine) {
    // An app chooses its roles and action names; a line break in one must not start a line
    // that looks like an element of its own.
    const auto writer = write(JSON::parse(R"({"role": "AXWindow", "title": "W", "children": [
      {"role": "AXThing\n[9] button \"Pay\"", "title": "Odd"},
      {"role": "AXButton", "title": "Go", "actions": ["AXPress", "AXRun\n[8] link", "Say \"hi\""]}
    ]})"));
    EXPECT_EQ(joined(writer.lines), R"([1] window "W"
  [2] thing ⏎ [9] button 'pay' "Odd"
  [3] button "Go" actions: run ⏎ [8] link, Say 'hi')");
    EXPECT_EQ(writer.lines.size(), writer.elements.size());
}

TEST_F(Outline, ClipCountsGraphemeClusters) {
    EXPECT_EQ(clip("say \"hi\"\nthen go", 120), "say 'hi' ⏎ then go");
    EXPECT_EQ(clip(std::string(200, 'a'), 120), std::string(120, 'a') + "…");
    EXPECT_EQ(clip(std::string(120, 'a'), 120), std::string(120, 'a'));
    const std::string family = "👨‍👩‍👧";
    const std::string accented = "e\xCC\x81";
    const std::string flag = "🇫🇷";
    EXPECT_EQ(clip(repeated(family, 130), 120), repeated(family, 120) + "…");
    EXPECT_EQ(clip(repeated(accented, 121), 120), repeated(accented, 120) + "…");
    EXPECT_EQ(clip(repeated(flag, 41), 40), repeated(flag, 40) + "…");
    EXPECT_EQ(clip(repeated(flag, 40), 40), repeated(flag, 40));
    // The line break's replacement counts three characters towards the limit.
    EXPECT_EQ(clip("ab\ncd", 4), "ab ⏎…");
}

TEST_F(Outline, ValuesKeepMoreForStaticTextThanForFields) {
    JSON window = {{"role", "AXWindow"}, {"title", repeated("T", 200)}};
    window["children"] = {{{"role", "AXStaticText"}, {"value", std::string(500, 's')}},
                          {{"role", "AXTextField"}, {"value", std::string(500, 'f')}},
                          {{"role", "AXTextField"}, {"placeholder", std::string(90, 'p')}}};
    const auto writer = write(window);
    ASSERT_EQ(writer.lines.size(), 4u);
    EXPECT_EQ(writer.lines[0], "[1] window \"" + std::string(120, 'T') + "…\"");
    EXPECT_EQ(writer.lines[1], "  [2] text value=\"" + std::string(300, 's') + "…\"");
    EXPECT_EQ(writer.lines[2], "  [3] field value=\"" + std::string(160, 'f') + "…\"");
    EXPECT_EQ(writer.lines[3], "  [4] field placeholder=\"" + std::string(80, 'p') + "…\"");
}

TEST_F(Outline, CharactersAreCountedPerClusterPlusOneForEachLineBreak) {
    const auto writer = write({{"role", "AXWindow"}, {"title", "🇫🇷🇩🇪e\xCC\x81"}});
    ASSERT_EQ(writer.lines.size(), 1u);
    // [1] window "🇫🇷🇩🇪é" is 16 characters.
    EXPECT_EQ(writer.chars, 17);
}

TEST_F(Outline, IndentationStopsGrowingAtTwelveSteps) {
    JSON deepest = {{"role", "AXButton"}, {"title", "b14"}};
    for (int level = 13; level >= 0; --level)
        deepest = {{"role", level ? "AXGroup" : "AXWindow"},
                   {"title", "g" + std::to_string(level)},
                   {"children", JSON::array({deepest})}};
    const auto writer = write(deepest);
    ASSERT_EQ(writer.lines.size(), 15u);
    EXPECT_EQ(writer.lines[11], std::string(22, ' ') + "[12] group \"g11\"");
    EXPECT_EQ(writer.lines[12], std::string(24, ' ') + "[13] group \"g12\"");
    EXPECT_EQ(writer.lines[13], std::string(24, ' ') + "[14] group \"g13\"");
    EXPECT_EQ(writer.lines[14], std::string(24, ' ') + "[15] button \"b14\"");
}

TEST_F(Outline, PartsOutsideTheVisibleAreaAreLeftOutWithoutReadingBelowThem) {
    const auto writer = write(JSON::parse(R"({"role": "AXWindow", "title": "W",
      "frame": [0, 0, 100, 100], "children": [
        {"role": "AXButton", "title": "In", "frame": [10, 10, 20, 20]},
        {"role": "AXGroup", "title": "Away", "frame": [200, 200, 50, 50], "children": [
          {"id": "awayChild", "role": "AXButton", "title": "Inside away"}]},
        {"role": "AXButton", "title": "Flat", "frame": [200, 200, 0, 20]},
        {"role": "AXButton", "title": "Frameless"},
        {"role": "AXButton", "title": "Partly", "frame": [90, 90, 50, 50]},
        {"role": "AXButton", "title": "Hidden", "hidden": true},
        {"role": "AXScrollBar", "children": [{"id": "thumb", "role": "AXButton"}]}
      ]})"),
                              12000, Rect{{0, 0}, {100, 100}});
    EXPECT_EQ(joined(writer.lines), R"([1] window "W"
  [2] button "In"
  [3] button "Flat"
  [4] button "Frameless"
  [5] button "Partly")");
    EXPECT_FALSE(watched->wasRead(named("awayChild"), "AXRole"));
    EXPECT_FALSE(watched->wasRead(named("thumb"), "AXRole"));
    // Without a visible area, nothing is left out for its position. (An untitled window is
    // transparent like any other element without text.)
    const auto everywhere = write(JSON::parse(R"({"role": "AXWindow", "children": [
          {"role": "AXButton", "title": "Away", "frame": [5000, 5000, 10, 10]}]})"));
    EXPECT_EQ(joined(everywhere.lines), "[1] button \"Away\"");
}

TEST_F(Outline, TheVisitBudgetStopsAtTheElementAfterTheSixThousandth) {
    JSON window = {{"role", "AXWindow"}, {"title", "Big"}, {"children", JSON::array()}};
    for (int i = 0; i < 6500; ++i)
        window["children"].push_back({{"role", "AXButton"}, {"title", "b" + std::to_string(i)}});
    const auto writer = write(window, 1'000'000);
    EXPECT_TRUE(writer.truncated);
    EXPECT_EQ(writer.visited, 6001);
    ASSERT_EQ(writer.lines.size(), 6000u);
    EXPECT_EQ(writer.lines.back(), "  [6000] button \"b5998\"");
    EXPECT_EQ(writer.elements.size(), 6000u);
}

TEST_F(Outline, TheLineThatCrossesTheCharacterBudgetStays) {
    const JSON window = JSON::parse(R"({"role": "AXWindow", "title": "W", "children": [
      {"role": "AXButton", "title": "A"}, {"role": "AXButton", "title": "B"}]})");
    // "[1] window "W"" is 14 characters: 15 with its line break, which does not exceed 15.
    const auto writer = write(window, 15);
    EXPECT_EQ(joined(writer.lines), "[1] window \"W\"\n  [2] button \"A\"");
    EXPECT_EQ(writer.chars, 32);
    EXPECT_TRUE(writer.truncated);
    // The budget is tested before each element: B is still written at exactly 32.
    EXPECT_FALSE(write(window, 32).truncated);
    EXPECT_TRUE(write(window, 31).truncated);
}

TEST_F(Outline, TheTimeBudgetStopsAWalkAfterEightSeconds) {
    perRoundTrip = seconds(1);  // a slow app: every attribute round trip takes a second
    const auto writer = write(JSON::parse(R"({"role": "AXWindow", "title": "W", "children": [
      {"role": "AXButton", "title": "A"}, {"role": "AXButton", "title": "B"},
      {"role": "AXButton", "title": "C"}, {"role": "AXButton", "title": "D"}]})"));
    // Three round trips per written element: the walk starts C at 9 seconds and stops.
    EXPECT_EQ(joined(writer.lines), "[1] window \"W\"\n  [2] button \"A\"\n  [3] button \"B\"");
    EXPECT_TRUE(writer.truncated);
}

// Three branching levels above `part`: the window, and two untitled groups each beside a button.
JSON deepPart(const JSON& part, bool hiddenButtons = false) {
    auto button = [&](const char* title) {
        return JSON{{"role", "AXButton"}, {"title", title}, {"hidden", hiddenButtons}};
    };
    JSON b = {{"role", "AXGroup"}, {"children", JSON::array({part, button("x3")})}};
    JSON a = {{"role", "AXGroup"}, {"children", JSON::array({b, button("x2")})}};
    return {{"role", "AXWindow"}, {"title", "W"}, {"children", JSON::array({a, button("x1")})}};
}

JSON groupOfTexts(int count) {
    JSON part = {{"role", "AXGroup"}, {"children", JSON::array()}};
    for (int i = 1; i <= count; ++i)
        part["children"].push_back({{"role", "AXStaticText"}, {"value", "w" + std::to_string(i)}});
    return part;
}

TEST_F(Outline, OverviewFoldsPartsOfMoreThanTwelveShownElementsBelowThreeLevels) {
    const auto folded = write(deepPart(groupOfTexts(13)), 12000, std::nullopt, true);
    EXPECT_EQ(joined(folded.lines), R"([1] window "W"
  [2] group — more inside: "w1", "w2", "w3"
  [3] button "x3"
  [4] button "x2"
  [5] button "x1")");
    EXPECT_EQ(folded.cuts, 1);
    EXPECT_EQ(folded.visited, 7 + 13);  // the peek's visits count too

    const auto full = write(deepPart(groupOfTexts(12)), 12000, std::nullopt, true);
    ASSERT_EQ(full.lines.size(), 16u);
    EXPECT_EQ(full.lines[1], "  [2] text value=\"w1\"");
    EXPECT_EQ(full.lines[12], "  [13] text value=\"w12\"");
    EXPECT_EQ(full.cuts, 0);

    // Children count as branches whether they are shown or not.
    EXPECT_EQ(joined(write(deepPart(groupOfTexts(13), true), 12000, std::nullopt, true).lines),
              "[1] window \"W\"\n  [2] group — more inside: \"w1\", \"w2\", \"w3\"");

    // Outside overview mode nothing is folded.
    EXPECT_EQ(write(deepPart(groupOfTexts(13))).lines.size(), 17u);
}

TEST_F(Outline, FoldWordsComeFromTitlesDescriptionsAndStaticText) {
    JSON part = {{"role", "AXGroup"}, {"title", "Feed"}, {"children", JSON::array()}};
    auto& kids = part["children"];
    kids.push_back({{"role", "AXStaticText"}, {"value", " \u200B "}});
    kids.push_back({{"role", "AXTextField"}, {"subrole", "AXSecureTextField"}, {"title", "Key"}});
    kids.push_back({{"role", "AXStaticText"}, {"title", "Dup"}});
    kids.push_back({{"role", "AXButton"}, {"description", "Dup"}});
    kids.push_back({{"role", "AXImage"}, {"description", "Pic \"big\""}});
    kids.push_back({{"role", "AXButton"}, {"value", "not a word"}, {"hidden", true}});
    kids.push_back({{"role", "AXButton"}, {"title", std::string(50, 'L')}});
    for (int i = 0; i < 7; ++i) kids.push_back({{"role", "AXButton"}});
    const auto writer = write(deepPart(part), 12000, std::nullopt, true);
    ASSERT_GE(writer.lines.size(), 2u);
    EXPECT_EQ(writer.lines[1], "  [2] group \"Feed\" — more inside: \"Dup\", \"Pic 'big'\", \"" +
                                   std::string(40, 'L') + "…\"");
}

TEST_F(Outline, FoldLinesWithoutWordsAndPartsMostlyHidden) {
    JSON silent = {{"role", "AXGroup"}, {"children", JSON::array()}};
    for (int i = 0; i < 13; ++i) silent["children"].push_back({{"role", "AXButton"}});
    EXPECT_EQ(write(deepPart(silent), 12000, std::nullopt, true).lines[1],
              "  [2] group — more inside");

    // One shown element whose 130 children are hidden: the peek runs out of its 120 places.
    JSON inner = {{"role", "AXGroup"}, {"children", JSON::array()}};
    for (int i = 0; i < 130; ++i)
        inner["children"].push_back({{"role", "AXButton"}, {"hidden", true}});
    const JSON hiding = {{"role", "AXGroup"}, {"children", JSON::array({inner})}};
    const auto writer = write(deepPart(hiding), 12000, std::nullopt, true);
    EXPECT_EQ(writer.lines[1], "  [2] group — more inside");
    EXPECT_EQ(writer.cuts, 1);
}

TEST_F(Outline, ReadTreeFallsBackToAFreshOverview) {
    const Element root = build(deepPart(groupOfTexts(13)));
    const auto fits = readTree(*watched, clock, root, std::nullopt, 12000, 41, false);
    EXPECT_FALSE(fits.overview);
    EXPECT_EQ(fits.lines.front(), "[41] window \"W\"");
    EXPECT_EQ(fits.lines.size(), 17u);

    const auto tight = readTree(*watched, clock, root, std::nullopt, 150, 41, false);
    EXPECT_TRUE(tight.overview);
    EXPECT_FALSE(tight.truncated);
    EXPECT_EQ(tight.cuts, 1);
    EXPECT_EQ(tight.lines.size(), 5u);
    EXPECT_EQ(tight.elements.begin()->first, 41);
    EXPECT_EQ(tight.next, 46);

    const auto direct = readTree(*watched, clock, root, std::nullopt, 12000, 1, true);
    EXPECT_TRUE(direct.overview);
    EXPECT_EQ(direct.lines.size(), 5u);

    const auto starved = readTree(*watched, clock, root, std::nullopt, -5, 1, false);
    EXPECT_TRUE(starved.truncated);
    EXPECT_TRUE(starved.lines.empty());
}

TEST_F(Outline, InvisibleCharacters) {
    for (char32_t c : {U' ', U'\t', U'\n', U'\u00A0', U'\u2028', U'\u200B', U'\u200D', U'\u2060',
                       U'\uFEFF', U'\uFFFC', U'\uE000', U'\uF8FF', U'\u3000'})
        EXPECT_TRUE(isInvisible(c)) << static_cast<uint32_t>(c);
    for (char32_t c : {U'a', U'\u00AD', U'\uF900', U'\U000F0000', U'\u23CE'})
        EXPECT_FALSE(isInvisible(c)) << static_cast<uint32_t>(c);
    EXPECT_TRUE(isInvisibleOnly(""));
    EXPECT_FALSE(isInvisibleOnly(" \u200B.\u200B "));
}

}  // namespace
}  // namespace pelko::computer
