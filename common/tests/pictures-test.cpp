// The picture pipeline: exact sizes, colours and range, the quality scale, Base64.
#include <turbojpeg.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "base64.h"
#include "jpeg-encoder.h"

namespace pelko::pictures {
namespace {

using Colour = std::array<int, 3>;  // red, green, blue

/// A bitmap painted by `paint(x, y)` in the given byte order, rows padded by `padding` bytes.
struct Bitmap {
    std::vector<std::uint8_t> bytes;
    Pixels pixels;

    template <typename Paint>
    Bitmap(int width, int height, PixelOrder order, Paint paint, int padding = 0) {
        const int stride = width * 4 + padding;
        bytes.assign(static_cast<std::size_t>(stride) * height, 0xEE);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const Colour c = paint(x, y);
                std::uint8_t* p = bytes.data() + static_cast<std::size_t>(y) * stride + x * 4;
                const bool bgra = order == PixelOrder::bgra;
                p[0] = static_cast<std::uint8_t>(bgra ? c[2] : c[0]);
                p[1] = static_cast<std::uint8_t>(c[1]);
                p[2] = static_cast<std::uint8_t>(bgra ? c[0] : c[2]);
                p[3] = 255;
            }
        }
        pixels = {width, height, stride, order, bytes.data()};
    }
};

struct Decoded {
    int width = 0, height = 0, subsampling = -1;
    std::vector<unsigned char> rgb;
    Colour at(int x, int y) const {
        const unsigned char* p = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
        return {p[0], p[1], p[2]};
    }
};

Decoded decode(const std::vector<std::uint8_t>& jpeg) {
    Decoded out;
    tjhandle handle = tjInitDecompress();
    int colorspace = 0;
    if (tjDecompressHeader3(handle, jpeg.data(), jpeg.size(), &out.width, &out.height,
                            &out.subsampling, &colorspace) == 0) {
        out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
        if (tjDecompress2(handle, jpeg.data(), jpeg.size(), out.rgb.data(), out.width, 0,
                          out.height, TJPF_RGB, 0) != 0) {
            out.rgb.clear();
        }
    }
    tjDestroy(handle);
    return out;
}

void expectNear(const Colour& seen, const Colour& wanted, int tolerance, const std::string& what) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(seen[i], wanted[i], tolerance)
            << what << " channel " << i << ": " << seen[0] << "," << seen[1] << "," << seen[2];
    }
}

TEST(JPEGEncoder, MakesExactlyTheAskedSizeOddOnesIncluded) {
    const Bitmap picture(117, 253, PixelOrder::bgra, [](int x, int y) {
        return Colour{x % 256, y % 256, (x + y) % 256};
    });
    JPEGEncoder encoder;
    for (Shrinking shrinking : {Shrinking::fast, Shrinking::sharp}) {
        for (const auto& [w, h] : {std::pair{1, 1},
                                   {3, 5},
                                   {59, 128},
                                   {58, 127},
                                   {117, 253},
                                   {116, 1},
                                   {1, 253},
                                   {301, 411}}) {
            auto jpeg = encoder.encode(picture.pixels, w, h, 0.7, shrinking);
            ASSERT_TRUE(jpeg) << w << "x" << h;
            const Decoded seen = decode(*jpeg);
            EXPECT_EQ(seen.width, w);
            EXPECT_EQ(seen.height, h);
            EXPECT_EQ(seen.subsampling, TJSAMP_420) << w << "x" << h;
            EXPECT_FALSE(seen.rgb.empty());
        }
    }
}

TEST(JPEGEncoder, KeepsColoursInEitherByteOrderAndPaddedRows) {
    // Four quadrants: red, green, blue, and an orange that tells red from blue.
    const auto quadrants = [](int x, int y) {
        if (y < 32) return x < 32 ? Colour{255, 0, 0} : Colour{0, 255, 0};
        return x < 32 ? Colour{0, 0, 255} : Colour{250, 150, 20};
    };
    JPEGEncoder encoder;
    for (PixelOrder order : {PixelOrder::bgra, PixelOrder::rgba}) {
        const Bitmap picture(64, 64, order, quadrants, 12);
        // Unscaled, box and bilinear, then Lanczos at a half and at three quarters.
        for (const auto& [size, shrinking] : {std::pair{64, Shrinking::fast},
                                              {32, Shrinking::fast},
                                              {48, Shrinking::fast},
                                              {32, Shrinking::sharp},
                                              {48, Shrinking::sharp}}) {
            auto jpeg = encoder.encode(picture.pixels, size, size, 0.9, shrinking);
            ASSERT_TRUE(jpeg);
            const Decoded seen = decode(*jpeg);
            const std::string what = (order == PixelOrder::bgra ? "bgra " : "rgba ") +
                                     std::to_string(size) +
                                     (shrinking == Shrinking::sharp ? " sharp" : "");
            const int near = size / 8, far = size - 1 - size / 8;
            expectNear(seen.at(near, near), {255, 0, 0}, 12, what + " red");
            expectNear(seen.at(far, near), {0, 255, 0}, 12, what + " green");
            expectNear(seen.at(near, far), {0, 0, 255}, 12, what + " blue");
            expectNear(seen.at(far, far), {250, 150, 20}, 12, what + " orange");
        }
    }
}

TEST(JPEGEncoder, BlackAndWhiteKeepTheirFullRangeAcrossChangesOfSize) {
    const Bitmap picture(64, 64, PixelOrder::bgra, [](int x, int) {
        return x < 32 ? Colour{0, 0, 0} : Colour{255, 255, 255};
    });
    JPEGEncoder encoder;
    for (const auto& [w, h] : {std::pair{64, 64}, {32, 32}, {48, 40}, {16, 16}, {64, 64}}) {
        auto jpeg = encoder.encode(picture.pixels, w, h, 1.0);
        ASSERT_TRUE(jpeg);
        const Decoded seen = decode(*jpeg);
        for (int channel : seen.at(1, h / 2)) EXPECT_LE(channel, 4) << w;
        for (int channel : seen.at(w - 2, h / 2)) EXPECT_GE(channel, 251) << w;
    }
}

TEST(JPEGEncoder, ShrinkingAveragesEveryPixel) {
    // One white column in every `factor`: only averaging whole boxes gives an even grey; a
    // scaler that samples a few pixels gives black or white stripes.
    JPEGEncoder encoder;
    for (int factor : {2, 3, 4, 5}) {
        const Bitmap stripes(60 * factor, 30 * factor, PixelOrder::bgra, [&](int x, int) {
            return x % factor ? Colour{0, 0, 0} : Colour{255, 255, 255};
        });
        auto jpeg = encoder.encode(stripes.pixels, 60, 30, 1.0);
        ASSERT_TRUE(jpeg);
        const Decoded seen = decode(*jpeg);
        const int grey = 255 / factor;
        for (int y = 1; y < 30; y += 7) {
            for (int x = 1; x < 59; x += 5) {
                expectNear(seen.at(x, y), {grey, grey, grey}, 4,
                           "factor " + std::to_string(factor));
            }
        }
    }
    // By less than two (the phone's 1170 to 590): alternating columns are an even grey, not
    // the beats that sampling two neighbours at a drifting offset makes of them.
    const Bitmap alternating(390, 60, PixelOrder::bgra, [](int x, int) {
        return x % 2 ? Colour{0, 0, 0} : Colour{255, 255, 255};
    });
    auto near = encoder.encode(alternating.pixels, 200, 30, 1.0);
    ASSERT_TRUE(near);
    const Decoded nearSeen = decode(*near);
    for (int y = 1; y < 30; y += 7) {
        for (int x = 1; x < 199; x += 3) expectNear(nearSeen.at(x, y), {127, 127, 127}, 6, "1.95");
    }
    // At a factor that is not whole, noise keeps no more contrast than a box average leaves.
    std::uint32_t state = 12345;
    const Bitmap noise(440, 440, PixelOrder::rgba, [&](int, int) {
        state = state * 1664525 + 1013904223;
        const int v = state >> 24;
        return Colour{v, v, v};
    });
    auto jpeg = encoder.encode(noise.pixels, 200, 200, 1.0);
    ASSERT_TRUE(jpeg);
    const Decoded seen = decode(*jpeg);
    double sum = 0, squares = 0;
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 200; ++x) {
            const double v = seen.at(x, y)[1];
            sum += v;
            squares += v * v;
        }
    }
    const double mean = sum / 40000, deviation = std::sqrt(squares / 40000 - mean * mean);
    // Noise of deviation 74 averaged over 2.2 × 2.2 pixels: about 34; sampling: 50 or more.
    EXPECT_LT(deviation, 40);
}

TEST(JPEGEncoder, ReusedBuffersLeaveNoTraceInTheNextPicture) {
    const Bitmap first(90, 70, PixelOrder::rgba, [](int x, int y) {
        return Colour{x * 2, y * 3, 128};
    });
    const Bitmap second(300, 200, PixelOrder::bgra, [](int x, int y) {
        return Colour{255 - x % 256, 40, y};
    });
    for (Shrinking shrinking : {Shrinking::fast, Shrinking::sharp}) {
        JPEGEncoder encoder;
        auto once = encoder.encode(first.pixels, 45, 35, 0.72, shrinking);
        ASSERT_TRUE(encoder.encode(second.pixels, 299, 201, 0.3, shrinking));
        ASSERT_TRUE(encoder.encode(second.pixels, 20, 10, 0.95, shrinking));
        ASSERT_TRUE(encoder.encode(second.pixels, 150, 100, 0.95, shrinking));
        auto again = encoder.encode(first.pixels, 45, 35, 0.72, shrinking);
        ASSERT_TRUE(once && again);
        EXPECT_EQ(*once, *again);
        JPEGEncoder fresh;
        EXPECT_EQ(fresh.encode(first.pixels, 45, 35, 0.72, shrinking), once);
    }
}

TEST(JPEGEncoder, RefusesPicturesItCannotRead) {
    const Bitmap picture(8, 8, PixelOrder::bgra, [](int, int) { return Colour{1, 2, 3}; });
    JPEGEncoder encoder;
    Pixels shortRows = picture.pixels;
    shortRows.bytesPerRow = 8 * 4 - 1;
    Pixels noData = picture.pixels;
    noData.data = nullptr;
    Pixels empty = picture.pixels;
    empty.height = 0;
    EXPECT_FALSE(encoder.encode(shortRows, 8, 8, 0.5));
    EXPECT_FALSE(encoder.encode(noData, 8, 8, 0.5));
    EXPECT_FALSE(encoder.encode(empty, 8, 8, 0.5));
    EXPECT_FALSE(encoder.encode(picture.pixels, 0, 8, 0.5));
    EXPECT_FALSE(encoder.encode(picture.pixels, 8, 70000, 0.5));
    EXPECT_TRUE(encoder.encode(picture.pixels, 8, 8, 0.5));
}

/// The sum of the luminance quantisation table a JPEG carries (the first one it defines).
int luminanceTableSum(const std::vector<std::uint8_t>& jpeg) {
    for (std::size_t i = 2; i + 4 < jpeg.size();) {
        if (jpeg[i] != 0xFF) return -1;
        const int marker = jpeg[i + 1];
        const std::size_t length = jpeg[i + 2] << 8 | jpeg[i + 3];
        if (marker == 0xDB && i + 5 + 64 <= jpeg.size() && (jpeg[i + 4] >> 4) == 0) {
            int sum = 0;
            for (int k = 0; k < 64; ++k) sum += jpeg[i + 5 + k];
            return sum;
        }
        i += 2 + length;
    }
    return -1;
}

/// The same sum as libjpeg scales its standard luminance table for a 1..100 quality.
int scaledStandardTableSum(int quality) {
    static constexpr int standard[64] = {
        16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
        14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
        18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
        49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
    const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    int sum = 0;
    for (int value : standard) sum += std::clamp((value * scale + 50) / 100, 1, 255);
    return sum;
}

TEST(JPEGEncoder, QualityMapsOntoTheEncodersPercentScale) {
    EXPECT_EQ(jpegQuality(0.72), 72);
    EXPECT_EQ(jpegQuality(0.7), 70);
    EXPECT_EQ(jpegQuality(0.726), 73);
    EXPECT_EQ(jpegQuality(1.0), 100);
    EXPECT_EQ(jpegQuality(0.0), 1);
    EXPECT_EQ(jpegQuality(-3), 1);
    EXPECT_EQ(jpegQuality(7), 100);
    EXPECT_EQ(jpegQuality(std::nan("")), 1);

    // And that percentage is what the encoder writes into the picture.
    const Bitmap picture(32, 32, PixelOrder::bgra, [](int x, int y) {
        return Colour{x * 8, y * 8, 60};
    });
    JPEGEncoder encoder;
    for (double quality : {0.0, 0.3, 0.72, 1.0}) {
        auto jpeg = encoder.encode(picture.pixels, 32, 32, quality);
        ASSERT_TRUE(jpeg);
        EXPECT_EQ(luminanceTableSum(*jpeg), scaledStandardTableSum(jpegQuality(quality)))
            << quality;
    }
}

TEST(Base64, EncodesTheStandardAlphabetWithPaddingAndNoLineBreaks) {
    const auto encoded = [](std::string text) {
        return base64({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    };
    EXPECT_EQ(encoded(""), "");
    EXPECT_EQ(encoded("f"), "Zg==");
    EXPECT_EQ(encoded("fo"), "Zm8=");
    EXPECT_EQ(encoded("foo"), "Zm9v");
    EXPECT_EQ(encoded("foob"), "Zm9vYg==");
    EXPECT_EQ(encoded("fooba"), "Zm9vYmE=");
    EXPECT_EQ(encoded("foobar"), "Zm9vYmFy");
    const std::vector<std::uint8_t> high = {0xFB, 0xFF, 0xBF, 0x00, 0xFF};
    EXPECT_EQ(base64(high), "+/+/AP8=");

    const std::vector<std::uint8_t> long_(3000, 0xA5);
    const std::string text = base64(long_);
    EXPECT_EQ(text.size(), 4000u);
    EXPECT_EQ(text.find_first_not_of("paWl"), std::string::npos);
}

TEST(Base64, DecodesWhatItEncodesAndRefusesAnythingElse) {
    std::vector<std::uint8_t> bytes;
    for (int length = 0; length < 12; ++length) {
        EXPECT_EQ(decodeBase64(base64(bytes)), bytes) << length << " bytes";
        bytes.push_back(static_cast<std::uint8_t>(length * 97 + 200));
    }
    EXPECT_EQ(decodeBase64("+/+/AP8="), (std::vector<std::uint8_t>{0xFB, 0xFF, 0xBF, 0x00, 0xFF}));
    for (const char* bad :
         {"Zg=", "Zm9", "Zg==Zg==", "Z===", "====", "Zm9v!A==", "Zm 9v", "Zm9v\n", "Zm9-"}) {
        EXPECT_FALSE(decodeBase64(bad)) << bad;
    }
}

}  // namespace
}  // namespace pelko::pictures
