// The 68-to-66 mapping of docs/landmarks.md (see landmark_scheme.h).
#include "tools/kelmo/landmark_scheme.h"

#include <cmath>
#include <cstdint>

namespace kelmo::cli {

namespace {

// docs/landmarks.md, "The table": for each of the 66 indices, the iBUG 300-W
// points (0-based, as dlib's full_object_detection::part) whose mean it is.
const std::array<std::vector<int>, kFeaturePointCount> &sourceTable() {
    static const std::array<std::vector<int>, kFeaturePointCount> table = {{
        {36, 37, 38, 39, 40, 41},  // 0 right eye centre
        {42, 43, 44, 45, 46, 47},  // 1 left eye centre
        {0},   // 2 face outline, right, at the eyes
        {48},  // 3 right mouth corner
        {54},  // 4 left mouth corner
        {2},   // 5 jaw outline, right, below the cheekbone
        {4},   // 6 jaw outline, right, at the mouth
        {6},   // 7 jaw outline, right, before the chin
        {7},   // 8 chin outline, right
        {8},   // 9 chin bottom
        {9},   // 10 chin outline, left
        {10},  // 11 jaw outline, left, before the chin
        {12},  // 12 jaw outline, left, at the mouth
        {14},  // 13 jaw outline, left, below the cheekbone
        {17},  // 14 right brow, outer end
        {18},  // 15 right brow, outer middle
        {19},  // 16 right brow, middle
        {20},  // 17 right brow, inner middle
        {21},  // 18 right brow, inner end
        {22},  // 19 left brow, inner end
        {23},  // 20 left brow, inner middle
        {24},  // 21 left brow, middle
        {1},   // 22 face outline, right, below the eyes
        {25},  // 23 left brow, outer middle
        {26},  // 24 left brow, outer end
        {27},  // 25 nose root
        {28},  // 26 nose bridge
        {29},  // 27 nose ridge
        {30},  // 28 nose tip
        {37, 38},  // 29 right eye, upper lid margin middle
        {40, 41},  // 30 right eye, lower lid margin middle
        {31},  // 31 right nose wing, base
        {33},  // 32 nose base, middle
        {43, 44},  // 33 left eye, upper lid margin middle
        {46, 47},  // 34 left eye, lower lid margin middle
        {35},  // 35 left nose wing, base
        {36},  // 36 right eye, outer corner
        {37},  // 37 right eye, upper lid, outer third
        {38},  // 38 right eye, upper lid, inner third
        {39},  // 39 right eye, inner corner
        {40},  // 40 right eye, lower lid, inner third
        {41},  // 41 right eye, lower lid, outer third
        {42},  // 42 left eye, inner corner
        {15},  // 43 face outline, left, below the eyes
        {16},  // 44 face outline, left, at the eyes
        {43},  // 45 left eye, upper lid, inner third
        {44},  // 46 left eye, upper lid, outer third
        {45},  // 47 left eye, outer corner
        {46},  // 48 left eye, lower lid, outer third
        {47},  // 49 left eye, lower lid, inner third
        {49},  // 50 upper lip outline, right
        {50},  // 51 upper lip outline, right peak
        {51},  // 52 upper lip outline, middle
        {52},  // 53 upper lip outline, left peak
        {53},  // 54 upper lip outline, left
        {55},  // 55 lower lip outline, left
        {56},  // 56 lower lip outline, left of middle
        {57},  // 57 lower lip outline, middle
        {58},  // 58 lower lip outline, right of middle
        {59},  // 59 lower lip outline, right
        {61},  // 60 inner upper lip, right
        {62},  // 61 inner upper lip, middle
        {63},  // 62 inner upper lip, left
        {65},  // 63 inner lower lip, left
        {66},  // 64 inner lower lip, middle
        {67},  // 65 inner lower lip, right
    }};
    return table;
}

}  // namespace

const std::vector<int> &ibugSources(int index) { return sourceTable().at(static_cast<std::size_t>(index)); }

LandmarkRole landmarkRole(int index) {
    // As the fit sorts them: eye points, excluded outline points, control points.
    switch (index) {
    case 0: case 1: case 29: case 30: case 33: case 34: return LandmarkRole::kEyeball;
    case 2: case 22: case 43: case 44: return LandmarkRole::kExcluded;
    default: return LandmarkRole::kControl;
    }
}

FeaturePoints mapIbugToFeaturePoints(const IbugPoints &ibug) {
    FeaturePoints out;
    for (int i = 0; i < kFeaturePointCount; ++i) {
        const std::vector<int> &src = ibugSources(i);
        // Sums in 64-bit integers, the mean in double: exact for any image size.
        int64_t sx = 0, sy = 0;
        for (int k : src) {
            sx += ibug[static_cast<std::size_t>(k)].x;
            sy += ibug[static_cast<std::size_t>(k)].y;
        }
        const double n = static_cast<double>(src.size());
        out[static_cast<std::size_t>(i)] = {static_cast<int32_t>(std::lround(static_cast<double>(sx) / n)),
                                            static_cast<int32_t>(std::lround(static_cast<double>(sy) / n))};
    }
    return out;
}

}  // namespace kelmo::cli
