// The kelmo tool's points files (--points, --from, --to): any text either
// gives points within the coordinate limit or a CliError naming the problem.
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "tools/kelmo/cli.h"
#include "tools/kelmo/points_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    for (const int expected : {66, 0}) {
        try {
            const auto points = kelmo::cli::parsePoints(text, "points.txt", expected);
            FUZZ_CHECK(expected == 0 ? !points.empty() && points.size() <= 4096 : points.size() == 66);
            for (const auto &point : points)
                FUZZ_CHECK(std::abs(point.x) <= kelmo::cli::kMaxCoordinate &&
                           std::abs(point.y) <= kelmo::cli::kMaxCoordinate);
        } catch (const kelmo::cli::CliError &error) {
            FUZZ_CHECK(error.exitCode() == 1);
        }
    }
    return 0;
}
