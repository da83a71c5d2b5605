// File codecs of tavoimage: round trips through PNG, JPEG and BMP, the
// layouts of other writers (made here with libpng and byte arrays), and clean
// failure on hostile, truncated, unknown or missing files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

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
    for (std::size_t i = 0; i < pixels.size(); i += std::size_t(channels)) {
        for (std::size_t c = 0; c < 3; ++c) result.push_back(pixels[i + (channels == 1 ? 0 : c)]);
        if (alpha) result.push_back(channels == 4 ? pixels[i + 3] : 255);
    }
    return result;
}

double meanDifference(const Bytes &a, const Bytes &b) {
    double total = a.size() == b.size() ? 0.0 : 1e9;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) total += std::abs(a[i] - b[i]);
    return total / double(a.size() + 1);
}

// A smooth picture, which lossy coding keeps closely.
Bytes smoothPixels(int width, int height, int channels) {
    Bytes pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width * channels; ++x) pixels.push_back(uint8_t(40 + x + 2 * y + 40 * (x % channels)));
    }
    return pixels;
}

// Offset of a JPEG's frame header (marker FF C0).
std::size_t frameHeader(const Bytes &jpeg) {
    const uint8_t marker[2] = {0xFF, 0xC0};
    return std::size_t(std::search(jpeg.begin() + 2, jpeg.end(), marker, marker + 2) - jpeg.begin());
}

// A PNG of any layout, written by libpng into memory.
Bytes pngBytes(uint32_t width, uint32_t height, int colourType, int depth, std::vector<Bytes> rows,
               bool interlaced = false, const std::vector<png_color> &palette = {}, const Bytes &transparency = {}) {
    Bytes bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &bytes, [](png_structp p, png_bytep data, png_size_t length) {
        static_cast<Bytes *>(png_get_io_ptr(p))->insert(static_cast<Bytes *>(png_get_io_ptr(p))->end(), data, data + length);
    }, nullptr);
    png_set_IHDR(png, info, width, height, depth, colourType, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), int(palette.size()));
    if (!transparency.empty()) png_set_tRNS(png, info, transparency.data(), int(transparency.size()), nullptr);
    png_write_info(png, info);
    std::vector<png_bytep> pointers;
    for (Bytes &row : rows) pointers.push_back(row.data());
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return bytes;
}

// A BMP assembled field by field, so that every field can be hostile.
struct Bmp {
    int32_t width = 2, height = 2;
    uint16_t planes = 1, bitsPerPixel = 24;
    uint32_t compression = 0, headerSize = 40, coloursUsed = 0;
    std::vector<uint32_t> masks;  // after a 40-byte header, else inside it
    Bytes palette, gap;           // B G R 0 per entry; bytes before the pixels
    int64_t pixelOffset = -1;     // -1: where the pixels start
    Bytes rows;                   // stored rows, padded, in file order

    // R G B (A) pixels, top row first, stored as B G R (A) rows.
    Bmp &pixels(const Bytes &rgb, int channels) {
        for (int r = 0; r < std::abs(height); ++r) {
            const uint8_t *p = &rgb[std::size_t((height < 0 ? r : height - 1 - r) * width * channels)];
            for (int x = 0; x < width; ++x, p += channels) {
                rows.insert(rows.end(), {p[2], p[1], p[0]});
                if (channels == 4) rows.push_back(p[3]);
            }
            rows.resize((rows.size() + 3) / 4 * 4);
        }
        return *this;
    }
    Bytes bytes() const {
        const std::size_t header = headerSize >= 40 && headerSize <= 124 ? headerSize : 40;
        Bytes b(14 + header);
        const auto put = [&b](std::size_t at, uint64_t value, int count) {
            for (int i = 0; i < count; ++i) b[at + std::size_t(i)] = uint8_t(value >> (8 * i));
        };
        b[0] = 'B', b[1] = 'M';
        put(14, headerSize, 4), put(18, uint32_t(width), 4), put(22, uint32_t(height), 4);
        put(26, planes, 2), put(28, bitsPerPixel, 2), put(30, compression, 4), put(46, coloursUsed, 4);
        for (std::size_t i = 0; i < masks.size(); ++i) {
            if (header == 40) b.resize(b.size() + 4);
            put(header == 40 ? b.size() - 4 : 54 + 4 * i, masks[i], 4);
        }
        b.insert(b.end(), palette.begin(), palette.end());
        b.insert(b.end(), gap.begin(), gap.end());
        put(10, pixelOffset >= 0 ? uint64_t(pixelOffset) : b.size(), 4);
        b.insert(b.end(), rows.begin(), rows.end());
        return b;
    }
};

class Codecs : public ::testing::Test {
protected:
    std::string file(const std::string &name) const { return (directory_ / name).string(); }
    std::string written(const std::string &name, const Bytes &bytes) const {
        writeFile(file(name), bytes, bytes.size());
        return file(name);
    }
    // A file that must load.
    static TestImage loaded(const std::string &path, bool alpha) {
        ImageHandle handle = -1;
        EXPECT_EQ(load(path, alpha, &handle), TAVOIMG_OK) << path;
        return TestImage(handle);
    }
    // Expects every proper prefix of a valid file to fail, creating nothing.
    void expectEveryPrefixFails(const Bytes &bytes, const std::string &what) const {
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            writeFile(file("prefix"), bytes, length);
            ImageHandle out = kUntouched;
            EXPECT_LT(load(file("prefix"), length % 2 == 1, &out), 0) << what << ": " << length << " of " << bytes.size();
            EXPECT_EQ(out, kUntouched) << what;
        }
    }
    // Expects both loaders to fail with `expected` and create nothing.
    static void expectLoadFails(const std::string &path, int32_t expected, const std::string &what) {
        const int live = liveImageCount();
        for (bool alpha : {false, true}) {
            ImageHandle out = kUntouched;
            EXPECT_EQ(load(path, alpha, &out), expected) << what;
            EXPECT_EQ(out, kUntouched) << what;
        }
        EXPECT_EQ(liveImageCount(), live) << what;
    }

    const std::filesystem::path directory_ = std::filesystem::path(::testing::TempDir()) /
        ("tavoimage_" + std::to_string(::getpid()) + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    const bool made_ = std::filesystem::create_directories(directory_);
    ~Codecs() override { std::filesystem::remove_all(directory_); }
};

TEST_F(Codecs, RoundTripsAreExactInPngAndBmpCloseInJpegAndNoPrefixLoads) {
    // The extension chooses the format, in any case; the loader finds it from
    // the content. Written layouts: PNG colour type 0, 2 or 6; BMP 24 or 32
    // bits; JPEG one component for grey, three otherwise (alpha dropped).
    const std::map<std::string, std::pair<int, std::vector<int>>> layouts = {
        {".PNG", {25, {0, 2, 6}}}, {".bmp", {28, {24, 24, 32}}}, {".JpEg", {-1, {1, 3, 3}}}, {".jpg", {-1, {1, 3, 3}}}};
    for (const auto &[extension, layout] : layouts) {
        const bool jpeg = layout.first < 0;
        for (int channels : {1, 3, 4}) {
            for (int width : jpeg ? std::vector{16} : std::vector{1, 2, 3, 4}) {  // every padding of a BMP row
                const int height = jpeg ? 8 : 3;
                const Bytes pixels = jpeg ? smoothPixels(width, height, channels)
                                          : randomBytes(std::size_t(width * height * channels), uint32_t(width));
                const std::string path = file("round" + extension);
                ASSERT_EQ(TAVO_SaveImageToFile(TestImage(pixels, width, height, channels), path.c_str()), 0) << path;
                const Bytes bytes = readFile(path);
                const std::size_t at = jpeg ? frameHeader(bytes) + 9 : std::size_t(layout.first);
                ASSERT_LT(at, bytes.size());
                EXPECT_EQ(bytes[at], layout.second[std::size_t(channels / 2)]) << path;
                if (width == (jpeg ? 16 : 3) && channels > 1 && extension != ".jpg") expectEveryPrefixFails(bytes, path);
                for (bool alpha : {false, true}) {
                    const TestImage image = loaded(path, alpha);
                    EXPECT_EQ(image.size(), std::pair(width, height));
                    const Bytes expected = asLoaded(jpeg ? asLoaded(pixels, channels, false) : pixels, jpeg ? 3 : channels, alpha);
                    EXPECT_LE(meanDifference(image.pixels(alpha ? 4 : 3), expected), jpeg ? 2.0 : 0.0) << path << alpha;
                }
            }
        }
    }
}

TEST_F(Codecs, EveryPngCompressionLevelReadsBackTheSamePixels) {
    const Bytes pixels = smoothPixels(64, 32, 3);
    const std::string path = file("level.png");
    std::vector<std::size_t> sizes;
    for (int32_t level : {0, 9, -1, 10, -2}) {  // the last two refused: the default stays
        EXPECT_EQ(TAVO_SetPngCompressionLevel(level), level <= 9 && level >= -1 ? TAVOIMG_OK : TAVOIMG_ERR_ARGUMENT);
        ASSERT_EQ(TAVO_SaveImageToFile(TestImage(pixels, 64, 32, 3), path.c_str()), 0);
        sizes.push_back(readFile(path).size());
        EXPECT_EQ(loaded(path, false).pixels(3), pixels) << level;
    }
    // Stored blocks hold every byte; the default compresses less than level 9 at most.
    EXPECT_TRUE(sizes[0] > pixels.size() && sizes[1] <= sizes[2] && sizes[2] < pixels.size()) << sizes[2];
    EXPECT_TRUE(sizes[3] == sizes[2] && sizes[4] == sizes[2]);
}

TEST_F(Codecs, ReadsTheLayoutsOfOtherWritersAndNoPrefixOfThem) {
    const Bytes rgb = randomBytes(11 * 9 * 3, 21);
    std::vector<Bytes> rgbRows;
    for (int y = 0; y < 9; ++y) rgbRows.emplace_back(rgb.begin() + y * 33, rgb.begin() + (y + 1) * 33);
    // 16-bit samples, scaled to 8 bits with rounding (0x00FF is 1, though its high byte is 0).
    Bytes sixteen, scaled;
    for (unsigned v : {0x0000, 0x00FF, 0x80FF, 0xFF00, 0x1234, 0xFFFF, 0x7F80, 0x0101}) {
        sixteen.insert(sixteen.end(), {uint8_t(v >> 8), uint8_t(v)});
        scaled.push_back(uint8_t(std::lround(v / 257.0)));
    }
    const Bytes rgba = {10, 20, 30, 0, 40, 50, 60, 128, 70, 80, 90, 255, 1, 2, 3, 0};
    const Bytes opaque = asLoaded(asLoaded(rgba, 4, false), 3, true);  // its colours, alpha 255
    Bytes zeroFourth = rgba;
    for (std::size_t i = 3; i < zeroFourth.size(); i += 4) zeroFourth[i] = 0;
    const std::vector<uint32_t> masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    const struct { const char *name; Bytes file, expectedRgba; } cases[] = {
        {"palette PNG with transparency",
         pngBytes(3, 2, PNG_COLOR_TYPE_PALETTE, 8, {{0, 1, 2}, {2, 2, 1}}, false, {{255, 0, 0}, {0, 128, 255}, {10, 20, 30}}, {0, 128}),
         {255, 0, 0, 0, 0, 128, 255, 128, 10, 20, 30, 255, 10, 20, 30, 255, 10, 20, 30, 255, 0, 128, 255, 128}},
        {"16-bit PNG", pngBytes(2, 1, PNG_COLOR_TYPE_RGB_ALPHA, 16, {sixteen}), scaled},
        {"1-bit grey PNG", pngBytes(3, 1, PNG_COLOR_TYPE_GRAY, 1, {{0xA0}}), {255, 255, 255, 255, 0, 0, 0, 255, 255, 255, 255, 255}},
        {"grey and alpha PNG", pngBytes(2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {{90, 10, 200, 250}}), {90, 90, 90, 10, 200, 200, 200, 250}},
        {"interlaced PNG", pngBytes(11, 9, PNG_COLOR_TYPE_RGB, 8, rgbRows, true), asLoaded(rgb, 3, true)},
        {"top-down BMP", Bmp{.width = 3, .height = -3}.pixels(rgb, 3).bytes(), asLoaded(Bytes(rgb.begin(), rgb.begin() + 27), 3, true)},
        {"32-bit BMP with alpha", Bmp{.bitsPerPixel = 32}.pixels(rgba, 4).bytes(), rgba},
        {"32-bit BMP whose fourth bytes are all 0", Bmp{.bitsPerPixel = 32}.pixels(zeroFourth, 4).bytes(), opaque},
        {"V5 BMP with an alpha mask",
         Bmp{.height = -2, .bitsPerPixel = 32, .compression = 3, .headerSize = 124, .masks = masks}.pixels(rgba, 4).bytes(), rgba},
        {"bitfields BMP without an alpha mask",
         Bmp{.bitsPerPixel = 32, .compression = 3, .masks = {masks[0], masks[1], masks[2]}}.pixels(rgba, 4).bytes(), opaque},
        {"paletted BMP with a gap before its pixels",  // rows bottom first: indices 2 1 0, then 0 0 1
         Bmp{.width = 3, .bitsPerPixel = 8, .coloursUsed = 3, .palette = {30, 20, 10, 0, 60, 50, 40, 0, 90, 80, 70, 0},
             .gap = {0xEE, 0xEE}, .rows = {2, 1, 0, 0, 0, 0, 1, 0}}.bytes(),
         {10, 20, 30, 255, 10, 20, 30, 255, 40, 50, 60, 255, 70, 80, 90, 255, 40, 50, 60, 255, 10, 20, 30, 255}},
    };
    for (const auto &c : cases) {
        const std::string path = written("layout", c.file);
        EXPECT_EQ(loaded(path, true).pixels(4), c.expectedRgba) << c.name;
        EXPECT_EQ(loaded(path, false).pixels(3), asLoaded(c.expectedRgba, 4, false)) << c.name;
        expectEveryPrefixFails(c.file, c.name);
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
            for (std::size_t i = 0; i < 4; ++i) b[at + i] = uint8_t(value >> (24 - 8 * i));
        };
        put(16, width), put(20, height), put(29, uint32_t(crc32(0L, &b[12], 17)) ^ (breakChecksum ? 1u : 0u));
        return b;
    };
    ASSERT_EQ(TAVO_SaveImageToFile(TestImage(smoothPixels(8, 8, 3), 8, 8, 3), file("small.jpg").c_str()), 0);
    Bytes hugeJpeg = readFile(file("small.jpg"));
    for (std::size_t at = frameHeader(hugeJpeg) + 5; at < frameHeader(hugeJpeg) + 9; at += 2) {
        hugeJpeg[at] = 0xEA, hugeJpeg[at + 1] = 0x60;  // height and width 60000
    }
    // 10000 x 10000 is within the image limits, but not a few hundred bytes'
    // worth: refused before anything of that size is allocated (the PNG too).
    Bytes claimingJpeg = readFile(file("small.jpg"));
    for (std::size_t at = frameHeader(claimingJpeg) + 5; at < frameHeader(claimingJpeg) + 9; at += 2)
        claimingJpeg[at] = 0x27, claimingJpeg[at + 1] = 0x10;
    Bytes progressiveJpeg = claimingJpeg;
    progressiveJpeg[frameHeader(progressiveJpeg) + 1] = 0xC2;
    const int32_t memory = TAVOIMG_ERR_MEMORY, corrupt = TAVOIMG_ERR_CORRUPT, format = TAVOIMG_ERR_FORMAT;
    const struct { const char *name; Bytes file; int32_t expected; } cases[] = {
        {"BMP height INT32_MIN", bmp([](Bmp &b) { b.height = INT32_MIN; }), memory},
        {"BMP of 20000^2", bmp([](Bmp &b) { b.width = b.height = 20000; }), memory},
        {"BMP width -2", bmp([](Bmp &b) { b.width = -2; }), corrupt}, {"BMP height 0", bmp([](Bmp &b) { b.height = 0; }), corrupt},
        {"two planes", bmp([](Bmp &b) { b.planes = 2; }), corrupt}, {"16 bits", bmp([](Bmp &b) { b.bitsPerPixel = 16; }), format},
        {"run lengths", bmp([](Bmp &b) { b.compression = 1; }), format}, {"24-bit fields", bmp([](Bmp &b) { b.compression = 3; }), format},
        {"OS/2 header", bmp([](Bmp &b) { b.headerSize = 12; }), format},
        {"pixels past the end", bmp([](Bmp &b) { b.pixelOffset = 0xFFFFFFFF; }), corrupt},
        {"pixels in the header", bmp([](Bmp &b) { b.pixelOffset = 20; }), corrupt},
        {"other masks", bmp([](Bmp &b) { b = {.bitsPerPixel = 32, .compression = 3, .masks = {0xF800, 0x7E0, 0x1F}}; }), format},
        {"257 colours", bmp([](Bmp &b) { b = {.bitsPerPixel = 8, .coloursUsed = 257, .palette = Bytes(1028)}; }), corrupt},
        {"index past the palette",
         bmp([](Bmp &b) { b = {.bitsPerPixel = 8, .coloursUsed = 2, .palette = Bytes(8, 9), .rows = {0, 1, 0, 0, 1, 2, 0, 0}}; }), corrupt},
        {"PNG of 20000^2", png(20000, 20000, false), memory}, {"PNG checksum", png(2, 2, true), corrupt},
        {"small PNG of 10000^2", png(10000, 10000, false), memory},
        {"JPEG of 60000^2", hugeJpeg, memory}, {"small JPEG of 10000^2", claimingJpeg, memory},
        {"small progressive JPEG of 10000^2", progressiveJpeg, memory}, {"GIF", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0}, format},
        {"empty file", {}, format}, {"text", {'h', 'e', 'l', 'l', 'o'}, format},
    };
    for (const auto &c : cases) expectLoadFails(written("hostile.bmp", c.file), c.expected, c.name);
    std::filesystem::create_directory(file("folder.png"));
    expectLoadFails(file("folder.png"), TAVOIMG_ERR_OPEN, "directory");
    expectLoadFails(file("missing.png"), TAVOIMG_ERR_OPEN, "missing file");
}

TEST_F(Codecs, FailedSavesLeaveNoFileBehind) {
    const TestImage image(randomBytes(64 * 64 * 3, 60), 64, 64, 3);
    std::filesystem::create_directory(file("dotted.png"));
    for (const char *name : {"picture.gif", "picture.png.txt", "no_extension", "dotted.png/inside", "trailing."}) {
        EXPECT_EQ(TAVO_SaveImageToFile(image, file(name).c_str()), TAVOIMG_ERR_FORMAT) << name;
        EXPECT_FALSE(std::filesystem::exists(file(name))) << name;
    }
    EXPECT_EQ(TAVO_SaveImageToFile(image, file("missing/x.png").c_str()), TAVOIMG_ERR_WRITE);
    // A full disk and the other faults of writing: tests/tools/write_faults_test.cpp.
}

}  // namespace
