// Region builders: the sock region (5) and the mouth cavity (7) rebuilt from
// region 0's vertices, and the in-place rotation and scaling of regions. Used
// by creation from a photo (fitting/model_from_photo), rendering
// (render/model_renderer, which rebuilds the mouth cavity before every frame,
// so it follows morphs of the lips) and the VRML import (model/vrml_import).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "kelmo.h"
#include "model/model.h"

namespace kelmo {

// The region-0 vertices around the mouth opening that become the sock's
// vertices 1 to 8, in fan order.
inline constexpr std::array<int32_t, 8> kSockSourceVertices = {718, 2775, 228, 1829, 441, 2038, 1130, 2976};

// The two region-0 vertices (the upper and lower inner-lip midpoints) whose
// midpoint is the centre of the mouth-cavity fan; and how far every cavity
// vertex is set back in z, behind the lips.
inline constexpr int32_t kMouthCentreVertexA = 415;
inline constexpr int32_t kMouthCentreVertexB = 371;
inline constexpr float kMouthCapRecess = 0.13f;

// Region indices with fixed roles (model/model.h).
inline constexpr int32_t kSockRegion = 5;
inline constexpr int32_t kMouthCapRegion = 7;

// A model without the region-0 vertices the builders read cannot have them
// built (a VRML head, an edited model); these checks say whether it can.
// True when region 5 exists and region 0 holds every vertex of
// kSockSourceVertices.
bool canBuildSockRegion(const std::vector<TRegion> &regions);
// True when region 7 exists, `list7` is not empty and region 0 holds vertices
// 415, 371 and every entry of `list7`.
bool canBuildMouthCap(const std::vector<TRegion> &regions, const std::vector<int32_t> &list7);

// Region 5 becomes a fan of eight triangles (quads
// with their first corner repeated) over region 0's vertices 718, 2775, 228,
// 1829, 441, 2038, 1130, 2976, pinned at a centre vertex, with the nine
// constant texture coordinates. Returns false and changes nothing when
// canBuildSockRegion is false. May throw std::bad_alloc (regions unchanged).
bool buildSockRegion(std::vector<TRegion> &regions);
inline bool buildSockRegion(TModel &model) { return buildSockRegion(model.regions); }

// Region 7 becomes a fan of n = list7.size()
// triangles over the ring of region-0 vertices list7[0..n-1] and the midpoint
// of vertices 415 and 371, every vertex lowered by 0.13 in z; 3n vertices,
// 3n texture coordinates (0, 0), n quads equal to their texture quads.
// `list7` is the list7 table (libraryState().list7Table, 38 entries).
// Returns false and changes nothing when canBuildMouthCap is false. May throw
// std::bad_alloc (regions unchanged).
bool buildMouthCap(std::vector<TRegion> &regions, const std::vector<int32_t> &list7);
inline bool buildMouthCap(TModel &model, const std::vector<int32_t> &list7) {
    return buildMouthCap(model.regions, list7);
}

// Every vertex of every region turned about x by a,
// then about y by b, then about z by c (radians, single precision).
void rotateRegions(std::vector<TRegion> &regions, float a, float b, float c);
inline void rotateRegions(TModel &model, float a, float b, float c) { rotateRegions(model.regions, a, b, c); }

// Every vertex v becomes (v - centre) * s + centre per
// axis, in single precision.
void scaleRegion(TRegion &region, float sx, float sy, float sz, TVector3f centre);

}  // namespace kelmo
