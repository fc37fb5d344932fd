#include "copy-png-command.h"

#include <fcntl.h>

#include <algorithm>
#include <array>

#include "fd.h"
#include "output.h"

namespace pelko::phone {

namespace {

constexpr std::array<std::uint8_t, 8> pngSignature = {0x89, 0x50, 0x4E, 0x47,
                                                      0x0D, 0x0A, 0x1A, 0x0A};

/// The whole file; nothing when it cannot be read.
std::optional<std::vector<std::uint8_t>> readWholeFile(const std::string& path) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) return {};
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    for (;;) {
        auto got = readSome(file.get(), chunk, sizeof chunk);
        if (!got) return {};
        if (got.value() == 0) return bytes;
        bytes.insert(bytes.end(), chunk, chunk + got.value());
    }
}

}  // namespace

bool hasPNGSignature(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() >= pngSignature.size() &&
           std::equal(pngSignature.begin(), pngSignature.end(), bytes.begin());
}

void runCopyPNG(Platform& platform, const std::string& path) {
    auto fail = [&](const std::string& message) {
        log(platform.errorFd, message);
        platform.exitProcess(1);
    };
    const std::string unreadable = "cannot read an image at " + path;
    if (!path.starts_with("/")) return fail(unreadable);
    std::optional<std::vector<std::uint8_t>> file = readWholeFile(path);
    if (!file || file->empty()) return fail(unreadable);
    std::optional<DecodedImage> image = platform.images.decodeImage(*file);
    if (!image) return fail(unreadable);
    std::optional<std::vector<std::uint8_t>> tiff = platform.images.tiffRendition(*image);
    if (!tiff) return fail(unreadable);

    std::vector<std::uint8_t> png;
    if (hasPNGSignature(*file)) {
        png = std::move(*file);
    } else {
        std::optional<std::vector<std::uint8_t>> converted = platform.images.pngRendition(*image);
        if (!converted) return fail("cannot convert " + path + " to PNG");
        png = std::move(*converted);
    }
    image.reset();  // the pixels are not needed while the pasteboard holds the files

    std::vector<PasteboardItem> items;
    items.push_back({pngPasteboardType, std::move(png)});
    items.push_back({tiffPasteboardType, std::move(*tiff)});
    if (!platform.pasteboard.replaceContents(items)) {
        return fail("the pasteboard refused the image");
    }
    platform.exitProcess(0);
}

}  // namespace pelko::phone
