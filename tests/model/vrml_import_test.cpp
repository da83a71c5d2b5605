// Importing a head from a VRML file, with the visibility file under a drive
// root of the test program's own (TAVO_SetDriveRoot maps the drive "C:").
#include "model/vrml_import.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "model/model_table.h"
#include "support/model_support.h"

namespace kelmo {
namespace {

// Shapes (regions in the file's units) as an exporter writes them: each list opens on a line holding "[",
// one entry a line, and closes on a line of its own; a texture file is named before the texture points.
std::string vrmlText(const std::vector<TRegion> &shapes) {
    std::string text = "#VRML V2.0 utf8\n";
    char line[96];
    auto quads = [&](const char *opening, const std::vector<Quad> &list) {
        text += opening;
        for (const Quad &q : list)
            text += (std::snprintf(line, 96, "  %d, %d, %d, %d, -1,\n", q[0], q[1], q[2], q[3]), line);
    };
    for (const TRegion &shape : shapes) {
        text += "Shape { coord Coordinate { point [\n";
        for (const TVector3f &p : shape.vertices)
            text += (std::snprintf(line, 96, "  %.9g %.9g %.9g,\n", p.x, p.y, p.z), line);
        text += " ] }\n # texture file head.png\n texCoord TextureCoordinate { point [\n";
        for (const TPointf &t : shape.textureCoords)
            text += (std::snprintf(line, 96, "  %.9g %.9g,\n", t.x, t.y), line);
        quads(" ] }\n coordIndex [\n", shape.quads);
        quads(" ]\n texCoordIndex [\n", shape.textureQuads);
        text += " ] }\n";
    }
    return text;
}

// Six shapes of quads over a grid of points, one texture point per point; shape 2 becomes region 0.
std::vector<TRegion> smallHead(int region0Columns = 2, int region0Rows = 3) {
    std::vector<TRegion> shapes(6);
    for (int k = 0; k < 6; ++k) {
        const int columns = k == 2 ? region0Columns : 2 + k % 2, rows = k == 2 ? region0Rows : 1 + k % 3;
        for (int j = 0; j <= rows; ++j) {
            for (int i = 0; i <= columns; ++i) {
                shapes[k].vertices.push_back({i + 0.5f, j - 3.25f, 5.0f * k + 0.125f * i});
                shapes[k].textureCoords.push_back({static_cast<float>(i) / columns, static_cast<float>(j) / rows});
                const int32_t a = j * (columns + 1) + i;
                if (i < columns && j < rows) shapes[k].quads.push_back({a, a + 1, a + columns + 2, a + columns + 1});
            }
        }
        shapes[k].textureQuads = shapes[k].quads;
    }
    return shapes;
}

// The import worked out apart from the library: points times the float nearest 0.03, tilted by -0.4
// radians about x (the top of the head toward the viewer). Region 0 keeps the quads flagged 1 and the fixed
// quads that exist, the visible quads' vertices in index order, then the fixed quads' further corners.
std::vector<TRegion> expectedRegions(const std::vector<TRegion> &shapes, const std::vector<uint8_t> &visibility) {
    std::vector<TRegion> regions(6);
    const float c = std::cos(0.4f), s = std::sin(0.4f);
    for (std::size_t k = 0; k < 6; ++k) {
        TRegion &region = regions[kVrmlShapeRegions[k]] = shapes[k];
        for (TVector3f &p : region.vertices) {
            const float x = p.x * 0.03f, y = p.y * 0.03f, z = p.z * 0.03f;
            p = {x, c * y - s * z, c * z + s * y};
        }
    }
    const TRegion read = regions[0];
    std::set<std::size_t> kept;
    std::set<int32_t> used;
    for (std::size_t q = 0; q < read.quads.size() && q < visibility.size(); ++q)
        if (visibility[q] == 1) kept.insert(q), used.insert(read.quads[q].begin(), read.quads[q].end());
    std::map<int32_t, int32_t> number;
    TRegion &head = regions[0] = TRegion{};
    auto take = [&](int32_t vertex) {
        number[vertex] = static_cast<int32_t>(head.vertices.size());
        head.vertices.push_back(read.vertices[static_cast<std::size_t>(vertex)]);
        head.textureCoords.push_back(read.textureCoords[static_cast<std::size_t>(vertex)]);
    };
    for (const int32_t vertex : used) take(vertex);
    for (const auto fixed : kVrmlFixedQuads) {
        if (static_cast<std::size_t>(fixed) >= read.quads.size()) continue;
        kept.insert(static_cast<std::size_t>(fixed));
        for (const int32_t corner : read.quads[static_cast<std::size_t>(fixed)])
            if (number.count(corner) == 0) take(corner);
    }
    for (const std::size_t q : kept) {
        const Quad &quad = read.quads[q];
        head.quads.push_back({number[quad[0]], number[quad[1]], number[quad[2]], number[quad[3]]});
    }
    head.textureQuads = head.quads;
    return regions;
}

class VrmlImport : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::filesystem::create_directories(root + "/orvane");
        createdFolder = std::filesystem::create_directories(visibilityFolder());
        ASSERT_EQ(TAVO_SetDriveRoot(root.c_str()), TAVO_OK);
    }
    static void TearDownTestSuite() {
        TAVO_SetDriveRoot("/");
        std::filesystem::remove_all(root);
        std::filesystem::remove(visibilityFolder() + "/VisibleMeshes.vsl");
        if (createdFolder) std::filesystem::remove(visibilityFolder());
    }
    void SetUp() override { ASSERT_EQ(TAVO_InitModel(&handle, 0), TAVO_OK); }
    void TearDown() override { destroyAllModels(); }
    // Windows has no drive root of the library's own: the visibility file is
    // read at its real place on drive C:, so the test writes it there.
    static void writeVisibility(const std::vector<uint8_t> &bytes) {
        test::writeBytesToFile(visibilityFolder() + "/VisibleMeshes.vsl", bytes);
    }
#if defined(_WIN32)
    static std::string visibilityFolder() { return "C:/orvane"; }
#else
    static std::string visibilityFolder() { return root + "/orvane"; }
#endif
    static std::string writeVrml(const std::string &text) {
        test::writeTextToFile(root + "/head.wrl", text);
        return root + "/head.wrl";
    }
    static inline bool createdFolder = false;
    static inline const std::string root = ::testing::TempDir() + "kelmo_vrml_" + std::to_string(::getpid());
    int32_t handle = -1;
    TModel &model() { return *resolveModel(handle); }
};

TEST_F(VrmlImport, ImportMatchesAnIndependentReadingOfTheShapesAndReplacesOnlyTheRegions) {
    std::vector<uint8_t> every7th(600, 0);
    for (std::size_t q = 0; q < 600; q += 7) every7th[q] = 1;
    every7th[232] = 0;  // hidden but fixed: kept
    model().regions.resize(9);
    model().extraRegion = 8;
    for (const auto &[shapes, visibility] : std::vector<std::pair<std::vector<TRegion>, std::vector<uint8_t>>>{
             {smallHead(), {1, 0, 1, 1, 0, 1}},
             {smallHead(6, 1), {2, 1, 255, 1}},  // bytes other than 1, and quads past the file's end, hide
             {smallHead(30, 20), every7th},
             {smallHead(29, 8), std::vector<uint8_t>(232, 1)}}) {  // 232 quads: the first fixed index is just past them
        std::vector<TRegion> edited = shapes;
        edited[0].vertices[0] = {10, 20, 30};
        writeVisibility(visibility);
        std::string text = vrmlText(edited);
        text.replace(text.find("  0, 1, 4, 3, -1,"), 17, "0,0x1,\t04, 3 rest");  // "%i" forms, the rest ignored
        ASSERT_EQ(TAVO_LoadModelVRML(writeVrml(text).c_str(), handle), TAVO_OK);
        EXPECT_TRUE(test::regionListsBitwiseEqual(expectedRegions(edited, visibility), model().regions));
        const TVector3f v = model().regions[1].vertices[0];  // by hand: (0.3, 0.6, 0.9) turned by -0.4 about x
        EXPECT_TRUE(std::fabs(v.x - 0.3) < 1e-7 && std::fabs(v.y - 0.2021601) < 1e-6 &&
                    std::fabs(v.z - 1.0626059) < 1e-6);
        // Nothing else changes, but an appended region that is gone (8, at first) is dropped.
        EXPECT_TRUE(model().extraRegion == (visibility.size() == 6 ? -1 : 5));
        model().extraRegion = 5;
    }
}

TEST_F(VrmlImport, EveryPrefixOfAValidFileFailsCleanlyUntilItsLastCloseBracket) {
    writeVisibility({1});
    std::vector<TRegion> shapes = smallHead(1, 1);
    for (TRegion &shape : shapes) shape = shapes[2];
    const std::string text = vrmlText(shapes), path = writeVrml(text.substr(0, text.rfind(']') + 1));
    EXPECT_EQ(TAVO_LoadModelVRML(path.c_str(), handle), TAVO_OK);
    model().regions.resize(2);
    const std::vector<TRegion> before = model().regions;
    for (std::size_t length = text.rfind(']') + 1; length-- > 0;) {
        std::filesystem::resize_file(path, length);
        ASSERT_EQ(TAVO_LoadModelVRML(path.c_str(), handle), TAVO_ERR_GENERAL) << length;
        ASSERT_TRUE(test::regionListsBitwiseEqual(before, model().regions)) << length;
    }
}

TEST_F(VrmlImport, BadFilesAreRefusedForTheirReasonAndLeaveTheModelUnchanged) {
    writeVisibility({1, 1, 1, 1, 1, 1});
    model().regions.resize(2);
    const std::vector<TRegion> before = model().regions;
    std::vector<TRegion> regions;
    auto expectReason = [&](const std::string &text, VrmlStatus reason) {
        EXPECT_EQ(importVrml(writeVrml(text), regions), reason) << text.substr(0, 40);
        EXPECT_EQ(TAVO_LoadModelVRML(writeVrml(text).c_str(), handle), reason == VrmlStatus::ok ? 0 : -1);
        if (reason == VrmlStatus::ok) model().regions = before;  // a file that imports is not the point here
        EXPECT_TRUE(test::regionListsBitwiseEqual(before, model().regions));
    };
    using Edit = std::function<void(std::vector<TRegion> &)>;
    // clang-format off
    for (const auto &[edit, reason] : std::vector<std::pair<Edit, VrmlStatus>>{
             {[](auto &s) { s[0].textureCoords.resize(7001, {0, 0}); }, VrmlStatus::listTooLong},
             {[](auto &s) { s.pop_back(); }, VrmlStatus::endsEarly},
             {[](auto &s) { s[0].quads[0][2] = 6; }, VrmlStatus::badIndex},  // a corner equal to the point count
             {[](auto &s) { s[2].quads[0][1] = -1; }, VrmlStatus::badIndex},
             {[](auto &s) { s[4].textureQuads[0][3] = 99; }, VrmlStatus::badIndex},
             {[](auto &s) { s[3].textureQuads.push_back({0, 0, 0, 0}); }, VrmlStatus::badIndex},
             {[](auto &s) { s[2].textureCoords.pop_back(); }, VrmlStatus::badIndex},  // region 0 short of them
             {[](auto &s) { s[2].textureQuads = {{500, 500, 500, 500}}; }, VrmlStatus::ok}}) {  // region 0's: unread
        // clang-format on
        std::vector<TRegion> shapes = smallHead();
        edit(shapes);
        expectReason(vrmlText(shapes), reason);
    }
    const std::string text = vrmlText(smallHead()), rest = text.substr(text.find('\n'));
    std::string huge = text;
    expectReason(huge.replace(huge.find(", 1, 4, 3,"), 10, ", 1, 4294967296, 3,"), VrmlStatus::badIndex);
    expectReason("#" + std::string(1022, ' ') + rest, VrmlStatus::ok);  // 1023 characters
    expectReason("#" + std::string(1022, ' ') + "\r" + rest, VrmlStatus::ok);
    expectReason("#" + std::string(1023, ' ') + rest, VrmlStatus::lineTooLong);
    writeVisibility(std::vector<uint8_t>(10001, 1));
    expectReason(text, VrmlStatus::visibilityTooLong);
    std::filesystem::remove(visibilityFolder() + "/VisibleMeshes.vsl");
    expectReason(text, VrmlStatus::visibilityMissing);
    EXPECT_TRUE(TAVO_LoadModelVRML((root + "/missing.wrl").c_str(), handle) == -1 &&
                TAVO_LoadModelVRML(nullptr, handle) == -1 && TAVO_LoadModelVRML(nullptr, handle + 1) == -4 &&
                TAVO_LoadModelVRML(writeVrml(text).c_str(), -1) == -4);
    EXPECT_TRUE(test::regionListsBitwiseEqual(before, model().regions));
}

}  // namespace
}  // namespace kelmo
