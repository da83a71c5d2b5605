// Part 4.2, drawing a triangle: the walk from set-up to spans, checked on
// triangles whose spans are worked out by hand from the Part's steps.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "render/rasteriser.h"

namespace kelmo {
namespace {

class SpanRecorder final : public SpanWriter {
public:
    void writeSpan(const Span &span) override { spans.push_back(span); }
    std::vector<Span> spans;
};

// A corner whose texel position equals its window position, at model z 0.
TriangleCorner corner(float x, float y) { return TriangleCorner{x, y, x, y, 0.0f}; }

std::vector<Span> walk(const TriangleCorner &a, const TriangleCorner &b, const TriangleCorner &c, int32_t width,
                       int32_t height, int32_t textureHeight = 1000) {
    SpanRecorder recorder;
    rasteriseTriangle(a, b, c, width, height, textureHeight, recorder);
    return recorder.spans;
}

// The right triangle (0.5, 0.5), (8.5, 0.5), (0.5, 8.5) on a 16 x 16 target.
// Sorted: first (0.5, 0.5), middle (8.5, 0.5), last (0.5, 8.5). Rows run from
// ceil(0.5) = 1 below ceil(8.5) = 9. ceil(middle.y) = ceil(first.y), so the
// short edge is middle to last from the start: x = 8.5 - (y - 0.5) = 9 - y;
// the long edge stays at x = 0.5. Row y: first column ceil(0.5) = 1, count
// ceil(9 - y) - 1 = 8 - y, so rows 1 to 7 (row 8 has count 0).
TEST(RasteriseTriangle, RightTriangleGivesTheHandWorkedSpans) {
    const std::vector<Span> spans = walk(corner(0.5f, 0.5f), corner(8.5f, 0.5f), corner(0.5f, 8.5f), 16, 16);
    ASSERT_EQ(spans.size(), 7u);
    for (int32_t y = 1; y <= 7; ++y) {
        const Span &span = spans[static_cast<std::size_t>(y - 1)];
        EXPECT_EQ(span.row, y);
        EXPECT_EQ(span.firstColumn, 1);
        EXPECT_EQ(span.count, 8 - y);
        // u = x and v = y at the corners: du = 1, dv = 0; the span starts at the
        // left edge's u (0.5) advanced by ceil(0.5) - 0.5 = 0.5 times du.
        EXPECT_EQ(span.u, 1.0f);
        EXPECT_EQ(span.v, static_cast<float>(y));
        EXPECT_EQ(span.du, 1.0f);
        EXPECT_EQ(span.dv, 0.0f);
        // Every corner at z = 0: the depth key 1 / (10 + 0) everywhere.
        EXPECT_EQ(span.depthKey, 1.0f / 10.0f);
        EXPECT_EQ(span.dk, 0.0f);
    }
}

TEST(RasteriseTriangle, CornerOrderDoesNotChangeTheSpansOfTheHandWorkedTriangle) {
    const auto a = corner(0.5f, 0.5f), b = corner(8.5f, 0.5f), c = corner(0.5f, 8.5f);
    const std::vector<Span> reference = walk(a, b, c, 16, 16);
    for (const auto &order : {std::vector{c, b, a}, std::vector{b, c, a}, std::vector{c, a, b}}) {
        const std::vector<Span> spans = walk(order[0], order[1], order[2], 16, 16);
        ASSERT_EQ(spans.size(), reference.size());
        for (std::size_t i = 0; i < spans.size(); ++i) {
            EXPECT_EQ(spans[i].row, reference[i].row);
            EXPECT_EQ(spans[i].firstColumn, reference[i].firstColumn);
            EXPECT_EQ(spans[i].count, reference[i].count);
        }
    }
}

// (2.5, 1.25), (4, 6.5), (9.5, 3): first (2.5, 1.25), middle (9.5, 3), last
// (4, 6.5). ceil(3) = 3 > ceil(1.25) = 2, so the short edge starts first to
// middle (slope 7 / 1.75 = 4) and switches to middle to last (slope -5.5 /
// 3.5) at row 3. Long edge slope 1.5 / 5.25.
TEST(RasteriseTriangle, ShortEdgeSwitchesToMiddleToLastAtTheMiddlesRow) {
    const std::vector<Span> spans = walk(corner(2.5f, 1.25f), corner(4.0f, 6.5f), corner(9.5f, 3.0f), 16, 16);
    const float longSlope = 1.5f / 5.25f;
    const float upperSlope = -5.5f / 3.5f;
    struct Row {
        int32_t y;
        float longX;
        float shortX;
    };
    std::vector<Row> rows;
    // Row 2: long 2.5 + 0.75 * slope; short 2.5 + 0.75 * 4 = 5.5.
    float longX = 2.5f + 0.75f * longSlope;
    rows.push_back({2, longX, 2.5f + 0.75f * 4.0f});
    // Rows 3 to 6: the short edge middle to last from x = 9.5 (advance 0).
    float shortX = 9.5f + 0.0f * upperSlope;
    for (int32_t y = 3; y <= 6; ++y) {
        longX += longSlope;
        rows.push_back({y, longX, shortX});
        shortX += upperSlope;
    }
    ASSERT_EQ(spans.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(spans[i].row, rows[i].y);
        EXPECT_EQ(spans[i].firstColumn, static_cast<int32_t>(std::ceil(rows[i].longX)));
        EXPECT_EQ(spans[i].count,
                  static_cast<int32_t>(std::ceil(rows[i].shortX)) - static_cast<int32_t>(std::ceil(rows[i].longX)));
    }
}

TEST(RasteriseTriangle, TriangleWhoseWindowYValuesAreAllEqualDrawsNoRow) {
    EXPECT_TRUE(walk(corner(1.5f, 3.0f), corner(9.5f, 3.0f), corner(4.5f, 3.0f), 16, 16).empty());
    EXPECT_TRUE(walk(corner(1.5f, 3.5f), corner(9.5f, 3.5f), corner(4.5f, 3.5f), 16, 16).empty());
}

TEST(RasteriseTriangle, RowHeightMinusOneIsNeverDrawn) {
    // A triangle reaching far above the target: the rows stop below H - 1 = 9.
    const std::vector<Span> spans = walk(corner(0.5f, 0.5f), corner(8.5f, 0.5f), corner(0.5f, 40.5f), 10, 10);
    ASSERT_FALSE(spans.empty());
    EXPECT_EQ(spans.back().row, 8);
    for (const Span &span : spans) EXPECT_LT(span.row, 9);
}

TEST(RasteriseTriangle, SpanThatWouldReachColumnWidthMinusOneIsSkippedWhole) {
    // The right triangle of the first test on a target 8 wide: row y ends at
    // ceil(9 - y), so x0 + count = 9 - y must stay below 8: rows 1 is skipped
    // whole (not clipped), rows 2 to 7 stay.
    const std::vector<Span> spans = walk(corner(0.5f, 0.5f), corner(8.5f, 0.5f), corner(0.5f, 8.5f), 8, 16);
    ASSERT_EQ(spans.size(), 6u);
    EXPECT_EQ(spans.front().row, 2);
    EXPECT_EQ(spans.front().count, 6);
    for (const Span &span : spans) EXPECT_LT(span.firstColumn + span.count, 8);
}

TEST(RasteriseTriangle, SpanStartingLeftOfColumnZeroIsSkippedWhole) {
    // Shifted 2 left: left end ceil(-1.5) = -1 on every row: nothing drawn.
    EXPECT_TRUE(walk(corner(-1.5f, 0.5f), corner(6.5f, 0.5f), corner(-1.5f, 8.5f), 16, 16).empty());
    // Starting exactly at column 0 is drawn.
    const std::vector<Span> spans = walk(corner(-0.5f, 0.5f), corner(7.5f, 0.5f), corner(-0.5f, 8.5f), 16, 16);
    ASSERT_FALSE(spans.empty());
    EXPECT_EQ(spans.front().firstColumn, 0);
}

// (0.5, -3.5), (8.5, -3.5), (0.5, 4.5): ceil(first.y) = -3 < 0, so drawing
// starts at row 0 with both edges advanced there. The short edge (middle to
// last, ceil(middle.y) = -3 <= 0) starts at row -3 at x = 8.5 + 0.5 * -1 = 8
// and moves 3 rows to x = 5: row 0 spans ceil(0.5) = 1 to ceil(5) = 5.
TEST(RasteriseTriangle, TriangleStartingBelowRowZeroHasItsEdgesAdvancedToRowZero) {
    const std::vector<Span> spans = walk(corner(0.5f, -3.5f), corner(8.5f, -3.5f), corner(0.5f, 4.5f), 16, 16);
    ASSERT_EQ(spans.size(), 4u);
    for (int32_t y = 0; y < 4; ++y) {
        EXPECT_EQ(spans[static_cast<std::size_t>(y)].row, y);
        EXPECT_EQ(spans[static_cast<std::size_t>(y)].firstColumn, 1);
        EXPECT_EQ(spans[static_cast<std::size_t>(y)].count, 4 - y);
        // v of the long edge: -3.5 + (row + 3.5) * 1 = row.
        EXPECT_EQ(spans[static_cast<std::size_t>(y)].v, static_cast<float>(y));
    }
}

TEST(RasteriseTriangle, TriangleStartingBelowRowZeroWithItsMiddleAboveUsesFirstToMiddleAtRowZero) {
    // first (0.5, -2.5), middle (4.5, 1.5), last (0.5, 5.5): at row 0 the short
    // edge is first to middle (slope 1): x = 0.5 + 2.5 * 1 = 3 at row 0, 4 at
    // row 1; from row 2 (= ceil(1.5)) middle to last (slope -1): 4.5 - 0.5 = 4,
    // then 3, 2, 1.
    const std::vector<Span> spans = walk(corner(0.5f, -2.5f), corner(4.5f, 1.5f), corner(0.5f, 5.5f), 16, 16);
    const std::vector<int32_t> counts = {2, 3, 3, 2, 1};
    ASSERT_EQ(spans.size(), counts.size());
    for (std::size_t i = 0; i < counts.size(); ++i) {
        EXPECT_EQ(spans[i].row, static_cast<int32_t>(i));
        EXPECT_EQ(spans[i].firstColumn, 1);
        EXPECT_EQ(spans[i].count, counts[i]);
    }
}

// (0.5, 0.5) v 1, (8.5, 0.5) v -7, (0.5, 8.5) v 1, texture 8 rows: dv = (1 -
// -7) / (0.5 - 8.5) = -1 across; row 1 starts at v = 1 + 0.5 * -1 = 0.5 with 7
// pixels, and 0.5 + 6 * -1 < 0, so dv = (0.01 - 0.5) / 6 in double. Row 2
// starts from the new dv: 1 + 0.5 * dv, and 5 more pixels keep it above 0.
TEST(RasteriseTriangle, VClampAtZeroChangesDvForTheRestOfTheTriangle) {
    const TriangleCorner a{0.5f, 0.5f, 0.5f, 1.0f, 0.0f};
    const TriangleCorner b{8.5f, 0.5f, 8.5f, -7.0f, 0.0f};
    const TriangleCorner c{0.5f, 8.5f, 0.5f, 1.0f, 0.0f};
    const std::vector<Span> spans = walk(a, b, c, 16, 16, 8);
    ASSERT_EQ(spans.size(), 7u);
    const auto clampedDv = static_cast<float>((0.01 - 0.5) / 6.0);
    EXPECT_EQ(spans[0].v, 0.5f);
    EXPECT_EQ(spans[0].dv, clampedDv);
    EXPECT_EQ(spans[1].v, 1.0f + 0.5f * clampedDv);
    EXPECT_EQ(spans[1].dv, clampedDv);
    for (const Span &span : spans) EXPECT_EQ(span.dv, clampedDv);
}

// The same with v growing: corners v 5, 13, 5 on a texture of 8 rows (last row
// 7): dv = +1, row 1 starts at 5 + 0.5 = 5.5 and 5.5 + 6 > 7, so dv = ((7 -
// 5.5) - 0.01) / 6.
TEST(RasteriseTriangle, VClampAtTheLastTextureRowChangesDvForTheRestOfTheTriangle) {
    const TriangleCorner a{0.5f, 0.5f, 0.5f, 5.0f, 0.0f};
    const TriangleCorner b{8.5f, 0.5f, 8.5f, 13.0f, 0.0f};
    const TriangleCorner c{0.5f, 8.5f, 0.5f, 5.0f, 0.0f};
    const std::vector<Span> spans = walk(a, b, c, 16, 16, 8);
    ASSERT_EQ(spans.size(), 7u);
    const auto clampedDv = static_cast<float>((static_cast<double>(7.0f - 5.5f) - 0.01) / 6.0);
    EXPECT_EQ(spans[0].v, 5.5f);
    EXPECT_EQ(spans[0].dv, clampedDv);
    for (const Span &span : spans) EXPECT_EQ(span.dv, clampedDv);
}

TEST(RasteriseTriangle, VAboveTheLastTextureRowStartsAtTheLastRow) {
    // v = 20 everywhere on a texture of 8 rows: every span starts at v = 7.
    const TriangleCorner a{0.5f, 0.5f, 0.5f, 20.0f, 0.0f};
    const TriangleCorner b{8.5f, 0.5f, 8.5f, 20.0f, 0.0f};
    const TriangleCorner c{0.5f, 8.5f, 0.5f, 20.0f, 0.0f};
    for (const Span &span : walk(a, b, c, 16, 16, 8)) EXPECT_EQ(span.v, 7.0f);
}

TEST(RasteriseTriangle, DepthKeyIsOneOverTenPlusModelZInterpolatedAcross) {
    // z = 0 at x = 0.5 and z = 6 at x = 8.5: keys 0.1 and 1 / 16 along a row.
    const TriangleCorner a{0.5f, 0.5f, 0.0f, 0.0f, 0.0f};
    const TriangleCorner b{8.5f, 0.5f, 0.0f, 0.0f, 6.0f};
    const TriangleCorner c{0.5f, 8.5f, 0.0f, 0.0f, 0.0f};
    const std::vector<Span> spans = walk(a, b, c, 16, 16);
    ASSERT_FALSE(spans.empty());
    const float expectedDk = (0.1f - 1.0f / 16.0f) / (0.5f - 8.5f);
    for (const Span &span : spans) {
        EXPECT_EQ(span.dk, expectedDk);
        // The depth key of the left (long) edge, without the half-pixel advance.
        EXPECT_EQ(span.depthKey, 1.0f / 10.0f);
    }
}

TEST(RasteriseTriangle, CornerWithoutFiniteWindowPositionDrawsNothing) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_TRUE(walk(corner(nan, 0.5f), corner(8.5f, 0.5f), corner(0.5f, 8.5f), 16, 16).empty());
    EXPECT_TRUE(walk(corner(0.5f, 0.5f), corner(8.5f, inf), corner(0.5f, 8.5f), 16, 16).empty());
    EXPECT_TRUE(walk(corner(0.5f, 0.5f), corner(8.5f, 0.5f), corner(-inf, 8.5f), 16, 16).empty());
}

TEST(RasteriseTriangle, HostileCoordinatesOnlyEverYieldSpansInsideTheTarget) {
    std::mt19937 random(7);
    const float magnitudes[] = {1.0f, 20.0f, 1e4f, 1e9f, 1e20f, 3e38f};
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_int_distribution<int> pick(0, 5);
    int spanCount = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        TriangleCorner corners[3];
        for (TriangleCorner &c : corners) {
            c = TriangleCorner{unit(random) * magnitudes[pick(random)] + 8.0f,
                               unit(random) * magnitudes[pick(random)] + 8.0f, unit(random) * magnitudes[pick(random)],
                               unit(random) * magnitudes[pick(random)], unit(random) * magnitudes[pick(random)]};
        }
        for (const Span &span : walk(corners[0], corners[1], corners[2], 17, 13, 9)) {
            ++spanCount;
            EXPECT_GE(span.row, 0);
            EXPECT_LT(span.row, 12);
            EXPECT_GE(span.firstColumn, 0);
            EXPECT_GT(span.count, 0);
            EXPECT_LT(span.firstColumn + span.count, 17);
        }
    }
    EXPECT_GT(spanCount, 1000);  // the trial does reach the span code
}

TEST(CeilOf, EqualsStdCeilBitForBitOnEveryKindOfFloat) {
    auto same = [](float x) {
        const float expected = std::ceil(x);
        const float actual = ceilOf(x);
        return std::isnan(expected) ? std::isnan(actual)
                                    : std::bit_cast<uint32_t>(expected) == std::bit_cast<uint32_t>(actual);
    };
    for (float x : {0.0f, -0.0f, 0.5f, -0.5f, -0.999f, 1.0f, -1.0f, 1.5f, -1.5f, 8388607.5f, -8388607.5f, 8388608.0f,
                    -8388609.0f, 1e30f, -1e30f, std::numeric_limits<float>::denorm_min(),
                    -std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::infinity(),
                    -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()})
        EXPECT_TRUE(same(x)) << x;
    std::mt19937 random(5);
    for (int i = 0; i < 2000000; ++i) {
        const float x = std::bit_cast<float>(static_cast<uint32_t>(random()));
        ASSERT_TRUE(same(x)) << x;
        const float y = static_cast<float>(static_cast<int32_t>(random() % 20001) - 10000) / 64.0f;
        ASSERT_TRUE(same(y)) << y;
        ASSERT_TRUE(same(std::nextafter(y, 1e9f))) << y;
        ASSERT_TRUE(same(std::nextafter(y, -1e9f))) << y;
    }
}

}  // namespace
}  // namespace kelmo
