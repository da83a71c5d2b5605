// Uncompressed BMP reading and writing of our own (the data directory holds
// the sock image "wrl\head_sock.bmp").
//
// Reader, strict on purpose: a 14-byte file header, then a
// BITMAPINFOHEADER (40 bytes) or one of its extensions (52, 56, BITMAPV4HEADER
// 108, BITMAPV5HEADER 124); 8 bits per pixel with a palette, 24 bits, or 32
// bits as BI_RGB or as BI_BITFIELDS with the standard masks; rows bottom-up
// (positive height) or top-down (negative height), each padded to a multiple
// of 4 bytes. Everything else is refused. Every read is checked, and the file
// must hold all pixel rows before any pixel memory is allocated.
//
// Writer: 24-bit BI_RGB with a BITMAPINFOHEADER for grey and colour images
// (grey repeated into B, G, R); for four-channel images 32-bit BI_BITFIELDS
// with a BITMAPV4HEADER whose alpha mask is 0xFF000000, the form that other
// programs read as alpha. Rows bottom-up.
#include <array>
#include <cstring>

#include "tavoimage/codecs.h"

namespace tavoimage {
namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;   // BITMAPINFOHEADER
constexpr uint32_t kV4HeaderBytes = 108;    // BITMAPV4HEADER
constexpr uint32_t kLargestHeaderBytes = 124;  // BITMAPV5HEADER
constexpr uint32_t kCompressionRgb = 0;        // BI_RGB
constexpr uint32_t kCompressionBitfields = 3;  // BI_BITFIELDS
// Standard masks of 32-bit B G R A pixels (bytes in that order in the file).
constexpr uint32_t kRedMask = 0x00FF0000U;
constexpr uint32_t kGreenMask = 0x0000FF00U;
constexpr uint32_t kBlueMask = 0x000000FFU;
constexpr uint32_t kAlphaMask = 0xFF000000U;
constexpr uint32_t kColourSpaceSrgb = 0x73524742U;  // 'sRGB'
constexpr int32_t kPixelsPerMetre = 2835;             // 72 dots per inch

uint16_t readLe16(const uint8_t *bytes) { return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)); }

uint32_t readLe32(const uint8_t *bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

int32_t readLeSigned32(const uint8_t *bytes) { return static_cast<int32_t>(readLe32(bytes)); }

void writeLe16(uint8_t *bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

void writeLe32(uint8_t *bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool readExact(std::FILE *file, void *destination, std::size_t count) {
    return count == 0 || std::fread(destination, 1, count, file) == count;
}

bool isSupportedHeaderSize(uint32_t size) {
    return size == kInfoHeaderBytes || size == 52 || size == 56 || size == kV4HeaderBytes ||
           size == kLargestHeaderBytes;
}

// Bytes from the current position to the end, or -1 when the stream cannot
// tell (then the row reads alone catch a short file).
int64_t bytesLeft(std::FILE *file) {
    const long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) return -1;
    const long end = std::ftell(file);
    if (std::fseek(file, here, SEEK_SET) != 0) return -1;
    return end < here ? -1 : static_cast<int64_t>(end - here);
}

// Bytes of one stored row: bitsPerPixel * width bits, padded to 4 bytes.
int64_t rowStride(int64_t width, int64_t bitsPerPixel) { return (width * bitsPerPixel + 31) / 32 * 4; }

}  // namespace

int32_t decodeBmp(std::FILE *file, bool keepAlpha, Image &image) {
    uint8_t fileHeader[kFileHeaderBytes];
    if (!readExact(file, fileHeader, sizeof fileHeader)) return TAVOIMG_ERR_CORRUPT;
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M') return TAVOIMG_ERR_FORMAT;
    const uint32_t pixelOffset = readLe32(fileHeader + 10);

    uint8_t info[kLargestHeaderBytes] = {};
    if (!readExact(file, info, 4)) return TAVOIMG_ERR_CORRUPT;
    const uint32_t infoBytes = readLe32(info);
    // OS/2 headers (12, 64 bytes) and unknown ones are not supported.
    if (!isSupportedHeaderSize(infoBytes)) return TAVOIMG_ERR_FORMAT;
    if (!readExact(file, info + 4, infoBytes - 4)) return TAVOIMG_ERR_CORRUPT;
    int64_t consumed = static_cast<int64_t>(kFileHeaderBytes) + infoBytes;

    const int32_t width = readLeSigned32(info + 4);
    const int32_t storedHeight = readLeSigned32(info + 8);
    const uint16_t planes = readLe16(info + 12);
    const uint16_t bitsPerPixel = readLe16(info + 14);
    const uint32_t compression = readLe32(info + 16);
    const uint32_t coloursUsed = readLe32(info + 32);

    if (planes != 1) return TAVOIMG_ERR_CORRUPT;
    if (bitsPerPixel != 8 && bitsPerPixel != 24 && bitsPerPixel != 32) return TAVOIMG_ERR_FORMAT;
    if (compression != kCompressionRgb && !(compression == kCompressionBitfields && bitsPerPixel == 32)) {
        return TAVOIMG_ERR_FORMAT;
    }
    if (width <= 0 || storedHeight == 0) return TAVOIMG_ERR_CORRUPT;
    // A negative height means top-down rows; 64 bits so that INT32_MIN negates.
    const bool topDown = storedHeight < 0;
    const int64_t height = topDown ? -static_cast<int64_t>(storedHeight) : storedHeight;
    if (!sizeWithinLimits(width, height)) return TAVOIMG_ERR_MEMORY;

    // The fourth byte of a 32-bit pixel: alpha for BI_RGB (where it is
    // formally reserved, but often alpha) and for bitfields with the alpha
    // mask; ignored for bitfields without an alpha mask.
    bool fourthByteMayBeAlpha = bitsPerPixel == 32;
    if (compression == kCompressionBitfields) {
        uint32_t masks[4] = {0, 0, 0, 0};
        if (infoBytes == kInfoHeaderBytes) {
            // The three masks follow a 40-byte header.
            uint8_t maskBytes[12];
            if (!readExact(file, maskBytes, sizeof maskBytes)) return TAVOIMG_ERR_CORRUPT;
            consumed += sizeof maskBytes;
            for (int i = 0; i < 3; ++i) masks[i] = readLe32(maskBytes + 4 * i);
        } else {
            for (int i = 0; i < 3; ++i) masks[i] = readLe32(info + 40 + 4 * i);
            if (infoBytes >= 56) masks[3] = readLe32(info + 52);
        }
        if (masks[0] != kRedMask || masks[1] != kGreenMask || masks[2] != kBlueMask ||
            (masks[3] != 0 && masks[3] != kAlphaMask)) {
            return TAVOIMG_ERR_FORMAT;
        }
        fourthByteMayBeAlpha = masks[3] == kAlphaMask;
    }

    // The palette (B, G, R, reserved per entry) follows the header and masks.
    std::array<uint8_t, 256 * 4> palette{};
    uint32_t paletteEntries = 0;
    if (bitsPerPixel == 8) {
        paletteEntries = coloursUsed == 0 ? 256 : coloursUsed;
        if (paletteEntries > 256) return TAVOIMG_ERR_CORRUPT;
        if (!readExact(file, palette.data(), paletteEntries * 4)) return TAVOIMG_ERR_CORRUPT;
        consumed += paletteEntries * 4;
    }

    // The pixels start at the offset of the file header, after all of the
    // above (a palette of other depths, or a gap, may lie in between).
    if (pixelOffset < consumed) return TAVOIMG_ERR_CORRUPT;
    const int64_t stride = rowStride(width, bitsPerPixel);
    const int64_t pixelBytes = stride * height;  // within limits: below 2^40
    const int64_t available = bytesLeft(file);
    if (available >= 0 && pixelOffset - consumed + pixelBytes > available) return TAVOIMG_ERR_CORRUPT;
    for (int64_t skip = pixelOffset - consumed; skip > 0;) {
        uint8_t gap[256];
        const std::size_t chunk = static_cast<std::size_t>(skip < 256 ? skip : 256);
        if (!readExact(file, gap, chunk)) return TAVOIMG_ERR_CORRUPT;
        skip -= static_cast<int64_t>(chunk);
    }

    const int32_t channels = keepAlpha ? 4 : 3;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(channels);
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> row;
    if (!tryResize(pixels, rowBytes * static_cast<std::size_t>(height)) ||
        !tryResize(row, static_cast<std::size_t>(stride))) {
        return TAVOIMG_ERR_MEMORY;
    }
    bool anyFourthByteSet = false;
    for (int64_t storedRow = 0; storedRow < height; ++storedRow) {
        if (!readExact(file, row.data(), row.size())) return TAVOIMG_ERR_CORRUPT;
        const int64_t y = topDown ? storedRow : height - 1 - storedRow;
        uint8_t *out = pixels.data() + rowBytes * static_cast<std::size_t>(y);
        // B G R (A) in the file; R G B (A) in the image. One loop per depth
        // keeps the per-pixel work small for large photos.
        if (bitsPerPixel == 8) {
            for (int32_t x = 0; x < width; ++x, out += channels) {
                const uint32_t index = row[static_cast<std::size_t>(x)];
                if (index >= paletteEntries) return TAVOIMG_ERR_CORRUPT;
                const uint8_t *bgr = palette.data() + 4 * index;
                out[0] = bgr[2];
                out[1] = bgr[1];
                out[2] = bgr[0];
                if (keepAlpha) out[3] = 255;
            }
        } else if (bitsPerPixel == 24) {
            const uint8_t *bgr = row.data();
            for (int32_t x = 0; x < width; ++x, out += channels, bgr += 3) {
                out[0] = bgr[2];
                out[1] = bgr[1];
                out[2] = bgr[0];
                if (keepAlpha) out[3] = 255;
            }
        } else {
            const uint8_t *bgra = row.data();
            for (int32_t x = 0; x < width; ++x, out += channels, bgra += 4) {
                out[0] = bgra[2];
                out[1] = bgra[1];
                out[2] = bgra[0];
                if (keepAlpha) out[3] = fourthByteMayBeAlpha ? bgra[3] : 255;
                anyFourthByteSet = anyFourthByteSet || bgra[3] != 0;
            }
        }
    }
    // A fourth byte that is zero everywhere is padding written by programs
    // that know no alpha, not a fully transparent picture: opaque.
    if (keepAlpha && fourthByteMayBeAlpha && !anyFourthByteSet) {
        for (std::size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 255;
    }
    image.width = width;
    image.height = static_cast<int32_t>(height);
    image.channels = channels;
    image.pixels = std::move(pixels);
    return TAVOIMG_OK;
}

int32_t encodeBmp(const Image &image, std::FILE *file) {
    if (image.channels != 1 && image.channels != 3 && image.channels != 4) return TAVOIMG_ERR_WRITE;
    const bool withAlpha = image.channels == 4;
    const uint32_t bitsPerPixel = withAlpha ? 32 : 24;
    const uint32_t infoBytes = withAlpha ? kV4HeaderBytes : kInfoHeaderBytes;
    const int64_t stride = rowStride(image.width, bitsPerPixel);
    // Within the limits: at most 2^27 pixels of 4 bytes, below 2^32.
    const int64_t pixelBytes = stride * image.height;
    const uint32_t pixelOffset = static_cast<uint32_t>(kFileHeaderBytes) + infoBytes;

    uint8_t header[kFileHeaderBytes + kV4HeaderBytes] = {};
    header[0] = 'B';
    header[1] = 'M';
    writeLe32(header + 2, static_cast<uint32_t>(pixelOffset + pixelBytes));
    writeLe32(header + 10, pixelOffset);
    uint8_t *info = header + kFileHeaderBytes;
    writeLe32(info, infoBytes);
    writeLe32(info + 4, static_cast<uint32_t>(image.width));
    writeLe32(info + 8, static_cast<uint32_t>(image.height));  // positive: bottom-up
    writeLe16(info + 12, 1);
    writeLe16(info + 14, bitsPerPixel);
    writeLe32(info + 16, withAlpha ? kCompressionBitfields : kCompressionRgb);
    writeLe32(info + 20, static_cast<uint32_t>(pixelBytes));
    writeLe32(info + 24, static_cast<uint32_t>(kPixelsPerMetre));
    writeLe32(info + 28, static_cast<uint32_t>(kPixelsPerMetre));
    if (withAlpha) {
        writeLe32(info + 40, kRedMask);
        writeLe32(info + 44, kGreenMask);
        writeLe32(info + 48, kBlueMask);
        writeLe32(info + 52, kAlphaMask);
        writeLe32(info + 56, kColourSpaceSrgb);
    }
    const std::size_t headerBytes = pixelOffset;
    if (std::fwrite(header, 1, headerBytes, file) != headerBytes) return TAVOIMG_ERR_WRITE;

    std::vector<uint8_t> row;
    if (!tryResize(row, static_cast<std::size_t>(stride))) return TAVOIMG_ERR_WRITE;
    const int32_t channels = image.channels;
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(channels);
    const std::size_t pixelSize = bitsPerPixel / 8;
    for (int32_t y = image.height - 1; y >= 0; --y) {
        const uint8_t *in = image.pixels.data() + rowBytes * static_cast<std::size_t>(y);
        uint8_t *out = row.data();
        for (int32_t x = 0; x < image.width; ++x, in += channels, out += pixelSize) {
            const uint8_t red = in[0];
            const uint8_t green = channels == 1 ? in[0] : in[1];
            const uint8_t blue = channels == 1 ? in[0] : in[2];
            out[0] = blue;
            out[1] = green;
            out[2] = red;
            if (withAlpha) out[3] = in[3];
        }
        // The padding bytes stay zero from the allocation.
        if (std::fwrite(row.data(), 1, row.size(), file) != row.size()) return TAVOIMG_ERR_WRITE;
    }
    return TAVOIMG_OK;
}

}  // namespace tavoimage
