// Shared by the fuzz harnesses. Inputs reach the readers as real files without
// touching the disk: a memory file that the readers open by its /proc name.
// A broken invariant aborts, so that the fuzzer (or the replay program of the
// test suite) records the input that broke it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelmo::fuzz {

class MemoryFile {
public:
    MemoryFile();
    ~MemoryFile();
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    // Replaces the whole content.
    void assign(const void *bytes, std::size_t size);
    // Overwrites `size` bytes at `offset`, growing the file when needed.
    void write(std::size_t offset, const void *bytes, std::size_t size);
    const std::string &path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

// A folder of this process's own under the temporary folder, made once and
// removed at exit.
const std::string &scratchDirectory();

// Makes `link` a symbolic link to `target` (both absolute): fixed names that a
// reader builds itself ("sqrt.dat", the visibility file) then reach a memory file.
void linkTo(const std::string &target, const std::string &link);

[[noreturn]] void fail(const char *condition, const char *file, int line);

}  // namespace kelmo::fuzz

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::kelmo::fuzz::fail(#condition, __FILE__, __LINE__))
