// TInterpolator: control points kept apart, and the solve held to the
// interpolation conditions in double precision. Its displacement maps are
// checked through whole warps in image_warp_test.cpp.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "warp/interpolator.h"

namespace {

TEST(TInterpolator, AddedPointMovesByOneOneUntilNoEarlierPointIsWithinHalfAPixel) {
    const float huge = 33554432.0f;  // 2^25: adding 1 no longer changes it
    const std::vector<std::vector<TPointf>> cases = {
        // earlier points, the added point, where it lands
        {{3, 4}, {10, 4}, {10, 4}},
        {{5, 5}, {5.3f, 5.2f}, {6.3f, 6.2f}},
        {{5, 5}, {6, 6}, {7, 7}, {8, 8}, {5, 5}, {9, 9}},
        {{6, 6}, {5, 5}, {5, 5}, {7, 7}},  // the search starts again from the first point
        {{huge, huge}, {huge, huge}, {huge, huge}},  // cannot move: kept where it is
        {{huge, 5}, {huge, 5}, {huge, 6}},
    };
    for (const auto &c : cases) {
        kelmo::TInterpolator interpolator;
        for (std::size_t k = 0; k + 1 < c.size(); ++k) interpolator.addControlPoint(c[k].x, c[k].y, float(k), 7.5f);
        ASSERT_EQ(interpolator.controlPoints.size(), c.size() - 1);
        EXPECT_EQ(interpolator.controlPoints.back().x, c.back().x) << c[c.size() - 2].x;
        EXPECT_EQ(interpolator.controlPoints.back().y, c.back().y) << c[c.size() - 2].y;
        EXPECT_EQ(interpolator.values.back().x, float(c.size() - 2));  // the value stays
    }
}

TEST(TInterpolator, SolveMeetsTheInterpolationConditionsOfThePlainDistanceKernel) {
    std::mt19937 random(1234);
    kelmo::TInterpolator interpolator;
    interpolator.solve();
    EXPECT_TRUE(interpolator.coefficients.empty());
    for (int k = 0; k < 40; ++k) {
        interpolator.addControlPoint(float(random() % 256), float(random() % 256), float(int(random() % 41) - 20),
                                     float(int(random() % 41) - 20));
    }
    interpolator.solve();
    const std::vector<TPointf> &points = interpolator.controlPoints, &c = interpolator.coefficients;
    ASSERT_EQ(c.size(), points.size());
    // sum over j of |p_i - p_j| c_j = v_i, in double precision.
    for (std::size_t i = 0; i < points.size(); ++i) {
        double u = 0.0, v = 0.0;
        for (std::size_t j = 0; j < points.size(); ++j) {
            const double distance = std::hypot(double(points[i].x) - points[j].x, double(points[i].y) - points[j].y);
            u += distance * c[j].x;
            v += distance * c[j].y;
        }
        EXPECT_NEAR(u, interpolator.values[i].x, 1e-2) << i;
        EXPECT_NEAR(v, interpolator.values[i].y, 1e-2) << i;
    }
    interpolator.solve();  // a second solve appends the same rows again
    ASSERT_EQ(c.size(), 2 * points.size());
    EXPECT_EQ(c[points.size() + 7].y, c[7].y);
}

}  // namespace
