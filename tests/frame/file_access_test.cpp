// Paths as this platform opens them: backslashes and the drive C: of the
// data files' Windows paths.
#include <gtest/gtest.h>

#include <string>

#include "frame/file_access.h"
#include "frame/library_state.h"
#include "kelmo.h"

namespace {

TEST(PlatformPath, TurnsBackslashesIntoSlashesAndDriveCIntoTheDriveRoot) {
    const struct {
        const char *root, *path, *expected;
    } cases[] = {
        {"/", "data/wrl\\Head_teethLower.png", "data/wrl/Head_teethLower.png"},
        {"/", "C:\\orvane\\VisibleMeshes.vsl", "/orvane/VisibleMeshes.vsl"},
        {"/", "c:/orvane/x", "/orvane/x"},
        {"/tmp/root/", "C:\\orvane\\x", "/tmp/root/orvane/x"},
        {"/tmp/root", "C:/orvane/x", "/tmp/root/orvane/x"},
        {"/tmp/root", "D:\\orvane\\x", "D:/orvane/x"},  // other drives stay
        {"/tmp/root", "C:orvane", "C:orvane"},          // no separator: not a drive path
        {"/tmp/root", "/data/C:\\x", "/data/C:/x"},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(TAVO_SetDriveRoot(c.root), TAVO_OK);
        EXPECT_EQ(kelmo::platformPath(c.path), c.expected) << c.path << " below " << c.root;
    }
    EXPECT_EQ(TAVO_SetDriveRoot(nullptr), TAVO_ERR_GENERAL);
    EXPECT_EQ(kelmo::libraryState().driveRoot, "/tmp/root");
    ASSERT_EQ(TAVO_SetDriveRoot("/"), TAVO_OK);
}

}  // namespace
