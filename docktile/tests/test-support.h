// Helpers of the Dock tile tests: bundles laid out in temporary folders, solid-colour PNG files,
// pixels of PNG files, a private session bus, and a main queue that a test runs by hand.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "child-process.h"
#include "platform/main-queue.h"
#include "platform/property-value.h"

namespace pelko::docktile::testing {

/// Writes `info` as `bundle`/Contents/Info.plist (XML), making the folders.
void makeBundle(const std::filesystem::path& bundle, const PropertyDictionary& info);

/// A solid `width` × `height` PNG of one colour (components 0 to 255, alpha included).
void writeSolidPNG(const std::filesystem::path& file, int width, int height, uint8_t red,
                   uint8_t green, uint8_t blue, uint8_t alpha = 255);

struct Pixel {
    int red = 0, green = 0, blue = 0, alpha = 0;  ///< unpremultiplied, 0 to 255
};
/// The pixel at (`x`, `y`) from the top left of a PNG file; nothing when the file is not a PNG
/// or the point lies outside.
std::optional<Pixel> pixelAt(const std::filesystem::path& png, int x, int y);
/// The width and height of a PNG file; nothing when it is not one.
std::optional<std::pair<int, int>> pngSize(const std::filesystem::path& png);

/// A host application bundle holding the plug-in bundle, as the Dock finds them:
/// <folder>/Host.app/Contents/PlugIns/PelkoDockTile.docktileplugin.
struct HostLayout {
    std::filesystem::path app;
    std::filesystem::path plugIn;
    std::filesystem::path personalImage;  ///< the plug-in's image resource (when made)
};
/// Lays out a host (with `bundleId`, or without an identifier) and its plug-in bundle, whose
/// personal image is a 64 × 32 orange PNG when `withImage`.
HostLayout makeHostLayout(const std::filesystem::path& folder,
                          const std::optional<std::string>& bundleId, bool withImage = true);

/// A dbus-daemon with the session configuration on a socket in a private folder, ended with
/// the object.
class PrivateBus {
  public:
    PrivateBus();
    /// The bus address, or empty when the daemon did not start.
    const std::string& address() const { return address_; }

  private:
    pelko::testing::ScopedTempDir folder_;
    std::unique_ptr<pelko::testing::ChildProcess> daemon_;
    std::string address_;
};

/// A main queue fed from any thread and run by the test, one task at a time.
class ManualQueue final : public MainQueue {
  public:
    void async(std::function<void()> task) override;
    /// Runs the next task, waiting up to `timeout` for one; false when none came.
    bool runNext(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
    /// Waits up to `timeout` until a task is queued, without running it; false when none came.
    bool waitForTask(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
    /// Runs every task that arrives within `quiet` of the previous one; returns how many ran.
    int runUntilQuiet(std::chrono::milliseconds quiet = std::chrono::milliseconds(300));

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::function<void()>> tasks_;
};

}  // namespace pelko::docktile::testing
