// The panel seam: the screens, borderless floating panels with a layer-backed content view and
// an optional text label, and text measuring. Panel geometry is in the window system's screen
// coordinates: origin at the bottom-left of the primary display, y upward.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "accessibility.h"

namespace pelko::computer {

struct Screen {
    Rect frame;
    /// The frame less the menu bar and the Dock.
    Rect visibleFrame;
};

/// A colour with straight (not premultiplied) alpha, each channel 0 to 1.
struct Rgba {
    double red = 0, green = 0, blue = 0, alpha = 1;
    bool operator==(const Rgba&) const = default;
    /// A grey of `white` (0 black, 1 white) at `alpha`.
    static constexpr Rgba white(double white, double alpha) { return {white, white, white, alpha}; }
};

/// Font weights on the usual 100 to 900 scale.
constexpr int fontWeightRegular = 400;
constexpr int fontWeightMedium = 500;

/// A font: the system's interface font at a size in points and a weight.
struct Font {
    double size = 13;
    int weight = fontWeightRegular;
    bool operator==(const Font&) const = default;
};

/// The settings every overlay panel shares.
struct PanelStyle {
    bool nonActivating = true;
    bool opaque = false;
    bool clearBackground = true;
    bool hasShadow = false;
    /// The status-window level: above normal windows.
    int level = 25;
    bool ignoresMouseEvents = true;
    /// Can join all Spaces, stationary, ignores window cycling, beside full-screen apps.
    unsigned collectionBehavior = 0x151;
    bool hidesOnDeactivate = false;
};

/// The look of a layer-backed content view that fills its panel.
struct PanelLayer {
    Rgba background;
    double cornerRadius = 0;
    double borderWidth = 0;
    Rgba borderColor;
};

/// A non-editable text label inside the content view, centred in its frame; its width follows
/// the view's width.
struct PanelLabel {
    std::string text;
    Font font;
    Rgba color;
    /// In the content view's coordinates (origin bottom-left).
    Rect frame;
};

/// What a panel shows: the layer, and a label when there is one.
struct PanelContent {
    PanelLayer layer;
    std::optional<PanelLabel> label;
};

/// What a backend keeps behind a panel handle. Backends derive from it.
class PanelHandle {
  public:
    virtual ~PanelHandle() = default;
};

/// A panel on screen; it lives as long as a handle to it does.
using Panel = std::shared_ptr<PanelHandle>;

class Panels {
  public:
    virtual ~Panels() = default;
    /// Every screen; the first is the primary display (the one with the menu bar).
    virtual std::vector<Screen> screens() = 0;
    /// The screen the user works on now; nothing when there is none.
    virtual std::optional<Screen> mainScreen() = 0;
    /// The user's accent colour.
    virtual Rgba accentColor() = 0;
    /// The size `text` takes on one line in `font`.
    virtual Size measureText(const std::string& text, const Font& font) = 0;

    /// A new borderless panel at `frame`, not yet on screen; nothing when it cannot be made.
    virtual Panel createPanel(const Rect& frame, const PanelStyle& style) = 0;
    /// Replaces the panel's content view.
    virtual void setContent(const Panel& panel, const PanelContent& content) = 0;
    /// Changes the text of the panel's label (nothing when it has none).
    virtual void setLabelText(const Panel& panel, const std::string& text) = 0;
    /// Moves and resizes the panel and redraws it.
    virtual void setFrame(const Panel& panel, const Rect& frame) = 0;
    virtual void setAlpha(const Panel& panel, double alpha) = 0;
    /// Puts the panel in front of other windows without activating this process.
    virtual void orderFront(const Panel& panel) = 0;
    /// Takes the panel off screen; it can be shown again.
    virtual void orderOut(const Panel& panel) = 0;
};

}  // namespace pelko::computer
