// The eyeballs (see eyes.h): latitude rings around the front axis, with a fan
// of quads closing each pole.
#include "tools/generic_head/eyes.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace kelmo::generic_head {

namespace {
constexpr int kSegments = 16;  // around the front axis; segment 0 points up, kSegments / 2 down
}

Eyeball buildEyeball(Vec3 centre, double radius, double upperRise, double lowerDrop) {
    constexpr double pi = std::numbers::pi;
    // Polar angles (from the front axis) of the two points that the lid
    // margins' middles cover.
    const double upperAngle = std::asin(std::clamp(upperRise / radius, 0.0, 0.95));
    const double lowerAngle = std::asin(std::clamp(lowerDrop / radius, 0.0, 0.95));
    // The rings: evenly spread, leaving out those too close to the two margin
    // angles, which are put in exactly.
    const double step = pi / 15.0;
    std::vector<double> angles{upperAngle};
    if (std::abs(lowerAngle - upperAngle) > 1e-9) angles.push_back(lowerAngle);
    for (int k = 1; k <= 14; ++k) {
        const double a = step * k;
        if (std::abs(a - upperAngle) > 0.5 * step && std::abs(a - lowerAngle) > 0.5 * step) angles.push_back(a);
    }
    std::sort(angles.begin(), angles.end());

    Eyeball ball;
    RegionMesh &m = ball.mesh;
    m.vertices.push_back(centre + Vec3{0.0, 0.0, radius});  // front pole
    for (double polar : angles) {
        for (int s = 0; s < kSegments; ++s) {
            // Segment 0 points up (+y); increasing s turns toward +x.
            const double azimuth = 2.0 * pi * s / kSegments;
            const double r = radius * std::sin(polar);
            m.vertices.push_back(centre +
                                 Vec3{r * std::sin(azimuth), r * std::cos(azimuth), radius * std::cos(polar)});
        }
    }
    const int backPole = static_cast<int>(m.vertices.size());
    m.vertices.push_back(centre + Vec3{0.0, 0.0, -radius});
    auto ringVertex = [](int ring, int s) { return 1 + ring * kSegments + (s % kSegments); };
    const int rings = static_cast<int>(angles.size());
    // Outward-facing quads: seen from outside, counter-clockwise.
    for (int s = 0; s < kSegments; s += 2)
        m.quads.push_back({0, ringVertex(0, s + 2), ringVertex(0, s + 1), ringVertex(0, s)});
    for (int k = 0; k + 1 < rings; ++k)
        for (int s = 0; s < kSegments; ++s)
            m.quads.push_back({ringVertex(k, s), ringVertex(k, s + 1), ringVertex(k + 1, s + 1), ringVertex(k + 1, s)});
    for (int s = 0; s < kSegments; s += 2)
        m.quads.push_back({backPole, ringVertex(rings - 1, s), ringVertex(rings - 1, s + 1),
                           ringVertex(rings - 1, s + 2)});
    m.texCoords.assign(m.vertices.size(), {});
    ball.frontPole = 0;
    const int up = static_cast<int>(std::find(angles.begin(), angles.end(), upperAngle) - angles.begin());
    const int down = static_cast<int>(std::find(angles.begin(), angles.end(), lowerAngle) - angles.begin());
    ball.upperMargin = ringVertex(up, 0);
    ball.lowerMargin = ringVertex(down, kSegments / 2);
    return ball;
}

}  // namespace kelmo::generic_head
