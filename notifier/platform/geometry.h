// Points, sizes and rectangles, in points. Screen coordinates have their origin at the
// bottom-left of the main screen with y growing upward; a panel's own coordinates start at its
// top-left corner with y growing downward, as a view counts them.
#pragma once

namespace pelko::notifier {

/// A location in points.
struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

/// A width and a height in points.
struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

/// A rectangle in points: (x, y) is its corner nearest the origin (the bottom-left on the
/// screen, the top-left in a panel).
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    /// The edge farthest from the origin horizontally.
    double maxX() const { return x + width; }
    /// The edge farthest from the origin vertically: the top on the screen.
    double maxY() const { return y + height; }
    /// The horizontal middle.
    double midX() const { return x + width / 2; }
    /// Whether `p` lies inside, the edges at x and y included, the far edges excluded.
    bool contains(Point p) const { return p.x >= x && p.x < maxX() && p.y >= y && p.y < maxY(); }
    /// The same rectangle moved by (dx, dy).
    Rect offsetBy(double dx, double dy) const { return {x + dx, y + dy, width, height}; }
    bool operator==(const Rect&) const = default;
};

}  // namespace pelko::notifier
