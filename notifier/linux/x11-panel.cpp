#include "linux/x11-panel.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
#include <unistd.h>

#include <algorithm>

namespace pelko::notifier {
namespace {

/// A pixel at least half covered by the content belongs to the window's shape.
constexpr uint32_t shapeAlphaThreshold = 128;

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

}  // namespace

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

}  // namespace pelko::notifier
