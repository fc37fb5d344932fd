// typeText and pressKey on a simulated desktop: insertion through the selection and the four
// ways of telling whether it showed, keys sent to a background app and watched for, keys typed
// with the app in front, password fields, and which app a key press reaches.
#include "typing.h"

#include "acting-fixture.h"

namespace pelko::computer {
namespace {

using testing::ActingFixture;

const JSON typingDesktop = JSON::parse(R"({
  "apps": [
    {"name": "Mail", "pid": 20, "active": true, "focusedElement": "mail.body",
     "windows": [{"id": "mail.window", "role": "AXWindow", "frame": [0, 0, 600, 400], "children": [
       {"id": "mail.body", "role": "AXTextArea", "value": "", "settable": ["AXFocused"]},
       {"id": "mail.subject", "role": "AXTextField", "value": "Hi"}]}]},
    {"name": "Notes", "pid": 10, "acceptsBackgroundKeys": true, "focusedElement": "body",
     "windows": [{"id": "window", "role": "AXWindow", "frame": [100, 50, 800, 600],
                  "settable": ["AXMain"], "actions": ["AXRaise"], "children": [
       {"id": "body", "role": "AXTextArea", "value": "Milk and eggs", "selection": [0, 4],
        "settable": ["AXFocused", "AXSelectedText"]},
       {"id": "fresh", "role": "AXTextField", "settable": ["AXFocused", "AXSelectedText"]},
       {"id": "redrawn", "role": "AXTextField", "value": "a", "settable": ["AXFocused", "AXSelectedText"],
        "onSet": {"AXSelectedText": [{"do": "destroy", "element": "redrawn"}]}},
       {"id": "inert", "role": "AXTextField", "value": "abc", "settable": ["AXFocused", "AXSelectedText"],
        "ignoresSet": ["AXSelectedText"]},
       {"id": "refusing", "role": "AXTextField", "value": "x", "settable": ["AXFocused", "AXSelectedText"],
        "setErrors": {"AXSelectedText": -25200}},
       {"id": "title", "role": "AXTextField", "value": "", "settable": ["AXFocused"]},
       {"id": "password", "role": "AXTextField", "subrole": "AXSecureTextField", "value": "",
        "settable": ["AXFocused", "AXSelectedText"]},
       {"id": "canvas", "role": "AXGroup", "settable": ["AXFocused"]}]}]},
    {"name": "Deaf", "pid": 40, "focusedElement": "deaf.field",
     "windows": [{"role": "AXWindow", "children": [
       {"id": "deaf.field", "role": "AXTextField", "value": "", "settable": ["AXFocused"]}]}]},
    {"name": "Blank", "pid": 50, "windows": [{"role": "AXWindow"}]}
  ]
})");

class Typing : public ActingFixture {
  protected:
    void SetUp() override {
        build(typingDesktop);
        number(10, {{1, "body"},
                    {2, "fresh"},
                    {3, "redrawn"},
                    {4, "inert"},
                    {5, "refusing"},
                    {6, "title"},
                    {7, "password"},
                    {8, "canvas"}});
        number(20, {{1, "mail.subject"}});
    }
    JSON type(JSON params) {
        params["app"] = params.value("app", "Notes");
        return run("typeText", params);
    }
};

TEST_F(Typing, InsertionCountsOnlyWhenTheValueShowsIt) {
    struct Case {
        const char* field;
        const char* result;
        bool keysSent;
    };
    const Case cases[] = {
        {"fresh", R"({"via": "insert"})", false},       // no value before, text after
        {"body", R"({"via": "insert"})", false},        // the value changed
        {"redrawn", R"({"via": "insert"})", false},     // the value no longer reads
        {"inert", R"({"via": "keysBehind"})", true},    // accepted, no visible effect
        {"refusing", R"({"via": "keysBehind"})", true}  // refused
    };
    for (const auto& [field, result, keysSent] : cases) {
        build(typingDesktop);
        number(10, {{1, field}});
        EXPECT_EQ(type({{"index", 1}, {"text", "Tea"}}), JSON::parse(result)) << field;
        EXPECT_EQ(!posted().empty(), keysSent) << field;
    }
    EXPECT_EQ(desktop->attributeOf("refusing", "AXValue"), "xTea") << "typed behind instead";
    build(typingDesktop);
    number(10, {{1, "body"}});
    type({{"index", 1}, {"text", "Tea"}});
    EXPECT_EQ(desktop->attributeOf("body", "AXValue"), "Tea and eggs") << "the selection replaced";
}

TEST_F(Typing, KeysBehindAreWatchedForUpToTwelveTimes) {
    EXPECT_EQ(type({{"index", 6}, {"text", "Plan"}}), JSON::parse(R"({"via": "keysBehind"})"));
    EXPECT_EQ(posted(),
              (std::vector<std::string>{"post keyDown \"Plan\" 10", "post keyUp \"Plan\" 10"}));
    EXPECT_EQ(pausesMs(), (std::vector<long>{20, 100})) << "seen at the first check";
    EXPECT_EQ(desktop->attributeOf("title", "AXValue"), "Plan");

    // An app that ignores keys in the background: twelve checks, then landed false.
    EXPECT_EQ(type({{"app", "Deaf"}, {"text", "x"}}),
              JSON::parse(R"({"via": "keysBehind", "landed": false})"));
    std::vector<long> expected = {20, 100, 20};
    expected.insert(expected.end(), 12, 100);
    EXPECT_EQ(pausesMs(), expected);
    EXPECT_EQ(calls("keyIgnored").size(), 1u);
    EXPECT_EQ(frontEvents(), 0);
}

TEST_F(Typing, LineBreaksAreNeverInsertedButTypedAsReturn) {
    EXPECT_EQ(type({{"index", 1}, {"text", "a\nb"}}), JSON::parse(R"({"via": "keysBehind"})"));
    EXPECT_EQ(calls("setAttribute").size(), 1u) << "only the focus, no AXSelectedText";
    std::vector<int> codes;
    for (const auto& entry : calls("post"))
        if (entry["type"] == "keyDown") codes.push_back(entry["keyCode"]);
    EXPECT_EQ(codes, (std::vector<int>{0, 36, 0}));
    EXPECT_EQ(desktop->attributeOf("body", "AXValue"), "Milk and eggsa\nb");
}

TEST_F(Typing, APasswordFieldIsTypedIntoOnlyInFront) {
    EXPECT_EQ(type({{"index", 7}, {"text", "hunter2"}}),
              JSON::parse(R"({"via": "keys", "front": true})"));
    EXPECT_EQ(acts(), (std::vector<std::string>{
                          "set password AXFocused 0", "activate 10", "set window AXMain 0",
                          "AXRaise window 0", "set password AXFocused 0",
                          "post keyDown \"hunter2\" system", "post keyUp \"hunter2\" system"}));
    EXPECT_EQ(pausesMs(), (std::vector<long>{150, 120, 20, 150}));
    EXPECT_EQ(desktop->attributeOf("password", "AXValue"), "hunter2");
}

TEST_F(Typing, FrontSkipsOnlyTheKeysBehind) {
    EXPECT_EQ(type({{"index", 1}, {"text", "Tea"}, {"front", true}}),
              JSON::parse(R"({"via": "insert"})"));
    EXPECT_EQ(type({{"index", 6}, {"text", "Tea"}, {"front", true}}),
              JSON::parse(R"({"via": "keys", "front": true})"));
    EXPECT_EQ(posted(), (std::vector<std::string>{"post keyDown \"Tea\" system",
                                                  "post keyUp \"Tea\" system"}));
}

TEST_F(Typing, WithNothingFocusedOrNoValueToWatchTheAppIsBroughtForward) {
    EXPECT_EQ(type({{"app", "Blank"}, {"text", "x"}}),
              JSON::parse(R"({"via": "keys", "front": true})"));
    EXPECT_EQ(outputLines(),
              (std::vector<JSON>{JSON::parse(R"({"event":"front","app":"Blank"})")}));
    // Keys behind could never be seen to land in a target whose value does not read as text.
    EXPECT_EQ(type({{"index", 8}, {"text", "x"}}),
              JSON::parse(R"({"via": "keys", "front": true})"));
    EXPECT_EQ(posted(),
              (std::vector<std::string>{"post keyDown \"x\" system", "post keyUp \"x\" system",
                                        "post keyDown \"x\" system", "post keyUp \"x\" system"}));
}

TEST_F(Typing, KeysThatVisiblyMissTheirFieldAnswerLandedFalse) {
    // The subject cannot take the focus, so Mail's keys go to its body.
    EXPECT_EQ(type({{"app", "Mail"}, {"index", 1}, {"text", "x"}}),
              JSON::parse(R"({"via": "keys", "landed": false, "front": false})"));
    EXPECT_EQ(desktop->attributeOf("mail.body", "AXValue"), "x");
}

TEST_F(Typing, MissingParametersAreRefused) {
    EXPECT_EQ(failureOf("typeText", {{"app", "Notes"}}).message, "Give the app and the text.");
    EXPECT_EQ(failureOf("typeText", {{"text", "x"}}).code, "bad-input");
    EXPECT_EQ(failureOf("pressKey", {{"app", "Notes"}}).message, "Give the app and the key.");
}

TEST_F(Typing, PressKeyGoesBehindUnlessTheAppIsInFrontOrFrontIsAsked) {
    EXPECT_EQ(run("pressKey", {{"app", "Notes"}, {"key", "cmd+shift+t"}}),
              JSON::parse(R"({"via": "behind"})"));
    EXPECT_EQ(run("pressKey", {{"app", "Mail"}, {"key", "Return"}}),
              JSON::parse(R"({"via": "front", "front": false})"));
    EXPECT_EQ(run("pressKey", {{"app", "Notes"}, {"key", "a"}, {"front", true}}),
              JSON::parse(R"({"via": "front", "front": true})"));
    EXPECT_EQ(acts(),
              (std::vector<std::string>{"post keyDown \"T\" 10", "post keyUp \"T\" 10",
                                        "post keyDown system", "post keyUp system", "activate 10",
                                        "post keyDown system", "post keyUp system"}));
    EXPECT_EQ(frontEvents(), 2) << "bringing forward writes its event also when already front";
}

TEST_F(Typing, PressKeyResolvesTheAppBeforeTheKeyAndPostsNothingForAnUnknownKey) {
    EXPECT_EQ(failureOf("pressKey", {{"app", "Pages"}, {"key", "cmd+hyper"}}).code, "not-running");
    const Failure unknown = failureOf("pressKey", {{"app", "Notes"}, {"key", "cmd+hyper"}});
    EXPECT_EQ(unknown.code, "bad-input");
    EXPECT_EQ(unknown.message,
              "Unknown key \"cmd+hyper\". Use names like Return, Tab, Escape, Up, cmd+s, "
              "shift+cmd+t.");
    EXPECT_EQ(acts(), std::vector<std::string>{});
}

}  // namespace
}  // namespace pelko::computer
