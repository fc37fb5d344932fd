#include "sim-desktop.h"

#include "scene-keys.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>

namespace pelko::computer::sim {
namespace {

std::optional<std::string> optionalText(const JSON& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

std::string parentFolder(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return path.substr(0, slash);
}

std::string lastComponent(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Numbers under `key`, each of `count` items: [x, y] or [x, y, width, height].
bool isNumbers(const JSON& value, size_t count) {
    if (!value.is_array() || value.size() != count) return false;
    return std::all_of(value.begin(), value.end(),
                       [](const JSON& item) { return item.is_number(); });
}

// Throws `SceneError` unless `value` is a value the scene can give an attribute: geometry
// objects need their numbers and references a name, also inside lists.
void checkAttributeValue(const JSON& value, const std::string& attribute) {
    auto wrong = [&](const char* what) {
        throw SceneError("the value of \"" + attribute + "\" " + what);
    };
    if (value.is_array()) {
        for (const auto& item : value) checkAttributeValue(item, attribute);
    } else if (value.is_object()) {
        if (value.contains("ref")) {
            if (!value["ref"].is_string()) wrong("refers to an element by a name that is no text");
        } else if (value.contains("id")) {
            if (!value["id"].is_number_integer()) wrong("refers to an element by a wrong id");
        } else if (value.contains("point")) {
            if (!isNumbers(value["point"], 2)) wrong("must be {\"point\": [x, y]}");
        } else if (value.contains("size")) {
            if (!isNumbers(value["size"], 2)) wrong("must be {\"size\": [width, height]}");
        } else if (value.contains("rect")) {
            if (!isNumbers(value["rect"], 4)) wrong("must be {\"rect\": [x, y, width, height]}");
        }
    }
}

// The texts of the array under `key` (none when it is missing); throws `SceneError` when it
// is not an array of texts.
std::vector<std::string> sceneTexts(const JSON& object, const char* key) {
    std::vector<std::string> texts;
    for (const auto& item : sceneKey(object, key, JSON::array())) {
        if (!item.is_string())
            throw SceneError(std::string("scene key \"") + key + "\" must hold only texts");
        texts.push_back(item.get<std::string>());
    }
    return texts;
}

// The error numbers of the object under `key`, by attribute or action name.
std::map<std::string, int> sceneErrorNumbers(const JSON& object, const char* key) {
    std::map<std::string, int> numbers;
    const JSON given = sceneKey(object, key, JSON::object());
    for (const auto& [name, error] : given.items()) {
        if (!error.is_number_integer())
            throw SceneError(std::string("scene key \"") + key + "\" must hold error numbers");
        numbers[name] = error.get<int>();
    }
    return numbers;
}

ActivationPolicy policyNamed(const std::string& name) {
    if (name == "regular") return ActivationPolicy::regular;
    if (name == "accessory") return ActivationPolicy::accessory;
    if (name == "prohibited") return ActivationPolicy::prohibited;
    throw SceneError("unknown activation policy \"" + name + "\"");
}

// Scene keys that stand for accessibility attributes of an element.
const std::pair<const char*, const char*> attributeKeys[] = {
    {"role", "AXRole"},           {"subrole", "AXSubrole"},
    {"title", "AXTitle"},         {"description", "AXDescription"},
    {"value", "AXValue"},         {"placeholder", "AXPlaceholderValue"},
    {"help", "AXHelp"},           {"enabled", "AXEnabled"},
    {"focused", "AXFocused"},     {"selected", "AXSelected"},
    {"expanded", "AXExpanded"},   {"hidden", "AXHidden"},
    {"minimized", "AXMinimized"},
};

}  // namespace

JSON SimDesktop::loadScene(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw SceneError("cannot open scene " + path);
    std::stringstream text;
    text << in.rdbuf();
    auto scene = parseJSON(text.str());
    if (!scene || !scene->is_object()) throw SceneError("scene " + path + " is not a JSON object");
    return *scene;
}

SimDesktop::SimDesktop(Clock& clock, const JSON& scene, const std::string& logPath)
    : clock_(clock),
      log_(clock, logPath),
      trusted_(sceneKey(scene, "trusted", true)),
      screenCapture_(sceneKey(scene, "screenCapture", true)),
      trustPromptGrants_(sceneKey(scene, "trustPromptGrants", false)),
      screenCapturePromptGrants_(sceneKey(scene, "screenCapturePromptGrants", false)),
      openURLTime_(seconds(sceneKey(scene, "openURLSeconds", 0.0))),
      home_(sceneKey(scene, "home", std::string("/Users/pat"))) {
    std::lock_guard lock(mutex_);
    for (const auto& folder : sceneTexts(scene, "folders")) folders_.insert(folder);
    for (const auto& folder : sceneTexts(scene, "unlistableFolders")) unlistable_.insert(folder);
    for (const auto& entry : sceneKey(scene, "bundles", JSON::array())) {
        Bundle bundle;
        bundle.path = sceneKey(entry, "path", std::string());
        if (bundle.path.empty() || bundle.path[0] != '/')
            throw SceneError("a bundle needs an absolute \"path\"");
        bundle.description.identifier = optionalText(entry, "bundleId");
        bundle.description.info = sceneKey(entry, "info", JSON::object());
        bundle.launch = sceneKey(entry, "launch", JSON::object());
        for (std::string folder = parentFolder(bundle.path); folder != "/";
             folder = parentFolder(folder))
            folders_.insert(folder);
        bundles_.push_back(std::move(bundle));
    }
    readEventScene(scene);
    readPanelScene(scene);
    for (const auto& entry : sceneKey(scene, "apps", JSON::array())) addApp(entry);
}

SimDesktop::~SimDesktop() {
    stopping_ = true;
    if (controlWakeFd_ >= 0) {
        const uint64_t one = 1;
        ssize_t ignored = write(controlWakeFd_, &one, sizeof one);
        (void)ignored;
    }
    if (controlThread_.joinable()) controlThread_.join();
    if (controlWakeFd_ >= 0) close(controlWakeFd_);
}

// ---- building the model ----

SimDesktop::Id SimDesktop::addNode(const JSON& entry, pid_t pid, Id parent) {
    if (!entry.is_object()) throw SceneError("an element must be a JSON object");
    Node node;
    node.id = nextId_++;
    node.pid = pid;
    node.parent = parent;
    node.name = sceneKey(entry, "id", std::string());
    for (const auto& [key, attribute] : attributeKeys) {
        const auto found = entry.find(key);
        if (found != entry.end() && !found->is_null()) {
            checkAttributeValue(*found, key);
            node.attributes[attribute] = *found;
        }
    }
    if (const auto frame = entry.find("frame"); frame != entry.end()) {
        if (!isNumbers(*frame, 4)) throw SceneError("\"frame\" must be [x, y, width, height]");
        node.attributes["AXPosition"] = {{"point", {(*frame)[0], (*frame)[1]}}};
        node.attributes["AXSize"] = {{"size", {(*frame)[2], (*frame)[3]}}};
    }
    const JSON extraAttributes = sceneKey(entry, "attributes", JSON::object());
    for (const auto& [name, value] : extraAttributes.items()) {
        checkAttributeValue(value, name);
        node.attributes[name] = value;
    }
    node.failing = sceneErrorNumbers(entry, "failing");
    for (const auto& name : sceneTexts(entry, "settable")) node.settable.insert(name);
    node.actions = sceneTexts(entry, "actions");
    const JSON actionEffects = sceneKey(entry, "onAction", JSON::object());
    for (const auto& [action, commands] : actionEffects.items()) {
        if (!commands.is_array())
            throw SceneError("the effects of \"" + action + "\" must be a list of commands");
        node.effects[action] = commands;
    }
    node.actionErrors = sceneErrorNumbers(entry, "actionErrors");
    node.lazy = sceneKey(entry, "lazy", false);
    const Id id = node.id;
    if (!node.name.empty()) {
        if (names_.count(node.name))
            throw SceneError("two elements are named \"" + node.name + "\"");
        names_[node.name] = id;
    }
    nodes_[id] = std::move(node);
    for (const auto& child : sceneKey(entry, "children", JSON::array())) {
        const Id childId = addNode(child, pid, id);
        nodes_[id].children.push_back(childId);
    }
    return id;
}

void SimDesktop::addApp(const JSON& entry, std::optional<pid_t> givenPid) {
    App app;
    app.info.pid = givenPid ? *givenPid : sceneKey(entry, "pid", nextPid_);
    if (apps_.count(app.info.pid))
        throw SceneError("two apps have pid " + std::to_string(app.info.pid));
    nextPid_ = std::max(nextPid_, app.info.pid + 1);
    app.info.localizedName = optionalText(entry, "name");
    app.info.bundleId = optionalText(entry, "bundleId");
    app.info.bundlePath = optionalText(entry, "path");
    app.info.activationPolicy = policyNamed(sceneKey(entry, "policy", std::string("regular")));
    app.info.active = sceneKey(entry, "active", false);
    app.info.hidden = sceneKey(entry, "hidden", false);
    app.info.terminated = sceneKey(entry, "terminated", false);
    app.windowlessReads = sceneKey(entry, "windowlessReads", 0);
    app.revealedBy = sceneKey(entry, "revealedBy", std::string());
    app.revealDelay = seconds(sceneKey(entry, "revealDelaySeconds", 0.0));
    app.acceptsBackgroundKeys = sceneKey(entry, "acceptsBackgroundKeys", false);
    readAppEventKeys(app, entry);
    if (app.revealedBy.empty()) app.revealedAt = clock_.now();
    const pid_t pid = app.info.pid;

    JSON appEntry = {{"role", "AXApplication"}};
    if (app.info.localizedName) appEntry["title"] = *app.info.localizedName;
    for (const char* key :
         {"id", "attributes", "failing", "settable", "actions", "onAction", "actionErrors"}) {
        if (entry.contains(key)) appEntry[key] = entry[key];
    }
    app.element = addNode(appEntry, pid, 0);
    for (const auto& window : sceneKey(entry, "windows", JSON::array())) {
        const Id id = addNode(window, pid, app.element);
        app.windows.push_back(id);
        nodes_[app.element].children.push_back(id);
    }
    if (entry.contains("menuBar")) {
        app.menuBar = addNode(entry["menuBar"], pid, app.element);
        nodes_[app.element].children.push_back(app.menuBar);
    }
    Node& element = nodes_[app.element];
    // The focused and main windows are the first window unless the scene says otherwise.
    for (const char* key : {"focusedWindow", "mainWindow"}) {
        const std::string attribute =
            key == std::string("focusedWindow") ? "AXFocusedWindow" : "AXMainWindow";
        if (entry.contains(key)) {
            if (!entry[key].is_null()) element.attributes[attribute] = {{"ref", entry[key]}};
        } else if (!app.windows.empty()) {
            element.attributes[attribute] = {{"id", app.windows.front()}};
        }
    }
    if (entry.contains("focusedElement") && !entry["focusedElement"].is_null())
        element.attributes["AXFocusedUIElement"] = {{"ref", entry["focusedElement"]}};
    if (app.info.active) {
        for (auto& [otherPid, other] : apps_) other.info.active = false;
    }
    order_.push_back(pid);
    apps_[pid] = std::move(app);
}

// ---- lookups (mutex held) ----

SimDesktop::Id SimDesktop::idOf(const Element& element) {
    const auto* handle = dynamic_cast<const Handle*>(element.get());
    return handle ? handle->id : 0;
}

std::string SimDesktop::logName(const Node* node, const Element& element) {
    return node && !node->name.empty() ? node->name : "#" + std::to_string(idOf(element));
}

SimDesktop::Node* SimDesktop::live(const Element& element) {
    const auto found = nodes_.find(idOf(element));
    if (found == nodes_.end() || found->second.destroyed) return nullptr;
    return &found->second;
}

SimDesktop::App* SimDesktop::appOf(pid_t pid) {
    const auto found = apps_.find(pid);
    return found == apps_.end() ? nullptr : &found->second;
}

SimDesktop::App* SimDesktop::appWithElement(Id id) {
    for (auto& [pid, app] : apps_) {
        if (app.element == id) return &app;
    }
    return nullptr;
}

SimDesktop::Id SimDesktop::resolveName(const JSON& reference) const {
    if (reference.is_object() && reference.contains("id")) return reference["id"].get<Id>();
    const JSON& name =
        reference.is_object() && reference.contains("ref") ? reference["ref"] : reference;
    if (!name.is_string()) return 0;
    const auto found = names_.find(name.get<std::string>());
    return found == names_.end() ? 0 : found->second;
}

bool SimDesktop::revealed(const App& app) const {
    return app.revealedAt && clock_.now() >= *app.revealedAt + app.revealDelay;
}

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

// ---- Application ----

void SimDesktop::becomeAccessory() {
    log_.record("becomeAccessory");
}

bool SimDesktop::addGlobalKeyDownMonitor(std::function<void(const KeyDown&)> handler) {
    std::lock_guard lock(mutex_);
    keyMonitors_.push_back(std::move(handler));
    return true;
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

// ---- ScreenCapture ----

bool SimDesktop::preflight() {
    std::lock_guard lock(mutex_);
    return screenCapture_;
}

bool SimDesktop::request() {
    std::lock_guard lock(mutex_);
    log_.record("screenCapturePrompt", {{"granted", screenCapturePromptGrants_}});
    screenCapture_ = screenCapture_ || screenCapturePromptGrants_;
    return screenCapture_;
}

// ---- Workspace ----

bool SimDesktop::openURL(const std::string& url) {
    log_.record("openURL", {{"url", url}});
    if (openURLTime_ > Duration::zero()) clock_.sleepFor(openURLTime_);
    return true;
}

std::vector<RunningApp> SimDesktop::runningApplications() {
    std::lock_guard lock(mutex_);
    std::vector<RunningApp> apps;
    for (pid_t pid : order_) apps.push_back(apps_[pid].info);
    return apps;
}

std::vector<RunningApp> SimDesktop::runningApplications(const std::string& bundleId) {
    std::lock_guard lock(mutex_);
    std::vector<RunningApp> apps;
    for (pid_t pid : order_) {
        if (apps_[pid].info.bundleId == bundleId) apps.push_back(apps_[pid].info);
    }
    return apps;
}

std::optional<RunningApp> SimDesktop::frontmostApplication() {
    std::lock_guard lock(mutex_);
    for (pid_t pid : order_) {
        if (apps_[pid].info.active && !apps_[pid].info.terminated) return apps_[pid].info;
    }
    return std::nullopt;
}

std::optional<RunningApp> SimDesktop::runningApplication(pid_t pid) {
    std::lock_guard lock(mutex_);
    App* app = appOf(pid);
    if (!app) return std::nullopt;
    return app->info;
}

std::optional<std::string> SimDesktop::applicationLocation(const std::string& bundleId) {
    std::lock_guard lock(mutex_);
    for (const auto& bundle : bundles_) {
        if (bundle.description.identifier == bundleId) return bundle.path;
    }
    return std::nullopt;
}

void SimDesktop::openApplication(const std::string& path, bool activates,
                                 OpenCompletion completion) {
    std::unique_lock lock(mutex_);
    log_.record("openApplication", {{"path", path}, {"activates", activates}});
    const Bundle* bundle = nullptr;
    for (const auto& candidate : bundles_) {
        if (candidate.path == path) bundle = &candidate;
    }
    if (!bundle) {
        const std::string error = "The application could not be found.";
        log_.record("openFailed", {{"path", path}, {"error", error}});
        lock.unlock();
        completion(std::nullopt, error);
        return;
    }
    // An app that already runs from this bundle is simply reported.
    for (pid_t pid : order_) {
        const App& app = apps_[pid];
        if (!app.info.terminated && app.info.bundlePath == path) {
            RunningApp info = app.info;
            lock.unlock();
            completion(info, std::nullopt);
            return;
        }
    }
    const JSON launch = bundle->launch;
    if (sceneKey(launch, "never", false)) return;  // the completion never comes
    JSON entry = sceneKey(launch, "app", JSON::object());
    const auto& info = bundle->description.info;
    if (!entry.contains("name")) {
        for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
            if (info.contains(key) && info[key].is_string() && !entry.contains("name"))
                entry["name"] = info[key];
        }
        if (!entry.contains("name")) {
            std::string file = lastComponent(path);
            entry["name"] = file.substr(0, file.rfind('.'));
        }
    }
    if (bundle->description.identifier) entry["bundleId"] = *bundle->description.identifier;
    entry["path"] = path;
    entry["active"] = activates;
    entry.erase("pid");
    const auto failure = optionalText(launch, "error");
    const Duration delay = seconds(sceneKey(launch, "seconds", 0.0));
    lock.unlock();
    clock_.schedule(delay, [this, entry, failure, path, completion = std::move(completion)] {
        if (failure) {
            log_.record("openFailed", {{"path", path}, {"error", *failure}});
            completion(std::nullopt, failure);
            return;
        }
        RunningApp info;
        {
            std::lock_guard lock(mutex_);
            const pid_t pid = nextPid_;
            addApp(entry, pid);
            info = apps_[pid].info;
            log_.record("appLaunched", {{"path", path}, {"pid", pid}});
        }
        completion(info, std::nullopt);
    });
}

std::optional<BundleDescription> SimDesktop::bundleAt(const std::string& path) {
    std::lock_guard lock(mutex_);
    for (const auto& bundle : bundles_) {
        if (bundle.path == path) return bundle.description;
    }
    return std::nullopt;
}

bool SimDesktop::fileExists(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (path == "/" || folders_.count(path)) return true;
    for (const auto& bundle : bundles_) {
        if (bundle.path == path || path.rfind(bundle.path + "/", 0) == 0) return true;
    }
    return false;
}

std::optional<std::vector<std::string>> SimDesktop::listFolder(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (unlistable_.count(path) || !folders_.count(path)) return std::nullopt;
    std::vector<std::string> entries;
    auto add = [&](const std::string& child) {
        if (parentFolder(child) != path) return;
        const std::string name = lastComponent(child);
        for (const auto& entry : entries) {
            if (entry == name) return;
        }
        entries.push_back(name);
    };
    for (const auto& bundle : bundles_) add(bundle.path);
    for (const auto& folder : folders_) add(folder);
    return entries;
}

std::string SimDesktop::homeFolder() {
    return home_;
}

// ---- control ----

SimDesktop::App* SimDesktop::appByReference(const JSON& reference) {
    if (reference.is_number_integer()) return appOf(reference.get<pid_t>());
    if (reference.is_string()) {
        for (pid_t pid : order_) {
            if (apps_[pid].info.localizedName == reference.get<std::string>()) return &apps_[pid];
        }
    }
    return nullptr;
}

void SimDesktop::makeFront(pid_t pid) {
    for (auto& [otherPid, app] : apps_) app.info.active = otherPid == pid;
    if (App* app = appOf(pid)) app->info.hidden = false;
}

void SimDesktop::detach(Id id) {
    Node& node = nodes_[id];
    if (node.parent) {
        auto& siblings = nodes_[node.parent].children;
        std::erase(siblings, id);
        if (App* app = appWithElement(node.parent)) {
            std::erase(app->windows, id);
            if (app->menuBar == id) app->menuBar = 0;
        }
    }
    node.parent = 0;
}

void SimDesktop::destroy(Id id) {
    Node& node = nodes_[id];
    node.destroyed = true;
    for (Id child : node.children) destroy(child);
}

void SimDesktop::runCommand(const JSON& command, std::vector<std::function<void()>>& after) {
    if (!command.is_object()) throw SceneError("a command must be a JSON object");
    const std::string verb = sceneKey(command, "do", std::string());
    auto target = [&]() -> Node& {
        const Id id = resolveName(sceneKey(command, "element", JSON()));
        if (!id) throw SceneError("command \"" + verb + "\" names no known element");
        return nodes_[id];
    };
    auto targetApp = [&]() -> App& {
        App* app = appByReference(sceneKey(command, "app", JSON()));
        if (!app) throw SceneError("command \"" + verb + "\" names no running app");
        return *app;
    };
    JSON logged = command;
    logged.erase("do");
    if (verb == "set") {
        const std::string attribute = sceneKey(command, "attribute", std::string());
        const JSON value = command.value("value", JSON());
        checkAttributeValue(value, attribute);
        target().attributes[attribute] = value;
    } else if (verb == "add") {
        const Id parent = resolveName(sceneKey(command, "parent", JSON()));
        if (!parent) throw SceneError("command \"add\" names no known parent");
        const Id id =
            addNode(sceneKey(command, "element", JSON::object()), nodes_[parent].pid, parent);
        auto& children = nodes_[parent].children;
        const auto role = nodes_[id].attributes.find("AXRole");
        App* app = appWithElement(parent);
        if (app && role != nodes_[id].attributes.end() && role->second == "AXWindow") {
            // A window joins the app's windows at that position; the app's children stay the
            // windows, then the menu bar.
            auto& windows = app->windows;
            const size_t at =
                std::min<size_t>(sceneKey(command, "index", windows.size()), windows.size());
            const Id before = at < windows.size() ? windows[at] : app->menuBar;
            windows.insert(windows.begin() + static_cast<long>(at), id);
            const auto place =
                before ? std::find(children.begin(), children.end(), before) : children.end();
            children.insert(place, id);
        } else {
            const size_t at =
                std::min<size_t>(sceneKey(command, "index", children.size()), children.size());
            children.insert(children.begin() + static_cast<long>(at), id);
        }
    } else if (verb == "remove") {
        detach(target().id);
    } else if (verb == "destroy") {
        const Id id = target().id;
        detach(id);
        destroy(id);
    } else if (verb == "front") {
        makeFront(targetApp().info.pid);
    } else if (verb == "hide") {
        App& app = targetApp();
        app.info.hidden = true;
        app.info.active = false;
    } else if (verb == "quit") {
        App& app = targetApp();
        app.info.terminated = true;
        app.info.active = false;
        destroy(app.element);
        order_.erase(std::remove(order_.begin(), order_.end(), app.info.pid), order_.end());
    } else if (verb == "launch") {
        addApp(sceneKey(command, "app", JSON::object()));
    } else if (verb == "key") {
        KeyDown key{static_cast<uint16_t>(sceneKey(command, "keyCode", 0)),
                    sceneKey(command, "mark", int64_t{0})};
        deliverKey(key, after);
    } else {
        throw SceneError("unknown command \"" + verb + "\"");
    }
    log_.record("control:" + verb, logged);
}

void SimDesktop::control(const JSON& command) {
    std::vector<std::function<void()>> after;
    {
        std::lock_guard lock(mutex_);
        try {
            runCommand(command, after);
        } catch (const JSON::exception& error) {
            throw SceneError(std::string("malformed command: ") + error.what());
        }
    }
    for (auto& task : after) task();
}

void SimDesktop::listenForControl(const std::string& path) {
    // Opened for reading and writing, so that the FIFO never reports an end while no test
    // has it open.
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw SceneError("cannot open control channel " + path);
    controlWakeFd_ = eventfd(0, EFD_CLOEXEC);
    controlThread_ = std::thread([this, fd] {
        std::string pending;
        char chunk[4096];
        while (!stopping_) {
            pollfd waits[2] = {{fd, POLLIN, 0}, {controlWakeFd_, POLLIN, 0}};
            if (poll(waits, 2, -1) < 0 && errno != EINTR) break;
            if (waits[1].revents) break;
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n <= 0) continue;
            pending.append(chunk, static_cast<size_t>(n));
            for (size_t newline; (newline = pending.find('\n')) != std::string::npos;) {
                const std::string line = pending.substr(0, newline);
                pending.erase(0, newline + 1);
                if (line.empty()) continue;
                const auto command = parseJSON(line);
                try {
                    if (!command) throw SceneError("a command must be a JSON object");
                    control(*command);
                } catch (const SceneError& error) {
                    log_.record("controlError", {{"error", error.what()}});
                }
            }
        }
        close(fd);
    });
}

Element SimDesktop::elementNamed(const std::string& name) {
    std::lock_guard lock(mutex_);
    const auto found = names_.find(name);
    return found == names_.end() ? Element() : handle(found->second);
}

pid_t SimDesktop::pidOf(const std::string& appName) {
    std::lock_guard lock(mutex_);
    App* app = appByReference(appName);
    return app ? app->info.pid : 0;
}

AccessibilityTraffic SimDesktop::traffic() const {
    std::lock_guard lock(mutex_);
    return traffic_;
}

}  // namespace pelko::computer::sim
