// A synthetic head with the eight regions of a model made from a photo
// (Parts 2.1 and 3.1) and procedural textures, for the rendering tests, the
// golden images and the render benchmark. It stands in for a fitted head until
// creation from a photo (Part 3.1) can make one in the tests.
//
//   region 0: an ellipsoid head (120 x 60 quads) with a slot-shaped mouth hole
//             whose 38 rim vertices form the list7 loop; region-0 vertices 415
//             and 371 are the middles of the upper and lower rim (Part 3.4).
//   regions 1, 2: two eyeball patches in front of the face.
//   regions 3, 4: upper and lower teeth strips behind the lips.
//   region 5: the sock, a fan of eight triangles behind the mouth.
//   region 6: a large quad in front of everything, which rendering never draws.
//   region 7: empty; rendering rebuilds it from the rim (BuildMouthCap).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "kelmo.h"
#include "model/model.h"

namespace kelmo::render_test {

struct RgbaImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;  // rows top first, R G B A
};

struct SyntheticHead {
    std::vector<TRegion> regions;  // 8 regions
    std::vector<int32_t> list7;    // the 38 rim vertices of region 0, in loop order
    RgbaImage texture;             // 256 x 256
    RgbaImage sock;                // 64 x 64
    RgbaImage upperTeeth;          // 64 x 32
    RgbaImage lowerTeeth;          // 64 x 32
};

namespace synthetic_head_detail {

inline constexpr int kColumns = 120;  // longitudes
inline constexpr int kRows = 60;      // latitude bands
inline constexpr float kPi = 3.14159265f;
inline constexpr float kRadiusX = 2.2f;
inline constexpr float kRadiusY = 2.9f;
inline constexpr float kRadiusZ = 2.4f;
// The mouth hole: quad rows 19 to 22 and quad columns 53 to 67.
inline constexpr int kMouthRowBegin = 19;
inline constexpr int kMouthRowEnd = 23;
inline constexpr int kMouthColumnBegin = 53;
inline constexpr int kMouthColumnEnd = 68;

inline int32_t gridIndex(int row, int column) { return row * kColumns + ((column % kColumns) + kColumns) % kColumns; }

inline TVector3f headPoint(int row, int column) {
    const float latitude = (-85.0f + 170.0f * static_cast<float>(row) / kRows) * kPi / 180.0f;
    const float longitude = (-180.0f + 360.0f * static_cast<float>(column) / kColumns) * kPi / 180.0f;
    return TVector3f{kRadiusX * std::sin(longitude) * std::cos(latitude), kRadiusY * std::sin(latitude),
                     kRadiusZ * std::cos(longitude) * std::cos(latitude)};
}

// Planar texture coordinates, as creation from a photo projects them
// (Part 3.1, ProjectTextureCoords): clamped to [0, 1].
inline TPointf planarCoordinate(const TVector3f &p) {
    auto clamp01 = [](float value) { return value < 0.0f ? 0.0f : value > 1.0f ? 1.0f : value; };
    return TPointf{clamp01((p.x + 2.4f) / 4.8f), clamp01((p.y + 3.1f) / 6.2f)};
}

// A region whose texture quads equal its quads (one coordinate per vertex).
inline void addQuad(TRegion &region, int32_t a, int32_t b, int32_t c, int32_t d) {
    region.quads.push_back(Quad{a, b, c, d});
    region.textureQuads.push_back(Quad{a, b, c, d});
}

// A patch of a sphere (centre, radius) facing +z, rows x columns quads,
// with texture coordinates spanning [u0, u1] x [v0, v1].
inline TRegion spherePatch(TVector3f centre, float radius, int rows, int columns, float u0, float u1, float v0,
                           float v1) {
    TRegion region;
    for (int i = 0; i <= rows; ++i) {
        for (int j = 0; j <= columns; ++j) {
            const float s = static_cast<float>(j) / columns;
            const float t = static_cast<float>(i) / rows;
            const float longitude = (-70.0f + 140.0f * s) * kPi / 180.0f;
            const float latitude = (-70.0f + 140.0f * t) * kPi / 180.0f;
            region.vertices.push_back(TVector3f{centre.x + radius * std::sin(longitude) * std::cos(latitude),
                                                centre.y + radius * std::sin(latitude),
                                                centre.z + radius * std::cos(longitude) * std::cos(latitude)});
            region.textureCoords.push_back(TPointf{u0 + (u1 - u0) * s, v0 + (v1 - v0) * t});
        }
    }
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < columns; ++j) {
            const int32_t a = i * (columns + 1) + j;
            addQuad(region, a, a + 1, a + columns + 2, a + columns + 1);
        }
    }
    return region;
}

// A curved strip (teeth) of `columns` x 2 quads between heights y0 and y1,
// following the head's front at depth `inset` behind it.
inline TRegion teethStrip(float y0, float y1, float inset, float u0, float u1, float v0, float v1) {
    TRegion region;
    constexpr int columns = 12;
    for (int i = 0; i <= 2; ++i) {
        for (int j = 0; j <= columns; ++j) {
            const float s = static_cast<float>(j) / columns;
            const float t = static_cast<float>(i) / 2;
            const float longitude = (-26.0f + 52.0f * s) * kPi / 180.0f;
            const float y = y0 + (y1 - y0) * t;
            region.vertices.push_back(TVector3f{(kRadiusX - inset) * 0.9f * std::sin(longitude), y,
                                                (kRadiusZ - inset) * 0.9f * std::cos(longitude)});
            region.textureCoords.push_back(TPointf{u0 + (u1 - u0) * s, v0 + (v1 - v0) * t});
        }
    }
    for (int i = 0; i < 2; ++i) {
        for (int j = 0; j < columns; ++j) {
            const int32_t a = i * (columns + 1) + j;
            addQuad(region, a, a + 1, a + columns + 2, a + columns + 1);
        }
    }
    return region;
}

// Swaps two vertices of a region (and their texture coordinates), renaming
// them in its quads and in `loop`.
inline void swapVertices(TRegion &region, int32_t a, int32_t b, std::vector<int32_t> &loop) {
    if (a == b) return;
    std::swap(region.vertices[static_cast<std::size_t>(a)], region.vertices[static_cast<std::size_t>(b)]);
    std::swap(region.textureCoords[static_cast<std::size_t>(a)], region.textureCoords[static_cast<std::size_t>(b)]);
    auto rename = [a, b](int32_t &index) { index = index == a ? b : index == b ? a : index; };
    for (Quad &quad : region.quads)
        for (int32_t &corner : quad) rename(corner);
    for (Quad &quad : region.textureQuads)
        for (int32_t &corner : quad) rename(corner);
    for (int32_t &index : loop) rename(index);
}

inline uint8_t byteOf(int value) { return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value); }

inline RgbaImage headTexture() {
    RgbaImage image{256, 256, std::vector<uint8_t>(256 * 256 * 4)};
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            uint8_t *p = &image.pixels[static_cast<std::size_t>((y * 256 + x) * 4)];
            // Skin with a soft checker, so that sampling errors show.
            const int checker = ((x / 16 + y / 16) % 2) * 18;
            int r = 205 - y / 6 + checker;
            int g = 150 - y / 8 + checker / 2;
            int b = 120 + x / 10;
            // Eyes: texture area u in [0, 0.25] x v in [0.75, 1] (rows 0 to 63),
            // white with a dark iris.
            if (x < 64 && y < 64) {
                const int dx = x - 32, dy = y - 32;
                const int d2 = dx * dx + dy * dy;
                r = d2 < 100 ? 20 : d2 < 324 ? 60 + dx : 240;
                g = d2 < 100 ? 20 : d2 < 324 ? 110 + dy : 240;
                b = d2 < 100 ? 30 : d2 < 324 ? 170 : 235;
            }
            // Teeth: u in [0.25, 0.5] x v in [0.75, 1].
            if (x >= 64 && x < 128 && y < 64) {
                const bool gap = (x % 8) == 0;
                r = gap ? 90 : 245;
                g = gap ? 80 : 240;
                b = gap ? 70 : 225;
            }
            // Lips: a red band around the mouth's texture position.
            const int ly = y - 176, lx = x - 128;
            if (y >= 64 && lx * lx * 196 + ly * ly * 2304 < 2304 * 196) {  // (lx / 48)^2 + (ly / 14)^2 < 1
                r = 170 + (x % 5);
                g = 60;
                b = 70;
            }
            // A pure black mole on the left cheek: the inner pass shows through it.
            if (x >= 70 && x < 78 && y >= 150 && y < 158) r = g = b = 0;
            p[0] = byteOf(r);
            p[1] = byteOf(g);
            p[2] = byteOf(b);
            // Alpha: opaque in the middle, fading towards the texture's edges.
            const int edge = std::min(std::min(x, 255 - x), std::min(y, 255 - y));
            p[3] = byteOf(edge * 8);
        }
    }
    return image;
}

inline RgbaImage sockTexture() {
    RgbaImage image{64, 64, std::vector<uint8_t>(64 * 64 * 4)};
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            uint8_t *p = &image.pixels[static_cast<std::size_t>((y * 64 + x) * 4)];
            p[0] = byteOf(90 + (x + y) % 7 * 6);
            p[1] = byteOf(20 + y / 4);
            p[2] = byteOf(30 + x / 4);
            p[3] = 255;
        }
    }
    return image;
}

// Teeth images: white teeth with transparent gaps and a transparent band, so
// that blending shows the sock through them.
inline RgbaImage teethTexture(bool upper) {
    RgbaImage image{64, 32, std::vector<uint8_t>(64 * 32 * 4)};
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 64; ++x) {
            uint8_t *p = &image.pixels[static_cast<std::size_t>((y * 64 + x) * 4)];
            const bool gap = (x % 8) < 1;
            p[0] = byteOf(upper ? 250 : 235);
            p[1] = byteOf(upper ? 245 : 238);
            p[2] = byteOf(upper ? 220 : 240);
            p[3] = gap ? 0 : byteOf(upper ? 64 + y * 6 : 255 - y * 6);
        }
    }
    return image;
}

}  // namespace synthetic_head_detail

inline SyntheticHead makeSyntheticHead() {
    using namespace synthetic_head_detail;
    SyntheticHead head;
    head.regions.resize(8);

    // Region 0: the ellipsoid, rows of vertices from the chin up, with the
    // mouth slot left open and two pole fans.
    TRegion &face = head.regions[0];
    for (int row = 0; row <= kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            const TVector3f p = headPoint(row, column);
            face.vertices.push_back(p);
            face.textureCoords.push_back(planarCoordinate(p));
        }
    }
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            const bool inMouth = row >= kMouthRowBegin && row < kMouthRowEnd && column >= kMouthColumnBegin &&
                                 column < kMouthColumnEnd;
            if (inMouth) continue;
            addQuad(face, gridIndex(row, column), gridIndex(row, column + 1), gridIndex(row + 1, column + 1),
                    gridIndex(row + 1, column));
        }
    }
    for (int pole = 0; pole < 2; ++pole) {
        const auto centre = static_cast<int32_t>(face.vertices.size());
        const TVector3f p{0.0f, pole == 0 ? -kRadiusY : kRadiusY, 0.0f};
        face.vertices.push_back(p);
        face.textureCoords.push_back(planarCoordinate(p));
        const int row = pole == 0 ? 0 : kRows;
        for (int column = 0; column < kColumns; ++column)
            addQuad(face, centre, gridIndex(row, column), gridIndex(row, column + 1), centre);
    }
    // The rim of the mouth, as one loop: the upper edge left to right, down
    // the right side, the lower edge right to left, up the left side.
    for (int column = kMouthColumnBegin; column <= kMouthColumnEnd; ++column)
        head.list7.push_back(gridIndex(kMouthRowEnd, column));
    for (int row = kMouthRowEnd - 1; row > kMouthRowBegin; --row)
        head.list7.push_back(gridIndex(row, kMouthColumnEnd));
    for (int column = kMouthColumnEnd; column >= kMouthColumnBegin; --column)
        head.list7.push_back(gridIndex(kMouthRowBegin, column));
    for (int row = kMouthRowBegin + 1; row < kMouthRowEnd; ++row)
        head.list7.push_back(gridIndex(row, kMouthColumnBegin));
    // Vertices 415 and 371 become the middles of the upper and lower rim.
    const int middleColumn = (kMouthColumnBegin + kMouthColumnEnd + 1) / 2;
    swapVertices(face, 415, gridIndex(kMouthRowEnd, middleColumn), head.list7);
    swapVertices(face, 371, gridIndex(kMouthRowBegin, middleColumn), head.list7);

    // Regions 1 and 2: the eyes, in the texture's eye area.
    head.regions[1] = spherePatch(TVector3f{-0.72f, 0.55f, 1.95f}, 0.42f, 8, 10, 0.0f, 0.25f, 0.75f, 1.0f);
    head.regions[2] = spherePatch(TVector3f{0.72f, 0.55f, 1.95f}, 0.42f, 8, 10, 0.0f, 0.25f, 0.75f, 1.0f);

    // Regions 3 and 4: the teeth, behind the lips, in the texture's teeth area.
    const float mouthTop = headPoint(kMouthRowEnd, 60).y;
    const float mouthBottom = headPoint(kMouthRowBegin, 60).y;
    const float mouthMiddle = 0.5f * (mouthTop + mouthBottom);
    head.regions[3] = teethStrip(mouthMiddle + 0.02f, mouthTop + 0.05f, 0.3f, 0.25f, 0.5f, 0.75f, 1.0f);
    head.regions[4] = teethStrip(mouthBottom - 0.05f, mouthMiddle - 0.02f, 0.32f, 0.25f, 0.5f, 0.75f, 1.0f);

    // Region 5: the sock, eight triangles (quads with their first corner
    // repeated, as BuildSockRegion makes them) around a centre behind the mouth.
    TRegion &sock = head.regions[5];
    sock.vertices.push_back(TVector3f{0.0f, mouthMiddle, 1.2f});
    sock.textureCoords.push_back(TPointf{0.5f, 0.5f});
    for (int k = 0; k < 8; ++k) {
        const float angle = static_cast<float>(k) * kPi / 4.0f;
        sock.vertices.push_back(TVector3f{1.6f * std::cos(angle), mouthMiddle + 1.1f * std::sin(angle), 1.1f});
        sock.textureCoords.push_back(TPointf{0.5f + 0.5f * std::cos(angle), 0.5f + 0.5f * std::sin(angle)});
    }
    for (int32_t k = 0; k < 8; ++k) addQuad(sock, 0, k + 1, k == 7 ? 1 : k + 2, 0);

    // Region 6: never drawn; it would cover the whole face.
    TRegion &extra = head.regions[6];
    extra.vertices = {{-3.0f, -3.0f, 3.0f}, {3.0f, -3.0f, 3.0f}, {3.0f, 3.0f, 3.0f}, {-3.0f, 3.0f, 3.0f}};
    extra.textureCoords = {{0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 1.0f}, {0.0f, 1.0f}};
    addQuad(extra, 0, 1, 2, 3);

    head.texture = headTexture();
    head.sock = sockTexture();
    head.upperTeeth = teethTexture(true);
    head.lowerTeeth = teethTexture(false);
    return head;
}

// An image of the imaging library holding `image`'s pixels; -1 on failure.
inline ImageHandle makeImageHandle(const RgbaImage &image) {
    ImageHandle handle = -1;
    if (TAVO_LoadImageFromBuffer(&handle, image.pixels.data(), image.width, image.height, 4 * image.width,
                                 TAVO_IMAGEMODE_COLOR_ALPHA) != TAVOIMG_OK)
        return -1;
    return handle;
}

}  // namespace kelmo::render_test
