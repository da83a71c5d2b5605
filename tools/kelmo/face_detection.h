// Where the faces of a photo are: dlib's frontal face detector (HOG features
// over an image pyramid, five linear filters), run on the photo or on a copy
// scaled to its working size.
//
// The detector's work is dlib's header code, compiled into the tool. On
// x86-64 Linux the same code is also compiled for AVX2 into a module beside
// the libraries (kelmo/kelmo_face_detection_avx2.so), which the tool loads
// when the processor has AVX2: dlib's eight-float vectors then run as one
// instruction instead of two, and the compiler no longer splits the rest.
// The arithmetic is the same operations in the same order (no fused
// multiply-adds: the whole project builds with -ffp-contract=off), so both
// give the same boxes and scores, bit for bit. The module is a separate
// shared object with hidden symbols, so that its copies of dlib's templates
// never stand in for the generic ones, and is only loaded on processors that
// can run it.
#pragma once

#include <vector>

#include <dlib/image_processing/frontal_face_detector.h>

namespace kelmo::cli {

// A photo's packed RGB rows seen as a dlib image, so that the detector and the
// predictor read the pixels where they are instead of from a copy (36 MB for
// a 12-megapixel photo).
struct RgbView {
    const uint8_t *pixels = nullptr;
    long rows = 0, columns = 0;
};
// dlib's generic image interface, found by argument-dependent lookup.
inline long num_rows(const RgbView &v) { return v.rows; }
inline long num_columns(const RgbView &v) { return v.columns; }
inline const void *image_data(const RgbView &v) { return v.pixels; }
inline long width_step(const RgbView &v) { return v.columns * 3; }

}  // namespace kelmo::cli

template <>
struct dlib::image_traits<kelmo::cli::RgbView> {
    using pixel_type = dlib::rgb_pixel;
};

namespace kelmo::cli {

// The detector's working size: its cost grows with the area it scans.
inline constexpr int kMaxDetectionSide = 1280;

// The detector's faces on `image` with their scores, boxes in the image's own
// pixels (inclusive bounds). An image longer than the working size is scanned
// scaled down to it; one at most half of it, when no face is found at first,
// again scaled up twice (the detector finds faces down to about 80 pixels).
// `threshold` is added to the detector's own (0 for faces; below 0, weaker
// windows too).
std::vector<dlib::rect_detection> findFaceDetections(dlib::frontal_face_detector &detector, const RgbView &image,
                                                     double threshold);

using FaceDetectionRoutine = std::vector<dlib::rect_detection> (*)(dlib::frontal_face_detector &, const RgbView &,
                                                                   double threshold);

// findFaceDetections compiled for AVX2, when this processor has it and the
// module is found beside the libraries; nullptr otherwise. Loaded once.
FaceDetectionRoutine avx2FaceDetection();

// The routine that the tool uses: avx2FaceDetection() when there is one,
// findFaceDetections otherwise.
FaceDetectionRoutine fastestFaceDetection();

}  // namespace kelmo::cli
