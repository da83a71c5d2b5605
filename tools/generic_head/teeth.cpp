// The teeth (see teeth.h).
#include "tools/generic_head/teeth.h"

#include <algorithm>
#include <cmath>

namespace kelmo::generic_head {
namespace {

constexpr int kArchColumns = 24;  // quads along the arch
constexpr int kTeethRows = 4;     // quads from the gums to the biting edge

struct Arch {
    double halfWidth;  // x of the ends (cm)
    double front;      // z of the front at x = 0
    double curve;      // z falls by curve * x^2
    double gumY;       // y of the gums at x = 0
    double edgeY;      // y of the biting edge at x = 0
    double edgeRise;   // the edge rises by this much toward the ends
};

// Rows run from v = 1 (top of the image) to v = 0; for the upper teeth the
// top is the gum, for the lower teeth the biting edge.
RegionMesh buildArch(const Arch &a, bool upper) {
    RegionMesh m;
    for (int r = 0; r <= kTeethRows; ++r) {
        const double t = double(r) / kTeethRows;  // 0 at the top of the image
        for (int k = 0; k <= kArchColumns; ++k) {
            const double u = double(k) / kArchColumns;
            const double x = -a.halfWidth + 2.0 * a.halfWidth * u;
            const double s = x / a.halfWidth;
            const double edge = a.edgeY + a.edgeRise * s * s;
            const double top = upper ? a.gumY : edge;
            const double bottom = upper ? edge : a.gumY;
            m.vertices.push_back({x, lerp(top, bottom, t), a.front - a.curve * x * x});
            m.texCoords.push_back({u, 1.0 - t});
        }
    }
    const int stride = kArchColumns + 1;
    // Seen from the front, counter-clockwise: the teeth face +z.
    for (int r = 0; r < kTeethRows; ++r)
        for (int k = 0; k < kArchColumns; ++k)
            m.quads.push_back({r * stride + k, (r + 1) * stride + k, (r + 1) * stride + k + 1, r * stride + k + 1});
    return m;
}

const Arch kUpperArch{2.5, 1.85, 0.30, -1.55, -2.74, 0.14};
const Arch kLowerArch{2.2, 1.58, 0.33, -3.6, -2.5, 0.10};

// Tooth edges along x from the middle outwards (cm), per half arch.
constexpr double kUpperEdges[] = {0.0, 0.82, 1.42, 1.92, 2.27, 2.5};
constexpr double kLowerEdges[] = {0.0, 0.55, 1.12, 1.62, 2.0, 2.2};

uint8_t toByte(double v) { return static_cast<uint8_t>(std::clamp(v, 0.0, 1.0) * 255.0 + 0.5); }

// Paints one teeth image. `upper`: the gums at the top; otherwise at the
// bottom. Teeth further back are darker (the renderer does not light the
// inner pass).
RgbaImage paintTeeth(const Arch &arch, const double *edges, int edgeCount, bool upper) {
    RgbaImage img;
    img.width = 256;
    img.height = 96;
    img.rgba.assign(std::size_t(img.width) * img.height * 4, 0);
    const double gumBand = 0.2;  // share of the height covered by the gums
    for (int py = 0; py < img.height; ++py) {
        // Distance from the gum side, 0 at the gums' edge of the image.
        const double tv = (py + 0.5) / img.height;
        const double fromGum = upper ? tv : 1.0 - tv;
        for (int px = 0; px < img.width; ++px) {
            const double u = (px + 0.5) / img.width;
            const double x = -arch.halfWidth + 2.0 * arch.halfWidth * u;
            const double ax = std::abs(x);
            int k = 0;
            while (k + 2 < edgeCount && ax > edges[k + 1]) ++k;
            const double s = std::clamp((ax - edges[k]) / (edges[k + 1] - edges[k]), 0.0, 1.0);
            const double back = ax / arch.halfWidth;
            const double shade = 1.0 - 0.5 * back * back;
            double r = 0, g = 0, b = 0, a = 0;
            if (fromGum < gumBand) {
                // Gums, with a scalloped edge between the teeth.
                r = 0.78 * shade;
                g = 0.42 * shade;
                b = 0.45 * shade;
                a = 1.0;
            }
            const double across = std::abs(2.0 * s - 1.0);
            const double scallop = gumBand - 0.06 * (1.0 - across * across);
            const double tip = 0.97 - 0.16 * std::pow(across, 4.0);  // rounded corners at the biting edge
            const bool gap = s < 0.035 || s > 0.965;
            if (fromGum >= scallop && fromGum <= tip && !gap) {
                const double body = 0.86 + 0.14 * (1.0 - across * across);
                const double towardEdge = (fromGum - scallop) / (tip - scallop);
                const double edgeGrey = 1.0 - 0.12 * smoothstep(0.75, 1.0, towardEdge);
                r = 0.96 * body * shade * edgeGrey;
                g = 0.93 * body * shade * edgeGrey;
                b = 0.84 * body * shade * (edgeGrey + 0.05 * smoothstep(0.75, 1.0, towardEdge));
                a = 1.0;
            }
            uint8_t *p = &img.rgba[(std::size_t(py) * img.width + px) * 4];
            p[0] = toByte(r);
            p[1] = toByte(g);
            p[2] = toByte(b);
            p[3] = toByte(a);
        }
    }
    return img;
}

void scaleRegion(RegionMesh &m, double sx, double sy, double sz, Vec3 c) {
    for (Vec3 &v : m.vertices) v = {(v.x - c.x) * sx + c.x, (v.y - c.y) * sy + c.y, (v.z - c.z) * sz + c.z};
}

}  // namespace

RegionMesh buildUpperTeethCm() { return buildArch(kUpperArch, true); }
RegionMesh buildLowerTeethCm() { return buildArch(kLowerArch, false); }

RgbaImage makeUpperTeethImage() {
    return paintTeeth(kUpperArch, kUpperEdges, sizeof(kUpperEdges) / sizeof(kUpperEdges[0]), true);
}
RgbaImage makeLowerTeethImage() {
    return paintTeeth(kLowerArch, kLowerEdges, sizeof(kLowerEdges) / sizeof(kLowerEdges[0]), false);
}

void placeTeethInverse(RegionMesh &upper, RegionMesh &lower) {
    if (upper.vertices.empty()) return;
    // placeTeeth scales about region 3's first vertex after lifting it, so
    // that vertex's final place is the centre.
    const Vec3 centre = upper.vertices[0];
    scaleRegion(upper, 1.0 / 0.95, 1.0 / 0.9, 1.0 / 0.5, centre);
    scaleRegion(lower, 1.0 / 0.95, 1.0 / 0.9, 1.0 / 0.5, centre);
    for (Vec3 &v : upper.vertices) v.y -= 0.1;
    for (Vec3 &v : lower.vertices) v.y -= 0.25;
}

}  // namespace kelmo::generic_head
