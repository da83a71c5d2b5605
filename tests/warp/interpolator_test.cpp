// TInterpolator: control points kept apart, the solve checked against the
// interpolation conditions in double precision, and the displacement maps
// against their re-computation.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "frame/library_state.h"
#include "warp/interpolator.h"
#include "warp/warp_reference.h"

namespace {

using kelmo::TInterpolator;
using namespace kelmo_test;

const std::vector<float> &sqrtTable() {
    static const std::vector<float> table = [] {
        std::vector<float> entries(std::size_t{1} << 21);
        for (std::size_t i = 0; i < entries.size(); ++i) entries[i] = std::sqrt(float(i));
        return entries;
    }();
    return table;
}

TEST(TInterpolator, AddedPointMovesByOneOneUntilNoEarlierPointIsWithinHalfAPixel) {
    const float huge = 33554432.0f;  // 2^25: adding 1 no longer changes it
    const struct {
        std::vector<TPointf> earlier;
        TPointf added, expected;
    } cases[] = {
        {{{3, 4}}, {10, 4}, {10, 4}},
        {{{5, 5}}, {5.3f, 5.2f}, {6.3f, 6.2f}},
        {{{5, 5}, {6, 6}, {7, 7}, {8, 8}}, {5, 5}, {9, 9}},
        {{{6, 6}, {5, 5}}, {5, 5}, {7, 7}},  // the search starts again from the first point
        {{{huge, huge}}, {huge, huge}, {huge, huge}},  // cannot move: appended where it is
        {{{huge, 5}}, {huge, 5}, {huge, 6}},
    };
    for (const auto &c : cases) {
        TInterpolator interpolator;
        for (const TPointf &point : c.earlier) interpolator.addControlPoint(point.x, point.y, 0, 0);
        interpolator.addControlPoint(c.added.x, c.added.y, -2.0f, 7.5f);
        ASSERT_EQ(interpolator.controlPoints.size(), c.earlier.size() + 1);
        EXPECT_EQ(interpolator.controlPoints.back().x, c.expected.x) << c.added.x << "," << c.added.y;
        EXPECT_EQ(interpolator.controlPoints.back().y, c.expected.y) << c.added.x << "," << c.added.y;
        EXPECT_EQ(interpolator.values.back().x, -2.0f);
        EXPECT_EQ(interpolator.values.back().y, 7.5f);
    }
}

TEST(TInterpolator, SolveMeetsTheInterpolationConditionsOfThePlainDistanceKernel) {
    std::mt19937 random(1234);
    TInterpolator interpolator;
    interpolator.solve();
    EXPECT_TRUE(interpolator.coefficients.empty());
    for (int k = 0; k < 40; ++k) {
        interpolator.addControlPoint(float(random() % 256), float(random() % 256), float(int(random() % 41) - 20),
                                     float(int(random() % 41) - 20));
    }
    interpolator.solve();
    const std::size_t n = interpolator.controlPoints.size();
    ASSERT_EQ(interpolator.coefficients.size(), n);
    // sum_j |p_i - p_j| c_j = v_i, in double precision.
    for (std::size_t i = 0; i < n; ++i) {
        double u = 0.0, v = 0.0;
        for (std::size_t j = 0; j < n; ++j) {
            const double distance = std::hypot(double(interpolator.controlPoints[i].x) - interpolator.controlPoints[j].x,
                                               double(interpolator.controlPoints[i].y) - interpolator.controlPoints[j].y);
            u += distance * interpolator.coefficients[j].x;
            v += distance * interpolator.coefficients[j].y;
        }
        EXPECT_NEAR(u, interpolator.values[i].x, 1e-2) << i;
        EXPECT_NEAR(v, interpolator.values[i].y, 1e-2) << i;
    }
    // A second solve appends the same rows again.
    interpolator.solve();
    ASSERT_EQ(interpolator.coefficients.size(), 2 * n);
    EXPECT_EQ(interpolator.coefficients[n + 7].x, interpolator.coefficients[7].x);
}

TEST(TInterpolator, HalfSizeMapsMatchTheirRecomputationBitForBitWithAnyThreadCount) {
    std::mt19937 random(99);
    std::uniform_real_distribution<float> weight(-0.8f, 0.8f);
    const struct {
        int width, height;
        std::vector<TPointf> extra;  // points off the image: distances beyond the table
    } cases[] = {{33, 17, {}}, {40, 30, {{-3000, 5000}}}, {101, 77, {}}, {2, 2, {}}, {16, 16, {{2147483648.0f, -2147483648.0f}}}};
    const int threads = omp_get_max_threads();
    for (const auto &c : cases) {
        std::vector<TPointf> points = c.extra, weights;
        for (int k = 0; k < 12; ++k) points.push_back({float(random() % unsigned(c.width)), float(random() % unsigned(c.height))});
        for (std::size_t k = 0; k < points.size(); ++k) weights.push_back({weight(random), weight(random)});
        if (!c.extra.empty()) weights[0] = {1e-4f, -2e-4f};
        TInterpolator interpolator;
        interpolator.controlPoints = points;
        interpolator.coefficients = weights;
        std::vector<float> expectedX, expectedY;
        halfSizeMaps(points, weights, c.width, c.height, expectedX, expectedY);
        for (int threadCount : {1, 2}) {
            omp_set_num_threads(threadCount);
            std::vector<float> halfX(expectedX.size(), -99.0f), halfY(expectedY.size(), -99.0f);
            interpolator.evaluateHalfSizeMaps(c.width, c.height, sqrtTable(), halfX, halfY);
            EXPECT_EQ(halfX, expectedX) << c.width << "x" << c.height << ", " << threadCount << " threads";
            EXPECT_EQ(halfY, expectedY) << c.width << "x" << c.height << ", " << threadCount << " threads";
        }
    }
    omp_set_num_threads(threads);
    // A short table: squared distances inside read it (here 2 sqrt(i)),
    // beyond it they are computed.
    std::vector<float> shortTable(64);
    for (std::size_t i = 0; i < 64; ++i) shortTable[i] = 2.0f * std::sqrt(float(i));
    TInterpolator interpolator;
    interpolator.controlPoints = {{2, 2}};
    interpolator.coefficients = {{1, 0}};
    std::vector<float> halfX(40 * 20), halfY(40 * 20);
    interpolator.evaluateHalfSizeMaps(80, 40, shortTable, halfX, halfY);
    EXPECT_EQ(halfX[1 * 40 + 4], 12.0f);  // pixel (8, 2): 36 in the table
    EXPECT_EQ(halfX[1 * 40 + 11], 20.0f);  // pixel (22, 2): 400 beyond it
}

TEST(TInterpolator, FullSizeMapsAreTheCornerAlignedEnlargementOfTheHalfSizeMaps) {
    kelmo::libraryState().sqrtTable = sqrtTable();
    std::mt19937 random(31);
    std::uniform_real_distribution<float> weight(-0.3f, 0.3f);
    for (const auto &[width, height] : {std::pair{33, 17}, std::pair{40, 30}, std::pair{31, 23}}) {
        TInterpolator interpolator;
        for (int k = 0; k < 9; ++k) {
            interpolator.controlPoints.push_back({float(random() % unsigned(width)), float(random() % unsigned(height))});
            interpolator.coefficients.push_back({weight(random), weight(random)});
        }
        std::vector<float> xMap(std::size_t(width * height)), yMap(xMap.size()), halfX, halfY;
        interpolator.buildDisplacementMaps(width, height, xMap, yMap);
        halfSizeMaps(interpolator.controlPoints, interpolator.coefficients, width, height, halfX, halfY);
        EXPECT_EQ(xMap, enlarged(halfX, width, height)) << width << "x" << height;
        EXPECT_EQ(yMap, enlarged(halfY, width, height)) << width << "x" << height;
    }
}

}  // namespace
