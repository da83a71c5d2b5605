// Pieces shared by several subcommands (see commands.h).
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "tools/kelmo/commands.h"
#include "tools/kelmo/face_landmarks.h"
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

LandmarkSource::~LandmarkSource() = default;

void LandmarkSource::preload() {
    if (!options_.pointsFile && landmarker_ == nullptr)
        landmarker_ = std::make_unique<FaceLandmarker>(options_.modelFile ? *options_.modelFile : defaultLandmarkModel());
}

FeaturePoints LandmarkSource::pointsFor(const Image &photo, const std::string &photoName) {
    if (options_.pointsFile) return readFeaturePoints(*options_.pointsFile);
    preload();
    const std::vector<DetectedFace> faces =
        landmarker_->detect(photo.pixels(TAVO_IMAGEMODE_COLOR), photo.width(), photo.height());
    facesFoundLast_ = static_cast<int>(faces.size());
    return chooseFace(faces, options_.face, photoName).points;
}

CreateOptions createOptions(const ParsedArgs &args) {
    CreateOptions o;
    o.noSmile = args.has("no-smile");
    o.closedMouth = args.has("closed-mouth");
    o.noMask = args.has("no-mask");
    o.genericTeeth = args.has("generic-teeth");
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

CreatedModelFolder stageModelFolder(const Model &model, const std::string &photoPath,
                                    const FeaturePoints &points, const CreateOptions &options,
                                    const std::string &folder, OutputSet &out) {
    CreatedModelFolder result;
    result.expressionClass = expressionClassOf(model);
    const ObjSummary obj = exportObj(model, options.genericTeeth, folder, out);
    result.vertices = obj.vertices;
    result.faces = obj.faces;

    ModelRecord record;
    std::string extension = fs::path(photoPath).extension().string();
    for (char &c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    record.photoFile = "photo" + extension;
    record.pointsFile = "points.txt";
    record.options = options;
    record.expressionClass = result.expressionClass;
    out.copyFile(photoPath, (fs::path(folder) / record.photoFile).string());
    out.writeText((fs::path(folder) / record.pointsFile).string(), formatPoints(points));
    out.writeText((fs::path(folder) / "model.txt").string(), formatModelRecord(record));
    return result;
}

double secondsNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace kelmo::cli
