// The model table: handles and their reuse, copying, and the region accessors.
#include "model/model_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "model/model_test_helpers.h"
#include "support/model_support.h"

namespace kelmo {
namespace {

using test::newModel;
using test::pixelsOf;

[[maybe_unused]] const auto *const kTables = ::testing::AddGlobalTestEnvironment(new test::TablesUnchanged);

// A model whose members differ from a new model's, and by `seed` from another's.
int32_t filledModel(int regionCount, int seed) {
    const int32_t handle = newModel();
    TModel &model = *resolveModel(handle);
    std::mt19937 rng(static_cast<unsigned>(seed));
    for (int r = 0; r < regionCount; ++r) model.regions.push_back(test::randomRegion(rng, 3 + r, 2 + r));
    const auto value = static_cast<float>(seed);
    model.faceGrid.fill({value, 2});
    model.featurePoints.assign(kFeaturePointCount, {value, 3, value});
    model.featureVertices.assign(kFeaturePointCount, seed);
    model.rotation = model.scale = {value, 2, 3};
    model.deformation.fill(value);
    model.extraRegion = model.controlCount = seed;
    model.teethFromModelTexture = model.maskUsage = seed % 2 == 0;
    model.perspective = 10.0f + value;
    model.expressionClass = seed % 4;
    model.interpolator.centres.assign(static_cast<std::size_t>(seed), TVector3f{value, 0, 0});
    const std::vector<uint8_t> rgb(4 * 3 * 3, static_cast<uint8_t>(seed));
    ImageHandle pixels = -1;
    EXPECT_EQ(TAVO_LoadImageFromBuffer(&pixels, rgb.data(), 4, 3, 12, TAVO_IMAGEMODE_COLOR), TAVOIMG_OK);
    EXPECT_EQ(TAVO_CopyImage(pixels, model.texture), TAVOIMG_OK);
    TAVO_FreeImage(pixels);
    return handle;
}

TEST(ModelTable, HandlesAreReusedLowestFirstAndAModelOwnsOnlyItsTexture) {
    LibraryState &state = libraryState();
    state.lowerTeethImage = 101, state.upperTeethImage = 102, state.sockImage = 103;
    for (const int32_t expected : {0, 1, 2}) EXPECT_EQ(newModel(), expected);
    state.lowerTeethImage = state.upperTeethImage = state.sockImage = -1;
    const TModel &model = *resolveModel(1);
    EXPECT_TRUE(model.lowerTeethImage == 101 && model.upperTeethImage == 102 && model.sockImage == 103);
    EXPECT_TRUE(model.teethFromModelTexture && model.regions.empty() && model.texture != resolveModel(0)->texture);
    const ImageHandle texture = model.texture;
    int32_t width = -1;
    EXPECT_EQ(TAVO_GetImageWidth(texture, &width), TAVOIMG_OK);
    EXPECT_TRUE(TAVO_FreeModel(1) == TAVO_OK && TAVO_GetImageWidth(texture, &width) != TAVOIMG_OK);
    EXPECT_EQ(newModel(), 1);
    EXPECT_TRUE(TAVO_FreeModel(0) == TAVO_OK && TAVO_FreeModel(1) == TAVO_OK);
    for (const int32_t expected : {0, 1, 3}) EXPECT_EQ(newModel(), expected);
    const ImageHandle kept = resolveModel(2)->texture;
    destroyAllModels();
    EXPECT_TRUE(state.models.empty());
    EXPECT_NE(TAVO_GetImageWidth(kept, &width), TAVOIMG_OK);
    // Only a mask flag of 0 enables the mask; handles start again at 0.
    for (const auto &[flag, enabled] : {std::pair{0, true}, std::pair{1, false}, std::pair{5, false}}) {
        const int32_t handle = newModel(flag);
        EXPECT_EQ(resolveModel(handle)->maskUsage, enabled) << flag;
        EXPECT_EQ(TAVO_SetModelMaskUsage(handle, !enabled), TAVO_OK);
        EXPECT_EQ(resolveModel(handle)->maskUsage, !enabled) << flag;
    }
    EXPECT_EQ(state.models.size(), 3u);
    destroyAllModels();
}

TEST(ModelTable, CopyTakesTheSourcesShapeAndPixelsAndKeepsTheDestinationsFittingAndCamera) {
    for (const auto &[sourceRegions, destinationRegions] : {std::pair{9, 5}, std::pair{5, 9}, std::pair{0, 4}}) {
        const int32_t source = filledModel(sourceRegions, 3), destination = filledModel(destinationRegions, 6);
        const TModel &from = *resolveModel(source), &to = *resolveModel(destination);
        const ImageHandle texture = to.texture;
        const std::vector<uint8_t> pixels = pixelsOf(from.texture);
        ASSERT_EQ(TAVO_CopyModel(source, destination), TAVO_OK);
        EXPECT_TRUE(test::regionListsBitwiseEqual(from.regions, to.regions));
        EXPECT_EQ(std::memcmp(to.faceGrid.data(), from.faceGrid.data(), sizeof(to.faceGrid)), 0);
        EXPECT_EQ(std::memcmp(to.featurePoints.data(), from.featurePoints.data(), 66 * sizeof(TVector3f)), 0);
        EXPECT_TRUE(to.featureVertices == from.featureVertices && to.rotation == from.rotation &&
                    to.scale == from.scale && to.deformation == from.deformation && to.extraRegion == 3 &&
                    to.teethFromModelTexture == from.teethFromModelTexture && to.maskUsage == from.maskUsage);
        // Kept: camera, expression, fitting, and its own texture with the source's pixels.
        EXPECT_TRUE(to.perspective == 16.0f && to.expressionClass == 2 && to.controlCount == 6 &&
                    to.interpolator.centres.size() == 6 && to.texture == texture);
        EXPECT_TRUE(TAVO_FreeModel(source) == TAVO_OK && pixelsOf(texture) == pixels);
        destroyAllModels();
    }
}

TEST(ModelTable, AccessorsReadAndWriteTheRegionsInOrderAndRefuseBadArgumentsInTheirOrder) {
    static std::vector<TVector3f> buffer(100, TVector3f{-1, -1, -1});
    static std::vector<int32_t> corners(9, -7);
    static int32_t count = -1;
    using Call = std::function<int32_t(int32_t handle, int32_t region, bool null)>;  // and if it takes a region
    const std::vector<std::pair<Call, bool>> calls = {
        {[](int32_t h, int32_t r, bool n) { return TAVO_GetModelNumVertices(h, r, n ? nullptr : &count); }, true},
        {[](int32_t h, int32_t r, bool n) { return TAVO_GetModelRegionVertices(h, r, n ? nullptr : &buffer[0]); },
         true},
        {[](int32_t h, int32_t r, bool n) { return TAVO_SetModelRegionVertices(h, r, n ? nullptr : &buffer[0]); },
         true},
        {[](int32_t h, int32_t r, bool n) { return TAVO_GetModelRegionQuads(h, r, n ? nullptr : &corners[0]); }, true},
        {[](int32_t h, int32_t r, bool n) { return TAVO_GetModelRegionNumQuads(h, r, n ? nullptr : &count); }, true},
        {[](int32_t h, int32_t, bool n) { return TAVO_GetModelNumRegions(h, n ? nullptr : &count); }, false},
        {[](int32_t h, int32_t, bool n) { return TAVO_GetModel3DPoints(h, n ? nullptr : &buffer[0]); }, false},
        {[](int32_t h, int32_t, bool n) { return TAVO_GetModelExpressionClass(h, n ? nullptr : &count); }, false}};
    const int32_t valid = filledModel(3, 5), freed = newModel();
    newModel();
    libraryState().models.shrink_to_fit();  // a handle equal to the length would read past the table
    ASSERT_EQ(TAVO_FreeModel(freed), TAVO_OK);
    TModel &model = *resolveModel(valid);
    model.regions[2].quads = {{0, 1, 2, 3}, {4, 3, 2, 1}};
    model.expressionClass = 3;  // an open smile, which the last call reads into count
    const std::vector<TRegion> before = model.regions;
    for (std::size_t k = 0; k < calls.size(); ++k) {
        if (k == 5) {  // what the region calls read of region 2
            EXPECT_TRUE(count == 2 && corners == std::vector<int32_t>({0, 1, 2, 3, 4, 3, 2, 1, -7}));
        }
        // A null pointer or a negative region fails first, then the handle, then a region past the last.
        for (const int32_t handle : {valid, -1, 3, freed, INT32_MIN, INT32_MAX}) {
            for (const int32_t region : {2, 3, -1, INT32_MIN, INT32_MAX}) {
                for (const bool null : {false, true}) {
                    const bool takesRegion = calls[k].second;
                    const int32_t expected = null || (takesRegion && region < 0) ? TAVO_ERR_GENERAL
                                             : handle != valid                   ? TAVO_ERR_INVALID_HANDLE
                                             : takesRegion && region > 2         ? TAVO_ERR_GENERAL
                                                                                 : TAVO_OK;
                    EXPECT_EQ(calls[k].first(handle, region, null), expected) << k << ": " << handle << ", " << region;
                }
            }
        }
    }
    EXPECT_TRUE(count == 3 && std::memcmp(&buffer[0], &model.featurePoints[0], 66 * sizeof(TVector3f)) == 0);
    for (const int32_t handle : {-1, 3, freed, INT32_MIN, INT32_MAX}) {
        EXPECT_TRUE(TAVO_FreeModel(handle) == TAVO_ERR_INVALID_HANDLE &&
                    TAVO_SetModelMaskUsage(handle, true) == TAVO_ERR_INVALID_HANDLE &&
                    TAVO_CopyModel(handle, valid) == TAVO_ERR_INVALID_HANDLE &&
                    TAVO_CopyModel(valid, handle) == TAVO_ERR_INVALID_HANDLE && resolveModel(handle) == nullptr)
            << handle;
    }
    EXPECT_TRUE(TAVO_InitModel(nullptr, 0) == TAVO_ERR_GENERAL && libraryState().models.size() == 3u);
    EXPECT_TRUE(test::regionListsBitwiseEqual(before, model.regions) && !model.maskUsage);
    const std::vector<TVector3f> written = {{1e-45f, -3.5f, 1e38f}, {-0.0f, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    ASSERT_EQ(TAVO_SetModelRegionVertices(valid, 1, written.data()), TAVO_OK);
    EXPECT_EQ(std::memcmp(model.regions[1].vertices.data(), written.data(), 4 * sizeof(TVector3f)), 0);
    destroyAllModels();
}

}  // namespace
}  // namespace kelmo
