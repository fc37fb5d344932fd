// How the simulated desktop draws an app's window: the window's frame and title bar, and every
// element of its tree as a person would see it (buttons with their titles, fields with their
// values, check boxes checked or not, selected rows), so that a picture of the window and the
// outline of the same window agree.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "pango-cairo.h"
#include "platform/panels.h"
#include "platform/screen-capture.h"

namespace pelko::computer::sim {

/// What a picture shows of one element: the attributes that change how it looks.
struct DrawnElement {
    std::string role;
    std::string subrole;
    std::optional<std::string> title;
    std::optional<std::string> description;
    /// The value as text ("" when it is a number or absent).
    std::optional<std::string> text;
    /// The value when it is a number or a flag (check boxes: 0 off, 1 on, 2 mixed).
    std::optional<double> number;
    std::optional<std::string> placeholder;
    /// Screen points; an element without a frame is laid out below its earlier siblings.
    std::optional<Rect> frame;
    bool enabled = true;
    bool focused = false;
    bool selected = false;
    bool hidden = false;
    std::vector<DrawnElement> children;
};

/// The height of a title bar, in points.
constexpr double titleBarHeight = 28;

/// One line of `text` in the interface font, laid out for `cairo`.
GObjectPtr<PangoLayout> textLayout(cairo_t* cairo, const std::string& text, const Font& font);

/// A window's body and title bar: white with a light grey bar across the top, clipped to
/// rounded corners, in the current user space (points).
void drawWindowBody(cairo_t* cairo, const Rect& frame);
/// The window's title centred in its title bar, and its thin outline.
void drawWindowTitle(cairo_t* cairo, const Rect& frame, const std::string& title);

/// The window `window` (role "AXWindow", with a frame) and everything in it, drawn at
/// `pixelsPerPoint` with `accent` for selections, focus and checked boxes: an opaque picture
/// of the window alone, as large as its frame.
WindowImage drawWindowPicture(const DrawnElement& window, double pixelsPerPoint,
                              const Rgba& accent);

}  // namespace pelko::computer::sim
