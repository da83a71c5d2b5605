// Part 4.3: alpha channel.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "frame/library_state.h"
#include "kelmo.h"
#include "support/synthetic_data.h"

namespace kelmo {
namespace {

using testing::SyntheticDataFiles;
using testing::makeTemporaryDirectory;
using testing::writeSyntheticDataDirectory;

ImageHandle makeRgbaImage(int width, int height, const std::vector<uint8_t> &rgba) {
    ImageHandle image = -1;
    EXPECT_EQ(TAVO_LoadImageFromBuffer(&image, rgba.data(), width, height, 4 * width, TAVO_IMAGEMODE_COLOR_ALPHA), 0);
    return image;
}

std::vector<uint8_t> pixelsOf(ImageHandle image, TAVO_IMAGEMODE mode) {
    int32_t size = 0;
    EXPECT_EQ(TAVO_GetImageBufferSize(image, &size, mode), 0);
    std::vector<uint8_t> pixels(static_cast<std::size_t>(size));
    EXPECT_EQ(TAVO_SaveImageToBuffer(image, pixels.data(), mode), 0);
    return pixels;
}

// A w x h four-byte image whose bytes encode their position.
std::vector<uint8_t> patternPixels(int width, int height) {
    std::vector<uint8_t> rgba(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t *p = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y);
            p[2] = static_cast<uint8_t>(x + y);
            p[3] = static_cast<uint8_t>(255 - x);
        }
    return rgba;
}

std::string writeGridFile(const std::string &text) {
    const std::string path = makeTemporaryDirectory("grd") + "/mask.grd";
    std::FILE *file = std::fopen(path.c_str(), "w");
    std::fputs(text.c_str(), file);
    std::fclose(file);
    return path;
}

TEST(ExtendModelImage, ZeroOffsetAndSourceSizeGivesACopyOfTheSource) {
    const std::vector<uint8_t> rgba = patternPixels(17, 11);
    const ImageHandle source = makeRgbaImage(17, 11, rgba);
    ImageHandle destination = -1;
    ASSERT_EQ(TAVO_CreateEmptyImage(&destination), 0);
    EXPECT_EQ(TAVO_ExtendModelImage(source, destination, 0, 0, 17, 11), TAVO_OK);
    EXPECT_EQ(pixelsOf(destination, TAVO_IMAGEMODE_COLOR_ALPHA), rgba);
    TAVO_FreeImage(source);
    TAVO_FreeImage(destination);
}

TEST(ExtendModelImage, OffsetMinus10CutsTheFirst10ColumnsAndPlacesColumn10AtColumn0) {
    const int w = 30, h = 8, canvasW = 40, canvasH = 12;
    const std::vector<uint8_t> rgba = patternPixels(w, h);
    const ImageHandle source = makeRgbaImage(w, h, rgba);
    ImageHandle destination = -1;
    ASSERT_EQ(TAVO_CreateEmptyImage(&destination), 0);
    ASSERT_EQ(TAVO_ExtendModelImage(source, destination, -10, 2, canvasW, canvasH), TAVO_OK);
    const std::vector<uint8_t> canvas = pixelsOf(destination, TAVO_IMAGEMODE_COLOR_ALPHA);
    ASSERT_EQ(canvas.size(), static_cast<std::size_t>(canvasW * canvasH * 4));
    for (int y = 0; y < canvasH; ++y)
        for (int x = 0; x < canvasW; ++x)
            for (int c = 0; c < 4; ++c) {
                const int sx = x + 10, sy = y - 2;
                const bool inside = sx < w && sy >= 0 && sy < h;
                const uint8_t expected = inside ? rgba[(static_cast<std::size_t>(sy) * w + sx) * 4 + c] : 0;
                ASSERT_EQ(canvas[(static_cast<std::size_t>(y) * canvasW + x) * 4 + c], expected)
                    << x << "," << y << "," << c;
            }
    TAVO_FreeImage(source);
    TAVO_FreeImage(destination);
}

TEST(ExtendModelImage, SourceWhollyOutsideTheCanvasGivesACanvasOfZeros) {
    const ImageHandle source = makeRgbaImage(5, 5, patternPixels(5, 5));
    ImageHandle destination = -1;
    ASSERT_EQ(TAVO_CreateEmptyImage(&destination), 0);
    for (const auto &offset : std::vector<std::pair<int, int>>{{20, 0}, {-5, 0}, {0, 9}, {0, -5}, {INT32_MIN, INT32_MAX}}) {
        ASSERT_EQ(TAVO_ExtendModelImage(source, destination, offset.first, offset.second, 9, 9), TAVO_OK);
        EXPECT_EQ(pixelsOf(destination, TAVO_IMAGEMODE_COLOR_ALPHA), std::vector<uint8_t>(9 * 9 * 4, 0));
    }
    TAVO_FreeImage(source);
    TAVO_FreeImage(destination);
}

TEST(ExtendModelImage, InvalidImageOrSizeReturnsMinus1AndLeavesTheDestination) {
    const std::vector<uint8_t> rgba = patternPixels(5, 5);
    const ImageHandle source = makeRgbaImage(5, 5, rgba);
    const ImageHandle destination = makeRgbaImage(5, 5, rgba);
    EXPECT_EQ(TAVO_ExtendModelImage(-1, destination, 0, 0, 5, 5), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_ExtendModelImage(source, 9999, 0, 0, 5, 5), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_ExtendModelImage(source, destination, 0, 0, -1, 5), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_ExtendModelImage(source, destination, 0, 0, 5, TAVOIMG_MAX_SIDE + 1), TAVO_ERR_GENERAL);
    EXPECT_EQ(pixelsOf(destination, TAVO_IMAGEMODE_COLOR_ALPHA), rgba);
    TAVO_FreeImage(source);
    TAVO_FreeImage(destination);
}

class AlphaWithSquareRoots : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SyntheticDataFiles files;
        files = SyntheticDataFiles{false, false, false, false, false, false, false, {false, false, false, false}, true};
        directory_ = writeSyntheticDataDirectory(makeTemporaryDirectory("alpha_sqrt"), files);
        ASSERT_EQ(TAVO_InitRBF(directory_.c_str()), 0);
    }
    static std::string directory_;
};
std::string AlphaWithSquareRoots::directory_;

TEST_F(AlphaWithSquareRoots, IdenticalPointsWriteTheMaskUnmovedAndKeepTheColourBytes) {
    const int n = 64;
    std::vector<uint8_t> grey(n * n);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) grey[static_cast<std::size_t>(y) * n + x] = static_cast<uint8_t>(3 * x + 2 * y);
    ImageHandle mask = -1;
    ASSERT_EQ(TAVO_LoadImageFromBuffer(&mask, grey.data(), n, n, n, TAVO_IMAGEMODE_GREY), 0);
    const std::vector<uint8_t> rgba = patternPixels(n, n);
    const ImageHandle texture = makeRgbaImage(n, n, rgba);
    std::vector<int32_t> points(2 * 66);
    for (int k = 0; k < 66; ++k) {
        points[2 * k] = 4 + (k * 7) % 56;
        points[2 * k + 1] = 4 + (k * 13) % 56 + (k / 8) % 2;
    }
    ASSERT_EQ(TAVO_SetTextureAlphaChannel(texture, points.data(), mask, points.data()), TAVO_OK);
    const std::vector<uint8_t> result = pixelsOf(texture, TAVO_IMAGEMODE_COLOR_ALPHA);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const std::size_t k = static_cast<std::size_t>(y) * n + x;
            for (int c = 0; c < 3; ++c) ASSERT_EQ(result[4 * k + c], rgba[4 * k + c]);
            // Part 6.1: with no displacement the clamp still moves the samples
            // of the first row and column inward, and the enlargement spreads
            // that over the first two; from the third on the mask is unmoved.
            if (x >= 3 && y >= 3) {
                ASSERT_EQ(result[4 * k + 3], grey[k]) << x << "," << y;
            }
        }
    TAVO_FreeImage(mask);
    TAVO_FreeImage(texture);
}

TEST_F(AlphaWithSquareRoots, TextureLargerThanTheMaskGetsAlpha0BeyondTheMaskPixels) {
    std::vector<uint8_t> grey(16 * 16, 200);
    ImageHandle mask = -1;
    ASSERT_EQ(TAVO_LoadImageFromBuffer(&mask, grey.data(), 16, 16, 16, TAVO_IMAGEMODE_GREY), 0);
    const ImageHandle texture = makeRgbaImage(32, 32, patternPixels(32, 32));
    std::vector<int32_t> points(2 * 66);
    for (int k = 0; k < 66; ++k) {
        points[2 * k] = k % 16;
        points[2 * k + 1] = k / 16;
    }
    ASSERT_EQ(TAVO_SetTextureAlphaChannel(texture, points.data(), mask, points.data()), TAVO_OK);
    const std::vector<uint8_t> result = pixelsOf(texture, TAVO_IMAGEMODE_COLOR_ALPHA);
    for (std::size_t k = 0; k < 32 * 32; ++k) ASSERT_EQ(result[4 * k + 3], k < 256 ? 200 : 0) << k;
    TAVO_FreeImage(mask);
    TAVO_FreeImage(texture);
}

TEST(SetTextureAlphaChannel, NullPointsOrInvalidImagesReturnMinus1AndChangeNothing) {
    const std::vector<uint8_t> rgba = patternPixels(8, 8);
    const ImageHandle texture = makeRgbaImage(8, 8, rgba);
    std::vector<int32_t> points(2 * 66, 1);
    EXPECT_EQ(TAVO_SetTextureAlphaChannel(texture, nullptr, texture, points.data()), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_SetTextureAlphaChannel(texture, points.data(), texture, nullptr), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_SetTextureAlphaChannel(-1, points.data(), texture, points.data()), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_SetTextureAlphaChannel(texture, points.data(), -1, points.data()), TAVO_ERR_GENERAL);
    EXPECT_EQ(pixelsOf(texture, TAVO_IMAGEMODE_COLOR_ALPHA), rgba);
    TAVO_FreeImage(texture);
}

TEST(AdjustAlphaChannelImage, ImageBecomesItsAlphaChannelAsA256GreyFrame) {
    // Constant alpha 77 under varying colour: whatever the frame's crop and
    // scale, every grey byte is 77 (borders are repeated, not filled).
    std::vector<uint8_t> rgba = patternPixels(120, 100);
    for (std::size_t k = 3; k < rgba.size(); k += 4) rgba[k] = 77;
    const ImageHandle image = makeRgbaImage(120, 100, rgba);
    std::vector<TPointf> points(66);
    for (int k = 0; k < 66; ++k) points[k] = {40.0f + static_cast<float>(k % 8) * 5.0f, 30.0f + static_cast<float>(k / 8) * 5.0f};
    points[0] = {45.0f, 40.0f};
    points[1] = {75.0f, 40.0f};
    std::vector<int32_t> framePoints(2 * 66, -7);
    ASSERT_EQ(TAVO_AdjustAlphaChannelImage(image, points.data(), 66, framePoints.data()), TAVO_OK);
    int32_t width = 0, height = 0;
    TAVO_GetImageWidth(image, &width);
    TAVO_GetImageHeight(image, &height);
    EXPECT_EQ(width, 256);
    EXPECT_EQ(height, 256);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_GREY), std::vector<uint8_t>(256 * 256, 77));
    // The frame points are those of the face frame of the same points.
    std::vector<int32_t> integerPoints(2 * 66), expected(2 * 66);
    for (int k = 0; k < 66; ++k) {
        integerPoints[2 * k] = static_cast<int32_t>(points[k].x);
        integerPoints[2 * k + 1] = static_cast<int32_t>(points[k].y);
    }
    ImageHandle frame = -1;
    const ImageHandle photo = makeRgbaImage(120, 100, rgba);
    ASSERT_EQ(TAVO_ExtractFaceFrame(photo, integerPoints.data(), &frame, expected.data(), 256, 256), 0);
    EXPECT_EQ(framePoints, expected);
    TAVO_FreeImage(frame);
    TAVO_FreeImage(photo);
    TAVO_FreeImage(image);
}

TEST(AdjustAlphaChannelImage, CountOutside2To66OrNullPointersReturnMinus1AndChangeNothing) {
    const std::vector<uint8_t> rgba = patternPixels(20, 20);
    const ImageHandle image = makeRgbaImage(20, 20, rgba);
    std::vector<TPointf> points(67, TPointf{5.0f, 5.0f});
    std::vector<int32_t> framePoints(2 * 67, -7);
    EXPECT_EQ(TAVO_AdjustAlphaChannelImage(image, points.data(), 1, framePoints.data()), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_AdjustAlphaChannelImage(image, points.data(), 67, framePoints.data()), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_AdjustAlphaChannelImage(image, nullptr, 66, framePoints.data()), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_AdjustAlphaChannelImage(image, points.data(), 66, nullptr), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_AdjustAlphaChannelImage(-1, points.data(), 66, framePoints.data()), TAVO_ERR_GENERAL);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR_ALPHA), rgba);
    EXPECT_EQ(framePoints, std::vector<int32_t>(2 * 67, -7));
    TAVO_FreeImage(image);
}

class LoadAlphaChannelImage : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ = makeTemporaryDirectory("alpha_load");
        const std::vector<uint8_t> rgba = patternPixels(100, 100);
        const ImageHandle image = makeRgbaImage(100, 100, rgba);
        imagePath_ = directory_ + "/mask.png";
        ASSERT_EQ(TAVO_SaveImageToFile(image, imagePath_.c_str()), 0);
        TAVO_FreeImage(image);
    }
    std::string gridText(int count, int written) {
        std::string text = std::to_string(count) + "\n";
        for (int k = 0; k < written; ++k) {
            const float x = k == 0 ? 30.0f : k == 1 ? 70.0f : 30.0f + static_cast<float>(k % 9) * 5.0f;
            const float y = k < 2 ? 40.0f : 30.0f + static_cast<float>(k / 9) * 6.0f;
            text += std::to_string(x) + " " + std::to_string(y) + "\n";
        }
        return text;
    }
    std::string directory_, imagePath_;
};

TEST_F(LoadAlphaChannelImage, GridFileThatDoesNotExistGivesMinus10EvenThoughTheImageLoaded) {
    ImageHandle image = -1;
    std::vector<int32_t> grid(132, -7);
    EXPECT_EQ(TAVO_LoadAlphaChannelImage(&image, grid.data(), imagePath_.c_str(), (directory_ + "/none.grd").c_str()),
              TAVO_ERR_ALPHA_GRID);
    int32_t width = 0;
    EXPECT_EQ(TAVO_GetImageWidth(image, &width), 0);
    EXPECT_EQ(width, 100);
    EXPECT_EQ(grid, std::vector<int32_t>(132, -7));
    TAVO_FreeImage(image);
}

TEST_F(LoadAlphaChannelImage, MissingImageReturnsTheImagingStatusAndLeavesTheGrid) {
    ImageHandle image = -5;
    std::vector<int32_t> grid(132, -7);
    const std::string gridPath = writeGridFile(gridText(66, 66));
    EXPECT_EQ(TAVO_LoadAlphaChannelImage(&image, grid.data(), (directory_ + "/none.png").c_str(), gridPath.c_str()),
              TAVOIMG_ERR_OPEN);
    EXPECT_EQ(image, -5);
    EXPECT_EQ(grid, std::vector<int32_t>(132, -7));
}

TEST_F(LoadAlphaChannelImage, SixtySixPointsGiveA256FrameAndTheirFramePositions) {
    ImageHandle image = -1;
    std::vector<int32_t> grid(132, -7);
    const std::string gridPath = writeGridFile(gridText(66, 66));
    ASSERT_EQ(TAVO_LoadAlphaChannelImage(&image, grid.data(), imagePath_.c_str(), gridPath.c_str()), TAVO_OK);
    int32_t width = 0;
    TAVO_GetImageWidth(image, &width);
    EXPECT_EQ(width, 256);
    EXPECT_EQ(grid[1], grid[3]);  // points 0 and 1 are level
    EXPECT_LT(grid[0], grid[2]);
    TAVO_FreeImage(image);
}

TEST_F(LoadAlphaChannelImage, CountBelow2Above66OrShortFileReturnsMinus1AndLeavesTheGrid) {
    for (const std::string &text : {gridText(1, 1), gridText(0, 0), gridText(-3, 0), gridText(67, 67),
                                     gridText(66, 65), std::string("66\n1 2 3"), std::string(""),
                                     std::string("sixty-six")}) {
        SCOPED_TRACE(text.substr(0, 20));
        ImageHandle image = -1;
        std::vector<int32_t> grid(132, -7);
        const std::string gridPath = writeGridFile(text);
        EXPECT_EQ(TAVO_LoadAlphaChannelImage(&image, grid.data(), imagePath_.c_str(), gridPath.c_str()),
                  TAVO_ERR_GENERAL);
        EXPECT_EQ(grid, std::vector<int32_t>(132, -7));
        TAVO_FreeImage(image);
    }
}

TEST_F(LoadAlphaChannelImage, FewerThan66PointsWriteOnlyTheirPairs) {
    ImageHandle image = -1;
    std::vector<int32_t> grid(132, -7);
    const std::string gridPath = writeGridFile(gridText(10, 10));
    ASSERT_EQ(TAVO_LoadAlphaChannelImage(&image, grid.data(), imagePath_.c_str(), gridPath.c_str()), TAVO_OK);
    for (std::size_t k = 20; k < 132; ++k) EXPECT_EQ(grid[k], -7);
    TAVO_FreeImage(image);
}

TEST(LoadAlphaChannelImageArguments, NullPointersReturnMinus1) {
    ImageHandle image = -1;
    int32_t grid[132];
    EXPECT_EQ(TAVO_LoadAlphaChannelImage(nullptr, grid, "a.png", "a.grd"), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_LoadAlphaChannelImage(&image, nullptr, "a.png", "a.grd"), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_LoadAlphaChannelImage(&image, grid, nullptr, "a.grd"), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_LoadAlphaChannelImage(&image, grid, "a.png", nullptr), TAVO_ERR_GENERAL);
}

}  // namespace
}  // namespace kelmo
