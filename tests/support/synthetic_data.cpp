#include "support/synthetic_data.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "model/face_file.h"

namespace kelmo::testing {
namespace {

void writeImage(const std::vector<uint8_t> &pixels, int width, int height, TAVO_IMAGEMODE mode, int bytesPerPixel,
                const std::string &path) {
    ImageHandle image = -1;
    const bool written =
        TAVO_LoadImageFromBuffer(&image, pixels.data(), width, height, width * bytesPerPixel, mode) == 0 &&
        TAVO_SaveImageToFile(image, path.c_str()) == 0;
    TAVO_FreeImage(image);
    if (!written) throw std::runtime_error("cannot write test image " + path);
}

void writeBytes(const std::string &path, const void *bytes, std::size_t size) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot write " + path);
    std::fwrite(bytes, 1, size, file);
    std::fclose(file);
}

// n x n vertices over [x0, x0 + size] x [y0, y0 + size], bulging toward -z.
TRegion gridRegion(int n, float x0, float y0, float size, float z0, float bulge) {
    TRegion region = full_head_detail::patch(n, n, x0, y0, size, size, z0);
    for (TVector3f &v : region.vertices) v.z = z0 - bulge * (v.x * v.x + v.y * v.y);
    return region;
}

}  // namespace

std::array<TPointf, kFeaturePointCount> syntheticAlphaGridPoints() {
    std::array<TPointf, kFeaturePointCount> points{TPointf{110.0f, 120.0f},
                                                   TPointf{190.0f, 120.0f}};  // the eyes, level
    for (int k = 2; k < kFeaturePointCount; ++k) {
        const double angle = 2.0 * M_PI * (k - 2) / (kFeaturePointCount - 2);
        points[k] = {static_cast<float>(150.0 + 80.0 * std::cos(angle)),
                     static_cast<float>(160.0 + 100.0 * std::sin(angle))};
    }
    return points;
}

std::vector<TRegion> syntheticHeadRegions(int expression) {
    return {gridRegion(12, -1.0f, -1.0f, 2.0f, 1.0f + 0.01f * static_cast<float>(expression), 0.3f),
            gridRegion(3, -0.6f, 0.3f, 0.2f, 1.1f, 0.0f), gridRegion(3, 0.4f, 0.3f, 0.2f, 1.1f, 0.0f),
            gridRegion(2, -0.2f, -0.4f, 0.4f, 0.9f, 0.0f), gridRegion(2, -0.2f, -0.6f, 0.4f, 0.9f, 0.0f)};
}

std::string makeTemporaryDirectory(const std::string &stem) {
    static int counter = 0;
    const std::filesystem::path path = std::filesystem::path(::testing::TempDir()) /
                                       (stem + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path.string();
}

std::string writeSyntheticDataDirectory(const std::string &directory, const SyntheticDataFiles &files) {
    std::filesystem::create_directories(std::filesystem::path(directory) / "wrl");
    const std::string dir = directory + "/";
    std::string text;
    auto writeText = [&](const std::string &name) { writeBytes(dir + name, text.data(), text.size()), text.clear(); };
    if (files.alphaPng) {  // an opaque ellipse on a transparent background
        std::vector<uint8_t> rgba;
        for (int y = 0; y < kAlphaImageSize; ++y)
            for (int x = 0; x < kAlphaImageSize; ++x) {
                const double dx = (x - 150.0) / 110.0, dy = (y - 160.0) / 135.0;
                rgba.insert(rgba.end(), {uint8_t(x), uint8_t(y), 90, uint8_t(dx * dx + dy * dy <= 1.0 ? 255 : 0)});
            }
        writeImage(rgba, kAlphaImageSize, kAlphaImageSize, TAVO_IMAGEMODE_COLOR_ALPHA, 4, dir + "alpha.png");
    }
    if (files.alphaGrd) {
        text = "66\n";
        for (const TPointf &point : files.fullHead ? fullHeadAlphaGridPoints() : syntheticAlphaGridPoints()) {
            char line[64];
            std::snprintf(line, sizeof line, "%.3f %.3f\n", point.x, point.y);
            text += line;
        }
        writeText("alpha.grd");
    }
    std::vector<uint8_t> teeth;
    for (std::size_t k = 0; k < 64 * 32 * 4; k += 4) teeth.insert(teeth.end(), {240, 240, 230, uint8_t(k % 256)});
    if (files.teethLower) writeImage(teeth, 64, 32, TAVO_IMAGEMODE_COLOR_ALPHA, 4, dir + "wrl/Head_teethLower.png");
    if (files.teethUpper) writeImage(teeth, 64, 32, TAVO_IMAGEMODE_COLOR_ALPHA, 4, dir + "wrl/Head_teethUpper.png");
    if (files.sock)
        writeImage(std::vector<uint8_t>(32 * 32 * 3, 70), 32, 32, TAVO_IMAGEMODE_COLOR, 3, dir + "wrl/head_sock.bmp");
    if (files.grd66) {
        // The small head: feature point k on vertex k + 10 of its region, the
        // eyeball points (0, 29, 30 on region 1; 1, 33, 34 on region 2) on 4, 0, 8.
        const std::vector<int32_t> table = files.fullHead ? fullHeadLandmarkTable() : std::vector<int32_t>{};
        for (int k = 0; k < kFeaturePointCount; ++k)
            text += std::to_string(k) + " " +
                    std::to_string(files.fullHead       ? table[static_cast<std::size_t>(k)]
                                   : k == 0 || k == 1   ? 4
                                   : k == 29 || k == 33 ? 0
                                   : k == 30 || k == 34 ? 8
                                                        : k + 10) +
                    "\n";
        writeText("grd66.txt");
    }
    if (files.list7 && files.fullHead) {
        for (const int32_t index : fullHeadList7Table()) text += std::to_string(index) + " ";
        text += "\n";
        writeText("list7.txt");
    } else if (files.list7) {
        // 38 distinct vertices of region 0, not a geometric ring: tests of
        // the small head never build the mouth cavity.
        for (int k = 0; k < 38; ++k) text += std::to_string(13 + k) + (k % 10 == 9 ? "\n" : " ");
        writeText("list7.txt");
    }
    const char *faceNames[4] = {"CloseNeutral.face", "OpenNeutral.face", "CloseSmile.face", "OpenSmile.face"};
    for (int i = 0; i < 4; ++i)
        if (files.faces[static_cast<std::size_t>(i)] &&
            writeFaceFile(files.fullHead ? fullHeadRegions(i) : syntheticHeadRegions(i), dir + faceNames[i]) != 0)
            throw std::runtime_error("cannot write face file");
    if (files.sqrt) {
        static_assert(std::endian::native == std::endian::little, "sqrt.dat holds little-endian floats");
        std::vector<float> roots(std::size_t{1} << 21);
        for (std::size_t i = 0; i < roots.size(); ++i) roots[i] = std::sqrt(static_cast<float>(i));
        writeBytes(dir + "sqrt.dat", roots.data(), roots.size() * 4);
    }
    return dir;
}

}  // namespace kelmo::testing
