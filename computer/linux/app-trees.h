// The applications' trees as the accessibility part reads them: each application's objects
// from the cache interface's bulk read, kept for a short time (`treeLifetime`) and dropped at
// once when this process changes the desktop, objects the bulk read left out read on their
// own, and what the bulk read lacks fetched ahead of the outline that asks for it.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "atspi-client.h"
#include "atspi-tree.h"
#include "change-count.h"
#include "clock.h"
#include "window-system.h"

namespace pelko::computer::linux_desktop {

/// What the mapping needs of `node`: its own role, states and interfaces, its parent's role,
/// and whether a combo box holds an editable text.
ObjectTraits traitsOf(AppTree& tree, const Node& node);

/// Not thread-safe: the accessibility part calls it under its own lock.
class AppTrees {
  public:
    AppTrees(AtspiClient& client, WindowSystem& windows, Clock& clock, ChangeCount& changes)
        : client_(client), windows_(windows), clock_(clock), changes_(changes) {}

    /// The tree of the application with `busName`, read again when it is stale; nullptr when
    /// the application is gone.
    AppTree* treeOf(const std::string& busName);
    /// The object at `path`, read on its own when the tree lacks it; nullptr with `error` set
    /// to the invalid-element number when it is gone.
    Node* nodeOf(AppTree& tree, const std::string& path, int& error);
    /// Fetches the `extras` of the object that it can answer and its reads use (with `text`,
    /// its text whatever its value is), with the same extras of the objects that follow it in
    /// reading order, in one batch.
    void ensure(AppTree& tree, const std::string& path, uint8_t extras, bool text = false);
    /// Forgets every tree, so the next read starts from the bulk read.
    void forget() { trees_.clear(); }

  private:
    /// Sends calls that complete `tree`, whose life grows by three times what they took.
    std::vector<CallResult> fetchInto(AppTree& tree, std::vector<AtspiClient::Call> calls);
    /// Reads the objects at `paths` that the tree lacks; with `descend`, their children too and
    /// so on down, level by level, below the objects shown.
    void readNodes(AppTree& tree, std::vector<std::string> paths, bool descend = false);
    /// The object at `path`, then the shown objects that follow it in its window's pre-order,
    /// up to a batch's worth.
    std::vector<std::string> readingOrder(AppTree& tree, const std::string& path);
    void readActions(AppTree& tree, const std::vector<std::pair<std::string, int>>& counts);
    /// Reads the children of the objects at `parents` (all of them, or of an object with very
    /// many only those on screen), puts those off screen in the tree as hidden objects
    /// without a call each, and answers the children the tree lacks, to be read.
    std::vector<std::string> readChildren(AppTree& tree, const std::vector<std::string>& parents);

    AtspiClient& client_;
    WindowSystem& windows_;
    Clock& clock_;
    ChangeCount& changes_;
    std::map<std::string, AppTree> trees_;
    std::map<std::string, Toolkit> toolkits_;
    /// The apps whose bulk read was too large to repeat.
    std::set<std::string> largeTrees_;
};

}  // namespace pelko::computer::linux_desktop
