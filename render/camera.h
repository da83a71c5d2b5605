// The per-model transform, the camera and the projection of one point. The
// exported setters and projection functions are defined in camera.cpp; the
// rasteriser (render/rasteriser, render/model_renderer) renders through
// exactly these matrices, so projected points and rendered pixels agree.
#pragma once

#include <array>
#include <cstdint>

#include "kelmo.h"
#include "model/model.h"

namespace kelmo {

// A 4x4 single-precision matrix stored column by column: element i sits at
// row i mod 4, column i div 4.
using Matrix4 = std::array<float, 16>;

// A constant added to the eye-space y of every point (the camera's
// translation in viewMatrix): the camera looks at the head slightly from
// above its origin.
inline constexpr float kCameraLift = 0.15f;

// The camera distance of a perspective angle, 400 / angle, in
// single precision (no bound on the angle: 0 gives an infinity).
float cameraDistanceOf(float perspectiveAngle);

Matrix4 identityMatrix();

// The ordinary matrix product left * right in single precision; element
// (row, column) sums left(row, k) * right(k, column) for k = 0 to 3 in that
// order.
Matrix4 multiplyMatrices(const Matrix4 &left, const Matrix4 &right);

// The right-handed rotation of `degrees`
// about (x, y, z), the axis normalised by its length; t = degrees / 180 *
// 3.1415927 in single precision.
Matrix4 rotationAboutAxis(float degrees, float x, float y, float z);

// The view matrix: identity, times the translation
// (0, 0.15, -cameraDistance), times `deformation`, times the rotations of
// rotation[0] degrees about (cos ay cos az, cos ay sin az, -sin ay), of
// rotation[1] about (-sin az, cos az, 0) and of rotation[2] about (0, 0, 1),
// times diag(scale, 1).
Matrix4 viewMatrix(const std::array<float, 3> &rotation, const std::array<float, 3> &scale,
                   const std::array<float, 16> &deformation, float cameraDistance);
// The same for a model's transform members.
Matrix4 viewMatrix(const TModel &model, float cameraDistance);

// The projection matrix: the symmetric frustum of a perspective angle
// (aspect 1, near 400 / angle - 4, far 400 / angle + 4); the half angle and
// the elements 0, 5 and 14 go through double precision (camera.cpp).
Matrix4 projectionMatrix(float perspectiveAngle);

// A viewport: origin and extent in window pixels.
struct Viewport {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// The viewport is always (0, 0, render width - 1, render height - 1).
Viewport renderViewport(int32_t renderWidth, int32_t renderHeight);

// A projected point: window x and y (y grows upwards) and window z.
struct WindowPoint {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

// Projects one point: eye space, clip space, the perspective division, the
// viewport. Returns false, leaving
// `window` unchanged, when the point's eye-space depth is exactly 0 (it has no
// projection); otherwise stores the window position and returns true.
bool projectPoint(const TVector3f &point, const Matrix4 &view, const Matrix4 &projection, const Viewport &viewport,
                  WindowPoint &window);

// What TAVO_ProjectModelVertices writes for a vertex, as image coordinates
// with y growing downwards: x = window x truncated toward zero, y = render
// height - (window y truncated toward zero), saturated to the int32 range.
// A point without a projection (eye depth 0) gives the window position (0, 0),
// that is (0, render height) (docs/design.md).
void projectToImagePixel(const TVector3f &point, const Matrix4 &view, const Matrix4 &projection,
                         int32_t renderWidth, int32_t renderHeight, int32_t &x, int32_t &y);

}  // namespace kelmo
