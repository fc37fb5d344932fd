// Text measuring with Pango in a real font, so that sizes on the simulated desktop are the
// sizes a person would see.
//
// The platform's interface font (at 13 points, medium weight, for the banner) is matched by
// Inter, an open font drawn for screen interfaces whose shapes and widths come closest to it
// among Debian's fonts (package fonts-inter). When Inter is missing, fontconfig's fallback is
// used, so measuring never fails.
#pragma once

#include <string>

#include "platform/panels.h"

namespace pelko::computer {

/// The font family that stands in for the platform's interface font.
inline const char* const interfaceFontFamily = "Inter";

/// The width and height (in points, one point a pixel) that `text` takes on one line in
/// `font`: the logical extents of the laid-out line, with unhinted, unrounded glyph advances.
Size measureTextWithPango(const std::string& text, const Font& font);

}  // namespace pelko::computer
