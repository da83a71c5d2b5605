// The image warp: the square-root table file, TAVO_WarpImageRBF against its
// re-computation, and the calls it refuses.
#include <gtest/gtest.h>
#include <omp.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "frame/kernel_level.h"
#include "frame/library_state.h"
#include "kelmo.h"
#include "tavoimage/test_image.h"
#include "warp/image_warp.h"
#include "warp/warp_reference.h"

namespace {

using namespace kelmo_test;
namespace fs = std::filesystem;

// Every test starts with the true square-root table, known to hold the roots
// as when "sqrt.dat" is read.
class ImageWarp : public ::testing::Test {
protected:
    void SetUp() override {
        for (std::size_t i = 0; i < table.size(); ++i) table[i] = std::sqrt(float(i));
        kelmo::libraryState().sqrtTableHoldsRoots = true;
    }
    static TestImage image(int width, int height, int channels, uint32_t seed) {
        return TestImage(randomBytes(std::size_t(width * height * channels), seed), width, height, channels);
    }
    std::vector<float> &table = kelmo::libraryState().sqrtTable;
};

TEST_F(ImageWarp, SquareRootTableIsReplacedOnlyByAWholeFileOfLittleEndianFloats) {
    // Files of entry i = i % 7 (as little-endian bytes), whole, cut short or
    // longer, in folders of a temporary one.
    const fs::path folder = fs::temp_directory_path() / ("kelmo_warp_" + std::to_string(::getpid()));
    std::vector<char> bytes(kelmo::kSqrtFileBytes + 100, char(0xFF));  // only the first 2^21 entries count
    for (std::size_t i = 0; i < kelmo::kSqrtTableEntries; ++i) {
        const float entry = float(i % 7);
        uint32_t bits;
        std::memcpy(&bits, &entry, 4);
        for (std::size_t b = 0; b < 4; ++b) bytes[4 * i + b] = char(bits >> (8 * b));
    }
    const std::pair<std::string, std::size_t> files[] = {{"/prefixsqrt.dat", kelmo::kSqrtFileBytes}, {"/short/sqrt.dat", kelmo::kSqrtFileBytes - 1},
                                                         {"/empty/sqrt.dat", 0}, {"/long/sqrt.dat", bytes.size()}};
    for (const auto &[name, size] : files) {
        fs::create_directories((folder.string() + name).substr(0, (folder.string() + name).rfind('/')));
        std::ofstream(folder.string() + name, std::ios::binary).write(bytes.data(), std::streamsize(size));
    }
    const std::pair<std::string, float> cases[] = {{"/short/", std::sqrt(3.0f)}, {"/empty/", std::sqrt(3.0f)},
                                                   {"/nowhere/", std::sqrt(3.0f)}, {"/prefix", 3.0f}, {"/long/", 3.0f}};
    for (const auto &[directory, entry3] : cases) {  // the file name is appended as it is
        table[3] = std::sqrt(3.0f);
        EXPECT_EQ(TAVO_InitRBF((folder.string() + directory).c_str()), 0);
        EXPECT_EQ(table[3], entry3) << directory;
    }
    EXPECT_EQ(table[kelmo::kSqrtTableEntries - 1], float((kelmo::kSqrtTableEntries - 1) % 7));
    EXPECT_EQ(TAVO_InitRBF(nullptr), 0);
    EXPECT_EQ(table[3], 3.0f);
    fs::remove_all(folder);
}

TEST_F(ImageWarp, WarpMatchesItsRecomputationPixelForPixelAtEveryKernelLevel) {
    // Sizes, the channels stored and warped, random points added to those given.
    const struct { int width, height, stored, channels, count; std::vector<int32_t> from, to; } cases[] = {
        {520, 507, 4, 4, 70, {}, {}},       // on threads, in bands with a short last one
        {40, 30, 1, 1, 8, {}, {}},          {33, 17, 3, 3, 8, {}, {}},           {31, 23, 4, 4, 8, {}, {}},
        {36, 28, 4, 1, 5, {}, {}},          {64, 64, 1, 1, 66, {}, {}},          {40, 30, 3, 3, 0, {}, {}},
        {301, 97, 4, 4, 70, {}, {}},        {130, 257, 3, 3, 30, {}, {}},        // rows of many lanes and a tail
        {40, 30, 1, 1, 0, {17, 12}, {17, 12}},                   // a point that stays: no displacement
        {40, 30, 1, 1, 1, {3, 2}, {0, 0}},                       // on a corner, which moves to (1, 1)
        {40, 30, 3, 3, 0, {10, 10, 14, 13, 8, 9}, {12, 12, 13, 13, 12, 12}},  // on one pixel: kept apart
        {40, 30, 1, 1, 0, {-2990, 5004, 20, 14}, {-3000, 5000, 18, 15}},      // far off the image
        {40, 30, 4, 4, 0, {-16400, 9, 20, 14}, {-16390, 9, 18, 15}},          // beyond the lanes' reach
        {2, 2, 4, 4, 0, {1, 1}, {0, 1}},                         // the smallest image
    };
    const int threads = omp_get_max_threads();
    for (int level = 0; level <= int(kelmo::bestKernelLevel()); ++level) {
        kelmo::setKernelLevel(kelmo::KernelLevel(level));
        std::mt19937 random(11);
        int k = 0;
        for (const auto &c : cases) {
            std::vector<int32_t> from = c.from, to = c.to;
            for (int i = 0; i < c.count; ++i) {
                to.insert(to.end(), {int32_t(random() % unsigned(c.width)), int32_t(random() % unsigned(c.height))});
                from.insert(from.end(), {std::clamp(to[to.size() - 2] + int(random() % 9) - 4, 0, c.width - 1),
                                         std::clamp(to.back() + int(random() % 9) - 4, 0, c.height - 1)});
            }
            const TestImage source = image(c.width, c.height, c.stored, uint32_t(++k));
            const TestImage other;
            // Cases alternate between warping the image onto itself on two
            // threads and into another image on one: neither may change the result.
            const std::vector<uint8_t> pixels = source.pixels(c.channels);
            const ImageHandle destination = k % 2 ? ImageHandle(source) : ImageHandle(other);
            omp_set_num_threads(k % 2 ? 2 : 1);
            ASSERT_EQ(TAVO_WarpImageRBF(source, destination, from.data(), to.data(), int32_t(to.size() / 2), modeOf(c.channels)), 0);
            const TestImage &result = k % 2 ? source : other;
            EXPECT_EQ(result.size(), std::pair(c.width, c.height));
            EXPECT_EQ(result.pixels(c.channels), referenceWarp(pixels, c.width, c.height, c.channels, from, to))
                << "case " << k << ", level " << level;
        }
    }
    omp_set_num_threads(threads);
    kelmo::setKernelLevel(kelmo::bestKernelLevel());
}

TEST_F(ImageWarp, ATableThatIsNotTheSquareRootIsReadAsItIs) {
    // A "sqrt.dat" whose entries within the distances of this warp differ from
    // the roots: every level must look them up, as the plain level does.
    const fs::path folder = fs::temp_directory_path() / ("kelmo_table_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    {
        std::vector<char> bytes(kelmo::kSqrtFileBytes);
        for (std::size_t i = 0; i < kelmo::kSqrtTableEntries; ++i) {
            const float entry = std::sqrt(float(i)) * (i >= 100 && i < 2000 ? 1.5f : 1.0f);
            uint32_t bits;
            std::memcpy(&bits, &entry, 4);
            for (std::size_t b = 0; b < 4; ++b) bytes[4 * i + b] = char(bits >> (8 * b));
        }
        std::ofstream((folder / "sqrt.dat").string(), std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    }
    EXPECT_EQ(TAVO_InitRBF((folder.string() + "/").c_str()), 0);
    fs::remove_all(folder);
    ASSERT_EQ(table[150], std::sqrt(150.0f) * 1.5f);
    const TestImage source = image(64, 48, 1, 5);
    const std::vector<int32_t> from = {20, 20, 40, 30}, to = {22, 19, 38, 33};
    std::vector<uint8_t> results[2];
    for (int level : {0, int(kelmo::bestKernelLevel())}) {
        const TestImage destination;
        kelmo::setKernelLevel(kelmo::KernelLevel(level));
        ASSERT_EQ(TAVO_WarpImageRBF(source, destination, from.data(), to.data(), 2, TAVO_IMAGEMODE_GREY), 0);
        results[level != 0] = destination.pixels(1);
    }
    kelmo::setKernelLevel(kelmo::bestKernelLevel());
    EXPECT_EQ(results[0], results[1]);
    // And the changed table does change the result: the true one differs.
    SetUp();
    const TestImage destination;
    ASSERT_EQ(TAVO_WarpImageRBF(source, destination, from.data(), to.data(), 2, TAVO_IMAGEMODE_GREY), 0);
    EXPECT_NE(destination.pixels(1), results[0]);
}

TEST_F(ImageWarp, RefusedCallsLeaveTheDestinationAsItWas) {
    const TestImage source = image(40, 30, 3, 23), destination = image(12, 9, 3, 25);
    const TestImage wide = image(1025, 1024, 1, 1), thin = image(1, 20, 3, 2), flat = image(20, 1, 3, 3);
    const ImageHandle freed = TestImage().handle;
    const std::vector<int32_t> points(2 * 4098, 3);
    const int32_t *p = points.data();
    const std::vector<uint8_t> before = destination.pixels(3);
    const struct { ImageHandle source, destination; const int32_t *from, *to; int32_t count, mode, expected; } cases[] = {
        {-1, destination, p, p, 1, 1, TAVO_ERR_GENERAL},      {freed, destination, p, p, 1, 1, TAVO_ERR_GENERAL},
        {1 << 30, destination, p, p, 1, 1, TAVO_ERR_GENERAL}, {source, freed, p, p, 1, 1, TAVO_ERR_GENERAL},
        {source, destination, nullptr, p, 1, 1, TAVO_ERR_GENERAL}, {source, destination, p, nullptr, 1, 1, TAVO_ERR_GENERAL},
        {source, destination, p, p, -1, 1, TAVO_ERR_GENERAL}, {source, destination, p, p, 4097, 1, TAVO_ERR_GENERAL},
        {source, destination, p, p, INT32_MIN, 1, TAVO_ERR_GENERAL},
        {wide, destination, p, p, 1, 0, TAVO_ERR_GENERAL},     // width^2 + height^2 above 2^21
        {thin, destination, p, p, 1, 1, TAVO_ERR_GENERAL},    {flat, destination, p, p, 1, 1, TAVO_ERR_GENERAL},
        {source, destination, p, p, 1, 3, 0},                  // an unknown mode does nothing
    };
    for (const auto &c : cases) {
        EXPECT_EQ(TAVO_WarpImageRBF(c.source, c.destination, c.from, c.to, c.count, TAVO_IMAGEMODE(c.mode)), c.expected)
            << c.source << " " << c.count << " " << c.mode;
        EXPECT_EQ(destination.pixels(3), before);  // the size included
    }
    // The largest image accepted: 1024^2 + 1024^2 = 2^21. An empty source
    // gives an empty image.
    const TestImage largest = image(1024, 1024, 1, 4), empty;
    EXPECT_EQ(TAVO_WarpImageRBF(largest, destination, p, p, 2, TAVO_IMAGEMODE_GREY), 0);
    EXPECT_EQ(destination.size(), std::pair(1024, 1024));
    EXPECT_EQ(TAVO_WarpImageRBF(empty, destination, p, p, 1, TAVO_IMAGEMODE_COLOR), 0);
    EXPECT_EQ(destination.size(), std::pair(0, 0));
    EXPECT_EQ(TAVO_MorphImageRB(0u, 0u, nullptr, nullptr, -5, TAVO_IMAGEMODE_GREY, NAN, -1.0f, 99), 0);  // a placeholder
}

TEST_F(ImageWarp, PointsAtTheLimitsOfIntegersEndWithoutHanging) {
    // Coinciding points at 2^31 cannot be moved apart by (1, 1) in floats.
    const std::vector<int32_t> from = {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MIN, 0, 0, 5, 5};
    const std::vector<int32_t> to = {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MAX};
    const TestImage source = image(40, 30, 1, 21), destination;
    EXPECT_EQ(TAVO_WarpImageRBF(source, destination, from.data(), to.data(), 4, TAVO_IMAGEMODE_GREY), 0);
    EXPECT_EQ(destination.size(), std::pair(40, 30));
    // The values are differences taken in 64 bits: 2^32 - 1 does not wrap.
    const kelmo::TInterpolator interpolator = kelmo::makeWarpInterpolator(40, 30, from.data() + 2, to.data() + 6, 1);
    EXPECT_EQ(interpolator.values[0].x, 4294967295.0f);
    EXPECT_EQ(interpolator.values[0].y, -4294967295.0f);
}

}  // namespace
