// The 3D interpolator's field on vector lanes: one point per lane, each lane
// the plain evaluation's arithmetic (distances in single precision, squares
// summed x, y, z; the centres from the last to the first), so every point
// comes out bit for bit as the plain loop makes it.
#pragma once

#include <cstddef>

#include "fitting/interpolator3d.h"
#include "frame/kernel_level.h"

namespace kelmo {

// Evaluates out[i] = points[i] + sum over centres j (from centreCount - 1 to
// 0) of |points[i] - centres[j]| * weights[j] for the first points in whole
// blocks of the level's lane count, and returns how many it did (a multiple
// of the lane count, at most count); the caller evaluates the rest. centres
// and weights hold centreCount entries, points and out count (out may not
// overlap points). Level Plain does nothing and returns 0.
std::size_t evaluateFieldOnLanes(KernelLevel level, const TVector3f *centres, const TVector3f *weights,
                                 std::size_t centreCount, const TVector3f *points, std::size_t count, TVector3f *out);

}  // namespace kelmo
