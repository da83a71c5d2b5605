// Part 5.1: vertex files (TAVO_LoadExpressionToModel), morphs
// (TAVO_ApplyMorph, TAVO_ApplyMorphHField) and the placeholder
// TAVO_GetFaceExpression.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "deform_support.h"
#include "deform/morphs.h"
#include "kelmo.h"

namespace kelmo::test {
namespace {

using MorphTest = DeformTest;

// Part 5.1's pin table, written out here from the spec's text.
constexpr std::array<std::size_t, 8> kPinTable = {718, 2775, 228, 1829, 441, 2038, 1130, 2976};

// A model shaped like one created from a photo, as far as morphs care: region
// 0 of 3000 vertices, small regions 1 to 4, the nine-vertex sock region 5, and
// `extraRegions` further small regions.
int32_t headModel(std::mt19937 &rng, int extraRegions = 0) {
    const int32_t handle = newModel();
    TModel &model = modelOf(handle);
    model.regions.push_back(randomFiniteRegion(rng, 3000, 40));
    for (int r = 1; r <= 4; ++r) model.regions.push_back(randomFiniteRegion(rng, 6 + r, 3));
    model.regions.push_back(randomFiniteRegion(rng, 9, 8));
    for (int r = 0; r < extraRegions; ++r) model.regions.push_back(randomFiniteRegion(rng, 5, 2));
    return handle;
}

// A morph model with the same region sizes as `like`, random displacements.
int32_t morphLike(std::mt19937 &rng, const TModel &like) {
    const int32_t handle = newModel();
    std::uniform_real_distribution<float> displacement(-0.1f, 0.1f);
    for (const TRegion &region : like.regions) {
        TRegion morphRegion;
        for (std::size_t j = 0; j < region.vertices.size(); ++j)
            morphRegion.vertices.push_back({displacement(rng), displacement(rng), displacement(rng)});
        modelOf(handle).regions.push_back(morphRegion);
    }
    return handle;
}

// The spec's pinning, applied to expected lists.
void pinExpected(VertexLists &lists) {
    for (std::size_t k = 0; k < kPinTable.size(); ++k) lists[5][k + 1] = lists[0][kPinTable[k]];
    lists[5][0] = TVector3f{lists[5][3].x, lists[5][1].y, lists[5][1].z};
}

// a + weight x b (x field), coordinate by coordinate, as Part 5.1 step 2 says.
TVector3f moved(TVector3f a, TVector3f b, float weight) {
    return {a.x + weight * b.x, a.y + weight * b.y, a.z + weight * b.z};
}
TVector3f movedWithField(TVector3f a, TVector3f b, float weight, float field) {
    return {a.x + weight * b.x * field, a.y + weight * b.y * field, a.z + weight * b.z * field};
}

// ---- Morphs ------------------------------------------------------------------

TEST_F(MorphTest, MorphWithWeightOneAddsTheDisplacementsAndPinsTheSockRegion) {
    std::mt19937 rng(1);
    const int32_t handle = headModel(rng, 3);
    const int32_t morph = morphLike(rng, modelOf(handle));
    VertexLists expected = getVertexLists(modelOf(handle));
    const VertexLists displacements = getVertexLists(modelOf(morph));
    for (std::size_t r = 0; r < expected.size(); ++r)
        for (std::size_t j = 0; j < expected[r].size(); ++j)
            expected[r][j] = moved(expected[r][j], displacements[r][j], 1.0f);
    pinExpected(expected);
    ASSERT_EQ(TAVO_ApplyMorph(handle, morph, 1.0f), TAVO_OK);
    EXPECT_TRUE(vertexListsBitwiseEqual(expected, getVertexLists(modelOf(handle))));
}

TEST_F(MorphTest, MorphWithWeightZeroChangesOnlyTheSockRegionWhichIsPinnedAgain) {
    std::mt19937 rng(2);
    const int32_t handle = headModel(rng, 2);
    const int32_t morph = morphLike(rng, modelOf(handle));
    const std::vector<TRegion> before = modelOf(handle).regions;
    VertexLists expected = getVertexLists(modelOf(handle));
    pinExpected(expected);
    ASSERT_EQ(TAVO_ApplyMorph(handle, morph, 0.0f), TAVO_OK);
    const TModel &model = modelOf(handle);
    EXPECT_TRUE(vertexListsBitwiseEqual(expected, getVertexLists(model)));
    for (std::size_t r = 0; r < before.size(); ++r) {
        if (r == 5) continue;
        EXPECT_TRUE(regionsBitwiseEqual(before[r], model.regions[r])) << "region " << r;
    }
    // The sock's vertices really were elsewhere before.
    EXPECT_FALSE(sameVertex(before[5].vertices[1], model.regions[5].vertices[1]));
}

TEST_F(MorphTest, FieldOfAllOnesGivesTheSameResultAsTheMorphWithoutAField) {
    std::mt19937 rng(3);
    const int32_t withField = headModel(rng);
    std::mt19937 same(3);
    const int32_t withoutField = headModel(same);
    const int32_t morph = morphLike(rng, modelOf(withField));
    const std::vector<float> ones(3000, 1.0f);
    ASSERT_EQ(TAVO_ApplyMorphHField(withField, morph, 0.7f, ones.data()), TAVO_OK);
    ASSERT_EQ(TAVO_ApplyMorphHField(withoutField, morph, 0.7f, nullptr), TAVO_OK);
    EXPECT_TRUE(vertexListsBitwiseEqual(getVertexLists(modelOf(withoutField)), getVertexLists(modelOf(withField))));
}

TEST_F(MorphTest, FieldOfZerosFreezesRegion0WhileTheOtherRegionsStillMove) {
    std::mt19937 rng(4);
    const int32_t handle = headModel(rng, 1);
    const int32_t morph = morphLike(rng, modelOf(handle));
    VertexLists expected = getVertexLists(modelOf(handle));
    const VertexLists displacements = getVertexLists(modelOf(morph));
    for (std::size_t r = 1; r < expected.size(); ++r)
        for (std::size_t j = 0; j < expected[r].size(); ++j)
            expected[r][j] = moved(expected[r][j], displacements[r][j], 2.0f);
    pinExpected(expected);
    const std::vector<float> zeros(3000, 0.0f);
    ASSERT_EQ(TAVO_ApplyMorphHField(handle, morph, 2.0f, zeros.data()), TAVO_OK);
    EXPECT_TRUE(vertexListsBitwiseEqual(expected, getVertexLists(modelOf(handle))));
}

TEST_F(MorphTest, FieldScalesRegion0VertexByVertexAsWeightTimesDisplacementTimesField) {
    std::mt19937 rng(5);
    const int32_t handle = headModel(rng);
    const int32_t morph = morphLike(rng, modelOf(handle));
    std::vector<float> field(3000);
    std::uniform_real_distribution<float> value(-3.0f, 3.0f);
    for (float &f : field) f = value(rng);
    VertexLists expected = getVertexLists(modelOf(handle));
    const VertexLists displacements = getVertexLists(modelOf(morph));
    for (std::size_t j = 0; j < expected[0].size(); ++j)
        expected[0][j] = movedWithField(expected[0][j], displacements[0][j], 0.3f, field[j]);
    for (std::size_t r = 1; r < expected.size(); ++r)
        for (std::size_t j = 0; j < expected[r].size(); ++j)
            expected[r][j] = moved(expected[r][j], displacements[r][j], 0.3f);
    pinExpected(expected);
    ASSERT_EQ(TAVO_ApplyMorphHField(handle, morph, 0.3f, field.data()), TAVO_OK);
    EXPECT_TRUE(vertexListsBitwiseEqual(expected, getVertexLists(modelOf(handle))));
}

TEST_F(MorphTest, MorphModelWithFewerRegionsMovesOnlyTheCommonRegions) {
    std::mt19937 rng(6);
    const int32_t handle = headModel(rng, 2);  // eight regions
    const int32_t morph = morphLike(rng, modelOf(handle));
    modelOf(morph).regions.resize(3);
    const std::vector<TRegion> before = modelOf(handle).regions;
    VertexLists expected = getVertexLists(modelOf(handle));
    const VertexLists displacements = getVertexLists(modelOf(morph));
    for (std::size_t r = 0; r < 3; ++r)
        for (std::size_t j = 0; j < expected[r].size(); ++j)
            expected[r][j] = moved(expected[r][j], displacements[r][j], -1.5f);
    pinExpected(expected);
    ASSERT_EQ(TAVO_ApplyMorph(handle, morph, -1.5f), TAVO_OK);
    EXPECT_TRUE(vertexListsBitwiseEqual(expected, getVertexLists(modelOf(handle))));
    for (std::size_t r = 6; r < 8; ++r) EXPECT_TRUE(regionsBitwiseEqual(before[r], modelOf(handle).regions[r]));
}

TEST_F(MorphTest, MorphRegionWithFewerVerticesMovesOnlyTheLeadingVertices) {
    std::mt19937 rng(7);
    const int32_t handle = headModel(rng);
    const int32_t morph = morphLike(rng, modelOf(handle));
    modelOf(morph).regions[0].vertices.resize(100);
    modelOf(morph).regions[2].vertices.resize(3);
    VertexLists expected = getVertexLists(modelOf(handle));
    const VertexLists displacements = getVertexLists(modelOf(morph));
    for (std::size_t r = 0; r < expected.size(); ++r)
        for (std::size_t j = 0; j < displacements[r].size(); ++j)
            expected[r][j] = moved(expected[r][j], displacements[r][j], 1.0f);
    pinExpected(expected);
    ASSERT_EQ(TAVO_ApplyMorph(handle, morph, 1.0f), TAVO_OK);
    EXPECT_TRUE(vertexListsBitwiseEqual(expected, getVertexLists(modelOf(handle))));
}

TEST_F(MorphTest, MorphRegionWithMoreVerticesThanTheModelsMovesOnlyTheCommonVertices) {
    std::mt19937 rng(8);
    const int32_t handle = headModel(rng);
    const int32_t morph = morphLike(rng, modelOf(handle));
    modelOf(morph).regions[1].vertices.resize(500, TVector3f{1, 1, 1});
    modelOf(morph).regions[0].vertices.resize(6000, TVector3f{1, 1, 1});
    VertexLists expected = getVertexLists(modelOf(handle));
    const VertexLists displacements = getVertexLists(modelOf(morph));
    for (std::size_t r = 0; r < expected.size(); ++r)
        for (std::size_t j = 0; j < expected[r].size(); ++j)
            expected[r][j] = moved(expected[r][j], displacements[r][j], 1.0f);
    pinExpected(expected);
    std::vector<float> field(6000, 1.0f);
    ASSERT_EQ(TAVO_ApplyMorphHField(handle, morph, 1.0f, field.data()), TAVO_OK);
    EXPECT_TRUE(vertexListsBitwiseEqual(expected, getVertexLists(modelOf(handle))));
}

TEST_F(MorphTest, MorphingAModelWithoutTheSockRegionAppliesTheMorphAndSkipsThePinning) {
    // Three ways to lack it: five regions; a sock region of eight vertices;
    // a region 0 of 2976 vertices (the table names vertex 2976).
    for (int variant = 0; variant < 3; ++variant) {
        std::mt19937 rng(9 + variant);
        const int32_t handle = headModel(rng);
        TModel &model = modelOf(handle);
        if (variant == 0) model.regions.resize(5);
        if (variant == 1) model.regions[5].vertices.resize(8);
        if (variant == 2) model.regions[0].vertices.resize(2976);
        const int32_t morph = morphLike(rng, model);
        VertexLists expected = getVertexLists(model);
        const VertexLists displacements = getVertexLists(modelOf(morph));
        for (std::size_t r = 0; r < expected.size(); ++r)
            for (std::size_t j = 0; j < expected[r].size(); ++j)
                expected[r][j] = moved(expected[r][j], displacements[r][j], 1.0f);
        ASSERT_EQ(TAVO_ApplyMorph(handle, morph, 1.0f), TAVO_OK) << variant;
        EXPECT_TRUE(vertexListsBitwiseEqual(expected, getVertexLists(modelOf(handle)))) << variant;
        destroyAllModels();
    }
}

TEST_F(MorphTest, RepeatedMorphsAccumulateAndANegativeWeightMovesTheOtherWay) {
    std::mt19937 rng(12);
    const int32_t handle = headModel(rng);
    const int32_t morph = morphLike(rng, modelOf(handle));
    VertexLists expected = getVertexLists(modelOf(handle));
    const VertexLists displacements = getVertexLists(modelOf(morph));
    for (const float weight : {0.25f, 0.5f, -2.0f}) {
        for (std::size_t r = 0; r < expected.size(); ++r)
            for (std::size_t j = 0; j < expected[r].size(); ++j)
                expected[r][j] = moved(expected[r][j], displacements[r][j], weight);
        pinExpected(expected);
        ASSERT_EQ(TAVO_ApplyMorph(handle, morph, weight), TAVO_OK);
    }
    EXPECT_TRUE(vertexListsBitwiseEqual(expected, getVertexLists(modelOf(handle))));
    // A displacement of +0.1 and weights 0.25 + 0.5 - 2 move a vertex by -0.125.
    const int32_t single = newModel();
    modelOf(single).regions.push_back(TRegion{});
    modelOf(single).regions[0].vertices = {{1.0f, 1.0f, 1.0f}};
    const int32_t unit = newModel();
    modelOf(unit).regions.push_back(TRegion{});
    modelOf(unit).regions[0].vertices = {{0.5f, -0.5f, 0.0f}};
    for (const float weight : {0.25f, 0.5f, -2.0f}) ASSERT_EQ(TAVO_ApplyMorph(single, unit, weight), TAVO_OK);
    EXPECT_EQ(modelOf(single).regions[0].vertices[0].x, 1.0f - 0.625f);
    EXPECT_EQ(modelOf(single).regions[0].vertices[0].y, 1.0f + 0.625f);
    EXPECT_EQ(modelOf(single).regions[0].vertices[0].z, 1.0f);
}

TEST_F(MorphTest, AModelMorphedByItselfAddsItsOwnVertices) {
    std::mt19937 rng(13);
    const int32_t handle = headModel(rng);
    VertexLists expected = getVertexLists(modelOf(handle));
    for (auto &list : expected)
        for (TVector3f &vertex : list) vertex = moved(vertex, vertex, 1.0f);
    pinExpected(expected);
    ASSERT_EQ(TAVO_ApplyMorph(handle, handle, 1.0f), TAVO_OK);
    EXPECT_TRUE(vertexListsBitwiseEqual(expected, getVertexLists(modelOf(handle))));
}

TEST_F(MorphTest, MorphWithAnInvalidHandleGivesMinus4AndChangesNothing) {
    std::mt19937 rng(14);
    const int32_t handle = headModel(rng);
    const int32_t morph = morphLike(rng, modelOf(handle));
    const std::vector<TRegion> before = modelOf(handle).regions;
    for (const int32_t bad : {-1, 2, 99}) {
        EXPECT_EQ(TAVO_ApplyMorph(bad, morph, 1.0f), TAVO_ERR_INVALID_HANDLE);
        EXPECT_EQ(TAVO_ApplyMorph(handle, bad, 1.0f), TAVO_ERR_INVALID_HANDLE);
        EXPECT_EQ(TAVO_ApplyMorphHField(handle, bad, 1.0f, nullptr), TAVO_ERR_INVALID_HANDLE);
    }
    EXPECT_TRUE(regionListsBitwiseEqual(before, modelOf(handle).regions));
}

TEST_F(MorphTest, GetFaceExpressionReturns0) { EXPECT_EQ(TAVO_GetFaceExpression(), TAVO_OK); }

// ---- Vertex files --------------------------------------------------------------

// Hand encoding of Part 5.1's vertex file: per block a little-endian count,
// then the floats.
std::vector<uint8_t> vertexFileBytes(const VertexLists &blocks) {
    FaceBytes bytes;
    for (const auto &block : blocks) {
        bytes.int32(static_cast<int32_t>(block.size()));
        for (const TVector3f &v : block) bytes.float32(v.x).float32(v.y).float32(v.z);
    }
    return bytes.bytes();
}

TEST_F(MorphTest, LoadingAFileOfTwoBlocksIntoAModelOfEightRegionsLeavesTheFirstTwoWithTheNewVertices) {
    std::mt19937 rng(20);
    const int32_t handle = headModel(rng, 2);
    const std::vector<TRegion> before = modelOf(handle).regions;
    const VertexLists blocks = {{{1, 2, 3}, {-4, 5.5f, 6}}, {{0.25f, 0.5f, 0.75f}}};
    const std::string path = tempPath("two.vtx");
    writeBytesToFile(path, vertexFileBytes(blocks));
    ASSERT_EQ(TAVO_LoadExpressionToModel(handle, path.c_str()), TAVO_OK);
    const TModel &model = modelOf(handle);
    ASSERT_EQ(model.regions.size(), 2u);
    EXPECT_TRUE(vertexListsBitwiseEqual(blocks, getVertexLists(model)));
    for (std::size_t r = 0; r < 2; ++r) {
        EXPECT_EQ(model.regions[r].quads, before[r].quads);
        EXPECT_EQ(model.regions[r].textureQuads, before[r].textureQuads);
    }
}

TEST_F(MorphTest, LoadingAnEmptyFileSucceedsAndLeavesTheModelWithoutRegions) {
    std::mt19937 rng(21);
    const int32_t handle = headModel(rng);
    const std::string path = tempPath("empty.vtx");
    writeBytesToFile(path, {});
    ASSERT_EQ(TAVO_LoadExpressionToModel(handle, path.c_str()), TAVO_OK);
    EXPECT_TRUE(modelOf(handle).regions.empty());
    VertexLists lists(4);
    ASSERT_EQ(TAVO_GetModelVertices(handle, lists), TAVO_OK);
    EXPECT_TRUE(lists.empty());
}

TEST_F(MorphTest, LoadingIntoAFreshModelGivesRegionsHoldingOnlyVertices) {
    const int32_t handle = newModel();
    const VertexLists blocks = {{}, {{1, 1, 1}}, {{2, 2, 2}, {3, 3, 3}, {4, 4, 4}}};
    const std::string path = tempPath("fresh.vtx");
    writeBytesToFile(path, vertexFileBytes(blocks));
    ASSERT_EQ(TAVO_LoadExpressionToModel(handle, path.c_str()), TAVO_OK);
    EXPECT_TRUE(vertexListsBitwiseEqual(blocks, getVertexLists(modelOf(handle))));
    for (const TRegion &region : modelOf(handle).regions) {
        EXPECT_TRUE(region.quads.empty());
        EXPECT_TRUE(region.textureCoords.empty());
    }
}

TEST_F(MorphTest, OneToThreeTrailingBytesAfterTheLastBlockAreIgnored) {
    const VertexLists blocks = {{{1, 2, 3}}};
    for (int extra = 1; extra <= 3; ++extra) {
        const int32_t handle = newModel();
        std::vector<uint8_t> bytes = vertexFileBytes(blocks);
        bytes.insert(bytes.end(), static_cast<std::size_t>(extra), 0xff);
        const std::string path = tempPath("trailing.vtx");
        writeBytesToFile(path, bytes);
        ASSERT_EQ(TAVO_LoadExpressionToModel(handle, path.c_str()), TAVO_OK) << extra;
        EXPECT_TRUE(vertexListsBitwiseEqual(blocks, getVertexLists(modelOf(handle))));
    }
}

TEST_F(MorphTest, EveryPrefixOfAVertexFileLoadsOnlyWhenItEndsAtABlockBoundary) {
    const VertexLists blocks = {{{1, 2, 3}, {4, 5, 6}}, {}, {{7, 8, 9}}};
    const std::vector<uint8_t> bytes = vertexFileBytes(blocks);
    // Where each block ends (bytes): 4 + 24, then + 4, then + 4 + 12.
    const std::vector<std::size_t> blockEnds = {28, 32, 48};
    std::mt19937 rng(22);
    const int32_t handle = headModel(rng);
    const std::string path = tempPath("prefix.vtx");
    for (std::size_t length = 0; length <= bytes.size(); ++length) {
        writeBytesToFile(path, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)));
        // Complete blocks, plus up to 3 bytes that cannot hold a count.
        std::size_t complete = 0;
        while (complete < blockEnds.size() && blockEnds[complete] <= length) ++complete;
        const std::size_t consumed = complete == 0 ? 0 : blockEnds[complete - 1];
        const bool loads = length - consumed < 4;
        const std::vector<TRegion> before = modelOf(handle).regions;
        const int32_t status = TAVO_LoadExpressionToModel(handle, path.c_str());
        if (loads) {
            ASSERT_EQ(status, TAVO_OK) << length;
            EXPECT_TRUE(vertexListsBitwiseEqual(VertexLists(blocks.begin(), blocks.begin() + static_cast<std::ptrdiff_t>(complete)),
                                                getVertexLists(modelOf(handle))))
                << length;
        } else {
            ASSERT_EQ(status, TAVO_ERR_GENERAL) << length;
            EXPECT_TRUE(regionListsBitwiseEqual(before, modelOf(handle).regions)) << length;
        }
    }
}

TEST_F(MorphTest, VertexFileWithANegativeCountGivesMinus1AndLeavesTheModelUnchanged) {
    std::mt19937 rng(23);
    const int32_t handle = headModel(rng);
    const std::vector<TRegion> before = modelOf(handle).regions;
    FaceBytes bytes;
    bytes.int32(1).float32(1).float32(2).float32(3).int32(-1).float32(0).float32(0).float32(0);
    const std::string path = tempPath("negative.vtx");
    writeBytesToFile(path, bytes.bytes());
    EXPECT_EQ(TAVO_LoadExpressionToModel(handle, path.c_str()), TAVO_ERR_GENERAL);
    EXPECT_TRUE(regionListsBitwiseEqual(before, modelOf(handle).regions));
}

TEST_F(MorphTest, VertexFileWithAHugeCountAndFewBytesFailsWithoutAllocatingForTheCount) {
    std::mt19937 rng(24);
    const int32_t handle = headModel(rng);
    const std::vector<TRegion> before = modelOf(handle).regions;
    FaceBytes bytes;
    bytes.int32(INT32_MAX).float32(1).float32(2).float32(3);
    const std::string path = tempPath("huge.vtx");
    writeBytesToFile(path, bytes.bytes());
    EXPECT_EQ(TAVO_LoadExpressionToModel(handle, path.c_str()), TAVO_ERR_GENERAL);
    EXPECT_TRUE(regionListsBitwiseEqual(before, modelOf(handle).regions));
}

TEST_F(MorphTest, VertexFileWithMoreThan65536BlocksIsRefused) {
    const int32_t handle = newModel();
    const std::string path = tempPath("many.vtx");
    writeBytesToFile(path, std::vector<uint8_t>(4 * (kVertexFileMaxBlocks + 1), 0));  // empty blocks
    EXPECT_EQ(TAVO_LoadExpressionToModel(handle, path.c_str()), TAVO_ERR_GENERAL);
    EXPECT_TRUE(modelOf(handle).regions.empty());
    writeBytesToFile(path, std::vector<uint8_t>(4 * kVertexFileMaxBlocks, 0));
    EXPECT_EQ(TAVO_LoadExpressionToModel(handle, path.c_str()), TAVO_OK);
    EXPECT_EQ(modelOf(handle).regions.size(), kVertexFileMaxBlocks);
}

TEST_F(MorphTest, LoadingAMissingFileGivesMinus1AndLeavesTheModelUnchanged) {
    std::mt19937 rng(25);
    const int32_t handle = headModel(rng);
    const std::vector<TRegion> before = modelOf(handle).regions;
    EXPECT_EQ(TAVO_LoadExpressionToModel(handle, tempPath("missing.vtx").c_str()), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_LoadExpressionToModel(handle, nullptr), TAVO_ERR_GENERAL);
    EXPECT_TRUE(regionListsBitwiseEqual(before, modelOf(handle).regions));
}

TEST_F(MorphTest, LoadingWithAnInvalidHandleGivesMinus4) {
    const std::string path = tempPath("valid.vtx");
    writeBytesToFile(path, vertexFileBytes({{{1, 2, 3}}}));
    EXPECT_EQ(TAVO_LoadExpressionToModel(-1, path.c_str()), TAVO_ERR_INVALID_HANDLE);
    EXPECT_EQ(TAVO_LoadExpressionToModel(0, path.c_str()), TAVO_ERR_INVALID_HANDLE);
    EXPECT_EQ(TAVO_LoadExpressionToModel(0, nullptr), TAVO_ERR_INVALID_HANDLE);
}

TEST_F(MorphTest, LoadedVertexFileWorksAsAMorph) {
    std::mt19937 rng(26);
    const int32_t handle = headModel(rng);
    VertexLists blocks = getVertexLists(modelOf(handle));
    for (auto &block : blocks)
        for (TVector3f &v : block) v = {0.01f, -0.02f, 0.03f};
    const std::string path = tempPath("morph.vtx");
    writeBytesToFile(path, vertexFileBytes(blocks));
    const int32_t morph = newModel();
    ASSERT_EQ(TAVO_LoadExpressionToModel(morph, path.c_str()), TAVO_OK);
    VertexLists expected = getVertexLists(modelOf(handle));
    for (std::size_t r = 0; r < expected.size(); ++r)
        for (std::size_t j = 0; j < expected[r].size(); ++j) expected[r][j] = moved(expected[r][j], blocks[r][j], 1.0f);
    pinExpected(expected);
    ASSERT_EQ(TAVO_ApplyMorph(handle, morph, 1.0f), TAVO_OK);
    EXPECT_TRUE(vertexListsBitwiseEqual(expected, getVertexLists(modelOf(handle))));
}

}  // namespace
}  // namespace kelmo::test
