// Tests of the 3D radial-basis interpolator (Part 3.3).
#include "fitting/interpolator3d.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "model/model.h"

namespace kelmo {
namespace {

// Part 3.3, add step 2, written out from the Part's text: + 0.0001 in double,
// rounded back to single.
float nudgeOnce(float value) { return static_cast<float>(static_cast<double>(value) + 0.0001); }

bool sameBits(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b); }

// An independent solve of the linear-kernel system in double precision:
// Gaussian elimination with partial pivoting on A[i][j] = |c_i - c_j|.
std::vector<std::array<double, 3>> solveInDouble(const std::vector<TVector3f> &centres,
                                                 const std::vector<TVector3f> &values) {
    const std::size_t n = centres.size();
    std::vector<std::vector<double>> a(n, std::vector<double>(n + 3));
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            const double dx = static_cast<double>(centres[i].x) - centres[j].x;
            const double dy = static_cast<double>(centres[i].y) - centres[j].y;
            const double dz = static_cast<double>(centres[i].z) - centres[j].z;
            a[i][j] = std::sqrt(dx * dx + dy * dy + dz * dz);
        }
        a[i][n] = values[i].x;
        a[i][n + 1] = values[i].y;
        a[i][n + 2] = values[i].z;
    }
    for (std::size_t col = 0; col < n; ++col) {
        std::size_t pivot = col;
        for (std::size_t r = col + 1; r < n; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
        std::swap(a[col], a[pivot]);
        for (std::size_t r = 0; r < n; ++r) {
            if (r == col) continue;
            const double factor = a[r][col] / a[col][col];
            for (std::size_t c = col; c < n + 3; ++c) a[r][c] -= factor * a[col][c];
        }
    }
    std::vector<std::array<double, 3>> weights(n);
    for (std::size_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k)
            weights[i][static_cast<std::size_t>(k)] = a[i][n + static_cast<std::size_t>(k)] / a[i][i];
    return weights;
}

// 56 centres spread over a head-sized box, with displacements of a few
// hundredths, as the fitting of Part 3.1 makes them.
void addRandomCentres(TInterpolator3D &interpolator, std::mt19937 &rng, int count) {
    std::uniform_real_distribution<float> position(-1.0f, 1.0f);
    std::uniform_real_distribution<float> displacement(-0.05f, 0.05f);
    for (int k = 0; k < count; ++k) {
        interpolatorAdd(interpolator, position(rng), position(rng), 0.5f * position(rng), displacement(rng),
                        displacement(rng), displacement(rng));
    }
}

TEST(Interpolator3D, CentreWithinTenThousandthOnEveryAxisIsStoredMovedByTenThousandthOnEveryAxis) {
    TInterpolator3D interpolator;
    interpolatorAdd(interpolator, 1.0f, 2.0f, 3.0f, 0.1f, 0.2f, 0.3f);
    interpolatorAdd(interpolator, 1.00005f, 2.0f, 2.99995f, 0.4f, 0.5f, 0.6f);
    ASSERT_EQ(interpolator.centres.size(), 2u);
    EXPECT_TRUE(sameBits(interpolator.centres[1].x, nudgeOnce(1.00005f)));
    EXPECT_TRUE(sameBits(interpolator.centres[1].y, nudgeOnce(2.0f)));
    EXPECT_TRUE(sameBits(interpolator.centres[1].z, nudgeOnce(2.99995f)));
    // The value is never nudged.
    EXPECT_EQ(interpolator.values[1].x, 0.4f);
    EXPECT_EQ(interpolator.values[1].y, 0.5f);
    EXPECT_EQ(interpolator.values[1].z, 0.6f);
}

TEST(Interpolator3D, NudgedCentreIsNudgedAgainUntilClearOfAllCentres) {
    TInterpolator3D interpolator;
    interpolatorAdd(interpolator, 0.0f, 0.0f, 0.0f, 0, 0, 0);
    interpolatorAdd(interpolator, 0.00015f, 0.00015f, 0.00015f, 0, 0, 0);
    ASSERT_EQ(interpolator.centres.size(), 2u);
    ASSERT_TRUE(sameBits(interpolator.centres[1].x, 0.00015f)) << "0.00015 is clear of 0 on every axis";
    // (0, 0, 0) again: a duplicate of centre 0; nudged once it is still one
    // (0.0001 as a float lies just below 0.0001); nudged twice it is clear of
    // centre 0 but 0.00005 from centre 1; nudged three times it is clear of
    // both.
    interpolatorAdd(interpolator, 0.0f, 0.0f, 0.0f, 1, 1, 1);
    ASSERT_EQ(interpolator.centres.size(), 3u);
    const float expected = nudgeOnce(nudgeOnce(nudgeOnce(0.0f)));
    EXPECT_TRUE(sameBits(interpolator.centres[2].x, expected)) << interpolator.centres[2].x << " vs " << expected;
    EXPECT_TRUE(sameBits(interpolator.centres[2].y, expected));
    EXPECT_TRUE(sameBits(interpolator.centres[2].z, expected));
}

TEST(Interpolator3D, CentreDifferingByTenThousandthOrMoreOnOneAxisIsStoredUnchanged) {
    TInterpolator3D interpolator;
    interpolatorAdd(interpolator, 0.0f, 0.0f, 0.0f, 0, 0, 0);
    const float x = 0.00010001f;
    ASSERT_GE(static_cast<double>(std::fabs(x - 0.0f)), 0.0001);
    interpolatorAdd(interpolator, x, 0.0f, 0.0f, 0, 0, 0);  // equal on y and z
    interpolatorAdd(interpolator, 0.0f, 0.0f, -0.5f, 0, 0, 0);
    ASSERT_EQ(interpolator.centres.size(), 3u);
    EXPECT_TRUE(sameBits(interpolator.centres[1].x, x));
    EXPECT_TRUE(sameBits(interpolator.centres[1].y, 0.0f));
    EXPECT_TRUE(sameBits(interpolator.centres[1].z, 0.0f));
    EXPECT_TRUE(sameBits(interpolator.centres[2].z, -0.5f));
}

TEST(Interpolator3D, DuplicateTooLargeToNudgeIsAppendedUnmovedInsteadOfLoopingForever) {
    // At 4096 one ulp is 0.00049: + 0.0001 rounds back, so the Part's scan
    // would never end.
    TInterpolator3D interpolator;
    interpolatorAdd(interpolator, 4096.0f, -4096.0f, 8192.0f, 0, 0, 0);
    interpolatorAdd(interpolator, 4096.0f, -4096.0f, 8192.0f, 1, 2, 3);
    ASSERT_EQ(interpolator.centres.size(), 2u);
    EXPECT_EQ(interpolator.centres[1].x, 4096.0f);
    EXPECT_EQ(interpolator.centres[1].y, -4096.0f);
    EXPECT_EQ(interpolator.centres[1].z, 8192.0f);
}

TEST(Interpolator3D, SingleCentreIsSingularSoTheWeightEqualsTheValue) {
    TInterpolator3D interpolator;
    interpolatorAdd(interpolator, 1.0f, 2.0f, 3.0f, 0.5f, -1.0f, 2.0f);
    interpolatorSolve(interpolator);
    ASSERT_EQ(interpolator.weights.size(), 1u);
    EXPECT_EQ(interpolator.weights[0].x, 0.5f);
    EXPECT_EQ(interpolator.weights[0].y, -1.0f);
    EXPECT_EQ(interpolator.weights[0].z, 2.0f);

    // Every point moves by its distance to the centre times the value.
    const std::vector<TVector3f> points = {{1.0f, 2.0f, 3.0f}, {4.0f, 6.0f, 3.0f}, {0.0f, 0.0f, 0.0f}};
    std::vector<TVector3f> moved;
    interpolatorEvaluate(interpolator, points, moved);
    ASSERT_EQ(moved.size(), points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const float dx = points[i].x - 1.0f, dy = points[i].y - 2.0f, dz = points[i].z - 3.0f;
        const float d = std::sqrt(dx * dx + dy * dy + dz * dz);
        EXPECT_TRUE(sameBits(moved[i].x, points[i].x + d * 0.5f)) << i;
        EXPECT_TRUE(sameBits(moved[i].y, points[i].y + d * -1.0f)) << i;
        EXPECT_TRUE(sameBits(moved[i].z, points[i].z + d * 2.0f)) << i;
    }
    EXPECT_EQ(moved[1].x, 4.0f + 5.0f * 0.5f);  // distance 5 exactly
}

TEST(Interpolator3D, NaNCentreLeavesTheValuesAsTheWeights) {
    TInterpolator3D interpolator;
    interpolatorAdd(interpolator, 0.0f, 0.0f, 0.0f, 0.1f, 0.2f, 0.3f);
    interpolatorAdd(interpolator, std::numeric_limits<float>::quiet_NaN(), 1.0f, 0.0f, 0.4f, 0.5f, 0.6f);
    interpolatorSolve(interpolator);
    ASSERT_EQ(interpolator.weights.size(), 2u);
    EXPECT_EQ(interpolator.weights[0].x, 0.1f);
    EXPECT_EQ(interpolator.weights[1].z, 0.6f);
}

TEST(Interpolator3D, EvaluatingAtACentreReproducesItsValueWhenTheSystemIsRegular) {
    std::mt19937 rng(7);
    TInterpolator3D interpolator;
    addRandomCentres(interpolator, rng, 56);
    interpolatorSolve(interpolator);
    std::vector<TVector3f> moved;
    interpolatorEvaluate(interpolator, interpolator.centres, moved);
    for (std::size_t i = 0; i < moved.size(); ++i) {
        // Single-precision rounding of a 56 x 56 solve: a few ulps of the
        // weights (below 1) times distances of order 1, summed 56 times.
        EXPECT_NEAR(moved[i].x - interpolator.centres[i].x, interpolator.values[i].x, 5e-6) << i;
        EXPECT_NEAR(moved[i].y - interpolator.centres[i].y, interpolator.values[i].y, 5e-6) << i;
        EXPECT_NEAR(moved[i].z - interpolator.centres[i].z, interpolator.values[i].z, 5e-6) << i;
    }
}

TEST(Interpolator3D, WeightsAgreeWithAnIndependentDoublePrecisionSolve) {
    std::mt19937 rng(11);
    TInterpolator3D interpolator;
    addRandomCentres(interpolator, rng, 56);
    interpolatorSolve(interpolator);
    const auto expected = solveInDouble(interpolator.centres, interpolator.values);
    ASSERT_EQ(interpolator.weights.size(), expected.size());
    double largest = 0.0;
    for (const auto &w : expected)
        for (double c : w) largest = std::max(largest, std::fabs(c));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(interpolator.weights[i].x, expected[i][0], 1e-3 * largest) << i;
        EXPECT_NEAR(interpolator.weights[i].y, expected[i][1], 1e-3 * largest) << i;
        EXPECT_NEAR(interpolator.weights[i].z, expected[i][2], 1e-3 * largest) << i;
    }
}

TEST(Interpolator3D, EvaluateSumsTheCentresFromTheLastToTheFirstInSinglePrecision) {
    // Three centres at distance 1 from the origin; the x weights 1, 1e8, -1e8
    // sum to 1 from the last to the first and to 0 from the first to the last.
    TInterpolator3D interpolator;
    interpolator.centres = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    interpolator.values = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    interpolator.weights = {{1.0f, 0, 0}, {1e8f, 0, 0}, {-1e8f, 0, 0}};
    std::vector<TVector3f> moved;
    interpolatorEvaluate(interpolator, {{0.0f, 0.0f, 0.0f}}, moved);
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].x, 1.0f);
    EXPECT_EQ(moved[0].y, 0.0f);
}

TEST(Interpolator3D, EvaluatingWithAnEmptyInterpolatorLeavesTheVerticesUnchanged) {
    TInterpolator3D interpolator;
    TRegion region;
    region.vertices = {{1.5f, -2.0f, 0.25f}, {std::numeric_limits<float>::quiet_NaN(), 0, 0}};
    const std::vector<TVector3f> before = region.vertices;
    deformRegion(region, interpolator);
    ASSERT_EQ(region.vertices.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_TRUE(sameBits(region.vertices[i].x, before[i].x));
        EXPECT_TRUE(sameBits(region.vertices[i].y, before[i].y));
        EXPECT_TRUE(sameBits(region.vertices[i].z, before[i].z));
    }
}

TEST(Interpolator3D, DeformRegionReplacesEveryVertexByItsEvaluatedPosition) {
    std::mt19937 rng(3);
    TInterpolator3D interpolator;
    addRandomCentres(interpolator, rng, 10);
    interpolatorSolve(interpolator);
    TRegion region;
    std::uniform_real_distribution<float> position(-1.0f, 1.0f);
    for (int k = 0; k < 50; ++k) region.vertices.push_back({position(rng), position(rng), position(rng)});
    std::vector<TVector3f> expected;
    interpolatorEvaluate(interpolator, region.vertices, expected);
    deformRegion(region, interpolator);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(sameBits(region.vertices[i].x, expected[i].x));
        EXPECT_TRUE(sameBits(region.vertices[i].y, expected[i].y));
        EXPECT_TRUE(sameBits(region.vertices[i].z, expected[i].z));
    }
}

TEST(Interpolator3D, ClearEmptiesCentresValuesAndWeights) {
    TInterpolator3D interpolator;
    interpolatorAdd(interpolator, 0, 0, 0, 1, 1, 1);
    interpolatorAdd(interpolator, 1, 0, 0, 1, 1, 1);
    interpolatorSolve(interpolator);
    interpolatorClear(interpolator);
    EXPECT_TRUE(interpolator.centres.empty());
    EXPECT_TRUE(interpolator.values.empty());
    EXPECT_TRUE(interpolator.weights.empty());
}

TEST(Interpolator3D, SolveWithNoCentresDoesNothing) {
    TInterpolator3D interpolator;
    interpolatorSolve(interpolator);
    EXPECT_TRUE(interpolator.weights.empty());
}

TEST(Interpolator3D, SetUpFromControlPointsAddsTargetMinusSourceAndSolves) {
    const std::vector<TVector3f> source = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {9, 9, 9}};
    const std::vector<TVector3f> target = {{0.1f, 0, 0}, {1, 0.2f, 0}, {0, 1, 0.3f}, {0.5f, 0.5f, 1.5f}, {0, 0, 0}};
    TInterpolator3D interpolator;
    interpolatorAdd(interpolator, 5, 5, 5, 5, 5, 5);  // cleared first
    interpolatorSetUpFromControlPoints(interpolator, source, target, 4);
    ASSERT_EQ(interpolator.centres.size(), 4u);
    ASSERT_EQ(interpolator.weights.size(), 4u);
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_TRUE(sameBits(interpolator.values[k].x, target[k].x - source[k].x));
        EXPECT_TRUE(sameBits(interpolator.values[k].y, target[k].y - source[k].y));
        EXPECT_TRUE(sameBits(interpolator.values[k].z, target[k].z - source[k].z));
    }
    // Each source moves onto its target.
    std::vector<TVector3f> moved;
    interpolatorEvaluate(interpolator, std::vector<TVector3f>(source.begin(), source.begin() + 4), moved);
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_NEAR(moved[k].x, target[k].x, 1e-6);
        EXPECT_NEAR(moved[k].y, target[k].y, 1e-6);
        EXPECT_NEAR(moved[k].z, target[k].z, 1e-6);
    }
}

}  // namespace
}  // namespace kelmo
