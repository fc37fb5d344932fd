// The tile drawn to a PNG file: where an image lands for each scaling, the view's lower-left
// origin, and what stands in when an image cannot be read.
#include <gtest/gtest.h>

#include "child-process.h"
#include "linux/png-dock-tile.h"
#include "test-support.h"

namespace pelko::docktile {
namespace {

namespace fs = std::filesystem;
using pelko::testing::ScopedTempDir;
using testing::pixelAt;

TEST(ImageRect, EachScalingPlacesTheImageCentred) {
    const Rect tile{0, 0, 64, 32};
    // Up or down: a small image grows until it touches two sides, a large one shrinks.
    EXPECT_EQ(imageRect({10, 10}, tile, ImageScaling::proportionallyUpOrDown),
              (Rect{16, 0, 32, 32}));
    EXPECT_EQ(imageRect({512, 512}, tile, ImageScaling::proportionallyUpOrDown),
              (Rect{16, 0, 32, 32}));
    EXPECT_EQ(imageRect({200, 50}, tile, ImageScaling::proportionallyUpOrDown),
              (Rect{0, 8, 64, 16}));
    // Down only: a small image keeps its size.
    EXPECT_EQ(imageRect({10, 10}, tile, ImageScaling::proportionallyDown), (Rect{27, 11, 10, 10}));
    EXPECT_EQ(imageRect({128, 32}, tile, ImageScaling::proportionallyDown), (Rect{0, 8, 64, 16}));
    EXPECT_EQ(imageRect({10, 10}, tile, ImageScaling::axesIndependently), tile);
    EXPECT_EQ(imageRect({100, 10}, tile, ImageScaling::none), (Rect{-18, 11, 100, 10}));
    EXPECT_EQ(imageRect({0, 10}, tile, ImageScaling::proportionallyUpOrDown).width, 0);
}

class PNGTileTest : public ::testing::Test {
  protected:
    fs::path out() const { return folder / "tile.png"; }
    ScopedTempDir folder;
};

TEST_F(PNGTileTest, WideImageIsLetterboxedInASquareTile) {
    testing::writeSolidPNG(folder / "wide.png", 200, 100, 255, 0, 0);
    std::vector<std::optional<ImageView>> told;
    PNGDockTile tile({64, 64}, out(), std::nullopt,
                     [&](const std::optional<ImageView>& view) { told.push_back(view); });
    ImageView view{{0, 0, 64, 64}, ImageScaling::proportionallyUpOrDown, {folder / "wide.png"}};
    tile.setContentView(view);
    EXPECT_FALSE(fs::exists(out()));  // drawn only on display
    tile.display();
    EXPECT_EQ(told, std::vector<std::optional<ImageView>>{view});
    EXPECT_EQ(testing::pngSize(out()), (std::pair{64, 64}));
    EXPECT_EQ(pixelAt(out(), 32, 4)->alpha, 0);
    EXPECT_EQ(pixelAt(out(), 32, 60)->alpha, 0);
    auto middle = pixelAt(out(), 32, 32);
    EXPECT_EQ(middle->red, 255);
    EXPECT_EQ(middle->alpha, 255);
}

TEST_F(PNGTileTest, FramesHaveTheirOriginAtTheLowerLeft) {
    testing::writeSolidPNG(folder / "green.png", 8, 8, 0, 255, 0);
    PNGDockTile tile({64, 64}, out(), std::nullopt);
    tile.setContentView(
        ImageView{{0, 0, 64, 32}, ImageScaling::axesIndependently, {folder / "green.png"}});
    tile.display();
    EXPECT_EQ(pixelAt(out(), 32, 16)->alpha, 0);    // upper half: empty
    EXPECT_EQ(pixelAt(out(), 32, 48)->green, 255);  // lower half: the image
}

TEST_F(PNGTileTest, WithoutAReadableImageTheStandardIconShows) {
    testing::writeSolidPNG(folder / "icon.png", 16, 16, 0, 0, 255);
    pelko::testing::writeFile(folder / "broken.png", "not a picture");
    PNGDockTile tile({32, 32}, out(), folder / "icon.png");
    for (const auto& view :
         {std::optional<ImageView>{},
          std::optional<ImageView>{ImageView{
              {0, 0, 32, 32}, ImageScaling::proportionallyUpOrDown, {folder / "broken.png"}}},
          std::optional<ImageView>{ImageView{
              {0, 0, 32, 32}, ImageScaling::proportionallyUpOrDown, {folder / "missing.png"}}}}) {
        fs::remove(out());
        tile.setContentView(view);
        tile.display();
        auto pixel = pixelAt(out(), 16, 16);
        ASSERT_TRUE(pixel);
        EXPECT_EQ(pixel->blue, 255);
        EXPECT_EQ(pixel->alpha, 255);
    }
    // With no standard icon either, a grey square stands in for it; the corners stay clear.
    PNGDockTile bare({32, 32}, out(), folder / "missing.png");
    bare.display();
    auto centre = pixelAt(out(), 16, 16);
    EXPECT_EQ(centre->alpha, 255);
    EXPECT_EQ(centre->red, centre->blue);
    EXPECT_EQ(pixelAt(out(), 0, 0)->alpha, 0);
}

TEST_F(PNGTileTest, AnUnwritableFileIsReportedAndLeavesNothingBehind) {
    PNGDockTile tile({16, 16}, folder / "no" / "such" / "folder" / "tile.png", std::nullopt);
    EXPECT_FALSE(tile.writePNG());
    fs::create_directories(folder / "taken.png");  // a folder where the file should go
    PNGDockTile blocked({16, 16}, folder / "taken.png", std::nullopt);
    EXPECT_FALSE(blocked.writePNG());
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace pelko::docktile
