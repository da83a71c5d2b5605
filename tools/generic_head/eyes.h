// Regions 1 and 2 of the generic head: the eyeballs (feature points
// 0, 29, 30 lie on region 1, the eyeball at -x; 1, 33, 34 on region 2).
#pragma once

#include "tools/generic_head/mesh.h"

namespace kelmo::generic_head {

struct Eyeball {
    RegionMesh mesh;      // centimetres
    int frontPole = 0;    // the centre of the pupil: feature point 0 or 1
    int upperMargin = 0;  // where the upper lid margin crosses the ball's vertical midline (29 or 33)
    int lowerMargin = 0;  // where the lower lid margin does (30 or 34)
};

// A sphere of quads around `centre` whose front pole looks toward +z; its
// vertices include the two points of the vertical midline that lie
// `upperRise` above and `lowerDrop` below the centre in the front projection.
Eyeball buildEyeball(Vec3 centre, double radius, double upperRise, double lowerDrop);

}  // namespace kelmo::generic_head
