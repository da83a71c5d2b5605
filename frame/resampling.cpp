// Image resampling primitives: remap of 8-bit images through float
// coordinate maps, copy of four-byte pixels, resize of a float map.
//
// The inner loops are templates on the channel count and on the sampler, so
// that the per-pixel work has no dispatch and fixed-length channel loops.
// Warped images are compared bit for bit with the double-precision bilinear
// formula, so every sum and product below keeps its order and its rounding
// (the build uses -ffp-contract=off: no fused multiply-adds).
#include "frame/resampling.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <climits>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "frame/kernel_level.h"
#include "frame/vector_lanes.h"

namespace kelmo {

namespace {

// The bias added before truncating a position (remap) or a scaled size
// (resize), so that a value a rounding error below an integer counts as that
// integer.
constexpr double kTruncationBias = 0.0000001;

// Float maps are addressed by byte steps; memcpy keeps reads and writes legal
// for any step and compiles to a plain (unaligned) load or store.
inline float loadFloat(const uint8_t *row, std::ptrdiff_t index) {
    float value;
    std::memcpy(&value, row + index * static_cast<std::ptrdiff_t>(sizeof(float)), sizeof(float));
    return value;
}

inline void storeFloat(uint8_t *row, std::ptrdiff_t index, float value) {
    std::memcpy(row + index * static_cast<std::ptrdiff_t>(sizeof(float)), &value, sizeof(float));
}

// The usable extent along one axis of a rectangle in a source of `size`
// pixels: min(size - origin, extent); origin < size.
inline int32_t usableExtent(int32_t size, int32_t origin, int32_t extent) {
    return std::min(size - origin, extent);
}

// What the samplers need to know about the source.
struct SourceView {
    const uint8_t *pixels;
    std::ptrdiff_t step;
    int32_t width;
    int32_t height;

    const uint8_t *pixel(int32_t column, int32_t row, int channels) const {
        return pixels + static_cast<std::ptrdiff_t>(row) * step +
               static_cast<std::ptrdiff_t>(column) * channels;
    }
};

// Nearest neighbour: the position rounded half up. Positions lie inside the
// usable area, whose bounds are integers, so the rounded index does too.
template <int Channels>
struct NearestSampler {
    static void sample(const SourceView &source, double x, double y, uint8_t *out) {
        const auto column = static_cast<int32_t>(x + 0.5);
        const auto row = static_cast<int32_t>(y + 0.5);
        const uint8_t *p = source.pixel(column, row, Channels);
        for (int c = 0; c < Channels; ++c) out[c] = p[c];
    }
};

// The integer part and the fraction along one axis. At or past the last
// column (row) the blend is taken between the last two pixels with fraction 1,
// so the pixel beyond the edge is never read. Needs size >= 2.
inline void bilinearAxis(double position, int32_t size, int32_t &index, double &fraction) {
    index = static_cast<int32_t>(position + kTruncationBias);
    fraction = position - index;
    if (index >= size - 1) {
        index = size - 2;
        fraction = 1.0;
    }
}

// Bilinear blend in double precision: the two rows first along x, then the
// two results along y; plus 0.5 and truncated. Needs a source of at least
// 2 x 2 pixels.
template <int Channels>
struct BilinearSampler {
    static void sample(const SourceView &source, double x, double y, uint8_t *out) {
        int32_t ix;
        int32_t iy;
        double fx;
        double fy;
        bilinearAxis(x, source.width, ix, fx);
        bilinearAxis(y, source.height, iy, fy);
        const uint8_t *upper = source.pixel(ix, iy, Channels);
        const uint8_t *lower = upper + source.step;
        for (int c = 0; c < Channels; ++c) {
            // The byte differences are exact as integers, so converting them
            // gives the same doubles as p01 - p00 taken in double.
            const double top = upper[c] + fx * (upper[c + Channels] - upper[c]);
            const double bottom = lower[c] + fx * (lower[c + Channels] - lower[c]);
            // Within -0.5 .. 255.5 for fractions in [-1e-7, 1]: truncation
            // gives 0 .. 255 without a clamp.
            out[c] = static_cast<uint8_t>(static_cast<int32_t>(top + fy * (bottom - top) + 0.5));
        }
    }
};

// Keys' cubic convolution kernel with a = -0.5, at a distance d.
inline double keysWeight(double distance) {
    constexpr double a = -0.5;
    const double d = std::fabs(distance);
    if (d <= 1.0) return ((a + 2.0) * d - (a + 3.0)) * d * d + 1.0;
    if (d < 2.0) return ((a * d - 5.0 * a) * d + 8.0 * a) * d - 4.0 * a;
    return 0.0;
}

// The four neighbour indices (clamped to the source) and their weights along
// one axis.
inline void cubicAxis(double position, int32_t size, int32_t (&indices)[4], double (&weights)[4]) {
    const auto base = static_cast<int32_t>(position + kTruncationBias);
    const double fraction = position - base;
    for (int k = 0; k < 4; ++k) {
        indices[k] = std::clamp(base - 1 + k, 0, size - 1);
        weights[k] = keysWeight(fraction - (k - 1));
    }
}

// Cubic convolution: needs a source of at least 4 x 4 pixels for a
// meaningful kernel, but reads only clamped indices.
template <int Channels>
struct CubicSampler {
    static void sample(const SourceView &source, double x, double y, uint8_t *out) {
        int32_t columns[4];
        int32_t rows[4];
        double columnWeights[4];
        double rowWeights[4];
        cubicAxis(x, source.width, columns, columnWeights);
        cubicAxis(y, source.height, rows, rowWeights);
        for (int c = 0; c < Channels; ++c) {
            double value = 0.0;
            for (int r = 0; r < 4; ++r) {
                double rowValue = 0.0;
                for (int k = 0; k < 4; ++k) {
                    rowValue += columnWeights[k] * source.pixel(columns[k], rows[r], Channels)[c];
                }
                value += rowWeights[r] * rowValue;
            }
            value = std::clamp(value, 0.0, 255.0);
            out[c] = static_cast<uint8_t>(static_cast<int32_t>(value + 0.5));
        }
    }
};

struct RemapJob {
    SourceView source;
    // The usable area: the source rectangle clipped to the source, bounds
    // inclusive.
    double left;
    double right;
    double top;
    double bottom;
    const uint8_t *xMap;
    std::ptrdiff_t xMapStep;
    const uint8_t *yMap;
    std::ptrdiff_t yMapStep;
    uint8_t *destination;
    std::ptrdiff_t destinationStep;
    int32_t destinationWidth;
    int32_t destinationHeight;
};

template <int Channels, template <int> class Sampler>
void remapRows(const RemapJob &job) {
    for (int32_t j = 0; j < job.destinationHeight; ++j) {
        const uint8_t *xRow = job.xMap + static_cast<std::ptrdiff_t>(j) * job.xMapStep;
        const uint8_t *yRow = job.yMap + static_cast<std::ptrdiff_t>(j) * job.yMapStep;
        uint8_t *destinationRow = job.destination + static_cast<std::ptrdiff_t>(j) * job.destinationStep;
        for (int32_t i = 0; i < job.destinationWidth; ++i) {
            const double x = loadFloat(xRow, i);
            const double y = loadFloat(yRow, i);
            // Written so that NaN fails the test: a position that is not a
            // number is outside and leaves the pixel unchanged, and nothing
            // out of range reaches the integer conversions.
            const bool inside = x >= job.left && x <= job.right && y >= job.top && y <= job.bottom;
            if (!inside) continue;
            Sampler<Channels>::sample(job.source, x, y, destinationRow + static_cast<std::ptrdiff_t>(i) * Channels);
        }
    }
}

// ---- Bilinear remap on lanes ----------------------------------------------
// The same formula as BilinearSampler, for N destination pixels at a time
// (the kernel is in resampling_lanes.inl): positions, indices and fractions
// on N lanes; the four neighbours of every lane read as 32-bit words (a
// pixel's bytes, or for one and three channels a pixel's bytes and the next
// ones; at AVX-512, four-channel pixels in pairs as 64-bit words), then each
// channel blended on N lanes of doubles, the channels of a lane side by side
// in one 32-bit word. A block with any position outside the usable area (or
// NaN) is done by the sampler pixel by pixel, so that only positions inside
// reach the conversions; so is a block whose reads would pass the end of the
// source (the last few bytes of one or three channels).

// N words as wide as the lanes, word k read at base + offsets[k] (any
// alignment). Loads one by one: on the machine measured, faster than the
// gather instructions (a 4-channel remap took 40% longer with them).
template <class Ints>
[[gnu::always_inline]] inline Ints gatherWords(const uint8_t *base, const Ints &offsets) {
    Ints words;
    for (int k = 0; k < static_cast<int>(sizeof(Ints) / sizeof(words[0])); ++k) {
        // A word as wide as the lane (32 or 64 bits).
        std::remove_cv_t<std::remove_reference_t<decltype(words[0])>> word;
        std::memcpy(&word, base + offsets[k], sizeof word);
        words[k] = word;
    }
    return words;
}

// Whether 32-bit byte offsets can address the whole source.
bool offsetsReachSource(const SourceView &source, int channels) {
    const auto bytes = static_cast<std::ptrdiff_t>(source.height) * source.step +
                       static_cast<std::ptrdiff_t>(source.width) * channels + 8;
    // The area's bounds are compared in float: exact below 2^24.
    constexpr int32_t kExactInFloat = 1 << 24;
    return source.width < kExactInFloat && source.height < kExactInFloat && source.step <= INT32_MAX / 2 &&
           bytes <= INT32_MAX;
}

// The kernel compiled for the file's own target, which the AVX2 and baseline
// levels (and every level under other compilers: the same bits) run, and
// with GCC once more for AVX-512, whose widening conversions it uses.
namespace portable {
#include "frame/resampling_lanes.inl"
}  // namespace portable

#if (defined(__x86_64__) || defined(__i386__)) && !defined(__clang__)
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512dq,avx512vl")
#define KELMO_LANES_AVX512 1
namespace wide {
#include "frame/resampling_lanes.inl"
}  // namespace wide
#undef KELMO_LANES_AVX512
#pragma GCC pop_options
#else
namespace wide = portable;
#endif

#if defined(__x86_64__) || defined(__i386__)
// Eight lanes at AVX2 and AVX-512 (one or two registers of doubles), four at
// the baseline.
template <int Channels>
[[gnu::target("avx512f,avx512bw,avx512dq,avx512vl")]] void remapBilinearAvx512(const RemapJob &job) {
    wide::remapBilinearLanes<Channels, 8>(job);
}

template <int Channels>
[[gnu::target("avx2")]] void remapBilinearAvx2(const RemapJob &job) {
    portable::remapBilinearLanes<Channels, 8>(job);
}

// The float blend of sixteen lanes from picked bytes held as floats 2^23 + p
// (the kernels below say why it is the double formula's away from rounding
// boundaries): the bytes, and in nearTie the lanes whose value + 0.5 lies
// within 2^-13 of an integer.
[[gnu::target("avx512f,avx512bw,avx512dq,avx512vl"), gnu::always_inline]] inline __m512i blendInFloat(
    __m512 a, __m512 b, __m512 c, __m512 d, __m512 fx, __m512 fy, __mmask16 &nearTie) {
    constexpr __mmask16 kAll16 = 0xFFFF;
    const __m512 twoTo23 = _mm512_set1_ps(8388608.0f);
    const __m512 topBlend = _mm512_fmadd_ps(fx, _mm512_sub_ps(b, a), _mm512_sub_ps(a, twoTo23));
    const __m512 bottomBlend = _mm512_fmadd_ps(fx, _mm512_sub_ps(d, c), _mm512_sub_ps(c, twoTo23));
    const __m512 rounded =
        _mm512_add_ps(_mm512_fmadd_ps(fy, _mm512_sub_ps(bottomBlend, topBlend), topBlend), _mm512_set1_ps(0.5f));
    // Positive (at least 0.5 - 3e-5): truncation is the floor.
    const __m512i bytes = _mm512_maskz_cvttps_epi32(kAll16, rounded);
    const __m512 fraction = _mm512_sub_ps(rounded, _mm512_maskz_cvtepi32_ps(kAll16, bytes));
    nearTie = _mm512_cmp_ps_mask(fraction, _mm512_set1_ps(0x1p-13f), _CMP_LT_OQ) |
              _mm512_cmp_ps_mask(fraction, _mm512_set1_ps(1.0f - 0x1p-13f), _CMP_GT_OQ);
    return bytes;
}

// ---- Three and four channels with byte permutes (AVX-512 VBMI) ------------
// The lanes' formula for eight destination pixels, one register of doubles a
// channel, without moving the source pixel by pixel. When the block's
// upper-left pixels lie within 15 (four channels) or 20 (three) columns and
// two rows of each other (warps, moderate scaling: almost every block of a
// smooth map), three 64-byte rows of the source are loaded at the leftmost
// column and every lane's bytes are picked from them by byte permutes;
// otherwise each pixel's upper and lower pairs are loaded as 64-bit words and
// picked the same way.
//
// A picked byte p lands in the low byte of a 64-bit lane whose other bytes
// hold 2^52, so the lane is the double 2^52 + p: subtracting 2^52 gives p and
// subtracting two such lanes gives the difference of two bytes, both exactly,
// without a conversion instruction.
//
// Each block is first blended in float, two channels a register (sixteen
// lanes, half the instructions of the doubles), and the doubles run only for
// a block where some value lies near a rounding boundary. Why the float result
// is then the double's:
// - fx and fy are floats: a position is a float below 2^24 and its integer
//   part is a multiple of the position's last bit, so position - index has at
//   most 24 significant bits (the clamp gives 1, exact too).
// - Let v be the exact value of the blend with these fractions. In double,
//   fx * (p01 - p00) is exact (24 bits times 8) and every other step rounds
//   at most once below 2^-44, so the double's value + 0.5 lies within 2^-40
//   of v + 0.5.
// - In float, with one rounding per fused step: the two row blends lie below
//   256 and are within 2^-17 of theirs, their difference within 3 * 2^-17, the
//   blend within 5 * 2^-17, and w = blend + 0.5 within 7 * 2^-17 of v + 0.5
//   (fractions lie in [-1e-7, 1]).
// - So when w lies at least 2^-13 = 16 * 2^-17 from every integer, v + 0.5
//   lies more than 2^-15 from it, and both truncate to the same byte. A lane
//   nearer than that (an exact tie included: half-pixel positions give them
//   often) sends its block to the doubles.
template <int Channels>
[[gnu::target("avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi")]] void remapBilinearPixelsVbmi(const RemapJob &job) {
    static_assert(Channels == 3 || Channels == 4);
    const SourceView &source = job.source;
    const auto step = static_cast<int32_t>(source.step);
    // One past the source's last byte: no 64-byte row load may pass it.
    const std::ptrdiff_t end = (source.height - 1) * source.step + source.width * Channels;
    // The widest spread of a window's columns: a lane's right pixel ends at
    // byte 63 at most.
    constexpr int32_t kWindowColumns = (64 - 2 * Channels) / Channels;
    constexpr int64_t kTwoTo52Bits = 0x4330000000000000;
    const __m512d twoTo52 = _mm512_set1_pd(4503599627370496.0);
    const __m512d one = _mm512_set1_pd(1.0);
    const __m512d half = _mm512_set1_pd(0.5);
    const __m512d bias = _mm512_set1_pd(kTruncationBias);
    const __m512d lastColumn = _mm512_set1_pd(source.width - 1);
    const __m512d lastRow = _mm512_set1_pd(source.height - 1);
    // Prefetch positions are clamped into the source (NaN to 0) so that
    // every address formed lies inside it, three rows counted from a row at
    // most the third from the last.
    constexpr int32_t kPrefetchAhead = 64;
    const bool prefetch = source.height >= 3;
    const auto lastColumnFloat = static_cast<float>(source.width - 1);
    const auto lastPairRowFloat = static_cast<float>(std::max(source.height - 3, 0));
    const __m256i columnLimit = _mm256_set1_epi32(source.width - 2);
    const __m256i rowLimit = _mm256_set1_epi32(source.height - 2);
    const __m256 areaLeft = _mm256_set1_ps(static_cast<float>(job.left));
    const __m256 areaRight = _mm256_set1_ps(static_cast<float>(job.right));
    const __m256 areaTop = _mm256_set1_ps(static_cast<float>(job.top));
    const __m256 areaBottom = _mm256_set1_ps(static_cast<float>(job.bottom));
    // The zero-masking forms with every lane kept: GCC's plain forms start
    // from an undefined register, which it reports as uninitialised.
    constexpr __mmask8 kAll8 = 0xFF;
    constexpr __mmask16 kAll16 = 0xFFFF;
    // Byte 0 of every 64-bit lane is written by the permutes, the others kept.
    constexpr __mmask64 kLowBytes = 0x0101010101010101;
    // What a lane's byte index is offset by to pick channel c of the left
    // (c) or the right (c + 4) pixel of a pair, with the 2^52 bits above it.
    __m512i pickOffsets[8];
    for (int k = 0; k < 8; ++k) pickOffsets[k] = _mm512_set1_epi64(kTwoTo52Bits + k);
    // Lane k of a gathered pair register holds pixel k's eight bytes.
    const __m256i gatheredIndex = _mm256_setr_epi32(0, 8, 16, 24, 32, 40, 48, 56);
    // The float lanes: a picked byte p in the low byte of a 32-bit lane
    // holding 2^23 is the float 2^23 + p. Lanes 0-7 hold channel 2 * pair of
    // the eight pixels, lanes 8-15 channel 2 * pair + 1; side 1 picks the
    // right pixel of a pair.
    constexpr int32_t kTwoTo23Bits = 0x4B000000;
    constexpr __mmask64 kLowBytesOfFloats = 0x1111111111111111;
    __m512i floatPicks[2][2];
    for (int pair = 0; pair < 2; ++pair) {
        for (int side = 0; side < 2; ++side) {
            // Three channels: the second pair's upper lanes repeat channel 2.
            const int32_t low = kTwoTo23Bits + 2 * pair + Channels * side;
            const int32_t high = kTwoTo23Bits + std::min(2 * pair + 1, Channels - 1) + Channels * side;
            floatPicks[pair][side] = _mm512_setr_epi32(low, low, low, low, low, low, low, low, high, high, high, high, high,
                                                       high, high, high);
        }
    }
    // Byte Channels * k + c of the output is byte 0 of lane k (even c) or
    // 8 + k (odd c) of pair c / 2's result; the second pair's register is the
    // permute's second table (indices 64 and up).
    alignas(64) uint8_t packIndexBytes[64] = {};
    for (int k = 0; k < 8; ++k) {
        for (int c = 0; c < Channels; ++c) {
            packIndexBytes[Channels * k + c] = static_cast<uint8_t>(64 * (c / 2) + 4 * (8 * (c % 2) + k));
        }
    }
    // The double path's words: pixel k's channels in bytes 0 .. Channels - 1
    // of 32-bit lane k, moved together for three channels.
    alignas(32) uint8_t wordIndexBytes[32] = {};
    for (int k = 0; k < 8; ++k) {
        for (int c = 0; c < Channels; ++c) wordIndexBytes[Channels * k + c] = static_cast<uint8_t>(4 * k + c);
    }
    const __m256i wordIndex = _mm256_load_si256(reinterpret_cast<const __m256i *>(wordIndexBytes));
    // The 32 (four channels) or 24 (three) bytes of a block's output.
    constexpr __mmask32 kBlockBytes = Channels == 4 ? 0xFFFFFFFFu : 0x00FFFFFFu;
    const __m512i packIndex = _mm512_load_si512(packIndexBytes);
    // Rows are blended in float first unless the last row tried that way
    // sent more than a quarter of its blocks to the doubles (maps of
    // half-pixel positions are full of exact ties); every 16th row tries
    // again, so that a map whose ties end is noticed.
    bool floatFirst = true;
    for (int32_t j = 0; j < job.destinationHeight; ++j) {
        const uint8_t *xRow = job.xMap + static_cast<std::ptrdiff_t>(j) * job.xMapStep;
        const uint8_t *yRow = job.yMap + static_cast<std::ptrdiff_t>(j) * job.yMapStep;
        uint8_t *destinationRow = job.destination + static_cast<std::ptrdiff_t>(j) * job.destinationStep;
        const bool floatRow = floatFirst || j % 16 == 0;
        int32_t blocksInFloat = 0;
        int32_t blocksNearTies = 0;
        int32_t i = 0;
        for (; i + 8 <= job.destinationWidth; i += 8) {
            // The rows this block's window will need some blocks ahead, where
            // the map places them: a warp's rows wander across the source
            // (the hardware's stream prefetch does not follow them), and a
            // source larger than the cache would otherwise wait on each.
            if (prefetch && i + kPrefetchAhead < job.destinationWidth) {
                // Written so that NaN fails the first test (and the compiler
                // emits min and max instructions, not calls).
                float aheadX = loadFloat(xRow, i + kPrefetchAhead);
                float aheadY = loadFloat(yRow, i + kPrefetchAhead);
                aheadX = aheadX > 0.0f ? aheadX : 0.0f;
                aheadY = aheadY > 0.0f ? aheadY : 0.0f;
                aheadX = aheadX < lastColumnFloat ? aheadX : lastColumnFloat;
                aheadY = aheadY < lastPairRowFloat ? aheadY : lastPairRowFloat;
                const uint8_t *ahead = source.pixels + static_cast<std::ptrdiff_t>(aheadY) * source.step +
                                       Channels * static_cast<std::ptrdiff_t>(aheadX);
                __builtin_prefetch(ahead);
                __builtin_prefetch(ahead + source.step);
                __builtin_prefetch(ahead + 2 * source.step);
            }
            const __m256 xFloats = _mm256_loadu_ps(reinterpret_cast<const float *>(xRow + 4 * static_cast<std::ptrdiff_t>(i)));
            const __m256 yFloats = _mm256_loadu_ps(reinterpret_cast<const float *>(yRow + 4 * static_cast<std::ptrdiff_t>(i)));
            // Ordered comparisons: NaN is outside. The bounds are integers
            // below 2^24, exact in float, so the test in float is the test in
            // double.
            const __mmask8 inside = _mm256_cmp_ps_mask(xFloats, areaLeft, _CMP_GE_OQ) &
                                    _mm256_cmp_ps_mask(xFloats, areaRight, _CMP_LE_OQ) &
                                    _mm256_cmp_ps_mask(yFloats, areaTop, _CMP_GE_OQ) &
                                    _mm256_cmp_ps_mask(yFloats, areaBottom, _CMP_LE_OQ);
            if (inside != 0xFF) {
                for (int k = 0; k < 8; ++k) {
                    if (!((inside >> k) & 1)) continue;
                    BilinearSampler<Channels>::sample(source, loadFloat(xRow, i + k), loadFloat(yRow, i + k),
                                                      destinationRow + Channels * static_cast<std::ptrdiff_t>(i + k));
                }
                continue;
            }
            // bilinearAxis on lanes, as in the lanes' kernel.
            const __m512d x = _mm512_maskz_cvtps_pd(kAll8, xFloats);
            const __m512d y = _mm512_maskz_cvtps_pd(kAll8, yFloats);
            const __m512d xBiased = _mm512_add_pd(x, bias);
            const __m512d yBiased = _mm512_add_pd(y, bias);
            __m256i ix = _mm512_maskz_cvttpd_epi32(kAll8, xBiased);
            __m256i iy = _mm512_maskz_cvttpd_epi32(kAll8, yBiased);
            const __m512d fx = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(xBiased, lastColumn, _CMP_GE_OQ),
                                                    _mm512_sub_pd(x, _mm512_maskz_cvtepi32_pd(kAll8, ix)), one);
            const __m512d fy = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(yBiased, lastRow, _CMP_GE_OQ),
                                                    _mm512_sub_pd(y, _mm512_maskz_cvtepi32_pd(kAll8, iy)), one);
            ix = _mm256_min_epi32(ix, columnLimit);
            iy = _mm256_min_epi32(iy, rowLimit);

            // The block's leftmost column and top row, in every lane.
            __m512i corner = _mm512_maskz_inserti64x4(kAll8, _mm512_castsi256_si512(ix), iy, 1);
            corner = _mm512_maskz_min_epi32(kAll16, corner, _mm512_maskz_shuffle_i64x2(kAll8, corner, corner, _MM_SHUFFLE(2, 3, 0, 1)));
            corner = _mm512_maskz_min_epi32(kAll16, corner, _mm512_maskz_shuffle_epi32(kAll16, corner, _MM_PERM_BADC));
            corner = _mm512_maskz_min_epi32(kAll16, corner, _mm512_maskz_shuffle_epi32(kAll16, corner, _MM_PERM_CDAB));
            const __m256i left = _mm512_maskz_extracti64x4_epi64(kAll8, corner, 0);
            const __m256i top = _mm512_maskz_extracti64x4_epi64(kAll8, corner, 1);
            const __m256i columns = _mm256_sub_epi32(ix, left);
            const __m256i rows = _mm256_sub_epi32(iy, top);
            const int32_t leftColumn = _mm256_cvtsi256_si32(left);
            const int32_t topRow = _mm256_cvtsi256_si32(top);
            const bool twoRows = _mm256_cmp_epu32_mask(rows, _mm256_setzero_si256(), _MM_CMPINT_NE) != 0;
            const std::ptrdiff_t windowStart = static_cast<std::ptrdiff_t>(topRow) * step + Channels * leftColumn;
            const bool window = _mm256_cmp_epu32_mask(columns, _mm256_set1_epi32(kWindowColumns), _MM_CMPINT_LE) == 0xFF &&
                                _mm256_cmp_epu32_mask(rows, _mm256_set1_epi32(1), _MM_CMPINT_LE) == 0xFF &&
                                windowStart + (twoRows ? 2 : 1) * source.step + 64 <= end;
            // Upper bytes are picked from the pair (first, second), lower ones
            // from (second, third), at the same byte index.
            __m512i first;
            __m512i second;
            __m512i third;
            __m256i byteIndex;
            if (window) {
                const uint8_t *start = source.pixels + windowStart;
                first = _mm512_loadu_si512(start);
                second = _mm512_loadu_si512(start + step);
                // The row below the second when a lane needs it; else the
                // second once more (a load, not a branch: which one varies
                // from block to block and would not be predicted).
                third = _mm512_loadu_si512(start + (twoRows ? 2 : 1) * static_cast<std::ptrdiff_t>(step));
                byteIndex = _mm256_add_epi32(_mm256_mullo_epi32(columns, _mm256_set1_epi32(Channels)), _mm256_slli_epi32(rows, 6));
            } else {
                alignas(32) int32_t offsets[8];
                const __m256i offsetLanes =
                    _mm256_add_epi32(_mm256_mullo_epi32(iy, _mm256_set1_epi32(step)), _mm256_mullo_epi32(ix, _mm256_set1_epi32(Channels)));
                _mm256_store_si256(reinterpret_cast<__m256i *>(offsets), offsetLanes);
                // Eight bytes from a three-channel pixel reach two past its
                // right neighbour: near the source's end, pixel by pixel.
                if (Channels == 3 &&
                    _mm256_cmp_epi32_mask(offsetLanes, _mm256_set1_epi32(static_cast<int32_t>(end - step - 8)), _MM_CMPINT_LE) != 0xFF) {
                    for (int k = 0; k < 8; ++k) {
                        BilinearSampler<Channels>::sample(source, loadFloat(xRow, i + k), loadFloat(yRow, i + k),
                                                          destinationRow + Channels * static_cast<std::ptrdiff_t>(i + k));
                    }
                    continue;
                }
                alignas(64) int64_t upper[8];
                alignas(64) int64_t lower[8];
                for (int k = 0; k < 8; ++k) {
                    std::memcpy(&upper[k], source.pixels + offsets[k], 8);
                    std::memcpy(&lower[k], source.pixels + offsets[k] + step, 8);
                }
                first = _mm512_load_si512(upper);
                second = _mm512_load_si512(lower);
                third = second;
                byteIndex = gatheredIndex;
            }
            uint8_t *out = destinationRow + Channels * static_cast<std::ptrdiff_t>(i);
            if (floatRow) {
                ++blocksInFloat;
                const __m512i index = _mm512_maskz_inserti64x4(kAll8, _mm512_castsi256_si512(byteIndex), byteIndex, 1);
                // Exact: the fractions are floats (see above).
                const __m256 fxHalf = _mm512_maskz_cvtpd_ps(kAll8, fx);
                const __m256 fyHalf = _mm512_maskz_cvtpd_ps(kAll8, fy);
                const __m512 fxFloat = _mm512_maskz_insertf32x8(kAll16, _mm512_castps256_ps512(fxHalf), fxHalf, 1);
                const __m512 fyFloat = _mm512_maskz_insertf32x8(kAll16, _mm512_castps256_ps512(fyHalf), fyHalf, 1);
                __m512i bytes[2];
                __mmask16 nearTie = 0;
                for (int pair = 0; pair < 2; ++pair) {
                    const __m512i pickLeft = _mm512_add_epi32(index, floatPicks[pair][0]);
                    const __m512i pickRight = _mm512_add_epi32(index, floatPicks[pair][1]);
                    const __m512 a = _mm512_castsi512_ps(_mm512_mask2_permutex2var_epi8(first, pickLeft, kLowBytesOfFloats, second));
                    const __m512 b = _mm512_castsi512_ps(_mm512_mask2_permutex2var_epi8(first, pickRight, kLowBytesOfFloats, second));
                    const __m512 c = _mm512_castsi512_ps(_mm512_mask2_permutex2var_epi8(second, pickLeft, kLowBytesOfFloats, third));
                    const __m512 d = _mm512_castsi512_ps(_mm512_mask2_permutex2var_epi8(second, pickRight, kLowBytesOfFloats, third));
                    __mmask16 pairNearTie;
                    bytes[pair] = blendInFloat(a, b, c, d, fxFloat, fyFloat, pairNearTie);
                    nearTie |= pairNearTie;
                }
                if (nearTie == 0) {
                    const __m512i packedFloat = _mm512_permutex2var_epi8(bytes[0], packIndex, bytes[1]);
                    _mm256_mask_storeu_epi8(out, kBlockBytes, _mm512_maskz_extracti64x4_epi64(kAll8, packedFloat, 0));
                    continue;
                }
                ++blocksNearTies;
            }
            const __m512i leftIndex = _mm512_maskz_cvtepu32_epi64(kAll8, byteIndex);
            __m256i packed = _mm256_setzero_si256();
#pragma GCC unroll 4
            for (int channel = 0; channel < Channels; ++channel) {
                const __m512i pickLeft = _mm512_add_epi64(leftIndex, pickOffsets[channel]);
                const __m512i pickRight = _mm512_add_epi64(leftIndex, pickOffsets[channel + Channels]);
                const __m512d a = _mm512_castsi512_pd(_mm512_mask2_permutex2var_epi8(first, pickLeft, kLowBytes, second));
                const __m512d b = _mm512_castsi512_pd(_mm512_mask2_permutex2var_epi8(first, pickRight, kLowBytes, second));
                const __m512d c = _mm512_castsi512_pd(_mm512_mask2_permutex2var_epi8(second, pickLeft, kLowBytes, third));
                const __m512d d = _mm512_castsi512_pd(_mm512_mask2_permutex2var_epi8(second, pickRight, kLowBytes, third));
                const __m512d upperLeft = _mm512_sub_pd(a, twoTo52);
                const __m512d lowerLeft = _mm512_sub_pd(c, twoTo52);
                const __m512d topBlend = _mm512_add_pd(upperLeft, _mm512_mul_pd(fx, _mm512_sub_pd(b, a)));
                const __m512d bottomBlend = _mm512_add_pd(lowerLeft, _mm512_mul_pd(fx, _mm512_sub_pd(d, c)));
                const __m512d value = _mm512_add_pd(topBlend, _mm512_mul_pd(fy, _mm512_sub_pd(bottomBlend, topBlend)));
                const __m256i bytes = _mm512_maskz_cvttpd_epi32(kAll8, _mm512_add_pd(value, half));
                packed = _mm256_or_si256(packed, _mm256_slli_epi32(bytes, 8 * channel));
            }
            if constexpr (Channels == 3) packed = _mm256_maskz_permutexvar_epi8(kBlockBytes, wordIndex, packed);
            _mm256_mask_storeu_epi8(out, kBlockBytes, packed);
        }
        if (floatRow) floatFirst = 4 * blocksNearTies <= blocksInFloat;
        for (; i < job.destinationWidth; ++i) {
            const double x = loadFloat(xRow, i);
            const double y = loadFloat(yRow, i);
            if (!(x >= job.left && x <= job.right && y >= job.top && y <= job.bottom)) continue;
            BilinearSampler<Channels>::sample(source, x, y, destinationRow + Channels * static_cast<std::ptrdiff_t>(i));
        }
    }
}

// bilinearAxis's index on sixteen lanes: trunc(position + bias) in double.
[[gnu::target("avx512f,avx512bw,avx512dq,avx512vl"), gnu::always_inline]] inline __m512i truncatedIndices(__m512 position,
                                                                                                      __m512d bias) {
    constexpr __mmask8 kAll8 = 0xFF;
    const __m256 low = _mm512_maskz_extractf32x8_ps(kAll8, position, 0);
    const __m256 high = _mm512_maskz_extractf32x8_ps(kAll8, position, 1);
    const __m256i lowIndex = _mm512_maskz_cvttpd_epi32(kAll8, _mm512_add_pd(_mm512_maskz_cvtps_pd(kAll8, low), bias));
    const __m256i highIndex = _mm512_maskz_cvttpd_epi32(kAll8, _mm512_add_pd(_mm512_maskz_cvtps_pd(kAll8, high), bias));
    return _mm512_maskz_inserti64x4(kAll8, _mm512_castsi256_si512(lowIndex), highIndex, 1);
}

// The smallest of sixteen integers. (The zero-masking forms: GCC's plain
// ones start from an undefined register, which it reports as uninitialised.)
[[gnu::target("avx512f,avx512bw,avx512dq,avx512vl"), gnu::always_inline]] inline int32_t smallestLane(__m512i v) {
    constexpr __mmask16 kAll16 = 0xFFFF;
    v = _mm512_maskz_min_epi32(kAll16, v, _mm512_maskz_shuffle_i32x4(kAll16, v, v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm512_maskz_min_epi32(kAll16, v, _mm512_maskz_shuffle_i32x4(kAll16, v, v, _MM_SHUFFLE(2, 3, 0, 1)));
    v = _mm512_maskz_min_epi32(kAll16, v, _mm512_maskz_shuffle_epi32(kAll16, v, _MM_PERM_BADC));
    v = _mm512_maskz_min_epi32(kAll16, v, _mm512_maskz_shuffle_epi32(kAll16, v, _MM_PERM_CDAB));
    return _mm512_cvtsi512_si32(v);
}

// ---- One channel with byte permutes (AVX-512 VBMI) ------------------------
// Sixteen destination pixels at a time, in float, as the four-channel kernel
// blends (the same argument makes the float result the double's away from
// rounding boundaries): when the block's upper-left pixels lie within 31
// columns and three rows of each other (a warp's rows drift by two over
// sixteen pixels), four 32-byte source rows are loaded at the leftmost column
// and each lane's four neighbours picked from them; otherwise each lane's
// pixels are read on their own. A block with a position outside or a value
// near a rounding boundary, and the row's last pixels, go to the
// double-precision lanes.
[[gnu::target("avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi")]] void remapBilinearOneChannelVbmi(const RemapJob &job) {
    const SourceView &source = job.source;
    const auto step = static_cast<int32_t>(source.step);
    // One past the source's last byte: no 32-byte row load may pass it.
    const std::ptrdiff_t end = (source.height - 1) * source.step + source.width;
    constexpr __mmask16 kAll16 = 0xFFFF;
    constexpr __mmask64 kLowBytesOfFloats = 0x1111111111111111;
    const __m512i twoTo23Bits = _mm512_set1_epi32(0x4B000000);
    const __m512i twoTo23BitsRight = _mm512_set1_epi32(0x4B000000 + 1);
    const __m512i twoTo23BitsBelow = _mm512_set1_epi32(0x4B000000 + 32);
    const __m512i twoTo23BitsBelowRight = _mm512_set1_epi32(0x4B000000 + 33);
    constexpr __mmask8 kAll8 = 0xFF;
    const __m512 one = _mm512_set1_ps(1.0f);
    const __m512d bias = _mm512_set1_pd(kTruncationBias);
    const __m512i lastColumn = _mm512_set1_epi32(source.width - 1);
    const __m512i lastRow = _mm512_set1_epi32(source.height - 1);
    const __m512i columnLimit = _mm512_set1_epi32(source.width - 2);
    const __m512i rowLimit = _mm512_set1_epi32(source.height - 2);
    // A lane's right neighbour at byte 31 of its row at most.
    const __m512i widestColumns = _mm512_set1_epi32(30);
    const __m512i oneRow = _mm512_set1_epi32(1);
    const __m512i twoRows = _mm512_set1_epi32(2);
    const __m512 areaLeft = _mm512_set1_ps(static_cast<float>(job.left));
    const __m512 areaRight = _mm512_set1_ps(static_cast<float>(job.right));
    const __m512 areaTop = _mm512_set1_ps(static_cast<float>(job.top));
    const __m512 areaBottom = _mm512_set1_ps(static_cast<float>(job.bottom));
    // As in the four-channel kernel: rows full of exact ties go to the
    // doubles, every 16th row tries float again.
    bool floatFirst = true;
    for (int32_t j = 0; j < job.destinationHeight; ++j) {
        const uint8_t *xRow = job.xMap + static_cast<std::ptrdiff_t>(j) * job.xMapStep;
        const uint8_t *yRow = job.yMap + static_cast<std::ptrdiff_t>(j) * job.yMapStep;
        uint8_t *destinationRow = job.destination + static_cast<std::ptrdiff_t>(j) * job.destinationStep;
        // Pixels first .. first + count - 1 of this row through the doubles.
        const auto inDoubles = [&](int32_t first, int32_t count) {
            RemapJob part = job;
            part.xMap = xRow + 4 * static_cast<std::ptrdiff_t>(first);
            part.yMap = yRow + 4 * static_cast<std::ptrdiff_t>(first);
            part.destination = destinationRow + first;
            part.destinationWidth = count;
            part.destinationHeight = 1;
            remapBilinearAvx512<1>(part);
        };
        if (!floatFirst && j % 16 != 0) {
            inDoubles(0, job.destinationWidth);
            continue;
        }
        int32_t blocksInFloat = 0;
        int32_t blocksNearTies = 0;
        int32_t i = 0;
        for (; i + 16 <= job.destinationWidth; i += 16) {
            const __m512 x = _mm512_loadu_ps(reinterpret_cast<const float *>(xRow + 4 * static_cast<std::ptrdiff_t>(i)));
            const __m512 y = _mm512_loadu_ps(reinterpret_cast<const float *>(yRow + 4 * static_cast<std::ptrdiff_t>(i)));
            // Ordered comparisons: NaN is outside. The bounds are integers
            // below 2^24, exact in float.
            const __mmask16 inside = _mm512_cmp_ps_mask(x, areaLeft, _CMP_GE_OQ) & _mm512_cmp_ps_mask(x, areaRight, _CMP_LE_OQ) &
                                     _mm512_cmp_ps_mask(y, areaTop, _CMP_GE_OQ) & _mm512_cmp_ps_mask(y, areaBottom, _CMP_LE_OQ);
            if (inside != kAll16) {
                inDoubles(i, 16);
                continue;
            }
            // bilinearAxis on lanes: the index truncated from the position
            // plus the bias in double; trunc(position + bias) >= size - 1
            // exactly when the index is, and then the fraction is 1.
            __m512i ix = truncatedIndices(x, bias);
            __m512i iy = truncatedIndices(y, bias);
            // position - index is exact in float (see the four-channel kernel).
            const __m512 fx = _mm512_mask_blend_ps(_mm512_cmp_epi32_mask(ix, lastColumn, _MM_CMPINT_NLT),
                                                   _mm512_sub_ps(x, _mm512_maskz_cvtepi32_ps(kAll16, ix)), one);
            const __m512 fy = _mm512_mask_blend_ps(_mm512_cmp_epi32_mask(iy, lastRow, _MM_CMPINT_NLT),
                                                   _mm512_sub_ps(y, _mm512_maskz_cvtepi32_ps(kAll16, iy)), one);
            ix = _mm512_maskz_min_epi32(kAll16, ix, columnLimit);
            iy = _mm512_maskz_min_epi32(kAll16, iy, rowLimit);
            const int32_t leftColumn = smallestLane(ix);
            const int32_t topRow = smallestLane(iy);
            const __m512i columns = _mm512_sub_epi32(ix, _mm512_set1_epi32(leftColumn));
            const __m512i rows = _mm512_sub_epi32(iy, _mm512_set1_epi32(topRow));
            // The rows below the top one that a lane's lower neighbours reach
            // (1 to 3); rows past them are loaded as the last one needed, so
            // that no load passes the source's end for nothing.
            const int32_t lastNeeded = (_mm512_cmp_epu32_mask(rows, oneRow, _MM_CMPINT_NLT) != 0 ? 1 : 0) +
                                       (_mm512_cmp_epu32_mask(rows, oneRow, _MM_CMPINT_NLE) != 0 ? 1 : 0) + 1;
            const std::ptrdiff_t windowStart = static_cast<std::ptrdiff_t>(topRow) * step + leftColumn;
            const bool window = _mm512_cmp_epu32_mask(columns, widestColumns, _MM_CMPINT_LE) == kAll16 &&
                                _mm512_cmp_epu32_mask(rows, twoRows, _MM_CMPINT_LE) == kAll16 &&
                                windowStart + lastNeeded * source.step + 32 <= end;
            ++blocksInFloat;
            __m512 a;
            __m512 b;
            __m512 c;
            __m512 d;
            if (window) {
                // Four 32-byte rows in two registers: byte 32 * r + column is
                // row r's, so a lane's upper neighbours are at its index and
                // its lower ones 32 further.
                const uint8_t *start = source.pixels + windowStart;
                const auto *row0 = reinterpret_cast<const __m256i *>(start);
                const auto *row1 = reinterpret_cast<const __m256i *>(start + step);
                const auto *row2 = reinterpret_cast<const __m256i *>(start + std::min(2, lastNeeded) * static_cast<std::ptrdiff_t>(step));
                const auto *row3 = reinterpret_cast<const __m256i *>(start + lastNeeded * static_cast<std::ptrdiff_t>(step));
                const __m512i upperRows =
                    _mm512_maskz_inserti64x4(kAll8, _mm512_castsi256_si512(_mm256_loadu_si256(row0)), _mm256_loadu_si256(row1), 1);
                const __m512i lowerRows =
                    _mm512_maskz_inserti64x4(kAll8, _mm512_castsi256_si512(_mm256_loadu_si256(row2)), _mm256_loadu_si256(row3), 1);
                const __m512i byteIndex = _mm512_add_epi32(columns, _mm512_maskz_slli_epi32(kAll16, rows, 5));
                a = _mm512_castsi512_ps(_mm512_mask2_permutex2var_epi8(upperRows, _mm512_add_epi32(byteIndex, twoTo23Bits),
                                                                       kLowBytesOfFloats, lowerRows));
                b = _mm512_castsi512_ps(_mm512_mask2_permutex2var_epi8(upperRows, _mm512_add_epi32(byteIndex, twoTo23BitsRight),
                                                                       kLowBytesOfFloats, lowerRows));
                c = _mm512_castsi512_ps(_mm512_mask2_permutex2var_epi8(upperRows, _mm512_add_epi32(byteIndex, twoTo23BitsBelow),
                                                                       kLowBytesOfFloats, lowerRows));
                d = _mm512_castsi512_ps(_mm512_mask2_permutex2var_epi8(
                    upperRows, _mm512_add_epi32(byteIndex, twoTo23BitsBelowRight), kLowBytesOfFloats, lowerRows));
            } else {
                // Pixels apart (a strong warp, a reduction): each lane's two
                // pairs read as 16-bit words, every read within the source
                // (the upper-left pixel is at most the last but one of a row
                // and of the rows).
                alignas(64) int32_t offsets[16];
                _mm512_store_si512(offsets, _mm512_add_epi32(_mm512_mullo_epi32(iy, _mm512_set1_epi32(step)), ix));
                alignas(64) uint32_t upper[16];
                alignas(64) uint32_t lower[16];
                for (int k = 0; k < 16; ++k) {
                    uint16_t pair;
                    std::memcpy(&pair, source.pixels + offsets[k], 2);
                    upper[k] = pair;
                    std::memcpy(&pair, source.pixels + offsets[k] + step, 2);
                    lower[k] = pair;
                }
                const __m512i upperPairs = _mm512_load_si512(upper);
                const __m512i lowerPairs = _mm512_load_si512(lower);
                const __m512i lowByte = _mm512_set1_epi32(255);
                a = _mm512_castsi512_ps(_mm512_or_si512(_mm512_and_si512(upperPairs, lowByte), twoTo23Bits));
                b = _mm512_castsi512_ps(_mm512_or_si512(_mm512_maskz_srli_epi32(kAll16, upperPairs, 8), twoTo23Bits));
                c = _mm512_castsi512_ps(_mm512_or_si512(_mm512_and_si512(lowerPairs, lowByte), twoTo23Bits));
                d = _mm512_castsi512_ps(_mm512_or_si512(_mm512_maskz_srli_epi32(kAll16, lowerPairs, 8), twoTo23Bits));
            }
            __mmask16 nearTie;
            const __m512i bytes = blendInFloat(a, b, c, d, fx, fy, nearTie);
            if (nearTie != 0) {
                ++blocksNearTies;
                inDoubles(i, 16);
                continue;
            }
            _mm_storeu_si128(reinterpret_cast<__m128i *>(destinationRow + i), _mm512_maskz_cvtepi32_epi8(kAll16, bytes));
        }
        if (i < job.destinationWidth) inDoubles(i, job.destinationWidth - i);
        floatFirst = 4 * blocksNearTies <= blocksInFloat;
    }
}

#endif
template <int Channels>
void remapBilinearBaseline(const RemapJob &job) {
    portable::remapBilinearLanes<Channels, 4>(job);
}

// The lanes' remap where it gains (AVX2 or wider: the gathers); false where
// the plain loop is to run.
template <int Channels>
bool remapBilinearFast(const RemapJob &job) {
    if (!offsetsReachSource(job.source, Channels)) return false;
    switch (kernelLevel()) {
#if defined(__x86_64__) || defined(__i386__)
        case KernelLevel::Avx2: remapBilinearAvx2<Channels>(job); return true;
        case KernelLevel::Avx512:
            if (byteShufflesEnabled()) {
                if constexpr (Channels == 1) {
                    remapBilinearOneChannelVbmi(job);
                } else {
                    remapBilinearPixelsVbmi<Channels>(job);
                }
                return true;
            }
            remapBilinearAvx512<Channels>(job);
            return true;
#endif
        case KernelLevel::Baseline: remapBilinearBaseline<Channels>(job); return true;
        default: return false;
    }
}

template <int Channels>
void remapWithInterpolation(const RemapJob &job, int32_t interpolation) {
    const int32_t width = job.source.width;
    const int32_t height = job.source.height;
    // A single row or column has no neighbour to blend with -> nearest; cubic
    // on fewer than 4 pixels either way -> bilinear.
    if (width == 1 || height == 1 || interpolation == kInterpolationNearest) {
        remapRows<Channels, NearestSampler>(job);
    } else if (interpolation == kInterpolationCubic && width >= 4 && height >= 4) {
        remapRows<Channels, CubicSampler>(job);
    } else if (!remapBilinearFast<Channels>(job)) {
        remapRows<Channels, BilinearSampler>(job);
    }
}

// The number of destination columns (rows) a resize writes,
// trunc(size * factor + 0.0000001) at most `limit`, in double precision.
int32_t scaledCount(int32_t size, double factor, int32_t limit) {
    const double scaled = size * factor + kTruncationBias;
    if (scaled >= limit) return limit;  // also keeps huge values from the conversion
    return static_cast<int32_t>(scaled);
}

// One destination column (row) of the resize: the two source indices of the
// blend and the weight of the second.
struct ResizeTap {
    int32_t first;
    int32_t second;
    double fraction;
};

// Corner-aligned taps for `count` destination positions over `size` source
// values: position = X * (size - 1) / (size * factor - 1). The product is an
// exact integer in double and the division comes last, so the last position of
// an integral scaled size is exactly size - 1.
std::vector<ResizeTap> resizeTaps(int32_t size, double factor, int32_t count, bool nearest) {
    std::vector<ResizeTap> taps(static_cast<std::size_t>(count));
    const double scaledSize = size * factor;
    const int32_t last = size - 1;
    for (int32_t X = 0; X < count; ++X) {
        double position = 0.0;
        // A single source value, or a single written value, replicates: the
        // formula would divide 0 by 0 (or by a value near 0).
        if (size > 1 && count > 1) {
            position = static_cast<double>(X) * last / (scaledSize - 1.0);
            // A scaled size a rounding error below an integer (an odd W / w)
            // would put the last position past the last value.
            position = std::clamp(position, 0.0, static_cast<double>(last));
        }
        ResizeTap &tap = taps[static_cast<std::size_t>(X)];
        if (nearest) {
            tap.first = std::min(static_cast<int32_t>(position + 0.5), last);
            tap.second = tap.first;
            tap.fraction = 0.0;
            continue;
        }
        tap.first = static_cast<int32_t>(position);
        if (tap.first >= last) {
            // At the last value the missing neighbour has weight 0 and is
            // never read.
            tap.first = last;
            tap.second = last;
            tap.fraction = 0.0;
        } else {
            tap.second = tap.first + 1;
            tap.fraction = position - tap.first;
        }
    }
    return taps;
}

// ---- The bilinear map resize on lanes --------------------------------------
// The plain loop blends two source rows along x for every destination row;
// here each source row is blended along x once, into doubles (the same
// values: the same taps, the same operations), and kept while the
// destination rows that use it are made. Both blends run on N lanes of
// doubles. The bits are those of the plain loop.
struct ResizeJob {
    const uint8_t *source;  // the rectangle's first value
    std::ptrdiff_t sourceStep;
    int32_t sourceWidth;  // values of a row that the taps may read
    uint8_t *destination;
    std::ptrdiff_t destinationStep;
    const std::vector<ResizeTap> *columnTaps;
    const std::vector<ResizeTap> *rowTaps;
};

// The blend along x of N destination columns at a time. Where a block's
// taps all fall within 2N consecutive source values (always when enlarging),
// the values are read with one load and put in place with one permute:
// lanes 0 to N-1 take the first tap of each column, lanes N to 2N-1 the
// second. Other blocks read their taps one by one.
template <int N>
class ColumnBlend {
public:
    using Doubles = lanes::Vec<double, N>;
    using Floats = lanes::Vec<float, N>;
    using Window = lanes::Vec<float, 2 * N>;
    using WindowIndex = lanes::Vec<int32_t, 2 * N>;

    ColumnBlend(const std::vector<ResizeTap> &taps, int32_t sourceWidth)
        : taps_(taps), blocks_(static_cast<std::size_t>(taps.size() / N)) {
        for (std::size_t b = 0; b < blocks_.size(); ++b) {
            Block &block = blocks_[b];
            const ResizeTap *first = &taps[b * N];
            block.start = first[0].first;
            bool inWindow = block.start + 2 * N <= sourceWidth;
            for (int k = 0; k < N; ++k) {
                block.index[k] = first[k].first - block.start;
                block.index[N + k] = first[k].second - block.start;
                block.fraction[k] = first[k].fraction;
                inWindow = inWindow && block.index[k] >= 0 && block.index[N + k] >= 0 &&
                           block.index[k] < 2 * N && block.index[N + k] < 2 * N;
            }
            if (!inWindow) block.start = -1;
        }
    }

    // Blends one source row (its first value at `row`) into `out`, one
    // double per destination column.
    [[gnu::always_inline]] void blendRow(const uint8_t *row, double *out) const {
        for (std::size_t b = 0; b < blocks_.size(); ++b) {
            const Block &block = blocks_[b];
            double *blockOut = out + b * N;
            if (block.start < 0) {
                blendColumns(row, b * N, (b + 1) * N, out);
                continue;
            }
            const Window picked = lanes::permute(lanes::load<Window>(row + 4 * static_cast<std::ptrdiff_t>(block.start)),
                                                 lanes::load<WindowIndex>(block.index));
            const Doubles s0 = lanes::convert<Doubles>(lanes::load<Floats>(reinterpret_cast<const float *>(&picked)));
            const Doubles s1 = lanes::convert<Doubles>(lanes::load<Floats>(reinterpret_cast<const float *>(&picked) + N));
            lanes::store(blockOut, s0 + lanes::load<Doubles>(block.fraction) * (s1 - s0));
        }
        blendColumns(row, blocks_.size() * N, taps_.size(), out);
    }

private:
    // Plain arrays, read into lanes with unaligned loads: the blocks' storage
    // need not be aligned for the widest lanes.
    struct Block {
        int32_t index[2 * N];  // of each lane's value, from `start`
        double fraction[N];
        int32_t start;  // the window's first source value; -1: taps one by one
    };

    void blendColumns(const uint8_t *row, std::size_t begin, std::size_t end, double *out) const {
        for (std::size_t X = begin; X < end; ++X) {
            const ResizeTap &tap = taps_[X];
            const double s0 = loadFloat(row, tap.first);
            const double s1 = loadFloat(row, tap.second);
            out[X] = s0 + tap.fraction * (s1 - s0);
        }
    }

    const std::vector<ResizeTap> &taps_;
    std::vector<Block> blocks_;
};

// Destination rows first .. first + count - 1 (the taps' rows), row Y at
// job.destination + (Y - first) * step. rowsAlongX holds two rows of doubles
// of the destination's width.
template <int N>
[[gnu::always_inline]] inline void resizeBilinearLanes(const ResizeJob &job, const ColumnBlend<N> &columns,
                                                       int32_t first, int32_t count, double *rowsAlongX) {
    using Doubles = lanes::Vec<double, N>;
    using Floats = lanes::Vec<float, N>;
    const auto width = static_cast<int32_t>(job.columnTaps->size());
    // Two source rows blended along x, and which rows they are.
    double *slots[2] = {rowsAlongX, rowsAlongX + width};
    int32_t held[2] = {-1, -1};
    int32_t older = 0;
    // Inlined, so that the blend is compiled for the caller's target.
    const auto blended = [&](int32_t sourceRow, int32_t keep) __attribute__((always_inline)) -> const double * {
        for (int s = 0; s < 2; ++s) {
            if (held[s] == sourceRow) return slots[s];
        }
        const int slot = held[older] == keep ? 1 - older : older;
        columns.blendRow(job.source + static_cast<std::ptrdiff_t>(sourceRow) * job.sourceStep, slots[slot]);
        held[slot] = sourceRow;
        older = 1 - slot;
        return slots[slot];
    };
    for (int32_t Y = first; Y < first + count; ++Y) {
        const ResizeTap &rowTap = (*job.rowTaps)[static_cast<std::size_t>(Y)];
        const double *top = blended(rowTap.first, -1);
        const double *bottom = blended(rowTap.second, rowTap.first);
        const double fy = rowTap.fraction;
        uint8_t *destinationRow = job.destination + static_cast<std::ptrdiff_t>(Y - first) * job.destinationStep;
        int32_t X = 0;
        for (; X + N <= width; X += N) {
            const Doubles t = lanes::load<Doubles>(top + X);
            const Doubles b = lanes::load<Doubles>(bottom + X);
            lanes::store(destinationRow + 4 * static_cast<std::ptrdiff_t>(X), lanes::convert<Floats>(t + fy * (b - t)));
        }
        for (; X < width; ++X) storeFloat(destinationRow, X, static_cast<float>(top[X] + fy * (bottom[X] - top[X])));
    }
}

#if defined(__x86_64__) || defined(__i386__)
[[gnu::target("avx512f,avx512bw,avx512dq,avx512vl")]] void resizeBilinearAvx512(const ResizeJob &job,
                                                                                const ColumnBlend<8> &columns,
                                                                                int32_t first, int32_t count,
                                                                                double *rows) {
    resizeBilinearLanes<8>(job, columns, first, count, rows);
}
[[gnu::target("avx2")]] void resizeBilinearAvx2(const ResizeJob &job, const ColumnBlend<4> &columns, int32_t first,
                                                int32_t count, double *rows) {
    resizeBilinearLanes<4>(job, columns, first, count, rows);
}
#endif
void resizeBilinearBaseline(const ResizeJob &job, const ColumnBlend<2> &columns, int32_t first, int32_t count,
                            double *rows) {
    resizeBilinearLanes<2>(job, columns, first, count, rows);
}

// The plain loop of the resize on destination rows first .. first + count -
// 1, row Y at job.destination + (Y - first) * step. Nearest goes through the
// same formula: its taps hold one index twice with fraction 0.
void resizePlainRows(const ResizeJob &job, int32_t first, int32_t count) {
    const std::vector<ResizeTap> &columnTaps = *job.columnTaps;
    for (int32_t Y = first; Y < first + count; ++Y) {
        const ResizeTap &rowTap = (*job.rowTaps)[static_cast<std::size_t>(Y)];
        const uint8_t *upper = job.source + static_cast<std::ptrdiff_t>(rowTap.first) * job.sourceStep;
        const uint8_t *lower = job.source + static_cast<std::ptrdiff_t>(rowTap.second) * job.sourceStep;
        uint8_t *destinationRow = job.destination + static_cast<std::ptrdiff_t>(Y - first) * job.destinationStep;
        const double fy = rowTap.fraction;
        for (std::size_t X = 0; X < columnTaps.size(); ++X) {
            const ResizeTap &tap = columnTaps[X];
            const double fx = tap.fraction;
            const double s00 = loadFloat(upper, tap.first);
            const double s01 = loadFloat(upper, tap.second);
            const double s10 = loadFloat(lower, tap.first);
            const double s11 = loadFloat(lower, tap.second);
            const double top = s00 + fx * (s01 - s00);
            const double bottom = s10 + fx * (s11 - s10);
            storeFloat(destinationRow, static_cast<std::ptrdiff_t>(X), static_cast<float>(top + fy * (bottom - top)));
        }
    }
}

}  // namespace

int32_t remap(int channels, const uint8_t *source, int32_t sourceWidth, int32_t sourceHeight,
              int32_t sourceStep, IntRect sourceRect, const float *xMap, int32_t xMapStep,
              const float *yMap, int32_t yMapStep, uint8_t *destination, int32_t destinationStep,
              int32_t destinationWidth, int32_t destinationHeight, int32_t interpolation) {
    // The channel count chooses the variant (one per channel count), so an
    // unknown one is refused before any argument.
    if (channels != 1 && channels != 3 && channels != 4) return kResampleBadSize;
    // The checks in the order of the contract in resampling.h.
    if (source == nullptr || xMap == nullptr || yMap == nullptr || destination == nullptr) {
        return kResampleNullPointer;
    }
    if (sourceWidth < 1 || sourceHeight < 1 || destinationWidth < 1 || destinationHeight < 1 ||
        sourceRect.x < 0 || sourceRect.y < 0 || sourceRect.width < 1 || sourceRect.height < 1) {
        return kResampleBadSize;
    }
    if (interpolation != kInterpolationNearest && interpolation != kInterpolationBilinear &&
        interpolation != kInterpolationCubic) {
        return kResampleBadInterpolation;
    }
    if (sourceStep < 1 || xMapStep < 1 || yMapStep < 1 || destinationStep < 1) return kResampleBadStep;
    if (sourceRect.x >= sourceWidth || sourceRect.y >= sourceHeight) return kResampleOutsideSource;

    RemapJob job{};
    job.source = SourceView{source, sourceStep, sourceWidth, sourceHeight};
    job.left = sourceRect.x;
    job.right = sourceRect.x + usableExtent(sourceWidth, sourceRect.x, sourceRect.width) - 1;
    job.top = sourceRect.y;
    job.bottom = sourceRect.y + usableExtent(sourceHeight, sourceRect.y, sourceRect.height) - 1;
    job.xMap = reinterpret_cast<const uint8_t *>(xMap);
    job.xMapStep = xMapStep;
    job.yMap = reinterpret_cast<const uint8_t *>(yMap);
    job.yMapStep = yMapStep;
    job.destination = destination;
    job.destinationStep = destinationStep;
    job.destinationWidth = destinationWidth;
    job.destinationHeight = destinationHeight;

    switch (channels) {
        case 1: remapWithInterpolation<1>(job, interpolation); break;
        case 3: remapWithInterpolation<3>(job, interpolation); break;
        default: remapWithInterpolation<4>(job, interpolation); break;
    }
    return kResampleOk;
}

int32_t copy4(const uint8_t *source, int32_t sourceStep, uint8_t *destination,
              int32_t destinationStep, int32_t width, int32_t height) {
    if (source == nullptr || destination == nullptr) return kResampleNullPointer;
    if (width < 1 || height < 1) return kResampleBadSize;
    if (sourceStep < 1 || destinationStep < 1) return kResampleBadStep;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
    for (int32_t row = 0; row < height; ++row) {
        std::memmove(destination + static_cast<std::ptrdiff_t>(row) * destinationStep,
                     source + static_cast<std::ptrdiff_t>(row) * sourceStep, rowBytes);
    }
    return kResampleOk;
}

int32_t resizeMap(const float *source, int32_t sourceWidth, int32_t sourceHeight,
                  int32_t sourceStep, IntRect sourceRect, float *destination,
                  int32_t destinationStep, int32_t destinationWidth, int32_t destinationHeight,
                  double xFactor, double yFactor, int32_t interpolation) {
    if (source == nullptr || destination == nullptr) return kResampleNullPointer;
    if (sourceWidth < 1 || sourceHeight < 1 || destinationWidth < 1 || destinationHeight < 1 ||
        sourceRect.x < 0 || sourceRect.y < 0 || sourceRect.width < 1 || sourceRect.height < 1) {
        return kResampleBadSize;
    }
    if (interpolation != kInterpolationNearest && interpolation != kInterpolationBilinear) {
        return kResampleBadInterpolation;
    }
    if (!std::isfinite(xFactor) || !std::isfinite(yFactor) || !(xFactor > 0.0) || !(yFactor > 0.0)) {
        return kResampleBadFactor;
    }
    if (sourceStep < 1 || destinationStep < 1) return kResampleBadStep;
    if (sourceRect.x >= sourceWidth || sourceRect.y >= sourceHeight) return kResampleOutsideSource;

    const int32_t width = usableExtent(sourceWidth, sourceRect.x, sourceRect.width);
    const int32_t height = usableExtent(sourceHeight, sourceRect.y, sourceRect.height);
    const int32_t writtenWidth = scaledCount(width, xFactor, destinationWidth);
    const int32_t writtenHeight = scaledCount(height, yFactor, destinationHeight);
    if (writtenWidth < 1 || writtenHeight < 1) return kResampleOk;

    const bool nearest = interpolation == kInterpolationNearest;
    const std::vector<ResizeTap> columnTaps = resizeTaps(width, xFactor, writtenWidth, nearest);
    const std::vector<ResizeTap> rowTaps = resizeTaps(height, yFactor, writtenHeight, nearest);

    const ResizeJob job{reinterpret_cast<const uint8_t *>(source) + static_cast<std::ptrdiff_t>(sourceRect.y) * sourceStep +
                            static_cast<std::ptrdiff_t>(sourceRect.x) * 4,
                        sourceStep, width, reinterpret_cast<uint8_t *>(destination), destinationStep, &columnTaps, &rowTaps};
    const KernelLevel level = kernelLevel();
    if (!nearest && level != KernelLevel::Plain) {
        std::vector<double> rows(2 * static_cast<std::size_t>(writtenWidth));
        switch (level) {
#if defined(__x86_64__) || defined(__i386__)
            case KernelLevel::Avx512: resizeBilinearAvx512(job, ColumnBlend<8>(columnTaps, width), 0, writtenHeight, rows.data()); break;
            case KernelLevel::Avx2: resizeBilinearAvx2(job, ColumnBlend<4>(columnTaps, width), 0, writtenHeight, rows.data()); break;
#endif
            default: resizeBilinearBaseline(job, ColumnBlend<2>(columnTaps, width), 0, writtenHeight, rows.data()); break;
        }
        return kResampleOk;
    }
    resizePlainRows(job, 0, writtenHeight);
    return kResampleOk;
}

struct BandedMapResize::Prepared {
    std::vector<ResizeTap> columnTaps;
    std::vector<ResizeTap> rowTaps;
    ResizeJob job{};
    KernelLevel level = KernelLevel::Plain;
    // The column blend of the level's lane count; the others stay empty.
    std::unique_ptr<ColumnBlend<8>> blend8;
    std::unique_ptr<ColumnBlend<4>> blend4;
    std::unique_ptr<ColumnBlend<2>> blend2;
};

BandedMapResize::BandedMapResize(const float *source, int32_t width, int32_t height, int32_t sourceStep,
                                 int32_t destinationWidth, int32_t destinationHeight, double xFactor,
                                 double yFactor)
    : prepared_(std::make_unique<Prepared>()) {
    assert(source != nullptr && width >= 1 && height >= 1 && sourceStep >= 4 * width);
    assert(std::isfinite(xFactor) && std::isfinite(yFactor) && xFactor > 0.0 && yFactor > 0.0);
    writtenWidth_ = scaledCount(width, xFactor, destinationWidth);
    writtenHeight_ = scaledCount(height, yFactor, destinationHeight);
    Prepared &p = *prepared_;
    p.columnTaps = resizeTaps(width, xFactor, writtenWidth_, false);
    p.rowTaps = resizeTaps(height, yFactor, writtenHeight_, false);
    p.job = ResizeJob{reinterpret_cast<const uint8_t *>(source), sourceStep, width, nullptr, 0, &p.columnTaps, &p.rowTaps};
    p.level = kernelLevel();
    switch (p.level) {
        case KernelLevel::Plain: break;
#if defined(__x86_64__) || defined(__i386__)
        case KernelLevel::Avx512: p.blend8 = std::make_unique<ColumnBlend<8>>(p.columnTaps, width); break;
        case KernelLevel::Avx2: p.blend4 = std::make_unique<ColumnBlend<4>>(p.columnTaps, width); break;
#endif
        default: p.blend2 = std::make_unique<ColumnBlend<2>>(p.columnTaps, width); break;
    }
}

BandedMapResize::~BandedMapResize() = default;

void BandedMapResize::writeRows(int32_t first, int32_t count, float *destination, int32_t destinationStep,
                                double *scratch) const noexcept {
    const Prepared &p = *prepared_;
    assert(first >= 0);
    count = std::min(count, writtenHeight_ - first);
    if (count < 1 || writtenWidth_ < 1) return;
    ResizeJob job = p.job;
    job.destination = reinterpret_cast<uint8_t *>(destination);
    job.destinationStep = destinationStep;
    if (p.blend8) {
#if defined(__x86_64__) || defined(__i386__)
        resizeBilinearAvx512(job, *p.blend8, first, count, scratch);
#endif
    } else if (p.blend4) {
#if defined(__x86_64__) || defined(__i386__)
        resizeBilinearAvx2(job, *p.blend4, first, count, scratch);
#endif
    } else if (p.blend2) {
        resizeBilinearBaseline(job, *p.blend2, first, count, scratch);
    } else {
        resizePlainRows(job, first, count);
    }
}

}  // namespace kelmo
