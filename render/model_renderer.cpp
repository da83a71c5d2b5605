// Rendering a model with the software rasteriser.
#include "render/model_renderer.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include <omp.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fitting/region_builders.h"
#include "frame/kernel_level.h"
#include "frame/library_state.h"
#include "model/model_table.h"
#include "render/band_workers.h"
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

// The eight bytes of two neighbouring pixels as two vectors of four floats:
// one 64-bit load widened in registers.
[[gnu::always_inline]] inline void twoPixelsAt(const uint8_t *pixel, Float4 &first, Float4 &second) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i words = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(pixel)), zero);
    first = Float4(_mm_cvtepi32_ps(_mm_unpacklo_epi16(words, zero)));
    second = Float4(_mm_cvtepi32_ps(_mm_unpackhi_epi16(words, zero)));
#else
    first = pixelAt(pixel);
    second = pixelAt(pixel + 4);
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
        Float4 p00, p01, p10, p11;
        if (columns.second == columns.first + 1) {
            // Neighbouring texels: eight neighbouring bytes of each row.
            twoPixelsAt(row0 + column0, p00, p01);
            twoPixelsAt(row1 + column0, p10, p11);
        } else {
            p00 = pixelAt(row0 + column0);
            p10 = pixelAt(row1 + column0);
            p01 = pixelAt(row0 + column1);
            p11 = pixelAt(row1 + column1);
        }
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
// toward zero fits a byte. `colourRow` and `depthRow` are the span's row.
template <PixelWrite kWrite>
[[gnu::always_inline]] inline void fillSpan(const Span &span, uint8_t *colourRow, float *depthRow,
                                            const Sampler &sampler) {
    float u = span.u;
    float v = span.v;
    float key = span.depthKey;
    // Locals, so that the byte stores below (which may alias anything)
    // do not make the compiler reload them for every pixel.
    const float du = span.du;
    const float dv = span.dv;
    const float dk = span.dk;
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

// The writer of the whole walk: any write mode, rows from `firstRow` on in
// `colour` and `depth`, and the rows written kept.
class SpanFiller final : public SpanWriter {
public:
    SpanFiller(uint8_t *colour, float *depth, int32_t width, int32_t firstRow, const TextureView &texture,
               PixelWrite write)
        : colour_(colour), depth_(depth), width_(width), firstRow_(firstRow), sampler_(texture), write_(write) {}

    void writeSpan(const Span &span) override {
        rows_.include(RowRange{span.row, span.row});
        const std::size_t rowStart =
            static_cast<std::size_t>(span.row - firstRow_) * static_cast<std::size_t>(width_);
        // The write mode is fixed per region: one branch per span, none per pixel.
        switch (write_) {
            case PixelWrite::Replace:
                fillSpan<PixelWrite::Replace>(span, colour_ + 4 * rowStart, depth_ + rowStart, sampler_);
                break;
            case PixelWrite::Blend:
                fillSpan<PixelWrite::Blend>(span, colour_ + 4 * rowStart, depth_ + rowStart, sampler_);
                break;
            case PixelWrite::DepthOnly:
                fillSpan<PixelWrite::DepthOnly>(span, colour_ + 4 * rowStart, depth_ + rowStart, sampler_);
                break;
        }
    }

    // The rows that spans were written to so far.
    const RowRange &rows() const { return rows_; }

private:
    uint8_t *colour_;
    float *depth_;
    int32_t width_;
    int32_t firstRow_;
    Sampler sampler_;
    PixelWrite write_;
    RowRange rows_;
};

// The writer of a band: one write mode, fixed when compiled, and the
// columns written in each row widened span by span.
template <PixelWrite kWrite>
class BandFiller {
public:
    BandFiller(const BandTarget &target, const TextureView &texture) : target_(target), sampler_(texture) {}

    [[gnu::always_inline]] void writeSpan(const Span &span) {
        const auto row = static_cast<std::size_t>(span.row - target_.firstRow);
        int32_t *columns = target_.written + 2 * row;
        columns[0] = std::min(columns[0], span.firstColumn);
        columns[1] = std::max(columns[1], span.firstColumn + span.count);
        const std::size_t rowStart = row * static_cast<std::size_t>(target_.width);
        fillSpan<kWrite>(span, target_.colour + 4 * rowStart, target_.depth + rowStart, sampler_);
    }

private:
    const BandTarget target_;
    const Sampler sampler_;
};

// A band's triangles of one region, walked and filled; the ceilings as the
// compiling CPU level allows.
template <Ceiling kCeiling, PixelWrite kWrite>
[[gnu::always_inline]] inline void walkBandAs(const BandTarget &target, const PreparedRegion &region,
                                              std::size_t band) {
    BandFiller<kWrite> filler(target, region.texture);
    const float textureLastRow = static_cast<float>(region.texture.height - 1);
    for (const BandedTriangles &part : region.parts) {
        const TriangleSetup *setups = part.setups.data();
        const int32_t *triangles = part.bandTriangles.data();
        for (int32_t k = part.bandStart[band]; k < part.bandStart[band + 1]; ++k)
            walkTriangle<kCeiling>(setups[triangles[k]], target.width, textureLastRow, filler, target.firstRow,
                                   target.endRow);
    }
}

template <Ceiling kCeiling>
[[gnu::always_inline]] inline void walkBand(const BandTarget &target, const PreparedRegion &region, std::size_t band) {
    switch (region.write) {
        case PixelWrite::Replace: walkBandAs<kCeiling, PixelWrite::Replace>(target, region, band); break;
        case PixelWrite::Blend: walkBandAs<kCeiling, PixelWrite::Blend>(target, region, band); break;
        case PixelWrite::DepthOnly: walkBandAs<kCeiling, PixelWrite::DepthOnly>(target, region, band); break;
    }
}

void walkBandBaseline(const BandTarget &target, const PreparedRegion &region, std::size_t band) {
    walkBand<Ceiling::Portable>(target, region, band);
}

#if defined(__x86_64__) || defined(__i386__)
// The same walk compiled for the wider levels: their rounding instruction
// takes the two ceilings of every row.
[[gnu::target("avx2")]] void walkBandAvx2(const BandTarget &target, const PreparedRegion &region,
                                          std::size_t band) {
    walkBand<Ceiling::Instruction>(target, region, band);
}

[[gnu::target("avx512f,avx512bw,avx512dq,avx512vl")]] void walkBandAvx512(const BandTarget &target,
                                                                        const PreparedRegion &region,
                                                                        std::size_t band) {
    walkBand<Ceiling::Instruction>(target, region, band);
}
#endif

// A projected vertex of a region, ready to become a triangle corner.
struct ProjectedVertex {
    TriangleCorner corner;
    bool projected = false;
};

}  // namespace

void prepareRegion(const TRegion &region, const TextureView &texture, const Matrix4 &projection,
                   const Matrix4 &view, int32_t width, int32_t height, PixelWrite write, PreparedRegion &prepared) {
    prepared.corners.clear();
    prepared.texture = texture;
    prepared.write = write;
    if (texture.empty()) return;
    // The per-vertex texture coordinates (the table that
    // TAVO_GetModelRegionTextureCoords returns).
    const std::vector<TPointf> textureTable = vertexTextureTable(region);
    const Viewport viewport = renderViewport(width, height);
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
    prepared.corners.reserve(6 * region.quads.size());
    for (std::size_t q = 0; q < region.quads.size(); ++q) {
        if (!isUsableQuad(region, q)) continue;
        const Quad &quad = region.quads[q];
        const ProjectedVertex &a = vertices[static_cast<std::size_t>(quad[0])];
        const ProjectedVertex &b = vertices[static_cast<std::size_t>(quad[1])];
        const ProjectedVertex &c = vertices[static_cast<std::size_t>(quad[2])];
        const ProjectedVertex &d = vertices[static_cast<std::size_t>(quad[3])];
        if (!a.projected || !b.projected || !c.projected || !d.projected) continue;
        prepared.corners.insert(prepared.corners.end(), {a.corner, b.corner, c.corner, c.corner, d.corner, a.corner});
    }
}

void sortIntoBands(const PreparedRegion &region, std::size_t firstTriangle, std::size_t endTriangle, int32_t height,
                   int32_t bandRows, BandedTriangles &sorted) {
    const int32_t bands = (height + bandRows - 1) / bandRows;
    sorted.bandStart.assign(static_cast<std::size_t>(bands) + 1, 0);
    sorted.setups.clear();
    sorted.bandTriangles.clear();
    // Every triangle that draws a row set up once, whichever bands walk it;
    // then its bands counted, and the triangles placed band by band.
    endTriangle = std::min(endTriangle, region.corners.size() / 3);
    sorted.setups.reserve(endTriangle > firstTriangle ? endTriangle - firstTriangle : 0);
    for (std::size_t t = firstTriangle; t < endTriangle; ++t) {
        const TriangleCorner *c = &region.corners[3 * t];
        TriangleSetup setup;
        if (!setUpTriangle(c[0], c[1], c[2], height, setup)) continue;
        sorted.setups.push_back(setup);
        for (int32_t b = setup.rowBegin / bandRows; b <= (setup.rowEnd - 1) / bandRows; ++b)
            ++sorted.bandStart[static_cast<std::size_t>(b) + 1];
    }
    for (std::size_t b = 1; b < sorted.bandStart.size(); ++b) sorted.bandStart[b] += sorted.bandStart[b - 1];
    sorted.bandTriangles.resize(static_cast<std::size_t>(sorted.bandStart.back()));
    std::vector<int32_t> next(sorted.bandStart.begin(), sorted.bandStart.end() - 1);
    for (std::size_t t = 0; t < sorted.setups.size(); ++t) {
        const TriangleSetup &setup = sorted.setups[t];
        for (int32_t b = setup.rowBegin / bandRows; b <= (setup.rowEnd - 1) / bandRows; ++b)
            sorted.bandTriangles[static_cast<std::size_t>(next[static_cast<std::size_t>(b)]++)] =
                static_cast<int32_t>(t);
    }
}

namespace {

// True when some triangle of the region draws a row of band `band`.
bool reachesBand(const PreparedRegion &region, int32_t band) {
    const auto b = static_cast<std::size_t>(band);
    for (const BandedTriangles &part : region.parts)
        if (part.bandStart.size() > b + 1 && part.bandStart[b + 1] > part.bandStart[b]) return true;
    return false;
}

}  // namespace

void drawPreparedBand(const BandTarget &target, const PreparedRegion &region, int32_t band) {
    if (!reachesBand(region, band) || target.colour == nullptr || target.depth == nullptr ||
        target.written == nullptr)
        return;
    const auto b = static_cast<std::size_t>(band);
    switch (kernelLevel()) {
#if defined(__x86_64__) || defined(__i386__)
        case KernelLevel::Avx512: walkBandAvx512(target, region, b); break;
        case KernelLevel::Avx2: walkBandAvx2(target, region, b); break;
#endif
        default: walkBandBaseline(target, region, b); break;
    }
}

RowRange drawRegion(PixelBuffer &colour, PixelBuffer &depth, const TRegion &region, const TextureView &texture,
                    const Matrix4 &projection, const Matrix4 &view, PixelWrite write) {
    if (texture.empty() || colour.bytes() == nullptr || depth.bytes() == nullptr) return RowRange{};
    PreparedRegion prepared;
    prepareRegion(region, texture, projection, view, colour.width, colour.height, write, prepared);
    if (prepared.corners.empty()) return RowRange{};
    SpanFiller filler(colour.bytes(), depth.floats(), colour.width, 0, texture, write);
    for (std::size_t t = 0; t + 3 <= prepared.corners.size(); t += 3)
        rasteriseTriangle(prepared.corners[t], prepared.corners[t + 1], prepared.corners[t + 2], colour.width,
                          colour.height, texture.height, filler);
    return filler.rows();
}

namespace {

// Region indices with their roles in rendering (model/model.h).
constexpr std::size_t kFaceRegions[] = {0, 1, 2};
constexpr std::size_t kUpperTeethRegion = 3;
constexpr std::size_t kLowerTeethRegion = 4;

// Sets rows first to last of the depth buffer to kEmptyDepth: the first of
// them element by element, the others copied from it (a vectorised copy).
void resetDepthRows(float *values, int32_t width, RowRange rows) {
    if (values == nullptr || rows.empty()) return;
    const auto rowLength = static_cast<std::size_t>(width);
    float *first = values + static_cast<std::size_t>(rows.first) * rowLength;
    std::fill(first, first + rowLength, kEmptyDepth);
    for (int32_t row = rows.first + 1; row <= rows.last; ++row)
        std::memcpy(values + static_cast<std::size_t>(row) * rowLength, first, rowLength * sizeof(float));
}

void resetDepth(PixelBuffer &depth, RowRange rows) { resetDepthRows(depth.floats(), depth.width, rows); }

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
// The composite of `pixelCount` pixels into `out` (which may be `face`);
// a null `inner` stands for an inner pass of all 0.
void compositePixels(const uint8_t *face, const uint8_t *inner, uint8_t *out, std::size_t pixelCount) {
    static const uint8_t zero4[4] = {0, 0, 0, 0};
    std::size_t p = 0;
#if defined(__SSE2__)
    // Four pixels at a time: a pixel whose three colour bytes are 0 is
    // selected whole from the inner pass.
    const __m128i colourBytes = _mm_set1_epi32(std::endian::native == std::endian::little ? 0x00FFFFFF : 0xFFFFFF00);
    const __m128i zero = _mm_setzero_si128();
    for (; p + 4 <= pixelCount; p += 4) {
        const __m128i facePixels = _mm_loadu_si128(reinterpret_cast<const __m128i *>(face + 4 * p));
        const __m128i black = _mm_cmpeq_epi32(_mm_and_si128(facePixels, colourBytes), zero);
        __m128i merged = _mm_andnot_si128(black, facePixels);
        if (inner != nullptr) {
            const __m128i innerPixels = _mm_loadu_si128(reinterpret_cast<const __m128i *>(inner + 4 * p));
            merged = _mm_or_si128(_mm_and_si128(black, innerPixels), merged);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 4 * p), merged);
    }
#endif
    for (; p < pixelCount; ++p) {
        const uint8_t *pixel = face + 4 * p;
        const uint8_t *below = inner != nullptr ? inner + 4 * p : zero4;
        std::memcpy(out + 4 * p, (pixel[0] | pixel[1] | pixel[2]) == 0 ? below : pixel, 4);
    }
}

void compositeInnerPass(PixelBuffer &facePass, const PixelBuffer &innerPass) {
    uint8_t *face = facePass.bytes();
    const uint8_t *inner = innerPass.bytes();
    if (face == nullptr || inner == nullptr) return;
    compositePixels(face, inner, face,
                    static_cast<std::size_t>(facePass.width) * static_cast<std::size_t>(facePass.height));
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

// Every pass, once the render size is known to be drawable (or empty): the
// reference order of work, one whole buffer after another.
void renderPassesWhole(TModel &model, ImageHandle destination, int32_t width, int32_t height) {
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

// The regions of a render in drawing order, projected for the render size.
struct PreparedPasses {
    std::vector<PreparedRegion> face;   // the mouth cavity's depth, then regions 0 to 2
    PreparedRegion sock;
    std::vector<PreparedRegion> teeth;  // in their drawing order
};

// A thread's buffers for one band: colour, inner pass and depth of its rows,
// small enough to stay in the core's cache while the band is drawn,
// composited and delivered, and the columns written in each row. Between
// bands they are clean, colour and inner pass all 0 and depth all
// kEmptyDepth, each band putting back only the columns it wrote: the head
// covers a small part of most rows, and clearing whole bands cost more than
// drawing them.
struct BandScratch {
    BandScratch(int32_t bandRows, int32_t bandWidth)
        : rows(bandRows),
          width(bandWidth),
          pixels(static_cast<std::size_t>(bandRows) * static_cast<std::size_t>(bandWidth)),
          colour(std::make_unique<uint8_t[]>(4 * pixels)),
          inner(std::make_unique<uint8_t[]>(4 * pixels)),
          depth(std::make_unique_for_overwrite<float[]>(pixels)),
          written(std::make_unique_for_overwrite<int32_t[]>(2 * static_cast<std::size_t>(bandRows))) {
        std::fill(depth.get(), depth.get() + pixels, kEmptyDepth);
        for (int32_t row = 0; row < bandRows; ++row) markUnwritten(row);
    }
    void markUnwritten(int32_t row) {
        written[2 * static_cast<std::size_t>(row)] = INT32_MAX;
        written[2 * static_cast<std::size_t>(row) + 1] = INT32_MIN;
    }
    int32_t rows;
    int32_t width;
    std::size_t pixels;
    std::unique_ptr<uint8_t[]> colour;
    std::unique_ptr<uint8_t[]> inner;
    std::unique_ptr<float[]> depth;
    std::unique_ptr<int32_t[]> written;  // [first, end) of the columns written, per row
};

// The image handed to the imaging library, kept from one render to the
// next: RGBA rows, flipped (row 0 the top of the view), and for each render
// row the columns [first, end) outside which the row is all 0. A render of
// the same size then writes its own composite and zeroes only what the last
// one left outside it, instead of writing every byte of the image; being
// reused, the image also stays in the cache for the copy that follows.
struct DeliveryCanvas {
    int32_t width = 0;
    int32_t height = 0;
    std::unique_ptr<uint8_t[]> pixels;
    std::unique_ptr<int32_t[]> extents;

    // Makes the canvas width x height, all 0, unless it is that size already.
    // May throw std::bad_alloc (the canvas then has no size).
    void prepare(int32_t newWidth, int32_t newHeight) {
        if (newWidth == width && newHeight == height && pixels) return;
        pixels.reset();
        extents.reset();
        width = 0;
        height = 0;
        const std::size_t count = static_cast<std::size_t>(newWidth) * static_cast<std::size_t>(newHeight);
        pixels = std::make_unique<uint8_t[]>(4 * count);
        extents = std::make_unique_for_overwrite<int32_t[]>(2 * static_cast<std::size_t>(newHeight));
        for (int32_t row = 0; row < newHeight; ++row) {
            extents[2 * static_cast<std::size_t>(row)] = 0;
            extents[2 * static_cast<std::size_t>(row) + 1] = 0;
        }
        width = newWidth;
        height = newHeight;
    }

    // Render row y's pixels (its place in the flipped image).
    uint8_t *row(int32_t y) {
        return pixels.get() + static_cast<std::size_t>(height - 1 - y) * static_cast<std::size_t>(width) * 4;
    }

    // Zeroes what the last render left in row y outside [first, end), and
    // records [first, end) as the row's extent (empty when first >= end).
    void settleRow(int32_t y, int32_t first, int32_t end) {
        int32_t *extent = extents.get() + 2 * static_cast<std::size_t>(y);
        uint8_t *pixelsOfRow = row(y);
        if (first >= end) first = end = 0;
        auto zero = [&](int32_t from, int32_t to) {
            if (from < to)
                std::memset(pixelsOfRow + 4 * static_cast<std::size_t>(from), 0,
                            4 * static_cast<std::size_t>(to - from));
        };
        if (first >= end) {
            zero(extent[0], extent[1]);
        } else {
            zero(extent[0], std::min(extent[1], first));
            zero(std::max(extent[0], end), extent[1]);
        }
        extent[0] = first;
        extent[1] = end;
    }
};

// What the banded renderer keeps between renders.
struct RenderWorkspace {
    std::vector<BandScratch> scratch;  // one per thread
    DeliveryCanvas delivered;
    PreparedPasses passes;
};

// Every pass on the rows [begin, end) only: the face pass, the inner pass
// and the composite of a row depend on that row alone (a triangle's walk
// above the band is replayed by the rasteriser), so bands that tile the image
// give the whole-buffer result bit for bit, in any order or at once. The
// composite goes to `delivered`, each row at its place in the flipped image.
// Outside the columns a row was written in, face and inner pass are both 0,
// and so is their composite.
void drawBand(BandScratch &scratch, const PreparedPasses &passes, int32_t band, int32_t begin, int32_t end,
              int32_t width, int32_t height, DeliveryCanvas &delivered) {
    const auto rowPixels = static_cast<std::size_t>(width);
    auto reaches = [band](const PreparedRegion &region) { return reachesBand(region, band); };
    const bool face = std::any_of(passes.face.begin(), passes.face.end(), reaches);
    const bool inner = reaches(passes.sock) || std::any_of(passes.teeth.begin(), passes.teeth.end(), reaches);
    // A band that no triangle reaches is the empty composite: all 0.
    if (!face && !inner) {
        for (int32_t y = begin; y < end; ++y) delivered.settleRow(y, 0, 0);
        return;
    }
    const int32_t *written = scratch.written.get();
    // Puts kEmptyDepth back wherever a pass wrote, so that the next pass
    // sees an empty depth buffer.
    auto resetWrittenDepth = [&] {
        for (int32_t row = 0; row < end - begin; ++row) {
            const int32_t first = written[2 * row];
            const int32_t last = written[2 * row + 1];
            if (first < last) {
                float *depthRow = scratch.depth.get() + static_cast<std::size_t>(row) * rowPixels;
                std::fill(depthRow + first, depthRow + last, kEmptyDepth);
            }
        }
    };
    const BandTarget faceTarget{scratch.colour.get(), scratch.depth.get(), width, height, begin, end,
                                scratch.written.get()};
    const BandTarget innerTarget{scratch.inner.get(), scratch.depth.get(), width, height, begin, end,
                                 scratch.written.get()};
    for (const PreparedRegion &region : passes.face) drawPreparedBand(faceTarget, region, band);
    if (inner) {
        resetWrittenDepth();
        drawPreparedBand(innerTarget, passes.sock, band);
        resetWrittenDepth();
        for (const PreparedRegion &region : passes.teeth) drawPreparedBand(innerTarget, region, band);
    }
    // The composite of each row, and the scratch made clean again.
    for (int32_t y = begin; y < end; ++y) {
        const int32_t row = y - begin;
        const int32_t first = written[2 * row];
        const int32_t last = written[2 * row + 1];
        delivered.settleRow(y, first, last);
        if (!(first < last)) continue;
        const std::size_t at = static_cast<std::size_t>(row) * rowPixels + static_cast<std::size_t>(first);
        const auto count = static_cast<std::size_t>(last - first);
        compositePixels(scratch.colour.get() + 4 * at, scratch.inner.get() + 4 * at,
                        delivered.row(y) + 4 * static_cast<std::size_t>(first), count);
        std::memset(scratch.colour.get() + 4 * at, 0, 4 * count);
        if (inner) std::memset(scratch.inner.get() + 4 * at, 0, 4 * count);
        std::fill(scratch.depth.get() + at, scratch.depth.get() + at + count, kEmptyDepth);
        scratch.markUnwritten(row);
    }
}

// Images below this many pixels are drawn by one thread: waking the
// others would cost more than it saves.
constexpr int64_t kBandedThreadPixels = 256 * 256;

// Triangles per run of the set-up: enough that a run's work (tens of
// microseconds) outweighs handing it out, few enough that two threads share
// a head of a few thousand triangles evenly.
constexpr std::size_t kTrianglesPerRun = 1024;

// Rows per band: about 256 KiB of colour, inner pass and depth (12 bytes a
// pixel), at least 8 rows.
int32_t bandRowsFor(int32_t width) { return std::max<int32_t>(8, (256 * 1024) / (12 * std::max(width, 1))); }

// The same passes as renderPassesWhole, drawn band after band of rows, the
// bands shared among the threads.
void renderPassesInBands(TModel &model, ImageHandle destination, int32_t width, int32_t height) {
    float angle = model.perspective;
    if (angle < 0.001f) angle = 0.001f;
    const Matrix4 projection = projectionMatrix(angle);
    const Matrix4 view = viewMatrix(model, cameraDistanceOf(angle));
    const int32_t bandRows = std::min(bandRowsFor(width), height);
    const int32_t bands = (height + bandRows - 1) / bandRows;
    const bool threaded = static_cast<int64_t>(width) * height >= kBandedThreadPixels;
    const int threads = threaded ? std::clamp(omp_get_max_threads(), 1, bands) : 1;
    // The working memory is kept for the next render (one render at a time,
    // like the rest of the library's state): a render of the size of the
    // last one then allocates almost nothing, where fresh buffers cost more in
    // page faults than the drawing of their rows. The threads' band buffers
    // are clean between renders as between bands.
    static RenderWorkspace workspace;
    std::vector<BandScratch> &scratch = workspace.scratch;
    if (!scratch.empty() && (scratch.front().rows != bandRows || scratch.front().width != width)) scratch.clear();
    while (scratch.size() < static_cast<std::size_t>(threads)) scratch.emplace_back(bandRows, width);
    DeliveryCanvas &delivered = workspace.delivered;
    delivered.prepare(width, height);
    const PixelBuffer texture = PixelBuffer::fromImage(model.texture, PixelMode::ColorAlpha);
    const PixelBuffer sockTexture = PixelBuffer::fromImage(model.sockImage, PixelMode::ColorAlpha);
    PixelBuffer upperTeethTexture;
    PixelBuffer lowerTeethTexture;
    if (!model.teethFromModelTexture) {
        upperTeethTexture = PixelBuffer::fromImage(model.upperTeethImage, PixelMode::ColorAlpha);
        lowerTeethTexture = PixelBuffer::fromImage(model.lowerTeethImage, PixelMode::ColorAlpha);
    }
    std::optional<TRegion> previousCap;
    if (model.regions.size() > static_cast<std::size_t>(kMouthCapRegion))
        previousCap = model.regions[static_cast<std::size_t>(kMouthCapRegion)];
    PreparedPasses &passes = workspace.passes;
    try {
        buildMouthCap(model, libraryState().list7Table);
        // Each prepared region of the last render is filled anew; one whose
        // region the model lacks is left empty.
        auto prepare = [&](std::size_t index, const PixelBuffer &source, PixelWrite write, PreparedRegion &prepared) {
            if (index < model.regions.size()) {
                prepareRegion(model.regions[index], TextureView::of(source), projection, view, width, height, write,
                              prepared);
            } else {
                prepared.corners.clear();
                prepared.texture = TextureView{};
                prepared.write = write;
            }
        };
        passes.face.resize(1 + std::size(kFaceRegions));
        passes.teeth.resize(2);
        prepare(static_cast<std::size_t>(kMouthCapRegion), texture, PixelWrite::DepthOnly, passes.face[0]);
        for (std::size_t k = 0; k < std::size(kFaceRegions); ++k)
            prepare(kFaceRegions[k], texture, PixelWrite::Replace, passes.face[k + 1]);
        prepare(static_cast<std::size_t>(kSockRegion), sockTexture, PixelWrite::Replace, passes.sock);
        if (model.teethFromModelTexture) {
            prepare(kUpperTeethRegion, texture, PixelWrite::Replace, passes.teeth[0]);
            prepare(kLowerTeethRegion, texture, PixelWrite::Replace, passes.teeth[1]);
        } else {
            prepare(kLowerTeethRegion, lowerTeethTexture, PixelWrite::Blend, passes.teeth[0]);
            prepare(kUpperTeethRegion, upperTeethTexture, PixelWrite::Blend, passes.teeth[1]);
        }
    } catch (...) {
        if (previousCap) model.regions[static_cast<std::size_t>(kMouthCapRegion)] = std::move(*previousCap);
        throw;
    }
    // The set-up and sorting of the triangles, in runs of consecutive
    // triangles (their bands list the runs in order, so the drawing order
    // stays that of the region), shared among the threads like the bands:
    // the helpers wake while the calling thread still sets up.
    struct SortJob {
        PreparedRegion *region;
        std::size_t part;
        std::size_t firstTriangle;
    };
    std::vector<SortJob> jobs;
    auto listJobs = [&](PreparedRegion &region) {
        const std::size_t triangles = region.corners.size() / 3;
        const std::size_t parts = std::max<std::size_t>(1, (triangles + kTrianglesPerRun - 1) / kTrianglesPerRun);
        region.parts.resize(parts);
        for (std::size_t part = 0; part < parts; ++part) jobs.push_back(SortJob{&region, part, part * kTrianglesPerRun});
    };
    try {
        for (PreparedRegion &region : passes.face) listJobs(region);
        listJobs(passes.sock);
        for (PreparedRegion &region : passes.teeth) listJobs(region);
    } catch (...) {
        if (previousCap) model.regions[static_cast<std::size_t>(kMouthCapRegion)] = std::move(*previousCap);
        throw;
    }
    // Then the bands, handed out one at a time (the head fills the middle
    // rows), once every run is sorted. A run that runs out of memory fails
    // the render after the threads are done; nothing else allocates or
    // throws.
    std::atomic<std::size_t> nextJob{0};
    std::atomic<std::size_t> jobsDone{0};
    std::atomic<bool> outOfMemory{false};
    std::atomic<int32_t> nextBand{0};
    auto renderBands = [&](int slot) {
        for (std::size_t j = nextJob.fetch_add(1, std::memory_order_relaxed); j < jobs.size();
             j = nextJob.fetch_add(1, std::memory_order_relaxed)) {
            const SortJob &job = jobs[j];
            try {
                sortIntoBands(*job.region, job.firstTriangle, job.firstTriangle + kTrianglesPerRun, height, bandRows,
                              job.region->parts[job.part]);
            } catch (const std::bad_alloc &) {
                outOfMemory.store(true, std::memory_order_relaxed);
            }
            jobsDone.fetch_add(1, std::memory_order_release);
        }
        // A run is short: the others are waited for by yielding, which on
        // a busy machine also hands the core to a thread still sorting.
        while (jobsDone.load(std::memory_order_acquire) < jobs.size()) std::this_thread::yield();
        if (outOfMemory.load(std::memory_order_relaxed)) return;
        BandScratch &own = scratch[static_cast<std::size_t>(slot)];
        for (int32_t band = nextBand.fetch_add(1, std::memory_order_relaxed); band < bands;
             band = nextBand.fetch_add(1, std::memory_order_relaxed)) {
            const int32_t begin = band * bandRows;
            drawBand(own, passes, band, begin, std::min(begin + bandRows, height), width, height, delivered);
        }
    };
    runOnBandWorkers(threads, renderBands);
    if (outOfMemory.load()) {
        if (previousCap) model.regions[static_cast<std::size_t>(kMouthCapRegion)] = std::move(*previousCap);
        throw std::bad_alloc();
    }
    // One copy into the destination's own storage (reused when it is large
    // enough); a failure leaves the destination as it was.
    TAVO_WriteImagePixels(destination, delivered.pixels.get(), width, height, 4 * width, TAVO_IMAGEMODE_COLOR_ALPHA);
}

// The banded passes at every kernel level but the plain one, which keeps the
// whole-buffer order as the reference; an empty render has nothing to band.
void renderPasses(TModel &model, ImageHandle destination, int32_t width, int32_t height) {
    if (kernelLevel() != KernelLevel::Plain && width > 0 && height > 0) {
        renderPassesInBands(model, destination, width, height);
    } else {
        renderPassesWhole(model, destination, width, height);
    }
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
