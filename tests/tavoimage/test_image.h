// Images of the imaging library for tests: made from pixel vectors, read back
// in any mode, freed with their scope. Including this header also registers a
// check that the test program leaves the image table as it found it (under
// CTest every test runs in a process of its own, so it guards each test).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tavoimage.h"

namespace kelmo_test {

inline TAVO_IMAGEMODE modeOf(int channels) {
    return channels == 1 ? TAVO_IMAGEMODE_GREY : channels == 3 ? TAVO_IMAGEMODE_COLOR : TAVO_IMAGEMODE_COLOR_ALPHA;
}

// Deterministic pseudo-random bytes (a linear congruential generator).
inline std::vector<uint8_t> randomBytes(std::size_t count, uint32_t seed) {
    std::vector<uint8_t> bytes(count);
    uint32_t state = seed * 2654435761u + 1u;
    for (auto &byte : bytes) byte = static_cast<uint8_t>((state = state * 1664525u + 1013904223u) >> 24);
    return bytes;
}

class TestImage {
public:
    TestImage() { EXPECT_EQ(TAVO_CreateEmptyImage(&handle), TAVOIMG_OK); }
    // Packed rows of `channels` (1, 3 or 4) bytes per pixel.
    TestImage(const std::vector<uint8_t> &pixels, int width, int height, int channels) {
        EXPECT_EQ(TAVO_LoadImageFromBuffer(&handle, pixels.data(), width, height, width * channels, modeOf(channels)),
                  TAVOIMG_OK);
    }
    explicit TestImage(ImageHandle adopted) : handle(adopted) {}
    ~TestImage() { TAVO_FreeImage(handle); }
    TestImage(const TestImage &) = delete;
    TestImage &operator=(const TestImage &) = delete;
    operator ImageHandle() const { return handle; }

    int32_t width() const {
        int32_t value = -1;
        TAVO_GetImageWidth(handle, &value);
        return value;
    }
    int32_t height() const {
        int32_t value = -1;
        TAVO_GetImageHeight(handle, &value);
        return value;
    }
    std::vector<uint8_t> pixels(int channels) const {
        int32_t size = 0;
        if (TAVO_GetImageBufferSize(handle, &size, modeOf(channels)) != TAVOIMG_OK) return {};
        std::vector<uint8_t> bytes(static_cast<std::size_t>(size));
        EXPECT_EQ(TAVO_SaveImageToBuffer(handle, bytes.data(), modeOf(channels)), TAVOIMG_OK);
        return bytes;
    }

    ImageHandle handle = -1;
};

// Images alive in the table. Handles are slot indices, so probing the first
// 2^16 finds every image a test can have made.
inline int liveImageCount() {
    int count = 0;
    int32_t width = 0;
    for (ImageHandle handle = 0; handle < (1 << 16); ++handle) count += TAVO_GetImageWidth(handle, &width) == 0;
    return count;
}

class LiveImageCheck : public ::testing::Environment {
    int before_ = 0;
    void SetUp() override { before_ = liveImageCount(); }
    void TearDown() override { EXPECT_EQ(liveImageCount(), before_) << "images were left in the table"; }
};

inline ::testing::Environment *const liveImageCheck = ::testing::AddGlobalTestEnvironment(new LiveImageCheck);

}  // namespace kelmo_test
