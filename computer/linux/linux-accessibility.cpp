#include "linux-accessibility.h"

#include <atspi/atspi-constants.h>

#include <deque>
#include <iostream>
#include <set>

#include "utf8.h"

namespace pelko::computer::linux_desktop {

struct LinuxAccessibility::Handle final : ElementHandle {
    enum class Kind { object, application, systemWide, menu };
    Kind kind = Kind::object;
    pid_t pid = 0;
    /// For an application made from a process id the bus name is found when it is used, so an
    /// element made before the application registered works once it has.
    ObjectRef ref;
};

// An element with its bus name known.
struct LinuxAccessibility::Resolved {
    Handle::Kind kind = Handle::Kind::object;
    pid_t pid = 0;
    ObjectRef ref;
};

namespace {

using Kind = LinuxAccessibility::Handle::Kind;

constexpr size_t prefetchLimit = 400;
// Objects with more actions than this show the first ones.
constexpr int64_t maxActions = 16;
constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";
constexpr Duration trustLifetime = std::chrono::seconds(1);
// How long a window presented by a focus change may take to become active, and how often that
// is looked at.
constexpr Duration focusSettling = std::chrono::milliseconds(300);
constexpr Duration focusPoll = std::chrono::milliseconds(20);

const std::string rootPath = ATSPI_DBUS_PATH_ROOT;

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

MessagePtr call(const ObjectRef& ref, const char* interface, const char* method) {
    return methodCall(ref.name, ref.path, interface, method);
}

void appendString(DBusMessage* message, const char* text) {
    dbus_message_append_args(message, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID);
}

void appendInt(DBusMessage* message, dbus_int32_t value) {
    dbus_message_append_args(message, DBUS_TYPE_INT32, &value, DBUS_TYPE_INVALID);
}

void appendUint(DBusMessage* message, dbus_uint32_t value) {
    dbus_message_append_args(message, DBUS_TYPE_UINT32, &value, DBUS_TYPE_INVALID);
}

MessagePtr propertyGet(const ObjectRef& ref, const char* interface, const char* property) {
    auto message = call(ref, propertiesInterface, "Get");
    if (message) {
        appendString(message.get(), interface);
        appendString(message.get(), property);
    }
    return message;
}

// The first argument of a reply.
bool firstArgument(const CallResult& result, DBusMessageIter& iter) {
    return result.ok() && dbus_message_iter_init(result.reply.get(), &iter);
}

std::optional<std::vector<ObjectRef>> readRefs(DBusMessageIter& iter) {
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY) return std::nullopt;
    DBusMessageIter array;
    dbus_message_iter_recurse(&iter, &array);
    std::vector<ObjectRef> refs;
    while (auto ref = readObjectRef(array)) {
        refs.push_back(std::move(*ref));
        if (!dbus_message_iter_next(&array)) break;
    }
    return refs;
}

std::optional<Rect> readExtents(DBusMessageIter& iter) {
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_STRUCT) return std::nullopt;
    DBusMessageIter field;
    dbus_message_iter_recurse(&iter, &field);
    int64_t numbers[4];
    for (int i = 0; i < 4; ++i) {
        const auto number = readInteger(field);
        if (!number) return std::nullopt;
        numbers[i] = *number;
        dbus_message_iter_next(&field);
    }
    return Rect{{static_cast<double>(numbers[0]), static_cast<double>(numbers[1])},
                {static_cast<double>(numbers[2]), static_cast<double>(numbers[3])}};
}

std::map<std::string, std::string> readStringMap(DBusMessageIter& iter) {
    std::map<std::string, std::string> entries;
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY) return entries;
    DBusMessageIter array;
    dbus_message_iter_recurse(&iter, &array);
    while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_DICT_ENTRY) {
        DBusMessageIter entry;
        dbus_message_iter_recurse(&array, &entry);
        auto key = readString(entry);
        dbus_message_iter_next(&entry);
        auto value = readString(entry);
        if (key && value) entries[*key] = *value;
        dbus_message_iter_next(&array);
    }
    return entries;
}

// The length of UTF-8 text in UTF-16 units, as the platform counts characters.
int64_t utf16Length(std::string_view text) {
    int64_t units = 0;
    for (const CodePoint& codePoint : CodePoints(text)) units += codePoint.value > 0xFFFF ? 2 : 1;
    return units;
}

int errorOf(const CallResult& result) {
    if (result.ok()) return axSuccess;
    if (meansGone(result.errorName)) return axInvalidElement;
    return axCannotComplete;
}

}  // namespace

LinuxAccessibility::LinuxAccessibility(AtspiClient& client, WindowSystem& windows, Clock& clock,
                                       ChangeCount& changes)
    : client_(client), windows_(windows), clock_(clock), changes_(changes) {}

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
    if (!handle) return {Kind::systemWide, 0, {}};
    Resolved resolved{handle->kind, handle->pid, handle->ref};
    if (handle->kind == Kind::application && resolved.ref.name.empty())
        resolved.ref.name = client_.busNameOf(handle->pid);
    return resolved;
}

void LinuxAccessibility::forgetTrees() {
    std::lock_guard lock(mutex_);
    trees_.clear();
}

AppTree* LinuxAccessibility::treeOf(const std::string& busName) {
    if (busName.empty()) return nullptr;
    const Instant now = clock_.now();
    if (auto found = trees_.find(busName); found != trees_.end()) {
        const AppTree& tree = found->second;
        if (tree.generation == changes_.now() && now - tree.fetchedAt < tree.lifetime)
            return &found->second;
        trees_.erase(found);
    }
    std::vector<AtspiClient::Call> calls;
    calls.push_back({busName, methodCall(busName, "/org/a11y/atspi/cache",
                                         ATSPI_DBUS_INTERFACE_CACHE, "GetItems")});
    auto answers = client_.callAll(std::move(calls));
    AppTree tree;
    if (answers[0].ok()) {
        if (auto items = parseCacheItems(answers[0].reply.get()))
            tree = treeFromCache(busName, std::move(*items));
    } else if (answers[0].errorName != DBUS_ERROR_UNKNOWN_METHOD &&
               answers[0].errorName != DBUS_ERROR_UNKNOWN_OBJECT &&
               answers[0].errorName != DBUS_ERROR_UNKNOWN_INTERFACE &&
               meansGone(answers[0].errorName)) {
        return nullptr;  // the application is gone
    }
    // Without the bulk read (a toolkit without the cache interface) objects are read as asked.
    tree.busName = busName;
    tree.generation = changes_.now();
    tree.fetchedAt = now;
    tree.lifetime = treeLifetime(clock_.now() - now);
    return &(trees_[busName] = std::move(tree));
}

void LinuxAccessibility::readNodes(AppTree& tree, const std::vector<std::string>& paths) {
    std::vector<AtspiClient::Call> calls;
    for (const auto& path : paths) {
        const ObjectRef ref{tree.busName, path};
        calls.push_back({tree.busName, call(ref, ATSPI_DBUS_INTERFACE_ACCESSIBLE, "GetRole")});
        calls.push_back({tree.busName, call(ref, ATSPI_DBUS_INTERFACE_ACCESSIBLE, "GetState")});
        calls.push_back(
            {tree.busName, call(ref, ATSPI_DBUS_INTERFACE_ACCESSIBLE, "GetInterfaces")});
        auto all = call(ref, propertiesInterface, "GetAll");
        if (all) appendString(all.get(), ATSPI_DBUS_INTERFACE_ACCESSIBLE);
        calls.push_back({tree.busName, std::move(all)});
    }
    const auto answers = client_.callAll(std::move(calls));
    for (size_t i = 0; i < paths.size(); ++i) {
        const CallResult* answer = &answers[4 * i];
        DBusMessageIter iter;
        if (!firstArgument(answer[0], iter)) continue;
        Node node;
        node.role = static_cast<uint32_t>(readInteger(iter).value_or(ATSPI_ROLE_UNKNOWN));
        if (firstArgument(answer[1], iter)) node.states = readStateSet(iter).value_or(0);
        if (firstArgument(answer[2], iter)) node.interfaces = readInterfaces(iter).value_or(0);
        if (firstArgument(answer[3], iter) &&
            dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_ARRAY) {
            DBusMessageIter array;
            dbus_message_iter_recurse(&iter, &array);
            while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_DICT_ENTRY) {
                DBusMessageIter entry;
                dbus_message_iter_recurse(&array, &entry);
                const std::string key = readString(entry).value_or("");
                dbus_message_iter_next(&entry);
                DBusMessageIter value = unwrapVariant(entry);
                if (key == "Name")
                    node.name = trimmedName(readString(value).value_or(""));
                else if (key == "Description")
                    node.description = readString(value).value_or("");
                else if (key == "Parent")
                    node.parent = readObjectRef(value).value_or(ObjectRef{});
                else if (key == "ChildCount")
                    node.childCount = static_cast<int>(readInteger(value).value_or(0));
                dbus_message_iter_next(&array);
            }
        }
        if (node.childCount == 0) {
            node.childrenKnown = true;
            node.fetched |= childrenExtra;
        }
        // An object the bulk read left out that hangs below nothing has been taken out of its
        // window (the toolkit frees it later): it is gone.
        if (tree.bulk && node.role != ATSPI_ROLE_APPLICATION && node.parent.isNull())
            node.gone = true;
        tree.nodes[paths[i]] = std::move(node);
    }
}

Node* LinuxAccessibility::nodeOf(AppTree& tree, const std::string& path, int& error) {
    if (Node* node = tree.find(path)) {
        if (!node->gone) return node;
        error = axInvalidElement;
        return nullptr;
    }
    readNodes(tree, {path});
    if (Node* node = tree.find(path)) return node;
    error = axInvalidElement;
    return nullptr;
}

ObjectTraits LinuxAccessibility::traitsOf(AppTree& tree, const Node& node) {
    ObjectTraits traits{node.role, node.states, node.interfaces, ATSPI_ROLE_INVALID, false};
    if (node.parent.name == tree.busName) {
        if (const Node* parent = tree.find(node.parent.path)) traits.parentRole = parent->role;
    }
    if (node.role == ATSPI_ROLE_COMBO_BOX) {
        for (const auto& child : node.children) {
            const Node* kid = tree.find(child.path);
            if (kid && (kid->interfaces & editableTextInterface) &&
                hasState(kid->states, ATSPI_STATE_EDITABLE))
                traits.hasEditableChild = true;
        }
    }
    return traits;
}

std::vector<std::string> LinuxAccessibility::readingOrder(AppTree& tree, const std::string& path) {
    // The window (or other top object) that holds the object: the order is its pre-order.
    std::string top = path;
    for (int depth = 0; depth < 500; ++depth) {
        const Node* node = tree.find(top);
        if (!node || node->parent.name != tree.busName || node->parent.path == rootPath) break;
        if (!tree.find(node->parent.path)) break;
        top = node->parent.path;
    }
    std::vector<std::string> order = {path};
    bool reached = top == path;
    std::vector<std::string> stack = {top};
    std::set<std::string> seen;
    while (!stack.empty() && order.size() < prefetchLimit) {
        const std::string at = stack.back();
        stack.pop_back();
        if (!seen.insert(at).second) continue;
        const Node* node = tree.find(at);
        if (!node || node->gone) continue;
        if (at == path) {
            reached = true;
        } else {
            // What is not on screen is not read ahead, and neither is anything below it.
            if (isHidden(traitsOf(tree, *node))) continue;
            if (reached) order.push_back(at);
        }
        for (auto child = node->children.rbegin(); child != node->children.rend(); ++child) {
            if (child->name == tree.busName) stack.push_back(child->path);
        }
    }
    return order;
}

void LinuxAccessibility::ensure(AppTree& tree, const std::string& path, uint8_t extras, bool text) {
    Node* target = tree.find(path);
    if (!target) return;

    // Which extras an object would be asked for: those its interfaces can answer and its reads
    // use (its value's text or number, a field's placeholder), and of an object off screen only
    // where it is, which is all a reader learns of it. `text` asks for the text in any case.
    auto wanted = [&](const Node& node, bool asked) -> uint8_t {
        uint8_t want = extras & ~node.fetched;
        const ObjectTraits traits = traitsOf(tree, node);
        const AXRole role = axRoleOf(traits);
        const ValueSource source = valueSourceOf(traits, role, !node.name.empty());
        if (!(node.interfaces & componentInterface)) want &= ~extentsExtra;
        if (!(node.interfaces & textInterface) || (source != ValueSource::text && !(asked && text)))
            want &= ~textExtra;
        if (!(node.interfaces & valueInterface) || source != ValueSource::number)
            want &= ~valueExtra;
        if (!(node.interfaces & actionInterface)) want &= ~actionsExtra;
        if (role.role != "AXTextField" && role.role != "AXTextArea" && role.role != "AXComboBox")
            want &= ~attributesExtra;
        if (node.childrenKnown) want &= ~childrenExtra;
        // Of an object off screen nothing but its children is read ahead of time, and no
        // extents at all: it has no place on screen.
        if (isHidden(traits)) want &= asked ? static_cast<uint8_t>(~extentsExtra) : 0;
        return want;
    };
    const uint8_t missing = wanted(*target, true);
    // What the object cannot answer counts as read, so it is not looked at again.
    target->fetched |= extras & ~missing;
    if (!missing) return;

    // The asked object, then the shown objects that follow it in reading order: the order in
    // which an outline asks for them.
    std::vector<std::pair<std::string, uint8_t>> batch;
    for (const auto& at : readingOrder(tree, path)) {
        const Node* node = tree.find(at);
        if (!node) continue;
        if (const uint8_t want = wanted(*node, at == path) & missing) batch.emplace_back(at, want);
    }

    std::vector<AtspiClient::Call> calls;
    std::vector<std::pair<size_t, uint8_t>> slots;  // batch entry, the extra its call reads
    auto add = [&](size_t entry, uint8_t extra, MessagePtr message) {
        calls.push_back({tree.busName, std::move(message)});
        slots.emplace_back(entry, extra);
    };
    for (size_t entry = 0; entry < batch.size(); ++entry) {
        const ObjectRef ref{tree.busName, batch[entry].first};
        const uint8_t want = batch[entry].second;
        if (want & extentsExtra) {
            auto message = call(ref, ATSPI_DBUS_INTERFACE_COMPONENT, "GetExtents");
            if (message) appendUint(message.get(), ATSPI_COORD_TYPE_SCREEN);
            add(entry, extentsExtra, std::move(message));
        }
        if (want & textExtra) {
            auto message = call(ref, ATSPI_DBUS_INTERFACE_TEXT, "GetText");
            if (message) {
                appendInt(message.get(), 0);
                appendInt(message.get(), -1);
            }
            add(entry, textExtra, std::move(message));
        }
        if (want & valueExtra)
            add(entry, valueExtra, propertyGet(ref, ATSPI_DBUS_INTERFACE_VALUE, "CurrentValue"));
        // The number of actions first, then each action's name: the names are not the
        // localized ones (so the press action is found in any language), and the bulk
        // "GetActions" of some bridge versions aborts the application that answers it.
        if (want & actionsExtra)
            add(entry, actionsExtra, propertyGet(ref, ATSPI_DBUS_INTERFACE_ACTION, "NActions"));
        if (want & attributesExtra)
            add(entry, attributesExtra,
                call(ref, ATSPI_DBUS_INTERFACE_ACCESSIBLE, "GetAttributes"));
        if (want & childrenExtra)
            add(entry, childrenExtra, call(ref, ATSPI_DBUS_INTERFACE_ACCESSIBLE, "GetChildren"));
    }
    const bool needsOrigin = std::any_of(
        batch.begin(), batch.end(), [](const auto& entry) { return entry.second & extentsExtra; });
    const Point origin = needsOrigin ? windows_.primaryOrigin() : Point{};
    const auto answers = client_.callAll(std::move(calls));

    std::vector<std::string> unknown;
    std::vector<std::pair<std::string, int>> actionCounts;
    for (size_t i = 0; i < answers.size(); ++i) {
        const auto [entry, extra] = slots[i];
        Node* node = tree.find(batch[entry].first);
        if (!node) continue;
        node->fetched |= extra;
        const CallResult& answer = answers[i];
        if (!answer.ok()) {
            if (errorOf(answer) == axInvalidElement &&
                answer.errorName != DBUS_ERROR_UNKNOWN_METHOD)
                node->gone = true;
            continue;
        }
        DBusMessageIter iter;
        if (!firstArgument(answer, iter)) continue;
        switch (extra) {
            case extentsExtra:
                if (auto extents = readExtents(iter)) {
                    extents->origin.x -= origin.x;
                    extents->origin.y -= origin.y;
                    node->extents = *extents;
                }
                break;
            case textExtra:
                node->text = readString(iter);
                break;
            case valueExtra: {
                DBusMessageIter value = unwrapVariant(iter);
                node->value = readDouble(value);
                break;
            }
            case actionsExtra: {
                DBusMessageIter value = unwrapVariant(iter);
                node->actions.clear();
                const int count = static_cast<int>(
                    std::clamp<int64_t>(readInteger(value).value_or(0), 0, maxActions));
                if (count > 0) actionCounts.emplace_back(batch[entry].first, count);
                break;
            }
            case attributesExtra:
                node->attributes = readStringMap(iter);
                break;
            case childrenExtra:
                if (auto refs = readRefs(iter)) {
                    node->children = std::move(*refs);
                    node->childrenKnown = true;
                    for (const auto& child : node->children) {
                        if (child.name == tree.busName && !tree.find(child.path))
                            unknown.push_back(child.path);
                    }
                }
                break;
            default:
                break;
        }
    }
    if (!actionCounts.empty()) readActions(tree, actionCounts);
    // Objects a view makes on demand are missing from the bulk read: read them all at once.
    if (!unknown.empty()) readNodes(tree, unknown);
}

void LinuxAccessibility::readActions(AppTree& tree,
                                     const std::vector<std::pair<std::string, int>>& counts) {
    std::vector<AtspiClient::Call> calls;
    for (const auto& [path, count] : counts) {
        const ObjectRef ref{tree.busName, path};
        const Node* node = tree.find(path);
        // Only menu items show their shortcut.
        const bool menuItem = node && axRoleOf(traitsOf(tree, *node)).role == "AXMenuItem";
        for (int i = 0; i < count; ++i) {
            auto name = call(ref, ATSPI_DBUS_INTERFACE_ACTION, "GetName");
            if (name) appendInt(name.get(), i);
            calls.push_back({tree.busName, std::move(name)});
            if (menuItem) {
                auto binding = call(ref, ATSPI_DBUS_INTERFACE_ACTION, "GetKeyBinding");
                if (binding) appendInt(binding.get(), i);
                calls.push_back({tree.busName, std::move(binding)});
            }
        }
    }
    const auto answers = client_.callAll(std::move(calls));
    size_t at = 0;
    for (const auto& [path, count] : counts) {
        Node* node = tree.find(path);
        const bool menuItem = node && axRoleOf(traitsOf(tree, *node)).role == "AXMenuItem";
        std::vector<ToolkitAction> actions;
        for (int i = 0; i < count; ++i) {
            ToolkitAction action;
            DBusMessageIter iter;
            if (firstArgument(answers[at++], iter)) action.name = readString(iter).value_or("");
            if (menuItem && firstArgument(answers[at++], iter))
                action.keyBinding = readString(iter).value_or("");
            actions.push_back(std::move(action));
        }
        if (node) node->actions = std::move(actions);
    }
}

std::vector<Element> LinuxAccessibility::windowsOf(AppTree& tree, const std::string& root,
                                                   pid_t pid) {
    std::vector<Element> windows;
    int error = axSuccess;
    Node* app = nodeOf(tree, root, error);
    if (!app) return windows;
    ensure(tree, root, childrenExtra);
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
        windows.push_back(elementFor(child, pid));
    }
    return windows;
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
    ensure(tree, path, extentsExtra);
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
        if (AppTree* tree = treeOf(target.ref.name)) {
            int error = axSuccess;
            if (nodeOf(*tree, target.ref.path, error)) {
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
                ensure(*tree, target.ref.path, extras);
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
    AppTree* tree = treeOf(target.ref.name);
    if (!tree) return fail(axInvalidElement);
    int error = axSuccess;
    Node* root = nodeOf(*tree, rootPath, error);
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
    AppTree* tree = treeOf(target.ref.name);
    if (!tree) return fail(axInvalidElement);
    int error = axSuccess;
    Node* item = nodeOf(*tree, target.ref.path, error);
    if (!item) return fail(error);
    if (name == "AXRole") return ok("AXMenu");
    if (name == "AXTitle") return ok("");
    if (name == "AXEnabled") return ok(true);
    if (name == "AXParent") return ok(elementFor(target.ref, target.pid));
    if (name == "AXChildren") {
        ensure(*tree, target.ref.path, childrenExtra);
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

AttributeRead LinuxAccessibility::readObject(const Resolved& target, const std::string& name) {
    AppTree* tree = treeOf(target.ref.name);
    if (!tree) return fail(axInvalidElement);
    int error = axSuccess;
    Node* node = nodeOf(*tree, target.ref.path, error);
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
        const auto range = valueRange(target.ref, failure);
        if (!range) return fail(failure);
        const double span = range->maximum - range->minimum;
        return ok(span > 0 ? std::clamp((range->current - range->minimum) / span, 0.0, 1.0) : 0.0);
    }
    if (name == "AXSelectedText") {
        if (!(node->interfaces & textInterface)) return unsupported();
        const auto range = selection(target.ref);
        if (!range) return fail(axNoValue);
        if (range->second <= range->first) return ok("");
        auto message = call(target.ref, ATSPI_DBUS_INTERFACE_TEXT, "GetText");
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
        ensure(*tree, target.ref.path, childrenExtra);
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
                ensure(*tree, target.ref.path, textExtra);
                node = tree->find(target.ref.path);
                if (!node || node->gone) return fail(axInvalidElement);
                return node->text ? ok(*node->text) : fail(axNoValue);
            case ValueSource::number:
                ensure(*tree, target.ref.path, valueExtra);
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
        ensure(*tree, target.ref.path, attributesExtra);
        node = tree->find(target.ref.path);
        if (!node) return fail(axInvalidElement);
        for (const char* key : {"placeholder-text", "placeholder"}) {
            if (const auto found = node->attributes.find(key); found != node->attributes.end())
                return ok(found->second);
        }
        return fail(axNoValue);
    }
    if (name == "AXHidden") return ok(isHidden(traits));
    if (name == "AXEnabled") return ok(isEnabled(node->states));
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
        ensure(*tree, target.ref.path, extentsExtra);
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
        ensure(*tree, target.ref.path, childrenExtra);
        node = tree->find(target.ref.path);
        if (!node) return fail(axInvalidElement);
        Value::List list;
        for (const auto& child : std::vector<ObjectRef>(node->children))
            list.emplace_back(elementFor(child, child.name == tree->busName ? target.pid : 0));
        return ok(std::move(list));
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
        ensure(*tree, target.ref.path, actionsExtra);
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
        ensure(*tree, target.ref.path, textExtra, true);
        node = tree->find(target.ref.path);
        if (!node || !node->text) return fail(axNoValue);
        return ok(utf16Length(*node->text));
    }
    return unsupported();
}

std::optional<bool> LinuxAccessibility::isSettable(const Element& element,
                                                   const std::string& name) {
    std::lock_guard lock(mutex_);
    const Resolved target = resolve(element);
    if (target.kind != Kind::object) return false;
    AppTree* tree = treeOf(target.ref.name);
    if (!tree) return std::nullopt;
    int error = axSuccess;
    const Node* node = nodeOf(*tree, target.ref.path, error);
    if (!node) return std::nullopt;
    const ObjectTraits traits = traitsOf(*tree, *node);
    const AXRole role = axRoleOf(traits);
    const bool window = role.role == "AXWindow";
    if (name == "AXValue") {
        if ((node->interfaces & editableTextInterface) &&
            hasState(node->states, ATSPI_STATE_EDITABLE))
            return true;
        return (node->interfaces & valueInterface) && isEnabled(node->states) &&
               !hasState(node->states, ATSPI_STATE_READ_ONLY) &&
               role.role != "AXProgressIndicator" && role.role != "AXLevelIndicator";
    }
    if (name == "AXSelectedText")
        return (node->interfaces & editableTextInterface) && (node->interfaces & textInterface) &&
               hasState(node->states, ATSPI_STATE_EDITABLE);
    if (name == "AXFocused") return window || hasState(node->states, ATSPI_STATE_FOCUSABLE);
    if (name == "AXSelected") {
        const Node* parent = tree->find(node->parent.path);
        return hasState(node->states, ATSPI_STATE_SELECTABLE) && parent &&
               (parent->interfaces & selectionInterface);
    }
    if (name == "AXMain" || name == "AXMinimized") return window;
    return false;
}

int LinuxAccessibility::callBoolean(const ObjectRef& ref, const char* interface, const char* method,
                                    std::optional<int32_t> argument, const std::string* text) {
    auto message = call(ref, interface, method);
    if (message && text) appendString(message.get(), text->c_str());
    if (message && argument) appendInt(message.get(), *argument);
    std::vector<AtspiClient::Call> calls;
    calls.push_back({ref.name, std::move(message)});
    const auto answers = client_.callAll(std::move(calls));
    changes_.bump();
    DBusMessageIter iter;
    if (!firstArgument(answers[0], iter)) return errorOf(answers[0]);
    return readBoolean(iter).value_or(true) ? axSuccess : axCannotComplete;
}

int LinuxAccessibility::setNumber(const ObjectRef& ref, double value) {
    auto message = call(ref, propertiesInterface, "Set");
    if (!message) return axFailure;
    const char* interface = ATSPI_DBUS_INTERFACE_VALUE;
    const char* property = "CurrentValue";
    DBusMessageIter iter, variant;
    dbus_message_iter_init_append(message.get(), &iter);
    dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &interface);
    dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &property);
    dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, "d", &variant);
    dbus_message_iter_append_basic(&variant, DBUS_TYPE_DOUBLE, &value);
    dbus_message_iter_close_container(&iter, &variant);
    std::vector<AtspiClient::Call> calls;
    calls.push_back({ref.name, std::move(message)});
    const auto answers = client_.callAll(std::move(calls));
    changes_.bump();
    return errorOf(answers[0]);
}

std::optional<LinuxAccessibility::ValueRange> LinuxAccessibility::valueRange(const ObjectRef& ref,
                                                                             int& error) {
    std::vector<AtspiClient::Call> calls;
    for (const char* property :
         {"CurrentValue", "MinimumValue", "MaximumValue", "MinimumIncrement"})
        calls.push_back({ref.name, propertyGet(ref, ATSPI_DBUS_INTERFACE_VALUE, property)});
    const auto answers = client_.callAll(std::move(calls));
    double numbers[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        DBusMessageIter iter;
        if (!firstArgument(answers[i], iter)) {
            if (i == 0) {
                error = errorOf(answers[0]);
                return std::nullopt;
            }
            continue;
        }
        DBusMessageIter value = unwrapVariant(iter);
        numbers[i] = readDouble(value).value_or(0);
    }
    return ValueRange{numbers[0], numbers[1], numbers[2], numbers[3]};
}

int LinuxAccessibility::stepValue(const ObjectRef& ref, double direction) {
    int error = axSuccess;
    const auto range = valueRange(ref, error);
    if (!range) return error;
    // A control without a step moves by a tenth of its range, as a key press on it would.
    const double step =
        range->increment > 0 ? range->increment : (range->maximum - range->minimum) / 10;
    if (!(step > 0)) return axCannotComplete;
    return setNumber(ref,
                     std::clamp(range->current + direction * step, range->minimum, range->maximum));
}

std::optional<std::pair<int32_t, int32_t>> LinuxAccessibility::selection(const ObjectRef& ref) {
    // The first selected range, or the caret as an empty one.
    std::vector<AtspiClient::Call> calls;
    auto range = call(ref, ATSPI_DBUS_INTERFACE_TEXT, "GetSelection");
    if (range) appendInt(range.get(), 0);
    calls.push_back({ref.name, call(ref, ATSPI_DBUS_INTERFACE_TEXT, "GetNSelections")});
    calls.push_back({ref.name, std::move(range)});
    calls.push_back({ref.name, propertyGet(ref, ATSPI_DBUS_INTERFACE_TEXT, "CaretOffset")});
    const auto answers = client_.callAll(std::move(calls));
    DBusMessageIter iter;
    if (firstArgument(answers[0], iter) && readInteger(iter).value_or(0) > 0 &&
        firstArgument(answers[1], iter)) {
        const auto start = readInteger(iter);
        dbus_message_iter_next(&iter);
        const auto end = readInteger(iter);
        if (start && end && *start >= 0 && *end >= *start)
            return std::pair{static_cast<int32_t>(*start), static_cast<int32_t>(*end)};
    }
    if (!firstArgument(answers[2], iter)) return std::nullopt;
    DBusMessageIter value = unwrapVariant(iter);
    const auto caret = readInteger(value);
    if (!caret || *caret < 0) return std::nullopt;
    return std::pair{static_cast<int32_t>(*caret), static_cast<int32_t>(*caret)};
}

int LinuxAccessibility::replaceSelection(const ObjectRef& ref, const std::string& text) {
    const auto range = selection(ref);
    if (!range) return axCannotComplete;
    const auto [start, end] = *range;
    if (end > start) {
        auto erase = call(ref, ATSPI_DBUS_INTERFACE_EDITABLE_TEXT, "DeleteText");
        if (erase) {
            appendInt(erase.get(), start);
            appendInt(erase.get(), end);
        }
        std::vector<AtspiClient::Call> calls;
        calls.push_back({ref.name, std::move(erase)});
        const auto answers = client_.callAll(std::move(calls));
        if (!answers[0].ok()) return errorOf(answers[0]);
    }
    // The position counts characters; the length counts the text's bytes (UTF-8), as the
    // toolkits take it.
    auto insert = call(ref, ATSPI_DBUS_INTERFACE_EDITABLE_TEXT, "InsertText");
    if (insert) {
        appendInt(insert.get(), start);
        appendString(insert.get(), text.c_str());
        appendInt(insert.get(), static_cast<int32_t>(text.size()));
    }
    std::vector<AtspiClient::Call> calls;
    calls.push_back({ref.name, std::move(insert)});
    const auto answers = client_.callAll(std::move(calls));
    changes_.bump();
    DBusMessageIter iter;
    if (!firstArgument(answers[0], iter)) return errorOf(answers[0]);
    return readBoolean(iter).value_or(true) ? axSuccess : axCannotComplete;
}

int LinuxAccessibility::setAttribute(const Element& element, const std::string& name,
                                     const Value& value) {
    std::lock_guard lock(mutex_);
    const Resolved target = resolve(element);
    if (target.kind != Kind::object) return axAttributeUnsupported;
    AppTree* tree = treeOf(target.ref.name);
    if (!tree) return axInvalidElement;
    int error = axSuccess;
    const Node* node = nodeOf(*tree, target.ref.path, error);
    if (!node) return error;
    const ObjectTraits traits = traitsOf(*tree, *node);
    const bool window = axRoleOf(traits).role == "AXWindow";
    if (name == "AXSelectedText") {
        const auto* text = value.as<std::string>();
        if (!text || !(node->interfaces & editableTextInterface) ||
            !(node->interfaces & textInterface))
            return axAttributeUnsupported;
        return replaceSelection(target.ref, *text);
    }
    if (name == "AXValue" && axRoleOf(traits).role == "AXScrollBar") {
        // A scroll bar's value is the fraction scrolled, from 0 to 1.
        std::optional<double> fraction;
        if (const auto* number = value.as<double>()) fraction = *number;
        if (const auto* number = value.as<int64_t>()) fraction = static_cast<double>(*number);
        if (!fraction) return axIllegalArgument;
        int failure = axSuccess;
        const auto range = valueRange(target.ref, failure);
        if (!range) return failure;
        return setNumber(target.ref, range->minimum + std::clamp(*fraction, 0.0, 1.0) *
                                                          (range->maximum - range->minimum));
    }
    if (name == "AXValue") {
        const auto* text = value.as<std::string>();
        if (text && (node->interfaces & editableTextInterface))
            return callBoolean(target.ref, ATSPI_DBUS_INTERFACE_EDITABLE_TEXT, "SetTextContents",
                               std::nullopt, text);
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
            return setNumber(target.ref, *number);
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
        const int result = callBoolean(target.ref, ATSPI_DBUS_INTERFACE_COMPONENT, "GrabFocus");
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
            const auto& siblings = parent->children;
            const auto at = std::find(siblings.begin(), siblings.end(), target.ref);
            if (at == siblings.end()) return axCannotComplete;
            index = static_cast<int>(at - siblings.begin());
        }
        return callBoolean(node->parent, ATSPI_DBUS_INTERFACE_SELECTION,
                           *select ? "SelectChild" : "DeselectChild", index);
    }
    return axAttributeUnsupported;
}

std::optional<std::vector<std::string>> LinuxAccessibility::actionNames(const Element& element) {
    std::lock_guard lock(mutex_);
    const Resolved target = resolve(element);
    if (target.kind != Kind::object) return std::vector<std::string>{};
    AppTree* tree = treeOf(target.ref.name);
    if (!tree) return std::nullopt;
    int error = axSuccess;
    if (!nodeOf(*tree, target.ref.path, error)) return std::nullopt;
    ensure(*tree, target.ref.path, actionsExtra);
    const Node* node = tree->find(target.ref.path);
    if (!node || node->gone) return std::nullopt;
    const ObjectTraits traits = traitsOf(*tree, *node);
    return axActionNames(node->actions, traits, axRoleOf(traits));
}

int LinuxAccessibility::performAction(const Element& element, const std::string& action) {
    std::lock_guard lock(mutex_);
    const Resolved target = resolve(element);
    if (target.kind != Kind::object) return axActionUnsupported;
    AppTree* tree = treeOf(target.ref.name);
    if (!tree) return axInvalidElement;
    int error = axSuccess;
    if (!nodeOf(*tree, target.ref.path, error)) return error;
    ensure(*tree, target.ref.path, actionsExtra);
    const Node* node = tree->find(target.ref.path);
    if (!node || node->gone) return axInvalidElement;
    const ObjectTraits traits = traitsOf(*tree, *node);
    const AXRole role = axRoleOf(traits);
    const auto offered = axActionNames(node->actions, traits, role);
    if (std::find(offered.begin(), offered.end(), action) == offered.end())
        return axActionUnsupported;
    const ObjectRef ref = target.ref;
    if (const auto index = toolkitActionFor(node->actions, action))
        return callBoolean(ref, ATSPI_DBUS_INTERFACE_ACTION, "DoAction",
                           static_cast<int32_t>(*index));
    if (action == "AXIncrement" || action == "AXDecrement")
        return stepValue(ref, action == "AXIncrement" ? 1 : -1);
    if (action == "AXRaise") {
        const auto found = windowFor(*tree, ref.path, target.pid);
        changes_.bump();
        return found && windows_.activate(found->id) ? axSuccess : axCannotComplete;
    }
    if (action == "AXScrollToVisible") {
        auto message = call(ref, ATSPI_DBUS_INTERFACE_COMPONENT, "ScrollTo");
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
