// The 68 points of a face, placed by the trees of a dlib shape predictor with
// the same arithmetic in the same order as dlib's own operator(), so that
// every point is the same, but in an order that keeps the memory busy.
//
// dlib walks one tree, adds its leaf (68 x 2 floats) to the shape, and only
// then starts the next tree: each tree's split nodes and leaf are a cache
// miss that waits for the one before (some 15 x 500 trees, 65 MB of leaves,
// the model far larger than any cache). Here every tree of a cascade level is
// walked first, which lets the processor fetch many trees' nodes at once, and
// the chosen leaves are then added to the shape in the trees' order, the next
// ones prefetched meanwhile. Each coordinate of the shape receives the same
// sums in the same order as in dlib, so it holds the same float.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <dlib/image_processing.h>

namespace kelmo::cli {

// The trees of dlib's shape predictor, which keeps them private (see
// landmark_cascade.cpp): read through pointers to its members.
using RegressionForests = std::vector<std::vector<dlib::impl::regression_tree>>;
RegressionForests &forestsOf(dlib::shape_predictor &predictor);
const RegressionForests &forestsOf(const dlib::shape_predictor &predictor);
// The mean shape that every prediction starts from, in the box's frame.
const dlib::matrix<float, 0, 1> &initialShapeOf(const dlib::shape_predictor &predictor);

class LandmarkCascade {
public:
    // A view of `predictor`'s trees, which must outlive this object and stay
    // unchanged. Throws std::invalid_argument on trees that are not complete
    // binary trees of one depth over the level's feature pixels, with leaves
    // of the shape's size.
    explicit LandmarkCascade(const dlib::shape_predictor &predictor);

    // Trees stored as the compact model lays them out (landmark_model.h):
    // level after level, `trees` trees each; a tree is its `splits` splits
    // (two 32-bit feature pixel indices and a float threshold each) followed
    // by its splits + 1 leaves (x and y of every part of `geometry`, floats
    // each), little-endian, from `stored` on, 4-byte aligned. The initial
    // shape and feature pixels come from `geometry`, a predictor whose
    // forests are empty but for their number. `storage` keeps `stored` valid
    // for the cascade's life. Throws std::invalid_argument on a split whose
    // pixel index is out of range.
    LandmarkCascade(const dlib::shape_predictor &geometry, std::size_t trees, std::size_t splits, const char *stored,
                    std::shared_ptr<const void> storage);

    // The number of parts (points) that it places.
    std::size_t parts() const { return coordinates_ / 2; }

    // The face's shape in `box` of `image`: x and y of each part in the
    // box's normalised frame (the box from 0 to 1), the floats that dlib's
    // predictor holds before it maps them to pixels.
    template <typename ImageType>
    dlib::matrix<float, 0, 1> shapeIn(const ImageType &image, const dlib::rectangle &box) const {
        dlib::matrix<float, 0, 1> shape = initialShape_;
        std::vector<float> featurePixels;
        for (std::size_t level = 0; level < levels_.size(); ++level) {
            dlib::impl::extract_feature_pixel_values(image, box, shape, initialShape_, anchors_[level],
                                                     deltas_[level], featurePixels);
            addLeaves(level, featurePixels, &shape(0));
        }
        return shape;
    }

    // The points of the face in `box` of `image`, in its pixels, as
    // dlib::shape_predictor::operator()(image, box) gives them.
    template <typename ImageType>
    dlib::full_object_detection operator()(const ImageType &image, const dlib::rectangle &box) const {
        const dlib::matrix<float, 0, 1> shape = shapeIn(image, box);
        const dlib::point_transform_affine toImage = dlib::impl::unnormalizing_tform(box);
        std::vector<dlib::point> parts(static_cast<std::size_t>(shape.size() / 2));
        for (std::size_t k = 0; k < parts.size(); ++k) parts[k] = toImage(dlib::impl::location(shape, k));
        return dlib::full_object_detection(box, parts);
    }

private:
    struct Split {
        uint32_t first, second;  // feature pixel indices
        float threshold;
    };
    struct Level {
        std::vector<Split> splits;          // trees x splitsPerTree, each tree's nodes in dlib's order
        std::vector<const float *> leaves;  // trees x (splitsPerTree + 1), into the predictor's leaves
        std::size_t trees = 0, splitsPerTree = 0;
    };

    // Adds to `shape` the leaf that each tree of cascade level `level` reaches
    // on `featurePixels`, in the trees' order.
    void addLeaves(std::size_t level, const std::vector<float> &featurePixels, float *shape) const;

    dlib::matrix<float, 0, 1> initialShape_;
    std::vector<std::vector<unsigned long>> anchors_;
    std::vector<std::vector<dlib::vector<float, 2>>> deltas_;
    std::vector<Level> levels_;
    std::size_t coordinates_ = 0;          // 2 x parts
    std::shared_ptr<const void> storage_;  // what the leaves point into, when not a predictor
};

}  // namespace kelmo::cli
