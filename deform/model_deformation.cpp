// Model deformation.
#include "deform/model_deformation.h"

#include <cstddef>
#include <exception>
#include <utility>
#include <vector>

#include "deform/vertex_lists.h"
#include "fitting/interpolator3d.h"
#include "kelmo.h"
#include "model/model_table.h"

namespace kelmo {

namespace {

// Whether `model` carries what a creation from a photo leaves: a
// solved interpolator and an expression class naming a loaded mesh.
const TModel *expressionMeshOf(const TModel &model, const LibraryState &state) {
    const TInterpolator3D &interpolator = model.interpolator;
    if (interpolator.centres.empty() || interpolator.weights.size() != interpolator.centres.size()) return nullptr;
    if (model.expressionClass < 0 || static_cast<std::size_t>(model.expressionClass) >= state.expressionMeshes.size())
        return nullptr;
    return state.expressionMeshes[static_cast<std::size_t>(model.expressionClass)].get();
}

}  // namespace

bool adjustModelDeformation(const TModel &model, TModel &morph, const LibraryState &state) {
    // E, the expression mesh of the model's class; M, the model.
    const TModel *mesh = expressionMeshOf(model, state);
    if (mesh == nullptr) return false;
    if (morph.regions.size() < kAdjustedRegionCount || mesh->regions.size() < kAdjustedRegionCount ||
        model.regions.size() < kAdjustedRegionCount) {
        return false;
    }
    for (std::size_t r = 0; r < kAdjustedRegionCount; ++r) {
        const std::size_t m = morph.regions[r].vertices.size();
        if (m > mesh->regions[r].vertices.size() || m > model.regions[r].vertices.size()) return false;
    }
    // D, a copy of the morph model's lists (the model is only read, so
    // `morph` may be `model`).
    VertexLists displacements = getVertexLists(morph);
    std::vector<TVector3f> displaced;
    std::vector<TVector3f> deformed;
    // Regions 0, 1 and 2.
    for (std::size_t r = 0; r < kAdjustedRegionCount; ++r) {
        std::vector<TVector3f> &d = displacements[r];
        const std::vector<TVector3f> &expression = mesh->regions[r].vertices;
        const std::vector<TVector3f> &current = model.regions[r].vertices;
        // X = E + D, per coordinate in single precision.
        displaced.resize(d.size());
        for (std::size_t j = 0; j < d.size(); ++j) {
            displaced[j] = TVector3f{expression[j].x + d[j].x, expression[j].y + d[j].y, expression[j].z + d[j].z};
        }
        // Y = the model's interpolator evaluated at X.
        interpolatorEvaluate(model.interpolator, displaced, deformed);
        // D = Y - M.
        for (std::size_t j = 0; j < d.size(); ++j) {
            d[j] = TVector3f{deformed[j].x - current[j].x, deformed[j].y - current[j].y, deformed[j].z - current[j].z};
        }
    }
    // The lists go back whole; regions 3 and above were copied
    // unchanged, and the region count is the morph model's own, so nothing
    // allocates.
    setVertexLists(morph, std::move(displacements));
    return true;
}

}  // namespace kelmo

extern "C" int32_t TAVO_AdjustModelDeformation(int32_t handle, int32_t morphHandle) {
    const kelmo::TModel *model = kelmo::resolveModel(handle);
    kelmo::TModel *morph = kelmo::resolveModel(morphHandle);
    if (model == nullptr || morph == nullptr) return TAVO_ERR_INVALID_HANDLE;
    try {
        if (!kelmo::adjustModelDeformation(*model, *morph, kelmo::libraryState())) return TAVO_ERR_GENERAL;
    } catch (const std::exception &) {
        return TAVO_ERR_GENERAL;  // out of memory: the morph model is unchanged
    }
    return TAVO_OK;
}
