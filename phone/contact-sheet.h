// The contact sheet of `frames`: where its cells lie, the instants they show, and drawing the
// pictures and their time labels with Cairo and Pango.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pango-cairo.h"
#include "platform/video.h"

namespace pelko::phone {

/// The instants of `count` pictures of a video lasting `duration` seconds, between `start`
/// (none: 0) and `end` (none: the duration), both held 0.05 s before the end: the centres of
/// `count` equal slices, or all at the start when the span is empty.
std::vector<double> samplingInstants(double duration, std::optional<double> start,
                                     std::optional<double> end, std::int64_t count);

/// A rectangle in sheet pixels, measured from the top-left corner.
struct CellRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const CellRect&) const = default;
};

/// The grid of a contact sheet.
struct SheetGeometry {
    static constexpr int gap = 6;
    std::int64_t count = 0;
    std::int64_t columns = 0;
    std::int64_t rows = 0;
    std::int64_t cellWidth = 0;
    std::int64_t cellHeight = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;

    /// Cell `index` (from 0), filled row by row from the top-left.
    CellRect cell(std::int64_t index) const;
};

/// The grid for `count` cells (1 to 36) at most `tile` pixels wide, of a video shown at
/// `shown` (the transformed size, unrounded, either side possibly negative) whose shown width
/// rounds to `shownWidth`: 1 to 4 columns as many as the cells, 4 for 5 to 8 cells, 6 from 9;
/// cells as wide as the tile or the video, whichever is narrower, and as high as the video's
/// shape gives, rounded half away from zero and at least 1 pixel.
SheetGeometry sheetGeometry(std::int64_t count, std::int64_t tile, SizeValue shown,
                            std::int64_t shownWidth);

/// The label of a cell: the instant with one decimal and the letter s ("12.5s").
std::string timeLabel(double instant);

/// The label's size in points: a eighteenth of the cell width, rounded, at least 11.
int labelFontSize(std::int64_t cellWidth);

/// The label face: Inter Semi Bold with tabular figures, so that every digit is equally wide.
inline constexpr const char* labelFontFamily = "Inter";
inline constexpr int labelFontWeight = 600;
inline constexpr const char* labelFontFeatures = "tnum 1";

/// A sheet being drawn: an opaque picture of the geometry's size in the background colour.
class ContactSheet {
  public:
    /// Nothing when the drawing surface cannot be made (too large for the drawing library).
    static std::optional<ContactSheet> create(const SheetGeometry& geometry);

    /// Draws `picture` scaled into cell `index`, or the missing-picture grey when there is none.
    void drawPicture(std::int64_t index, const VideoPicture* picture);
    /// Draws the time label of cell `index` on its badge at the cell's top-left corner.
    void drawLabel(std::int64_t index, double instant);

    /// The finished pixels: 32-bit B, G, R, unused, rows top first, `bytesPerRow()` apart.
    const std::uint8_t* pixels();
    int bytesPerRow() const;
    const SheetGeometry& geometry() const { return geometry_; }

  private:
    ContactSheet(const SheetGeometry& geometry, SurfacePtr surface);
    SheetGeometry geometry_;
    SurfacePtr surface_;
    CairoPtr cairo_;
    GObjectPtr<PangoLayout> label_;
};

}  // namespace pelko::phone
