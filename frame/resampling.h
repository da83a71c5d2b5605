// Image resampling primitives on raw buffers (Part 1.3): remap through float
// coordinate maps, a copy of four-byte pixels, and the resize of a float map.
#pragma once

#include <cstdint>

namespace kelmo {

// A rectangle of a source buffer, in pixels.
struct IntRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// Interpolation codes of Part 1.3.
inline constexpr int32_t kInterpolationNearest = 1;
inline constexpr int32_t kInterpolationBilinear = 2;
inline constexpr int32_t kInterpolationCubic = 4;

// Statuses of Part 1.3 (internal; never cross the TAVO_ boundary).
inline constexpr int32_t kResampleOk = 0;
inline constexpr int32_t kResampleNullPointer = -8;
inline constexpr int32_t kResampleBadSize = -6;
inline constexpr int32_t kResampleBadInterpolation = -22;
inline constexpr int32_t kResampleBadStep = -14;
inline constexpr int32_t kResampleOutsideSource = 29;  // positive: nothing done

// Remaps an 8-bit image of `channels` (1, 3 or 4) bytes per pixel: destination
// pixel (i, j) samples the source at (xMap(i, j), yMap(i, j)). Steps are in
// bytes. Returns one of the statuses above, checked in the order of Part 1.3.
int32_t remap(int channels, const uint8_t *source, int32_t sourceWidth, int32_t sourceHeight,
              int32_t sourceStep, IntRect sourceRect, const float *xMap, int32_t xMapStep,
              const float *yMap, int32_t yMapStep, uint8_t *destination, int32_t destinationStep,
              int32_t destinationWidth, int32_t destinationHeight, int32_t interpolation);

// Copies width x height four-byte pixels row by row. Steps in bytes.
// Returns kResampleOk, kResampleNullPointer, kResampleBadSize.
int32_t copy4(const uint8_t *source, int32_t sourceStep, uint8_t *destination,
              int32_t destinationStep, int32_t width, int32_t height);

// Resizes a float map by the factors xFactor and yFactor, corner-aligned
// (Part 1.3). Steps in bytes. Returns the statuses of remap (status 29 when
// the rectangle starts beyond the source).
int32_t resizeMap(const float *source, int32_t sourceWidth, int32_t sourceHeight,
                  int32_t sourceStep, IntRect sourceRect, float *destination,
                  int32_t destinationStep, int32_t destinationWidth, int32_t destinationHeight,
                  double xFactor, double yFactor, int32_t interpolation);

}  // namespace kelmo
