// VRML model import: TAVO_LoadModelVRML (include/kelmo.h) replaces
// a model's mesh with a head exported as a VRML 97 text file in a fixed layout
// of six shapes, keeping of region 0 only the quads that the visibility file
// marks visible and 52 fixed quads.
//
// The reader does not parse VRML: it follows the bracketed lists of the
// exporter's fixed layout line by line, quirks included (docs/design.md): a
// line buffer and a test line; the first line after a list's opening line is
// always converted; the texture points list is tested against the last
// remembered line holding "file".
// Everything is read into a working model; the target changes only when the
// whole import succeeded.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/model.h"

namespace kelmo {

// The fixed layout of the import.
inline constexpr const char *kVisibilityFilePath = "C:\\orvane\\VisibleMeshes.vsl";
inline constexpr std::size_t kVrmlShapeCount = 6;
// The region that shape k fills.
inline constexpr std::array<std::size_t, kVrmlShapeCount> kVrmlShapeRegions = {1, 2, 0, 5, 4, 3};
inline constexpr std::size_t kVrmlMaxListEntries = 7000;
inline constexpr std::size_t kVrmlMaxLineLength = 1023;  // characters, without the line end
inline constexpr std::size_t kVisibilityMaxBytes = 10000;
// The scale of every coordinate (the float nearest 0.03) and the tilt of the
// whole head about x (radians) that put the exported head into model units and
// pose.
inline constexpr float kVrmlScale = 0.03f;
inline constexpr float kVrmlTilt = -0.4f;
// The 52 quads of region 0 that are always kept, in this order.
inline constexpr std::array<int32_t, 52> kVrmlFixedQuads = {
    5183, 5479, 5480, 1101, 4635, 4577, 1081, 3925, 3926, 4638, 4639, 4462, 4463, 2602, 2603, 2780, 2781, 2060,
    2061, 455,  2716, 2778, 475,  3326, 3619, 3618, 3325, 757,  3617, 2776, 2777, 2717, 2718, 2062, 232,  476,
    2779, 2604, 417,  1043, 4461, 4640, 1102, 860,  3924, 4575, 4576, 4636, 4637, 5481, 1384, 5184};

// Why an import failed (TAVO_LoadModelVRML returns -1 for every one of them).
enum class VrmlStatus {
    ok,
    cannotOpen,          // the VRML file cannot be opened
    endsEarly,           // the file ends before the 24 lists of the six shapes
    lineTooLong,         // a line of more than 1023 characters
    listTooLong,         // a list of more than 7000 entries
    visibilityMissing,   // the visibility file cannot be opened
    visibilityTooLong,   // the visibility file holds more than 10000 bytes
    badIndex,            // an index that does not fit 32 bits, a quad corner outside its region, texture
                         // quads not one per quad (regions 1 to 5), or region 0 with fewer texture points
                         // than points
};

// Reads the VRML file at `path` and the
// visibility file into six regions (scaled by 0.03 and tilted by -0.4 radians
// about x) and the visibility flags of region 0's quads (one per quad; quads
// beyond the end of the visibility file are hidden). Fields that a line's
// conversion does not fill are 0. On failure the outputs are unspecified. May
// throw std::bad_alloc.
VrmlStatus readVrmlHead(const std::string &path, std::vector<TRegion> &regions, std::vector<uint8_t> &visibleQuads);

// Region 0 reduced to the quads flagged visible and
// the fixed quads, its vertices renumbered (used vertices in increasing order,
// then the fixed quads' further corners in list order), its texture
// coordinates taken by vertex index and its texture quads equal to its quads.
// Fixed quad indices not below the region's quad count are skipped. Needs every
// quad corner below the vertex count and at least as many texture coordinates
// as vertices (readVrmlHead checks both). May throw std::bad_alloc.
TRegion compactHeadRegion(const TRegion &head, std::vector<uint8_t> visibleQuads);

// The whole import without the target: the six regions that the target
// takes, region 0 compacted, 1 to 5 as read. May throw std::bad_alloc.
VrmlStatus importVrml(const std::string &path, std::vector<TRegion> &regions);

}  // namespace kelmo
