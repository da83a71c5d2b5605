// Muscle files of `kelmo render --muscle`: one straight muscle
// (TAVO_LinearMuscleContraction) as text, one "key value" line each:
//
//   # zygomatic major, right side: pulls the mouth corner up and out
//   attachment feature 36  -0.2 -0.9 0   # A, fixed: feature point 36 moved by (dx, dy, dz)
//   insertion  feature 3                 # B: the right mouth corner
//   bound1     feature 36  -0.6 -0.9 0   # F and G bound the cone around A-B
//   bound2     feature 36   0.2 -0.9 0
//   extension  0.3                       # the cone reaches B + extension x (B - A)
//   strength   0.25                      # the pull at |B - A|, in model units
//   sharpness  1                         # angular fall-off
//   regions    3                         # regions 0 .. regions-1 move
//
// A point is "x y z" in model units, or "feature N" (a feature point of the
// model, TAVO_GetModel3DPoints, N from 0 to 65) with an optional offset
// "dx dy dz". attachment, insertion, bound1, bound2 and strength are
// required; extension defaults to 0.5, sharpness to 1, regions to 3.
// '#' starts a comment.
#pragma once

#include <array>
#include <string>

#include "kelmo.h"

namespace kelmo::cli {

struct MusclePoint {
    int feature = -1;  // -1: absolute point in `offset`
    TVector3f offset{0.0f, 0.0f, 0.0f};
};

struct MuscleDefinition {
    MusclePoint attachment, insertion, bound1, bound2;
    float extension = 0.5f;
    float strength = 0.0f;
    float sharpness = 1.0f;
    int regions = 3;
};

// Throws CliError naming the file, the line and the problem.
MuscleDefinition parseMuscle(const std::string &text, const std::string &name);
MuscleDefinition readMuscleFile(const std::string &path);

// The model-space point: a feature point of the model plus the offset, or the
// offset itself.
TVector3f resolve(const MusclePoint &point, const std::array<TVector3f, 66> &featurePoints);

}  // namespace kelmo::cli
