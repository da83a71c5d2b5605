// Assembly of the generic head (see generic_head.h).
#include "tools/generic_head/generic_head.h"

#include "tools/generic_head/teeth.h"

namespace kelmo::generic_head {
namespace {

// Texture coordinates of regions 0 to 2: the square that the default camera
// sees (visible half-height about 3.5 units around model (0, -0.15)), v
// growing upwards, as a photo of the head framed by that camera would map.
// Creation from a photo replaces them.
TexCoord frontTexCoord(Vec3 p) {
    return {clamp01((p.x + 3.5) / 7.0), clamp01((p.y + 0.15 + 3.5) / 7.0)};
}

RegionMesh toModel(const RegionMesh &cm, bool projectTexture) {
    RegionMesh m = cm;
    for (std::size_t i = 0; i < m.vertices.size(); ++i) {
        m.vertices[i] = toModelUnits(cm.vertices[i]);
        if (projectTexture) m.texCoords[i] = frontTexCoord(m.vertices[i]);
    }
    return m;
}

RegionMesh renumber(const RegionMesh &natural, const Renumbering &r) {
    RegionMesh m;
    m.vertices.resize(natural.vertices.size());
    m.texCoords.resize(natural.vertices.size());
    for (std::size_t v = 0; v < natural.vertices.size(); ++v) {
        m.vertices[r.finalIndex[v]] = natural.vertices[v];
        m.texCoords[r.finalIndex[v]] = natural.texCoords[v];
    }
    m.quads = natural.quads;
    for (Quad &q : m.quads)
        for (int32_t &c : q) c = r.finalIndex[c];
    return m;
}

std::array<Eyeball, 2> makeEyeballs() {
    const Anatomy &a = anatomy();
    return {buildEyeball(a.eyeCentres[0], a.eyeballRadius, upperLidRise(), lowerLidDrop()),
            buildEyeball(a.eyeCentres[1], a.eyeballRadius, upperLidRise(), lowerLidDrop())};
}

}  // namespace

HeadMesh buildMesh(const GenericHead &head, const ExpressionParams &params) {
    HeadMesh mesh;
    RegionMesh surface = buildHeadSurfaceCm(params);
    surface.texCoords.assign(surface.vertices.size(), {});
    mesh[kHeadRegion] = renumber(toModel(surface, true), head.renumbering);
    for (int e = 0; e < 2; ++e) mesh[kRightEyeRegion + e] = toModel(head.eyeballs[e].mesh, true);
    // Teeth: authored where placeTeeth should show them in the closed neutral
    // face; the lower teeth turn with the jaw. Stored with placeTeeth's fixed
    // lift and scaling undone.
    RegionMesh upper = buildUpperTeethCm();
    RegionMesh lower = buildLowerTeethCm();
    for (Vec3 &v : lower.vertices) v = rotateWithJaw(v, params.jawOpenDegrees);
    upper = toModel(upper, false);
    lower = toModel(lower, false);
    placeTeethInverse(upper, lower);
    mesh[kUpperTeethRegion] = upper;
    mesh[kLowerTeethRegion] = lower;
    return mesh;
}

GenericHead buildGenericHead() {
    GenericHead head;
    head.eyeballs = makeEyeballs();
    const RegionMesh neutralCm = buildHeadSurfaceCm(expressionParams(kCloseNeutral));
    const HeadIndexing ix = chooseIndexing(neutralCm, head.eyeballs);
    head.renumbering = makeRenumbering(static_cast<int>(neutralCm.vertices.size()), ix.fixed);
    const auto &fin = head.renumbering.finalIndex;
    for (int k = 0; k < kLandmarkCount; ++k)
        head.landmarkVertex[k] = landmarkRegion(k) == kHeadRegion ? fin[ix.landmarkVertex[k]] : ix.landmarkVertex[k];
    for (int v : ix.lipRing) head.lipRing.push_back(fin[v]);
    for (int k = 0; k < 8; ++k) head.sockRing[k] = fin[ix.sockRing[k]];
    head.lipTint.resize(neutralCm.vertices.size());
    for (std::size_t v = 0; v < neutralCm.vertices.size(); ++v) head.lipTint[fin[v]] = lipTint(neutralCm.vertices[v]);
    for (int e = 0; e < kExpressionCount; ++e) head.expressions[e] = buildMesh(head, expressionParams(Expression(e)));
    return head;
}

}  // namespace kelmo::generic_head
