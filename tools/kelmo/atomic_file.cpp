// Outputs that appear whole or not at all (see atomic_file.h).
#include "tools/kelmo/atomic_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#if defined(_WIN32)
#include <direct.h>
#include <io.h>
#include <mutex>
#include <process.h>
#else
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "tools/kelmo/cli.h"
#include "tools/kelmo/session.h"

namespace kelmo::cli {

namespace fs = std::filesystem;

namespace {

// The registry that the signal handler reads. It is only changed with the
// handled signals blocked, so the handler never sees it half-updated; the
// handler itself calls only async-signal-safe functions (unlink, rmdir,
// kill, signal, raise).
struct InterruptRegistry {
    std::vector<std::string> temporaryFiles;
    std::vector<std::string> createdFolders;  // removed deepest first
    std::vector<int> children;
};
InterruptRegistry &registry() {
    static InterruptRegistry r;
    return r;
}

#if defined(_WIN32)
// Windows runs the Ctrl+C handler on a thread of its own and has no signal
// masks: the registry is guarded by a lock, which the handler takes too.
const int kHandledSignals[] = {SIGINT, SIGTERM};

std::recursive_mutex &registryLock() {
    static std::recursive_mutex lock;
    return lock;
}

class SignalBlock {
public:
    SignalBlock() : hold_(registryLock()) {}

private:
    std::lock_guard<std::recursive_mutex> hold_;
};

int makeFolder(const fs::path &folder) { return ::_wmkdir(folder.c_str()); }
int syncFile(std::FILE *file) { return ::_commit(::_fileno(file)); }
int processId() { return ::_getpid(); }
#else
const int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP};

class SignalBlock {
public:
    SignalBlock() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : kHandledSignals) sigaddset(&set, s);
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalBlock() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

private:
    sigset_t old_;
};

int makeFolder(const fs::path &folder) { return ::mkdir(folder.c_str(), 0777); }
int syncFile(std::FILE *file) { return fsync(fileno(file)); }
int processId() { return getpid(); }
#endif

void onInterrupt(int signalNumber) {
#if defined(_WIN32)
    const SignalBlock block;  // the process ends inside: the lock is never given back
#endif
    InterruptRegistry &r = registry();
#if !defined(_WIN32)
    for (int pid : r.children) kill(pid, SIGTERM);
#endif
    for (const std::string &path : r.temporaryFiles) unlink(path.c_str());
    for (auto it = r.createdFolders.rbegin(); it != r.createdFolders.rend(); ++it) rmdir(it->c_str());
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

void addTo(std::vector<std::string> &list, const std::string &value) {
    SignalBlock block;
    list.push_back(value);
}

void removeFrom(std::vector<std::string> &list, const std::string &value) {
    SignalBlock block;
    const auto it = std::find(list.begin(), list.end(), value);
    if (it != list.end()) list.erase(it);
}

std::atomic<unsigned> temporaryCounter{0};

}  // namespace

void installInterruptCleanup() {
#if defined(_WIN32)
    for (int s : kHandledSignals) std::signal(s, onInterrupt);
#else
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (int s : kHandledSignals) sigaddset(&action.sa_mask, s);
    for (int s : kHandledSignals) sigaction(s, &action, nullptr);
#endif
}

void registerChildProcess(int pid) {
    SignalBlock block;
    registry().children.push_back(pid);
}

void unregisterChildProcess(int pid) {
    SignalBlock block;
    auto &c = registry().children;
    c.erase(std::remove(c.begin(), c.end(), pid), c.end());
}

void resetInterruptRegistryInChild() {
    SignalBlock block;
    registry().children.clear();
    registry().temporaryFiles.clear();
    registry().createdFolders.clear();
}

OutputSet::~OutputSet() {
    if (!finished_) rollback();
}

std::string OutputSet::stage(const std::string &finalPath) {
    const fs::path target(finalPath);
    if (target.filename().empty()) throw failure("output '" + finalPath + "' names a folder, not a file");
    std::error_code ec;
    if (fs::is_directory(target, ec)) throw failure("output '" + finalPath + "' is a folder");

    // Create the missing folders one by one, remembering each for rollback.
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::vector<fs::path> missing;
    for (fs::path p = folder; !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (makeFolder(*it) != 0 && errno != EEXIST)
            throw failure("cannot create the folder '" + it->string() + "': " + std::strerror(errno));
        createdFolders_.push_back(it->string());
        addTo(registry().createdFolders, it->string());
    }
    if (!fs::is_directory(folder, ec)) throw failure("output folder '" + folder.string() + "' is not a folder");

    const std::string temporary =
        (folder / ("." + target.stem().string() + ".kelmo-tmp-" + std::to_string(processId()) + "-" +
                   std::to_string(temporaryCounter++) + target.extension().string()))
            .string();
    staged_.push_back({temporary, finalPath});
    addTo(registry().temporaryFiles, temporary);
    return temporary;
}

void OutputSet::writeBytes(const std::string &finalPath, const std::vector<uint8_t> &bytes) {
    const std::string temporary = stage(finalPath);
    std::FILE *file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) throw failure("cannot write '" + finalPath + "': " + std::strerror(errno));
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool flushed = std::fflush(file) == 0 && syncFile(file) == 0;
    const bool closed = std::fclose(file) == 0;
    if (!written || !flushed || !closed) throw failure("cannot write '" + finalPath + "': " + std::strerror(errno));
}

void OutputSet::writeText(const std::string &finalPath, const std::string &text) {
    writeBytes(finalPath, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string OutputSet::saveImage(const Image &image, const std::string &finalPath) {
    const std::string temporary = stage(finalPath);
    // The library writes the image under a name of its own beside ours and
    // renames it at the end; an interruption in between must remove it too.
    const fs::path ours(temporary);
    const std::string libraries =
        (ours.parent_path() / ("." + ours.filename().string() + ".tavo-tmp-" + std::to_string(processId()))).string();
    addTo(registry().temporaryFiles, libraries);
    const int32_t status = TAVO_SaveImageToFile(image.handle(), temporary.c_str());
    removeFrom(registry().temporaryFiles, libraries);
    if (status != 0) throw failure("cannot write '" + finalPath + "': " + statusText(status));
    return temporary;
}

void OutputSet::copyFile(const std::string &source, const std::string &finalPath) {
    std::ifstream in(source, std::ios::binary);
    if (!in) throw failure("cannot read '" + source + "'");
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw failure("cannot read '" + source + "'");
    writeBytes(finalPath, bytes);
}

void OutputSet::commit() {
    // The renames run with the interrupting signals held back, so that an
    // interruption lands before or after the whole set, never inside it.
    SignalBlock block;
    for (const Staged &s : staged_) {
        if (std::rename(s.temporary.c_str(), s.final.c_str()) != 0)
            throw failure("cannot rename '" + s.temporary + "' to '" + s.final + "': " + std::strerror(errno));
        auto &files = registry().temporaryFiles;
        files.erase(std::remove(files.begin(), files.end(), s.temporary), files.end());
    }
    for (const std::string &f : createdFolders_) removeFrom(registry().createdFolders, f);
    staged_.clear();
    createdFolders_.clear();
    finished_ = true;
}

void OutputSet::rollback() {
    for (const Staged &s : staged_) {
        std::remove(s.temporary.c_str());
        removeFrom(registry().temporaryFiles, s.temporary);
    }
    for (auto it = createdFolders_.rbegin(); it != createdFolders_.rend(); ++it) {
        ::rmdir(it->c_str());
        removeFrom(registry().createdFolders, *it);
    }
    staged_.clear();
    createdFolders_.clear();
    finished_ = true;
}

void writeTextAtomically(const std::string &path, const std::string &text) {
    OutputSet out;
    out.writeText(path, text);
    out.commit();
}

void saveImageAtomically(const Image &image, const std::string &path) {
    OutputSet out;
    out.saveImage(image, path);
    out.commit();
}

}  // namespace kelmo::cli
