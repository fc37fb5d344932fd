// The JSON-RPC framing of the MCP face: what each kind of line reads as, and the exact bytes of
// the messages it writes.
#include "mcp-framing.h"

#include <gtest/gtest.h>

namespace pelko::computer::mcp {
namespace {

// The reply a refused line gets; null when the line is no refusal.
JSON refusalOf(const std::string& line) {
    const Message message = readMessage(line);
    const auto* refusal = std::get_if<Refusal>(&message);
    return refusal ? refusal->reply : JSON();
}

TEST(MCPFraming, RefusesLinesThatAreNoRequestWithTheRightCodeAndId) {
    struct Case {
        std::string line;
        int code;
        JSON id;
    };
    const Case cases[] = {
        // Not JSON at all.
        {"hello", -32700, nullptr},
        {R"({"jsonrpc": "2.0", "id": 1, "method": "ping")", -32700, nullptr},
        {"{\"a\": " + std::string(600, '[') + std::string(600, ']') + "}", -32700, nullptr},
        // Batches: neither revision has them, so the whole array is refused once.
        {R"([{"jsonrpc": "2.0", "id": 1, "method": "ping"}])", -32600, nullptr},
        {"[]", -32600, nullptr},
        // JSON, but no object.
        {"42", -32600, nullptr},
        {R"("ping")", -32600, nullptr},
        {"null", -32600, nullptr},
        // Objects that are no request: the id comes back when it is usable.
        {R"({"id": 1, "method": "ping"})", -32600, 1},
        {R"({"jsonrpc": "1.0", "id": "a", "method": "ping"})", -32600, "a"},
        {R"({"jsonrpc": "2.0", "id": 2, "method": 7})", -32600, 2},
        {R"({"jsonrpc": "2.0", "method": 7})", -32600, nullptr},
        {R"({"jsonrpc": "2.0", "id": 3})", -32600, 3},
        {R"({"jsonrpc": "2.0", "id": 4, "method": "ping", "params": [1, 2]})", -32600, 4},
        {R"({"jsonrpc": "2.0", "id": 5, "method": "ping", "params": "x"})", -32600, 5},
        // Ids that are neither a string nor a number.
        {R"({"jsonrpc": "2.0", "id": null, "method": "ping"})", -32600, nullptr},
        {R"({"jsonrpc": "2.0", "id": true, "method": "ping"})", -32600, nullptr},
        {R"({"jsonrpc": "2.0", "id": {"n": 1}, "method": "ping"})", -32600, nullptr},
        {R"({"jsonrpc": "2.0", "id": [1], "method": "ping"})", -32600, nullptr},
    };
    for (const auto& c : cases) {
        const JSON reply = refusalOf(c.line);
        ASSERT_TRUE(reply.is_object()) << c.line;
        EXPECT_EQ(reply["jsonrpc"], "2.0") << c.line;
        EXPECT_EQ(reply["id"], c.id) << c.line;
        EXPECT_EQ(reply["error"]["code"], c.code) << c.line;
        EXPECT_FALSE(reply["error"]["message"].get<std::string>().empty()) << c.line;
    }
}

TEST(MCPFraming, EchoesIdsOfEveryUsableTypeExactly) {
    for (const char* id : {"7", "-3", "0", "2.5", "18446744073709551615", R"("seven")", R"("")",
                           R"("7")", R"("ünï 😀")"}) {
        const Message message =
            readMessage(std::string(R"({"jsonrpc": "2.0", "method": "ping", "id": )") + id + "}");
        const auto* request = std::get_if<Request>(&message);
        ASSERT_NE(request, nullptr) << id;
        EXPECT_EQ(request->id, JSON::parse(id)) << id;
        EXPECT_EQ(resultReply(request->id, JSON::object())["id"].dump(), JSON::parse(id).dump())
            << "a string id stays a string and a number a number: " << id;
    }
}

TEST(MCPFraming, ReadsRequestsWithTheirParamsOrAnEmptyObject) {
    const Message with = readMessage(
        R"({"jsonrpc": "2.0", "id": 1, "method": "tools/call", "params": {"name": "click"}})");
    ASSERT_TRUE(std::holds_alternative<Request>(with));
    EXPECT_EQ(std::get<Request>(with).method, "tools/call");
    EXPECT_EQ(std::get<Request>(with).params, JSON::parse(R"({"name": "click"})"));
    const Message without = readMessage(R"({"jsonrpc": "2.0", "id": 1, "method": "ping"})");
    ASSERT_TRUE(std::holds_alternative<Request>(without));
    EXPECT_EQ(std::get<Request>(without).params, JSON::object());
}

TEST(MCPFraming, NeverAnswersNotificationsNorTheClientsResponses) {
    const Message cancelled = readMessage(
        R"({"jsonrpc": "2.0", "method": "notifications/cancelled", "params": {"requestId": 3}})");
    ASSERT_TRUE(std::holds_alternative<Notification>(cancelled));
    EXPECT_EQ(std::get<Notification>(cancelled).method, "notifications/cancelled");
    EXPECT_EQ(std::get<Notification>(cancelled).params["requestId"], 3);
    const Message bare = readMessage(R"({"jsonrpc": "2.0", "method": "notifications/initialized"})");
    ASSERT_TRUE(std::holds_alternative<Notification>(bare));
    EXPECT_EQ(std::get<Notification>(bare).params, JSON::object());
    for (const char* line : {
             // Notifications with unusable members are dropped, not answered.
             R"({"method": "notifications/initialized"})",
             R"({"jsonrpc": "2.0", "method": "notifications/cancelled", "params": [3]})",
             // Responses to requests the server never sent.
             R"({"jsonrpc": "2.0", "id": 9, "result": {}})",
             R"({"jsonrpc": "2.0", "id": 9, "error": {"code": -1, "message": "no"}})",
         })
        EXPECT_TRUE(std::holds_alternative<Ignored>(readMessage(line))) << line;
}

TEST(MCPFraming, WritesCompactMessagesOfOneLine) {
    // Keys come in name order; the line has no white space and no line break inside.
    EXPECT_EQ(*compactJSON(resultReply("a", {{"text", "two\nlines"}})),
              R"({"id":"a","jsonrpc":"2.0","result":{"text":"two\nlines"}})");
    EXPECT_EQ(*compactJSON(errorReply(nullptr, ErrorCode::parseError, "Parse error.")),
              R"({"error":{"code":-32700,"message":"Parse error."},"id":null,"jsonrpc":"2.0"})");
    EXPECT_EQ(*compactJSON(notificationMessage("notifications/message", {{"level", "info"}})),
              R"({"jsonrpc":"2.0","method":"notifications/message","params":{"level":"info"}})");
}

}  // namespace
}  // namespace pelko::computer::mcp
