// kelmo frame and kelmo warp: two thin commands over
// TAVO_ExtractFaceFrame and TAVO_WarpImageRBF.
#include <cstdio>
#include <filesystem>

#include "tools/kelmo/atomic_file.h"
#include "tools/kelmo/commands.h"

namespace kelmo::cli {

namespace fs = std::filesystem;

namespace {
const char *kFrameHelp =
    "usage: kelmo frame PHOTO -o OUT.png [--size N] [--points FILE] [--points-out FILE]\n"
    "                   [--face N] [--model FILE]\n"
    "\n"
    "Cuts the upright face frame out of PHOTO (TAVO_ExtractFaceFrame): the line\n"
    "through the eye centres made horizontal, a square around the face, scaled to N x N\n"
    "pixels. It is the texture that `kelmo create` gives a model (there at 256 x 256).\n"
    "\n"
    "  -o, --output OUT.png  the frame (.png, .jpg or .bmp)\n"
    "  --size N           side of the frame in pixels, 1 to 4096 (default 256)\n"
    "  --points FILE      the photo's 66 points (found with dlib when not given)\n"
    "  --points-out FILE  also write the 66 points in frame pixels\n"
    "  --face N, --model FILE   as for `kelmo landmarks`\n";

const char *kWarpHelp =
    "usage: kelmo warp IMAGE --from FILE --to FILE -o OUT.png [--data DIR]\n"
    "\n"
    "Bends IMAGE so that each point of --from lands on the point of the same line of --to,\n"
    "smoothly in between, with the corners fixed (TAVO_WarpImageRBF). Both files\n"
    "hold the same number of lines 'x y' (1 to 4096), in IMAGE's pixels, inside IMAGE.\n"
    "IMAGE may hold at most 2,097,152 = width^2 + height^2 (1024 x 1024 at most for a\n"
    "square). An image with transparency keeps it.\n"
    "\n"
    "  --from FILE        points of IMAGE\n"
    "  --to FILE          where they go\n"
    "  -o, --output OUT.png  the warped image\n"
    "  --data DIR         the data directory, for its square-root table sqrt.dat\n";

}  // namespace

int commandFrame(const Args &words) {
    std::vector<OptionSpec> specs = kLandmarkOptionSpecs;
    for (const char *name : {"size", "points", "points-out"}) specs.push_back({name, 0, true, false});
    specs.push_back({"output", 'o', true, false});
    const ParsedArgs args = parseArgs(words, specs);
    if (args.helpRequested) return printHelp(kFrameHelp);
    requirePositionals(args, 1, 1, "one PHOTO");
    const std::string photoPath = args.positional[0];
    const std::string output = requiredImageOutput(args);
    int side = 256;
    if (auto v = args.value("size")) side = static_cast<int>(parseInteger(*v, "--size", 1, 4096));
    const LandmarkOptions landmarks = landmarkOptions(args, true);

    const Image photo = loadPhoto(photoPath);
    LandmarkSource source(landmarks);
    const FeaturePoints points = source.pointsFor(photo, photoPath);
    const std::vector<int32_t> flat = flatten(points);
    std::vector<int32_t> framePoints(flat.size());
    ImageHandle frameHandle = -1;
    check(TAVO_ExtractFaceFrame(photo.handle(), flat.data(), &frameHandle, framePoints.data(), side, side),
          "cannot cut the face frame out of '" + photoPath + "'");
    const Image frame(frameHandle);

    OutputSet out;
    out.saveImage(frame, output);
    if (auto pointsOut = args.value("points-out")) {
        std::vector<PointI> p;
        for (std::size_t k = 0; k < framePoints.size(); k += 2) p.push_back({framePoints[k], framePoints[k + 1]});
        out.writeText(*pointsOut, formatPoints(p));
    }
    out.commit();
    return kExitOk;
}

int commandWarp(const Args &words) {
    const std::vector<OptionSpec> specs = {
        {"from", 0, true, false}, {"to", 0, true, false}, {"output", 'o', true, false}, {"data", 0, true, false}};
    const ParsedArgs args = parseArgs(words, specs);
    if (args.helpRequested) return printHelp(kWarpHelp);
    requirePositionals(args, 1, 1, "one IMAGE");
    const std::string imagePath = args.positional[0];
    const auto fromFile = args.value("from");
    const auto toFile = args.value("to");
    if (!fromFile) throw usageError("missing --from FILE (the points of the image)");
    if (!toFile) throw usageError("missing --to FILE (where the points go)");
    const std::string output = requiredImageOutput(args);

    const std::string data = findDataDirectory(args.value("data"));
    std::error_code ec;
    if (!fs::is_regular_file(data + "sqrt.dat", ec))
        throw failure("the data directory '" + data + "' has no sqrt.dat, the warp's square-root table");

    const Image image = loadPhoto(imagePath, true);
    const int w = image.width(), h = image.height();
    if (static_cast<long>(w) * w + static_cast<long>(h) * h > 2097152L)
        throw failure("'" + imagePath + "' is " + std::to_string(w) + " x " + std::to_string(h) +
                      " pixels; the warp takes images with width^2 + height^2 at most 2,097,152 "
                      "(1024 x 1024 for a square)");
    if (w < 2 || h < 2) throw failure("'" + imagePath + "' is too small to warp (2 x 2 pixels at least)");
    const std::vector<PointI> from = readPointsFile(*fromFile, 0);
    const std::vector<PointI> to = readPointsFile(*toFile, 0);
    if (from.size() != to.size())
        throw failure("--from '" + *fromFile + "' holds " + std::to_string(from.size()) + " points, --to '" + *toFile +
                      "' holds " + std::to_string(to.size()) + "; they must match line by line");
    // Points outside the image would index beyond the square-root table (the
    // library computes those roots instead, but such a warp bends nothing
    // visible); the tool refuses them.
    auto inside = [&](const std::vector<PointI> &points, const std::string &file) {
        for (std::size_t k = 0; k < points.size(); ++k)
            if (points[k].x < 0 || points[k].y < 0 || points[k].x >= w || points[k].y >= h)
                throw failure("point " + std::to_string(k + 1) + " of '" + file + "' (" + std::to_string(points[k].x) +
                              ", " + std::to_string(points[k].y) + ") lies outside the " + std::to_string(w) + " x " +
                              std::to_string(h) + " image");
    };
    inside(from, *fromFile);
    inside(to, *toFile);

    // Opaque images are warped in colour, others with their fourth byte.
    const std::vector<uint8_t> rgba = image.pixels(TAVO_IMAGEMODE_COLOR_ALPHA);
    bool opaque = true;
    for (std::size_t k = 3; k < rgba.size() && opaque; k += 4) opaque = rgba[k] == 255;
    const TAVO_IMAGEMODE mode = opaque ? TAVO_IMAGEMODE_COLOR : TAVO_IMAGEMODE_COLOR_ALPHA;

    check(TAVO_InitRBF(data.c_str()), "cannot load the square-root table");
    std::vector<int32_t> src, dst;
    for (std::size_t k = 0; k < from.size(); ++k) {
        src.push_back(from[k].x), src.push_back(from[k].y);
        dst.push_back(to[k].x), dst.push_back(to[k].y);
    }
    Image result;
    check(TAVO_WarpImageRBF(image.handle(), result.handle(), src.data(), dst.data(), static_cast<int32_t>(from.size()),
                            mode),
          "cannot warp '" + imagePath + "'");
    saveImageAtomically(result, output);
    return kExitOk;
}

}  // namespace kelmo::cli
