// Outputs that appear whole or not at all. Every file a command writes is
// first written under a temporary name in its final folder
// (".NAME.kelmo-tmp-PID-K.EXT", the extension kept because the imaging library
// picks the format from it) and renamed to its final name only when the
// command has produced everything. A failure, an exception or an
// interrupting signal (SIGINT, SIGTERM, SIGHUP) removes the temporary files
// and the folders the set created; an interrupted run therefore leaves no
// half-written file under a final name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelmo::cli {

class Image;

// Installs the handlers that remove the registered temporary files when the
// process is interrupted, then end it with the same signal. Called once by
// main(). Extra process ids (batch workers) receive SIGTERM first.
void installInterruptCleanup();
void registerChildProcess(int pid);
void unregisterChildProcess(int pid);
// In a freshly forked worker: it has no children of its own and no files to
// clean up of its parent's.
void resetInterruptRegistryInChild();

class OutputSet {
public:
    OutputSet() = default;
    ~OutputSet();  // removes everything staged when commit() was not reached
    OutputSet(const OutputSet &) = delete;
    OutputSet &operator=(const OutputSet &) = delete;

    // A temporary path for `finalPath`, in its folder; missing folders are
    // created now and removed again on rollback.
    std::string stage(const std::string &finalPath);

    void writeText(const std::string &finalPath, const std::string &text);
    void writeBytes(const std::string &finalPath, const std::vector<uint8_t> &bytes);
    // TAVO_SaveImageToFile under the temporary name; the format follows
    // finalPath's extension (.png, .jpg, .bmp). Returns that temporary path,
    // where the file's bytes now are.
    std::string saveImage(const Image &image, const std::string &finalPath);
    // A byte-for-byte copy of an existing file.
    void copyFile(const std::string &source, const std::string &finalPath);

    // Renames every staged file to its final name, in staging order.
    void commit();
    // Removes the staged files and the created folders (done by the destructor too).
    void rollback();

    std::size_t size() const { return staged_.size(); }

private:
    struct Staged {
        std::string temporary;
        std::string final;
    };
    std::vector<Staged> staged_;
    std::vector<std::string> createdFolders_;
    bool finished_ = false;
};

// The one-file case: writes `text` to `path` through a temporary name.
void writeTextAtomically(const std::string &path, const std::string &text);
void saveImageAtomically(const Image &image, const std::string &path);

}  // namespace kelmo::cli
