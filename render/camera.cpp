// Camera and projection, and the exported transform setters.
#include "render/camera.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame/library_state.h"
#include "frame/numeric.h"
#include "model/model_table.h"

namespace kelmo {

float cameraDistanceOf(float perspectiveAngle) { return 400.0f / perspectiveAngle; }

Matrix4 identityMatrix() { return Matrix4{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }

Matrix4 multiplyMatrices(const Matrix4 &left, const Matrix4 &right) {
    Matrix4 product{};
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            product[column * 4 + row] = left[0 * 4 + row] * right[column * 4 + 0] +
                                        left[1 * 4 + row] * right[column * 4 + 1] +
                                        left[2 * 4 + row] * right[column * 4 + 2] +
                                        left[3 * 4 + row] * right[column * 4 + 3];
        }
    }
    return product;
}

Matrix4 rotationAboutAxis(float degrees, float x, float y, float z) {
    // Normalise, then the right-handed
    // rotation matrix column by column. Single precision throughout.
    const float length = std::sqrt(x * x + y * y + z * z);
    const float ux = x / length;
    const float uy = y / length;
    const float uz = z / length;
    const float t = degrees / 180.0f * 3.1415927f;
    const float s = std::sin(t);
    const float c = std::cos(t);
    const float k = 1.0f - c;
    return Matrix4{
        ux * ux * k + c,      ux * uy * k + uz * s, ux * uz * k - uy * s, 0.0f,  // column 0
        ux * uy * k - uz * s, uy * uy * k + c,      uy * uz * k + ux * s, 0.0f,  // column 1
        ux * uz * k + uy * s, uy * uz * k - ux * s, uz * uz * k + c,      0.0f,  // column 2
        0.0f,                 0.0f,                 0.0f,                 1.0f,  // column 3
    };
}

namespace {

// The view matrix's degrees to radians: (angle / 180) *
// 3.1415926 in double precision, rounded to float.
float radiansOf(float degrees) { return static_cast<float>(static_cast<double>(degrees) / 180.0 * 3.1415926); }

}  // namespace

Matrix4 viewMatrix(const std::array<float, 3> &rotation, const std::array<float, 3> &scale,
                   const std::array<float, 16> &deformation, float cameraDistance) {
    // Identity times the translation (0, camera lift, -D).
    Matrix4 translation = identityMatrix();
    translation[12] = 0.0f;
    translation[13] = kCameraLift;
    translation[14] = -cameraDistance;
    Matrix4 view = multiplyMatrices(identityMatrix(), translation);
    // The deformation matrix.
    view = multiplyMatrices(view, deformation);
    // Sines and cosines of ay and az, in single precision.
    const float ay = radiansOf(rotation[1]);
    const float az = radiansOf(rotation[2]);
    const float sinY = std::sin(ay);
    const float cosY = std::cos(ay);
    const float sinZ = std::sin(az);
    const float cosZ = std::cos(az);
    // The rotations: about x as turned by y and z, about y as turned by z,
    // about z; together Rz * Ry * Rx about the fixed axes.
    view = multiplyMatrices(view, rotationAboutAxis(rotation[0], cosY * cosZ, cosY * sinZ, -sinY));
    view = multiplyMatrices(view, rotationAboutAxis(rotation[1], -sinZ, cosZ, 0.0f));
    view = multiplyMatrices(view, rotationAboutAxis(rotation[2], 0.0f, 0.0f, 1.0f));
    // The scale.
    Matrix4 scaling = identityMatrix();
    scaling[0] = scale[0];
    scaling[5] = scale[1];
    scaling[10] = scale[2];
    return multiplyMatrices(view, scaling);
}

Matrix4 viewMatrix(const TModel &model, float cameraDistance) {
    return viewMatrix(model.rotation, model.scale, model.deformation, cameraDistance);
}

Matrix4 projectionMatrix(float perspectiveAngle) {
    const float distance = cameraDistanceOf(perspectiveAngle);
    const float nearPlane = distance - 4.0f;
    const float farPlane = distance + 4.0f;
    // The half angle: f * 3.1415927 in single precision, the division by 360 in double,
    // rounded to float before the tangent. Aspect 1.
    const float halfAngle = static_cast<float>(static_cast<double>(perspectiveAngle * 3.1415927f) / 360.0);
    const float yMax = nearPlane * std::tan(halfAngle);
    const float xMax = yMax * 1.0f;
    // The symmetric frustum (-xMax, xMax, -yMax, yMax, near, far); 2n
    // in double precision, so elements 0, 5 and 14 are double quotients.
    const double twoNear = 2.0 * static_cast<double>(nearPlane);
    Matrix4 projection{};
    projection[0] = static_cast<float>(twoNear / static_cast<double>(xMax - -xMax));
    projection[5] = static_cast<float>(twoNear / static_cast<double>(yMax - -yMax));
    projection[8] = 0.0f;
    projection[9] = 0.0f;
    projection[10] = (-farPlane - nearPlane) / (farPlane - nearPlane);
    projection[11] = -1.0f;
    projection[14] = static_cast<float>(-(twoNear * static_cast<double>(farPlane)) /
                                        static_cast<double>(farPlane - nearPlane));
    return projection;
}

Viewport renderViewport(int32_t renderWidth, int32_t renderHeight) {
    // Computed in 64 bits: INT32_MIN - 1 must not wrap.
    auto lessOne = [](int32_t value) {
        return value == INT32_MIN ? INT32_MIN : static_cast<int32_t>(static_cast<int64_t>(value) - 1);
    };
    return Viewport{0, 0, lessOne(renderWidth), lessOne(renderHeight)};
}

bool projectPoint(const TVector3f &point, const Matrix4 &view, const Matrix4 &projection, const Viewport &viewport,
                  WindowPoint &window) {
    // Eye space: e = V * (x, y, z, 1), all four rows.
    float eye[4];
    for (int row = 0; row < 4; ++row) {
        eye[row] = view[0 + row] * point.x + view[4 + row] * point.y + view[8 + row] * point.z + view[12 + row] * 1.0f;
    }
    // Clip space: rows 0 to 2 of P; the fourth row is taken as (0, 0, -1, 0).
    float clip[3];
    for (int row = 0; row < 3; ++row) {
        clip[row] = projection[0 + row] * eye[0] + projection[4 + row] * eye[1] + projection[8 + row] * eye[2] +
                    projection[12 + row] * eye[3];
    }
    const float w = -eye[2];
    // A point in the eye's plane has no projection.
    if (w == 0.0f) return false;
    // The perspective division: a product with the reciprocal, taken in
    // double precision and rounded to float, not three divisions; results are
    // compared bit for bit.
    const float q = static_cast<float>(1.0 / static_cast<double>(w));
    const float ndcX = clip[0] * q;
    const float ndcY = clip[1] * q;
    const float ndcZ = clip[2] * q;
    // The viewport mapping in double precision, rounded to float.
    window.x = static_cast<float>((static_cast<double>(ndcX) * 0.5 + 0.5) * viewport.width + viewport.x);
    window.y = static_cast<float>((static_cast<double>(ndcY) * 0.5 + 0.5) * viewport.height + viewport.y);
    window.z = static_cast<float>((static_cast<double>(ndcZ) + 1.0) * 0.5);
    return true;
}

namespace {

int32_t saturateToInt32(int64_t value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

}  // namespace

void projectToImagePixel(const TVector3f &point, const Matrix4 &view, const Matrix4 &projection,
                         int32_t renderWidth, int32_t renderHeight, int32_t &x, int32_t &y) {
    // A point without a projection keeps the window position (0, 0).
    WindowPoint window;
    projectPoint(point, view, projection, renderViewport(renderWidth, renderHeight), window);
    x = truncateToInt32(window.x);
    y = saturateToInt32(static_cast<int64_t>(renderHeight) - truncateToInt32(window.y));
}

namespace {

// The region that TAVO_GetModel2DProjection projects feature point i from:
// the eye points from the extra region when the model has one, else 0, 29, 30
// from region 2 and 1, 33, 34 from region 1: the reverse of the fit's
// pairing, kept because it is what projection has always returned. The
// difference shows only for a model without an extra region.
int32_t featurePointRegion(const TModel &model, int32_t point) {
    const bool onRegion2 = point == 0 || point == 29 || point == 30;
    const bool onRegion1 = point == 1 || point == 33 || point == 34;
    if ((onRegion1 || onRegion2) && model.extraRegion != -1) return model.extraRegion;
    if (onRegion2) return 2;
    if (onRegion1) return 1;
    return 0;
}

// An angle of 0 or below gives no usable camera (its distance would be
// infinite or negative): projection returns -1. NaN is refused alike.
bool hasUsableGlobalCamera() { return libraryState().globalPerspective > 0.0f; }

}  // namespace

}  // namespace kelmo

using kelmo::libraryState;
using kelmo::resolveModel;
using kelmo::TModel;

extern "C" {

int32_t TAVO_SetPerspective(float angle) {
    auto &state = libraryState();
    state.globalPerspective = angle;
    state.globalCameraDistance = kelmo::cameraDistanceOf(angle);
    return TAVO_OK;
}

int32_t TAVO_SetModelPerspective(int32_t handle, float angle) {
    TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    model->perspective = angle;
    return TAVO_OK;
}

int32_t TAVO_RotateModel(int32_t handle, float x, float y, float z) {
    TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    // Set, not added: the vertices are never touched; the transform is
    // applied only when the model is rendered or projected.
    model->rotation = {x, y, z};
    return TAVO_OK;
}

int32_t TAVO_ScaleModel(int32_t handle, float x, float y, float z) {
    TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    model->scale = {x, y, z};
    return TAVO_OK;
}

int32_t TAVO_SetDeformationMatrixElement(int32_t handle, int32_t index, float value) {
    TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    // An index outside 0 to 15 is rejected and nothing is written.
    if (index < 0 || index > 15) return TAVO_ERR_GENERAL;
    model->deformation[static_cast<std::size_t>(index)] = value;
    return TAVO_OK;
}

int32_t TAVO_ChooseTeethTextures(int32_t handle, bool flag) {
    TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    model->teethFromModelTexture = flag;
    return TAVO_OK;
}

int32_t TAVO_BeginRendering(int32_t width, int32_t height) {
    auto &state = libraryState();
    state.renderWidth = width;
    state.renderHeight = height;
    return TAVO_OK;
}

int32_t TAVO_EndRendering(void) { return TAVO_OK; }

int32_t TAVO_ProjectModelVertices(int32_t handle, int32_t region, int32_t *points) {
    // The checks of the region accessors, in their order.
    if (points == nullptr || region < 0) return TAVO_ERR_GENERAL;
    TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    if (static_cast<std::size_t>(region) >= model->regions.size()) return TAVO_ERR_GENERAL;
    if (!kelmo::hasUsableGlobalCamera()) return TAVO_ERR_GENERAL;

    const auto &state = libraryState();
    // The view matrix with the camera distance kept beside the global angle,
    // the projection from the global angle.
    const kelmo::Matrix4 view = kelmo::viewMatrix(*model, state.globalCameraDistance);
    const kelmo::Matrix4 projection = kelmo::projectionMatrix(state.globalPerspective);
    const auto &vertices = model->regions[static_cast<std::size_t>(region)].vertices;
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        kelmo::projectToImagePixel(vertices[i], view, projection, state.renderWidth, state.renderHeight,
                                   points[2 * i], points[2 * i + 1]);
    }
    return TAVO_OK;
}

int32_t TAVO_GetModel2DProjection(int32_t handle, int32_t *points) {
    if (points == nullptr) return TAVO_ERR_GENERAL;
    TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    if (!kelmo::hasUsableGlobalCamera()) return TAVO_ERR_GENERAL;

    // Every point is resolved first, and if one cannot be (a model without
    // the regions or feature vertices that the points name), the call returns
    // -1 and writes nothing.
    const std::size_t regionCount = model->regions.size();
    if (model->featureVertices.size() < static_cast<std::size_t>(kelmo::kFeaturePointCount))
        return TAVO_ERR_GENERAL;
    for (int32_t i = 0; i < kelmo::kFeaturePointCount; ++i) {
        const int32_t region = kelmo::featurePointRegion(*model, i);
        if (region < 0 || static_cast<std::size_t>(region) >= regionCount) return TAVO_ERR_GENERAL;
        const int32_t vertex = model->featureVertices[static_cast<std::size_t>(i)];
        if (vertex < 0 ||
            static_cast<std::size_t>(vertex) >= model->regions[static_cast<std::size_t>(region)].vertices.size())
            return TAVO_ERR_GENERAL;
    }

    const auto &state = libraryState();
    const kelmo::Matrix4 view = kelmo::viewMatrix(*model, state.globalCameraDistance);
    const kelmo::Matrix4 projection = kelmo::projectionMatrix(state.globalPerspective);
    // The halves of the render size in single precision, truncated.
    const int32_t halfWidth = kelmo::truncateToInt32(static_cast<float>(state.renderWidth) * 0.5f);
    const int32_t halfHeight = kelmo::truncateToInt32(static_cast<float>(state.renderHeight) * 0.5f);
    for (int32_t i = 0; i < kelmo::kFeaturePointCount; ++i) {
        // The projection of a vertex does not depend on the
        // other vertices of its region, so only the named vertex is projected;
        // the pair is the one TAVO_ProjectModelVertices writes for it.
        const auto &region = model->regions[static_cast<std::size_t>(kelmo::featurePointRegion(*model, i))];
        const TVector3f &vertex = region.vertices[static_cast<std::size_t>(model->featureVertices[i])];
        int32_t x = 0;
        int32_t y = 0;
        kelmo::projectToImagePixel(vertex, view, projection, state.renderWidth, state.renderHeight, x, y);
        points[2 * i] = kelmo::saturateToInt32(static_cast<int64_t>(x) - halfWidth);
        points[2 * i + 1] = kelmo::saturateToInt32(static_cast<int64_t>(y) - halfHeight);
    }
    return TAVO_OK;
}

}  // extern "C"
