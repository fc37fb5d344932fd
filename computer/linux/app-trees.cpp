#include "app-trees.h"

#include <atspi/atspi-constants.h>

#include <iterator>

#include "atspi-calls.h"
#include "platform/accessibility.h"

namespace pelko::computer::linux_desktop {
namespace {

// How many objects one read going down may take in, level by level; a page of thousands of
// shown objects is read further as the outline asks.
constexpr size_t descendLimit = 2000;
// More objects than this in Gecko's bulk read, and the app is read going down instead.
constexpr size_t largeTree = 2000;

}  // namespace

AppTree* AppTrees::treeOf(const std::string& busName) {
    if (busName.empty()) return nullptr;
    const Instant now = clock_.now();
    if (auto found = trees_.find(busName); found != trees_.end()) {
        const AppTree& tree = found->second;
        if (tree.generation == changes_.now() && now - tree.fetchedAt < tree.lifetime)
            return &found->second;
        trees_.erase(found);
    }
    std::vector<AtspiClient::Call> calls;
    // Gecko on a long page lists thousands of objects, which takes longer than reading those
    // on screen going down: once its bulk read was that large, it is read going down, and
    // asking for its root's role tells whether it is still there. (Only Gecko: other toolkits
    // list on demand, and an app may answer the bulk read better than its objects' calls.)
    const bool bulk = !largeTrees_.contains(busName);
    calls.push_back(
        {busName,
         bulk ? methodCall(busName, "/org/a11y/atspi/cache", ATSPI_DBUS_INTERFACE_CACHE, "GetItems")
              : objectCall({busName, rootPath}, ATSPI_DBUS_INTERFACE_ACCESSIBLE, "GetRole")});
    // The toolkit's dialect, asked once per application in the same batch.
    const bool askToolkit = !toolkits_.contains(busName);
    if (askToolkit) {
        const ObjectRef root{busName, rootPath};
        calls.push_back(
            {busName, propertyGet(root, ATSPI_DBUS_INTERFACE_APPLICATION, "ToolkitName")});
        calls.push_back({busName, propertyGet(root, ATSPI_DBUS_INTERFACE_APPLICATION, "Version")});
    }
    auto answers = client_.callAll(std::move(calls));
    if (askToolkit) {
        std::string name, version;
        DBusMessageIter iter;
        if (firstArgument(answers[1], iter)) {
            DBusMessageIter value = unwrapVariant(iter);
            name = readString(value).value_or("");
        }
        if (firstArgument(answers[2], iter)) {
            DBusMessageIter value = unwrapVariant(iter);
            version = readString(value).value_or("");
        }
        toolkits_[busName] = toolkitOf(name, version);
    }
    AppTree tree;
    if (answers[0].ok()) {
        auto items = bulk ? parseCacheItems(answers[0].reply.get()) : std::nullopt;
        if (items && items->size() > largeTree && toolkits_[busName] == Toolkit::gecko)
            largeTrees_.insert(busName);
        // Qt answers with no items at all: its objects are read as asked.
        if (items && !items->empty()) tree = treeFromCache(busName, std::move(*items));
    } else if (answers[0].errorName != DBUS_ERROR_UNKNOWN_METHOD &&
               answers[0].errorName != DBUS_ERROR_UNKNOWN_OBJECT &&
               answers[0].errorName != DBUS_ERROR_UNKNOWN_INTERFACE &&
               meansGone(answers[0].errorName)) {
        largeTrees_.erase(busName);
        return nullptr;  // the application is gone
    }
    // Without the bulk read (a toolkit without the cache interface) objects are read as asked.
    tree.busName = busName;
    tree.toolkit = toolkits_[busName];
    for (auto& [path, node] : tree.nodes) node.name = shownName(node.name, tree.toolkit);
    tree.generation = changes_.now();
    tree.fetchedAt = now;
    tree.lifetime = treeLifetime(clock_.now() - now);
    return &(trees_[busName] = std::move(tree));
}

void AppTrees::readNodes(AppTree& tree, std::vector<std::string> paths, bool descend) {
    // The properties in one call, but one by one for Qt: its bridge ends the application that
    // is asked for all of them at once ("GetAll").
    static constexpr const char* properties[] = {"Name", "Description", "Parent", "ChildCount"};
    const bool oneByOne = tree.toolkit == Toolkit::qt;
    // Read going down, each level takes two batches: the objects, then the children of those
    // shown that have any (leaves and hidden objects are not asked for theirs).
    const size_t perNode = 3 + (oneByOne ? std::size(properties) : 1);
    size_t budget = descendLimit;
    while (!paths.empty()) {
        std::vector<AtspiClient::Call> calls;
        for (const auto& path : paths) {
            const ObjectRef ref{tree.busName, path};
            for (const char* method : {"GetRole", "GetState", "GetInterfaces"})
                calls.push_back(
                    {tree.busName, objectCall(ref, ATSPI_DBUS_INTERFACE_ACCESSIBLE, method)});
            if (oneByOne) {
                for (const char* property : properties)
                    calls.push_back({tree.busName,
                                     propertyGet(ref, ATSPI_DBUS_INTERFACE_ACCESSIBLE, property)});
            } else {
                auto all = objectCall(ref, propertiesInterface, "GetAll");
                if (all) appendString(all.get(), ATSPI_DBUS_INTERFACE_ACCESSIBLE);
                calls.push_back({tree.busName, std::move(all)});
            }
        }
        const auto answers = fetchInto(tree, std::move(calls));
        std::vector<std::string> parents;
        for (size_t i = 0; i < paths.size(); ++i) {
            const CallResult* answer = &answers[perNode * i];
            DBusMessageIter iter;
            if (!firstArgument(answer[0], iter)) continue;
            Node node;
            node.role = static_cast<uint32_t>(readInteger(iter).value_or(ATSPI_ROLE_UNKNOWN));
            if (firstArgument(answer[1], iter)) node.states = readStateSet(iter).value_or(0);
            if (firstArgument(answer[2], iter)) node.interfaces = readInterfaces(iter).value_or(0);
            auto take = [&](const std::string& key, DBusMessageIter& value) {
                if (key == "Name")
                    node.name = shownName(readString(value).value_or(""), tree.toolkit);
                else if (key == "Description")
                    node.description = readString(value).value_or("");
                else if (key == "Parent")
                    node.parent = readObjectRef(value).value_or(ObjectRef{});
                else if (key == "ChildCount")
                    node.childCount = static_cast<int>(readInteger(value).value_or(0));
            };
            if (oneByOne) {
                for (size_t p = 0; p < std::size(properties); ++p) {
                    if (!firstArgument(answer[3 + p], iter)) continue;
                    DBusMessageIter value = unwrapVariant(iter);
                    take(properties[p], value);
                }
            } else if (firstArgument(answer[3], iter) &&
                       dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_ARRAY) {
                DBusMessageIter array;
                dbus_message_iter_recurse(&iter, &array);
                while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_DICT_ENTRY) {
                    DBusMessageIter entry;
                    dbus_message_iter_recurse(&array, &entry);
                    const std::string key = readString(entry).value_or("");
                    dbus_message_iter_next(&entry);
                    DBusMessageIter value = unwrapVariant(entry);
                    take(key, value);
                    dbus_message_iter_next(&array);
                }
            }
            if (node.childCount == 0) {
                node.childrenKnown = true;
                node.fetched |= childrenExtra;
            }
            // An object the bulk read left out that hangs below nothing has been taken out of
            // its window (the toolkit frees it later): it is gone.
            if (tree.bulk && node.role != ATSPI_ROLE_APPLICATION && node.parent.isNull())
                node.gone = true;
            Node& placed = tree.nodes[paths[i]] = std::move(node);
            if (descend && !placed.gone && !placed.childrenKnown &&
                !isHidden(traitsOf(tree, placed)))
                parents.push_back(paths[i]);
        }
        budget -= std::min(budget, paths.size());
        paths.clear();
        if (budget == 0 || parents.empty()) break;
        paths = readChildren(tree, parents);
        // What is past the budget is read as it is asked for.
        if (paths.size() > budget) paths.resize(budget);
    }
}

std::vector<CallResult> AppTrees::fetchInto(AppTree& tree, std::vector<AtspiClient::Call> calls) {
    // What the bulk read lacks is read while the outline goes on, and counts as reading the
    // tree: without the bulk read (Qt, Gecko, most of Chromium's objects) the whole tree is read
    // that way, and it must not be dropped in the middle of one outline.
    const Instant start = clock_.now();
    auto answers = client_.callAll(std::move(calls));
    tree.lifetime += 3 * (clock_.now() - start);
    return answers;
}

Node* AppTrees::nodeOf(AppTree& tree, const std::string& path, int& error) {
    Node* node = tree.find(path);
    if (!node) {
        readNodes(tree, {path});
        node = tree.find(path);
    }
    // A toolkit keeps the object of a widget it destroyed until the last reference goes, and
    // says so with the "defunct" state.
    if (node && !node->gone && !hasState(node->states, ATSPI_STATE_DEFUNCT)) return node;
    error = axInvalidElement;
    return nullptr;
}

ObjectTraits traitsOf(AppTree& tree, const Node& node) {
    ObjectTraits traits{node.role, node.states,  node.interfaces,    ATSPI_ROLE_INVALID,
                        false,     tree.toolkit, node.childCount > 0};
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

}  // namespace pelko::computer::linux_desktop
