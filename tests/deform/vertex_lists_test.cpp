// Part 5.1: vertex lists, through the C++ exports TAVO_GetModelVertices and
// TAVO_SetModelVertices and their C-callable forms TAVO_GetModelVertexLists
// and TAVO_SetModelVertexLists.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "deform_support.h"
#include "deform/vertex_lists.h"
#include "kelmo.h"

namespace kelmo::test {
namespace {

using VertexListsTest = DeformTest;

// A model of `regionCount` random regions with quads and texture coordinates.
int32_t randomModel(std::mt19937 &rng, int regionCount) {
    const int32_t handle = newModel();
    for (int r = 0; r < regionCount; ++r) modelOf(handle).regions.push_back(randomFiniteRegion(rng, 3 + 2 * r, 2 + r));
    return handle;
}

VertexLists expectedListsOf(const TModel &model) {
    VertexLists lists;
    for (const TRegion &region : model.regions) lists.push_back(region.vertices);
    return lists;
}

TEST_F(VertexListsTest, GetModelVerticesGivesOneListPerRegionHoldingThatRegionsVertices) {
    std::mt19937 rng(1);
    const int32_t handle = randomModel(rng, 4);
    VertexLists lists;
    ASSERT_EQ(TAVO_GetModelVertices(handle, lists), TAVO_OK);
    EXPECT_TRUE(vertexListsBitwiseEqual(expectedListsOf(modelOf(handle)), lists));
}

TEST_F(VertexListsTest, GetModelVerticesDropsSurplusEntriesOfTheCallersList) {
    std::mt19937 rng(2);
    const int32_t handle = randomModel(rng, 2);
    VertexLists lists(7, std::vector<TVector3f>(5, TVector3f{9, 9, 9}));
    ASSERT_EQ(TAVO_GetModelVertices(handle, lists), TAVO_OK);
    EXPECT_TRUE(vertexListsBitwiseEqual(expectedListsOf(modelOf(handle)), lists));
}

TEST_F(VertexListsTest, GetModelVerticesOfAModelWithoutRegionsGivesAnEmptyOuterList) {
    const int32_t handle = newModel();
    VertexLists lists(3);
    ASSERT_EQ(TAVO_GetModelVertices(handle, lists), TAVO_OK);
    EXPECT_TRUE(lists.empty());
}

TEST_F(VertexListsTest, SetModelVerticesWithMoreEntriesThanRegionsAppendsRegionsHoldingOnlyVertices) {
    std::mt19937 rng(3);
    const int32_t handle = randomModel(rng, 2);
    const std::vector<TRegion> before = modelOf(handle).regions;
    VertexLists lists = expectedListsOf(modelOf(handle));
    lists.push_back({{1, 2, 3}, {4, 5, 6}});
    lists.push_back({});
    lists.push_back({{7, 8, 9}});
    ASSERT_EQ(TAVO_SetModelVertices(handle, lists), TAVO_OK);
    const TModel &model = modelOf(handle);
    ASSERT_EQ(model.regions.size(), 5u);
    EXPECT_TRUE(regionListsBitwiseEqual(before, {model.regions[0], model.regions[1]}));
    for (std::size_t r = 2; r < 5; ++r) {
        EXPECT_TRUE(vertexListsBitwiseEqual({lists[r]}, {model.regions[r].vertices}));
        EXPECT_TRUE(model.regions[r].quads.empty());
        EXPECT_TRUE(model.regions[r].textureQuads.empty());
        EXPECT_TRUE(model.regions[r].textureCoords.empty());
    }
}

TEST_F(VertexListsTest, SetModelVerticesWithFewerEntriesDestroysTheSurplusRegionsFromTheEnd) {
    std::mt19937 rng(4);
    const int32_t handle = randomModel(rng, 5);
    const std::vector<TRegion> before = modelOf(handle).regions;
    VertexLists lists = expectedListsOf(modelOf(handle));
    lists.resize(2);
    ASSERT_EQ(TAVO_SetModelVertices(handle, lists), TAVO_OK);
    EXPECT_TRUE(regionListsBitwiseEqual({before[0], before[1]}, modelOf(handle).regions));
}

TEST_F(VertexListsTest, SetModelVerticesKeepsQuadsAndTextureArraysEvenWhenTheVertexCountChanges) {
    std::mt19937 rng(5);
    const int32_t handle = randomModel(rng, 3);
    const std::vector<TRegion> before = modelOf(handle).regions;
    VertexLists lists = {{{1, 1, 1}}, {}, std::vector<TVector3f>(40, TVector3f{0.5f, -0.5f, 2.0f})};
    ASSERT_EQ(TAVO_SetModelVertices(handle, lists), TAVO_OK);
    const TModel &model = modelOf(handle);
    ASSERT_EQ(model.regions.size(), 3u);
    for (std::size_t r = 0; r < 3; ++r) {
        EXPECT_TRUE(vertexListsBitwiseEqual({lists[r]}, {model.regions[r].vertices}));
        EXPECT_EQ(model.regions[r].quads, before[r].quads);
        EXPECT_EQ(model.regions[r].textureQuads, before[r].textureQuads);
        EXPECT_EQ(std::memcmp(model.regions[r].textureCoords.data(), before[r].textureCoords.data(),
                              before[r].textureCoords.size() * sizeof(TPointf)),
                  0);
    }
}

TEST_F(VertexListsTest, GettingThenSettingTheSameVertexListsLeavesTheModelUnchanged) {
    std::mt19937 rng(6);
    const int32_t handle = randomModel(rng, 6);
    // NaNs, infinities and signed zeros survive the round trip bit for bit.
    modelOf(handle).regions[1].vertices[0] = {std::bit_cast<float>(0x7fc01234u), -0.0f,
                                              -std::numeric_limits<float>::infinity()};
    const std::vector<TRegion> before = modelOf(handle).regions;
    VertexLists lists;
    ASSERT_EQ(TAVO_GetModelVertices(handle, lists), TAVO_OK);
    ASSERT_EQ(TAVO_SetModelVertices(handle, lists), TAVO_OK);
    EXPECT_TRUE(regionListsBitwiseEqual(before, modelOf(handle).regions));
}

TEST_F(VertexListsTest, InvalidHandlesGiveMinus4AndChangeNothing) {
    std::mt19937 rng(7);
    const int32_t handle = randomModel(rng, 2);
    const int32_t freed = newModel();
    ASSERT_EQ(TAVO_FreeModel(freed), TAVO_OK);
    const std::vector<TRegion> before = modelOf(handle).regions;
    for (const int32_t bad : {-1, freed, freed + 1, 1000}) {
        VertexLists lists(2, std::vector<TVector3f>(1, TVector3f{3, 3, 3}));
        const VertexLists untouched = lists;
        EXPECT_EQ(TAVO_GetModelVertices(bad, lists), TAVO_ERR_INVALID_HANDLE);
        EXPECT_TRUE(vertexListsBitwiseEqual(untouched, lists));
        EXPECT_EQ(TAVO_SetModelVertices(bad, lists), TAVO_ERR_INVALID_HANDLE);
        int32_t counts[8] = {};
        TVector3f vertices[8] = {};
        EXPECT_EQ(TAVO_GetModelVertexLists(bad, counts, 8, vertices, 8), TAVO_ERR_INVALID_HANDLE);
        EXPECT_EQ(TAVO_SetModelVertexLists(bad, 1, counts, vertices), TAVO_ERR_INVALID_HANDLE);
    }
    EXPECT_TRUE(regionListsBitwiseEqual(before, modelOf(handle).regions));
}

// ---- The C-callable forms ----------------------------------------------------

TEST_F(VertexListsTest, GetModelVertexListsWritesTheCountsAndTheVerticesRegionAfterRegion) {
    std::mt19937 rng(8);
    const int32_t handle = randomModel(rng, 4);
    const VertexLists expected = expectedListsOf(modelOf(handle));
    std::vector<int32_t> counts(4, -1);
    std::vector<TVector3f> flat(3 + 5 + 7 + 9);
    ASSERT_EQ(TAVO_GetModelVertexLists(handle, counts.data(), 4, flat.data(), static_cast<int32_t>(flat.size())),
              TAVO_OK);
    EXPECT_EQ(counts, (std::vector<int32_t>{3, 5, 7, 9}));
    std::size_t next = 0;
    for (const auto &list : expected)
        for (const TVector3f &vertex : list) EXPECT_TRUE(sameVertex(vertex, flat[next++]));
}

TEST_F(VertexListsTest, GetModelVertexListsWithTooSmallBuffersWritesNothing) {
    std::mt19937 rng(9);
    const int32_t handle = randomModel(rng, 3);  // 3 + 5 + 7 vertices
    std::vector<int32_t> counts(3, -7);
    std::vector<TVector3f> flat(15, TVector3f{-7, -7, -7});
    EXPECT_EQ(TAVO_GetModelVertexLists(handle, counts.data(), 2, flat.data(), 15), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_GetModelVertexLists(handle, counts.data(), 3, flat.data(), 14), TAVO_ERR_GENERAL);
    EXPECT_EQ(counts, std::vector<int32_t>(3, -7));
    for (const TVector3f &vertex : flat) EXPECT_EQ(vertex.x, -7.0f);
}

TEST_F(VertexListsTest, GetModelVertexListsChecksPointersBeforeTheHandle) {
    int32_t counts[1];
    TVector3f vertices[1];
    EXPECT_EQ(TAVO_GetModelVertexLists(-1, nullptr, 1, vertices, 1), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_GetModelVertexLists(-1, counts, 1, nullptr, 1), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_GetModelVertexLists(-1, counts, -1, vertices, 1), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_GetModelVertexLists(-1, counts, 1, vertices, 1), TAVO_ERR_INVALID_HANDLE);
    // A model without vertices needs no vertex buffer.
    const int32_t handle = newModel();
    EXPECT_EQ(TAVO_GetModelVertexLists(handle, counts, 0, nullptr, 0), TAVO_OK);
}

TEST_F(VertexListsTest, SetModelVertexListsDoesWhatSetModelVerticesDoes) {
    std::mt19937 rng(10);
    const int32_t viaC = randomModel(rng, 3);
    std::mt19937 same(10);
    const int32_t viaCpp = randomModel(same, 3);
    const VertexLists lists = {{{1, 2, 3}, {4, 5, 6}}, {}, {{7, 8, 9}}, {{-1, -2, -3}}};
    const int32_t counts[4] = {2, 0, 1, 1};
    const TVector3f flat[4] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {-1, -2, -3}};
    ASSERT_EQ(TAVO_SetModelVertexLists(viaC, 4, counts, flat), TAVO_OK);
    ASSERT_EQ(TAVO_SetModelVertices(viaCpp, lists), TAVO_OK);
    EXPECT_TRUE(regionListsBitwiseEqual(modelOf(viaCpp).regions, modelOf(viaC).regions));
    // Zero regions: the model loses them all, without any buffer.
    ASSERT_EQ(TAVO_SetModelVertexLists(viaC, 0, nullptr, nullptr), TAVO_OK);
    EXPECT_TRUE(modelOf(viaC).regions.empty());
}

TEST_F(VertexListsTest, SetModelVertexListsWithANegativeOrOverflowingCountChangesNothing) {
    std::mt19937 rng(11);
    const int32_t handle = randomModel(rng, 2);
    const std::vector<TRegion> before = modelOf(handle).regions;
    const TVector3f flat[2] = {{1, 1, 1}, {2, 2, 2}};
    const int32_t negative[2] = {1, -1};
    EXPECT_EQ(TAVO_SetModelVertexLists(handle, 2, negative, flat), TAVO_ERR_GENERAL);
    const int32_t overflowing[3] = {INT32_MAX, INT32_MAX, 1};
    EXPECT_EQ(TAVO_SetModelVertexLists(handle, 3, overflowing, flat), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_SetModelVertexLists(handle, -1, negative, flat), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_SetModelVertexLists(handle, 1, nullptr, flat), TAVO_ERR_GENERAL);
    const int32_t one[1] = {1};
    EXPECT_EQ(TAVO_SetModelVertexLists(handle, 1, one, nullptr), TAVO_ERR_GENERAL);
    EXPECT_TRUE(regionListsBitwiseEqual(before, modelOf(handle).regions));
}

}  // namespace
}  // namespace kelmo::test
