// The pictures of docs/images, rendered through the library's own renderer
// (TAVO_RenderModelToImage): the generic head in its four
// expressions seen from the front, three-quarter and in profile, with a
// neutral skin-coloured texture in which the shading is baked (the renderer
// has no lighting); and the alpha mask beside the landmark layout.
#pragma once

#include <string>

#include "tools/generic_head/generic_head.h"

namespace kelmo::generic_head {

// Initialises the library on `dataDirectory` (which must hold the data files
// of `head`, as writeDataDirectory writes them; it ends with a separator),
// renders the pictures and writes them as PNG into `directory` (created when
// missing), then finalises the library. Throws std::runtime_error naming what
// failed.
void writePictures(const GenericHead &head, const std::string &dataDirectory, const std::string &directory);

}  // namespace kelmo::generic_head
