// Creation of a model from a photo, on the synthetic full head: photos whose
// feature points are the head's own, placed by a known scale, offset and roll.
#include "fitting/model_from_photo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "fitting/region_builders.h"
#include "frame/library_state.h"
#include "model/model_table.h"
#include "model/table_check.h"
#include "support/model_support.h"
#include "support/synthetic_data.h"

namespace kelmo {
namespace {

using testing::fullHeadFeaturePoints;
using testing::fullHeadRegions;

std::vector<uint8_t> imagePixels(ImageHandle image) {  // 4 bytes a pixel
    int32_t size = 0;
    TAVO_GetImageBufferSize(image, &size, TAVO_IMAGEMODE_COLOR_ALPHA);
    std::vector<uint8_t> pixels(static_cast<std::size_t>(size) + 1);
    TAVO_SaveImageToBuffer(image, pixels.data(), TAVO_IMAGEMODE_COLOR_ALPHA);
    return pixels;
}

// The full head's data directory and a 512 x 512 photo, made once for the
// program; the table check runs inside them.
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

// The first `count` feature points of expression mesh `expression` in the
// photo: `scale` pixels per model unit about (cx, cy), y down, rolled.
std::vector<int32_t> photoPoints(int expression, int count = 66, double degrees = 0.0, double scale = 120.0,
                                 double cx = 256.0, double cy = 256.0) {
    const double c = std::cos(degrees * M_PI / 180.0), s = std::sin(degrees * M_PI / 180.0);
    std::vector<int32_t> points;
    for (const TVector3f &p : fullHeadFeaturePoints(expression)) {
        points.push_back(static_cast<int32_t>(std::lround(cx + scale * (p.x * c + p.y * s))));
        points.push_back(static_cast<int32_t>(std::lround(cy + scale * (p.x * s - p.y * c))));
    }
    points.resize(2 * static_cast<std::size_t>(count));
    return points;
}

int32_t newModel(bool disableMask = false) {
    int32_t handle = -1;
    EXPECT_EQ(TAVO_InitModel(&handle, disableMask ? 1 : 0), 0);
    return handle;
}

TModel &createFrom(int expression, bool noSmile = false, bool closedMouth = false, bool disableMask = false) {
    const int32_t handle = newModel(disableMask);
    const std::vector<int32_t> points = photoPoints(expression);
    EXPECT_EQ(TAVO_CreateModelFromPhotoEx(handle, FullHeadData::photo, points.data(), 0, nullptr, noSmile, closedMouth),
              TAVO_OK);
    return *resolveModel(handle);
}

// Everything that creation writes, as bytes, so that models compare bit for bit.
std::vector<uint8_t> createdState(int32_t handle) {
    const TModel &m = *resolveModel(handle);
    std::vector<uint8_t> bytes = imagePixels(m.texture);
    auto add = [&](const auto &items) {
        const auto *data = reinterpret_cast<const uint8_t *>(items.data());
        bytes.push_back(static_cast<uint8_t>(items.size()));
        bytes.insert(bytes.end(), data, data + items.size() * sizeof(items[0]));
    };
    for (const TRegion &r : m.regions) add(r.vertices), add(r.textureCoords), add(r.quads), add(r.textureQuads);
    add(m.faceGrid), add(m.featurePoints), add(m.featureVertices), add(m.controlSource), add(m.controlTarget);
    add(m.interpolator.centres), add(m.interpolator.values), add(m.interpolator.weights);
    add(std::array{m.extraRegion, m.expressionClass, m.controlCount, static_cast<int32_t>(m.regions.size())});
    return bytes;
}

// The teeth placed by hand on `r` (the fitted head in region 0): raised (and,
// smiling, receding by their depth behind their region's first vertex as it
// stands at that moment), scaled about the upper teeth's first vertex, and
// with an open mouth raised by the larger gap to lip vertex 371 or to vertex
// 1683 of the upper lip.
std::vector<TRegion> teethPlacedByHand(std::vector<TRegion> r, int32_t expression) {
    std::vector<TVector3f> &upper = r[3].vertices, &lower = r[4].vertices;
    for (auto [teeth, lift] : {std::pair{&upper, 0.1f}, std::pair{&lower, 0.25f}}) {
        for (TVector3f &v : *teeth) {
            v.y = v.y + lift;
            if (expression >= 2) v.z = v.z - (((*teeth)[0].z - v.z) * 0.4f + 0.07f);
        }
    }
    const TVector3f c = upper[0];
    for (auto *teeth : {&upper, &lower})
        for (TVector3f &v : *teeth) v = {(v.x - c.x) * 0.95f + c.x, (v.y - c.y) * 0.9f + c.y, (v.z - c.z) * 0.5f + c.z};
    float low = upper[0].y, high = upper[0].y;
    for (const TVector3f &v : upper) low = std::min(low, v.y), high = std::max(high, v.y);
    const float lip = r[0].vertices[371].y - low;
    const auto upperLip = static_cast<float>(double{r[0].vertices[1683].y} - (high * 0.55 + low * 0.45));
    for (auto *teeth : {&upper, &lower})
        for (TVector3f &v : *teeth) v.y = expression % 2 == 1 ? v.y + std::max(lip, upperLip) : v.y;
    return r;
}

TEST(ClassifyExpression, OpenPastTwoHundredthsBetweenTheLipsSmilingWhenTheCornersRiseAboveThem) {
    const float nan = NAN, inf = INFINITY;
    // {lip 61, lip 64, corner 3, corner 4, class}: an opening of exactly 0.02
    // is closed; corners 0.83 above lips 0.80 + 0.02 smile; a NaN gives 0.
    for (const auto &c : std::vector<std::array<float, 5>>{
             {0, 0.02f, 0, 0, 0}, {0, std::nextafter(0.02f, 1.0f), 0, 0, 1}, {0.40f, 0.40f, 0.42f, 0.41f, 2},
             {0.40f, 0.36f, 0.42f, 0.41f, 3}, {0.40f, 0.36f, 0.38f, 0.38f, 1}, {0.40f, 0.40f, 0.38f, 0.38f, 0},
             {0.5f, 0.3f, nan, 0.9f, 0}, {inf, inf, 0.9f, 0.9f, 0}}) {
        TexturePoints t{};
        t.fill({0.5f, 0.0f});
        t[61].y = c[0], t[64].y = c[1], t[3].y = c[2], t[4].y = c[3];
        EXPECT_EQ(classifyExpression(t), static_cast<int32_t>(c[4])) << c[0] << " " << c[1] << " " << c[2];
    }
    const int32_t flagged[4][4] = {{0, 0, 0, 0}, {1, 1, 0, 0}, {2, 0, 2, 0}, {3, 1, 2, 0}};  // none, noSmile, closed, both
    for (int32_t e = 0; e < 4; ++e)
        for (int flags = 0; flags < 4; ++flags) EXPECT_EQ(applyExpressionFlags(e, flags & 1, flags & 2), flagged[e][flags]);
}

TEST(ModelFromPhoto, ThePhotosMouthChoosesTheMeshTheFlagsDemoteItAndTheTeethArePlacedForIt) {
    auto expectTeeth = [](const TModel &model, int32_t mesh) {
        std::vector<TRegion> expected = fullHeadRegions(mesh);
        expected[0] = model.regions[0];
        expected = teethPlacedByHand(expected, model.expressionClass);
        for (std::size_t r : {3, 4})
            EXPECT_EQ(std::memcmp(model.regions[r].vertices.data(), expected[r].vertices.data(),
                                  expected[r].vertices.size() * sizeof(TVector3f)), 0) << mesh << " " << r;
    };
    for (int e = 0; e < 4; ++e) {
        const TModel &model = createFrom(e);
        EXPECT_EQ(model.expressionClass, e);
        expectTeeth(model, e);
    }
    for (const auto &[noSmile, closedMouth, expected] :
         {std::tuple{true, false, 1}, std::tuple{false, true, 2}, std::tuple{true, true, 0}}) {
        const TModel &model = createFrom(3, noSmile, closedMouth);
        EXPECT_EQ(model.expressionClass, expected);
        expectTeeth(model, expected);
    }
    std::vector<TRegion> lowerOnly = fullHeadRegions(3);
    lowerOnly[3].vertices.clear();  // lower teeth without the scaling centre: refused, unchanged
    EXPECT_FALSE(placeTeeth(lowerOnly, 0));
    EXPECT_EQ(lowerOnly[4].vertices[0].y, fullHeadRegions(3)[4].vertices[0].y);
    destroyAllModels();
}

TEST(ModelFromPhoto, FeaturePointsLandOnThePhotosPointsAlignedByOneScaleAndOffset) {
    for (const int e : {0, 3}) {
        SCOPED_TRACE(e);
        const TModel &model = createFrom(e);
        ASSERT_EQ(model.regions.size(), 9u);
        EXPECT_TRUE(model.extraRegion == 8 && model.regions[8].quads.empty() && model.regions[5].vertices.size() == 9 &&
                    model.regions[7].vertices.size() == 114 && model.controlCount == 56);
        // T from the face grid (frame pixels); the least-squares fit of the
        // mesh's x, y to T in double precision.
        const auto mesh = fullHeadFeaturePoints(e);
        std::array<std::array<double, 2>, kFeaturePointCount> t{};
        double meanX = 0, meanY = 0, meanU = 0, meanV = 0, num = 0, den = 0;
        for (std::size_t i = 0; i < kFeaturePointCount; ++i) {
            EXPECT_TRUE(std::min(model.faceGrid[i].x, model.faceGrid[i].y) >= 0 &&
                        std::max(model.faceGrid[i].x, model.faceGrid[i].y) <= 256);
            t[i] = {model.faceGrid[i].x / 256.0f, 1.0f - model.faceGrid[i].y / 256.0f};
            meanX += mesh[i].x / 66.0, meanY += mesh[i].y / 66.0, meanU += t[i][0] / 66.0, meanV += t[i][1] / 66.0;
        }
        for (std::size_t i = 0; i < kFeaturePointCount; ++i) {
            num += (mesh[i].x - meanX) * (t[i][0] - meanU) + (mesh[i].y - meanY) * (t[i][1] - meanV);
            den += (t[i][0] - meanU) * (t[i][0] - meanU) + (t[i][1] - meanV) * (t[i][1] - meanV);
        }
        const double s = num / den;
        std::size_t control = 0, eye = 0;
        for (std::size_t i = 0; i < kFeaturePointCount; ++i) {
            const TVector3f target{static_cast<float>(s * (t[i][0] - meanU) + meanX),
                                   static_cast<float>(s * (t[i][1] - meanV) + meanY), mesh[i].z};
            if (i == 0 || i == 1 || i == 29 || i == 30 || i == 33 || i == 34) {  // eye points: loose, in region 8
                EXPECT_EQ(model.featureVertices[i], static_cast<int32_t>(eye));
                const TVector3f b = model.regions[8].vertices[eye++];
                EXPECT_TRUE(std::fabs(b.x - target.x) < 1e-5 && std::fabs(b.y - target.y) < 1e-5 && b.z == target.z) << i;
            } else if (i != 2 && i != 22 && i != 43 && i != 44) {  // the 56 control points
                const TVector3f source = model.controlSource[control], aligned = model.controlTarget[control++];
                const TVector3f fitted = model.featurePoints[i];
                const auto v = static_cast<std::size_t>(model.featureVertices[i]);
                const TPointf uv = model.regions[0].textureCoords[v];  // the photo's point, through the texture
                EXPECT_TRUE(source.x == mesh[i].x && source.y == mesh[i].y && source.z == mesh[i].z) << i;
                EXPECT_TRUE(std::fabs(aligned.x - target.x) < 1e-5 && std::fabs(aligned.y - target.y) < 1e-5 &&
                            aligned.z == target.z) << i;
                EXPECT_TRUE(std::fabs(fitted.x - aligned.x) < 1e-6 && std::fabs(fitted.y - aligned.y) < 1e-6 &&
                            std::fabs(fitted.z - aligned.z) < 1e-6) << i;
                EXPECT_TRUE(std::memcmp(&model.regions[0].vertices[v], &fitted, sizeof fitted) == 0) << i;
                EXPECT_TRUE(std::fabs(uv.x - t[i][0]) < 1e-4 && std::fabs(uv.y - t[i][1]) < 1e-4) << i;
            }
        }
        EXPECT_TRUE(eye == 6 && control == 56);
        for (std::size_t r = 0; r < 8; ++r)
            for (const TPointf &uv : model.regions[r].textureCoords) EXPECT_TRUE(uv.x >= 0 && uv.x <= 1 && uv.y >= 0 && uv.y <= 1);
    }
    destroyAllModels();
}

TEST(ModelFromPhoto, RolledAndPartialPointSetsGiveTheSameModelAndTheScaleIsUnitsPerPixel) {
    const TModel &closed = createFrom(0), &open = createFrom(3);
    for (const auto &[e, pointSet, count, degrees] :
         {std::tuple{3, 0, 66, 15.0}, std::tuple{3, 0, 66, -15.0}, std::tuple{0, 1, 62, 0.0}, std::tuple{0, 2, 40, 0.0}}) {
        SCOPED_TRACE(std::to_string(count) + " points, " + std::to_string(degrees) + " degrees");
        const TModel &upright = e == 0 ? closed : open;
        const std::vector<int32_t> points = photoPoints(e, count, degrees);  // exactly the pairs given
        const int32_t handle = newModel();
        float scale = 0.0f;
        ASSERT_EQ(TAVO_CreateModelFromPhoto(handle, FullHeadData::photo, points.data(), pointSet, &scale), TAVO_OK);
        const TModel &model = *resolveModel(handle);
        EXPECT_EQ(model.expressionClass, upright.expressionClass);
        for (std::size_t i = 0; i < kFeaturePointCount; ++i) {
            // Integer pixels and the frame's rounding leave about a pixel of the 86-pixel-per-unit frame.
            for (const auto &[a, b] : {std::pair{model.featurePoints[i].x, upright.featurePoints[i].x},
                                       std::pair{model.featurePoints[i].y, upright.featurePoints[i].y},
                                       std::pair{model.featurePoints[i].z, upright.featurePoints[i].z}})
                EXPECT_NEAR(a, b, count == 66 ? 0.02 : 0.01) << i;
            EXPECT_TRUE(std::fabs(model.faceGrid[i].x - upright.faceGrid[i].x) < 2 &&
                        std::fabs(model.faceGrid[i].y - upright.faceGrid[i].y) < 2) << i;
        }
        if (degrees != 0.0) continue;
        EXPECT_EQ(scale, (model.featurePoints[1].x - model.featurePoints[0].x) / static_cast<float>(points[2] - points[0]));
        EXPECT_NEAR(scale, 1.0 / 120.0, 1e-4);
    }
    std::vector<int32_t> points = photoPoints(0);
    points[2] = points[0], points[3] = points[1] + 100;  // point 1 straight below point 0: no width to divide by
    float scale = 0.0f;
    ASSERT_EQ(TAVO_CreateModelFromPhoto(newModel(), FullHeadData::photo, points.data(), 0, &scale), TAVO_OK);
    EXPECT_FALSE(std::isfinite(scale));
    destroyAllModels();
}

TEST(ModelFromPhoto, TheMaskFlagWritesTheWarpedMaskAndTheTeethFlagDecidesWhichRegionsTakeThePhoto) {
    const std::vector<uint8_t> masked = imagePixels(createFrom(0).texture);
    const std::vector<uint8_t> unmasked = imagePixels(createFrom(0, false, false, true).texture);
    std::array<int, 256> maskedAlpha{}, unmaskedAlpha{};
    for (std::size_t k = 3; k < masked.size(); k += 4) ++maskedAlpha[masked[k]], ++unmaskedAlpha[unmasked[k]];
    EXPECT_TRUE(unmaskedAlpha[255] == 256 * 256 && maskedAlpha[0] > 1000 && maskedAlpha[255] > 1000);
    for (std::size_t k = 0; k < masked.size(); ++k) ASSERT_TRUE(k % 4 == 3 || masked[k] == unmasked[k]) << k;
    // Cleared, the sock keeps its constants, the teeth their mesh coordinates
    // and region 6 what it held; set (a new model's), they are projected.
    const int32_t handle = newModel();
    TModel &model = *resolveModel(handle);
    model.teethFromModelTexture = false;
    model.regions.resize(12);
    model.regions[6].vertices = {{1, 2, 3}, {4, 5, 6}};
    model.regions[6].quads = model.regions[6].textureQuads = {{0, 1, 1, 0}};
    const TRegion region6 = model.regions[6];
    const std::vector<int32_t> points = photoPoints(3);
    ASSERT_EQ(TAVO_CreateModelFromPhoto(handle, FullHeadData::photo, points.data(), 0, nullptr), TAVO_OK);
    EXPECT_TRUE(test::regionsBitwiseEqual(model.regions[6], region6));
    std::vector<TRegion> own = fullHeadRegions(3);
    own.resize(6);
    buildSockRegion(own);
    const TModel &projected = createFrom(3);
    for (std::size_t r : {3, 4, 5}) {
        const std::size_t bytes = own[r].textureCoords.size() * sizeof(TPointf);
        EXPECT_EQ(std::memcmp(model.regions[r].textureCoords.data(), own[r].textureCoords.data(), bytes), 0) << r;
        EXPECT_NE(std::memcmp(projected.regions[r].textureCoords.data(), own[r].textureCoords.data(), bytes), 0) << r;
    }
    destroyAllModels();
}

TEST(ModelFromPhoto, FailingCreationLeavesModelUnchanged) {
    const int32_t handle = newModel(), freed = newModel();
    ASSERT_EQ(TAVO_FreeModel(freed), 0);
    const std::vector<int32_t> points = photoPoints(2);
    ASSERT_EQ(TAVO_CreateModelFromPhoto(handle, FullHeadData::photo, points.data(), 0, nullptr), 0);
    const std::vector<uint8_t> before = createdState(handle);
    ImageHandle empty = -1;
    TAVO_CreateEmptyImage(&empty);
    float scale = 123.0f;
    const ImageHandle photo = FullHeadData::photo;
    const auto length = static_cast<int32_t>(libraryState().models.size());
    struct Call {
        int32_t model;
        ImageHandle image;
        const int32_t *points;
        int32_t status;
    };
    for (const Call &c : std::vector<Call>{{handle, photo, nullptr, TAVO_ERR_GENERAL}, {handle, -1, points.data(), TAVO_ERR_GENERAL},
                                           {handle, 99999, points.data(), TAVO_ERR_GENERAL},
                                           {handle, empty, points.data(), TAVO_ERR_GENERAL},
                                           {length, photo, points.data(), TAVO_ERR_INVALID_HANDLE},
                                           {-1, photo, points.data(), TAVO_ERR_INVALID_HANDLE},
                                           {freed, photo, nullptr, TAVO_ERR_INVALID_HANDLE}}) {
        EXPECT_EQ(TAVO_CreateModelFromPhotoEx(c.model, c.image, c.points, 0, &scale, true, true), c.status);
        EXPECT_TRUE(createdState(handle) == before && scale == 123.0f);
    }
    TAVO_FreeImage(empty);
    // Meshes that cannot be fitted: each data directory's expressions from
    // `firstRefused` on are refused.
    const auto none = [](const std::string &) {};
    const std::vector<std::tuple<std::function<void(testing::SyntheticDataFiles &)>, std::function<void(const std::string &)>, int>> unfit = {
        {[](auto &f) { f.fullHead = false; }, none, 0},  // the small head lacks the fixed vertices
        {[](auto &) {}, [](const std::string &dir) {
             std::ofstream table(dir + "grd66.txt");  // feature point 30 outside region 1's nine vertices
             for (std::size_t k = 0; k < 66; ++k) table << k << " " << (k == 30 ? 9 : testing::fullHeadLandmarkTable()[k]) << "\n";
         }, 0},
        {[](auto &f) { f.faces = {true, true, true, false}; }, none, 3},  // no open smiling mesh
    };
    for (const auto &[choose, overwrite, firstRefused] : unfit) {
        testing::SyntheticDataFiles files;
        files.sqrt = false;
        files.fullHead = true;
        choose(files);
        const std::string dir = testing::writeSyntheticDataDirectory(testing::makeTemporaryDirectory("unfit"), files);
        overwrite(dir);
        ASSERT_EQ(TAVO_InitKelmo(dir.c_str()), TAVO_OK);
        const int32_t unchanged = newModel(true);
        const std::vector<uint8_t> start = createdState(unchanged);
        for (int e = firstRefused; e < 4; ++e) {
            for (const int count : {66, firstRefused == 0 ? 40 : 66}) {  // completed points need not smile
                const std::vector<int32_t> given = photoPoints(e, count);
                EXPECT_EQ(TAVO_CreateModelFromPhoto(unchanged, photo, given.data(), count == 40 ? 2 : 0, nullptr), TAVO_ERR_GENERAL) << e;
                EXPECT_TRUE(createdState(unchanged) == start) << e;
            }
        }
        if (firstRefused == 3) {  // without the smile the open neutral mesh serves
            const std::vector<int32_t> given = photoPoints(3);
            EXPECT_EQ(TAVO_CreateModelFromPhotoEx(unchanged, photo, given.data(), 0, nullptr, true, false), TAVO_OK);
        }
        TAVO_FinalizeKelmo();
        std::filesystem::remove_all(dir);
    }
    const int32_t orphan = newModel();  // after finalisation no mesh is left
    const std::vector<uint8_t> start = createdState(orphan);
    EXPECT_EQ(TAVO_CreateModelFromPhoto(orphan, photo, points.data(), 0, nullptr), TAVO_ERR_GENERAL);
    EXPECT_TRUE(createdState(orphan) == start);
    ASSERT_EQ(TAVO_InitKelmo(FullHeadData::directory.c_str()), TAVO_OK);
    destroyAllModels();
}

}  // namespace
}  // namespace kelmo
