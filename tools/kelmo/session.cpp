// The tool's side of the TAVO_ interface (see session.h).
#include "tools/kelmo/session.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "tools/kelmo/cli.h"

#ifndef KELMO_INSTALL_DATA_DIR
#define KELMO_INSTALL_DATA_DIR "/usr/local/share/kelmo/data"
#endif

namespace kelmo::cli {

namespace fs = std::filesystem;

std::string executableDirectory() {
#if defined(_WIN32)
    std::wstring exe(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()));
    if (length == 0 || length >= exe.size()) return ".";
    exe.resize(length);
    return fs::path(exe).parent_path().string();
#else
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return ".";
    return exe.parent_path().string();
#endif
}

namespace {
std::string withSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir;
}
bool holdsData(const std::string &dir) {
    std::error_code ec;
    return fs::is_regular_file(fs::path(dir) / "grd66.txt", ec);
}
}  // namespace

std::string findDataDirectory(const std::optional<std::string> &option) {
    if (option) {
        if (!holdsData(*option))
            throw failure("--data '" + *option + "' is not a kelmo data directory (it has no grd66.txt)");
        return withSlash(*option);
    }
    if (const char *env = std::getenv("KELMO_DATA_DIR"); env != nullptr && *env != '\0') {
        if (!holdsData(env))
            throw failure("KELMO_DATA_DIR '" + std::string(env) + "' is not a kelmo data directory (no grd66.txt)");
        return withSlash(env);
    }
    const std::string exeDir = executableDirectory();
    for (const std::string &candidate : {exeDir + "/../data", exeDir + "/../share/kelmo/data",
                                         std::string(KELMO_INSTALL_DATA_DIR)}) {
        if (holdsData(candidate)) return withSlash(fs::weakly_canonical(candidate).string());
    }
    throw failure("no data directory found: build the project (make build), or give --data DIR "
                  "or set KELMO_DATA_DIR");
}

std::string findSamplePhoto() {
    const std::string exeDir = executableDirectory();
    std::error_code ec;
    for (const std::string &candidate : {exeDir + "/../sample/astronaut.png",
                                         exeDir + "/../share/kelmo/sample/astronaut.png"}) {
        if (fs::is_regular_file(candidate, ec)) return fs::weakly_canonical(candidate).string();
    }
    return {};
}

LibrarySession::LibrarySession(const std::string &dataDirectory) : dataDirectory_(dataDirectory) {
    const int32_t status = TAVO_InitKelmo(dataDirectory_.c_str());
    if (status != 0) {
        TAVO_FinalizeKelmo();
        throw failure("cannot initialise the library from the data directory '" + dataDirectory_ +
                      "': " + statusText(status));
    }
}

LibrarySession::~LibrarySession() { TAVO_FinalizeKelmo(); }

void check(int32_t status, const std::string &what) {
    if (status != 0) throw failure(what + ": " + statusText(status));
}

Image::Image() { check(TAVO_CreateEmptyImage(&handle_), "cannot create an image"); }

Image::~Image() {
    if (handle_ >= 0) TAVO_FreeImage(handle_);
}

Image &Image::operator=(Image &&other) noexcept {
    if (this != &other) {
        if (handle_ >= 0) TAVO_FreeImage(handle_);
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

int Image::width() const {
    int32_t w = 0;
    TAVO_GetImageWidth(handle_, &w);
    return w;
}

int Image::height() const {
    int32_t h = 0;
    TAVO_GetImageHeight(handle_, &h);
    return h;
}

std::vector<uint8_t> Image::pixels(TAVO_IMAGEMODE mode) const {
    int32_t size = 0;
    check(TAVO_GetImageBufferSize(handle_, &size, mode), "cannot size an image buffer");
    std::vector<uint8_t> out(static_cast<std::size_t>(size));
    if (size > 0) check(TAVO_SaveImageToBuffer(handle_, out.data(), mode), "cannot read an image's pixels");
    return out;
}

Image Image::fromPixels(const std::vector<uint8_t> &pixels, int width, int height, TAVO_IMAGEMODE mode) {
    const int bytes = mode == TAVO_IMAGEMODE_GREY ? 1 : mode == TAVO_IMAGEMODE_COLOR ? 3 : 4;
    ImageHandle h = -1;
    check(TAVO_LoadImageFromBuffer(&h, pixels.empty() ? nullptr : pixels.data(), width, height, width * bytes, mode),
          "cannot make an image of " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
    return Image(h);
}

Image loadPhoto(const std::string &path, bool withAlpha) {
    std::error_code ec;
    if (!fs::exists(path, ec)) throw failure("cannot read '" + path + "': no such file");
    if (fs::is_directory(path, ec)) throw failure("cannot read '" + path + "': it is a folder, not an image");
    ImageHandle h = -1;
    const int32_t status =
        withAlpha ? TAVO_LoadImageFromFileWithAlpha(&h, path.c_str()) : TAVO_LoadImageFromFile(&h, path.c_str());
    if (status != 0) throw failure("cannot read '" + path + "': " + statusText(status));
    Image image(h);
    if (image.width() == 0 || image.height() == 0) throw failure("'" + path + "' is an empty image");
    return image;
}

Model::Model(bool disableMask) {
    check(TAVO_InitModel(&handle_, disableMask ? 1 : 0), "cannot create a model");
}

Model::~Model() {
    if (handle_ >= 0) TAVO_FreeModel(handle_);
}

}  // namespace kelmo::cli
