// The image warp re-computed from its description for the warp tests, on top
// of the resampling re-computations of the frame tests. Only the dense solve
// calls the library's solver (LAPACKE_sgesv, as the warp prescribes): it
// cannot be re-derived bit for bit.
#pragma once

#include <lapacke.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "frame/resampling_reference.h"
#include "kelmo.h"

namespace kelmo_test {

// The displacement at every second pixel (2i, 2j) of a width x height image:
// sums in float from the last control point to the first of weight times the
// distance to the point's truncated position, then clamped so that the
// sample lies one pixel inside the image. Row-major, width / 2 per row.
inline void halfSizeMaps(const std::vector<TPointf> &points, const std::vector<TPointf> &weights, int width,
                         int height, std::vector<float> &halfX, std::vector<float> &halfY) {
    halfX.clear();
    halfY.clear();
    for (int j = 0; j < height / 2; ++j) {
        for (int i = 0; i < width / 2; ++i) {
            const float x = 2.0f * i, y = 2.0f * j;
            float u = 0.0f, v = 0.0f;
            for (std::size_t k = points.size(); k-- > 0;) {
                const int64_t dx = 2 * i - int64_t(points[k].x), dy = 2 * j - int64_t(points[k].y);
                const float distance = std::sqrt(float(uint64_t(dx * dx) + uint64_t(dy * dy)));
                u += weights[k].x * distance;
                v += weights[k].y * distance;
            }
            if (x + u < 1.0f) u = 1.0f - x;
            if (y + v < 1.0f) v = 1.0f - y;
            if (x + u > float(width - 2)) u = float(width - 2) - x;
            if (y + v > float(height - 2)) v = float(height - 2) - y;
            halfX.push_back(u);
            halfY.push_back(v);
        }
    }
}

// The full-size maps: each half-size map enlarged corner-aligned by
// width / (width / 2) and height / (height / 2).
inline std::vector<float> enlarged(const std::vector<float> &half, int width, int height) {
    std::vector<float> full(std::size_t(width * height));
    const int w = width / 2, h = height / 2;
    referenceResize(half, w, w, h, IntRect{0, 0, w, h}, double(width) / w, double(height) / h, false, full, width, height);
    return full;
}

// The warp of packed pixels: a control point at each destination point valued
// source - destination, then the four corners valued 0, each moved by (1, 1)
// while within half a pixel of an earlier one; the plain-distance system
// solved; the maps made, offset by each pixel's position and sampled
// bilinearly into a zero image.
inline std::vector<uint8_t> referenceWarp(const std::vector<uint8_t> &pixels, int width, int height, int channels,
                                          const std::vector<int32_t> &from, const std::vector<int32_t> &to) {
    std::vector<TPointf> points, values;
    const auto add = [&](float x, float y, float dx, float dy) {
        for (std::size_t k = 0; k < points.size();) {
            const bool taken = std::fabs(x - points[k].x) < 0.5f && std::fabs(y - points[k].y) < 0.5f;
            k = taken ? 0 : k + 1;
            x += taken ? 1.0f : 0.0f;
            y += taken ? 1.0f : 0.0f;
        }
        points.push_back({x, y});
        values.push_back({dx, dy});
    };
    for (std::size_t k = 0; k < to.size(); k += 2) {
        add(float(to[k]), float(to[k + 1]), float(int64_t(from[k]) - to[k]), float(int64_t(from[k + 1]) - to[k + 1]));
    }
    const int corners[4][2] = {{0, 0}, {width - 1, 0}, {0, height - 1}, {width - 1, height - 1}};
    for (const auto &corner : corners) add(float(corner[0]), float(corner[1]), 0.0f, 0.0f);
    const int n = int(points.size());
    std::vector<float> matrix, rhs;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const float dx = points[i].x - points[j].x, dy = points[i].y - points[j].y;
            matrix.push_back(std::sqrt(dy * dy + dx * dx));
        }
        rhs.insert(rhs.end(), {values[i].x, values[i].y});
    }
    std::vector<lapack_int> pivots(static_cast<std::size_t>(n));
    LAPACKE_sgesv(LAPACK_ROW_MAJOR, n, 2, matrix.data(), n, pivots.data(), rhs.data(), 2);
    std::vector<TPointf> weights;
    for (int k = 0; k < n; ++k) weights.push_back({rhs[2 * k], rhs[2 * k + 1]});
    std::vector<float> halfX, halfY;
    halfSizeMaps(points, weights, width, height, halfX, halfY);
    const std::vector<float> xMap = enlarged(halfX, width, height), yMap = enlarged(halfY, width, height);
    ByteImage source(width, height, channels, 0), output(width, height, channels, 0, 0);
    source.bytes = pixels;
    for (int j = 0; j < height; ++j) {
        for (int i = 0; i < width; ++i) {
            const double x = xMap[std::size_t(j * width + i)] + float(i), y = yMap[std::size_t(j * width + i)] + float(j);
            if (!(x >= 0 && x <= width - 1 && y >= 0 && y <= height - 1)) continue;
            for (int c = 0; c < channels; ++c) output.at(i, j, c) = uint8_t(referenceBilinear(source, x, y, c));
        }
    }
    return output.bytes;
}

}  // namespace kelmo_test
