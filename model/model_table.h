// The model table: handles, slots and their reuse. The table itself
// lives in the library state (frame/library_state.h: libraryState().models,
// an empty slot being a null pointer); the exported life cycle and accessors
// (TAVO_InitModel ... TAVO_GetModel3DPoints, include/kelmo.h) are defined in
// model_table.cpp.
#pragma once

#include <cstdint>

#include "model/model.h"

namespace kelmo {

// The model named by a handle, or null when the handle is invalid (negative,
// not below the table's length, or an empty slot). Every function that takes
// a model handle resolves it here and returns TAVO_ERR_INVALID_HANDLE on null.
TModel *resolveModel(int32_t handle);

// Copies `source` into `destination` (regions,
// face grid, rotation, scale, teeth and mask flags, deformation, feature points
// and vertices, extra region, texture pixels through TAVO_CopyImage). The
// destination keeps its perspective, expression class, interpolator, control
// points and shared image handles. `source` and `destination` may be the same
// model. May throw std::bad_alloc; the destination is then unchanged.
void copyModel(const TModel &source, TModel &destination);

// Destroys every model, from index 0 upward, and empties the table
// (TAVO_FinalizeKelmo). The next TAVO_InitModel hands out handle 0.
void destroyAllModels();

}  // namespace kelmo
