#include "linux-accessibility.h"

#include <atspi/atspi-constants.h>

#include <algorithm>
#include <iostream>

#include "atspi-calls.h"

namespace pelko::computer::linux_desktop {
namespace {

using Kind = LinuxAccessibility::Handle::Kind;

constexpr Duration trustLifetime = std::chrono::seconds(1);
// How long a window presented by a focus change may take to become active, and how often that
// is looked at.
constexpr Duration focusSettling = std::chrono::milliseconds(300);
constexpr Duration focusPoll = std::chrono::milliseconds(20);
// How long a switched-on toolkit may take to build its tree, and how often that is looked at.
constexpr Duration switchSettling = std::chrono::milliseconds(1000);
constexpr Duration switchPoll = std::chrono::milliseconds(50);

}  // namespace

LinuxAccessibility::LinuxAccessibility(AtspiClient& client, WindowSystem& windows, Clock& clock,
                                       ChangeCount& changes)
    : client_(client),
      windows_(windows),
      clock_(clock),
      changes_(changes),
      trees_(client, windows, clock, changes),
      objects_(client, changes) {}

bool LinuxAccessibility::isTrusted() {
    std::lock_guard lock(mutex_);
    // Asked at the start of most requests; the answer holds for a moment.
    if (trusted_ && clock_.now() - trustedAt_ < trustLifetime) return *trusted_;
    trusted_ = client_.answers() && client_.toolkitAccessibilityEnabled() == true;
    trustedAt_ = clock_.now();
    return *trusted_;
}

bool LinuxAccessibility::isTrustedWithPrompt() {
    std::lock_guard lock(mutex_);
    if (client_.toolkitAccessibilityEnabled() != true) {
        if (client_.enableToolkitAccessibility()) {
            std::cerr << "pelko-computer: switched toolkit accessibility on (org.a11y.Status "
                         "IsEnabled); apps started before may need a restart to be read.\n";
        } else {
            std::cerr << "pelko-computer: could not switch toolkit accessibility on "
                         "(org.a11y.Status IsEnabled).\n";
        }
    }
    trusted_.reset();
    return isTrusted();
}

Element LinuxAccessibility::applicationElement(pid_t pid) {
    auto handle = std::make_shared<Handle>();
    handle->kind = Kind::application;
    handle->pid = pid;
    handle->ref.path = rootPath;
    return handle;
}

Element LinuxAccessibility::systemWideElement() {
    auto handle = std::make_shared<Handle>();
    handle->kind = Kind::systemWide;
    return handle;
}

Element LinuxAccessibility::elementFor(const ObjectRef& ref, pid_t pid) {
    auto handle = std::make_shared<Handle>();
    handle->kind = ref.path == rootPath ? Kind::application : Kind::object;
    handle->ref = ref;
    handle->pid = pid;
    if (!pid) {
        if (const auto owner = client_.pidOf(ref.name)) handle->pid = *owner;
    }
    return handle;
}

LinuxAccessibility::Resolved LinuxAccessibility::resolve(const Element& element) {
    const auto* handle = dynamic_cast<const Handle*>(element.get());
    if (!handle) return {Kind::systemWide, 0, {}, 0, {}};
    Resolved resolved{handle->kind, handle->pid, handle->ref, handle->run, handle->text};
    if (handle->kind == Kind::application && resolved.ref.name.empty())
        resolved.ref.name = client_.busNameOf(handle->pid);
    return resolved;
}

void LinuxAccessibility::forgetTrees() {
    std::lock_guard lock(mutex_);
    trees_.forget();
}

std::optional<bool> LinuxAccessibility::isSettable(const Element& element,
                                                   const std::string& name) {
    std::lock_guard lock(mutex_);
    const Resolved target = resolve(element);
    if (target.kind != Kind::object) return false;
    AppTree* tree = trees_.treeOf(target.ref.name);
    if (!tree) return std::nullopt;
    int error = axSuccess;
    const Node* node = trees_.nodeOf(*tree, target.ref.path, error);
    if (!node) return std::nullopt;
    const ObjectTraits traits = traitsOf(*tree, *node);
    const AXRole role = axRoleOf(traits);
    const bool window = role.role == "AXWindow";
    if (name == "AXValue") {
        if (takesTextEdits(traits)) return true;
        return (node->interfaces & valueInterface) && hasNumericValue(role) && isEnabled(traits) &&
               !hasState(node->states, ATSPI_STATE_READ_ONLY) &&
               role.role != "AXProgressIndicator" && role.role != "AXLevelIndicator";
    }
    if (name == "AXSelectedText")
        return takesTextEdits(traits) && (node->interfaces & textInterface);
    if (name == "AXFocused") return window || hasState(node->states, ATSPI_STATE_FOCUSABLE);
    if (name == "AXSelected") {
        const Node* parent = tree->find(node->parent.path);
        return hasState(node->states, ATSPI_STATE_SELECTABLE) && parent &&
               (parent->interfaces & selectionInterface);
    }
    if (name == "AXMain" || name == "AXMinimized") return window;
    return false;
}

int LinuxAccessibility::setAttribute(const Element& element, const std::string& name,
                                     const Value& value) {
    std::lock_guard lock(mutex_);
    const Resolved target = resolve(element);
    if (target.kind == Kind::application && name == "AXManualAccessibility")
        return switchOnAccessibility(target);
    if (target.kind != Kind::object) return axAttributeUnsupported;
    AppTree* tree = trees_.treeOf(target.ref.name);
    if (!tree) return axInvalidElement;
    int error = axSuccess;
    const Node* node = trees_.nodeOf(*tree, target.ref.path, error);
    if (!node) return error;
    const ObjectTraits traits = traitsOf(*tree, *node);
    const bool window = axRoleOf(traits).role == "AXWindow";
    if (name == "AXSelectedText") {
        const auto* text = value.as<std::string>();
        if (!text || !(node->interfaces & editableTextInterface) ||
            !(node->interfaces & textInterface))
            return axAttributeUnsupported;
        return objects_.replaceSelection(target.ref, *text);
    }
    if (name == "AXValue" && axRoleOf(traits).role == "AXScrollBar") {
        // A scroll bar's value is the fraction scrolled, from 0 to 1.
        std::optional<double> fraction;
        if (const auto* number = value.as<double>()) fraction = *number;
        if (const auto* number = value.as<int64_t>()) fraction = static_cast<double>(*number);
        if (!fraction) return axIllegalArgument;
        int failure = axSuccess;
        const auto range = objects_.valueRange(target.ref, failure);
        if (!range) return failure;
        return objects_.setNumber(
            target.ref,
            range->minimum + std::clamp(*fraction, 0.0, 1.0) * (range->maximum - range->minimum));
    }
    if (name == "AXValue") {
        const auto* text = value.as<std::string>();
        if (text && (node->interfaces & editableTextInterface)) {
            const int result = objects_.callBoolean(target.ref, ATSPI_DBUS_INTERFACE_EDITABLE_TEXT,
                                                    "SetTextContents", std::nullopt, text);
            // A toolkit may answer yes and change nothing: the text must read back.
            if (result != axSuccess) return result;
            return objects_.text(target.ref) == *text ? axSuccess : axCannotComplete;
        }
        if (node->interfaces & valueInterface) {
            std::optional<double> number;
            if (const auto* integer = value.as<int64_t>()) number = static_cast<double>(*integer);
            if (const auto* fraction = value.as<double>()) number = *fraction;
            if (text) {
                try {
                    size_t used = 0;
                    const double parsed = std::stod(*text, &used);
                    if (used == text->size()) number = parsed;
                } catch (const std::exception&) {
                }
            }
            if (!number) return axIllegalArgument;
            return objects_.setNumber(target.ref, *number);
        }
        return axAttributeUnsupported;
    }
    if ((name == "AXFocused" || name == "AXMain") && window) {
        const auto found = windowFor(*tree, target.ref.path, target.pid);
        changes_.bump();
        return found && windows_.activate(found->id) ? axSuccess : axCannotComplete;
    }
    if (name == "AXMinimized" && window) {
        const auto found = windowFor(*tree, target.ref.path, target.pid);
        const bool* minimize = value.as<bool>();
        if (!found || !minimize) return axCannotComplete;
        changes_.bump();
        return (*minimize ? windows_.minimize(found->id) : windows_.activate(found->id))
                   ? axSuccess
                   : axCannotComplete;
    }
    if (name == "AXFocused") {
        if (!(node->interfaces & componentInterface)) return axAttributeUnsupported;
        // Toolkits present the window of an element that takes the focus (GTK does); focusing
        // an element must not bring its app forward, so the window that was active gets the
        // focus back.
        const uint64_t before = windows_.activeWindow();
        const bool wasActive = windows_.activePid() == target.pid;
        const int result =
            objects_.callBoolean(target.ref, ATSPI_DBUS_INTERFACE_COMPONENT, "GrabFocus");
        if (result == axSuccess && before && !wasActive) {
            for (Duration waited{}; waited < focusSettling; waited += focusPoll) {
                clock_.sleepFor(focusPoll);
                if (windows_.activePid() == target.pid) {
                    windows_.activate(before);
                    break;
                }
            }
        }
        return result;
    }
    if (name == "AXSelected") {
        const bool* select = value.as<bool>();
        const Node* parent = tree->find(node->parent.path);
        if (!select || !parent || !(parent->interfaces & selectionInterface))
            return axAttributeUnsupported;
        int index = node->indexInParent;
        if (index < 0) {
            // Not from the bulk read: the object says where it stands. Its place in the list
            // read here is no index (those off screen of a long list, null and circular
            // children are left out).
            std::vector<AtspiClient::Call> calls;
            calls.push_back(
                {target.ref.name,
                 objectCall(target.ref, ATSPI_DBUS_INTERFACE_ACCESSIBLE, "GetIndexInParent")});
            DBusMessageIter iter;
            const auto answers = client_.callAll(std::move(calls));
            if (!firstArgument(answers[0], iter)) return axCannotComplete;
            index = static_cast<int>(readInteger(iter).value_or(-1));
            if (index < 0) return axCannotComplete;
        }
        return objects_.callBoolean(node->parent, ATSPI_DBUS_INTERFACE_SELECTION,
                                    *select ? "SelectChild" : "DeselectChild", index);
    }
    return axAttributeUnsupported;
}

int LinuxAccessibility::switchOnAccessibility(const Resolved& target) {
    if (target.ref.name.empty()) return axCannotComplete;
    AppTree* tree = trees_.treeOf(target.ref.name);
    if (!tree) return axInvalidElement;
    // Chromium (and the apps built on it) build their accessibility tree, the browser's and the
    // pages', only once an assistive technology shows itself: until then a window answers null for
    // its children. Reading, clicking and naming objects does not count (the desktop's own bridge
    // does that); asking a window for its object attributes does, and the tree is there moments
    // later.
    if (tree->toolkit != Toolkit::chromium) return axAttributeUnsupported;
    int error = axSuccess;
    if (!trees_.nodeOf(*tree, rootPath, error)) return error;
    trees_.ensure(*tree, rootPath, childrenExtra);
    const Node* root = tree->find(rootPath);
    if (!root) return axInvalidElement;
    const std::vector<ObjectRef> windows = root->children;
    std::vector<AtspiClient::Call> calls;
    for (const auto& window : windows)
        calls.push_back(
            {window.name, objectCall(window, ATSPI_DBUS_INTERFACE_ACCESSIBLE, "GetAttributes")});
    client_.callAll(std::move(calls));
    changes_.bump();
    // The tree grows in the moments after: a window names a child once it is there. A short
    // wait here lets the first outline show it.
    for (Duration waited{}; waited < switchSettling; waited += switchPoll) {
        clock_.sleepFor(switchPoll);
        std::vector<AtspiClient::Call> asks;
        for (const auto& window : windows)
            asks.push_back(
                {window.name, objectCall(window, ATSPI_DBUS_INTERFACE_ACCESSIBLE, "GetChildren")});
        const auto answers = client_.callAll(std::move(asks));
        const bool grown =
            std::any_of(answers.begin(), answers.end(), [](const CallResult& answer) {
                DBusMessageIter iter;
                if (!firstArgument(answer, iter)) return false;
                const auto children = readRefs(iter);
                return children &&
                       std::any_of(children->begin(), children->end(),
                                   [](const ObjectRef& child) { return !child.isNull(); });
            });
        if (grown) break;
    }
    return axSuccess;
}

std::optional<std::vector<std::string>> LinuxAccessibility::actionNames(const Element& element) {
    std::lock_guard lock(mutex_);
    const Resolved target = resolve(element);
    if (target.kind != Kind::object) return std::vector<std::string>{};
    AppTree* tree = trees_.treeOf(target.ref.name);
    if (!tree) return std::nullopt;
    int error = axSuccess;
    if (!trees_.nodeOf(*tree, target.ref.path, error)) return std::nullopt;
    trees_.ensure(*tree, target.ref.path, actionsExtra);
    const Node* node = tree->find(target.ref.path);
    if (!node || node->gone) return std::nullopt;
    const ObjectTraits traits = traitsOf(*tree, *node);
    return axActionNames(node->actions, traits, axRoleOf(traits));
}

int LinuxAccessibility::performAction(const Element& element, const std::string& action) {
    std::lock_guard lock(mutex_);
    const Resolved target = resolve(element);
    if (target.kind != Kind::object) return axActionUnsupported;
    AppTree* tree = trees_.treeOf(target.ref.name);
    if (!tree) return axInvalidElement;
    int error = axSuccess;
    if (!trees_.nodeOf(*tree, target.ref.path, error)) return error;
    trees_.ensure(*tree, target.ref.path, actionsExtra);
    const Node* node = tree->find(target.ref.path);
    if (!node || node->gone) return axInvalidElement;
    const ObjectTraits traits = traitsOf(*tree, *node);
    const AXRole role = axRoleOf(traits);
    const auto offered = axActionNames(node->actions, traits, role);
    if (std::find(offered.begin(), offered.end(), action) == offered.end())
        return axActionUnsupported;
    const ObjectRef ref = target.ref;
    if (const auto index = toolkitActionFor(node->actions, action, role))
        return objects_.callBoolean(ref, ATSPI_DBUS_INTERFACE_ACTION, "DoAction",
                                    static_cast<int32_t>(*index));
    if (action == "AXIncrement" || action == "AXDecrement")
        return objects_.stepValue(ref, action == "AXIncrement" ? 1 : -1);
    if (action == "AXRaise") {
        const auto found = windowFor(*tree, ref.path, target.pid);
        changes_.bump();
        return found && windows_.activate(found->id) ? axSuccess : axCannotComplete;
    }
    if (action == "AXScrollToVisible") {
        auto message = objectCall(ref, ATSPI_DBUS_INTERFACE_COMPONENT, "ScrollTo");
        if (message) appendUint(message.get(), ATSPI_SCROLL_ANYWHERE);
        std::vector<AtspiClient::Call> calls;
        calls.push_back({ref.name, std::move(message)});
        const auto answers = client_.callAll(std::move(calls));
        changes_.bump();
        return errorOf(answers[0]);
    }
    return axActionUnsupported;
}

bool LinuxAccessibility::isEqual(const Element& a, const Element& b) {
    std::lock_guard lock(mutex_);
    if (!a || !b) return false;
    const Resolved left = resolve(a), right = resolve(b);
    if (left.kind == Kind::systemWide || right.kind == Kind::systemWide)
        return left.kind == right.kind;
    if ((left.kind == Kind::menu) != (right.kind == Kind::menu)) return false;
    if ((left.kind == Kind::textRun) != (right.kind == Kind::textRun)) return false;
    if (left.kind == Kind::textRun && left.run != right.run) return false;
    if (left.kind == Kind::application && right.kind == Kind::application && left.ref.name.empty())
        return left.pid == right.pid;
    return !left.ref.name.empty() && left.ref == right.ref;
}

std::optional<pid_t> LinuxAccessibility::processId(const Element& element) {
    std::lock_guard lock(mutex_);
    const auto* handle = dynamic_cast<const Handle*>(element.get());
    if (!handle || handle->kind == Kind::systemWide) return std::nullopt;
    if (handle->pid) return handle->pid;
    return client_.pidOf(handle->ref.name);
}

int LinuxAccessibility::setMessagingTimeout(const Element& element, double seconds) {
    std::lock_guard lock(mutex_);
    const Resolved target = resolve(element);
    if (target.ref.name.empty()) return axIllegalArgument;
    if (!(seconds > 0)) return axIllegalArgument;
    client_.setTimeout(target.ref.name, static_cast<int>(seconds * 1000));
    return axSuccess;
}

}  // namespace pelko::computer::linux_desktop
