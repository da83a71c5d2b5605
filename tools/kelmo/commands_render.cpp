// kelmo render: a model turned, morphed and pulled by muscles, rendered into
// a picture or a turntable strip.
#include <cstdio>
#include <filesystem>

#include "tools/kelmo/atomic_file.h"
#include "tools/kelmo/canvas.h"
#include "tools/kelmo/commands.h"

namespace kelmo::cli {

namespace fs = std::filesystem;

namespace {
const char *kHelp =
    "usage: kelmo render PHOTO|DIR -o OUT.png [--yaw D] [--pitch D] [--roll D] [--scale S]\n"
    "                    [--fov D] [--size WxH] [--morph NAME=WEIGHT ...] [--muscle FILE ...]\n"
    "                    [--turntable N] [--points FILE] [create options] [--data DIR]\n"
    "\n"
    "Renders a model (TAVO_RenderModelToImage): the model folder DIR of `kelmo create`, or a\n"
    "model created on the spot from PHOTO (its points found with dlib unless --points is\n"
    "given; --no-smile, --closed-mouth, --no-mask, --generic-teeth, --face, --model as for\n"
    "`kelmo create`). Where nothing is drawn the picture is transparent.\n"
    "\n"
    "  -o, --output OUT.png  the picture (.png; .jpg and .bmp drop the transparency)\n"
    "  --yaw D, --pitch D, --roll D   turn the head by D degrees about the vertical, the\n"
    "                     horizontal and the viewing axis (default 0)\n"
    "  --scale S          scale the head by S (default 1)\n"
    "  --fov D            the perspective angle in degrees (default 1: nearly orthographic;\n"
    "                     larger angles give a stronger perspective, the framing stays)\n"
    "  --size WxH         picture size in pixels (default 512x512)\n"
    "  --morph NAME=WEIGHT  add a morph of the generic head, converted to this head\n"
    "                     (TAVO_AdjustModelDeformation, TAVO_ApplyMorph): NAME is one of the\n"
    "                     data directory's morphs/ (jaw_open, smile, blink, brow_raise) or a\n"
    "                     vertex file; WEIGHT from -10 to 10. Repeatable.\n"
    "  --muscle FILE      contract the muscle of FILE (TAVO_LinearMuscleContraction) after\n"
    "                     the morphs; see tools/kelmo/muscle_file.h for the format. Repeatable.\n"
    "  --turntable N      N views from -45 to +45 degrees of yaw, side by side in one strip\n"
    "                     (N from 2 to 72; not with --yaw)\n";

}  // namespace

int commandRender(const Args &words) {
    std::vector<OptionSpec> specs = kLandmarkOptionSpecs;
    specs.insert(specs.end(), kCreateOptionSpecs.begin(), kCreateOptionSpecs.end());
    for (const char *name : {"yaw", "pitch", "roll", "scale", "fov", "size", "turntable", "points", "data"})
        specs.push_back({name, 0, true, false});
    specs.push_back({"output", 'o', true, false});
    specs.push_back({"morph", 0, true, true});
    specs.push_back({"muscle", 0, true, true});
    const ParsedArgs args = parseArgs(words, specs);
    if (args.helpRequested) return printHelp(kHelp);
    requirePositionals(args, 1, 1, "one PHOTO or model folder DIR");
    const std::string input = args.positional[0];
    const std::string output = requiredImageOutput(args);

    View view;
    if (auto v = args.value("yaw")) view.yaw = static_cast<float>(parseNumberInRange(*v, "--yaw", -360, 360));
    if (auto v = args.value("pitch")) view.pitch = static_cast<float>(parseNumberInRange(*v, "--pitch", -360, 360));
    if (auto v = args.value("roll")) view.roll = static_cast<float>(parseNumberInRange(*v, "--roll", -360, 360));
    if (auto v = args.value("scale")) view.scale = static_cast<float>(parseNumberInRange(*v, "--scale", 0.01, 100));
    if (auto v = args.value("fov")) view.fov = static_cast<float>(parseNumberInRange(*v, "--fov", 0.001, 150));
    if (auto v = args.value("size")) {
        const Size2 s = parseSize(*v, "--size", 8192);
        view.width = s.width, view.height = s.height;
    }
    int turntable = 0;
    if (auto v = args.value("turntable")) {
        turntable = static_cast<int>(parseInteger(*v, "--turntable", 2, 72));
        if (args.has("yaw")) throw usageError("--turntable chooses the yaw of every view; leave out --yaw");
        if (static_cast<long>(turntable) * view.width > 32768)
            throw usageError("--turntable " + std::to_string(turntable) + " views of " + std::to_string(view.width) +
                             " pixels exceed 32768 pixels in width; use a smaller --size");
    }
    std::vector<MorphRequest> morphs;
    for (const std::string &m : args.all("morph")) morphs.push_back(parseMorphRequest(m));
    std::vector<MuscleDefinition> muscles;
    for (const std::string &m : args.all("muscle")) muscles.push_back(readMuscleFile(m));

    const bool fromFolder = isModelFolder(input);
    std::error_code ec;
    if (!fromFolder && fs::is_directory(input, ec))
        throw failure("'" + input + "' is a folder but not a model folder of `kelmo create` (it has no model.txt)");
    if (fromFolder) {
        for (const char *option : {"points", "model", "face", "no-smile", "closed-mouth", "no-mask", "generic-teeth"})
            if (args.has(option))
                throw usageError(std::string("--") + option + " applies to a photo; '" + input +
                                 "' is a model folder, which keeps its own");
    }

    const LibrarySession library(findDataDirectory(args.value("data")));
    std::vector<std::string> morphFiles;
    for (const MorphRequest &m : morphs) morphFiles.push_back(resolveMorph(m.name, library.dataDirectory()));

    std::unique_ptr<Model> model;
    if (fromFolder) {
        model = recreateModel(input);
    } else {
        const Image photo = loadPhoto(input);
        LandmarkSource source(landmarkOptions(args, true));
        model = createModel(photo, source.pointsFor(photo, input), createOptions(args));
    }

    // Every morph is converted against the unmorphed head before any is
    // applied: TAVO_AdjustModelDeformation measures displacements from the
    // model's current vertices, so converting after another morph
    // would undo that morph where both move.
    std::vector<std::unique_ptr<ConvertedMorph>> converted;
    for (const std::string &file : morphFiles) converted.push_back(std::make_unique<ConvertedMorph>(*model, file));
    for (std::size_t k = 0; k < morphs.size(); ++k)
        check(TAVO_ApplyMorph(model->handle(), converted[k]->handle(), morphs[k].weight),
              "cannot apply the morph '" + morphs[k].name + "'");
    for (const MuscleDefinition &m : muscles) applyMuscle(*model, m);

    Image picture;
    if (turntable == 0) {
        picture = renderView(*model, view);
    } else {
        std::vector<Canvas> views;
        for (int k = 0; k < turntable; ++k) {
            View v = view;
            v.yaw = static_cast<float>(-45.0 + 90.0 * k / (turntable - 1));
            views.push_back(Canvas::fromImage(renderView(*model, v)));
        }
        picture = horizontalStrip(views).toImage();
    }
    saveImageAtomically(picture, output);
    return kExitOk;
}

}  // namespace kelmo::cli
