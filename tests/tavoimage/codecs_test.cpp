// File codecs of tavoimage: round trips through PNG, JPEG and BMP, the
// layouts of other writers (made here with libpng, libjpeg and byte arrays),
// and clean failure on hostile, truncated, unknown or missing files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>  // before jpeglib.h, which needs FILE
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include "tavoimage/test_image.h"

// The BMP layouts below name only the fields that differ from a plain file.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace kelmo_test;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr ImageHandle kUntouched = 987654;

Bytes readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string &path, const Bytes &bytes, std::size_t count) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(count));
}

int32_t load(const std::string &path, bool withAlpha, ImageHandle *out) {
    return withAlpha ? TAVO_LoadImageFromFileWithAlpha(out, path.c_str()) : TAVO_LoadImageFromFile(out, path.c_str());
}

// Packed pixels of 1, 3 or 4 channels as a loader returns them: R G B with
// grey repeated, then alpha (255 where there is none) when `alpha`.
Bytes asLoaded(const Bytes &pixels, int channels, bool alpha) {
    Bytes result;
    for (std::size_t i = 0; i < pixels.size(); i += static_cast<std::size_t>(channels)) {
        for (int c = 0; c < 3; ++c) result.push_back(pixels[i + (channels == 1 ? 0 : static_cast<std::size_t>(c))]);
        if (alpha) result.push_back(channels == 4 ? pixels[i + 3] : 255);
    }
    return result;
}

double meanDifference(const Bytes &a, const Bytes &b) {
    double total = a.size() == b.size() ? 0.0 : 1e9;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) total += std::abs(a[i] - b[i]);
    return total / static_cast<double>(a.size() + 1);
}

// A smooth picture, which lossy coding keeps closely.
Bytes smoothPixels(int width, int height, int channels) {
    Bytes pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width * channels; ++x) pixels.push_back(static_cast<uint8_t>(40 + x + 2 * y + 40 * (x % channels)));
    }
    return pixels;
}

// Offset of the JPEG marker FF `code`, 0 when there is none.
std::size_t jpegMarker(const Bytes &bytes, uint8_t code) {
    for (std::size_t i = 2; i + 9 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == code) return i;
    }
    return 0;
}

// A PNG of any layout, written by libpng into memory.
Bytes pngBytes(uint32_t width, uint32_t height, int colourType, int depth, const std::vector<Bytes> &rows,
               bool interlaced = false, const std::vector<png_color> &palette = {}, const Bytes &transparency = {}) {
    Bytes bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    const auto append = [](png_structp p, png_bytep data, png_size_t length) {
        auto *out = static_cast<Bytes *>(png_get_io_ptr(p));
        out->insert(out->end(), data, data + length);
    };
    png_set_write_fn(png, &bytes, append, nullptr);
    png_set_IHDR(png, info, width, height, depth, colourType, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!transparency.empty()) png_set_tRNS(png, info, transparency.data(), int(transparency.size()), nullptr);
    png_write_info(png, info);
    std::vector<png_bytep> pointers;
    for (const Bytes &row : rows) pointers.push_back(const_cast<png_bytep>(row.data()));
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return bytes;
}

// A 16 x 16 JPEG of smoothPixels written by libjpeg: CMYK or progressive colour.
Bytes jpegBytes(bool cmyk, bool progressive) {
    jpeg_compress_struct codec;
    jpeg_error_mgr errors;
    codec.err = jpeg_std_error(&errors);
    jpeg_create_compress(&codec);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&codec, &buffer, &size);
    codec.image_width = codec.image_height = 16;
    codec.input_components = cmyk ? 4 : 3;
    codec.in_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&codec);
    if (progressive) jpeg_simple_progression(&codec);
    jpeg_start_compress(&codec, TRUE);
    Bytes pixels = smoothPixels(16, 16, codec.input_components);
    for (JSAMPROW row = pixels.data(); codec.next_scanline < 16; row += 16 * codec.input_components) {
        jpeg_write_scanlines(&codec, &row, 1);
    }
    jpeg_finish_compress(&codec);
    jpeg_destroy_compress(&codec);
    Bytes bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

// A BMP assembled field by field, so that every field can be hostile.
struct Bmp {
    int32_t width = 2, height = 2;
    uint16_t planes = 1, bitsPerPixel = 24;
    uint32_t compression = 0, headerSize = 40, coloursUsed = 0;
    std::vector<uint32_t> masks;  // after a 40-byte header, else inside it
    Bytes palette;                // B G R 0 per entry
    Bytes gap;                    // between the tables and the pixels
    int64_t pixelOffset = -1;     // -1: where the pixels start
    Bytes rows;                   // stored rows, padded, in file order

    // R G B (A) pixels, top row first, stored as B G R (A) rows.
    Bmp &pixels(const Bytes &rgb, int channels) {
        const int h = std::abs(height);
        for (int r = 0; r < h; ++r) {
            const uint8_t *p = &rgb[static_cast<std::size_t>((height < 0 ? r : h - 1 - r) * width * channels)];
            for (int x = 0; x < width; ++x, p += channels) {
                rows.insert(rows.end(), {p[2], p[1], p[0]});
                if (channels == 4) rows.push_back(p[3]);
            }
            while (rows.size() % 4 != 0) rows.push_back(0);
        }
        return *this;
    }
    Bytes bytes() const {
        const std::size_t header = headerSize >= 40 && headerSize <= 124 ? headerSize : 40;
        Bytes b(14 + header, 0);
        const auto put = [&b](std::size_t at, uint64_t value, int count) {
            for (int i = 0; i < count; ++i) b[at + std::size_t(i)] = static_cast<uint8_t>(value >> (8 * i));
        };
        b[0] = 'B';
        b[1] = 'M';
        put(14, headerSize, 4);
        put(18, static_cast<uint32_t>(width), 4);
        put(22, static_cast<uint32_t>(height), 4);
        put(26, planes, 2);
        put(28, bitsPerPixel, 2);
        put(30, compression, 4);
        put(46, coloursUsed, 4);
        for (std::size_t i = 0; i < masks.size(); ++i) {
            if (header == 40) b.resize(b.size() + 4);
            put(header == 40 ? b.size() - 4 : 54 + 4 * i, masks[i], 4);
        }
        b.insert(b.end(), palette.begin(), palette.end());
        b.insert(b.end(), gap.begin(), gap.end());
        put(10, pixelOffset >= 0 ? static_cast<uint64_t>(pixelOffset) : b.size(), 4);
        b.insert(b.end(), rows.begin(), rows.end());
        return b;
    }
};

class Codecs : public ::testing::Test {
protected:
    Codecs()
        : directory_(std::filesystem::path(::testing::TempDir()) /
                     ("tavoimage_" + std::to_string(::getpid()) + "_" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        std::filesystem::create_directories(directory_);
    }
    ~Codecs() override { std::filesystem::remove_all(directory_); }
    std::string file(const std::string &name) const { return (directory_ / name).string(); }
    std::string written(const std::string &name, const Bytes &bytes) const {
        writeFile(file(name), bytes, bytes.size());
        return file(name);
    }
    // Expects both loaders to fail with `expected` and create nothing.
    static void expectLoadFails(const std::string &path, int32_t expected, const std::string &what) {
        const int live = liveImageCount();
        for (bool withAlpha : {false, true}) {
            ImageHandle out = kUntouched;
            EXPECT_EQ(load(path, withAlpha, &out), expected) << what;
            EXPECT_EQ(out, kUntouched) << what;
        }
        EXPECT_EQ(liveImageCount(), live) << what;
    }

    const std::filesystem::path directory_;
};

TEST_F(Codecs, RoundTripsAreExactInPngAndBmpAndCloseInJpeg) {
    // The extension chooses the format, in any case; the loader finds it from
    // the content.
    for (const std::string extension : {".PNG", ".bmp", ".JpEg", ".jpg"}) {
        const bool jpeg = extension == ".JpEg" || extension == ".jpg";
        for (int channels : {1, 3, 4}) {
            for (int width : jpeg ? std::vector{16} : std::vector{1, 2, 3, 4}) {  // every padding of a BMP row
                const int height = jpeg ? 8 : 3;
                const Bytes pixels = jpeg ? smoothPixels(width, height, channels)
                                          : randomBytes(std::size_t(width * height * channels), uint32_t(width));
                const std::string path = file("round" + extension);
                ASSERT_EQ(TAVO_SaveImageToFile(TestImage(pixels, width, height, channels), path.c_str()), 0) << path;
                // The layout written: PNG colour type 0, 2 or 6; BMP 24 or 32
                // bits; JPEG one component for grey, else three.
                const Bytes bytes = readFile(path);
                ASSERT_GT(bytes.size(), 30u);
                const std::size_t at = extension == ".PNG" ? 25 : extension == ".bmp" ? 28 : jpegMarker(bytes, 0xC0) + 9;
                const int layout[3][3] = {{0, 2, 6}, {24, 24, 32}, {1, 3, 3}};  // for 1, 3 and 4 channels
                EXPECT_EQ(bytes[at], layout[extension == ".PNG" ? 0 : extension == ".bmp" ? 1 : 2][channels / 2]) << path;
                for (bool alpha : {false, true}) {
                    ImageHandle handle = -1;
                    ASSERT_EQ(load(path, alpha, &handle), TAVOIMG_OK) << path;
                    const TestImage loaded(handle);
                    EXPECT_EQ(loaded.width(), width);
                    EXPECT_EQ(loaded.height(), height);
                    if (!jpeg) {
                        EXPECT_EQ(loaded.pixels(alpha ? 4 : 3), asLoaded(pixels, channels, alpha)) << path << alpha;
                    } else {  // alpha dropped: 255 once loaded
                        const Bytes expected = asLoaded(asLoaded(pixels, channels, false), 3, alpha);
                        EXPECT_LT(meanDifference(loaded.pixels(alpha ? 4 : 3), expected), 2.0) << path << alpha;
                    }
                }
            }
        }
    }
}

TEST_F(Codecs, ReadsTheLayoutsOfOtherWriters) {
    const Bytes rgb = randomBytes(11 * 9 * 3, 21);
    std::vector<Bytes> rgbRows;
    for (int y = 0; y < 9; ++y) rgbRows.emplace_back(rgb.begin() + y * 33, rgb.begin() + (y + 1) * 33);
    // 16-bit samples, scaled to 8 bits with rounding (0x00FF is 1, though its high byte is 0).
    Bytes sixteen, scaled;
    for (unsigned v : {0x0000, 0x00FF, 0x80FF, 0xFF00, 0x1234, 0xFFFF, 0x7F80, 0x0101}) {
        sixteen.insert(sixteen.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
        scaled.push_back(static_cast<uint8_t>(std::lround(v / 257.0)));
    }
    const Bytes rgba = {10, 20, 30, 0, 40, 50, 60, 128, 70, 80, 90, 255, 1, 2, 3, 0};
    const Bytes opaque = asLoaded(asLoaded(rgba, 4, false), 3, true);  // its colours, alpha 255
    Bytes zeroFourth = rgba;
    for (std::size_t i = 3; i < zeroFourth.size(); i += 4) zeroFourth[i] = 0;
    const std::vector<uint32_t> masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    const Bytes palette = {30, 20, 10, 0, 60, 50, 40, 0, 90, 80, 70, 0};  // B G R 0
    const struct {
        const char *name;
        Bytes file;
        Bytes expectedRgba;
        double tolerance;  // mean difference allowed (lossy files)
    } cases[] = {
        {"palette PNG with transparency",
         pngBytes(3, 2, PNG_COLOR_TYPE_PALETTE, 8, {{0, 1, 2}, {2, 2, 1}}, false, {{255, 0, 0}, {0, 128, 255}, {10, 20, 30}},
                  {0, 128}),
         {255, 0, 0, 0, 0, 128, 255, 128, 10, 20, 30, 255, 10, 20, 30, 255, 10, 20, 30, 255, 0, 128, 255, 128}, 0},
        {"16-bit PNG", pngBytes(2, 1, PNG_COLOR_TYPE_RGB_ALPHA, 16, {sixteen}), scaled, 0},
        {"1-bit grey PNG", pngBytes(3, 1, PNG_COLOR_TYPE_GRAY, 1, {{0xA0}}),
         {255, 255, 255, 255, 0, 0, 0, 255, 255, 255, 255, 255}, 0},
        {"grey and alpha PNG", pngBytes(2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {{90, 10, 200, 250}}),
         {90, 90, 90, 10, 200, 200, 200, 250}, 0},
        {"interlaced PNG", pngBytes(11, 9, PNG_COLOR_TYPE_RGB, 8, rgbRows, true), asLoaded(rgb, 3, true), 0},
        {"progressive JPEG", jpegBytes(false, true), asLoaded(smoothPixels(16, 16, 3), 3, true), 3.0},
        {"top-down BMP", Bmp{.width = 3, .height = -3}.pixels(rgb, 3).bytes(),
         asLoaded(Bytes(rgb.begin(), rgb.begin() + 27), 3, true), 0},
        {"32-bit BMP with alpha", Bmp{.bitsPerPixel = 32}.pixels(rgba, 4).bytes(), rgba, 0},
        {"32-bit BMP whose fourth bytes are all 0", Bmp{.bitsPerPixel = 32}.pixels(zeroFourth, 4).bytes(), opaque, 0},
        {"V5 BMP with an alpha mask",
         Bmp{.height = -2, .bitsPerPixel = 32, .compression = 3, .headerSize = 124, .masks = masks}.pixels(rgba, 4).bytes(),
         rgba, 0},
        {"bitfields BMP without an alpha mask",
         Bmp{.bitsPerPixel = 32, .compression = 3, .masks = {masks[0], masks[1], masks[2]}}.pixels(rgba, 4).bytes(), opaque, 0},
        {"paletted BMP with a gap before its pixels",
         Bmp{.width = 3, .bitsPerPixel = 8, .coloursUsed = 3, .palette = palette, .gap = {0xEE, 0xEE},
             .rows = {2, 1, 0, 0, 0, 0, 1, 0}}.bytes(),  // bottom row first
         {10, 20, 30, 255, 10, 20, 30, 255, 40, 50, 60, 255, 70, 80, 90, 255, 40, 50, 60, 255, 10, 20, 30, 255}, 0},
    };
    for (const auto &c : cases) {
        const std::string path = written("layout", c.file);
        for (bool alpha : {true, false}) {
            ImageHandle handle = -1;
            ASSERT_EQ(load(path, alpha, &handle), TAVOIMG_OK) << c.name;
            const Bytes actual = TestImage(handle).pixels(alpha ? 4 : 3);
            const Bytes expected = alpha ? c.expectedRgba : asLoaded(c.expectedRgba, 4, false);
            EXPECT_LE(meanDifference(actual, expected), c.tolerance) << c.name << (alpha ? " with alpha" : "");
        }
    }
}

TEST_F(Codecs, HostileMissingAndUnknownFilesFailWithoutCreatingAnImage) {
    const auto bmp = [](void (*change)(Bmp &)) {
        Bmp b;
        change(b.pixels({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 3));
        return b.bytes();
    };
    // A PNG whose header states another size, its checksum made to match.
    const auto png = [](uint32_t width, uint32_t height, bool breakChecksum) {
        Bytes b = pngBytes(2, 2, PNG_COLOR_TYPE_GRAY, 8, {{1, 2}, {3, 4}});
        const auto put = [&b](std::size_t at, uint32_t value) {
            for (int i = 0; i < 4; ++i) b[at + std::size_t(i)] = static_cast<uint8_t>(value >> (24 - 8 * i));
        };
        put(16, width);
        put(20, height);
        put(29, static_cast<uint32_t>(crc32(0L, &b[12], 17)) ^ (breakChecksum ? 1u : 0u));
        return b;
    };
    Bytes hugeJpeg = jpegBytes(false, false);
    for (std::size_t at = jpegMarker(hugeJpeg, 0xC0) + 5; at < jpegMarker(hugeJpeg, 0xC0) + 9; at += 2) {
        hugeJpeg[at] = 0xEA;  // height and width 60000
        hugeJpeg[at + 1] = 0x60;
    }
    const struct {
        const char *name;
        Bytes file;
        int32_t expected;
    } cases[] = {
        {"huge BMP width", bmp([](Bmp &b) { b.width = 0x7FFFFFFF; }), TAVOIMG_ERR_MEMORY},
        {"most negative BMP height", bmp([](Bmp &b) { b.height = INT32_MIN; }), TAVOIMG_ERR_MEMORY},
        {"too many BMP pixels", bmp([](Bmp &b) { b.width = b.height = 20000; }), TAVOIMG_ERR_MEMORY},
        {"negative BMP width", bmp([](Bmp &b) { b.width = -2; }), TAVOIMG_ERR_CORRUPT},
        {"zero BMP height", bmp([](Bmp &b) { b.height = 0; }), TAVOIMG_ERR_CORRUPT},
        {"BMP pixels beyond the file", bmp([](Bmp &b) { b.width = b.height = 1000; }), TAVOIMG_ERR_CORRUPT},
        {"two planes", bmp([](Bmp &b) { b.planes = 2; }), TAVOIMG_ERR_CORRUPT},
        {"16 bits per pixel", bmp([](Bmp &b) { b.bitsPerPixel = 16; }), TAVOIMG_ERR_FORMAT},
        {"run-length BMP", bmp([](Bmp &b) { b.compression = 1; }), TAVOIMG_ERR_FORMAT},
        {"bitfields at 24 bits", bmp([](Bmp &b) { b.compression = 3; }), TAVOIMG_ERR_FORMAT},
        {"OS/2 BMP header", bmp([](Bmp &b) { b.headerSize = 12; }), TAVOIMG_ERR_FORMAT},
        {"huge BMP header", bmp([](Bmp &b) { b.headerSize = 0xFFFFFFFF; }), TAVOIMG_ERR_FORMAT},
        {"BMP offset beyond the file", bmp([](Bmp &b) { b.pixelOffset = 0xFFFFFFFF; }), TAVOIMG_ERR_CORRUPT},
        {"BMP offset inside the header", bmp([](Bmp &b) { b.pixelOffset = 20; }), TAVOIMG_ERR_CORRUPT},
        {"non-standard BMP masks", bmp([](Bmp &b) { b = {.bitsPerPixel = 32, .compression = 3, .masks = {0xF800, 0x07E0, 0x1F}, .rows = Bytes(16)}; }),
         TAVOIMG_ERR_FORMAT},
        {"BMP palette of 257 colours", bmp([](Bmp &b) { b = {.bitsPerPixel = 8, .coloursUsed = 257, .palette = Bytes(257 * 4)}; }),
         TAVOIMG_ERR_CORRUPT},
        {"BMP index beyond the palette",
         bmp([](Bmp &b) { b = {.bitsPerPixel = 8, .coloursUsed = 2, .palette = Bytes(8, 9), .rows = {0, 1, 0, 0, 1, 2, 0, 0}}; }),
         TAVOIMG_ERR_CORRUPT},
        {"PNG wider than the limit", png(TAVOIMG_MAX_SIDE + 1, 1, false), TAVOIMG_ERR_MEMORY},
        {"PNG of too many pixels", png(20000, 20000, false), TAVOIMG_ERR_MEMORY},
        {"PNG with a broken checksum", png(2, 2, true), TAVOIMG_ERR_CORRUPT},
        {"JPEG larger than the limits", hugeJpeg, TAVOIMG_ERR_MEMORY},
        {"CMYK JPEG", jpegBytes(true, false), TAVOIMG_ERR_FORMAT},
        {"GIF", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0}, TAVOIMG_ERR_FORMAT},
        {"empty file", {}, TAVOIMG_ERR_FORMAT},
        {"text", {'h', 'e', 'l', 'l', 'o'}, TAVOIMG_ERR_FORMAT},
    };
    for (const auto &c : cases) expectLoadFails(written("hostile.bmp", c.file), c.expected, c.name);
    std::filesystem::create_directory(file("folder.png"));
    expectLoadFails(file("folder.png"), TAVOIMG_ERR_OPEN, "directory");
    expectLoadFails(file("missing.png"), TAVOIMG_ERR_OPEN, "missing file");
}

TEST_F(Codecs, EveryPrefixOfAValidFileFailsWithoutCreatingAnImage) {
    const auto saved = [&](const Bytes &pixels, int width, int height, int channels, const std::string &name) {
        EXPECT_EQ(TAVO_SaveImageToFile(TestImage(pixels, width, height, channels), file(name).c_str()), TAVOIMG_OK);
        return readFile(file(name));
    };
    const Bytes files[] = {
        saved(randomBytes(7 * 5 * 4, 50), 7, 5, 4, "whole.png"),
        pngBytes(9, 9, PNG_COLOR_TYPE_GRAY, 8, std::vector<Bytes>(9, randomBytes(9, 51)), true),
        saved(smoothPixels(19, 11, 3), 19, 11, 3, "whole.jpg"),
        saved(randomBytes(5 * 3 * 3, 52), 5, 3, 3, "whole.bmp"),
        saved(randomBytes(3 * 3 * 4, 53), 3, 3, 4, "whole32.bmp"),
        Bmp{.width = 3, .bitsPerPixel = 8, .coloursUsed = 2, .palette = {1, 2, 3, 0, 4, 5, 6, 0},
            .rows = {0, 1, 0, 0, 1, 1, 0, 0}}.bytes(),
    };
    for (const Bytes &bytes : files) {
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            writeFile(file("prefix"), bytes, length);
            ImageHandle out = kUntouched;
            EXPECT_LT(load(file("prefix"), length % 2 == 1, &out), 0) << length << " of " << bytes.size() << " bytes";
            EXPECT_EQ(out, kUntouched);
        }
        ImageHandle whole = -1;
        EXPECT_EQ(load(written("whole", bytes), true, &whole), TAVOIMG_OK);
        TAVO_FreeImage(whole);
    }
}

TEST_F(Codecs, FailedSavesLeaveNoFileBehind) {
    const TestImage image(randomBytes(64 * 64 * 3, 60), 64, 64, 3);
    std::filesystem::create_directory(file("dotted.png"));
    for (const char *name : {"picture.gif", "picture.png.txt", "no_extension", "dotted.png/inside", "trailing."}) {
        EXPECT_EQ(TAVO_SaveImageToFile(image, file(name).c_str()), TAVOIMG_ERR_FORMAT) << name;
        EXPECT_FALSE(std::filesystem::exists(file(name))) << name;
    }
    EXPECT_EQ(TAVO_SaveImageToFile(image, file("missing/x.png").c_str()), TAVOIMG_ERR_WRITE);
    // /dev/full accepts the open and fails every write: the name is removed.
    for (const char *name : {"full.png", "full.jpg", "full.bmp"}) {
        std::filesystem::create_symlink("/dev/full", file(name));
        EXPECT_EQ(TAVO_SaveImageToFile(image, file(name).c_str()), TAVOIMG_ERR_WRITE) << name;
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(file(name)))) << name;
    }
}

}  // namespace
