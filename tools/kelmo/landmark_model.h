// The compact form of a 68-point landmark model: the trees of a dlib shape
// predictor as plain little-endian numbers, which load in a small fraction of
// the time that dlib's portable serialisation takes (about a second for its
// 100 MB file, most of a one-photo `kelmo create`). The build writes it once
// from the installed model, beside the data directory; the predictor made from
// it is the same, member for member, so it places the same points.
//
// Layout: the 16-byte signature, then five 32-bit counts (parts, cascades,
// trees per cascade, splits per tree, feature pixels per cascade), the
// initial shape (2 x parts floats), every cascade's feature pixel coordinates
// (2 x features floats each), then every tree: its splits (two 32-bit pixel
// indices and a float threshold each) and its splits + 1 leaves (2 x parts
// floats each); last, dlib's frontal face detector in its own serialisation
// (a 64-bit byte count first), which dlib otherwise unpacks from its
// compressed built-in copy at every start (most of the remaining load time).
#pragma once

#include <string>

#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>

#include "tools/kelmo/landmark_cascade.h"

namespace kelmo::cli {

// The compact model's file name.
inline constexpr const char *kCompactLandmarkModelName = "face_landmarks_68.kelmo";

// True when the file begins with the compact form's signature.
bool isCompactLandmarkModel(const std::string &path);

// Reads a compact model: its detector into `detector`, and its trees as a
// cascade that reads them where the file lies in memory (mapped from the
// file cache where the system can: nothing is allocated or copied for them).
// Throws CliError when the file is unreadable, truncated or inconsistent.
LandmarkCascade loadCompactLandmarkCascade(const std::string &path, dlib::frontal_face_detector &detector);

// Reads a compact model into dlib's own `predictor` and `detector` (the
// build's check of the file against dlib's; the tests' reference). Throws
// CliError when the file is unreadable, truncated or inconsistent.
void loadCompactLandmarkModel(const std::string &path, dlib::shape_predictor &predictor,
                              dlib::frontal_face_detector &detector);

// Writes the compact form of dlib's shape predictor file `modelPath` into
// `compactPath`, with dlib's frontal face detector, and checks that the
// predictor and detector read back from it serialise byte for byte as the
// originals. Throws CliError (or dlib's errors) on failure.
void writeCompactLandmarkModel(const std::string &modelPath, const std::string &compactPath);

}  // namespace kelmo::cli
