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

// How the walk takes its ceilings: ceilOf, which any CPU runs, or the
// rounding instruction of the CPUs that have one (std::ceil, the same bits;
// only in code compiled for such a CPU, where the call becomes the
// instruction).
enum class Ceiling { Portable, Instruction };

template <Ceiling kCeiling>
[[gnu::always_inline]] inline float ceilingOf(float x) {
    if constexpr (kCeiling == Ceiling::Instruction) {
        return std::ceil(x);
    } else {
        return ceilOf(x);
    }
}

// Receives the spans of a triangle (the depth test, the sampling and the
// writing of every pixel are the receiver's).
class SpanWriter {
public:
    virtual void writeSpan(const Span &span) = 0;

protected:
    ~SpanWriter() = default;
};

// The walk's own records, shared by its two entry points.
namespace walk_records {

// A vertex record: window x and y, texel u and v, and the depth
// key k (holding the model-space z until the key is made).
struct Record {
    float x, y, u, v, k;
};

// An edge: its values at the current row and its slopes per row.
struct Edge {
    float x, u, v, k;
    float dx, du, dv, dk;

    // Starts the edge from `from` to `to` at row `startRow`, its values
    // advanced by (startRow - from.y) times its slopes.
    static Edge between(const Record &from, const Record &to, float startRow) {
        const float dy = to.y - from.y;
        Edge edge;
        edge.dx = (to.x - from.x) / dy;
        edge.du = (to.u - from.u) / dy;
        edge.dv = (to.v - from.v) / dy;
        edge.dk = (to.k - from.k) / dy;
        const float advance = startRow - from.y;
        edge.x = from.x + advance * edge.dx;
        edge.u = from.u + advance * edge.du;
        edge.v = from.v + advance * edge.dv;
        edge.k = from.k + advance * edge.dk;
        return edge;
    }

    // Moves the edge `rows` rows at once (a triangle whose first row is
    // below row 0): the values advanced by rows times the slopes.
    void skipRows(float rows) {
        if (rows == 0.0f) return;
        x = x + rows * dx;
        u = u + rows * du;
        v = v + rows * dv;
        k = k + rows * dk;
    }

    // One row up, by addition (never recomputed from the start, so the
    // rounding of every row follows from the one before).
    void step() {
        x += dx;
        u += du;
        v += dv;
        k += dk;
    }
};


// The span of row `y` between two edges, the left end being the edge with
// the smaller x (the long edge when both are equal). False when the row
// draws nothing: the span is kept only if count != 0, x0 >= 0 and
// x0 + count < width, which in whole-number floats reads ceil(left) >= 0,
// ceil(right) < width, ceil(right) != ceil(left); a NaN fails them all.
// The v clamp keeps v inside the texture along the span and may change
// `dv`, which stays for the following rows; its divisions are in double
// precision, and count - 1 is never 0 when they run (v + 0 * dv cannot leave
// [0, textureLastRow] once v was clamped).
template <Ceiling kCeiling = Ceiling::Portable>
[[gnu::always_inline]] inline bool spanOfRow(const Edge &shortEdge, const Edge &longEdge, int32_t y, float columnLimit,
                                             float textureLastRow, float du, float &dv, float dk, Span &span) {
    const bool shortIsLeft = shortEdge.x < longEdge.x;
    const Edge &left = shortIsLeft ? shortEdge : longEdge;
    const Edge &right = shortIsLeft ? longEdge : shortEdge;
    const float leftColumn = ceilingOf<kCeiling>(left.x);
    const float rightColumn = ceilingOf<kCeiling>(right.x);
    if (!(leftColumn >= 0.0f && rightColumn < columnLimit && rightColumn != leftColumn)) return false;
    span.row = y;
    span.firstColumn = static_cast<int32_t>(leftColumn);
    span.count = static_cast<int32_t>(rightColumn) - span.firstColumn;
    // u and v advanced to the first pixel's centre column; the depth key
    // without that advance.
    const float advance = leftColumn - left.x;
    float v = left.v + advance * dv;
    span.u = left.u + advance * du;
    span.depthKey = left.k;
    const auto lastPixel = static_cast<float>(span.count - 1);
    if (v < 0.0f) v = 0.0f;
    if (v + lastPixel * dv < 0.0f)
        dv = static_cast<float>((0.01 - static_cast<double>(v)) / static_cast<double>(span.count - 1));
    if (v > textureLastRow) v = textureLastRow;
    if (v + lastPixel * dv > textureLastRow)
        dv = static_cast<float>((static_cast<double>(textureLastRow - v) - 0.01) / static_cast<double>(span.count - 1));
    span.v = v;
    span.du = du;
    span.dv = dv;
    span.dk = dk;
    return true;
}

}  // namespace walk_records

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

// A triangle set up once for any number of walks over bands of rows: the
// gradients, and the edges as the walk of rasteriseTriangle starts them.
// Rows rowBegin to rowEnd - 1 are drawn.
struct TriangleSetup {
    walk_records::Edge longEdge;   // at row rowBegin
    walk_records::Edge shortEdge;  // at row rowBegin
    walk_records::Edge lowerEdge;  // middle to last, at row middleRow (taken when the walk reaches it)
    float du, dv, dk;
    float middleRow;
    int32_t rowBegin, rowEnd;
};

// The set-up of rasteriseTriangle for a target `height` rows high, bit for
// bit. False (setup unchanged) when the triangle draws no row.
bool setUpTriangle(const TriangleCorner &corner1, const TriangleCorner &corner2, const TriangleCorner &corner3,
                   int32_t height, TriangleSetup &setup);

// The walk of rasteriseTriangle from a set-up, over the band of rows
// [bandBegin, bandEnd): the same spans, handed to the writer's
// writeSpan without a virtual call. `textureLastRow` is the texture's height
// - 1 (the v clamp's bound).
template <Ceiling kCeiling = Ceiling::Portable, class Writer>
[[gnu::always_inline]] inline void walkTriangle(const TriangleSetup &setup, int32_t width, float textureLastRow,
                                                Writer &writer, int32_t bandBegin, int32_t bandEnd) {
    walk_records::Edge longEdge = setup.longEdge;
    walk_records::Edge shortEdge = setup.shortEdge;
    const float du = setup.du;
    const float dk = setup.dk;
    float dv = setup.dv;
    const float columnLimit = static_cast<float>(width);
    const int32_t yEnd = setup.rowEnd < bandEnd ? setup.rowEnd : bandEnd;
    for (int32_t y = setup.rowBegin; y < yEnd; ++y) {
        if (static_cast<float>(y) == setup.middleRow) shortEdge = setup.lowerEdge;
        Span span;
        if (walk_records::spanOfRow<kCeiling>(shortEdge, longEdge, y, columnLimit, textureLastRow, du, dv, dk,
                                              span) &&
            y >= bandBegin)
            writer.writeSpan(span);
        longEdge.step();
        shortEdge.step();
    }
}

}  // namespace kelmo
