#include "warp/interpolator.h"

#include <lapacke.h>

#include <omp.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "frame/kernel_level.h"
#include "frame/library_state.h"
#include "frame/resampling.h"
#include "warp/displacement_lanes.h"

namespace kelmo {

namespace {

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

// The field on lanes (displacement_lanes.h) when the kernel level allows it
// and gives the plain evaluation's bits: points within +-2^14, a row at least
// as wide as the narrowest lanes, and a table that holds sqrtf(i) at every
// index the field can look up. Rows are shared among the threads in bands.
bool evaluateOnLanes(int32_t width, int32_t height, std::span<const float> sqrtTable,
                     const std::vector<int64_t> &pointX, const std::vector<int64_t> &pointY,
                     const std::vector<TPointf> &weights, std::span<float> halfX, std::span<float> halfY) {
    const KernelLevel level = kernelLevel();
    const int32_t halfWidth = width / 2;
    const int32_t halfHeight = height / 2;
    if (level == KernelLevel::Plain || halfWidth < 4 || halfHeight < 1) return false;
    const std::size_t n = pointX.size();
    for (std::size_t k = 0; k < n; ++k) {
        if (std::abs(pointX[k]) > kFieldPointLimit || std::abs(pointY[k]) > kFieldPointLimit) return false;
    }
    const uint64_t lookups = std::min<uint64_t>(largestSquaredDistance(pointX, pointY, halfWidth, halfHeight) + 1,
                                                sqrtTable.size());
    if (!tableHoldsSquareRoots(level, sqrtTable.data(), static_cast<std::size_t>(lookups))) return false;

    std::vector<int32_t> px(n), py(n);
    std::vector<float> wx(n), wy(n);
    for (std::size_t k = 0; k < n; ++k) {
        px[k] = static_cast<int32_t>(pointX[k]);
        py[k] = static_cast<int32_t>(pointY[k]);
        wx[k] = weights[k].x;
        wy[k] = weights[k].y;
    }
    FieldRows rows;
    rows.halfWidth = halfWidth;
    rows.count = static_cast<int32_t>(n);
    rows.pointX = px.data();
    rows.pointY = py.data();
    rows.weightX = wx.data();
    rows.weightY = wy.data();
    rows.lastUsableX = static_cast<float>(width - 2);
    rows.lastUsableY = static_cast<float>(height - 2);
    rows.outX = halfX.data();
    rows.outY = halfY.data();
    // One scratch row of squared row distances per thread, made before the
    // parallel region (nothing in it allocates or throws). Threads only for
    // a field worth it: about a million centre evaluations.
    const bool parallel = static_cast<uint64_t>(halfWidth) * static_cast<uint64_t>(halfHeight) * (n + 1) >= (1u << 20);
    const int threads = parallel ? std::max(1, omp_get_max_threads()) : 1;
    std::vector<int32_t> scratch(static_cast<std::size_t>(threads) * (n + 1));
#pragma omp parallel num_threads(threads)
    {
        int32_t *own = scratch.data() + static_cast<std::size_t>(omp_get_thread_num()) * (n + 1);
#pragma omp for schedule(static)
        for (int32_t j = 0; j < halfHeight; ++j) fieldRowOnLanes(level, rows, j, own);
    }
    return true;
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

void TInterpolator::evaluateHalfSizeMaps(int32_t width, int32_t height, std::span<const float> sqrtTable,
                                         std::span<float> halfX, std::span<float> halfY) const {
    // The half size, truncated: the field is evaluated at every second pixel
    // and enlarged, a quarter of the work for a smooth field.
    const int32_t halfWidth = width / 2;
    const int32_t halfHeight = height / 2;
    const std::size_t cellCount = static_cast<std::size_t>(halfWidth) * static_cast<std::size_t>(halfHeight);
    assert(halfX.size() >= cellCount && halfY.size() >= cellCount);
    assert(coefficients.size() >= controlPoints.size());
    static_cast<void>(cellCount);

    // Integer copies of the control points.
    const std::size_t n = controlPoints.size();
    std::vector<int64_t> pointX(n);
    std::vector<int64_t> pointY(n);
    for (std::size_t k = 0; k < n; ++k) {
        pointX[k] = truncateCoordinate(controlPoints[k].x);
        pointY[k] = truncateCoordinate(controlPoints[k].y);
    }

    if (evaluateOnLanes(width, height, sqrtTable, pointX, pointY, coefficients, halfX, halfY)) return;

    const int64_t *px = pointX.data();
    const int64_t *py = pointY.data();
    const TPointf *weights = coefficients.data();
    const float *table = sqrtTable.data();
    const uint64_t tableSize = sqrtTable.size();
    float *outX = halfX.data();
    float *outY = halfY.data();
    const float lastUsableX = static_cast<float>(width - 2);
    const float lastUsableY = static_cast<float>(height - 2);

    // One parallel loop over the half-size
    // columns with a static schedule; each thread writes only its own columns
    // and reads everything else, so nothing is locked. Every value depends on
    // its own (i, j) only, so the result is the same for any number of threads.
#pragma omp parallel for schedule(static)
    for (int32_t i = 0; i < halfWidth; ++i) {
        const int64_t x = 2 * static_cast<int64_t>(i);
        const float xf = static_cast<float>(x);
        for (int32_t j = 0; j < halfHeight; ++j) {
            const int64_t y = 2 * static_cast<int64_t>(j);
            const float yf = static_cast<float>(y);
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
                const float distance =
                    index < tableSize ? table[index] : std::sqrt(static_cast<float>(index));
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
            if (xf + u > lastUsableX) {
                u = lastUsableX - xf;
            }
            if (yf + v > lastUsableY) {
                v = lastUsableY - yf;
            }
            const std::size_t cell = static_cast<std::size_t>(j) * static_cast<std::size_t>(halfWidth) +
                                     static_cast<std::size_t>(i);
            outX[cell] = u;
            outY[cell] = v;
        }
    }
}

void TInterpolator::buildDisplacementMaps(int32_t width, int32_t height, std::span<float> xMap,
                                          std::span<float> yMap) const {
    assert(width >= 2 && height >= 2);
    assert(xMap.size() >= static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    assert(yMap.size() >= static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    // The half-size maps, temporary to this operation.
    const int32_t halfWidth = width / 2;
    const int32_t halfHeight = height / 2;
    const std::size_t cellCount = static_cast<std::size_t>(halfWidth) * static_cast<std::size_t>(halfHeight);
    std::vector<float> halfX(cellCount);
    std::vector<float> halfY(cellCount);
    evaluateHalfSizeMaps(width, height, libraryState().sqrtTable, halfX, halfY);

    // Enlarge each map with resizeMap, bilinear, factors W / w and H / h in
    // double precision; the scaled size is then W x H.
    const double xFactor = static_cast<double>(width) / static_cast<double>(halfWidth);
    const double yFactor = static_cast<double>(height) / static_cast<double>(halfHeight);
    const IntRect halfRect{0, 0, halfWidth, halfHeight};
    const int32_t halfStep = 4 * halfWidth;
    const int32_t fullStep = 4 * width;
    [[maybe_unused]] const int32_t statusX =
        resizeMap(halfX.data(), halfWidth, halfHeight, halfStep, halfRect, xMap.data(), fullStep, width, height,
                  xFactor, yFactor, kInterpolationBilinear);
    [[maybe_unused]] const int32_t statusY =
        resizeMap(halfY.data(), halfWidth, halfHeight, halfStep, halfRect, yMap.data(), fullStep, width, height,
                  xFactor, yFactor, kInterpolationBilinear);
    assert(statusX == kResampleOk && statusY == kResampleOk);
    // The half-size maps go with this scope.
}

}  // namespace kelmo
