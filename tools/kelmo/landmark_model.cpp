// The compact landmark model (see landmark_model.h).
#include "tools/kelmo/landmark_model.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "tools/kelmo/cli.h"
#include "tools/kelmo/landmark_cascade.h"

namespace kelmo::cli {

namespace {

constexpr char kSignature[16] = {'k', 'e', 'l', 'm', 'o', ' ', 'l', 'a', 'n', 'd', 'm', 'a', 'r', 'k', 's', '1'};

using Forests = RegressionForests;
using Point = dlib::vector<float, 2>;

struct Counts {
    uint32_t parts = 0, cascades = 0, trees = 0, splits = 0, features = 0;
};

// A whole file in memory, read in order, its bytes shared: a cascade made
// from them keeps them. On POSIX systems the file is mapped: its pages come
// straight from the file cache, with nothing to allocate, clear and copy
// (the compact model's 65 MB in fresh memory took most of a one-photo
// `create`, the system clearing it page by page); elsewhere it is read.
class Reader {
public:
    explicit Reader(const std::string &path) : path_(path) {
#if !defined(_WIN32)
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (fd >= 0 && ::fstat(fd, &info) == 0 && info.st_size > 0) {
            const std::size_t size = static_cast<std::size_t>(info.st_size);
            void *mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (mapped != MAP_FAILED) {
                bytes_ = std::shared_ptr<const char>(static_cast<const char *>(mapped),
                                                     [size](const char *p) { ::munmap(const_cast<char *>(p), size); });
                size_ = size;
            }
        }
        if (fd >= 0) ::close(fd);
        if (bytes_ != nullptr) return;
#endif
        std::ifstream file(path, std::ios::binary | std::ios::ate);
        if (!file) throw failure("cannot read the landmark model '" + path + "'");
        size_ = static_cast<std::size_t>(file.tellg());
        std::shared_ptr<char[]> bytes(new char[size_]);  // not cleared first
        file.seekg(0);
        if (!file.read(bytes.get(), static_cast<std::streamsize>(size_)))
            throw failure("cannot read the landmark model '" + path + "'");
        bytes_ = std::shared_ptr<const char>(bytes, bytes.get());
    }
    // The next `count` values of type T; throws at the end of the file.
    template <typename T>
    void take(T *values, std::size_t count) {
        std::memcpy(values, skip(count * sizeof(T)), count * sizeof(T));
    }
    // The next `size` bytes where they are, passed over; throws at the end.
    const char *skip(std::size_t size) {
        if (size_ - at_ < size) throw failure("landmark model '" + path_ + "' is truncated");
        const char *here = bytes_.get() + at_;
        at_ += size;
        return here;
    }
    bool atEnd() const { return at_ == size_; }
    const std::shared_ptr<const char> &bytes() const { return bytes_; }

private:
    std::string path_;
    std::shared_ptr<const char> bytes_;
    std::size_t size_ = 0;
    std::size_t at_ = 0;
};

template <typename T>
void put(std::ostream &out, const T *values, std::size_t count) {
    out.write(reinterpret_cast<const char *>(values), static_cast<std::streamsize>(count * sizeof(T)));
}

Point location(const dlib::matrix<float, 0, 1> &shape, unsigned long part) {
    return Point(shape(2 * part), shape(2 * part + 1));
}

// A pixel coordinate from which the predictor's constructor derives exactly
// this anchor and delta again (the nearest part of the initial shape, and the
// offset from it): the anchor's location plus the delta, nudged by a few
// units in the last place where the sum rounds.
Point exactPixelCoordinate(const dlib::matrix<float, 0, 1> &shape, unsigned long anchor, Point delta) {
    const Point base = location(shape, anchor) + delta;
    for (int dx = 0; dx <= 8; ++dx) {
        for (int dy = 0; dy <= 8; ++dy) {
            Point p = base;
            // 0, +1, -1, +2, -2, ... units in the last place.
            for (int k = 0; k < (dx + 1) / 2; ++k) p.x() = std::nextafter(p.x(), dx % 2 ? HUGE_VALF : -HUGE_VALF);
            for (int k = 0; k < (dy + 1) / 2; ++k) p.y() = std::nextafter(p.y(), dy % 2 ? HUGE_VALF : -HUGE_VALF);
            const Point offset = p - location(shape, anchor);
            if (dlib::impl::nearest_shape_point(shape, p) == anchor && offset.x() == delta.x() &&
                offset.y() == delta.y())
                return p;
        }
    }
    throw failure("the landmark model's feature pixels cannot be written exactly");
}

template <typename T>
std::string serialised(const T &item) {
    std::ostringstream out;
    dlib::serialize(item, out);
    return out.str();
}

}  // namespace

bool isCompactLandmarkModel(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    char head[sizeof kSignature] = {};
    return file.read(head, sizeof head) && std::memcmp(head, kSignature, sizeof head) == 0;
}

namespace {

// The counts, initial shape and feature pixels at the head of a compact
// model, as a predictor without trees (its constructor derives each feature
// pixel's anchor part and offset from them).
struct CompactHead {
    Counts n;
    dlib::shape_predictor geometry;
};

CompactHead readCompactHead(Reader &in, const std::string &path) {
    char signature[sizeof kSignature];
    in.take(signature, sizeof signature);
    Counts n;
    in.take(&n.parts, 1);
    in.take(&n.cascades, 1);
    in.take(&n.trees, 1);
    in.take(&n.splits, 1);
    in.take(&n.features, 1);
    // Far beyond any trained model; guards the allocations below.
    if (std::memcmp(signature, kSignature, sizeof signature) != 0 || n.parts == 0 || n.parts > 1000 ||
        n.cascades > 100 || n.trees > 10000 || n.splits > 1023 || n.features > 100000)
        throw failure("landmark model '" + path + "' is not a compact landmark model");
    dlib::matrix<float, 0, 1> initialShape(2 * n.parts);
    in.take(&initialShape(0), 2 * n.parts);
    std::vector<std::vector<Point>> pixels(n.cascades, std::vector<Point>(n.features));
    std::vector<float> xy(2 * static_cast<std::size_t>(n.features));
    for (std::vector<Point> &cascade : pixels) {
        in.take(xy.data(), xy.size());
        for (std::size_t k = 0; k < cascade.size(); ++k) cascade[k] = Point(xy[2 * k], xy[2 * k + 1]);
    }
    // Made with as many empty forests: all that its constructor reads of
    // them is their number.
    return {n, dlib::shape_predictor(initialShape, Forests(n.cascades), pixels)};
}

// dlib's frontal face detector at the end of a compact model.
void readCompactDetector(Reader &in, const std::string &path, dlib::frontal_face_detector &detector) {
    uint64_t detectorBytes = 0;
    in.take(&detectorBytes, 1);
    if (detectorBytes > 100000000) throw failure("landmark model '" + path + "' is inconsistent");
    const char *stream = in.skip(static_cast<std::size_t>(detectorBytes));
    if (!in.atEnd()) throw failure("landmark model '" + path + "' has trailing bytes");
    std::istringstream detectorIn(std::string(stream, static_cast<std::size_t>(detectorBytes)));
    try {
        dlib::deserialize(detector, detectorIn);
    } catch (const dlib::serialization_error &) {
        throw failure("landmark model '" + path + "': its face detector is unreadable");
    }
}

}  // namespace

LandmarkCascade loadCompactLandmarkCascade(const std::string &path, dlib::frontal_face_detector &detector) {
    Reader in(path);
    const CompactHead head = readCompactHead(in, path);
    const Counts &n = head.n;
    const std::size_t treeBytes = static_cast<std::size_t>(n.splits) * 12 +
                                  (static_cast<std::size_t>(n.splits) + 1) * 2 * n.parts * sizeof(float);
    const char *trees = in.skip(treeBytes * n.cascades * n.trees);
    readCompactDetector(in, path, detector);
    try {
        return LandmarkCascade(head.geometry, n.trees, n.splits, trees, in.bytes());
    } catch (const std::invalid_argument &) {
        throw failure("landmark model '" + path + "' is inconsistent");
    }
}

void loadCompactLandmarkModel(const std::string &path, dlib::shape_predictor &predictor,
                              dlib::frontal_face_detector &detector) {
    Reader in(path);
    CompactHead head = readCompactHead(in, path);
    const Counts &n = head.n;
    Forests forests(n.cascades, std::vector<dlib::impl::regression_tree>(n.trees));
    for (std::vector<dlib::impl::regression_tree> &forest : forests) {
        for (dlib::impl::regression_tree &tree : forest) {
            tree.splits.resize(n.splits);
            for (dlib::impl::split_feature &split : tree.splits) {
                uint32_t indices[2];
                in.take(indices, 2);
                in.take(&split.thresh, 1);
                if (indices[0] >= n.features || indices[1] >= n.features)
                    throw failure("landmark model '" + path + "' is inconsistent");
                split.idx1 = indices[0];
                split.idx2 = indices[1];
            }
            tree.leaf_values.resize(n.splits + 1);
            for (dlib::matrix<float, 0, 1> &leaf : tree.leaf_values) {
                leaf.set_size(2 * n.parts);
                in.take(&leaf(0), 2 * n.parts);
            }
        }
    }
    readCompactDetector(in, path, detector);
    // Given the trees by a move: its constructor would copy them (100 MB in
    // some 200 000 blocks, a third of the load).
    predictor = std::move(head.geometry);
    forestsOf(predictor) = std::move(forests);
}

void writeCompactLandmarkModel(const std::string &modelPath, const std::string &compactPath) {
    // The members of dlib's file in its order (its shape_predictor keeps them
    // private, so they are read one by one).
    std::ifstream file(modelPath, std::ios::binary);
    if (!file) throw failure("cannot read the landmark model '" + modelPath + "'");
    int version = 0;
    dlib::matrix<float, 0, 1> initialShape;
    Forests forests;
    std::vector<std::vector<unsigned long>> anchors;
    std::vector<std::vector<Point>> deltas;
    dlib::deserialize(version, file);
    if (version != 1) throw failure("landmark model '" + modelPath + "': unknown version");
    dlib::deserialize(initialShape, file);
    dlib::deserialize(forests, file);
    dlib::deserialize(anchors, file);
    dlib::deserialize(deltas, file);

    Counts n;
    n.parts = static_cast<uint32_t>(initialShape.size() / 2);
    n.cascades = static_cast<uint32_t>(forests.size());
    n.trees = forests.empty() ? 0 : static_cast<uint32_t>(forests[0].size());
    n.splits = n.trees == 0 ? 0 : static_cast<uint32_t>(forests[0][0].splits.size());
    n.features = anchors.empty() ? 0 : static_cast<uint32_t>(anchors[0].size());
    bool uniform = anchors.size() == n.cascades && deltas.size() == n.cascades;
    for (uint32_t c = 0; uniform && c < n.cascades; ++c) {
        uniform = forests[c].size() == n.trees && anchors[c].size() == n.features && deltas[c].size() == n.features;
        for (const dlib::impl::regression_tree &tree : forests[c]) {
            uniform = uniform && tree.splits.size() == n.splits && tree.leaf_values.size() == n.splits + 1;
            for (const dlib::matrix<float, 0, 1> &leaf : tree.leaf_values) uniform = uniform && leaf.size() == 2 * n.parts;
        }
    }
    if (!uniform) throw failure("landmark model '" + modelPath + "' has trees of different shapes");

    // Written under a temporary name, renamed once checked: an interrupted
    // build leaves no partial model for the tool to find.
    const std::string temporary = compactPath + ".partial";
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(kSignature, sizeof kSignature);
    put(out, &n.parts, 1);
    put(out, &n.cascades, 1);
    put(out, &n.trees, 1);
    put(out, &n.splits, 1);
    put(out, &n.features, 1);
    put(out, &initialShape(0), 2 * n.parts);
    for (uint32_t c = 0; c < n.cascades; ++c) {
        for (uint32_t k = 0; k < n.features; ++k) {
            const Point p = exactPixelCoordinate(initialShape, anchors[c][k], deltas[c][k]);
            put(out, &p.x(), 1);
            put(out, &p.y(), 1);
        }
    }
    for (const std::vector<dlib::impl::regression_tree> &forest : forests) {
        for (const dlib::impl::regression_tree &tree : forest) {
            for (const dlib::impl::split_feature &split : tree.splits) {
                const uint32_t indices[2] = {static_cast<uint32_t>(split.idx1), static_cast<uint32_t>(split.idx2)};
                put(out, indices, 2);
                put(out, &split.thresh, 1);
            }
            for (const dlib::matrix<float, 0, 1> &leaf : tree.leaf_values) put(out, &leaf(0), 2 * n.parts);
        }
    }
    const dlib::frontal_face_detector originalDetector = dlib::get_frontal_face_detector();
    const std::string detectorStream = serialised(originalDetector);
    const uint64_t detectorBytes = detectorStream.size();
    put(out, &detectorBytes, 1);
    put(out, detectorStream.data(), detectorStream.size());
    out.close();
    if (!out) {
        std::remove(temporary.c_str());
        throw failure("cannot write '" + compactPath + "'");
    }

    dlib::shape_predictor original, compact;
    dlib::frontal_face_detector compactDetector;
    dlib::deserialize(modelPath) >> original;
    loadCompactLandmarkModel(temporary, compact, compactDetector);
    if (serialised(original) != serialised(compact) || serialised(compactDetector) != detectorStream) {
        std::remove(temporary.c_str());
        throw failure("the compact landmark model differs from '" + modelPath + "'");
    }
    if (std::rename(temporary.c_str(), compactPath.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw failure("cannot write '" + compactPath + "'");
    }
}

}  // namespace kelmo::cli
