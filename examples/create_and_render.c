/* A host program of the kelmo library in plain C: initialise the library with
 * its data directory, create a model from a photo and its 66 feature points,
 * render it turned a little, save the picture and clean up.
 *
 *   kelmo_example DATA_DIR PHOTO POINTS_FILE OUT.png
 *
 * DATA_DIR ends with a separator ("build/data/"): the library appends file
 * names to it. POINTS_FILE holds the photo's 66 points as lines "x y", as
 * `kelmo landmarks PHOTO -o POINTS_FILE` writes them. Exit status 0 on
 * success, 1 on any failure (with a message). */
#include <stdio.h>
#include <stdlib.h>

#include "kelmo.h"

#define POINT_COUNT 66

static int fail(const char *what, int32_t status) {
    fprintf(stderr, "kelmo_example: %s failed (status %d)\n", what, (int)status);
    return 1;
}

static int readPoints(const char *path, int32_t points[2 * POINT_COUNT]) {
    FILE *file = fopen(path, "r");
    if (file == NULL) {
        fprintf(stderr, "kelmo_example: cannot open %s\n", path);
        return 1;
    }
    int count = 0;
    long x, y;
    while (count < POINT_COUNT && fscanf(file, "%ld %ld", &x, &y) == 2) {
        points[2 * count] = (int32_t)x;
        points[2 * count + 1] = (int32_t)y;
        ++count;
    }
    fclose(file);
    if (count != POINT_COUNT) {
        fprintf(stderr, "kelmo_example: %s holds %d points, expected %d\n", path, count, POINT_COUNT);
        return 1;
    }
    return 0;
}

int main(int argc, char **argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: %s DATA_DIR PHOTO POINTS_FILE OUT.png\n", argv[0]);
        return 1;
    }
    int32_t points[2 * POINT_COUNT];
    if (readPoints(argv[3], points) != 0) return 1;

    int32_t status = TAVO_InitKelmo(argv[1]);
    if (status != TAVO_OK) return fail("TAVO_InitKelmo", status);

    int result = 1;
    int32_t model = -1;
    ImageHandle photo = -1, picture = -1;
    float scale = 0.0f;
    if ((status = TAVO_InitModel(&model, 0)) != TAVO_OK) {
        fail("TAVO_InitModel", status);
    } else if ((status = TAVO_LoadImageFromFile(&photo, argv[2])) != TAVOIMG_OK) {
        fail("TAVO_LoadImageFromFile", status);
    } else if ((status = TAVO_CreateModelFromPhoto(model, photo, points, 0, &scale)) != TAVO_OK) {
        fail("TAVO_CreateModelFromPhoto", status);
    } else if ((status = TAVO_RotateModel(model, 0.0f, 20.0f, 0.0f)) != TAVO_OK) {
        fail("TAVO_RotateModel", status);
    } else if ((status = TAVO_CreateEmptyImage(&picture)) != TAVOIMG_OK) {
        fail("TAVO_CreateEmptyImage", status);
    } else {
        TAVO_BeginRendering(400, 400);
        if ((status = TAVO_RenderModelToImage(model, picture)) != TAVO_OK) {
            fail("TAVO_RenderModelToImage", status);
        } else if ((status = TAVO_SaveImageToFile(picture, argv[4])) != TAVOIMG_OK) {
            fail("TAVO_SaveImageToFile", status);
        } else {
            printf("kelmo_example: %.4f model units per photo pixel; wrote %s\n", (double)scale, argv[4]);
            result = 0;
        }
        TAVO_EndRendering();
    }

    if (picture >= 0) TAVO_FreeImage(picture);
    if (photo >= 0) TAVO_FreeImage(photo);
    if (model >= 0) TAVO_FreeModel(model);
    TAVO_FinalizeKelmo();
    return result;
}
