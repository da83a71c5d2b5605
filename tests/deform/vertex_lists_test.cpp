// Vertex lists through the C++ exports and their flat C forms.
#include "deform/vertex_lists.h"

#include <gtest/gtest.h>

#include <cstring>

#include "model/model_table.h"
#include "support/model_support.h"
#include "support/table_check.h"

namespace kelmo {

TEST(VertexLists, SettingReplacesVerticesRegionByRegionAndKeepsEverythingElse) {
    int32_t handle = -1;
    ASSERT_EQ(TAVO_InitModel(&handle, 1), TAVO_OK);
    TModel &model = *resolveModel(handle);
    std::mt19937 rng(1);
    for (int r = 0; r < 4; ++r) model.regions.push_back(test::randomRegion(rng, 3 + 2 * r, 2 + r));
    const std::vector<TRegion> before = model.regions;
    VertexLists lists(9, {{9, 9, 9}});
    ASSERT_EQ(TAVO_GetModelVertices(handle, lists), TAVO_OK);  // bit for bit, NaNs included
    ASSERT_EQ(TAVO_SetModelVertices(handle, lists), TAVO_OK);
    EXPECT_TRUE(test::regionListsBitwiseEqual(before, model.regions));
    // Fewer lists destroy regions from the end, more append regions of
    // vertices only; quads and texture arrays stay whatever the new counts.
    // The flat form gives the counts, then the vertices region after region.
    for (std::size_t count : {2u, 6u}) {
        model.regions = before;
        std::vector<int32_t> counts;
        std::vector<TVector3f> flat;
        for (std::size_t r = 0; r < count; ++r)
            counts.push_back(int32_t(r)), flat.resize(flat.size() + r, {0.5f * r, -1.0f, 2.0f});
        ASSERT_EQ(TAVO_SetModelVertexLists(handle, int32_t(count), counts.data(), flat.data()), TAVO_OK);
        ASSERT_EQ(model.regions.size(), count);
        std::vector<int32_t> countsBack(count);
        std::vector<TVector3f> flatBack(flat.size() + 1);
        ASSERT_EQ(
            TAVO_GetModelVertexLists(handle, countsBack.data(), int32_t(count), flatBack.data(), int32_t(flat.size())),
            TAVO_OK);
        EXPECT_EQ(countsBack, counts);
        EXPECT_EQ(std::memcmp(flatBack.data(), flat.data(), flat.size() * sizeof(TVector3f)), 0);
        for (std::size_t r = 0; r < count; ++r) {
            TRegion expected = r < before.size() ? before[r] : TRegion{};
            expected.vertices.assign(r, {0.5f * r, -1.0f, 2.0f});
            EXPECT_TRUE(test::regionsBitwiseEqual(expected, model.regions[r])) << count << " lists, region " << r;
        }
    }
    TAVO_FreeModel(handle);
}

}  // namespace kelmo
