// The 3D field's kernels for each instruction set (see field3d_lanes.h): the
// body in field3d_lanes.inl, compiled in a namespace per target with that
// target's square root.
#include "fitting/field3d_lanes.h"

#include "frame/vector_lanes.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KELMO_FIELD3D_X86 1
// The wider kernels need GCC's per-function target options; other compilers
// take the 4-lane kernel at every level, which gives the same bits.
#if defined(__GNUC__) && !defined(__clang__)
#define KELMO_FIELD3D_WIDE 1
#endif
#endif

namespace kelmo {

namespace {

#if defined(KELMO_FIELD3D_WIDE)
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512dq,avx512vl")
namespace avx512 {
constexpr int kLanes = 16;
[[gnu::always_inline]] inline lanes::Vec<float, 16> sqrtLanes(lanes::Vec<float, 16> value) {
    // The zero-masked form: the plain one reads an undefined register (and warns).
    return lanes::Vec<float, 16>(_mm512_maskz_sqrt_ps(static_cast<__mmask16>(0xFFFF), __m512(value)));
}
#include "fitting/field3d_lanes.inl"
}  // namespace avx512
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
constexpr int kLanes = 8;
[[gnu::always_inline]] inline lanes::Vec<float, 8> sqrtLanes(lanes::Vec<float, 8> value) {
    return lanes::Vec<float, 8>(_mm256_sqrt_ps(__m256(value)));
}
#include "fitting/field3d_lanes.inl"
}  // namespace avx2
#pragma GCC pop_options
#endif

namespace baseline {
constexpr int kLanes = 4;
[[gnu::always_inline]] inline lanes::Vec<float, 4> sqrtLanes(lanes::Vec<float, 4> value) {
#if defined(KELMO_FIELD3D_X86)
    return lanes::Vec<float, 4>(_mm_sqrt_ps(__m128(value)));
#else
    for (int k = 0; k < 4; ++k) value[k] = __builtin_sqrtf(value[k]);
    return value;
#endif
}
#include "fitting/field3d_lanes.inl"
}  // namespace baseline

}  // namespace

std::size_t evaluateFieldOnLanes(KernelLevel level, const TVector3f *centres, const TVector3f *weights,
                                 std::size_t centreCount, const TVector3f *points, std::size_t count, TVector3f *out) {
    switch (level) {
        case KernelLevel::Plain: return 0;
#if defined(KELMO_FIELD3D_WIDE)
        case KernelLevel::Avx512: return avx512::evaluateBlocks(centres, weights, centreCount, points, count, out);
        case KernelLevel::Avx2: return avx2::evaluateBlocks(centres, weights, centreCount, points, count, out);
#endif
        default: return baseline::evaluateBlocks(centres, weights, centreCount, points, count, out);
    }
}

}  // namespace kelmo
