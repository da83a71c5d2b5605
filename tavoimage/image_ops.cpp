// Geometric operations of tavoimage: resizing, rotation about a centre,
// mirroring and border-replicating crops. The filters are described at each
// function and in include/tavoimage.h.
//
// Every operation works for 1, 3 and 4 channels, treats the channels alike
// (alpha is not premultiplied), computes its result into a new Image and only
// then replaces the destination, so that source == destination is allowed and
// a failure changes nothing.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <thread>
#include <type_traits>
#include <utility>

#include <omp.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#define TAVOIMAGE_TURN_WIDE 1
#endif
#endif

#include "frame/kernel_level.h"
#include "frame/vector_lanes.h"
#include "tavoimage/image_table.h"

namespace tavoimage {
namespace {

// Rounds a filtered value to the nearest byte, halves upwards.
inline uint8_t roundToByte(float value) {
    const float shifted = value + 0.5f;
    if (!(shifted > 0.0f)) return 0;
    if (shifted >= 255.0f) return 255;
    return static_cast<uint8_t>(shifted);
}

inline uint8_t roundToByte(double value) {
    const double shifted = value + 0.5;
    if (!(shifted > 0.0)) return 0;
    if (shifted >= 255.0) return 255;
    return static_cast<uint8_t>(shifted);
}

// One axis of a separable resize: destination index i is the weighted sum of
// the source indices first[i] .. first[i] + count[i] - 1, with the weights
// weights[offset[i]] .. weights[offset[i] + count[i] - 1] (summing to 1).
struct AxisFilter {
    std::vector<int32_t> first;
    std::vector<int32_t> count;
    std::vector<int32_t> offset;
    std::vector<float> weights;

    void add(int32_t firstIndex, std::initializer_list<float> taps) {
        first.push_back(firstIndex);
        count.push_back(static_cast<int32_t>(taps.size()));
        offset.push_back(static_cast<int32_t>(weights.size()));
        weights.insert(weights.end(), taps);
    }
};

// Shrinking: an exact box filter. Destination pixel i covers the source
// interval [i s, (i + 1) s) with s = sourceSize / destinationSize; each
// source pixel j weighs the length of its overlap [j, j + 1) with that
// interval, divided by s.
AxisFilter areaAverageFilter(int32_t sourceSize, int32_t destinationSize) {
    AxisFilter filter;
    const double scale = static_cast<double>(sourceSize) / destinationSize;
    for (int32_t i = 0; i < destinationSize; ++i) {
        // Products of integers first, so that the interval ends are exact
        // whenever the division is.
        const double start = static_cast<double>(static_cast<int64_t>(i) * sourceSize) / destinationSize;
        const double end = i + 1 == destinationSize
                               ? static_cast<double>(sourceSize)
                               : static_cast<double>(static_cast<int64_t>(i + 1) * sourceSize) / destinationSize;
        const int32_t firstIndex = static_cast<int32_t>(std::floor(start));
        const int32_t lastIndex = std::min(static_cast<int32_t>(std::ceil(end)) - 1, sourceSize - 1);
        filter.first.push_back(firstIndex);
        filter.offset.push_back(static_cast<int32_t>(filter.weights.size()));
        for (int32_t j = firstIndex; j <= lastIndex; ++j) {
            const double overlap = std::min(end, j + 1.0) - std::max(start, static_cast<double>(j));
            filter.weights.push_back(static_cast<float>(std::max(overlap, 0.0) / scale));
        }
        filter.count.push_back(lastIndex - firstIndex + 1);
    }
    return filter;
}

// Enlarging: linear interpolation with pixel centres aligned, the source
// position of destination index i being (i + 0.5) s - 0.5 with
// s = sourceSize / destinationSize; positions before the first or after the
// last source centre take that pixel alone.
AxisFilter linearFilter(int32_t sourceSize, int32_t destinationSize) {
    AxisFilter filter;
    for (int32_t i = 0; i < destinationSize; ++i) {
        const double position = (i + 0.5) * sourceSize / destinationSize - 0.5;
        if (position <= 0.0) {
            filter.add(0, {1.0f});
        } else if (position >= sourceSize - 1) {
            filter.add(sourceSize - 1, {1.0f});
        } else {
            const int32_t left = static_cast<int32_t>(std::floor(position));
            const double fraction = position - left;
            filter.add(left, {static_cast<float>(1.0 - fraction), static_cast<float>(fraction)});
        }
    }
    return filter;
}

AxisFilter identityFilter(int32_t size) {
    AxisFilter filter;
    for (int32_t i = 0; i < size; ++i) filter.add(i, {1.0f});
    return filter;
}

// Per axis: area averaging when that axis shrinks, linear interpolation when
// it grows, a plain copy when it keeps its size.
AxisFilter axisFilter(int32_t sourceSize, int32_t destinationSize) {
    if (destinationSize < sourceSize) return areaAverageFilter(sourceSize, destinationSize);
    if (destinationSize > sourceSize) return linearFilter(sourceSize, destinationSize);
    return identityFilter(sourceSize);
}

// Large images are worked in bands of kBandRows rows (the turn's destination
// rows, the resize's source rows), handed out one at a time to the calling
// thread and helpers: as many threads in all as OpenMP would use (so
// OMP_NUM_THREADS applies), from kThreadPixels pixels up. Plain std::threads rather than an OpenMP loop, whose idle
// workers spin after the region (see the renderer's bands). Nothing in a band
// allocates or throws; a helper that cannot start leaves its share to the
// others.
constexpr int64_t kThreadPixels = int64_t{1} << 18;
constexpr int32_t kBandRows = 32;

template <class Rows>
void inBands(int32_t width, int32_t height, const Rows &rows) {
    const int32_t bands = (height + kBandRows - 1) / kBandRows;
    const int threads = static_cast<int64_t>(width) * height >= kThreadPixels
                            ? std::clamp(omp_get_max_threads(), 1, std::max(bands, 1))
                            : 1;
    if (threads == 1) {
        rows(0, height);
        return;
    }
    std::atomic<int32_t> nextBand{0};
    const auto bandsOfThread = [&] {
        for (int32_t band = nextBand.fetch_add(1, std::memory_order_relaxed); band < bands;
             band = nextBand.fetch_add(1, std::memory_order_relaxed)) {
            rows(band * kBandRows, std::min(band * kBandRows + kBandRows, height));
        }
    };
    std::vector<std::thread> helpers;
    try {
        helpers.reserve(static_cast<std::size_t>(threads - 1));
        for (int t = 1; t < threads; ++t) helpers.emplace_back(bandsOfThread);
    } catch (...) {  // std::system_error, std::bad_alloc: fewer helpers
    }
    bandsOfThread();
    for (std::thread &helper : helpers) helper.join();
}

// One pixel's channels in four float lanes, from the 32-bit word at `pixel`
// (the caller guarantees it lies in the image).
[[gnu::always_inline]] inline kelmo::lanes::Vec<float, 4> pixelInLanes(const uint8_t *pixel) {
    uint32_t word;
    std::memcpy(&word, pixel, sizeof word);
    const kelmo::lanes::Vec<int32_t, 4> bytes{static_cast<int32_t>(word & 0xFFu), static_cast<int32_t>((word >> 8) & 0xFFu),
                                              static_cast<int32_t>((word >> 16) & 0xFFu), static_cast<int32_t>(word >> 24)};
    return kelmo::lanes::convert<kelmo::lanes::Vec<float, 4>>(bytes);
}

// The horizontal pass of one row for destination pixels 0 .. 4 m - 1, four
// at a time (see resizeSeparable); returns 4 m.
template <int Channels>
int32_t horizontalQuads(const AxisFilter &filter, const uint8_t *in, int32_t width, float *out) {
    using Floats = kelmo::lanes::Vec<float, 4>;
    int32_t x = 0;
    for (; x + 4 <= width; x += 4) {
        const float *weight[4];
        const uint8_t *pixel[4];
        int32_t taps[4];
#pragma GCC unroll 4
        for (int j = 0; j < 4; ++j) {
            const std::size_t at = static_cast<std::size_t>(x + j);
            weight[j] = filter.weights.data() + filter.offset[at];
            pixel[j] = in + static_cast<std::size_t>(filter.first[at]) * Channels;
            taps[j] = filter.count[at];
        }
        const int32_t common = std::min(std::min(taps[0], taps[1]), std::min(taps[2], taps[3]));
        Floats total[4] = {};
        for (int32_t k = 0; k < common; ++k) {
#pragma GCC unroll 4
            for (int j = 0; j < 4; ++j) total[j] += weight[j][k] * pixelInLanes(pixel[j] + static_cast<std::size_t>(k) * Channels);
        }
#pragma GCC unroll 4
        for (int j = 0; j < 4; ++j) {
            for (int32_t k = common; k < taps[j]; ++k) {
                total[j] += weight[j][k] * pixelInLanes(pixel[j] + static_cast<std::size_t>(k) * Channels);
            }
            float *to = out + static_cast<std::size_t>(x + j) * Channels;
            for (int c = 0; c < Channels; ++c) to[c] = total[j][c];
        }
    }
    return x;
}

// Separable resize: rows first into a float image of the new width, then
// columns. Channels are a template parameter so that the inner loops unroll.
template <int Channels>
void resizeSeparable(const Image &source, Image &result) {
    const AxisFilter horizontal = axisFilter(source.width, result.width);
    const AxisFilter vertical = axisFilter(source.height, result.height);
    const std::size_t sourceRowBytes = static_cast<std::size_t>(source.width) * Channels;
    const std::size_t resultRowValues = static_cast<std::size_t>(result.width) * Channels;

    std::vector<float> rowsFiltered(resultRowValues * static_cast<std::size_t>(source.height));
    // Rows are filtered independently: bands of them in any order give the same values.
    inBands(source.width, source.height, [&](int32_t firstRow, int32_t endRow) {
        for (int32_t y = firstRow; y < endRow; ++y) {
            const uint8_t *in = source.pixels.data() + sourceRowBytes * static_cast<std::size_t>(y);
            float *out = rowsFiltered.data() + resultRowValues * static_cast<std::size_t>(y);
            int32_t x = 0;
            if constexpr (Channels >= 3) {
                // On every row but the last: four destination pixels at a time,
                // each with its channels in four float lanes whose sums are the
                // plain ones (the same product and sum per tap, taps in order);
                // four independent sums keep the adder busy. A pixel is read as
                // a 32-bit word: off the last row, a 3-channel pixel's fourth
                // byte belongs to the image (the next pixel or the next row), and
                // its lane is never stored.
                if (y + 1 < source.height) x = horizontalQuads<Channels>(horizontal, in, result.width, out);
            }
            for (; x < result.width; ++x) {
                const float *weight = horizontal.weights.data() + horizontal.offset[static_cast<std::size_t>(x)];
                const uint8_t *pixel = in + static_cast<std::size_t>(horizontal.first[static_cast<std::size_t>(x)]) * Channels;
                const int32_t taps = horizontal.count[static_cast<std::size_t>(x)];
                // The channel loops unrolled, so that the sums stay in registers
                // (each still adds the taps in order, one rounding per step).
                float sum[Channels] = {};
                for (int32_t k = 0; k < taps; ++k, pixel += Channels) {
#pragma GCC unroll 4
                    for (int c = 0; c < Channels; ++c) sum[c] += weight[k] * static_cast<float>(pixel[c]);
                }
#pragma GCC unroll 4
                for (int c = 0; c < Channels; ++c) out[static_cast<std::size_t>(x) * Channels + c] = sum[c];
            }
        }
    });

    std::vector<float> sum(resultRowValues);
    for (int32_t y = 0; y < result.height; ++y) {
        std::fill(sum.begin(), sum.end(), 0.0f);
        const float *weight = vertical.weights.data() + vertical.offset[static_cast<std::size_t>(y)];
        const int32_t firstRow = vertical.first[static_cast<std::size_t>(y)];
        for (int32_t k = 0; k < vertical.count[static_cast<std::size_t>(y)]; ++k) {
            const float *in = rowsFiltered.data() + resultRowValues * static_cast<std::size_t>(firstRow + k);
            // Four values at a time in lanes (the compiler cannot prove that
            // the sums and the rows do not overlap), each the plain step.
            using Floats = kelmo::lanes::Vec<float, 4>;
            std::size_t i = 0;
            for (; i + 4 <= resultRowValues; i += 4) {
                kelmo::lanes::store(sum.data() + i, kelmo::lanes::load<Floats>(sum.data() + i) +
                                                        weight[k] * kelmo::lanes::load<Floats>(in + i));
            }
            for (; i < resultRowValues; ++i) sum[i] += weight[k] * in[i];
        }
        uint8_t *out = result.pixels.data() + resultRowValues * static_cast<std::size_t>(y);
        for (std::size_t i = 0; i < resultRowValues; ++i) out[i] = roundToByte(sum[i]);
    }
}

int32_t resizeImage(const Image &source, double ratio, Image &destination) {
    if (!std::isfinite(ratio) || !(ratio > 0.0)) return TAVOIMG_ERR_ARGUMENT;
    const double scaledWidth = source.width * ratio;
    const double scaledHeight = source.height * ratio;
    // Compared before rounding so that no huge value is converted.
    if (!(scaledWidth < TAVOIMG_MAX_SIDE + 1.0) || !(scaledHeight < TAVOIMG_MAX_SIDE + 1.0)) {
        return TAVOIMG_ERR_MEMORY;
    }
    int64_t width = static_cast<int64_t>(std::floor(scaledWidth + 0.5));
    int64_t height = static_cast<int64_t>(std::floor(scaledHeight + 0.5));
    const bool sourceEmpty = static_cast<int64_t>(source.width) * source.height == 0;
    if (!sourceEmpty) {
        width = std::max<int64_t>(width, 1);
        height = std::max<int64_t>(height, 1);
    }
    if (!sizeWithinLimits(width, height)) return TAVOIMG_ERR_MEMORY;

    Image result;
    result.width = static_cast<int32_t>(width);
    result.height = static_cast<int32_t>(height);
    result.channels = source.channels;
    result.pixels.resize(static_cast<std::size_t>(width * height * source.channels));
    if (!sourceEmpty) {
        switch (source.channels) {
            case 1: resizeSeparable<1>(source, result); break;
            case 3: resizeSeparable<3>(source, result); break;
            case 4: resizeSeparable<4>(source, result); break;
            default: return TAVOIMG_ERR_ARGUMENT;
        }
    }
    destination = std::move(result);
    return TAVOIMG_OK;
}

// Cosine and sine of an angle in degrees, exact for multiples of 90 degrees
// so that quarter turns move pixels onto pixels.
void cosineAndSine(double degrees, double &cosine, double &sine) {
    double reduced = std::fmod(degrees, 360.0);
    if (reduced < 0.0) reduced += 360.0;
    if (reduced == 0.0 || reduced == 360.0) {
        cosine = 1.0;
        sine = 0.0;
    } else if (reduced == 90.0) {
        cosine = 0.0;
        sine = 1.0;
    } else if (reduced == 180.0) {
        cosine = -1.0;
        sine = 0.0;
    } else if (reduced == 270.0) {
        cosine = 0.0;
        sine = -1.0;
    } else {
        const double radians = reduced * (3.14159265358979323846 / 180.0);
        cosine = std::cos(radians);
        sine = std::sin(radians);
    }
}

// Positions this close outside the span of pixel centres count as inside:
// they are rounding noise of positions on the border.
constexpr double kInsideTolerance = 1e-6;

// One axis of a bilinear sample: the lower index, the upper one and the
// weight of the upper one; false when the position lies outside
// [0, size - 1] (NaN included).
inline bool bilinearAxis(double position, int32_t size, int32_t &lower, int32_t &upper, double &fraction) {
    const double last = size - 1;
    if (!(position >= -kInsideTolerance && position <= last + kInsideTolerance)) return false;
    const double clamped = std::clamp(position, 0.0, last);
    lower = static_cast<int32_t>(clamped);  // not negative: truncation is floor
    if (lower >= size - 1) {
        lower = upper = size - 1;
        fraction = 0.0;
    } else {
        upper = lower + 1;
        fraction = clamped - lower;
    }
    return true;
}

// One bilinear sample of the rotation at the source position (sourceX,
// sourceY): 0 in every channel outside the span of pixel centres.
template <int Channels>
inline void rotatedSample(const Image &source, double sourceX, double sourceY, uint8_t *out) {
    int32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    double fx = 0.0, fy = 0.0;
    if (!bilinearAxis(sourceX, source.width, x0, x1, fx) || !bilinearAxis(sourceY, source.height, y0, y1, fy)) {
        return;  // outside: stays 0
    }
    const std::size_t rowBytes = static_cast<std::size_t>(source.width) * Channels;
    const uint8_t *row0 = source.pixels.data() + rowBytes * static_cast<std::size_t>(y0);
    const uint8_t *row1 = source.pixels.data() + rowBytes * static_cast<std::size_t>(y1);
    const uint8_t *p00 = row0 + static_cast<std::size_t>(x0) * Channels;
    const uint8_t *p01 = row0 + static_cast<std::size_t>(x1) * Channels;
    const uint8_t *p10 = row1 + static_cast<std::size_t>(x0) * Channels;
    const uint8_t *p11 = row1 + static_cast<std::size_t>(x1) * Channels;
    for (int c = 0; c < Channels; ++c) {
        const double top = p00[c] + fx * (p01[c] - p00[c]);
        const double bottom = p10[c] + fx * (p11[c] - p10[c]);
        out[c] = roundToByte(top + fy * (bottom - top));
    }
}

// ---- The turn's inner span on vector lanes ---------------------------------
// rotatedSample's arithmetic for N destination pixels at a time, operation
// for operation in double precision, one lane per pixel: the same bits at
// every kernel level. Only for the inner span of a row, where every position
// has all four bilinear neighbours inside the source (0 <= x < width - 1,
// 0 <= y < height - 1): there the clamps and the border cases of
// bilinearAxis change nothing, the lower index is the truncated position and
// the upper one the next pixel, and the blend needs no clamp (a blend of
// bytes with weights in [0, 1) stays in [0, 255], so plus 0.5 it truncates to
// what roundToByte gives).
//
// The two neighbours on each source row are read as one word, a 64-bit one
// for three and four channels, a 32-bit one for one channel, placed so that
// no byte outside the source is read: on the upper row the word starts at
// the left neighbour and may run past the right one into the row below
// (which exists, and holds at least two pixels); on the lower row it ends
// with the right neighbour and may start before the left one, in the row
// above. (Four channels fill their 64-bit word exactly.)
struct TurnRow {
    const uint8_t *pixels;  // the source's first byte
    int32_t rowBytes;       // the source's row length; offsets fit in int32 (at most 2^29 bytes)
    const double *alongX;   // x cos of each destination column
    const double *alongY;   // x sin of each destination column
    double startX;          // the row's source position before the column's products
    double startY;
};

// Each row's word: its type, where it starts relative to the left
// neighbour, and the shift of channel c of the left (0) and the right (1)
// neighbour within it.
template <int Channels>
struct PairWords {
    static_assert(Channels == 1 || Channels == 3 || Channels == 4);
    using Word = std::conditional_t<Channels == 1, uint32_t, uint64_t>;
    static constexpr int kUpperAt = 0;
    static constexpr int kLowerAt = 2 * Channels - static_cast<int>(sizeof(Word));
    static constexpr int upperShift(int c, int right) { return 8 * (c + right * Channels); }
    static constexpr int lowerShift(int c, int right) { return 8 * (c + right * Channels - kLowerAt); }
};

// The gather of the rows' words: the gather instructions on the wider levels
// (the generic vector types have no gather), lane by lane on the baseline.
// The kernels of the wider levels are compiled for their instruction sets by
// GCC's per-function target options; other compilers (clang builds the fuzz
// targets) take the baseline kernel at every level, which gives the same
// bits.
template <class Word, int N>
using Gathered = kelmo::lanes::Vec<Word, N>;

#if defined(TAVOIMAGE_TURN_WIDE)
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512dq,avx512vl")
namespace avx512 {
constexpr int kLanes = 8;
constexpr bool kConvertsQuadwords = true;
template <class Word>
[[gnu::always_inline]] inline Gathered<Word, 8> gatherPairs(const uint8_t *base, const kelmo::lanes::Vec<int32_t, 8> &offsets) {
    if constexpr (sizeof(Word) == 8) {
        // The masked form with every lane on: the plain one reads an undefined
        // register (and warns).
        return Gathered<Word, 8>(_mm512_mask_i32gather_epi64(_mm512_setzero_si512(), static_cast<__mmask8>(0xFF),
                                                             __m256i(offsets), base, 1));
    } else {
        return Gathered<Word, 8>(_mm256_i32gather_epi32(reinterpret_cast<const int *>(base), __m256i(offsets), 1));
    }
}
#include "tavoimage/turn_lanes.inl"
}  // namespace avx512
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
constexpr int kLanes = 4;
constexpr bool kConvertsQuadwords = false;
template <class Word>
[[gnu::always_inline]] inline Gathered<Word, 4> gatherPairs(const uint8_t *base, const kelmo::lanes::Vec<int32_t, 4> &offsets) {
    if constexpr (sizeof(Word) == 8) {
        return Gathered<Word, 4>(
            _mm256_i32gather_epi64(reinterpret_cast<const long long *>(base), __m128i(offsets), 1));
    } else {
        return Gathered<Word, 4>(_mm_i32gather_epi32(reinterpret_cast<const int *>(base), __m128i(offsets), 1));
    }
}
#include "tavoimage/turn_lanes.inl"
}  // namespace avx2
#pragma GCC pop_options
#endif

namespace baseline {
constexpr int kLanes = 2;
constexpr bool kConvertsQuadwords = false;
template <class Word>
[[gnu::always_inline]] inline Gathered<Word, 2> gatherPairs(const uint8_t *base, const kelmo::lanes::Vec<int32_t, 2> &offsets) {
    Gathered<Word, 2> words;
    for (int k = 0; k < 2; ++k) {
        Word word;
        std::memcpy(&word, base + offsets[k], sizeof word);
        words[k] = word;
    }
    return words;
}
#include "tavoimage/turn_lanes.inl"
}  // namespace baseline

// The inner span's pixels at the current kernel level; returns the first
// pixel left to the plain loop (all of them at the plain level).
template <int Channels>
std::size_t turnSpan(const TurnRow &row, std::size_t begin, std::size_t end, uint8_t *out) {
    switch (kelmo::kernelLevel()) {
        case kelmo::KernelLevel::Plain: return begin;
#if defined(TAVOIMAGE_TURN_WIDE)
        case kelmo::KernelLevel::Avx512: return avx512::turnSpan<Channels>(row, begin, end, out);
        case kelmo::KernelLevel::Avx2: return avx2::turnSpan<Channels>(row, begin, end, out);
#endif
        default: return baseline::turnSpan<Channels>(row, begin, end, out);
    }
}

// Bilinear rotation of the destination pixels of a rectangle; Channels is a
// template parameter so that the channel loop unrolls. Pixel (x, y) of
// `result` is the rotated image's pixel (x1 + x, y1 + y), clamped into the
// source's extent (the rotated image has the source's size), so that a crop
// of a rotation costs only the pixels it keeps and repeats the border pixels
// as a crop of the whole rotated image would. The whole rotation is the
// rectangle at (0, 0) of the source's size.
template <int Channels>
void rotateInto(const Image &source, double cosine, double sine, double centreX, double centreY, int64_t x1,
                int64_t y1, Image &result) {
    const std::size_t resultRowBytes = static_cast<std::size_t>(result.width) * Channels;
    if (resultRowBytes == 0) return;
    // The inverse turn: a positive angle turns the picture clockwise on
    // screen (y down), as the face frame needs to make a rolled face upright,
    // so the destination pixel at offset (dx, dy) from the centre shows
    // the source at offset (dx cos + dy sin, -dx sin + dy cos). Along a
    // row only dx changes: the source position is the row's start plus
    // x (cos, -sin), whose products are the same on every row.
    const std::size_t width = static_cast<std::size_t>(result.width);
    std::vector<double> alongX(width), alongY(width);
    for (std::size_t x = 0; x < width; ++x) {
        const double rotatedX = static_cast<double>(std::clamp<int64_t>(x1 + static_cast<int64_t>(x), 0, source.width - 1));
        alongX[x] = rotatedX * cosine;
        alongY[x] = rotatedX * sine;
    }
    const double lastX = source.width - 1;
    const double lastY = source.height - 1;
    // The rows from firstRow to endRow - 1; every row depends only on its own
    // position, so bands of rows give the same bytes in any order.
    const auto turnRows = [&](int32_t firstRow, int32_t endRow) {
        TurnRow row{source.pixels.data(), static_cast<int32_t>(static_cast<std::size_t>(source.width) * Channels),
                    alongX.data(), alongY.data(), 0.0, 0.0};
        // Whether all four neighbours of column x's position lie inside the source.
        const auto inner = [&](std::size_t x) {
            const double sourceX = row.startX + alongX[x];
            const double sourceY = row.startY - alongY[x];
            return sourceX >= 0.0 && sourceX < lastX && sourceY >= 0.0 && sourceY < lastY;
        };
        const auto plain = [&](std::size_t x, uint8_t *out) {
            rotatedSample<Channels>(source, row.startX + alongX[x], row.startY - alongY[x], out + x * Channels);
        };
        int64_t previousY = -1;
        for (int32_t y = firstRow; y < endRow; ++y) {
            uint8_t *out = result.pixels.data() + resultRowBytes * static_cast<std::size_t>(y);
            const int64_t rotatedY = std::clamp<int64_t>(y1 + y, 0, source.height - 1);
            if (rotatedY == previousY) {
                // Rows above or below the image repeat its border row.
                std::memcpy(out, out - resultRowBytes, resultRowBytes);
                continue;
            }
            previousY = rotatedY;
            const double dy = static_cast<double>(rotatedY) - centreY;
            row.startX = centreX - centreX * cosine + dy * sine;
            row.startY = centreY + centreX * sine + dy * cosine;
            // Each position is the row's start plus a product that is monotonic
            // in x (rounding keeps the order), so each of the four bounds holds
            // on a prefix or a suffix of the row and the inner pixels form one
            // span: found from both ends, everything between needs no check.
            std::size_t begin = 0;
            while (begin < width && !inner(begin)) plain(begin++, out);
            std::size_t end = width;
            while (end > begin && !inner(end - 1)) plain(--end, out);
            for (std::size_t x = turnSpan<Channels>(row, begin, end, out); x < end; ++x) plain(x, out);
        }
    };
    inBands(result.width, result.height, turnRows);
}

// The width x height pixels from (x1, y1) of the source turned by (cosine,
// sine) about (centreX, centreY), into a new image that then replaces the
// destination.
int32_t rotateRectangle(const Image &source, double cosine, double sine, double centreX, double centreY,
                        int64_t x1, int64_t y1, int64_t width, int64_t height, Image &destination) {
    Image result;
    result.width = static_cast<int32_t>(width);
    result.height = static_cast<int32_t>(height);
    result.channels = source.channels;
    result.pixels.assign(static_cast<std::size_t>(width * height * source.channels), 0);  // outside: black, transparent
    switch (source.channels) {
        case 1: rotateInto<1>(source, cosine, sine, centreX, centreY, x1, y1, result); break;
        case 3: rotateInto<3>(source, cosine, sine, centreX, centreY, x1, y1, result); break;
        case 4: rotateInto<4>(source, cosine, sine, centreX, centreY, x1, y1, result); break;
        default: return TAVOIMG_ERR_ARGUMENT;
    }
    destination = std::move(result);
    return TAVOIMG_OK;
}

int32_t rotateImage(const Image &source, double angle, double centreX, double centreY, Image &destination) {
    if (!std::isfinite(angle) || !std::isfinite(centreX) || !std::isfinite(centreY)) return TAVOIMG_ERR_ARGUMENT;
    double cosine = 1.0;
    double sine = 0.0;
    cosineAndSine(angle, cosine, sine);
    if (cosine == 1.0 && sine == 0.0) {
        // A whole number of turns samples every pixel at its own centre with
        // weight 1: the result is the source, so copy it.
        if (&destination != &source) {
            Image copy = source;  // may throw: the destination stays whole
            destination = std::move(copy);
        }
        return TAVOIMG_OK;
    }
    return rotateRectangle(source, cosine, sine, centreX, centreY, 0, 0, source.width, source.height, destination);
}

void mirrorImage(Image &image, int32_t flag) {
    const std::size_t pixelBytes = static_cast<std::size_t>(image.channels);
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * pixelBytes;
    if (flag == 0) {
        // Top to bottom: row y swaps with row height - 1 - y.
        for (int32_t top = 0, bottom = image.height - 1; top < bottom; ++top, --bottom) {
            uint8_t *upper = image.pixels.data() + rowBytes * static_cast<std::size_t>(top);
            uint8_t *lower = image.pixels.data() + rowBytes * static_cast<std::size_t>(bottom);
            // Through a small buffer with memcpy: a byte-wise swap costs a
            // tenth of a 1024 x 1024 render (the renderer flips every frame).
            uint8_t buffer[4096];
            for (std::size_t offset = 0; offset < rowBytes; offset += sizeof buffer) {
                const std::size_t count = std::min(sizeof buffer, rowBytes - offset);
                std::memcpy(buffer, upper + offset, count);
                std::memcpy(upper + offset, lower + offset, count);
                std::memcpy(lower + offset, buffer, count);
            }
        }
        return;
    }
    // Left to right: within each row pixel x swaps with width - 1 - x.
    for (int32_t y = 0; y < image.height; ++y) {
        uint8_t *row = image.pixels.data() + rowBytes * static_cast<std::size_t>(y);
        for (int32_t left = 0, right = image.width - 1; left < right; ++left, --right) {
            std::swap_ranges(row + pixelBytes * static_cast<std::size_t>(left),
                             row + pixelBytes * static_cast<std::size_t>(left + 1),
                             row + pixelBytes * static_cast<std::size_t>(right));
        }
    }
}

int32_t copyRectReplicateBorder(const Image &source, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                                Image &destination) {
    if (x1 > x2 || y1 > y2) return TAVOIMG_ERR_ARGUMENT;
    if (static_cast<int64_t>(source.width) * source.height == 0) return TAVOIMG_ERR_ARGUMENT;
    const int64_t width = static_cast<int64_t>(x2) - x1 + 1;
    const int64_t height = static_cast<int64_t>(y2) - y1 + 1;
    if (!sizeWithinLimits(width, height)) return TAVOIMG_ERR_MEMORY;

    Image result;
    result.width = static_cast<int32_t>(width);
    result.height = static_cast<int32_t>(height);
    result.channels = source.channels;
    const std::size_t pixelBytes = static_cast<std::size_t>(source.channels);
    const std::size_t sourceRowBytes = static_cast<std::size_t>(source.width) * pixelBytes;
    const std::size_t resultRowBytes = static_cast<std::size_t>(width) * pixelBytes;
    result.pixels.resize(resultRowBytes * static_cast<std::size_t>(height));
    for (int64_t y = 0; y < height; ++y) {
        // Coordinates outside the source take the nearest border row/column.
        const int64_t sourceY = std::clamp<int64_t>(y1 + y, 0, source.height - 1);
        const uint8_t *in = source.pixels.data() + sourceRowBytes * static_cast<std::size_t>(sourceY);
        uint8_t *out = result.pixels.data() + resultRowBytes * static_cast<std::size_t>(y);
        for (int64_t x = 0; x < width; ++x) {
            const int64_t sourceX = std::clamp<int64_t>(x1 + x, 0, source.width - 1);
            std::memcpy(out + pixelBytes * static_cast<std::size_t>(x),
                        in + pixelBytes * static_cast<std::size_t>(sourceX), pixelBytes);
        }
    }
    destination = std::move(result);
    return TAVOIMG_OK;
}

// The rectangle x1..x2, y1..y2 (inclusive, border pixels repeated outside) of
// the source rotated by `angle` degrees about (centreX, centreY): a rotation
// followed by copyRectReplicateBorder, computing only the rectangle.
int32_t rotateCrop(const Image &source, double angle, double centreX, double centreY, int32_t x1, int32_t y1,
                   int32_t x2, int32_t y2, Image &destination) {
    if (!std::isfinite(angle) || !std::isfinite(centreX) || !std::isfinite(centreY)) return TAVOIMG_ERR_ARGUMENT;
    double cosine = 1.0;
    double sine = 0.0;
    cosineAndSine(angle, cosine, sine);
    // Level faces turn by 0 degrees: a whole number of turns is a plain crop.
    if (cosine == 1.0 && sine == 0.0) return copyRectReplicateBorder(source, x1, y1, x2, y2, destination);
    if (x1 > x2 || y1 > y2) return TAVOIMG_ERR_ARGUMENT;
    if (static_cast<int64_t>(source.width) * source.height == 0) return TAVOIMG_ERR_ARGUMENT;
    const int64_t width = static_cast<int64_t>(x2) - x1 + 1;
    const int64_t height = static_cast<int64_t>(y2) - y1 + 1;
    if (!sizeWithinLimits(width, height)) return TAVOIMG_ERR_MEMORY;
    return rotateRectangle(source, cosine, sine, centreX, centreY, x1, y1, width, height, destination);
}

}  // namespace
}  // namespace tavoimage

using tavoimage::findImage;
using tavoimage::Image;

extern "C" {

int32_t TAVO_ResizeImage(ImageHandle source, double ratio, ImageHandle destination) {
    const Image *from = findImage(source);
    Image *to = findImage(destination);
    if (from == nullptr || to == nullptr) return TAVOIMG_ERR_HANDLE;
    try {
        return tavoimage::resizeImage(*from, ratio, *to);
    } catch (...) {  // std::bad_alloc for large sizes
        return TAVOIMG_ERR_MEMORY;
    }
}

int32_t TAVO_RotateImageCenter(ImageHandle source, double angle, double centreX, double centreY,
                               ImageHandle destination) {
    const Image *from = findImage(source);
    Image *to = findImage(destination);
    if (from == nullptr || to == nullptr) return TAVOIMG_ERR_HANDLE;
    try {
        return tavoimage::rotateImage(*from, angle, centreX, centreY, *to);
    } catch (...) {  // std::bad_alloc
        return TAVOIMG_ERR_MEMORY;
    }
}

int32_t TAVO_RotateCropImage(ImageHandle source, double angle, double centreX, double centreY, int32_t x1, int32_t y1,
                             int32_t x2, int32_t y2, ImageHandle destination) {
    const Image *from = findImage(source);
    Image *to = findImage(destination);
    if (from == nullptr || to == nullptr) return TAVOIMG_ERR_HANDLE;
    try {
        return tavoimage::rotateCrop(*from, angle, centreX, centreY, x1, y1, x2, y2, *to);
    } catch (...) {  // std::bad_alloc
        return TAVOIMG_ERR_MEMORY;
    }
}

int32_t TAVO_SetImageKernelLevel(int32_t level) {
    if (level < static_cast<int32_t>(kelmo::KernelLevel::Plain) || level > static_cast<int32_t>(kelmo::KernelLevel::Avx512)) {
        return TAVOIMG_ERR_ARGUMENT;
    }
    return static_cast<int32_t>(kelmo::setKernelLevel(static_cast<kelmo::KernelLevel>(level)));
}

int32_t TAVO_MirrorImage(ImageHandle image, int32_t flag) {
    Image *found = findImage(image);
    if (found == nullptr) return TAVOIMG_ERR_HANDLE;
    if (flag != 0 && flag != 1) return TAVOIMG_ERR_ARGUMENT;
    tavoimage::mirrorImage(*found, flag);  // in place, allocates nothing
    return TAVOIMG_OK;
}

int32_t TAVO_CopyRectReplicateBorder(ImageHandle source, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                                     ImageHandle destination) {
    const Image *from = findImage(source);
    Image *to = findImage(destination);
    if (from == nullptr || to == nullptr) return TAVOIMG_ERR_HANDLE;
    try {
        return tavoimage::copyRectReplicateBorder(*from, x1, y1, x2, y2, *to);
    } catch (...) {  // std::bad_alloc
        return TAVOIMG_ERR_MEMORY;
    }
}

}  // extern "C"
