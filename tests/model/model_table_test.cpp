// Part 2.2: the model table, the model life cycle and the accessors.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "frame/library_state.h"
#include "kelmo.h"
#include "model/model_table.h"
#include "support/model_support.h"

namespace {

using kelmo::libraryState;
using kelmo::resolveModel;
using kelmo::TModel;
using kelmo::TRegion;
using kelmo::test::regionListsBitwiseEqual;

ImageHandle makeImage(int32_t width, int32_t height, uint8_t seed) {
    std::vector<uint8_t> pixels(static_cast<std::size_t>(width * height * 3));
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(seed + 13 * i);
    ImageHandle image = -1;
    EXPECT_EQ(TAVO_LoadImageFromBuffer(&image, pixels.data(), width, height, width * 3, TAVO_IMAGEMODE_COLOR),
              TAVOIMG_OK);
    return image;
}

std::vector<uint8_t> pixelsOf(ImageHandle image) {
    int32_t size = 0;
    EXPECT_EQ(TAVO_GetImageBufferSize(image, &size, TAVO_IMAGEMODE_COLOR), TAVOIMG_OK);
    std::vector<uint8_t> pixels(static_cast<std::size_t>(size));
    EXPECT_EQ(TAVO_SaveImageToBuffer(image, pixels.data(), TAVO_IMAGEMODE_COLOR), TAVOIMG_OK);
    return pixels;
}

bool imageExists(ImageHandle image) {
    int32_t width = 0;
    return TAVO_GetImageWidth(image, &width) == TAVOIMG_OK;
}

// Every test starts and ends with an empty model table and three shared images
// of its own, so that the order of the tests does not matter.
class ModelTable : public ::testing::Test {
protected:
    void SetUp() override {
        kelmo::destroyAllModels();
        lower_ = makeImage(2, 1, 10);
        upper_ = makeImage(1, 2, 20);
        sock_ = makeImage(3, 3, 30);
        libraryState().lowerTeethImage = lower_;
        libraryState().upperTeethImage = upper_;
        libraryState().sockImage = sock_;
    }
    void TearDown() override {
        kelmo::destroyAllModels();
        libraryState().lowerTeethImage = -1;
        libraryState().upperTeethImage = -1;
        libraryState().sockImage = -1;
        TAVO_FreeImage(lower_);
        TAVO_FreeImage(upper_);
        TAVO_FreeImage(sock_);
    }

    int32_t createModel(int32_t disableMask = 0) {
        int32_t handle = -99;
        EXPECT_EQ(TAVO_InitModel(&handle, disableMask), TAVO_OK);
        return handle;
    }

    static std::size_t tableLength() { return libraryState().models.size(); }

    // A model with `count` regions of random content and every copied member
    // set to values that differ from a new model's.
    int32_t createFilledModel(int regionCount, unsigned seed) {
        const int32_t handle = createModel();
        TModel *model = resolveModel(handle);
        std::mt19937 rng(seed);
        for (int r = 0; r < regionCount; ++r) model->regions.push_back(kelmo::test::randomRegion(rng, 3 + r, 2 + r));
        for (int i = 0; i < kelmo::kFeaturePointCount; ++i) {
            model->faceGrid[i] = {static_cast<float>(seed + i), static_cast<float>(2 * i)};
            model->featurePoints[i] = {static_cast<float>(i), static_cast<float>(seed), -static_cast<float>(i)};
            model->featureVertices[i] = static_cast<int32_t>(seed * 100 + i);
        }
        model->rotation = {1.0f * seed, 2.0f, 3.0f};
        model->scale = {4.0f, 5.0f * seed, 6.0f};
        model->deformation = {};
        for (int i = 0; i < 16; ++i) model->deformation[i] = static_cast<float>(seed + i) * 0.5f;
        model->extraRegion = static_cast<int32_t>(seed % 7);
        model->teethFromModelTexture = (seed % 2) == 0;
        model->maskUsage = (seed % 2) == 0;
        model->perspective = 10.0f + static_cast<float>(seed);
        model->expressionClass = static_cast<int32_t>(seed % 4);
        model->interpolator.centres.assign(seed % 5 + 1, TVector3f{1.0f * seed, 0, 0});
        model->interpolator.values.assign(seed % 3 + 1, TVector3f{0, 1.0f * seed, 0});
        model->interpolator.weights.assign(seed % 4 + 1, TVector3f{0, 0, 1.0f * seed});
        model->controlCount = static_cast<int32_t>(seed);
        model->controlSource.assign(seed % 6 + 1, TVector3f{2.0f * seed, 0, 0});
        model->controlTarget.assign(seed % 6 + 2, TVector3f{0, 2.0f * seed, 0});
        const ImageHandle pixels = makeImage(4, 3, static_cast<uint8_t>(seed));
        EXPECT_EQ(TAVO_CopyImage(pixels, model->texture), TAVOIMG_OK);
        TAVO_FreeImage(pixels);
        return handle;
    }

    ImageHandle lower_ = -1;
    ImageHandle upper_ = -1;
    ImageHandle sock_ = -1;
};

// ---- Handles and life cycle -------------------------------------------------

TEST_F(ModelTable, HandlesAreReusedLowestFirstAndTheTableNeverShrinks) {
    EXPECT_EQ(createModel(), 0);
    EXPECT_EQ(createModel(), 1);
    EXPECT_EQ(createModel(), 2);
    EXPECT_EQ(TAVO_FreeModel(1), TAVO_OK);
    EXPECT_EQ(tableLength(), 3u);
    EXPECT_EQ(createModel(), 1);
    EXPECT_EQ(TAVO_FreeModel(0), TAVO_OK);
    EXPECT_EQ(TAVO_FreeModel(1), TAVO_OK);
    EXPECT_EQ(tableLength(), 3u);
    EXPECT_EQ(createModel(), 0);
    EXPECT_EQ(createModel(), 1);
    EXPECT_EQ(tableLength(), 3u);
    EXPECT_EQ(createModel(), 3);
    EXPECT_EQ(tableLength(), 4u);
}

TEST_F(ModelTable, InitModelWithNullOutPointerReturnsMinusOneAndCreatesNothing) {
    EXPECT_EQ(TAVO_InitModel(nullptr, 0), TAVO_ERR_GENERAL);
    EXPECT_EQ(tableLength(), 0u);
    EXPECT_EQ(createModel(), 0);
    EXPECT_EQ(TAVO_FreeModel(0), TAVO_OK);
    EXPECT_EQ(TAVO_InitModel(nullptr, 1), TAVO_ERR_GENERAL);
    EXPECT_EQ(tableLength(), 1u);
    EXPECT_EQ(resolveModel(0), nullptr);
}

TEST_F(ModelTable, MaskFlagZeroGivesMaskUsageOneFlagFiveGivesZeroAndSetMaskUsageOneSetsOne) {
    const int32_t enabled = createModel(0);
    const int32_t disabled = createModel(5);
    EXPECT_TRUE(resolveModel(enabled)->maskUsage);
    EXPECT_FALSE(resolveModel(disabled)->maskUsage);
    EXPECT_EQ(TAVO_SetModelMaskUsage(disabled, true), TAVO_OK);
    EXPECT_TRUE(resolveModel(disabled)->maskUsage);
    EXPECT_EQ(TAVO_SetModelMaskUsage(enabled, false), TAVO_OK);
    EXPECT_FALSE(resolveModel(enabled)->maskUsage);
}

TEST_F(ModelTable, MaskFlagMinusOneAlsoDisablesTheMask) {
    EXPECT_FALSE(resolveModel(createModel(-1))->maskUsage);
}

TEST_F(ModelTable, InitModelCopiesTheSharedImageHandlesAndSetsTeethFromModelTexture) {
    const TModel *model = resolveModel(createModel());
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->lowerTeethImage, lower_);
    EXPECT_EQ(model->upperTeethImage, upper_);
    EXPECT_EQ(model->sockImage, sock_);
    EXPECT_TRUE(model->teethFromModelTexture);
}

TEST_F(ModelTable, InitModelGivesAnEmptyModelWithItsOwnEmptyTexture) {
    const TModel *model = resolveModel(createModel());
    ASSERT_NE(model, nullptr);
    EXPECT_TRUE(model->regions.empty());
    int32_t width = -1;
    ASSERT_EQ(TAVO_GetImageWidth(model->texture, &width), TAVOIMG_OK);
    EXPECT_EQ(width, 0);
    EXPECT_NE(model->texture, lower_);
    EXPECT_NE(model->texture, upper_);
    EXPECT_NE(model->texture, sock_);
}

TEST_F(ModelTable, FreeModelWithMinusOneTheTableLengthOrAFreedHandleReturnsMinusFour) {
    createModel();
    createModel();
    EXPECT_EQ(TAVO_FreeModel(-1), TAVO_ERR_INVALID_HANDLE);
    EXPECT_EQ(TAVO_FreeModel(static_cast<int32_t>(tableLength())), TAVO_ERR_INVALID_HANDLE);
    EXPECT_EQ(TAVO_FreeModel(INT32_MIN), TAVO_ERR_INVALID_HANDLE);
    EXPECT_EQ(TAVO_FreeModel(INT32_MAX), TAVO_ERR_INVALID_HANDLE);
    EXPECT_EQ(TAVO_FreeModel(0), TAVO_OK);
    EXPECT_EQ(TAVO_FreeModel(0), TAVO_ERR_INVALID_HANDLE);
    EXPECT_NE(resolveModel(1), nullptr);
    EXPECT_EQ(tableLength(), 2u);
}

TEST_F(ModelTable, FreeModelReleasesTheTextureButNotTheSharedImages) {
    const int32_t handle = createModel();
    const ImageHandle texture = resolveModel(handle)->texture;
    EXPECT_EQ(TAVO_FreeModel(handle), TAVO_OK);
    EXPECT_FALSE(imageExists(texture));
    EXPECT_TRUE(imageExists(lower_));
    EXPECT_TRUE(imageExists(upper_));
    EXPECT_TRUE(imageExists(sock_));
}

TEST_F(ModelTable, FreeModelLeavesTheOtherModelsAtTheirHandles) {
    const int32_t first = createFilledModel(2, 1);
    const int32_t second = createFilledModel(3, 2);
    const TModel *secondModel = resolveModel(second);
    EXPECT_EQ(TAVO_FreeModel(first), TAVO_OK);
    EXPECT_EQ(resolveModel(second), secondModel);
    EXPECT_EQ(secondModel->regions.size(), 3u);
}

TEST_F(ModelTable, ResolveModelAcceptsExactlyTheNonEmptySlotsBelowTheTableLength) {
    createModel();
    createModel();
    createModel();
    EXPECT_EQ(TAVO_FreeModel(1), TAVO_OK);
    EXPECT_EQ(resolveModel(-1), nullptr);
    EXPECT_NE(resolveModel(0), nullptr);
    EXPECT_EQ(resolveModel(1), nullptr);
    EXPECT_NE(resolveModel(2), nullptr);
    EXPECT_EQ(resolveModel(3), nullptr);
    EXPECT_EQ(resolveModel(INT32_MAX), nullptr);
}

TEST_F(ModelTable, SetModelMaskUsageWithAnInvalidHandleReturnsMinusFour) {
    const int32_t handle = createModel();
    createModel();
    EXPECT_EQ(TAVO_FreeModel(1), TAVO_OK);
    EXPECT_EQ(TAVO_SetModelMaskUsage(-1, true), TAVO_ERR_INVALID_HANDLE);
    EXPECT_EQ(TAVO_SetModelMaskUsage(static_cast<int32_t>(tableLength()), true), TAVO_ERR_INVALID_HANDLE);
    EXPECT_EQ(TAVO_SetModelMaskUsage(1, true), TAVO_ERR_INVALID_HANDLE);
    EXPECT_TRUE(resolveModel(handle)->maskUsage);
}

TEST_F(ModelTable, DestroyAllModelsEmptiesTheTableReleasesTexturesAndRestartsAtHandleZero) {
    createModel();
    createModel();
    createModel();
    createModel();
    createModel();
    createModel();
    std::vector<ImageHandle> textures;
    for (int32_t handle : {0, 2, 5}) textures.push_back(resolveModel(handle)->texture);
    for (int32_t handle : {1, 3, 4}) EXPECT_EQ(TAVO_FreeModel(handle), TAVO_OK);
    kelmo::destroyAllModels();
    EXPECT_EQ(tableLength(), 0u);
    for (ImageHandle texture : textures) EXPECT_FALSE(imageExists(texture));
    EXPECT_EQ(createModel(), 0);
    kelmo::destroyAllModels();
    kelmo::destroyAllModels();
    EXPECT_EQ(tableLength(), 0u);
}

// ---- Copying ------------------------------------------------------------------

TEST_F(ModelTable, CopyingAModelWithNineRegionsOntoOneWithFiveGivesNine) {
    const int32_t source = createFilledModel(9, 3);
    const int32_t destination = createFilledModel(5, 4);
    ASSERT_EQ(TAVO_CopyModel(source, destination), TAVO_OK);
    EXPECT_EQ(resolveModel(destination)->regions.size(), 9u);
    EXPECT_TRUE(regionListsBitwiseEqual(resolveModel(source)->regions, resolveModel(destination)->regions));
}

TEST_F(ModelTable, CopyingAModelWithFiveRegionsOntoOneWithNineLeavesFive) {
    const int32_t source = createFilledModel(5, 5);
    const int32_t destination = createFilledModel(9, 6);
    ASSERT_EQ(TAVO_CopyModel(source, destination), TAVO_OK);
    EXPECT_EQ(resolveModel(destination)->regions.size(), 5u);
    EXPECT_TRUE(regionListsBitwiseEqual(resolveModel(source)->regions, resolveModel(destination)->regions));
}

TEST_F(ModelTable, CopyingAModelWithoutRegionsLeavesTheDestinationWithoutRegions) {
    const int32_t source = createModel();
    const int32_t destination = createFilledModel(4, 7);
    ASSERT_EQ(TAVO_CopyModel(source, destination), TAVO_OK);
    EXPECT_TRUE(resolveModel(destination)->regions.empty());
}

TEST_F(ModelTable, CopyLeavesTheDestinationsPerspectiveUnchanged) {
    const int32_t source = createFilledModel(2, 8);
    const int32_t destination = createModel();
    resolveModel(destination)->perspective = 35.5f;  // what TAVO_SetModelPerspective stores (Part 4.1)
    ASSERT_EQ(TAVO_CopyModel(source, destination), TAVO_OK);
    EXPECT_EQ(resolveModel(destination)->perspective, 35.5f);
}

TEST_F(ModelTable, CopyCopiesFaceGridRotationScaleFlagsDeformationFeaturePointsAndExtraRegion) {
    const int32_t source = createFilledModel(3, 9);
    const int32_t destination = createFilledModel(1, 10);
    const TModel &from = *resolveModel(source);
    const TModel &to = *resolveModel(destination);
    ASSERT_NE(from.teethFromModelTexture, to.teethFromModelTexture);  // the seeds differ in parity
    ASSERT_EQ(TAVO_CopyModel(source, destination), TAVO_OK);
    for (int i = 0; i < kelmo::kFeaturePointCount; ++i) {
        EXPECT_EQ(to.faceGrid[i].x, from.faceGrid[i].x);
        EXPECT_EQ(to.faceGrid[i].y, from.faceGrid[i].y);
        EXPECT_EQ(to.featurePoints[i].x, from.featurePoints[i].x);
        EXPECT_EQ(to.featurePoints[i].y, from.featurePoints[i].y);
        EXPECT_EQ(to.featurePoints[i].z, from.featurePoints[i].z);
    }
    EXPECT_EQ(to.featureVertices, from.featureVertices);
    EXPECT_EQ(to.rotation, from.rotation);
    EXPECT_EQ(to.scale, from.scale);
    EXPECT_EQ(to.teethFromModelTexture, from.teethFromModelTexture);
    EXPECT_EQ(to.maskUsage, from.maskUsage);
    EXPECT_EQ(to.deformation, from.deformation);
    EXPECT_EQ(to.extraRegion, from.extraRegion);
}

TEST_F(ModelTable, CopyKeepsTheDestinationsExpressionClassInterpolatorControlPointsAndSharedImages) {
    const int32_t source = createFilledModel(3, 11);
    const int32_t destination = createFilledModel(2, 14);
    TModel &to = *resolveModel(destination);
    to.lowerTeethImage = 101;
    to.upperTeethImage = 102;
    to.sockImage = 103;
    const int32_t expressionClass = to.expressionClass;
    const auto centres = to.interpolator.centres.size();
    const auto values = to.interpolator.values.size();
    const auto weights = to.interpolator.weights.size();
    const int32_t controlCount = to.controlCount;
    const auto controlSource = to.controlSource.size();
    const auto controlTarget = to.controlTarget.size();
    const float perspective = to.perspective;
    ASSERT_EQ(TAVO_CopyModel(source, destination), TAVO_OK);
    EXPECT_EQ(to.expressionClass, expressionClass);
    EXPECT_EQ(to.interpolator.centres.size(), centres);
    EXPECT_EQ(to.interpolator.centres[0].x, 14.0f);
    EXPECT_EQ(to.interpolator.values.size(), values);
    EXPECT_EQ(to.interpolator.weights.size(), weights);
    EXPECT_EQ(to.controlCount, controlCount);
    EXPECT_EQ(to.controlSource.size(), controlSource);
    EXPECT_EQ(to.controlSource[0].x, 28.0f);
    EXPECT_EQ(to.controlTarget.size(), controlTarget);
    EXPECT_EQ(to.perspective, perspective);
    EXPECT_EQ(to.lowerTeethImage, 101);
    EXPECT_EQ(to.upperTeethImage, 102);
    EXPECT_EQ(to.sockImage, 103);
    // The source's differ, so keeping is not copying by chance.
    const TModel &from = *resolveModel(source);
    EXPECT_NE(from.expressionClass, expressionClass);
    EXPECT_NE(from.controlCount, controlCount);
    EXPECT_NE(from.interpolator.centres.size(), centres);
}

TEST_F(ModelTable, CopyGivesTheDestinationItsOwnTextureHandleHoldingTheSourcesPixels) {
    const int32_t source = createFilledModel(1, 12);
    const int32_t destination = createModel();
    const ImageHandle sourceTexture = resolveModel(source)->texture;
    const ImageHandle destinationTexture = resolveModel(destination)->texture;
    const std::vector<uint8_t> sourcePixels = pixelsOf(sourceTexture);
    ASSERT_EQ(TAVO_CopyModel(source, destination), TAVO_OK);
    EXPECT_EQ(resolveModel(destination)->texture, destinationTexture);
    EXPECT_EQ(resolveModel(source)->texture, sourceTexture);
    int32_t width = 0;
    int32_t height = 0;
    ASSERT_EQ(TAVO_GetImageWidth(destinationTexture, &width), TAVOIMG_OK);
    ASSERT_EQ(TAVO_GetImageHeight(destinationTexture, &height), TAVOIMG_OK);
    EXPECT_EQ(width, 4);
    EXPECT_EQ(height, 3);
    EXPECT_EQ(pixelsOf(destinationTexture), sourcePixels);
    // Independent images: freeing the source leaves the copy intact.
    EXPECT_EQ(TAVO_FreeModel(source), TAVO_OK);
    EXPECT_EQ(pixelsOf(destinationTexture), sourcePixels);
}

TEST_F(ModelTable, CopiedRegionsDoNotShareStorageWithTheSource) {
    const int32_t source = createFilledModel(2, 13);
    const int32_t destination = createModel();
    ASSERT_EQ(TAVO_CopyModel(source, destination), TAVO_OK);
    const std::vector<TRegion> copied = resolveModel(destination)->regions;
    resolveModel(source)->regions[0].vertices[0].x = 1.0e9f;
    resolveModel(source)->regions[1].quads[0][0] = 0;
    resolveModel(source)->regions.clear();
    EXPECT_TRUE(regionListsBitwiseEqual(copied, resolveModel(destination)->regions));
}

TEST_F(ModelTable, CopyingAModelOntoItselfChangesNothing) {
    const int32_t handle = createFilledModel(4, 15);
    const TModel &model = *resolveModel(handle);
    const std::vector<TRegion> regions = model.regions;
    const auto faceGrid = model.faceGrid;
    const auto featureVertices = model.featureVertices;
    const auto deformation = model.deformation;
    const ImageHandle texture = model.texture;
    const std::vector<uint8_t> pixels = pixelsOf(texture);
    ASSERT_EQ(TAVO_CopyModel(handle, handle), TAVO_OK);
    EXPECT_TRUE(regionListsBitwiseEqual(regions, model.regions));
    EXPECT_EQ(std::memcmp(faceGrid.data(), model.faceGrid.data(), sizeof(faceGrid)), 0);
    EXPECT_EQ(model.featureVertices, featureVertices);
    EXPECT_EQ(model.deformation, deformation);
    EXPECT_EQ(model.featurePoints.size(), 66u);
    EXPECT_EQ(model.texture, texture);
    EXPECT_EQ(pixelsOf(texture), pixels);
}

TEST_F(ModelTable, CopyWithAnInvalidSourceOrDestinationReturnsMinusFourAndChangesNothing) {
    const int32_t source = createFilledModel(3, 16);
    const int32_t destination = createFilledModel(2, 17);
    createModel();
    EXPECT_EQ(TAVO_FreeModel(2), TAVO_OK);
    const std::vector<TRegion> before = resolveModel(destination)->regions;
    const std::vector<uint8_t> pixels = pixelsOf(resolveModel(destination)->texture);
    for (int32_t invalid : {-1, 2, 3, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(TAVO_CopyModel(invalid, destination), TAVO_ERR_INVALID_HANDLE) << invalid;
        EXPECT_EQ(TAVO_CopyModel(source, invalid), TAVO_ERR_INVALID_HANDLE) << invalid;
        EXPECT_EQ(TAVO_CopyModel(invalid, invalid), TAVO_ERR_INVALID_HANDLE) << invalid;
    }
    EXPECT_TRUE(regionListsBitwiseEqual(before, resolveModel(destination)->regions));
    EXPECT_EQ(pixelsOf(resolveModel(destination)->texture), pixels);
    EXPECT_EQ(resolveModel(destination)->extraRegion, 17 % 7);
    EXPECT_EQ(tableLength(), 3u);
}

// ---- Accessors: results -----------------------------------------------------

TEST_F(ModelTable, GetModelNumRegionsStoresTheRegionCount) {
    const int32_t handle = createFilledModel(7, 18);
    int32_t count = -1;
    ASSERT_EQ(TAVO_GetModelNumRegions(handle, &count), TAVO_OK);
    EXPECT_EQ(count, 7);
    ASSERT_EQ(TAVO_GetModelNumRegions(createModel(), &count), TAVO_OK);
    EXPECT_EQ(count, 0);
}

TEST_F(ModelTable, CountAccessorsStoreTheRegionsVertexAndQuadCounts) {
    const int32_t handle = createFilledModel(4, 19);
    const TModel &model = *resolveModel(handle);
    for (int32_t region = 0; region < 4; ++region) {
        int32_t vertices = -1;
        int32_t quads = -1;
        ASSERT_EQ(TAVO_GetModelNumVertices(handle, region, &vertices), TAVO_OK);
        ASSERT_EQ(TAVO_GetModelRegionNumQuads(handle, region, &quads), TAVO_OK);
        EXPECT_EQ(vertices, 3 + region);
        EXPECT_EQ(quads, 2 + region);
        EXPECT_EQ(static_cast<std::size_t>(vertices), model.regions[region].vertices.size());
    }
}

TEST_F(ModelTable, GetModelNumVerticesWithRegionMinusOneOrEqualToTheRegionCountReturnsMinusOne) {
    const int32_t handle = createFilledModel(3, 20);
    int32_t count = 1234;
    EXPECT_EQ(TAVO_GetModelNumVertices(handle, -1, &count), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_GetModelNumVertices(handle, 3, &count), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_GetModelNumVertices(handle, INT32_MAX, &count), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_GetModelNumVertices(handle, INT32_MIN, &count), TAVO_ERR_GENERAL);
    EXPECT_EQ(count, 1234);
}

TEST_F(ModelTable, SetModelRegionVerticesThenGetReturnsTheWrittenCoordinatesUnchanged) {
    const int32_t handle = createFilledModel(3, 21);
    std::mt19937 rng(99);
    const std::size_t count = resolveModel(handle)->regions[1].vertices.size();
    std::vector<TVector3f> written(count);
    for (TVector3f &v : written)
        v = {kelmo::test::randomBitsFloat(rng), kelmo::test::randomBitsFloat(rng), -0.0f};
    written[0] = {1.0e-45f, -3.5f, 1.0e38f};  // a denormal and a large value
    const std::vector<TRegion> before = resolveModel(handle)->regions;
    ASSERT_EQ(TAVO_SetModelRegionVertices(handle, 1, written.data()), TAVO_OK);
    std::vector<TVector3f> read(count + 1, TVector3f{7.0f, 7.0f, 7.0f});
    ASSERT_EQ(TAVO_GetModelRegionVertices(handle, 1, read.data()), TAVO_OK);
    EXPECT_EQ(std::memcmp(read.data(), written.data(), count * sizeof(TVector3f)), 0);
    EXPECT_EQ(read[count].x, 7.0f);  // nothing written past the region's count
    // Only the vertices of region 1 changed.
    const TModel &model = *resolveModel(handle);
    EXPECT_EQ(model.regions[1].vertices.size(), count);
    EXPECT_TRUE(kelmo::test::regionsBitwiseEqual(model.regions[0], before[0]));
    EXPECT_TRUE(kelmo::test::regionsBitwiseEqual(model.regions[2], before[2]));
    EXPECT_EQ(model.regions[1].quads, before[1].quads);
}

TEST_F(ModelTable, GetModelRegionVerticesWritesEveryVertexInOrder) {
    const int32_t handle = createFilledModel(2, 22);
    const std::vector<TVector3f> &vertices = resolveModel(handle)->regions[1].vertices;
    std::vector<TVector3f> out(vertices.size());
    ASSERT_EQ(TAVO_GetModelRegionVertices(handle, 1, out.data()), TAVO_OK);
    EXPECT_EQ(std::memcmp(out.data(), vertices.data(), vertices.size() * sizeof(TVector3f)), 0);
}

TEST_F(ModelTable, GetModelRegionQuadsWritesFourVertexIndicesPerQuadInOrder) {
    const int32_t handle = createModel();
    TRegion region;
    region.vertices.resize(10);
    region.quads = {{0, 1, 2, 3}, {4, 5, 6, 7}, {9, 8, 7, 6}};
    region.textureQuads = {{0, 0, 0, 0}, {1, 1, 1, 1}, {2, 2, 2, 2}};
    resolveModel(handle)->regions = {TRegion{}, region};
    std::vector<int32_t> out(13, -7);
    ASSERT_EQ(TAVO_GetModelRegionQuads(handle, 1, out.data()), TAVO_OK);
    EXPECT_EQ(out, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 9, 8, 7, 6, -7}));
}

TEST_F(ModelTable, AccessorsOfARegionWithoutVerticesOrQuadsWriteNothingAndReturnZero) {
    const int32_t handle = createModel();
    resolveModel(handle)->regions.resize(2);
    int32_t count = -5;
    EXPECT_EQ(TAVO_GetModelNumVertices(handle, 1, &count), TAVO_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(TAVO_GetModelRegionNumQuads(handle, 1, &count), TAVO_OK);
    EXPECT_EQ(count, 0);
    TVector3f vertex{5.0f, 6.0f, 7.0f};
    int32_t quad = 42;
    EXPECT_EQ(TAVO_GetModelRegionVertices(handle, 1, &vertex), TAVO_OK);
    EXPECT_EQ(TAVO_SetModelRegionVertices(handle, 1, &vertex), TAVO_OK);
    EXPECT_EQ(TAVO_GetModelRegionQuads(handle, 1, &quad), TAVO_OK);
    EXPECT_EQ(vertex.x, 5.0f);
    EXPECT_EQ(quad, 42);
    EXPECT_TRUE(resolveModel(handle)->regions[1].vertices.empty());
}

TEST_F(ModelTable, GetModel3DPointsWritesThe66FeaturePointsInOrder) {
    const int32_t handle = createFilledModel(1, 23);
    std::vector<TVector3f> out(67, TVector3f{-1.0f, -1.0f, -1.0f});
    ASSERT_EQ(TAVO_GetModel3DPoints(handle, out.data()), TAVO_OK);
    for (int i = 0; i < 66; ++i) {
        EXPECT_EQ(out[i].x, static_cast<float>(i));
        EXPECT_EQ(out[i].y, 23.0f);
        EXPECT_EQ(out[i].z, -static_cast<float>(i));
    }
    EXPECT_EQ(out[66].x, -1.0f);
}

// ---- Accessors: check order, for every accessor -------------------------------

// One accessor called with a handle, a region and either a real buffer or null.
struct Accessor {
    const char *name;
    bool takesRegion;
    std::function<int32_t(int32_t handle, int32_t region, bool nullPointer)> call;
};

std::vector<Accessor> allAccessors() {
    // Buffers large enough for any region of the fixtures.
    static std::vector<TVector3f> vertexBuffer(1000);
    static std::vector<int32_t> intBuffer(4000);
    static int32_t count = 0;
    return {
        {"GetModelNumRegions", false,
         [](int32_t h, int32_t, bool n) { return TAVO_GetModelNumRegions(h, n ? nullptr : &count); }},
        {"GetModelNumVertices", true,
         [](int32_t h, int32_t r, bool n) { return TAVO_GetModelNumVertices(h, r, n ? nullptr : &count); }},
        {"GetModelRegionVertices", true,
         [](int32_t h, int32_t r, bool n) {
             return TAVO_GetModelRegionVertices(h, r, n ? nullptr : vertexBuffer.data());
         }},
        {"SetModelRegionVertices", true,
         [](int32_t h, int32_t r, bool n) {
             return TAVO_SetModelRegionVertices(h, r, n ? nullptr : vertexBuffer.data());
         }},
        {"GetModelRegionNumQuads", true,
         [](int32_t h, int32_t r, bool n) { return TAVO_GetModelRegionNumQuads(h, r, n ? nullptr : &count); }},
        {"GetModelRegionQuads", true,
         [](int32_t h, int32_t r, bool n) {
             return TAVO_GetModelRegionQuads(h, r, n ? nullptr : intBuffer.data());
         }},
        {"GetModel3DPoints", false,
         [](int32_t h, int32_t, bool n) { return TAVO_GetModel3DPoints(h, n ? nullptr : vertexBuffer.data()); }},
    };
}

class ModelTableChecks : public ModelTable {
protected:
    void SetUp() override {
        ModelTable::SetUp();
        valid_ = createFilledModel(3, 24);
        freed_ = createModel();
        createModel();
        ASSERT_EQ(TAVO_FreeModel(freed_), TAVO_OK);
        before_ = resolveModel(valid_)->regions;
    }
    std::vector<int32_t> invalidHandles() const {
        return {-1, static_cast<int32_t>(tableLength()), freed_, INT32_MIN, INT32_MAX};
    }
    void expectValidModelUnchanged() {
        EXPECT_TRUE(regionListsBitwiseEqual(before_, resolveModel(valid_)->regions));
    }
    int32_t valid_ = -1;
    int32_t freed_ = -1;
    std::vector<TRegion> before_;
};

TEST_F(ModelTableChecks, EveryAccessorWithAValidHandleAndRegionReturnsZero) {
    for (const Accessor &accessor : allAccessors())
        EXPECT_EQ(accessor.call(valid_, 2, false), TAVO_OK) << accessor.name;
}

TEST_F(ModelTableChecks, EveryAccessorWithAnInvalidHandleReturnsMinusFour) {
    for (const Accessor &accessor : allAccessors())
        for (int32_t handle : invalidHandles())
            EXPECT_EQ(accessor.call(handle, 0, false), TAVO_ERR_INVALID_HANDLE) << accessor.name << " " << handle;
    expectValidModelUnchanged();
}

TEST_F(ModelTableChecks, EveryAccessorWithANullPointerReturnsMinusOne) {
    for (const Accessor &accessor : allAccessors())
        EXPECT_EQ(accessor.call(valid_, 0, true), TAVO_ERR_GENERAL) << accessor.name;
    expectValidModelUnchanged();
}

TEST_F(ModelTableChecks, ANullPointerWithAnInvalidHandleReturnsMinusOne) {
    for (const Accessor &accessor : allAccessors())
        for (int32_t handle : invalidHandles())
            EXPECT_EQ(accessor.call(handle, 0, true), TAVO_ERR_GENERAL) << accessor.name << " " << handle;
}

TEST_F(ModelTableChecks, ANegativeRegionReturnsMinusOneWithAValidOrAnInvalidHandle) {
    for (const Accessor &accessor : allAccessors()) {
        if (!accessor.takesRegion) continue;
        for (int32_t region : {-1, INT32_MIN}) {
            EXPECT_EQ(accessor.call(valid_, region, false), TAVO_ERR_GENERAL) << accessor.name;
            for (int32_t handle : invalidHandles())
                EXPECT_EQ(accessor.call(handle, region, false), TAVO_ERR_GENERAL) << accessor.name << " " << handle;
        }
    }
    expectValidModelUnchanged();
}

TEST_F(ModelTableChecks, ARegionNotBelowTheRegionCountReturnsMinusOneWithAValidHandle) {
    for (const Accessor &accessor : allAccessors()) {
        if (!accessor.takesRegion) continue;
        for (int32_t region : {3, 4, INT32_MAX})
            EXPECT_EQ(accessor.call(valid_, region, false), TAVO_ERR_GENERAL) << accessor.name << " " << region;
    }
    expectValidModelUnchanged();
}

TEST_F(ModelTableChecks, ARegionTooLargeWithAnInvalidHandleReturnsMinusFour) {
    for (const Accessor &accessor : allAccessors()) {
        if (!accessor.takesRegion) continue;
        for (int32_t handle : invalidHandles())
            EXPECT_EQ(accessor.call(handle, 3, false), TAVO_ERR_INVALID_HANDLE) << accessor.name << " " << handle;
    }
}

TEST_F(ModelTableChecks, FailingCountAccessorsLeaveTheCountUntouched) {
    int32_t count = 4321;
    EXPECT_EQ(TAVO_GetModelNumRegions(-1, &count), TAVO_ERR_INVALID_HANDLE);
    EXPECT_EQ(TAVO_GetModelNumVertices(valid_, 3, &count), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_GetModelRegionNumQuads(freed_, 0, &count), TAVO_ERR_INVALID_HANDLE);
    EXPECT_EQ(count, 4321);
}

}  // namespace
