// The alpha mask's landmark file (".grd": a count, then that many pairs of
// reals), loaded with a small mask: any count, any reals (NaN, huge, negative)
// give 0 or -1, the caller's grid changes only on success, and the mask's
// image is the caller's to free either way.
#include <algorithm>
#include <cmath>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "kelmo.h"

namespace {

const std::string &maskPath() {
    static const std::string path = [] {
        std::vector<uint8_t> rgba;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 40; ++x)
                rgba.insert(rgba.end(), {uint8_t(x * 6), uint8_t(y * 5), 90,
                                         uint8_t(std::hypot(x - 20, y - 24) < 16 ? 255 : 0)});
        ImageHandle mask = -1;
        const std::string name = kelmo::fuzz::scratchDirectory() + "/alpha.png";
        FUZZ_CHECK(TAVO_LoadImageFromBuffer(&mask, rgba.data(), 40, 48, 160, TAVO_IMAGEMODE_COLOR_ALPHA) == 0);
        FUZZ_CHECK(TAVO_SaveImageToFile(mask, name.c_str()) == 0);
        TAVO_FreeImage(mask);
        return name;
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static kelmo::fuzz::MemoryFile file;
    file.assign(data, size);
    std::vector<int32_t> grid(132, 12345);
    ImageHandle mask = -1;
    const int32_t status = TAVO_LoadAlphaChannelImage(&mask, grid.data(), maskPath().c_str(), file.path().c_str());
    FUZZ_CHECK(status == TAVO_OK || status == TAVO_ERR_GENERAL);
    FUZZ_CHECK(status == TAVO_OK || std::count(grid.begin(), grid.end(), 12345) == 132);
    FUZZ_CHECK(TAVO_FreeImage(mask) == 0);
    ImageHandle probe = -1;
    FUZZ_CHECK(TAVO_CreateEmptyImage(&probe) == 0 && probe == 0);
    TAVO_FreeImage(probe);
    return 0;
}
