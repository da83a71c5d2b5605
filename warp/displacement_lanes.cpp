// The displacement kernels for each instruction set: the body in
// displacement_lanes.inl, compiled per target by frame/lanes_per_target.inl.
#include "warp/displacement_lanes.h"

#include <algorithm>
#include <cassert>
#include <utility>

#include "frame/vector_lanes.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace kelmo {

namespace {

#define KELMO_LANES_BODY "warp/displacement_lanes.inl"
#include "frame/lanes_per_target.inl"

}  // namespace

void fieldRowOnLanes(KernelLevel level, const FieldRows &rows, int32_t j, int32_t *scratch) {
    assert(level != KernelLevel::Plain);
    switch (level) {
#if defined(KELMO_LANES_WIDE)
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
#if defined(KELMO_LANES_WIDE)
        case KernelLevel::Avx512: return avx512::gridRow(rows, b);
        case KernelLevel::Avx2: return avx2::gridRow(rows, b);
#endif
        default: return baseline::gridRow(rows, b);
    }
}

bool tableHoldsSquareRoots(KernelLevel level, const float *table, std::size_t first, std::size_t count) {
    switch (level) {
#if defined(KELMO_LANES_WIDE)
        case KernelLevel::Avx512: return avx512::tableIsExact(table, first, count);
        case KernelLevel::Avx2: return avx2::tableIsExact(table, first, count);
#endif
        default: return baseline::tableIsExact(table, first, count);
    }
}

}  // namespace kelmo
