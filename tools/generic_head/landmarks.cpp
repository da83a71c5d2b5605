// The 66-point landmark scheme and the numbering of region 0 (see
// landmarks.h and docs/landmarks.md).
#include "tools/generic_head/landmarks.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>

namespace kelmo::generic_head {

namespace {
using R = LandmarkRole;
}

// "right" and "left" are the subject's: the subject's right is image left,
// model -x. dlib's 68 points are numbered 0..67 as in the iBUG 300-W scheme.
const std::array<LandmarkDefinition, kLandmarkCount> &landmarkScheme() {
    static const std::array<LandmarkDefinition, kLandmarkCount> scheme = {{
        {"right eye centre", {36, 37, 38, 39, 40, 41}, R::kEyeball},             // 0
        {"left eye centre", {42, 43, 44, 45, 46, 47}, R::kEyeball},              // 1
        {"face outline, right, at the eyes", {0}, R::kExcluded},                 // 2
        {"right mouth corner", {48}, R::kControl},                                // 3
        {"left mouth corner", {54}, R::kControl},                                 // 4
        {"jaw outline, right, below the cheekbone", {2}, R::kControl},           // 5
        {"jaw outline, right, at the mouth", {4}, R::kControl},                  // 6
        {"jaw outline, right, before the chin", {6}, R::kControl},               // 7
        {"chin outline, right", {7}, R::kControl},                               // 8
        {"chin bottom", {8}, R::kControl},                                        // 9
        {"chin outline, left", {9}, R::kControl},                                // 10
        {"jaw outline, left, before the chin", {10}, R::kControl},               // 11
        {"jaw outline, left, at the mouth", {12}, R::kControl},                  // 12
        {"jaw outline, left, below the cheekbone", {14}, R::kControl},           // 13
        {"right brow, outer end", {17}, R::kControl},                             // 14
        {"right brow, outer middle", {18}, R::kControl},                          // 15
        {"right brow, middle", {19}, R::kControl},                                // 16
        {"right brow, inner middle", {20}, R::kControl},                          // 17
        {"right brow, inner end", {21}, R::kControl},                             // 18
        {"left brow, inner end", {22}, R::kControl},                              // 19
        {"left brow, inner middle", {23}, R::kControl},                           // 20
        {"left brow, middle", {24}, R::kControl},                                 // 21
        {"face outline, right, below the eyes", {1}, R::kExcluded},              // 22
        {"left brow, outer middle", {25}, R::kControl},                           // 23
        {"left brow, outer end", {26}, R::kControl},                              // 24
        {"nose root", {27}, R::kControl},                                         // 25
        {"nose bridge", {28}, R::kControl},                                       // 26
        {"nose ridge", {29}, R::kControl},                                        // 27
        {"nose tip", {30}, R::kControl},                                          // 28
        {"right eye, upper lid margin middle (on the eyeball)", {37, 38}, R::kEyeball},  // 29
        {"right eye, lower lid margin middle (on the eyeball)", {40, 41}, R::kEyeball},  // 30
        {"right nose wing, base", {31}, R::kControl},                             // 31
        {"nose base, middle", {33}, R::kControl},                                 // 32
        {"left eye, upper lid margin middle (on the eyeball)", {43, 44}, R::kEyeball},   // 33
        {"left eye, lower lid margin middle (on the eyeball)", {46, 47}, R::kEyeball},   // 34
        {"left nose wing, base", {35}, R::kControl},                              // 35
        {"right eye, outer corner", {36}, R::kControl},                           // 36
        {"right eye, upper lid, outer third", {37}, R::kControl},                 // 37
        {"right eye, upper lid, inner third", {38}, R::kControl},                 // 38
        {"right eye, inner corner", {39}, R::kControl},                           // 39
        {"right eye, lower lid, inner third", {40}, R::kControl},                 // 40
        {"right eye, lower lid, outer third", {41}, R::kControl},                 // 41
        {"left eye, inner corner", {42}, R::kControl},                            // 42
        {"face outline, left, below the eyes", {15}, R::kExcluded},              // 43
        {"face outline, left, at the eyes", {16}, R::kExcluded},                 // 44
        {"left eye, upper lid, inner third", {43}, R::kControl},                  // 45
        {"left eye, upper lid, outer third", {44}, R::kControl},                  // 46
        {"left eye, outer corner", {45}, R::kControl},                            // 47
        {"left eye, lower lid, outer third", {46}, R::kControl},                  // 48
        {"left eye, lower lid, inner third", {47}, R::kControl},                  // 49
        {"upper lip outline, right", {49}, R::kControl},                          // 50
        {"upper lip outline, right peak", {50}, R::kControl},                     // 51
        {"upper lip outline, middle", {51}, R::kControl},                         // 52
        {"upper lip outline, left peak", {52}, R::kControl},                      // 53
        {"upper lip outline, left", {53}, R::kControl},                           // 54
        {"lower lip outline, left", {55}, R::kControl},                           // 55
        {"lower lip outline, left of middle", {56}, R::kControl},                 // 56
        {"lower lip outline, middle", {57}, R::kControl},                         // 57
        {"lower lip outline, right of middle", {58}, R::kControl},                // 58
        {"lower lip outline, right", {59}, R::kControl},                          // 59
        {"inner upper lip, right", {61}, R::kControl},                            // 60
        {"inner upper lip, middle", {62}, R::kControl},                           // 61
        {"inner upper lip, left", {63}, R::kControl},                             // 62
        {"inner lower lip, left", {65}, R::kControl},                             // 63
        {"inner lower lip, middle", {66}, R::kControl},                           // 64
        {"inner lower lip, right", {67}, R::kControl},                            // 65
    }};
    return scheme;
}

int landmarkRegion(int index) {
    if (index == 0 || index == 29 || index == 30) return kRightEyeRegion;
    if (index == 1 || index == 33 || index == 34) return kLeftEyeRegion;
    return kHeadRegion;
}

namespace {

// Front-facing quads and the vertices where front- and back-facing quads
// meet: the outline of the head seen from the front.
std::vector<bool> frontOutline(const RegionMesh &m) {
    std::vector<int> front(m.vertices.size(), 0), back(m.vertices.size(), 0);
    for (const Quad &q : m.quads) {
        const Vec3 n = cross(m.vertices[q[2]] - m.vertices[q[0]], m.vertices[q[3]] - m.vertices[q[1]]);
        for (int k = 0; k < 4; ++k) (n.z > 0.0 ? front : back)[q[k]] += 1;
    }
    std::vector<bool> outline(m.vertices.size());
    for (std::size_t v = 0; v < outline.size(); ++v) outline[v] = front[v] > 0 && back[v] > 0;
    return outline;
}

}  // namespace

HeadIndexing chooseIndexing(const RegionMesh &head, const std::array<Eyeball, 2> &eyes) {
    const SurfaceLayout &L = surfaceLayout();
    const int c = L.columns / 2;  // the midline column
    const GridHole &mouth = L.mouth;
    const int m = mouth.row;
    HeadIndexing ix;

    // Lip ring: the rim of the mouth opening ("list7.txt").
    ix.lipRing = L.holeRing(mouth);

    // Fixed indices (teeth placement, sock, mouth cavity): the inner-lip
    // midpoints; the point of the upper lip's inner edge that bounds the
    // teeth (placeTeeth shows at
    // most 55% of the upper teeth below it), beside the midpoint on the lip
    // ring; and the sock ring: eight vertices
    // around the opening on the lips, in fan order (left, upper left, top,
    // upper right, right, lower right, bottom, lower left as seen from the
    // front). The ring is wide and tall enough that the sock point (x of the
    // top vertex 228, y and z of the left vertex 718) lies inside it in every
    // expression, and it encloses the lip ring: the fan covers the opening.
    const int upperMid = L.vertexIndex(m, c);
    const int lowerMid = L.vertexIndex(m + 1, c);
    // The sock shows only where the face leaves a hole, so a fan much larger
    // than the opening costs nothing and keeps covering it when the head is
    // turned by 45 degrees, tilted by 20 and the jaw is open (its lower half
    // lies on the chin and turns with the jaw).
    ix.sockRing = {L.vertexIndex(m, mouth.firstColumn - 5),  L.vertexIndex(m - 6, c - 9),
                   L.vertexIndex(m - 7, c),                     L.vertexIndex(m - 6, c + 9),
                   L.vertexIndex(m, mouth.lastColumn + 5),     L.vertexIndex(m + 8, c + 10),
                   L.vertexIndex(m + 10, c),                    L.vertexIndex(m + 8, c - 10)};
    static constexpr int kSockFixed[8] = {718, 2775, 228, 1829, 441, 2038, 1130, 2976};
    ix.fixed = {{415, upperMid, "upper inner-lip midpoint"},
                {371, lowerMid, "lower inner-lip midpoint"},
                {1683, L.vertexIndex(m, c + 1), "upper lip's inner edge beside its midpoint"}};
    for (int k = 0; k < 8; ++k) ix.fixed.push_back({kSockFixed[k], ix.sockRing[k], "sock ring"});

    // Landmarks.
    auto &lv = ix.landmarkVertex;
    lv[0] = eyes[0].frontPole;
    lv[29] = eyes[0].upperMargin;
    lv[30] = eyes[0].lowerMargin;
    lv[1] = eyes[1].frontPole;
    lv[33] = eyes[1].upperMargin;
    lv[34] = eyes[1].lowerMargin;

    // Lids: the rims of the eye openings. The opening of eye 0 (at -x) runs
    // from its outer corner (first column) to its inner corner; that of
    // eye 1 from its inner corner to its outer corner. dlib numbers both eyes
    // clockwise in the image from the left corner.
    for (int e = 0; e < 2; ++e) {
        const GridHole &h = L.eyes[e];
        const int f = h.firstColumn, l = h.lastColumn;
        const int third = (l - f + 1) / 3, twoThirds = l - f - third;
        const int ids[6] = {L.vertexIndex(h.row, f),         L.vertexIndex(h.row, f + third),
                            L.vertexIndex(h.row, f + twoThirds), L.vertexIndex(h.row, l),
                            L.vertexIndex(h.row + 1, f + twoThirds), L.vertexIndex(h.row + 1, f + third)};
        // Scheme indices of dlib 36..41 and 42..47.
        static constexpr int kRight[6] = {36, 37, 38, 39, 40, 41};
        static constexpr int kLeft[6] = {42, 45, 46, 47, 48, 49};
        for (int k = 0; k < 6; ++k) lv[(e == 0 ? kRight : kLeft)[k]] = ids[k];
    }

    // Mouth: corners are the ends of the upper rim; inner lip points on the
    // rim, two columns (0.6 cm) from the middle.
    lv[3] = L.vertexIndex(m, mouth.firstColumn);
    lv[4] = L.vertexIndex(m, mouth.lastColumn);
    lv[60] = L.vertexIndex(m, c - 2);
    lv[61] = upperMid;
    lv[62] = L.vertexIndex(m, c + 2);
    lv[63] = L.vertexIndex(m + 1, c + 2);
    lv[64] = lowerMid;
    lv[65] = L.vertexIndex(m + 1, c - 2);

    // Points on the face: the vertex nearest to a position of the front
    // projection, among the vertices of the front of the face.
    std::vector<bool> rim(head.vertices.size(), false);
    for (int v : ix.lipRing) rim[v] = true;
    for (const GridHole &h : L.eyes)
        for (int v : L.holeRing(h)) rim[v] = true;
    auto nearest = [&](double x, double y) {
        int best = -1;
        double bestD = std::numeric_limits<double>::max();
        for (int i = 0; i < L.rows; ++i) {
            for (int j = c - 22; j <= c + 22; ++j) {
                const int v = L.vertexIndex(i, j);
                const Vec3 p = head.vertices[v];
                if (rim[v] || p.z < -1.5) continue;
                const double d = (p.x - x) * (p.x - x) + (p.y - y) * (p.y - y);
                if (d < bestD) {
                    bestD = d;
                    best = v;
                }
            }
        }
        return best;
    };
    auto midline = [&](double y) {
        int best = -1;
        double bestD = std::numeric_limits<double>::max();
        for (int i = 0; i < L.rows; ++i) {
            const int v = L.vertexIndex(i, c);
            if (head.vertices[v].z < 0.0) continue;
            const double d = std::abs(head.vertices[v].y - y);
            if (d < bestD) {
                bestD = d;
                best = v;
            }
        }
        return best;
    };
    // Brows: the reference positions of dlib 17..26 (reference/mean_face_68_3d.txt).
    static constexpr double kBrows[10][2] = {{-6.11, 4.94}, {-5.13, 5.88}, {-3.78, 6.20}, {-2.40, 6.10},
                                             {-1.16, 5.67}, {1.21, 5.74},  {2.51, 6.19},  {3.83, 6.28},
                                             {5.12, 5.93},  {6.01, 5.02}};
    static constexpr int kBrowIndex[10] = {14, 15, 16, 17, 18, 19, 20, 21, 23, 24};
    for (int k = 0; k < 10; ++k) lv[kBrowIndex[k]] = nearest(kBrows[k][0], kBrows[k][1]);
    // Nose: root, bridge and ridge on the midline at the reference heights;
    // the tip is the most forward midline vertex; the wings' bases and the
    // base's middle.
    lv[25] = midline(4.22);
    lv[26] = midline(3.10);
    lv[27] = midline(1.99);
    {
        int tip = -1;
        for (int i = 0; i < L.rows; ++i) {
            const int v = L.vertexIndex(i, c);
            if (tip < 0 || head.vertices[v].z > head.vertices[tip].z) tip = v;
        }
        lv[28] = tip;
    }
    lv[31] = nearest(-1.62, -0.3);
    lv[35] = nearest(1.62, -0.3);
    lv[32] = midline(-0.66);
    // Lip outlines.
    static constexpr double kUpperX[5] = {-1.8, -0.72, 0.0, 0.72, 1.8};
    for (int k = 0; k < 5; ++k) lv[50 + k] = nearest(kUpperX[k], upperLipBorderY(kUpperX[k]));
    static constexpr double kLowerX[5] = {1.85, 0.88, 0.0, -0.88, -1.85};
    for (int k = 0; k < 5; ++k) lv[55 + k] = nearest(kLowerX[k], lowerLipBorderY(kLowerX[k]));

    // Face outline (dlib 0..16): the vertex of the front outline of the head
    // (ears left out) in the direction, from the middle of the face, of the
    // reference point.
    {
        const std::vector<bool> outline = frontOutline(head);
        static constexpr double kJaw[17][2] = {
            {-7.34, 2.98}, {-7.28, 1.09}, {-7.05, -0.79}, {-6.69, -2.61}, {-5.98, -4.26}, {-4.84, -5.65},
            {-3.41, -6.72}, {-1.79, -7.51}, {0.01, -7.71},  {1.75, -7.48}, {3.26, -6.69},  {4.64, -5.63},
            {5.73, -4.24},  {6.44, -2.55}, {6.82, -0.70},  {7.05, 1.17},  {7.14, 3.04}};
        // dlib 7, 8, 9 (the chin's lower edge) are taken from the chin row below.
        static constexpr int kJawIndex[17] = {2, 22, 5, -1, 6, -1, 7, -1, -1, -1, 11, -1, 12, -1, 13, 43, 44};
        const double cy = 0.0;
        for (int k = 0; k < 17; ++k) {
            if (kJawIndex[k] < 0) continue;
            const double want = std::atan2(kJaw[k][1] - cy, kJaw[k][0]);
            int best = -1;
            double bestScore = std::numeric_limits<double>::max();
            for (std::size_t v = 0; v < head.vertices.size(); ++v) {
                const Vec3 p = head.vertices[v];
                // Not the ears, the cranium or the neck below the chin.
                if (!outline[v] || p.z < -6.0 || p.y > 5.0 || p.y < -8.0) continue;
                const double a = std::atan2(p.y - cy, p.x);
                double da = std::abs(a - want);
                da = std::min(da, 2.0 * std::numbers::pi - da);
                // The outermost outline vertex in that direction.
                const double score = da * 20.0 - std::hypot(p.x, p.y - cy) * 0.01;
                if (score < bestScore) {
                    bestScore = score;
                    best = static_cast<int>(v);
                }
            }
            lv[kJawIndex[k]] = best;
        }
    }
    // The lower edge of the chin, seen from the front, is the row where the
    // chin turns under (the menton): points 8, 9, 10 at the reference x.
    {
        static constexpr double kChinX[3] = {-1.79, 0.0, 1.75};
        for (int k = 0; k < 3; ++k) {
            int best = -1;
            for (int j = c - 15; j <= c + 15; ++j) {
                const int v = L.vertexIndex(L.chinRow, j);
                if (best < 0 || std::abs(head.vertices[v].x - kChinX[k]) < std::abs(head.vertices[best].x - kChinX[k]))
                    best = v;
            }
            lv[8 + k] = best;
        }
    }
    for (int k = 0; k < kLandmarkCount; ++k)
        if (lv[k] < 0) throw std::logic_error("landmark without a vertex");
    return ix;
}

Renumbering makeRenumbering(int vertexCount, const std::vector<FixedVertex> &fixed) {
    Renumbering r;
    r.naturalIndex.resize(vertexCount);
    r.finalIndex.resize(vertexCount);
    for (int i = 0; i < vertexCount; ++i) r.naturalIndex[i] = r.finalIndex[i] = i;
    // Swap each chosen vertex into its fixed place. The fixed indices and the
    // chosen vertices are distinct, so a later swap never moves a vertex that
    // an earlier one put in place.
    for (const FixedVertex &f : fixed) {
        const int from = r.finalIndex[f.naturalIndex];
        const int to = f.fixedIndex;
        const int displaced = r.naturalIndex[to];
        std::swap(r.naturalIndex[from], r.naturalIndex[to]);
        r.finalIndex[f.naturalIndex] = to;
        r.finalIndex[displaced] = from;
    }
    return r;
}

}  // namespace kelmo::generic_head
