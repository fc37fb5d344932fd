// The accessibility seam on AT-SPI: applications are the accessibility registry's applications,
// elements are their objects, read through the table of ax-mapping.h.
//
// Reads are served from a tree of the application read in bulk (atspi-tree.h). What the bulk
// read lacks is fetched for the asked object together with the objects near it that will be
// asked next (its shown descendants, breadth first, up to a batch), every call of a batch sent
// before the first answer is awaited. A tree serves reads for a short time only (see
// `treeLifetime`), and any action, set attribute or posted input makes every tree stale.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>

#include "atspi-client.h"
#include "atspi-tree.h"
#include "change-count.h"
#include "clock.h"
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

    struct Handle;

  private:
    struct Resolved;
    Resolved resolve(const Element& element);
    AppTree* treeOf(const std::string& busName);
    Node* nodeOf(AppTree& tree, const std::string& path, int& error);
    /// The object at `path`, then the shown objects that follow it in its window's pre-order,
    /// up to a batch's worth.
    std::vector<std::string> readingOrder(AppTree& tree, const std::string& path);
    /// Fetches the `extras` of the object that it can answer and its reads use (with `text`,
    /// its text whatever its value is), with the same extras of the objects that follow it in
    /// reading order, in one batch.
    void ensure(AppTree& tree, const std::string& path, uint8_t extras, bool text = false);
    void readNodes(AppTree& tree, const std::vector<std::string>& paths);
    void readActions(AppTree& tree, const std::vector<std::pair<std::string, int>>& counts);
    ObjectTraits traitsOf(AppTree& tree, const Node& node);
    AttributeRead read(const Resolved& target, const std::string& name);
    AttributeRead readApplication(const Resolved& target, const std::string& name);
    AttributeRead readSystemWide(const std::string& name);
    AttributeRead readMenu(const Resolved& target, const std::string& name);
    AttributeRead readObject(const Resolved& target, const std::string& name);
    Element elementFor(const ObjectRef& ref, pid_t pid);
    std::vector<Element> windowsOf(AppTree& tree, const std::string& rootPath, pid_t pid);
    Element findInWindows(AppTree& tree, const std::string& rootPath, pid_t pid,
                          bool (*wanted)(const Node&));
    std::optional<std::string> windowTitle(AppTree& tree, const std::string& path, pid_t pid);
    std::optional<WindowInfo> windowFor(AppTree& tree, const std::string& path, pid_t pid);
    int callBoolean(const ObjectRef& ref, const char* interface, const char* method,
                    std::optional<int32_t> argument = std::nullopt,
                    const std::string* text = nullptr);
    int setNumber(const ObjectRef& ref, double value);
    struct ValueRange {
        double current = 0, minimum = 0, maximum = 0, increment = 0;
    };
    /// The value interface's numbers, read together; nothing (and `error`) on failure.
    std::optional<ValueRange> valueRange(const ObjectRef& ref, int& error);
    /// The first selected range of a text, or the caret as an empty range.
    std::optional<std::pair<int32_t, int32_t>> selection(const ObjectRef& ref);
    /// Replaces the selection (or inserts at the caret); returns an error number.
    int replaceSelection(const ObjectRef& ref, const std::string& text);
    int stepValue(const ObjectRef& ref, double direction);

    std::recursive_mutex mutex_;
    AtspiClient& client_;
    WindowSystem& windows_;
    Clock& clock_;
    ChangeCount& changes_;
    std::map<std::string, AppTree> trees_;
    std::optional<bool> trusted_;
    Instant trustedAt_{};
};

}  // namespace pelko::computer::linux_desktop
