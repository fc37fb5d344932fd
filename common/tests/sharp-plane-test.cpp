// Sharp plane shrinking: the vector loops against the plain ones, and the filter's response:
// detail the smaller plane can hold is kept, detail it cannot hold is removed, not aliased.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "sharp-plane.h"

namespace pelko::pictures {
namespace {

struct Plane {
    int width = 0, height = 0;
    std::vector<std::uint8_t> samples;
    std::uint8_t at(int x, int y) const { return samples[std::size_t(y) * width + x]; }
};

template <typename Paint>
Plane paint(int width, int height, Paint value) {
    Plane plane{width, height, std::vector<std::uint8_t>(std::size_t(width) * height)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            plane.samples[std::size_t(y) * width + x] =
                static_cast<std::uint8_t>(std::clamp(value(x, y), 0, 255));
    return plane;
}

Plane shrink(const Plane& source, int width, int height) {
    Plane out{width, height, std::vector<std::uint8_t>(std::size_t(width) * height)};
    SharpPlaneScaler scaler;
    EXPECT_TRUE(scaler.scale(source.samples.data(), source.width, source.width, source.height,
                             out.samples.data(), width, width, height));
    return out;
}

/// The ratio of the output's to the source's spread of values about their means: how much of
/// a pattern survives.
double contrastKept(const Plane& source, const Plane& out) {
    const auto spread = [](const Plane& plane, int margin) {
        double sum = 0, squares = 0;
        int n = 0;
        for (int y = margin; y < plane.height - margin; ++y) {
            for (int x = margin; x < plane.width - margin; ++x) {
                const double v = plane.at(x, y);
                sum += v;
                squares += v * v;
                ++n;
            }
        }
        return std::sqrt(squares / n - (sum / n) * (sum / n));
    };
    return spread(out, 8) / spread(source, 0);
}

TEST(SharpPlane, VectorLoopsGiveExactlyThePlainLoopsSums) {
    // Noise with runs of black and white, so that sums go below 0 and above 255 and the
    // vector loops' packing must clamp them; widths that are not whole vectors, and narrower
    // than one; factors whole (by phases) and not, and none.
    std::uint32_t state = 99;
    const auto noise = [&](int x, int) {
        state = state * 1664525 + 1013904223;
        return (x / 3) % 4 == 0 ? int(state >> 24) : ((x / 5) % 2) * 255;
    };
    for (const auto& [from, to] : {std::pair{2880, 1440},
                                   {2880, 1024},
                                   {2880, 720},
                                   {1800, 900},
                                   {333, 100},
                                   {150, 75},
                                   {61, 37},
                                   {40, 10},
                                   {64, 64}}) {
        const std::string what = std::to_string(from) + " to " + std::to_string(to);
        const Plane rows = paint(70, from, [&](int x, int y) { return noise(y, x); });
        const Taps rowTaps = lanczosTaps(from, to);
        std::vector<std::uint8_t> fastest(70 * std::size_t(to)), plain(fastest.size());
        filterRows(rows.samples.data(), 70, 70, rowTaps, fastest.data(), 70);
        filterRows(rows.samples.data(), 70, 70, rowTaps, plain.data(), 70, Loops::plain);
        EXPECT_EQ(fastest, plain) << "rows, " << what;

        const Plane columns = paint(from, 3, noise);
        for (int multiple : {1, 16}) {
            const Taps columnTaps = lanczosTaps(from, to, multiple);
            fastest.assign(std::size_t(to) * 3, 0);
            plain.assign(fastest.size(), 1);
            filterColumns(columns.samples.data(), from, from, 3, columnTaps, fastest.data(), to);
            filterColumns(columns.samples.data(), from, from, 3, columnTaps, plain.data(), to,
                          Loops::plain);
            EXPECT_EQ(fastest, plain) << "columns in runs of " << multiple << ", " << what;
        }
    }
}

TEST(SharpPlane, EvenAreasKeepTheirValueUpToTheEdges) {
    for (const auto& [width, height, toWidth, toHeight] : {std::array{2880, 1800, 1440, 900},
                                                           {2880, 1800, 1024, 640},
                                                           {2880, 1800, 720, 450},
                                                           {97, 45, 13, 44},
                                                           {5, 5, 1, 1},
                                                           {40, 40, 40, 20}}) {
        for (int value : {0, 128, 255}) {
            const Plane out =
                shrink(paint(width, height, [&](int, int) { return value; }), toWidth, toHeight);
            for (std::uint8_t sample : out.samples) {
                ASSERT_EQ(sample, value)
                    << width << "x" << height << " to " << toWidth << "x" << toHeight;
            }
        }
    }
}

TEST(SharpPlane, KeepsDetailTheSmallerPlaneHoldsAndRemovesWhatItCannot) {
    // Waves across the rows, then down the columns, at a fraction of the smaller plane's
    // highest frequency (half a cycle per output sample). Well below it a wave passes almost
    // whole (a box average keeps 95 % of the slowest one at 2:1 and less of the others; the
    // filter's ripple may raise one by a few per cent);
    // above it, the wave must fade rather than come back as a slower false one, which a
    // box keeps at a third of its strength.
    for (const auto& [from, to] : {std::pair{2880, 1440}, {2880, 1024}, {2880, 720}}) {
        for (const auto& [fraction, lowest, highest] :
             {std::array{0.2, 0.97, 1.02}, {0.5, 0.85, 1.05}, {1.6, 0.0, 0.06}}) {
            const double cycles = fraction * 0.5 * to / from;  // per source sample
            const auto wave = [&](int t) {
                return int(std::lround(128 + 100 * std::sin(2 * std::numbers::pi * cycles * t)));
            };
            const std::string what = std::to_string(from) + " to " + std::to_string(to) + " at " +
                                     std::to_string(fraction);
            const Plane across = paint(from, 64, [&](int x, int) { return wave(x); });
            const double kept = contrastKept(across, shrink(across, to, 32));
            EXPECT_GE(kept, lowest) << "across, " << what;
            EXPECT_LE(kept, highest) << "across, " << what;
            const Plane down = paint(64, from, [&](int, int y) { return wave(y); });
            const double keptDown = contrastKept(down, shrink(down, 32, to));
            EXPECT_NEAR(keptDown, kept, 0.02) << "down, " << what;
        }
    }
}

}  // namespace
}  // namespace pelko::pictures
