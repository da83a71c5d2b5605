// Tests of the region builders (Part 3.4) on the synthetic full head.
#include "fitting/region_builders.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "support/model_support.h"
#include "support/synthetic_head.h"

namespace kelmo {
namespace {

using testing::fullHeadList7Table;
using testing::fullHeadRegions;

bool sameBits(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b); }

bool sameVertex(const TVector3f &a, const TVector3f &b) {
    return sameBits(a.x, b.x) && sameBits(a.y, b.y) && sameBits(a.z, b.z);
}

// The full head's five regions and three more (5 the sock, 6, 7 the cavity),
// regions 5 to 7 holding something to be replaced.
std::vector<TRegion> headWithEightRegions() {
    std::vector<TRegion> regions = fullHeadRegions(0);
    regions.resize(8);
    for (std::size_t k = 5; k < 8; ++k) {
        regions[k].vertices = {{9, 9, 9}};
        regions[k].textureCoords = {{0.3f, 0.3f}};
        regions[k].quads = {{0, 0, 0, 0}};
        regions[k].textureQuads = {{0, 0, 0, 0}};
    }
    return regions;
}

TEST(BuildSockRegion, RegionFiveHoldsNineVerticesAndEightTrianglesWithTheFirstCornerRepeated) {
    std::vector<TRegion> regions = headWithEightRegions();
    ASSERT_TRUE(buildSockRegion(regions));
    const TRegion &sock = regions[5];
    ASSERT_EQ(sock.vertices.size(), 9u);
    ASSERT_EQ(sock.textureCoords.size(), 9u);
    ASSERT_EQ(sock.quads.size(), 8u);
    ASSERT_EQ(sock.textureQuads.size(), 8u);
    for (int32_t i = 0; i < 8; ++i) {
        const Quad expected = i < 7 ? Quad{0, i + 1, i + 2, 0} : Quad{0, 8, 1, 0};
        EXPECT_EQ(sock.quads[static_cast<std::size_t>(i)], expected) << i;
        EXPECT_EQ(sock.textureQuads[static_cast<std::size_t>(i)], expected) << i;
        EXPECT_EQ(sock.quads[static_cast<std::size_t>(i)][3], sock.quads[static_cast<std::size_t>(i)][0]);
    }
}

TEST(BuildSockRegion, VerticesCopyTheEightRimVerticesAndTheCentreTakesVertexThreesXAndVertexOnesYZ) {
    std::vector<TRegion> regions = headWithEightRegions();
    ASSERT_TRUE(buildSockRegion(regions));
    const std::vector<TVector3f> &head = regions[0].vertices;
    const int32_t rim[8] = {718, 2775, 228, 1829, 441, 2038, 1130, 2976};
    for (int k = 0; k < 8; ++k)
        EXPECT_TRUE(
            sameVertex(regions[5].vertices[static_cast<std::size_t>(k + 1)], head[static_cast<std::size_t>(rim[k])]))
            << k;
    const TVector3f centre = regions[5].vertices[0];
    EXPECT_TRUE(sameBits(centre.x, head[228].x));
    EXPECT_TRUE(sameBits(centre.y, head[718].y));
    EXPECT_TRUE(sameBits(centre.z, head[718].z));
}

TEST(BuildSockRegion, TextureCoordinatesAreTheNineConstants) {
    std::vector<TRegion> regions = headWithEightRegions();
    ASSERT_TRUE(buildSockRegion(regions));
    const float expected[9][2] = {{0.5f, 0.5f}, {0.5f, 0.5f}, {0, 0.5f}, {0, 1},   {1, 0.5f},
                                  {1, 1},       {1, 0.5f},    {1, 0},    {0, 0.5f}};
    for (std::size_t k = 0; k < 9; ++k) {
        EXPECT_EQ(regions[5].textureCoords[k].x, expected[k][0]) << k;
        EXPECT_EQ(regions[5].textureCoords[k].y, expected[k][1]) << k;
    }
}

TEST(BuildSockRegion, OtherRegionsStayUntouched) {
    std::vector<TRegion> regions = headWithEightRegions();
    const std::vector<TRegion> before = regions;
    ASSERT_TRUE(buildSockRegion(regions));
    for (std::size_t k = 0; k < regions.size(); ++k) {
        if (k != 5) {
            EXPECT_TRUE(test::regionsBitwiseEqual(regions[k], before[k])) << k;
        }
    }
}

TEST(BuildMouthCap, ThirtyEightEntryTableGives114VerticesAnd38QuadsAllTextureCoordinatesZero) {
    std::vector<TRegion> regions = headWithEightRegions();
    const std::vector<int32_t> list7 = fullHeadList7Table();
    ASSERT_EQ(list7.size(), 38u);
    ASSERT_TRUE(buildMouthCap(regions, list7));
    const TRegion &cap = regions[7];
    ASSERT_EQ(cap.vertices.size(), 114u);
    ASSERT_EQ(cap.textureCoords.size(), 114u);
    ASSERT_EQ(cap.quads.size(), 38u);
    ASSERT_EQ(cap.textureQuads.size(), 38u);
    for (const TPointf &t : cap.textureCoords) {
        EXPECT_EQ(t.x, 0.0f);
        EXPECT_EQ(t.y, 0.0f);
    }
    for (int32_t k = 0; k < 38; ++k) {
        const Quad expected{3 * k, 3 * k + 1, 3 * k + 2, 3 * k + 2};
        EXPECT_EQ(cap.quads[static_cast<std::size_t>(k)], expected);
        EXPECT_EQ(cap.textureQuads[static_cast<std::size_t>(k)], expected);
    }
}

TEST(BuildMouthCap, EveryVertexLies013BelowTheLipVertexOrTheCentreItCopies) {
    std::vector<TRegion> regions = headWithEightRegions();
    const std::vector<int32_t> list7 = fullHeadList7Table();
    ASSERT_TRUE(buildMouthCap(regions, list7));
    const std::vector<TVector3f> &head = regions[0].vertices;
    const TVector3f a = head[415];
    const TVector3f b = head[371];
    const TVector3f centre{0.5f * a.x + 0.5f * b.x, 0.5f * a.y + 0.5f * b.y, 0.5f * a.z + 0.5f * b.z};
    auto expectLowered = [](const TVector3f &actual, const TVector3f &source) {
        EXPECT_TRUE(sameBits(actual.x, source.x));
        EXPECT_TRUE(sameBits(actual.y, source.y));
        EXPECT_TRUE(sameBits(actual.z, source.z - 0.13f));
    };
    const std::size_t n = list7.size();
    for (std::size_t k = 0; k < n; ++k) {
        SCOPED_TRACE(k);
        // The last triangle closes the ring: L[n - 1], then L[0].
        expectLowered(regions[7].vertices[3 * k], head[static_cast<std::size_t>(list7[k])]);
        expectLowered(regions[7].vertices[3 * k + 1], head[static_cast<std::size_t>(list7[(k + 1) % n])]);
        expectLowered(regions[7].vertices[3 * k + 2], centre);
    }
}

TEST(BuildMouthCap, HeadWithoutTheFixedVerticesIsRefusedAndNothingChanges) {
    std::vector<TRegion> regions = headWithEightRegions();
    regions[0].vertices.resize(400);  // keeps 371 but loses 415 and the ring
    const std::vector<TRegion> before = regions;
    EXPECT_FALSE(buildMouthCap(regions, fullHeadList7Table()));
    EXPECT_TRUE(test::regionListsBitwiseEqual(before, regions));

    std::vector<TRegion> full = headWithEightRegions();
    const std::vector<TRegion> fullBefore = full;
    EXPECT_FALSE(buildMouthCap(full, {1, 2, static_cast<int32_t>(full[0].vertices.size())}));
    EXPECT_FALSE(buildMouthCap(full, {1, -1}));
    EXPECT_FALSE(buildMouthCap(full, {}));
    full.resize(7);  // no region 7
    EXPECT_FALSE(buildMouthCap(full, fullHeadList7Table()));
    full.resize(8);
    EXPECT_TRUE(test::regionsBitwiseEqual(full[0], fullBefore[0]));
}

TEST(BuildSockRegion, HeadWithoutTheRimVerticesOrRegionFiveIsRefusedAndNothingChanges) {
    std::vector<TRegion> regions = headWithEightRegions();
    regions[0].vertices.resize(2976);  // the last rim vertex, 2976, is missing
    const std::vector<TRegion> before = regions;
    EXPECT_FALSE(buildSockRegion(regions));
    EXPECT_TRUE(test::regionListsBitwiseEqual(before, regions));

    std::vector<TRegion> five = fullHeadRegions(0);
    const std::vector<TRegion> fiveBefore = five;
    EXPECT_FALSE(buildSockRegion(five));
    EXPECT_TRUE(test::regionListsBitwiseEqual(fiveBefore, five));
}

TEST(BuildersOnModel, TheModelOverloadsWorkOnTheModelsRegions) {
    TModel model;
    model.regions = headWithEightRegions();
    EXPECT_TRUE(buildSockRegion(model));
    EXPECT_TRUE(buildMouthCap(model, fullHeadList7Table()));
    EXPECT_EQ(model.regions[5].vertices.size(), 9u);
    EXPECT_EQ(model.regions[7].vertices.size(), 114u);
}

TEST(RotateRegions, ZeroAnglesLeaveEveryVertexUnchanged) {
    std::vector<TRegion> regions = fullHeadRegions(2);
    const std::vector<TRegion> before = regions;
    rotateRegions(regions, 0.0f, 0.0f, 0.0f);
    EXPECT_TRUE(test::regionListsBitwiseEqual(before, regions));
}

TEST(RotateRegions, MinusPointFourAboutXGivesTheRotationOfTheVrmlImport) {
    // About the x axis only: y' = sin(a) z + cos(a) y, z' = cos(a) z - sin(a) y
    // (the Part's step 1), x unchanged; a = -0.4 tips the top of the head
    // (y = 1, z = 0) toward +z.
    std::vector<TRegion> regions(1);
    regions[0].vertices = {{0.0f, 1.0f, 0.0f}, {0.5f, -0.25f, 2.0f}};
    const std::vector<TVector3f> before = regions[0].vertices;
    rotateRegions(regions, -0.4f, 0.0f, 0.0f);
    const float sa = std::sin(-0.4f);
    const float ca = std::cos(-0.4f);
    for (std::size_t i = 0; i < before.size(); ++i) {
        const TVector3f v = before[i];
        EXPECT_TRUE(sameBits(regions[0].vertices[i].x, v.x));
        EXPECT_TRUE(sameBits(regions[0].vertices[i].y, sa * v.z + ca * v.y));
        EXPECT_TRUE(sameBits(regions[0].vertices[i].z, ca * v.z - sa * v.y));
    }
    EXPECT_GT(regions[0].vertices[0].z, 0.38f);  // sin 0.4 = 0.389
}

TEST(RotateRegions, TurnsAboutXThenYThenZ) {
    // An independent composition in double: R = Rz(c) Ry(b) Rx(a) with the
    // Part's sign conventions (x about x: (y, z) -> (ca y + sa z, ca z - sa y);
    // about y: (x, z) -> (cb x - sb z, sb x + cb z); about z: (x, y) ->
    // (cc x - sc y, sc x + cc y)).
    const double a = 0.3, b = -0.7, c = 1.1;
    std::vector<TRegion> regions(2);
    regions[0].vertices = {{1.0f, 2.0f, 3.0f}};
    regions[1].vertices = {{-0.5f, 0.25f, 4.0f}, {0, 0, 0}};
    const std::vector<TRegion> before = regions;
    rotateRegions(regions, static_cast<float>(a), static_cast<float>(b), static_cast<float>(c));
    for (std::size_t r = 0; r < regions.size(); ++r) {
        for (std::size_t i = 0; i < regions[r].vertices.size(); ++i) {
            const TVector3f v = before[r].vertices[i];
            const double y1 = std::cos(a) * v.y + std::sin(a) * v.z;
            const double z1 = std::cos(a) * v.z - std::sin(a) * v.y;
            const double x2 = std::cos(b) * v.x - std::sin(b) * z1;
            const double z2 = std::sin(b) * v.x + std::cos(b) * z1;
            const double x3 = std::cos(c) * x2 - std::sin(c) * y1;
            const double y3 = std::sin(c) * x2 + std::cos(c) * y1;
            EXPECT_NEAR(regions[r].vertices[i].x, x3, 1e-5);
            EXPECT_NEAR(regions[r].vertices[i].y, y3, 1e-5);
            EXPECT_NEAR(regions[r].vertices[i].z, z2, 1e-5);
        }
    }
}

TEST(ScaleRegion, UnitFactorsLeaveTheRegionUnchangedWhateverTheCentre) {
    // Coordinates and centres on a 1/64 grid below 2^10: every difference and
    // sum is exact in single precision, so (x - c) * 1 + c is x bit for bit.
    TRegion region;
    for (int k = -40; k <= 40; k += 3) region.vertices.push_back({k / 64.0f, (k * 7) / 64.0f, 3.0f - k / 32.0f});
    const TRegion before = region;
    for (const TVector3f centre : {TVector3f{0, 0, 0}, TVector3f{100.5f, -3.25f, 7.0f}, TVector3f{-512, 512, 1}}) {
        scaleRegion(region, 1.0f, 1.0f, 1.0f, centre);
        EXPECT_TRUE(test::regionsBitwiseEqual(before, region));
    }
}

TEST(ScaleRegion, ScalesEachAxisAboutTheCentre) {
    TRegion region;
    region.vertices = {{1.0f, 2.0f, 3.0f}, {-1.0f, 0.5f, 0.0f}};
    const TVector3f centre{0.5f, 1.0f, -1.0f};
    scaleRegion(region, 0.95f, 0.9f, 0.5f, centre);
    EXPECT_TRUE(sameBits(region.vertices[0].x, (1.0f - 0.5f) * 0.95f + 0.5f));
    EXPECT_TRUE(sameBits(region.vertices[0].y, (2.0f - 1.0f) * 0.9f + 1.0f));
    EXPECT_EQ(region.vertices[0].z, 1.0f);  // (3 + 1) * 0.5 - 1
    EXPECT_EQ(region.vertices[1].z, -0.5f);
    EXPECT_TRUE(sameBits(region.vertices[1].x, (-1.0f - 0.5f) * 0.95f + 0.5f));
}

}  // namespace
}  // namespace kelmo
