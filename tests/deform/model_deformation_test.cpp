// Part 5.2: TAVO_AdjustModelDeformation, on hand-built state (a model with a
// known interpolator and expression mesh) and on a model created from a photo
// of the synthetic full head (Part 3.1), where the converted morph is then
// applied with TAVO_ApplyMorph (Part 5.1).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "deform/model_deformation.h"
#include "deform_support.h"
#include "frame/library_state.h"
#include "kelmo.h"
#include "support/synthetic_data.h"

namespace kelmo::test {
namespace {

// ---- Hand-built state ----------------------------------------------------------

// Four expression meshes of random regions 0 to 4 (region r of mesh e has
// 20 + 5r vertices), a model whose class selects mesh 2, with a two-centre
// interpolator and regions like the mesh's.
class AdjustModelDeformation : public DeformTest {
protected:
    void SetUp() override {
        DeformTest::SetUp();
        std::mt19937 rng(77);
        for (auto &mesh : libraryState().expressionMeshes) {
            mesh = std::make_unique<TModel>();
            for (int r = 0; r < 5; ++r) mesh->regions.push_back(randomFiniteRegion(rng, 20 + 5 * r, 4));
        }
        model_ = newModel();
        TModel &model = modelOf(model_);
        for (int r = 0; r < 6; ++r) model.regions.push_back(randomFiniteRegion(rng, 20 + 5 * r, 4));
        model.expressionClass = 2;
        model.interpolator.centres = {{0.1f, -0.2f, 0.3f}, {-0.5f, 0.4f, 1.0f}};
        model.interpolator.values = {{0.01f, 0.02f, 0.03f}, {0.0f, -0.01f, 0.02f}};
        model.interpolator.weights = {{0.05f, -0.02f, 0.01f}, {-0.03f, 0.04f, 0.02f}};
        morph_ = newModel();
        std::uniform_real_distribution<float> displacement(-0.1f, 0.1f);
        for (int r = 0; r < 5; ++r) {
            TRegion region;
            for (int j = 0; j < 20 + 5 * r; ++j)
                region.vertices.push_back({displacement(rng), displacement(rng), displacement(rng)});
            modelOf(morph_).regions.push_back(region);
        }
    }
    void TearDown() override {
        for (auto &mesh : libraryState().expressionMeshes) mesh.reset();
        DeformTest::TearDown();
    }

    // Part 5.2 step 3 for one vertex, written from the spec: X = E + D; Y = X +
    // sum over the centres from the last to the first of |X - c| w, in single
    // precision; D' = Y - M.
    TVector3f expectedDisplacement(const TVector3f &e, const TVector3f &d, const TVector3f &m) const {
        const TModel &model = modelOf(model_);
        const TVector3f x{e.x + d.x, e.y + d.y, e.z + d.z};
        float sumX = 0.0f, sumY = 0.0f, sumZ = 0.0f;
        for (std::size_t k = model.interpolator.centres.size(); k-- > 0;) {
            const TVector3f &c = model.interpolator.centres[k];
            const TVector3f &w = model.interpolator.weights[k];
            const float dx = x.x - c.x, dy = x.y - c.y, dz = x.z - c.z;
            const float distance = std::sqrt(dx * dx + dy * dy + dz * dz);
            sumX = sumX + distance * w.x;
            sumY = sumY + distance * w.y;
            sumZ = sumZ + distance * w.z;
        }
        const TVector3f y{x.x + sumX, x.y + sumY, x.z + sumZ};
        return {y.x - m.x, y.y - m.y, y.z - m.z};
    }

    int32_t model_ = -1;
    int32_t morph_ = -1;
};

TEST_F(AdjustModelDeformation, Regions0To2BecomeTheDeformedDisplacedMeshLessTheModel) {
    const TModel &mesh = *libraryState().expressionMeshes[2];
    const TModel &model = modelOf(model_);
    VertexLists expected = getVertexLists(modelOf(morph_));
    for (std::size_t r = 0; r < 3; ++r)
        for (std::size_t j = 0; j < expected[r].size(); ++j)
            expected[r][j] =
                expectedDisplacement(mesh.regions[r].vertices[j], expected[r][j], model.regions[r].vertices[j]);
    ASSERT_EQ(TAVO_AdjustModelDeformation(model_, morph_), TAVO_OK);
    EXPECT_TRUE(vertexListsBitwiseEqual(expected, getVertexLists(modelOf(morph_))));
}

TEST_F(AdjustModelDeformation, Regions3AndAboveOfTheMorphModelAreReturnedUnchanged) {
    const std::vector<TRegion> before = modelOf(morph_).regions;
    ASSERT_EQ(TAVO_AdjustModelDeformation(model_, morph_), TAVO_OK);
    ASSERT_EQ(modelOf(morph_).regions.size(), 5u);
    for (std::size_t r = 3; r < 5; ++r) EXPECT_TRUE(regionsBitwiseEqual(before[r], modelOf(morph_).regions[r]));
    for (std::size_t r = 0; r < 3; ++r) EXPECT_FALSE(regionsBitwiseEqual(before[r], modelOf(morph_).regions[r]));
}

TEST_F(AdjustModelDeformation, TheModelIsNeverChangedAndASecondCallConvertsAgain) {
    const std::vector<TRegion> modelBefore = modelOf(model_).regions;
    ASSERT_EQ(TAVO_AdjustModelDeformation(model_, morph_), TAVO_OK);
    const VertexLists once = getVertexLists(modelOf(morph_));
    const TModel &mesh = *libraryState().expressionMeshes[2];
    VertexLists expected = once;
    for (std::size_t r = 0; r < 3; ++r)
        for (std::size_t j = 0; j < expected[r].size(); ++j)
            expected[r][j] = expectedDisplacement(mesh.regions[r].vertices[j], once[r][j],
                                                  modelOf(model_).regions[r].vertices[j]);
    ASSERT_EQ(TAVO_AdjustModelDeformation(model_, morph_), TAVO_OK);
    EXPECT_TRUE(vertexListsBitwiseEqual(expected, getVertexLists(modelOf(morph_))));
    EXPECT_TRUE(regionListsBitwiseEqual(modelBefore, modelOf(model_).regions));
}

TEST_F(AdjustModelDeformation, MorphRegionsShorterThanTheMeshConvertOnlyTheirOwnVertices) {
    modelOf(morph_).regions[1].vertices.resize(4);
    modelOf(morph_).regions[2].vertices.clear();
    const TModel &mesh = *libraryState().expressionMeshes[2];
    VertexLists expected = getVertexLists(modelOf(morph_));
    for (std::size_t r = 0; r < 3; ++r)
        for (std::size_t j = 0; j < expected[r].size(); ++j)
            expected[r][j] = expectedDisplacement(mesh.regions[r].vertices[j], expected[r][j],
                                                  modelOf(model_).regions[r].vertices[j]);
    ASSERT_EQ(TAVO_AdjustModelDeformation(model_, morph_), TAVO_OK);
    EXPECT_TRUE(vertexListsBitwiseEqual(expected, getVertexLists(modelOf(morph_))));
}

TEST_F(AdjustModelDeformation, AModelNotMadeFromAPhotoGivesMinus1AndChangesNothing) {
    const std::vector<TRegion> before = modelOf(morph_).regions;
    TModel &model = modelOf(model_);
    const TInterpolator3D solved = model.interpolator;
    // No centres (a model never fitted).
    model.interpolator = TInterpolator3D{};
    EXPECT_EQ(TAVO_AdjustModelDeformation(model_, morph_), TAVO_ERR_GENERAL);
    // Centres without weights (never solved).
    model.interpolator = solved;
    model.interpolator.weights.clear();
    EXPECT_EQ(TAVO_AdjustModelDeformation(model_, morph_), TAVO_ERR_GENERAL);
    // An expression class outside 0 to 3.
    model.interpolator = solved;
    for (const int32_t bad : {-1, 4, 1000}) {
        model.expressionClass = bad;
        EXPECT_EQ(TAVO_AdjustModelDeformation(model_, morph_), TAVO_ERR_GENERAL) << bad;
    }
    // The expression meshes absent (library not initialised, or finalised).
    model.expressionClass = 2;
    libraryState().expressionMeshes[2].reset();
    EXPECT_EQ(TAVO_AdjustModelDeformation(model_, morph_), TAVO_ERR_GENERAL);
    EXPECT_TRUE(regionListsBitwiseEqual(before, modelOf(morph_).regions));
}

TEST_F(AdjustModelDeformation, AMorphModelWithFewerThanThreeRegionsGivesMinus1AndChangesNothing) {
    modelOf(morph_).regions.resize(2);
    const std::vector<TRegion> before = modelOf(morph_).regions;
    EXPECT_EQ(TAVO_AdjustModelDeformation(model_, morph_), TAVO_ERR_GENERAL);
    EXPECT_TRUE(regionListsBitwiseEqual(before, modelOf(morph_).regions));
    modelOf(model_).regions.resize(2);
    modelOf(morph_).regions.resize(3);
    EXPECT_EQ(TAVO_AdjustModelDeformation(model_, morph_), TAVO_ERR_GENERAL);
}

TEST_F(AdjustModelDeformation, AMorphRegionLongerThanTheMeshsOrTheModelsGivesMinus1AndChangesNothing) {
    // Longer than the expression mesh's region 2 (30 vertices) and the model's.
    modelOf(morph_).regions[2].vertices.resize(31);
    std::vector<TRegion> before = modelOf(morph_).regions;
    EXPECT_EQ(TAVO_AdjustModelDeformation(model_, morph_), TAVO_ERR_GENERAL);
    EXPECT_TRUE(regionListsBitwiseEqual(before, modelOf(morph_).regions));
    // Within the mesh's region 1 but longer than the model's.
    modelOf(morph_).regions[2].vertices.resize(30);
    modelOf(model_).regions[1].vertices.resize(10);
    before = modelOf(morph_).regions;
    EXPECT_EQ(TAVO_AdjustModelDeformation(model_, morph_), TAVO_ERR_GENERAL);
    EXPECT_TRUE(regionListsBitwiseEqual(before, modelOf(morph_).regions));
}

TEST_F(AdjustModelDeformation, AnInvalidHandleGivesMinus4AndChangesNothing) {
    const std::vector<TRegion> before = modelOf(morph_).regions;
    for (const int32_t bad : {-1, 2, 50}) {
        EXPECT_EQ(TAVO_AdjustModelDeformation(bad, morph_), TAVO_ERR_INVALID_HANDLE);
        EXPECT_EQ(TAVO_AdjustModelDeformation(model_, bad), TAVO_ERR_INVALID_HANDLE);
    }
    EXPECT_TRUE(regionListsBitwiseEqual(before, modelOf(morph_).regions));
}

// ---- A model created from a photo (Part 3.1) -------------------------------------

// The synthetic full head (support/synthetic_head.h) as the data directory;
// its expression meshes differ in the mouth: the open ones lower the lower
// lip by up to 0.08.
class AdjustOntoFittedModel : public DeformTest {
protected:
    static void SetUpTestSuite() {
        testing::SyntheticDataFiles files;
        files.fullHead = true;
        directory_ = new std::string(
            testing::writeSyntheticDataDirectory(testing::makeTemporaryDirectory("deformhead"), files));
    }
    static void TearDownTestSuite() {
        delete directory_;
        directory_ = nullptr;
    }
    void SetUp() override {
        DeformTest::SetUp();
        ASSERT_EQ(TAVO_InitKelmo(directory_->c_str()), TAVO_OK);
    }
    void TearDown() override {
        TAVO_FinalizeKelmo();
        DeformTest::TearDown();
    }

    // A model created from a photo showing expression mesh `expression`'s own
    // feature points, 120 pixels per model unit about (256, 256).
    int32_t fittedModel(int expression) {
        std::vector<uint8_t> rgb(512 * 512 * 3);
        for (std::size_t k = 0; k < rgb.size(); ++k) rgb[k] = static_cast<uint8_t>(k * 7);
        ImageHandle photo = -1;
        EXPECT_EQ(TAVO_LoadImageFromBuffer(&photo, rgb.data(), 512, 512, 512 * 3, TAVO_IMAGEMODE_COLOR), 0);
        std::vector<int32_t> points;
        for (const TVector3f &p : testing::fullHeadFeaturePoints(expression)) {
            points.push_back(static_cast<int32_t>(std::lround(256.0 + 120.0 * p.x)));
            points.push_back(static_cast<int32_t>(std::lround(256.0 - 120.0 * p.y)));
        }
        const int32_t handle = newModel();
        EXPECT_EQ(TAVO_CreateModelFromPhotoEx(handle, photo, points.data(), 0, nullptr, true, false), TAVO_OK);
        TAVO_FreeImage(photo);
        return handle;
    }

    // A morph model holding expression mesh `to` less mesh `from`, regions 0 to 4.
    int32_t expressionMorph(int from, int to) {
        const TModel &a = *libraryState().expressionMeshes[static_cast<std::size_t>(from)];
        const TModel &b = *libraryState().expressionMeshes[static_cast<std::size_t>(to)];
        VertexLists lists(a.regions.size());
        for (std::size_t r = 0; r < lists.size(); ++r)
            for (std::size_t j = 0; j < a.regions[r].vertices.size(); ++j) {
                const TVector3f &p = a.regions[r].vertices[j];
                const TVector3f &q = b.regions[r].vertices[j];
                lists[r].push_back({q.x - p.x, q.y - p.y, q.z - p.z});
            }
        const int32_t handle = newModel();
        EXPECT_EQ(TAVO_SetModelVertices(handle, lists), TAVO_OK);
        return handle;
    }

    static std::string *directory_;
};
std::string *AdjustOntoFittedModel::directory_ = nullptr;

TEST_F(AdjustOntoFittedModel, AllZeroMorphBecomesZeroWhereTheModelIsItsDeformedExpressionMesh) {
    const int32_t model = fittedModel(0);
    ASSERT_EQ(modelOf(model).expressionClass, 0);
    // Regions 0 to 2 of a fitted model are exactly its deformed expression mesh
    // (Part 3.1, FitModelToFeatures steps 3 and 10), so the difference is 0.
    const TModel &mesh = *libraryState().expressionMeshes[0];
    VertexLists zeros;
    for (const TRegion &region : mesh.regions) zeros.emplace_back(region.vertices.size(), TVector3f{0, 0, 0});
    zeros[3].assign(zeros[3].size(), TVector3f{0.5f, 0.25f, -1.0f});  // regions 3 and 4 keep theirs
    const int32_t morph = newModel();
    ASSERT_EQ(TAVO_SetModelVertices(morph, zeros), TAVO_OK);
    ASSERT_EQ(TAVO_AdjustModelDeformation(model, morph), TAVO_OK);
    const VertexLists adjusted = getVertexLists(modelOf(morph));
    for (std::size_t r = 0; r < 3; ++r)
        for (const TVector3f &d : adjusted[r]) {
            ASSERT_EQ(d.x, 0.0f);
            ASSERT_EQ(d.y, 0.0f);
            ASSERT_EQ(d.z, 0.0f);
        }
    EXPECT_TRUE(vertexListsBitwiseEqual({zeros[3], zeros[4]}, {adjusted[3], adjusted[4]}));
}

TEST_F(AdjustOntoFittedModel, OpenMouthMorphAdjustedAndAppliedOpensTheFittedModelsMouth) {
    const int32_t model = fittedModel(0);
    const int32_t morph = expressionMorph(0, 1);  // closed neutral to open neutral
    ASSERT_EQ(TAVO_AdjustModelDeformation(model, morph), TAVO_OK);
    const TModel &fitted = modelOf(model);
    const std::vector<int32_t> &landmarks = libraryState().landmarkTable;
    // Feature points 61 and 64 are the upper and lower inner lip (vertices 371
    // and 415 of region 0); in the synthetic meshes the open mouth lowers the
    // lower lip by 0.08 and leaves the upper one.
    const auto lip = [&](int feature) {
        return fitted.regions[0].vertices[static_cast<std::size_t>(landmarks[static_cast<std::size_t>(feature)])];
    };
    const TVector3f upperBefore = lip(61);
    const TVector3f lowerBefore = lip(64);
    const std::vector<TVector3f> before = fitted.regions[0].vertices;
    ASSERT_EQ(TAVO_ApplyMorph(model, morph, 1.0f), TAVO_OK);
    const float lowerDrop = lowerBefore.y - lip(64).y;
    const float upperDrop = upperBefore.y - lip(61).y;
    // The fitted head is the mesh at about its own scale, so the lip drops by
    // about the mesh's 0.08, and the mouth opens by about that much.
    EXPECT_NEAR(lowerDrop, 0.08f, 0.02f);
    EXPECT_NEAR(upperDrop, 0.0f, 0.01f);
    EXPECT_GT(lip(61).y - lip(64).y, upperBefore.y - lowerBefore.y + 0.06f);
    // Every feature vertex of region 0 moves as the expression moves the mesh's.
    const TModel &closed = *libraryState().expressionMeshes[0];
    const TModel &open = *libraryState().expressionMeshes[1];
    for (int k = 0; k < kFeaturePointCount; ++k) {
        if (k == 0 || k == 1 || k == 29 || k == 30 || k == 33 || k == 34) continue;  // not on region 0
        const auto v = static_cast<std::size_t>(landmarks[static_cast<std::size_t>(k)]);
        const float meshMove = open.regions[0].vertices[v].y - closed.regions[0].vertices[v].y;
        const float modelMove = fitted.regions[0].vertices[v].y - before[v].y;
        EXPECT_NEAR(modelMove, meshMove, 0.02f) << "feature point " << k;
    }
}

TEST_F(AdjustOntoFittedModel, MorphWithWeightHalfOpensTheMouthHalfWayAndTwiceAccumulates) {
    const int32_t model = fittedModel(0);
    const int32_t morph = expressionMorph(0, 1);
    ASSERT_EQ(TAVO_AdjustModelDeformation(model, morph), TAVO_OK);
    const std::size_t lower = static_cast<std::size_t>(libraryState().landmarkTable[64]);
    const float start = modelOf(model).regions[0].vertices[lower].y;
    ASSERT_EQ(TAVO_ApplyMorph(model, morph, 0.5f), TAVO_OK);
    const float half = start - modelOf(model).regions[0].vertices[lower].y;
    ASSERT_EQ(TAVO_ApplyMorph(model, morph, 0.5f), TAVO_OK);
    const float full = start - modelOf(model).regions[0].vertices[lower].y;
    EXPECT_NEAR(half, 0.04f, 0.01f);
    EXPECT_NEAR(full, 2.0f * half, 1e-5f);
}

}  // namespace
}  // namespace kelmo::test
