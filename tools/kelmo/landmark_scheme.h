// The 66-point scheme of docs/landmarks.md: how each of the 66 feature points
// of creation from a photo is computed from the 68 points of the iBUG 300-W scheme that
// dlib's shape predictor returns, and the role each plays.
#pragma once

#include <array>
#include <vector>

#include "tools/kelmo/points_file.h"

namespace kelmo::cli {

inline constexpr int kIbugPointCount = 68;
using IbugPoints = std::array<PointI, kIbugPointCount>;

// Role of a feature point in creation from a photo (which points drive the
// fit), used to colour drawn points as docs/landmarks.md does.
enum class LandmarkRole {
    kEyeball,   // 0, 1, 29, 30, 33, 34: on regions 1 and 2, alignment only
    kExcluded,  // 2, 22, 43, 44: excluded from the control points
    kControl,   // the 56 control points of the deformation
};

// The iBUG points whose mean gives feature point `index` (one point for most).
const std::vector<int> &ibugSources(int index);

LandmarkRole landmarkRole(int index);

// The 66 feature points from dlib's 68: each the mean of its iBUG sources,
// rounded to the nearest pixel (halves away from zero), as docs/landmarks.md
// prescribes.
FeaturePoints mapIbugToFeaturePoints(const IbugPoints &ibug);

}  // namespace kelmo::cli
