// Photos as users download them: PNG, JPEG and BMP files read with their alpha
// dropped and kept. The two readings agree on the outcome, the size and the
// colour bytes, a failure creates no image, and a decoded image makes the
// round trip through TAVO_LoadImageFromBuffer unchanged.
//
// A file of a few kilobytes may legitimately decode to tens of megapixels, so
// the harness holds one decoded image (and one copy of its bytes) at a time
// and compares the others by digest: its own memory stays a small multiple of
// the image, well inside the fuzzer's limit per input.
#include <cstring>
#include <functional>
#include <string_view>
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

std::size_t digestOf(const std::vector<uint8_t> &bytes) {
    return std::hash<std::string_view>{}(
        std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
}

std::size_t digestOf(ImageHandle image, TAVO_IMAGEMODE mode) { return digestOf(pixelsOf(image, mode)); }

bool isReaderStatus(int32_t status) {
    return status == TAVOIMG_OK || status == TAVOIMG_ERR_FORMAT || status == TAVOIMG_ERR_CORRUPT ||
           status == TAVOIMG_ERR_MEMORY;
}

void sizeOf(ImageHandle image, int32_t &width, int32_t &height) {
    FUZZ_CHECK(TAVO_GetImageWidth(image, &width) == TAVOIMG_OK);
    FUZZ_CHECK(TAVO_GetImageHeight(image, &height) == TAVOIMG_OK);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static kelmo::fuzz::MemoryFile file;
    file.assign(data, size);

    ImageHandle opaque = -1;
    const int32_t opaqueStatus = TAVO_LoadImageFromFile(&opaque, file.path().c_str());
    int32_t w1 = 0, h1 = 0;
    std::size_t opaqueColour = 0;
    if (opaqueStatus == TAVOIMG_OK) {
        sizeOf(opaque, w1, h1);
        opaqueColour = digestOf(opaque, TAVO_IMAGEMODE_COLOR);
        TAVO_FreeImage(opaque);
    }

    ImageHandle withAlpha = -1;
    const int32_t alphaStatus = TAVO_LoadImageFromFileWithAlpha(&withAlpha, file.path().c_str());
    FUZZ_CHECK(isReaderStatus(opaqueStatus) && opaqueStatus == alphaStatus);
    if (alphaStatus == TAVOIMG_OK) {
        int32_t w2 = 0, h2 = 0;
        sizeOf(withAlpha, w2, h2);
        FUZZ_CHECK(w1 == w2 && h1 == h2 && w1 > 0 && h1 > 0);
        FUZZ_CHECK(digestOf(withAlpha, TAVO_IMAGEMODE_COLOR) == opaqueColour);
        std::vector<uint8_t> rgba = pixelsOf(withAlpha, TAVO_IMAGEMODE_COLOR_ALPHA);
        TAVO_FreeImage(withAlpha);
        ImageHandle copy = -1;
        FUZZ_CHECK(TAVO_LoadImageFromBuffer(&copy, rgba.data(), w2, h2, w2 * 4, TAVO_IMAGEMODE_COLOR_ALPHA) ==
                   TAVOIMG_OK);
        const std::size_t rgbaDigest = digestOf(rgba);
        std::vector<uint8_t>().swap(rgba);
        FUZZ_CHECK(digestOf(copy, TAVO_IMAGEMODE_COLOR_ALPHA) == rgbaDigest);
        TAVO_FreeImage(copy);
    }
    // Nothing is left behind: the lowest handle is free again.
    ImageHandle probe = -1;
    FUZZ_CHECK(TAVO_CreateEmptyImage(&probe) == TAVOIMG_OK && probe == 0);
    TAVO_FreeImage(probe);
    return 0;
}
