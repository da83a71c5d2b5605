// Vertex lists: a model's vertices as one list per region, the
// nested growable array that TAVO_GetModelVertices and TAVO_SetModelVertices
// carry in their C++ signatures (include/kelmo.h), and the C-callable
// TAVO_GetModelVertexLists and TAVO_SetModelVertexLists that give C hosts the
// same exchange through flat buffers.
#pragma once

#include <vector>

#include "kelmo.h"
#include "model/model.h"

namespace kelmo {

// One entry per region, in region order; each holds the
// region's vertices in vertex order.
using VertexLists = std::vector<std::vector<TVector3f>>;

// Entry i is a copy of region i's
// vertices. May throw std::bad_alloc.
VertexLists getVertexLists(const TModel &model);

// The model's regions are resized to
// lists.size() (surplus regions destroyed from the end, missing ones appended
// as default regions) and region i's vertices become lists[i]; quads, texture
// quads and texture coordinates stay as they were, even where the vertex count
// changes. The lists are moved from. The only allocation (room for appended
// regions) comes first, so a std::bad_alloc leaves the model unchanged.
void setVertexLists(TModel &model, VertexLists &&lists);

}  // namespace kelmo
