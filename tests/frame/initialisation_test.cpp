// Part 1.1: library state and initialisation.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "frame/library_state.h"
#include "kelmo.h"
#include "support/synthetic_data.h"

namespace kelmo {
namespace {

using testing::SyntheticDataFiles;
using testing::makeTemporaryDirectory;
using testing::writeSyntheticDataDirectory;

// The handle the imaging library hands out next (lowest free slot): after a
// failed initialisation it must be the same as before it, since everything
// that was loaded has been released again.
ImageHandle nextImageHandle() {
    ImageHandle image = -1;
    TAVO_CreateEmptyImage(&image);
    TAVO_FreeImage(image);
    return image;
}

class Initialisation : public ::testing::Test {
protected:
    // Every test starts with no shared images loaded, so that the image
    // handles a test counts are its own.
    void SetUp() override {
        LibraryState &state = libraryState();
        for (ImageHandle *image :
             {&state.alphaMaskImage, &state.lowerTeethImage, &state.upperTeethImage, &state.sockImage}) {
            if (*image >= 0) TAVO_FreeImage(*image);
            *image = -1;
        }
        // The four expression meshes (each with its empty texture image)
        // exist from step 1 on, also after a failure: make them here.
        ASSERT_EQ(TAVO_InitKelmo("/nonexistent-kelmo-data/"), TAVOIMG_ERR_OPEN);
    }
    void TearDown() override {
        TAVO_FinalizeKelmo();
    }
};

TEST_F(Initialisation, CompleteDataDirectoryLoadsEveryItem) {
    const std::string dir = writeSyntheticDataDirectory(makeTemporaryDirectory("init_complete"));
    ASSERT_EQ(TAVO_InitKelmo(dir.c_str()), TAVO_OK);
    const LibraryState &state = libraryState();
    EXPECT_EQ(state.dataDirectory, dir);

    // Part 4.3: the mask is reduced to a 256 x 256 grey frame.
    int32_t width = 0, height = 0;
    ASSERT_EQ(TAVO_GetImageWidth(state.alphaMaskImage, &width), 0);
    ASSERT_EQ(TAVO_GetImageHeight(state.alphaMaskImage, &height), 0);
    EXPECT_EQ(width, 256);
    EXPECT_EQ(height, 256);
    // Part 3.2: points 0 and 1 of the synthetic grid are level, so they stay
    // level in the frame and keep their order.
    EXPECT_EQ(state.alphaGrid[0].y, state.alphaGrid[1].y);
    EXPECT_LT(state.alphaGrid[0].x, state.alphaGrid[1].x);
    for (const IntPoint &point : state.alphaGrid) {
        EXPECT_GE(point.x, 0);
        EXPECT_LT(point.x, 256);
        EXPECT_GE(point.y, 0);
        EXPECT_LT(point.y, 256);
    }

    for (ImageHandle image : {state.lowerTeethImage, state.upperTeethImage, state.sockImage}) {
        EXPECT_EQ(TAVO_GetImageWidth(image, &width), 0);
    }
    ASSERT_EQ(state.landmarkTable.size(), 66u);
    EXPECT_EQ(state.landmarkTable[2], 12);
    EXPECT_EQ(state.landmarkTable[29], 0);
    ASSERT_EQ(state.list7Table.size(), 38u);
    EXPECT_EQ(state.list7Table[0], 13);
    EXPECT_EQ(state.list7Table[37], 50);
    for (int i = 0; i < 4; ++i) {
        ASSERT_NE(state.expressionMeshes[i], nullptr);
        ASSERT_EQ(state.expressionMeshes[i]->regions.size(), 5u);
        EXPECT_EQ(state.expressionMeshes[i]->regions[0].vertices.size(), 144u);
    }
    // Part 6.1: the square-root table is loaded (entry i is sqrt(i)).
    EXPECT_EQ(state.sqrtTable[4], 2.0f);
    EXPECT_EQ(state.sqrtTable[(1 << 21) - 1], std::sqrt(static_cast<float>((1 << 21) - 1)));
}

TEST_F(Initialisation, ModelsReceiveTheSharedImageHandles) {
    const std::string dir = writeSyntheticDataDirectory(makeTemporaryDirectory("init_models"));
    ASSERT_EQ(TAVO_InitKelmo(dir.c_str()), TAVO_OK);
    int32_t handle = -1;
    ASSERT_EQ(TAVO_InitModel(&handle, 0), 0);
    // The model holds copies of the shared handles (Part 2.2, step 5).
    const LibraryState &state = libraryState();
    const TModel &model = *state.models[static_cast<std::size_t>(handle)];
    EXPECT_EQ(model.lowerTeethImage, state.lowerTeethImage);
    EXPECT_EQ(model.upperTeethImage, state.upperTeethImage);
    EXPECT_EQ(model.sockImage, state.sockImage);
}

TEST_F(Initialisation, DirectoryWithoutTrailingSeparatorFailsAtTheFirstLoad) {
    std::string dir = writeSyntheticDataDirectory(makeTemporaryDirectory("init_noslash"));
    dir.pop_back();  // "…/init_noslash_N" + "alpha.png" names no file
    const ImageHandle before = nextImageHandle();
    EXPECT_EQ(TAVO_InitKelmo(dir.c_str()), TAVOIMG_ERR_OPEN);
    EXPECT_EQ(nextImageHandle(), before);
}

TEST_F(Initialisation, MissingAlphaGridReturnsMinus10AndLoadsNoTeethSockOrTables) {
    SyntheticDataFiles files;
    files.alphaGrd = false;
    const std::string dir = writeSyntheticDataDirectory(makeTemporaryDirectory("init_nogrd"), files);
    libraryState().landmarkTable.clear();
    libraryState().list7Table.clear();
    const ImageHandle before = nextImageHandle();
    EXPECT_EQ(TAVO_InitKelmo(dir.c_str()), TAVO_ERR_ALPHA_GRID);
    const LibraryState &state = libraryState();
    EXPECT_EQ(state.lowerTeethImage, -1);
    EXPECT_EQ(state.upperTeethImage, -1);
    EXPECT_EQ(state.sockImage, -1);
    EXPECT_TRUE(state.landmarkTable.empty());
    EXPECT_TRUE(state.list7Table.empty());
    // The alpha mask image that did load is released too (no leak).
    EXPECT_EQ(state.alphaMaskImage, -1);
    EXPECT_EQ(nextImageHandle(), before);
}

TEST_F(Initialisation, MissingAlphaImageReturnsTheImagingStatus) {
    SyntheticDataFiles files;
    files.alphaPng = false;
    const std::string dir = writeSyntheticDataDirectory(makeTemporaryDirectory("init_nopng"), files);
    EXPECT_EQ(TAVO_InitKelmo(dir.c_str()), TAVOIMG_ERR_OPEN);
}

TEST_F(Initialisation, EachMissingImageReturnsTheImagingStatusAndReleasesEarlierImages) {
    for (int missing = 0; missing < 3; ++missing) {
        SCOPED_TRACE(missing);
        SyntheticDataFiles files;
        if (missing == 0) files.teethLower = false;
        if (missing == 1) files.teethUpper = false;
        if (missing == 2) files.sock = false;
        const std::string dir = writeSyntheticDataDirectory(makeTemporaryDirectory("init_noimage"), files);
        const ImageHandle before = nextImageHandle();
        EXPECT_EQ(TAVO_InitKelmo(dir.c_str()), TAVOIMG_ERR_OPEN);
        const LibraryState &state = libraryState();
        EXPECT_EQ(state.alphaMaskImage, -1);
        EXPECT_EQ(state.lowerTeethImage, -1);
        EXPECT_EQ(state.upperTeethImage, -1);
        EXPECT_EQ(state.sockImage, -1);
        EXPECT_EQ(nextImageHandle(), before);
    }
}

TEST_F(Initialisation, MissingLandmarkTableReturnsMinus1AndReleasesTheImages) {
    SyntheticDataFiles files;
    files.grd66 = false;
    const std::string dir = writeSyntheticDataDirectory(makeTemporaryDirectory("init_nogrd66"), files);
    const ImageHandle before = nextImageHandle();
    EXPECT_EQ(TAVO_InitKelmo(dir.c_str()), TAVO_ERR_GENERAL);
    const LibraryState &state = libraryState();
    EXPECT_EQ(state.alphaMaskImage, -1);
    EXPECT_EQ(state.lowerTeethImage, -1);
    EXPECT_EQ(state.upperTeethImage, -1);
    EXPECT_EQ(state.sockImage, -1);
    EXPECT_TRUE(state.dataDirectory.empty());
    EXPECT_EQ(nextImageHandle(), before);
}

TEST_F(Initialisation, MissingList7ReturnsMinus13) {
    SyntheticDataFiles files;
    files.list7 = false;
    const std::string dir = writeSyntheticDataDirectory(makeTemporaryDirectory("init_nolist7"), files);
    const ImageHandle before = nextImageHandle();
    EXPECT_EQ(TAVO_InitKelmo(dir.c_str()), TAVO_ERR_LIST7);
    EXPECT_EQ(nextImageHandle(), before);
}

TEST_F(Initialisation, MissingFaceFileStillReturns0) {
    SyntheticDataFiles files;
    files.faces = {true, false, true, true};
    const std::string dir = writeSyntheticDataDirectory(makeTemporaryDirectory("init_noface"), files);
    ASSERT_EQ(TAVO_InitKelmo(dir.c_str()), TAVO_OK);
    EXPECT_TRUE(libraryState().expressionMeshes[1]->regions.empty());
    EXPECT_EQ(libraryState().expressionMeshes[0]->regions.size(), 5u);
}

TEST_F(Initialisation, AllFourFaceFilesMissingStillReturns0) {
    SyntheticDataFiles files;
    files.faces = {false, false, false, false};
    const std::string dir = writeSyntheticDataDirectory(makeTemporaryDirectory("init_nofaces"), files);
    ASSERT_EQ(TAVO_InitKelmo(dir.c_str()), TAVO_OK);
    for (const auto &mesh : libraryState().expressionMeshes) {
        ASSERT_NE(mesh, nullptr);
        EXPECT_TRUE(mesh->regions.empty());
    }
}

TEST_F(Initialisation, MissingSquareRootTableStillReturns0) {
    SyntheticDataFiles files;
    files.sqrt = false;
    const std::string dir = writeSyntheticDataDirectory(makeTemporaryDirectory("init_nosqrt"), files);
    EXPECT_EQ(TAVO_InitKelmo(dir.c_str()), TAVO_OK);
}

TEST_F(Initialisation, NullOrTooLongDirectoryReturnsMinus1) {
    EXPECT_EQ(TAVO_InitKelmo(nullptr), TAVO_ERR_GENERAL);
    const std::string tooLong(1024, 'a');  // the buffer holds 1023 characters
    EXPECT_EQ(TAVO_InitKelmo(tooLong.c_str()), TAVO_ERR_GENERAL);
}

TEST_F(Initialisation, SecondInitialisationReplacesTheSharedImages) {
    const std::string dir = writeSyntheticDataDirectory(makeTemporaryDirectory("init_twice"));
    ASSERT_EQ(TAVO_InitKelmo(dir.c_str()), TAVO_OK);
    int32_t handle = -1;
    ASSERT_EQ(TAVO_InitModel(&handle, 0), 0);
    const ImageHandle before = nextImageHandle();
    ASSERT_EQ(TAVO_InitKelmo(dir.c_str()), TAVO_OK);
    // The first set was released before the second was loaded: the same
    // number of images is alive, and the model refers to the new ones.
    EXPECT_EQ(nextImageHandle(), before);
    const LibraryState &state = libraryState();
    const TModel &model = *state.models[static_cast<std::size_t>(handle)];
    EXPECT_EQ(model.lowerTeethImage, state.lowerTeethImage);
    EXPECT_EQ(model.sockImage, state.sockImage);
    int32_t width = 0;
    EXPECT_EQ(TAVO_GetImageWidth(model.upperTeethImage, &width), 0);
    EXPECT_EQ(width, 64);
}

TEST_F(Initialisation, FinalisationWithModelsAtHandles0And2And5EmptiesTheTable) {
    int32_t handles[6];
    for (int32_t &handle : handles) ASSERT_EQ(TAVO_InitModel(&handle, 0), 0);
    for (int k = 0; k < 6; ++k) ASSERT_EQ(handles[k], k);
    ASSERT_EQ(TAVO_FreeModel(1), 0);
    ASSERT_EQ(TAVO_FreeModel(3), 0);
    ASSERT_EQ(TAVO_FreeModel(4), 0);
    ASSERT_EQ(libraryState().models.size(), 6u);

    EXPECT_EQ(TAVO_FinalizeKelmo(), TAVO_OK);
    EXPECT_TRUE(libraryState().models.empty());
    EXPECT_EQ(TAVO_FreeModel(0), TAVO_ERR_INVALID_HANDLE);
    int32_t handle = -1;
    ASSERT_EQ(TAVO_InitModel(&handle, 0), 0);
    EXPECT_EQ(handle, 0);
}

TEST_F(Initialisation, FinalisationCalledTwiceReturns0BothTimes) {
    const std::string dir = writeSyntheticDataDirectory(makeTemporaryDirectory("init_final"));
    ASSERT_EQ(TAVO_InitKelmo(dir.c_str()), TAVO_OK);
    EXPECT_EQ(TAVO_FinalizeKelmo(), TAVO_OK);
    for (const auto &mesh : libraryState().expressionMeshes) EXPECT_EQ(mesh, nullptr);
    EXPECT_EQ(TAVO_FinalizeKelmo(), TAVO_OK);
}

}  // namespace
}  // namespace kelmo
