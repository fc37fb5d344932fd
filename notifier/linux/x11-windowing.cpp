#include "linux/x11-windowing.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "linux/url-opener.h"
#include "linux/x11-connection.h"
#include "linux/x11-panel.h"

namespace pelko::notifier {
namespace {

/// Animations move at the display's usual rate.
constexpr Duration frameInterval = seconds(1.0 / 60);
/// Errors of single requests (a window already gone, an extension that refuses) read as
/// nothing: the default handler would end the resident.
int ignoreError(Display*, XErrorEvent*) {
    return 0;
}

std::string number(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

std::string describeRect(Rect rect) {
    return "(" + number(rect.x) + ", " + number(rect.y) + ", " + number(rect.width) + ", " +
           number(rect.height) + ")";
}

/// Slow at both ends, as a window system's default animation curve.
double easeInOut(double t) {
    return t * t * (3 - 2 * t);
}

double mix(double from, double to, double t) {
    return from + (to - from) * t;
}

Rect mix(Rect from, Rect to, double t) {
    return {mix(from.x, to.x, t), mix(from.y, to.y, t), mix(from.width, to.width, t),
            mix(from.height, to.height, t)};
}
class X11Timer final : public Timer {
  public:
    explicit X11Timer(std::shared_ptr<bool> cancelled) : cancelled_(std::move(cancelled)) {}
    void invalidate() override { *cancelled_ = true; }

  private:
    std::shared_ptr<bool> cancelled_;
};

}  // namespace

std::unique_ptr<X11Windowing> X11Windowing::connect(Clock& clock, const char* displayName,
                                                    X11Options options) {
    return open(clock, nullptr, displayName, std::move(options));
}

std::unique_ptr<X11Windowing> X11Windowing::connect(VirtualClock& clock, const char* displayName,
                                                    X11Options options) {
    return open(clock, &clock, displayName, std::move(options));
}

std::unique_ptr<X11Windowing> X11Windowing::open(Clock& clock, VirtualClock* virtualClock,
                                                 const char* displayName, X11Options options) {
    DisplayPtr display(XOpenDisplay(displayName));
    if (!display) return nullptr;
    XSetErrorHandler(ignoreError);
    auto connection = std::make_unique<X11Connection>();
    Display* d = display.get();
    connection->screen = DefaultScreen(d);
    connection->root = RootWindow(d, connection->screen);
    XVisualInfo info{};
    if (XMatchVisualInfo(d, connection->screen, 32, TrueColor, &info)) {
        connection->argbVisual = info.visual;
        connection->argbColormap = XCreateColormap(d, connection->root, info.visual, AllocNone);
    }
    int eventBase, errorBase, major = 0, minor = 0;
    if (XRenderQueryExtension(d, &eventBase, &errorBase)) {
        connection->renderFormat = XRenderFindVisualFormat(d, DefaultVisual(d, connection->screen));
        connection->argbFormat = XRenderFindStandardFormat(d, PictStandardARGB32);
        if (!connection->argbFormat) connection->renderFormat = nullptr;
    }
    connection->shapes = XShapeQueryExtension(d, &eventBase, &errorBase) &&
                         XShapeQueryVersion(d, &major, &minor) &&
                         (major > 1 || (major == 1 && minor >= 1));
    major = minor = 0;
    connection->monitorList = XRRQueryExtension(d, &eventBase, &errorBase) &&
                              XRRQueryVersion(d, &major, &minor) &&
                              (major > 1 || (major == 1 && minor >= 5));
    const std::string selection = "_NET_WM_CM_S" + std::to_string(connection->screen);
    connection->compositorSelection = XInternAtom(d, selection.c_str(), False);
    connection->workAreaAtom = XInternAtom(d, "_NET_WORKAREA", False);
    connection->currentDesktopAtom = XInternAtom(d, "_NET_CURRENT_DESKTOP", False);
    connection->windowTypeAtom = XInternAtom(d, "_NET_WM_WINDOW_TYPE", False);
    connection->notificationTypeAtom = XInternAtom(d, "_NET_WM_WINDOW_TYPE_NOTIFICATION", False);
    connection->pidAtom = XInternAtom(d, "_NET_WM_PID", False);
    connection->display = std::move(display);
    return std::unique_ptr<X11Windowing>(
        new X11Windowing(clock, virtualClock, std::move(connection), std::move(options)));
}

X11Windowing::X11Windowing(Clock& clock, VirtualClock* virtualClock,
                           std::unique_ptr<X11Connection> connection, X11Options options)
    : clock_(clock),
      connection_(std::move(connection)),
      options_(std::move(options)),
      space_{options_.scale, DisplayHeight(connection_->display.get(), connection_->screen)},
      loop_(virtualClock ? EventLoop(*virtualClock) : EventLoop(clock)),
      start_(clock.now()) {
    loop_.watch(ConnectionNumber(connection_->display.get()), [this] { pump(); });
}

X11Windowing::~X11Windowing() = default;

std::string X11Windowing::displayName() const {
    return DisplayString(connection_->display.get());
}

bool X11Windowing::compositorRunning() {
    return XGetSelectionOwner(connection_->display.get(), connection_->compositorSelection) != None;
}

std::vector<Monitor> X11Windowing::monitors() {
    Display* display = connection_->display.get();
    std::vector<Monitor> list;
    if (connection_->monitorList) {
        int count = 0;
        XRRMonitorInfo* found = XRRGetMonitors(display, connection_->root, True, &count);
        for (int i = 0; i < count; ++i) {
            list.push_back(
                {{found[i].x, found[i].y, found[i].width, found[i].height}, found[i].primary != 0});
        }
        if (found) XRRFreeMonitors(found);
    }
    if (list.empty()) {
        // Without RandR the X screen is one monitor.
        list.push_back({{0, 0, DisplayWidth(display, connection_->screen),
                         DisplayHeight(display, connection_->screen)},
                        true});
    }
    return list;
}

std::optional<PixelRect> X11Windowing::workArea() {
    Display* display = connection_->display.get();
    auto readCardinals = [&](Atom property) {
        std::vector<long> values;
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, connection_->root, property, 0, 1024, False, XA_CARDINAL,
                               &type, &format, &count, &after, &data) == Success &&
            type == XA_CARDINAL && format == 32 && data) {
            // Format 32 comes as longs, whatever their size.
            auto* longs = reinterpret_cast<long*>(data);
            values.assign(longs, longs + count);
        }
        if (data) XFree(data);
        return values;
    };
    // The window manager's work area of the current desktop: the screen less its panels.
    std::vector<long> area = readCardinals(connection_->workAreaAtom);
    std::vector<long> desktop = readCardinals(connection_->currentDesktopAtom);
    size_t index = desktop.empty() ? 0 : static_cast<size_t>(desktop[0]);
    if (area.size() < 4 * (index + 1)) index = 0;
    if (area.size() < 4) return std::nullopt;
    const long* rect = &area[4 * index];
    return PixelRect{static_cast<int>(rect[0]), static_cast<int>(rect[1]),
                     static_cast<int>(rect[2]), static_cast<int>(rect[3])};
}

std::vector<Screen> X11Windowing::screens() {
    return screensFor(monitors(), workArea(), space_);
}

std::optional<Screen> X11Windowing::mainScreen() {
    std::vector<Screen> all = screens();
    if (all.empty()) return std::nullopt;
    return all.front();
}

Point X11Windowing::pointerLocation() {
    Window rootReturn, child;
    int rootX = 0, rootY = 0, x, y;
    unsigned int buttons;
    XQueryPointer(connection_->display.get(), connection_->root, &rootReturn, &child, &rootX,
                  &rootY, &x, &y, &buttons);
    return space_.toPoints(rootX, rootY);
}

std::unique_ptr<Panel> X11Windowing::createPanel(const CardPanelSettings& settings,
                                                 PanelContent& content) {
    auto panel = std::make_unique<X11Panel>(*this, nextPanelNumber_++, settings, content);
    panels_.push_back(panel.get());
    record("panel " + std::to_string(panel->number()) + " created " +
           describeRect(settings.contentRect) +
           (panel->transparent() ? " transparent" : " shaped"));
    return panel;
}

void X11Windowing::stopTracks(X11Panel* panel, bool frame, bool alpha) {
    for (Track& track : tracks_) {
        if (track.panel != panel) continue;
        if (frame) track.toFrame.reset();
        if (alpha) track.toAlpha.reset();
    }
    std::erase_if(tracks_, [](const Track& track) { return !track.toFrame && !track.toAlpha; });
}

void X11Windowing::animate(Duration duration, std::vector<PanelAnimation> changes,
                           std::function<void()> completion) {
    const size_t animation = ++animationCount_;
    const Instant start = loop_.now();
    for (const PanelAnimation& change : changes) {
        auto* panel = static_cast<X11Panel*>(change.panel);
        // The newest animation of a value takes it over from where the screen shows it.
        stopTracks(panel, change.frame.has_value(), change.alpha.has_value());
        if (change.frame) panel->frame_ = *change.frame;
        if (change.alpha) panel->alpha_ = *change.alpha;
        tracks_.push_back({panel, animation, start, duration, panel->shownFrame(), change.frame,
                           panel->shownAlpha(), change.alpha});
        // A post that updated the card's content ends in an animation: show the new content.
        panel->contentChanged();
    }
    scheduleTick();
    loop_.postAfter(duration, [this, animation, completion = std::move(completion)] {
        finishAnimation(animation);
        record("animation " + std::to_string(animation) + " done");
        if (completion) completion();
    });
}

void X11Windowing::scheduleTick() {
    if (tickPending_ || tracks_.empty()) return;
    tickPending_ = true;
    loop_.postAfter(frameInterval, [this] { tick(); });
}

void X11Windowing::tick() {
    tickPending_ = false;
    const Instant now = loop_.now();
    for (const Track& track : tracks_) {
        double progress =
            track.duration <= Duration::zero()
                ? 1
                : std::clamp(inSeconds(now - track.start) / inSeconds(track.duration), 0.0, 1.0);
        double t = easeInOut(progress);
        X11Panel& panel = *track.panel;
        panel.show(track.toFrame ? mix(track.fromFrame, *track.toFrame, t) : panel.shownFrame(),
                   track.toAlpha ? mix(track.fromAlpha, *track.toAlpha, t) : panel.shownAlpha());
    }
    // Finished tracks stay at their targets until their group's completion removes them.
    scheduleTick();
}

void X11Windowing::finishAnimation(size_t animation) {
    for (const Track& track : tracks_) {
        if (track.animation != animation) continue;
        X11Panel& panel = *track.panel;
        panel.show(track.toFrame.value_or(panel.shownFrame()),
                   track.toAlpha.value_or(panel.shownAlpha()));
    }
    std::erase_if(tracks_, [&](const Track& track) { return track.animation == animation; });
}

std::unique_ptr<Timer> X11Windowing::scheduleTimer(Duration delay, std::function<void()> fire) {
    auto cancelled = std::make_shared<bool>(false);
    loop_.postAfter(delay, [cancelled, fire = std::move(fire)] {
        if (!*cancelled) fire();
    });
    return std::make_unique<X11Timer>(cancelled);
}

void X11Windowing::post(std::function<void()> task) {
    loop_.post(std::move(task));
}

void X11Windowing::openURL(const std::string& url) {
    bool started = startDetached(options_.opener, url);
    record("open " + url + (started ? "" : " (the opener did not start)"));
}

void X11Windowing::exitApplication(int status) {
    record("exit " + std::to_string(status));
    loop_.quit(status);
}

int X11Windowing::run() {
    return loop_.run();
}

void X11Windowing::runPending() {
    loop_.runPending();
}

void X11Windowing::advance(Duration d) {
    loop_.advance(d);
}

std::optional<int> X11Windowing::exitStatus() const {
    return loop_.exitStatus();
}

void X11Windowing::sync() {
    pump();
    XSync(connection_->display.get(), False);
}

unsigned long X11Windowing::windowOf(const Panel& panel) const {
    return static_cast<const X11Panel&>(panel).window();
}

void X11Windowing::record(const std::string& what) {
    if (!options_.log) return;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%.3f ", inSeconds(clock_.now() - start_));
    *options_.log << stamp << what << std::endl;
}

void X11Windowing::needsPaint(X11Panel* panel) {
    unpainted_.insert(panel);
}

void X11Windowing::forget(X11Panel* panel) {
    std::erase(panels_, panel);
    std::erase_if(tracks_, [&](const Track& track) { return track.panel == panel; });
    unpainted_.erase(panel);
    if (hovered_ == panel) hovered_ = nullptr;
    if (pressed_ == panel) pressed_ = nullptr;
}

X11Panel* X11Windowing::panelFor(unsigned long window) const {
    for (X11Panel* panel : panels_)
        if (panel->window() == window && window != 0) return panel;
    return nullptr;
}

void X11Windowing::hover(X11Panel* panel) {
    if (panel == hovered_) return;
    if (hovered_) {
        hovered_->content().pointerExited();
        hovered_->contentChanged();
    }
    hovered_ = panel;
    if (hovered_) {
        hovered_->content().pointerEntered();
        hovered_->contentChanged();
    }
}

void X11Windowing::pump() {
    Display* display = connection_->display.get();
    while (XPending(display)) {
        XEvent event;
        XNextEvent(display, &event);
        dispatch(&event);
    }
    // Every panel is painted at most once a turn, after all that changed it.
    for (X11Panel* panel : std::exchange(unpainted_, {})) panel->paint();
    XFlush(display);
}

void X11Windowing::dispatch(void* raw) {
    XEvent& event = *static_cast<XEvent*>(raw);
    X11Panel* panel = panelFor(event.xany.window);
    if (!panel) return;
    auto pointerEvent = [&](X11Panel& on, int x, int y, int rootX, int rootY) {
        return PointerEvent{on.toPanel(x, y), space_.toPoints(rootX, rootY)};
    };
    switch (event.type) {
        case Expose:
            if (event.xexpose.count == 0) needsPaint(panel);
            break;
        case EnterNotify:
            hover(panel);
            break;
        case LeaveNotify:
            if (event.xcrossing.detail != NotifyInferior && hovered_ == panel) hover(nullptr);
            break;
        case MotionNotify: {
            // Only the latest position of a burst matters; a burst ends at any other event, so a
            // press or release is never overtaken by the motions that follow it.
            Display* display = connection_->display.get();
            while (XEventsQueued(display, QueuedAlready) > 0) {
                XEvent next;
                XPeekEvent(display, &next);
                if (next.type != MotionNotify || next.xmotion.window != event.xmotion.window) break;
                XNextEvent(display, &event);
            }
            const XMotionEvent& motion = event.xmotion;
            PointerEvent moved =
                pointerEvent(*panel, motion.x, motion.y, motion.x_root, motion.y_root);
            if (pressed_ == panel)
                panel->content().pointerDragged(moved);
            else if (!pressed_)
                panel->content().pointerMoved(moved);
            break;
        }
        case ButtonPress: {
            const XButtonEvent& button = event.xbutton;
            PointerEvent at =
                pointerEvent(*panel, button.x, button.y, button.x_root, button.y_root);
            if (button.button >= Button4 && button.button <= Button4 + 3) {
                // A wheel's clicks: whole steps, no gesture phases, no precise deltas.
                ScrollEvent scroll;
                scroll.hasPreciseScrollingDeltas = false;
                scroll.deltaY = button.button == Button4 ? 1 : button.button == Button5 ? -1 : 0;
                scroll.deltaX = button.button == Button4 + 2   ? 1
                                : button.button == Button4 + 3 ? -1
                                                               : 0;
                panel->content().scrolled(scroll);
                break;
            }
            if (button.button != Button1 || pressed_) break;
            if (panel->content().hitTest(at.at) == PanelHit::nothing) break;
            pressed_ = panel;
            panel->content().pointerDown(at);
            panel->contentChanged();
            break;
        }
        case ButtonRelease: {
            const XButtonEvent& button = event.xbutton;
            if (button.button != Button1 || pressed_ != panel) break;
            pressed_ = nullptr;
            panel->content().pointerUp(
                pointerEvent(*panel, button.x, button.y, button.x_root, button.y_root));
            panel->contentChanged();
            break;
        }
        default:
            break;
    }
}

}  // namespace pelko::notifier
