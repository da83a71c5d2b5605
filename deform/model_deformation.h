// Model deformation: TAVO_AdjustModelDeformation (include/kelmo.h) converts a
// morph model authored on the generic expression mesh into one that fits a
// model created from a photo, through that model's own 3D radial-basis
// interpolator (fitting/interpolator3d): the morph is bent the way the head
// was.
#pragma once

#include <cstdint>

#include "frame/library_state.h"
#include "model/model.h"

namespace kelmo {

// Regions 0, 1 and 2 (the ones the fit bent) are converted; the others keep
// their displacements.
inline constexpr std::size_t kAdjustedRegionCount = 3;

// Converts `morph` in place: each displacement d of vertex j becomes
// f(e + d) - m (e the expression mesh's vertex, f the model's interpolator, m
// the model's vertex), with the expression meshes of `state`. Returns false
// and changes nothing when `model` not made from a photo (its interpolator has no centres or
// not one weight per centre, its expression class is not 0 to 3, or that
// expression mesh is absent), fewer than three regions in the morph model, the
// expression mesh or the model, or a morph region 0 to 2 longer than the same
// region of the expression mesh or of the model. `morph` may be `model`. May
// throw std::bad_alloc; `morph` is then unchanged.
bool adjustModelDeformation(const TModel &model, TModel &morph, const LibraryState &state);

}  // namespace kelmo
