// The 66-point landmark scheme of the generic head (docs/landmarks.md): for
// each feature point index its name, how a host computes it from the 68
// points of the iBUG 300-W scheme (dlib's shape predictor), and which vertex
// of the generic head it is tied to ("grd66.txt").
#pragma once

#include <array>
#include <string>
#include <vector>

#include "tools/generic_head/eyes.h"
#include "tools/generic_head/head_surface.h"
#include "tools/generic_head/mesh.h"

namespace kelmo::generic_head {

inline constexpr int kLandmarkCount = 66;

// Role of a feature point in creation from a photo.
enum class LandmarkRole {
    kEyeball,    // on region 1 or 2; aligns the fit, drives no deformation (0, 1, 29, 30, 33, 34)
    kExcluded,   // on region 0; aligns the fit, drives no deformation (2, 22, 43, 44)
    kControl,    // on region 0; one of the 56 control points of the deformation
};

struct LandmarkDefinition {
    const char *name;
    std::vector<int> ibug;  // the iBUG 300-W points (0..67) whose mean gives the point
    LandmarkRole role;
};

const std::array<LandmarkDefinition, kLandmarkCount> &landmarkScheme();

// Region of a feature point's vertex: 1 for 0, 29, 30; 2 for 1,
// 33, 34; 0 otherwise.
int landmarkRegion(int index);

// The fixed vertex indices of region 0 that the library reads by number (the
// teeth placement, the sock and the mouth cavity, the sock pinning of a
// morph), with the natural-order vertex chosen for each.
struct FixedVertex {
    int fixedIndex;
    int naturalIndex;
    const char *role;
};

// Everything of region 0's numbering that the generator decides from the
// layout: the fixed vertices, the lip ring and the landmark vertices, all in
// natural order.
struct HeadIndexing {
    std::vector<FixedVertex> fixed;
    std::vector<int> lipRing;                 // 38 natural indices in ring order
    std::array<int, 8> sockRing{};            // natural indices of 718, 2775, 228, 1829, 441, 2038, 1130, 2976
    std::array<int, kLandmarkCount> landmarkVertex{};  // natural index in its region
};

// Picks the vertices on the neutral meshes (centimetres, natural order).
HeadIndexing chooseIndexing(const RegionMesh &neutralHeadCm, const std::array<Eyeball, 2> &eyes);

// The renumbering of region 0 that gives every fixed vertex its fixed index:
// finalIndex[natural] and its inverse.
struct Renumbering {
    std::vector<int> finalIndex;
    std::vector<int> naturalIndex;
};
Renumbering makeRenumbering(int vertexCount, const std::vector<FixedVertex> &fixed);

}  // namespace kelmo::generic_head
