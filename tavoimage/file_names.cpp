#include "tavoimage/file_names.h"

#if defined(_WIN32)
#include <windows.h>

#include <cstring>
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

#else

std::FILE *openNamedFile(const std::string &path, const char *mode) { return std::fopen(path.c_str(), mode); }

bool removeNamedFile(const std::string &path) { return std::remove(path.c_str()) == 0; }

#endif

}  // namespace tavoimage
