// The HOG detector's separable filter for the face detector's AVX2 module:
// dlib's float_spatially_filter_image_separable for float images and float
// column-vector filters, with the same sums in the same order, on 16 lanes
// where the processor has AVX-512 and with its short ends of rows on lanes
// too. Included only by the module's face_detection.cpp, after dlib's
// filtering header and before the detector is used, so that the detector's
// calls take this specialisation; the tool's generic build keeps dlib's, and
// the module's detections are compared with it bit for bit.
//
// dlib's arithmetic, which every lane repeats: along each row (every row of
// the image), then down each column (the rows the column filter covers),
// each output value of the columns that dlib takes eight at a time is
// three partial sums over the taps n = 0, 3, 6, ... (plus the last taps when
// the count is not a multiple of three), n = 1, 4, ... and n = 2, 5, ...,
// each started from 0 and adding pixel * tap, then first + (second +
// third); the last columns of a row, fewer than eight, are one sum over the
// taps in order. With add_to the column result is added to what the output
// holds. No product is fused with a sum (-ffp-contract=off).
#pragma once

#include <immintrin.h>

#include <dlib/image_transforms/spatial_filtering.h>

// The sixteen-lane vectors never cross a call that is not inlined, so the
// warning that they change the calling convention does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace kelmo::cli::separable {

// Eight and sixteen float lanes.
typedef float Lanes8 __attribute__((vector_size(32)));
typedef float Lanes16 __attribute__((vector_size(64)));

struct Taps {
    const float *values;
    long count;
};

// The first `count` (0 to 8) lanes loaded from `from`; nothing past them is
// read.
[[gnu::always_inline]] inline Lanes8 loadFirst(const float *from, long count) {
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(count)), lane);
    return reinterpret_cast<Lanes8>(_mm256_maskload_ps(from, mask));
}

[[gnu::always_inline]] inline void storeFirst(float *to, long count, Lanes8 value) {
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(count)), lane);
    _mm256_maskstore_ps(to, mask, reinterpret_cast<__m256>(value));
}

template <class V>
[[gnu::always_inline]] inline V loadLanes(const float *from) {
    V value;
    __builtin_memcpy(&value, from, sizeof value);
    return value;
}

template <class V>
[[gnu::always_inline]] inline void storeLanes(float *to, V value) {
    __builtin_memcpy(to, &value, sizeof value);
}

// The three partial sums of dlib's eight-column blocks; tap n's pixels are
// load(n).
template <class V, class Load>
[[gnu::always_inline]] inline V threeSums(const Taps &taps, Load load) {
    V first{}, second{}, third{};
    long n = 0;
    for (; n < taps.count - 2; n += 3) {
        first = first + load(n) * taps.values[n];
        second = second + load(n + 1) * taps.values[n + 1];
        third = third + load(n + 2) * taps.values[n + 2];
    }
    for (; n < taps.count; ++n) first = first + load(n) * taps.values[n];
    return first + (second + third);
}

// The one sum, taps in order, of the columns after the last block.
template <class Load>
[[gnu::always_inline]] inline Lanes8 oneSum(const Taps &taps, Load load) {
    Lanes8 sum{};
    for (long n = 0; n < taps.count; ++n) sum = sum + load(n) * taps.values[n];
    return sum;
}

// Both passes over an image: `in` and `out`, `scratch` of nr rows at their
// row steps (in floats); columns first .. blockEnd - 1 in blocks of eight
// (sixteen at a time when Wide), blockEnd .. last - 1 as the one sum.
template <bool Wide>
[[gnu::always_inline]] inline void filterPasses(const float *in, long inStep, float *out, long outStep, float *scratch,
                                                long scratchStep, long rows, long firstRow, long lastRow, long firstColumn,
                                                long blockEnd, long lastColumn, const Taps &rowTaps,
                                                const Taps &columnTaps, bool addTo) {
    const long tail = lastColumn - blockEnd;  // 0 to 7 when positive
    for (long r = 0; r < rows; ++r) {
        const float *source = in + r * inStep;  // column c's taps start at source + c - firstColumn
        float *row = scratch + r * scratchStep;
        long c = firstColumn;
        if constexpr (Wide) {
            for (; c + 16 <= blockEnd; c += 16) {
                storeLanes(row + c, threeSums<Lanes16>(rowTaps, [&](long n) { return loadLanes<Lanes16>(source + (c - firstColumn) + n); }));
            }
        }
        for (; c < blockEnd; c += 8) {
            storeLanes(row + c, threeSums<Lanes8>(rowTaps, [&](long n) { return loadLanes<Lanes8>(source + (c - firstColumn) + n); }));
        }
        if (tail > 0) storeFirst(row + c, tail, oneSum(rowTaps, [&](long n) { return loadFirst(source + (c - firstColumn) + n, tail); }));
    }
    for (long r = firstRow; r < lastRow; ++r) {
        const float *top = scratch + (r - firstRow) * scratchStep;  // tap m's row is top + m * scratchStep
        float *row = out + r * outStep;
        long c = firstColumn;
        if constexpr (Wide) {
            for (; c + 16 <= blockEnd; c += 16) {
                Lanes16 sum = threeSums<Lanes16>(columnTaps, [&](long m) { return loadLanes<Lanes16>(top + m * scratchStep + c); });
                if (addTo) sum = sum + loadLanes<Lanes16>(row + c);
                storeLanes(row + c, sum);
            }
        }
        for (; c < blockEnd; c += 8) {
            Lanes8 sum = threeSums<Lanes8>(columnTaps, [&](long m) { return loadLanes<Lanes8>(top + m * scratchStep + c); });
            if (addTo) sum = sum + loadLanes<Lanes8>(row + c);
            storeLanes(row + c, sum);
        }
        if (tail > 0) {
            Lanes8 sum = oneSum(columnTaps, [&](long m) { return loadFirst(top + m * scratchStep + c, tail); });
            if (addTo) sum = loadFirst(row + c, tail) + sum;
            storeFirst(row + c, tail, sum);
        }
    }
}

[[gnu::target("avx512f,avx512vl")]] inline void filterPassesWide(const float *in, long inStep, float *out,
                                                                 long outStep, float *scratch, long scratchStep,
                                                                 long rows, long firstRow, long lastRow,
                                                                 long firstColumn, long blockEnd, long lastColumn,
                                                                 const Taps &rowTaps, const Taps &columnTaps,
                                                                 bool addTo) {
    filterPasses<true>(in, inStep, out, outStep, scratch, scratchStep, rows, firstRow, lastRow, firstColumn, blockEnd,
                       lastColumn, rowTaps, columnTaps, addTo);
}

inline void filterPassesEight(const float *in, long inStep, float *out, long outStep, float *scratch, long scratchStep,
                              long rows, long firstRow, long lastRow, long firstColumn, long blockEnd, long lastColumn,
                              const Taps &rowTaps, const Taps &columnTaps, bool addTo) {
    filterPasses<false>(in, inStep, out, outStep, scratch, scratchStep, rows, firstRow, lastRow, firstColumn, blockEnd,
                        lastColumn, rowTaps, columnTaps, addTo);
}

inline bool hasAvx512() {
    static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
    return has;
}

}  // namespace kelmo::cli::separable

namespace dlib {

// The detector's filter (see above): dlib's bounds, sizes and border
// clearing, its sums on wider lanes.
template <>
inline rectangle float_spatially_filter_image_separable<array2d<float>, array2d<float>, matrix<float, 0, 1>,
                                                        matrix<float, 0, 1>>(
    const array2d<float> &inImage, array2d<float> &outImage, const matrix_exp<matrix<float, 0, 1>> &rowFilter,
    const matrix_exp<matrix<float, 0, 1>> &columnFilter, array2d<float> &scratchImage, bool addTo) {
    namespace sep = kelmo::cli::separable;
    if (inImage.size() == 0) {
        outImage.clear();
        return rectangle();
    }
    const matrix<float, 0, 1> &rowTaps = rowFilter.ref();
    const matrix<float, 0, 1> &columnTaps = columnFilter.ref();
    const long rows = inImage.nr();
    outImage.set_size(rows, inImage.nc());
    const long firstRow = columnTaps.size() / 2;
    const long firstColumn = rowTaps.size() / 2;
    const long lastRow = rows - ((columnTaps.size() - 1) / 2);
    const long lastColumn = inImage.nc() - ((rowTaps.size() - 1) / 2);
    const rectangle nonBorder(firstColumn, firstRow, lastColumn - 1, lastRow - 1);
    if (!addTo) zero_border_pixels(outImage, nonBorder);
    scratchImage.set_size(rows, inImage.nc());
    // dlib's blocks of eight: while c < lastColumn - 7.
    long blockEnd = firstColumn;
    while (blockEnd < lastColumn - 7) blockEnd += 8;
    const sep::Taps row{&rowTaps(0), rowTaps.size()};
    const sep::Taps column{&columnTaps(0), columnTaps.size()};
    const auto stepOf = [](const array2d<float> &image) {
        return static_cast<long>(width_step(image) / static_cast<long>(sizeof(float)));
    };
    const auto *in = static_cast<const float *>(image_data(inImage));
    auto *out = static_cast<float *>(image_data(outImage));
    auto *scratch = static_cast<float *>(image_data(scratchImage));
    (sep::hasAvx512() ? sep::filterPassesWide : sep::filterPassesEight)(
        in, stepOf(inImage), out, stepOf(outImage), scratch, stepOf(scratchImage), rows, firstRow, lastRow,
        firstColumn, blockEnd, lastColumn, row, column, addTo);
    return nonBorder;
}

}  // namespace dlib
