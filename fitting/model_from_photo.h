// Creation of a model from a photo: the internal operations of
// TAVO_CreateModelFromPhotoEx and TAVO_CreateModelFromPhoto (declared in
// include/kelmo.h). The photo's 66 points are carried into an upright face
// frame (fitting/face_frame), which becomes the texture; classifyExpression
// reads the mouth from the points and chooses the expression mesh;
// fitModelToFeatures aligns the mesh's feature points with the photo's
// (alignFeaturePoints), bends the head onto them with the 3D radial-basis
// interpolator, places the teeth (placeTeeth), rebuilds the sock and the mouth
// cavity and projects the texture coordinates (projectTextureCoords).
//
// The fitting works on a ModelFit, a set of temporaries that holds everything
// creation writes into the model; it is moved into the model only when every
// stage has succeeded, so that a failing creation leaves the model unchanged.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "frame/library_state.h"
#include "kelmo.h"
#include "model/model.h"

namespace kelmo {

// The feature points in texture space: u = x / frame width,
// v = 1 - y / frame height (v grows upwards).
using TexturePoints = std::array<TPointf, kFeaturePointCount>;
// The 66 feature points on the mesh, or their targets.
using FeaturePoints3D = std::array<TVector3f, kFeaturePointCount>;

// The face frame, and so the texture, is 256 x 256 pixels.
inline constexpr int32_t kModelFrameSize = 256;
// A fitted model has 8 regions, then the eye-point region 8 appended.
inline constexpr int32_t kFittedRegionCount = 8;
inline constexpr int32_t kEyePointRegion = 8;
// 66 feature points less the six eye points and the four excluded outline
// points drive the deformation.
inline constexpr int32_t kControlPointCount = 56;
// The two region-0 vertices whose heights lift the teeth of an open mouth
// (d1 from 371, the lower inner-lip midpoint; d2 from 1683, on the upper lip's
// inner edge).
inline constexpr int32_t kOpenMouthLipVertex = 371;
inline constexpr int32_t kOpenMouthGapVertex = 1683;

// The number of points read for a pointSet: 62 for 1,
// 40 for 2, 66 for any other value.
int32_t pointCountForPointSet(int32_t pointSet);

// The mesh region that carries feature point i (the eyes lie on the
// eyeballs): 1 for
// 0, 29, 30; 2 for 1, 33, 34; 0 otherwise.
int32_t featurePointRegion(int32_t featureIndex);

// The expression class of the photo's points: 0 closed neutral, 1 open neutral, 2 closed
// smiling, 3 open smiling. d = |T61.v - T64.v|, s = T64.v + T61.v + 0.02,
// m = T4.v + T3.v, all single precision; open when d > 0.02, smiling when
// m > s. When d, s or m is NaN the class is 0.
int32_t classifyExpression(const TexturePoints &texturePoints);

// The host's restrictions on the class: noSmile turns 3 into 1 and 2 into 0;
// then closedMouth turns 3 into 2 and 1 into 0.
int32_t applyExpressionFlags(int32_t expressionClass, bool noSmile, bool closedMouth);

// The least-squares uniform scale s and offset o
// with P ~ s T + o (P = the mesh points' x and y), in single precision with
// the means taken as sums times 0.015151516. Targets B[i] = (s u + o.x,
// s v + o.y, A[i].z); the inverse texture projection is sigma = 1 / s and
// tau = o * (-1 / s), the reciprocal rounded to float before the product, so
// that texture coordinates match bit for bit.
struct FeatureAlignment {
    FeaturePoints3D targets{};
    float textureScale = 0.0f;    // sigma
    TPointf textureOffset{0, 0};  // tau
};
FeatureAlignment alignFeaturePoints(const FeaturePoints3D &meshPoints, const TexturePoints &texturePoints);

// Planar texture projection: for every corner of every quad in order,
// texture coordinate (texture quad corner) = clamp(sigma * p + tau) of its
// vertex p, each axis clamped to [0, 1]. Corners whose vertex or texture
// coordinate index lies outside the region are skipped (the region invariant
// of model/model.h makes this a safety net).
void projectTextureCoords(TRegion &region, float textureScale, TPointf textureOffset);

// Moves the teeth, regions 3 (upper) and 4 (lower), behind the lips of the
// chosen expression, with region 0's
// vertices 371 and 1683 for an open mouth. Returns false and changes nothing
// when regions 0 to 4 do not exist, region 0 lacks those vertices, or region 4
// has vertices while region 3 (whose first vertex is the scaling centre) has
// none.
bool placeTeeth(std::vector<TRegion> &regions, int32_t expressionClass);

// The state that creation from a photo writes into the model, built aside.
struct ModelFit {
    std::vector<TRegion> regions;
    int32_t extraRegion = -1;
    int32_t expressionClass = 0;
    std::vector<TVector3f> featurePoints;
    std::vector<int32_t> featureVertices;
    int32_t controlCount = 0;
    std::vector<TVector3f> controlSource;
    std::vector<TVector3f> controlTarget;
    TInterpolator3D interpolator;
};

// Whether an expression mesh (with the landmark and list7 tables) holds every
// vertex that creation reads: five regions, each landmark entry inside its
// feature point's region, region 0's vertices of buildSockRegion,
// buildMouthCap (list7 included) and placeTeeth, and a first vertex of
// region 3 when region 4 has vertices.
bool expressionMeshSupportsFitting(const TModel &mesh, const std::vector<int32_t> &landmarkTable,
                                   const std::vector<int32_t> &list7Table);

// Fits the expression mesh chosen from the texture points T to T, into `fit`:
// chooses the mesh; copies its regions 0 to 4 and builds the sock; aligns the
// feature points; sorts them into eye points, excluded points and control
// points; bends regions 0, 1, 2 and the sock with the interpolator through
// the control points; places the teeth; reads the fitted feature points;
// projects texture coordinates (every region when the teeth take the model's
// texture, else regions 0 to 2); builds the mouth cavity. Reads the model's region 6, control-point arrays and
// teethFromModelTexture flag, and the shared expression meshes, landmark and
// list7 tables of `state`. Returns false (fit unspecified, nothing else
// touched) when the chosen expression mesh is absent or fails
// expressionMeshSupportsFitting. May throw std::bad_alloc.
bool fitModelToFeatures(const TModel &model, const TexturePoints &texturePoints, bool noSmile, bool closedMouth,
                        const LibraryState &state, ModelFit &fit);

// Moves `fit` into the model (regions, appended-region index, expression
// class, feature points and vertices, control points, interpolator). Never
// throws.
void commitModelFit(ModelFit &fit, TModel &model) noexcept;

// The completion of pointSet 1 and 2, so that a host with fewer points still
// gets a full fit: fits a
// uniform scale k and offset t with T[i] ~ k P[i] + t over the given points
// i < givenCount, P being expression mesh 0's feature points (x, y) through
// the landmark table, in double precision; then T[i] = k P[i] + t for
// givenCount <= i < 66, rounded to single. Returns false (T unchanged) when
// mesh 0 lacks a landmark vertex. With all given mesh points equal, k = 0.
bool completeTexturePoints(TexturePoints &texturePoints, int32_t givenCount, const TModel &mesh0,
                           const std::vector<int32_t> &landmarkTable);

}  // namespace kelmo
