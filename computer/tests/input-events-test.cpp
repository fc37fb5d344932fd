// Key names and combinations, typing, clicking, posting and bringing apps forward, on a
// simulated desktop whose call log shows every event and whose clock records every pause.
#include "input-events.h"

#include "sim-fixture.h"

namespace pelko::computer {
namespace {

using testing::SimFixture;

const JSON sampleDesktop = JSON::parse(R"({
  "pointer": [5, 6],
  "apps": [
    {"name": "Notes", "pid": 10, "active": true, "focusedElement": "notesText",
     "windows": [{"id": "notesWindow", "role": "AXWindow", "frame": [100, 50, 800, 600],
                  "children": [{"id": "notesText", "role": "AXTextArea", "value": "",
                                "frame": [120, 100, 700, 400]}]}]},
    {"name": "Browser", "pid": 11, "acceptsBackgroundKeys": true, "focusedElement": "address",
     "windows": [{"id": "browserWindow", "role": "AXWindow", "frame": [0, 25, 1200, 800],
                  "children": [{"id": "address", "role": "AXTextField", "value": "x"}]}]},
    {"name": "Settings", "pid": 12, "activationDelaySeconds": 0.3, "focusedElement": "search",
     "windows": [{"id": "settingsWindow", "role": "AXWindow", "frame": [300, 200, 600, 500],
                  "children": [{"id": "search", "role": "AXTextField", "value": ""}]}]},
    {"name": "Stubborn", "pid": 13, "activates": false, "hidden": true},
    {"pid": 14, "activates": false}
  ]
})");

class InputEvents : public SimFixture {
  protected:
    void SetUp() override { build(sampleDesktop); }

    // The posted events as compact summaries: type, then the fields that matter to a test.
    std::vector<std::string> posted() const {
        std::vector<std::string> summaries;
        for (const auto& entry : calls("post")) {
            std::string summary = entry["type"];
            if (entry.contains("text")) summary += " " + entry["text"].dump();
            if (entry.contains("clickState")) summary += "(" + entry["clickState"].dump() + ")";
            summaries.push_back(summary);
        }
        return summaries;
    }

    RunningApp app(pid_t pid) { return *desktop->runningApplication(pid); }
};

TEST_F(InputEvents, KeyTablesHoldEveryNameAndSharedCodes) {
    EXPECT_EQ(keyCodes.size(), 85u);
    EXPECT_EQ(keyCharacters.size(), 38u);
    EXPECT_EQ(keyCodes.at("enter"), keyCodes.at("return"));
    EXPECT_EQ(keyCodes.at("esc"), 53);
    EXPECT_EQ(keyCodes.at("`"), 50);
    EXPECT_EQ(keyCodes.at("f11"), 103);
    EXPECT_EQ(keyCodes.at(","), keyCodes.at("comma"));
    // Every key that types a known character has a code.
    for (const auto& [name, character] : keyCharacters) EXPECT_TRUE(keyCodes.count(name)) << name;
}

TEST_F(InputEvents, ParseKeyReadsCombinationsTheWayAgentsWriteThem) {
    EXPECT_EQ(parseKey("cmd+shift+T"), (KeyCombo{17, eventFlagCommand | eventFlagShift}));
    EXPECT_EQ(parseKey(" Cmd + S "), (KeyCombo{1, eventFlagCommand}));
    EXPECT_EQ(parseKey("ctrl+alt+delete"), (KeyCombo{51, eventFlagControl | eventFlagAlternate}));
    EXPECT_EQ(parseKey("a+b"), (KeyCombo{11, 0})) << "the later key wins";
    EXPECT_EQ(parseKey("\t\u2318+\u21E7+\u2325+\u2303+fn+F5"),
              (KeyCombo{96, eventFlagCommand | eventFlagShift | eventFlagAlternate |
                                eventFlagControl | eventFlagSecondaryFn}));
    EXPECT_EQ(parseKey("Option++Left"), (KeyCombo{123, eventFlagAlternate}))
        << "empty pieces are dropped";
    EXPECT_EQ(parseKey("super+meta+command+opt+control+Enter"),
              (KeyCombo{36, eventFlagCommand | eventFlagAlternate | eventFlagControl}));
}

TEST_F(InputEvents, ParseKeyRefusesWhatHasNoKeyWithTheCombinationQuoted) {
    for (const std::string combo :
         {"\u2318\u21E7s", "shift+cmd", "+", "", " + ", "x+hyper", "cmd+plus", "f13"}) {
        try {
            parseKey(combo);
            ADD_FAILURE() << "accepted \"" << combo << "\"";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.code, "bad-input");
            EXPECT_EQ(failure.message, "Unknown key \"" + combo +
                                           "\". Use names like Return, Tab, Escape, Up, cmd+s, "
                                           "shift+cmd+t.");
        }
    }
}

TEST_F(InputEvents, KeyCharacterGivesTheTypedCharacterOrNothing) {
    EXPECT_EQ(keyCharacter("cmd+a", true), "A");
    EXPECT_EQ(keyCharacter("cmd+a", false), "a");
    EXPECT_EQ(keyCharacter("cmd+f5", true), "\uF708");
    EXPECT_EQ(keyCharacter("cmd+Home", false), "\uF729");
    EXPECT_EQ(keyCharacter("Return", false), "\r");
    EXPECT_EQ(keyCharacter("cmd+ minus", true), "-") << "the table's character is not shifted";
    EXPECT_EQ(keyCharacter("ctrl+\u00C9", true), "\u00C9");
    EXPECT_EQ(keyCharacter("ctrl+\u00C9", false), "\u00E9");
    EXPECT_EQ(keyCharacter("cmd+tab", false), "\t");
    EXPECT_EQ(keyCharacter("cmd+xyz", false), std::nullopt);
    EXPECT_EQ(keyCharacter("c++", true), "C") << "the last piece after dropping empty ones";
    EXPECT_EQ(keyCharacter("cmd+", true), std::nullopt) << "the last piece is cmd";
    EXPECT_EQ(keyCharacter("", false), std::nullopt);
}

TEST_F(InputEvents, TypeTextSendsChunksOfSixteenUnitsWithAPauseAfterEach) {
    const std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN";
    typeText(*platform, letters, std::nullopt);
    EXPECT_EQ(posted(), (std::vector<std::string>{
                            "keyDown \"abcdefghijklmnop\"", "keyUp \"abcdefghijklmnop\"",
                            "keyDown \"qrstuvwxyzABCDEF\"", "keyUp \"qrstuvwxyzABCDEF\"",
                            "keyDown \"GHIJKLMN\"", "keyUp \"GHIJKLMN\""}));
    EXPECT_EQ(pausesMs(), (std::vector<long>{20, 20, 20}));
    for (const auto& entry : calls("post")) {
        EXPECT_EQ(entry["keyCode"], 0);
        EXPECT_EQ(entry["flags"], 0);
        EXPECT_EQ(entry["mark"], ownEventMark);
        EXPECT_EQ(entry["target"], "system");
        EXPECT_EQ(entry["source"], "hidSystem");
    }
    EXPECT_EQ(desktop->attributeOf("notesText", "AXValue"), letters)
        << "global typing lands in the frontmost app's focused field";
}

TEST_F(InputEvents, TypeTextPressesTabAndEachLineBreakOnItsOwn) {
    typeText(*platform, "ab\tc\r\nd\n", std::nullopt);
    EXPECT_EQ(posted(), (std::vector<std::string>{
                            "keyDown \"ab\"", "keyUp \"ab\"",  // the chunk before the Tab
                            "keyDown \"\"", "keyUp \"\"",      // Tab, no text when global
                            "keyDown \"c\"", "keyUp \"c\"",    //
                            "keyDown \"\"", "keyUp \"\"",      // Return for CR
                            "keyDown \"\"", "keyUp \"\"",      // and Return again for LF
                            "keyDown \"d\"", "keyUp \"d\"",    //
                            "keyDown \"\"", "keyUp \"\""}));   // Return, nothing pending
    std::vector<int> codes;
    for (const auto& entry : calls("post")) {
        if (entry["type"] == "keyDown") codes.push_back(entry["keyCode"]);
    }
    EXPECT_EQ(codes, (std::vector<int>{0, 48, 0, 36, 36, 0, 36}));
    EXPECT_EQ(pausesMs(), (std::vector<long>{20, 30, 20, 30, 30, 20, 30}));
    EXPECT_EQ(desktop->attributeOf("notesText", "AXValue"), "abc\n\nd\n");
}

TEST_F(InputEvents, TypeTextNeverSplitsASurrogatePair) {
    const std::string fifteen = "123456789012345";
    typeText(*platform, fifteen + "\U0001F600xy", std::nullopt);
    EXPECT_EQ(posted(), (std::vector<std::string>{"keyDown \"" + fifteen + "\U0001F600\"",
                                                  "keyUp \"" + fifteen + "\U0001F600\"",
                                                  "keyDown \"xy\"", "keyUp \"xy\""}))
        << "the chunk holds 17 units: 15 and the pair";
}

TEST_F(InputEvents, TypeTextToAProcessGoesOnlyWhereKeysAreAccepted) {
    typeText(*platform, "ample.org\t", pid_t{11});
    EXPECT_EQ(posted(), (std::vector<std::string>{"keyDown \"ample.org\"", "keyUp \"ample.org\"",
                                                  "keyDown \"\\t\"", "keyUp \"\\t\""}))
        << "a key press to a process carries its character";
    for (const auto& entry : calls("post")) {
        EXPECT_EQ(entry["target"], 11);
        EXPECT_EQ(entry["source"], "private");
    }
    EXPECT_EQ(desktop->attributeOf("address", "AXValue"), "xample.org")
        << "the background app took the text";
    EXPECT_EQ(desktop->attributeOf("notesText", "AXValue"), "") << "the front app saw nothing";

    typeText(*platform, "hi", pid_t{12});
    EXPECT_EQ(desktop->attributeOf("search", "AXValue"), "");
    ASSERT_EQ(calls("keyIgnored").size(), 1u);
    EXPECT_EQ(calls("keyIgnored")[0]["pid"], 12);
    EXPECT_EQ(desktop->frontmostApplication()->pid, 10) << "the front app did not change";
}

TEST_F(InputEvents, PressKeyAttachesTheCharacterOnlyForAProcess) {
    pressKey(*platform, "cmd+shift+t", std::nullopt);
    pressKey(*platform, "cmd+shift+t", pid_t{11});
    pressKey(*platform, "Right", pid_t{11});
    const auto entries = calls("post");
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[0]["text"], "");
    EXPECT_EQ(entries[0]["source"], "hidSystem");
    EXPECT_EQ(entries[2]["text"], "T");
    EXPECT_EQ(entries[3]["text"], "T") << "the key-up carries it too";
    EXPECT_EQ(entries[4]["text"], "\uF703");
    for (int i : {0, 1, 2, 3}) {
        EXPECT_EQ(entries[i]["keyCode"], 17);
        EXPECT_EQ(entries[i]["flags"], eventFlagCommand | eventFlagShift);
    }
    EXPECT_EQ(pausesMs(), (std::vector<long>{30, 30, 30}));
    EXPECT_EQ(calls("keyShortcut").size(), 2u) << "command keys type nothing";
    EXPECT_EQ(desktop->attributeOf("address", "AXValue"), "x");

    EXPECT_THROW(pressKey(*platform, "cmd+plus", pid_t{11}), Failure);
    EXPECT_EQ(calls("post").size(), 6u) << "a bad name posts nothing";
    EXPECT_EQ(pausesMs().size(), 3u);
}

TEST_F(InputEvents, ClickAtPostsPairsWithClickStatesAndPutsThePointerBack) {
    clickAt(*platform, {200, 300}, "left", 2);
    EXPECT_EQ(posted(),
              (std::vector<std::string>{"mouseMoved", "leftMouseDown(1)", "leftMouseUp(1)",
                                        "leftMouseDown(2)", "leftMouseUp(2)"}));
    EXPECT_EQ(pausesMs(), (std::vector<long>{50, 60, 60}));
    std::vector<double> times;
    for (const auto& entry : calls()) times.push_back(entry["t"]);
    EXPECT_EQ(times, (std::vector<double>{0, 0.05, 0.05, 0.11, 0.11, 0.17}))
        << "the log shows the pauses between the move, the pairs and the warp";
    for (const auto& entry : calls("post")) {
        EXPECT_EQ(entry["location"], JSON::array({200, 300}));
        EXPECT_EQ(entry["mark"], ownEventMark);
    }
    ASSERT_EQ(calls("warpPointer").size(), 1u);
    EXPECT_EQ(calls("warpPointer")[0]["location"], JSON::array({5, 6}));
    EXPECT_EQ(desktop->pointer(), (Point{5, 6}));
}

TEST_F(InputEvents, ClickAtMapsButtonsAndHoldsTheCountToOneToThree) {
    clickAt(*platform, {1, 2}, "right", 7);
    EXPECT_EQ(posted(),
              (std::vector<std::string>{"mouseMoved", "rightMouseDown(1)", "rightMouseUp(1)",
                                        "rightMouseDown(2)", "rightMouseUp(2)", "rightMouseDown(3)",
                                        "rightMouseUp(3)"}));
    EXPECT_EQ(calls("post")[1]["button"], 1);
    build(sampleDesktop);
    clickAt(*platform, {1, 2}, "middle", 0);
    EXPECT_EQ(posted(),
              (std::vector<std::string>{"mouseMoved", "otherMouseDown(1)", "otherMouseUp(1)"}));
    EXPECT_EQ(calls("post")[1]["button"], 2);
    build(sampleDesktop);
    clickAt(*platform, {1, 2}, "Right", 1);
    EXPECT_EQ(posted()[1], "leftMouseDown(1)") << "button names are exact";
}

TEST_F(InputEvents, ClickAtSkipsEventsThatCannotBeMadeAndKeepsItsPauses) {
    JSON scene = sampleDesktop;
    scene["uncreatableEvents"] = {"leftMouseDown"};
    scene["pointerReadable"] = false;
    build(scene);
    clickAt(*platform, {10, 10}, "left", 1);
    EXPECT_EQ(posted(), (std::vector<std::string>{"mouseMoved", "leftMouseUp(1)"}));
    EXPECT_EQ(pausesMs(), (std::vector<long>{50, 60}));
    EXPECT_TRUE(calls("warpPointer").empty()) << "no place to put the pointer back to";
    EXPECT_EQ(desktop->pointer(), (Point{10, 10}));
}

TEST_F(InputEvents, BringForwardOfTheFrontAppOnlyAnnounces) {
    bringForward(computer(), app(10));
    EXPECT_EQ(outputLines(), (std::vector<JSON>{{{"event", "front"}, {"app", "Notes"}}}));
    EXPECT_TRUE(pausesMs().empty());
    EXPECT_TRUE(calls("activate").empty());
}

TEST_F(InputEvents, BringForwardWaitsForAnAppThatComesAfterSomeChecks) {
    bringForward(computer(), app(12));
    EXPECT_EQ(outputLines(), (std::vector<JSON>{{{"event", "front"}, {"app", "Settings"}}}));
    EXPECT_EQ(pausesMs(), (std::vector<long>{50, 50, 50, 50, 50, 50, 150}))
        << "it came forward 0.3 s after being asked";
    EXPECT_EQ(frontPid(*platform), 12);
    EXPECT_TRUE(isFront(*platform, app(12)));
}

TEST_F(InputEvents, BringForwardGivesUpAfterFortyChecks) {
    try {
        bringForward(computer(), app(13));
        FAIL() << "the app never comes forward";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code, "not-front");
        EXPECT_EQ(failure.message,
                  "Stubborn could not be brought to the front, so nothing was typed or clicked. "
                  "Try again, or ask the user to click its window once.");
    }
    std::vector<long> expected(40, 50);
    expected.push_back(150);
    EXPECT_EQ(pausesMs(), expected);
    EXPECT_EQ(calls("unhide").size(), 1u);
    EXPECT_FALSE(app(13).hidden);
    EXPECT_EQ(calls("activate").size(), 1u);

    try {
        bringForward(computer(), app(14));
        FAIL() << "the app never comes forward";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.message.rfind("The app could not be brought to the front", 0), 0u);
    }
    EXPECT_EQ(calls("unhide").size(), 1u) << "a visible app is not unhidden";
    EXPECT_EQ(outputLines().back(), JSON::parse(R"({"event": "front", "app": ""})"));

    // An empty name is no name either.
    RunningApp emptyName = app(14);
    emptyName.localizedName = "";
    try {
        bringForward(
            *platform, [](const JSON&) {}, emptyName);
        FAIL() << "the app never comes forward";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.message,
                  "The app could not be brought to the front, so nothing was typed or clicked. "
                  "Try again, or ask the user to click its window once.");
    }
}

TEST_F(InputEvents, EventSceneKeysOfTheWrongKindAreSceneErrors) {
    for (const char* scene : {R"({"uncreatableEvents": [1]})", R"({"uncreatableEvents": [null]})",
                              R"({"pointer": [1, "2"]})"}) {
        EXPECT_THROW(sim::SimDesktop(clock, JSON::parse(scene)), sim::SceneError) << scene;
    }
}

TEST_F(InputEvents, PostAndPostToTagEveryEventAndSkipNone) {
    post(*platform, desktop->createScrollWheelEvent(EventSourceState::hidSystem, -3, 1));
    postTo(*platform, desktop->createKeyboardEvent(EventSourceState::privateState, 53, true), 12);
    post(*platform, std::nullopt);
    postTo(*platform, std::nullopt, 12);
    const auto entries = calls("post");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0]["wheel1"], -3);
    EXPECT_EQ(entries[0]["wheel2"], 1);
    EXPECT_EQ(entries[0]["target"], "system");
    EXPECT_EQ(entries[1]["target"], 12);
    for (const auto& entry : entries) EXPECT_EQ(entry["mark"], 0x50454C4B);
}

TEST_F(InputEvents, WindowOriginPrefersTheWindowLastReadThenTheFocusedOne) {
    EXPECT_EQ(windowOrigin(computer(), app(11)), (Point{0, 25}));
    // The session's window wins even over the focused one.
    computer().sessions.session(11).window = desktop->elementNamed("notesWindow");
    EXPECT_EQ(windowOrigin(computer(), app(11)), (Point{100, 50}));
    EXPECT_EQ(windowOrigin(computer(), app(13)), std::nullopt) << "no window at all";
}

}  // namespace
}  // namespace pelko::computer
