// Part 2.3: the face-format reader and writer, the landmark table reader and
// the list7 table reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "model/face_file.h"
#include "model/model.h"
#include "support/model_support.h"

namespace {

using kelmo::kFaceFileCannotOpen;
using kelmo::kFaceFileMalformed;
using kelmo::kFaceFileOk;
using kelmo::readFaceFile;
using kelmo::readLandmarkTable;
using kelmo::readList7Table;
using kelmo::TModel;
using kelmo::TRegion;
using kelmo::writeFaceFile;
using kelmo::test::FaceBytes;
using kelmo::test::regionListsBitwiseEqual;
using kelmo::test::tempPath;

// A model whose regions differ from anything the tests' files hold, so that a
// failed read that touched them would show.
void fillWithSentinelRegions(TModel &model) {
    std::mt19937 rng(1234);
    model.regions.clear();
    for (int r = 0; r < 7; ++r) model.regions.push_back(kelmo::test::randomRegion(rng, 2 + r, 1 + r));
}

// A small valid face file: non-empty regions 0, 2 and 4.
std::vector<TRegion> smallValidRegions() {
    std::mt19937 rng(42);
    return {kelmo::test::randomRegion(rng, 3, 2), TRegion{}, kelmo::test::randomRegion(rng, 2, 1), TRegion{},
            kelmo::test::randomRegion(rng, 4, 3)};
}

std::vector<uint8_t> encode(const std::vector<TRegion> &regions) {
    FaceBytes bytes;
    for (const TRegion &region : regions) bytes.region(region);
    return bytes.bytes();
}

// Reads `bytes` as a face file into a model with sentinel regions and expects
// the reader to refuse it and leave every region as it was.
void expectMalformedLeavesModelUnchanged(const std::vector<uint8_t> &bytes, const std::string &what) {
    const std::string path = tempPath("malformed.face");
    kelmo::test::writeBytesToFile(path, bytes);
    TModel model;
    fillWithSentinelRegions(model);
    const std::vector<TRegion> before = model.regions;
    EXPECT_EQ(readFaceFile(model, path), kFaceFileMalformed) << what;
    EXPECT_TRUE(regionListsBitwiseEqual(before, model.regions)) << what;
    std::remove(path.c_str());
}

// ---- Face reader: the spec's cases --------------------------------------------

TEST(FaceFile, FiveRegionsWithZeroCountsIn40ZeroBytesYieldFiveEmptyRegions) {
    const std::string path = tempPath("empty.face");
    kelmo::test::writeBytesToFile(path, std::vector<uint8_t>(40, 0));
    TModel model;
    fillWithSentinelRegions(model);
    ASSERT_EQ(readFaceFile(model, path), kFaceFileOk);
    ASSERT_EQ(model.regions.size(), 5u);
    for (const TRegion &region : model.regions) {
        EXPECT_TRUE(region.vertices.empty());
        EXPECT_TRUE(region.textureCoords.empty());
        EXPECT_TRUE(region.quads.empty());
        EXPECT_TRUE(region.textureQuads.empty());
    }
}

TEST(FaceFile, OneVertexAndOneQuadInRegionZeroAreReadAsWritten) {
    FaceBytes bytes;
    bytes.int32(1).float32(1.0f).float32(2.0f).float32(3.0f).float32(0.5f).float32(0.5f);
    bytes.int32(1).int32(0).int32(0).int32(0).int32(0).int32(0).int32(0).int32(0).int32(0);
    for (int r = 1; r < 5; ++r) bytes.emptyRegion();
    ASSERT_EQ(bytes.bytes().size(), 4u * (1 + 5 + 1 + 8) + 4 * 8u);
    const std::string path = tempPath("one.face");
    kelmo::test::writeBytesToFile(path, bytes.bytes());
    TModel model;
    ASSERT_EQ(readFaceFile(model, path), kFaceFileOk);
    ASSERT_EQ(model.regions.size(), 5u);
    const TRegion &region = model.regions[0];
    ASSERT_EQ(region.vertices.size(), 1u);
    EXPECT_EQ(region.vertices[0].x, 1.0f);
    EXPECT_EQ(region.vertices[0].y, 2.0f);
    EXPECT_EQ(region.vertices[0].z, 3.0f);
    ASSERT_EQ(region.textureCoords.size(), 1u);
    EXPECT_EQ(region.textureCoords[0].x, 0.5f);
    EXPECT_EQ(region.textureCoords[0].y, 0.5f);
    ASSERT_EQ(region.quads.size(), 1u);
    EXPECT_EQ(region.quads[0], (kelmo::Quad{0, 0, 0, 0}));
    ASSERT_EQ(region.textureQuads.size(), 1u);
    EXPECT_EQ(region.textureQuads[0], (kelmo::Quad{0, 0, 0, 0}));
    for (int r = 1; r < 5; ++r) {
        EXPECT_TRUE(model.regions[r].vertices.empty());
        EXPECT_TRUE(model.regions[r].quads.empty());
    }
}

TEST(FaceFile, FieldsAreLittleEndianInTheSpecsOrder) {
    // Region 0 with two vertices and one quad, values chosen so that any
    // misordering of fields or bytes shows.
    FaceBytes bytes;
    bytes.int32(2);
    bytes.float32(1.5f).float32(-2.25f).float32(1.0e6f).float32(7.0f).float32(8.0f).float32(9.0f);
    bytes.float32(0.125f).float32(0.25f).float32(0.375f).float32(0.5f);
    bytes.int32(1).int32(1).int32(0).int32(1).int32(0).int32(0).int32(1).int32(1).int32(0);
    for (int r = 1; r < 5; ++r) bytes.emptyRegion();
    const std::string path = tempPath("order.face");
    kelmo::test::writeBytesToFile(path, bytes.bytes());
    TModel model;
    ASSERT_EQ(readFaceFile(model, path), kFaceFileOk);
    const TRegion &region = model.regions[0];
    ASSERT_EQ(region.vertices.size(), 2u);
    EXPECT_EQ(region.vertices[0].x, 1.5f);
    EXPECT_EQ(region.vertices[0].y, -2.25f);
    EXPECT_EQ(region.vertices[0].z, 1.0e6f);
    EXPECT_EQ(region.vertices[1].x, 7.0f);
    EXPECT_EQ(region.vertices[1].y, 8.0f);
    EXPECT_EQ(region.vertices[1].z, 9.0f);
    EXPECT_EQ(region.textureCoords[0].x, 0.125f);
    EXPECT_EQ(region.textureCoords[0].y, 0.25f);
    EXPECT_EQ(region.textureCoords[1].x, 0.375f);
    EXPECT_EQ(region.textureCoords[1].y, 0.5f);
    EXPECT_EQ(region.quads[0], (kelmo::Quad{1, 0, 1, 0}));
    EXPECT_EQ(region.textureQuads[0], (kelmo::Quad{0, 1, 1, 0}));
}

TEST(FaceFile, ReadingIntoAModelWithNineRegionsLeavesExactlyTheFilesFive) {
    const std::vector<TRegion> regions = smallValidRegions();
    const std::string path = tempPath("small.face");
    kelmo::test::writeBytesToFile(path, encode(regions));
    TModel model;
    fillWithSentinelRegions(model);
    model.regions.resize(9);
    ASSERT_EQ(readFaceFile(model, path), kFaceFileOk);
    EXPECT_TRUE(regionListsBitwiseEqual(regions, model.regions));
}

TEST(FaceFile, CountsOf6000VerticesAndQuadsAreAccepted) {
    std::mt19937 rng(5);
    std::vector<TRegion> regions(5);
    regions[3] = kelmo::test::randomRegion(rng, 6000, 6000);
    const std::string path = tempPath("limit.face");
    kelmo::test::writeBytesToFile(path, encode(regions));
    TModel model;
    ASSERT_EQ(readFaceFile(model, path), kFaceFileOk);
    EXPECT_TRUE(regionListsBitwiseEqual(regions, model.regions));
}

TEST(FaceFile, BytesAfterRegionFourAreIgnored) {
    const std::vector<TRegion> regions = smallValidRegions();
    std::vector<uint8_t> bytes = encode(regions);
    bytes.insert(bytes.end(), {0xff, 0xff, 0xff, 0xff, 1, 2, 3});
    const std::string path = tempPath("trailing.face");
    kelmo::test::writeBytesToFile(path, bytes);
    TModel model;
    ASSERT_EQ(readFaceFile(model, path), kFaceFileOk);
    EXPECT_TRUE(regionListsBitwiseEqual(regions, model.regions));
}

TEST(FaceFile, AMissingFileReturnsCannotOpenAndLeavesTheModelUnchanged) {
    TModel model;
    fillWithSentinelRegions(model);
    const std::vector<TRegion> before = model.regions;
    EXPECT_EQ(readFaceFile(model, tempPath("does_not_exist.face")), kFaceFileCannotOpen);
    EXPECT_TRUE(regionListsBitwiseEqual(before, model.regions));
}

// ---- Face reader: malformed files change nothing ------------------------------

TEST(FaceFileMalformed, NegativeVertexCountLeavesTheModelUnchanged) {
    FaceBytes bytes;
    bytes.emptyRegion().int32(-1).int32(0).emptyRegion().emptyRegion().emptyRegion();
    expectMalformedLeavesModelUnchanged(bytes.bytes(), "V = -1 in region 1");
    FaceBytes minimum;
    minimum.int32(INT32_MIN);
    expectMalformedLeavesModelUnchanged(minimum.bytes(), "V = INT32_MIN");
}

TEST(FaceFileMalformed, VertexCount6001LeavesTheModelUnchanged) {
    // The counts are refused before any data is needed.
    FaceBytes bytes;
    bytes.int32(6001);
    std::vector<uint8_t> padded = bytes.bytes();
    padded.resize(padded.size() + 6001 * 20 + 4 + 5 * 8, 0);
    expectMalformedLeavesModelUnchanged(padded, "V = 6001");
    FaceBytes huge;
    huge.int32(INT32_MAX);
    expectMalformedLeavesModelUnchanged(huge.bytes(), "V = INT32_MAX");
}

TEST(FaceFileMalformed, NegativeQuadCountLeavesTheModelUnchanged) {
    FaceBytes bytes;
    bytes.emptyRegion().emptyRegion().int32(0).int32(-4).emptyRegion().emptyRegion();
    expectMalformedLeavesModelUnchanged(bytes.bytes(), "Q = -4 in region 2");
}

TEST(FaceFileMalformed, QuadCount6001LeavesTheModelUnchanged) {
    FaceBytes bytes;
    bytes.int32(1).float32(0).float32(0).float32(0).float32(0).float32(0).int32(6001);
    std::vector<uint8_t> padded = bytes.bytes();
    padded.resize(padded.size() + 6001 * 32 + 4 * 8, 0);
    expectMalformedLeavesModelUnchanged(padded, "Q = 6001");
}

TEST(FaceFileMalformed, EveryPrefixOfAValidFileLeavesTheModelUnchanged) {
    const std::vector<uint8_t> bytes = encode(smallValidRegions());
    for (std::size_t length = 0; length < bytes.size(); ++length)
        expectMalformedLeavesModelUnchanged(std::vector<uint8_t>(bytes.begin(), bytes.begin() + length),
                                            "prefix of " + std::to_string(length) + " bytes");
}

TEST(FaceFileMalformed, AQuadCornerEqualToTheVertexCountLeavesTheModelUnchanged) {
    std::vector<TRegion> regions = smallValidRegions();
    regions[4].quads[2][3] = static_cast<int32_t>(regions[4].vertices.size());
    expectMalformedLeavesModelUnchanged(encode(regions), "quad corner == V in the last region");
}

TEST(FaceFileMalformed, ANegativeQuadCornerLeavesTheModelUnchanged) {
    std::vector<TRegion> regions = smallValidRegions();
    regions[0].quads[0][1] = -1;
    expectMalformedLeavesModelUnchanged(encode(regions), "quad corner -1");
}

TEST(FaceFileMalformed, ATextureQuadCornerOutsideTheTextureCoordinatesLeavesTheModelUnchanged) {
    std::vector<TRegion> regions = smallValidRegions();
    regions[2].textureQuads[0][0] = 2;  // region 2 has two texture coordinates
    expectMalformedLeavesModelUnchanged(encode(regions), "texture quad corner == V");
    regions = smallValidRegions();
    regions[2].textureQuads[0][2] = INT32_MIN;
    expectMalformedLeavesModelUnchanged(encode(regions), "texture quad corner INT32_MIN");
}

TEST(FaceFileMalformed, QuadsWithoutAnyVertexLeaveTheModelUnchanged) {
    FaceBytes bytes;
    bytes.int32(0).int32(1).int32(0).int32(0).int32(0).int32(0).int32(0).int32(0).int32(0).int32(0);
    for (int r = 1; r < 5; ++r) bytes.emptyRegion();
    expectMalformedLeavesModelUnchanged(bytes.bytes(), "Q = 1 with V = 0");
}

// ---- Face writer ----------------------------------------------------------------

TEST(FaceFileWriter, WriterThenReaderRoundTripsRandomRegionsBitForBit) {
    std::mt19937 rng(2024);
    for (int trial = 0; trial < 20; ++trial) {
        std::uniform_int_distribution<int> count(0, 300);
        std::vector<TRegion> regions;
        for (int r = 0; r < 5; ++r) {
            const int vertices = count(rng);
            regions.push_back(kelmo::test::randomRegion(rng, vertices, vertices == 0 ? 0 : count(rng)));
        }
        const std::string path = tempPath("round.face");
        ASSERT_EQ(writeFaceFile(regions, path), kFaceFileOk);
        TModel model;
        ASSERT_EQ(readFaceFile(model, path), kFaceFileOk) << trial;
        EXPECT_TRUE(regionListsBitwiseEqual(regions, model.regions)) << trial;
    }
}

TEST(FaceFileWriter, WrittenBytesAreTheHandEncodedFaceFormat) {
    const std::vector<TRegion> regions = smallValidRegions();
    const std::string path = tempPath("bytes.face");
    ASSERT_EQ(writeFaceFile(regions, path), kFaceFileOk);
    EXPECT_EQ(kelmo::test::readBytesFromFile(path), encode(regions));
}

TEST(FaceFileWriter, OnlyRegionsZeroToFourAreWritten) {
    std::vector<TRegion> regions = smallValidRegions();
    std::mt19937 rng(3);
    regions.push_back(kelmo::test::randomRegion(rng, 5, 5));
    const std::string path = tempPath("six.face");
    ASSERT_EQ(writeFaceFile(regions, path), kFaceFileOk);
    regions.pop_back();
    EXPECT_EQ(kelmo::test::readBytesFromFile(path), encode(regions));
}

// Expects the writer to refuse `regions` and to leave no file behind.
void expectWriterRefuses(const std::vector<TRegion> &regions, const std::string &what) {
    const std::string path = tempPath("refused.face");
    std::remove(path.c_str());
    EXPECT_EQ(writeFaceFile(regions, path), kFaceFileMalformed) << what;
    EXPECT_FALSE(kelmo::test::fileExists(path)) << what;
}

TEST(FaceFileWriter, RegionsBreakingTheFormatAreRefusedAndNothingIsWritten) {
    std::vector<TRegion> regions = smallValidRegions();
    regions.pop_back();
    expectWriterRefuses(regions, "four regions");
    expectWriterRefuses({}, "no regions");

    regions = smallValidRegions();
    regions[1].textureCoords.push_back({0.0f, 0.0f});
    expectWriterRefuses(regions, "texture coordinates without a vertex");

    regions = smallValidRegions();
    regions[0].textureQuads.pop_back();
    expectWriterRefuses(regions, "fewer texture quads than quads");

    regions = smallValidRegions();
    regions[4].quads[0][0] = 4;
    expectWriterRefuses(regions, "quad corner == V");

    regions = smallValidRegions();
    regions[4].textureQuads[0][0] = -1;
    expectWriterRefuses(regions, "texture quad corner -1");

    std::mt19937 rng(8);
    regions = smallValidRegions();
    regions[2] = kelmo::test::randomRegion(rng, 6001, 1);
    expectWriterRefuses(regions, "6001 vertices");
    regions[2] = kelmo::test::randomRegion(rng, 10, 6001);
    expectWriterRefuses(regions, "6001 quads");
}

TEST(FaceFileWriter, AnUnopenablePathReturnsCannotOpen) {
    EXPECT_EQ(writeFaceFile(smallValidRegions(), tempPath("no_such_dir") + "/x.face"), kFaceFileCannotOpen);
}

// ---- Landmark table ("grd66.txt") ----------------------------------------------

std::string landmarkText(const std::vector<std::pair<int, int>> &pairs) {
    std::string text;
    for (const auto &[index, vertex] : pairs) text += std::to_string(index) + " " + std::to_string(vertex) + "\n";
    return text;
}

std::vector<std::pair<int, int>> shuffledLandmarkPairs(unsigned seed) {
    std::vector<std::pair<int, int>> pairs;
    for (int i = 0; i < 66; ++i) pairs.push_back({i, 1000 + 7 * i});
    std::mt19937 rng(seed);
    std::shuffle(pairs.begin(), pairs.end(), rng);
    return pairs;
}

int32_t readLandmarkText(std::vector<int32_t> &table, const std::string &text) {
    const std::string path = tempPath("grd66.txt");
    kelmo::test::writeTextToFile(path, text);
    const int32_t status = readLandmarkTable(table, path);
    std::remove(path.c_str());
    return status;
}

void expectLandmarkMalformed(const std::string &text, const std::string &what) {
    std::vector<int32_t> table(70, 5);
    table[3] = -8;
    const std::vector<int32_t> before = table;
    EXPECT_EQ(readLandmarkText(table, text), kFaceFileMalformed) << what;
    EXPECT_EQ(table, before) << what;
}

TEST(LandmarkTable, PairsForIndices0To65InAnyOrderYield66EntriesHoldingTheSecondNumbers) {
    std::vector<int32_t> table;
    ASSERT_EQ(readLandmarkText(table, landmarkText(shuffledLandmarkPairs(1))), kFaceFileOk);
    ASSERT_EQ(table.size(), 66u);
    for (int i = 0; i < 66; ++i) EXPECT_EQ(table[i], 1000 + 7 * i) << i;
}

TEST(LandmarkTable, ATableLongerThan66IsMade66EntriesLong) {
    std::vector<int32_t> table(100, 3);
    ASSERT_EQ(readLandmarkText(table, landmarkText(shuffledLandmarkPairs(2))), kFaceFileOk);
    EXPECT_EQ(table.size(), 66u);
    EXPECT_EQ(table[65], 1000 + 7 * 65);
}

TEST(LandmarkTable, AnIndexBeyond65LengthensTheTableWithZerosAndUnlistedEntriesKeepTheirValues) {
    std::vector<std::pair<int, int>> pairs = shuffledLandmarkPairs(3);
    for (auto &pair : pairs)
        if (pair.first == 10) pair = {70, 99};
    std::vector<int32_t> table(66, -3);
    ASSERT_EQ(readLandmarkText(table, landmarkText(pairs)), kFaceFileOk);
    ASSERT_EQ(table.size(), 71u);
    EXPECT_EQ(table[10], -3);  // existing entry, not in the file
    for (int i = 66; i < 70; ++i) EXPECT_EQ(table[i], 0) << i;
    EXPECT_EQ(table[70], 99);
}

TEST(LandmarkTable, AShortTableIsLengthenedTo66WithZeros) {
    std::vector<std::pair<int, int>> pairs = shuffledLandmarkPairs(4);
    for (auto &pair : pairs)
        if (pair.first == 60) pair = {0, 1};  // index 60 missing, index 0 twice
    std::vector<int32_t> table(10, 9);
    ASSERT_EQ(readLandmarkText(table, landmarkText(pairs)), kFaceFileOk);
    ASSERT_EQ(table.size(), 66u);
    EXPECT_EQ(table[60], 0);
    EXPECT_EQ(table[5], 1000 + 35);
}

TEST(LandmarkTable, TheLargestAcceptedIndexIs65535) {
    std::vector<std::pair<int, int>> pairs = shuffledLandmarkPairs(5);
    pairs[0] = {kelmo::kLandmarkMaxIndex, 17};
    std::vector<int32_t> table;
    ASSERT_EQ(readLandmarkText(table, landmarkText(pairs)), kFaceFileOk);
    ASSERT_EQ(table.size(), 65536u);
    EXPECT_EQ(table[65535], 17);
    pairs[0] = {kelmo::kLandmarkMaxIndex + 1, 17};
    expectLandmarkMalformed(landmarkText(pairs), "index 65536");
    pairs[0] = {INT32_MAX, 17};
    expectLandmarkMalformed(landmarkText(pairs), "index INT32_MAX");
}

TEST(LandmarkTable, ANegativeFeaturePointIndexIsMalformedAndLeavesTheTableUnchanged) {
    std::vector<std::pair<int, int>> pairs = shuffledLandmarkPairs(6);
    pairs[30] = {-1, 5};
    expectLandmarkMalformed(landmarkText(pairs), "index -1");
}

TEST(LandmarkTable, FewerThan66PairsAreMalformedAndLeaveTheTableUnchanged) {
    std::vector<std::pair<int, int>> pairs = shuffledLandmarkPairs(7);
    pairs.pop_back();
    expectLandmarkMalformed(landmarkText(pairs), "65 pairs");
    expectLandmarkMalformed(landmarkText(pairs) + "12", "65 pairs and a lone number");
    expectLandmarkMalformed("", "empty file");
}

TEST(LandmarkTable, ATokenThatIsNotAnIntegerIsMalformed) {
    const std::string good = landmarkText(shuffledLandmarkPairs(8));
    expectLandmarkMalformed("x" + good, "leading letter");
    expectLandmarkMalformed("1, 2\n" + good, "comma separator");
    expectLandmarkMalformed("3 0x\n" + good, "0x without digits");
    expectLandmarkMalformed("3 -\n" + good, "lone sign");
    expectLandmarkMalformed("1 2.5\n" + good.substr(good.find('\n') + 1), "decimal fraction");
}

TEST(LandmarkTable, ANumberThatOverflows32BitsIsMalformed) {
    const std::string rest = landmarkText(shuffledLandmarkPairs(9));
    expectLandmarkMalformed("1 2147483648\n" + rest, "2^31");
    expectLandmarkMalformed("1 -2147483649\n" + rest, "-2^31 - 1");
    expectLandmarkMalformed("1 0x100000000\n" + rest, "2^32 in hex");
    expectLandmarkMalformed("1 99999999999999999999999\n" + rest, "huge");
}

TEST(LandmarkTable, NumbersFollowScanfPercentIWithHexOctalAndSigns) {
    // Each value is compared with what the C library's own "%i" makes of it.
    const std::vector<std::string> tokens = {"0x1A", "0X7fffffff", "010", "-010", "+42", "-0x10",
                                             "0",    "-2147483648", "2147483647", "00", "0x0"};
    std::string text;
    for (std::size_t i = 0; i < 66; ++i) text += std::to_string(i) + "\t" + tokens[i % tokens.size()] + "\r\n";
    std::vector<int32_t> table;
    ASSERT_EQ(readLandmarkText(table, text), kFaceFileOk);
    ASSERT_EQ(table.size(), 66u);
    for (std::size_t i = 0; i < 66; ++i) {
        int expected = 0;
        ASSERT_EQ(std::sscanf(tokens[i % tokens.size()].c_str(), "%i", &expected), 1);
        EXPECT_EQ(table[i], expected) << tokens[i % tokens.size()];
    }
    EXPECT_EQ(table[0], 26);
    EXPECT_EQ(table[2], 8);
}

TEST(LandmarkTable, TextAfterThe66thPairIsIgnored) {
    std::vector<int32_t> table;
    ASSERT_EQ(readLandmarkText(table, landmarkText(shuffledLandmarkPairs(10)) + "3 4\nrubbish"), kFaceFileOk);
    EXPECT_EQ(table.size(), 66u);
    EXPECT_EQ(table[3], 1000 + 21);
}

TEST(LandmarkTable, AMissingFileReturnsCannotOpenAndLeavesTheTableUnchanged) {
    std::vector<int32_t> table(66, 4);
    EXPECT_EQ(readLandmarkTable(table, tempPath("no_grd66.txt")), kFaceFileCannotOpen);
    EXPECT_EQ(table, std::vector<int32_t>(66, 4));
}

// ---- List7 table ("list7.txt") ----------------------------------------------------

int32_t readList7Text(std::vector<int32_t> &table, const std::string &text) {
    const std::string path = tempPath("list7.txt");
    kelmo::test::writeTextToFile(path, text);
    const int32_t status = readList7Table(table, path);
    std::remove(path.c_str());
    return status;
}

std::string list7Text(int count) {
    std::string text;
    const char *separators[] = {" ", "\n", "\t", "  \r\n"};
    for (int i = 0; i < count; ++i) text += std::to_string(300 + 3 * i) + separators[i % 4];
    return text;
}

void expectList7Malformed(const std::string &text, const std::string &what) {
    std::vector<int32_t> table(5, 11);
    EXPECT_EQ(readList7Text(table, text), kFaceFileMalformed) << what;
    EXPECT_EQ(table, std::vector<int32_t>(5, 11)) << what;
}

TEST(List7Table, ThirtyEightWhiteSpaceSeparatedIntegersAreReadInOrder) {
    std::vector<int32_t> table(3, 1);
    ASSERT_EQ(readList7Text(table, list7Text(38)), kFaceFileOk);
    ASSERT_EQ(table.size(), 38u);
    for (int i = 0; i < 38; ++i) EXPECT_EQ(table[i], 300 + 3 * i) << i;
}

TEST(List7Table, ValuesAfterThe38thAreIgnored) {
    std::vector<int32_t> table;
    ASSERT_EQ(readList7Text(table, list7Text(40) + " junk"), kFaceFileOk);
    ASSERT_EQ(table.size(), 38u);
    EXPECT_EQ(table[37], 300 + 3 * 37);
}

TEST(List7Table, ValuesFollowScanfPercentIIncludingOctalThatStopsAtEightOrNine) {
    // The C library's "%i" reads "08" as 0 followed by 8; so does the reader.
    std::string text = "0x10 -07 08 " + list7Text(35);
    std::vector<int32_t> table;
    ASSERT_EQ(readList7Text(table, text), kFaceFileOk);
    int expected[4] = {};
    ASSERT_EQ(std::sscanf("0x10 -07 08", "%i %i %i %i", &expected[0], &expected[1], &expected[2], &expected[3]), 4);
    EXPECT_EQ(table[0], 16);
    EXPECT_EQ(table[0], expected[0]);
    EXPECT_EQ(table[1], expected[1]);
    EXPECT_EQ(table[2], expected[2]);
    EXPECT_EQ(table[3], expected[3]);
    EXPECT_EQ(table[2], 0);
    EXPECT_EQ(table[3], 8);
    EXPECT_EQ(table[4], 300);
}

TEST(List7Table, FewerThan38IntegersAreMalformedAndLeaveTheTableUnchanged) {
    expectList7Malformed(list7Text(37), "37 values");
    expectList7Malformed("", "empty file");
}

TEST(List7Table, ANonIntegerTokenIsMalformedAndLeavesTheTableUnchanged) {
    expectList7Malformed("1 2 three " + list7Text(38), "a word");
    expectList7Malformed("1 2 99999999999 " + list7Text(38), "overflow");
    expectList7Malformed("0x " + list7Text(38), "0x without digits");
}

TEST(List7Table, AMissingFileReturnsCannotOpenAndLeavesTheTableUnchanged) {
    std::vector<int32_t> table(38, 2);
    EXPECT_EQ(readList7Table(table, tempPath("no_list7.txt")), kFaceFileCannotOpen);
    EXPECT_EQ(table, std::vector<int32_t>(38, 2));
}

}  // namespace
