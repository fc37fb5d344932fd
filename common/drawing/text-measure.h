// Measuring one line of text with Pango in a real font, so that sizes are the sizes a person
// would see.
#pragma once

#include <string>

namespace pelko {

/// The width and height a text takes, in points (one point a pixel).
struct TextExtent {
    double width = 0;
    double height = 0;
    /// Characters that no installed font can show (drawn as boxes).
    int unknownGlyphs = 0;
};

/// The logical extents of `text` laid out on one line in `family` at `size` points and
/// `weight`, with unhinted, unrounded glyph advances; characters the family lacks come from
/// the fonts fontconfig falls back to. Safe to call from any thread. A family
/// that is not installed falls back to fontconfig's choice, so measuring never fails.
TextExtent measureTextLine(const std::string& text, const char* family, double size, int weight);

}  // namespace pelko
