// TInterpolator: the two-dimensional radial-basis interpolator of one image
// warp. Kernel phi(r) = r on the plain distance, no polynomial part,
// one dense solve with LAPACKE_sgesv; the displacement field is evaluated at
// every second pixel from the square-root table and enlarged to full size.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "kelmo.h"
#include "warp/displacement_lanes.h"

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
    // of w * h floats. Rows are shared among OpenMP threads when the field is
    // large enough to pay for them.
    void evaluateHalfSizeMaps(int32_t width, int32_t height, std::span<const float> sqrtTable,
                              std::span<float> halfX, std::span<float> halfY) const;

    // Members in declared order.
    std::vector<TPointf> controlPoints;
    std::vector<TPointf> values;        // (dx, dy) wanted at each control point
    std::vector<TPointf> coefficients;  // (cx, cy), filled by solve()
};

// The half-size field of a solved interpolator (see evaluateHalfSizeMaps),
// prepared once and then evaluated row by row, so that a caller can share the
// rows among the threads of its own parallel region: each row depends on its
// own j only, so the bits are the same whichever thread makes it.
class HalfSizeField {
public:
    // Keeps pointers to halfX and halfY (w x h floats each, as above) and to
    // the table; the interpolator may go once this is made. `threads` >= 1 is
    // the largest thread number + 1 that evaluateRow will be given.
    // `tableHoldsRoots`: the caller knows that every entry i of the table holds
    // sqrtf(i) (the library's table, checked when read); otherwise the entries
    // the field can look up are checked here. May throw std::bad_alloc.
    HalfSizeField(const TInterpolator &interpolator, int32_t width, int32_t height,
                  std::span<const float> sqrtTable, std::span<float> halfX, std::span<float> halfY,
                  int threads, bool tableHoldsRoots = false);

    int32_t rowCount() const { return halfHeight_; }
    // The rows of distances that the field's rows read (0 when there are
    // none): every one is to be built, by buildGridRow, before any field row
    // is evaluated. Distinct grid rows may be built at once; allocates nothing.
    int32_t gridRowCount() const { return rows_.grid != nullptr ? rows_.gridRows : 0; }
    void buildGridRow(int32_t b) const noexcept;
    // Centre evaluations of the whole field, the measure of its work.
    uint64_t work() const;

    // Writes row j < rowCount() of both maps. Distinct rows may be evaluated
    // at once by distinct threads (0 <= thread < threads); allocates nothing.
    void evaluateRow(int32_t j, int thread) const noexcept;

private:
    void evaluatePlainRow(int32_t j) const noexcept;

    int32_t halfWidth_ = 0;
    int32_t halfHeight_ = 0;
    float lastUsableX_ = 0.0f;  // width - 2
    float lastUsableY_ = 0.0f;  // height - 2
    std::span<const float> table_;
    float *outX_ = nullptr;
    float *outY_ = nullptr;
    // Integer copies of the control points and their weights.
    std::vector<int64_t> pointX_, pointY_;
    std::vector<TPointf> weights_;
    // The lanes' form (FieldRows), when the kernel level allows it and gives
    // the plain evaluation's bits; its 32-bit copies and one scratch row of
    // 2 * count + 1 integers per thread, and the grid of distances when the
    // centres are many, the lanes narrow and one thread evaluates (where it
    // pays).
    bool onLanes_ = false;
    KernelLevel level_ = KernelLevel::Plain;
    FieldRows rows_;
    std::vector<int32_t> px_, py_;
    std::vector<float> wx_, wy_;
    std::vector<int32_t> scratch_;
    std::size_t scratchStride_ = 0;
    std::unique_ptr<float[]> grid_;
};

}  // namespace kelmo
