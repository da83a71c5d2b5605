// The binary face files of the expression meshes: a file either fills all
// five regions with a mesh whose every corner is in range, or leaves the
// model exactly as it was.
#include "fuzz/fuzz_support.h"
#include "model/face_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static kelmo::fuzz::MemoryFile file;
    file.assign(data, size);
    kelmo::TModel model;
    model.regions.resize(2);
    model.regions[1].vertices = {{1.0f, 2.0f, 3.0f}};
    const int32_t status = kelmo::readFaceFile(model, file.path());
    if (status != kelmo::kFaceFileOk) {
        FUZZ_CHECK(status == kelmo::kFaceFileMalformed);
        FUZZ_CHECK(model.regions.size() == 2 && model.regions[0].vertices.empty() &&
                   model.regions[1].vertices.size() == 1 && model.regions[1].vertices[0].z == 3.0f);
        return 0;
    }
    FUZZ_CHECK(model.regions.size() == kelmo::kFaceFileRegionCount);
    for (const kelmo::TRegion &region : model.regions) {
        FUZZ_CHECK(region.quads.size() == region.textureQuads.size());
        for (std::size_t q = 0; q < region.quads.size(); ++q)
            for (int c = 0; c < 4; ++c) {
                FUZZ_CHECK(region.quads[q][c] >= 0 && std::size_t(region.quads[q][c]) < region.vertices.size());
                FUZZ_CHECK(region.textureQuads[q][c] >= 0 &&
                           std::size_t(region.textureQuads[q][c]) < region.textureCoords.size());
            }
    }
    return 0;
}
