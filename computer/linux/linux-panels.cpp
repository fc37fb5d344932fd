#include "linux-panels.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>
#include <cairo-xlib.h>

#include <algorithm>
#include <cmath>

#include "cairo-shapes.h"
#include "pango-cairo.h"
#include "text-measure.h"

namespace pelko::computer::linux_desktop {

class LinuxPanels::Window final : public PanelHandle {
  public:
    Window(LinuxPanels& owner, ::Window id) : owner(owner), id(id) {}
    ~Window() override {
        std::lock_guard lock(owner.mutex_);
        XDestroyWindow(owner.display_.get(), id);
        XFlush(owner.display_.get());
    }
    LinuxPanels& owner;
    ::Window id;
    Rect frame;  ///< seam coordinates
    Rect rootFrame;
    std::optional<PanelContent> content;
};

namespace {

int pixels(double length) {
    return std::max(1, static_cast<int>(std::lround(length)));
}

// Draws the layer and the label into `cairo`, `width` × `height` pixels, y downward.
void drawContent(cairo_t* cairo, const PanelContent& content, double width, double height) {
    cairo_set_operator(cairo, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cairo, 0, 0, 0, 0);
    cairo_paint(cairo);
    cairo_set_operator(cairo, CAIRO_OPERATOR_OVER);
    const PanelLayer& layer = content.layer;
    // The border is drawn inside the bounds, as a layer's border is.
    const double inset = layer.borderWidth / 2;
    roundedRect(cairo, inset, inset, width - 2 * inset, height - 2 * inset,
                std::max(0.0, layer.cornerRadius - inset));
    cairo_set_source_rgba(cairo, layer.background.red, layer.background.green,
                          layer.background.blue, layer.background.alpha);
    cairo_fill_preserve(cairo);
    if (layer.borderWidth > 0) {
        cairo_set_line_width(cairo, layer.borderWidth);
        cairo_set_source_rgba(cairo, layer.borderColor.red, layer.borderColor.green,
                              layer.borderColor.blue, layer.borderColor.alpha);
        cairo_stroke(cairo);
    } else {
        cairo_new_path(cairo);
    }
    if (!content.label) return;
    const PanelLabel& label = *content.label;
    GObjectPtr<PangoLayout> layout(pango_cairo_create_layout(cairo));
    const auto font = describeFont(panelFontFamily, label.font.size, label.font.weight);
    pango_layout_set_font_description(layout.get(), font.get());
    pango_layout_set_text(layout.get(), label.text.c_str(), -1);
    pango_layout_set_single_paragraph_mode(layout.get(), true);
    pango_layout_set_width(layout.get(), static_cast<int>(label.frame.size.width * PANGO_SCALE));
    pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
    pango_layout_set_alignment(layout.get(), PANGO_ALIGN_CENTER);
    PangoRectangle logical{};
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    // The label's frame counts from the bottom; the text sits in its middle.
    const double top = height - label.frame.maxY();
    const double textHeight = static_cast<double>(logical.height) / PANGO_SCALE;
    cairo_move_to(cairo, label.frame.minX(), top + (label.frame.size.height - textHeight) / 2);
    cairo_set_source_rgba(cairo, label.color.red, label.color.green, label.color.blue,
                          label.color.alpha);
    pango_cairo_show_layout(cairo, layout.get());
}

}  // namespace

LinuxPanels::LinuxPanels(DisplayPtr display, X11Desktop& x11)
    : display_(std::move(display)), x11_(x11) {
    Display* dpy = display_.get();
    XVisualInfo info{};
    // A visual with alpha, so a compositor can blend the panels' translucent parts.
    if (XMatchVisualInfo(dpy, DefaultScreen(dpy), 32, TrueColor, &info)) {
        visual_ = info.visual;
        depth_ = 32;
        colormap_ = XCreateColormap(dpy, DefaultRootWindow(dpy), visual_, AllocNone);
    } else {
        visual_ = DefaultVisual(dpy, DefaultScreen(dpy));
        depth_ = DefaultDepth(dpy, DefaultScreen(dpy));
        colormap_ = DefaultColormap(dpy, DefaultScreen(dpy));
    }
}

LinuxPanels::~LinuxPanels() {
    Display* dpy = display_.get();
    if (depth_ == 32) XFreeColormap(dpy, colormap_);
}

Rect LinuxPanels::toRoot(const Rect& frame, const Rect& primary) {
    return {{frame.minX() + primary.minX(), primary.maxY() - frame.maxY()}, frame.size};
}

Rect LinuxPanels::fromRoot(const Rect& frame, const Rect& primary) {
    return {{frame.minX() - primary.minX(), primary.maxY() - frame.maxY()}, frame.size};
}

Screen LinuxPanels::screenOf(const Monitor& monitor, const Rect& primary,
                             const std::optional<Rect>& work) {
    Rect visible = monitor.frame;
    if (work && work->intersects(monitor.frame)) {
        const double left = std::max(work->minX(), monitor.frame.minX());
        const double top = std::max(work->minY(), monitor.frame.minY());
        const double right = std::min(work->maxX(), monitor.frame.maxX());
        const double bottom = std::min(work->maxY(), monitor.frame.maxY());
        visible = {{left, top}, {right - left, bottom - top}};
    }
    return {fromRoot(monitor.frame, primary), fromRoot(visible, primary)};
}

std::vector<Screen> LinuxPanels::screens() {
    const auto monitors = x11_.monitors();
    const auto work = x11_.workArea();
    std::vector<Screen> screens;
    for (const auto& monitor : monitors)
        screens.push_back(screenOf(monitor, monitors.front().frame, work));
    return screens;
}

std::optional<Screen> LinuxPanels::mainScreen() {
    const auto monitors = x11_.monitors();
    const auto work = x11_.workArea();
    const Rect& primary = monitors.front().frame;
    if (const auto pointer = x11_.pointer()) {
        for (const auto& monitor : monitors) {
            const Rect& frame = monitor.frame;
            if (pointer->x >= frame.minX() && pointer->x < frame.maxX() &&
                pointer->y >= frame.minY() && pointer->y < frame.maxY())
                return screenOf(monitor, primary, work);
        }
    }
    return screenOf(monitors.front(), primary, work);
}

Size LinuxPanels::measureText(const std::string& text, const Font& font) {
    const TextExtent extent = measureTextLine(text, panelFontFamily, font.size, font.weight);
    return {extent.width, extent.height};
}

bool LinuxPanels::composited() {
    Display* dpy = display_.get();
    const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(dpy));
    return XGetSelectionOwner(dpy, XInternAtom(dpy, name.c_str(), False)) != None;
}

Panel LinuxPanels::createPanel(const Rect& frame, const PanelStyle& style) {
    const auto monitors = x11_.monitors();
    std::lock_guard lock(mutex_);
    Display* dpy = display_.get();
    const Rect root = toRoot(frame, monitors.front().frame);
    XSetWindowAttributes attributes{};
    // Nothing manages, decorates or focuses it.
    attributes.override_redirect = True;
    attributes.colormap = colormap_;
    attributes.border_pixel = 0;
    attributes.background_pixel = 0;
    const ::Window id =
        XCreateWindow(dpy, DefaultRootWindow(dpy), static_cast<int>(std::lround(root.minX())),
                      static_cast<int>(std::lround(root.minY())), pixels(root.size.width),
                      pixels(root.size.height), 0, depth_, InputOutput, visual_,
                      CWOverrideRedirect | CWColormap | CWBorderPixel | CWBackPixel, &attributes);
    if (!id) return nullptr;
    if (style.ignoresMouseEvents) {
        // An empty input shape: clicks fall through to the windows below.
        const XserverRegion empty = XFixesCreateRegion(dpy, nullptr, 0);
        XFixesSetWindowShapeRegion(dpy, id, ShapeInput, 0, 0, empty);
        XFixesDestroyRegion(dpy, empty);
    }
    Atom type = XInternAtom(dpy, "_NET_WM_WINDOW_TYPE_NOTIFICATION", False);
    XChangeProperty(dpy, id, XInternAtom(dpy, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&type), 1);
    XStoreName(dpy, id, "pelko-computer overlay");
    XFlush(dpy);
    auto panel = std::make_shared<Window>(*this, id);
    panel->frame = frame;
    panel->rootFrame = root;
    return panel;
}

void LinuxPanels::redraw(Window& window) {
    if (!window.content) return;
    Display* dpy = display_.get();
    const int width = pixels(window.rootFrame.size.width);
    const int height = pixels(window.rootFrame.size.height);
    const Pixmap picture = XCreatePixmap(dpy, window.id, width, height, depth_);
    {
        SurfacePtr surface(cairo_xlib_surface_create(dpy, picture, visual_, width, height));
        CairoPtr cairo(cairo_create(surface.get()));
        drawContent(cairo.get(), *window.content, width, height);
        cairo_surface_flush(surface.get());
    }
    // The server keeps the picture as the background and repaints from it by itself.
    XSetWindowBackgroundPixmap(dpy, window.id, picture);
    XFreePixmap(dpy, picture);
    XClearWindow(dpy, window.id);

    // The window's outline: the rounded rectangle, or only its frame where nothing blends
    // translucent windows and the inside is almost clear.
    const Pixmap mask = XCreatePixmap(dpy, window.id, width, height, 1);
    {
        SurfacePtr surface(cairo_xlib_surface_create_for_bitmap(
            dpy, mask, DefaultScreenOfDisplay(dpy), width, height));
        CairoPtr cairo(cairo_create(surface.get()));
        cairo_set_operator(cairo.get(), CAIRO_OPERATOR_SOURCE);
        cairo_set_source_rgba(cairo.get(), 0, 0, 0, 0);
        cairo_paint(cairo.get());
        cairo_set_source_rgba(cairo.get(), 0, 0, 0, 1);
        const PanelLayer& layer = window.content->layer;
        roundedRect(cairo.get(), 0, 0, width, height, layer.cornerRadius);
        const bool ring = layer.background.alpha < 0.5 && !composited() && layer.borderWidth > 0;
        if (ring) {
            const double inner = std::ceil(layer.borderWidth);
            cairo_set_fill_rule(cairo.get(), CAIRO_FILL_RULE_EVEN_ODD);
            roundedRect(cairo.get(), inner, inner, width - 2 * inner, height - 2 * inner,
                        std::max(0.0, layer.cornerRadius - inner));
        }
        cairo_fill(cairo.get());
        cairo_surface_flush(surface.get());
    }
    XShapeCombineMask(dpy, window.id, ShapeBounding, 0, 0, mask, ShapeSet);
    XFreePixmap(dpy, mask);
    XFlush(dpy);
}

void LinuxPanels::setContent(const Panel& panel, const PanelContent& content) {
    auto* window = dynamic_cast<Window*>(panel.get());
    if (!window) return;
    std::lock_guard lock(mutex_);
    window->content = content;
    redraw(*window);
}

void LinuxPanels::setLabelText(const Panel& panel, const std::string& text) {
    auto* window = dynamic_cast<Window*>(panel.get());
    if (!window || !window->content || !window->content->label) return;
    std::lock_guard lock(mutex_);
    window->content->label->text = text;
    redraw(*window);
}

void LinuxPanels::setFrame(const Panel& panel, const Rect& frame) {
    auto* window = dynamic_cast<Window*>(panel.get());
    if (!window) return;
    const auto monitors = x11_.monitors();
    std::lock_guard lock(mutex_);
    const Rect root = toRoot(frame, monitors.front().frame);
    // The label's width follows the view's, as a resizing label does.
    if (window->content && window->content->label) {
        window->content->label->frame.size.width += frame.size.width - window->frame.size.width;
    }
    window->frame = frame;
    window->rootFrame = root;
    XMoveResizeWindow(display_.get(), window->id, static_cast<int>(std::lround(root.minX())),
                      static_cast<int>(std::lround(root.minY())), pixels(root.size.width),
                      pixels(root.size.height));
    redraw(*window);
}

void LinuxPanels::setAlpha(const Panel& panel, double alpha) {
    auto* window = dynamic_cast<Window*>(panel.get());
    if (!window) return;
    std::lock_guard lock(mutex_);
    Display* dpy = display_.get();
    // Compositors read the opacity from this property.
    unsigned long opacity = static_cast<unsigned long>(std::clamp(alpha, 0.0, 1.0) * 0xFFFFFFFFul);
    XChangeProperty(dpy, window->id, XInternAtom(dpy, "_NET_WM_WINDOW_OPACITY", False), XA_CARDINAL,
                    32, PropModeReplace, reinterpret_cast<unsigned char*>(&opacity), 1);
    XFlush(dpy);
}

void LinuxPanels::orderFront(const Panel& panel) {
    auto* window = dynamic_cast<Window*>(panel.get());
    if (!window) return;
    std::lock_guard lock(mutex_);
    XMapRaised(display_.get(), window->id);
    XFlush(display_.get());
}

void LinuxPanels::orderOut(const Panel& panel) {
    auto* window = dynamic_cast<Window*>(panel.get());
    if (!window) return;
    std::lock_guard lock(mutex_);
    XUnmapWindow(display_.get(), window->id);
    XFlush(display_.get());
}

}  // namespace pelko::computer::linux_desktop
