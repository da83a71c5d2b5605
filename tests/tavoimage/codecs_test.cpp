// File codecs of tavoimage (Part 1.2: images from and to files): PNG, JPEG
// and BMP round trips, the layouts each reader accepts, and clean failure on
// truncated, hostile, unknown or missing files. Files that our own writers
// cannot produce (palette PNGs, CMYK JPEGs, hand-made BMP headers) are made
// here with libpng, libjpeg and byte arrays.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>  // before jpeglib.h, which needs FILE
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include "tavoimage.h"
#include "tavoimage/test_support.h"

using namespace tavoimage_test;

namespace {

constexpr ImageHandle kUntouched = 987654;

// ---- helpers ---------------------------------------------------------------

// Loads a file; expects success and returns the handle.
ImageHandle loadFile(const std::string &path, bool withAlpha) {
    ImageHandle image = -1;
    const int32_t status =
        withAlpha ? TAVO_LoadImageFromFileWithAlpha(&image, path.c_str()) : TAVO_LoadImageFromFile(&image, path.c_str());
    EXPECT_EQ(status, TAVOIMG_OK) << path;
    return image;
}

// Expects a load to fail with `expected` (both loaders) and create nothing.
void expectLoadFails(const std::string &path, int32_t expected) {
    for (bool withAlpha : {false, true}) {
        ImageHandle out = kUntouched;
        const int32_t status =
            withAlpha ? TAVO_LoadImageFromFileWithAlpha(&out, path.c_str()) : TAVO_LoadImageFromFile(&out, path.c_str());
        EXPECT_EQ(status, expected) << path << (withAlpha ? " with alpha" : "");
        EXPECT_EQ(out, kUntouched);
    }
}

// The pixels expected after loading a file saved from `pixels` of
// `channels` channels, read back as R G B A: grey repeats, alpha 255 where
// there is none.
std::vector<uint8_t> asRgba(const std::vector<uint8_t> &pixels, int channels) {
    std::vector<uint8_t> rgba;
    for (std::size_t i = 0; i < pixels.size(); i += static_cast<std::size_t>(channels)) {
        const uint8_t red = pixels[i];
        rgba.push_back(red);
        rgba.push_back(channels == 1 ? red : pixels[i + 1]);
        rgba.push_back(channels == 1 ? red : pixels[i + 2]);
        rgba.push_back(channels == 4 ? pixels[i + 3] : 255);
    }
    return rgba;
}

// R G B A pixels with every alpha set to 255.
std::vector<uint8_t> withOpaqueAlpha(std::vector<uint8_t> rgba) {
    for (std::size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 255;
    return rgba;
}

double meanAbsoluteDifference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
    EXPECT_EQ(a.size(), b.size());
    double total = 0.0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) total += std::abs(int(a[i]) - int(b[i]));
    return a.empty() ? 0.0 : total / static_cast<double>(a.size());
}

// Saves an image of packed pixels to `path`; expects success.
void saveImage(const std::vector<uint8_t> &pixels, int width, int height, int channels, const std::string &path) {
    const ImageHandle image = makeImage(pixels, width, height, channels);
    EXPECT_EQ(TAVO_SaveImageToFile(image, path.c_str()), TAVOIMG_OK) << path;
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

uint32_t readBigEndian32(const uint8_t *bytes) {
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
}

void writeBigEndian32(uint8_t *bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// Offset of the first JPEG marker FF `code`, or 0.
std::size_t findJpegMarker(const std::vector<uint8_t> &bytes, uint8_t code) {
    for (std::size_t i = 2; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == code) return i;
    }
    return 0;
}

// A PNG written by libpng directly, for layouts that tavoimage does not
// write. C style: no C++ object lives in this setjmp frame.
struct PngSpec {
    uint32_t width;
    uint32_t height;
    int colorType;
    int bitDepth;
    int interlace;
    const uint8_t *const *rows;
    const png_color *palette;
    int paletteSize;
    const uint8_t *transparency;
    int transparencyCount;
};

bool writePngWithLibpng(const char *path, const PngSpec *spec) {
    std::FILE *file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, spec->width, spec->height, spec->bitDepth, spec->colorType, spec->interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (spec->palette != nullptr) png_set_PLTE(png, info, spec->palette, spec->paletteSize);
    if (spec->transparency != nullptr) {
        png_set_tRNS(png, info, spec->transparency, spec->transparencyCount, nullptr);
    }
    png_write_info(png, info);
    png_write_image(png, const_cast<png_bytepp>(spec->rows));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

void writePng(const std::string &path, PngSpec spec, const std::vector<std::vector<uint8_t>> &rows) {
    std::vector<const uint8_t *> rowPointers;
    for (const auto &row : rows) rowPointers.push_back(row.data());
    spec.rows = rowPointers.data();
    ASSERT_TRUE(writePngWithLibpng(path.c_str(), &spec));
}

// A CMYK JPEG written by libjpeg directly (tavoimage refuses to read them).
bool writeCmykJpeg(const char *path) {
    std::FILE *file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    jpeg_compress_struct codec;
    jpeg_error_mgr errors;
    codec.err = jpeg_std_error(&errors);
    jpeg_create_compress(&codec);
    jpeg_stdio_dest(&codec, file);
    codec.image_width = 8;
    codec.image_height = 8;
    codec.input_components = 4;
    codec.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&codec);
    jpeg_start_compress(&codec, TRUE);
    uint8_t row[8 * 4];
    for (int i = 0; i < 32; ++i) row[i] = static_cast<uint8_t>(i * 7);
    while (codec.next_scanline < codec.image_height) {
        JSAMPROW pointer = row;
        jpeg_write_scanlines(&codec, &pointer, 1);
    }
    jpeg_finish_compress(&codec);
    jpeg_destroy_compress(&codec);
    return std::fclose(file) == 0;
}

// A progressive colour JPEG written by libjpeg (several scans).
bool writeProgressiveJpeg(const char *path) {
    std::FILE *file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    jpeg_compress_struct codec;
    jpeg_error_mgr errors;
    codec.err = jpeg_std_error(&errors);
    jpeg_create_compress(&codec);
    jpeg_stdio_dest(&codec, file);
    codec.image_width = 16;
    codec.image_height = 16;
    codec.input_components = 3;
    codec.in_color_space = JCS_RGB;
    jpeg_set_defaults(&codec);
    jpeg_simple_progression(&codec);
    jpeg_start_compress(&codec, TRUE);
    uint8_t row[16 * 3];
    for (int i = 0; i < 48; ++i) row[i] = static_cast<uint8_t>(i * 5);
    while (codec.next_scanline < codec.image_height) {
        JSAMPROW pointer = row;
        jpeg_write_scanlines(&codec, &pointer, 1);
    }
    jpeg_finish_compress(&codec);
    jpeg_destroy_compress(&codec);
    return std::fclose(file) == 0;
}

// The end of the entropy-coded data that starts at `from`: the next marker
// that is neither a stuffed FF 00 nor a restart marker FF D0 to FF D7.
std::size_t endOfScanData(const std::vector<uint8_t> &bytes, std::size_t from) {
    for (std::size_t i = from; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] != 0 && !(bytes[i + 1] >= 0xD0 && bytes[i + 1] <= 0xD7)) return i;
    }
    return bytes.size();
}

// A BMP file assembled field by field (little-endian), so that every header
// field can be set to a hostile value.
struct BmpSpec {
    int32_t width = 2;
    int32_t height = 2;
    uint16_t planes = 1;
    uint16_t bitsPerPixel = 24;
    uint32_t compression = 0;
    uint32_t headerSize = 40;
    uint32_t coloursUsed = 0;
    std::vector<uint32_t> masks;      // after a 40-byte header, else inside it
    std::vector<uint8_t> palette;     // B G R 0 per entry
    std::vector<uint8_t> gap;         // bytes between the tables and the pixels
    int64_t pixelOffset = -1;         // -1: where the pixels really start
    std::vector<uint8_t> pixelData;   // stored rows, padded, in file order
};

void putLe(std::vector<uint8_t> &bytes, std::size_t at, uint64_t value, int count) {
    for (int i = 0; i < count; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> buildBmp(const BmpSpec &spec) {
    const std::size_t headerBytes = spec.headerSize >= 40 && spec.headerSize <= 124 ? spec.headerSize : 40;
    std::vector<uint8_t> bytes(14 + headerBytes, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    putLe(bytes, 14, spec.headerSize, 4);
    putLe(bytes, 18, static_cast<uint32_t>(spec.width), 4);
    putLe(bytes, 22, static_cast<uint32_t>(spec.height), 4);
    putLe(bytes, 26, spec.planes, 2);
    putLe(bytes, 28, spec.bitsPerPixel, 2);
    putLe(bytes, 30, spec.compression, 4);
    putLe(bytes, 46, spec.coloursUsed, 4);
    for (std::size_t i = 0; i < spec.masks.size(); ++i) {
        if (headerBytes == 40) {
            bytes.resize(bytes.size() + 4);
            putLe(bytes, bytes.size() - 4, spec.masks[i], 4);
        } else {
            putLe(bytes, 14 + 40 + 4 * i, spec.masks[i], 4);
        }
    }
    bytes.insert(bytes.end(), spec.palette.begin(), spec.palette.end());
    bytes.insert(bytes.end(), spec.gap.begin(), spec.gap.end());
    const uint64_t offset = spec.pixelOffset >= 0 ? static_cast<uint64_t>(spec.pixelOffset) : bytes.size();
    putLe(bytes, 10, offset, 4);
    bytes.insert(bytes.end(), spec.pixelData.begin(), spec.pixelData.end());
    putLe(bytes, 2, bytes.size(), 4);
    return bytes;
}

// Stored rows of a BMP: R G B (A) pixels top row first become B G R (A)
// rows, bottom-up unless topDown, each padded with zeros to 4 bytes.
std::vector<uint8_t> storedRows(const std::vector<uint8_t> &pixels, int width, int height, int channels,
                                bool topDown) {
    std::vector<uint8_t> data;
    for (int r = 0; r < height; ++r) {
        const int y = topDown ? r : height - 1 - r;
        std::size_t rowStart = data.size();
        for (int x = 0; x < width; ++x) {
            const uint8_t *p = &pixels[static_cast<std::size_t>((y * width + x) * channels)];
            data.push_back(p[2]);
            data.push_back(p[1]);
            data.push_back(p[0]);
            if (channels == 4) data.push_back(p[3]);
        }
        while ((data.size() - rowStart) % 4 != 0) data.push_back(0);
    }
    return data;
}

// A valid 2 x 2 24-bit BMP, the base of the hostile variants.
BmpSpec validBmpSpec() {
    BmpSpec spec;
    spec.pixelData = storedRows({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 2, 2, 3, false);
    return spec;
}

class CodecFiles : public ::testing::Test {
protected:
    TempDirectory directory;
};

// ---- round trips -----------------------------------------------------------

TEST_F(CodecFiles, PngRoundTripIsExactForOneThreeAndFourChannels) {
    for (int channels : {1, 3, 4}) {
        const int width = 13, height = 6;
        const std::vector<uint8_t> pixels = randomPixels(static_cast<std::size_t>(width * height * channels), 10 + channels);
        const std::string path = directory.file("round" + std::to_string(channels) + ".png");
        saveImage(pixels, width, height, channels, path);
        const ImageHandle withAlpha = loadFile(path, true);
        EXPECT_EQ(widthOf(withAlpha), width);
        EXPECT_EQ(heightOf(withAlpha), height);
        EXPECT_EQ(pixelsOf(withAlpha, TAVO_IMAGEMODE_COLOR_ALPHA), asRgba(pixels, channels)) << channels;
        // A grey file comes back as colour with the level repeated, whose luma
        // is that level again.
        if (channels == 1) {
            EXPECT_EQ(pixelsOf(withAlpha, TAVO_IMAGEMODE_GREY), pixels);
        }
        EXPECT_EQ(TAVO_FreeImage(withAlpha), TAVOIMG_OK);
    }
}

TEST_F(CodecFiles, PngIsWrittenWithTheImagesChannelLayout) {
    // IHDR colour type at byte 25: 0 grey, 2 RGB, 6 RGBA.
    const std::pair<int, uint8_t> cases[] = {{1, 0}, {3, 2}, {4, 6}};
    for (const auto &[channels, colourType] : cases) {
        const std::string path = directory.file("layout" + std::to_string(channels) + ".png");
        saveImage(randomPixels(static_cast<std::size_t>(4 * channels), 1), 2, 2, channels, path);
        const std::vector<uint8_t> bytes = readFileBytes(path);
        ASSERT_GT(bytes.size(), 26u);
        EXPECT_EQ(bytes[25], colourType) << channels;
        EXPECT_EQ(bytes[24], 8);  // bit depth
    }
}

TEST_F(CodecFiles, BmpRoundTripIsExactFor24And32Bits) {
    for (int channels : {3, 4}) {
        for (int width : {1, 2, 3, 5}) {  // every row padding
            const int height = 3;
            std::vector<uint8_t> pixels = randomPixels(static_cast<std::size_t>(width * height * channels), width);
            if (channels == 4) pixels[3] = 17;  // some alpha is not zero
            const std::string path = directory.file("round" + std::to_string(channels) + "_" + std::to_string(width) + ".bmp");
            saveImage(pixels, width, height, channels, path);
            const std::vector<uint8_t> bytes = readFileBytes(path);
            ASSERT_GT(bytes.size(), 30u);
            EXPECT_EQ(bytes[28], channels == 4 ? 32 : 24);  // bits per pixel
            const ImageHandle image = loadFile(path, true);
            EXPECT_EQ(widthOf(image), width);
            EXPECT_EQ(heightOf(image), height);
            EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR_ALPHA), asRgba(pixels, channels))
                << channels << " channels, width " << width;
            EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
        }
    }
}

TEST_F(CodecFiles, BmpOfGreyImageRepeatsTheLevel) {
    const std::vector<uint8_t> grey = {0, 50, 100, 150, 200, 250};
    const std::string path = directory.file("grey.bmp");
    saveImage(grey, 3, 2, 1, path);
    const ImageHandle image = loadFile(path, false);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR_ALPHA), asRgba(grey, 1));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, JpegRoundTripIsCloseForColour) {
    const int width = 40, height = 24;
    const std::vector<uint8_t> pixels = smoothPixels(width, height, 3);
    const std::string path = directory.file("colour.jpg");
    saveImage(pixels, width, height, 3, path);
    const ImageHandle image = loadFile(path, false);
    EXPECT_EQ(widthOf(image), width);
    EXPECT_EQ(heightOf(image), height);
    EXPECT_LT(meanAbsoluteDifference(pixelsOf(image, TAVO_IMAGEMODE_COLOR), pixels), 2.0);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, JpegOfGreyImageStaysGrey) {
    const int width = 16, height = 16;
    const std::vector<uint8_t> grey = smoothPixels(width, height, 1);
    const std::string path = directory.file("grey.jpeg");
    saveImage(grey, width, height, 1, path);
    // The frame header (SOF0: FF C0, length, precision, height, width, number
    // of components) names one component.
    const std::vector<uint8_t> bytes = readFileBytes(path);
    const std::size_t frame = findJpegMarker(bytes, 0xC0);
    ASSERT_GT(frame, 0u);
    EXPECT_EQ(bytes[frame + 9], 1);
    const ImageHandle image = loadFile(path, true);
    const std::vector<uint8_t> rgba = pixelsOf(image, TAVO_IMAGEMODE_COLOR_ALPHA);
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        EXPECT_EQ(rgba[i], rgba[i + 1]);
        EXPECT_EQ(rgba[i], rgba[i + 2]);
        EXPECT_EQ(rgba[i + 3], 255);
    }
    EXPECT_LT(meanAbsoluteDifference(pixelsOf(image, TAVO_IMAGEMODE_GREY), grey), 1.0);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, JpegDropsAlphaAndKeepsColours) {
    const int width = 24, height = 16;
    const std::vector<uint8_t> pixels = smoothPixels(width, height, 4);
    const std::string path = directory.file("alpha.jpg");
    saveImage(pixels, width, height, 4, path);
    const ImageHandle image = loadFile(path, true);
    const std::vector<uint8_t> rgba = pixelsOf(image, TAVO_IMAGEMODE_COLOR_ALPHA);
    std::vector<uint8_t> colourIn, colourOut;
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        EXPECT_EQ(rgba[i + 3], 255);
        for (int c = 0; c < 3; ++c) {
            colourIn.push_back(pixels[i + static_cast<std::size_t>(c)]);
            colourOut.push_back(rgba[i + static_cast<std::size_t>(c)]);
        }
    }
    EXPECT_LT(meanAbsoluteDifference(colourOut, colourIn), 2.0);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, LoadingWithoutAlphaDropsTheFilesAlpha) {
    const std::vector<uint8_t> pixels = randomPixels(4 * 6, 3);
    for (const char *name : {"drop.png", "drop.bmp"}) {
        const std::string path = directory.file(name);
        saveImage(pixels, 3, 2, 4, path);
        const ImageHandle image = loadFile(path, false);
        EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR_ALPHA), withOpaqueAlpha(pixels)) << name;
        EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
    }
}

TEST_F(CodecFiles, LoadingAnOpaqueFileWithAlphaGivesAlpha255) {
    const std::vector<uint8_t> pixels = randomPixels(3 * 6, 4);
    for (const char *name : {"opaque.png", "opaque.bmp"}) {
        const std::string path = directory.file(name);
        saveImage(pixels, 3, 2, 3, path);
        const ImageHandle image = loadFile(path, true);
        EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR_ALPHA), asRgba(pixels, 3)) << name;
        EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
    }
}

TEST_F(CodecFiles, FormatIsFoundFromContentNotName) {
    const std::vector<uint8_t> pixels = randomPixels(3 * 4, 8);
    const std::string pngPath = directory.file("real.png");
    saveImage(pixels, 2, 2, 3, pngPath);
    const std::string misnamed = directory.file("misnamed.bmp");
    std::filesystem::rename(pngPath, misnamed);
    const ImageHandle image = loadFile(misnamed, false);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR), pixels);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, ExtensionIsMatchedCaseInsensitively) {
    const std::vector<uint8_t> pixels = randomPixels(3 * 4, 9);
    const std::pair<const char *, std::vector<uint8_t>> cases[] = {
        {"upper.PNG", {0x89, 'P', 'N', 'G'}}, {"mixed.JpEg", {0xFF, 0xD8, 0xFF}}, {"upper.JPG", {0xFF, 0xD8, 0xFF}},
        {"mixed.Bmp", {'B', 'M'}}};
    for (const auto &[name, magic] : cases) {
        const std::string path = directory.file(name);
        saveImage(pixels, 2, 2, 3, path);
        const std::vector<uint8_t> bytes = readFileBytes(path);
        ASSERT_GE(bytes.size(), magic.size()) << name;
        EXPECT_TRUE(std::equal(magic.begin(), magic.end(), bytes.begin())) << name;
    }
}

// ---- PNG layouts written by libpng ------------------------------------------

TEST_F(CodecFiles, PalettePngWithTransparencyGivesColoursAndAlpha) {
    const png_color palette[3] = {{255, 0, 0}, {0, 128, 255}, {10, 20, 30}};
    const uint8_t transparency[2] = {0, 128};  // the third entry stays opaque
    const std::string path = directory.file("palette.png");
    writePng(path, {3, 2, PNG_COLOR_TYPE_PALETTE, 8, PNG_INTERLACE_NONE, nullptr, palette, 3, transparency, 2},
             {{0, 1, 2}, {2, 2, 1}});
    const ImageHandle withAlpha = loadFile(path, true);
    EXPECT_EQ(pixelsOf(withAlpha, TAVO_IMAGEMODE_COLOR_ALPHA),
              (std::vector<uint8_t>{255, 0, 0, 0, 0, 128, 255, 128, 10, 20, 30, 255,  //
                                    10, 20, 30, 255, 10, 20, 30, 255, 0, 128, 255, 128}));
    const ImageHandle withoutAlpha = loadFile(path, false);
    EXPECT_EQ(pixelsOf(withoutAlpha, TAVO_IMAGEMODE_COLOR),
              (std::vector<uint8_t>{255, 0, 0, 0, 128, 255, 10, 20, 30, 10, 20, 30, 10, 20, 30, 0, 128, 255}));
    EXPECT_EQ(TAVO_FreeImage(withAlpha), TAVOIMG_OK);
    EXPECT_EQ(TAVO_FreeImage(withoutAlpha), TAVOIMG_OK);
}

TEST_F(CodecFiles, PalettePngWithoutTransparencyIsOpaque) {
    const png_color palette[2] = {{1, 2, 3}, {250, 251, 252}};
    const std::string path = directory.file("opaque_palette.png");
    writePng(path, {2, 1, PNG_COLOR_TYPE_PALETTE, 8, PNG_INTERLACE_NONE, nullptr, palette, 2, nullptr, 0}, {{1, 0}});
    const ImageHandle image = loadFile(path, true);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR_ALPHA), (std::vector<uint8_t>{250, 251, 252, 255, 1, 2, 3, 255}));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, SixteenBitGreyPngIsScaledAndRepeated) {
    const std::string path = directory.file("grey16.png");
    writePng(path, {3, 1, PNG_COLOR_TYPE_GRAY, 16, PNG_INTERLACE_NONE, nullptr, nullptr, 0, nullptr, 0},
             {{0x00, 0x00, 0x80, 0x80, 0xFF, 0xFF}});  // 0, 128 * 257, 255 * 257
    const ImageHandle image = loadFile(path, false);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR), (std::vector<uint8_t>{0, 0, 0, 128, 128, 128, 255, 255, 255}));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, OneBitGreyPngExpandsToBlackAndWhite) {
    const std::string path = directory.file("bits.png");
    writePng(path, {8, 1, PNG_COLOR_TYPE_GRAY, 1, PNG_INTERLACE_NONE, nullptr, nullptr, 0, nullptr, 0},
             {{0xB2}});  // 1011 0010
    const ImageHandle image = loadFile(path, false);
    std::vector<uint8_t> expected;
    for (int bit : {1, 0, 1, 1, 0, 0, 1, 0}) expected.insert(expected.end(), 3, bit ? 255 : 0);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR), expected);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, GreyAlphaPngKeepsItsAlpha) {
    const std::string path = directory.file("greyalpha.png");
    writePng(path, {2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, PNG_INTERLACE_NONE, nullptr, nullptr, 0, nullptr, 0},
             {{90, 10, 200, 250}});
    const ImageHandle image = loadFile(path, true);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR_ALPHA), (std::vector<uint8_t>{90, 90, 90, 10, 200, 200, 200, 250}));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, SixteenBitPngIsScaledToEightBits) {
    // 16-bit samples b * 257 are exactly b in 8 bits.
    const std::vector<uint8_t> eightBit = {0, 1, 127, 128, 254, 255, 33, 66};  // two RGBA pixels
    std::vector<uint8_t> row;
    for (uint8_t b : eightBit) {
        const unsigned sample = b * 257u;
        row.push_back(static_cast<uint8_t>(sample >> 8));
        row.push_back(static_cast<uint8_t>(sample));
    }
    const std::string path = directory.file("sixteen.png");
    writePng(path, {2, 1, PNG_COLOR_TYPE_RGB_ALPHA, 16, PNG_INTERLACE_NONE, nullptr, nullptr, 0, nullptr, 0}, {row});
    const ImageHandle image = loadFile(path, true);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR_ALPHA), eightBit);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, InterlacedPngIsReadWhole) {
    const int width = 11, height = 9;
    const std::vector<uint8_t> pixels = randomPixels(static_cast<std::size_t>(width * height * 3), 21);
    std::vector<std::vector<uint8_t>> rows;
    for (int y = 0; y < height; ++y) {
        rows.emplace_back(pixels.begin() + y * width * 3, pixels.begin() + (y + 1) * width * 3);
    }
    const std::string path = directory.file("adam7.png");
    writePng(path, {11, 9, PNG_COLOR_TYPE_RGB, 8, PNG_INTERLACE_ADAM7, nullptr, nullptr, 0, nullptr, 0}, rows);
    const ImageHandle image = loadFile(path, false);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR), pixels);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

// ---- BMP layouts -------------------------------------------------------------

TEST_F(CodecFiles, BottomUpBmpWithRowPaddingIsReadTopRowFirst) {
    // 3 pixels of 24 bits: rows of 9 bytes padded to 12.
    const std::vector<uint8_t> pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    BmpSpec spec;
    spec.width = 3;
    spec.pixelData = storedRows(pixels, 3, 2, 3, false);
    ASSERT_EQ(spec.pixelData.size(), 24u);
    const std::string path = directory.file("bottomup.bmp");
    writeFileBytes(path, buildBmp(spec));
    const ImageHandle image = loadFile(path, false);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR), pixels);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, TopDownBmpWithNegativeHeightIsRead) {
    const std::vector<uint8_t> pixels = randomPixels(3 * 3 * 3, 30);
    BmpSpec spec;
    spec.width = 3;
    spec.height = -3;
    spec.pixelData = storedRows(pixels, 3, 3, 3, true);
    const std::string path = directory.file("topdown.bmp");
    writeFileBytes(path, buildBmp(spec));
    const ImageHandle image = loadFile(path, false);
    EXPECT_EQ(heightOf(image), 3);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR), pixels);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, ThirtyTwoBitBmpWithZeroFourthBytesIsOpaque) {
    std::vector<uint8_t> pixels = randomPixels(4 * 4, 31);
    for (std::size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 0;
    BmpSpec spec;
    spec.bitsPerPixel = 32;
    spec.pixelData = storedRows(pixels, 2, 2, 4, false);
    const std::string path = directory.file("zeroalpha.bmp");
    writeFileBytes(path, buildBmp(spec));
    const ImageHandle image = loadFile(path, true);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR_ALPHA), withOpaqueAlpha(pixels));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, ThirtyTwoBitBmpWithSomeAlphaKeepsAlpha) {
    const std::vector<uint8_t> pixels = {10, 20, 30, 0, 40, 50, 60, 128, 70, 80, 90, 255, 1, 2, 3, 0};
    BmpSpec spec;
    spec.bitsPerPixel = 32;
    spec.pixelData = storedRows(pixels, 2, 2, 4, false);
    const std::string path = directory.file("alpha_rgb.bmp");
    writeFileBytes(path, buildBmp(spec));
    const ImageHandle image = loadFile(path, true);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR_ALPHA), pixels);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, V5BitfieldsBmpWithAlphaMaskKeepsAlpha) {
    const std::vector<uint8_t> pixels = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150, 160};
    BmpSpec spec;
    spec.bitsPerPixel = 32;
    spec.compression = 3;
    spec.headerSize = 124;
    spec.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    spec.height = -2;
    spec.pixelData = storedRows(pixels, 2, 2, 4, true);
    const std::string path = directory.file("v5.bmp");
    writeFileBytes(path, buildBmp(spec));
    const ImageHandle image = loadFile(path, true);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR_ALPHA), pixels);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, BitfieldsBmpWithoutAlphaMaskIsOpaque) {
    // Masks after a 40-byte header; the fourth bytes are not alpha.
    const std::vector<uint8_t> pixels = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150, 160};
    BmpSpec spec;
    spec.bitsPerPixel = 32;
    spec.compression = 3;
    spec.masks = {0x00FF0000, 0x0000FF00, 0x000000FF};
    spec.pixelData = storedRows(pixels, 2, 2, 4, false);
    const std::string path = directory.file("bitfields.bmp");
    writeFileBytes(path, buildBmp(spec));
    const ImageHandle image = loadFile(path, true);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR_ALPHA),
              (std::vector<uint8_t>{10, 20, 30, 255, 50, 60, 70, 255, 90, 100, 110, 255, 130, 140, 150, 255}));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, PalettedBmpMapsIndicesToColours) {
    BmpSpec spec;
    spec.width = 3;
    spec.bitsPerPixel = 8;
    spec.coloursUsed = 3;
    spec.palette = {30, 20, 10, 0, 60, 50, 40, 0, 90, 80, 70, 0};  // B G R 0
    spec.gap = {0xEE, 0xEE};  // the offset skips these
    spec.pixelData = {2, 1, 0, 0, 0, 0, 1, 0};  // bottom row first, padded to 4
    // Top row: indices 0 0 1; bottom row: 2 1 0.
    const std::string path = directory.file("palette.bmp");
    writeFileBytes(path, buildBmp(spec));
    const ImageHandle image = loadFile(path, false);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR),
              (std::vector<uint8_t>{10, 20, 30, 10, 20, 30, 40, 50, 60, 70, 80, 90, 40, 50, 60, 10, 20, 30}));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, HostileBmpHeadersFailWithoutCreatingAnImage) {
    struct Case {
        const char *name;
        void (*change)(BmpSpec &);
        int32_t expected;
    };
    const Case cases[] = {
        {"huge width", [](BmpSpec &s) { s.width = 0x7FFFFFFF; }, TAVOIMG_ERR_MEMORY},
        {"width one beyond the side limit", [](BmpSpec &s) { s.width = TAVOIMG_MAX_SIDE + 1; }, TAVOIMG_ERR_MEMORY},
        {"huge height", [](BmpSpec &s) { s.height = 0x7FFFFFFF; }, TAVOIMG_ERR_MEMORY},
        {"most negative height", [](BmpSpec &s) { s.height = INT32_MIN; }, TAVOIMG_ERR_MEMORY},
        {"too many pixels", [](BmpSpec &s) { s.width = s.height = 20000; }, TAVOIMG_ERR_MEMORY},
        {"negative width", [](BmpSpec &s) { s.width = -2; }, TAVOIMG_ERR_CORRUPT},
        {"zero width", [](BmpSpec &s) { s.width = 0; }, TAVOIMG_ERR_CORRUPT},
        {"zero height", [](BmpSpec &s) { s.height = 0; }, TAVOIMG_ERR_CORRUPT},
        {"pixels beyond the file", [](BmpSpec &s) { s.width = s.height = 1000; }, TAVOIMG_ERR_CORRUPT},
        {"zero planes", [](BmpSpec &s) { s.planes = 0; }, TAVOIMG_ERR_CORRUPT},
        {"two planes", [](BmpSpec &s) { s.planes = 2; }, TAVOIMG_ERR_CORRUPT},
        {"0 bits per pixel", [](BmpSpec &s) { s.bitsPerPixel = 0; }, TAVOIMG_ERR_FORMAT},
        {"4 bits per pixel", [](BmpSpec &s) { s.bitsPerPixel = 4; }, TAVOIMG_ERR_FORMAT},
        {"16 bits per pixel", [](BmpSpec &s) { s.bitsPerPixel = 16; }, TAVOIMG_ERR_FORMAT},
        {"7 bits per pixel", [](BmpSpec &s) { s.bitsPerPixel = 7; }, TAVOIMG_ERR_FORMAT},
        {"65535 bits per pixel", [](BmpSpec &s) { s.bitsPerPixel = 65535; }, TAVOIMG_ERR_FORMAT},
        {"run-length compression", [](BmpSpec &s) { s.compression = 1; }, TAVOIMG_ERR_FORMAT},
        {"bitfields at 24 bits", [](BmpSpec &s) { s.compression = 3; }, TAVOIMG_ERR_FORMAT},
        {"embedded PNG", [](BmpSpec &s) { s.compression = 5; }, TAVOIMG_ERR_FORMAT},
        {"OS/2 header", [](BmpSpec &s) { s.headerSize = 12; }, TAVOIMG_ERR_FORMAT},
        {"zero header size", [](BmpSpec &s) { s.headerSize = 0; }, TAVOIMG_ERR_FORMAT},
        {"huge header size", [](BmpSpec &s) { s.headerSize = 0xFFFFFFFF; }, TAVOIMG_ERR_FORMAT},
        {"offset beyond the file", [](BmpSpec &s) { s.pixelOffset = 5000; }, TAVOIMG_ERR_CORRUPT},
        {"largest offset", [](BmpSpec &s) { s.pixelOffset = 0xFFFFFFFF; }, TAVOIMG_ERR_CORRUPT},
        {"offset inside the header", [](BmpSpec &s) { s.pixelOffset = 20; }, TAVOIMG_ERR_CORRUPT},
        {"non-standard masks",
         [](BmpSpec &s) {
             s.bitsPerPixel = 32;
             s.compression = 3;
             s.masks = {0xF800, 0x07E0, 0x001F};
             s.pixelData.assign(16, 0);
         },
         TAVOIMG_ERR_FORMAT},
        {"palette of 257 colours",
         [](BmpSpec &s) {
             s.bitsPerPixel = 8;
             s.coloursUsed = 257;
             s.palette.assign(257 * 4, 0);
         },
         TAVOIMG_ERR_CORRUPT},
        {"palette count of 2^32 - 1",
         [](BmpSpec &s) {
             s.bitsPerPixel = 8;
             s.coloursUsed = 0xFFFFFFFF;
         },
         TAVOIMG_ERR_CORRUPT},
        {"index beyond the palette",
         [](BmpSpec &s) {
             s.bitsPerPixel = 8;
             s.coloursUsed = 2;
             s.palette.assign(2 * 4, 9);
             s.pixelData = {0, 1, 0, 0, 1, 2, 0, 0};
         },
         TAVOIMG_ERR_CORRUPT},
    };
    for (const Case &hostile : cases) {
        BmpSpec spec = validBmpSpec();
        hostile.change(spec);
        const std::string path = directory.file("hostile.bmp");
        writeFileBytes(path, buildBmp(spec));
        SCOPED_TRACE(hostile.name);
        expectLoadFails(path, hostile.expected);
    }
    // The unchanged base file is valid: the failures above are the fields'.
    const std::string path = directory.file("valid.bmp");
    writeFileBytes(path, buildBmp(validBmpSpec()));
    const ImageHandle image = loadFile(path, false);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

// ---- hostile PNG and JPEG headers --------------------------------------------

TEST_F(CodecFiles, PngLargerThanTheLimitsIsRefusedAsTooLarge) {
    const std::string path = directory.file("small.png");
    saveImage(randomPixels(3 * 4, 40), 2, 2, 3, path);
    std::vector<uint8_t> bytes = readFileBytes(path);
    ASSERT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), "IHDR");
    const std::pair<uint32_t, uint32_t> sizes[] = {{TAVOIMG_MAX_SIDE + 1, 1}, {1, TAVOIMG_MAX_SIDE + 1}, {20000, 20000}};
    for (const auto &[width, height] : sizes) {
        writeBigEndian32(&bytes[16], width);
        writeBigEndian32(&bytes[20], height);
        // The chunk's CRC covers its type and data (bytes 12 to 28).
        writeBigEndian32(&bytes[29], static_cast<uint32_t>(crc32(0L, &bytes[12], 17)));
        const std::string hostile = directory.file("large.png");
        writeFileBytes(hostile, bytes);
        expectLoadFails(hostile, TAVOIMG_ERR_MEMORY);
    }
    EXPECT_EQ(readBigEndian32(&bytes[8]), 13u);  // the IHDR length was left alone
}

TEST_F(CodecFiles, PngWithBrokenChecksumIsCorrupt) {
    const std::string path = directory.file("crc.png");
    saveImage(randomPixels(3 * 4, 41), 2, 2, 3, path);
    std::vector<uint8_t> bytes = readFileBytes(path);
    bytes[29] ^= 0xFF;
    writeFileBytes(path, bytes);
    expectLoadFails(path, TAVOIMG_ERR_CORRUPT);
}

TEST_F(CodecFiles, JpegLargerThanTheLimitsIsRefusedAsTooLarge) {
    const std::string path = directory.file("small.jpg");
    saveImage(smoothPixels(8, 8, 3), 8, 8, 3, path);
    std::vector<uint8_t> bytes = readFileBytes(path);
    const std::size_t frame = findJpegMarker(bytes, 0xC0);
    ASSERT_GT(frame, 0u);
    // Height and width, 16 bits each, after the marker, length and precision.
    bytes[frame + 5] = 0xEA;  // 60000
    bytes[frame + 6] = 0x60;
    bytes[frame + 7] = 0xEA;
    bytes[frame + 8] = 0x60;
    writeFileBytes(path, bytes);
    expectLoadFails(path, TAVOIMG_ERR_MEMORY);
}

TEST_F(CodecFiles, ProgressiveJpegIsRead) {
    const std::string path = directory.file("progressive.jpg");
    ASSERT_TRUE(writeProgressiveJpeg(path.c_str()));
    const ImageHandle image = loadFile(path, false);
    EXPECT_EQ(widthOf(image), 16);
    EXPECT_EQ(heightOf(image), 16);
    std::vector<uint8_t> expected;  // every row 0, 5, 10, ... 235
    for (int y = 0; y < 16; ++y) {
        for (int i = 0; i < 48; ++i) expected.push_back(static_cast<uint8_t>(i * 5));
    }
    EXPECT_LT(meanAbsoluteDifference(pixelsOf(image, TAVO_IMAGEMODE_COLOR), expected), 4.0);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, JpegWithHundredsOfScansIsRefusedAsCorrupt) {
    // The first scan of a progressive file repeated: libjpeg only warns about
    // the bogus progression, so the scan count alone decides.
    const std::string path = directory.file("progressive.jpg");
    ASSERT_TRUE(writeProgressiveJpeg(path.c_str()));
    const std::vector<uint8_t> bytes = readFileBytes(path);
    const std::size_t scan = findJpegMarker(bytes, 0xDA);
    ASSERT_GT(scan, 0u);
    const std::size_t scanEnd = endOfScanData(bytes, scan + 2 + ((bytes[scan + 2] << 8) | bytes[scan + 3]));
    const std::vector<uint8_t> firstScan(bytes.begin() + static_cast<std::ptrdiff_t>(scan),
                                         bytes.begin() + static_cast<std::ptrdiff_t>(scanEnd));
    const auto withCopies = [&](int copies) {
        std::vector<uint8_t> result(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(scanEnd));
        for (int i = 0; i < copies; ++i) result.insert(result.end(), firstScan.begin(), firstScan.end());
        result.insert(result.end(), bytes.begin() + static_cast<std::ptrdiff_t>(scanEnd), bytes.end());
        return result;
    };
    const std::string many = directory.file("many_scans.jpg");
    writeFileBytes(many, withCopies(20));
    const ImageHandle image = loadFile(many, false);  // a few extra scans are read
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
    writeFileBytes(many, withCopies(600));
    expectLoadFails(many, TAVOIMG_ERR_CORRUPT);
}

TEST_F(CodecFiles, CmykJpegIsRefusedAsUnsupported) {
    const std::string path = directory.file("cmyk.jpg");
    ASSERT_TRUE(writeCmykJpeg(path.c_str()));
    expectLoadFails(path, TAVOIMG_ERR_FORMAT);
}

// ---- truncated files ------------------------------------------------------------

// Every proper prefix of a valid file fails with a negative status and
// creates no image; the whole file loads.
void expectEveryPrefixFails(const TempDirectory &directory, const std::string &validPath) {
    const std::vector<uint8_t> bytes = readFileBytes(validPath);
    ASSERT_GT(bytes.size(), 16u);
    const std::string prefixPath = directory.file("prefix" + std::filesystem::path(validPath).extension().string());
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        writeFileBytes(prefixPath, bytes, length);
        const bool withAlpha = length % 2 == 1;
        ImageHandle out = kUntouched;
        const int32_t status = withAlpha ? TAVO_LoadImageFromFileWithAlpha(&out, prefixPath.c_str())
                                         : TAVO_LoadImageFromFile(&out, prefixPath.c_str());
        EXPECT_LT(status, 0) << "prefix of " << length << " of " << bytes.size() << " bytes";
        EXPECT_EQ(out, kUntouched) << "prefix of " << length;
    }
    const ImageHandle whole = loadFile(validPath, true);
    EXPECT_GE(whole, 0);
    EXPECT_EQ(TAVO_FreeImage(whole), TAVOIMG_OK);
}

TEST_F(CodecFiles, EveryPrefixOfAPngFileFailsCleanly) {
    const std::string path = directory.file("whole.png");
    saveImage(randomPixels(7 * 5 * 4, 50), 7, 5, 4, path);
    expectEveryPrefixFails(directory, path);
}

TEST_F(CodecFiles, EveryPrefixOfAnInterlacedPngFileFailsCleanly) {
    const std::vector<uint8_t> pixels = randomPixels(9 * 9, 51);
    std::vector<std::vector<uint8_t>> rows;
    for (int y = 0; y < 9; ++y) rows.emplace_back(pixels.begin() + y * 9, pixels.begin() + (y + 1) * 9);
    const std::string path = directory.file("whole_adam7.png");
    writePng(path, {9, 9, PNG_COLOR_TYPE_GRAY, 8, PNG_INTERLACE_ADAM7, nullptr, nullptr, 0, nullptr, 0}, rows);
    expectEveryPrefixFails(directory, path);
}

TEST_F(CodecFiles, EveryPrefixOfAJpegFileFailsCleanly) {
    const std::string path = directory.file("whole.jpg");
    saveImage(smoothPixels(19, 11, 3), 19, 11, 3, path);
    expectEveryPrefixFails(directory, path);
}

TEST_F(CodecFiles, EveryPrefixOfA24BitBmpFileFailsCleanly) {
    const std::string path = directory.file("whole24.bmp");
    saveImage(randomPixels(5 * 3 * 3, 52), 5, 3, 3, path);
    expectEveryPrefixFails(directory, path);
}

TEST_F(CodecFiles, EveryPrefixOfA32BitBmpFileFailsCleanly) {
    const std::string path = directory.file("whole32.bmp");
    saveImage(randomPixels(3 * 3 * 4, 53), 3, 3, 4, path);
    expectEveryPrefixFails(directory, path);
}

TEST_F(CodecFiles, EveryPrefixOfAPalettedBmpFileFailsCleanly) {
    BmpSpec spec;
    spec.width = 3;
    spec.bitsPerPixel = 8;
    spec.coloursUsed = 2;
    spec.palette = {1, 2, 3, 0, 4, 5, 6, 0};
    spec.pixelData = {0, 1, 0, 0, 1, 1, 0, 0};
    const std::string path = directory.file("whole8.bmp");
    writeFileBytes(path, buildBmp(spec));
    expectEveryPrefixFails(directory, path);
}

// ---- unknown, missing and unwritable files ---------------------------------------

TEST_F(CodecFiles, UnknownFormatIsRefused) {
    const std::string gif = directory.file("picture.gif");
    writeFileBytes(gif, {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0});
    expectLoadFails(gif, TAVOIMG_ERR_FORMAT);
    const std::string empty = directory.file("empty.png");
    writeFileBytes(empty, {});
    expectLoadFails(empty, TAVOIMG_ERR_FORMAT);
    const std::string text = directory.file("text.bmp");
    writeFileBytes(text, {'h', 'e', 'l', 'l', 'o'});
    expectLoadFails(text, TAVOIMG_ERR_FORMAT);
}

TEST_F(CodecFiles, MissingFileCannotBeOpened) {
    expectLoadFails(directory.file("does_not_exist.png"), TAVOIMG_ERR_OPEN);
    expectLoadFails(directory.file("no_such_directory/x.png"), TAVOIMG_ERR_OPEN);
}

TEST_F(CodecFiles, DirectoryCannotBeOpenedAsAnImage) {
    const std::string path = directory.file("folder.png");
    std::filesystem::create_directory(path);
    expectLoadFails(path, TAVOIMG_ERR_OPEN);
}

TEST_F(CodecFiles, SavingWithUnknownExtensionFailsAndWritesNothing) {
    const ImageHandle image = makeImage({1, 2, 3}, 1, 1, 3);
    for (const char *name : {"picture.gif", "picture.png.txt", "no_extension", "dotted.png/inside", "trailing."}) {
        const std::string path = directory.file(name);
        if (std::string(name) == "dotted.png/inside") std::filesystem::create_directory(directory.file("dotted.png"));
        EXPECT_EQ(TAVO_SaveImageToFile(image, path.c_str()), TAVOIMG_ERR_FORMAT) << name;
        EXPECT_FALSE(std::filesystem::exists(path)) << name;
    }
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, SavingIntoMissingDirectoryIsAWriteError) {
    const ImageHandle image = makeImage({1, 2, 3}, 1, 1, 3);
    EXPECT_EQ(TAVO_SaveImageToFile(image, directory.file("missing/x.png").c_str()), TAVOIMG_ERR_WRITE);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, FailedWriteRemovesThePartialFile) {
    // /dev/full accepts the open and fails every write (ENOSPC); the name
    // that pointed at it is removed.
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const ImageHandle image = makeImage(randomPixels(64 * 64 * 3, 60), 64, 64, 3);
    for (const char *name : {"full.png", "full.jpg", "full.bmp"}) {
        const std::string path = directory.file(name);
        std::filesystem::create_symlink("/dev/full", path);
        EXPECT_EQ(TAVO_SaveImageToFile(image, path.c_str()), TAVOIMG_ERR_WRITE) << name;
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path))) << name;
    }
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST_F(CodecFiles, SavingAnEmptyImageIsRefused) {
    const ImageHandle image = makeEmptyImage();
    const std::string path = directory.file("empty.png");
    EXPECT_EQ(TAVO_SaveImageToFile(image, path.c_str()), TAVOIMG_ERR_ARGUMENT);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

}  // namespace
