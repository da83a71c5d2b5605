// What the subcommands do with a model: create it from a photo and its
// points, find its expression class, keep and re-read the record of a created
// model folder, turn and render it, convert and apply morphs and contract
// muscles.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/kelmo/muscle_file.h"
#include "tools/kelmo/points_file.h"
#include "tools/kelmo/session.h"

namespace kelmo::cli {

struct CreateOptions {
    bool noSmile = false;
    bool closedMouth = false;
    bool noMask = false;
    bool genericTeeth = false;  // teeth drawn with the shared teeth images, not the photo
    bool faceOnly = false;      // keep the texture masked to the face (no whole-head skin)
};

// Names of the expression classes 0 to 3 (closed or open mouth, neutral or
// smiling).
const char *expressionName(int expressionClass);

// TAVO_InitModel, TAVO_ChooseTeethTextures and TAVO_CreateModelFromPhotoEx;
// then, unless faceOnly or noMask, the whole-head skin (whole_head.h).
std::unique_ptr<Model> createModel(const Image &photo, const FeaturePoints &points, const CreateOptions &options);

// The expression class that creation chose (read from the points, then
// restricted by the two flags), as the library reports it.
int expressionClassOf(const Model &created);

// The record of a model folder written by `kelmo create` ("model.txt").
struct ModelRecord {
    std::string photoFile;   // relative to the folder
    std::string pointsFile;  // relative to the folder
    CreateOptions options;
    int expressionClass = 0;
};
std::string formatModelRecord(const ModelRecord &record);
// Throws CliError when the folder has no readable, well-formed model.txt.
ModelRecord readModelRecord(const std::string &folder);
bool isModelFolder(const std::string &path);

struct View {
    float yaw = 0.0f, pitch = 0.0f, roll = 0.0f;  // degrees: about y, x and z
    float scale = 1.0f;
    float fov = 1.0f;  // the model's perspective angle (degrees); 1 is the library's default
    int width = 512, height = 512;
};

// Sets the model's transform and renders it (four channels, transparent
// where nothing was drawn).
Image renderView(const Model &model, const View &view);

// Every vertex of every region, for copies of a model's shape.
std::vector<std::vector<TVector3f>> modelVertices(int32_t model);
std::array<TVector3f, 66> featurePoints3D(int32_t model);

// A morph of the generic head (a vertex file) converted to a model created
// from a photo (TAVO_AdjustModelDeformation), ready for
// TAVO_ApplyMorph.
class ConvertedMorph {
public:
    ConvertedMorph(const Model &target, const std::string &vertexFile) : ConvertedMorph(target.handle(), vertexFile) {}
    ConvertedMorph(int32_t target, const std::string &vertexFile);
    int32_t handle() const { return morph_.handle(); }

private:
    Model morph_;
};

// NAME (a file NAME.vtx of the data directory's morphs/ folder) or a path to
// a vertex file. Throws CliError listing the available morphs when unknown.
std::string resolveMorph(const std::string &name, const std::string &dataDirectory);
std::vector<std::string> availableMorphs(const std::string &dataDirectory);

// "NAME=WEIGHT" of --morph.
struct MorphRequest {
    std::string name;
    float weight = 1.0f;
};
MorphRequest parseMorphRequest(const std::string &text);

void applyMuscle(const Model &model, const MuscleDefinition &muscle);

}  // namespace kelmo::cli
