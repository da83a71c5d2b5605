// Face frame extraction: an upright, cropped and scaled frame of the face in
// a photo, with the feature points mapped into the frame's pixels. Used by
// creation from a photo (fitting/model_from_photo), the alpha mask
// (render/alpha_channel) and the export TAVO_ExtractFaceFrame.
#pragma once

#include <cstdint>

#include "fitting/grid.h"
#include "kelmo.h"

namespace kelmo {

// A square box (inclusive pixel bounds x1, y1, x2, y2)
// around `points`, 1.6 times as wide as the points and reaching 0.695 of their
// height above their centre and 0.55 below it, kept inside the image of
// width x height where it fits; a square wider than the image overhangs both
// sides, one taller than the image overhangs at the top only.
// `points` is taken by value (the caller's grid is never touched). Always
// returns 0.
int32_t faceBox(TGrid points, int32_t &x1, int32_t &y1, int32_t &x2, int32_t &y2, int32_t width,
                int32_t height);

// Creates a new image in *frame holding the face of
// `photo` upright (the line through points 0 and 1 horizontal), cropped to the
// face box widened to the aspect of width x height, and scaled to exactly
// width x height pixels when the imaging library can make it; framePoints
// receives `points` in the frame's pixel coordinates.
// Neither the photo nor `points` changes; only the pixels of the photo that
// the crop keeps are sampled, so the cost follows the face, not the photo.
// Nothing is validated (callers do it): `points` needs at
// least 2 points, `frame` must not be null and `points` and `framePoints` must
// be distinct grids. The statuses of the imaging library are not consulted:
// with an invalid photo, or a crop beyond the imaging library's limits, the
// frame holds whatever the library leaves and the frame points may be
// infinite. Always returns 0.
int32_t extractFrame(ImageHandle photo, const TGrid &points, ImageHandle *frame, TGrid &framePoints,
                     int32_t width, int32_t height);

}  // namespace kelmo
