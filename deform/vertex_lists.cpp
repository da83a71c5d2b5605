// Vertex lists: getting and setting a model's vertices region by
// region, through the C++ nested lists and through flat C buffers.
#include "deform/vertex_lists.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <utility>

#include "model/model_table.h"

namespace kelmo {

VertexLists getVertexLists(const TModel &model) {
    VertexLists lists;
    lists.reserve(model.regions.size());
    for (const TRegion &region : model.regions) lists.push_back(region.vertices);
    return lists;
}

void setVertexLists(TModel &model, VertexLists &&lists) {
    // The allocating half: room for the regions to append, so that
    // the resize below cannot throw (a default TRegion allocates nothing).
    if (lists.size() > model.regions.size()) model.regions.reserve(lists.size());
    // Commit; nothing below allocates or throws.
    model.regions.resize(lists.size());
    // The vertices of region i become entry i; the other three arrays
    // of the region are left alone.
    for (std::size_t i = 0; i < lists.size(); ++i) model.regions[i].vertices.swap(lists[i]);
}

}  // namespace kelmo

using kelmo::resolveModel;
using kelmo::TModel;
using kelmo::VertexLists;

int32_t TAVO_GetModelVertices(int handle, std::vector<std::vector<TVector3f>> &lists) {
    const TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    try {
        // The caller's outer array ends with exactly
        // one entry per region, each a copy of that region's vertices. Built
        // aside, so that running out of memory leaves the caller's lists as
        // they were.
        VertexLists copy = kelmo::getVertexLists(*model);
        lists.swap(copy);
    } catch (const std::exception &) {
        return TAVO_ERR_GENERAL;
    }
    return TAVO_OK;
}

int32_t TAVO_SetModelVertices(int handle, std::vector<std::vector<TVector3f>> lists) {
    TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    try {
        kelmo::setVertexLists(*model, std::move(lists));
    } catch (const std::exception &) {
        return TAVO_ERR_GENERAL;  // nothing was changed
    }
    return TAVO_OK;
}

extern "C" {

int32_t TAVO_GetModelVertexLists(int32_t handle, int32_t *vertexCounts, int32_t countCapacity, TVector3f *vertices,
                                 int32_t vertexCapacity) {
    // Checks in the order of the region accessors: the caller's pointers and
    // sizes first, then the handle, then what the model needs.
    if (vertexCounts == nullptr || countCapacity < 0 || vertexCapacity < 0) return TAVO_ERR_GENERAL;
    if (vertices == nullptr && vertexCapacity > 0) return TAVO_ERR_GENERAL;
    const TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    std::size_t total = 0;
    for (const kelmo::TRegion &region : model->regions) total += region.vertices.size();
    if (model->regions.size() > static_cast<std::size_t>(countCapacity) ||
        total > static_cast<std::size_t>(vertexCapacity)) {
        return TAVO_ERR_GENERAL;  // nothing written
    }
    std::size_t next = 0;
    for (std::size_t r = 0; r < model->regions.size(); ++r) {
        const auto &regionVertices = model->regions[r].vertices;
        vertexCounts[r] = static_cast<int32_t>(regionVertices.size());
        for (const TVector3f &vertex : regionVertices) vertices[next++] = vertex;
    }
    return TAVO_OK;
}

int32_t TAVO_SetModelVertexLists(int32_t handle, int32_t regionCount, const int32_t *vertexCounts,
                                 const TVector3f *vertices) {
    if (regionCount < 0 || (vertexCounts == nullptr && regionCount > 0)) return TAVO_ERR_GENERAL;
    // The sum of the counts, each checked before anything is allocated.
    int64_t total = 0;
    for (int32_t r = 0; r < regionCount; ++r) {
        if (vertexCounts[r] < 0) return TAVO_ERR_GENERAL;
        total += vertexCounts[r];
        if (total > std::numeric_limits<int32_t>::max()) return TAVO_ERR_GENERAL;
    }
    if (vertices == nullptr && total > 0) return TAVO_ERR_GENERAL;
    TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    try {
        VertexLists lists(static_cast<std::size_t>(regionCount));
        std::size_t next = 0;
        for (std::size_t r = 0; r < lists.size(); ++r) {
            const auto count = static_cast<std::size_t>(vertexCounts[r]);
            lists[r].assign(vertices + next, vertices + next + count);
            next += count;
        }
        kelmo::setVertexLists(*model, std::move(lists));
    } catch (const std::exception &) {
        return TAVO_ERR_GENERAL;  // nothing was changed
    }
    return TAVO_OK;
}

}  // extern "C"
