// The card's text labels: fonts, direction-aware paragraph styles, and their layout with Pango
// so that measured heights are those drawn.
#pragma once

#include <string>
#include <string_view>

typedef struct _cairo cairo_t;

namespace pelko::notifier {

/// A colour with alpha, each channel from 0 to 1.
struct Rgba {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;
    bool operator==(const Rgba&) const = default;
};

/// The system font at a size, regular or semibold.
struct Font {
    double size = 13;  ///< in points
    bool semibold = false;
};

/// Where a label's lines sit.
enum class TextAlignment { left, right };
/// A label's base writing direction.
enum class WritingDirection { leftToRight, rightToLeft };
/// How a label breaks its lines.
enum class LineBreak { truncatingTail, wordWrapping };

/// A wrapping text label that shows at most `maxLines` lines, the last one truncated at its
/// tail with an ellipsis when the text does not fit.
struct Label {
    Font font;
    Rgba color;
    int maxLines = 1;
    double preferredMaxLayoutWidth = 0;
    bool selectable = false;

    std::string text;
    bool hidden = false;
    TextAlignment alignment = TextAlignment::left;
    WritingDirection baseDirection = WritingDirection::leftToRight;
    LineBreak lineBreak = LineBreak::truncatingTail;
    double lineSpacing = 0;  ///< extra points between two lines
};

/// A label with empty text in `font` and `color` that shows at most `lines` lines.
Label makeLabel(Font font, Rgba color, int lines);

/// Puts `text` into `label`: right-aligned with right-to-left base direction when it holds a
/// right-to-left letter, else left-aligned left-to-right; truncating at the tail for one-line
/// labels, word wrapping with 4 points between lines otherwise; hidden exactly when empty.
void setDirectionalText(Label& label, const std::string& text);

/// Whether any scalar of `text` lies in U+0590–U+08FF, U+FB1D–U+FDFF or U+FE70–U+FEFF.
/// Bytes that are not valid UTF-8 count as no letter.
bool containsRTLLetter(std::string_view text);

/// The height of the default line of `font` (ascent plus descent), in points.
double defaultLineHeight(Font font);

/// What laying `label` out at `width` points gives.
struct LabelLayout {
    double height = 0;  ///< 0 for a hidden label
    int lineCount = 0;
    bool truncated = false;  ///< text was left out and an ellipsis shown
    /// The left edge of the widest line's ink within the label, in points.
    double inkLeft = 0;
    double inkRight = 0;
    /// Characters of the shown text that no installed font can show (drawn as boxes).
    int unknownGlyphs = 0;
};

/// How much of a label's text is laid out.
enum class TextBound {
    /// A start of the text that overflows the label's lines (or all of it when it fits): what
    /// the label shows, at a cost that does not grow with text it cannot show.
    shownLines,
    /// All of it, which takes Pango far more than linear time for a long unbroken word; shows
    /// the same. For comparisons.
    wholeText,
};

/// Lays `label` out `width` points wide, as it is drawn.
LabelLayout layoutLabel(const Label& label, double width, TextBound bound = TextBound::shownLines);

/// Draws `label` with its top-left corner at (x, y) of `cairo`, `width` points wide and at most
/// `maxHeight` points high.
void drawLabel(cairo_t* cairo, const Label& label, double x, double y, double width,
               double maxHeight, TextBound bound = TextBound::shownLines);

}  // namespace pelko::notifier
