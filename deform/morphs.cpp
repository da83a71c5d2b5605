// Expressions and morphs: vertex files, morphs with and without a
// weight field, and the placeholder TAVO_GetFaceExpression.
#include "deform/morphs.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <utility>

#include "frame/file_access.h"
#include "model/model_table.h"

namespace kelmo {

namespace {

constexpr std::size_t kFieldBytes = 4;
constexpr std::size_t kVertexBytes = 3 * kFieldBytes;
// Vertices decoded per read: memory follows the data actually in the file.
constexpr std::size_t kVerticesPerChunk = 4096;

// Little-endian fields decoded byte by byte, so that the result is the same on
// any host (vertex files are little-endian).
uint32_t decodeUint32(const uint8_t *bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

float decodeFloat(const uint8_t *bytes) { return std::bit_cast<float>(decodeUint32(bytes)); }

// Reads one block's `count` vertices in chunks; false when the file ends
// first.
bool readBlockVertices(std::FILE *file, uint32_t count, std::vector<TVector3f> &vertices) {
    std::vector<uint8_t> bytes(std::min<std::size_t>(count, kVerticesPerChunk) * kVertexBytes);
    std::size_t remaining = count;
    while (remaining > 0) {
        const std::size_t chunk = std::min(remaining, kVerticesPerChunk);
        if (std::fread(bytes.data(), 1, chunk * kVertexBytes, file) != chunk * kVertexBytes) return false;
        for (std::size_t k = 0; k < chunk; ++k) {
            const uint8_t *vertex = bytes.data() + k * kVertexBytes;
            vertices.push_back(TVector3f{decodeFloat(vertex), decodeFloat(vertex + kFieldBytes),
                                         decodeFloat(vertex + 2 * kFieldBytes)});
        }
        remaining -= chunk;
    }
    return true;
}

}  // namespace

int32_t readVertexFile(const std::string &path, VertexLists &lists) {
    FilePtr file = openFile(path, "rb");
    if (!file) return kVertexFileCannotOpen;
    // Into a temporary: blocks while a whole 4-byte count can be read.
    VertexLists read;
    uint8_t countBytes[kFieldBytes];
    while (std::fread(countBytes, 1, kFieldBytes, file.get()) == kFieldBytes) {
        const auto count = std::bit_cast<int32_t>(decodeUint32(countBytes));
        // A negative count and a short block both make the file malformed,
        // and the model is left as it was.
        if (count < 0 || read.size() >= kVertexFileMaxBlocks) return kVertexFileMalformed;
        std::vector<TVector3f> vertices;
        if (!readBlockVertices(file.get(), static_cast<uint32_t>(count), vertices)) return kVertexFileMalformed;
        read.push_back(std::move(vertices));
    }
    // The file closes with `file`; fewer than 4 bytes left over end the
    // sequence without being an error.
    lists = std::move(read);
    return kVertexFileOk;
}

bool pinSockRegion(VertexLists &lists) {
    if (lists.size() <= kMorphSockRegion || lists[kMorphSockRegion].size() < kSockVertexCount) return false;
    const std::vector<TVector3f> &head = lists[0];
    for (const int32_t vertex : kSockPinVertices)
        if (static_cast<std::size_t>(vertex) >= head.size()) return false;
    std::vector<TVector3f> &sock = lists[kMorphSockRegion];
    // Vertices 1 to 8 first, from region 0 by the table ...
    for (std::size_t k = 0; k < kSockPinVertices.size(); ++k)
        sock[k + 1] = head[static_cast<std::size_t>(kSockPinVertices[k])];
    // ... then vertex 0 from the pinned vertices 3 and 1.
    sock[0] = TVector3f{sock[3].x, sock[1].y, sock[1].z};
    return true;
}

void applyMorph(TModel &model, const TModel &morph, float weight, const float *field) {
    // A is a copy, so that `morph` may be `model` and a std::bad_alloc
    // leaves the model as it was; B is read in place.
    VertexLists moved = getVertexLists(model);
    const std::vector<TRegion> &displacements = morph.regions;
    // A += weight x B. A morph region longer than the model's moves only the
    // vertices that both regions hold.
    const std::size_t regionCount = std::min(moved.size(), displacements.size());
    for (std::size_t r = 0; r < regionCount; ++r) {
        std::vector<TVector3f> &a = moved[r];
        const std::vector<TVector3f> &b = displacements[r].vertices;
        const std::size_t vertexCount = std::min(a.size(), b.size());
        if (r == 0 && field != nullptr) {
            // weight x B x field, multiplied in that order.
            for (std::size_t j = 0; j < vertexCount; ++j) {
                const float scale = field[j];
                a[j].x = a[j].x + weight * b[j].x * scale;
                a[j].y = a[j].y + weight * b[j].y * scale;
                a[j].z = a[j].z + weight * b[j].z * scale;
            }
        } else {
            for (std::size_t j = 0; j < vertexCount; ++j) {
                a[j].x = a[j].x + weight * b[j].x;
                a[j].y = a[j].y + weight * b[j].y;
                a[j].z = a[j].z + weight * b[j].z;
            }
        }
    }
    // The sock follows the lips. A model without the sock region or the
    // region-0 vertices of the table is morphed without the pinning.
    pinSockRegion(moved);
    // The region count is the model's own, so nothing allocates.
    setVertexLists(model, std::move(moved));
}

}  // namespace kelmo

using kelmo::resolveModel;
using kelmo::TModel;

extern "C" {

int32_t TAVO_LoadExpressionToModel(int32_t handle, const char *path) {
    TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    if (path == nullptr) return TAVO_ERR_GENERAL;
    try {
        kelmo::VertexLists lists;
        if (kelmo::readVertexFile(path, lists) != kelmo::kVertexFileOk) return TAVO_ERR_GENERAL;
        kelmo::setVertexLists(*model, std::move(lists));
    } catch (const std::exception &) {
        return TAVO_ERR_GENERAL;  // out of memory: the model is unchanged
    }
    return TAVO_OK;
}

int32_t TAVO_ApplyMorphHField(int32_t handle, int32_t morphHandle, float weight, const float *field) {
    TModel *model = resolveModel(handle);
    const TModel *morph = resolveModel(morphHandle);
    if (model == nullptr || morph == nullptr) return TAVO_ERR_INVALID_HANDLE;
    try {
        kelmo::applyMorph(*model, *morph, weight, field);
    } catch (const std::exception &) {
        return TAVO_ERR_GENERAL;  // out of memory: the model is unchanged
    }
    return TAVO_OK;
}

int32_t TAVO_ApplyMorph(int32_t handle, int32_t morphHandle, float weight) {
    return TAVO_ApplyMorphHField(handle, morphHandle, weight, nullptr);
}

int32_t TAVO_GetFaceExpression(void) {
    // Kept so that hosts which call it link and run; it reports nothing.
    return TAVO_OK;
}

}  // extern "C"
