// The model table and the exported model life cycle and accessors.
#include "model/model_table.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "frame/library_state.h"
#include "kelmo.h"

namespace kelmo {

TModel *resolveModel(int32_t handle) {
    // Valid when not negative, below the table's length and naming a
    // non-empty slot.
    auto &models = libraryState().models;
    if (handle < 0 || static_cast<std::size_t>(handle) >= models.size()) return nullptr;
    return models[static_cast<std::size_t>(handle)].get();
}

void copyModel(const TModel &source, TModel &destination) {
    // Everything that allocates is built first into temporaries, so that a
    // std::bad_alloc leaves the destination untouched; the commit below only
    // moves and assigns fixed-size members, which cannot throw. Copying a model
    // onto itself therefore copies each member onto an equal value.

    // The destination gets exactly the source's region count,
    // each region's four arrays copies of the source's. TRegion holds nothing
    // but those four arrays, so copying the regions whole is the same thing.
    std::vector<TRegion> regions = source.regions;
    // The feature points and vertices (the allocating half).
    std::vector<TVector3f> featurePoints = source.featurePoints;
    std::vector<int32_t> featureVertices = source.featureVertices;

    // The texture: TAVO_CopyImage, source texture first, so that the
    // destination keeps its own handle with a copy of the source's pixels. It
    // runs before the commit because it is the last part that can fail (by
    // running out of memory); no one can observe the members in between, so
    // the result is the same as copying the texture last. Its status is not
    // consulted (the copy returns 0): both textures are valid images for the
    // life of their models.
    TAVO_CopyImage(source.texture, destination.texture);

    // Commit; nothing below throws.
    destination.regions = std::move(regions);
    destination.faceGrid = source.faceGrid;
    destination.rotation = source.rotation;
    destination.scale = source.scale;
    destination.teethFromModelTexture = source.teethFromModelTexture;
    destination.maskUsage = source.maskUsage;
    destination.deformation = source.deformation;
    destination.featurePoints = std::move(featurePoints);
    destination.featureVertices = std::move(featureVertices);
    destination.extraRegion = source.extraRegion;
    // The destination keeps its own perspective, expressionClass,
    // interpolator, controlCount, controlSource, controlTarget and the three
    // shared images (the contract of TAVO_CopyModel in kelmo.h).
}

void destroyAllModels() {
    // Destroy from index 0 upward, then empty the table.
    auto &models = libraryState().models;
    for (auto &slot : models) slot.reset();
    models.clear();
}

namespace {

// The three checks of every region accessor, in their fixed order. The
// pointer and the region's sign are checked before the handle; the region's
// upper bound only once the model is known. On success `region` is set.
int32_t resolveRegion(int32_t handle, int32_t regionIndex, const void *pointer, TRegion *&region) {
    if (pointer == nullptr || regionIndex < 0) return TAVO_ERR_GENERAL;
    TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    if (static_cast<std::size_t>(regionIndex) >= model->regions.size()) return TAVO_ERR_GENERAL;
    region = &model->regions[static_cast<std::size_t>(regionIndex)];
    return TAVO_OK;
}

}  // namespace

}  // namespace kelmo

using kelmo::resolveModel;
using kelmo::TModel;
using kelmo::TRegion;

extern "C" {

int32_t TAVO_InitModel(int32_t *handle, int32_t disableMask) {
    if (handle == nullptr) return TAVO_ERR_GENERAL;
    try {
        // The model is built first, then the slot taken and the handle
        // stored, so that running out of memory while building leaves neither
        // a half-made model nor a stored handle behind.
        auto model = std::make_unique<TModel>();
        const auto &state = kelmo::libraryState();
        // Copies of the shared handles; the model does not own them.
        model->upperTeethImage = state.upperTeethImage;
        model->lowerTeethImage = state.lowerTeethImage;
        model->sockImage = state.sockImage;
        model->teethFromModelTexture = true;
        model->maskUsage = (disableMask == 0);

        // The lowest empty slot, or one appended slot.
        auto &models = kelmo::libraryState().models;
        auto emptySlot = std::find(models.begin(), models.end(), nullptr);
        std::size_t index;
        if (emptySlot != models.end()) {
            index = static_cast<std::size_t>(emptySlot - models.begin());
            *emptySlot = std::move(model);
        } else {
            // A handle is a signed 32-bit index: the table cannot outgrow it.
            if (models.size() >= static_cast<std::size_t>(std::numeric_limits<int32_t>::max()))
                return TAVO_ERR_GENERAL;
            index = models.size();
            models.push_back(std::move(model));  // on bad_alloc `model` is destroyed
        }
        *handle = static_cast<int32_t>(index);
        return TAVO_OK;
    } catch (...) {
        return TAVO_ERR_GENERAL;
    }
}

int32_t TAVO_CopyModel(int32_t source, int32_t destination) {
    const TModel *from = resolveModel(source);
    TModel *to = resolveModel(destination);
    if (from == nullptr || to == nullptr) return TAVO_ERR_INVALID_HANDLE;
    try {
        kelmo::copyModel(*from, *to);
    } catch (...) {
        // copyModel commits nothing before its last allocation succeeded.
        return TAVO_ERR_GENERAL;
    }
    return TAVO_OK;
}

int32_t TAVO_FreeModel(int32_t handle) {
    if (resolveModel(handle) == nullptr) return TAVO_ERR_INVALID_HANDLE;
    // The model and its texture go; the slot stays, empty, for reuse.
    kelmo::libraryState().models[static_cast<std::size_t>(handle)].reset();
    return TAVO_OK;
}

int32_t TAVO_SetModelMaskUsage(int32_t handle, bool value) {
    TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    model->maskUsage = value;
    return TAVO_OK;
}

int32_t TAVO_GetModelNumRegions(int32_t handle, int32_t *count) {
    if (count == nullptr) return TAVO_ERR_GENERAL;
    const TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    *count = static_cast<int32_t>(model->regions.size());
    return TAVO_OK;
}

int32_t TAVO_GetModelExpressionClass(int32_t handle, int32_t *expressionClass) {
    if (expressionClass == nullptr) return TAVO_ERR_GENERAL;
    const TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    *expressionClass = model->expressionClass;
    return TAVO_OK;
}

int32_t TAVO_GetModelNumVertices(int32_t handle, int32_t region, int32_t *count) {
    TRegion *found = nullptr;
    if (const int32_t status = kelmo::resolveRegion(handle, region, count, found); status != TAVO_OK)
        return status;
    *count = static_cast<int32_t>(found->vertices.size());
    return TAVO_OK;
}

int32_t TAVO_GetModelRegionVertices(int32_t handle, int32_t region, TVector3f *vertices) {
    TRegion *found = nullptr;
    if (const int32_t status = kelmo::resolveRegion(handle, region, vertices, found); status != TAVO_OK)
        return status;
    std::copy(found->vertices.begin(), found->vertices.end(), vertices);
    return TAVO_OK;
}

int32_t TAVO_SetModelRegionVertices(int32_t handle, int32_t region, const TVector3f *vertices) {
    TRegion *found = nullptr;
    if (const int32_t status = kelmo::resolveRegion(handle, region, vertices, found); status != TAVO_OK)
        return status;
    // The caller's buffer holds exactly as many vertices as the region (the
    // contract in kelmo.h); the count does not change.
    std::copy(vertices, vertices + found->vertices.size(), found->vertices.begin());
    return TAVO_OK;
}

int32_t TAVO_GetModelRegionNumQuads(int32_t handle, int32_t region, int32_t *count) {
    TRegion *found = nullptr;
    if (const int32_t status = kelmo::resolveRegion(handle, region, count, found); status != TAVO_OK)
        return status;
    *count = static_cast<int32_t>(found->quads.size());
    return TAVO_OK;
}

int32_t TAVO_GetModelRegionQuads(int32_t handle, int32_t region, int32_t *quads) {
    TRegion *found = nullptr;
    if (const int32_t status = kelmo::resolveRegion(handle, region, quads, found); status != TAVO_OK)
        return status;
    // Four vertex indices per quad, corners in order, quads in order.
    int32_t *out = quads;
    for (const kelmo::Quad &quad : found->quads) out = std::copy(quad.begin(), quad.end(), out);
    return TAVO_OK;
}

int32_t TAVO_GetModel3DPoints(int32_t handle, TVector3f *points) {
    if (points == nullptr) return TAVO_ERR_GENERAL;
    const TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    // The host's buffer holds 66 entries; featurePoints has 66 by
    // construction and every copy keeps that, but the bound keeps a
    // broken invariant from writing past the buffer.
    const std::size_t count =
        std::min(model->featurePoints.size(), static_cast<std::size_t>(kelmo::kFeaturePointCount));
    std::copy_n(model->featurePoints.begin(), count, points);
    return TAVO_OK;
}

}  // extern "C"
