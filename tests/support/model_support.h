// Test helpers for models and files: bitwise comparison of regions, random
// regions, hand-encoded face files and temporary files.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "model/model.h"

namespace kelmo::test {

// A path under GoogleTest's temporary directory, unique to the running test.
inline std::string tempPath(const std::string &name) {
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string prefix = info != nullptr ? std::string(info->test_suite_name()) + "_" + info->name() : "";
    std::replace(prefix.begin(), prefix.end(), '/', '_');
    return ::testing::TempDir() + prefix + "_" + name;
}

inline bool fileExists(const std::string &path) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    return file != nullptr && std::fclose(file) == 0;
}

inline void writeBytesToFile(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    if (!bytes.empty()) {
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    }
    ASSERT_EQ(std::fclose(file), 0);
}

inline void writeTextToFile(const std::string &path, const std::string &text) {
    writeBytesToFile(path, {text.begin(), text.end()});
}

inline std::vector<uint8_t> readBytesFromFile(const std::string &path) {
    std::vector<uint8_t> bytes;
    if (std::FILE *file = std::fopen(path.c_str(), "rb")) {
        for (int c; (c = std::fgetc(file)) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
        std::fclose(file);
    }
    return bytes;
}

// Bit-for-bit equality of regions (floats by their bits: NaN payloads and
// signed zeros count).
inline bool regionsBitwiseEqual(const TRegion &a, const TRegion &b) {
    auto same = [](const auto &x, const auto &y) {
        return x.size() == y.size() && (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof(x[0])) == 0);
    };
    return same(a.quads, b.quads) && same(a.textureQuads, b.textureQuads) && same(a.vertices, b.vertices) &&
           same(a.textureCoords, b.textureCoords);
}

inline ::testing::AssertionResult regionListsBitwiseEqual(const std::vector<TRegion> &expected,
                                                          const std::vector<TRegion> &actual) {
    if (expected.size() != actual.size())
        return ::testing::AssertionFailure() << "region counts differ: " << expected.size() << " vs " << actual.size();
    for (std::size_t i = 0; i < expected.size(); ++i)
        if (!regionsBitwiseEqual(expected[i], actual[i]))
            return ::testing::AssertionFailure() << "region " << i << " differs";
    return ::testing::AssertionSuccess();
}

// A float with random bits (any value, NaNs and infinities included).
inline float randomBitsFloat(std::mt19937 &rng) { return std::bit_cast<float>(static_cast<uint32_t>(rng())); }

// A region obeying the face format (one texture coordinate per vertex, every
// corner in range) with coordinates of random bits.
inline TRegion randomRegion(std::mt19937 &rng, int vertexCount, int quadCount) {
    TRegion region;
    for (int i = 0; i < vertexCount; ++i) {
        region.vertices.push_back({randomBitsFloat(rng), randomBitsFloat(rng), randomBitsFloat(rng)});
        region.textureCoords.push_back({randomBitsFloat(rng), randomBitsFloat(rng)});
    }
    if (vertexCount == 0) return region;
    std::uniform_int_distribution<int32_t> corner(0, vertexCount - 1);
    for (int q = 0; q < quadCount; ++q) {
        region.quads.push_back({corner(rng), corner(rng), corner(rng), corner(rng)});
        region.textureQuads.push_back({corner(rng), corner(rng), corner(rng), corner(rng)});
    }
    return region;
}

// The face format encoded by hand, apart from the library's writer:
// little-endian 32-bit fields.
class FaceBytes {
public:
    FaceBytes &int32(int32_t value) { return uint32(static_cast<uint32_t>(value)); }
    FaceBytes &float32(float value) { return uint32(std::bit_cast<uint32_t>(value)); }
    FaceBytes &uint32(uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<uint8_t>(value >> shift));
        return *this;
    }
    FaceBytes &emptyRegion() { return int32(0).int32(0); }  // V = 0 and Q = 0
    FaceBytes &region(const TRegion &region) {
        int32(static_cast<int32_t>(region.vertices.size()));
        for (const TVector3f &v : region.vertices) float32(v.x).float32(v.y).float32(v.z);
        for (const TPointf &t : region.textureCoords) float32(t.x).float32(t.y);
        int32(static_cast<int32_t>(region.quads.size()));
        for (const auto *quads : {&region.quads, &region.textureQuads})
            for (const Quad &q : *quads)
                for (int32_t c : q) int32(c);
        return *this;
    }
    const std::vector<uint8_t> &bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace kelmo::test
