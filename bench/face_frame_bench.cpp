// Benchmarks of the face frame extraction: TAVO_ExtractFaceFrame to a
// 256 x 256 frame, as creation from a photo asks, on a 512 x 512
// and a 4000 x 3000 synthetic colour photo with a face rolled by 12 degrees
// (so that the rotation of the photo does real work); and its turn alone
// (TAVO_RotateCropImage of the 1600 x 1600 crop that the large photo's face
// needs) at each kernel level, the plain one being the reference.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "kelmo.h"
#include "tavoimage.h"

namespace {

constexpr int kPointCount = 66;

// A textured colour photo and 66 points of a face filling about a third of
// its shorter side, centred, rolled by 12 degrees.
struct SyntheticFace {
    ImageHandle photo = -1;
    std::array<int32_t, 2 * kPointCount> points{};

    SyntheticFace(int32_t width, int32_t height) {
        std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * height * 3);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                uint8_t *pixel = pixels.data() + (static_cast<std::size_t>(y) * width + x) * 3;
                pixel[0] = static_cast<uint8_t>(x * 7 + y);
                pixel[1] = static_cast<uint8_t>(x + y * 5);
                pixel[2] = static_cast<uint8_t>((x ^ y) * 3);
            }
        }
        TAVO_LoadImageFromBuffer(&photo, pixels.data(), width, height, width * 3, TAVO_IMAGEMODE_COLOR);
        const double scale = std::min(width, height) / 3.0 / 100.0;  // face about 100 units wide
        const double roll = 12.0 * 3.14159265358979323846 / 180.0;
        for (int k = 0; k < kPointCount; ++k) {
            // Points on an ellipse, eyes (points 0 and 1) on its upper part.
            const double t = 2.0 * 3.14159265358979323846 * k / kPointCount;
            double ox = 50.0 * std::cos(t), oy = 60.0 * std::sin(t);
            if (k == 0) ox = -30.0, oy = -20.0;
            if (k == 1) ox = 30.0, oy = -20.0;
            const double rx = (ox * std::cos(roll) - oy * std::sin(roll)) * scale;
            const double ry = (ox * std::sin(roll) + oy * std::cos(roll)) * scale;
            points[2 * k] = width / 2 + static_cast<int32_t>(std::lround(rx));
            points[2 * k + 1] = height / 2 + static_cast<int32_t>(std::lround(ry));
        }
    }
    ~SyntheticFace() { TAVO_FreeImage(photo); }
    SyntheticFace(const SyntheticFace &) = delete;
    SyntheticFace &operator=(const SyntheticFace &) = delete;
};

void extractFaceFrame(benchmark::State &state) {
    const SyntheticFace face(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    std::array<int32_t, 2 * kPointCount> framePoints{};
    for (auto _ : state) {
        ImageHandle frame = -1;
        const int32_t status = TAVO_ExtractFaceFrame(face.photo, face.points.data(), &frame, framePoints.data(), 256, 256);
        if (status != 0) {
            state.SkipWithError("TAVO_ExtractFaceFrame failed");
            break;
        }
        benchmark::DoNotOptimize(framePoints.data());
        TAVO_FreeImage(frame);
    }
}

BENCHMARK(extractFaceFrame)->Args({512, 512})->Args({4000, 3000})->Unit(benchmark::kMillisecond);

void rotateCropAtLevel(benchmark::State &state) {
    const SyntheticFace face(4000, 3000);
    if (TAVO_SetImageKernelLevel(static_cast<int32_t>(state.range(0))) != state.range(0)) {
        state.SkipWithError("kernel level not available on this CPU");
    }
    ImageHandle crop = -1;
    TAVO_CreateEmptyImage(&crop);
    for (auto _ : state) {
        if (TAVO_RotateCropImage(face.photo, -12.0, 2000.0, 1400.0, 1200, 700, 2799, 2299, crop) != 0) {
            state.SkipWithError("TAVO_RotateCropImage failed");
            break;
        }
    }
    TAVO_FreeImage(crop);
    TAVO_SetImageKernelLevel(3);  // back to the widest the CPU runs
}

BENCHMARK(rotateCropAtLevel)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace
