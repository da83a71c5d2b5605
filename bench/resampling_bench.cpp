// Benchmarks of the resampling primitives at the sizes of the image warp:
// remap of a 1024 x 1024 image through a smooth warp
// field in 1, 3 and 4 channels and, in 4 channels, through an enlargement by
// two (every position on a half pixel), and the enlargement of a 512 x 512
// displacement map to 1024 x 1024. When OpenCV's core and imgproc are
// present, their remap (float maps, bilinear, transparent border) and resize
// (32-bit float, bilinear) run on the same inputs, on one thread, as peers.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "frame/kernel_level.h"
#include "frame/resampling.h"

#if defined(KELMO_BENCH_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int32_t kSide = 1024;

// A smooth field of source positions like the warp's: identity plus a few
// pixels of sine displacement, clamped one pixel inside as the warp does.
struct WarpField {
    std::vector<float> x;
    std::vector<float> y;
    WarpField() : x(static_cast<std::size_t>(kSide) * kSide), y(x.size()) {
        for (int32_t j = 0; j < kSide; ++j) {
            for (int32_t i = 0; i < kSide; ++i) {
                const double u = i + 6.0 * std::sin(j / 53.0) + 3.0 * std::cos(i / 97.0);
                const double v = j + 5.0 * std::cos(i / 41.0) + 2.0 * std::sin(j / 71.0);
                const std::size_t k = static_cast<std::size_t>(j) * kSide + i;
                x[k] = static_cast<float>(std::fmin(std::fmax(u, 1.0), kSide - 2.0));
                y[k] = static_cast<float>(std::fmin(std::fmax(v, 1.0), kSide - 2.0));
            }
        }
    }
};

const WarpField &warpField() {
    static const WarpField field;
    return field;
}

// Runs the body at the kernel level of the benchmark's last argument (0 the
// plain one-pixel code, 3 the widest) and restores the best level after.
class KernelLevelScope {
public:
    explicit KernelLevelScope(int64_t level) { kelmo::setKernelLevel(static_cast<kelmo::KernelLevel>(level)); }
    ~KernelLevelScope() { kelmo::setKernelLevel(kelmo::bestKernelLevel()); }
    KernelLevelScope(const KernelLevelScope &) = delete;
    KernelLevelScope &operator=(const KernelLevelScope &) = delete;
};

void BM_RemapBilinear(benchmark::State &state) {
    const int channels = static_cast<int>(state.range(0));
    const KernelLevelScope level(state.range(1));
    const WarpField &field = warpField();
    const int32_t step = kSide * channels;
    std::vector<uint8_t> source(static_cast<std::size_t>(step) * kSide);
    std::mt19937 random(1);
    for (auto &byte : source) byte = static_cast<uint8_t>(random());
    std::vector<uint8_t> destination(source.size());
    for (auto _ : state) {
        const int32_t status = kelmo::remap(channels, source.data(), kSide, kSide, step,
                                            kelmo::IntRect{0, 0, kSide, kSide}, field.x.data(), 4 * kSide,
                                            field.y.data(), 4 * kSide, destination.data(), step, kSide, kSide,
                                            kelmo::kInterpolationBilinear);
        benchmark::DoNotOptimize(status);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_RemapBilinear)
    ->ArgsProduct({{1, 3, 4}, {0, 1, 2, 3}})
    ->ArgNames({"channels", "level"})
    ->Unit(benchmark::kMillisecond);

// Four channels enlarged twice: every position on a half pixel, so that a
// blend of two bytes with an odd sum is an exact rounding tie (the case the
// narrower arithmetic hands back to doubles).
void BM_RemapBilinearHalfPixels(benchmark::State &state) {
    const int32_t half = kSide / 2;
    const int32_t step = half * 4;
    std::vector<uint8_t> source(static_cast<std::size_t>(step) * half);
    std::mt19937 random(1);
    for (auto &byte : source) byte = static_cast<uint8_t>(random());
    std::vector<float> x(static_cast<std::size_t>(kSide) * kSide);
    std::vector<float> y(x.size());
    for (int32_t j = 0; j < kSide; ++j) {
        for (int32_t i = 0; i < kSide; ++i) {
            x[static_cast<std::size_t>(j) * kSide + i] = std::fmin(0.5f * static_cast<float>(i), half - 1.0f);
            y[static_cast<std::size_t>(j) * kSide + i] = std::fmin(0.5f * static_cast<float>(j), half - 1.0f);
        }
    }
    std::vector<uint8_t> destination(static_cast<std::size_t>(kSide) * kSide * 4);
    for (auto _ : state) {
        const int32_t status = kelmo::remap(4, source.data(), half, half, step, kelmo::IntRect{0, 0, half, half}, x.data(),
                                            4 * kSide, y.data(), 4 * kSide, destination.data(), 4 * kSide, kSide, kSide,
                                            kelmo::kInterpolationBilinear);
        benchmark::DoNotOptimize(status);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_RemapBilinearHalfPixels)->Unit(benchmark::kMillisecond);

// A smooth half-size map (kSide / 2 squared), as a displacement field is.
std::vector<float> smoothHalfSizeMap() {
    const int32_t half = kSide / 2;
    std::vector<float> map(static_cast<std::size_t>(half) * half);
    for (int32_t j = 0; j < half; ++j) {
        for (int32_t i = 0; i < half; ++i) {
            map[static_cast<std::size_t>(j) * half + i] = static_cast<float>(3.0 * std::sin(i / 37.0 + j / 29.0));
        }
    }
    return map;
}

void BM_ResizeMapBilinear(benchmark::State &state) {
    const KernelLevelScope level(state.range(0));
    const int32_t half = kSide / 2;
    const std::vector<float> source = smoothHalfSizeMap();
    std::vector<float> destination(static_cast<std::size_t>(kSide) * kSide);
    const double factor = static_cast<double>(kSide) / half;
    for (auto _ : state) {
        const int32_t status = kelmo::resizeMap(source.data(), half, half, 4 * half, kelmo::IntRect{0, 0, half, half},
                                                destination.data(), 4 * kSide, kSide, kSide, factor, factor,
                                                kelmo::kInterpolationBilinear);
        benchmark::DoNotOptimize(status);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_ResizeMapBilinear)->ArgName("level")->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// The same enlargement as the warp makes it: prepared once, written in bands
// of 8 rows into one band buffer that stays in the cache.
void BM_BandedMapResize(benchmark::State &state) {
    const KernelLevelScope level(state.range(0));
    const int32_t half = kSide / 2;
    const std::vector<float> source = smoothHalfSizeMap();
    constexpr int32_t kBandRows = 8;
    std::vector<float> band(static_cast<std::size_t>(kBandRows) * kSide);
    std::vector<double> scratch(2 * static_cast<std::size_t>(kSide));
    const double factor = static_cast<double>(kSide) / half;
    const kelmo::BandedMapResize resize(source.data(), half, half, 4 * half, kSide, kSide, factor, factor);
    for (auto _ : state) {
        for (int32_t first = 0; first < kSide; first += kBandRows) {
            resize.writeRows(first, kBandRows, band.data(), 4 * kSide, scratch.data());
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_BandedMapResize)->ArgName("level")->Arg(3)->Unit(benchmark::kMillisecond);

#if defined(KELMO_BENCH_OPENCV)
// The peers run on one thread, as the library's primitives do.
void singleThreadedPeers() {
    static const bool once = [] {
        cv::setNumThreads(1);
        return true;
    }();
    static_cast<void>(once);
}

void BM_OpenCvRemapBilinear(benchmark::State &state) {
    singleThreadedPeers();
    const int channels = static_cast<int>(state.range(0));
    const WarpField &field = warpField();
    const cv::Mat xMap(kSide, kSide, CV_32FC1, const_cast<float *>(field.x.data()));
    const cv::Mat yMap(kSide, kSide, CV_32FC1, const_cast<float *>(field.y.data()));
    cv::Mat source(kSide, kSide, CV_8UC(channels));
    std::mt19937 random(1);
    for (int32_t j = 0; j < kSide; ++j) {
        for (int32_t i = 0; i < kSide * channels; ++i) source.ptr<uint8_t>(j)[i] = static_cast<uint8_t>(random());
    }
    cv::Mat destination(kSide, kSide, CV_8UC(channels), cv::Scalar::all(0));
    for (auto _ : state) {
        cv::remap(source, destination, xMap, yMap, cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_OpenCvRemapBilinear)->Arg(1)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);

void BM_OpenCvResizeBilinear(benchmark::State &state) {
    singleThreadedPeers();
    const int32_t half = kSide / 2;
    cv::Mat source(half, half, CV_32FC1);
    for (int32_t j = 0; j < half; ++j) {
        for (int32_t i = 0; i < half; ++i) source.at<float>(j, i) = static_cast<float>(3.0 * std::sin(i / 37.0 + j / 29.0));
    }
    cv::Mat destination(kSide, kSide, CV_32FC1);
    for (auto _ : state) {
        cv::resize(source, destination, cv::Size(kSide, kSide), 0.0, 0.0, cv::INTER_LINEAR);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_OpenCvResizeBilinear)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
