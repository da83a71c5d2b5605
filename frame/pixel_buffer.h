// PixelBuffer: the raw pixels of an image, owned by the library (Part 1.4).
#pragma once

#include <cstdint>
#include <vector>

#include "tavoimage.h"

namespace kelmo {

// Pixel layouts of a PixelBuffer (Part 1.4).
enum class PixelMode : int32_t {
    Grey = 0,        // 1 byte
    Color = 1,       // 3 bytes, R G B
    ColorAlpha = 2,  // 4 bytes, R G B A
    Depth = 3,       // one 32-bit float
    Bytes12 = 4,     // copied only
    Bytes16 = 5,     // copied only
};

// Bytes per pixel of a mode; 0 for an unknown mode.
int32_t bytesPerPixel(PixelMode mode);

class PixelBuffer {
public:
    // An empty buffer: no array, width and height 0.
    PixelBuffer() = default;
    // A new buffer of width x height pixels: an array of
    // width * height * bytesPerPixel(mode) + 1 bytes, zero-filled.
    PixelBuffer(int32_t width, int32_t height, PixelMode mode);
    // Part 1.4, from an image handle in mode 0, 1 or 2; a handle of -1 (or any
    // handle the imaging library rejects) gives an empty buffer, and any other
    // mode gives no array.
    static PixelBuffer fromImage(ImageHandle image, PixelMode mode);

    PixelBuffer(const PixelBuffer &other);             // deep copy
    PixelBuffer &operator=(const PixelBuffer &other);  // deep copy
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
