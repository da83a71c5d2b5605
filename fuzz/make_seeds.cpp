// Writes the seed corpus of every fuzz target: small valid files of each
// format, mostly taken from the generic head's data directory.
//   kelmo_fuzz_seeds DATA_DIR/ OUT_DIR
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kelmo.h"
#include "model/face_file.h"

namespace fs = std::filesystem;

namespace {

std::string out;

void put(const std::string &name, const std::string &bytes) {
    fs::create_directories(fs::path(out + name).parent_path());
    std::ofstream(out + name, std::ios::binary) << bytes;
}

std::string slurp(const std::string &path, std::size_t limit = std::string::npos) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (bytes.empty()) throw std::runtime_error("missing " + path);
    return bytes.substr(0, limit);
}

std::vector<uint8_t> gradient(int width, int height, int channels) {
    std::vector<uint8_t> pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c) pixels.push_back(uint8_t(x * 16 + y * 9 + c * 60));
    return pixels;
}

void image(const std::string &name, int channels) {
    const std::vector<uint8_t> pixels = gradient(12, 9, channels);
    ImageHandle handle = -1;
    const auto mode = channels == 1 ? TAVO_IMAGEMODE_GREY : channels == 3 ? TAVO_IMAGEMODE_COLOR : TAVO_IMAGEMODE_COLOR_ALPHA;
    TAVO_LoadImageFromBuffer(&handle, pixels.data(), 12, 9, 12 * channels, mode);
    const std::string path = out + "image/" + name;
    fs::create_directories(out + "image");
    if (TAVO_SaveImageToFile(handle, path.c_str()) != 0) throw std::runtime_error("cannot write " + path);
    TAVO_FreeImage(handle);
}

kelmo::TRegion patch(int n, float z) {
    kelmo::TRegion region;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            region.vertices.push_back({float(x), float(y), z});
            region.textureCoords.push_back({x / float(n), y / float(n)});
            if (x + 1 < n && y + 1 < n) region.quads.push_back({y * n + x, y * n + x + 1, (y + 1) * n + x + 1, (y + 1) * n + x});
        }
    region.textureQuads = region.quads;
    return region;
}

// Six shapes in the exporter's layout, behind the two-byte length of a
// visibility file that marks every other quad.
std::string vrml(int size) {
    std::string text = "#VRML V2.0 utf8\n", visible;
    char line[96];
    for (int k = 0; k < 6; ++k) {
        const kelmo::TRegion shape = patch(size + k % 2, 0.5f * k);
        text += "Shape { coord Coordinate { point [\n";
        for (const TVector3f &p : shape.vertices) text += (std::snprintf(line, 96, "  %g %g %g,\n", p.x, p.y, p.z), line);
        text += " ] }\n # texture file head.png\n texCoord TextureCoordinate { point [\n";
        for (const TPointf &t : shape.textureCoords) text += (std::snprintf(line, 96, "  %g %g,\n", t.x, t.y), line);
        for (const char *opening : {" ] }\n coordIndex [\n", " ]\n texCoordIndex [\n"})
            for (std::size_t q = 0; q <= shape.quads.size(); ++q) {
                if (q == 0) text += opening;
                if (q == shape.quads.size()) break;
                const kelmo::Quad &c = shape.quads[q];
                text += (std::snprintf(line, 96, "  %d, %d, %d, %d, -1,\n", c[0], c[1], c[2], c[3]), line);
            }
        text += " ] }\n";
        if (k == 2)
            for (std::size_t q = 0; q < shape.quads.size(); ++q) visible += char(q % 2);
    }
    return std::string{char(visible.size()), char(visible.size() >> 8)} + visible + text;
}

}  // namespace

int main(int argc, char **argv) try {
    if (argc != 3) return 2;
    const std::string data = argv[1];
    out = std::string(argv[2]) + "/";
    for (const int channels : {1, 3, 4}) {
        const std::string stem = "gradient" + std::to_string(channels);
        image(stem + ".png", channels), image(stem + ".jpg", channels), image(stem + ".bmp", channels);
    }
    put("image/sock.bmp", slurp(data + "wrl/head_sock.bmp"));

    for (const int n : {2, 3}) {
        const std::vector<kelmo::TRegion> regions{patch(n + 2, 1.0f), patch(n, 1.1f), patch(n, 1.2f), patch(2, 0.9f), patch(2, 0.8f)};
        fs::create_directories(out + "face_file");
        if (kelmo::writeFaceFile(regions, out + "face_file/small" + std::to_string(n) + ".face") != 0) return 1;
    }
    put("landmark_table/grd66.txt", slurp(data + "grd66.txt"));
    put("landmark_table/hex.txt", "0 0x10\n1 010\n2 +3\n" + slurp(data + "grd66.txt").substr(12));
    put("lip_ring/list7.txt", slurp(data + "list7.txt"));
    put("alpha_grid/alpha.grd", slurp(data + "alpha.grd"));
    put("alpha_grid/two.grd", "2\n10.5 12\n30 12.25\n");
    put("sqrt_table/short", std::string(1, '\0') + slurp(data + "sqrt.dat", 64));
    put("sqrt_table/long", std::string("\x01\x10\x00\x00", 4) + slurp(data + "sqrt.dat", 256).substr(128));
    put("vrml/small", vrml(2));
    put("vrml/larger", vrml(5));

    std::string points;
    std::ifstream grid(data + "alpha.grd");
    float x = 0, y = 0;
    for (grid >> x; grid >> x >> y;) points += std::to_string(std::lround(x / 2)) + " " + std::to_string(y / 2) + "\n";
    put("points_file/points.txt", points);
    put("points_file/commented.txt", "# three points\n\n10 20\n-3.5 4e1\n  7\t8  \n");
    put("muscle_file/zygomatic.muscle",
        "# pulls the right mouth corner up and out\n"
        "attachment feature 36  -0.2 -0.9 0\ninsertion  feature 3\nbound1     feature 36  -0.6 -0.9 0\n"
        "bound2     feature 36   0.2 -0.9 0\nextension  0.3\nstrength   0.25\nsharpness  1\nregions    3\n");
    put("muscle_file/absolute.muscle", "attachment 0 0 0\ninsertion 1 0.5 1\nbound1 1 1 1\nbound2 1 -1 1\nstrength 2\n");
    // A host's session, call by call (the bytes that fuzz_api_sequence.cpp
    // reads for each): a model, creation from the photo, a render, a morph
    // loaded, converted and applied, a muscle, a copy, a warp, a face frame.
    std::string session = {0, 0, 7, 0, 0, 0, 0, 1, 0, 0, 3, 10, 1, 1, 11, 0, 1, 0, 0, 13, 0, 1, 0, 14, 0, 1,
                           15, 0, 1, 0, 64, 16, 0, 36, 64, 64, 64, 3, 64, 64, 64, 36, 0, 64, 64, 36, 127, 64, 64,
                           64, 64, 64, 64, 0, 0, 2, 0, 1, 17, 2};
    for (int k = 0; k < 16; ++k) session += {char(k % 6), char(k % 5)};
    session += {0, 1, 0, 8, 0, 0, 0, 0, 1, 0};
    put("api_sequence/session", session);
    put("api_sequence/create", session.substr(0, 10));
    return 0;
} catch (const std::exception &error) {
    std::fprintf(stderr, "kelmo_fuzz_seeds: %s\n", error.what());
    return 1;
}
