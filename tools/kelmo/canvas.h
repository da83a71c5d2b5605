// A small RGBA drawing surface for the pictures the tool composes: the
// numbered landmarks on a photo, turntable and morph strips, the demo's
// contact sheet. Pixels are R, G, B, A bytes, packed rows, top row first
// (tavoimage's mode 2).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/kelmo/session.h"

namespace kelmo::cli {

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 255;
};

class Canvas {
public:
    Canvas() = default;
    Canvas(int width, int height, Rgba fill);
    static Canvas fromImage(const Image &image);
    Image toImage() const;

    int width() const { return width_; }
    int height() const { return height_; }
    const std::vector<uint8_t> &pixels() const { return pixels_; }
    Rgba at(int x, int y) const;

    // Writes one pixel (ignored outside the canvas), blended by colour.a.
    void plot(int x, int y, Rgba colour);
    void fillRect(int x, int y, int w, int h, Rgba colour);
    void fillCircle(int cx, int cy, int radius, Rgba colour);
    // Draws `source` with its top-left corner at (x, y), blended by its
    // alpha when `blend` (a transparent render background shows the canvas),
    // copied otherwise. Parts outside the canvas are cut off.
    void draw(const Canvas &source, int x, int y, bool blend);
    // Text in a 5 x 7 pixel font scaled by `scale` (digits, letters A-Z in
    // either case, space and - . : / = ( ) , %); other characters are blanks.
    void drawText(int x, int y, const std::string &text, Rgba colour, int scale);
    static int textWidth(const std::string &text, int scale) { return static_cast<int>(text.size()) * 6 * scale; }
    static int textHeight(int scale) { return 7 * scale; }

    // A copy scaled by one ratio to fit inside maxWidth x maxHeight (never
    // enlarged beyond `maxEnlarge`), with tavoimage's resize (box filter when
    // shrinking).
    Canvas fitted(int maxWidth, int maxHeight, double maxEnlarge = 1.0) const;

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<uint8_t> pixels_;
};

// Side by side, left to right, on a transparent background, each centred
// vertically.
Canvas horizontalStrip(const std::vector<Canvas> &pictures);

}  // namespace kelmo::cli
