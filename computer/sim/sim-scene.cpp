// Loading the simulated desktop from its scene: the desktop's own keys, bundles and folders,
// the apps with their element trees, and the keys of the input events and the screens.
#include <algorithm>
#include <fstream>
#include <sstream>

#include "sim-desktop.h"
#include "sim-scene.h"

namespace pelko::computer::sim {
namespace {

// Numbers under `key`, each of `count` items: [x, y] or [x, y, width, height].
bool isNumbers(const JSON& value, size_t count) {
    if (!value.is_array() || value.size() != count) return false;
    return std::all_of(value.begin(), value.end(),
                       [](const JSON& item) { return item.is_number(); });
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

void SimDesktop::readEventScene(const JSON& scene) {
    const JSON pointer = sceneKey(scene, "pointer", JSON::array({720, 450}));
    if (!pointer.is_array() || pointer.size() != 2 || !pointer[0].is_number() ||
        !pointer[1].is_number())
        throw SceneError("scene key \"pointer\" must be [x, y]");
    pointer_ = {pointer[0].get<double>(), pointer[1].get<double>()};
    pointerReadable_ = sceneKey(scene, "pointerReadable", true);
    for (const auto& type : sceneKey(scene, "uncreatableEvents", JSON::array())) {
        if (!type.is_string())
            throw SceneError("scene key \"uncreatableEvents\" must list event type names");
        uncreatableEvents_.insert(type.get<std::string>());
    }
}

void SimDesktop::readAppEventKeys(App& app, const JSON& entry) {
    app.activates = sceneKey(entry, "activates", true);
    app.activationDelay = seconds(sceneKey(entry, "activationDelaySeconds", 0.0));
}

void SimDesktop::readPanelScene(const JSON& scene) {
    const JSON fallback =
        JSON::parse(R"([{"frame": [0, 0, 1440, 900], "visibleFrame": [0, 0, 1440, 875]}])");
    for (const auto& screen : sceneKey(scene, "screens", fallback)) {
        if (!screen.is_object() || !screen.contains("frame"))
            throw SceneError("a screen needs a \"frame\"");
        const Rect frame = sceneRect(screen["frame"], "frame");
        const Rect visible = screen.contains("visibleFrame")
                                 ? sceneRect(screen["visibleFrame"], "visibleFrame")
                                 : frame;
        screens_.push_back({frame, visible});
    }
    // The main screen is the first unless the scene says which, or (null) that there is none.
    const auto main = scene.find("mainScreen");
    if (main != scene.end() && main->is_null()) {
        mainScreen_.reset();
    } else {
        const size_t index = sceneKey<size_t>(scene, "mainScreen", 0);
        if (index < screens_.size()) mainScreen_ = index;
    }
    const JSON accent = sceneKey(scene, "accentColor", JSON::array({0.0, 0.478, 1.0}));
    if (!accent.is_array() || accent.size() != 3 || !accent[0].is_number() ||
        !accent[1].is_number() || !accent[2].is_number())
        throw SceneError("scene key \"accentColor\" must be [red, green, blue]");
    accent_ = {accent[0].get<double>(), accent[1].get<double>(), accent[2].get<double>(), 1.0};
}

}  // namespace pelko::computer::sim
