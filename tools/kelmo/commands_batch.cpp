// kelmo batch: every photo of a folder to a model and a front render, in
// worker processes.
//
// Windows has no fork: there the photos run one after another in the tool's
// own process, with the same reports and summary.
//
// The library's state is per process and takes one call at a time
// (docs/design.md), so parallel work means processes: the parent loads
// dlib's model and initialises the library once, forks N workers (which
// share both copy-on-write), hands them photo indices one at a time over a
// pipe and collects one result per photo. A worker that dies (a crash on a
// hostile file) costs only its photo, which is reported and skipped; a new
// worker takes its place.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#if defined(_WIN32)
#include <io.h>
#else
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#if defined(_OPENMP)
#include <omp.h>
#endif

#include "tools/kelmo/atomic_file.h"
#include "tools/kelmo/commands.h"
#if KELMO_WITH_GLTF
#include "tools/kelmo/gltf_export.h"
#endif

#ifdef KELMO_COVERAGE
extern "C" void __gcov_dump(void);
#endif

namespace kelmo::cli {

namespace fs = std::filesystem;

namespace {

const char *kHelp =
    "usage: kelmo batch DIR -o OUTDIR [-j N] [--shard I/N] [--size WxH] [create options]\n"
    "                   [--model FILE] [--data DIR]\n"
    "\n"
    "Makes a model and a front render of every photo (.png, .jpg, .jpeg, .bmp) in DIR,\n"
    "sorted by name: OUTDIR/NAME/ receives what `kelmo create` writes plus front.png (NAME\n"
    "is the photo's name without extension; with the extension where two photos share\n"
    "it). A photo that cannot be read or shows no face is reported and skipped; the batch\n"
    "goes on. OUTDIR/batch-summary.tsv (batch-summary-I-of-N.tsv for a shard) lists every\n"
    "photo with its outcome. A progress bar is shown on a terminal.\n"
    "\n"
    "  -o, --output OUTDIR  the results folder (created)\n"
    "  -j, --jobs N       N worker processes, 1 to 64 (default: the number of processors)\n"
    "  --shard I/N        only the I-th of N equal slices of the sorted list (I from 0 to\n"
    "                     N-1): run one shard per machine, e.g. as a Slurm job array\n"
    "                     (--shard $SLURM_ARRAY_TASK_ID/N) or a Kubernetes indexed job\n"
    "                     (--shard $JOB_COMPLETION_INDEX/N)\n"
    "  --size WxH         size of front.png (default 512x512)\n"
    "  --no-smile, --closed-mouth, --no-mask, --generic-teeth, --face-only, --model FILE,\n"
    "  --data DIR\n"
    "                     as for `kelmo create`\n"
    "\n"
    "Exit code 0 when every photo was done, 3 when some were skipped.\n";

struct Job {
    std::string photo;  // path
    std::string name;   // output folder name
};

struct Result {
    bool done = false;
    std::string message;
    double seconds = 0.0;
    bool reported = false;
};

bool isPhotoName(const fs::path &p) {
    std::string ext = p.extension().string();
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".png" || ext == ".jpg" || ext == ".jpeg" || ext == ".bmp";
}

std::vector<Job> listPhotos(const std::string &folder, int *ignored) {
    std::error_code ec;
    if (!fs::exists(folder, ec)) throw failure("photo folder '" + folder + "' does not exist");
    if (!fs::is_directory(folder, ec)) throw failure("'" + folder + "' is not a folder");
    std::vector<fs::path> photos;
    *ignored = 0;
    fs::directory_iterator it(folder, ec), end;
    if (ec) throw failure("cannot list '" + folder + "': " + ec.message());
    for (; it != end; it.increment(ec)) {
        if (ec) throw failure("cannot list '" + folder + "': " + ec.message());
        const fs::path p = it->path();
        if (p.filename().string().front() == '.') continue;
        if (isPhotoName(p) && !it->is_directory(ec)) photos.push_back(p);
        else ++*ignored;
    }
    std::sort(photos.begin(), photos.end(), [](const fs::path &a, const fs::path &b) {
        return a.filename().string() < b.filename().string();
    });
    std::map<std::string, int> stemCount;
    for (const fs::path &p : photos) ++stemCount[p.stem().string()];
    std::vector<Job> jobs;
    for (const fs::path &p : photos)
        jobs.push_back({p.string(), stemCount[p.stem().string()] > 1 ? p.filename().string() : p.stem().string()});
    return jobs;
}

// "I/N": slice I (0-based) of N.
std::pair<int, int> parseShard(const std::string &text) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos) throw usageError("--shard expects I/N (e.g. 0/4), not '" + text + "'");
    const int n = static_cast<int>(parseInteger(text.substr(slash + 1), "--shard N", 1, 1000000));
    const int i = static_cast<int>(parseInteger(text.substr(0, slash), "--shard I", 0, 1000000));
    if (i >= n) throw usageError("--shard " + text + ": I must lie from 0 to N-1");
    return {i, n};
}

#if !defined(_WIN32)
// Pipe I/O that survives interruptions and short writes.
bool writeAll(int fd, const void *data, std::size_t size) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n, size -= static_cast<std::size_t>(n);
    }
    return true;
}
bool readAll(int fd, void *data, std::size_t size) {
    char *p = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n, size -= static_cast<std::size_t>(n);
    }
    return true;
}
#endif

struct BatchSettings {
    std::string dataDirectory;
    std::string outFolder;
    CreateOptions options;
    View front;
};

// One photo, in a worker: everything of `kelmo create` plus front.png, all
// committed together.
void processPhoto(const Job &job, const BatchSettings &settings, LandmarkSource &landmarks) {
    const Image photo = loadPhoto(job.photo);
    const FeaturePoints points = landmarks.pointsFor(photo, job.photo);
    const auto model = createModel(photo, points, settings.options);
    const std::string folder = (fs::path(settings.outFolder) / job.name).string();
    OutputSet out;
    stageModelFolder(*model, photo, job.photo, points, settings.options, settings.dataDirectory, folder, out);
    out.saveImage(renderView(*model, settings.front), (fs::path(folder) / "front.png").string());
    out.commit();
}

// One photo with its outcome: done, or skipped with the reason.
Result runPhoto(const Job &job, const BatchSettings &settings, LandmarkSource &landmarks) {
    Result result;
    const double t0 = secondsNow();
    try {
        processPhoto(job, settings, landmarks);
        result.done = true;
    } catch (const CliError &e) {
        result.message = e.what();
    } catch (const std::bad_alloc &) {
        result.message = "out of memory";
    } catch (const std::exception &e) {
        result.message = e.what();
    }
    result.seconds = secondsNow() - t0;
    return result;
}

// The workers are the batch's parallelism: each runs the library's parallel
// loops on its own thread (they work on 256 x 256 frames, too little to pay
// for threads that would only compete with the other workers), and writes
// its pictures, those inside model.glb too, at a fast PNG level (larger
// files, the same pixels).
void useOneThreadPerWorker() {
#if defined(_OPENMP)
    omp_set_num_threads(1);
#endif
    TAVO_SetPngCompressionLevel(1);
#if KELMO_WITH_GLTF
    setEmbeddedPngCompressionLevel(1);
#endif
}

#if !defined(_WIN32)
// The worker loop: read an index, answer "index, ok, seconds, message".
[[noreturn]] void workerMain(int jobFd, int resultFd, const std::vector<Job> &jobs, const BatchSettings &settings,
                             LandmarkSource &landmarks) {
    resetInterruptRegistryInChild();
    useOneThreadPerWorker();
    int exitCode = 0;
    try {
        int32_t index = 0;  // the library is the parent's, initialised before the fork
        while (readAll(jobFd, &index, sizeof index)) {
            if (index < 0 || index >= static_cast<int32_t>(jobs.size())) break;
            const Result r = runPhoto(jobs[static_cast<std::size_t>(index)], settings, landmarks);
            const int32_t ok = r.done ? 1 : 0;
            const std::string &message = r.message;
            const double seconds = r.seconds;
            const uint32_t length = static_cast<uint32_t>(std::min<std::size_t>(message.size(), 4000));
            if (!writeAll(resultFd, &index, sizeof index) || !writeAll(resultFd, &ok, sizeof ok) ||
                !writeAll(resultFd, &seconds, sizeof seconds) || !writeAll(resultFd, &length, sizeof length) ||
                !writeAll(resultFd, message.data(), length))
                break;
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "kelmo batch: worker: %s\n", e.what());
        exitCode = 1;
    }
    std::fflush(nullptr);
#ifdef KELMO_COVERAGE
    __gcov_dump();  // _exit skips the instrumented build's flush of counters
#endif
    _exit(exitCode);
}

struct Worker {
    int pid = -1;
    int jobFd = -1;     // parent writes
    int resultFd = -1;  // parent reads
    int busyWith = -1;  // job index in flight
};
#endif

class ProgressDisplay {
public:
    ProgressDisplay(std::size_t total, bool terminal) : total_(total), terminal_(terminal), start_(secondsNow()) {}

    void report(const Job &job, const Result &r, std::size_t finished, std::size_t skipped) {
        if (terminal_) std::fputs("\r\033[K", stderr);
        if (!r.done) std::fprintf(stderr, "skipped %s: %s\n", job.photo.c_str(), r.message.c_str());
        else if (!terminal_) std::fprintf(stderr, "done %s (%.2f s)\n", job.photo.c_str(), r.seconds);
        if (terminal_) draw(finished, skipped);
    }
    void draw(std::size_t finished, std::size_t skipped) {
        const int width = 30;
        const int filled = total_ == 0 ? width : static_cast<int>(width * finished / total_);
        const double elapsed = secondsNow() - start_;
        std::fprintf(stderr, "\r[%.*s%.*s] %zu/%zu  %zu skipped  %.2f photos/s", filled,
                     "##############################", width - filled, "..............................",
                     finished, total_, skipped, elapsed > 0 ? finished / elapsed : 0.0);
        std::fflush(stderr);
    }
    void finish() {
        if (terminal_) std::fputs("\r\033[K", stderr);
    }

private:
    std::size_t total_;
    bool terminal_;
    double start_;
};

}  // namespace

int commandBatch(const Args &words) {
    std::vector<OptionSpec> specs = kCreateOptionSpecs;
    specs.push_back({"model", 0, true, false});
    for (const char *name : {"shard", "size", "data"}) specs.push_back({name, 0, true, false});
    specs.push_back({"jobs", 'j', true, false});
    specs.push_back({"output", 'o', true, false});
    const ParsedArgs args = parseArgs(words, specs);
    if (args.helpRequested) return printHelp(kHelp);
    requirePositionals(args, 1, 1, "one photo folder DIR");
    const std::string inFolder = args.positional[0];
    BatchSettings settings;
    settings.outFolder = requiredOutput(args, "OUTDIR (the results folder)");
    settings.options = createOptions(args);
#if defined(_WIN32)
    // One process (see the top of this file); -j is still checked.
    const int workerCount = 1;
    if (auto v = args.value("jobs")) static_cast<void>(parseInteger(*v, "-j", 1, 64));
#else
    const long processors = std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
    int workerCount = static_cast<int>(std::min(64L, processors));
    if (auto v = args.value("jobs")) workerCount = static_cast<int>(parseInteger(*v, "-j", 1, 64));
#endif
    std::pair<int, int> shard{0, 1};
    if (auto v = args.value("shard")) shard = parseShard(*v);
    if (auto v = args.value("size")) {
        const Size2 s = parseSize(*v, "--size", 8192);
        settings.front.width = s.width, settings.front.height = s.height;
    }
    std::error_code ec;
    if (fs::exists(settings.outFolder, ec) && !fs::is_directory(settings.outFolder, ec))
        throw failure("output '" + settings.outFolder + "' exists and is not a folder");

    int ignored = 0;
    const std::vector<Job> all = listPhotos(inFolder, &ignored);
    const std::size_t first = all.size() * static_cast<std::size_t>(shard.first) / static_cast<std::size_t>(shard.second);
    const std::size_t last =
        all.size() * static_cast<std::size_t>(shard.first + 1) / static_cast<std::size_t>(shard.second);
    const std::vector<Job> jobs(all.begin() + static_cast<std::ptrdiff_t>(first),
                                all.begin() + static_cast<std::ptrdiff_t>(last));
    settings.dataDirectory = findDataDirectory(args.value("data"));
    // The library is initialised here, once: a broken data directory is one
    // message instead of one per photo, and the workers inherit it ready
    // (initialisation runs no OpenMP loop and leaves no file open, so forking
    // afterwards is safe; the parent makes no other call to the library). The
    // landmark model loads meanwhile, and is complete before the fork: the
    // workers share it too.
    LandmarkOptions landmarkOpts;
    landmarkOpts.modelFile = args.value("model");
    landmarkOpts.manyPhotos = true;
    LandmarkSource landmarks(landmarkOpts);
    landmarks.startLoading();
    const LibrarySession library(settings.dataDirectory);
    landmarks.preload();

    const std::string shardText =
        shard.second > 1 ? " (shard " + std::to_string(shard.first) + "/" + std::to_string(shard.second) + ")" : "";
    std::printf("kelmo batch: %zu photos%s of %zu in %s, %d worker%s%s\n", jobs.size(), shardText.c_str(), all.size(),
                inFolder.c_str(), std::min<int>(workerCount, static_cast<int>(std::max<std::size_t>(1, jobs.size()))),
                workerCount == 1 ? "" : "s",
                ignored > 0 ? (", " + std::to_string(ignored) + " other files ignored").c_str() : "");
    std::fflush(stdout);

    const double start = secondsNow();
    std::vector<Result> results(jobs.size());
    std::size_t finished = 0, skipped = 0;
#if defined(_WIN32)
    ProgressDisplay progress(jobs.size(), _isatty(_fileno(stderr)) != 0);
    if (!jobs.empty()) {
        useOneThreadPerWorker();
        if (_isatty(_fileno(stderr)) != 0) progress.draw(0, 0);
        for (std::size_t k = 0; k < jobs.size(); ++k) {
            results[k] = runPhoto(jobs[k], settings, landmarks);
            results[k].reported = true;
            ++finished;
            if (!results[k].done) ++skipped;
            progress.report(jobs[k], results[k], finished, skipped);
        }
    }
#else
    // A worker that dies must not kill the parent through a write to its pipe.
    std::signal(SIGPIPE, SIG_IGN);
    std::size_t nextJob = 0;
    ProgressDisplay progress(jobs.size(), isatty(STDERR_FILENO) != 0);
    std::vector<Worker> workers;
    const int wanted = std::min<int>(workerCount, static_cast<int>(jobs.size()));

    auto spawn = [&]() {
        int toWorker[2], fromWorker[2];
        if (pipe(toWorker) != 0) throw failure(std::string("cannot make a pipe: ") + std::strerror(errno));
        if (pipe(fromWorker) != 0) {
            close(toWorker[0]), close(toWorker[1]);
            throw failure(std::string("cannot make a pipe: ") + std::strerror(errno));
        }
        std::fflush(nullptr);
        const pid_t pid = fork();
        if (pid < 0) throw failure(std::string("cannot start a worker: ") + std::strerror(errno));
        if (pid == 0) {
            close(toWorker[1]), close(fromWorker[0]);
            for (const Worker &w : workers) close(w.jobFd), close(w.resultFd);
            workerMain(toWorker[0], fromWorker[1], jobs, settings, landmarks);
        }
        close(toWorker[0]), close(fromWorker[1]);
        registerChildProcess(pid);
        workers.push_back({pid, toWorker[1], fromWorker[0], -1});
    };
    auto finish = [&](std::size_t index, bool done, const std::string &message, double seconds) {
        Result &r = results[index];
        r.done = done, r.message = message, r.seconds = seconds, r.reported = true;
        ++finished;
        if (!done) ++skipped;
        progress.report(jobs[index], r, finished, skipped);
    };
    auto assign = [&](Worker &w) {
        if (nextJob < jobs.size()) {
            const int32_t index = static_cast<int32_t>(nextJob);
            if (writeAll(w.jobFd, &index, sizeof index)) {
                w.busyWith = index;
                ++nextJob;
                return;
            }
        }
        close(w.jobFd);  // no more work: the worker ends on end of file
        w.jobFd = -1;
    };
    for (int k = 0; k < wanted; ++k) spawn();
    for (Worker &w : workers) assign(w);
    if (isatty(STDERR_FILENO) != 0 && !jobs.empty()) progress.draw(0, 0);
    while (!workers.empty()) {
        std::vector<pollfd> fds;
        for (const Worker &w : workers) fds.push_back({w.resultFd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            throw failure(std::string("poll failed: ") + std::strerror(errno));
        }
        for (std::size_t k = fds.size(); k-- > 0;) {
            if (fds[k].revents == 0) continue;
            Worker &w = workers[k];
            int32_t index = -1, ok = 0;
            double seconds = 0.0;
            uint32_t length = 0;
            std::string message;
            bool read = readAll(w.resultFd, &index, sizeof index) && readAll(w.resultFd, &ok, sizeof ok) &&
                        readAll(w.resultFd, &seconds, sizeof seconds) && readAll(w.resultFd, &length, sizeof length) &&
                        length <= 4000;
            if (read) {
                message.resize(length);
                read = length == 0 || readAll(w.resultFd, message.data(), length);
            }
            if (!read || index != w.busyWith) {
                // End of file: the worker has ended, normally when it ran out
                // of work, otherwise it died on its photo.
                if (w.jobFd >= 0) close(w.jobFd);
                close(w.resultFd);
                int status = 0;
                waitpid(w.pid, &status, 0);
                unregisterChildProcess(w.pid);
                const int lostJob = w.busyWith;
                workers.erase(workers.begin() + static_cast<std::ptrdiff_t>(k));
                if (lostJob >= 0) {
                    const std::string why =
                        WIFSIGNALED(status)
                            ? "the worker crashed on it (signal " + std::to_string(WTERMSIG(status)) + ")"
                            : "the worker ended while processing it (exit " + std::to_string(WEXITSTATUS(status)) + ")";
                    finish(static_cast<std::size_t>(lostJob), false, why, 0.0);
                    if (nextJob < jobs.size()) {
                        spawn();
                        assign(workers.back());
                    }
                }
                continue;
            }
            finish(static_cast<std::size_t>(index), ok != 0, message, seconds);
            w.busyWith = -1;
            assign(w);
        }
    }
#endif
    progress.finish();
    const double elapsed = secondsNow() - start;

    std::string summary = "photo\toutcome\tseconds\tmessage\n";
    for (std::size_t k = 0; k < jobs.size(); ++k) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", results[k].seconds);
        std::string message = results[k].message;
        std::replace(message.begin(), message.end(), '\t', ' ');
        std::replace(message.begin(), message.end(), '\n', ' ');
        summary += jobs[k].photo + "\t" + (results[k].done ? "done" : "skipped") + "\t" + seconds + "\t" + message + "\n";
    }
    const std::string summaryName =
        shard.second > 1 ? "batch-summary-" + std::to_string(shard.first) + "-of-" + std::to_string(shard.second) + ".tsv"
                         : "batch-summary.tsv";
    writeTextAtomically((fs::path(settings.outFolder) / summaryName).string(), summary);

    std::printf("kelmo batch: %zu photos in %.2f s (%.2f photos/s): %zu done, %zu skipped; results in %s/\n",
                jobs.size(), elapsed, elapsed > 0 ? static_cast<double>(jobs.size()) / elapsed : 0.0,
                jobs.size() - skipped, skipped, settings.outFolder.c_str());
    for (std::size_t k = 0; k < jobs.size(); ++k)
        if (!results[k].done) std::printf("  skipped %s: %s\n", jobs[k].photo.c_str(), results[k].message.c_str());
    return skipped == 0 ? kExitOk : kExitSomeSkipped;
}

}  // namespace kelmo::cli
