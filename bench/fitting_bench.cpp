// Benchmarks of creation from a photo and of its 3D radial-basis fitting, on
// the synthetic full head of the tests (3025 vertices
// in region 0): TAVO_CreateModelFromPhoto end to end on a 512 x 512 and a
// 4000 x 3000 photo with the alpha mask on and off; the 56 x 56 solve alone;
// deformRegion over the four deformed regions (0, 1, 2, 5) alone.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "fitting/interpolator3d.h"
#include "fitting/model_from_photo.h"
#include "frame/library_state.h"
#include "kelmo.h"
#include "model/model_table.h"
#include "tavoimage.h"
#include "tests/support/synthetic_head.h"

namespace {

using namespace kelmo;

// The library state that TAVO_InitKelmo would build from the synthetic data
// directory, filled in directly (no files): the four full-head meshes, the
// landmark and list7 tables, a 256 x 256 elliptic alpha mask with its grid at
// the frame's feature layout, and the warp's square-root table.
void prepareLibraryState() {
    static const bool prepared = [] {
        LibraryState &state = libraryState();
        for (int e = 0; e < 4; ++e) {
            state.expressionMeshes[static_cast<std::size_t>(e)] = std::make_unique<TModel>();
            state.expressionMeshes[static_cast<std::size_t>(e)]->regions = testing::fullHeadRegions(e);
        }
        state.landmarkTable = testing::fullHeadLandmarkTable();
        state.list7Table = testing::fullHeadList7Table();
        std::vector<uint8_t> mask(256 * 256);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) {
                const double dx = (x - 128) / 95.0, dy = (y - 130) / 115.0;
                mask[static_cast<std::size_t>(y * 256 + x)] = dx * dx + dy * dy <= 1.0 ? 255 : 0;
            }
        TAVO_LoadImageFromBuffer(&state.alphaMaskImage, mask.data(), 256, 256, 256, TAVO_IMAGEMODE_GREY);
        const auto points = testing::fullHeadFeaturePoints(0);
        for (int k = 0; k < kFeaturePointCount; ++k) {
            state.alphaGrid[static_cast<std::size_t>(k)] =
                IntPoint{static_cast<int32_t>(128.0f + 86.0f * points[static_cast<std::size_t>(k)].x),
                         static_cast<int32_t>(128.0f - 86.0f * points[static_cast<std::size_t>(k)].y)};
        }
        state.sqrtTable.resize(std::size_t{1} << 21);
        for (std::size_t i = 0; i < state.sqrtTable.size(); ++i) state.sqrtTable[i] = std::sqrt(static_cast<float>(i));
        state.sqrtTableHoldsRoots = true;  // as reading the file finds it
        return true;
    }();
    static_cast<void>(prepared);
}

ImageHandle makePhoto(int32_t width, int32_t height) {
    std::vector<uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t k = 0; k < rgb.size(); ++k) rgb[k] = static_cast<uint8_t>((k * 2654435761u) >> 24);
    ImageHandle photo = -1;
    TAVO_LoadImageFromBuffer(&photo, rgb.data(), width, height, width * 3, TAVO_IMAGEMODE_COLOR);
    return photo;
}

// The head's feature points in a photo: `pixelsPerUnit` about the centre.
std::vector<int32_t> photoPoints(int expression, float pixelsPerUnit, float cx, float cy) {
    std::vector<int32_t> points;
    for (const TVector3f &p : testing::fullHeadFeaturePoints(expression)) {
        points.push_back(static_cast<int32_t>(std::lround(cx + pixelsPerUnit * p.x)));
        points.push_back(static_cast<int32_t>(std::lround(cy - pixelsPerUnit * p.y)));
    }
    return points;
}

// Arguments: photo width, height, mask (1 on, 0 off).
void BM_CreateModelFromPhoto(benchmark::State &state) {
    prepareLibraryState();
    const auto width = static_cast<int32_t>(state.range(0));
    const auto height = static_cast<int32_t>(state.range(1));
    const bool mask = state.range(2) != 0;
    const ImageHandle photo = makePhoto(width, height);
    // The face fills about 40 % of the photo's height, as in a portrait.
    const float pixelsPerUnit = 0.4f * static_cast<float>(height) / 2.5f;
    const std::vector<int32_t> points =
        photoPoints(3, pixelsPerUnit, 0.5f * static_cast<float>(width), 0.5f * static_cast<float>(height));
    int32_t handle = -1;
    TAVO_InitModel(&handle, mask ? 0 : 1);
    for (auto _ : state) {
        float scale = 0.0f;
        const int32_t status = TAVO_CreateModelFromPhoto(handle, photo, points.data(), 0, &scale);
        benchmark::DoNotOptimize(status);
        benchmark::DoNotOptimize(scale);
    }
    TAVO_FreeModel(handle);
    TAVO_FreeImage(photo);
}
BENCHMARK(BM_CreateModelFromPhoto)
    ->Args({512, 512, 0})
    ->Args({512, 512, 1})
    ->Args({4000, 3000, 0})
    ->Args({4000, 3000, 1})
    ->Unit(benchmark::kMillisecond);

// A model fitted once, whose interpolator and regions the two benchmarks
// below reuse.
const TModel &fittedModel() {
    static const TModel *model = [] {
        prepareLibraryState();
        const ImageHandle photo = makePhoto(512, 512);
        const std::vector<int32_t> points = photoPoints(3, 82.0f, 256.0f, 256.0f);
        int32_t handle = -1;
        TAVO_InitModel(&handle, 1);
        TAVO_CreateModelFromPhoto(handle, photo, points.data(), 0, nullptr);
        TAVO_FreeImage(photo);
        return resolveModel(handle);
    }();
    return *model;
}

// The solve alone: the 56 x 56 distance matrix and LAPACKE_sgesv.
void BM_Interpolator3DSolve56(benchmark::State &state) {
    TInterpolator3D interpolator;
    interpolator.centres = fittedModel().interpolator.centres;
    interpolator.values = fittedModel().interpolator.values;
    for (auto _ : state) {
        interpolator.weights.clear();  // solve appends
        interpolatorSolve(interpolator);
        benchmark::DoNotOptimize(interpolator.weights.data());
    }
}
BENCHMARK(BM_Interpolator3DSolve56)->Unit(benchmark::kMicrosecond);

// deformRegion over regions 0, 1, 2 and 5 of the unfitted head.
void BM_DeformRegions(benchmark::State &state) {
    const TModel &model = fittedModel();
    const TModel &mesh = *libraryState().expressionMeshes[3];
    std::vector<TRegion> original = {mesh.regions[0], mesh.regions[1], mesh.regions[2], model.regions[5]};
    std::vector<TRegion> regions = original;
    std::size_t vertexCount = 0;
    for (const TRegion &region : original) vertexCount += region.vertices.size();
    for (auto _ : state) {
        state.PauseTiming();
        regions = original;
        state.ResumeTiming();
        for (TRegion &region : regions) deformRegion(region, model.interpolator);
        benchmark::DoNotOptimize(regions.data());
    }
    state.counters["vertices"] = static_cast<double>(vertexCount);
}
BENCHMARK(BM_DeformRegions)->Unit(benchmark::kMicrosecond);

}  // namespace
