// Rendering a model: the colour and depth buffers, the texture
// sampling and pixel writing of a span, the drawing of a region, the passes,
// the composite and the flip of TAVO_RenderModelToImage. The triangle walk
// itself is render/rasteriser.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame/pixel_buffer.h"
#include "kelmo.h"
#include "model/model.h"
#include "render/camera.h"
#include "render/rasteriser.h"

namespace kelmo {

// The depth buffer's value before anything is drawn (every depth key of a
// drawn point is smaller).
inline constexpr float kEmptyDepth = 1e20f;

// A mode-2 texture as the sampler reads it: rows of width * 4 bytes, row 0
// the top row of the image. Empty (no pixels) when it has no area.
struct TextureView {
    const uint8_t *pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;

    bool empty() const { return pixels == nullptr || width <= 0 || height <= 0; }
    // A view of a mode-2 PixelBuffer (empty if the buffer has no array).
    static TextureView of(const PixelBuffer &buffer);
};

// The bilinear sample at texel position (u, v), one float per byte of the
// pixel: i = floor(position), the second texel at i + 1, both clamped to the
// texture, so a position on or past the last column samples that column with
// weight 1 and a position left of column 0 (or NaN) samples column 0
// (docs/design.md). The texture must not be empty.
void sampleTexture(const TextureView &texture, float u, float v, float sample[4]);

// What a drawn pixel does: all four bytes replaced
// by the sample; bytes 0 to 2 blended by the sample's fourth byte; or only the
// depth kept (the mouth-cavity region, whose colour the renderer erases).
enum class PixelWrite { Replace, Blend, DepthOnly };

// The rows a drawing wrote to: first to last, inclusive; empty when last <
// first.
struct RowRange {
    int32_t first = INT32_MAX;
    int32_t last = -1;

    bool empty() const { return last < first; }
    void include(const RowRange &other) {
        if (other.first < first) first = other.first;
        if (other.last > last) last = other.last;
    }
};

// Draws one region: the per-vertex texture-coordinate table, the
// projection of the vertices with the viewport (0, 0, W - 1, H - 1) of the
// buffers, and the two triangles (a, b, c), (c, d, a) of every quad. Quads
// that name missing vertices, and quads with a vertex at eye depth 0, are not
// drawn; an empty texture draws nothing (docs/design.md). Texel positions are
// column = u * TW and row = (TH - 1) - v * TH (texture v grows upwards), each
// clamped to [0, size - 2]. `colour` is a
// mode-2 buffer and `depth` a mode-3 buffer of the same size. Returns the
// rows that spans were written to (the depth buffer's other rows are as they
// were). May throw std::bad_alloc.
RowRange drawRegion(PixelBuffer &colour, PixelBuffer &depth, const TRegion &region, const TextureView &texture,
                const Matrix4 &projection, const Matrix4 &view, PixelWrite write);

// A run of a region's triangles set up and sorted into bands of rows:
// `setups` holds those that draw a row, set up, and band b's are
// setups[bandTriangles[k]] for k from bandStart[b] to bandStart[b + 1] - 1,
// in drawing order.
struct BandedTriangles {
    std::vector<TriangleSetup> setups;
    std::vector<int32_t> bandStart;
    std::vector<int32_t> bandTriangles;
};

// A region ready to be drawn into a target of a given size: its texture,
// its write mode and the corners of its triangles, three per triangle in
// drawing order (the quads' (a, b, c), (c, d, a), usable quads with every
// corner projected only). No corners when the texture is empty. Once sorted
// into bands, `parts` are consecutive runs of its triangles, in drawing
// order (sorted one run per thread at once).
struct PreparedRegion {
    std::vector<TriangleCorner> corners;
    TextureView texture;
    PixelWrite write = PixelWrite::Replace;
    std::vector<BandedTriangles> parts;
};

// The projection and triangle list of drawRegion, for a target of width x
// height pixels, into `prepared`, whose corners are replaced and whose
// storage (corners and parts) is reused: a renderer that keeps its prepared
// regions from one frame to the next allocates nothing once warm. May throw
// std::bad_alloc.
void prepareRegion(const TRegion &region, const TextureView &texture, const Matrix4 &projection,
                   const Matrix4 &view, int32_t width, int32_t height, PixelWrite write, PreparedRegion &prepared);

// Sets up triangles firstTriangle to endTriangle - 1 of the region for an
// image `height` rows high and lists, for every band of `bandRows` rows
// (bandRows >= 1), those whose walk draws a row in it. May throw
// std::bad_alloc.
void sortIntoBands(const PreparedRegion &region, std::size_t firstTriangle, std::size_t endTriangle, int32_t height,
                   int32_t bandRows, BandedTriangles &sorted);

// Rows [firstRow, endRow) of a width x height image: `colour` (4 bytes a
// pixel) and `depth` (one float) hold those rows only, firstRow first.
// `written` holds two columns per row of the target, and every span widens
// its row's pair [first, end) to cover its pixels.
struct BandTarget {
    uint8_t *colour;
    float *depth;
    int32_t width;
    int32_t height;
    int32_t firstRow;
    int32_t endRow;
    int32_t *written = nullptr;
};

// Draws the triangles of a prepared region sorted into band `band` into the
// target's rows (those of the band), each exactly as a drawing of the whole
// image draws it, at the current kernel level; `target.written` is required.
// Allocates nothing and never throws.
void drawPreparedBand(const BandTarget &target, const PreparedRegion &region, int32_t band);

// Renders a model into the existing image `destination` with the render size
// of the library state: the mouth cavity rebuilt and drawn into depth; the
// face pass (regions 0 to 2); the inner pass (the sock, then the teeth) in a
// second buffer; the inner pass shown wherever the face pass left black; the
// result flipped so its first row is the top of the view. Returns
// TAVO_OK; TAVO_ERR_GENERAL, with nothing changed, when `destination` is not
// a valid image, the render size exceeds the imaging library's limits or
// memory runs out. May not throw.
int32_t renderModelToImage(TModel &model, ImageHandle destination);

}  // namespace kelmo
