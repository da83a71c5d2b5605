// Benchmark of TAVO_InitKelmo on the tests' synthetic data
// directory: the alpha mask reduced to its frame, the teeth and sock images,
// the tables, four face files and the 8 MiB square-root table.
#include <benchmark/benchmark.h>

#include <string>

#include "kelmo.h"
#include "support/synthetic_data.h"

namespace {

void BM_InitKelmo(benchmark::State &state) {
    kelmo::testing::SyntheticDataFiles files;
    files.fullHead = state.range(0) != 0;
    const std::string directory = kelmo::testing::writeSyntheticDataDirectory(
        kelmo::testing::makeTemporaryDirectory("bench_init"), files);
    for (auto _ : state) {
        const int32_t status = TAVO_InitKelmo(directory.c_str());
        if (status != TAVO_OK) {
            state.SkipWithError("TAVO_InitKelmo failed");
            break;
        }
        benchmark::DoNotOptimize(status);
    }
    TAVO_FinalizeKelmo();
    state.SetLabel(files.fullHead ? "full synthetic head (3025 vertices)" : "small synthetic head");
}
BENCHMARK(BM_InitKelmo)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
