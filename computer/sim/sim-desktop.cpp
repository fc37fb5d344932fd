// The simulated desktop's model: finding elements and apps, and what tests and benchmarks read
// from it beside the seams.
#include "sim-desktop.h"

namespace pelko::computer::sim {

// ---- lookups (mutex held) ----

SimDesktop::Id SimDesktop::idOf(const Element& element) {
    const auto* handle = dynamic_cast<const Handle*>(element.get());
    return handle ? handle->id : 0;
}

std::string SimDesktop::logName(const Node* node, const Element& element) {
    return node && !node->name.empty() ? node->name : std::string("#").append(std::to_string(idOf(element)));
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

// ---- inspection ----

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

Point SimDesktop::pointer() {
    std::lock_guard lock(mutex_);
    return pointer_;
}

JSON SimDesktop::attributeOf(const std::string& elementName, const std::string& attribute) {
    std::lock_guard lock(mutex_);
    const auto named = names_.find(elementName);
    if (named == names_.end()) return nullptr;
    const Node& node = nodes_[named->second];
    const auto found = node.attributes.find(attribute);
    return found == node.attributes.end() ? JSON(nullptr) : found->second;
}

}  // namespace pelko::computer::sim
