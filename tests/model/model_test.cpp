// Part 2.1: TRegion and TModel construction, copy and destruction.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "model/model.h"
#include "support/model_support.h"

namespace {

using kelmo::TModel;
using kelmo::TRegion;

TEST(TModel, NewModelHasNoRegionsAndAValidEmptyTextureImage) {
    TModel model;
    EXPECT_TRUE(model.regions.empty());
    int32_t width = -1;
    int32_t height = -1;
    ASSERT_EQ(TAVO_GetImageWidth(model.texture, &width), TAVOIMG_OK);
    ASSERT_EQ(TAVO_GetImageHeight(model.texture, &height), TAVOIMG_OK);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
}

TEST(TModel, NewModelHas66ZeroFeaturePointsAnd66ZeroFeatureVertexIndices) {
    TModel model;
    ASSERT_EQ(model.featurePoints.size(), 66u);
    for (const TVector3f &point : model.featurePoints) {
        EXPECT_EQ(point.x, 0.0f);
        EXPECT_EQ(point.y, 0.0f);
        EXPECT_EQ(point.z, 0.0f);
    }
    EXPECT_EQ(model.featureVertices, std::vector<int32_t>(66, 0));
}

TEST(TModel, NewModelHasRotationZeroScaleOnePerspectiveOneAndIdentityDeformation) {
    TModel model;
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_EQ(model.rotation[axis], 0.0f);
        EXPECT_EQ(model.scale[axis], 1.0f);
    }
    EXPECT_EQ(model.perspective, 1.0f);
    // Column by column: element i is column i / 4, row i % 4; 1 on the diagonal.
    for (int i = 0; i < 16; ++i) EXPECT_EQ(model.deformation[i], (i / 4 == i % 4) ? 1.0f : 0.0f) << i;
}

TEST(TModel, NewModelHasNoExtraRegionAndEmptyInterpolatorAndControlPoints) {
    TModel model;
    EXPECT_EQ(model.extraRegion, -1);
    EXPECT_TRUE(model.interpolator.centres.empty());
    EXPECT_TRUE(model.interpolator.values.empty());
    EXPECT_TRUE(model.interpolator.weights.empty());
    EXPECT_TRUE(model.controlSource.empty());
    EXPECT_TRUE(model.controlTarget.empty());
}

TEST(TModel, NewModelDoesNotOwnOrNameAnySharedImage) {
    // The shared handles are set by TAVO_InitModel (Part 2.2), not construction.
    TModel model;
    EXPECT_EQ(model.lowerTeethImage, -1);
    EXPECT_EQ(model.upperTeethImage, -1);
    EXPECT_EQ(model.sockImage, -1);
}

TEST(TModel, TwoModelsOwnDistinctTextureImages) {
    TModel first;
    TModel second;
    EXPECT_NE(first.texture, second.texture);
}

TEST(TModel, DestroyingAModelWhoseTextureIsStillEmptySucceedsAndReleasesTheTexture) {
    auto model = std::make_unique<TModel>();
    const ImageHandle texture = model->texture;
    model.reset();
    int32_t width = 0;
    EXPECT_EQ(TAVO_GetImageWidth(texture, &width), TAVOIMG_ERR_HANDLE);
}

TEST(TModel, DestroyingAModelReleasesAFilledTextureButNoSharedImage) {
    ImageHandle shared = -1;
    const uint8_t pixels[3] = {1, 2, 3};
    ASSERT_EQ(TAVO_LoadImageFromBuffer(&shared, pixels, 1, 1, 3, TAVO_IMAGEMODE_COLOR), TAVOIMG_OK);
    auto model = std::make_unique<TModel>();
    ASSERT_EQ(TAVO_CopyImage(shared, model->texture), TAVOIMG_OK);
    model->lowerTeethImage = shared;
    model->upperTeethImage = shared;
    model->sockImage = shared;
    const ImageHandle texture = model->texture;
    model.reset();
    int32_t width = 0;
    EXPECT_EQ(TAVO_GetImageWidth(texture, &width), TAVOIMG_ERR_HANDLE);
    EXPECT_EQ(TAVO_GetImageWidth(shared, &width), TAVOIMG_OK);
    EXPECT_EQ(width, 1);
    EXPECT_EQ(TAVO_FreeImage(shared), TAVOIMG_OK);
}

TEST(TRegion, DefaultRegionHasFourEmptyArrays) {
    TRegion region;
    EXPECT_TRUE(region.quads.empty());
    EXPECT_TRUE(region.textureQuads.empty());
    EXPECT_TRUE(region.vertices.empty());
    EXPECT_TRUE(region.textureCoords.empty());
}

TEST(TRegion, CopyIsDeepAndMemberByMember) {
    std::mt19937 rng(7);
    const TRegion original = kelmo::test::randomRegion(rng, 10, 6);
    TRegion copy = original;
    EXPECT_TRUE(kelmo::test::regionsBitwiseEqual(copy, original));
    copy.vertices[0].x = 12345.0f;
    copy.quads[0][0] = 9;
    copy.textureQuads[0][0] = 9;
    copy.textureCoords[0].y = -3.0f;
    EXPECT_NE(original.vertices[0].x, 12345.0f);
    EXPECT_FALSE(kelmo::test::regionsBitwiseEqual(copy, original));
    TRegion assigned;
    assigned = original;
    EXPECT_TRUE(kelmo::test::regionsBitwiseEqual(assigned, original));
}

}  // namespace
