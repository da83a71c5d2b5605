// Helpers shared by the tavoimage tests: images from pixel vectors, pixels
// back out of images, patterns, and a private temporary directory.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tavoimage.h"

namespace tavoimage_test {

inline TAVO_IMAGEMODE modeOfChannels(int channels) {
    return channels == 1 ? TAVO_IMAGEMODE_GREY : channels == 3 ? TAVO_IMAGEMODE_COLOR : TAVO_IMAGEMODE_COLOR_ALPHA;
}

// An image holding packed pixels of 1, 3 or 4 channels; -1 on failure.
inline ImageHandle makeImage(const std::vector<uint8_t> &pixels, int width, int height, int channels) {
    ImageHandle handle = -1;
    EXPECT_EQ(TAVO_LoadImageFromBuffer(&handle, pixels.data(), width, height, width * channels,
                                       modeOfChannels(channels)),
              TAVOIMG_OK);
    return handle;
}

inline ImageHandle makeEmptyImage() {
    ImageHandle handle = -1;
    EXPECT_EQ(TAVO_CreateEmptyImage(&handle), TAVOIMG_OK);
    return handle;
}

// The image's pixels in the given mode.
inline std::vector<uint8_t> pixelsOf(ImageHandle image, TAVO_IMAGEMODE mode) {
    int32_t size = -1;
    EXPECT_EQ(TAVO_GetImageBufferSize(image, &size, mode), TAVOIMG_OK);
    std::vector<uint8_t> pixels(static_cast<std::size_t>(size > 0 ? size : 0));
    EXPECT_EQ(TAVO_SaveImageToBuffer(image, pixels.data(), mode), TAVOIMG_OK);
    return pixels;
}

inline int32_t widthOf(ImageHandle image) {
    int32_t value = -1;
    EXPECT_EQ(TAVO_GetImageWidth(image, &value), TAVOIMG_OK);
    return value;
}

inline int32_t heightOf(ImageHandle image) {
    int32_t value = -1;
    EXPECT_EQ(TAVO_GetImageHeight(image, &value), TAVOIMG_OK);
    return value;
}

// Deterministic pseudo-random bytes (a linear congruential generator).
inline std::vector<uint8_t> randomPixels(std::size_t count, uint32_t seed) {
    std::vector<uint8_t> bytes(count);
    uint32_t state = seed * 2654435761u + 1u;
    for (auto &byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

// A smooth picture (gradients), which lossy coding keeps closely.
inline std::vector<uint8_t> smoothPixels(int width, int height, int channels) {
    std::vector<uint8_t> pixels(static_cast<std::size_t>(width * height * channels));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c) {
                const int value = (c == 0)   ? 40 + 3 * x
                                  : (c == 1) ? 30 + 2 * y
                                  : (c == 2) ? 200 - x - y
                                             : 60 + x + y;  // alpha
                pixels[static_cast<std::size_t>((y * width + x) * channels + c)] = static_cast<uint8_t>(value);
            }
        }
    }
    return pixels;
}

inline std::vector<uint8_t> readFileBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFileBytes(const std::string &path, const std::vector<uint8_t> &bytes, std::size_t count) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(count));
}

inline void writeFileBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    writeFileBytes(path, bytes, bytes.size());
}

// A directory of its own per test (tests run in parallel), removed at the end.
class TempDirectory {
public:
    TempDirectory() {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "tavoimage_" + std::to_string(::getpid()) + "_";
        if (info != nullptr) name += std::string(info->test_suite_name()) + "_" + info->name();
        path_ = std::filesystem::path(::testing::TempDir()) / name;
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDirectory(const TempDirectory &) = delete;
    TempDirectory &operator=(const TempDirectory &) = delete;

    std::string file(const std::string &name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace tavoimage_test
