#include "fitting/grid.h"

#include <cmath>

namespace kelmo {
namespace {

// Rotate's clamp to [0, upper]. Written so that a NaN fails every
// comparison and ends at 0, and so that the lower bound wins when upper < 0
// (a grid rotated within an empty image).
float clampToBounds(float value, float upper) {
    const float belowUpper = (upper < value) ? upper : value;  // NaN stays NaN here
    return (0.0f < belowUpper) ? belowUpper : 0.0f;            // NaN and negatives become 0
}

}  // namespace

TGrid &TGrid::operator=(const TGrid &other) {
    if (this == &other) return *this;
    points.clear();
    points.insert(points.end(), other.points.begin(), other.points.end());
    return *this;
}

void TGrid::Rotate(int32_t cx, int32_t cy, int32_t width, int32_t height, float angle) {
    const float c = std::cos(angle);  // float overloads: cosf, sinf
    const float s = std::sin(angle);
    const float centreX = static_cast<float>(cx);
    const float centreY = static_cast<float>(cy);
    // Bounds in 64 bits so that width - 1 cannot overflow.
    const float maxX = static_cast<float>(static_cast<int64_t>(width) - 1);
    const float maxY = static_cast<float>(static_cast<int64_t>(height) - 1);
    for (TPointf &point : points) {
        const float dx = point.x - centreX;
        const float dy = point.y - centreY;
        const float rotatedX = dx * c - dy * s + centreX;
        const float rotatedY = dx * s + dy * c + centreY;
        point.x = clampToBounds(rotatedX, maxX);
        point.y = clampToBounds(rotatedY, maxY);
    }
}

void TGrid::Scale(float factor) {
    for (TPointf &point : points) {
        point.x = point.x * factor;
        point.y = point.y * factor;
    }
}

void TGrid::Translate(float dx, float dy) {
    for (TPointf &point : points) {
        point.x = point.x + dx;
        point.y = point.y + dy;
    }
}

}  // namespace kelmo
