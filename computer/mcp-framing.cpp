#include "mcp-framing.h"

namespace pelko::computer::mcp {
namespace {

Refusal invalidRequest(const JSON& id, const std::string& message) {
    return {errorReply(isRequestId(id) ? id : JSON(nullptr), ErrorCode::invalidRequest, message)};
}

// The member `key` of `object`, or null when it has none.
JSON member(const JSON& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() ? JSON(nullptr) : *found;
}

}  // namespace

bool isRequestId(const JSON& value) {
    return value.is_string() || value.is_number();
}

Message readMessage(const std::string& line) {
    const auto value = parseJSON(line);
    if (!value) return Refusal{errorReply(nullptr, ErrorCode::parseError, "Parse error.")};
    if (value->is_array())
        return invalidRequest(nullptr, "Batches are not taken: send one message per line.");
    if (!value->is_object()) return invalidRequest(nullptr, "A message is a JSON object.");
    const JSON& message = *value;
    const JSON id = member(message, "id");
    const auto method = message.find("method");
    const auto params = message.find("params");
    const bool paramsUsable = params == message.end() || params->is_object();
    const bool hasId = message.contains("id");

    if (method != message.end() && method->is_string() && !hasId) {
        if (member(message, "jsonrpc") != "2.0" || !paramsUsable) return Ignored{};
        return Notification{method->get<std::string>(),
                            params == message.end() ? JSON::object() : *params};
    }
    if (method == message.end() && hasId &&
        (message.contains("result") || message.contains("error")))
        return Ignored{};
    if (member(message, "jsonrpc") != "2.0")
        return invalidRequest(id, "A message carries \"jsonrpc\": \"2.0\".");
    if (method == message.end() || !method->is_string())
        return invalidRequest(id, "A request names its method as a string.");
    if (!isRequestId(id)) return invalidRequest(id, "A request's id is a string or a number.");
    if (!paramsUsable) return invalidRequest(id, "A request's params are an object.");
    return Request{id, method->get<std::string>(),
                   params == message.end() ? JSON::object() : *params};
}

JSON resultReply(const JSON& id, JSON result) {
    return {{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}};
}

JSON errorReply(const JSON& id, ErrorCode code, const std::string& message) {
    return {{"jsonrpc", "2.0"},
            {"id", id},
            {"error", {{"code", static_cast<int>(code)}, {"message", message}}}};
}

JSON notificationMessage(const std::string& method, JSON params) {
    return {{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
}

}  // namespace pelko::computer::mcp
