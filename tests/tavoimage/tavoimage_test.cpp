// The image table of tavoimage: the statuses of every invalid call, pixel
// buffers in the three modes and the conversions between them.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <vector>

#include "tavoimage/test_image.h"

using namespace kelmo_test;

namespace {

// The documented conversion of packed pixels from one layout to another.
std::vector<uint8_t> converted(const std::vector<uint8_t> &pixels, int from, int to) {
    std::vector<uint8_t> result;
    for (std::size_t i = 0; i < pixels.size(); i += std::size_t(from)) {
        const uint8_t *p = &pixels[i];
        if (to == 1) result.push_back(from == 1 ? p[0] : uint8_t((299 * p[0] + 587 * p[1] + 114 * p[2] + 500) / 1000));
        for (int c = 0; c < 3 && to > 1; ++c) result.push_back(from == 1 ? p[0] : p[c]);
        if (to == 4) result.push_back(from == 4 ? p[3] : 255);
    }
    return result;
}

TEST(ImageTable, EveryInvalidCallReturnsItsStatusAndChangesNothing) {
    const std::vector<uint8_t> pixels = randomBytes(3 * 2 * 3, 1);
    const TestImage good(pixels, 3, 2, 3), empty;
    const ImageHandle freed = TestImage().handle;
    const int live = liveImageCount();
    constexpr int32_t kUntouched = 123456;
    int32_t value = kUntouched;
    ImageHandle out = kUntouched;
    uint8_t bytes[64] = {};
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
#define WITH(expression) [&](ImageHandle h) { return expression; }
    const std::function<int32_t(ImageHandle)> handleCalls[] = {
        WITH(TAVO_FreeImage(h)), WITH(TAVO_CopyImage(h, good)), WITH(TAVO_CopyImage(good, h)),
        WITH(TAVO_GetImageWidth(h, &value)), WITH(TAVO_GetImageHeight(h, &value)),
        WITH(TAVO_GetImageBufferSize(h, &value, TAVO_IMAGEMODE_COLOR)), WITH(TAVO_SaveImageToBuffer(h, bytes, TAVO_IMAGEMODE_GREY)),
        WITH(TAVO_SaveImageToFile(h, "unused.png")), WITH(TAVO_ResizeImage(h, 0.5, good)), WITH(TAVO_ResizeImage(good, 0.5, h)),
        WITH(TAVO_RotateImageCenter(h, 10, 0, 0, good)), WITH(TAVO_RotateImageCenter(good, 10, 0, 0, h)), WITH(TAVO_MirrorImage(h, 0)),
        WITH(TAVO_CopyRectReplicateBorder(h, 0, 0, 1, 1, good)), WITH(TAVO_CopyRectReplicateBorder(good, 0, 0, 1, 1, h)),
        WITH(TAVO_WriteImagePixels(h, bytes, 1, 1, 3, TAVO_IMAGEMODE_COLOR)),
        WITH(TAVO_SaveImageRowsToBuffer(h, 0, 1, bytes, TAVO_IMAGEMODE_COLOR)),
        WITH(TAVO_ReshapeImage(h, 1, 1, TAVO_IMAGEMODE_COLOR)),
        WITH(TAVO_WriteImageRows(h, 0, 1, bytes, 9, TAVO_IMAGEMODE_COLOR)),
    };
#undef WITH
    // Negative, freed, the first slot past the table (no other image lives in
    // this program) and far beyond it.
    for (const ImageHandle bad : {-1, INT32_MIN, freed, freed + 1, INT32_MAX}) {
        for (const auto &call : handleCalls) EXPECT_EQ(call(bad), TAVOIMG_ERR_HANDLE) << bad << ", call " << &call - handleCalls;
    }
    const auto badMode = TAVO_IMAGEMODE(3), grey = TAVO_IMAGEMODE_GREY, colour = TAVO_IMAGEMODE_COLOR;
    const int32_t side = TAVOIMG_MAX_SIDE, rows = TAVOIMG_MAX_PIXELS / TAVOIMG_MAX_SIDE + 1;
    constexpr int32_t kNull = TAVOIMG_ERR_NULL, kArgument = TAVOIMG_ERR_ARGUMENT, kMemory = TAVOIMG_ERR_MEMORY;
#define CALL(status, expression) {status, [&] { return expression; }}
    const std::pair<int32_t, std::function<int32_t()>> calls[] = {
        CALL(kNull, TAVO_CreateEmptyImage(nullptr)), CALL(kNull, TAVO_GetImageWidth(good, nullptr)),
        CALL(kNull, TAVO_GetImageHeight(good, nullptr)), CALL(kNull, TAVO_GetImageBufferSize(good, nullptr, colour)),
        CALL(kNull, TAVO_SaveImageToBuffer(good, nullptr, colour)), CALL(kNull, TAVO_SaveImageToFile(good, nullptr)),
        CALL(kNull, TAVO_LoadImageFromBuffer(nullptr, bytes, 1, 1, 3, colour)),
        CALL(kNull, TAVO_LoadImageFromBuffer(&out, nullptr, 1, 1, 3, colour)),
        CALL(kNull, TAVO_LoadImageFromFile(nullptr, "x.png")), CALL(kNull, TAVO_LoadImageFromFile(&out, nullptr)),
        CALL(kNull, TAVO_LoadImageFromFileWithAlpha(nullptr, "x.png")), CALL(kNull, TAVO_LoadImageFromFileWithAlpha(&out, nullptr)),
        CALL(kNull, TAVO_LoadJpegReduced(nullptr, "x.jpg", 2)), CALL(kNull, TAVO_LoadJpegReduced(&out, nullptr, 2)),
        CALL(kArgument, TAVO_LoadJpegReduced(&out, "x.jpg", 3)),
        CALL(kArgument, TAVO_LoadImageFromBuffer(&out, bytes, 2, 2, 8, badMode)),
        CALL(kArgument, TAVO_LoadImageFromBuffer(&out, bytes, -1, 2, 8, grey)),
        CALL(kArgument, TAVO_LoadImageFromBuffer(&out, bytes, side + 1, 1, side + 1, grey)),
        CALL(kArgument, TAVO_LoadImageFromBuffer(&out, bytes, side, rows, side, grey)),  // too many pixels
        CALL(kArgument, TAVO_LoadImageFromBuffer(&out, bytes, 4, 2, 11, colour)),        // scan line too short
        CALL(kNull, TAVO_WriteImagePixels(good, nullptr, 1, 1, 3, colour)),
        CALL(kArgument, TAVO_WriteImagePixels(good, bytes, 2, 2, 8, badMode)),
        CALL(kArgument, TAVO_WriteImagePixels(good, bytes, side, rows, side, grey)),
        CALL(kArgument, TAVO_WriteImagePixels(good, bytes, 4, 2, 11, colour)),
        CALL(kArgument, TAVO_SaveImageToBuffer(good, bytes, badMode)), CALL(kArgument, TAVO_GetImageBufferSize(good, &value, badMode)),
        // Row ranges: a bad mode, negative or past the last row (also where
        // first + count passes 2^31), a null buffer for a non-empty range.
        CALL(kArgument, TAVO_SaveImageRowsToBuffer(good, 0, 1, bytes, badMode)),
        CALL(kArgument, TAVO_SaveImageRowsToBuffer(good, -1, 1, bytes, colour)),
        CALL(kArgument, TAVO_SaveImageRowsToBuffer(good, 0, -1, bytes, colour)),
        CALL(kArgument, TAVO_SaveImageRowsToBuffer(good, 1, 2, bytes, colour)),
        CALL(kArgument, TAVO_SaveImageRowsToBuffer(good, 1, INT32_MAX, bytes, colour)),
        CALL(kNull, TAVO_SaveImageRowsToBuffer(good, 1, 1, nullptr, colour)),
        CALL(kArgument, TAVO_ReshapeImage(good, 2, 2, badMode)), CALL(kArgument, TAVO_ReshapeImage(good, -1, 2, grey)),
        CALL(kArgument, TAVO_ReshapeImage(good, side, rows, grey)),
        CALL(kArgument, TAVO_WriteImageRows(good, 0, 1, bytes, 9, grey)),  // not the image's layout
        CALL(kArgument, TAVO_WriteImageRows(good, 0, 1, bytes, 9, badMode)),
        CALL(kArgument, TAVO_WriteImageRows(good, -1, 1, bytes, 9, colour)),
        CALL(kArgument, TAVO_WriteImageRows(good, 2, 1, bytes, 9, colour)),
        CALL(kArgument, TAVO_WriteImageRows(good, 1, INT32_MAX, bytes, 9, colour)),
        CALL(kArgument, TAVO_WriteImageRows(good, 0, 1, bytes, 8, colour)),  // scan line too short
        CALL(kNull, TAVO_WriteImageRows(good, 0, 1, nullptr, 9, colour)),
        CALL(kArgument, TAVO_SaveImageToFile(empty, "empty.png")), CALL(kArgument, TAVO_ResizeImage(good, 0.0, good)),
        CALL(kArgument, TAVO_ResizeImage(good, nan, good)), CALL(kMemory, TAVO_ResizeImage(good, 1e300, good)),
        CALL(kMemory, TAVO_ResizeImage(good, 6000.0, good)),  // 18000 x 12000 > 2^27
        CALL(kArgument, TAVO_RotateImageCenter(good, nan, 1, 1, good)), CALL(kArgument, TAVO_RotateImageCenter(good, 10, nan, 1, good)),
        CALL(kArgument, TAVO_RotateImageCenter(good, 10, 1, -inf, good)), CALL(kArgument, TAVO_MirrorImage(good, 2)),
        CALL(kArgument, TAVO_CopyRectReplicateBorder(good, 2, 0, 1, 1, good)),
        CALL(kArgument, TAVO_CopyRectReplicateBorder(good, 0, 2, 1, 1, good)),
        CALL(kArgument, TAVO_CopyRectReplicateBorder(empty, 0, 0, 1, 1, good)),
        CALL(kMemory, TAVO_CopyRectReplicateBorder(good, INT32_MIN, 0, INT32_MAX, 0, good)),
        CALL(kMemory, TAVO_CopyRectReplicateBorder(good, 0, 0, 20000, 20000, good)),
    };
#undef CALL
    int k = 0;
    for (const auto &[status, call] : calls) EXPECT_EQ(call(), status) << "call " << k++;
    EXPECT_EQ(value, kUntouched);
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(liveImageCount(), live);
    EXPECT_EQ(good.size(), std::pair(3, 2));
    EXPECT_EQ(good.pixels(3), pixels);
}

TEST(ImageBuffer, EveryModeReadsBackTheDocumentedConversionOfItsLayout) {
    for (int stored : {1, 3, 4}) {
        const std::vector<uint8_t> pixels = randomBytes(std::size_t(5 * 3 * stored), uint32_t(stored));
        // Rows handed over with 3 bytes of padding after each, to be skipped.
        std::vector<uint8_t> padded(std::size_t((5 * stored + 3) * 3), 0xEE);
        for (std::size_t y = 0, row = std::size_t(5 * stored); y < 3; ++y) {
            std::copy_n(&pixels[y * row], row, &padded[y * (row + 3)]);
        }
        ImageHandle handle = -1;
        ASSERT_EQ(TAVO_LoadImageFromBuffer(&handle, padded.data(), 5, 3, 5 * stored + 3, modeOf(stored)), 0);
        // The same buffer written into existing images: one with more bytes
        // than it needs (its storage reused), one with fewer, one empty.
        const TestImage loaded(handle), larger(randomBytes(9 * 7 * 4, 3), 9, 7, 4), smaller({1, 2, 3}, 1, 1, 3), empty;
        for (const TestImage *written : {&larger, &smaller, &empty}) {
            ASSERT_EQ(TAVO_WriteImagePixels(*written, padded.data(), 5, 3, 5 * stored + 3, modeOf(stored)), 0);
        }
        for (const TestImage *image : {&loaded, &larger, &smaller, &empty}) {
            EXPECT_EQ(image->size(), std::pair(5, 3));
            for (int read : {1, 3, 4}) {
                int32_t size = -1;
                EXPECT_EQ(TAVO_GetImageBufferSize(*image, &size, modeOf(read)), TAVOIMG_OK);
                EXPECT_EQ(size, 5 * 3 * read);
                EXPECT_EQ(image->pixels(read), converted(pixels, stored, read)) << stored << " read as " << read;
            }
        }
    }
    // Images of no pixels, also 5 x 0, take a null buffer in every mode.
    ImageHandle handle = -1;
    ASSERT_EQ(TAVO_LoadImageFromBuffer(&handle, nullptr, 5, 0, 0, TAVO_IMAGEMODE_COLOR), TAVOIMG_OK);
    const TestImage flat(handle), empty;
    for (const ImageHandle image : {flat.handle, empty.handle}) {
        for (int channels : {1, 3, 4}) {
            int32_t size = -1;
            EXPECT_EQ(TAVO_GetImageBufferSize(image, &size, modeOf(channels)), TAVOIMG_OK);
            EXPECT_EQ(size, 0);
            EXPECT_EQ(TAVO_SaveImageToBuffer(image, nullptr, modeOf(channels)), TAVOIMG_OK);
        }
    }
    EXPECT_EQ(flat.width(), 5);
}

TEST(ImageRows, SlicesReadAndWriteTheRowsOfTheWholeImage) {
    constexpr int kWidth = 5, kHeight = 4;
    for (int stored : {1, 3, 4}) {
        const std::vector<uint8_t> pixels = randomBytes(std::size_t(kWidth * kHeight * stored), uint32_t(stored + 7));
        const TestImage image(pixels, kWidth, kHeight, stored);
        // Every slice, read in every mode, is that slice of the whole image's
        // conversion; nothing past it is written.
        for (int read : {1, 3, 4}) {
            const std::vector<uint8_t> whole = converted(pixels, stored, read);
            const std::size_t rowBytes = std::size_t(kWidth * read);
            for (int first = 0; first <= kHeight; ++first) {
                for (int count = 0; first + count <= kHeight; ++count) {
                    std::vector<uint8_t> slice(std::size_t(count) * rowBytes + 1, 0xA5);
                    ASSERT_EQ(TAVO_SaveImageRowsToBuffer(image, first, count, slice.data(), modeOf(read)), TAVOIMG_OK);
                    EXPECT_EQ(slice.back(), 0xA5);
                    slice.pop_back();
                    EXPECT_TRUE(std::equal(slice.begin(), slice.end(), whole.begin() + std::ptrdiff_t(first * rowBytes)))
                        << stored << " read as " << read << ", rows " << first << " + " << count;
                }
            }
        }
        // Reshaping to the image's own size and layout keeps its pixels; to
        // another size or layout, all bytes are 0 (also when the byte count is
        // unchanged: 5 x 4 grey is 20 bytes, as is 5 x 1 RGBA).
        ASSERT_EQ(TAVO_ReshapeImage(image, kWidth, kHeight, modeOf(stored)), TAVOIMG_OK);
        EXPECT_EQ(image.pixels(stored), pixels);
        const TestImage reshaped(pixels, kWidth, kHeight, stored);
        const int other = stored == 4 ? 1 : 4;
        const int otherHeight = stored == 1 ? 1 : kHeight;
        ASSERT_EQ(TAVO_ReshapeImage(reshaped, kWidth, otherHeight, modeOf(other)), TAVOIMG_OK);
        EXPECT_EQ(reshaped.size(), std::pair(kWidth, otherHeight));
        EXPECT_EQ(reshaped.pixels(other), std::vector<uint8_t>(std::size_t(kWidth * otherHeight * other), 0));
        // Rows written from a padded buffer replace those rows only.
        std::vector<uint8_t> expected = pixels;
        const std::size_t rowBytes = std::size_t(kWidth * stored);
        const std::vector<uint8_t> replacement = randomBytes(2 * (rowBytes + 3), uint32_t(stored + 20));
        ASSERT_EQ(TAVO_WriteImageRows(image, 1, 2, replacement.data(), int32_t(rowBytes + 3), modeOf(stored)), TAVOIMG_OK);
        for (std::size_t y = 0; y < 2; ++y) {
            std::copy_n(&replacement[y * (rowBytes + 3)], rowBytes, &expected[(1 + y) * rowBytes]);
        }
        EXPECT_EQ(image.pixels(stored), expected);
    }
}

TEST(ImageTable, CopyIsIndependentOfItsSourceAndSelfCopyChangesNothing) {
    const std::vector<uint8_t> pixels = randomBytes(3 * 2 * 4, 2);
    const TestImage source(pixels, 3, 2, 4), destination({10, 20, 30}, 1, 1, 3);
    ASSERT_EQ(TAVO_CopyImage(source, destination), TAVOIMG_OK);
    ASSERT_EQ(TAVO_MirrorImage(source, 1), TAVOIMG_OK);
    ASSERT_EQ(TAVO_CopyImage(destination, destination), TAVOIMG_OK);
    EXPECT_EQ(destination.size(), std::pair(3, 2));
    EXPECT_EQ(destination.pixels(4), pixels);
}

}  // namespace
