// The resampling primitives remap, copy4 and resizeMap against their
// descriptions in frame/resampling.h, written out here in double precision.
//
// Buffers have their exact size (the last row has no padding), so that the
// sanitizer build reports a read past the last row; other rows carry step
// padding of a sentinel, so that reading or writing past a row's end changes
// a result that the tests compare.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "frame/kernel_level.h"
#include "frame/resampling.h"

namespace {

using kelmo::IntRect;

constexpr uint8_t kPadding = 250, kUntouched = 77;  // never values of the sources below
const float kNan = std::numeric_limits<float>::quiet_NaN();

// Rows of `channels` bytes per pixel at a step of `padding` bytes more.
struct ByteImage {
    int32_t width, height, channels, step;
    std::vector<uint8_t> bytes;
    ByteImage(int32_t w, int32_t h, int32_t c, int32_t padding)
        : width(w), height(h), channels(c), step(w * c + padding), bytes(std::size_t(step * (h - 1) + w * c), kPadding) {
        for (int32_t y = 0; y < h; ++y) std::fill_n(bytes.begin() + y * step, w * c, kUntouched);
    }
    uint8_t &at(int32_t x, int32_t y, int32_t c) { return bytes[std::size_t(y * step + x * channels + c)]; }
    int at(int32_t x, int32_t y, int32_t c) const { return bytes[std::size_t(y * step + x * channels + c)]; }
};

// Floats at a step in bytes, which need not be a multiple of 4.
struct FloatMap {
    int32_t step;
    std::vector<uint8_t> bytes;
    FloatMap(int32_t w, int32_t h, int32_t padding) : step(w * 4 + padding), bytes(std::size_t(step * (h - 1) + w * 4)) {}
    void set(int32_t x, int32_t y, float v) { std::memcpy(&bytes[std::size_t(y * step + x * 4)], &v, 4); }
    float get(int32_t x, int32_t y) const {
        float v;
        std::memcpy(&v, &bytes[std::size_t(y * step + x * 4)], 4);
        return v;
    }
    float *data() { return reinterpret_cast<float *>(bytes.data()); }
};

// The documented sample at (x, y): a source one pixel wide or high, or
// nearest interpolation, takes the pixel at the position rounded half up;
// bilinear takes per axis the index a little above the position (1e-7, so
// that rounding noise below an integer counts as that integer) and its
// fraction, the last column (row) blended from the one before with weight 1.
int expectedSample(const ByteImage &s, double x, double y, int c, int32_t interpolation) {
    if (s.width == 1 || s.height == 1 || interpolation == kelmo::kInterpolationNearest) return s.at(int(x + 0.5), int(y + 0.5), c);
    const auto axis = [](double position, int size, int &index, double &fraction) {
        index = int(position + 0.0000001);
        fraction = position - index;
        if (index >= size - 1) {
            index = size - 2;
            fraction = 1.0;
        }
    };
    int ix, iy;
    double fx, fy;
    axis(x, s.width, ix, fx);
    axis(y, s.height, iy, fy);
    const double top = s.at(ix, iy, c) + fx * (s.at(ix + 1, iy, c) - s.at(ix, iy, c));
    const double bottom = s.at(ix, iy + 1, c) + fx * (s.at(ix + 1, iy + 1, c) - s.at(ix, iy + 1, c));
    return int(top + fy * (bottom - top) + 0.5);
}

// A remap of `pixel(x, y, channel)` into a destination of kUntouched bytes.
struct Remap {
    ByteImage source, destination;
    FloatMap xMap, yMap;
    IntRect rect;
    int32_t interpolation;
    Remap(int channels, int32_t w, int32_t h, int32_t dw, int32_t dh, int32_t how, const std::function<int(int, int, int)> &pixel)
        : source(w, h, channels, 3), destination(dw, dh, channels, 2), xMap(dw, dh, 6), yMap(dw, dh, 1), rect{0, 0, w, h},
          interpolation(how) {
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w * channels; ++x) source.at(x / channels, y, x % channels) = uint8_t(pixel(x / channels, y, x % channels));
        }
    }
    int32_t run() {
        return kelmo::remap(source.channels, source.bytes.data(), source.width, source.height, source.step, rect,
                            xMap.data(), xMap.step, yMap.data(), yMap.step, destination.bytes.data(), destination.step,
                            destination.width, destination.height, interpolation);
    }
    // Every destination byte: `sample` where the map lies inside the usable
    // area (bounds included, NaN outside), else what it holds; NaN: any value.
    std::vector<double> expected(const std::function<double(double, double, int)> &sample) const {
        std::vector<double> result(destination.bytes.begin(), destination.bytes.end());
        const int right = rect.x + std::min(source.width - rect.x, rect.width) - 1;
        const int bottom = rect.y + std::min(source.height - rect.y, rect.height) - 1;
        for (int32_t j = 0; j < destination.height; ++j) {
            for (int32_t i = 0; i < destination.width; ++i) {
                const double x = xMap.get(i, j), y = yMap.get(i, j);
                if (!(x >= rect.x && x <= right && y >= rect.y && y <= bottom)) continue;
                for (int c = 0; c < source.channels; ++c) result[std::size_t(j * destination.step + i * source.channels + c)] = sample(x, y, c);
            }
        }
        return result;
    }
};

// Runs `body` at every kernel level this CPU has, the plain one first, and
// at AVX-512 once more without the byte permutes where the CPU has them
// (processors without them run the other AVX-512 kernels); then goes back to
// the best level.
void atEveryKernelLevel(const std::function<void(kelmo::KernelLevel)> &body) {
    for (int level = 0; level <= int(kelmo::bestKernelLevel()); ++level) {
        body(kelmo::setKernelLevel(kelmo::KernelLevel(level)));
    }
    if (kelmo::kernelLevel() == kelmo::KernelLevel::Avx512 && kelmo::byteShufflesEnabled()) {
        SCOPED_TRACE("AVX-512 without byte permutes");
        kelmo::setByteShufflesEnabled(false);
        body(kelmo::KernelLevel::Avx512);
        kelmo::setByteShufflesEnabled(true);
    }
    kelmo::setKernelLevel(kelmo::bestKernelLevel());
}

TEST(Remap, SamplesEveryPositionInsideTheAreaAndLeavesEveryOtherByteAtEveryKernelLevel) {
    atEveryKernelLevel([](kelmo::KernelLevel level) {
        std::mt19937 random(2024);
        const float specials[] = {kNan, std::numeric_limits<float>::infinity(), -1e20f, 2147483648.0f, -0.0f,
                                  std::nextafter(1.0f, 0.0f), 1.5f, 2.5f, 2.0f, 4.0f};
        std::uniform_real_distribution<float> coin(0, 1);
        for (const auto &[w, h] : {std::pair{1, 1}, {1, 5}, {5, 1}, {2, 2}, {3, 6}, {6, 3}, {5, 5}, {9, 8}, {37, 23}}) {
            for (int32_t interpolation : {1, 2, 4}) {
                for (int channels : {1, 3, 4}) {
                    // Keys' cubic kernel (a = -0.5) reproduces a quadratic exactly
                    // away from the edges: cubic sources of 4 x 4 and more hold one.
                    const bool cubic = interpolation == 4 && w >= 4 && h >= 4;
                    const auto quadratic = [](double x, double y, int c) { return 2 * x * x + 5 * y + 30 * c; };
                    Remap remap(channels, w, h, 21, 12, interpolation,
                                [&](int x, int y, int c) { return cubic && w < 10 ? int(quadratic(x, y, c)) : int(random() % 201); });
                    remap.rect = IntRect{w / 3, h / 4, std::max(1, w * 2 / 3), h + 9};  // clipped below
                    std::uniform_real_distribution<float> xs(-2, float(w + 1)), ys(-2, float(h + 1));
                    for (int32_t j = 0; j < 12; ++j) {
                        // Rows of whole blocks of lanes inside, and of blocks with
                        // positions outside.
                        const bool inside = j % 2 == 0;
                        for (int32_t i = 0; i < 21; ++i) {
                            if (inside) {
                                const int right = remap.rect.x + std::min(w - remap.rect.x, remap.rect.width) - 1;
                                const int bottom = remap.rect.y + std::min(h - remap.rect.y, remap.rect.height) - 1;
                                remap.xMap.set(i, j, std::uniform_real_distribution<float>(float(remap.rect.x), float(right))(random));
                                remap.yMap.set(i, j, std::uniform_real_distribution<float>(float(remap.rect.y), float(bottom))(random));
                                continue;
                            }
                            const float x = xs(random), y = ys(random);
                            remap.xMap.set(i, j, coin(random) < 0.2f ? specials[random() % 10] : coin(random) < 0.2f ? std::round(x) : x);
                            remap.yMap.set(i, j, coin(random) < 0.2f ? specials[random() % 10] : coin(random) < 0.2f ? std::round(y) : y);
                        }
                    }
                    const auto expected = remap.expected([&](double x, double y, int c) {
                        if (!cubic) return double(expectedSample(remap.source, x, y, c, interpolation));
                        return w < 10 && x >= 1 && x <= w - 3 && y >= 1 && y <= h - 3 ? quadratic(x, y, c) : kNan;
                    });
                ASSERT_EQ(remap.run(), kelmo::kResampleOk);
                for (std::size_t k = 0; k < expected.size(); ++k) {
                    ASSERT_TRUE(std::isnan(expected[k]) || std::fabs(remap.destination.bytes[k] - expected[k]) <= (cubic ? 0.5 + 1e-6 : 0))
                        << w << "x" << h << ", interpolation " << interpolation << ", " << channels << " channels, byte " << k
                        << ", level " << int(level);
                }
            }
        }
    }
    });
    // A position a rounding error below a column counts as that column: taken
    // as column 1 (fraction -2^-24) this sample is 0; as column 0 it would be 1.
    const uint8_t rows[2][4] = {{0, 0, 255, 0}, {1, 1, 1, 0}};
    Remap edge(1, 4, 2, 1, 1, kelmo::kInterpolationBilinear, [&](int x, int y, int) { return rows[y][x]; });
    edge.xMap.set(0, 0, std::nextafter(1.0f, 0.0f));
    edge.yMap.set(0, 0, 0.5f);
    ASSERT_EQ(edge.run(), kelmo::kResampleOk);
    EXPECT_EQ(edge.destination.at(0, 0, 0), 0);
}

// Smooth maps, as warps and scalings make them: neighbouring destination
// pixels sample neighbouring source pixels, so the wide kernels take their
// block paths (a few source rows loaded whole) wherever a block's positions
// lie close together, and their per-pixel paths elsewhere. Positions reach
// the last row and column and the bottom-right corner, where a row loaded
// whole would pass the end of the source.
TEST(Remap, SmoothMapsMatchTheFormulaBitForBitAtEveryKernelLevel) {
    struct Field {
        const char *name;
        std::function<std::pair<double, double>(double, double)> at;  // destination (i, j) to source (x, y)
    };
    const Field fields[] = {
        {"warp", [](double i, double j) { return std::pair{i + 3 * std::sin(j / 7) + 0.4, j + 2.5 * std::cos(i / 5)}; }},
        {"enlarged", [](double i, double j) { return std::pair{i * 0.37, j * 0.41}; }},
        {"reduced", [](double i, double j) { return std::pair{i * 2.3, j * 1.7}; }},
        // Eight pixels spread over the widest window of four (15 columns)
        // and of three channels (20 columns), and one column more.
        {"reduced to a window's edge", [](double i, double j) { return std::pair{i * (int(j) % 2 ? 2.15 : 2.86), j * 0.5}; }},
        {"mirrored", [](double i, double j) { return std::pair{70 - i * 1.1, j}; }},
        {"turned", [](double i, double j) { return std::pair{i * 0.87 - j * 0.5 + 18, i * 0.5 + j * 0.87}; }},
        {"corner", [](double i, double j) { return std::pair{i + 30, j + 20}; }},  // clipped at the far edges
        {"whole pixels", [](double i, double j) { return std::pair{std::floor(i * 0.6), std::floor(j * 0.8)}; }},
        // Exact rounding ties (a blend of two bytes whose sum is odd), and
        // blends a few float steps to either side of one, where a narrower
        // arithmetic would round the other way.
        {"half pixels", [](double i, double j) { return std::pair{i * 0.5, j * 0.5}; }},
        {"near ties", [](double i, double j) {
             const double step = std::ldexp(1.0, -18);
             return std::pair{std::floor(i * 0.7) + 0.5 + (int(i) % 9 - 4) * step,
                              std::floor(j * 0.6) + (int(j) % 3 == 0 ? 0.5 + (int(j) % 7 - 3) * step : 0.0)};
         }},
        // Fractions of a few 1e-8 in the first column, where the fraction is
        // the position itself.
        {"tiny fractions", [](double i, double j) { return std::pair{i < 8 ? i * 3e-8 : i * 0.9, j * 0.75}; }},
    };
    atEveryKernelLevel([&fields](kelmo::KernelLevel level) {
        for (int channels : {1, 3, 4}) {
            for (const auto &[w, h] : {std::pair{64, 48}, {45, 33}}) {
                for (const Field &field : fields) {
                    std::mt19937 random(7);
                    Remap remap(channels, w, h, 67, 41, kelmo::kInterpolationBilinear, [&](int, int, int) { return int(random() % 256); });
                    for (int32_t j = 0; j < 41; ++j) {
                        for (int32_t i = 0; i < 67; ++i) {
                            const auto [x, y] = field.at(i, j);
                            // Within the source, so that blocks stay whole: the
                            // far edges themselves included.
                            remap.xMap.set(i, j, float(std::clamp(x, 0.0, w - 1.0)));
                            remap.yMap.set(i, j, float(std::clamp(y, 0.0, h - 1.0)));
                        }
                    }
                    const auto expected =
                        remap.expected([&](double x, double y, int c) { return double(expectedSample(remap.source, x, y, c, 2)); });
                    ASSERT_EQ(remap.run(), kelmo::kResampleOk);
                    for (std::size_t k = 0; k < expected.size(); ++k) {
                        ASSERT_EQ(remap.destination.bytes[k], expected[k])
                            << field.name << ", " << w << "x" << h << ", " << channels << " channels, byte " << k << ", level " << int(level);
                    }
                }
            }
        }
    });
}

// Blends within 2^-17 and 2^-16 of a rounding boundary that float
// arithmetic puts on the wrong side (found by a search over bytes and
// positions near simple fractions): narrower arithmetic must notice them.
TEST(Remap, BlendsBesideARoundingBoundaryRoundAsInDouble) {
    struct Case {
        int pixels[4];  // upper left, upper right, lower left, lower right
        float x, y;
    };
    const Case cases[] = {{{152, 58, 45, 191}, 9.62501144f, 22.7499771f}, {{178, 27, 104, 255}, 49.9999924f, 61.8750038f}};
    atEveryKernelLevel([&cases](kelmo::KernelLevel level) {
        for (const Case &spot : cases) {
            for (int channels : {1, 3, 4}) {
                const int ix = int(spot.x), iy = int(spot.y);
                Remap remap(channels, 64, 64, 16, 2, kelmo::kInterpolationBilinear, [&](int x, int y, int c) {
                    const int dx = x - ix, dy = y - iy;
                    return dx >= 0 && dx <= 1 && dy >= 0 && dy <= 1 ? spot.pixels[2 * dy + dx] : (x * 7 + y * 13 + c) % 256;
                });
                for (int32_t j = 0; j < 2; ++j) {
                    for (int32_t i = 0; i < 16; ++i) remap.xMap.set(i, j, spot.x), remap.yMap.set(i, j, spot.y);
                }
                const int expected = expectedSample(remap.source, spot.x, spot.y, 0, kelmo::kInterpolationBilinear);
                ASSERT_EQ(remap.run(), kelmo::kResampleOk);
                for (int32_t i = 0; i < 16; ++i) {
                    ASSERT_EQ(remap.destination.at(i, 1, 0), expected)
                        << spot.x << ", " << spot.y << ", " << channels << " channels, level " << int(level);
                }
            }
        }
    });
}

TEST(Resampling, BadArgumentsAreRefusedInTheDocumentedOrderWithoutWriting) {
    uint8_t source[64] = {}, destination[64];
    std::fill_n(destination, 64, kUntouched);
    float map[16] = {}, target[16];
    std::fill_n(target, 16, -777.0f);
    using Args = std::tuple<int, const uint8_t *, int32_t, int32_t, int32_t, IntRect, const float *, int32_t, const float *,
                            int32_t, uint8_t *, int32_t, int32_t, int32_t, int32_t>;
    const Args valid{1, source, 4, 4, 4, IntRect{0, 0, 4, 4}, map, 16, map, 16, destination, 4, 4, 4, 2};
    const std::pair<int32_t, std::function<void(Args &)>> cases[] = {
        {kelmo::kResampleBadSize, [](Args &a) { std::get<0>(a) = 2, std::get<1>(a) = nullptr; }},  // the channels first
        {kelmo::kResampleNullPointer, [](Args &a) { std::get<1>(a) = nullptr, std::get<2>(a) = 0; }},
        {kelmo::kResampleNullPointer, [](Args &a) { std::get<6>(a) = nullptr; }},
        {kelmo::kResampleNullPointer, [](Args &a) { std::get<8>(a) = nullptr; }},
        {kelmo::kResampleNullPointer, [](Args &a) { std::get<10>(a) = nullptr; }},
        {kelmo::kResampleBadSize, [](Args &a) { std::get<2>(a) = 0, std::get<14>(a) = 3; }},
        {kelmo::kResampleBadSize, [](Args &a) { std::get<3>(a) = 0; }},
        {kelmo::kResampleBadSize, [](Args &a) { std::get<12>(a) = 0; }},
        {kelmo::kResampleBadSize, [](Args &a) { std::get<13>(a) = 0; }},
        {kelmo::kResampleBadSize, [](Args &a) { std::get<5>(a) = {-1, 0, 4, 4}; }},
        {kelmo::kResampleBadSize, [](Args &a) { std::get<5>(a) = {0, -1, 4, 4}; }},
        {kelmo::kResampleBadSize, [](Args &a) { std::get<5>(a) = {0, 0, 0, 4}; }},
        {kelmo::kResampleBadSize, [](Args &a) { std::get<5>(a) = {0, 0, 4, 0}; }},
        {kelmo::kResampleBadInterpolation, [](Args &a) { std::get<14>(a) = 3, std::get<4>(a) = 0; }},
        {kelmo::kResampleBadStep, [](Args &a) { std::get<4>(a) = 0, std::get<5>(a).x = 9; }},
        {kelmo::kResampleBadStep, [](Args &a) { std::get<7>(a) = 0; }},
        {kelmo::kResampleBadStep, [](Args &a) { std::get<9>(a) = 0; }},
        {kelmo::kResampleBadStep, [](Args &a) { std::get<11>(a) = 0; }},
        {kelmo::kResampleOutsideSource, [](Args &a) { std::get<5>(a).x = 4; }},
        {kelmo::kResampleOutsideSource, [](Args &a) { std::get<5>(a).y = 4; }},
    };
    int k = 0;
    for (const auto &[status, change] : cases) {
        Args args = valid;
        change(args);
        EXPECT_EQ(std::apply(kelmo::remap, args), status) << "remap case " << k++;
    }
    const auto resize = [&](const float *s, int32_t w, int32_t step, IntRect r, float *d, int32_t dw, double f, int32_t i) {
        return kelmo::resizeMap(s, w, 4, step, r, d, 16, dw, 4, f, 2.0, i);
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const IntRect all{0, 0, 4, 4}, beyond{4, 0, 2, 2};
    EXPECT_EQ(resize(nullptr, 0, 0, beyond, target, 4, nan, 4), kelmo::kResampleNullPointer);
    EXPECT_EQ(resize(map, 4, 16, all, nullptr, 4, 2.0, 2), kelmo::kResampleNullPointer);
    EXPECT_EQ(resize(map, 0, 0, beyond, target, 4, nan, 4), kelmo::kResampleBadSize);
    EXPECT_EQ(resize(map, 4, 16, all, target, -1, 2.0, 2), kelmo::kResampleBadSize);
    EXPECT_EQ(resize(map, 4, 16, IntRect{0, -2, 4, 4}, target, 4, 2.0, 2), kelmo::kResampleBadSize);
    EXPECT_EQ(resize(map, 4, 0, beyond, target, 4, nan, 4), kelmo::kResampleBadInterpolation);  // no cubic here
    for (double factor : {0.0, nan, std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(resize(map, 4, 0, beyond, target, 4, factor, 2), kelmo::kResampleBadFactor) << factor;
    }
    EXPECT_EQ(resize(map, 4, 0, beyond, target, 4, 2.0, 2), kelmo::kResampleBadStep);
    EXPECT_EQ(resize(map, 4, 16, beyond, target, 4, 2.0, 2), kelmo::kResampleOutsideSource);
    EXPECT_EQ(kelmo::copy4(nullptr, 0, nullptr, 0, 0, 0), kelmo::kResampleNullPointer);
    EXPECT_EQ(kelmo::copy4(source, 8, nullptr, 8, 1, 1), kelmo::kResampleNullPointer);
    EXPECT_EQ(kelmo::copy4(source, 0, destination, 0, 0, 2), kelmo::kResampleBadSize);
    EXPECT_EQ(kelmo::copy4(source, 8, destination, 8, 2, -1), kelmo::kResampleBadSize);
    EXPECT_EQ(kelmo::copy4(source, 0, destination, 8, 2, 2), kelmo::kResampleBadStep);
    EXPECT_EQ(kelmo::copy4(source, 8, destination, -8, 2, 2), kelmo::kResampleBadStep);
    EXPECT_TRUE(std::all_of(destination, destination + 64, [](uint8_t b) { return b == kUntouched; }));
    EXPECT_TRUE(std::all_of(target, target + 16, [](float v) { return v == -777.0f; }));
}

TEST(Copy4, CopiesRowsOfFourBytePixelsAtTheirOwnSteps) {
    std::vector<uint8_t> source(22 * 4), destination(20 * 4, kUntouched);
    for (std::size_t k = 0; k < source.size(); ++k) source[k] = uint8_t(k * 3 + 1);
    ASSERT_EQ(kelmo::copy4(source.data() + 4, 22, destination.data(), 20, 3, 4), kelmo::kResampleOk);
    for (std::size_t y = 0; y < 4; ++y) {
        for (std::size_t b = 0; b < 20; ++b) EXPECT_EQ(destination[y * 20 + b], b < 12 ? source[y * 22 + 4 + b] : kUntouched);
    }
}

// The map resize written out: min(trunc(size * factor + 1e-7), destination)
// values per axis, corner-aligned positions X (w - 1) / (w factor - 1) (0 for
// a single value either side) clamped to the last value, then nearest or a
// bilinear blend in double whose missing neighbour at the last row and column
// weighs 0. Values beyond those written keep theirs.
void expectedResize(const std::vector<float> &source, int stride, int width, int height, IntRect rect, double xFactor,
                    double yFactor, bool nearest, std::vector<float> &destination, int W, int H) {
    const int w = std::min(width - rect.x, rect.width), h = std::min(height - rect.y, rect.height);
    const auto taps = [nearest](int size, double factor, int limit) {
        std::vector<std::pair<int, double>> out;
        const double scaled = size * factor + 0.0000001;
        for (int X = 0, count = scaled >= limit ? limit : int(scaled); X < count; ++X) {
            const double p = size == 1 || count == 1 ? 0.0 : std::min(double(X) * (size - 1) / (size * factor - 1.0), size - 1.0);
            const int i = nearest ? std::min(int(p + 0.5), size - 1) : int(p);
            out.emplace_back(i, nearest || i >= size - 1 ? 0.0 : p - i);
        }
        return out;
    };
    const auto columns = taps(w, xFactor, W), rows = taps(h, yFactor, H);
    const auto at = [&](int x, int y) { return double(source[std::size_t((rect.y + y) * stride + rect.x + x)]); };
    for (std::size_t Y = 0; Y < rows.size(); ++Y) {
        for (std::size_t X = 0; X < columns.size(); ++X) {
            const auto [ix, fx] = columns[X];
            const auto [iy, fy] = rows[Y];
            const int ix1 = std::min(ix + 1, w - 1), iy1 = std::min(iy + 1, h - 1);
            const double top = at(ix, iy) + fx * (at(ix1, iy) - at(ix, iy));
            const double bottom = at(ix, iy1) + fx * (at(ix1, iy1) - at(ix, iy1));
            destination[Y * std::size_t(W) + X] = float(top + fy * (bottom - top));
        }
    }
}

TEST(ResizeMap, MatchesTheCornerAlignedFormulaBitForBitAtEveryKernelLevel) {
    const struct { int w, h, W, H; IntRect rect; double xFactor, yFactor; int32_t interpolation; } cases[] = {
        {7, 5, 14, 10, {0, 0, 7, 5}, 2.0, 2.0, 2},       {7, 5, 15, 11, {0, 0, 7, 5}, 15 / 7.0, 11 / 5.0, 2},
        {128, 128, 256, 256, {0, 0, 128, 128}, 2, 2, 2}, {30, 20, 61, 41, {0, 0, 30, 20}, 61 / 30.0, 41 / 20.0, 2},
        {9, 7, 8, 6, {2, 1, 4, 3}, 2.0, 2.0, 2},         {6, 4, 8, 6, {2, 0, 50, 50}, 2.0, 1.5, 2},  // clipped rectangle
        {7, 5, 10, 6, {0, 0, 7, 5}, 2.0, 2.0, 2},        {7, 5, 20, 9, {0, 0, 7, 5}, 1.5, 1.5, 2},   // capped, partial
        {49, 2, 3, 4, {0, 0, 49, 2}, 1 / 49.0, 2.0, 2},  {1, 3, 4, 6, {0, 0, 1, 3}, 4.0, 2.0, 2},    // one column
        {1, 1, 5, 3, {0, 0, 1, 1}, 5.0, 3.0, 2},         {4, 2, 3, 2, {0, 0, 4, 2}, 0.25, 1.0, 2},
        {4, 4, 3, 3, {0, 0, 4, 4}, 0.1, 1.0, 2},         {3, 3, 6, 6, {0, 0, 3, 3}, 1e300, 2.0, 2},
        {9, 9, 3, 3, {0, 0, 9, 9}, 1 / 3.0, 1 / 3.0, 2}, {4, 4, 8, 8, {0, 0, 4, 4}, 2.0, 2.0, 1},    // nearest
        // Shrinking along x: blocks of taps within a few lanes' reach, and blocks beyond it.
        {100, 4, 70, 4, {0, 0, 100, 4}, 0.7, 1.0, 2},   {100, 4, 30, 4, {0, 0, 100, 4}, 0.3, 1.0, 2},
        {64, 3, 90, 5, {5, 0, 40, 3}, 2.2, 1.5, 2},     // enlarged from a window that ends before the row
    };
    atEveryKernelLevel([&cases](kelmo::KernelLevel level) {
        for (const auto &c : cases) {
            // Rows padded with NaN: a read past a row's end would show.
            const int stride = c.w + 2;
            std::vector<float> source(std::size_t(stride * (c.h - 1) + c.w), kNan);
            std::mt19937 random(uint32_t(c.w * 31 + c.h));
            for (int y = 0; y < c.h; ++y) {
                for (int x = 0; x < c.w; ++x) source[std::size_t(y * stride + x)] = float(random() % 8000) / 100 - 40;
            }
            std::vector<float> destination(std::size_t(c.W * c.H), -777.0f), expected = destination;
            ASSERT_EQ(kelmo::resizeMap(source.data(), c.w, c.h, 4 * stride, c.rect, destination.data(), 4 * c.W, c.W, c.H,
                                       c.xFactor, c.yFactor, c.interpolation),
                      kelmo::kResampleOk);
            expectedResize(source, stride, c.w, c.h, c.rect, c.xFactor, c.yFactor, c.interpolation == 1, expected, c.W, c.H);
            EXPECT_EQ(destination, expected) << c.w << "x" << c.h << " to " << c.W << "x" << c.H << ", level " << int(level);
            if (c.interpolation != kelmo::kInterpolationBilinear || c.xFactor > 1e6) continue;
            // The same resize prepared once and written in bands of several
            // heights, each at its own place: the same rows.
            const int w = std::min(c.w - c.rect.x, c.rect.width), h = std::min(c.h - c.rect.y, c.rect.height);
            const kelmo::BandedMapResize banded(source.data() + c.rect.y * stride + c.rect.x, w, h, 4 * stride, c.W, c.H,
                                                c.xFactor, c.yFactor);
            std::vector<double> scratch(banded.scratchSize());
            for (int band : {1, 3, 8}) {
                std::vector<float> bands(std::size_t(c.W * c.H), -777.0f);
                for (int first = 0; first < c.H; first += band) {
                    banded.writeRows(first, band, bands.data() + first * c.W, 4 * c.W, scratch.data());
                }
                EXPECT_EQ(bands, expected) << c.w << "x" << c.h << " to " << c.W << "x" << c.H << " in bands of " << band
                                           << ", level " << int(level);
            }
        }
    });
}

}  // namespace
