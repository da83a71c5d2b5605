// A whole head instead of a floating face: the texture outside the face's
// alpha mask is completed with the face's own skin tone, so that the crown,
// the sides, the ears and the neck of the generic head, which the planar
// texture projection maps onto the frame's background or clamps to its
// border, show skin.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace kelmo::cli {

struct SkinTone {
    double r = 0.0, g = 0.0, b = 0.0;
};

// The skin tone of a face texture (RGBA, rows top first, the mask in the
// fourth byte) from its 66 feature points (texture pixels): the mean colour of
// the two cheeks, joined by the forehead's pixels that lie near the cheeks'
// colour (hair over the forehead is left out). Only fully opaque pixels
// count. Returns the cheeks' mean alone when the forehead adds nothing, and
// a neutral skin colour when no cheek pixel is usable.
SkinTone estimateSkinTone(const std::vector<uint8_t> &rgba, int width, int height,
                          const std::array<std::array<double, 2>, 66> &points);

// Blends every pixel toward `tone` by the mask's transparency (the mask's
// feathered border becomes a smooth seam) and makes the texture opaque; the
// pixels along the texture's border become the tone itself, rising to the
// texture over 7 pixels inside it.
void completeWithSkin(std::vector<uint8_t> &rgba, int width, int height, SkinTone tone);

// Both steps on a model created from a photo (its texture and face grid,
// through the TAVO_ interface). Throws CliError when the library refuses.
void completeModelHead(int32_t model);

}  // namespace kelmo::cli
