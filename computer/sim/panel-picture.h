// Pictures of the simulated desktop: the overlay panels as the window server would composite
// them over a plain desktop and app windows, written as PNG files so that a person can look at
// the banner and the highlight.
#pragma once

#include <string>
#include <vector>

#include "sim-desktop.h"

namespace pelko::computer::sim {

/// An app window drawn under the panels, in accessibility coordinates (origin top-left of the
/// primary display, y downward), with lines of text at given places.
struct PictureWindow {
    Rect frame;
    std::string title;
    struct Text {
        Point origin;  ///< top-left of the line
        std::string text;
    };
    std::vector<Text> texts;
};

/// Draws the part `area` (window-system coordinates: origin bottom-left, y upward) of a
/// desktop whose primary display has the frame `primary`, `scale` pixels per point: a plain
/// backdrop, the windows, then every panel on screen with its layer, label and alpha. Writes
/// it to `path` as PNG; false when the file cannot be written.
bool writeDesktopPicture(const std::string& path, const Rect& area, double scale,
                         const Rect& primary, const std::vector<PictureWindow>& windows,
                         const std::vector<SimDesktop::PanelState>& panels);

}  // namespace pelko::computer::sim
