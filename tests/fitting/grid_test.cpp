// TGrid (Part 3.2, Data model): copying, assignment, Rotate, Scale, Translate.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <type_traits>
#include <vector>

#include "fitting/grid.h"

namespace kelmo {
namespace {

constexpr double kPi = 3.14159265358979323846;

TGrid gridOf(std::vector<TPointf> points) { return TGrid(std::move(points)); }

void expectSamePoints(const std::vector<TPointf> &actual, const std::vector<TPointf> &expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        EXPECT_EQ(actual[i].x, expected[i].x) << "point " << i;
        EXPECT_EQ(actual[i].y, expected[i].y) << "point " << i;
    }
}

TEST(Grid, HasAVirtualDestructor) {
    // Part 3.2: virtual operations, slot 1: the destructor.
    EXPECT_TRUE(std::has_virtual_destructor_v<TGrid>);
}

TEST(Grid, CopyHoldsItsOwnPoints) {
    TGrid original = gridOf({{1.5f, 2.5f}, {3.0f, -4.0f}});
    TGrid copy(original);
    expectSamePoints(copy.points, original.points);
    copy.points[0].x = 99.0f;
    copy.Translate(1.0f, 1.0f);
    expectSamePoints(original.points, {{1.5f, 2.5f}, {3.0f, -4.0f}});
}

TEST(Grid, AssignmentEmptiesTargetThenAppendsSourcePointsInOrder) {
    TGrid target = gridOf({{9.0f, 9.0f}, {8.0f, 8.0f}, {7.0f, 7.0f}, {6.0f, 6.0f}});
    const TGrid source = gridOf({{1.0f, 2.0f}, {3.0f, 4.0f}});
    target = source;
    expectSamePoints(target.points, {{1.0f, 2.0f}, {3.0f, 4.0f}});  // none of the old points left
    expectSamePoints(source.points, {{1.0f, 2.0f}, {3.0f, 4.0f}});
}

TEST(Grid, AssignmentFromAnEmptyGridLeavesNoPoints) {
    TGrid target = gridOf({{1.0f, 1.0f}});
    target = TGrid();
    EXPECT_TRUE(target.points.empty());
}

TEST(Grid, SelfAssignmentKeepsThePoints) {
    TGrid grid = gridOf({{1.0f, 2.0f}, {3.0f, 4.0f}});
    TGrid &alias = grid;
    grid = alias;
    expectSamePoints(grid.points, {{1.0f, 2.0f}, {3.0f, 4.0f}});
}

TEST(Grid, AssignmentWithinCapacityKeepsTheArray) {
    // ExtractFrame relies on this: once the photo is rotated it assigns grids
    // of the same size and must not allocate.
    TGrid target = gridOf({{0.0f, 0.0f}, {0.0f, 0.0f}, {0.0f, 0.0f}});
    const TPointf *storage = target.points.data();
    target = gridOf({{5.0f, 6.0f}, {7.0f, 8.0f}});
    EXPECT_EQ(target.points.data(), storage);
    expectSamePoints(target.points, {{5.0f, 6.0f}, {7.0f, 8.0f}});
}

TEST(Grid, MoveConstructionTakesOverTheArray) {
    TGrid source = gridOf({{1.0f, 2.0f}, {3.0f, 4.0f}});
    const TPointf *storage = source.points.data();
    TGrid moved(std::move(source));
    EXPECT_EQ(moved.points.data(), storage);
    expectSamePoints(moved.points, {{1.0f, 2.0f}, {3.0f, 4.0f}});
}

// The rotation of Part 3.2 computed independently in double precision.
TPointf rotatedInDouble(TPointf p, int cx, int cy, double angle) {
    const double dx = p.x - cx, dy = p.y - cy;
    return {static_cast<float>(dx * std::cos(angle) - dy * std::sin(angle) + cx),
            static_cast<float>(dx * std::sin(angle) + dy * std::cos(angle) + cy)};
}

TEST(Grid, RotateMatchesTheFormulaOfPart32WithinFloatTolerance) {
    const std::vector<TPointf> start = {{300.0f, 200.0f}, {412.25f, 187.5f}, {250.75f, 333.0f},
                                        {150.0f, 90.5f},  {305.0f, 201.0f}};
    for (const float angle : {0.35f, -0.35f, 1.2f, -2.5f, 3.0f}) {
        TGrid grid = gridOf(start);
        grid.Rotate(301, 205, 1000, 800, angle);
        for (std::size_t i = 0; i < start.size(); ++i) {
            const TPointf expected = rotatedInDouble(start[i], 301, 205, angle);
            // Coordinates below 1000 in float: a few ulps of 6e-5 each.
            EXPECT_NEAR(grid.points[i].x, expected.x, 1e-3) << "angle " << angle << " point " << i;
            EXPECT_NEAR(grid.points[i].y, expected.y, 1e-3) << "angle " << angle << " point " << i;
        }
    }
}

TEST(Grid, RotateByPositiveQuarterTurnMovesRightOfCentreDownwards) {
    // x' = (x - cx) c - (y - cy) s + cx, y' = (x - cx) s + (y - cy) c + cy with
    // angle pi/2: a point 10 to the right of the centre ends 10 below it
    // (y grows downwards).
    TGrid grid = gridOf({{60.0f, 50.0f}});
    grid.Rotate(50, 50, 100, 100, static_cast<float>(kPi / 2));
    EXPECT_NEAR(grid.points[0].x, 50.0f, 1e-4);
    EXPECT_NEAR(grid.points[0].y, 60.0f, 1e-4);
}

TEST(Grid, RotateByZeroLeavesPointsExactly) {
    const std::vector<TPointf> start = {{12.5f, 7.25f}, {0.0f, 0.0f}, {99.0f, 49.0f}};
    TGrid grid = gridOf(start);
    grid.Rotate(40, 20, 100, 50, 0.0f);
    expectSamePoints(grid.points, start);
}

TEST(Grid, RotateClampsToLastColumnAndRowAndToZero) {
    // Angle 0 leaves the points where they are, so only the clamping acts:
    // x to [0, width - 1] = [0, 99], y to [0, height - 1] = [0, 49].
    TGrid grid = gridOf({{150.0f, -3.5f}, {-0.25f, 80.0f}, {99.5f, 49.25f}, {99.0f, 49.0f}});
    grid.Rotate(10, 10, 100, 50, 0.0f);
    expectSamePoints(grid.points, {{99.0f, 0.0f}, {0.0f, 49.0f}, {99.0f, 49.0f}, {99.0f, 49.0f}});
}

TEST(Grid, RotateClampsPointsTurnedOutOfTheImage) {
    // A half turn about (10, 10) sends (30, 12) to (-10, 8): x clamps to 0.
    TGrid grid = gridOf({{30.0f, 12.0f}});
    grid.Rotate(10, 10, 100, 100, static_cast<float>(kPi));
    EXPECT_EQ(grid.points[0].x, 0.0f);
    EXPECT_NEAR(grid.points[0].y, 8.0f, 1e-4);
}

TEST(Grid, RotateTurnsNaNCoordinatesIntoZero) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    TGrid grid = gridOf({{nan, 5.0f}, {5.0f, nan}, {7.0f, 8.0f}});
    grid.Rotate(0, 0, 100, 100, 0.0f);
    // Even at angle 0 the formula multiplies both differences by c and by s,
    // so a NaN in either coordinate makes both rotated coordinates NaN, and
    // the clamp turns them into 0. The finite point is untouched.
    expectSamePoints({grid.points[0], grid.points[1]}, {{0.0f, 0.0f}, {0.0f, 0.0f}});
    expectSamePoints({grid.points[2]}, {{7.0f, 8.0f}});
}

TEST(Grid, RotateByNaNAngleGivesZeroForEveryPoint) {
    TGrid grid = gridOf({{10.0f, 20.0f}, {30.0f, 40.0f}});
    grid.Rotate(5, 5, 100, 100, std::numeric_limits<float>::quiet_NaN());
    expectSamePoints(grid.points, {{0.0f, 0.0f}, {0.0f, 0.0f}});
}

TEST(Grid, RotateWithinAnEmptyImageGivesZero) {
    // Decision: for bounds below 0 (width or height 0) the lower bound wins.
    TGrid grid = gridOf({{10.0f, 20.0f}});
    grid.Rotate(0, 0, 0, 0, 0.0f);
    expectSamePoints(grid.points, {{0.0f, 0.0f}});
}

TEST(Grid, ScaleMultipliesBothCoordinatesOfEveryPoint) {
    TGrid grid = gridOf({{1.5f, -2.0f}, {10.0f, 0.25f}});
    grid.Scale(1.5f);
    expectSamePoints(grid.points, {{2.25f, -3.0f}, {15.0f, 0.375f}});
}

TEST(Grid, TranslateAddsTheOffsetsToEveryPoint) {
    TGrid grid = gridOf({{1.5f, -2.0f}, {10.0f, 0.25f}});
    grid.Translate(-1.5f, 2.5f);
    expectSamePoints(grid.points, {{0.0f, 0.5f}, {8.5f, 2.75f}});
}

TEST(Grid, OperationsOnAnEmptyGridDoNothing) {
    TGrid grid;
    grid.Rotate(1, 1, 10, 10, 0.5f);
    grid.Scale(2.0f);
    grid.Translate(1.0f, 1.0f);
    EXPECT_TRUE(grid.points.empty());
}

}  // namespace
}  // namespace kelmo
