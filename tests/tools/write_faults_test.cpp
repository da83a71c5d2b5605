// Every file that the library or the kelmo tool writes survives the faults of
// real disks: a full disk, a read-only folder, a name that is a folder and a
// write interrupted by a signal each give a non-zero status (the tool: exit
// code 1 and a message naming the file, or the interrupting signal), and leave
// the folder exactly as it was, a previous file of that name included. The
// full disk and the interruption come from tests/support/write_faults.c,
// linked into this program for the library and preloaded into the tool; the
// writers run in child processes, as the unprivileged user when the suite runs
// as root (who would otherwise write into a read-only folder).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "tavoimage.h"

extern "C" void kelmo_write_fault_arm(long bytes, int interruptBySignal);

namespace {

namespace fs = std::filesystem;

enum class Fault { fullDisk, readOnlyFolder, nameIsAFolder, interrupted };

std::map<std::string, std::string> contents(const fs::path &folder) {
    std::map<std::string, std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        files[fs::relative(entry.path(), folder).string()] =
            entry.is_directory() ? "<folder>" : std::string{std::istreambuf_iterator<char>(in), {}};
    }
    return files;
}

std::string readText(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Outcome {
    int exitCode = -1, signal = 0;
    std::string err;
};

// Runs `writer` in a child process with the fault set up (the child drops root
// first); its exit code is the writer's result.
template <typename Writer>
Outcome inChild(Fault fault, const fs::path &errors, Writer writer) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        dup2(err, 2);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(125);
        if (fault == Fault::fullDisk || fault == Fault::interrupted)
            kelmo_write_fault_arm(100, fault == Fault::interrupted);
        _exit(writer());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, WIFSIGNALED(status) ? WTERMSIG(status) : 0,
            readText(errors)};
}

class WriteFaults : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("kelmo_write_faults_" + std::to_string(getpid()));
        fs::create_directories(root);
        fs::permissions(root, fs::perms::all);
        std::vector<uint8_t> pixels(64 * 64 * 3);
        for (std::size_t k = 0; k < pixels.size(); ++k) pixels[k] = uint8_t(k * 7 + k / 192);
        ASSERT_EQ(TAVO_LoadImageFromBuffer(&image, pixels.data(), 64, 64, 192, TAVO_IMAGEMODE_COLOR), 0);
        ASSERT_EQ(TAVO_SaveImageToFile(image, (root / "image.png").c_str()), 0);
        std::ofstream(root / "from.txt") << "10 10\n50 50\n";
        std::ofstream(root / "to.txt") << "12 11\n48 52\n";
    }
    void TearDown() override {
        TAVO_FreeImage(image);
        fs::remove_all(root);
    }
    // The output folder as the fault leaves it before the write: a previous
    // "picture.png", or a folder of that name.
    fs::path prepare(Fault fault, const std::string &name) {
        const fs::path folder = root / name;
        fs::create_directories(folder);
        if (fault == Fault::nameIsAFolder)
            fs::create_directory(folder / "picture.png");
        else
            std::ofstream(folder / "picture.png") << "the previous picture";
        fs::permissions(folder, fault == Fault::readOnlyFolder ? fs::perms::owner_read | fs::perms::owner_exec |
                                                                     fs::perms::others_read | fs::perms::others_exec
                                                               : fs::perms::all);
        return folder;
    }
    fs::path root;
    ImageHandle image = -1;
};

TEST_F(WriteFaults, FailCleanlyAndLeaveThePreviousFile) {
    const std::pair<Fault, const char *> faults[] = {{Fault::fullDisk, "full_disk"},
                                                     {Fault::readOnlyFolder, "read_only"},
                                                     {Fault::nameIsAFolder, "folder"},
                                                     {Fault::interrupted, "interrupted"}};
    for (const auto &[fault, name] : faults) {
        for (const char *format : {"png", "jpg", "bmp"}) {
            // The library, in a host that handles SIGINT (its write then fails with EINTR).
            const fs::path folder = prepare(fault, std::string("library_") + name + "_" + format);
            const std::string path = (folder / (std::string("picture.") + format)).string();
            if (std::string(format) != "png") fs::copy(folder / "picture.png", path, fs::copy_options::recursive);
            const auto before = contents(folder);
            const Outcome library = inChild(fault, root / "stderr", [&] {
                std::signal(SIGINT, [](int) {});
                return -TAVO_SaveImageToFile(image, path.c_str());
            });
            EXPECT_EQ(library.exitCode, -TAVOIMG_ERR_WRITE) << name << " " << format;
            EXPECT_EQ(contents(folder), before) << name << " " << format;
        }
        // The tool: a message and exit code 1, or the interrupting signal.
        const fs::path folder = prepare(fault, std::string("tool_") + name);
        const auto before = contents(folder);
        const std::string output = (folder / "picture.png").string(), preload = "LD_PRELOAD=" KELMO_WRITE_FAULTS;
        const Outcome tool = inChild(Fault::readOnlyFolder, root / "stderr", [&] {
            const std::string after = std::string("KELMO_WRITE_FAULT_AFTER=") +
                                      (fault == Fault::fullDisk || fault == Fault::interrupted ? "100" : "-1");
            const std::string kind = fault == Fault::interrupted ? "KELMO_WRITE_FAULT=interrupt" : "KELMO_WRITE_FAULT=full";
            // Under AddressSanitizer the shim is preloaded before its runtime.
            const char *environment[] = {preload.c_str(), after.c_str(), kind.c_str(),
                                         "ASAN_OPTIONS=verify_asan_link_order=0", nullptr};
            const std::string photo = (root / "image.png").string(), from = (root / "from.txt").string(),
                              to = (root / "to.txt").string();
            const char *argv[] = {KELMO_TOOL, "warp", photo.c_str(), "--from", from.c_str(), "--to", to.c_str(),
                                  "--data", KELMO_DATA_DIR, "-o", output.c_str(), nullptr};
            execve(KELMO_TOOL, const_cast<char **>(argv), const_cast<char **>(environment));
            return 127;
        });
        if (fault == Fault::interrupted) {
            EXPECT_EQ(tool.signal, SIGINT) << tool.err;
        } else {
            EXPECT_EQ(tool.exitCode, 1) << name;
            EXPECT_NE(tool.err.find("picture.png"), std::string::npos) << name << ": " << tool.err;
        }
        EXPECT_EQ(contents(folder), before) << name;
    }
}

}  // namespace
