#include "text-measure.h"

#include "pango-cairo.h"

namespace pelko {

TextExtent measureTextLine(const std::string& text, const char* family, double size, int weight) {
    // A font map and context of its own per call: Pango contexts are not shared between threads.
    GObjectPtr<PangoFontMap> fontMap(pango_cairo_font_map_new());
    GObjectPtr<PangoContext> context(pango_font_map_create_context(fontMap.get()));
    pango_cairo_context_set_font_options(context.get(), unhintedFontOptions().get());
    pango_context_set_round_glyph_positions(context.get(), FALSE);

    GObjectPtr<PangoLayout> layout(pango_layout_new(context.get()));
    pango_layout_set_font_description(layout.get(), describeFont(family, size, weight).get());
    pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
    pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    PangoRectangle logical;
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    return {static_cast<double>(logical.width) / PANGO_SCALE,
            static_cast<double>(logical.height) / PANGO_SCALE,
            pango_layout_get_unknown_glyphs_count(layout.get())};
}

}  // namespace pelko
