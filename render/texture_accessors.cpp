// Texture accessors.
#include "render/texture_accessors.h"

#include <new>

#include "frame/numeric.h"
#include "model/model_table.h"

namespace kelmo {

std::vector<TPointf> vertexTextureTable(const TRegion &region) {
    std::vector<TPointf> table(region.vertices.size(), TPointf{0.0f, 0.0f});
    for (std::size_t q = 0; q < region.quads.size(); ++q) {
        if (!isUsableQuad(region, q)) continue;
        for (int k = 0; k < 4; ++k) {
            table[static_cast<std::size_t>(region.quads[q][k])] =
                region.textureCoords[static_cast<std::size_t>(region.textureQuads[q][k])];
        }
    }
    return table;
}

bool regionTextureImage(const TModel &model, int32_t region, ImageHandle &image) {
    switch (region) {
        case 0:
        case 1:
        case 2: image = model.texture; return true;
        case 3: image = model.teethFromModelTexture ? model.texture : model.upperTeethImage; return true;
        case 4: image = model.teethFromModelTexture ? model.texture : model.lowerTeethImage; return true;
        case 5: image = model.sockImage; return true;
        default: return false;
    }
}

}  // namespace kelmo

using kelmo::resolveModel;
using kelmo::TModel;

extern "C" {

int32_t TAVO_SetModelTexture(int32_t handle, ImageHandle image) {
    TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    // A copy that the imaging library refuses (an invalid image) changed
    // nothing, and its status is passed on so that the host learns why
    // (docs/design.md).
    return TAVO_CopyImage(image, model->texture);
}

int32_t TAVO_GetModelTexture(int32_t handle, ImageHandle image) {
    TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    return TAVO_CopyImage(model->texture, image);
}

int32_t TAVO_GetModelRegionTexture(int32_t handle, int32_t region, ImageHandle image) {
    TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    if (region < 0 || static_cast<std::size_t>(region) >= model->regions.size()) return TAVO_ERR_GENERAL;
    ImageHandle source = -1;
    if (!kelmo::regionTextureImage(*model, region, source)) return TAVO_ERR_NO_TEXTURE;
    return TAVO_CopyImage(source, image);
}

int32_t TAVO_GetModelRegionTextureCoords(int32_t handle, int32_t region, float *coordinates) {
    TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    if (coordinates == nullptr || region < 0 || static_cast<std::size_t>(region) >= model->regions.size())
        return TAVO_ERR_GENERAL;
    try {
        const std::vector<TPointf> table = kelmo::vertexTextureTable(model->regions[static_cast<std::size_t>(region)]);
        for (std::size_t i = 0; i < table.size(); ++i) {
            coordinates[2 * i] = table[i].x;
            coordinates[2 * i + 1] = table[i].y;
        }
    } catch (const std::bad_alloc &) {
        return TAVO_ERR_GENERAL;
    }
    return TAVO_OK;
}

int32_t TAVO_GetModelGrid(int32_t handle, int32_t *points) {
    TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    // A null array is refused like the other accessors' (docs/design.md).
    if (points == nullptr) return TAVO_ERR_GENERAL;
    for (std::size_t i = 0; i < model->faceGrid.size(); ++i) {
        points[2 * i] = kelmo::truncateToInt32(model->faceGrid[i].x);
        points[2 * i + 1] = kelmo::truncateToInt32(model->faceGrid[i].y);
    }
    return TAVO_OK;
}

}  // extern "C"
