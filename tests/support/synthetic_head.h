// A synthetic generic head large enough for creation from a photo (Parts 3.1
// and 3.4): region 0 is a face-like dome of 55 x 55 = 3025 vertices whose
// fixed indices (the sock ring 718, 2775, 228, 1829, 441, 2038, 1130, 2976 on
// the rim; the inner lips 415 and 371 and the upper lip 1683 on the mouth) sit in
// sensible places, with a 38-vertex mouth ring for the list7 table and 66
// feature points in a face layout (eyes, corners of the mouth, inner lips,
// contour, brows, nose). Header-only so that the benchmarks can use it without
// linking the test support library.
//
// Layout, in model units (y up, the face looks toward +z): grid column i and
// row j (0..54) sit at x = -1 + 2i/54, y = -1.25 + 2.5j/54 on the dome
// z = 1 + 0.01e - 0.3x^2 - 0.15y^2 (e = expression). The mouth ring runs
// around the rectangle of columns 21..33 and rows 11..18; the inner lips are
// (27, 15) (upper, vertex 415) and (27, 14) (lower, vertex 371), vertex 1683
// is (27, 17) on the upper lip; the corners
// of the mouth (feature points 3 and 4) are (21, 14) and (33, 14). The
// expressions move the mouth: open ones (1, 3) lower the lower lip by up to
// 0.08 and the corners by 0.04; smiling ones (2, 3) raise the corners by 0.12.
// Regions 1 and 2 are 3 x 3 eyeball patches centred on (-0.5, 0.4) and
// (0.5, 0.4); regions 3 and 4 are small teeth patches behind the mouth.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "kelmo.h"
#include "model/model.h"

namespace kelmo::testing {

inline constexpr int kFullHeadSide = 55;
inline constexpr int kFullHeadVertexCount = kFullHeadSide * kFullHeadSide;

namespace full_head_detail {

using GridPoint = std::pair<int, int>;  // column i, row j

inline int naturalIndex(GridPoint point) { return point.second * kFullHeadSide + point.first; }

// Fixed region-0 indices of Parts 3.1 and 3.4 and where they sit.
inline const std::vector<std::pair<int32_t, GridPoint>> &fixedVertices() {
    static const std::vector<std::pair<int32_t, GridPoint>> fixed = {
        {415, {27, 15}}, {371, {27, 14}},  {1683, {27, 17}},                   // upper and lower inner lip, upper lip
        {718, {27, 0}},  {2775, {0, 0}},   {228, {0, 27}},   {1829, {0, 54}},  // sock ring on the rim
        {441, {27, 54}}, {2038, {54, 54}}, {1130, {54, 27}}, {2976, {54, 0}},
    };
    return fixed;
}

// newToNatural[k]: the grid point (natural index) that vertex k of region 0
// holds; the fixed indices take their points, the rest follow in order.
struct Permutation {
    std::vector<int> newToNatural;
    std::vector<int> naturalToNew;
};

inline const Permutation &permutation() {
    static const Permutation perm = [] {
        Permutation p;
        p.newToNatural.assign(kFullHeadVertexCount, -1);
        std::vector<bool> used(kFullHeadVertexCount, false);
        for (const auto &[index, point] : fixedVertices()) {
            p.newToNatural[static_cast<std::size_t>(index)] = naturalIndex(point);
            used[static_cast<std::size_t>(naturalIndex(point))] = true;
        }
        int next = 0;
        for (int &natural : p.newToNatural) {
            if (natural >= 0) continue;
            while (used[static_cast<std::size_t>(next)]) ++next;
            natural = next++;
        }
        p.naturalToNew.assign(kFullHeadVertexCount, -1);
        for (int k = 0; k < kFullHeadVertexCount; ++k) p.naturalToNew[static_cast<std::size_t>(p.newToNatural[k])] = k;
        return p;
    }();
    return perm;
}

inline int32_t vertexAt(GridPoint point) {
    return permutation().naturalToNew[static_cast<std::size_t>(naturalIndex(point))];
}

// Grid points of the region-0 feature points (-1, -1 for the eye points on
// regions 1 and 2).
inline const std::array<GridPoint, kFeaturePointCount> &featureGridPoints() {
    static const std::array<GridPoint, kFeaturePointCount> points = [] {
        std::array<GridPoint, kFeaturePointCount> p{};
        p.fill({-1, -1});
        p[3] = {21, 14};  // corners of the mouth
        p[4] = {33, 14};
        p[61] = {27, 15};  // inner lips (vertices 415 and 371)
        p[64] = {27, 14};
        p[2] = {27, 25};  // the four points left out of the control points
        p[22] = {27, 50};
        p[43] = {27, 5};
        p[44] = {27, 30};
        std::vector<GridPoint> others;
        // Contour: 20 points on an ellipse round the face.
        for (int k = 0; k < 20; ++k) {
            const double angle = 2.0 * 3.14159265358979 * (k + 0.5) / 20.0;
            others.push_back({27 + static_cast<int>(std::lround(25.0 * std::cos(angle))),
                              27 + static_cast<int>(std::lround(26.0 * std::sin(angle)))});
        }
        for (int i : {8, 11, 14, 17, 20, 34, 37, 40, 43, 46}) others.push_back({i, 42});  // brows
        for (int j : {37, 33})
            for (int i : {10, 16, 38, 44}) others.push_back({i, j});  // round the eyes
        for (GridPoint g : {GridPoint{23, 22}, {31, 22}, {25, 21}, {29, 21}, {27, 27}, {27, 35}})
            others.push_back(g);  // nose
        for (GridPoint g : {GridPoint{24, 18}, {30, 18}, {24, 11}, {30, 11}, {27, 18}, {27, 11}, {25, 15}, {29, 15}})
            others.push_back(g);  // outer lips
        std::vector<GridPoint> taken;
        for (const GridPoint &g : p)
            if (g.first >= 0) taken.push_back(g);
        std::size_t next = 0;
        for (int k = 0; k < kFeaturePointCount; ++k) {
            if (p[static_cast<std::size_t>(k)].first >= 0) continue;
            if (k == 0 || k == 1 || k == 29 || k == 30 || k == 33 || k == 34) continue;
            GridPoint g = others[next++];
            // Every feature point on its own vertex.
            while (std::find(taken.begin(), taken.end(), g) != taken.end()) ++g.first;
            taken.push_back(g);
            p[static_cast<std::size_t>(k)] = g;
        }
        return p;
    }();
    return points;
}

// The 38 ring points, counter-clockwise from the bottom-left corner.
inline std::vector<GridPoint> mouthRing() {
    std::vector<GridPoint> ring;
    for (int i = 21; i <= 33; ++i) ring.push_back({i, 11});
    for (int j = 12; j <= 18; ++j) ring.push_back({33, j});
    for (int i = 32; i >= 21; --i) ring.push_back({i, 18});
    for (int j = 17; j >= 12; --j) ring.push_back({21, j});
    return ring;
}

// A rectangular patch of columns x rows vertices with quads between them.
inline TRegion patch(int columns, int rows, float x0, float y0, float width, float height, float z) {
    TRegion region;
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            const float u = static_cast<float>(i) / static_cast<float>(columns - 1);
            const float v = static_cast<float>(j) / static_cast<float>(rows - 1);
            region.vertices.push_back({x0 + width * u, y0 + height * v, z});
            region.textureCoords.push_back({u, v});
        }
    }
    for (int j = 0; j + 1 < rows; ++j) {
        for (int i = 0; i + 1 < columns; ++i) {
            const int32_t a = j * columns + i;
            const Quad quad{a, a + 1, a + columns + 1, a + columns};
            region.quads.push_back(quad);
            region.textureQuads.push_back(quad);
        }
    }
    return region;
}

// The expression's movement of a grid point's y (see the file comment).
inline float mouthShift(int i, int j, int expression) {
    const bool open = expression == 1 || expression == 3;
    const bool smiling = expression == 2 || expression == 3;
    float shift = 0.0f;
    if (j == 15 && i >= 22 && i <= 32) shift -= 0.035f;  // upper lip rests on the lower one
    if (open && j >= 12 && j <= 14 && i >= 22 && i <= 32) shift -= 0.08f * static_cast<float>(j - 11) / 3.0f;
    const bool corner = (i == 21 || i == 33) && j >= 13 && j <= 15;
    if (open && corner) shift -= 0.04f;
    if (smiling && corner) shift += 0.12f;
    return shift;
}

}  // namespace full_head_detail

// The five regions of full-head expression mesh `expression` (0..3).
inline std::vector<TRegion> fullHeadRegions(int expression) {
    using namespace full_head_detail;
    const Permutation &perm = permutation();
    const int n = kFullHeadSide;
    TRegion head;
    head.vertices.resize(kFullHeadVertexCount);
    head.textureCoords.resize(kFullHeadVertexCount);
    for (int k = 0; k < kFullHeadVertexCount; ++k) {
        const int natural = perm.newToNatural[static_cast<std::size_t>(k)];
        const int i = natural % n;
        const int j = natural / n;
        const float x = -1.0f + 2.0f * static_cast<float>(i) / static_cast<float>(n - 1);
        const float y = -1.25f + 2.5f * static_cast<float>(j) / static_cast<float>(n - 1);
        const float z = 1.0f + 0.01f * static_cast<float>(expression) - 0.3f * x * x - 0.15f * y * y;
        head.vertices[static_cast<std::size_t>(k)] = {x, y + mouthShift(i, j, expression), z};
        head.textureCoords[static_cast<std::size_t>(k)] = {static_cast<float>(i) / static_cast<float>(n - 1),
                                                           static_cast<float>(j) / static_cast<float>(n - 1)};
    }
    for (int j = 0; j + 1 < n; ++j) {
        for (int i = 0; i + 1 < n; ++i) {
            const Quad quad{vertexAt({i, j}), vertexAt({i + 1, j}), vertexAt({i + 1, j + 1}), vertexAt({i, j + 1})};
            head.quads.push_back(quad);
            head.textureQuads.push_back(quad);
        }
    }
    std::vector<TRegion> regions;
    regions.push_back(std::move(head));
    regions.push_back(patch(3, 3, -0.6f, 0.3f, 0.2f, 0.2f, 1.1f));  // eyeballs
    regions.push_back(patch(3, 3, 0.4f, 0.3f, 0.2f, 0.2f, 1.1f));
    regions.push_back(patch(3, 2, -0.2f, -0.58f, 0.4f, 0.08f, 0.85f));  // upper teeth
    regions.push_back(patch(3, 2, -0.2f, -0.70f, 0.4f, 0.08f, 0.85f));  // lower teeth
    return regions;
}

// "grd66.txt" of the full head: the vertex of each feature point in its
// region (Part 2.3); the eye points sit on the eyeball patches' centre (4)
// and corners (0 and 8).
inline std::vector<int32_t> fullHeadLandmarkTable() {
    using namespace full_head_detail;
    std::vector<int32_t> table(kFeaturePointCount);
    for (int k = 0; k < kFeaturePointCount; ++k) {
        if (k == 0 || k == 1)
            table[static_cast<std::size_t>(k)] = 4;
        else if (k == 29 || k == 33)
            table[static_cast<std::size_t>(k)] = 0;
        else if (k == 30 || k == 34)
            table[static_cast<std::size_t>(k)] = 8;
        else
            table[static_cast<std::size_t>(k)] = vertexAt(featureGridPoints()[static_cast<std::size_t>(k)]);
    }
    return table;
}

// "list7.txt" of the full head: the 38 mouth-ring vertices in ring order.
inline std::vector<int32_t> fullHeadList7Table() {
    std::vector<int32_t> table;
    for (const auto &point : full_head_detail::mouthRing()) table.push_back(full_head_detail::vertexAt(point));
    return table;
}

// The 66 feature points of full-head expression mesh `expression`.
inline std::array<TVector3f, kFeaturePointCount> fullHeadFeaturePoints(int expression) {
    const std::vector<TRegion> regions = fullHeadRegions(expression);
    const std::vector<int32_t> table = fullHeadLandmarkTable();
    std::array<TVector3f, kFeaturePointCount> points{};
    for (int k = 0; k < kFeaturePointCount; ++k) {
        const int region = (k == 0 || k == 29 || k == 30) ? 1 : (k == 1 || k == 33 || k == 34) ? 2 : 0;
        points[static_cast<std::size_t>(k)] =
            regions[static_cast<std::size_t>(region)]
                .vertices[static_cast<std::size_t>(table[static_cast<std::size_t>(k)])];
    }
    return points;
}

// "alpha.grd" of the full head, in the synthetic 300 x 300 alpha image: mesh
// 0's feature points at 100 pixels per unit about (150, 160), y down.
inline std::array<TPointf, kFeaturePointCount> fullHeadAlphaGridPoints() {
    std::array<TPointf, kFeaturePointCount> grid{};
    const auto points = fullHeadFeaturePoints(0);
    for (int k = 0; k < kFeaturePointCount; ++k) {
        grid[static_cast<std::size_t>(k)] = {150.0f + 100.0f * points[static_cast<std::size_t>(k)].x,
                                             160.0f - 100.0f * points[static_cast<std::size_t>(k)].y};
    }
    return grid;
}

}  // namespace kelmo::testing
