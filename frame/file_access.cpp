#include "frame/file_access.h"

#include <algorithm>
#include <exception>

#include "frame/library_state.h"
#include "kelmo.h"
#include "tavoimage/file_names.h"

namespace kelmo {

std::string platformPath(const std::string &path) {
#if defined(_WIN32)
    return path;
#else
    std::string converted = path;
    std::replace(converted.begin(), converted.end(), '\\', '/');
    // Drive C: (the VRML import's visibility file lives at "C:\orvane\..."): the
    // drive letter and colon give way to the drive root. A root that ends with
    // a slash loses it, so that the default "/" gives "/orvane/...".
    if (converted.size() >= 3 && (converted[0] == 'C' || converted[0] == 'c') && converted[1] == ':' &&
        converted[2] == '/') {
        std::string root = libraryState().driveRoot;
        while (!root.empty() && root.back() == '/') root.pop_back();
        converted.replace(0, 2, root);
    }
    return converted;
#endif
}

FilePtr openFile(const std::string &path, const char *mode) {
    return FilePtr(tavoimage::openNamedFile(platformPath(path), mode));
}

bool removeFile(const std::string &path) { return tavoimage::removeNamedFile(platformPath(path)); }

}  // namespace kelmo

extern "C" int32_t TAVO_SetDriveRoot(const char *root) {
    if (root == nullptr) return TAVO_ERR_GENERAL;
    try {
        kelmo::libraryState().driveRoot = root;
    } catch (const std::exception &) {
        return TAVO_ERR_GENERAL;  // out of memory: the old root stays (string assignment is all or nothing)
    }
    return TAVO_OK;
}
