#include "pango-text.h"

#include <pango/pangocairo.h>

#include <memory>

namespace pelko::computer {
namespace {

template <typename T>
struct GObjectUnref {
    void operator()(T* object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref<T>>;

struct FontDescriptionFree {
    void operator()(PangoFontDescription* description) const {
        pango_font_description_free(description);
    }
};
struct FontOptionsDestroy {
    void operator()(cairo_font_options_t* options) const { cairo_font_options_destroy(options); }
};

}  // namespace

Size measureTextWithPango(const std::string& text, const Font& font) {
    // A context of its own per call: Pango contexts are not shared between threads.
    GObjectPtr<PangoFontMap> fontMap(pango_cairo_font_map_new());
    GObjectPtr<PangoContext> context(pango_font_map_create_context(fontMap.get()));
    std::unique_ptr<cairo_font_options_t, FontOptionsDestroy> options(cairo_font_options_create());
    cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_NONE);
    pango_cairo_context_set_font_options(context.get(), options.get());
    pango_context_set_round_glyph_positions(context.get(), FALSE);

    std::unique_ptr<PangoFontDescription, FontDescriptionFree> description(
        pango_font_description_new());
    pango_font_description_set_family(description.get(), interfaceFontFamily);
    pango_font_description_set_weight(description.get(), static_cast<PangoWeight>(font.weight));
    pango_font_description_set_absolute_size(description.get(), font.size * PANGO_SCALE);

    GObjectPtr<PangoLayout> layout(pango_layout_new(context.get()));
    pango_layout_set_font_description(layout.get(), description.get());
    pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
    pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    PangoRectangle logical;
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    return {static_cast<double>(logical.width) / PANGO_SCALE,
            static_cast<double>(logical.height) / PANGO_SCALE};
}

}  // namespace pelko::computer
