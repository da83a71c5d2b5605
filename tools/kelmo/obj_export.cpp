// Wavefront OBJ export (see obj_export.h).
#include "tools/kelmo/obj_export.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tools/kelmo/model_mesh.h"

namespace kelmo::cli {

namespace fs = std::filesystem;

namespace {
// Nine significant digits (general form, as "%.9g" prints them) read back to
// the same float. to_chars writes the same text without printf's parsing of
// a format per number (some 30 000 numbers per model).
void appendFloat(std::string &s, float v) {
    char buffer[32];
    const std::to_chars_result r =
        std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(v), std::chars_format::general, 9);
    s.append(buffer, r.ptr);
}
// The bytes of a PNG file of 8-bit RGBA pixels (colour type 6 in its
// header); nothing for any other file or when it cannot be read.
std::vector<uint8_t> readPngIfRgba(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    const bool rgba = !in.bad() && bytes.size() > 26 && std::equal(kSignature, kSignature + 8, bytes.begin()) &&
                      bytes[24] == 8 && bytes[25] == 6;
    return rgba ? bytes : std::vector<uint8_t>{};
}
}  // namespace

ObjSummary exportObj(const Model &model, bool genericTeeth, const std::string &folder, OutputSet &out) {
    const RegionTextures textures = readRegionTextures(model.handle(), genericTeeth);
    ObjSummary summary;
    for (const RegionTextures::Entry &t : textures.images) {
        const std::string staged = out.saveImage(t.image, (fs::path(folder) / t.file).string());
        std::vector<uint8_t> png = readPngIfRgba(staged);
        if (!png.empty()) summary.rgbaPngs[t.file] = std::move(png);
    }

    std::string obj = "# Kelmo head model, written by `kelmo create`.\n"
                      "# Model units; y up, the face looks toward +z. Materials in model.mtl.\n"
                      "mtllib model.mtl\n";
    std::string mtl = "# Materials of model.obj: one per region, each with the texture that\n"
                      "# kelmo's renderer draws the region with.\n";
    int vertexBase = 0;
    for (const RegionMesh &r : readExportedRegions(model.handle())) {
        const std::string material = "region" + std::to_string(r.region) + "_" + r.name;
        mtl += "\nnewmtl " + material + "\nKa 1 1 1\nKd 1 1 1\nKs 0 0 0\nillum 1\n";
        const int texture = textures.indexOf(r.region);
        if (texture >= 0) mtl += "map_Kd " + textures.images[static_cast<std::size_t>(texture)].file + "\n";
        obj += "\no " + std::string(r.name) + "\nusemtl " + material + "\n";
        for (const TVector3f &v : r.vertices) {
            obj += "v ";
            appendFloat(obj, v.x), obj += ' ';
            appendFloat(obj, v.y), obj += ' ';
            appendFloat(obj, v.z), obj += '\n';
        }
        // Texture v grows upwards in both the model and OBJ.
        for (std::size_t k = 0; k < r.vertices.size(); ++k) {
            obj += "vt ";
            appendFloat(obj, r.uv[2 * k]), obj += ' ';
            appendFloat(obj, r.uv[2 * k + 1]), obj += '\n';
        }
        for (const RegionFace &f : r.faces) {
            obj += 'f';
            for (int c = 0; c < f.count; ++c) {
                const std::string i = std::to_string(vertexBase + f.corners[static_cast<std::size_t>(c)] + 1);
                obj += ' ' + i + '/' + i;
            }
            obj += '\n';
        }
        summary.faces += static_cast<int>(r.faces.size());
        vertexBase += static_cast<int>(r.vertices.size());
        summary.vertices += static_cast<int>(r.vertices.size());
        ++summary.regions;
    }
    out.writeText((fs::path(folder) / "model.obj").string(), obj);
    out.writeText((fs::path(folder) / "model.mtl").string(), mtl);
    return summary;
}

}  // namespace kelmo::cli
