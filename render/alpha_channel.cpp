#include "render/alpha_channel.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "fitting/face_frame.h"
#include "fitting/grid.h"
#include "frame/file_access.h"
#include "frame/numeric.h"
#include "frame/pixel_buffer.h"
#include "frame/resampling.h"
#include "kelmo.h"
#include "model/model.h"

namespace kelmo {
namespace {

bool isValidImage(ImageHandle image, int32_t &width, int32_t &height) {
    return TAVO_GetImageWidth(image, &width) == TAVOIMG_OK && TAVO_GetImageHeight(image, &height) == TAVOIMG_OK;
}

bool isValidImage(ImageHandle image) {
    int32_t width = 0, height = 0;
    return isValidImage(image, width, height);
}

// Makes `destination` a copy of a pixel array through a temporary image, or an
// empty image when the array has no area.
void replaceImagePixels(ImageHandle destination, const uint8_t *pixels, int32_t width, int32_t height,
                        TAVO_IMAGEMODE mode, int32_t bytesPerPixel) {
    ImageHandle temporary = -1;
    if (static_cast<int64_t>(width) * height == 0) {
        TAVO_CreateEmptyImage(&temporary);
    } else {
        TAVO_LoadImageFromBuffer(&temporary, pixels, width, height, width * bytesPerPixel, mode);
    }
    TAVO_CopyImage(temporary, destination);
    TAVO_FreeImage(temporary);
}

// The ".grd" file: N, then N pairs of reals, read into a temporary.
// Returns 0, TAVO_ERR_ALPHA_GRID (cannot open) or TAVO_ERR_GENERAL (a count
// outside 2..66 or a file that ends early: the caller's grid stays as it was).
int32_t readAlphaGridFile(const char *path, std::vector<TPointf> &points) {
    FilePtr file = openFile(path, "r");
    if (!file) return TAVO_ERR_ALPHA_GRID;
    int count = 0;
    if (std::fscanf(file.get(), "%d", &count) != 1) return TAVO_ERR_GENERAL;
    if (count < kAlphaGridMinCount || count > kAlphaGridMaxCount) return TAVO_ERR_GENERAL;
    std::vector<TPointf> read(static_cast<std::size_t>(count));
    for (TPointf &point : read) {
        if (std::fscanf(file.get(), "%f %f", &point.x, &point.y) != 2) return TAVO_ERR_GENERAL;
    }
    points = std::move(read);
    return TAVO_OK;
}

int32_t adjustAlphaChannelImage(ImageHandle image, const TPointf *points, int32_t count, int32_t *framePoints) {
    int32_t width = 0, height = 0;
    if (points == nullptr || framePoints == nullptr || count < kAlphaGridMinCount ||
        count > kAlphaGridMaxCount || !isValidImage(image, width, height) ||
        static_cast<int64_t>(width) * height == 0) {
        return TAVO_ERR_GENERAL;
    }
    TGrid grid;
    grid.points.assign(points, points + count);
    // The image becomes its own alpha channel as a grey image.
    const PixelBuffer colour = PixelBuffer::fromImage(image, PixelMode::ColorAlpha);
    const std::size_t pixelCount = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::vector<uint8_t> alpha(pixelCount + 1);
    const uint8_t *rgba = colour.bytes();
    for (std::size_t k = 0; k < pixelCount; ++k) alpha[k] = rgba[4 * k + 3];
    replaceImagePixels(image, alpha.data(), width, height, TAVO_IMAGEMODE_GREY, 1);
    // Cut to the face frame around its landmarks.
    ImageHandle frame = -1;
    TGrid frameGrid;
    extractFrame(image, grid, &frame, frameGrid, kAlphaFrameSize, kAlphaFrameSize);
    TAVO_CopyImage(frame, image);
    TAVO_FreeImage(frame);
    // The landmarks in the frame, truncated toward zero.
    for (int32_t k = 0; k < count; ++k) {
        framePoints[2 * k] = truncateToInt32(frameGrid.points[static_cast<std::size_t>(k)].x);
        framePoints[2 * k + 1] = truncateToInt32(frameGrid.points[static_cast<std::size_t>(k)].y);
    }
    return TAVO_OK;
}

}  // namespace
}  // namespace kelmo

using namespace kelmo;

extern "C" {

int32_t TAVO_LoadAlphaChannelImage(ImageHandle *image, int32_t *grid, const char *imagePath,
                                   const char *gridPath) {
    if (image == nullptr || grid == nullptr || imagePath == nullptr || gridPath == nullptr) {
        return TAVO_ERR_GENERAL;
    }
    try {
        // An image load failure is returned at once, with its cause.
        ImageHandle loaded = -1;
        const int32_t loadStatus = TAVO_LoadImageFromFileWithAlpha(&loaded, platformPath(imagePath).c_str());
        if (loadStatus != TAVOIMG_OK) return loadStatus;
        *image = loaded;
        std::vector<TPointf> points;
        const int32_t gridStatus = readAlphaGridFile(gridPath, points);
        if (gridStatus != TAVO_OK) return gridStatus;
        // Into a temporary grid, so that a failure leaves the caller's.
        std::array<int32_t, 2 * kAlphaGridMaxCount> framePoints{};
        const int32_t status =
            adjustAlphaChannelImage(loaded, points.data(), static_cast<int32_t>(points.size()), framePoints.data());
        if (status == TAVO_OK) std::copy(framePoints.begin(), framePoints.begin() + 2 * points.size(), grid);
        return status;
    } catch (const std::bad_alloc &) {
        return TAVO_ERR_GENERAL;
    }
}

int32_t TAVO_AdjustAlphaChannelImage(ImageHandle image, const TPointf *points, int32_t count,
                                     int32_t *framePoints) {
    try {
        return adjustAlphaChannelImage(image, points, count, framePoints);
    } catch (const std::bad_alloc &) {
        return TAVO_ERR_GENERAL;
    }
}

int32_t TAVO_SetTextureAlphaChannel(ImageHandle texture, const int32_t *texturePoints, ImageHandle alphaMask,
                                    const int32_t *alphaPoints) {
    int32_t width = 0, height = 0;
    if (texturePoints == nullptr || alphaPoints == nullptr || !isValidImage(texture, width, height) ||
        !isValidImage(alphaMask)) {
        return TAVO_ERR_GENERAL;
    }
    ImageHandle working = -1;
    try {
        // The mask warped so that its landmarks fall on the texture's.
        TAVO_CreateEmptyImage(&working);
        TAVO_CopyImage(alphaMask, working);
        std::array<int32_t, 2 * kFeaturePointCount> source{}, destination{};
        std::copy(alphaPoints, alphaPoints + source.size(), source.begin());
        std::copy(texturePoints, texturePoints + destination.size(), destination.begin());
        TAVO_WarpImageRBF(alphaMask, working, source.data(), destination.data(), kFeaturePointCount,
                          TAVO_IMAGEMODE_GREY);
        // Pixel k of the texture takes grey byte k of the working image;
        // pixels beyond the mask's pixel count (a texture larger than the
        // mask) get alpha 0, never a read past it.
        PixelBuffer colour = PixelBuffer::fromImage(texture, PixelMode::ColorAlpha);
        const PixelBuffer mask = PixelBuffer::fromImage(working, PixelMode::Grey);
        const int64_t pixelCount = static_cast<int64_t>(width) * height;
        const int64_t maskCount = static_cast<int64_t>(mask.width) * mask.height;
        uint8_t *rgba = colour.bytes();
        const uint8_t *grey = mask.bytes();
        for (int64_t k = 0; k < pixelCount; ++k) rgba[4 * k + 3] = k < maskCount ? grey[k] : 0;
        replaceImagePixels(texture, rgba, width, height, TAVO_IMAGEMODE_COLOR_ALPHA, 4);
        TAVO_FreeImage(working);
        return TAVO_OK;
    } catch (const std::bad_alloc &) {
        TAVO_FreeImage(working);
        return TAVO_ERR_GENERAL;
    }
}

int32_t TAVO_ExtendModelImage(ImageHandle source, ImageHandle destination, int32_t x, int32_t y, int32_t width,
                              int32_t height) {
    int32_t sourceWidth = 0, sourceHeight = 0;
    if (!isValidImage(source, sourceWidth, sourceHeight) || !isValidImage(destination) || width < 0 ||
        height < 0 || width > TAVOIMG_MAX_SIDE || height > TAVOIMG_MAX_SIDE ||
        static_cast<int64_t>(width) * height > TAVOIMG_MAX_PIXELS) {
        return TAVO_ERR_GENERAL;
    }
    try {
        const PixelBuffer pixels = PixelBuffer::fromImage(source, PixelMode::ColorAlpha);
        PixelBuffer canvas(width, height, PixelMode::ColorAlpha);
        // The overlap of source and canvas, in 64 bits: an offset of
        // INT32_MIN must not overflow.
        const int64_t x0 = std::max<int64_t>(0, -static_cast<int64_t>(x));
        const int64_t y0 = std::max<int64_t>(0, -static_cast<int64_t>(y));
        const int64_t copyWidth = std::min<int64_t>(sourceWidth - x0, width - x0 - x);
        const int64_t copyHeight = std::min<int64_t>(sourceHeight - y0, height - y0 - y);
        // Nothing is copied when either size is below 1.
        if (copyWidth >= 1 && copyHeight >= 1) {
            copy4(pixels.bytes() + (y0 * sourceWidth + x0) * 4, 4 * sourceWidth,
                  canvas.bytes() + ((y + y0) * static_cast<int64_t>(width) + x + x0) * 4, 4 * width,
                  static_cast<int32_t>(copyWidth), static_cast<int32_t>(copyHeight));
        }
        replaceImagePixels(destination, canvas.bytes(), width, height, TAVO_IMAGEMODE_COLOR_ALPHA, 4);
        return TAVO_OK;
    } catch (const std::bad_alloc &) {
        return TAVO_ERR_GENERAL;
    }
}

}  // extern "C"
