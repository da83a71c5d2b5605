// Operations of the 3D radial-basis interpolator TInterpolator3D, the fitted
// deformation that bends the generic head onto a face. The data class itself
// (centres, values, weights) lives in model/model.h, embedded in every
// TModel; these free functions are its clear, add, solve and evaluate, the
// deformation of a region and the set-up from control points used by creation
// from a photo (fitting/model_from_photo).
//
// The field is f(p) = sum over centres j of |p - c_j| * w_j (linear kernel, no
// polynomial term, no smoothing), all in single precision; a point p moves to
// p + f(p).
#pragma once

#include <cstdint>
#include <vector>

#include "kelmo.h"
#include "model/model.h"

namespace kelmo {

// Two centres closer than this on every axis are duplicates (they would make
// the system singular); the new one is nudged by the same amount on every
// axis.
inline constexpr double kDuplicateCentreDistance = 0.0001;

// Empties centres, values and weights; capacity is kept.
void interpolatorClear(TInterpolator3D &interpolator);

// Appends the centre (x, y, z) with the value (dx, dy, dz).
// While the centre lies within 0.0001 of an existing centre on every axis
// (differences in single precision, compared in double), it is moved by
// 0.0001 on every axis (in double, rounded back to single) and the scan starts
// again from the first centre; the value is never moved. A NaN coordinate
// never counts as a duplicate; a centre that the nudge cannot move (all three
// coordinates of magnitude 2048 or more) is appended unmoved, so the scan
// always ends. May throw
// std::bad_alloc (the interpolator is then unchanged).
void interpolatorAdd(TInterpolator3D &interpolator, float x, float y, float z, float dx, float dy, float dz);

// With n centres, solves the n x n system
// A[i][j] = |c_i - c_j| (single precision) for the n x 3 values with
// LAPACKE_sgesv (row-major), and appends the n solution rows to the weights.
// The solver's status is not consulted: a singular matrix or NaN input leaves
// the values themselves as the weights. Nothing happens for n = 0. Meaningful
// right after clear and a series of adds. May throw std::bad_alloc (the
// interpolator is then unchanged).
void interpolatorSolve(TInterpolator3D &interpolator);

// out[i] = points[i] + f(points[i]), the sum taken over
// the centres from the last to the first, per component in single precision.
// With no centres out = points. Needs one weight per centre (a solved
// interpolator); with fewer weights than centres the field is taken as 0.
// `out` may not alias `points`. May throw std::bad_alloc.
void interpolatorEvaluate(const TInterpolator3D &interpolator, const std::vector<TVector3f> &points,
                          std::vector<TVector3f> &out);

// Every vertex of `region` replaced by its evaluated
// position (evaluated into a temporary, then copied back in index order).
// May throw std::bad_alloc (the region is then unchanged).
void deformRegion(TRegion &region, const TInterpolator3D &interpolator);

// Set-up from control points: clear; for k below count,
// add(source[k], target[k] - source[k]) componentwise in single precision;
// solve. Reads copies of the arrays' first `count` entries (count is clamped
// to both arrays' sizes). May throw std::bad_alloc.
void interpolatorSetUpFromControlPoints(TInterpolator3D &interpolator, const std::vector<TVector3f> &source,
                                        const std::vector<TVector3f> &target, int32_t count);

}  // namespace kelmo
