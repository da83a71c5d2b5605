// Rendering a model with the software rasteriser.
#include "render/model_renderer.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fitting/region_builders.h"
#include "frame/library_state.h"
#include "model/model_table.h"
#include "render/rasteriser.h"
#include "render/texture_accessors.h"

namespace kelmo {

TextureView TextureView::of(const PixelBuffer &buffer) {
    TextureView view;
    if (buffer.bytes() == nullptr || buffer.width <= 0 || buffer.height <= 0) return view;
    view.pixels = buffer.bytes();
    view.width = buffer.width;
    view.height = buffer.height;
    return view;
}

namespace {

// Four floats, one per byte of a pixel. The four lanes go through the same
// single-precision operations, one rounding each, as the scalar formula for
// one byte; there is no fused multiply-add (-ffp-contract=off), so the
// results are those of the scalar formulas bit for bit.
using Float4 = float __attribute__((vector_size(16)));
using Int4 = int32_t __attribute__((vector_size(16)));

// The four bytes of a pixel as four floats (exact: bytes are whole numbers).
[[gnu::always_inline]] inline Float4 pixelAt(const uint8_t *pixel) {
#if defined(__SSE2__)
    // One 32-bit load widened in registers instead of four byte loads.
    int32_t word;
    std::memcpy(&word, pixel, 4);
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_cvtsi32_si128(word);
    const __m128i words = _mm_unpacklo_epi8(bytes, zero);
    return Float4(_mm_cvtepi32_ps(_mm_unpacklo_epi16(words, zero)));
#else
    const Int4 bytes = {pixel[0], pixel[1], pixel[2], pixel[3]};
    return __builtin_convertvector(bytes, Float4);
#endif
}

// Stores four values in [0, 255] as the four bytes of a pixel, each truncated
// toward zero (blending off).
[[gnu::always_inline]] inline void storePixel(uint8_t *pixel, Float4 value) {
#if defined(__SSE2__)
    // Truncating conversion, then packs whose saturation never acts on [0, 255].
    const __m128i integers = _mm_cvttps_epi32(__m128(value));
    const __m128i words = _mm_packs_epi32(integers, integers);
    const int32_t word = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
    std::memcpy(pixel, &word, 4);
#else
    const Int4 integers = __builtin_convertvector(value, Int4);
    for (int channel = 0; channel < 4; ++channel) pixel[channel] = static_cast<uint8_t>(integers[channel]);
#endif
}

// One axis of a bilinear sample: the two columns (or rows) read and the
// weight of the second: i = floor(position), fraction = position -
// i, the second texel at i + 1; both clamped to the texture. When both clamp
// to the same texel the weight cannot change the result, so it is 0 there,
// which also keeps an infinite or NaN position from reaching the arithmetic.
struct AxisTexels {
    int32_t first;
    int32_t second;
    float fraction;
};

[[gnu::always_inline]] inline AxisTexels axisTexels(float position, int32_t lastIndex, float lastPosition) {
    if (position >= 0.0f && position < lastPosition) {
        // Non-negative, so the conversion truncates to floor(position).
        const auto index = static_cast<int32_t>(position);
        return AxisTexels{index, index + 1, position - static_cast<float>(index)};
    }
    if (position >= lastPosition) return AxisTexels{lastIndex, lastIndex, 0.0f};
    return AxisTexels{0, 0, 0.0f};  // left of the texture, or NaN
}

// The bilinear sampler for one texture, its constants computed
// once per region instead of once per pixel.
class Sampler {
public:
    explicit Sampler(const TextureView &texture)
        : pixels_(texture.pixels),
          rowBytes_(static_cast<std::size_t>(texture.width) * 4),
          lastColumn_(texture.width - 1),
          lastRow_(texture.height - 1),
          lastColumnPosition_(static_cast<float>(texture.width - 1)),
          lastRowPosition_(static_cast<float>(texture.height - 1)) {}

    [[gnu::always_inline]] Float4 sample(float u, float v) const {
        const AxisTexels columns = axisTexels(u, lastColumn_, lastColumnPosition_);
        const AxisTexels rows = axisTexels(v, lastRow_, lastRowPosition_);
        const uint8_t *row0 = pixels_ + static_cast<std::size_t>(rows.first) * rowBytes_;
        const uint8_t *row1 = pixels_ + static_cast<std::size_t>(rows.second) * rowBytes_;
        const std::size_t column0 = static_cast<std::size_t>(columns.first) * 4;
        const std::size_t column1 = static_cast<std::size_t>(columns.second) * 4;
        // p00 = texture[j][i], p10 = texture[j + 1][i], p01 = texture[j][i + 1],
        // p11 = texture[j + 1][i + 1]. The differences of two bytes are exact
        // in single precision, so taking them as integers or as floats is the same.
        const Float4 p00 = pixelAt(row0 + column0);
        const Float4 p10 = pixelAt(row1 + column0);
        const Float4 p01 = pixelAt(row0 + column1);
        const Float4 p11 = pixelAt(row1 + column1);
        const Float4 left = p00 + (p10 - p00) * rows.fraction;
        const Float4 right = p01 + (p11 - p01) * rows.fraction;
        return left + (right - left) * columns.fraction;
    }

private:
    const uint8_t *pixels_;
    std::size_t rowBytes_;
    int32_t lastColumn_;
    int32_t lastRow_;
    float lastColumnPosition_;
    float lastRowPosition_;
};

}  // namespace

void sampleTexture(const TextureView &texture, float u, float v, float sample[4]) {
    const Float4 value = Sampler(texture).sample(u, v);
    for (int channel = 0; channel < 4; ++channel) sample[channel] = value[channel];
}

namespace {

// Filling a span, for each write mode: one depth comparison per
// pixel before any texture read; x, u, v and the depth key advance by
// addition whether or not the pixel was drawn. The sampled values lie in
// [0, 255] (blends of bytes with weights in [0, 1)), so their truncation
// toward zero fits a byte.
class SpanFiller final : public SpanWriter {
public:
    SpanFiller(PixelBuffer &colour, PixelBuffer &depth, const TextureView &texture, PixelWrite write)
        : colour_(colour.bytes()), depth_(depth.floats()), width_(colour.width), sampler_(texture), write_(write) {}

    void writeSpan(const Span &span) override {
        rows_.include(RowRange{span.row, span.row});
        // The write mode is fixed per region: one branch per span, none per pixel.
        switch (write_) {
            case PixelWrite::Replace: fill<PixelWrite::Replace>(span); break;
            case PixelWrite::Blend: fill<PixelWrite::Blend>(span); break;
            case PixelWrite::DepthOnly: fill<PixelWrite::DepthOnly>(span); break;
        }
    }

    // The rows that spans were written to so far.
    const RowRange &rows() const { return rows_; }

private:
    template <PixelWrite kWrite>
    void fill(const Span &span) {
        const std::size_t rowStart = static_cast<std::size_t>(span.row) * static_cast<std::size_t>(width_);
        float *depthRow = depth_ + rowStart;
        uint8_t *colourRow = colour_ + rowStart * 4;
        float u = span.u;
        float v = span.v;
        float key = span.depthKey;
        // Locals, so that the byte stores below (which may alias anything)
        // do not make the compiler reload them for every pixel.
        const float du = span.du;
        const float dv = span.dv;
        const float dk = span.dk;
        const Sampler sampler = sampler_;
        const int32_t end = span.firstColumn + span.count;
        for (int32_t x = span.firstColumn; x < end; ++x) {
            if (depthRow[x] > key) {
                if constexpr (kWrite != PixelWrite::DepthOnly) {
                    const Float4 sample = sampler.sample(u, v);
                    uint8_t *pixel = colourRow + static_cast<std::size_t>(x) * 4;
                    if constexpr (kWrite == PixelWrite::Replace) {
                        // Blending off: all four bytes, the texture's alpha included.
                        storePixel(pixel, sample);
                    } else {
                        // Blending on: a = fourth byte / 255 within [0, 1];
                        // bytes 0 to 2 blended, the fourth byte kept.
                        float alpha = sample[3] / 255.0f;
                        if (alpha > 1.0f) alpha = 1.0f;
                        if (alpha < 0.0f) alpha = 0.0f;
                        const float keep = 1.0f - alpha;
                        for (int channel = 0; channel < 3; ++channel) {
                            pixel[channel] = static_cast<uint8_t>(static_cast<int32_t>(
                                sample[channel] * alpha + static_cast<float>(pixel[channel]) * keep));
                        }
                    }
                }
                depthRow[x] = key;
            }
            u += du;
            v += dv;
            key += dk;
        }
    }

    uint8_t *colour_;
    float *depth_;
    int32_t width_;
    Sampler sampler_;
    PixelWrite write_;
    RowRange rows_;
};

// A projected vertex of a region, ready to become a triangle corner.
struct ProjectedVertex {
    TriangleCorner corner;
    bool projected = false;
};

}  // namespace

RowRange drawRegion(PixelBuffer &colour, PixelBuffer &depth, const TRegion &region, const TextureView &texture,
                    const Matrix4 &projection, const Matrix4 &view, PixelWrite write) {
    if (texture.empty() || colour.bytes() == nullptr || depth.bytes() == nullptr) return RowRange{};
    // The per-vertex texture coordinates (the table that
    // TAVO_GetModelRegionTextureCoords returns).
    const std::vector<TPointf> textureTable = vertexTextureTable(region);
    const Viewport viewport = renderViewport(colour.width, colour.height);
    // Projection and texel position for every vertex once: a vertex's projection and
    // texel position do not depend on the quad that names it.
    const auto textureWidth = static_cast<float>(texture.width);
    const auto textureHeight = static_cast<float>(texture.height);
    const auto columnLimit = static_cast<float>(texture.width - 2);
    const auto rowLimit = static_cast<float>(texture.height - 2);
    const auto topRow = static_cast<float>(texture.height - 1);
    std::vector<ProjectedVertex> vertices(region.vertices.size());
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const TVector3f &position = region.vertices[i];
        WindowPoint window;
        ProjectedVertex &vertex = vertices[i];
        vertex.projected = projectPoint(position, view, projection, viewport, window);
        // Column u * TW, then TW - 2 if greater, then 0 if negative; row
        // (TH - 1) - v * TH likewise: texture v grows upwards.
        float column = textureTable[i].x * textureWidth;
        if (column > columnLimit) column = columnLimit;
        if (column < 0.0f) column = 0.0f;
        float row = topRow - textureTable[i].y * textureHeight;
        if (row > rowLimit) row = rowLimit;
        if (row < 0.0f) row = 0.0f;
        vertex.corner = TriangleCorner{window.x, window.y, column, row, position.z};
    }
    // Triangles (a, b, c) and (c, d, a), both windings (no culling).
    SpanFiller filler(colour, depth, texture, write);
    for (std::size_t q = 0; q < region.quads.size(); ++q) {
        if (!isUsableQuad(region, q)) continue;
        const Quad &quad = region.quads[q];
        const ProjectedVertex &a = vertices[static_cast<std::size_t>(quad[0])];
        const ProjectedVertex &b = vertices[static_cast<std::size_t>(quad[1])];
        const ProjectedVertex &c = vertices[static_cast<std::size_t>(quad[2])];
        const ProjectedVertex &d = vertices[static_cast<std::size_t>(quad[3])];
        if (!a.projected || !b.projected || !c.projected || !d.projected) continue;
        rasteriseTriangle(a.corner, b.corner, c.corner, colour.width, colour.height, texture.height, filler);
        rasteriseTriangle(c.corner, d.corner, a.corner, colour.width, colour.height, texture.height, filler);
    }
    return filler.rows();
}

namespace {

// Region indices with their roles in rendering (model/model.h).
constexpr std::size_t kFaceRegions[] = {0, 1, 2};
constexpr std::size_t kUpperTeethRegion = 3;
constexpr std::size_t kLowerTeethRegion = 4;

// Sets rows first to last of the depth buffer to kEmptyDepth: the first of
// them element by element, the others copied from it (a vectorised copy).
void resetDepth(PixelBuffer &depth, RowRange rows) {
    float *values = depth.floats();
    if (values == nullptr || rows.empty()) return;
    const auto width = static_cast<std::size_t>(depth.width);
    float *first = values + static_cast<std::size_t>(rows.first) * width;
    std::fill(first, first + width, kEmptyDepth);
    for (int32_t row = rows.first + 1; row <= rows.last; ++row)
        std::memcpy(values + static_cast<std::size_t>(row) * width, first, width * sizeof(float));
}

RowRange allRows(const PixelBuffer &buffer) { return RowRange{0, buffer.height - 1}; }

// Draws region `index` if the model has it (a model with fewer regions
// renders the regions it has, docs/design.md).
RowRange drawModelRegion(PixelBuffer &colour, PixelBuffer &depth, const TModel &model, std::size_t index,
                         const PixelBuffer &texture, const Matrix4 &projection, const Matrix4 &view,
                         PixelWrite write) {
    if (index >= model.regions.size()) return RowRange{};
    return drawRegion(colour, depth, model.regions[index], TextureView::of(texture), projection, view, write);
}

// The composite: every face-pass pixel whose bytes 0, 1 and 2 are all 0
// (where the mouth cavity kept the face from drawing, or the face's own
// texture is black) takes the
// four bytes of the inner pass.
void compositeInnerPass(PixelBuffer &facePass, const PixelBuffer &innerPass) {
    uint8_t *face = facePass.bytes();
    const uint8_t *inner = innerPass.bytes();
    if (face == nullptr || inner == nullptr) return;
    const std::size_t pixelCount =
        static_cast<std::size_t>(facePass.width) * static_cast<std::size_t>(facePass.height);
    std::size_t p = 0;
#if defined(__SSE2__)
    // Four pixels at a time: a pixel whose three colour bytes are 0 is
    // selected whole from the inner pass.
    const __m128i colourBytes = _mm_set1_epi32(std::endian::native == std::endian::little ? 0x00FFFFFF : 0xFFFFFF00);
    const __m128i zero = _mm_setzero_si128();
    for (; p + 4 <= pixelCount; p += 4) {
        const __m128i facePixels = _mm_loadu_si128(reinterpret_cast<const __m128i *>(face + 4 * p));
        const __m128i innerPixels = _mm_loadu_si128(reinterpret_cast<const __m128i *>(inner + 4 * p));
        const __m128i black = _mm_cmpeq_epi32(_mm_and_si128(facePixels, colourBytes), zero);
        const __m128i merged = _mm_or_si128(_mm_and_si128(black, innerPixels), _mm_andnot_si128(black, facePixels));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(face + 4 * p), merged);
    }
#endif
    for (; p < pixelCount; ++p) {
        uint8_t *pixel = face + 4 * p;
        if ((pixel[0] | pixel[1] | pixel[2]) == 0) std::memcpy(pixel, inner + 4 * p, 4);
    }
}

// The composited buffer becomes an image (an empty one when it has no area),
// flipped top to bottom so that its first row is the top of the view, copied
// into the caller's image and freed. The imaging statuses are not tested:
// the size and the destination were checked before anything was drawn.
void deliverImage(const PixelBuffer &colour, ImageHandle destination) {
    ImageHandle image = -1;
    if (static_cast<int64_t>(colour.width) * colour.height != 0) {
        TAVO_LoadImageFromBuffer(&image, colour.bytes(), colour.width, colour.height, 4 * colour.width,
                                 TAVO_IMAGEMODE_COLOR_ALPHA);
    } else {
        TAVO_CreateEmptyImage(&image);
    }
    TAVO_MirrorImage(image, 0);
    TAVO_CopyImage(image, destination);
    TAVO_FreeImage(image);
}

// Every pass, once the render size is known to be drawable (or empty).
void renderPasses(TModel &model, ImageHandle destination, int32_t width, int32_t height) {
    const LibraryState &state = libraryState();
    // The camera: the model's angle bounded below by 0.001.
    float angle = model.perspective;
    if (angle < 0.001f) angle = 0.001f;
    const float distance = cameraDistanceOf(angle);
    const Matrix4 projection = projectionMatrix(angle);
    const Matrix4 view = viewMatrix(model, distance);

    // The buffers, the inner pass's colour buffer made here too, so
    // that nothing allocates a large buffer after the model has changed.
    PixelBuffer colour(width, height, PixelMode::ColorAlpha);
    PixelBuffer depth(width, height, PixelMode::Depth);
    PixelBuffer innerPass(width, height, PixelMode::ColorAlpha);
    resetDepth(depth, allRows(depth));
    // The textures, taken before they are needed (reading
    // an image has no effect that could be seen in between).
    const PixelBuffer texture = PixelBuffer::fromImage(model.texture, PixelMode::ColorAlpha);
    const PixelBuffer sockTexture = PixelBuffer::fromImage(model.sockImage, PixelMode::ColorAlpha);
    PixelBuffer upperTeethTexture;
    PixelBuffer lowerTeethTexture;
    if (!model.teethFromModelTexture) {
        upperTeethTexture = PixelBuffer::fromImage(model.upperTeethImage, PixelMode::ColorAlpha);
        lowerTeethTexture = PixelBuffer::fromImage(model.lowerTeethImage, PixelMode::ColorAlpha);
    }

    // Rebuild the mouth cavity from the current lip vertices. This is
    // the call's one lasting change to the model; should anything below run
    // out of memory, the region is put back as it was.
    std::optional<TRegion> previousCap;
    if (model.regions.size() > static_cast<std::size_t>(kMouthCapRegion))
        previousCap = model.regions[static_cast<std::size_t>(kMouthCapRegion)];
    try {
        // A model outside what the builder supports (no region 7, or region 0
        // without the vertices it reads) keeps its region 7 as it is.
        buildMouthCap(model, state.list7Table);

        const bool drawable = width > 0 && height > 0;
        if (drawable) {
            // Region 7's depth only: it punches the mouth's hole into the
            // depth buffer, so that the face pass leaves the opening empty
            // for the inner pass; its colour would be erased.
            RowRange faceRows = drawModelRegion(colour, depth, model, static_cast<std::size_t>(kMouthCapRegion),
                                                texture, projection, view, PixelWrite::DepthOnly);
            // The face pass.
            for (std::size_t region : kFaceRegions)
                faceRows.include(
                    drawModelRegion(colour, depth, model, region, texture, projection, view, PixelWrite::Replace));
            // The face pass is kept in `colour`; the inner pass is drawn
            // into the second buffer, already all 0. Only the rows that the
            // face pass wrote hold depths other than 1e20.
            resetDepth(depth, faceRows);
            // The inner pass: the sock region.
            const RowRange sockRows = drawModelRegion(innerPass, depth, model, static_cast<std::size_t>(kSockRegion),
                                                      sockTexture, projection, view, PixelWrite::Replace);
            // The teeth are drawn in front of the sock whatever their depth.
            resetDepth(depth, sockRows);
            // The teeth: with the model's texture upper then lower, replacing;
            // with the shared teeth images lower then upper, blended by
            // their alpha.
            if (model.teethFromModelTexture) {
                drawModelRegion(innerPass, depth, model, kUpperTeethRegion, texture, projection, view,
                                PixelWrite::Replace);
                drawModelRegion(innerPass, depth, model, kLowerTeethRegion, texture, projection, view,
                                PixelWrite::Replace);
            } else {
                drawModelRegion(innerPass, depth, model, kLowerTeethRegion, lowerTeethTexture, projection, view,
                                PixelWrite::Blend);
                drawModelRegion(innerPass, depth, model, kUpperTeethRegion, upperTeethTexture, projection, view,
                                PixelWrite::Blend);
            }
            // The composite.
            compositeInnerPass(colour, innerPass);
        }
    } catch (...) {
        if (previousCap) model.regions[static_cast<std::size_t>(kMouthCapRegion)] = std::move(*previousCap);
        throw;
    }
    // Delivery.
    deliverImage(colour, destination);
}

}  // namespace

int32_t renderModelToImage(TModel &model, ImageHandle destination) {
    int32_t destinationWidth = 0;
    if (TAVO_GetImageWidth(destination, &destinationWidth) != TAVOIMG_OK) return TAVO_ERR_GENERAL;
    const LibraryState &state = libraryState();
    int32_t width = state.renderWidth;
    int32_t height = state.renderHeight;
    if (width > 0 && height > 0) {
        // A size the imaging library cannot hold could never be delivered.
        if (width > TAVOIMG_MAX_SIDE || height > TAVOIMG_MAX_SIDE ||
            static_cast<int64_t>(width) * height > TAVOIMG_MAX_PIXELS)
            return TAVO_ERR_GENERAL;
    } else {
        // Zero area or a negative size (docs/design.md): an
        // empty image; the mouth cavity is still rebuilt.
        width = 0;
        height = 0;
    }
    try {
        renderPasses(model, destination, width, height);
    } catch (const std::exception &) {
        return TAVO_ERR_GENERAL;
    }
    return TAVO_OK;
}

}  // namespace kelmo

extern "C" int32_t TAVO_RenderModelToImage(int32_t handle, ImageHandle image) {
    kelmo::TModel *model = kelmo::resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    return kelmo::renderModelToImage(*model, image);
}
