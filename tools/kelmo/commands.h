// The subcommands of the kelmo tool. Each takes the words after its name,
// prints its own --help, and returns the process exit code (cli.h) or throws
// CliError.
#pragma once

#include <memory>
#include <optional>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "tools/kelmo/atomic_file.h"
#include "tools/kelmo/cli.h"
#include "tools/kelmo/model_ops.h"
#include "tools/kelmo/points_file.h"
#include "tools/kelmo/session.h"

namespace kelmo::cli {

using Args = std::vector<std::string>;

int commandLandmarks(const Args &args);
int commandCreate(const Args &args);
int commandRender(const Args &args);
int commandFrame(const Args &args);
int commandWarp(const Args &args);
int commandDemo(const Args &args);
int commandBatch(const Args &args);
int commandExport(const Args &args);
int commandView(const Args &args);

// ---- Shared by several commands ---------------------------------------------

class FaceLandmarker;

// Where a command's 66 points come from: --points FILE, or dlib on the photo
// (--model FILE, --face N).
struct LandmarkOptions {
    std::optional<std::string> pointsFile;
    std::optional<std::string> modelFile;
    std::optional<int> face;
    bool manyPhotos = false;  // the model serves a batch: its trees on the heap (face_landmarks.h)
};
extern const std::vector<OptionSpec> kLandmarkOptionSpecs;  // --model, --face
LandmarkOptions landmarkOptions(const ParsedArgs &args, bool allowPointsFile);

// Loads dlib's model on first use and keeps it for later photos (batch).
class LandmarkSource {
public:
    explicit LandmarkSource(LandmarkOptions options);
    ~LandmarkSource();
    // The 66 points of the photo read from the file `photoPath`: read from
    // --points, or found by dlib. A large JPEG photo is read again, reduced
    // by the decoder, for the face detector (the points are still placed on
    // the photo itself).
    FeaturePoints pointsFor(const Image &photo, const std::string &photoPath);
    // Starts loading dlib's model on a thread of its own, so that a command
    // reads its photo meanwhile; pointsFor waits for it. Nothing with --points.
    void startLoading();
    // Loads dlib's model now, or waits for the load begun (batch loads it
    // before starting its workers: no thread may run across a fork).
    void preload();
    int facesFoundLast() const { return facesFoundLast_; }

private:
    LandmarkOptions options_;
    std::unique_ptr<FaceLandmarker> landmarker_;
    std::thread loader_;
    std::exception_ptr loadError_;
    int facesFoundLast_ = 0;
};

extern const std::vector<OptionSpec> kCreateOptionSpecs;  // --no-smile, --closed-mouth, --no-mask, --generic-teeth
CreateOptions createOptions(const ParsedArgs &args);

// Prints a usage text (to stdout for --help).
int printHelp(const char *text);

// The required -o value.
std::string requiredOutput(const ParsedArgs &args, const std::string &what);

// The required -o value of a picture: a .png, .jpg/.jpeg or .bmp path
// (tavoimage picks the format from the extension).
std::string requiredImageOutput(const ParsedArgs &args);

// Everything `kelmo create` writes, staged into `out` under `folder`: the
// OBJ set, model.glb (in builds with glTF export), the points, a copy of the
// photo and the record. dataDirectory holds the morphs of the GLB.
struct CreatedModelFolder {
    int expressionClass = 0;
    int vertices = 0;
    int faces = 0;
    int morphTargets = 0;      // in model.glb
    std::vector<uint8_t> glb;  // model.glb's bytes (empty without glTF export)
};
CreatedModelFolder stageModelFolder(const Model &model, const Image &photo, const std::string &photoPath,
                                    const FeaturePoints &points, const CreateOptions &options,
                                    const std::string &dataDirectory, const std::string &folder, OutputSet &out);
// The part of a model folder that records how the model was made, beside
// its mesh files: the photo (a copy of photoPath, or photo.png written from
// `photo` when photoPath is empty), points.txt and model.txt, from which
// `kelmo render DIR` creates the model again.
void stageModelRecord(const Image &photo, const std::string &photoPath, const FeaturePoints &points,
                      const CreateOptions &options, int expressionClass, const std::string &folder,
                      OutputSet &out);

// The model of a folder written by `kelmo create`, made again from its
// photo, points and options (quads and texture quads cannot be set through
// the interface, so a model is never read back from its mesh files).
std::unique_ptr<Model> recreateModel(const std::string &folder, ModelRecord *record = nullptr);

// The model as glTF (gltf_export.h); throws CliError in builds without glTF
// export.
struct GltfSummary;
struct GltfOptions;
std::vector<uint8_t> modelAsGltf(const Model &model, const std::string &dataDirectory, const GltfOptions &options,
                                 GltfSummary *summary);

// Seconds since some fixed point, for the timings the commands print.
double secondsNow();

}  // namespace kelmo::cli
