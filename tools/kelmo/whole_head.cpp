// The whole-head texture completion (see whole_head.h).
#include "tools/kelmo/whole_head.h"

#include <algorithm>
#include <cmath>

#include "kelmo.h"
#include "tools/kelmo/cli.h"
#include "tools/kelmo/session.h"

namespace kelmo::cli {

namespace {

using Point = std::array<double, 2>;

Point mix3(const Point &a, const Point &b, const Point &c) {
    return {(a[0] + b[0] + c[0]) / 3.0, (a[1] + b[1] + c[1]) / 3.0};
}

struct Sum {
    double r = 0.0, g = 0.0, b = 0.0;
    long n = 0;
    void add(const uint8_t *p) { r += p[0], g += p[1], b += p[2], ++n; }
    SkinTone mean() const { return {r / n, g / n, b / n}; }
};

// Calls f(pixel) for every fully opaque pixel within `radius` of `centre`.
template <typename F>
void forDisc(const std::vector<uint8_t> &rgba, int width, int height, Point centre, double radius, F f) {
    const int x1 = std::max(0, int(std::floor(centre[0] - radius))), x2 = std::min(width - 1, int(centre[0] + radius));
    const int y1 = std::max(0, int(std::floor(centre[1] - radius))), y2 = std::min(height - 1, int(centre[1] + radius));
    for (int y = y1; y <= y2; ++y)
        for (int x = x1; x <= x2; ++x) {
            const double dx = x + 0.5 - centre[0], dy = y + 0.5 - centre[1];
            const uint8_t *p = &rgba[(std::size_t(y) * width + x) * 4];
            if (dx * dx + dy * dy <= radius * radius && p[3] == 255) f(p);
        }
}

}  // namespace

SkinTone estimateSkinTone(const std::vector<uint8_t> &rgba, int width, int height,
                          const std::array<Point, 66> &pt) {
    // Sizes in units of the eye distance, so that they follow the face's scale.
    const double eyes = std::hypot(pt[1][0] - pt[0][0], pt[1][1] - pt[0][1]);
    // Each cheek lies between the outer third of the lower lid, the mouth
    // corner and the jaw outline at the mouth: no brow, nostril or lip there.
    const Point cheeks[2] = {mix3(pt[41], pt[3], pt[6]), mix3(pt[48], pt[4], pt[12])};
    Sum cheek;
    for (const Point &c : cheeks) forDisc(rgba, width, height, c, 0.18 * eyes, [&](const uint8_t *p) { cheek.add(p); });
    if (cheek.n == 0) return {224.0, 178.0, 150.0};
    const SkinTone c = cheek.mean();
    // The forehead: above the inner ends of the brows by half the eye
    // distance. Bangs, a hat or a shadow there differ from the cheeks and
    // stay out.
    const Point brows = {0.5 * (pt[18][0] + pt[19][0]), 0.5 * (pt[18][1] + pt[19][1])};
    Sum all = cheek;
    forDisc(rgba, width, height, {brows[0], brows[1] - 0.5 * eyes}, 0.25 * eyes, [&](const uint8_t *p) {
        if (std::abs(p[0] - c.r) + std::abs(p[1] - c.g) + std::abs(p[2] - c.b) < 45.0) all.add(p);
    });
    return all.mean();
}

void completeWithSkin(std::vector<uint8_t> &rgba, int width, int height, SkinTone tone) {
    const double t[3] = {tone.r, tone.g, tone.b};
    for (std::size_t k = 0; k + 3 < rgba.size(); k += 4) {
        // Rendering repeats the border pixels over the crown, the sides and
        // the neck (texture coordinates are clamped): the outermost pixels
        // are pure skin whatever the warped mask left there, so that those
        // parts show no streaks.
        const int x = int(k / 4 % std::size_t(width)), y = int(k / 4 / std::size_t(width));
        const int inset = std::min(std::min(x, width - 1 - x), std::min(y, height - 1 - y));
        const double a = rgba[k + 3] / 255.0 * std::clamp((inset - 1) / 6.0, 0.0, 1.0);
        for (int c = 0; c < 3; ++c) rgba[k + c] = uint8_t(std::lround(rgba[k + c] * a + t[c] * (1.0 - a)));
        rgba[k + 3] = 255;
    }
}

void completeModelHead(int32_t model) {
    Image texture;
    check(TAVO_GetModelTexture(model, texture.handle()), "cannot read the model's texture");
    int32_t grid[132] = {};
    check(TAVO_GetModelGrid(model, grid), "cannot read the model's face grid");
    std::array<Point, 66> points{};
    for (int i = 0; i < 66; ++i) points[i] = {grid[2 * i] + 0.5, grid[2 * i + 1] + 0.5};
    const int w = texture.width(), h = texture.height();
    std::vector<uint8_t> rgba = texture.pixels(TAVO_IMAGEMODE_COLOR_ALPHA);
    completeWithSkin(rgba, w, h, estimateSkinTone(rgba, w, h, points));
    const Image completed = Image::fromPixels(rgba, w, h, TAVO_IMAGEMODE_COLOR_ALPHA);
    check(TAVO_SetModelTexture(model, completed.handle()), "cannot set the model's texture");
}

}  // namespace kelmo::cli
