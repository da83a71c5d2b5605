// What the model exporters read of a model (see model_mesh.h).
#include "tools/kelmo/model_mesh.h"

#include <iterator>

#include "tools/kelmo/cli.h"

namespace kelmo::cli {

namespace {
const ExportedRegion kRegions[] = {
    {0, "head"}, {1, "right_eye"}, {2, "left_eye"}, {3, "upper_teeth"}, {4, "lower_teeth"}, {5, "mouth"},
};

// The file name of the image a region is drawn with.
std::string textureFileOf(int region, bool genericTeeth) {
    if (region <= 2) return "texture.png";
    if (region == 5) return "mouth.png";
    if (!genericTeeth) return "texture.png";
    return region == 3 ? "teeth_upper.png" : "teeth_lower.png";
}
}  // namespace

const ExportedRegion *exportedRegions(int *count) {
    *count = static_cast<int>(std::size(kRegions));
    return kRegions;
}

std::vector<RegionMesh> readExportedRegions(int32_t h) {
    int32_t regionCount = 0;
    check(TAVO_GetModelNumRegions(h, &regionCount), "cannot read the model");
    std::vector<RegionMesh> meshes;
    for (const ExportedRegion &r : kRegions) {
        if (r.region >= regionCount) continue;
        int32_t n = 0, quadCount = 0;
        check(TAVO_GetModelNumVertices(h, r.region, &n), "cannot read the model");
        check(TAVO_GetModelRegionNumQuads(h, r.region, &quadCount), "cannot read the model");
        if (n == 0 || quadCount == 0) continue;
        RegionMesh mesh;
        mesh.region = r.region;
        mesh.name = r.name;
        mesh.vertices.resize(static_cast<std::size_t>(n));
        mesh.uv.resize(2 * static_cast<std::size_t>(n));
        std::vector<int32_t> quads(4 * static_cast<std::size_t>(quadCount));
        check(TAVO_GetModelRegionVertices(h, r.region, mesh.vertices.data()), "cannot read the model");
        check(TAVO_GetModelRegionTextureCoords(h, r.region, mesh.uv.data()), "cannot read the texture coordinates");
        check(TAVO_GetModelRegionQuads(h, r.region, quads.data()), "cannot read the model");
        for (int32_t q = 0; q < quadCount; ++q) {
            RegionFace face;
            bool valid = true;
            for (std::size_t c = 0; c < 4; ++c) {
                const int32_t index = quads[4 * static_cast<std::size_t>(q) + c];
                if (index < 0 || index >= n) valid = false;
                bool repeated = false;
                for (int d = 0; d < face.count; ++d) repeated = repeated || face.corners[static_cast<std::size_t>(d)] == index;
                if (!repeated) face.corners[static_cast<std::size_t>(face.count++)] = index;
            }
            if (valid && face.count >= 3) mesh.faces.push_back(face);
        }
        meshes.push_back(std::move(mesh));
    }
    return meshes;
}

int RegionTextures::indexOf(int region) const {
    const std::string file = textureFileOf(region, genericTeeth);
    for (std::size_t k = 0; k < images.size(); ++k)
        if (images[k].file == file) return static_cast<int>(k);
    return -1;
}

RegionTextures readRegionTextures(int32_t h, bool genericTeeth) {
    RegionTextures textures;
    textures.genericTeeth = genericTeeth;
    int32_t regionCount = 0;
    check(TAVO_GetModelNumRegions(h, &regionCount), "cannot read the model");
    {
        Image texture;
        check(TAVO_GetModelTexture(h, texture.handle()), "cannot read the model's texture");
        textures.images.push_back({"texture.png", std::move(texture)});
    }
    for (int region : {5, 3, 4}) {
        if (region >= regionCount || (region != 5 && !genericTeeth)) continue;
        Image image;
        const int32_t status = TAVO_GetModelRegionTexture(h, region, image.handle());
        if (status != 0 || image.width() == 0) continue;  // a data directory without that image
        textures.images.push_back({textureFileOf(region, genericTeeth), std::move(image)});
    }
    return textures;
}

}  // namespace kelmo::cli
