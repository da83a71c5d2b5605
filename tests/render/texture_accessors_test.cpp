// Which texture each region shows, the per-vertex texture coordinates and the
// face grid as integers.
#include "render/texture_accessors.h"

#include <gtest/gtest.h>

#include <limits>

#include "model/model_table.h"
#include "support/synthetic_head.h"
#include "support/table_check.h"

namespace kelmo {

std::vector<uint8_t> pixelsOf(ImageHandle image) {
    std::vector<uint8_t> pixels(64 * 4);
    TAVO_SaveImageToBuffer(image, pixels.data(), TAVO_IMAGEMODE_COLOR_ALPHA);
    return pixels;
}

ImageHandle imageNumber(int k) {
    return render_test::makeImageHandle(render_test::makeImage(8, 8, [k](int x, int y) {
        return std::array<int, 4>{40 * k + x, y, k, 9};
    }));
}

TEST(TextureAccessors, EachRegionShowsItsTextureAndEachVertexTheLastCoordinateNamingIt) {
    int32_t handle = -1;
    ASSERT_EQ(TAVO_InitModel(&handle, 1), TAVO_OK);
    TModel &model = *resolveModel(handle);
    model.regions.resize(9);
    model.extraRegion = 8;
    const ImageHandle images[4] = {imageNumber(0), imageNumber(1), imageNumber(2), imageNumber(3)};
    ASSERT_EQ(TAVO_SetModelTexture(handle, images[0]), TAVO_OK);
    model.upperTeethImage = images[1], model.lowerTeethImage = images[2], model.sockImage = images[3];
    // Regions 0 to 2 show the texture, 3 and 4 the teeth's images or the
    // texture, 5 the sock; 6 and above none, and the output stays as it was.
    for (bool teethFromTexture : {false, true}) {
        ASSERT_EQ(TAVO_ChooseTeethTextures(handle, teethFromTexture), TAVO_OK);
        for (int32_t region = 0; region < 9; ++region) {
            const int source = region < 3 ? 0 : region < 5 ? (teethFromTexture ? 0 : region - 2) : region == 5 ? 3 : 4;
            const ImageHandle out = imageNumber(4), expected = source == 4 ? imageNumber(4) : images[source];
            EXPECT_EQ(TAVO_GetModelRegionTexture(handle, region, out), source == 4 ? TAVO_ERR_NO_TEXTURE : TAVO_OK);
            EXPECT_EQ(pixelsOf(out), pixelsOf(expected))
                << region << (teethFromTexture ? " teeth from the texture" : "");
            ASSERT_EQ(TAVO_GetModelTexture(handle, out), TAVO_OK);
            EXPECT_EQ(pixelsOf(out), pixelsOf(images[0]));
            TAVO_FreeImage(out);
            if (source == 4) TAVO_FreeImage(expected);
        }
    }
    model.sockImage = -1;  // a missing shared image: the imaging library's status
    EXPECT_EQ(TAVO_GetModelRegionTexture(handle, 5, images[0]), TAVOIMG_ERR_HANDLE);
    for (ImageHandle image : images) TAVO_FreeImage(image);

    // Quad 1 names vertex 1 twice (its last corner wins); quad 2 names vertex
    // 5 and quad 3 texture coordinate 7, neither of which exists; quad 4 has
    // no texture quad; no usable quad names vertex 3.
    TRegion &region = model.regions[0];
    region.vertices.assign(5, TVector3f{0, 0, 0});
    region.textureCoords = {{0.1f, 0.2f}, {0.3f, 0.4f}, {0.5f, 0.6f}, {0.7f, 0.8f}, {0.9f, 1.0f}};
    region.quads = {{0, 1, 2, 4}, {4, 1, 0, 1}, {0, 1, 2, 5}, {0, 1, 2, 4}, {0, 0, 0, 0}};
    region.textureQuads = {{4, 3, 2, 1}, {0, 2, 3, 3}, {0, 0, 0, 0}, {7, 0, 0, 0}};
    std::vector<float> coordinates(10, -7.0f);
    ASSERT_EQ(TAVO_GetModelRegionTextureCoords(handle, 0, coordinates.data()), TAVO_OK);
    EXPECT_EQ(coordinates, (std::vector<float>{0.7f, 0.8f, 0.7f, 0.8f, 0.5f, 0.6f, 0.0f, 0.0f, 0.1f, 0.2f}));

    model.faceGrid[0] = {12.9f, -3.7f};  // truncated toward zero, NaN as 0, saturated
    model.faceGrid[7] = {std::numeric_limits<float>::quiet_NaN(), 1e20f};
    model.faceGrid[65] = {-0.5f, 255.99f};
    std::vector<int32_t> grid(132, -7);
    ASSERT_EQ(TAVO_GetModelGrid(handle, grid.data()), TAVO_OK);
    EXPECT_EQ((std::vector<int32_t>{grid[0], grid[1], grid[14], grid[15], grid[130], grid[131]}),
              (std::vector<int32_t>{12, -3, 0, INT32_MAX, 0, 255}));
    TAVO_FreeModel(handle);
}

}  // namespace kelmo
