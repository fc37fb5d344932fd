#include "linux/x11-windowing.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/Xrender.h>
#include <X11/extensions/shape.h>
#include <cairo.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "linux/url-opener.h"
#include "pango-cairo.h"

namespace pelko::notifier {
namespace {

/// Animations move at the display's usual rate.
constexpr Duration frameInterval = seconds(1.0 / 60);
/// A pixel at least half covered by the content belongs to the window's shape.
constexpr uint32_t shapeAlphaThreshold = 128;

struct DisplayClose {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayClose>;

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

/// The rows of `image` where its alpha reaches the threshold, as rectangles in y-x bands:
/// each run of covered pixels in a row, rows with the same runs joined.
std::vector<XRectangle> coveredArea(cairo_surface_t* image) {
    const int width = cairo_image_surface_get_width(image);
    const int height = cairo_image_surface_get_height(image);
    const int stride = cairo_image_surface_get_stride(image);
    const unsigned char* data = cairo_image_surface_get_data(image);
    std::vector<XRectangle> rectangles;
    std::vector<std::pair<int, int>> previousRuns;
    size_t previousStart = 0;
    for (int y = 0; y < height; ++y) {
        auto row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
        std::vector<std::pair<int, int>> runs;
        for (int x = 0; x < width;) {
            if ((row[x] >> 24) < shapeAlphaThreshold) {
                ++x;
                continue;
            }
            int start = x;
            while (x < width && (row[x] >> 24) >= shapeAlphaThreshold) ++x;
            runs.emplace_back(start, x - start);
        }
        if (y > 0 && runs == previousRuns) {
            for (size_t i = previousStart; i < rectangles.size(); ++i) ++rectangles[i].height;
            continue;
        }
        previousStart = rectangles.size();
        for (auto [x, length] : runs)
            rectangles.push_back({static_cast<short>(x), static_cast<short>(y),
                                  static_cast<unsigned short>(length), 1});
        previousRuns = std::move(runs);
    }
    return rectangles;
}

bool sameRectangles(const std::vector<XRectangle>& a, const std::vector<XRectangle>& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](const XRectangle& p, const XRectangle& q) {
               return p.x == q.x && p.y == q.y && p.width == q.width && p.height == q.height;
           });
}

class X11Timer final : public Timer {
  public:
    explicit X11Timer(std::shared_ptr<bool> cancelled) : cancelled_(std::move(cancelled)) {}
    void invalidate() override { *cancelled_ = true; }

  private:
    std::shared_ptr<bool> cancelled_;
};

}  // namespace

/// The X connection and what the backend learnt about the server at the start.
struct X11Windowing::Connection {
    DisplayPtr display;
    int screen = 0;
    Window root = 0;
    /// A 32-bit TrueColor visual, for panels with an alpha channel; null when there is none.
    Visual* argbVisual = nullptr;
    Colormap argbColormap = 0;
    /// RENDER's formats of the default visual and of 32-bit pixmaps with alpha; null without
    /// the extension.
    XRenderPictFormat* renderFormat = nullptr;
    XRenderPictFormat* argbFormat = nullptr;
    bool shapes = false;       ///< the SHAPE extension, with input shapes (1.1)
    bool monitorList = false;  ///< RandR 1.5 and its monitor list
    Atom compositorSelection = 0;
    Atom workAreaAtom = 0;
    Atom currentDesktopAtom = 0;
    Atom windowTypeAtom = 0;
    Atom notificationTypeAtom = 0;
    Atom pidAtom = 0;

    ~Connection() {
        if (argbColormap) XFreeColormap(display.get(), argbColormap);
    }
};

/// One card panel: an override-redirect window. What the resident sets (frame, alpha) is the
/// model; what the window shows follows it directly or through an animation's frames.
class X11Panel final : public Panel {
  public:
    X11Panel(X11Windowing& windowing, int number, const CardPanelSettings& settings,
             PanelContent& content);
    ~X11Panel() override;

    Rect frame() const override { return frame_; }
    void setFrame(Rect frame, bool display) override;
    double alpha() const override { return alpha_; }
    void setAlpha(double alpha) override;
    bool isVisible() const override { return visible_; }
    void orderFrontRegardless() override;
    void orderOut() override;
    void close() override;

    int number() const { return number_; }
    Window window() const { return window_; }
    PanelContent& content() const { return content_; }
    bool transparent() const { return transparent_; }
    Rect shownFrame() const { return shownFrame_; }
    double shownAlpha() const { return shownAlpha_; }
    /// Moves the window and sets its alpha as shown on the screen now.
    void show(Rect frame, double alpha);
    /// The content may look different: it is drawn again before the next paint.
    void contentChanged();
    /// Puts the picture on the window: the content drawn anew when it may have changed, faded to
    /// the shown alpha.
    void paint();
    /// A point of the window (pixels from its top-left corner) in the panel's points.
    Point toPanel(int x, int y) const;

  private:
    friend class X11Windowing;  // an animation sets the model values at its start
    void destroyWindow();
    void render(int width, int height);
    void output(cairo_surface_t* picture, int width, int height);

    X11Windowing& windowing_;
    Display* display_;
    int number_;
    PanelContent& content_;
    Window window_ = 0;
    bool transparent_ = false;
    Visual* visual_ = nullptr;
    Rect frame_;
    double alpha_ = 1;
    Rect shownFrame_;
    double shownAlpha_ = 1;
    bool visible_ = false;
    bool stale_ = true;
    SurfacePtr picture_;  ///< the content at alpha 1, at the window's size
    GC gc_ = nullptr;
    std::vector<XRectangle> shape_;
};

X11Panel::X11Panel(X11Windowing& windowing, int number, const CardPanelSettings& settings,
                   PanelContent& content)
    : windowing_(windowing),
      display_(windowing.connection_->display.get()),
      number_(number),
      content_(content),
      frame_(settings.contentRect),
      shownFrame_(settings.contentRect) {
    auto& connection = *windowing.connection_;
    const PixelRect at = windowing.space_.toPixels(frame_);
    XSetWindowAttributes attributes{};
    // Never managed by the window manager, so never given the keyboard focus or a frame.
    attributes.override_redirect = True;
    attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                            EnterWindowMask | LeaveWindowMask;
    attributes.border_pixel = 0;
    unsigned long mask = CWOverrideRedirect | CWEventMask | CWBorderPixel;
    int depth = CopyFromParent;
    // Transparency needs both a visual with alpha and a compositing manager that blends it;
    // without one the window is shaped to the content and drawn over the desktop's background.
    transparent_ = windowing.options_.allowTransparency && connection.argbVisual &&
                   windowing.compositorRunning();
    if (transparent_) {
        visual_ = connection.argbVisual;
        depth = 32;
        attributes.colormap = connection.argbColormap;
        attributes.background_pixel = 0;
        mask |= CWColormap | CWBackPixel;
    } else {
        visual_ = DefaultVisual(display_, connection.screen);
        attributes.background_pixmap = ParentRelative;
        mask |= CWBackPixmap;
    }
    window_ = XCreateWindow(display_, connection.root, at.x, at.y,
                            static_cast<unsigned>(std::max(at.width, 1)),
                            static_cast<unsigned>(std::max(at.height, 1)), 0, depth, InputOutput,
                            visual_, mask, &attributes);

    XWMHints hints{};
    hints.flags = InputHint;
    hints.input = False;  // clicking a card never takes the keyboard from the user's app
    XSetWMHints(display_, window_, &hints);
    XClassHint classHint{const_cast<char*>("pelko-notifier"), const_cast<char*>("Pelko-notifier")};
    XSetClassHint(display_, window_, &classHint);
    XStoreName(display_, window_, "Pelko notification");
    XChangeProperty(display_, window_, connection.windowTypeAtom, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&connection.notificationTypeAtom), 1);
    long pid = ::getpid();
    XChangeProperty(display_, window_, connection.pidAtom, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);
}

X11Panel::~X11Panel() {
    destroyWindow();
    windowing_.forget(this);
}

void X11Panel::destroyWindow() {
    if (!window_) return;
    if (gc_) XFreeGC(display_, gc_);
    gc_ = nullptr;
    XDestroyWindow(display_, window_);
    window_ = 0;
}

Point X11Panel::toPanel(int x, int y) const {
    const double scale = windowing_.space_.scale;
    return {x / scale, y / scale};
}

void X11Panel::setFrame(Rect frame, bool /*display*/) {
    // Set directly, the frame ends any animation of it; the window is repainted within this turn
    // of the main loop either way.
    frame_ = frame;
    windowing_.stopTracks(this, true, false);
    show(frame, shownAlpha_);
}

void X11Panel::setAlpha(double alpha) {
    alpha_ = alpha;
    windowing_.stopTracks(this, false, true);
    show(shownFrame_, alpha);
}

void X11Panel::orderFrontRegardless() {
    if (!window_) return;
    if (!visible_) {
        // The window already stands where `show` last put it.
        XMapRaised(display_, window_);
        visible_ = true;
        windowing_.record("panel " + std::to_string(number_) + " shown");
    } else {
        XRaiseWindow(display_, window_);
    }
    contentChanged();
}

void X11Panel::orderOut() {
    if (window_ && visible_) XUnmapWindow(display_, window_);
    visible_ = false;
    if (windowing_.hovered_ == this) windowing_.hovered_ = nullptr;
    windowing_.record("panel " + std::to_string(number_) + " out");
}

void X11Panel::close() {
    visible_ = false;
    if (windowing_.hovered_ == this) windowing_.hovered_ = nullptr;
    if (windowing_.pressed_ == this) windowing_.pressed_ = nullptr;
    destroyWindow();
    windowing_.record("panel " + std::to_string(number_) + " closed");
}

void X11Panel::show(Rect frame, double alpha) {
    const ScreenSpace& space = windowing_.space_;
    const PixelRect before = space.toPixels(shownFrame_);
    const PixelRect after = space.toPixels(frame);
    const bool faded = alpha != shownAlpha_;
    shownFrame_ = frame;
    shownAlpha_ = alpha;
    if (!window_) return;
    if (after != before) {
        XMoveResizeWindow(display_, window_, after.x, after.y,
                          static_cast<unsigned>(std::max(after.width, 1)),
                          static_cast<unsigned>(std::max(after.height, 1)));
    }
    if (after.width != before.width || after.height != before.height) contentChanged();
    if (faded) windowing_.needsPaint(this);
}

void X11Panel::contentChanged() {
    stale_ = true;
    windowing_.needsPaint(this);
}

void X11Panel::render(int width, int height) {
    picture_.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    {
        CairoPtr cairo(cairo_create(picture_.get()));
        const double scale = windowing_.space_.scale;
        cairo_scale(cairo.get(), scale, scale);
        content_.draw(cairo.get(), {width / scale, height / scale});
    }
    cairo_surface_flush(picture_.get());
    stale_ = false;

    // Only the content's own pixels take the pointer (the rounded corners let it through), and
    // without transparency only they are drawn on the screen.
    if (!windowing_.connection_->shapes) return;
    std::vector<XRectangle> shape = coveredArea(picture_.get());
    if (sameRectangles(shape, shape_)) return;
    shape_ = std::move(shape);
    auto* rectangles = shape_.empty() ? nullptr : shape_.data();
    XShapeCombineRectangles(display_, window_, ShapeInput, 0, 0, rectangles,
                            static_cast<int>(shape_.size()), ShapeSet, YXBanded);
    if (!transparent_)
        XShapeCombineRectangles(display_, window_, ShapeBounding, 0, 0, rectangles,
                                static_cast<int>(shape_.size()), ShapeSet, YXBanded);
}

void X11Panel::paint() {
    if (!window_ || !visible_) return;
    const PixelRect at = windowing_.space_.toPixels(shownFrame_);
    if (at.width <= 0 || at.height <= 0) return;
    if (stale_ || !picture_ || cairo_image_surface_get_width(picture_.get()) != at.width ||
        cairo_image_surface_get_height(picture_.get()) != at.height)
        render(at.width, at.height);

    cairo_surface_t* picture = picture_.get();
    SurfacePtr faded;
    if (shownAlpha_ < 1) {
        faded.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, at.width, at.height));
        CairoPtr cairo(cairo_create(faded.get()));
        cairo_set_source_surface(cairo.get(), picture_.get(), 0, 0);
        cairo_paint_with_alpha(cairo.get(), std::max(shownAlpha_, 0.0));
        picture = faded.get();
    }
    output(picture, at.width, at.height);
}

void X11Panel::output(cairo_surface_t* picture, int width, int height) {
    // Cairo's image pixels are premultiplied ARGB in native 32-bit words, which is the X
    // server's 32-bit-per-pixel layout for depths 24 and 32 when told the bytes' order.
    auto image = [&](int depth) {
        XImage* made = XCreateImage(display_, visual_, static_cast<unsigned>(depth), ZPixmap, 0,
                                    reinterpret_cast<char*>(cairo_image_surface_get_data(picture)),
                                    static_cast<unsigned>(width), static_cast<unsigned>(height), 32,
                                    cairo_image_surface_get_stride(picture));
        if (made)
            made->byte_order = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? LSBFirst : MSBFirst;
        return made;
    };
    auto release = [](XImage* made) {
        made->data = nullptr;  // Cairo's
        XDestroyImage(made);
    };
    if (!gc_) gc_ = XCreateGC(display_, window_, 0, nullptr);
    const auto& connection = *windowing_.connection_;
    if (transparent_ || !connection.renderFormat) {
        // The compositing manager blends the window's pixels, alpha and all, with what lies
        // below (without RENDER, a shaped window shows them as if over black).
        XImage* made = image(transparent_ ? 32 : DefaultDepth(display_, connection.screen));
        if (!made) return;
        XPutImage(display_, window_, gc_, made, 0, 0, 0, 0, static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
        release(made);
        return;
    }
    // The desktop's background first, then the card composited over it, as a compositor would.
    XClearWindow(display_, window_);
    Pixmap pixmap = XCreatePixmap(display_, window_, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height), 32);
    GC pixmapGC = XCreateGC(display_, pixmap, 0, nullptr);
    if (XImage* made = image(32)) {
        XPutImage(display_, pixmap, pixmapGC, made, 0, 0, 0, 0, static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
        release(made);
    }
    Picture source = XRenderCreatePicture(display_, pixmap, connection.argbFormat, 0, nullptr);
    Picture target = XRenderCreatePicture(display_, window_, connection.renderFormat, 0, nullptr);
    XRenderComposite(display_, PictOpOver, source, None, target, 0, 0, 0, 0, 0, 0,
                     static_cast<unsigned>(width), static_cast<unsigned>(height));
    XRenderFreePicture(display_, target);
    XRenderFreePicture(display_, source);
    XFreeGC(display_, pixmapGC);
    XFreePixmap(display_, pixmap);
}

// The windowing.

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
    auto connection = std::make_unique<Connection>();
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
                           std::unique_ptr<Connection> connection, X11Options options)
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
