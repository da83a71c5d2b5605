// Every export of the camera, the renderer, the texture and alpha functions and
// the deformers refuses a bad handle, null pointer, index or size (or a muscle
// without a direction) with its status, and changes no model, image or output.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "deform/vertex_lists.h"
#include "model/model_table.h"
#include "render/camera.h"
#include "support/model_support.h"
#include "support/table_check.h"

namespace kelmo {

TEST(Exports, RefuseBadArgumentsWithTheirStatusAndChangeNothing) {
    int32_t model = -1, morph = -1, freed = -1;
    TAVO_InitModel(&model, 1), TAVO_InitModel(&morph, 1), TAVO_InitModel(&freed, 1), TAVO_FreeModel(freed);
    std::mt19937 rng(1);
    const std::vector<TRegion> before = {test::randomRegion(rng, 4, 2), {}, test::randomRegion(rng, 8, 2)};
    resolveModel(model)->regions = resolveModel(morph)->regions = before;
    std::vector<uint8_t> pixels(64, 77);
    ImageHandle image = -1, out = -7;
    TAVO_LoadImageFromBuffer(&image, pixels.data(), 4, 4, 16, TAVO_IMAGEMODE_COLOR_ALPHA);
    std::vector<int32_t> ints(200, -7);
    std::vector<float> floats(200, -7.0f);
    std::vector<TVector3f> vertices(20, TVector3f{-7, -7, -7});
    const std::vector<TPointf> grid(67, TPointf{5, 5});
    VertexLists lists(2, {{-7, -7, -7}});
    int32_t *p = ints.data();
    TVector3f *v = vertices.data();
    const TPointf *g = grid.data();
    const int32_t one[1] = {1}, negative[2] = {1, -1}, overflowing[3] = {INT32_MAX, INT32_MAX, 1};
    const TVector3f A{0, 0, 0}, B{2, 0, 0}, F{1, 1, 0}, G{1, 0, 1};
    const char *no = "/nonexistent/file";
    const int32_t H = TAVO_ERR_INVALID_HANDLE, E = TAVO_ERR_GENERAL, I = TAVOIMG_ERR_HANDLE, M = TAVOIMG_MAX_SIDE + 1;
    const ImageHandle im = image;
    auto muscle = [](int32_t h, const TVector3f *a, const TVector3f *b, const TVector3f *bf, const TVector3f *bg) {
        return TAVO_LinearMuscleContraction(h, a, b, bf, bg, 0.5f, 0.2f, 1.0f, nullptr, 3);
    };
    for (const int32_t bad : {-1, INT32_MIN, INT32_MAX, freed}) {
#define ROW(status, call)            \
    {                                \
        status, [&] { return call; } \
    }
        const std::pair<int32_t, std::function<int32_t()>> rows[] = {
            ROW(H, TAVO_SetModelPerspective(bad, 3)),
            ROW(H, TAVO_RotateModel(bad, 1, 2, 3)),
            ROW(H, TAVO_ScaleModel(bad, 1, 2, 3)),
            ROW(H, TAVO_ChooseTeethTextures(bad, false)),
            ROW(H, TAVO_SetDeformationMatrixElement(bad, 99, 2)),
            ROW(E, TAVO_SetDeformationMatrixElement(model, 16, 2)),
            ROW(E, TAVO_SetDeformationMatrixElement(model, -1, 2)),
            ROW(H, TAVO_ProjectModelVertices(bad, 0, p)),
            ROW(E, TAVO_ProjectModelVertices(model, 0, nullptr)),
            ROW(E, TAVO_ProjectModelVertices(model, 3, p)),
            ROW(E, TAVO_ProjectModelVertices(bad, -1, p)),
            ROW(H, TAVO_GetModel2DProjection(bad, p)),
            ROW(E, TAVO_GetModel2DProjection(model, nullptr)),
            ROW(E, TAVO_GetModel2DProjection(model, p)),  // region 1 lacks the feature vertices
            ROW(H, TAVO_RenderModelToImage(bad, im)),
            ROW(E, TAVO_RenderModelToImage(model, 9999)),
            ROW(H, TAVO_SetModelTexture(bad, im)),
            ROW(H, TAVO_GetModelTexture(bad, im)),
            ROW(I, TAVO_SetModelTexture(model, 9999)),
            ROW(I, TAVO_GetModelTexture(model, 9999)),
            ROW(H, TAVO_GetModelRegionTexture(bad, 0, im)),
            ROW(E, TAVO_GetModelRegionTexture(model, 3, im)),
            ROW(E, TAVO_GetModelRegionTexture(model, -1, im)),
            ROW(H, TAVO_GetModelRegionTextureCoords(bad, -1, nullptr)),
            ROW(E, TAVO_GetModelRegionTextureCoords(model, 0, nullptr)),
            ROW(E, TAVO_GetModelRegionTextureCoords(model, 3, floats.data())),
            ROW(H, TAVO_GetModelGrid(bad, p)),
            ROW(E, TAVO_GetModelGrid(model, nullptr)),
            ROW(E, TAVO_LoadAlphaChannelImage(nullptr, p, "a", "b")),
            ROW(E, TAVO_LoadAlphaChannelImage(&out, nullptr, "a", "b")),
            ROW(E, TAVO_LoadAlphaChannelImage(&out, p, nullptr, "b")),
            ROW(E, TAVO_LoadAlphaChannelImage(&out, p, "a", nullptr)),
            ROW(TAVOIMG_ERR_OPEN, TAVO_LoadAlphaChannelImage(&out, p, no, no)),
            ROW(E, TAVO_AdjustAlphaChannelImage(im, g, 1, p)),
            ROW(E, TAVO_AdjustAlphaChannelImage(im, g, 67, p)),
            ROW(E, TAVO_AdjustAlphaChannelImage(im, nullptr, 66, p)),
            ROW(E, TAVO_AdjustAlphaChannelImage(im, g, 66, nullptr)),
            ROW(E, TAVO_AdjustAlphaChannelImage(9999, g, 66, p)),
            ROW(E, TAVO_SetTextureAlphaChannel(im, nullptr, im, p)),
            ROW(E, TAVO_SetTextureAlphaChannel(im, p, im, nullptr)),
            ROW(E, TAVO_SetTextureAlphaChannel(9999, p, im, p)),
            ROW(E, TAVO_SetTextureAlphaChannel(im, p, 9999, p)),
            ROW(E, TAVO_ExtendModelImage(9999, im, 0, 0, 5, 5)),
            ROW(E, TAVO_ExtendModelImage(im, 9999, 0, 0, 5, 5)),
            ROW(E, TAVO_ExtendModelImage(im, im, 0, 0, -1, 5)),
            ROW(E, TAVO_ExtendModelImage(im, im, 0, 0, 5, M)),
            ROW(H, TAVO_GetModelVertices(bad, lists)),
            ROW(H, TAVO_SetModelVertices(bad, lists)),
            ROW(H, TAVO_GetModelVertexLists(bad, p, 8, v, 20)),
            ROW(E, TAVO_GetModelVertexLists(bad, nullptr, 8, v, 20)),
            ROW(E, TAVO_GetModelVertexLists(model, p, 2, v, 20)),
            ROW(E, TAVO_GetModelVertexLists(model, p, 8, v, 11)),
            ROW(E, TAVO_GetModelVertexLists(model, p, 8, nullptr, 20)),
            ROW(H, TAVO_SetModelVertexLists(bad, 1, one, v)),
            ROW(E, TAVO_SetModelVertexLists(model, -1, one, v)),
            ROW(E, TAVO_SetModelVertexLists(model, 1, nullptr, v)),
            ROW(E, TAVO_SetModelVertexLists(model, 1, one, nullptr)),
            ROW(E, TAVO_SetModelVertexLists(model, 2, negative, v)),
            ROW(E, TAVO_SetModelVertexLists(model, 3, overflowing, v)),
            ROW(H, TAVO_LoadExpressionToModel(bad, "a")),
            ROW(E, TAVO_LoadExpressionToModel(model, nullptr)),
            ROW(E, TAVO_LoadExpressionToModel(model, no)),
            ROW(H, TAVO_ApplyMorph(bad, morph, 1)),
            ROW(H, TAVO_ApplyMorph(model, bad, 1)),
            ROW(H, TAVO_ApplyMorphHField(model, bad, 1, nullptr)),
            ROW(H, TAVO_AdjustModelDeformation(bad, morph)),
            ROW(H, TAVO_AdjustModelDeformation(model, bad)),
            ROW(E, TAVO_AdjustModelDeformation(model, morph)),  // not a model made from a photo
            ROW(H, muscle(bad, &A, &B, &F, &G)),
            ROW(E, muscle(model, nullptr, &B, &F, &G)),
            ROW(E, muscle(model, &A, nullptr, &F, &G)),
            ROW(E, muscle(model, &A, &B, nullptr, &G)),
            ROW(E, muscle(model, &A, &B, &F, nullptr)),
            ROW(E, muscle(model, &A, &A, &F, &G)),  // B on A
            ROW(E, muscle(model, &A, &B, &A, &G)),
            ROW(E, muscle(model, &A, &B, &F, &A)),  // F or G on A
        };
#undef ROW
        for (std::size_t i = 0; i < std::size(rows); ++i)
            EXPECT_EQ(rows[i].second(), rows[i].first) << "row " << i << ", handle " << bad;
    }
    for (int32_t h : {model, morph}) EXPECT_TRUE(test::regionListsBitwiseEqual(before, resolveModel(h)->regions));
    const TModel &m = *resolveModel(model);
    EXPECT_TRUE(m.deformation == identityMatrix() && m.rotation[0] == 0 && m.scale[0] == 1 && m.perspective == 1);
    std::vector<uint8_t> after(64);
    TAVO_SaveImageToBuffer(image, after.data(), TAVO_IMAGEMODE_COLOR_ALPHA);
    EXPECT_TRUE(after == pixels && out == -7 && vertices[0].x == -7 && lists[0][0].x == -7);
    EXPECT_EQ(std::count(ints.begin(), ints.end(), -7) + std::count(floats.begin(), floats.end(), -7.0f), 400);
    TAVO_FreeImage(image), TAVO_FreeModel(model), TAVO_FreeModel(morph);
}

}  // namespace kelmo
