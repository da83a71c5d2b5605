#include "support/synthetic_data.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "model/face_file.h"

namespace kelmo::testing {
namespace {

void writeImage(const std::vector<uint8_t> &pixels, int width, int height, TAVO_IMAGEMODE mode,
                int bytesPerPixel, const std::string &path) {
    ImageHandle image = -1;
    if (TAVO_LoadImageFromBuffer(&image, pixels.data(), width, height, width * bytesPerPixel, mode) != 0 ||
        TAVO_SaveImageToFile(image, path.c_str()) != 0) {
        TAVO_FreeImage(image);
        throw std::runtime_error("cannot write test image " + path);
    }
    TAVO_FreeImage(image);
}

void writeText(const std::string &path, const std::string &text) {
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (file == nullptr) throw std::runtime_error("cannot write " + path);
    std::fputs(text.c_str(), file);
    std::fclose(file);
}

// A grid of n x n vertices over [-1, 1]^2, quads between them, texture
// coordinates one per vertex.
TRegion gridRegion(int n, float x0, float y0, float size, float z0, float bulge) {
    TRegion region;
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            const float u = static_cast<float>(i) / static_cast<float>(n - 1);
            const float v = static_cast<float>(j) / static_cast<float>(n - 1);
            const float x = x0 + size * u, y = y0 + size * v;
            region.vertices.push_back({x, y, z0 - bulge * (x * x + y * y)});
            region.textureCoords.push_back({u, v});
        }
    }
    for (int j = 0; j + 1 < n; ++j) {
        for (int i = 0; i + 1 < n; ++i) {
            const int32_t a = j * n + i;
            const Quad quad{a, a + 1, a + n + 1, a + n};
            region.quads.push_back(quad);
            region.textureQuads.push_back(quad);
        }
    }
    return region;
}

}  // namespace

std::array<TPointf, kFeaturePointCount> syntheticAlphaGridPoints() {
    std::array<TPointf, kFeaturePointCount> points{};
    points[0] = {110.0f, 120.0f};  // the two eye centres: level
    points[1] = {190.0f, 120.0f};
    for (int k = 2; k < kFeaturePointCount; ++k) {
        const double angle = 2.0 * M_PI * (k - 2) / (kFeaturePointCount - 2);
        points[k] = {static_cast<float>(150.0 + 80.0 * std::cos(angle)),
                     static_cast<float>(160.0 + 100.0 * std::sin(angle))};
    }
    return points;
}

std::vector<TRegion> syntheticHeadRegions(int expression) {
    std::vector<TRegion> regions;
    regions.push_back(gridRegion(12, -1.0f, -1.0f, 2.0f, 1.0f + 0.01f * static_cast<float>(expression), 0.3f));
    regions.push_back(gridRegion(3, -0.6f, 0.3f, 0.2f, 1.1f, 0.0f));
    regions.push_back(gridRegion(3, 0.4f, 0.3f, 0.2f, 1.1f, 0.0f));
    regions.push_back(gridRegion(2, -0.2f, -0.4f, 0.4f, 0.9f, 0.0f));
    regions.push_back(gridRegion(2, -0.2f, -0.6f, 0.4f, 0.9f, 0.0f));
    return regions;
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

    if (files.alphaPng) {
        // An opaque ellipse on a transparent background, colour irrelevant.
        const int n = kAlphaImageSize;
        std::vector<uint8_t> rgba(static_cast<std::size_t>(n) * n * 4);
        for (int y = 0; y < n; ++y) {
            for (int x = 0; x < n; ++x) {
                const double dx = (x - 150.0) / 110.0, dy = (y - 160.0) / 135.0;
                uint8_t *p = &rgba[(static_cast<std::size_t>(y) * n + x) * 4];
                p[0] = static_cast<uint8_t>(x);
                p[1] = static_cast<uint8_t>(y);
                p[2] = 90;
                p[3] = dx * dx + dy * dy <= 1.0 ? 255 : 0;
            }
        }
        writeImage(rgba, n, n, TAVO_IMAGEMODE_COLOR_ALPHA, 4, dir + "alpha.png");
    }
    if (files.alphaGrd) {
        std::string text = "66\n";
        for (const TPointf &point : files.fullHead ? fullHeadAlphaGridPoints() : syntheticAlphaGridPoints()) {
            char line[64];
            std::snprintf(line, sizeof line, "%.3f %.3f\n", point.x, point.y);
            text += line;
        }
        writeText(dir + "alpha.grd", text);
    }
    if (files.teethLower || files.teethUpper) {
        std::vector<uint8_t> rgba(64 * 32 * 4);
        for (std::size_t k = 0; k < rgba.size(); k += 4) {
            rgba[k] = rgba[k + 1] = 240;
            rgba[k + 2] = 230;
            rgba[k + 3] = static_cast<uint8_t>(k % 256);
        }
        if (files.teethLower) writeImage(rgba, 64, 32, TAVO_IMAGEMODE_COLOR_ALPHA, 4, dir + "wrl/Head_teethLower.png");
        if (files.teethUpper) writeImage(rgba, 64, 32, TAVO_IMAGEMODE_COLOR_ALPHA, 4, dir + "wrl/Head_teethUpper.png");
    }
    if (files.sock) {
        std::vector<uint8_t> rgb(32 * 32 * 3, 70);
        writeImage(rgb, 32, 32, TAVO_IMAGEMODE_COLOR, 3, dir + "wrl/head_sock.bmp");
    }
    if (files.grd66 && files.fullHead) {
        std::string text;
        const std::vector<int32_t> table = fullHeadLandmarkTable();
        for (int k = 0; k < kFeaturePointCount; ++k) {
            text += std::to_string(k) + " " + std::to_string(table[static_cast<std::size_t>(k)]) + "\n";
        }
        writeText(dir + "grd66.txt", text);
    } else if (files.grd66) {
        // Feature point k on vertex k + 10 of its region; the eyeball points
        // (0, 29, 30 on region 1; 1, 33, 34 on region 2) on vertices 0..2.
        std::string text;
        for (int k = 0; k < kFeaturePointCount; ++k) {
            int vertex = k + 10;
            if (k == 0 || k == 1) vertex = 4;
            if (k == 29 || k == 33) vertex = 0;
            if (k == 30 || k == 34) vertex = 8;
            text += std::to_string(k) + " " + std::to_string(vertex) + "\n";
        }
        writeText(dir + "grd66.txt", text);
    }
    if (files.list7 && files.fullHead) {
        std::string text;
        for (const int32_t index : fullHeadList7Table()) text += std::to_string(index) + " ";
        writeText(dir + "list7.txt", text + "\n");
    } else if (files.list7) {
        // 38 distinct vertex indices of region 0 (13 to 50). They do not run
        // around a geometric ring: these tests never build the mouth cavity.
        std::string text;
        for (int k = 0; k < 38; ++k) text += std::to_string(13 + k) + (k % 10 == 9 ? "\n" : " ");
        writeText(dir + "list7.txt", text);
    }
    const char *faceNames[4] = {"CloseNeutral.face", "OpenNeutral.face", "CloseSmile.face", "OpenSmile.face"};
    for (int i = 0; i < 4; ++i) {
        if (files.faces[static_cast<std::size_t>(i)] &&
            writeFaceFile(files.fullHead ? fullHeadRegions(i) : syntheticHeadRegions(i), dir + faceNames[i]) != 0) {
            throw std::runtime_error("cannot write face file");
        }
    }
    if (files.sqrt) {
        std::FILE *file = std::fopen((dir + "sqrt.dat").c_str(), "wb");
        if (file == nullptr) throw std::runtime_error("cannot write sqrt.dat");
        std::vector<uint8_t> bytes(std::size_t{4} << 21);
        for (std::size_t i = 0; i < (std::size_t{1} << 21); ++i) {
            const float root = std::sqrt(static_cast<float>(i));
            uint32_t bits;
            std::memcpy(&bits, &root, 4);
            for (int b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<uint8_t>(bits >> (8 * b));
        }
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    return dir;
}

}  // namespace kelmo::testing
