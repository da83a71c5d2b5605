// Pieces shared by several subcommands (see commands.h).
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "tools/kelmo/commands.h"
#include "tools/kelmo/face_landmarks.h"
#include "tools/kelmo/gltf_export.h"
#include "tools/kelmo/obj_export.h"

namespace kelmo::cli {

namespace fs = std::filesystem;

const std::vector<OptionSpec> kLandmarkOptionSpecs = {
    {"model", 0, true, false},
    {"face", 0, true, false},
};

const std::vector<OptionSpec> kCreateOptionSpecs = {
    {"no-smile", 0, false, false},
    {"closed-mouth", 0, false, false},
    {"no-mask", 0, false, false},
    {"generic-teeth", 0, false, false},
    {"face-only", 0, false, false},
};

LandmarkOptions landmarkOptions(const ParsedArgs &args, bool allowPointsFile) {
    LandmarkOptions o;
    if (allowPointsFile) o.pointsFile = args.value("points");
    o.modelFile = args.value("model");
    if (const auto face = args.value("face")) o.face = static_cast<int>(parseInteger(*face, "--face", 1, 1000));
    if (o.pointsFile && (o.modelFile || o.face))
        throw usageError("--points gives the points; --model and --face apply only when they are found automatically");
    return o;
}

LandmarkSource::LandmarkSource(LandmarkOptions options) : options_(std::move(options)) {}

LandmarkSource::~LandmarkSource() {
    if (loader_.joinable()) loader_.join();
    // A command's source lives until the command ends, and the process with
    // it; freeing the model's 200 000 blocks one by one would cost a tenth of
    // a one-photo `create`. The model is kept, reachable, and the system
    // takes the memory back at exit.
    static auto *const kept = new std::vector<std::unique_ptr<FaceLandmarker>>;
    if (landmarker_ != nullptr) kept->push_back(std::move(landmarker_));
}

namespace {

#if defined(__GLIBC__)
// The process's heap in huge pages. On the virtual machines we run on, a
// fresh 4 KB page costs a fault of some 20 µs at its first touch (the
// library's 8 MB square-root table alone is 2,000 of them). Before the
// library initialises and the landmark model loads, the heap is grown here
// in one step by 96 MB, and that stretch asks for huge pages, 2 MB a fault.
// Setting the pad ends glibc's own tuning of when large blocks are mapped
// apart, so its limits are then set where that tuning goes on a 64-bit
// system, blocks up to 32 MB from the heap, and the top is kept up to
// 128 MB: the stretch is not given back, and photos' buffers are reused from
// one photo to the next (batch workers above all), not mapped and faulted in
// afresh. Untouched, the stretch costs no memory. Where the system gives no
// huge pages, or the heap cannot grow in one piece, only the limits change.
void growHeapInHugePages() {
    constexpr std::size_t kStretchBytes = std::size_t{96} << 20;
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    constexpr int kDefaultTopPad = 128 * 1024;
    constexpr int kLargestHeapBlock = 32 << 20;
    mallopt(M_TOP_PAD, static_cast<int>(kStretchBytes));
    // Blocks below the size that malloc maps on its own, until the heap's
    // top runs out of room and grows, by the pad, in one step.
    auto *const start = static_cast<char *>(sbrk(0));
    std::vector<void *> probes;
    for (int k = 0; k < 64 && static_cast<char *>(sbrk(0)) == start; ++k) probes.push_back(std::malloc(64 * 1024));
    auto *const end = static_cast<char *>(sbrk(0));
    mallopt(M_TOP_PAD, kDefaultTopPad);
    mallopt(M_MMAP_THRESHOLD, kLargestHeapBlock);
    mallopt(M_TRIM_THRESHOLD, 4 * kLargestHeapBlock);
    for (void *probe : probes) std::free(probe);
    if (start == reinterpret_cast<char *>(-1) || end <= start) return;
    const auto first = (reinterpret_cast<std::uintptr_t>(start) + kHugePage - 1) & ~(kHugePage - 1);
    const auto last = reinterpret_cast<std::uintptr_t>(end) & ~(kHugePage - 1);
    if (last > first) madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
}
#endif

}  // namespace

void LandmarkSource::startLoading() {
    if (options_.pointsFile || landmarker_ != nullptr || loader_.joinable()) return;
    const std::string model = options_.modelFile ? *options_.modelFile : defaultLandmarkModel();
#if defined(__GLIBC__)
    // A model on the heap is some 120 000 (compact) or 200 000 (dlib's file)
    // small blocks. Made on a thread of their own they would come from a heap
    // of that thread, which grows a few pages at a time, a system call each;
    // one heap for the whole process grows in large steps.
    mallopt(M_ARENA_MAX, 1);
    growHeapInHugePages();
#endif
    loader_ = std::thread([this, model] {
        try {
            landmarker_ = std::make_unique<FaceLandmarker>(
                model, options_.manyPhotos ? LandmarkModelPlacement::heap : LandmarkModelPlacement::mapped);
        } catch (...) {
            loadError_ = std::current_exception();
        }
    });
}

void LandmarkSource::preload() {
    if (options_.pointsFile) return;
    startLoading();
    if (loader_.joinable()) loader_.join();
    if (loadError_) {
        // Thrown again at the next use too: the command ends on it anyway.
        std::rethrow_exception(loadError_);
    }
}

FeaturePoints LandmarkSource::pointsFor(const Image &photo, const std::string &photoPath) {
    if (options_.pointsFile) return readFeaturePoints(*options_.pointsFile);
    startLoading();
    const std::optional<ReducedPhoto> reduced = reducedForDetection(photo, photoPath);
    const std::vector<uint8_t> rgb = photo.pixels(TAVO_IMAGEMODE_COLOR);
    preload();
    const std::vector<DetectedFace> faces =
        landmarker_->detect(rgb, photo.width(), photo.height(), reduced ? &*reduced : nullptr);
    facesFoundLast_ = static_cast<int>(faces.size());
    return chooseFace(faces, options_.face, photoPath).points;
}

CreateOptions createOptions(const ParsedArgs &args) {
    CreateOptions o;
    o.noSmile = args.has("no-smile");
    o.closedMouth = args.has("closed-mouth");
    o.noMask = args.has("no-mask");
    o.genericTeeth = args.has("generic-teeth");
    o.faceOnly = args.has("face-only");
    return o;
}

int printHelp(const char *text) {
    std::fputs(text, stdout);
    return kExitOk;
}

std::string requiredOutput(const ParsedArgs &args, const std::string &what) {
    const auto o = args.value("output");
    if (!o || o->empty()) throw usageError("missing -o " + what);
    return *o;
}

std::string requiredImageOutput(const ParsedArgs &args) {
    const std::string out = requiredOutput(args, "OUT.png");
    std::string ext = fs::path(out).extension().string();
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext != ".png" && ext != ".jpg" && ext != ".jpeg" && ext != ".bmp")
        throw usageError("-o must name a .png, .jpg or .bmp file, not '" + out + "'");
    return out;
}

CreatedModelFolder stageModelFolder(const Model &model, const Image &photo, const std::string &photoPath,
                                    const FeaturePoints &points, const CreateOptions &options,
                                    const std::string &dataDirectory, const std::string &folder, OutputSet &out) {
    CreatedModelFolder result;
    result.expressionClass = expressionClassOf(model);
    const ObjSummary obj = exportObj(model, options.genericTeeth, folder, out);
    result.vertices = obj.vertices;
    result.faces = obj.faces;
#if KELMO_WITH_GLTF
    GltfOptions gltfOptions;
    gltfOptions.genericTeeth = options.genericTeeth;
    gltfOptions.encodedTextures = &obj.rgbaPngs;
    GltfSummary gltf;
    result.glb = modelAsGltf(model, dataDirectory, gltfOptions, &gltf);
    out.writeBytes((fs::path(folder) / "model.glb").string(), result.glb);
    result.morphTargets = static_cast<int>(gltf.morphNames.size());
#else
    (void)dataDirectory;
#endif
    stageModelRecord(photo, photoPath, points, options, result.expressionClass, folder, out);
    return result;
}

void stageModelRecord(const Image &photo, const std::string &photoPath, const FeaturePoints &points,
                      const CreateOptions &options, int expressionClass, const std::string &folder,
                      OutputSet &out) {
    ModelRecord record;
    if (photoPath.empty()) {
        // A photo that never was a file (pixels handed over in memory) is
        // kept losslessly, so that creating the model again gives the same head.
        record.photoFile = "photo.png";
        out.saveImage(photo, (fs::path(folder) / record.photoFile).string());
    } else {
        std::string extension = fs::path(photoPath).extension().string();
        for (char &c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        record.photoFile = "photo" + extension;
        out.copyFile(photoPath, (fs::path(folder) / record.photoFile).string());
    }
    record.pointsFile = "points.txt";
    record.options = options;
    record.expressionClass = expressionClass;
    out.writeText((fs::path(folder) / record.pointsFile).string(), formatPoints(points));
    out.writeText((fs::path(folder) / "model.txt").string(), formatModelRecord(record));
}

std::unique_ptr<Model> recreateModel(const std::string &folder, ModelRecord *recordOut) {
    const ModelRecord record = readModelRecord(folder);
    const Image photo = loadPhoto((fs::path(folder) / record.photoFile).string());
    const FeaturePoints points = readFeaturePoints((fs::path(folder) / record.pointsFile).string());
    if (recordOut != nullptr) *recordOut = record;
    return createModel(photo, points, record.options);
}

std::vector<uint8_t> modelAsGltf(const Model &model, const std::string &dataDirectory, const GltfOptions &options,
                                 GltfSummary *summary) {
#if KELMO_WITH_GLTF
    return encodeGltf(model.handle(), dataDirectory, options, summary);
#else
    (void)model, (void)dataDirectory, (void)options, (void)summary;
    throw failure("this build of kelmo has no glTF export (it was built without TinyGLTF)");
#endif
}

double secondsNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace kelmo::cli
