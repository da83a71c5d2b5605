// The kelmo tool, run as a user runs it. The expensive runs happen once: a batch
// over a folder with the sample photo (NASA's public-domain portrait of Eileen
// Collins, 512 x 512), which finds its face points, and the demo on the photo
// (run by CTest before this program, shared with the web tests), checked
// against the photo, the library, the C example and the other commands.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "kelmo.h"
#include "tiny_gltf.h"

namespace {

namespace fs = std::filesystem;

const std::string kPhoto = KELMO_SAMPLE_PHOTO, kData = KELMO_DATA_DIR;
const fs::path kRoot = fs::temp_directory_path() / ("kelmo_cli_test_" + std::to_string(getpid()));

std::string readText(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void writeText(const fs::path &p, const std::string &text) { std::ofstream(p, std::ios::binary) << text; }
std::vector<int32_t> numbers(const std::string &text) {
    std::istringstream in(text);
    return {std::istream_iterator<int32_t>(in), std::istream_iterator<int32_t>()};
}
std::vector<std::string> entriesBelow(const fs::path &dir) {
    std::vector<std::string> names;
    for (const auto &e : fs::recursive_directory_iterator(dir)) names.push_back(fs::relative(e.path(), dir).string());
    std::sort(names.begin(), names.end());
    return names;
}

struct Outcome { int exitCode, signal; std::string out, err; };

// Runs a program (no shell) in `folder`; SIGINT is sent once `interruptWhen`,
// asked every few milliseconds, returns true.
Outcome run(std::vector<std::string> args, const fs::path &folder, const std::function<bool()> &interruptWhen = {}) {
    fs::create_directories(folder);
    std::vector<char *> argv(args.size() + 1, nullptr);
    std::transform(args.begin(), args.end(), argv.begin(), [](std::string &a) { return a.data(); });
    const int out = open((kRoot / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = open((kRoot / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = fork();
    if (pid == 0) dup2(out, 1), dup2(err, 2), chdir(folder.c_str()) == 0 && execv(argv[0], argv.data()), _exit(127);
    close(out), close(err);
    int status = 0;
    for (bool sent = false; waitpid(pid, &status, interruptWhen ? WNOHANG : 0) == 0; usleep(2000))
        if (!sent && interruptWhen()) sent = kill(pid, SIGINT) == 0;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, WIFSIGNALED(status) ? WTERMSIG(status) : 0,
            readText(kRoot / "stdout"), readText(kRoot / "stderr")};
}
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Outcome kelmo(std::vector<std::string> args, const fs::path &folder, const std::function<bool()> &interruptWhen = {}) {
    args.insert(args.begin(), KELMO_TOOL);
    return run(args, folder, interruptWhen);
}

// A picture's RGBA pixels; strips of square views are addressed by view.
struct Picture {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgba;
    const uint8_t *at(int x, int y, int k = 0) const { return &rgba[std::size_t(y * width + k * height + x) * 4]; }
    bool sameView(int k, const Picture &other, int j) const {
        for (int y = 0; y < height; ++y)
            if (other.height != height || !std::equal(at(0, y, k), at(height, y, k), other.at(0, y, j))) return false;
        return true;
    }
};
Picture load(const fs::path &p) {
    Picture pic;
    ImageHandle h = -1;
    if (TAVO_LoadImageFromFileWithAlpha(&h, p.c_str()) != 0) return pic;
    TAVO_GetImageWidth(h, &pic.width), TAVO_GetImageHeight(h, &pic.height);
    pic.rgba.resize(std::size_t(pic.width) * pic.height * 4);
    TAVO_SaveImageToBuffer(h, pic.rgba.data(), TAVO_IMAGEMODE_COLOR_ALPHA), TAVO_FreeImage(h);
    return pic;
}
void save(const std::vector<uint8_t> &rgb, int w, int h, const fs::path &p) {
    ImageHandle image = -1;
    EXPECT_EQ(TAVO_LoadImageFromBuffer(&image, rgb.data(), w, h, w * 3, TAVO_IMAGEMODE_COLOR), 0);
    EXPECT_EQ(TAVO_SaveImageToFile(image, p.c_str()) + TAVO_FreeImage(image), 0);
}
int liveHandles() {  // the image and model handles that the library answers for
    int n = 0;
    for (int32_t h = 0, v = 0; h < 256; ++h)
        n += (TAVO_GetImageWidth(h, &v) == 0) + (TAVO_GetModelNumRegions(h, &v) == 0);
    return n;
}

// Slice 1 of 2 of a folder of 7 photos, sorted, is [3, 7): a file that is no
// image, the sample photo, a picture without a face and another file that is
// no image; a text file is ignored. Then the library's own model of the
// points found for the sample photo.
struct Runs {
    fs::path batchDir = kRoot / "batch", demoDir = KELMO_DEMO_DIR, points = batchDir / "out/good/points.txt";
    Outcome batch;
    std::vector<int32_t> xy;
    int32_t model = -1, photo = -1, handles = 0;
};
Runs *made = nullptr;
const Runs &runs() {
    if (made) return *made;
    Runs &r = *(made = new Runs);
    const fs::path photos = r.batchDir / "photos";
    fs::create_directories(photos);
    for (const char *name : {"a.png", "b.png", "c.png", "d.jpg", "zz.bmp", "readme.txt"})
        writeText(photos / name, "no image");
    fs::copy_file(kPhoto, photos / "good.png");
    std::vector<uint8_t> pixels(40 * 40 * 3);
    for (std::size_t k = 0; k < pixels.size(); ++k) pixels[k] = uint8_t(k % 120 * 2);  // a gradient
    save(pixels, 40, 40, photos / "noface.png");
    r.batch = kelmo({"batch", "photos", "-o", "out", "--shard", "1/2", "-j", "2", "--size", "64x48", "--closed-mouth",
                     "--generic-teeth"},
                    r.batchDir);
    r.xy = numbers(readText(r.points));
    if (r.xy.size() == 132) {
        EXPECT_EQ(TAVO_InitKelmo(kData.c_str()), 0);
        EXPECT_EQ(TAVO_InitModel(&r.model, 0) + TAVO_LoadImageFromFile(&r.photo, kPhoto.c_str()), 0);
        EXPECT_EQ(TAVO_CreateModelFromPhoto(r.model, r.photo, r.xy.data(), 0, nullptr), 0);
    }
    r.handles = liveHandles();
    return r;
}

// Every test frees the image and model handles it makes.
class HandlesAllFreed : public ::testing::Environment {
    void TearDown() override {
        EXPECT_EQ(liveHandles(), made ? made->handles : 0);
        if (made) TAVO_FreeModel(made->model), TAVO_FreeImage(made->photo), TAVO_FinalizeKelmo();
        if (!::testing::UnitTest::GetInstance()->Failed()) fs::remove_all(kRoot);
    }
};
const auto *const kHandles = ::testing::AddGlobalTestEnvironment(new HandlesAllFreed);

TEST(KelmoBatch, ProcessesItsShardAndSkipsWhatItCannotUse) {
    const Runs &r = runs();
    EXPECT_EQ(r.batch.exitCode, 3) << r.batch.out << r.batch.err;  // done, but some skipped
    std::istringstream summary(readText(r.batchDir / "out/batch-summary-1-of-2.tsv"));
    std::string outcomes;
    for (std::string line; std::getline(summary, line);)  // name, tab, the outcome's first four letters
        outcomes += fs::path(line.substr(0, line.find('\t'))).filename().string() + line.substr(line.find('\t'), 5);
    EXPECT_EQ(outcomes, "photo\toutcd.jpg\tskipgood.png\tdonenoface.png\tskipzz.bmp\tskip");
    EXPECT_EQ(entriesBelow(r.batchDir / "out"),
              (std::vector<std::string>{"batch-summary-1-of-2.tsv", "good", "good/front.png", "good/model.glb", "good/model.mtl",
                                        "good/model.obj", "good/model.txt", "good/mouth.png", "good/photo.png",
                                        "good/points.txt", "good/teeth_lower.png", "good/teeth_upper.png",
                                        "good/texture.png"}));
    EXPECT_EQ(load(r.batchDir / "out/good/front.png").height, 48);
    EXPECT_NE(readText(r.batchDir / "out/good/model.txt").find("\nexpression 2 "), std::string::npos);  // closed smile
}

// Regions read off the sample photo by eye: the subject's eyes at about (203, 101)
// and (246, 103), the mouth corners at (203, 141) and (244, 141); the open mouth
// shows the teeth between the inner edges of the lips at y = 142 and 150.
TEST(KelmoDemo, FindsTheFaceRegionsAndShowsEveryPicture) {
    const Runs &r = runs();
    ASSERT_EQ(r.xy.size(), 132u);
    EXPECT_EQ(readText(r.demoDir / "points.txt"), readText(r.points));  // dlib finds the same points twice
    const int regions[][5] = {{0, 195, 212, 95, 108},  {1, 236, 256, 95, 108},  {3, 193, 210, 134, 150},
                              {4, 238, 254, 134, 150}, {61, 216, 232, 136, 147}, {64, 216, 232, 145, 158}};
    for (const auto &[i, x1, x2, y1, y2] : regions)
        EXPECT_TRUE(r.xy[2 * i] >= x1 && r.xy[2 * i] <= x2 && r.xy[2 * i + 1] >= y1 && r.xy[2 * i + 1] <= y2)
            << "point " << i << " at " << r.xy[2 * i] << ", " << r.xy[2 * i + 1];
    const std::string html = readText(r.demoDir / "index.html");
    int shown = 0;
    for (std::size_t at = html.find("<img src=\""); at != std::string::npos; at = html.find("<img src=\"", at + 1))
        shown += load(r.demoDir / html.substr(at + 10, html.find('"', at + 10) - at - 10)).width > 0;
    EXPECT_EQ(shown, 10);
    EXPECT_NE(readText(r.demoDir / "model/model.txt").find("\nexpression 3 "), std::string::npos);  // an open smile
}

// `kelmo landmarks` finds the points that the batch's workers found (with the
// compact model that the build writes beside the data directory), prints
// nothing when told where to write them, and draws them on the face's crop,
// enlarged; dlib's own file of that model places the same points.
TEST(KelmoLandmarks, WritesThePointsTheBatchFoundAndTheirDrawing) {
    const Runs &r = runs();
    const fs::path dir = kRoot / "landmarks";
    const Outcome o = kelmo({"landmarks", kPhoto, "-o", "p.txt", "--draw", "face.png"}, dir);
    ASSERT_EQ(o.exitCode, 0) << o.err;
    EXPECT_TRUE(o.out.empty()) << o.out;
    EXPECT_EQ(numbers(readText(dir / "p.txt")), r.xy);
    EXPECT_GT(load(dir / "face.png").width, 300);
    ASSERT_TRUE(fs::is_regular_file(kData + "../landmarks/face_landmarks_68.kelmo"));
    const Outcome dlibFile = kelmo({"landmarks", kPhoto, "--model", "/usr/share/dlib/shape_predictor_68_face_landmarks.dat",
                                    "-o", "dlib.txt"}, dir);
    ASSERT_EQ(dlibFile.exitCode, 0) << dlibFile.err;
    EXPECT_EQ(numbers(readText(dir / "dlib.txt")), r.xy);
}

// The OBJ export against the library's model: regions 0 to 5 in order, every
// vertex exactly, faces with 1-based indices into their object's own
// vertices, texture index = vertex index.
TEST(KelmoDemo, ObjHoldsTheLibrarysModel) {
    const Runs &r = runs();
    ASSERT_GE(r.model, 0);
    std::istringstream obj(readText(r.demoDir / "model/model.obj"));
    int region = -1, base = 0, n = 0;
    std::vector<TVector3f> v;  // the region's vertices not yet read, last first
    for (std::string line, tag; std::getline(obj, line); tag.clear()) {
        std::istringstream words(line);
        words >> tag;
        if (tag == "o") {
            EXPECT_TRUE(v.empty()) << "region " << region << " has " << v.size() << " more vertices";
            base += n, ++region;
            ASSERT_EQ(TAVO_GetModelNumVertices(r.model, region, &n), 0);
            v.resize(std::size_t(n));
            TAVO_GetModelRegionVertices(r.model, region, v.data());
            std::reverse(v.begin(), v.end());
        } else if (tag == "v") {
            ASSERT_FALSE(v.empty()) << line;
            float x = 0, y = 0, z = 0;
            words >> x >> y >> z;
            EXPECT_TRUE(x == v.back().x && y == v.back().y && z == v.back().z) << line;
            v.pop_back();
        }
        for (std::string corner; tag == "f" && words >> corner;) {
            const int i = std::stoi(corner), t = std::stoi(corner.substr(corner.find('/') + 1));
            EXPECT_TRUE(i == t && i > base && i <= base + n) << line;
        }
    }
    EXPECT_TRUE(region == 5 && v.empty()) << region;
}

// The demo's GLB against the library's model, region by region: positions are
// the vertices in metres, 0.034 a unit (the mouth's inside 0.3 units further
// back); texture v is flipped; the triangles cover every edge of every quad
// (of the head, those facing the front);
// the jaw_open target is the change that the library's own jaw_open makes
// from weight 0 to 1, on exactly the meshes it moves; the head's texture is
// the model's, alpha mask included. `kelmo export` makes the same GLB again
// from the model folder.
TEST(KelmoDemo, GlbHoldsTheLibrarysModelAndItsMorphs) {
    const Runs &r = runs();
    ASSERT_GE(r.model, 0);
    tinygltf::TinyGLTF loader;
    tinygltf::Model glb;
    std::string error, warning;
    ASSERT_TRUE(loader.LoadBinaryFromFile(&glb, &error, &warning, (r.demoDir / "model.glb").string())) << error;
    int32_t copy = -1, morph = -1;
    std::vector<std::vector<TVector3f>> pinned, moved;
    ASSERT_EQ(TAVO_InitModel(&copy, 0) + TAVO_InitModel(&morph, 1) + TAVO_CopyModel(r.model, copy), 0);
    ASSERT_EQ(TAVO_LoadExpressionToModel(morph, (kData + "morphs/jaw_open.vtx").c_str()) +
                  TAVO_AdjustModelDeformation(r.model, morph) + TAVO_ApplyMorph(copy, morph, 0.0f) +
                  TAVO_GetModelVertices(copy, pinned) + TAVO_ApplyMorph(copy, morph, 1.0f) +
                  TAVO_GetModelVertices(copy, moved),
              0);
    TAVO_FreeModel(copy), TAVO_FreeModel(morph);
    auto floats = [&](int accessor) {
        const tinygltf::Accessor &a = glb.accessors[std::size_t(accessor)];
        const tinygltf::BufferView &v = glb.bufferViews[std::size_t(a.bufferView)];
        const float *f = reinterpret_cast<const float *>(glb.buffers[0].data.data() + v.byteOffset + a.byteOffset);
        return std::vector<float>(f, f + a.count * (a.type == TINYGLTF_TYPE_VEC2 ? 2 : 3));
    };
    ASSERT_EQ(glb.meshes.size(), 6u);
    for (int region = 0; region < 6; ++region) {
        const tinygltf::Primitive &p = glb.meshes[std::size_t(region)].primitives.at(0);
        int32_t n = 0, quadCount = 0;
        TAVO_GetModelNumVertices(r.model, region, &n), TAVO_GetModelRegionNumQuads(r.model, region, &quadCount);
        std::vector<TVector3f> v(static_cast<std::size_t>(n));
        std::vector<float> uv(2 * std::size_t(n));
        std::vector<int32_t> quads(4 * std::size_t(quadCount));
        TAVO_GetModelRegionVertices(r.model, region, v.data()), TAVO_GetModelRegionTextureCoords(r.model, region, uv.data());
        TAVO_GetModelRegionQuads(r.model, region, quads.data());
        const std::vector<float> position = floats(p.attributes.at("POSITION")), texture = floats(p.attributes.at("TEXCOORD_0"));
        ASSERT_EQ(position.size(), 3 * std::size_t(n)) << region;
        const float back = region == 5 ? 0.3f : 0.0f;
        for (std::size_t i = 0; i < std::size_t(n); ++i)
            ASSERT_TRUE(std::abs(position[3 * i] - 0.034f * v[i].x) < 1e-6f && std::abs(position[3 * i + 1] - 0.034f * v[i].y) < 1e-6f &&
                        std::abs(position[3 * i + 2] - 0.034f * (v[i].z - back)) < 1e-6f && texture[2 * i] == uv[2 * i] &&
                        std::abs(texture[2 * i + 1] - (1.0f - uv[2 * i + 1])) < 1e-7f)
                << region << " vertex " << i;
        const tinygltf::Accessor &ia = glb.accessors[std::size_t(p.indices)];
        const uint8_t *ib = glb.buffers[0].data.data() + glb.bufferViews[std::size_t(ia.bufferView)].byteOffset;
        std::set<std::pair<int, int>> edges;
        for (std::size_t t = 0; t < ia.count; t += 3)
            for (std::size_t k = 0; k < 3; ++k) {
                const int a = reinterpret_cast<const uint16_t *>(ib)[t + k], b = reinterpret_cast<const uint16_t *>(ib)[t + (k + 1) % 3];
                edges.insert({std::min(a, b), std::max(a, b)});
            }
        // Seen from +z, the head keeps only what faces the front: every quad
        // that is convex and counter-clockwise there, and no triangle turned away.
        auto turn = [&](int a, int b, int c) {
            return (v[b].x - v[a].x) * (v[c].y - v[a].y) - (v[b].y - v[a].y) * (v[c].x - v[a].x);
        };
        for (std::size_t q = 0; q < quads.size(); q += 4) {
            bool front = true;
            for (std::size_t k = 0; k < 4; ++k) front = front && turn(quads[q + k], quads[q + (k + 1) % 4], quads[q + (k + 2) % 4]) > 0;
            for (std::size_t k = 0; k < 4 && (front || region > 0); ++k) {
                const int a = quads[q + k], b = quads[q + (k + 1) % 4];
                EXPECT_TRUE(a == b || edges.count({std::min(a, b), std::max(a, b)})) << region << " quad " << q / 4;
            }
        }
        const auto *index = reinterpret_cast<const uint16_t *>(ib);
        for (std::size_t t = 0; t < ia.count && region == 0; t += 3)
            EXPECT_GT(turn(index[t], index[t + 1], index[t + 2]), 0.0f) << "head triangle " << t / 3;
        const tinygltf::Value &extras = glb.meshes[std::size_t(region)].extras;
        const tinygltf::Value names = extras.IsObject() ? extras.Get("targetNames") : tinygltf::Value();
        int jaw = -1;
        for (int k = 0; names.IsArray() && k < int(names.ArrayLen()); ++k) jaw = names.Get(k).Get<std::string>() == "jaw_open" ? k : jaw;
        const std::vector<float> delta = jaw >= 0 ? floats(p.targets[std::size_t(jaw)].at("POSITION")) : std::vector<float>(3 * std::size_t(n), 0.0f);
        for (std::size_t i = 0; i < std::size_t(n); ++i) {
            const TVector3f &a = pinned[std::size_t(region)][i], &b = moved[std::size_t(region)][i];
            ASSERT_TRUE(std::abs(delta[3 * i] - 0.034f * (b.x - a.x)) < 1e-6f && std::abs(delta[3 * i + 1] - 0.034f * (b.y - a.y)) < 1e-6f &&
                        std::abs(delta[3 * i + 2] - 0.034f * (b.z - a.z)) < 1e-6f)
                << region << " jaw_open vertex " << i;
        }
        EXPECT_EQ(jaw >= 0, region == 0 || region == 4 || region == 5) << region;  // the head, the lower teeth, the mouth
    }
    const tinygltf::Material &head = glb.materials[std::size_t(glb.meshes[0].primitives[0].material)];
    const tinygltf::Image &image = glb.images[std::size_t(glb.textures[std::size_t(head.pbrMetallicRoughness.baseColorTexture.index)].source)];
    // The texture that the OBJ set holds: the whole head's, completed by the tool.
    EXPECT_TRUE(image.width == 256 && image.image == load(r.demoDir / "model/texture.png").rgba &&
                head.alphaMode == "MASK");

    const fs::path dir = kRoot / "export";
    fs::create_directories(dir);
    fs::copy(r.demoDir / "model", dir / "m");
    EXPECT_EQ(kelmo({"export", "m", "--format", "glb", "-o", "again.glb"}, dir).exitCode, 0);
    EXPECT_EQ(readText(dir / "again.glb"), readText(r.demoDir / "model.glb"));
}

// `kelmo render` makes the model again from the folder of `kelmo create` or
// from the photo and its points, and draws what the C example host draws
// through the library's interface and what the demo drew: the middle view
// of a turntable of 3 is the front view. `kelmo frame` cuts the demo's frame.
TEST(KelmoRender, DrawsWhatTheCExampleAndTheDemoDraw) {
    const Runs &r = runs();
    const fs::path dir = kRoot / "render";
    EXPECT_EQ(run({KELMO_EXAMPLE, kData, kPhoto, r.points.string(), "example.png"}, dir).exitCode, 0);
    EXPECT_EQ(kelmo({"create", kPhoto, "--points", r.points.string(), "-o", "m"}, dir).exitCode, 0);
    EXPECT_EQ(kelmo({"render", "m", "--yaw", "20", "--size", "400x400", "--face-only", "-o", "yaw.png"}, dir).exitCode,
              0);
    EXPECT_EQ(kelmo({"frame", kPhoto, "--points", r.points.string(), "-o", "frame.png"}, dir).exitCode, 0);
    EXPECT_EQ(load(dir / "frame.png").rgba, load(r.demoDir / "frame.png").rgba);
    const Outcome o = kelmo({"render", kPhoto, "--points", r.points.string(), "--size", "64", "--turntable", "3",
                             "--morph", "jaw_open=1", "-o", "strip.png"},
                            dir);
    ASSERT_EQ(o.exitCode, 0) << o.err;
    const Picture drawn = load(dir / "example.png"), strip = load(dir / "strip.png");
    ASSERT_EQ(drawn.width * drawn.height, 400 * 400);
    EXPECT_EQ(load(dir / "yaw.png").rgba, drawn.rgba);
    EXPECT_GT(std::count_if(drawn.rgba.begin(), drawn.rgba.end(), [](uint8_t a) { return a != 0; }), 40000);
    EXPECT_TRUE(strip.width == 3 * 64 && strip.sameView(1, load(r.demoDir / "jaw_open.png"), 4));
}

// The whole head, the default: turned up to 45 degrees, tilted by 20, with
// the mouth open or not, every pixel inside the head's outline (drawn pixels
// of the opaque --no-mask head on both sides in its row and in its column)
// is opaque.
TEST(KelmoRender, WholeHeadIsOpaqueInsideItsOutline) {
    const Runs &r = runs();
    const fs::path dir = kRoot / "whole";
    for (const char *pitch : {"-20", "20"}) {
        std::vector<std::string> args = {"render", kPhoto, "--points", r.points.string(), "--pitch", pitch,
                                          "--turntable", "7", "--size", "96", "--morph", "jaw_open=1"};
        if (pitch[0] == '-') args.resize(args.size() - 2);
        const Outcome w = kelmo(args + std::vector<std::string>{"-o", "w.png"}, dir);
        const Outcome o = kelmo(args + std::vector<std::string>{"--no-mask", "-o", "o.png"}, dir);
        ASSERT_TRUE(w.exitCode == 0 && o.exitCode == 0) << w.err << o.err;
        const Picture whole = load(dir / "w.png"), opaque = load(dir / "o.png");
        int inside = 0;
        for (int k = 0; k < 7; ++k)
            for (int y = 0; y < 96; ++y)
                for (int x = 0; x < 96; ++x) {
                    auto drawn = [&](int dx, int dy) {
                        for (int u = x + dx, v = y + dy; u >= 0 && u < 96 && v >= 0 && v < 96; u += dx, v += dy)
                            if (opaque.at(u, v, k)[3]) return true;
                        return false;
                    };
                    if (!(drawn(-1, 0) && drawn(1, 0) && drawn(0, -1) && drawn(0, 1))) continue;
                    ++inside;
                    EXPECT_EQ(whole.at(x, y, k)[3], 255) << "pitch " << pitch << " view " << k << " at " << x << ", " << y;
                }
        EXPECT_GT(inside, 7 * 2500);
    }
}

// A white square centred on (20, 20) of a black picture, warped from (20, 20)
// to (40, 40): the destination samples the source point, the square's old
// place shows what lay nearer the fixed corner, and the corners stay.
TEST(KelmoWarp, MovesASourcePointOntoItsDestination) {
    const fs::path dir = kRoot / "warp";
    std::vector<uint8_t> rgb(64 * 64 * 3, 0);
    for (int y = 17; y <= 23; ++y) std::fill_n(rgb.begin() + (y * 64 + 17) * 3, 21, 255);
    save(rgb, 64, 64, (fs::create_directories(dir), dir / "dot.png"));
    writeText(dir / "from.txt", "20 20\n"), writeText(dir / "to.txt", "40 40\n");
    EXPECT_EQ(kelmo({"warp", "dot.png", "--from", "from.txt", "--to", "to.txt", "-o", "w.png"}, dir).exitCode, 0);
    const Picture w = load(dir / "w.png");
    EXPECT_TRUE(w.width == 64 && w.at(40, 40)[0] > 200 && w.at(20, 20)[0] < 60 && w.at(63, 0)[0] == 0);
}

// Interrupted while it writes, a command removes its temporary files and folders.
TEST(KelmoDemo, InterruptedLeavesNothingBehind) {
    const fs::path dir = kRoot / "interrupted";
    const Outcome r = kelmo({"demo", kPhoto, "--points", runs().points.string(), "--tile", "64", "-o", "demo"}, dir,
                            [&] { return entriesBelow(dir).size() > 1; });  // its folder and a first file
    EXPECT_EQ(r.signal, SIGINT) << r.exitCode;
    EXPECT_EQ(entriesBelow(dir), std::vector<std::string>{});
}

// Exit code 0 for help, 2 for a bad command line, 1 for an unusable input,
// with a message that names the problem. Each case runs in an empty folder
// that must stay empty; "@photo" is the sample photo, "@NAME" an input below.
TEST(KelmoCommandLine, EndsWithItsExitCodeAndAMessageNamingTheProblemAndWritesNothing) {
    const fs::path in = kRoot / "inputs", work = kRoot / "work";
    fs::create_directories(in / "photos"), fs::create_directories(in / "record");
    std::string good;
    for (int i = 0; i < 66; ++i) good += std::to_string(200 + i % 11) + " " + std::to_string(100 + i / 11 * 5) + "\n";
    for (const auto &[name, text] : std::map<std::string, std::string>{
             {"good.txt", good}, {"short.txt", good.substr(0, good.rfind('\n', good.size() - 2) + 1)},
             {"words.txt", "1 2\n12 abc\n"}, {"one.txt", "10 10\n"}, {"two.txt", "10 10\n20 20\n"},
             {"edge.txt", "512 10\n"}, {"broken.png", "not a png"},
             {"weak.muscle", "attachment 0 0 0\ninsertion 1 0 0\nbound1 1 1 0\nbound2 1 -1 0\n"},
             {"record/model.txt", "photo ../photo.png\npoints points.txt\n"}})
        writeText(in / name, text);
    save(std::vector<uint8_t>(1100 * 1100 * 3, 90), 1100, 1100, in / "big.png");
    const std::tuple<std::vector<std::string>, int, std::string> calls[] = {
        {{"--help"}, 0, "\n  batch DIR"},
        {{"frame", "-h"}, 0, "usage: kelmo frame"},
        {{"transmogrify"}, 2, "'transmogrify'"},
        {{"landmarks"}, 2, "PHOTO"},
        {{"landmarks", "missing.png"}, 1, "'missing.png'"},
        {{"landmarks", "@broken.png"}, 1, "not a PNG, JPEG or BMP file"},
        {{"landmarks", "@photo", "--bogus"}, 2, "'--bogus'"},
        {{"create", "@photo", "--points", "@good.txt", "--face", "2", "-o", "m"}, 2, "--points"},
        {{"create", "@photo", "--data", "@photos", "-o", "m"}, 1, "photos' is not a kelmo data directory"},
        {{"render", "@photo", "-o", "r.txt"}, 2, "'r.txt'"},
        {{"render", "@photo", "--points", "@good.txt", "--morph", "frown=1", "-o", "r.png"}, 1, "'frown'"},
        {{"render", "@photo", "--muscle", "@weak.muscle", "-o", "r.png"}, 1, "'strength' is missing"},
        {{"render", "@record", "-o", "r.png"}, 1, "'photo' must name a file of the folder"},
        {{"frame", "@photo", "--points", "@short.txt", "-o", "f.png"}, 1, "short.txt: 65 points, expected 66"},
        {{"frame", "@photo", "--points", "@none.txt", "-o", "f.png"}, 1, "none.txt'"},
        {{"warp", "@photo", "--to", "@one.txt", "-o", "w.png"}, 2, "--from"},
        {{"warp", "@photo", "--from", "@one.txt", "--to", "@two.txt", "-o", "w.png"}, 1, "two.txt' holds 2"},
        {{"warp", "@photo", "--from", "@edge.txt", "--to", "@one.txt", "-o", "w.png"}, 1, "(512, 10)"},
        {{"warp", "@big.png", "--from", "@one.txt", "--to", "@one.txt", "-o", "w.png"}, 1, "1100 x 1100"},
        {{"demo", "@photo", "--points", "@words.txt", "-o", "d"}, 1, "words.txt:2:"},
        {{"batch", "@photos", "--shard", "2/2", "-o", "out"}, 2, "--shard"},
        {{"batch", "@photo", "-o", "out"}, 1, "is not a folder"},
        {{"export", "@record", "--format", "fbx"}, 2, "'fbx'"},
        {{"export", "@photos"}, 1, "photos' is not a model folder"},
        {{"view", "@record", "-o", "page.htm"}, 2, "'page.htm'"},
    };
    for (const auto &[call, exitCode, message] : calls) {
        std::vector<std::string> args;
        for (const std::string &a : call)
            args.push_back(a == "@photo" ? kPhoto : a[0] == '@' ? (in / a.substr(1)).string() : a);
        const Outcome r = kelmo(args, work);
        EXPECT_EQ(r.exitCode, exitCode) << call[0] << ": " << message << "\n" << r.err;
        EXPECT_NE((exitCode ? r.err : r.out).find(message), std::string::npos) << call[0] << "\n" << r.out << r.err;
        EXPECT_EQ(entriesBelow(work), std::vector<std::string>{}) << call[0] << ": " << message;
        fs::remove_all(work);
    }
}

}  // namespace
