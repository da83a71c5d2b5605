// The face format's reader and writer, and the landmark table.
#include "model/face_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "support/model_support.h"

namespace kelmo {
namespace {

using test::FaceBytes;
std::string tempPath(const std::string &name) { return ::testing::TempDir() + std::to_string(::getpid()) + name; }
using Edit = std::function<void(std::vector<TRegion> &)>;

// Non-empty regions 0, 2 and 4, after `edit`, and their hand encoding.
std::vector<TRegion> smallRegions(const Edit &edit = {}) {
    std::mt19937 rng(42);
    std::vector<TRegion> regions = {
        test::randomRegion(rng, 3, 2), {}, test::randomRegion(rng, 2, 1), {}, test::randomRegion(rng, 4, 3)};
    if (edit) edit(regions);
    return regions;
}

std::vector<uint8_t> encode(const std::vector<TRegion> &regions) {
    FaceBytes bytes;
    for (const TRegion &region : regions) bytes.region(region);
    return bytes.bytes();
}

TEST(FaceFile, WriterAndReaderRoundTripTheHandEncodedFormatBitForBit) {
    std::mt19937 rng(5);
    std::vector<TRegion> regions = smallRegions();
    regions[3] = test::randomRegion(rng, 6000, 6000);  // the largest counts allowed
    regions.push_back(test::randomRegion(rng, 5, 5));  // only regions 0 to 4 are written
    const std::string path = tempPath("round.face");
    ASSERT_EQ(writeFaceFile(regions, path), kFaceFileOk);
    regions.pop_back();
    std::vector<uint8_t> bytes = encode(regions);
    EXPECT_EQ(test::readBytesFromFile(path), bytes);
    bytes.insert(bytes.end(), {0xff, 0xff, 1, 2, 3});  // bytes after region 4 are ignored
    test::writeBytesToFile(path, bytes);
    TModel model;
    model.regions.resize(9);
    ASSERT_EQ(readFaceFile(model, path), kFaceFileOk);
    EXPECT_TRUE(test::regionListsBitwiseEqual(regions, model.regions));
    std::remove(path.c_str());
    for (const Edit &edit : std::vector<Edit>{[](auto &r) { r.pop_back(); }, [](auto &r) { r[4].quads[0][0] = 4; },
                                              [](auto &r) {
                                                  r[1].textureCoords.push_back({0, 0});
                                              }}) {
        EXPECT_EQ(writeFaceFile(smallRegions(edit), path), kFaceFileMalformed);
        EXPECT_FALSE(test::fileExists(path));
    }
}

TEST(FaceFile, FailingReadLeavesModelUnchanged) {
    const std::vector<uint8_t> valid = encode(smallRegions());
    std::vector<std::vector<uint8_t>> files;
    for (std::size_t length = 0; length < valid.size(); ++length)
        files.emplace_back(valid.begin(), valid.begin() + length);
    for (const Edit &edit :
         std::vector<Edit>{[](auto &r) { r[4].quads[2][3] = 4; },  // a corner equal to the count
                           [](auto &r) { r[0].quads[0][1] = -1; }, [](auto &r) { r[2].textureQuads[0][0] = 2; }})
        files.push_back(encode(smallRegions(edit)));
    files.push_back(FaceBytes().emptyRegion().int32(-1).int32(0).bytes());  // V = -1
    files.push_back(FaceBytes().emptyRegion().int32(0).int32(-4).bytes());  // Q = -4
    files.push_back(FaceBytes().int32(0).int32(1).bytes());                 // a quad without vertices
    files.push_back(FaceBytes().int32(6001).bytes());                       // refused before its data is needed
    files.back().resize(4 + 6001 * 20 + 4 + 4 * 8, 0);
    const std::string path = tempPath("bad.face");
    std::mt19937 rng(1234);
    TModel model;
    for (int r = 0; r < 7; ++r) model.regions.push_back(test::randomRegion(rng, 2 + r, 1 + r));
    const std::vector<TRegion> before = model.regions;
    for (std::size_t k = 0; k < files.size(); ++k) {
        test::writeBytesToFile(path, files[k]);
        EXPECT_EQ(readFaceFile(model, path), kFaceFileMalformed) << k;
        ASSERT_TRUE(test::regionListsBitwiseEqual(before, model.regions)) << k;
    }
    std::remove(path.c_str());
    EXPECT_EQ(readFaceFile(model, path), kFaceFileCannotOpen);
    EXPECT_TRUE(test::regionListsBitwiseEqual(before, model.regions));
}

// The oracle: what the C library's "%i" makes of the first `count` numbers.
std::vector<int32_t> scanfIntegers(const std::string &text, std::size_t count) {
    std::vector<int32_t> values;
    int value = 0, used = 0;
    for (const char *at = text.c_str(); values.size() < count && std::sscanf(at, "%i%n", &value, &used) == 1;
         at += used)
        values.push_back(value);
    return values;
}

int32_t readText(std::vector<int32_t> &table, const std::string &text) {
    test::writeTextToFile(tempPath("grd66.txt"), text);
    const int32_t status = readLandmarkTable(table, tempPath("grd66.txt"));
    std::remove(tempPath("grd66.txt").c_str());
    return status;
}

// "index vertex" lines, shuffled, in the forms "%i" reads; `index` and `vertex` replace one line's.
std::string landmarkText(int64_t index = -2, std::string vertex = "", std::size_t lines = 66) {
    const std::vector<std::string> forms = {"0x1A", "0X7fffffff",  "010", "-010",       "+42", "-0x10",
                                            "0",    "-2147483648", "00",  "2147483647", "0x0"};
    std::vector<std::pair<int64_t, std::string>> pairs;
    for (std::size_t i = 0; i < 66; ++i) pairs.push_back({static_cast<int64_t>(i), forms[i % forms.size()]});
    std::shuffle(pairs.begin(), pairs.end(), std::mt19937(1));
    if (index != -2) pairs[10] = {index, vertex.empty() ? pairs[10].second : vertex};
    std::string text;
    for (std::size_t i = 0; i < lines; ++i) text += std::to_string(pairs[i].first) + "\t" + pairs[i].second + "\r\n";
    return text;
}

TEST(LandmarkTable, PairsFillA66EntryTableAsScanfReadsThemAndBadTextChangesNothing) {
    // 66 entries, more for a larger index; entries no pair names keep their values.
    for (const auto &[start, text] : {std::pair{std::vector<int32_t>(100, 3), landmarkText() + "3 4\nrubbish"},
                                      std::pair{std::vector<int32_t>(10, 9), landmarkText(65535)}}) {
        std::vector<int32_t> expected = start, table = start;
        expected.resize(66, 0);
        const std::vector<int32_t> numbers = scanfIntegers(text, 132);
        for (std::size_t k = 0; k < numbers.size(); k += 2) {
            expected.resize(std::max(expected.size(), static_cast<std::size_t>(numbers[k]) + 1), 0);
            expected[static_cast<std::size_t>(numbers[k])] = numbers[k + 1];
        }
        ASSERT_EQ(readText(table, text), kFaceFileOk);
        EXPECT_EQ(table, expected);
    }
    std::vector<int32_t> kept(70, 5);
    for (const std::string &bad : {landmarkText(-2, "", 65) + "12", std::string(), "x" + landmarkText(),
                                   landmarkText(3, "0x"), landmarkText(3, "2.5"), landmarkText(-1), landmarkText(65536),
                                   landmarkText(1, "2147483648"), landmarkText(1, "-2147483649")}) {
        EXPECT_EQ(readText(kept, bad), kFaceFileMalformed) << bad.substr(0, 20);
        ASSERT_EQ(kept, std::vector<int32_t>(70, 5));
    }
    EXPECT_EQ(readLandmarkTable(kept, tempPath("missing.txt")), kFaceFileCannotOpen);
}

}  // namespace
}  // namespace kelmo
