// The icons of apps: the freedesktop look-up, the simulated table, and the icon a card draws.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "card-view.h"
#include "child-process.h"
#include "linux/freedesktop-icons.h"
#include "sim/sim-app-icons.h"

namespace pelko::notifier {
namespace {

/// Finds no icon for any app: cards show the program's own.
const SimAppIcons noAppIcons;

CardContent content(std::string id, std::string title) {
    return *CardContent::fromMessage(JSON{{"id", id}, {"title", title}});
}

/// Writes an 8 × 8 PNG of one opaque colour (0xRRGGBB) to `path`.
std::string writeSolidPNG(const std::filesystem::path& path, uint32_t rgb) {
    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 8, 8));
    {
        CairoPtr cairo(cairo_create(surface.get()));
        cairo_set_source_rgb(cairo.get(), (rgb >> 16 & 0xFF) / 255.0, (rgb >> 8 & 0xFF) / 255.0,
                             (rgb & 0xFF) / 255.0);
        cairo_paint(cairo.get());
    }
    EXPECT_EQ(cairo_surface_write_to_png(surface.get(), path.c_str()), CAIRO_STATUS_SUCCESS);
    return path.string();
}

/// The colour (0xRRGGBB, alpha dropped) of the pixel at (x, y) of the PNG at `path`.
uint32_t pixelOf(const std::string& path, int x, int y) {
    SurfacePtr image(cairo_image_surface_create_from_png(path.c_str()));
    EXPECT_EQ(cairo_surface_status(image.get()), CAIRO_STATUS_SUCCESS);
    cairo_surface_flush(image.get());
    const unsigned char* row =
        cairo_image_surface_get_data(image.get()) + y * cairo_image_surface_get_stride(image.get());
    return reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFF;
}

TEST(AppIcons, IconComesFromPNGOrDesktopEntryElseOwn) {
    const FreedesktopAppIcons icons;
    pelko::testing::ScopedTempDir folder;
    EXPECT_TRUE(icons.iconForApp("").imagePath.empty());
    EXPECT_TRUE(icons.iconForApp((folder / "missing.png").string()).imagePath.empty());

    // A real PNG: the reference picture of a card drawn here.
    auto png = (folder / "app.png").string();
    ASSERT_TRUE(renderCardPNG(CardView(content("a", "t"), noAppIcons), png, 0.25));
    EXPECT_EQ(icons.iconForApp(png).imagePath, png);
    EXPECT_TRUE(icons.iconForApp(png).image);

    pelko::testing::writeFile(folder / "not-an-image.png", "text");
    EXPECT_TRUE(icons.iconForApp((folder / "not-an-image.png").string()).imagePath.empty());

    pelko::testing::writeFile(folder / "app.desktop",
                              "[Desktop Entry]\nName=App\nIcon=" + png + "\n");
    EXPECT_EQ(icons.iconForApp((folder / "app.desktop").string()).imagePath, png);
    pelko::testing::writeFile(folder / "bare.desktop", "[Desktop Entry]\nIcon=no-such-icon-xyz\n");
    EXPECT_TRUE(icons.iconForApp((folder / "bare.desktop").string()).imagePath.empty());

    // A path that is no regular file is never opened: reading a FIFO would block the resident.
    auto fifo = (folder / "pipe.desktop").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto icon = std::async(std::launch::async, [&] { return icons.iconForApp(fifo); });
    bool returned = icon.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!returned) ::close(::open(fifo.c_str(), O_WRONLY));  // a writer that ends at once frees it
    EXPECT_TRUE(returned) << "iconForApp blocked on a FIFO";
    EXPECT_TRUE(icon.get().imagePath.empty());
}

TEST(AppIcons, SimulatedIconsComeFromTheirTable) {
    pelko::testing::ScopedTempDir folder;
    SimAppIcons icons;
    auto red = writeSolidPNG(folder / "red.png", 0xFF0000);
    icons.add("/apps/red.desktop", red);
    icons.add("/apps/broken.desktop", folder / "missing.png");

    AppIcon found = icons.iconForApp("/apps/red.desktop");
    EXPECT_EQ(found.imagePath, red);
    ASSERT_TRUE(found.image);
    EXPECT_EQ(cairo_image_surface_get_width(found.image.get()), 8);
    // Neither an app the table lacks nor an unreadable picture has one; nor is the table's
    // picture an icon for the picture's own path.
    for (std::string other :
         {std::string("/apps/broken.desktop"), std::string("/apps/other"), red}) {
        AppIcon own = icons.iconForApp(other);
        EXPECT_TRUE(own.imagePath.empty()) << other;
        EXPECT_FALSE(own.image) << other;
    }
}

TEST(CardView, DrawsTheIconOfItsAppAndFollowsUpdates) {
    pelko::testing::ScopedTempDir folder;
    SimAppIcons icons;
    auto red = writeSolidPNG(folder / "red.png", 0xFF0000);
    auto green = writeSolidPNG(folder / "green.png", 0x00FF00);
    icons.add("/apps/red", red);
    icons.add("/apps/green", green);

    CardContent c = content("a", "t");
    c.appPath = "/apps/red";
    CardView view(c, icons);
    EXPECT_EQ(view.icon().imagePath, red);
    // The icon fills its 36-point square from (16, 14); its middle is (34, 32).
    auto picture = (folder / "card.png").string();
    ASSERT_TRUE(renderCardPNG(view, picture, 1));
    EXPECT_EQ(pixelOf(picture, 34, 32), 0xFF0000u);
    EXPECT_EQ(pixelOf(picture, 22, 20), 0xFF0000u);

    c.appPath = "/apps/green";
    view.update(c);
    EXPECT_EQ(view.icon().imagePath, green);
    ASSERT_TRUE(renderCardPNG(view, picture, 1));
    EXPECT_EQ(pixelOf(picture, 34, 32), 0x00FF00u);

    // No app: the program's own icon, drawn by the card, neither picture.
    c.appPath = "";
    view.update(c);
    EXPECT_FALSE(view.icon().image);
    ASSERT_TRUE(renderCardPNG(view, picture, 1));
    EXPECT_NE(pixelOf(picture, 34, 32), 0xFF0000u);
    EXPECT_NE(pixelOf(picture, 34, 32), 0x00FF00u);
}

}  // namespace
}  // namespace pelko::notifier
