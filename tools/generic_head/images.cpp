// The images of the data directory (see images.h).
#include "tools/generic_head/images.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "fitting/face_frame.h"
#include "fitting/grid.h"
#include "tavoimage.h"
#include "tools/generic_head/vec.h"

namespace kelmo::generic_head {

int32_t saveImage(const RgbaImage &image, const std::string &path, bool dropAlpha) {
    ImageHandle handle = -1;
    int32_t status;
    if (dropAlpha) {
        std::vector<uint8_t> rgb(std::size_t(image.width) * image.height * 3);
        for (std::size_t k = 0; k < std::size_t(image.width) * image.height; ++k)
            std::copy_n(&image.rgba[k * 4], 3, &rgb[k * 3]);
        status = TAVO_LoadImageFromBuffer(&handle, rgb.data(), image.width, image.height, image.width * 3,
                                          TAVO_IMAGEMODE_COLOR);
    } else {
        status = TAVO_LoadImageFromBuffer(&handle, image.rgba.data(), image.width, image.height, image.width * 4,
                                          TAVO_IMAGEMODE_COLOR_ALPHA);
    }
    if (status != TAVOIMG_OK) return status;
    status = TAVO_SaveImageToFile(handle, path.c_str());
    TAVO_FreeImage(handle);
    return status;
}

namespace {

struct P2 {
    double x, y;
};

// Signed distance to a closed polygon, positive inside.
double signedDistance(const std::vector<P2> &poly, P2 p) {
    double best = 1e18;
    bool inside = false;
    for (std::size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++) {
        const P2 a = poly[j], b = poly[i];
        const double ex = b.x - a.x, ey = b.y - a.y;
        const double t = clamp01(((p.x - a.x) * ex + (p.y - a.y) * ey) / (ex * ex + ey * ey));
        const double dx = a.x + ex * t - p.x, dy = a.y + ey * t - p.y;
        best = std::min(best, dx * dx + dy * dy);
        if ((a.y > p.y) != (b.y > p.y) && p.x < a.x + (p.y - a.y) * ex / ey) inside = !inside;
    }
    return inside ? std::sqrt(best) : -std::sqrt(best);
}

}  // namespace

RgbaImage makeAlphaMask(const std::array<TPointf, 66> &pt, int size) {
    // The face outline: the jaw outline from the right at eye level around
    // the chin to the left (feature points 2, 22, 5..13, 43, 44), closed over
    // the forehead by a half ellipse up to the hairline, which lies half the
    // brow-to-chin height above the brows.
    static constexpr int kOutline[] = {2, 22, 5, 6, 7, 8, 9, 10, 11, 12, 13, 43, 44};
    std::vector<P2> poly;
    for (int k : kOutline) poly.push_back({pt[k].x, pt[k].y});
    double browY = 1e9;
    for (int k = 14; k <= 24; ++k)
        if (k != 22) browY = std::min(browY, double(pt[k].y));
    const double chinY = pt[9].y;
    const double topY = browY - 0.5 * (chinY - browY);
    const P2 left = poly.front(), right = poly.back();
    const double cx = 0.5 * (left.x + right.x), hw = 0.5 * (right.x - left.x);
    const double baseY = 0.5 * (left.y + right.y);
    for (int k = 1; k < 24; ++k) {
        const double phi = std::numbers::pi * k / 24.0;  // from the left point over the top to the right
        poly.push_back({cx + hw * std::cos(phi), baseY - (baseY - topY) * std::sin(phi)});
    }
    // The mask fades out inside the outline, never beyond it: a photo's
    // background just outside the cheeks and the jaw would otherwise enter
    // the texture at partial weight and show as light streaks along the far
    // cheek of a turned head.
    const double feather = 0.1 * hw * 2.0;
    // The mask becomes the alpha of a texture cut by the same kind of face
    // frame, and rendering repeats the texture's border pixels wherever the
    // head reaches beyond the frame (creation from a photo clamps the texture
    // coordinates). So the mask is 0 along the frame's border: else
    // the crown and the neck of every rendered head show opaque smears of the
    // frame's top and bottom rows. It rises from 0 at 2 % of the frame inside
    // the border to 1 at 10 %, which keeps the brows and the chin opaque.
    int32_t boxX1 = 0, boxY1 = 0, boxX2 = 0, boxY2 = 0;
    kelmo::faceBox(kelmo::TGrid(std::vector<TPointf>(pt.begin(), pt.end())), boxX1, boxY1, boxX2, boxY2, size, size);
    const double boxSize = std::max(boxX2 - boxX1, boxY2 - boxY1);
    auto borderFade = [&](double x, double y) {
        const double inset = std::min(std::min(x - boxX1, boxX2 + 1 - x), std::min(y - boxY1, boxY2 + 1 - y));
        return smoothstep(0.02 * boxSize, 0.10 * boxSize, inset);
    };
    RgbaImage img;
    img.width = img.height = size;
    img.rgba.assign(std::size_t(size) * size * 4, 0);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double d = signedDistance(poly, {x + 0.5, y + 0.5});
            const uint8_t a = static_cast<uint8_t>(std::lround(
                255.0 * smoothstep(0.0, 0.8 * feather, d) * borderFade(x + 0.5, y + 0.5)));
            uint8_t *p = &img.rgba[(std::size_t(y) * size + x) * 4];
            // The colour repeats the mask so that the file shows it in any viewer.
            p[0] = p[1] = p[2] = p[3] = a;
        }
    }
    return img;
}

std::string alphaGridText(const std::array<TPointf, 66> &points) {
    std::string text = "66\n";
    char line[64];
    for (const TPointf &p : points) {
        std::snprintf(line, sizeof line, "%.2f %.2f\n", p.x, p.y);
        text += line;
    }
    return text;
}

RgbaImage makeSockImage(const std::array<TPointf, 66> &pt, int size) {
    // Creation from a photo projects the sock's texture coordinates like the
    // face's when the teeth take the photo (the default), so the image is
    // painted in the face frame's pixels: the mouth of the generic head's
    // frame, found as the alpha mask's frame is, with the throat darkest at
    // the middle of the opening, the walls a deep red around it and the
    // tongue filling the lower half.
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    kelmo::faceBox(kelmo::TGrid(std::vector<TPointf>(pt.begin(), pt.end())), x1, y1, x2, y2, size, size);
    const double scale = double(kSockSize) / std::max(x2 - x1, y2 - y1);
    auto frame = [&](const TPointf &p) { return std::array<double, 2>{(p.x - x1) * scale, (p.y - y1) * scale}; };
    const auto upper = frame(pt[61]), lower = frame(pt[64]), right = frame(pt[3]), left = frame(pt[4]);
    const double cx = 0.5 * (upper[0] + lower[0]), cy = 0.5 * (upper[1] + lower[1]);
    const double half = 0.5 * std::abs(left[0] - right[0]);
    RgbaImage img;
    img.width = img.height = kSockSize;
    img.rgba.assign(std::size_t(img.width) * img.height * 4, 255);
    for (int y = 0; y < img.height; ++y) {
        for (int x = 0; x < img.width; ++x) {
            const double dx = (x + 0.5 - cx) / half, dy = (y + 0.5 - cy) / half;
            // Walls: from the throat (d = 0) to the cheeks' inside (d >= 1).
            const double d = std::min(1.0, std::sqrt(dx * dx + 2.5 * dy * dy));
            const double t = smoothstep(0.0, 1.0, d);
            double r = lerp(38.0, 150.0, t), g = lerp(8.0, 52.0, t), b = lerp(12.0, 58.0, t);
            // The tongue: an oval below the middle, lit toward its tip (the
            // front, lower in the picture), its back in the throat's shade.
            const double tongue = smoothstep(1.0, 0.8, std::hypot(dx / 0.72, (dy - 0.42) / 0.36));
            const double lit = smoothstep(0.1, 0.7, dy);
            r = lerp(r, lerp(120.0, 190.0, lit), tongue);
            g = lerp(g, lerp(45.0, 86.0, lit), tongue);
            b = lerp(b, lerp(52.0, 92.0, lit), tongue);
            uint8_t *p = &img.rgba[(std::size_t(y) * img.width + x) * 4];
            p[0] = static_cast<uint8_t>(std::lround(r));
            p[1] = static_cast<uint8_t>(std::lround(g));
            p[2] = static_cast<uint8_t>(std::lround(b));
        }
    }
    return img;
}

}  // namespace kelmo::generic_head
