#include "window-picture.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <set>

#include "cairo-shapes.h"
#include "graphemes.h"
#include "sim-desktop.h"
#include "text-measure.h"

namespace pelko::computer::sim {
namespace {

/// The height of one line of an element laid out below its siblings.
constexpr double lineHeight = 22;
/// Room above and below the lines inside such an element.
constexpr double flowPadding = 2;
constexpr double windowCornerRadius = 10;

const Font bodyFont{13, fontWeightRegular};
const Font titleFont{13, 600};
constexpr Rgba ink{0.1, 0.1, 0.1, 1};
constexpr Rgba faintInk{0.55, 0.55, 0.55, 1};
constexpr Rgba titleBarGrey{0.93, 0.93, 0.93, 1};
constexpr Rgba controlFill{0.97, 0.97, 0.97, 1};
constexpr Rgba controlBorder{0.72, 0.72, 0.72, 1};

// Roles that hold other elements and show little of their own; a control of any other role in
// the title bar hides the window's title there (a browser's address bar, say).
const std::set<std::string> containerRoles = {
    "AXToolbar", "AXGroup", "AXSplitGroup", "AXScrollArea", "AXWebArea",    "AXTable",
    "AXOutline", "AXList",  "AXRow",        "AXCell",       "AXLayoutArea", "AXTabGroup"};

void setColor(cairo_t* cairo, const Rgba& color) {
    cairo_set_source_rgba(cairo, color.red, color.green, color.blue, color.alpha);
}

enum class Align { left, centre };

// One line of text in `box`: vertically centred, cut with an ellipsis when too long.
void drawLine(cairo_t* cairo, const std::string& text, const Font& font, const Rgba& color,
              const Rect& box, Align align = Align::left, bool underline = false) {
    if (text.empty() || box.size.width <= 0) return;
    auto layout = textLayout(cairo, text, font);
    pango_layout_set_width(layout.get(), static_cast<int>(box.size.width * PANGO_SCALE));
    pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
    if (align == Align::centre) pango_layout_set_alignment(layout.get(), PANGO_ALIGN_CENTER);
    PangoRectangle logical;
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    const double height = double(logical.height) / PANGO_SCALE;
    const double top = box.minY() + (box.size.height - height) / 2;
    setColor(cairo, color);
    cairo_move_to(cairo, box.minX(), top);
    pango_cairo_show_layout(cairo, layout.get());
    if (underline) {
        const double width = std::min(box.size.width, double(logical.width) / PANGO_SCALE);
        cairo_set_line_width(cairo, 1);
        cairo_move_to(cairo, box.minX(), top + height - 1.5);
        cairo_line_to(cairo, box.minX() + width, top + height - 1.5);
        cairo_stroke(cairo);
    }
}

Rect inset(const Rect& box, double dx, double dy) {
    return {{box.minX() + dx, box.minY() + dy},
            {std::max(0.0, box.size.width - 2 * dx), std::max(0.0, box.size.height - 2 * dy)}};
}

// The label a control shows: its title, else its description.
std::string labelOf(const DrawnElement& e) {
    if (e.title) return *e.title;
    return e.description.value_or("");
}

// What a field or a text shows of its value.
std::string shownText(const DrawnElement& e) {
    if (e.text && !e.text->empty()) return *e.text;
    if (e.number) {
        const double n = *e.number;
        return n == std::floor(n) ? std::to_string(static_cast<long long>(n)) : std::to_string(n);
    }
    return "";
}

void fillRounded(cairo_t* cairo, const Rect& box, double radius, const Rgba& fill,
                 const Rgba& border) {
    roundedRect(cairo, box.minX() + 0.5, box.minY() + 0.5, box.size.width - 1, box.size.height - 1,
                radius);
    setColor(cairo, fill);
    cairo_fill_preserve(cairo);
    cairo_set_line_width(cairo, 1);
    setColor(cairo, border);
    cairo_stroke(cairo);
}

void drawWindowButton(cairo_t* cairo, const DrawnElement& e, const Rect& box) {
    Rgba color{0.8, 0.8, 0.8, 1};
    if (e.subrole == "AXCloseButton") color = {1.0, 0.37, 0.34, 1};
    if (e.subrole == "AXMinimizeButton") color = {1.0, 0.74, 0.18, 1};
    if (e.subrole == "AXZoomButton" || e.subrole == "AXFullScreenButton")
        color = {0.16, 0.78, 0.25, 1};
    const double radius = std::min(box.size.width, box.size.height) / 2;
    cairo_arc(cairo, box.minX() + box.size.width / 2, box.minY() + box.size.height / 2, radius, 0,
              2 * M_PI);
    setColor(cairo, color);
    cairo_fill(cairo);
}

void drawCheckBox(cairo_t* cairo, const DrawnElement& e, const Rect& box, const Rgba& accent) {
    const double side = std::min(14.0, box.size.height);
    const Rect mark{{box.minX() + 1, box.minY() + (box.size.height - side) / 2}, {side, side}};
    const int state = e.number ? static_cast<int>(std::lround(*e.number)) : 0;
    if (state == 0) {
        fillRounded(cairo, mark, 3, {1, 1, 1, 1}, controlBorder);
    } else {
        roundedRect(cairo, mark.minX(), mark.minY(), side, side, 3);
        setColor(cairo, accent);
        cairo_fill(cairo);
        cairo_set_source_rgb(cairo, 1, 1, 1);
        cairo_set_line_width(cairo, 2);
        if (state == 1) {  // a check mark
            cairo_move_to(cairo, mark.minX() + side * 0.22, mark.minY() + side * 0.52);
            cairo_line_to(cairo, mark.minX() + side * 0.42, mark.minY() + side * 0.72);
            cairo_line_to(cairo, mark.minX() + side * 0.78, mark.minY() + side * 0.28);
        } else {  // mixed: a dash
            cairo_move_to(cairo, mark.minX() + side * 0.25, mark.minY() + side / 2);
            cairo_line_to(cairo, mark.minX() + side * 0.75, mark.minY() + side / 2);
        }
        cairo_stroke(cairo);
    }
    drawLine(cairo, labelOf(e), bodyFont, ink,
             {{mark.maxX() + 7, box.minY()}, {box.maxX() - mark.maxX() - 7, box.size.height}});
}

// A switch: the label on the left, the pill on the right, its knob at the right when on.
void drawSwitch(cairo_t* cairo, const DrawnElement& e, const Rect& box, const Rgba& accent) {
    const double height = std::min(18.0, box.size.height), width = height * 1.8;
    const Rect pill{{box.maxX() - width, box.minY() + (box.size.height - height) / 2},
                    {width, height}};
    const bool on = e.number && *e.number != 0;
    roundedRect(cairo, pill.minX(), pill.minY(), width, height, height / 2);
    setColor(cairo, on ? accent : Rgba{0.85, 0.85, 0.85, 1});
    cairo_fill(cairo);
    const double knob = height / 2 - 1.5;
    cairo_arc(cairo, on ? pill.maxX() - height / 2 : pill.minX() + height / 2,
              pill.minY() + height / 2, knob, 0, 2 * M_PI);
    cairo_set_source_rgb(cairo, 1, 1, 1);
    cairo_fill(cairo);
    drawLine(cairo, labelOf(e), bodyFont, ink,
             {box.origin, {std::max(0.0, box.size.width - width - 8), box.size.height}});
}

void drawRadioButton(cairo_t* cairo, const DrawnElement& e, const Rect& box, const Rgba& accent) {
    const double radius = std::min(7.0, box.size.height / 2);
    const double cx = box.minX() + 1 + radius, cy = box.minY() + box.size.height / 2;
    const bool on = e.number && *e.number != 0;
    cairo_arc(cairo, cx, cy, radius - 0.5, 0, 2 * M_PI);
    setColor(cairo, on ? accent : Rgba{1, 1, 1, 1});
    cairo_fill_preserve(cairo);
    setColor(cairo, on ? accent : controlBorder);
    cairo_set_line_width(cairo, 1);
    cairo_stroke(cairo);
    if (on) {
        cairo_arc(cairo, cx, cy, radius * 0.4, 0, 2 * M_PI);
        cairo_set_source_rgb(cairo, 1, 1, 1);
        cairo_fill(cairo);
    }
    drawLine(cairo, labelOf(e), bodyFont, ink,
             {{cx + radius + 7, box.minY()}, {box.maxX() - cx - radius - 7, box.size.height}});
}

void drawTextField(cairo_t* cairo, const DrawnElement& e, const Rect& box, const Rgba& accent) {
    const bool search = e.subrole == "AXSearchField";
    fillRounded(cairo, box, search ? box.size.height / 2 : 4, {1, 1, 1, 1}, controlBorder);
    std::string shown = shownText(e);
    if (e.subrole == "AXSecureTextField") {
        std::string bullets;
        for (size_t i = 0; i < std::min<size_t>(shown.size(), 40); ++i) bullets += "•";
        shown = bullets;
    }
    const Rect inside = inset(box, search ? 12 : 6, 0);
    if (!shown.empty())
        drawLine(cairo, shown, bodyFont, ink, inside);
    else if (e.placeholder)
        drawLine(cairo, *e.placeholder, bodyFont, faintInk, inside);
    if (e.focused) {
        roundedRect(cairo, box.minX() - 1.5, box.minY() - 1.5, box.size.width + 3,
                    box.size.height + 3, search ? box.size.height / 2 + 1.5 : 5.5);
        setColor(cairo, {accent.red, accent.green, accent.blue, 0.6});
        cairo_set_line_width(cairo, 3);
        cairo_stroke(cairo);
    }
}

void drawTextArea(cairo_t* cairo, const DrawnElement& e, const Rect& box) {
    cairo_rectangle(cairo, box.minX(), box.minY(), box.size.width, box.size.height);
    cairo_set_source_rgb(cairo, 1, 1, 1);
    cairo_fill(cairo);
    const std::string shown = shownText(e);
    const bool empty = shown.empty();
    const std::string text = empty ? e.placeholder.value_or("") : shown;
    if (text.empty()) return;
    GObjectPtr<PangoLayout> layout(pango_cairo_create_layout(cairo));
    pango_layout_set_font_description(
        layout.get(), describeFont(interfaceFontFamily, bodyFont.size, bodyFont.weight).get());
    pango_layout_set_width(layout.get(), static_cast<int>((box.size.width - 24) * PANGO_SCALE));
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    pango_layout_set_spacing(layout.get(), 4 * PANGO_SCALE);
    pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    cairo_save(cairo);
    cairo_rectangle(cairo, box.minX(), box.minY(), box.size.width, box.size.height);
    cairo_clip(cairo);
    setColor(cairo, empty ? faintInk : ink);
    cairo_move_to(cairo, box.minX() + 12, box.minY() + 10);
    pango_cairo_show_layout(cairo, layout.get());
    cairo_restore(cairo);
}

void drawPopUp(cairo_t* cairo, const DrawnElement& e, const Rect& box, const Rgba& accent) {
    fillRounded(cairo, box, 5, {1, 1, 1, 1}, controlBorder);
    const std::string shown = e.text && !e.text->empty() ? *e.text : labelOf(e);
    drawLine(cairo, shown, bodyFont, ink, inset(box, 8, 0));
    // The two small chevrons at the right end, on the accent colour.
    const double side = std::min(16.0, box.size.height - 6);
    const Rect knob{{box.maxX() - side - 3, box.minY() + (box.size.height - side) / 2},
                    {side, side}};
    roundedRect(cairo, knob.minX(), knob.minY(), side, side, 4);
    setColor(cairo, accent);
    cairo_fill(cairo);
    const double cx = knob.minX() + side / 2, cy = knob.minY() + side / 2;
    cairo_set_source_rgb(cairo, 1, 1, 1);
    cairo_set_line_width(cairo, 1.5);
    cairo_move_to(cairo, cx - 3, cy - 1.5);
    cairo_line_to(cairo, cx, cy - 4.5);
    cairo_line_to(cairo, cx + 3, cy - 1.5);
    cairo_move_to(cairo, cx - 3, cy + 1.5);
    cairo_line_to(cairo, cx, cy + 4.5);
    cairo_line_to(cairo, cx + 3, cy + 1.5);
    cairo_stroke(cairo);
}

void drawScrollBar(cairo_t* cairo, const Rect& box) {
    const bool vertical = box.size.height >= box.size.width;
    const double thickness = std::min(6.0, vertical ? box.size.width : box.size.height);
    Rect knob = vertical ? Rect{{box.maxX() - thickness - 2, box.minY() + 4},
                                {thickness, std::max(thickness, box.size.height * 0.3)}}
                         : Rect{{box.minX() + 4, box.maxY() - thickness - 2},
                                {std::max(thickness, box.size.width * 0.3), thickness}};
    roundedRect(cairo, knob.minX(), knob.minY(), knob.size.width, knob.size.height, thickness / 2);
    cairo_set_source_rgba(cairo, 0, 0, 0, 0.3);
    cairo_fill(cairo);
}

// Backgrounds are painted for the whole window first, so that a toolbar or a list never covers a
// control that comes before it in the tree (the window's buttons sit in the toolbar's area).
enum class Pass { backgrounds, controls };

struct Context {
    cairo_t* cairo;
    Rgba accent;
    Pass pass;
};

// The backgrounds of bars, lists and pages, and the selection of rows.
void drawBackground(Context& context, const DrawnElement& e, const Rect& box) {
    cairo_t* cairo = context.cairo;
    const std::string& role = e.role;
    if (role == "AXRow") {
        if (e.selected) {
            roundedRect(cairo, box.minX() + 4, box.minY(), box.size.width - 8, box.size.height, 5);
            setColor(cairo, {context.accent.red, context.accent.green, context.accent.blue, 0.22});
            cairo_fill(cairo);
        }
    } else if (role == "AXToolbar") {
        cairo_rectangle(cairo, box.minX(), box.minY(), box.size.width, box.size.height);
        setColor(cairo, titleBarGrey);
        cairo_fill(cairo);
        cairo_rectangle(cairo, box.minX(), box.maxY() - 1, box.size.width, 1);
        setColor(cairo, controlBorder);
        cairo_fill(cairo);
    } else if (role == "AXTable" || role == "AXOutline" || role == "AXList" ||
               role == "AXWebArea") {
        cairo_rectangle(cairo, box.minX(), box.minY(), box.size.width, box.size.height);
        cairo_set_source_rgb(cairo, 1, 1, 1);
        cairo_fill(cairo);
    }
}

// The element's own look (not its children's), over every background.
void drawSelf(Context& context, const DrawnElement& e, const Rect& box) {
    cairo_t* cairo = context.cairo;
    const std::string& role = e.role;
    if (role == "AXButton") {
        if (!e.subrole.empty() && e.subrole != "AXToggle" && e.subrole.ends_with("Button")) {
            drawWindowButton(cairo, e, box);
            return;
        }
        fillRounded(cairo, box, 5, controlFill, controlBorder);
        // A label too long for its button is an icon's description: the button shows a
        // glyph, here the label's first letter.
        std::string label = labelOf(e);
        const double room = box.size.width - 8;
        if (measureTextLine(label, interfaceFontFamily, bodyFont.size, bodyFont.weight).width >
            room)
            label = std::string(graphemePrefix(label, 1));
        drawLine(cairo, label, {bodyFont.size, 600}, ink, inset(box, 4, 0), Align::centre);
    } else if (role == "AXTextField" || role == "AXComboBox") {
        drawTextField(cairo, e, box, context.accent);
    } else if (role == "AXTextArea") {
        drawTextArea(cairo, e, box);
    } else if (role == "AXCheckBox") {
        if (e.subrole == "AXSwitch")
            drawSwitch(cairo, e, box, context.accent);
        else
            drawCheckBox(cairo, e, box, context.accent);
    } else if (role == "AXRadioButton") {
        drawRadioButton(cairo, e, box, context.accent);
    } else if (role == "AXPopUpButton" || role == "AXMenuButton") {
        drawPopUp(cairo, e, box, context.accent);
    } else if (role == "AXHeading") {
        const double size = std::clamp(box.size.height * 0.6, 15.0, 26.0);
        const std::string text = e.title ? *e.title : shownText(e);
        drawLine(cairo, text, {size, 700}, ink, box);
    } else if (role == "AXLink") {
        const std::string text = e.title ? *e.title : shownText(e);
        drawLine(cairo, text, bodyFont, context.accent, box, Align::left, /*underline=*/true);
    } else if (role == "AXScrollBar") {
        drawScrollBar(cairo, box);
    } else if (role == "AXImage") {
        roundedRect(cairo, box.minX(), box.minY(), box.size.width, box.size.height, 4);
        cairo_set_source_rgb(cairo, 0.82, 0.84, 0.88);
        cairo_fill(cairo);
    } else if (e.children.empty() && !containerRoles.count(role)) {
        // Texts, and any other leaf that has words to show.
        const std::string text = shownText(e).empty() ? e.title.value_or("") : shownText(e);
        drawLine(cairo, text, bodyFont, ink, inset(box, 2, 0));
    }
}

double flowHeight(const DrawnElement& e) {
    if (e.hidden) return 0;
    double inner = 0;
    for (const auto& child : e.children) {
        if (!child.frame) inner += flowHeight(child);
    }
    return inner > 0 ? inner + 2 * flowPadding : lineHeight;
}

void drawElement(Context& context, const DrawnElement& e, const Rect& box) {
    if (e.hidden) return;
    cairo_t* cairo = context.cairo;
    cairo_save(cairo);
    const bool faded = !e.enabled && e.role != "AXWindow" && context.pass == Pass::controls;
    if (faded) cairo_push_group(cairo);
    if (e.role != "AXWindow") {
        if (context.pass == Pass::backgrounds)
            drawBackground(context, e, box);
        else
            drawSelf(context, e, box);
    }
    if (e.role == "AXScrollArea") {  // a scroll area shows only what is inside it
        cairo_rectangle(cairo, box.minX(), box.minY(), box.size.width, box.size.height);
        cairo_clip(cairo);
    }
    double flowY = box.minY() + (e.role == "AXWindow" ? titleBarHeight : 0) + flowPadding;
    for (const auto& child : e.children) {
        if (child.frame) {
            drawElement(context, child, *child.frame);
        } else {
            const double height = flowHeight(child);
            drawElement(context, child,
                        {{box.minX() + flowPadding, flowY},
                         {std::max(0.0, box.size.width - 2 * flowPadding), height}});
            flowY += height;
        }
    }
    if (faded) {
        cairo_pop_group_to_source(cairo);
        cairo_paint_with_alpha(cairo, 0.45);
    }
    cairo_restore(cairo);
}

// Whether a control somewhere below `e` covers `area`.
bool controlCovers(const DrawnElement& e, const Rect& area) {
    for (const auto& child : e.children) {
        if (child.hidden) continue;
        if (child.frame && !containerRoles.count(child.role) && child.frame->intersects(area))
            return true;
        if (controlCovers(child, area)) return true;
    }
    return false;
}

}  // namespace

GObjectPtr<PangoLayout> textLayout(cairo_t* cairo, const std::string& text, const Font& font) {
    GObjectPtr<PangoLayout> layout(pango_cairo_create_layout(cairo));
    pango_layout_set_font_description(
        layout.get(), describeFont(interfaceFontFamily, font.size, font.weight).get());
    pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
    pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    return layout;
}

void drawWindowBody(cairo_t* cairo, const Rect& frame) {
    cairo_save(cairo);
    roundedRect(cairo, frame.minX(), frame.minY(), frame.size.width, frame.size.height,
                windowCornerRadius);
    cairo_clip(cairo);
    cairo_set_source_rgb(cairo, 1, 1, 1);
    cairo_paint(cairo);
    cairo_rectangle(cairo, frame.minX(), frame.minY(), frame.size.width, titleBarHeight);
    setColor(cairo, titleBarGrey);
    cairo_fill(cairo);
    cairo_restore(cairo);
}

void drawWindowTitle(cairo_t* cairo, const Rect& frame, const std::string& title) {
    drawLine(cairo, title, titleFont, {0.25, 0.25, 0.25, 1},
             {{frame.minX() + 80, frame.minY()}, {frame.size.width - 160, titleBarHeight}},
             Align::centre);
    cairo_set_source_rgba(cairo, 0, 0, 0, 0.25);
    cairo_set_line_width(cairo, 1);
    roundedRect(cairo, frame.minX() + 0.5, frame.minY() + 0.5, frame.size.width - 1,
                frame.size.height - 1, windowCornerRadius);
    cairo_stroke(cairo);
}

WindowImage drawWindowPicture(const DrawnElement& window, double pixelsPerPoint,
                              const Rgba& accent) {
    WindowImage image;
    if (!window.frame) return image;
    const Rect frame = *window.frame;
    image.width = static_cast<int>(std::lround(frame.size.width * pixelsPerPoint));
    image.height = static_cast<int>(std::lround(frame.size.height * pixelsPerPoint));
    if (image.width < 1 || image.height < 1) return {};
    image.bytesPerRow = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, image.width);
    image.pixels.assign(static_cast<size_t>(image.bytesPerRow) * image.height, 0);
    // Cairo's 32-bit pixels are native-endian words, 0xAARRGGBB: blue, green, red, alpha in
    // memory on a little-endian machine.
    static_assert(std::endian::native == std::endian::little);
    SurfacePtr surface(cairo_image_surface_create_for_data(
        image.pixels.data(), CAIRO_FORMAT_RGB24, image.width, image.height, image.bytesPerRow));
    CairoPtr owned(cairo_create(surface.get()));
    cairo_t* cairo = owned.get();
    cairo_set_source_rgb(cairo, 1, 1, 1);  // what shows in the rounded corners
    cairo_paint(cairo);
    cairo_scale(cairo, pixelsPerPoint, pixelsPerPoint);
    cairo_translate(cairo, -frame.minX(), -frame.minY());
    drawWindowBody(cairo, frame);
    cairo_save(cairo);
    roundedRect(cairo, frame.minX(), frame.minY(), frame.size.width, frame.size.height,
                windowCornerRadius);
    cairo_clip(cairo);
    for (Pass pass : {Pass::backgrounds, Pass::controls}) {
        Context context{cairo, accent, pass};
        drawElement(context, window, frame);
    }
    cairo_restore(cairo);
    // The title where it is drawn, unless a control covers that place (a browser's address
    // bar, say).
    const std::string title = labelOf(window);
    const double titleWidth = std::min(
        frame.size.width - 160,
        measureTextLine(title, interfaceFontFamily, titleFont.size, titleFont.weight).width);
    const Rect titleArea{{frame.minX() + (frame.size.width - titleWidth) / 2, frame.minY() + 6},
                         {titleWidth, titleBarHeight - 12}};
    drawWindowTitle(cairo, frame, controlCovers(window, titleArea) ? "" : title);
    owned.reset();
    cairo_surface_flush(surface.get());
    surface.reset();
    // RGB24 leaves the top byte undefined: make every pixel opaque.
    for (int y = 0; y < image.height; ++y) {
        std::uint8_t* row = image.pixels.data() + static_cast<size_t>(y) * image.bytesPerRow;
        for (int x = 0; x < image.width; ++x) row[x * 4 + 3] = 255;
    }
    return image;
}

}  // namespace pelko::computer::sim
