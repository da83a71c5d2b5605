// Points files: one point per line, "x y" in pixels (origin at the top-left
// pixel, y down), the form in which `kelmo landmarks` writes the 66 feature
// points of creation from a photo and in which --points, --from and --to
// read points.
// Blank lines and lines starting with '#' are ignored.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kelmo::cli {

struct PointI {
    int32_t x = 0;
    int32_t y = 0;
};

inline constexpr int kFeaturePointCount = 66;
using FeaturePoints = std::array<PointI, kFeaturePointCount>;

// Largest magnitude of a coordinate accepted: far beyond any image the
// imaging library holds (32768 a side), small enough that differences of two
// coordinates stay in 32 bits.
inline constexpr double kMaxCoordinate = 1.0e6;

// Parses the text of a points file. Each point line holds two numbers
// (integers or decimals, rounded to the nearest integer, halves away from
// zero) and nothing else. `name` is used in messages ("points.txt:12: ...").
// expectedCount > 0: exactly that many points; 0: any count from 1 to
// maxCount. Throws CliError (exit code 1) naming the file, the line and the
// problem.
std::vector<PointI> parsePoints(const std::string &text, const std::string &name, int expectedCount,
                                int maxCount = 4096);

// Reads and parses a file (see parsePoints); a missing or unreadable file, or
// one above 1 MB, is an error naming it.
std::vector<PointI> readPointsFile(const std::string &path, int expectedCount, int maxCount = 4096);

// The 66 feature points of a file.
FeaturePoints readFeaturePoints(const std::string &path);

// The text of a points file: one "x y" line per point.
std::string formatPoints(const std::vector<PointI> &points);
std::string formatPoints(const FeaturePoints &points);

// As flat x, y integer pairs, the form of the TAVO_ interface.
std::vector<int32_t> flatten(const FeaturePoints &points);

}  // namespace kelmo::cli
