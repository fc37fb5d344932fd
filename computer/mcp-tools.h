// The MCP face's tools: one per method an agent needs, each with the JSON Schema of its
// arguments and annotations that say whether it only reads. A tool's arguments are its
// method's parameters under the same names, handed to the method unchanged, so both faces
// share one validation and one set of messages. Descriptions are short on purpose: a client
// puts every word of `tools/list` in front of the model.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "json-line.h"

namespace pelko::computer::mcp {

struct Tool {
    std::string name;
    /// The method of the request loop's table that the tool runs.
    std::string method;
    /// The tool only reads: it never changes anything on the desktop.
    bool readOnly = false;
    /// The tool's entry in `tools/list`: name, description, inputSchema, annotations.
    JSON definition;
};

/// Every tool, in the order `tools/list` gives them. Built once.
const std::vector<Tool>& tools();

/// The tool named `name` exactly; null when there is none.
const Tool* findTool(std::string_view name);

/// The `tools/call` result of a method's `result`. The outline of `get_app_state` comes as text
/// of its own after the other keys (a JSON string would escape every quote and line break);
/// `screenshot` gives the JPEG as image content and its size, scale and window frame as text;
/// every other result is its JSON text.
JSON toolResult(const Tool& tool, const JSON& result);

/// The `tools/call` result of a failure: its sentence as text, with `isError`.
JSON toolError(const std::string& message);

}  // namespace pelko::computer::mcp
