// The kelmo tool, run as a user runs it (tools/kelmo, issue 8): landmarks on
// the sample photo land in the face's regions; create writes a model whose
// OBJ reloads with the library's own counts and coordinates; the rendered
// front view correlates with the photo's face frame; morphs, muscles and
// turntables render; frame and warp do what Parts 3.2 and 6.1 say; batch
// skips what it cannot use and goes on; demo writes an index.html with every
// picture; every subcommand has --help, and every bad input exits non-zero
// with a message that names the problem and writes nothing; the C example
// host runs; the installed package builds an outside C project.
//
// The sample photo (build/sample/astronaut.png: NASA's public-domain portrait
// of Eileen Collins, 512 x 512) is fetched by scripts/install-deps.sh; the
// CTest fixture kelmo_sample_photo fetches it when missing. The face regions
// of the landmark test were read off the photo by eye on a 10-pixel grid.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "kelmo.h"
#include "tests/tools/process_runner.h"

namespace {

namespace fs = std::filesystem;
using kelmo::test::ProcessResult;
using kelmo::test::runProcess;

const std::string kTool = KELMO_TOOL;
const std::string kSamplePhoto = KELMO_SAMPLE_PHOTO;
const std::string kDataDir = KELMO_DATA_DIR;

// ---- Helpers ------------------------------------------------------------------------

class KelmoTool : public ::testing::Test {
protected:
    void SetUp() override {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = fs::temp_directory_path() / ("kelmo_cli_test_" + std::to_string(getpid()));
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        std::replace(name.begin(), name.end(), '/', '_');  // parametrised suites: "Cases/KelmoBadCall"
        folder_ = root_ / name;
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "in");
        fs::create_directories(folder_ / "work");
        ASSERT_TRUE(fs::is_regular_file(kSamplePhoto))
            << kSamplePhoto << " is missing: run `bash scripts/install-deps.sh <build folder>`";
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(root_);
    }

    // Inputs live in in/, the tool runs in work/ and writes there.
    fs::path in(const std::string &name) const { return folder_ / "in" / name; }
    fs::path work(const std::string &name = "") const { return name.empty() ? folder_ / "work" : folder_ / "work" / name; }

    ProcessResult kelmo(std::vector<std::string> args, double stopAfter = 0.0) const {
        args.insert(args.begin(), kTool);
        return runProcess(args, work().string(), stopAfter);
    }

    // The sample photo's 66 points, found by the tool once per test.
    std::string samplePoints() {
        const fs::path p = in("sample_points.txt");
        if (!fs::exists(p)) {
            const ProcessResult r = kelmo({"landmarks", kSamplePhoto, "-o", p.string()});
            EXPECT_EQ(r.exitCode, 0) << r.err;
        }
        return p.string();
    }

    fs::path root_;
    fs::path folder_;
};

std::string readText(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeText(const fs::path &p, const std::string &text) { std::ofstream(p, std::ios::binary) << text; }

std::vector<std::pair<int, int>> parsePointLines(const std::string &text) {
    std::vector<std::pair<int, int>> points;
    std::istringstream in(text);
    int x, y;
    while (in >> x >> y) points.emplace_back(x, y);
    return points;
}

std::vector<std::string> entriesBelow(const fs::path &dir) {
    std::vector<std::string> names;
    if (!fs::exists(dir)) return names;
    for (const auto &e : fs::recursive_directory_iterator(dir)) names.push_back(fs::relative(e.path(), dir).string());
    std::sort(names.begin(), names.end());
    return names;
}

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    bool loaded = false;
    const uint8_t *at(int x, int y) const { return rgba.data() + (static_cast<std::size_t>(y) * width + x) * 4; }
};

Picture loadPicture(const fs::path &p) {
    Picture pic;
    ImageHandle h = -1;
    if (TAVO_LoadImageFromFileWithAlpha(&h, p.c_str()) != 0) return pic;
    TAVO_GetImageWidth(h, &pic.width);
    TAVO_GetImageHeight(h, &pic.height);
    int32_t size = 0;
    TAVO_GetImageBufferSize(h, &size, TAVO_IMAGEMODE_COLOR_ALPHA);
    pic.rgba.resize(static_cast<std::size_t>(size));
    if (size > 0) TAVO_SaveImageToBuffer(h, pic.rgba.data(), TAVO_IMAGEMODE_COLOR_ALPHA);
    TAVO_FreeImage(h);
    pic.loaded = true;
    return pic;
}

void savePicture(const std::vector<uint8_t> &rgb, int w, int h, const fs::path &p) {
    ImageHandle image = -1;
    ASSERT_EQ(TAVO_LoadImageFromBuffer(&image, rgb.data(), w, h, w * 3, TAVO_IMAGEMODE_COLOR), 0);
    ASSERT_EQ(TAVO_SaveImageToFile(image, p.c_str()), 0);
    TAVO_FreeImage(image);
}

// A picture without a face: a smooth colour gradient.
void writeFacelessPhoto(const fs::path &p, int w = 300, int h = 300) {
    std::vector<uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t *q = rgb.data() + (static_cast<std::size_t>(y) * w + x) * 3;
            q[0] = static_cast<uint8_t>(x * 255 / w), q[1] = static_cast<uint8_t>(y * 255 / h), q[2] = 128;
        }
    savePicture(rgb, w, h, p);
}

double luma(const uint8_t *p) { return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]; }

// ---- landmarks ------------------------------------------------------------------------

// Regions read off the sample photo (512 x 512) by eye: the subject's right
// eye lies at about (203, 101), the left at (246, 103); the mouth corners at
// (203, 141) and (244, 141); the open mouth shows the upper teeth from the
// inner edge of the upper lip at y = 142 to the lower lip's at y = 150.
TEST_F(KelmoTool, LandmarksOfTheSamplePhotoLieInTheirFaceRegions) {
    const ProcessResult r = kelmo({"landmarks", kSamplePhoto});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto p = parsePointLines(r.out);
    ASSERT_EQ(p.size(), 66u) << r.out;
    auto inside = [&](int i, int x1, int x2, int y1, int y2) {
        EXPECT_TRUE(p[i].first >= x1 && p[i].first <= x2 && p[i].second >= y1 && p[i].second <= y2)
            << "point " << i << " at (" << p[i].first << ", " << p[i].second << ") is not in x " << x1 << ".." << x2
            << ", y " << y1 << ".." << y2;
    };
    inside(0, 195, 212, 95, 108);   // right eye centre (left in the picture)
    inside(1, 236, 256, 95, 108);   // left eye centre
    inside(3, 193, 210, 134, 150);  // right mouth corner
    inside(4, 238, 254, 134, 150);  // left mouth corner
    inside(61, 216, 232, 136, 147); // inner upper lip, middle
    inside(64, 216, 232, 145, 158); // inner lower lip, middle
    EXPECT_LT(p[61].second, p[64].second);  // the mouth is open: upper above lower
}

TEST_F(KelmoTool, LandmarksWritesThePointsFileAndTheDrawingAndNothingOnStdout) {
    const ProcessResult r = kelmo({"landmarks", kSamplePhoto, "-o", "p.txt", "--draw", "face.png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(parsePointLines(readText(work("p.txt"))).size(), 66u);
    const Picture drawing = loadPicture(work("face.png"));
    ASSERT_TRUE(drawing.loaded);
    // The face is about 100 pixels wide: the drawing enlarges its crop.
    EXPECT_GT(drawing.width, 300);
    EXPECT_EQ(entriesBelow(work()), (std::vector<std::string>{"face.png", "p.txt"}));
}

// Two faces side by side on a grey picture: the sample photo's head (the
// square 130..309 x 40..219) at its size on the left and enlarged 1.5 times
// on the right (nearest-pixel scaling, in the test).
TEST_F(KelmoTool, LandmarksTakeTheLargestFaceOrTheNthFromTheLeft) {
    const Picture photo = loadPicture(kSamplePhoto);
    const int w = 200 + 300, h = 300;
    std::vector<uint8_t> rgb(static_cast<std::size_t>(w) * h * 3, 128);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t *src = nullptr;
            if (x < 180 && y >= 60 && y < 240) src = photo.at(130 + x, 40 + (y - 60));
            else if (x >= 200 && x < 470 && y < 270) src = photo.at(130 + (x - 200) * 2 / 3, 40 + y * 2 / 3);
            if (src) std::copy(src, src + 3, rgb.begin() + (static_cast<std::ptrdiff_t>(y) * w + x) * 3);
        }
    savePicture(rgb, w, h, in("two.png"));

    const ProcessResult largest = kelmo({"landmarks", in("two.png").string()});
    ASSERT_EQ(largest.exitCode, 0) << largest.err;
    EXPECT_NE(largest.err.find("2 faces"), std::string::npos) << largest.err;
    EXPECT_GT(parsePointLines(largest.out)[0].first, 200);

    const ProcessResult first = kelmo({"landmarks", in("two.png").string(), "--face", "1"});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_LT(parsePointLines(first.out)[0].first, 180);

    const ProcessResult third = kelmo({"landmarks", in("two.png").string(), "--face", "3"});
    EXPECT_EQ(third.exitCode, 1);
    EXPECT_NE(third.err.find("shows 2 faces"), std::string::npos) << third.err;
}

// ---- create --------------------------------------------------------------------------

TEST_F(KelmoTool, CreateWritesTextureObjMtlPointsAndExpressionClass) {
    const std::string points = samplePoints();
    const ProcessResult r = kelmo({"create", kSamplePhoto, "--points", points, "-o", "model"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(entriesBelow(work("model")),
              (std::vector<std::string>{"model.mtl", "model.obj", "model.txt", "mouth.png", "photo.png",
                                        "points.txt", "texture.png"}));
    const Picture texture = loadPicture(work("model/texture.png"));
    ASSERT_TRUE(texture.loaded);
    EXPECT_EQ(texture.width, 256);  // Part 3.1: the 256 x 256 face frame
    EXPECT_EQ(texture.height, 256);
    // The alpha mask (Part 4.3): opaque in the middle of the face, clear in a corner.
    EXPECT_EQ(texture.at(128, 128)[3], 255);
    EXPECT_EQ(texture.at(0, 0)[3], 0);
    EXPECT_EQ(readText(work("model/points.txt")), readText(points));
    // The sample photo shows an open-mouthed smile (Part 3.1: class 3).
    EXPECT_NE(readText(work("model/model.txt")).find("\nexpression 3 open-mouth smiling\n"), std::string::npos);
    EXPECT_EQ(readText(work("model/photo.png")), readText(kSamplePhoto));
}

TEST_F(KelmoTool, CreateWithNoSmileAndClosedMouthRecordsTheClosedNeutralClass) {
    const ProcessResult r = kelmo({"create", kSamplePhoto, "--points", samplePoints(), "--no-smile", "--closed-mouth",
                                   "--generic-teeth", "-o", "model"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string record = readText(work("model/model.txt"));
    EXPECT_NE(record.find("\nexpression 0 closed-mouth neutral\n"), std::string::npos) << record;
    EXPECT_NE(record.find("\nteeth generic\n"), std::string::npos);
    EXPECT_TRUE(fs::exists(work("model/teeth_upper.png")));
    EXPECT_TRUE(fs::exists(work("model/teeth_lower.png")));
}

struct ObjObject {
    std::string name, material;
    int vertices = 0;
    std::vector<std::vector<int>> faces;
};

// The OBJ export read back: every object's vertices and faces; every face
// index names a vertex of its own object and equals its texture index.
TEST_F(KelmoTool, CreateObjReloadsWithTheModelsVertexAndFaceCounts) {
    const std::string points = samplePoints();
    ASSERT_EQ(kelmo({"create", kSamplePhoto, "--points", points, "-o", "model"}).exitCode, 0);

    std::vector<ObjObject> objects;
    std::vector<std::array<float, 3>> vertices;
    int textureCoords = 0;
    std::set<std::string> materialsUsed;
    std::istringstream obj(readText(work("model/model.obj")));
    std::string line;
    while (std::getline(obj, line)) {
        std::istringstream words(line);
        std::string tag;
        words >> tag;
        if (tag == "o") {
            objects.emplace_back();
            words >> objects.back().name;
        } else if (tag == "usemtl") {
            ASSERT_FALSE(objects.empty());
            words >> objects.back().material;
            materialsUsed.insert(objects.back().material);
        } else if (tag == "v") {
            std::array<float, 3> v{};
            ASSERT_TRUE(static_cast<bool>(words >> v[0] >> v[1] >> v[2])) << line;
            vertices.push_back(v);
            ++objects.back().vertices;
        } else if (tag == "vt") {
            float u = -1, t = -1;
            ASSERT_TRUE(static_cast<bool>(words >> u >> t)) << line;
            EXPECT_TRUE(u >= 0 && u <= 1 && t >= 0 && t <= 1) << line;
            ++textureCoords;
        } else if (tag == "f") {
            std::vector<int> face;
            for (std::string corner; words >> corner;) {
                const std::size_t slash = corner.find('/');
                ASSERT_NE(slash, std::string::npos) << line;
                const int v = std::stoi(corner.substr(0, slash)), t = std::stoi(corner.substr(slash + 1));
                EXPECT_EQ(v, t) << line;
                face.push_back(v);
            }
            EXPECT_TRUE(face.size() == 3 || face.size() == 4) << line;
            objects.back().faces.push_back(face);
        }
    }
    EXPECT_EQ(textureCoords, static_cast<int>(vertices.size()));

    // The same model, made by the library in this test.
    ASSERT_EQ(TAVO_InitKelmo(kDataDir.c_str()), 0);
    int32_t model = -1;
    ASSERT_EQ(TAVO_InitModel(&model, 0), 0);
    ImageHandle photo = -1;
    ASSERT_EQ(TAVO_LoadImageFromFile(&photo, kSamplePhoto.c_str()), 0);
    std::vector<int32_t> flat;
    for (const auto &[x, y] : parsePointLines(readText(points))) flat.push_back(x), flat.push_back(y);
    ASSERT_EQ(TAVO_CreateModelFromPhoto(model, photo, flat.data(), 0, nullptr), 0);

    // Regions 0 to 5 (head, eyes, teeth, mouth) are exported, in order.
    ASSERT_EQ(objects.size(), 6u);
    int base = 0;
    for (int region = 0; region < 6; ++region) {
        const ObjObject &o = objects[static_cast<std::size_t>(region)];
        int32_t n = 0, quadCount = 0;
        ASSERT_EQ(TAVO_GetModelNumVertices(model, region, &n), 0);
        ASSERT_EQ(TAVO_GetModelRegionNumQuads(model, region, &quadCount), 0);
        EXPECT_EQ(o.vertices, n) << o.name;
        std::vector<TVector3f> v(static_cast<std::size_t>(n));
        std::vector<int32_t> quads(4 * static_cast<std::size_t>(quadCount));
        TAVO_GetModelRegionVertices(model, region, v.data());
        TAVO_GetModelRegionQuads(model, region, quads.data());
        // Faces: the quads with at least three distinct corners.
        int expectedFaces = 0;
        for (int q = 0; q < quadCount; ++q) {
            std::set<int> distinct(quads.begin() + 4 * q, quads.begin() + 4 * q + 4);
            if (distinct.size() >= 3) ++expectedFaces;
        }
        EXPECT_EQ(static_cast<int>(o.faces.size()), expectedFaces) << o.name;
        for (const auto &face : o.faces)
            for (int index : face) EXPECT_TRUE(index > base && index <= base + n) << o.name << " face index " << index;
        // Coordinates come back exactly (written with 9 significant digits).
        for (int k = 0; k < n; k += 97) {
            const auto &back = vertices[static_cast<std::size_t>(base + k)];
            EXPECT_EQ(back[0], v[static_cast<std::size_t>(k)].x);
            EXPECT_EQ(back[1], v[static_cast<std::size_t>(k)].y);
            EXPECT_EQ(back[2], v[static_cast<std::size_t>(k)].z);
        }
        base += n;
    }
    TAVO_FreeImage(photo);
    TAVO_FinalizeKelmo();

    // Every material used is defined, each object has its own, and every
    // texture the MTL names was written.
    const std::string mtl = readText(work("model/model.mtl"));
    EXPECT_EQ(materialsUsed.size(), objects.size());
    for (const std::string &m : materialsUsed) EXPECT_NE(mtl.find("newmtl " + m + "\n"), std::string::npos) << m;
    std::istringstream mtlLines(mtl);
    while (std::getline(mtlLines, line))
        if (line.rfind("map_Kd ", 0) == 0) {
            EXPECT_TRUE(fs::exists(work("model") / line.substr(7))) << line;
        }
}

// ---- render ---------------------------------------------------------------------------

// The front view, cropped to the inner face (brows, eyes, nose, mouth),
// against the same region of the photo's face frame (TAVO_ExtractFaceFrame,
// the model's texture before the mask): the feature points projected by the
// library (TAVO_GetModel2DProjection) place the face in the render, a
// least-squares scale and shift maps frame pixels to render pixels, and the
// grey levels are correlated. A face turned upside down is the control.
TEST_F(KelmoTool, CreateThenRenderFrontViewCorrelatesWithThePhotosFaceFrame) {
    const std::string points = samplePoints();
    ASSERT_EQ(kelmo({"create", kSamplePhoto, "--points", points, "-o", "model"}).exitCode, 0);
    const ProcessResult r = kelmo({"render", "model", "--size", "512x512", "-o", "front.png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Picture render = loadPicture(work("front.png"));
    ASSERT_TRUE(render.loaded);
    ASSERT_EQ(render.width, 512);
    int drawn = 0;
    for (std::size_t k = 3; k < render.rgba.size(); k += 4) drawn += render.rgba[k] != 0;
    EXPECT_GT(drawn, 512 * 512 / 10);  // the head covers a good part of the picture

    std::vector<int32_t> flat;
    for (const auto &[x, y] : parsePointLines(readText(points))) flat.push_back(x), flat.push_back(y);
    ASSERT_EQ(TAVO_InitKelmo(kDataDir.c_str()), 0);
    int32_t model = -1;
    ImageHandle photo = -1, frame = -1;
    ASSERT_EQ(TAVO_InitModel(&model, 0), 0);
    ASSERT_EQ(TAVO_LoadImageFromFile(&photo, kSamplePhoto.c_str()), 0);
    ASSERT_EQ(TAVO_CreateModelFromPhoto(model, photo, flat.data(), 0, nullptr), 0);
    TAVO_BeginRendering(512, 512);
    std::array<int32_t, 132> projected{};
    ASSERT_EQ(TAVO_GetModel2DProjection(model, projected.data()), 0);
    std::array<int32_t, 132> framePoints{};
    ASSERT_EQ(TAVO_ExtractFaceFrame(photo, flat.data(), &frame, framePoints.data(), 256, 256), 0);
    int32_t fw = 0, fh = 0;
    TAVO_GetImageWidth(frame, &fw);
    TAVO_GetImageHeight(frame, &fh);
    std::vector<uint8_t> frameRgb(static_cast<std::size_t>(fw) * fh * 3);
    TAVO_SaveImageToBuffer(frame, frameRgb.data(), TAVO_IMAGEMODE_COLOR);
    TAVO_FreeImage(frame);
    TAVO_FreeImage(photo);
    TAVO_FinalizeKelmo();

    // Inner points: brows 14-21, 23, 24; nose 25-28, 31, 32, 35; eyes 36-42,
    // 45-49; mouth 3, 4, 50-65.
    std::vector<int> inner = {3, 4, 23, 24};
    for (int i = 14; i <= 21; ++i) inner.push_back(i);
    for (int i : {25, 26, 27, 28, 31, 32, 35}) inner.push_back(i);
    for (int i = 36; i <= 42; ++i) inner.push_back(i);
    for (int i = 45; i <= 65; ++i) inner.push_back(i);
    double mfx = 0, mfy = 0, mrx = 0, mry = 0;
    for (int i : inner) {
        mfx += framePoints[2 * i], mfy += framePoints[2 * i + 1];
        mrx += projected[2 * i] + 256, mry += projected[2 * i + 1] + 256;
    }
    const double n = static_cast<double>(inner.size());
    mfx /= n, mfy /= n, mrx /= n, mry /= n;
    double num = 0, den = 0;
    int x1 = fw, x2 = 0, y1 = fh, y2 = 0;
    for (int i : inner) {
        const double fx = framePoints[2 * i] - mfx, fy = framePoints[2 * i + 1] - mfy;
        num += fx * (projected[2 * i] + 256 - mrx) + fy * (projected[2 * i + 1] + 256 - mry);
        den += fx * fx + fy * fy;
        x1 = std::min(x1, framePoints[2 * i]), x2 = std::max(x2, framePoints[2 * i]);
        y1 = std::min(y1, framePoints[2 * i + 1]), y2 = std::max(y2, framePoints[2 * i + 1]);
    }
    const double s = num / den;
    ASSERT_GT(s, 0.5);
    auto correlation = [&](bool upsideDown) {
        double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
        int count = 0;
        for (int y = y1; y <= y2; ++y)
            for (int x = x1; x <= x2; ++x) {
                const int rx = static_cast<int>(std::lround(mrx + s * (x - mfx)));
                const int ry = static_cast<int>(std::lround(mry + s * (y - mfy)));
                if (rx < 0 || ry < 0 || rx >= 512 || ry >= 512 || render.at(rx, ry)[3] == 0) continue;
                const int fy = upsideDown ? y2 - (y - y1) : y;
                const double a = luma(frameRgb.data() + (static_cast<std::size_t>(fy) * fw + x) * 3);
                const double b = luma(render.at(rx, ry));
                sa += a, sb += b, saa += a * a, sbb += b * b, sab += a * b, ++count;
            }
        EXPECT_GT(count, (x2 - x1) * (y2 - y1) / 2);
        const double cov = sab / count - (sa / count) * (sb / count);
        return cov / std::sqrt((saa / count - (sa / count) * (sa / count)) * (sbb / count - (sb / count) * (sb / count)));
    };
    const double upright = correlation(false), flipped = correlation(true);
    EXPECT_GT(upright, 0.8);
    EXPECT_LT(flipped, upright - 0.3);
}

TEST_F(KelmoTool, RenderFromThePhotoEqualsRenderFromTheModelFolder) {
    const std::string points = samplePoints();
    ASSERT_EQ(kelmo({"create", kSamplePhoto, "--points", points, "-o", "model"}).exitCode, 0);
    ASSERT_EQ(kelmo({"render", "model", "--size", "200x160", "--yaw", "20", "-o", "a.png"}).exitCode, 0);
    ASSERT_EQ(kelmo({"render", kSamplePhoto, "--points", points, "--size", "200x160", "--yaw", "20", "-o", "b.png"})
                  .exitCode,
              0);
    const Picture a = loadPicture(work("a.png")), b = loadPicture(work("b.png"));
    EXPECT_EQ(a.width, 200);
    EXPECT_EQ(a.height, 160);
    EXPECT_EQ(a.rgba, b.rgba);  // creation and rendering are deterministic
}

TEST_F(KelmoTool, TurntableIsNViewsSideBySideAndItsEndsAreMirrorTurns) {
    const std::string points = samplePoints();
    const ProcessResult r =
        kelmo({"render", kSamplePhoto, "--points", points, "--size", "96x80", "--turntable", "3", "-o", "t.png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Picture strip = loadPicture(work("t.png"));
    EXPECT_EQ(strip.width, 3 * 96);
    EXPECT_EQ(strip.height, 80);
    // The middle view is the front view at yaw 0; the first is at -45.
    ASSERT_EQ(kelmo({"render", kSamplePhoto, "--points", points, "--size", "96x80", "-o", "f.png"}).exitCode, 0);
    ASSERT_EQ(kelmo({"render", kSamplePhoto, "--points", points, "--size", "96x80", "--yaw", "-45", "-o", "l.png"})
                  .exitCode,
              0);
    const Picture front = loadPicture(work("f.png")), left = loadPicture(work("l.png"));
    for (int y = 0; y < 80; y += 7)
        for (int x = 0; x < 96; x += 5) {
            EXPECT_TRUE(std::equal(front.at(x, y), front.at(x, y) + 4, strip.at(96 + x, y))) << x << "," << y;
            EXPECT_TRUE(std::equal(left.at(x, y), left.at(x, y) + 4, strip.at(x, y))) << x << "," << y;
        }
}

// Part 5.1: a morph at weight 0 moves no vertex; it only pins the sock
// region again, so any two morphs at weight 0 give the same picture.
TEST_F(KelmoTool, MorphsAtWeightZeroAgreeAndJawOpenLowersTheChin) {
    const std::string points = samplePoints();
    const std::vector<std::string> base = {"render", kSamplePhoto, "--points", points, "--size", "256x256"};
    auto render = [&](std::vector<std::string> extra, const std::string &out) {
        std::vector<std::string> args = base;
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), {"-o", out});
        const ProcessResult r = kelmo(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return loadPicture(work(out));
    };
    const Picture plain = render({}, "plain.png");
    const Picture zero = render({"--morph", "jaw_open=0"}, "zero.png");
    const Picture zeroSmile = render({"--morph", "smile=0"}, "zero_smile.png");
    const Picture open = render({"--morph", "jaw_open=1"}, "open.png");
    EXPECT_EQ(zero.rgba, zeroSmile.rgba);
    // Opening the jaw lowers the chin: the lowest drawn row moves down.
    auto lowestRow = [](const Picture &p) {
        for (int y = p.height - 1; y >= 0; --y)
            for (int x = 0; x < p.width; ++x)
                if (p.at(x, y)[3] != 0) return y;
        return -1;
    };
    EXPECT_GT(lowestRow(open), lowestRow(plain) + 2);
}

TEST_F(KelmoTool, MuscleFilePullsTheMouthCornerAndLeavesTheFarSide) {
    const std::string points = samplePoints();
    writeText(in("zygomatic.muscle"),
              "attachment feature 36 -0.35 -0.5 -0.2\ninsertion feature 3\nbound1 feature 3 -0.45 0 0\n"
              "bound2 feature 3 0.3 0.25 0\nextension 0.4\nstrength 0.45\n");
    const std::vector<std::string> base = {"render", kSamplePhoto, "--points", points, "--size", "256x256"};
    std::vector<std::string> pulled = base;
    pulled.insert(pulled.end(), {"--muscle", in("zygomatic.muscle").string(), "-o", "pulled.png"});
    std::vector<std::string> plain = base;
    plain.insert(plain.end(), {"-o", "plain.png"});
    ASSERT_EQ(kelmo(plain).exitCode, 0);
    const ProcessResult r = kelmo(pulled);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Picture a = loadPicture(work("plain.png")), b = loadPicture(work("pulled.png"));
    // The muscle lies on the left half of the picture (the subject's right).
    long leftChange = 0, rightChange = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            for (int c = 0; c < 3; ++c) (x < 128 ? leftChange : rightChange) += std::abs(a.at(x, y)[c] - b.at(x, y)[c]);
    EXPECT_GT(leftChange, 10000);
    EXPECT_LT(rightChange, leftChange / 4);
}

// ---- frame and warp ---------------------------------------------------------------------

TEST_F(KelmoTool, FrameWritesTheUprightFrameOfTheRequestedSizeAndItsPoints) {
    const ProcessResult r =
        kelmo({"frame", kSamplePhoto, "--points", samplePoints(), "--size", "128", "-o", "f.png", "--points-out", "fp.txt"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Picture f = loadPicture(work("f.png"));
    EXPECT_EQ(f.width, 128);
    EXPECT_EQ(f.height, 128);
    const auto p = parsePointLines(readText(work("fp.txt")));
    ASSERT_EQ(p.size(), 66u);
    for (const auto &[x, y] : p) EXPECT_TRUE(x >= 0 && x < 128 && y >= 0 && y < 128);
    // Part 3.2: the eye line becomes horizontal.
    EXPECT_LE(std::abs(p[0].second - p[1].second), 1);
}

// A white square centred on (20, 20) of a black 64 x 64 image, warped from
// (20, 20) to (40, 40): the destination point samples the source point
// (Part 6.1: the displacement there is exactly the pair's), so it is white,
// and the square's old place shows what lay nearer the fixed corner.
TEST_F(KelmoTool, WarpMovesASourcePointOntoItsDestination) {
    std::vector<uint8_t> rgb(64 * 64 * 3, 0);
    for (int y = 17; y <= 23; ++y)
        for (int x = 17; x <= 23; ++x) std::fill_n(rgb.begin() + (y * 64 + x) * 3, 3, 255);
    savePicture(rgb, 64, 64, in("dot.png"));
    writeText(in("from.txt"), "20 20\n");
    writeText(in("to.txt"), "40 40\n");
    const ProcessResult r = kelmo({"warp", in("dot.png").string(), "--from", in("from.txt").string(), "--to",
                                   in("to.txt").string(), "-o", "w.png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Picture w = loadPicture(work("w.png"));
    ASSERT_EQ(w.width, 64);
    EXPECT_GT(w.at(40, 40)[0], 200);
    EXPECT_LT(w.at(20, 20)[0], 60);
    EXPECT_EQ(w.at(63, 0)[0], 0);  // a fixed corner stays black
}

// ---- batch ---------------------------------------------------------------------------------

TEST_F(KelmoTool, BatchOfAGoodPhotoACorruptFileAndAFacelessPhotoGivesOneResultAndTwoSkips) {
    fs::create_directories(in("photos"));
    fs::copy_file(kSamplePhoto, in("photos/good.png"));
    writeText(in("photos/corrupt.jpg"), "this is not a JPEG file");
    writeFacelessPhoto(in("photos/noface.png"));
    const ProcessResult r = kelmo({"batch", in("photos").string(), "-o", "out", "-j", "2"});
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;  // some skipped
    EXPECT_NE(r.out.find("3 photos"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1 done, 2 skipped"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("corrupt.jpg: cannot read"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("noface.png: no face found"), std::string::npos) << r.out;
    const Picture front = loadPicture(work("out/good/front.png"));
    EXPECT_EQ(front.width, 512);
    std::vector<std::string> top;
    for (const auto &e : fs::directory_iterator(work("out"))) top.push_back(e.path().filename().string());
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"batch-summary.tsv", "good"}));
    const std::string summary = readText(work("out/batch-summary.tsv"));
    EXPECT_NE(summary.find("good.png\tdone\t"), std::string::npos) << summary;
    EXPECT_NE(summary.find("corrupt.jpg\tskipped\t"), std::string::npos) << summary;
    EXPECT_NE(summary.find("noface.png\tskipped\t"), std::string::npos) << summary;
}

TEST_F(KelmoTool, BatchShardsTakeContiguousSlicesOfTheSortedList) {
    fs::create_directories(in("photos"));
    for (const char *name : {"c.png", "a.png", "b.jpg"}) writeText(in("photos") / name, "not an image");
    writeText(in("photos/readme.txt"), "ignored");
    auto listed = [&](const std::string &shard) {
        const ProcessResult r = kelmo({"batch", in("photos").string(), "-o", "out", "--shard", shard, "-j", "1"});
        EXPECT_EQ(r.exitCode, 3) << r.err;
        std::string names;
        std::istringstream summary(readText(work("out/batch-summary-" + shard.substr(0, 1) + "-of-2.tsv")));
        std::string line;
        std::getline(summary, line);  // header
        while (std::getline(summary, line)) names += fs::path(line.substr(0, line.find('\t'))).filename().string() + " ";
        return names;
    };
    // Sorted: a.png, b.jpg, c.png; slice 0 of 2 is [0, 1), slice 1 is [1, 3).
    EXPECT_EQ(listed("0/2"), "a.png ");
    EXPECT_EQ(listed("1/2"), "b.jpg c.png ");
}

TEST_F(KelmoTool, InterruptedBatchLeavesNoHalfWrittenFile) {
    fs::create_directories(in("photos"));
    for (int k = 0; k < 8; ++k) fs::copy_file(kSamplePhoto, in("photos") / ("p" + std::to_string(k) + ".png"));
    const ProcessResult r = kelmo({"batch", in("photos").string(), "-o", "out", "-j", "2"}, 2.0);
    // Either the interruption ended it, or it finished first.
    EXPECT_TRUE(r.signal == SIGINT || r.exitCode == 0) << r.exitCode << " " << r.signal << r.err;
    const std::vector<std::string> expected = {"front.png", "model.mtl", "model.obj", "model.txt",
                                               "mouth.png", "photo.png", "points.txt", "texture.png"};
    for (const std::string &entry : entriesBelow(work())) {
        EXPECT_EQ(entry.find(".kelmo-tmp-"), std::string::npos) << entry;
        if (entry.ends_with(".png")) {
            EXPECT_TRUE(loadPicture(work(entry)).loaded) << entry;
        }
    }
    if (fs::exists(work("out")))
        for (const auto &e : fs::directory_iterator(work("out"))) {
            if (e.is_directory()) {
                EXPECT_EQ(entriesBelow(e.path()), expected) << e.path();
            }
        }
}

// ---- demo ----------------------------------------------------------------------------------

TEST_F(KelmoTool, DemoWritesAnIndexThatShowsEveryPicture) {
    const ProcessResult r = kelmo({"demo", "--points", samplePoints(), "--tile", "64", "-o", "demo"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char *step : {"landmarks", "face frame", "model", "front render", "turntable", "smile", "jaw open",
                             "muscle", "contact sheet", "index.html"})
        EXPECT_NE(r.out.find(step), std::string::npos) << step;
    const std::string html = readText(work("demo/index.html"));
    std::vector<std::string> images;
    for (std::size_t at = html.find("<img src=\""); at != std::string::npos; at = html.find("<img src=\"", at + 1)) {
        const std::size_t start = at + 10;
        images.push_back(html.substr(start, html.find('"', start) - start));
    }
    EXPECT_EQ(images.size(), 10u);
    for (const std::string &image : images) EXPECT_TRUE(loadPicture(work("demo") / image).loaded) << image;
    for (const char *picture : {"contact_sheet.png", "front.png", "turntable.png", "smile.png", "jaw_open.png",
                                "muscle.png", "landmarks.png"})
        EXPECT_NE(html.find(std::string("<img src=\"") + picture + "\""), std::string::npos) << picture;
    EXPECT_TRUE(fs::exists(work("demo/model/model.obj")));
}

// ---- help, errors ----------------------------------------------------------------------------

TEST_F(KelmoTool, EverySubcommandHasHelp) {
    for (const char *command : {"landmarks", "create", "render", "frame", "warp", "demo", "batch"}) {
        const ProcessResult r = kelmo({command, "--help"});
        EXPECT_EQ(r.exitCode, 0) << command;
        EXPECT_EQ(r.out.rfind(std::string("usage: kelmo ") + command, 0), 0u) << command << ": " << r.out;
    }
    const ProcessResult r = kelmo({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("batch DIR"), std::string::npos);
    EXPECT_TRUE(entriesBelow(work()).empty());
}

struct BadCall {
    std::vector<std::string> args;  // "@photo", "@points", "@in/NAME" are replaced
    int exitCode;
    std::string message;  // must appear in the error output
};

void PrintTo(const BadCall &call, std::ostream *out) {
    for (const std::string &a : call.args) *out << a << ' ';
    *out << "-> " << call.exitCode << " \"" << call.message << '"';
}

// Test names: the command, the case's number and the words of the message.
std::string badCallName(const ::testing::TestParamInfo<BadCall> &info) {
    std::string name = info.param.args.empty() ? "none" : info.param.args[0];
    name += "_" + std::to_string(info.index) + "_";
    for (char c : info.param.message.substr(0, 40))
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

class KelmoBadCall : public KelmoTool, public ::testing::WithParamInterface<BadCall> {};

TEST_P(KelmoBadCall, ExitsNonZeroWithAMessageNamingTheProblemAndWritesNothing) {
    std::string good;
    for (int i = 0; i < 66; ++i) good += std::to_string(200 + i % 11) + " " + std::to_string(100 + i / 11 * 5) + "\n";
    writeText(in("short.txt"), good.substr(0, good.rfind('\n', good.size() - 2) + 1));
    std::string words = good;
    words.replace(words.find('\n') + 1, 0, "12 abc\n");
    words.erase(words.rfind('\n', words.size() - 2) + 1);
    writeText(in("words.txt"), words);
    writeText(in("good.txt"), good);
    writeText(in("one.txt"), "10 10\n");
    writeText(in("two.txt"), "10 10\n20 20\n");
    writeText(in("outside.txt"), "600 10\n");
    writeText(in("nostrength.muscle"), "attachment 0 0 0\ninsertion 1 0 0\nbound1 1 1 0\nbound2 1 -1 0\n");
    writeText(in("broken.png"), "not a png");
    fs::create_directories(in("photos"));
    {
        std::vector<uint8_t> big(1100 * 1100 * 3, 90);
        savePicture(big, 1100, 1100, in("big.png"));
    }
    std::vector<std::string> args;
    for (const std::string &a : GetParam().args) {
        if (a == "@photo") args.push_back(kSamplePhoto);
        else if (a.rfind("@in/", 0) == 0) args.push_back(in(a.substr(4)).string());
        else args.push_back(a);
    }
    const ProcessResult r = kelmo(args);
    std::string shown;
    for (const std::string &a : args) shown += a + " ";
    EXPECT_EQ(r.exitCode, GetParam().exitCode) << shown << "\n" << r.err;
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << shown << "\nstderr: " << r.err;
    EXPECT_TRUE(entriesBelow(work()).empty()) << shown;
}

const BadCall kBadCalls[] = {
    {{"transmogrify"}, 2, "unknown command 'transmogrify'"},
    {{"landmarks"}, 2, "missing argument: expected one PHOTO"},
    {{"landmarks", "missing.png"}, 1, "cannot read 'missing.png': no such file"},
    {{"landmarks", "@in/broken.png"}, 1, "not a PNG, JPEG or BMP file"},
    {{"landmarks", "@photo", "--bogus"}, 2, "unknown option '--bogus'"},
    {{"landmarks", "@photo", "--face", "0"}, 2, "--face must be a whole number from 1"},
    {{"landmarks", "@photo", "--face"}, 2, "option --face needs a value"},
    {{"landmarks", "@photo", "--model", "@in/missing.dat", "-o", "p.txt"}, 1, "missing.dat' does not exist"},
    {{"landmarks", "@photo", "--model", "@in/good.txt", "-o", "p.txt"}, 1, "is not a dlib shape predictor"},
    {{"landmarks", "@photo", "--draw", "d.jpg"}, 2, "--draw writes a PNG file"},
    {{"landmarks", "@photo", "extra"}, 2, "unexpected argument 'extra'"},
    {{"create", "@photo"}, 2, "missing -o DIR"},
    {{"create", "missing.png", "-o", "m"}, 1, "cannot read 'missing.png': no such file"},
    {{"create", "@photo", "--points", "@in/short.txt", "-o", "m"}, 1, "short.txt: 65 points, expected 66"},
    {{"create", "@photo", "--points", "@in/words.txt", "-o", "m"}, 1, "words.txt:2: expected two numbers 'x y', found '12 abc'"},
    {{"create", "@photo", "--points", "@in/none.txt", "-o", "m"}, 1, "cannot read points file"},
    {{"create", "@photo", "--points", "@in/good.txt", "--face", "2", "-o", "m"}, 2, "--points gives the points"},
    {{"create", "@photo", "--data", "@in/photos", "-o", "m"}, 1, "is not a kelmo data directory"},
    {{"create", "@in/photos", "-o", "m"}, 1, "it is a folder, not an image"},
    {{"render", "@photo", "-o", "r.txt"}, 2, "-o must name a .png, .jpg or .bmp file"},
    {{"render", "@photo", "--yaw", "abc", "-o", "r.png"}, 2, "--yaw expects a number, not 'abc'"},
    {{"render", "@photo", "--size", "0x10", "-o", "r.png"}, 2, "--size expects WIDTHxHEIGHT"},
    {{"render", "@photo", "--turntable", "1", "-o", "r.png"}, 2, "--turntable must be a whole number from 2"},
    {{"render", "@photo", "--turntable", "3", "--yaw", "5", "-o", "r.png"}, 2, "leave out --yaw"},
    {{"render", "@photo", "--morph", "smile", "-o", "r.png"}, 2, "--morph expects NAME=WEIGHT"},
    {{"render", "@photo", "--points", "@in/good.txt", "--morph", "frown=1", "-o", "r.png"}, 1, "unknown morph 'frown'"},
    {{"render", "@photo", "--points", "@in/good.txt", "--muscle", "@in/none.muscle", "-o", "r.png"}, 1, "cannot read muscle file"},
    {{"render", "@photo", "--points", "@in/good.txt", "--muscle", "@in/nostrength.muscle", "-o", "r.png"}, 1, "'strength' is missing"},
    {{"render", "missing", "-o", "r.png"}, 1, "cannot read 'missing': no such file"},
    {{"render", "@in/photos", "-o", "r.png"}, 1, "is a folder but not a model folder"},
    {{"frame", "@photo", "--size", "0", "-o", "f.png"}, 2, "--size must be a whole number from 1 to 4096"},
    {{"frame", "@photo", "--points", "@in/short.txt", "-o", "f.png"}, 1, "65 points, expected 66"},
    {{"frame", "@photo", "--points", "@in/good.txt"}, 2, "missing -o OUT.png"},
    {{"warp", "@photo", "--to", "@in/one.txt", "-o", "w.png"}, 2, "missing --from FILE"},
    {{"warp", "@photo", "--from", "@in/one.txt", "--to", "@in/two.txt", "-o", "w.png"}, 1, "they must match line by line"},
    {{"warp", "@photo", "--from", "@in/outside.txt", "--to", "@in/one.txt", "-o", "w.png"}, 1, "(600, 10) lies outside the 512 x 512 image"},
    {{"warp", "@in/big.png", "--from", "@in/one.txt", "--to", "@in/one.txt", "-o", "w.png"}, 1, "2,097,152"},
    {{"warp", "@photo", "--from", "@in/words.txt", "--to", "@in/one.txt", "-o", "w.png"}, 1, "words.txt:2: expected two numbers"},
    {{"demo", "missing.png", "-o", "d"}, 1, "cannot read 'missing.png': no such file"},
    {{"demo", "--tile", "10"}, 2, "--tile must be a whole number from 64 to 1024"},
    {{"demo", "@photo", "--points", "@in/words.txt", "-o", "d"}, 1, "words.txt:2"},
    {{"batch", "@in/missing", "-o", "out"}, 1, "photo folder '"},
    {{"batch", "@in/photos", "-j", "0", "-o", "out"}, 2, "-j must be a whole number from 1 to 64"},
    {{"batch", "@in/photos", "--shard", "2/2", "-o", "out"}, 2, "I must lie from 0 to N-1"},
    {{"batch", "@in/photos", "--shard", "two", "-o", "out"}, 2, "--shard expects I/N"},
    {{"batch", "@in/photos"}, 2, "missing -o OUTDIR"},
    {{"batch", "@photo", "-o", "out"}, 1, "is not a folder"},
    {{"batch", "@in/photos", "--data", "@in/photos", "-o", "out"}, 1, "is not a kelmo data directory"},
};

INSTANTIATE_TEST_SUITE_P(Cases, KelmoBadCall, ::testing::ValuesIn(kBadCalls), badCallName);

// ---- the C example and the package --------------------------------------------------------------

TEST_F(KelmoTool, CExampleCreatesRendersAndSavesAPicture) {
    const ProcessResult r =
        runProcess({KELMO_EXAMPLE, kDataDir, kSamplePhoto, samplePoints(), work("example.png").string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Picture p = loadPicture(work("example.png"));
    EXPECT_EQ(p.width, 400);
    EXPECT_EQ(p.height, 400);
    int drawn = 0;
    for (std::size_t k = 3; k < p.rgba.size(); k += 4) drawn += p.rgba[k] != 0;
    EXPECT_GT(drawn, 400 * 400 / 10);
    const ProcessResult bad = runProcess({KELMO_EXAMPLE, kDataDir, kSamplePhoto, in("none.txt").string(), "x.png"});
    EXPECT_EQ(bad.exitCode, 1);
}

// `cmake --install` into a fresh prefix, then the examples folder built on its
// own with find_package(kelmo), and the C example compiled with pkg-config's
// flags: both run against the installed data directory.
TEST_F(KelmoTool, InstalledPackageBuildsAnOutsideCProjectWithCMakeAndPkgConfig) {
    const fs::path prefix = folder_ / "prefix";
    ProcessResult r = runProcess({KELMO_CMAKE, "--install", KELMO_BUILD_DIR, "--prefix", prefix.string()});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    for (const char *file : {"include/kelmo/kelmo.h", "include/kelmo/tavoimage.h", "lib/cmake/kelmo/kelmoConfig.cmake",
                             "lib/pkgconfig/kelmo.pc", "share/kelmo/data/grd66.txt", "share/kelmo/data/morphs/smile.vtx",
                             "bin/kelmo"})
        EXPECT_TRUE(fs::exists(prefix / file)) << file;
    const std::string points = samplePoints();
    const std::string data = (prefix / "share/kelmo/data/").string();

    // A sanitizer build installs instrumented libraries: their clients link
    // the sanitizer runtimes too.
    const std::string sanitize = KELMO_SANITIZE_FLAGS;
    r = runProcess({KELMO_CMAKE, "-S", std::string(KELMO_SOURCE_DIR) + "/examples", "-B", (folder_ / "ex").string(),
                    "-DCMAKE_PREFIX_PATH=" + prefix.string(), "-DCMAKE_BUILD_TYPE=Release",
                    "-DCMAKE_C_FLAGS=" + sanitize, "-DCMAKE_EXE_LINKER_FLAGS=" + sanitize});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    r = runProcess({KELMO_CMAKE, "--build", (folder_ / "ex").string(), "--target", "kelmo_example"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    r = runProcess({(folder_ / "ex/kelmo_example").string(), data, kSamplePhoto, points, work("cmake.png").string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;

    const std::string pc = "PKG_CONFIG_PATH=" + (prefix / "lib/pkgconfig").string() + " pkg-config --cflags --libs kelmo";
    std::FILE *pipe = popen(pc.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char flags[1024] = {0};
    const bool gotFlags = std::fgets(flags, sizeof flags, pipe) != nullptr;
    ASSERT_EQ(pclose(pipe), 0);
    ASSERT_TRUE(gotFlags);
    std::string cflags = flags;
    cflags.erase(cflags.find_last_not_of(" \n") + 1);
    const std::string compile = "cc -std=c99 -Wall -Werror " + sanitize + " " + std::string(KELMO_SOURCE_DIR) +
                                "/examples/create_and_render.c -o " + (folder_ / "pc_example").string() + " " + cflags +
                                " -Wl,-rpath," + (prefix / "lib").string();
    ASSERT_EQ(std::system(compile.c_str()), 0) << compile;
    r = runProcess({(folder_ / "pc_example").string(), data, kSamplePhoto, points, work("pc.png").string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;

    r = runProcess({(prefix / "bin/kelmo").string(), "render", kSamplePhoto, "--points", points, "--size", "64",
                    "-o", work("installed.png").string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;  // the installed tool finds its installed data directory
    EXPECT_EQ(loadPicture(work("cmake.png")).rgba, loadPicture(work("pc.png")).rgba);
}

}  // namespace
