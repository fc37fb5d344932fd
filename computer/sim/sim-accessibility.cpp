// The simulated desktop's accessibility seam: elements as nodes of the scene's trees, attribute
// values converted between scene JSON and the seam's values, settable attributes, actions that
// run their scripted effects, and the traffic counted for the benchmarks.
#include "sim-desktop.h"

namespace pelko::computer::sim {

// ---- values (mutex held) ----

Value SimDesktop::toValue(const JSON& json) const {
    switch (json.type()) {
        case JSON::value_t::string:
            return json.get<std::string>();
        case JSON::value_t::boolean:
            return json.get<bool>();
        case JSON::value_t::number_integer:
        case JSON::value_t::number_unsigned:
            return json.get<int64_t>();
        case JSON::value_t::number_float:
            return json.get<double>();
        case JSON::value_t::array: {
            Value::List list;
            for (const auto& item : json) list.push_back(toValue(item));
            return list;
        }
        case JSON::value_t::object: {
            if (json.contains("ref") || json.contains("id")) {
                const Id id = resolveName(json);
                return id ? Value(handle(id)) : Value();
            }
            if (json.contains("point")) return Point{json["point"][0], json["point"][1]};
            if (json.contains("size")) return Size{json["size"][0], json["size"][1]};
            if (json.contains("rect")) {
                const auto& r = json["rect"];
                return Rect{{r[0], r[1]}, {r[2], r[3]}};
            }
            return Value();
        }
        default:
            return Value();
    }
}

JSON SimDesktop::toJSON(const Value& value) const {
    if (const auto* text = value.as<std::string>()) return *text;
    if (const auto* flag = value.as<bool>()) return *flag;
    if (const auto* number = value.as<int64_t>()) return *number;
    if (const auto* number = value.as<double>()) return *number;
    if (const auto* point = value.as<Point>()) return {{"point", {point->x, point->y}}};
    if (const auto* size = value.as<Size>()) return {{"size", {size->width, size->height}}};
    if (const auto* rect = value.as<Rect>())
        return {{"rect", {rect->origin.x, rect->origin.y, rect->size.width, rect->size.height}}};
    if (const auto* element = value.as<Element>()) return {{"id", idOf(*element)}};
    if (const auto* list = value.as<Value::List>()) {
        JSON items = JSON::array();
        for (const auto& item : *list) items.push_back(toJSON(item));
        return items;
    }
    return nullptr;
}

AttributeRead SimDesktop::read(const Node& node, const std::string& name) {
    if (const auto failing = node.failing.find(name); failing != node.failing.end())
        return {failing->second, {}};
    App* app = appOf(node.pid);
    const bool isApp = app && app->element == node.id;
    auto elements = [&](const std::vector<Id>& ids) {
        Value::List list;
        for (Id id : ids) {
            if (!nodes_[id].destroyed) list.push_back(handle(id));
        }
        return AttributeRead{axSuccess, list};
    };
    if (name == "AXChildren") {
        if (node.lazy && !(app && revealed(*app))) return {axSuccess, Value::List{}};
        return elements(node.children);
    }
    if (name == "AXParent") {
        if (!node.parent) return {axNoValue, {}};
        return {axSuccess, handle(node.parent)};
    }
    if (isApp && name == "AXWindows") {
        if (app->windowlessReads > 0) {
            --app->windowlessReads;
            return {axSuccess, Value::List{}};
        }
        return elements(app->windows);
    }
    if (isApp && name == "AXMenuBar") {
        if (!app->menuBar) return {axNoValue, {}};
        return {axSuccess, handle(app->menuBar)};
    }
    const auto found = node.attributes.find(name);
    if (found == node.attributes.end()) return {axAttributeUnsupported, {}};
    Value value = toValue(found->second);
    // A reference to an element that is gone, or that names none, and null read as no value.
    if (value.isNothing()) return {axNoValue, {}};
    if (const auto* element = value.as<Element>(); element && !live(*element))
        return {axNoValue, {}};
    return {axSuccess, std::move(value)};
}

// ---- Accessibility ----

bool SimDesktop::isTrusted() {
    std::lock_guard lock(mutex_);
    return trusted_;
}

bool SimDesktop::isTrustedWithPrompt() {
    std::lock_guard lock(mutex_);
    if (trusted_) return true;  // the system shows no prompt to a trusted process
    log_.record("trustPrompt", {{"granted", trustPromptGrants_}});
    trusted_ = trustPromptGrants_;
    return trusted_;
}

Element SimDesktop::applicationElement(pid_t pid) {
    std::lock_guard lock(mutex_);
    App* app = appOf(pid);
    // An element for a process that does not exist is still an element; it is just invalid.
    return handle(app ? app->element : 0);
}

Element SimDesktop::systemWideElement() {
    return handle(systemWide);
}

AttributeRead SimDesktop::copyAttribute(const Element& element, const std::string& name) {
    std::lock_guard lock(mutex_);
    ++traffic_.attributeReads;
    ++traffic_.roundTrips;
    if (idOf(element) == systemWide) {
        if (name == "AXRole") return {axSuccess, "AXSystemWide"};
        if (name != "AXFocusedApplication") return {axAttributeUnsupported, {}};
        for (pid_t pid : order_) {
            const App& app = apps_[pid];
            if (app.info.active && !app.info.terminated) return {axSuccess, handle(app.element)};
        }
        return {axNoValue, {}};
    }
    const Node* node = live(element);
    if (!node) return {axInvalidElement, {}};
    return read(*node, name);
}

std::vector<AttributeRead> SimDesktop::copyAttributes(const Element& element,
                                                      const std::vector<std::string>& names) {
    std::vector<AttributeRead> reads;
    for (const auto& name : names) reads.push_back(copyAttribute(element, name));
    std::lock_guard lock(mutex_);
    // One round trip for the whole batch.
    traffic_.roundTrips -= static_cast<long>(names.size()) - 1;
    return reads;
}

std::optional<bool> SimDesktop::isSettable(const Element& element, const std::string& name) {
    std::lock_guard lock(mutex_);
    ++traffic_.roundTrips;
    const Node* node = live(element);
    if (!node) return std::nullopt;
    return node->settable.count(name) > 0;
}

int SimDesktop::setAttribute(const Element& element, const std::string& name, const Value& value) {
    std::lock_guard lock(mutex_);
    ++traffic_.roundTrips;
    Node* node = live(element);
    const JSON written = toJSON(value);
    const std::string who = logName(node, element);
    int result = axSuccess;
    if (!node)
        result = axInvalidElement;
    else if (!node->settable.count(name))
        result = axAttributeUnsupported;
    log_.record("setAttribute",
                {{"element", who}, {"attribute", name}, {"value", written}, {"result", result}});
    if (result != axSuccess) return result;
    node->attributes[name] = written;
    if (App* app = appWithElement(node->id)) {
        if (name == app->revealedBy && written == true && !app->revealedAt)
            app->revealedAt = clock_.now();
    }
    return axSuccess;
}

std::optional<std::vector<std::string>> SimDesktop::actionNames(const Element& element) {
    std::lock_guard lock(mutex_);
    ++traffic_.roundTrips;
    const Node* node = live(element);
    if (!node) return std::nullopt;
    return node->actions;
}

int SimDesktop::performAction(const Element& element, const std::string& action) {
    std::vector<std::function<void()>> after;
    int result;
    {
        std::lock_guard lock(mutex_);
        ++traffic_.roundTrips;
        Node* node = live(element);
        const std::string who = logName(node, element);
        if (!node) {
            result = axInvalidElement;
        } else if (const auto error = node->actionErrors.find(action);
                   error != node->actionErrors.end()) {
            result = error->second;
        } else {
            bool offered = false;
            for (const auto& name : node->actions) offered = offered || name == action;
            result = offered ? axSuccess : axActionUnsupported;
        }
        log_.record("performAction", {{"element", who}, {"action", action}, {"result", result}});
        if (result == axSuccess) {
            const auto effects = node->effects.find(action);
            if (effects != node->effects.end()) {
                const JSON commands = effects->second;  // the effects may change the node
                for (const auto& command : commands) runCommand(command, after);
            }
        }
    }
    for (auto& task : after) task();
    return result;
}

bool SimDesktop::isEqual(const Element& a, const Element& b) {
    if (!a || !b) return false;
    return idOf(a) == idOf(b) && idOf(a) != 0;
}

std::optional<pid_t> SimDesktop::processId(const Element& element) {
    std::lock_guard lock(mutex_);
    ++traffic_.roundTrips;
    const Node* node = live(element);
    if (!node) return std::nullopt;
    return node->pid;
}

int SimDesktop::setMessagingTimeout(const Element& element, double seconds) {
    std::lock_guard lock(mutex_);
    const Node* node = live(element);
    const std::string who = logName(node, element);
    const int result = node ? axSuccess : axInvalidElement;
    log_.record("setMessagingTimeout",
                {{"element", who}, {"seconds", seconds}, {"result", result}});
    return result;
}

}  // namespace pelko::computer::sim
