// Creation of a model from a photo, on the synthetic full head: photos whose
// feature points are the head's own, placed by a known scale, offset and roll.
#include "fitting/model_from_photo.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "fitting/region_builders.h"
#include "model/model_table.h"
#include "model/model_test_helpers.h"
#include "support/model_support.h"
#include "support/synthetic_data.h"

namespace kelmo {
namespace {

using test::newModel;

// The full head's data directory and a photo, made once for the program; the table check runs inside.
class FullHeadData : public test::TablesUnchanged {
public:
    void SetUp() override {
        testing::SyntheticDataFiles files;
        files.fullHead = true;
        directory = testing::writeSyntheticDataDirectory(testing::makeTemporaryDirectory("fullhead"), files);
        ASSERT_EQ(TAVO_InitKelmo(directory.c_str()), TAVO_OK);
        std::vector<uint8_t> rgb(512 * 512 * 3);
        for (std::size_t k = 0; k < rgb.size(); ++k) rgb[k] = static_cast<uint8_t>(k * 7 / 3 + k / 1536);
        ASSERT_EQ(TAVO_LoadImageFromBuffer(&photo, rgb.data(), 512, 512, 512 * 3, TAVO_IMAGEMODE_COLOR), 0);
        TablesUnchanged::SetUp();
    }
    void TearDown() override {
        TablesUnchanged::TearDown();
        TAVO_FreeImage(photo);
        TAVO_FinalizeKelmo();
        std::filesystem::remove_all(directory);
    }
    static inline std::string directory;
    static inline ImageHandle photo = -1;
};
[[maybe_unused]] const auto *const kData = ::testing::AddGlobalTestEnvironment(new FullHeadData);

// The first feature points of a mesh in the photo: 120 pixels a unit about (256, 256), y down, rolled.
std::vector<int32_t> photoPoints(int expression, int count = 66, double degrees = 0.0) {
    const double c = std::cos(degrees * M_PI / 180.0), s = std::sin(degrees * M_PI / 180.0);
    std::vector<int32_t> points;
    for (const TVector3f &p : testing::fullHeadFeaturePoints(expression)) {
        points.push_back(static_cast<int32_t>(std::lround(256.0 + 120.0 * (p.x * c + p.y * s))));
        points.push_back(static_cast<int32_t>(std::lround(256.0 + 120.0 * (p.x * s - p.y * c))));
    }
    points.resize(2 * static_cast<std::size_t>(count));
    return points;
}

TModel &createFrom(int expression, bool noSmile = false, bool closedMouth = false) {
    const int32_t handle = newModel();
    const std::vector<int32_t> points = photoPoints(expression);
    EXPECT_EQ(TAVO_CreateModelFromPhotoEx(handle, FullHeadData::photo, points.data(), 0, nullptr, noSmile, closedMouth),
              TAVO_OK);
    return *resolveModel(handle);
}

TEST(ModelFromPhoto, TheMouthInThePhotoChoosesTheExpressionAndTheFlagsDemoteIt) {
    // {lip 61, lip 64, corner 3, corner 4, class}: an opening of exactly 0.02 is closed; NaN gives 0.
    for (const auto &c : std::vector<std::array<float, 5>>{
             {0, 0.02f, 0, 0, 0}, {0, std::nextafter(0.02f, 1.0f), 0, 0, 1}, {0.5f, 0.3f, NAN, 0.9f, 0}}) {
        TexturePoints t{};
        t.fill({0.5f, 0.0f});
        t[61].y = c[0], t[64].y = c[1], t[3].y = c[2], t[4].y = c[3];
        EXPECT_EQ(classifyExpression(t), static_cast<int32_t>(c[4])) << c[0] << " " << c[1] << " " << c[2];
    }
    const int32_t flagged[4][4] = {{0, 0, 0, 0}, {1, 1, 0, 0}, {2, 0, 2, 0}, {3, 1, 2, 0}};  // no smile 1, closed 2
    for (int32_t e = 0; e < 4; ++e) {
        for (int flags = 0; flags < 4; ++flags)
            EXPECT_EQ(applyExpressionFlags(e, flags & 1, flags & 2), flagged[e][flags]);
        EXPECT_EQ(createFrom(e).expressionClass, e);
        EXPECT_EQ(createFrom(3, e & 1, e & 2).expressionClass, flagged[3][e]);
    }
    destroyAllModels();
}

TEST(ModelFromPhoto, TheControlPointsCarryTheHeadOntoThePhotosPointsAndTheTextureBack) {
    // 56 control points: all but the eye points (region 8) and 2, 22, 43, 44. The photo shows the mesh itself
    // (rolled, or some points completed), so the targets, aligned by one scale and offset, fall back on its
    // points; the fitted feature vertices sit on them; the texture maps them back onto the face grid.
    for (const auto &[e, pointSet, count, degrees] : {std::tuple{0, 0, 66, 0.0}, std::tuple{3, 0, 66, -15.0},
                                                      std::tuple{0, 2, 40, 0.0}, std::tuple{0, 1, 62, 0.0}}) {
        SCOPED_TRACE(std::to_string(count) + " points, " + std::to_string(degrees) + " degrees");
        const std::vector<int32_t> points = photoPoints(e, count, degrees);  // exactly the pairs given
        const int32_t handle = newModel();
        float scale = 0.0f;
        ASSERT_EQ(TAVO_CreateModelFromPhoto(handle, FullHeadData::photo, points.data(), pointSet, &scale), TAVO_OK);
        const TModel &model = *resolveModel(handle);
        ASSERT_EQ(model.regions.size(), 9u);
        EXPECT_TRUE(model.extraRegion == 8 && model.regions[8].vertices.size() == 6 && model.regions[8].quads.empty());
        // The sock fans over the head's rim; the mouth cavity's triangles close the lip ring 0.13 behind.
        const std::vector<TVector3f> &head = model.regions[0].vertices, &cavity = model.regions[7].vertices;
        const std::vector<int32_t> ring = testing::fullHeadList7Table();
        ASSERT_TRUE(model.regions[5].vertices.size() == 9 && cavity.size() == 114);
        for (std::size_t k = 0; k < 8; ++k)
            EXPECT_EQ(std::memcmp(&model.regions[5].vertices[k + 1], &head[kSockSourceVertices[k]], 12), 0);
        for (std::size_t k = 0; k < 38; ++k) {
            EXPECT_TRUE(std::memcmp(&cavity[3 * k + 1], &cavity[(3 * k + 3) % 114], 12) == 0 &&
                        cavity[3 * k].z == head[ring[k]].z - 0.13f);
        }
        EXPECT_EQ(model.expressionClass, e);
        EXPECT_EQ(scale,
                  (model.featurePoints[1].x - model.featurePoints[0].x) / static_cast<float>(points[2] - points[0]));
        EXPECT_NEAR(scale, 1.0 / 120.0 / std::cos(degrees * M_PI / 180), 1e-4);  // model units per photo pixel
        const auto mesh = testing::fullHeadFeaturePoints(e);
        std::size_t control = 0;
        for (std::size_t i = 0; i < kFeaturePointCount; ++i) {
            if (i == 0 || i == 1 || i == 29 || i == 30 || i == 33 || i == 34 || i == 2 || i == 22 || i == 43 || i == 44)
                continue;
            const TVector3f source = model.controlSource[control], target = model.controlTarget[control++];
            const auto v = static_cast<std::size_t>(model.featureVertices[i]);
            const TVector3f fitted = model.regions[0].vertices[v];
            const TPointf uv = model.regions[0].textureCoords[v], grid = model.faceGrid[i];
            EXPECT_TRUE(std::memcmp(&source, &mesh[i], sizeof source) == 0 && std::fabs(target.x - mesh[i].x) < 0.02 &&
                        std::fabs(target.y - mesh[i].y) < 0.02 && target.z == mesh[i].z)
                << i;
            EXPECT_TRUE(std::fabs(fitted.x - target.x) < 1e-6 && std::fabs(fitted.y - target.y) < 1e-6 &&
                        std::fabs(fitted.z - target.z) < 1e-6 && std::memcmp(&fitted, &model.featurePoints[i], 12) == 0)
                << i;
            EXPECT_TRUE(std::fabs(uv.x - grid.x / 256) < 1e-4 && std::fabs(uv.y - (1 - grid.y / 256)) < 1e-4) << i;
        }
        EXPECT_TRUE(control == 56 && model.controlCount == 56);
    }
    destroyAllModels();
}

TEST(ModelFromPhoto, WithTheTeethFlagClearedOnlyTheSurfaceTakesThePhotoAndRegionSixIsKept) {
    // Cleared, the teeth keep their mesh's texture coordinates; set (a new model's), they are projected.
    const int32_t handle = newModel(1);
    TModel &model = *resolveModel(handle);
    model.teethFromModelTexture = false;
    model.regions.resize(12);
    model.regions[6].vertices = {{1, 2, 3}, {4, 5, 6}};
    const TRegion region6 = model.regions[6];
    const std::vector<int32_t> points = photoPoints(3);
    ASSERT_EQ(TAVO_CreateModelFromPhoto(handle, FullHeadData::photo, points.data(), 0, nullptr), TAVO_OK);
    EXPECT_TRUE(test::regionsBitwiseEqual(model.regions[6], region6));
    const std::vector<TPointf> own = testing::fullHeadRegions(3)[4].textureCoords;
    EXPECT_EQ(std::memcmp(model.regions[4].textureCoords.data(), own.data(), own.size() * sizeof(TPointf)), 0);
    EXPECT_NE(std::memcmp(createFrom(3).regions[4].textureCoords.data(), own.data(), own.size() * sizeof(TPointf)), 0);
    EXPECT_TRUE(model.regions[5].textureCoords[3].x == 0 && model.regions[5].textureCoords[3].y == 1);  // the sock's
    destroyAllModels();
}

TEST(ModelFromPhoto, ThePartsRefuseUnfitHeadsTurnRegionsAboutXThenYThenZAndClampTextureCoordinates) {
    const std::vector<TRegion> head = testing::fullHeadRegions(3);
    const std::vector<int32_t> ring = testing::fullHeadList7Table(), table = testing::fullHeadLandmarkTable();
    std::vector<TRegion> part = head;
    part[0].vertices.resize(400);  // without the rim, the lips and the upper lip
    EXPECT_FALSE(placeTeeth(part, 3) || buildSockRegion(part) || buildMouthCap(part, ring));
    part = head;
    part.resize(8);
    part[3].vertices.clear();  // lower teeth without their scaling centre
    EXPECT_FALSE(placeTeeth(part, 0) || buildMouthCap(part, {}) || buildMouthCap(part, {415, -1}) ||
                 buildMouthCap(part, {415, 9999}));
    part.resize(4);
    EXPECT_FALSE(placeTeeth(part, 0) || buildSockRegion(part));
    TModel mesh;
    mesh.regions = head;
    std::vector<int32_t> outside = table;
    outside[30] = 9;  // region 1 has vertices 0 to 8
    TexturePoints t{};
    EXPECT_FALSE(completeTexturePoints(t, 40, mesh, outside) || completeTexturePoints(t, 40, mesh, {1, 2}) ||
                 completeTexturePoints(t, 0, mesh, table) || expressionMeshSupportsFitting(mesh, outside, ring) ||
                 expressionMeshSupportsFitting(mesh, table, {}) || expressionMeshSupportsFitting(mesh, table, {9999}));
    mesh.regions[3].vertices.clear();
    EXPECT_FALSE(expressionMeshSupportsFitting(mesh, table, ring) || t[0].x != 0 || t[65].y != 0);
    // Regions turn about x, then y, then z (worked out in double precision).
    std::vector<TRegion> turned(2, TRegion{});
    turned[1].vertices = {{-0.5f, 0.25f, 4.0f}};
    rotateRegions(turned, 0.3f, -0.7f, 1.1f);
    const TVector3f v = turned[1].vertices[0];
    EXPECT_TRUE(std::fabs(v.x + 0.3447302) < 1e-5 && std::fabs(v.y - 2.4552434) < 1e-5 &&
                std::fabs(v.z - 3.1883289) < 1e-5);
    // Texture coordinates are clamped into the unit square; corners past their region's arrays are skipped.
    TRegion region;
    region.vertices = {{-3, 2, 0}, {0.5f, 0.5f, 0}};
    region.textureCoords = {{9, 9}, {9, 9}};
    region.quads = {{0, 1, 5, 1}};
    region.textureQuads = {{1, 0, 0, 7}};
    projectTextureCoords(region, 0.5f, {0.25f, 0.125f});
    EXPECT_TRUE(region.textureCoords[1].x == 0 && region.textureCoords[1].y == 1 && region.textureCoords[0].x == 0.5f &&
                region.textureCoords[0].y == 0.375f);
}

TEST(ModelFromPhoto, FailingCreationLeavesModelUnchanged) {
    auto unchanged = [](int32_t handle, const TModel &before) {
        const TModel &now = *resolveModel(handle);
        return test::regionListsBitwiseEqual(before.regions, now.regions) &&
               std::memcmp(now.faceGrid.data(), before.faceGrid.data(), sizeof now.faceGrid) == 0 &&
               now.controlCount == before.controlCount && now.expressionClass == before.expressionClass &&
               test::pixelsOf(now.texture) == test::pixelsOf(before.texture);
    };
    const int32_t handle = newModel(), copy = newModel(), freed = newModel();
    ASSERT_EQ(TAVO_FreeModel(freed), 0);
    const std::vector<int32_t> points = photoPoints(2);
    const ImageHandle photo = FullHeadData::photo;
    ASSERT_EQ(TAVO_CreateModelFromPhoto(handle, photo, points.data(), 0, nullptr), 0);
    TModel &before = *resolveModel(copy);
    ASSERT_EQ(TAVO_CopyModel(handle, copy), 0);
    before.controlCount = 56, before.expressionClass = 2;
    float scale = 123.0f;
    for (const auto &[model, image, given, status] :
         std::vector<std::tuple<int32_t, ImageHandle, const int32_t *, int32_t>>{
             {handle, photo, nullptr, TAVO_ERR_GENERAL},
             {handle, -1, points.data(), TAVO_ERR_GENERAL},
             {freed, photo, nullptr, TAVO_ERR_INVALID_HANDLE}}) {
        EXPECT_EQ(TAVO_CreateModelFromPhotoEx(model, image, given, 0, &scale, true, true), status);
        EXPECT_TRUE(unchanged(handle, before) && scale == 123.0f);
    }
    // Refused once the frame is made: a head without the vertices creation reads, an absent mesh.
    for (const bool smallHead : {true, false}) {
        testing::SyntheticDataFiles files;
        files.sqrt = false;
        files.fullHead = !smallHead;
        files.faces[3] = smallHead;  // no open smiling mesh
        const std::string dir = testing::writeSyntheticDataDirectory(testing::makeTemporaryDirectory("unfit"), files);
        ASSERT_EQ(TAVO_InitKelmo(dir.c_str()), TAVO_OK);
        const int32_t refused = newModel(1), empty = newModel(1);
        const std::vector<int32_t> smiling = photoPoints(3);
        EXPECT_EQ(TAVO_CreateModelFromPhoto(refused, photo, smiling.data(), 0, nullptr), TAVO_ERR_GENERAL);
        EXPECT_TRUE(unchanged(refused, *resolveModel(empty)));
        TAVO_FinalizeKelmo();
        std::filesystem::remove_all(dir);
    }
    const int32_t orphan = newModel();  // after finalisation no mesh is left
    EXPECT_EQ(TAVO_CreateModelFromPhoto(orphan, photo, points.data(), 0, nullptr), TAVO_ERR_GENERAL);
    destroyAllModels();
    ASSERT_EQ(TAVO_InitKelmo(FullHeadData::directory.c_str()), TAVO_OK);
}

}  // namespace
}  // namespace kelmo
