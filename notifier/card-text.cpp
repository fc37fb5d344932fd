#include "card-text.h"

#include <cctype>

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

LayoutPtr makeLayout(const Label& label, double width, const std::string& text) {
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

/// The layout as drawn: at most `maxLines` lines, the last one ending in an ellipsis when text
/// was left out. Pango's own line limit counts per paragraph, so a text of many short lines is
/// cut here: the text ends after the last allowed line with an ellipsis, which Pango shortens
/// further when the line has no room for it.
FinalLayout finalLayout(const Label& label, double width) {
    LayoutPtr full = makeLayout(label, width, label.text);
    int lines = pango_layout_get_line_count(full.get());
    if (lines <= label.maxLines) return {std::move(full), false};

    PangoLayoutIter* iter = pango_layout_get_iter(full.get());
    for (int i = 0; i < label.maxLines - 1; ++i) pango_layout_iter_next_line(iter);
    PangoLayoutLine* last = pango_layout_iter_get_line_readonly(iter);
    size_t lastEnd = static_cast<size_t>(last->start_index + last->length);
    PangoRectangle lastLine;
    pango_layout_iter_get_line_extents(iter, nullptr, &lastLine);
    pango_layout_iter_free(iter);

    std::string cutText = label.text.substr(0, lastEnd);
    while (!cutText.empty() && std::isspace(static_cast<unsigned char>(cutText.back())))
        cutText.pop_back();
    cutText += "\u2026";
    LayoutPtr cut = makeLayout(label, width, cutText);
    pango_layout_set_ellipsize(cut.get(), PANGO_ELLIPSIZE_END);
    // Room for the allowed lines and half a line more: the next line never fits.
    int limit = lastLine.y + lastLine.height + lastLine.height / 2;
    pango_layout_set_height(cut.get(), limit);
    return {std::move(cut), true};
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
    for (const CodePoint& c : CodePoints(text)) {
        // Bytes that are not valid UTF-8 read as U+FFFD, which lies in none of the ranges.
        if (!c.valid) continue;
        if ((c.value >= 0x0590 && c.value <= 0x08FF) || (c.value >= 0xFB1D && c.value <= 0xFDFF) ||
            (c.value >= 0xFE70 && c.value <= 0xFEFF))
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

LabelLayout layoutLabel(const Label& label, double width) {
    if (label.hidden) return {};
    FinalLayout final = finalLayout(label, width);
    PangoRectangle ink;
    PangoRectangle logical;
    pango_layout_get_extents(final.layout.get(), &ink, &logical);
    LabelLayout result;
    result.height = static_cast<double>(logical.height) / PANGO_SCALE;
    result.lineCount = pango_layout_get_line_count(final.layout.get());
    result.truncated = final.truncated || pango_layout_is_ellipsized(final.layout.get());
    result.inkLeft = static_cast<double>(ink.x) / PANGO_SCALE;
    result.inkRight = static_cast<double>(ink.x + ink.width) / PANGO_SCALE;
    return result;
}

void drawLabel(cairo_t* cairo, const Label& label, double x, double y, double width,
               double maxHeight) {
    if (label.hidden) return;
    FinalLayout final = finalLayout(label, width);
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
