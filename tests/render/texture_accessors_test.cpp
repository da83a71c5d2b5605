// Part 4.4: texture accessors.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "frame/library_state.h"
#include "kelmo.h"
#include "model/model_table.h"
#include "render/texture_accessors.h"

namespace kelmo {
namespace {

ImageHandle imageOf(int width, int height, uint8_t seed) {
    std::vector<uint8_t> pixels(static_cast<std::size_t>(width * height * 4));
    for (std::size_t k = 0; k < pixels.size(); ++k) pixels[k] = static_cast<uint8_t>(seed + 13 * k);
    ImageHandle image = -1;
    EXPECT_EQ(TAVO_LoadImageFromBuffer(&image, pixels.data(), width, height, 4 * width, TAVO_IMAGEMODE_COLOR_ALPHA),
              TAVOIMG_OK);
    return image;
}

std::vector<uint8_t> pixelsOf(ImageHandle image) {
    int32_t size = 0;
    EXPECT_EQ(TAVO_GetImageBufferSize(image, &size, TAVO_IMAGEMODE_COLOR_ALPHA), TAVOIMG_OK);
    std::vector<uint8_t> pixels(static_cast<std::size_t>(size));
    if (size > 0) {
        EXPECT_EQ(TAVO_SaveImageToBuffer(image, pixels.data(), TAVO_IMAGEMODE_COLOR_ALPHA), TAVOIMG_OK);
    }
    return pixels;
}

int32_t widthOf(ImageHandle image) {
    int32_t width = -1;
    TAVO_GetImageWidth(image, &width);
    return width;
}

// A model shaped like one made from a photo (Part 3.1): nine regions, its own
// texture, the shared teeth and sock images (images of this test).
class TextureAccessorsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(TAVO_InitModel(&handle, 1), TAVO_OK);
        model = resolveModel(handle);
        model->regions.resize(9);
        model->extraRegion = 8;
        texture = imageOf(6, 5, 1);
        ASSERT_EQ(TAVO_SetModelTexture(handle, texture), TAVO_OK);
        upperTeeth = imageOf(4, 3, 50);
        lowerTeeth = imageOf(3, 4, 90);
        sock = imageOf(2, 2, 130);
        model->upperTeethImage = upperTeeth;
        model->lowerTeethImage = lowerTeeth;
        model->sockImage = sock;
    }
    void TearDown() override {
        TAVO_FreeModel(handle);
        for (ImageHandle image : {texture, upperTeeth, lowerTeeth, sock}) TAVO_FreeImage(image);
    }
    // The image that TAVO_GetModelRegionTexture copies out, or its status.
    int32_t regionTexture(int32_t region, std::vector<uint8_t> &pixels) {
        ImageHandle out = imageOf(1, 1, 200);
        const int32_t status = TAVO_GetModelRegionTexture(handle, region, out);
        pixels = pixelsOf(out);
        TAVO_FreeImage(out);
        return status;
    }

    int32_t handle = -1;
    TModel *model = nullptr;
    ImageHandle texture = -1, upperTeeth = -1, lowerTeeth = -1, sock = -1;
};

TEST_F(TextureAccessorsTest, RegionTextureOfRegionSevenReturnsMinusTwoAndLeavesTheImageUnchanged) {
    const ImageHandle out = imageOf(1, 1, 200);
    const std::vector<uint8_t> before = pixelsOf(out);
    EXPECT_EQ(TAVO_GetModelRegionTexture(handle, 7, out), TAVO_ERR_NO_TEXTURE);
    EXPECT_EQ(TAVO_GetModelRegionTexture(handle, 6, out), TAVO_ERR_NO_TEXTURE);
    EXPECT_EQ(TAVO_GetModelRegionTexture(handle, 8, out), TAVO_ERR_NO_TEXTURE);
    EXPECT_EQ(pixelsOf(out), before);
    TAVO_FreeImage(out);
}

TEST_F(TextureAccessorsTest, RegionThreeGivesTheUpperTeethImageUntilTheTeethTakeTheModelTexture) {
    ASSERT_EQ(TAVO_ChooseTeethTextures(handle, false), TAVO_OK);
    std::vector<uint8_t> pixels;
    EXPECT_EQ(regionTexture(3, pixels), TAVO_OK);
    EXPECT_EQ(pixels, pixelsOf(upperTeeth));
    EXPECT_EQ(regionTexture(4, pixels), TAVO_OK);
    EXPECT_EQ(pixels, pixelsOf(lowerTeeth));
    ASSERT_EQ(TAVO_ChooseTeethTextures(handle, true), TAVO_OK);
    EXPECT_EQ(regionTexture(3, pixels), TAVO_OK);
    EXPECT_EQ(pixels, pixelsOf(texture));
    EXPECT_EQ(regionTexture(4, pixels), TAVO_OK);
    EXPECT_EQ(pixels, pixelsOf(texture));
}

TEST_F(TextureAccessorsTest, FaceRegionsGiveTheModelTextureAndRegionFiveTheSock) {
    std::vector<uint8_t> pixels;
    for (int32_t region : {0, 1, 2}) {
        EXPECT_EQ(regionTexture(region, pixels), TAVO_OK);
        EXPECT_EQ(pixels, pixelsOf(texture)) << region;
    }
    EXPECT_EQ(regionTexture(5, pixels), TAVO_OK);
    EXPECT_EQ(pixels, pixelsOf(sock));
}

TEST_F(TextureAccessorsTest, RegionTextureOutsideTheModelReturnsMinusOne) {
    std::vector<uint8_t> pixels;
    EXPECT_EQ(regionTexture(-1, pixels), TAVO_ERR_GENERAL);
    EXPECT_EQ(regionTexture(9, pixels), TAVO_ERR_GENERAL);
    model->regions.resize(3);
    EXPECT_EQ(regionTexture(5, pixels), TAVO_ERR_GENERAL);
    EXPECT_EQ(regionTexture(2, pixels), TAVO_OK);
}

TEST_F(TextureAccessorsTest, RegionTextureOfAMissingSharedImagePassesTheImagingStatusOn) {
    model->sockImage = -1;
    std::vector<uint8_t> pixels;
    EXPECT_EQ(regionTexture(5, pixels), TAVOIMG_ERR_HANDLE);
}

TEST_F(TextureAccessorsTest, TextureCoordsOfAVertexThatNoQuadNamesAreZero) {
    TRegion &region = model->regions[2];
    region.vertices.assign(5, TVector3f{0.0f, 0.0f, 0.0f});
    region.textureCoords = {{0.1f, 0.2f}, {0.3f, 0.4f}, {0.5f, 0.6f}, {0.7f, 0.8f}, {0.9f, 1.0f}};
    region.quads = {{0, 1, 2, 4}};
    region.textureQuads = {{4, 3, 2, 1}};
    std::vector<float> coordinates(10, -7.0f);
    ASSERT_EQ(TAVO_GetModelRegionTextureCoords(handle, 2, coordinates.data()), TAVO_OK);
    const std::vector<float> expected = {0.9f, 1.0f, 0.7f, 0.8f, 0.5f, 0.6f, 0.0f, 0.0f, 0.3f, 0.4f};
    EXPECT_EQ(coordinates, expected);
}

TEST_F(TextureAccessorsTest, TextureCoordsOfAVertexNamedByTwoQuadsComeFromTheLastQuad) {
    TRegion &region = model->regions[0];
    region.vertices.assign(4, TVector3f{0.0f, 0.0f, 0.0f});
    region.textureCoords = {{0.1f, 0.1f}, {0.2f, 0.2f}, {0.3f, 0.3f}, {0.4f, 0.4f}, {0.5f, 0.5f}};
    region.quads = {{0, 1, 2, 3}, {3, 2, 1, 1}};
    region.textureQuads = {{0, 1, 2, 3}, {4, 4, 0, 2}};
    std::vector<float> coordinates(8, -7.0f);
    ASSERT_EQ(TAVO_GetModelRegionTextureCoords(handle, 0, coordinates.data()), TAVO_OK);
    // Vertex 1 is named twice by the second quad: its last corner (texture 2) wins.
    const std::vector<float> expected = {0.1f, 0.1f, 0.3f, 0.3f, 0.5f, 0.5f, 0.5f, 0.5f};
    EXPECT_EQ(coordinates, expected);
}

TEST_F(TextureAccessorsTest, TextureCoordsSkipQuadsNamingMissingVerticesOrCoordinates) {
    TRegion &region = model->regions[1];
    region.vertices.assign(3, TVector3f{0.0f, 0.0f, 0.0f});
    region.textureCoords = {{0.1f, 0.1f}, {0.2f, 0.2f}};
    region.quads = {{0, 1, 2, 2}, {0, 1, 2, 7}, {2, 1, 0, 0}};
    region.textureQuads = {{0, 0, 1, 1}, {1, 1, 1, 1}, {1, 0, 5, 1}};
    std::vector<float> coordinates(6, -7.0f);
    ASSERT_EQ(TAVO_GetModelRegionTextureCoords(handle, 1, coordinates.data()), TAVO_OK);
    const std::vector<float> expected = {0.1f, 0.1f, 0.1f, 0.1f, 0.2f, 0.2f};
    EXPECT_EQ(coordinates, expected);
    EXPECT_EQ(vertexTextureTable(region).size(), 3u);
}

TEST_F(TextureAccessorsTest, TextureCoordsRefuseANullArrayAndRegionsOutsideTheModel) {
    float coordinates[2] = {-7.0f, -7.0f};
    EXPECT_EQ(TAVO_GetModelRegionTextureCoords(handle, 0, nullptr), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_GetModelRegionTextureCoords(handle, -1, coordinates), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_GetModelRegionTextureCoords(handle, 9, coordinates), TAVO_ERR_GENERAL);
    EXPECT_EQ(coordinates[0], -7.0f);
    // The handle first (Part 4.4: -4 before anything else).
    EXPECT_EQ(TAVO_GetModelRegionTextureCoords(-1, -1, nullptr), TAVO_ERR_INVALID_HANDLE);
}

TEST_F(TextureAccessorsTest, GridPointOf12Point9AndMinus3Point7IsWrittenAs12AndMinus3) {
    model->faceGrid[0] = TPointf{12.9f, -3.7f};
    model->faceGrid[65] = TPointf{-0.5f, 255.99f};
    model->faceGrid[7] = TPointf{std::numeric_limits<float>::quiet_NaN(), 1e20f};
    std::vector<int32_t> points(132, -7);
    ASSERT_EQ(TAVO_GetModelGrid(handle, points.data()), TAVO_OK);
    EXPECT_EQ(points[0], 12);
    EXPECT_EQ(points[1], -3);
    EXPECT_EQ(points[130], 0);
    EXPECT_EQ(points[131], 255);
    EXPECT_EQ(points[14], 0);         // NaN: 0 (frame/numeric.h)
    EXPECT_EQ(points[15], INT32_MAX);  // beyond the range: saturated
    EXPECT_EQ(TAVO_GetModelGrid(handle, nullptr), TAVO_ERR_GENERAL);
}

TEST_F(TextureAccessorsTest, SetTextureThenGetTextureGivesBackAnEqualImage) {
    const ImageHandle given = imageOf(7, 3, 77);
    ASSERT_EQ(TAVO_SetModelTexture(handle, given), TAVO_OK);
    const ImageHandle out = imageOf(1, 1, 0);
    ASSERT_EQ(TAVO_GetModelTexture(handle, out), TAVO_OK);
    EXPECT_EQ(widthOf(out), 7);
    EXPECT_EQ(pixelsOf(out), pixelsOf(given));
    // The model keeps its own copy: the caller's image stays the caller's.
    EXPECT_NE(model->texture, given);
    TAVO_FreeImage(given);
    TAVO_FreeImage(out);
}

TEST_F(TextureAccessorsTest, SetTextureWithAnInvalidImagePassesTheImagingStatusOnAndKeepsTheTexture) {
    const std::vector<uint8_t> before = pixelsOf(model->texture);
    EXPECT_EQ(TAVO_SetModelTexture(handle, -1), TAVOIMG_ERR_HANDLE);
    EXPECT_EQ(TAVO_SetModelTexture(handle, 99999), TAVOIMG_ERR_HANDLE);
    EXPECT_EQ(pixelsOf(model->texture), before);
    EXPECT_EQ(TAVO_GetModelTexture(handle, -1), TAVOIMG_ERR_HANDLE);
}

TEST_F(TextureAccessorsTest, EveryAccessorReturnsMinusFourForABadHandle) {
    const ImageHandle image = imageOf(1, 1, 0);
    float coordinates[2];
    int32_t points[132];
    for (int32_t bad : {-1, INT32_MIN, INT32_MAX, handle + 1}) {
        EXPECT_EQ(TAVO_SetModelTexture(bad, image), TAVO_ERR_INVALID_HANDLE);
        EXPECT_EQ(TAVO_GetModelTexture(bad, image), TAVO_ERR_INVALID_HANDLE);
        EXPECT_EQ(TAVO_GetModelRegionTexture(bad, 0, image), TAVO_ERR_INVALID_HANDLE);
        EXPECT_EQ(TAVO_GetModelRegionTexture(bad, 7, image), TAVO_ERR_INVALID_HANDLE);
        EXPECT_EQ(TAVO_GetModelRegionTextureCoords(bad, 0, coordinates), TAVO_ERR_INVALID_HANDLE);
        EXPECT_EQ(TAVO_GetModelGrid(bad, points), TAVO_ERR_INVALID_HANDLE);
    }
    TAVO_FreeImage(image);
}

}  // namespace
}  // namespace kelmo
