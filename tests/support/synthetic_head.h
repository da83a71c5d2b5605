// Synthetic heads, header-only so that the benchmarks can use them too.
//
// The full head, large enough for creation from a photo: region 0 is a dome
// whose grid point (i, j), 0..54, sits at x = -1 + 2i/54, y = -1.25 + 2.5j/54,
// z = 1 + 0.01e - 0.3x^2 - 0.15y^2 (e the expression). The indices that the
// library fixes sit in sensible places: the sock ring on the rim, the inner
// lips 415 (27, 15) and 371 (27, 14), the upper lip 1683 (27, 17). The mouth
// ring runs round columns 21..33, rows 11..18; open expressions (1, 3) lower
// the lower lip by up to 0.08 and the mouth corners (feature points 3, 4) by
// 0.04, smiling ones (2, 3) raise the corners by 0.12. Regions 1 and 2 are
// eyeball patches round (-0.5, 0.4) and (0.5, 0.4), 3 and 4 teeth patches.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "kelmo.h"
#include "model/model.h"
#include "tavoimage.h"

namespace kelmo::testing {

inline constexpr int kFullHeadSide = 55;
inline constexpr int kFullHeadVertexCount = kFullHeadSide * kFullHeadSide;

namespace full_head_detail {

using GridPoint = std::pair<int, int>;  // column i, row j

// Region-0 vertex k holds grid point (natural index) newToNatural[k]: the
// fixed indices take their points, the other vertices the rest in order.
struct Permutation {
    std::vector<int> newToNatural = std::vector<int>(kFullHeadVertexCount, -1);
    std::vector<int> naturalToNew = std::vector<int>(kFullHeadVertexCount, -1);
};

inline const Permutation &permutation() {
    static const Permutation perm = [] {
        Permutation p;
        const std::pair<int, GridPoint> fixed[] = {
            {415, {27, 15}}, {371, {27, 14}}, {1683, {27, 17}}, {718, {27, 0}},   {2775, {0, 0}}, {228, {0, 27}},
            {1829, {0, 54}}, {441, {27, 54}}, {2038, {54, 54}}, {1130, {54, 27}}, {2976, {54, 0}}};
        for (const auto &[index, point] : fixed)
            p.newToNatural[static_cast<std::size_t>(index)] = point.second * kFullHeadSide + point.first;
        for (int k = 0; k < kFullHeadVertexCount; ++k)
            if (p.newToNatural[static_cast<std::size_t>(k)] >= 0)
                p.naturalToNew[static_cast<std::size_t>(p.newToNatural[k])] = k;
        int next = 0;
        for (int &natural : p.newToNatural) {
            if (natural >= 0) continue;
            while (p.naturalToNew[static_cast<std::size_t>(next)] >= 0) ++next;
            natural = next++;
        }
        for (int k = 0; k < kFullHeadVertexCount; ++k) p.naturalToNew[static_cast<std::size_t>(p.newToNatural[k])] = k;
        return p;
    }();
    return perm;
}

inline int32_t vertexAt(GridPoint point) {
    return permutation().naturalToNew[static_cast<std::size_t>(point.second * kFullHeadSide + point.first)];
}

// Grid points of the region-0 feature points ({-1, -1} for the six on the
// eyeballs): the mouth corners, the inner lips and the four points left out
// of the control points first; then the contour, brows, eyes, nose and outer
// lips in order, each moved right until it has a vertex of its own.
inline const std::array<GridPoint, kFeaturePointCount> &featureGridPoints() {
    static const std::array<GridPoint, kFeaturePointCount> points = [] {
        std::array<GridPoint, kFeaturePointCount> p{};
        p.fill({-1, -1});
        for (const auto &[k, g] : {std::pair{3, GridPoint{21, 14}},
                                   {4, {33, 14}},
                                   {61, {27, 15}},
                                   {64, {27, 14}},
                                   {2, {27, 25}},
                                   {22, {27, 50}},
                                   {43, {27, 5}},
                                   {44, {27, 30}}})
            p[static_cast<std::size_t>(k)] = g;
        std::vector<GridPoint> others, taken;
        for (int k = 0; k < 20; ++k) {
            const double angle = 2.0 * 3.14159265358979 * (k + 0.5) / 20.0;
            others.push_back({27 + static_cast<int>(std::lround(25.0 * std::cos(angle))),
                              27 + static_cast<int>(std::lround(26.0 * std::sin(angle)))});
        }
        for (int i : {8, 11, 14, 17, 20, 34, 37, 40, 43, 46}) others.push_back({i, 42});
        for (int j : {37, 33})
            for (int i : {10, 16, 38, 44}) others.push_back({i, j});
        for (GridPoint g : {GridPoint{23, 22},
                            {31, 22},
                            {25, 21},
                            {29, 21},
                            {27, 27},
                            {27, 35},
                            {24, 18},
                            {30, 18},
                            {24, 11},
                            {30, 11},
                            {27, 18},
                            {27, 11},
                            {25, 15},
                            {29, 15}})
            others.push_back(g);
        for (const GridPoint &g : p)
            if (g.first >= 0) taken.push_back(g);
        std::size_t next = 0;
        for (std::size_t k = 0; k < p.size(); ++k) {
            if (p[k].first >= 0 || k == 0 || k == 1 || k == 29 || k == 30 || k == 33 || k == 34) continue;
            GridPoint g = others[next++];
            while (std::find(taken.begin(), taken.end(), g) != taken.end()) ++g.first;
            taken.push_back(p[k] = g);
        }
        return p;
    }();
    return points;
}

// columns x rows vertices with quads between them, texture coordinates over [0, 1]^2.
inline TRegion patch(int columns, int rows, float x0, float y0, float width, float height, float z) {
    TRegion region;
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i) {
            const float u = static_cast<float>(i) / static_cast<float>(columns - 1);
            const float v = static_cast<float>(j) / static_cast<float>(rows - 1);
            region.vertices.push_back({x0 + width * u, y0 + height * v, z});
            region.textureCoords.push_back({u, v});
            if (i + 1 < columns && j + 1 < rows)
                region.quads.push_back(
                    Quad{j * columns + i, j * columns + i + 1, (j + 1) * columns + i + 1, (j + 1) * columns + i});
        }
    region.textureQuads = region.quads;
    return region;
}

// How expression `e` moves the y of grid point (i, j).
inline float mouthShift(int i, int j, int e) {
    const bool open = e == 1 || e == 3, smiling = e == 2 || e == 3, corner = (i == 21 || i == 33) && j >= 13 && j <= 15;
    float shift = 0.0f;
    if (j == 15 && i >= 22 && i <= 32) shift -= 0.035f;  // the upper lip rests on the lower one
    if (open && j >= 12 && j <= 14 && i >= 22 && i <= 32) shift -= 0.08f * static_cast<float>(j - 11) / 3.0f;
    if (open && corner) shift -= 0.04f;
    if (smiling && corner) shift += 0.12f;
    return shift;
}

}  // namespace full_head_detail

// The five regions of full-head expression mesh `expression` (0..3).
inline std::vector<TRegion> fullHeadRegions(int expression) {
    using namespace full_head_detail;
    const float side = kFullHeadSide - 1;
    TRegion head = patch(kFullHeadSide, kFullHeadSide, 0, 0, 0, 0, 0);
    for (int k = 0; k < kFullHeadVertexCount; ++k) {
        const int i = permutation().newToNatural[static_cast<std::size_t>(k)] % kFullHeadSide;
        const int j = permutation().newToNatural[static_cast<std::size_t>(k)] / kFullHeadSide;
        const float x = -1.0f + 2.0f * static_cast<float>(i) / side, y = -1.25f + 2.5f * static_cast<float>(j) / side;
        const float z = 1.0f + 0.01f * static_cast<float>(expression) - 0.3f * x * x - 0.15f * y * y;
        head.vertices[static_cast<std::size_t>(k)] = {x, y + mouthShift(i, j, expression), z};
        head.textureCoords[static_cast<std::size_t>(k)] = {static_cast<float>(i) / side, static_cast<float>(j) / side};
    }
    for (Quad &quad : head.quads)
        for (int32_t &corner : quad) corner = vertexAt({corner % kFullHeadSide, corner / kFullHeadSide});
    head.textureQuads = head.quads;
    return {head, patch(3, 3, -0.6f, 0.3f, 0.2f, 0.2f, 1.1f), patch(3, 3, 0.4f, 0.3f, 0.2f, 0.2f, 1.1f),
            patch(3, 2, -0.2f, -0.58f, 0.4f, 0.08f, 0.85f), patch(3, 2, -0.2f, -0.70f, 0.4f, 0.08f, 0.85f)};
}

// "grd66.txt": the vertex of each feature point in its region; the eyeball
// points sit on the patches' centre (4) and corners (0 and 8).
inline std::vector<int32_t> fullHeadLandmarkTable() {
    std::vector<int32_t> table;
    for (int k = 0; k < kFeaturePointCount; ++k)
        table.push_back(k == 0 || k == 1     ? 4
                        : k == 29 || k == 33 ? 0
                        : k == 30 || k == 34 ? 8
                                             : full_head_detail::vertexAt(
                                                   full_head_detail::featureGridPoints()[static_cast<std::size_t>(k)]));
    return table;
}

// "list7.txt": the 38 mouth-ring vertices, counter-clockwise from the
// bottom-left corner.
inline std::vector<int32_t> fullHeadList7Table() {
    using full_head_detail::vertexAt;
    std::vector<int32_t> table;
    for (int i = 21; i <= 33; ++i) table.push_back(vertexAt({i, 11}));
    for (int j = 12; j <= 18; ++j) table.push_back(vertexAt({33, j}));
    for (int i = 32; i >= 21; --i) table.push_back(vertexAt({i, 18}));
    for (int j = 17; j >= 12; --j) table.push_back(vertexAt({21, j}));
    return table;
}

// The 66 feature points of full-head expression mesh `expression`.
inline std::array<TVector3f, kFeaturePointCount> fullHeadFeaturePoints(int expression) {
    const std::vector<TRegion> regions = fullHeadRegions(expression);
    const std::vector<int32_t> table = fullHeadLandmarkTable();
    std::array<TVector3f, kFeaturePointCount> points{};
    for (std::size_t k = 0; k < points.size(); ++k)
        points[k] = regions[(k == 0 || k == 29 || k == 30)   ? 1
                            : (k == 1 || k == 33 || k == 34) ? 2
                                                             : 0]
                        .vertices[static_cast<std::size_t>(table[k])];
    return points;
}

// "alpha.grd" of the full head in the synthetic 300 x 300 alpha image: mesh
// 0's feature points at 100 pixels per unit about (150, 160), y down.
inline std::array<TPointf, kFeaturePointCount> fullHeadAlphaGridPoints() {
    std::array<TPointf, kFeaturePointCount> grid{};
    const auto points = fullHeadFeaturePoints(0);
    for (std::size_t k = 0; k < grid.size(); ++k)
        grid[k] = {150.0f + 100.0f * points[k].x, 160.0f - 100.0f * points[k].y};
    return grid;
}

}  // namespace kelmo::testing

namespace kelmo::render_test {

struct RgbaImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;  // rows top first, R G B A
};

inline RgbaImage makeImage(int width, int height, const std::function<std::array<int, 4>(int, int)> &colour) {
    RgbaImage image{width, height, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c : colour(x, y)) image.pixels.push_back(static_cast<uint8_t>(std::clamp(c, 0, 255)));
    return image;
}

// An image of the imaging library holding `image`'s pixels; -1 on failure.
inline ImageHandle makeImageHandle(const RgbaImage &image) {
    ImageHandle handle = -1;
    TAVO_LoadImageFromBuffer(&handle, image.pixels.data(), image.width, image.height, 4 * image.width,
                             TAVO_IMAGEMODE_COLOR_ALPHA);
    return handle;
}

// The render head: the full head with its mouth open, a sock behind the
// mouth (region 5), a quad in front of everything that rendering never draws
// (6) and an empty mouth cavity (7). The texture is a checkered skin whose
// alpha fades toward the edges, black over the mouth so that the sock and the
// teeth show there; the teeth images have transparent gaps.
struct SyntheticHead {
    std::vector<TRegion> regions = testing::fullHeadRegions(1);
    std::vector<int32_t> list7 = testing::fullHeadList7Table();
    RgbaImage texture = makeImage(256, 256, [](int x, int y) {
        if (y >= 170 && y < 206 && x >= 100 && x < 157) return std::array<int, 4>{0, 0, 0, 255};
        const int checker = ((x / 16 + y / 16) % 2) * 18;
        return std::array<int, 4>{205 - y / 6 + checker, 150 - y / 8 + checker / 2, 120 + x / 10,
                                  8 * std::min(std::min(x, 255 - x), std::min(y, 255 - y))};
    });
    RgbaImage sock = makeImage(64, 64, [](int x, int y) {
        return std::array<int, 4>{90 + (x + y) % 7 * 6, 20 + y / 4, 30 + x / 4, 255};
    });
    RgbaImage upperTeeth = makeImage(64, 32, [](int x, int y) {
        return std::array<int, 4>{250, 245, 220, x % 8 ? 64 + 6 * y : 0};
    });
    RgbaImage lowerTeeth = makeImage(64, 32, [](int x, int y) {
        return std::array<int, 4>{235, 238, 240, x % 8 ? 255 - 6 * y : 0};
    });
};

inline SyntheticHead makeSyntheticHead() {
    SyntheticHead head;
    head.regions.resize(8);
    head.regions[5] = testing::full_head_detail::patch(5, 3, -0.35f, -0.85f, 0.7f, 0.5f, 0.8f);
    head.regions[6] = testing::full_head_detail::patch(2, 2, -3.0f, -3.0f, 6.0f, 6.0f, 3.0f);
    return head;
}

}  // namespace kelmo::render_test
