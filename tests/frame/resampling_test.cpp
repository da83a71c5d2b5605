// The resampling primitives remap, copy4 and resizeMap against formulas
// written out here in double precision.
//
// Buffers are allocated to their exact size (the last row has no padding), so
// that the sanitizer build reports a read past the last row; other rows carry
// step padding of a sentinel value, so that reading or writing past a row's
// end changes a result that the tests compare.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "frame/resampling_reference.h"

namespace {

using namespace kelmo_test;

// One remap of a source into a destination filled with kUntouched, maps set
// by `position(i, j)`; returns the status.
struct Remap {
    ByteImage source, destination;
    FloatMap xMap, yMap;
    IntRect rect;
    int32_t interpolation = kelmo::kInterpolationBilinear;
    Remap(int channels, int32_t w, int32_t h, int32_t dw, int32_t dh, uint32_t seed = 1)
        : source(w, h, channels, 3), destination(dw, dh, channels, 2), xMap(dw, dh, 6), yMap(dw, dh, 1), rect{0, 0, w, h} {
        std::mt19937 random(seed);
        source.randomise(random);
    }
    void set(int32_t i, int32_t j, float x, float y) {
        xMap.set(i, j, x);
        yMap.set(i, j, y);
    }
    int32_t run() {
        return kelmo::remap(source.channels, source.bytes.data(), source.width, source.height, source.step, rect,
                            xMap.data(), xMap.step, yMap.data(), yMap.step, destination.bytes.data(),
                            destination.step, destination.width, destination.height, interpolation);
    }
    bool inside(double x, double y) const {
        return x >= rect.x && x <= rect.x + std::min(source.width - rect.x, rect.width) - 1 && y >= rect.y &&
               y <= rect.y + std::min(source.height - rect.y, rect.height) - 1;
    }
    // Destination expected from `sample` where the map is inside the area.
    std::vector<uint8_t> expected(const std::function<int(double, double, int)> &sample) const {
        ByteImage result = destination;
        for (int32_t j = 0; j < destination.height; ++j) {
            for (int32_t i = 0; i < destination.width; ++i) {
                if (!inside(xMap.get(i, j), yMap.get(i, j))) continue;
                for (int c = 0; c < source.channels; ++c) result.at(i, j, c) = uint8_t(sample(xMap.get(i, j), yMap.get(i, j), c));
            }
        }
        return result.bytes;
    }
};

TEST(Remap, RefusesBadArgumentsInItsOrderWithoutWriting) {
    using Args = std::tuple<int, const uint8_t *, int32_t, int32_t, int32_t, IntRect, const float *, int32_t,
                            const float *, int32_t, uint8_t *, int32_t, int32_t, int32_t, int32_t>;
    uint8_t source[64] = {}, destination[64];
    std::fill_n(destination, 64, kUntouched);
    float map[16] = {};
    const Args valid{1, source, 4, 4, 4, IntRect{0, 0, 4, 4}, map, 16, map, 16, destination, 4, 4, 4, 2};
    const std::pair<int32_t, std::function<void(Args &)>> cases[] = {
        {kelmo::kResampleBadSize, [](Args &a) { std::get<0>(a) = 2; std::get<1>(a) = nullptr; }},  // channels first
        {kelmo::kResampleNullPointer, [](Args &a) { std::get<1>(a) = nullptr; std::get<2>(a) = 0; std::get<14>(a) = 3; }},
        {kelmo::kResampleNullPointer, [](Args &a) { std::get<6>(a) = nullptr; }},
        {kelmo::kResampleNullPointer, [](Args &a) { std::get<8>(a) = nullptr; }},
        {kelmo::kResampleNullPointer, [](Args &a) { std::get<10>(a) = nullptr; }},
        {kelmo::kResampleBadSize, [](Args &a) { std::get<2>(a) = 0; std::get<14>(a) = 3; std::get<4>(a) = 0; }},
        {kelmo::kResampleBadSize, [](Args &a) { std::get<3>(a) = -3; }},
        {kelmo::kResampleBadSize, [](Args &a) { std::get<12>(a) = 0; }},
        {kelmo::kResampleBadSize, [](Args &a) { std::get<13>(a) = 0; }},
        {kelmo::kResampleBadSize, [](Args &a) { std::get<5>(a).x = -1; }},
        {kelmo::kResampleBadSize, [](Args &a) { std::get<5>(a).height = 0; }},
        {kelmo::kResampleBadInterpolation, [](Args &a) { std::get<14>(a) = 3; std::get<4>(a) = 0; std::get<5>(a).x = 9; }},
        {kelmo::kResampleBadInterpolation, [](Args &a) { std::get<14>(a) = 0; }},
        {kelmo::kResampleBadStep, [](Args &a) { std::get<4>(a) = 0; std::get<5>(a).x = 9; }},
        {kelmo::kResampleBadStep, [](Args &a) { std::get<7>(a) = -4; }},
        {kelmo::kResampleBadStep, [](Args &a) { std::get<9>(a) = 0; }},
        {kelmo::kResampleBadStep, [](Args &a) { std::get<11>(a) = 0; }},
        {kelmo::kResampleOutsideSource, [](Args &a) { std::get<5>(a).x = 4; }},
        {kelmo::kResampleOutsideSource, [](Args &a) { std::get<5>(a).y = 9; }},
    };
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        Args args = valid;
        cases[k].second(args);
        EXPECT_EQ(std::apply(kelmo::remap, args), cases[k].first) << "case " << k;
        EXPECT_TRUE(std::all_of(destination, destination + 64, [](uint8_t b) { return b == kUntouched; }));
    }
    EXPECT_EQ(std::apply(kelmo::remap, valid), kelmo::kResampleOk);
}

TEST(Remap, BilinearMatchesTheFormulaOnAnyMapAndLeavesPixelsOutsideTheArea) {
    std::mt19937 random(99);
    for (int channels : {1, 3, 4}) {
        Remap remap(channels, 37, 23, 29, 17, 7u + channels);
        remap.source.randomise(random, 255);
        remap.rect = IntRect{3, 2, 30, 40};  // clipped in y to rows 2..22
        std::uniform_real_distribution<float> xs(3, 32), ys(2, 22), kind(0, 1);
        for (int32_t j = 0; j < 17; ++j) {
            for (int32_t i = 0; i < 29; ++i) {
                float x = xs(random), y = ys(random);
                const float k = kind(random), column = float(int(x)), row = float(int(y));
                if (k < 0.1f) x = column;                                       // on a column
                else if (k < 0.2f) y = row;                                     // on a row
                else if (k < 0.3f) x = std::nextafter(column, 0.0f);            // just below a column
                else if (k < 0.35f) x = 32.0f;                                  // the area's last column
                else if (k < 0.4f) y = 22.0f;                                   // the source's last row
                else if (k < 0.45f) x = std::nextafter(3.0f, 0.0f);             // just outside
                else if (k < 0.5f) y = k < 0.47f ? kNan : 22.001f;
                remap.set(i, j, x, y);
            }
        }
        const auto expected = remap.expected([&](double x, double y, int c) { return referenceBilinear(remap.source, x, y, c); });
        ASSERT_EQ(remap.run(), kelmo::kResampleOk);
        EXPECT_EQ(remap.destination.bytes, expected) << channels << " channels";  // padding included
    }
}

TEST(Remap, NearestRoundsHalfUpAndOnePixelWideSourcesAreSampledNearest) {
    const struct {
        int32_t width, height, interpolation;
        float x, y;
        int expectedX, expectedY;  // -1: pixel unchanged
    } cases[] = {{6, 6, 1, 1.5f, 2.5f, 2, 3},  {6, 6, 1, 1.49f, 2.51f, 1, 3}, {6, 6, 1, 5.0f, 4.6f, 5, 5},
                 {6, 6, 1, 0.0f, 0.4f, 0, 0},  {1, 5, 2, 0.0f, 2.5f, 0, 3},   {1, 5, 4, 0.0f, 2.49f, 0, 2},
                 {5, 1, 2, 3.4f, 0.0f, 3, 0},  {5, 1, 4, 1.5f, 0.0f, 2, 0},   {1, 1, 2, 0.0f, 0.0f, 0, 0},
                 {1, 1, 2, 0.2f, 0.0f, -1, -1}, {1, 1, 1, 0.0f, 1.0f, -1, -1}};
    for (const auto &c : cases) {
        Remap remap(3, c.width, c.height, 1, 1);
        remap.interpolation = c.interpolation;
        remap.set(0, 0, c.x, c.y);
        ASSERT_EQ(remap.run(), kelmo::kResampleOk);
        for (int ch = 0; ch < 3; ++ch) {
            EXPECT_EQ(remap.destination.at(0, 0, ch), c.expectedX < 0 ? kUntouched : remap.source.at(c.expectedX, c.expectedY, ch))
                << c.width << "x" << c.height << " at " << c.x << "," << c.y;
        }
    }
}

TEST(Remap, CubicReproducesQuadraticsClampsOvershootAndFallsBackToBilinearOnSmallSources) {
    // Keys' kernel with a = -0.5 reproduces a quadratic exactly away from the edges.
    std::mt19937 random(7);
    Remap ramp(4, 9, 8, 20, 10);
    for (int32_t y = 0; y < 8; ++y) {
        for (int32_t x = 0; x < 9; ++x) {
            for (int c = 0; c < 4; ++c) ramp.source.at(x, y, c) = uint8_t(2 * x * x + 5 * y + 30 * c);
        }
    }
    ramp.interpolation = kelmo::kInterpolationCubic;
    std::uniform_real_distribution<float> xs(1, 6), ys(1, 5);
    for (int32_t j = 0; j < 10; ++j) {
        for (int32_t i = 0; i < 20; ++i) ramp.set(i, j, xs(random), ys(random));
    }
    ASSERT_EQ(ramp.run(), kelmo::kResampleOk);
    for (int32_t j = 0; j < 10; ++j) {
        for (int32_t i = 0; i < 20; ++i) {
            const double x = ramp.xMap.get(i, j), y = ramp.yMap.get(i, j);
            for (int c = 0; c < 4; ++c) ASSERT_NEAR(ramp.destination.at(i, j, c), 2 * x * x + 5 * y + 30 * c, 0.5 + 1e-6);
        }
    }
    // A step from 0 to 255 overshoots on both sides; the result is clamped.
    Remap step(1, 6, 4, 2, 1);
    for (int32_t x = 0; x < 6; ++x) {
        for (int32_t y = 0; y < 4; ++y) step.source.at(x, y, 0) = x < 2 ? 0 : 255;
    }
    step.interpolation = kelmo::kInterpolationCubic;
    step.set(0, 0, 2.2f, 1.0f);
    step.set(1, 0, 0.8f, 1.0f);
    ASSERT_EQ(step.run(), kelmo::kResampleOk);
    EXPECT_EQ(step.destination.at(0, 0, 0), 255);
    EXPECT_EQ(step.destination.at(1, 0, 0), 0);
    for (const auto &[w, h] : {std::pair{3, 6}, std::pair{6, 3}}) {
        Remap small(3, w, h, 6, 6);
        small.interpolation = kelmo::kInterpolationCubic;
        for (int32_t j = 0; j < 6; ++j) {
            for (int32_t i = 0; i < 6; ++i) small.set(i, j, float(random() % 100) / 99 * float(w - 1), float(random() % 100) / 99 * float(h - 1));
        }
        const auto expected = small.expected([&](double x, double y, int c) { return referenceBilinear(small.source, x, y, c); });
        ASSERT_EQ(small.run(), kelmo::kResampleOk);
        EXPECT_EQ(small.destination.bytes, expected) << w << "x" << h;
    }
}

TEST(Remap, HostileMapsOnTinySourcesTouchOnlyPixelsInsideTheArea) {
    std::mt19937 random(2024);
    const float specials[] = {kNan, std::numeric_limits<float>::infinity(), -1e20f, 2147483648.0f, -0.0f, 1.0f, 2.0f, 4.0f};
    std::uniform_real_distribution<float> wide(-3, 8), coin(0, 1);
    for (int channels : {1, 3, 4}) {
        for (int32_t interpolation : {1, 2, 4}) {
            for (int32_t w = 1; w <= 5; ++w) {
                for (int32_t h = 1; h <= 5; ++h) {
                    Remap remap(channels, w, h, 12, 12);
                    remap.interpolation = interpolation;
                    remap.rect = IntRect{std::min(w - 1, 1), 0, 3, 9};
                    for (int32_t j = 0; j < 12; ++j) {
                        for (int32_t i = 0; i < 12; ++i) {
                            remap.set(i, j, coin(random) < 0.3f ? specials[random() % 8] : wide(random),
                                      coin(random) < 0.3f ? specials[random() % 8] : wide(random));
                        }
                    }
                    // 255 marks the bytes that may change; the rest, row padding included, stay.
                    const std::vector<uint8_t> mask = remap.expected([](double, double, int) { return 255; });
                    ASSERT_EQ(remap.run(), kelmo::kResampleOk);
                    for (std::size_t k = 0; k < mask.size(); ++k) {
                        ASSERT_TRUE(mask[k] == 255 || remap.destination.bytes[k] == mask[k]) << k;
                    }
                }
            }
        }
    }
}

TEST(Copy4, CopiesRowsOfFourBytePixelsAtTheirStepsAndRefusesBadArguments) {
    const int32_t width = 3, height = 4, sourceStep = 22, destinationStep = 20;
    std::vector<uint8_t> source(std::size_t(sourceStep * height));
    for (std::size_t k = 0; k < source.size(); ++k) source[k] = uint8_t(k * 3 + 1);
    std::vector<uint8_t> destination(std::size_t(destinationStep * height), kUntouched);
    ASSERT_EQ(kelmo::copy4(source.data() + 4, sourceStep, destination.data(), destinationStep, width, height), 0);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t b = 0; b < destinationStep; ++b) {
            EXPECT_EQ(destination[std::size_t(y * destinationStep + b)], b < 12 ? source[std::size_t(y * sourceStep + 4 + b)] : kUntouched);
        }
    }
    const std::vector<uint8_t> before = destination;
    uint8_t *d = destination.data();
    const uint8_t *s = source.data();
    EXPECT_EQ(kelmo::copy4(nullptr, 0, nullptr, 0, 0, 0), kelmo::kResampleNullPointer);
    EXPECT_EQ(kelmo::copy4(s, 8, nullptr, 8, 1, 1), kelmo::kResampleNullPointer);
    EXPECT_EQ(kelmo::copy4(s, 0, d, 0, 0, 2), kelmo::kResampleBadSize);
    EXPECT_EQ(kelmo::copy4(s, 8, d, 8, 2, -1), kelmo::kResampleBadSize);
    EXPECT_EQ(kelmo::copy4(s, 0, d, 8, 2, 2), kelmo::kResampleBadStep);
    EXPECT_EQ(kelmo::copy4(s, 8, d, -8, 2, 2), kelmo::kResampleBadStep);
    EXPECT_EQ(destination, before);
}

TEST(ResizeMap, MatchesTheCornerAlignedFormulaBitForBit) {
    const struct {
        int w, h, W, H;
        IntRect rect;
        double xFactor, yFactor;
        int32_t interpolation;
    } cases[] = {
        {7, 5, 14, 10, {0, 0, 7, 5}, 2.0, 2.0, 2},         {7, 5, 15, 11, {0, 0, 7, 5}, 15 / 7.0, 11 / 5.0, 2},
        {128, 128, 256, 256, {0, 0, 128, 128}, 2, 2, 2}, {30, 20, 61, 41, {0, 0, 30, 20}, 61 / 30.0, 41 / 20.0, 2},
        {9, 7, 8, 6, {2, 1, 4, 3}, 2.0, 2.0, 2},           {6, 4, 8, 6, {2, 0, 50, 50}, 2.0, 1.5, 2},  // clipped rectangle
        {7, 5, 10, 6, {0, 0, 7, 5}, 2.0, 2.0, 2},          {7, 5, 20, 9, {0, 0, 7, 5}, 1.5, 1.5, 2},   // capped, partial
        {49, 2, 3, 4, {0, 0, 49, 2}, 1 / 49.0, 2.0, 2},    {1, 3, 4, 6, {0, 0, 1, 3}, 4.0, 2.0, 2},    // one column
        {1, 1, 5, 3, {0, 0, 1, 1}, 5.0, 3.0, 2},           {4, 2, 3, 2, {0, 0, 4, 2}, 0.25, 1.0, 2},
        {4, 4, 3, 3, {0, 0, 4, 4}, 0.1, 1.0, 2},           {3, 3, 6, 6, {0, 0, 3, 3}, 1e300, 2.0, 2},
        {9, 9, 3, 3, {0, 0, 9, 9}, 1 / 3.0, 1 / 3.0, 2},   {4, 4, 8, 8, {0, 0, 4, 4}, 2.0, 2.0, 1},    // nearest
    };
    for (const auto &c : cases) {
        // Rows padded with NaN: a read past a row's end would show.
        const int stride = c.w + 2;
        std::vector<float> source(std::size_t(stride * (c.h - 1) + c.w), kNan);
        std::mt19937 random(uint32_t(c.w * 31 + c.h));
        std::uniform_real_distribution<float> value(-40, 40);
        for (int y = 0; y < c.h; ++y) {
            for (int x = 0; x < c.w; ++x) source[std::size_t(y * stride + x)] = value(random);
        }
        std::vector<float> destination(std::size_t(c.W * c.H), -777.0f), expected = destination;
        ASSERT_EQ(kelmo::resizeMap(source.data(), c.w, c.h, 4 * stride, c.rect, destination.data(), 4 * c.W, c.W, c.H,
                                   c.xFactor, c.yFactor, c.interpolation),
                  kelmo::kResampleOk);
        referenceResize(source, stride, c.w, c.h, c.rect, c.xFactor, c.yFactor, c.interpolation == 1, expected, c.W, c.H);
        for (std::size_t k = 0; k < expected.size(); ++k) {
            ASSERT_EQ(destination[k], expected[k]) << c.w << "x" << c.h << " to " << c.W << "x" << c.H << " at " << k;
        }
    }
}

TEST(ResizeMap, RefusesBadArgumentsInItsOrderWithoutWriting) {
    float source[16] = {}, destination[16];
    std::fill_n(destination, 16, -777.0f);
    const IntRect rect{0, 0, 4, 4}, beyond{4, 0, 2, 2};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const auto resize = [&](const float *s, int32_t w, int32_t step, IntRect r, float *d, int32_t dw, double f, int32_t i) {
        return kelmo::resizeMap(s, w, 4, step, r, d, 16, dw, 4, f, 2.0, i);
    };
    EXPECT_EQ(resize(nullptr, 0, 0, beyond, destination, 4, nan, 4), kelmo::kResampleNullPointer);
    EXPECT_EQ(resize(source, 4, 16, rect, nullptr, 4, 2.0, 2), kelmo::kResampleNullPointer);
    EXPECT_EQ(resize(source, 0, 0, beyond, destination, 4, nan, 4), kelmo::kResampleBadSize);
    EXPECT_EQ(resize(source, 4, 16, rect, destination, -1, 2.0, 2), kelmo::kResampleBadSize);
    EXPECT_EQ(resize(source, 4, 16, IntRect{0, -2, 4, 4}, destination, 4, 2.0, 2), kelmo::kResampleBadSize);
    EXPECT_EQ(resize(source, 4, 16, IntRect{0, 0, 0, 4}, destination, 4, 2.0, 2), kelmo::kResampleBadSize);
    EXPECT_EQ(resize(source, 4, 0, beyond, destination, 4, nan, 4), kelmo::kResampleBadInterpolation);  // cubic
    EXPECT_EQ(resize(source, 4, 0, beyond, destination, 4, nan, 0), kelmo::kResampleBadInterpolation);
    for (double factor : {0.0, -2.0, nan, std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(resize(source, 4, 0, beyond, destination, 4, factor, 2), kelmo::kResampleBadFactor) << factor;
    }
    EXPECT_EQ(resize(source, 4, 0, beyond, destination, 4, 2.0, 2), kelmo::kResampleBadStep);
    EXPECT_EQ(resize(source, 4, 16, beyond, destination, 4, 2.0, 2), kelmo::kResampleOutsideSource);
    EXPECT_EQ(resize(source, 4, 16, IntRect{0, 7, 2, 2}, destination, 4, 2.0, 2), kelmo::kResampleOutsideSource);
    EXPECT_TRUE(std::all_of(destination, destination + 16, [](float v) { return v == -777.0f; }));
}

}  // namespace
