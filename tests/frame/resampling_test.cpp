// Tests of the image resampling primitives (Part 1.3): remap, copy4, resizeMap.
//
// Buffers are allocated to their exact byte size (the last row has no
// padding), so that a read past the last row or column is an out-of-bounds
// read that the sanitizer build reports; rows have step padding filled with a
// sentinel value, so that a read past the end of any other row changes a
// result that the tests check.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "frame/resampling.h"

namespace {

using kelmo::IntRect;

constexpr uint8_t kPaddingByte = 250;  // never a pixel value of the tests' sources
constexpr uint8_t kUntouchedByte = 77;

// An 8-bit image with `channels` bytes per pixel and row step `step` bytes.
struct ByteImage {
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 1;
    int32_t step = 0;
    std::vector<uint8_t> bytes;

    ByteImage(int32_t w, int32_t h, int32_t c, int32_t paddingBytes, uint8_t fill = kUntouchedByte)
        : width(w), height(h), channels(c), step(w * c + paddingBytes) {
        bytes.assign(static_cast<std::size_t>(step) * (h - 1) + static_cast<std::size_t>(w) * c, kPaddingByte);
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w * c; ++x) bytes[static_cast<std::size_t>(y) * step + x] = fill;
        }
    }
    uint8_t &at(int32_t x, int32_t y, int32_t c) {
        return bytes[static_cast<std::size_t>(y) * step + static_cast<std::size_t>(x) * channels + c];
    }
    uint8_t at(int32_t x, int32_t y, int32_t c) const {
        return bytes[static_cast<std::size_t>(y) * step + static_cast<std::size_t>(x) * channels + c];
    }
    void randomise(std::mt19937 &random, int maxValue = 200) {
        std::uniform_int_distribution<int> value(0, maxValue);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                for (int32_t c = 0; c < channels; ++c) at(x, y, c) = static_cast<uint8_t>(value(random));
            }
        }
    }
};

// A float map addressed with a byte step (any step, not only multiples of 4).
struct FloatMap {
    int32_t width = 0;
    int32_t height = 0;
    int32_t step = 0;  // bytes
    std::vector<uint8_t> bytes;

    FloatMap(int32_t w, int32_t h, int32_t paddingBytes = 0, float fill = 0.0f)
        : width(w), height(h), step(w * 4 + paddingBytes) {
        bytes.assign(static_cast<std::size_t>(step) * (h - 1) + static_cast<std::size_t>(w) * 4, 0);
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) set(x, y, fill);
        }
    }
    void set(int32_t x, int32_t y, float value) {
        std::memcpy(&bytes[static_cast<std::size_t>(y) * step + static_cast<std::size_t>(x) * 4], &value, 4);
    }
    float get(int32_t x, int32_t y) const {
        float value;
        std::memcpy(&value, &bytes[static_cast<std::size_t>(y) * step + static_cast<std::size_t>(x) * 4], 4);
        return value;
    }
    // The maps are handed over as float pointers, as the library's callers do.
    const float *data() const { return reinterpret_cast<const float *>(bytes.data()); }
    float *data() { return reinterpret_cast<float *>(bytes.data()); }
};

// Part 1.3, remap steps 3 and 4, written out from the text for one channel.
int referenceBilinear(const ByteImage &source, double x, double y, int32_t c) {
    int32_t ix = static_cast<int32_t>(x + 0.0000001);
    double fx = x - ix;
    if (ix >= source.width - 1) {
        ix = source.width - 2;
        fx = 1.0;
    }
    int32_t iy = static_cast<int32_t>(y + 0.0000001);
    double fy = y - iy;
    if (iy >= source.height - 1) {
        iy = source.height - 2;
        fy = 1.0;
    }
    const double p00 = source.at(ix, iy, c);
    const double p01 = source.at(ix + 1, iy, c);
    const double p10 = source.at(ix, iy + 1, c);
    const double p11 = source.at(ix + 1, iy + 1, c);
    const double top = p00 + fx * (p01 - p00);
    const double bottom = p10 + fx * (p11 - p10);
    return static_cast<int>(top + fy * (bottom - top) + 0.5);
}

// Part 1.3 remap step 2: inside the usable area, bounds included.
bool insideUsableArea(const ByteImage &source, IntRect rect, double x, double y) {
    const int32_t right = rect.x + std::min(source.width - rect.x, rect.width) - 1;
    const int32_t bottom = rect.y + std::min(source.height - rect.y, rect.height) - 1;
    return x >= rect.x && x <= right && y >= rect.y && y <= bottom;
}

// A remap call with every argument valid; tests change single fields.
struct RemapCall {
    int channels = 1;
    ByteImage source{6, 5, 1, 3};
    IntRect rect{0, 0, 6, 5};
    FloatMap xMap{4, 3, 4, 1.5f};
    FloatMap yMap{4, 3, 0, 2.5f};
    ByteImage destination{4, 3, 1, 2};
    int32_t interpolation = kelmo::kInterpolationBilinear;

    const uint8_t *sourcePointer = nullptr;
    const float *xPointer = nullptr;
    const float *yPointer = nullptr;
    uint8_t *destinationPointer = nullptr;
    int32_t sourceWidth = 0, sourceHeight = 0, sourceStep = 0;
    int32_t xStep = 0, yStep = 0, destinationStep = 0, destinationWidth = 0, destinationHeight = 0;

    explicit RemapCall(int channelCount = 1, int32_t w = 6, int32_t h = 5, int32_t dw = 4, int32_t dh = 3)
        : channels(channelCount),
          source(w, h, channelCount, 3),
          rect{0, 0, w, h},
          xMap(dw, dh, 4, 1.5f),
          yMap(dw, dh, 0, 2.5f),
          destination(dw, dh, channelCount, 2) {
        std::mt19937 random(1234);
        source.randomise(random);
        sourcePointer = source.bytes.data();
        xPointer = xMap.data();
        yPointer = yMap.data();
        destinationPointer = destination.bytes.data();
        sourceWidth = w;
        sourceHeight = h;
        sourceStep = source.step;
        xStep = xMap.step;
        yStep = yMap.step;
        destinationStep = destination.step;
        destinationWidth = dw;
        destinationHeight = dh;
    }
    int32_t run() const {
        return kelmo::remap(channels, sourcePointer, sourceWidth, sourceHeight, sourceStep, rect, xPointer,
                            xStep, yPointer, yStep, destinationPointer, destinationStep, destinationWidth,
                            destinationHeight, interpolation);
    }
    bool destinationUntouched() const {
        for (int32_t y = 0; y < destination.height; ++y) {
            for (int32_t x = 0; x < destination.width * destination.channels; ++x) {
                if (destination.bytes[static_cast<std::size_t>(y) * destination.step + x] != kUntouchedByte) {
                    return false;
                }
            }
        }
        return true;
    }
};

// ---- remap: statuses --------------------------------------------------------

TEST(Remap, ValidCallReturnsZeroAndWrites) {
    RemapCall call;
    EXPECT_EQ(call.run(), kelmo::kResampleOk);
    EXPECT_FALSE(call.destinationUntouched());
}

TEST(Remap, NullPointerGivesMinus8) {
    for (int which = 0; which < 4; ++which) {
        RemapCall call;
        if (which == 0) call.sourcePointer = nullptr;
        if (which == 1) call.xPointer = nullptr;
        if (which == 2) call.yPointer = nullptr;
        if (which == 3) call.destinationPointer = nullptr;
        EXPECT_EQ(call.run(), kelmo::kResampleNullPointer) << which;
        EXPECT_TRUE(call.destinationUntouched());
    }
}

TEST(Remap, NullPointerIsReportedBeforeEveryOtherFault) {
    RemapCall call;
    call.sourcePointer = nullptr;
    call.sourceWidth = 0;
    call.interpolation = 3;
    call.sourceStep = 0;
    call.rect.x = 100;
    EXPECT_EQ(call.run(), kelmo::kResampleNullPointer);
}

TEST(Remap, SizeBelowOneOrBadRectangleGivesMinus6) {
    for (int which = 0; which < 8; ++which) {
        RemapCall call;
        switch (which) {
            case 0: call.sourceWidth = 0; break;
            case 1: call.sourceHeight = -3; break;
            case 2: call.destinationWidth = 0; break;
            case 3: call.destinationHeight = 0; break;
            case 4: call.rect.x = -1; break;
            case 5: call.rect.y = -1; break;
            case 6: call.rect.width = 0; break;
            default: call.rect.height = 0; break;
        }
        EXPECT_EQ(call.run(), kelmo::kResampleBadSize) << which;
        EXPECT_TRUE(call.destinationUntouched()) << which;
    }
}

TEST(Remap, BadSizeIsReportedBeforeInterpolationStepAndOrigin) {
    RemapCall call;
    call.destinationWidth = 0;
    call.interpolation = 0;
    call.xStep = 0;
    EXPECT_EQ(call.run(), kelmo::kResampleBadSize);
}

TEST(Remap, InterpolationOtherThanOneTwoFourGivesMinus22) {
    for (const int32_t interpolation : {0, 3, 5, 8, 16, -2}) {
        RemapCall call;
        call.interpolation = interpolation;
        EXPECT_EQ(call.run(), kelmo::kResampleBadInterpolation) << interpolation;
        EXPECT_TRUE(call.destinationUntouched());
    }
}

TEST(Remap, BadInterpolationIsReportedBeforeBadStepAndOrigin) {
    RemapCall call;
    call.interpolation = 3;
    call.sourceStep = 0;
    call.rect.x = call.sourceWidth;
    EXPECT_EQ(call.run(), kelmo::kResampleBadInterpolation);
}

TEST(Remap, StepBelowOneGivesMinus14) {
    for (int which = 0; which < 4; ++which) {
        RemapCall call;
        if (which == 0) call.sourceStep = 0;
        if (which == 1) call.xStep = -4;
        if (which == 2) call.yStep = 0;
        if (which == 3) call.destinationStep = 0;
        EXPECT_EQ(call.run(), kelmo::kResampleBadStep) << which;
        EXPECT_TRUE(call.destinationUntouched());
    }
}

TEST(Remap, BadStepIsReportedBeforeRectangleBeyondSource) {
    RemapCall call;
    call.destinationStep = 0;
    call.rect.y = call.sourceHeight;
    EXPECT_EQ(call.run(), kelmo::kResampleBadStep);
}

TEST(Remap, RectangleStartingBeyondSourceGives29AndUnchangedDestination) {
    for (const auto &[x, y] : {std::pair{6, 0}, std::pair{0, 5}, std::pair{9, 9}, std::pair{6, 5}}) {
        RemapCall call;
        call.rect = IntRect{x, y, 3, 3};
        EXPECT_EQ(call.run(), kelmo::kResampleOutsideSource) << x << "," << y;
        EXPECT_TRUE(call.destinationUntouched());
    }
}

TEST(Remap, UnknownChannelCountIsRefused) {
    for (const int channels : {0, 2, 5}) {
        RemapCall call;
        call.channels = channels;
        EXPECT_EQ(call.run(), kelmo::kResampleBadSize) << channels;
        EXPECT_TRUE(call.destinationUntouched());
    }
}

// ---- remap: sampling --------------------------------------------------------

TEST(Remap, MapOnLastColumnSamplesThatColumnWithWeightOne) {
    for (const int channels : {1, 3, 4}) {
        RemapCall call(channels, 4, 4, 1, 1);
        for (int c = 0; c < channels; ++c) {
            call.source.at(3, 1, c) = static_cast<uint8_t>(40 + c);
            call.source.at(3, 2, c) = static_cast<uint8_t>(80 + c);
        }
        call.xMap.set(0, 0, 3.0f);
        call.yMap.set(0, 0, 1.25f);
        ASSERT_EQ(call.run(), kelmo::kResampleOk);
        // ix = 2, fx = 1: top = p(3, 1), bottom = p(3, 2); the padding byte (250)
        // after the row is never read.
        for (int c = 0; c < channels; ++c) {
            const int expected = static_cast<int>((40 + c) + 0.25 * 40 + 0.5);
            EXPECT_EQ(call.destination.at(0, 0, c), expected) << channels << " channels, channel " << c;
        }
    }
}

TEST(Remap, MapOnLastRowSamplesThatRowWithWeightOne) {
    for (const int channels : {1, 3, 4}) {
        RemapCall call(channels, 4, 3, 1, 1);
        for (int c = 0; c < channels; ++c) {
            call.source.at(1, 2, c) = 10;
            call.source.at(2, 2, c) = static_cast<uint8_t>(110 + c);
        }
        call.xMap.set(0, 0, 1.5f);
        call.yMap.set(0, 0, 2.0f);
        ASSERT_EQ(call.run(), kelmo::kResampleOk);
        for (int c = 0; c < channels; ++c) {
            const int expected = static_cast<int>(10 + 0.5 * (100 + c) + 0.5);
            EXPECT_EQ(call.destination.at(0, 0, c), expected) << channels << " channels, channel " << c;
        }
    }
}

TEST(Remap, MapOnLastCornerGivesThatPixelExactly) {
    for (const int channels : {1, 3, 4}) {
        RemapCall call(channels, 5, 4, 1, 1);
        call.xMap.set(0, 0, 4.0f);
        call.yMap.set(0, 0, 3.0f);
        ASSERT_EQ(call.run(), kelmo::kResampleOk);
        for (int c = 0; c < channels; ++c) EXPECT_EQ(call.destination.at(0, 0, c), call.source.at(4, 3, c));
    }
}

TEST(Remap, LastColumnRuleFollowsTheSourceWidthNotTheRectangle) {
    // Rectangle columns 0..2 of a 6-wide source: x = 2 is the area's last
    // column but not the source's, so ix = 2, fx = 0 and the pixel is p(2, 0).
    RemapCall call(1, 6, 2, 1, 1);
    call.rect = IntRect{0, 0, 3, 2};
    call.source.at(2, 0, 0) = 30;
    call.source.at(3, 0, 0) = 190;
    call.xMap.set(0, 0, 2.0f);
    call.yMap.set(0, 0, 0.0f);
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    EXPECT_EQ(call.destination.at(0, 0, 0), 30);
}

TEST(Remap, PositionJustBelowAnIntegerCountsAsThatInteger) {
    // x = the float just below 1 (1 - 2^-24, closer to 1 than 0.0000001):
    // ix = trunc(x + 0.0000001) = 1 and fx = x - 1 < 0. With p(1, 0) = 0,
    // p(2, 0) = 255, p(1, 1) = p(2, 1) = 1 and y = 0.5: top = fx * 255 < 0,
    // bottom = 1, result = top + 0.5 (1 - top) + 0.5 < 1, truncated to 0.
    // Without the bias (ix = 0, fx ~ 1, p(0, 0) = 0, p(0, 1) = 1) it would be 1.
    RemapCall call(1, 4, 2, 1, 1);
    call.source.at(0, 0, 0) = 0;
    call.source.at(1, 0, 0) = 0;
    call.source.at(2, 0, 0) = 255;
    call.source.at(0, 1, 0) = 1;
    call.source.at(1, 1, 0) = 1;
    call.source.at(2, 1, 0) = 1;
    const float x = std::nextafter(1.0f, 0.0f);
    ASSERT_GT(static_cast<double>(x) + 0.0000001, 1.0);
    call.xMap.set(0, 0, x);
    call.yMap.set(0, 0, 0.5f);
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    EXPECT_EQ(call.destination.at(0, 0, 0), 0);
}

TEST(Remap, HalfwayValuesRoundUp) {
    // p = 0 and 1, fx = 0.5: 0.5 + 0.5 = 1.
    RemapCall call(1, 2, 2, 1, 1);
    call.source.at(0, 0, 0) = 0;
    call.source.at(1, 0, 0) = 1;
    call.xMap.set(0, 0, 0.5f);
    call.yMap.set(0, 0, 0.0f);
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    EXPECT_EQ(call.destination.at(0, 0, 0), 1);
}

TEST(Remap, BilinearMatchesTheFormulaForRandomMapsAndEveryChannelCount) {
    std::mt19937 random(99);
    for (const int channels : {1, 3, 4}) {
        const int32_t w = 37, h = 23, dw = 29, dh = 17;
        ByteImage source(w, h, channels, 5);
        source.randomise(random, 255);
        const IntRect rect{3, 2, 30, 40};  // clipped in y to rows 2..22
        FloatMap xMap(dw, dh, 8), yMap(dw, dh, 12);
        std::uniform_real_distribution<float> xs(3.0f, 32.0f), ys(2.0f, 22.0f), coin(0.0f, 1.0f);
        std::uniform_int_distribution<int> columns(3, 32), rows(2, 22);
        for (int32_t j = 0; j < dh; ++j) {
            for (int32_t i = 0; i < dw; ++i) {
                float x = xs(random);
                float y = ys(random);
                const float kind = coin(random);
                if (kind < 0.1f) x = static_cast<float>(columns(random));           // on a column
                else if (kind < 0.2f) y = static_cast<float>(rows(random));         // on a row
                else if (kind < 0.25f) x = std::nextafter(static_cast<float>(columns(random)), 0.0f);
                else if (kind < 0.3f) x = 32.0f;                                    // area edge
                else if (kind < 0.35f) y = 22.0f;                                   // source edge
                else if (kind < 0.4f) x = 2.5f;                                     // outside
                xMap.set(i, j, x);
                yMap.set(i, j, y);
            }
        }
        ByteImage destination(dw, dh, channels, 3);
        ByteImage expected = destination;
        for (int32_t j = 0; j < dh; ++j) {
            for (int32_t i = 0; i < dw; ++i) {
                const double x = xMap.get(i, j);
                const double y = yMap.get(i, j);
                if (!insideUsableArea(source, rect, x, y)) continue;
                for (int c = 0; c < channels; ++c) {
                    expected.at(i, j, c) = static_cast<uint8_t>(referenceBilinear(source, x, y, c));
                }
            }
        }
        ASSERT_EQ(kelmo::remap(channels, source.bytes.data(), w, h, source.step, rect, xMap.data(), xMap.step,
                               yMap.data(), yMap.step, destination.bytes.data(), destination.step, dw, dh,
                               kelmo::kInterpolationBilinear),
                  kelmo::kResampleOk);
        // Padding bytes included: nothing is written beyond a destination row.
        EXPECT_EQ(destination.bytes, expected.bytes) << channels << " channels";
    }
}

TEST(Remap, MapStepsNeedNotBeMultiplesOfFour) {
    RemapCall call(3, 6, 5, 5, 4);
    FloatMap xMap(5, 4, 2), yMap(5, 4, 3);
    ByteImage expected = call.destination;
    for (int32_t j = 0; j < 4; ++j) {
        for (int32_t i = 0; i < 5; ++i) {
            xMap.set(i, j, 0.9f * i + 0.3f);
            yMap.set(i, j, 0.7f * j + 0.6f);
            for (int c = 0; c < 3; ++c) {
                expected.at(i, j, c) = static_cast<uint8_t>(
                    referenceBilinear(call.source, xMap.get(i, j), yMap.get(i, j), c));
            }
        }
    }
    call.xPointer = xMap.data();
    call.xStep = xMap.step;
    call.yPointer = yMap.data();
    call.yStep = yMap.step;
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    EXPECT_EQ(call.destination.bytes, expected.bytes);
}

TEST(Remap, MapOneUnitOutsideTheRectangleKeepsOldValue) {
    // Rectangle columns 2..4, rows 1..3 of an 8 x 6 source.
    RemapCall call(1, 8, 6, 8, 1);
    call.rect = IntRect{2, 1, 3, 3};
    const float xs[8] = {1.0f, 5.0f, 3.0f, 3.0f, 2.0f, 4.0f, 3.0f, 3.0f};
    const float ys[8] = {2.0f, 2.0f, 0.0f, 4.0f, 2.0f, 2.0f, 1.0f, 3.0f};
    for (int i = 0; i < 8; ++i) {
        call.xMap.set(i, 0, xs[i]);
        call.yMap.set(i, 0, ys[i]);
    }
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(call.destination.at(i, 0, 0), kUntouchedByte) << i;
    // The bounds count as inside: the pixels at the area's edges are sampled.
    for (int i = 4; i < 8; ++i) {
        EXPECT_EQ(call.destination.at(i, 0, 0), referenceBilinear(call.source, xs[i], ys[i], 0)) << i;
    }
}

TEST(Remap, RectangleLargerThanSourceIsClippedToTheSource) {
    RemapCall call(1, 5, 5, 2, 1);
    call.rect = IntRect{1, 0, 100, 100};
    call.xMap.set(0, 0, 4.0f);
    call.xMap.set(1, 0, 4.001f);
    call.yMap.set(0, 0, 4.0f);
    call.yMap.set(1, 0, 1.0f);
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    EXPECT_EQ(call.destination.at(0, 0, 0), call.source.at(4, 4, 0));
    EXPECT_EQ(call.destination.at(1, 0, 0), kUntouchedByte);
}

TEST(Remap, NanInfiniteAndOutOfRangeMapValuesLeaveDestinationUnchanged) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float hostile[] = {nan, -nan, inf, -inf, 1e30f, -1e30f, -0.5f, 5.01f, 2147483648.0f,
                             -2147483648.0f, std::numeric_limits<float>::max(), -std::nextafter(0.0f, 1.0f)};
    const int count = static_cast<int>(std::size(hostile));
    for (const int channels : {1, 3, 4}) {
        for (const int32_t interpolation : {1, 2, 4}) {
            // Each hostile value once as x (y fine) and once as y (x fine).
            RemapCall call(channels, 6, 6, count, 2);
            call.interpolation = interpolation;
            for (int i = 0; i < count; ++i) {
                call.xMap.set(i, 0, hostile[i]);
                call.yMap.set(i, 0, 2.0f);
                call.xMap.set(i, 1, 2.0f);
                call.yMap.set(i, 1, hostile[i]);
            }
            ASSERT_EQ(call.run(), kelmo::kResampleOk);
            EXPECT_TRUE(call.destinationUntouched()) << channels << " channels, interpolation " << interpolation;
        }
    }
}

TEST(Remap, NegativeZeroIsInsideTheArea) {
    RemapCall call(1, 4, 4, 1, 1);
    call.xMap.set(0, 0, -0.0f);
    call.yMap.set(0, 0, -0.0f);
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    EXPECT_EQ(call.destination.at(0, 0, 0), call.source.at(0, 0, 0));
}

TEST(Remap, SingleColumnSourceUsesNearestNeighbour) {
    for (const int32_t interpolation : {1, 2, 4}) {
        RemapCall call(3, 1, 5, 4, 1);
        const float ys[4] = {2.5f, 2.49f, 0.0f, 4.0f};
        for (int i = 0; i < 4; ++i) {
            call.xMap.set(i, 0, 0.0f);
            call.yMap.set(i, 0, ys[i]);
        }
        call.interpolation = interpolation;
        ASSERT_EQ(call.run(), kelmo::kResampleOk);
        const int expectedRows[4] = {3, 2, 0, 4};
        for (int i = 0; i < 4; ++i) {
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(call.destination.at(i, 0, c), call.source.at(0, expectedRows[i], c))
                    << "sample " << i << ", interpolation " << interpolation;
            }
        }
    }
}

TEST(Remap, SingleRowSourceUsesNearestNeighbour) {
    RemapCall call(4, 5, 1, 3, 1);
    const float xs[3] = {1.5f, 3.4f, 4.0f};
    for (int i = 0; i < 3; ++i) {
        call.xMap.set(i, 0, xs[i]);
        call.yMap.set(i, 0, 0.0f);
    }
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    const int expectedColumns[3] = {2, 3, 4};
    for (int i = 0; i < 3; ++i) {
        for (int c = 0; c < 4; ++c) EXPECT_EQ(call.destination.at(i, 0, c), call.source.at(expectedColumns[i], 0, c));
    }
}

TEST(Remap, SinglePixelSourceFillsOnlyPositionsOnThatPixel) {
    RemapCall call(1, 1, 1, 3, 1);
    call.xMap.set(0, 0, 0.0f);
    call.xMap.set(1, 0, 0.2f);
    call.xMap.set(2, 0, 0.0f);
    call.yMap.set(0, 0, 0.0f);
    call.yMap.set(1, 0, 0.0f);
    call.yMap.set(2, 0, 1.0f);
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    EXPECT_EQ(call.destination.at(0, 0, 0), call.source.at(0, 0, 0));
    EXPECT_EQ(call.destination.at(1, 0, 0), kUntouchedByte);
    EXPECT_EQ(call.destination.at(2, 0, 0), kUntouchedByte);
}

TEST(Remap, NearestRoundsThePositionHalfUp) {
    RemapCall call(1, 6, 6, 4, 1);
    const float xs[4] = {1.5f, 1.49f, 5.0f, 0.0f};
    const float ys[4] = {2.5f, 2.51f, 4.6f, 0.4f};
    for (int i = 0; i < 4; ++i) {
        call.xMap.set(i, 0, xs[i]);
        call.yMap.set(i, 0, ys[i]);
    }
    call.interpolation = kelmo::kInterpolationNearest;
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    const int expected[4][2] = {{2, 3}, {1, 3}, {5, 5}, {0, 0}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(call.destination.at(i, 0, 0), call.source.at(expected[i][0], expected[i][1], 0)) << i;
    }
}

// Keys' cubic kernel (a = -0.5) in its polynomial-in-t form, for the four
// neighbours at offsets -1, 0, 1, 2 of a fraction t.
void keysWeights(double t, double (&w)[4]) {
    const double a = -0.5;
    const double t2 = t * t;
    const double t3 = t2 * t;
    w[0] = a * t3 - 2.0 * a * t2 + a * t;
    w[1] = (a + 2.0) * t3 - (a + 3.0) * t2 + 1.0;
    w[2] = -(a + 2.0) * t3 + (2.0 * a + 3.0) * t2 - a * t;
    w[3] = -a * t3 + a * t2;
}

int referenceCubic(const ByteImage &source, double x, double y, int c) {
    const int ix = static_cast<int>(x + 0.0000001);
    const int iy = static_cast<int>(y + 0.0000001);
    double wx[4];
    double wy[4];
    keysWeights(x - ix, wx);
    keysWeights(y - iy, wy);
    double sum = 0.0;
    for (int r = 0; r < 4; ++r) {
        const int row = std::clamp(iy - 1 + r, 0, source.height - 1);
        for (int k = 0; k < 4; ++k) {
            const int column = std::clamp(ix - 1 + k, 0, source.width - 1);
            sum += wy[r] * wx[k] * source.at(column, row, c);
        }
    }
    sum = std::clamp(sum, 0.0, 255.0);
    return static_cast<int>(sum + 0.5);
}

TEST(Remap, CubicOnIntegerPositionsReproducesTheSource) {
    RemapCall call(3, 7, 6, 7, 6);
    for (int32_t j = 0; j < 6; ++j) {
        for (int32_t i = 0; i < 7; ++i) {
            call.xMap.set(i, j, static_cast<float>(i));
            call.yMap.set(i, j, static_cast<float>(j));
        }
    }
    call.interpolation = kelmo::kInterpolationCubic;
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    for (int32_t j = 0; j < 6; ++j) {
        for (int32_t i = 0; i < 7; ++i) {
            for (int c = 0; c < 3; ++c) ASSERT_EQ(call.destination.at(i, j, c), call.source.at(i, j, c));
        }
    }
}

TEST(Remap, CubicMatchesKeysKernelWithinOneLevel) {
    std::mt19937 random(7);
    for (const int channels : {1, 3, 4}) {
        RemapCall call(channels, 9, 8, 20, 10);
        call.source.randomise(random, 255);
        std::uniform_real_distribution<float> xs(0.0f, 8.0f), ys(0.0f, 7.0f);
        for (int32_t j = 0; j < 10; ++j) {
            for (int32_t i = 0; i < 20; ++i) {
                call.xMap.set(i, j, xs(random));
                call.yMap.set(i, j, ys(random));
            }
        }
        call.interpolation = kelmo::kInterpolationCubic;
        ASSERT_EQ(call.run(), kelmo::kResampleOk);
        int exact = 0;
        for (int32_t j = 0; j < 10; ++j) {
            for (int32_t i = 0; i < 20; ++i) {
                for (int c = 0; c < channels; ++c) {
                    const int expected = referenceCubic(call.source, call.xMap.get(i, j), call.yMap.get(i, j), c);
                    const int actual = call.destination.at(i, j, c);
                    ASSERT_LE(std::abs(actual - expected), 1) << i << "," << j;
                    exact += actual == expected;
                }
            }
        }
        // The two sum orders differ by rounding only: almost all agree exactly.
        EXPECT_GE(exact, 200 * channels - 4);
    }
}

TEST(Remap, CubicOvershootIsClampedToTheByteRange) {
    // A step from 0 to 255: Keys' kernel overshoots past the step's top
    // (255 * 1.064) and below its bottom (255 * -0.064) at a fraction of 0.2.
    RemapCall call(1, 6, 4, 2, 1);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 6; ++x) call.source.at(x, y, 0) = x < 2 ? 0 : 255;
    }
    call.xMap.set(0, 0, 2.2f);  // neighbours 0, 255, 255, 255
    call.xMap.set(1, 0, 0.8f);  // neighbours 0, 0, 0, 255 (column -1 clamped to 0)
    call.yMap.set(0, 0, 1.0f);
    call.yMap.set(1, 0, 1.0f);
    call.interpolation = kelmo::kInterpolationCubic;
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    EXPECT_EQ(call.destination.at(0, 0, 0), 255);
    EXPECT_EQ(call.destination.at(1, 0, 0), 0);
}

TEST(Remap, CubicOnSourceNarrowerThanFourFallsBackToBilinear) {
    for (const auto &[w, h] : {std::pair{3, 6}, std::pair{6, 3}, std::pair{2, 2}}) {
        RemapCall call(4, w, h, 5, 5);
        std::mt19937 random(static_cast<uint32_t>(w * 10 + h));
        std::uniform_real_distribution<float> xs(0.0f, static_cast<float>(w - 1)), ys(0.0f, static_cast<float>(h - 1));
        for (int32_t j = 0; j < 5; ++j) {
            for (int32_t i = 0; i < 5; ++i) {
                call.xMap.set(i, j, xs(random));
                call.yMap.set(i, j, ys(random));
            }
        }
        call.interpolation = kelmo::kInterpolationCubic;
        ASSERT_EQ(call.run(), kelmo::kResampleOk);
        for (int32_t j = 0; j < 5; ++j) {
            for (int32_t i = 0; i < 5; ++i) {
                for (int c = 0; c < 4; ++c) {
                    ASSERT_EQ(call.destination.at(i, j, c),
                              referenceBilinear(call.source, call.xMap.get(i, j), call.yMap.get(i, j), c))
                        << w << "x" << h;
                }
            }
        }
    }
}

TEST(Remap, HostileMapsOnTinySourcesNeverReadOutsideAndOnlyWriteInside) {
    // Positions anywhere, including exact edges and values out of any range,
    // on sources down to one pixel: the sanitizer build reports any read
    // outside the exactly-sized buffers; pixels outside the area stay.
    std::mt19937 random(2024);
    std::uniform_real_distribution<float> wide(-3.0f, 8.0f), coin(0.0f, 1.0f);
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                              -1e20f, 0.0f, 1.0f, 2.0f, 3.0f, 4.0f};
    std::uniform_int_distribution<int> pick(0, 7);
    for (const int channels : {1, 3, 4}) {
        for (const int32_t interpolation : {1, 2, 4}) {
            for (int32_t w = 1; w <= 5; ++w) {
                for (int32_t h = 1; h <= 5; ++h) {
                    RemapCall call(channels, w, h, 12, 12);
                    call.interpolation = interpolation;
                    call.rect = IntRect{std::min(w - 1, 1), 0, 3, 9};
                    for (int32_t j = 0; j < 12; ++j) {
                        for (int32_t i = 0; i < 12; ++i) {
                            call.xMap.set(i, j, coin(random) < 0.3f ? specials[pick(random)] : wide(random));
                            call.yMap.set(i, j, coin(random) < 0.3f ? specials[pick(random)] : wide(random));
                        }
                    }
                    ASSERT_EQ(call.run(), kelmo::kResampleOk);
                    for (int32_t j = 0; j < 12; ++j) {
                        for (int32_t i = 0; i < 12; ++i) {
                            if (insideUsableArea(call.source, call.rect, call.xMap.get(i, j), call.yMap.get(i, j))) {
                                continue;
                            }
                            for (int c = 0; c < channels; ++c) ASSERT_EQ(call.destination.at(i, j, c), kUntouchedByte);
                        }
                    }
                    // Nothing is written into a destination row's padding.
                    for (int32_t j = 0; j + 1 < 12; ++j) {
                        const std::size_t start = static_cast<std::size_t>(j) * call.destination.step + 12 * channels;
                        ASSERT_EQ(call.destination.bytes[start], kPaddingByte);
                        ASSERT_EQ(call.destination.bytes[start + 1], kPaddingByte);
                    }
                }
            }
        }
    }
}

// ---- copy4 ------------------------------------------------------------------

TEST(Copy4, CopiesWidthTimesHeightFourBytePixelsRowByRow) {
    const int32_t width = 3, height = 4, sourceStep = 4 * 5 + 2, destinationStep = 4 * 3 + 8;
    std::vector<uint8_t> source(static_cast<std::size_t>(sourceStep) * height);
    for (std::size_t k = 0; k < source.size(); ++k) source[k] = static_cast<uint8_t>(k * 3 + 1);
    std::vector<uint8_t> destination(static_cast<std::size_t>(destinationStep) * height, kUntouchedByte);
    ASSERT_EQ(kelmo::copy4(source.data() + 4, sourceStep, destination.data(), destinationStep, width, height),
              kelmo::kResampleOk);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t b = 0; b < destinationStep; ++b) {
            const uint8_t actual = destination[static_cast<std::size_t>(y) * destinationStep + b];
            if (b < 4 * width) {
                EXPECT_EQ(actual, source[static_cast<std::size_t>(y) * sourceStep + 4 + b]) << y << "," << b;
            } else {
                EXPECT_EQ(actual, kUntouchedByte) << y << "," << b;
            }
        }
    }
}

TEST(Copy4, NullPointerGivesMinus8BeforeBadSize) {
    uint8_t buffer[16] = {};
    EXPECT_EQ(kelmo::copy4(nullptr, 4, buffer, 4, 1, 1), kelmo::kResampleNullPointer);
    EXPECT_EQ(kelmo::copy4(buffer, 4, nullptr, 4, 1, 1), kelmo::kResampleNullPointer);
    EXPECT_EQ(kelmo::copy4(nullptr, 0, nullptr, 0, 0, 0), kelmo::kResampleNullPointer);
}

TEST(Copy4, SizeBelowOneGivesMinus6AndCopiesNothing) {
    uint8_t source[16];
    uint8_t destination[16];
    std::memset(source, 1, sizeof source);
    std::memset(destination, kUntouchedByte, sizeof destination);
    EXPECT_EQ(kelmo::copy4(source, 8, destination, 8, 0, 2), kelmo::kResampleBadSize);
    EXPECT_EQ(kelmo::copy4(source, 8, destination, 8, 2, -1), kelmo::kResampleBadSize);
    EXPECT_EQ(kelmo::copy4(source, 0, destination, 0, 0, 2), kelmo::kResampleBadSize);
    for (const uint8_t byte : destination) EXPECT_EQ(byte, kUntouchedByte);
}

TEST(Copy4, StepBelowOneGivesMinus14) {
    uint8_t source[16] = {};
    uint8_t destination[16] = {};
    EXPECT_EQ(kelmo::copy4(source, 0, destination, 8, 2, 2), kelmo::kResampleBadStep);
    EXPECT_EQ(kelmo::copy4(source, 8, destination, -8, 2, 2), kelmo::kResampleBadStep);
}

// ---- resizeMap --------------------------------------------------------------

// Part 1.3 resize, written out: corner-aligned positions, bilinear blend in
// double with the missing neighbour at the last row and column weighted 0.
// `source` holds rows of `stride` floats; the rectangle starts at (x0, y0) and
// is w x h; the result is W x H.
std::vector<float> referenceResize(const std::vector<float> &source, int stride, int x0, int y0, int w, int h,
                                   double xFactor, double yFactor, int W, int H) {
    auto position = [](int index, int size, double factor, int count) {
        if (size == 1 || count == 1) return 0.0;
        return std::min(static_cast<double>(index) * (size - 1) / (size * factor - 1.0), size - 1.0);
    };
    auto value = [&](int x, int y) { return static_cast<double>(source[static_cast<std::size_t>((y0 + y) * stride + x0 + x)]); };
    std::vector<float> result(static_cast<std::size_t>(W) * H);
    for (int Y = 0; Y < H; ++Y) {
        const double y = position(Y, h, yFactor, H);
        int iy = static_cast<int>(y);
        double fy = y - iy;
        int iy1 = iy + 1;
        if (iy >= h - 1) {
            iy = iy1 = h - 1;
            fy = 0.0;
        }
        for (int X = 0; X < W; ++X) {
            const double x = position(X, w, xFactor, W);
            int ix = static_cast<int>(x);
            double fx = x - ix;
            int ix1 = ix + 1;
            if (ix >= w - 1) {
                ix = ix1 = w - 1;
                fx = 0.0;
            }
            const double top = value(ix, iy) + fx * (value(ix1, iy) - value(ix, iy));
            const double bottom = value(ix, iy1) + fx * (value(ix1, iy1) - value(ix, iy1));
            result[static_cast<std::size_t>(Y) * W + X] = static_cast<float>(top + fy * (bottom - top));
        }
    }
    return result;
}

std::vector<float> randomMap(int w, int h, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(-40.0f, 40.0f);
    std::vector<float> map(static_cast<std::size_t>(w) * h);
    for (float &v : map) v = value(random);
    return map;
}

// A resize call with valid arguments, the destination filled with a sentinel.
struct ResizeCall {
    int32_t w, h, W, H;
    std::vector<float> source;
    std::vector<float> destination;
    IntRect rect;
    double xFactor, yFactor;
    int32_t interpolation = kelmo::kInterpolationBilinear;
    const float *sourcePointer;
    float *destinationPointer;
    int32_t sourceWidth, sourceHeight, sourceStep, destinationStep, destinationWidth, destinationHeight;

    ResizeCall(int32_t sw, int32_t sh, int32_t dw, int32_t dh, uint32_t seed = 5)
        : w(sw), h(sh), W(dw), H(dh), source(randomMap(sw, sh, seed)),
          destination(static_cast<std::size_t>(dw) * dh, -777.0f), rect{0, 0, sw, sh},
          xFactor(static_cast<double>(dw) / sw), yFactor(static_cast<double>(dh) / sh),
          sourcePointer(source.data()), destinationPointer(destination.data()), sourceWidth(sw),
          sourceHeight(sh), sourceStep(4 * sw), destinationStep(4 * dw), destinationWidth(dw),
          destinationHeight(dh) {}
    int32_t run() {
        return kelmo::resizeMap(sourcePointer, sourceWidth, sourceHeight, sourceStep, rect, destinationPointer,
                                destinationStep, destinationWidth, destinationHeight, xFactor, yFactor,
                                interpolation);
    }
    bool untouched() const {
        return std::all_of(destination.begin(), destination.end(), [](float v) { return v == -777.0f; });
    }
    float at(int X, int Y) const { return destination[static_cast<std::size_t>(Y) * W + X]; }
    float sourceAt(int x, int y) const { return source[static_cast<std::size_t>(y) * w + x]; }
};

TEST(ResizeMap, NullPointerGivesMinus8BeforeEveryOtherFault) {
    ResizeCall a(4, 4, 8, 8);
    a.sourcePointer = nullptr;
    a.sourceWidth = 0;
    EXPECT_EQ(a.run(), kelmo::kResampleNullPointer);
    ResizeCall b(4, 4, 8, 8);
    b.destinationPointer = nullptr;
    EXPECT_EQ(b.run(), kelmo::kResampleNullPointer);
}

TEST(ResizeMap, SizeBelowOneOrBadRectangleGivesMinus6BeforeInterpolation) {
    for (int which = 0; which < 8; ++which) {
        ResizeCall call(4, 4, 8, 8);
        call.interpolation = 4;
        switch (which) {
            case 0: call.sourceWidth = 0; break;
            case 1: call.sourceHeight = 0; break;
            case 2: call.destinationWidth = -1; break;
            case 3: call.destinationHeight = 0; break;
            case 4: call.rect.x = -1; break;
            case 5: call.rect.y = -2; break;
            case 6: call.rect.width = 0; break;
            default: call.rect.height = 0; break;
        }
        EXPECT_EQ(call.run(), kelmo::kResampleBadSize) << which;
        EXPECT_TRUE(call.untouched());
    }
}

TEST(ResizeMap, InterpolationOtherThanNearestOrBilinearGivesMinus22BeforeFactor) {
    for (const int32_t interpolation : {0, 3, 4, 8}) {
        ResizeCall call(4, 4, 8, 8);
        call.interpolation = interpolation;
        call.xFactor = -1.0;
        EXPECT_EQ(call.run(), kelmo::kResampleBadInterpolation) << interpolation;
        EXPECT_TRUE(call.untouched());
    }
}

TEST(ResizeMap, FactorNotFiniteOrNotPositiveGivesBadFactorBeforeStep) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const double factor : {0.0, -2.0, nan, inf, -inf}) {
        for (int axis = 0; axis < 2; ++axis) {
            ResizeCall call(4, 4, 8, 8);
            (axis == 0 ? call.xFactor : call.yFactor) = factor;
            call.sourceStep = 0;
            EXPECT_EQ(call.run(), kelmo::kResampleBadFactor) << factor;
            EXPECT_TRUE(call.untouched());
        }
    }
}

TEST(ResizeMap, StepBelowOneGivesMinus14BeforeRectangleBeyondSource) {
    ResizeCall a(4, 4, 8, 8);
    a.sourceStep = 0;
    a.rect.x = 4;
    EXPECT_EQ(a.run(), kelmo::kResampleBadStep);
    ResizeCall b(4, 4, 8, 8);
    b.destinationStep = -16;
    EXPECT_EQ(b.run(), kelmo::kResampleBadStep);
    EXPECT_TRUE(b.untouched());
}

TEST(ResizeMap, RectangleStartingBeyondSourceGives29AndUnchangedDestination) {
    for (const auto &[x, y] : {std::pair{4, 0}, std::pair{0, 4}, std::pair{7, 9}}) {
        ResizeCall call(4, 4, 8, 8);
        call.rect = IntRect{x, y, 2, 2};
        EXPECT_EQ(call.run(), kelmo::kResampleOutsideSource);
        EXPECT_TRUE(call.untouched());
    }
}

TEST(ResizeMap, FirstAndLastPixelsOfEveryRowFallOnTheSourceEdges) {
    // The warp's own sizes (Part 6.1): full size over half size, even and odd.
    for (const auto &[W, H] : {std::pair{14, 10}, std::pair{15, 11}, std::pair{1024, 1024}, std::pair{1023, 1025}}) {
        const int w = W / 2, h = H / 2;
        ResizeCall call(w, h, W, H, static_cast<uint32_t>(W + H));
        ASSERT_EQ(call.run(), kelmo::kResampleOk);
        EXPECT_EQ(call.at(0, 0), call.sourceAt(0, 0)) << W;
        EXPECT_EQ(call.at(W - 1, 0), call.sourceAt(w - 1, 0)) << W;
        EXPECT_EQ(call.at(0, H - 1), call.sourceAt(0, h - 1)) << W;
        EXPECT_EQ(call.at(W - 1, H - 1), call.sourceAt(w - 1, h - 1)) << W;
        for (int X = 0; X < W; X += 7) {
            // Top row: only the x blend of the source's top row.
            const double x = std::min(static_cast<double>(X) * (w - 1) / (w * call.xFactor - 1.0), w - 1.0);
            const int ix = std::min(static_cast<int>(x), w - 1);
            const double s0 = call.sourceAt(ix, 0);
            const double s1 = call.sourceAt(std::min(ix + 1, w - 1), 0);
            EXPECT_EQ(call.at(X, 0), static_cast<float>(s0 + (x - ix) * (s1 - s0))) << W << ", X " << X;
        }
    }
}

TEST(ResizeMap, BilinearMatchesTheCornerAlignedFormulaAtTheWarpsFactors) {
    for (const auto &[w, h, W, H] : {std::tuple{7, 5, 14, 10}, std::tuple{7, 5, 15, 11}, std::tuple{512, 512, 1024, 1024},
                                     std::tuple{300, 200, 601, 401}}) {
        ResizeCall call(w, h, W, H, static_cast<uint32_t>(w * 31 + h));
        ASSERT_EQ(call.run(), kelmo::kResampleOk);
        const std::vector<float> expected = referenceResize(call.source, w, 0, 0, w, h, call.xFactor, call.yFactor, W, H);
        ASSERT_EQ(call.destination.size(), expected.size());
        for (std::size_t k = 0; k < expected.size(); ++k) {
            ASSERT_EQ(call.destination[k], expected[k]) << w << "x" << h << " -> " << W << "x" << H << " at " << k;
        }
    }
}

TEST(ResizeMap, LinearRampStaysLinear) {
    const int w = 512, h = 512, W = 1024, H = 1024;
    ResizeCall call(w, h, W, H);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) call.source[static_cast<std::size_t>(y) * w + x] = 0.75f * x - 1.25f * y + 3.0f;
    }
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    for (int Y = 0; Y < H; Y += 3) {
        for (int X = 0; X < W; X += 5) {
            const double x = static_cast<double>(X) * (w - 1) / (W - 1);
            const double y = static_cast<double>(Y) * (h - 1) / (H - 1);
            ASSERT_NEAR(call.at(X, Y), 0.75 * x - 1.25 * y + 3.0, 1e-4) << X << "," << Y;
        }
    }
}

TEST(ResizeMap, LastRowAndColumnNeverReadBeyondTheMap) {
    // Step padding holds NaN: a read past the end of a row would make a NaN;
    // the last row has no padding, so a read past it is out of bounds.
    const int w = 5, h = 4, stride = 7, W = 11, H = 9;
    std::vector<float> source(static_cast<std::size_t>(stride) * (h - 1) + w, std::numeric_limits<float>::quiet_NaN());
    std::mt19937 random(3);
    std::uniform_real_distribution<float> value(-5.0f, 5.0f);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) source[static_cast<std::size_t>(y) * stride + x] = value(random);
    }
    std::vector<float> destination(static_cast<std::size_t>(W) * H);
    ASSERT_EQ(kelmo::resizeMap(source.data(), w, h, 4 * stride, IntRect{0, 0, w, h}, destination.data(), 4 * W, W, H,
                               static_cast<double>(W) / w, static_cast<double>(H) / h, kelmo::kInterpolationBilinear),
              kelmo::kResampleOk);
    for (const float v : destination) ASSERT_FALSE(std::isnan(v));
    const std::vector<float> expected =
        referenceResize(source, stride, 0, 0, w, h, static_cast<double>(W) / w, static_cast<double>(H) / h, W, H);
    EXPECT_EQ(destination, expected);
}

TEST(ResizeMap, SubRectangleIsReadFromItsOrigin) {
    const int sw = 9, sh = 7;
    ResizeCall call(sw, sh, 8, 6);
    call.rect = IntRect{2, 1, 4, 3};
    call.xFactor = 2.0;
    call.yFactor = 2.0;
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    EXPECT_EQ(call.destination, referenceResize(call.source, sw, 2, 1, 4, 3, 2.0, 2.0, 8, 6));
    EXPECT_EQ(call.at(0, 0), call.sourceAt(2, 1));
    EXPECT_EQ(call.at(7, 5), call.sourceAt(5, 3));
}

TEST(ResizeMap, RectangleLargerThanSourceIsClippedToTheSource) {
    ResizeCall call(6, 4, 8, 6);
    call.rect = IntRect{2, 0, 50, 50};  // 4 x 4 inside the source
    call.xFactor = 2.0;
    call.yFactor = 1.5;
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    EXPECT_EQ(call.destination, referenceResize(call.source, 6, 2, 0, 4, 4, 2.0, 1.5, 8, 6));
}

TEST(ResizeMap, WrittenSizeIsCappedByTheDestinationSize) {
    // 7 x 5 by 2: scaled 14 x 10, written 10 x 6; positions still use 14 and 10.
    ResizeCall call(7, 5, 10, 6);
    call.xFactor = 2.0;
    call.yFactor = 2.0;
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    const std::vector<float> full = referenceResize(call.source, 7, 0, 0, 7, 5, 2.0, 2.0, 14, 10);
    for (int Y = 0; Y < 6; ++Y) {
        for (int X = 0; X < 10; ++X) ASSERT_EQ(call.at(X, Y), full[static_cast<std::size_t>(Y) * 14 + X]) << X << "," << Y;
    }
}

TEST(ResizeMap, DestinationBeyondTheScaledSizeIsLeftUnchanged) {
    // 7 x 5 by 1.5: scaled 10.5 x 7.5, written 10 x 7 of a 20 x 9 destination.
    ResizeCall call(7, 5, 20, 9);
    call.xFactor = 1.5;
    call.yFactor = 1.5;
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    for (int Y = 0; Y < 9; ++Y) {
        for (int X = 0; X < 20; ++X) {
            if (X < 10 && Y < 7) {
                ASSERT_NE(call.at(X, Y), -777.0f);
            } else {
                ASSERT_EQ(call.at(X, Y), -777.0f) << X << "," << Y;
            }
        }
    }
    // x = X * 6 / (10.5 - 1): the last written column is 9 * 6 / 9.5, inside.
    const std::vector<float> expected = referenceResize(call.source, 7, 0, 0, 7, 5, 1.5, 1.5, 10, 7);
    for (int Y = 0; Y < 7; ++Y) {
        for (int X = 0; X < 10; ++X) ASSERT_EQ(call.at(X, Y), expected[static_cast<std::size_t>(Y) * 10 + X]);
    }
}

TEST(ResizeMap, ScaledSizeJustBelowAnIntegerCountsAsThatInteger) {
    // 49 * (1 / 49) is 0.9999999999999999 in double: plus 0.0000001 and
    // truncated it is 1 column; the single column replicates column 0.
    const double factor = 1.0 / 49.0;
    ASSERT_LT(49 * factor, 1.0);
    ResizeCall call(49, 2, 3, 4);
    call.xFactor = factor;
    call.yFactor = 2.0;
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    for (int Y = 0; Y < 4; ++Y) {
        EXPECT_NE(call.at(0, Y), -777.0f);
        EXPECT_EQ(call.at(1, Y), -777.0f);
        EXPECT_EQ(call.at(2, Y), -777.0f);
    }
    EXPECT_EQ(call.at(0, 0), call.sourceAt(0, 0));
    EXPECT_EQ(call.at(0, 3), call.sourceAt(0, 1));
}

TEST(ResizeMap, SingleColumnSourceReplicatesAcrossTheRow) {
    ResizeCall call(1, 3, 4, 6);
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    for (int Y = 0; Y < 6; ++Y) {
        // y = Y * 2 / 5, blended between the two source rows around it.
        const double y = Y * 2.0 / 5.0;
        const int iy = std::min(static_cast<int>(y), 2);
        const double s0 = call.sourceAt(0, iy);
        const double s1 = call.sourceAt(0, std::min(iy + 1, 2));
        const float expected = static_cast<float>(s0 + (y - iy) * (s1 - s0));
        for (int X = 0; X < 4; ++X) EXPECT_EQ(call.at(X, Y), expected) << X << "," << Y;
    }
}

TEST(ResizeMap, SinglePixelSourceFillsTheDestination) {
    ResizeCall call(1, 1, 5, 3);
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    for (const float v : call.destination) EXPECT_EQ(v, call.sourceAt(0, 0));
}

TEST(ResizeMap, ScaledWidthOfOneWritesTheFirstColumnOnly) {
    // w * fx = 4 * 0.25 = 1: the formula would divide by w * fx - 1 = 0.
    ResizeCall call(4, 2, 3, 2);
    call.xFactor = 0.25;
    call.yFactor = 1.0;
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    EXPECT_EQ(call.at(0, 0), call.sourceAt(0, 0));
    EXPECT_EQ(call.at(0, 1), call.sourceAt(0, 1));
    EXPECT_EQ(call.at(1, 0), -777.0f);
}

TEST(ResizeMap, FactorTooSmallForOneColumnWritesNothing) {
    ResizeCall call(4, 4, 3, 3);
    call.xFactor = 0.1;
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    EXPECT_TRUE(call.untouched());
}

TEST(ResizeMap, HugeFactorIsCappedByTheDestination) {
    ResizeCall call(3, 3, 6, 6);
    call.xFactor = 1e300;
    call.yFactor = 2.0;
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    // The scaled width is enormous: positions X * 2 / (3e300 - 1) are all ~0.
    for (int Y = 0; Y < 6; ++Y) {
        for (int X = 0; X < 6; ++X) EXPECT_EQ(call.at(X, Y), call.at(0, Y));
    }
}

TEST(ResizeMap, NearestTakesTheValueAtTheRoundedPosition) {
    ResizeCall call(4, 4, 8, 8);
    call.interpolation = kelmo::kInterpolationNearest;
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    // x = X * 3 / 7 rounded half up: 0 0 1 1 2 2 3 3.
    const int index[8] = {0, 0, 1, 1, 2, 2, 3, 3};
    for (int Y = 0; Y < 8; ++Y) {
        for (int X = 0; X < 8; ++X) EXPECT_EQ(call.at(X, Y), call.sourceAt(index[X], index[Y])) << X << "," << Y;
    }
}

TEST(ResizeMap, ShrinkingStillLandsOnTheCorners) {
    ResizeCall call(9, 9, 3, 3);
    call.xFactor = 1.0 / 3.0;
    call.yFactor = 1.0 / 3.0;
    ASSERT_EQ(call.run(), kelmo::kResampleOk);
    // x = X * 8 / 2: 0, 4, 8, all on source values.
    for (int Y = 0; Y < 3; ++Y) {
        for (int X = 0; X < 3; ++X) EXPECT_EQ(call.at(X, Y), call.sourceAt(4 * X, 4 * Y));
    }
}

TEST(ResizeMap, StepsNeedNotBeMultiplesOfFour) {
    const int w = 5, h = 3, W = 10, H = 6;
    const int sourceStep = 4 * w + 3, destinationStep = 4 * W + 1;
    const std::vector<float> values = randomMap(w, h, 17);
    std::vector<uint8_t> source(static_cast<std::size_t>(sourceStep) * (h - 1) + 4 * w);
    for (int y = 0; y < h; ++y) {
        std::memcpy(&source[static_cast<std::size_t>(y) * sourceStep], &values[static_cast<std::size_t>(y) * w], 4 * w);
    }
    std::vector<uint8_t> destination(static_cast<std::size_t>(destinationStep) * (H - 1) + 4 * W);
    ASSERT_EQ(kelmo::resizeMap(reinterpret_cast<const float *>(source.data()), w, h, sourceStep, IntRect{0, 0, w, h},
                               reinterpret_cast<float *>(destination.data()), destinationStep, W, H, 2.0, 2.0,
                               kelmo::kInterpolationBilinear),
              kelmo::kResampleOk);
    const std::vector<float> expected = referenceResize(values, w, 0, 0, w, h, 2.0, 2.0, W, H);
    for (int Y = 0; Y < H; ++Y) {
        for (int X = 0; X < W; ++X) {
            float v;
            std::memcpy(&v, &destination[static_cast<std::size_t>(Y) * destinationStep + 4 * X], 4);
            ASSERT_EQ(v, expected[static_cast<std::size_t>(Y) * W + X]);
        }
    }
}

}  // namespace
