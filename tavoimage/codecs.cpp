// Format dispatch of tavoimage's file codecs.
// Readers recognise the format from the file's first bytes, writers from the
// path's extension; the per-format work is in codec_png.cpp, codec_jpeg.cpp
// and codec_bmp.cpp.
#include "tavoimage/codecs.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

#include "tavoimage/file_names.h"

namespace tavoimage {
namespace {

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

enum class FileFormat { Unknown, Png, Jpeg, Bmp };

// The PNG signature, the JPEG start-of-image marker followed by the first
// byte of the next marker, and the BMP file type "BM".
FileFormat formatFromMagic(const unsigned char *bytes, std::size_t count) {
    static const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (count >= 8 && std::memcmp(bytes, kPngSignature, 8) == 0) return FileFormat::Png;
    if (count >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) return FileFormat::Jpeg;
    if (count >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return FileFormat::Bmp;
    return FileFormat::Unknown;
}

// The extension after the last dot of the file name (not of a directory
// name), compared case-insensitively.
FileFormat formatFromExtension(const std::string &path) {
    const std::size_t separator = path.find_last_of("/\\");
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) {
        return FileFormat::Unknown;
    }
    std::string extension = path.substr(dot + 1);
    for (char &c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == "png") return FileFormat::Png;
    if (extension == "jpg" || extension == "jpeg") return FileFormat::Jpeg;
    if (extension == "bmp") return FileFormat::Bmp;
    return FileFormat::Unknown;
}

}  // namespace

bool tryResize(std::vector<uint8_t> &pixels, std::size_t byteCount) noexcept {
    try {
        pixels.resize(byteCount);
        return true;
    } catch (...) {
        return false;
    }
}

int32_t decodeImageFile(const std::string &path, bool keepAlpha, Image &image) {
    FilePtr file(openNamedFile(path, "rb"));
    if (!file) return TAVOIMG_ERR_OPEN;
    unsigned char magic[8] = {};
    const std::size_t count = std::fread(magic, 1, sizeof magic, file.get());
    // A path that opens but cannot be read (a directory) counts as not opened.
    if (std::ferror(file.get())) return TAVOIMG_ERR_OPEN;
    const FileFormat format = formatFromMagic(magic, count);
    if (format == FileFormat::Unknown) return TAVOIMG_ERR_FORMAT;
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) return TAVOIMG_ERR_OPEN;
    switch (format) {
        case FileFormat::Png: return decodePng(file.get(), keepAlpha, image);
        case FileFormat::Jpeg: return decodeJpeg(file.get(), keepAlpha, image);
        case FileFormat::Bmp: return decodeBmp(file.get(), keepAlpha, image);
        case FileFormat::Unknown: break;
    }
    return TAVOIMG_ERR_FORMAT;
}

int32_t decodeJpegFileReduced(const std::string &path, unsigned int reduction, Image &image) {
    FilePtr file(openNamedFile(path, "rb"));
    if (!file) return TAVOIMG_ERR_OPEN;
    unsigned char magic[8] = {};
    const std::size_t count = std::fread(magic, 1, sizeof magic, file.get());
    if (std::ferror(file.get())) return TAVOIMG_ERR_OPEN;
    if (formatFromMagic(magic, count) != FileFormat::Jpeg) return TAVOIMG_ERR_FORMAT;
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) return TAVOIMG_ERR_OPEN;
    return decodeJpeg(file.get(), false, image, reduction);
}

int32_t encodeImageFile(const Image &image, const std::string &path) {
    const FileFormat format = formatFromExtension(path);
    if (format == FileFormat::Unknown) return TAVOIMG_ERR_FORMAT;
    // The file is written under a temporary name in its folder and renamed
    // over the final name only when it is complete, so a full disk, a failed
    // or interrupted write, or a name that cannot be replaced (a folder)
    // leaves a previous file of that name as it was. A read-only file is
    // refused as it would be by opening it for writing.
    if (!isReplaceable(path)) return TAVOIMG_ERR_WRITE;
    const std::string temporary = temporaryNameBeside(path);
    std::FILE *file = openNamedFile(temporary, "wb");
    if (file == nullptr) return TAVOIMG_ERR_WRITE;
    int32_t status = TAVOIMG_ERR_FORMAT;
    switch (format) {
        case FileFormat::Png: status = encodePng(image, file); break;
        case FileFormat::Jpeg: status = encodeJpeg(image, file); break;
        case FileFormat::Bmp: status = encodeBmp(image, file); break;
        case FileFormat::Unknown: break;
    }
    // Buffered bytes reach the disk only at the close, so a full disk may
    // show only here.
    if (std::fclose(file) != 0 && status == TAVOIMG_OK) status = TAVOIMG_ERR_WRITE;
    if (status == TAVOIMG_OK && !renameNamedFile(temporary, path)) status = TAVOIMG_ERR_WRITE;
    if (status != TAVOIMG_OK) removeNamedFile(temporary);
    return status;
}

std::size_t decodeMemoryBudget(std::FILE *file) {
    constexpr std::size_t kMemoryFloor = std::size_t{64} << 20;
    constexpr std::size_t kBytesPerFileByte = 2048;
    const long position = std::ftell(file);
    long fileBytes = 0;
    if (position >= 0 && std::fseek(file, 0, SEEK_END) == 0) fileBytes = std::max(std::ftell(file), 0L);
    if (position >= 0) std::fseek(file, position, SEEK_SET);
    return kMemoryFloor + static_cast<std::size_t>(fileBytes) * kBytesPerFileByte;
}

}  // namespace tavoimage
