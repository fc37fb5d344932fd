// What a panel shows and how it answers the pointer. A windowing backend hosts any content
// through this interface alone: it draws it, asks what lies under the pointer, and hands it
// the pointer's events, without knowing what the content is.
#pragma once

#include "platform/geometry.h"

typedef struct _cairo cairo_t;

namespace pelko::notifier {

/// What lies under a point of a panel.
enum class PanelHit {
    nothing,  ///< no part of the content: the pointer passes to whatever lies behind
    surface,  ///< the content itself: presses, drags and scrolls there are its gestures
    button,   ///< a button: it takes the press, and acts when released over it
};

/// One pointer event over a panel.
struct PointerEvent {
    Point at;      ///< in the panel's own points: from its top-left corner, y downward
    Point screen;  ///< the same place in screen points
};

/// One scroll-wheel event as the window system reports it.
struct ScrollEvent {
    bool hasPreciseScrollingDeltas = true;  ///< false for a classic mouse wheel
    int phase = 0;                          ///< gesture phase bits, below
    int momentumPhase = 0;                  ///< 0 when not a momentum event
    double deltaX = 0;
    double deltaY = 0;
    bool directionInvertedFromDevice = false;  ///< natural scrolling

    static constexpr int began = 1;
    static constexpr int stationary = 2;
    static constexpr int changed = 4;
    static constexpr int ended = 8;
    static constexpr int cancelled = 16;
};

/// The content of one panel. Used on the main thread only.
class PanelContent {
  public:
    virtual ~PanelContent() = default;

    /// Draws the content with the panel's top-left corner at the origin of `cairo`, one unit a
    /// point, for a panel of `size`; nothing is drawn outside it.
    virtual void draw(cairo_t* cairo, Size size) const = 0;
    /// What lies at `at`, in the panel's own points.
    virtual PanelHit hitTest(Point at) const = 0;

    /// The pointer came over the panel.
    virtual void pointerEntered() = 0;
    /// The pointer left the panel.
    virtual void pointerExited() = 0;
    /// The pointer moved over the panel with no button held.
    virtual void pointerMoved(const PointerEvent& event) = 0;
    /// The button went down over the panel. Every drag and the release that follow go to this
    /// content, wherever the pointer is then.
    virtual void pointerDown(const PointerEvent& event) = 0;
    /// The pointer moved while the button was held.
    virtual void pointerDragged(const PointerEvent& event) = 0;
    /// The button came up.
    virtual void pointerUp(const PointerEvent& event) = 0;
    /// One scroll-wheel or trackpad event over the panel.
    virtual void scrolled(const ScrollEvent& event) = 0;
};

}  // namespace pelko::notifier
