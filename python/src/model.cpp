// kelmo.Model (see model.h).
#include "model.h"

#include <filesystem>

#include "tools/kelmo/cli.h"
#include "tools/kelmo/commands.h"
#include "tools/kelmo/gltf_export.h"
#include "tools/kelmo/muscle_file.h"
#include "tools/kelmo/obj_export.h"
#include "tools/kelmo/whole_head.h"

namespace kelmo::python {

namespace {

void setVertices(int32_t handle, const std::vector<std::vector<TVector3f>> &lists) {
    std::vector<int32_t> counts;
    std::vector<TVector3f> flat;
    for (const auto &list : lists) {
        counts.push_back(static_cast<int32_t>(list.size()));
        flat.insert(flat.end(), list.begin(), list.end());
    }
    check(TAVO_SetModelVertexLists(handle, static_cast<int32_t>(counts.size()), counts.data(), flat.data()),
          "cannot set the model's vertices");
}

Pixels imagePixels(const cli::Image &image, int channels) {
    Pixels pixels;
    pixels.width = image.width();
    pixels.height = image.height();
    pixels.channels = channels;
    pixels.bytes = image.pixels(pixels.mode());
    return pixels;
}

}  // namespace

SaveFormat saveFormat(const std::string &name) {
    if (name == "obj") return SaveFormat::kObj;
    if (name == "glb") return SaveFormat::kGlb;
    throw pybind11::value_error("format must be 'glb' or 'obj', not '" + name + "'");
}

cli::Image loadImageFile(const std::string &path, bool alpha) {
    ImageHandle h = -1;
    const int32_t status =
        alpha ? TAVO_LoadImageFromFileWithAlpha(&h, path.c_str()) : TAVO_LoadImageFromFile(&h, path.c_str());
    if (status == TAVOIMG_ERR_OPEN) {
        std::error_code ec;
        const bool exists = std::filesystem::exists(path, ec);
        throw KelmoError("cannot read '" + path + "': " + (exists ? "it cannot be opened" : "no such file"), status);
    }
    check(status, "cannot read '" + path + "'");
    cli::Image image(h);
    if (image.width() == 0 || image.height() == 0) throw KelmoError("'" + path + "' is an empty image", TAVOIMG_ERR_CORRUPT);
    return image;
}

cli::Image photoImage(const PhotoArgument &photo, bool keepAlpha) {
    if (!photo.path.empty()) return loadImageFile(photo.path, false);
    const Pixels &p = photo.pixels;
    if (p.channels != 4 || keepAlpha) return cli::Image::fromPixels(p.bytes, p.width, p.height, p.mode());
    // Creation and landmarks read colour only, as from a file loaded without alpha.
    std::vector<uint8_t> rgb(static_cast<std::size_t>(p.width) * p.height * 3);
    for (std::size_t i = 0, n = rgb.size() / 3; i < n; ++i)
        for (int c = 0; c < 3; ++c) rgb[3 * i + c] = p.bytes[4 * i + c];
    return cli::Image::fromPixels(rgb, p.width, p.height, TAVO_IMAGEMODE_COLOR);
}

cli::FeaturePoints detectLandmarks(Session &session, const cli::Image &photo, const std::string &photoName,
                                   std::optional<int> face) {
    cli::FaceLandmarker &landmarker = session.landmarker();
    const std::vector<cli::DetectedFace> faces =
        landmarker.detect(photo.pixels(TAVO_IMAGEMODE_COLOR), photo.width(), photo.height());
    return cli::chooseFace(faces, face, photoName).points;
}

ModelObject::ModelObject(std::shared_ptr<Session> session, cli::Image photo, std::string photoPath,
                         const cli::FeaturePoints &points, const cli::CreateOptions &options)
    : ModelObject(std::move(session), std::move(photo), std::move(photoPath), points, options, nullptr) {}

ModelObject::ModelObject(std::shared_ptr<Session> session, cli::Image photo, std::string photoPath,
                         const cli::FeaturePoints &points, const cli::CreateOptions &options,
                         const ModelObject *source)
    : session_(std::move(session)),
      photo_(std::make_unique<cli::Image>(std::move(photo))),
      photoPath_(std::move(photoPath)),
      points_(points),
      options_(options) {
    session_->requireOpen();
    model_ = std::make_unique<cli::Model>(options.noMask);
    const int32_t h = model_->handle();
    // Creation projects the teeth's texture coordinates onto the photo only
    // while the flag is set, so it is chosen first.
    if (options.genericTeeth) check(TAVO_ChooseTeethTextures(h, false), "cannot choose the teeth");
    const std::vector<int32_t> flat = cli::flatten(points);
    float unitsPerPixel = 0.0f;
    check(TAVO_CreateModelFromPhotoEx(h, photo_->handle(), flat.data(), 0, &unitsPerPixel, options.noSmile,
                                      options.closedMouth),
          "cannot create the model from the photo");
    // The whole head, as `kelmo create` makes it; a copy takes its source's
    // texture below.
    if (source == nullptr && !options.faceOnly && !options.noMask) cli::completeModelHead(h);
    if (source != nullptr) {
        // The copy is created like its source, so that it carries the same
        // fitted deformation (which morphs are converted with), then takes
        // the source's current shape, transform and texture.
        check(TAVO_CopyModel(source->handle(), h), "cannot copy the model");
        unmorphed_ = source->unmorphed_;
        rotation_ = source->rotation_;
        scale_ = source->scale_;
    } else {
        unmorphed_ = cli::modelVertices(h);
    }
    session_->attach(this);
}

ModelObject::~ModelObject() {
    {
        std::lock_guard<std::mutex> lock(libraryMutex());
        release();
    }
    // The session may go with its last model; it takes the lock itself.
    session_.reset();
}

void ModelObject::release() {
    if (model_ == nullptr) return;
    session_->detach(this);
    model_.reset();
    photo_.reset();
}

int32_t ModelObject::handle() const {
    session_->requireOpen();
    if (model_ == nullptr) throw KelmoError("the model is closed", TAVO_ERR_INVALID_HANDLE);
    return model_->handle();
}

std::unique_ptr<ModelObject> ModelObject::copy() const {
    handle();
    cli::Image photo;
    check(TAVO_CopyImage(photo_->handle(), photo.handle()), "cannot copy the photo");
    return std::unique_ptr<ModelObject>(
        new ModelObject(session_, std::move(photo), photoPath_, points_, options_, this));
}

std::vector<RegionData> ModelObject::regions() const {
    const int32_t h = handle();
    int32_t count = 0;
    check(TAVO_GetModelNumRegions(h, &count), "cannot read the model");
    std::vector<RegionData> regions(static_cast<std::size_t>(count));
    for (int32_t r = 0; r < count; ++r) {
        RegionData &region = regions[static_cast<std::size_t>(r)];
        int32_t vertices = 0, quads = 0;
        check(TAVO_GetModelNumVertices(h, r, &vertices), "cannot read the model");
        check(TAVO_GetModelRegionNumQuads(h, r, &quads), "cannot read the model");
        region.vertices.resize(static_cast<std::size_t>(vertices) * 3);
        region.uvs.resize(static_cast<std::size_t>(vertices) * 2);
        region.quads.resize(static_cast<std::size_t>(quads) * 4);
        static_assert(sizeof(TVector3f) == 3 * sizeof(float));
        if (vertices > 0) {
            check(TAVO_GetModelRegionVertices(h, r, reinterpret_cast<TVector3f *>(region.vertices.data())),
                  "cannot read the model");
            check(TAVO_GetModelRegionTextureCoords(h, r, region.uvs.data()), "cannot read the model");
        }
        if (quads > 0) check(TAVO_GetModelRegionQuads(h, r, region.quads.data()), "cannot read the model");
    }
    return regions;
}

Pixels ModelObject::texture() const {
    const int32_t h = handle();
    cli::Image texture;
    check(TAVO_GetModelTexture(h, texture.handle()), "cannot read the texture");
    return imagePixels(texture, 4);
}

std::vector<float> ModelObject::featurePoints() const {
    const auto points = cli::featurePoints3D(handle());
    std::vector<float> flat;
    for (const TVector3f &p : points) flat.insert(flat.end(), {p.x, p.y, p.z});
    return flat;
}

void ModelObject::rotate(float x, float y, float z) {
    check(TAVO_RotateModel(handle(), x, y, z), "cannot turn the model");
    rotation_ = {x, y, z};
}

void ModelObject::scale(float x, float y, float z) {
    check(TAVO_ScaleModel(handle(), x, y, z), "cannot scale the model");
    scale_ = {x, y, z};
}

void ModelObject::morph(const std::string &nameOrFile, float weight) {
    const int32_t h = handle();
    const std::string file = cli::resolveMorph(nameOrFile, session_->dataDirectory());
    cli::Model morph(true);
    check(TAVO_LoadExpressionToModel(morph.handle(), file.c_str()), "cannot read the morph file '" + file + "'");
    // A morph is converted against the unmorphed head (the conversion
    // measures displacements from the model's current vertices), so that
    // morphs add up whatever their order, and equal those `kelmo render`
    // applies together.
    const auto current = cli::modelVertices(h);
    setVertices(h, unmorphed_);
    const int32_t status = TAVO_AdjustModelDeformation(h, morph.handle());
    setVertices(h, current);
    check(status, "the morph '" + nameOrFile + "' does not fit the model");
    check(TAVO_ApplyMorph(h, morph.handle(), weight), "cannot apply the morph '" + nameOrFile + "'");
}

void ModelObject::muscle(const MuscleRequest &m) {
    const int32_t status = TAVO_LinearMuscleContraction(handle(), &m.attachment, &m.insertion, &m.bound1, &m.bound2,
                                                        m.extension, m.strength, m.sharpness, nullptr, m.regions);
    if (status == TAVO_ERR_GENERAL)
        throw KelmoError("the muscle is degenerate: its bounds or insertion coincide with its attachment", status);
    check(status, "cannot contract the muscle");
}

void ModelObject::muscleFile(const std::string &path) {
    handle();
    cli::applyMuscle(*model_, cli::readMuscleFile(path));
}

Pixels ModelObject::render(const RenderRequest &request) {
    const int32_t h = handle();
    // The view turns the model for this picture only.
    check(TAVO_RotateModel(h, rotation_[0] + request.pitch, rotation_[1] + request.yaw, rotation_[2] + request.roll),
          "cannot turn the model");
    cli::Image picture;
    int32_t status = TAVO_ScaleModel(h, scale_[0], scale_[1], scale_[2]);
    if (status == 0) status = TAVO_SetModelPerspective(h, request.fov);
    if (status == 0) status = TAVO_BeginRendering(request.width, request.height);
    if (status == 0) status = TAVO_RenderModelToImage(h, picture.handle());
    TAVO_EndRendering();
    TAVO_RotateModel(h, rotation_[0], rotation_[1], rotation_[2]);
    check(status, "cannot render the model");
    return imagePixels(picture, 4);
}

void ModelObject::save(const std::string &folder, SaveFormat format) const {
    handle();
    cli::OutputSet out;
    switch (format) {
    case SaveFormat::kObj:
        cli::exportObj(*model_, options_.genericTeeth, folder, out);
        break;
    case SaveFormat::kGlb: {
#if KELMO_WITH_GLTF
        cli::GltfOptions gltf;
        gltf.genericTeeth = options_.genericTeeth;
        out.writeBytes((std::filesystem::path(folder) / "model.glb").string(),
                       cli::encodeGltf(model_->handle(), session_->dataDirectory(), gltf));
#else
        throw UnsupportedError("format='glb' needs a build of kelmo with glTF export; use format='obj'");
#endif
        break;
    }
    }
    // The expression class that creation chose, whatever was done to the
    // head since.
    const int expressionClass = cli::expressionClassOf(*model_);
    cli::stageModelRecord(*photo_, photoPath_, points_, options_, expressionClass, folder, out);
    out.commit();
}

}  // namespace kelmo::python
