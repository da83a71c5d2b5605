// kelmo_generic_head: writes the data directory of TAVO_InitKelmo (the generic
// head, its tables and images, the square-root table) and the morph files;
// optionally the pictures of docs/images.
//
//   kelmo_generic_head <data directory> [--pictures <directory>]
//   kelmo_generic_head --landmark-table
//
// The second form prints the table of docs/landmarks.md (index, name, how it
// is computed from dlib's 68 points, role, region).
//
// Both directories are created when missing. The output is deterministic:
// the same bytes on every run.
#include <cstdio>
#include <exception>
#include <string>

#include "tools/generic_head/data_files.h"
#include "tools/generic_head/generic_head.h"
#include "tools/generic_head/landmarks.h"
#include "tools/generic_head/pictures.h"

namespace {
std::string withSeparator(std::string dir) {
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir;
}
}  // namespace

static void printLandmarkTable() {
    using namespace kelmo::generic_head;
    std::printf("| index | point | from the 68 iBUG 300-W points | role | region |\n");
    std::printf("|---:|---|---|---|---|\n");
    for (int k = 0; k < kLandmarkCount; ++k) {
        const LandmarkDefinition &d = landmarkScheme()[k];
        std::string source;
        if (d.ibug.size() == 1) {
            source = std::to_string(d.ibug[0]);
        } else {
            source = "mean of";
            for (std::size_t i = 0; i < d.ibug.size(); ++i) source += (i ? ", " : " ") + std::to_string(d.ibug[i]);
        }
        const char *role = d.role == LandmarkRole::kEyeball ? "eyeball: alignment only"
                           : d.role == LandmarkRole::kExcluded ? "excluded from the deformation"
                                                               : "control point";
        std::printf("| %d | %s | %s | %s | %d |\n", k, d.name, source.c_str(), role, landmarkRegion(k));
    }
}

int main(int argc, char **argv) {
    if (argc == 2 && std::string(argv[1]) == "--landmark-table") {
        printLandmarkTable();
        return 0;
    }
    if (argc != 2 && !(argc == 4 && std::string(argv[2]) == "--pictures")) {
        std::fprintf(stderr, "usage: %s <data directory> [--pictures <directory>]\n", argv[0]);
        return 2;
    }
    try {
        const kelmo::generic_head::GenericHead head = kelmo::generic_head::buildGenericHead();
        kelmo::generic_head::writeDataDirectory(head, withSeparator(argv[1]));
        if (argc == 4) kelmo::generic_head::writePictures(head, withSeparator(argv[1]), withSeparator(argv[3]));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    return 0;
}
