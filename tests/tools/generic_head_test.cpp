// The generic head's data directory as the build generates it, read by the
// library. Expected values come from geometry (the default camera re-computed
// here, orientations, openings) and from what the library makes of the data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include <unistd.h>

#include "fitting/face_frame.h"
#include "frame/library_state.h"
#include "kelmo.h"
#include "tools/generic_head/landmarks.h"
#include "tools/kelmo/landmark_scheme.h"

namespace {

using kelmo::Quad;
using kelmo::TModel;
using kelmo::TRegion;

const std::string kData = KELMO_DATA_DIR;

// The library, initialised once, reads the meshes and tables that the tests check.
const kelmo::LibraryState &state = kelmo::libraryState();
const TModel &mesh(int e) { return *state.expressionMeshes[e]; }
const TVector3f &feature(const TModel &m, int i) {
    return m.regions[kelmo::generic_head::landmarkRegion(i)].vertices.at(std::size_t(state.landmarkTable.at(i)));
}

// Every test frees its image and model handles: the library's own stay.
class Library : public ::testing::Environment {
    void SetUp() override { ASSERT_EQ(TAVO_InitKelmo(kData.c_str()), 0); }
    void TearDown() override {
        std::set<ImageHandle> kept = {state.alphaMaskImage, state.lowerTeethImage, state.upperTeethImage,
                                      state.sockImage};
        for (int e = 0; e < 4; ++e) kept.insert(mesh(e).texture);
        for (int32_t h = 0, w = 0; h < 256; ++h) EXPECT_TRUE(TAVO_GetImageWidth(h, &w) != 0 || kept.count(h)) << h;
        EXPECT_EQ(std::count(state.models.begin(), state.models.end(), nullptr), long(state.models.size()));
        TAVO_FinalizeKelmo();
    }
};
const auto *const kLibrary = ::testing::AddGlobalTestEnvironment(new Library);

struct V3 { double x, y, z; };
V3 sub(const TVector3f &a, const TVector3f &b) { return {double(a.x) - b.x, double(a.y) - b.y, double(a.z) - b.z}; }
double dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 normal(const TRegion &r, const Quad &q) {  // twice the area, along the normal
    const V3 a = sub(r.vertices[q[2]], r.vertices[q[0]]), b = sub(r.vertices[q[3]], r.vertices[q[1]]);
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Quads whose normal turns away from the mean normal of their neighbours.
int foldedQuads(const TRegion &r) {
    std::map<std::pair<int, int>, std::vector<std::size_t>> quadsOf;
    auto edge = [&](std::size_t k, int c) { return std::minmax(r.quads[k][c], r.quads[k][(c + 1) % 4]); };
    for (std::size_t k = 0; k < r.quads.size() * 4; ++k) quadsOf[edge(k / 4, k % 4)].push_back(k / 4);
    int folded = 0;
    for (std::size_t k = 0; k < r.quads.size(); ++k) {
        V3 around{0, 0, 0};
        for (int c = 0; c < 4; ++c)
            for (std::size_t other : quadsOf[edge(k, c)]) {
                const V3 n = normal(r, r.quads[other]);
                const double l = other == k ? 1e300 : std::sqrt(dot(n, n));
                around = {around.x + n.x / l, around.y + n.y / l, around.z + n.z / l};
            }
        folded += dot(normal(r, r.quads[k]), around) <= 0.0;
    }
    return folded;
}

// Where the default camera (perspective angle 1, distance 400, lifted by
// 0.15, no model transform) shows a model point in a width x height picture,
// x right and y down, in the library's float arithmetic before truncation.
std::pair<double, double> defaultView(const TVector3f &p, int width, int height) {
    const float ymax = 396.0f * std::tan(static_cast<float>(static_cast<double>(3.1415927f) / 360.0));
    const float scale = static_cast<float>(2.0 * 396.0f / (2.0 * ymax)), q = static_cast<float>(1.0 / (400.0f - p.z));
    const float nx = scale * p.x * q, ny = scale * (p.y + 0.15f) * q;
    return {static_cast<float>((nx * 0.5 + 0.5) * (width - 1)),
            height - static_cast<float>((ny * 0.5 + 0.5) * (height - 1))};
}

std::vector<uint8_t> bytesOf(const std::string &path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<uint8_t> bytes(in ? std::size_t(in.tellg()) : 0);
    in.seekg(0).read(reinterpret_cast<char *>(bytes.data()), std::streamsize(bytes.size()));
    return bytes;
}

// One topology for the four expressions; every quad of the head surface turns the same way, outward, and none
// folds; the lip ring of list7.txt runs along the rim of the mouth opening;
// the eyeballs enclose positive volume and the teeth face forward.
TEST(GenericHead, MeshesShareOneOutwardTopologyWithTheMouthOpeningOnTheLipRing) {
    const std::vector<int32_t> &ring = state.list7Table;
    ASSERT_EQ(std::set<int32_t>(ring.begin(), ring.end()).size(), 38u);
    for (int e = 0; e < 4; ++e) {
        ASSERT_EQ(mesh(e).regions.size(), 5u);
        for (int r = 0; r < 5; ++r) {
            const TRegion &reg = mesh(e).regions[r], &neutral = mesh(0).regions[r];
            EXPECT_TRUE(reg.quads == neutral.quads && reg.vertices.size() == neutral.vertices.size());
            TVector3f centre{0, 0, 0};  // the head surface is open: its volume is taken about its centre
            for (const TVector3f &v : reg.vertices)
                centre = {centre.x + v.x / reg.vertices.size(), centre.y + v.y / reg.vertices.size(),
                          centre.z + v.z / reg.vertices.size()};
            double volume = 0.0;
            for (const Quad &q : reg.quads) {
                EXPECT_EQ(std::set<int32_t>(q.begin(), q.end()).size(), 4u);
                EXPECT_TRUE(r < 3 || normal(reg, q).z > 0) << "teeth region " << r;
                volume += dot(sub(reg.vertices[q[0]], centre), normal(reg, q));
            }
            EXPECT_TRUE(r > 2 || volume > 0.0) << "expression " << e << " region " << r;
        }
        std::map<std::pair<int, int>, int> directed;
        for (const Quad &q : mesh(e).regions[0].quads)
            for (int k = 0; k < 4; ++k) ++directed[{q[k], q[(k + 1) % 4]}];
        EXPECT_EQ(std::count_if(directed.begin(), directed.end(), [](auto &d) { return d.second != 1; }), 0);
        for (std::size_t k = 0; k < ring.size(); ++k) {
            const int a = ring[k], b = ring[(k + 1) % ring.size()];
            EXPECT_EQ(directed.count({a, b}) + directed.count({b, a}), 1u) << "lip ring " << a << "-" << b;
        }
        EXPECT_EQ(foldedQuads(mesh(e).regions[0]), 0) << "expression " << e;
    }
}

// The kelmo tool maps dlib's 68 points to the 66 with the generator's scheme.
TEST(GenericHead, ToolMapsDlibPointsByTheSameScheme) {
    for (int k = 0; k < 66; ++k) {
        const kelmo::generic_head::LandmarkDefinition &d = kelmo::generic_head::landmarkScheme()[k];
        EXPECT_TRUE(kelmo::cli::ibugSources(k) == d.ibug && int(kelmo::cli::landmarkRole(k)) == int(d.role)) << k;
    }
}

// alpha.grd holds the neutral face's landmarks as the default camera shows
// them in alpha.png; the mask covers the face and fades to 0 outside it and
// all along the face frame's border, since rendering repeats a texture's
// border pixels beyond its frame.
TEST(GenericHead, AlphaMaskCoversTheNeutralFaceOfTheDefaultView) {
    ImageHandle image = -1;
    int32_t w = 0, h = 0;
    ASSERT_EQ(TAVO_LoadImageFromFileWithAlpha(&image, (kData + "alpha.png").c_str()), 0);
    TAVO_GetImageWidth(image, &w), TAVO_GetImageHeight(image, &h);
    std::vector<uint8_t> px(std::size_t(w) * h * 4);
    TAVO_SaveImageToBuffer(image, px.data(), TAVO_IMAGEMODE_COLOR_ALPHA), TAVO_FreeImage(image);
    auto alpha = [&](double x, double y) {
        return px[(std::size_t(std::clamp(int(y), 0, h - 1)) * w + std::clamp(int(x), 0, w - 1)) * 4 + 3];
    };
    std::ifstream in(kData + "alpha.grd");
    int n = 0;
    std::vector<TPointf> g(66);
    for (in >> n; TPointf &p : g) in >> p.x >> p.y;
    ASSERT_TRUE(in && n == 66);
    for (int i = 0; i < 66; ++i) {
        const auto [x, y] = defaultView(feature(mesh(0), i), w, h);
        EXPECT_TRUE(std::abs(g[i].x - x) < 0.6 && std::abs(g[i].y - y) < 0.6) << i;
    }
    for (int i : {0, 1, 16, 21, 25, 28, 32, 3, 4, 61, 64, 57}) EXPECT_EQ(alpha(g[i].x, g[i].y), 255) << i;
    const double beside = 0.25 * (g[44].x - g[2].x);  // beyond the cheeks
    EXPECT_EQ(alpha(g[2].x - beside, g[2].y) + alpha(g[44].x + beside, g[44].y), 0);
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    kelmo::faceBox(kelmo::TGrid(g), x1, y1, x2, y2, w, h);
    for (int x = x1; x <= x2; ++x) EXPECT_EQ(alpha(x, y1) + alpha(x, y2), 0) << x;
    for (int y = y1; y <= y2; ++y) EXPECT_EQ(alpha(x1, y) + alpha(x2, y), 0) << y;
}

// A skin-coloured photo whose 66 points are the landmarks of expression mesh
// e in the default view: the library takes mesh e and fits a head without folds.
TEST(GenericHead, CreationFromAPhotoOfEachExpressionTakesThatMeshAndFoldsNoQuad) {
    std::vector<uint8_t> skin(512 * 512 * 3);
    for (std::size_t k = 0; k < skin.size(); k += 3) skin[k] = 222, skin[k + 1] = 176, skin[k + 2] = 148;
    ImageHandle photo = -1;
    ASSERT_EQ(TAVO_LoadImageFromBuffer(&photo, skin.data(), 512, 512, 512 * 3, TAVO_IMAGEMODE_COLOR), 0);
    for (int e = 0; e < 4; ++e) {
        std::vector<int32_t> points;
        for (int i = 0; i < 66; ++i) {
            const auto [x, y] = defaultView(feature(mesh(e), i), 512, 512);
            points.push_back(int32_t(x)), points.push_back(512 - int32_t(512 - y));
        }
        int32_t handle = -1;
        ASSERT_EQ(TAVO_InitModel(&handle, 0), 0);
        ASSERT_EQ(TAVO_CreateModelFromPhoto(handle, photo, points.data(), 0, nullptr), 0);
        EXPECT_EQ(kelmo::libraryState().models[handle]->expressionClass, e);
        EXPECT_EQ(foldedQuads(kelmo::libraryState().models[handle]->regions[0]), 0) << "expression " << e;
        EXPECT_EQ(TAVO_FreeModel(handle), 0);
    }
    TAVO_FreeImage(photo);
}

// The generic head made from a skin-coloured photo of itself, its jaw opened
// by the jaw_open morph (with a smile or not), front and turned by 30
// degrees: every dark pixel (the throat) lies inside the inner lip contour,
// the polygon of the projected mouth corners and inner lip points (2 pixels
// of slack), so the opening never reaches past the corners, and the open
// mouth does show its throat.
TEST(GenericHead, DarkOfTheMouthStaysInsideTheInnerLipContourAtEveryJawWeight) {
    std::vector<uint8_t> skin(512 * 512 * 3);
    for (std::size_t k = 0; k < skin.size(); k += 3) skin[k] = 222, skin[k + 1] = 176, skin[k + 2] = 148;
    ImageHandle photo = -1, picture = -1;
    ASSERT_EQ(TAVO_LoadImageFromBuffer(&photo, skin.data(), 512, 512, 512 * 3, TAVO_IMAGEMODE_COLOR) +
                  TAVO_CreateEmptyImage(&picture) + TAVO_BeginRendering(200, 200),
              0);
    for (const char *morph : {"jaw_open", "smile"})
        for (float weight : {0.5f, 1.0f})
            for (float yaw : {0.0f, 30.0f}) {
                std::vector<int32_t> points;
                for (int i = 0; i < 66; ++i) {
                    const auto [x, y] = defaultView(feature(mesh(0), i), 512, 512);
                    points.push_back(int32_t(x)), points.push_back(512 - int32_t(512 - y));
                }
                int32_t model = -1, jaw = -1, smile = -1;
                ASSERT_EQ(TAVO_InitModel(&model, 0) + TAVO_InitModel(&jaw, 0) + TAVO_InitModel(&smile, 0), 0);
                ASSERT_EQ(TAVO_CreateModelFromPhoto(model, photo, points.data(), 0, nullptr), 0);
                ASSERT_EQ(TAVO_LoadExpressionToModel(jaw, (kData + "morphs/jaw_open.vtx").c_str()) +
                              TAVO_LoadExpressionToModel(smile, (kData + "morphs/smile.vtx").c_str()) +
                              TAVO_AdjustModelDeformation(model, jaw) + TAVO_AdjustModelDeformation(model, smile),
                          0);
                TAVO_ApplyMorph(model, jaw, std::string(morph) == "smile" ? 1.0f : weight);
                if (std::string(morph) == "smile") TAVO_ApplyMorph(model, smile, weight);
                TAVO_RotateModel(model, 0.0f, yaw, 0.0f);
                int32_t n = 0;
                ASSERT_EQ(TAVO_RenderModelToImage(model, picture) + TAVO_GetModelNumVertices(model, 0, &n), 0);
                std::vector<int32_t> xy(std::size_t(n) * 2);
                std::vector<uint8_t> px(200 * 200 * 4);
                ASSERT_EQ(TAVO_ProjectModelVertices(model, 0, xy.data()) +
                              TAVO_SaveImageToBuffer(picture, px.data(), TAVO_IMAGEMODE_COLOR_ALPHA),
                          0);
                std::vector<std::pair<double, double>> lips;
                for (int i : {3, 60, 61, 62, 4, 63, 64, 65})
                    lips.push_back({xy[2 * state.landmarkTable[i]] + 0.5, xy[2 * state.landmarkTable[i] + 1] + 0.5});
                int inside = 0, outside = 0;
                for (int y = 0; y < 200; ++y)
                    for (int x = 0; x < 200; ++x) {
                        const uint8_t *p = &px[(y * 200 + x) * 4];
                        if (p[3] == 0 || 299 * p[0] + 587 * p[1] + 114 * p[2] >= 70000) continue;
                        bool in = false;
                        double gap = 1e9;
                        for (std::size_t k = 0, j = lips.size() - 1; k < lips.size(); j = k++) {
                            const auto [ax, ay] = lips[j];
                            const auto [bx, by] = lips[k];
                            const double ex = bx - ax, ey = by - ay, px2 = x + 0.5, py2 = y + 0.5;
                            if ((ay > py2) != (by > py2) && px2 < ax + (py2 - ay) * ex / ey) in = !in;
                            const double t = std::clamp(((px2 - ax) * ex + (py2 - ay) * ey) / (ex * ex + ey * ey), 0.0, 1.0);
                            gap = std::min(gap, std::hypot(ax + ex * t - px2, ay + ey * t - py2));
                        }
                        (in || gap <= 2.0 ? inside : outside) += 1;
                    }
                EXPECT_EQ(outside, 0) << morph << " " << weight << " yaw " << yaw;
                EXPECT_TRUE(weight < 1.0f || std::string(morph) == "smile" || inside > 10) << yaw << ": " << inside;
                EXPECT_EQ(TAVO_FreeModel(smile) + TAVO_FreeModel(jaw) + TAVO_FreeModel(model), 0);
            }
    TAVO_EndRendering();
    TAVO_FreeImage(picture), TAVO_FreeImage(photo);
}

TEST(GenericHead, GeneratorWritesTheSameBytesAsTheBuild) {
    namespace fs = std::filesystem;
    const fs::path run = fs::path(::testing::TempDir()) / ("generic_head_" + std::to_string(getpid()));
    std::string command = "\"" + fs::path(KELMO_GENERIC_HEAD_TOOL).make_preferred().string() + "\" \"" + run.string() + "/\"";
#if defined(_WIN32)
    command = "\"" + command + "\"";  // cmd.exe drops the outermost pair of quotes
#endif
    ASSERT_EQ(std::system(command.c_str()), 0);
    int files = 0;
    for (const auto &entry : fs::recursive_directory_iterator(kData)) {
        if (!entry.is_regular_file()) continue;
        EXPECT_EQ(bytesOf((run / fs::relative(entry.path(), kData)).string()), bytesOf(entry.path().string())) << entry;
        ++files;
    }
    EXPECT_EQ(files, 16);
    fs::remove_all(run);
}

}  // namespace
