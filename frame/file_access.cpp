#include "frame/file_access.h"

#include <algorithm>

namespace kelmo {

std::string platformPath(const std::string &path) {
#if defined(_WIN32)
    return path;
#else
    std::string converted = path;
    std::replace(converted.begin(), converted.end(), '\\', '/');
    return converted;
#endif
}

FilePtr openFile(const std::string &path, const char *mode) {
    return FilePtr(std::fopen(platformPath(path).c_str(), mode));
}

}  // namespace kelmo
