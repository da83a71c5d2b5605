// Linear muscle contraction. Single precision throughout, except for two
// places in double precision: the comparison with the strength threshold
// 1e-10 and the sine of the radial fall-off.
#include "deform/muscles.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "model/model_table.h"

namespace kelmo {

namespace {

TVector3f minus(const TVector3f &a, const TVector3f &b) { return TVector3f{a.x - b.x, a.y - b.y, a.z - b.z}; }

float dot(const TVector3f &a, const TVector3f &b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

float length(const TVector3f &v) { return std::sqrt(dot(v, v)); }  // float overload: sqrtf

// The arc cosine of a cosine clamped to [-1, 1] first (a NaN stays NaN).
float clampedAcos(float cosine) { return std::acos(std::clamp(cosine, -1.0f, 1.0f)); }

// The angle between two vectors: the arc cosine of their dot product divided
// by the product of their lengths.
float angleBetween(const TVector3f &a, const TVector3f &b) { return clampedAcos(dot(a, b) / (length(a) * length(b))); }

// The part of `v` off the axis: v - (|v| cos / |u|) u.
// F's and G's parts take their own angle's cosine; every vertex takes thetaF's.
TVector3f offAxis(const TVector3f &v, float vLength, float cosine, const TVector3f &u, float axisLength) {
    const float along = vLength * cosine / axisLength;
    return TVector3f{v.x - along * u.x, v.y - along * u.y, v.z - along * u.z};
}

// `v` divided by its length, or the zero vector (and false) when that is 0.
bool normalise(TVector3f &v) {
    const float vLength = length(v);
    if (vLength == 0.0f) {
        v = TVector3f{0.0f, 0.0f, 0.0f};
        return false;
    }
    v = TVector3f{v.x / vLength, v.y / vLength, v.z / vLength};
    return true;
}

// The radial fall-off's factor: pi / 2 to eight digits, 1.5707963 (a closer
// value would move results).
constexpr double kQuarterTurn = 1.5707963;
constexpr double kStrengthThreshold = 1e-10;
constexpr double kInnerDeadZone = 0.01;

}  // namespace

bool makeMuscleGeometry(const TVector3f &a, const TVector3f &b, const TVector3f &f, const TVector3f &g,
                        float extension, float sharpness, MuscleGeometry &geometry) {
    // The axis and the directions of F and G from A.
    const TVector3f u = minus(b, a);
    const TVector3f toF = minus(f, a);
    const TVector3f toG = minus(g, a);
    const float axisLength = length(u);
    const float lengthF = length(toF);
    const float lengthG = length(toG);
    if (lengthF == 0.0f || lengthG == 0.0f || axisLength == 0.0f) return false;

    // The cone: its half-angles at F and G, its zone from A to E.
    MuscleGeometry made;
    made.attachment = a;
    made.axis = u;
    made.axisLength = axisLength;
    made.sharpness = sharpness;
    made.thetaF = angleBetween(toF, u);
    made.thetaG = angleBetween(toG, u);
    made.cosThetaF = std::cos(made.thetaF);
    const TVector3f end{b.x + extension * u.x, b.y + extension * u.y, b.z + extension * u.z};  // E
    made.zoneEnd = minus(end, a);
    made.innerRadius = length(minus(a, b));
    made.outerRadius = length(minus(a, end));
    // f-perp with F's cosine, g-perp with G's.
    TVector3f perpF = offAxis(toF, lengthF, made.cosThetaF, u, axisLength);
    TVector3f perpG = offAxis(toG, lengthG, std::cos(made.thetaG), u, axisLength);
    const bool definedF = normalise(perpF);
    const bool definedG = normalise(perpG);
    made.directionF = perpF;
    made.angleAroundAxisDefined = definedF && definedG;
    made.phiFG = clampedAcos(dot(perpF, perpG));
    geometry = made;
    return true;
}

TVector3f contractVertex(const MuscleGeometry &geometry, TVector3f vertex, float weight, float strength) {
    if (weight == 0.0f) return vertex;
    // The strength test first: it depends on nothing of the half-angle
    // below, which has no effect of its own. Compared in double precision.
    const float k = weight * strength;
    if (static_cast<double>(k) < kStrengthThreshold) return vertex;

    // rho = |P - A|; outside the zone, or at A itself, nothing moves.
    const TVector3f p = minus(vertex, geometry.attachment);
    const float rho = length(p);
    if (rho > geometry.outerRadius || static_cast<double>(rho) <= kInnerDeadZone) return vertex;

    // The half-angle of the cone in this vertex's direction, interpolated
    // around the axis from F's to G's.
    float theta = geometry.thetaG;
    if (geometry.angleAroundAxisDefined) {
        TVector3f perp = offAxis(p, rho, geometry.cosThetaF, geometry.axis, geometry.axisLength);
        normalise(perp);  // the zero vector when its length is 0
        const float phi = clampedAcos(dot(perp, geometry.directionF));
        if (phi < geometry.phiFG) theta = geometry.thetaF + (geometry.thetaG - geometry.thetaF) * (phi / geometry.phiFG);
    }
    // A cone of half-angle 0 has alpha / theta undefined on its axis (0 / 0)
    // and an angular fall-off of 0 off it: the vertex stays either way.
    if (theta == 0.0f) return vertex;

    // The angular fall-off.
    const float alpha = angleBetween(p, geometry.zoneEnd);
    const float ratio = alpha / theta;
    const float angular = std::exp(-(ratio * ratio) * geometry.sharpness);  // float overload: expf

    // The radial fall-off; t in single precision, the product with
    // 1.5707963 and the sine in double, rounded to single.
    float t;
    if (rho < geometry.innerRadius) {
        t = rho / geometry.innerRadius;
    } else {
        // Equal radii with rho at that distance: (Rf - rho) / (Rf - Rs) is
        // 0 / 0; the fall-off tends to 0 at the outer radius, so the vertex stays.
        if (geometry.outerRadius == geometry.innerRadius) return vertex;
        t = (geometry.outerRadius - rho) / (geometry.outerRadius - geometry.innerRadius);
    }
    const auto radial = static_cast<float>(std::sin(static_cast<double>(t) * kQuarterTurn));

    // s = a K fall-off / rho, then x and y move, z stays.
    const float s = angular * k * radial / rho;
    if (!std::isfinite(s)) return vertex;
    vertex.x = vertex.x - s * (vertex.x - geometry.attachment.x);
    vertex.y = vertex.y - s * (vertex.y - geometry.attachment.y);
    return vertex;
}

void contractRegions(std::vector<TRegion> &regions, const MuscleGeometry &geometry, float strength,
                     const float *weights, int32_t regionCount) {
    if (regionCount <= 0) return;
    // A count above the model's is clamped.
    const std::size_t count = std::min(regions.size(), static_cast<std::size_t>(regionCount));
    for (std::size_t r = 0; r < count; ++r) {
        std::vector<TVector3f> &vertices = regions[r].vertices;
        for (std::size_t j = 0; j < vertices.size(); ++j) {
            const float weight = weights != nullptr ? weights[j] : 1.0f;
            vertices[j] = contractVertex(geometry, vertices[j], weight, strength);
        }
    }
}

}  // namespace kelmo

extern "C" int32_t TAVO_LinearMuscleContraction(int32_t handle, const TVector3f *attachment, const TVector3f *insertion,
                                                const TVector3f *boundF, const TVector3f *boundG, float extension,
                                                float strength, float sharpness, const float *weights,
                                                int32_t regionCount) {
    kelmo::TModel *model = kelmo::resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    if (attachment == nullptr || insertion == nullptr || boundF == nullptr || boundG == nullptr)
        return TAVO_ERR_GENERAL;
    // The four points are copied on entry: they may point into the model's
    // own vertices, which move below.
    const TVector3f a = *attachment;
    const TVector3f b = *insertion;
    const TVector3f f = *boundF;
    const TVector3f g = *boundG;
    kelmo::MuscleGeometry geometry;
    if (!kelmo::makeMuscleGeometry(a, b, f, g, extension, sharpness, geometry)) return TAVO_ERR_GENERAL;
    // In place; nothing allocates, so nothing can stop it half way.
    kelmo::contractRegions(model->regions, geometry, strength, weights, regionCount);
    return TAVO_OK;
}
