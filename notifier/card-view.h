// One card's view: icon, status dot, three text lines and a close button, laid out with the
// texts' real heights, and the mouse, drag and trackpad gestures it turns into three callbacks.
#pragma once

#include <functional>
#include <string>

#include "card-content.h"
#include "card-text.h"
#include "platform/app-icons.h"
#include "platform/panel-content.h"

namespace pelko::notifier {

/// System colours of the dot and the labels.
namespace colors {
inline constexpr Rgba systemGreen{52 / 255.0, 199 / 255.0, 89 / 255.0, 1};
inline constexpr Rgba systemOrange{1, 149 / 255.0, 0, 1};
inline constexpr Rgba systemRed{1, 59 / 255.0, 48 / 255.0, 1};
inline constexpr Rgba label{0, 0, 0, 0.85};
inline constexpr Rgba secondaryLabel{0, 0, 0, 0.5};
inline constexpr Rgba separator{0, 0, 0, 0.1};
}  // namespace colors

/// Where each part of the view sits, in view points with y growing downward from the top.
struct CardLayout {
    Rect icon;
    Rect dot;
    Rect title;
    Rect subtitle;
    Rect body;
    Rect closeButton;
    double height = 0;  ///< the card's fitting height, not yet rounded up
};

/// A card's content view, 400 points wide. Lives as long as its card; used on the main thread.
/// As a panel's content it turns the pointer's events into its gestures, and presses on its
/// close button into `closeTapped`.
class CardView final : public PanelContent {
  public:
    static constexpr double width = 400;

    /// Builds the view and shows `content`, with the icons `appIcons` finds; `appIcons` must
    /// outlive the view.
    CardView(const CardContent& content, const AppIcons& appIcons);
    CardView(const CardView&) = delete;
    CardView& operator=(const CardView&) = delete;

    /// Shows `content`: the icon of its app (the program's own when it names none), the dot
    /// colour and the three texts.
    void update(const CardContent& content);
    /// The card's height for its texts, rounded up to whole points.
    double fittingHeight() const;
    /// Where the parts sit for the current texts.
    CardLayout layout() const;

    /// The close button's action: asks to be dismissed in place (`onSwipe(0)`).
    void closeTapped();
    /// A first click on the card acts at once, although the resident is never active.
    bool acceptsFirstMouse() const { return true; }
    /// Shows the close button.
    void pointerEntered() override;
    /// Hides the close button.
    void pointerExited() override;
    /// Mouse gestures; `screenX` is the pointer's x in screen points.
    void mouseDown(double screenX);
    void mouseDragged(double screenX);
    void mouseUp();
    void scrollWheel(const ScrollEvent& event);

    std::function<void()> onClick = [] {};
    /// -1 or +1: leave to that side; 0: close in place.
    std::function<void(double direction)> onSwipe = [](double) {};
    /// The card's live horizontal displacement; 0 snaps it back.
    std::function<void(double dx)> onDragOffset = [](double) {};

    const Label& titleLabel() const { return titleLabel_; }
    const Label& subtitleLabel() const { return subtitleLabel_; }
    const Label& bodyLabel() const { return bodyLabel_; }
    Rgba dotColor() const { return dotColor_; }
    const AppIcon& icon() const { return icon_; }
    bool closeButtonHidden() const { return closeButtonHidden_; }
    /// The close button's tooltip and accessibility description.
    static constexpr const char* closeButtonDescription = "Dismiss";

    // As a panel's content. Points are the view's own: from its top-left corner, y downward.
    /// Draws the card, 400 points wide and `fittingHeight` high, at the origin of `cairo`; a
    /// smaller panel cuts it off.
    void draw(cairo_t* cairo, Size size) const override;
    /// The close button while it shows, the card's surface elsewhere on the card, else nothing.
    PanelHit hitTest(Point at) const override;
    /// The card looks the same wherever the pointer is over it: nothing to do.
    void pointerMoved(const PointerEvent& event) override;
    /// On the showing close button the button takes the press; elsewhere `mouseDown`.
    void pointerDown(const PointerEvent& event) override;
    /// `mouseDragged`, unless the close button holds the press.
    void pointerDragged(const PointerEvent& event) override;
    /// `closeTapped` when the close button holds the press and the pointer is still on it;
    /// else `mouseUp`.
    void pointerUp(const PointerEvent& event) override;
    /// `scrollWheel`.
    void scrolled(const ScrollEvent& event) override;

  private:
    const AppIcons& appIcons_;
    Label titleLabel_;
    Label subtitleLabel_;
    Label bodyLabel_;
    Rgba dotColor_ = colors::systemGreen;
    AppIcon icon_;
    bool closeButtonHidden_ = true;

    double dragStartX_ = 0;
    double dragOffset_ = 0;
    bool dragging_ = false;
    double swipeOffset_ = 0;
    /// The current press is the close button's, not a gesture of the card.
    bool closeButtonPressed_ = false;
};

/// Draws `view` to a PNG file at `path`, `scale` pixels per point; false when it cannot be
/// written.
bool renderCardPNG(const CardView& view, const std::string& path, double scale = 2);

}  // namespace pelko::notifier
