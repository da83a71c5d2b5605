// The model table (Part 2.2): handles, slots and their reuse. The table itself
// lives in the library state (frame/library_state.h).
#pragma once

#include <cstdint>

#include "model/model.h"

namespace kelmo {

// The model named by a handle, or null when the handle is invalid (negative,
// not below the table's length, or an empty slot).
TModel *resolveModel(int32_t handle);

// Part 2.2, Copying steps 1 to 10: copies `source` into `destination`.
void copyModel(const TModel &source, TModel &destination);

// Destroys every model and empties the table (Part 1.1, finalisation steps 1-2).
void destroyAllModels();

}  // namespace kelmo
