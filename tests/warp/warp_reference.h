// The image warp re-computed from its description, for the warp tests. The
// resampling steps use the library's resizeMap and remap, which the frame
// tests hold to their own re-computation; the dense solve calls the solver the
// warp prescribes (LAPACKE_sgesv), as it cannot be re-derived bit for bit.
#pragma once

#include <lapacke.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "frame/resampling.h"
#include "kelmo.h"

namespace kelmo_test {

inline std::vector<uint8_t> referenceWarp(const std::vector<uint8_t> &pixels, int width, int height, int channels,
                                          const std::vector<int32_t> &from, const std::vector<int32_t> &to) {
    // A control point at each destination point valued source - destination,
    // then the corners valued 0, each moved by (1, 1) while it lies within
    // half a pixel of an earlier one.
    std::vector<TPointf> points, values;
    const auto add = [&](float x, float y, float dx, float dy) {
        for (std::size_t k = 0; k < points.size(); ++k) {
            if (std::fabs(x - points[k].x) < 0.5f && std::fabs(y - points[k].y) < 0.5f) {
                x += 1.0f, y += 1.0f;
                k = std::size_t(-1);  // and search again from the first point
            }
        }
        points.push_back({x, y});
        values.push_back({dx, dy});
    };
    for (std::size_t k = 0; k < to.size(); k += 2) {
        add(float(to[k]), float(to[k + 1]), float(int64_t(from[k]) - to[k]), float(int64_t(from[k + 1]) - to[k + 1]));
    }
    for (const auto &[x, y] : {std::pair{0, 0}, std::pair{width - 1, 0}, std::pair{0, height - 1}, std::pair{width - 1, height - 1}}) {
        add(float(x), float(y), 0, 0);
    }
    // Weights solving the system of plain distances between the points.
    const int n = int(points.size());
    std::vector<float> matrix, weights;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const float dx = points[i].x - points[j].x, dy = points[i].y - points[j].y;
            matrix.push_back(std::sqrt(dx * dx + dy * dy));
        }
        weights.insert(weights.end(), {values[i].x, values[i].y});
    }
    std::vector<lapack_int> pivots(static_cast<std::size_t>(n));
    LAPACKE_sgesv(LAPACK_ROW_MAJOR, n, 2, matrix.data(), n, pivots.data(), weights.data(), 2);
    // The displacement at every second pixel, summed in float from the last
    // point to the first over distances to the truncated points, clamped one
    // pixel inside the image; enlarged corner-aligned to full size.
    const int w = width / 2, h = height / 2;
    std::vector<float> half[2], full[2] = {std::vector<float>(std::size_t(width * height)), std::vector<float>(std::size_t(width * height))};
    for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) {
            float d[2] = {0, 0};
            for (int k = n - 1; k >= 0; --k) {
                const int64_t dx = 2 * i - int64_t(points[k].x), dy = 2 * j - int64_t(points[k].y);
                const float distance = std::sqrt(float(uint64_t(dx * dx) + uint64_t(dy * dy)));
                d[0] += weights[2 * k] * distance;
                d[1] += weights[2 * k + 1] * distance;
            }
            const float position[2] = {2.0f * i, 2.0f * j}, last[2] = {float(width - 2), float(height - 2)};
            for (int a = 0; a < 2; ++a) d[a] = position[a] + d[a] < 1.0f ? 1.0f - position[a] : d[a];
            for (int a = 0; a < 2; ++a) half[a].push_back(position[a] + d[a] > last[a] ? last[a] - position[a] : d[a]);
        }
    }
    for (int a = 0; a < 2; ++a) {
        kelmo::resizeMap(half[a].data(), w, h, 4 * w, {0, 0, w, h}, full[a].data(), 4 * width, width, height,
                         double(width) / w, double(height) / h, kelmo::kInterpolationBilinear);
    }
    // Each pixel samples the source at its own position plus the displacement.
    for (int j = 0; j < height; ++j) {
        for (int i = 0; i < width; ++i) full[0][std::size_t(j * width + i)] += float(i), full[1][std::size_t(j * width + i)] += float(j);
    }
    std::vector<uint8_t> result(pixels.size(), 0);
    kelmo::remap(channels, pixels.data(), width, height, width * channels, {0, 0, width, height}, full[0].data(),
                 4 * width, full[1].data(), 4 * width, result.data(), width * channels, width, height, kelmo::kInterpolationBilinear);
    return result;
}

}  // namespace kelmo_test
