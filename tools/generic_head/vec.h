// Small double-precision vector and shaping helpers of the generic-head
// generator. The generator authors in double precision and rounds to the
// face format's 32-bit floats only when it writes; every function here is
// deterministic (no randomness, no platform-dependent library calls beyond
// the correctly rounded basics).
#pragma once

#include <algorithm>
#include <cmath>

namespace kelmo::generic_head {

struct Vec3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(Vec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline Vec3 operator*(double s, Vec3 a) { return a * s; }
inline Vec3 &operator+=(Vec3 &a, Vec3 b) { return a = a + b; }
inline double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline double length(Vec3 a) { return std::sqrt(dot(a, a)); }
inline Vec3 normalized(Vec3 a) {
    const double l = length(a);
    return l > 0.0 ? a * (1.0 / l) : Vec3{0.0, 0.0, 0.0};
}
inline Vec3 lerp(Vec3 a, Vec3 b, double t) { return a + (b - a) * t; }

inline double lerp(double a, double b, double t) { return a + (b - a) * t; }
inline double clamp01(double t) { return std::clamp(t, 0.0, 1.0); }

// 0 below edge0, 1 above edge1, the cubic Hermite ramp between (edge0 may be
// greater than edge1 for a falling ramp).
inline double smoothstep(double edge0, double edge1, double x) {
    const double t = clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3.0 - 2.0 * t);
}

// A smooth bump of height 1 at the centre, exactly 0 from distance 1 on (a
// compact support keeps features from leaking over the whole head).
inline double bump(double distance) {
    if (distance >= 1.0) return 0.0;
    const double t = 1.0 - distance * distance;
    return t * t * t;
}

// Elliptic distance of (x, y) from (cx, cy) with radii (rx, ry).
inline double ellipticDistance(double x, double y, double cx, double cy, double rx, double ry) {
    const double dx = (x - cx) / rx;
    const double dy = (y - cy) / ry;
    return std::sqrt(dx * dx + dy * dy);
}

// Smooth maximum of a and b with blending width k (polynomial smooth max).
inline double smoothMax(double a, double b, double k) {
    const double h = clamp01(0.5 + 0.5 * (a - b) / k);
    return lerp(b, a, h) + k * h * (1.0 - h);
}

// Uniform Catmull-Rom interpolation between p1 and p2 at t in [0, 1].
inline double catmullRom(double p0, double p1, double p2, double p3, double t) {
    const double t2 = t * t;
    const double t3 = t2 * t;
    return 0.5 * ((2.0 * p1) + (-p0 + p2) * t + (2.0 * p0 - 5.0 * p1 + 4.0 * p2 - p3) * t2 +
                  (-p0 + 3.0 * p1 - 3.0 * p2 + p3) * t3);
}
inline Vec3 catmullRom(Vec3 p0, Vec3 p1, Vec3 p2, Vec3 p3, double t) {
    return {catmullRom(p0.x, p1.x, p2.x, p3.x, t), catmullRom(p0.y, p1.y, p2.y, p3.y, t),
            catmullRom(p0.z, p1.z, p2.z, p3.z, t)};
}

}  // namespace kelmo::generic_head
