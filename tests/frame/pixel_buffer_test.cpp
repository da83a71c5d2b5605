// Tests of PixelBuffer (Part 1.4).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "frame/pixel_buffer.h"
#include "tavoimage.h"

// Part 1.4 requires that a zero-area image is taken without a call to
// TAVO_SaveImageToBuffer. This definition in the test program takes the place
// of the imaging library's for the library code linked into it, counts the
// calls and forwards them to the real function.
namespace {
int saveCalls = 0;
}  // namespace

extern "C" int32_t TAVO_SaveImageToBuffer(ImageHandle image, uint8_t *pixels, TAVO_IMAGEMODE mode) {
    using SaveFunction = int32_t (*)(ImageHandle, uint8_t *, TAVO_IMAGEMODE);
    static const auto real = reinterpret_cast<SaveFunction>(dlsym(RTLD_NEXT, "TAVO_SaveImageToBuffer"));
    ++saveCalls;
    return real(image, pixels, mode);
}

namespace {

using kelmo::PixelBuffer;
using kelmo::PixelMode;

// An image of width x height pixels of random content in `mode`, with its
// pixels returned in `pixels`.
ImageHandle makeImage(int32_t width, int32_t height, TAVO_IMAGEMODE mode, uint32_t seed,
                      std::vector<uint8_t> *pixels = nullptr) {
    const int32_t channels = mode == TAVO_IMAGEMODE_GREY ? 1 : mode == TAVO_IMAGEMODE_COLOR ? 3 : 4;
    std::vector<uint8_t> data(static_cast<std::size_t>(width) * height * channels);
    std::mt19937 random(seed);
    for (auto &byte : data) byte = static_cast<uint8_t>(random());
    ImageHandle image = -1;
    EXPECT_EQ(TAVO_LoadImageFromBuffer(&image, data.data(), width, height, width * channels, mode), 0);
    if (pixels != nullptr) *pixels = data;
    return image;
}

uint32_t floatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

TEST(PixelBuffer, BytesPerPixelFollowsTheModeTable) {
    EXPECT_EQ(kelmo::bytesPerPixel(PixelMode::Grey), 1);
    EXPECT_EQ(kelmo::bytesPerPixel(PixelMode::Color), 3);
    EXPECT_EQ(kelmo::bytesPerPixel(PixelMode::ColorAlpha), 4);
    EXPECT_EQ(kelmo::bytesPerPixel(PixelMode::Depth), 4);
    EXPECT_EQ(kelmo::bytesPerPixel(PixelMode::Bytes12), 12);
    EXPECT_EQ(kelmo::bytesPerPixel(PixelMode::Bytes16), 16);
    EXPECT_EQ(kelmo::bytesPerPixel(static_cast<PixelMode>(6)), 0);
    EXPECT_EQ(kelmo::bytesPerPixel(static_cast<PixelMode>(-1)), 0);
}

TEST(PixelBuffer, DefaultBufferIsEmptyWithoutArray) {
    const PixelBuffer buffer;
    EXPECT_EQ(buffer.width, 0);
    EXPECT_EQ(buffer.height, 0);
    EXPECT_EQ(buffer.bytes(), nullptr);
    EXPECT_EQ(buffer.arraySize(), 0u);
}

TEST(PixelBuffer, NewBufferHasZeroedArrayOfPixelsPlusOneByte) {
    const int sizes[] = {1, 3, 4, 4, 12, 16};
    for (int m = 0; m < 6; ++m) {
        const PixelBuffer buffer(7, 5, static_cast<PixelMode>(m));
        EXPECT_EQ(buffer.width, 7);
        EXPECT_EQ(buffer.height, 5);
        EXPECT_EQ(buffer.mode, static_cast<PixelMode>(m));
        ASSERT_EQ(buffer.arraySize(), static_cast<std::size_t>(7 * 5 * sizes[m] + 1)) << "mode " << m;
        for (std::size_t k = 0; k < buffer.arraySize(); ++k) ASSERT_EQ(buffer.bytes()[k], 0);
    }
}

TEST(PixelBuffer, NewBufferOfZeroAreaHasOnlyTheSpareByte) {
    const PixelBuffer buffer(0, 9, PixelMode::ColorAlpha);
    EXPECT_EQ(buffer.arraySize(), 1u);
}

TEST(PixelBuffer, NewBufferWithNegativeSizeThrowsInvalidArgument) {
    EXPECT_THROW(PixelBuffer(-1, 5, PixelMode::Grey), std::invalid_argument);
    EXPECT_THROW(PixelBuffer(5, -1, PixelMode::Grey), std::invalid_argument);
}

TEST(PixelBuffer, NewBufferWhoseByteCountOverflowsThrowsLengthError) {
    const int32_t most = std::numeric_limits<int32_t>::max();
    EXPECT_THROW(PixelBuffer(most, most, PixelMode::Bytes16), std::length_error);
}

TEST(PixelBuffer, NewBufferOfUnknownModeHasNoArray) {
    const PixelBuffer buffer(3, 3, static_cast<PixelMode>(9));
    EXPECT_EQ(buffer.bytes(), nullptr);
}

TEST(PixelBuffer, FromImageInEachImagingModeMatchesSaveImageToBuffer) {
    const TAVO_IMAGEMODE imageModes[] = {TAVO_IMAGEMODE_GREY, TAVO_IMAGEMODE_COLOR,
                                         TAVO_IMAGEMODE_COLOR_ALPHA};
    for (const TAVO_IMAGEMODE stored : imageModes) {
        const ImageHandle image = makeImage(7, 5, stored, 11u + stored);
        for (const TAVO_IMAGEMODE taken : imageModes) {
            int32_t size = 0;
            ASSERT_EQ(TAVO_GetImageBufferSize(image, &size, taken), 0);
            std::vector<uint8_t> expected(static_cast<std::size_t>(size));
            ASSERT_EQ(TAVO_SaveImageToBuffer(image, expected.data(), taken), 0);

            saveCalls = 0;
            const PixelBuffer buffer = PixelBuffer::fromImage(image, static_cast<PixelMode>(taken));
            EXPECT_EQ(saveCalls, 1);
            EXPECT_EQ(buffer.width, 7);
            EXPECT_EQ(buffer.height, 5);
            EXPECT_EQ(buffer.mode, static_cast<PixelMode>(taken));
            ASSERT_EQ(buffer.arraySize(), static_cast<std::size_t>(size) + 1);
            EXPECT_EQ(std::memcmp(buffer.bytes(), expected.data(), expected.size()), 0)
                << "stored mode " << stored << ", taken in mode " << taken;
        }
        TAVO_FreeImage(image);
    }
}

TEST(PixelBuffer, FromImageKeepsRowZeroAsTheTopRow) {
    std::vector<uint8_t> pixels;
    const ImageHandle image = makeImage(4, 3, TAVO_IMAGEMODE_GREY, 5u, &pixels);
    const PixelBuffer buffer = PixelBuffer::fromImage(image, PixelMode::Grey);
    ASSERT_EQ(buffer.arraySize(), pixels.size() + 1);
    EXPECT_EQ(std::memcmp(buffer.bytes(), pixels.data(), pixels.size()), 0);
    TAVO_FreeImage(image);
}

TEST(PixelBuffer, FromHandleMinusOneIsEmptyWithoutArray) {
    saveCalls = 0;
    const PixelBuffer buffer = PixelBuffer::fromImage(-1, PixelMode::ColorAlpha);
    EXPECT_EQ(buffer.width, 0);
    EXPECT_EQ(buffer.height, 0);
    EXPECT_EQ(buffer.bytes(), nullptr);
    EXPECT_EQ(buffer.arraySize(), 0u);
    EXPECT_EQ(saveCalls, 0);
}

TEST(PixelBuffer, FromInvalidHandleIsEmptyWithoutArray) {
    const ImageHandle freed = makeImage(3, 3, TAVO_IMAGEMODE_COLOR, 3u);
    ASSERT_EQ(TAVO_FreeImage(freed), 0);
    for (const ImageHandle handle : {freed, -7, 123456, std::numeric_limits<int32_t>::min()}) {
        for (int m = 0; m < 6; ++m) {
            const PixelBuffer buffer = PixelBuffer::fromImage(handle, static_cast<PixelMode>(m));
            EXPECT_EQ(buffer.width, 0) << handle;
            EXPECT_EQ(buffer.height, 0) << handle;
            EXPECT_EQ(buffer.bytes(), nullptr) << handle;
        }
    }
}

TEST(PixelBuffer, ZeroAreaImageGivesArrayOfReportedSizePlusOneWithoutSaveCall) {
    ImageHandle empty = -1;
    ASSERT_EQ(TAVO_CreateEmptyImage(&empty), 0);
    // An image 5 wide and 0 high: zero area while the width is not 0.
    ImageHandle flat = -1;
    ASSERT_EQ(TAVO_LoadImageFromBuffer(&flat, nullptr, 5, 0, 15, TAVO_IMAGEMODE_COLOR), 0);
    for (const ImageHandle image : {empty, flat}) {
        for (int m = 0; m < 3; ++m) {
            int32_t reported = -1;
            ASSERT_EQ(TAVO_GetImageBufferSize(image, &reported, static_cast<TAVO_IMAGEMODE>(m)), 0);
            saveCalls = 0;
            const PixelBuffer buffer = PixelBuffer::fromImage(image, static_cast<PixelMode>(m));
            EXPECT_EQ(saveCalls, 0);
            EXPECT_EQ(static_cast<int64_t>(buffer.width) * buffer.height, 0);
            EXPECT_EQ(buffer.arraySize(), static_cast<std::size_t>(reported) + 1);
            EXPECT_NE(buffer.bytes(), nullptr);
        }
    }
    PixelBuffer flatBuffer = PixelBuffer::fromImage(flat, PixelMode::Color);
    EXPECT_EQ(flatBuffer.width, 5);
    EXPECT_EQ(flatBuffer.height, 0);
    TAVO_FreeImage(empty);
    TAVO_FreeImage(flat);
}

TEST(PixelBuffer, FromImageInNonImagingModeMakesNoArrayAndNoSaveCall) {
    const ImageHandle image = makeImage(6, 4, TAVO_IMAGEMODE_COLOR, 8u);
    for (int m = 3; m < 7; ++m) {
        saveCalls = 0;
        const PixelBuffer buffer = PixelBuffer::fromImage(image, static_cast<PixelMode>(m));
        EXPECT_EQ(saveCalls, 0) << m;
        EXPECT_EQ(buffer.bytes(), nullptr) << m;
        EXPECT_EQ(buffer.arraySize(), 0u) << m;
        // Part 1.4 reads the size before it decides on the array.
        EXPECT_EQ(buffer.width, 6);
        EXPECT_EQ(buffer.height, 4);
    }
    TAVO_FreeImage(image);
}

TEST(PixelBuffer, DeepCopyOfDepthBufferKeepsEveryFloatBitForBit) {
    // Quiet and signalling NaNs with payloads, both zeros, infinities, a
    // subnormal and ordinary values.
    const uint32_t patterns[] = {0x7fc00001u, 0x7f800001u, 0xffc12345u, 0xff800abcu, 0x80000000u,
                                 0x00000000u, 0x7f800000u, 0xff800000u, 0x00000001u, 0x3f800000u,
                                 0xc2f6e979u, 0x7fffffffu};
    PixelBuffer original(4, 3, PixelMode::Depth);
    ASSERT_EQ(original.arraySize(), 4u * 3u * 4u + 1u);
    for (int k = 0; k < 12; ++k) std::memcpy(original.bytes() + 4 * k, &patterns[k], 4);

    const PixelBuffer constructed(original);
    PixelBuffer assigned(1, 1, PixelMode::Grey);
    assigned = original;
    for (const PixelBuffer *copy : {&constructed, static_cast<const PixelBuffer *>(&assigned)}) {
        EXPECT_EQ(copy->width, 4);
        EXPECT_EQ(copy->height, 3);
        EXPECT_EQ(copy->mode, PixelMode::Depth);
        ASSERT_EQ(copy->arraySize(), original.arraySize());
        EXPECT_NE(copy->bytes(), original.bytes());
        for (int k = 0; k < 12; ++k) {
            uint32_t bits;
            std::memcpy(&bits, copy->bytes() + 4 * k, 4);
            EXPECT_EQ(bits, patterns[k]) << k;
        }
    }
    // Read through the float view too: the bits of -0.0 survive.
    EXPECT_EQ(floatBits(constructed.floats()[4]), 0x80000000u);
}

TEST(PixelBuffer, DeepCopyIsIndependentOfTheOriginal) {
    PixelBuffer original(3, 2, PixelMode::Bytes12);
    for (std::size_t k = 0; k + 1 < original.arraySize(); ++k) original.bytes()[k] = static_cast<uint8_t>(k);
    PixelBuffer copy(original);
    copy.bytes()[0] = 200;
    EXPECT_EQ(original.bytes()[0], 0);
    original.bytes()[5] = 99;
    EXPECT_EQ(copy.bytes()[5], 5);
}

TEST(PixelBuffer, DeepCopyOfModesFourAndFiveCopiesTwelveAndSixteenBytesPerPixel) {
    for (const auto &[mode, pixelBytes] : {std::pair{PixelMode::Bytes12, 12}, std::pair{PixelMode::Bytes16, 16}}) {
        PixelBuffer original(5, 2, mode);
        const std::size_t pixelsBytes = static_cast<std::size_t>(5 * 2 * pixelBytes);
        ASSERT_EQ(original.arraySize(), pixelsBytes + 1);
        for (std::size_t k = 0; k < pixelsBytes; ++k) original.bytes()[k] = static_cast<uint8_t>(k * 7 + 1);
        const PixelBuffer copy(original);
        ASSERT_EQ(copy.arraySize(), pixelsBytes + 1);
        EXPECT_EQ(std::memcmp(copy.bytes(), original.bytes(), pixelsBytes), 0);
    }
}

TEST(PixelBuffer, DeepCopyOfBufferFromImageMatchesIt) {
    const ImageHandle image = makeImage(9, 4, TAVO_IMAGEMODE_COLOR_ALPHA, 21u);
    const PixelBuffer original = PixelBuffer::fromImage(image, PixelMode::ColorAlpha);
    const PixelBuffer copy(original);
    ASSERT_EQ(copy.arraySize(), 9u * 4u * 4u + 1u);
    EXPECT_EQ(std::memcmp(copy.bytes(), original.bytes(), 9 * 4 * 4), 0);
    TAVO_FreeImage(image);
}

TEST(PixelBuffer, DeepCopyOfEmptyBufferHasNoArray) {
    const PixelBuffer empty = PixelBuffer::fromImage(-1, PixelMode::Grey);
    const PixelBuffer copy(empty);
    EXPECT_EQ(copy.bytes(), nullptr);
    EXPECT_EQ(copy.width, 0);
    EXPECT_EQ(copy.height, 0);
}

TEST(PixelBuffer, SelfAssignmentKeepsThePixels) {
    PixelBuffer buffer(2, 2, PixelMode::Grey);
    buffer.bytes()[3] = 42;
    PixelBuffer &alias = buffer;
    buffer = alias;
    EXPECT_EQ(buffer.bytes()[3], 42);
    EXPECT_EQ(buffer.arraySize(), 5u);
}

}  // namespace
