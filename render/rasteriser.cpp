// Drawing a triangle: the walk from set-up to spans.
#include "render/rasteriser.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kelmo {

using walk_records::Edge;
using walk_records::Record;

void rasteriseTriangle(const TriangleCorner &corner1, const TriangleCorner &corner2, const TriangleCorner &corner3,
                       int32_t width, int32_t height, int32_t textureHeight, SpanWriter &writer,
                       int32_t bandBegin, int32_t bandEnd) {
    if (!std::isfinite(corner1.windowX) || !std::isfinite(corner1.windowY) || !std::isfinite(corner2.windowX) ||
        !std::isfinite(corner2.windowY) || !std::isfinite(corner3.windowX) || !std::isfinite(corner3.windowY))
        return;
    // The records. The depth key of the untransformed vertex,
    // 1 / (10 + z), is made below once the triangle is known to have a row
    // (the same value, one division fewer per vertex of a triangle without).
    auto record = [](const TriangleCorner &c) { return Record{c.windowX, c.windowY, c.u, c.v, c.modelZ}; };
    Record first = record(corner1);
    Record middle = record(corner2);
    Record last = record(corner3);
    // Sorted by window y with three compare-and-swaps; equal values keep
    // their order.
    if (first.y > middle.y) std::swap(first, middle);
    if (first.y > last.y) std::swap(first, last);
    if (middle.y > last.y) std::swap(middle, last);

    // The rows drawn: from max(0, ceil(first.y)) while below min(ceil(last.y),
    // height - 1). Compared as floats before any conversion, so that no
    // coordinate outside the int range is ever converted.
    const float firstRow = ceilOf(first.y);
    const float middleRow = ceilOf(middle.y);
    const float lastRow = ceilOf(last.y);
    const float rowBegin = firstRow > 0.0f ? firstRow : 0.0f;
    const float rowLimit = static_cast<float>(height - 1);
    const float rowEnd = lastRow < rowLimit ? lastRow : rowLimit;
    // No row: nothing to set up (this also covers a triangle whose window y
    // values are all equal, whose set-up would divide by zero).
    if (!(rowBegin < rowEnd)) return;
    // A triangle that ends above the band has nothing to write there.
    if (rowEnd <= static_cast<float>(bandBegin)) return;
    for (Record *r : {&first, &middle, &last}) r->k = 1.0f / (kDepthKeyOffset + r->k);

    // Constant gradients across the triangle, from the widest row (through
    // the middle vertex).
    const float ratio = (middle.y - first.y) / (last.y - first.y);
    const float longX = first.x + (last.x - first.x) * ratio;
    const float longU = first.u + (last.u - first.u) * ratio;
    const float longV = first.v + (last.v - first.v) * ratio;
    const float longK = first.k + (last.k - first.k) * ratio;
    const float spanWidth = longX - middle.x;
    const float du = (longU - middle.u) / spanWidth;
    float dv = (longV - middle.v) / spanWidth;  // the v clamp may change it for the rest of the triangle
    const float dk = (longK - middle.k) / spanWidth;

    // The long edge, and the short edge that spans the first row.
    Edge longEdge = Edge::between(first, last, firstRow);
    Edge shortEdge =
        middleRow > firstRow ? Edge::between(first, middle, firstRow) : Edge::between(middle, last, middleRow);
    // A triangle whose first row is below row 0 has both edges advanced to
    // row 0, the short edge being the one that spans row 0.
    if (firstRow < 0.0f) {
        longEdge.skipRows(-firstRow);
        if (middleRow > 0.0f) {
            shortEdge.skipRows(-firstRow);
        } else {
            shortEdge = Edge::between(middle, last, middleRow);
            shortEdge.skipRows(-middleRow);
        }
    }

    const float columnLimit = static_cast<float>(width);
    const float textureLastRow = static_cast<float>(textureHeight - 1);
    const auto yBegin = static_cast<int32_t>(rowBegin);
    const auto yEnd = std::min(static_cast<int32_t>(rowEnd), bandEnd);
    for (int32_t y = yBegin; y < yEnd; ++y) {
        // From the middle's row on, the short edge runs middle to last.
        if (static_cast<float>(y) == middleRow) shortEdge = Edge::between(middle, last, middleRow);
        Span span;
        if (walk_records::spanOfRow(shortEdge, longEdge, y, columnLimit, textureLastRow, du, dv, dk, span) &&
            y >= bandBegin)
            writer.writeSpan(span);
        // Drawn or skipped, both edges advance one row.
        longEdge.step();
        shortEdge.step();
    }
}

bool setUpTriangle(const TriangleCorner &corner1, const TriangleCorner &corner2, const TriangleCorner &corner3,
                   int32_t height, TriangleSetup &setup) {
    // The set-up of rasteriseTriangle, operation for operation.
    if (!std::isfinite(corner1.windowX) || !std::isfinite(corner1.windowY) || !std::isfinite(corner2.windowX) ||
        !std::isfinite(corner2.windowY) || !std::isfinite(corner3.windowX) || !std::isfinite(corner3.windowY))
        return false;
    auto record = [](const TriangleCorner &c) { return Record{c.windowX, c.windowY, c.u, c.v, c.modelZ}; };
    Record first = record(corner1);
    Record middle = record(corner2);
    Record last = record(corner3);
    if (first.y > middle.y) std::swap(first, middle);
    if (first.y > last.y) std::swap(first, last);
    if (middle.y > last.y) std::swap(middle, last);
    const float firstRow = ceilOf(first.y);
    const float middleRow = ceilOf(middle.y);
    const float lastRow = ceilOf(last.y);
    const float rowBegin = firstRow > 0.0f ? firstRow : 0.0f;
    const float rowLimit = static_cast<float>(height - 1);
    const float rowEnd = lastRow < rowLimit ? lastRow : rowLimit;
    if (!(rowBegin < rowEnd)) return false;
    for (Record *r : {&first, &middle, &last}) r->k = 1.0f / (kDepthKeyOffset + r->k);
    const float ratio = (middle.y - first.y) / (last.y - first.y);
    const float longX = first.x + (last.x - first.x) * ratio;
    const float longU = first.u + (last.u - first.u) * ratio;
    const float longV = first.v + (last.v - first.v) * ratio;
    const float longK = first.k + (last.k - first.k) * ratio;
    const float spanWidth = longX - middle.x;
    setup.du = (longU - middle.u) / spanWidth;
    setup.dv = (longV - middle.v) / spanWidth;
    setup.dk = (longK - middle.k) / spanWidth;
    setup.longEdge = Edge::between(first, last, firstRow);
    setup.lowerEdge = Edge::between(middle, last, middleRow);
    setup.shortEdge = middleRow > firstRow ? Edge::between(first, middle, firstRow) : setup.lowerEdge;
    if (firstRow < 0.0f) {
        setup.longEdge.skipRows(-firstRow);
        if (middleRow > 0.0f) {
            setup.shortEdge.skipRows(-firstRow);
        } else {
            setup.shortEdge = setup.lowerEdge;
            setup.shortEdge.skipRows(-middleRow);
        }
    }
    setup.middleRow = middleRow;
    setup.rowBegin = static_cast<int32_t>(rowBegin);
    setup.rowEnd = static_cast<int32_t>(rowEnd);
    return true;
}

}  // namespace kelmo
