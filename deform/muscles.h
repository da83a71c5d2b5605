// Linear muscle contraction: TAVO_LinearMuscleContraction
// (include/kelmo.h) pulls the vertices inside a muscle's cone of influence
// toward its attachment point, in planes of constant z.
#pragma once

#include <cstdint>
#include <vector>

#include "kelmo.h"
#include "model/model.h"

namespace kelmo {

// The quantities of a muscle that are fixed for one call.
struct MuscleGeometry {
    TVector3f attachment{};  // A
    TVector3f axis{};        // u = B - A
    float axisLength = 0;    // |u|
    float cosThetaF = 0;     // cos of thetaF, reused for every vertex's p-perp
    float thetaF = 0;        // half-angle of the cone in F's direction
    float thetaG = 0;        // half-angle in G's direction
    TVector3f zoneEnd{};     // E - A, the direction against which alpha is measured
    float innerRadius = 0;   // Rs = |A - B|
    float outerRadius = 0;   // Rf = |A - E|
    TVector3f directionF{};  // unit f-perp
    float phiFG = 0;         // angle around the axis from F's direction to G's
    // False when f-perp or g-perp has length 0 (F or G on the axis): the
    // angle around the axis is then undefined and every vertex takes thetaG,
    // which is what the plain arithmetic gives once its NaN fails every
    // comparison.
    bool angleAroundAxisDefined = true;
    float sharpness = 0;
};

// The muscle's geometry from its four points: false when |F - A|, |G - A| or
// |u| is 0
// (tested in that order), the degenerate muscle.
bool makeMuscleGeometry(const TVector3f &a, const TVector3f &b, const TVector3f &f, const TVector3f &g,
                        float extension, float sharpness, MuscleGeometry &geometry);

// One vertex with its weight w: the vertex as it ends. Vertices outside the
// zone, with a weight of 0 or a strength K below 1e-10 stay. So do these,
// rather than become NaN: a half-angle theta of 0, equal inner and outer radii
// with the vertex at that distance, and any other input for which the pull s
// is not finite.
TVector3f contractVertex(const MuscleGeometry &geometry, TVector3f vertex, float weight, float strength);

// contractVertex over regions 0 to regionCount - 1 (clamped to the model's
// region count; nothing for 0 or less), in place. `weights` (may be null)
// needs an entry for every vertex index of the largest processed region.
void contractRegions(std::vector<TRegion> &regions, const MuscleGeometry &geometry, float strength,
                     const float *weights, int32_t regionCount);

}  // namespace kelmo
