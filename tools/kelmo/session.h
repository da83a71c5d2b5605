// The tool's side of the TAVO_ interface: finding the data directory,
// initialising the library for one command, and owners of image and model
// handles that free them on every path out of a command.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kelmo.h"

namespace kelmo::cli {

// The data directory that TAVO_InitKelmo reads, with a trailing '/': --data when given;
// otherwise $KELMO_DATA_DIR; otherwise the first of <exe>/../data/ (the build
// tree), <exe>/../share/kelmo/data/ (an installed tree) and the install
// prefix's share/kelmo/data/ that holds "grd66.txt". Throws CliError when
// none does.
std::string findDataDirectory(const std::optional<std::string> &option);

// The sample photo of `kelmo demo`: <exe>/../sample/astronaut.png (fetched
// into the build folder by scripts/install-deps.sh) or the installed
// share/kelmo/sample/astronaut.png; empty when neither exists.
std::string findSamplePhoto();

// Folder of the running executable.
std::string executableDirectory();

// TAVO_InitKelmo for the life of a command; TAVO_FinalizeKelmo at its end.
class LibrarySession {
public:
    explicit LibrarySession(const std::string &dataDirectory);
    ~LibrarySession();
    LibrarySession(const LibrarySession &) = delete;
    LibrarySession &operator=(const LibrarySession &) = delete;
    const std::string &dataDirectory() const { return dataDirectory_; }

private:
    std::string dataDirectory_;
};

// An image handle of tavoimage, freed on destruction.
class Image {
public:
    Image();  // a new empty image
    explicit Image(ImageHandle adopted) : handle_(adopted) {}
    ~Image();
    Image(Image &&other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
    Image &operator=(Image &&other) noexcept;
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;

    ImageHandle handle() const { return handle_; }
    int width() const;
    int height() const;
    // The pixels in `mode` (packed rows, top row first).
    std::vector<uint8_t> pixels(TAVO_IMAGEMODE mode) const;
    static Image fromPixels(const std::vector<uint8_t> &pixels, int width, int height, TAVO_IMAGEMODE mode);

private:
    ImageHandle handle_ = -1;
};

// Loads a photo (PNG, JPEG or BMP) as colour, or with its alpha channel;
// throws CliError naming the file and the reason.
Image loadPhoto(const std::string &path, bool withAlpha = false);

// A model handle of libkelmo, freed on destruction.
class Model {
public:
    explicit Model(bool disableMask);
    ~Model();
    Model(const Model &) = delete;
    Model &operator=(const Model &) = delete;
    int32_t handle() const { return handle_; }

private:
    int32_t handle_ = -1;
};

// Throws CliError "<what>: <status text>" when status is not 0.
void check(int32_t status, const std::string &what);

}  // namespace kelmo::cli
