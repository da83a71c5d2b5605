// Golden images of the rendering tests: a rendered image compared bit for bit
// with a PNG stored in tests/data/golden, so that any change of the
// rasteriser's output (Part 4.2) shows. Running a test with
// KELMO_UPDATE_GOLDENS=1 rewrites its goldens from what it rendered; look at
// them before committing.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tavoimage.h"

namespace kelmo::render_test {

// The pixels of an image in mode 2 (four bytes per pixel, rows top first).
inline std::vector<uint8_t> pixelsOf(ImageHandle image) {
    int32_t size = 0;
    EXPECT_EQ(TAVO_GetImageBufferSize(image, &size, TAVO_IMAGEMODE_COLOR_ALPHA), TAVOIMG_OK);
    std::vector<uint8_t> pixels(static_cast<std::size_t>(size));
    if (size > 0) {
        EXPECT_EQ(TAVO_SaveImageToBuffer(image, pixels.data(), TAVO_IMAGEMODE_COLOR_ALPHA), TAVOIMG_OK);
    }
    return pixels;
}

// Expects `rgba` (width x height pixels in mode 2) to equal the golden image
// at `path` byte for byte; with KELMO_UPDATE_GOLDENS=1 first writes it there.
inline void expectMatchesGolden(const std::vector<uint8_t> &rgba, int32_t width, int32_t height,
                                const std::string &path) {
    ImageHandle image = -1;
    ASSERT_EQ(TAVO_LoadImageFromBuffer(&image, rgba.data(), width, height, 4 * width, TAVO_IMAGEMODE_COLOR_ALPHA),
              TAVOIMG_OK);
    const char *update = std::getenv("KELMO_UPDATE_GOLDENS");
    if (update != nullptr && std::string(update) == "1") {
        ASSERT_EQ(TAVO_SaveImageToFile(image, path.c_str()), TAVOIMG_OK) << path;
    }
    TAVO_FreeImage(image);
    ImageHandle golden = -1;
    ASSERT_EQ(TAVO_LoadImageFromFileWithAlpha(&golden, path.c_str()), TAVOIMG_OK)
        << path << " is missing: run with KELMO_UPDATE_GOLDENS=1 to make it";
    const std::vector<uint8_t> expected = pixelsOf(golden);
    TAVO_FreeImage(golden);
    ASSERT_EQ(expected.size(), rgba.size()) << path;
    std::size_t differing = 0;
    for (std::size_t k = 0; k < expected.size(); ++k) differing += expected[k] != rgba[k];
    EXPECT_EQ(differing, 0u) << path << ": bytes differ from the golden image";
}

}  // namespace kelmo::render_test
