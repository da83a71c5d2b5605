// Platform file access: the one place where the library opens files.
//
// The library's paths are Windows paths: the data directory is joined
// to file names by plain concatenation, and some names carry a backslash
// ("wrl\Head_teethLower.png"). On Linux every backslash becomes a slash before
// the file is opened; on Windows the path is opened as given (drive letters
// and all), read as UTF-8, through the wide-character calls
// (tavoimage/file_names.h).
//
// The VRML import opens one file at a fixed Windows path on drive C:
// ("C:\orvane\VisibleMeshes.vsl"). On Linux a path that starts with the drive
// "C:" (either case) followed by a separator has the drive replaced by the
// drive root (libraryState().driveRoot, "/" unless a host set another with the
// TAVO_SetDriveRoot), so that path opens as /orvane/VisibleMeshes.vsl.
// Other drive letters, and "C:" without a separator, are left as they are.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace kelmo {

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The path as this platform opens it: backslashes made slashes and drive C:
// mapped to the drive root (see above); on Windows the path unchanged.
std::string platformPath(const std::string &path);

// Opens a file with fopen's `mode` after platformPath; null when it fails.
FilePtr openFile(const std::string &path, const char *mode);

// Deletes a file after platformPath; false when it could not.
bool removeFile(const std::string &path);

}  // namespace kelmo
