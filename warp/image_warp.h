// Internal pieces of the image warp that the tests reach directly;
// the exported functions are declared in include/kelmo.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "warp/interpolator.h"

namespace kelmo {

// The square-root table has 2^21 entries; "sqrt.dat"
// holds them as little-endian floats, 8,388,608 bytes.
inline constexpr std::size_t kSqrtTableEntries = std::size_t{1} << 21;
inline constexpr std::size_t kSqrtFileBytes = 4 * kSqrtTableEntries;

// W^2 + H^2 may not exceed this: every squared distance between two pixels
// of the image is then an index of the square-root table.
inline constexpr int64_t kMaxWarpSquaredDiagonal = 2097152;

// Choice recorded in include/kelmo.h: the number of caller points of a warp
// lies in 0..4096 (the solve is dense, n^3).
inline constexpr int32_t kMaxWarpPointCount = 4096;

// Decodes kSqrtFileBytes bytes of "sqrt.dat" into the table's floats, byte
// order little-endian whatever the host's order. `bytes` must hold at least
// kSqrtFileBytes bytes.
std::vector<float> decodeSqrtTable(std::span<const unsigned char> bytes);

// The interpolator of a warp of a
// width x height image before solving: one control point per caller point at
// its destination with value source - destination (differences in integers),
// then the four corners with value (0, 0). sourcePoints and destinationPoints
// hold `count` (x, y) pairs each.
TInterpolator makeWarpInterpolator(int32_t width, int32_t height, const int32_t *sourcePoints,
                                   const int32_t *destinationPoints, int32_t count);

}  // namespace kelmo
