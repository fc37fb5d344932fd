#include "pango-cairo.h"

namespace pelko {

FontOptionsPtr unhintedFontOptions() {
    FontOptionsPtr options(cairo_font_options_create());
    cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_NONE);
    return options;
}

FontDescriptionPtr describeFont(const char* family, double size, int weight) {
    FontDescriptionPtr description(pango_font_description_new());
    pango_font_description_set_family(description.get(), family);
    pango_font_description_set_weight(description.get(), static_cast<PangoWeight>(weight));
    pango_font_description_set_absolute_size(description.get(), size * PANGO_SCALE);
    return description;
}

}  // namespace pelko
