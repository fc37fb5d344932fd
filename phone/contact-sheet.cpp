#include "contact-sheet.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "cairo-shapes.h"

namespace pelko::phone {

namespace {

constexpr double endMargin = 0.05;  // the last picture is taken this long before the end
constexpr double badgeInset = 4;    // badge from the cell's top-left corner; text in the badge
constexpr double badgeRadius = 4;
constexpr double textInsetX = 4;
constexpr double textInsetY = 2;

}  // namespace

std::vector<double> samplingInstants(double duration, std::optional<double> start,
                                     std::optional<double> end, std::int64_t count) {
    // Written so that a not-a-number duration gives 0 and a not-a-number end the end limit.
    double endLimit = duration - endMargin;
    if (!(endLimit >= 0)) endLimit = 0;
    double lo = start.value_or(0);
    if (!(lo <= endLimit)) lo = endLimit;
    double hi = end.value_or(duration);
    if (!(hi <= endLimit)) hi = endLimit;
    if (hi < lo) hi = lo;
    std::vector<double> instants;
    instants.reserve(static_cast<std::size_t>(std::max<std::int64_t>(count, 0)));
    for (std::int64_t i = 0; i < count; ++i) {
        // The slice's share first: a damaged file's duration near the largest number would
        // otherwise overflow to an infinite instant.
        instants.push_back(lo >= hi ? lo
                                    : lo + (hi - lo) * ((static_cast<double>(i) + 0.5) /
                                                        static_cast<double>(count)));
    }
    return instants;
}

CellRect SheetGeometry::cell(std::int64_t index) const {
    const std::int64_t column = index % columns;
    const std::int64_t row = index / columns;
    return {static_cast<double>((cellWidth + gap) * column + gap),
            static_cast<double>((cellHeight + gap) * row + gap), static_cast<double>(cellWidth),
            static_cast<double>(cellHeight)};
}

SheetGeometry sheetGeometry(std::int64_t count, std::int64_t tile, SizeValue shown,
                            std::int64_t shownWidth) {
    SheetGeometry geometry;
    geometry.count = count;
    geometry.columns = count < 5 ? count : count <= 8 ? 4 : 6;
    geometry.rows = (count + geometry.columns - 1) / geometry.columns;
    // A sliver of a video (thousands of times wider than high) would round its cells to no
    // height at all and then fail every picture; one pixel row still shows it.
    geometry.cellWidth = std::max<std::int64_t>(std::min(tile, shownWidth), 1);
    const double height =
        std::fabs(shown.height) * static_cast<double>(geometry.cellWidth) / std::fabs(shown.width);
    // A sliver the other way (a size read from a damaged file) is held where no sheet can be
    // drawn anyway, so that the sheet's height is still a number.
    constexpr double tallest = INT_MAX;
    geometry.cellHeight = std::max<std::int64_t>(std::llround(std::min(height, tallest)), 1);
    const std::int64_t gap = SheetGeometry::gap;
    geometry.width = (geometry.columns + 1) * gap + geometry.columns * geometry.cellWidth;
    geometry.height = geometry.cellHeight * geometry.rows + (geometry.rows + 1) * gap;
    return geometry;
}

std::string timeLabel(double instant) {
    // A duration read from a damaged file can be astronomically long; the label grows with it.
    const int length = std::snprintf(nullptr, 0, "%.1fs", instant);
    std::string text(static_cast<size_t>(std::max(length, 0)), '\0');
    std::snprintf(text.data(), text.size() + 1, "%.1fs", instant);
    return text;
}

int labelFontSize(std::int64_t cellWidth) {
    return std::max(static_cast<int>(std::lround(static_cast<double>(cellWidth) / 18.0)), 11);
}

std::optional<ContactSheet> ContactSheet::create(const SheetGeometry& geometry) {
    if (geometry.width <= 0 || geometry.height <= 0 || geometry.width > INT_MAX ||
        geometry.height > INT_MAX) {
        return {};
    }
    SurfacePtr surface(cairo_image_surface_create(
        CAIRO_FORMAT_RGB24, static_cast<int>(geometry.width), static_cast<int>(geometry.height)));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return {};
    ContactSheet sheet(geometry, std::move(surface));
    if (cairo_status(sheet.cairo_.get()) != CAIRO_STATUS_SUCCESS || !sheet.label_) return {};
    return sheet;
}

ContactSheet::ContactSheet(const SheetGeometry& geometry, SurfacePtr surface)
    : geometry_(geometry), surface_(std::move(surface)), cairo_(cairo_create(surface_.get())) {
    cairo_t* cairo = cairo_.get();
    cairo_set_source_rgba(cairo, 0.07, 0.07, 0.08, 1);
    cairo_paint(cairo);

    label_.reset(pango_cairo_create_layout(cairo));
    if (!label_) return;
    pango_layout_set_font_description(
        label_.get(),
        describeFont(labelFontFamily, labelFontSize(geometry.cellWidth), labelFontWeight).get());
    PangoAttrList* attributes = pango_attr_list_new();
    pango_attr_list_insert(attributes, pango_attr_font_features_new(labelFontFeatures));
    pango_layout_set_attributes(label_.get(), attributes);
    pango_attr_list_unref(attributes);
    pango_layout_set_single_paragraph_mode(label_.get(), TRUE);
}

void ContactSheet::drawPicture(std::int64_t index, const VideoPicture* picture) {
    cairo_t* cairo = cairo_.get();
    const CellRect cell = geometry_.cell(index);
    cairo_save(cairo);
    cairo_rectangle(cairo, cell.x, cell.y, cell.width, cell.height);
    cairo_clip(cairo);
    SurfacePtr source;
    if (picture && picture->width > 0 && picture->height > 0 &&
        picture->bytesPerRow >= cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, picture->width) &&
        picture->bgra.size() >= static_cast<std::size_t>(picture->bytesPerRow) *
                                    static_cast<std::size_t>(picture->height)) {
        // Cairo only reads the pixels; the surface lives no longer than this call.
        source.reset(cairo_image_surface_create_for_data(
            const_cast<std::uint8_t*>(picture->bgra.data()), CAIRO_FORMAT_RGB24, picture->width,
            picture->height, picture->bytesPerRow));
    }
    if (source && cairo_surface_status(source.get()) == CAIRO_STATUS_SUCCESS) {
        cairo_translate(cairo, cell.x, cell.y);
        cairo_scale(cairo, cell.width / picture->width, cell.height / picture->height);
        cairo_set_source_surface(cairo, source.get(), 0, 0);
        // Padded, so that a scaled picture's edges do not fade into the background.
        cairo_pattern_set_extend(cairo_get_source(cairo), CAIRO_EXTEND_PAD);
        cairo_pattern_set_filter(cairo_get_source(cairo), CAIRO_FILTER_GOOD);
    } else {
        cairo_set_source_rgba(cairo, 0.2, 0.2, 0.2, 1);
    }
    cairo_paint(cairo);
    cairo_restore(cairo);
}

void ContactSheet::drawLabel(std::int64_t index, double instant) {
    cairo_t* cairo = cairo_.get();
    const CellRect cell = geometry_.cell(index);
    const std::string text = timeLabel(instant);
    pango_layout_set_text(label_.get(), text.data(), static_cast<int>(text.size()));
    PangoRectangle logical;
    pango_layout_get_extents(label_.get(), nullptr, &logical);
    const double textWidth = static_cast<double>(logical.width) / PANGO_SCALE;
    const double textHeight = static_cast<double>(logical.height) / PANGO_SCALE;

    const double badgeX = cell.x + badgeInset;
    const double badgeY = cell.y + badgeInset;
    roundedRect(cairo, badgeX, badgeY, textWidth + 2 * textInsetX, textHeight + 2 * textInsetY,
                badgeRadius);
    cairo_set_fill_rule(cairo, CAIRO_FILL_RULE_WINDING);
    cairo_set_source_rgba(cairo, 0, 0, 0, 0.72);
    cairo_fill(cairo);

    cairo_move_to(cairo, badgeX + textInsetX, badgeY + textInsetY);
    cairo_set_source_rgba(cairo, 1, 1, 1, 1);
    pango_cairo_show_layout(cairo, label_.get());
}

const std::uint8_t* ContactSheet::pixels() {
    cairo_surface_flush(surface_.get());
    return cairo_image_surface_get_data(surface_.get());
}

int ContactSheet::bytesPerRow() const {
    return cairo_image_surface_get_stride(surface_.get());
}

}  // namespace pelko::phone
