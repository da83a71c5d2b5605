// Morph files (see morphs.h).
#include "tools/generic_head/morphs.h"

#include <cstring>

namespace kelmo::generic_head {

const std::vector<MorphDefinition> &morphDefinitions() {
    static const std::vector<MorphDefinition> defs = {
        {"jaw_open.vtx", expressionParams(kOpenNeutral)},
        {"smile.vtx", expressionParams(kCloseSmile)},
        {"blink.vtx", {0.0, 0.0, 1.0, 0.0}},
        {"brow_raise.vtx", {0.0, 0.0, 0.0, 1.0}},
    };
    return defs;
}

namespace {
void putInt(std::vector<uint8_t> &out, int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(u >> (8 * k)));
}
void putFloat(std::vector<uint8_t> &out, float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(u >> (8 * k)));
}
}  // namespace

std::vector<uint8_t> morphFileBytes(const HeadMesh &base, const HeadMesh &target) {
    std::vector<uint8_t> out;
    for (int r = 0; r < kRegionCount; ++r) {
        const auto &b = base[r].vertices;
        const auto &t = target[r].vertices;
        putInt(out, static_cast<int32_t>(b.size()));
        for (std::size_t v = 0; v < b.size(); ++v) {
            putFloat(out, static_cast<float>(t[v].x) - static_cast<float>(b[v].x));
            putFloat(out, static_cast<float>(t[v].y) - static_cast<float>(b[v].y));
            putFloat(out, static_cast<float>(t[v].z) - static_cast<float>(b[v].z));
        }
    }
    return out;
}

}  // namespace kelmo::generic_head
