// Part 4.1: camera and projection. Expected values come from the Part's
// formulas worked in the test, and from an independent oracle: Mesa's
// gluProject fed with the matrices that glTranslatef, glMultMatrixf, glRotatef,
// glScalef and glFrustum build in an off-screen Mesa context.
#include <GL/gl.h>
#include <GL/glu.h>
#include <GL/osmesa.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

#include "frame/library_state.h"
#include "kelmo.h"
#include "model/model_table.h"
#include "render/camera.h"

// Under LeakSanitizer: OSMesa keeps a few small objects of its contexts after
// OSMesaDestroyContext (Mesa's own, allocated inside libOSMesa); they are not
// the library's and are not reported. Nothing else is suppressed.
extern "C" __attribute__((visibility("default"))) const char *__lsan_default_suppressions() {
    return "leak:libOSMesa.so\n";
}

namespace kelmo {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Every test starts from the process-wide defaults of Part 4.1 and a fresh model.
class CameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        TAVO_SetPerspective(1.0f);
        TAVO_BeginRendering(0, 0);
        ASSERT_EQ(TAVO_InitModel(&handle, 1), TAVO_OK);
        model = resolveModel(handle);
        ASSERT_NE(model, nullptr);
    }
    void TearDown() override {
        TAVO_FreeModel(handle);
        TAVO_SetPerspective(1.0f);
        TAVO_BeginRendering(0, 0);
    }

    // One region holding `vertices` (no quads).
    void setVertices(std::size_t region, const std::vector<TVector3f> &vertices) {
        if (model->regions.size() <= region) model->regions.resize(region + 1);
        model->regions[region].vertices = vertices;
    }

    std::vector<int32_t> project(int32_t region) {
        std::vector<int32_t> points(2 * model->regions[static_cast<std::size_t>(region)].vertices.size(), -7);
        EXPECT_EQ(TAVO_ProjectModelVertices(handle, region, points.data()), TAVO_OK);
        return points;
    }

    int32_t handle = -1;
    TModel *model = nullptr;
};

// ---- Edge cases of Part 4.1 ---------------------------------------------------

TEST_F(CameraTest, DefaultTransformProjectsLiftedOriginToViewportCentre) {
    // Point (0, -0.15, 0): the camera lift brings it to eye (0, 0, -400).
    const Matrix4 view = viewMatrix(*model, cameraDistanceOf(1.0f));
    const Matrix4 projection = projectionMatrix(1.0f);
    for (const auto &[width, height] : {std::pair{101, 101}, std::pair{100, 60}, std::pair{256, 256}}) {
        WindowPoint window;
        ASSERT_TRUE(projectPoint(TVector3f{0.0f, -0.15f, 0.0f}, view, projection, renderViewport(width, height),
                                 window));
        EXPECT_EQ(window.x, static_cast<float>(width - 1) / 2.0f);
        EXPECT_EQ(window.y, static_cast<float>(height - 1) / 2.0f);
    }
}

TEST_F(CameraTest, RotateModelTwiceWithTheSameAnglesEqualsOnce) {
    setVertices(0, {{1.0f, 0.5f, 0.25f}, {-0.7f, 1.2f, -0.4f}, {0.3f, -1.1f, 0.9f}});
    TAVO_BeginRendering(300, 200);
    ASSERT_EQ(TAVO_RotateModel(handle, 10.0f, 20.0f, 30.0f), TAVO_OK);
    const std::vector<int32_t> once = project(0);
    ASSERT_EQ(TAVO_RotateModel(handle, 10.0f, 20.0f, 30.0f), TAVO_OK);
    EXPECT_EQ(project(0), once);
    // Adding the angles would have given the doubled rotation, which differs.
    ASSERT_EQ(TAVO_RotateModel(handle, 20.0f, 40.0f, 60.0f), TAVO_OK);
    EXPECT_NE(project(0), once);
    EXPECT_EQ(model->rotation, (std::array<float, 3>{20.0f, 40.0f, 60.0f}));
}

TEST_F(CameraTest, RotationOfNinetyDegreesAboutZMapsModelXToEyeY) {
    model->rotation = {0.0f, 0.0f, 90.0f};
    const Matrix4 view = viewMatrix(*model, 400.0f);
    // e = V * (1, 0, 0, 1): x -> y, counter-clockwise seen from +z, then the lift.
    const float ex = view[0] + view[12];
    const float ey = view[1] + view[13];
    const float ez = view[2] + view[14];
    EXPECT_NEAR(ex, 0.0f, 1e-6f);
    EXPECT_NEAR(ey, 1.0f + kCameraLift, 1e-6f);
    EXPECT_NEAR(ez, -400.0f, 1e-4f);
    // And model y goes to eye -x.
    EXPECT_NEAR(view[4], -1.0f, 1e-6f);
    EXPECT_NEAR(view[5], 0.0f, 1e-6f);
}

// A vertex whose ndc y is exactly +1 or -1. A deformation matrix keeps x and
// y and sets every point's z to m, so eye depth is m - 400 = -w exactly; the
// clip y is c = P5 * (y + 0.15) and ndc y = c * (1 / w). With w = |c| (c has
// few enough bits for 400 - w to be exact when 144 < |c| < 200), ndc y is +-1
// exactly for most y; the y is searched with the Part's formulas written out
// here.
TEST_F(CameraTest, ProjectModelVerticesMapsTopViewportEdgeToOneAndBottomEdgeToRenderHeight) {
    // Projection element 5 for the angle 1, as Part 4.1 computes it.
    const float nearPlane = 400.0f - 4.0f;
    const float yMax = nearPlane * std::tan(static_cast<float>(static_cast<double>(1.0f * 3.1415927f) / 360.0));
    const auto p5 = static_cast<float>(2.0 * static_cast<double>(nearPlane) / static_cast<double>(yMax - -yMax));
    TAVO_BeginRendering(100, 100);
    for (const float ndc : {1.0f, -1.0f}) {
        float y = ndc * 1.5f - kCameraLift;
        float w = 0.0f;
        for (int step = 0; step < 100000; ++step, y = std::nextafter(y, ndc * 10.0f)) {
            const float c = p5 * (y + kCameraLift);
            const auto q = static_cast<float>(1.0 / static_cast<double>(std::fabs(c)));
            if (std::fabs(c) > 144.0f && std::fabs(c) < 200.0f && c * q == ndc) {
                w = std::fabs(c);
                break;
            }
        }
        ASSERT_NE(w, 0.0f) << "no vertex found for ndc " << ndc;
        ASSERT_EQ((400.0f - w) - 400.0f, -w);  // the eye depth is exact
        // z := 400 - w, so the eye depth is -w.
        model->deformation = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 400.0f - w, 1};
        setVertices(0, {{0.0f, y, 0.0f}});
        const std::vector<int32_t> points = project(0);
        // Window y = (ndc * 0.5 + 0.5) * 99: 99 at the top, 0 at the bottom.
        EXPECT_EQ(points[1], ndc > 0.0f ? 100 - 99 : 100);
        // x: ndc 0 -> window (0 * 0.5 + 0.5) * 99 = 49.5 -> 49.
        EXPECT_EQ(points[0], 49);
    }
}

TEST_F(CameraTest, GetModel2DProjectionOnRenderSize101SubtractsFiftyFromBoth) {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> coordinate(-2.0f, 2.0f);
    for (std::size_t region = 0; region < 3; ++region) {
        std::vector<TVector3f> vertices;
        for (int i = 0; i < 40; ++i) vertices.push_back({coordinate(random), coordinate(random), coordinate(random)});
        setVertices(region, vertices);
    }
    for (int i = 0; i < kFeaturePointCount; ++i) model->featureVertices[static_cast<std::size_t>(i)] = (i * 7) % 40;
    model->rotation = {5.0f, -12.0f, 3.0f};
    TAVO_BeginRendering(101, 101);
    const std::vector<int32_t> projected[3] = {project(0), project(1), project(2)};
    std::vector<int32_t> points(132, -7);
    ASSERT_EQ(TAVO_GetModel2DProjection(handle, points.data()), TAVO_OK);
    for (int i = 0; i < kFeaturePointCount; ++i) {
        // Step 2 without an extra region: 2 for 0, 29, 30; 1 for 1, 33, 34.
        const int region = (i == 0 || i == 29 || i == 30) ? 2 : (i == 1 || i == 33 || i == 34) ? 1 : 0;
        const std::size_t vertex = static_cast<std::size_t>((i * 7) % 40);
        EXPECT_EQ(points[2 * static_cast<std::size_t>(i)], projected[region][2 * vertex] - 50) << i;
        EXPECT_EQ(points[2 * static_cast<std::size_t>(i) + 1], projected[region][2 * vertex + 1] - 50) << i;
    }
}

TEST_F(CameraTest, GetModel2DProjectionTakesTheSixPointsFromTheExtraRegion) {
    for (std::size_t region = 0; region < 4; ++region) {
        std::vector<TVector3f> vertices;
        for (int i = 0; i < 10; ++i)
            vertices.push_back({0.2f * static_cast<float>(i) - 1.0f, 0.3f * static_cast<float>(region) - 0.5f, 0.0f});
        setVertices(region, vertices);
    }
    model->extraRegion = 3;
    for (int i = 0; i < kFeaturePointCount; ++i) model->featureVertices[static_cast<std::size_t>(i)] = i % 10;
    TAVO_BeginRendering(64, 48);
    const std::vector<int32_t> fromExtra = project(3);
    const std::vector<int32_t> fromFace = project(0);
    std::vector<int32_t> points(132);
    ASSERT_EQ(TAVO_GetModel2DProjection(handle, points.data()), TAVO_OK);
    for (int i = 0; i < kFeaturePointCount; ++i) {
        const bool six = i == 0 || i == 29 || i == 30 || i == 1 || i == 33 || i == 34;
        const std::vector<int32_t> &expected = six ? fromExtra : fromFace;
        const std::size_t vertex = static_cast<std::size_t>(i % 10);
        EXPECT_EQ(points[2 * static_cast<std::size_t>(i)], expected[2 * vertex] - 32) << i;
        EXPECT_EQ(points[2 * static_cast<std::size_t>(i) + 1], expected[2 * vertex + 1] - 24) << i;
    }
}

// A one-quad textured model for the two tests below.
void giveTexturedQuad(int32_t handle, TModel &model) {
    TRegion quad;
    quad.vertices = {{-2.0f, -2.0f, 0.0f}, {3.0f, -1.0f, 1.0f}, {2.5f, 2.0f, 0.5f}, {-1.5f, 2.5f, -0.5f}};
    quad.textureCoords = {{0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 1.0f}, {0.0f, 1.0f}};
    quad.quads = {{0, 1, 2, 3}};
    quad.textureQuads = {{0, 1, 2, 3}};
    model.regions = {quad};
    std::vector<uint8_t> pixels(8 * 8 * 4);
    for (std::size_t k = 0; k < pixels.size(); ++k) pixels[k] = static_cast<uint8_t>(40 + k * 3);
    ImageHandle image = -1;
    ASSERT_EQ(TAVO_LoadImageFromBuffer(&image, pixels.data(), 8, 8, 32, TAVO_IMAGEMODE_COLOR_ALPHA), TAVOIMG_OK);
    ASSERT_EQ(TAVO_SetModelTexture(handle, image), TAVO_OK);
    TAVO_FreeImage(image);
}

std::vector<uint8_t> render(int32_t handle) {
    ImageHandle image = -1;
    EXPECT_EQ(TAVO_CreateEmptyImage(&image), TAVOIMG_OK);
    EXPECT_EQ(TAVO_RenderModelToImage(handle, image), TAVO_OK);
    int32_t size = 0;
    TAVO_GetImageBufferSize(image, &size, TAVO_IMAGEMODE_COLOR_ALPHA);
    std::vector<uint8_t> pixels(static_cast<std::size_t>(size));
    TAVO_SaveImageToBuffer(image, pixels.data(), TAVO_IMAGEMODE_COLOR_ALPHA);
    TAVO_FreeImage(image);
    return pixels;
}

TEST_F(CameraTest, SetModelPerspectiveChangesRendersOnly) {
    giveTexturedQuad(handle, *model);
    TAVO_BeginRendering(64, 64);
    const std::vector<int32_t> projectedBefore = project(0);
    const std::vector<uint8_t> renderedBefore = render(handle);
    ASSERT_EQ(TAVO_SetModelPerspective(handle, 40.0f), TAVO_OK);
    EXPECT_EQ(model->perspective, 40.0f);
    EXPECT_EQ(project(0), projectedBefore);
    EXPECT_NE(render(handle), renderedBefore);
}

TEST_F(CameraTest, SetPerspectiveChangesProjectionsOnly) {
    giveTexturedQuad(handle, *model);
    TAVO_BeginRendering(64, 64);
    const std::vector<int32_t> projectedBefore = project(0);
    const std::vector<uint8_t> renderedBefore = render(handle);
    ASSERT_EQ(TAVO_SetPerspective(40.0f), TAVO_OK);
    EXPECT_EQ(libraryState().globalPerspective, 40.0f);
    EXPECT_EQ(libraryState().globalCameraDistance, 400.0f / 40.0f);
    EXPECT_NE(project(0), projectedBefore);
    EXPECT_EQ(render(handle), renderedBefore);
}

TEST_F(CameraTest, EndRenderingLeavesTheRenderSizeAsItWas) {
    ASSERT_EQ(TAVO_BeginRendering(320, 240), TAVO_OK);
    EXPECT_EQ(TAVO_EndRendering(), TAVO_OK);
    EXPECT_EQ(libraryState().renderWidth, 320);
    EXPECT_EQ(libraryState().renderHeight, 240);
}

// ---- Choices where Part 4.1 leaves things open (docs/decisions.md) -----------

TEST_F(CameraTest, DeformationIndexOutsideZeroToFifteenReturnsMinusOneAndWritesNothing) {
    const auto before = model->deformation;
    for (int32_t index : {-1, 16, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(TAVO_SetDeformationMatrixElement(handle, index, 9.0f), TAVO_ERR_GENERAL) << index;
        EXPECT_EQ(model->deformation, before);
    }
    for (int32_t index = 0; index < 16; ++index) {
        EXPECT_EQ(TAVO_SetDeformationMatrixElement(handle, index, static_cast<float>(index) + 0.5f), TAVO_OK);
        EXPECT_EQ(model->deformation[static_cast<std::size_t>(index)], static_cast<float>(index) + 0.5f);
    }
}

TEST_F(CameraTest, VertexAtEyeDepthZeroProjectsToZeroAndRenderHeight) {
    // With the defaults the eye depth is z - 400: the vertex at z = 400 has none.
    setVertices(0, {{0.5f, 0.5f, 400.0f}, {0.0f, -0.15f, 0.0f}});
    TAVO_BeginRendering(80, 60);
    const std::vector<int32_t> points = project(0);
    EXPECT_EQ(points[0], 0);
    EXPECT_EQ(points[1], 60);
    EXPECT_EQ(points[2], 39);  // trunc(79 / 2)
    EXPECT_EQ(points[3], 60 - 29);
}

TEST_F(CameraTest, GlobalAngleOfZeroOrBelowMakesProjectionReturnMinusOneAndWriteNothing) {
    setVertices(0, {{0.5f, 0.5f, 0.0f}});
    TAVO_BeginRendering(80, 60);
    for (float angle : {0.0f, -0.0f, -5.0f, std::numeric_limits<float>::quiet_NaN()}) {
        ASSERT_EQ(TAVO_SetPerspective(angle), TAVO_OK);
        int32_t points[2] = {-7, -7};
        EXPECT_EQ(TAVO_ProjectModelVertices(handle, 0, points), TAVO_ERR_GENERAL) << angle;
        EXPECT_EQ(points[0], -7);
        EXPECT_EQ(points[1], -7);
        std::vector<int32_t> grid(132, -7);
        EXPECT_EQ(TAVO_GetModel2DProjection(handle, grid.data()), TAVO_ERR_GENERAL);
        EXPECT_EQ(grid, std::vector<int32_t>(132, -7));
    }
}

TEST_F(CameraTest, GetModel2DProjectionOfAModelWithoutItsRegionsReturnsMinusOneAndWritesNothing) {
    std::vector<int32_t> points(132, -7);
    // No regions at all.
    EXPECT_EQ(TAVO_GetModel2DProjection(handle, points.data()), TAVO_ERR_GENERAL);
    // Regions 0 and 1 only: points 0, 29, 30 name region 2.
    setVertices(1, {{0.0f, 0.0f, 0.0f}});
    setVertices(0, {{0.0f, 0.0f, 0.0f}});
    EXPECT_EQ(TAVO_GetModel2DProjection(handle, points.data()), TAVO_ERR_GENERAL);
    // A feature vertex beyond its region.
    setVertices(2, {{0.0f, 0.0f, 0.0f}});
    model->featureVertices[5] = 1;
    EXPECT_EQ(TAVO_GetModel2DProjection(handle, points.data()), TAVO_ERR_GENERAL);
    // An extra region that does not exist.
    model->featureVertices[5] = 0;
    model->extraRegion = 9;
    EXPECT_EQ(TAVO_GetModel2DProjection(handle, points.data()), TAVO_ERR_GENERAL);
    EXPECT_EQ(points, std::vector<int32_t>(132, -7));
    model->extraRegion = -1;
    EXPECT_EQ(TAVO_GetModel2DProjection(handle, points.data()), TAVO_OK);
}

// ---- Failure handling ---------------------------------------------------------

TEST_F(CameraTest, EverySetterReturnsMinusFourForABadHandleAndChangesNothing) {
    const int32_t freed = [] {
        int32_t h = -1;
        TAVO_InitModel(&h, 0);
        TAVO_FreeModel(h);
        return h;
    }();
    for (int32_t bad : {-1, INT32_MIN, INT32_MAX, freed}) {
        EXPECT_EQ(TAVO_SetModelPerspective(bad, 3.0f), TAVO_ERR_INVALID_HANDLE);
        EXPECT_EQ(TAVO_RotateModel(bad, 1.0f, 2.0f, 3.0f), TAVO_ERR_INVALID_HANDLE);
        EXPECT_EQ(TAVO_ScaleModel(bad, 1.0f, 2.0f, 3.0f), TAVO_ERR_INVALID_HANDLE);
        EXPECT_EQ(TAVO_SetDeformationMatrixElement(bad, 3, 2.0f), TAVO_ERR_INVALID_HANDLE);
        EXPECT_EQ(TAVO_SetDeformationMatrixElement(bad, 99, 2.0f), TAVO_ERR_INVALID_HANDLE);
        EXPECT_EQ(TAVO_ChooseTeethTextures(bad, false), TAVO_ERR_INVALID_HANDLE);
        int32_t points[132] = {};
        EXPECT_EQ(TAVO_ProjectModelVertices(bad, 0, points), TAVO_ERR_INVALID_HANDLE);
        EXPECT_EQ(TAVO_GetModel2DProjection(bad, points), TAVO_ERR_INVALID_HANDLE);
    }
    EXPECT_EQ(model->perspective, 1.0f);
    EXPECT_EQ(model->rotation, (std::array<float, 3>{0.0f, 0.0f, 0.0f}));
    EXPECT_EQ(model->scale, (std::array<float, 3>{1.0f, 1.0f, 1.0f}));
    EXPECT_EQ(model->deformation, identityMatrix());
    EXPECT_TRUE(model->teethFromModelTexture);
}

TEST_F(CameraTest, SettersStoreTheirValues) {
    EXPECT_EQ(TAVO_ScaleModel(handle, 2.0f, 3.0f, 4.0f), TAVO_OK);
    EXPECT_EQ(model->scale, (std::array<float, 3>{2.0f, 3.0f, 4.0f}));
    EXPECT_EQ(TAVO_ChooseTeethTextures(handle, false), TAVO_OK);
    EXPECT_FALSE(model->teethFromModelTexture);
    EXPECT_EQ(TAVO_ChooseTeethTextures(handle, true), TAVO_OK);
    EXPECT_TRUE(model->teethFromModelTexture);
    // The vertices are never touched by the transform setters.
    setVertices(0, {{1.0f, 2.0f, 3.0f}});
    TAVO_RotateModel(handle, 30.0f, 40.0f, 50.0f);
    TAVO_ScaleModel(handle, 5.0f, 5.0f, 5.0f);
    TAVO_SetDeformationMatrixElement(handle, 12, 4.0f);
    EXPECT_EQ(model->regions[0].vertices[0].x, 1.0f);
    EXPECT_EQ(model->regions[0].vertices[0].y, 2.0f);
    EXPECT_EQ(model->regions[0].vertices[0].z, 3.0f);
}

TEST_F(CameraTest, ProjectModelVerticesRefusesNullPointsAndRegionsOutsideTheModel) {
    setVertices(0, {{0.0f, 0.0f, 0.0f}});
    int32_t points[2] = {-7, -7};
    EXPECT_EQ(TAVO_ProjectModelVertices(handle, 0, nullptr), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_ProjectModelVertices(handle, -1, points), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_ProjectModelVertices(handle, 1, points), TAVO_ERR_GENERAL);
    // Part 2.2's order: a null pointer or a negative region before the handle.
    EXPECT_EQ(TAVO_ProjectModelVertices(-1, -1, points), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_ProjectModelVertices(-1, 1, points), TAVO_ERR_INVALID_HANDLE);
    EXPECT_EQ(points[0], -7);
    EXPECT_EQ(points[1], -7);
    EXPECT_EQ(TAVO_GetModel2DProjection(handle, nullptr), TAVO_ERR_GENERAL);
}

TEST_F(CameraTest, NonFiniteAndHugeProjectionsAreWrittenAsZeroOrSaturated) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    TAVO_BeginRendering(100, 80);
    // NaN coordinates give NaN window positions, written as 0 (frame/numeric.h):
    // x = 0 and y = 80 - 0. Window positions beyond the int32 range saturate,
    // and so does 80 - (window y) when window y is below the range.
    setVertices(0, {{nan, 0.0f, 0.0f}, {1e30f, -1e30f, 0.0f}, {-1e30f, 1e30f, 0.0f}});
    std::vector<int32_t> points = project(0);
    EXPECT_EQ(points, (std::vector<int32_t>{0, 80, INT32_MAX, INT32_MAX, INT32_MIN, 80 - INT32_MAX}));
    // Any transform and render size: a status, never a trap.
    setVertices(0, {{1e30f, -1e30f, 0.0f}, {nan, 0.0f, 0.0f}, {0.0f, inf, -inf}, {3e38f, 3e38f, 3e38f}});
    TAVO_BeginRendering(INT32_MAX, INT32_MIN);
    for (float value : {0.0f, inf, -inf, nan, 1e30f}) {
        model->rotation = {value, value, value};
        model->scale = {value, 1.0f, value};
        model->deformation[3] = value;
        TAVO_SetPerspective(std::fabs(value) > 0.0f ? std::fabs(value) : 1.0f);
        points.assign(8, -7);
        EXPECT_EQ(TAVO_ProjectModelVertices(handle, 0, points.data()), TAVO_OK);
    }
}

// ---- The matrices against Mesa ------------------------------------------------

// An off-screen Mesa context, so that the GL matrix functions can be called.
class MesaContext {
public:
    MesaContext() : buffer_(4 * 4 * 4) {
        context_ = OSMesaCreateContextExt(OSMESA_RGBA, 16, 0, 0, nullptr);
        if (context_ != nullptr) current_ = OSMesaMakeCurrent(context_, buffer_.data(), GL_UNSIGNED_BYTE, 4, 4);
    }
    ~MesaContext() {
        if (context_ != nullptr) OSMesaDestroyContext(context_);
    }
    bool ready() const { return context_ != nullptr && current_; }

private:
    std::vector<uint8_t> buffer_;
    OSMesaContext context_ = nullptr;
    bool current_ = false;
};

struct Transform {
    std::array<float, 3> rotation;
    std::array<float, 3> scale;
    std::array<float, 16> deformation;
    float angle;
};

// The model-view and projection matrices of the fixed-function pipeline for
// Part 4.1's camera: glTranslatef(0, 0.15, -D), glMultMatrixf(M), glRotatef
// about the three axes of steps 5 to 7 (the axes computed here in double),
// glScalef; glFrustum with near D - 4, far D + 4 and half-height near *
// tan(angle / 2).
void glMatrices(const Transform &t, double modelView[16], double projection[16]) {
    const double distance = 400.0 / t.angle;
    const double ay = t.rotation[1] * kPi / 180.0;
    const double az = t.rotation[2] * kPi / 180.0;
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(0.0f, 0.15f, static_cast<float>(-distance));
    glMultMatrixf(t.deformation.data());
    glRotatef(t.rotation[0], static_cast<float>(std::cos(ay) * std::cos(az)),
              static_cast<float>(std::cos(ay) * std::sin(az)), static_cast<float>(-std::sin(ay)));
    glRotatef(t.rotation[1], static_cast<float>(-std::sin(az)), static_cast<float>(std::cos(az)), 0.0f);
    glRotatef(t.rotation[2], 0.0f, 0.0f, 1.0f);
    glScalef(t.scale[0], t.scale[1], t.scale[2]);
    glGetDoublev(GL_MODELVIEW_MATRIX, modelView);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    const double nearPlane = distance - 4.0;
    const double yMax = nearPlane * std::tan(t.angle * kPi / 360.0);
    glFrustum(-yMax, yMax, -yMax, yMax, nearPlane, distance + 4.0);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
}

TEST(CameraOracle, RotationAboutAnAxisMatchesGlRotate) {
    MesaContext context;
    ASSERT_TRUE(context.ready());
    std::mt19937 random(11);
    std::uniform_real_distribution<float> angle(-360.0f, 360.0f);
    std::uniform_real_distribution<float> component(-2.0f, 2.0f);
    for (int trial = 0; trial < 200; ++trial) {
        const float degrees = angle(random);
        const float x = component(random), y = component(random), z = component(random);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glRotatef(degrees, x, y, z);
        float expected[16];
        glGetFloatv(GL_MODELVIEW_MATRIX, expected);
        const Matrix4 actual = rotationAboutAxis(degrees, x, y, z);
        for (int i = 0; i < 16; ++i) EXPECT_NEAR(actual[static_cast<std::size_t>(i)], expected[i], 2e-6f) << i;
    }
}

TEST(CameraOracle, ProjectionMatrixMatchesGlFrustum) {
    MesaContext context;
    ASSERT_TRUE(context.ready());
    for (float angle : {0.5f, 1.0f, 10.0f, 30.0f, 60.0f, 90.0f}) {
        double modelView[16], projection[16];
        glMatrices(Transform{{0, 0, 0}, {1, 1, 1}, identityMatrix(), angle}, modelView, projection);
        const Matrix4 actual = projectionMatrix(angle);
        for (int i = 0; i < 16; ++i) {
            EXPECT_NEAR(actual[static_cast<std::size_t>(i)], projection[i], 1e-5 * (1.0 + std::fabs(projection[i])))
                << "angle " << angle << " element " << i;
        }
    }
}

TEST(CameraOracle, ProjectModelVerticesAgreesWithGluProject) {
    MesaContext context;
    ASSERT_TRUE(context.ready());
    std::mt19937 random(2024);
    std::uniform_real_distribution<float> rotation(-60.0f, 60.0f);
    std::uniform_real_distribution<float> scale(0.5f, 1.5f);
    std::uniform_real_distribution<float> shear(-0.2f, 0.2f);
    std::uniform_real_distribution<float> coordinate(-3.0f, 3.0f);
    const float angles[] = {1.0f, 5.0f, 20.0f, 45.0f};
    const std::pair<int32_t, int32_t> sizes[] = {{256, 256}, {333, 200}, {1024, 768}};

    int32_t handle = -1;
    ASSERT_EQ(TAVO_InitModel(&handle, 1), TAVO_OK);
    TModel *model = resolveModel(handle);
    model->regions.resize(1);
    int compared = 0, onBoundary = 0;
    for (int trial = 0; trial < 120; ++trial) {
        Transform t{{rotation(random), rotation(random), rotation(random)},
                    {scale(random), scale(random), scale(random)},
                    identityMatrix(),
                    angles[trial % 4]};
        // A free deformation: a small shear and a translation (elements 12 to 14).
        for (int i : {1, 2, 4, 6, 8, 9}) t.deformation[static_cast<std::size_t>(i)] = shear(random);
        t.deformation[12] = shear(random);
        t.deformation[13] = shear(random);
        t.deformation[14] = shear(random);
        model->rotation = t.rotation;
        model->scale = t.scale;
        model->deformation = t.deformation;
        const auto [width, height] = sizes[trial % 3];
        TAVO_BeginRendering(width, height);
        TAVO_SetPerspective(t.angle);

        std::vector<TVector3f> vertices;
        for (int i = 0; i < 50; ++i) vertices.push_back({coordinate(random), coordinate(random), coordinate(random)});
        model->regions[0].vertices = vertices;
        std::vector<int32_t> points(2 * vertices.size());
        ASSERT_EQ(TAVO_ProjectModelVertices(handle, 0, points.data()), TAVO_OK);

        double modelView[16], projection[16];
        glMatrices(t, modelView, projection);
        const GLint viewport[4] = {0, 0, width - 1, height - 1};
        for (std::size_t i = 0; i < vertices.size(); ++i) {
            double wx = 0, wy = 0, wz = 0;
            ASSERT_EQ(gluProject(vertices[i].x, vertices[i].y, vertices[i].z, modelView, projection, viewport, &wx,
                                 &wy, &wz),
                      GL_TRUE);
            const auto expectedX = static_cast<int32_t>(wx);
            const auto expectedY = height - static_cast<int32_t>(wy);
            ++compared;
            // Within 1/1000 of a pixel of a whole number the two float
            // pipelines may truncate to neighbouring pixels: allowed, counted.
            const bool xBoundary = std::fabs(wx - std::round(wx)) < 1e-3;
            const bool yBoundary = std::fabs(wy - std::round(wy)) < 1e-3;
            if (points[2 * i] != expectedX || points[2 * i + 1] != expectedY) {
                ASSERT_TRUE((points[2 * i] == expectedX || (xBoundary && std::abs(points[2 * i] - expectedX) == 1)) &&
                            (points[2 * i + 1] == expectedY ||
                             (yBoundary && std::abs(points[2 * i + 1] - expectedY) == 1)))
                    << "trial " << trial << " vertex " << i << ": " << points[2 * i] << "," << points[2 * i + 1]
                    << " vs gluProject " << wx << "," << wy;
                ++onBoundary;
            }
        }
    }
    std::printf("gluProject oracle: %d points compared, %d differ by one pixel on a whole-number boundary\n",
                compared, onBoundary);
    EXPECT_LT(onBoundary, compared / 100);
    TAVO_FreeModel(handle);
    TAVO_SetPerspective(1.0f);
    TAVO_BeginRendering(0, 0);
}

}  // namespace
}  // namespace kelmo
