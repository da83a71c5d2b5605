// Benchmarks of the deformation units (morphs, model deformation, muscles)
// and the VRML import: TAVO_ApplyMorph and TAVO_AdjustModelDeformation on a head fitted
// to a photo of the synthetic full head (3025 vertices in region 0), with the
// open-mouth morph of its expression meshes; TAVO_LinearMuscleContraction over
// regions 0 to 2 of that head; TAVO_LoadModelVRML of a generated head of about
// 6000 quads.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "deform/vertex_lists.h"
#include "frame/library_state.h"
#include "kelmo.h"
#include "model/model_table.h"
#include "tavoimage.h"
#include "tests/support/synthetic_head.h"

namespace {

using namespace kelmo;

// The parts of the library state that creation from a photo needs with the
// alpha mask off, filled in directly from the synthetic full head (unless
// another benchmark has filled them already).
void prepareExpressionMeshes() {
    LibraryState &state = libraryState();
    if (state.expressionMeshes[0] != nullptr && state.landmarkTable.size() >= 66) return;
    for (int e = 0; e < 4; ++e) {
        state.expressionMeshes[static_cast<std::size_t>(e)] = std::make_unique<TModel>();
        state.expressionMeshes[static_cast<std::size_t>(e)]->regions = testing::fullHeadRegions(e);
    }
    state.landmarkTable = testing::fullHeadLandmarkTable();
    state.list7Table = testing::fullHeadList7Table();
}

// A model created from a photo of the closed neutral head (mask off).
int32_t fittedHead() {
    static const int32_t handle = [] {
        prepareExpressionMeshes();
        std::vector<uint8_t> rgb(512 * 512 * 3);
        for (std::size_t k = 0; k < rgb.size(); ++k) rgb[k] = static_cast<uint8_t>((k * 2654435761u) >> 24);
        ImageHandle photo = -1;
        TAVO_LoadImageFromBuffer(&photo, rgb.data(), 512, 512, 512 * 3, TAVO_IMAGEMODE_COLOR);
        std::vector<int32_t> points;
        for (const TVector3f &p : testing::fullHeadFeaturePoints(0)) {
            points.push_back(static_cast<int32_t>(std::lround(256.0f + 120.0f * p.x)));
            points.push_back(static_cast<int32_t>(std::lround(256.0f - 120.0f * p.y)));
        }
        int32_t model = -1;
        TAVO_InitModel(&model, 1);
        TAVO_CreateModelFromPhoto(model, photo, points.data(), 0, nullptr);
        TAVO_FreeImage(photo);
        return model;
    }();
    return handle;
}

// The open-mouth morph: expression mesh 1 less mesh 0, regions 0 to 4.
VertexLists openMouthDisplacements() {
    prepareExpressionMeshes();
    const TModel &closed = *libraryState().expressionMeshes[0];
    const TModel &open = *libraryState().expressionMeshes[1];
    VertexLists lists(closed.regions.size());
    for (std::size_t r = 0; r < lists.size(); ++r)
        for (std::size_t j = 0; j < closed.regions[r].vertices.size(); ++j) {
            const TVector3f &a = closed.regions[r].vertices[j];
            const TVector3f &b = open.regions[r].vertices[j];
            lists[r].push_back({b.x - a.x, b.y - a.y, b.z - a.z});
        }
    return lists;
}

std::size_t vertexCount(int32_t handle, std::size_t regionCount) {
    const TModel &model = *resolveModel(handle);
    std::size_t count = 0;
    for (std::size_t r = 0; r < regionCount && r < model.regions.size(); ++r) count += model.regions[r].vertices.size();
    return count;
}

// The open-mouth morph converted for the fitted head.
void BM_AdjustModelDeformation(benchmark::State &state) {
    const int32_t model = fittedHead();
    const VertexLists displacements = openMouthDisplacements();
    int32_t morph = -1;
    TAVO_InitModel(&morph, 1);
    for (auto _ : state) {
        state.PauseTiming();
        TAVO_SetModelVertices(morph, displacements);
        state.ResumeTiming();
        benchmark::DoNotOptimize(TAVO_AdjustModelDeformation(model, morph));
    }
    state.counters["vertices"] = static_cast<double>(vertexCount(morph, 3));
    TAVO_FreeModel(morph);
}
BENCHMARK(BM_AdjustModelDeformation)->Unit(benchmark::kMicrosecond);

// The converted morph added to a copy of the fitted head (nine
// regions, the sock pinned again). Each call accumulates; the weight's sign
// alternates so that the head stays where it was.
void BM_ApplyMorph(benchmark::State &state) {
    const int32_t fitted = fittedHead();
    int32_t model = -1;
    TAVO_InitModel(&model, 1);
    TAVO_CopyModel(fitted, model);
    int32_t morph = -1;
    TAVO_InitModel(&morph, 1);
    TAVO_SetModelVertices(morph, openMouthDisplacements());
    TAVO_AdjustModelDeformation(fitted, morph);
    float weight = 1.0f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(TAVO_ApplyMorph(model, morph, weight));
        weight = -weight;
    }
    state.counters["vertices"] = static_cast<double>(vertexCount(model, 9));
    TAVO_FreeModel(morph);
    TAVO_FreeModel(model);
}
BENCHMARK(BM_ApplyMorph)->Unit(benchmark::kMicrosecond);

// A muscle from the corner of the mouth toward the cheek over
// regions 0 to 2 of a copy of the fitted head (restored outside the timing).
void BM_LinearMuscleContraction(benchmark::State &state) {
    const int32_t fitted = fittedHead();
    int32_t model = -1;
    TAVO_InitModel(&model, 1);
    TAVO_CopyModel(fitted, model);
    const std::vector<TRegion> original = resolveModel(model)->regions;
    const TVector3f a{0.8f, 0.3f, 0.8f};
    const TVector3f b{0.35f, -0.6f, 0.95f};
    const TVector3f f{0.45f, -0.6f, 1.2f};
    const TVector3f g{0.2f, -0.5f, 0.9f};
    for (auto _ : state) {
        state.PauseTiming();
        resolveModel(model)->regions = original;
        state.ResumeTiming();
        benchmark::DoNotOptimize(TAVO_LinearMuscleContraction(model, &a, &b, &f, &g, 0.4f, 0.05f, 2.0f, nullptr, 3));
    }
    state.counters["vertices"] = static_cast<double>(vertexCount(model, 3));
    TAVO_FreeModel(model);
}
BENCHMARK(BM_LinearMuscleContraction)->Unit(benchmark::kMicrosecond);

// A VRML head of 6 shapes; region 0 a grid of 75 x 74 = 5550 quads
// (5700 points), the others about 100 quads each; all of region 0 visible
// except every fifth quad.
struct VrmlFiles {
    std::string directory;
    std::string head;
    ~VrmlFiles() {
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
    }
};

void appendGridShape(std::string &text, int columns, int rows, float z) {
    char line[96];
    text += "Shape {\n  geometry IndexedFaceSet {\n    coord Coordinate {\n      point [\n";
    for (int j = 0; j <= rows; ++j)
        for (int i = 0; i <= columns; ++i) {
            std::snprintf(line, sizeof line, "        %g %g %g,\n", i * 0.7 - 20.0, j * 0.9 - 30.0, z + 0.01 * i * j);
            text += line;
        }
    text += "      ]\n    }\n    texCoord TextureCoordinate {\n      point [\n";
    for (int j = 0; j <= rows; ++j)
        for (int i = 0; i <= columns; ++i) {
            std::snprintf(line, sizeof line, "        %g %g,\n", static_cast<double>(i) / columns,
                          static_cast<double>(j) / rows);
            text += line;
        }
    std::string quads;
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i) {
            const int a = j * (columns + 1) + i;
            std::snprintf(line, sizeof line, "        %d, %d, %d, %d, -1,\n", a, a + 1, a + columns + 2, a + columns + 1);
            quads += line;
        }
    text += "      ]\n    }\n    coordIndex [\n" + quads + "    ]\n    texCoordIndex [\n" + quads + "    ]\n  }\n}\n";
}

const VrmlFiles &vrmlFiles() {
    static const VrmlFiles files = [] {
        VrmlFiles made;
        made.directory = (std::filesystem::temp_directory_path() / ("kelmo_bench_vrml_" + std::to_string(getpid()))).string();
        std::filesystem::create_directories(made.directory + "/orvane");
        std::string text = "#VRML V2.0 utf8\n";
        for (int shape = 0; shape < 6; ++shape) {
            if (shape == 2) appendGridShape(text, 75, 74, 10.0f);
            else appendGridShape(text, 10, 10, static_cast<float>(shape));
        }
        made.head = made.directory + "/head.wrl";
        std::FILE *file = std::fopen(made.head.c_str(), "w");
        std::fputs(text.c_str(), file);
        std::fclose(file);
        std::vector<uint8_t> visibility(5550, 1);
        for (std::size_t q = 0; q < visibility.size(); q += 5) visibility[q] = 0;
        file = std::fopen((made.directory + "/orvane/VisibleMeshes.vsl").c_str(), "wb");
        std::fwrite(visibility.data(), 1, visibility.size(), file);
        std::fclose(file);
        return made;
    }();
    return files;
}

void BM_LoadModelVRML(benchmark::State &state) {
    const VrmlFiles &files = vrmlFiles();
    TAVO_SetDriveRoot(files.directory.c_str());
    int32_t model = -1;
    TAVO_InitModel(&model, 1);
    for (auto _ : state) benchmark::DoNotOptimize(TAVO_LoadModelVRML(files.head.c_str(), model));
    std::size_t quads = 0;
    for (const TRegion &region : resolveModel(model)->regions) quads += region.quads.size();
    state.counters["quads kept"] = static_cast<double>(quads);
    TAVO_FreeModel(model);
    TAVO_SetDriveRoot("/");
}
BENCHMARK(BM_LoadModelVRML)->Unit(benchmark::kMillisecond);

}  // namespace
