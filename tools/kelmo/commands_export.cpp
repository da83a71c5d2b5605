// kelmo export and kelmo view: a model folder of `kelmo create` written in
// another format, or shown in a live 3D page.
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "tools/kelmo/atomic_file.h"
#include "tools/kelmo/commands.h"
#include "tools/kelmo/gltf_export.h"
#include "tools/kelmo/obj_export.h"
#include "tools/kelmo/viewer_page.h"

namespace kelmo::cli {

namespace fs = std::filesystem;

namespace {
const char *kExportHelp =
    "usage: kelmo export DIR --format glb|gltf|obj [-o OUT] [--no-morphs] [--data DIR]\n"
    "\n"
    "Writes the model of DIR, a folder made by `kelmo create`, in another format. The\n"
    "model is made again from the folder's photo, points and options.\n"
    "  glb    glTF 2.0 binary (the default): metres, +Y up, the face looking down +Z, one\n"
    "         mesh per region with its texture embedded, and the data directory's morphs\n"
    "         (jaw_open, smile, blink, brow_raise...) as named morph targets\n"
    "  gltf   the same as one glTF JSON file with its data embedded\n"
    "  obj    Wavefront OBJ + MTL with the textures beside it (as `kelmo create` writes)\n"
    "\n"
    "  --format FMT       glb, gltf or obj\n"
    "  -o, --output OUT   the file (default DIR/model.glb or DIR/model.gltf); for obj, a\n"
    "                     folder (default DIR)\n"
    "  --no-morphs        leave the morph targets out\n"
    "  --data DIR         the data directory, with its morphs/ (default: the build's or\n"
    "                     installed one)\n";

const char *kViewHelp =
    "usage: kelmo view DIR -o PAGE.html [--data DIR]\n"
    "\n"
    "Writes a page that shows the model of DIR, a folder made by `kelmo create`, in a\n"
    "live 3D view: drag to turn it, scroll to zoom, a slider per morph target and a\n"
    "button that plays a talking loop. The model is embedded in the page as GLB and the\n"
    "viewer script (three.js bundled in) is copied beside it as kelmo-viewer.js, so the\n"
    "page opens from disk in a browser with no server and no network.\n"
    "\n"
    "  -o, --output PAGE.html   the page\n"
    "  --data DIR         the data directory, with its morphs/\n";

std::string lowered(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string requiredModelFolder(const ParsedArgs &args) {
    requirePositionals(args, 1, 1, "one model folder DIR");
    const std::string folder = args.positional[0];
    if (!isModelFolder(folder))
        throw failure("'" + folder + "' is not a model folder of `kelmo create` (it has no model.txt)");
    return folder;
}
}  // namespace

int commandExport(const Args &words) {
    const ParsedArgs args = parseArgs(words, {{"format", 0, true, false},
                                              {"output", 'o', true, false},
                                              {"no-morphs", 0, false, false},
                                              {"data", 0, true, false}});
    if (args.helpRequested) return printHelp(kExportHelp);
    const std::string folder = requiredModelFolder(args);
    const std::string format = lowered(args.value("format").value_or("glb"));
    if (format != "glb" && format != "gltf" && format != "obj")
        throw usageError("--format must be glb, gltf or obj, not '" + format + "'");
    if (format == "obj" && args.has("no-morphs")) throw usageError("--no-morphs applies to glb and gltf");
    const std::string output =
        args.value("output").value_or(format == "obj" ? folder : (fs::path(folder) / ("model." + format)).string());
    if (output.empty()) throw usageError("-o needs a name");

    const double start = secondsNow();
    const LibrarySession library(findDataDirectory(args.value("data")));
    ModelRecord record;
    const auto model = recreateModel(folder, &record);
    OutputSet out;
    std::string detail;
    if (format == "obj") {
        const ObjSummary obj = exportObj(*model, record.options.genericTeeth, output, out);
        detail = std::to_string(obj.vertices) + " vertices, " + std::to_string(obj.faces) + " faces";
    } else {
        GltfOptions options;
        options.binary = format == "glb";
        options.genericTeeth = record.options.genericTeeth;
        options.morphs = !args.has("no-morphs");
        GltfSummary summary;
        out.writeBytes(output, modelAsGltf(*model, library.dataDirectory(), options, &summary));
        std::string names;
        for (const std::string &n : summary.morphNames) names += (names.empty() ? "" : ", ") + n;
        detail = std::to_string(summary.meshes) + " meshes, " + std::to_string(summary.vertices) + " vertices, " +
                 std::to_string(summary.triangles) + " triangles, morph targets: " + (names.empty() ? "none" : names);
    }
    out.commit();
    std::printf("kelmo export: %s -> %s (%s; %s) in %.2f s\n", folder.c_str(), output.c_str(), format.c_str(),
                detail.c_str(), secondsNow() - start);
    return kExitOk;
}

int commandView(const Args &words) {
    const ParsedArgs args = parseArgs(words, {{"output", 'o', true, false}, {"data", 0, true, false}});
    if (args.helpRequested) return printHelp(kViewHelp);
    const std::string folder = requiredModelFolder(args);
    const std::string page = requiredOutput(args, "PAGE.html");
    if (lowered(fs::path(page).extension().string()) != ".html")
        throw usageError("-o must name an .html file, not '" + page + "'");
    const std::string script = findViewerScript();
    if (script.empty())
        throw failure(std::string("the viewer script ") + kViewerScriptName +
                      " is missing from this build: run `bash scripts/install-deps.sh` (npm ci) and build again");

    const LibrarySession library(findDataDirectory(args.value("data")));
    ModelRecord record;
    const auto model = recreateModel(folder, &record);
    GltfOptions options;
    options.genericTeeth = record.options.genericTeeth;
    GltfSummary summary;
    const std::vector<uint8_t> glb = modelAsGltf(*model, library.dataDirectory(), options, &summary);
    OutputSet out;
    out.writeText(page, viewerPage(glb, "kelmo: " + fs::path(folder).filename().string()));
    out.copyFile(script, (fs::path(page).parent_path() / kViewerScriptName).string());
    out.commit();
    std::printf("kelmo view: %s -> %s (%zu morph targets; %s beside it)\n", folder.c_str(), page.c_str(),
                summary.morphNames.size(), kViewerScriptName);
    return kExitOk;
}

}  // namespace kelmo::cli
