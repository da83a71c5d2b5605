// The displacement kernels for each instruction set: the body in
// displacement_lanes.inl, compiled under each target in its own namespace.
#include "warp/displacement_lanes.h"

#include <algorithm>
#include <cassert>
#include <utility>

#include "frame/vector_lanes.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KELMO_DISPLACEMENT_X86 1
// The wider kernels are compiled for their instruction sets by GCC's
// per-function target options; other compilers (clang builds the fuzz
// targets) take the 4-lane kernel at every level, which gives the same bits.
#if defined(__GNUC__) && !defined(__clang__)
#define KELMO_DISPLACEMENT_WIDE 1
#endif
#endif

namespace kelmo {

namespace {

#if defined(KELMO_DISPLACEMENT_WIDE)
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512dq,avx512vl")
namespace avx512 {
constexpr int kLanes = 16;
[[gnu::always_inline]] inline lanes::Vec<float, 16> sqrtLanes(lanes::Vec<float, 16> value) {
    // The zero-masked form: the plain one reads an undefined register (and warns).
    return lanes::Vec<float, 16>(_mm512_maskz_sqrt_ps(static_cast<__mmask16>(0xFFFF), __m512(value)));
}
#include "warp/displacement_lanes.inl"
}  // namespace avx512
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
constexpr int kLanes = 8;
[[gnu::always_inline]] inline lanes::Vec<float, 8> sqrtLanes(lanes::Vec<float, 8> value) {
    return lanes::Vec<float, 8>(_mm256_sqrt_ps(__m256(value)));
}
#include "warp/displacement_lanes.inl"
}  // namespace avx2
#pragma GCC pop_options
#endif

namespace baseline {
constexpr int kLanes = 4;
[[gnu::always_inline]] inline lanes::Vec<float, 4> sqrtLanes(lanes::Vec<float, 4> value) {
#if defined(KELMO_DISPLACEMENT_X86)
    return lanes::Vec<float, 4>(_mm_sqrt_ps(__m128(value)));
#else
    for (int k = 0; k < 4; ++k) value[k] = __builtin_sqrtf(value[k]);
    return value;
#endif
}
#include "warp/displacement_lanes.inl"
}  // namespace baseline

}  // namespace

void fieldRowOnLanes(KernelLevel level, const FieldRows &rows, int32_t j, int32_t *scratch) {
    assert(level != KernelLevel::Plain);
    switch (level) {
#if defined(KELMO_DISPLACEMENT_WIDE)
        case KernelLevel::Avx512:
            if (rows.halfWidth >= avx512::kLanes) return avx512::fieldRow(rows, j, scratch);
            [[fallthrough]];
        case KernelLevel::Avx2:
            if (rows.halfWidth >= avx2::kLanes) return avx2::fieldRow(rows, j, scratch);
            [[fallthrough]];
#endif
        default:
            assert(rows.halfWidth >= baseline::kLanes);
            baseline::fieldRow(rows, j, scratch);
    }
}

void gridRowOnLanes(KernelLevel level, const FieldRows &rows, int32_t b) {
    assert(level != KernelLevel::Plain);
    switch (level) {
#if defined(KELMO_DISPLACEMENT_WIDE)
        case KernelLevel::Avx512: return avx512::gridRow(rows, b);
        case KernelLevel::Avx2: return avx2::gridRow(rows, b);
#endif
        default: return baseline::gridRow(rows, b);
    }
}

bool tableHoldsSquareRoots(KernelLevel level, const float *table, std::size_t first, std::size_t count) {
    switch (level) {
#if defined(KELMO_DISPLACEMENT_WIDE)
        case KernelLevel::Avx512: return avx512::tableIsExact(table, first, count);
        case KernelLevel::Avx2: return avx2::tableIsExact(table, first, count);
#endif
        default: return baseline::tableIsExact(table, first, count);
    }
}

}  // namespace kelmo
