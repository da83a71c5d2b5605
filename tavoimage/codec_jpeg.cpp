// JPEG reading and writing through libjpeg-turbo's libjpeg API: most photos
// arrive as JPEG.
//
// libjpeg's default error handler ends the process; ours longjmps back to the
// setjmp point of readJpegStream or writeJpegStream. Those functions own no
// object with a destructor; the pixel vectors belong to their callers'
// frames and are sized through tryResize, which cannot throw.
#include <algorithm>
#include <csetjmp>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include "tavoimage/codecs.h"

namespace tavoimage {
namespace {

// Written to the file: high enough that a face texture keeps its detail.
constexpr int kJpegWriteQuality = 95;

// A progressive file may hold any number of scans, each a pass over the
// whole image; real files have a few dozen at most. The limit keeps a small
// hostile file from costing minutes (libjpeg-turbo suggests the same 500).
constexpr int kMaximumJpegScans = 500;

// A hostile file can claim 2^27 pixels in a few hundred bytes; a progressive
// one then makes libjpeg allocate its whole coefficient buffer (about 1.2 GB)
// before it finds that the data is missing. Decoding therefore keeps to the
// memory budget of codecs.h, libjpeg's working memory included. A
// Huffman-coded file spends at least two bits on every 8 x 8 block of its
// full-resolution component, so no such file needs more than 1024 bytes of
// pixels per byte; only arithmetic coding of a flat image exceeds the budget.

// libjpeg hands the handlers a pointer to `base`, the first member.
struct JpegErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void jpegErrorExit(j_common_ptr codec) {
    auto *manager = reinterpret_cast<JpegErrorManager *>(codec->err);
    std::longjmp(manager->jump, 1);
}

// A source that ends early is only a warning to libjpeg, which then pads the
// image with grey; here a truncated file is corrupt. Other warnings (stray
// bytes between markers, which some cameras write) are tolerated silently.
void jpegEmitMessage(j_common_ptr codec, int level) {
    if (level < 0 && codec->err->msg_code == JWRN_JPEG_EOF) jpegErrorExit(codec);
}

// The library logs nothing.
void jpegOutputMessage(j_common_ptr) {}

// Called by libjpeg while it reads the scans of a multi-scan file.
void jpegProgressMonitor(j_common_ptr codec) {
    if (codec->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(codec)->input_scan_number > kMaximumJpegScans) {
        jpegErrorExit(codec);
    }
}

void installErrorManager(JpegErrorManager &manager) {
    jpeg_std_error(&manager.base);
    manager.base.error_exit = jpegErrorExit;
    manager.base.emit_message = jpegEmitMessage;
    manager.base.output_message = jpegOutputMessage;
}

struct JpegReadState {
    std::FILE *file = nullptr;
    std::size_t memoryBudget = 0;
    bool keepAlpha = false;
    unsigned int reduction = 1;              // 1, 2, 4 or 8: decoded at 1/reduction
    std::vector<uint8_t> *pixels = nullptr;  // owned by the caller's frame
    std::vector<uint8_t> *row = nullptr;     // one decoded row, caller's frame
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 0;
};

TAVOIMAGE_NOINLINE int32_t readJpegStream(JpegReadState *state) {
    jpeg_decompress_struct codec{};
    JpegErrorManager errors;
    installErrorManager(errors);
    codec.err = &errors.base;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = jpegProgressMonitor;
    if (setjmp(errors.jump)) {
        // libjpeg's working memory beyond the budget (it has no backing store).
        const bool tooLarge = errors.base.msg_code == JERR_NO_BACKING_STORE ||
                              errors.base.msg_code == JERR_OUT_OF_MEMORY;
        jpeg_destroy_decompress(&codec);
        return tooLarge ? TAVOIMG_ERR_MEMORY : TAVOIMG_ERR_CORRUPT;
    }
    jpeg_create_decompress(&codec);
    codec.mem->max_memory_to_use = static_cast<long>(state->memoryBudget);
    codec.progress = &progress;
    jpeg_stdio_src(&codec, state->file);
    jpeg_read_header(&codec, TRUE);
    if (!sizeWithinLimits(codec.image_width, codec.image_height)) {
        jpeg_destroy_decompress(&codec);
        return TAVOIMG_ERR_MEMORY;
    }
    // Grey and colour files only; CMYK and YCCK (printing separations) and
    // unknown component sets are refused.
    int decodedChannels = 0;
    switch (codec.jpeg_color_space) {
        case JCS_GRAYSCALE:
            codec.out_color_space = JCS_GRAYSCALE;
            decodedChannels = 1;
            break;
        case JCS_YCbCr:
        case JCS_RGB:
            codec.out_color_space = JCS_RGB;
            decodedChannels = 3;
            break;
        default:
            jpeg_destroy_decompress(&codec);
            return TAVOIMG_ERR_FORMAT;
    }
    // The decoded pixels must fit the budget too, counted with alpha so that
    // a file loads with its alpha kept exactly when it loads without.
    const std::size_t imageBytes = std::size_t{codec.image_width} * codec.image_height * 4;
    if (imageBytes > state->memoryBudget) {
        jpeg_destroy_decompress(&codec);
        return TAVOIMG_ERR_MEMORY;
    }
    // A reduced image comes from the decoder itself: it keeps only the low
    // frequencies of each 8 x 8 block, a fraction of the work of decoding
    // every pixel and scaling down afterwards.
    codec.scale_num = 1;
    codec.scale_denom = state->reduction;
    jpeg_start_decompress(&codec);
    const int32_t channels = state->keepAlpha ? 4 : 3;
    const std::size_t width = codec.output_width;
    const std::size_t rowBytes = width * static_cast<std::size_t>(channels);
    const JDIMENSION expectedWidth = (codec.image_width + state->reduction - 1) / state->reduction;
    const JDIMENSION expectedHeight = (codec.image_height + state->reduction - 1) / state->reduction;
    if (codec.output_components != decodedChannels || codec.output_width != expectedWidth ||
        codec.output_height != expectedHeight) {
        jpeg_destroy_decompress(&codec);
        return TAVOIMG_ERR_FORMAT;
    }
    if (!tryResize(*state->pixels, rowBytes * codec.output_height) ||
        !tryResize(*state->row, width * static_cast<std::size_t>(decodedChannels))) {
        jpeg_destroy_decompress(&codec);
        return TAVOIMG_ERR_MEMORY;
    }
    while (codec.output_scanline < codec.output_height) {
        const std::size_t y = codec.output_scanline;
        JSAMPROW decodedRow = state->row->data();
        if (jpeg_read_scanlines(&codec, &decodedRow, 1) != 1) {
            jpeg_destroy_decompress(&codec);
            return TAVOIMG_ERR_CORRUPT;
        }
        // Grey repeats into the colours; alpha 255 where kept.
        convertPixels(decodedRow, decodedChannels, state->pixels->data() + rowBytes * y, channels,
                      static_cast<int64_t>(width));
    }
    // Reading up to the end-of-image marker makes a cut file fail too.
    jpeg_finish_decompress(&codec);
    state->width = static_cast<int32_t>(codec.output_width);
    state->height = static_cast<int32_t>(codec.output_height);
    state->channels = channels;
    jpeg_destroy_decompress(&codec);
    return TAVOIMG_OK;
}

struct JpegWriteState {
    std::FILE *file = nullptr;
    const Image *image = nullptr;
    std::vector<uint8_t> *row = nullptr;  // R G B of one row of a 4-channel image
};

TAVOIMAGE_NOINLINE int32_t writeJpegStream(JpegWriteState *state) {
    jpeg_compress_struct codec{};
    JpegErrorManager errors;
    installErrorManager(errors);
    codec.err = &errors.base;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&codec);
        return TAVOIMG_ERR_WRITE;
    }
    jpeg_create_compress(&codec);
    jpeg_stdio_dest(&codec, state->file);
    const Image &image = *state->image;
    codec.image_width = static_cast<JDIMENSION>(image.width);
    codec.image_height = static_cast<JDIMENSION>(image.height);
    // Grey stays grey; a fourth channel is dropped (JPEG has no alpha).
    const bool grey = image.channels == 1;
    codec.input_components = grey ? 1 : 3;
    codec.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&codec);
    jpeg_set_quality(&codec, kJpegWriteQuality, TRUE);
    jpeg_start_compress(&codec, TRUE);
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.channels);
    while (codec.next_scanline < codec.image_height) {
        const uint8_t *source = image.pixels.data() + rowBytes * codec.next_scanline;
        JSAMPROW row = const_cast<JSAMPROW>(source);  // libjpeg only reads it
        if (image.channels == 4) {
            convertPixels(source, 4, state->row->data(), 3, image.width);
            row = state->row->data();
        }
        if (jpeg_write_scanlines(&codec, &row, 1) != 1) {
            jpeg_destroy_compress(&codec);
            return TAVOIMG_ERR_WRITE;
        }
    }
    jpeg_finish_compress(&codec);
    jpeg_destroy_compress(&codec);
    return TAVOIMG_OK;
}

}  // namespace

int32_t decodeJpeg(std::FILE *file, bool keepAlpha, Image &image, unsigned int reduction) {
    if (reduction != 1 && reduction != 2 && reduction != 4 && reduction != 8) return TAVOIMG_ERR_ARGUMENT;
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> row;
    JpegReadState state;
    state.file = file;
    state.memoryBudget = decodeMemoryBudget(file);
    state.keepAlpha = keepAlpha;
    state.reduction = reduction;
    state.pixels = &pixels;
    state.row = &row;
    const int32_t status = readJpegStream(&state);
    if (status != TAVOIMG_OK) return status;
    image.width = state.width;
    image.height = state.height;
    image.channels = state.channels;
    image.pixels = std::move(pixels);
    return TAVOIMG_OK;
}

int32_t encodeJpeg(const Image &image, std::FILE *file) {
    if (image.channels != 1 && image.channels != 3 && image.channels != 4) return TAVOIMG_ERR_WRITE;
    std::vector<uint8_t> row;
    if (image.channels == 4 && !tryResize(row, static_cast<std::size_t>(image.width) * 3)) {
        return TAVOIMG_ERR_WRITE;
    }
    JpegWriteState state;
    state.file = file;
    state.image = &image;
    state.row = &row;
    return writeJpegStream(&state);
}

}  // namespace tavoimage
