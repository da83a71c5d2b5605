// A check, once per test program, that its tests leave the image and model
// tables as they found them: a leaked or wrongly freed image or model fails it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "frame/library_state.h"

namespace kelmo::test {

class TablesUnchanged : public ::testing::Environment {
public:
    static std::pair<int, int> liveImagesAndModels() {
        int images = 0, width = 0;
        for (ImageHandle handle = 0; handle < 20000; ++handle) images += TAVO_GetImageWidth(handle, &width) == 0;
        return {images, static_cast<int>(std::count_if(libraryState().models.begin(), libraryState().models.end(),
                                                       [](const auto &slot) { return slot != nullptr; }))};
    }
    void SetUp() override { start_ = liveImagesAndModels(); }
    void TearDown() override { EXPECT_EQ(liveImagesAndModels(), start_) << "images, models left or freed"; }

private:
    std::pair<int, int> start_;
};

}  // namespace kelmo::test
