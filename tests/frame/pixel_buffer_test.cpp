// PixelBuffer: the pixels of an image taken into memory the library owns.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "frame/pixel_buffer.h"
#include "tavoimage/test_image.h"

namespace {

using kelmo::PixelBuffer;
using kelmo::PixelMode;
using namespace kelmo_test;

TEST(PixelBuffer, NewBufferHoldsItsPixelsAndASpareByteAllZero) {
    const std::size_t pixelBytes[] = {1, 3, 4, 4, 12, 16};
    for (int mode = 0; mode < 6; ++mode) {
        const PixelBuffer buffer(7, 5, PixelMode(mode));
        ASSERT_EQ(buffer.arraySize(), 7 * 5 * pixelBytes[mode] + 1) << mode;
        EXPECT_TRUE(std::all_of(buffer.bytes(), buffer.bytes() + buffer.arraySize(), [](uint8_t b) { return b == 0; }));
    }
    EXPECT_EQ(PixelBuffer(0, 9, PixelMode::ColorAlpha).arraySize(), 1u);
    EXPECT_EQ(PixelBuffer(3, 3, PixelMode(9)).bytes(), nullptr);
    EXPECT_THROW(PixelBuffer(-1, 5, PixelMode::Grey), std::invalid_argument);
    EXPECT_THROW(PixelBuffer(5, -1, PixelMode::Grey), std::invalid_argument);
    EXPECT_THROW(PixelBuffer(INT32_MAX, INT32_MAX, PixelMode::Bytes16), std::length_error);
}

TEST(PixelBuffer, FromImageHoldsWhatTheImageGivesInThatMode) {
    const int channels[] = {1, 3, 4};
    for (int stored : channels) {
        const TestImage image(randomBytes(std::size_t(7 * 5 * stored), uint32_t(stored)), 7, 5, stored);
        for (int mode = 0; mode < 6; ++mode) {  // only the imaging modes 0, 1 and 2 make an array
            const PixelBuffer buffer = PixelBuffer::fromImage(image, PixelMode(mode));
            EXPECT_EQ(std::pair(buffer.width, buffer.height), std::pair(7, 5));
            EXPECT_EQ(buffer.mode, PixelMode(mode));
            const std::vector<uint8_t> expected = mode > 2 ? std::vector<uint8_t>() : image.pixels(channels[mode]);
            ASSERT_EQ(buffer.arraySize(), mode > 2 ? 0 : expected.size() + 1) << stored << " as " << mode;
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.bytes())) << stored << " as " << mode;
        }
    }
    // No pixels: an array of the spare byte. No image (-1, freed, unknown
    // handles): an empty buffer.
    const TestImage flat(std::vector<uint8_t>(1), 5, 0, 3);
    EXPECT_EQ(PixelBuffer::fromImage(flat, PixelMode::Color).width, 5);
    EXPECT_EQ(PixelBuffer::fromImage(flat, PixelMode::Color).arraySize(), 1u);
    const ImageHandle freed = TestImage().handle;
    for (const ImageHandle handle : {-1, freed, 123456, INT32_MIN}) {
        const PixelBuffer buffer = PixelBuffer::fromImage(handle, PixelMode::ColorAlpha);
        EXPECT_EQ(std::pair(buffer.width, buffer.height), std::pair(0, 0)) << handle;
        EXPECT_EQ(buffer.bytes(), nullptr) << handle;
    }
}

TEST(PixelBuffer, CopiesAreDeepAndBitForBit) {
    // Depth floats of every kind: NaNs with payloads, infinities, -0, subnormals.
    const uint32_t patterns[] = {0x7fc00001u, 0x7f800001u, 0xffc12345u, 0x80000000u, 0x00000000u, 0x7f800000u,
                                 0xff800000u, 0x00000001u, 0x3f800000u, 0xc2f6e979u, 0x7fffffffu, 0xff800abcu};
    PixelBuffer original(4, 3, PixelMode::Depth), assigned(1, 1, PixelMode::Grey);
    std::memcpy(original.bytes(), patterns, sizeof patterns);
    assigned = original;
    for (const PixelBuffer &copy : {PixelBuffer(original), assigned}) {
        EXPECT_EQ(std::tuple(copy.width, copy.height, copy.mode, copy.arraySize()), std::tuple(4, 3, PixelMode::Depth, 49u));
        EXPECT_EQ(std::memcmp(copy.bytes(), patterns, sizeof patterns), 0);
    }
    assigned.bytes()[0] = 0xAA;
    EXPECT_EQ(original.bytes()[0], 0x01);  // the first pattern's low byte, unchanged
    EXPECT_EQ(PixelBuffer(PixelBuffer::fromImage(-1, PixelMode::Grey)).bytes(), nullptr);
}

}  // namespace
