// The subcommands of the kelmo tool. Each takes the words after its name,
// prints its own --help, and returns the process exit code (cli.h) or throws
// CliError.
#pragma once

#include <memory>
#include <optional>
#include <string>
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

// ---- Shared by several commands ---------------------------------------------

class FaceLandmarker;

// Where a command's 66 points come from: --points FILE, or dlib on the photo
// (--model FILE, --face N).
struct LandmarkOptions {
    std::optional<std::string> pointsFile;
    std::optional<std::string> modelFile;
    std::optional<int> face;
};
extern const std::vector<OptionSpec> kLandmarkOptionSpecs;  // --model, --face
LandmarkOptions landmarkOptions(const ParsedArgs &args, bool allowPointsFile);

// Loads dlib's model on first use and keeps it for later photos (batch).
class LandmarkSource {
public:
    explicit LandmarkSource(LandmarkOptions options);
    ~LandmarkSource();
    // The 66 points of the photo: read from --points, or found by dlib.
    FeaturePoints pointsFor(const Image &photo, const std::string &photoName);
    // Loads dlib's model now (batch loads it before starting its workers).
    void preload();
    int facesFoundLast() const { return facesFoundLast_; }

private:
    LandmarkOptions options_;
    std::unique_ptr<FaceLandmarker> landmarker_;
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

// Everything `kelmo create` writes, staged into `out` under `folder`.
struct CreatedModelFolder {
    int expressionClass = 0;
    int vertices = 0;
    int faces = 0;
};
CreatedModelFolder stageModelFolder(const Model &model, const std::string &photoPath,
                                    const FeaturePoints &points, const CreateOptions &options,
                                    const std::string &folder, OutputSet &out);

// Seconds since some fixed point, for the timings the commands print.
double secondsNow();

}  // namespace kelmo::cli
