// Alpha masks: an image placed on a canvas against a plain re-computation,
// the mask reduced to the face frame of its points, warped into a texture's
// fourth byte, and its grid file read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <tuple>

#include "support/model_support.h"
#include "support/synthetic_data.h"
#include "support/table_check.h"

namespace kelmo {

// A w x h image whose bytes tell where they are: x, y, x + y, 255 - x.
render_test::RgbaImage pattern(int width, int height) {
    return render_test::makeImage(width, height, [](int x, int y) {
        return std::array<int, 4>{x, y, (x + y) % 256, 255 - x};
    });
}

std::vector<uint8_t> pixelsOf(ImageHandle image, TAVO_IMAGEMODE mode = TAVO_IMAGEMODE_COLOR_ALPHA) {
    int32_t size = 0;
    TAVO_GetImageBufferSize(image, &size, mode);
    std::vector<uint8_t> pixels(static_cast<std::size_t>(size));
    if (size > 0) TAVO_SaveImageToBuffer(image, pixels.data(), mode);
    return pixels;
}

TEST(ExtendModelImage, PlacesTheImageAtItsOffsetOnACanvasOfZeros) {
    const render_test::RgbaImage picture = pattern(30, 8);
    const ImageHandle source = render_test::makeImageHandle(picture),
                      canvas = render_test::makeImageHandle(pattern(1, 1));
    for (auto [x, y, width, height] : {std::array{0, 0, 30, 8},
                                       {-10, 2, 40, 12},
                                       {3, -2, 9, 9},
                                       {25, 0, 40, 5},
                                       {20, 0, 9, 9},
                                       {0, 9, 9, 9},
                                       {INT32_MIN, INT32_MAX, 9, 9},
                                       {4, 4, 0, 7}}) {
        ASSERT_EQ(TAVO_ExtendModelImage(source, canvas, x, y, width, height), TAVO_OK);
        std::vector<uint8_t> expected(static_cast<std::size_t>(width * height * 4), 0);
        for (int64_t cy = 0; cy < height; ++cy)
            for (int64_t cx = 0; cx < width; ++cx)
                if (cx - x >= 0 && cx - x < 30 && cy - y >= 0 && cy - y < 8)
                    std::copy_n(&picture.pixels[static_cast<std::size_t>(((cy - y) * 30 + cx - x) * 4)], 4,
                                &expected[static_cast<std::size_t>((cy * width + cx) * 4)]);
        EXPECT_EQ(pixelsOf(canvas), expected) << x << ", " << y << " on " << width << " x " << height;
    }
    TAVO_FreeImage(source);
    TAVO_FreeImage(canvas);
}

TEST(AlphaChannel, MaskBecomesItsAlphaInTheFaceFrameOfItsPointsAndThenATexturesFourthByte) {
    // Alpha 77 under varying colour: whatever the frame's crop, every grey
    // byte is 77, and the points land where the face frame of a photo puts them.
    render_test::RgbaImage picture = pattern(120, 100);
    for (std::size_t k = 3; k < picture.pixels.size(); k += 4) picture.pixels[k] = 77;
    const ImageHandle mask = render_test::makeImageHandle(picture),
                      photo = render_test::makeImageHandle(pattern(120, 100));
    std::vector<TPointf> points(66);
    std::vector<int32_t> integers(132), framePoints(132), expected(132);
    for (int k = 0; k < 66; ++k) {
        points[k] = k < 2 ? TPointf{45.0f + 30 * k, 40.0f} : TPointf{40.0f + k % 8 * 5, 30.0f + k / 8 * 5};
        integers[2 * k] = static_cast<int32_t>(points[k].x), integers[2 * k + 1] = static_cast<int32_t>(points[k].y);
    }
    ASSERT_EQ(TAVO_AdjustAlphaChannelImage(mask, points.data(), 66, framePoints.data()), TAVO_OK);
    EXPECT_EQ(pixelsOf(mask, TAVO_IMAGEMODE_GREY), std::vector<uint8_t>(256 * 256, 77));
    ImageHandle frame = -1;
    ASSERT_EQ(TAVO_ExtractFaceFrame(photo, integers.data(), &frame, expected.data(), 256, 256), TAVO_OK);
    EXPECT_EQ(framePoints, expected);
    for (ImageHandle image : {mask, photo, frame}) TAVO_FreeImage(image);

    // Warped with unmoved points, a grey mask lands in the fourth byte of a
    // texture taller than itself: beyond the mask's pixel count, 0.
    ASSERT_EQ(
        TAVO_InitRBF(testing::writeSyntheticDataDirectory(testing::makeTemporaryDirectory("alpha"),
                                                          {false, false, false, false, false, false, false, {}, true})
                         .c_str()),
        TAVO_OK);
    std::vector<uint8_t> grey(64 * 64);
    for (std::size_t k = 0; k < grey.size(); ++k) grey[k] = static_cast<uint8_t>(3 * (k % 64) + 2 * (k / 64));
    ImageHandle greyMask = -1;
    TAVO_LoadImageFromBuffer(&greyMask, grey.data(), 64, 64, 64, TAVO_IMAGEMODE_GREY);
    const render_test::RgbaImage colours = pattern(64, 80);
    const ImageHandle texture = render_test::makeImageHandle(colours);
    for (int k = 0; k < 66; ++k)
        integers[2 * k] = 4 + (k * 7) % 56, integers[2 * k + 1] = 4 + (k * 13) % 56 + (k / 8) % 2;
    ASSERT_EQ(TAVO_SetTextureAlphaChannel(texture, integers.data(), greyMask, integers.data()), TAVO_OK);
    const std::vector<uint8_t> result = pixelsOf(texture);
    for (std::size_t k = 0; k < 64 * 80; ++k) {
        ASSERT_TRUE(std::equal(&result[4 * k], &result[4 * k + 3], &colours.pixels[4 * k])) << k;
        // The warp's clamp moves the first row and column inward, and the
        // enlargement spreads that over two: from the third on, unmoved.
        ASSERT_TRUE(k % 64 < 3 || k / 64 < 3 || result[4 * k + 3] == (k < 64 * 64 ? grey[k] : 0)) << k;
    }
    TAVO_FreeImage(greyMask);
    TAVO_FreeImage(texture);
}

TEST(LoadAlphaChannelImage, GridFileFailuresLeaveTheCallersGrid) {
    const std::string directory = testing::makeTemporaryDirectory("alpha_grid");
    const std::string image = directory + "/mask.png", grid = directory + "/mask.grd";
    const ImageHandle saved = render_test::makeImageHandle(pattern(100, 100));
    ASSERT_EQ(TAVO_SaveImageToFile(saved, image.c_str()), TAVOIMG_OK);
    TAVO_FreeImage(saved);
    auto gridText = [](int count, int written) {
        std::string text = std::to_string(count) + "\n";
        for (int k = 0; k < written; ++k)
            text += std::to_string(k < 2 ? 30 + 40 * k : 30 + k % 9 * 5) + " " +
                    std::to_string(k < 2 ? 40 : 30 + k / 9 * 6) + "\n";
        return text;
    };
    // The text (none: no file), the status and how many grid integers are written.
    const std::tuple<std::string, int32_t, int> cases[] = {
        {gridText(66, 66), TAVO_OK, 132},        {gridText(10, 10), TAVO_OK, 20},
        {gridText(1, 1), TAVO_ERR_GENERAL, 0},   {gridText(67, 67), TAVO_ERR_GENERAL, 0},
        {gridText(66, 65), TAVO_ERR_GENERAL, 0}, {"66\n1 2 3", TAVO_ERR_GENERAL, 0},
        {"sixty-six", TAVO_ERR_GENERAL, 0},      {"", TAVO_ERR_ALPHA_GRID, 0}};
    for (const auto &[text, status, written] : cases) {
        std::remove(grid.c_str());
        if (!text.empty()) test::writeTextToFile(grid, text);
        ImageHandle loaded = -7;
        std::vector<int32_t> points(132, -7);
        EXPECT_EQ(TAVO_LoadAlphaChannelImage(&loaded, points.data(), image.c_str(), grid.c_str()), status) << text;
        EXPECT_EQ(std::count(points.begin(), points.end(), -7), 132 - written) << text;
        int32_t width = 0;
        EXPECT_EQ(TAVO_GetImageWidth(loaded, &width), TAVOIMG_OK);  // loaded even when the grid fails
        EXPECT_EQ(width, status == TAVO_OK ? 256 : 100);
        TAVO_FreeImage(loaded);
    }
}

}  // namespace kelmo
