// The camera against Mesa: gluProject fed with the matrices that glTranslatef,
// glMultMatrixf, glRotatef, glScalef and glFrustum build in an off-screen
// context; then what the camera decides alone.
#include "render/camera.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <GL/osmesa.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

#include "model/model_table.h"
#include "support/table_check.h"

// OSMesa keeps a few small objects of its own after OSMesaDestroyContext.
extern "C" __attribute__((visibility("default"))) const char *__lsan_default_suppressions() {
    return "leak:libOSMesa.so\n";
}

namespace kelmo {

struct Camera : ::testing::Test {
    void SetUp() override {
        TAVO_InitModel(&handle, 1);
        model = resolveModel(handle);
        model->regions.resize(4);
    }
    void TearDown() override {
        TAVO_FreeModel(handle);
        TAVO_SetPerspective(1.0f);
        TAVO_BeginRendering(0, 0);
    }
    std::vector<int32_t> project(std::size_t region) {
        std::vector<int32_t> points(2 * model->regions[region].vertices.size());
        EXPECT_EQ(TAVO_ProjectModelVertices(handle, static_cast<int32_t>(region), points.data()), TAVO_OK);
        return points;
    }
    int32_t handle = -1;
    TModel *model = nullptr;
};

TEST_F(Camera, ProjectionAndProjectedVerticesAgreeWithMesa) {
    std::vector<uint8_t> buffer(64);
    OSMesaContext context = OSMesaCreateContextExt(OSMESA_RGBA, 16, 0, 0, nullptr);
    ASSERT_TRUE(context != nullptr && OSMesaMakeCurrent(context, buffer.data(), GL_UNSIGNED_BYTE, 4, 4));
    std::mt19937 random(2024);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    int compared = 0, onBoundary = 0;
    for (int trial = 0; trial < 120; ++trial) {
        const float angle = std::array{1.0f, 5.0f, 20.0f, 45.0f}[trial % 4];
        const int32_t width = std::array{256, 333, 1024}[trial % 3], height = std::array{256, 200, 768}[trial % 3];
        const auto r = model->rotation = {60 * unit(random), 60 * unit(random), 60 * unit(random)};
        const auto s = model->scale = {1 + unit(random) / 2, 1 + unit(random) / 2, 1 + unit(random) / 2};
        for (std::size_t i : {1, 2, 4, 6, 8, 9, 12, 13, 14}) model->deformation[i] = unit(random) / 5;
        model->regions[0].vertices.clear();
        for (int i = 0; i < 50; ++i)
            model->regions[0].vertices.push_back({3 * unit(random), 3 * unit(random), 3 * unit(random)});
        // The view: the translation (0, 0.15, -D), the deformation, the turns
        // about x as turned by y and z, about y as turned by z and about z, the
        // scale. The frustum: near D - 4, far D + 4, half-height near tan(angle / 2).
        const double distance = 400.0 / angle, ay = r[1] * M_PI / 180, az = r[2] * M_PI / 180;
        double view[16], projection[16];
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glTranslatef(0.0f, 0.15f, static_cast<float>(-distance));
        glMultMatrixf(model->deformation.data());
        glRotatef(r[0], float(std::cos(ay) * std::cos(az)), float(std::cos(ay) * std::sin(az)), float(-std::sin(ay)));
        glRotatef(r[1], float(-std::sin(az)), float(std::cos(az)), 0.0f);
        glRotatef(r[2], 0.0f, 0.0f, 1.0f);
        glScalef(s[0], s[1], s[2]);
        glGetDoublev(GL_MODELVIEW_MATRIX, view);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        const double yMax = (distance - 4) * std::tan(angle * M_PI / 360);
        glFrustum(-yMax, yMax, -yMax, yMax, distance - 4, distance + 4);
        glGetDoublev(GL_PROJECTION_MATRIX, projection);
        for (std::size_t i = 0; i < 16; ++i)
            ASSERT_NEAR(projectionMatrix(angle)[i], projection[i], 1e-5 * (1 + std::fabs(projection[i])));
        TAVO_BeginRendering(width, height);
        TAVO_SetPerspective(angle);  // the model's own angle, 1, is for rendering only
        const std::vector<int32_t> points = project(0);
        const GLint viewport[4] = {0, 0, width - 1, height - 1};
        for (std::size_t i = 0; i < 50; ++i) {
            const TVector3f &v = model->regions[0].vertices[i];
            double wx = 0, wy = 0, wz = 0;
            ASSERT_TRUE(gluProject(v.x, v.y, v.z, view, projection, viewport, &wx, &wy, &wz));
            const int32_t dx = points[2 * i] - int32_t(wx), dy = points[2 * i + 1] - (height - int32_t(wy));
            // Within 1/1000 of a whole pixel, float and double may truncate to neighbours.
            ASSERT_TRUE((dx == 0 || (std::abs(dx) == 1 && std::fabs(wx - std::round(wx)) < 1e-3)) &&
                        (dy == 0 || (std::abs(dy) == 1 && std::fabs(wy - std::round(wy)) < 1e-3)))
                << "trial " << trial << " vertex " << i << ": " << wx << ", " << wy;
            compared += 1;
            onBoundary += dx != 0 || dy != 0;
        }
    }
    EXPECT_LT(onBoundary, compared / 100);
    OSMesaDestroyContext(context);
}

TEST_F(Camera, PointsWithoutAFiniteProjectionAreWrittenAsZeroOrSaturated) {
    // Eye depth is z - 400 by default, so z = 400 has no projection: window
    // (0, 0), written (0, H). The lifted origin lands on ((W - 1) / 2, (H -
    // 1) / 2), truncated. NaN is written 0, beyond int32 saturated.
    model->regions[0].vertices = {
        {0.5f, 0.5f, 400}, {0, -0.15f, 0}, {NAN, 0, 0}, {1e30f, -1e30f, 0}, {-1e30f, 1e30f, 0}};
    TAVO_BeginRendering(80, 60);
    EXPECT_EQ(project(0),
              (std::vector<int32_t>{0, 60, 39, 31, 0, 60, INT32_MAX, INT32_MAX, INT32_MIN, 60 - INT32_MAX}));
}

TEST_F(Camera, TwoDimensionalProjectionTakesEachPointFromItsRegionLessHalfTheRenderSize) {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> coordinate(-2.0f, 2.0f);
    for (TRegion &region : model->regions)
        for (int i = 0; i < 40; ++i)
            region.vertices.push_back({coordinate(random), coordinate(random), coordinate(random)});
    for (std::size_t i = 0; i < 66; ++i) model->featureVertices[i] = static_cast<int32_t>(i * 7 % 40);
    model->rotation = {5.0f, -12.0f, 3.0f};
    TAVO_BeginRendering(101, 64);
    const std::vector<int32_t> projected[4] = {project(0), project(1), project(2), project(3)};
    for (int32_t extra : {-1, 3}) {
        model->extraRegion = extra;
        std::vector<int32_t> points(132);
        ASSERT_EQ(TAVO_GetModel2DProjection(handle, points.data()), TAVO_OK);
        // Points 0, 29, 30 sit on region 2 and 1, 33, 34 on region 1, unless
        // the model has an extra region for all six.
        for (std::size_t i = 0; i < 66; ++i) {
            const std::size_t region = (i == 0 || i == 29 || i == 30) ? 2 : (i == 1 || i == 33 || i == 34) ? 1 : 0;
            const std::vector<int32_t> &from = projected[region != 0 && extra >= 0 ? 3 : region];
            EXPECT_EQ(points[2 * i], from[i * 7 % 40 * 2] - 50) << i;
            EXPECT_EQ(points[2 * i + 1], from[i * 7 % 40 * 2 + 1] - 32) << i;
        }
    }
}

}  // namespace kelmo
