// The whole generic head: the five regions of the four expression meshes in
// model units and final vertex numbering, with the tables that tie it to the
// library (landmarks, lip ring, sock ring).
#pragma once

#include <array>
#include <vector>

#include "tools/generic_head/eyes.h"
#include "tools/generic_head/head_surface.h"
#include "tools/generic_head/landmarks.h"
#include "tools/generic_head/mesh.h"

namespace kelmo::generic_head {

struct GenericHead {
    std::array<HeadMesh, kExpressionCount> expressions;  // model units; region 0 renumbered
    std::array<int, kLandmarkCount> landmarkVertex{};    // "grd66.txt": index in the landmark's region
    std::vector<int> lipRing;                            // "list7.txt": 38 region-0 indices
    std::array<int, 8> sockRing{};                       // 718, 2775, 228, 1829, 441, 2038, 1130, 2976
    std::vector<double> lipTint;                         // per region-0 vertex, for the pictures
    Renumbering renumbering;                             // of region 0
    std::array<Eyeball, 2> eyeballs;                     // centimetres
};

GenericHead buildGenericHead();

// One mesh of the generic head for any expression parameters (the morphs
// use more than the four expressions), in the numbering of `head`.
HeadMesh buildMesh(const GenericHead &head, const ExpressionParams &params);

}  // namespace kelmo::generic_head
