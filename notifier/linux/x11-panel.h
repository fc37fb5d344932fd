// One card panel of the X11 windowing: an override-redirect window that shows a panel content.
// Internal to the X11 backend.
#pragma once

#include <cairo.h>

#include <vector>

#include "linux/x11-connection.h"
#include "linux/x11-windowing.h"
#include "pango-cairo.h"

namespace pelko::notifier {

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

}  // namespace pelko::notifier
