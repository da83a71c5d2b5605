// kelmo_upscale_photo IN OUT SIDE: IN scaled (linear interpolation, the
// imaging library's own resize) so that its width becomes SIDE, saved as OUT
// (format from the extension; JPEG at quality 95). scripts/bench-cli.sh
// makes its phone-sized photo from the sample photo with it.
#include <cstdio>
#include <cstdlib>

#include "tavoimage.h"

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: kelmo_upscale_photo IN OUT SIDE\n");
        return 2;
    }
    const long side = std::strtol(argv[3], nullptr, 10);
    ImageHandle image = -1;
    int32_t width = 0;
    if (side < 1 || TAVO_LoadImageFromFile(&image, argv[1]) != 0 || TAVO_GetImageWidth(image, &width) != 0 ||
        width < 1) {
        std::fprintf(stderr, "kelmo_upscale_photo: cannot read '%s'\n", argv[1]);
        return 1;
    }
    const int32_t status = TAVO_ResizeImage(image, static_cast<double>(side) / width, image) != 0
                               ? 1
                               : TAVO_SaveImageToFile(image, argv[2]);
    TAVO_FreeImage(image);
    if (status != 0) std::fprintf(stderr, "kelmo_upscale_photo: cannot write '%s'\n", argv[2]);
    return status == 0 ? 0 : 1;
}
