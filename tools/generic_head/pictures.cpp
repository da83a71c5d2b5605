// Pictures of the generic head (see pictures.h).
//
// The library's renderer maps a texture without lighting, so the
// look of a shaded head has to be in the texture. The pictures give region 0
// a texture atlas laid out on the head's own surface grid (rows crown to
// neck, columns around the head, surfaceLayout()): every quad owns one cell,
// no two surface points share a texel, and each texel holds the skin (or lip)
// colour lit by a fixed key and fill light at the surface point that the
// renderer maps to it. The eyeballs get two patches of the same texture,
// projected from the front, with iris and pupil. The teeth and the mouth
// interior use the data directory's own images, as for any model.
#include "tools/generic_head/pictures.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <numbers>
#include <string>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "fitting/model_from_photo.h"
#include "fitting/region_builders.h"
#include "kelmo.h"
#include "model/model_table.h"
#include "tavoimage.h"
#include "tools/generic_head/data_files.h"
#include "tools/generic_head/images.h"
#include "tools/generic_head/morphs.h"

namespace kelmo::generic_head {
namespace {

struct RGB {
    double r = 0.0, g = 0.0, b = 0.0;
};

// An RGB picture, rows top first.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

const RGB kSkin{0.87, 0.69, 0.58};
const RGB kLip{0.72, 0.42, 0.40};
const RGB kBackground{0.93, 0.94, 0.96};

// Each picture is rendered at this multiple of its size and averaged down,
// which smooths the rasteriser's stair steps.
constexpr int kSupersample = 2;

// ---- The texture atlas --------------------------------------------------------

constexpr int kTextureSize = 1024;  // a power of two: the texture coordinates below are exact in float
constexpr int kAtlasMargin = 4;
constexpr int kEyePatchHalf = 48;   // texels from an eyeball's centre to the rim of its patch

// A position in the texture in texels: column, and row counted from the top
// row of the image.
struct Texel {
    double x = 0.0;
    double y = 0.0;
};

// The renderer's texel position (render/model_renderer.h): column = u x TW
// and row = (TH - 1) - v x TH. The inverse, exact for a power-of-two size and whole texels.
TPointf textureCoordOf(Texel t) {
    return {static_cast<float>(t.x / kTextureSize), static_cast<float>((kTextureSize - 1 - t.y) / kTextureSize)};
}

// What the baking needs of one region: per vertex the model-space position
// (unturned), the normal, the texel and the lip tint, and how a surface point
// is coloured before lighting.
struct BakeMesh {
    std::vector<Vec3> positions;
    std::vector<Vec3> normals;
    std::vector<Texel> texels;
    std::vector<double> lipTint;
    std::vector<Quad> quads;
    std::function<RGB(Vec3 position, double lipTint)> colour;
};

// Area-weighted vertex normals of a quad mesh.
std::vector<Vec3> vertexNormals(const std::vector<Vec3> &positions, const std::vector<Quad> &quads) {
    std::vector<Vec3> n(positions.size());
    for (const Quad &q : quads) {
        const Vec3 normal = cross(positions[q[2]] - positions[q[0]], positions[q[3]] - positions[q[1]]);
        for (int k = 0; k < 4; ++k) n[q[k]] += normal;
    }
    for (Vec3 &v : n) v = normalized(v);
    return n;
}

// A key light from the upper left front, a weaker fill from the right, and a
// sky-tinted ambient term, fixed to the head.
RGB lit(const RGB &base, Vec3 normal) {
    const Vec3 key = normalized(Vec3{-0.45, 0.55, 0.75});
    const Vec3 fill = normalized(Vec3{0.7, 0.1, 0.5});
    const double ambient = 0.30 + 0.08 * normal.y;
    const double diffuse = 0.78 * std::max(0.0, dot(normal, key)) + 0.22 * std::max(0.0, dot(normal, fill));
    const double l = ambient + diffuse;
    return {base.r * l, base.g * l, base.b * l};
}

class TextureAtlas {
public:
    TextureAtlas()
        : rgba_(std::size_t(kTextureSize) * kTextureSize * 4, 0),
          depth_(std::size_t(kTextureSize) * kTextureSize, -1e300) {}

    // Colours every texel that a triangle of the mesh covers (the triangles
    // (a, b, c) and (c, d, a) of each quad, as the renderer splits it) with
    // the lit colour of the surface point that the renderer's affine mapping
    // puts there. Where triangles overlap in the texture (the hidden back of
    // an eyeball under its front), the point with the larger z wins.
    void bake(const BakeMesh &mesh) {
        for (const Quad &q : mesh.quads) {
            bakeTriangle(mesh, q[0], q[1], q[2]);
            bakeTriangle(mesh, q[2], q[3], q[0]);
        }
    }

    // Texels next to baked ones take their mean, a few texels deep, so that
    // bilinear sampling at the edge of a cell (the rims of the eye and mouth
    // openings) reads no unbaked texel; the rest becomes shaded skin.
    RgbaImage finish() {
        for (int pass = 0; pass < 3; ++pass) {
            std::vector<uint8_t> next = rgba_;
            for (int y = 0; y < kTextureSize; ++y) {
                for (int x = 0; x < kTextureSize; ++x) {
                    if (rgba_[index(x, y) * 4 + 3] != 0) continue;
                    int sum[3] = {0, 0, 0}, count = 0;
                    for (int dy = -1; dy <= 1; ++dy)
                        for (int dx = -1; dx <= 1; ++dx) {
                            const int nx = x + dx, ny = y + dy;
                            if (nx < 0 || ny < 0 || nx >= kTextureSize || ny >= kTextureSize) continue;
                            const uint8_t *p = &rgba_[index(nx, ny) * 4];
                            if (p[3] == 0) continue;
                            for (int c = 0; c < 3; ++c) sum[c] += p[c];
                            ++count;
                        }
                    if (count == 0) continue;
                    uint8_t *o = &next[index(x, y) * 4];
                    for (int c = 0; c < 3; ++c) o[c] = static_cast<uint8_t>((sum[c] + count / 2) / count);
                    o[3] = 255;
                }
            }
            rgba_.swap(next);
        }
        const RGB rest = lit(kSkin, Vec3{0.0, 0.0, 1.0});
        for (std::size_t k = 0; k < depth_.size(); ++k) {
            if (rgba_[k * 4 + 3] != 0) continue;
            store(k, rest);
        }
        return {kTextureSize, kTextureSize, rgba_};
    }

private:
    static std::size_t index(int x, int y) { return std::size_t(y) * kTextureSize + x; }

    void store(std::size_t k, const RGB &c) {
        // Never exactly black: the renderer's composite shows the mouth interior
        // through face pixels whose colour bytes are all 0.
        auto byte = [](double v) { return static_cast<uint8_t>(std::clamp(v, 0.0, 1.0) * 254.0 + 1.5); };
        rgba_[k * 4 + 0] = byte(c.r);
        rgba_[k * 4 + 1] = byte(c.g);
        rgba_[k * 4 + 2] = byte(c.b);
        rgba_[k * 4 + 3] = 255;
    }

    void bakeTriangle(const BakeMesh &m, int i0, int i1, int i2) {
        const Texel a = m.texels[i0], b = m.texels[i1], c = m.texels[i2];
        const double area = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
        if (std::abs(area) < 1e-12) return;
        const int x0 = std::max(0, static_cast<int>(std::floor(std::min({a.x, b.x, c.x}))));
        const int x1 = std::min(kTextureSize - 1, static_cast<int>(std::ceil(std::max({a.x, b.x, c.x}))));
        const int y0 = std::max(0, static_cast<int>(std::floor(std::min({a.y, b.y, c.y}))));
        const int y1 = std::min(kTextureSize - 1, static_cast<int>(std::ceil(std::max({a.y, b.y, c.y}))));
        constexpr double inside = -1e-9;
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                const double w0 = ((b.x - x) * (c.y - y) - (c.x - x) * (b.y - y)) / area;
                const double w1 = ((c.x - x) * (a.y - y) - (a.x - x) * (c.y - y)) / area;
                const double w2 = 1.0 - w0 - w1;
                if (w0 < inside || w1 < inside || w2 < inside) continue;
                const Vec3 p = m.positions[i0] * w0 + m.positions[i1] * w1 + m.positions[i2] * w2;
                const std::size_t k = index(x, y);
                if (p.z <= depth_[k]) continue;
                depth_[k] = p.z;
                const Vec3 n = normalized(m.normals[i0] * w0 + m.normals[i1] * w1 + m.normals[i2] * w2);
                const double tint = m.lipTint[i0] * w0 + m.lipTint[i1] * w1 + m.lipTint[i2] * w2;
                store(k, lit(m.colour(p, tint), n));
            }
        }
    }

    std::vector<uint8_t> rgba_;
    std::vector<double> depth_;
};

TRegion toRegion(const std::vector<Vec3> &positions, const std::vector<TPointf> &coords,
                 const std::vector<Quad> &quads) {
    TRegion r;
    for (const Vec3 &p : positions)
        r.vertices.push_back({static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)});
    r.textureCoords = coords;
    r.quads = quads;
    r.textureQuads = quads;  // one texture coordinate per vertex, as in a face file
    return r;
}

// Region 0 on the atlas: grid vertex (row, column) at texel (margin + column
// x cell, margin + (row + 1) x cell); the crown fan above row 0. Texture
// coordinates belong to vertices when rendered, so the
// vertices where the atlas is cut get copies appended after the mesh's own
// (its fixed indices, list7 and the sock ring, stay as they are): column 0
// again as column `columns` for the quads that close the ring at the back of
// the head, and the crown vertex once per fan quad, above the middle of the
// quad's three row-0 corners.
struct AtlasRegion {
    TRegion region;
    BakeMesh bake;
};

AtlasRegion headOnAtlas(const GenericHead &head, const RegionMesh &mesh) {
    const SurfaceLayout &layout = surfaceLayout();
    const int columns = layout.columns;
    const int cell = std::min((kTextureSize - 2 * kAtlasMargin) / (columns + 1),
                              (kTextureSize - 4 * kAtlasMargin - 2 * kEyePatchHalf - 1) / layout.rows);
    auto texelOf = [&](int column, int row) {
        return Texel{double(kAtlasMargin + column * cell), double(kAtlasMargin + (row + 1) * cell)};
    };
    const std::vector<Vec3> normals = vertexNormals(mesh.vertices, mesh.quads);
    const auto &natural = head.renumbering.naturalIndex;

    BakeMesh bake;
    bake.positions = mesh.vertices;
    bake.normals = normals;
    bake.lipTint = head.lipTint;
    bake.texels.resize(mesh.vertices.size());
    struct GridPlace {
        int row, column;  // row -1: the crown
    };
    std::vector<GridPlace> place(mesh.vertices.size());
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
        const int n = natural[v];
        place[v] = n == layout.crownIndex() ? GridPlace{-1, 1} : GridPlace{n / columns, n % columns};
        bake.texels[v] = texelOf(place[v].column, place[v].row);
    }
    std::map<std::tuple<int, int, int>, int> copies;
    auto vertexAt = [&](int v, int column, int row) {
        if (place[v].column == column && place[v].row == row) return v;
        const auto key = std::make_tuple(v, column, row);
        const auto found = copies.find(key);
        if (found != copies.end()) return found->second;
        const int copy = static_cast<int>(bake.positions.size());
        bake.positions.push_back(bake.positions[v]);
        bake.normals.push_back(bake.normals[v]);
        bake.lipTint.push_back(bake.lipTint[v]);
        bake.texels.push_back(texelOf(column, row));
        copies.emplace(key, copy);
        return copy;
    };
    for (const Quad &q : mesh.quads) {
        int low = columns, high = -1;
        for (int32_t v : q)
            if (place[v].row >= 0) {
                low = std::min(low, place[v].column);
                high = std::max(high, place[v].column);
            }
        const bool acrossTheBack = high - low > columns / 2;
        auto unwrapped = [&](int column) { return acrossTheBack && column < columns / 2 ? column + columns : column; };
        int lowUnwrapped = 2 * columns, highUnwrapped = -1;
        for (int32_t v : q)
            if (place[v].row >= 0) {
                lowUnwrapped = std::min(lowUnwrapped, unwrapped(place[v].column));
                highUnwrapped = std::max(highUnwrapped, unwrapped(place[v].column));
            }
        Quad atlasQuad{};
        for (int k = 0; k < 4; ++k) {
            const int v = q[k];
            atlasQuad[k] = place[v].row < 0 ? vertexAt(v, (lowUnwrapped + highUnwrapped) / 2, -1)
                                            : vertexAt(v, unwrapped(place[v].column), place[v].row);
        }
        bake.quads.push_back(atlasQuad);
    }
    bake.colour = [](Vec3, double tint) {
        return RGB{lerp(kSkin.r, kLip.r, tint), lerp(kSkin.g, kLip.g, tint), lerp(kSkin.b, kLip.b, tint)};
    };
    std::vector<TPointf> coords;
    for (const Texel &t : bake.texels) coords.push_back(textureCoordOf(t));
    return {toRegion(bake.positions, coords, bake.quads), bake};
}

// An eyeball on its patch: the front view of the ball, the pupil at the
// patch's centre.
AtlasRegion eyeballOnAtlas(const RegionMesh &mesh, int eye) {
    const Vec3 centre = toModelUnits(anatomy().eyeCentres[eye]);
    const double radius = anatomy().eyeballRadius * kUnitsPerCm;
    const Texel patchCentre{double(kAtlasMargin + kEyePatchHalf + eye * (2 * kEyePatchHalf + 2 * kAtlasMargin)),
                            double(kTextureSize - 1 - kAtlasMargin - kEyePatchHalf)};
    BakeMesh bake;
    bake.positions = mesh.vertices;
    for (const Vec3 &p : mesh.vertices) bake.normals.push_back(normalized(p - centre));
    bake.lipTint.assign(mesh.vertices.size(), 0.0);
    for (const Vec3 &p : mesh.vertices)
        bake.texels.push_back({patchCentre.x + (p.x - centre.x) / radius * kEyePatchHalf,
                               patchCentre.y - (p.y - centre.y) / radius * kEyePatchHalf});
    bake.quads = mesh.quads;
    bake.colour = [centre](Vec3 p, double) {
        const Vec3 d = normalized(p - centre);
        const double a = std::acos(std::clamp(d.z, -1.0, 1.0));  // from the line of sight
        if (a < 0.17) return RGB{0.04, 0.03, 0.03};                                          // pupil
        if (a < 0.44) return RGB{0.36 - 0.25 * (a - 0.17), 0.27 - 0.2 * (a - 0.17), 0.18};  // iris
        if (a < 0.47) return RGB{0.2, 0.15, 0.12};                                           // limbus
        return RGB{0.93, 0.90, 0.86};                                                        // white
    };
    std::vector<TPointf> coords;
    for (const Texel &t : bake.texels) coords.push_back(textureCoordOf(t));
    return {toRegion(bake.positions, coords, bake.quads), bake};
}

// The picture model of one expression: the eight regions that rendering
// addresses, as creation from a photo would leave them for a face fitted
// exactly to the generic head: regions 0 to 4 from the expression mesh, the
// teeth moved by the library's placeTeeth, the sock built by its
// buildSockRegion, region 6 empty, region 7 rebuilt by every
// render; and the baked texture.
struct PictureModel {
    std::vector<TRegion> regions;
    RgbaImage texture;
};

PictureModel pictureModel(const GenericHead &head, const HeadMesh &mesh, int expression) {
    TextureAtlas atlas;
    PictureModel model;
    model.regions.resize(kFittedRegionCount);
    const AtlasRegion surface = headOnAtlas(head, mesh[kHeadRegion]);
    atlas.bake(surface.bake);
    model.regions[kHeadRegion] = surface.region;
    for (int eye = 0; eye < 2; ++eye) {
        const AtlasRegion ball = eyeballOnAtlas(mesh[kRightEyeRegion + eye], eye);
        atlas.bake(ball.bake);
        model.regions[kRightEyeRegion + eye] = ball.region;
    }
    for (int r : {kUpperTeethRegion, kLowerTeethRegion}) {
        std::vector<TPointf> coords;
        for (const TexCoord &t : mesh[r].texCoords)
            coords.push_back({static_cast<float>(t.u), static_cast<float>(t.v)});
        model.regions[r] = toRegion(mesh[r].vertices, coords, mesh[r].quads);
    }
    if (!kelmo::placeTeeth(model.regions, expression) || !kelmo::buildSockRegion(model.regions))
        throw std::runtime_error("the generic head lacks a vertex of placeTeeth or buildSockRegion");
    model.texture = atlas.finish();
    return model;
}

PictureModel pictureModel(const GenericHead &head, int expression) {
    return pictureModel(head, head.expressions[expression], expression);
}

// The closed neutral mesh moved `weight` of the way toward a morph's target
// mesh, as the morph's displacements move it at that weight.
HeadMesh morphedMesh(const GenericHead &head, const MorphDefinition &morph, double weight) {
    HeadMesh mesh = head.expressions[kCloseNeutral];
    const HeadMesh target = buildMesh(head, morph.params);
    for (std::size_t r = 0; r < mesh.size(); ++r)
        for (std::size_t v = 0; v < mesh[r].vertices.size(); ++v)
            mesh[r].vertices[v] += (target[r].vertices[v] - mesh[r].vertices[v]) * weight;
    return mesh;
}

// ---- Rendering through the library -----------------------------------------------

// One model of the library's model table, freed on leaving.
class LibraryModel {
public:
    explicit LibraryModel(const RgbaImage &texture) {
        if (TAVO_InitModel(&handle_, 1) != 0) throw std::runtime_error("TAVO_InitModel failed");
        ImageHandle image = -1;
        if (TAVO_LoadImageFromBuffer(&image, texture.rgba.data(), texture.width, texture.height, texture.width * 4,
                                     TAVO_IMAGEMODE_COLOR_ALPHA) != TAVOIMG_OK)
            throw std::runtime_error("cannot make the texture image");
        const int32_t status = TAVO_SetModelTexture(handle_, image);
        TAVO_FreeImage(image);
        if (status != 0) throw std::runtime_error("TAVO_SetModelTexture failed");
        // The teeth drawn with the data directory's teeth images, blended by
        // their alpha.
        TAVO_ChooseTeethTextures(handle_, false);
    }
    LibraryModel(const LibraryModel &) = delete;
    LibraryModel &operator=(const LibraryModel &) = delete;
    ~LibraryModel() { TAVO_FreeModel(handle_); }

    // Renders `regions` turned by `yawDegrees` about the vertical axis into
    // a picture of size x size pixels over the background.
    //
    // The head is turned by turning its vertices (rotateRegions), not with
    // TAVO_RotateModel: the renderer's depth key is taken from the
    // untransformed z, which is right
    // for the small turns of an animated face but in a profile would let the
    // far side of the head compete with the near one.
    Picture render(const std::vector<TRegion> &regions, double yawDegrees, int size) const {
        TModel &model = *kelmo::resolveModel(handle_);
        model.regions = regions;
        kelmo::rotateRegions(model, 0.0f, static_cast<float>(yawDegrees * std::numbers::pi / 180.0), 0.0f);
        const int full = size * kSupersample;
        TAVO_BeginRendering(full, full);
        ImageHandle image = -1;
        TAVO_CreateEmptyImage(&image);
        int32_t bytes = 0;
        std::vector<uint8_t> rgba;
        if (TAVO_RenderModelToImage(handle_, image) == 0 &&
            TAVO_GetImageBufferSize(image, &bytes, TAVO_IMAGEMODE_COLOR_ALPHA) == TAVOIMG_OK &&
            bytes == full * full * 4) {
            rgba.resize(static_cast<std::size_t>(bytes));
            TAVO_SaveImageToBuffer(image, rgba.data(), TAVO_IMAGEMODE_COLOR_ALPHA);
        }
        TAVO_FreeImage(image);
        TAVO_BeginRendering(0, 0);
        if (rgba.empty()) throw std::runtime_error("TAVO_RenderModelToImage failed");
        // The fourth byte is the texture's alpha where the head was drawn
        // (255 here) and 0 where nothing was: the cover over the background.
        Picture picture{size, size, std::vector<uint8_t>(std::size_t(size) * size * 3)};
        const double background[3] = {kBackground.r * 255.0, kBackground.g * 255.0, kBackground.b * 255.0};
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                double sum[3] = {0.0, 0.0, 0.0};
                for (int sy = 0; sy < kSupersample; ++sy)
                    for (int sx = 0; sx < kSupersample; ++sx) {
                        const uint8_t *p =
                            &rgba[(std::size_t(y * kSupersample + sy) * full + (x * kSupersample + sx)) * 4];
                        const double cover = p[3] / 255.0;
                        for (int c = 0; c < 3; ++c) sum[c] += p[c] * cover + background[c] * (1.0 - cover);
                    }
                for (int c = 0; c < 3; ++c)
                    picture.rgb[(std::size_t(y) * size + x) * 3 + c] =
                        static_cast<uint8_t>(sum[c] / (kSupersample * kSupersample) + 0.5);
            }
        return picture;
    }

private:
    int32_t handle_ = -1;
};

// ---- Composition ----------------------------------------------------------------

// 3 x 5 digit glyphs, one row per string, '#' set.
constexpr const char *kDigits[10][5] = {
    {"###", "#.#", "#.#", "#.#", "###"}, {".#.", "##.", ".#.", ".#.", "###"}, {"###", "..#", "###", "#..", "###"},
    {"###", "..#", "###", "..#", "###"}, {"#.#", "#.#", "###", "..#", "..#"}, {"###", "#..", "###", "..#", "###"},
    {"###", "#..", "###", "#.#", "###"}, {"###", "..#", ".#.", ".#.", ".#."}, {"###", "#.#", "###", "#.#", "###"},
    {"###", "#.#", "###", "..#", "###"}};

void setPixel(Picture &p, int x, int y, RGB c) {
    if (x < 0 || y < 0 || x >= p.width || y >= p.height) return;
    uint8_t *o = &p.rgb[(std::size_t(y) * p.width + x) * 3];
    o[0] = static_cast<uint8_t>(std::clamp(c.r, 0.0, 1.0) * 255.0 + 0.5);
    o[1] = static_cast<uint8_t>(std::clamp(c.g, 0.0, 1.0) * 255.0 + 0.5);
    o[2] = static_cast<uint8_t>(std::clamp(c.b, 0.0, 1.0) * 255.0 + 0.5);
}

// A filled disc and, when `label` is not negative, its number beside it on a
// white halo.
void drawMarker(Picture &picture, TPointf at, RGB colour, int label) {
    const int cx = static_cast<int>(std::lround(at.x)), cy = static_cast<int>(std::lround(at.y));
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            if (dx * dx + dy * dy <= 5) setPixel(picture, cx + dx, cy + dy, colour);
    if (label < 0) return;
    const std::string text = std::to_string(label);
    const int x0 = cx + 4, y0 = cy - 2;
    auto glyphs = [&](auto plot) {
        for (std::size_t i = 0; i < text.size(); ++i)
            for (int r = 0; r < 5; ++r)
                for (int col = 0; col < 3; ++col)
                    if (kDigits[text[i] - '0'][r][col] == '#') plot(x0 + int(i) * 4 + col, y0 + r);
    };
    glyphs([&](int x, int y) {
        for (int hy = -1; hy <= 1; ++hy)
            for (int hx = -1; hx <= 1; ++hx) setPixel(picture, x + hx, y + hy, RGB{1.0, 1.0, 1.0});
    });
    glyphs([&](int x, int y) { setPixel(picture, x, y, RGB{0.0, 0.0, 0.0}); });
}

Picture besideEachOther(const std::vector<Picture> &pictures) {
    Picture out;
    for (const Picture &p : pictures) {
        out.width += p.width;
        out.height = std::max(out.height, p.height);
    }
    out.rgb.assign(std::size_t(out.width) * out.height * 3, 255);
    int x0 = 0;
    for (const Picture &p : pictures) {
        for (int y = 0; y < p.height; ++y)
            std::copy_n(&p.rgb[std::size_t(y) * p.width * 3], std::size_t(p.width) * 3,
                        &out.rgb[(std::size_t(y) * out.width + x0) * 3]);
        x0 += p.width;
    }
    return out;
}

void savePicture(const Picture &picture, const std::string &path) {
    ImageHandle image = -1;
    int32_t status = TAVO_LoadImageFromBuffer(&image, picture.rgb.data(), picture.width, picture.height,
                                              picture.width * 3, TAVO_IMAGEMODE_COLOR);
    if (status == TAVOIMG_OK) {
        status = TAVO_SaveImageToFile(image, path.c_str());
        TAVO_FreeImage(image);
    }
    if (status != TAVOIMG_OK) throw std::runtime_error("cannot write " + path);
}

// Front, three-quarter (35 degrees) and profile, the head turned to show its
// left side (+x).
Picture expressionPicture(const GenericHead &head, int expression, int size) {
    const PictureModel model = pictureModel(head, expression);
    const LibraryModel library(model.texture);
    std::vector<Picture> views;
    for (double yaw : {0.0, 35.0, 90.0}) views.push_back(library.render(model.regions, yaw, size));
    return besideEachOther(views);
}

// The alpha mask (left) and the numbered landmarks on the closed neutral face
// (right), which the library renders with the default camera that places the
// landmarks of alpha.grd.
Picture alphaAndLandmarksPicture(const GenericHead &head, int size) {
    const auto points = projectedLandmarks(head, kCloseNeutral, size);
    const RgbaImage mask = makeAlphaMask(points, size);
    Picture left{size, size, std::vector<uint8_t>(std::size_t(size) * size * 3)};
    for (std::size_t k = 0; k < std::size_t(size) * size; ++k)
        for (int c = 0; c < 3; ++c) left.rgb[k * 3 + c] = mask.rgba[k * 4 + 3];
    const PictureModel model = pictureModel(head, kCloseNeutral);
    Picture right = LibraryModel(model.texture).render(model.regions, 0.0, size);
    for (int k = 0; k < kLandmarkCount; ++k) {
        const LandmarkRole role = landmarkScheme()[k].role;
        const RGB colour = role == LandmarkRole::kEyeball    ? RGB{0.1, 0.3, 0.95}
                           : role == LandmarkRole::kExcluded ? RGB{0.95, 0.5, 0.0}
                                                             : RGB{0.0, 0.6, 0.1};
        drawMarker(left, points[k], colour, -1);
        drawMarker(right, points[k], colour, k);
    }
    return besideEachOther({left, right});
}

// The closed neutral head turned from -45 to +45 degrees, then its morphs at
// the front: jaw_open at 0.5 and 1, smile and blink at 1.
Picture viewsPicture(const GenericHead &head, int size) {
    const PictureModel front = pictureModel(head, kCloseNeutral);
    std::vector<Picture> views;
    for (double yaw : {-45.0, -30.0, 0.0, 30.0, 45.0})
        views.push_back(LibraryModel(front.texture).render(front.regions, yaw, size));
    return besideEachOther(views);
}

Picture morphsPicture(const GenericHead &head, int size) {
    std::vector<Picture> views;
    const std::pair<const char *, double> shown[] = {
        {"jaw_open.vtx", 0.5}, {"jaw_open.vtx", 1.0}, {"smile.vtx", 1.0}, {"blink.vtx", 1.0}};
    for (const auto &[file, weight] : shown)
        for (const MorphDefinition &morph : morphDefinitions())
            if (std::string(morph.fileName) == file) {
                const bool open = std::string(file) == "jaw_open.vtx";
                const PictureModel model =
                    pictureModel(head, morphedMesh(head, morph, weight), open ? kOpenNeutral : kCloseNeutral);
                views.push_back(LibraryModel(model.texture).render(model.regions, 0.0, size));
            }
    return besideEachOther(views);
}

}  // namespace

void writePictures(const GenericHead &head, const std::string &dataDirectory, const std::string &directory) {
    std::filesystem::create_directories(directory);
    if (TAVO_InitKelmo(dataDirectory.c_str()) != 0)
        throw std::runtime_error("TAVO_InitKelmo cannot read " + dataDirectory);
    try {
        static constexpr const char *kNames[kExpressionCount] = {
            "generic_head_close_neutral.png", "generic_head_open_neutral.png", "generic_head_close_smile.png",
            "generic_head_open_smile.png"};
        for (int e = 0; e < kExpressionCount; ++e) savePicture(expressionPicture(head, e, 300), directory + kNames[e]);
        savePicture(alphaAndLandmarksPicture(head, 400), directory + "generic_head_alpha_landmarks.png");
        savePicture(viewsPicture(head, 240), directory + "generic_head_views.png");
        savePicture(morphsPicture(head, 240), directory + "generic_head_morphs.png");
    } catch (...) {
        TAVO_FinalizeKelmo();
        throw;
    }
    TAVO_FinalizeKelmo();
}

}  // namespace kelmo::generic_head
