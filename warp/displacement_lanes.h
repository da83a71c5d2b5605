// The warp's displacement field on vector lanes: one row of the half-size
// field, several pixels at a time, every distance sqrtf of the squared
// distance, taken or read from a grid of such square roots. That gives the plain evaluation's bits exactly when the
// square-root table holds sqrtf(i) at every index the field looks up (beyond
// the table the plain evaluation uses sqrtf already), which
// tableHoldsSquareRoots checks; each lane sums the centres in the plain
// order, last to first, and clamps in the plain order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/kernel_level.h"

namespace kelmo {

// What a row needs. Control points are integers within +-2^14 and pixels
// below 2^11, so squared distances are exact in 32-bit integers.
struct FieldRows {
    int32_t halfWidth = 0;
    int32_t count = 0;  // centres
    const int32_t *pointX = nullptr;
    const int32_t *pointY = nullptr;
    const float *weightX = nullptr;
    const float *weightY = nullptr;
    float lastUsableX = 0.0f;  // width - 2
    float lastUsableY = 0.0f;  // height - 2
    float *outX = nullptr;     // halfWidth floats per row
    float *outY = nullptr;
    // The distances from the grid's pixels to every integer offset, when
    // not null: entry (2 * b + p) * gridColumns + m is sqrtf((2m + p)^2 + b^2)
    // for b < gridRows, m < gridColumns. A centre on the image finds the
    // distances of a whole block of its row's pixels there, consecutive,
    // instead of taking their square roots.
    float *grid = nullptr;
    int32_t gridRows = 0;
    int32_t gridColumns = 0;
};

inline constexpr int32_t kFieldPointLimit = 1 << 14;

// Evaluates row j (pixels (2i, 2j), i < halfWidth) into outX and outY at
// j * halfWidth, reading the grid's rows when there is a grid (all of them
// written first). `scratch` holds 2 * count integers. Level is not Plain.
void fieldRowOnLanes(KernelLevel level, const FieldRows &rows, int32_t j, int32_t *scratch);

// Writes the grid's rows 2b and 2b + 1 (b < gridRows). Level is not Plain.
void gridRowOnLanes(KernelLevel level, const FieldRows &rows, int32_t b);

// True when table[i] == sqrtf(i) for every i in [first, first + count) (NaN
// never matches).
bool tableHoldsSquareRoots(KernelLevel level, const float *table, std::size_t first, std::size_t count);

}  // namespace kelmo
