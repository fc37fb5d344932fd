// A simulated desktop: a scriptable model of the platform, loaded from a scene (a JSON file or
// a value built in code), that implements every seam of pelko-computer.
//
// The model keeps state and changes it when the program acts: a performed action runs the
// element's scripted effects, a set attribute reads back changed, an opened bundle becomes a
// running app. Everything that changes anything is written to the call log. The scene format,
// the log and the control commands are described in docs/sim-desktop.md.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "call-log.h"
#include "fd.h"
#include "platform/platform.h"

namespace pelko::computer::sim {

/// A scene that cannot be read or does not describe a desktop.
struct SceneError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// The font family that stands in for the platform's interface font when the simulated desktop
/// measures and draws text: Inter, an open font drawn for screen interfaces whose shapes and
/// widths come closest to it among Debian's fonts (package fonts-inter). When Inter is missing,
/// fontconfig's fallback is used, so measuring never fails.
inline constexpr const char* interfaceFontFamily = "Inter";

/// Counts of the accessibility traffic, for benchmarks: every attribute copied, and every
/// call that would be one round trip to another process.
struct AccessibilityTraffic {
    long attributeReads = 0;
    long roundTrips = 0;
};

class SimDesktop final : public Application,
                         public Accessibility,
                         public ScreenCapture,
                         public Workspace,
                         public Events,
                         public Panels {
  public:
    /// Builds the desktop that `scene` describes; throws `SceneError` when it is malformed.
    /// Pauses and delays of the model take their time from `clock`.
    SimDesktop(Clock& clock, const JSON& scene, const std::string& logPath = {});
    ~SimDesktop() override;
    /// Reads the scene from the file at `path`.
    static JSON loadScene(const std::string& path);

    /// Runs one control command (the user or an app acting); throws `SceneError` when the
    /// command is malformed. The same commands serve as the scripted effects of actions.
    void control(const JSON& command);
    /// Reads control commands, one JSON object per line, from the file (a FIFO) at `path` on a
    /// thread of its own until the desktop is destroyed.
    void listenForControl(const std::string& path);

    /// The element that the scene named `name`; empty when there is none.
    Element elementNamed(const std::string& name);
    /// The process identifier of the running app with this localized name; 0 when none.
    pid_t pidOf(const std::string& appName);
    AccessibilityTraffic traffic() const;
    CallLog& log() { return log_; }
    /// From now on global key monitors run as tasks on `loop` (the main thread), as on the
    /// platform; without a loop they run on the thread that caused the key press.
    void deliverKeyMonitorsOn(MainLoop& loop);
    /// A panel as the simulated window server holds it, for pictures and tests.
    struct PanelState {
        int id = 0;
        Rect frame;
        PanelStyle style;
        std::optional<PanelContent> content;
        double alpha = 1;
        bool onScreen = false;
    };
    /// The panels that exist, in the order they were made.
    std::vector<PanelState> panelStates();
    /// Where the simulated pointer is.
    Point pointer();
    /// The value of an element's attribute as scene JSON (null when it has none).
    JSON attributeOf(const std::string& elementName, const std::string& attribute);

    // Application
    void becomeAccessory() override;
    bool addGlobalKeyDownMonitor(std::function<void(const KeyDown&)> handler) override;
    // Accessibility
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
    // ScreenCapture
    bool preflight() override;
    bool request() override;
    // Workspace
    bool openURL(const std::string& url) override;
    std::vector<RunningApp> runningApplications() override;
    std::vector<RunningApp> runningApplications(const std::string& bundleId) override;
    std::optional<RunningApp> frontmostApplication() override;
    std::optional<RunningApp> runningApplication(pid_t pid) override;
    std::optional<std::string> applicationLocation(const std::string& bundleId) override;
    void openApplication(const std::string& path, bool activates,
                         OpenCompletion completion) override;
    std::optional<BundleDescription> bundleAt(const std::string& path) override;
    bool fileExists(const std::string& path) override;
    std::optional<std::vector<std::string>> listFolder(const std::string& path) override;
    std::string homeFolder() override;
    bool activate(pid_t pid) override;
    bool unhide(pid_t pid) override;
    // Events
    std::optional<InputEvent> createMouseEvent(EventSourceState source, EventType type,
                                               Point location, MouseButton button) override;
    std::optional<InputEvent> createKeyboardEvent(EventSourceState source, uint16_t keyCode,
                                                  bool down) override;
    std::optional<InputEvent> createScrollWheelEvent(EventSourceState source, int32_t wheel1,
                                                     int32_t wheel2) override;
    void postSystem(const InputEvent& event) override;
    void postToProcess(const InputEvent& event, pid_t pid) override;
    std::optional<Point> pointerLocation() override;
    void warpPointer(Point location) override;
    // Panels
    std::vector<Screen> screens() override;
    std::optional<Screen> mainScreen() override;
    Rgba accentColor() override;
    Size measureText(const std::string& text, const Font& font) override;
    Panel createPanel(const Rect& frame, const PanelStyle& style) override;
    void setContent(const Panel& panel, const PanelContent& content) override;
    void setLabelText(const Panel& panel, const std::string& text) override;
    void setFrame(const Panel& panel, const Rect& frame) override;
    void setAlpha(const Panel& panel, double alpha) override;
    void orderFront(const Panel& panel) override;
    void orderOut(const Panel& panel) override;

  private:
    using Id = int;
    static constexpr Id systemWide = -1;

    struct Node {
        Id id = 0;
        pid_t pid = 0;
        std::string name;  // the scene's id for it, if any
        Id parent = 0;
        std::vector<Id> children;
        /// Attribute values as scene JSON: references to elements are {"ref": name}.
        std::map<std::string, JSON> attributes;
        /// Attributes whose read fails with the given error number.
        std::map<std::string, int> failing;
        std::set<std::string> settable;
        std::vector<std::string> actions;
        /// Per action: the commands it runs, and the error number it answers.
        std::map<std::string, JSON> effects;
        std::map<std::string, int> actionErrors;
        /// Its children stay hidden until the app's tree is revealed.
        bool lazy = false;
        bool destroyed = false;
    };

    struct App {
        RunningApp info;
        Id element = 0;  // the application element
        Id menuBar = 0;
        std::vector<Id> windows;
        /// The first this many reads of "AXWindows" find none (a window still coming up).
        int windowlessReads = 0;
        /// The attribute whose setting to true reveals lazy parts ("" when they are never hidden
        /// for want of a switch), the delay after that, and when the reveal happened.
        std::string revealedBy;
        Duration revealDelay{};
        std::optional<Instant> revealedAt;
        /// Key events sent to the process are accepted while it is in the background.
        bool acceptsBackgroundKeys = false;
        /// Whether a request to activate brings it forward at all, and after how long.
        bool activates = true;
        Duration activationDelay{};
    };

    struct Bundle {
        std::string path;
        BundleDescription description;
        JSON launch = JSON::object();  // how opening it goes, and the app it becomes
    };

    struct Handle : ElementHandle {
        explicit Handle(Id id) : id(id) {}
        Id id;
    };

    // All private members are called with `mutex_` held. The model is kept in one file per
    // seam (sim-accessibility, sim-application, sim-workspace, sim-events, sim-panels,
    // sim-screen-capture), the scene's loading in sim-scene and the commands in sim-control.

    // Lookups (sim-desktop.cpp).
    Element handle(Id id) const { return std::make_shared<Handle>(id); }
    static Id idOf(const Element& element);
    /// How the call log names an element: its scene id, or "#<number>".
    static std::string logName(const Node* node, const Element& element);
    Node* live(const Element& element);
    App* appOf(pid_t pid);
    App* appWithElement(Id id);
    Id resolveName(const JSON& reference) const;
    bool revealed(const App& app) const;
    // Loading (sim-scene.cpp).
    Id addNode(const JSON& entry, pid_t pid, Id parent);
    void addApp(const JSON& entry, std::optional<pid_t> pid = std::nullopt);
    void readEventScene(const JSON& scene);
    void readPanelScene(const JSON& scene);
    void readAppEventKeys(App& app, const JSON& entry);
    // Attribute values (sim-accessibility.cpp).
    Value toValue(const JSON& json) const;
    JSON toJSON(const Value& value) const;
    AttributeRead read(const Node& node, const std::string& name);
    // Commands (sim-control.cpp).
    App* appByReference(const JSON& reference);
    void detach(Id id);
    void destroy(Id id);
    void runCommand(const JSON& command, std::vector<std::function<void()>>& after);
    // Activation (sim-workspace.cpp), keys and events (sim-application.cpp, sim-events.cpp),
    // panels (sim-panels.cpp).
    void makeFront(pid_t pid);
    void deliverKey(const KeyDown& key, std::vector<std::function<void()>>& after);
    void post(const InputEvent& event, std::optional<pid_t> target);
    void typeInto(App& app, const InputEvent& event);
    struct SimPanel;
    std::shared_ptr<SimPanel> simPanel(const Panel& panel);

    Clock& clock_;
    CallLog log_;
    mutable std::mutex mutex_;
    bool trusted_;
    bool screenCapture_;
    bool trustPromptGrants_;
    bool screenCapturePromptGrants_;
    Duration openURLTime_;
    std::string home_;
    std::map<Id, Node> nodes_;
    std::map<std::string, Id> names_;
    Id nextId_ = 1;
    std::vector<pid_t> order_;  // running apps in the workspace's order
    std::map<pid_t, App> apps_;
    pid_t nextPid_ = 1000;
    std::vector<Bundle> bundles_;
    std::set<std::string> folders_;
    std::set<std::string> unlistable_;
    std::vector<std::function<void(const KeyDown&)>> keyMonitors_;
    MainLoop* monitorLoop_ = nullptr;
    // Input events.
    Point pointer_;
    bool pointerReadable_ = true;
    std::set<std::string> uncreatableEvents_;
    // Panels.
    std::vector<Screen> screens_;
    std::optional<size_t> mainScreen_;
    Rgba accent_;
    std::vector<std::weak_ptr<SimPanel>> panels_;
    AccessibilityTraffic traffic_;
    std::atomic<bool> stopping_{false};
    std::thread controlThread_;
    /// Written once when the desktop ends, so that the control thread stops waiting.
    FileDescriptor controlWake_;
};

}  // namespace pelko::computer::sim
