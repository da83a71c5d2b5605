// The pictures of docs/images: the generic head in its four expressions seen
// from the front, three-quarter and in profile through the preview renderer
// (the teeth and mouth interior placed as Part 3.1's PlaceTeeth and Part
// 3.4's builders place them), and the alpha mask beside the landmark layout.
#pragma once

#include <string>

#include "tools/generic_head/generic_head.h"
#include "tools/generic_head/preview.h"

namespace kelmo::generic_head {

// The three views of expression `expression`, side by side, each `size` pixels.
Picture expressionPicture(const GenericHead &head, int expression, int size);

// The alpha mask (left) and the numbered landmarks on the neutral face (right).
Picture alphaAndLandmarksPicture(const GenericHead &head, int size);

// Writes all pictures as PNG into `directory`; throws std::runtime_error on failure.
void writePictures(const GenericHead &head, const std::string &directory);

}  // namespace kelmo::generic_head
