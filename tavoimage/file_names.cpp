#include "tavoimage/file_names.h"

#include <cerrno>

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#include <windows.h>

#include <cstring>
#else
#include <unistd.h>
#endif

namespace tavoimage {

#if defined(_WIN32)
namespace {

// The UTF-16 form of a zero-terminated path; empty for an empty path, one
// that no code page converts, or when memory runs out.
std::wstring widePath(const char *path) noexcept {
    const std::size_t size = std::strlen(path);
    if (size == 0 || size > static_cast<std::size_t>(INT32_MAX)) return {};
    const int length = static_cast<int>(size);
    for (const UINT codePage : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
        // Strict for UTF-8, so that an ANSI string falls through to its own code page.
        const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        const int wideLength = MultiByteToWideChar(codePage, flags, path, length, nullptr, 0);
        if (wideLength <= 0) continue;
        try {
            std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
            if (MultiByteToWideChar(codePage, flags, path, length, wide.data(), wideLength) == wideLength)
                return wide;
        } catch (...) {
            return {};
        }
    }
    return {};
}

}  // namespace

std::FILE *openNamedFile(const std::string &path, const char *mode) {
    // A zero byte inside the string ends the name, as for fopen.
    const std::wstring wide = widePath(path.c_str());
    if (wide.empty()) return nullptr;
    wchar_t wideMode[8] = {};
    for (std::size_t i = 0; i + 1 < sizeof wideMode / sizeof wideMode[0] && mode[i] != '\0'; ++i)
        wideMode[i] = static_cast<wchar_t>(static_cast<unsigned char>(mode[i]));
    return _wfopen(wide.c_str(), wideMode);
}

bool removeNamedFile(const std::string &path) {
    const std::wstring wide = widePath(path.c_str());
    return !wide.empty() && _wremove(wide.c_str()) == 0;
}

bool renameNamedFile(const std::string &from, const std::string &to) {
    const std::wstring wideFrom = widePath(from.c_str()), wideTo = widePath(to.c_str());
    return !wideFrom.empty() && !wideTo.empty() &&
           MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool isReplaceable(const std::string &path) {
    const std::wstring wide = widePath(path.c_str());
    return wide.empty() || _waccess(wide.c_str(), 2) == 0 || errno == ENOENT;
}

namespace {
int processNumber() { return _getpid(); }
}  // namespace

#else

std::FILE *openNamedFile(const std::string &path, const char *mode) { return std::fopen(path.c_str(), mode); }

bool removeNamedFile(const std::string &path) { return std::remove(path.c_str()) == 0; }

bool renameNamedFile(const std::string &from, const std::string &to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool isReplaceable(const std::string &path) { return ::access(path.c_str(), W_OK) == 0 || errno == ENOENT; }

namespace {
int processNumber() { return static_cast<int>(::getpid()); }
}  // namespace

#endif

std::string temporaryNameBeside(const std::string &path) {
    // One call at a time per process (the library is not thread-safe), so the
    // process number alone keeps writers apart; a host that handles signals can
    // then name the file to remove (the kelmo tool does).
    const std::size_t separator = path.find_last_of("/\\");
    const std::size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
    return path.substr(0, nameStart) + "." + path.substr(nameStart) + ".tavo-tmp-" + std::to_string(processNumber());
}

}  // namespace tavoimage
