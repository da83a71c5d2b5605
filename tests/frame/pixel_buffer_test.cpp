// PixelBuffer: the pixels of an image taken into memory the library owns.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "frame/pixel_buffer.h"
#include "tavoimage/test_image.h"

namespace {

using kelmo::PixelBuffer;
using kelmo::PixelMode;
using namespace kelmo_test;

TEST(PixelBuffer, NewBufferHoldsItsPixelsPlusASpareByteZeroed) {
    const std::size_t pixelBytes[] = {1, 3, 4, 4, 12, 16};
    for (int mode = 0; mode < 6; ++mode) {
        const PixelBuffer buffer(7, 5, static_cast<PixelMode>(mode));
        ASSERT_EQ(buffer.arraySize(), 7 * 5 * pixelBytes[mode] + 1) << mode;
        for (std::size_t k = 0; k < buffer.arraySize(); ++k) ASSERT_EQ(buffer.bytes()[k], 0);
    }
    EXPECT_EQ(PixelBuffer(0, 9, PixelMode::ColorAlpha).arraySize(), 1u);
    EXPECT_EQ(PixelBuffer(3, 3, static_cast<PixelMode>(9)).bytes(), nullptr);
    EXPECT_THROW(PixelBuffer(-1, 5, PixelMode::Grey), std::invalid_argument);
    EXPECT_THROW(PixelBuffer(5, -1, PixelMode::Grey), std::invalid_argument);
    const int32_t most = std::numeric_limits<int32_t>::max();
    EXPECT_THROW(PixelBuffer(most, most, PixelMode::Bytes16), std::length_error);
}

TEST(PixelBuffer, FromImageHoldsWhatTheImageGivesInThatMode) {
    const TestImage empty, flat(std::vector<uint8_t>(1), 5, 0, 3);  // 0 x 0 and 5 x 0
    for (int stored : {1, 3, 4}) {
        const TestImage image(randomBytes(std::size_t(7 * 5 * stored), uint32_t(stored)), 7, 5, stored);
        for (int mode = 0; mode < 6; ++mode) {
            const PixelBuffer buffer = PixelBuffer::fromImage(image, static_cast<PixelMode>(mode));
            EXPECT_EQ(buffer.width, 7);
            EXPECT_EQ(buffer.height, 5);
            EXPECT_EQ(buffer.mode, static_cast<PixelMode>(mode));
            if (mode > 2) {  // only the imaging modes make an array
                EXPECT_EQ(buffer.bytes(), nullptr) << mode;
                continue;
            }
            const std::vector<uint8_t> expected = image.pixels(mode == 0 ? 1 : mode == 1 ? 3 : 4);
            ASSERT_EQ(buffer.arraySize(), expected.size() + 1);
            EXPECT_EQ(std::memcmp(buffer.bytes(), expected.data(), expected.size()), 0) << stored << " as " << mode;
        }
    }
    for (const TestImage *image : {&empty, &flat}) {
        const PixelBuffer buffer = PixelBuffer::fromImage(*image, PixelMode::Color);
        EXPECT_EQ(buffer.width, image->width());
        EXPECT_EQ(buffer.arraySize(), 1u);
    }
    // -1 (no image), freed and unknown handles give an empty buffer.
    const ImageHandle freed = TestImage().handle;
    for (const ImageHandle handle : {-1, freed, 123456, std::numeric_limits<int32_t>::min()}) {
        const PixelBuffer buffer = PixelBuffer::fromImage(handle, PixelMode::ColorAlpha);
        EXPECT_EQ(buffer.width + buffer.height, 0) << handle;
        EXPECT_EQ(buffer.bytes(), nullptr) << handle;
    }
}

TEST(PixelBuffer, CopiesAreDeepAndBitForBit) {
    // Depth floats of every kind, NaNs with payloads and -0 included.
    const uint32_t patterns[] = {0x7fc00001u, 0x7f800001u, 0xffc12345u, 0x80000000u, 0x00000000u, 0x7f800000u,
                                 0xff800000u, 0x00000001u, 0x3f800000u, 0xc2f6e979u, 0x7fffffffu, 0xff800abcu};
    PixelBuffer original(4, 3, PixelMode::Depth);
    std::memcpy(original.bytes(), patterns, sizeof patterns);
    PixelBuffer assigned(1, 1, PixelMode::Grey);
    assigned = original;
    for (const PixelBuffer &copy : {PixelBuffer(original), assigned}) {
        EXPECT_EQ(copy.width, 4);
        EXPECT_EQ(copy.height, 3);
        EXPECT_EQ(copy.mode, PixelMode::Depth);
        ASSERT_EQ(copy.arraySize(), original.arraySize());
        EXPECT_NE(copy.bytes(), original.bytes());
        EXPECT_EQ(std::memcmp(copy.bytes(), patterns, sizeof patterns), 0);
    }
    assigned.bytes()[0] = 0xAA;
    EXPECT_EQ(original.bytes()[0], 0x01);  // the first pattern's low byte, unchanged
    assigned = assigned;
    EXPECT_EQ(assigned.bytes()[0], 0xAA);
    EXPECT_EQ(PixelBuffer(PixelBuffer::fromImage(-1, PixelMode::Grey)).bytes(), nullptr);
}

}  // namespace
