// Alpha channel of textures: the shared alpha mask reduced to a
// 256 x 256 face frame, its warp into a texture's fourth byte, and the
// placement of an image on a larger canvas. The exports are declared in
// include/kelmo.h; this header holds the limits shared with initialisation.
#pragma once

#include <cstdint>

namespace kelmo {

// The ".grd" file: the alpha grid holds 66 pairs; extractFrame needs at
// least points 0 and 1 (the eye centres), so a usable grid has 2 to 66
// points.
inline constexpr int32_t kAlphaGridMinCount = 2;
inline constexpr int32_t kAlphaGridMaxCount = 66;

// The alpha mask is reduced to a frame of this size, the size of a texture
// made from a photo.
inline constexpr int32_t kAlphaFrameSize = 256;

}  // namespace kelmo
