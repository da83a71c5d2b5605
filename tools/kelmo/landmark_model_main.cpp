// kelmo_landmark_model MODEL.dat OUT: writes the compact form of a dlib
// 68-point shape predictor (landmark_model.h); the build runs it once on the
// installed model.
#include <cstdio>
#include <exception>

#include "tools/kelmo/landmark_model.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kelmo_landmark_model MODEL.dat OUT\n");
        return 2;
    }
    try {
        kelmo::cli::writeCompactLandmarkModel(argv[1], argv[2]);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "kelmo_landmark_model: %s\n", e.what());
        return 1;
    }
    return 0;
}
