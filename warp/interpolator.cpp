#include "warp/interpolator.h"

#include <lapacke.h>

#include <omp.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "frame/kernel_level.h"

namespace kelmo {

namespace {

// Centres from which the field's rows read their distances from a grid
// rather than taking square roots: below, building the grid costs more than
// it saves.
constexpr std::size_t kGridCentres = 8;

// Two control points closer than half a pixel on both axes coincide (they
// would make the system singular).
bool coincides(const TPointf &point, float x, float y) {
    return std::fabs(x - point.x) < 0.5f && std::fabs(y - point.y) < 0.5f;
}

// Integer copies of the
// control points by truncation toward zero. The warp only makes control points
// from 32-bit integers (at most 2^31 in magnitude as floats, nudges included),
// so the clamp to that range never changes them; it keeps the conversion
// defined, and every squared distance within 64 bits, for any other caller.
int64_t truncateCoordinate(float value) {
    constexpr float kLimit = 2147483648.0f;  // 2^31
    if (std::isnan(value)) {
        return 0;
    }
    if (value > kLimit) {
        return static_cast<int64_t>(kLimit);
    }
    if (value < -kLimit) {
        return -static_cast<int64_t>(kLimit);
    }
    return static_cast<int64_t>(value);
}

// The largest squared distance from a pixel (2i, 2j) of the half-size grid
// to any of the points: the largest distance to a box is at one of its
// corners. Points lie within +-2^14 here, so this fits easily in 64 bits.
uint64_t largestSquaredDistance(const std::vector<int64_t> &pointX, const std::vector<int64_t> &pointY,
                                int32_t halfWidth, int32_t halfHeight) {
    const int64_t right = 2 * static_cast<int64_t>(halfWidth - 1);
    const int64_t bottom = 2 * static_cast<int64_t>(halfHeight - 1);
    uint64_t largest = 0;
    for (std::size_t k = 0; k < pointX.size(); ++k) {
        const int64_t dx = std::max(pointX[k], right - pointX[k]);
        const int64_t dy = std::max(pointY[k], bottom - pointY[k]);
        largest = std::max(largest, static_cast<uint64_t>(dx * dx + dy * dy));
    }
    return largest;
}

}  // namespace

void TInterpolator::addControlPoint(float x, float y, float dx, float dy) {
    // Move by (+1, +1) and test all points again from the first, until the
    // point is free.
    bool moved = true;
    while (moved) {
        moved = false;
        for (const TPointf &existing : controlPoints) {
            if (coincides(existing, x, y)) {
                // At 2^24 and beyond, +1 no longer changes a float: stop rather
                // than loop for ever, and append the point where it is (only
                // points far off any image get here; the solve then meets a
                // singular system, whose result is tolerated). While either
                // coordinate still moves by at least 1, each existing point can
                // block at most one position, so the loop ends.
                if (x + 1.0f == x && y + 1.0f == y) {
                    break;
                }
                x += 1.0f;
                y += 1.0f;
                moved = true;
                break;
            }
        }
    }
    controlPoints.push_back(TPointf{x, y});
    values.push_back(TPointf{dx, dy});
}

void TInterpolator::solve() {
    const std::size_t n = controlPoints.size();
    if (n == 0) {
        return;
    }
    assert(values.size() == n);
    // M[i][j] = sqrt((y_i - y_j)^2 + (x_i - x_j)^2) in single precision,
    // row-major; the kernel is the plain distance, no polynomial part.
    std::vector<float> matrix(n * n);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            const float dy = controlPoints[i].y - controlPoints[j].y;
            const float dx = controlPoints[i].x - controlPoints[j].x;
            matrix[i * n + j] = std::sqrt(dy * dy + dx * dx);
        }
    }
    // The right-hand side: n rows of two columns, row k = (dx_k, dy_k).
    std::vector<float> rightHandSide(2 * n);
    for (std::size_t k = 0; k < n; ++k) {
        rightHandSide[2 * k] = values[k].x;
        rightHandSide[2 * k + 1] = values[k].y;
    }
    // Row-major (101), n equations, 2 right-hand sides, leading dimensions n
    // and 2. The status is deliberately not consulted: a singular system
    // (coinciding points far off the image) leaves what the solver wrote, and
    // the warp goes on rather than fail.
    std::vector<lapack_int> pivots(n);
    const auto order = static_cast<lapack_int>(n);
    static_cast<void>(LAPACKE_sgesv(LAPACK_ROW_MAJOR, order, 2, matrix.data(), order, pivots.data(),
                                    rightHandSide.data(), 2));
    // Append the solution rows in order.
    for (std::size_t k = 0; k < n; ++k) {
        coefficients.push_back(TPointf{rightHandSide[2 * k], rightHandSide[2 * k + 1]});
    }
}

HalfSizeField::HalfSizeField(const TInterpolator &interpolator, int32_t width, int32_t height,
                             std::span<const float> sqrtTable, std::span<float> halfX, std::span<float> halfY,
                             int threads, bool tableHoldsRoots)
    : halfWidth_(width / 2),
      halfHeight_(height / 2),
      lastUsableX_(static_cast<float>(width - 2)),
      lastUsableY_(static_cast<float>(height - 2)),
      table_(sqrtTable),
      outX_(halfX.data()),
      outY_(halfY.data()),
      weights_(interpolator.coefficients) {
    // The half size, truncated: the field is evaluated at every second pixel
    // and enlarged, a quarter of the work for a smooth field.
    assert(halfX.size() >= static_cast<std::size_t>(halfWidth_) * static_cast<std::size_t>(halfHeight_));
    assert(halfY.size() >= static_cast<std::size_t>(halfWidth_) * static_cast<std::size_t>(halfHeight_));
    assert(weights_.size() >= interpolator.controlPoints.size());
    assert(threads >= 1);
    const std::size_t n = interpolator.controlPoints.size();
    pointX_.resize(n);
    pointY_.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
        pointX_[k] = truncateCoordinate(interpolator.controlPoints[k].x);
        pointY_[k] = truncateCoordinate(interpolator.controlPoints[k].y);
    }

    // The field on lanes (displacement_lanes.h) when the kernel level allows
    // it and gives the plain evaluation's bits: points within +-2^14, a row at
    // least as wide as the narrowest lanes, and a table that holds sqrtf(i) at
    // every index the field can look up.
    level_ = kernelLevel();
    if (level_ == KernelLevel::Plain || halfWidth_ < 4 || halfHeight_ < 1) return;
    for (std::size_t k = 0; k < n; ++k) {
        if (std::abs(pointX_[k]) > kFieldPointLimit || std::abs(pointY_[k]) > kFieldPointLimit) return;
    }
    // The check reads up to 8 MB and takes a square root per entry: shared
    // among the threads in slices when there is more than one, and skipped
    // when the caller knows the answer.
    bool exact = true;
    if (!tableHoldsRoots) {
        const uint64_t lookups = std::min<uint64_t>(
            largestSquaredDistance(pointX_, pointY_, halfWidth_, halfHeight_) + 1, sqrtTable.size());
        const auto entries = static_cast<std::size_t>(lookups);
        constexpr std::size_t kSlice = std::size_t{1} << 16;
        const auto slices = static_cast<int64_t>((entries + kSlice - 1) / kSlice);
#pragma omp parallel for schedule(static) reduction(&& : exact) num_threads(entries >= 4 * kSlice ? threads : 1)
        for (int64_t slice = 0; slice < slices; ++slice) {
            const std::size_t first = static_cast<std::size_t>(slice) * kSlice;
            exact = exact && tableHoldsSquareRoots(level_, sqrtTable.data(), first, std::min(kSlice, entries - first));
        }
    }
    if (!exact) return;

    px_.resize(n);
    py_.resize(n);
    wx_.resize(n);
    wy_.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
        px_[k] = static_cast<int32_t>(pointX_[k]);
        py_[k] = static_cast<int32_t>(pointY_[k]);
        wx_[k] = weights_[k].x;
        wy_[k] = weights_[k].y;
    }
    // Each thread's scratch row padded to whole cache lines and one more, so
    // that no two threads write the same line.
    scratchStride_ = (2 * n + 1 + 15) / 16 * 16 + 16;
    scratch_.resize(static_cast<std::size_t>(threads) * scratchStride_);
    rows_.halfWidth = halfWidth_;
    rows_.count = static_cast<int32_t>(n);
    rows_.pointX = px_.data();
    rows_.pointY = py_.data();
    rows_.weightX = wx_.data();
    rows_.weightY = wy_.data();
    rows_.lastUsableX = lastUsableX_;
    rows_.lastUsableY = lastUsableY_;
    rows_.outX = outX_;
    rows_.outY = outY_;
    // The grid of distances: every |y offset| of a centre on the image
    // (below the height) and every |x offset| (below the width), at the cost
    // of one square root per pixel of the image, where the field takes one per
    // centre per quarter pixel. It pays only where square roots are slow (four
    // lanes) and one thread has the caches to itself: the field's rows read
    // it all over for every centre, and on wider lanes or on two threads those
    // reads cost more than the roots (a 1024 x 1024 warp on two threads at
    // AVX-512 took 4.7 ms with it, 3.4 ms without; one thread 5.5 ms both).
    if (n >= kGridCentres && threads == 1 && level_ == KernelLevel::Baseline) {
        rows_.gridRows = height;
        rows_.gridColumns = width / 2 + 1;
        const std::size_t gridSize = 2 * static_cast<std::size_t>(rows_.gridRows) *
                                     static_cast<std::size_t>(rows_.gridColumns);
        grid_ = std::make_unique_for_overwrite<float[]>(gridSize);
        rows_.grid = grid_.get();
    }
    onLanes_ = true;
}

void HalfSizeField::buildGridRow(int32_t b) const noexcept { gridRowOnLanes(level_, rows_, b); }

uint64_t HalfSizeField::work() const {
    return static_cast<uint64_t>(halfWidth_) * static_cast<uint64_t>(halfHeight_) * (pointX_.size() + 1);
}

void HalfSizeField::evaluateRow(int32_t j, int thread) const noexcept {
    if (onLanes_) {
        // Each thread's own scratch row: the vector is never resized after
        // construction, so its data may be written through from const.
        int32_t *own =
            const_cast<int32_t *>(scratch_.data()) + static_cast<std::size_t>(thread) * scratchStride_;
        fieldRowOnLanes(level_, rows_, j, own);
    } else {
        evaluatePlainRow(j);
    }
}

void HalfSizeField::evaluatePlainRow(int32_t j) const noexcept {
    const std::size_t n = pointX_.size();
    const int64_t *px = pointX_.data();
    const int64_t *py = pointY_.data();
    const TPointf *weights = weights_.data();
    const float *table = table_.data();
    const uint64_t tableSize = table_.size();
    const int64_t y = 2 * static_cast<int64_t>(j);
    const float yf = static_cast<float>(y);
    const std::size_t rowStart = static_cast<std::size_t>(j) * static_cast<std::size_t>(halfWidth_);
    for (int32_t i = 0; i < halfWidth_; ++i) {
        const int64_t x = 2 * static_cast<int64_t>(i);
        const float xf = static_cast<float>(x);
        // Sums in single precision from the last control point to the
        // first. The squared distance is an integer; |differences| stay
        // below 2^31 + 2^11, so each square fits in 63 bits and their sum
        // in 64 unsigned bits.
        float u = 0.0f;
        float v = 0.0f;
        for (std::size_t k = n; k-- > 0;) {
            const int64_t differenceX = x - px[k];
            const int64_t differenceY = y - py[k];
            const uint64_t index = static_cast<uint64_t>(differenceX * differenceX) +
                                   static_cast<uint64_t>(differenceY * differenceY);
            // A point off the image can give a squared distance beyond the table's last entry; its
            // square root is then computed, in single precision, instead of
            // reading outside the table.
            const float distance = index < tableSize ? table[index] : std::sqrt(static_cast<float>(index));
            u += weights[k].x * distance;
            v += weights[k].y * distance;
        }
        // The clamps, in this order and in floats: every sampled source
        // position lies at least one pixel inside the image.
        if (xf + u < 1.0f) {
            u = 1.0f - xf;
        }
        if (yf + v < 1.0f) {
            v = 1.0f - yf;
        }
        if (xf + u > lastUsableX_) {
            u = lastUsableX_ - xf;
        }
        if (yf + v > lastUsableY_) {
            v = lastUsableY_ - yf;
        }
        outX_[rowStart + static_cast<std::size_t>(i)] = u;
        outY_[rowStart + static_cast<std::size_t>(i)] = v;
    }
}

void TInterpolator::evaluateHalfSizeMaps(int32_t width, int32_t height, std::span<const float> sqrtTable,
                                         std::span<float> halfX, std::span<float> halfY) const {
    // Threads only for a field worth it: about a million centre evaluations.
    const int threads = std::max(1, omp_get_max_threads());
    const HalfSizeField field(*this, width, height, sqrtTable, halfX, halfY, threads);
    const bool parallel = field.work() >= (1u << 20);
#pragma omp parallel num_threads(parallel ? threads : 1)
    {
#pragma omp for schedule(static)
        for (int32_t b = 0; b < field.gridRowCount(); ++b) field.buildGridRow(b);
#pragma omp for schedule(static)
        for (int32_t j = 0; j < field.rowCount(); ++j) field.evaluateRow(j, omp_get_thread_num());
    }
}

}  // namespace kelmo
