// Export of a model as Wavefront OBJ with its MTL materials and textures.
//
// The exported regions (model_mesh.h) each become one object with its own
// material; quads stay quads and a quad with a repeated corner becomes a
// triangle.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/kelmo/atomic_file.h"
#include "tools/kelmo/session.h"

namespace kelmo::cli {

struct ObjSummary {
    int vertices = 0;
    int faces = 0;
    int regions = 0;
    // The PNG files written for textures with an alpha channel, by file name
    // ("texture.png"): the glTF export embeds them as they are rather than
    // encode the same pixels again.
    std::map<std::string, std::vector<uint8_t>> rgbaPngs;
};

// Stages folder/model.obj, folder/model.mtl, folder/texture.png (the model's
// texture with its alpha), folder/mouth.png (the head-sock image) and, when
// the teeth are drawn with the shared images, folder/teeth_upper.png and
// folder/teeth_lower.png, in `out` (committed by the caller).
ObjSummary exportObj(const Model &model, bool genericTeeth, const std::string &folder, OutputSet &out);

}  // namespace kelmo::cli
