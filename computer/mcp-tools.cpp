#include "mcp-tools.h"

#include <utility>

#include "utf8.h"

namespace pelko::computer::mcp {
namespace {

// The arguments several tools share.
const JSON app = {{"type", "string"}, {"description", "App name, bundle id or path."}};
const JSON index = {{"type", "integer"}, {"description", "Element index from get_app_state."}};
const JSON x = {{"type", "number"},
                {"description", "Points from the window's left edge, with y, instead of index."}};
const JSON y = {{"type", "number"}, {"description", "Points from the window's top edge."}};
const JSON front = {{"type", "boolean"},
                    {"default", false},
                    {"description", "Bring the app forward and use real input."}};
const JSON text = {{"type", "string"}};

JSON integer(int64_t fallback, const char* description) {
    return {{"type", "integer"}, {"default", fallback}, {"description", description}};
}

// A word out of `words`; the first is the default.
JSON choice(std::initializer_list<const char*> words) {
    JSON listed = JSON::array();
    for (const char* word : words) listed.push_back(word);
    return {{"type", "string"}, {"enum", listed}, {"default", *words.begin()}};
}

// What a tool may do, as MCP's hints say it. Acting tools may destroy what they act on (a
// click on "Delete"), unless they only look or move the view.
enum class Effect { reads, looks, moves, acts };

JSON annotationsFor(Effect effect) {
    switch (effect) {
        case Effect::reads:
            return {{"readOnlyHint", true}};
        case Effect::looks:  // opens an app to read it, asks for a permission: nothing is lost
            return {{"readOnlyHint", false}, {"destructiveHint", false}, {"idempotentHint", true}};
        case Effect::moves:
            return {{"readOnlyHint", false}, {"destructiveHint", false}};
        case Effect::acts:
            return {{"readOnlyHint", false}};
    }
    return JSON::object();
}

Tool makeTool(const char* name, const char* method, Effect effect, const char* description,
              JSON properties, std::vector<std::string> required = {"app"}) {
    JSON schema = {{"type", "object"}, {"properties", std::move(properties)}};
    if (!required.empty()) schema["required"] = required;
    return {name,
            method,
            effect == Effect::reads,
            {{"name", name},
             {"description", description},
             {"inputSchema", std::move(schema)},
             {"annotations", annotationsFor(effect)}}};
}

std::vector<Tool> makeTools() {
    return {
        makeTool("list_apps", "listApps", Effect::reads, "List the open apps and their windows.",
                 JSON::object(), {}),
        makeTool("find_app", "find", Effect::reads,
                 "Find an app by name, bundle id or path: open, or installed (not opened).",
                 {{"app", app}}),
        makeTool("get_app_state", "state", Effect::looks,
                 "Read an app's window as an outline, one element a line, with the [index] "
                 "numbers the other tools take. Opens the app in the background if needed.",
                 {{"app", app},
                  {"window",
                   {{"type", "string"},
                    {"description", "Part of the window's title (default: the focused one)."}}},
                  {"maxChars", integer(12000, "Character budget.")},
                  {"launch",
                   {{"type", "boolean"},
                    {"default", true},
                    {"description", "Open the app when it is not running."}}},
                  {"region",
                   {{"type", "integer"},
                    {"description", "Index of a folded part (\"more inside\") to read in full."}}},
                  {"again",
                   {{"type", "boolean"},
                    {"default", false},
                    {"description", "Also read again the part last read by region."}}}}),
        makeTool("click", "click", Effect::acts,
                 "Click an element by index, or a point of the window by x and y. Presses "
                 "through accessibility when it can, leaving the user's pointer alone.",
                 {{"app", app},
                  {"index", index},
                  {"x", x},
                  {"y", y},
                  {"button", choice({"left", "right", "middle"})},
                  {"count", integer(1, "2 for a double click.")},
                  {"front", front}}),
        makeTool("set_value", "setValue", Effect::acts,
                 "Set an element's value (a field's text, a slider's number) directly.",
                 {{"app", app}, {"index", index}, {"value", text}}, {"app", "index", "value"}),
        makeTool("perform_action", "action", Effect::acts,
                 "Perform an element's accessibility action by name (press, show menu, "
                 "increment…); a wrong name lists its actions.",
                 {{"app", app}, {"index", index}, {"action", text}}, {"app", "index", "action"}),
        makeTool("type_text", "typeText", Effect::acts,
                 "Type text into the element with index, else into the app's focused element. "
                 "Line breaks press Return.",
                 {{"app", app}, {"text", text}, {"index", index}, {"front", front}},
                 {"app", "text"}),
        makeTool("press_key", "pressKey", Effect::acts,
                 "Press a key or combination in an app: Return, Escape, Tab, Up, cmd+s, "
                 "shift+cmd+t.",
                 {{"app", app}, {"key", text}, {"front", front}}, {"app", "key"}),
        makeTool("scroll", "scroll", Effect::moves,
                 "Scroll an app's content at an element, a point, or the middle of its window.",
                 {{"app", app},
                  {"direction", choice({"down", "up", "left", "right"})},
                  {"amount", integer(5, "Lines.")},
                  {"index", index},
                  {"x", x},
                  {"y", y},
                  {"front", front}}),
        makeTool("choose_menu", "menu", Effect::acts,
                 "Choose a menu-bar item by its path of titles, such as [\"File\", \"Export…\"].",
                 {{"app", app},
                  {"path", {{"type", "array"}, {"items", text}, {"minItems", 1}}}},
                 {"app", "path"}),
        makeTool("screenshot", "screenshot", Effect::reads,
                 "A JPEG picture of an app's window (the one get_app_state read last), with its "
                 "scale and frame: window point (x, y) is pixel (x × scale, y × scale).",
                 {{"app", app}, {"maxWidth", integer(1440, "Widest picture, in pixels.")}}),
        makeTool("request_access", "requestAccess", Effect::looks,
                 "Ask the user for the permission to control apps (accessibility) or to take "
                 "pictures of the screen.",
                 {{"kind", choice({"accessibility", "screen"})}}, {}),
    };
}

JSON textContent(std::string text) {
    return {{"type", "text"}, {"text", std::move(text)}};
}

// A result's JSON text; text that is not valid UTF-8 is repaired rather than lost.
std::string jsonText(const JSON& value) {
    return value.dump(-1, ' ', false, JSON::error_handler_t::replace);
}

}  // namespace

const std::vector<Tool>& tools() {
    static const std::vector<Tool> all = makeTools();
    return all;
}

const Tool* findTool(std::string_view name) {
    for (const auto& tool : tools()) {
        if (tool.name == name) return &tool;
    }
    return nullptr;
}

JSON toolResult(const Tool& tool, const JSON& result) {
    JSON content = JSON::array();
    if (tool.method == "state" && result.is_object()) {
        JSON facts = result;
        // Apps name their elements as they like: text that is not UTF-8 is repaired, not lost.
        const std::string tree = repairUTF8(facts.value("tree", ""));
        const std::string part = repairUTF8(facts.value("part", ""));
        const bool hasPart = facts.contains("part");
        facts.erase("tree");
        facts.erase("part");
        content.push_back(textContent(jsonText(facts)));
        if (!tree.empty()) content.push_back(textContent(tree));
        if (hasPart) content.push_back(textContent("The part read again:\n" + part));
    } else if (tool.method == "screenshot" && result.is_object()) {
        JSON facts = result;
        content.push_back({{"type", "image"},
                           {"data", facts.value("data", "")},
                           {"mimeType", facts.value("mimeType", "image/jpeg")}});
        facts.erase("data");
        facts.erase("mimeType");
        content.push_back(textContent(jsonText(facts)));
    } else {
        content.push_back(textContent(jsonText(result)));
    }
    return {{"content", std::move(content)}};
}

JSON toolError(const std::string& message) {
    return {{"content", JSON::array({textContent(message)})}, {"isError", true}};
}

}  // namespace pelko::computer::mcp
