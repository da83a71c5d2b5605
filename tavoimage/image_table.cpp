#include "tavoimage/image_table.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "tavoimage/codecs.h"

namespace tavoimage {
namespace {

// The table is never destroyed: images freed by other libraries' static
// destructors at exit must still find it.
std::vector<std::unique_ptr<Image>> &imageTable() {
    static auto *const table = new std::vector<std::unique_ptr<Image>>;
    return *table;
}

}  // namespace

int32_t modeChannels(int32_t mode) {
    switch (mode) {
        case TAVO_IMAGEMODE_GREY: return 1;
        case TAVO_IMAGEMODE_COLOR: return 3;
        case TAVO_IMAGEMODE_COLOR_ALPHA: return 4;
        default: return 0;
    }
}

bool sizeWithinLimits(int64_t width, int64_t height) {
    return width >= 0 && height >= 0 && width <= TAVOIMG_MAX_SIDE && height <= TAVOIMG_MAX_SIDE &&
           width * height <= TAVOIMG_MAX_PIXELS;
}

Image *findImage(ImageHandle handle) {
    auto &table = imageTable();
    if (handle < 0 || static_cast<std::size_t>(handle) >= table.size()) return nullptr;
    return table[static_cast<std::size_t>(handle)].get();
}

ImageHandle addImage(Image &&image) {
    auto &table = imageTable();
    auto owned = std::make_unique<Image>(std::move(image));
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (!table[i]) {
            table[i] = std::move(owned);
            return static_cast<ImageHandle>(i);
        }
    }
    table.push_back(std::move(owned));
    return static_cast<ImageHandle>(table.size() - 1);
}

bool releaseImage(ImageHandle handle) {
    auto &table = imageTable();
    if (handle < 0 || static_cast<std::size_t>(handle) >= table.size()) return false;
    auto &slot = table[static_cast<std::size_t>(handle)];
    if (!slot) return false;
    slot.reset();
    return true;
}

void convertPixels(const uint8_t *source, int32_t sourceChannels, uint8_t *destination,
                   int32_t destinationChannels, int64_t pixelCount) {
    if (sourceChannels == destinationChannels) {
        std::memcpy(destination, source, static_cast<std::size_t>(pixelCount * sourceChannels));
        return;
    }
    for (int64_t i = 0; i < pixelCount; ++i) {
        const uint8_t *s = source + i * sourceChannels;
        uint8_t *d = destination + i * destinationChannels;
        if (destinationChannels == 1) {
            // sourceChannels is 3 or 4: the luma of the header.
            d[0] = static_cast<uint8_t>((299u * s[0] + 587u * s[1] + 114u * s[2] + 500u) / 1000u);
        } else if (sourceChannels == 1) {
            d[0] = d[1] = d[2] = s[0];
            if (destinationChannels == 4) d[3] = 255;
        } else {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
            if (destinationChannels == 4) d[3] = 255;  // from 3 channels
        }
    }
}

}  // namespace tavoimage

using tavoimage::findImage;
using tavoimage::Image;
using tavoimage::modeChannels;

extern "C" {

int32_t TAVO_CreateEmptyImage(ImageHandle *out) {
    if (out == nullptr) return TAVOIMG_ERR_NULL;
    try {
        *out = tavoimage::addImage(Image{});
    } catch (const std::bad_alloc &) {  // the table could not grow
        return TAVOIMG_ERR_MEMORY;
    }
    return TAVOIMG_OK;
}

int32_t TAVO_FreeImage(ImageHandle image) {
    return tavoimage::releaseImage(image) ? TAVOIMG_OK : TAVOIMG_ERR_HANDLE;
}

int32_t TAVO_CopyImage(ImageHandle source, ImageHandle destination) {
    const Image *from = findImage(source);
    Image *to = findImage(destination);
    if (from == nullptr || to == nullptr) return TAVOIMG_ERR_HANDLE;
    if (from == to) return TAVOIMG_OK;
    try {
        // Copied aside first: a failing allocation must leave the
        // destination whole, not with the new size and the old pixels.
        Image copy = *from;
        *to = std::move(copy);
    } catch (const std::bad_alloc &) {
        return TAVOIMG_ERR_MEMORY;
    }
    return TAVOIMG_OK;
}

static int32_t loadImageFile(ImageHandle *out, const char *path, bool keepAlpha) {
    if (out == nullptr || path == nullptr) return TAVOIMG_ERR_NULL;
    try {
        Image image;
        const int32_t status = tavoimage::decodeImageFile(path, keepAlpha, image);
        if (status != TAVOIMG_OK) return status;
        *out = tavoimage::addImage(std::move(image));
    } catch (const std::bad_alloc &) {
        return TAVOIMG_ERR_MEMORY;
    }
    return TAVOIMG_OK;
}

int32_t TAVO_LoadImageFromFile(ImageHandle *out, const char *path) {
    return loadImageFile(out, path, false);
}

int32_t TAVO_LoadImageFromFileWithAlpha(ImageHandle *out, const char *path) {
    return loadImageFile(out, path, true);
}

int32_t TAVO_LoadJpegReduced(ImageHandle *out, const char *path, int32_t reduction) {
    if (out == nullptr || path == nullptr) return TAVOIMG_ERR_NULL;
    if (reduction != 1 && reduction != 2 && reduction != 4 && reduction != 8) return TAVOIMG_ERR_ARGUMENT;
    try {
        Image image;
        const int32_t status = tavoimage::decodeJpegFileReduced(path, static_cast<unsigned int>(reduction), image);
        if (status != TAVOIMG_OK) return status;
        *out = tavoimage::addImage(std::move(image));
    } catch (const std::bad_alloc &) {
        return TAVOIMG_ERR_MEMORY;
    }
    return TAVOIMG_OK;
}

namespace {

// Checks a caller's pixel buffer as TAVO_LoadImageFromBuffer and
// TAVO_WriteImagePixels take it; 0 or the status to return.
int32_t checkPixelBuffer(const uint8_t *pixels, int32_t width, int32_t height, int32_t scanLine,
                         int32_t channels) {
    if (channels == 0 || !tavoimage::sizeWithinLimits(width, height)) return TAVOIMG_ERR_ARGUMENT;
    if (static_cast<int64_t>(width) * height == 0) return TAVOIMG_OK;
    if (pixels == nullptr) return TAVOIMG_ERR_NULL;
    if (scanLine < static_cast<int64_t>(width) * channels) return TAVOIMG_ERR_ARGUMENT;
    return TAVOIMG_OK;
}

// Appends the buffer's rows, packed, to `packed`, whose capacity the caller
// has made large enough: appending within the capacity cannot throw, and
// nothing is zero-filled before being overwritten.
void appendRows(std::vector<uint8_t> &packed, const uint8_t *pixels, int32_t width, int32_t height,
                int32_t scanLine, int32_t channels) {
    if (static_cast<int64_t>(width) * height == 0) return;
    const auto rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(channels);
    if (static_cast<std::size_t>(scanLine) == rowBytes) {
        packed.insert(packed.end(), pixels, pixels + rowBytes * static_cast<std::size_t>(height));
        return;
    }
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t *row = pixels + static_cast<std::ptrdiff_t>(y) * scanLine;
        packed.insert(packed.end(), row, row + rowBytes);
    }
}

std::size_t packedBytes(int32_t width, int32_t height, int32_t channels) {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * static_cast<std::size_t>(channels);
}

}  // namespace

int32_t TAVO_LoadImageFromBuffer(ImageHandle *out, const uint8_t *pixels, int32_t width,
                                 int32_t height, int32_t scanLine, TAVO_IMAGEMODE mode) {
    if (out == nullptr) return TAVOIMG_ERR_NULL;
    const int32_t channels = modeChannels(mode);
    if (const int32_t status = checkPixelBuffer(pixels, width, height, scanLine, channels); status != TAVOIMG_OK)
        return status;
    try {
        Image image;
        image.width = width;
        image.height = height;
        image.channels = channels;
        image.pixels.reserve(packedBytes(width, height, channels));
        appendRows(image.pixels, pixels, width, height, scanLine, channels);
        *out = tavoimage::addImage(std::move(image));
    } catch (const std::bad_alloc &) {  // up to 512 MiB are asked for
        return TAVOIMG_ERR_MEMORY;
    }
    return TAVOIMG_OK;
}

int32_t TAVO_WriteImagePixels(ImageHandle image, const uint8_t *pixels, int32_t width, int32_t height,
                              int32_t scanLine, TAVO_IMAGEMODE mode) {
    Image *target = findImage(image);
    if (target == nullptr) return TAVOIMG_ERR_HANDLE;
    const int32_t channels = modeChannels(mode);
    if (const int32_t status = checkPixelBuffer(pixels, width, height, scanLine, channels); status != TAVOIMG_OK)
        return status;
    const std::size_t bytes = packedBytes(width, height, channels);
    if (target->pixels.capacity() < bytes) {
        // New storage, made whole before it replaces the old, so that a
        // failed allocation leaves the image as it was.
        try {
            std::vector<uint8_t> fresh;
            fresh.reserve(bytes);
            appendRows(fresh, pixels, width, height, scanLine, channels);
            target->pixels = std::move(fresh);
        } catch (const std::bad_alloc &) {
            return TAVOIMG_ERR_MEMORY;
        }
    } else {
        target->pixels.clear();
        appendRows(target->pixels, pixels, width, height, scanLine, channels);
    }
    target->width = width;
    target->height = height;
    target->channels = channels;
    return TAVOIMG_OK;
}

int32_t TAVO_ReshapeImage(ImageHandle image, int32_t width, int32_t height, TAVO_IMAGEMODE mode) {
    Image *target = findImage(image);
    if (target == nullptr) return TAVOIMG_ERR_HANDLE;
    const int32_t channels = modeChannels(mode);
    if (channels == 0 || !tavoimage::sizeWithinLimits(width, height)) return TAVOIMG_ERR_ARGUMENT;
    if (target->width == width && target->height == height && target->channels == channels) return TAVOIMG_OK;
    const std::size_t bytes = packedBytes(width, height, channels);
    if (target->pixels.capacity() < bytes) {
        // New storage before the old goes: a failed allocation changes nothing.
        try {
            std::vector<uint8_t> fresh(bytes);
            target->pixels = std::move(fresh);
        } catch (const std::bad_alloc &) {
            return TAVOIMG_ERR_MEMORY;
        }
    } else {
        target->pixels.assign(bytes, 0);
    }
    target->width = width;
    target->height = height;
    target->channels = channels;
    return TAVOIMG_OK;
}

int32_t TAVO_WriteImageRows(ImageHandle image, int32_t firstRow, int32_t rowCount, const uint8_t *pixels,
                            int32_t scanLine, TAVO_IMAGEMODE mode) {
    Image *target = findImage(image);
    if (target == nullptr) return TAVOIMG_ERR_HANDLE;
    const int32_t channels = modeChannels(mode);
    // The range is checked in 64 bits: firstRow + rowCount may pass 2^31.
    if (channels == 0 || channels != target->channels || firstRow < 0 || rowCount < 0 ||
        static_cast<int64_t>(firstRow) + rowCount > target->height)
        return TAVOIMG_ERR_ARGUMENT;
    const auto rowBytes = static_cast<std::size_t>(target->width) * static_cast<std::size_t>(channels);
    if (rowBytes == 0 || rowCount == 0) return TAVOIMG_OK;
    if (pixels == nullptr) return TAVOIMG_ERR_NULL;
    if (scanLine < 0 || static_cast<std::size_t>(scanLine) < rowBytes) return TAVOIMG_ERR_ARGUMENT;
    uint8_t *rows = target->pixels.data() + static_cast<std::size_t>(firstRow) * rowBytes;
    if (static_cast<std::size_t>(scanLine) == rowBytes) {
        std::memcpy(rows, pixels, rowBytes * static_cast<std::size_t>(rowCount));
        return TAVOIMG_OK;
    }
    for (int32_t y = 0; y < rowCount; ++y) {
        std::memcpy(rows + static_cast<std::size_t>(y) * rowBytes,
                    pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(scanLine), rowBytes);
    }
    return TAVOIMG_OK;
}

int32_t TAVO_SaveImageToBuffer(ImageHandle image, uint8_t *pixels, TAVO_IMAGEMODE mode) {
    const Image *found = findImage(image);
    if (found == nullptr) return TAVOIMG_ERR_HANDLE;
    const int32_t channels = modeChannels(mode);
    if (channels == 0) return TAVOIMG_ERR_ARGUMENT;
    const int64_t count = static_cast<int64_t>(found->width) * found->height;
    if (count == 0) return TAVOIMG_OK;
    if (pixels == nullptr) return TAVOIMG_ERR_NULL;
    tavoimage::convertPixels(found->pixels.data(), found->channels, pixels, channels, count);
    return TAVOIMG_OK;
}

int32_t TAVO_SaveImageRowsToBuffer(ImageHandle image, int32_t firstRow, int32_t rowCount, uint8_t *pixels,
                                   TAVO_IMAGEMODE mode) {
    const Image *found = findImage(image);
    if (found == nullptr) return TAVOIMG_ERR_HANDLE;
    const int32_t channels = modeChannels(mode);
    // The range is checked in 64 bits: firstRow + rowCount may pass 2^31.
    if (channels == 0 || firstRow < 0 || rowCount < 0 ||
        static_cast<int64_t>(firstRow) + rowCount > found->height)
        return TAVOIMG_ERR_ARGUMENT;
    const int64_t count = static_cast<int64_t>(found->width) * rowCount;
    if (count == 0) return TAVOIMG_OK;
    if (pixels == nullptr) return TAVOIMG_ERR_NULL;
    const auto firstByte = static_cast<std::size_t>(firstRow) * static_cast<std::size_t>(found->width) *
                           static_cast<std::size_t>(found->channels);
    tavoimage::convertPixels(found->pixels.data() + firstByte, found->channels, pixels, channels, count);
    return TAVOIMG_OK;
}

int32_t TAVO_GetImageBufferSize(ImageHandle image, int32_t *size, TAVO_IMAGEMODE mode) {
    const Image *found = findImage(image);
    if (found == nullptr) return TAVOIMG_ERR_HANDLE;
    if (size == nullptr) return TAVOIMG_ERR_NULL;
    const int32_t channels = modeChannels(mode);
    if (channels == 0) return TAVOIMG_ERR_ARGUMENT;
    // Within limits: at most 2^27 pixels of 4 bytes, below 2^31.
    *size = static_cast<int32_t>(static_cast<int64_t>(found->width) * found->height * channels);
    return TAVOIMG_OK;
}

int32_t TAVO_GetImageWidth(ImageHandle image, int32_t *value) {
    const Image *found = findImage(image);
    if (found == nullptr) return TAVOIMG_ERR_HANDLE;
    if (value == nullptr) return TAVOIMG_ERR_NULL;
    *value = found->width;
    return TAVOIMG_OK;
}

int32_t TAVO_GetImageHeight(ImageHandle image, int32_t *value) {
    const Image *found = findImage(image);
    if (found == nullptr) return TAVOIMG_ERR_HANDLE;
    if (value == nullptr) return TAVOIMG_ERR_NULL;
    *value = found->height;
    return TAVOIMG_OK;
}

int32_t TAVO_SaveImageToFile(ImageHandle image, const char *path) {
    const Image *found = findImage(image);
    if (found == nullptr) return TAVOIMG_ERR_HANDLE;
    if (path == nullptr) return TAVOIMG_ERR_NULL;
    if (static_cast<int64_t>(found->width) * found->height == 0) return TAVOIMG_ERR_ARGUMENT;
    try {
        return tavoimage::encodeImageFile(*found, path);
    } catch (const std::bad_alloc &) {  // the path string
        return TAVOIMG_ERR_WRITE;
    }
}

}  // extern "C"
