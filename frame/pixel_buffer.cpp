// PixelBuffer: pixels of an image handle taken into memory that the
// library owns, with their size and layout.
#include "frame/pixel_buffer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace kelmo {

namespace {

// Bytes of width x height pixels of `pixelBytes` each, plus the one spare
// byte every array carries. The product is checked before it can wrap: 2^31 * 2^31 * 16 does
// not fit in 64 bits.
std::size_t arrayBytes(int32_t width, int32_t height, int32_t pixelBytes) {
    if (width < 0 || height < 0) throw std::invalid_argument("PixelBuffer: negative size");
    const uint64_t pixelCount = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    const uint64_t limit = std::vector<uint8_t>().max_size() - 1;
    if (pixelBytes > 0 && pixelCount > limit / static_cast<uint64_t>(pixelBytes)) {
        throw std::length_error("PixelBuffer: size out of range");
    }
    return static_cast<std::size_t>(pixelCount * static_cast<uint64_t>(pixelBytes) + 1);
}

}  // namespace

int32_t bytesPerPixel(PixelMode mode) {
    switch (mode) {
        case PixelMode::Grey: return 1;
        case PixelMode::Color: return 3;
        case PixelMode::ColorAlpha: return 4;
        case PixelMode::Depth: return 4;
        case PixelMode::Bytes12: return 12;
        case PixelMode::Bytes16: return 16;
    }
    return 0;
}

PixelBuffer::PixelBuffer(int32_t widthInPixels, int32_t heightInPixels, PixelMode pixelMode)
    : width(widthInPixels), height(heightInPixels), mode(pixelMode) {
    const int32_t pixelBytes = bytesPerPixel(pixelMode);
    const std::size_t size = arrayBytes(widthInPixels, heightInPixels, pixelBytes);
    // An unknown mode has no pixel size, so no array.
    if (pixelBytes > 0) pixels_.assign(size, 0);
}

PixelBuffer PixelBuffer::fromImage(ImageHandle image, PixelMode mode) {
    PixelBuffer buffer;
    buffer.mode = mode;
    // A handle of -1 (no image) gives an empty buffer. Any other handle that
    // the imaging library rejects is treated alike, so that nothing is read from
    // an image that does not exist.
    if (image == -1) return buffer;
    int32_t imageWidth = 0;
    int32_t imageHeight = 0;
    if (TAVO_GetImageWidth(image, &imageWidth) != TAVOIMG_OK ||
        TAVO_GetImageHeight(image, &imageHeight) != TAVOIMG_OK || imageWidth < 0 || imageHeight < 0) {
        return buffer;
    }
    buffer.width = imageWidth;
    buffer.height = imageHeight;
    // Only the imaging library's modes 0, 1 and 2 can be filled from an image.
    if (mode != PixelMode::Grey && mode != PixelMode::Color && mode != PixelMode::ColorAlpha) {
        return buffer;
    }
    const auto imageMode = static_cast<TAVO_IMAGEMODE>(mode);
    int32_t reportedSize = 0;
    if (TAVO_GetImageBufferSize(image, &reportedSize, imageMode) != TAVOIMG_OK || reportedSize < 0) {
        buffer.width = 0;
        buffer.height = 0;
        return buffer;
    }
    // The save writes width * height * bytes per pixel; an array that is
    // smaller (an imaging library that disagrees with itself) must not be
    // written past, so the array is never smaller than that.
    const std::size_t neededSize = arrayBytes(imageWidth, imageHeight, bytesPerPixel(mode));
    buffer.pixels_.assign(std::max(static_cast<std::size_t>(reportedSize) + 1, neededSize), 0);
    if (static_cast<int64_t>(imageWidth) * imageHeight != 0) {
        // The save's status is not consulted: the handle and mode were checked
        // above, and a failure would leave zeros.
        TAVO_SaveImageToBuffer(image, buffer.pixels_.data(), imageMode);
    }
    return buffer;
}

PixelBuffer::PixelBuffer(const PixelBuffer &other)
    : width(other.width), height(other.height), mode(other.mode) {
    if (other.pixels_.empty()) return;
    const std::size_t size = arrayBytes(width, height, bytesPerPixel(mode));
    pixels_.assign(size, 0);
    // The pixels, not the spare byte; never more than the source holds.
    const std::size_t copied = std::min(size - 1, other.pixels_.size());
    std::memcpy(pixels_.data(), other.pixels_.data(), copied);
}

PixelBuffer &PixelBuffer::operator=(const PixelBuffer &other) {
    if (this != &other) {
        PixelBuffer copy(other);
        *this = std::move(copy);
    }
    return *this;
}

}  // namespace kelmo
