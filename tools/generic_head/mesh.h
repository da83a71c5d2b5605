// The generator's mesh types: one region of the face format in
// double precision, and the five regions of one expression mesh.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "model/model.h"
#include "tools/generic_head/vec.h"

namespace kelmo::generic_head {

// Texture coordinate, each axis 0..1, v growing upwards.
struct TexCoord {
    double u = 0.0;
    double v = 0.0;
};

// One region: one texture coordinate per vertex, as face files hold them, so a quad's texture quad is the quad itself.
struct RegionMesh {
    std::vector<Vec3> vertices;
    std::vector<TexCoord> texCoords;
    std::vector<Quad> quads;
};

// Region indices of the face format.
inline constexpr int kHeadRegion = 0;
inline constexpr int kRightEyeRegion = 1;  // the eyeball at -x: feature points 0, 29, 30
inline constexpr int kLeftEyeRegion = 2;   // the eyeball at +x: feature points 1, 33, 34
inline constexpr int kUpperTeethRegion = 3;
inline constexpr int kLowerTeethRegion = 4;
inline constexpr int kRegionCount = 5;

using HeadMesh = std::array<RegionMesh, kRegionCount>;

// The four expression meshes, in the order of the expression classes.
enum Expression : int { kCloseNeutral = 0, kOpenNeutral = 1, kCloseSmile = 2, kOpenSmile = 3 };
inline constexpr int kExpressionCount = 4;
inline constexpr const char *kFaceFileNames[kExpressionCount] = {"CloseNeutral.face", "OpenNeutral.face",
                                                                  "CloseSmile.face", "OpenSmile.face"};

// Model units per centimetre: the head is authored in centimetres (about
// 23 cm chin to crown, docs reference/head_proportions.md) and stored about
// 6 units tall.
inline constexpr double kUnitsPerCm = 1.0 / 3.83;

// The authoring point that becomes the model origin: mid-height between chin
// and crown (about eye level), mid-depth of the skull. The library's default
// camera looks at model (0, -0.15, 0) with a visible half-height of about
// 3.5 units, so chin (-3) to crown (+3) is in view.
inline constexpr Vec3 kModelOriginCm{0.0, 3.8, -7.9};

inline Vec3 toModelUnits(Vec3 cm) { return (cm - kModelOriginCm) * kUnitsPerCm; }

}  // namespace kelmo::generic_head
