// Morph files of the generic head in the vertex-file format: one block per
// region (count, then x, y, z per vertex, little-endian), each vertex the
// displacement from the closed neutral mesh (a morph model's vertices are read
// as displacements).
#pragma once

#include <string>
#include <vector>

#include "tools/generic_head/generic_head.h"

namespace kelmo::generic_head {

struct MorphDefinition {
    const char *fileName;
    ExpressionParams params;
};

// jaw open, smile, blink, brow raise.
const std::vector<MorphDefinition> &morphDefinitions();

// The bytes of the vertex file whose vertices are `target` - `base`, region by
// region (rounded to float first, so that base + displacement gives target).
std::vector<uint8_t> morphFileBytes(const HeadMesh &base, const HeadMesh &target);

}  // namespace kelmo::generic_head
