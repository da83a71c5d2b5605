// The 3D field's kernels for each instruction set (see field3d_lanes.h): the
// body in field3d_lanes.inl, compiled per target by frame/lanes_per_target.inl.
#include "fitting/field3d_lanes.h"

#include "frame/vector_lanes.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace kelmo {

namespace {

#define KELMO_LANES_BODY "fitting/field3d_lanes.inl"
#include "frame/lanes_per_target.inl"

}  // namespace

std::size_t evaluateFieldOnLanes(KernelLevel level, const TVector3f *centres, const TVector3f *weights,
                                 std::size_t centreCount, const TVector3f *points, std::size_t count, TVector3f *out) {
    switch (level) {
        case KernelLevel::Plain: return 0;
#if defined(KELMO_LANES_WIDE)
        case KernelLevel::Avx512: return avx512::evaluateBlocks(centres, weights, centreCount, points, count, out);
        case KernelLevel::Avx2: return avx2::evaluateBlocks(centres, weights, centreCount, points, count, out);
#endif
        default: return baseline::evaluateBlocks(centres, weights, centreCount, points, count, out);
    }
}

}  // namespace kelmo
