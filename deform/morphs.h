// Expressions and morphs: the vertex file reader behind
// TAVO_LoadExpressionToModel, the morph behind TAVO_ApplyMorph and
// TAVO_ApplyMorphHField, and the pinning of the sock region. The exports are
// declared in include/kelmo.h.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "deform/vertex_lists.h"
#include "kelmo.h"
#include "model/model.h"

namespace kelmo {

// The sock region and its pin table, which keep the inside of the mouth
// attached to the lips as they move (sock vertex k + 1
// takes region 0's vertex kSockPinVertices[k]; sock vertex 0 is then built
// from sock vertices 3 and 1).
inline constexpr std::size_t kMorphSockRegion = 5;
inline constexpr std::size_t kSockVertexCount = 9;
inline constexpr std::array<int32_t, 8> kSockPinVertices = {718, 2775, 228, 1829, 441, 2038, 1130, 2976};

// A vertex file holds at most this many blocks (regions). The bound keeps a
// hostile file of empty blocks from creating a model of millions of regions
// (every model the library makes has at most nine).
inline constexpr std::size_t kVertexFileMaxBlocks = 65536;

inline constexpr int32_t kVertexFileOk = 0;
inline constexpr int32_t kVertexFileCannotOpen = -1;
// A negative count, a block whose floats end early, or too many blocks.
inline constexpr int32_t kVertexFileMalformed = -2;

// Reads every block (a signed
// 32-bit count N, then N x 3 little-endian floats) while at least 4 bytes
// remain for a count; 1 to 3 trailing bytes are ignored. On success `lists`
// holds one entry per block; on failure it is unchanged. Memory grows with the
// bytes actually read, never with a count alone. May throw std::bad_alloc.
int32_t readVertexFile(const std::string &path, VertexLists &lists);

// Pins the sock region (entry 5) of `lists` again
// from entry 0 by the table above: vertices 1 to 8 first, then vertex 0 =
// (x of vertex 3, y and z of vertex 1). Returns false and changes nothing when
// the lists lack the sock region, its nine vertices or one of region 0's
// vertices that the table names.
bool pinSockRegion(VertexLists &lists);

// The morph of TAVO_ApplyMorphHField: for each region r
// below both region counts and each vertex j below both models' vertex counts
// of region r, model vertex += weight x morph vertex (times field[j], in that
// order, for region 0 when `field` is not null); then the sock region is
// pinned again when the model has it (pinSockRegion). `field` needs an entry
// for every vertex that moves in region 0. `morph` may be `model`. May throw
// std::bad_alloc; the model is then unchanged.
void applyMorph(TModel &model, const TModel &morph, float weight, const float *field);

}  // namespace kelmo
