// A head from a VRML file and its visibility file. The first two input bytes
// give the visibility file's length (little-endian); those bytes follow, and
// the rest is the VRML file. An import either gives six regions whose every
// corner is in range, or leaves the model as it was.
#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "kelmo.h"
#include "model/model_table.h"
#include "model/vrml_import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static kelmo::fuzz::MemoryFile vrml, visibility;
    static const bool rooted = [] {
        kelmo::fuzz::linkTo(visibility.path(), kelmo::fuzz::scratchDirectory() + "/orvane/VisibleMeshes.vsl");
        return TAVO_SetDriveRoot(kelmo::fuzz::scratchDirectory().c_str()) == 0;
    }();
    FUZZ_CHECK(rooted);
    if (size < 2) return 0;
    const std::size_t visibleBytes = std::min<std::size_t>(data[0] | data[1] << 8, size - 2);
    visibility.assign(data + 2, visibleBytes);
    vrml.assign(data + 2 + visibleBytes, size - 2 - visibleBytes);

    int32_t handle = -1;
    FUZZ_CHECK(TAVO_InitModel(&handle, 0) == 0);
    kelmo::TModel &model = *kelmo::resolveModel(handle);
    model.regions.resize(3);
    model.regions[2].vertices = {{4.0f, 5.0f, 6.0f}};
    const int32_t status = TAVO_LoadModelVRML(vrml.path().c_str(), handle);
    if (status != TAVO_OK) {
        FUZZ_CHECK(status == TAVO_ERR_GENERAL && model.regions.size() == 3 && model.regions[2].vertices.size() == 1);
    } else {
        FUZZ_CHECK(model.regions.size() >= kelmo::kVrmlShapeCount);
        for (const kelmo::TRegion &region : model.regions)
            for (std::size_t q = 0; q < region.quads.size(); ++q)
                for (int c = 0; c < 4; ++c)
                    FUZZ_CHECK(region.quads[q][c] >= 0 && std::size_t(region.quads[q][c]) < region.vertices.size());
    }
    FUZZ_CHECK(TAVO_FreeModel(handle) == 0);
    return 0;
}
