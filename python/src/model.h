// kelmo.Model: a head created from a photo, with what it was made from, so
// that copies and saved folders are the same head, and its unmorphed
// vertices, against which every morph is converted.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "arrays.h"
#include "session.h"
#include "tools/kelmo/model_ops.h"

namespace kelmo::python {

// The formats Model.save writes.
enum class SaveFormat { kObj, kGlb };
SaveFormat saveFormat(const std::string &name);

// What Model.render draws: the view's angles (degrees) are added to the
// model's own rotation for this picture only.
struct RenderRequest {
    int width = 512, height = 512;
    float yaw = 0.0f, pitch = 0.0f, roll = 0.0f;
    float fov = 1.0f;
};

// A muscle of Model.muscle, its points already in model units.
struct MuscleRequest {
    TVector3f attachment{}, insertion{}, bound1{}, bound2{};
    float extension = 0.5f, strength = 0.0f, sharpness = 1.0f;
    int regions = 3;
};

// One region of the mesh, copied out.
struct RegionData {
    std::vector<float> vertices;  // N x 3
    std::vector<int32_t> quads;   // M x 4
    std::vector<float> uvs;       // N x 2
};

class ModelObject {
public:
    // Creates the model (TAVO_CreateModelFromPhotoEx) in `session`; the
    // photo and points are kept. Lock held.
    ModelObject(std::shared_ptr<Session> session, cli::Image photo, std::string photoPath,
                const cli::FeaturePoints &points, const cli::CreateOptions &options);
    // Frees the model and its photo, taking the lock.
    ~ModelObject();
    ModelObject(const ModelObject &) = delete;
    ModelObject &operator=(const ModelObject &) = delete;

    // Everything below runs with the lock held and throws KelmoError when the
    // model or its library is closed.
    std::unique_ptr<ModelObject> copy() const;
    std::vector<RegionData> regions() const;
    Pixels texture() const;
    std::vector<float> featurePoints() const;  // 66 x 3
    void rotate(float x, float y, float z);
    void scale(float x, float y, float z);
    void morph(const std::string &nameOrFile, float weight);
    void muscle(const MuscleRequest &request);
    void muscleFile(const std::string &path);
    Pixels render(const RenderRequest &request);
    void save(const std::string &folder, SaveFormat format) const;

    // Frees the handles now (close(), or the library closing). Lock held.
    void release();
    bool closed() const { return model_ == nullptr; }
    std::array<float, 3> rotation() const { return rotation_; }
    std::array<float, 3> scaleFactors() const { return scale_; }

private:
    ModelObject(std::shared_ptr<Session> session, cli::Image photo, std::string photoPath,
                const cli::FeaturePoints &points, const cli::CreateOptions &options, const ModelObject *source);
    int32_t handle() const;

    std::shared_ptr<Session> session_;
    std::unique_ptr<cli::Model> model_;
    std::unique_ptr<cli::Image> photo_;
    std::string photoPath_;
    cli::FeaturePoints points_{};
    cli::CreateOptions options_;
    std::vector<std::vector<TVector3f>> unmorphed_;
    std::array<float, 3> rotation_{0.0f, 0.0f, 0.0f};
    std::array<float, 3> scale_{1.0f, 1.0f, 1.0f};
};

// An image file (PNG, JPEG, BMP) as colour, or with alpha; a failure is a
// KelmoError with the imaging library's status. Lock held.
cli::Image loadImageFile(const std::string &path, bool alpha);

// The photo of a PhotoArgument as an image: a file as colour, an array as
// colour too unless keepAlpha keeps its fourth channel. Lock held.
cli::Image photoImage(const PhotoArgument &photo, bool keepAlpha = false);

// The 66 feature points that dlib finds on the photo: the largest face, or
// face number `face` from the left (1-based). Lock held.
cli::FeaturePoints detectLandmarks(Session &session, const cli::Image &photo, const std::string &photoName,
                                   std::optional<int> face);

}  // namespace kelmo::python
