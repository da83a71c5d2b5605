// Writing the data directory that TAVO_InitKelmo reads, from the generic head.
#pragma once

#include <string>

#include "tools/generic_head/generic_head.h"

namespace kelmo::generic_head {

// Size of the alpha mask picture (pixels, square).
inline constexpr int kAlphaMaskSize = 512;

// The 66 landmarks of expression mesh `expression` seen by the library's
// default camera in a picture of size x size pixels (x right, y down).
std::array<TPointf, kLandmarkCount> projectedLandmarks(const GenericHead &head, int expression, int size);

// Writes every file that TAVO_InitKelmo reads into `directory` (which ends with a
// separator; "wrl/" is created), and the morph files into "morphs/".
// Throws std::runtime_error naming the file that could not be written.
void writeDataDirectory(const GenericHead &head, const std::string &directory);

}  // namespace kelmo::generic_head
