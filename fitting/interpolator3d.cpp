#include "fitting/interpolator3d.h"

#include <lapacke.h>

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "fitting/field3d_lanes.h"
#include "frame/kernel_level.h"

namespace kelmo {
namespace {

// Duplicate test on one axis: the difference is formed in single precision, its
// absolute value compared with 0.0001 in double. NaN compares false, so a NaN
// coordinate is never a duplicate.
bool closeOnAxis(float a, float b) { return static_cast<double>(std::fabs(a - b)) < kDuplicateCentreDistance; }

bool isDuplicate(const TVector3f &centre, float x, float y, float z) {
    return closeOnAxis(x, centre.x) && closeOnAxis(y, centre.y) && closeOnAxis(z, centre.z);
}

// The nudge of a duplicate, in double precision, rounded back to single.
float nudged(float coordinate) {
    return static_cast<float>(static_cast<double>(coordinate) + kDuplicateCentreDistance);
}

// |a - b| in single precision, the squares summed x, y, z in that order.
float distance(const TVector3f &a, const TVector3f &b) {
    const float dx = a.x - b.x;
    const float dy = a.y - b.y;
    const float dz = a.z - b.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);  // float overload: sqrtf
}

}  // namespace

void interpolatorClear(TInterpolator3D &interpolator) {
    interpolator.centres.clear();
    interpolator.values.clear();
    interpolator.weights.clear();
}

void interpolatorAdd(TInterpolator3D &interpolator, float x, float y, float z, float dx, float dy, float dz) {
    // Nudge duplicates apart. A coordinate of magnitude 2048 or more is not
    // moved by 0.0001 in single precision; when the nudge moves none of the
    // three, the scan could never end, so the centre is appended where it
    // stands (the system is then singular, and solve keeps the values as
    // weights). Otherwise every nudge moves some coordinate up by at least
    // 0.00005, so the centre leaves the 0.0001 box of each centre it meets
    // after a bounded number of rescans.
    std::size_t index = 0;
    while (index < interpolator.centres.size()) {
        if (isDuplicate(interpolator.centres[index], x, y, z)) {
            const float movedX = nudged(x);
            const float movedY = nudged(y);
            const float movedZ = nudged(z);
            if (movedX == x && movedY == y && movedZ == z) break;
            x = movedX;
            y = movedY;
            z = movedZ;
            index = 0;  // scan again from the first centre
        } else {
            ++index;
        }
    }
    // Both arrays grow together, or neither does.
    interpolator.centres.reserve(interpolator.centres.size() + 1);
    interpolator.values.reserve(interpolator.values.size() + 1);
    interpolator.centres.push_back(TVector3f{x, y, z});
    interpolator.values.push_back(TVector3f{dx, dy, dz});
}

void interpolatorSolve(TInterpolator3D &interpolator) {
    const std::size_t n = interpolator.centres.size();
    if (n == 0) return;
    // The row-major n x n distance matrix, zero diagonal, no regularisation.
    std::vector<float> matrix(n * n);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            matrix[i * n + j] = distance(interpolator.centres[i], interpolator.centres[j]);
        }
    }
    // The right-hand side: row i = value i.
    std::vector<float> rightHandSide(3 * n);
    for (std::size_t i = 0; i < n; ++i) {
        const TVector3f value = i < interpolator.values.size() ? interpolator.values[i] : TVector3f{0, 0, 0};
        rightHandSide[3 * i] = value.x;
        rightHandSide[3 * i + 1] = value.y;
        rightHandSide[3 * i + 2] = value.z;
    }
    // Layout code 101 (row-major), order n, 3 right-hand sides, leading
    // dimensions n and 3. The status is deliberately not
    // consulted; a singular matrix (or NaN input, refused by LAPACKE's check)
    // leaves the right-hand side untouched, so the values become the weights.
    std::vector<lapack_int> pivots(n);
    const auto order = static_cast<lapack_int>(n);
    static_cast<void>(
        LAPACKE_sgesv(LAPACK_ROW_MAJOR, order, 3, matrix.data(), order, pivots.data(), rightHandSide.data(), 3));
    // The n solution rows appended in order.
    interpolator.weights.reserve(interpolator.weights.size() + n);
    for (std::size_t i = 0; i < n; ++i) {
        interpolator.weights.push_back(
            TVector3f{rightHandSide[3 * i], rightHandSide[3 * i + 1], rightHandSide[3 * i + 2]});
    }
}

void interpolatorEvaluate(const TInterpolator3D &interpolator, const std::vector<TVector3f> &points,
                          std::vector<TVector3f> &out) {
    out.resize(points.size());
    // A centre without a weight (an unsolved interpolator) contributes
    // nothing; the library only evaluates solved interpolators.
    const std::size_t centreCount = std::min(interpolator.centres.size(), interpolator.weights.size());
    const TVector3f *centres = interpolator.centres.data();
    const TVector3f *weights = interpolator.weights.data();
    // Per point, the centres from the last to the first (the summation order
    // is part of the result, bit for bit); with no centres the sum stays 0 and
    // out = points. Whole blocks of points go on vector lanes (the same bits),
    // the rest one by one.
    const std::size_t onLanes =
        evaluateFieldOnLanes(kernelLevel(), centres, weights, centreCount, points.data(), points.size(), out.data());
    for (std::size_t i = onLanes; i < points.size(); ++i) {
        const TVector3f p = points[i];
        float sumX = 0.0f;
        float sumY = 0.0f;
        float sumZ = 0.0f;
        for (std::size_t j = centreCount; j-- > 0;) {
            const float d = distance(p, centres[j]);
            sumX = sumX + d * weights[j].x;
            sumY = sumY + d * weights[j].y;
            sumZ = sumZ + d * weights[j].z;
        }
        out[i] = TVector3f{p.x + sumX, p.y + sumY, p.z + sumZ};
    }
}

void deformRegion(TRegion &region, const TInterpolator3D &interpolator) {
    std::vector<TVector3f> moved;
    interpolatorEvaluate(interpolator, region.vertices, moved);
    // Copied back in index order; the sizes are equal, so nothing allocates.
    std::copy(moved.begin(), moved.end(), region.vertices.begin());
}

void interpolatorSetUpFromControlPoints(TInterpolator3D &interpolator, const std::vector<TVector3f> &source,
                                        const std::vector<TVector3f> &target, int32_t count) {
    const std::size_t usable =
        count <= 0 ? 0 : std::min({static_cast<std::size_t>(count), source.size(), target.size()});
    // The interpolator receives copies, so the caller's arrays (the model's
    // own control points) may alias nothing of the interpolator.
    const std::vector<TVector3f> sourceCopy(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(usable));
    const std::vector<TVector3f> targetCopy(target.begin(), target.begin() + static_cast<std::ptrdiff_t>(usable));
    interpolatorClear(interpolator);
    for (std::size_t k = 0; k < usable; ++k) {
        const TVector3f s = sourceCopy[k];
        const TVector3f t = targetCopy[k];
        interpolatorAdd(interpolator, s.x, s.y, s.z, t.x - s.x, t.y - s.y, t.z - s.z);
    }
    interpolatorSolve(interpolator);
}

}  // namespace kelmo
