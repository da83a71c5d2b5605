// Platform file access: the one place where the library opens files.
//
// The specification's paths are Windows paths: the data directory is joined
// to file names by plain concatenation, and some names carry a backslash
// ("wrl\Head_teethLower.png"). On Linux every backslash becomes a slash before
// the file is opened; on Windows the path is opened as given.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace kelmo {

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The path as this platform opens it.
std::string platformPath(const std::string &path);

// Opens a file with fopen's `mode` after platformPath; null when it fails.
FilePtr openFile(const std::string &path, const char *mode);

}  // namespace kelmo
