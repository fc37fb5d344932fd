#include "card-view.h"

#include <cmath>

namespace pelko::notifier {
namespace {

constexpr double margin = 16;
constexpr double iconTop = 14;
constexpr double iconSize = 36;
constexpr double iconGap = 12;
constexpr double dotSize = 8;
constexpr double dotGap = 6;
constexpr double titleTop = 13;
constexpr double bottomMargin = 14;
constexpr double closeButtonSize = 18;
constexpr double closeButtonCentre = 10;
constexpr double preferredLabelWidth = 320;

/// A mouse press that moves further than this becomes a drag.
constexpr double dragStartDistance = 4;
/// A released drag further than this leaves to its side.
constexpr double dragSwipeDistance = 90;
/// A finished trackpad swipe further than this leaves to its side.
constexpr double trackpadSwipeDistance = 70;

Rgba dotColorFor(const std::string& kind) {
    if (kind == "input") return colors::systemOrange;
    if (kind == "failed") return colors::systemRed;
    return colors::systemGreen;
}

double side(double offset) {
    return offset > 0 ? 1 : -1;
}

}  // namespace

CardView::CardView(const CardContent& content, const AppIcons& appIcons)
    : appIcons_(appIcons),
      titleLabel_(makeLabel({13.5, true}, colors::label, 1)),
      subtitleLabel_(makeLabel({14.5, true}, colors::label, 1)),
      bodyLabel_(makeLabel({13.5, false}, colors::label, 3)) {
    for (Label* label : {&titleLabel_, &subtitleLabel_, &bodyLabel_})
        label->preferredMaxLayoutWidth = preferredLabelWidth;
    update(content);
}

void CardView::update(const CardContent& content) {
    icon_ = content.appPath.empty() ? AppIcon{} : appIcons_.iconForApp(content.appPath);
    dotColor_ = dotColorFor(content.kind);
    setDirectionalText(titleLabel_, content.title);
    setDirectionalText(subtitleLabel_, content.subtitle);
    setDirectionalText(bodyLabel_, content.body);
}

CardLayout CardView::layout() const {
    CardLayout parts;
    parts.icon = {margin, iconTop, iconSize, iconSize};
    const double textLeft = parts.icon.maxX() + iconGap;
    const double textRight = width - margin;
    const double titleLeft = textLeft + dotSize + dotGap;

    // Hidden (empty) labels take no height, so a card is as tall as what it shows.
    double titleHeight = layoutLabel(titleLabel_, textRight - titleLeft).height;
    parts.title = {titleLeft, titleTop, textRight - titleLeft, titleHeight};
    parts.dot = {textLeft, titleTop + titleHeight / 2 - dotSize / 2, dotSize, dotSize};

    double subtitleHeight = layoutLabel(subtitleLabel_, textRight - textLeft).height;
    parts.subtitle = {textLeft, parts.title.maxY() + 2, textRight - textLeft, subtitleHeight};

    double lineHeight = defaultLineHeight(bodyLabel_.font);
    double bodyCap = std::ceil(3 * lineHeight + 8) + 1;
    double bodyHeight = std::min(layoutLabel(bodyLabel_, textRight - textLeft).height, bodyCap);
    parts.body = {textLeft, parts.subtitle.maxY() + 5, textRight - textLeft, bodyHeight};

    parts.closeButton = {closeButtonCentre - closeButtonSize / 2,
                         closeButtonCentre - closeButtonSize / 2, closeButtonSize, closeButtonSize};
    parts.height = std::max({parts.body.maxY() + bottomMargin, parts.icon.maxY() + bottomMargin,
                             parts.subtitle.maxY() + bottomMargin});
    return parts;
}

double CardView::fittingHeight() const {
    return std::ceil(layout().height);
}

void CardView::closeTapped() {
    onSwipe(0);
}

void CardView::pointerEntered() {
    closeButtonHidden_ = false;
}

void CardView::pointerExited() {
    closeButtonHidden_ = true;
}

void CardView::mouseDown(double screenX) {
    dragStartX_ = screenX;
    dragOffset_ = 0;
    dragging_ = false;
}

void CardView::mouseDragged(double screenX) {
    dragOffset_ = screenX - dragStartX_;
    if (std::abs(dragOffset_) > dragStartDistance) dragging_ = true;
    if (dragging_) onDragOffset(dragOffset_);
}

void CardView::mouseUp() {
    if (!dragging_) {
        onClick();
        return;
    }
    dragging_ = false;
    if (std::abs(dragOffset_) > dragSwipeDistance)
        onSwipe(side(dragOffset_));
    else
        onDragOffset(0);
}

PanelHit CardView::hitTest(Point at) const {
    CardLayout parts = layout();
    if (!Rect{0, 0, width, std::ceil(parts.height)}.contains(at)) return PanelHit::nothing;
    if (!closeButtonHidden_ && parts.closeButton.contains(at)) return PanelHit::button;
    return PanelHit::surface;
}

void CardView::pointerMoved(const PointerEvent& /*event*/) {}

void CardView::pointerDown(const PointerEvent& event) {
    // A press on the close button is the button's: the card neither clicks nor drags.
    closeButtonPressed_ = hitTest(event.at) == PanelHit::button;
    if (!closeButtonPressed_) mouseDown(event.screen.x);
}

void CardView::pointerDragged(const PointerEvent& event) {
    if (!closeButtonPressed_) mouseDragged(event.screen.x);
}

void CardView::pointerUp(const PointerEvent& event) {
    if (!closeButtonPressed_) {
        mouseUp();
        return;
    }
    // Released away from the button, the press does nothing, as a button's does.
    closeButtonPressed_ = false;
    if (hitTest(event.at) == PanelHit::button) closeTapped();
}

void CardView::scrolled(const ScrollEvent& event) {
    scrollWheel(event);
}

void CardView::scrollWheel(const ScrollEvent& event) {
    // A classic wheel and the momentum after the fingers lift never move a card.
    if (!event.hasPreciseScrollingDeltas || event.momentumPhase != 0) return;
    if (event.phase & ScrollEvent::began) swipeOffset_ = 0;
    if (event.phase & ScrollEvent::changed) {
        // A gesture that starts mostly vertical is a scroll, not a swipe.
        if (std::abs(event.deltaX) < std::abs(event.deltaY) && swipeOffset_ == 0) return;
        swipeOffset_ += event.directionInvertedFromDevice ? event.deltaX : -event.deltaX;
        onDragOffset(swipeOffset_);
    }
    if (event.phase & (ScrollEvent::ended | ScrollEvent::cancelled)) {
        if (swipeOffset_ != 0) {
            if (std::abs(swipeOffset_) > trackpadSwipeDistance)
                onSwipe(side(swipeOffset_));
            else
                onDragOffset(0);
        }
        swipeOffset_ = 0;
    }
}

}  // namespace pelko::notifier
