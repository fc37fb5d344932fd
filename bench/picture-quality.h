// What the picture benchmarks share: the quality of a JPEG against a Lanczos downscale of the
// same picture (PSNR), medians of repeated runs, and running on one core.
#pragma once

#include <sched.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pelko::bench {

/// An RGB picture, 3 bytes per pixel, rows packed.
struct RGBPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

/// The BGRA picture scaled to `width` × `height` with libswscale's Lanczos filter, in RGB: the
/// reference every scaled picture is measured against.
RGBPicture lanczosReference(const std::uint8_t* bgra, int sourceWidth, int sourceHeight,
                            int bytesPerRow, int width, int height);

/// A JPEG decoded to RGB by TurboJPEG; nothing when it does not decode.
std::optional<RGBPicture> decodeJPEG(const std::vector<std::uint8_t>& jpeg);

/// The JPEGs one after another in a stream (ffmpeg's image2pipe), split at their end markers.
std::vector<std::vector<std::uint8_t>> splitJPEGStream(const std::vector<std::uint8_t>& stream);

/// Peak signal-to-noise ratio in dB over every colour sample of two pictures of one size;
/// nothing when the sizes differ.
std::optional<double> psnr(const RGBPicture& seen, const RGBPicture& reference);

/// The median of the values (the mean of the middle two for an even count); 0 when empty.
double median(std::vector<double> values);

/// CPU time the calling thread has used, in seconds: the measure that the machine's other
/// load changes least.
double threadCPUSeconds();
/// CPU time of the finished child processes (and theirs) waited for so far, in seconds.
double childrenCPUSeconds();

/// Runs the calling thread (and the processes it starts) on one core; returns the former set.
cpu_set_t pinToOneCore();

/// The load averages of the machine over 1, 5 and 15 minutes, as /proc/loadavg gives them.
std::string loadAverages();

}  // namespace pelko::bench
