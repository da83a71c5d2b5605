// Face model files: the binary face format of the expression
// meshes, the landmark table ("grd66.txt") and the list7 table ("list7.txt").
//
// All readers are strict: they parse into temporaries and change their target
// only when the whole file was read and found valid. They may throw
// std::bad_alloc (every allocation is bounded by the limits below); the target
// is then unchanged, and the exported caller turns it into a status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/model.h"

namespace kelmo {

inline constexpr int kFaceFileRegionCount = 5;
inline constexpr int32_t kFaceFileMaxCount = 6000;  // vertices or quads per region
inline constexpr int kLandmarkPairCount = 66;
// Largest feature point index that the landmark reader accepts. The reader
// lengthens the table for an index beyond 65; this bound keeps a hostile index
// from allocating gigabytes (65536 entries are 256 KiB).
inline constexpr int32_t kLandmarkMaxIndex = 65535;
inline constexpr int kList7Count = 38;

// Statuses of the readers and the writer (internal).
inline constexpr int32_t kFaceFileOk = 0;
inline constexpr int32_t kFaceFileCannotOpen = -1;
inline constexpr int32_t kFaceFileMalformed = -2;  // bad count, short file, index out of range
inline constexpr int32_t kFaceFileWriteFailed = -3;  // the writer could not write every byte

// Reads a face file into `model`'s regions. On success
// the model has exactly five regions holding the file's. Returns 0,
// kFaceFileCannotOpen, or kFaceFileMalformed when a count is negative or above
// 6000, the file is shorter than its counts promise, or a quad (texture quad)
// corner is not below the region's vertex (texture coordinate) count; on
// failure the model is unchanged. Bytes after region 4 are ignored.
// Layout, every field 4 bytes little-endian, for each of the five regions in
// order: the vertex count V, 3V position floats (x, y, z per vertex), 2V
// texture-coordinate floats (u, v per vertex), the quad count Q, 4Q vertex
// indices (four corners per quad), 4Q texture-coordinate indices.
int32_t readFaceFile(TModel &model, const std::string &path);

// Writes regions 0..4 of `regions` in the face format (the reader's inverse).
// Each of them must have one texture coordinate per vertex, at most 6000
// vertices and quads, as many texture quads as quads and every corner index in
// range, so that readFaceFile accepts the file. Returns 0, kFaceFileMalformed
// (fewer than five regions or a region breaking those rules: nothing is
// written), kFaceFileCannotOpen, or kFaceFileWriteFailed (the partial file is
// removed).
int32_t writeFaceFile(const std::vector<TRegion> &regions, const std::string &path);

// Reads "grd66.txt" into `table`: 66 "%i %i" pairs
// (feature point index, vertex index); the table becomes 66 entries long,
// lengthened for an index beyond 65. Returns 0, kFaceFileCannotOpen, or
// kFaceFileMalformed (fewer than 66 pairs, a token that is not an integer or
// overflows 32 bits, an index negative or above kLandmarkMaxIndex); on failure
// the table is unchanged. Text after the 66th pair is ignored.
int32_t readLandmarkTable(std::vector<int32_t> &table, const std::string &path);

// Reads the 38 "%i" indices of "list7.txt", the region-0 vertices of the lip
// ring in ring order, into `table`. Returns 0, kFaceFileCannotOpen, or kFaceFileMalformed
// (fewer than 38 integers, or a token that is not one); on failure the table is
// unchanged. The values are not range-checked here: their region is not known
// to the reader, so their users (the region builders, rendering) check them.
int32_t readList7Table(std::vector<int32_t> &table, const std::string &path);

}  // namespace kelmo
