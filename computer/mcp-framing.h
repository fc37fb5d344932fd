// The JSON-RPC 2.0 framing of the MCP face: one message per line on standard input and
// standard output, as the MCP revisions 2025-11-25 and 2025-06-18 have it over stdio. Neither
// revision has batches, so an array is refused as a whole. Messages are read here and replies
// built here; what a message asks for is the server's business (mcp-server.h).
#pragma once

#include <string>
#include <variant>

#include "json-line.h"

namespace pelko::computer::mcp {

/// The JSON-RPC error codes the face answers with.
enum class ErrorCode : int {
    parseError = -32700,
    invalidRequest = -32600,
    methodNotFound = -32601,
    invalidParams = -32602,
    internalError = -32603,
};

/// A request: it has an id and gets exactly one reply, unless it is cancelled.
struct Request {
    JSON id;
    std::string method;
    /// Always an object ({} when the request has no params).
    JSON params;
};

/// A notification: it has no id and is never answered.
struct Notification {
    std::string method;
    JSON params;
};

/// A line that is no message the face can take, with the error reply it gets.
struct Refusal {
    JSON reply;
};

/// A line answered with nothing: a response of the client, or a notification whose members
/// are unusable (notifications are never answered).
struct Ignored {};

using Message = std::variant<Request, Notification, Refusal, Ignored>;

/// Whether `value` can be a request's id: a string or a number (JSON-RPC discourages null and
/// fractions; MCP forbids null). Ids are echoed exactly as they came.
bool isRequestId(const JSON& value);

/// Reads one input line: a request, a notification, a refusal with its reply (text that is
/// not JSON: a parse error; a batch, any value but an object, an object that is no request:
/// an invalid request, with the request's id when it has a usable one, else null), or nothing
/// to answer.
Message readMessage(const std::string& line);

/// {"jsonrpc": "2.0", "id": id, "result": result}
JSON resultReply(const JSON& id, JSON result);
/// {"jsonrpc": "2.0", "id": id, "error": {"code": code, "message": message}}
JSON errorReply(const JSON& id, ErrorCode code, const std::string& message);
/// {"jsonrpc": "2.0", "method": method, "params": params}
JSON notificationMessage(const std::string& method, JSON params);

}  // namespace pelko::computer::mcp
