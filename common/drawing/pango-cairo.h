// Owning pointers for the Cairo, Pango and GLib objects the programs draw and measure with,
// so that every path releases them.
#pragma once

#include <pango/pangocairo.h>

#include <memory>

namespace pelko {

struct CairoDestroy {
    void operator()(cairo_t* cairo) const { cairo_destroy(cairo); }
};
using CairoPtr = std::unique_ptr<cairo_t, CairoDestroy>;

struct SurfaceDestroy {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDestroy>;

struct FontOptionsDestroy {
    void operator()(cairo_font_options_t* options) const { cairo_font_options_destroy(options); }
};
using FontOptionsPtr = std::unique_ptr<cairo_font_options_t, FontOptionsDestroy>;

struct FontDescriptionFree {
    void operator()(PangoFontDescription* description) const {
        pango_font_description_free(description);
    }
};
using FontDescriptionPtr = std::unique_ptr<PangoFontDescription, FontDescriptionFree>;

struct GObjectUnref {
    void operator()(void* object) const {
        if (object) g_object_unref(object);
    }
};
/// Any GObject (font maps, contexts, layouts), released with `g_object_unref`.
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

/// Font options whose metrics are not hinted, so that sizes measured are the sizes drawn at
/// any scale.
FontOptionsPtr unhintedFontOptions();

/// A font description of `family` at `size` points (one point a pixel) and `weight` (CSS
/// weights: 400 regular, 500 medium, 600 semibold).
FontDescriptionPtr describeFont(const char* family, double size, int weight);

}  // namespace pelko
