// Helpers for the tests and the benchmark of `frames` and `copy-png`: videos and pictures made
// with the ffmpeg command, videos whose pictures carry their own number, and reading sheets and
// pictures back. No test framework here, so that the benchmark can use it too.
#pragma once

#include <turbojpeg.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "child-process.h"

namespace pelko::phone::testing {

/// The full path of the program `name` found on PATH (the test helper starts programs by path);
/// `name` itself when it is not found.
inline std::string onPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= folders.size();) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        const std::filesystem::path candidate =
            std::filesystem::path(folders.substr(start, end - start)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
        start = end + 1;
    }
    return name;
}

/// Runs the ffmpeg command with `arguments` (after "-nostdin -v error -y"); whether it
/// succeeded. Its messages go to `messages` when given.
inline bool runFFmpeg(const std::vector<std::string>& arguments, std::string* messages = nullptr,
                      std::chrono::milliseconds limit = std::chrono::minutes(5)) {
    std::vector<std::string> argv = {onPath("ffmpeg"), "-nostdin", "-v", "error", "-y"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    pelko::testing::ChildOptions options;
    options.nullStdin = true;
    pelko::testing::ChildProcess ffmpeg(argv, options);
    ffmpeg.readToEnd(limit);
    const auto status = ffmpeg.waitExit(limit);
    if (messages) *messages = ffmpeg.stderrText();
    return status && status->exited && status->code == 0;
}

/// The file `name` in a folder of test media that test processes share and keep between runs
/// (under the system's temporary folder), made by `make` (which writes the path it is given)
/// when it is not there yet; nothing when it cannot be made. The recipes are fixed, so a file
/// once made is the same for every run; a new recipe needs a new name.
inline std::optional<std::filesystem::path> cachedMedia(
    const std::string& name, const std::function<bool(const std::filesystem::path&)>& make) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "pelko-phone-test-media";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::filesystem::path file = folder / name;
    if (std::filesystem::exists(file)) return file;
    // Made under a name of this process's own (keeping the extension, which names the format
    // for ffmpeg) and renamed when complete, so that no process sees half a file.
    const std::filesystem::path partial =
        folder / ("partial-" + std::to_string(::getpid()) + "-" + name);
    if (!make(partial)) {
        std::filesystem::remove(partial, error);
        return {};
    }
    std::filesystem::rename(partial, file, error);
    if (error) return {};
    return file;
}

/// A picture for the copy-png tests, made once (see `cachedMedia`): "picture.png" (ffmpeg's
/// test pattern, 320 × 180) and the same picture as "picture.jpg", ".bmp", ".tiff", ".gif" and
/// ".webp"; "glass.webp" (64 × 48, half-transparent red); "noise.png" (1280 × 720 of noise,
/// about 1.2 MB, far larger than one X request). Nothing for another name or when ffmpeg fails;
/// its messages go to `messages`.
inline std::optional<std::filesystem::path> testPicture(const std::string& name,
                                                        std::string* messages = nullptr) {
    auto encode = [&](std::vector<std::string> arguments) {
        return [arguments, messages](const std::filesystem::path& into) {
            std::vector<std::string> all = arguments;
            all.push_back(into.string());
            return runFFmpeg(all, messages);
        };
    };
    if (name == "picture.png") {
        return cachedMedia(
            name, encode({"-f", "lavfi", "-i", "testsrc2=s=320x180:d=1", "-frames:v", "1"}));
    }
    if (name.starts_with("picture.")) {
        auto png = testPicture("picture.png", messages);
        if (!png) return {};
        return cachedMedia(name, encode({"-i", png->string()}));
    }
    if (name == "glass.webp") {
        return cachedMedia(name, encode({"-f", "lavfi", "-i", "color=c=red@0.5:s=64x48,format=rgba",
                                         "-frames:v", "1"}));
    }
    if (name == "noise.png") {
        return cachedMedia(
            name, encode({"-f", "lavfi", "-i", "nullsrc=s=1280x720,geq=random(1)*255:128:128",
                          "-frames:v", "1"}));
    }
    return {};
}

/// The number of bits of a picture's counter band.
inline constexpr int counterBits = 16;

/// An ffmpeg filter graph for a `width` × `height` video of `seconds` at `fps` whose bottom
/// `band` rows show the picture's number as 16 black or white blocks, lowest bit on the left,
/// under ffmpeg's moving test pattern (which also prints the number and the time).
inline std::string counterVideoGraph(int width, int height, int fps, double seconds, int band) {
    const std::string rate = ":r=" + std::to_string(fps) + ":d=" + std::to_string(seconds);
    return "testsrc2=s=" + std::to_string(width) + "x" + std::to_string(height - band) + rate +
           "[pattern];nullsrc=s=16x1" + rate +
           ",format=gray,geq=lum='255*mod(floor(N/pow(2\\,X))\\,2)'[bits];[bits]scale=" +
           std::to_string(width) + ":" + std::to_string(band) +
           ":flags=neighbor[band];[pattern][band]vstack,format=yuv420p";
}

/// A decoded picture with 8-bit R, G, B samples, rows top first, no padding.
struct RGBPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;

    const std::uint8_t* at(int x, int y) const {
        return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
    }
    /// The mean of the three samples at (x, y).
    int luma(int x, int y) const {
        const std::uint8_t* p = at(x, y);
        return (p[0] + p[1] + p[2]) / 3;
    }
};

/// A JPEG decoded with TurboJPEG; nothing when it is not one.
inline std::optional<RGBPicture> decodeJPEG(const std::string& jpeg) {
    tjhandle handle = tjInitDecompress();
    if (!handle) return {};
    RGBPicture picture;
    int subsampling = 0, colorspace = 0;
    const auto* data = reinterpret_cast<const unsigned char*>(jpeg.data());
    bool ok = tjDecompressHeader3(handle, data, jpeg.size(), &picture.width, &picture.height,
                                  &subsampling, &colorspace) == 0;
    if (ok) {
        picture.rgb.resize(static_cast<std::size_t>(picture.width) * picture.height * 3);
        ok = tjDecompress2(handle, data, jpeg.size(), picture.rgb.data(), picture.width, 0,
                           picture.height, TJPF_RGB, 0) == 0;
    }
    tjDestroy(handle);
    if (!ok) return {};
    return picture;
}

/// Any picture file decoded by the ffmpeg command into raw RGB; nothing when it cannot.
inline std::optional<RGBPicture> decodeWithFFmpeg(const std::filesystem::path& file,
                                                  const std::filesystem::path& scratch) {
    const std::filesystem::path raw = scratch / "decoded.rgb";
    std::string messages;
    if (!runFFmpeg({"-i", file.string(), "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24",
                    raw.string()},
                   &messages)) {
        return {};
    }
    // The size, from a second run that prints it.
    pelko::testing::ChildOptions options;
    options.nullStdin = true;
    pelko::testing::ChildProcess probe(
        {onPath("ffprobe"), "-v", "error", "-select_streams", "v:0", "-show_entries",
         "stream=width,height", "-of", "csv=p=0", file.string()},
        options);
    const std::string size = probe.readToEnd();
    probe.waitExit();
    RGBPicture picture;
    if (std::sscanf(size.c_str(), "%d,%d", &picture.width, &picture.height) != 2) return {};
    const std::string bytes = pelko::testing::readFile(raw);
    if (bytes.size() != static_cast<std::size_t>(picture.width) * picture.height * 3) return {};
    picture.rgb.assign(bytes.begin(), bytes.end());
    return picture;
}

/// The number shown by the counter band of a picture drawn into the rectangle `x`, `y`,
/// `width`, `height` of `sheet`, whose band is the bottom `bandShare` of its height: each
/// block is read at its centre.
inline unsigned readCounter(const RGBPicture& sheet, int x, int y, int width, int height,
                            double bandShare) {
    const int row = y + height - static_cast<int>(height * bandShare / 2);
    unsigned number = 0;
    for (int bit = 0; bit < counterBits; ++bit) {
        const int column = x + static_cast<int>((bit + 0.5) * width / counterBits);
        if (sheet.luma(column, row) > 128) number |= 1u << bit;
    }
    return number;
}

/// Rewrites the display matrix of the first track of the MP4 file at `path` to a quarter turn
/// clockwise, as a phone held upright records; false when the file has no track header.
inline bool turnQuarterClockwise(const std::filesystem::path& path, int storedHeight) {
    std::string bytes = pelko::testing::readFile(path);
    const std::size_t header = bytes.find("tkhd");
    if (header == std::string::npos) return false;
    const bool version1 = bytes[header + 4] == 1;
    // After the version and flags: times, track, reserved, duration, reserved, layer, group,
    // volume, reserved; then the nine matrix values.
    const std::size_t matrix = header + 8 + (version1 ? 32 : 20) + 8 + 8;
    const std::int32_t values[9] = {0, 0x10000,   0, -0x10000, 0, 0, storedHeight << 16,
                                    0, 0x40000000};
    for (int i = 0; i < 9; ++i) {
        const auto value = static_cast<std::uint32_t>(values[i]);
        for (int b = 0; b < 4; ++b) {
            bytes[matrix + i * 4 + b] = static_cast<char>((value >> (24 - 8 * b)) & 0xFF);
        }
    }
    pelko::testing::writeFile(path, bytes);
    return true;
}

/// Overwrites every byte of the media data of the MP4 file at `path` with zeros, so that its
/// header still reads while none of its pictures decodes; false when it has none.
inline bool eraseMediaData(const std::filesystem::path& path) {
    std::string bytes = pelko::testing::readFile(path);
    const std::size_t box = bytes.find("mdat");
    if (box == std::string::npos || box < 4) return false;
    const auto* size = reinterpret_cast<const unsigned char*>(bytes.data() + box - 4);
    const std::size_t length =
        (std::size_t{size[0]} << 24) | (size[1] << 16) | (size[2] << 8) | size[3];
    if (length < 8 || box - 4 + length > bytes.size()) return false;
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(box + 4),
              bytes.begin() + static_cast<std::ptrdiff_t>(box - 4 + length), '\0');
    pelko::testing::writeFile(path, bytes);
    return true;
}

}  // namespace pelko::phone::testing
