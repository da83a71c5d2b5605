// A synthetic data directory for tests (Part 1.1's files), written into a
// temporary folder so that every test makes exactly the files it needs and can
// leave one out to test a failure.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "kelmo.h"
#include "model/model.h"
#include "support/synthetic_head.h"

namespace kelmo::testing {

struct SyntheticDataFiles {
    bool alphaPng = true;
    bool alphaGrd = true;
    bool teethLower = true;
    bool teethUpper = true;
    bool sock = true;
    bool grd66 = true;
    bool list7 = true;
    std::array<bool, 4> faces{true, true, true, true};
    bool sqrt = true;
    // The full head of support/synthetic_head.h instead of the small one: its
    // face files, "grd66.txt", "list7.txt" and "alpha.grd" (the feature
    // layout in the alpha image), for creation from a photo (Part 3.1).
    bool fullHead = false;
};

// Size of the synthetic alpha mask image and its 66 landmarks (pixels).
inline constexpr int kAlphaImageSize = 300;
std::array<TPointf, kFeaturePointCount> syntheticAlphaGridPoints();

// The five regions of the synthetic expression mesh `expression` (0..3): a
// small dome for region 0, two eyeball patches, two teeth patches; the
// expressions differ by the z of region 0 so that tests can tell them apart.
std::vector<TRegion> syntheticHeadRegions(int expression);

// Creates `directory` (and its "wrl" subfolder) and writes the files chosen.
// Returns the directory with a trailing '/', ready for TAVO_InitKelmo.
std::string writeSyntheticDataDirectory(const std::string &directory, const SyntheticDataFiles &files = {});

// A fresh folder under ::testing::TempDir(), unique per call.
std::string makeTemporaryDirectory(const std::string &stem);

}  // namespace kelmo::testing
