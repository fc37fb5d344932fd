// Video files read with FFmpeg: any container and codec it can open.
#pragma once

#include <memory>
#include <string>

#include "platform/video.h"

namespace pelko::phone::linux_backend {

/// Opens videos with FFmpeg. Pictures are taken on up to `threads` threads at once, each with
/// its own reader and decoder (0: one per processor).
class FFmpegVideoFiles final : public VideoFiles {
  public:
    explicit FFmpegVideoFiles(unsigned threads = 0);
    std::unique_ptr<VideoAsset> openAsset(const std::string& path) override;

  private:
    unsigned threads_;
};

/// The picture turn of a video's display matrix, snapped to quarter turns and mirrorings: a
/// stored pixel at (x, y) (y downward) is shown at (a x + c y, b x + d y), moved back into the
/// picture. Matrices that are not such a turn count as none.
struct QuarterTurn {
    int a = 1, b = 0, c = 0, d = 1;
    /// Whether the turn swaps width and height.
    bool swapsSides() const { return a == 0; }
    bool operator==(const QuarterTurn&) const = default;
};
QuarterTurn quarterTurnOf(const AffineTransform& transform);

/// `source` (32-bit pixels, `width` × `height`, rows `sourceStride` bytes apart) turned by
/// `turn` into `into`, whose rows are `intoStride` bytes apart and whose sides are swapped
/// when the turn swaps them.
void turnPixels(const std::uint8_t* source, int width, int height, int sourceStride,
                QuarterTurn turn, std::uint8_t* into, int intoStride);

}  // namespace pelko::phone::linux_backend
