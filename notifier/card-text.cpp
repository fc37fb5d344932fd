#include "card-text.h"

#include <algorithm>
#include <cmath>

#include "graphemes.h"
#include "pango-cairo.h"
#include "utf8.h"

namespace pelko::notifier {
namespace {

/// The system font's stand-in on this platform.
constexpr const char* fontFamily = "DejaVu Sans";

using ContextPtr = GObjectPtr<PangoContext>;
using LayoutPtr = GObjectPtr<PangoLayout>;

/// A text context whose measurements do not depend on where the text is drawn: metrics are
/// not hinted, so the heights measured are the heights drawn at any scale.
ContextPtr makeContext(WritingDirection direction) {
    ContextPtr context(pango_font_map_create_context(pango_cairo_font_map_get_default()));
    pango_cairo_context_set_font_options(context.get(), unhintedFontOptions().get());
    pango_context_set_base_dir(context.get(), direction == WritingDirection::rightToLeft
                                                  ? PANGO_DIRECTION_RTL
                                                  : PANGO_DIRECTION_LTR);
    return context;
}

FontDescriptionPtr describe(Font font) {
    return describeFont(fontFamily, font.size,
                        font.semibold ? PANGO_WEIGHT_SEMIBOLD : PANGO_WEIGHT_NORMAL);
}

LayoutPtr makeLayout(const Label& label, double width, std::string_view text) {
    ContextPtr context = makeContext(label.baseDirection);
    LayoutPtr layout(pango_layout_new(context.get()));
    pango_layout_set_font_description(layout.get(), describe(label.font).get());
    // The direction comes from the label's paragraph style, never from the text itself.
    pango_layout_set_auto_dir(layout.get(), FALSE);
    pango_layout_set_alignment(layout.get(), label.alignment == TextAlignment::right
                                                 ? PANGO_ALIGN_RIGHT
                                                 : PANGO_ALIGN_LEFT);
    pango_layout_set_width(layout.get(), static_cast<int>(width * PANGO_SCALE));
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    pango_layout_set_spacing(layout.get(), static_cast<int>(label.lineSpacing * PANGO_SCALE));
    pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    return layout;
}

struct FinalLayout {
    LayoutPtr layout;
    bool truncated = false;
};

/// A first guess of how many grapheme clusters the label's lines hold, one more than fill
/// them at an average glyph (half an em wide).
size_t clusterGuess(const Label& label, double width) {
    const double perLine = std::ceil(std::max(width, 1.0) / (label.font.size / 2));
    return static_cast<size_t>(std::max(label.maxLines, 1)) * static_cast<size_t>(perLine) + 1;
}

/// The layout of `shown`, whose layout `full` has more lines than the label shows, cut after
/// its last shown line and ended with an ellipsis.
FinalLayout cutLayout(const Label& label, double width, std::string_view shown, PangoLayout* full) {
    PangoLayoutIter* iter = pango_layout_get_iter(full);
    for (int i = 0; i < label.maxLines - 1; ++i) pango_layout_iter_next_line(iter);
    PangoLayoutLine* last = pango_layout_iter_get_line_readonly(iter);
    size_t lastEnd = static_cast<size_t>(last->start_index + last->length);
    PangoRectangle lastLine;
    pango_layout_iter_get_line_extents(iter, nullptr, &lastLine);
    pango_layout_iter_free(iter);

    // Blanks at the cut go before the ellipsis; the lines shown stay, blank ones too.
    std::string cutText(shown.substr(0, lastEnd));
    while (!cutText.empty() && (cutText.back() == ' ' || cutText.back() == '\t'))
        cutText.pop_back();
    cutText += "\u2026";
    LayoutPtr cut = makeLayout(label, width, cutText);
    pango_layout_set_ellipsize(cut.get(), PANGO_ELLIPSIZE_END);
    // Room for the allowed lines and half a line more: the next line never fits.
    int limit = lastLine.y + lastLine.height + lastLine.height / 2;
    pango_layout_set_height(cut.get(), limit);
    return {std::move(cut), true};
}

/// The layout as drawn: at most `maxLines` lines, the last one ending in an ellipsis when text
/// was left out. Pango's own line limit counts per paragraph, so a text of many short lines is
/// cut here: the text ends after the last allowed line with an ellipsis, which Pango shortens
/// further when the line has no room for it.
///
/// Laying out a long unbroken word costs Pango far more than linear time, so only a start of the
/// text is laid out: one that overflows the label's lines. Its first lines are the whole text's,
/// since lines are filled from the start and each ends at the last break that fits. The start
/// grows from a guess until it overflows or is the whole text, so narrow or zero-width
/// characters are never cut off early.
FinalLayout finalLayout(const Label& label, double width, TextBound bound) {
    const std::string_view text = label.text;
    size_t clusters = clusterGuess(label, width);
    for (;;) {
        const std::string_view shown =
            bound == TextBound::wholeText ? text : graphemePrefix(text, clusters);
        LayoutPtr full = makeLayout(label, width, shown);
        const int lines = pango_layout_get_line_count(full.get());
        if (lines > label.maxLines) return cutLayout(label, width, shown, full.get());
        if (shown.size() == text.size()) return {std::move(full), false};
        clusters *= 2;
    }
}

}  // namespace

Label makeLabel(Font font, Rgba color, int lines) {
    Label label;
    label.font = font;
    label.color = color;
    label.maxLines = lines;
    label.lineBreak = LineBreak::truncatingTail;
    label.selectable = false;
    return label;
}

void setDirectionalText(Label& label, const std::string& text) {
    bool rtl = containsRTLLetter(text);
    label.alignment = rtl ? TextAlignment::right : TextAlignment::left;
    label.baseDirection = rtl ? WritingDirection::rightToLeft : WritingDirection::leftToRight;
    label.lineBreak = label.maxLines == 1 ? LineBreak::truncatingTail : LineBreak::wordWrapping;
    label.lineSpacing = label.maxLines == 1 ? 0 : 4;
    label.text = text;
    label.hidden = text.empty();
}

bool containsRTLLetter(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        // Every letter of the ranges takes two or three bytes led by 0xD6 or above, so other
        // bytes are passed over at once. A lead byte always begins a step of the UTF-8 walk,
        // so reading from it gives what the walk gives: bytes that are not valid UTF-8 read
        // as U+FFFD, which lies in none of the ranges.
        if (static_cast<unsigned char>(text[i]) < 0xD6) continue;
        const char32_t c = firstCodePoint(text.substr(i, 4)).value_or(0);
        if ((c >= 0x0590 && c <= 0x08FF) || (c >= 0xFB1D && c <= 0xFDFF) ||
            (c >= 0xFE70 && c <= 0xFEFF))
            return true;
    }
    return false;
}

double defaultLineHeight(Font font) {
    ContextPtr context = makeContext(WritingDirection::leftToRight);
    PangoFontMetrics* metrics =
        pango_context_get_metrics(context.get(), describe(font).get(), nullptr);
    double height = static_cast<double>(pango_font_metrics_get_ascent(metrics) +
                                        pango_font_metrics_get_descent(metrics)) /
                    PANGO_SCALE;
    pango_font_metrics_unref(metrics);
    return height;
}

LabelLayout layoutLabel(const Label& label, double width, TextBound bound) {
    if (label.hidden) return {};
    FinalLayout final = finalLayout(label, width, bound);
    PangoRectangle ink;
    PangoRectangle logical;
    pango_layout_get_extents(final.layout.get(), &ink, &logical);
    LabelLayout result;
    result.height = static_cast<double>(logical.height) / PANGO_SCALE;
    result.lineCount = pango_layout_get_line_count(final.layout.get());
    result.truncated = final.truncated || pango_layout_is_ellipsized(final.layout.get());
    result.inkLeft = static_cast<double>(ink.x) / PANGO_SCALE;
    result.inkRight = static_cast<double>(ink.x + ink.width) / PANGO_SCALE;
    result.unknownGlyphs = pango_layout_get_unknown_glyphs_count(final.layout.get());
    return result;
}

void drawLabel(cairo_t* cairo, const Label& label, double x, double y, double width,
               double maxHeight, TextBound bound) {
    if (label.hidden) return;
    FinalLayout final = finalLayout(label, width, bound);
    cairo_save(cairo);
    cairo_rectangle(cairo, x, y, width, maxHeight);
    cairo_clip(cairo);
    cairo_set_source_rgba(cairo, label.color.red, label.color.green, label.color.blue,
                          label.color.alpha);
    cairo_move_to(cairo, x, y);
    pango_cairo_show_layout(cairo, final.layout.get());
    cairo_restore(cairo);
}

}  // namespace pelko::notifier

// Fontconfig keeps its font caches for the life of the process by design; the leak checker of
// sanitizer builds is told so, in every program that lays text out.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}
