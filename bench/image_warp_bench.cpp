// Benchmarks of TAVO_WarpImageRBF: 70 control points, a 256 x 256
// image in mode 0 and a 1024 x 1024 image (the largest square image the warp
// accepts) in modes 0 and 2, each with 1 and 2 OpenMP threads, at the plain
// kernel level (0, one pixel at a time) and the widest (3). Wall-clock
// time, because the evaluation runs on several threads. Then the dense solve
// alone, for the 70 points of a face's landmarks and corners and for 1028.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "frame/kernel_level.h"
#include "frame/library_state.h"
#include "frame/pixel_buffer.h"
#include "frame/resampling.h"
#include "warp/image_warp.h"
#include "warp/interpolator.h"
#include "kelmo.h"
#include "tavoimage.h"

namespace {

// The benchmark fills the process-wide table directly (entry i = sqrtf(i), as
// "sqrt.dat" holds) instead of writing and loading the file.
void loadSqrtTable() {
    static const bool loaded = [] {
        std::vector<float> &table = kelmo::libraryState().sqrtTable;
        table.resize(std::size_t{1} << 21);
        for (std::size_t i = 0; i < table.size(); ++i) {
            table[i] = std::sqrt(static_cast<float>(i));
        }
        // As reading the file finds it.
        kelmo::libraryState().sqrtTableHoldsRoots = true;
        return true;
    }();
    static_cast<void>(loaded);
}

ImageHandle makeSource(int32_t side, TAVO_IMAGEMODE mode) {
    const int32_t channels = mode == TAVO_IMAGEMODE_GREY ? 1 : mode == TAVO_IMAGEMODE_COLOR ? 3 : 4;
    std::vector<uint8_t> pixels(static_cast<std::size_t>(side) * side * channels + 1);
    for (std::size_t k = 0; k + 1 < pixels.size(); ++k) {
        pixels[k] = static_cast<uint8_t>((k * 2654435761u) >> 24);
    }
    ImageHandle image = -1;
    TAVO_LoadImageFromBuffer(&image, pixels.data(), side, side, side * channels, mode);
    return image;
}

constexpr int32_t kPointCount = 70;

// 70 destination points scattered over a side x side image, and source
// points within side / 32 of them.
struct WarpPoints {
    std::vector<int32_t> source, destination;
    explicit WarpPoints(int32_t side) {
        std::mt19937 random(42);
        std::uniform_int_distribution<int32_t> coordinate(0, side - 1);
        std::uniform_int_distribution<int32_t> shift(-side / 32, side / 32);
        for (int32_t k = 0; k < kPointCount; ++k) {
            const int32_t x = coordinate(random);
            const int32_t y = coordinate(random);
            destination.insert(destination.end(), {x, y});
            source.insert(source.end(), {x + shift(random), y + shift(random)});
        }
    }
};

void BM_WarpImageRBF(benchmark::State &state) {
    const auto side = static_cast<int32_t>(state.range(0));
    const auto mode = static_cast<TAVO_IMAGEMODE>(state.range(1));
    const auto threads = static_cast<int>(state.range(2));
    kelmo::setKernelLevel(static_cast<kelmo::KernelLevel>(state.range(3)));
    loadSqrtTable();
    const WarpPoints points(side);
    const std::vector<int32_t> &sourcePoints = points.source;
    const std::vector<int32_t> &destinationPoints = points.destination;
    const ImageHandle source = makeSource(side, mode);
    ImageHandle destination = -1;
    TAVO_CreateEmptyImage(&destination);

    const int savedThreads = omp_get_max_threads();
    omp_set_num_threads(threads);
    for (auto _ : state) {
        const int32_t status = TAVO_WarpImageRBF(source, destination, sourcePoints.data(), destinationPoints.data(),
                                                 kPointCount, mode);
        benchmark::DoNotOptimize(status);
    }
    omp_set_num_threads(savedThreads);
    kelmo::setKernelLevel(kelmo::bestKernelLevel());
    TAVO_FreeImage(destination);
    TAVO_FreeImage(source);
}

BENCHMARK(BM_WarpImageRBF)
    ->ArgNames({"side", "mode", "threads", "level"})
    ->Args({256, 0, 1, 3})
    ->Args({256, 0, 2, 3})
    ->ArgsProduct({{1024}, {0, 2}, {1, 2}, {0, 3}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One thread against two on a 1024 x 1024 warp at the widest level, timed
// in alternation, three warps on one thread then three on two, so that both
// see the same load on a shared machine (separate runs of the two cases can
// be minutes apart). Counters: the median times of each and the speed-up,
// the ratio of the medians. The benchmark's own time is that of all six.
void BM_WarpThreadSpeedUp(benchmark::State &state) {
    const auto mode = static_cast<TAVO_IMAGEMODE>(state.range(0));
    constexpr int32_t side = 1024;
    kelmo::setKernelLevel(kelmo::bestKernelLevel());
    loadSqrtTable();
    const WarpPoints points(side);
    const ImageHandle source = makeSource(side, mode);
    ImageHandle destination = -1;
    TAVO_CreateEmptyImage(&destination);
    const int savedThreads = omp_get_max_threads();
    std::vector<double> times[2];
    for (auto _ : state) {
        for (int threads = 1; threads <= 2; ++threads) {
            omp_set_num_threads(threads);
            // The first warp after a switch is not timed: it wakes the second
            // thread, which slept through the one-thread warps, as a host
            // that keeps warping on two threads does not.
            for (int warp = 0; warp < 3; ++warp) {
                const auto start = std::chrono::steady_clock::now();
                const int32_t status = TAVO_WarpImageRBF(source, destination, points.source.data(),
                                                         points.destination.data(), kPointCount, mode);
                benchmark::DoNotOptimize(status);
                const double elapsed =
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
                if (warp > 0) times[threads - 1].push_back(elapsed);
            }
        }
    }
    double medians[2] = {0.0, 0.0};
    for (int k = 0; k < 2; ++k) {
        std::vector<double> &sorted = times[k];
        if (sorted.empty()) continue;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
        medians[k] = sorted[sorted.size() / 2];
    }
    state.counters["one_thread_ms"] = medians[0];
    state.counters["two_threads_ms"] = medians[1];
    state.counters["speed_up"] = medians[1] > 0.0 ? medians[0] / medians[1] : 0.0;
    omp_set_num_threads(savedThreads);
    TAVO_FreeImage(destination);
    TAVO_FreeImage(source);
}

BENCHMARK(BM_WarpThreadSpeedUp)->ArgName("mode")->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The stages of one 1024 x 1024 warp at the widest kernel level, one
// thread, each alone: 0 solve, 1 half-size field (with the table's check and
// the distance grid), 2 both enlargements, 3 a pass over both maps (adding
// the positions), 4 the source captured into a buffer, 5 remap, 6 the
// rows delivered into the destination image (the warp delivers band by
// band; here in one call).
void BM_WarpStage(benchmark::State &state) {
    const auto stage = static_cast<int>(state.range(0));
    const auto mode = static_cast<TAVO_IMAGEMODE>(state.range(1));
    const int32_t channels = mode == TAVO_IMAGEMODE_GREY ? 1 : 4;
    constexpr int32_t side = 1024;
    constexpr int32_t half = side / 2;
    loadSqrtTable();
    kelmo::setKernelLevel(kelmo::bestKernelLevel());
    const WarpPoints points(side);
    const std::vector<int32_t> &sourcePoints = points.source;
    const std::vector<int32_t> &destinationPoints = points.destination;
    kelmo::TInterpolator interpolator =
        kelmo::makeWarpInterpolator(side, side, sourcePoints.data(), destinationPoints.data(), kPointCount);
    interpolator.solve();
    const std::size_t pixels = std::size_t{side} * side;
    std::vector<float> halfX(pixels / 4), halfY(pixels / 4), xMap(pixels), yMap(pixels);
    interpolator.evaluateHalfSizeMaps(side, side, kelmo::libraryState().sqrtTable, halfX, halfY);
    const auto enlarge = [&] {
        for (int axis = 0; axis < 2; ++axis) {
            kelmo::resizeMap((axis == 0 ? halfX : halfY).data(), half, half, 4 * half, kelmo::IntRect{0, 0, half, half},
                             (axis == 0 ? xMap : yMap).data(), 4 * side, side, side, 2.0, 2.0,
                             kelmo::kInterpolationBilinear);
        }
    };
    enlarge();
    for (int32_t j = 0; j < side; ++j) {
        for (int32_t i = 0; i < side; ++i) {
            xMap[std::size_t{side} * j + i] += static_cast<float>(i);
            yMap[std::size_t{side} * j + i] += static_cast<float>(j);
        }
    }
    const ImageHandle source = makeSource(side, mode);
    ImageHandle destination = -1;
    TAVO_CreateEmptyImage(&destination);
    TAVO_ReshapeImage(destination, side, side, mode);
    const auto pixelMode = static_cast<kelmo::PixelMode>(mode);
    kelmo::PixelBuffer captured = kelmo::PixelBuffer::fromImage(source, pixelMode);
    kelmo::PixelBuffer output(side, side, pixelMode);
    const int savedThreads = omp_get_max_threads();
    omp_set_num_threads(1);
    for (auto _ : state) {
        switch (stage) {
            case 0: {
                kelmo::TInterpolator solved =
                    kelmo::makeWarpInterpolator(side, side, sourcePoints.data(), destinationPoints.data(), kPointCount);
                solved.solve();
                benchmark::DoNotOptimize(solved.coefficients.data());
                break;
            }
            case 1: interpolator.evaluateHalfSizeMaps(side, side, kelmo::libraryState().sqrtTable, halfX, halfY); break;
            case 2: enlarge(); break;
            case 3:
                for (int32_t j = 0; j < side; ++j) {
                    float *xRow = xMap.data() + std::size_t{side} * j;
                    float *yRow = yMap.data() + std::size_t{side} * j;
                    for (int32_t i = 0; i < side; ++i) {
                        xRow[i] += 0.0f * static_cast<float>(i);
                        yRow[i] += 0.0f * static_cast<float>(j);
                    }
                }
                break;
            case 4: TAVO_SaveImageRowsToBuffer(source, 0, side, captured.bytes(), mode); break;
            case 5:
                kelmo::remap(channels, captured.bytes(), side, side, side * channels,
                             kelmo::IntRect{0, 0, side, side}, xMap.data(), 4 * side, yMap.data(), 4 * side,
                             output.bytes(), side * channels, side, side, kelmo::kInterpolationBilinear);
                break;
            default: TAVO_WriteImageRows(destination, 0, side, output.bytes(), side * channels, mode); break;
        }
        benchmark::ClobberMemory();
    }
    omp_set_num_threads(savedThreads);
    TAVO_FreeImage(destination);
    TAVO_FreeImage(source);
}

BENCHMARK(BM_WarpStage)
    ->ArgNames({"stage", "mode"})
    ->ArgsProduct({{0, 1, 2, 3, 4, 5, 6}, {0, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The solve of the warp's n x n system of distances, points scattered over a
// 1024 x 1024 image: its cost grows as n^3 and dominates the warp's for large n.
void BM_WarpSolve(benchmark::State &state) {
    const auto count = static_cast<int>(state.range(0));
    std::mt19937 random(7);
    std::uniform_real_distribution<float> coordinate(0.0f, 1023.0f), shift(-32.0f, 32.0f);
    kelmo::TInterpolator points;
    for (int k = 0; k < count; ++k) {
        const float x = coordinate(random), y = coordinate(random), dx = shift(random), dy = shift(random);
        points.addControlPoint(x, y, dx, dy);
    }
    for (auto _ : state) {
        kelmo::TInterpolator interpolator = points;
        interpolator.solve();
        benchmark::DoNotOptimize(interpolator.coefficients.data());
    }
}

BENCHMARK(BM_WarpSolve)->Arg(70)->Arg(1028)->Unit(benchmark::kMicrosecond);

}  // namespace
