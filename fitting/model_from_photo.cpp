#include "fitting/model_from_photo.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <exception>
#include <new>
#include <utility>

#include "fitting/face_frame.h"
#include "fitting/grid.h"
#include "fitting/interpolator3d.h"
#include "fitting/region_builders.h"
#include "frame/numeric.h"
#include "model/model_table.h"

namespace kelmo {
namespace {

// 1/66 as a float: the means are sums times this, not quotients.
constexpr float kOneSixtySixth = 0.015151516f;
// The expression classes' mouth-opening and smile margins.
constexpr float kExpressionMargin = 0.02f;

// The eye points, in the order in which they become the eye-point region's
// vertices 0 to 5 (they lie on the eyeballs, which the deformation must not
// bend), and the outline points left out of the control points (a photo's
// outline there follows the cheek's silhouette, not a fixed vertex).
constexpr std::array<int32_t, 6> kEyePoints = {0, 1, 29, 30, 33, 34};
constexpr std::array<int32_t, 4> kExcludedPoints = {2, 22, 43, 44};

template <std::size_t N>
bool contains(const std::array<int32_t, N> &list, int32_t value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool holdsVertex(const TRegion &region, int32_t index) {
    return index >= 0 && static_cast<std::size_t>(index) < region.vertices.size();
}

// Every landmark entry inside its feature point's region (feature points 0,
// 29, 30 on region 1, 1, 33, 34 on region 2, the others on 0).
bool landmarksInside(const std::vector<TRegion> &regions, const std::vector<int32_t> &landmarkTable) {
    if (landmarkTable.size() < static_cast<std::size_t>(kFeaturePointCount) || regions.size() < 3) return false;
    for (int32_t i = 0; i < kFeaturePointCount; ++i) {
        const TRegion &region = regions[static_cast<std::size_t>(featurePointRegion(i))];
        if (!holdsVertex(region, landmarkTable[static_cast<std::size_t>(i)])) return false;
    }
    return true;
}

const TVector3f &landmarkVertex(const std::vector<TRegion> &regions, const std::vector<int32_t> &landmarkTable,
                                int32_t i) {
    const TRegion &region = regions[static_cast<std::size_t>(featurePointRegion(i))];
    return region.vertices[static_cast<std::size_t>(landmarkTable[static_cast<std::size_t>(i)])];
}

// Texture coordinates: values below 0 become 0, above 1 become 1
// (a NaN is neither and stays).
float clampToUnit(float value) {
    if (value < 0.0f) return 0.0f;
    if (value > 1.0f) return 1.0f;
    return value;
}

}  // namespace

int32_t pointCountForPointSet(int32_t pointSet) {
    if (pointSet == 1) return 62;
    if (pointSet == 2) return 40;
    return kFeaturePointCount;
}

int32_t featurePointRegion(int32_t featureIndex) {
    if (featureIndex == 0 || featureIndex == 29 || featureIndex == 30) return 1;
    if (featureIndex == 1 || featureIndex == 33 || featureIndex == 34) return 2;
    return 0;
}

int32_t classifyExpression(const TexturePoints &texturePoints) {
    const TexturePoints &t = texturePoints;
    // Single precision throughout.
    const float opening = std::fabs(t[61].y - t[64].y);
    const float lipLevel = t[64].y + t[61].y + kExpressionMargin;
    const float cornerLevel = t[4].y + t[3].y;
    // Any comparison involving a NaN gives class 0.
    if (std::isnan(opening) || std::isnan(lipLevel) || std::isnan(cornerLevel)) return 0;
    const bool smiling = cornerLevel > lipLevel;
    // Open when d > 0.02: an opening of exactly 0.02 is closed.
    if (opening > kExpressionMargin) return smiling ? 3 : 1;
    return smiling ? 2 : 0;
}

int32_t applyExpressionFlags(int32_t expressionClass, bool noSmile, bool closedMouth) {
    int32_t e = expressionClass;
    if (noSmile) {
        if (e == 3)
            e = 1;
        else if (e == 2)
            e = 0;
    }
    if (closedMouth) {
        if (e == 3)
            e = 2;
        else if (e == 1)
            e = 0;
    }
    return e;
}

FeatureAlignment alignFeaturePoints(const FeaturePoints3D &meshPoints, const TexturePoints &texturePoints) {
    // P = the mesh points' x and y. The means are sums in index order times
    // 1/66, single precision.
    float sumPX = 0.0f;
    float sumPY = 0.0f;
    float sumTU = 0.0f;
    float sumTV = 0.0f;
    for (int i = 0; i < kFeaturePointCount; ++i) {
        sumPX = sumPX + meshPoints[i].x;
        sumPY = sumPY + meshPoints[i].y;
    }
    for (int i = 0; i < kFeaturePointCount; ++i) {
        sumTU = sumTU + texturePoints[i].x;
        sumTV = sumTV + texturePoints[i].y;
    }
    const float meanPX = sumPX * kOneSixtySixth;
    const float meanPY = sumPY * kOneSixtySixth;
    const float meanTU = sumTU * kOneSixtySixth;
    const float meanTV = sumTV * kOneSixtySixth;

    // Each point's term (x part + y part) added to the sums in order.
    float numerator = 0.0f;
    float denominator = 0.0f;
    for (int i = 0; i < kFeaturePointCount; ++i) {
        const float du = texturePoints[i].x - meanTU;
        const float dv = texturePoints[i].y - meanTV;
        numerator = numerator + ((meshPoints[i].x - meanPX) * du + (meshPoints[i].y - meanPY) * dv);
        denominator = denominator + (du * du + dv * dv);
    }
    const float scale = numerator / denominator;
    const float offsetX = meanPX - scale * meanTU;
    const float offsetY = meanPY - scale * meanTV;

    FeatureAlignment alignment;
    // The photo's points in model space, at the mesh's depth.
    for (int i = 0; i < kFeaturePointCount; ++i) {
        alignment.targets[i] =
            TVector3f{scale * texturePoints[i].x + offsetX, scale * texturePoints[i].y + offsetY, meshPoints[i].z};
    }
    // The inverse, model space to texture space: sigma = 1 / s; tau = o
    // multiplied by -1 / s rounded to float, not divided by -s: texture
    // coordinates are compared bit for bit.
    alignment.textureScale = 1.0f / scale;
    const float negativeReciprocal = -1.0f / scale;
    alignment.textureOffset = TPointf{offsetX * negativeReciprocal, offsetY * negativeReciprocal};
    return alignment;
}

void projectTextureCoords(TRegion &region, float textureScale, TPointf textureOffset) {
    const std::size_t quadCount = std::min(region.quads.size(), region.textureQuads.size());
    for (std::size_t q = 0; q < quadCount; ++q) {
        for (int k = 0; k < 4; ++k) {
            const int32_t vertexIndex = region.quads[q][static_cast<std::size_t>(k)];
            const int32_t textureIndex = region.textureQuads[q][static_cast<std::size_t>(k)];
            if (vertexIndex < 0 || static_cast<std::size_t>(vertexIndex) >= region.vertices.size()) continue;
            if (textureIndex < 0 || static_cast<std::size_t>(textureIndex) >= region.textureCoords.size()) continue;
            const TVector3f p = region.vertices[static_cast<std::size_t>(vertexIndex)];
            region.textureCoords[static_cast<std::size_t>(textureIndex)] = TPointf{
                clampToUnit(textureScale * p.x + textureOffset.x), clampToUnit(textureScale * p.y + textureOffset.y)};
        }
    }
}

bool placeTeeth(std::vector<TRegion> &regions, int32_t expressionClass) {
    if (regions.size() < 5) return false;
    TRegion &upper = regions[3];
    TRegion &lower = regions[4];
    const bool openMouth = expressionClass == 1 || expressionClass == 3;
    if (upper.vertices.empty() && !lower.vertices.empty()) return false;
    if (openMouth && (!holdsVertex(regions[0], kOpenMouthLipVertex) || !holdsVertex(regions[0], kOpenMouthGapVertex))) {
        return false;
    }

    if (expressionClass == 2 || expressionClass == 3) {
        // Smiling: the teeth recede. Each vertex's z uses the depth of its region's
        // first vertex as it stands at that moment, so the first vertex moves
        // by 0.07 before the others read it.
        auto recede = [](TRegion &region, float lift) {
            for (TVector3f &vertex : region.vertices) {
                vertex.y = vertex.y + lift;
                const float firstDepth = region.vertices[0].z;
                vertex.z = vertex.z - ((firstDepth - vertex.z) * 0.4f + 0.07f);
            }
        };
        recede(upper, 0.1f);
        recede(lower, 0.25f);
    } else {
        // Neutral: the teeth are only lifted.
        for (TVector3f &vertex : upper.vertices) vertex.y = vertex.y + 0.1f;
        for (TVector3f &vertex : lower.vertices) vertex.y = vertex.y + 0.25f;
    }

    // Both rows shrunk about region 3's first vertex (which its own scaling
    // keeps).
    if (!upper.vertices.empty()) {
        scaleRegion(upper, 0.95f, 0.9f, 0.5f, upper.vertices[0]);
        scaleRegion(lower, 0.95f, 0.9f, 0.5f, upper.vertices[0]);
    }

    // Open mouth: shift both rows by the larger of the two gaps,
    // d1 between vertex 371 and the upper teeth's lowest point, d2 between
    // vertex 1683 and the point 45 % down from the upper teeth's top.
    if (openMouth) {
        float minY = 10.0f;
        float maxY = -10.0f;
        for (const TVector3f &vertex : upper.vertices) {
            if (vertex.y < minY) minY = vertex.y;
            if (vertex.y > maxY) maxY = vertex.y;
        }
        const float gapToLowestTooth = regions[0].vertices[static_cast<std::size_t>(kOpenMouthLipVertex)].y - minY;
        // The bracket in double precision, the difference with it too, rounded
        // once to single.
        const double bracket = static_cast<double>(maxY) * 0.55 + static_cast<double>(minY) * 0.45;
        const float gapToMidTeeth = static_cast<float>(
            static_cast<double>(regions[0].vertices[static_cast<std::size_t>(kOpenMouthGapVertex)].y) - bracket);
        const float shift = std::max(gapToLowestTooth, gapToMidTeeth);
        for (TVector3f &vertex : upper.vertices) vertex.y = vertex.y + shift;
        for (TVector3f &vertex : lower.vertices) vertex.y = vertex.y + shift;
    }
    return true;
}

bool expressionMeshSupportsFitting(const TModel &mesh, const std::vector<int32_t> &landmarkTable,
                                   const std::vector<int32_t> &list7Table) {
    const std::vector<TRegion> &regions = mesh.regions;
    if (regions.size() < 5) return false;
    if (!landmarksInside(regions, landmarkTable)) return false;
    const TRegion &head = regions[0];
    for (const int32_t index : kSockSourceVertices)
        if (!holdsVertex(head, index)) return false;
    if (list7Table.empty()) return false;
    for (const int32_t index : list7Table)
        if (!holdsVertex(head, index)) return false;
    for (const int32_t index : {kMouthCentreVertexA, kMouthCentreVertexB, kOpenMouthLipVertex, kOpenMouthGapVertex})
        if (!holdsVertex(head, index)) return false;
    return !(regions[3].vertices.empty() && !regions[4].vertices.empty());
}

bool fitModelToFeatures(const TModel &model, const TexturePoints &texturePoints, bool noSmile, bool closedMouth,
                        const LibraryState &state, ModelFit &fit) {
    // The expression first: the class chooses the mesh that everything after
    // reads, and the mesh is checked before anything is built.
    const int32_t expression = applyExpressionFlags(classifyExpression(texturePoints), noSmile, closedMouth);
    const TModel *mesh = state.expressionMeshes[static_cast<std::size_t>(expression)].get();
    if (mesh == nullptr || !expressionMeshSupportsFitting(*mesh, state.landmarkTable, state.list7Table)) {
        return false;
    }
    fit.expressionClass = expression;

    // Exactly eight regions. Region 6 is kept; regions 5 and 7 are rebuilt
    // whole below (the sock and the mouth cavity), so what they held cannot
    // matter.
    fit.regions.clear();
    fit.regions.resize(static_cast<std::size_t>(kFittedRegionCount));
    if (model.regions.size() > 6) fit.regions[6] = model.regions[6];
    // Regions 0 to 4 copied from the expression mesh, then the sock around
    // its mouth.
    for (std::size_t k = 0; k < 5; ++k) fit.regions[k] = mesh->regions[k];
    buildSockRegion(fit.regions);

    // The feature vertices A on the unfitted mesh.
    FeaturePoints3D meshPoints{};
    fit.featurePoints.assign(static_cast<std::size_t>(kFeaturePointCount), TVector3f{0, 0, 0});
    fit.featureVertices.assign(static_cast<std::size_t>(kFeaturePointCount), 0);
    for (int32_t i = 0; i < kFeaturePointCount; ++i) {
        meshPoints[static_cast<std::size_t>(i)] = landmarkVertex(fit.regions, state.landmarkTable, i);
        fit.featurePoints[static_cast<std::size_t>(i)] = meshPoints[static_cast<std::size_t>(i)];
        fit.featureVertices[static_cast<std::size_t>(i)] = state.landmarkTable[static_cast<std::size_t>(i)];
    }
    // Their targets: the photo's points aligned with them.
    const FeatureAlignment alignment = alignFeaturePoints(meshPoints, texturePoints);

    // 66-entry control arrays (entries beyond the count keep what
    // they held), the empty eye-point region appended as region 8.
    fit.controlSource = model.controlSource;
    fit.controlTarget = model.controlTarget;
    fit.controlSource.resize(static_cast<std::size_t>(kFeaturePointCount), TVector3f{0, 0, 0});
    fit.controlTarget.resize(static_cast<std::size_t>(kFeaturePointCount), TVector3f{0, 0, 0});
    fit.regions.emplace_back();
    fit.extraRegion = kEyePointRegion;
    fit.controlCount = 0;

    // Eye points to region 8, excluded points nowhere, the rest become
    // control points (56 of them).
    TRegion &eyePoints = fit.regions[static_cast<std::size_t>(kEyePointRegion)];
    for (int32_t i = 0; i < kFeaturePointCount; ++i) {
        const auto index = static_cast<std::size_t>(i);
        if (contains(kEyePoints, i)) {
            eyePoints.vertices.push_back(alignment.targets[index]);
            fit.featureVertices[index] = static_cast<int32_t>(eyePoints.vertices.size() - 1);
        } else if (contains(kExcludedPoints, i)) {
            continue;
        } else {
            fit.controlSource[static_cast<std::size_t>(fit.controlCount)] = meshPoints[index];
            fit.controlTarget[static_cast<std::size_t>(fit.controlCount)] = alignment.targets[index];
            ++fit.controlCount;
        }
    }

    // The displacement field through the control points (copies), and the
    // head, the eyeballs and the sock bent by it.
    interpolatorSetUpFromControlPoints(fit.interpolator, fit.controlSource, fit.controlTarget, fit.controlCount);
    for (const std::size_t k :
         {std::size_t{0}, std::size_t{1}, std::size_t{2}, static_cast<std::size_t>(kSockRegion)}) {
        deformRegion(fit.regions[k], fit.interpolator);
    }
    // The teeth (their requirements were checked with the mesh).
    placeTeeth(fit.regions, fit.expressionClass);

    // The feature points on the fitted mesh.
    for (int32_t i = 0; i < kFeaturePointCount; ++i) {
        const auto index = static_cast<std::size_t>(i);
        const TRegion &region = contains(kEyePoints, i) ? eyePoints : fit.regions[0];
        fit.featurePoints[index] = region.vertices[static_cast<std::size_t>(fit.featureVertices[index])];
    }

    // Planar texture coordinates: all regions when the teeth take the model's
    // texture, else the surface only (regions 0 to 2).
    const std::size_t projected = model.teethFromModelTexture ? fit.regions.size() : 3;
    for (std::size_t k = 0; k < projected; ++k) {
        projectTextureCoords(fit.regions[k], alignment.textureScale, alignment.textureOffset);
    }
    // The mouth cavity around the fitted lips.
    buildMouthCap(fit.regions, state.list7Table);
    return true;
}

void commitModelFit(ModelFit &fit, TModel &model) noexcept {
    model.regions.swap(fit.regions);
    model.extraRegion = fit.extraRegion;
    model.expressionClass = fit.expressionClass;
    model.featurePoints.swap(fit.featurePoints);
    model.featureVertices.swap(fit.featureVertices);
    model.controlCount = fit.controlCount;
    model.controlSource.swap(fit.controlSource);
    model.controlTarget.swap(fit.controlTarget);
    // TInterpolator3D declares a destructor and so has no move operations;
    // its arrays are swapped one by one, which cannot throw.
    model.interpolator.centres.swap(fit.interpolator.centres);
    model.interpolator.values.swap(fit.interpolator.values);
    model.interpolator.weights.swap(fit.interpolator.weights);
}

bool completeTexturePoints(TexturePoints &texturePoints, int32_t givenCount, const TModel &mesh0,
                           const std::vector<int32_t> &landmarkTable) {
    if (givenCount >= kFeaturePointCount) return true;
    if (givenCount < 1 || !landmarksInside(mesh0.regions, landmarkTable)) return false;
    const auto given = static_cast<std::size_t>(givenCount);

    // The least-squares uniform scale and offset from mesh 0's points to the
    // given texture points, in double precision.
    double meanPX = 0.0;
    double meanPY = 0.0;
    double meanTU = 0.0;
    double meanTV = 0.0;
    for (std::size_t i = 0; i < given; ++i) {
        const TVector3f &p = landmarkVertex(mesh0.regions, landmarkTable, static_cast<int32_t>(i));
        meanPX += p.x;
        meanPY += p.y;
        meanTU += texturePoints[i].x;
        meanTV += texturePoints[i].y;
    }
    meanPX /= static_cast<double>(given);
    meanPY /= static_cast<double>(given);
    meanTU /= static_cast<double>(given);
    meanTV /= static_cast<double>(given);
    double numerator = 0.0;
    double denominator = 0.0;
    for (std::size_t i = 0; i < given; ++i) {
        const TVector3f &p = landmarkVertex(mesh0.regions, landmarkTable, static_cast<int32_t>(i));
        const double dx = p.x - meanPX;
        const double dy = p.y - meanPY;
        numerator += dx * (texturePoints[i].x - meanTU) + dy * (texturePoints[i].y - meanTV);
        denominator += dx * dx + dy * dy;
    }
    const double scale = denominator > 0.0 && std::isfinite(numerator / denominator) ? numerator / denominator : 0.0;
    const double offsetU = meanTU - scale * meanPX;
    const double offsetV = meanTV - scale * meanPY;

    for (std::size_t i = given; i < static_cast<std::size_t>(kFeaturePointCount); ++i) {
        const TVector3f &p = landmarkVertex(mesh0.regions, landmarkTable, static_cast<int32_t>(i));
        texturePoints[i] =
            TPointf{static_cast<float>(scale * p.x + offsetU), static_cast<float>(scale * p.y + offsetV)};
    }
    return true;
}

}  // namespace kelmo

namespace {

using namespace kelmo;

// Frees an image created inside the call when the scope ends, whatever the
// path out of it.
class ScopedImage {
public:
    ScopedImage() = default;
    ScopedImage(const ScopedImage &) = delete;
    ScopedImage &operator=(const ScopedImage &) = delete;
    ~ScopedImage() {
        if (handle >= 0) TAVO_FreeImage(handle);
    }
    ImageHandle handle = -1;
};

// Initialisation has succeeded at least so far that the tables and meshes
// exist; each mesh is checked again when it is chosen.
bool sharedStateReady(const LibraryState &state) {
    return state.expressionMeshes[0] != nullptr &&
           state.landmarkTable.size() >= static_cast<std::size_t>(kFeaturePointCount) && !state.list7Table.empty();
}

int32_t createModelFromPhoto(TModel &model, ImageHandle photo, const int32_t *points, int32_t pointSet, float *scale,
                             bool noSmile, bool closedMouth) {
    const LibraryState &state = libraryState();
    if (!sharedStateReady(state)) return TAVO_ERR_GENERAL;
    int32_t photoWidth = 0;
    int32_t photoHeight = 0;
    if (TAVO_GetImageWidth(photo, &photoWidth) != TAVOIMG_OK ||
        TAVO_GetImageHeight(photo, &photoHeight) != TAVOIMG_OK || photoWidth < 1 || photoHeight < 1) {
        return TAVO_ERR_GENERAL;
    }

    // N points of the caller's pairs, as floats.
    const int32_t givenCount = pointCountForPointSet(pointSet);
    const auto given = static_cast<std::size_t>(givenCount);
    TGrid photoPoints;
    photoPoints.points.resize(given);
    for (std::size_t i = 0; i < given; ++i) {
        photoPoints.points[i] = TPointf{static_cast<float>(points[2 * i]), static_cast<float>(points[2 * i + 1])};
    }

    // The 256 x 256 upright frame and the N frame points Q.
    ScopedImage frame;
    TGrid framePoints;
    extractFrame(photo, photoPoints, &frame.handle, framePoints, kModelFrameSize, kModelFrameSize);
    // A frame that the imaging library could not make (a crop beyond its
    // limits) is refused.
    int32_t frameWidth = 0;
    int32_t frameHeight = 0;
    if (TAVO_GetImageWidth(frame.handle, &frameWidth) != TAVOIMG_OK ||
        TAVO_GetImageHeight(frame.handle, &frameHeight) != TAVOIMG_OK || frameWidth != kModelFrameSize ||
        frameHeight != kModelFrameSize || framePoints.points.size() != given) {
        return TAVO_ERR_GENERAL;
    }

    // Texture-space points, divisions in single precision; then the
    // completion of entries N to 65 for pointSet 1 and 2.
    const auto width = static_cast<float>(frameWidth);
    const auto height = static_cast<float>(frameHeight);
    TexturePoints texturePoints{};
    for (std::size_t i = 0; i < given; ++i) {
        const TPointf q = framePoints.points[i];
        texturePoints[i] = TPointf{q.x / width, 1.0f - q.y / height};
    }
    if (!completeTexturePoints(texturePoints, givenCount, *state.expressionMeshes[0], state.landmarkTable)) {
        return TAVO_ERR_GENERAL;
    }
    // The 66 frame points: the N given ones, and the completed ones mapped
    // back to frame pixels.
    std::array<TPointf, kFeaturePointCount> completeFramePoints{};
    for (std::size_t i = 0; i < static_cast<std::size_t>(kFeaturePointCount); ++i) {
        completeFramePoints[i] = i < given ? framePoints.points[i]
                                           : TPointf{texturePoints[i].x * width, (1.0f - texturePoints[i].y) * height};
    }

    // The fit, into temporaries: a mesh without the vertices creation reads
    // refuses here, before the model changes.
    ModelFit fit;
    if (!fitModelToFeatures(model, texturePoints, noSmile, closedMouth, state, fit)) return TAVO_ERR_GENERAL;

    // The alpha mask warped onto the frame points (truncated toward
    // zero); its status is not consulted.
    if (model.maskUsage) {
        std::array<int32_t, 2 * kFeaturePointCount> texturePairs{};
        std::array<int32_t, 2 * kFeaturePointCount> alphaPairs{};
        for (std::size_t i = 0; i < static_cast<std::size_t>(kFeaturePointCount); ++i) {
            texturePairs[2 * i] = truncateToInt32(completeFramePoints[i].x);
            texturePairs[2 * i + 1] = truncateToInt32(completeFramePoints[i].y);
            alphaPairs[2 * i] = state.alphaGrid[i].x;
            alphaPairs[2 * i + 1] = state.alphaGrid[i].y;
        }
        TAVO_SetTextureAlphaChannel(frame.handle, texturePairs.data(), state.alphaMaskImage, alphaPairs.data());
    }

    // Commit: nothing below can fail. The frame becomes the texture (the
    // frame is freed by its guard), then the fit, then the face grid in frame
    // pixels.
    TAVO_CopyImage(frame.handle, model.texture);
    commitModelFit(fit, model);
    model.faceGrid = completeFramePoints;

    // Model units per photo pixel; the caller's x difference formed
    // in 64 bits (no overflow), then converted to float.
    if (scale != nullptr) {
        const int64_t pixels = static_cast<int64_t>(points[2]) - static_cast<int64_t>(points[0]);
        *scale = (model.featurePoints[1].x - model.featurePoints[0].x) / static_cast<float>(pixels);
    }
    return TAVO_OK;
}

}  // namespace

extern "C" {

int32_t TAVO_CreateModelFromPhotoEx(int32_t handle, ImageHandle photo, const int32_t *points, int32_t pointSet,
                                    float *scale, bool noSmile, bool closedMouth) {
    TModel *model = resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    if (points == nullptr) return TAVO_ERR_GENERAL;
    try {
        return createModelFromPhoto(*model, photo, points, pointSet, scale, noSmile, closedMouth);
    } catch (const std::exception &) {
        return TAVO_ERR_GENERAL;  // out of memory: the model is unchanged
    }
}

int32_t TAVO_CreateModelFromPhoto(int32_t handle, ImageHandle photo, const int32_t *points, int32_t pointSet,
                                  float *scale) {
    return TAVO_CreateModelFromPhotoEx(handle, photo, points, pointSet, scale, false, false);
}

}  // extern "C"
