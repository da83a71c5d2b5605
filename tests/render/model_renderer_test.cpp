// Rendering: the passes and pixel writes on a small scene, and golden images of
// the synthetic head compared bit for bit (KELMO_UPDATE_GOLDENS=1 rewrites them:
// look at them before committing).
#include "render/model_renderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <omp.h>

#include "frame/kernel_level.h"
#include "frame/library_state.h"
#include "model/model_table.h"
#include "support/synthetic_head.h"
#include "support/table_check.h"

namespace kelmo {

using Rgba = std::array<uint8_t, 4>;

TEST(SampleTexture, IsTheBilinearBlendOfTheTwoClampedTexelsOnEachAxis) {
    PixelBuffer t(3, 2, PixelMode::ColorAlpha);
    for (int k = 0; k < 24; ++k) t.bytes()[k] = static_cast<uint8_t>(10 * k + 3);
    auto at = [&](int column, int row, int c) { return float(t.bytes()[4 * (row * 3 + column) + c]); };
    // Texels floor(p) and floor(p) + 1, clamped (NaN and all left of the
    // texture taken as 0), weighted by the fraction unless clamped together.
    auto axis = [](float p, int size, int &i0, int &i1) {
        const float f = p >= 0 ? std::floor(std::min(p, 1e9f)) : -1;
        i0 = std::clamp(int(f), 0, size - 1), i1 = std::clamp(int(f) + 1, 0, size - 1);
        return i0 == i1 ? 0.0f : p - f;
    };
    const float nan = std::nanf(""), inf = INFINITY;
    for (auto [u, v] : {std::pair{0.25f, 0.5f},
                        {1.75f, 0.125f},
                        {2.0f, 1.0f},
                        {2.0f, 0.5f},
                        {1.5f, 1.0f},
                        {-0.4f, 0.0f},
                        {7.0f, 9.0f},
                        {nan, nan},
                        {inf, -inf},
                        {-1e30f, 1e30f}}) {
        int i0, i1, j0, j1;
        const float fu = axis(u, 3, i0, i1), fv = axis(v, 2, j0, j1);
        float sample[4];
        sampleTexture(TextureView::of(t), u, v, sample);
        for (int c = 0; c < 4; ++c) {
            const float left = at(i0, j0, c) + (at(i0, j1, c) - at(i0, j0, c)) * fv;
            const float right = at(i1, j0, c) + (at(i1, j1, c) - at(i1, j0, c)) * fv;
            EXPECT_EQ(sample[c], left + (right - left) * fu) << u << ", " << v << " byte " << c;
        }
    }
}

TEST(DrawRegion, UnusableQuadsEmptyTexturesAndCornersWithoutProjectionDrawNothing) {
    PixelBuffer colour(9, 9, PixelMode::ColorAlpha), depth(9, 9, PixelMode::Depth);
    const PixelBuffer texture(2, 2, PixelMode::ColorAlpha), none;
    std::fill(depth.floats(), depth.floats() + 81, kEmptyDepth);
    TRegion region;  // seen by the default camera, whose eye depth is z - 400
    region.vertices = {{-3, -3, 0}, {3, -3, 0}, {3, 3, 0}, {-3, 3, 400}};
    region.textureCoords = {{-1, 2}, {3, -2}, {0.5f, 0.5f}, {0, 0}};  // beyond the texture: clamped
    // Vertex 3 has no projection; vertex 4 and texture coordinate 9 do not
    // exist; the last quad has no texture quad.
    region.quads = {{0, 1, 2, 3}, {0, 1, 2, 4}, {0, 1, 2, 0}, {0, 1, 2, 0}};
    region.textureQuads = {{0, 1, 2, 3}, {0, 1, 2, 3}, {0, 1, 9, 0}};
    const Matrix4 view = viewMatrix({0, 0, 0}, {1, 1, 1}, identityMatrix(), 400.0f),
                  projection = projectionMatrix(1.0f);
    for (const PixelBuffer *t : {&texture, &none}) {
        drawRegion(colour, depth, region, TextureView::of(*t), projection, view, PixelWrite::Replace);
        EXPECT_EQ(std::count(depth.floats(), depth.floats() + 81, kEmptyDepth), 81);
        region.vertices[3].z = 0;  // the empty texture still draws nothing
    }
    drawRegion(colour, depth, region, TextureView::of(texture), projection, view, PixelWrite::Replace);
    EXPECT_LT(std::count(depth.floats(), depth.floats() + 81, kEmptyDepth), 60);  // but the first quad now is drawn
}

struct Render : ::testing::Test {
    void SetUp() override {
        TAVO_BeginRendering(64, 64);
        TAVO_InitModel(&handle, 1);
        model = resolveModel(handle);
        model->regions.resize(6);
        for (ImageHandle *image : {&model->sockImage, &model->upperTeethImage, &model->lowerTeethImage, &output})
            TAVO_CreateEmptyImage(image);
    }
    void TearDown() override {
        for (ImageHandle image : {model->sockImage, model->upperTeethImage, model->lowerTeethImage, output})
            TAVO_FreeImage(image);
        TAVO_FreeModel(handle);
        TAVO_BeginRendering(0, 0);
        libraryState().list7Table.clear();
    }
    static void paint(ImageHandle target, const render_test::RgbaImage &picture) {
        const ImageHandle image = render_test::makeImageHandle(picture);
        TAVO_CopyImage(image, target);
        TAVO_FreeImage(image);
    }
    static void paint(ImageHandle target, Rgba c) {
        paint(target, render_test::makeImage(8, 8, [c](int, int) {
                  return std::array<int, 4>{c[0], c[1], c[2], c[3]};
              }));
    }
    std::vector<uint8_t> render() {
        EXPECT_EQ(TAVO_RenderModelToImage(handle, output), TAVO_OK);
        return pixelsOf(output);
    }
    static std::vector<uint8_t> pixelsOf(ImageHandle image) {
        int32_t size = 0;
        TAVO_GetImageBufferSize(image, &size, TAVO_IMAGEMODE_COLOR_ALPHA);
        std::vector<uint8_t> pixels(static_cast<std::size_t>(size));
        if (size > 0) TAVO_SaveImageToBuffer(image, pixels.data(), TAVO_IMAGEMODE_COLOR_ALPHA);
        return pixels;
    }
    Rgba renderAt(int x, int row) {
        const std::vector<uint8_t> p = render();
        const std::size_t k = static_cast<std::size_t>(4 * (row * 64 + x));
        return {p[k], p[k + 1], p[k + 2], p[k + 3]};
    }
    static TRegion quad(float x0, float y0, float x1, float y1, float z) {
        TRegion region;
        region.vertices = {{x0, y0, z}, {x1, y0, z}, {x1, y1, z}, {x0, y1, z}};
        region.textureCoords = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
        region.quads = region.textureQuads = {{0, 1, 2, 3}};
        return region;
    }
    int32_t handle = -1;
    TModel *model = nullptr;
    ImageHandle output = -1;
};

TEST_F(Render, InnerPassShowsThroughBlackFacePixelsOnlyAndTeethBlendOverTheSock) {
    // Column 32 shows x = 0; image row 24 y = 0.68 (the face over the upper
    // teeth), row 36 y = -0.65 (the lower teeth), row 16 y = 1.57 (the sock).
    model->regions[0] = quad(-1.0f, 0.5f, 1.0f, 1.0f, 0.0f);
    model->regions[3] = quad(-1.0f, 0.0f, 1.0f, 1.0f, -1.0f);  // behind the sock in z, drawn after it
    model->regions[4] = quad(-1.0f, -1.0f, 1.0f, -0.2f, 0.5f);
    model->regions[5] = quad(-2.0f, -2.0f, 2.0f, 2.0f, 0.0f);
    paint(model->sockImage, {10, 200, 30, 77});
    paint(model->upperTeethImage, {250, 240, 230, 0});
    paint(model->lowerTeethImage, {251, 241, 231, 255});
    paint(model->texture, {0, 0, 60, 9});
    ASSERT_EQ(TAVO_ChooseTeethTextures(handle, false), TAVO_OK);
    EXPECT_EQ(renderAt(32, 24), (Rgba{0, 0, 60, 9}));  // blue is a colour: the face stays
    EXPECT_EQ(renderAt(32, 16), (Rgba{10, 200, 30, 77}));
    EXPECT_EQ(renderAt(32, 36), (Rgba{251, 241, 231, 77}));  // colour replaced, the sock's fourth byte kept
    EXPECT_EQ(renderAt(2, 2), (Rgba{0, 0, 0, 0}));
    paint(model->texture, {0, 0, 0, 9});
    EXPECT_EQ(renderAt(32, 24), (Rgba{10, 200, 30, 77}));  // black: the sock, through transparent teeth
    paint(model->upperTeethImage, {250, 240, 230, 100});
    const float a = 100 / 255.0f;
    const Rgba blend{uint8_t(250 * a + 10 * (1 - a)), uint8_t(240 * a + 200 * (1 - a)), uint8_t(230 * a + 30 * (1 - a)),
                     77};
    EXPECT_EQ(renderAt(32, 24), blend);
    ASSERT_EQ(TAVO_ChooseTeethTextures(handle, true), TAVO_OK);
    EXPECT_EQ(renderAt(32, 36), (Rgba{0, 0, 0, 9}));  // the model texture, all four bytes
}

// The synthetic head, scaled by 1.6, from the front and turned 30 degrees
// about y with the perspective 30 and the teeth's own images, against the
// golden images; then any angle below 0.001 renders as 0.001, an oversized
// render fails before the mouth cavity is rebuilt and an empty one still
// rebuilds it.
TEST_F(Render, SyntheticHeadMatchesItsGoldenImages) {
    const render_test::SyntheticHead head = render_test::makeSyntheticHead();
    libraryState().list7Table = head.list7;
    model->regions = head.regions;
    paint(model->texture, head.texture);
    paint(model->sockImage, head.sock);
    paint(model->upperTeethImage, head.upperTeeth);
    paint(model->lowerTeethImage, head.lowerTeeth);
    TAVO_BeginRendering(256, 256);
    TAVO_ScaleModel(handle, 1.6f, 1.6f, 1.6f);
    for (const std::string name : {"front", "rotated30y"}) {
        if (name != "front") {
            TAVO_RotateModel(handle, 0, 30, 0);
            TAVO_SetModelPerspective(handle, 30);
            TAVO_ChooseTeethTextures(handle, false);
        }
        const std::vector<uint8_t> rendered = render();
        const std::string path = std::string(KELMO_GOLDEN_DIR) + "/synthetic_head_" + name + "_256.png";
        if (std::getenv("KELMO_UPDATE_GOLDENS") != nullptr && std::string(std::getenv("KELMO_UPDATE_GOLDENS")) == "1")
            TAVO_SaveImageToFile(output, path.c_str());
        ImageHandle golden = -1;
        ASSERT_EQ(TAVO_LoadImageFromFileWithAlpha(&golden, path.c_str()), TAVOIMG_OK) << path;
        EXPECT_TRUE(pixelsOf(golden) == rendered) << path << " differs from the rendered image";
        TAVO_FreeImage(golden);
    }
    TAVO_SetModelPerspective(handle, 0.001f);
    const std::vector<uint8_t> smallest = render();
    for (float angle : {0.0f, -30.0f, 0.0005f}) {
        TAVO_SetModelPerspective(handle, angle);
        EXPECT_TRUE(render() == smallest) << angle;
    }
    model->regions[7].vertices.resize(1);
    for (auto [width, height] : {std::pair{40000, 2}, {2, 40000}, {20000, 20000}}) {
        TAVO_BeginRendering(width, height);
        EXPECT_EQ(TAVO_RenderModelToImage(handle, output), TAVO_ERR_GENERAL);
    }
    EXPECT_EQ(model->regions[7].vertices.size(), 1u);
    for (auto [width, height] : {std::pair{-5, 10}, {10, 0}, {INT32_MIN, INT32_MIN}}) {
        TAVO_BeginRendering(width, height);
        EXPECT_TRUE(render().empty());
    }
    EXPECT_EQ(model->regions[7].vertices.size(), 3 * head.list7.size());
}

// The banded renderer against the whole-buffer one kept at the plain level,
// bit for bit, at every wider kernel level the CPU has, on one thread and on
// two: the synthetic head as it is and reshaped as a fit would leave it, at sizes from tiny to threaded (odd and
// non-square included), turned about each axis, and scaled past the image's
// edges so that triangles start above a band and cross its border.
TEST_F(Render, BandedRenderIsBitIdenticalToTheWholeBufferRender) {
    const render_test::SyntheticHead head = render_test::makeSyntheticHead();
    libraryState().list7Table = head.list7;
    paint(model->texture, head.texture);
    paint(model->sockImage, head.sock);
    paint(model->upperTeethImage, head.upperTeeth);
    paint(model->lowerTeethImage, head.lowerTeeth);
    struct Case {
        int32_t width, height;
        float scale, rotateX, rotateY, rotateZ, perspective;
        bool reshaped, teethFromModel;
    };
    const Case cases[] = {
        {31, 17, 1.6f, 0, 0, 0, 1, false, false},     {256, 256, 1.6f, 0, 30, 0, 30, false, false},
        {300, 517, 2.0f, -20, 0, 0, 10, true, true},  {640, 480, 1.4f, 10, -40, 5, 1, true, false},
        {512, 512, 4.0f, 0, 15, -25, 20, false, true}, {389, 701, 3.0f, 35, 0, 0, 45, true, false},
    };
    const int savedThreads = omp_get_max_threads();
    for (const Case &c : cases) {
        model->regions = head.regions;
        if (c.reshaped) {
            // A fitted face: every vertex of the face regions moved by a
            // smooth offset that differs across the face.
            for (std::size_t r : {0u, 1u, 2u})
                for (TVector3f &v : model->regions[r].vertices) {
                    v.x += 0.05f * std::sin(3.0f * v.y);
                    v.y += 0.04f * std::cos(2.0f * v.x);
                    v.z += 0.03f * std::sin(5.0f * v.x * v.y);
                }
        }
        model->scale = {c.scale, c.scale, c.scale};
        model->rotation = {c.rotateX, c.rotateY, c.rotateZ};
        model->perspective = c.perspective;
        TAVO_ChooseTeethTextures(handle, c.teethFromModel);
        TAVO_BeginRendering(c.width, c.height);
        setKernelLevel(KernelLevel::Plain);
        omp_set_num_threads(1);
        const std::vector<uint8_t> whole = render();
        for (KernelLevel level : {KernelLevel::Baseline, KernelLevel::Avx2, KernelLevel::Avx512})
            for (int threads : {1, 2}) {
                const KernelLevel set = setKernelLevel(level);
                omp_set_num_threads(threads);
                EXPECT_TRUE(render() == whole) << c.width << "x" << c.height << " on " << threads
                                               << " threads at level " << static_cast<int>(set);
            }
    }
    setKernelLevel(bestKernelLevel());
    omp_set_num_threads(savedThreads);
}

}  // namespace kelmo
