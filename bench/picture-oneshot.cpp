// A one-shot window picture, for the benchmark against ImageMagick: reads a binary PPM (P6,
// 8 bits), scales it as the screenshot method does to at most `maxWidth` pixels wide, encodes
// the JPEG and writes its Base64 to standard output.
//
//   pelko-picture-oneshot <picture.ppm> <maxWidth>
#include <libyuv/convert_argb.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "fd.h"
#include "screenshot.h"

namespace {

using pelko::computer::WindowImage;

/// The picture in the file as BGRA; nothing when it is no 8-bit binary PPM.
std::optional<WindowImage> readPPM(const char* path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), &std::fclose);
    int width = 0, height = 0, maxValue = 0;
    if (!file || std::fscanf(file.get(), "P6 %d %d %d", &width, &height, &maxValue) != 3 ||
        maxValue != 255 || width < 1 || height < 1 || std::fgetc(file.get()) == EOF)
        return std::nullopt;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    std::unique_ptr<std::uint8_t[]> rgb(new std::uint8_t[rowBytes * height]);
    if (std::fread(rgb.get(), rowBytes, height, file.get()) != static_cast<std::size_t>(height))
        return std::nullopt;
    WindowImage image{width, height, width * 4, {}};
    image.pixels.resize(static_cast<std::size_t>(image.bytesPerRow) * height);
    // libyuv's "RAW" is red, green, blue in memory; its "ARGB" is blue, green, red, alpha.
    if (libyuv::RAWToARGB(rgb.get(), static_cast<int>(rowBytes), image.pixels.data(),
                          image.bytesPerRow, width, height) != 0)
        return std::nullopt;
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pelko-picture-oneshot <picture.ppm> <maxWidth>\n");
        return 2;
    }
    const auto image = readPPM(argv[1]);
    if (!image) {
        std::fprintf(stderr, "pelko-picture-oneshot: %s is no 8-bit binary PPM\n", argv[1]);
        return 1;
    }
    const auto size = pelko::computer::pictureSize(
        {{0, 0}, {double(image->width), double(image->height)}}, std::atoll(argv[2]));
    pelko::pictures::JPEGEncoder encoder;
    const auto data = pelko::computer::pictureData(encoder, *image, size.width, size.height);
    if (!data) {
        std::fprintf(stderr, "pelko-picture-oneshot: the picture did not encode\n");
        return 1;
    }
    return pelko::writeAll(1, *data) ? 0 : 1;
}
