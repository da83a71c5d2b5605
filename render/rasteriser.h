// The triangle walk of the software rasteriser: set-up, constant gradients,
// edge walking from ceil(y), the row and span rejection and the v clamp. What
// is sampled and written on a span is the caller's: it receives each span through
// a callback, so that the walk can be read, tested and measured on its own.
#pragma once

#include <cmath>
#include <cstdint>

namespace kelmo {

// The depth key of a vertex is 1 / (kDepthKeyOffset + its model-space z):
// larger for nearer points, interpolated linearly across a triangle.
inline constexpr float kDepthKeyOffset = 10.0f;

// One corner of a triangle as the walk takes it: window position (y grows
// upwards), texel position (column u, row v; see drawRegion in
// model_renderer.h) and the model-space z from which the depth key is made.
struct TriangleCorner {
    float windowX = 0.0f;
    float windowY = 0.0f;
    float u = 0.0f;
    float v = 0.0f;
    float modelZ = 0.0f;
};

// A span handed to the writer: `count` pixels of row `row` from column
// `firstColumn`, with the values at the first pixel and the constant
// gradients per pixel in x. Always 0 <= row < height - 1, count > 0,
// firstColumn >= 0 and firstColumn + count < width.
struct Span {
    int32_t row = 0;
    int32_t firstColumn = 0;
    int32_t count = 0;
    float u = 0.0f;
    float v = 0.0f;
    float depthKey = 0.0f;
    float du = 0.0f;
    float dv = 0.0f;
    float dk = 0.0f;
};

// std::ceil for every float, bit for bit (-0 for -1 < x <= -0 included),
// without the library call that baseline x86-64 (no SSE4.1 rounding
// instruction) makes of it: the walk takes two ceilings per row.
inline float ceilOf(float x) {
    // From 2^23 up every float is whole; NaN and the infinities pass as they are.
    if (!(std::fabs(x) < 8388608.0f)) return x;
    const float truncated = static_cast<float>(static_cast<int32_t>(x));
    return std::copysign(truncated < x ? truncated + 1.0f : truncated, x);
}

// Receives the spans of a triangle (the depth test, the sampling and the
// writing of every pixel are the receiver's).
class SpanWriter {
public:
    virtual void writeSpan(const Span &span) = 0;

protected:
    ~SpanWriter() = default;
};

// Walks one triangle for a target of width x height pixels and a texture of
// `textureHeight` rows (used by the v clamp, which keeps every sample inside
// the texture). Calls writer.writeSpan for every span inside the target, rows
// in increasing order. A triangle with a corner whose window position is not
// finite is not drawn (docs/design.md); any other input, however large, only
// ever yields spans inside the target.
//
// With a band [bandBegin, bandEnd) of rows, only the spans of those rows are
// handed over, each exactly as the whole walk would make it: the rows above
// the band are still walked (edges stepped, the v clamp applied) but not
// written, and the walk stops at bandEnd. Bands that tile the target thus
// draw, together, what one walk draws.
void rasteriseTriangle(const TriangleCorner &corner1, const TriangleCorner &corner2, const TriangleCorner &corner3,
                       int32_t width, int32_t height, int32_t textureHeight, SpanWriter &writer,
                       int32_t bandBegin = 0, int32_t bandEnd = INT32_MAX);

}  // namespace kelmo
