// The face detector compiled for AVX2 against the generic one: the same
// faces, boxes and scores, bit for bit.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>

#include "tools/kelmo/face_detection.h"
#include "tools/kelmo/face_landmarks.h"
#include "tools/kelmo/landmark_model.h"
#include "tools/kelmo/session.h"

namespace {

using namespace kelmo::cli;

struct Picture {
    std::vector<uint8_t> rgb;
    int width = 0, height = 0;
    RgbView view() const { return {rgb.data(), height, width}; }
};

Picture pictureOf(const Image &image) { return {image.pixels(TAVO_IMAGEMODE_COLOR), image.width(), image.height()}; }

Picture scaled(const Image &photo, double factor) {
    Image out;
    EXPECT_EQ(TAVO_ResizeImage(photo.handle(), factor, out.handle()), 0);
    return pictureOf(out);
}

// Pixel (x, y) of `p` from `from` at (f(x), y): mirrored, tiled twice side by
// side, and so on.
template <typename F>
Picture remapped(const Picture &from, int width, F sourceColumn) {
    Picture p{std::vector<uint8_t>(static_cast<std::size_t>(width) * from.height * 3), width, from.height};
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < width; ++x)
            std::memcpy(&p.rgb[(static_cast<std::size_t>(y) * width + x) * 3],
                        &from.rgb[(static_cast<std::size_t>(y) * from.width + sourceColumn(x)) * 3], 3);
    return p;
}

// Photos with one face, two faces, a face too small for a first pass, a
// photo scanned scaled down, and noise with no face at all.
TEST(FaceDetection, Avx2ModuleFindsTheGenericDetectorsFacesAndScoresBitForBit) {
    const FaceDetectionRoutine avx2 = avx2FaceDetection();
    if (avx2 == nullptr) GTEST_SKIP() << "no AVX2 on this processor, or no module in this build";
    if (!std::filesystem::exists(KELMO_SAMPLE_PHOTO) || !std::filesystem::exists(defaultLandmarkModel()))
        GTEST_SKIP() << "no sample photo or landmark model in this build";
    ASSERT_EQ(fastestFaceDetection(), avx2);
    dlib::shape_predictor predictor;
    dlib::frontal_face_detector detector;
    const std::string model = defaultLandmarkModel();
    if (isCompactLandmarkModel(model))
        loadCompactLandmarkModel(model, predictor, detector);
    else
        detector = dlib::get_frontal_face_detector();

    const Image photo = loadPhoto(KELMO_SAMPLE_PHOTO);
    const Picture sample = pictureOf(photo);
    Picture noise{std::vector<uint8_t>(300 * 200 * 3), 300, 200};
    uint32_t state = 12345;
    for (uint8_t &v : noise.rgb) v = static_cast<uint8_t>((state = state * 1664525u + 1013904223u) >> 24);
    const std::vector<std::pair<const char *, Picture>> pictures = {
        {"sample", sample},
        {"mirrored", remapped(sample, sample.width, [&](int x) { return sample.width - 1 - x; })},
        {"two faces", remapped(sample, 2 * sample.width, [&](int x) { return x % sample.width; })},
        {"scaled up", scaled(photo, 2.3)},
        {"scanned reduced", scaled(photo, 3.1)},
        {"small face", scaled(photo, 0.5)},
        {"noise", noise},
    };
    // At the detector's threshold (the faces), and far below it: every
    // window of every pyramid level with its score, which tests the HOG
    // features and filter sums everywhere rather than only at the faces.
    int faces = 0, windows = 0;
    for (const auto &[name, picture] : pictures)
        for (const double threshold : {0.0, -1.5}) {
            SCOPED_TRACE(std::string(name) + " at " + std::to_string(threshold));
            const std::vector<dlib::rect_detection> expected = findFaceDetections(detector, picture.view(), threshold);
            const std::vector<dlib::rect_detection> found = avx2(detector, picture.view(), threshold);
            ASSERT_EQ(found.size(), expected.size());
            for (std::size_t k = 0; k < found.size(); ++k) {
                EXPECT_EQ(found[k].rect, expected[k].rect);
                EXPECT_EQ(
                    std::memcmp(&found[k].detection_confidence, &expected[k].detection_confidence, sizeof(double)), 0)
                    << found[k].detection_confidence << " " << expected[k].detection_confidence;
                EXPECT_EQ(found[k].weight_index, expected[k].weight_index);
            }
            (threshold == 0.0 ? faces : windows) += static_cast<int>(found.size());
        }
    EXPECT_GE(faces, 6);  // every picture but the noise shows a face (two in one)
    EXPECT_GE(windows, 100) << "too few windows to compare";
}

}  // namespace
