// A synthetic data directory in a temporary folder: a test writes exactly the
// files it needs and can leave one out to test a failure.
#pragma once

#include <string>

#include "support/synthetic_head.h"

namespace kelmo::testing {

struct SyntheticDataFiles {
    bool alphaPng = true, alphaGrd = true, teethLower = true, teethUpper = true, sock = true, grd66 = true,
         list7 = true;
    std::array<bool, 4> faces{true, true, true, true};
    bool sqrt = true;
    // The full head of support/synthetic_head.h instead of the small one (its
    // face files, "grd66.txt", "list7.txt" and "alpha.grd").
    bool fullHead = false;
};

// The synthetic alpha mask's size and landmarks (pixels), and the five regions
// of the small expression mesh `expression` (0..3): a dome, two eyeball and
// two teeth patches; the expressions differ by the dome's z.
inline constexpr int kAlphaImageSize = 300;
std::array<TPointf, kFeaturePointCount> syntheticAlphaGridPoints();
std::vector<TRegion> syntheticHeadRegions(int expression);

// Creates `directory` (and its "wrl" folder) with the files chosen; returns it
// with a trailing '/', ready for TAVO_InitKelmo.
std::string writeSyntheticDataDirectory(const std::string &directory, const SyntheticDataFiles &files = {});

// A fresh folder under ::testing::TempDir(), unique per call.
std::string makeTemporaryDirectory(const std::string &stem);

}  // namespace kelmo::testing
