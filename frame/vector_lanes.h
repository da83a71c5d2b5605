// The portable vector layer of the hot kernels: the compiler's generic
// vector types, N lanes of one element type. Every operation on them is the
// scalar operation applied lane by lane, with the same rounding (the build
// never contracts a product and a sum), so a kernel written on lanes computes
// the plain formula's bits in each lane. The compiler lowers them to the
// instructions of the enclosing function's target (SSE2, AVX2, AVX-512) or to
// scalar code on CPUs without vectors.
#pragma once

#include <cstdint>
#include <cstring>

// Vectors of the kernels never cross a call that is not inlined, so the
// warning that a wider vector changes the calling convention does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace kelmo::lanes {

template <class T, int N>
struct VectorOf {
    typedef T type __attribute__((vector_size(sizeof(T) * N)));
};

// N lanes of T.
template <class T, int N>
using Vec = typename VectorOf<T, N>::type;

// Loads and stores through memcpy: any alignment, no aliasing assumption.
template <class V, class T>
[[gnu::always_inline]] inline V load(const T *from) {
    V value;
    std::memcpy(&value, from, sizeof value);
    return value;
}

template <class V, class T>
[[gnu::always_inline]] inline void store(T *to, const V &value) {
    std::memcpy(to, &value, sizeof value);
}

// Lane-wise conversion (truncation toward zero from floating point to
// integers; only for lanes known to be in range).
template <class To, class From>
[[gnu::always_inline]] inline To convert(const From &value) {
    return __builtin_convertvector(value, To);
}

// Lane k of the result is lane index[k] of `value` (every index in range):
// one permute instruction where the target has one; lane by lane under
// compilers without variable shuffles of generic vectors.
template <class V, class Index>
[[gnu::always_inline]] inline V permute(const V &value, const Index &index) {
#if defined(__GNUC__) && !defined(__clang__)
    return __builtin_shuffle(value, index);
#else
    V result;
    for (int k = 0; k < static_cast<int>(sizeof(V) / sizeof(value[0])); ++k) result[k] = value[index[k]];
    return result;
#endif
}

// True when every lane of a comparison result is set.
template <class Mask>
[[gnu::always_inline]] inline bool allSet(const Mask &mask) {
    constexpr int kWords = sizeof(Mask) / sizeof(uint64_t);
    uint64_t words[kWords];
    std::memcpy(words, &mask, sizeof mask);
    uint64_t all = ~uint64_t{0};
    for (int k = 0; k < kWords; ++k) all &= words[k];
    return all == ~uint64_t{0};
}

// The first `Channels` bytes at `pixel` (1 to 4) as four doubles, the lanes
// beyond them 0; no byte past them is read. Spread with a shuffle (which
// the compiler makes one instruction) rather than converted byte by byte.
template <int Channels>
[[gnu::always_inline]] inline Vec<double, 4> widenPixel(const uint8_t *pixel) {
    using Bytes = Vec<uint8_t, 16>;
    Bytes bytes{};
    std::memcpy(&bytes, pixel, Channels);
    const Bytes spread = __builtin_shufflevector(bytes, Bytes{}, 0, 16, 16, 16, 1, 16, 16, 16, 2, 16, 16, 16, 3, 16, 16, 16);
    Vec<int32_t, 4> words;
    std::memcpy(&words, &spread, sizeof words);
    return convert<Vec<double, 4>>(words);
}

// Four doubles in [0, 256) truncated toward zero into four bytes, lane 0 at
// the lowest address of `out`; writes the first `Channels` of them.
template <int Channels>
[[gnu::always_inline]] inline void narrowPixel(const Vec<double, 4> &value, uint8_t *out) {
    using Bytes = Vec<uint8_t, 16>;
    const Vec<int32_t, 4> words = convert<Vec<int32_t, 4>>(value);
    Bytes bytes;
    std::memcpy(&bytes, &words, sizeof bytes);
    const Bytes packed = __builtin_shufflevector(bytes, bytes, 0, 4, 8, 12, 0, 4, 8, 12, 0, 4, 8, 12, 0, 4, 8, 12);
    std::memcpy(out, &packed, Channels);
}

}  // namespace kelmo::lanes
