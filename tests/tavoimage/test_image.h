// Images of the imaging library for tests: made from pixel vectors, read back
// in any mode, freed with their scope. Including this header also registers a
// check that the test program leaves the image table as it found it (under
// CTest every test runs in a process of its own, so it guards each test).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
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

// Width and height of an image; -1 for an invalid handle.
inline std::pair<int32_t, int32_t> imageSize(ImageHandle image) {
    int32_t width = -1, height = -1;
    TAVO_GetImageWidth(image, &width);
    TAVO_GetImageHeight(image, &height);
    return {width, height};
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

    std::pair<int32_t, int32_t> size() const { return imageSize(handle); }
    int32_t width() const { return size().first; }
    int32_t height() const { return size().second; }
    std::vector<uint8_t> pixels(int channels) const {
        int32_t count = 0;
        if (TAVO_GetImageBufferSize(handle, &count, modeOf(channels)) != TAVOIMG_OK) return {};
        std::vector<uint8_t> bytes(static_cast<std::size_t>(count));
        EXPECT_EQ(TAVO_SaveImageToBuffer(handle, bytes.data(), modeOf(channels)), TAVOIMG_OK);
        return bytes;
    }

    ImageHandle handle = -1;
};

inline bool imageIsLive(ImageHandle handle) { return imageSize(handle).first >= 0; }

// Images alive in the table. Handles are slot indices, so probing the first
// 2^16 finds every image a test can have made.
inline int liveImageCount() {
    int count = 0;
    for (ImageHandle handle = 0; handle < (1 << 16); ++handle) count += imageIsLive(handle);
    return count;
}

class LiveImageCheck : public ::testing::Environment {
    int before_ = 0;
    void SetUp() override { before_ = liveImageCount(); }
    void TearDown() override { EXPECT_EQ(liveImageCount(), before_) << "images were left in the table"; }
};

inline ::testing::Environment *const liveImageCheck = ::testing::AddGlobalTestEnvironment(new LiveImageCheck);

}  // namespace kelmo_test
