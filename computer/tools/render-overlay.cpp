// Renders the banner and a highlight, as the overlay draws them on the simulated desktop, to
// PNG files in a folder: banner.png, banner-long.png, banner-scripts.png (text in several
// scripts with an emoji) and highlight.png (two pixels a point).
//   pelko-render-overlay <folder>
#include <filesystem>
#include <iostream>

#include "ax-readers.h"
#include "overlay.h"
#include "sim/panel-picture.h"

namespace {

using namespace pelko;
using namespace pelko::computer;

const char* const testScene = R"({
  "screens": [{"frame": [0, 0, 1440, 900], "visibleFrame": [0, 0, 1440, 875]}],
  "apps": [{"name": "Notes", "pid": 10, "active": true,
            "windows": [{"id": "window", "role": "AXWindow", "title": "Groceries",
                         "frame": [380, 160, 520, 300],
                         "children": [{"id": "button", "role": "AXButton", "title": "Share",
                                       "frame": [796, 196, 88, 24]}]}]}]
})";

constexpr double scale = 2;

// The area around a panel's frame, in window-system coordinates.
Rect around(const Rect& frame, double margin) {
    return {{frame.minX() - margin, frame.minY() - margin},
            {frame.size.width + 2 * margin, frame.size.height + 2 * margin}};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: pelko-render-overlay <folder>\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    VirtualClock clock;
    MainLoop mainLoop(clock);
    sim::SimDesktop desktop(clock, JSON::parse(testScene));
    Platform platform{clock, mainLoop, desktop, desktop, desktop, desktop, desktop, desktop};
    Overlay overlay(platform);
    const Rect primary = desktop.screens().front().frame;

    // The window under the highlight: title bar, the Share button and a few notes.
    const Rect window = *frameOf(desktop, desktop.elementNamed("window"));
    const Rect button = *frameOf(desktop, desktop.elementNamed("button"));
    sim::PictureWindow notes{window, "Groceries", {}};
    notes.texts.push_back({{button.minX() + 22, button.minY() + 4}, "Share"});
    const char* lines[] = {"Oat milk", "Two lemons", "Bread (the dark one)", "Coffee beans"};
    double y = window.minY() + 70;
    for (const char* line : lines) {
        notes.texts.push_back({{window.minX() + 24, y}, line});
        y += 24;
    }

    bool written = true;
    auto picture = [&](const char* name, const Rect& area,
                       std::vector<sim::PictureWindow> windows) {
        const auto path = (folder / name).string();
        const bool ok =
            sim::writeDesktopPicture(path, area, scale, primary, windows, desktop.panelStates());
        std::cout << (ok ? "wrote " : "could not write ") << path << "\n";
        written = written && ok;
    };

    overlay.show(defaultBannerText);
    picture("banner.png", around(desktop.panelStates().front().frame, 16), {});
    overlay.show(std::string("Pelko is working in Notes, Browser and Settings to plan your ") +
                 "trip: reading the itinerary, comparing fares and filling in the booking form");
    picture("banner-long.png", around(desktop.panelStates().front().frame, 16), {});
    overlay.show("Pelko is using 微信 · البريد · 메모 📊 · Esc to stop");
    picture("banner-scripts.png", around(desktop.panelStates().front().frame, 16), {});
    overlay.hide();

    overlay.highlight(button);
    // The whole window around the outline, in window-system coordinates.
    const Rect windowArea{{window.minX(), primary.maxY() - window.maxY()}, window.size};
    picture("highlight.png", around(windowArea, 20), {notes});
    return written ? 0 : 1;
}
