// File codecs of tavoimage: PNG and JPEG through libpng and libjpeg-turbo,
// uncompressed BMP by a reader and writer of our own. Internal.
//
// The per-format functions work on an open stdio stream and never throw:
// allocation failures become TAVOIMG_ERR_MEMORY (readers) or
// TAVOIMG_ERR_WRITE (writers). Readers write `image` only on success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tavoimage/image_table.h"

// Marks the functions that call setjmp: kept out of line, so that their
// frames hold nothing of their callers' C++ objects.
#if defined(_MSC_VER)
#  define TAVOIMAGE_NOINLINE __declspec(noinline)
#else
#  define TAVOIMAGE_NOINLINE __attribute__((noinline))
#endif

namespace tavoimage {

// Decodes a file, its format found from its first bytes. With keepAlpha the
// result has 4 channels (alpha 255 where the file has none), else 3.
// Returns 0 or TAVOIMG_ERR_OPEN / _FORMAT / _CORRUPT / _MEMORY; `image` is only
// written on success.
int32_t decodeImageFile(const std::string &path, bool keepAlpha, Image &image);

// Decodes a JPEG file as colour at 1/reduction of its size (reduction 1, 2, 4
// or 8; each side rounded up), the reduction done by the decoder. Returns
// TAVOIMG_ERR_FORMAT for a file of another format, TAVOIMG_ERR_ARGUMENT for
// another reduction, otherwise as decodeImageFile.
int32_t decodeJpegFileReduced(const std::string &path, unsigned int reduction, Image &image);

// Encodes a non-empty image to a file whose format follows the path's
// extension (.png, .jpg/.jpeg, .bmp, case-insensitive). A file that was
// opened but could not be written completely is removed.
// Returns 0 or TAVOIMG_ERR_FORMAT / _WRITE.
int32_t encodeImageFile(const Image &image, const std::string &path);

// Per-format readers. `file` is positioned at the start of the file, whose
// magic bytes the caller has already recognised. Results have 3 channels
// (R G B) or, with keepAlpha, 4 (R G B A).
int32_t decodePng(std::FILE *file, bool keepAlpha, Image &image);
int32_t decodeJpeg(std::FILE *file, bool keepAlpha, Image &image, unsigned int reduction = 1);
int32_t decodeBmp(std::FILE *file, bool keepAlpha, Image &image);

// Per-format writers of a non-empty image (1, 3 or 4 channels) to a file
// opened for binary writing. They return 0 or TAVOIMG_ERR_WRITE; the caller
// closes the file and checks that the close succeeded.
int32_t encodePng(const Image &image, std::FILE *file);
int32_t encodeJpeg(const Image &image, std::FILE *file);
int32_t encodeBmp(const Image &image, std::FILE *file);

// The memory that decoding `file` may take, pixels and the decoder's working
// memory together: 64 MB plus 2048 bytes per byte of the file. A few hundred
// bytes of PNG or JPEG can claim 2^27 pixels, and even describe them
// validly (a flat image compresses a thousandfold and more); real photos
// stay far below the budget, and only such freakishly compressed files are
// refused, as too large, before anything of their size is allocated. The
// file's position is kept.
std::size_t decodeMemoryBudget(std::FILE *file);

// Resizes `pixels` to `byteCount` bytes; false (and `pixels` unchanged in
// size) when the memory cannot be had. Lets the codecs' setjmp frames
// allocate without an exception crossing them.
bool tryResize(std::vector<uint8_t> &pixels, std::size_t byteCount) noexcept;

}  // namespace tavoimage
