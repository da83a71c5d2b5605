// TGrid: the list of 2D points that carries feature points through the face
// frame extraction and creation from a photo.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "kelmo.h"

namespace kelmo {

// A list of points in the pixel coordinates of some image (origin at the
// top-left pixel, y down). The grid owns its array; every operation works on
// all points in index order.
class TGrid {
public:
    TGrid() = default;
    explicit TGrid(std::vector<TPointf> initialPoints) : points(std::move(initialPoints)) {}
    // Copying a grid copies its points.
    TGrid(const TGrid &other) = default;
    // Moving hands the array over without allocating.
    TGrid(TGrid &&other) noexcept = default;
    // Assigning empties the target's array and appends the source's
    // points in order (no reallocation when the capacity suffices).
    TGrid &operator=(const TGrid &other);
    // Virtual, the grid's only virtual operation; releases the array.
    virtual ~TGrid() = default;

    // Turns every point about the centre (cx, cy) by `angle` radians,
    //   x' = (x - cx) * c - (y - cy) * s + cx,  y' = (x - cx) * s + (y - cy) * c + cy
    // with c = cosf(angle), s = sinf(angle) and the centre converted to float,
    // all in single precision; then x' is clamped to [0, width - 1] and y' to
    // [0, height - 1], a NaN becoming 0 (for a bound below 0 the lower bound
    // 0 wins).
    void Rotate(int32_t cx, int32_t cy, int32_t width, int32_t height, float angle);
    // x * factor, y * factor.
    void Scale(float factor);
    // x + dx, y + dy.
    void Translate(float dx, float dy);

    std::vector<TPointf> points;
};

}  // namespace kelmo
