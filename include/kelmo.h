/*
 * Kelmo: a textured 3D head from one frontal face photo.
 *
 * The flat TAVO_ interface of libkelmo.  A host initialises the library with
 * a data directory (TAVO_InitKelmo), creates a model from a photo and its 66
 * feature points, then turns, deforms and renders it.
 *
 * Every function returns a signed 32-bit status: 0 for success, a negative
 * TAVO_ERR_* code otherwise; a failing call changes nothing.  Models are
 * addressed by small integer handles into the library's model table (the
 * lowest free slot is reused); images by the handles of the imaging library
 * tavoimage (tavoimage.h), whose statuses some functions pass through
 * unchanged.
 *
 * The library is not thread-safe: the host makes one call at a time.
 * Coordinates: model units for vertices (y up, the face looks toward +z);
 * pixels for images (origin at the top-left pixel, y down); texture
 * coordinates u, v from 0 to 1 with v growing upwards.  Angles are in degrees
 * unless a function says otherwise.
 */
#ifndef KELMO_H
#define KELMO_H

#include <stdbool.h>
#include <stdint.h>

#include "tavoimage.h"

/* KELMO_STATIC: the program links the library's objects themselves (its
 * tests and tools do), not kelmo.dll. */
#if defined(_WIN32)
#  if defined(KELMO_BUILDING)
#    define KELMO_API __declspec(dllexport)
#  elif defined(KELMO_STATIC)
#    define KELMO_API
#  else
#    define KELMO_API __declspec(dllimport)
#  endif
#else
#  define KELMO_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes that the library itself produces. */
enum {
    TAVO_OK = 0,
    TAVO_ERR_GENERAL = -1,        /* null output pointer, region index outside the model, other failures */
    TAVO_ERR_NO_TEXTURE = -2,     /* the region exists but has no texture */
    TAVO_ERR_INVALID_HANDLE = -4, /* model handle negative, beyond the table or of a freed model */
    TAVO_ERR_ALPHA_GRID = -10,    /* the alpha grid file cannot be opened */
    TAVO_ERR_LIST7 = -13          /* "list7.txt" cannot be opened during initialisation */
};

/* A point or vector in model space: three 32-bit floats. */
typedef struct TVector3f {
    float x, y, z;
} TVector3f;

/* A point in a plane (texture coordinates, image points): two 32-bit floats. */
typedef struct TPointf {
    float x, y;
} TPointf;

/* ---- Model life cycle ---------------------------------------------------- */

/* Creates an empty model in the lowest free slot of the model table.  The
 * model starts with no regions, an empty texture image, the shared teeth and
 * sock image handles, teethFromModelTexture 1 and maskUsage 1 when
 * disableMask is 0 (0 for any other value).
 * handle: receives the new model's handle; must not be null.
 * Returns 0, TAVO_ERR_GENERAL (handle null, or out of memory; nothing is
 * created and *handle is not written). */
KELMO_API int32_t TAVO_InitModel(int32_t *handle, int32_t disableMask);

/* Copies the model `source` into the existing model `destination`: regions,
 * face grid, rotation, scale, teeth flag, mask flag, deformation matrix,
 * feature points and vertices, extra region, and the texture's pixels.  The
 * destination keeps its perspective, expression class, interpolator, control
 * points and shared image handles.  source == destination changes nothing.
 * Returns 0, TAVO_ERR_INVALID_HANDLE (either handle invalid),
 * TAVO_ERR_GENERAL (out of memory); on failure the destination is unchanged. */
KELMO_API int32_t TAVO_CopyModel(int32_t source, int32_t destination);

/* Destroys a model with its texture and empties its slot; the handle is
 * handed out again by a later TAVO_InitModel.
 * Returns 0, TAVO_ERR_INVALID_HANDLE. */
KELMO_API int32_t TAVO_FreeModel(int32_t handle);

/* Sets whether creation from a photo applies the alpha mask to the texture.
 * Returns 0, TAVO_ERR_INVALID_HANDLE. */
KELMO_API int32_t TAVO_SetModelMaskUsage(int32_t handle, bool value);

/* ---- Accessors --------------------------------------------------------------
 * Checks run in this order: a null pointer or a negative region gives
 * TAVO_ERR_GENERAL; an invalid handle TAVO_ERR_INVALID_HANDLE; a region not
 * below the model's region count TAVO_ERR_GENERAL. */

/* Stores the model's number of regions.  count: must not be null.
 * Returns 0, TAVO_ERR_GENERAL, TAVO_ERR_INVALID_HANDLE. */
KELMO_API int32_t TAVO_GetModelNumRegions(int32_t handle, int32_t *count);

/* Stores the number of vertices of a region.  count: must not be null.
 * Returns 0, TAVO_ERR_GENERAL, TAVO_ERR_INVALID_HANDLE. */
KELMO_API int32_t TAVO_GetModelNumVertices(int32_t handle, int32_t region, int32_t *count);

/* Writes every vertex of a region, in order, in model units.
 * vertices: room for TAVO_GetModelNumVertices entries; must not be null.
 * Returns 0, TAVO_ERR_GENERAL, TAVO_ERR_INVALID_HANDLE. */
KELMO_API int32_t TAVO_GetModelRegionVertices(int32_t handle, int32_t region, TVector3f *vertices);

/* Overwrites every vertex of a region, in order; the count does not change.
 * vertices: TAVO_GetModelNumVertices entries; must not be null.
 * Returns 0, TAVO_ERR_GENERAL, TAVO_ERR_INVALID_HANDLE. */
KELMO_API int32_t TAVO_SetModelRegionVertices(int32_t handle, int32_t region, const TVector3f *vertices);

/* Stores the number of quads of a region.  count: must not be null.
 * Returns 0, TAVO_ERR_GENERAL, TAVO_ERR_INVALID_HANDLE. */
KELMO_API int32_t TAVO_GetModelRegionNumQuads(int32_t handle, int32_t region, int32_t *count);

/* Writes every quad of a region as four vertex indices, in order.
 * quads: room for 4 * TAVO_GetModelRegionNumQuads integers; must not be null.
 * Returns 0, TAVO_ERR_GENERAL, TAVO_ERR_INVALID_HANDLE. */
KELMO_API int32_t TAVO_GetModelRegionQuads(int32_t handle, int32_t region, int32_t *quads);

/* Writes the model's 66 feature points on the mesh, in model units.
 * points: room for 66 entries; must not be null.
 * Returns 0, TAVO_ERR_GENERAL, TAVO_ERR_INVALID_HANDLE. */
KELMO_API int32_t TAVO_GetModel3DPoints(int32_t handle, TVector3f *points);

/* ---- Library state and initialisation ------------------------------------ */

/* Builds the process-wide state from a data directory: the alpha mask and its
 * grid, the teeth and sock images, the landmark and list7 tables, the four
 * expression meshes and the square-root table of the image warp.  File names
 * are appended to `directory` with no separator, so it ends with one ("data/").
 * A second call without TAVO_FinalizeKelmo first releases the shared state of
 * the first.
 * directory: zero-terminated path, at most 1023 characters; must not be null.
 * Returns 0; TAVO_ERR_ALPHA_GRID ("alpha.grd" cannot be opened);
 * TAVO_ERR_GENERAL ("grd66.txt" cannot be opened or is malformed, directory
 * null or too long); TAVO_ERR_LIST7 ("list7.txt" cannot be opened or is
 * malformed); or the imaging library's status of a failed image load. A
 * missing ".face" file does not fail it. */
KELMO_API int32_t TAVO_InitKelmo(const char *directory);

/* Destroys every model and the four expression meshes; the table of models
 * becomes empty and the next model gets handle 0.  Shared images and tables
 * stay loaded.  Safe to call twice.  Returns 0. */
KELMO_API int32_t TAVO_FinalizeKelmo(void);

/* ---- Model from a photo -------------------------------------------------- */

/* Fits the generic head to a frontal photo and makes the model that head:
 * a 256 x 256 upright face frame cut from the photo becomes the model's
 * texture (with the alpha mask in its fourth byte when the model's mask flag
 * is set); the expression (mouth open or closed, smiling or neutral) is read
 * from the points and the matching expression mesh is copied in; its feature
 * vertices are aligned with the photo's points, the head is deformed to
 * follow them, the teeth are placed, the sock region and the mouth cavity are
 * rebuilt and texture coordinates are projected.  Afterwards the model has
 * nine regions (region 6 keeps what it held) and 56 control points.  The photo
 * and the points are only read (only the face frame's pixels of the photo are
 * sampled).
 * photo: a valid, non-empty image.
 * points: integer pairs (x then y, photo pixels), 66 pairs, or 62 when
 * pointSet is 1, 40 when it is 2; must not be null.  With 62 or 40 pairs the
 * missing points are supplied from the generic head, fitted to the given
 * ones by a uniform scale and translation.
 * scale: when not null, receives the model units per photo pixel, the feature
 * points 0 and 1's model x distance over their photo x distance (an infinity
 * or NaN when they share their x).
 * noSmile: never take a smiling mesh.  closedMouth: never take an open-mouth
 * mesh (both together: always the closed neutral mesh).
 * Returns 0; TAVO_ERR_INVALID_HANDLE; TAVO_ERR_GENERAL (points null, library
 * not initialised, an expression mesh or table lacking a vertex that the
 * fitting reads, photo invalid or empty, a face frame the imaging library
 * cannot make, out of memory); on failure the model is unchanged and *scale
 * is not written. */
KELMO_API int32_t TAVO_CreateModelFromPhotoEx(int32_t handle, ImageHandle photo, const int32_t *points,
                                              int32_t pointSet, float *scale, bool noSmile, bool closedMouth);

/* TAVO_CreateModelFromPhotoEx with noSmile and closedMouth false. */
KELMO_API int32_t TAVO_CreateModelFromPhoto(int32_t handle, ImageHandle photo, const int32_t *points,
                                            int32_t pointSet, float *scale);

/* ---- Face frame extraction ----------------------------------------------- */

/* Cuts an upright face frame of width x height pixels out of a photo: the line
 * through feature points 0 and 1 becomes horizontal, a square box around the
 * points (enlarged around the face) is cropped, borders repeated where it
 * leaves the photo, and scaled.  The photo is only read, and only where the
 * frame samples it: the cost follows the face's size, not the photo's.
 * photo: a valid image.  points: 66 integer pairs (x then y, photo pixels);
 * must not be null.  frame: receives a new image that the caller frees with
 * TAVO_FreeImage; must not be null.  framePoints: receives the 66 points in
 * frame pixels, truncated toward zero; must not be null.  width, height: 1 to
 * TAVOIMG_MAX_SIDE, width * height at most TAVOIMG_MAX_PIXELS.
 * Returns 0, TAVO_ERR_GENERAL (null pointer, invalid or empty photo, invalid
 * size, or a frame that the imaging library cannot make at that size, e.g. an
 * aspect so extreme that the widened crop exceeds its limits; nothing is
 * created or written and the photo is left as it was). */
KELMO_API int32_t TAVO_ExtractFaceFrame(ImageHandle photo, const int32_t *points, ImageHandle *frame,
                                        int32_t *framePoints, int32_t width, int32_t height);

/* ---- Camera, projection, rendering, textures ------------------------------ *
 * The transform of a model (rotation, scale, deformation matrix, perspective
 * angle) is applied only when it is rendered or projected; the vertices never
 * change.  Angles are in degrees. */

/* Sets the global perspective angle (vertical field of view, degrees) that
 * TAVO_ProjectModelVertices and TAVO_GetModel2DProjection use, and its camera
 * distance 400 / angle.  Any value is stored; projecting with an angle of 0
 * or below (or NaN) then fails.  Returns 0. */
KELMO_API int32_t TAVO_SetPerspective(float angle);

/* Sets the model's own perspective angle, used when it is rendered (values
 * below 0.001 render as 0.001).
 * Returns 0, TAVO_ERR_INVALID_HANDLE. */
KELMO_API int32_t TAVO_SetModelPerspective(int32_t handle, float angle);

/* Sets the model's rotation angles about x, y and z, replacing earlier ones:
 * a vertex is rotated about x, then y, then z (fixed axes).
 * Returns 0, TAVO_ERR_INVALID_HANDLE. */
KELMO_API int32_t TAVO_RotateModel(int32_t handle, float x, float y, float z);

/* Sets the model's scale factors along x, y and z, replacing earlier ones.
 * Returns 0, TAVO_ERR_INVALID_HANDLE. */
KELMO_API int32_t TAVO_ScaleModel(int32_t handle, float x, float y, float z);

/* Sets element `index` (0 to 15, column by column: row index % 4, column
 * index / 4) of the model's 4x4 deformation matrix; elements 12 to 14 are a
 * translation.
 * Returns 0, TAVO_ERR_INVALID_HANDLE, TAVO_ERR_GENERAL (index outside 0 to 15;
 * nothing is written). */
KELMO_API int32_t TAVO_SetDeformationMatrixElement(int32_t handle, int32_t index, float value);

/* Chooses the teeth textures of rendering: true, the model's own texture;
 * false, the shared teeth images, blended by their alpha.
 * Returns 0, TAVO_ERR_INVALID_HANDLE. */
KELMO_API int32_t TAVO_ChooseTeethTextures(int32_t handle, bool flag);

/* Sets the render size (pixels) that rendering and projection address.  Any
 * values are stored; a size without area (or negative) renders an empty
 * image.  Returns 0. */
KELMO_API int32_t TAVO_BeginRendering(int32_t width, int32_t height);

/* Does nothing; the render size stays.  Returns 0. */
KELMO_API int32_t TAVO_EndRendering(void);

/* Projects every vertex of a region with the model's transform and the global
 * perspective angle onto the render size, as image pixels (origin top-left, y
 * down), truncated toward zero.  A vertex at eye depth 0 (no projection)
 * gives (0, render height).
 * points: room for 2 x TAVO_GetModelNumVertices integers (x then y); must not
 * be null.
 * Returns 0; TAVO_ERR_GENERAL (points null, region outside the model, global
 * angle 0 or below; nothing written); TAVO_ERR_INVALID_HANDLE. */
KELMO_API int32_t TAVO_ProjectModelVertices(int32_t handle, int32_t region, int32_t *points);

/* Projects the model's 66 feature points as TAVO_ProjectModelVertices does
 * (each from its vertex in region 0, 1, 2 or the model's extra region) and
 * writes them relative to the centre of the render size: x - trunc(width / 2),
 * y - trunc(height / 2).
 * points: room for 132 integers; must not be null.
 * Returns 0; TAVO_ERR_GENERAL (points null, global angle 0 or below, or a
 * feature point whose region or vertex the model lacks; nothing written);
 * TAVO_ERR_INVALID_HANDLE. */
KELMO_API int32_t TAVO_GetModel2DProjection(int32_t handle, int32_t *points);

/* Renders the textured model at the render size and makes `image` the result
 * (four channels, top row first; empty when the render size has no area):
 * the face (regions 0 to 2) through the hole of the mouth cavity (region 7,
 * rebuilt from the lip vertices first: this changes the model), and the
 * mouth's inside (sock region 5, teeth 3 and 4) wherever the face left
 * black pixels.
 * image: an existing image, the caller's.
 * Returns 0; TAVO_ERR_INVALID_HANDLE; TAVO_ERR_GENERAL (image invalid, render
 * size beyond the imaging library's limits, out of memory; nothing changes). */
KELMO_API int32_t TAVO_RenderModelToImage(int32_t handle, ImageHandle image);

/* Makes the model's texture a copy of `image` (the caller keeps `image`).
 * image: a valid image.
 * Returns 0, TAVO_ERR_INVALID_HANDLE, or the imaging library's status when
 * the copy fails (image invalid, out of memory; the texture is unchanged). */
KELMO_API int32_t TAVO_SetModelTexture(int32_t handle, ImageHandle image);

/* Makes the existing image `image` a copy of the model's texture.
 * image: a valid image, the caller's.
 * Returns 0, TAVO_ERR_INVALID_HANDLE, or the imaging library's status when
 * the copy fails (image invalid, out of memory; the image is unchanged). */
KELMO_API int32_t TAVO_GetModelTexture(int32_t handle, ImageHandle image);

/* Makes the existing image `image` a copy of the texture that rendering uses
 * for a region: the model's texture for 0 to 2; for 3 and 4 the model's
 * texture or the shared upper- and lower-teeth images (see
 * TAVO_ChooseTeethTextures); the shared sock image for 5.
 * Returns 0; TAVO_ERR_INVALID_HANDLE; TAVO_ERR_GENERAL (region outside the
 * model); TAVO_ERR_NO_TEXTURE (region 6 and above; the image is unchanged);
 * or the imaging library's status of the copy. */
KELMO_API int32_t TAVO_GetModelRegionTexture(int32_t handle, int32_t region, ImageHandle image);

/* Writes one texture coordinate (u, v) per vertex of a region, in vertex
 * order: the coordinate of the last quad that names the vertex, (0, 0) for a
 * vertex that no quad names.
 * coordinates: room for 2 x TAVO_GetModelNumVertices floats; must not be null.
 * Returns 0, TAVO_ERR_INVALID_HANDLE, TAVO_ERR_GENERAL (coordinates null or
 * region outside the model; nothing written). */
KELMO_API int32_t TAVO_GetModelRegionTextureCoords(int32_t handle, int32_t region, float *coordinates);

/* Writes the model's 66 face-grid points (texture pixels) as integer pairs,
 * truncated toward zero.
 * points: room for 132 integers; must not be null.
 * Returns 0, TAVO_ERR_INVALID_HANDLE, TAVO_ERR_GENERAL (points null). */
KELMO_API int32_t TAVO_GetModelGrid(int32_t handle, int32_t *points);

/* ---- Alpha channel ------------------------------------------------------- */

/* Loads an alpha mask image and its landmark grid (".grd": a count N, then N
 * pairs of reals x y) and reduces the mask to a 256 x 256 grey face frame
 * (TAVO_AdjustAlphaChannelImage); the grid receives the landmarks in the frame.
 * image: receives the mask's handle; must not be null.  grid: 2 x 66 integers,
 * x then y; must not be null.  imagePath, gridPath: must not be null.
 * Returns 0; the imaging library's status when the image cannot be loaded
 * (nothing else is done); TAVO_ERR_ALPHA_GRID when the grid file cannot be
 * opened (the image stays loaded); TAVO_ERR_GENERAL when the grid file holds a
 * count below 2 or above 66 or ends early (the image stays loaded as read, the
 * grid is unchanged). */
KELMO_API int32_t TAVO_LoadAlphaChannelImage(ImageHandle *image, int32_t *grid, const char *imagePath,
                                             const char *gridPath);

/* Replaces an image by its own alpha channel as a grey image, cut to a
 * 256 x 256 face frame around `count` landmarks (as TAVO_ExtractFaceFrame
 * cuts one around feature points 0 and 1), and writes the
 * landmarks' frame positions, truncated toward zero.
 * image: a valid image (in and out).  points: `count` points; must not be null.
 * count: 2 to 66.  framePoints: room for 2 x count integers; must not be null.
 * Returns 0, TAVO_ERR_GENERAL (null pointer, count out of range, invalid image;
 * nothing is changed). */
KELMO_API int32_t TAVO_AdjustAlphaChannelImage(ImageHandle image, const TPointf *points, int32_t count,
                                               int32_t *framePoints);

/* Writes a mask into the fourth byte of a texture's pixels: the alpha mask
 * image is warped (TAVO_WarpImageRBF, grey) so that its 66 points land on the
 * texture's 66 points; colour bytes stay.  Where the texture is larger than
 * the mask, pixels beyond the mask get alpha 0.
 * texture: a valid image (in and out).  texturePoints, alphaPoints: 2 x 66
 * integers each; must not be null.  alphaMask: a valid image.
 * Returns 0, TAVO_ERR_GENERAL (null pointer or invalid image; nothing changes). */
KELMO_API int32_t TAVO_SetTextureAlphaChannel(ImageHandle texture, const int32_t *texturePoints,
                                              ImageHandle alphaMask, const int32_t *alphaPoints);

/* Places `source` with its top-left corner at (x, y) of a width x height canvas
 * that is 0 in all four bytes elsewhere, and makes `destination` that canvas
 * (four channels).  Parts of the source outside the canvas are cut off.
 * source, destination: valid images (may be the same).  width, height: 0 to
 * TAVOIMG_MAX_SIDE.
 * Returns 0, TAVO_ERR_GENERAL (invalid image or size; nothing changes). */
KELMO_API int32_t TAVO_ExtendModelImage(ImageHandle source, ImageHandle destination, int32_t x, int32_t y,
                                        int32_t width, int32_t height);

/* ---- Image warping ------------------------------------------------------- */

/* Loads the square-root table of the warp from directory + "sqrt.dat"
 * (2^21 little-endian floats, entry i the square root of i; no separator is
 * added, so the directory ends with one).  TAVO_InitKelmo calls it.  A
 * missing or short file leaves the table as it was.
 * directory: zero-terminated path; a null pointer is ignored.
 * Returns 0, whatever happens. */
KELMO_API int32_t TAVO_InitRBF(const char *directory);

/* Warps `source` so that each source point lands on its destination point,
 * with a smooth radial-basis displacement in between and the four corners
 * fixed, and makes `destination` the result (same size and mode as asked).
 * source and destination may be the same image.
 * sourcePoints, destinationPoints: `count` integer pairs each (x then y,
 * pixels); may be null only when count is 0.  count: 0 to 4096 (the solve is dense: n^3).
 * mode: 0 grey, 1 colour, 2 colour with a fourth byte.
 * Returns 0; TAVO_ERR_GENERAL when width^2 + height^2 exceeds 2,097,152, the
 * source is one pixel wide or high, a pointer is null, the count is out of
 * range or an image is invalid (the destination is untouched); an unknown mode
 * returns 0 and leaves the destination as it was. */
KELMO_API int32_t TAVO_WarpImageRBF(ImageHandle source, ImageHandle destination, const int32_t *sourcePoints,
                                    const int32_t *destinationPoints, int32_t count, TAVO_IMAGEMODE mode);

/* ---- Vertex lists, vertex files and morphs -------------------------------- *
 * A morph model is an ordinary model whose vertices are read as displacements:
 * vertex j of region r of the morph model displaces vertex j of region r of
 * the model it is applied to. */

/* Replaces the vertices of a model with those of a vertex file: binary,
 * little-endian, one block per region, in region order, each a signed 32-bit
 * count N then N x 3 floats (x, y, z); the blocks end where fewer than 4 bytes
 * remain.  The model ends with one region per block (so an empty file leaves
 * it without regions); each region's quads, texture quads and texture
 * coordinates stay as they were, regions beyond the file's are destroyed, new
 * ones hold only vertices.  The usual way to fill a morph model.
 * path: must not be null.
 * Returns 0; TAVO_ERR_INVALID_HANDLE; TAVO_ERR_GENERAL (path null, the file
 * cannot be opened, a block with a negative count or fewer floats than its
 * count, more than 65536 blocks, out of memory); on failure the model is
 * unchanged. */
KELMO_API int32_t TAVO_LoadExpressionToModel(int32_t handle, const char *path);

/* Adds a morph to a model: for each region present in both models and each
 * vertex present in both regions, model vertex += weight x morph vertex; in
 * region 0 the displacement is further multiplied by field[j] (weight x
 * displacement x field[j], in that order) when `field` is not null.  Then the
 * sock region (5) is pinned again to region 0: its vertices 1 to 8 become
 * region 0's vertices 718, 2775, 228, 1829, 441, 2038, 1130, 2976 and vertex 0
 * takes the x of vertex 3 and the y and z of vertex 1 (skipped when the model
 * lacks region 5, its nine vertices or those region-0 vertices).  Repeated
 * calls accumulate; a negative weight moves the other way.  morphHandle may
 * equal handle.
 * field: null, or one float per vertex of the morph model's region 0 (at least
 * as many as move: the smaller of the two models' region-0 vertex counts).
 * Returns 0; TAVO_ERR_INVALID_HANDLE (either handle invalid);
 * TAVO_ERR_GENERAL (out of memory); on failure the model is unchanged. */
KELMO_API int32_t TAVO_ApplyMorphHField(int32_t handle, int32_t morphHandle, float weight, const float *field);

/* TAVO_ApplyMorphHField without a field. */
KELMO_API int32_t TAVO_ApplyMorph(int32_t handle, int32_t morphHandle, float weight);

/* Kept so that hosts which call it still link and run: reads nothing, does
 * nothing (it does not report the expression class of a model).  Returns 0. */
KELMO_API int32_t TAVO_GetFaceExpression(void);

/* Stores the expression class that the model's last creation from a photo
 * chose, after its noSmile and closedMouth restrictions: 0 closed mouth,
 * neutral; 1 open mouth, neutral; 2 closed mouth, smiling; 3 open mouth,
 * smiling.  0 for a model never created from a photo.
 * expressionClass: must not be null.
 * Returns 0, TAVO_ERR_GENERAL (null pointer), TAVO_ERR_INVALID_HANDLE. */
KELMO_API int32_t TAVO_GetModelExpressionClass(int32_t handle, int32_t *expressionClass);

/* C-callable forms of TAVO_GetModelVertices and TAVO_SetModelVertices (whose
 * C++ signatures carry nested std::vector lists, below): the same exchange of
 * all of a model's vertices, region by region, through flat buffers. */

/* Writes the vertex count of every region (in region order) into
 * vertexCounts and every vertex of every region, region after region, into
 * vertices.  Size them from TAVO_GetModelNumRegions and the sum of
 * TAVO_GetModelNumVertices.
 * vertexCounts: room for countCapacity integers; must not be null.
 * vertices: room for vertexCapacity entries; may be null when vertexCapacity
 * is 0.
 * Returns 0; TAVO_ERR_GENERAL (vertexCounts null, a capacity negative or
 * smaller than the model needs, vertices null with a capacity above 0;
 * nothing written); TAVO_ERR_INVALID_HANDLE.  Pointer checks come first, as
 * for the accessors above. */
KELMO_API int32_t TAVO_GetModelVertexLists(int32_t handle, int32_t *vertexCounts, int32_t countCapacity,
                                           TVector3f *vertices, int32_t vertexCapacity);

/* Gives the model exactly regionCount regions (surplus regions destroyed from
 * the end, missing ones appended empty) and makes the vertices of region r
 * the next vertexCounts[r] entries of vertices; quads, texture quads and
 * texture coordinates stay as they were, even where a count changes.
 * vertexCounts: regionCount counts, none negative; may be null when
 * regionCount is 0.  vertices: their sum of entries (at most 2^31 - 1); may be
 * null when the sum is 0.
 * Returns 0; TAVO_ERR_GENERAL (a count negative, a sum too large, a needed
 * pointer null, out of memory; nothing changes); TAVO_ERR_INVALID_HANDLE. */
KELMO_API int32_t TAVO_SetModelVertexLists(int32_t handle, int32_t regionCount, const int32_t *vertexCounts,
                                           const TVector3f *vertices);

/* ---- Model deformation --------------------------------------------------- */

/* Converts a morph model, in place, from displacements authored on the
 * generic expression mesh into displacements for `handle`, a model created
 * from a photo (TAVO_CreateModelFromPhoto): in regions 0, 1 and 2, each
 * displacement d of vertex j becomes f(e + d) - m, where e is vertex j of the
 * expression mesh the model was made from, f the model's own fitted
 * deformation and m the model's vertex j.  Regions 3 and above of the morph
 * model keep their displacements.  The model is only read; apply the result
 * with TAVO_ApplyMorph.  Calling it twice converts twice.
 * Returns 0; TAVO_ERR_INVALID_HANDLE (either handle invalid);
 * TAVO_ERR_GENERAL (the model was not created from a photo or the library is
 * not initialised; the morph model, the model or the expression mesh has
 * fewer than three regions; a morph region 0 to 2 has more vertices than the
 * same region of the expression mesh or of the model; out of memory); on
 * failure the morph model is unchanged. */
KELMO_API int32_t TAVO_AdjustModelDeformation(int32_t handle, int32_t morphHandle);

/* ---- Linear muscle contraction ------------------------------------------- */

/* Contracts one straight muscle from the attachment point A (fixed) to the
 * insertion point B: every vertex of regions 0 to regionCount - 1 inside the
 * muscle's cone moves toward A, in x and y only (z never changes).  The cone
 * starts at A and reaches E = B + extension x (B - A); its half-angle runs
 * around the axis from F's angle to G's (F and G bound it).  The pull is
 * strength x weight, fading with the angle from the axis (the faster the
 * larger `sharpness`) and with the distance from A: it rises from 0 at A to
 * its full value at |B - A| and falls to 0 at |E - A|.  Vertices farther than
 * |E - A| or within 0.01 of A, with a weight of 0 or a pull below 1e-10 stay.
 * Degenerate cones never make a vertex NaN: F or G on the axis make the
 * half-angle G's everywhere; a vertex whose half-angle is 0, or at the outer
 * radius when it equals the inner one, stays.
 * a, b, f, g: the points A, B, F, G in model units, read once on entry (they
 * may point into the model's vertices); must not be null.
 * weights: null, or one float per vertex index of the largest processed
 * region (the same array serves every region).
 * regionCount: regions 0 to regionCount - 1, clamped to the model's count;
 * 0 or less moves nothing.
 * Returns 0; TAVO_ERR_INVALID_HANDLE; TAVO_ERR_GENERAL (a point null, or F,
 * G or B equal to A; nothing moves). */
KELMO_API int32_t TAVO_LinearMuscleContraction(int32_t handle, const TVector3f *a, const TVector3f *b,
                                               const TVector3f *f, const TVector3f *g, float extension,
                                               float strength, float sharpness, const float *weights,
                                               int32_t regionCount);

/* ---- The drive root ------------------------------------------------------- *
 * The library's file names are Windows paths (a backslash separates folders;
 * on other platforms it is read as a slash), and the VRML import reads its
 * visibility file at the fixed path "C:\orvane\VisibleMeshes.vsl".  On other
 * platforms a path that starts with "C:" and a separator is opened below a
 * root folder instead of the drive, "/" unless set here (so that file is
 * /orvane/VisibleMeshes.vsl).  Process-wide; not reset by TAVO_InitKelmo or
 * TAVO_FinalizeKelmo.  Has no effect on Windows. */

/* Sets the folder that the drive "C:" stands for (copied; a trailing slash is
 * optional).
 * root: zero-terminated path; must not be null.
 * Returns 0, TAVO_ERR_GENERAL (root null or out of memory; the root stays). */
KELMO_API int32_t TAVO_SetDriveRoot(const char *root);

#ifdef __cplusplus
}

/* Kept, with C++ linkage and these argument types, so that hosts which call
 * it still link and run: reads none of its arguments, does nothing.
 * Returns 0. */
KELMO_API int32_t TAVO_MorphImageRB(unsigned int, unsigned int, TPointf *, TPointf *, int, TAVO_IMAGEMODE, float,
                                    float, int);

/* ---- C++ exports ------------------------------------------------------------
 * These carry C++ argument types (std::vector, references) and C++ linkage;
 * C hosts use the flat forms above. */

#include <vector>

/* Fills `lists` with one entry per region of the model, in region
 * order, each a copy of that region's vertices (entries beyond the model's
 * regions are dropped).  C hosts use TAVO_GetModelVertexLists.
 * Returns 0; TAVO_ERR_INVALID_HANDLE; TAVO_ERR_GENERAL (out of memory; `lists`
 * is unchanged). */
KELMO_API int32_t TAVO_GetModelVertices(int handle, std::vector<std::vector<TVector3f>> &lists);

/* Gives the model one region per entry of `lists` (surplus regions
 * destroyed from the end, missing ones appended empty) and makes entry i the
 * vertices of region i; quads, texture quads and texture coordinates stay as
 * they were, even where a vertex count changes.  C hosts use
 * TAVO_SetModelVertexLists.
 * Returns 0; TAVO_ERR_INVALID_HANDLE; TAVO_ERR_GENERAL (out of memory; the
 * model is unchanged). */
KELMO_API int32_t TAVO_SetModelVertices(int handle, std::vector<std::vector<TVector3f>> lists);

/* Replaces the model's mesh with a head read from a VRML 97 text
 * file in the fixed layout of the exporting tool: six shapes (filling regions
 * 1, 2, 0, 5, 4, 3 in that order), each with four bracketed lists, one entry
 * per line: points "x y z", texture points "u v", coordinate indices and
 * texture coordinate indices "a, b, c, d" (the rest of the line ignored); a
 * list opens on a line holding "[" and ends on one holding "]", and the line
 * after the opening line is always an entry.  Points are scaled by 0.03 and
 * every vertex is tilted about x by -0.4 radians.  Region 0 keeps only the
 * quads marked visible (byte value 1, one byte per quad; missing bytes hide)
 * in the visibility file "C:\orvane\VisibleMeshes.vsl" (see
 * TAVO_SetDriveRoot) and 52 fixed quads (those beyond its quad count are
 * skipped), with its vertices renumbered.  The model ends with six regions;
 * its texture, feature points and viewing parameters are unchanged, and an
 * appended-region index of 6 or more is cleared to -1.
 * path: must not be null.
 * Returns 0; TAVO_ERR_INVALID_HANDLE (nothing read); TAVO_ERR_GENERAL (path
 * null; the file or the visibility file cannot be opened; the file ends before
 * the six shapes; a line over 1023 characters; a list over 7000 entries; a
 * visibility file over 10000 bytes; an index beyond 32 bits or outside its
 * region; texture quads not one per quad in regions 1 to 5; region 0 with
 * fewer texture points than points; out of memory); on failure the model is
 * unchanged. */
KELMO_API int32_t TAVO_LoadModelVRML(const char *path, int handle);
#endif

#endif /* KELMO_H */
