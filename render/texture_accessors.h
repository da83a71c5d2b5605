// Texture accessors: the model's texture, the texture of each region, the
// per-vertex texture coordinates and the face grid. The exported functions
// are declared in include/kelmo.h; this header gives the two pieces that
// rendering (render/model_renderer) shares with them, so that a host reads
// exactly the coordinates and textures the renderer draws with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kelmo.h"
#include "model/model.h"

namespace kelmo {

// True when quad `quadIndex` of the region can be used: its four corners name
// existing vertices and its texture quad exists with four corners naming
// existing texture coordinates. The readers keep this an invariant
// (model/model.h), but vertex lists can be set freely; a quad that breaks it
// is ignored by the table below and by rendering (docs/design.md).
inline bool isUsableQuad(const TRegion &region, std::size_t quadIndex) {
    if (quadIndex >= region.quads.size() || quadIndex >= region.textureQuads.size()) return false;
    const Quad &corners = region.quads[quadIndex];
    const Quad &textureCorners = region.textureQuads[quadIndex];
    const std::size_t vertexCount = region.vertices.size();
    const std::size_t coordinateCount = region.textureCoords.size();
    // Non-short-circuit tests: one flag, no branch per corner.
    bool usable = true;
    for (std::size_t k = 0; k < 4; ++k) {
        usable &= corners[k] >= 0 && static_cast<std::size_t>(corners[k]) < vertexCount;
        usable &= textureCorners[k] >= 0 && static_cast<std::size_t>(textureCorners[k]) < coordinateCount;
    }
    return usable;
}

// Per-vertex texture coordinates, as rendering uses them: one (u, v) per
// vertex, (0, 0) at first; for each usable quad in
// order and each corner k from 0 to 3, the vertex named by corner k takes the
// texture coordinate named by corner k of the texture quad. The last quad
// that names a vertex wins. May throw std::bad_alloc.
std::vector<TPointf> vertexTextureTable(const TRegion &region);

// The texture that rendering uses for regions 0 to 5 and that
// TAVO_GetModelRegionTexture copies out: `texture` for 0, 1,
// 2; for 3 and 4 `texture` when teethFromModelTexture is 1, else the upper-
// (3) or lower-teeth image (4); `sockImage` for 5. Returns false for any other
// region (no texture).
bool regionTextureImage(const TModel &model, int32_t region, ImageHandle &image);

}  // namespace kelmo
