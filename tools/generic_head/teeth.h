// Regions 3 and 4 of the generic head: the upper and the lower teeth, curved
// strips along the dental arch with texture coordinates into the two teeth
// images "wrl\Head_teethUpper.png" and "wrl\Head_teethLower.png".
#pragma once

#include "tools/generic_head/images.h"
#include "tools/generic_head/mesh.h"

namespace kelmo::generic_head {

// In centimetres, where the teeth should be seen in the closed neutral face:
// after creation from a photo has placed them (placeTeeth). The generator
// stores them with placeTeeth's fixed moves undone (see placeTeethInverse).
RegionMesh buildUpperTeethCm();
RegionMesh buildLowerTeethCm();

// The teeth images: opaque teeth and gums, transparent gaps between the
// teeth; texture v grows upwards (the gums of the upper teeth at the top).
RgbaImage makeUpperTeethImage();
RgbaImage makeLowerTeethImage();

// The inverse of placeTeeth's lift and shrink for a closed neutral face: the
// stored teeth that placeTeeth moves to `upper` and `lower` (model units).
void placeTeethInverse(RegionMesh &upper, RegionMesh &lower);

}  // namespace kelmo::generic_head
