// The small steps of the legibility benchmark (bench/picture-legibility.sh), one per command:
//
//   pelko-picture-legibility picture <window.ppm> <maxWidth> <out.jpg>
//       the window picture as the screenshot method makes it (size, scaler, quality), as a JPEG
//       file; prints its width and height as "WxH"
//   pelko-picture-legibility psnr <window.ppm> <picture.jpg>
//       PSNR in dB of the JPEG against a Lanczos downscale of the window to the JPEG's size
//   pelko-picture-legibility words <reference.txt> <seen.txt>
//       word accuracy of an OCR reading against a reference reading, in percent of the
//       reference's words (punctuation at their ends dropped, case kept), twice: the words
//       found in any order (each word of the reading counted once), and the words found in
//       order (the longest common subsequence). The order of blocks on a busy window depends on
//       how the reader splits the page, which a picture's last grey level can change.
#include <libyuv/convert_argb.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "picture-quality.h"
#include "screenshot.h"

namespace {

/// A window's pixels in BGRA, as a capture delivers them.
struct Window {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgra;
};

std::optional<std::vector<std::uint8_t>> readFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
}

/// A binary 8-bit PPM ("P6"), as ImageMagick writes one, in BGRA.
std::optional<Window> readPPM(const char* path) {
    const auto bytes = readFile(path);
    if (!bytes) return std::nullopt;
    const std::string head(bytes->begin(),
                           bytes->begin() + std::min<std::size_t>(bytes->size(), 64));
    int width = 0, height = 0, maxValue = 0, length = 0;
    if (std::sscanf(head.c_str(), "P6 %d %d %d%n", &width, &height, &maxValue, &length) != 3 ||
        maxValue != 255 || width < 1 || height < 1 ||
        bytes->size() < std::size_t(length) + 1 + std::size_t(width) * height * 3)
        return std::nullopt;
    Window window{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 4)};
    // libyuv's "RAW" is red, green, blue in memory; its "ARGB" is blue, green, red, alpha.
    libyuv::RAWToARGB(bytes->data() + length + 1, width * 3, window.bgra.data(), width * 4, width,
                      height);
    return window;
}

int picture(const char* ppm, const char* maxWidth, const char* out) {
    const auto window = readPPM(ppm);
    if (!window) return std::fprintf(stderr, "%s: no 8-bit binary PPM\n", ppm), 1;
    const auto size = pelko::computer::pictureSize(
        {{0, 0}, {double(window->width), double(window->height)}}, std::atoll(maxWidth));
    pelko::pictures::JPEGEncoder encoder;
    const auto jpeg = encoder.encode({window->width, window->height, window->width * 4,
                                      pelko::pictures::PixelOrder::bgra, window->bgra.data()},
                                     size.width, size.height, pelko::computer::screenshotQuality,
                                     pelko::pictures::Shrinking::sharp);
    if (!jpeg) return std::fprintf(stderr, "%s: did not encode\n", ppm), 1;
    std::ofstream(out, std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg->data()), std::streamsize(jpeg->size()));
    std::printf("%dx%d\n", size.width, size.height);
    return 0;
}

int psnr(const char* ppm, const char* jpegPath) {
    const auto window = readPPM(ppm);
    const auto jpeg = readFile(jpegPath);
    const auto seen = jpeg ? pelko::bench::decodeJPEG(*jpeg) : std::nullopt;
    if (!window || !seen) return std::fprintf(stderr, "unreadable pictures\n"), 1;
    const auto reference =
        pelko::bench::lanczosReference(window->bgra.data(), window->width, window->height,
                                       window->width * 4, seen->width, seen->height);
    const auto value = pelko::bench::psnr(*seen, reference);
    if (!value) return std::fprintf(stderr, "no reference\n"), 1;
    std::printf("%.2f\n", *value);
    return 0;
}

/// The words of an OCR reading: runs between white space, with what is neither a letter nor a
/// digit cut from both ends; runs with no letter or digit left are dropped.
std::vector<std::string> words(const std::vector<std::uint8_t>& text) {
    std::vector<std::string> out;
    std::istringstream stream(std::string(text.begin(), text.end()));
    // Bytes of multi-byte UTF-8 characters count as letters, so "café" stays whole.
    const auto wordy = [](unsigned char c) { return std::isalnum(c) || c >= 0x80; };
    for (std::string word; stream >> word;) {
        const auto first = std::find_if(word.begin(), word.end(), wordy);
        const auto last = std::find_if(word.rbegin(), word.rend(), wordy).base();
        if (first < last) out.emplace_back(first, last);
    }
    return out;
}

/// The length of the longest common subsequence of two word lists.
std::size_t commonWords(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    std::vector<std::size_t> row(b.size() + 1, 0), next(b.size() + 1, 0);
    for (const auto& word : a) {
        for (std::size_t j = 0; j < b.size(); ++j)
            next[j + 1] = word == b[j] ? row[j] + 1 : std::max(row[j + 1], next[j]);
        std::swap(row, next);
    }
    return row.back();
}

/// How many words the two lists share, in any order, each word of either counted once.
std::size_t sharedWords(std::vector<std::string> a, std::vector<std::string> b) {
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    std::vector<std::string> both;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(both));
    return both.size();
}

int wordAccuracy(const char* referencePath, const char* seenPath) {
    const auto reference = readFile(referencePath), seen = readFile(seenPath);
    if (!reference || !seen) return std::fprintf(stderr, "unreadable text\n"), 1;
    const auto expected = words(*reference);
    if (expected.empty()) return std::fprintf(stderr, "%s: no words\n", referencePath), 1;
    const auto found = words(*seen);
    std::printf("%.1f %.1f\n",
                100.0 * double(sharedWords(expected, found)) / double(expected.size()),
                100.0 * double(commonWords(expected, found)) / double(expected.size()));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "picture" && argc == 5) return picture(argv[2], argv[3], argv[4]);
    if (command == "psnr" && argc == 4) return psnr(argv[2], argv[3]);
    if (command == "words" && argc == 4) return wordAccuracy(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: pelko-picture-legibility picture <window.ppm> <maxWidth> <out.jpg>\n"
                 "       pelko-picture-legibility psnr <window.ppm> <picture.jpg>\n"
                 "       pelko-picture-legibility words <reference.txt> <seen.txt>\n");
    return 2;
}
