// Face frame extraction (Part 3.2): FaceBox on hand-computed boxes, ExtractFrame
// on synthetic photos with coloured markers at the feature points, the call
// order to the imaging library, and TAVO_ExtractFaceFrame's boundary.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fitting/face_frame.h"
#include "fitting/grid.h"
#include "kelmo.h"
#include "model/model.h"

// ---- Call log ---------------------------------------------------------------
// The test program interposes the imaging calls of Part 3.2's call table: the
// definitions below take precedence over libtavoimage's for every caller in
// this program, record the top-level calls while recording is on and forward
// to the library's own functions.
namespace {

struct ImagingCall {
    std::string name;
    std::vector<ImageHandle> handles;  // handle arguments, then an out handle
    std::vector<int32_t> integers;
    std::vector<double> reals;
};

struct CallLog {
    bool recording = false;
    int depth = 0;
    std::vector<ImagingCall> calls;
};

CallLog &callLog() {
    static CallLog log;
    return log;
}

template <typename Function>
Function realFunction(const char *name) {
    void *symbol = dlsym(RTLD_NEXT, name);
    if (symbol == nullptr) std::abort();
    return reinterpret_cast<Function>(symbol);
}

// Records one call when recording and not nested in another imaging call.
class Recorder {
public:
    explicit Recorder(const char *name) : recorded_(callLog().recording && callLog().depth == 0) {
        ++callLog().depth;
        if (recorded_) {
            callLog().calls.push_back(ImagingCall{name, {}, {}, {}});
            index_ = callLog().calls.size() - 1;
        }
    }
    ~Recorder() { --callLog().depth; }
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    void handle(ImageHandle value) {
        if (recorded_) callLog().calls[index_].handles.push_back(value);
    }
    void integer(int32_t value) {
        if (recorded_) callLog().calls[index_].integers.push_back(value);
    }
    void real(double value) {
        if (recorded_) callLog().calls[index_].reals.push_back(value);
    }

private:
    bool recorded_;
    std::size_t index_ = 0;
};

}  // namespace

extern "C" {

int32_t TAVO_CreateEmptyImage(ImageHandle *out) {
    static const auto real = realFunction<int32_t (*)(ImageHandle *)>("TAVO_CreateEmptyImage");
    Recorder recorder("CreateEmptyImage");
    const int32_t status = real(out);
    if (out != nullptr) recorder.handle(*out);
    return status;
}

int32_t TAVO_FreeImage(ImageHandle image) {
    static const auto real = realFunction<int32_t (*)(ImageHandle)>("TAVO_FreeImage");
    Recorder recorder("FreeImage");
    recorder.handle(image);
    return real(image);
}

int32_t TAVO_CopyImage(ImageHandle source, ImageHandle destination) {
    static const auto real = realFunction<int32_t (*)(ImageHandle, ImageHandle)>("TAVO_CopyImage");
    Recorder recorder("CopyImage");
    recorder.handle(source);
    recorder.handle(destination);
    return real(source, destination);
}

int32_t TAVO_GetImageWidth(ImageHandle image, int32_t *value) {
    static const auto real = realFunction<int32_t (*)(ImageHandle, int32_t *)>("TAVO_GetImageWidth");
    Recorder recorder("GetImageWidth");
    recorder.handle(image);
    return real(image, value);
}

int32_t TAVO_GetImageHeight(ImageHandle image, int32_t *value) {
    static const auto real = realFunction<int32_t (*)(ImageHandle, int32_t *)>("TAVO_GetImageHeight");
    Recorder recorder("GetImageHeight");
    recorder.handle(image);
    return real(image, value);
}

int32_t TAVO_ResizeImage(ImageHandle source, double ratio, ImageHandle destination) {
    static const auto real = realFunction<int32_t (*)(ImageHandle, double, ImageHandle)>("TAVO_ResizeImage");
    Recorder recorder("ResizeImage");
    recorder.handle(source);
    recorder.handle(destination);
    recorder.real(ratio);
    return real(source, ratio, destination);
}

int32_t TAVO_RotateImageCenter(ImageHandle source, double angle, double centreX, double centreY,
                               ImageHandle destination) {
    static const auto real =
        realFunction<int32_t (*)(ImageHandle, double, double, double, ImageHandle)>("TAVO_RotateImageCenter");
    Recorder recorder("RotateImageCenter");
    recorder.handle(source);
    recorder.handle(destination);
    recorder.real(angle);
    recorder.real(centreX);
    recorder.real(centreY);
    return real(source, angle, centreX, centreY, destination);
}

int32_t TAVO_CopyRectReplicateBorder(ImageHandle source, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                                     ImageHandle destination) {
    static const auto real = realFunction<int32_t (*)(ImageHandle, int32_t, int32_t, int32_t, int32_t, ImageHandle)>(
        "TAVO_CopyRectReplicateBorder");
    Recorder recorder("CopyRectReplicateBorder");
    recorder.handle(source);
    recorder.handle(destination);
    for (const int32_t value : {x1, y1, x2, y2}) recorder.integer(value);
    return real(source, x1, y1, x2, y2, destination);
}

}  // extern "C"

namespace kelmo {
namespace {

// ---- Pictures ---------------------------------------------------------------

// A colour picture (mode 1: R, G, B bytes, packed rows).
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb;

    uint8_t *at(int32_t x, int32_t y) { return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3; }
    const uint8_t *at(int32_t x, int32_t y) const {
        return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
    }
};

Picture readPicture(ImageHandle image) {
    Picture picture;
    EXPECT_EQ(TAVO_GetImageWidth(image, &picture.width), 0);
    EXPECT_EQ(TAVO_GetImageHeight(image, &picture.height), 0);
    int32_t size = 0;
    EXPECT_EQ(TAVO_GetImageBufferSize(image, &size, TAVO_IMAGEMODE_COLOR), 0);
    picture.rgb.assign(static_cast<std::size_t>(size) + 1, 0);
    EXPECT_EQ(TAVO_SaveImageToBuffer(image, picture.rgb.data(), TAVO_IMAGEMODE_COLOR), 0);
    picture.rgb.resize(static_cast<std::size_t>(size));
    return picture;
}

ImageHandle loadPicture(const Picture &picture) {
    ImageHandle image = -1;
    EXPECT_EQ(TAVO_LoadImageFromBuffer(&image, picture.rgb.data(), picture.width, picture.height,
                                       picture.width * 3, TAVO_IMAGEMODE_COLOR),
              0);
    return image;
}

// A grey picture (R = G = B) whose level is level(x, y).
template <typename Level>
Picture greyPicture(int32_t width, int32_t height, Level level) {
    Picture picture{width, height, std::vector<uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t *pixel = picture.at(x, y);
            pixel[0] = pixel[1] = pixel[2] = static_cast<uint8_t>(level(x, y));
        }
    }
    return picture;
}

// The handle that the next TAVO_CreateEmptyImage hands out (the lowest free
// slot): it changes when a call leaves an image behind.
ImageHandle nextFreeHandle() {
    ImageHandle image = -1;
    EXPECT_EQ(TAVO_CreateEmptyImage(&image), 0);
    EXPECT_EQ(TAVO_FreeImage(image), 0);
    return image;
}

// ---- Synthetic faces ----------------------------------------------------------

// Six feature points carry a marker of a pure colour; the others sit on the
// face's centre and carry none.
constexpr std::array<int, 6> kMarkedPoints = {0, 1, 10, 20, 40, 60};
constexpr std::array<std::array<int32_t, 2>, 6> kMarkedOffsets = {
    {{-50, -30}, {50, -30}, {-60, 20}, {61, 20}, {0, 40}, {0, 71}}};
constexpr std::array<std::array<uint8_t, 3>, 6> kMarkerColours = {
    {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}, {0, 255, 255}, {255, 0, 255}}};
constexpr double kPi = 3.14159265358979323846;

using IntPoints = std::array<int32_t, 2 * kFeaturePointCount>;

// The 66 points of a face centred on (cx, cy), turned by rollDegrees with the
// rotation of Part 3.2 (y down: positive turns point 1 below point 0),
// rounded to the nearest pixel.
IntPoints facePoints(int32_t cx, int32_t cy, double rollDegrees = 0.0) {
    IntPoints points{};
    for (int k = 0; k < kFeaturePointCount; ++k) {
        points[2 * k] = cx;
        points[2 * k + 1] = cy;
    }
    const double c = std::cos(rollDegrees * kPi / 180.0), s = std::sin(rollDegrees * kPi / 180.0);
    for (std::size_t m = 0; m < kMarkedPoints.size(); ++m) {
        const double ox = kMarkedOffsets[m][0], oy = kMarkedOffsets[m][1];
        points[2 * kMarkedPoints[m]] = cx + static_cast<int32_t>(std::lround(ox * c - oy * s));
        points[2 * kMarkedPoints[m] + 1] = cy + static_cast<int32_t>(std::lround(ox * s + oy * c));
    }
    return points;
}

TGrid gridOf(const IntPoints &points) {
    TGrid grid;
    for (int k = 0; k < kFeaturePointCount; ++k) {
        grid.points.push_back({static_cast<float>(points[2 * k]), static_cast<float>(points[2 * k + 1])});
    }
    return grid;
}

// A grey, textured photo (every grey level differs from its neighbours' so
// that a shifted or rotated picture shows) with a disc of radius 3.5 in the
// marker colour on each marked point.
Picture facePhoto(int32_t width, int32_t height, const IntPoints &points) {
    Picture photo = greyPicture(width, height, [](int32_t x, int32_t y) { return 40 + (x + 2 * y) % 150; });
    for (std::size_t m = 0; m < kMarkedPoints.size(); ++m) {
        const int32_t px = points[2 * kMarkedPoints[m]], py = points[2 * kMarkedPoints[m] + 1];
        for (int32_t y = py - 4; y <= py + 4; ++y) {
            for (int32_t x = px - 4; x <= px + 4; ++x) {
                if (x < 0 || y < 0 || x >= width || y >= height) continue;
                if ((x - px) * (x - px) + (y - py) * (y - py) > 12) continue;
                std::copy(kMarkerColours[m].begin(), kMarkerColours[m].end(), photo.at(x, y));
            }
        }
    }
    return photo;
}

// How strongly a pixel shows marker colour m: linear in the marker's share of
// a blend with grey, 0 on grey.
int markerWeight(const uint8_t *pixel, std::size_t m) {
    const int r = pixel[0], g = pixel[1], b = pixel[2];
    int weight = 0;
    switch (m) {
        case 0: weight = r - std::max(g, b); break;
        case 1: weight = g - std::max(r, b); break;
        case 2: weight = b - std::max(r, g); break;
        case 3: weight = std::min(r, g) - b; break;
        case 4: weight = std::min(g, b) - r; break;
        default: weight = std::min(r, b) - g; break;
    }
    return std::max(weight, 0);
}

// Checks that every marker's weighted centroid in the frame lies within one
// pixel of its frame point (the resize aligns pixel centres, the frame points
// do not: they differ by 0.5 (ratio - 1), below half a pixel here).
void expectMarkersOnFramePoints(const Picture &frame, const TGrid &framePoints) {
    for (std::size_t m = 0; m < kMarkedPoints.size(); ++m) {
        double sum = 0.0, sumX = 0.0, sumY = 0.0;
        for (int32_t y = 0; y < frame.height; ++y) {
            for (int32_t x = 0; x < frame.width; ++x) {
                const int weight = markerWeight(frame.at(x, y), m);
                sum += weight;
                sumX += weight * static_cast<double>(x);
                sumY += weight * static_cast<double>(y);
            }
        }
        ASSERT_GT(sum, 0.0) << "marker of point " << kMarkedPoints[m] << " missing from the frame";
        const TPointf expected = framePoints.points[static_cast<std::size_t>(kMarkedPoints[m])];
        EXPECT_NEAR(sumX / sum, expected.x, 1.0) << "point " << kMarkedPoints[m];
        EXPECT_NEAR(sumY / sum, expected.y, 1.0) << "point " << kMarkedPoints[m];
    }
}

void expectSameGrid(const TGrid &actual, const TGrid &expected) {
    ASSERT_EQ(actual.points.size(), expected.points.size());
    for (std::size_t i = 0; i < actual.points.size(); ++i) {
        EXPECT_EQ(actual.points[i].x, expected.points[i].x) << "point " << i;
        EXPECT_EQ(actual.points[i].y, expected.points[i].y) << "point " << i;
    }
}

// Frame points of a level face (angle 0 leaves the points exactly where they
// are): Part 3.2 step 11, (p - crop origin) * (float) ratio, in float.
void expectLevelFramePoints(const TGrid &framePoints, const IntPoints &points, int32_t cropX1, int32_t cropY1,
                            double ratio) {
    ASSERT_EQ(framePoints.points.size(), static_cast<std::size_t>(kFeaturePointCount));
    const float scale = static_cast<float>(ratio);
    for (int k = 0; k < kFeaturePointCount; ++k) {
        const float x = (static_cast<float>(points[2 * k]) + static_cast<float>(-cropX1)) * scale;
        const float y = (static_cast<float>(points[2 * k + 1]) + static_cast<float>(-cropY1)) * scale;
        EXPECT_EQ(framePoints.points[static_cast<std::size_t>(k)].x, x) << "point " << k;
        EXPECT_EQ(framePoints.points[static_cast<std::size_t>(k)].y, y) << "point " << k;
    }
}

// Runs the internal ExtractFrame on a fresh photo; checks that the photo and
// the points come back unchanged and that the frame is a new image of the
// requested size. Returns the frame's pixels and points.
struct Extraction {
    Picture frame;
    TGrid framePoints;
};

Extraction extractChecked(const Picture &photoPicture, const IntPoints &points, int32_t width, int32_t height) {
    Extraction result;
    const ImageHandle photo = loadPicture(photoPicture);
    TGrid grid = gridOf(points);
    const TGrid gridBefore = grid;
    ImageHandle frame = -1;
    EXPECT_EQ(extractFrame(photo, grid, &frame, result.framePoints, width, height), 0);
    EXPECT_NE(frame, photo);
    expectSameGrid(grid, gridBefore);
    const Picture photoAfter = readPicture(photo);
    EXPECT_EQ(photoAfter.width, photoPicture.width);
    EXPECT_EQ(photoAfter.height, photoPicture.height);
    EXPECT_TRUE(photoAfter.rgb == photoPicture.rgb) << "the photo's pixels changed";
    result.frame = readPicture(frame);
    EXPECT_EQ(result.frame.width, width);
    EXPECT_EQ(result.frame.height, height);
    EXPECT_EQ(TAVO_FreeImage(frame), 0);
    EXPECT_EQ(TAVO_FreeImage(photo), 0);
    return result;
}

// ---- FaceBox ------------------------------------------------------------------

struct Box {
    int32_t x1, y1, x2, y2;
};

Box faceBoxOf(std::vector<TPointf> points, int32_t width, int32_t height) {
    Box box{-1, -1, -1, -1};
    EXPECT_EQ(faceBox(TGrid(std::move(points)), box.x1, box.y1, box.x2, box.y2, width, height), 0);
    return box;
}

void expectBox(const Box &actual, const Box &expected) {
    EXPECT_EQ(actual.x1, expected.x1);
    EXPECT_EQ(actual.y1, expected.y1);
    EXPECT_EQ(actual.x2, expected.x2);
    EXPECT_EQ(actual.y2, expected.y2);
}

// The cluster of the next two tests: x 480.7 .. 521.9, y 470.2 .. 533.6.
const std::vector<TPointf> kMiddleCluster = {{480.7f, 470.2f}, {521.9f, 470.9f}, {500.5f, 533.6f}, {490.0f, 510.0f}};

TEST(FaceBox, SmallClusterInTheMiddleGivesTheHandComputedSquare) {
    // Step 1: x1 = 480, y1 = 470 (470.9 is not below 470.0), x2 = 521,
    //   y2 = 533. Step 3: w = 41, h = 63; cx = trunc(480 + 20.5) = 500,
    //   cy = trunc(470 + 31.5) = 501; half = 41 * 0.8 = 32.8:
    //   x1 = trunc(467.2) = 467, x2 = trunc(532.8) = 532;
    //   y1 = trunc(501 - 63 * 0.695) = trunc(457.215) = 457,
    //   y2 = trunc(501 + 63 * 0.55) = trunc(535.65) = 535.
    // Step 5: width 65 < height 78, d = 13: x1 = 467 - 6 = 461,
    //   x2 = 532 + 6 = 538; d odd and 538 < W - 1: x2 = 539.
    expectBox(faceBoxOf(kMiddleCluster, 1000, 1000), {461, 457, 539, 535});
}

TEST(FaceBox, OddWidthDifferenceAtTheRightBorderTakesTheSpareColumnOnTheLeft) {
    // As above with W = 539: after x2 = 532 + 6 = 538 = W - 1 the odd column
    // goes to the left, x1 = 461 - 1 = 460, and nothing shifts.
    expectBox(faceBoxOf(kMiddleCluster, 539, 1000), {460, 457, 538, 535});
}

// The wide cluster of the next two tests: x 400.3 .. 481.6, y 500.2 .. 521.9.
const std::vector<TPointf> kWideCluster = {{400.3f, 500.2f}, {481.6f, 510.7f}, {440.0f, 521.9f}};

TEST(FaceBox, OddHeightDifferenceGivesTheSpareRowToTheBottom) {
    // Step 1: x1 = 400, x2 = 481, y1 = 500, y2 = 521. Step 3: w = 81, h = 21;
    //   cx = trunc(440.5) = 440, half = 64.8: x1 = trunc(375.2) = 375,
    //   x2 = trunc(504.8) = 504; cy = trunc(510.5) = 510:
    //   y1 = trunc(510 - 14.595) = 495, y2 = trunc(510 + 11.55) = 521.
    // Step 6: 26 < 129, d = 103: y1 = 495 - 51 = 444, y2 = 521 + 51 = 572;
    //   d odd and 572 < H - 1: y2 = 573.
    expectBox(faceBoxOf(kWideCluster, 1000, 1000), {375, 444, 504, 573});
}

TEST(FaceBox, OddHeightDifferenceAtTheBottomBorderGivesTheSpareRowToTheTop) {
    // As above with H = 573: y2 = 572 = H - 1, so y1 = 444 - 1 = 443.
    expectBox(faceBoxOf(kWideCluster, 1000, 573), {375, 443, 504, 572});
}

TEST(FaceBox, BoxLeavingTheLeftBorderIsClampedAndShiftedBackInside) {
    // Step 1: x 5 .. 46, y 480 .. 541. Step 3: w = 41, cx = trunc(25.5) = 25:
    //   x1 = trunc(-7.8) = -7, x2 = trunc(57.8) = 57; h = 61, cy = 510:
    //   y1 = trunc(510 - 42.395) = 467, y2 = trunc(510 + 33.55) = 543.
    // Step 4: x1 = 0. Step 5: 57 < 76, d = 19: x1 = -9, x2 = 66, odd: x2 = 67;
    //   x1 < 0: x2 = 67 + 9 = 76, x1 = 0.
    expectBox(faceBoxOf({{5.5f, 480.2f}, {46.3f, 541.6f}, {20.0f, 500.0f}}, 1000, 1000), {0, 467, 76, 543});
}

TEST(FaceBox, BoxLeavingTheRightBorderIsClampedAndShiftedBackInside) {
    // Step 1: x 953 .. 994, y 480 .. 541. Step 3: cx = trunc(973.5) = 973:
    //   x1 = trunc(940.2) = 940, x2 = trunc(1005.8) = 1005; y 467 .. 543.
    // Step 4: x2 = 999. Step 5: 59 < 76, d = 17: x1 = 932, x2 = 1007; odd and
    //   x2 >= W - 1: x1 = 931; x2 >= W: x1 += 1000 - 1007 - 1, x1 = 923, x2 = 999.
    expectBox(faceBoxOf({{953.7f, 480.2f}, {994.9f, 541.6f}, {970.0f, 500.0f}}, 1000, 1000),
              {923, 467, 999, 543});
}

TEST(FaceBox, BoxLeavingTheTopBorderIsClampedAndShiftedBackInside) {
    // Step 1: x 400 .. 481, y 2 .. 23. Step 3: x 375 .. 504 (as the wide
    //   cluster); h = 21, cy = trunc(12.5) = 12: y1 = trunc(12 - 14.595) = -2,
    //   y2 = trunc(23.55) = 23. Step 4: y1 = 0. Step 6: 23 < 129, d = 106:
    //   y1 = -53, y2 = 76; y1 < 0: y2 = 76 + 53 = 129, y1 = 0.
    expectBox(faceBoxOf({{400.3f, 2.2f}, {481.6f, 12.7f}, {440.0f, 23.9f}}, 1000, 1000), {375, 0, 504, 129});
}

TEST(FaceBox, BoxLeavingTheBottomBorderIsClampedAndShiftedBackInside) {
    // Step 1: x 400 .. 481, y 958 .. 999. Step 3: h = 41, cy = trunc(978.5) =
    //   978: y1 = trunc(978 - 28.495) = 949, y2 = trunc(978 + 22.55) = 1000.
    // Step 4: y2 = 999. Step 6: 50 < 129, d = 79: y1 = 910, y2 = 1038; odd and
    //   y2 >= H - 1: y1 = 909; y2 >= H: y1 += 1000 - 1038 - 1, y1 = 870, y2 = 999.
    expectBox(faceBoxOf({{400.3f, 958.3f}, {481.6f, 970.7f}, {440.0f, 999.4f}}, 1000, 1000),
              {375, 870, 504, 999});
}

TEST(FaceBox, SquareWiderThanTheImageOverhangsBothSidesByHalfTheExcess) {
    // W = 100. Step 1: x 40 .. 61, y 300 .. 703. Step 3: w = 21, cx = 50,
    //   half = 16.8: x 33 .. 66; h = 403, cy = trunc(501.5) = 501:
    //   y1 = trunc(501 - 280.085) = 220, y2 = trunc(501 + 221.65) = 722.
    // Step 5: 33 < 502, d = 469: x1 = 33 - 234 = -201, x2 = 66 + 234 = 300;
    //   odd and x2 >= W - 1: x1 = -202; x1 < 0: x2 = 502, x1 = 0; x2 >= W:
    //   x1 += 100 - 502 - 1 = -403, x2 = 99.
    // Step 7: k = -403 / 2 = -201 (toward zero): x1 = -202, x2 = 300: 202
    //   columns hang over on the left, 201 on the right.
    expectBox(faceBoxOf({{40.5f, 300.2f}, {61.7f, 703.9f}, {50.0f, 500.0f}}, 100, 1000), {-202, 220, 300, 722});
}

TEST(FaceBox, SquareTallerThanTheImageOverhangsAtTheTopOnly) {
    // H = 100. Step 1: x 300 .. 701, y 40 .. 61. Step 3: w = 401, cx = 500,
    //   half = 320.8: x 179 .. 820; h = 21, cy = 50: y 35 .. 61.
    // Step 6: 26 < 641, d = 615: y1 = 35 - 307 = -272, y2 = 61 + 307 = 368;
    //   odd and y2 >= H - 1: y1 = -273; y1 < 0: y2 = 641, y1 = 0; y2 >= H:
    //   y1 += 100 - 641 - 1 = -542, y2 = 99. No step 7 for rows.
    expectBox(faceBoxOf({{300.2f, 40.5f}, {701.9f, 61.7f}, {500.0f, 50.0f}}, 1000, 100), {179, -542, 820, 99});
}

// ---- ExtractFrame ---------------------------------------------------------------

// The level face of most tests: photo 400 x 400, face centred on (200, 200);
// points x 140 .. 261, y 170 .. 271.
// FaceBox: w = 121, h = 101; cx = trunc(200.5) = 200, half = 96.8: x 103 .. 296;
//   cy = trunc(220.5) = 220: y1 = trunc(220 - 70.195) = 149,
//   y2 = trunc(220 + 55.55) = 275. Step 6: d = 193 - 126 = 67: y1 = 116,
//   y2 = 308, odd: y2 = 309. Box (103, 116, 296, 309), side 193.
// Step 7 for 256 x 256: r = 256.4 / 256, pad = (193 r - 193) / 2 = 0.1508:
//   x1' = 103 - 0 = 103, x2' = 296 + 1 = 297; crop width 195.
constexpr int32_t kPhotoSide = 400;

TEST(ExtractFrame, LevelFaceIsOnlyCroppedAndScaled) {
    // Part 3.2, edge case: points 0 and 1 on one line give angle 0, so the
    // frame points are the input points moved by the crop origin and scaled.
    const IntPoints points = facePoints(200, 200);
    const Extraction result = extractChecked(facePhoto(kPhotoSide, kPhotoSide, points), points, 256, 256);
    expectLevelFramePoints(result.framePoints, points, 103, 116, 256.4 / 195.0);
    expectMarkersOnFramePoints(result.frame, result.framePoints);
}

TEST(ExtractFrame, SquareFrameRatioIsTheWidenedCropsWidthInto256Point4) {
    // Part 3.2, edge case: for 256 x 256 the square box of side 193 is widened
    // by 256.4 / 256 (pad 0.15: one column on the right), and the ratio is
    // 256.4 / 195, not 256.4 / 194. Points 0 and 1 are 100 apart.
    const IntPoints points = facePoints(200, 200);
    const Extraction result = extractChecked(facePhoto(kPhotoSide, kPhotoSide, points), points, 256, 256);
    const float distance = result.framePoints.points[1].x - result.framePoints.points[0].x;
    EXPECT_EQ(distance, 100.0f * static_cast<float>(256.4 / 195.0));
}

TEST(ExtractFrame, WideFrameWidensTheCropOnBothSides) {
    // 300 x 200, width >= height: r = 300.4 / 200 = 1.502, b = 193,
    // pad = (193 * 1.502 - 193) / 2 = 48.443: x1' = 103 - 48 = 55,
    // x2' = 296 + 49 = 345, rows unchanged 116 .. 309; ratio = 300.4 / 291.
    const IntPoints points = facePoints(200, 200);
    const Extraction result = extractChecked(facePhoto(kPhotoSide, kPhotoSide, points), points, 300, 200);
    expectLevelFramePoints(result.framePoints, points, 55, 116, 300.4 / 291.0);
    expectMarkersOnFramePoints(result.frame, result.framePoints);
}

TEST(ExtractFrame, TallFrameHeightensTheCropOnBothSides) {
    // 200 x 300, width < height: r = 300.4 / 200, b = 309 - 116 = 193,
    // pad = 48.443: y1' = 116 - 48 = 68, y2' = 309 + 49 = 358, columns
    // unchanged 103 .. 296; ratio = (width + 0.4) / 194 = 200.4 / 194.
    const IntPoints points = facePoints(200, 200);
    const Extraction result = extractChecked(facePhoto(kPhotoSide, kPhotoSide, points), points, 200, 300);
    expectLevelFramePoints(result.framePoints, points, 103, 68, 200.4 / 194.0);
    expectMarkersOnFramePoints(result.frame, result.framePoints);
}

TEST(ExtractFrame, FrameIsExactlyTheRequestedSizeForSquareAndOblongSizes) {
    const IntPoints points = facePoints(200, 200);
    const Picture photo = facePhoto(kPhotoSide, kPhotoSide, points);
    const std::array<std::array<int32_t, 2>, 8> sizes = {
        {{256, 256}, {1, 1}, {64, 64}, {300, 200}, {200, 300}, {7, 5}, {5, 7}, {511, 97}}};
    for (const auto &size : sizes) {
        SCOPED_TRACE(std::to_string(size[0]) + " x " + std::to_string(size[1]));
        extractChecked(photo, points, size[0], size[1]);  // checks the size
    }
}

class RolledFace : public ::testing::TestWithParam<double> {};

TEST_P(RolledFace, PointsZeroAndOneEndOnOneRow) {
    const IntPoints points = facePoints(200, 200, GetParam());
    const Extraction result = extractChecked(facePhoto(kPhotoSide, kPhotoSide, points), points, 256, 256);
    const TPointf p0 = result.framePoints.points[0], p1 = result.framePoints.points[1];
    EXPECT_NEAR(p0.y, p1.y, 0.01);
    // The eyes stay 100 photo pixels apart (to the rounding of the input
    // points), scaled by a ratio near 1.3.
    EXPECT_GT(p1.x - p0.x, 100.0f);
}

TEST_P(RolledFace, MarkersLandOnTheFramePoints) {
    // End to end: the photo turned by the imaging library and the points
    // turned by TGrid::Rotate must agree (Part 3.2, steps 4 and 5).
    const IntPoints points = facePoints(200, 200, GetParam());
    const Extraction result = extractChecked(facePhoto(kPhotoSide, kPhotoSide, points), points, 256, 256);
    expectMarkersOnFramePoints(result.frame, result.framePoints);
}

INSTANTIATE_TEST_SUITE_P(PlusAndMinus20Degrees, RolledFace, ::testing::Values(20.0, -20.0));

// Faces near the borders, 4 pixels from them so that the markers are whole.
// The crops are hand-computed as for the centred face (FaceBox steps above).

TEST(ExtractFrame, FaceNearTheLeftBorderIsCroppedFromColumnZero) {
    // Points x 4 .. 125: cx = trunc(64.5) = 64, x1 = trunc(-32.8) -> 0,
    // x2 = trunc(160.8) = 160; y 149 .. 275 heightened by d = 34 to 132 .. 292.
    // pad = 160 (r - 1) / 2 = 0.125: crop x 0 .. 161, width 162.
    const IntPoints points = facePoints(64, 200);
    const Extraction result = extractChecked(facePhoto(kPhotoSide, kPhotoSide, points), points, 256, 256);
    expectLevelFramePoints(result.framePoints, points, 0, 132, 256.4 / 162.0);
    expectMarkersOnFramePoints(result.frame, result.framePoints);
}

TEST(ExtractFrame, FaceNearTheRightBorderIsCroppedToTheLastColumn) {
    // Points x 274 .. 395: cx = trunc(334.5) = 334, x1 = trunc(237.2) = 237,
    // x2 = trunc(430.8) -> 399; y heightened by d = 36 to 131 .. 293.
    // pad = 0.127: crop x 237 .. 400 (one column past the photo, repeated),
    // width 164.
    const IntPoints points = facePoints(334, 200);
    const Extraction result = extractChecked(facePhoto(kPhotoSide, kPhotoSide, points), points, 256, 256);
    expectLevelFramePoints(result.framePoints, points, 237, 131, 256.4 / 164.0);
    expectMarkersOnFramePoints(result.frame, result.framePoints);
}

TEST(ExtractFrame, FaceNearTheTopBorderIsShiftedBackInside) {
    // Points y 4 .. 105: cy = trunc(54.5) = 54, y1 = trunc(-16.195) -> 0,
    // y2 = trunc(109.55) = 109; d = 193 - 109 = 84: y1 = -42, y2 = 151, shifted
    // to 0 .. 193. Crop x 103 .. 297, y 0 .. 193.
    const IntPoints points = facePoints(200, 34);
    const Extraction result = extractChecked(facePhoto(kPhotoSide, kPhotoSide, points), points, 256, 256);
    expectLevelFramePoints(result.framePoints, points, 103, 0, 256.4 / 195.0);
    expectMarkersOnFramePoints(result.frame, result.framePoints);
}

TEST(ExtractFrame, FaceNearTheBottomBorderIsShiftedBackInside) {
    // Points y 294 .. 395: cy = trunc(344.5) = 344, y1 = trunc(273.805) = 273,
    // y2 = trunc(399.55) = 399; d = 67: y1 = 240, y2 = 432, odd at the border:
    // y1 = 239; y2 >= H: y1 += 400 - 432 - 1 -> 206, y2 = 399.
    const IntPoints points = facePoints(200, 324);
    const Extraction result = extractChecked(facePhoto(kPhotoSide, kPhotoSide, points), points, 256, 256);
    expectLevelFramePoints(result.framePoints, points, 103, 206, 256.4 / 195.0);
    expectMarkersOnFramePoints(result.frame, result.framePoints);
}

TEST(ExtractFrame, FaceLargerThanThePhotoFramesTheWholePhoto) {
    // Photo 100 x 100, face centred on (50, 50): points reach x -10 .. 111 and
    // y 20 .. 121; step 5 clamps them into 0 .. 99. FaceBox: x 0 .. 99
    // (x1 = trunc(-30.2) -> 0, x2 = trunc(128.2) -> 99); cy = trunc(59.5) = 59,
    // y1 = trunc(4.095) = 4, y2 = trunc(102.45) -> 99; d = 4: y 2 .. 101,
    // shifted to 0 .. 99. Crop x 0 .. 100 (pad 0.077), width 101.
    const IntPoints points = facePoints(50, 50);
    const Picture photo = greyPicture(100, 100, [](int32_t x, int32_t y) { return 40 + (x + 2 * y) % 150; });
    const Extraction result = extractChecked(photo, points, 256, 256);
    IntPoints clamped = points;
    for (int32_t &value : clamped) value = std::clamp(value, 0, 99);
    expectLevelFramePoints(result.framePoints, clamped, 0, 0, 256.4 / 101.0);
}

TEST(ExtractFrame, SquareWiderThanThePhotoRepeatsBothSideColumns) {
    // Photo 120 x 400 whose grey level is 50 + x. Points: 0 = (40, 100),
    // 1 = (81, 100), 60 = (60, 301), the others (60, 200). FaceBox: x 27 .. 92,
    // y 60 .. 310; d = 185: x -65 .. 184, odd at the border: x1 = -66; shifted
    // to 0 .. 250, then -131 .. 119; step 7: k = -65: x -66 .. 184. Crop
    // x -66 .. 185 (pad 0.195), width 252: 66 columns repeat column 0 on the
    // left and 66 repeat column 119 on the right; ratio 256.4 / 252.
    IntPoints points{};
    for (int k = 0; k < kFeaturePointCount; ++k) {
        points[2 * k] = 60;
        points[2 * k + 1] = 200;
    }
    points[0] = 40, points[1] = 100, points[2] = 81, points[3] = 100, points[120] = 60, points[121] = 301;
    const Picture photo = greyPicture(120, 400, [](int32_t x, int32_t) { return 50 + x; });
    const Extraction result = extractChecked(photo, points, 256, 256);
    expectLevelFramePoints(result.framePoints, points, -66, 60, 256.4 / 252.0);
    // 66 columns of overhang scale to 67.2 frame columns on each side; the
    // resize blends only across the seams.
    const double ratio = 256.4 / 252.0;
    for (int32_t y = 0; y < 256; y += 15) {
        for (int32_t x = 0; x < static_cast<int32_t>(66 * ratio) - 1; ++x) {
            EXPECT_EQ(result.frame.at(x, y)[0], 50) << x << ", " << y;
            EXPECT_EQ(result.frame.at(255 - x, y)[0], 169) << 255 - x << ", " << y;
        }
        // Inside the photo the levels climb again.
        EXPECT_GT(result.frame.at(static_cast<int32_t>(70 * ratio), y)[0], 50);
        EXPECT_LT(result.frame.at(255 - static_cast<int32_t>(70 * ratio), y)[0], 169);
    }
}

TEST(ExtractFrame, SquareTallerThanThePhotoRepeatsTheTopRowOnly) {
    // Photo 400 x 120 whose grey level is 50 + y. Points: 0 = (100, 40),
    // 1 = (301, 40), 60 = (200, 61), the others (200, 60). FaceBox: x 39 .. 360,
    // y 35 .. 61; d = 295: y -112 .. 208, odd at the border: y1 = -113; shifted
    // to 0 .. 321, then -202 .. 119. Crop x 39 .. 361 (pad 0.251), width 323,
    // rows -202 .. 119: 202 rows repeat row 0, none repeat row 119.
    IntPoints points{};
    for (int k = 0; k < kFeaturePointCount; ++k) {
        points[2 * k] = 200;
        points[2 * k + 1] = 60;
    }
    points[0] = 100, points[1] = 40, points[2] = 301, points[3] = 40, points[120] = 200, points[121] = 61;
    const Picture photo = greyPicture(kPhotoSide, 120, [](int32_t, int32_t y) { return 50 + y; });
    const Extraction result = extractChecked(photo, points, 256, 256);
    const double ratio = 256.4 / 323.0;
    expectLevelFramePoints(result.framePoints, points, 39, -202, ratio);
    for (int32_t x = 0; x < 256; x += 15) {
        // 202 rows of overhang shrink to 160.3 frame rows.
        for (int32_t y = 0; y < static_cast<int32_t>(202 * ratio) - 1; ++y) {
            EXPECT_EQ(result.frame.at(x, y)[0], 50) << x << ", " << y;
        }
        // The bottom row shows photo row 119 and the row above it is darker:
        // no repeated rows at the bottom.
        EXPECT_EQ(result.frame.at(x, 255)[0], 169) << x;
        EXPECT_LT(result.frame.at(x, 254)[0], 169) << x;
    }
}

TEST(ExtractFrame, CallsTheImagingLibraryInThePartsOrder) {
    const IntPoints points = facePoints(200, 200);
    const ImageHandle photo = loadPicture(facePhoto(kPhotoSide, kPhotoSide, points));
    TGrid grid = gridOf(points);
    TGrid framePoints;
    ImageHandle frame = -1;
    callLog().calls.clear();
    callLog().recording = true;
    extractFrame(photo, grid, &frame, framePoints, 256, 256);
    callLog().recording = false;
    const std::vector<ImagingCall> calls = callLog().calls;
    const std::vector<std::string> expectedNames = {
        "GetImageWidth",    "GetImageHeight",  "CreateEmptyImage", "CopyImage",
        "RotateImageCenter", "CreateEmptyImage", "CreateEmptyImage", "CreateEmptyImage",
        "CopyRectReplicateBorder", "GetImageWidth", "ResizeImage",  "FreeImage",
        "CopyRectReplicateBorder", "FreeImage",    "CopyImage",        "FreeImage"};
    ASSERT_EQ(calls.size(), expectedNames.size());
    for (std::size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i].name, expectedNames[i]) << "call " << i;

    const ImageHandle saved = calls[2].handles.at(0);
    const ImageHandle crop = calls[5].handles.at(0);
    const ImageHandle resized = calls[6].handles.at(0);
    EXPECT_EQ(calls[7].handles.at(0), frame);
    EXPECT_EQ(calls[0].handles, std::vector<ImageHandle>{photo});
    EXPECT_EQ(calls[1].handles, std::vector<ImageHandle>{photo});
    EXPECT_EQ(calls[3].handles, (std::vector<ImageHandle>{photo, saved}));
    // Rotation of the saved copy into the photo by -0 degrees about
    // ((150 + 250) / 2, 170).
    EXPECT_EQ(calls[4].handles, (std::vector<ImageHandle>{saved, photo}));
    EXPECT_EQ(calls[4].reals, (std::vector<double>{0.0, 200.0, 170.0}));
    EXPECT_EQ(calls[8].handles, (std::vector<ImageHandle>{photo, crop}));
    EXPECT_EQ(calls[8].integers, (std::vector<int32_t>{103, 116, 297, 309}));
    EXPECT_EQ(calls[9].handles, std::vector<ImageHandle>{crop});
    EXPECT_EQ(calls[10].handles, (std::vector<ImageHandle>{crop, resized}));
    EXPECT_EQ(calls[10].reals, std::vector<double>{256.4 / 195.0});
    EXPECT_EQ(calls[11].handles, std::vector<ImageHandle>{crop});
    EXPECT_EQ(calls[12].handles, (std::vector<ImageHandle>{resized, frame}));
    EXPECT_EQ(calls[12].integers, (std::vector<int32_t>{0, 0, 255, 255}));
    EXPECT_EQ(calls[13].handles, std::vector<ImageHandle>{resized});
    EXPECT_EQ(calls[14].handles, (std::vector<ImageHandle>{saved, photo}));
    EXPECT_EQ(calls[15].handles, std::vector<ImageHandle>{saved});
    TAVO_FreeImage(frame);
    TAVO_FreeImage(photo);
}

TEST(ExtractFrame, RotatesThePhotoByMinusTheRollAngleInDegrees) {
    // Step 2: angle = atan2f(dy, dx) * 180 / 3.1415926 with points 0 and 1 of
    // the +20 degree face; the photo turns by -angle about their midpoint.
    const IntPoints points = facePoints(200, 200, 20.0);
    const ImageHandle photo = loadPicture(facePhoto(kPhotoSide, kPhotoSide, points));
    TGrid grid = gridOf(points);
    TGrid framePoints;
    ImageHandle frame = -1;
    callLog().calls.clear();
    callLog().recording = true;
    extractFrame(photo, grid, &frame, framePoints, 256, 256);
    callLog().recording = false;
    ASSERT_GE(callLog().calls.size(), 5u);
    const ImagingCall rotation = callLog().calls[4];
    ASSERT_EQ(rotation.name, "RotateImageCenter");
    const double dx = points[2] - points[0], dy = points[3] - points[1];
    EXPECT_NEAR(rotation.reals.at(0), -std::atan2(dy, dx) * 180.0 / kPi, 1e-4);
    EXPECT_EQ(rotation.reals.at(1), (points[0] + points[2]) * 0.5);
    EXPECT_EQ(rotation.reals.at(2), (points[1] + points[3]) * 0.5);
    TAVO_FreeImage(frame);
    TAVO_FreeImage(photo);
}

#ifndef NDEBUG
TEST(ExtractFrameDeathTest, FewerThanTwoPointsFailsAnAssertion) {
    const ImageHandle photo = loadPicture(greyPicture(10, 10, [](int32_t, int32_t) { return 1; }));
    TGrid onePoint(std::vector<TPointf>{{1.0f, 1.0f}});
    TGrid framePoints;
    ImageHandle frame = -1;
    EXPECT_DEATH(extractFrame(photo, onePoint, &frame, framePoints, 8, 8), "points 0 and 1");
    TAVO_FreeImage(photo);
}
#endif

// ---- TAVO_ExtractFaceFrame ------------------------------------------------------

TEST(ExtractFaceFrame, WritesANewFrameAndItsPointsAndReturnsZero) {
    const IntPoints points = facePoints(200, 200);
    const Picture photoPicture = facePhoto(kPhotoSide, kPhotoSide, points);
    const ImageHandle photo = loadPicture(photoPicture);
    ImageHandle frame = -1;
    IntPoints framePoints{};
    ASSERT_EQ(TAVO_ExtractFaceFrame(photo, points.data(), &frame, framePoints.data(), 256, 256), 0);
    EXPECT_NE(frame, photo);
    const Picture framePicture = readPicture(frame);
    EXPECT_EQ(framePicture.width, 256);
    EXPECT_EQ(framePicture.height, 256);
    // Step 3: the float frame points of the level face, truncated.
    const float ratio = static_cast<float>(256.4 / 195.0);
    for (int k = 0; k < kFeaturePointCount; ++k) {
        EXPECT_EQ(framePoints[2 * k], static_cast<int32_t>(static_cast<float>(points[2 * k] - 103) * ratio));
        EXPECT_EQ(framePoints[2 * k + 1], static_cast<int32_t>(static_cast<float>(points[2 * k + 1] - 116) * ratio));
    }
    EXPECT_TRUE(readPicture(photo).rgb == photoPicture.rgb);

    // A second call hands out another new image.
    ImageHandle secondFrame = -1;
    ASSERT_EQ(TAVO_ExtractFaceFrame(photo, points.data(), &secondFrame, framePoints.data(), 256, 256), 0);
    EXPECT_NE(secondFrame, frame);
    EXPECT_NE(secondFrame, photo);
    EXPECT_EQ(TAVO_FreeImage(secondFrame), 0);
    EXPECT_EQ(TAVO_FreeImage(frame), 0);
    EXPECT_EQ(TAVO_FreeImage(photo), 0);
}

TEST(ExtractFaceFrame, FramePointsAreTruncatedTowardZero) {
    // Point 0 of the level face: (150 - 103) * 256.4 / 195 = 61.799 in the
    // frame; it is reported as 61, not rounded to 62. Its y: 54 * 1.3149 =
    // 71.003 -> 71.
    const IntPoints points = facePoints(200, 200);
    const ImageHandle photo = loadPicture(facePhoto(kPhotoSide, kPhotoSide, points));
    TGrid grid = gridOf(points);
    TGrid floatPoints;
    ImageHandle internalFrame = -1;
    extractFrame(photo, grid, &internalFrame, floatPoints, 256, 256);
    EXPECT_NEAR(floatPoints.points[0].x, 61.799, 1e-3);
    ImageHandle frame = -1;
    IntPoints framePoints{};
    ASSERT_EQ(TAVO_ExtractFaceFrame(photo, points.data(), &frame, framePoints.data(), 256, 256), 0);
    EXPECT_EQ(framePoints[0], 61);
    EXPECT_EQ(framePoints[1], 71);
    TAVO_FreeImage(frame);
    TAVO_FreeImage(internalFrame);
    TAVO_FreeImage(photo);
}

// One invalid call: returns -1, creates no image and writes nothing.
void expectRejected(ImageHandle photo, const int32_t *points, bool withFrame, bool withFramePoints,
                    int32_t width, int32_t height) {
    const ImageHandle nextBefore = nextFreeHandle();
    ImageHandle frame = 12345;
    IntPoints framePoints;
    framePoints.fill(-777);
    EXPECT_EQ(TAVO_ExtractFaceFrame(photo, points, withFrame ? &frame : nullptr,
                                    withFramePoints ? framePoints.data() : nullptr, width, height),
              TAVO_ERR_GENERAL);
    EXPECT_EQ(nextFreeHandle(), nextBefore) << "an image was left behind";
    EXPECT_EQ(frame, 12345);
    EXPECT_TRUE(std::all_of(framePoints.begin(), framePoints.end(), [](int32_t v) { return v == -777; }));
}

TEST(ExtractFaceFrame, NullPointersGiveMinusOneAndCreateNothing) {
    const IntPoints points = facePoints(200, 200);
    const ImageHandle photo = loadPicture(facePhoto(kPhotoSide, kPhotoSide, points));
    expectRejected(photo, nullptr, true, true, 256, 256);
    expectRejected(photo, points.data(), false, true, 256, 256);
    expectRejected(photo, points.data(), true, false, 256, 256);
    TAVO_FreeImage(photo);
}

TEST(ExtractFaceFrame, InvalidOrEmptyPhotoGivesMinusOneAndCreatesNothing) {
    const IntPoints points = facePoints(200, 200);
    expectRejected(-1, points.data(), true, true, 256, 256);
    expectRejected(987654, points.data(), true, true, 256, 256);
    ImageHandle freed = -1;
    ASSERT_EQ(TAVO_CreateEmptyImage(&freed), 0);
    // An empty image has no face to frame.
    expectRejected(freed, points.data(), true, true, 256, 256);
    ASSERT_EQ(TAVO_FreeImage(freed), 0);
    expectRejected(freed, points.data(), true, true, 256, 256);
}

TEST(ExtractFaceFrame, SizeOutsideOneToMaxSideGivesMinusOneAndCreatesNothing) {
    const IntPoints points = facePoints(200, 200);
    const ImageHandle photo = loadPicture(facePhoto(kPhotoSide, kPhotoSide, points));
    for (const auto &size : std::vector<std::array<int32_t, 2>>{{0, 256},
                                                                {256, 0},
                                                                {-5, 256},
                                                                {256, INT32_MIN},
                                                                {TAVOIMG_MAX_SIDE + 1, 256},
                                                                {256, TAVOIMG_MAX_SIDE + 1},
                                                                {TAVOIMG_MAX_SIDE, TAVOIMG_MAX_SIDE}}) {
        SCOPED_TRACE(std::to_string(size[0]) + " x " + std::to_string(size[1]));
        expectRejected(photo, points.data(), true, true, size[0], size[1]);
    }
    TAVO_FreeImage(photo);
}

TEST(ExtractFaceFrame, FrameBeyondTheImagingLibrarysLimitsGivesMinusOneAndLeavesThePhoto) {
    // 2000 x 1: step 7 widens the box of side 193 by (2000.4 - 1) x 193 / 2 on
    // each side, a crop of about 386000 columns that the imaging library
    // refuses; the frame cannot be made.
    const IntPoints points = facePoints(200, 200);
    const Picture photoPicture = facePhoto(kPhotoSide, kPhotoSide, points);
    const ImageHandle photo = loadPicture(photoPicture);
    expectRejected(photo, points.data(), true, true, 2000, 1);
    EXPECT_TRUE(readPicture(photo).rgb == photoPicture.rgb);
    TAVO_FreeImage(photo);
}

TEST(ExtractFaceFrame, PointsAtTheInt32ExtremesNeitherCrashNorLeaveAnything) {
    // Hostile points: in the first set points 0 and 1 are opposite corners of
    // the int32 plane; in the second all points are INT32_MAX, so the centre
    // (2^31 in float) lies beyond the int32 range. The rotated points clamp to
    // the photo; the call gives a frame or -1 and leaves the photo as it was.
    IntPoints mixed{};
    IntPoints extreme{};
    for (int k = 0; k < kFeaturePointCount; ++k) {
        mixed[2 * k] = (k % 2 == 0) ? INT32_MAX : INT32_MIN;
        mixed[2 * k + 1] = (k % 3 == 0) ? INT32_MAX : INT32_MIN;
        extreme[2 * k] = extreme[2 * k + 1] = INT32_MAX;
    }
    const Picture photoPicture = facePhoto(kPhotoSide, kPhotoSide, facePoints(200, 200));
    const ImageHandle photo = loadPicture(photoPicture);
    for (const IntPoints &points : {mixed, extreme}) {
        const ImageHandle nextBefore = nextFreeHandle();
        ImageHandle frame = -1;
        IntPoints framePoints{};
        const int32_t status = TAVO_ExtractFaceFrame(photo, points.data(), &frame, framePoints.data(), 64, 64);
        if (status == 0) {
            EXPECT_EQ(readPicture(frame).width, 64);
            for (const int32_t value : framePoints) {
                EXPECT_GE(value, 0);
                EXPECT_LE(value, 64);
            }
            TAVO_FreeImage(frame);
        } else {
            EXPECT_EQ(status, TAVO_ERR_GENERAL);
        }
        EXPECT_EQ(nextFreeHandle(), nextBefore);
        EXPECT_TRUE(readPicture(photo).rgb == photoPicture.rgb);
    }
    TAVO_FreeImage(photo);
}

}  // namespace
}  // namespace kelmo
