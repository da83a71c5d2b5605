// kelmo: a 3D head from a photo of a face, on the command line. One
// executable with subcommands (commands.h); this file dispatches to them and
// turns their errors into messages and exit codes.
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "tools/kelmo/atomic_file.h"
#include "tools/kelmo/commands.h"

namespace {

const char *kUsage =
    "usage: kelmo COMMAND [ARGS...]\n"
    "\n"
    "A textured 3D head from one frontal photo of a face.\n"
    "\n"
    "commands:\n"
    "  demo [PHOTO]           the whole job on the sample photo (or PHOTO) into out/demo/\n"
    "  landmarks PHOTO        find the face and write its 66 feature points (dlib)\n"
    "  create PHOTO -o DIR    make the model: OBJ + MTL, GLB, texture, points, expression\n"
    "  export DIR --format glb|gltf|obj   write a created model in another format\n"
    "  view DIR -o PAGE.html  a live 3D page of a created model, with its morphs\n"
    "  render PHOTO|DIR -o OUT.png   render a model: turned, morphed, muscles, turntable\n"
    "  frame PHOTO -o OUT.png the upright face frame of a photo (the model's texture)\n"
    "  warp IMAGE --from FILE --to FILE -o OUT.png   bend an image point onto point\n"
    "  batch DIR -o OUTDIR    every photo of a folder, in parallel worker processes\n"
    "\n"
    "`kelmo COMMAND --help` describes a command.\n"
    "\n"
    "Exit codes: 0 done; 1 an input is missing or unusable (or no face); 2 bad command\n"
    "line; 3 batch finished but skipped some photos. Nothing is written on failure: every\n"
    "output appears under its name only once it is complete.\n";

struct Command {
    const char *name;
    int (*run)(const kelmo::cli::Args &);
};

const Command kCommands[] = {
    {"landmarks", kelmo::cli::commandLandmarks}, {"create", kelmo::cli::commandCreate},
    {"render", kelmo::cli::commandRender},       {"frame", kelmo::cli::commandFrame},
    {"warp", kelmo::cli::commandWarp},           {"demo", kelmo::cli::commandDemo},
    {"batch", kelmo::cli::commandBatch},         {"export", kelmo::cli::commandExport},
    {"view", kelmo::cli::commandView},
};

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return kelmo::cli::kExitUsage;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        std::fputs(kUsage, stdout);
        return kelmo::cli::kExitOk;
    }
    if (name == "--version") {
        std::printf("kelmo %s\n", KELMO_VERSION);
        return kelmo::cli::kExitOk;
    }
    const Command *command = nullptr;
    for (const Command &c : kCommands)
        if (name == c.name) command = &c;
    if (command == nullptr) {
        std::fprintf(stderr, "kelmo: unknown command '%s'\n\n%s", name.c_str(), kUsage);
        return kelmo::cli::kExitUsage;
    }
    kelmo::cli::installInterruptCleanup();
    const kelmo::cli::Args args(argv + 2, argv + argc);
    try {
        return command->run(args);
    } catch (const kelmo::cli::CliError &e) {
        std::fprintf(stderr, "kelmo %s: %s\n", command->name, e.what());
        if (e.exitCode() == kelmo::cli::kExitUsage)
            std::fprintf(stderr, "Try 'kelmo %s --help'.\n", command->name);
        return e.exitCode();
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "kelmo %s: out of memory\n", command->name);
        return kelmo::cli::kExitFailure;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "kelmo %s: %s\n", command->name, e.what());
        return kelmo::cli::kExitFailure;
    }
}
