// The image table of tavoimage: images owned by the library, addressed by
// handles. Internal to libtavoimage.
#pragma once

#include <cstdint>
#include <vector>

#include "tavoimage.h"

namespace tavoimage {

// One image: packed rows, top row first, `channels` bytes per pixel
// (1 grey, 3 R G B, 4 R G B A).
struct Image {
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 3;
    std::vector<uint8_t> pixels;
};

// Bytes per pixel of a TAVO_IMAGEMODE, 0 for an unknown mode.
int32_t modeChannels(int32_t mode);

// True when width x height is within TAVOIMG_MAX_SIDE and TAVOIMG_MAX_PIXELS.
bool sizeWithinLimits(int64_t width, int64_t height);

// The image of a handle, or null for an invalid or freed handle.
Image *findImage(ImageHandle handle);

// Stores an image in the lowest free slot; returns its handle.
ImageHandle addImage(Image &&image);

// Releases the image of a handle; false for an invalid or freed handle.
bool releaseImage(ImageHandle handle);

// Converts one pixel's bytes between channel layouts (1, 3, 4), as the
// header describes: luma for colour to grey, repetition for grey to colour,
// alpha 255 where the source has none.
void convertPixels(const uint8_t *source, int32_t sourceChannels, uint8_t *destination,
                   int32_t destinationChannels, int64_t pixelCount);

}  // namespace tavoimage
