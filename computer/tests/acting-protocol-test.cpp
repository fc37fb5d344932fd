// The acting methods through the program's standard streams on the sample desktop, with the
// call log showing what reached the apps.
#include <gtest/gtest.h>

#include "computer-process.h"

namespace pelko::computer::testing {
namespace {

class ActingProtocol : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(computer.nextLine()["event"], "ready");
        for (const char* app : {"Notes", "Browser", "Settings"})
            ASSERT_TRUE(send("state", {{"app", app}}).contains("result")) << app;
    }

    /// Sends a request and returns its reply; the event lines before it are kept in `events`.
    JSON send(const std::string& method, const JSON& params) {
        computer.child().writeLine(
            JSON{{"id", ++lastId}, {"method", method}, {"params", params}}.dump());
        for (;;) {
            JSON line = computer.nextLine();
            if (line.is_null() || line.contains("id")) return line;
            events.push_back(line);
        }
    }
    JSON result(const std::string& method, const JSON& params) {
        return send(method, params)["result"];
    }
    /// The error reply without its id.
    JSON error(const std::string& method, const JSON& params) {
        JSON reply = send(method, params);
        reply.erase("id");
        return reply;
    }

    /// The call log's entries of one call since the last look.
    std::vector<JSON> newCalls(const std::string& call) {
        const auto all = computer.calls();
        std::vector<JSON> found;
        for (size_t i = seen; i < all.size(); ++i) {
            if (all[i]["call"] == call) found.push_back(all[i]);
        }
        seen = all.size();
        return found;
    }
    void skipCalls() { seen = computer.calls().size(); }

    ComputerProcess computer{ComputerProcess::sampleScene()};
    std::vector<JSON> events;
    int lastId = 0;
    size_t seen = 0;
};

TEST_F(ActingProtocol, ClicksPressInTheBackgroundAndUseThePointerInFront) {
    skipCalls();
    // Settings' "Share Mac Analytics" is [3] in its outline.
    EXPECT_EQ(result("click", {{"app", "Settings"}, {"index", 3}}),
              JSON::parse(R"({"via": "press"})"));
    EXPECT_EQ(newCalls("post"), std::vector<JSON>{});
    EXPECT_EQ(events, std::vector<JSON>{});

    EXPECT_EQ(result("click", {{"app", "Notes"}, {"x", 150}, {"y", 120}}),
              JSON::parse(R"({"via": "pointer", "front": false})"));
    EXPECT_EQ(events, (std::vector<JSON>{JSON::parse(R"({"event": "front", "app": "Notes"})")}));
    const auto posted = newCalls("post");
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[1]["type"], "leftMouseDown");
    EXPECT_EQ(posted[1]["location"], JSON::parse("[250, 180]"));

    EXPECT_EQ(error("click", {{"app", "Notes"}, {"x", 950}, {"y", 10}}),
              JSON::parse(R"({"code": "bad-input", "error":
                "950,10 is outside Notes's window (900×640). Read x and y off its latest screenshot, or use an element index."})"));
    EXPECT_EQ(send("click", {{"app", "Maps"}, {"index", 1}})["code"], "not-running");
}

TEST_F(ActingProtocol, ValuesActionsAndTextBehindTheFrontApp) {
    EXPECT_EQ(result("setValue", {{"app", "Notes"}, {"index", 5}, {"value", "coffee"}}),
              JSON::parse(R"({"ok": true})"));
    EXPECT_EQ(
        result("action", {{"app", "Browser"}, {"index", 5}, {"action", "reload without cache"}}),
        JSON::parse(R"({"ok": true})"));
    skipCalls();
    EXPECT_EQ(
        result("typeText", {{"app", "Browser"}, {"index", 3}, {"text", "pelko.example/docs"}}),
        JSON::parse(R"({"via": "insert"})"));
    EXPECT_EQ(newCalls("post"), std::vector<JSON>{});
    EXPECT_EQ(result("typeText", {{"app", "Browser"}, {"index", 4}, {"text", "fixes"}}),
              JSON::parse(R"({"via": "keysBehind"})"));
    const auto posted = newCalls("post");
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0]["target"], 503) << "to the browser's process only";
    EXPECT_EQ(posted[0]["text"], "fixes");
    EXPECT_EQ(events, std::vector<JSON>{}) << "Notes stayed in front";

    const JSON browser = result("state", {{"app", "Browser"}, {"maxChars", 2000}});
    const std::string tree = browser["tree"];
    EXPECT_NE(tree.find("value=\"https://pelko.example/docs\""), std::string::npos) << tree;
    EXPECT_NE(tree.find("search field value=\"fixes\""), std::string::npos) << tree;
}

TEST_F(ActingProtocol, KeysScrollingAndMenus) {
    skipCalls();
    EXPECT_EQ(result("pressKey", {{"app", "Notes"}, {"key", "cmd+n"}}),
              JSON::parse(R"({"via": "front", "front": false})"));
    EXPECT_EQ(newCalls("menuShortcut"),
              (std::vector<JSON>{JSON::parse(
                  R"({"call": "menuShortcut", "app": "Notes", "item": "notes.menu.newNote"})")}));
    EXPECT_EQ(result("scroll", {{"app", "Browser"}, {"amount", 10}}),
              JSON::parse(R"({"via": "behind"})"));
    const auto set = newCalls("setAttribute");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0]["element"], "browser.scrollbar");
    EXPECT_NEAR(set[0]["value"].get<double>(), 180.0 / 1575, 1e-12);

    EXPECT_EQ(result("menu", {{"app", "Notes"}, {"path", {"FILE", "New Folder…"}}}),
              JSON::parse(R"({"ok": true, "via": "pick"})"));
    EXPECT_EQ(result("menu", {{"app", "Browser"}, {"path", {"view", "reload"}}}),
              JSON::parse(R"({"ok": true, "via": "shortcut"})"));
    const auto posted = newCalls("post");
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0]["target"], 503);
    EXPECT_EQ(posted[0]["keyCode"], 15);
    EXPECT_EQ(error("menu", {{"app", "Notes"}, {"path", {"Edit", "Redo"}}}),
              JSON::parse(R"({"code": "not-found",
                "error": "No menu item \"Redo\" there. The items are: Undo, Copy, Paste."})"));
    EXPECT_EQ(send("pressKey", {{"app", "Notes"}, {"key", "cmd+hyper"}})["code"], "bad-input");
}

}  // namespace
}  // namespace pelko::computer::testing
