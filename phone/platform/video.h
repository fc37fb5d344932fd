// The video seam: opening a video file, loading its duration, its video tracks and their
// geometry, and taking pictures at exact instants.
//
// The shapes follow the platform's media model so that its backend stays a thin wrapper: an
// asset whose properties are loaded on request (each load may fail on its own), and a picture
// generator that applies the track's preferred transform and tolerates no time difference.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pelko::phone {

/// An affine transform of the plane: (x, y) goes to (a x + c y + tx, b x + d y + ty).
struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    bool operator==(const AffineTransform&) const = default;
};

/// A width and a height, either of which may come out negative from a transform.
struct SizeValue {
    double width = 0;
    double height = 0;
};

/// `size` with `transform` applied as to a vector (the translation plays no part).
inline SizeValue applyTransform(const AffineTransform& transform, SizeValue size) {
    return {transform.a * size.width + transform.c * size.height,
            transform.b * size.width + transform.d * size.height};
}

/// What the first video track of a video says about its pictures.
struct VideoTrackGeometry {
    /// The size of a picture as stored, in square pixels.
    SizeValue naturalSize;
    /// How a stored picture is turned to be shown (a phone held upright records a quarter turn).
    AffineTransform preferredTransform;
};

/// A picture taken from a video: 32-bit pixels in the byte order B, G, R, A (opaque), rows top
/// first, `bytesPerRow` apart.
struct VideoPicture {
    int width = 0;
    int height = 0;
    int bytesPerRow = 0;
    std::vector<std::uint8_t> bgra;
};

/// One opened video file. Its loads run to completion before they return.
class VideoAsset {
  public:
    virtual ~VideoAsset() = default;

    /// The duration in seconds; nothing when it cannot be loaded.
    virtual std::optional<double> loadDuration() = 0;

    /// How many video tracks show moving pictures (cover art does not count); nothing when the
    /// tracks cannot be loaded.
    virtual std::optional<std::size_t> loadVideoTrackCount() = 0;

    /// The natural size and preferred transform of the first video track; nothing when they
    /// cannot be loaded.
    virtual std::optional<VideoTrackGeometry> loadFirstTrackGeometry() = 0;

    /// Receives the picture for the instant at `index`, or null where none could be taken; the
    /// picture is valid only during the call.
    using PictureHandler = std::function<void(std::size_t index, const VideoPicture* picture)>;

    /// Takes the pictures of the first video track shown at exactly each of `instants`
    /// (seconds from the start, in any order, repeats allowed), turned by the preferred
    /// transform and scaled to exactly `width` × `height`, and hands each to `handler`: once
    /// per instant, in any order, one call at a time (possibly on other threads). Returns after
    /// the last call. The picture shown at an instant is the last one whose presentation time
    /// is not later than it (the first picture for an instant before it), never a nearby key
    /// frame.
    virtual void copyPictures(std::span<const double> instants, int width, int height,
                              const PictureHandler& handler) = 0;
};

/// Opens video files.
class VideoFiles {
  public:
    virtual ~VideoFiles() = default;
    /// The asset of the file at `path`. Never fails here: a file that cannot be read fails its
    /// loads.
    virtual std::unique_ptr<VideoAsset> openAsset(const std::string& path) = 0;
};

}  // namespace pelko::phone
