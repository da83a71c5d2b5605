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
#include "tools/kelmo/landmark_model.h"
#include "tools/kelmo/session.h"

#ifndef KELMO_INSTALL_LANDMARKS_DIR
#define KELMO_INSTALL_LANDMARKS_DIR "/usr/local/share/kelmo/landmarks"
#endif

namespace kelmo::cli {

struct FaceLandmarker::Impl {
    dlib::frontal_face_detector detector;
    dlib::shape_predictor predictor;
};

FaceLandmarker::FaceLandmarker(const std::string &modelPath) : impl_(std::make_unique<Impl>()) {
    std::error_code ec;
    if (std::filesystem::exists(modelPath, ec) && !std::filesystem::is_regular_file(modelPath, ec))
        throw failure("landmark model '" + modelPath + "' is not a file");
    if (!std::filesystem::is_regular_file(modelPath, ec))
        throw failure("landmark model '" + modelPath + "' does not exist" +
                      (modelPath == kDefaultShapePredictor
                           ? " (install Debian's libdlib-data: bash scripts/install-deps.sh), or give --model FILE"
                           : ""));
    try {
        if (isCompactLandmarkModel(modelPath)) {
            loadCompactLandmarkModel(modelPath, impl_->predictor, impl_->detector);
        } else {
            impl_->detector = dlib::get_frontal_face_detector();
            dlib::deserialize(modelPath) >> impl_->predictor;
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
    if (impl_->predictor.num_parts() != static_cast<unsigned long>(kIbugPointCount))
        throw failure("landmark model '" + modelPath + "' predicts " + std::to_string(impl_->predictor.num_parts()) +
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

namespace {

// Scaled copy for the detector, by bilinear interpolation (dlib's own).
dlib::array2d<dlib::rgb_pixel> scaledCopy(const dlib::array2d<dlib::rgb_pixel> &image, double factor) {
    dlib::array2d<dlib::rgb_pixel> out(std::max(1L, std::lround(image.nr() * factor)),
                                       std::max(1L, std::lround(image.nc() * factor)));
    dlib::resize_image(image, out, dlib::interpolate_bilinear());
    return out;
}

}  // namespace

std::vector<DetectedFace> FaceLandmarker::detect(const std::vector<uint8_t> &rgb, int width, int height) {
    if (width <= 0 || height <= 0 || rgb.size() < static_cast<std::size_t>(width) * height * 3) return {};
    dlib::array2d<dlib::rgb_pixel> image(height, width);
    const uint8_t *p = rgb.data();
    for (long r = 0; r < height; ++r)
        for (long c = 0; c < width; ++c, p += 3) image[r][c] = dlib::rgb_pixel(p[0], p[1], p[2]);

    constexpr double kMaxDetectionSide = 1280.0;
    const int longSide = std::max(width, height);
    std::vector<dlib::rectangle> boxes;
    if (longSide > kMaxDetectionSide) {
        const double factor = kMaxDetectionSide / longSide;
        for (const dlib::rectangle &b : impl_->detector(scaledCopy(image, factor)))
            boxes.emplace_back(std::lround(b.left() / factor), std::lround(b.top() / factor),
                               std::lround(b.right() / factor), std::lround(b.bottom() / factor));
    } else {
        boxes = impl_->detector(image);
        if (boxes.empty() && longSide * 2 <= kMaxDetectionSide) {
            for (const dlib::rectangle &b : impl_->detector(scaledCopy(image, 2.0)))
                boxes.emplace_back(b.left() / 2, b.top() / 2, b.right() / 2, b.bottom() / 2);
        }
    }

    std::vector<DetectedFace> faces;
    for (const dlib::rectangle &box : boxes) {
        const dlib::full_object_detection shape = impl_->predictor(image, box);
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
