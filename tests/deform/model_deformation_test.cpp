// Converting a morph model onto a model made from a photo, on hand-built
// state: the expression meshes and a two-centre interpolator.
#include "deform/model_deformation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

#include "frame/library_state.h"
#include "model/model_table.h"
#include "support/model_support.h"
#include "support/table_check.h"

namespace kelmo {

TEST(AdjustModelDeformation, RegionsZeroToTwoBecomeTheInterpolatedDisplacedMeshLessTheModel) {
    std::mt19937 rng(77);
    std::uniform_real_distribution<float> small(-0.1f, 0.1f);
    LibraryState &state = libraryState();
    for (auto &mesh : state.expressionMeshes) {
        mesh = std::make_unique<TModel>();
        for (int r = 0; r < 5; ++r) mesh->regions.push_back(test::randomRegion(rng, 20 + 5 * r, 4));
        for (TRegion &region : mesh->regions)
            for (TVector3f &v : region.vertices) v = {small(rng), small(rng), small(rng)};
    }
    int32_t model = -1, morph = -1;
    TAVO_InitModel(&model, 1), TAVO_InitModel(&morph, 1);
    TModel &m = *resolveModel(model), &d = *resolveModel(morph);
    m.regions = state.expressionMeshes[1]->regions;
    m.regions.resize(6);
    m.expressionClass = 2;
    m.interpolator.centres = {{0.1f, -0.2f, 0.3f}, {-0.5f, 0.4f, 1.0f}};
    m.interpolator.values = {{0.01f, 0.02f, 0.03f}, {0.0f, -0.01f, 0.02f}};
    m.interpolator.weights = {{0.05f, -0.02f, 0.01f}, {-0.03f, 0.04f, 0.02f}};
    d.regions = state.expressionMeshes[3]->regions;
    d.regions[1].vertices.resize(4);  // a shorter region converts only its own vertices
    const std::vector<TRegion> modelBefore = m.regions;
    // X = E + D; Y = X + the sum over the centres, from the last to the first,
    // of |X - c| w; D' = Y - M, all in single precision. Regions 3 on stay.
    std::vector<TRegion> expected = d.regions;
    for (std::size_t r = 0; r < 3; ++r)
        for (std::size_t j = 0; j < expected[r].vertices.size(); ++j) {
            const TVector3f &e = state.expressionMeshes[2]->regions[r].vertices[j], &p = m.regions[r].vertices[j];
            TVector3f &v = expected[r].vertices[j];
            const TVector3f x{e.x + v.x, e.y + v.y, e.z + v.z};
            TVector3f sum{0, 0, 0};
            for (std::size_t k = 2; k-- > 0;) {
                const TVector3f &c = m.interpolator.centres[k], &w = m.interpolator.weights[k];
                const float distance =
                    std::sqrt((x.x - c.x) * (x.x - c.x) + (x.y - c.y) * (x.y - c.y) + (x.z - c.z) * (x.z - c.z));
                sum = {sum.x + distance * w.x, sum.y + distance * w.y, sum.z + distance * w.z};
            }
            v = {x.x + sum.x - p.x, x.y + sum.y - p.y, x.z + sum.z - p.z};
        }
    ASSERT_EQ(TAVO_AdjustModelDeformation(model, morph), TAVO_OK);
    EXPECT_TRUE(test::regionListsBitwiseEqual(expected, d.regions));
    EXPECT_TRUE(test::regionListsBitwiseEqual(modelBefore, m.regions));

    // Not a model made from a photo, or a morph that it cannot convert: refused, nothing changed.
    const TInterpolator3D interpolator = m.interpolator;
    const std::vector<TRegion> mesh = state.expressionMeshes[2]->regions;
    const std::function<void()> breaks[] = {
        [&] { m.interpolator.centres.clear(); },
        [&] { m.interpolator.weights.pop_back(); },
        [&] { m.expressionClass = 4; },
        [&] { m.expressionClass = -1; },
        [&] { state.expressionMeshes[2].reset(); },
        [&] { d.regions.resize(2); },
        [&] { m.regions.resize(2); },
        [&] { d.regions[2].vertices.resize(31), m.regions[2].vertices.resize(40); },  // longer than the mesh's
        [&] { m.regions[1].vertices.resize(3); },                                     // longer than the model's
    };
    for (const auto &breakIt : breaks) {
        breakIt();
        const std::vector<TRegion> before = d.regions;
        EXPECT_EQ(TAVO_AdjustModelDeformation(model, morph), TAVO_ERR_GENERAL) << &breakIt - breaks;
        EXPECT_TRUE(test::regionListsBitwiseEqual(before, d.regions));
        m.interpolator = interpolator, m.expressionClass = 2, m.regions = modelBefore, d.regions = expected;
        state.expressionMeshes[2] = std::make_unique<TModel>();
        state.expressionMeshes[2]->regions = mesh;
    }
    EXPECT_EQ(TAVO_AdjustModelDeformation(model, morph), TAVO_OK);  // each refusal had its one cause
    TAVO_FreeModel(model), TAVO_FreeModel(morph);
    for (auto &expression : state.expressionMeshes) expression.reset();
}

}  // namespace kelmo
