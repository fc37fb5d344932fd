// pelko-screenshot: writes the X display's screen (or a part of it) to a PNG file.
//
//   pelko-screenshot OUT.png [X Y WIDTH HEIGHT]
#include <cstdlib>
#include <iostream>
#include <string>

#include "x11-desktop.h"

int main(int argc, char** argv) {
    using namespace pelko::testing;
    if (argc != 2 && argc != 6) {
        std::cerr << "usage: pelko-screenshot OUT.png [X Y WIDTH HEIGHT]\n";
        return 2;
    }
    DisplayConnection display;
    if (!display.get()) {
        std::cerr << "pelko-screenshot: no X display answers\n";
        return 1;
    }
    pelko::SurfacePtr picture =
        argc == 6 ? grabScreen(display.get(), std::atoi(argv[2]), std::atoi(argv[3]),
                               std::atoi(argv[4]), std::atoi(argv[5]))
                  : grabScreen(display.get());
    if (cairo_surface_write_to_png(picture.get(), argv[1]) != CAIRO_STATUS_SUCCESS) {
        std::cerr << "pelko-screenshot: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
