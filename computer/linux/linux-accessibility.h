// The accessibility seam on AT-SPI: applications are the accessibility registry's applications,
// elements are their objects, read through the table of ax-mapping.h.
//
// Reads are served from a tree of the application read in bulk (app-trees.h). What the bulk
// read lacks is fetched for the asked object together with the objects that follow it in
// reading order, every call of a batch sent before the first answer is awaited. A tree serves
// reads for a short time only (see `treeLifetime`), and any action, set attribute or posted
// input makes every tree stale.
//
// linux-accessibility.cpp holds the seam's entry points, the settings and the actions;
// attribute-reads.cpp what each kind of element answers.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>

#include "app-trees.h"
#include "atspi-client.h"
#include "atspi-tree.h"
#include "change-count.h"
#include "clock.h"
#include "object-actions.h"
#include "platform/accessibility.h"
#include "window-system.h"

namespace pelko::computer::linux_desktop {

class LinuxAccessibility final : public Accessibility {
  public:
    LinuxAccessibility(AtspiClient& client, WindowSystem& windows, Clock& clock,
                       ChangeCount& changes);

    bool isTrusted() override;
    bool isTrustedWithPrompt() override;
    Element applicationElement(pid_t pid) override;
    Element systemWideElement() override;
    AttributeRead copyAttribute(const Element& element, const std::string& name) override;
    std::vector<AttributeRead> copyAttributes(const Element& element,
                                              const std::vector<std::string>& names) override;
    std::optional<bool> isSettable(const Element& element, const std::string& name) override;
    int setAttribute(const Element& element, const std::string& name, const Value& value) override;
    std::optional<std::vector<std::string>> actionNames(const Element& element) override;
    int performAction(const Element& element, const std::string& action) override;
    bool isEqual(const Element& a, const Element& b) override;
    std::optional<pid_t> processId(const Element& element) override;
    int setMessagingTimeout(const Element& element, double seconds) override;

    /// The bus traffic so far (for the benchmark).
    BusTraffic traffic() { return client_.traffic(); }
    /// Forgets every tree, so the next read starts from the bulk read.
    void forgetTrees();

    /// An element: an object, an application (made from a process id, its bus name found when
    /// it is used, so an element made before the application registered works once it has),
    /// the system-wide element, the menu element that stands between an item and the items
    /// of its submenu, or a run of a container's own text (`ref` the container).
    struct Handle final : ElementHandle {
        enum class Kind { object, application, systemWide, menu, textRun };
        Kind kind = Kind::object;
        pid_t pid = 0;
        ObjectRef ref;
        size_t run = 0;    ///< a text run's place among the container's pieces
        std::string text;  ///< a text run's words
    };

  private:
    // An element with its bus name known.
    struct Resolved {
        Handle::Kind kind = Handle::Kind::object;
        pid_t pid = 0;
        ObjectRef ref;
        size_t run = 0;
        std::string text;
    };
    Resolved resolve(const Element& element);
    /// The manual accessibility switch of an application: what makes its toolkit build the
    /// tree it builds only for assistive technology.
    int switchOnAccessibility(const Resolved& target);
    AttributeRead read(const Resolved& target, const std::string& name);
    AttributeRead readApplication(const Resolved& target, const std::string& name);
    AttributeRead readSystemWide(const std::string& name);
    AttributeRead readMenu(const Resolved& target, const std::string& name);
    AttributeRead readObject(const Resolved& target, const std::string& name);
    AttributeRead readTextRun(const Resolved& target, const std::string& name);
    /// The children of an object, with the runs of its own text between them where it holds
    /// some (see `holdsOwnText`).
    Value::List childrenOf(AppTree& tree, const Resolved& target);
    /// Waits, within a few seconds, while a document says it is still loading (its objects
    /// have no names yet then); true when it waited.
    bool waitWhileBusy(AppTree*& tree, const Resolved& target);
    Element elementFor(const ObjectRef& ref, pid_t pid);
    std::vector<Element> windowsOf(AppTree& tree, const std::string& rootPath, pid_t pid);
    /// Whether a window object lies where one of the process's windows is.
    bool onScreenAsWindow(AppTree& tree, const std::string& path, pid_t pid);
    Element findInWindows(AppTree& tree, const std::string& rootPath, pid_t pid,
                          bool (*wanted)(const Node&));
    std::optional<std::string> windowTitle(AppTree& tree, const std::string& path, pid_t pid);
    std::optional<WindowInfo> windowFor(AppTree& tree, const std::string& path, pid_t pid);

    std::recursive_mutex mutex_;
    AtspiClient& client_;
    WindowSystem& windows_;
    Clock& clock_;
    ChangeCount& changes_;
    AppTrees trees_;
    ObjectActions objects_;
    std::optional<bool> trusted_;
    Instant trustedAt_{};
};

}  // namespace pelko::computer::linux_desktop
