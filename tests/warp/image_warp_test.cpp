// Tests of the image warp (Part 6.1): TAVO_InitRBF, TAVO_WarpImageRBF against
// an independent re-computation (warp_reference.h), its edge cases and its
// validation, and TAVO_MorphImageRB.
#include <gtest/gtest.h>
#include <omp.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "frame/library_state.h"
#include "kelmo.h"
#include "tavoimage.h"
#include "warp/image_warp.h"
#include "warp/warp_reference.h"

namespace {

constexpr std::size_t kTableEntries = std::size_t{1} << 21;

int channelsOf(TAVO_IMAGEMODE mode) { return mode == TAVO_IMAGEMODE_GREY ? 1 : mode == TAVO_IMAGEMODE_COLOR ? 3 : 4; }

// An image of the imaging library, freed with the scope.
class TestImage {
public:
    TestImage() { TAVO_CreateEmptyImage(&handle); }
    TestImage(int width, int height, TAVO_IMAGEMODE mode, uint32_t seed) {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> noise(0, 60);
        const int channels = channelsOf(mode);
        std::vector<uint8_t> pixels(static_cast<std::size_t>(width * height * channels) + 1);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                for (int c = 0; c < channels; ++c) {
                    // A gradient with noise: every channel differs, the fourth
                    // byte too, so that a wrong channel or offset shows.
                    pixels[static_cast<std::size_t>((y * width + x) * channels + c)] =
                        static_cast<uint8_t>((x * 5 + y * 3 + c * 40 + noise(random)) & 0xFF);
                }
            }
        }
        TAVO_LoadImageFromBuffer(&handle, pixels.data(), width, height, width * channels, mode);
    }
    ~TestImage() {
        if (handle != -1) TAVO_FreeImage(handle);
    }
    TestImage(const TestImage &) = delete;
    TestImage &operator=(const TestImage &) = delete;
    ImageHandle handle = -1;
};

struct ImageSize {
    int32_t width = -1;
    int32_t height = -1;
    bool operator==(const ImageSize &) const = default;
};

ImageSize sizeOf(ImageHandle image) {
    ImageSize size;
    TAVO_GetImageWidth(image, &size.width);
    TAVO_GetImageHeight(image, &size.height);
    return size;
}

std::vector<uint8_t> pixelsOf(ImageHandle image, TAVO_IMAGEMODE mode) {
    int32_t size = 0;
    if (TAVO_GetImageBufferSize(image, &size, mode) != 0) return {};
    std::vector<uint8_t> pixels(static_cast<std::size_t>(size));
    if (size > 0) TAVO_SaveImageToBuffer(image, pixels.data(), mode);
    return pixels;
}

// Caller points: destinations on the image, sources a few pixels away (kept on
// the image).
void makePoints(std::mt19937 &random, int count, int width, int height, std::vector<int32_t> &sourcePoints,
                std::vector<int32_t> &destinationPoints) {
    std::uniform_int_distribution<int> column(0, width - 1);
    std::uniform_int_distribution<int> row(0, height - 1);
    std::uniform_int_distribution<int> shift(-4, 4);
    for (int k = 0; k < count; ++k) {
        const int dx = column(random);
        const int dy = row(random);
        destinationPoints.push_back(dx);
        destinationPoints.push_back(dy);
        sourcePoints.push_back(std::clamp(dx + shift(random), 0, width - 1));
        sourcePoints.push_back(std::clamp(dy + shift(random), 0, height - 1));
    }
}

void writeFile(const std::filesystem::path &path, const std::vector<unsigned char> &bytes) {
    std::FILE *file = std::fopen(path.string().c_str(), "wb");
    ASSERT_NE(file, nullptr);
    const std::size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    ASSERT_EQ(written, bytes.size());
}

// The bytes of "sqrt.dat" for a table, little-endian whatever the host.
std::vector<unsigned char> sqrtFileBytes(const std::vector<float> &table) {
    std::vector<unsigned char> bytes(table.size() * 4);
    for (std::size_t i = 0; i < table.size(); ++i) {
        uint32_t bits = 0;
        std::memcpy(&bits, &table[i], 4);
        for (int b = 0; b < 4; ++b) bytes[4 * i + static_cast<std::size_t>(b)] = static_cast<unsigned char>(bits >> (8 * b));
    }
    return bytes;
}

// Every test starts with the real table loaded by TAVO_InitRBF from a
// "sqrt.dat" written into a temporary directory, and leaves it so.
class ImageWarp : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        directory_ = new std::filesystem::path(std::filesystem::temp_directory_path() /
                                               ("kelmo_warp_test_" + std::to_string(::getpid())));
        std::filesystem::create_directories(*directory_);
        table_ = new std::vector<float>(warp_reference::makeSqrtTable(kTableEntries));
        writeFile(*directory_ / "sqrt.dat", sqrtFileBytes(*table_));
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        std::filesystem::remove_all(*directory_, ignored);
        delete directory_;
        delete table_;
        directory_ = nullptr;
        table_ = nullptr;
    }
    void SetUp() override {
        ASSERT_EQ(TAVO_InitRBF(directoryString().c_str()), 0);
        ASSERT_EQ(kelmo::libraryState().sqrtTable, *table_);
    }
    void TearDown() override { kelmo::libraryState().sqrtTable = *table_; }

    // The directory with its trailing separator, as the host passes it.
    static std::string directoryString() { return directory_->string() + "/"; }

    // Warps `source` into a fresh destination and compares with the reference.
    static void expectMatchesReference(ImageHandle source, TAVO_IMAGEMODE mode, const std::vector<int32_t> &sourcePoints,
                                       const std::vector<int32_t> &destinationPoints) {
        const ImageSize size = sizeOf(source);
        TestImage destination;
        const auto count = static_cast<int32_t>(sourcePoints.size() / 2);
        ASSERT_EQ(TAVO_WarpImageRBF(source, destination.handle, sourcePoints.data(), destinationPoints.data(), count,
                                    mode),
                  0);
        ASSERT_EQ(sizeOf(destination.handle), size);
        const std::vector<uint8_t> expected = warp_reference::warp(pixelsOf(source, mode), size.width, size.height,
                                                                   channelsOf(mode), sourcePoints, destinationPoints);
        const std::vector<uint8_t> actual = pixelsOf(destination.handle, mode);
        ASSERT_EQ(actual.size(), expected.size());
        std::size_t differences = 0;
        for (std::size_t k = 0; k < actual.size(); ++k) differences += actual[k] != expected[k];
        EXPECT_EQ(differences, 0u) << size.width << "x" << size.height << " mode " << mode;
    }

    static std::filesystem::path *directory_;
    static std::vector<float> *table_;
};

std::filesystem::path *ImageWarp::directory_ = nullptr;
std::vector<float> *ImageWarp::table_ = nullptr;

// ---- TAVO_InitRBF ----------------------------------------------------------

TEST_F(ImageWarp, InitRBFLoadsTheTableFromDirectoryPlusSqrtDat) {
    kelmo::libraryState().sqrtTable.assign(kTableEntries, 0.0f);
    EXPECT_EQ(TAVO_InitRBF(directoryString().c_str()), 0);
    const std::vector<float> &table = kelmo::libraryState().sqrtTable;
    ASSERT_EQ(table.size(), kTableEntries);
    EXPECT_EQ(table[0], 0.0f);
    EXPECT_EQ(table[4], 2.0f);
    EXPECT_EQ(table[kTableEntries - 1], std::sqrt(static_cast<float>(kTableEntries - 1)));
    EXPECT_EQ(table, *table_);
}

TEST_F(ImageWarp, InitRBFJoinsDirectoryAndFileNameWithoutSeparator) {
    std::vector<float> other(kTableEntries, 3.0f);
    writeFile(*directory_ / "prefixsqrt.dat", sqrtFileBytes(other));
    EXPECT_EQ(TAVO_InitRBF((directory_->string() + "/prefix").c_str()), 0);
    EXPECT_EQ(kelmo::libraryState().sqrtTable, other);
}

TEST_F(ImageWarp, InitRBFDecodesLittleEndianFloats) {
    std::vector<unsigned char> bytes(kelmo::kSqrtFileBytes, 0);
    const unsigned char one[4] = {0x00, 0x00, 0x80, 0x3F};   // 1.0f, little-endian
    const unsigned char two[4] = {0x00, 0x00, 0x00, 0x40};   // 2.0f
    const unsigned char swapped[4] = {0x3F, 0x80, 0x00, 0x00};  // 1.0f big-endian: bits 0x0000803F
    std::memcpy(bytes.data() + 4, one, 4);
    std::memcpy(bytes.data() + 8, two, 4);
    std::memcpy(bytes.data() + 12, swapped, 4);
    const std::vector<float> table = kelmo::decodeSqrtTable(bytes);
    ASSERT_EQ(table.size(), kTableEntries);
    EXPECT_EQ(table[1], 1.0f);
    EXPECT_EQ(table[2], 2.0f);
    uint32_t bits = 0;
    std::memcpy(&bits, &table[3], 4);
    EXPECT_EQ(bits, 0x0000803Fu);
}

TEST_F(ImageWarp, InitRBFWithMissingFileReturnsZeroAndKeepsTheTable) {
    kelmo::libraryState().sqrtTable[7] = 123.0f;
    const std::vector<float> before = kelmo::libraryState().sqrtTable;
    EXPECT_EQ(TAVO_InitRBF((directory_->string() + "/nowhere/").c_str()), 0);
    EXPECT_EQ(kelmo::libraryState().sqrtTable, before);
}

TEST_F(ImageWarp, InitRBFWithShortFileReturnsZeroAndKeepsTheTable) {
    const std::filesystem::path shortDirectory = *directory_ / "short";
    std::filesystem::create_directories(shortDirectory);
    std::vector<unsigned char> bytes = sqrtFileBytes(std::vector<float>(kTableEntries, 5.0f));
    kelmo::libraryState().sqrtTable[7] = 123.0f;
    const std::vector<float> before = kelmo::libraryState().sqrtTable;
    // One byte short, one entry short, and an empty file.
    for (const std::size_t length : {bytes.size() - 1, bytes.size() - 4, std::size_t{0}}) {
        writeFile(shortDirectory / "sqrt.dat", std::vector<unsigned char>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)));
        EXPECT_EQ(TAVO_InitRBF((shortDirectory.string() + "/").c_str()), 0);
        EXPECT_EQ(kelmo::libraryState().sqrtTable, before) << "length " << length;
    }
}

TEST_F(ImageWarp, InitRBFReadsOnlyTheFirst8388608Bytes) {
    const std::filesystem::path longDirectory = *directory_ / "long";
    std::filesystem::create_directories(longDirectory);
    const std::vector<float> other(kTableEntries, 7.0f);
    std::vector<unsigned char> bytes = sqrtFileBytes(other);
    bytes.insert(bytes.end(), 100, 0xFF);
    writeFile(longDirectory / "sqrt.dat", bytes);
    EXPECT_EQ(TAVO_InitRBF((longDirectory.string() + "/").c_str()), 0);
    EXPECT_EQ(kelmo::libraryState().sqrtTable, other);
}

TEST_F(ImageWarp, InitRBFWithNullDirectoryReturnsZeroAndKeepsTheTable) {
    kelmo::libraryState().sqrtTable[7] = 123.0f;
    const std::vector<float> before = kelmo::libraryState().sqrtTable;
    EXPECT_EQ(TAVO_InitRBF(nullptr), 0);
    EXPECT_EQ(kelmo::libraryState().sqrtTable, before);
}

// ---- TAVO_WarpImageRBF against the independent computation ---------------------

TEST_F(ImageWarp, GreyModeMatchesIndependentComputationPixelForPixel) {
    std::mt19937 random(11);
    for (const auto &[width, height] : {std::pair{40, 30}, std::pair{33, 17}, std::pair{31, 23}}) {
        const TestImage source(width, height, TAVO_IMAGEMODE_GREY, 1);
        std::vector<int32_t> sourcePoints;
        std::vector<int32_t> destinationPoints;
        makePoints(random, 8, width, height, sourcePoints, destinationPoints);
        expectMatchesReference(source.handle, TAVO_IMAGEMODE_GREY, sourcePoints, destinationPoints);
    }
}

TEST_F(ImageWarp, ColourModeMatchesIndependentComputationPixelForPixel) {
    std::mt19937 random(12);
    for (const auto &[width, height] : {std::pair{40, 30}, std::pair{33, 17}, std::pair{31, 23}}) {
        const TestImage source(width, height, TAVO_IMAGEMODE_COLOR, 2);
        std::vector<int32_t> sourcePoints;
        std::vector<int32_t> destinationPoints;
        makePoints(random, 8, width, height, sourcePoints, destinationPoints);
        expectMatchesReference(source.handle, TAVO_IMAGEMODE_COLOR, sourcePoints, destinationPoints);
    }
}

TEST_F(ImageWarp, FourByteModeMatchesIndependentComputationPixelForPixel) {
    std::mt19937 random(13);
    for (const auto &[width, height] : {std::pair{40, 30}, std::pair{33, 17}, std::pair{31, 23}}) {
        const TestImage source(width, height, TAVO_IMAGEMODE_COLOR_ALPHA, 3);
        std::vector<int32_t> sourcePoints;
        std::vector<int32_t> destinationPoints;
        makePoints(random, 8, width, height, sourcePoints, destinationPoints);
        expectMatchesReference(source.handle, TAVO_IMAGEMODE_COLOR_ALPHA, sourcePoints, destinationPoints);
    }
}

TEST_F(ImageWarp, GreyModeOfAColourImageWarpsItsGreyConversion) {
    std::mt19937 random(14);
    const TestImage source(36, 28, TAVO_IMAGEMODE_COLOR_ALPHA, 4);
    std::vector<int32_t> sourcePoints;
    std::vector<int32_t> destinationPoints;
    makePoints(random, 5, 36, 28, sourcePoints, destinationPoints);
    expectMatchesReference(source.handle, TAVO_IMAGEMODE_GREY, sourcePoints, destinationPoints);
}

TEST_F(ImageWarp, SixtySixPointsInGreyModeMatchIndependentComputation) {
    // The alpha-channel step (Part 4.3) warps with 66 landmarks in mode 0.
    std::mt19937 random(15);
    const TestImage source(64, 64, TAVO_IMAGEMODE_GREY, 5);
    std::vector<int32_t> sourcePoints;
    std::vector<int32_t> destinationPoints;
    makePoints(random, 66, 64, 64, sourcePoints, destinationPoints);
    expectMatchesReference(source.handle, TAVO_IMAGEMODE_GREY, sourcePoints, destinationPoints);
}

// ---- Edge cases of Part 6.1 -------------------------------------------------

TEST_F(ImageWarp, WithoutPointsOnlyTheFirstRowAndColumnMoveOnePixelInward) {
    const int width = 40;
    const int height = 30;
    const TestImage source(width, height, TAVO_IMAGEMODE_GREY, 6);
    TestImage destination;
    ASSERT_EQ(TAVO_WarpImageRBF(source.handle, destination.handle, nullptr, nullptr, 0, TAVO_IMAGEMODE_GREY), 0);
    const std::vector<uint8_t> in = pixelsOf(source.handle, TAVO_IMAGEMODE_GREY);
    const std::vector<uint8_t> out = pixelsOf(destination.handle, TAVO_IMAGEMODE_GREY);
    ASSERT_EQ(out.size(), in.size());
    const auto at = [&](const std::vector<uint8_t> &pixels, int x, int y) {
        return pixels[static_cast<std::size_t>(y * width + x)];
    };
    // The clamp moves the half-size samples of column 0 and row 0 by one
    // pixel; the corner-aligned enlargement spreads that over the first two
    // columns and rows. From column 3 and row 3 on the displacement is 0.
    for (int y = 3; y < height; ++y) {
        for (int x = 3; x < width; ++x) {
            ASSERT_EQ(at(out, x, y), at(in, x, y)) << x << "," << y;
        }
        EXPECT_EQ(at(out, 0, y), at(in, 1, y)) << "row " << y;
    }
    for (int x = 3; x < width; ++x) {
        EXPECT_EQ(at(out, x, 0), at(in, x, 1)) << "column " << x;
    }
    EXPECT_EQ(at(out, 0, 0), at(in, 1, 1));
    expectMatchesReference(source.handle, TAVO_IMAGEMODE_GREY, {}, {});
}

TEST_F(ImageWarp, CallerPointWithEqualSourceAndDestinationGivesTheImageOfNoPoints) {
    const TestImage source(40, 30, TAVO_IMAGEMODE_GREY, 7);
    TestImage withFixedPoint;
    TestImage withoutPoints;
    const std::vector<int32_t> points = {17, 12};
    ASSERT_EQ(TAVO_WarpImageRBF(source.handle, withFixedPoint.handle, points.data(), points.data(), 1,
                                TAVO_IMAGEMODE_GREY),
              0);
    ASSERT_EQ(TAVO_WarpImageRBF(source.handle, withoutPoints.handle, nullptr, nullptr, 0, TAVO_IMAGEMODE_GREY), 0);
    EXPECT_EQ(pixelsOf(withFixedPoint.handle, TAVO_IMAGEMODE_GREY), pixelsOf(withoutPoints.handle, TAVO_IMAGEMODE_GREY));
    const kelmo::TInterpolator interpolator = kelmo::makeWarpInterpolator(40, 30, points.data(), points.data(), 1);
    ASSERT_EQ(interpolator.controlPoints.size(), 5u);
    EXPECT_EQ(interpolator.controlPoints[0].x, 17.0f);
    EXPECT_EQ(interpolator.controlPoints[0].y, 12.0f);
    EXPECT_EQ(interpolator.values[0].x, 0.0f);
    EXPECT_EQ(interpolator.values[0].y, 0.0f);
}

TEST_F(ImageWarp, DestinationPointOnCornerZeroPushesThatCornerToOneOne) {
    const std::vector<int32_t> sourcePoints = {3, 2, 20, 20};
    const std::vector<int32_t> destinationPoints = {0, 0, 22, 18};
    const kelmo::TInterpolator interpolator =
        kelmo::makeWarpInterpolator(40, 30, sourcePoints.data(), destinationPoints.data(), 2);
    ASSERT_EQ(interpolator.controlPoints.size(), 6u);
    // The caller's point stays, the corner after it moves.
    EXPECT_EQ(interpolator.controlPoints[0].x, 0.0f);
    EXPECT_EQ(interpolator.controlPoints[0].y, 0.0f);
    EXPECT_EQ(interpolator.values[0].x, 3.0f);
    EXPECT_EQ(interpolator.values[0].y, 2.0f);
    EXPECT_EQ(interpolator.values[1].x, -2.0f);
    EXPECT_EQ(interpolator.values[1].y, 2.0f);
    EXPECT_EQ(interpolator.controlPoints[2].x, 1.0f);
    EXPECT_EQ(interpolator.controlPoints[2].y, 1.0f);
    // The other corners in order (W - 1, 0), (0, H - 1), (W - 1, H - 1), value 0.
    EXPECT_EQ(interpolator.controlPoints[3].x, 39.0f);
    EXPECT_EQ(interpolator.controlPoints[3].y, 0.0f);
    EXPECT_EQ(interpolator.controlPoints[4].x, 0.0f);
    EXPECT_EQ(interpolator.controlPoints[4].y, 29.0f);
    EXPECT_EQ(interpolator.controlPoints[5].x, 39.0f);
    EXPECT_EQ(interpolator.controlPoints[5].y, 29.0f);
    for (std::size_t k = 2; k < 6; ++k) {
        EXPECT_EQ(interpolator.values[k].x, 0.0f);
        EXPECT_EQ(interpolator.values[k].y, 0.0f);
    }
    const TestImage source(40, 30, TAVO_IMAGEMODE_GREY, 8);
    expectMatchesReference(source.handle, TAVO_IMAGEMODE_GREY, sourcePoints, destinationPoints);
}

TEST_F(ImageWarp, TwoCallerPointsOnTheSameDestinationPixelMoveTheSecondUntilFree) {
    const std::vector<int32_t> sourcePoints = {10, 10, 14, 13, 8, 9};
    const std::vector<int32_t> destinationPoints = {12, 12, 13, 13, 12, 12};
    const kelmo::TInterpolator interpolator =
        kelmo::makeWarpInterpolator(40, 30, sourcePoints.data(), destinationPoints.data(), 3);
    ASSERT_EQ(interpolator.controlPoints.size(), 7u);
    // (12, 12) is taken, (13, 13) too: the third point lands on (14, 14).
    EXPECT_EQ(interpolator.controlPoints[2].x, 14.0f);
    EXPECT_EQ(interpolator.controlPoints[2].y, 14.0f);
    // Its value stays source - destination of the caller's pair.
    EXPECT_EQ(interpolator.values[2].x, -4.0f);
    EXPECT_EQ(interpolator.values[2].y, -3.0f);
    const TestImage source(40, 30, TAVO_IMAGEMODE_COLOR, 9);
    expectMatchesReference(source.handle, TAVO_IMAGEMODE_COLOR, sourcePoints, destinationPoints);
}

TEST_F(ImageWarp, ValuesAreSourceMinusDestinationTakenInIntegers) {
    // INT32_MAX - INT32_MIN overflows 32 bits; the difference is exact in 64.
    const std::vector<int32_t> sourcePoints = {INT32_MAX, INT32_MIN};
    const std::vector<int32_t> destinationPoints = {INT32_MIN, INT32_MAX};
    const kelmo::TInterpolator interpolator =
        kelmo::makeWarpInterpolator(40, 30, sourcePoints.data(), destinationPoints.data(), 1);
    EXPECT_EQ(interpolator.values[0].x, 4294967295.0f);
    EXPECT_EQ(interpolator.values[0].y, -4294967295.0f);
    EXPECT_EQ(interpolator.controlPoints[0].x, -2147483648.0f);
    EXPECT_EQ(interpolator.controlPoints[0].y, 2147483648.0f);
}

TEST_F(ImageWarp, Image1024x1024PassesTheSizeCheck) {
    const TestImage source(1024, 1024, TAVO_IMAGEMODE_GREY, 10);
    TestImage destination;
    const std::vector<int32_t> sourcePoints = {500, 500, 100, 900};
    const std::vector<int32_t> destinationPoints = {510, 490, 100, 900};
    EXPECT_EQ(TAVO_WarpImageRBF(source.handle, destination.handle, sourcePoints.data(), destinationPoints.data(), 2,
                                TAVO_IMAGEMODE_GREY),
              0);
    EXPECT_EQ(sizeOf(destination.handle), (ImageSize{1024, 1024}));
}

TEST_F(ImageWarp, Image1024x1025ReturnsMinusOneAndLeavesTheDestinationUntouched) {
    for (const auto &[width, height] : {std::pair{1024, 1025}, std::pair{1025, 1024}}) {
        const TestImage source(width, height, TAVO_IMAGEMODE_GREY, 11);
        const TestImage destination(20, 10, TAVO_IMAGEMODE_COLOR, 12);
        const std::vector<uint8_t> before = pixelsOf(destination.handle, TAVO_IMAGEMODE_COLOR);
        EXPECT_EQ(TAVO_WarpImageRBF(source.handle, destination.handle, nullptr, nullptr, 0, TAVO_IMAGEMODE_GREY),
                  TAVO_ERR_GENERAL);
        EXPECT_EQ(sizeOf(destination.handle), (ImageSize{20, 10}));
        EXPECT_EQ(pixelsOf(destination.handle, TAVO_IMAGEMODE_COLOR), before);
    }
}

TEST_F(ImageWarp, SourceAndDestinationMayBeTheSameImage) {
    std::mt19937 random(16);
    std::vector<int32_t> sourcePoints;
    std::vector<int32_t> destinationPoints;
    makePoints(random, 6, 40, 30, sourcePoints, destinationPoints);
    const TestImage image(40, 30, TAVO_IMAGEMODE_COLOR, 13);
    const std::vector<uint8_t> expected = warp_reference::warp(pixelsOf(image.handle, TAVO_IMAGEMODE_COLOR), 40, 30, 3,
                                                               sourcePoints, destinationPoints);
    ASSERT_EQ(TAVO_WarpImageRBF(image.handle, image.handle, sourcePoints.data(), destinationPoints.data(), 6,
                                TAVO_IMAGEMODE_COLOR),
              0);
    EXPECT_EQ(pixelsOf(image.handle, TAVO_IMAGEMODE_COLOR), expected);
}

TEST_F(ImageWarp, ResultHasTheSourceSizeWhateverTheDestinationWas) {
    const TestImage source(40, 30, TAVO_IMAGEMODE_GREY, 14);
    const TestImage destination(300, 5, TAVO_IMAGEMODE_COLOR_ALPHA, 15);
    ASSERT_EQ(TAVO_WarpImageRBF(source.handle, destination.handle, nullptr, nullptr, 0, TAVO_IMAGEMODE_GREY), 0);
    EXPECT_EQ(sizeOf(destination.handle), (ImageSize{40, 30}));
}

TEST_F(ImageWarp, ModesZeroOneTwoHandTheResultBackInTheSameMode) {
    // Mode 2 warps the fourth byte with the colours: a uniform image with
    // alpha 77 stays alpha 77 everywhere (the clamp keeps every sample inside).
    std::vector<uint8_t> pixels(40 * 30 * 4 + 1);
    for (std::size_t k = 0; k + 1 < pixels.size(); k += 4) {
        pixels[k] = 200;
        pixels[k + 1] = 100;
        pixels[k + 2] = 50;
        pixels[k + 3] = 77;
    }
    TestImage source;
    TAVO_FreeImage(source.handle);
    ASSERT_EQ(TAVO_LoadImageFromBuffer(&source.handle, pixels.data(), 40, 30, 160, TAVO_IMAGEMODE_COLOR_ALPHA), 0);
    const std::vector<int32_t> sourcePoints = {10, 10};
    const std::vector<int32_t> destinationPoints = {14, 12};
    for (const TAVO_IMAGEMODE mode : {TAVO_IMAGEMODE_GREY, TAVO_IMAGEMODE_COLOR, TAVO_IMAGEMODE_COLOR_ALPHA}) {
        TestImage destination;
        ASSERT_EQ(TAVO_WarpImageRBF(source.handle, destination.handle, sourcePoints.data(), destinationPoints.data(), 1,
                                    mode),
                  0);
        // A uniform source warps to itself in that mode's layout.
        EXPECT_EQ(pixelsOf(destination.handle, mode), pixelsOf(source.handle, mode)) << "mode " << mode;
    }
    TestImage destination;
    ASSERT_EQ(TAVO_WarpImageRBF(source.handle, destination.handle, sourcePoints.data(), destinationPoints.data(), 1,
                                TAVO_IMAGEMODE_COLOR_ALPHA),
              0);
    const std::vector<uint8_t> out = pixelsOf(destination.handle, TAVO_IMAGEMODE_COLOR_ALPHA);
    for (std::size_t k = 3; k < out.size(); k += 4) ASSERT_EQ(out[k], 77);
    // Mode 1 hands back three channels: the fourth byte reads as opaque.
    TestImage colourDestination;
    ASSERT_EQ(TAVO_WarpImageRBF(source.handle, colourDestination.handle, sourcePoints.data(), destinationPoints.data(), 1,
                                TAVO_IMAGEMODE_COLOR),
              0);
    const std::vector<uint8_t> colourOut = pixelsOf(colourDestination.handle, TAVO_IMAGEMODE_COLOR_ALPHA);
    for (std::size_t k = 3; k < colourOut.size(); k += 4) ASSERT_EQ(colourOut[k], 255);
}

TEST_F(ImageWarp, UnknownModeReturnsZeroAndLeavesTheDestinationAsItWas) {
    const TestImage source(40, 30, TAVO_IMAGEMODE_GREY, 16);
    const TestImage destination(12, 9, TAVO_IMAGEMODE_COLOR, 17);
    const std::vector<uint8_t> before = pixelsOf(destination.handle, TAVO_IMAGEMODE_COLOR);
    EXPECT_EQ(TAVO_WarpImageRBF(source.handle, destination.handle, nullptr, nullptr, 0, static_cast<TAVO_IMAGEMODE>(3)),
              0);
    EXPECT_EQ(sizeOf(destination.handle), (ImageSize{12, 9}));
    EXPECT_EQ(pixelsOf(destination.handle, TAVO_IMAGEMODE_COLOR), before);
}

TEST_F(ImageWarp, WarpWithoutLoadedTableSeesZeroKernelAndEqualsTheWarpWithoutPoints) {
    const TestImage source(40, 30, TAVO_IMAGEMODE_GREY, 18);
    TestImage withoutPoints;
    ASSERT_EQ(TAVO_WarpImageRBF(source.handle, withoutPoints.handle, nullptr, nullptr, 0, TAVO_IMAGEMODE_GREY), 0);
    kelmo::libraryState().sqrtTable.assign(kTableEntries, 0.0f);
    const std::vector<int32_t> sourcePoints = {10, 10, 30, 5};
    const std::vector<int32_t> destinationPoints = {15, 12, 25, 8};
    TestImage withPoints;
    ASSERT_EQ(TAVO_WarpImageRBF(source.handle, withPoints.handle, sourcePoints.data(), destinationPoints.data(), 2,
                                TAVO_IMAGEMODE_GREY),
              0);
    EXPECT_EQ(pixelsOf(withPoints.handle, TAVO_IMAGEMODE_GREY), pixelsOf(withoutPoints.handle, TAVO_IMAGEMODE_GREY));
}

TEST_F(ImageWarp, ResultDoesNotDependOnTheNumberOfThreads) {
    std::mt19937 random(17);
    std::vector<int32_t> sourcePoints;
    std::vector<int32_t> destinationPoints;
    makePoints(random, 20, 97, 64, sourcePoints, destinationPoints);
    const TestImage source(97, 64, TAVO_IMAGEMODE_COLOR, 19);
    const int savedThreads = omp_get_max_threads();
    TestImage oneThread;
    TestImage twoThreads;
    omp_set_num_threads(1);
    ASSERT_EQ(TAVO_WarpImageRBF(source.handle, oneThread.handle, sourcePoints.data(), destinationPoints.data(), 20,
                                TAVO_IMAGEMODE_COLOR),
              0);
    omp_set_num_threads(2);
    ASSERT_EQ(TAVO_WarpImageRBF(source.handle, twoThreads.handle, sourcePoints.data(), destinationPoints.data(), 20,
                                TAVO_IMAGEMODE_COLOR),
              0);
    omp_set_num_threads(savedThreads);
    EXPECT_EQ(pixelsOf(oneThread.handle, TAVO_IMAGEMODE_COLOR), pixelsOf(twoThreads.handle, TAVO_IMAGEMODE_COLOR));
}

TEST_F(ImageWarp, PointsOffTheImageAreEvaluatedWithComputedSquareRoots) {
    // Squared distances far beyond the table's last index (2^21 - 1).
    const std::vector<int32_t> sourcePoints = {-2990, 5004, 20, 14};
    const std::vector<int32_t> destinationPoints = {-3000, 5000, 18, 15};
    const TestImage source(40, 30, TAVO_IMAGEMODE_GREY, 20);
    expectMatchesReference(source.handle, TAVO_IMAGEMODE_GREY, sourcePoints, destinationPoints);
}

TEST_F(ImageWarp, PointsAtTheLimitsOf32BitIntegersReturnWithoutHanging) {
    // Coincident destination points at 2^31: the (+1, +1) nudge cannot move a
    // float that large; the warp still ends, and nothing reads outside.
    const std::vector<int32_t> sourcePoints = {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MIN, 0, 0, 5, 5};
    const std::vector<int32_t> destinationPoints = {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN,
                                                    INT32_MIN, INT32_MAX};
    const TestImage source(40, 30, TAVO_IMAGEMODE_GREY, 21);
    TestImage destination;
    EXPECT_EQ(TAVO_WarpImageRBF(source.handle, destination.handle, sourcePoints.data(), destinationPoints.data(), 4,
                                TAVO_IMAGEMODE_GREY),
              0);
    EXPECT_EQ(sizeOf(destination.handle), (ImageSize{40, 30}));
}

// ---- Validation (include/kelmo.h contract): -1 and nothing changed -------------

class ImageWarpRejects : public ImageWarp {
protected:
    void expectRejected(ImageHandle source, ImageHandle destination, const int32_t *sourcePoints,
                        const int32_t *destinationPoints, int32_t count) {
        const ImageSize before = sizeOf(destination);
        const std::vector<uint8_t> pixelsBefore = pixelsOf(destination, TAVO_IMAGEMODE_COLOR);
        EXPECT_EQ(TAVO_WarpImageRBF(source, destination, sourcePoints, destinationPoints, count, TAVO_IMAGEMODE_COLOR),
                  TAVO_ERR_GENERAL);
        EXPECT_EQ(sizeOf(destination), before);
        EXPECT_EQ(pixelsOf(destination, TAVO_IMAGEMODE_COLOR), pixelsBefore);
    }
};

TEST_F(ImageWarpRejects, InvalidSourceHandleReturnsMinusOne) {
    const TestImage destination(12, 9, TAVO_IMAGEMODE_COLOR, 22);
    ImageHandle freed = -1;
    TAVO_CreateEmptyImage(&freed);
    TAVO_FreeImage(freed);
    for (const ImageHandle source : {ImageHandle{-1}, ImageHandle{-7}, freed, ImageHandle{1 << 30}}) {
        expectRejected(source, destination.handle, nullptr, nullptr, 0);
    }
}

TEST_F(ImageWarpRejects, InvalidDestinationHandleReturnsMinusOneAndLeavesTheSource) {
    const TestImage source(40, 30, TAVO_IMAGEMODE_COLOR, 23);
    const std::vector<uint8_t> sourceBefore = pixelsOf(source.handle, TAVO_IMAGEMODE_COLOR);
    ImageHandle freed = -1;
    TAVO_CreateEmptyImage(&freed);
    TAVO_FreeImage(freed);
    for (const ImageHandle destination : {ImageHandle{-1}, freed, ImageHandle{1 << 30}}) {
        EXPECT_EQ(TAVO_WarpImageRBF(source.handle, destination, nullptr, nullptr, 0, TAVO_IMAGEMODE_COLOR),
                  TAVO_ERR_GENERAL);
    }
    EXPECT_EQ(pixelsOf(source.handle, TAVO_IMAGEMODE_COLOR), sourceBefore);
}

TEST_F(ImageWarpRejects, NullPointsWithPositiveCountReturnMinusOne) {
    const TestImage source(40, 30, TAVO_IMAGEMODE_COLOR, 24);
    const TestImage destination(12, 9, TAVO_IMAGEMODE_COLOR, 25);
    const std::vector<int32_t> points = {5, 5};
    expectRejected(source.handle, destination.handle, nullptr, points.data(), 1);
    expectRejected(source.handle, destination.handle, points.data(), nullptr, 1);
    expectRejected(source.handle, destination.handle, nullptr, nullptr, 1);
}

TEST_F(ImageWarp, NullPointsWithZeroCountWarpTheImage) {
    const TestImage source(40, 30, TAVO_IMAGEMODE_COLOR, 26);
    expectMatchesReference(source.handle, TAVO_IMAGEMODE_COLOR, {}, {});
}

TEST_F(ImageWarpRejects, CountOutsideZeroTo4096ReturnsMinusOne) {
    const TestImage source(40, 30, TAVO_IMAGEMODE_COLOR, 27);
    const TestImage destination(12, 9, TAVO_IMAGEMODE_COLOR, 28);
    const std::vector<int32_t> points(2 * 4098, 3);
    expectRejected(source.handle, destination.handle, points.data(), points.data(), -1);
    expectRejected(source.handle, destination.handle, points.data(), points.data(), INT32_MIN);
    expectRejected(source.handle, destination.handle, points.data(), points.data(), 4097);
    expectRejected(source.handle, destination.handle, points.data(), points.data(), INT32_MAX);
}

TEST_F(ImageWarpRejects, SourceOnePixelWideOrHighReturnsMinusOne) {
    const TestImage destination(12, 9, TAVO_IMAGEMODE_COLOR, 29);
    for (const auto &[width, height] : {std::pair{1, 20}, std::pair{20, 1}, std::pair{1, 1}}) {
        const TestImage source(width, height, TAVO_IMAGEMODE_COLOR, 30);
        expectRejected(source.handle, destination.handle, nullptr, nullptr, 0);
    }
}

TEST_F(ImageWarp, SmallestSupportedSourceTwoByTwoWarps) {
    const TestImage source(2, 2, TAVO_IMAGEMODE_COLOR_ALPHA, 31);
    const std::vector<int32_t> points = {1, 1};
    const std::vector<int32_t> destinationPoints = {0, 1};
    expectMatchesReference(source.handle, TAVO_IMAGEMODE_COLOR_ALPHA, points, destinationPoints);
}

TEST_F(ImageWarp, EmptySourceGivesAnEmptyDestination) {
    const TestImage source;  // 0 x 0
    const TestImage destination(12, 9, TAVO_IMAGEMODE_COLOR, 32);
    const std::vector<int32_t> points = {3, 4};
    EXPECT_EQ(TAVO_WarpImageRBF(source.handle, destination.handle, points.data(), points.data(), 1,
                                TAVO_IMAGEMODE_COLOR),
              0);
    EXPECT_EQ(sizeOf(destination.handle), (ImageSize{0, 0}));
}

// ---- TAVO_MorphImageRB ------------------------------------------------------

TEST(MorphImageRB, ReturnsZeroAndReadsNoArgument) {
    // Null pointers and nonsense values: a placeholder that reads nothing.
    EXPECT_EQ(TAVO_MorphImageRB(0u, 0u, nullptr, nullptr, -5, TAVO_IMAGEMODE_GREY, NAN, -1.0f, 99), 0);
    TPointf points[2] = {{1.0f, 2.0f}, {3.0f, 4.0f}};
    EXPECT_EQ(TAVO_MorphImageRB(1u, 2u, points, points, 2, TAVO_IMAGEMODE_COLOR, 0.5f, 0.5f, 0), 0);
    EXPECT_EQ(points[0].x, 1.0f);
    EXPECT_EQ(points[1].y, 4.0f);
}

}  // namespace
