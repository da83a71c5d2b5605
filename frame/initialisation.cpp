// TAVO_InitKelmo and TAVO_FinalizeKelmo: building and tearing down
// the process-wide state of frame/library_state.h.
#include <cstring>
#include <new>
#include <string>

#include "frame/file_access.h"
#include "frame/library_state.h"
#include "kelmo.h"
#include "model/face_file.h"
#include "model/model_table.h"

namespace kelmo {
namespace {

// The data directory fits a buffer of 1024 bytes: 1023 characters and the
// terminating zero, the longest path hosts may pass.
constexpr std::size_t kDataDirectoryCapacity = 1024;

constexpr const char *kFaceFileNames[4] = {"CloseNeutral.face", "OpenNeutral.face", "CloseSmile.face",
                                           "OpenSmile.face"};

void releaseImage(ImageHandle &image) {
    if (image >= 0) TAVO_FreeImage(image);
    image = -1;
}

// The shared images of a state, released and forgotten.
void releaseSharedImages(LibraryState &state) {
    releaseImage(state.alphaMaskImage);
    releaseImage(state.lowerTeethImage);
    releaseImage(state.upperTeethImage);
    releaseImage(state.sockImage);
}

// Models keep copies of the shared image handles (model/model.h). After the shared
// images were replaced or released, live models refer to the current ones
// (-1 when none), never to a handle that tavoimage may hand out again.
void refreshModelSharedImages(LibraryState &state) {
    for (auto &model : state.models) {
        if (!model) continue;
        model->lowerTeethImage = state.lowerTeethImage;
        model->upperTeethImage = state.upperTeethImage;
        model->sockImage = state.sockImage;
    }
}

// The release after a failed load: the data directory, the alpha grid and
// every shared image loaded so far (the alpha mask included, even when only
// its grid failed).
int32_t failInitialisation(LibraryState &state, int32_t status) {
    state.dataDirectory.clear();
    state.alphaGrid = {};
    releaseSharedImages(state);
    refreshModelSharedImages(state);
    return status;
}

int32_t initialise(const char *directory) {
    LibraryState &state = libraryState();
    // A second initialisation replaces the first one's shared state,
    // releasing its images first.
    releaseSharedImages(state);

    // Four empty expression meshes. The old ones go first, so that
    // their texture images are released before the new ones are made.
    for (auto &mesh : state.expressionMeshes) {
        mesh.reset();
        mesh = std::make_unique<TModel>();
    }
    // The data directory; the alpha grid starts at zero.
    const std::string dir = directory;
    state.dataDirectory = dir;
    state.alphaGrid = {};

    // The alpha mask and its landmark grid. The grid is read into a
    // temporary, committed on success.
    int32_t grid[2 * kFeaturePointCount] = {};
    ImageHandle alphaMask = -1;
    const int32_t alphaStatus =
        TAVO_LoadAlphaChannelImage(&alphaMask, grid, (dir + "alpha.png").c_str(), (dir + "alpha.grd").c_str());
    state.alphaMaskImage = alphaMask;  // released by failInitialisation if the grid failed
    if (alphaStatus != TAVO_OK) return failInitialisation(state, alphaStatus);
    for (int k = 0; k < kFeaturePointCount; ++k) state.alphaGrid[k] = IntPoint{grid[2 * k], grid[2 * k + 1]};

    // The teeth and sock images, through the platform layer, which turns
    // "wrl\" into "wrl/".
    int32_t status = TAVO_LoadImageFromFileWithAlpha(&state.lowerTeethImage,
                                                     platformPath(dir + "wrl\\Head_teethLower.png").c_str());
    if (status != TAVOIMG_OK) return failInitialisation(state, status);
    status = TAVO_LoadImageFromFileWithAlpha(&state.upperTeethImage,
                                             platformPath(dir + "wrl\\Head_teethUpper.png").c_str());
    if (status != TAVOIMG_OK) return failInitialisation(state, status);
    status = TAVO_LoadImageFromFile(&state.sockImage, platformPath(dir + "wrl\\head_sock.bmp").c_str());
    if (status != TAVOIMG_OK) return failInitialisation(state, status);

    // The landmark table: one that cannot be opened gives -1, and so does a
    // malformed one (the reader is strict: a half-read table would tie feature
    // points to the wrong vertices).
    if (readLandmarkTable(state.landmarkTable, dir + "grd66.txt") != kFaceFileOk) {
        return failInitialisation(state, TAVO_ERR_GENERAL);
    }
    // The lip ring: likewise -13 for "list7.txt".
    if (readList7Table(state.list7Table, dir + "list7.txt") != kFaceFileOk) {
        return failInitialisation(state, TAVO_ERR_LIST7);
    }
    // The expression meshes: a missing or malformed face file leaves that
    // mesh without regions, which creation from a photo then refuses.
    for (int i = 0; i < 4; ++i) readFaceFile(*state.expressionMeshes[i], dir + kFaceFileNames[i]);
    // The warp's square-root table, with the host's string as passed.
    TAVO_InitRBF(directory);
    refreshModelSharedImages(state);
    return TAVO_OK;
}

}  // namespace
}  // namespace kelmo

using namespace kelmo;

extern "C" {

int32_t TAVO_InitKelmo(const char *directory) {
    if (directory == nullptr || std::strlen(directory) >= kDataDirectoryCapacity) return TAVO_ERR_GENERAL;
    try {
        return initialise(directory);
    } catch (const std::bad_alloc &) {
        return failInitialisation(libraryState(), TAVO_ERR_GENERAL);
    }
}

int32_t TAVO_FinalizeKelmo(void) {
    LibraryState &state = libraryState();
    // Every model, from handle 0 upward; the table becomes empty.
    destroyAllModels();
    // The expression meshes, marked absent.
    for (auto &mesh : state.expressionMeshes) mesh.reset();
    // The shared images and tables stay in place: a later TAVO_InitKelmo
    // replaces them, and hosts may keep using the alpha mask meanwhile.
    return TAVO_OK;
}

}  // extern "C"
