// Automatic landmarks: dlib's frontal face detector finds the faces of a
// photo and its shape predictor the 68 iBUG 300-W points of each; the points
// are then mapped to the 66-point scheme (landmark_scheme.h). The only unit
// of the tool that includes dlib.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/kelmo/landmark_scheme.h"

namespace kelmo::cli {

// Debian's libdlib-data installs the 68-point model here.
inline constexpr const char *kDefaultShapePredictor = "/usr/share/dlib/shape_predictor_68_face_landmarks.dat";

// The model used when none is named: the compact form of the default model
// that the build writes into <build>/landmarks/ (installed into
// share/kelmo/landmarks/), which loads in a fraction of the time; otherwise
// the default model itself.
std::string defaultLandmarkModel();

struct DetectedFace {
    // The detector's box, in photo pixels (inclusive bounds).
    long left = 0, top = 0, right = 0, bottom = 0;
    IbugPoints ibug{};
    FeaturePoints points{};  // the 66 points of the scheme

    long area() const { return (right - left + 1) * (bottom - top + 1); }
};

// The photo reduced by the JPEG decoder (TAVO_LoadJpegReduced): pixel (x, y)
// averages the photo's block of `reduction` x `reduction` pixels from
// (reduction x, reduction y). RGB, packed rows, top row first.
struct ReducedPhoto {
    std::vector<uint8_t> rgb;
    int width = 0, height = 0;
    int reduction = 1;
};

// The decoder's reduction (2, 4 or 8) that brings a photo's long side to at
// most the detector's working size, as large as that allows; 1 when the
// photo already fits, 8 beyond.
int detectionReduction(int width, int height);

class Image;

// The photo read from the file `photoPath` reduced by the decoder for the
// face detector, when it is a JPEG file longer than the detector's working
// size; nothing otherwise (the detector then scales the photo itself).
std::optional<ReducedPhoto> reducedForDetection(const Image &photo, const std::string &photoPath);

// Where the trees of a compact model lie while it is used: where the file is
// mapped (nothing allocated or copied: the quickest start, for a command on
// one photo), or copied into blocks on the heap (which the tool keeps in huge
// pages: the predictor's scattered reads of 65 MB of leaves then cost least
// on virtual machines, for a batch of many photos).
enum class LandmarkModelPlacement { mapped, heap };

class FaceLandmarker {
public:
    // Loads the shape predictor model: a dlib file (about 100 MB, a second or
    // so) or its compact form (landmark_model.h, a small fraction of that),
    // its trees placed as `placement` says. Throws CliError when the file is
    // missing, is not a dlib shape predictor, or predicts another number of
    // points than 68.
    explicit FaceLandmarker(const std::string &modelPath,
                            LandmarkModelPlacement placement = LandmarkModelPlacement::mapped);
    ~FaceLandmarker();
    FaceLandmarker(const FaceLandmarker &) = delete;
    FaceLandmarker &operator=(const FaceLandmarker &) = delete;

    // Every face found in an RGB photo (3 bytes per pixel, packed rows, top
    // row first), ordered from left to right by the centre of its box. The
    // detector runs on a copy scaled down to at most 1280 pixels a side (its
    // cost grows with the area), and again on one scaled up twice when a
    // small photo shows no face at first (it finds faces down to about 80
    // pixels); the 68 points are always predicted on the photo itself.
    // With `reduced` (the same photo reduced by the decoder), the detector
    // runs on that instead, and its boxes are scaled back to the photo.
    std::vector<DetectedFace> detect(const std::vector<uint8_t> &rgb, int width, int height,
                                     const ReducedPhoto *reduced = nullptr);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The face that a command uses: faceNumber (1-based, left to right) when
// given, otherwise the largest box (the leftmost of equals). Throws CliError
// naming the photo when there is no face or no such face.
const DetectedFace &chooseFace(const std::vector<DetectedFace> &faces, std::optional<int> faceNumber,
                               const std::string &photoName);

}  // namespace kelmo::cli
