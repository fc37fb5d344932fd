// Fetching ahead: what the bulk read lacks is asked for the object an outline asks about and
// the objects that follow it in reading order, every call of a batch sent before the first
// answer is awaited.
#include <atspi/atspi-constants.h>

#include <algorithm>
#include <optional>
#include <set>

#include "app-trees.h"
#include "atspi-calls.h"

namespace pelko::computer::linux_desktop {
namespace {

constexpr size_t prefetchLimit = 400;
// Objects with more actions than this show the first ones.
constexpr int64_t maxActions = 16;

}  // namespace

std::vector<std::string> AppTrees::readingOrder(AppTree& tree, const std::string& path) {
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

void AppTrees::ensure(AppTree& tree, const std::string& path, uint8_t extras, bool text) {
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
        // A container's own text (a paragraph's) is asked with its children, and so are the
        // texts of the containers that follow it.
        const bool ownText = text && (asked || holdsOwnText(traits, role));
        if (!(node.interfaces & textInterface) || (source != ValueSource::text && !ownText))
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
    // What the object cannot answer counts as read, so it is not looked at again; its text
    // left out only because its value is not its text may still be asked for as such.
    target->fetched |= extras & ~missing & ~(text ? 0 : textExtra);
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
            auto message = objectCall(ref, ATSPI_DBUS_INTERFACE_COMPONENT, "GetExtents");
            if (message) appendUint(message.get(), ATSPI_COORD_TYPE_SCREEN);
            add(entry, extentsExtra, std::move(message));
        }
        if (want & textExtra) {
            auto message = objectCall(ref, ATSPI_DBUS_INTERFACE_TEXT, "GetText");
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
                objectCall(ref, ATSPI_DBUS_INTERFACE_ACCESSIBLE, "GetAttributes"));
    }
    const bool needsOrigin = std::any_of(
        batch.begin(), batch.end(), [](const auto& entry) { return entry.second & extentsExtra; });
    const Point origin = needsOrigin ? windows_.primaryOrigin() : Point{};
    const auto answers = fetchInto(tree, std::move(calls));

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
            default:
                break;
        }
    }
    if (!actionCounts.empty()) readActions(tree, actionCounts);
    // Children, where the tree lacks them (objects a view makes on demand are missing from the
    // bulk read), after the rest: which to list depends on how many there are. The new ones
    // are read all at once, and so on down.
    std::vector<std::string> parents;
    for (const auto& [path, want] : batch) {
        const Node* node = tree.find(path);
        if ((want & childrenExtra) && node && !node->gone && !node->childrenKnown)
            parents.push_back(path);
    }
    if (parents.empty()) return;
    if (auto toRead = readChildren(tree, parents); !toRead.empty())
        readNodes(tree, std::move(toRead), true);
}

std::vector<std::string> AppTrees::readChildren(AppTree& tree,
                                                const std::vector<std::string>& parents) {
    // A toolbar keeps buttons for every width of window, a page of thousands of paragraphs
    // shows a few dozen: where an object has several children and the collection interface,
    // that names those on screen in the same batch, and the others need no calls of their own.
    // Listing thousands of children costs the app as much as the rest of a read, so an object
    // with that many lists only those on screen.
    constexpr int severalChildren = 4, manyChildren = 64;
    struct Ask {
        std::optional<size_t> all, showing;  // the calls' places in the batch
    };
    std::vector<Ask> asks(parents.size());
    std::vector<AtspiClient::Call> calls;
    const auto ask = [&](std::optional<size_t>& slot, MessagePtr call) {
        if (!call) return;
        slot = calls.size();
        calls.push_back({tree.busName, std::move(call)});
    };
    for (size_t i = 0; i < parents.size(); ++i) {
        const Node* node = tree.find(parents[i]);
        if (!node) continue;
        const ObjectRef ref{tree.busName, parents[i]};
        const bool canSay = node->interfaces & collectionInterface;
        if (canSay && node->childCount >= severalChildren)
            ask(asks[i].showing, showingChildren(ref));
        if (!asks[i].showing || node->childCount < manyChildren)
            ask(asks[i].all, objectCall(ref, ATSPI_DBUS_INTERFACE_ACCESSIBLE, "GetChildren"));
    }
    auto answers = fetchInto(tree, std::move(calls));
    const auto refsIn = [&](std::optional<size_t> slot) -> std::optional<std::vector<ObjectRef>> {
        DBusMessageIter iter;
        if (!slot || !firstArgument(answers[*slot], iter)) return std::nullopt;
        return readRefs(iter);
    };
    // Puts the children in the tree: those it lacks are to be read, except those said to be off
    // screen, which go in as hidden objects with nothing more to read.
    std::vector<std::string> toRead, listAll;
    const auto take = [&](const std::string& parent, std::vector<ObjectRef> children,
                          const std::set<std::string>& onScreen) {
        Node* node = tree.find(parent);
        if (!node) return;
        // Chromium answers null for children it has not made yet; an object or its ancestor
        // listed as its child would make the tree a circle.
        std::erase_if(children, [&](const ObjectRef& ref) {
            return ref.isNull() ||
                   (ref.name == tree.busName && isSelfOrAncestor(tree, parent, ref.path));
        });
        for (const auto& child : children) {
            if (child.name != tree.busName || tree.find(child.path)) continue;
            if (onScreen.empty() || onScreen.contains(child.path)) {
                toRead.push_back(child.path);
                continue;
            }
            Node off;
            off.parent = {tree.busName, parent};
            off.role = ATSPI_ROLE_UNKNOWN;
            off.fetched = 0xFF;
            off.childrenKnown = true;
            tree.nodes[child.path] = std::move(off);
        }
        node->children = std::move(children);
        node->childrenKnown = true;
        node->fetched |= childrenExtra;
    };
    for (size_t i = 0; i < parents.size(); ++i) {
        if (!asks[i].all && !asks[i].showing) continue;
        auto showing = refsIn(asks[i].showing);
        // An empty answer says nothing (a page not made yet answers so too): all are read.
        if (showing && showing->empty()) showing.reset();
        if (!asks[i].all) {
            // Very many: those on screen, or all of them when none is said to be.
            if (showing)
                take(parents[i], std::move(*showing), {});
            else
                listAll.push_back(parents[i]);
            continue;
        }
        std::set<std::string> onScreen;
        if (showing)
            for (const auto& ref : *showing) onScreen.insert(ref.path);
        if (auto all = refsIn(asks[i].all)) take(parents[i], std::move(*all), onScreen);
    }
    if (listAll.empty()) return toRead;
    calls.clear();
    for (const auto& path : listAll)
        calls.push_back({tree.busName, objectCall({tree.busName, path},
                                                  ATSPI_DBUS_INTERFACE_ACCESSIBLE, "GetChildren")});
    answers = fetchInto(tree, std::move(calls));
    for (size_t i = 0; i < listAll.size(); ++i)
        if (auto all = refsIn(i)) take(listAll[i], std::move(*all), {});
    return toRead;
}

void AppTrees::readActions(AppTree& tree, const std::vector<std::pair<std::string, int>>& counts) {
    std::vector<AtspiClient::Call> calls;
    for (const auto& [path, count] : counts) {
        const ObjectRef ref{tree.busName, path};
        const Node* node = tree.find(path);
        // Only menu items show their shortcut.
        const bool menuItem = node && axRoleOf(traitsOf(tree, *node)).role == "AXMenuItem";
        for (int i = 0; i < count; ++i) {
            auto name = objectCall(ref, ATSPI_DBUS_INTERFACE_ACTION, "GetName");
            if (name) appendInt(name.get(), i);
            calls.push_back({tree.busName, std::move(name)});
            if (menuItem) {
                auto binding = objectCall(ref, ATSPI_DBUS_INTERFACE_ACTION, "GetKeyBinding");
                if (binding) appendInt(binding.get(), i);
                calls.push_back({tree.busName, std::move(binding)});
            }
        }
    }
    const auto answers = fetchInto(tree, std::move(calls));
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

}  // namespace pelko::computer::linux_desktop
