// The image table of tavoimage (Part 1.2): handles, buffers in the three
// modes and the conversions between them, as include/tavoimage.h states.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "tavoimage.h"
#include "tavoimage/test_support.h"

using namespace tavoimage_test;

namespace {

constexpr ImageHandle kUntouched = 123456;

// Every function that takes a handle must answer TAVOIMG_ERR_HANDLE for it.
void expectEveryFunctionRejectsHandle(ImageHandle bad, ImageHandle good) {
    int32_t value = -7;
    uint8_t byte = 0;
    EXPECT_EQ(TAVO_FreeImage(bad), TAVOIMG_ERR_HANDLE);
    EXPECT_EQ(TAVO_CopyImage(bad, good), TAVOIMG_ERR_HANDLE);
    EXPECT_EQ(TAVO_CopyImage(good, bad), TAVOIMG_ERR_HANDLE);
    EXPECT_EQ(TAVO_GetImageWidth(bad, &value), TAVOIMG_ERR_HANDLE);
    EXPECT_EQ(TAVO_GetImageHeight(bad, &value), TAVOIMG_ERR_HANDLE);
    EXPECT_EQ(TAVO_GetImageBufferSize(bad, &value, TAVO_IMAGEMODE_COLOR), TAVOIMG_ERR_HANDLE);
    EXPECT_EQ(value, -7);
    EXPECT_EQ(TAVO_SaveImageToBuffer(bad, &byte, TAVO_IMAGEMODE_GREY), TAVOIMG_ERR_HANDLE);
    EXPECT_EQ(TAVO_SaveImageToFile(bad, "unused.png"), TAVOIMG_ERR_HANDLE);
    EXPECT_EQ(TAVO_ResizeImage(bad, 0.5, good), TAVOIMG_ERR_HANDLE);
    EXPECT_EQ(TAVO_ResizeImage(good, 0.5, bad), TAVOIMG_ERR_HANDLE);
    EXPECT_EQ(TAVO_RotateImageCenter(bad, 10.0, 0.0, 0.0, good), TAVOIMG_ERR_HANDLE);
    EXPECT_EQ(TAVO_RotateImageCenter(good, 10.0, 0.0, 0.0, bad), TAVOIMG_ERR_HANDLE);
    EXPECT_EQ(TAVO_MirrorImage(bad, 0), TAVOIMG_ERR_HANDLE);
    EXPECT_EQ(TAVO_CopyRectReplicateBorder(bad, 0, 0, 1, 1, good), TAVOIMG_ERR_HANDLE);
    EXPECT_EQ(TAVO_CopyRectReplicateBorder(good, 0, 0, 1, 1, bad), TAVOIMG_ERR_HANDLE);
}

int32_t expectedLuma(int red, int green, int blue) { return (299 * red + 587 * green + 114 * blue + 500) / 1000; }

}  // namespace

TEST(ImageTable, EmptyImageHasZeroSizeInEveryMode) {
    const ImageHandle image = makeEmptyImage();
    EXPECT_GE(image, 0);
    EXPECT_EQ(widthOf(image), 0);
    EXPECT_EQ(heightOf(image), 0);
    for (TAVO_IMAGEMODE mode : {TAVO_IMAGEMODE_GREY, TAVO_IMAGEMODE_COLOR, TAVO_IMAGEMODE_COLOR_ALPHA}) {
        int32_t size = -1;
        EXPECT_EQ(TAVO_GetImageBufferSize(image, &size, mode), TAVOIMG_OK);
        EXPECT_EQ(size, 0);
        // Nothing to write: a null buffer is accepted.
        EXPECT_EQ(TAVO_SaveImageToBuffer(image, nullptr, mode), TAVOIMG_OK);
    }
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(ImageTable, NewImagesGetDistinctHandles) {
    std::vector<ImageHandle> handles;
    for (int i = 0; i < 5; ++i) handles.push_back(makeEmptyImage());
    std::vector<ImageHandle> sorted = handles;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
    for (ImageHandle handle : handles) EXPECT_EQ(TAVO_FreeImage(handle), TAVOIMG_OK);
}

TEST(ImageTable, NullOutputOfCreateReturnsNullStatus) {
    EXPECT_EQ(TAVO_CreateEmptyImage(nullptr), TAVOIMG_ERR_NULL);
}

TEST(ImageTable, NegativeHandleIsRejectedByEveryFunction) {
    const ImageHandle good = makeImage({1, 2, 3, 4}, 2, 2, 1);
    expectEveryFunctionRejectsHandle(-1, good);
    expectEveryFunctionRejectsHandle(INT32_MIN, good);
    EXPECT_EQ(pixelsOf(good, TAVO_IMAGEMODE_GREY), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(TAVO_FreeImage(good), TAVOIMG_OK);
}

TEST(ImageTable, HandleAtTableLengthAndBeyondIsRejected) {
    // With no other image alive (every test frees its images), one past the
    // largest handle in use is at or beyond the table's length.
    std::vector<ImageHandle> handles;
    for (int i = 0; i < 8; ++i) handles.push_back(makeEmptyImage());
    const ImageHandle largest = *std::max_element(handles.begin(), handles.end());
    const ImageHandle good = handles.front();
    expectEveryFunctionRejectsHandle(largest + 1, good);
    expectEveryFunctionRejectsHandle(INT32_MAX, good);
    for (ImageHandle handle : handles) EXPECT_EQ(TAVO_FreeImage(handle), TAVOIMG_OK);
}

TEST(ImageTable, FreedHandleIsRejectedByEveryFunction) {
    const ImageHandle freed = makeImage({9, 8, 7}, 1, 1, 3);
    const ImageHandle good = makeImage({5}, 1, 1, 1);
    ASSERT_EQ(TAVO_FreeImage(freed), TAVOIMG_OK);
    expectEveryFunctionRejectsHandle(freed, good);  // includes a second free
    EXPECT_EQ(pixelsOf(good, TAVO_IMAGEMODE_GREY), (std::vector<uint8_t>{5}));
    EXPECT_EQ(TAVO_FreeImage(good), TAVOIMG_OK);
}

TEST(ImageTable, NullPointersReturnNullStatusAndChangeNothing) {
    const ImageHandle image = makeImage({1, 2, 3, 4, 5, 6}, 2, 1, 3);
    const uint8_t pixels[3] = {1, 2, 3};
    ImageHandle out = kUntouched;
    EXPECT_EQ(TAVO_GetImageWidth(image, nullptr), TAVOIMG_ERR_NULL);
    EXPECT_EQ(TAVO_GetImageHeight(image, nullptr), TAVOIMG_ERR_NULL);
    EXPECT_EQ(TAVO_GetImageBufferSize(image, nullptr, TAVO_IMAGEMODE_COLOR), TAVOIMG_ERR_NULL);
    EXPECT_EQ(TAVO_SaveImageToBuffer(image, nullptr, TAVO_IMAGEMODE_COLOR), TAVOIMG_ERR_NULL);
    EXPECT_EQ(TAVO_SaveImageToFile(image, nullptr), TAVOIMG_ERR_NULL);
    EXPECT_EQ(TAVO_LoadImageFromBuffer(nullptr, pixels, 1, 1, 3, TAVO_IMAGEMODE_COLOR), TAVOIMG_ERR_NULL);
    EXPECT_EQ(TAVO_LoadImageFromBuffer(&out, nullptr, 1, 1, 3, TAVO_IMAGEMODE_COLOR), TAVOIMG_ERR_NULL);
    EXPECT_EQ(TAVO_LoadImageFromFile(nullptr, "x.png"), TAVOIMG_ERR_NULL);
    EXPECT_EQ(TAVO_LoadImageFromFile(&out, nullptr), TAVOIMG_ERR_NULL);
    EXPECT_EQ(TAVO_LoadImageFromFileWithAlpha(nullptr, "x.png"), TAVOIMG_ERR_NULL);
    EXPECT_EQ(TAVO_LoadImageFromFileWithAlpha(&out, nullptr), TAVOIMG_ERR_NULL);
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(ImageTable, CopyImageGivesDestinationTheSourceSizeAndPixels) {
    const std::vector<uint8_t> pixels = randomPixels(3 * 2 * 4, 1);
    const ImageHandle source = makeImage(pixels, 3, 2, 4);
    const ImageHandle destination = makeImage({10, 20, 30}, 1, 1, 3);
    ASSERT_EQ(TAVO_CopyImage(source, destination), TAVOIMG_OK);
    EXPECT_EQ(widthOf(destination), 3);
    EXPECT_EQ(heightOf(destination), 2);
    EXPECT_EQ(pixelsOf(destination, TAVO_IMAGEMODE_COLOR_ALPHA), pixels);
    // The copy is independent of its source.
    ASSERT_EQ(TAVO_MirrorImage(source, 1), TAVOIMG_OK);
    EXPECT_EQ(pixelsOf(destination, TAVO_IMAGEMODE_COLOR_ALPHA), pixels);
    EXPECT_EQ(TAVO_FreeImage(source), TAVOIMG_OK);
    EXPECT_EQ(TAVO_FreeImage(destination), TAVOIMG_OK);
}

TEST(ImageTable, CopyImageOntoItselfChangesNothing) {
    const std::vector<uint8_t> pixels = randomPixels(4 * 3, 2);
    const ImageHandle image = makeImage(pixels, 2, 2, 3);
    EXPECT_EQ(TAVO_CopyImage(image, image), TAVOIMG_OK);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR), pixels);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(ImageBuffer, RoundTripIsExactInEachMode) {
    for (int channels : {1, 3, 4}) {
        const int width = 5, height = 3;
        const std::vector<uint8_t> pixels = randomPixels(static_cast<std::size_t>(width * height * channels), channels);
        const ImageHandle image = makeImage(pixels, width, height, channels);
        EXPECT_EQ(widthOf(image), width);
        EXPECT_EQ(heightOf(image), height);
        int32_t size = -1;
        EXPECT_EQ(TAVO_GetImageBufferSize(image, &size, modeOfChannels(channels)), TAVOIMG_OK);
        EXPECT_EQ(size, width * height * channels);
        EXPECT_EQ(pixelsOf(image, modeOfChannels(channels)), pixels) << channels << " channels";
        EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
    }
}

TEST(ImageBuffer, BufferSizeFollowsTheRequestedMode) {
    const ImageHandle image = makeImage(randomPixels(7 * 2 * 3, 3), 7, 2, 3);
    int32_t size = -1;
    EXPECT_EQ(TAVO_GetImageBufferSize(image, &size, TAVO_IMAGEMODE_GREY), TAVOIMG_OK);
    EXPECT_EQ(size, 14);
    EXPECT_EQ(TAVO_GetImageBufferSize(image, &size, TAVO_IMAGEMODE_COLOR_ALPHA), TAVOIMG_OK);
    EXPECT_EQ(size, 56);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(ImageBuffer, ScanLinePaddingIsSkipped) {
    // Two rows of 2 grey pixels, each followed by 3 bytes of padding.
    const uint8_t padded[10] = {1, 2, 99, 99, 99, 3, 4, 99, 99, 99};
    ImageHandle image = -1;
    ASSERT_EQ(TAVO_LoadImageFromBuffer(&image, padded, 2, 2, 5, TAVO_IMAGEMODE_GREY), TAVOIMG_OK);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_GREY), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(ImageBuffer, BadArgumentsAreRejectedAndCreateNoImage) {
    const std::vector<uint8_t> pixels(64, 7);
    ImageHandle out = kUntouched;
    EXPECT_EQ(TAVO_LoadImageFromBuffer(&out, pixels.data(), 2, 2, 8, static_cast<TAVO_IMAGEMODE>(3)),
              TAVOIMG_ERR_ARGUMENT);
    EXPECT_EQ(TAVO_LoadImageFromBuffer(&out, pixels.data(), 2, 2, 8, static_cast<TAVO_IMAGEMODE>(-1)),
              TAVOIMG_ERR_ARGUMENT);
    EXPECT_EQ(TAVO_LoadImageFromBuffer(&out, pixels.data(), -1, 2, 8, TAVO_IMAGEMODE_GREY), TAVOIMG_ERR_ARGUMENT);
    EXPECT_EQ(TAVO_LoadImageFromBuffer(&out, pixels.data(), 2, -2, 8, TAVO_IMAGEMODE_GREY), TAVOIMG_ERR_ARGUMENT);
    EXPECT_EQ(TAVO_LoadImageFromBuffer(&out, pixels.data(), TAVOIMG_MAX_SIDE + 1, 1, TAVOIMG_MAX_SIDE + 1,
                                       TAVO_IMAGEMODE_GREY),
              TAVOIMG_ERR_ARGUMENT);
    // Each side within the limit, the pixel count beyond it.
    EXPECT_EQ(TAVO_LoadImageFromBuffer(&out, pixels.data(), TAVOIMG_MAX_SIDE, TAVOIMG_MAX_PIXELS / TAVOIMG_MAX_SIDE + 1,
                                       TAVOIMG_MAX_SIDE, TAVO_IMAGEMODE_GREY),
              TAVOIMG_ERR_ARGUMENT);
    // A scan line shorter than a row of the mode.
    EXPECT_EQ(TAVO_LoadImageFromBuffer(&out, pixels.data(), 4, 2, 11, TAVO_IMAGEMODE_COLOR), TAVOIMG_ERR_ARGUMENT);
    EXPECT_EQ(out, kUntouched);
}

TEST(ImageBuffer, NullPixelsAreAcceptedForAnEmptyImage) {
    ImageHandle image = -1;
    ASSERT_EQ(TAVO_LoadImageFromBuffer(&image, nullptr, 0, 5, 0, TAVO_IMAGEMODE_COLOR), TAVOIMG_OK);
    EXPECT_EQ(widthOf(image), 0);
    EXPECT_EQ(heightOf(image), 5);
    int32_t size = -1;
    EXPECT_EQ(TAVO_GetImageBufferSize(image, &size, TAVO_IMAGEMODE_COLOR), TAVOIMG_OK);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(ImageBuffer, UnknownModeIsRejectedWhenReadingOut) {
    const ImageHandle image = makeImage({1, 2, 3}, 1, 1, 3);
    uint8_t buffer[8] = {};
    int32_t size = -1;
    EXPECT_EQ(TAVO_SaveImageToBuffer(image, buffer, static_cast<TAVO_IMAGEMODE>(3)), TAVOIMG_ERR_ARGUMENT);
    EXPECT_EQ(TAVO_GetImageBufferSize(image, &size, static_cast<TAVO_IMAGEMODE>(7)), TAVOIMG_ERR_ARGUMENT);
    EXPECT_EQ(size, -1);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(ImageModes, ColourToGreyIsTheRoundedLuma) {
    const std::vector<uint8_t> colour = randomPixels(3 * 64, 5);
    const ImageHandle image = makeImage(colour, 8, 8, 3);
    const std::vector<uint8_t> grey = pixelsOf(image, TAVO_IMAGEMODE_GREY);
    ASSERT_EQ(grey.size(), 64u);
    for (std::size_t i = 0; i < 64; ++i) {
        EXPECT_EQ(grey[i], expectedLuma(colour[3 * i], colour[3 * i + 1], colour[3 * i + 2])) << i;
    }
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(ImageModes, LumaOfKnownColours) {
    // 299 + 587 + 114 = 1000 thousandths: white stays 255, pure primaries
    // give 76.245, 149.685 and 29.07, rounded.
    const ImageHandle image = makeImage({255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255}, 4, 1, 3);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_GREY), (std::vector<uint8_t>{255, 76, 150, 29}));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(ImageModes, ColourAlphaToGreyIgnoresAlpha) {
    const std::vector<uint8_t> pixels = randomPixels(4 * 16, 6);
    const ImageHandle image = makeImage(pixels, 4, 4, 4);
    const std::vector<uint8_t> grey = pixelsOf(image, TAVO_IMAGEMODE_GREY);
    for (std::size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(grey[i], expectedLuma(pixels[4 * i], pixels[4 * i + 1], pixels[4 * i + 2])) << i;
    }
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(ImageModes, GreyToColourRepeatsTheLevelWithOpaqueAlpha) {
    const ImageHandle image = makeImage({0, 17, 128, 255}, 2, 2, 1);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR),
              (std::vector<uint8_t>{0, 0, 0, 17, 17, 17, 128, 128, 128, 255, 255, 255}));
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR_ALPHA),
              (std::vector<uint8_t>{0, 0, 0, 255, 17, 17, 17, 255, 128, 128, 128, 255, 255, 255, 255, 255}));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(ImageModes, ColourToColourAlphaAddsOpaqueAlpha) {
    const ImageHandle image = makeImage({1, 2, 3, 4, 5, 6}, 2, 1, 3);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR_ALPHA), (std::vector<uint8_t>{1, 2, 3, 255, 4, 5, 6, 255}));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(ImageModes, ColourAlphaToColourDropsAlpha) {
    const ImageHandle image = makeImage({1, 2, 3, 0, 4, 5, 6, 77}, 2, 1, 4);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}

TEST(ImageModes, ImageKeepsTheLayoutItWasLoadedIn) {
    // A grey image read back as grey is exact; so is a colour image with
    // alpha read back with alpha (no detour through another layout).
    const std::vector<uint8_t> rgba = {10, 20, 30, 40, 50, 60, 70, 80};
    const ImageHandle image = makeImage(rgba, 1, 2, 4);
    EXPECT_EQ(pixelsOf(image, TAVO_IMAGEMODE_COLOR_ALPHA), rgba);
    EXPECT_EQ(TAVO_FreeImage(image), TAVOIMG_OK);
}
