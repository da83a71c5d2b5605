// The soak: a host's whole session, again and again, through the TAVO_
// interface: initialise, create a model from a photo, render it, morph it,
// pull a muscle, copy it, free everything, finalise. Memory that a cycle
// forgets to give back shows as resident memory that grows from cycle to
// cycle, and a handle that a cycle forgets shows in the tables.
//
//   kelmo_soak [CYCLES] [DATA_DIR/]     (default 20000 cycles, the synthetic full head)
//
// Prints the resident memory and the tables' occupancy after the first cycle,
// after ten (the start: by then the library's one-time allocations are made and
// the allocator has settled on where the 8 MB square-root table, read afresh by
// every initialisation, lives), every 10 % of the run and at the end; exits 1
// when resident memory grew by 1 MB or more from the start, or a model or an
// image of a cycle is left.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "frame/library_state.h"
#include "kelmo.h"
#include "tests/support/synthetic_data.h"

namespace {

long residentKilobytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Images that the library holds between sessions by design: the shared alpha
// mask, teeth and sock images stay loaded after finalisation.
int liveImages() {
    int count = 0, width = 0;
    for (ImageHandle handle = 0; handle < 4096; ++handle) count += TAVO_GetImageWidth(handle, &width) == 0;
    return count;
}

int liveModels() {
    int count = 0;
    for (const auto &slot : kelmo::libraryState().models) count += slot != nullptr;
    return count;
}

bool check(int32_t status, const char *call) {
    if (status != 0) std::fprintf(stderr, "kelmo_soak: %s gave %d\n", call, status);
    return status == 0;
}

// One session; false when a call failed.
bool cycle(const std::string &data, const std::vector<uint8_t> &rgb, const std::vector<int32_t> &points) {
    bool ok = check(TAVO_InitKelmo(data.c_str()), "TAVO_InitKelmo");
    int32_t model = -1, copy = -1, morph = -1;
    ImageHandle photo = -1, picture = -1;
    ok = ok && check(TAVO_InitModel(&model, 0), "TAVO_InitModel");
    ok = ok && check(TAVO_LoadImageFromBuffer(&photo, rgb.data(), 512, 512, 512 * 3, TAVO_IMAGEMODE_COLOR),
                     "TAVO_LoadImageFromBuffer");
    ok = ok && check(TAVO_CreateModelFromPhoto(model, photo, points.data(), 0, nullptr), "TAVO_CreateModelFromPhoto");
    ok = ok && check(TAVO_CreateEmptyImage(&picture), "TAVO_CreateEmptyImage");
    ok = ok && check(TAVO_BeginRendering(160, 160), "TAVO_BeginRendering");
    ok = ok && check(TAVO_RotateModel(model, 0.0f, 20.0f, 0.0f), "TAVO_RotateModel");
    ok = ok && check(TAVO_RenderModelToImage(model, picture), "TAVO_RenderModelToImage");
    // A morph that lifts regions 0 to 2 a little, converted to this head.
    std::vector<int32_t> counts(3);
    for (int32_t r = 0; ok && r < 3; ++r) ok = check(TAVO_GetModelNumVertices(model, r, &counts[r]), "count");
    ok = ok && check(TAVO_InitModel(&morph, 1), "TAVO_InitModel");
    const std::vector<TVector3f> lift(std::size_t(counts[0] + counts[1] + counts[2]), TVector3f{0.0f, 0.02f, 0.0f});
    ok = ok && check(TAVO_SetModelVertexLists(morph, 3, counts.data(), lift.data()), "TAVO_SetModelVertexLists");
    ok = ok && check(TAVO_AdjustModelDeformation(model, morph), "TAVO_AdjustModelDeformation");
    ok = ok && check(TAVO_ApplyMorph(model, morph, 0.8f), "TAVO_ApplyMorph");
    TVector3f features[66];
    ok = ok && check(TAVO_GetModel3DPoints(model, features), "TAVO_GetModel3DPoints");
    if (ok) {
        const TVector3f a{features[36].x - 0.2f, features[36].y - 0.9f, features[36].z}, b = features[3];
        const TVector3f f{a.x - 0.4f, a.y, a.z}, g{a.x + 0.4f, a.y, a.z};
        ok = check(TAVO_LinearMuscleContraction(model, &a, &b, &f, &g, 0.3f, 0.25f, 1.0f, nullptr, 3),
                   "TAVO_LinearMuscleContraction");
    }
    ok = ok && check(TAVO_InitModel(&copy, 0), "TAVO_InitModel");
    ok = ok && check(TAVO_CopyModel(model, copy), "TAVO_CopyModel");
    ok = ok && check(TAVO_RenderModelToImage(copy, picture), "TAVO_RenderModelToImage");
    for (const int32_t handle : {model, copy, morph})
        if (handle >= 0) TAVO_FreeModel(handle);
    for (const ImageHandle handle : {photo, picture})
        if (handle >= 0) TAVO_FreeImage(handle);
    return check(TAVO_FinalizeKelmo(), "TAVO_FinalizeKelmo") && ok;
}

}  // namespace

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // progress shows as it happens
    const long cycles = argc > 1 ? std::atol(argv[1]) : 20000;
    std::string data = argc > 2 ? argv[2] : "";
    const std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / ("kelmo-soak-" + std::to_string(::getpid()));
    if (data.empty()) {
        kelmo::testing::SyntheticDataFiles files;
        files.fullHead = true;
        data = kelmo::testing::writeSyntheticDataDirectory(scratch.string(), files);
    }
    // A photo of the synthetic full head's closed neutral face: its feature
    // points at 120 pixels per unit about the centre, on a noisy background.
    std::vector<uint8_t> rgb(512 * 512 * 3);
    for (std::size_t k = 0; k < rgb.size(); ++k) rgb[k] = static_cast<uint8_t>((k * 2654435761u) >> 24);
    std::vector<int32_t> points;
    for (const TVector3f &p : kelmo::testing::fullHeadFeaturePoints(0))
        points.insert(points.end(), {int32_t(std::lround(256.0f + 120.0f * p.x)), int32_t(std::lround(256.0f - 120.0f * p.y))});

    const auto start = std::chrono::steady_clock::now();
    bool ok = cycles > 0 && cycle(data, rgb, points);
    const int imagesBetweenSessions = liveImages();
    long first = residentKilobytes();
    std::printf("%-8s %12s %10s %8s\n", "cycle", "resident kB", "models", "images");
    std::printf("%-8d %12ld %10d %8d\n", 1, first, liveModels(), imagesBetweenSessions);
    for (long k = 2; ok && k <= cycles; ++k) {
        ok = cycle(data, rgb, points);
        if (k == 10) first = residentKilobytes();
        if (k == 10 || k % std::max(1L, cycles / 10) == 0 || k == cycles)
            std::printf("%-8ld %12ld %10d %8d\n", k, residentKilobytes(), liveModels(), liveImages());
    }
    const long last = residentKilobytes();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    // Growth is judged from the tenth cycle on; a shorter run (the one under
    // valgrind) checks only the tables.
    const bool held = (cycles <= 10 || last - first < 1024) && liveModels() == 0 &&
                      liveImages() == imagesBetweenSessions;
    std::printf("%ld cycles in %.1f s: resident memory %ld kB -> %ld kB (%+ld kB), %d models and %d images "
                "(the shared mask, teeth and sock) between sessions: %s\n",
                cycles, seconds, first, last, last - first, liveModels(), liveImages(),
                ok && held ? "held" : "FAILED");
    return ok && held ? 0 : 1;
}
