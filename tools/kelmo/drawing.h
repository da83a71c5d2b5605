// Pictures of landmarks: the photo with the 66 numbered feature points,
// coloured by role as in docs/landmarks.md (green: control points of the
// deformation, orange: outline points left out of it, blue: eye points).
#pragma once

#include <optional>

#include "tools/kelmo/canvas.h"
#include "tools/kelmo/points_file.h"

namespace kelmo::cli {

struct CropBox {
    int left = 0, top = 0, right = 0, bottom = 0;  // inclusive photo pixels
};

// The photo (or the crop of it), enlarged by a whole factor (1 to 4) when the
// face is small, so that the numbers stay readable: the face spans at least
// about 640 pixels unless the picture would exceed 4096 pixels a side.
Canvas drawLandmarks(const Canvas &photo, const FeaturePoints &points, std::optional<CropBox> crop = std::nullopt);

// A box around the points, grown by `margin` times their extent on every
// side and clipped to the photo.
CropBox boxAround(const FeaturePoints &points, double margin, int photoWidth, int photoHeight);

}  // namespace kelmo::cli
