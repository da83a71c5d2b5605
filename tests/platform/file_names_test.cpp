// File names as hosts give them: UTF-8 beyond ASCII, the data directory
// joined to names that carry a backslash, with either separator at its end,
// and on Windows an absolute path with its drive letter.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "frame/library_state.h"
#include "kelmo.h"
#include "support/synthetic_data.h"
#include "tavoimage.h"

namespace {

namespace fs = std::filesystem;

std::string utf8(const fs::path &path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

fs::path fromUtf8(const std::string &text) { return fs::path(std::u8string(text.begin(), text.end())); }

// The oracle for a name is std::filesystem's own conversion of the UTF-8
// text (to UTF-16 on Windows): the file must exist under exactly that name.
TEST(FileNames, ImagesRoundTripUnderNamesBeyondAscii) {
    const fs::path folder = kelmo::testing::makeTemporaryDirectory("file_names_images");
    const std::vector<std::string> names = {"t\xC3\xAAte.png", "\xE9\xA0\xAD\xE9\x83\xA8.bmp",
                                            "\xF0\x9F\x99\x82 face.png"};
    const std::vector<uint8_t> pixels = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        const std::string path = utf8(folder) + "/" + name;
        ImageHandle image = -1, loaded = -1;
        ASSERT_EQ(TAVO_LoadImageFromBuffer(&image, pixels.data(), 2, 2, 6, TAVO_IMAGEMODE_COLOR), TAVOIMG_OK);
        EXPECT_EQ(TAVO_SaveImageToFile(image, path.c_str()), TAVOIMG_OK);
        EXPECT_TRUE(fs::is_regular_file(folder / fromUtf8(name)));
        EXPECT_EQ(TAVO_LoadImageFromFile(&loaded, path.c_str()), TAVOIMG_OK);
        std::vector<uint8_t> back(pixels.size());
        if (loaded >= 0) {
            EXPECT_EQ(TAVO_SaveImageToBuffer(loaded, back.data(), TAVO_IMAGEMODE_COLOR), TAVOIMG_OK);
        }
        EXPECT_EQ(back, pixels);
        TAVO_FreeImage(image);
        if (loaded >= 0) TAVO_FreeImage(loaded);
    }
    fs::remove_all(folder);
}

// Initialisation opens every kind of data file: images through tavoimage,
// tables and face files through the library's own file access.
TEST(FileNames, DataDirectoryBeyondAsciiWithEitherSeparator) {
    const fs::path made = kelmo::testing::makeTemporaryDirectory("file_names_data");
    kelmo::testing::writeSyntheticDataDirectory(made.string());
    const fs::path folder = fs::absolute(made.parent_path() / fromUtf8(made.filename().string() + "-donn\xC3\xA9" "es-\xE9\xA0\xAD"));
    fs::remove_all(folder);
    fs::rename(made, folder);
#if defined(_WIN32)
    // A real drive letter: the path opens as it is given.
    ASSERT_EQ(utf8(folder).substr(1, 2), ":\\");
#endif
    for (const char *separator : {"/", "\\"}) {
        SCOPED_TRACE(separator);
        const std::string dir = utf8(folder) + separator;
        ASSERT_EQ(TAVO_InitKelmo(dir.c_str()), TAVO_OK);
        kelmo::LibraryState &state = kelmo::libraryState();
        EXPECT_GE(state.sockImage, 0);
        EXPECT_EQ(state.list7Table.size(), 38u);
        // A face file that cannot be opened does not fail initialisation:
        // look at what was read.
        for (const auto &mesh : state.expressionMeshes) {
            ASSERT_NE(mesh, nullptr);
            EXPECT_EQ(mesh->regions.size(), 5u);
        }
        TAVO_FinalizeKelmo();
        for (ImageHandle *image :
             {&state.alphaMaskImage, &state.lowerTeethImage, &state.upperTeethImage, &state.sockImage}) {
            if (*image >= 0) TAVO_FreeImage(*image);
            *image = -1;
        }
    }
    fs::remove_all(folder);
}

}  // namespace
