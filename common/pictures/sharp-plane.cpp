#include "sharp-plane.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PELKO_AVX2 1
#endif
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

namespace pelko::pictures {

namespace {

constexpr int lobes = 3;
constexpr int half = 1 << (weightBits - 1);

double lanczos(double x) {
    if (x == 0) return 1;
    if (std::abs(x) >= lobes) return 0;
    const double px = std::numbers::pi * x;
    return lobes * std::sin(px) * std::sin(px / lobes) / (px * px);
}

std::uint8_t clampSample(int sum) {
    return static_cast<std::uint8_t>(std::clamp(sum >> weightBits, 0, 255));
}

void filterRowPlain(const std::uint8_t* const* rows, const std::int16_t* weights, int count,
                    int width, std::uint8_t* out) {
    for (int x = 0; x < width; ++x) {
        int sum = half;
        for (int k = 0; k < count; ++k) sum += weights[k] * rows[k][x];
        out[x] = clampSample(sum);
    }
}

void filterColumnsPlain(const std::uint8_t* row, const Taps& taps, int begin, int end,
                        std::uint8_t* out) {
    for (int i = begin; i < end; ++i) {
        const std::uint8_t* samples = row + taps.first[i];
        const std::int16_t* weights = taps.weights.data() + std::size_t(i) * taps.count;
        int sum = half;
        for (int k = 0; k < taps.count; ++k) sum += weights[k] * samples[k];
        out[i] = clampSample(sum);
    }
}

#ifdef PELKO_AVX2
bool haveAVX2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}

/// One output row, 32 samples at a time; false, having written nothing, when the row is
/// narrower than that. Taps go in pairs, the two rows' samples interleaved as 16-bit values,
/// so that one multiply-add weighs both into a 32-bit sum. Unpacking and packing both work
/// within each 128-bit half, so the samples come out in their order.
__attribute__((target("avx2"))) bool filterRowAVX2(const std::uint8_t* const* rows,
                                                   const std::int16_t* weights, int count,
                                                   int width, std::uint8_t* out) {
    if (count > 128 || width < 32) return false;
    const int pairs = (count + 1) / 2;
    __m256i pairWeights[64];
    const std::uint8_t* pairRows[128];
    for (int p = 0; p < pairs; ++p) {
        const int a = 2 * p, b = std::min(2 * p + 1, count - 1);
        const int wa = weights[a], wb = b == a ? 0 : weights[b];
        pairWeights[p] = _mm256_set1_epi32((wa & 0xFFFF) | (wb & 0xFFFF) << 16);
        pairRows[2 * p] = rows[a];
        pairRows[2 * p + 1] = rows[b];
    }
    const __m256i zero = _mm256_setzero_si256(), rounding = _mm256_set1_epi32(half);
    // The last block overlaps the one before it rather than running past the row's end.
    for (int x = 0;; x += 32) {
        if (x + 32 > width) x = width - 32;
        __m256i sums[4] = {rounding, rounding, rounding, rounding};
        for (int p = 0; p < pairs; ++p) {
            const __m256i a =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pairRows[2 * p] + x));
            const __m256i b =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pairRows[2 * p + 1] + x));
            const __m256i low = _mm256_unpacklo_epi8(a, b), high = _mm256_unpackhi_epi8(a, b);
            const __m256i w = pairWeights[p];
            sums[0] =
                _mm256_add_epi32(sums[0], _mm256_madd_epi16(_mm256_unpacklo_epi8(low, zero), w));
            sums[1] =
                _mm256_add_epi32(sums[1], _mm256_madd_epi16(_mm256_unpackhi_epi8(low, zero), w));
            sums[2] =
                _mm256_add_epi32(sums[2], _mm256_madd_epi16(_mm256_unpacklo_epi8(high, zero), w));
            sums[3] =
                _mm256_add_epi32(sums[3], _mm256_madd_epi16(_mm256_unpackhi_epi8(high, zero), w));
        }
        for (auto& sum : sums) sum = _mm256_srai_epi32(sum, weightBits);
        // Signed packing to 16 bits, then unsigned to 8: negative sums become 0, large 255.
        const __m256i packed = _mm256_packus_epi16(_mm256_packs_epi32(sums[0], sums[1]),
                                                   _mm256_packs_epi32(sums[2], sums[3]));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), packed);
        if (x + 32 == width) break;
    }
    return true;
}

/// One output row, eight samples at a time: each output's run of source samples is read as 16
/// at a time, weighed by one multiply-add, and the eight outputs' partial sums are added
/// together across the vectors.
__attribute__((target("avx2"))) void filterColumnsAVX2(const std::uint8_t* row, const Taps& taps,
                                                       int outWidth, std::uint8_t* out) {
    const int blocks = taps.count / 16;
    const __m256i rounding = _mm256_set1_epi32(half);
    int i = 0;
    for (; i + 8 <= outWidth; i += 8) {
        __m256i sums[8];
        for (int j = 0; j < 8; ++j) {
            const std::uint8_t* samples = row + taps.first[i + j];
            const std::int16_t* weights = taps.weights.data() + std::size_t(i + j) * taps.count;
            __m256i sum = _mm256_setzero_si256();
            for (int b = 0; b < blocks; ++b) {
                const __m256i values = _mm256_cvtepu8_epi16(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + 16 * b)));
                sum = _mm256_add_epi32(
                    sum,
                    _mm256_madd_epi16(values, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(
                                                  weights + 16 * b))));
            }
            sums[j] = sum;
        }
        // Pairwise sums leave output j's two half-vector totals in lanes j (low half) and
        // j - 4 (high half) of two vectors; adding the halves gives all eight in order.
        const __m256i h01 = _mm256_hadd_epi32(sums[0], sums[1]),
                      h23 = _mm256_hadd_epi32(sums[2], sums[3]);
        const __m256i h45 = _mm256_hadd_epi32(sums[4], sums[5]),
                      h67 = _mm256_hadd_epi32(sums[6], sums[7]);
        const __m256i q0 = _mm256_hadd_epi32(h01, h23), q1 = _mm256_hadd_epi32(h45, h67);
        __m256i total = _mm256_add_epi32(_mm256_permute2x128_si256(q0, q1, 0x20),
                                         _mm256_permute2x128_si256(q0, q1, 0x31));
        total = _mm256_srai_epi32(_mm256_add_epi32(total, rounding), weightBits);
        const __m256i words = _mm256_packs_epi32(total, total);
        const __m256i bytes = _mm256_packus_epi16(words, words);
        const int low = _mm_cvtsi128_si32(_mm256_castsi256_si128(bytes));
        const int high = _mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1));
        std::copy_n(reinterpret_cast<const std::uint8_t*>(&low), 4, out + i);
        std::copy_n(reinterpret_cast<const std::uint8_t*>(&high), 4, out + i + 4);
    }
    filterColumnsPlain(row, taps, i, outWidth, out);
}
#endif

int roundUp(int value, int multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

}  // namespace

Taps lanczosTaps(int from, int to, int multiple) {
    Taps taps;
    const double scale = double(from) / to, stretch = std::max(scale, 1.0);
    const double support = lobes * stretch;
    const auto firstOf = [&](double centre) { return int(std::floor(centre - support)) + 1; };
    int span = 0;  // the most source samples any output's filter covers
    for (int i = 0; i < to; ++i) {
        const double centre = (i + 0.5) * scale - 0.5;
        span = std::max(span, int(std::ceil(centre + support)) - 1 - firstOf(centre) + 1);
    }
    taps.count = span > from                       ? from
                 : roundUp(span, multiple) <= from ? roundUp(span, multiple)
                                                   : span;
    taps.first.resize(to);
    taps.weights.assign(std::size_t(taps.count) * to, 0);
    std::vector<double> exact(taps.count);
    // Outputs `period` apart sit at the same place between source samples, so away from the
    // edges they weigh alike: the weights are worked out once a period (once in all at a whole
    // factor), not once an output.
    const int period = to / std::gcd(from, to);
    std::vector<int> firsts(to);
    const auto inside = [&](int first) {
        return first >= 0 && first + std::max(span, taps.count) <= from;
    };
    for (int i = 0; i < to; ++i) {
        const double centre = (i + 0.5) * scale - 0.5;
        const int first = firsts[i] = firstOf(centre);
        // The run starts at the first sample inside the source, early enough to end inside it.
        const int start = std::clamp(first, 0, from - taps.count);
        taps.first[i] = start;
        if (i >= period && inside(first) && inside(firsts[i - period])) {
            std::copy_n(taps.weights.data() + std::size_t(i - period) * taps.count, taps.count,
                        taps.weights.data() + std::size_t(i) * taps.count);
            continue;
        }
        std::fill(exact.begin(), exact.end(), 0.0);
        double total = 0;
        for (int k = 0; k < span; ++k) {
            const double weight = lanczos((first + k - centre) / stretch);
            exact[std::clamp(first + k, 0, from - 1) - start] += weight;
            total += weight;
        }
        // Whole-number weights that sum to exactly one, the rounding put on the largest, so
        // that an even area keeps its value.
        std::int16_t* weights = taps.weights.data() + std::size_t(i) * taps.count;
        int sum = 0, largest = 0;
        for (int k = 0; k < taps.count; ++k) {
            weights[k] =
                static_cast<std::int16_t>(std::lround(exact[k] / total * (1 << weightBits)));
            sum += weights[k];
            if (weights[k] > weights[largest]) largest = k;
        }
        weights[largest] = static_cast<std::int16_t>(weights[largest] + (1 << weightBits) - sum);
    }
    return taps;
}

/// One output row from `count` source rows: the fastest loop that can, else the plain one.
void filterRow(const std::uint8_t* const* rows, const std::int16_t* weights, int count, int width,
               std::uint8_t* out, Loops loops) {
#ifdef PELKO_AVX2
    if (loops == Loops::fastest && haveAVX2() && filterRowAVX2(rows, weights, count, width, out))
        return;
#endif
    filterRowPlain(rows, weights, count, width, out);
}

void filterRows(const RowsFor& rowsFor, int width, const Taps& taps, std::uint8_t* out,
                int outStride, Loops loops) {
    std::vector<const std::uint8_t*> rows(taps.count);
    for (std::size_t i = 0; i < taps.first.size(); ++i) {
        rowsFor(taps.first[i], taps.count, rows.data());
        filterRow(rows.data(), taps.weights.data() + i * taps.count, taps.count, width,
                  out + i * outStride, loops);
    }
}

void filterRows(const std::uint8_t* source, int stride, int width, const Taps& taps,
                std::uint8_t* out, int outStride, Loops loops) {
    filterRows(
        [&](int first, int count, const std::uint8_t** rows) {
            for (int k = 0; k < count; ++k) rows[k] = source + std::size_t(first + k) * stride;
        },
        width, taps, out, outStride, loops);
}

namespace {

/// Every `factor`th sample of `row` from `phase` on, for each phase: `factor` runs of `length`.
void splitPhases(const std::uint8_t* row, int factor, int length, std::uint8_t* phases) {
    int j = 0;
#ifdef __SSE2__
    if (factor == 2) {
        const __m128i evenBytes = _mm_set1_epi16(0x00FF);
        for (; j + 16 <= length; j += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 2 * j));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 2 * j + 16));
            _mm_storeu_si128(
                reinterpret_cast<__m128i*>(phases + j),
                _mm_packus_epi16(_mm_and_si128(a, evenBytes), _mm_and_si128(b, evenBytes)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(phases + length + j),
                             _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8)));
        }
    }
#endif
    for (; j < length; ++j)
        for (int r = 0; r < factor; ++r) phases[std::size_t(r) * length + j] = row[factor * j + r];
}

int floorDivide(int a, int b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

}  // namespace

ColumnFilter::ColumnFilter(int width, const Taps& taps, Loops loops)
    : taps_(taps), loops_(loops), outWidth_(int(taps.first.size())), rows_(taps.count) {
    if (outWidth_ == 0) return;
    // Shrinking by a whole factor, the outputs away from the edges weigh the same run of
    // samples `factor` apart: split into phases, each tap is one phase shifted, and the row
    // loop (vectors along the row) does the sums.
    factor_ = width / outWidth_;
    const int middle = outWidth_ / 2;
    offset_ = taps.first[middle] - factor_ * middle;
    middleWeights_ = taps.weights.data() + std::size_t(middle) * taps.count;
    const auto regular = [&](int i) {
        return taps.first[i] == factor_ * i + offset_ &&
               std::equal(middleWeights_, middleWeights_ + taps.count,
                          taps.weights.data() + std::size_t(i) * taps.count);
    };
    begin_ = end_ = middle;
    if (factor_ >= 2 && factor_ <= 8 && width == factor_ * outWidth_) {
        while (begin_ > 0 && regular(begin_ - 1)) --begin_;
        while (end_ < outWidth_ && regular(end_)) ++end_;
    }
    if (end_ > begin_) phases_.resize(std::size_t(width));
}

void ColumnFilter::filter(const std::uint8_t* row, std::uint8_t* out) {
    if (outWidth_ == 0) return;
    if (end_ > begin_) {
        splitPhases(row, factor_, outWidth_, phases_.data());
        for (int k = 0; k < taps_.count; ++k) {
            const int t = offset_ + k, phase = t - factor_ * floorDivide(t, factor_);
            rows_[k] =
                phases_.data() + std::size_t(phase) * outWidth_ + floorDivide(t, factor_) + begin_;
        }
        filterRow(rows_.data(), middleWeights_, taps_.count, end_ - begin_, out + begin_, loops_);
        filterColumnsPlain(row, taps_, 0, begin_, out);
        filterColumnsPlain(row, taps_, end_, outWidth_, out);
        return;
    }
#ifdef PELKO_AVX2
    if (loops_ == Loops::fastest && haveAVX2() && taps_.count % 16 == 0) {
        filterColumnsAVX2(row, taps_, outWidth_, out);
        return;
    }
#endif
    filterColumnsPlain(row, taps_, 0, outWidth_, out);
}

void filterColumns(const std::uint8_t* source, int stride, int width, int height, const Taps& taps,
                   std::uint8_t* out, int outStride, Loops loops) {
    ColumnFilter columns(width, taps, loops);
    for (int y = 0; y < height; ++y)
        columns.filter(source + std::size_t(y) * stride, out + std::size_t(y) * outStride);
}

bool SharpPlaneScaler::scale(const std::uint8_t* source, int stride, int width, int height,
                             std::uint8_t* out, int outStride, int toWidth, int toHeight) {
    return scale(
        [&](int first, int count, const std::uint8_t** rows) {
            for (int k = 0; k < count; ++k) rows[k] = source + std::size_t(first + k) * stride;
        },
        width, height, out, outStride, toWidth, toHeight);
}

bool SharpPlaneScaler::scale(const RowsFor& rowsFor, int width, int height, std::uint8_t* out,
                             int outStride, int toWidth, int toHeight) {
    if (width < 1 || height < 1 || toWidth < 1 || toHeight < 1) return false;
    if (rowsFrom_ != height || rowsTo_ != toHeight) {
        rowTaps_ = lanczosTaps(height, toHeight);
        rowsFrom_ = height;
        rowsTo_ = toHeight;
    }
    if (columnsFrom_ != width || columnsTo_ != toWidth) {
        // Whole factors go by phases, the others by runs of whole 16-sample vectors.
        columnTaps_ = lanczosTaps(width, toWidth, width % toWidth == 0 ? 1 : 16);
        columnsFrom_ = width;
        columnsTo_ = toWidth;
    }
    // Rows first, the costlier column pass then runs on the shorter picture; each filtered row
    // goes through the columns at once, while it is still in the cache.
    row_.resize(std::size_t(width));
    ColumnFilter columns(width, columnTaps_);
    std::vector<const std::uint8_t*> rows(rowTaps_.count);
    for (int i = 0; i < toHeight; ++i) {
        rowsFor(rowTaps_.first[i], rowTaps_.count, rows.data());
        filterRow(rows.data(), rowTaps_.weights.data() + std::size_t(i) * rowTaps_.count,
                  rowTaps_.count, width, row_.data(), Loops::fastest);
        columns.filter(row_.data(), out + std::size_t(i) * outStride);
    }
    return true;
}

}  // namespace pelko::pictures
