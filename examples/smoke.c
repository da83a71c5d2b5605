/* Smoke program of the public interface (C): creates, copies and frees
 * models, and round-trips an image through a file. Exit status 0 on success. */
#include <stdio.h>
#include <string.h>

#include "kelmo.h"

static int check(int32_t status, const char *what) {
    if (status != 0) {
        fprintf(stderr, "kelmo_smoke: %s failed with status %d\n", what, (int)status);
        return 1;
    }
    printf("kelmo_smoke: %s ok\n", what);
    return 0;
}

int main(int argc, char **argv) {
    const char *out = argc > 1 ? argv[1] : "kelmo_smoke.png";
    int failures = 0;

    /* An 64 x 64 colour gradient, saved to a file and loaded back. */
    uint8_t pixels[64 * 64 * 3];
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            uint8_t *p = pixels + (y * 64 + x) * 3;
            p[0] = (uint8_t)(x * 4);
            p[1] = (uint8_t)(y * 4);
            p[2] = 128;
        }
    ImageHandle image = -1, loaded = -1;
    failures += check(TAVO_LoadImageFromBuffer(&image, pixels, 64, 64, 64 * 3, TAVO_IMAGEMODE_COLOR),
                      "TAVO_LoadImageFromBuffer");
    failures += check(TAVO_SaveImageToFile(image, out), "TAVO_SaveImageToFile");
    failures += check(TAVO_LoadImageFromFile(&loaded, out), "TAVO_LoadImageFromFile");
    int32_t width = 0, height = 0;
    TAVO_GetImageWidth(loaded, &width);
    TAVO_GetImageHeight(loaded, &height);
    if (width != 64 || height != 64) {
        fprintf(stderr, "kelmo_smoke: loaded image is %dx%d, expected 64x64\n", (int)width, (int)height);
        ++failures;
    }
    TAVO_FreeImage(image);
    TAVO_FreeImage(loaded);

    /* Models: create two, copy one onto the other, free both. */
    int32_t a = -1, b = -1, regions = -1;
    failures += check(TAVO_InitModel(&a, 0), "TAVO_InitModel");
    failures += check(TAVO_InitModel(&b, 1), "TAVO_InitModel");
    failures += check(TAVO_CopyModel(a, b), "TAVO_CopyModel");
    failures += check(TAVO_GetModelNumRegions(b, &regions), "TAVO_GetModelNumRegions");
    failures += check(TAVO_FreeModel(a), "TAVO_FreeModel");
    failures += check(TAVO_FreeModel(b), "TAVO_FreeModel");
    if (TAVO_FreeModel(b) != TAVO_ERR_INVALID_HANDLE) {
        fprintf(stderr, "kelmo_smoke: freeing a freed model did not return -4\n");
        ++failures;
    }
    printf("kelmo_smoke: %s\n", failures == 0 ? "all steps passed" : "FAILED");
    return failures == 0 ? 0 : 1;
}
