// Sharp shrinking of one 8-bit plane: a Lanczos filter three lobes wide, the filter image
// editors shrink with, fast enough to run on every window picture. libswscale has the filter
// but takes five to ten times as long on a 2880-pixel-wide picture.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "scratch.h"

namespace pelko::pictures {

/// Weights are whole numbers out of 1 << weightBits: fine steps for 8-bit samples, and small
/// enough that a weight fits 16 bits and a sum of 8-bit samples 32.
constexpr int weightBits = 14;

/// The source samples that make each output sample along one direction, and how much each
/// counts: output i reads `count` samples from `first[i]` on, weighed by the `count` weights
/// from `weights[i × count]`, which sum to 1 << weightBits. Samples past an edge are folded
/// onto the edge sample, so every run lies within the source.
struct Taps {
    int count = 0;
    std::vector<int> first;
    std::vector<std::int16_t> weights;
};

/// The Lanczos-3 taps that shrink (or keep) `from` samples to `to`: output i is centred on
/// source position (i + 0.5) × from / to − 0.5, and when shrinking the filter is stretched by
/// from / to so that it averages every source sample. `count` is rounded up to a multiple of
/// `multiple` with zero weights (a vector loop's width), as long as the run still fits in
/// `from`.
Taps lanczosTaps(int from, int to, int multiple = 1);

/// Which loops do the sums: the fastest the processor has, or plain C++ (the reference the
/// vector loops must match exactly).
enum class Loops { fastest, plain };

/// Gives the rows `first` to `first + count − 1` of a plane: points `rows[k]` at row
/// `first + k`. Asked once for each output row, in order, with `first` never smaller than the
/// time before; a row need stay only until the next call asks for rows past it.
using RowsFor = std::function<void(int first, int count, const std::uint8_t** rows)>;

/// Output row i of `out` (`width` samples, rows `outStride` apart) is the sum of the source
/// rows `taps` names for it, weighed, rounded and kept within 0..255.
void filterRows(const RowsFor& rowsFor, int width, const Taps& taps, std::uint8_t* out,
                int outStride, Loops loops = Loops::fastest);
/// The same, of a plane in memory whose rows are `stride` apart.
void filterRows(const std::uint8_t* source, int stride, int width, const Taps& taps,
                std::uint8_t* out, int outStride, Loops loops = Loops::fastest);

/// Output column i of `out` (`height` rows) is the sum of the source columns (of `width`) that
/// `taps` names for it, weighed, rounded and kept within 0..255.
void filterColumns(const std::uint8_t* source, int stride, int width, int height, const Taps& taps,
                   std::uint8_t* out, int outStride, Loops loops = Loops::fastest);

/// Filters the columns of one row after another by the same taps, set up once.
class ColumnFilter {
  public:
    /// For rows of `width` samples; `taps` must outlive the filter.
    ColumnFilter(int width, const Taps& taps, Loops loops = Loops::fastest);
    /// Output sample i of `out` is the sum of the samples of `row` that the taps name for it.
    void filter(const std::uint8_t* row, std::uint8_t* out);

  private:
    const Taps& taps_;
    Loops loops_;
    int outWidth_ = 0, factor_ = 0, offset_ = 0, begin_ = 0, end_ = 0;
    const std::int16_t* middleWeights_ = nullptr;
    std::vector<std::uint8_t> phases_;  // a row split into its phases (whole factors)
    std::vector<const std::uint8_t*> rows_;
};

/// Scales planes. Keeps its taps and its buffer for the next plane of the same sizes. One
/// thread at a time.
class SharpPlaneScaler {
  public:
    /// `source` (`width` × `height`, rows `stride` apart) scaled to `toWidth` × `toHeight`
    /// into `out` (rows `outStride` apart), with Lanczos-3 in both directions. False when a
    /// size is below 1.
    bool scale(const std::uint8_t* source, int stride, int width, int height, std::uint8_t* out,
               int outStride, int toWidth, int toHeight);
    /// The same, of a plane whose rows `rowsFor` makes as they are needed.
    bool scale(const RowsFor& rowsFor, int width, int height, std::uint8_t* out, int outStride,
               int toWidth, int toHeight);

  private:
    Taps rowTaps_, columnTaps_;
    int rowsFrom_ = 0, rowsTo_ = 0, columnsFrom_ = 0, columnsTo_ = 0;
    Scratch row_;  // one output row, filtered down the columns only
};

}  // namespace pelko::pictures
