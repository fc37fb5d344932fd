// How a card looks: its icon, background, dot, labels and close button drawn with Cairo.
#include <cairo.h>

#include <cmath>

#include "cairo-shapes.h"
#include "card-view.h"
#include "pango-cairo.h"

namespace pelko::notifier {
namespace {

void setColor(cairo_t* cairo, Rgba color) {
    cairo_set_source_rgba(cairo, color.red, color.green, color.blue, color.alpha);
}

/// The program's own icon: a blue tile holding a small white card with two text lines.
void drawOwnIcon(cairo_t* cairo, Rect at) {
    cairo_pattern_t* fill = cairo_pattern_create_linear(0, at.y, 0, at.maxY());
    cairo_pattern_add_color_stop_rgb(fill, 0, 0.35, 0.62, 1.0);
    cairo_pattern_add_color_stop_rgb(fill, 1, 0.10, 0.40, 0.92);
    roundedRect(cairo, at.x, at.y, at.width, at.height, 8);
    cairo_set_source(cairo, fill);
    cairo_fill(cairo);
    cairo_pattern_destroy(fill);
    cairo_set_source_rgba(cairo, 1, 1, 1, 0.95);
    roundedRect(cairo, at.x + 7, at.y + 10, at.width - 14, at.height - 20, 3);
    cairo_fill(cairo);
    cairo_set_source_rgba(cairo, 0.10, 0.40, 0.92, 1);
    cairo_rectangle(cairo, at.x + 11, at.y + 14, at.width - 22, 2.5);
    cairo_rectangle(cairo, at.x + 11, at.y + 19.5, at.width - 28, 2.5);
    cairo_fill(cairo);
}

void drawIcon(cairo_t* cairo, const AppIcon& icon, Rect at) {
    cairo_surface_t* image = icon.image.get();
    if (!image) {
        drawOwnIcon(cairo, at);
        return;
    }
    // Scaled proportionally, up or down, to fit the icon's square.
    double w = cairo_image_surface_get_width(image);
    double h = cairo_image_surface_get_height(image);
    double scale = std::min(at.width / w, at.height / h);
    cairo_save(cairo);
    cairo_translate(cairo, at.x + (at.width - w * scale) / 2, at.y + (at.height - h * scale) / 2);
    cairo_scale(cairo, scale, scale);
    cairo_set_source_surface(cairo, image, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cairo), CAIRO_FILTER_BEST);
    cairo_paint(cairo);
    cairo_restore(cairo);
}

void drawCloseButton(cairo_t* cairo, Rect at) {
    double cx = at.midX();
    double cy = at.y + at.height / 2;
    cairo_arc(cairo, cx, cy, at.width / 2 - 1, 0, 2 * M_PI);
    setColor(cairo, colors::secondaryLabel);
    cairo_fill(cairo);
    cairo_set_source_rgba(cairo, 1, 1, 1, 1);
    cairo_set_line_width(cairo, 1.6);
    cairo_set_line_cap(cairo, CAIRO_LINE_CAP_ROUND);
    cairo_move_to(cairo, cx - 3.2, cy - 3.2);
    cairo_line_to(cairo, cx + 3.2, cy + 3.2);
    cairo_move_to(cairo, cx + 3.2, cy - 3.2);
    cairo_line_to(cairo, cx - 3.2, cy + 3.2);
    cairo_stroke(cairo);
}

}  // namespace

void CardView::draw(cairo_t* cairo, Size size) const {
    CardLayout parts = layout();
    double height = std::ceil(parts.height);
    cairo_save(cairo);
    cairo_rectangle(cairo, 0, 0, size.width, size.height);
    cairo_clip(cairo);

    // The background stands in for the popover material: light, slightly translucent, with a
    // hairline border and round corners.
    roundedRect(cairo, 0.25, 0.25, width - 0.5, height - 0.5, 14);
    cairo_set_source_rgba(cairo, 0.965, 0.965, 0.965, 0.96);
    cairo_fill_preserve(cairo);
    setColor(cairo, colors::separator);
    cairo_set_line_width(cairo, 0.5);
    cairo_stroke(cairo);

    drawIcon(cairo, icon_, parts.icon);

    cairo_arc(cairo, parts.dot.midX(), parts.dot.y + parts.dot.height / 2, parts.dot.width / 2, 0,
              2 * M_PI);
    setColor(cairo, dotColor_);
    cairo_fill(cairo);

    drawLabel(cairo, titleLabel_, parts.title.x, parts.title.y, parts.title.width,
              parts.title.height);
    drawLabel(cairo, subtitleLabel_, parts.subtitle.x, parts.subtitle.y, parts.subtitle.width,
              parts.subtitle.height);
    drawLabel(cairo, bodyLabel_, parts.body.x, parts.body.y, parts.body.width, parts.body.height);

    if (!closeButtonHidden_) drawCloseButton(cairo, parts.closeButton);
    cairo_restore(cairo);
}

bool renderCardPNG(const CardView& view, const std::string& path, double scale) {
    double height = view.fittingHeight();
    SurfacePtr surface(cairo_image_surface_create(
        CAIRO_FORMAT_ARGB32, static_cast<int>(std::ceil(CardView::width * scale)),
        static_cast<int>(std::ceil(height * scale))));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return false;
    {
        CairoPtr cairo(cairo_create(surface.get()));
        cairo_scale(cairo.get(), scale, scale);
        view.draw(cairo.get(), {CardView::width, height});
    }
    return cairo_surface_write_to_png(surface.get(), path.c_str()) == CAIRO_STATUS_SUCCESS;
}

}  // namespace pelko::notifier
