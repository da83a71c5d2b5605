// glTF 2.0 export (see gltf_export.h).
#include "tools/kelmo/gltf_export.h"

#include <png.h>
#include <tiny_gltf.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <sstream>

#include "tools/kelmo/atomic_file.h"
#include "tools/kelmo/cli.h"
#include "tools/kelmo/model_mesh.h"
#include "tools/kelmo/model_ops.h"

namespace kelmo::cli {

namespace {

constexpr int kArrayBuffer = 34962;         // vertex attributes
constexpr int kElementArrayBuffer = 34963;  // indices
constexpr const char *kUnlit = "KHR_materials_unlit";

using Vec3 = std::array<float, 3>;

// The mouth's inside (the sock) spans the lips' inner edge, partly in front
// of the lips at the corners. The renderer shows it only through the hole
// that the mouth cavity punches into the face; a glTF viewer draws it by
// depth alone, so it is set back by 0.3 units (about 1 cm), behind the lips,
// where it shows only through the opening of the mouth.
constexpr int kMouthRegion = 5;

// The head's texture is the photo projected from the front onto every
// vertex, so a triangle that faces away from the front (the back and the
// underside of the head) shows the face again, reversed. The renderer never
// shows them from the front: where the mask cuts the near side away, the
// near side still writes depth over them. Viewers that look through a cut
// (a path tracer such as Cycles ignores one-sidedness) showed a second face
// inside the head, so the head keeps only the triangles that face the front:
// a counter-clockwise triangle seen from +z.
constexpr int kHeadRegion = 0;

bool facesTheFront(const std::vector<TVector3f> &v, const std::array<int32_t, 3> &t) {
    const TVector3f &a = v[static_cast<std::size_t>(t[0])], &b = v[static_cast<std::size_t>(t[1])],
                    &c = v[static_cast<std::size_t>(t[2])];
    return (double(b.x) - a.x) * (double(c.y) - a.y) - (double(b.y) - a.y) * (double(c.x) - a.x) > 0.0;
}
constexpr float kMouthSetBack = 0.3f;

Vec3 toGltf(const TVector3f &v) {
    return {v.x * kMetresPerModelUnit, v.y * kMetresPerModelUnit, v.z * kMetresPerModelUnit};
}

// The PNG file of RGBA pixels, in memory. libpng reports errors by longjmp,
// so nothing with a destructor lives between setjmp and the calls that may
// jump; the bytes go to a vector owned by the caller.
int embeddedPngLevel = -1;  // setEmbeddedPngCompressionLevel

void appendPngBytes(png_structp png, png_bytep data, png_size_t length) {
    auto *bytes = static_cast<std::vector<uint8_t> *>(png_get_io_ptr(png));
    bytes->insert(bytes->end(), data, data + length);
}

bool encodeRgbaPng(const uint8_t *rgba, int width, int height, std::vector<uint8_t> *bytes) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, bytes, appendPngBytes, nullptr);
    if (embeddedPngLevel >= 0) png_set_compression_level(png, embeddedPngLevel);
    // As picture files at a fast level: one filter for every row, not the
    // best of five tried on each.
    if (embeddedPngLevel >= 0 && embeddedPngLevel <= 2) png_set_filter(png, 0, PNG_FILTER_SUB);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y)
        png_write_row(png, rgba + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// One buffer holding every array, each view starting on a 4-byte boundary
// (the alignment glTF asks of float and index accessors).
class BufferWriter {
public:
    explicit BufferWriter(tinygltf::Model &gltf) : gltf_(gltf) { gltf_.buffers.resize(1); }

    int view(const void *data, std::size_t bytes, int target) {
        std::vector<unsigned char> &buffer = gltf_.buffers[0].data;
        buffer.resize((buffer.size() + 3) / 4 * 4, 0);
        tinygltf::BufferView v;
        v.buffer = 0;
        v.byteOffset = buffer.size();
        v.byteLength = bytes;
        v.target = target;
        const auto *begin = static_cast<const unsigned char *>(data);
        buffer.insert(buffer.end(), begin, begin + bytes);
        gltf_.bufferViews.push_back(v);
        return static_cast<int>(gltf_.bufferViews.size()) - 1;
    }

    // A float VEC2 or VEC3 accessor; positions carry their bounds.
    template <std::size_t N>
    int floats(const std::vector<std::array<float, N>> &values, bool withBounds) {
        tinygltf::Accessor a;
        a.bufferView = view(values.data(), values.size() * sizeof(values[0]), kArrayBuffer);
        a.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
        a.type = N == 2 ? TINYGLTF_TYPE_VEC2 : TINYGLTF_TYPE_VEC3;
        a.count = values.size();
        if (withBounds) {
            a.minValues.assign(N, HUGE_VAL);
            a.maxValues.assign(N, -HUGE_VAL);
            for (const auto &v : values)
                for (std::size_t c = 0; c < N; ++c) {
                    a.minValues[c] = std::min(a.minValues[c], static_cast<double>(v[c]));
                    a.maxValues[c] = std::max(a.maxValues[c], static_cast<double>(v[c]));
                }
        }
        return push(a);
    }

    // Triangle indices, 16-bit when every vertex index fits.
    int indices(const std::vector<uint32_t> &values, std::size_t vertexCount) {
        tinygltf::Accessor a;
        if (vertexCount <= 65535) {
            const std::vector<uint16_t> narrow(values.begin(), values.end());
            a.bufferView = view(narrow.data(), narrow.size() * 2, kElementArrayBuffer);
            a.componentType = TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT;
        } else {
            a.bufferView = view(values.data(), values.size() * 4, kElementArrayBuffer);
            a.componentType = TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
        }
        a.type = TINYGLTF_TYPE_SCALAR;
        a.count = values.size();
        return push(a);
    }

private:
    int push(const tinygltf::Accessor &a) {
        gltf_.accessors.push_back(a);
        return static_cast<int>(gltf_.accessors.size()) - 1;
    }
    tinygltf::Model &gltf_;
};

// Area-weighted vertex normals of a triangle list; a vertex on no triangle
// of any area faces the viewer (+z).
std::vector<Vec3> vertexNormals(const std::vector<Vec3> &p, const std::vector<uint32_t> &triangles) {
    std::vector<std::array<double, 3>> sum(p.size(), {0.0, 0.0, 0.0});
    for (std::size_t t = 0; t + 2 < triangles.size(); t += 3) {
        const Vec3 &a = p[triangles[t]], &b = p[triangles[t + 1]], &c = p[triangles[t + 2]];
        const double e[2][3] = {{double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]},
                                {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]}};
        const double n[3] = {e[0][1] * e[1][2] - e[0][2] * e[1][1], e[0][2] * e[1][0] - e[0][0] * e[1][2],
                             e[0][0] * e[1][1] - e[0][1] * e[1][0]};
        for (std::size_t k = 0; k < 3; ++k)
            for (std::size_t c2 = 0; c2 < 3; ++c2) sum[triangles[t + k]][c2] += n[c2];
    }
    std::vector<Vec3> normals(p.size(), Vec3{0.0f, 0.0f, 1.0f});
    for (std::size_t i = 0; i < p.size(); ++i) {
        const double length = std::sqrt(sum[i][0] * sum[i][0] + sum[i][1] * sum[i][1] + sum[i][2] * sum[i][2]);
        if (length > 1e-30 && std::isfinite(length))
            normals[i] = {float(sum[i][0] / length), float(sum[i][1] / length), float(sum[i][2] / length)};
    }
    return normals;
}

// The change of every vertex of the exported regions when each morph of the
// data directory is applied at weight 1, in glTF metres: deltas[morph][mesh]
// (empty where the morph moves nothing of that mesh).
struct MorphDeltas {
    std::vector<std::string> names;
    std::vector<std::vector<std::vector<Vec3>>> deltas;
};

MorphDeltas morphDeltas(int32_t model, const std::string &dataDirectory, const std::vector<RegionMesh> &meshes) {
    MorphDeltas result;
    const std::vector<std::string> names = availableMorphs(dataDirectory);
    if (names.empty()) return result;
    const Model copy(false);
    check(TAVO_CopyModel(model, copy.handle()), "cannot copy the model");
    const std::vector<std::vector<TVector3f>> rest = modelVertices(copy.handle());
    for (const std::string &name : names) {
        // Applying a morph also pins the mouth's inside to the lips, which
        // moves it a little even at weight 0; the target is the morph's own
        // motion, from weight 0 to weight 1.
        const ConvertedMorph morph(model, resolveMorph(name, dataDirectory));
        check(TAVO_ApplyMorph(copy.handle(), morph.handle(), 0.0f), "cannot apply the morph " + name);
        const std::vector<std::vector<TVector3f>> pinned = modelVertices(copy.handle());
        check(TAVO_ApplyMorph(copy.handle(), morph.handle(), 1.0f), "cannot apply the morph " + name);
        const std::vector<std::vector<TVector3f>> moved = modelVertices(copy.handle());
        std::vector<std::vector<TVector3f>> restCopy = rest;
        check(TAVO_SetModelVertices(copy.handle(), restCopy), "cannot restore the model");
        std::vector<std::vector<Vec3>> perMesh(meshes.size());
        bool movesAny = false;
        for (std::size_t m = 0; m < meshes.size(); ++m) {
            const auto region = static_cast<std::size_t>(meshes[m].region);
            const std::vector<TVector3f> &before = pinned[region], &after = moved[region];
            std::vector<Vec3> d(before.size());
            bool moves = false;
            for (std::size_t i = 0; i < before.size() && i < after.size(); ++i) {
                // The difference of the converted positions, so that base +
                // delta lands on the morphed vertex as closely as floats allow.
                const Vec3 a = toGltf(after[i]), b = toGltf(before[i]);
                d[i] = {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
                moves = moves || d[i][0] != 0.0f || d[i][1] != 0.0f || d[i][2] != 0.0f;
            }
            if (moves) perMesh[m] = std::move(d);
            movesAny = movesAny || moves;
        }
        if (!movesAny) continue;
        result.names.push_back(name);
        result.deltas.push_back(std::move(perMesh));
    }
    return result;
}

tinygltf::Value stringArray(const std::vector<std::string> &strings) {
    tinygltf::Value::Array values;
    for (const std::string &s : strings) values.emplace_back(s);
    return tinygltf::Value(std::move(values));
}

// The material of a region: the image it is drawn with, cut along the alpha
// of the face texture (head) and of the shared teeth images. A cut (MASK)
// rather than blending: blending sorts nothing within a mesh in real-time
// viewers, so a turned head would show its far side through its near one;
// the cut draws the same everywhere, at the price of the mask's soft edge.
tinygltf::Material regionMaterial(const RegionMesh &mesh, int texture, bool genericTeeth) {
    tinygltf::Material m;
    m.name = "region" + std::to_string(mesh.region) + "_" + mesh.name;
    m.pbrMetallicRoughness.baseColorTexture.index = texture;
    m.pbrMetallicRoughness.metallicFactor = 0.0;
    m.pbrMetallicRoughness.roughnessFactor = 1.0;
    const bool sharedTeeth = genericTeeth && (mesh.region == 3 || mesh.region == 4);
    m.alphaMode = mesh.region == 0 || sharedTeeth ? "MASK" : "OPAQUE";
    m.alphaCutoff = 0.5;
    // The head is one-sided: where its mask cuts the side of the head away,
    // the inside of the far side would show through (the renderer hides it
    // behind the cut-away part, which writes depth there). The small closed
    // or thin parts are drawn from both sides, as the renderer does.
    m.doubleSided = mesh.region != 0;
    m.extensions[kUnlit] = tinygltf::Value(tinygltf::Value::Object());
    return m;
}

}  // namespace

void setEmbeddedPngCompressionLevel(int level) { embeddedPngLevel = level < -1 || level > 9 ? -1 : level; }

std::vector<uint8_t> encodeGltf(int32_t model, const std::string &dataDirectory, const GltfOptions &options,
                                GltfSummary *summary) {
    const std::vector<RegionMesh> meshes = readExportedRegions(model);
    const RegionTextures textures = readRegionTextures(model, options.genericTeeth);
    const MorphDeltas morphs = options.morphs ? morphDeltas(model, dataDirectory, meshes) : MorphDeltas{};

    tinygltf::Model gltf;
    gltf.asset.version = "2.0";
    gltf.asset.generator = "kelmo";
    gltf.extensionsUsed = {kUnlit};
    BufferWriter buffer(gltf);

    tinygltf::Sampler sampler;  // bilinear and clamped at the edges, as the renderer samples
    sampler.magFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
    sampler.minFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
    sampler.wrapS = sampler.wrapT = TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE;
    gltf.samplers.push_back(sampler);
    for (const RegionTextures::Entry &t : textures.images) {
        // The same libpng settings as the picture files: an RGBA texture's
        // file holds the very bytes that encoding it here would give.
        std::vector<uint8_t> png;
        if (options.encodedTextures != nullptr) {
            const auto encoded = options.encodedTextures->find(t.file);
            if (encoded != options.encodedTextures->end()) png = encoded->second;
        }
        if (png.empty()) {
            const std::vector<uint8_t> rgba = t.image.pixels(TAVO_IMAGEMODE_COLOR_ALPHA);
            if (!encodeRgbaPng(rgba.data(), t.image.width(), t.image.height(), &png))
                throw failure("cannot encode " + t.file + " as PNG");
        }
        tinygltf::Image image;
        image.name = t.file.substr(0, t.file.rfind('.'));
        image.mimeType = "image/png";
        image.bufferView = buffer.view(png.data(), png.size(), 0);
        gltf.images.push_back(image);
        tinygltf::Texture texture;
        texture.sampler = 0;
        texture.source = static_cast<int>(gltf.images.size()) - 1;
        gltf.textures.push_back(texture);
    }

    GltfSummary made;
    made.morphNames = morphs.names;
    tinygltf::Node root;
    root.name = "kelmo_head";
    for (std::size_t m = 0; m < meshes.size(); ++m) {
        const RegionMesh &r = meshes[m];
        std::vector<Vec3> positions;
        for (TVector3f v : r.vertices) {
            if (r.region == kMouthRegion) v.z -= kMouthSetBack;
            positions.push_back(toGltf(v));
        }
        std::vector<std::array<float, 2>> uv;
        for (std::size_t k = 0; k < r.vertices.size(); ++k) uv.push_back({r.uv[2 * k], 1.0f - r.uv[2 * k + 1]});
        std::vector<uint32_t> triangles;  // a quad (a, b, c, d) is (a, b, c) and (a, c, d); both wind as it does
        for (const RegionFace &f : r.faces)
            for (int k = 1; k + 1 < f.count; ++k) {
                const std::array<int32_t, 3> t = {f.corners[0], f.corners[static_cast<std::size_t>(k)],
                                                  f.corners[static_cast<std::size_t>(k + 1)]};
                if (r.region == kHeadRegion && !facesTheFront(r.vertices, t)) continue;
                for (int32_t corner : t) triangles.push_back(static_cast<uint32_t>(corner));
            }

        tinygltf::Primitive primitive;
        primitive.mode = TINYGLTF_MODE_TRIANGLES;
        primitive.attributes["POSITION"] = buffer.floats(positions, true);
        primitive.attributes["NORMAL"] = buffer.floats(vertexNormals(positions, triangles), false);
        primitive.attributes["TEXCOORD_0"] = buffer.floats(uv, false);
        primitive.indices = buffer.indices(triangles, positions.size());
        tinygltf::Mesh mesh;
        mesh.name = r.name;
        std::vector<std::string> targetNames;
        for (std::size_t k = 0; k < morphs.names.size(); ++k) {
            if (morphs.deltas[k][m].empty()) continue;
            primitive.targets.push_back({{"POSITION", buffer.floats(morphs.deltas[k][m], true)}});
            targetNames.push_back(morphs.names[k]);
        }
        if (!targetNames.empty()) {
            mesh.weights.assign(targetNames.size(), 0.0);
            mesh.extras = tinygltf::Value(tinygltf::Value::Object{{"targetNames", stringArray(targetNames)}});
        }
        const int texture = textures.indexOf(r.region);
        primitive.material = static_cast<int>(gltf.materials.size());
        gltf.materials.push_back(regionMaterial(r, texture, options.genericTeeth));
        mesh.primitives.push_back(primitive);
        gltf.meshes.push_back(mesh);

        tinygltf::Node node;
        node.name = r.name;
        node.mesh = static_cast<int>(gltf.meshes.size()) - 1;
        gltf.nodes.push_back(node);
        root.children.push_back(static_cast<int>(gltf.nodes.size()) - 1);
        ++made.meshes;
        made.vertices += static_cast<int>(positions.size());
        made.triangles += static_cast<int>(triangles.size() / 3);
    }
    gltf.nodes.push_back(root);
    tinygltf::Scene scene;
    scene.name = "kelmo";
    scene.nodes = {static_cast<int>(gltf.nodes.size()) - 1};
    gltf.scenes.push_back(scene);
    gltf.defaultScene = 0;

    std::ostringstream stream;
    tinygltf::TinyGLTF writer;
    if (!writer.WriteGltfSceneToStream(&gltf, stream, false, options.binary))
        throw failure("cannot encode the model as glTF");
    const std::string encoded = stream.str();
    made.bytes = encoded.size();
    if (summary != nullptr) *summary = made;
    return {encoded.begin(), encoded.end()};
}

GltfSummary writeGltf(int32_t model, const std::string &dataDirectory, const GltfOptions &options,
                      const std::string &path) {
    GltfSummary summary;
    const std::vector<uint8_t> bytes = encodeGltf(model, dataDirectory, options, &summary);
    OutputSet out;
    out.writeBytes(path, bytes);
    out.commit();
    return summary;
}

}  // namespace kelmo::cli
