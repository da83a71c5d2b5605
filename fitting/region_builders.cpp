#include "fitting/region_builders.h"

#include <cmath>
#include <cstddef>
#include <utility>

namespace kelmo {
namespace {

// Texture coordinates of the sock's vertices 0 to 8 in the shared sock
// image: the centre in the middle, the ring around the edges.
constexpr std::array<TPointf, 9> kSockTextureCoords = {{{0.5f, 0.5f},
                                                        {0.5f, 0.5f},
                                                        {0.0f, 0.5f},
                                                        {0.0f, 1.0f},
                                                        {1.0f, 0.5f},
                                                        {1.0f, 1.0f},
                                                        {1.0f, 0.5f},
                                                        {1.0f, 0.0f},
                                                        {0.0f, 0.5f}}};

bool holdsVertex(const TRegion &region, int32_t index) {
    return index >= 0 && static_cast<std::size_t>(index) < region.vertices.size();
}

TVector3f lowered(TVector3f vertex) {
    vertex.z = vertex.z - kMouthCapRecess;
    return vertex;
}

}  // namespace

bool canBuildSockRegion(const std::vector<TRegion> &regions) {
    if (regions.size() <= static_cast<std::size_t>(kSockRegion)) return false;
    for (const int32_t index : kSockSourceVertices)
        if (!holdsVertex(regions[0], index)) return false;
    return true;
}

bool canBuildMouthCap(const std::vector<TRegion> &regions, const std::vector<int32_t> &list7) {
    if (regions.size() <= static_cast<std::size_t>(kMouthCapRegion) || list7.empty()) return false;
    const TRegion &head = regions[0];
    if (!holdsVertex(head, kMouthCentreVertexA) || !holdsVertex(head, kMouthCentreVertexB)) return false;
    for (const int32_t index : list7)
        if (!holdsVertex(head, index)) return false;
    return true;
}

bool buildSockRegion(std::vector<TRegion> &regions) {
    if (!canBuildSockRegion(regions)) return false;
    const std::vector<TVector3f> &head = regions[0].vertices;

    // Nine vertices and texture coordinates, eight quads and texture quads,
    // built aside and moved in at the end.
    TRegion sock;
    sock.vertices.resize(9);
    // Vertices 1 to 8 from region 0; vertex 0 from vertex 3's x and
    // vertex 1's y and z.
    for (std::size_t k = 0; k < kSockSourceVertices.size(); ++k) {
        sock.vertices[k + 1] = head[static_cast<std::size_t>(kSockSourceVertices[k])];
    }
    sock.vertices[0] = TVector3f{sock.vertices[3].x, sock.vertices[1].y, sock.vertices[1].z};
    // The fan: quad i = (0, i + 1, i + 2, 0) for i = 0 to 6, quad 7 = (0, 8, 1, 0).
    for (int32_t i = 0; i < 7; ++i) sock.quads.push_back(Quad{0, i + 1, i + 2, 0});
    sock.quads.push_back(Quad{0, 8, 1, 0});
    sock.textureQuads = sock.quads;
    sock.textureCoords.assign(kSockTextureCoords.begin(), kSockTextureCoords.end());

    regions[static_cast<std::size_t>(kSockRegion)] = std::move(sock);
    return true;
}

bool buildMouthCap(std::vector<TRegion> &regions, const std::vector<int32_t> &list7) {
    if (!canBuildMouthCap(regions, list7)) return false;
    const std::vector<TVector3f> &head = regions[0].vertices;
    const std::size_t n = list7.size();
    auto ring = [&](std::size_t k) { return head[static_cast<std::size_t>(list7[k])]; };

    // The fan's centre, componentwise 0.5 a + 0.5 b in single precision.
    const TVector3f a = head[static_cast<std::size_t>(kMouthCentreVertexA)];
    const TVector3f b = head[static_cast<std::size_t>(kMouthCentreVertexB)];
    const TVector3f centre{0.5f * a.x + 0.5f * b.x, 0.5f * a.y + 0.5f * b.y, 0.5f * a.z + 0.5f * b.z};

    // 3n vertices and texture coordinates, n quads and texture quads.
    TRegion cap;
    cap.vertices.resize(3 * n);
    cap.quads.resize(n);
    // Triangle k over ring vertices k and k + 1 (the last one
    // closing the ring back to L[0]) and the centre, each lowered by 0.13.
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t next = k + 1 < n ? k + 1 : 0;
        cap.vertices[3 * k] = lowered(ring(k));
        cap.vertices[3 * k + 1] = lowered(ring(next));
        cap.vertices[3 * k + 2] = lowered(centre);
        const auto first = static_cast<int32_t>(3 * k);
        cap.quads[k] = Quad{first, first + 1, first + 2, first + 2};
    }
    cap.textureQuads = cap.quads;
    // The cavity is drawn into depth only: its texture coordinates are never
    // sampled.
    cap.textureCoords.assign(3 * n, TPointf{0.0f, 0.0f});

    regions[static_cast<std::size_t>(kMouthCapRegion)] = std::move(cap);
    return true;
}

void rotateRegions(std::vector<TRegion> &regions, float a, float b, float c) {
    const float sa = std::sin(a);  // float overloads: sinf, cosf
    const float ca = std::cos(a);
    const float sb = std::sin(b);
    const float cb = std::cos(b);
    const float sc = std::sin(c);
    const float cc = std::cos(c);
    for (TRegion &region : regions) {
        for (TVector3f &vertex : region.vertices) {
            // About x.
            const float y1 = sa * vertex.z + ca * vertex.y;
            const float z1 = ca * vertex.z - sa * vertex.y;
            // About y.
            const float x2 = cb * vertex.x - sb * z1;
            const float z2 = sb * vertex.x + cb * z1;
            // About z.
            const float x3 = cc * x2 - sc * y1;
            const float y3 = sc * x2 + cc * y1;
            vertex = TVector3f{x3, y3, z2};
        }
    }
}

void scaleRegion(TRegion &region, float sx, float sy, float sz, TVector3f centre) {
    for (TVector3f &vertex : region.vertices) {
        vertex = TVector3f{(vertex.x - centre.x) * sx + centre.x, (vertex.y - centre.y) * sy + centre.y,
                           (vertex.z - centre.z) * sz + centre.z};
    }
}

}  // namespace kelmo
