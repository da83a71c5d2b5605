// Wavefront OBJ export (see obj_export.h).
#include "tools/kelmo/obj_export.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "tools/kelmo/cli.h"

namespace kelmo::cli {

namespace fs = std::filesystem;

namespace {
const ExportedRegion kRegions[] = {
    {0, "head"}, {1, "right_eye"}, {2, "left_eye"}, {3, "upper_teeth"}, {4, "lower_teeth"}, {5, "mouth"},
};

// "%.9g" writes every float so that it reads back to the same float.
void appendFloat(std::string &s, float v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.9g", static_cast<double>(v));
    s += buffer;
}
}  // namespace

const ExportedRegion *exportedRegions(int *count) {
    *count = static_cast<int>(std::size(kRegions));
    return kRegions;
}

ObjSummary exportObj(const Model &model, bool genericTeeth, const std::string &folder, OutputSet &out) {
    const int32_t h = model.handle();
    int32_t regionCount = 0;
    check(TAVO_GetModelNumRegions(h, &regionCount), "cannot read the model");

    // Textures: the one each region is drawn with (TAVO_GetModelRegionTexture).
    auto textureOf = [&](int region) -> std::string {
        if (region <= 2) return "texture.png";
        if (region == 5) return "mouth.png";
        if (!genericTeeth) return "texture.png";
        return region == 3 ? "teeth_upper.png" : "teeth_lower.png";
    };
    {
        Image texture;
        check(TAVO_GetModelTexture(h, texture.handle()), "cannot read the model's texture");
        out.saveImage(texture, (fs::path(folder) / "texture.png").string());
    }
    std::vector<std::string> written = {"texture.png"};
    for (int region : {5, 3, 4}) {
        if (region >= regionCount || (region != 5 && !genericTeeth)) continue;
        Image image;
        const int32_t status = TAVO_GetModelRegionTexture(h, region, image.handle());
        if (status != 0 || image.width() == 0) continue;  // a data directory without that image
        out.saveImage(image, (fs::path(folder) / textureOf(region)).string());
        written.push_back(textureOf(region));
    }

    std::string obj = "# Kelmo head model, written by `kelmo create`.\n"
                      "# Model units; y up, the face looks toward +z. Materials in model.mtl.\n"
                      "mtllib model.mtl\n";
    std::string mtl = "# Materials of model.obj: one per region, each with the texture that\n"
                      "# kelmo's renderer draws the region with.\n";
    ObjSummary summary;
    int vertexBase = 0;
    for (const ExportedRegion &r : kRegions) {
        if (r.region >= regionCount) continue;
        int32_t n = 0, quadCount = 0;
        check(TAVO_GetModelNumVertices(h, r.region, &n), "cannot read the model");
        check(TAVO_GetModelRegionNumQuads(h, r.region, &quadCount), "cannot read the model");
        if (n == 0 || quadCount == 0) continue;
        std::vector<TVector3f> vertices(static_cast<std::size_t>(n));
        std::vector<float> uv(2 * static_cast<std::size_t>(n));
        std::vector<int32_t> quads(4 * static_cast<std::size_t>(quadCount));
        check(TAVO_GetModelRegionVertices(h, r.region, vertices.data()), "cannot read the model");
        check(TAVO_GetModelRegionTextureCoords(h, r.region, uv.data()), "cannot read the texture coordinates");
        check(TAVO_GetModelRegionQuads(h, r.region, quads.data()), "cannot read the model");

        const std::string material = "region" + std::to_string(r.region) + "_" + r.name;
        mtl += "\nnewmtl " + material + "\nKa 1 1 1\nKd 1 1 1\nKs 0 0 0\nillum 1\n";
        if (std::find(written.begin(), written.end(), textureOf(r.region)) != written.end())
            mtl += "map_Kd " + textureOf(r.region) + "\n";
        obj += "\no " + std::string(r.name) + "\nusemtl " + material + "\n";
        for (const TVector3f &v : vertices) {
            obj += "v ";
            appendFloat(obj, v.x), obj += ' ';
            appendFloat(obj, v.y), obj += ' ';
            appendFloat(obj, v.z), obj += '\n';
        }
        // Texture v grows upwards in both the model and OBJ.
        for (int32_t k = 0; k < n; ++k) {
            obj += "vt ";
            appendFloat(obj, uv[2 * static_cast<std::size_t>(k)]), obj += ' ';
            appendFloat(obj, uv[2 * static_cast<std::size_t>(k) + 1]), obj += '\n';
        }
        for (int32_t q = 0; q < quadCount; ++q) {
            std::array<int32_t, 4> corners{};
            int distinct = 0;
            bool valid = true;
            for (int c = 0; c < 4; ++c) {
                const int32_t index = quads[4 * static_cast<std::size_t>(q) + static_cast<std::size_t>(c)];
                if (index < 0 || index >= n) valid = false;
                bool repeated = false;
                for (int d = 0; d < distinct; ++d) repeated = repeated || corners[static_cast<std::size_t>(d)] == index;
                if (!repeated) corners[static_cast<std::size_t>(distinct++)] = index;
            }
            if (!valid || distinct < 3) continue;
            obj += 'f';
            for (int c = 0; c < distinct; ++c) {
                const std::string i = std::to_string(vertexBase + corners[static_cast<std::size_t>(c)] + 1);
                obj += ' ' + i + '/' + i;
            }
            obj += '\n';
            ++summary.faces;
        }
        vertexBase += n;
        summary.vertices += n;
        ++summary.regions;
    }
    out.writeText((fs::path(folder) / "model.obj").string(), obj);
    out.writeText((fs::path(folder) / "model.mtl").string(), mtl);
    return summary;
}

}  // namespace kelmo::cli
