// The images of the data directory: the alpha mask "alpha.png" with its
// landmark file "alpha.grd", the teeth images and the
// head-sock image; written through the project's imaging library tavoimage.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "kelmo.h"

namespace kelmo::generic_head {

// Four bytes per pixel, R, G, B, A, rows top first.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
};

// Writes an image through tavoimage: ".png" keeps the alpha channel; with
// `dropAlpha` the image is written as three-channel colour (the 24-bit BMP
// of "wrl\head_sock.bmp"). Returns 0 or tavoimage's status.
int32_t saveImage(const RgbaImage &image, const std::string &path, bool dropAlpha = false);

// The alpha mask: a picture of the generic head's face region seen by the
// default camera at `size` x `size` pixels, opaque from forehead
// to chin and cheek to cheek, fading smoothly to 0 outside; `points` are the
// 66 landmarks in that picture's pixels (x right, y down).
RgbaImage makeAlphaMask(const std::array<TPointf, 66> &points, int size);

// "alpha.grd": the count, then the 66 points, x then y.
std::string alphaGridText(const std::array<TPointf, 66> &points);

// The inside of the mouth, "wrl\head_sock.bmp" (kSockSize square, the face
// frame's size): a dark-red throat and a tongue, placed where the face frame
// shows the generic head's mouth; `points` and `size` as for makeAlphaMask.
constexpr int kSockSize = 256;
RgbaImage makeSockImage(const std::array<TPointf, 66> &points, int size);

}  // namespace kelmo::generic_head
