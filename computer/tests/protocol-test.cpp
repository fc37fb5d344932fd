// pelko-computer through its standard streams: the line protocol, the queues and the exit.
#include <gtest/gtest.h>

#include "computer-process.h"

namespace pelko::computer::testing {
namespace {

const JSON trustedScene = {{"trusted", true}, {"screenCapture", true}};

TEST(Protocol, AnnouncesItselfWithBothPermissions) {
    ComputerProcess computer({{"trusted", false}, {"screenCapture", true}});
    EXPECT_EQ(
        computer.nextLine(),
        JSON::parse(R"({"event": "ready", "accessibility": false, "screenRecording": true})"));
}

TEST(Protocol, EchoesEveryKindOfIdUnchanged) {
    ComputerProcess computer(trustedScene);
    computer.nextLine();
    EXPECT_EQ(computer.request({{"id", 7}, {"method", "ping"}}),
              JSON::parse(R"({"id": 7, "result": {"pong": true}})"));
    EXPECT_EQ(computer.request({{"method", "ping"}}),
              JSON::parse(R"({"id": null, "result": {"pong": true}})"));
    for (const JSON& id : {JSON("seven"), JSON(7.5), JSON(-3), JSON(true), JSON(nullptr),
                           JSON::parse(R"({"a": [1, {"b": null}]})"), JSON::array({1, "x"})}) {
        EXPECT_EQ(computer.request({{"id", id}, {"method", "ping"}}),
                  JSON({{"id", id}, {"result", {{"pong", true}}}}));
    }
}

TEST(Protocol, RefusesUnknownAndMissingMethodsAndGoesOn) {
    ComputerProcess computer(trustedScene);
    computer.nextLine();
    EXPECT_EQ(computer.request({{"id", 1}, {"method", "dance"}}),
              JSON::parse(R"({"id": 1, "error": "Unknown method dance.", "code": "bad-input"})"));
    EXPECT_EQ(computer.request({{"id", 2}}),
              JSON::parse(R"({"id": 2, "error": "Unknown method .", "code": "bad-input"})"));
    EXPECT_EQ(computer.request({{"id", 3}, {"method", 12}}),
              JSON::parse(R"({"id": 3, "error": "Unknown method .", "code": "bad-input"})"));
    EXPECT_EQ(computer.request({{"id", 4}, {"method", "ping"}})["result"]["pong"], true);
}

TEST(Protocol, DropsLinesThatAreNotObjectsWithoutAnyOutput) {
    ComputerProcess computer(trustedScene);
    computer.nextLine();
    for (const char* line : {"[1, 2]", "42", "hello there", "", "{\"id\": 1", "\"ping\""})
        computer.child().writeLine(line);
    // The first line after them is the ping's reply: nothing was written for the others.
    EXPECT_EQ(computer.request({{"id", "after"}, {"method", "ping"}}),
              JSON::parse(R"({"id": "after", "result": {"pong": true}})"));
    EXPECT_TRUE(computer.child().silentFor(std::chrono::milliseconds(200)));
}

TEST(Protocol, DropsLinesNestedTooDeeplyAndKeepsServing) {
    ComputerProcess computer(trustedScene);
    computer.nextLine();
    const int levels = 100000;
    computer.child().writeLine(R"({"method": "ping", "id": )" + std::string(levels, '[') +
                               std::string(levels, ']') + "}");
    EXPECT_EQ(computer.request({{"id", "after"}, {"method", "ping"}}),
              JSON::parse(R"({"id": "after", "result": {"pong": true}})"));
    // Nesting that a host could really send is still read.
    const int fine = 500;
    const JSON reply = computer.request(JSON::parse(
        R"({"method": "ping", "id": )" + std::string(fine, '[') + std::string(fine, ']') + "}"));
    EXPECT_EQ(reply["result"]["pong"], true);
}

TEST(Protocol, RepairsInvalidUTF8AndKeepsServing) {
    ComputerProcess computer(trustedScene);
    computer.nextLine();
    computer.child().writeLine(
        "{\"id\": \"a\xFF"
        "b\", \"method\": \"ping\"}");
    EXPECT_EQ(computer.nextLine(), JSON::parse(R"({"id": "a\ufffdb", "result": {"pong": true}})"));
    computer.child().writeLine("{\"id\": 2, \"method\": \"pi\xC3ng\"}");
    EXPECT_EQ(computer.nextLine()["error"], "Unknown method pi\xEF\xBF\xBDng.");
    EXPECT_EQ(computer.request({{"id", 3}, {"method", "ping"}})["id"], 3);
}

TEST(Protocol, TreatsParamsThatAreNotAnObjectAsEmpty) {
    ComputerProcess computer({{"trusted", true}, {"screenCapture", false}});
    computer.nextLine();
    // Without an object, "kind" takes its default: the accessibility pane.
    EXPECT_EQ(
        computer.request({{"id", 1}, {"method", "requestAccess"}, {"params", "screen"}}),
        JSON::parse(R"({"id": 1, "result": {"accessibility": true, "screenRecording": false}})"));
    EXPECT_EQ(computer.calls().back(), JSON::parse(R"({"call": "openURL", "url":
                "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"})"));
}

TEST(Protocol, EndsWithStatusZeroAtEndOfInputEvenWhileARequestRuns) {
    // Opening a location takes 30 seconds on this desktop.
    ComputerProcess computer({{"trusted", true}, {"openURLSeconds", 30}});
    computer.nextLine();
    computer.child().writeLine(R"({"id": 1, "method": "requestAccess"})");
    computer.child().writeLine(R"({"id": 2, "method": "ping"})");
    computer.child().closeStdin();
    const auto status = computer.child().waitExit(std::chrono::seconds(10));
    ASSERT_TRUE(status.has_value()) << "still running after its input ended";
    EXPECT_EQ(*status, (pelko::testing::ExitStatus{true, 0, 0}));
    EXPECT_EQ(computer.child().readToEnd(), "") << "abandoned requests get no reply";
}

TEST(Protocol, TheConversationPlayerWaitsForEachReplyBeforeItEndsTheInput) {
    // Where piping the same lines in loses the slow reply, the player gets every one.
    pelko::testing::ScopedTempDir dir;
    pelko::testing::writeFile(dir / "scene.json",
                              JSON{{"trusted", true}, {"openURLSeconds", 2}}.dump());
    pelko::testing::writeFile(dir / "talk.jsonl",
                              "# narration\n"
                              R"({"id": 1, "method": "requestAccess"})"
                              "\n"
                              R"({"id": 2, "method": "ping"})"
                              "\n");
    pelko::testing::ChildOptions options;
    options.environment = {{"PELKO_SCENE", (dir / "scene.json").string()}};
    pelko::testing::ChildProcess player(
        {PELKO_CONVERSE, PELKO_COMPUTER, (dir / "talk.jsonl").string()}, options);
    const std::string shown = player.readToEnd(pelko::testing::Timeout(30000));
    EXPECT_EQ(player.waitExit(), (pelko::testing::ExitStatus{true, 0, 0}));
    EXPECT_NE(shown.find("# narration"), std::string::npos) << shown;
    EXPECT_NE(shown.find(R"("id":1,"result")"), std::string::npos) << shown;
    EXPECT_NE(shown.find(R"({"id":2,"result":{"pong":true}})"), std::string::npos) << shown;
    EXPECT_LT(shown.find(R"("id":1,"result")"), shown.find(R"("method":"ping")"))
        << "the next request waits for the reply";
    EXPECT_NE(shown.find("end of input: the program ended"), std::string::npos) << shown;
}

TEST(Protocol, EndOfInputNeverCutsAReplyInHalf) {
    // Replies longer than the pipe holds are still being written when input ends; whether the
    // end comes between two writes of one line is up to the scheduler, so try a few times.
    const std::string longId(200000, 'x');
    for (int round = 0; round < 3; ++round) {
        ComputerProcess computer(JSON::object());
        computer.nextLine();
        for (int i = 0; i < 20; ++i)
            computer.child().writeLine(JSON{{"id", longId}, {"method", "ping"}}.dump());
        computer.child().closeStdin();
        const std::string rest = computer.child().readToEnd();
        ASSERT_TRUE(rest.empty() || rest.back() == '\n') << "the last line was cut off";
        for (size_t start = 0, end; (end = rest.find('\n', start)) != std::string::npos;
             start = end + 1)
            EXPECT_TRUE(parseJSON(rest.substr(start, end - start)).has_value());
    }
}

TEST(Protocol, AnswersBannerBeforeASlowRequestAheadOfIt) {
    ComputerProcess computer({{"trusted", true}, {"openURLSeconds", 2}});
    computer.nextLine();
    computer.child().writeLine(R"({"id": "slow", "method": "requestAccess"})");
    computer.child().writeLine(R"({"id": "ping", "method": "ping"})");
    computer.child().writeLine(R"({"id": "banner", "method": "banner", "params": {"show": true}})");
    EXPECT_EQ(computer.nextLine(), JSON::parse(R"({"id": "banner", "result": {"ok": true}})"));
    EXPECT_EQ(computer.nextLine()["id"], "slow");
    EXPECT_EQ(computer.nextLine()["id"], "ping") << "work replies keep request order";
}

TEST(Protocol, RequestAccessOpensTheExactSettingsLocations) {
    ComputerProcess computer({{"trusted", false},
                              {"screenCapture", false},
                              {"trustPromptGrants", true},
                              {"screenCapturePromptGrants", false}});
    computer.nextLine();
    EXPECT_EQ(
        computer.request(
            {{"id", 1}, {"method", "requestAccess"}, {"params", {{"kind", "screen"}}}}),
        JSON::parse(R"({"id": 1, "result": {"accessibility": false, "screenRecording": false}})"));
    EXPECT_EQ(
        computer.request(
            {{"id", 2}, {"method", "requestAccess"}, {"params", {{"kind", "camera"}}}}),
        JSON::parse(R"({"id": 2, "result": {"accessibility": true, "screenRecording": false}})"))
        << "this desktop grants trust at the prompt";
    EXPECT_EQ(computer.request({{"id", 3}, {"method", "status"}})["result"]["accessibility"], true);
    const std::string pane = "x-apple.systempreferences:com.apple.preference.security";
    EXPECT_EQ(computer.calls(), (std::vector<JSON>{
                                    {{"call", "becomeAccessory"}},
                                    {{"call", "screenCapturePrompt"}, {"granted", false}},
                                    {{"call", "openURL"}, {"url", pane + "?Privacy_ScreenCapture"}},
                                    {{"call", "trustPrompt"}, {"granted", true}},
                                    {{"call", "openURL"}, {"url", pane + "?Privacy_Accessibility"}},
                                }));
}

TEST(Protocol, ScreenKindDoesNotPromptWhenCaptureIsAllowed) {
    ComputerProcess computer({{"trusted", true}, {"screenCapture", true}});
    computer.nextLine();
    computer.request({{"id", 1}, {"method", "requestAccess"}, {"params", {{"kind", "screen"}}}});
    EXPECT_EQ(computer.calls().back()["url"],
              "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture");
    for (const auto& call : computer.calls()) EXPECT_NE(call["call"], "screenCapturePrompt");
}

}  // namespace
}  // namespace pelko::computer::testing
