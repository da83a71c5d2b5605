#include "fitting/face_frame.h"

#include <array>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <utility>

#include "frame/numeric.h"
#include "model/model.h"

namespace kelmo {
namespace {

// Squaring the face box: grows the shorter side [low, high] of the
// box to the length of the longer one and shifts it back inside [0, limit - 1]
// where it fits. `difference` is the longer side minus the shorter one.
void growToSquare(int32_t &low, int32_t &high, int32_t difference, int32_t limit) {
    low -= difference / 2;  // truncated toward zero; an odd difference's extra pixel follows
    high += difference / 2;
    if (difference % 2 != 0) {
        if (high < limit - 1) {
            high += 1;
        } else {
            low -= 1;
        }
    }
    if (low < 0) {
        high -= low;
        low = 0;
    }
    if (high >= limit) {
        low += limit - high - 1;
        high = limit - 1;
    }
}

}  // namespace

int32_t faceBox(TGrid points, int32_t &x1, int32_t &y1, int32_t &x2, int32_t &y2, int32_t width,
                int32_t height) {
    // Bounds of the points. Each comparison is made in float between
    // the current integer bound (converted) and the point, then truncated.
    x1 = 10000;
    y1 = 10000;
    x2 = 0;
    y2 = 0;
    for (const TPointf &point : points.points) {
        const float left = static_cast<float>(x1);
        const float top = static_cast<float>(y1);
        const float right = static_cast<float>(x2);
        const float bottom = static_cast<float>(y2);
        x1 = truncateToInt32(point.x < left ? point.x : left);
        y1 = truncateToInt32(point.y < top ? point.y : top);
        x2 = truncateToInt32(point.x > right ? point.x : right);
        y2 = truncateToInt32(point.y > bottom ? point.y : bottom);
    }

    // Clamped to the image; the right and bottom bounds to W and H, not W - 1.
    if (x1 < 0) x1 = 0;
    if (y1 < 0) y1 = 0;
    if (x2 > width) x2 = width;
    if (y2 > height) y2 = height;

    // The proportions of a face, in double precision: the box is 1.6 times as
    // wide as the points and reaches 1.39 / 2 of their height above the
    // centre (the forehead), 1.1 / 2 below (the chin).
    const double w = static_cast<double>(x2) - static_cast<double>(x1);
    const double h = static_cast<double>(y2) - static_cast<double>(y1);
    const int32_t centreX = truncateToInt32(static_cast<double>(x1) + w * 0.5);
    const int32_t centreY = truncateToInt32(static_cast<double>(y1) + h * 0.5);
    const double half = w * 1.6 * 0.5;
    x1 = truncateToInt32(static_cast<double>(centreX) - half);
    x2 = truncateToInt32(static_cast<double>(centreX) + half);
    y1 = truncateToInt32(static_cast<double>(centreY) - h * 1.39 * 0.5);
    y2 = truncateToInt32(static_cast<double>(centreY) + h * 1.1 * 0.5);

    // Back inside the image, now with W - 1 and H - 1.
    if (y1 < 0) y1 = 0;
    if (x1 < 0) x1 = 0;
    if (x2 >= width) x2 = width - 1;
    if (y2 >= height) y2 = height - 1;

    // Widen to a square.
    if (x2 - x1 < y2 - y1) growToSquare(x1, x2, (y2 - y1) - (x2 - x1), width);
    // Heighten to a square.
    if (y2 - y1 < x2 - x1) growToSquare(y1, y2, (x2 - x1) - (y2 - y1), height);

    // A square wider than the image overhangs both sides by about half the
    // excess each; nothing of the kind vertically (it overhangs at the top).
    if (x1 < 0) {
        const int32_t shift = x1 / 2;
        x1 -= shift;
        x2 -= shift;
    }
    return 0;
}

int32_t extractFrame(ImageHandle photo, const TGrid &points, ImageHandle *frame, TGrid &framePoints,
                     int32_t width, int32_t height) {
    assert(points.points.size() >= 2 && "extractFrame needs points 0 and 1");
    assert(frame != nullptr);
    assert(&points != &framePoints);

    int32_t photoWidth = 0;
    int32_t photoHeight = 0;
    TAVO_GetImageWidth(photo, &photoWidth);
    TAVO_GetImageHeight(photo, &photoHeight);

    // The roll of the face in degrees, from the eye centres: the product in
    // float, the division by 3.1415926 in double, rounded to float.
    const TPointf p0 = points.points[0];
    const TPointf p1 = points.points[1];
    const float angle =
        static_cast<float>(static_cast<double>(std::atan2(p1.y - p0.y, p1.x - p0.x) * 180.0f) / 3.1415926);

    // The centre between the eyes, single precision.
    const float centreX = (p0.x + p1.x) * 0.5f;
    const float centreY = (p0.y + p1.y) * 0.5f;

    // The points of the upright face, the photo turned by minus the roll
    // about that centre (the photo itself is turned only where the crop
    // below samples it). theta = angle / -180 in float, times 3.1415926 in
    // double, rounded to float; the centre truncated.
    TGrid upright(points);
    const float theta = static_cast<float>(static_cast<double>(angle / -180.0f) * 3.1415926);
    upright.Rotate(truncateToInt32(centreX), truncateToInt32(centreY), photoWidth, photoHeight, theta);

    // The face box of the upright points.
    int32_t x1 = 0;
    int32_t y1 = 0;
    int32_t x2 = 0;
    int32_t y2 = 0;
    faceBox(upright, x1, y1, x2, y2, photoWidth, photoHeight);

    // The crop: the box widened to the requested aspect, in double precision;
    // floor and ceil
    // of the padding keep the box's centre within half a pixel.
    int32_t cropX1 = x1;
    int32_t cropY1 = y1;
    int32_t cropX2 = x2;
    int32_t cropY2 = y2;
    if (width >= height) {
        const double aspect = (static_cast<double>(width) + 0.4) / static_cast<double>(height);
        const double side = static_cast<double>(x2) - static_cast<double>(x1);
        const double pad = (side * aspect - side) * 0.5;
        cropX1 = truncateToInt32(static_cast<double>(x1) - std::floor(pad));
        cropX2 = truncateToInt32(static_cast<double>(x2) + std::ceil(pad));
    } else {
        const double aspect = (static_cast<double>(height) + 0.4) / static_cast<double>(width);
        const double side = static_cast<double>(y2) - static_cast<double>(y1);
        const double pad = (side * aspect - side) * 0.5;
        cropY1 = truncateToInt32(static_cast<double>(y1) - std::floor(pad));
        cropY2 = truncateToInt32(static_cast<double>(y2) + std::ceil(pad));
    }

    // The crop, the resized crop and the frame are created together, in this
    // order: the frame's handle, which the host receives, depends on it.
    ImageHandle crop = -1;
    ImageHandle resized = -1;
    TAVO_CreateEmptyImage(&crop);
    TAVO_CreateEmptyImage(&resized);
    TAVO_CreateEmptyImage(frame);
    // The crop of the upright photo, borders repeated where it leaves the
    // photo; only the crop's pixels are turned, through the same bilinear
    // arithmetic as a rotation of the whole photo.
    TAVO_RotateCropImage(photo, -static_cast<double>(angle), static_cast<double>(centreX),
                         static_cast<double>(centreY), cropX1, cropY1, cropX2, cropY2, crop);

    // Scaled to the frame's width: the ratio in double. A crop that the imaging library refused is
    // empty; the ratio is then +infinity, which the resize refuses in turn
    // (written out to avoid a division by zero).
    int32_t cropWidth = 0;
    TAVO_GetImageWidth(crop, &cropWidth);
    const double ratio = cropWidth > 0 ? (static_cast<double>(width) + 0.4) / static_cast<double>(cropWidth)
                                       : HUGE_VAL;
    TAVO_ResizeImage(crop, ratio, resized);
    TAVO_FreeImage(crop);

    // Exactly width x height, border pixels repeated if the resized
    // image falls short.
    TAVO_CopyRectReplicateBorder(resized, 0, 0, width - 1, height - 1, *frame);
    TAVO_FreeImage(resized);

    // The frame points: translated then scaled by the ratio in float.
    framePoints = upright;
    framePoints.Translate(static_cast<float>(-static_cast<int64_t>(cropX1)),
                          static_cast<float>(-static_cast<int64_t>(cropY1)));
    framePoints.Scale(static_cast<float>(ratio));
    return 0;
}

}  // namespace kelmo

extern "C" {

// Contract in include/kelmo.h. The arguments are checked before anything is
// made, and the frame after it is made, so that a failing call creates and
// writes nothing (extractFrame itself validates nothing).
int32_t TAVO_ExtractFaceFrame(ImageHandle photo, const int32_t *points, ImageHandle *frame,
                              int32_t *framePoints, int32_t width, int32_t height) {
    using namespace kelmo;
    if (points == nullptr || frame == nullptr || framePoints == nullptr) return TAVO_ERR_GENERAL;
    if (width < 1 || height < 1 || width > TAVOIMG_MAX_SIDE || height > TAVOIMG_MAX_SIDE ||
        static_cast<int64_t>(width) * height > TAVOIMG_MAX_PIXELS) {
        return TAVO_ERR_GENERAL;
    }
    int32_t photoWidth = 0;
    int32_t photoHeight = 0;
    if (TAVO_GetImageWidth(photo, &photoWidth) != TAVOIMG_OK ||
        TAVO_GetImageHeight(photo, &photoHeight) != TAVOIMG_OK || photoWidth < 1 || photoHeight < 1) {
        return TAVO_ERR_GENERAL;  // invalid or empty photo: nothing to frame
    }
    try {
        TGrid grid;
        grid.points.resize(kFeaturePointCount);
        for (int k = 0; k < kFeaturePointCount; ++k) {
            grid.points[k] = TPointf{static_cast<float>(points[2 * k]), static_cast<float>(points[2 * k + 1])};
        }
        TGrid frameGrid;
        ImageHandle newFrame = -1;
        const int32_t status = extractFrame(photo, grid, &newFrame, frameGrid, width, height);

        // A frame that the imaging library could not make at the requested
        // size (a crop beyond its limits) is a failure: free it, write nothing.
        int32_t frameWidth = 0;
        int32_t frameHeight = 0;
        bool frameMade = TAVO_GetImageWidth(newFrame, &frameWidth) == TAVOIMG_OK &&
                         TAVO_GetImageHeight(newFrame, &frameHeight) == TAVOIMG_OK &&
                         frameWidth == width && frameHeight == height;
        // Truncation toward zero, into a temporary first. Frame points
        // of a made frame lie near its pixels; the range check is a safety net.
        std::array<int32_t, 2 * kFeaturePointCount> truncated{};
        for (int k = 0; k < kFeaturePointCount && frameMade; ++k) {
            const TPointf point = frameGrid.points[static_cast<std::size_t>(k)];
            if (!(std::fabs(point.x) < 2147483648.0f && std::fabs(point.y) < 2147483648.0f)) {
                frameMade = false;
                break;
            }
            truncated[2 * k] = static_cast<int32_t>(point.x);
            truncated[2 * k + 1] = static_cast<int32_t>(point.y);
        }
        if (!frameMade) {
            TAVO_FreeImage(newFrame);
            return TAVO_ERR_GENERAL;
        }
        for (std::size_t i = 0; i < truncated.size(); ++i) framePoints[i] = truncated[i];
        *frame = newFrame;
        return status;
    } catch (...) {
        // Only the point grids allocate, before the photo is touched.
        return TAVO_ERR_GENERAL;
    }
}

}  // extern "C"
