// The 3D radial-basis interpolator: duplicate centres, the dense solve, the field it evaluates.
#include "fitting/interpolator3d.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <random>
#include <vector>

#include "frame/kernel_level.h"

namespace kelmo {
namespace {

float nudge(float value) { return static_cast<float>(static_cast<double>(value) + 0.0001); }  // in double

bool sameBits(const TVector3f &a, const TVector3f &b) {
    return std::bit_cast<std::array<uint32_t, 3>>(a) == std::bit_cast<std::array<uint32_t, 3>>(b);
}

TEST(Interpolator3D, DuplicateCentresAreNudgedUntilClearOfEveryCentre) {
    // A nudge that single precision would round otherwise; 1e-4f within 0.0001; a scan again after each nudge.
    const float odd = std::nextafter(-0.000244140625f, 0.0f), twice = nudge(nudge(0)), thrice = nudge(twice);
    struct Case {
        std::vector<TVector3f> existing;
        TVector3f added, stored;
    };
    for (const Case &c :
         std::vector<Case>{{{{odd, odd, odd}}, {odd, odd, odd}, {nudge(odd), nudge(odd), nudge(odd)}},
                           {{{0, 0, 0}}, {1e-4f, 1e-4f, 1e-4f}, {twice, twice, twice}},
                           {{{0, 0, 0}, {0.00015f, 0.00015f, 0.00015f}}, {0, 0, 0}, {thrice, thrice, thrice}},
                           {{{4096, -4096, 8192}}, {4096, -4096, 8192}, {4096, -4096, 8192}}}) {  // too large to move
        TInterpolator3D interpolator;
        for (const TVector3f &centre : c.existing) interpolatorAdd(interpolator, centre.x, centre.y, centre.z, 0, 0, 0);
        interpolatorAdd(interpolator, c.added.x, c.added.y, c.added.z, 0.4f, 0.5f, 0.6f);
        EXPECT_TRUE(sameBits(interpolator.centres.back(), c.stored)) << c.added.x << " " << c.added.y;
        EXPECT_TRUE(sameBits(interpolator.values.back(), {0.4f, 0.5f, 0.6f}));
    }
}

TEST(Interpolator3D, WeightsMatchADoublePrecisionSolveAndCarryEachControlPointOntoItsTarget) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> position(-1.0f, 1.0f), displacement(-0.05f, 0.05f);
    std::vector<TVector3f> source(57), target(57);
    for (std::size_t k = 0; k < 57; ++k) {
        source[k] = {position(rng), position(rng), 0.5f * position(rng)};
        target[k] = {source[k].x + displacement(rng), source[k].y + displacement(rng), source[k].z + displacement(rng)};
    }
    TInterpolator3D interpolator;
    interpolatorAdd(interpolator, 5, 5, 5, 5, 5, 5);                       // cleared first
    interpolatorSetUpFromControlPoints(interpolator, source, target, 56);  // the 57th is left out
    ASSERT_EQ(interpolator.weights.size(), 56u);
    // Gaussian elimination with partial pivoting in double on A[i][j] = |c_i - c_j|.
    const std::vector<TVector3f> &c = interpolator.centres;
    std::vector<std::vector<double>> a(56, std::vector<double>(59));
    for (std::size_t i = 0; i < 56; ++i) {
        for (std::size_t j = 0; j < 56; ++j)
            a[i][j] = std::hypot(double{c[i].x} - c[j].x, double{c[i].y} - c[j].y, double{c[i].z} - c[j].z);
        a[i][56] = interpolator.values[i].x, a[i][57] = interpolator.values[i].y, a[i][58] = interpolator.values[i].z;
    }
    for (std::size_t col = 0; col < 56; ++col) {
        std::swap(a[col], *std::max_element(a.begin() + col, a.end(), [&](const auto &p, const auto &q) {
                      return std::fabs(p[col]) < std::fabs(q[col]);
                  }));
        for (std::size_t r = 0; r < 56; ++r) {
            const double factor = r == col ? 0.0 : a[r][col] / a[col][col];
            for (std::size_t k = col; k < 59; ++k) a[r][k] -= factor * a[col][k];
        }
    }
    double largest = 0.0;
    for (std::size_t i = 0; i < 56; ++i)
        for (std::size_t k = 56; k < 59; ++k) largest = std::max(largest, std::fabs(a[i][k] / a[i][i]));
    TRegion region;
    region.vertices.assign(source.begin(), source.begin() + 56);
    deformRegion(region, interpolator);
    for (std::size_t i = 0; i < 56; ++i) {
        const auto w = std::bit_cast<std::array<float, 3>>(interpolator.weights[i]);
        const TVector3f &moved = region.vertices[i];
        for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(w[k], a[i][56 + k] / a[i][i], 1e-3 * largest) << i << " " << k;
        EXPECT_TRUE(std::fabs(moved.x - target[i].x) < 5e-6 && std::fabs(moved.y - target[i].y) < 5e-6 &&
                    std::fabs(moved.z - target[i].z) < 5e-6)
            << i;
    }
}

TEST(Interpolator3D, SingularSystemsKeepTheValuesAsWeightsAndTheFieldIsSummedFromTheLastCentre) {
    // One centre: the 1 x 1 matrix is 0, so the weight is the value; points move by distance times it.
    TInterpolator3D one, ordered;
    interpolatorAdd(one, 1.0f, 2.0f, 3.0f, 0.5f, -1.0f, 2.0f);
    interpolatorSolve(one);
    EXPECT_TRUE(one.weights.size() == 1 && sameBits(one.weights[0], {0.5f, -1.0f, 2.0f}));
    TRegion region;
    region.vertices = {{4.0f, 6.0f, 3.0f}, {0.0f, 0.0f, 0.0f}};
    deformRegion(region, one);
    const float d = std::sqrt(14.0f);
    EXPECT_TRUE(sameBits(region.vertices[0], {6.5f, 1.0f, 13.0f}) &&
                sameBits(region.vertices[1], {d * 0.5f, -d, d * 2}));
    // Weights 1, 1e8 and -1e8 at distance 1 sum to 1 from the last, to 0 from the first.
    ordered.centres = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    ordered.weights = {{1.0f, 0, 0}, {1e8f, 0, 0}, {-1e8f, 0, 0}};
    region.vertices = {{0, 0, 0}};
    deformRegion(region, ordered);
    EXPECT_EQ(region.vertices[0].x, 1.0f);
}

// The field on vector lanes against the plain sum written out here, bit for
// bit at every kernel level: point counts around the lane widths (whole
// blocks and a rest), with no centre, one, and many, points on a centre
// (distance 0) and far from all.
TEST(Interpolator3D, TheFieldIsTheSameAtEveryKernelLevel) {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> coordinate(-3.0f, 3.0f), weight(-0.5f, 0.5f);
    for (std::size_t centres : {0, 1, 5, 70}) {
        TInterpolator3D field;
        for (std::size_t j = 0; j < centres; ++j) {
            field.centres.push_back({coordinate(random), coordinate(random), coordinate(random)});
            field.weights.push_back({weight(random), weight(random), weight(random)});
        }
        for (std::size_t count : {0, 3, 4, 15, 16, 17, 33, 100}) {
            std::vector<TVector3f> points(count);
            for (std::size_t i = 0; i < count; ++i) points[i] = {coordinate(random), coordinate(random), coordinate(random)};
            if (count > 2 && centres > 0) points[1] = field.centres[0];
            if (count > 2) points[2] = {1e6f, -1e6f, 3e5f};
            std::vector<TVector3f> expected(count);
            for (std::size_t i = 0; i < count; ++i) {
                float x = 0.0f, y = 0.0f, z = 0.0f;
                for (std::size_t j = centres; j-- > 0;) {
                    const float dx = points[i].x - field.centres[j].x, dy = points[i].y - field.centres[j].y,
                                dz = points[i].z - field.centres[j].z;
                    const float d = std::sqrt(dx * dx + dy * dy + dz * dz);
                    x = x + d * field.weights[j].x, y = y + d * field.weights[j].y, z = z + d * field.weights[j].z;
                }
                expected[i] = {points[i].x + x, points[i].y + y, points[i].z + z};
            }
            for (int level = 0; level <= int(bestKernelLevel()); ++level) {
                setKernelLevel(KernelLevel(level));
                std::vector<TVector3f> out;
                interpolatorEvaluate(field, points, out);
                ASSERT_EQ(out.size(), count);
                for (std::size_t i = 0; i < count; ++i) {
                    EXPECT_TRUE(sameBits(out[i], expected[i])) << centres << " centres, " << count << " points, point " << i
                                                                << ", level " << level;
                }
            }
            setKernelLevel(bestKernelLevel());
        }
    }
}

}  // namespace
}  // namespace kelmo
