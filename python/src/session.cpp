// The open library and its lock (see session.h).
#include "session.h"

#include <filesystem>
#include <system_error>

#include "kelmo.h"
#include "model.h"
#include "tools/kelmo/cli.h"

namespace kelmo::python {

namespace fs = std::filesystem;

namespace {
Session *g_open = nullptr;
}  // namespace

UnsupportedError::UnsupportedError(const std::string &message) : KelmoError(message, TAVO_ERR_GENERAL) {}

void check(int32_t status, const std::string &what) {
    if (status != 0) throw KelmoError(what + ": " + cli::statusText(status), status);
}

std::mutex &libraryMutex() {
    // Never destroyed: models may be freed by the interpreter's last
    // collections, after static destructors would have run.
    static std::mutex *mutex = new std::mutex;
    return *mutex;
}

Session::Session(std::string dataDirectory, std::string shapePredictor)
    : shapePredictor_(std::move(shapePredictor)) {
    if (g_open != nullptr)
        throw KelmoError("a kelmo.Library is already open in this process (the library's state is "
                         "process-wide); close it first",
                         TAVO_ERR_GENERAL);
    std::error_code ec;
    if (!fs::is_regular_file(fs::path(dataDirectory) / "grd66.txt", ec))
        throw KelmoError("'" + dataDirectory + "' is not a kelmo data directory (it has no grd66.txt)",
                         TAVO_ERR_GENERAL);
    // The library appends file names to the directory as they are.
    if (!dataDirectory.empty() && dataDirectory.back() != '/') dataDirectory += '/';
    dataDirectory_ = std::move(dataDirectory);
    const int32_t status = TAVO_InitKelmo(dataDirectory_.c_str());
    if (status != 0) {
        TAVO_FinalizeKelmo();
        check(status, "cannot initialise the library from '" + dataDirectory_ + "'");
    }
    open_ = true;
    g_open = this;
}

Session::~Session() {
    std::lock_guard<std::mutex> lock(libraryMutex());
    close();
}

void Session::close() {
    if (!open_) return;
    // Each model frees its own handles and photo (finalisation would destroy
    // the models but not their photos), and learns that it is closed, so
    // that it never frees a handle that a later session hands out again.
    const std::set<ModelObject *> models = std::move(models_);
    models_.clear();
    for (ModelObject *model : models) model->release();
    landmarker_.reset();
    TAVO_FinalizeKelmo();
    open_ = false;
    if (g_open == this) g_open = nullptr;
}

void Session::requireOpen() const {
    if (!open_) throw KelmoError("the kelmo.Library of this object is closed", TAVO_ERR_GENERAL);
}

cli::FaceLandmarker &Session::landmarker() {
    // A session may outlive the model file as it was when mapped (a new
    // install rewrites it): its trees are copied, as batch copies them.
    if (landmarker_ == nullptr)
        landmarker_ = std::make_unique<cli::FaceLandmarker>(shapePredictor_, cli::LandmarkModelPlacement::heap);
    return *landmarker_;
}

Session *openSession() { return g_open; }

Session &requireOpenSession(const char *what) {
    if (g_open == nullptr)
        throw KelmoError(std::string(what) + " needs an open kelmo.Library (it reads tables of the data directory)",
                         TAVO_ERR_GENERAL);
    return *g_open;
}

std::pair<int, int> liveHandles() {
    // Both tables hand out the lowest free slot, so live handles sit low;
    // the probe reaches far beyond anything a test holds.
    constexpr int32_t kProbe = 1 << 16;
    int models = 0, images = 0;
    int32_t count = 0;
    for (int32_t h = 0; h < kProbe; ++h) {
        if (TAVO_GetModelNumRegions(h, &count) != TAVO_ERR_INVALID_HANDLE) ++models;
        if (TAVO_GetImageWidth(h, &count) == TAVOIMG_OK) ++images;
    }
    return {models, images};
}

}  // namespace kelmo::python
