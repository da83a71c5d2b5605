// Face model files (Part 2.3): the binary face format of the expression
// meshes, the landmark table ("grd66.txt") and the list7 table ("list7.txt").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/model.h"

namespace kelmo {

inline constexpr int kFaceFileRegionCount = 5;
inline constexpr int32_t kFaceFileMaxCount = 6000;  // vertices or quads per region
inline constexpr int kList7Count = 38;

// Statuses of the readers (internal).
inline constexpr int32_t kFaceFileOk = 0;
inline constexpr int32_t kFaceFileCannotOpen = -1;
inline constexpr int32_t kFaceFileMalformed = -2;  // bad count, short file, index out of range

// Reads a face file into `model`'s regions (exactly five afterwards). The file
// is parsed into temporaries first: on any failure the model is unchanged.
int32_t readFaceFile(TModel &model, const std::string &path);

// Writes regions 0..4 of `regions` in the face format (the reader's inverse).
// Each region must have one texture coordinate per vertex, at most 6000
// vertices and quads, and as many texture quads as quads.
int32_t writeFaceFile(const std::vector<TRegion> &regions, const std::string &path);

// Reads "grd66.txt" into `table` (Part 2.3, landmark reader). Returns 0,
// kFaceFileCannotOpen, or kFaceFileMalformed (the table is then unchanged).
int32_t readLandmarkTable(std::vector<int32_t> &table, const std::string &path);

// Reads the 38 ring indices of "list7.txt" into `table`. Returns 0,
// kFaceFileCannotOpen, or kFaceFileMalformed (the table is then unchanged).
int32_t readList7Table(std::vector<int32_t> &table, const std::string &path);

}  // namespace kelmo
