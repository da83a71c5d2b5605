// The sock and mouth-cavity regions built over the full head's vertices, and
// the rotation of regions.
#include "fitting/region_builders.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/model_support.h"
#include "support/synthetic_head.h"

namespace kelmo {
namespace {

TEST(RegionBuilders, SockAndMouthCavityAreFansOverTheHeadsRimAndLipRing) {
    TRegion old;  // what regions 5 to 7 held
    old.vertices = {{9, 9, 9}};
    old.textureCoords = {{0.3f, 0.3f}};
    old.quads = old.textureQuads = {{0, 0, 0, 0}};
    std::vector<TRegion> regions = testing::fullHeadRegions(0), expected;
    regions.resize(8, old);
    const std::vector<int32_t> ring = testing::fullHeadList7Table();
    const std::vector<TVector3f> &head = regions[0].vertices;
    expected = regions;
    // The sock: pinned at rim point 2's x and rim point 1's y and z.
    TRegion &sock = expected[5] = {};
    sock.vertices = {{head[228].x, head[718].y, head[718].z}};
    for (const int32_t vertex : {718, 2775, 228, 1829, 441, 2038, 1130, 2976}) sock.vertices.push_back(head[vertex]);
    for (int32_t i = 0; i < 8; ++i) sock.quads.push_back({0, i + 1, i < 7 ? i + 2 : 1, 0});
    sock.textureQuads = sock.quads;
    sock.textureCoords = {{0.5f, 0.5f}, {0.5f, 0.5f}, {0, 0.5f}, {0, 1},   {1, 0.5f},
                          {1, 1},       {1, 0.5f},    {1, 0},    {0, 0.5f}};
    // The cavity: a triangle per ring edge to the lips' midpoint, all 0.13 deep.
    TRegion &cap = expected[7] = {};
    const TVector3f a = head[415], b = head[371];
    const TVector3f centre{0.5f * a.x + 0.5f * b.x, 0.5f * a.y + 0.5f * b.y, 0.5f * a.z + 0.5f * b.z};
    for (std::size_t k = 0; k < ring.size(); ++k) {
        for (const TVector3f &v : {head[ring[k]], head[ring[(k + 1) % ring.size()]], centre})
            cap.vertices.push_back({v.x, v.y, v.z - 0.13f});
        const auto first = static_cast<int32_t>(3 * k);
        cap.quads.push_back({first, first + 1, first + 2, first + 2});
    }
    cap.textureQuads = cap.quads;
    cap.textureCoords.assign(cap.vertices.size(), TPointf{0, 0});
    ASSERT_TRUE(buildSockRegion(regions) && buildMouthCap(regions, ring));
    EXPECT_TRUE(test::regionListsBitwiseEqual(expected, regions));

    // Heads without the vertices are refused and left as they were.
    std::vector<int32_t> outside = ring;
    outside.back() = static_cast<int32_t>(head.size());
    regions[0].vertices.resize(2976);  // no rim vertex 2976
    EXPECT_FALSE(buildMouthCap(expected, outside) || buildMouthCap(expected, {}) || buildSockRegion(regions));
    EXPECT_TRUE(test::regionsBitwiseEqual(expected[5], regions[5]) && regions[0].vertices.size() == 2976);
}

TEST(RegionBuilders, RotateTurnsAboutXThenYThenZ) {
    // About x: (y, z) -> (ca y + sa z, ca z - sa y); about y: (x, z) ->
    // (cb x - sb z, sb x + cb z); about z: (x, y) -> (cc x - sc y, sc x + cc y).
    const double a = 0.3, b = -0.7, c = 1.1, x = -0.5, y = 0.25, z = 4.0;
    std::vector<TRegion> regions(2);
    regions[1].vertices = {{-0.5f, 0.25f, 4.0f}};
    rotateRegions(regions, static_cast<float>(a), static_cast<float>(b), static_cast<float>(c));
    const double y1 = std::cos(a) * y + std::sin(a) * z, z1 = std::cos(a) * z - std::sin(a) * y;
    const double x2 = std::cos(b) * x - std::sin(b) * z1, z2 = std::sin(b) * x + std::cos(b) * z1;
    EXPECT_NEAR(regions[1].vertices[0].x, std::cos(c) * x2 - std::sin(c) * y1, 1e-5);
    EXPECT_NEAR(regions[1].vertices[0].y, std::sin(c) * x2 + std::cos(c) * y1, 1e-5);
    EXPECT_NEAR(regions[1].vertices[0].z, z2, 1e-5);
}

}  // namespace
}  // namespace kelmo
