// Photos as users download them: PNG, JPEG and BMP files read with their alpha
// dropped and kept. The two readings agree on the outcome, the size and the
// colour bytes, a failure creates no image, and a decoded image makes the
// round trip through TAVO_LoadImageFromBuffer unchanged.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tavoimage.h"

namespace {

std::vector<uint8_t> pixelsOf(ImageHandle image, TAVO_IMAGEMODE mode) {
    int32_t size = 0;
    FUZZ_CHECK(TAVO_GetImageBufferSize(image, &size, mode) == TAVOIMG_OK);
    std::vector<uint8_t> pixels(static_cast<std::size_t>(size));
    FUZZ_CHECK(TAVO_SaveImageToBuffer(image, pixels.data(), mode) == TAVOIMG_OK);
    return pixels;
}

bool isReaderStatus(int32_t status) {
    return status == TAVOIMG_OK || status == TAVOIMG_ERR_FORMAT || status == TAVOIMG_ERR_CORRUPT ||
           status == TAVOIMG_ERR_MEMORY;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static kelmo::fuzz::MemoryFile file;
    file.assign(data, size);
    ImageHandle opaque = -1, withAlpha = -1;
    const int32_t opaqueStatus = TAVO_LoadImageFromFile(&opaque, file.path().c_str());
    const int32_t alphaStatus = TAVO_LoadImageFromFileWithAlpha(&withAlpha, file.path().c_str());
    FUZZ_CHECK(isReaderStatus(opaqueStatus) && opaqueStatus == alphaStatus);
    if (opaqueStatus == TAVOIMG_OK) {
        int32_t w1 = 0, h1 = 0, w2 = 0, h2 = 0;
        TAVO_GetImageWidth(opaque, &w1), TAVO_GetImageHeight(opaque, &h1);
        TAVO_GetImageWidth(withAlpha, &w2), TAVO_GetImageHeight(withAlpha, &h2);
        FUZZ_CHECK(w1 == w2 && h1 == h2 && w1 > 0 && h1 > 0);
        FUZZ_CHECK(pixelsOf(opaque, TAVO_IMAGEMODE_COLOR) == pixelsOf(withAlpha, TAVO_IMAGEMODE_COLOR));
        const std::vector<uint8_t> rgba = pixelsOf(withAlpha, TAVO_IMAGEMODE_COLOR_ALPHA);
        ImageHandle copy = -1;
        FUZZ_CHECK(TAVO_LoadImageFromBuffer(&copy, rgba.data(), w2, h2, w2 * 4, TAVO_IMAGEMODE_COLOR_ALPHA) ==
                   TAVOIMG_OK);
        FUZZ_CHECK(pixelsOf(copy, TAVO_IMAGEMODE_COLOR_ALPHA) == rgba);
        TAVO_FreeImage(copy);
        TAVO_FreeImage(opaque);
        TAVO_FreeImage(withAlpha);
    }
    // Nothing is left behind: the lowest handle is free again.
    ImageHandle probe = -1;
    FUZZ_CHECK(TAVO_CreateEmptyImage(&probe) == TAVOIMG_OK && probe == 0);
    TAVO_FreeImage(probe);
    return 0;
}
