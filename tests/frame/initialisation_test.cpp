// Initialisation and finalisation of the library's process-wide state from a
// synthetic data directory, written once per test program.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>

#include "frame/library_state.h"
#include "kelmo.h"
#include "support/synthetic_data.h"
#include "tavoimage/test_image.h"

namespace kelmo {
namespace {

using kelmo_test::liveImageCount;

class Initialisation : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        directory_ = new std::string(testing::writeSyntheticDataDirectory(testing::makeTemporaryDirectory("init")));
    }
    static void TearDownTestSuite() {
        std::filesystem::remove_all(*directory_);
        delete directory_;
    }
    // A failed initialisation still makes the four expression meshes, each
    // with its texture image: make them first, so that a test's image count
    // compares like with like.
    void SetUp() override { ASSERT_EQ(TAVO_InitKelmo("/nonexistent-kelmo-data/"), TAVOIMG_ERR_OPEN); }
    void TearDown() override {
        EXPECT_EQ(TAVO_FinalizeKelmo(), TAVO_OK);
        LibraryState &state = libraryState();
        for (ImageHandle *image : {&state.alphaMaskImage, &state.lowerTeethImage, &state.upperTeethImage, &state.sockImage}) {
            TAVO_FreeImage(*image);
            *image = -1;
        }
        EXPECT_TRUE(state.models.empty());
    }
    static bool imageIsLive(ImageHandle image) {
        int32_t width = 0;
        return TAVO_GetImageWidth(image, &width) == TAVOIMG_OK;
    }
    static std::string *directory_;
};

std::string *Initialisation::directory_ = nullptr;

TEST_F(Initialisation, CompleteDirectoryLoadsEverythingAndASecondReplacesTheSharedImages) {
    auto hole = std::make_unique<kelmo_test::TestImage>();  // freed below, so that new handles differ from old
    ASSERT_EQ(TAVO_InitKelmo(directory_->c_str()), TAVO_OK);
    const LibraryState &state = libraryState();
    EXPECT_EQ(state.dataDirectory, *directory_);
    // The mask is reduced to a 256 x 256 face frame; the grid's first two
    // points (the eyes) are level in the synthetic data and stay so.
    int32_t width = 0;
    ASSERT_EQ(TAVO_GetImageWidth(state.alphaMaskImage, &width), TAVOIMG_OK);
    EXPECT_EQ(width, 256);
    EXPECT_EQ(state.alphaGrid[0].y, state.alphaGrid[1].y);
    EXPECT_LT(state.alphaGrid[0].x, state.alphaGrid[1].x);
    for (const IntPoint &point : state.alphaGrid) EXPECT_TRUE(point.x >= 0 && point.x < 256 && point.y >= 0 && point.y < 256);
    EXPECT_TRUE(imageIsLive(state.lowerTeethImage) && imageIsLive(state.upperTeethImage) && imageIsLive(state.sockImage));
    ASSERT_EQ(state.landmarkTable.size(), 66u);
    EXPECT_EQ(state.landmarkTable[2], 12);
    ASSERT_EQ(state.list7Table.size(), 38u);
    EXPECT_EQ(state.list7Table[37], 50);
    for (const auto &mesh : state.expressionMeshes) ASSERT_EQ(mesh->regions.size(), 5u);
    EXPECT_EQ(state.sqrtTable[(1 << 21) - 1], std::sqrt(static_cast<float>((1 << 21) - 1)));

    int32_t handle = -1;
    ASSERT_EQ(TAVO_InitModel(&handle, 0), TAVO_OK);
    hole.reset();
    const ImageHandle oldSock = state.sockImage;
    const int live = liveImageCount();
    ASSERT_EQ(TAVO_InitKelmo(directory_->c_str()), TAVO_OK);
    // The first set was released; the live model refers to the new one.
    EXPECT_EQ(liveImageCount(), live);
    ASSERT_NE(state.sockImage, oldSock);
    const TModel &model = *state.models[static_cast<std::size_t>(handle)];
    EXPECT_EQ(model.lowerTeethImage, state.lowerTeethImage);
    EXPECT_EQ(model.upperTeethImage, state.upperTeethImage);
    EXPECT_EQ(model.sockImage, state.sockImage);
    EXPECT_TRUE(imageIsLive(model.sockImage));
}

TEST_F(Initialisation, EachMissingItemFailsWithItsStatusAndReleasesWhatWasLoaded) {
    const struct {
        const char *file;
        int32_t expected;
    } cases[] = {{"alpha.png", TAVOIMG_ERR_OPEN},        {"alpha.grd", TAVO_ERR_ALPHA_GRID},
                 {"wrl/Head_teethLower.png", TAVOIMG_ERR_OPEN}, {"wrl/Head_teethUpper.png", TAVOIMG_ERR_OPEN},
                 {"wrl/head_sock.bmp", TAVOIMG_ERR_OPEN},  {"grd66.txt", TAVO_ERR_GENERAL},
                 {"list7.txt", TAVO_ERR_LIST7},            {"OpenNeutral.face", TAVO_OK},
                 {"sqrt.dat", TAVO_OK}};
    LibraryState &state = libraryState();
    for (const auto &c : cases) {
        const std::string path = *directory_ + c.file;
        std::filesystem::rename(path, path + ".away");
        state.sqrtTable[4] = 123.0f;
        const int live = liveImageCount() + (c.expected == TAVO_OK ? 4 : 0);  // a success loads 4 shared images
        EXPECT_EQ(TAVO_InitKelmo(directory_->c_str()), c.expected) << c.file;
        std::filesystem::rename(path + ".away", path);
        EXPECT_EQ(liveImageCount(), live) << c.file;
        if (c.expected == TAVO_OK) {
            EXPECT_EQ(state.expressionMeshes[1]->regions.empty(), c.file == std::string("OpenNeutral.face"));
            EXPECT_EQ(state.sqrtTable[4], c.file == std::string("sqrt.dat") ? 123.0f : 2.0f);
            TearDown();
            SetUp();
            continue;
        }
        for (ImageHandle image : {state.alphaMaskImage, state.lowerTeethImage, state.upperTeethImage, state.sockImage}) {
            EXPECT_EQ(image, -1) << c.file;
        }
        EXPECT_TRUE(state.dataDirectory.empty()) << c.file;
    }
    std::string noSeparator = *directory_;
    noSeparator.pop_back();  // the file names are appended as they are
    EXPECT_EQ(TAVO_InitKelmo(noSeparator.c_str()), TAVOIMG_ERR_OPEN);
    EXPECT_EQ(TAVO_InitKelmo(nullptr), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_InitKelmo(std::string(1024, 'a').c_str()), TAVO_ERR_GENERAL);  // the buffer holds 1023 characters
    EXPECT_EQ(TAVO_InitKelmo(std::string(1023, 'a').c_str()), TAVOIMG_ERR_OPEN);
}

TEST_F(Initialisation, FinalisationEmptiesTheModelTableWithGapsAndMayBeRepeated) {
    ASSERT_EQ(TAVO_InitKelmo(directory_->c_str()), TAVO_OK);
    for (int k = 0; k < 6; ++k) {
        int32_t handle = -1;
        ASSERT_EQ(TAVO_InitModel(&handle, 0), TAVO_OK);
        ASSERT_EQ(handle, k);
    }
    for (int32_t freed : {1, 3, 4}) ASSERT_EQ(TAVO_FreeModel(freed), TAVO_OK);
    EXPECT_EQ(TAVO_FinalizeKelmo(), TAVO_OK);
    EXPECT_TRUE(libraryState().models.empty());
    for (const auto &mesh : libraryState().expressionMeshes) EXPECT_EQ(mesh, nullptr);
    EXPECT_EQ(TAVO_FreeModel(0), TAVO_ERR_INVALID_HANDLE);
    EXPECT_EQ(TAVO_FinalizeKelmo(), TAVO_OK);
    int32_t handle = -1;
    ASSERT_EQ(TAVO_InitModel(&handle, 0), TAVO_OK);
    EXPECT_EQ(handle, 0);
}

}  // namespace
}  // namespace kelmo
