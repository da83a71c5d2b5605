// Part 5.3: TAVO_LinearMuscleContraction. Expected moves come from the Part's
// formulas evaluated here in double precision (the library works in single
// precision, hence the tolerances), and from the worked values of the Part.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "deform/muscles.h"
#include "deform_support.h"
#include "kelmo.h"

namespace kelmo::test {
namespace {

using MuscleTest = DeformTest;

constexpr double kPi = 3.14159265358979323846;

struct D3 {
    double x, y, z;
};
D3 d3(const TVector3f &v) { return {v.x, v.y, v.z}; }
D3 sub(D3 a, D3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
D3 add(D3 a, D3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
D3 mul(double s, D3 a) { return {s * a.x, s * a.y, s * a.z}; }
double dotD(D3 a, D3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double lenD(D3 a) { return std::sqrt(dotD(a, a)); }
double acosClamped(double c) { return std::acos(std::clamp(c, -1.0, 1.0)); }
D3 unitOrZero(D3 a) {
    const double l = lenD(a);
    return l == 0.0 ? D3{0, 0, 0} : mul(1.0 / l, a);
}

struct Muscle {
    TVector3f a, b, f, g;
    float extension = 0.5f;
    float strength = 0.2f;
    float sharpness = 1.0f;
};

// Part 5.3's pull s of one vertex (it moves by s (P - A) in x and y), in
// double precision; 0 where the Part leaves the vertex alone.
double expectedPull(const Muscle &m, const TVector3f &vertex, double weight = 1.0) {
    const D3 a = d3(m.a), b = d3(m.b), f = d3(m.f), g = d3(m.g);
    const D3 u = sub(b, a);
    const double lengthU = lenD(u);
    const double thetaF = acosClamped(dotD(sub(f, a), u) / (lenD(sub(f, a)) * lengthU));
    const double thetaG = acosClamped(dotD(sub(g, a), u) / (lenD(sub(g, a)) * lengthU));
    const D3 e = add(b, mul(m.extension, u));
    const double rs = lenD(sub(a, b)), rf = lenD(sub(a, e));
    const D3 perpF = unitOrZero(sub(sub(f, a), mul(lenD(sub(f, a)) * std::cos(thetaF) / lengthU, u)));
    const D3 perpG = unitOrZero(sub(sub(g, a), mul(lenD(sub(g, a)) * std::cos(thetaG) / lengthU, u)));
    const double phiFG = acosClamped(dotD(perpF, perpG));
    const double k = weight * m.strength;
    if (weight == 0.0 || k < 1e-10) return 0.0;
    const D3 p = sub(d3(vertex), a);
    const double rho = lenD(p);
    if (rho > rf || rho <= 0.01) return 0.0;
    const D3 perp = unitOrZero(sub(p, mul(rho * std::cos(thetaF) / lengthU, u)));
    const double phi = acosClamped(dotD(perp, perpF));
    const double theta = phi < phiFG ? thetaF + (thetaG - thetaF) * (phi / phiFG) : thetaG;
    const double alpha = acosClamped(dotD(p, sub(e, a)) / (rho * lenD(sub(e, a))));
    const double angular = std::exp(-(alpha / theta) * (alpha / theta) * m.sharpness);
    const double t = rho < rs ? rho / rs : (rf - rho) / (rf - rs);
    return angular * k * std::sin(t * kPi / 2.0) / rho;
}

TVector3f expectedVertex(const Muscle &m, const TVector3f &vertex, double weight = 1.0) {
    const double s = expectedPull(m, vertex, weight);
    return {static_cast<float>(vertex.x - s * (vertex.x - m.a.x)), static_cast<float>(vertex.y - s * (vertex.y - m.a.y)),
            vertex.z};
}

int32_t modelWith(const std::vector<std::vector<TVector3f>> &regions) {
    const int32_t handle = newModel();
    for (const auto &vertices : regions) {
        TRegion region;
        region.vertices = vertices;
        modelOf(handle).regions.push_back(region);
    }
    return handle;
}

int32_t contract(int32_t handle, const Muscle &m, const float *weights = nullptr, int32_t regionCount = 1) {
    return TAVO_LinearMuscleContraction(handle, &m.a, &m.b, &m.f, &m.g, m.extension, m.strength, m.sharpness, weights,
                                        regionCount);
}

// A muscle along (0.6, 0.8, 0) at z = 0.7: |B - A| = 2; F and G 45 degrees off
// the axis, F toward +z and G in the plane z = 0.7, so that the cone is round.
Muscle planarMuscle() {
    Muscle m;
    m.a = {0.5f, -0.25f, 0.7f};
    m.b = {0.5f + 1.2f, -0.25f + 1.6f, 0.7f};
    m.f = {0.5f + 0.6f, -0.25f + 0.8f, 0.7f + 1.0f};
    m.g = {0.5f + 0.6f - 0.8f, -0.25f + 0.8f + 0.6f, 0.7f};
    return m;
}

TVector3f along(const Muscle &m, float distance) {
    return {m.a.x + 0.6f * distance, m.a.y + 0.8f * distance, m.a.z};
}

void expectNear(const TVector3f &expected, const TVector3f &actual, float tolerance = 2e-6f) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_EQ(actual.z, expected.z);
}

// ---- The worked values -----------------------------------------------------------

TEST_F(MuscleTest, VertexOnTheAxisAtHalfTheInnerRadiusMovesTowardABySinQuarterPiTimesK) {
    const Muscle m = planarMuscle();
    const int32_t handle = modelWith({{along(m, 1.0f)}});
    ASSERT_EQ(contract(handle, m), TAVO_OK);
    const double moved = 0.2 * std::sin(kPi / 4.0);
    expectNear(along(m, static_cast<float>(1.0 - moved)), modelOf(handle).regions[0].vertices[0]);
}

TEST_F(MuscleTest, VertexOnTheAxisAtTheInnerRadiusMovesTowardAByK) {
    const Muscle m = planarMuscle();
    const int32_t handle = modelWith({{along(m, 2.0f)}});
    ASSERT_EQ(contract(handle, m), TAVO_OK);
    expectNear(along(m, 2.0f - 0.2f), modelOf(handle).regions[0].vertices[0]);
}

TEST_F(MuscleTest, RadialFallOffRisesFromAToTheInnerRadiusAndFallsToTheOuterRadius) {
    Muscle m = planarMuscle();
    m.extension = 1.0f;  // Rf = 4
    std::vector<TVector3f> vertices;
    for (const float distance : {0.5f, 1.5f, 2.5f, 3.0f, 3.5f, 3.9f}) vertices.push_back(along(m, distance));
    const int32_t handle = modelWith({vertices});
    ASSERT_EQ(contract(handle, m), TAVO_OK);
    const std::vector<double> falloff = {std::sin(0.25 * kPi / 2), std::sin(0.75 * kPi / 2), std::sin(0.75 * kPi / 2),
                                         std::sin(0.5 * kPi / 2),  std::sin(0.25 * kPi / 2), std::sin(0.05 * kPi / 2)};
    const std::vector<float> distances = {0.5f, 1.5f, 2.5f, 3.0f, 3.5f, 3.9f};
    for (std::size_t k = 0; k < vertices.size(); ++k)
        expectNear(along(m, static_cast<float>(distances[k] - 0.2 * falloff[k])), modelOf(handle).regions[0].vertices[k]);
}

TEST_F(MuscleTest, VertexFartherThanTheOuterRadiusOrWithin001OfADoesNotMove) {
    const Muscle m = planarMuscle();  // Rf = 3
    const std::vector<TVector3f> vertices = {along(m, 3.001f), along(m, 5.0f), m.a, {m.a.x + 0.01f, m.a.y, m.a.z},
                                             {m.a.x, m.a.y + 0.005f, m.a.z + 0.005f}};
    const int32_t handle = modelWith({vertices});
    ASSERT_EQ(contract(handle, m), TAVO_OK);
    for (std::size_t k = 0; k < vertices.size(); ++k)
        EXPECT_TRUE(sameVertex(vertices[k], modelOf(handle).regions[0].vertices[k])) << k;
}

// ---- Strength and weights ------------------------------------------------------------

TEST_F(MuscleTest, ZeroOrNegativeStrengthLeavesEveryVertexWhereItIs) {
    Muscle m = planarMuscle();
    const std::vector<TVector3f> vertices = {along(m, 1.0f), along(m, 2.0f), along(m, 2.5f)};
    const int32_t handle = modelWith({vertices});
    for (const float strength : {0.0f, -0.0f, -0.5f, 5e-11f}) {
        m.strength = strength;
        ASSERT_EQ(contract(handle, m), TAVO_OK);
        for (std::size_t k = 0; k < vertices.size(); ++k)
            EXPECT_TRUE(sameVertex(vertices[k], modelOf(handle).regions[0].vertices[k])) << strength;
    }
}

TEST_F(MuscleTest, WeightsScaleTheStrengthVertexByVertexAndAZeroWeightLeavesTheVertex) {
    const Muscle m = planarMuscle();
    const std::vector<TVector3f> vertices = {along(m, 1.0f), along(m, 1.0f), along(m, 1.0f), along(m, 2.0f)};
    const std::vector<float> weights = {1.0f, 0.5f, 0.0f, 2.0f};
    const int32_t handle = modelWith({vertices});
    ASSERT_EQ(contract(handle, m, weights.data()), TAVO_OK);
    const auto &moved = modelOf(handle).regions[0].vertices;
    const double quarter = std::sin(kPi / 4.0);
    expectNear(along(m, static_cast<float>(1.0 - 0.2 * quarter)), moved[0]);
    expectNear(along(m, static_cast<float>(1.0 - 0.1 * quarter)), moved[1]);
    EXPECT_TRUE(sameVertex(vertices[2], moved[2]));
    expectNear(along(m, 2.0f - 0.4f), moved[3]);
}

TEST_F(MuscleTest, OneWeightArrayServesEveryRegionByVertexIndex) {
    const Muscle m = planarMuscle();
    const std::vector<TVector3f> vertices = {along(m, 1.0f), along(m, 2.0f)};
    const std::vector<float> weights = {0.0f, 0.5f};
    const int32_t handle = modelWith({vertices, vertices, vertices});
    ASSERT_EQ(contract(handle, m, weights.data(), 2), TAVO_OK);
    for (std::size_t r = 0; r < 2; ++r) {
        EXPECT_TRUE(sameVertex(vertices[0], modelOf(handle).regions[r].vertices[0]));
        expectNear(along(m, 2.0f - 0.1f), modelOf(handle).regions[r].vertices[1]);
    }
    // Region 2 lies beyond the count.
    for (std::size_t k = 0; k < 2; ++k) EXPECT_TRUE(sameVertex(vertices[k], modelOf(handle).regions[2].vertices[k]));
}

// ---- The cone ------------------------------------------------------------------------

// A cloud of vertices in and around the muscle's zone.
std::vector<TVector3f> cloudAround(const Muscle &m, int count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> offset(-3.0f, 3.0f);
    std::vector<TVector3f> cloud;
    for (int k = 0; k < count; ++k) cloud.push_back({m.a.x + offset(rng), m.a.y + offset(rng), m.a.z + offset(rng)});
    return cloud;
}

TEST_F(MuscleTest, OnlyXAndYChangeTheZOfEveryVertexStaysAsItWas) {
    Muscle m = planarMuscle();
    m.b = {m.b.x, m.b.y, m.b.z + 1.0f};  // an axis that leaves its plane
    m.strength = 0.8f;
    const std::vector<TVector3f> cloud = cloudAround(m, 2000, 1);
    const int32_t handle = modelWith({cloud});
    ASSERT_EQ(contract(handle, m), TAVO_OK);
    int moved = 0;
    for (std::size_t k = 0; k < cloud.size(); ++k) {
        const TVector3f &after = modelOf(handle).regions[0].vertices[k];
        EXPECT_TRUE(sameBits(cloud[k].z, after.z)) << k;
        moved += !sameVertex(cloud[k], after);
    }
    EXPECT_GT(moved, 100);  // the zone holds a good part of the cloud
}

TEST_F(MuscleTest, EveryVertexOfACloudMovesAsThePartsFormulasSay) {
    Muscle m = planarMuscle();
    m.f = {m.a.x + 0.6f, m.a.y + 0.8f, m.a.z + 0.4f};   // about 11 degrees off the axis toward +z
    m.g = {m.a.x - 0.4f, m.a.y + 1.6f, m.a.z - 0.2f};   // about 40 degrees, toward the plane and below
    m.strength = 0.5f;
    m.sharpness = 3.0f;
    const std::vector<TVector3f> cloud = cloudAround(m, 3000, 2);
    const int32_t handle = modelWith({cloud});
    ASSERT_EQ(contract(handle, m), TAVO_OK);
    for (std::size_t k = 0; k < cloud.size(); ++k) expectNear(expectedVertex(m, cloud[k]), modelOf(handle).regions[0].vertices[k], 2e-5f);
}

TEST_F(MuscleTest, WithFAndGAtTheSameAngleTheConeIsCircularWithHalfAngleThetaF) {
    Muscle m;
    m.a = {0, 0, 0};
    m.b = {2, 0, 0};
    m.f = {1, 1, 0};  // 45 degrees toward +y
    m.g = {1, 0, 1};  // 45 degrees toward +z
    m.strength = 0.3f;
    m.sharpness = 2.0f;
    // Vertices 20 degrees off the axis at distance 1, in eight directions.
    const double alpha = 20.0 * kPi / 180.0;
    std::vector<TVector3f> ring;
    for (int k = 0; k < 8; ++k) {
        const double beta = (k + 0.25) * kPi / 4.0;
        ring.push_back({static_cast<float>(std::cos(alpha)), static_cast<float>(std::sin(alpha) * std::cos(beta)),
                        static_cast<float>(std::sin(alpha) * std::sin(beta))});
    }
    const int32_t handle = modelWith({ring});
    ASSERT_EQ(contract(handle, m), TAVO_OK);
    const double ratio = alpha / (kPi / 4.0);
    const double s = std::exp(-ratio * ratio * 2.0) * 0.3 * std::sin(kPi / 4.0);  // rho = 1
    for (std::size_t k = 0; k < ring.size(); ++k) {
        const TVector3f &after = modelOf(handle).regions[0].vertices[k];
        EXPECT_NEAR((ring[k].x - after.x) / ring[k].x, s, 1e-5) << k;
    }
}

TEST_F(MuscleTest, HalfAngleRunsFromThetaFToThetaGAroundTheAxisAndStaysThetaGBeyond) {
    Muscle m;
    m.a = {0, 0, 0};
    m.b = {2, 0, 0};
    m.f = {1, 1, 0};                                           // thetaF = 45 degrees, toward +y
    m.g = {1, 0, static_cast<float>(std::tan(20.0 * kPi / 180.0))};  // thetaG = 20 degrees, toward +z
    m.strength = 0.3f;
    m.sharpness = 1.5f;
    // Vertices at 30 degrees off the axis, distance 1.5, going round the axis.
    const double alpha = 30.0 * kPi / 180.0;
    std::vector<TVector3f> ring;
    for (int k = 0; k < 24; ++k) {
        const double beta = (k + 0.5) * kPi / 12.0;
        ring.push_back({static_cast<float>(1.5 * std::cos(alpha)), static_cast<float>(1.5 * std::sin(alpha) * std::cos(beta)),
                        static_cast<float>(1.5 * std::sin(alpha) * std::sin(beta))});
    }
    const int32_t handle = modelWith({ring});
    ASSERT_EQ(contract(handle, m), TAVO_OK);
    double smallest = 1, largest = 0;
    for (std::size_t k = 0; k < ring.size(); ++k) {
        const TVector3f &after = modelOf(handle).regions[0].vertices[k];
        const double pull = (ring[k].x - after.x) / ring[k].x;
        EXPECT_NEAR(pull, expectedPull(m, ring[k]), 1e-5) << k;
        smallest = std::min(smallest, pull);
        largest = std::max(largest, pull);
    }
    // Beyond G's direction (a quarter turn round from F's) the half-angle is
    // thetaG, the narrowest: those vertices pull least, with exactly 20 degrees.
    const double fall = std::sin(0.75 * kPi / 2) * 0.3 / 1.5;
    EXPECT_NEAR(smallest, std::exp(-std::pow(30.0 / 20.0, 2) * 1.5) * fall, 1e-5);
    EXPECT_GT(largest, 2.0 * smallest);
}

TEST_F(MuscleTest, OffAxisPartOfAVertexUsesTheCosineOfThetaFAsThePartSays) {
    // p-perp = p - (|p| cos thetaF / |u|) u is not p's part off the axis when
    // p's own angle is not thetaF: a vertex 10 degrees off the axis, half way
    // between F's and G's directions, takes the half-angle of the angle the
    // Part's formula gives (about 68 degrees round from F), not 45.
    Muscle m;
    m.a = {0, 0, 0};
    m.b = {2, 0, 0};
    m.f = {1, 1, 0};
    m.g = {1, 0, static_cast<float>(std::tan(20.0 * kPi / 180.0))};
    m.strength = 0.3f;
    m.sharpness = 40.0f;  // sharp, so that the half-angle shows clearly
    const double alpha = 10.0 * kPi / 180.0;
    const TVector3f vertex{static_cast<float>(std::cos(alpha)), static_cast<float>(std::sin(alpha) * std::cos(kPi / 4)),
                           static_cast<float>(std::sin(alpha) * std::sin(kPi / 4))};
    const int32_t handle = modelWith({{vertex}});
    ASSERT_EQ(contract(handle, m), TAVO_OK);
    const double pull = (vertex.x - modelOf(handle).regions[0].vertices[0].x) / vertex.x;
    EXPECT_NEAR(pull, expectedPull(m, vertex), 1e-6);
    // With the true angle round the axis (45 of 90 degrees) the half-angle
    // would be 32.5 degrees; the pull would differ clearly.
    const double trueHalfAngle = 32.5 * kPi / 180.0;
    const double truePull = std::exp(-std::pow(alpha / trueHalfAngle, 2) * 40.0) * 0.3 * std::sin(0.5 * kPi / 2);
    EXPECT_GT(std::fabs(pull - truePull), 1e-3);
}

TEST_F(MuscleTest, VerticesAreTreatedOnTheirOwnSoTheirOrderDoesNotMatter) {
    const Muscle m = planarMuscle();
    std::vector<TVector3f> cloud = cloudAround(m, 500, 3);
    // B itself is a vertex that moves; the muscle was read before it moved.
    cloud.insert(cloud.begin(), m.b);
    const int32_t forward = modelWith({cloud});
    std::vector<TVector3f> reversed(cloud.rbegin(), cloud.rend());
    const int32_t backward = modelWith({reversed});
    // The points passed by pointer into the model's own vertex.
    const TModel &model = modelOf(forward);
    ASSERT_EQ(TAVO_LinearMuscleContraction(forward, &m.a, &model.regions[0].vertices[0], &m.f, &m.g, m.extension,
                                           m.strength, m.sharpness, nullptr, 1),
              TAVO_OK);
    ASSERT_EQ(contract(backward, m), TAVO_OK);
    for (std::size_t k = 0; k < cloud.size(); ++k)
        EXPECT_TRUE(sameVertex(modelOf(forward).regions[0].vertices[k],
                               modelOf(backward).regions[0].vertices[cloud.size() - 1 - k]))
            << k;
}

// The Part's arithmetic in the precision it names: single precision, except
// the 1e-10 threshold (compared in double) and the radial fall-off's product
// with 1.5707963 and its sine (double, rounded to single). The normalised dot
// product is the dot product over the product of the two lengths.
TVector3f singlePrecisionVertex(const Muscle &m, TVector3f p0, float weight) {
    auto sub3 = [](TVector3f a, TVector3f b) { return TVector3f{a.x - b.x, a.y - b.y, a.z - b.z}; };
    auto dot3 = [](TVector3f a, TVector3f b) { return a.x * b.x + a.y * b.y + a.z * b.z; };
    auto len3 = [&](TVector3f a) { return std::sqrt(dot3(a, a)); };
    auto angle = [&](TVector3f a, TVector3f b) {
        return std::acos(std::clamp(dot3(a, b) / (len3(a) * len3(b)), -1.0f, 1.0f));
    };
    auto perpendicular = [&](TVector3f v, float cosine, TVector3f u) {
        const float along = len3(v) * cosine / len3(u);
        TVector3f q{v.x - along * u.x, v.y - along * u.y, v.z - along * u.z};
        const float l = len3(q);
        return l == 0.0f ? TVector3f{0, 0, 0} : TVector3f{q.x / l, q.y / l, q.z / l};
    };
    const TVector3f u = sub3(m.b, m.a);
    const float thetaF = angle(sub3(m.f, m.a), u), thetaG = angle(sub3(m.g, m.a), u);
    const TVector3f e{m.b.x + m.extension * u.x, m.b.y + m.extension * u.y, m.b.z + m.extension * u.z};
    const float rs = len3(sub3(m.a, m.b)), rf = len3(sub3(m.a, e));
    const TVector3f fHat = perpendicular(sub3(m.f, m.a), std::cos(thetaF), u);
    const TVector3f gHat = perpendicular(sub3(m.g, m.a), std::cos(thetaG), u);
    const float phiFG = std::acos(std::clamp(dot3(fHat, gHat), -1.0f, 1.0f));
    const float k = weight * m.strength;
    if (static_cast<double>(k) < 1e-10) return p0;
    const TVector3f p = sub3(p0, m.a);
    const float rho = len3(p);
    if (rho > rf || rho <= 0.01) return p0;
    const float phi = std::acos(std::clamp(dot3(perpendicular(p, std::cos(thetaF), u), fHat), -1.0f, 1.0f));
    const float theta = phi < phiFG ? thetaF + (thetaG - thetaF) * (phi / phiFG) : thetaG;
    const float alpha = angle(p, sub3(e, m.a));
    const float ratio = alpha / theta;
    const float a = std::exp(-(ratio * ratio) * m.sharpness);
    const float t = rho < rs ? rho / rs : (rf - rho) / (rf - rs);
    const auto fall = static_cast<float>(std::sin(static_cast<double>(t) * 1.5707963));
    const float pull = a * k * fall / rho;
    return {p0.x - pull * (p0.x - m.a.x), p0.y - pull * (p0.y - m.a.y), p0.z};
}

TEST_F(MuscleTest, EveryVertexMovesBitForBitInThePrecisionThePartNames) {
    Muscle m = planarMuscle();
    m.f = {m.a.x + 0.6f, m.a.y + 0.8f, m.a.z + 0.4f};
    m.g = {m.a.x - 0.4f, m.a.y + 1.6f, m.a.z - 0.2f};
    m.strength = 0.5f;
    m.sharpness = 3.0f;
    const std::vector<TVector3f> cloud = cloudAround(m, 3000, 6);
    std::vector<float> weights(cloud.size());
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> weight(0.0f, 2.0f);
    for (float &w : weights) w = weight(rng);
    const int32_t handle = modelWith({cloud});
    ASSERT_EQ(contract(handle, m, weights.data()), TAVO_OK);
    int moved = 0;
    for (std::size_t k = 0; k < cloud.size(); ++k) {
        const TVector3f expected = singlePrecisionVertex(m, cloud[k], weights[k]);
        EXPECT_TRUE(sameVertex(expected, modelOf(handle).regions[0].vertices[k])) << k;
        moved += !sameVertex(cloud[k], expected);
    }
    EXPECT_GT(moved, 100);
}

// ---- Degenerate muscles and the Part's open cases ------------------------------------------

TEST_F(MuscleTest, FOrGOrBEqualToAGivesMinus1AndMovesNothingWhateverTheRegionCount) {
    const Muscle good = planarMuscle();
    const std::vector<TVector3f> vertices = {along(good, 1.0f), along(good, 2.0f)};
    const int32_t handle = modelWith({vertices});
    for (int which = 0; which < 3; ++which) {
        Muscle m = good;
        (which == 0 ? m.f : which == 1 ? m.g : m.b) = m.a;
        for (const int32_t regionCount : {1, 0, -3}) {
            EXPECT_EQ(contract(handle, m, nullptr, regionCount), TAVO_ERR_GENERAL) << which;
            for (std::size_t k = 0; k < vertices.size(); ++k)
                EXPECT_TRUE(sameVertex(vertices[k], modelOf(handle).regions[0].vertices[k]));
        }
    }
}

TEST_F(MuscleTest, RegionCountOf0OrLessMovesNothingAndReturns0) {
    const Muscle m = planarMuscle();
    const std::vector<TVector3f> vertices = {along(m, 1.0f)};
    const int32_t handle = modelWith({vertices});
    for (const int32_t regionCount : {0, -1, INT32_MIN}) {
        EXPECT_EQ(contract(handle, m, nullptr, regionCount), TAVO_OK);
        EXPECT_TRUE(sameVertex(vertices[0], modelOf(handle).regions[0].vertices[0]));
    }
}

TEST_F(MuscleTest, RegionCountAboveTheModelsIsClampedToIt) {
    const Muscle m = planarMuscle();
    const int32_t handle = modelWith({{along(m, 2.0f)}, {along(m, 2.0f)}});
    EXPECT_EQ(contract(handle, m, nullptr, 1000), TAVO_OK);
    for (std::size_t r = 0; r < 2; ++r) expectNear(along(m, 1.8f), modelOf(handle).regions[r].vertices[0]);
}

TEST_F(MuscleTest, InvalidHandleGivesMinus4AndNullPointsGiveMinus1) {
    const Muscle m = planarMuscle();
    EXPECT_EQ(contract(-1, m), TAVO_ERR_INVALID_HANDLE);
    EXPECT_EQ(contract(3, m), TAVO_ERR_INVALID_HANDLE);
    const int32_t handle = modelWith({{along(m, 1.0f)}});
    const TVector3f before = modelOf(handle).regions[0].vertices[0];
    for (int missing = 0; missing < 4; ++missing) {
        const TVector3f *points[4] = {&m.a, &m.b, &m.f, &m.g};
        points[missing] = nullptr;
        EXPECT_EQ(TAVO_LinearMuscleContraction(handle, points[0], points[1], points[2], points[3], 0.5f, 0.2f, 1.0f,
                                               nullptr, 1),
                  TAVO_ERR_GENERAL);
    }
    EXPECT_TRUE(sameVertex(before, modelOf(handle).regions[0].vertices[0]));
}

TEST_F(MuscleTest, FOnTheAxisMakesEveryVertexTakeThetaGAndNoneBecomesNaN) {
    Muscle m;
    m.a = {0, 0, 0};
    m.b = {2, 0, 0};
    m.f = {1, 0, 0};  // on the axis: f-perp is zero
    m.g = {1, 1, 0};  // 45 degrees
    m.strength = 0.3f;
    m.sharpness = 2.0f;
    const std::vector<TVector3f> cloud = cloudAround(m, 1000, 4);
    const int32_t handle = modelWith({cloud});
    ASSERT_EQ(contract(handle, m), TAVO_OK);
    for (std::size_t k = 0; k < cloud.size(); ++k) {
        const TVector3f &after = modelOf(handle).regions[0].vertices[k];
        ASSERT_FALSE(std::isnan(after.x) || std::isnan(after.y)) << k;
        // Expected with the half-angle thetaG everywhere: the pull of a muscle
        // whose F sits where G does.
        Muscle round = m;
        round.f = m.g;
        expectNear(expectedVertex(round, cloud[k]), after, 2e-5f);
    }
}

TEST_F(MuscleTest, GOnTheAxisGivesAHalfAngleOf0AndLeavesEveryVertexWhereItIs) {
    Muscle m;
    m.a = {0, 0, 0};
    m.b = {2, 0, 0};
    m.f = {1, 1, 0};
    m.g = {3, 0, 0};  // thetaG = 0 and g-perp is zero
    std::vector<TVector3f> cloud = cloudAround(m, 300, 5);
    cloud.push_back({1, 0, 0});  // on the axis: alpha = theta = 0
    const int32_t handle = modelWith({cloud});
    ASSERT_EQ(contract(handle, m), TAVO_OK);
    for (std::size_t k = 0; k < cloud.size(); ++k)
        EXPECT_TRUE(sameVertex(cloud[k], modelOf(handle).regions[0].vertices[k])) << k;
}

TEST_F(MuscleTest, ZeroHalfAngleLeavesAVertexOnTheAxisWhereItIs) {
    Muscle m;
    m.a = {0, 0, 0};
    m.b = {2, 0, 0};
    m.f = {1, 0, 0};
    m.g = {5, 0, 0};
    const int32_t handle = modelWith({{{1, 0, 0}, {2, 0, 0}, {1.5f, 0.1f, 0}}});
    ASSERT_EQ(contract(handle, m), TAVO_OK);
    EXPECT_TRUE(sameVertex({1, 0, 0}, modelOf(handle).regions[0].vertices[0]));
    EXPECT_TRUE(sameVertex({2, 0, 0}, modelOf(handle).regions[0].vertices[1]));
    EXPECT_TRUE(sameVertex({1.5f, 0.1f, 0}, modelOf(handle).regions[0].vertices[2]));
}

TEST_F(MuscleTest, EqualInnerAndOuterRadiiLeaveAVertexAtThatDistanceWhereItIs) {
    for (const float extension : {0.0f, -2.0f}) {
        Muscle m;
        m.a = {0, 0, 0};
        m.b = {2, 0, 0};
        m.f = {1, 1, 0};
        m.g = {1, 0, 1};
        m.extension = extension;  // Rf = Rs = 2
        const int32_t handle = modelWith({{{2, 0, 0}, {1, 0, 0}}});
        ASSERT_EQ(contract(handle, m), TAVO_OK);
        EXPECT_TRUE(sameVertex({2, 0, 0}, modelOf(handle).regions[0].vertices[0])) << extension;
        if (extension == 0.0f) {
            // Inside the inner radius the pull is as ever.
            EXPECT_NEAR(modelOf(handle).regions[0].vertices[1].x, 1.0 - 0.2 * std::sin(kPi / 4), 2e-6);
        }
        destroyAllModels();
    }
}

}  // namespace
}  // namespace kelmo::test
