// Pictures of the generic head (see pictures.h).
#include "tools/generic_head/pictures.h"

#include <cmath>
#include <filesystem>
#include <stdexcept>

#include "tools/generic_head/camera.h"
#include "tools/generic_head/data_files.h"
#include "tools/generic_head/images.h"
#include "tools/generic_head/teeth.h"

namespace kelmo::generic_head {
namespace {

const RGB kSkin{0.87, 0.69, 0.58};
const RGB kLip{0.72, 0.42, 0.40};

PreviewMesh fromRegion(const RegionMesh &r) {
    PreviewMesh m;
    m.positions = r.vertices;
    m.quads = r.quads;
    m.texCoords = r.texCoords;
    return m;
}

std::vector<PreviewMesh> faceMeshes(const GenericHead &head, int e) {
    const HeadMesh &mesh = head.expressions[e];
    PreviewMesh surface = fromRegion(mesh[kHeadRegion]);
    for (double t : head.lipTint)
        surface.colours.push_back({lerp(kSkin.r, kLip.r, t), lerp(kSkin.g, kLip.g, t), lerp(kSkin.b, kLip.b, t)});
    std::vector<PreviewMesh> meshes{surface};
    for (int k = 0; k < 2; ++k) {
        PreviewMesh ball = fromRegion(mesh[kRightEyeRegion + k]);
        const Vec3 centre = toModelUnits(anatomy().eyeCentres[k]);
        ball.colourAt = [centre](Vec3 p) {
            const Vec3 d = normalized(p - centre);
            const double a = std::acos(std::clamp(d.z, -1.0, 1.0));
            if (a < 0.17) return RGB{0.04, 0.03, 0.03};                          // pupil
            if (a < 0.44) return RGB{0.36 - 0.25 * (a - 0.17), 0.27 - 0.2 * (a - 0.17), 0.18};  // iris
            if (a < 0.47) return RGB{0.2, 0.15, 0.12};                           // limbus
            return RGB{0.93, 0.90, 0.86};                                        // white
        };
        meshes.push_back(ball);
    }
    return meshes;
}

// Part 3.4, BuildMouthCap: a fan from the lip ring to the middle of the
// inner-lip midpoints, every vertex 0.13 further back.
PreviewMesh cavityMesh(const GenericHead &head, int e) {
    const auto &v = head.expressions[e][kHeadRegion].vertices;
    PreviewMesh m;
    const Vec3 back{0.0, 0.0, -0.13};
    m.positions.push_back((v[415] + v[371]) * 0.5 + back);
    for (int i : head.lipRing) m.positions.push_back(v[i] + back);
    m.colours.assign(m.positions.size(), RGB{});
    const int n = static_cast<int>(head.lipRing.size());
    for (int k = 0; k < n; ++k) m.quads.push_back({0, 1 + k, 1 + (k + 1) % n, 0});
    return m;
}

// Part 3.4, BuildSockRegion, and the teeth after Part 3.1's PlaceTeeth.
std::vector<PreviewMesh> interiorMeshes(const GenericHead &head, int e, const RgbaImage &upperImage,
                                        const RgbaImage &lowerImage) {
    const HeadMesh &mesh = head.expressions[e];
    const auto &v = mesh[kHeadRegion].vertices;
    PreviewMesh sock;
    for (int k = 0; k < 8; ++k) sock.positions.push_back(v[head.sockRing[k]]);
    sock.positions.insert(sock.positions.begin(), Vec3{sock.positions[2].x, sock.positions[0].y, sock.positions[0].z});
    sock.colours.assign(9, RGB{0.33, 0.11, 0.12});
    sock.colours[0] = RGB{0.06, 0.02, 0.02};
    for (int i = 0; i < 8; ++i) sock.quads.push_back({0, 1 + i, 1 + (i + 1) % 8, 0});
    sock.shaded = false;
    RegionMesh upper = mesh[kUpperTeethRegion], lower = mesh[kLowerTeethRegion];
    placeTeeth(upper, lower, e, v[371], v[1683]);
    PreviewMesh up = fromRegion(upper), low = fromRegion(lower);
    up.texture = &upperImage;
    low.texture = &lowerImage;
    up.shaded = low.shaded = false;
    // Part 4.2 draws the lower teeth, then the upper teeth.
    return {sock, low, up};
}

}  // namespace

Picture expressionPicture(const GenericHead &head, int e, int size) {
    const RgbaImage upperImage = makeUpperTeethImage(), lowerImage = makeLowerTeethImage();
    const auto face = faceMeshes(head, e);
    const auto cavity = cavityMesh(head, e);
    const auto interior = interiorMeshes(head, e, upperImage, lowerImage);
    std::vector<Picture> views;
    for (double yaw : {0.0, 35.0, 90.0}) {
        PreviewView view;
        view.yawDegrees = yaw;
        view.size = size;
        views.push_back(renderPreview(face, cavity, interior, view));
    }
    return besideEachOther(views);
}

Picture alphaAndLandmarksPicture(const GenericHead &head, int size) {
    const auto points = projectedLandmarks(head, kCloseNeutral, size);
    const RgbaImage mask = makeAlphaMask(points, size);
    Picture left;
    left.width = left.height = size;
    left.rgb.resize(std::size_t(size) * size * 3);
    for (std::size_t k = 0; k < std::size_t(size) * size; ++k)
        for (int c = 0; c < 3; ++c) left.rgb[k * 3 + c] = mask.rgba[k * 4 + 3];
    PreviewView view;
    view.size = size;
    view.distance = 400.0;  // as the default camera: the markers sit on their vertices
    const RgbaImage upperImage = makeUpperTeethImage(), lowerImage = makeLowerTeethImage();
    Picture right = renderPreview(faceMeshes(head, kCloseNeutral), cavityMesh(head, kCloseNeutral),
                                  interiorMeshes(head, kCloseNeutral, upperImage, lowerImage), view);
    for (int k = 0; k < kLandmarkCount; ++k) {
        const LandmarkRole role = landmarkScheme()[k].role;
        const RGB colour = role == LandmarkRole::kEyeball    ? RGB{0.1, 0.3, 0.95}
                           : role == LandmarkRole::kExcluded ? RGB{0.95, 0.5, 0.0}
                                                             : RGB{0.0, 0.6, 0.1};
        drawMarker(left, points[k], colour, -1);
        drawMarker(right, points[k], colour, k);
    }
    return besideEachOther({left, right});
}

void writePictures(const GenericHead &head, const std::string &directory) {
    std::filesystem::create_directories(directory);
    static constexpr const char *kNames[kExpressionCount] = {"generic_head_close_neutral.png", "generic_head_open_neutral.png",
                                                             "generic_head_close_smile.png", "generic_head_open_smile.png"};
    for (int e = 0; e < kExpressionCount; ++e)
        if (savePicture(expressionPicture(head, e, 300), directory + kNames[e]) != 0)
            throw std::runtime_error(std::string("cannot write ") + directory + kNames[e]);
    if (savePicture(alphaAndLandmarksPicture(head, 400), directory + "generic_head_alpha_landmarks.png") != 0)
        throw std::runtime_error("cannot write " + directory + "generic_head_alpha_landmarks.png");
}

}  // namespace kelmo::generic_head
