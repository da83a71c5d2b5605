// What the model exporters (OBJ, glTF) read of a model: the regions they
// write, each region's vertices, per-vertex texture coordinates and faces,
// and the images the regions are drawn with.
//
// Regions 0 to 5 (head, the two eyes, upper and lower teeth, the mouth's
// inside) are exported. Every vertex gets the texture coordinate that
// rendering gives it (the last quad that names it, read with
// TAVO_GetModelRegionTextureCoords), so a viewer shows the head as
// `kelmo render` does. A quad with a repeated corner (the fans of the sock and
// the mouth cavity) is a triangle, and one with fewer than three distinct
// corners, or a corner outside its region, is left out. Region 6 (unused),
// region 7 (the mouth cavity, which the renderer rebuilds from the lips before
// every frame and uses for depth only) and region 8 (six loose eye points, no
// quads) are not exported.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/kelmo/session.h"

namespace kelmo::cli {

// The regions that the exporters write, with the names they give them.
struct ExportedRegion {
    int region;
    const char *name;
};
const ExportedRegion *exportedRegions(int *count);

struct RegionFace {
    std::array<int32_t, 4> corners{};  // indices into the region's vertices
    int count = 0;                     // 3 or 4 distinct corners, in the quad's order
};

struct RegionMesh {
    int region = 0;
    const char *name = "";
    std::vector<TVector3f> vertices;  // model units
    std::vector<float> uv;            // (u, v) per vertex; v grows upwards
    std::vector<RegionFace> faces;
};

// The exported regions of the model that hold vertices and quads, in region
// order. Throws CliError when the model cannot be read.
std::vector<RegionMesh> readExportedRegions(int32_t model);

// The images the exported regions are drawn with (TAVO_GetModelRegionTexture),
// each once, under the file name the OBJ export gives it: "texture.png" (the
// model's texture with its alpha mask; head, eyes, and the teeth unless
// genericTeeth), "mouth.png" (the sock), "teeth_upper.png" and
// "teeth_lower.png" (the shared teeth images, with genericTeeth). An image
// the data directory lacks is left out.
struct RegionTextures {
    struct Entry {
        std::string file;
        Image image;
    };
    std::vector<Entry> images;  // "texture.png" first
    // The entry a region is drawn with, or -1 when that image is missing.
    int indexOf(int region) const;
    bool genericTeeth = false;
};
RegionTextures readRegionTextures(int32_t model, bool genericTeeth);

}  // namespace kelmo::cli
