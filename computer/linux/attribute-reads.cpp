// What each kind of element answers when an attribute is read: the system-wide element, an
// application, the menu element between an item and its submenu's items, and an object.
#include <atspi/atspi-constants.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <set>

#include "atspi-calls.h"
#include "linux-accessibility.h"

namespace pelko::computer::linux_desktop {
namespace {

using Kind = LinuxAccessibility::Handle::Kind;

AttributeRead ok(Value value) {
    return {axSuccess, std::move(value)};
}
AttributeRead fail(int error) {
    return {error, {}};
}
AttributeRead unsupported() {
    return fail(axAttributeUnsupported);
}

bool isWindowNode(const Node& node) {
    switch (node.role) {
        case ATSPI_ROLE_FRAME:
        case ATSPI_ROLE_WINDOW:
        case ATSPI_ROLE_DIALOG:
        case ATSPI_ROLE_ALERT:
        case ATSPI_ROLE_FILE_CHOOSER:
        case ATSPI_ROLE_FONT_CHOOSER:
        case ATSPI_ROLE_COLOR_CHOOSER:
            return true;
        default:
            return false;
    }
}

// A menu that opens from an item (a menu-bar item, or an item with a submenu): its items hang
// below an element of their own, as they do on the platform this seam is shaped on.
bool hasSubmenu(const Node& node, uint32_t parentRole) {
    return node.role == ATSPI_ROLE_MENU &&
           (parentRole == ATSPI_ROLE_MENU_BAR || parentRole == ATSPI_ROLE_MENU ||
            parentRole == ATSPI_ROLE_POPUP_MENU);
}

}  // namespace

std::vector<Element> LinuxAccessibility::windowsOf(AppTree& tree, const std::string& root,
                                                   pid_t pid) {
    std::vector<Element> windows;
    int error = axSuccess;
    Node* app = trees_.nodeOf(tree, root, error);
    if (!app) return windows;
    trees_.ensure(tree, root, childrenExtra);
    app = tree.find(root);
    if (!app) return windows;
    for (const auto& child : std::vector<ObjectRef>(app->children)) {
        const Node* node = tree.find(child.path);
        if (!node || !isWindowNode(*node)) continue;
        if (!hasState(node->states, ATSPI_STATE_SHOWING) &&
            !hasState(node->states, ATSPI_STATE_ICONIFIED))
            continue;
        // Pop-up menus and tooltips are windows of the toolkit, not of the user.
        if (node->role == ATSPI_ROLE_WINDOW && !node->children.empty()) {
            const Node* first = tree.find(node->children.front().path);
            if (first && (first->role == ATSPI_ROLE_MENU || first->role == ATSPI_ROLE_POPUP_MENU ||
                          first->role == ATSPI_ROLE_TOOL_TIP))
                continue;
        }
        // Chromium keeps unnamed windows that say they are showing but that the window
        // manager never shows (a pop-up made ahead of time): an unnamed window that lies where
        // no window of the process does is not the user's.
        if (node->name.empty() && !hasState(node->states, ATSPI_STATE_ICONIFIED) &&
            !onScreenAsWindow(tree, child.path, pid))
            continue;
        windows.push_back(elementFor(child, pid));
    }
    return windows;
}

bool LinuxAccessibility::onScreenAsWindow(AppTree& tree, const std::string& path, pid_t pid) {
    std::vector<WindowInfo> own;
    for (auto& window : windows_.windows()) {
        if (window.pid == pid) own.push_back(std::move(window));
    }
    // Without a window manager's list of windows there is nothing to compare with.
    if (own.empty()) return true;
    trees_.ensure(tree, path, extentsExtra);
    const Node* node = tree.find(path);
    if (!node || !node->extents) return true;
    const Point origin = windows_.primaryOrigin();
    const Rect& extents = *node->extents;
    // Frames and their contents differ by a title bar and borders (or a client's shadows).
    constexpr double tolerance = 200;
    return std::any_of(own.begin(), own.end(), [&](const WindowInfo& window) {
        return std::abs(window.frame.origin.x - (extents.origin.x + origin.x)) +
                   std::abs(window.frame.origin.y - (extents.origin.y + origin.y)) +
                   std::abs(window.frame.size.width - extents.size.width) +
                   std::abs(window.frame.size.height - extents.size.height) <=
               tolerance;
    });
}

Element LinuxAccessibility::findInWindows(AppTree& tree, const std::string& root, pid_t pid,
                                          bool (*wanted)(const Node&)) {
    // The active window first, then the others, each breadth first over what is known.
    std::vector<std::string> starts;
    if (Node* app = tree.find(root)) {
        for (const auto& child : app->children) {
            const Node* node = tree.find(child.path);
            if (!node || !isWindowNode(*node)) continue;
            if (hasState(node->states, ATSPI_STATE_ACTIVE))
                starts.insert(starts.begin(), child.path);
            else
                starts.push_back(child.path);
        }
    }
    for (const auto& start : starts) {
        std::deque<std::string> queue = {start};
        std::set<std::string> seen = {start};
        while (!queue.empty()) {
            const std::string at = queue.front();
            queue.pop_front();
            const Node* node = tree.find(at);
            if (!node) continue;
            if (wanted(*node)) return elementFor({tree.busName, at}, pid);
            // Without the bulk read (Qt) the children are asked for as the search goes; what is
            // not on screen is not searched then.
            if (!tree.bulk && !node->childrenKnown) {
                if (isHidden(traitsOf(tree, *node))) continue;
                trees_.ensure(tree, at, childrenExtra);
                node = tree.find(at);
                if (!node) continue;
            }
            for (const auto& child : node->children) {
                if (child.name == tree.busName && seen.insert(child.path).second)
                    queue.push_back(child.path);
            }
        }
    }
    return nullptr;
}

std::optional<WindowInfo> LinuxAccessibility::windowFor(AppTree& tree, const std::string& path,
                                                        pid_t pid) {
    trees_.ensure(tree, path, extentsExtra);
    const Node* node = tree.find(path);
    std::optional<Rect> frame;
    if (node && node->extents) {
        const Point origin = windows_.primaryOrigin();
        frame = node->extents;
        frame->origin.x += origin.x;
        frame->origin.y += origin.y;
    }
    return windowOf(windows_.windows(), pid, frame);
}

std::optional<std::string> LinuxAccessibility::windowTitle(AppTree& tree, const std::string& path,
                                                           pid_t pid) {
    if (auto window = windowFor(tree, path, pid); window && !window->title.empty())
        return window->title;
    return std::nullopt;
}

AttributeRead LinuxAccessibility::copyAttribute(const Element& element, const std::string& name) {
    std::lock_guard lock(mutex_);
    if (!element) return fail(axIllegalArgument);
    return read(resolve(element), name);
}

std::vector<AttributeRead> LinuxAccessibility::copyAttributes(
    const Element& element, const std::vector<std::string>& names) {
    std::lock_guard lock(mutex_);
    std::vector<AttributeRead> reads;
    if (!element) {
        reads.assign(names.size(), fail(axIllegalArgument));
        return reads;
    }
    const Resolved target = resolve(element);
    // The extras the names need are fetched in one batch before the names are read one by one.
    if (target.kind == Kind::object) {
        if (AppTree* tree = trees_.treeOf(target.ref.name)) {
            int error = axSuccess;
            if (trees_.nodeOf(*tree, target.ref.path, error)) {
                uint8_t extras = 0;
                for (const auto& name : names) {
                    if (name == "AXPosition" || name == "AXSize" || name == "AXFrame")
                        extras |= extentsExtra;
                    else if (name == "AXValue")
                        extras |= textExtra | valueExtra;
                    else if (name == "AXPlaceholderValue")
                        extras |= attributesExtra;
                    else if (name == "AXChildren")
                        extras |= childrenExtra;
                }
                trees_.ensure(*tree, target.ref.path, extras);
            }
        }
    }
    for (const auto& name : names) reads.push_back(read(target, name));
    return reads;
}

AttributeRead LinuxAccessibility::read(const Resolved& target, const std::string& name) {
    switch (target.kind) {
        case Kind::systemWide:
            return readSystemWide(name);
        case Kind::application:
            return readApplication(target, name);
        case Kind::menu:
            return readMenu(target, name);
        case Kind::textRun:
            return readTextRun(target, name);
        case Kind::object:
            return readObject(target, name);
    }
    return unsupported();
}

AttributeRead LinuxAccessibility::readSystemWide(const std::string& name) {
    if (name == "AXRole") return ok("AXSystemWide");
    if (name != "AXFocusedApplication" && name != "AXFocusedUIElement") return unsupported();
    const auto pid = windows_.activePid();
    if (!pid || client_.busNameOf(*pid).empty()) return fail(axNoValue);
    const Element app = applicationElement(*pid);
    if (name == "AXFocusedApplication") return ok(app);
    return read(resolve(app), "AXFocusedUIElement");
}

AttributeRead LinuxAccessibility::readApplication(const Resolved& target, const std::string& name) {
    if (target.ref.name.empty()) return fail(axCannotComplete);  // not registered (yet)
    AppTree* tree = trees_.treeOf(target.ref.name);
    if (!tree) return fail(axInvalidElement);
    int error = axSuccess;
    Node* root = trees_.nodeOf(*tree, rootPath, error);
    if (!root) return fail(error);
    if (name == "AXRole") return ok("AXApplication");
    if (name == "AXTitle") return ok(root->name);
    if (name == "AXEnabled") return ok(true);
    if (name == "AXHidden") return ok(false);
    if (name == "AXFrontmost") return ok(windows_.activePid() == target.pid);
    if (name == "AXWindows" || name == "AXChildren") {
        Value::List list;
        for (auto& window : windowsOf(*tree, rootPath, target.pid)) list.emplace_back(window);
        return ok(std::move(list));
    }
    if (name == "AXFocusedWindow" || name == "AXMainWindow") {
        const auto windows = windowsOf(*tree, rootPath, target.pid);
        for (const auto& window : windows) {
            const auto* handle = static_cast<const Handle*>(window.get());
            const Node* node = tree->find(handle->ref.path);
            if (node && hasState(node->states, ATSPI_STATE_ACTIVE)) return ok(window);
        }
        // The main window of an app in the background is its first one.
        if (name == "AXMainWindow" && !windows.empty()) return ok(windows.front());
        return fail(axNoValue);
    }
    if (name == "AXMenuBar") {
        windowsOf(*tree, rootPath, target.pid);
        const Element bar = findInWindows(*tree, rootPath, target.pid, [](const Node& node) {
            return node.role == ATSPI_ROLE_MENU_BAR;
        });
        return bar ? ok(bar) : fail(axNoValue);
    }
    if (name == "AXFocusedUIElement") {
        windowsOf(*tree, rootPath, target.pid);
        const Element focused = findInWindows(*tree, rootPath, target.pid, [](const Node& node) {
            return hasState(node.states, ATSPI_STATE_FOCUSED);
        });
        return focused ? ok(focused) : fail(axNoValue);
    }
    return unsupported();
}

AttributeRead LinuxAccessibility::readMenu(const Resolved& target, const std::string& name) {
    AppTree* tree = trees_.treeOf(target.ref.name);
    if (!tree) return fail(axInvalidElement);
    int error = axSuccess;
    Node* item = trees_.nodeOf(*tree, target.ref.path, error);
    if (!item) return fail(error);
    if (name == "AXRole") return ok("AXMenu");
    if (name == "AXTitle") return ok("");
    if (name == "AXEnabled") return ok(true);
    if (name == "AXParent") return ok(elementFor(target.ref, target.pid));
    if (name == "AXChildren") {
        trees_.ensure(*tree, target.ref.path, childrenExtra);
        item = tree->find(target.ref.path);
        Value::List list;
        if (item) {
            for (const auto& child : std::vector<ObjectRef>(item->children))
                list.emplace_back(elementFor(child, target.pid));
        }
        return ok(std::move(list));
    }
    if (name == "AXHidden") {
        // Shown while its items are.
        for (const auto& child : item->children) {
            if (const Node* kid = tree->find(child.path))
                return ok(!hasState(kid->states, ATSPI_STATE_SHOWING));
        }
        return ok(true);
    }
    return unsupported();
}

Value::List LinuxAccessibility::childrenOf(AppTree& tree, const Resolved& target) {
    Node* node = tree.find(target.ref.path);
    if (!node) return {};
    const ObjectTraits traits = traitsOf(tree, *node);
    const bool ownText = holdsOwnText(traits, axRoleOf(traits));
    trees_.ensure(tree, target.ref.path, ownText ? childrenExtra | textExtra : childrenExtra,
                  ownText);
    node = tree.find(target.ref.path);
    if (!node) return {};
    const std::vector<ObjectRef> children = node->children;
    Value::List list;
    std::optional<std::vector<TextPiece>> pieces;
    // A container whose text is its name says nothing more in it (a heading, a link).
    if (ownText && node->text && trimmedName(*node->text) != node->name)
        pieces = textPieces(*node->text, children.size());
    if (!pieces) {
        for (const auto& child : children)
            list.emplace_back(elementFor(child, child.name == tree.busName ? target.pid : 0));
        return list;
    }
    for (size_t i = 0; i < pieces->size(); ++i) {
        const TextPiece& piece = (*pieces)[i];
        if (piece.child) {
            const ObjectRef& child = children[*piece.child];
            list.emplace_back(elementFor(child, child.name == tree.busName ? target.pid : 0));
            continue;
        }
        auto run = std::make_shared<Handle>();
        run->kind = Kind::textRun;
        run->ref = target.ref;
        run->pid = target.pid;
        run->run = i;
        run->text = piece.text;
        list.emplace_back(Element(run));
    }
    return list;
}

bool LinuxAccessibility::waitWhileBusy(AppTree*& tree, const Resolved& target) {
    constexpr Duration busyLimit = std::chrono::seconds(3);
    constexpr Duration busyPoll = std::chrono::milliseconds(100);
    const Node* node = tree->find(target.ref.path);
    if (!node || !hasState(node->states, ATSPI_STATE_BUSY)) return false;
    for (Duration waited{}; waited < busyLimit; waited += busyPoll) {
        clock_.sleepFor(busyPoll);
        // Read the document anew, and with it every name that was missing.
        trees_.forget();
        tree = trees_.treeOf(target.ref.name);
        if (!tree) return true;
        int error = axSuccess;
        node = trees_.nodeOf(*tree, target.ref.path, error);
        if (!node || !hasState(node->states, ATSPI_STATE_BUSY)) return true;
    }
    return true;
}

AttributeRead LinuxAccessibility::readTextRun(const Resolved& target, const std::string& name) {
    // The run lives as long as its container does.
    AppTree* tree = trees_.treeOf(target.ref.name);
    if (!tree) return fail(axInvalidElement);
    int error = axSuccess;
    if (!trees_.nodeOf(*tree, target.ref.path, error)) return fail(error);
    if (name == "AXRole") return ok("AXStaticText");
    if (name == "AXValue") return ok(target.text);
    if (name == "AXTitle" || name == "AXDescription") return ok("");
    if (name == "AXChildren") return ok(Value::List{});
    if (name == "AXParent") return ok(elementFor(target.ref, target.pid));
    if (name == "AXHidden") return ok(false);
    if (name == "AXEnabled") return ok(true);
    if (name == "AXNumberOfCharacters") return ok(utf16Length(target.text));
    if (name == "AXWindow" || name == "AXTopLevelUIElement") {
        Resolved container = target;
        container.kind = Kind::object;
        return readObject(container, name);
    }
    return unsupported();
}

AttributeRead LinuxAccessibility::readObject(const Resolved& target, const std::string& name) {
    AppTree* tree = trees_.treeOf(target.ref.name);
    if (!tree) return fail(axInvalidElement);
    int error = axSuccess;
    Node* node = trees_.nodeOf(*tree, target.ref.path, error);
    if (!node) return fail(error);
    const ObjectTraits traits = traitsOf(*tree, *node);
    const AXRole role = axRoleOf(traits);
    const bool window = role.role == "AXWindow";

    if (name == "AXRole") return ok(role.role);
    if (name == "AXSubrole") return role.subrole ? ok(*role.subrole) : fail(axNoValue);
    if (name == "AXTitle") {
        if (!nameIsTitle(role)) return ok("");
        if (!node->name.empty()) return ok(node->name);
        // Toolkits that draw their own title bar may leave the window's name empty; the window
        // manager still knows the title.
        if (window) {
            if (auto title = windowTitle(*tree, target.ref.path, target.pid)) return ok(*title);
        }
        return ok("");
    }
    if (name == "AXDescription") return ok(node->description);
    if (name == "AXValue" && role.role == "AXScrollBar") {
        if (!(node->interfaces & valueInterface)) return unsupported();
        int failure = axSuccess;
        const auto range = objects_.valueRange(target.ref, failure);
        if (!range) return fail(failure);
        const double span = range->maximum - range->minimum;
        return ok(span > 0 ? std::clamp((range->current - range->minimum) / span, 0.0, 1.0) : 0.0);
    }
    if (name == "AXSelectedText") {
        if (!(node->interfaces & textInterface)) return unsupported();
        const auto range = objects_.selection(target.ref);
        if (!range) return fail(axNoValue);
        if (range->second <= range->first) return ok("");
        auto message = objectCall(target.ref, ATSPI_DBUS_INTERFACE_TEXT, "GetText");
        if (message) {
            appendInt(message.get(), range->first);
            appendInt(message.get(), range->second);
        }
        std::vector<AtspiClient::Call> calls;
        calls.push_back({target.ref.name, std::move(message)});
        const auto answers = client_.callAll(std::move(calls));
        DBusMessageIter iter;
        if (!firstArgument(answers[0], iter)) return fail(errorOf(answers[0]));
        return ok(readString(iter).value_or(""));
    }
    if (name == "AXVerticalScrollBar" || name == "AXHorizontalScrollBar") {
        if (role.role != "AXScrollArea") return unsupported();
        trees_.ensure(*tree, target.ref.path, childrenExtra);
        node = tree->find(target.ref.path);
        if (!node) return fail(axInvalidElement);
        const int wanted =
            name == "AXVerticalScrollBar" ? ATSPI_STATE_VERTICAL : ATSPI_STATE_HORIZONTAL;
        for (const auto& child : node->children) {
            const Node* bar = tree->find(child.path);
            if (bar && bar->role == ATSPI_ROLE_SCROLL_BAR && hasState(bar->states, wanted))
                return ok(elementFor(child, target.pid));
        }
        return fail(axNoValue);
    }
    if (name == "AXValue") {
        switch (valueSourceOf(traits, role, !node->name.empty())) {
            case ValueSource::checkState:
                return ok(checkValue(node->states));
            case ValueSource::name:
                return ok(node->name);
            case ValueSource::text:
                trees_.ensure(*tree, target.ref.path, textExtra);
                node = tree->find(target.ref.path);
                if (!node || node->gone) return fail(axInvalidElement);
                return node->text ? ok(*node->text) : fail(axNoValue);
            case ValueSource::number:
                trees_.ensure(*tree, target.ref.path, valueExtra);
                node = tree->find(target.ref.path);
                if (!node || node->gone) return fail(axInvalidElement);
                return node->value ? ok(*node->value) : fail(axNoValue);
            case ValueSource::none:
                return unsupported();
        }
    }
    if (name == "AXPlaceholderValue") {
        if (role.role != "AXTextField" && role.role != "AXTextArea" && role.role != "AXComboBox")
            return unsupported();
        trees_.ensure(*tree, target.ref.path, attributesExtra);
        node = tree->find(target.ref.path);
        if (!node) return fail(axInvalidElement);
        for (const char* key : {"placeholder-text", "placeholder"}) {
            if (const auto found = node->attributes.find(key); found != node->attributes.end())
                return ok(found->second);
        }
        return fail(axNoValue);
    }
    if (name == "AXHidden") {
        if (isHidden(traits)) return ok(true);
        // GTK 4 says "visible" also of what it has not put on screen (a closed revealer's bar,
        // a page behind another): that has no size.
        if (traits.toolkit == Toolkit::gtk4 && (node->interfaces & componentInterface) &&
            role.role != "AXWindow") {
            trees_.ensure(*tree, target.ref.path, extentsExtra);
            node = tree->find(target.ref.path);
            if (!node) return fail(axInvalidElement);
            if (node->extents &&
                (node->extents->size.width <= 0 || node->extents->size.height <= 0))
                return ok(true);
        }
        return ok(false);
    }
    if (name == "AXEnabled") return ok(isEnabled(traits));
    if (name == "AXFocused")
        return ok(hasState(node->states, window ? ATSPI_STATE_ACTIVE : ATSPI_STATE_FOCUSED));
    if (name == "AXMain")
        return window ? ok(hasState(node->states, ATSPI_STATE_ACTIVE)) : unsupported();
    if (name == "AXMinimized")
        return window ? ok(hasState(node->states, ATSPI_STATE_ICONIFIED)) : unsupported();
    if (name == "AXModal") return ok(hasState(node->states, ATSPI_STATE_MODAL));
    if (name == "AXSelected") return ok(hasState(node->states, ATSPI_STATE_SELECTED));
    if (name == "AXExpanded") {
        const auto expanded = expandedState(traits);
        return expanded ? ok(*expanded) : unsupported();
    }
    if (name == "AXPosition" || name == "AXSize" || name == "AXFrame") {
        if (!(node->interfaces & componentInterface)) return unsupported();
        // What is not on screen has no place there (toolkits report stale or empty extents).
        if (isHidden(traits)) return fail(axNoValue);
        trees_.ensure(*tree, target.ref.path, extentsExtra);
        node = tree->find(target.ref.path);
        if (!node || node->gone) return fail(axInvalidElement);
        if (!node->extents) return fail(axNoValue);
        if (name == "AXPosition") return ok(node->extents->origin);
        if (name == "AXSize") return ok(node->extents->size);
        return ok(*node->extents);
    }
    if (name == "AXChildren") {
        if (hasSubmenu(*node, traits.parentRole)) {
            auto menu = std::make_shared<Handle>();
            menu->kind = Kind::menu;
            menu->ref = target.ref;
            menu->pid = target.pid;
            return ok(Value::List{Value(Element(menu))});
        }
        if (node->role == ATSPI_ROLE_DOCUMENT_WEB && waitWhileBusy(tree, target)) {
            node = tree ? tree->find(target.ref.path) : nullptr;
            if (!node) return fail(axInvalidElement);
        }
        return ok(childrenOf(*tree, target));
    }
    if (name == "AXParent") {
        if (node->parent.isNull()) return fail(axNoValue);
        if (node->parent.name == tree->busName) {
            if (const Node* parent = tree->find(node->parent.path)) {
                const uint32_t grandRole = [&] {
                    const Node* above = tree->find(parent->parent.path);
                    return above ? above->role : static_cast<uint32_t>(ATSPI_ROLE_INVALID);
                }();
                if (hasSubmenu(*parent, grandRole)) {
                    auto menu = std::make_shared<Handle>();
                    menu->kind = Kind::menu;
                    menu->ref = node->parent;
                    menu->pid = target.pid;
                    return ok(Element(menu));
                }
            }
        }
        return ok(elementFor(node->parent, node->parent.name == tree->busName ? target.pid : 0));
    }
    if (name == "AXWindow" || name == "AXTopLevelUIElement") {
        std::string at = target.ref.path;
        for (int depth = 0; depth < 200; ++depth) {
            const Node* above = tree->find(at);
            if (!above) break;
            const Node* parent = tree->find(above->parent.path);
            if (isWindowNode(*above) && (!parent || parent->role == ATSPI_ROLE_APPLICATION))
                return ok(elementFor({tree->busName, at}, target.pid));
            if (above->parent.name != tree->busName || !parent) break;
            at = above->parent.path;
        }
        return fail(axNoValue);
    }
    if (name == "AXMenuItemCmdChar" || name == "AXMenuItemCmdModifiers") {
        if (role.role != "AXMenuItem") return unsupported();
        trees_.ensure(*tree, target.ref.path, actionsExtra);
        node = tree->find(target.ref.path);
        if (!node) return fail(axInvalidElement);
        for (const auto& action : node->actions) {
            if (const auto shortcut = menuShortcutOf(action.keyBinding)) {
                if (name == "AXMenuItemCmdChar") return ok(shortcut->character);
                return ok(shortcut->modifiers);
            }
        }
        return fail(axNoValue);
    }
    if (name == "AXMenuItemMarkChar") {
        if (role.role != "AXMenuItem") return unsupported();
        return hasState(node->states, ATSPI_STATE_CHECKED) ? ok("\u2713") : fail(axNoValue);
    }
    if (name == "AXNumberOfCharacters") {
        if (!(node->interfaces & textInterface)) return unsupported();
        trees_.ensure(*tree, target.ref.path, textExtra, true);
        node = tree->find(target.ref.path);
        if (!node || !node->text) return fail(axNoValue);
        return ok(utf16Length(*node->text));
    }
    return unsupported();
}

}  // namespace pelko::computer::linux_desktop
