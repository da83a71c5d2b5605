// kelmo landmarks: the 66 feature points of a photo, found with dlib.
#include <cstdio>

#include "tools/kelmo/atomic_file.h"
#include "tools/kelmo/commands.h"
#include "tools/kelmo/drawing.h"
#include "tools/kelmo/face_landmarks.h"

namespace kelmo::cli {

namespace {
const char *kHelp =
    "usage: kelmo landmarks PHOTO [-o POINTS.txt] [--draw FILE.png] [--face N] [--model FILE]\n"
    "\n"
    "Finds the face in PHOTO with dlib's frontal face detector and its 68 points with\n"
    "dlib's shape predictor, maps them to the 66 feature points of the library\n"
    "(docs/landmarks.md) and writes them as 66 lines 'x y' (photo pixels, origin at the\n"
    "top-left pixel), to standard output unless -o is given.\n"
    "\n"
    "  -o, --output FILE  write the points to FILE\n"
    "  --draw FILE.png    also write a picture of the face with the 66 numbered points: the\n"
    "                     photo cut to the face with a margin, enlarged when the face is\n"
    "                     small (green: control points of the fit, orange: outline points\n"
    "                     it leaves out, blue: eye points)\n"
    "  --face N           with several faces, the N-th from the left (default: the largest)\n"
    "  --model FILE       dlib 68-point shape predictor (default: " "/usr/share/dlib/"
    "shape_predictor_68_face_landmarks.dat, from Debian's libdlib-data; its training\n"
    "                     data exclude commercial use)\n";
}  // namespace

int commandLandmarks(const Args &words) {
    std::vector<OptionSpec> specs = kLandmarkOptionSpecs;
    specs.push_back({"output", 'o', true, false});
    specs.push_back({"draw", 0, true, false});
    const ParsedArgs args = parseArgs(words, specs);
    if (args.helpRequested) return printHelp(kHelp);
    requirePositionals(args, 1, 1, "one PHOTO");
    const std::string photoPath = args.positional[0];
    const LandmarkOptions options = landmarkOptions(args, false);
    const auto output = args.value("output");
    const auto draw = args.value("draw");
    if (draw && !draw->ends_with(".png") && !draw->ends_with(".PNG"))
        throw usageError("--draw writes a PNG file: give a name ending in .png, not '" + *draw + "'");

    const Image photo = loadPhoto(photoPath);
    LandmarkSource source(options);
    const FeaturePoints points = source.pointsFor(photo, photoPath);
    if (source.facesFoundLast() > 1)
        std::fprintf(stderr, "kelmo landmarks: %d faces in '%s'; using %s (choose with --face N, from the left)\n",
                     source.facesFoundLast(), photoPath.c_str(),
                     options.face ? ("face " + std::to_string(*options.face)).c_str() : "the largest");

    OutputSet out;
    if (output) out.writeText(*output, formatPoints(points));
    if (draw) out.saveImage(drawLandmarks(Canvas::fromImage(photo), points,
                                             boxAround(points, 0.5, photo.width(), photo.height()))
                                   .toImage(),
                               *draw);
    out.commit();
    if (!output) std::fputs(formatPoints(points).c_str(), stdout);
    return kExitOk;
}

}  // namespace kelmo::cli
