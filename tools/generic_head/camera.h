// The library's default camera (perspective angle 1 degree, camera distance
// 400, camera lift 0.15, no model transform), in double precision: where a
// model point lands in an image of width x height pixels, x right and y down,
// before the truncation of TAVO_ProjectModelVertices. The generator uses it to
// place the head's landmarks in its alpha mask and to classify its own
// expressions as a photo of the generic head would be classified.
#pragma once

#include <cmath>
#include <numbers>

#include "kelmo.h"
#include "tools/generic_head/vec.h"

namespace kelmo::generic_head {

inline TPointf projectDefaultCamera(Vec3 p, int width, int height) {
    constexpr double angle = 1.0;
    constexpr double distance = 400.0 / angle;
    constexpr double nearPlane = distance - 4.0;
    const double ymax = nearPlane * std::tan(angle * std::numbers::pi / 360.0);
    // Eye space: translate by (0, 0.15, -D); the divisor is -z_eye.
    const double ex = p.x, ey = p.y + 0.15, ez = p.z - distance;
    const double w = -ez;
    const double ndcX = (nearPlane / ymax) * ex / w;
    const double ndcY = (nearPlane / ymax) * ey / w;
    const double windowX = (ndcX * 0.5 + 0.5) * (width - 1);
    const double windowY = (ndcY * 0.5 + 0.5) * (height - 1);
    return {static_cast<float>(windowX), static_cast<float>(height - windowY)};
}

}  // namespace kelmo::generic_head
