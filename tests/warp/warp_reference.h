// Independent re-computations of the image warp of Part 6.1 and of the
// resampling steps of Part 1.3 it uses, written straightforwardly from the
// specification's text for the warp tests. No code is shared with the library;
// only LAPACKE_sgesv is called, as the Part prescribes, because the dense solve
// cannot be re-derived bit for bit.
#pragma once

#include <lapacke.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "kelmo.h"

namespace warp_reference {

// The square-root table as "sqrt.dat" holds it: entry i = sqrtf(i).
inline std::vector<float> makeSqrtTable(std::size_t size) {
    std::vector<float> table(size);
    for (std::size_t i = 0; i < size; ++i) {
        table[i] = std::sqrt(static_cast<float>(i));
    }
    return table;
}

// Part 6.1, building the displacement maps, steps 1 to 3: the displacement at
// (2i, 2j), sums in float from the last point to the first, the square root
// sqrtf(index) for every index (what a table of sqrtf values holds inside, and
// what the library computes beyond it), then the four clamps in order.
inline void halfSizeMaps(const std::vector<TPointf> &points, const std::vector<TPointf> &weights, int width,
                         int height, std::vector<float> &halfX, std::vector<float> &halfY) {
    const int w = width / 2;
    const int h = height / 2;
    halfX.assign(static_cast<std::size_t>(w * h), 0.0f);
    halfY.assign(static_cast<std::size_t>(w * h), 0.0f);
    for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) {
            const long long x = 2 * i;
            const long long y = 2 * j;
            float u = 0.0f;
            float v = 0.0f;
            for (int k = static_cast<int>(points.size()) - 1; k >= 0; --k) {
                const long long px = static_cast<long long>(points[static_cast<std::size_t>(k)].x);
                const long long py = static_cast<long long>(points[static_cast<std::size_t>(k)].y);
                const long long index = (x - px) * (x - px) + (y - py) * (y - py);
                const float root = std::sqrt(static_cast<float>(index));
                u = u + weights[static_cast<std::size_t>(k)].x * root;
                v = v + weights[static_cast<std::size_t>(k)].y * root;
            }
            const float fx = static_cast<float>(x);
            const float fy = static_cast<float>(y);
            if (fx + u < 1.0f) u = 1.0f - fx;
            if (fy + v < 1.0f) v = 1.0f - fy;
            if (fx + u > static_cast<float>(width - 2)) u = static_cast<float>(width - 2) - fx;
            if (fy + v > static_cast<float>(height - 2)) v = static_cast<float>(height - 2) - fy;
            halfX[static_cast<std::size_t>(j * w + i)] = u;
            halfY[static_cast<std::size_t>(j * w + i)] = v;
        }
    }
}

// Part 1.3, resize: corner-aligned bilinear enlargement of a w x h map to
// W x H with factors W / w and H / h: destination column X reads the source at
// X * (w - 1) / (w * (W / w) - 1), rows alike; the blend in double.
inline std::vector<float> cornerAlignedEnlargement(const std::vector<float> &half, int w, int h, int width,
                                                   int height) {
    std::vector<float> full(static_cast<std::size_t>(width * height));
    const double scaledWidth = w * (static_cast<double>(width) / w);
    const double scaledHeight = h * (static_cast<double>(height) / h);
    for (int Y = 0; Y < height; ++Y) {
        const double sy = h > 1 ? Y * static_cast<double>(h - 1) / (scaledHeight - 1.0) : 0.0;
        int iy = static_cast<int>(sy);
        double fy = sy - iy;
        if (iy >= h - 1) {
            iy = h - 1;
            fy = 0.0;
        }
        const int iy1 = std::min(iy + 1, h - 1);
        for (int X = 0; X < width; ++X) {
            const double sx = w > 1 ? X * static_cast<double>(w - 1) / (scaledWidth - 1.0) : 0.0;
            int ix = static_cast<int>(sx);
            double fx = sx - ix;
            if (ix >= w - 1) {
                ix = w - 1;
                fx = 0.0;
            }
            const int ix1 = std::min(ix + 1, w - 1);
            const double a = half[static_cast<std::size_t>(iy * w + ix)];
            const double b = half[static_cast<std::size_t>(iy * w + ix1)];
            const double c = half[static_cast<std::size_t>(iy1 * w + ix)];
            const double d = half[static_cast<std::size_t>(iy1 * w + ix1)];
            const double top = a + fx * (b - a);
            const double bottom = c + fx * (d - c);
            full[static_cast<std::size_t>(Y * width + X)] = static_cast<float>(top + fy * (bottom - top));
        }
    }
    return full;
}

// Part 1.3, remap with bilinear interpolation on a W x H source of b bytes per
// pixel, source rectangle the whole image, into a zero-filled output.
inline std::vector<uint8_t> bilinearRemap(const std::vector<uint8_t> &source, int width, int height, int channels,
                                          const std::vector<float> &xMap, const std::vector<float> &yMap) {
    std::vector<uint8_t> output(static_cast<std::size_t>(width * height * channels), 0);
    for (int j = 0; j < height; ++j) {
        for (int i = 0; i < width; ++i) {
            const double x = xMap[static_cast<std::size_t>(j * width + i)];
            const double y = yMap[static_cast<std::size_t>(j * width + i)];
            // Step 2: outside the usable area (bounds inside) the pixel stays.
            if (!(x >= 0.0 && x <= width - 1 && y >= 0.0 && y <= height - 1)) continue;
            // Step 3.
            int ix = static_cast<int>(x + 0.0000001);
            double fx = x - ix;
            if (ix >= width - 1) {
                ix = width - 2;
                fx = 1.0;
            }
            int iy = static_cast<int>(y + 0.0000001);
            double fy = y - iy;
            if (iy >= height - 1) {
                iy = height - 2;
                fy = 1.0;
            }
            // Step 4, in double.
            for (int c = 0; c < channels; ++c) {
                const auto at = [&](int column, int row) {
                    return static_cast<double>(source[static_cast<std::size_t>((row * width + column) * channels + c)]);
                };
                const double p00 = at(ix, iy);
                const double p01 = at(ix + 1, iy);
                const double p10 = at(ix, iy + 1);
                const double p11 = at(ix + 1, iy + 1);
                const double top = p00 + fx * (p01 - p00);
                const double bottom = p10 + fx * (p11 - p10);
                output[static_cast<std::size_t>((j * width + i) * channels + c)] =
                    static_cast<uint8_t>(static_cast<int>(top + fy * (bottom - top) + 0.5));
            }
        }
    }
    return output;
}

// Part 6.1, warping steps 2 to 9, for W, H >= 2 and points on the image (or
// off it: the square roots are computed either way).
inline std::vector<uint8_t> warp(const std::vector<uint8_t> &source, int width, int height, int channels,
                                 const std::vector<int32_t> &sourcePoints,
                                 const std::vector<int32_t> &destinationPoints) {
    // Steps 2 and 3 with the (+1, +1) nudge, rescanning from the first point.
    std::vector<TPointf> points;
    std::vector<TPointf> values;
    const auto add = [&](float x, float y, float dx, float dy) {
        std::size_t k = 0;
        while (k < points.size()) {
            if (std::fabs(x - points[k].x) < 0.5f && std::fabs(y - points[k].y) < 0.5f) {
                x += 1.0f;
                y += 1.0f;
                k = 0;
            } else {
                ++k;
            }
        }
        points.push_back(TPointf{x, y});
        values.push_back(TPointf{dx, dy});
    };
    for (std::size_t k = 0; 2 * k < destinationPoints.size(); ++k) {
        const long long sx = sourcePoints[2 * k];
        const long long sy = sourcePoints[2 * k + 1];
        const long long dx = destinationPoints[2 * k];
        const long long dy = destinationPoints[2 * k + 1];
        add(static_cast<float>(dx), static_cast<float>(dy), static_cast<float>(sx - dx), static_cast<float>(sy - dy));
    }
    add(0.0f, 0.0f, 0.0f, 0.0f);
    add(static_cast<float>(width - 1), 0.0f, 0.0f, 0.0f);
    add(0.0f, static_cast<float>(height - 1), 0.0f, 0.0f);
    add(static_cast<float>(width - 1), static_cast<float>(height - 1), 0.0f, 0.0f);

    // Step 4: the plain-distance system, solved in row-major layout.
    const int n = static_cast<int>(points.size());
    std::vector<float> matrix(static_cast<std::size_t>(n * n));
    std::vector<float> rhs(static_cast<std::size_t>(2 * n));
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const float dy = points[static_cast<std::size_t>(i)].y - points[static_cast<std::size_t>(j)].y;
            const float dx = points[static_cast<std::size_t>(i)].x - points[static_cast<std::size_t>(j)].x;
            matrix[static_cast<std::size_t>(i * n + j)] = std::sqrt(dy * dy + dx * dx);
        }
        rhs[static_cast<std::size_t>(2 * i)] = values[static_cast<std::size_t>(i)].x;
        rhs[static_cast<std::size_t>(2 * i + 1)] = values[static_cast<std::size_t>(i)].y;
    }
    std::vector<lapack_int> pivots(static_cast<std::size_t>(n));
    LAPACKE_sgesv(LAPACK_ROW_MAJOR, n, 2, matrix.data(), n, pivots.data(), rhs.data(), 2);
    std::vector<TPointf> weights(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        weights[static_cast<std::size_t>(k)] =
            TPointf{rhs[static_cast<std::size_t>(2 * k)], rhs[static_cast<std::size_t>(2 * k + 1)]};
    }

    // Step 5: half size, enlarged.
    std::vector<float> halfX;
    std::vector<float> halfY;
    halfSizeMaps(points, weights, width, height, halfX, halfY);
    std::vector<float> xMap = cornerAlignedEnlargement(halfX, width / 2, height / 2, width, height);
    std::vector<float> yMap = cornerAlignedEnlargement(halfY, width / 2, height / 2, width, height);
    // Step 6.
    for (int j = 0; j < height; ++j) {
        for (int i = 0; i < width; ++i) {
            xMap[static_cast<std::size_t>(j * width + i)] += static_cast<float>(i);
            yMap[static_cast<std::size_t>(j * width + i)] += static_cast<float>(j);
        }
    }
    // Steps 7 to 9.
    return bilinearRemap(source, width, height, channels, xMap, yMap);
}

}  // namespace warp_reference
