// kelmo create: a model from a photo, written as OBJ + MTL with its textures and as GLB,
// its points and its expression class.
#include <cstdio>

#include "tools/kelmo/atomic_file.h"
#include "tools/kelmo/commands.h"

namespace kelmo::cli {

namespace {
const char *kHelp =
    "usage: kelmo create PHOTO -o DIR [--points FILE] [--no-smile] [--closed-mouth]\n"
    "                    [--no-mask] [--generic-teeth] [--face-only] [--face N] [--model FILE]\n"
    "                    [--data DIR]\n"
    "\n"
    "Creates the 3D head of the face in PHOTO (TAVO_CreateModelFromPhotoEx) and writes\n"
    "into DIR:\n"
    "  model.obj, model.mtl  the model as Wavefront OBJ, one object and material per region\n"
    "                        (head, eyes, teeth, mouth) with their texture coordinates\n"
    "  model.glb             the model as glTF 2.0 in metres (+Y up, facing +Z), textures\n"
    "                        embedded, the data directory's morphs as named morph targets\n"
    "  texture.png           the model's texture: the 256 x 256 face frame, completed with the\n"
    "                        face's skin tone outside the face (a whole, bald head)\n"
    "  mouth.png             the inside of the mouth (and teeth_*.png with --generic-teeth)\n"
    "  points.txt            the 66 feature points used (photo pixels)\n"
    "  photo.EXT, model.txt  a copy of the photo and the record that `kelmo render DIR`\n"
    "                        uses to create the model again; model.txt names the\n"
    "                        expression class (closed or open mouth, neutral or smiling)\n"
    "\n"
    "  -o, --output DIR   the model folder (created; files in it are replaced)\n"
    "  --points FILE      the 66 points (66 lines 'x y'); found with dlib when not given\n"
    "  --no-smile         never use a smiling expression mesh\n"
    "  --closed-mouth     never use an open-mouth expression mesh\n"
    "  --no-mask          leave the texture opaque (no alpha mask)\n"
    "  --generic-teeth    draw the teeth with the data directory's teeth images instead of\n"
    "                     the photo's own mouth\n"
    "  --face-only        keep the face's alpha mask in the texture instead of the whole head\n"
    "                     (a face to composite onto photos)\n"
    "  --face N, --model FILE   as for `kelmo landmarks`\n"
    "  --data DIR         the data directory (default: the build's or installed one)\n";
}  // namespace

int commandCreate(const Args &words) {
    std::vector<OptionSpec> specs = kLandmarkOptionSpecs;
    specs.insert(specs.end(), kCreateOptionSpecs.begin(), kCreateOptionSpecs.end());
    specs.push_back({"output", 'o', true, false});
    specs.push_back({"points", 0, true, false});
    specs.push_back({"data", 0, true, false});
    const ParsedArgs args = parseArgs(words, specs);
    if (args.helpRequested) return printHelp(kHelp);
    requirePositionals(args, 1, 1, "one PHOTO");
    const std::string photoPath = args.positional[0];
    const std::string folder = requiredOutput(args, "DIR (the model folder)");
    const LandmarkOptions landmarks = landmarkOptions(args, true);
    const CreateOptions options = createOptions(args);

    const double start = secondsNow();
    // The landmark model loads on its own thread while the library starts
    // and the photo is read.
    LandmarkSource source(landmarks);
    source.startLoading();
    const LibrarySession library(findDataDirectory(args.value("data")));
    const Image photo = loadPhoto(photoPath);
    const FeaturePoints points = source.pointsFor(photo, photoPath);
    const auto model = createModel(photo, points, options);

    OutputSet out;
    const CreatedModelFolder made = stageModelFolder(*model, photo, photoPath, points, options, library.dataDirectory(), folder, out);
    out.commit();
    std::printf("kelmo create: %s -> %s/ (%s; %d vertices, %d faces) in %.2f s\n", photoPath.c_str(),
                folder.c_str(), expressionName(made.expressionClass), made.vertices, made.faces,
                secondsNow() - start);
    return kExitOk;
}

}  // namespace kelmo::cli
