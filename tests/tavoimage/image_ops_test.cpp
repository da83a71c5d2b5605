// Geometric operations of tavoimage (Part 1.2: resize, rotation about a
// centre, mirror, border-replicating crop), against values computed here
// independently from the contract in include/tavoimage.h.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

#include "tavoimage.h"
#include "tavoimage/test_support.h"

using namespace tavoimage_test;

namespace {

// A packed image with its size and channel count, for expected values.
struct Pixels {
    int width;
    int height;
    int channels;
    std::vector<uint8_t> bytes;
    int at(int x, int y, int c) const { return bytes[static_cast<std::size_t>((y * width + x) * channels + c)]; }
};

Pixels randomImage(int width, int height, int channels, uint32_t seed) {
    return {width, height, channels, randomPixels(static_cast<std::size_t>(width * height * channels), seed)};
}

ImageHandle makeImageOf(const Pixels &pixels) {
    return makeImage(pixels.bytes, pixels.width, pixels.height, pixels.channels);
}

// Reads an image back in the layout of `channels`.
std::vector<uint8_t> pixelsIn(ImageHandle image, int channels) { return pixelsOf(image, modeOfChannels(channels)); }

uint8_t roundHalfUp(double value) { return static_cast<uint8_t>(std::floor(value + 0.5)); }

// Bilinear enlargement with pixel centres aligned, written out in the
// product form: destination (X, Y) samples the source at
// ((X + 0.5) w / W - 0.5, (Y + 0.5) h / H - 0.5), clamped to the centres.
std::vector<uint8_t> expectedEnlargement(const Pixels &source, int width, int height) {
    std::vector<uint8_t> result;
    for (int y = 0; y < height; ++y) {
        double sy = (y + 0.5) * source.height / height - 0.5;
        sy = std::fmin(std::fmax(sy, 0.0), source.height - 1.0);
        const int y0 = static_cast<int>(sy);
        const int y1 = std::min(y0 + 1, source.height - 1);
        const double fy = sy - y0;
        for (int x = 0; x < width; ++x) {
            double sx = (x + 0.5) * source.width / width - 0.5;
            sx = std::fmin(std::fmax(sx, 0.0), source.width - 1.0);
            const int x0 = static_cast<int>(sx);
            const int x1 = std::min(x0 + 1, source.width - 1);
            const double fx = sx - x0;
            for (int c = 0; c < source.channels; ++c) {
                const double value = (1 - fx) * (1 - fy) * source.at(x0, y0, c) + fx * (1 - fy) * source.at(x1, y0, c) +
                                     (1 - fx) * fy * source.at(x0, y1, c) + fx * fy * source.at(x1, y1, c);
                result.push_back(roundHalfUp(value));
            }
        }
    }
    return result;
}

// Expects `image` to be width x height with the given pixels.
void expectImage(ImageHandle image, int width, int height, int channels, const std::vector<uint8_t> &expected) {
    EXPECT_EQ(widthOf(image), width);
    EXPECT_EQ(heightOf(image), height);
    EXPECT_EQ(pixelsIn(image, channels), expected);
}

// ---- resize ----------------------------------------------------------------

TEST(ResizeImage, HalvingAveragesTwoByTwoBlocks) {
    for (int channels : {1, 3, 4}) {
        const Pixels source = randomImage(4, 4, channels, 100 + channels);
        const ImageHandle image = makeImageOf(source);
        const ImageHandle result = makeEmptyImage();
        ASSERT_EQ(TAVO_ResizeImage(image, 0.5, result), TAVOIMG_OK);
        std::vector<uint8_t> expected;
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 2; ++x) {
                for (int c = 0; c < channels; ++c) {
                    const int sum = source.at(2 * x, 2 * y, c) + source.at(2 * x + 1, 2 * y, c) +
                                    source.at(2 * x, 2 * y + 1, c) + source.at(2 * x + 1, 2 * y + 1, c);
                    expected.push_back(static_cast<uint8_t>((sum + 2) / 4));  // mean, halves up
                }
            }
        }
        expectImage(result, 2, 2, channels, expected);
        EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
        EXPECT_EQ(TAVO_FreeImage(result), TAVOIMG_OK);
    }
}

TEST(ResizeImage, ShrinkingWeighsPartlyCoveredPixelsByTheirCoverage) {
    // 3 -> 2 per axis: destination pixel 0 covers source [0, 1.5), so pixel 0
    // weighs 2/3 and pixel 1 weighs 1/3; destination 1 mirrors that.
    const int weights[2][3] = {{2, 1, 0}, {0, 1, 2}};  // in thirds
    for (int channels : {1, 3, 4}) {
        const Pixels source = randomImage(3, 3, channels, 200 + channels);
        const ImageHandle image = makeImageOf(source);
        ASSERT_EQ(TAVO_ResizeImage(image, 2.0 / 3.0, image), TAVOIMG_OK);
        std::vector<uint8_t> expected;
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 2; ++x) {
                for (int c = 0; c < channels; ++c) {
                    int ninths = 0;
                    for (int j = 0; j < 3; ++j) {
                        for (int i = 0; i < 3; ++i) ninths += weights[y][j] * weights[x][i] * source.at(i, j, c);
                    }
                    expected.push_back(static_cast<uint8_t>((2 * ninths + 9) / 18));  // ninths / 9, halves up
                }
            }
        }
        expectImage(image, 2, 2, channels, expected);
        EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
    }
}

TEST(ResizeImage, EachAxisChoosesItsOwnFilter) {
    // 4 x 2 by 0.75 is 3 x 2 (1.5 rounds to 2): the width shrinks by area
    // (destination 0 covers [0, 4/3): weights 3/4 and 1/4; destination 1
    // covers [4/3, 8/3): 1/2 and 1/2), the height is copied.
    const Pixels source = randomImage(4, 2, 1, 300);
    const ImageHandle image = makeImageOf(source);
    const ImageHandle result = makeEmptyImage();
    ASSERT_EQ(TAVO_ResizeImage(image, 0.75, result), TAVOIMG_OK);
    std::vector<uint8_t> expected;
    for (int y = 0; y < 2; ++y) {
        const int a = source.at(0, y, 0), b = source.at(1, y, 0), c = source.at(2, y, 0), d = source.at(3, y, 0);
        expected.push_back(static_cast<uint8_t>((3 * a + b + 2) / 4));
        expected.push_back(static_cast<uint8_t>((b + c + 1) / 2));
        expected.push_back(static_cast<uint8_t>((c + 3 * d + 2) / 4));
    }
    expectImage(result, 3, 2, 1, expected);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
    EXPECT_EQ(TAVO_FreeImage(result), TAVOIMG_OK);
}

TEST(ResizeImage, DoublingInterpolatesBilinearlyWithCentresAligned) {
    for (int channels : {1, 3, 4}) {
        const Pixels source = randomImage(2, 3, channels, 400 + channels);
        const ImageHandle image = makeImageOf(source);
        const ImageHandle result = makeEmptyImage();
        ASSERT_EQ(TAVO_ResizeImage(image, 2.0, result), TAVOIMG_OK);
        expectImage(result, 4, 6, channels, expectedEnlargement(source, 4, 6));
        EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
        EXPECT_EQ(TAVO_FreeImage(result), TAVOIMG_OK);
    }
}

TEST(ResizeImage, EnlargingByFourThirdsInterpolatesBilinearly) {
    // 3 -> 4: sample positions -0.125 (clamped to 0), 0.625, 1.375, 2.125
    // (clamped to 2).
    const Pixels source = randomImage(3, 3, 3, 500);
    const ImageHandle image = makeImageOf(source);
    ASSERT_EQ(TAVO_ResizeImage(image, 4.0 / 3.0, image), TAVOIMG_OK);
    expectImage(image, 4, 4, 3, expectedEnlargement(source, 4, 4));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(ResizeImage, NewSizeIsTheRoundedProductAtLeastOnePixel) {
    const ImageHandle image = makeImageOf(randomImage(10, 7, 3, 600));
    const ImageHandle result = makeEmptyImage();
    ASSERT_EQ(TAVO_ResizeImage(image, 0.25, result), TAVOIMG_OK);  // 2.5 x 1.75
    EXPECT_EQ(widthOf(result), 3);
    EXPECT_EQ(heightOf(result), 2);
    ASSERT_EQ(TAVO_ResizeImage(image, 1e-300, result), TAVOIMG_OK);
    EXPECT_EQ(widthOf(result), 1);
    EXPECT_EQ(heightOf(result), 1);
    ASSERT_EQ(TAVO_ResizeImage(image, 1.0, result), TAVOIMG_OK);
    expectImage(result, 10, 7, 3, pixelsIn(image, 3));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
    EXPECT_EQ(TAVO_FreeImage(result), TAVOIMG_OK);
}

TEST(ResizeImage, ShrinkingToOnePixelGivesTheMean) {
    Pixels source{10, 10, 1, {}};
    int sum = 0;
    for (int i = 0; i < 100; ++i) {
        source.bytes.push_back(static_cast<uint8_t>((i * 37) % 251));
        sum += source.bytes.back();
    }
    const double mean = sum / 100.0;
    ASSERT_GT(std::fabs(mean - std::floor(mean) - 0.5), 0.01);  // no tie to break
    const ImageHandle image = makeImageOf(source);
    ASSERT_EQ(TAVO_ResizeImage(image, 0.1, image), TAVOIMG_OK);
    expectImage(image, 1, 1, 1, {roundHalfUp(mean)});
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(ResizeImage, InvalidRatioIsRejectedAndChangesNothing) {
    const Pixels source = randomImage(4, 4, 3, 700);
    const ImageHandle image = makeImageOf(source);
    const ImageHandle destination = makeImage({1, 2, 3}, 1, 1, 3);
    for (double ratio : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                         -std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(TAVO_ResizeImage(image, ratio, destination), TAVOIMG_ERR_ARGUMENT) << ratio;
    }
    expectImage(destination, 1, 1, 3, {1, 2, 3});
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
    EXPECT_EQ(TAVO_FreeImage(destination), TAVOIMG_OK);
}

TEST(ResizeImage, SizeBeyondTheLimitsIsRefusedAndChangesNothing) {
    const Pixels source = randomImage(4, 4, 3, 701);
    const ImageHandle image = makeImageOf(source);
    for (double ratio : {1e6, 1e300, 8193.0, 2897.0}) {  // the last: 11588^2 pixels > 2^27
        EXPECT_EQ(TAVO_ResizeImage(image, ratio, image), TAVOIMG_ERR_MEMORY) << ratio;
    }
    expectImage(image, 4, 4, 3, source.bytes);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(ResizeImage, EmptySourceGivesAnEmptyImage) {
    const ImageHandle image = makeEmptyImage();
    const ImageHandle result = makeImage({1, 2, 3}, 1, 1, 3);
    ASSERT_EQ(TAVO_ResizeImage(image, 2.0, result), TAVOIMG_OK);
    EXPECT_EQ(widthOf(result), 0);
    EXPECT_EQ(heightOf(result), 0);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
    EXPECT_EQ(TAVO_FreeImage(result), TAVOIMG_OK);
}

// ---- rotation -----------------------------------------------------------------

TEST(RotateImageCenter, ZeroDegreesIsTheIdentity) {
    for (int channels : {1, 3, 4}) {
        const Pixels source = randomImage(7, 5, channels, 800 + channels);
        const ImageHandle image = makeImageOf(source);
        const ImageHandle result = makeEmptyImage();
        for (double angle : {0.0, 360.0, -720.0}) {
            ASSERT_EQ(TAVO_RotateImageCenter(image, angle, 2.3, 1.7, result), TAVOIMG_OK);
            expectImage(result, 7, 5, channels, source.bytes);
        }
        EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
        EXPECT_EQ(TAVO_FreeImage(result), TAVOIMG_OK);
    }
}

TEST(RotateImageCenter, NinetyDegreesTurnsAnOddSquareClockwiseExactly) {
    // Clockwise on screen (y down): the pixel at offset (dx, dy) from the
    // centre moves to (-dy, dx); right of the centre goes below it.
    for (int channels : {1, 3, 4}) {
        const Pixels source = randomImage(5, 5, channels, 900 + channels);
        const ImageHandle image = makeImageOf(source);
        ASSERT_EQ(TAVO_RotateImageCenter(image, 90.0, 2.0, 2.0, image), TAVOIMG_OK);
        std::vector<uint8_t> expected(source.bytes.size());
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 5; ++x) {
                const int dx = x - 2, dy = y - 2;
                const int toX = 2 - dy, toY = 2 + dx;
                for (int c = 0; c < channels; ++c) {
                    expected[static_cast<std::size_t>((toY * 5 + toX) * channels + c)] =
                        static_cast<uint8_t>(source.at(x, y, c));
                }
            }
        }
        expectImage(image, 5, 5, channels, expected);
        EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
    }
}

TEST(RotateImageCenter, PixelRightOfTheCentreMovesBelowItForPositiveAngles) {
    std::vector<uint8_t> grey(9, 0);
    grey[1 * 3 + 2] = 200;  // (2, 1), right of the centre (1, 1)
    const ImageHandle image = makeImage(grey, 3, 3, 1);
    const ImageHandle result = makeEmptyImage();
    ASSERT_EQ(TAVO_RotateImageCenter(image, 90.0, 1.0, 1.0, result), TAVOIMG_OK);
    expectImage(result, 3, 3, 1, {0, 0, 0, 0, 0, 0, 0, 200, 0});  // now (1, 2)
    ASSERT_EQ(TAVO_RotateImageCenter(image, -90.0, 1.0, 1.0, result), TAVOIMG_OK);
    expectImage(result, 3, 3, 1, {0, 200, 0, 0, 0, 0, 0, 0, 0});  // now (1, 0)
    ASSERT_EQ(TAVO_RotateImageCenter(image, 450.0, 1.0, 1.0, result), TAVOIMG_OK);
    expectImage(result, 3, 3, 1, {0, 0, 0, 0, 0, 0, 0, 200, 0});
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
    EXPECT_EQ(TAVO_FreeImage(result), TAVOIMG_OK);
}

TEST(RotateImageCenter, HalfTurnAboutTheMiddleEqualsMirroringBothAxes) {
    for (int channels : {1, 3, 4}) {
        const Pixels source = randomImage(6, 4, channels, 1000 + channels);
        const ImageHandle rotated = makeImageOf(source);
        const ImageHandle mirrored = makeImageOf(source);
        ASSERT_EQ(TAVO_RotateImageCenter(rotated, 180.0, 2.5, 1.5, rotated), TAVOIMG_OK);
        ASSERT_EQ(TAVO_MirrorImage(mirrored, 0), TAVOIMG_OK);
        ASSERT_EQ(TAVO_MirrorImage(mirrored, 1), TAVOIMG_OK);
        expectImage(rotated, 6, 4, channels, pixelsIn(mirrored, channels));
        EXPECT_EQ(TAVO_FreeImage(rotated), TAVOIMG_OK);
        EXPECT_EQ(TAVO_FreeImage(mirrored), TAVOIMG_OK);
    }
}

TEST(RotateImageCenter, OutsideTheSourceIsBlackAndTransparent) {
    // All pixels (200, 150, 100, 255), turned 45 degrees about the top-left
    // pixel: destination (3, 0) shows source (2.12, -2.12), outside.
    const std::vector<uint8_t> opaque = [] {
        std::vector<uint8_t> bytes;
        for (int i = 0; i < 16; ++i) bytes.insert(bytes.end(), {200, 150, 100, 255});
        return bytes;
    }();
    const ImageHandle image = makeImage(opaque, 4, 4, 4);
    ASSERT_EQ(TAVO_RotateImageCenter(image, 45.0, 0.0, 0.0, image), TAVOIMG_OK);
    const std::vector<uint8_t> rotated = pixelsIn(image, 4);
    const std::vector<uint8_t> outside(rotated.begin() + 4 * (0 * 4 + 3), rotated.begin() + 4 * (0 * 4 + 4));
    EXPECT_EQ(outside, (std::vector<uint8_t>{0, 0, 0, 0}));
    const std::vector<uint8_t> centre(rotated.begin(), rotated.begin() + 4);
    EXPECT_EQ(centre, (std::vector<uint8_t>{200, 150, 100, 255}));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(RotateImageCenter, OtherAnglesSampleBilinearly) {
    // Independent inverse mapping: destination offset (dx, dy) reads the
    // source at (dx cos a + dy sin a, -dx sin a + dy cos a) from the centre.
    const Pixels source = randomImage(9, 7, 3, 1100);
    const ImageHandle image = makeImageOf(source);
    const double angle = 30.0, cx = 4.2, cy = 3.1;
    ASSERT_EQ(TAVO_RotateImageCenter(image, angle, cx, cy, image), TAVOIMG_OK);
    const std::vector<uint8_t> rotated = pixelsIn(image, 3);
    const double radians = angle * std::numbers::pi / 180.0;
    int compared = 0;
    for (int y = 0; y < 7; ++y) {
        for (int x = 0; x < 9; ++x) {
            const double sx = cx + (x - cx) * std::cos(radians) + (y - cy) * std::sin(radians);
            const double sy = cy - (x - cx) * std::sin(radians) + (y - cy) * std::cos(radians);
            // Positions on the border itself are left to rounding.
            const double margin = 1e-3;
            const bool inside = sx > margin && sx < 8 - margin && sy > margin && sy < 6 - margin;
            const bool outside = sx < -margin || sx > 8 + margin || sy < -margin || sy > 6 + margin;
            for (int c = 0; c < 3; ++c) {
                const int got = rotated[static_cast<std::size_t>((y * 9 + x) * 3 + c)];
                if (outside) {
                    EXPECT_EQ(got, 0) << x << "," << y;
                } else if (inside) {
                    const int x0 = static_cast<int>(sx), y0 = static_cast<int>(sy);
                    const double fx = sx - x0, fy = sy - y0;
                    const double value = (1 - fx) * (1 - fy) * source.at(x0, y0, c) + fx * (1 - fy) * source.at(x0 + 1, y0, c) +
                                         (1 - fx) * fy * source.at(x0, y0 + 1, c) + fx * fy * source.at(x0 + 1, y0 + 1, c);
                    EXPECT_NEAR(got, value, 0.5 + 1e-6) << x << "," << y << " channel " << c;
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 60);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(RotateImageCenter, NonFiniteArgumentsAreRejectedAndChangeNothing) {
    const Pixels source = randomImage(3, 3, 1, 1200);
    const ImageHandle image = makeImageOf(source);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(TAVO_RotateImageCenter(image, nan, 1.0, 1.0, image), TAVOIMG_ERR_ARGUMENT);
    EXPECT_EQ(TAVO_RotateImageCenter(image, inf, 1.0, 1.0, image), TAVOIMG_ERR_ARGUMENT);
    EXPECT_EQ(TAVO_RotateImageCenter(image, 10.0, nan, 1.0, image), TAVOIMG_ERR_ARGUMENT);
    EXPECT_EQ(TAVO_RotateImageCenter(image, 10.0, 1.0, -inf, image), TAVOIMG_ERR_ARGUMENT);
    expectImage(image, 3, 3, 1, source.bytes);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(RotateImageCenter, FarAwayCentreGivesAnAllBlackImage) {
    const ImageHandle image = makeImageOf(randomImage(3, 2, 4, 1300));
    ASSERT_EQ(TAVO_RotateImageCenter(image, 90.0, 1e300, -1e300, image), TAVOIMG_OK);
    expectImage(image, 3, 2, 4, std::vector<uint8_t>(24, 0));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

// ---- mirror -----------------------------------------------------------------

TEST(MirrorImage, FlagZeroFlipsTopToBottom) {
    for (int height : {3, 4}) {
        const Pixels source = randomImage(2, height, 3, 1400 + height);
        const ImageHandle image = makeImageOf(source);
        ASSERT_EQ(TAVO_MirrorImage(image, 0), TAVOIMG_OK);
        std::vector<uint8_t> expected;
        for (int y = height - 1; y >= 0; --y) {
            expected.insert(expected.end(), source.bytes.begin() + y * 6, source.bytes.begin() + (y + 1) * 6);
        }
        expectImage(image, 2, height, 3, expected);
        EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
    }
}

TEST(MirrorImage, FlagOneFlipsLeftToRight) {
    for (int channels : {1, 3, 4}) {
        for (int width : {3, 4}) {
            const Pixels source = randomImage(width, 2, channels, 1500 + width * channels);
            const ImageHandle image = makeImageOf(source);
            ASSERT_EQ(TAVO_MirrorImage(image, 1), TAVOIMG_OK);
            std::vector<uint8_t> expected;
            for (int y = 0; y < 2; ++y) {
                for (int x = width - 1; x >= 0; --x) {
                    for (int c = 0; c < channels; ++c) expected.push_back(static_cast<uint8_t>(source.at(x, y, c)));
                }
            }
            expectImage(image, width, 2, channels, expected);
            EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
        }
    }
}

TEST(MirrorImage, OtherFlagsAreRejectedAndChangeNothing) {
    const Pixels source = randomImage(2, 2, 1, 1600);
    const ImageHandle image = makeImageOf(source);
    EXPECT_EQ(TAVO_MirrorImage(image, 2), TAVOIMG_ERR_ARGUMENT);
    EXPECT_EQ(TAVO_MirrorImage(image, -1), TAVOIMG_ERR_ARGUMENT);
    expectImage(image, 2, 2, 1, source.bytes);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(MirrorImage, EmptyImageIsAccepted) {
    const ImageHandle image = makeEmptyImage();
    EXPECT_EQ(TAVO_MirrorImage(image, 0), TAVOIMG_OK);
    EXPECT_EQ(TAVO_MirrorImage(image, 1), TAVOIMG_OK);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

// ---- crop with replicated border ----------------------------------------------

// The crop computed here: coordinates clamped into the source.
std::vector<uint8_t> expectedCrop(const Pixels &source, int x1, int y1, int x2, int y2) {
    std::vector<uint8_t> result;
    for (int y = y1; y <= y2; ++y) {
        for (int x = x1; x <= x2; ++x) {
            const int sx = std::min(std::max(x, 0), source.width - 1);
            const int sy = std::min(std::max(y, 0), source.height - 1);
            for (int c = 0; c < source.channels; ++c) result.push_back(static_cast<uint8_t>(source.at(sx, sy, c)));
        }
    }
    return result;
}

void expectCrop(const Pixels &source, int x1, int y1, int x2, int y2) {
    const ImageHandle image = makeImageOf(source);
    const ImageHandle result = makeEmptyImage();
    ASSERT_EQ(TAVO_CopyRectReplicateBorder(image, x1, y1, x2, y2, result), TAVOIMG_OK);
    expectImage(result, x2 - x1 + 1, y2 - y1 + 1, source.channels, expectedCrop(source, x1, y1, x2, y2));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
    EXPECT_EQ(TAVO_FreeImage(result), TAVOIMG_OK);
}

TEST(CopyRectReplicateBorder, RectangleInsideIsCopied) {
    const Pixels source = randomImage(6, 5, 3, 1700);
    expectCrop(source, 1, 2, 4, 3);
    // Inclusive: x1 == x2 and y1 == y2 give one pixel.
    const ImageHandle image = makeImageOf(source);
    ASSERT_EQ(TAVO_CopyRectReplicateBorder(image, 3, 4, 3, 4, image), TAVOIMG_OK);
    expectImage(image, 1, 1, 3, {static_cast<uint8_t>(source.at(3, 4, 0)), static_cast<uint8_t>(source.at(3, 4, 1)),
                                 static_cast<uint8_t>(source.at(3, 4, 2))});
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(CopyRectReplicateBorder, OverhangingTheLeftRepeatsTheFirstColumn) {
    const Pixels source = randomImage(4, 3, 3, 1701);
    expectCrop(source, -3, 0, 1, 2);
}

TEST(CopyRectReplicateBorder, OverhangingTheRightRepeatsTheLastColumn) {
    expectCrop(randomImage(4, 3, 1, 1702), 2, 0, 8, 2);
}

TEST(CopyRectReplicateBorder, OverhangingTheTopRepeatsTheFirstRow) {
    expectCrop(randomImage(4, 3, 4, 1703), 0, -2, 3, 1);
}

TEST(CopyRectReplicateBorder, OverhangingTheBottomRepeatsTheLastRow) {
    expectCrop(randomImage(4, 3, 3, 1704), 1, 1, 2, 6);
}

TEST(CopyRectReplicateBorder, OverhangingEverySideReplicatesEdgesAndCorners) {
    expectCrop(randomImage(3, 2, 4, 1705), -2, -3, 5, 4);
}

TEST(CopyRectReplicateBorder, RectangleWhollyOutsideRepeatsTheNearestCorner) {
    const Pixels source = randomImage(3, 3, 1, 1706);
    const ImageHandle image = makeImageOf(source);
    ASSERT_EQ(TAVO_CopyRectReplicateBorder(image, 10, -9, 11, -8, image), TAVOIMG_OK);
    const uint8_t corner = static_cast<uint8_t>(source.at(2, 0, 0));  // top right
    expectImage(image, 2, 2, 1, {corner, corner, corner, corner});
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(CopyRectReplicateBorder, SourceMayBeTheDestination) {
    const Pixels source = randomImage(5, 4, 3, 1707);
    const ImageHandle image = makeImageOf(source);
    ASSERT_EQ(TAVO_CopyRectReplicateBorder(image, -1, 1, 6, 5, image), TAVOIMG_OK);
    expectImage(image, 8, 5, 3, expectedCrop(source, -1, 1, 6, 5));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(CopyRectReplicateBorder, BadRectanglesAreRejectedAndChangeNothing) {
    const Pixels source = randomImage(3, 3, 3, 1708);
    const ImageHandle image = makeImageOf(source);
    const ImageHandle empty = makeEmptyImage();
    EXPECT_EQ(TAVO_CopyRectReplicateBorder(image, 2, 0, 1, 2, image), TAVOIMG_ERR_ARGUMENT);  // x1 > x2
    EXPECT_EQ(TAVO_CopyRectReplicateBorder(image, 0, 2, 2, 1, image), TAVOIMG_ERR_ARGUMENT);  // y1 > y2
    EXPECT_EQ(TAVO_CopyRectReplicateBorder(empty, 0, 0, 1, 1, image), TAVOIMG_ERR_ARGUMENT);  // empty source
    EXPECT_EQ(TAVO_CopyRectReplicateBorder(image, INT32_MIN, 0, INT32_MAX, 0, image), TAVOIMG_ERR_MEMORY);
    EXPECT_EQ(TAVO_CopyRectReplicateBorder(image, 0, 0, 20000, 20000, image), TAVOIMG_ERR_MEMORY);
    expectImage(image, 3, 3, 3, source.bytes);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
    EXPECT_EQ(TAVO_FreeImage(empty), TAVOIMG_OK);
}

}  // namespace
