// Helpers shared by the tests of the deformation units (Parts 5.1 to 5.3).
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>
#include <vector>

#include "deform/vertex_lists.h"
#include "kelmo.h"
#include "model/model.h"
#include "model/model_table.h"
#include "support/model_support.h"

namespace kelmo::test {

// A model made through the exported life cycle; its state is then set through
// the internal members.
inline int32_t newModel() {
    int32_t handle = -1;
    EXPECT_EQ(TAVO_InitModel(&handle, 0), TAVO_OK);
    return handle;
}

inline TModel &modelOf(int32_t handle) {
    TModel *model = resolveModel(handle);
    if (model == nullptr) throw std::runtime_error("no model");
    return *model;
}

inline bool sameBits(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b); }

inline bool sameVertex(const TVector3f &a, const TVector3f &b) {
    return sameBits(a.x, b.x) && sameBits(a.y, b.y) && sameBits(a.z, b.z);
}

inline ::testing::AssertionResult vertexListsBitwiseEqual(const VertexLists &expected, const VertexLists &actual) {
    if (expected.size() != actual.size())
        return ::testing::AssertionFailure() << "list counts differ: " << expected.size() << " vs " << actual.size();
    for (std::size_t r = 0; r < expected.size(); ++r) {
        if (expected[r].size() != actual[r].size())
            return ::testing::AssertionFailure() << "list " << r << " lengths differ: " << expected[r].size() << " vs "
                                                 << actual[r].size();
        for (std::size_t j = 0; j < expected[r].size(); ++j)
            if (!sameVertex(expected[r][j], actual[r][j]))
                return ::testing::AssertionFailure()
                       << "vertex " << j << " of list " << r << ": expected (" << expected[r][j].x << ", "
                       << expected[r][j].y << ", " << expected[r][j].z << "), got (" << actual[r][j].x << ", "
                       << actual[r][j].y << ", " << actual[r][j].z << ")";
    }
    return ::testing::AssertionSuccess();
}

// A region of `vertexCount` vertices with coordinates in [-2, 2], one texture
// coordinate per vertex and `quadCount` quads over them.
inline TRegion randomFiniteRegion(std::mt19937 &rng, int vertexCount, int quadCount) {
    std::uniform_real_distribution<float> coordinate(-2.0f, 2.0f);
    TRegion region;
    for (int i = 0; i < vertexCount; ++i) {
        region.vertices.push_back({coordinate(rng), coordinate(rng), coordinate(rng)});
        region.textureCoords.push_back({coordinate(rng), coordinate(rng)});
    }
    if (vertexCount > 0) {
        std::uniform_int_distribution<int32_t> corner(0, vertexCount - 1);
        for (int q = 0; q < quadCount; ++q) {
            region.quads.push_back({corner(rng), corner(rng), corner(rng), corner(rng)});
            region.textureQuads.push_back({corner(rng), corner(rng), corner(rng), corner(rng)});
        }
    }
    return region;
}

// Every test starts and ends with an empty model table.
class DeformTest : public ::testing::Test {
protected:
    void SetUp() override { destroyAllModels(); }
    void TearDown() override { destroyAllModels(); }
};

}  // namespace kelmo::test
