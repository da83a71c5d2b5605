// Part 4.2: rendering. Small scenes whose pixels are worked out by hand from
// the Part, the edge cases of the Part through TAVO_RenderModelToImage, the
// choices of docs/decisions.md, and golden images of a synthetic head.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "frame/library_state.h"
#include "frame/pixel_buffer.h"
#include "kelmo.h"
#include "model/model_table.h"
#include "render/camera.h"
#include "render/golden_image.h"
#include "render/model_renderer.h"
#include "render/synthetic_head.h"

namespace kelmo {
namespace {

using Rgba = std::array<uint8_t, 4>;

// ---- Helpers --------------------------------------------------------------------

// A view and a projection under which model (x, y) lands at window
// ((x * 0.5 + 0.5) * (W - 1), (y * 0.5 + 0.5) * (H - 1)) exactly: every point
// at eye depth -1 (w = 1), the projection's first three rows the identity.
Matrix4 flatView() { return Matrix4{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, -1, 1}; }
Matrix4 flatProjection() { return identityMatrix(); }
// The model coordinate that the flat camera maps to `window` on a side of `size`.
float modelOf(float window, int size) { return window / static_cast<float>(size - 1) * 2.0f - 1.0f; }

// A region of one quad a, b, c, d over the window rectangle [x0, x1] x [y0,
// y1] (a bottom left, then counter-clockwise) at model depth z, with texture
// coordinates uv[0..3] for a, b, c, d.
TRegion windowRectangle(float x0, float y0, float x1, float y1, float z, int size,
                        std::array<TPointf, 4> uv = {TPointf{0.25f, 0.25f}, {0.5f, 0.25f}, {0.5f, 0.5f},
                                                     {0.25f, 0.5f}}) {
    TRegion region;
    region.vertices = {{modelOf(x0, size), modelOf(y0, size), z},
                       {modelOf(x1, size), modelOf(y0, size), z},
                       {modelOf(x1, size), modelOf(y1, size), z},
                       {modelOf(x0, size), modelOf(y1, size), z}};
    region.textureCoords.assign(uv.begin(), uv.end());
    region.quads = {{0, 1, 2, 3}};
    region.textureQuads = {{0, 1, 2, 3}};
    return region;
}

PixelBuffer constantTexture(int width, int height, Rgba colour) {
    PixelBuffer texture(width, height, PixelMode::ColorAlpha);
    for (int p = 0; p < width * height; ++p)
        for (int c = 0; c < 4; ++c) texture.bytes()[4 * p + c] = colour[static_cast<std::size_t>(c)];
    return texture;
}

struct Target {
    explicit Target(int size) : colour(size, size, PixelMode::ColorAlpha), depth(size, size, PixelMode::Depth) {
        for (int p = 0; p < size * size; ++p) depth.floats()[p] = kEmptyDepth;
    }
    Rgba pixel(int x, int y) const {
        const uint8_t *p = colour.bytes() + 4 * (y * colour.width + x);
        return Rgba{p[0], p[1], p[2], p[3]};
    }
    float depthAt(int x, int y) const { return depth.floats()[y * depth.width + x]; }
    bool drawn(int x, int y) const { return depthAt(x, y) != kEmptyDepth; }
    PixelBuffer colour;
    PixelBuffer depth;
};

void draw(Target &target, const TRegion &region, const PixelBuffer &texture, PixelWrite write = PixelWrite::Replace) {
    drawRegion(target.colour, target.depth, region, TextureView::of(texture), flatProjection(), flatView(), write);
}

// Expects exactly the pixels for which `inside(x, y)` holds to be drawn.
template <typename Inside>
void expectDrawnExactly(const Target &target, Inside inside) {
    for (int y = 0; y < target.colour.height; ++y)
        for (int x = 0; x < target.colour.width; ++x)
            EXPECT_EQ(target.drawn(x, y), inside(x, y)) << "pixel " << x << ", " << y;
}

// ---- Sampling -----------------------------------------------------------------

// A 3 x 2 texture whose bytes are distinct.
PixelBuffer smallTexture() {
    PixelBuffer texture(3, 2, PixelMode::ColorAlpha);
    for (int k = 0; k < 24; ++k) texture.bytes()[k] = static_cast<uint8_t>(10 * k + 3);
    return texture;
}
float texel(const PixelBuffer &t, int column, int row, int channel) {
    return t.bytes()[4 * (row * t.width + column) + channel];
}

TEST(SampleTexture, InteriorPositionBlendsTheFourTexelsAsThePartWrites) {
    const PixelBuffer texture = smallTexture();
    float sample[4];
    sampleTexture(TextureView::of(texture), 0.25f, 0.5f, sample);
    for (int c = 0; c < 4; ++c) {
        const float left = texel(texture, 0, 0, c) + (texel(texture, 0, 1, c) - texel(texture, 0, 0, c)) * 0.5f;
        const float right = texel(texture, 1, 0, c) + (texel(texture, 1, 1, c) - texel(texture, 1, 0, c)) * 0.5f;
        EXPECT_EQ(sample[c], left + (right - left) * 0.25f);
    }
}

TEST(SampleTexture, PositionOnTheLastColumnAndRowSamplesThemWithWeightOne) {
    const PixelBuffer texture = smallTexture();
    float sample[4];
    sampleTexture(TextureView::of(texture), 2.0f, 1.0f, sample);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(sample[c], texel(texture, 2, 1, c));
    // Between the last two rows on the last column: only that column is read.
    sampleTexture(TextureView::of(texture), 2.0f, 0.5f, sample);
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(sample[c], texel(texture, 2, 0, c) + (texel(texture, 2, 1, c) - texel(texture, 2, 0, c)) * 0.5f);
}

TEST(SampleTexture, PositionsOutsideTheTextureClampToItsEdges) {
    const PixelBuffer texture = smallTexture();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    float sample[4];
    struct Case {
        float u, v;
        int column, row;
    };
    for (const Case &k : {Case{-0.4f, 0.0f, 0, 0}, Case{7.0f, 9.0f, 2, 1}, Case{nan, nan, 0, 0},
                          Case{inf, -inf, 2, 0}, Case{-1e30f, 1e30f, 0, 1}}) {
        sampleTexture(TextureView::of(texture), k.u, k.v, sample);
        for (int c = 0; c < 4; ++c) EXPECT_EQ(sample[c], texel(texture, k.column, k.row, c)) << k.u << "," << k.v;
    }
}

TEST(SampleTexture, OnePixelTextureAlwaysGivesThatPixel) {
    const PixelBuffer texture = constantTexture(1, 1, {9, 8, 7, 6});
    float sample[4];
    sampleTexture(TextureView::of(texture), 0.7f, 0.2f, sample);
    EXPECT_EQ(sample[0], 9.0f);
    EXPECT_EQ(sample[3], 6.0f);
}

// ---- Hand-worked scenes (drawRegion with the flat camera, 17 x 17) ------------------

// The quad (2.5, 2.5) - (10.5, 10.5) with texel columns 1 to 5 and rows 5 to
// 1 on an 8 x 8 texture (u 0.125 -> 0.625, v 0.25 -> 0.75). Both triangles map
// pixel (x, y) to texel (1 + (x - 2.5) / 2, 5 - (y - 2.5) / 2), every value a
// multiple of 1/4 and so exact; rows 3 to 10 (ceil(2.5) below ceil(10.5)),
// columns 3 to 10.
TEST(DrawRegion, TexturedQuadFacingTheCameraGivesTheHandWorkedPixels) {
    PixelBuffer texture(8, 8, PixelMode::ColorAlpha);
    for (int row = 0; row < 8; ++row)
        for (int column = 0; column < 8; ++column)
            for (int c = 0; c < 4; ++c)
                texture.bytes()[4 * (row * 8 + column) + c] =
                    static_cast<uint8_t>((column * 29 + row * 53 + c * 71 + column * row * 7) % 256);
    Target target(17);
    draw(target, windowRectangle(2.5f, 2.5f, 10.5f, 10.5f, 0.0f, 17,
                                 {TPointf{0.125f, 0.25f}, {0.625f, 0.25f}, {0.625f, 0.75f}, {0.125f, 0.75f}}),
         texture);
    expectDrawnExactly(target, [](int x, int y) { return x >= 3 && x <= 10 && y >= 3 && y <= 10; });
    for (int y = 3; y <= 10; ++y) {
        for (int x = 3; x <= 10; ++x) {
            const float u = 1.0f + (static_cast<float>(x) - 2.5f) * 0.5f;
            const float v = 5.0f - (static_cast<float>(y) - 2.5f) * 0.5f;
            const int i = static_cast<int>(std::floor(u)), j = static_cast<int>(std::floor(v));
            const float fu = u - static_cast<float>(i), fv = v - static_cast<float>(j);
            const Rgba actual = target.pixel(x, y);
            for (int c = 0; c < 4; ++c) {
                const float left =
                    texel(texture, i, j, c) + (texel(texture, i, j + 1, c) - texel(texture, i, j, c)) * fv;
                const float right =
                    texel(texture, i + 1, j, c) + (texel(texture, i + 1, j + 1, c) - texel(texture, i + 1, j, c)) * fv;
                EXPECT_EQ(actual[static_cast<std::size_t>(c)], static_cast<int>(left + (right - left) * fu))
                    << x << "," << y << " channel " << c;
            }
            EXPECT_EQ(target.depthAt(x, y), 1.0f / 10.0f);
        }
    }
}

TEST(DrawRegion, NearerQuadWinsTheOverlapWhateverTheDrawingOrder) {
    const PixelBuffer red = constantTexture(4, 4, {200, 0, 0, 255});
    const PixelBuffer green = constantTexture(4, 4, {0, 180, 0, 128});
    const TRegion far = windowRectangle(2.5f, 2.5f, 10.5f, 10.5f, 0.0f, 17);   // key 1/10
    const TRegion near = windowRectangle(6.5f, 6.5f, 14.5f, 14.5f, 1.0f, 17);  // key 1/11: nearer
    for (bool nearFirst : {false, true}) {
        Target target(17);
        if (nearFirst) draw(target, near, green);
        draw(target, far, red);
        if (!nearFirst) draw(target, near, green);
        for (int y = 0; y < 17; ++y) {
            for (int x = 0; x < 17; ++x) {
                const bool inNear = x >= 7 && x <= 14 && y >= 7 && y <= 14;
                const bool inFar = x >= 3 && x <= 10 && y >= 3 && y <= 10;
                const Rgba expected = inNear ? Rgba{0, 180, 0, 128} : inFar ? Rgba{200, 0, 0, 255} : Rgba{0, 0, 0, 0};
                EXPECT_EQ(target.pixel(x, y), expected) << x << "," << y << " near first " << nearFirst;
            }
        }
    }
}

TEST(DrawRegion, QuadCrossingTheBottomAndTopEdgesDrawsRowsZeroToHeightMinusTwo) {
    Target target(17);
    draw(target, windowRectangle(2.5f, -6.5f, 6.5f, 30.5f, 0.0f, 17), constantTexture(4, 4, {1, 2, 3, 4}));
    expectDrawnExactly(target, [](int x, int y) { return x >= 3 && x <= 6 && y <= 15; });
}

TEST(DrawRegion, LastRowAndLastColumnAreNeverDrawn) {
    // The rectangle reaches x = 15.5 (ceil 16 = W - 1: its spans end at column
    // 15) and far above the top.
    Target target(17);
    draw(target, windowRectangle(-0.5f, -0.5f, 15.5f, 40.0f, 0.0f, 17), constantTexture(4, 4, {1, 2, 3, 4}));
    expectDrawnExactly(target, [](int x, int y) { return x <= 15 && y <= 15; });
}

TEST(DrawRegion, SpansReachingColumnWidthMinusOneAreSkippedWholeNotClipped) {
    // (2.5, 2.5) - (16.5, 10.5): every span of triangle (a, b, c) ends at
    // ceil(16.5) = 17 and is skipped whole, though it covers columns 3 to 15.
    // Triangle (c, d, a) lies left of the diagonal x = 2.5 + (y - 2.5) * 1.75
    // (first a, middle d, last c): row y spans 3 to ceil(diagonal) - 1.
    Target whole(17);
    draw(whole, windowRectangle(2.5f, 2.5f, 16.5f, 10.5f, 0.0f, 17), constantTexture(4, 4, {1, 2, 3, 4}));
    const int lastColumnOfRow[] = {3, 5, 6, 8, 10, 12, 13, 15};  // rows 3 to 10
    expectDrawnExactly(whole, [&](int x, int y) { return y >= 3 && y <= 10 && x >= 3 && x <= lastColumnOfRow[y - 3]; });
    // (8.5, 0.5) - (24.5, 8.5): triangle (a, b, c) ends at ceil(24.5) on every
    // row and draws nothing; triangle (c, d, a) has first a, middle d, last c,
    // its left end x = 8.5 and its right end the diagonal 8.5 + 2 (y - 0.5),
    // so row y spans 9 to 2y + 7 while 2y + 8 < 17: rows 1 to 4.
    Target crossing(17);
    draw(crossing, windowRectangle(8.5f, 0.5f, 24.5f, 8.5f, 0.0f, 17), constantTexture(4, 4, {1, 2, 3, 4}));
    expectDrawnExactly(crossing, [](int x, int y) { return y >= 1 && y <= 4 && x >= 9 && x <= 2 * y + 7; });
}

TEST(DrawRegion, SpansStartingLeftOfColumnZeroAreSkippedWholeNotClipped) {
    // (-8.5, 0.5) - (7.5, 16.5): triangle (c, d, a) has its left end at -8.5
    // on every row and draws nothing; triangle (a, b, c) starts on the
    // diagonal x = y - 9, kept from row 9 on, and ends at ceil(7.5) = 8.
    Target target(17);
    draw(target, windowRectangle(-8.5f, 0.5f, 7.5f, 16.5f, 0.0f, 17), constantTexture(4, 4, {1, 2, 3, 4}));
    expectDrawnExactly(target, [](int x, int y) { return y >= 9 && y <= 15 && x >= y - 9 && x <= 7; });
}

TEST(DrawRegion, BlendingWithAlphaZeroKeepsThePixelAndWithAlpha255ReplacesItsColour) {
    const TRegion quad = windowRectangle(2.5f, 2.5f, 10.5f, 10.5f, 0.0f, 17);
    for (uint8_t alpha : {uint8_t{0}, uint8_t{255}, uint8_t{100}}) {
        Target target(17);
        draw(target, quad, constantTexture(4, 4, {40, 90, 140, 77}));
        // A new depth buffer, as the renderer resets it between sock and teeth.
        for (int p = 0; p < 17 * 17; ++p) target.depth.floats()[p] = kEmptyDepth;
        draw(target, quad, constantTexture(4, 4, {250, 10, 200, alpha}), PixelWrite::Blend);
        const float a = static_cast<float>(alpha) / 255.0f;
        const Rgba expected = {static_cast<uint8_t>(250.0f * a + 40.0f * (1.0f - a)),
                               static_cast<uint8_t>(10.0f * a + 90.0f * (1.0f - a)),
                               static_cast<uint8_t>(200.0f * a + 140.0f * (1.0f - a)), 77};
        if (alpha == 0) {
            EXPECT_EQ(expected, (Rgba{40, 90, 140, 77}));
        }
        if (alpha == 255) {
            EXPECT_EQ(expected, (Rgba{250, 10, 200, 77}));
        }
        EXPECT_EQ(target.pixel(5, 5), expected) << int{alpha};
        EXPECT_EQ(target.pixel(10, 3), expected) << int{alpha};
    }
}

TEST(DrawRegion, EmptyTextureDrawsNothing) {
    Target target(17);
    draw(target, windowRectangle(2.5f, 2.5f, 10.5f, 10.5f, 0.0f, 17), PixelBuffer(0, 0, PixelMode::ColorAlpha));
    draw(target, windowRectangle(2.5f, 2.5f, 10.5f, 10.5f, 0.0f, 17), PixelBuffer());
    expectDrawnExactly(target, [](int, int) { return false; });
}

TEST(DrawRegion, QuadWithAVertexAtEyeDepthZeroIsNotDrawn) {
    // The real camera at the default angle: eye depth is z - 400.
    const Matrix4 view = viewMatrix({0, 0, 0}, {1, 1, 1}, identityMatrix(), 400.0f);
    const Matrix4 projection = projectionMatrix(1.0f);
    TRegion quad;
    quad.vertices = {{-2.0f, -2.0f, 0.0f}, {2.0f, -2.0f, 0.0f}, {2.0f, 2.0f, 0.0f}, {-2.0f, 2.0f, 0.0f}};
    quad.textureCoords = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    quad.quads = {{0, 1, 2, 3}};
    quad.textureQuads = {{0, 1, 2, 3}};
    const PixelBuffer texture = constantTexture(4, 4, {1, 2, 3, 4});
    Target drawnTarget(33);
    drawRegion(drawnTarget.colour, drawnTarget.depth, quad, TextureView::of(texture), projection, view,
               PixelWrite::Replace);
    EXPECT_TRUE(drawnTarget.drawn(16, 16));
    quad.vertices[3].z = 400.0f;  // the fourth corner, in triangle (c, d, a) only
    Target target(33);
    drawRegion(target.colour, target.depth, quad, TextureView::of(texture), projection, view, PixelWrite::Replace);
    expectDrawnExactly(target, [](int, int) { return false; });
}

TEST(DrawRegion, QuadsNamingMissingVerticesOrTextureCoordinatesAreSkipped) {
    TRegion region = windowRectangle(2.5f, 2.5f, 10.5f, 10.5f, 0.0f, 17);
    region.quads.push_back({0, 1, 2, 4});          // vertex 4 does not exist
    region.textureQuads.push_back({0, 1, 2, 3});
    region.quads.push_back({0, 1, 2, 3});          // texture coordinate 9 does not
    region.textureQuads.push_back({0, 1, 9, 3});
    region.quads.push_back({0, 1, 2, 3});          // no texture quad at all
    Target target(17);
    draw(target, region, constantTexture(4, 4, {1, 2, 3, 4}));
    expectDrawnExactly(target, [](int x, int y) { return x >= 3 && x <= 10 && y >= 3 && y <= 10; });
}

TEST(DrawRegion, HostileRegionsAndTexturesNeverReachOutsideTheirBuffers) {
    std::mt19937 random(99);
    auto anyFloat = [&random] { return std::bit_cast<float>(static_cast<uint32_t>(random())); };
    std::uniform_real_distribution<float> small(-1.5f, 1.5f);
    const std::pair<int, int> textureSizes[] = {{1, 1}, {1, 7}, {7, 1}, {2, 2}, {5, 3}};
    for (int trial = 0; trial < 300; ++trial) {
        TRegion region;
        const int vertexCount = 1 + trial % 9;
        for (int i = 0; i < vertexCount; ++i) {
            const bool wild = trial % 3 == 0;
            region.vertices.push_back({wild ? anyFloat() : small(random), wild ? anyFloat() : small(random),
                                       wild ? anyFloat() : small(random)});
            region.textureCoords.push_back({trial % 2 ? anyFloat() : small(random), small(random)});
        }
        std::uniform_int_distribution<int32_t> corner(-1, vertexCount);
        for (int q = 0; q < 12; ++q) {
            region.quads.push_back({corner(random), corner(random), corner(random), corner(random)});
            region.textureQuads.push_back({corner(random), corner(random), corner(random), corner(random)});
        }
        const auto [tw, th] = textureSizes[trial % 5];
        const PixelBuffer texture = constantTexture(tw, th, {5, 6, 7, 8});
        Target target(9 + trial % 4);
        draw(target, region, texture, trial % 2 ? PixelWrite::Replace : PixelWrite::Blend);
    }
}

// ---- TAVO_RenderModelToImage ------------------------------------------------------

ImageHandle constantImage(int width, int height, Rgba colour) {
    std::vector<uint8_t> pixels(static_cast<std::size_t>(width * height * 4));
    for (std::size_t k = 0; k < pixels.size(); ++k) pixels[k] = colour[k % 4];
    ImageHandle image = -1;
    EXPECT_EQ(TAVO_LoadImageFromBuffer(&image, pixels.data(), width, height, 4 * width, TAVO_IMAGEMODE_COLOR_ALPHA),
              TAVOIMG_OK);
    return image;
}

using render_test::pixelsOf;

// A rendered image, read back in mode 2 (rows top first).
struct Rendered {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
    Rgba at(int x, int row) const {
        const uint8_t *p = &pixels[static_cast<std::size_t>(4 * (row * width + x))];
        return Rgba{p[0], p[1], p[2], p[3]};
    }
};

// A model quad from (x0, y0) to (x1, y1) at depth z, texture over all of [0, 1]^2.
TRegion modelRectangle(float x0, float y0, float x1, float y1, float z) {
    TRegion region;
    region.vertices = {{x0, y0, z}, {x1, y0, z}, {x1, y1, z}, {x0, y1, z}};
    region.textureCoords = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    region.quads = {{0, 1, 2, 3}};
    region.textureQuads = {{0, 1, 2, 3}};
    return region;
}

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        TAVO_BeginRendering(64, 64);
        ASSERT_EQ(TAVO_InitModel(&handle, 1), TAVO_OK);
        model = resolveModel(handle);
    }
    void TearDown() override {
        TAVO_FreeModel(handle);
        for (ImageHandle image : shared) TAVO_FreeImage(image);
        TAVO_BeginRendering(0, 0);
    }
    // A shared image (sock or teeth) that the test owns.
    ImageHandle sharedImage(Rgba colour) {
        shared.push_back(constantImage(8, 8, colour));
        return shared.back();
    }
    void setTexture(Rgba colour) {
        const ImageHandle image = constantImage(8, 8, colour);
        ASSERT_EQ(TAVO_SetModelTexture(handle, image), TAVO_OK);
        TAVO_FreeImage(image);
    }
    Rendered render() {
        Rendered result;
        ImageHandle image = -1;
        TAVO_CreateEmptyImage(&image);
        EXPECT_EQ(TAVO_RenderModelToImage(handle, image), TAVO_OK);
        TAVO_GetImageWidth(image, &result.width);
        TAVO_GetImageHeight(image, &result.height);
        result.pixels = pixelsOf(image);
        TAVO_FreeImage(image);
        return result;
    }

    int32_t handle = -1;
    TModel *model = nullptr;
    std::vector<ImageHandle> shared;
};

TEST_F(RenderTest, FacePixelsWhoseColourIsNotBlackNeverShowTheInnerPass) {
    setTexture({200, 100, 50, 255});
    model->sockImage = sharedImage({10, 200, 30, 77});
    model->regions.resize(6);
    model->regions[0] = modelRectangle(-1.0f, -1.0f, 1.0f, 1.0f, 0.0f);
    const Rendered faceOnly = render();
    model->regions[5] = modelRectangle(-2.0f, -2.0f, 2.0f, 2.0f, -1.0f);
    const Rendered both = render();
    int facePixels = 0, innerPixels = 0;
    for (int row = 0; row < 64; ++row) {
        for (int x = 0; x < 64; ++x) {
            if (faceOnly.at(x, row) != Rgba{0, 0, 0, 0}) {
                ++facePixels;
                EXPECT_EQ(both.at(x, row), (Rgba{200, 100, 50, 255})) << x << "," << row;
            } else if (both.at(x, row) != Rgba{0, 0, 0, 0}) {
                ++innerPixels;
                EXPECT_EQ(both.at(x, row), (Rgba{10, 200, 30, 77})) << x << "," << row;
            }
        }
    }
    EXPECT_GT(facePixels, 100);
    EXPECT_GT(innerPixels, 100);
}

TEST_F(RenderTest, BackgroundStaysZeroInAllFourBytesUnlessTheInnerPassDrew) {
    setTexture({200, 100, 50, 255});
    model->sockImage = sharedImage({10, 200, 30, 77});
    model->regions.resize(6);
    model->regions[0] = modelRectangle(-1.0f, -1.0f, 0.5f, 0.5f, 0.0f);
    model->regions[5] = modelRectangle(0.0f, 0.0f, 2.0f, 2.0f, -1.0f);
    const Rendered both = render();
    model->regions[5] = TRegion();
    const Rendered faceOnly = render();
    model->regions[0] = TRegion();
    model->regions[5] = modelRectangle(0.0f, 0.0f, 2.0f, 2.0f, -1.0f);
    const Rendered innerOnly = render();
    int background = 0;
    for (int row = 0; row < 64; ++row) {
        for (int x = 0; x < 64; ++x) {
            if (faceOnly.at(x, row) == Rgba{0, 0, 0, 0} && innerOnly.at(x, row) == Rgba{0, 0, 0, 0}) {
                ++background;
                EXPECT_EQ(both.at(x, row), (Rgba{0, 0, 0, 0})) << x << "," << row;
            }
        }
    }
    EXPECT_GT(background, 1000);
}

TEST_F(RenderTest, BlackFaceTexelIsReplacedByTheInnerPassEvenInsideTheFace) {
    setTexture({0, 0, 0, 255});
    model->sockImage = sharedImage({10, 200, 30, 77});
    model->regions.resize(6);
    model->regions[0] = modelRectangle(-1.0f, -1.0f, 1.0f, 1.0f, 0.0f);
    model->regions[5] = modelRectangle(-2.0f, -2.0f, 2.0f, 2.0f, -1.0f);
    const Rendered rendered = render();
    // The middle of the face: the sock's four bytes, alpha included.
    EXPECT_EQ(rendered.at(32, 32), (Rgba{10, 200, 30, 77}));
    for (std::size_t p = 0; p < rendered.pixels.size(); p += 4) {
        const Rgba pixel{rendered.pixels[p], rendered.pixels[p + 1], rendered.pixels[p + 2], rendered.pixels[p + 3]};
        EXPECT_TRUE(pixel == (Rgba{0, 0, 0, 0}) || pixel == (Rgba{10, 200, 30, 77})) << p / 4;
    }
}

TEST_F(RenderTest, LastRowAndLastColumnAreNeverDrawnAndTheTopOfTheViewIsTheFirstRow) {
    setTexture({200, 100, 50, 255});
    model->regions = {modelRectangle(-0.5f, 0.5f, 1.5f, 9.0f, 0.0f)};  // above the centre, past the top
    const Rendered rendered = render();
    ASSERT_EQ(rendered.width, 64);
    ASSERT_EQ(rendered.height, 64);
    int drawnAbove = 0, drawnBelow = 0;
    for (int row = 0; row < 64; ++row) {
        for (int x = 0; x < 64; ++x) {
            if (rendered.at(x, row) == Rgba{0, 0, 0, 0}) continue;
            (row < 32 ? drawnAbove : drawnBelow) += 1;
            EXPECT_NE(row, 0) << "the top row is window row H - 1";
            EXPECT_NE(x, 63) << "the last column";
        }
    }
    EXPECT_GT(drawnAbove, 100);
    EXPECT_EQ(drawnBelow, 0);
    // Row 1 (window row H - 2) is drawn: the quad does reach the top.
    EXPECT_EQ(rendered.at(32, 1), (Rgba{200, 100, 50, 255}));
}

TEST_F(RenderTest, TeethImageWithAlphaZeroLeavesTheSockAndWithAlpha255ReplacesIt) {
    setTexture({200, 100, 50, 255});
    model->sockImage = sharedImage({10, 200, 30, 77});
    model->regions.resize(6);
    model->regions[5] = modelRectangle(-2.0f, -2.0f, 2.0f, 2.0f, 0.0f);
    model->regions[3] = modelRectangle(-1.0f, 0.0f, 1.0f, 1.0f, -1.0f);   // upper teeth, behind the sock in z
    model->regions[4] = modelRectangle(-1.0f, -1.0f, 1.0f, -0.2f, 0.5f);  // lower teeth
    ASSERT_EQ(TAVO_ChooseTeethTextures(handle, false), TAVO_OK);
    model->upperTeethImage = sharedImage({250, 240, 230, 0});
    model->lowerTeethImage = sharedImage({251, 241, 231, 0});
    const Rendered invisible = render();
    model->regions[3] = TRegion();
    model->regions[4] = TRegion();
    const Rendered sockOnly = render();
    EXPECT_EQ(invisible.pixels, sockOnly.pixels);

    model->regions[3] = modelRectangle(-1.0f, 0.0f, 1.0f, 1.0f, -1.0f);
    model->regions[4] = modelRectangle(-1.0f, -1.0f, 1.0f, -0.2f, 0.5f);
    model->upperTeethImage = sharedImage({250, 240, 230, 255});
    model->lowerTeethImage = sharedImage({251, 241, 231, 255});
    const Rendered opaque = render();
    // Teeth over the sock: colour replaced, the sock's fourth byte kept.
    EXPECT_EQ(opaque.at(32, 24), (Rgba{250, 240, 230, 77}));
    EXPECT_EQ(opaque.at(32, 36), (Rgba{251, 241, 231, 77}));
    EXPECT_EQ(opaque.at(32, 16), (Rgba{10, 200, 30, 77}));
    EXPECT_EQ(sockOnly.at(32, 24), (Rgba{10, 200, 30, 77}));
}

TEST_F(RenderTest, TeethFromTheModelTextureAreDrawnWithoutBlending) {
    setTexture({200, 100, 50, 9});
    model->sockImage = sharedImage({10, 200, 30, 77});
    model->regions.resize(6);
    model->regions[5] = modelRectangle(-2.0f, -2.0f, 2.0f, 2.0f, 0.0f);
    model->regions[3] = modelRectangle(-1.0f, 0.0f, 1.0f, 1.0f, -1.0f);
    model->upperTeethImage = sharedImage({250, 240, 230, 255});
    const Rendered rendered = render();
    EXPECT_EQ(rendered.at(32, 24), (Rgba{200, 100, 50, 9}));
}

TEST_F(RenderTest, ModelsDifferingOnlyInRotationKeepTheDepthOrderOfTheirTriangles) {
    // Quad A at model z 0.5, quad B at z -0.5 behind it. Turned 180 degrees
    // about y, B is in front in eye space, but the depth key is of model z.
    ImageHandle texture = -1;
    std::vector<uint8_t> pixels(16 * 4);
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y) {
            uint8_t *p = &pixels[static_cast<std::size_t>(4 * (y * 4 + x))];
            p[0] = y < 2 ? 220 : 20;  // top half of the texture (v >= 0.5) red, bottom blue
            p[2] = y < 2 ? 20 : 220;
            p[3] = 255;
        }
    ASSERT_EQ(TAVO_LoadImageFromBuffer(&texture, pixels.data(), 4, 4, 16, TAVO_IMAGEMODE_COLOR_ALPHA), TAVOIMG_OK);
    ASSERT_EQ(TAVO_SetModelTexture(handle, texture), TAVO_OK);
    TAVO_FreeImage(texture);
    TRegion front = modelRectangle(-1.0f, -1.0f, 1.0f, 1.0f, 0.5f);
    front.textureCoords = {{0.0f, 0.9f}, {1.0f, 0.9f}, {1.0f, 1.0f}, {0.0f, 1.0f}};  // red
    TRegion back = modelRectangle(-2.0f, -2.0f, 2.0f, 2.0f, -0.5f);
    back.textureCoords = {{0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 0.1f}, {0.0f, 0.1f}};  // blue
    model->regions = {back, front};
    const Rendered unrotated = render();
    TAVO_RotateModel(handle, 0.0f, 180.0f, 0.0f);
    const Rendered turned = render();
    EXPECT_EQ(unrotated.at(31, 32)[0], 220);
    EXPECT_EQ(turned.at(31, 32)[0], 220);
    EXPECT_EQ(turned.at(31, 32)[2], 20);
}

TEST_F(RenderTest, FlatCameraPixelsMatchTheSceneOfDrawRegion) {
    // The renderer's own camera: the same scene through the exported call and
    // through drawRegion with the same matrices gives the same pixels, flipped.
    setTexture({200, 100, 50, 255});
    model->regions = {modelRectangle(-1.3f, -0.7f, 1.1f, 1.9f, 0.2f)};
    model->rotation = {10.0f, -20.0f, 5.0f};
    TAVO_SetModelPerspective(handle, 12.0f);
    const Rendered rendered = render();
    Target target(64);
    const PixelBuffer texture = PixelBuffer::fromImage(model->texture, PixelMode::ColorAlpha);
    drawRegion(target.colour, target.depth, model->regions[0], TextureView::of(texture), projectionMatrix(12.0f),
               viewMatrix(*model, 400.0f / 12.0f), PixelWrite::Replace);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) EXPECT_EQ(rendered.at(x, 63 - y), target.pixel(x, y)) << x << "," << y;
}

TEST_F(RenderTest, ModelPerspectiveBelowOneThousandthRendersAsOneThousandth) {
    setTexture({200, 100, 50, 255});
    model->regions = {modelRectangle(-1.3f, -0.7f, 1.1f, 1.9f, 0.2f)};
    TAVO_SetModelPerspective(handle, 0.001f);
    const Rendered reference = render();
    for (float angle : {0.0f, -30.0f, 0.0005f}) {
        TAVO_SetModelPerspective(handle, angle);
        EXPECT_EQ(render().pixels, reference.pixels) << angle;
    }
}

// ---- Choices where Part 4.2 leaves things open (docs/decisions.md) -------------

TEST_F(RenderTest, ModelWithFewerThanEightRegionsRendersTheRegionsItHas) {
    setTexture({200, 100, 50, 255});
    model->regions = {modelRectangle(-1.0f, -1.0f, 1.0f, 1.0f, 0.0f)};
    const Rendered rendered = render();
    EXPECT_EQ(rendered.at(32, 32), (Rgba{200, 100, 50, 255}));
    EXPECT_EQ(model->regions.size(), 1u);
}

TEST_F(RenderTest, RegionSixIsNeverDrawn) {
    setTexture({200, 100, 50, 255});
    model->regions.resize(7);
    model->regions[6] = modelRectangle(-2.0f, -2.0f, 2.0f, 2.0f, 0.0f);
    const Rendered rendered = render();
    EXPECT_EQ(rendered.pixels, std::vector<uint8_t>(64 * 64 * 4, 0));
}

TEST_F(RenderTest, EmptyModelTextureDrawsNoFace) {
    model->regions = {modelRectangle(-1.0f, -1.0f, 1.0f, 1.0f, 0.0f)};
    const Rendered rendered = render();
    EXPECT_EQ(rendered.pixels, std::vector<uint8_t>(64 * 64 * 4, 0));
}

TEST_F(RenderTest, NegativeOrZeroAreaRenderSizeRendersAnEmptyImage) {
    setTexture({200, 100, 50, 255});
    model->regions = {modelRectangle(-1.0f, -1.0f, 1.0f, 1.0f, 0.0f)};
    for (auto [width, height] : {std::pair{-5, 10}, std::pair{10, -5}, std::pair{-3, -3}, std::pair{0, 10},
                                 std::pair{10, 0}, std::pair{INT32_MIN, INT32_MIN}}) {
        TAVO_BeginRendering(width, height);
        const ImageHandle image = constantImage(3, 3, {1, 2, 3, 4});
        EXPECT_EQ(TAVO_RenderModelToImage(handle, image), TAVO_OK);
        int32_t w = -1, h = -1;
        TAVO_GetImageWidth(image, &w);
        TAVO_GetImageHeight(image, &h);
        EXPECT_EQ(w, 0) << width << "x" << height;
        EXPECT_EQ(h, 0);
        TAVO_FreeImage(image);
    }
}

TEST_F(RenderTest, BadHandleReturnsMinusFourAndLeavesTheImage) {
    const ImageHandle image = constantImage(3, 3, {1, 2, 3, 4});
    const std::vector<uint8_t> before = pixelsOf(image);
    for (int32_t bad : {-1, INT32_MIN, INT32_MAX, handle + 1000})
        EXPECT_EQ(TAVO_RenderModelToImage(bad, image), TAVO_ERR_INVALID_HANDLE);
    EXPECT_EQ(pixelsOf(image), before);
    TAVO_FreeImage(image);
}

TEST_F(RenderTest, InvalidImageOrOversizedRenderSizeReturnsMinusOneAndChangesNothing) {
    render_test::SyntheticHead head = render_test::makeSyntheticHead();
    libraryState().list7Table = head.list7;
    model->regions = head.regions;
    model->regions[7].vertices = {{1.0f, 2.0f, 3.0f}};
    EXPECT_EQ(TAVO_RenderModelToImage(handle, -1), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_RenderModelToImage(handle, 12345), TAVO_ERR_GENERAL);
    const ImageHandle image = constantImage(3, 3, {1, 2, 3, 4});
    const std::vector<uint8_t> before = pixelsOf(image);
    for (auto [width, height] : {std::pair{40000, 2}, std::pair{2, 40000}, std::pair{20000, 20000}}) {
        TAVO_BeginRendering(width, height);
        EXPECT_EQ(TAVO_RenderModelToImage(handle, image), TAVO_ERR_GENERAL);
    }
    EXPECT_EQ(model->regions[7].vertices.size(), 1u);  // not rebuilt
    EXPECT_EQ(pixelsOf(image), before);
    TAVO_FreeImage(image);
}

// ---- The synthetic head: mouth cavity and golden images ---------------------------

// Part 3.4, BuildMouthCap, written out here from the Part: the expected
// region 7 for the current region 0 and list7 table.
TRegion expectedMouthCap(const TRegion &face, const std::vector<int32_t> &list7) {
    const std::size_t n = list7.size();
    const TVector3f a = face.vertices[415], b = face.vertices[371];
    const TVector3f centre{0.5f * a.x + 0.5f * b.x, 0.5f * a.y + 0.5f * b.y, 0.5f * a.z + 0.5f * b.z};
    auto low = [](TVector3f v) { return TVector3f{v.x, v.y, v.z - 0.13f}; };
    TRegion cap;
    for (std::size_t k = 0; k < n; ++k) {
        cap.vertices.push_back(low(face.vertices[static_cast<std::size_t>(list7[k])]));
        cap.vertices.push_back(low(face.vertices[static_cast<std::size_t>(list7[(k + 1) % n])]));
        cap.vertices.push_back(low(centre));
        const auto first = static_cast<int32_t>(3 * k);
        cap.quads.push_back({first, first + 1, first + 2, first + 2});
    }
    cap.textureQuads = cap.quads;
    cap.textureCoords.assign(3 * n, TPointf{0.0f, 0.0f});
    return cap;
}

bool sameRegion(const TRegion &x, const TRegion &y) {
    if (x.vertices.size() != y.vertices.size() || x.quads != y.quads || x.textureQuads != y.textureQuads ||
        x.textureCoords.size() != y.textureCoords.size())
        return false;
    using Bits = std::array<uint32_t, 3>;
    for (std::size_t i = 0; i < x.vertices.size(); ++i)
        if (std::bit_cast<Bits>(x.vertices[i]) != std::bit_cast<Bits>(y.vertices[i])) return false;
    for (std::size_t i = 0; i < x.textureCoords.size(); ++i)
        if (x.textureCoords[i].x != y.textureCoords[i].x || x.textureCoords[i].y != y.textureCoords[i].y) return false;
    return true;
}

class SyntheticHeadTest : public RenderTest {
protected:
    void SetUp() override {
        RenderTest::SetUp();
        head = render_test::makeSyntheticHead();
        libraryState().list7Table = head.list7;
        model->regions = head.regions;
        model->extraRegion = -1;
        const ImageHandle texture = render_test::makeImageHandle(head.texture);
        ASSERT_EQ(TAVO_SetModelTexture(handle, texture), TAVO_OK);
        TAVO_FreeImage(texture);
        shared = {render_test::makeImageHandle(head.sock), render_test::makeImageHandle(head.upperTeeth),
                  render_test::makeImageHandle(head.lowerTeeth)};
        model->sockImage = shared[0];
        model->upperTeethImage = shared[1];
        model->lowerTeethImage = shared[2];
        TAVO_BeginRendering(256, 256);
    }
    render_test::SyntheticHead head;
};

TEST_F(SyntheticHeadTest, AfterRenderingRegionSevenHoldsTheFanRebuiltFromTheCurrentLipVertices) {
    // Move the lips, as a morph would, then render.
    for (int32_t index : head.list7) model->regions[0].vertices[static_cast<std::size_t>(index)].y += 0.05f;
    model->regions[0].vertices[415].z += 0.1f;
    render();
    EXPECT_TRUE(sameRegion(model->regions[7], expectedMouthCap(model->regions[0], head.list7)));
    EXPECT_EQ(model->regions[7].vertices.size(), 114u);
    EXPECT_EQ(model->regions[7].quads.size(), 38u);
}

TEST_F(SyntheticHeadTest, ZeroAreaRenderStillRebuildsTheMouthCavity) {
    TAVO_BeginRendering(0, 0);
    render();
    EXPECT_TRUE(sameRegion(model->regions[7], expectedMouthCap(model->regions[0], head.list7)));
}

TEST_F(SyntheticHeadTest, MouthCavityPunchesAHoleInTheFacePassThatShowsTheTeeth) {
    const Rendered rendered = render();
    // The middle of the mouth (between the lips): teeth of the model texture
    // (near white), not the back of the head.
    bool sawTeeth = false;
    for (int row = 150; row < 185; ++row)
        for (int x = 110; x < 146; ++x) {
            const Rgba p = rendered.at(x, row);
            if (p[0] >= 240 && p[1] >= 235 && p[2] >= 220) sawTeeth = true;
        }
    EXPECT_TRUE(sawTeeth);
}

// Golden images (render/golden_image.h): compared bit for bit, so that any
// change of the rasteriser's output shows. KELMO_UPDATE_GOLDENS=1 rewrites them.
void expectMatchesGolden(const Rendered &rendered, const std::string &name) {
    render_test::expectMatchesGolden(rendered.pixels, rendered.width, rendered.height,
                                     std::string(KELMO_GOLDEN_DIR) + "/" + name);
}

TEST_F(SyntheticHeadTest, FrontViewMatchesTheGoldenImage) {
    const Rendered rendered = render();
    ASSERT_EQ(rendered.width, 256);
    expectMatchesGolden(rendered, "synthetic_head_front_256.png");
}

TEST_F(SyntheticHeadTest, ViewRotatedThirtyDegreesAboutYMatchesTheGoldenImage) {
    TAVO_RotateModel(handle, 0.0f, 30.0f, 0.0f);
    TAVO_SetModelPerspective(handle, 30.0f);
    TAVO_ChooseTeethTextures(handle, false);
    const Rendered rendered = render();
    expectMatchesGolden(rendered, "synthetic_head_rotated30y_256.png");
}

}  // namespace
}  // namespace kelmo
