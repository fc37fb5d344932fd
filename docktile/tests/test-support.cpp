#include "test-support.h"

#include <cairo.h>

#include "property-list.h"

namespace pelko::docktile::testing {

namespace fs = std::filesystem;

void makeBundle(const fs::path& bundle, const PropertyDictionary& info) {
    fs::create_directories(bundle / "Contents");
    pelko::testing::writeFile(bundle / "Contents" / "Info.plist", xmlPropertyList(info));
}

void writeSolidPNG(const fs::path& file, int width, int height, uint8_t red, uint8_t green,
                   uint8_t blue, uint8_t alpha) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cairo = cairo_create(surface);
    cairo_set_operator(cairo, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cairo, red / 255.0, green / 255.0, blue / 255.0, alpha / 255.0);
    cairo_paint(cairo);
    cairo_destroy(cairo);
    fs::create_directories(file.parent_path());
    cairo_surface_write_to_png(surface, file.c_str());
    cairo_surface_destroy(surface);
}

std::optional<Pixel> pixelAt(const fs::path& png, int x, int y) {
    cairo_surface_t* surface = cairo_image_surface_create_from_png(png.c_str());
    std::optional<Pixel> pixel;
    if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS && x >= 0 && y >= 0 &&
        x < cairo_image_surface_get_width(surface) && y < cairo_image_surface_get_height(surface)) {
        cairo_surface_flush(surface);
        const unsigned char* row =
            cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
        uint32_t argb = reinterpret_cast<const uint32_t*>(row)[x];
        int alpha = argb >> 24;
        auto unpremultiply = [alpha](int value) {
            return alpha == 0 ? 0 : (value * 255 + alpha / 2) / alpha;
        };
        pixel = Pixel{unpremultiply((argb >> 16) & 0xFF), unpremultiply((argb >> 8) & 0xFF),
                      unpremultiply(argb & 0xFF), alpha};
    }
    cairo_surface_destroy(surface);
    return pixel;
}

std::optional<std::pair<int, int>> pngSize(const fs::path& png) {
    cairo_surface_t* surface = cairo_image_surface_create_from_png(png.c_str());
    std::optional<std::pair<int, int>> size;
    if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS)
        size = {cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface)};
    cairo_surface_destroy(surface);
    return size;
}

HostLayout makeHostLayout(const fs::path& folder, const std::optional<std::string>& bundleId,
                          bool withImage) {
    HostLayout layout;
    layout.app = folder / "Host.app";
    layout.plugIn = layout.app / "Contents" / "PlugIns" / "PelkoDockTile.docktileplugin";
    PropertyDictionary hostInfo{{"CFBundleName", PropertyValue::string("Host")}};
    if (bundleId) hostInfo["CFBundleIdentifier"] = PropertyValue::string(*bundleId);
    makeBundle(layout.app, hostInfo);
    makeBundle(layout.plugIn, {{"NSPrincipalClass", PropertyValue::string("PelkoDockTilePlugIn")},
                               {"CFBundleExecutable", PropertyValue::string("PelkoDockTile")}});
    layout.personalImage = layout.plugIn / "Contents" / "Resources" / "pelko-app-icon-personal.png";
    if (withImage) writeSolidPNG(layout.personalImage, 64, 32, 255, 128, 0);
    return layout;
}

PrivateBus::PrivateBus() {
    // The session configuration, listening only on a socket in our own folder.
    daemon_ = std::make_unique<pelko::testing::ChildProcess>(
        std::vector<std::string>{"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address",
                                 "--address=unix:path=" + (folder_ / "bus").string()});
    address_ = daemon_->readLine().value_or("");
}

void ManualQueue::async(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    arrived_.notify_all();
}

bool ManualQueue::runNext(std::chrono::milliseconds timeout) {
    std::function<void()> task;
    {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, timeout, [&] { return !tasks_.empty(); })) return false;
        task = std::move(tasks_.front());
        tasks_.pop_front();
    }
    task();
    return true;
}

bool ManualQueue::waitForTask(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return !tasks_.empty(); });
}

int ManualQueue::runUntilQuiet(std::chrono::milliseconds quiet) {
    int ran = 0;
    while (runNext(quiet)) ++ran;
    return ran;
}

}  // namespace pelko::docktile::testing
