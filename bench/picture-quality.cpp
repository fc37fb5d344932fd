#include "picture-quality.h"

#include <sys/resource.h>
#include <time.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace pelko::bench {

RGBPicture lanczosReference(const std::uint8_t* bgra, int sourceWidth, int sourceHeight,
                            int bytesPerRow, int width, int height) {
    RGBPicture out{width, height, {}};
    std::unique_ptr<SwsContext, void (*)(SwsContext*)> scaler(
        sws_getContext(sourceWidth, sourceHeight, AV_PIX_FMT_BGRA, width, height, AV_PIX_FMT_RGB24,
                       SWS_LANCZOS | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr,
                       nullptr),
        sws_freeContext);
    if (!scaler) return out;
    out.rgb.resize(static_cast<std::size_t>(width) * height * 3);
    const std::uint8_t* source[1] = {bgra};
    const int sourceStride[1] = {bytesPerRow};
    std::uint8_t* destination[1] = {out.rgb.data()};
    const int destinationStride[1] = {width * 3};
    if (sws_scale(scaler.get(), source, sourceStride, 0, sourceHeight, destination,
                  destinationStride) != height)
        out.rgb.clear();
    return out;
}

std::optional<RGBPicture> decodeJPEG(const std::vector<std::uint8_t>& jpeg) {
    std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitDecompress(), tjDestroy);
    RGBPicture out;
    int subsampling = 0, colorspace = 0;
    if (!handle || tjDecompressHeader3(handle.get(), jpeg.data(), jpeg.size(), &out.width,
                                       &out.height, &subsampling, &colorspace) != 0)
        return std::nullopt;
    out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
    if (tjDecompress2(handle.get(), jpeg.data(), jpeg.size(), out.rgb.data(), out.width, 0,
                      out.height, TJPF_RGB, 0) != 0)
        return std::nullopt;
    return out;
}

std::vector<std::vector<std::uint8_t>> splitJPEGStream(const std::vector<std::uint8_t>& stream) {
    // Inside entropy-coded data every 0xFF is followed by 0x00 or a restart marker, so the end
    // marker 0xFF 0xD9 appears only at the end of each picture.
    std::vector<std::vector<std::uint8_t>> pictures;
    std::size_t start = 0;
    for (std::size_t i = 0; i + 1 < stream.size(); ++i) {
        if (stream[i] == 0xFF && stream[i + 1] == 0xD9) {
            pictures.emplace_back(stream.begin() + static_cast<long>(start),
                                  stream.begin() + static_cast<long>(i + 2));
            start = i + 2;
            ++i;
        }
    }
    return pictures;
}

std::optional<double> psnr(const RGBPicture& seen, const RGBPicture& reference) {
    if (seen.width != reference.width || seen.height != reference.height ||
        seen.rgb.size() != reference.rgb.size() || seen.rgb.empty())
        return std::nullopt;
    double squares = 0;
    for (std::size_t i = 0; i < seen.rgb.size(); ++i) {
        const double d = double(seen.rgb[i]) - double(reference.rgb[i]);
        squares += d * d;
    }
    const double mse = squares / double(seen.rgb.size());
    if (mse == 0) return 99.0;
    return 10 * std::log10(255.0 * 255.0 / mse);
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double threadCPUSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double childrenCPUSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

cpu_set_t pinToOneCore() {
    cpu_set_t former, set;
    sched_getaffinity(0, sizeof former, &former);
    CPU_ZERO(&set);
    CPU_SET(0, &set);
    sched_setaffinity(0, sizeof set, &set);
    return former;
}

std::string loadAverages() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

}  // namespace pelko::bench
