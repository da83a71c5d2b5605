/*
 * tavoimage: the imaging library of Kelmo: images in memory, addressed by
 * handles; reading and writing PNG, JPEG and BMP files; resizing, rotation,
 * mirroring and cropping.
 *
 * Images live in a table that the library owns and are addressed by 32-bit
 * handles.  Every function returns 0 on success or a negative TAVOIMG_ERR_*
 * status; a failing call changes nothing (no image is created, no image is
 * modified).  No function crashes on an invalid or freed handle, a null
 * pointer, or a missing, truncated or hostile file.
 *
 * Pixel layout (TAVO_IMAGEMODE): packed rows, top row first, no padding
 * beyond the scan line the caller gives.
 *   TAVO_IMAGEMODE_GREY  (0): 1 byte per pixel, grey level.
 *   TAVO_IMAGEMODE_COLOR (1): 3 bytes per pixel, in the order R, G, B.
 *   TAVO_IMAGEMODE_COLOR_ALPHA (2): 4 bytes per pixel, in the order R, G, B, A
 *       (A is 255 = opaque in images that carry no alpha channel).
 * Conversions between modes: colour to grey is the luma
 * (299 R + 587 G + 114 B + 500) / 1000; grey to colour repeats the grey level.
 *
 * The library is not thread-safe: calls come from one thread at a time.
 */
#ifndef TAVOIMAGE_H
#define TAVOIMAGE_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(TAVOIMAGE_BUILDING)
#    define TAVOIMAGE_API __declspec(dllexport)
#  else
#    define TAVOIMAGE_API __declspec(dllimport)
#  endif
#else
#  define TAVOIMAGE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A handle of an image in the library's table; valid from its creation until
 * TAVO_FreeImage.  Handles of freed images may be handed out again. */
typedef int32_t ImageHandle;

/* Pixel layout of a buffer exchanged with the library (see above).  In C++
 * its underlying type is fixed at 32 bits, as a C compiler lays it out, so
 * that any value a host passes is a value of the type and is refused with
 * TAVOIMG_ERR_ARGUMENT rather than being undefined. */
#ifdef __cplusplus
typedef enum TAVO_IMAGEMODE : int32_t {
#else
typedef enum TAVO_IMAGEMODE {
#endif
    TAVO_IMAGEMODE_GREY = 0,
    TAVO_IMAGEMODE_COLOR = 1,
    TAVO_IMAGEMODE_COLOR_ALPHA = 2
} TAVO_IMAGEMODE;

/* Status codes of the imaging library.  They are distinct from the codes of
 * libkelmo so that a status passed through by TAVO_InitKelmo names its cause. */
enum {
    TAVOIMG_OK = 0,
    TAVOIMG_ERR_HANDLE = -101,   /* handle negative, unknown or freed */
    TAVOIMG_ERR_NULL = -102,     /* a required pointer is null */
    TAVOIMG_ERR_ARGUMENT = -103, /* a size, mode, ratio or coordinate is out of range */
    TAVOIMG_ERR_OPEN = -104,     /* the file cannot be opened */
    TAVOIMG_ERR_FORMAT = -105,   /* the file's format is unknown or unsupported */
    TAVOIMG_ERR_CORRUPT = -106,  /* the file is truncated or malformed */
    TAVOIMG_ERR_MEMORY = -107,   /* the image is larger than the library's limits */
    TAVOIMG_ERR_WRITE = -108     /* the file cannot be written */
};

/* Largest width or height, and largest pixel count, of an image. */
#define TAVOIMG_MAX_SIDE 32768
#define TAVOIMG_MAX_PIXELS (1 << 27)

/* Creates an empty image (width and height 0).
 * out: receives the new handle; must not be null.
 * Returns 0, TAVOIMG_ERR_NULL, TAVOIMG_ERR_MEMORY (the table cannot grow). */
TAVOIMAGE_API int32_t TAVO_CreateEmptyImage(ImageHandle *out);

/* Releases an image; its handle becomes invalid.
 * Returns 0, TAVOIMG_ERR_HANDLE. */
TAVOIMAGE_API int32_t TAVO_FreeImage(ImageHandle image);

/* Makes the existing image `destination` a copy of `source` (size, pixels and
 * channel layout).  source == destination is allowed and changes nothing.
 * Returns 0, TAVOIMG_ERR_HANDLE (either handle invalid), TAVOIMG_ERR_MEMORY
 * (destination unchanged). */
TAVOIMAGE_API int32_t TAVO_CopyImage(ImageHandle source, ImageHandle destination);

/* Loads a PNG, JPEG or BMP file (format found from the file's first bytes, not
 * its name) as a colour image without alpha: an alpha channel in the file is
 * dropped, grey files become colour.
 * Accepted: PNG of every colour type and bit depth, interlaced or not (16-bit
 * samples scaled to 8, palettes and tRNS expanded); JPEG grey or colour,
 * baseline or progressive (CMYK/YCCK refused: TAVOIMG_ERR_FORMAT); BMP with a
 * 40, 52, 56, 108 or 124-byte header, uncompressed, 8-bit paletted, 24-bit, or
 * 32-bit (BI_RGB, or BI_BITFIELDS with the masks 00FF0000, 0000FF00, 000000FF
 * and alpha FF000000 or none), bottom-up or top-down.  The fourth byte of a
 * 32-bit BMP is alpha unless it is 0 in every pixel (then the file is opaque).
 * out: receives the new handle; must not be null.  path: zero-terminated file
 * path; must not be null.
 * Returns 0, TAVOIMG_ERR_NULL, TAVOIMG_ERR_OPEN (missing, unreadable or a
 * directory), TAVOIMG_ERR_FORMAT (unknown or unsupported format or variant),
 * TAVOIMG_ERR_CORRUPT (truncated or malformed, including a JPEG of more than
 * 500 scans), TAVOIMG_ERR_MEMORY (larger than the limits, or out of memory);
 * on failure no image is created. */
TAVOIMAGE_API int32_t TAVO_LoadImageFromFile(ImageHandle *out, const char *path);

/* As TAVO_LoadImageFromFile, but keeps the file's alpha channel: the image
 * has four channels R, G, B, A (A = 255 where the file has no alpha). */
TAVOIMAGE_API int32_t TAVO_LoadImageFromFileWithAlpha(ImageHandle *out, const char *path);

/* Extension: loads a JPEG file as colour (three channels) at 1/reduction of its
 * size, each side rounded up (ceil(width / reduction) by ceil(height /
 * reduction)), the reduction done by the decoder while it decodes (each 8 x 8
 * block's low frequencies only), at a fraction of the cost of a full decode.
 * For finding things in a large photo quickly; the pixels are an average over
 * each reduction x reduction block, not those of a full decode scaled down.
 * out: receives the new handle; must not be null.  path: zero-terminated file
 * path; must not be null.  reduction: 1, 2, 4 or 8.
 * Returns 0, TAVOIMG_ERR_NULL, TAVOIMG_ERR_ARGUMENT (another reduction),
 * TAVOIMG_ERR_FORMAT (not a JPEG file, or a CMYK one), and otherwise as
 * TAVO_LoadImageFromFile; on failure no image is created. */
TAVOIMAGE_API int32_t TAVO_LoadJpegReduced(ImageHandle *out, const char *path, int32_t reduction);

/* Creates an image holding a copy of a pixel buffer.
 * out: receives the new handle; must not be null.
 * pixels: height rows of scanLine bytes each, top row first; may be null only
 *   when width * height is 0.
 * width, height: in pixels, 0 to TAVOIMG_MAX_SIDE, their product at most
 *   TAVOIMG_MAX_PIXELS.  scanLine: bytes per row, at least width times the
 *   mode's bytes per pixel.  mode: 0, 1 or 2; the image keeps that layout.
 * Returns 0, TAVOIMG_ERR_NULL, TAVOIMG_ERR_ARGUMENT, TAVOIMG_ERR_HANDLE,
 * TAVOIMG_ERR_MEMORY (out of memory); on failure no image is created. */
TAVOIMAGE_API int32_t TAVO_LoadImageFromBuffer(ImageHandle *out, const uint8_t *pixels,
                                               int32_t width, int32_t height,
                                               int32_t scanLine, TAVO_IMAGEMODE mode);

/* Extension: as TAVO_LoadImageFromBuffer, but into an existing image, which
 * takes the buffer's size, layout and pixels in place of its own. Its storage
 * is reused when large enough, so that a program delivering frame after frame
 * of one size into the same image pays for one copy of the pixels, and no
 * allocation.
 * image: an existing image.  pixels, width, height, scanLine, mode: as for
 *   TAVO_LoadImageFromBuffer.
 * Returns 0, TAVOIMG_ERR_HANDLE, TAVOIMG_ERR_NULL, TAVOIMG_ERR_ARGUMENT,
 * TAVOIMG_ERR_MEMORY (out of memory); on failure the image is unchanged. */
TAVOIMAGE_API int32_t TAVO_WriteImagePixels(ImageHandle image, const uint8_t *pixels, int32_t width,
                                            int32_t height, int32_t scanLine, TAVO_IMAGEMODE mode);

/* Extension: gives an existing image a size and layout without copying
 * pixels into it, so that its rows can then be written in slices with
 * TAVO_WriteImageRows. When the image already has this size and layout it is
 * left as it is, pixels and all; otherwise every byte of its new pixels is 0.
 * Its storage is reused when large enough.
 * width, height: as for TAVO_LoadImageFromBuffer.  mode: 0, 1 or 2.
 * Returns 0, TAVOIMG_ERR_HANDLE, TAVOIMG_ERR_ARGUMENT, TAVOIMG_ERR_MEMORY (out
 * of memory); on failure the image is unchanged. */
TAVOIMAGE_API int32_t TAVO_ReshapeImage(ImageHandle image, int32_t width, int32_t height, TAVO_IMAGEMODE mode);

/* Extension: replaces the rows firstRow to firstRow + rowCount - 1 of an
 * image with a buffer's rows, which are in the image's own layout (no
 * conversion: `mode` must be the image's). Calls writing rows that do not
 * overlap may run on several threads at once while no other call reads or
 * changes the image, so that a program can fill a large image in parallel.
 * pixels: rowCount rows of scanLine bytes each; may be null only when
 *   rowCount or the image's width is 0.
 * scanLine: bytes per row, at least width times the mode's bytes per pixel.
 * Returns 0, TAVOIMG_ERR_HANDLE, TAVOIMG_ERR_NULL, TAVOIMG_ERR_ARGUMENT (a mode
 * other than the image's, rows outside the image, a short scanLine); on
 * failure the image is unchanged. */
TAVOIMAGE_API int32_t TAVO_WriteImageRows(ImageHandle image, int32_t firstRow, int32_t rowCount,
                                          const uint8_t *pixels, int32_t scanLine, TAVO_IMAGEMODE mode);

/* Writes the image's pixels into a buffer in the given mode, packed rows of
 * width * bytes-per-pixel bytes, top row first, converting as described above.
 * pixels: at least TAVO_GetImageBufferSize(image, mode) bytes; may be null only
 *   when that size is 0.
 * Returns 0, TAVOIMG_ERR_HANDLE, TAVOIMG_ERR_NULL, TAVOIMG_ERR_ARGUMENT (mode). */
TAVOIMAGE_API int32_t TAVO_SaveImageToBuffer(ImageHandle image, uint8_t *pixels, TAVO_IMAGEMODE mode);

/* Extension: as TAVO_SaveImageToBuffer, for the rows firstRow to
 * firstRow + rowCount - 1 only, packed from the start of `pixels`. Calls on
 * one image may run on several threads at once while no other call changes
 * it, so that a program can convert a large image in parallel slices.
 * pixels: at least rowCount * width * bytes-per-pixel bytes; may be null only
 *   when that size is 0.
 * Returns 0, TAVOIMG_ERR_HANDLE, TAVOIMG_ERR_NULL, TAVOIMG_ERR_ARGUMENT (mode,
 * or rows outside the image); on failure nothing is written. */
TAVOIMAGE_API int32_t TAVO_SaveImageRowsToBuffer(ImageHandle image, int32_t firstRow, int32_t rowCount,
                                                 uint8_t *pixels, TAVO_IMAGEMODE mode);

/* Stores width * height * bytes-per-pixel of `mode`: the bytes that
 * TAVO_SaveImageToBuffer writes in that mode.
 * size: must not be null.
 * Returns 0, TAVOIMG_ERR_HANDLE, TAVOIMG_ERR_NULL, TAVOIMG_ERR_ARGUMENT (mode). */
TAVOIMAGE_API int32_t TAVO_GetImageBufferSize(ImageHandle image, int32_t *size, TAVO_IMAGEMODE mode);

/* Stores the image's width, in pixels.  value: must not be null.
 * Returns 0, TAVOIMG_ERR_HANDLE, TAVOIMG_ERR_NULL. */
TAVOIMAGE_API int32_t TAVO_GetImageWidth(ImageHandle image, int32_t *value);

/* Stores the image's height, in pixels.  value: must not be null.
 * Returns 0, TAVOIMG_ERR_HANDLE, TAVOIMG_ERR_NULL. */
TAVOIMAGE_API int32_t TAVO_GetImageHeight(ImageHandle image, int32_t *value);

/* Scales `source` by `ratio` into the existing image `destination` (which may
 * be the source): the new size is round(width * ratio) by round(height * ratio),
 * halves rounded up, at least 1 by 1 for a non-empty source (an empty source
 * gives an empty image of the rounded size).  Each axis is filtered on its
 * own, with the scale old size / new size of that axis: an axis that shrinks
 * averages the covered area of every destination pixel (exact box filter,
 * partly covered source pixels weighted by their coverage); an axis that grows
 * interpolates linearly with pixel centres aligned (destination x samples the
 * source at (x + 0.5) * old / new - 0.5, clamped to the first and last
 * centres); an axis that keeps its size is copied.  Channels, alpha included,
 * are filtered alike; results are rounded to the nearest byte, halves up.
 * ratio must be finite and above 0.
 * Returns 0, TAVOIMG_ERR_HANDLE, TAVOIMG_ERR_ARGUMENT (ratio),
 * TAVOIMG_ERR_MEMORY (new size beyond the limits, or out of memory). */
TAVOIMAGE_API int32_t TAVO_ResizeImage(ImageHandle source, double ratio, ImageHandle destination);

/* Rotates `source` by `angle` degrees about the point (centreX, centreY)
 * (pixel coordinates, origin at the top-left pixel's centre, y down) into the
 * existing image `destination` (which may be the source), same size.  A
 * positive angle turns the picture clockwise as seen on screen (y down: the
 * turn x' = x cos - y sin, y' = x sin + y cos about the centre, the same as
 * the feature-point rotation of the face frame in libkelmo, so a photo turned
 * by minus the roll angle is upright): the pixel right of the centre
 * moves below it at 90 degrees.  Multiples of 90
 * degrees move pixels exactly (when the centre maps pixels onto pixels).
 * Destination pixels whose source position falls outside the span of the
 * source's pixel centres, 0..width-1 by 0..height-1, are 0 in every channel
 * (black, and transparent in four-channel images); the others are bilinear
 * samples rounded to the nearest byte, halves up.
 * Returns 0, TAVOIMG_ERR_HANDLE, TAVOIMG_ERR_ARGUMENT (non-finite value),
 * TAVOIMG_ERR_MEMORY (out of memory). */
TAVOIMAGE_API int32_t TAVO_RotateImageCenter(ImageHandle source, double angle, double centreX,
                                             double centreY, ImageHandle destination);

/* The inclusive rectangle x1..x2, y1..y2 of `source` rotated as by
 * TAVO_RotateImageCenter(source, angle, centreX, centreY), into the existing
 * image `destination` (which may be the source), which becomes
 * (x2 - x1 + 1) by (y2 - y1 + 1) pixels; the rectangle may leave the rotated
 * image on any side, whose pixels then repeat its nearest border pixel.  The
 * result is byte for byte that of the rotation followed by
 * TAVO_CopyRectReplicateBorder, but only the rectangle's pixels are computed:
 * the cost follows the rectangle, not the source (a face cut from a large
 * photo).
 * Requires finite angle and centre, x1 <= x2, y1 <= y2, a non-empty source and
 * a size within limits.
 * Returns 0, TAVOIMG_ERR_HANDLE, TAVOIMG_ERR_ARGUMENT (non-finite value,
 * inverted rectangle or empty source), TAVOIMG_ERR_MEMORY (size beyond the
 * limits, or out of memory). */
TAVOIMAGE_API int32_t TAVO_RotateCropImage(ImageHandle source, double angle, double centreX, double centreY,
                                           int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                                           ImageHandle destination);

/* Flips the image top to bottom in place.  flag: 0 (the only value the
 * library's callers use); 1 flips left to right instead.
 * Returns 0, TAVOIMG_ERR_HANDLE, TAVOIMG_ERR_ARGUMENT (other flag). */
TAVOIMAGE_API int32_t TAVO_MirrorImage(ImageHandle image, int32_t flag);

/* Copies the inclusive rectangle x1..x2, y1..y2 of `source` into the existing
 * image `destination` (which may be the source), which becomes
 * (x2 - x1 + 1) by (y2 - y1 + 1) pixels.  The rectangle may leave the source on
 * any side: those pixels repeat the nearest border pixel of the source.
 * Requires x1 <= x2, y1 <= y2, a non-empty source and a size within limits.
 * Returns 0, TAVOIMG_ERR_HANDLE, TAVOIMG_ERR_ARGUMENT (inverted rectangle or
 * empty source), TAVOIMG_ERR_MEMORY (size beyond the limits, or out of
 * memory). */
TAVOIMAGE_API int32_t TAVO_CopyRectReplicateBorder(ImageHandle source, int32_t x1, int32_t y1,
                                                   int32_t x2, int32_t y2, ImageHandle destination);

/* Saves the image to a file whose format follows the path's extension,
 * case-insensitive: ".png" (8-bit grey, RGB or RGBA as the image has),
 * ".jpg"/".jpeg" (baseline, quality 95, libjpeg's default 2x2 chroma
 * subsampling; grey stays grey, alpha dropped), ".bmp" (24-bit BI_RGB with a
 * 40-byte header; images with alpha 32-bit BI_BITFIELDS with a 108-byte
 * BITMAPV4HEADER whose alpha mask is FF000000; grey written as colour).
 * Written as ".NAME.tavo-tmp-PID" (process id) in its folder, renamed over `path` when complete: a failure
 * removes it and leaves a previous `path` as it was (a killed process leaves it, never a half-written `path`).
 * path: zero-terminated file path; must not be null.
 * Returns 0, TAVOIMG_ERR_HANDLE, TAVOIMG_ERR_NULL, TAVOIMG_ERR_FORMAT (unknown
 * extension), TAVOIMG_ERR_ARGUMENT (empty image), TAVOIMG_ERR_WRITE. */
TAVOIMAGE_API int32_t TAVO_SaveImageToFile(ImageHandle image, const char *path);

/* Sets the zlib compression level of the PNG files that TAVO_SaveImageToFile
 * writes from now on, for the whole process: 0 (stored, fastest) to 9
 * (smallest), or -1 for zlib's default (6), the level until this is called.
 * The pixels read back are the same at every level; a low level trades a
 * larger file for a faster save (intermediate pictures of a large batch);
 * levels 0 to 2 also filter every row alike instead of choosing per row.
 * Returns 0, TAVOIMG_ERR_ARGUMENT (level outside -1..9; nothing changes). */
TAVOIMAGE_API int32_t TAVO_SetPngCompressionLevel(int32_t level);

/* Sets, for the whole process, the instruction-set level of the library's
 * bilinear turn (TAVO_RotateImageCenter, TAVO_RotateCropImage): 0 one pixel
 * at a time (the reference), 1 the x86-64 baseline's vectors, 2 AVX2,
 * 3 AVX-512.  A level the CPU cannot run is lowered to the widest it can,
 * which is also the level until this is called.  Every level gives the same
 * bytes; only the speed changes.  libkelmo's own level follows the same
 * choice and passes it here.
 * Returns the level set (0 to 3), or TAVOIMG_ERR_ARGUMENT (level outside
 * 0..3; nothing changes). */
TAVOIMAGE_API int32_t TAVO_SetImageKernelLevel(int32_t level);

#ifdef __cplusplus
}
#endif

#endif /* TAVOIMAGE_H */
