// Automatic landmarks with dlib (see face_landmarks.h).
#include "tools/kelmo/face_landmarks.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/image_transforms.h>

#include "tools/kelmo/cli.h"
#include "tools/kelmo/face_detection.h"
#include "tools/kelmo/landmark_cascade.h"
#include "tools/kelmo/landmark_model.h"
#include "tools/kelmo/session.h"

#ifndef KELMO_INSTALL_LANDMARKS_DIR
#define KELMO_INSTALL_LANDMARKS_DIR "/usr/local/share/kelmo/landmarks"
#endif

namespace kelmo::cli {

int detectionReduction(int width, int height) {
    const int longSide = std::max(width, height);
    if (longSide <= kMaxDetectionSide) return 1;
    for (int reduction : {2, 4}) {
        if ((longSide + reduction - 1) / reduction <= kMaxDetectionSide) return reduction;
    }
    return 8;
}

std::optional<ReducedPhoto> reducedForDetection(const Image &photo, const std::string &photoPath) {
    const int reduction = detectionReduction(photo.width(), photo.height());
    if (reduction == 1 || photoPath.empty()) return std::nullopt;
    ImageHandle h = -1;
    if (TAVO_LoadJpegReduced(&h, photoPath.c_str(), reduction) != 0) return std::nullopt;
    const Image image(h);
    ReducedPhoto reduced;
    reduced.width = image.width();
    reduced.height = image.height();
    reduced.reduction = reduction;
    reduced.rgb = image.pixels(TAVO_IMAGEMODE_COLOR);
    return reduced;
}

struct FaceLandmarker::Impl {
    FaceDetectionRoutine findFaces = fastestFaceDetection();
    dlib::frontal_face_detector detector;
    dlib::shape_predictor predictor;         // the trees on the heap (empty for a mapped compact model)
    std::optional<LandmarkCascade> cascade;  // the trees: predictor's, or the compact file's
};

FaceLandmarker::FaceLandmarker(const std::string &modelPath, LandmarkModelPlacement placement)
    : impl_(std::make_unique<Impl>()) {
    std::error_code ec;
    if (std::filesystem::exists(modelPath, ec) && !std::filesystem::is_regular_file(modelPath, ec))
        throw failure("landmark model '" + modelPath + "' is not a file");
    if (!std::filesystem::is_regular_file(modelPath, ec))
        throw failure("landmark model '" + modelPath + "' does not exist" +
                      (modelPath == kDefaultShapePredictor
                           ? " (install Debian's libdlib-data: bash scripts/install-deps.sh), or give --model FILE"
                           : ""));
    try {
        const bool compact = isCompactLandmarkModel(modelPath);
        if (compact && placement == LandmarkModelPlacement::mapped) {
            impl_->cascade.emplace(loadCompactLandmarkCascade(modelPath, impl_->detector));
        } else if (compact) {
            loadCompactLandmarkModel(modelPath, impl_->predictor, impl_->detector);
            impl_->cascade.emplace(impl_->predictor);
        } else {
            impl_->detector = dlib::get_frontal_face_detector();
            dlib::deserialize(modelPath) >> impl_->predictor;
            impl_->cascade.emplace(impl_->predictor);
        }
    } catch (const CliError &) {
        throw;
    } catch (const std::exception &e) {
        // dlib's message spans several lines; its second says what failed.
        std::string reason = e.what();
        std::replace(reason.begin(), reason.end(), '\n', ' ');
        reason.erase(reason.find_last_not_of(' ') + 1);
        throw failure("landmark model '" + modelPath + "' is not a dlib shape predictor: " + reason);
    }
    if (impl_->cascade->parts() != static_cast<std::size_t>(kIbugPointCount))
        throw failure("landmark model '" + modelPath + "' predicts " + std::to_string(impl_->cascade->parts()) +
                      " points per face; kelmo needs a 68-point (iBUG 300-W) model");
}

FaceLandmarker::~FaceLandmarker() = default;

std::string defaultLandmarkModel() {
    const std::string exeDir = executableDirectory();
    std::error_code ec;
    for (const std::string &dir : {exeDir + "/../landmarks", exeDir + "/../share/kelmo/landmarks",
                                   std::string(KELMO_INSTALL_LANDMARKS_DIR)}) {
        const std::filesystem::path compact = std::filesystem::path(dir) / kCompactLandmarkModelName;
        if (std::filesystem::is_regular_file(compact, ec)) return compact.string();
    }
    return kDefaultShapePredictor;
}

std::vector<DetectedFace> FaceLandmarker::detect(const std::vector<uint8_t> &rgb, int width, int height,
                                                 const ReducedPhoto *reduced) {
    if (width <= 0 || height <= 0 || rgb.size() < static_cast<std::size_t>(width) * height * 3) return {};
    const RgbView image{rgb.data(), height, width};
    std::vector<dlib::rectangle> boxes;
    const int r = reduced != nullptr ? reduced->reduction : 0;
    if (r > 1 && reduced->width == (width + r - 1) / r && reduced->height == (height + r - 1) / r &&
        reduced->rgb.size() >= static_cast<std::size_t>(reduced->width) * reduced->height * 3) {
        // Reduced pixel x covers the photo's pixels r x to r x + r - 1.
        const RgbView reducedImage{reduced->rgb.data(), reduced->height, reduced->width};
        for (const dlib::rect_detection &d : impl_->findFaces(impl_->detector, reducedImage, 0.0)) {
            const dlib::rectangle &b = d.rect;
            boxes.emplace_back(b.left() * r, b.top() * r, b.right() * r + r - 1, b.bottom() * r + r - 1);
        }
    } else {
        for (const dlib::rect_detection &d : impl_->findFaces(impl_->detector, image, 0.0)) boxes.push_back(d.rect);
    }

    std::vector<DetectedFace> faces;
    for (const dlib::rectangle &box : boxes) {
        const dlib::full_object_detection shape = (*impl_->cascade)(image, box);
        DetectedFace face;
        face.left = box.left();
        face.top = box.top();
        face.right = box.right();
        face.bottom = box.bottom();
        for (int k = 0; k < kIbugPointCount; ++k) {
            const dlib::point pt = shape.part(static_cast<unsigned long>(k));
            face.ibug[static_cast<std::size_t>(k)] = {static_cast<int32_t>(pt.x()), static_cast<int32_t>(pt.y())};
        }
        face.points = mapIbugToFeaturePoints(face.ibug);
        faces.push_back(face);
    }
    std::stable_sort(faces.begin(), faces.end(), [](const DetectedFace &a, const DetectedFace &b) {
        return a.left + a.right < b.left + b.right;
    });
    return faces;
}

const DetectedFace &chooseFace(const std::vector<DetectedFace> &faces, std::optional<int> faceNumber,
                               const std::string &photoName) {
    if (faces.empty()) throw failure("no face found in '" + photoName + "'");
    if (faceNumber) {
        if (*faceNumber < 1 || *faceNumber > static_cast<int>(faces.size()))
            throw failure("--face " + std::to_string(*faceNumber) + ": '" + photoName + "' shows " +
                          std::to_string(faces.size()) + (faces.size() == 1 ? " face" : " faces") +
                          " (numbered 1 to " + std::to_string(faces.size()) + " from left to right)");
        return faces[static_cast<std::size_t>(*faceNumber - 1)];
    }
    std::size_t best = 0;
    for (std::size_t k = 1; k < faces.size(); ++k)
        if (faces[k].area() > faces[best].area()) best = k;
    return faces[best];
}

}  // namespace kelmo::cli
