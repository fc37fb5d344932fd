// The MCP face's session inside the process, on the sample desktop in virtual time: the
// lifecycle and its refusals, the tool calls' results, queued calls stopped by the client and
// by the user's Escape, the banner's run and the log messages. Running calls stopped both ways
// are the client's tests (mcp/sim.test.mjs).
#include "mcp-server.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <future>
#include <memory>

#include "child-process.h"
#include "sim/sim-desktop.h"

#ifndef PELKO_EXAMPLES_DIR
#error "the tests need the examples folder"
#endif

namespace pelko::computer::mcp {
namespace {

using namespace std::chrono_literals;

JSON sampleScene() {
    return JSON::parse(pelko::testing::readFile(PELKO_EXAMPLES_DIR "/scenes/desktop.json"));
}

std::string line(const JSON& message) {
    return message.dump();
}

JSON request(const JSON& id, const std::string& method, const JSON& params = JSON::object()) {
    return {{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}};
}

JSON toolCall(const JSON& id, const std::string& tool, const JSON& arguments) {
    return request(id, "tools/call", {{"name", tool}, {"arguments", arguments}});
}

JSON cancelled(const JSON& id) {
    return {{"jsonrpc", "2.0"}, {"method", "notifications/cancelled"},
            {"params", {{"requestId", id}, {"reason", "the user changed the subject"}}}};
}

class MCPSession : public ::testing::Test {
  protected:
    void SetUp() override {
        desktop = std::make_unique<sim::SimDesktop>(clock, sampleScene(),
                                                    (dir / "calls.log").string());
        platform = std::make_unique<Platform>(Platform{cancellable, mainLoop, *desktop, *desktop,
                                                       *desktop, *desktop, *desktop, *desktop});
        computer = std::make_unique<Computer>(*platform, output.get());
        server = std::make_unique<MCPServer>(*computer);
    }
    void TearDown() override {
        computer->work.sync([] {});
        server.reset();
    }

    /// A new process on the same desktop: a new computer and a new session.
    void restart() {
        computer->work.sync([] {});
        server.reset();
        computer = std::make_unique<Computer>(*platform, output.get());
        server = std::make_unique<MCPServer>(*computer);
    }

    /// Serves `lines` in order, waits for the calls they queued, and returns what was written
    /// meanwhile.
    std::vector<JSON> exchange(const std::vector<JSON>& messages) {
        for (const auto& message : messages) server->serve(line(message));
        computer->work.sync([] {});
        return written();
    }
    std::vector<JSON> exchange(const JSON& message) { return exchange(std::vector{message}); }

    /// The lines written since the last look.
    std::vector<JSON> written() {
        std::vector<JSON> lines;
        std::fflush(output.get());
        std::fseek(output.get(), readUpTo, SEEK_SET);
        char buffer[1 << 16];
        while (std::fgets(buffer, sizeof buffer, output.get())) lines.push_back(JSON::parse(buffer));
        readUpTo = std::ftell(output.get());
        return lines;
    }

    void initialize() {
        ASSERT_EQ(exchange(request(0, "initialize", {{"protocolVersion", "2025-11-25"}})).size(),
                  1u);
    }

    /// The desktop's call log entries named `call`.
    std::vector<JSON> calls(const std::string& call) const {
        std::vector<JSON> entries;
        const std::string text = pelko::testing::readFile(dir / "calls.log");
        for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1) {
            JSON entry = JSON::parse(text.substr(start, end - start));
            if (entry["call"] == call) entries.push_back(entry);
        }
        return entries;
    }
    /// Holds the work queue until the returned promise is kept, as a long call would.
    std::shared_ptr<std::promise<void>> holdWork() {
        auto release = std::make_shared<std::promise<void>>();
        computer->work.async([held = release->get_future().share()] { held.wait(); });
        return release;
    }

    /// Runs the main loop's tasks that are due.
    void drainMainLoop() {
        mainLoop.post([this] { mainLoop.quit(); });
        mainLoop.run();
    }

    pelko::testing::ScopedTempDir dir;
    VirtualClock clock;
    CancellableClock cancellable{clock};
    MainLoop mainLoop{clock};
    std::unique_ptr<sim::SimDesktop> desktop;
    std::unique_ptr<Platform> platform;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> output{std::tmpfile(), &std::fclose};
    long readUpTo = 0;
    std::unique_ptr<Computer> computer;
    std::unique_ptr<MCPServer> server;
};

JSON errorOf(int code, const std::string& message, const JSON& id) {
    return errorReply(id, static_cast<ErrorCode>(code), message);
}

TEST_F(MCPSession, AnswersTheLifecycleAndRefusesWhatComesOutOfOrder) {
    struct Step {
        JSON message;
        std::vector<JSON> replies;
    };
    const Step before[] = {
        {request(1, "ping"), {resultReply(1, JSON::object())}},
        {request(2, "tools/list"), {errorOf(-32600, "Send initialize first.", 2)}},
        {request(3, "initialize"),
         {errorOf(-32602, "initialize needs the client's protocolVersion.", 3)}},
    };
    for (const auto& step : before) EXPECT_EQ(exchange(step.message), step.replies) << step.message;

    const auto initialized = exchange(request("a", "initialize", {{"protocolVersion", "2025-06-18"}}));
    ASSERT_EQ(initialized.size(), 1u);
    JSON result = initialized[0]["result"];
    EXPECT_NE(result["instructions"].get<std::string>().find("get_app_state"), std::string::npos);
    result.erase("instructions");
    EXPECT_EQ(result, JSON::parse(R"({"protocolVersion": "2025-06-18",
        "capabilities": {"tools": {"listChanged": false}, "logging": {}},
        "serverInfo": {"name": "pelko-computer", "title": "Pelko computer", "version": "1.0.0"}})"));

    const Step after[] = {
        {request(4, "initialize", {{"protocolVersion", "2025-06-18"}}),
         {errorOf(-32600, "The session is initialized already.", 4)}},
        // Notifications, known or not, and cancellations of nothing, are never answered.
        {{{"jsonrpc", "2.0"}, {"method", "notifications/initialized"}}, {}},
        {{{"jsonrpc", "2.0"}, {"method", "notifications/roots/list_changed"}}, {}},
        {cancelled(99), {}},
        {request(5, "resources/list"), {errorOf(-32601, "Unknown method resources/list.", 5)}},
        {request(6, "logging/setLevel", {{"level", "loud"}}),
         {errorOf(-32602,
                  "The level is one of debug, info, notice, warning, error, critical, alert, "
                  "emergency.",
                  6)}},
        {request(7, "logging/setLevel", {{"level", "debug"}}), {resultReply(7, JSON::object())}},
        {request(8, "tools/call", {{"arguments", JSON::object()}}),
         {errorOf(-32602, "tools/call names its tool under \"name\".", 8)}},
        {toolCall(9, "teleport", JSON::object()), {errorOf(-32602, "Unknown tool teleport.", 9)}},
        {toolCall(10, "list_apps", JSON::array()),
         {errorOf(-32602, "A tool's arguments are an object.", 10)}},
        {toolCall(-2.5, "find_app", {{"app", 7}}),
         {resultReply(-2.5, toolError("Give the app's name."))}},
    };
    for (const auto& step : after) EXPECT_EQ(exchange(step.message), step.replies) << step.message;
}

TEST_F(MCPSession, NegotiatesOneOfItsRevisionsAndOffersTheNewestOtherwise) {
    const std::pair<const char*, const char*> asked[] = {{"2025-11-25", "2025-11-25"},
                                                          {"2025-06-18", "2025-06-18"},
                                                          {"2025-03-26", "2025-11-25"},
                                                          {"2024-11-05", "2025-11-25"},
                                                          {"next year", "2025-11-25"}};
    for (const auto& [version, answered] : asked) {
        restart();
        const auto replies = exchange(request(1, "initialize", {{"protocolVersion", version}}));
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0]["result"]["protocolVersion"], answered) << version;
    }
}

TEST(MCPTools, ShapeEachMethodsResultForTheModel) {
    const Tool& state = *findTool("get_app_state");
    EXPECT_EQ(toolResult(state, {{"app", {{"name", "Notes"}}}, {"count", 2},
                                 {"tree", "[1] window\n  [2] button \xC3"}, {"part", "[3] row"}}),
              JSON::parse(R"({"content": [
                  {"type": "text", "text": "{\"app\":{\"name\":\"Notes\"},\"count\":2}"},
                  {"type": "text", "text": "[1] window\n  [2] button \uFFFD"},
                  {"type": "text", "text": "The part read again:\n[3] row"}]})"))
        << "the outlines as text of their own, repaired where they are not UTF-8";
    EXPECT_EQ(toolResult(state, {{"tree", ""}, {"count", 0}}),
              JSON::parse(R"({"content": [{"type": "text", "text": "{\"count\":0}"}]})"))
        << "no window, no outline";
    EXPECT_EQ(toolResult(*findTool("screenshot"),
                         {{"data", "/9j/"}, {"mimeType", "image/jpeg"}, {"width", 2},
                          {"height", 1}, {"scale", 0.5}, {"window", {{"x", 1}}}}),
              JSON::parse(R"({"content": [
                  {"type": "image", "data": "/9j/", "mimeType": "image/jpeg"},
                  {"type": "text", "text": "{\"height\":1,\"scale\":0.5,\"width\":2,\"window\":{\"x\":1}}"}]})"));
    EXPECT_EQ(toolResult(*findTool("click"), {{"via", "press"}}),
              JSON::parse(R"({"content": [{"type": "text", "text": "{\"via\":\"press\"}"}]})"));
    EXPECT_EQ(toolError("Give the app's name."),
              JSON::parse(R"({"content": [{"type": "text", "text": "Give the app's name."}],
                              "isError": true})"));
}

// The replies among `lines` (the log messages left out).
std::vector<JSON> repliesAmong(const std::vector<JSON>& lines) {
    std::vector<JSON> replies;
    for (const auto& line : lines) {
        if (line.contains("id")) replies.push_back(line);
    }
    return replies;
}

TEST_F(MCPSession, EscapeStopsQueuedCallsBeforeTheyStartAndACancelledOneStaysUnanswered) {
    initialize();
    const auto release = holdWork();
    server->serve(line(toolCall(1, "click", {{"app", "Notes"}, {"index", 1}})));
    server->serve(line(toolCall(2, "list_apps", JSON::object())));
    server->serve(line(toolCall(2, "list_apps", JSON::object())));
    server->serve(line(cancelled(1)));
    computer->output.emit({{"event", "stop"}});
    release->set_value();
    const auto lines = exchange(std::vector<JSON>{});
    EXPECT_EQ(lines, (std::vector<JSON>{
                         errorOf(-32600, "A call with this id is still in flight.", 2),
                         notificationMessage("notifications/message",
                                             {{"level", "warning"},
                                              {"logger", "pelko-computer"},
                                              {"data", "The user pressed Escape."}}),
                         resultReply(2, toolError(stoppedByUser)),
                     }));
    EXPECT_TRUE(calls("performAction").empty()) << "the click never ran";
    EXPECT_TRUE(calls("setLabelText").empty()) << "no call acted, so no banner went up";
    // The id is free again once its call has ended.
    EXPECT_EQ(repliesAmong(exchange(toolCall(2, "list_apps", JSON::object()))).size(), 1u);
}

TEST_F(MCPSession, TheBannerStaysUpFromTheFirstActingCallUntilTenSecondsAfterTheLast) {
    initialize();
    const auto bannerCalls = [this](const std::string& call) {
        const auto labels = calls("setLabelText");
        size_t count = 0;
        for (const auto& entry : calls(call)) count += !labels.empty() && entry["panel"] == labels[0]["panel"];
        return count;
    };
    const JSON pressTab = {{"app", "Notes"}, {"key", "tab"}};
    exchange(toolCall(1, "screenshot", {{"app", "Notes"}, {"maxWidth", 10}}));
    EXPECT_TRUE(calls("setLabelText").empty()) << "a tool that only reads";
    exchange(toolCall(2, "press_key", pressTab));
    EXPECT_EQ(bannerCalls("orderFront"), 1u);

    clock.advance(9s);
    drainMainLoop();
    exchange(toolCall(3, "press_key", pressTab));
    clock.advance(9s);
    drainMainLoop();
    EXPECT_EQ(bannerCalls("orderOut"), 0u) << "up for the whole run of actions";
    EXPECT_EQ(bannerCalls("orderFront"), 1u) << "without a flicker";
    clock.advance(2s);
    drainMainLoop();
    EXPECT_EQ(bannerCalls("orderOut"), 1u) << "down ten seconds after the last";

    exchange(toolCall(4, "press_key", pressTab));
    EXPECT_EQ(bannerCalls("orderFront"), 2u) << "up again for the next";
}

TEST_F(MCPSession, SendsLogMessagesFromTheLevelTheClientSet) {
    initialize();
    exchange(request(1, "logging/setLevel", {{"level", "error"}}));
    computer->output.emit({{"event", "front"}, {"app", "Notes"}});
    computer->output.emit({{"event", "stop"}});
    EXPECT_TRUE(written().empty()) << "info and warning are below error";
    exchange(request(2, "logging/setLevel", {{"level", "info"}}));
    computer->output.emit({{"event", "front"}, {"app", ""}});
    EXPECT_EQ(written(), (std::vector<JSON>{notificationMessage(
                             "notifications/message", {{"level", "info"},
                                                       {"logger", "pelko-computer"},
                                                       {"data", "Bringing an app to the front."}})}));
}

}  // namespace
}  // namespace pelko::computer::mcp
