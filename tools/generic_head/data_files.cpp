// Writing the data directory (see data_files.h).
#include "tools/generic_head/data_files.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "model/face_file.h"
#include "tools/generic_head/camera.h"
#include "tools/generic_head/images.h"
#include "tools/generic_head/morphs.h"
#include "tools/generic_head/teeth.h"

namespace kelmo::generic_head {
namespace {

void writeBytes(const std::string &path, const void *data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char *>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

void writeText(const std::string &path, const std::string &text) { writeBytes(path, text.data(), text.size()); }

void writeImage(const RgbaImage &image, const std::string &path, bool dropAlpha = false) {
    if (saveImage(image, path, dropAlpha) != 0) throw std::runtime_error("cannot write " + path);
}

// The regions of one expression mesh in the library's types (32-bit floats;
// one texture coordinate per vertex, so each texture quad is its quad).
std::vector<TRegion> toRegions(const HeadMesh &mesh) {
    std::vector<TRegion> regions(kRegionCount);
    for (int r = 0; r < kRegionCount; ++r) {
        const RegionMesh &m = mesh[r];
        TRegion &t = regions[r];
        for (const Vec3 &v : m.vertices)
            t.vertices.push_back({static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)});
        for (const TexCoord &c : m.texCoords) t.textureCoords.push_back({static_cast<float>(c.u), static_cast<float>(c.v)});
        t.quads = m.quads;
        t.textureQuads = m.quads;
    }
    return regions;
}

// The warp's square-root table: 2^21 little-endian floats, entry i the
// square root of i.
std::vector<uint8_t> sqrtTableBytes() {
    constexpr std::size_t count = std::size_t{1} << 21;
    std::vector<uint8_t> bytes(count * 4);
    for (std::size_t i = 0; i < count; ++i) {
        const float f = std::sqrt(static_cast<float>(i));
        uint32_t u;
        std::memcpy(&u, &f, 4);
        for (int k = 0; k < 4; ++k) bytes[i * 4 + k] = static_cast<uint8_t>(u >> (8 * k));
    }
    return bytes;
}

}  // namespace

std::array<TPointf, kLandmarkCount> projectedLandmarks(const GenericHead &head, int expression, int size) {
    std::array<TPointf, kLandmarkCount> points{};
    const HeadMesh &mesh = head.expressions[expression];
    for (int k = 0; k < kLandmarkCount; ++k) {
        const Vec3 v = mesh[landmarkRegion(k)].vertices[head.landmarkVertex[k]];
        points[k] = projectDefaultCamera(v, size, size);
    }
    return points;
}

void writeDataDirectory(const GenericHead &head, const std::string &directory) {
    namespace fs = std::filesystem;
    fs::create_directories(fs::path(directory) / "wrl");
    fs::create_directories(fs::path(directory) / "morphs");

    // The four expression meshes.
    for (int e = 0; e < kExpressionCount; ++e) {
        const std::string path = directory + kFaceFileNames[e];
        if (writeFaceFile(toRegions(head.expressions[e]), path) != kFaceFileOk)
            throw std::runtime_error("cannot write " + path);
    }
    // The landmark table and the lip ring.
    std::string grd;
    for (int k = 0; k < kLandmarkCount; ++k) grd += std::to_string(k) + " " + std::to_string(head.landmarkVertex[k]) + "\n";
    writeText(directory + "grd66.txt", grd);
    std::string list7;
    for (int v : head.lipRing) list7 += std::to_string(v) + "\n";
    writeText(directory + "list7.txt", list7);

    // The alpha mask of the neutral face and its landmarks.
    const auto points = projectedLandmarks(head, kCloseNeutral, kAlphaMaskSize);
    writeImage(makeAlphaMask(points, kAlphaMaskSize), directory + "alpha.png");
    writeText(directory + "alpha.grd", alphaGridText(points));

    // The teeth and sock images ("wrl\..." is "wrl/" here).
    writeImage(makeLowerTeethImage(), directory + "wrl/Head_teethLower.png");
    writeImage(makeUpperTeethImage(), directory + "wrl/Head_teethUpper.png");
    writeImage(makeSockImage(points, kAlphaMaskSize), directory + "wrl/head_sock.bmp", true);

    // The square-root table.
    const std::vector<uint8_t> table = sqrtTableBytes();
    writeBytes(directory + "sqrt.dat", table.data(), table.size());

    // Morphs authored on the closed neutral mesh.
    for (const MorphDefinition &m : morphDefinitions()) {
        const std::vector<uint8_t> bytes = morphFileBytes(head.expressions[kCloseNeutral], buildMesh(head, m.params));
        writeBytes(directory + "morphs/" + m.fileName, bytes.data(), bytes.size());
    }
}

}  // namespace kelmo::generic_head
