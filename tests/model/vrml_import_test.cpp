// Part 2.4: TAVO_LoadModelVRML, with the visibility file under a drive root of
// the test's own (TAVO_SetDriveRoot, the extension that maps the drive "C:").
#include "model/vrml_import.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "frame/file_access.h"
#include "frame/library_state.h"
#include "kelmo.h"
#include "model/model_table.h"
#include "support/model_support.h"

namespace kelmo {
namespace {

using test::regionListsBitwiseEqual;

// ---- Writing VRML files in the reader's layout -------------------------------------

struct Shape {
    std::vector<std::array<float, 3>> points;
    std::vector<std::array<float, 2>> texturePoints;
    std::vector<Quad> quads;
    std::vector<Quad> textureQuads;
};

std::string number(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

std::string quadLine(const Quad &quad) {
    return "        " + std::to_string(quad[0]) + ", " + std::to_string(quad[1]) + ", " + std::to_string(quad[2]) + ", " +
           std::to_string(quad[3]) + ", -1,\n";
}

// One shape as an exporter writes it: the four lists each open on a line
// holding "[", one entry per line, and close on a line of its own.
std::string shapeText(const Shape &shape, int index) {
    std::string text = "DEF shape" + std::to_string(index) + " Shape {\n";
    text += "  appearance Appearance { material Material { diffuseColor 1 1 1 } }\n";
    text += "  geometry IndexedFaceSet {\n    coord Coordinate {\n      point [\n";
    for (const auto &p : shape.points) text += "        " + number(p[0]) + " " + number(p[1]) + " " + number(p[2]) + ",\n";
    text += "      ]\n    }\n    texCoord TextureCoordinate {\n      point [\n";
    for (const auto &t : shape.texturePoints) text += "        " + number(t[0]) + " " + number(t[1]) + ",\n";
    text += "      ]\n    }\n    coordIndex [\n";
    for (const Quad &q : shape.quads) text += quadLine(q);
    text += "    ]\n    texCoordIndex [\n";
    for (const Quad &q : shape.textureQuads) text += quadLine(q);
    text += "    ]\n  }\n}\n";
    return text;
}

std::string vrmlText(const std::vector<Shape> &shapes) {
    std::string text = "#VRML V2.0 utf8\n\n";
    for (std::size_t k = 0; k < shapes.size(); ++k) text += shapeText(shapes[k], static_cast<int>(k));
    return text;
}

// A quad patch shape: `columns` x `rows` quads over a grid of points, texture
// points one per point, texture quads equal to the quads.
Shape gridShape(int columns, int rows, float z) {
    Shape shape;
    for (int j = 0; j <= rows; ++j)
        for (int i = 0; i <= columns; ++i) {
            shape.points.push_back({static_cast<float>(i) + 0.5f, static_cast<float>(j) - 3.25f, z + 0.125f * i});
            shape.texturePoints.push_back({static_cast<float>(i) / columns, static_cast<float>(j) / rows});
        }
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i) {
            const int32_t a = j * (columns + 1) + i;
            shape.quads.push_back({a, a + 1, a + columns + 2, a + columns + 1});
        }
    shape.textureQuads = shape.quads;
    return shape;
}

// Six small shapes; shape 2 is region 0.
std::vector<Shape> smallHead() {
    std::vector<Shape> shapes;
    for (int k = 0; k < 6; ++k) shapes.push_back(gridShape(2 + k % 2, 1 + k % 3, 5.0f * k + 1.0f));
    return shapes;
}

// Part 2.4 steps 4.1 and 5, written from the spec: times the float nearest
// 0.03, then y cos 0.4 - z sin 0.4 and z cos 0.4 + y sin 0.4.
TVector3f importedPoint(float x, float y, float z) {
    const float sx = x * 0.03f, sy = y * 0.03f, sz = z * 0.03f;
    const float c = std::cos(0.4f), s = std::sin(0.4f);
    return {sx, c * sy - s * sz, c * sz + s * sy};
}

// A region as the import gives regions 1 to 5: every point, texture point,
// quad and texture quad as read.
TRegion importedRegion(const Shape &shape) {
    TRegion region;
    for (const auto &p : shape.points) region.vertices.push_back(importedPoint(p[0], p[1], p[2]));
    for (const auto &t : shape.texturePoints) region.textureCoords.push_back({t[0], t[1]});
    region.quads = shape.quads;
    region.textureQuads = shape.textureQuads;
    return region;
}

// Part 2.4, Copying step 2, written independently of the library: the kept
// quads are the visible ones and the fixed ones that exist; the vertices the
// visible quads use come first in index order, then the fixed quads' further
// corners in list and corner order.
TRegion expectedHeadRegion(const Shape &shape, const std::vector<uint8_t> &visibilityBytes) {
    const TRegion read = importedRegion(shape);
    std::set<std::size_t> kept;
    for (std::size_t q = 0; q < shape.quads.size(); ++q)
        if (q < visibilityBytes.size() && visibilityBytes[q] == 1) kept.insert(q);
    std::set<int32_t> used;
    for (const std::size_t q : kept) used.insert(shape.quads[q].begin(), shape.quads[q].end());
    std::map<int32_t, int32_t> renumbered;
    TRegion region;
    auto take = [&](int32_t vertex) {
        renumbered[vertex] = static_cast<int32_t>(region.vertices.size());
        region.vertices.push_back(read.vertices[static_cast<std::size_t>(vertex)]);
        region.textureCoords.push_back(read.textureCoords[static_cast<std::size_t>(vertex)]);
    };
    for (const int32_t vertex : used) take(vertex);  // std::set: increasing order
    for (const int32_t fixed : kVrmlFixedQuads) {
        if (static_cast<std::size_t>(fixed) >= shape.quads.size()) continue;
        kept.insert(static_cast<std::size_t>(fixed));
        for (const int32_t corner : shape.quads[static_cast<std::size_t>(fixed)])
            if (renumbered.count(corner) == 0) take(corner);
    }
    for (const std::size_t q : kept) {
        Quad quad;
        for (std::size_t k = 0; k < 4; ++k) quad[k] = renumbered.at(shape.quads[q][k]);
        region.quads.push_back(quad);
        region.textureQuads.push_back(quad);
    }
    return region;
}

std::vector<TRegion> expectedRegions(const std::vector<Shape> &shapes, const std::vector<uint8_t> &visibility) {
    std::vector<TRegion> regions(6);
    for (std::size_t k = 0; k < 6; ++k) {
        const std::size_t r = kVrmlShapeRegions[k];
        regions[r] = r == 0 ? expectedHeadRegion(shapes[k], visibility) : importedRegion(shapes[k]);
    }
    return regions;
}

bool sameBits(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b); }

// ---- The fixture: a drive root of the test's own ------------------------------

class VrmlImport : public ::testing::Test {
protected:
    void SetUp() override {
        destroyAllModels();
        root_ = ::testing::TempDir() + "kelmo_vrml_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ + "/orvane");
#if defined(_WIN32)
        // Windows opens the visibility file at its real place on drive C:.
        std::filesystem::create_directories("C:/orvane");
#endif
        ASSERT_EQ(TAVO_SetDriveRoot(root_.c_str()), TAVO_OK);
        ASSERT_EQ(TAVO_InitModel(&handle_, 0), TAVO_OK);
    }
    void TearDown() override {
        destroyAllModels();
        TAVO_SetDriveRoot("/");
        std::filesystem::remove_all(root_);
#if defined(_WIN32)
        std::filesystem::remove("C:/orvane/VisibleMeshes.vsl");
#endif
    }

#if defined(_WIN32)
    std::string visibilityPath() const { return "C:/orvane/VisibleMeshes.vsl"; }
#else
    std::string visibilityPath() const { return root_ + "/orvane/VisibleMeshes.vsl"; }
#endif
    void writeVisibility(const std::vector<uint8_t> &bytes) const { test::writeBytesToFile(visibilityPath(), bytes); }
    std::string writeVrml(const std::string &text, const std::string &name = "head.wrl") const {
        const std::string path = root_ + "/" + name;
        test::writeTextToFile(path, text);
        return path;
    }
    TModel &target() const { return *resolveModel(handle_); }

    // Imports `text` and expects failure with the model unchanged.
    void expectRefused(const std::string &text, VrmlStatus reason) {
        const std::string path = writeVrml(text);
        std::vector<TRegion> regions;
        EXPECT_EQ(importVrml(path, regions), reason);
        const std::vector<TRegion> before = target().regions;
        EXPECT_EQ(TAVO_LoadModelVRML(path.c_str(), handle_), TAVO_ERR_GENERAL);
        EXPECT_TRUE(regionListsBitwiseEqual(before, target().regions));
    }

    std::string root_;
    int32_t handle_ = -1;
};

// ---- A hand-written head ---------------------------------------------------------

// Six shapes in the reader's layout. Shape 2 is region 0: ten points, three
// quads of which the visibility file hides the middle one, whose vertices 4
// and 5 no other quad uses.
const char *const kHandWrittenHead = R"(#VRML V2.0 utf8
DEF eyeL Shape {
  appearance Appearance { texture ImageTexture { url "file:///C:/orvane/eye.png" } }
  geometry IndexedFaceSet {
    coord Coordinate {
      point [
        1 2 3,
        4 5 6,
        7 8 9
      ]
    }
    texCoord TextureCoordinate {
      point [
        0 0,
        1 0,
        1 1
      ]
    }
    coordIndex [
      0, 1, 2, 2, -1
    ]
    texCoordIndex [
      0, 1, 2, 2, -1
    ]
  }
}
DEF eyeR Shape {
  geometry IndexedFaceSet {
    coord Coordinate { point [
        -1 -2 -3,
        -4 -5 -6
      ]
    }
    texCoord TextureCoordinate { point [
        0.25 0.75,
      ]
    }
    coordIndex [
      1, 0, 1, 0, -1,
    ]
    texCoordIndex [
      0, 0, 0, 0, -1,
    ]
  }
}
DEF head Shape {
  geometry IndexedFaceSet {
    coord Coordinate {
      point [
        10 20 30,
        11 19 32,
        12 18 34,
        13 17 36,
        14 16 38,
        15 15 40,
        16 14 42,
        17 13 44,
        18 12 46,
        19 11 48,
      ]
    }
    texCoord TextureCoordinate {
      point [
        0.0 0.5,
        0.1 0.5,
        0.2 0.5,
        0.3 0.5,
        0.4 0.5,
        0.5 0.5,
        0.6 0.5,
        0.7 0.5,
        0.8 0.5,
        0.9 0.5,
      ]
    }
    coordIndex [
      0, 1, 2, 3, -1,
      3, 4, 5, 6, -1,
      6, 7, 8, 9, -1,
    ]
    texCoordIndex [
      9, 8, 7, 6, -1,
      5, 4, 3, 2, -1,
      1, 0, 1, 0, -1,
    ]
  }
}
DEF sock Shape {
  geometry IndexedFaceSet {
    coord Coordinate { point [
        100 0 -100,
      ]
    }
    texCoord TextureCoordinate { point [
        0.5 0.5,
      ]
    }
    coordIndex [
      0, 0, 0, 0, -1,
    ]
    texCoordIndex [
      0, 0, 0, 0, -1,
    ]
  }
}
DEF teethLower Shape {
  geometry IndexedFaceSet {
    coord Coordinate { point [
        2 -4 8,
        3 -4 8,
      ]
    }
    texCoord TextureCoordinate { point [
        0.5 1,
      ]
    }
    coordIndex [
      0, 1, 1, 0, -1,
    ]
    texCoordIndex [
      0, 0, 0, 0, -1,
    ]
  }
}
DEF teethUpper Shape {
  geometry IndexedFaceSet {
    coord Coordinate { point [
        2 4 8,
      ]
    }
    texCoord TextureCoordinate { point [
        0.5 0,
      ]
    }
    coordIndex [
      0, 0, 0, 0, -1,
    ]
    texCoordIndex [
      0, 0, 0, 0, -1,
    ]
  }
}
)";

TEST_F(VrmlImport, HandWrittenHeadImportsVertexByVertexAsWorkedOutByHand) {
    writeVisibility({1, 0, 1});
    const std::string path = writeVrml(kHandWrittenHead);
    ASSERT_EQ(TAVO_LoadModelVRML(path.c_str(), handle_), TAVO_OK);
    const std::vector<TRegion> &regions = target().regions;
    ASSERT_EQ(regions.size(), 6u);

    // Region 0: quads 0 and 2 kept; vertices 4 and 5 dropped, 6 to 9 renumbered
    // 4 to 7; texture coordinates by vertex index; texture quads = quads.
    const TRegion &head = regions[0];
    const std::vector<int> keptVertices = {0, 1, 2, 3, 6, 7, 8, 9};
    ASSERT_EQ(head.vertices.size(), keptVertices.size());
    for (std::size_t k = 0; k < keptVertices.size(); ++k) {
        const int i = keptVertices[k];
        const TVector3f expected = importedPoint(static_cast<float>(10 + i), static_cast<float>(20 - i),
                                                 static_cast<float>(30 + 2 * i));
        EXPECT_TRUE(sameBits(head.vertices[k].x, expected.x) && sameBits(head.vertices[k].y, expected.y) &&
                    sameBits(head.vertices[k].z, expected.z))
            << k;
        EXPECT_FLOAT_EQ(head.textureCoords[k].x, 0.1f * static_cast<float>(i));
        EXPECT_EQ(head.textureCoords[k].y, 0.5f);
    }
    // Worked out by hand: (10, 20, 30) x 0.03 = (0.3, 0.6, 0.9), tilted:
    // y = 0.6 cos 0.4 - 0.9 sin 0.4 = 0.2021596, z = 0.9 cos 0.4 + 0.6 sin 0.4 = 1.0626060.
    EXPECT_NEAR(head.vertices[0].x, 0.3, 1e-7);
    EXPECT_NEAR(head.vertices[0].y, 0.2021596, 1e-6);
    EXPECT_NEAR(head.vertices[0].z, 1.0626060, 1e-6);
    EXPECT_EQ(head.quads, (std::vector<Quad>{{0, 1, 2, 3}, {4, 5, 6, 7}}));
    EXPECT_EQ(head.textureQuads, head.quads);

    // Regions 1 to 5 as read: shapes 0, 1, 3, 4, 5 fill regions 1, 2, 5, 4, 3.
    EXPECT_EQ(regions[1].vertices.size(), 3u);
    EXPECT_NEAR(regions[1].vertices[1].x, 0.12, 1e-7);                                            // 4 x 0.03
    EXPECT_NEAR(regions[1].vertices[1].y, 0.15 * std::cos(0.4) - 0.18 * std::sin(0.4), 1e-7);  // (5, 6) x 0.03
    EXPECT_NEAR(regions[1].vertices[1].z, 0.18 * std::cos(0.4) + 0.15 * std::sin(0.4), 1e-7);
    EXPECT_EQ(regions[1].quads, (std::vector<Quad>{{0, 1, 2, 2}}));
    EXPECT_EQ(regions[1].textureCoords.size(), 3u);
    EXPECT_EQ(regions[2].vertices.size(), 2u);
    EXPECT_NEAR(regions[2].vertices[0].x, -0.03, 1e-8);
    EXPECT_EQ(regions[2].textureCoords.size(), 1u);
    EXPECT_EQ(regions[2].textureCoords[0].x, 0.25f);
    EXPECT_EQ(regions[2].quads, (std::vector<Quad>{{1, 0, 1, 0}}));
    EXPECT_EQ(regions[5].vertices.size(), 1u);  // the sock, (100, 0, -100)
    EXPECT_NEAR(regions[5].vertices[0].x, 3.0, 1e-6);
    EXPECT_NEAR(regions[5].vertices[0].y, 3.0 * std::sin(0.4), 1e-6);
    EXPECT_NEAR(regions[5].vertices[0].z, -3.0 * std::cos(0.4), 1e-6);
    EXPECT_EQ(regions[4].vertices.size(), 2u);  // lower teeth
    EXPECT_EQ(regions[4].textureCoords[0].y, 1.0f);
    EXPECT_EQ(regions[3].vertices.size(), 1u);  // upper teeth
    EXPECT_EQ(regions[3].textureCoords[0].y, 0.0f);
}

TEST_F(VrmlImport, EveryPrefixOfTheHandWrittenFileFailsCleanlyUntilItsLastCloseBracket) {
    writeVisibility({1, 0, 1});
    const std::string text = kHandWrittenHead;
    const std::size_t last = text.rfind(']');
    const std::string path = root_ + "/prefix.wrl";
    for (std::size_t length = 0; length <= text.size(); ++length) {
        test::writeTextToFile(path, text.substr(0, length));
        destroyAllModels();
        ASSERT_EQ(TAVO_InitModel(&handle_, 0), TAVO_OK);
        target().regions.resize(2);
        target().regions[1].vertices = {{7, 7, 7}};
        const std::vector<TRegion> before = target().regions;
        const int32_t status = TAVO_LoadModelVRML(path.c_str(), handle_);
        if (length > last) {
            ASSERT_EQ(status, TAVO_OK) << length;
        } else {
            ASSERT_EQ(status, TAVO_ERR_GENERAL) << length;
            ASSERT_TRUE(regionListsBitwiseEqual(before, target().regions)) << length;
        }
    }
}

// ---- The edge cases of Part 2.4 ------------------------------------------------------

// The small head with shape 0's (region 1's) points list made of `entries`
// and its closing line, and quads that name vertex 0 only.
std::string smallHeadWithPointEntries(const std::string &entries) {
    std::string text = vrmlText(smallHead());
    const std::string opening = "      point [\n";
    const std::size_t start = text.find(opening) + opening.size();
    text.replace(start, text.find("      ]\n", start) - start, entries);
    const std::size_t coordIndex = text.find("coordIndex [\n") + 13;
    text.replace(coordIndex, text.find("    ]\n", coordIndex) - coordIndex, "        0, 0, 0, 0, -1,\n");
    const std::size_t texIndex = text.find("texCoordIndex [\n") + 16;
    text.replace(texIndex, text.find("    ]\n", texIndex) - texIndex, "        0, 0, 0, 0, -1,\n");
    return text;
}

TEST_F(VrmlImport, PointsListClosingOnTheLineAfterTheOpeningLineStillConvertsThatLineAsOnePoint) {
    // "point [", then "4 5 6 ]": the test line is still the opening line when
    // the first entry is examined, so that line is converted; the next line
    // (the usual closing line) ends the list.
    writeVisibility({1});
    const std::string path = writeVrml(smallHeadWithPointEntries("        4 5 6 ]\n"));
    ASSERT_EQ(TAVO_LoadModelVRML(path.c_str(), handle_), TAVO_OK);
    ASSERT_EQ(target().regions[1].vertices.size(), 1u);
    const TVector3f expected = importedPoint(4, 5, 6);
    EXPECT_TRUE(sameBits(target().regions[1].vertices[0].x, expected.x));
    EXPECT_TRUE(sameBits(target().regions[1].vertices[0].y, expected.y));
    EXPECT_TRUE(sameBits(target().regions[1].vertices[0].z, expected.z));
}

TEST_F(VrmlImport, CloseBracketLineRightAfterTheOpeningLineBecomesAPointOfZerosAndTheListGoesOn) {
    // "point [", "]", "1 2 3,", "]": the first "]" line is converted (nothing
    // in it converts, so the point is (0, 0, 0)) and does not end the list.
    writeVisibility({1});
    const std::string path = writeVrml(smallHeadWithPointEntries("      ]\n        1 2 3,\n"));
    ASSERT_EQ(TAVO_LoadModelVRML(path.c_str(), handle_), TAVO_OK);
    const std::vector<TVector3f> &vertices = target().regions[1].vertices;
    ASSERT_EQ(vertices.size(), 2u);
    EXPECT_EQ(vertices[0].x, 0.0f);
    EXPECT_EQ(vertices[0].y, 0.0f);
    EXPECT_EQ(vertices[0].z, 0.0f);
    EXPECT_TRUE(sameBits(vertices[1].z, importedPoint(1, 2, 3).z));
}

TEST_F(VrmlImport, PointLine10_20_30BecomesPoint03_06_09BeforeTheTiltAndTiltedAfterIt) {
    writeVisibility({1});
    std::vector<Shape> shapes = smallHead();
    shapes[0].points[0] = {10, 20, 30};
    const std::string path = writeVrml(vrmlText(shapes));
    ASSERT_EQ(TAVO_LoadModelVRML(path.c_str(), handle_), TAVO_OK);
    const TVector3f v = target().regions[1].vertices[0];
    // Before the tilt: each coordinate times the float nearest 0.03.
    const float x = 10.0f * 0.03f, y = 20.0f * 0.03f, z = 30.0f * 0.03f;
    EXPECT_TRUE(sameBits(v.x, x));
    EXPECT_TRUE(sameBits(v.y, std::cos(0.4f) * y - std::sin(0.4f) * z));
    EXPECT_TRUE(sameBits(v.z, std::cos(0.4f) * z + std::sin(0.4f) * y));
    EXPECT_NEAR(v.y, 0.6 * std::cos(0.4) - 0.9 * std::sin(0.4), 1e-7);
    EXPECT_NEAR(v.z, 0.9 * std::cos(0.4) + 0.6 * std::sin(0.4), 1e-7);
}

TEST_F(VrmlImport, TargetModelWithNineRegionsHasSixAfterTheImport) {
    writeVisibility({1, 1, 1});
    target().regions.resize(9);
    target().regions[8].vertices = {{1, 2, 3}};
    const std::string path = writeVrml(vrmlText(smallHead()));
    ASSERT_EQ(TAVO_LoadModelVRML(path.c_str(), handle_), TAVO_OK);
    EXPECT_EQ(target().regions.size(), 6u);
}

TEST_F(VrmlImport, ImportReplacesTheRegionsOnlyAndClearsAnAppendedRegionBeyondTheSix) {
    writeVisibility({1, 1, 1});
    TModel &model = target();
    model.regions.resize(9);
    model.extraRegion = 8;
    model.featurePoints[3] = {1, 2, 3};
    model.featureVertices[3] = 17;
    model.rotation = {10, 20, 30};
    model.scale = {2, 2, 2};
    model.perspective = 33;
    model.deformation[12] = 5;
    model.faceGrid[7] = {4, 5};
    const ImageHandle texture = model.texture;
    const std::string path = writeVrml(vrmlText(smallHead()));
    ASSERT_EQ(TAVO_LoadModelVRML(path.c_str(), handle_), TAVO_OK);
    EXPECT_EQ(model.extraRegion, -1);
    EXPECT_EQ(model.featurePoints[3].y, 2.0f);
    EXPECT_EQ(model.featureVertices[3], 17);
    EXPECT_EQ(model.rotation[2], 30.0f);
    EXPECT_EQ(model.scale[0], 2.0f);
    EXPECT_EQ(model.perspective, 33.0f);
    EXPECT_EQ(model.deformation[12], 5.0f);
    EXPECT_EQ(model.faceGrid[7].y, 5.0f);
    EXPECT_EQ(model.texture, texture);
    // An appended region that still exists is kept.
    model.extraRegion = 5;
    ASSERT_EQ(TAVO_LoadModelVRML(path.c_str(), handle_), TAVO_OK);
    EXPECT_EQ(model.extraRegion, 5);
}

// Region 0 of 30 x 20 = 600 quads: the fixed quads 232, 417, 455, 475 and 476
// exist in it.
std::vector<Shape> headWithLargeRegion0() {
    std::vector<Shape> shapes = smallHead();
    shapes[2] = gridShape(30, 20, 2.0f);
    return shapes;
}

TEST_F(VrmlImport, QuadHiddenInTheVisibilityFileButAmongTheFixedQuadsRemains) {
    const std::vector<Shape> shapes = headWithLargeRegion0();
    std::vector<uint8_t> visibility(600, 0);
    for (std::size_t q = 0; q < 600; q += 7) visibility[q] = 1;
    visibility[232] = 0;
    visibility[455] = 0;
    visibility[476] = 1;  // both visible and fixed: kept once
    writeVisibility(visibility);
    const std::string path = writeVrml(vrmlText(shapes));
    ASSERT_EQ(TAVO_LoadModelVRML(path.c_str(), handle_), TAVO_OK);
    EXPECT_TRUE(regionListsBitwiseEqual(expectedRegions(shapes, visibility), target().regions));
    // Quad 232's corners are among the kept quads' corners.
    const TRegion &head = target().regions[0];
    const std::size_t visibleCount = static_cast<std::size_t>(std::count(visibility.begin(), visibility.end(), 1));
    EXPECT_EQ(head.quads.size(), visibleCount + 4);  // + 232, 417, 455, 475
}

TEST_F(VrmlImport, FixedQuadsAloneKeepTheirCornersNumberedInListOrder) {
    const std::vector<Shape> shapes = headWithLargeRegion0();
    writeVisibility(std::vector<uint8_t>(600, 0));  // everything hidden
    const std::string path = writeVrml(vrmlText(shapes));
    ASSERT_EQ(TAVO_LoadModelVRML(path.c_str(), handle_), TAVO_OK);
    const TRegion &head = target().regions[0];
    // In list order the fixed quads present are 455, 475, 232, 476, 417; each
    // quad of the 30-wide grid has corners a, a+1, a+32, a+31 with a = q + q / 30.
    const TRegion read = importedRegion(shapes[2]);
    std::vector<int32_t> order;
    for (const int32_t q : {455, 475, 232, 476, 417})
        for (const int32_t c : shapes[2].quads[static_cast<std::size_t>(q)])
            if (std::find(order.begin(), order.end(), c) == order.end()) order.push_back(c);
    ASSERT_EQ(head.vertices.size(), order.size());
    for (std::size_t k = 0; k < order.size(); ++k)
        EXPECT_TRUE(sameBits(head.vertices[k].z, read.vertices[static_cast<std::size_t>(order[k])].z)) << k;
    ASSERT_EQ(head.quads.size(), 5u);  // in quad order: 232, 417, 455, 475, 476
    auto numberOf = [&](int32_t vertex) {
        return static_cast<int32_t>(std::find(order.begin(), order.end(), vertex) - order.begin());
    };
    const Quad &q232 = shapes[2].quads[232];
    EXPECT_EQ(head.quads[0], (Quad{numberOf(q232[0]), numberOf(q232[1]), numberOf(q232[2]), numberOf(q232[3])}));
}

TEST_F(VrmlImport, VertexUsedOnlyByHiddenQuadsIsDroppedAndTheQuadsReferToTheRenumberedVertices) {
    std::vector<Shape> shapes = smallHead();
    shapes[2] = gridShape(4, 1, 3.0f);  // quads 0..3 over vertices 0..9
    const std::vector<uint8_t> visibility = {1, 0, 0, 1};
    writeVisibility(visibility);
    const std::string path = writeVrml(vrmlText(shapes));
    ASSERT_EQ(TAVO_LoadModelVRML(path.c_str(), handle_), TAVO_OK);
    const TRegion &head = target().regions[0];
    // Quad 0 uses 0, 1, 6, 5 and quad 3 uses 3, 4, 9, 8: vertices 2 and 7 go.
    const TRegion read = importedRegion(shapes[2]);
    const std::vector<int> kept = {0, 1, 3, 4, 5, 6, 8, 9};
    ASSERT_EQ(head.vertices.size(), kept.size());
    for (std::size_t k = 0; k < kept.size(); ++k)
        EXPECT_TRUE(sameBits(head.vertices[k].x, read.vertices[static_cast<std::size_t>(kept[k])].x)) << k;
    EXPECT_EQ(head.quads, (std::vector<Quad>{{0, 1, 5, 4}, {2, 3, 7, 6}}));
    EXPECT_EQ(head.textureQuads, head.quads);
    EXPECT_TRUE(regionListsBitwiseEqual(expectedRegions(shapes, visibility), target().regions));
}

TEST_F(VrmlImport, QuadsBeyondTheEndOfTheVisibilityFileAndBytesOtherThan1AreHidden) {
    std::vector<Shape> shapes = smallHead();
    shapes[2] = gridShape(6, 1, 3.0f);  // six quads
    const std::vector<uint8_t> visibility = {2, 1, 255, 1};  // quads 4 and 5 have no byte
    writeVisibility(visibility);
    const std::string path = writeVrml(vrmlText(shapes));
    ASSERT_EQ(TAVO_LoadModelVRML(path.c_str(), handle_), TAVO_OK);
    EXPECT_EQ(target().regions[0].quads.size(), 2u);
    EXPECT_TRUE(regionListsBitwiseEqual(expectedRegions(shapes, visibility), target().regions));
}

TEST_F(VrmlImport, VisibilityFileLongerThanRegion0sQuadsIsReadUpToItsQuads) {
    const std::vector<Shape> shapes = smallHead();  // region 0: 2 x 3 = 6 quads
    std::vector<uint8_t> visibility(10000, 1);
    visibility[1] = 0;
    writeVisibility(visibility);
    const std::string path = writeVrml(vrmlText(shapes));
    ASSERT_EQ(TAVO_LoadModelVRML(path.c_str(), handle_), TAVO_OK);
    EXPECT_TRUE(regionListsBitwiseEqual(expectedRegions(shapes, visibility), target().regions));
}

// ---- The reading procedure's details -------------------------------------------------

TEST_F(VrmlImport, RememberedFileLineHoldingACloseBracketEndsTheTexturePointsListAtOnce) {
    // Shape 5 (region 3): a line holding "file" and "]" between its points and
    // its texture points. It becomes the test line of the texture points list,
    // which therefore ends before its first entry (that line is read into the
    // buffer and not converted). The index lists then open on "coordIndex [ ]",
    // which also holds "]" and, staying the test line, ends both of them at
    // once, each after reading one line.
    auto shape5 = [](const std::string &fileLine) {
        return std::string("DEF teethUpper Shape {\n  point [\n    1 2 3,\n    4 5 6,\n  ]\n") + fileLine +
               "\n  texCoord TextureCoordinate { point [\n    0.5 0.5,\n  ]\n  coordIndex [ ]\n\n\n}\n";
    };
    const std::vector<Shape> shapes = smallHead();
    std::string prefix = "#VRML V2.0 utf8\n";
    for (int k = 0; k < 5; ++k) prefix += shapeText(shapes[static_cast<std::size_t>(k)], k);
    writeVisibility({1, 1, 1, 1, 1, 1});

    const std::string closing = writeVrml(prefix + shape5("  url \"file:///teeth.png\" ]"), "closing.wrl");
    ASSERT_EQ(TAVO_LoadModelVRML(closing.c_str(), handle_), TAVO_OK);
    const TRegion &teeth = target().regions[3];
    ASSERT_EQ(teeth.vertices.size(), 2u);
    EXPECT_TRUE(sameBits(teeth.vertices[1].y, importedPoint(4, 5, 6).y));
    EXPECT_TRUE(teeth.textureCoords.empty());
    EXPECT_TRUE(teeth.quads.empty());
    EXPECT_TRUE(teeth.textureQuads.empty());

    // The same line without "]": the texture points list reads its entry.
    const std::string open = writeVrml(prefix + shape5("  url \"file:///teeth.png\""), "open.wrl");
    ASSERT_EQ(TAVO_LoadModelVRML(open.c_str(), handle_), TAVO_OK);
    ASSERT_EQ(target().regions[3].textureCoords.size(), 1u);
    EXPECT_EQ(target().regions[3].textureCoords[0].x, 0.5f);
    EXPECT_TRUE(target().regions[3].quads.empty());
}

TEST_F(VrmlImport, TexturePointsListIsTestedAgainstTheRememberedLineNotItsOpeningLine) {
    // "point [ ]" as the texture points' opening line: the test line is the
    // remembered (here empty) line, so the entries below are still read.
    std::vector<Shape> shapes = smallHead();
    std::string text = vrmlText(shapes);
    const std::string opening = "texCoord TextureCoordinate {\n      point [\n";
    const std::size_t texture = text.find(opening);
    ASSERT_NE(texture, std::string::npos);
    text.replace(texture, opening.size(), "texCoord TextureCoordinate {\n      point [ ]\n");
    writeVisibility({1, 1, 1, 1, 1, 1});
    const std::string path = writeVrml(text);
    ASSERT_EQ(TAVO_LoadModelVRML(path.c_str(), handle_), TAVO_OK);
    EXPECT_TRUE(regionListsBitwiseEqual(expectedRegions(shapes, {1, 1, 1, 1, 1, 1}), target().regions));
}

TEST_F(VrmlImport, IndexLinesConvertUpToFourIntegersAndIgnoreTheRest) {
    std::vector<Shape> shapes = smallHead();
    std::string text = vrmlText(shapes);
    // Shape 0's first quad written as "0,1,4 , 3" with octal and hexadecimal
    // forms elsewhere: "%i" reads 0x1 as 1 and 04 as 4.
    const std::string first = "        0, 1, 4, 3, -1,\n";
    const std::size_t at = text.find(first);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, first.size(), "        0,0x1,\t04, 3 garbage\n");
    writeVisibility({1, 1, 1, 1, 1, 1});
    const std::string path = writeVrml(text);
    ASSERT_EQ(TAVO_LoadModelVRML(path.c_str(), handle_), TAVO_OK);
    EXPECT_EQ(target().regions[1].quads[0], (Quad{0, 1, 4, 3}));
}

// ---- Malformed files -------------------------------------------------------------------

TEST_F(VrmlImport, FileThatCannotBeOpenedGivesMinus1AndLeavesTheModelUnchanged) {
    writeVisibility({1});
    target().regions.resize(3);
    const std::vector<TRegion> before = target().regions;
    EXPECT_EQ(TAVO_LoadModelVRML((root_ + "/missing.wrl").c_str(), handle_), TAVO_ERR_GENERAL);
    EXPECT_EQ(TAVO_LoadModelVRML(nullptr, handle_), TAVO_ERR_GENERAL);
    EXPECT_TRUE(regionListsBitwiseEqual(before, target().regions));
}

TEST_F(VrmlImport, InvalidHandleGivesMinus4BeforeAnythingIsRead) {
    EXPECT_EQ(TAVO_LoadModelVRML((root_ + "/missing.wrl").c_str(), -1), TAVO_ERR_INVALID_HANDLE);
    EXPECT_EQ(TAVO_LoadModelVRML(nullptr, handle_ + 1), TAVO_ERR_INVALID_HANDLE);
}

TEST_F(VrmlImport, FileEndingBeforeSixShapesGivesMinus1AndLeavesTheModelUnchanged) {
    writeVisibility({1, 1, 1, 1, 1, 1});
    const std::vector<Shape> shapes = smallHead();
    target().regions.resize(2);
    for (std::size_t count = 0; count < 6; ++count)
        expectRefused(vrmlText(std::vector<Shape>(shapes.begin(), shapes.begin() + static_cast<std::ptrdiff_t>(count))),
                      VrmlStatus::endsEarly);
}

TEST_F(VrmlImport, ListOf7000EntriesIsReadAndOneOf7001IsRefused) {
    writeVisibility({1});
    std::vector<Shape> shapes = smallHead();
    shapes[0].points.resize(7000, {1, 2, 3});
    shapes[0].texturePoints.resize(7000, {0.5f, 0.5f});
    const std::string path = writeVrml(vrmlText(shapes));
    ASSERT_EQ(TAVO_LoadModelVRML(path.c_str(), handle_), TAVO_OK);
    EXPECT_EQ(target().regions[1].vertices.size(), 7000u);
    shapes[0].texturePoints.push_back({0.5f, 0.5f});
    expectRefused(vrmlText(shapes), VrmlStatus::listTooLong);
}

TEST_F(VrmlImport, LineOf1023CharactersIsReadAndOneOf1024IsRefused) {
    writeVisibility({1});
    const std::string text = vrmlText(smallHead());
    const std::string comment = "#VRML V2.0 utf8\n";
    auto withFirstLine = [&](std::size_t length, const std::string &end) {
        std::string line(length, ' ');
        line[0] = '#';
        return line + end + text.substr(comment.size());
    };
    std::vector<TRegion> regions;
    EXPECT_EQ(importVrml(writeVrml(withFirstLine(1023, "\n")), regions), VrmlStatus::ok);
    EXPECT_EQ(importVrml(writeVrml(withFirstLine(1023, "\r\n")), regions), VrmlStatus::ok);
    EXPECT_EQ(importVrml(writeVrml(withFirstLine(1024, "\n")), regions), VrmlStatus::lineTooLong);
    expectRefused(withFirstLine(5000, "\n"), VrmlStatus::lineTooLong);
}

TEST_F(VrmlImport, VisibilityFileOf10000BytesIsReadAndOneOf10001IsRefused) {
    const std::string text = vrmlText(smallHead());
    writeVisibility(std::vector<uint8_t>(10000, 1));
    std::vector<TRegion> regions;
    EXPECT_EQ(importVrml(writeVrml(text), regions), VrmlStatus::ok);
    writeVisibility(std::vector<uint8_t>(10001, 1));
    expectRefused(text, VrmlStatus::visibilityTooLong);
}

TEST_F(VrmlImport, MissingVisibilityFileGivesMinus1AndLeavesTheModelUnchanged) {
    std::filesystem::remove(visibilityPath());
    expectRefused(vrmlText(smallHead()), VrmlStatus::visibilityMissing);
}

TEST_F(VrmlImport, FixedQuadIndicesBeyondRegion0sQuadsAreSkipped) {
    // The small head's region 0 has six quads, far fewer than the fixed
    // quads' indices: with every quad hidden, region 0 ends empty.
    writeVisibility({0, 0, 0, 0, 0, 0});
    const std::string path = writeVrml(vrmlText(smallHead()));
    ASSERT_EQ(TAVO_LoadModelVRML(path.c_str(), handle_), TAVO_OK);
    EXPECT_TRUE(target().regions[0].vertices.empty());
    EXPECT_TRUE(target().regions[0].quads.empty());
}

TEST_F(VrmlImport, QuadCornerOutsideItsRegionIsRefused) {
    writeVisibility({1, 1, 1, 1, 1, 1});
    for (const std::size_t shape : {0, 2, 5}) {
        std::vector<Shape> shapes = smallHead();
        shapes[shape].quads[0][2] = static_cast<int32_t>(shapes[shape].points.size());
        expectRefused(vrmlText(shapes), VrmlStatus::badIndex);
        shapes = smallHead();
        shapes[shape].quads[0][1] = -1;
        expectRefused(vrmlText(shapes), VrmlStatus::badIndex);
    }
    // A texture quad of regions 1 to 5 beyond its texture points.
    std::vector<Shape> shapes = smallHead();
    shapes[4].textureQuads[0][3] = 99;
    expectRefused(vrmlText(shapes), VrmlStatus::badIndex);
}

TEST_F(VrmlImport, IndexBeyond32BitsIsRefused) {
    writeVisibility({1, 1, 1, 1, 1, 1});
    std::string text = vrmlText(smallHead());
    const std::string first = "        0, 1, 4, 3, -1,\n";
    text.replace(text.find(first), first.size(), "        0, 1, 4294967296, 3, -1,\n");
    expectRefused(text, VrmlStatus::badIndex);
}

TEST_F(VrmlImport, TextureQuadsNotOnePerQuadInRegions1To5AreRefused) {
    writeVisibility({1, 1, 1, 1, 1, 1});
    std::vector<Shape> shapes = smallHead();
    shapes[3].textureQuads.push_back({0, 0, 0, 0});
    expectRefused(vrmlText(shapes), VrmlStatus::badIndex);
}

TEST_F(VrmlImport, Region0WithFewerTexturePointsThanPointsIsRefused) {
    writeVisibility({1, 1, 1, 1, 1, 1});
    std::vector<Shape> shapes = smallHead();
    shapes[2].texturePoints.pop_back();
    expectRefused(vrmlText(shapes), VrmlStatus::badIndex);
    // Region 0's texture quads are replaced by its quads: they are not checked.
    shapes = smallHead();
    shapes[2].textureQuads[0] = {500, 500, 500, 500};
    shapes[2].textureQuads.pop_back();
    const std::string path = writeVrml(vrmlText(shapes));
    EXPECT_EQ(TAVO_LoadModelVRML(path.c_str(), handle_), TAVO_OK);
}

TEST_F(VrmlImport, CorruptedFilesEitherImportWithValidRegionsOrFailLeavingTheModelUnchanged) {
    writeVisibility({1, 0, 1, 1, 0, 1});
    const std::string valid = vrmlText(smallHead());
    const std::string alphabet = "[]{},-+0123456789 .\nxefile\t\r";
    std::mt19937 rng(2024);
    const std::string path = root_ + "/corrupt.wrl";
    int imported = 0;
    for (int round = 0; round < 400; ++round) {
        std::string text = valid;
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = rng() % text.size();
            switch (rng() % 3) {
                case 0: text[at] = alphabet[rng() % alphabet.size()]; break;
                case 1: text.erase(at, 1 + rng() % 20); break;
                default: text.insert(at, text.substr(rng() % text.size(), 1 + rng() % 40)); break;
            }
        }
        test::writeTextToFile(path, text);
        target().regions.resize(1);
        target().regions[0].vertices = {{1, 2, 3}};
        const std::vector<TRegion> before = target().regions;
        const int32_t status = TAVO_LoadModelVRML(path.c_str(), handle_);
        if (status != TAVO_OK) {
            ASSERT_EQ(status, TAVO_ERR_GENERAL);
            ASSERT_TRUE(regionListsBitwiseEqual(before, target().regions)) << round;
            continue;
        }
        ++imported;
        ASSERT_EQ(target().regions.size(), 6u);
        for (const TRegion &region : target().regions) {
            ASSERT_EQ(region.textureQuads.size(), region.quads.size());
            for (const Quad &q : region.quads)
                for (const int32_t c : q) ASSERT_TRUE(c >= 0 && static_cast<std::size_t>(c) < region.vertices.size());
            for (const Quad &q : region.textureQuads)
                for (const int32_t c : q) ASSERT_TRUE(c >= 0 && static_cast<std::size_t>(c) < region.textureCoords.size());
        }
    }
    EXPECT_GT(imported, 0);  // some edits (in numbers, say) leave a readable file
}

// ---- The drive root ----------------------------------------------------------------------

TEST(DriveRoot, DriveCMapsToTheRootFolderAndOtherPathsOnlyTurnBackslashes) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows opens drive C: itself";
#endif
    ASSERT_EQ(TAVO_SetDriveRoot("/"), TAVO_OK);
    EXPECT_EQ(platformPath("C:\\orvane\\VisibleMeshes.vsl"), "/orvane/VisibleMeshes.vsl");
    EXPECT_EQ(platformPath("c:/x"), "/x");
    ASSERT_EQ(TAVO_SetDriveRoot("/tmp/root/"), TAVO_OK);
    EXPECT_EQ(platformPath("C:\\orvane\\VisibleMeshes.vsl"), "/tmp/root/orvane/VisibleMeshes.vsl");
    ASSERT_EQ(TAVO_SetDriveRoot("relative"), TAVO_OK);
    EXPECT_EQ(platformPath("C:\\a"), "relative/a");
    EXPECT_EQ(platformPath("D:\\a"), "D:/a");
    EXPECT_EQ(platformPath("C:a"), "C:a");
    EXPECT_EQ(platformPath("data\\wrl\\head_sock.bmp"), "data/wrl/head_sock.bmp");
    EXPECT_EQ(TAVO_SetDriveRoot(nullptr), TAVO_ERR_GENERAL);
    EXPECT_EQ(platformPath("C:\\a"), "relative/a");
    ASSERT_EQ(TAVO_SetDriveRoot("/"), TAVO_OK);
    EXPECT_EQ(libraryState().driveRoot, "/");
}

}  // namespace
}  // namespace kelmo
