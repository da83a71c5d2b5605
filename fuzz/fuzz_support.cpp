#include "fuzz/fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace kelmo::fuzz {

MemoryFile::MemoryFile() : fd_(::memfd_create("kelmo-fuzz", MFD_CLOEXEC)) {
    FUZZ_CHECK(fd_ >= 0);
    path_ = "/proc/self/fd/" + std::to_string(fd_);
}

MemoryFile::~MemoryFile() { ::close(fd_); }

void MemoryFile::assign(const void *bytes, std::size_t size) {
    FUZZ_CHECK(::ftruncate(fd_, 0) == 0);
    write(0, bytes, size);
}

void MemoryFile::write(std::size_t offset, const void *bytes, std::size_t size) {
    const auto *cursor = static_cast<const char *>(bytes);
    while (size > 0) {
        const ssize_t written = ::pwrite(fd_, cursor, size, static_cast<off_t>(offset));
        FUZZ_CHECK(written > 0);
        cursor += written, offset += static_cast<std::size_t>(written), size -= static_cast<std::size_t>(written);
    }
}

const std::string &scratchDirectory() {
    static const std::string directory = [] {
        const std::filesystem::path path =
            std::filesystem::temp_directory_path() / ("kelmo-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        static const std::string removed = path.string();
        std::atexit([] { std::error_code ignored; std::filesystem::remove_all(removed, ignored); });
        return path.string();
    }();
    return directory;
}

void linkTo(const std::string &target, const std::string &link) {
    std::filesystem::create_directories(std::filesystem::path(link).parent_path());
    std::error_code ignored;
    std::filesystem::remove(link, ignored);
    std::filesystem::create_symlink(target, link);
}

void fail(const char *condition, const char *file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    std::abort();
}

}  // namespace kelmo::fuzz
