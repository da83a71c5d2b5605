// TRegion and TModel: the head model and its mesh regions.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "kelmo.h"

namespace kelmo {

// A quad: four signed 32-bit corner indices, in corner order.
using Quad = std::array<int32_t, 4>;

inline constexpr int kFeaturePointCount = 66;

// One mesh region. Copied member by member; a default region has
// four empty arrays.
class TRegion {
public:
    TRegion() = default;
    TRegion(const TRegion &) = default;
    TRegion &operator=(const TRegion &) = default;
    TRegion(TRegion &&) noexcept = default;
    TRegion &operator=(TRegion &&) noexcept = default;
    virtual ~TRegion() = default;

    std::vector<Quad> quads;           // corners index `vertices`
    std::vector<Quad> textureQuads;    // one per quad; corners index `textureCoords`
    std::vector<TVector3f> vertices;   // model units
    std::vector<TPointf> textureCoords;  // 0..1 on each axis
};

// The 3D radial-basis interpolator embedded in every model (the fitted
// deformation of creation from a photo); its
// operations live in fitting/interpolator3d.
class TInterpolator3D {
public:
    virtual ~TInterpolator3D() = default;

    std::vector<TVector3f> centres;
    std::vector<TVector3f> values;
    std::vector<TVector3f> weights;
};

// One textured head. Never copy-constructed: the exported copy is
// TAVO_CopyModel (model/model_table.h), which copies selected members.
// Region roles: 0 head and face, 1 and 2 the eyeballs, 3 and 4 the upper and
// lower teeth, 5 the sock (the inside of the mouth), 7 the mouth cavity
// (drawn into depth only); creation from a photo appends one more region, the
// extraRegion (8), and carries region 6 along unused. Every quad corner indexes an existing
// vertex and every texture-quad corner an existing texture coordinate; the
// readers refuse meshes that break this, and rendering relies on it.
class TModel {
public:
    // Creates the empty texture image: the model's only call outside itself.
    TModel();
    TModel(const TModel &) = delete;
    TModel &operator=(const TModel &) = delete;
    // Releases `texture` with TAVO_FreeImage; the shared images are not the
    // model's.
    virtual ~TModel();

    std::vector<TRegion> regions;
    int32_t extraRegion = -1;
    int32_t expressionClass = 0;       // 0 until creation from a photo sets it
    bool teethFromModelTexture = false;  // TAVO_InitModel sets 1
    bool maskUsage = false;              // TAVO_InitModel sets it
    ImageHandle lowerTeethImage = -1;    // shared, not owned
    ImageHandle upperTeethImage = -1;    // shared, not owned
    ImageHandle sockImage = -1;          // shared, not owned
    ImageHandle texture = -1;            // owned
    std::array<TPointf, kFeaturePointCount> faceGrid{};  // pixels of the texture image
    TInterpolator3D interpolator;
    std::vector<TVector3f> featurePoints;
    std::vector<int32_t> featureVertices;
    int32_t controlCount = 0;            // 0 until creation from a photo sets it
    std::vector<TVector3f> controlSource;
    std::vector<TVector3f> controlTarget;
    std::array<float, 3> rotation{0.0f, 0.0f, 0.0f};  // degrees about x, y, z
    std::array<float, 3> scale{1.0f, 1.0f, 1.0f};
    float perspective = 1.0f;            // vertical field of view, degrees
    std::array<float, 16> deformation{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};  // column by column
};

}  // namespace kelmo
