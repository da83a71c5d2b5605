// The kelmo tool's muscle files (render --muscle): any text gives a muscle or
// a CliError; a muscle that parses pulls a small face patch without making a
// vertex non-finite or moving one in z, and a refused one moves nothing.
#include <cmath>

#include "fuzz/fuzz_support.h"
#include "model/model_table.h"
#include "tools/kelmo/cli.h"
#include "tools/kelmo/muscle_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    kelmo::cli::MuscleDefinition muscle;
    try {
        muscle = kelmo::cli::parseMuscle(std::string(reinterpret_cast<const char *>(data), size), "pull.muscle");
    } catch (const kelmo::cli::CliError &error) {
        FUZZ_CHECK(error.exitCode() == 1);
        return 0;
    }
    FUZZ_CHECK(muscle.regions >= 1 && muscle.regions <= 9);
    std::array<TVector3f, 66> features{};
    for (int k = 0; k < 66; ++k) features[k] = {std::cos(k * 0.1f), std::sin(k * 0.1f), 1.0f + 0.01f * k};
    int32_t handle = -1;
    FUZZ_CHECK(TAVO_InitModel(&handle, 0) == 0);
    std::vector<kelmo::TRegion> &regions = kelmo::resolveModel(handle)->regions;
    regions.resize(2);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x) regions[0].vertices.push_back({x * 0.25f - 1.0f, y * 0.25f - 1.0f, 1.0f});
    regions[1] = regions[0];
    const std::vector<kelmo::TRegion> before = regions;
    const TVector3f a = resolve(muscle.attachment, features), b = resolve(muscle.insertion, features),
                    f = resolve(muscle.bound1, features), g = resolve(muscle.bound2, features);
    const int32_t status = TAVO_LinearMuscleContraction(handle, &a, &b, &f, &g, muscle.extension, muscle.strength,
                                                        muscle.sharpness, nullptr, muscle.regions);
    FUZZ_CHECK(status == TAVO_OK || status == TAVO_ERR_GENERAL);
    for (std::size_t r = 0; r < regions.size(); ++r)
        for (std::size_t v = 0; v < regions[r].vertices.size(); ++v) {
            const TVector3f &now = regions[r].vertices[v], &was = before[r].vertices[v];
            FUZZ_CHECK(std::isfinite(now.x) && std::isfinite(now.y) && now.z == was.z);
            FUZZ_CHECK(status == TAVO_OK || (now.x == was.x && now.y == was.y));
        }
    FUZZ_CHECK(TAVO_FreeModel(handle) == 0);
    return 0;
}
