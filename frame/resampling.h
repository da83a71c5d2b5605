// Image resampling primitives on raw buffers: remap through float
// coordinate maps, a copy of four-byte pixels, and the resize of a float map.
// They take plain buffers (base pointer, row step in bytes, size), never image
// handles, and are internal: their statuses never cross the TAVO_ boundary.
// Float maps are read and written through byte offsets, so a step need not be
// a multiple of 4.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kelmo {

// A rectangle of a source buffer, in pixels.
struct IntRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// Interpolation codes.
inline constexpr int32_t kInterpolationNearest = 1;
inline constexpr int32_t kInterpolationBilinear = 2;
inline constexpr int32_t kInterpolationCubic = 4;

// Statuses of the primitives (internal; never cross the TAVO_ boundary).
inline constexpr int32_t kResampleOk = 0;
inline constexpr int32_t kResampleNullPointer = -8;
inline constexpr int32_t kResampleBadSize = -6;
inline constexpr int32_t kResampleBadInterpolation = -22;
inline constexpr int32_t kResampleBadStep = -14;
inline constexpr int32_t kResampleOutsideSource = 29;  // positive: nothing done
// resizeMap only: a factor that is not finite or not above 0 (the library's
// own factors are always about 2).
inline constexpr int32_t kResampleBadFactor = -23;

// Remaps an 8-bit image of `channels` (1, 3 or 4) bytes per pixel:
// destination pixel (i, j), i < destinationWidth, j < destinationHeight,
// samples the source at (xMap(i, j), yMap(i, j)). Steps are in bytes; the
// source must hold sourceHeight rows of sourceStep bytes (the last row at
// least sourceWidth * channels), the maps and the destination likewise.
// Statuses, tested in this order: kResampleBadSize for a channel count other
// than 1, 3, 4 (the variant itself, so it comes first); kResampleNullPointer;
// kResampleBadSize (a size below 1, a negative rectangle origin, a rectangle
// size below 1); kResampleBadInterpolation (not 1, 2 or 4); kResampleBadStep
// (a step below 1); kResampleOutsideSource (rectangle origin at or beyond the
// source's width or height; nothing done); kResampleOk.
// A map position outside the usable area rect.x .. rect.x + min(sourceWidth -
// rect.x, rect.width) - 1 (likewise in y; bounds inside), or not a number,
// leaves the destination pixel unchanged.
// Interpolations:
//  - bilinear (2), in double precision: ix = trunc(x + 0.0000001),
//    fx = x - ix (at or past the last column ix = width - 2 and fx = 1;
//    likewise in y); top = p(ix, iy) + fx * (p(ix + 1, iy) - p(ix, iy)),
//    bottom likewise on row iy + 1, value = top + fy * (bottom - top),
//    plus 0.5 and truncated;
//  - nearest (1): the pixel at (trunc(x + 0.5), trunc(y + 0.5)), i.e. the
//    position rounded half up; it stays inside the usable area;
//  - cubic (4): Keys' kernel with a = -0.5 on the 4 x 4 neighbours of
//    (ix, iy) taken as for bilinear without the last-column rule; neighbours
//    beyond the source's edges are replaced by the edge pixel; weights and sums
//    in double, rows summed left to right then columns top to bottom, the
//    result clamped to 0..255, plus 0.5 and truncated.
// A source one pixel wide or high is sampled nearest for
// every interpolation; cubic on a source narrower or lower than 4 pixels is
// bilinear.
int32_t remap(int channels, const uint8_t *source, int32_t sourceWidth, int32_t sourceHeight,
              int32_t sourceStep, IntRect sourceRect, const float *xMap, int32_t xMapStep,
              const float *yMap, int32_t yMapStep, uint8_t *destination, int32_t destinationStep,
              int32_t destinationWidth, int32_t destinationHeight, int32_t interpolation);

// Copies width x height four-byte pixels row by row, top row first;
// each row is moved as a whole (memmove), so overlapping rows are safe. Steps
// in bytes. Statuses in this order: kResampleNullPointer, kResampleBadSize
// (width or height below 1), kResampleBadStep (a step below 1, which the
// library's callers never pass), kResampleOk.
int32_t copy4(const uint8_t *source, int32_t sourceStep, uint8_t *destination,
              int32_t destinationStep, int32_t width, int32_t height);

// Resizes a float map by the factors xFactor and yFactor, corner-aligned.
// The source rectangle is clipped to the source as in remap, giving
// w x h values read from (rect.x, rect.y). Writes min(trunc(w * xFactor +
// 0.0000001), destinationWidth) columns and likewise rows (doubles), the rest
// of the destination unchanged. Destination column X samples
// x = X * (w - 1) / (w * xFactor - 1): the numerator is exact in double and
// divided last, so the last written column lands on w - 1 exactly when
// w * xFactor is an integer; x is clamped to 0 .. w - 1, and is 0 when w == 1
// or a single column is written (replication, no division by zero).
// Bilinear (2): with ix = trunc(x), fx = x - ix, top = s(ix, iy) + fx *
// (s(ix + 1, iy) - s(ix, iy)), bottom likewise on row iy + 1, value = top + fy *
// (bottom - top), in double, stored as float. At the last column (ix == w - 1)
// and the last row the missing neighbour has weight 0: the edge value is
// taken as it is and nothing beyond the map is read.
// Nearest (1): the value at (trunc(x + 0.5), trunc(y + 0.5)).
// Statuses, tested in this order: kResampleNullPointer, kResampleBadSize,
// kResampleBadInterpolation (cubic and everything but 1 and 2),
// kResampleBadFactor, kResampleBadStep, kResampleOutsideSource, kResampleOk.
int32_t resizeMap(const float *source, int32_t sourceWidth, int32_t sourceHeight,
                  int32_t sourceStep, IntRect sourceRect, float *destination,
                  int32_t destinationStep, int32_t destinationWidth, int32_t destinationHeight,
                  double xFactor, double yFactor, int32_t interpolation);

// The bilinear resizeMap of a whole map of floats, prepared once (the taps,
// at the kernel level of the moment) and written a band of destination rows
// at a time, each row bit for bit as resizeMap writes it: a caller that uses
// rows as they are made finds them in the cache. The source is read only by
// writeRows, so it may be filled after the preparation; it must outlive the
// object.
class BandedMapResize {
public:
    // source: height rows of width floats, sourceStep bytes apart (at least
    // 4 * width); factors finite and above 0 (asserted: the callers' own
    // sizes). Writes trunc(width * xFactor + 1e-7) columns and likewise rows,
    // at most the destination's. May throw std::bad_alloc.
    BandedMapResize(const float *source, int32_t width, int32_t height, int32_t sourceStep,
                    int32_t destinationWidth, int32_t destinationHeight, double xFactor, double yFactor);
    ~BandedMapResize();
    BandedMapResize(const BandedMapResize &) = delete;
    BandedMapResize &operator=(const BandedMapResize &) = delete;

    int32_t writtenWidth() const { return writtenWidth_; }
    int32_t writtenHeight() const { return writtenHeight_; }
    // Doubles of scratch that writeRows needs.
    std::size_t scratchSize() const { return 2 * static_cast<std::size_t>(writtenWidth_); }

    // Writes destination rows first .. first + count - 1 (first >= 0), those
    // below writtenHeight(), row Y at destination + (Y - first) *
    // destinationStep bytes; scratch holds scratchSize() doubles, one per
    // concurrent caller. Never allocates nor throws.
    void writeRows(int32_t first, int32_t count, float *destination, int32_t destinationStep,
                   double *scratch) const noexcept;

private:
    struct Prepared;
    std::unique_ptr<Prepared> prepared_;
    int32_t writtenWidth_ = 0;
    int32_t writtenHeight_ = 0;
};

}  // namespace kelmo
