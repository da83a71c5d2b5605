// TInterpolator: the two-dimensional radial-basis interpolator of one image
// warp. Kernel phi(r) = r on the plain distance, no polynomial part,
// one dense solve with LAPACKE_sgesv; the displacement field is evaluated at
// every second pixel from the square-root table and enlarged to full size.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "kelmo.h"

namespace kelmo {

class TInterpolator {
public:
    TInterpolator() = default;
    TInterpolator(const TInterpolator &) = default;
    TInterpolator &operator=(const TInterpolator &) = default;
    TInterpolator(TInterpolator &&) noexcept = default;
    TInterpolator &operator=(TInterpolator &&) noexcept = default;
    // The destructor is the only virtual operation.
    virtual ~TInterpolator() = default;

    // While the point lies within half a
    // pixel (on both axes) of an existing control point it moves by (+1, +1)
    // and the search starts again from the first point; then (x, y) and its
    // value (dx, dy) are appended. Beyond 2^24 in magnitude a float no longer
    // moves by +1; such a point, when it is not free, is appended where it is
    // (see the definition).
    void addControlPoint(float x, float y, float dx, float dy);

    // n = 0 does nothing; otherwise solves the n x n system
    // of plain distances for the values (two right-hand sides) with
    // LAPACKE_sgesv and appends the n solution rows to `coefficients`. The
    // solver's status is not consulted (a singular system leaves what the
    // solver wrote). A second solve appends again, so an interpolator is
    // solved once.
    void solve();

    // Evaluates the
    // displacement at the pixels (2i, 2j) of a width x height image, i < w =
    // width / 2 and j < height / 2, with the clamps that keep every sample one
    // pixel inside the image, into the w x h maps halfX and halfY (row-major,
    // row step w). `sqrtTable` is the square-root table (entry i = sqrt(i));
    // squared distances beyond its end are computed with sqrtf instead.
    // Requires coefficients for every control point (solve() called) and maps
    // of w * h floats. One OpenMP parallel loop over the columns.
    void evaluateHalfSizeMaps(int32_t width, int32_t height, std::span<const float> sqrtTable,
                              std::span<float> halfX, std::span<float> halfY) const;

    // The displacement maps: the half-size evaluation above
    // with the process-wide square-root table, then each half-size map
    // enlarged into its full-size map (width x height floats, row-major) with
    // resizeMap (frame/resampling.h: bilinear, corner-aligned). Requires width >= 2 and
    // height >= 2 (a half size of at least 1).
    void buildDisplacementMaps(int32_t width, int32_t height, std::span<float> xMap,
                               std::span<float> yMap) const;

    // Members in declared order.
    std::vector<TPointf> controlPoints;
    std::vector<TPointf> values;        // (dx, dy) wanted at each control point
    std::vector<TPointf> coefficients;  // (cx, cy), filled by solve()
};

}  // namespace kelmo
