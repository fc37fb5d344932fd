// The panel seam on X11: each panel is an override-redirect window (the window manager leaves
// it alone: no frame, no focus, above the managed windows once raised) with an empty input
// shape, so every click goes through to what lies below. Its content is drawn with Cairo and
// Pango into a picture that the X server keeps as the window's background, so it repaints
// itself when uncovered. The window's outline is cut to the content's shape, and where no
// compositor blends translucent windows, a frame's translucent inside is cut away as well.
//
// Screens come from RandR; the seam's coordinates start at the bottom-left corner of the
// primary screen with y upward, and the screen the user works on is the one with the pointer.
#pragma once

#include <X11/Xlib.h>

#include <memory>
#include <mutex>

#include "platform/panels.h"
#include "x11-desktop.h"

namespace pelko::computer::linux_desktop {

/// The font family panels are measured and drawn in: fontconfig's interface face.
inline constexpr const char* panelFontFamily = "Sans";
/// The accent colour (GNOME's blue); X has no setting for one.
inline constexpr Rgba linuxAccentColor{0x35 / 255.0, 0x84 / 255.0, 0xE4 / 255.0, 1};

class LinuxPanels final : public Panels {
  public:
    LinuxPanels(DisplayPtr display, X11Desktop& x11);
    ~LinuxPanels() override;

    std::vector<Screen> screens() override;
    std::optional<Screen> mainScreen() override;
    Rgba accentColor() override { return linuxAccentColor; }
    Size measureText(const std::string& text, const Font& font) override;
    Panel createPanel(const Rect& frame, const PanelStyle& style) override;
    void setContent(const Panel& panel, const PanelContent& content) override;
    void setLabelText(const Panel& panel, const std::string& text) override;
    void setFrame(const Panel& panel, const Rect& frame) override;
    void setAlpha(const Panel& panel, double alpha) override;
    void orderFront(const Panel& panel) override;
    void orderOut(const Panel& panel) override;

    class Window;

  private:
    /// A seam rectangle (bottom-left origin) in root pixels, and back.
    Rect toRoot(const Rect& frame, const Rect& primary);
    Rect fromRoot(const Rect& frame, const Rect& primary);
    Screen screenOf(const Monitor& monitor, const Rect& primary, const std::optional<Rect>& work);
    void redraw(Window& window);
    bool composited();

    std::mutex mutex_;
    DisplayPtr display_;
    X11Desktop& x11_;
    Visual* visual_ = nullptr;
    int depth_ = 0;
    Colormap colormap_ = 0;
};

}  // namespace pelko::computer::linux_desktop
