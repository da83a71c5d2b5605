// Tests of TInterpolator (Part 6.1): the (+1, +1) nudge, the solve against an
// independent double-precision elimination, and the displacement maps against
// a direct evaluation of the Part's formulas written here.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "frame/library_state.h"
#include "warp/interpolator.h"
#include "warp/warp_reference.h"

namespace {

using kelmo::TInterpolator;
using warp_reference::cornerAlignedEnlargement;
using warp_reference::makeSqrtTable;

// Swaps the process-wide square-root table for the test's and restores it.
class ScopedSqrtTable {
public:
    explicit ScopedSqrtTable(std::vector<float> table) : saved_(std::move(kelmo::libraryState().sqrtTable)) {
        kelmo::libraryState().sqrtTable = std::move(table);
    }
    ~ScopedSqrtTable() { kelmo::libraryState().sqrtTable = std::move(saved_); }
    ScopedSqrtTable(const ScopedSqrtTable &) = delete;
    ScopedSqrtTable &operator=(const ScopedSqrtTable &) = delete;

private:
    std::vector<float> saved_;
};

// Gaussian elimination with partial pivoting in double precision: the
// reference for the single-precision LAPACK solve. `matrix` is n x n row-major,
// `rhs` n x columns row-major; returns the solution, row-major.
std::vector<double> solveInDouble(std::vector<double> matrix, std::vector<double> rhs, std::size_t n,
                                  std::size_t columns) {
    for (std::size_t pivotColumn = 0; pivotColumn < n; ++pivotColumn) {
        std::size_t best = pivotColumn;
        for (std::size_t row = pivotColumn + 1; row < n; ++row) {
            if (std::fabs(matrix[row * n + pivotColumn]) > std::fabs(matrix[best * n + pivotColumn])) {
                best = row;
            }
        }
        for (std::size_t k = 0; k < n; ++k) std::swap(matrix[pivotColumn * n + k], matrix[best * n + k]);
        for (std::size_t k = 0; k < columns; ++k) std::swap(rhs[pivotColumn * columns + k], rhs[best * columns + k]);
        for (std::size_t row = pivotColumn + 1; row < n; ++row) {
            const double factor = matrix[row * n + pivotColumn] / matrix[pivotColumn * n + pivotColumn];
            for (std::size_t k = pivotColumn; k < n; ++k) matrix[row * n + k] -= factor * matrix[pivotColumn * n + k];
            for (std::size_t k = 0; k < columns; ++k) rhs[row * columns + k] -= factor * rhs[pivotColumn * columns + k];
        }
    }
    std::vector<double> solution(n * columns);
    for (std::size_t row = n; row-- > 0;) {
        for (std::size_t c = 0; c < columns; ++c) {
            double sum = rhs[row * columns + c];
            for (std::size_t k = row + 1; k < n; ++k) sum -= matrix[row * n + k] * solution[k * columns + c];
            solution[row * columns + c] = sum / matrix[row * n + row];
        }
    }
    return solution;
}

// An interpolator with given control points and coefficients (no solve), so
// that the map tests choose coefficients that exercise every clamp.
TInterpolator interpolatorWithWeights(const std::vector<TPointf> &points, const std::vector<TPointf> &weights) {
    TInterpolator interpolator;
    interpolator.controlPoints = points;
    interpolator.values.assign(points.size(), TPointf{0.0f, 0.0f});
    interpolator.coefficients = weights;
    return interpolator;
}

void randomPointsAndWeights(std::mt19937 &random, int count, int width, int height, float weightScale,
                            std::vector<TPointf> &points, std::vector<TPointf> &weights) {
    std::uniform_int_distribution<int> columnOf(0, width - 1);
    std::uniform_int_distribution<int> rowOf(0, height - 1);
    std::uniform_real_distribution<float> weightOf(-weightScale, weightScale);
    for (int k = 0; k < count; ++k) {
        points.push_back(TPointf{static_cast<float>(columnOf(random)), static_cast<float>(rowOf(random))});
        weights.push_back(TPointf{weightOf(random), weightOf(random)});
    }
}

// ---- Adding control points ---------------------------------------------------

TEST(TInterpolatorAdd, FreePointIsAppendedWithItsValueUnchanged) {
    TInterpolator interpolator;
    interpolator.addControlPoint(3.0f, 4.0f, -2.0f, 7.5f);
    interpolator.addControlPoint(10.0f, 4.0f, 1.0f, 0.0f);
    ASSERT_EQ(interpolator.controlPoints.size(), 2u);
    ASSERT_EQ(interpolator.values.size(), 2u);
    EXPECT_EQ(interpolator.controlPoints[0].x, 3.0f);
    EXPECT_EQ(interpolator.controlPoints[0].y, 4.0f);
    EXPECT_EQ(interpolator.values[0].x, -2.0f);
    EXPECT_EQ(interpolator.values[0].y, 7.5f);
    EXPECT_EQ(interpolator.controlPoints[1].x, 10.0f);
    EXPECT_EQ(interpolator.controlPoints[1].y, 4.0f);
    EXPECT_TRUE(interpolator.coefficients.empty());
}

TEST(TInterpolatorAdd, SecondPointOnSamePixelIsMovedByPlusOnePlusOne) {
    TInterpolator interpolator;
    interpolator.addControlPoint(5.0f, 5.0f, 1.0f, 2.0f);
    interpolator.addControlPoint(5.0f, 5.0f, 3.0f, 4.0f);
    ASSERT_EQ(interpolator.controlPoints.size(), 2u);
    EXPECT_EQ(interpolator.controlPoints[1].x, 6.0f);
    EXPECT_EQ(interpolator.controlPoints[1].y, 6.0f);
    // The value stays the one given, only the position moves.
    EXPECT_EQ(interpolator.values[1].x, 3.0f);
    EXPECT_EQ(interpolator.values[1].y, 4.0f);
}

TEST(TInterpolatorAdd, PointWithinHalfPixelOnBothAxesIsMoved) {
    TInterpolator interpolator;
    interpolator.addControlPoint(5.0f, 5.0f, 0.0f, 0.0f);
    interpolator.addControlPoint(5.25f, 4.75f, 0.0f, 0.0f);
    EXPECT_EQ(interpolator.controlPoints[1].x, 6.25f);
    EXPECT_EQ(interpolator.controlPoints[1].y, 5.75f);
}

TEST(TInterpolatorAdd, PointHalfPixelAwayOrCloseOnOneAxisOnlyIsNotMoved) {
    TInterpolator interpolator;
    interpolator.addControlPoint(5.0f, 5.0f, 0.0f, 0.0f);
    interpolator.addControlPoint(5.5f, 5.0f, 0.0f, 0.0f);  // |dx| = 0.5 is not below 0.5
    interpolator.addControlPoint(5.0f, 8.0f, 0.0f, 0.0f);  // close in x only
    interpolator.addControlPoint(9.0f, 5.25f, 0.0f, 0.0f);  // close in y only
    EXPECT_EQ(interpolator.controlPoints[1].x, 5.5f);
    EXPECT_EQ(interpolator.controlPoints[1].y, 5.0f);
    EXPECT_EQ(interpolator.controlPoints[2].x, 5.0f);
    EXPECT_EQ(interpolator.controlPoints[2].y, 8.0f);
    EXPECT_EQ(interpolator.controlPoints[3].x, 9.0f);
    EXPECT_EQ(interpolator.controlPoints[3].y, 5.25f);
}

TEST(TInterpolatorAdd, NudgeRescansFromFirstPointSoAPointMovedOntoAnEarlierOneMovesAgain) {
    TInterpolator interpolator;
    interpolator.addControlPoint(6.0f, 6.0f, 0.0f, 0.0f);  // first: where the nudge lands
    interpolator.addControlPoint(5.0f, 5.0f, 0.0f, 0.0f);  // second: the one hit
    interpolator.addControlPoint(5.0f, 5.0f, 0.0f, 0.0f);
    // Hitting the second point moves the new one onto the first; only a scan
    // that starts again from the first point sees that and moves it once more.
    EXPECT_EQ(interpolator.controlPoints[2].x, 7.0f);
    EXPECT_EQ(interpolator.controlPoints[2].y, 7.0f);
}

TEST(TInterpolatorAdd, NudgeRepeatsUntilThePointIsFree) {
    TInterpolator interpolator;
    for (int k = 0; k < 4; ++k) {
        interpolator.addControlPoint(5.0f + k, 5.0f + k, 0.0f, 0.0f);
    }
    interpolator.addControlPoint(5.0f, 5.0f, 0.0f, 0.0f);
    EXPECT_EQ(interpolator.controlPoints[4].x, 9.0f);
    EXPECT_EQ(interpolator.controlPoints[4].y, 9.0f);
}

TEST(TInterpolatorAdd, PointTooLargeForPlusOneIsAppendedInPlaceInsteadOfLoopingForEver) {
    // 2^25: adding 1 to the float changes nothing, so the nudge cannot free it.
    const float huge = 33554432.0f;
    TInterpolator interpolator;
    interpolator.addControlPoint(huge, huge, 0.0f, 0.0f);
    interpolator.addControlPoint(huge, huge, 1.0f, 1.0f);
    ASSERT_EQ(interpolator.controlPoints.size(), 2u);
    EXPECT_EQ(interpolator.controlPoints[1].x, huge);
    EXPECT_EQ(interpolator.controlPoints[1].y, huge);
}

TEST(TInterpolatorAdd, PointWhoseXCannotMoveStillMovesAlongY) {
    // x at 2^25 stalls, y still moves: the point gets free along y.
    const float huge = 33554432.0f;
    TInterpolator interpolator;
    interpolator.addControlPoint(huge, 5.0f, 0.0f, 0.0f);
    interpolator.addControlPoint(huge, 5.0f, 0.0f, 0.0f);
    EXPECT_EQ(interpolator.controlPoints[1].x, huge);
    EXPECT_EQ(interpolator.controlPoints[1].y, 6.0f);
}

// ---- Solving -----------------------------------------------------------------

TEST(TInterpolatorSolve, WithoutPointsLeavesCoefficientsEmpty) {
    TInterpolator interpolator;
    interpolator.solve();
    EXPECT_TRUE(interpolator.coefficients.empty());
}

TEST(TInterpolatorSolve, CornersWithZeroValuesGiveZeroCoefficients) {
    TInterpolator interpolator;
    interpolator.addControlPoint(0.0f, 0.0f, 0.0f, 0.0f);
    interpolator.addControlPoint(39.0f, 0.0f, 0.0f, 0.0f);
    interpolator.addControlPoint(0.0f, 29.0f, 0.0f, 0.0f);
    interpolator.addControlPoint(39.0f, 29.0f, 0.0f, 0.0f);
    interpolator.solve();
    ASSERT_EQ(interpolator.coefficients.size(), 4u);
    for (const TPointf &c : interpolator.coefficients) {
        EXPECT_EQ(c.x, 0.0f);
        EXPECT_EQ(c.y, 0.0f);
    }
}

TEST(TInterpolatorSolve, FixedPointWithEqualSourceAndDestinationKeepsCoefficientsZero) {
    TInterpolator interpolator;
    interpolator.addControlPoint(12.0f, 7.0f, 0.0f, 0.0f);  // a caller point with source == destination
    interpolator.addControlPoint(0.0f, 0.0f, 0.0f, 0.0f);
    interpolator.addControlPoint(39.0f, 0.0f, 0.0f, 0.0f);
    interpolator.addControlPoint(0.0f, 29.0f, 0.0f, 0.0f);
    interpolator.addControlPoint(39.0f, 29.0f, 0.0f, 0.0f);
    interpolator.solve();
    ASSERT_EQ(interpolator.coefficients.size(), 5u);
    for (const TPointf &c : interpolator.coefficients) {
        EXPECT_EQ(c.x, 0.0f);
        EXPECT_EQ(c.y, 0.0f);
    }
}

TEST(TInterpolatorSolve, MatchesDoublePrecisionSolveOfTheDistanceMatrix) {
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> coordinate(0, 255);
    std::uniform_int_distribution<int> displacement(-20, 20);
    TInterpolator interpolator;
    for (int k = 0; k < 40; ++k) {
        interpolator.addControlPoint(static_cast<float>(coordinate(random)), static_cast<float>(coordinate(random)),
                                     static_cast<float>(displacement(random)),
                                     static_cast<float>(displacement(random)));
    }
    interpolator.solve();
    const std::size_t n = interpolator.controlPoints.size();
    ASSERT_EQ(interpolator.coefficients.size(), n);

    // The plain distance kernel, no polynomial part, in double precision.
    std::vector<double> matrix(n * n);
    std::vector<double> rhs(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            const double dx = interpolator.controlPoints[i].x - interpolator.controlPoints[j].x;
            const double dy = interpolator.controlPoints[i].y - interpolator.controlPoints[j].y;
            matrix[i * n + j] = std::sqrt(dx * dx + dy * dy);
        }
        rhs[2 * i] = interpolator.values[i].x;
        rhs[2 * i + 1] = interpolator.values[i].y;
    }
    const std::vector<double> expected = solveInDouble(matrix, rhs, n, 2);
    double largest = 0.0;
    for (double value : expected) largest = std::max(largest, std::fabs(value));
    ASSERT_GT(largest, 0.01);
    // Single precision on a matrix of condition ~1e3..1e4: agreement to a
    // small fraction of the largest coefficient.
    for (std::size_t k = 0; k < n; ++k) {
        EXPECT_NEAR(interpolator.coefficients[k].x, expected[2 * k], 1e-3 * largest) << "row " << k;
        EXPECT_NEAR(interpolator.coefficients[k].y, expected[2 * k + 1], 1e-3 * largest) << "row " << k;
    }
    // And the interpolation conditions hold: the field reproduces every value.
    for (std::size_t i = 0; i < n; ++i) {
        double u = 0.0;
        double v = 0.0;
        for (std::size_t j = 0; j < n; ++j) {
            u += matrix[i * n + j] * interpolator.coefficients[j].x;
            v += matrix[i * n + j] * interpolator.coefficients[j].y;
        }
        EXPECT_NEAR(u, interpolator.values[i].x, 1e-2);
        EXPECT_NEAR(v, interpolator.values[i].y, 1e-2);
    }
}

TEST(TInterpolatorSolve, SolvingAgainAppendsTheSameRowsBehindTheFirst) {
    TInterpolator interpolator;
    interpolator.addControlPoint(3.0f, 3.0f, 2.0f, -1.0f);
    interpolator.addControlPoint(20.0f, 9.0f, -4.0f, 5.0f);
    interpolator.addControlPoint(0.0f, 0.0f, 0.0f, 0.0f);
    interpolator.solve();
    interpolator.solve();
    ASSERT_EQ(interpolator.coefficients.size(), 6u);
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(interpolator.coefficients[k].x, interpolator.coefficients[k + 3].x);
        EXPECT_EQ(interpolator.coefficients[k].y, interpolator.coefficients[k + 3].y);
    }
    EXPECT_NE(interpolator.coefficients[0].x, 0.0f);
}

// ---- Displacement maps -------------------------------------------------------

TEST(TInterpolatorMaps, HalfSizeMapsEqualDirectEvaluationOfTheFormulasBitForBit) {
    const std::vector<float> table = makeSqrtTable(std::size_t{1} << 21);
    std::mt19937 random(99);
    for (const auto &[width, height] : {std::pair{33, 17}, std::pair{40, 30}, std::pair{31, 23}, std::pair{2, 2}}) {
        std::vector<TPointf> points;
        std::vector<TPointf> weights;
        // Weights large enough that every clamp acts somewhere.
        randomPointsAndWeights(random, 12, width, height, 0.8f, points, weights);
        const TInterpolator interpolator = interpolatorWithWeights(points, weights);
        const int w = width / 2;
        const int h = height / 2;
        std::vector<float> halfX(static_cast<std::size_t>(w * h), -99.0f);
        std::vector<float> halfY(static_cast<std::size_t>(w * h), -99.0f);
        interpolator.evaluateHalfSizeMaps(width, height, table, halfX, halfY);
        std::vector<float> expectedX;
        std::vector<float> expectedY;
        warp_reference::halfSizeMaps(points, weights, width, height, expectedX, expectedY);
        for (std::size_t cell = 0; cell < halfX.size(); ++cell) {
            ASSERT_EQ(halfX[cell], expectedX[cell]) << width << "x" << height << " cell " << cell;
            ASSERT_EQ(halfY[cell], expectedY[cell]) << width << "x" << height << " cell " << cell;
        }
    }
}

TEST(TInterpolatorMaps, ClampsKeepEverySampleAtLeastOnePixelInside) {
    const std::vector<float> table = makeSqrtTable(std::size_t{1} << 21);
    std::mt19937 random(7);
    std::vector<TPointf> points;
    std::vector<TPointf> weights;
    randomPointsAndWeights(random, 10, 40, 30, 5.0f, points, weights);
    const TInterpolator interpolator = interpolatorWithWeights(points, weights);
    std::vector<float> halfX(20 * 15);
    std::vector<float> halfY(20 * 15);
    interpolator.evaluateHalfSizeMaps(40, 30, table, halfX, halfY);
    int clampedLow = 0;
    int clampedHigh = 0;
    for (int j = 0; j < 15; ++j) {
        for (int i = 0; i < 20; ++i) {
            const float x = 2.0f * i + halfX[static_cast<std::size_t>(j * 20 + i)];
            const float y = 2.0f * j + halfY[static_cast<std::size_t>(j * 20 + i)];
            EXPECT_GE(x, 1.0f);
            EXPECT_LE(x, 38.0f);
            EXPECT_GE(y, 1.0f);
            EXPECT_LE(y, 28.0f);
            clampedLow += (x == 1.0f) + (y == 1.0f);
            clampedHigh += (x == 38.0f) + (y == 28.0f);
        }
    }
    // Weights this large push samples out on both sides.
    EXPECT_GT(clampedLow, 0);
    EXPECT_GT(clampedHigh, 0);
}

TEST(TInterpolatorMaps, SquaredDistanceBeyondTheTableUsesSinglePrecisionSquareRoot) {
    // A table of 64 entries holding 2 * sqrt(i): indices inside read the table
    // (the doubled value), indices beyond it get sqrtf(index).
    std::vector<float> table(64);
    for (std::size_t i = 0; i < table.size(); ++i) table[i] = 2.0f * std::sqrt(static_cast<float>(i));
    TInterpolator interpolator;
    interpolator.controlPoints = {TPointf{2.0f, 2.0f}};
    interpolator.coefficients = {TPointf{1.0f, 0.0f}};
    interpolator.values = {TPointf{0.0f, 0.0f}};
    // An 80 x 40 image (40 x 20 cells): cell (4, 1) is the pixel (8, 2), index
    // 36, inside; cells (10, 1) and (11, 1) are (20, 2) and (22, 2), indices
    // 324 and 400, beyond. No clamp acts on these cells.
    std::vector<float> halfX(40 * 20);
    std::vector<float> halfY(40 * 20);
    interpolator.evaluateHalfSizeMaps(80, 40, table, halfX, halfY);
    EXPECT_EQ(halfX[1 * 40 + 4], 12.0f);
    EXPECT_EQ(halfX[1 * 40 + 10], std::sqrt(324.0f));
    EXPECT_EQ(halfX[1 * 40 + 11], std::sqrt(400.0f));
}

TEST(TInterpolatorMaps, ControlPointFarOffTheImageIsEvaluatedWithComputedSquareRoots) {
    const std::vector<float> table = makeSqrtTable(std::size_t{1} << 21);
    std::vector<TPointf> points = {TPointf{-3000.0f, 5000.0f}, TPointf{10.0f, 10.0f}};
    std::vector<TPointf> weights = {TPointf{1e-4f, -2e-4f}, TPointf{0.01f, 0.02f}};
    const TInterpolator interpolator = interpolatorWithWeights(points, weights);
    std::vector<float> halfX(20 * 15);
    std::vector<float> halfY(20 * 15);
    interpolator.evaluateHalfSizeMaps(40, 30, table, halfX, halfY);
    std::vector<float> expectedX;
    std::vector<float> expectedY;
    warp_reference::halfSizeMaps(points, weights, 40, 30, expectedX, expectedY);
    EXPECT_EQ(halfX, expectedX);
    EXPECT_EQ(halfY, expectedY);
}

TEST(TInterpolatorMaps, ControlPointsAtTheLimitsOf32BitIntegersStayDefined) {
    // UBSan watches the integer arithmetic; the values are finite and clamped.
    const std::vector<float> table = makeSqrtTable(std::size_t{1} << 21);
    std::vector<TPointf> points = {TPointf{2147483648.0f, -2147483648.0f}, TPointf{-2147483648.0f, 2147483648.0f}};
    std::vector<TPointf> weights = {TPointf{1.0f, 1.0f}, TPointf{-1.0f, 1.0f}};
    const TInterpolator interpolator = interpolatorWithWeights(points, weights);
    std::vector<float> halfX(8 * 8);
    std::vector<float> halfY(8 * 8);
    interpolator.evaluateHalfSizeMaps(16, 16, table, halfX, halfY);
    for (std::size_t cell = 0; cell < halfX.size(); ++cell) {
        EXPECT_TRUE(std::isfinite(halfX[cell]));
        EXPECT_TRUE(std::isfinite(halfY[cell]));
    }
}

TEST(TInterpolatorMaps, HalfSizeMapsDoNotDependOnTheNumberOfThreads) {
    const std::vector<float> table = makeSqrtTable(std::size_t{1} << 21);
    std::mt19937 random(5);
    std::vector<TPointf> points;
    std::vector<TPointf> weights;
    randomPointsAndWeights(random, 30, 101, 77, 0.5f, points, weights);
    const TInterpolator interpolator = interpolatorWithWeights(points, weights);
    const int savedThreads = omp_get_max_threads();
    std::vector<float> oneX(50 * 38);
    std::vector<float> oneY(50 * 38);
    std::vector<float> twoX(50 * 38);
    std::vector<float> twoY(50 * 38);
    omp_set_num_threads(1);
    interpolator.evaluateHalfSizeMaps(101, 77, table, oneX, oneY);
    omp_set_num_threads(2);
    interpolator.evaluateHalfSizeMaps(101, 77, table, twoX, twoY);
    omp_set_num_threads(savedThreads);
    EXPECT_EQ(oneX, twoX);
    EXPECT_EQ(oneY, twoY);
}

TEST(TInterpolatorMaps, FullSizeMapsAreTheCornerAlignedEnlargementOfTheHalfSizeMaps) {
    const ScopedSqrtTable scopedTable(makeSqrtTable(std::size_t{1} << 21));
    std::mt19937 random(31);
    for (const auto &[width, height] : {std::pair{33, 17}, std::pair{40, 30}, std::pair{31, 23}}) {
        std::vector<TPointf> points;
        std::vector<TPointf> weights;
        randomPointsAndWeights(random, 9, width, height, 0.3f, points, weights);
        const TInterpolator interpolator = interpolatorWithWeights(points, weights);
        std::vector<float> xMap(static_cast<std::size_t>(width * height), -99.0f);
        std::vector<float> yMap(static_cast<std::size_t>(width * height), -99.0f);
        interpolator.buildDisplacementMaps(width, height, xMap, yMap);

        std::vector<float> halfX;
        std::vector<float> halfY;
        warp_reference::halfSizeMaps(points, weights, width, height, halfX, halfY);
        const int w = width / 2;
        const int h = height / 2;
        const std::vector<float> expectedX = cornerAlignedEnlargement(halfX, w, h, width, height);
        const std::vector<float> expectedY = cornerAlignedEnlargement(halfY, w, h, width, height);
        for (std::size_t cell = 0; cell < xMap.size(); ++cell) {
            ASSERT_EQ(xMap[cell], expectedX[cell]) << width << "x" << height << " cell " << cell;
            ASSERT_EQ(yMap[cell], expectedY[cell]) << width << "x" << height << " cell " << cell;
        }
        // Corner alignment: the four corner pixels carry the half-size corners.
        const auto at = [&](const std::vector<float> &map, int x, int y) {
            return map[static_cast<std::size_t>(y * width + x)];
        };
        EXPECT_EQ(at(xMap, 0, 0), halfX[0]);
        EXPECT_EQ(at(xMap, width - 1, 0), halfX[static_cast<std::size_t>(w - 1)]);
        EXPECT_EQ(at(xMap, 0, height - 1), halfX[static_cast<std::size_t>((h - 1) * w)]);
        EXPECT_EQ(at(yMap, width - 1, height - 1), halfY[static_cast<std::size_t>(h * w - 1)]);
    }
}

TEST(TInterpolatorMaps, WithoutTableEntriesEveryDisplacementIsZeroBeforeClamping) {
    // Part 6.1, Failure handling: a table never loaded is all zeros.
    const std::vector<float> zeros(std::size_t{1} << 21, 0.0f);
    const TInterpolator interpolator =
        interpolatorWithWeights({TPointf{5.0f, 5.0f}, TPointf{30.0f, 20.0f}}, {TPointf{3.0f, -2.0f}, TPointf{1.0f, 4.0f}});
    std::vector<float> halfX(20 * 15);
    std::vector<float> halfY(20 * 15);
    interpolator.evaluateHalfSizeMaps(40, 30, zeros, halfX, halfY);
    for (int j = 0; j < 15; ++j) {
        for (int i = 0; i < 20; ++i) {
            // Only the first column and row are clamped, one pixel inward.
            EXPECT_EQ(halfX[static_cast<std::size_t>(j * 20 + i)], i == 0 ? 1.0f : 0.0f);
            EXPECT_EQ(halfY[static_cast<std::size_t>(j * 20 + i)], j == 0 ? 1.0f : 0.0f);
        }
    }
}

}  // namespace
