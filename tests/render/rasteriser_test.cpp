// The triangle walk on triangles whose spans are worked out by hand: rows from
// ceil(first y) below min(ceil(last y), H - 1), each from ceil(left edge) to
// ceil(right edge), skipped whole if it would reach column W - 1 or start left
// of column 0.
#include "render/rasteriser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace kelmo {

struct Recorder final : SpanWriter {
    void writeSpan(const Span &span) override { spans.push_back(span); }
    std::vector<Span> spans;
};

std::vector<Span> walk(const std::array<TriangleCorner, 3> &c, int32_t width, int32_t height, int32_t textureHeight) {
    Recorder recorder;
    rasteriseTriangle(c[0], c[1], c[2], width, height, textureHeight, recorder);
    return recorder.spans;
}

TriangleCorner at(float x, float y, float v = 0) { return TriangleCorner{x, y, x, v, 0.0f}; }

TEST(RasteriseTriangle, HandWorkedTrianglesGiveTheirSpansWhateverTheCornerOrder) {
    // (0.5, 0.5), (8.5, 0.5), (0.5, 8.5): the long edge stays at x = 0.5, the
    // short one runs x = 9 - y, so row y spans columns 1 to 8 - y (row 8 none).
    const std::vector<std::array<int, 3>> right = {{1, 1, 7}, {2, 1, 6}, {3, 1, 5}, {4, 1, 4},
                                                   {5, 1, 3}, {6, 1, 2}, {7, 1, 1}};
    const struct {
        std::array<TriangleCorner, 3> corners;
        int32_t width, height;
        std::vector<std::array<int, 3>> spans;  // row, first column, count
    } cases[] = {
        {{at(0.5f, 0.5f), at(8.5f, 0.5f), at(0.5f, 8.5f)}, 16, 16, right},
        // Eight wide: row 1 would end at column 8 = W, so it is skipped whole.
        {{at(0.5f, 0.5f), at(8.5f, 0.5f), at(0.5f, 8.5f)}, 8, 16, {right.begin() + 1, right.end()}},
        // Two left: every span starts at ceil(-1.5) < 0. One left: at column 0.
        {{at(-1.5f, 0.5f), at(6.5f, 0.5f), at(-1.5f, 8.5f)}, 16, 16, {}},
        {{at(-0.5f, 0.5f), at(7.5f, 0.5f), at(-0.5f, 8.5f)},
         16,
         16,
         {{1, 0, 7}, {2, 0, 6}, {3, 0, 5}, {4, 0, 4}, {5, 0, 3}, {6, 0, 2}, {7, 0, 1}}},
        // Far above a 10 x 10 target (short edge x = 4.55 - 0.1 y): row 9 = H - 1 is never drawn.
        {{at(0.5f, 0.5f), at(4.5f, 0.5f), at(0.5f, 40.5f)},
         10,
         10,
         {{1, 1, 4}, {2, 1, 4}, {3, 1, 4}, {4, 1, 4}, {5, 1, 4}, {6, 1, 3}, {7, 1, 3}, {8, 1, 3}}},
        // From below row 0: both edges advanced to row 0 (the short one 8 -> 5).
        {{at(0.5f, -3.5f), at(8.5f, -3.5f), at(0.5f, 4.5f)}, 16, 16, {{0, 1, 4}, {1, 1, 3}, {2, 1, 2}, {3, 1, 1}}},
        // The middle above row 0: first to middle at rows 0, 1 (x 3, 4), then middle to last (4, 3, 2, 1).
        {{at(0.5f, -2.5f), at(4.5f, 1.5f), at(0.5f, 5.5f)},
         16,
         16,
         {{0, 1, 2}, {1, 1, 3}, {2, 1, 3}, {3, 1, 2}, {4, 1, 1}}},
        // Long edge 2.2 + (y - 1.3) 1.9 / 5.3; short 2.2 + (y - 1.3) 7.5 / 2.1 to the middle's row 4, then 9.7 - 1.75
        // (y - 3.4).
        {{at(2.2f, 1.3f), at(4.1f, 6.6f), at(9.7f, 3.4f)},
         16,
         16,
         {{2, 3, 2}, {3, 3, 6}, {4, 4, 5}, {5, 4, 3}, {6, 4, 2}}},
        {{at(1.5f, 3.5f), at(9.5f, 3.5f), at(4.5f, 3.5f)}, 16, 16, {}},  // no height
        {{at(0.5f, 0.5f), at(8.5f, std::numeric_limits<float>::infinity()), at(0.5f, 8.5f)}, 16, 16, {}},
        {{at(std::nanf(""), 0.5f), at(8.5f, 0.5f), at(0.5f, 8.5f)}, 16, 16, {}},
    };
    for (const auto &k : cases)
        for (const auto &order : {std::array{0, 1, 2}, std::array{2, 1, 0}, std::array{1, 2, 0}}) {
            const std::vector<Span> spans =
                walk({k.corners[order[0]], k.corners[order[1]], k.corners[order[2]]}, k.width, k.height, 99);
            std::vector<std::array<int, 3>> rows;
            for (const Span &span : spans) rows.push_back({span.row, span.firstColumn, span.count});
            EXPECT_EQ(rows, k.spans) << "triangle " << &k - cases << ", corner order " << order[0] << order[1]
                                     << order[2];
        }
}

TEST(RasteriseTriangle, VIsClampedIntoTheTextureAndAClampedSlopeStaysForTheRestOfTheTriangle) {
    // On 8 texture rows, v falling 1 per pixel from 0.5 over 7 pixels leaves
    // the texture: dv = (0.01 - 0.5) / 6; rising from 5.5, ((7 - 5.5) - 0.01) /
    // 6. A v of 20 starts at the last row, 7.
    for (auto [v0, v1, firstV, dv] : {std::array{1.0f, -7.0f, 0.5f, float((0.01 - 0.5) / 6)},
                                      {5.0f, 13.0f, 5.5f, float((1.5 - 0.01) / 6)},
                                      {20.0f, 20.0f, 7.0f, 0.0f}}) {
        const std::vector<Span> spans = walk({at(0.5f, 0.5f, v0), at(8.5f, 0.5f, v1), at(0.5f, 8.5f, v0)}, 16, 16, 8);
        ASSERT_EQ(spans.size(), 7u);
        EXPECT_EQ(spans[0].v, firstV);
        EXPECT_EQ(spans[1].v, std::min(7.0f, v0 + 0.5f * dv));  // the next row from the clamped slope
        for (const Span &span : spans) EXPECT_EQ(span.dv, dv) << v0;
    }
}

// A set-up triangle walked band by band hands over the spans of one whole
// walk, every field bit for bit: slopes clamped in a row above a band still
// hold in it, and rows from below row 0 or past the middle vertex start right.
TEST(WalkTriangle, BandsOfAnyHeightGiveTheSpansOfTheWholeWalk) {
    const std::array<TriangleCorner, 3> triangles[] = {
        {at(0.5f, 0.5f, 1.0f), at(8.5f, 0.5f, -7.0f), at(0.5f, 8.5f, 1.0f)},
        {at(0.5f, 0.5f, 5.0f), at(8.5f, 0.5f, 13.0f), at(0.5f, 8.5f, 5.0f)},
        {at(0.5f, -3.5f, 2.0f), at(8.5f, -3.5f, 9.0f), at(0.5f, 4.5f, -3.0f)},
        {at(0.5f, -2.5f), at(4.5f, 1.5f, 3.0f), at(0.5f, 5.5f)},
        {at(2.2f, 1.3f, 0.2f), at(4.1f, 6.6f, 7.9f), at(9.7f, 3.4f, -4.0f)},
        {at(1.5f, 3.5f), at(9.5f, 3.5f), at(4.5f, 3.5f)},
    };
    auto same = [](const Span &a, const Span &b) { return std::memcmp(&a, &b, sizeof(Span)) == 0; };
    for (const auto &c : triangles) {
        const std::vector<Span> whole = walk(c, 16, 16, 8);
        TriangleSetup setup;
        const bool drawn = setUpTriangle(c[0], c[1], c[2], 16, setup);
        EXPECT_EQ(drawn, !whole.empty()) << &c - triangles;
        if (!drawn) continue;
        for (int32_t rows = 1; rows <= 4; ++rows) {
            Recorder banded;
            for (int32_t begin = 0; begin < 16; begin += rows)
                walkTriangle(setup, 16, 7.0f, banded, begin, begin + rows);
            EXPECT_TRUE(std::equal(whole.begin(), whole.end(), banded.spans.begin(), banded.spans.end(), same))
                << "triangle " << &c - triangles << ", bands of " << rows;
        }
    }
}

}  // namespace kelmo
