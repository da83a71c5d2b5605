// PixelBuffer: the raw pixels of an image, owned by the library.
#pragma once

#include <cstdint>
#include <vector>

#include "tavoimage.h"

namespace kelmo {

// Pixel layouts of a PixelBuffer: the imaging library's three, a float
// depth, and two wider layouts that are only copied.
enum class PixelMode : int32_t {
    Grey = 0,        // 1 byte
    Color = 1,       // 3 bytes, R G B
    ColorAlpha = 2,  // 4 bytes, R G B A
    Depth = 3,       // one 32-bit float
    Bytes12 = 4,     // copied only
    Bytes16 = 5,     // copied only
};

// Bytes per pixel of a mode (1, 3, 4, 4, 12, 16 in mode order); 0 for an
// unknown mode.
int32_t bytesPerPixel(PixelMode mode);

// Invariant kept by every constructor: the array is either absent
// (arraySize() == 0, bytes() == nullptr) or holds at least
// width * height * bytesPerPixel(mode) + 1 bytes: one spare byte past the
// pixels, so that even an image without area has an array. Code that changes width, height or mode by hand owns the invariant.
class PixelBuffer {
public:
    // An empty buffer: no array, width and height 0.
    PixelBuffer() = default;
    // A new buffer of width x height pixels: an array of
    // width * height * bytesPerPixel(mode) + 1 bytes, zero-filled. An unknown
    // mode gives no array. Throws std::invalid_argument for a negative width
    // or height and std::length_error when the byte count does not fit in
    // memory's address range (a caller bug inside the library; the TAVO_
    // boundary turns such exceptions into statuses); std::bad_alloc may pass.
    PixelBuffer(int32_t width, int32_t height, PixelMode mode);
    // From an image handle in mode 0, 1 or 2: width and height from
    // the imaging library, an array of TAVO_GetImageBufferSize + 1 bytes,
    // filled by TAVO_SaveImageToBuffer only when width * height != 0. A handle
    // of -1 (or any handle the imaging library rejects) gives an empty buffer
    // in the requested mode; any other mode keeps the image's width and height
    // but makes no array. May throw std::bad_alloc.
    static PixelBuffer fromImage(ImageHandle image, PixelMode mode);

    // Deep copy: a new array of width * height * bytesPerPixel + 1
    // bytes holding the pixels bit for bit, the spare byte 0; width, height
    // and mode copied. A buffer without an array copies to one without.
    PixelBuffer(const PixelBuffer &other);
    PixelBuffer &operator=(const PixelBuffer &other);
    PixelBuffer(PixelBuffer &&) noexcept = default;
    PixelBuffer &operator=(PixelBuffer &&) noexcept = default;
    ~PixelBuffer() = default;

    uint8_t *bytes() { return pixels_.empty() ? nullptr : pixels_.data(); }
    const uint8_t *bytes() const { return pixels_.empty() ? nullptr : pixels_.data(); }
    float *floats() { return reinterpret_cast<float *>(bytes()); }  // mode 3
    const float *floats() const { return reinterpret_cast<const float *>(bytes()); }
    // Size of the array in bytes (the pixels plus the one spare byte), 0 when none.
    std::size_t arraySize() const { return pixels_.size(); }

    int32_t width = 0;
    int32_t height = 0;
    PixelMode mode = PixelMode::Grey;

private:
    std::vector<uint8_t> pixels_;
};

}  // namespace kelmo
