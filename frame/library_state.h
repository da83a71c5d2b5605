// The process-wide state of the library: the one place where it
// lives. Every other unit reaches it through libraryState().
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kelmo.h"
#include "model/model.h"

namespace kelmo {

// An integer point as feature points cross the interface: x then y.
struct IntPoint {
    int32_t x = 0;
    int32_t y = 0;
};

struct LibraryState {
    // What TAVO_InitKelmo loads from the data directory. Image handles are
    // -1 while not loaded.
    std::string dataDirectory;
    std::array<IntPoint, kFeaturePointCount> alphaGrid{};
    ImageHandle alphaMaskImage = -1;
    ImageHandle lowerTeethImage = -1;
    ImageHandle upperTeethImage = -1;
    ImageHandle sockImage = -1;
    std::vector<int32_t> landmarkTable;
    std::vector<int32_t> list7Table;
    // Expression meshes 0..3 (closed neutral, open neutral, closed smile,
    // open smile); null while absent (before initialisation, after finalisation).
    std::array<std::unique_ptr<TModel>, 4> expressionMeshes;

    // The image warp's square-root table, 2^21 floats, entry i = sqrt(i); all
    // zero until TAVO_InitRBF has read "sqrt.dat".
    std::vector<float> sqrtTable = std::vector<float>(std::size_t{1} << 21, 0.0f);
    // Whether every entry i of sqrtTable holds sqrtf(i), checked once when the
    // table is read (the warp's field then computes its square roots instead
    // of reading the table, to the same bits, without checking it per warp).
    bool sqrtTableHoldsRoots = false;

    // The model table; an empty slot is a null pointer.
    std::vector<std::unique_ptr<TModel>> models;

    // Process-wide camera state: the global perspective angle (the
    // vertical field of view, in degrees, of TAVO_ProjectModelVertices) with
    // its camera distance 400 / angle kept beside it, and the render size that
    // rendering and projection address. Set from library load, never reset by
    // initialisation or finalisation.
    float globalPerspective = 1.0f;
    float globalCameraDistance = 400.0f;
    int32_t renderWidth = 0;
    int32_t renderHeight = 0;

    // Platform file access (frame/file_access.h): the folder that the Windows
    // drive "C:" stands for on other platforms, so that the VRML import's fixed path
    // "C:\orvane\VisibleMeshes.vsl" opens as <driveRoot>/orvane/... . Set by
    // TAVO_SetDriveRoot; never reset by initialisation or
    // finalisation. Unused on Windows.
    std::string driveRoot = "/";
};

// The single instance, created on first use.
LibraryState &libraryState();

}  // namespace kelmo
