// Geometric operations of tavoimage against values computed here from the
// contract in include/tavoimage.h: filtered values exactly, in double
// precision, which the library's bytes must round (either way at a tie, its
// sums being in float); moved pixels by their coordinates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <tuple>
#include <vector>

#include "tavoimage/test_image.h"

#include <omp.h>

using namespace kelmo_test;

namespace {

struct Pixels {
    int width, height, channels;
    std::vector<uint8_t> bytes = randomBytes(std::size_t(width * height * channels), uint32_t(width * 7 + height));
    int at(int x, int y, int c) const { return bytes[std::size_t((y * width + x) * channels + c)]; }
};

// Expects every byte to be the rounded value of exact(x, y, channel) (moved
// pixels: their exact value).
void expectRounded(const TestImage &image, int channels, const std::function<double(int, int, int)> &exact) {
    const std::vector<uint8_t> pixels = image.pixels(channels);
    for (int y = 0, k = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            for (int c = 0; c < channels; ++c, ++k) ASSERT_LE(std::fabs(pixels[std::size_t(k)] - exact(x, y, c)), 0.5001) << x << "," << y;
        }
    }
}

// Weight of source pixel j in destination pixel i along one axis: the area
// covered when the axis shrinks, linear interpolation between aligned pixel
// centres when it grows, a copy when it keeps its size.
double weight(int source, int destination, int i, int j) {
    const double scale = double(source) / destination;
    if (destination < source) return std::max(0.0, std::min(j + 1.0, (i + 1) * scale) - std::max(double(j), i * scale)) / scale;
    const double position = std::clamp((i + 0.5) * scale - 0.5, 0.0, source - 1.0);
    return std::max(0.0, 1.0 - std::fabs(position - j));
}

TEST(ResizeImage, ShrinksByAreaAndEnlargesLinearlyEachAxisOnItsOwn) {
    const struct { int width, height; double ratio; } cases[] = {
        {4, 4, 0.5}, {3, 3, 2.0 / 3.0}, {4, 2, 0.75}, {2, 3, 2.0}, {3, 3, 4.0 / 3.0},
        {10, 7, 0.25}, {10, 10, 0.1}, {7, 5, 1.6}, {5, 4, 1.0}, {10, 7, 1e-300},
        {720, 400, 0.025}};  // rows filtered in bands, on threads
    int k = 0;
    for (const auto &c : cases) {
        for (int channels : {1, 3, 4}) {
            const Pixels source{c.width, c.height, channels};
            const TestImage image(source.bytes, c.width, c.height, channels), other;
            const TestImage &result = ++k % 2 ? other : image;  // the destination may be the source
            ASSERT_EQ(TAVO_ResizeImage(image, c.ratio, result), TAVOIMG_OK);
            // The rounded product, halves up, at least one pixel.
            const int width = std::max(1, int(std::floor(c.width * c.ratio + 0.5)));
            const int height = std::max(1, int(std::floor(c.height * c.ratio + 0.5)));
            ASSERT_EQ(result.size(), std::pair(width, height)) << k;
            expectRounded(result, channels, [&](int x, int y, int ch) {
                double sum = 0.0;
                for (int j = 0; j < c.height; ++j) {
                    const double rowWeight = weight(c.height, height, y, j);
                    for (int i = 0; i < c.width && rowWeight != 0.0; ++i) sum += rowWeight * weight(c.width, width, x, i) * source.at(i, j, ch);
                }
                return sum;
            });
        }
    }
    const TestImage empty, result({1, 2, 3}, 1, 1, 3);
    ASSERT_EQ(TAVO_ResizeImage(empty, 2.0, result), TAVOIMG_OK);
    EXPECT_EQ(result.size(), std::pair(0, 0));
}

TEST(RotateImageCenter, SamplesTheInverseTurnBilinearlyAndIsBlackOutside) {
    const struct { int width, height, channels; double angle, centreX, centreY; } cases[] = {
        {5, 5, 1, 90, 2, 2}, {5, 5, 4, 450, 2, 2}, {6, 4, 3, 180, 2.5, 1.5}, {7, 5, 3, -720, 2.3, 1.7},
        {9, 7, 3, 30, 4.2, 3.1}, {8, 6, 1, -45, 3, 2}, {4, 4, 4, 45, 0, 0}, {6, 5, 4, -90, 1, 3}, {3, 2, 4, 90, 1e300, -1e300}};
    for (const auto &c : cases) {
        const Pixels source{c.width, c.height, c.channels};
        const TestImage image(source.bytes, c.width, c.height, c.channels);
        ASSERT_EQ(TAVO_RotateImageCenter(image, c.angle, c.centreX, c.centreY, image), TAVOIMG_OK);
        // Destination offset (dx, dy) from the centre shows the source at
        // (dx cos + dy sin, -dx sin + dy cos): clockwise on screen, y down.
        const double cosine = std::round(std::cos(c.angle * std::numbers::pi / 180) * 1e12) / 1e12;
        const double sine = std::round(std::sin(c.angle * std::numbers::pi / 180) * 1e12) / 1e12;
        expectRounded(image, c.channels, [&](int x, int y, int ch) {
            const double sx = c.centreX + (x - c.centreX) * cosine + (y - c.centreY) * sine;
            const double sy = c.centreY - (x - c.centreX) * sine + (y - c.centreY) * cosine;
            if (sx < -1e-6 || sy < -1e-6 || sx > c.width - 1 + 1e-6 || sy > c.height - 1 + 1e-6) return 0.0;
            double sum = 0.0;
            for (int j = 0; j < c.height; ++j) {
                for (int i = 0; i < c.width; ++i) sum += std::max(0.0, 1 - std::fabs(sx - i)) * std::max(0.0, 1 - std::fabs(sy - j)) * source.at(i, j, ch);
            }
            return sum;
        });
    }
    // The sense of the turn, spelled out: at +90 degrees the pixel right of
    // the centre moves below it.
    const TestImage lit({0, 0, 0, 0, 0, 200, 0, 0, 0}, 3, 3, 1);
    ASSERT_EQ(TAVO_RotateImageCenter(lit, 90.0, 1.0, 1.0, lit), TAVOIMG_OK);
    EXPECT_EQ(lit.pixels(1), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 200, 0}));
}

// The reference is the whole rotation at the plain kernel level (one pixel
// at a time) on one thread, then the crop; every level's crop, on two
// threads, must give its bytes. The larger cases give each level whole
// blocks of lanes in rows that also have border pixels; the largest is
// turned in bands, with rows below the image repeated across bands.
TEST(RotateCropImage, IsTheRectangleOfTheWholeRotationWithItsBorderRepeatedAtEveryKernelLevel) {
    const struct { int width, height, channels; double angle; int x1, y1, x2, y2; } cases[] = {
        {9, 7, 3, 30, 2, 1, 6, 5}, {9, 7, 1, -12.5, -4, -3, 3, 2}, {8, 6, 4, 77, 5, 3, 12, 9}, {5, 8, 3, 200, -2, 6, 7, 11},
        {6, 6, 3, 0, -1, 2, 7, 3}, {6, 6, 4, 90, 2, -5, 2, 8}, {7, 5, 1, 45, 9, -4, 12, -2}, {4, 4, 3, -360, 0, 0, 3, 3},
        {61, 43, 3, 12, -5, 3, 70, 40}, {50, 37, 1, -33, 4, -6, 47, 30}, {47, 52, 4, 171, -3, -2, 44, 55},
        {600, 420, 3, 9.5, -20, -40, 579, 470}};
    const int threads = omp_get_max_threads();
    for (const auto &c : cases) {
        const Pixels source{c.width, c.height, c.channels};
        const TestImage image(source.bytes, c.width, c.height, c.channels), whole;
        ASSERT_EQ(TAVO_SetImageKernelLevel(0), 0);
        omp_set_num_threads(1);
        ASSERT_EQ(TAVO_RotateImageCenter(image, c.angle, c.width * 0.43, c.height * 0.57, whole), TAVOIMG_OK);
        ASSERT_EQ(TAVO_CopyRectReplicateBorder(whole, c.x1, c.y1, c.x2, c.y2, whole), TAVOIMG_OK);
        omp_set_num_threads(2);
        for (int level = 0; level <= 3; ++level) {
            const TestImage copy(source.bytes, c.width, c.height, c.channels);  // the destination may be the source
            const int32_t set = TAVO_SetImageKernelLevel(level);
            ASSERT_EQ(TAVO_RotateCropImage(copy, c.angle, c.width * 0.43, c.height * 0.57, c.x1, c.y1, c.x2, c.y2, copy),
                      TAVOIMG_OK);
            EXPECT_EQ(copy.size(), whole.size());
            EXPECT_EQ(copy.pixels(c.channels), whole.pixels(c.channels)) << c.angle << " at level " << set;
        }
    }
    omp_set_num_threads(threads);
    EXPECT_EQ(TAVO_SetImageKernelLevel(-1), TAVOIMG_ERR_ARGUMENT);
    EXPECT_EQ(TAVO_SetImageKernelLevel(4), TAVOIMG_ERR_ARGUMENT);
    const TestImage image({1, 2, 3, 4}, 2, 2, 1), empty;
    for (const auto &[source, angle, x2, status] : std::vector<std::tuple<ImageHandle, double, int, int32_t>>{
             {image, NAN, 1, TAVOIMG_ERR_ARGUMENT}, {image, 10.0, -1, TAVOIMG_ERR_ARGUMENT},
             {empty, 10.0, 1, TAVOIMG_ERR_ARGUMENT}, {image, 10.0, 40000, TAVOIMG_ERR_MEMORY}, {-1, 10.0, 1, TAVOIMG_ERR_HANDLE}}) {
        EXPECT_EQ(TAVO_RotateCropImage(source, angle, 0.5, 0.5, 0, 0, x2, 1, image), status) << x2;
        EXPECT_EQ(image.pixels(1), (std::vector<uint8_t>{1, 2, 3, 4}));
    }
}

TEST(MirrorImage, FlagZeroFlipsRowsAndFlagOneFlipsColumns) {
    for (int channels : {1, 3, 4}) {
        for (int size : {3, 4}) {
            const Pixels source{size, size + 1, channels};
            const TestImage rows(source.bytes, size, size + 1, channels), columns(source.bytes, size, size + 1, channels);
            ASSERT_EQ(TAVO_MirrorImage(rows, 0), TAVOIMG_OK);
            ASSERT_EQ(TAVO_MirrorImage(columns, 1), TAVOIMG_OK);
            expectRounded(rows, channels, [&](int x, int y, int c) { return source.at(x, size - y, c); });
            expectRounded(columns, channels, [&](int x, int y, int c) { return source.at(size - 1 - x, y, c); });
        }
    }
    EXPECT_EQ(TAVO_MirrorImage(TestImage(), 1), TAVOIMG_OK);
}

TEST(CopyRectReplicateBorder, CopiesTheRectangleAndRepeatsTheNearestBorderPixelOutside) {
    const int rectangles[][4] = {{1, 1, 2, 2}, {3, 2, 3, 2}, {-3, 0, 1, 2}, {2, 0, 8, 2}, {0, -2, 3, 1}, {1, 1, 2, 6},
                                 {-2, -3, 5, 4}, {10, -9, 11, -8}};
    int k = 0;
    for (const auto &[x1, y1, x2, y2] : rectangles) {
        const Pixels source{4, 3, ++k % 3 == 0 ? 1 : k % 3 == 1 ? 3 : 4};
        const TestImage image(source.bytes, 4, 3, source.channels), other;
        const TestImage &result = k % 2 ? other : image;  // the destination may be the source
        ASSERT_EQ(TAVO_CopyRectReplicateBorder(image, x1, y1, x2, y2, result), TAVOIMG_OK);
        EXPECT_EQ(result.size(), std::pair(x2 - x1 + 1, y2 - y1 + 1));
        expectRounded(result, source.channels,
                      [&](int x, int y, int c) { return source.at(std::clamp(x1 + x, 0, 3), std::clamp(y1 + y, 0, 2), c); });
    }
}

}  // namespace
