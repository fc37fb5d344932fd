// Pictures of cards for the desktop tests: a card drawn by its view, and how a part of the
// screen differs from that drawing laid over what was behind it.
#pragma once

#include <cairo.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "card-view.h"
#include "pango-cairo.h"
#include "sim/sim-app-icons.h"
#include "x11-desktop.h"

namespace pelko::notifier::testing {

/// A card with `content` as its view draws it, `scale` pixels a point, the program's own icon.
inline SurfacePtr drawCard(const CardContent& content, double scale = 1, bool hover = false) {
    const SimAppIcons noIcons;
    CardView view(content, noIcons);
    if (hover) view.pointerEntered();
    const double height = view.fittingHeight();
    SurfacePtr picture(cairo_image_surface_create(
        CAIRO_FORMAT_ARGB32, static_cast<int>(std::lround(CardView::width * scale)),
        static_cast<int>(std::lround(height * scale))));
    CairoPtr cairo(cairo_create(picture.get()));
    cairo_scale(cairo.get(), scale, scale);
    view.draw(cairo.get(), {CardView::width, height});
    cairo_surface_flush(picture.get());
    return picture;
}

/// A card whose post holds `id` and `title` and nothing else.
inline CardContent titleOnly(const std::string& id, const std::string& title) {
    return *CardContent::fromMessage(JSON{{"id", id}, {"title", title}});
}

/// How the screen shows a card, compared with its drawing laid over what was behind it.
struct CardComparison {
    int pixels = 0;
    /// Pixels the card covers at least half that differ: never allowed.
    int differentInside = 0;
    /// Pixels the card covers less than half that show neither the blend nor the background
    /// (a shaped window leaves them to what lies behind; a compositor blends them).
    int differentAtEdges = 0;
    /// Pixels that differ from the blend at all.
    int different = 0;
};

/// Compares `screen` (the screen's picture of the card's rectangle) with `card` painted over
/// `background` (the same rectangle's picture before the card came).
inline CardComparison compareCard(cairo_surface_t* screen, cairo_surface_t* card,
                                  cairo_surface_t* background) {
    const int width = cairo_image_surface_get_width(card);
    const int height = cairo_image_surface_get_height(card);
    SurfacePtr expected(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
    {
        CairoPtr cairo(cairo_create(expected.get()));
        cairo_set_source_surface(cairo.get(), background, 0, 0);
        cairo_paint(cairo.get());
        cairo_set_source_surface(cairo.get(), card, 0, 0);
        cairo_paint(cairo.get());
    }
    cairo_surface_flush(expected.get());
    CardComparison result;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            ++result.pixels;
            const uint32_t shown = pelko::testing::pixelAt(screen, x, y);
            const uint32_t blend = pelko::testing::pixelAt(expected.get(), x, y);
            if (shown == blend) continue;
            ++result.different;
            const uint32_t coverage = pelko::testing::pixelAt(card, x, y) >> 24;
            if (coverage >= 128)
                ++result.differentInside;
            else if (shown != pelko::testing::pixelAt(background, x, y))
                ++result.differentAtEdges;
        }
    }
    return result;
}

}  // namespace pelko::notifier::testing
