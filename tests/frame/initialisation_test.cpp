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

using kelmo_test::imageIsLive;
using kelmo_test::liveImageCount;

const std::string &dataDirectory() {
    static const struct Directory {
        std::string path = testing::writeSyntheticDataDirectory(testing::makeTemporaryDirectory("init"));
        ~Directory() { std::filesystem::remove_all(path); }
    } directory;
    return directory.path;
}

class Initialisation : public ::testing::Test {
protected:
    // A failed initialisation still makes the four expression meshes, each
    // with its texture image: made first, a test's image counts compare like
    // with like.
    void SetUp() override { ASSERT_EQ(TAVO_InitKelmo("/nonexistent-kelmo-data/"), TAVOIMG_ERR_OPEN); }
    void TearDown() override {  // finalisation destroys every model and mesh, and may be repeated
        EXPECT_EQ(TAVO_FinalizeKelmo() + TAVO_FinalizeKelmo(), TAVO_OK);
        for (const auto &mesh : state.expressionMeshes) EXPECT_EQ(mesh, nullptr);
        for (ImageHandle *image : {&state.alphaMaskImage, &state.lowerTeethImage, &state.upperTeethImage, &state.sockImage}) {
            TAVO_FreeImage(*image);
            *image = -1;
        }
        EXPECT_TRUE(state.models.empty());
    }
    LibraryState &state = libraryState();
};

TEST_F(Initialisation, CompleteDirectoryLoadsEverythingAndASecondReplacesTheSharedImages) {
    auto hole = std::make_unique<kelmo_test::TestImage>();  // freed below, so that new handles differ from old
    ASSERT_EQ(TAVO_InitKelmo(dataDirectory().c_str()), TAVO_OK);
    EXPECT_EQ(state.dataDirectory, dataDirectory());
    // The mask becomes a 256 x 256 face frame; the grid's first two points
    // (the eyes) are level in the synthetic data and stay so.
    EXPECT_EQ(kelmo_test::imageSize(state.alphaMaskImage), std::pair(256, 256));
    EXPECT_EQ(state.alphaGrid[0].y, state.alphaGrid[1].y);
    EXPECT_LT(state.alphaGrid[0].x, state.alphaGrid[1].x);
    for (const IntPoint &point : state.alphaGrid) EXPECT_TRUE(point.x >= 0 && point.x < 256 && point.y >= 0 && point.y < 256);
    EXPECT_TRUE(imageIsLive(state.lowerTeethImage) && imageIsLive(state.upperTeethImage) && imageIsLive(state.sockImage));
    ASSERT_EQ(state.landmarkTable.size(), 66u);
    ASSERT_EQ(state.list7Table.size(), 38u);
    EXPECT_EQ(std::pair(state.landmarkTable[2], state.list7Table[37]), std::pair(12, 50));
    for (const auto &mesh : state.expressionMeshes) EXPECT_EQ(mesh->regions.size(), 5u);
    EXPECT_EQ(state.sqrtTable[(1 << 21) - 1], std::sqrt(float((1 << 21) - 1)));

    int32_t handle = -1;
    ASSERT_EQ(TAVO_InitModel(&handle, 0), TAVO_OK);
    hole.reset();
    const ImageHandle oldSock = state.sockImage;
    const int live = liveImageCount();
    ASSERT_EQ(TAVO_InitKelmo(dataDirectory().c_str()), TAVO_OK);
    // The first set was released; the live model refers to the new one.
    EXPECT_EQ(liveImageCount(), live);
    ASSERT_NE(state.sockImage, oldSock);
    const TModel &model = *state.models[std::size_t(handle)];
    EXPECT_EQ(model.lowerTeethImage, state.lowerTeethImage);
    EXPECT_EQ(model.upperTeethImage, state.upperTeethImage);
    EXPECT_EQ(model.sockImage, state.sockImage);
}

TEST_F(Initialisation, EachMissingItemFailsWithItsStatusAndReleasesWhatWasLoaded) {
    const std::pair<std::string, int32_t> cases[] = {
        {"alpha.png", TAVOIMG_ERR_OPEN},         {"alpha.grd", TAVO_ERR_ALPHA_GRID}, {"wrl/Head_teethLower.png", TAVOIMG_ERR_OPEN},
        {"wrl/Head_teethUpper.png", TAVOIMG_ERR_OPEN}, {"wrl/head_sock.bmp", TAVOIMG_ERR_OPEN}, {"grd66.txt", TAVO_ERR_GENERAL},
        {"list7.txt", TAVO_ERR_LIST7},           {"OpenNeutral.face", TAVO_OK},       {"sqrt.dat", TAVO_OK}};
    for (const auto &[file, expected] : cases) {
        const std::string path = dataDirectory() + file;
        std::filesystem::rename(path, path + ".away");
        state.sqrtTable[4] = 123.0f;  // no longer the roots
        state.sqrtTableHoldsRoots = false;
        const int live = liveImageCount() + (expected == TAVO_OK ? 4 : 0);  // a success loads 4 shared images
        EXPECT_EQ(TAVO_InitKelmo(dataDirectory().c_str()), expected) << file;
        std::filesystem::rename(path + ".away", path);
        EXPECT_EQ(liveImageCount(), live) << file;
        if (expected == TAVO_OK) {  // a face file or the square roots missing: that mesh or the table as it was
            EXPECT_EQ(state.expressionMeshes[1]->regions.empty(), file == "OpenNeutral.face");
            EXPECT_EQ(state.sqrtTable[4], file == "sqrt.dat" ? 123.0f : 2.0f);
            TearDown();
            SetUp();
            continue;
        }
        for (ImageHandle image : {state.alphaMaskImage, state.lowerTeethImage, state.upperTeethImage, state.sockImage}) {
            EXPECT_EQ(image, -1) << file;
        }
        EXPECT_TRUE(state.dataDirectory.empty()) << file;
    }
    const std::string noSeparator = dataDirectory().substr(0, dataDirectory().size() - 1);  // names are appended as they are
    EXPECT_EQ(TAVO_InitKelmo(noSeparator.c_str()), TAVOIMG_ERR_OPEN);
    EXPECT_EQ(TAVO_InitKelmo(nullptr), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_InitKelmo(std::string(1024, 'a').c_str()), TAVO_ERR_GENERAL);  // the buffer holds 1023 characters
    EXPECT_EQ(TAVO_InitKelmo(std::string(1023, 'a').c_str()), TAVOIMG_ERR_OPEN);
}

}  // namespace
}  // namespace kelmo
