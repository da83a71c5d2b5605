// Export of a model as Wavefront OBJ with its MTL materials and textures.
//
// Regions 0 to 5 (head, the two eyes, upper and lower teeth, the mouth's
// inside) each become one object with its own material; every vertex gets the
// texture coordinate that rendering gives it (the last quad that names it,
// read with TAVO_GetModelRegionTextureCoords), so an
// OBJ viewer shows the head as `kelmo render` does. Quads stay quads; a quad
// with a repeated corner (the fans of the sock and the mouth cavity) becomes
// a triangle, and one
// with fewer than three distinct corners is left out. Region 6 (unused),
// region 7 (the mouth cavity, which the renderer rebuilds from the lips before
// every frame and uses for depth only) and region 8 (six loose eye points,
// no quads) are not exported.
#pragma once

#include <string>

#include "tools/kelmo/atomic_file.h"
#include "tools/kelmo/session.h"

namespace kelmo::cli {

struct ObjSummary {
    int vertices = 0;
    int faces = 0;
    int regions = 0;
};

// Stages folder/model.obj, folder/model.mtl, folder/texture.png (the model's
// texture with its alpha), folder/mouth.png (the head-sock image) and, when
// the teeth are drawn with the shared images, folder/teeth_upper.png and
// folder/teeth_lower.png, in `out` (committed by the caller).
ObjSummary exportObj(const Model &model, bool genericTeeth, const std::string &folder, OutputSet &out);

// The regions that exportObj writes, with the object names it gives them.
struct ExportedRegion {
    int region;
    const char *name;
};
const ExportedRegion *exportedRegions(int *count);

}  // namespace kelmo::cli
