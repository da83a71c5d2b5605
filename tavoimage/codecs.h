// File codecs of tavoimage: PNG and JPEG through libpng and libjpeg-turbo,
// uncompressed BMP by a reader and writer of our own. Internal.
#pragma once

#include <cstdint>
#include <string>

#include "tavoimage/image_table.h"

namespace tavoimage {

// Decodes a file, its format found from its first bytes. With keepAlpha the
// result has 4 channels (alpha 255 where the file has none), else 3.
// Returns 0 or TAVOIMG_ERR_OPEN / _FORMAT / _CORRUPT / _MEMORY; `image` is only
// written on success.
int32_t decodeImageFile(const std::string &path, bool keepAlpha, Image &image);

// Encodes a non-empty image to a file whose format follows the path's
// extension (.png, .jpg/.jpeg, .bmp, case-insensitive).
// Returns 0 or TAVOIMG_ERR_FORMAT / _WRITE.
int32_t encodeImageFile(const Image &image, const std::string &path);

}  // namespace tavoimage
