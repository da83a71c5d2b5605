// PNG reading and writing through libpng: the lossless format with alpha, for
// masks, teeth images and renders.
//
// libpng reports errors by longjmp to the setjmp point of the caller. The
// functions that call setjmp (readPngStream, writePngStream) therefore own no
// object with a destructor, and every C++ object that must outlive an error
// (the pixel vector) belongs to their caller's frame; allocations inside go
// through tryResize, which cannot throw.
#include <png.h>

#include <csetjmp>

#include "tavoimage/codecs.h"

namespace tavoimage {
namespace {

// Silent handlers: the library logs nothing. The error handler must not
// return to libpng.
[[noreturn]] void pngErrorHandler(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void pngWarningHandler(png_structp, png_const_charp) {}

struct PngReadState {
    std::FILE *file = nullptr;
    bool keepAlpha = false;
    std::vector<uint8_t> *pixels = nullptr;  // owned by the caller's frame
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 0;
    int32_t failureStatus = TAVOIMG_ERR_CORRUPT;  // returned after a longjmp
    std::size_t memoryBudget = 0;                 // bytes of pixels allowed
};

// Decodes the stream into *state->pixels as 8-bit R G B or R G B A rows.
TAVOIMAGE_NOINLINE int32_t readPngStream(PngReadState *state) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngErrorHandler,
                                             pngWarningHandler);
    if (png == nullptr) return TAVOIMG_ERR_MEMORY;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return TAVOIMG_ERR_MEMORY;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return state->failureStatus;
    }
    // Our own limits decide (TAVOIMG_ERR_MEMORY below); libpng's default
    // limit of one million pixels per side would report them as corrupt.
    png_set_user_limits(png, 0x7fffffffU, 0x7fffffffU);
    png_init_io(png, state->file);
    png_read_info(png, info);

    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colorType = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, nullptr, nullptr, nullptr);
    // Counted with alpha, so that a file loads with its alpha kept exactly
    // when it loads without.
    if (!sizeWithinLimits(width, height) ||
        std::size_t{width} * std::size_t{height} * 4 > state->memoryBudget) {
        png_destroy_read_struct(&png, &info, nullptr);
        return TAVOIMG_ERR_MEMORY;
    }

    // Every layout becomes 8-bit R G B (A): palettes and low-depth grey are
    // expanded, 16-bit samples scaled, grey repeated into the three colours.
    const bool hasTransparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
    // A tRNS chunk becomes an alpha channel (png_set_palette_to_rgb expands
    // it anyway), which is stripped again below when alpha is not kept.
    if (hasTransparency) png_set_tRNS_to_alpha(png);
    if (bitDepth == 16) png_set_scale_16(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_set_gray_to_rgb(png);
    }
    const bool fileHasAlpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 || hasTransparency;
    if (!state->keepAlpha) {
        if (fileHasAlpha) png_set_strip_alpha(png);
    } else if (!fileHasAlpha) {
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    }
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const int32_t channels = state->keepAlpha ? 4 : 3;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(channels);
    if (png_get_channels(png, info) != channels || png_get_bit_depth(png, info) != 8 ||
        png_get_rowbytes(png, info) != rowBytes) {
        png_destroy_read_struct(&png, &info, nullptr);
        return TAVOIMG_ERR_FORMAT;
    }
    if (!tryResize(*state->pixels, rowBytes * height)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return TAVOIMG_ERR_MEMORY;
    }
    // Row by row, once per interlace pass: each pass fills in its pixels of
    // the rows that the earlier passes left in place.
    uint8_t *const base = state->pixels->data();
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, base + rowBytes * y, nullptr);
    }
    // Reading up to IEND makes a file cut after its image data fail too.
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    state->width = static_cast<int32_t>(width);
    state->height = static_cast<int32_t>(height);
    state->channels = channels;
    return TAVOIMG_OK;
}

struct PngWriteState {
    std::FILE *file = nullptr;
    const Image *image = nullptr;
    int level = -1;
};

// Levels up to this one write every row with the same filter.
constexpr int kFastestFilteredLevel = 2;

// The process-wide level of TAVO_SetPngCompressionLevel (-1: zlib's default).
int pngCompressionLevel = -1;

TAVOIMAGE_NOINLINE int32_t writePngStream(const PngWriteState *state) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngErrorHandler,
                                              pngWarningHandler);
    if (png == nullptr) return TAVOIMG_ERR_WRITE;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return TAVOIMG_ERR_WRITE;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return TAVOIMG_ERR_WRITE;
    }
    const Image &image = *state->image;
    const int colorType = image.channels == 1   ? PNG_COLOR_TYPE_GRAY
                          : image.channels == 3 ? PNG_COLOR_TYPE_RGB
                                                : PNG_COLOR_TYPE_RGB_ALPHA;
    png_init_io(png, state->file);
    if (state->level >= 0) png_set_compression_level(png, state->level);
    // At the fast levels, choosing each row's filter by trying all five costs
    // more than compressing the row: one filter (Sub) for every row instead.
    if (state->level >= 0 && state->level <= kFastestFilteredLevel) png_set_filter(png, 0, PNG_FILTER_SUB);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
                 colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.channels);
    for (int32_t y = 0; y < image.height; ++y) {
        png_write_row(png, image.pixels.data() + rowBytes * static_cast<std::size_t>(y));
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return TAVOIMG_OK;
}

}  // namespace

int32_t decodePng(std::FILE *file, bool keepAlpha, Image &image) {
    std::vector<uint8_t> pixels;
    PngReadState state;
    state.file = file;
    state.keepAlpha = keepAlpha;
    state.pixels = &pixels;
    state.memoryBudget = decodeMemoryBudget(file);
    const int32_t status = readPngStream(&state);
    if (status != TAVOIMG_OK) return status;
    image.width = state.width;
    image.height = state.height;
    image.channels = state.channels;
    image.pixels = std::move(pixels);
    return TAVOIMG_OK;
}

int32_t encodePng(const Image &image, std::FILE *file) {
    if (image.channels != 1 && image.channels != 3 && image.channels != 4) return TAVOIMG_ERR_WRITE;
    PngWriteState state;
    state.file = file;
    state.image = &image;
    state.level = pngCompressionLevel;
    return writePngStream(&state);
}

}  // namespace tavoimage

extern "C" int32_t TAVO_SetPngCompressionLevel(int32_t level) {
    if (level < -1 || level > 9) return TAVOIMG_ERR_ARGUMENT;
    tavoimage::pngCompressionLevel = level;
    return TAVOIMG_OK;
}
