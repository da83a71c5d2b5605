// kelmo demo: the main job on one photo, every step timed and pictured, into
// a folder with an index.html and one contact sheet.
#include <cstdio>
#include <filesystem>
#include <functional>

#include "tools/kelmo/atomic_file.h"
#include "tools/kelmo/canvas.h"
#include "tools/kelmo/commands.h"
#include "tools/kelmo/drawing.h"
#include "tools/kelmo/html_report.h"
#include "tools/kelmo/muscle_file.h"

namespace kelmo::cli {

namespace fs = std::filesystem;

namespace {

const char *kHelp =
    "usage: kelmo demo [PHOTO] [-o DIR] [--points FILE] [--tile N] [--face N] [--model FILE]\n"
    "                  [--data DIR]\n"
    "\n"
    "Runs the main job on PHOTO, or on the sample photo (the public-domain NASA portrait\n"
    "of astronaut Eileen Collins that scripts/install-deps.sh fetches into\n"
    "build/sample/astronaut.png): finds the landmarks, cuts the face frame, creates the\n"
    "model and exports it as OBJ, renders the front view, a turntable, a smile and a\n"
    "jaw-open sequence through the generic head's morphs and a muscle pull, and writes\n"
    "every picture, the model, a contact sheet and an index.html that shows them all into\n"
    "DIR. Prints each step with its time.\n"
    "\n"
    "  -o, --output DIR   the demo folder (default out/demo; files in it are replaced)\n"
    "  --points FILE      the photo's 66 points instead of finding them with dlib\n"
    "  --tile N           side of the sequence pictures in pixels, 64 to 1024 (default 256;\n"
    "                     the front view is twice as large)\n"
    "  --face N, --model FILE, --data DIR   as for `kelmo create`\n";

// The muscle of the demo, written beside the pictures so that it can be
// reused with `kelmo render --muscle`. Offsets are in model units; the
// generic head is about 4.5 units wide and its eye centres 1.85 apart.
const char *kZygomaticMuscle =
    "# Zygomatic major of the subject's right side (the left of the picture): from\n"
    "# the cheekbone to the mouth corner; contracting it pulls the corner up and out.\n"
    "# Points are feature points of the model (docs/landmarks.md) plus offsets in\n"
    "# model units. Use it with: kelmo render PHOTO|DIR --muscle THIS_FILE -o OUT.png\n"
    "attachment feature 36  -0.35 -0.5 -0.2   # below the outer corner of the right eye\n"
    "insertion  feature 3                     # the right mouth corner\n"
    "bound1     feature 3   -0.45 0 0         # F and G set the cone's width around A-B\n"
    "bound2     feature 3    0.3 0.25 0\n"
    "extension  0.4\n"
    "strength   0.45\n"
    "sharpness  1\n"
    "regions    3\n";

const Rgba kSheetBackground{36, 40, 48, 255};
const Rgba kTileBackground{112, 118, 128, 255};
const Rgba kLabel{235, 235, 235, 255};

Canvas onTile(const Canvas &picture, int width, int height) {
    Canvas tile(width, height, kTileBackground);
    const Canvas fitted = picture.fitted(width, height, 8.0);
    tile.draw(fitted, (width - fitted.width()) / 2, (height - fitted.height()) / 2, true);
    return tile;
}

struct SheetRow {
    std::string label;
    std::vector<Canvas> tiles;
};

Canvas contactSheet(const std::vector<SheetRow> &rows, int tile, const std::string &title) {
    const int gap = std::max(4, tile / 16), textScale = std::max(1, tile / 128);
    const int labelHeight = Canvas::textHeight(textScale) + gap;
    std::size_t columns = 0;
    for (const SheetRow &r : rows) columns = std::max(columns, r.tiles.size());
    const int width = static_cast<int>(columns) * (tile + gap) + gap;
    const int height = gap + labelHeight + static_cast<int>(rows.size()) * (labelHeight + tile + gap);
    Canvas sheet(width, height, kSheetBackground);
    sheet.drawText(gap, gap, title, kLabel, textScale);
    int y = gap + labelHeight;
    for (const SheetRow &r : rows) {
        sheet.drawText(gap, y, r.label, kLabel, textScale);
        y += labelHeight;
        int x = gap;
        for (const Canvas &t : r.tiles) {
            sheet.draw(onTile(t, tile, tile), x, y, false);
            x += tile + gap;
        }
        y += tile + gap;
    }
    return sheet;
}

}  // namespace

int commandDemo(const Args &words) {
    std::vector<OptionSpec> specs = kLandmarkOptionSpecs;
    for (const char *name : {"points", "data", "tile"}) specs.push_back({name, 0, true, false});
    specs.push_back({"output", 'o', true, false});
    const ParsedArgs args = parseArgs(words, specs);
    if (args.helpRequested) return printHelp(kHelp);
    requirePositionals(args, 0, 1, "at most one PHOTO");
    const std::string folder = args.value("output").value_or("out/demo");
    if (folder.empty()) throw usageError("-o needs a folder name");
    int tile = 256;
    if (auto v = args.value("tile")) tile = static_cast<int>(parseInteger(*v, "--tile", 64, 1024));
    const LandmarkOptions landmarkOpts = landmarkOptions(args, true);
    std::string photoPath;
    if (!args.positional.empty()) {
        photoPath = args.positional[0];
    } else {
        photoPath = findSamplePhoto();
        if (photoPath.empty())
            throw failure("no sample photo found: run `bash scripts/install-deps.sh` (it fetches "
                          "build/sample/astronaut.png), or give a PHOTO");
    }

    const double start = secondsNow();
    DemoReport report;
    report.photoName = fs::path(photoPath).filename().string();
    const int stepCount = 12;
    auto step = [&](const std::string &name, const std::function<std::string()> &work) {
        const double t0 = secondsNow();
        const std::string detail = work();
        const double seconds = secondsNow() - t0;
        report.steps.push_back({name, seconds, detail});
        std::printf("kelmo demo: [%2zu/%d] %-16s %6.2f s  %s\n", report.steps.size(), stepCount, name.c_str(),
                    seconds, detail.c_str());
        std::fflush(stdout);
    };
    auto path = [&](const std::string &name) { return (fs::path(folder) / name).string(); };

    std::optional<LibrarySession> library;
    std::optional<Image> photo;
    FeaturePoints points{};
    std::unique_ptr<Model> model;
    OutputSet out;
    Canvas photoCanvas, landmarkCanvas, frameCanvas, textureCanvas, frontCanvas, muscleCanvas;
    std::vector<Canvas> turntable, smile, jaw, muscle;
    const CreateOptions createOpts;

    step("initialise", [&] {
        library.emplace(findDataDirectory(args.value("data")));
        return "data directory " + library->dataDirectory();
    });
    step("photo", [&] {
        photo.emplace(loadPhoto(photoPath));
        photoCanvas = Canvas::fromImage(*photo);
        out.saveImage(*photo, path("photo.png"));
        return photoPath + ", " + std::to_string(photo->width()) + " x " + std::to_string(photo->height());
    });
    step("landmarks", [&] {
        LandmarkSource source(landmarkOpts);
        points = source.pointsFor(*photo, photoPath);
        landmarkCanvas =
            drawLandmarks(photoCanvas, points, boxAround(points, 0.5, photo->width(), photo->height()));
        out.writeText(path("points.txt"), formatPoints(points));
        out.saveImage(landmarkCanvas.toImage(), path("landmarks.png"));
        return landmarkOpts.pointsFile ? "66 points from " + *landmarkOpts.pointsFile
                                       : "66 points (dlib, " + std::to_string(source.facesFoundLast()) +
                                             (source.facesFoundLast() == 1 ? " face)" : " faces)");
    });
    step("face frame", [&] {
        const std::vector<int32_t> flat = flatten(points);
        std::vector<int32_t> framePoints(flat.size());
        ImageHandle h = -1;
        check(TAVO_ExtractFaceFrame(photo->handle(), flat.data(), &h, framePoints.data(), 256, 256),
              "cannot cut the face frame");
        const Image frame(h);
        frameCanvas = Canvas::fromImage(frame);
        out.saveImage(frame, path("frame.png"));
        return std::string("256 x 256, upright");
    });
    CreatedModelFolder made;
    step("model", [&] {
        model = createModel(*photo, points, createOpts);
        made = stageModelFolder(*model, photoPath, points, createOpts, path("model"), out);
        Image texture;
        check(TAVO_GetModelTexture(model->handle(), texture.handle()), "cannot read the texture");
        textureCanvas = Canvas::fromImage(texture);
        return std::string(expressionName(made.expressionClass)) + "; OBJ " + std::to_string(made.vertices) +
               " vertices, " + std::to_string(made.faces) + " faces";
    });
    View front;
    front.width = front.height = 2 * tile;
    step("front render", [&] {
        const Image image = renderView(*model, front);
        frontCanvas = Canvas::fromImage(image);
        out.saveImage(image, path("front.png"));
        return std::to_string(front.width) + " x " + std::to_string(front.height);
    });
    View small;
    small.width = small.height = tile;
    step("turntable", [&] {
        for (int k = 0; k < 7; ++k) {
            View v = small;
            v.yaw = static_cast<float>(-45 + 15 * k);
            turntable.push_back(Canvas::fromImage(renderView(*model, v)));
        }
        out.saveImage(horizontalStrip(turntable).toImage(), path("turntable.png"));
        return std::string("7 views, yaw -45 to +45 degrees");
    });
    const std::vector<std::vector<TVector3f>> restShape = modelVertices(model->handle());
    auto restore = [&] {
        std::vector<std::vector<TVector3f>> copy = restShape;
        check(TAVO_SetModelVertices(model->handle(), copy), "cannot restore the model");
    };
    auto morphSequence = [&](const std::string &morphName, std::vector<Canvas> &frames, const std::string &file) {
        const ConvertedMorph morph(*model, resolveMorph(morphName, library->dataDirectory()));
        for (int k = 0; k <= 4; ++k) {
            restore();
            check(TAVO_ApplyMorph(model->handle(), morph.handle(), 0.25f * static_cast<float>(k)),
                  "cannot apply the morph " + morphName);
            frames.push_back(Canvas::fromImage(renderView(*model, small)));
        }
        restore();
        out.saveImage(horizontalStrip(frames).toImage(), path(file));
        return "morph " + morphName + " at weights 0, 0.25, 0.5, 0.75, 1";
    };
    step("smile", [&] { return morphSequence("smile", smile, "smile.png"); });
    step("jaw open", [&] { return morphSequence("jaw_open", jaw, "jaw_open.png"); });
    step("muscle", [&] {
        const MuscleDefinition full = parseMuscle(kZygomaticMuscle, "zygomatic_right.muscle");
        for (float fraction : {0.0f, 0.5f, 1.0f}) {
            restore();
            MuscleDefinition m = full;
            m.strength = full.strength * fraction;
            if (fraction > 0.0f) applyMuscle(*model, m);
            muscle.push_back(Canvas::fromImage(renderView(*model, small)));
        }
        restore();
        muscleCanvas = muscle.back();
        out.writeText(path("zygomatic_right.muscle"), kZygomaticMuscle);
        out.saveImage(horizontalStrip(muscle).toImage(), path("muscle.png"));
        return std::string("right zygomatic major at strength 0, 0.225, 0.45");
    });
    step("contact sheet", [&] {
        const std::vector<SheetRow> rows = {
            {"PHOTO, LANDMARKS, FACE FRAME, TEXTURE, FRONT VIEW, MUSCLE PULL",
             {photoCanvas, landmarkCanvas, frameCanvas, textureCanvas, frontCanvas, muscleCanvas}},
            {"TURNTABLE: YAW -45 TO +45", turntable},
            {"SMILE MORPH: WEIGHT 0 TO 1", smile},
            {"JAW-OPEN MORPH: WEIGHT 0 TO 1", jaw},
        };
        const Canvas sheet = contactSheet(rows, tile, "KELMO DEMO: " + report.photoName);
        out.saveImage(sheet.toImage(), path("contact_sheet.png"));
        return std::to_string(sheet.width()) + " x " + std::to_string(sheet.height());
    });

    report.pictures = {
        {"contact_sheet.png", "Contact sheet", "Every picture of this run on one sheet."},
        {"photo.png", "Photo", "The input photo."},
        {"landmarks.png", "Landmarks",
         "The 66 feature points (docs/landmarks.md), found with dlib's face detector and 68-point shape "
         "predictor: green points drive the fit, orange outline points only align it, blue ones lie on the eyes."},
        {"frame.png", "Face frame", "The upright 256 x 256 face frame (TAVO_ExtractFaceFrame)."},
        {"model/texture.png", "Texture", "The model's texture: the face frame with the alpha mask."},
        {"front.png", "Front view", "The model rendered from the front (TAVO_RenderModelToImage)."},
        {"turntable.png", "Turntable", "Seven views turning from -45 to +45 degrees of yaw."},
        {"smile.png", "Smile", "The generic head's smile morph converted to this head and applied at weights 0 to 1."},
        {"jaw_open.png", "Jaw open", "The jaw-open morph at weights 0 to 1."},
        {"muscle.png", "Muscle pull",
         "The right zygomatic major (zygomatic_right.muscle) contracted at strength 0, 0.225 and 0.45 "
         "(TAVO_LinearMuscleContraction)."},
    };
    report.modelFiles = {"model/model.obj", "model/model.mtl", "model/texture.png", "model/mouth.png",
                         "model/points.txt", "model/model.txt", "zygomatic_right.muscle", "points.txt"};
    report.totalSeconds = secondsNow() - start;
    step("index.html", [&] {
        out.writeText(path("index.html"), renderReport(report));
        out.commit();
        return std::to_string(report.pictures.size()) + " pictures";
    });
    std::printf("kelmo demo: done in %.2f s; open %s\n", secondsNow() - start, path("index.html").c_str());
    return kExitOk;
}

}  // namespace kelmo::cli
