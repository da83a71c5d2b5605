// The preview renderer (see preview.h).
#include "tools/generic_head/preview.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>

#include "tavoimage.h"

namespace kelmo::generic_head {
namespace {

constexpr int kSupersample = 2;

struct Camera {
    Vec3 right, up, forward;  // forward points from the camera toward the head
    Vec3 eye;
    double focal;             // pixels per unit at distance 1
    double cx, cy;
};

Camera makeCamera(const PreviewView &view, int size) {
    const double yaw = view.yawDegrees * std::numbers::pi / 180.0;
    const double pitch = view.pitchDegrees * std::numbers::pi / 180.0;
    // The camera orbits the point the library's default camera looks at
    // (Part 4.1: model point (0, -0.15, 0) is the centre of the view).
    const Vec3 target{0.0, -0.15, 0.0};
    const Vec3 toCamera{std::sin(yaw) * std::cos(pitch), std::sin(pitch), std::cos(yaw) * std::cos(pitch)};
    const double distance = view.distance;
    Camera c;
    c.eye = target + toCamera * distance;
    c.forward = normalized(target - c.eye);
    c.right = normalized(cross(c.forward, Vec3{0.0, 1.0, 0.0}));
    c.up = cross(c.right, c.forward);
    // Visible half-height 3.5 units at the target, as the library's camera.
    c.focal = (size * 0.5) * distance / 3.5;
    c.cx = size * 0.5;
    c.cy = size * 0.5;
    return c;
}

struct Projected {
    double x, y, depth;
};

Projected project(const Camera &c, Vec3 p) {
    const Vec3 d = p - c.eye;
    const double z = dot(d, c.forward);
    return {c.cx + c.focal * dot(d, c.right) / z, c.cy - c.focal * dot(d, c.up) / z, z};
}

std::vector<Vec3> vertexNormals(const PreviewMesh &m) {
    std::vector<Vec3> n(m.positions.size());
    for (const Quad &q : m.quads) {
        const Vec3 a = m.positions[q[0]], b = m.positions[q[1]], c = m.positions[q[2]], d = m.positions[q[3]];
        const Vec3 normal = cross(c - a, d - b);  // area-weighted quad normal
        for (int k = 0; k < 4; ++k) n[q[k]] += normal;
    }
    for (Vec3 &v : n) v = normalized(v);
    return n;
}

struct Buffers {
    int w, h;
    std::vector<double> depth;
    std::vector<RGB> colour;
    std::vector<int> layer;  // -1 empty, 0 face, 1 cavity, 2 interior
};

RGB shade(const RGB &base, Vec3 normal, Vec3 viewDir, bool shaded) {
    if (!shaded) return base;
    // Key light from the upper left front, a weaker fill from the right, sky ambient.
    const Vec3 key = normalized(Vec3{-0.45, 0.55, 0.75});
    const Vec3 fill = normalized(Vec3{0.7, 0.1, 0.5});
    const double ambient = 0.30 + 0.08 * normal.y;
    const double diffuse = 0.78 * std::max(0.0, dot(normal, key)) + 0.22 * std::max(0.0, dot(normal, fill));
    const Vec3 half = normalized(key - viewDir);
    const double spec = 0.10 * std::pow(std::max(0.0, dot(normal, half)), 24.0);
    const double l = ambient + diffuse;
    return {base.r * l + spec, base.g * l + spec, base.b * l + spec};
}

void drawMesh(Buffers &buf, const Camera &cam, const PreviewMesh &m, int layerId) {
    const std::vector<Vec3> normals = vertexNormals(m);
    std::vector<Projected> pr(m.positions.size());
    for (std::size_t i = 0; i < m.positions.size(); ++i) pr[i] = project(cam, m.positions[i]);
    auto triangle = [&](int i0, int i1, int i2) {
        const Projected &a = pr[i0], &b = pr[i1], &c = pr[i2];
        const double area = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
        if (std::abs(area) < 1e-12) return;
        const int x0 = std::max(0, static_cast<int>(std::floor(std::min({a.x, b.x, c.x}))));
        const int x1 = std::min(buf.w - 1, static_cast<int>(std::ceil(std::max({a.x, b.x, c.x}))));
        const int y0 = std::max(0, static_cast<int>(std::floor(std::min({a.y, b.y, c.y}))));
        const int y1 = std::min(buf.h - 1, static_cast<int>(std::ceil(std::max({a.y, b.y, c.y}))));
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                const double px = x + 0.5, py = y + 0.5;
                double w0 = ((b.x - px) * (c.y - py) - (c.x - px) * (b.y - py)) / area;
                double w1 = ((c.x - px) * (a.y - py) - (a.x - px) * (c.y - py)) / area;
                double w2 = 1.0 - w0 - w1;
                if (w0 < 0 || w1 < 0 || w2 < 0) continue;
                // Perspective-correct weights.
                const double iz = w0 / a.depth + w1 / b.depth + w2 / c.depth;
                const double depth = 1.0 / iz;
                const std::size_t k = static_cast<std::size_t>(y) * buf.w + x;
                if (depth >= buf.depth[k]) continue;
                w0 = w0 / a.depth * depth;
                w1 = w1 / b.depth * depth;
                w2 = w2 / c.depth * depth;
                buf.depth[k] = depth;
                buf.layer[k] = layerId;
                if (layerId == 1) continue;
                Vec3 n = normalized(normals[i0] * w0 + normals[i1] * w1 + normals[i2] * w2);
                const Vec3 p = m.positions[i0] * w0 + m.positions[i1] * w1 + m.positions[i2] * w2;
                const Vec3 viewDir = normalized(p - cam.eye);
                if (dot(n, viewDir) > 0.0) n = n * -1.0;  // inside of a surface: light it as seen
                RGB base;
                double alpha = 1.0;
                if (m.colourAt) {
                    base = m.colourAt(p);
                } else if (m.texture != nullptr) {
                    const TexCoord &t0 = m.texCoords[i0], &t1 = m.texCoords[i1], &t2 = m.texCoords[i2];
                    const double u = t0.u * w0 + t1.u * w1 + t2.u * w2;
                    const double v = t0.v * w0 + t1.v * w1 + t2.v * w2;
                    const RgbaImage &tex = *m.texture;
                    // v grows upwards (Part 4.2, texel rows).
                    const int tx = std::clamp(static_cast<int>(u * tex.width), 0, tex.width - 1);
                    const int ty = std::clamp(static_cast<int>((1.0 - v) * tex.height), 0, tex.height - 1);
                    const uint8_t *texel = &tex.rgba[(std::size_t(ty) * tex.width + tx) * 4];
                    base = {texel[0] / 255.0, texel[1] / 255.0, texel[2] / 255.0};
                    alpha = texel[3] / 255.0;
                } else {
                    const RGB &c0 = m.colours[i0], &c1 = m.colours[i1], &c2 = m.colours[i2];
                    base = {c0.r * w0 + c1.r * w1 + c2.r * w2, c0.g * w0 + c1.g * w1 + c2.g * w2,
                            c0.b * w0 + c1.b * w1 + c2.b * w2};
                }
                const RGB lit = shade(base, n, viewDir, m.shaded);
                const RGB old = buf.colour[k];
                buf.colour[k] = {lit.r * alpha + old.r * (1.0 - alpha), lit.g * alpha + old.g * (1.0 - alpha),
                                 lit.b * alpha + old.b * (1.0 - alpha)};
            }
        }
    };
    for (const Quad &q : m.quads) {
        triangle(q[0], q[1], q[2]);
        triangle(q[2], q[3], q[0]);
    }
}

Buffers makeBuffers(int w, int h) {
    return {w, h, std::vector<double>(std::size_t(w) * h, std::numeric_limits<double>::infinity()),
            std::vector<RGB>(std::size_t(w) * h), std::vector<int>(std::size_t(w) * h, -1)};
}

}  // namespace

TPointf projectPreview(const PreviewView &view, Vec3 p) {
    const Camera cam = makeCamera(view, view.size);
    const Projected q = project(cam, p);
    return {static_cast<float>(q.x), static_cast<float>(q.y)};
}

Picture renderPreview(const std::vector<PreviewMesh> &face, const PreviewMesh &cavity,
                      const std::vector<PreviewMesh> &interior, const PreviewView &view) {
    const int size = view.size * kSupersample;
    const Camera cam = makeCamera(view, size);
    Buffers front = makeBuffers(size, size);
    drawMesh(front, cam, cavity, 1);
    for (const PreviewMesh &m : face) drawMesh(front, cam, m, 0);
    Buffers inner = makeBuffers(size, size);
    for (const PreviewMesh &m : interior) {
        // Like the library's inner pass: each interior part is drawn over the
        // previous ones (depth reset between them).
        std::fill(inner.depth.begin(), inner.depth.end(), std::numeric_limits<double>::infinity());
        drawMesh(inner, cam, m, 2);
    }
    Picture pic;
    pic.width = view.size;
    pic.height = view.size;
    pic.rgb.assign(std::size_t(view.size) * view.size * 3, 0);
    const RGB background{0.93, 0.94, 0.96};
    for (int y = 0; y < view.size; ++y) {
        for (int x = 0; x < view.size; ++x) {
            RGB sum{};
            for (int sy = 0; sy < kSupersample; ++sy) {
                for (int sx = 0; sx < kSupersample; ++sx) {
                    const std::size_t k = std::size_t(y * kSupersample + sy) * size + (x * kSupersample + sx);
                    RGB c = background;
                    if (front.layer[k] == 0) {
                        c = front.colour[k];
                    } else if (front.layer[k] == 1) {
                        c = inner.layer[k] >= 0 ? inner.colour[k] : RGB{0.05, 0.02, 0.02};
                    }
                    sum.r += c.r;
                    sum.g += c.g;
                    sum.b += c.b;
                }
            }
            const double n = kSupersample * kSupersample;
            const std::size_t o = (std::size_t(y) * view.size + x) * 3;
            pic.rgb[o + 0] = static_cast<uint8_t>(std::clamp(sum.r / n, 0.0, 1.0) * 255.0 + 0.5);
            pic.rgb[o + 1] = static_cast<uint8_t>(std::clamp(sum.g / n, 0.0, 1.0) * 255.0 + 0.5);
            pic.rgb[o + 2] = static_cast<uint8_t>(std::clamp(sum.b / n, 0.0, 1.0) * 255.0 + 0.5);
        }
    }
    return pic;
}

namespace {
// 3 x 5 digit glyphs, one row per string, '#' set.
constexpr const char *kDigits[10][5] = {
    {"###", "#.#", "#.#", "#.#", "###"}, {".#.", "##.", ".#.", ".#.", "###"}, {"###", "..#", "###", "#..", "###"},
    {"###", "..#", "###", "..#", "###"}, {"#.#", "#.#", "###", "..#", "..#"}, {"###", "#..", "###", "..#", "###"},
    {"###", "#..", "###", "#.#", "###"}, {"###", "..#", ".#.", ".#.", ".#."}, {"###", "#.#", "###", "#.#", "###"},
    {"###", "#.#", "###", "..#", "###"}};

void setPixel(Picture &p, int x, int y, RGB c) {
    if (x < 0 || y < 0 || x >= p.width || y >= p.height) return;
    uint8_t *o = &p.rgb[(std::size_t(y) * p.width + x) * 3];
    o[0] = static_cast<uint8_t>(std::clamp(c.r, 0.0, 1.0) * 255.0 + 0.5);
    o[1] = static_cast<uint8_t>(std::clamp(c.g, 0.0, 1.0) * 255.0 + 0.5);
    o[2] = static_cast<uint8_t>(std::clamp(c.b, 0.0, 1.0) * 255.0 + 0.5);
}
}  // namespace

void drawMarker(Picture &picture, TPointf at, RGB colour, int label) {
    const int cx = static_cast<int>(std::lround(at.x)), cy = static_cast<int>(std::lround(at.y));
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            if (dx * dx + dy * dy <= 5) setPixel(picture, cx + dx, cy + dy, colour);
    if (label < 0) return;
    const std::string text = std::to_string(label);
    const int x0 = cx + 4, y0 = cy - 2;
    // A light halo first, then the glyphs.
    for (std::size_t i = 0; i < text.size(); ++i)
        for (int r = 0; r < 5; ++r)
            for (int col = 0; col < 3; ++col)
                if (kDigits[text[i] - '0'][r][col] == '#')
                    for (int hy = -1; hy <= 1; ++hy)
                        for (int hx = -1; hx <= 1; ++hx)
                            setPixel(picture, x0 + int(i) * 4 + col + hx, y0 + r + hy, RGB{1.0, 1.0, 1.0});
    for (std::size_t i = 0; i < text.size(); ++i)
        for (int r = 0; r < 5; ++r)
            for (int col = 0; col < 3; ++col)
                if (kDigits[text[i] - '0'][r][col] == '#') setPixel(picture, x0 + int(i) * 4 + col, y0 + r, RGB{0.0, 0.0, 0.0});
}

Picture besideEachOther(const std::vector<Picture> &pictures) {
    Picture out;
    for (const Picture &p : pictures) {
        out.width += p.width;
        out.height = std::max(out.height, p.height);
    }
    out.rgb.assign(std::size_t(out.width) * out.height * 3, 255);
    int x0 = 0;
    for (const Picture &p : pictures) {
        for (int y = 0; y < p.height; ++y)
            std::copy_n(&p.rgb[std::size_t(y) * p.width * 3], std::size_t(p.width) * 3,
                        &out.rgb[(std::size_t(y) * out.width + x0) * 3]);
        x0 += p.width;
    }
    return out;
}

int32_t savePicture(const Picture &picture, const std::string &path) {
    ImageHandle image = -1;
    int32_t status = TAVO_LoadImageFromBuffer(&image, picture.rgb.data(), picture.width, picture.height,
                                              picture.width * 3, TAVO_IMAGEMODE_COLOR);
    if (status != TAVOIMG_OK) return status;
    status = TAVO_SaveImageToFile(image, path.c_str());
    TAVO_FreeImage(image);
    return status;
}

}  // namespace kelmo::generic_head
