#include "panel-picture.h"

#include <algorithm>
#include <memory>

#include "cairo-shapes.h"
#include "pango-cairo.h"
#include "text-measure.h"

namespace pelko::computer::sim {
namespace {

void setColor(cairo_t* cairo, const Rgba& color) {
    cairo_set_source_rgba(cairo, color.red, color.green, color.blue, color.alpha);
}

// One line of text whose top-left is at (x, y) in the current user space (points).
GObjectPtr<PangoLayout> textLayout(cairo_t* cairo, const std::string& text, const Font& font) {
    GObjectPtr<PangoLayout> layout(pango_cairo_create_layout(cairo));
    pango_layout_set_font_description(
        layout.get(), describeFont(interfaceFontFamily, font.size, font.weight).get());
    pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
    pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    return layout;
}

void drawWindow(cairo_t* cairo, const PictureWindow& window) {
    const Rect& f = window.frame;
    cairo_save(cairo);
    roundedRect(cairo, f.minX(), f.minY(), f.size.width, f.size.height, 10);
    cairo_clip(cairo);
    cairo_set_source_rgb(cairo, 1, 1, 1);
    cairo_paint(cairo);
    cairo_set_source_rgb(cairo, 0.93, 0.93, 0.93);  // the title bar
    cairo_rectangle(cairo, f.minX(), f.minY(), f.size.width, 28);
    cairo_fill(cairo);
    const Font titleFont{13, 600};
    auto title = textLayout(cairo, window.title, titleFont);
    const double titleWidth =
        measureTextLine(window.title, interfaceFontFamily, titleFont.size, titleFont.weight).width;
    cairo_set_source_rgb(cairo, 0.25, 0.25, 0.25);
    cairo_move_to(cairo, f.minX() + (f.size.width - titleWidth) / 2, f.minY() + 6);
    pango_cairo_show_layout(cairo, title.get());
    cairo_set_source_rgb(cairo, 0.1, 0.1, 0.1);
    for (const auto& line : window.texts) {
        auto layout = textLayout(cairo, line.text, {13, fontWeightRegular});
        cairo_move_to(cairo, line.origin.x, line.origin.y);
        pango_cairo_show_layout(cairo, layout.get());
    }
    cairo_restore(cairo);
    cairo_set_source_rgba(cairo, 0, 0, 0, 0.25);
    cairo_set_line_width(cairo, 1);
    roundedRect(cairo, f.minX() + 0.5, f.minY() + 0.5, f.size.width - 1, f.size.height - 1, 10);
    cairo_stroke(cairo);
}

// A panel in the user space of accessibility coordinates (y downward from the top of the
// primary display); the panel's frame is in window-system coordinates.
void drawPanel(cairo_t* cairo, const SimDesktop::PanelState& panel, const Rect& primary) {
    if (!panel.onScreen || !panel.content) return;
    const PanelLayer& layer = panel.content->layer;
    const double width = panel.frame.size.width, height = panel.frame.size.height;
    cairo_save(cairo);
    cairo_translate(cairo, panel.frame.minX(), primary.maxY() - panel.frame.maxY());
    cairo_push_group(cairo);
    // The layer: fill, then the border inside the bounds, both with the corner radius.
    roundedRect(cairo, 0, 0, width, height, layer.cornerRadius);
    setColor(cairo, layer.background);
    cairo_fill(cairo);
    if (layer.borderWidth > 0) {
        const double inset = layer.borderWidth / 2;
        roundedRect(cairo, inset, inset, width - layer.borderWidth, height - layer.borderWidth,
                    std::max(0.0, layer.cornerRadius - inset));
        cairo_set_line_width(cairo, layer.borderWidth);
        setColor(cairo, layer.borderColor);
        cairo_stroke(cairo);
    }
    if (const auto& label = panel.content->label) {
        // The label's frame is in the view's coordinates (origin bottom-left). The line is
        // centred in it, and clipped to it; a line too long to fit starts at its left edge.
        const Rect& frame = label->frame;
        const double top = height - frame.maxY();
        cairo_save(cairo);
        cairo_rectangle(cairo, frame.minX(), top, frame.size.width, frame.size.height);
        cairo_clip(cairo);
        const TextExtent text =
            measureTextLine(label->text, interfaceFontFamily, label->font.size, label->font.weight);
        auto layout = textLayout(cairo, label->text, label->font);
        const double x = frame.minX() + std::max(0.0, (frame.size.width - text.width) / 2);
        setColor(cairo, label->color);
        cairo_move_to(cairo, x, top + (frame.size.height - text.height) / 2);
        pango_cairo_show_layout(cairo, layout.get());
        cairo_restore(cairo);
    }
    cairo_pop_group_to_source(cairo);
    cairo_paint_with_alpha(cairo, panel.alpha);
    cairo_restore(cairo);
}

}  // namespace

bool writeDesktopPicture(const std::string& path, const Rect& area, double scale,
                         const Rect& primary, const std::vector<PictureWindow>& windows,
                         const std::vector<SimDesktop::PanelState>& panels) {
    const int pixelsWide = static_cast<int>(std::lround(area.size.width * scale));
    const int pixelsHigh = static_cast<int>(std::lround(area.size.height * scale));
    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixelsWide, pixelsHigh));
    CairoPtr owned(cairo_create(surface.get()));
    cairo_t* cairo = owned.get();
    // User space: accessibility coordinates of the desktop, scaled.
    cairo_scale(cairo, scale, scale);
    cairo_translate(cairo, -area.minX(), -(primary.maxY() - area.maxY()));
    // A plain desktop backdrop: a blue-grey gradient from top to bottom of the primary display.
    const std::unique_ptr<cairo_pattern_t, decltype(&cairo_pattern_destroy)> backdrop(
        cairo_pattern_create_linear(0, primary.minY(), 0, primary.maxY()), &cairo_pattern_destroy);
    cairo_pattern_add_color_stop_rgb(backdrop.get(), 0, 0.36, 0.45, 0.58);
    cairo_pattern_add_color_stop_rgb(backdrop.get(), 1, 0.20, 0.25, 0.36);
    cairo_set_source(cairo, backdrop.get());
    cairo_paint(cairo);
    for (const auto& window : windows) drawWindow(cairo, window);
    for (const auto& panel : panels) drawPanel(cairo, panel, primary);
    cairo_surface_flush(surface.get());
    return cairo_surface_write_to_png(surface.get(), path.c_str()) == CAIRO_STATUS_SUCCESS;
}

}  // namespace pelko::computer::sim
