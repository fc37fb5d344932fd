// A one-shot window picture, for the benchmark against ImageMagick: reads a binary PPM (P6,
// 8 bits), scales it as the screenshot method does to at most `maxWidth` pixels wide, encodes
// the JPEG at the pictures' quality and writes its Base64 to standard output.
//
//   pelko-picture-oneshot <picture.ppm> <maxWidth>
//
// Most of a one-shot's time goes into reaching big buffers for the first time, so the file is
// mapped rather than copied, and the full-size bitmap sits in memory advised for huge pages.
#include <fcntl.h>
#include <libyuv/convert_argb.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "base64.h"
#include "fd.h"
#include "screenshot.h"

namespace {

/// A private anonymous or file mapping, unmapped at the end.
class Mapping {
  public:
    Mapping(void* address, std::size_t size) : address_(address), size_(size) {}
    ~Mapping() {
        if (valid()) munmap(address_, size_);
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    bool valid() const { return address_ != MAP_FAILED && address_ != nullptr; }
    std::uint8_t* bytes() const { return static_cast<std::uint8_t*>(address_); }
    std::size_t size() const { return size_; }

  private:
    void* address_;
    std::size_t size_;
};

constexpr std::size_t hugePage = 2 << 20;

int fail(const char* message, const char* path) {
    std::fprintf(stderr, "pelko-picture-oneshot: %s%s\n", path, message);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pelko-picture-oneshot <picture.ppm> <maxWidth>\n");
        return 2;
    }
    const pelko::FileDescriptor file(open(argv[1], O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (!file.valid() || fstat(file.get(), &status) != 0) return fail(": cannot be read", argv[1]);
    const Mapping input(mmap(nullptr, static_cast<std::size_t>(status.st_size), PROT_READ,
                             MAP_PRIVATE | MAP_POPULATE, file.get(), 0),
                        static_cast<std::size_t>(status.st_size));
    if (!input.valid()) return fail(": cannot be mapped", argv[1]);

    // The header: "P6", width, height, 255, each after white space, then one white space.
    int width = 0, height = 0, maxValue = 0, headerLength = 0;
    const std::string_view text(reinterpret_cast<const char*>(input.bytes()),
                                std::min<std::size_t>(input.size(), 64));
    if (std::sscanf(std::string(text).c_str(), "P6 %d %d %d%n", &width, &height, &maxValue,
                    &headerLength) != 3 ||
        maxValue != 255 || width < 1 || height < 1 ||
        input.size() < headerLength + 1 + std::size_t(width) * height * 3)
        return fail(" is no 8-bit binary PPM", argv[1]);
    const std::uint8_t* rgb = input.bytes() + headerLength + 1;

    const std::size_t bitmapSize = std::size_t(width) * height * 4;
    const Mapping room(mmap(nullptr, bitmapSize + hugePage, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0),
                       bitmapSize + hugePage);
    if (!room.valid()) return fail(": no memory for its bitmap", argv[1]);
    auto* bgra = reinterpret_cast<std::uint8_t*>(
        (reinterpret_cast<std::uintptr_t>(room.bytes()) + hugePage - 1) & ~(hugePage - 1));
    madvise(bgra, bitmapSize, MADV_HUGEPAGE);
    // libyuv's "RAW" is red, green, blue in memory; its "ARGB" is blue, green, red, alpha.
    if (libyuv::RAWToARGB(rgb, width * 3, bgra, width * 4, width, height) != 0)
        return fail(" could not be converted", argv[1]);

    const auto size = pelko::computer::pictureSize({{0, 0}, {double(width), double(height)}},
                                                   std::atoll(argv[2]));
    pelko::pictures::JPEGEncoder encoder;
    const auto jpeg = encoder.encode(
        {width, height, width * 4, pelko::pictures::PixelOrder::bgra, bgra}, size.width,
        size.height, pelko::computer::screenshotQuality, pelko::pictures::Shrinking::sharp);
    if (!jpeg) return fail(" did not encode", argv[1]);
    return pelko::writeAll(1, pelko::pictures::base64(*jpeg)) ? 0 : 1;
}
