// The face box, the upright, cropped and scaled frame of a photo, and
// TAVO_ExtractFaceFrame. Each photo pixel holds its own coordinates (red x / 2,
// green y / 2), so that the frame shows where each of its pixels came from.
#include "fitting/face_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

#include "model/model.h"
#include "model/model_test_helpers.h"

namespace kelmo {
namespace {

using IntPoints = std::array<int32_t, 2 * kFeaturePointCount>;

ImageHandle nextFreeHandle() {  // changes when a call leaves an image behind
    ImageHandle image = -1;
    EXPECT_EQ(TAVO_CreateEmptyImage(&image), 0);
    EXPECT_EQ(TAVO_FreeImage(image), 0);
    return image;
}

ImageHandle coordinatePhoto(int32_t side) {
    std::vector<uint8_t> rgb;
    for (int32_t y = 0; y < side; ++y)
        for (int32_t x = 0; x < side; ++x)
            rgb.insert(rgb.end(), {static_cast<uint8_t>(x / 2), static_cast<uint8_t>(y / 2), 99});
    ImageHandle photo = -1;
    EXPECT_EQ(TAVO_LoadImageFromBuffer(&photo, rgb.data(), side, side, side * 3, TAVO_IMAGEMODE_COLOR), 0);
    return photo;
}

// A face about (cx, cy), rolled (y down): eyes, cheeks, nose and chin; the other points on the centre.
IntPoints facePoints(int32_t cx, int32_t cy, double degrees = 0.0) {
    IntPoints points{};
    const double c = std::cos(degrees * M_PI / 180.0), s = std::sin(degrees * M_PI / 180.0);
    const std::array<int, 6> placed = {0, 1, 10, 20, 40, 60};
    const std::array<std::array<int, 2>, 6> offsets = {{{-50, -30}, {50, -30}, {-60, 20}, {61, 20}, {0, 40}, {0, 71}}};
    for (int k = 0; k < kFeaturePointCount; ++k) {
        const auto m = static_cast<std::size_t>(std::find(placed.begin(), placed.end(), k) - placed.begin());
        const double ox = m < 6 ? offsets[m][0] : 0, oy = m < 6 ? offsets[m][1] : 0;
        points[2 * k] = cx + static_cast<int32_t>(std::lround(ox * c - oy * s));
        points[2 * k + 1] = cy + static_cast<int32_t>(std::lround(ox * s + oy * c));
    }
    return points;
}

// ExtractFrame, checked: the photo and the points come back unchanged, the frame has the size asked
// for, and its pixel under each frame point came from near that point in the photo.
TGrid extractChecked(int32_t side, const IntPoints &points, int32_t width, int32_t height) {
    const ImageHandle photo = coordinatePhoto(side);
    const std::vector<uint8_t> photoBefore = test::pixelsOf(photo);
    TGrid grid, framePoints;
    for (int k = 0; k < kFeaturePointCount; ++k)
        grid.points.push_back({static_cast<float>(points[2 * k]), static_cast<float>(points[2 * k + 1])});
    const TGrid gridBefore = grid;
    ImageHandle frame = -1;
    EXPECT_EQ(extractFrame(photo, grid, &frame, framePoints, width, height), 0);
    EXPECT_EQ(std::memcmp(grid.points.data(), gridBefore.points.data(), sizeof(TPointf) * kFeaturePointCount), 0);
    EXPECT_TRUE(test::pixelsOf(photo) == photoBefore) << "the photo changed";
    const std::vector<uint8_t> rgb = test::pixelsOf(frame);
    EXPECT_EQ(rgb.size(), static_cast<std::size_t>(width) * height * 3);
    EXPECT_EQ(TAVO_FreeImage(frame) + TAVO_FreeImage(photo), 0);
    for (int k = 0; k < kFeaturePointCount; ++k) {
        const auto x = static_cast<int32_t>(framePoints.points[k].x), y = static_cast<int32_t>(framePoints.points[k].y);
        if (x < 0 || y < 0 || x >= width || y >= height) continue;
        const uint8_t *pixel = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
        EXPECT_NEAR(2 * pixel[0], std::clamp(points[2 * k], 0, side - 1), 4) << k;
        EXPECT_NEAR(2 * pixel[1], std::clamp(points[2 * k + 1], 0, side - 1), 4) << k;
    }
    return framePoints;
}

TEST(FaceBox, BoxesAreTheHandComputedSquaresKeptInsideTheImage) {
    // 1.6 times as wide as the points, 0.695 of their height above their centre and 0.55 below, square
    // inside the image; an odd pixel goes right or down but at the border.
    for (const auto &[points, width, height, box] :
         std::vector<std::tuple<std::vector<TPointf>, int32_t, int32_t, std::array<int32_t, 4>>>{
             {{{-20.5f, -30.2f}, {1030.0f, 1040.0f}}, 1000, 1000, {0, 0, 999, 999}},  // the points clamped first
             {{{480.7f, 470.2f}, {521.9f, 470.9f}, {500.5f, 533.6f}}, 539, 1000, {460, 457, 538, 535}},
             {{{400.3f, 500.2f}, {481.6f, 510.7f}, {440.0f, 521.9f}}, 1000, 573, {375, 443, 504, 572}},
             {{{5.5f, 480.2f}, {46.3f, 541.6f}, {20.0f, 500.0f}}, 1000, 1000, {0, 467, 76, 543}},
             {{{953.7f, 480.2f}, {994.9f, 541.6f}, {970.0f, 500.0f}}, 1000, 1000, {923, 467, 999, 543}},
             {{{400.3f, 2.2f}, {481.6f, 12.7f}, {440.0f, 23.9f}}, 1000, 1000, {375, 0, 504, 129}},
             {{{400.3f, 958.3f}, {481.6f, 970.7f}, {440.0f, 999.4f}}, 1000, 1000, {375, 870, 504, 999}},
             // Wider than the image: half the excess on each side; taller: all on top.
             {{{40.5f, 300.2f}, {61.7f, 703.9f}, {50.0f, 500.0f}}, 100, 1000, {-202, 220, 300, 722}},
             {{{300.2f, 40.5f}, {701.9f, 61.7f}, {500.0f, 50.0f}}, 1000, 100, {179, -542, 820, 99}}}) {
        std::array<int32_t, 4> found{};
        EXPECT_EQ(faceBox(TGrid(points), found[0], found[1], found[2], found[3], width, height), 0);
        EXPECT_EQ(found, box) << points[0].x << ", " << points[0].y;
    }
}

TEST(ExtractFrame, FacesAreCroppedToTheirWidenedBoxTurnedUprightAndScaled) {
    // Level faces: frame points (p - crop origin) * ratio in float, the box widened to the
    // frame's aspect by (side + 0.4) / side (floor left, ceil right), the crop scaled to width + 0.4.
    struct Case {
        int32_t cx, cy, side, width, height, cropX, cropY;
        double ratio;
    };
    for (const Case &c : std::vector<Case>{
             {200, 200, 400, 256, 256, 103, 116, 256.4 / 195},  // box 103..296 x 116..309, one column added
             {200, 200, 400, 300, 200, 55, 116, 300.4 / 291},
             {200, 200, 400, 200, 300, 103, 68, 200.4 / 194},
             {64, 200, 400, 256, 256, 0, 132, 256.4 / 162},
             {334, 200, 400, 256, 256, 237, 131, 256.4 / 164},
             {200, 34, 400, 256, 256, 103, 0, 256.4 / 195},
             {50, 50, 100, 256, 256, 0, 0, 256.4 / 101}}) {
        const IntPoints points = facePoints(c.cx, c.cy);
        const TGrid frame = extractChecked(c.side, points, c.width, c.height);
        for (std::size_t k = 0; k < kFeaturePointCount; ++k) {
            const auto x =
                static_cast<float>(std::clamp(points[2 * k], 0, c.side - 1) - c.cropX);  // clamped into the photo
            const auto y = static_cast<float>(std::clamp(points[2 * k + 1], 0, c.side - 1) - c.cropY);
            EXPECT_TRUE(frame.points[k].x == x * static_cast<float>(c.ratio) &&
                        frame.points[k].y == y * static_cast<float>(c.ratio))
                << c.cx << ", " << c.cy << ": " << k;
        }
    }
    for (const double degrees : {20.0, -20.0}) {
        const TGrid frame = extractChecked(400, facePoints(200, 200, degrees), 256, 256);
        EXPECT_NEAR(frame.points[0].y, frame.points[1].y, 0.01);  // the eyes level
        EXPECT_GT(frame.points[1].x - frame.points[0].x, 100.0f);
    }
}

// The frame made the plain way: the whole photo turned upright about the eyes' centre, the face box
// widened to the frame's aspect cut out of it, scaled to the frame's width and cut to its size.
std::vector<uint8_t> wholePhotoFrame(ImageHandle photo, const IntPoints &points, int32_t width, int32_t height) {
    TGrid grid;
    for (int k = 0; k < kFeaturePointCount; ++k)
        grid.points.push_back({static_cast<float>(points[2 * k]), static_cast<float>(points[2 * k + 1])});
    const TPointf p0 = grid.points[0], p1 = grid.points[1];
    const auto angle = static_cast<float>(static_cast<double>(std::atan2(p1.y - p0.y, p1.x - p0.x) * 180.0f) / 3.1415926);
    const float cx = (p0.x + p1.x) * 0.5f, cy = (p0.y + p1.y) * 0.5f;
    int32_t side[2] = {}, box[4] = {};
    TAVO_GetImageWidth(photo, &side[0]);
    TAVO_GetImageHeight(photo, &side[1]);
    grid.Rotate(static_cast<int32_t>(cx), static_cast<int32_t>(cy), side[0], side[1],
                static_cast<float>(static_cast<double>(angle / -180.0f) * 3.1415926));
    faceBox(grid, box[0], box[1], box[2], box[3], side[0], side[1]);
    const int axis = width >= height ? 0 : 1;  // the axis widened to the frame's aspect
    const double aspect = (axis == 0 ? width + 0.4 : height + 0.4) / (axis == 0 ? height : width);
    const double pad = ((box[axis + 2] - box[axis]) * aspect - (box[axis + 2] - box[axis])) * 0.5;
    box[axis] = static_cast<int32_t>(box[axis] - std::floor(pad));
    box[axis + 2] = static_cast<int32_t>(box[axis + 2] + std::ceil(pad));
    ImageHandle image = -1;
    EXPECT_EQ(TAVO_CreateEmptyImage(&image), 0);
    EXPECT_EQ(TAVO_RotateImageCenter(photo, -static_cast<double>(angle), cx, cy, image), 0);
    EXPECT_EQ(TAVO_CopyRectReplicateBorder(image, box[0], box[1], box[2], box[3], image), 0);
    EXPECT_EQ(TAVO_ResizeImage(image, (width + 0.4) / (box[2] - box[0] + 1), image), 0);
    EXPECT_EQ(TAVO_CopyRectReplicateBorder(image, 0, 0, width - 1, height - 1, image), 0);
    const std::vector<uint8_t> pixels = test::pixelsOf(image);
    EXPECT_EQ(TAVO_FreeImage(image), 0);
    return pixels;
}

TEST(ExtractFaceFrame, TurnsOnlyTheCroppedPixelsYetMatchesTheWholePhotoTurnedUpright) {
    // Photos of several sizes, faces rolled either way and near every border (crops leaving the photo).
    for (const auto &[photoWidth, photoHeight, cx, cy, degrees, width, height] :
         std::vector<std::tuple<int32_t, int32_t, int32_t, int32_t, double, int32_t, int32_t>>{
             {640, 480, 320, 240, 12.0, 256, 256}, {640, 480, 300, 250, -7.3, 300, 200},
             {401, 599, 200, 300, 25.0, 200, 300}, {480, 640, 60, 90, -31.0, 256, 256},
             {480, 640, 420, 590, 44.0, 256, 256}, {1203, 797, 900, 400, 3.1, 256, 256},
             {300, 300, 150, 150, 0.0, 256, 256},   {300, 300, 150, 150, 90.0, 128, 128}}) {
        std::vector<uint8_t> rgb(static_cast<std::size_t>(photoWidth) * photoHeight * 3);
        for (std::size_t k = 0; k < rgb.size(); ++k) rgb[k] = static_cast<uint8_t>((k * 2654435761u) >> 24);
        ImageHandle photo = -1, frame = -1;
        ASSERT_EQ(TAVO_LoadImageFromBuffer(&photo, rgb.data(), photoWidth, photoHeight, photoWidth * 3,
                                           TAVO_IMAGEMODE_COLOR), 0);
        const IntPoints points = facePoints(cx, cy, degrees);
        IntPoints framePoints{};
        ASSERT_EQ(TAVO_ExtractFaceFrame(photo, points.data(), &frame, framePoints.data(), width, height), 0);
        EXPECT_TRUE(test::pixelsOf(frame) == wholePhotoFrame(photo, points, width, height))
            << photoWidth << " x " << photoHeight << " at " << degrees << " degrees";
        EXPECT_TRUE(test::pixelsOf(photo) == rgb);
        EXPECT_EQ(TAVO_FreeImage(frame) + TAVO_FreeImage(photo), 0);
    }
}

TEST(ExtractFaceFrame, GivesANewFrameAndPointsTruncatedTowardZeroOrCreatesAndWritesNothing) {
    const IntPoints points = facePoints(200, 200);
    const ImageHandle photo = coordinatePhoto(400);
    ImageHandle frame = -1, empty = -1;
    IntPoints framePoints{};
    ASSERT_EQ(TAVO_ExtractFaceFrame(photo, points.data(), &frame, framePoints.data(), 256, 256), 0);
    // The frame points of the level face (p - (103, 116)) * 256.4 / 195, truncated, not rounded.
    EXPECT_TRUE(framePoints[0] == 61 && framePoints[1] == 71 && framePoints[120] == 127 && framePoints[121] == 203);
    EXPECT_EQ(TAVO_FreeImage(frame) + TAVO_CreateEmptyImage(&empty), 0);
    const int32_t *p = points.data();
    for (const auto &[image, given, withFrame, withPoints, width, height] :
         std::vector<std::tuple<ImageHandle, const int32_t *, bool, bool, int32_t, int32_t>>{
             {photo, nullptr, true, true, 256, 256},
             {photo, p, false, true, 256, 256},
             {photo, p, true, false, 256, 256},
             {-1, p, true, true, 256, 256},
             {empty, p, true, true, 256, 256},
             {photo, p, true, true, 0, 256},
             {photo, p, true, true, 256, 0},
             {photo, p, true, true, TAVOIMG_MAX_SIDE + 1, 256},
             {photo, p, true, true, 256, TAVOIMG_MAX_SIDE + 1},
             {photo, p, true, true, TAVOIMG_MAX_SIDE, TAVOIMG_MAX_SIDE},
             {photo, p, true, true, 2000, 1}}) {  // a crop too wide to make
        const ImageHandle next = nextFreeHandle();
        ImageHandle made = 12345;
        framePoints.fill(-777);
        EXPECT_EQ(TAVO_ExtractFaceFrame(image, given, withFrame ? &made : nullptr,
                                        withPoints ? framePoints.data() : nullptr, width, height),
                  TAVO_ERR_GENERAL);
        EXPECT_TRUE(nextFreeHandle() == next && made == 12345) << width << " x " << height;
        EXPECT_TRUE(std::all_of(framePoints.begin(), framePoints.end(), [](int32_t v) { return v == -777; }));
    }
    EXPECT_EQ(TAVO_FreeImage(photo) + TAVO_FreeImage(empty), 0);
}

}  // namespace
}  // namespace kelmo
