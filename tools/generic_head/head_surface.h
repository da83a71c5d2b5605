// Region 0 of the generic head: the head and face surface, a
// structured quad grid of rows (crown to neck) and columns (around the head)
// closed at the crown by a fan of quads, with three holes: the two eye
// openings and the mouth opening (whose rim is the lip ring of
// "list7.txt").
#pragma once

#include <array>
#include <vector>

#include "tools/generic_head/mesh.h"

namespace kelmo::generic_head {

// What an expression does to the face; every mesh of the generator is made
// from one set of these, so all share one topology.
struct ExpressionParams {
    double jawOpenDegrees = 0.0;  // rotation of the lower jaw about the jaw hinge
    double smile = 0.0;           // 0 neutral, 1 full smile (corners up and back, cheeks raised)
    double blink = 0.0;           // 0 open eyes, 1 closed upper lids
    double browRaise = 0.0;       // 0 rest, 1 brows raised
};

ExpressionParams expressionParams(Expression expression);

// A hole of the grid: the quads of row `row` (between grid rows row and
// row + 1) from column firstColumn to lastColumn - 1 are left out. Its rim is
// the upper edge (row, firstColumn..lastColumn) and the lower edge
// (row + 1, lastColumn..firstColumn): 2 (lastColumn - firstColumn + 1)
// vertices.
struct GridHole {
    int row = 0;
    int firstColumn = 0;
    int lastColumn = 0;
};

// The structure of region 0 before its vertices are renumbered: vertex
// (row, column) has the natural index row * columns + column; the crown
// vertex closing the fan comes last.
struct SurfaceLayout {
    int rows = 0;
    int columns = 0;
    std::vector<double> columnAngles;  // radians; 0 looks toward +z, +pi/2 toward +x
    GridHole mouth;
    std::array<GridHole, 2> eyes;  // [0] the eye at -x (region 1), [1] at +x (region 2)
    int chinRow = 0;               // the row along the lower edge of the chin (menton)

    int vertexIndex(int row, int column) const { return row * columns + column; }
    int crownIndex() const { return rows * columns; }
    int vertexCount() const { return rows * columns + 1; }
    bool isHoleQuad(int row, int column) const;
    // The rim of `hole` in ring order (natural indices): the upper edge from
    // left to right, then the lower edge from right to left.
    std::vector<int> holeRing(const GridHole &hole) const;
};

const SurfaceLayout &surfaceLayout();

// Anatomical anchors in centimetres, in the authoring frame (x toward the
// subject's left, y up, z forward; the frame of
// reference/mean_face_68_3d.txt with y and z flipped).
struct Anatomy {
    std::array<Vec3, 2> eyeCentres;  // eyeball centres, [0] at -x
    double eyeballRadius = 1.2;
};
const Anatomy &anatomy();

// Region 0 in centimetres for one expression, natural vertex order; texture
// coordinates by planar projection of the front (as creation from a photo
// projects them).
RegionMesh buildHeadSurfaceCm(const ExpressionParams &params);

// The outline of the lips on the neutral face (centimetres): the height of
// the upper lip's vermilion border and of the lower lip's lower edge at x.
double upperLipBorderY(double x);
double lowerLipBorderY(double x);

// How far the middle of the upper and of the lower lid margin lie above and
// below the eyeball centre, seen from the front (centimetres, neutral).
double upperLidRise();
double lowerLidDrop();

// The jaw rotation of an expression (the open-mouth meshes): turns a
// point rigidly with the lower jaw by `degrees`; the generator moves the
// lower teeth with it.
Vec3 rotateWithJaw(Vec3 cm, double degrees);

// 0..1: how much a point of the neutral surface (centimetres) belongs to the
// red of the lips; used to tint the pictures.
double lipTint(Vec3 neutralCm);

}  // namespace kelmo::generic_head
