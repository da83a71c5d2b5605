// Tests of creation from a photo (Part 3.1) on the synthetic full head
// (support/synthetic_head.h): photos whose feature points are the head's own
// feature points placed by a known scale, translation and roll.
#include "fitting/model_from_photo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "fitting/region_builders.h"
#include "frame/library_state.h"
#include "kelmo.h"
#include "model/model_table.h"
#include "support/model_support.h"
#include "support/synthetic_data.h"

namespace kelmo {
namespace {

using testing::fullHeadFeaturePoints;
using testing::fullHeadLandmarkTable;
using testing::fullHeadRegions;
using testing::makeTemporaryDirectory;
using testing::SyntheticDataFiles;
using testing::writeSyntheticDataDirectory;

constexpr std::array<int, 6> kEyePointIndices = {0, 1, 29, 30, 33, 34};

bool sameBits(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b); }

bool isEyePoint(int i) {
    return std::find(kEyePointIndices.begin(), kEyePointIndices.end(), i) != kEyePointIndices.end();
}
bool isExcluded(int i) { return i == 2 || i == 22 || i == 43 || i == 44; }

// A colour photo with some structure (it only becomes the texture).
ImageHandle makePhoto(int32_t width, int32_t height) {
    std::vector<uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t *p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            p[0] = static_cast<uint8_t>(x * 7);
            p[1] = static_cast<uint8_t>(y * 5);
            p[2] = static_cast<uint8_t>((x ^ y) & 0xff);
        }
    }
    ImageHandle photo = -1;
    EXPECT_EQ(TAVO_LoadImageFromBuffer(&photo, rgb.data(), width, height, width * 3, TAVO_IMAGEMODE_COLOR), 0);
    return photo;
}

std::vector<uint8_t> imagePixels(ImageHandle image) {
    int32_t size = 0;
    if (TAVO_GetImageBufferSize(image, &size, TAVO_IMAGEMODE_COLOR_ALPHA) != 0) return {};
    std::vector<uint8_t> pixels(static_cast<std::size_t>(size) + 1);
    TAVO_SaveImageToBuffer(image, pixels.data(), TAVO_IMAGEMODE_COLOR_ALPHA);
    pixels.pop_back();
    return pixels;
}

// The 66 feature points of expression mesh `expression` in a photo:
// `pixelsPerUnit` pixels per model unit about (cx, cy), y down, then rolled by
// `rollDegrees` about that centre, rounded to the nearest pixel.
std::vector<int32_t> photoPoints(int expression, double pixelsPerUnit = 120.0, double cx = 256.0, double cy = 256.0,
                                 double rollDegrees = 0.0) {
    const auto mesh = fullHeadFeaturePoints(expression);
    const double roll = rollDegrees * 3.14159265358979 / 180.0;
    std::vector<int32_t> points;
    for (const TVector3f &p : mesh) {
        const double x = pixelsPerUnit * p.x;
        const double y = -pixelsPerUnit * p.y;
        points.push_back(static_cast<int32_t>(std::lround(cx + x * std::cos(roll) - y * std::sin(roll))));
        points.push_back(static_cast<int32_t>(std::lround(cy + x * std::sin(roll) + y * std::cos(roll))));
    }
    return points;
}

int32_t newModel(bool disableMask = false) {
    int32_t handle = -1;
    EXPECT_EQ(TAVO_InitModel(&handle, disableMask ? 1 : 0), 0);
    return handle;
}

TModel &modelOf(int32_t handle) {
    TModel *model = resolveModel(handle);
    EXPECT_NE(model, nullptr);
    return *model;
}

// Every member that creation writes, compared bit for bit.
::testing::AssertionResult sameCreatedState(const TModel &a, const TModel &b) {
    if (!test::regionListsBitwiseEqual(a.regions, b.regions))
        return test::regionListsBitwiseEqual(a.regions, b.regions);
    auto sameVectors = [](const std::vector<TVector3f> &x, const std::vector<TVector3f> &y) {
        return x.size() == y.size() && (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof(x[0])) == 0);
    };
    if (a.extraRegion != b.extraRegion) return ::testing::AssertionFailure() << "extraRegion";
    if (a.expressionClass != b.expressionClass) return ::testing::AssertionFailure() << "expressionClass";
    if (std::memcmp(a.faceGrid.data(), b.faceGrid.data(), sizeof(a.faceGrid)) != 0)
        return ::testing::AssertionFailure() << "faceGrid";
    if (!sameVectors(a.featurePoints, b.featurePoints)) return ::testing::AssertionFailure() << "featurePoints";
    if (a.featureVertices != b.featureVertices) return ::testing::AssertionFailure() << "featureVertices";
    if (a.controlCount != b.controlCount) return ::testing::AssertionFailure() << "controlCount";
    if (!sameVectors(a.controlSource, b.controlSource) || !sameVectors(a.controlTarget, b.controlTarget))
        return ::testing::AssertionFailure() << "control points";
    if (!sameVectors(a.interpolator.centres, b.interpolator.centres) ||
        !sameVectors(a.interpolator.values, b.interpolator.values) ||
        !sameVectors(a.interpolator.weights, b.interpolator.weights))
        return ::testing::AssertionFailure() << "interpolator";
    if (imagePixels(a.texture) != imagePixels(b.texture)) return ::testing::AssertionFailure() << "texture";
    return ::testing::AssertionSuccess();
}

// A copy of what creation writes, to show that a failing call changes nothing.
struct Snapshot {
    explicit Snapshot(const TModel &model)
        : regions(model.regions),
          featurePoints(model.featurePoints),
          featureVertices(model.featureVertices),
          controlSource(model.controlSource),
          controlTarget(model.controlTarget),
          centres(model.interpolator.centres),
          faceGrid(model.faceGrid),
          extraRegion(model.extraRegion),
          expressionClass(model.expressionClass),
          controlCount(model.controlCount),
          texture(imagePixels(model.texture)) {}
    ::testing::AssertionResult matches(const TModel &model) const {
        if (!test::regionListsBitwiseEqual(regions, model.regions))
            return test::regionListsBitwiseEqual(regions, model.regions);
        const Snapshot now(model);
        auto same = [](const auto &x, const auto &y) {
            return x.size() == y.size() && (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof(x[0])) == 0);
        };
        if (!same(featurePoints, now.featurePoints) || featureVertices != now.featureVertices ||
            !same(controlSource, now.controlSource) || !same(controlTarget, now.controlTarget) ||
            !same(centres, now.centres) || std::memcmp(faceGrid.data(), now.faceGrid.data(), sizeof(faceGrid)) != 0 ||
            extraRegion != now.extraRegion || expressionClass != now.expressionClass ||
            controlCount != now.controlCount || texture != now.texture) {
            return ::testing::AssertionFailure() << "model state changed";
        }
        return ::testing::AssertionSuccess();
    }
    std::vector<TRegion> regions;
    std::vector<TVector3f> featurePoints;
    std::vector<int32_t> featureVertices;
    std::vector<TVector3f> controlSource;
    std::vector<TVector3f> controlTarget;
    std::vector<TVector3f> centres;
    std::array<TPointf, kFeaturePointCount> faceGrid;
    int32_t extraRegion;
    int32_t expressionClass;
    int32_t controlCount;
    std::vector<uint8_t> texture;
};

class ModelFromPhoto : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SyntheticDataFiles files;
        files.fullHead = true;
        directory_ = new std::string(writeSyntheticDataDirectory(makeTemporaryDirectory("fullhead"), files));
    }
    static void TearDownTestSuite() {
        delete directory_;
        directory_ = nullptr;
    }
    void SetUp() override {
        ASSERT_EQ(TAVO_InitKelmo(directory_->c_str()), TAVO_OK);
        photo_ = makePhoto(512, 512);
    }
    void TearDown() override {
        TAVO_FreeImage(photo_);
        TAVO_FinalizeKelmo();
    }
    // Creates a model from the photo of `expression`'s points.
    int32_t createFrom(int expression, bool noSmile = false, bool closedMouth = false, bool disableMask = false) {
        const int32_t handle = newModel(disableMask);
        const std::vector<int32_t> points = photoPoints(expression);
        EXPECT_EQ(TAVO_CreateModelFromPhotoEx(handle, photo_, points.data(), 0, nullptr, noSmile, closedMouth),
                  TAVO_OK);
        return handle;
    }

    static std::string *directory_;
    ImageHandle photo_ = -1;
};
std::string *ModelFromPhoto::directory_ = nullptr;

// ---- ClassifyExpression -----------------------------------------------------

TexturePoints levelPoints() {
    TexturePoints t{};
    for (TPointf &p : t) p = {0.5f, 0.0f};
    return t;
}

TEST(ClassifyExpression, MouthOpeningOfExactlyTwoHundredthsCountsAsClosed) {
    TexturePoints t = levelPoints();
    t[61].y = 0.0f;
    t[64].y = 0.02f;  // d = |0 - 0.02| is exactly 0.02 (as a float)
    ASSERT_EQ(std::fabs(t[61].y - t[64].y), 0.02f);
    EXPECT_EQ(classifyExpression(t), 0);
    t[64].y = std::nextafter(0.02f, 1.0f);  // the next float above: open
    EXPECT_EQ(classifyExpression(t), 1);
}

TEST(ClassifyExpression, CornersAboveTheLipsByMoreThanTwoHundredthsSmile) {
    TexturePoints t = levelPoints();
    t[61].y = 0.40f;
    t[64].y = 0.40f;
    t[3].y = 0.42f;
    t[4].y = 0.41f;  // m = 0.83 > s = 0.82: smiling, closed
    EXPECT_EQ(classifyExpression(t), 2);
    t[64].y = 0.36f;  // d = 0.04: open; s = 0.78
    EXPECT_EQ(classifyExpression(t), 3);
    t[3].y = 0.38f;
    t[4].y = 0.38f;  // m = 0.76 < s: neutral
    EXPECT_EQ(classifyExpression(t), 1);
    t[64].y = 0.40f;
    EXPECT_EQ(classifyExpression(t), 0);
}

TEST(ClassifyExpression, AComparisonInvolvingNaNGivesClassZero) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    TexturePoints t = levelPoints();
    t[61].y = 0.5f;
    t[64].y = 0.3f;  // open
    t[3].y = 0.9f;   // and smiling
    t[4].y = 0.9f;
    ASSERT_EQ(classifyExpression(t), 3);
    TexturePoints corner = t;
    corner[3].y = nan;  // m is NaN, d is not
    EXPECT_EQ(classifyExpression(corner), 0);
    TexturePoints lip = t;
    lip[61].y = nan;  // d and s are NaN
    EXPECT_EQ(classifyExpression(lip), 0);
    TexturePoints infinite = t;
    infinite[61].y = std::numeric_limits<float>::infinity();
    infinite[64].y = std::numeric_limits<float>::infinity();  // d = inf - inf is NaN
    EXPECT_EQ(classifyExpression(infinite), 0);
}

TEST(ExpressionFlags, AllFourCombinationsOnEveryClass) {
    // {none, noSmile, closedMouth, both} for classes 0..3.
    const int32_t expected[4][4] = {{0, 0, 0, 0}, {1, 1, 0, 0}, {2, 0, 2, 0}, {3, 1, 2, 0}};
    for (int32_t e = 0; e < 4; ++e) {
        EXPECT_EQ(applyExpressionFlags(e, false, false), expected[e][0]) << e;
        EXPECT_EQ(applyExpressionFlags(e, true, false), expected[e][1]) << e;
        EXPECT_EQ(applyExpressionFlags(e, false, true), expected[e][2]) << e;
        EXPECT_EQ(applyExpressionFlags(e, true, true), expected[e][3]) << e;
    }
}

// ---- AlignFeaturePoints, ProjectTextureCoords, PlaceTeeth ---------------------

TEST(AlignFeaturePoints, RecoversTheUniformScaleAndOffsetOfAnExactFit) {
    // Texture points T and mesh points P = 2.5 T + (-1.25, -0.75): the fit
    // finds s = 2.5 and o, the targets are P again at the mesh's depth, and
    // sigma P + tau maps back to T.
    FeaturePoints3D mesh{};
    TexturePoints texture{};
    for (int i = 0; i < kFeaturePointCount; ++i) {
        const float u = 0.2f + 0.01f * static_cast<float>(i % 11);
        const float v = 0.3f + 0.012f * static_cast<float>(i / 11);
        texture[static_cast<std::size_t>(i)] = {u, v};
        mesh[static_cast<std::size_t>(i)] = {2.5f * u - 1.25f, 2.5f * v - 0.75f, 0.1f * static_cast<float>(i)};
    }
    const FeatureAlignment alignment = alignFeaturePoints(mesh, texture);
    EXPECT_NEAR(alignment.textureScale, 1.0 / 2.5, 1e-6);
    EXPECT_NEAR(alignment.textureOffset.x, 1.25 / 2.5, 1e-6);
    EXPECT_NEAR(alignment.textureOffset.y, 0.75 / 2.5, 1e-6);
    for (int i = 0; i < kFeaturePointCount; ++i) {
        const auto k = static_cast<std::size_t>(i);
        EXPECT_NEAR(alignment.targets[k].x, mesh[k].x, 1e-5);
        EXPECT_NEAR(alignment.targets[k].y, mesh[k].y, 1e-5);
        EXPECT_TRUE(sameBits(alignment.targets[k].z, mesh[k].z));
    }
}

TEST(AlignFeaturePoints, TextureOffsetIsTheOffsetTimesTheRoundedNegativeReciprocal) {
    FeaturePoints3D mesh{};
    TexturePoints texture{};
    for (int i = 0; i < kFeaturePointCount; ++i) {
        texture[static_cast<std::size_t>(i)] = {0.3f + 0.007f * static_cast<float>(i),
                                                0.9f - 0.005f * static_cast<float>(i)};
        mesh[static_cast<std::size_t>(i)] = {
            3.0f * texture[static_cast<std::size_t>(i)].x + 0.1f * std::sin(static_cast<float>(i)),
            3.0f * texture[static_cast<std::size_t>(i)].y - 1.0f, 0.0f};
    }
    const FeatureAlignment alignment = alignFeaturePoints(mesh, texture);
    // Recover s and o from a target and sigma: B = s T + o with s = 1 / sigma
    // up to one rounding; tau must equal o * (-1 / s) with the reciprocal
    // rounded first, which equals -(o * sigma) since -1 / s = -(1 / s).
    const float s = (alignment.targets[1].x - alignment.targets[0].x) / (texture[1].x - texture[0].x);
    EXPECT_NEAR(alignment.textureScale * s, 1.0f, 1e-4);
    // tau = -o sigma: T = sigma B + tau on every target.
    for (int i = 0; i < kFeaturePointCount; ++i) {
        const auto k = static_cast<std::size_t>(i);
        EXPECT_NEAR(alignment.textureScale * alignment.targets[k].x + alignment.textureOffset.x, texture[k].x, 1e-5);
        EXPECT_NEAR(alignment.textureScale * alignment.targets[k].y + alignment.textureOffset.y, texture[k].y, 1e-5);
    }
}

TEST(ProjectTextureCoords, ProjectsEveryCornerClampsToTheUnitRangeAndLeavesUnreferencedCoordinates) {
    TRegion region;
    region.vertices = {{0.0f, 0.0f, 0}, {1.0f, 0.5f, 0}, {-3.0f, 2.0f, 0}, {0.25f, 0.75f, 0}};
    region.textureCoords = {{9, 9}, {9, 9}, {9, 9}, {9, 9}, {7, 7}};
    region.quads = {{0, 1, 2, 3}};
    region.textureQuads = {{3, 2, 1, 0}};  // texture corner k gets vertex corner k
    const float sigma = 0.5f;
    const TPointf tau{0.25f, 0.125f};
    projectTextureCoords(region, sigma, tau);
    // Vertex 0 -> texture 3, vertex 1 -> texture 2, vertex 2 -> 1, vertex 3 -> 0.
    EXPECT_EQ(region.textureCoords[3].x, 0.25f);
    EXPECT_EQ(region.textureCoords[3].y, 0.125f);
    EXPECT_EQ(region.textureCoords[2].x, 0.75f);
    EXPECT_EQ(region.textureCoords[2].y, 0.375f);
    EXPECT_EQ(region.textureCoords[1].x, 0.0f);  // 0.5 * -3 + 0.25 clamped
    EXPECT_EQ(region.textureCoords[1].y, 1.0f);  // 0.5 * 2 + 0.125 clamped
    EXPECT_EQ(region.textureCoords[0].x, 0.375f);
    EXPECT_EQ(region.textureCoords[0].y, 0.5f);
    EXPECT_EQ(region.textureCoords[4].x, 7.0f);  // unreferenced
}

std::vector<TRegion> teethRegions() {
    std::vector<TRegion> regions(5);
    regions[0].vertices.assign(1700, TVector3f{0, 0, 0});
    regions[3].vertices = {{0.0f, 0.0f, 1.0f}, {0.5f, -0.1f, 2.0f}, {-0.25f, 0.2f, 0.5f}};
    regions[4].vertices = {{0.0f, -0.5f, 1.0f}, {0.5f, -0.6f, 3.0f}};
    return regions;
}

TEST(PlaceTeeth, SmilingTeethRecedeWithTheFirstVertexDepthReadAsItChanges) {
    std::vector<TRegion> regions = teethRegions();
    const std::vector<TRegion> before = regions;
    ASSERT_TRUE(placeTeeth(regions, 2));
    // Part 3.1 PlaceTeeth step 1 from its text: vertex 0 moves by 0.07 first,
    // later vertices read that new depth.
    auto recede = [](std::vector<TVector3f> v, float lift) {
        for (std::size_t i = 0; i < v.size(); ++i) {
            v[i].y = v[i].y + lift;
            v[i].z = v[i].z - ((v[0].z - v[i].z) * 0.4f + 0.07f);
        }
        return v;
    };
    std::vector<TVector3f> upper = recede(before[3].vertices, 0.1f);
    std::vector<TVector3f> lower = recede(before[4].vertices, 0.25f);
    // Step 3: both scaled about region 3's first vertex.
    const TVector3f c = upper[0];
    auto scale = [&](std::vector<TVector3f> &v) {
        for (TVector3f &p : v) p = {(p.x - c.x) * 0.95f + c.x, (p.y - c.y) * 0.9f + c.y, (p.z - c.z) * 0.5f + c.z};
    };
    scale(upper);
    scale(lower);
    for (std::size_t i = 0; i < upper.size(); ++i) {
        EXPECT_TRUE(sameBits(regions[3].vertices[i].y, upper[i].y)) << i;
        EXPECT_TRUE(sameBits(regions[3].vertices[i].z, upper[i].z)) << i;
    }
    for (std::size_t i = 0; i < lower.size(); ++i) {
        EXPECT_TRUE(sameBits(regions[4].vertices[i].x, lower[i].x)) << i;
        EXPECT_TRUE(sameBits(regions[4].vertices[i].z, lower[i].z)) << i;
    }
    EXPECT_EQ(regions[3].vertices[0].z, 0.93f);
    // With the depth read once before the loop, vertex 1 would end elsewhere.
    const float staleDepth = 2.0f - ((1.0f - 2.0f) * 0.4f + 0.07f);
    EXPECT_NE(regions[3].vertices[1].z, (staleDepth - c.z) * 0.5f + c.z);
}

TEST(PlaceTeeth, NeutralClosedTeethOnlyRiseAndScale) {
    std::vector<TRegion> regions = teethRegions();
    const std::vector<TRegion> before = regions;
    ASSERT_TRUE(placeTeeth(regions, 0));
    const TVector3f c{before[3].vertices[0].x, before[3].vertices[0].y + 0.1f, before[3].vertices[0].z};
    for (std::size_t i = 0; i < before[3].vertices.size(); ++i) {
        const TVector3f v = before[3].vertices[i];
        EXPECT_TRUE(sameBits(regions[3].vertices[i].y, ((v.y + 0.1f) - c.y) * 0.9f + c.y)) << i;
        EXPECT_TRUE(sameBits(regions[3].vertices[i].z, (v.z - c.z) * 0.5f + c.z)) << i;
    }
    for (std::size_t i = 0; i < before[4].vertices.size(); ++i) {
        const TVector3f v = before[4].vertices[i];
        EXPECT_TRUE(sameBits(regions[4].vertices[i].x, (v.x - c.x) * 0.95f + c.x)) << i;
        EXPECT_TRUE(sameBits(regions[4].vertices[i].y, ((v.y + 0.25f) - c.y) * 0.9f + c.y)) << i;
    }
}

TEST(PlaceTeeth, OpenMouthLiftsBothRowsByTheLargerOfTheTwoGaps) {
    for (const bool lipWins : {true, false}) {
        std::vector<TRegion> regions = teethRegions();
        regions[0].vertices[371].y = lipWins ? 0.9f : 0.0f;
        regions[0].vertices[1683].y = lipWins ? 0.0f : 0.9f;
        std::vector<TRegion> closed = regions;
        ASSERT_TRUE(placeTeeth(regions, 1));
        ASSERT_TRUE(placeTeeth(closed, 0));  // the same up to step 4
        float minY = 10.0f, maxY = -10.0f;
        for (const TVector3f &v : closed[3].vertices) {
            minY = std::min(minY, v.y);
            maxY = std::max(maxY, v.y);
        }
        const float d1 = regions[0].vertices[371].y - minY;
        const float d2 = static_cast<float>(static_cast<double>(regions[0].vertices[1683].y) -
                                            (static_cast<double>(maxY) * 0.55 + static_cast<double>(minY) * 0.45));
        const float shift = lipWins ? d1 : d2;
        ASSERT_EQ(shift, std::max(d1, d2));
        for (std::size_t r : {std::size_t{3}, std::size_t{4}}) {
            for (std::size_t i = 0; i < closed[r].vertices.size(); ++i) {
                EXPECT_TRUE(sameBits(regions[r].vertices[i].y, closed[r].vertices[i].y + shift)) << r << " " << i;
                EXPECT_TRUE(sameBits(regions[r].vertices[i].z, closed[r].vertices[i].z));
            }
        }
    }
}

TEST(PlaceTeeth, MissingVerticesAreRefusedAndNothingChanges) {
    std::vector<TRegion> regions = teethRegions();
    regions[0].vertices.resize(1000);  // no 1683
    const std::vector<TRegion> before = regions;
    EXPECT_FALSE(placeTeeth(regions, 3));
    EXPECT_TRUE(test::regionListsBitwiseEqual(before, regions));
    regions[3].vertices.clear();  // region 4 without the scaling centre
    const std::vector<TRegion> noUpper = regions;
    EXPECT_FALSE(placeTeeth(regions, 0));
    EXPECT_TRUE(test::regionListsBitwiseEqual(noUpper, regions));
}

// ---- Completion of pointSet 1 and 2 -----------------------------------------

TEST(CompleteTexturePoints, MissingEntriesAreMeshPointsMappedByTheFittedScaleAndOffset) {
    TModel mesh0;
    mesh0.regions = fullHeadRegions(0);
    const std::vector<int32_t> table = fullHeadLandmarkTable();
    const auto meshPoints = fullHeadFeaturePoints(0);
    TexturePoints texture{};
    for (int i = 0; i < kFeaturePointCount; ++i) {
        const TVector3f p = meshPoints[static_cast<std::size_t>(i)];
        texture[static_cast<std::size_t>(i)] =
            i < 40 ? TPointf{static_cast<float>(0.3 * p.x + 0.5), static_cast<float>(0.3 * p.y + 0.45)}
                   : TPointf{-7.0f, -7.0f};
    }
    ASSERT_TRUE(completeTexturePoints(texture, 40, mesh0, table));
    for (int i = 0; i < kFeaturePointCount; ++i) {
        const TVector3f p = meshPoints[static_cast<std::size_t>(i)];
        EXPECT_NEAR(texture[static_cast<std::size_t>(i)].x, 0.3 * p.x + 0.5, 1e-6) << i;
        EXPECT_NEAR(texture[static_cast<std::size_t>(i)].y, 0.3 * p.y + 0.45, 1e-6) << i;
    }
    // A landmark outside its region is refused, T unchanged.
    std::vector<int32_t> bad = table;
    bad[50] = 1 << 20;
    TexturePoints copy = texture;
    copy[60] = {-7.0f, -7.0f};
    const TexturePoints kept = copy;
    EXPECT_FALSE(completeTexturePoints(copy, 40, mesh0, bad));
    EXPECT_EQ(std::memcmp(copy.data(), kept.data(), sizeof(copy)), 0);
}

// ---- TAVO_CreateModelFromPhoto: Part 3.1's edge cases -----------------------

TEST_F(ModelFromPhoto, PhotosOfTheFourMeshesAreClassifiedAsTheirExpressions) {
    for (int e = 0; e < 4; ++e) EXPECT_EQ(modelOf(createFrom(e)).expressionClass, e) << e;
}

TEST_F(ModelFromPhoto, BothFlagsAlwaysTakeTheClosedNeutralMesh) {
    for (int e = 0; e < 4; ++e) {
        const TModel &model = modelOf(createFrom(e, true, true));
        EXPECT_EQ(model.expressionClass, 0) << e;
        // The teeth (never deformed) are mesh 0's, placed for the closed
        // neutral class.
        std::vector<TRegion> expected = fullHeadRegions(0);
        ASSERT_TRUE(placeTeeth(expected, 0));
        for (std::size_t r : {std::size_t{3}, std::size_t{4}}) {
            ASSERT_EQ(model.regions[r].vertices.size(), expected[r].vertices.size());
            EXPECT_EQ(std::memcmp(model.regions[r].vertices.data(), expected[r].vertices.data(),
                                  expected[r].vertices.size() * sizeof(TVector3f)),
                      0)
                << e << " " << r;
        }
    }
}

TEST_F(ModelFromPhoto, FourFlagCombinationsOnAnOpenSmilingPhoto) {
    EXPECT_EQ(modelOf(createFrom(3, false, false)).expressionClass, 3);
    EXPECT_EQ(modelOf(createFrom(3, true, false)).expressionClass, 1);
    EXPECT_EQ(modelOf(createFrom(3, false, true)).expressionClass, 2);
    EXPECT_EQ(modelOf(createFrom(3, true, true)).expressionClass, 0);
}

TEST_F(ModelFromPhoto, CreationGivesNineRegionsWithRegionEightHoldingSixLooseVertices) {
    const TModel &model = modelOf(createFrom(1));
    ASSERT_EQ(model.regions.size(), 9u);
    EXPECT_EQ(model.extraRegion, 8);
    EXPECT_EQ(model.regions[8].vertices.size(), 6u);
    EXPECT_TRUE(model.regions[8].quads.empty());
    EXPECT_TRUE(model.regions[6].vertices.empty());  // a new model had no region 6
    EXPECT_EQ(model.regions[5].vertices.size(), 9u);
    EXPECT_EQ(model.regions[7].vertices.size(), 114u);
    for (std::size_t k = 0; k < kEyePointIndices.size(); ++k) {
        EXPECT_EQ(model.featureVertices[static_cast<std::size_t>(kEyePointIndices[k])], static_cast<int32_t>(k));
    }
    int32_t count = 0;
    ASSERT_EQ(TAVO_GetModelNumRegions(createFrom(0), &count), 0);
    EXPECT_EQ(count, 9);
}

TEST_F(ModelFromPhoto, RegionSixKeepsWhatItHeldBefore) {
    const int32_t handle = newModel();
    TModel &model = modelOf(handle);
    model.regions.resize(12);
    model.regions[6].vertices = {{1, 2, 3}, {4, 5, 6}};
    model.regions[6].textureCoords = {{0.1f, 0.2f}};
    model.regions[6].quads = {{0, 1, 1, 0}};
    model.regions[6].textureQuads = {{0, 0, 0, 0}};
    model.teethFromModelTexture = false;  // region 6 is not projected either
    const TRegion kept = model.regions[6];
    const std::vector<int32_t> points = photoPoints(0);
    ASSERT_EQ(TAVO_CreateModelFromPhoto(handle, photo_, points.data(), 0, nullptr), TAVO_OK);
    ASSERT_EQ(model.regions.size(), 9u);
    EXPECT_TRUE(test::regionsBitwiseEqual(model.regions[6], kept));
}

TEST_F(ModelFromPhoto, ControlPointCountIsFiftySix) {
    const TModel &model = modelOf(createFrom(2));
    EXPECT_EQ(model.controlCount, 56);
    EXPECT_EQ(model.controlSource.size(), 66u);
    EXPECT_EQ(model.controlTarget.size(), 66u);
    EXPECT_EQ(model.interpolator.centres.size(), 56u);
    EXPECT_EQ(model.interpolator.weights.size(), 56u);
}

TEST_F(ModelFromPhoto, FaceGridLiesInTheFrameAndSurfaceTextureCoordinatesInTheUnitSquare) {
    for (const double roll : {0.0, 15.0}) {
        const int32_t handle = newModel();
        const std::vector<int32_t> points = photoPoints(0, 120.0, 256.0, 256.0, roll);
        ASSERT_EQ(TAVO_CreateModelFromPhoto(handle, photo_, points.data(), 0, nullptr), TAVO_OK);
        const TModel &model = modelOf(handle);
        for (const TPointf &p : model.faceGrid) {
            EXPECT_GE(p.x, 0.0f);
            EXPECT_LE(p.x, 256.0f);
            EXPECT_GE(p.y, 0.0f);
            EXPECT_LE(p.y, 256.0f);
        }
        for (std::size_t r = 0; r < 3; ++r) {
            for (const TPointf &t : model.regions[r].textureCoords) {
                EXPECT_GE(t.x, 0.0f);
                EXPECT_LE(t.x, 1.0f);
                EXPECT_GE(t.y, 0.0f);
                EXPECT_LE(t.y, 1.0f);
            }
        }
        int32_t width = 0, height = 0;
        TAVO_GetImageWidth(model.texture, &width);
        TAVO_GetImageHeight(model.texture, &height);
        EXPECT_EQ(width, 256);
        EXPECT_EQ(height, 256);
    }
}

TEST_F(ModelFromPhoto, WithTheTeethFlagClearSockKeepsItsConstantsAndTeethKeepTheMeshCoordinates) {
    const int32_t handle = newModel();
    TModel &model = modelOf(handle);
    model.teethFromModelTexture = false;
    const std::vector<int32_t> points = photoPoints(3);
    ASSERT_EQ(TAVO_CreateModelFromPhoto(handle, photo_, points.data(), 0, nullptr), TAVO_OK);
    const float sock[9][2] = {{0.5f, 0.5f}, {0.5f, 0.5f}, {0, 0.5f}, {0, 1},   {1, 0.5f},
                              {1, 1},       {1, 0.5f},    {1, 0},    {0, 0.5f}};
    for (std::size_t k = 0; k < 9; ++k) {
        EXPECT_EQ(model.regions[5].textureCoords[k].x, sock[k][0]) << k;
        EXPECT_EQ(model.regions[5].textureCoords[k].y, sock[k][1]) << k;
    }
    const std::vector<TRegion> mesh = fullHeadRegions(model.expressionClass);
    for (std::size_t r : {std::size_t{3}, std::size_t{4}}) {
        ASSERT_EQ(model.regions[r].textureCoords.size(), mesh[r].textureCoords.size());
        EXPECT_EQ(std::memcmp(model.regions[r].textureCoords.data(), mesh[r].textureCoords.data(),
                              mesh[r].textureCoords.size() * sizeof(TPointf)),
                  0)
            << r;
    }
    // With the flag set (TAVO_InitModel's default) they are projected.
    const TModel &projected = modelOf(createFrom(3));
    EXPECT_NE(std::memcmp(projected.regions[3].textureCoords.data(), mesh[3].textureCoords.data(),
                          mesh[3].textureCoords.size() * sizeof(TPointf)),
              0);
    EXPECT_NE(projected.regions[5].textureCoords[2].y, 0.5f);
}

TEST_F(ModelFromPhoto, HandleEqualToTheTableLengthGivesMinusFour) {
    const int32_t handle = newModel();
    const std::vector<int32_t> points = photoPoints(0);
    const auto length = static_cast<int32_t>(libraryState().models.size());
    EXPECT_EQ(TAVO_CreateModelFromPhoto(length, photo_, points.data(), 0, nullptr), TAVO_ERR_INVALID_HANDLE);
    EXPECT_EQ(TAVO_CreateModelFromPhoto(-1, photo_, points.data(), 0, nullptr), TAVO_ERR_INVALID_HANDLE);
    ASSERT_EQ(TAVO_FreeModel(handle), 0);
    EXPECT_EQ(TAVO_CreateModelFromPhotoEx(handle, photo_, points.data(), 0, nullptr, true, true),
              TAVO_ERR_INVALID_HANDLE);
}

// ---- The further tests ------------------------------------------------

TEST_F(ModelFromPhoto, ControlFeaturePointsSitOnTheirTargetsOneUniformScaleAndTranslationOfTheTexturePoints) {
    for (int e : {0, 3}) {
        SCOPED_TRACE(e);
        const TModel &model = modelOf(createFrom(e));
        ASSERT_EQ(model.expressionClass, e);
        const auto mesh = fullHeadFeaturePoints(e);
        // T from the face grid (frame pixels, Part 3.1 step 6).
        std::array<std::array<double, 2>, kFeaturePointCount> t{};
        for (int i = 0; i < kFeaturePointCount; ++i) {
            const TPointf q = model.faceGrid[static_cast<std::size_t>(i)];
            t[static_cast<std::size_t>(i)] = {q.x / 256.0f, 1.0f - q.y / 256.0f};
        }
        // An independent least-squares fit in double of mesh x/y to T.
        double mpx = 0, mpy = 0, mtu = 0, mtv = 0;
        for (int i = 0; i < kFeaturePointCount; ++i) {
            mpx += mesh[static_cast<std::size_t>(i)].x;
            mpy += mesh[static_cast<std::size_t>(i)].y;
            mtu += t[static_cast<std::size_t>(i)][0];
            mtv += t[static_cast<std::size_t>(i)][1];
        }
        mpx /= 66;
        mpy /= 66;
        mtu /= 66;
        mtv /= 66;
        double num = 0, den = 0;
        for (int i = 0; i < kFeaturePointCount; ++i) {
            const double du = t[static_cast<std::size_t>(i)][0] - mtu, dv = t[static_cast<std::size_t>(i)][1] - mtv;
            num += (mesh[static_cast<std::size_t>(i)].x - mpx) * du + (mesh[static_cast<std::size_t>(i)].y - mpy) * dv;
            den += du * du + dv * dv;
        }
        const double s = num / den, ox = mpx - s * mtu, oy = mpy - s * mtv;
        int k = 0;
        int eye = 0;
        for (int i = 0; i < kFeaturePointCount; ++i) {
            const auto index = static_cast<std::size_t>(i);
            const double tx = s * t[index][0] + ox, ty = s * t[index][1] + oy;
            if (isEyePoint(i)) {
                const TVector3f b = model.regions[8].vertices[static_cast<std::size_t>(eye++)];
                EXPECT_NEAR(b.x, tx, 1e-5) << i;
                EXPECT_NEAR(b.y, ty, 1e-5) << i;
                EXPECT_TRUE(sameBits(b.z, mesh[index].z)) << i;
                continue;
            }
            if (isExcluded(i)) continue;
            const TVector3f source = model.controlSource[static_cast<std::size_t>(k)];
            const TVector3f target = model.controlTarget[static_cast<std::size_t>(k)];
            ++k;
            EXPECT_TRUE(sameBits(source.x, mesh[index].x) && sameBits(source.y, mesh[index].y)) << i;
            EXPECT_NEAR(target.x, tx, 1e-5) << i;
            EXPECT_NEAR(target.y, ty, 1e-5) << i;
            EXPECT_TRUE(sameBits(target.z, mesh[index].z)) << i;
            // The deformed feature vertex sits on its target (the field
            // reproduces the values at the centres, to single rounding).
            const TVector3f fitted = model.featurePoints[index];
            EXPECT_NEAR(fitted.x, target.x, 1e-6) << i;
            EXPECT_NEAR(fitted.y, target.y, 1e-6) << i;
            EXPECT_NEAR(fitted.z, target.z, 1e-6) << i;
            const TVector3f vertex = model.regions[0].vertices[static_cast<std::size_t>(model.featureVertices[index])];
            EXPECT_TRUE(sameBits(vertex.x, fitted.x) && sameBits(vertex.y, fitted.y)) << i;
        }
        EXPECT_EQ(k, 56);
    }
}

TEST_F(ModelFromPhoto, PhotoRolledByFifteenDegreesEitherWayGivesTheUprightModel) {
    const TModel &upright = modelOf(createFrom(3));
    for (const double roll : {15.0, -15.0}) {
        SCOPED_TRACE(roll);
        const int32_t handle = newModel();
        const std::vector<int32_t> points = photoPoints(3, 120.0, 256.0, 256.0, roll);
        ASSERT_EQ(TAVO_CreateModelFromPhoto(handle, photo_, points.data(), 0, nullptr), TAVO_OK);
        const TModel &rolled = modelOf(handle);
        EXPECT_EQ(rolled.expressionClass, upright.expressionClass);
        // Integer pixel points and the frame's own rounding leave about a pixel
        // of the 86-pixel-per-unit frame: 0.02 model units.
        for (std::size_t i = 0; i < upright.featurePoints.size(); ++i) {
            EXPECT_NEAR(rolled.featurePoints[i].x, upright.featurePoints[i].x, 0.02) << i;
            EXPECT_NEAR(rolled.featurePoints[i].y, upright.featurePoints[i].y, 0.02) << i;
            EXPECT_NEAR(rolled.featurePoints[i].z, upright.featurePoints[i].z, 0.02) << i;
        }
    }
}

TEST_F(ModelFromPhoto, SecondCreationOnTheSameModelEqualsAFirstCreation) {
    const int32_t reused = newModel();
    const std::vector<int32_t> smile = photoPoints(3);
    const std::vector<int32_t> neutral = photoPoints(0, 100.0, 240.0, 270.0, 5.0);
    ASSERT_EQ(TAVO_CreateModelFromPhoto(reused, photo_, smile.data(), 0, nullptr), TAVO_OK);
    ASSERT_EQ(TAVO_CreateModelFromPhoto(reused, photo_, neutral.data(), 0, nullptr), TAVO_OK);
    const int32_t fresh = newModel();
    ASSERT_EQ(TAVO_CreateModelFromPhoto(fresh, photo_, neutral.data(), 0, nullptr), TAVO_OK);
    EXPECT_TRUE(sameCreatedState(modelOf(reused), modelOf(fresh)));
    EXPECT_EQ(modelOf(reused).regions.size(), 9u);
}

TEST_F(ModelFromPhoto, PhotoAndCallersPointsAreUnchangedAfterwards) {
    for (const double roll : {0.0, 12.0}) {
        const std::vector<uint8_t> pixels = imagePixels(photo_);
        const std::vector<int32_t> points = photoPoints(1, 120.0, 256.0, 256.0, roll);
        std::vector<int32_t> passed = points;
        ASSERT_EQ(TAVO_CreateModelFromPhoto(newModel(), photo_, passed.data(), 0, nullptr), TAVO_OK);
        EXPECT_EQ(passed, points);
        EXPECT_EQ(imagePixels(photo_), pixels);
    }
}

TEST_F(ModelFromPhoto, SixtyTwoAndFortyPointCallsGiveModelsCloseToTheFullCall) {
    const std::vector<int32_t> points = photoPoints(0);
    const TModel &full = modelOf(createFrom(0));
    for (const auto &[pointSet, count] : {std::pair{1, 62}, std::pair{2, 40}}) {
        SCOPED_TRACE(count);
        const std::vector<int32_t> first(points.begin(), points.begin() + 2 * count);  // exactly N pairs
        const int32_t handle = newModel();
        ASSERT_EQ(TAVO_CreateModelFromPhoto(handle, photo_, first.data(), pointSet, nullptr), TAVO_OK);
        const TModel &partial = modelOf(handle);
        EXPECT_EQ(partial.expressionClass, full.expressionClass);
        EXPECT_EQ(partial.controlCount, 56);
        for (std::size_t i = 0; i < full.featurePoints.size(); ++i) {
            EXPECT_NEAR(partial.featurePoints[i].x, full.featurePoints[i].x, 0.01) << i;
            EXPECT_NEAR(partial.featurePoints[i].y, full.featurePoints[i].y, 0.01) << i;
        }
        for (std::size_t v = 0; v < full.regions[0].vertices.size(); v += 97) {
            EXPECT_NEAR(partial.regions[0].vertices[v].x, full.regions[0].vertices[v].x, 0.01) << v;
            EXPECT_NEAR(partial.regions[0].vertices[v].y, full.regions[0].vertices[v].y, 0.01) << v;
        }
        // The completed face-grid entries lie near the full call's frame points.
        for (std::size_t i = static_cast<std::size_t>(count); i < 66; ++i) {
            EXPECT_NEAR(partial.faceGrid[i].x, full.faceGrid[i].x, 2.0) << i;
            EXPECT_NEAR(partial.faceGrid[i].y, full.faceGrid[i].y, 2.0) << i;
        }
    }
}

TEST_F(ModelFromPhoto, ScaleIsModelUnitsPerPhotoPixel) {
    const int32_t handle = newModel();
    const std::vector<int32_t> points = photoPoints(0, 120.0);
    float scale = 0.0f;
    ASSERT_EQ(TAVO_CreateModelFromPhoto(handle, photo_, points.data(), 0, &scale), TAVO_OK);
    const TModel &model = modelOf(handle);
    EXPECT_TRUE(sameBits(
        scale, (model.featurePoints[1].x - model.featurePoints[0].x) / static_cast<float>(points[2] - points[0])));
    EXPECT_NEAR(scale, 1.0 / 120.0, 1e-4);  // the photo is the head at 120 pixels per unit
}

TEST_F(ModelFromPhoto, PointsZeroAndOneSharingTheirXGiveANonFiniteScale) {
    std::vector<int32_t> points = photoPoints(0);
    points[2] = points[0];  // point 1 straight below point 0
    points[3] = points[1] + 100;
    float scale = 0.0f;
    ASSERT_EQ(TAVO_CreateModelFromPhoto(newModel(), photo_, points.data(), 0, &scale), TAVO_OK);
    EXPECT_FALSE(std::isfinite(scale));
}

TEST_F(ModelFromPhoto, MaskUsageWritesTheWarpedMaskIntoTheTexturesFourthByte) {
    auto alphaValues = [](ImageHandle texture) {
        const std::vector<uint8_t> pixels = imagePixels(texture);
        std::array<int, 256> histogram{};
        for (std::size_t k = 3; k < pixels.size(); k += 4) ++histogram[pixels[k]];
        return histogram;
    };
    const auto masked = alphaValues(modelOf(createFrom(0, false, false, false)).texture);
    const auto unmasked = alphaValues(modelOf(createFrom(0, false, false, true)).texture);
    EXPECT_EQ(unmasked[255], 256 * 256);  // the photo has no alpha
    EXPECT_GT(masked[0], 1000);           // outside the mask's ellipse
    EXPECT_GT(masked[255], 1000);         // inside it
    // The colour bytes are the frame's either way.
    const std::vector<uint8_t> a = imagePixels(modelOf(createFrom(0, false, false, false)).texture);
    const std::vector<uint8_t> b = imagePixels(modelOf(createFrom(0, false, false, true)).texture);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t k = 0; k < a.size(); k += 4) ASSERT_EQ(a[k], b[k]) << k;
}

TEST_F(ModelFromPhoto, LargePhotoGivesTheModelOfTheSameFaceScaled) {
    const ImageHandle large = makePhoto(4000, 3000);
    const int32_t handle = newModel();
    const std::vector<int32_t> points = photoPoints(2, 900.0, 2000.0, 1500.0);
    float scale = 0.0f;
    ASSERT_EQ(TAVO_CreateModelFromPhoto(handle, large, points.data(), 0, &scale), TAVO_OK);
    TAVO_FreeImage(large);
    const TModel &small = modelOf(createFrom(2));
    EXPECT_EQ(modelOf(handle).expressionClass, 2);
    EXPECT_NEAR(scale, 1.0 / 900.0, 1e-5);
    for (std::size_t i = 0; i < small.featurePoints.size(); ++i) {
        EXPECT_NEAR(modelOf(handle).featurePoints[i].x, small.featurePoints[i].x, 0.02) << i;
        EXPECT_NEAR(modelOf(handle).featurePoints[i].y, small.featurePoints[i].y, 0.02) << i;
    }
}

// ---- Refusals: negative status, model unchanged -------------------------------

TEST_F(ModelFromPhoto, NullFeaturePointsGiveMinusOneAndChangeNothing) {
    const int32_t handle = createFrom(2);
    const Snapshot before(modelOf(handle));
    float scale = 123.0f;
    EXPECT_EQ(TAVO_CreateModelFromPhoto(handle, photo_, nullptr, 0, &scale), TAVO_ERR_GENERAL);
    EXPECT_TRUE(before.matches(modelOf(handle)));
    EXPECT_EQ(scale, 123.0f);
}

TEST_F(ModelFromPhoto, InvalidOrEmptyPhotoGivesMinusOneAndChangesNothing) {
    const int32_t handle = createFrom(0);
    const Snapshot before(modelOf(handle));
    const std::vector<int32_t> points = photoPoints(0);
    EXPECT_EQ(TAVO_CreateModelFromPhoto(handle, -1, points.data(), 0, nullptr), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_CreateModelFromPhoto(handle, 99999, points.data(), 0, nullptr), TAVO_ERR_GENERAL);
    ImageHandle empty = -1;
    TAVO_CreateEmptyImage(&empty);
    EXPECT_EQ(TAVO_CreateModelFromPhoto(handle, empty, points.data(), 0, nullptr), TAVO_ERR_GENERAL);
    TAVO_FreeImage(empty);
    EXPECT_TRUE(before.matches(modelOf(handle)));
}

TEST_F(ModelFromPhoto, HostilePointsNeverCrashAndGiveAFiniteModel) {
    const int32_t handle = newModel();
    std::vector<int32_t> points(132);
    for (std::size_t k = 0; k < points.size(); ++k)
        points[k] = (k % 3 == 0) ? INT32_MAX : (k % 3 == 1) ? INT32_MIN : static_cast<int32_t>(k);
    float scale = 0.0f;
    EXPECT_EQ(TAVO_CreateModelFromPhoto(handle, photo_, points.data(), 0, &scale), TAVO_OK);
    std::vector<int32_t> same(132, 100);  // every point on one pixel
    EXPECT_EQ(TAVO_CreateModelFromPhoto(handle, photo_, same.data(), 0, &scale), TAVO_OK);
    EXPECT_EQ(modelOf(handle).regions.size(), 9u);
}

TEST_F(ModelFromPhoto, CreationAfterFinalisationGivesMinusOneAndChangesNothing) {
    TAVO_FinalizeKelmo();  // the expression meshes are gone; the model table too
    int32_t orphan = -1;
    ASSERT_EQ(TAVO_InitModel(&orphan, 0), 0);
    const Snapshot before(modelOf(orphan));
    const std::vector<int32_t> points = photoPoints(0);
    EXPECT_EQ(TAVO_CreateModelFromPhoto(orphan, photo_, points.data(), 0, nullptr), TAVO_ERR_GENERAL);
    EXPECT_TRUE(before.matches(modelOf(orphan)));
}

class ModelFromPhotoWithBadData : public ::testing::Test {
protected:
    void TearDown() override { TAVO_FinalizeKelmo(); }
    // Initialises from a directory, tries a creation, and expects -1 with the
    // model unchanged.
    void expectRefused(const std::string &directory) {
        ASSERT_EQ(TAVO_InitKelmo(directory.c_str()), TAVO_OK);
        const ImageHandle photo = makePhoto(512, 512);
        const int32_t handle = newModel();
        const Snapshot before(modelOf(handle));
        for (int e = 0; e < 4; ++e) {
            const std::vector<int32_t> points = photoPoints(e);
            EXPECT_EQ(TAVO_CreateModelFromPhoto(handle, photo, points.data(), 0, nullptr), TAVO_ERR_GENERAL) << e;
            EXPECT_EQ(TAVO_CreateModelFromPhoto(handle, photo, points.data(), 2, nullptr), TAVO_ERR_GENERAL) << e;
        }
        EXPECT_TRUE(before.matches(modelOf(handle)));
        TAVO_FreeImage(photo);
    }
};

TEST_F(ModelFromPhotoWithBadData, SmallHeadWithoutTheFixedVerticesGivesMinusOneAndChangesNothing) {
    SyntheticDataFiles files;
    files.sqrt = false;
    expectRefused(writeSyntheticDataDirectory(makeTemporaryDirectory("smallhead"), files));
}

TEST_F(ModelFromPhotoWithBadData, List7EntryOutsideRegionZeroGivesMinusOneAndChangesNothing) {
    SyntheticDataFiles files;
    files.sqrt = false;
    files.fullHead = true;
    const std::string dir = writeSyntheticDataDirectory(makeTemporaryDirectory("badlist7"), files);
    std::string text;
    for (int k = 0; k < 38; ++k) text += std::to_string(k == 20 ? 3025 : 100 + k) + " ";
    std::ofstream(dir + "list7.txt") << text;
    expectRefused(dir);
}

TEST_F(ModelFromPhotoWithBadData, LandmarkOutsideItsRegionGivesMinusOneAndChangesNothing) {
    SyntheticDataFiles files;
    files.sqrt = false;
    files.fullHead = true;
    const std::string dir = writeSyntheticDataDirectory(makeTemporaryDirectory("badgrd66"), files);
    std::vector<int32_t> table = fullHeadLandmarkTable();
    table[30] = 9;  // region 1 has 9 vertices: 0 to 8
    std::string text;
    for (int k = 0; k < 66; ++k)
        text += std::to_string(k) + " " + std::to_string(table[static_cast<std::size_t>(k)]) + "\n";
    std::ofstream(dir + "grd66.txt") << text;
    expectRefused(dir);
}

TEST_F(ModelFromPhotoWithBadData, MissingFaceFileRefusesOnlyTheExpressionThatNeedsIt) {
    SyntheticDataFiles files;
    files.sqrt = false;
    files.fullHead = true;
    files.faces = {true, true, true, false};  // no "OpenSmile.face"
    ASSERT_EQ(TAVO_InitKelmo(writeSyntheticDataDirectory(makeTemporaryDirectory("noopensmile"), files).c_str()), 0);
    const ImageHandle photo = makePhoto(512, 512);
    const int32_t handle = newModel(true);
    std::vector<int32_t> points = photoPoints(3);
    const Snapshot before(modelOf(handle));
    EXPECT_EQ(TAVO_CreateModelFromPhoto(handle, photo, points.data(), 0, nullptr), TAVO_ERR_GENERAL);
    EXPECT_TRUE(before.matches(modelOf(handle)));
    EXPECT_EQ(TAVO_CreateModelFromPhotoEx(handle, photo, points.data(), 0, nullptr, true, false), TAVO_OK);
    EXPECT_EQ(modelOf(handle).expressionClass, 1);
    TAVO_FreeImage(photo);
}

}  // namespace
}  // namespace kelmo
