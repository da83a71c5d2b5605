// Plain re-computations of the resampling primitives for the tests of
// frame/ and warp/: images and maps at byte steps, bilinear sampling and the
// map resize, written out in double precision from their descriptions in
// frame/resampling.h.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "frame/resampling.h"

namespace kelmo_test {

using kelmo::IntRect;

constexpr uint8_t kPadding = 250;  // never a pixel value of the sources below
constexpr uint8_t kUntouched = 77;
const float kNan = std::numeric_limits<float>::quiet_NaN();

// Rows of `channels` bytes per pixel at a step of `padding` bytes more.
struct ByteImage {
    int32_t width, height, channels, step;
    std::vector<uint8_t> bytes;
    ByteImage(int32_t w, int32_t h, int32_t c, int32_t padding, uint8_t fill = kUntouched)
        : width(w), height(h), channels(c), step(w * c + padding),
          bytes(std::size_t(step) * std::size_t(h - 1) + std::size_t(w * c), kPadding) {
        for (int32_t y = 0; y < h; ++y) std::fill_n(bytes.begin() + y * step, w * c, fill);
    }
    uint8_t &at(int32_t x, int32_t y, int32_t c) { return bytes[std::size_t(y * step + x * channels + c)]; }
    int at(int32_t x, int32_t y, int32_t c) const { return bytes[std::size_t(y * step + x * channels + c)]; }
    void randomise(std::mt19937 &random, int most = 200) {
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width * channels; ++x) bytes[std::size_t(y * step + x)] = uint8_t(random() % (most + 1));
        }
    }
};

// Floats at a step in bytes, which need not be a multiple of 4.
struct FloatMap {
    int32_t width, height, step;
    std::vector<uint8_t> bytes;
    FloatMap(int32_t w, int32_t h, int32_t padding = 0)
        : width(w), height(h), step(w * 4 + padding), bytes(std::size_t(step) * std::size_t(h - 1) + std::size_t(w) * 4) {}
    void set(int32_t x, int32_t y, float v) { std::memcpy(&bytes[std::size_t(y * step + x * 4)], &v, 4); }
    float get(int32_t x, int32_t y) const {
        float v;
        std::memcpy(&v, &bytes[std::size_t(y * step + x * 4)], 4);
        return v;
    }
    float *data() { return reinterpret_cast<float *>(bytes.data()); }
};

// Bilinear sampling: index and fraction per axis, the index taken a little
// above the position (1e-7) so that rounding noise below an integer counts as
// that integer, and the last column (row) blended from the one before it
// with weight 1; all in double.
inline int referenceBilinear(const ByteImage &source, double x, double y, int c) {
    const auto axis = [](double position, int size, int &index, double &fraction) {
        index = static_cast<int>(position + 0.0000001);
        fraction = position - index;
        if (index >= size - 1) {
            index = size - 2;
            fraction = 1.0;
        }
    };
    int ix, iy;
    double fx, fy;
    axis(x, source.width, ix, fx);
    axis(y, source.height, iy, fy);
    const double top = source.at(ix, iy, c) + fx * (source.at(ix + 1, iy, c) - source.at(ix, iy, c));
    const double bottom = source.at(ix, iy + 1, c) + fx * (source.at(ix + 1, iy + 1, c) - source.at(ix, iy + 1, c));
    return static_cast<int>(top + fy * (bottom - top) + 0.5);
}

// The map resize written out: min(trunc(size * factor + 1e-7), destination)
// values written per axis, corner-aligned positions X (w - 1) / (w factor - 1)
// clamped to the last value (0 for a single value either side), then nearest
// or a bilinear blend in double whose missing neighbour at the last row and
// column weighs 0. `destination` keeps its values beyond what is written.
inline void referenceResize(const std::vector<float> &source, int stride, int width, int height, IntRect rect,
                            double xFactor, double yFactor, bool nearest, std::vector<float> &destination, int W, int H) {
    const int w = std::min(width - rect.x, rect.width), h = std::min(height - rect.y, rect.height);
    const auto taps = [nearest](int size, double factor, int limit, std::vector<std::pair<int, double>> &out) {
        const double scaled = size * factor + 0.0000001;
        const int count = scaled >= limit ? limit : static_cast<int>(scaled);
        for (int X = 0; X < count; ++X) {
            const double p = size == 1 || count == 1 ? 0.0 : std::min(double(X) * (size - 1) / (size * factor - 1.0), size - 1.0);
            const int i = nearest ? std::min(int(p + 0.5), size - 1) : int(p);
            out.emplace_back(i, nearest || i >= size - 1 ? 0.0 : p - i);
        }
    };
    std::vector<std::pair<int, double>> columns, rows;
    taps(w, xFactor, W, columns);
    taps(h, yFactor, H, rows);
    const auto at = [&](int x, int y) { return double(source[std::size_t((rect.y + y) * stride + rect.x + x)]); };
    for (std::size_t Y = 0; Y < rows.size(); ++Y) {
        const auto [iy, fy] = rows[Y];
        for (std::size_t X = 0; X < columns.size(); ++X) {
            const auto [ix, fx] = columns[X];
            const int ix1 = std::min(ix + 1, w - 1), iy1 = std::min(iy + 1, h - 1);
            const double top = at(ix, iy) + fx * (at(ix1, iy) - at(ix, iy));
            const double bottom = at(ix, iy1) + fx * (at(ix1, iy1) - at(ix, iy1));
            destination[Y * std::size_t(W) + X] = static_cast<float>(top + fy * (bottom - top));
        }
    }
}

}  // namespace kelmo_test
