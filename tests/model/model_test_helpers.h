// Helpers of the model and fitting tests, and the check, once per program, that its tests leave
// the image and model tables as they found them (a leaked or wrongly freed one fails it).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "frame/library_state.h"

namespace kelmo::test {

inline int32_t newModel(int32_t disableMask = 0) {
    int32_t handle = -1;
    EXPECT_EQ(TAVO_InitModel(&handle, disableMask), TAVO_OK);
    return handle;
}

inline std::vector<uint8_t> pixelsOf(ImageHandle image, TAVO_IMAGEMODE mode = TAVO_IMAGEMODE_COLOR) {
    int32_t size = 0;
    TAVO_GetImageBufferSize(image, &size, mode);
    std::vector<uint8_t> pixels(static_cast<std::size_t>(size));
    EXPECT_EQ(TAVO_SaveImageToBuffer(image, pixels.data(), mode), TAVOIMG_OK);
    return pixels;
}

struct TablesUnchanged : ::testing::Environment {
    static std::pair<int, long> liveImagesAndModels() {
        int images = 0, width = 0;
        for (ImageHandle handle = 0; handle < 20000; ++handle) images += TAVO_GetImageWidth(handle, &width) == 0;
        const auto &models = libraryState().models;
        return {images, std::count_if(models.begin(), models.end(), [](const auto &m) { return m != nullptr; })};
    }
    void SetUp() override { start = liveImagesAndModels(); }
    void TearDown() override { EXPECT_EQ(liveImagesAndModels(), start) << "images, models left or freed"; }
    std::pair<int, long> start;
};

}  // namespace kelmo::test
