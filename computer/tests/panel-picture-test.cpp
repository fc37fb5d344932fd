// The PNG pictures of the overlay: the banner's and the highlight's geometry and colours as
// drawn, read back pixel by pixel.
#include "sim/panel-picture.h"

#include <cairo.h>

#include "overlay.h"
#include "sim-fixture.h"
#include "text-measure.h"

namespace pelko::computer {
namespace {

using testing::SimFixture;

// A PNG read back, with pixels addressed in points of the pictured area (top-left origin).
class Picture {
  public:
    Picture(const std::string& path, double scale)
        : surface_(cairo_image_surface_create_from_png(path.c_str()), &cairo_surface_destroy),
          scale_(scale) {}
    bool valid() const { return cairo_surface_status(surface_.get()) == CAIRO_STATUS_SUCCESS; }
    int width() const { return cairo_image_surface_get_width(surface_.get()); }
    int height() const { return cairo_image_surface_get_height(surface_.get()); }
    /// Red, green and blue (0 to 255) of the pixel at a point.
    std::array<int, 3> at(double x, double y) const {
        const auto* data = cairo_image_surface_get_data(surface_.get());
        const int stride = cairo_image_surface_get_stride(surface_.get());
        const auto* pixel =
            reinterpret_cast<const uint32_t*>(data + static_cast<int>(y * scale_) * stride) +
            static_cast<int>(x * scale_);
        return {static_cast<int>((*pixel >> 16) & 0xFF), static_cast<int>((*pixel >> 8) & 0xFF),
                static_cast<int>(*pixel & 0xFF)};
    }

  private:
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> surface_;
    double scale_;
};

class PanelPictures : public SimFixture {
  protected:
    void SetUp() override {
        build(JSON::parse(R"({"screens": [{"frame": [0, 0, 1440, 900],
                                           "visibleFrame": [0, 0, 1440, 875]}]})"));
    }
    Picture draw(const Rect& area) {
        const auto path = (dir / "picture.png").string();
        EXPECT_TRUE(sim::writeDesktopPicture(path, area, 2, {{0, 0}, {1440, 900}}, {},
                                             desktop->panelStates()));
        return Picture(path, 2);
    }
};

TEST_F(PanelPictures, BannerIsADarkCapsuleWithLightText) {
    Overlay overlay(*platform);
    overlay.show("Esc");
    const Rect frame = desktop->panelStates().front().frame;  // 40 + the text's width wide
    // The area has a margin of 10 points around the banner.
    const Picture picture =
        draw({{frame.minX() - 10, frame.minY() - 10}, {frame.size.width + 20, 52}});
    ASSERT_TRUE(picture.valid());
    EXPECT_EQ(picture.width(), static_cast<int>(std::lround((frame.size.width + 20) * 2)));
    EXPECT_EQ(picture.height(), 104);
    const auto backdrop = picture.at(2, 2);
    EXPECT_GT(backdrop[2], 80) << "the desktop shows around the banner";
    const auto inside = picture.at(10 + 8, 10 + 16);
    for (int channel : inside) EXPECT_LT(channel, 40) << "white 0.08 at 0.92 is nearly black";
    EXPECT_EQ(picture.at(10 + 1, 10 + 1), picture.at(2, 10 + 1)) << "the corners are rounded away";
    int brightest = 0;
    for (double x = 10 + 20; x < 10 + frame.size.width - 20; x += 0.5)
        for (double y = 10 + 8; y < 10 + 24; y += 0.5)
            brightest = std::max(brightest, picture.at(x, y)[0]);
    EXPECT_GT(brightest, 200) << "the white label is drawn";

    overlay.hide();
    const Picture hidden = draw({{frame.minX() - 10, frame.minY() - 10}, {20, 20}});
    EXPECT_EQ(hidden.at(15, 15), hidden.at(2, 15)) << "a hidden banner is not drawn";
}

TEST_F(PanelPictures, BannerTextInEveryScriptHasAGlyphForEachCharacter) {
    // App names and the host's banner texts come in every script, with emoji: the banner's
    // font family shows each character rather than a box.
    const std::string text = "Pelko is using 微信 · البريد · 메모 📊 · Esc to stop";
    EXPECT_EQ(measureTextLine(text, sim::interfaceFontFamily, 13, fontWeightMedium).unknownGlyphs,
              0);

    Overlay overlay(*platform);
    overlay.show("📊");
    const Rect frame = desktop->panelStates().front().frame;
    const Picture picture =
        draw({{frame.minX() - 10, frame.minY() - 10}, {frame.size.width + 20, 52}});
    ASSERT_TRUE(picture.valid());
    int coloured = 0;
    for (double x = 10; x < 10 + frame.size.width; x += 0.5) {
        for (double y = 10; y < 10 + 32; y += 0.5) {
            const auto pixel = picture.at(x, y);
            const auto [low, high] = std::minmax({pixel[0], pixel[1], pixel[2]});
            if (high - low > 80) ++coloured;
        }
    }
    EXPECT_GT(coloured, 20) << "the emoji keeps its colours on the dark banner";
}

TEST_F(PanelPictures, HighlightIsAnAccentOutlineThreePointsOutside) {
    Overlay overlay(*platform);
    overlay.highlight({{100, 200}, {50, 20}});
    // Accessibility rectangle (100, 200, 50, 20): the outline spans x 97..153, y 197..223
    // from the top. Picture the desktop's top-left corner area.
    const Picture picture = draw({{0, 900 - 300}, {300, 300}});
    ASSERT_TRUE(picture.valid());
    EXPECT_EQ(picture.at(97.5, 210), (std::array<int, 3>{0, 122, 255})) << "the left border";
    EXPECT_EQ(picture.at(125, 222.5), (std::array<int, 3>{0, 122, 255})) << "the bottom border";
    const auto fill = picture.at(125, 210);
    const auto outside = picture.at(125, 190);
    EXPECT_GT(fill[2], outside[2]) << "the inside is tinted with the accent colour";
    EXPECT_LT(fill[0], outside[0] + 1);
}

}  // namespace
}  // namespace pelko::computer
