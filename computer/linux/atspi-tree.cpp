#include "atspi-tree.h"

#include <algorithm>

namespace pelko::computer::linux_desktop {

std::string trimmedName(std::string_view name) {
    const size_t begin = name.find_first_not_of(" \t\n\r");
    if (begin == std::string_view::npos) return "";
    const size_t end = name.find_last_not_of(" \t\n\r");
    return std::string(name.substr(begin, end - begin + 1));
}

Node* AppTree::find(const std::string& path) {
    const auto found = nodes.find(path);
    return found == nodes.end() ? nullptr : &found->second;
}

AppTree treeFromCache(const std::string& busName, std::vector<CacheItem> items) {
    AppTree tree;
    tree.busName = busName;
    tree.bulk = true;
    // Each parent's children with their indexes, in the order the read lists them.
    std::unordered_map<std::string, std::vector<std::pair<int, std::string>>> placed;
    for (auto& item : items) {
        if (item.object.name != busName) continue;
        Node node;
        node.parent = item.parent;
        node.indexInParent = item.indexInParent;
        node.childCount = item.childCount;
        node.interfaces = item.interfaces;
        node.name = trimmedName(item.name);
        node.role = item.role;
        node.description = std::move(item.description);
        node.states = item.states;
        // An object is never its own parent (the application's root names the registry's
        // root, whose path is the same).
        if (item.parent.name == busName && item.parent.path != item.object.path)
            placed[item.parent.path].emplace_back(item.indexInParent, item.object.path);
        tree.nodes.emplace(std::move(item.object.path), std::move(node));
    }
    for (auto& [path, node] : tree.nodes) {
        auto& children = placed[path];
        std::stable_sort(children.begin(), children.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        bool ordered = node.childCount >= 0 && static_cast<int>(children.size()) == node.childCount;
        for (size_t i = 0; ordered && i < children.size(); ++i)
            ordered = children[i].first == static_cast<int>(i);
        node.children.clear();
        for (const auto& [index, child] : children) node.children.push_back({busName, child});
        node.childrenKnown = ordered;
        if (ordered) node.fetched |= childrenExtra;
    }
    return tree;
}

bool isSelfOrAncestor(AppTree& tree, const std::string& path, const std::string& candidate) {
    std::string at = path;
    // No real tree is this deep; a circle of parents stops here too.
    for (int depth = 0; depth < 1000; ++depth) {
        if (at == candidate) return true;
        const Node* node = tree.find(at);
        if (!node || node->parent.name != tree.busName || node->parent.isNull()) return false;
        at = node->parent.path;
    }
    return false;
}

Duration treeLifetime(Duration readTook) {
    return std::max<Duration>(std::chrono::milliseconds(250), 3 * readTook);
}

}  // namespace pelko::computer::linux_desktop
