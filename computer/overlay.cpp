#include "overlay.h"

#include <algorithm>

namespace pelko::computer {
namespace {

// The banner.
const Font bannerFont{13, fontWeightMedium};
constexpr double bannerHeight = 32;
constexpr double bannerMaxWidth = 640;
constexpr double bannerTextMargin = 40;  // added to the text's width
constexpr double bannerTopGap = 8;       // below the top of the visible frame
constexpr PanelLayer bannerLayer{Rgba::white(0.08, 0.92), 16, 1, Rgba::white(1.0, 0.18)};
const Rgba bannerTextColor = Rgba::white(1.0, 1.0);

// The highlight.
constexpr double highlightGrowth = 3;
constexpr double highlightBorder = 2.5;
constexpr double highlightCornerRadius = 6;
constexpr double highlightFill = 0.08;  // alpha of the accent colour inside
constexpr Duration highlightShown = std::chrono::milliseconds(600);

// Both panels: never take focus or the mouse, float above normal windows (the status-window
// level) on every Space and beside full-screen apps, and stay when the app deactivates.
constexpr PanelStyle overlayPanel{.nonActivating = true,
                                  .opaque = false,
                                  .clearBackground = true,
                                  .hasShadow = false,
                                  .level = 25,
                                  .ignoresMouseEvents = true,
                                  .collectionBehavior = 0x151,
                                  .hidesOnDeactivate = false};

PanelLabel bannerLabel(const std::string& text, double width) {
    return {text, bannerFont, bannerTextColor, {{12, 7}, {width - 24, 18}}};
}

}  // namespace

void Overlay::show(const std::string& text) {
    // Armed before anything is drawn: Escape works even when no panel can be shown.
    shown_ = true;
    Panels& panels = platform_.panels;
    const auto screen = panels.mainScreen();
    if (!screen) return;
    const double width =
        std::min(panels.measureText(text, bannerFont).width + bannerTextMargin, bannerMaxWidth);
    const double midX = screen->frame.minX() + screen->frame.size.width / 2;
    const Rect frame{{midX - width / 2, screen->visibleFrame.maxY() - bannerHeight - bannerTopGap},
                     {width, bannerHeight}};
    if (!banner_) {
        banner_ = panels.createPanel(frame, overlayPanel);
        if (!banner_) return;
        panels.setContent(banner_, {bannerLayer, bannerLabel(text, width)});
        label_ = true;
    }
    panels.setLabelText(banner_, text);
    panels.setFrame(banner_, frame);
    panels.orderFront(banner_);
}

void Overlay::hide() {
    shown_ = false;
    if (banner_) platform_.panels.orderOut(banner_);
}

void Overlay::highlight(const Rect& rect) {
    Panels& panels = platform_.panels;
    const auto screens = panels.screens();
    if (screens.empty()) return;
    const Rect& primary = screens.front().frame;
    // From the accessibility's top-left origin to the window system's bottom-left origin.
    const Rect frame{
        {rect.minX() - highlightGrowth, primary.maxY() - rect.maxY() - highlightGrowth},
        {rect.size.width + 2 * highlightGrowth, rect.size.height + 2 * highlightGrowth}};
    if (!flash_) {
        flash_ = panels.createPanel(frame, overlayPanel);
        if (!flash_) return;
    }
    Rgba accent = panels.accentColor();
    Rgba fill = accent;
    fill.alpha = highlightFill;
    panels.setContent(flash_, {{fill, highlightCornerRadius, highlightBorder, accent}, {}});
    panels.setFrame(flash_, frame);
    panels.setAlpha(flash_, 1.0);
    panels.orderFront(flash_);
    std::weak_ptr<PanelHandle> shownPanel = flash_;
    platform_.mainLoop.postAfter(highlightShown, [&panels, shownPanel] {
        if (const Panel panel = shownPanel.lock()) panels.orderOut(panel);
    });
}

}  // namespace pelko::computer
