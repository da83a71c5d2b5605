// Geometric operations of tavoimage (resize, rotation about a centre, mirror,
// border-replicating crop) against values computed here from the contract in
// include/tavoimage.h: the exact filtered value in double precision, which the
// library's byte must round (halves either way, its sums being in float).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "tavoimage/test_image.h"

using namespace kelmo_test;

namespace {

struct Pixels {
    int width;
    int height;
    int channels;
    std::vector<uint8_t> bytes;
    Pixels(int w, int h, int c, uint32_t seed)
        : width(w), height(h), channels(c), bytes(randomBytes(static_cast<std::size_t>(w * h * c), seed)) {}
    int at(int x, int y, int c) const { return bytes[static_cast<std::size_t>((y * width + x) * channels + c)]; }
};

// The weights of the source pixels for destination pixel i of one axis:
// the covered area when the axis shrinks, linear interpolation between
// aligned pixel centres when it grows, a copy when it keeps its size.
std::vector<double> axisWeights(int source, int destination, int i) {
    std::vector<double> weights(static_cast<std::size_t>(source), 0.0);
    const double scale = static_cast<double>(source) / destination;
    if (destination < source) {
        for (int j = 0; j < source; ++j) {
            const double overlap = std::min(j + 1.0, (i + 1) * scale) - std::max(static_cast<double>(j), i * scale);
            weights[static_cast<std::size_t>(j)] = std::max(overlap, 0.0) / scale;
        }
    } else {
        const double position = std::clamp((i + 0.5) * scale - 0.5, 0.0, source - 1.0);
        const int left = static_cast<int>(position);
        const double fraction = position - left;
        weights[static_cast<std::size_t>(left)] += 1.0 - fraction;
        if (fraction > 0.0) weights[static_cast<std::size_t>(left + 1)] += fraction;
    }
    return weights;
}

// Expects a byte to be `exact` rounded to the nearest byte.
void expectRounded(int byte, double exact, const char *what, int x, int y) {
    EXPECT_LE(std::fabs(byte - exact), 0.5 + 1e-4) << what << " at " << x << "," << y;
}

TEST(ResizeImage, ShrinksByAreaAndEnlargesLinearlyPerAxis) {
    const struct {
        int width, height;
        double ratio;
    } cases[] = {{4, 4, 0.5}, {3, 3, 2.0 / 3.0}, {4, 2, 0.75}, {2, 3, 2.0}, {3, 3, 4.0 / 3.0},
                 {10, 7, 0.25}, {10, 10, 0.1}, {7, 5, 1.6}, {5, 4, 1.0}, {10, 7, 1e-300}};
    int k = 0;
    for (const auto &c : cases) {
        for (int channels : {1, 3, 4}) {
            const Pixels source(c.width, c.height, channels, static_cast<uint32_t>(++k));
            const TestImage image(source.bytes, c.width, c.height, channels);
            const TestImage other;
            const ImageHandle destination = k % 2 ? ImageHandle(other) : ImageHandle(image);  // may be the source
            ASSERT_EQ(TAVO_ResizeImage(image, c.ratio, destination), TAVOIMG_OK);
            const TestImage &result = k % 2 ? other : image;
            // The rounded product, halves up, at least one pixel.
            const int width = std::max(1, static_cast<int>(std::floor(c.width * c.ratio + 0.5)));
            const int height = std::max(1, static_cast<int>(std::floor(c.height * c.ratio + 0.5)));
            ASSERT_EQ(result.width(), width) << k;
            ASSERT_EQ(result.height(), height) << k;
            const std::vector<uint8_t> pixels = result.pixels(channels);
            for (int y = 0; y < height; ++y) {
                const std::vector<double> wy = axisWeights(c.height, height, y);
                for (int x = 0; x < width; ++x) {
                    const std::vector<double> wx = axisWeights(c.width, width, x);
                    for (int ch = 0; ch < channels; ++ch) {
                        double exact = 0.0;
                        for (int j = 0; j < c.height; ++j) {
                            for (int i = 0; i < c.width; ++i) exact += wy[j] * wx[i] * source.at(i, j, ch);
                        }
                        expectRounded(pixels[static_cast<std::size_t>((y * width + x) * channels + ch)], exact,
                                      "resize", x, y);
                    }
                }
            }
        }
    }
    const TestImage empty;
    const TestImage result({1, 2, 3}, 1, 1, 3);
    ASSERT_EQ(TAVO_ResizeImage(empty, 2.0, result), TAVOIMG_OK);
    EXPECT_EQ(result.width(), 0);
    EXPECT_EQ(result.height(), 0);
}

TEST(RotateImageCenter, SamplesTheInverseTurnBilinearlyAndBlackOutside) {
    const struct {
        int width, height, channels;
        double angle, centreX, centreY;
    } cases[] = {{5, 5, 1, 90.0, 2.0, 2.0},   {5, 5, 4, 450.0, 2.0, 2.0},   {6, 4, 3, 180.0, 2.5, 1.5},
                 {7, 5, 3, -720.0, 2.3, 1.7}, {9, 7, 3, 30.0, 4.2, 3.1},    {8, 6, 1, -45.0, 3.0, 2.0},
                 {4, 4, 4, 45.0, 0.0, 0.0},   {6, 5, 4, -90.0, 1.0, 3.0},   {3, 2, 4, 90.0, 1e300, -1e300}};
    int k = 0;
    for (const auto &c : cases) {
        const Pixels source(c.width, c.height, c.channels, static_cast<uint32_t>(100 + ++k));
        const TestImage image(source.bytes, c.width, c.height, c.channels);
        ASSERT_EQ(TAVO_RotateImageCenter(image, c.angle, c.centreX, c.centreY, image), TAVOIMG_OK);
        ASSERT_EQ(image.width(), c.width);
        const std::vector<uint8_t> pixels = image.pixels(c.channels);
        // Destination offset (dx, dy) from the centre shows the source at
        // (dx cos + dy sin, -dx sin + dy cos): clockwise on screen, y down.
        const double radians = c.angle * std::numbers::pi / 180.0;
        const double cosine = std::round(std::cos(radians) * 1e12) / 1e12;
        const double sine = std::round(std::sin(radians) * 1e12) / 1e12;
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                const double dx = x - c.centreX, dy = y - c.centreY;
                const double sx = c.centreX + dx * cosine + dy * sine;
                const double sy = c.centreY - dx * sine + dy * cosine;
                const auto inside = [](double v, int size, double margin) { return v >= -margin && v <= size - 1 + margin; };
                const bool outside = !inside(sx, c.width, 1e-3) || !inside(sy, c.height, 1e-3);
                if (!outside && !(inside(sx, c.width, 1e-9) && inside(sy, c.height, 1e-9))) continue;  // on the edge
                const double px = std::clamp(sx, 0.0, c.width - 1.0), py = std::clamp(sy, 0.0, c.height - 1.0);
                const int x0 = std::min(static_cast<int>(px), c.width - 2), y0 = std::min(static_cast<int>(py), c.height - 2);
                const double fx = px - x0, fy = py - y0;
                for (int ch = 0; ch < c.channels; ++ch) {
                    const int byte = pixels[static_cast<std::size_t>((y * c.width + x) * c.channels + ch)];
                    if (outside) {
                        EXPECT_EQ(byte, 0) << "case " << k << " at " << x << "," << y;
                        continue;
                    }
                    const double top = source.at(x0, y0, ch) + fx * (source.at(x0 + 1, y0, ch) - source.at(x0, y0, ch));
                    const double bottom =
                        source.at(x0, y0 + 1, ch) + fx * (source.at(x0 + 1, y0 + 1, ch) - source.at(x0, y0 + 1, ch));
                    expectRounded(byte, top + fy * (bottom - top), "rotation", x, y);
                }
            }
        }
    }
    // The sense of the turn, spelled out: at +90 degrees the pixel right of
    // the centre moves below it.
    const TestImage lit({0, 0, 0, 0, 0, 200, 0, 0, 0}, 3, 3, 1);
    ASSERT_EQ(TAVO_RotateImageCenter(lit, 90.0, 1.0, 1.0, lit), TAVOIMG_OK);
    EXPECT_EQ(lit.pixels(1), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 200, 0}));
}

TEST(MirrorImage, FlagZeroFlipsRowsAndFlagOneFlipsColumns) {
    for (int channels : {1, 3, 4}) {
        for (int size : {3, 4}) {
            for (int flag : {0, 1}) {
                const Pixels source(size, size + 1, channels, static_cast<uint32_t>(channels * 10 + size + flag));
                const TestImage image(source.bytes, size, size + 1, channels);
                ASSERT_EQ(TAVO_MirrorImage(image, flag), TAVOIMG_OK);
                std::vector<uint8_t> expected;
                for (int y = 0; y < size + 1; ++y) {
                    for (int x = 0; x < size; ++x) {
                        for (int c = 0; c < channels; ++c) {
                            expected.push_back(static_cast<uint8_t>(
                                flag == 0 ? source.at(x, size - y, c) : source.at(size - 1 - x, y, c)));
                        }
                    }
                }
                EXPECT_EQ(image.pixels(channels), expected) << channels << " channels, flag " << flag;
            }
        }
    }
    const TestImage empty;
    EXPECT_EQ(TAVO_MirrorImage(empty, 0), TAVOIMG_OK);
}

TEST(CopyRectReplicateBorder, CopiesTheRectangleAndRepeatsTheNearestBorderPixelOutside) {
    const struct {
        int x1, y1, x2, y2;
    } rectangles[] = {{1, 1, 2, 2},  {3, 2, 3, 2},  {-3, 0, 1, 2},  {2, 0, 8, 2},
                      {0, -2, 3, 1}, {1, 1, 2, 6},  {-2, -3, 5, 4}, {10, -9, 11, -8}};
    int k = 0;
    for (const auto &r : rectangles) {
        const int channels = k % 3 == 0 ? 1 : k % 3 == 1 ? 3 : 4;
        const Pixels source(4, 3, channels, static_cast<uint32_t>(200 + ++k));
        const TestImage image(source.bytes, 4, 3, channels);
        const TestImage other;
        const ImageHandle destination = k % 2 ? ImageHandle(other) : ImageHandle(image);
        ASSERT_EQ(TAVO_CopyRectReplicateBorder(image, r.x1, r.y1, r.x2, r.y2, destination), TAVOIMG_OK);
        const TestImage &result = k % 2 ? other : image;
        EXPECT_EQ(result.width(), r.x2 - r.x1 + 1);
        EXPECT_EQ(result.height(), r.y2 - r.y1 + 1);
        std::vector<uint8_t> expected;
        for (int y = r.y1; y <= r.y2; ++y) {
            for (int x = r.x1; x <= r.x2; ++x) {
                for (int c = 0; c < channels; ++c) {
                    expected.push_back(static_cast<uint8_t>(source.at(std::clamp(x, 0, 3), std::clamp(y, 0, 2), c)));
                }
            }
        }
        EXPECT_EQ(result.pixels(channels), expected) << "rectangle " << k;
    }
}

}  // namespace
