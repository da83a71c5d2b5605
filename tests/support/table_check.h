// Included once by a test program: when its tests have run, no model and no
// image may be left (ctest runs each test in a process of its own, so each
// test is checked on its own there).
#pragma once

#include <gtest/gtest.h>

#include "frame/library_state.h"
#include "tavoimage.h"

namespace kelmo::testing {

struct TablesLeftEmpty : ::testing::Environment {
    void TearDown() override {
        for (const auto &model : libraryState().models) EXPECT_EQ(model, nullptr) << "a model was left in the table";
        // Images take the lowest free handle, so live ones sit at the bottom.
        int32_t width = 0;
        for (ImageHandle handle = 0; handle < 4096; ++handle)
            EXPECT_NE(TAVO_GetImageWidth(handle, &width), TAVOIMG_OK) << "image " << handle << " was left";
    }
};

inline ::testing::Environment *const tablesLeftEmpty = ::testing::AddGlobalTestEnvironment(new TablesLeftEmpty);

}  // namespace kelmo::testing
