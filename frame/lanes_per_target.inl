// A kernel body compiled once per instruction set, each copy in its own
// namespace (avx512, avx2, baseline) that defines kLanes (floats per
// vector) and sqrtLanes (the correctly rounded square root of each lane).
// The including file names the body's file in KELMO_LANES_BODY and includes
// this inside an anonymous namespace; KELMO_LANES_WIDE is then defined when
// the avx512 and avx2 copies exist. The wider copies need GCC's per-function
// target options; other compilers (clang builds the fuzz targets) have only
// the 4-lane copy, which gives the same bits.
// No include guard: each kernel's file includes it once.
#if !defined(KELMO_LANES_BODY)
#error "KELMO_LANES_BODY names the kernel body to compile"
#endif

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && !defined(__clang__)
#define KELMO_LANES_WIDE 1

#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512dq,avx512vl")
namespace avx512 {
constexpr int kLanes = 16;
[[gnu::always_inline]] inline lanes::Vec<float, 16> sqrtLanes(lanes::Vec<float, 16> value) {
    // The zero-masked form: the plain one reads an undefined register (and warns).
    return lanes::Vec<float, 16>(_mm512_maskz_sqrt_ps(static_cast<__mmask16>(0xFFFF), __m512(value)));
}
#include KELMO_LANES_BODY
}  // namespace avx512
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
constexpr int kLanes = 8;
[[gnu::always_inline]] inline lanes::Vec<float, 8> sqrtLanes(lanes::Vec<float, 8> value) {
    return lanes::Vec<float, 8>(_mm256_sqrt_ps(__m256(value)));
}
#include KELMO_LANES_BODY
}  // namespace avx2
#pragma GCC pop_options
#endif

namespace baseline {
constexpr int kLanes = 4;
[[gnu::always_inline]] inline lanes::Vec<float, 4> sqrtLanes(lanes::Vec<float, 4> value) {
#if defined(__x86_64__) || defined(__i386__)
    return lanes::Vec<float, 4>(_mm_sqrt_ps(__m128(value)));
#else
    for (int k = 0; k < 4; ++k) value[k] = __builtin_sqrtf(value[k]);
    return value;
#endif
}
#include KELMO_LANES_BODY
}  // namespace baseline
