// Export of a model as glTF 2.0 (binary .glb, or .gltf text with its data
// embedded), with the generic head's morphs as blend shapes fitted to this
// head.
//
// Frame: glTF's, metres with +Y up and the face looking down +Z. The model's
// own frame already has y up and the face toward +z, right-handed (the
// subject's right eye at negative x), so the conversion is a uniform scale of
// kMetresPerModelUnit; the origin stays the model's, near the middle of the
// head, which suits orbiting it.
//
// Content: one mesh per exported region (model_mesh.h: head, eyes, teeth,
// mouth), each one triangle primitive with POSITION, NORMAL (area-weighted
// vertex normals), TEXCOORD_0 (the renderer's coordinates with v flipped,
// glTF's v grows downwards) and indices; one node per mesh under a root node
// "kelmo_head". Every material is unlit (KHR_materials_unlit, with an
// equivalent rough, non-metallic fallback): the textures are photographs that
// carry their own shading. The face texture is embedded as PNG with its alpha
// mask, and the head cuts along it (alphaMode MASK); the shared teeth images
// cut along theirs; the eyes, the photo's teeth and the mouth are opaque. The
// head is one-sided and keeps only its triangles that face the front (the
// texture is projected from the front), the other parts are double-sided. The
// mouth's inside is set back behind the lips (see gltf_export.cpp).
//
// Morph targets: every vertex file of dataDirectory/morphs/ (sorted by name)
// is converted to this head (TAVO_AdjustModelDeformation) and applied to a
// copy of the model at weight 0, then 1; the change of every vertex between
// the two is a POSITION target on each mesh it moves, named in
// mesh.extras.targetNames, with default weight 0. Applying a morph pins the
// mouth's inside to the lips, so the inside follows the lips in the targets
// as it does in renders; the small move that pinning makes at weight 0 is
// left out, so that weight 0 is the model as created.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kelmo::cli {

// One model unit in metres: the generic head's eye centres lie 1.85 units
// apart, an adult's 63 mm.
inline constexpr float kMetresPerModelUnit = 0.034f;

struct GltfOptions {
    bool binary = true;         // .glb; false: .gltf JSON with the buffer as a base64 data URI
    bool genericTeeth = false;  // the model draws its teeth with the shared teeth images
    bool morphs = true;         // morph targets from the data directory's morphs/*.vtx
    // PNG files of RGBA textures already encoded, by file name
    // ("texture.png"), embedded as they are; null or missing: encoded here.
    const std::map<std::string, std::vector<uint8_t>> *encodedTextures = nullptr;
};

// The zlib level (0 to 9, -1: zlib's default) of the PNG textures that glTF
// files embed from now on, for the whole process: the same pixels at every
// level; batch workers write at a fast level, as they do picture files
// (TAVO_SetPngCompressionLevel).
void setEmbeddedPngCompressionLevel(int level);

struct GltfSummary {
    int meshes = 0;
    int vertices = 0;
    int triangles = 0;
    std::vector<std::string> morphNames;  // the morph targets, in file-name order
    std::size_t bytes = 0;                // size of the encoded file
};

// The model `model` (a handle of a model created from a photo, in a library
// initialised with dataDirectory; dataDirectory names the folder that holds
// morphs/, with or without a trailing separator) encoded as a glTF file.
// The model is only read (its morphs are applied to a copy). Throws
// std::runtime_error (kelmo::cli::CliError) with a readable message when the
// model cannot be read, a morph does not fit it, or encoding fails; the
// library's state is then as before.
std::vector<uint8_t> encodeGltf(int32_t model, const std::string &dataDirectory, const GltfOptions &options,
                                GltfSummary *summary = nullptr);

// encodeGltf written to `path` through a temporary file in its folder that is
// renamed only when complete, so `path` never holds a partial file. Throws
// as encodeGltf, or when the file cannot be written.
GltfSummary writeGltf(int32_t model, const std::string &dataDirectory, const GltfOptions &options,
                      const std::string &path);

}  // namespace kelmo::cli
