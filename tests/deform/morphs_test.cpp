// Morphs against a plain re-computation, and vertex files read at every length.
#include "deform/morphs.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "model/model_table.h"
#include "support/model_support.h"
#include "support/table_check.h"

namespace kelmo {

bool bitwiseEqual(const VertexLists &a, const VertexLists &b) {
    bool same = a.size() == b.size();
    for (std::size_t r = 0; same && r < a.size(); ++r)
        same = a[r].size() == b[r].size() &&
               (a[r].empty() || std::memcmp(a[r].data(), b[r].data(), a[r].size() * 12) == 0);
    return same;
}

TEST(Morph, MovesEveryCommonVertexByWeightTimesDisplacementAndPinsTheSockAgain) {
    const std::vector<int> head = {3000, 7, 8, 9, 10, 9, 5, 5};  // region 5: the sock
    const struct {
        std::vector<int> model, morph;
        float weight;
        bool field;
    } cases[] = {{head, head, 1.0f, false},
                 {head, head, 0.0f, false},
                 {head, head, 0.3f, true},
                 {head, {}, -1.5f, false},
                 {head, {3000, 7, 8}, -1.5f, false},
                 {head, {100, 500, 3}, 1.0f, true},
                 {head, {6000, 7}, 1.0f, true},
                 {{3000, 7, 8, 9, 10}, head, 1.0f, false},      // no sock region
                 {{3000, 7, 8, 9, 10, 8}, head, 1.0f, false},   // a sock of eight vertices
                 {{2976, 7, 8, 9, 10, 9}, head, 1.0f, false}};  // region 0 short of vertex 2976
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> coordinate(-2.0f, 2.0f);
    std::vector<float> field(6000);
    for (float &f : field) f = 1.5f * coordinate(rng);
    for (const auto &k : cases) {
        int32_t handles[2];
        for (int m = 0; m < 2; ++m) {
            TAVO_InitModel(&handles[m], 1);
            for (int count : m == 0 ? k.model : k.morph) {
                resolveModel(handles[m])->regions.emplace_back();
                for (int j = 0; j < count; ++j)
                    resolveModel(handles[m])
                        ->regions.back()
                        .vertices.push_back({coordinate(rng), coordinate(rng), coordinate(rng)});
            }
        }
        const int32_t morph =
            k.morph.empty() ? handles[0] : handles[1];  // no morph regions: the model morphed by itself
        // Where both hold vertex j of region r it moves by weight x
        // displacement (x field[j] on region 0); then, if the model has a sock
        // of nine vertices and region 0 reaches vertex 2976, sock vertex k + 1
        // takes region-0 vertex pins[k], and sock vertex 0 is (x of 3, y and z of 1).
        VertexLists expected = getVertexLists(*resolveModel(handles[0]));
        const VertexLists moves = getVertexLists(*resolveModel(morph));
        for (std::size_t r = 0; r < expected.size() && r < moves.size(); ++r)
            for (std::size_t j = 0; j < expected[r].size() && j < moves[r].size(); ++j) {
                TVector3f &a = expected[r][j];
                const TVector3f &b = moves[r][j];
                const float w = k.weight, f = field[j];
                a = r == 0 && k.field ? TVector3f{a.x + w * b.x * f, a.y + w * b.y * f, a.z + w * b.z * f}
                                      : TVector3f{a.x + w * b.x, a.y + w * b.y, a.z + w * b.z};
            }
        const int pins[8] = {718, 2775, 228, 1829, 441, 2038, 1130, 2976};
        if (expected.size() > 5 && expected[5].size() >= 9 && expected[0].size() > 2976) {
            for (std::size_t p = 0; p < 8; ++p) expected[5][p + 1] = expected[0][static_cast<std::size_t>(pins[p])];
            expected[5][0] = {expected[5][3].x, expected[5][1].y, expected[5][1].z};
        }
        ASSERT_EQ(TAVO_ApplyMorphHField(handles[0], morph, k.weight, k.field ? field.data() : nullptr), TAVO_OK);
        EXPECT_TRUE(bitwiseEqual(getVertexLists(*resolveModel(handles[0])), expected)) << "case " << &k - cases;
        TAVO_FreeModel(handles[0]), TAVO_FreeModel(handles[1]);
    }
}

TEST(VertexFile, EveryPrefixLoadsWhenItEndsWithinThreeBytesOfABlockAndOtherwiseChangesNothing) {
    test::FaceBytes bytes;  // blocks of 2, 0 and 1 vertices, ending at bytes 28, 32 and 48
    bytes.int32(2)
        .float32(1)
        .float32(2)
        .float32(3)
        .float32(4)
        .float32(5)
        .float32(6)
        .int32(0)
        .int32(1)
        .float32(7)
        .float32(8)
        .float32(-0.0f);
    const VertexLists blocks = {{{1, 2, 3}, {4, 5, 6}}, {}, {{7, 8, -0.0f}}};
    int32_t handle = -1;
    TAVO_InitModel(&handle, 1);
    TModel &model = *resolveModel(handle);
    const std::string path = test::tempPath("expression.vtx");
    std::mt19937 rng(1);
    for (std::size_t length = 0; length <= bytes.bytes().size(); ++length) {
        test::writeBytesToFile(path,
                               {bytes.bytes().begin(), bytes.bytes().begin() + static_cast<std::ptrdiff_t>(length)});
        const std::size_t complete = (length >= 28) + (length >= 32) + (length >= 48);
        model.regions = {test::randomRegion(rng, 3, 2)};
        const std::vector<TRegion> before = model.regions;
        const bool loads = length - std::array<std::size_t, 4>{0, 28, 32, 48}[complete] < 4;
        ASSERT_EQ(TAVO_LoadExpressionToModel(handle, path.c_str()), loads ? TAVO_OK : TAVO_ERR_GENERAL) << length;
        const VertexLists loaded(blocks.begin(), blocks.begin() + std::ptrdiff_t(complete));
        EXPECT_TRUE(loads ? bitwiseEqual(getVertexLists(model), loaded)
                          : bool(test::regionListsBitwiseEqual(before, model.regions)));
        EXPECT_EQ(model.regions.empty() ? before[0].quads : model.regions[0].quads, before[0].quads)
            << length;  // only vertices change
    }
    // A negative count, a count far beyond the bytes, more than 65536 blocks.
    const std::size_t kept = model.regions.size();
    for (const std::vector<uint8_t> &file :
         {test::FaceBytes().int32(0).int32(-1).bytes(),
          test::FaceBytes().int32(INT32_MAX).float32(1).float32(2).float32(3).bytes(),
          std::vector<uint8_t>(4 * 65537, 0)}) {
        test::writeBytesToFile(path, file);
        EXPECT_EQ(TAVO_LoadExpressionToModel(handle, path.c_str()), TAVO_ERR_GENERAL) << file.size();
        EXPECT_EQ(model.regions.size(), kept);
    }
    test::writeBytesToFile(path, std::vector<uint8_t>(4 * 65536, 0));
    EXPECT_EQ(TAVO_LoadExpressionToModel(handle, path.c_str()), TAVO_OK);
    EXPECT_EQ(model.regions.size(), 65536u);
    TAVO_FreeModel(handle);
}

}  // namespace kelmo
