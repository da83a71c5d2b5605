// The landmark cascade against dlib's own shape predictor: the same floats,
// the same points.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <dlib/image_processing/frontal_face_detector.h>

#include "tools/kelmo/cli.h"
#include "tools/kelmo/face_landmarks.h"
#include "tools/kelmo/landmark_cascade.h"
#include "tools/kelmo/landmark_model.h"
#include "tools/kelmo/session.h"

namespace {

using namespace kelmo::cli;

// dlib's shape re-computed from the leaves that dlib's predictor reports
// choosing: the initial shape plus every chosen leaf, level by level and tree
// by tree, one float addition at a time.
dlib::matrix<float, 0, 1> shapeFromDlibsLeaves(const dlib::shape_predictor &predictor,
                                               const std::vector<std::pair<unsigned long, int>> &chosen) {
    dlib::matrix<float, 0, 1> shape = initialShapeOf(predictor);
    std::size_t t = 0;
    unsigned long offset = 0;  // dlib numbers the leaves across all trees
    for (const std::vector<dlib::impl::regression_tree> &level : forestsOf(predictor)) {
        for (const dlib::impl::regression_tree &tree : level) {
            const dlib::matrix<float, 0, 1> &leaf = tree.leaf_values[chosen.at(t++).first - offset];
            for (long k = 0; k < shape.size(); ++k) shape(k) = shape(k) + leaf(k);
            offset += tree.num_leaves();
        }
    }
    EXPECT_EQ(t, chosen.size());
    return shape;
}

// Boxes around the detector's face, moved, grown, shrunk, reaching outside
// the photo, and a few nowhere near a face: each takes the trees through
// other leaves.
TEST(LandmarkCascade, GivesDlibsShapeBitForBitAndItsPoints) {
    if (!std::filesystem::exists(KELMO_SAMPLE_PHOTO) || !std::filesystem::exists(defaultLandmarkModel()))
        GTEST_SKIP() << "no sample photo or landmark model in this build";
    // The cascade over dlib's predictor, and over the compact model where it
    // lies in memory, against dlib's predictor.
    dlib::shape_predictor predictor;
    dlib::frontal_face_detector detector;
    const std::string model = defaultLandmarkModel();
    std::vector<LandmarkCascade> cascades;
    if (isCompactLandmarkModel(model)) {
        loadCompactLandmarkModel(model, predictor, detector);
        cascades.push_back(loadCompactLandmarkCascade(model, detector));
    } else {
        dlib::deserialize(model) >> predictor;
    }
    cascades.emplace_back(predictor);

    const Image photo = loadPhoto(KELMO_SAMPLE_PHOTO);
    const std::vector<uint8_t> rgb = photo.pixels(TAVO_IMAGEMODE_COLOR);
    dlib::array2d<dlib::rgb_pixel> image(photo.height(), photo.width());
    std::memcpy(dlib::image_data(image), rgb.data(), rgb.size());

    const dlib::rectangle face(179, 83, 266, 170);  // the detector's box on this photo
    std::vector<dlib::rectangle> boxes = {face,
                                          dlib::translate_rect(face, 7, -5),
                                          dlib::grow_rect(face, 40),
                                          dlib::shrink_rect(face, 20),
                                          dlib::rectangle(-60, -40, 100, 120),
                                          dlib::rectangle(400, 420, 700, 720),
                                          dlib::rectangle(10, 300, 30, 320),
                                          dlib::rectangle(0, 0, 511, 511)};
    for (const dlib::rectangle &box : boxes) {
        SCOPED_TRACE(box);
        std::vector<std::pair<unsigned long, int>> chosen;
        const dlib::full_object_detection expected = predictor(image, box, chosen);
        const dlib::matrix<float, 0, 1> expectedShape = shapeFromDlibsLeaves(predictor, chosen);
        for (const LandmarkCascade &cascade : cascades) {
            const dlib::matrix<float, 0, 1> shape = cascade.shapeIn(image, box);
            ASSERT_EQ(shape.size(), expectedShape.size());
            EXPECT_EQ(std::memcmp(&shape(0), &expectedShape(0), sizeof(float) * shape.size()), 0);
            const dlib::full_object_detection points = cascade(image, box);
            ASSERT_EQ(points.num_parts(), expected.num_parts());
            for (unsigned long k = 0; k < points.num_parts(); ++k) EXPECT_EQ(points.part(k), expected.part(k)) << k;
        }
    }
}

// A compact model cut short anywhere, or with a split naming a feature pixel
// that its level does not have, is refused with the tool's error, and
// nothing is read beyond the file.
TEST(LandmarkModel, CompactModelCutShortOrInconsistentIsRefused) {
    const std::string model = defaultLandmarkModel();
    if (!std::filesystem::exists(model) || !isCompactLandmarkModel(model))
        GTEST_SKIP() << "no compact landmark model in this build";
    std::ifstream in(model, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    uint32_t counts[5];  // parts, levels, trees, splits, feature pixels
    std::memcpy(counts, bytes.data() + 16, sizeof counts);
    const std::size_t firstSplit = 36 + std::size_t{2} * counts[0] * 4 + std::size_t{counts[1]} * counts[4] * 8;
    std::string inconsistent = bytes;
    const uint32_t outOfRange = counts[4];
    std::memcpy(&inconsistent[firstSplit + 4], &outOfRange, 4);  // the first split's second pixel

    const std::string path = testing::TempDir() + "kelmo_broken_model.kelmo";
    std::vector<std::string> files = {inconsistent};
    for (const std::size_t cut : {std::size_t{0}, std::size_t{20}, std::size_t{36}, firstSplit - 1, firstSplit + 100,
                                  bytes.size() / 2, bytes.size() - 1})
        files.push_back(bytes.substr(0, cut));
    for (const std::string &file : files) {
        SCOPED_TRACE(file.size());
        std::ofstream(path, std::ios::binary | std::ios::trunc).write(file.data(), static_cast<std::streamsize>(file.size()));
        dlib::shape_predictor predictor;
        dlib::frontal_face_detector detector;
        EXPECT_THROW(loadCompactLandmarkModel(path, predictor, detector), CliError);
        EXPECT_THROW(loadCompactLandmarkCascade(path, detector), CliError);
    }
    std::remove(path.c_str());
}

}  // namespace
