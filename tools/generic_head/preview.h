// A plain preview renderer of the generator (not the library's renderer of
// Part 4.2): z-buffered, smooth-shaded triangles with per-vertex colours,
// perspective camera, 2x2 supersampling. It reproduces the one trick of the
// library's renderer that matters for the look of the mouth: the mouth cavity
// (Part 3.4, BuildMouthCap) hides everything behind the lip ring, and where it
// is the nearest surface the mouth interior (sock and teeth) shows instead.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kelmo.h"
#include "tools/generic_head/images.h"
#include "tools/generic_head/mesh.h"

namespace kelmo::generic_head {

struct RGB {
    double r = 0.0, g = 0.0, b = 0.0;
};

// A triangle soup with per-vertex positions (model units) and colours.
struct PreviewMesh {
    std::vector<Vec3> positions;
    std::vector<RGB> colours;
    std::vector<Quad> quads;      // a repeated corner makes a triangle
    bool shaded = true;           // Lambert shading; false: flat colour (mouth interior)
    // Optional: a colour computed per pixel from the surface point (model
    // units), replacing the vertex colours (the iris of an eyeball).
    std::function<RGB(Vec3)> colourAt;
    // Optional: a texture with one coordinate per vertex, blended by its
    // alpha over what is already drawn (the teeth images).
    const RgbaImage *texture = nullptr;
    std::vector<TexCoord> texCoords;
};

struct PreviewView {
    double yawDegrees = 0.0;      // turns the head: positive shows its left (+x) side
    double pitchDegrees = 0.0;
    int size = 320;               // output width and height in pixels
    double distance = 40.0;       // camera distance (model units); the library's is 400
};

// Where a model point lands in the picture of `view` (pixels, y down).
TPointf projectPreview(const PreviewView &view, Vec3 p);

// An RGB picture, rows top first.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

// Renders the face (`face` meshes), the cavity that cuts the mouth opening
// (`cavity`) and, through it, the interior (`interior`).
Picture renderPreview(const std::vector<PreviewMesh> &face, const PreviewMesh &cavity,
                      const std::vector<PreviewMesh> &interior, const PreviewView &view);

// Draws a filled disc and, when `label` is not negative, its number beside
// it (a small built-in digit font) into the picture.
void drawMarker(Picture &picture, TPointf at, RGB colour, int label);

// Places pictures side by side (same height) into one.
Picture besideEachOther(const std::vector<Picture> &pictures);

// Writes a picture as PNG through tavoimage; returns 0 or its status.
int32_t savePicture(const Picture &picture, const std::string &path);

}  // namespace kelmo::generic_head
