// What the subcommands do with a model (see model_ops.h).
#include "tools/kelmo/model_ops.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tools/kelmo/cli.h"
#include "tools/kelmo/whole_head.h"

namespace kelmo::cli {

namespace fs = std::filesystem;

const char *expressionName(int expressionClass) {
    switch (expressionClass) {
    case 0: return "closed-mouth neutral";
    case 1: return "open-mouth neutral";
    case 2: return "closed-mouth smiling";
    case 3: return "open-mouth smiling";
    default: return "unknown";
    }
}

std::unique_ptr<Model> createModel(const Image &photo, const FeaturePoints &points, const CreateOptions &options) {
    auto model = std::make_unique<Model>(options.noMask);
    // Creation projects the teeth's texture coordinates onto the photo only
    // while the flag is set, so it is chosen before creation.
    if (options.genericTeeth) check(TAVO_ChooseTeethTextures(model->handle(), false), "cannot choose the teeth");
    const std::vector<int32_t> flat = flatten(points);
    float scale = 0.0f;
    check(TAVO_CreateModelFromPhotoEx(model->handle(), photo.handle(), flat.data(), 0, &scale, options.noSmile,
                                      options.closedMouth),
          "cannot create the model from the photo");
    if (!options.faceOnly && !options.noMask) completeModelHead(model->handle());
    return model;
}

std::vector<std::vector<TVector3f>> modelVertices(int32_t model) {
    int32_t regions = 0;
    check(TAVO_GetModelNumRegions(model, &regions), "cannot read the model");
    std::vector<std::vector<TVector3f>> lists(static_cast<std::size_t>(regions));
    for (int32_t r = 0; r < regions; ++r) {
        int32_t n = 0;
        check(TAVO_GetModelNumVertices(model, r, &n), "cannot read the model");
        lists[static_cast<std::size_t>(r)].resize(static_cast<std::size_t>(n));
        if (n > 0) check(TAVO_GetModelRegionVertices(model, r, lists[static_cast<std::size_t>(r)].data()),
                         "cannot read the model");
    }
    return lists;
}

std::array<TVector3f, 66> featurePoints3D(int32_t model) {
    std::array<TVector3f, 66> points{};
    check(TAVO_GetModel3DPoints(model, points.data()), "cannot read the model's feature points");
    return points;
}

int expressionClassOf(const Model &created) {
    int32_t expressionClass = 0;
    check(TAVO_GetModelExpressionClass(created.handle(), &expressionClass), "cannot read the expression class");
    return expressionClass;
}

std::string formatModelRecord(const ModelRecord &record) {
    std::ostringstream out;
    out << "# kelmo model folder, written by `kelmo create`. `kelmo render FOLDER` creates\n"
        << "# the model again from the photo and points below with these options.\n"
        << "photo " << record.photoFile << "\n"
        << "points " << record.pointsFile << "\n"
        << "expression " << record.expressionClass << " " << expressionName(record.expressionClass) << "\n"
        << "no-smile " << (record.options.noSmile ? 1 : 0) << "\n"
        << "closed-mouth " << (record.options.closedMouth ? 1 : 0) << "\n"
        << "mask " << (record.options.noMask ? 0 : 1) << "\n"
        << "teeth " << (record.options.genericTeeth ? "generic" : "photo") << "\n"
        << "face-only " << (record.options.faceOnly ? 1 : 0) << "\n";
    return out.str();
}

bool isModelFolder(const std::string &path) {
    std::error_code ec;
    return fs::is_directory(path, ec) && fs::is_regular_file(fs::path(path) / "model.txt", ec);
}

ModelRecord readModelRecord(const std::string &folder) {
    const std::string path = (fs::path(folder) / "model.txt").string();
    std::ifstream file(path);
    if (!file) throw failure("'" + folder + "' is not a model folder of `kelmo create` (no model.txt)");
    ModelRecord record;
    std::map<std::string, std::string> values;
    std::string line;
    int lineNumber = 0;
    while (std::getline(file, line) && lineNumber < 1000) {
        ++lineNumber;
        if (line.empty() || line[0] == '#') continue;
        const std::size_t space = line.find(' ');
        if (space == std::string::npos) throw failure(path + ":" + std::to_string(lineNumber) + ": expected 'key value'");
        values[line.substr(0, space)] = line.substr(space + 1);
    }
    auto flag = [&](const char *key, bool &out) {
        const auto it = values.find(key);
        if (it == values.end() || (it->second != "0" && it->second != "1"))
            throw failure(path + ": '" + key + "' must be 0 or 1");
        out = it->second == "1";
    };
    auto name = [&](const char *key) {
        const auto it = values.find(key);
        if (it == values.end() || it->second.empty() || it->second.find('/') != std::string::npos)
            throw failure(path + ": '" + key + "' must name a file of the folder");
        return it->second;
    };
    record.photoFile = name("photo");
    record.pointsFile = name("points");
    flag("no-smile", record.options.noSmile);
    flag("closed-mouth", record.options.closedMouth);
    bool mask = true;
    flag("mask", mask);
    record.options.noMask = !mask;
    const auto teeth = values.find("teeth");
    if (teeth == values.end() || (teeth->second != "photo" && teeth->second != "generic"))
        throw failure(path + ": 'teeth' must be photo or generic");
    record.options.genericTeeth = teeth->second == "generic";
    // Folders written before the whole head was the default have no such
    // line; they get the whole head like any new model.
    if (values.count("face-only")) flag("face-only", record.options.faceOnly);
    const auto expression = values.find("expression");
    if (expression != values.end() && !expression->second.empty() && expression->second[0] >= '0' &&
        expression->second[0] <= '3')
        record.expressionClass = expression->second[0] - '0';
    return record;
}

Image renderView(const Model &model, const View &view) {
    const int32_t h = model.handle();
    // Rotation about x (pitch), y (yaw) and z (roll), in degrees.
    check(TAVO_RotateModel(h, view.pitch, view.yaw, view.roll), "cannot turn the model");
    check(TAVO_ScaleModel(h, view.scale, view.scale, view.scale), "cannot scale the model");
    check(TAVO_SetModelPerspective(h, view.fov), "cannot set the perspective");
    check(TAVO_BeginRendering(view.width, view.height), "cannot set the render size");
    Image image;
    check(TAVO_RenderModelToImage(h, image.handle()), "cannot render the model");
    TAVO_EndRendering();
    return image;
}

ConvertedMorph::ConvertedMorph(int32_t target, const std::string &vertexFile) : morph_(true) {
    std::error_code ec;
    if (!fs::is_regular_file(vertexFile, ec)) throw failure("morph file '" + vertexFile + "' does not exist");
    check(TAVO_LoadExpressionToModel(morph_.handle(), vertexFile.c_str()),
          "cannot read the morph file '" + vertexFile + "'");
    check(TAVO_AdjustModelDeformation(target, morph_.handle()),
          "the morph '" + vertexFile + "' does not fit the model");
}

std::vector<std::string> availableMorphs(const std::string &dataDirectory) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(fs::path(dataDirectory) / "morphs", ec))
        if (entry.path().extension() == ".vtx") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string resolveMorph(const std::string &name, const std::string &dataDirectory) {
    std::error_code ec;
    if (name.find('/') != std::string::npos || fs::path(name).extension() == ".vtx") {
        if (!fs::is_regular_file(name, ec)) throw failure("morph file '" + name + "' does not exist");
        return name;
    }
    const fs::path file = fs::path(dataDirectory) / "morphs" / (name + ".vtx");
    if (fs::is_regular_file(file, ec)) return file.string();
    std::string list;
    for (const std::string &n : availableMorphs(dataDirectory)) list += (list.empty() ? "" : ", ") + n;
    throw failure("unknown morph '" + name + "'; the data directory has: " + (list.empty() ? "none" : list));
}

MorphRequest parseMorphRequest(const std::string &text) {
    const std::size_t eq = text.rfind('=');
    MorphRequest request;
    if (eq == std::string::npos || eq == 0)
        throw usageError("--morph expects NAME=WEIGHT (e.g. smile=0.8), not '" + text + "'");
    request.name = text.substr(0, eq);
    request.weight = static_cast<float>(parseNumberInRange(text.substr(eq + 1), "--morph " + request.name, -10, 10));
    return request;
}

void applyMuscle(const Model &model, const MuscleDefinition &muscle) {
    const auto features = featurePoints3D(model.handle());
    const TVector3f a = resolve(muscle.attachment, features), b = resolve(muscle.insertion, features),
                    f = resolve(muscle.bound1, features), g = resolve(muscle.bound2, features);
    const int32_t status = TAVO_LinearMuscleContraction(model.handle(), &a, &b, &f, &g, muscle.extension,
                                                        muscle.strength, muscle.sharpness, nullptr, muscle.regions);
    if (status == TAVO_ERR_GENERAL)
        throw failure("the muscle is degenerate: its bound points or insertion coincide with its attachment");
    check(status, "cannot contract the muscle");
}

}  // namespace kelmo::cli
