// The TAVO_ interface as a careless host drives it: the input bytes choose a
// sequence of calls on a library initialised from the generic head (models and
// images created, copied and freed; creation from a photo, rendering, morphs,
// muscles, warps, face frames, accessors), with handles that may be live,
// freed (and perhaps handed out again) or invented, and sizes, counts, angles
// and weights that may be zero, negative, huge, NaN or infinite.
//
// After every call that fails, every live model's regions, face grid and
// texture and every live image's pixels are as they were; at the end, once the
// host has freed what it holds, no model and no image of its own is left.
// Invented image handles never name the library's own images (the alpha
// mask, teeth, sock and the expression meshes' textures): a host that frees those breaks the library for every
// later input, which would make a failure impossible to replay.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <set>
#include <string_view>
#include <vector>

#include "frame/library_state.h"
#include "fuzz/fuzz_support.h"
#include "kelmo.h"
#include "model/model_table.h"

#ifndef KELMO_FUZZ_DATA_DIR
#error "KELMO_FUZZ_DATA_DIR names the generic head's data directory"
#endif

namespace {

using kelmo::libraryState;

class Input {
public:
    Input(const uint8_t *data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return position_ >= size_; }
    uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
    // One of `values`: for sizes that the library may legitimately allocate
    // for (a valid but enormous render is not a fault) and for what describes
    // the host's own buffers.
    int32_t pick(std::initializer_list<int32_t> values) { return values.begin()[byte() % values.size()]; }
    // Usually one of `usual`, sometimes an extreme or any 32-bit value.
    int32_t integer(std::initializer_list<int32_t> usual) {
        const uint8_t b = byte();
        if (b < 200) return usual.begin()[b % usual.size()];
        static const int32_t odd[] = {0, -1, 1, INT32_MIN, INT32_MAX, 1 << 16, -(1 << 20), 40000};
        return b < 248 ? odd[b % 8] : static_cast<int32_t>(byte() | byte() << 8 | byte() << 16 | byte() << 24);
    }
    float real(float usual) {
        static const float odd[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 90.0f, -45.0f, 1e-30f, 1e30f, -1e30f,
                                    std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                                    -std::numeric_limits<float>::infinity(), 3.0e38f, 1e-42f, 400.0f};
        const uint8_t b = byte();
        if (b < 128) return usual * (1.0f + (b - 64) / 64.0f);
        return odd[b % 16];
    }

private:
    const uint8_t *data_;
    std::size_t size_, position_ = 0;
};

std::size_t hashBytes(const void *bytes, std::size_t size) {
    return std::hash<std::string_view>{}(std::string_view(static_cast<const char *>(bytes), size));
}

template <typename T>
std::size_t hashVector(const std::vector<T> &values) {
    return hashBytes(values.data(), values.size() * sizeof(T));
}

std::size_t imageFingerprint(ImageHandle image) {
    int32_t width = 0, height = 0, size = 0;
    if (TAVO_GetImageWidth(image, &width) != 0) return 0;
    TAVO_GetImageHeight(image, &height);
    TAVO_GetImageBufferSize(image, &size, TAVO_IMAGEMODE_COLOR_ALPHA);
    std::vector<uint8_t> pixels(static_cast<std::size_t>(size));
    TAVO_SaveImageToBuffer(image, pixels.data(), TAVO_IMAGEMODE_COLOR_ALPHA);
    return hashVector(pixels) ^ (std::size_t(width) << 32 | std::size_t(height));
}

std::size_t modelFingerprint(int32_t handle) {
    const kelmo::TModel *model = kelmo::resolveModel(handle);
    if (model == nullptr) return 0;
    std::size_t hash = model->regions.size() * 31 + hashBytes(model->faceGrid.data(), sizeof model->faceGrid);
    for (const kelmo::TRegion &region : model->regions)
        hash = hash * 1000003 ^ hashVector(region.vertices) ^ hashVector(region.quads) * 3 ^
               hashVector(region.textureCoords) * 5 ^ hashVector(region.textureQuads) * 7;
    return hash * 31 ^ imageFingerprint(model->texture);
}

struct Host {
    Input in;
    std::vector<int32_t> models, freedModels;
    std::vector<ImageHandle> images, freedImages;
    int creations = 0;  // creation from a photo is the slowest call: at most a few per input

    int32_t model() {
        const uint8_t b = in.byte();
        if (b < 200 && !models.empty()) return models[b % models.size()];
        if (b < 230 && !freedModels.empty()) return freedModels[b % freedModels.size()];
        return in.integer({-1, 0, 1, 7, 1000});
    }
    ImageHandle image() {
        const uint8_t b = in.byte();
        if (b < 200 && !images.empty()) return images[b % images.size()];
        if (b < 230 && !freedImages.empty()) {
            // A freed handle that the library has issued again (to a model's
            // image, say) belongs to that owner now: a host that used it
            // would be handling another's image, which no handle table can
            // tell from a proper call. Only handles still free stand for
            // stale ones.
            const ImageHandle stale = freedImages[b % freedImages.size()];
            int32_t width = 0;
            if (TAVO_GetImageWidth(stale, &width) != 0) return stale;
        }
        static const ImageHandle invented[] = {-1, INT32_MIN, INT32_MAX, 4096, 100000};
        return invented[b % 5];
    }
    void adoptImage(ImageHandle handle) {
        images.push_back(handle);
        std::erase(freedImages, handle);
    }
    void freeImage(ImageHandle handle) {
        if (std::erase(images, handle) > 0) freedImages.push_back(handle);
    }
};

// 66 points of a face in a 160 x 160 photo: the alpha mask's landmarks,
// scaled from its 512 x 512 frame.
std::vector<int32_t> facePoints() {
    std::ifstream grid(std::string(KELMO_FUZZ_DATA_DIR) + "alpha.grd");
    int count = 0;
    grid >> count;
    std::vector<int32_t> points;
    for (float x = 0, y = 0; grid >> x >> y;) points.insert(points.end(), {int32_t(x * 0.3125f), int32_t(y * 0.3125f)});
    FUZZ_CHECK(count == 66 && points.size() == 132);
    return points;
}

void perturb(Host &host, std::vector<int32_t> &points) {
    for (int n = host.in.byte() % 4; n > 0; --n)
        points[host.in.byte() % points.size()] = host.in.pick({-5, 0, 80, 159, 160, 1000, INT32_MIN, INT32_MAX});
}

// Runs one call chosen by the next input byte; returns its status.
int32_t step(Host &host, const std::vector<int32_t> &face) {
    Input &in = host.in;
    switch (in.byte() % 21) {
        case 0: {
            int32_t handle = -1;
            const int32_t status = TAVO_InitModel(&handle, in.byte() % 2);
            if (status == 0) host.models.push_back(handle), std::erase(host.freedModels, handle);
            return status;
        }
        case 1: {
            const int32_t handle = host.model(), status = TAVO_FreeModel(handle);
            if (status == 0) std::erase(host.models, handle), host.freedModels.push_back(handle);
            return status;
        }
        case 2: {
            const int32_t h[2] = {host.model(), host.model()};
            return TAVO_CopyModel(h[0], h[1]);
        }
        case 3: {
            ImageHandle handle = -1;
            const int32_t status = TAVO_CreateEmptyImage(&handle);
            if (status == 0) host.adoptImage(handle);
            return status;
        }
        case 4: {
            // Sizes the library must refuse come with a token buffer.
            const int32_t width = in.pick({0, 1, 2, 7, 16, 33, 64, -1, 40000, INT32_MAX});
            const int32_t height = in.pick({0, 1, 3, 16, 40, 64, -2, 32769, INT32_MIN});
            const int32_t mode = in.integer({0, 1, 2, 3}), pad = in.pick({0, 3, -1});
            const bool small = width >= 0 && width <= 64 && height >= 0 && height <= 64;
            const int64_t scanLine = int64_t{width} * (mode == 0 ? 1 : mode == 1 ? 3 : 4) + pad;
            std::vector<uint8_t> pixels(small ? std::size_t(height) * (width * 4 + 3) + 1 : 16);
            for (std::size_t k = 0; k < pixels.size(); ++k) pixels[k] = uint8_t(k * 37 + in.byte());
            ImageHandle handle = -1;
            const int32_t status = TAVO_LoadImageFromBuffer(
                &handle, pixels.data(), width, height, int32_t(std::clamp<int64_t>(scanLine, INT32_MIN, INT32_MAX)),
                static_cast<TAVO_IMAGEMODE>(mode));
            if (status == 0) host.adoptImage(handle);
            return status;
        }
        case 5: {
            const ImageHandle handle = host.image();
            const int32_t status = TAVO_FreeImage(handle);
            if (status == 0) host.freeImage(handle);
            return status;
        }
        case 6: {
            const ImageHandle h[2] = {host.image(), host.image()};
            return TAVO_CopyImage(h[0], h[1]);
        }
        case 7: {
            if (++host.creations > 3) return 0;
            std::vector<int32_t> points = face;
            perturb(host, points);
            float scale = 0.0f;
            const int32_t a[6] = {in.integer({0, 0, 1, 2, 3}), host.model(), host.image(), in.byte() % 2,
                                  in.byte() % 2, in.byte() % 2};
            return TAVO_CreateModelFromPhotoEx(a[1], a[2], points.data(), a[0], a[3] ? &scale : nullptr, a[4], a[5]);
        }
        case 8: {
            std::vector<int32_t> points = face, framePoints(132);
            perturb(host, points);
            ImageHandle frame = -1;
            const int32_t a[3] = {host.image(), in.pick({64, 1, 100, 0, 40000}), in.pick({64, 1, 80, -3, INT32_MAX})};
            const int32_t status = TAVO_ExtractFaceFrame(a[0], points.data(), &frame, framePoints.data(), a[1], a[2]);
            if (status == 0) host.adoptImage(frame);
            return status;
        }
        case 9: {
            const int32_t handle = host.model();
            const int which = in.byte() % 6;
            const float r[3] = {in.real(10.0f), in.real(30.0f), in.real(1.0f)};
            switch (which) {
                case 0: return TAVO_RotateModel(handle, r[0], r[1], r[2]);
                case 1: return TAVO_ScaleModel(handle, r[2], r[2] * r[0] / 10.0f, r[2]);
                case 2: return TAVO_SetModelPerspective(handle, r[0]);
                case 3: return TAVO_SetDeformationMatrixElement(handle, in.integer({0, 5, 10, 15, 16, -1}), r[2]);
                case 4: return TAVO_ChooseTeethTextures(handle, in.byte() % 2);
                default: return TAVO_SetModelMaskUsage(handle, in.byte() % 2);
            }
        }
        case 10: {
            const int32_t size[2] = {in.pick({48, 64, 0, 1, 100, -5, 40000}), in.pick({48, 64, 0, 1, 90, INT32_MIN})};
            return TAVO_BeginRendering(size[0], size[1]);
        }
        case 11: {
            const int32_t a[2] = {host.model(), host.image()};
            return TAVO_RenderModelToImage(a[0], a[1]);
        }
        case 12: {
            const int32_t handle = host.model(), region = in.integer({0, 1, 2, 5, 7, 8, 9, -1});
            int32_t count = 0;
            if (in.byte() % 2) {
                std::vector<int32_t> points(132);
                return TAVO_GetModel2DProjection(handle, points.data());
            }
            if (TAVO_GetModelNumVertices(handle, region, &count) != 0) count = 0;
            std::vector<int32_t> points(2 * std::size_t(count) + 1);
            return TAVO_ProjectModelVertices(handle, region, points.data());
        }
        case 13: {
            static const char *names[] = {"morphs/smile.vtx", "morphs/jaw_open.vtx", "morphs/blink.vtx", "missing.vtx"};
            const std::string path = std::string(KELMO_FUZZ_DATA_DIR) + names[in.byte() % 4];
            const int32_t handle = host.model();
            return TAVO_LoadExpressionToModel(handle, in.byte() < 250 ? path.c_str() : nullptr);
        }
        case 14: {
            const int32_t h[2] = {host.model(), host.model()};
            return TAVO_AdjustModelDeformation(h[0], h[1]);
        }
        case 15: {
            const int32_t handle = host.model(), morph = host.model();
            if (in.byte() % 2 == 0) return TAVO_ApplyMorph(handle, morph, in.real(0.7f));
            int32_t count = 0;
            if (TAVO_GetModelNumVertices(morph, 0, &count) != 0) count = 0;
            std::vector<float> field(std::size_t(count) + 1, in.real(0.5f));
            const float weight = in.real(0.7f);
            return TAVO_ApplyMorphHField(handle, morph, weight, field.data());
        }
        case 16: {
            const int32_t handle = host.model();
            std::vector<TVector3f> features(66);
            if (TAVO_GetModel3DPoints(handle, features.data()) != 0) features.assign(66, {0.0f, 0.0f, 1.0f});
            auto point = [&] {
                const TVector3f &f = features[in.byte() % 66];
                return TVector3f{f.x + in.real(0.2f), f.y + in.real(-0.3f), f.z + in.real(0.0f)};
            };
            const TVector3f a = point(), b = point(), f = point(), g = point();
            std::size_t largest = 0;
            if (const kelmo::TModel *m = kelmo::resolveModel(handle))
                for (const kelmo::TRegion &r : m->regions) largest = std::max(largest, r.vertices.size());
            std::vector<float> weights(largest + 1, in.real(1.0f));
            const float r[3] = {in.real(0.3f), in.real(0.25f), in.real(1.0f)};
            const int32_t regions[2] = {in.byte() % 2, in.integer({3, 1, 9, 0, -2})};
            return TAVO_LinearMuscleContraction(handle, &a, &b, &f, &g, r[0], r[1], r[2],
                                                regions[0] ? weights.data() : nullptr, regions[1]);
        }
        case 17: {
            // Eight pairs at most are given; counts beyond 4096 must be refused unread.
            int32_t count = in.integer({0, 1, 3, 4, -1, 5000});
            if (count > 8 && count <= 4096) count = 8;
            std::vector<int32_t> from(2 * 8), to(2 * 8);
            for (std::size_t k = 0; k < from.size(); ++k)
                from[k] = in.integer({10, 20, 0, 63, 64, -8}), to[k] = in.integer({12, 18, 1, 60, 100});
            const int32_t a[3] = {host.image(), host.image(), in.integer({1, 2, 0, 7})};
            return TAVO_WarpImageRBF(a[0], a[1], from.data(), to.data(), count, static_cast<TAVO_IMAGEMODE>(a[2]));
        }
        case 18: {
            const int32_t handle = host.model();
            const int32_t a[3] = {in.byte() % 3, host.image(), in.integer({0, 3, 4, 5, 9, -1})};
            switch (a[0]) {
                case 0: return TAVO_SetModelTexture(handle, a[1]);
                case 1: return TAVO_GetModelTexture(handle, a[1]);
                default: return TAVO_GetModelRegionTexture(handle, a[2], a[1]);
            }
        }
        case 19: return TAVO_SetPerspective(in.real(1.0f));
        default: {
            int32_t status = 0;
            // Initialisation again, after finalisation or over a live library:
            // the models of a finalisation are gone, their handles stale.
            if (in.byte() % 2) {
                TAVO_FinalizeKelmo();
                host.freedModels.insert(host.freedModels.end(), host.models.begin(), host.models.end());
                host.models.clear();
            }
            status = TAVO_InitKelmo(KELMO_FUZZ_DATA_DIR);
            FUZZ_CHECK(status == 0);
            return status;
        }
    }
}

std::set<ImageHandle> sharedImages() {
    const kelmo::LibraryState &state = libraryState();
    std::set<ImageHandle> shared{state.alphaMaskImage, state.lowerTeethImage, state.upperTeethImage, state.sockImage};
    for (const auto &mesh : state.expressionMeshes)
        if (mesh) shared.insert(mesh->texture);
    return shared;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static const std::vector<int32_t> face = [] {
        FUZZ_CHECK(TAVO_InitKelmo(KELMO_FUZZ_DATA_DIR) == 0);
        FUZZ_CHECK(TAVO_InitRBF(KELMO_FUZZ_DATA_DIR) == 0);
        return facePoints();
    }();
    TAVO_SetPerspective(1.0f);
    TAVO_BeginRendering(64, 64);
    Host host{Input(data, size), {}, {}, {}, {}};
    // A photo: a smooth colour field of 160 x 160 pixels.
    std::vector<uint8_t> photo(160 * 160 * 3);
    for (std::size_t k = 0; k < photo.size(); ++k) photo[k] = uint8_t((k / 3 % 160) + (k / 480) * 3 / 2 + k % 3 * 40);
    ImageHandle photoHandle = -1;
    FUZZ_CHECK(TAVO_LoadImageFromBuffer(&photoHandle, photo.data(), 160, 160, 480, TAVO_IMAGEMODE_COLOR) == 0);
    host.adoptImage(photoHandle);

    for (int calls = 0; calls < 64 && !host.in.empty(); ++calls) {
        std::vector<std::size_t> before;
        for (const int32_t model : host.models) before.push_back(modelFingerprint(model));
        for (const ImageHandle image : host.images) before.push_back(imageFingerprint(image));
        const std::vector<int32_t> modelsBefore = host.models;
        const std::vector<ImageHandle> imagesBefore = host.images;
        if (step(host, face) >= 0) continue;
        // A failing call changed nothing that the host holds.
        FUZZ_CHECK(host.models == modelsBefore && host.images == imagesBefore);
        std::size_t k = 0;
        for (const int32_t model : host.models) FUZZ_CHECK(modelFingerprint(model) == before[k++]);
        for (const ImageHandle image : host.images) FUZZ_CHECK(imageFingerprint(image) == before[k++]);
    }

    for (const int32_t model : host.models) FUZZ_CHECK(TAVO_FreeModel(model) == 0);
    for (const ImageHandle image : host.images) FUZZ_CHECK(TAVO_FreeImage(image) == 0);
    for (const auto &slot : libraryState().models) FUZZ_CHECK(slot == nullptr);
    const std::set<ImageHandle> shared = sharedImages();
    int32_t width = 0;
    for (ImageHandle handle = 0; handle < 512; ++handle)
        FUZZ_CHECK((TAVO_GetImageWidth(handle, &width) == 0) == (shared.count(handle) == 1));
    return 0;
}
