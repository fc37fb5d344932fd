// What the backend knows of one application's objects at one moment: built from the cache
// interface's bulk read (every object's role, name, description, states, interfaces and
// parent in one call), completed on demand with what that read lacks (extents, texts, values,
// actions, object attributes, and the children of objects whose order it cannot give).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "atspi-client.h"
#include "ax-mapping.h"
#include "clock.h"
#include "platform/accessibility.h"

namespace pelko::computer::linux_desktop {

/// What a node may need beyond the bulk read, one bit each.
enum Extra : uint8_t {
    extentsExtra = 1,
    textExtra = 2,
    valueExtra = 4,
    actionsExtra = 8,
    attributesExtra = 16,
    childrenExtra = 32,
};

/// One object.
struct Node {
    ObjectRef parent;
    int indexInParent = -1;
    int childCount = 0;
    uint32_t interfaces = 0;
    std::string name;
    uint32_t role = 0;
    std::string description;
    StateSet states = 0;
    /// The children in order; trustworthy only once `childrenKnown`. Of an object with very
    /// many, only those on screen.
    std::vector<ObjectRef> children;
    bool childrenKnown = false;
    /// The extras already fetched (or found missing).
    uint8_t fetched = 0;
    /// In global points (origin top-left of the primary screen).
    std::optional<Rect> extents;
    std::optional<std::string> text;
    std::optional<double> value;
    std::vector<ToolkitAction> actions;
    std::map<std::string, std::string> attributes;
    /// The object answered that it no longer exists.
    bool gone = false;
};

/// One application's objects as read at one moment.
struct AppTree {
    std::string busName;
    /// Whether the objects came from the bulk read (an object missing from it is one that a
    /// view makes on demand, read on its own when asked for).
    bool bulk = false;
    Toolkit toolkit = Toolkit::other;
    Instant fetchedAt{};
    Duration lifetime{};
    /// The backend's change count when read: any action or posted input makes it stale.
    uint64_t generation = 0;
    std::unordered_map<std::string, Node> nodes;

    Node* find(const std::string& path);
};

/// An accessible name without the blanks some toolkits pad it with (menu items leave room for
/// their shortcut that way).
std::string trimmedName(std::string_view name);

/// The tree from the bulk read's items: each object under its parent, children ordered by
/// their index in the parent. A node whose children cannot all be placed that way (an index
/// missing or repeated, or fewer than it has) keeps `childrenKnown` false, so its children are
/// asked for when they are needed.
AppTree treeFromCache(const std::string& busName, std::vector<CacheItem> items);

/// Whether `candidate` is the object at `path` itself or one of its ancestors, by the parents
/// the objects name (a circle of parents ends the climb). An app may list such an object among
/// the children; taken as one, it would make the tree a circle.
bool isSelfOrAncestor(AppTree& tree, const std::string& path, const std::string& candidate);

/// How long a tree serves reads: a quarter of a second, or three times what reading it took
/// when that is longer, so that a large application is not read again in the middle of one
/// outline.
Duration treeLifetime(Duration readTook);

}  // namespace pelko::computer::linux_desktop
