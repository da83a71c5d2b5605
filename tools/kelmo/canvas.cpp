// A small RGBA drawing surface (see canvas.h).
#include "tools/kelmo/canvas.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>

namespace kelmo::cli {

Canvas::Canvas(int width, int height, Rgba fill)
    : width_(std::max(0, width)), height_(std::max(0, height)),
      pixels_(static_cast<std::size_t>(width_) * height_ * 4) {
    for (std::size_t k = 0; k < pixels_.size(); k += 4) {
        pixels_[k] = fill.r;
        pixels_[k + 1] = fill.g;
        pixels_[k + 2] = fill.b;
        pixels_[k + 3] = fill.a;
    }
}

Canvas Canvas::fromImage(const Image &image) {
    Canvas c;
    c.width_ = image.width();
    c.height_ = image.height();
    c.pixels_ = image.pixels(TAVO_IMAGEMODE_COLOR_ALPHA);
    return c;
}

Image Canvas::toImage() const { return Image::fromPixels(pixels_, width_, height_, TAVO_IMAGEMODE_COLOR_ALPHA); }

Rgba Canvas::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return {0, 0, 0, 0};
    const std::size_t k = (static_cast<std::size_t>(y) * width_ + x) * 4;
    return {pixels_[k], pixels_[k + 1], pixels_[k + 2], pixels_[k + 3]};
}

void Canvas::plot(int x, int y, Rgba c) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    uint8_t *p = pixels_.data() + (static_cast<std::size_t>(y) * width_ + x) * 4;
    if (c.a == 255) {
        p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = 255;
        return;
    }
    // "Over" compositing of straight (non-premultiplied) colours.
    const int a = c.a, inv = 255 - c.a;
    const int outA = a + p[3] * inv / 255;
    if (outA == 0) return;
    const uint8_t src[3] = {c.r, c.g, c.b};
    for (int ch = 0; ch < 3; ++ch)
        p[ch] = static_cast<uint8_t>((src[ch] * a + p[ch] * p[3] * inv / 255 + outA / 2) / outA);
    p[3] = static_cast<uint8_t>(outA);
}

void Canvas::fillRect(int x, int y, int w, int h, Rgba colour) {
    for (int yy = std::max(0, y); yy < std::min(height_, y + h); ++yy)
        for (int xx = std::max(0, x); xx < std::min(width_, x + w); ++xx) plot(xx, yy, colour);
}

void Canvas::fillCircle(int cx, int cy, int radius, Rgba colour) {
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx)
            if (dx * dx + dy * dy <= radius * radius + radius) plot(cx + dx, cy + dy, colour);
}

void Canvas::draw(const Canvas &source, int x, int y, bool blend) {
    for (int sy = 0; sy < source.height_; ++sy) {
        const int ty = y + sy;
        if (ty < 0 || ty >= height_) continue;
        for (int sx = 0; sx < source.width_; ++sx) {
            const int tx = x + sx;
            if (tx < 0 || tx >= width_) continue;
            const Rgba c = source.at(sx, sy);
            if (blend) {
                if (c.a != 0) plot(tx, ty, c);
            } else {
                uint8_t *p = pixels_.data() + (static_cast<std::size_t>(ty) * width_ + tx) * 4;
                p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = c.a;
            }
        }
    }
}

namespace {

// 5 x 7 glyphs, one byte per row, bit 4 the leftmost column.
struct Glyph {
    char c;
    std::array<uint8_t, 7> rows;
};
const Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}}, {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}}, {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}}, {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}}, {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}}, {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}},
    {'=', {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00}}, {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}},
    {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}}, {',', {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}},
    {'%', {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}}, {'+', {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}},
};

const Glyph *glyphOf(char c) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const Glyph &g : kGlyphs)
        if (g.c == upper) return &g;
    return nullptr;
}

}  // namespace

void Canvas::drawText(int x, int y, const std::string &text, Rgba colour, int scale) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const Glyph *g = glyphOf(text[i]);
        if (g == nullptr) continue;
        const int left = x + static_cast<int>(i) * 6 * scale;
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (g->rows[static_cast<std::size_t>(row)] & (0x10 >> col))
                    fillRect(left + col * scale, y + row * scale, scale, scale, colour);
    }
}

Canvas Canvas::fitted(int maxWidth, int maxHeight, double maxEnlarge) const {
    if (width_ == 0 || height_ == 0) return *this;
    const double ratio = std::min({static_cast<double>(maxWidth) / width_,
                                   static_cast<double>(maxHeight) / height_, maxEnlarge});
    if (ratio == 1.0) return *this;
    Image source = toImage();
    Image scaled;
    check(TAVO_ResizeImage(source.handle(), ratio, scaled.handle()), "cannot scale a picture");
    return fromImage(scaled);
}

Canvas horizontalStrip(const std::vector<Canvas> &pictures) {
    int width = 0, height = 0;
    for (const Canvas &p : pictures) {
        width += p.width();
        height = std::max(height, p.height());
    }
    Canvas strip(width, height, {0, 0, 0, 0});
    int x = 0;
    for (const Canvas &p : pictures) {
        strip.draw(p, x, (height - p.height()) / 2, false);
        x += p.width();
    }
    return strip;
}

}  // namespace kelmo::cli
