// The shape predictor's trees, walked level by level (see landmark_cascade.h).
#include "tools/kelmo/landmark_cascade.h"

#include <cstring>
#include <stdexcept>

namespace kelmo::cli {

namespace {

// dlib's shape_predictor keeps its model private and offers no accessors; a
// pointer to a private member may still be named in an explicit
// instantiation, and handed out by a friend function defined there.
template <typename Tag, typename Tag::type Member>
struct MemberPointer {
    friend typename Tag::type memberPointer(Tag) { return Member; }
};

struct InitialShapeMember {
    using type = dlib::matrix<float, 0, 1> dlib::shape_predictor::*;
    friend type memberPointer(InitialShapeMember);
};
struct ForestsMember {
    using type = RegressionForests dlib::shape_predictor::*;
    friend type memberPointer(ForestsMember);
};
struct AnchorsMember {
    using type = std::vector<std::vector<unsigned long>> dlib::shape_predictor::*;
    friend type memberPointer(AnchorsMember);
};
struct DeltasMember {
    using type = std::vector<std::vector<dlib::vector<float, 2>>> dlib::shape_predictor::*;
    friend type memberPointer(DeltasMember);
};
template struct MemberPointer<InitialShapeMember, &dlib::shape_predictor::initial_shape>;
template struct MemberPointer<ForestsMember, &dlib::shape_predictor::forests>;
template struct MemberPointer<AnchorsMember, &dlib::shape_predictor::anchor_idx>;
template struct MemberPointer<DeltasMember, &dlib::shape_predictor::deltas>;

constexpr std::size_t kCacheLineBytes = 64;

// Four floats added lane by lane (GCC's and clang's vector extension; SSE on
// x86-64).
using FloatVector = float __attribute__((vector_size(16)));
constexpr std::size_t kFloatsPerVector = sizeof(FloatVector) / sizeof(float);

}  // namespace

RegressionForests &forestsOf(dlib::shape_predictor &predictor) { return predictor.*memberPointer(ForestsMember{}); }
const RegressionForests &forestsOf(const dlib::shape_predictor &predictor) {
    return predictor.*memberPointer(ForestsMember{});
}
const dlib::matrix<float, 0, 1> &initialShapeOf(const dlib::shape_predictor &predictor) {
    return predictor.*memberPointer(InitialShapeMember{});
}

LandmarkCascade::LandmarkCascade(const dlib::shape_predictor &predictor)
    : initialShape_(initialShapeOf(predictor)),
      anchors_(predictor.*memberPointer(AnchorsMember{})),
      deltas_(predictor.*memberPointer(DeltasMember{})),
      coordinates_(static_cast<std::size_t>(initialShape_.size())) {
    const RegressionForests &forests = forestsOf(predictor);
    if (anchors_.size() != forests.size() || deltas_.size() != forests.size())
        throw std::invalid_argument("the predictor's levels disagree in number");
    levels_.resize(forests.size());
    for (std::size_t l = 0; l < forests.size(); ++l) {
        Level &level = levels_[l];
        level.trees = forests[l].size();
        level.splitsPerTree = forests[l].empty() ? 0 : forests[l][0].splits.size();
        level.splits.reserve(level.trees * level.splitsPerTree);
        level.leaves.reserve(level.trees * (level.splitsPerTree + 1));
        for (const dlib::impl::regression_tree &tree : forests[l]) {
            if (tree.splits.size() != level.splitsPerTree || tree.leaf_values.size() != level.splitsPerTree + 1)
                throw std::invalid_argument("the predictor's trees are not complete binary trees of one depth");
            for (const dlib::impl::split_feature &s : tree.splits) {
                if (s.idx1 >= deltas_[l].size() || s.idx2 >= deltas_[l].size())
                    throw std::invalid_argument("a split's feature pixel is out of range");
                level.splits.push_back({static_cast<uint32_t>(s.idx1), static_cast<uint32_t>(s.idx2), s.thresh});
            }
            for (const dlib::matrix<float, 0, 1> &leaf : tree.leaf_values) {
                if (static_cast<std::size_t>(leaf.size()) != coordinates_)
                    throw std::invalid_argument("a leaf's size is not the shape's");
                level.leaves.push_back(&leaf(0));
            }
        }
    }
}

LandmarkCascade::LandmarkCascade(const dlib::shape_predictor &geometry, std::size_t trees, std::size_t splits,
                                 const char *stored, std::shared_ptr<const void> storage)
    : initialShape_(initialShapeOf(geometry)),
      anchors_(geometry.*memberPointer(AnchorsMember{})),
      deltas_(geometry.*memberPointer(DeltasMember{})),
      coordinates_(static_cast<std::size_t>(initialShape_.size())),
      storage_(std::move(storage)) {
    levels_.resize(anchors_.size());
    const std::size_t leafBytes = coordinates_ * sizeof(float);
    for (std::size_t l = 0; l < levels_.size(); ++l) {
        Level &level = levels_[l];
        level.trees = trees;
        level.splitsPerTree = splits;
        level.splits.resize(trees * splits);
        level.leaves.resize(trees * (splits + 1));
        for (std::size_t t = 0; t < trees; ++t) {
            for (std::size_t k = 0; k < splits; ++k, stored += 12) {
                Split &split = level.splits[t * splits + k];
                std::memcpy(&split.first, stored, 4);
                std::memcpy(&split.second, stored + 4, 4);
                std::memcpy(&split.threshold, stored + 8, 4);
                if (split.first >= deltas_[l].size() || split.second >= deltas_[l].size())
                    throw std::invalid_argument("a split's feature pixel is out of range");
            }
            for (std::size_t k = 0; k <= splits; ++k, stored += leafBytes)
                level.leaves[t * (splits + 1) + k] = reinterpret_cast<const float *>(stored);
        }
    }
}

void LandmarkCascade::addLeaves(std::size_t l, const std::vector<float> &featurePixels, float *shape) const {
    const Level &level = levels_[l];
    const float *pixels = featurePixels.data();
    // Every tree walked first: the walks do not depend on one another, so
    // their loads overlap. Node i's children are 2i + 1 (difference above the
    // threshold) and 2i + 2, as in dlib; the leaves follow the last node.
    // Each chosen leaf is prefetched at once: a level's 500 leaves (270 KB)
    // stay in the cache until they are added.
    const std::size_t leafBytes = coordinates_ * sizeof(float);
    std::vector<const float *> chosen(level.trees);
    for (std::size_t t = 0; t < level.trees; ++t) {
        const Split *nodes = level.splits.data() + t * level.splitsPerTree;
        std::size_t i = 0;
        while (i < level.splitsPerTree) {
            const Split &s = nodes[i];
            i = pixels[s.first] - pixels[s.second] > s.threshold ? 2 * i + 1 : 2 * i + 2;
        }
        chosen[t] = level.leaves[t * (level.splitsPerTree + 1) + (i - level.splitsPerTree)];
        const char *leaf = reinterpret_cast<const char *>(chosen[t]);
        for (std::size_t b = 0; b < leafBytes; b += kCacheLineBytes) __builtin_prefetch(leaf + b);
        __builtin_prefetch(leaf + leafBytes - 1);
    }
    // The leaves added in the trees' order, one float addition per
    // coordinate and tree, as dlib's shape += leaf does (several coordinates
    // per instruction, each on its own).
    const std::size_t n = coordinates_;
    const std::size_t whole = n - n % kFloatsPerVector;
    for (std::size_t t = 0; t < level.trees; ++t) {
        const float *leaf = chosen[t];
        for (std::size_t k = 0; k < whole; k += kFloatsPerVector) {
            FloatVector a, b;
            std::memcpy(&a, shape + k, sizeof a);
            std::memcpy(&b, leaf + k, sizeof b);
            a += b;
            std::memcpy(shape + k, &a, sizeof a);
        }
        for (std::size_t k = whole; k < n; ++k) shape[k] += leaf[k];
    }
}

}  // namespace kelmo::cli
