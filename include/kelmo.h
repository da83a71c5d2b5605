/*
 * Kelmo: a textured 3D head from one frontal face photo.
 *
 * The flat TAVO_ interface of libkelmo (the specification's Parts 1.1 to 6.1).
 * Every function returns a signed 32-bit status: 0 for success, a negative
 * TAVO_ERR_* code otherwise; a failing call changes nothing.  Models are
 * addressed by small integer handles (Part 2.2); images by the handles of the
 * imaging library tavoimage (tavoimage.h), whose statuses some functions pass
 * through unchanged.
 *
 * The library is not thread-safe: the host makes one call at a time.
 * Coordinates: model units for vertices (y up, the face looks toward +z);
 * pixels for images (origin at the top-left pixel, y down).
 */
#ifndef KELMO_H
#define KELMO_H

#include <stdbool.h>
#include <stdint.h>

#include "tavoimage.h"

#if defined(_WIN32)
#  if defined(KELMO_BUILDING)
#    define KELMO_API __declspec(dllexport)
#  else
#    define KELMO_API __declspec(dllimport)
#  endif
#else
#  define KELMO_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes that the library itself produces (Part 1.1). */
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

/* ---- Part 2.2: model life cycle ------------------------------------------ */

/* Creates an empty model in the lowest free slot of the model table.  The
 * model starts with no regions, an empty texture image, the shared teeth and
 * sock image handles, teethFromModelTexture 1 and maskUsage 1 when
 * disableMask is 0 (0 for any other value).
 * handle: receives the new model's handle; must not be null.
 * Returns 0, TAVO_ERR_GENERAL (handle null; nothing is created). */
KELMO_API int32_t TAVO_InitModel(int32_t *handle, int32_t disableMask);

/* Copies the model `source` into the existing model `destination`: regions,
 * face grid, rotation, scale, teeth flag, mask flag, deformation matrix,
 * feature points and vertices, extra region, and the texture's pixels.  The
 * destination keeps its perspective, expression class, interpolator, control
 * points and shared image handles.
 * Returns 0, TAVO_ERR_INVALID_HANDLE (either handle invalid). */
KELMO_API int32_t TAVO_CopyModel(int32_t source, int32_t destination);

/* Destroys a model with its texture and empties its slot; the handle is
 * handed out again by a later TAVO_InitModel.
 * Returns 0, TAVO_ERR_INVALID_HANDLE. */
KELMO_API int32_t TAVO_FreeModel(int32_t handle);

/* Sets whether creation from a photo applies the alpha mask to the texture.
 * Returns 0, TAVO_ERR_INVALID_HANDLE. */
KELMO_API int32_t TAVO_SetModelMaskUsage(int32_t handle, bool value);

/* ---- Part 2.2: accessors ---------------------------------------------------
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

#ifdef __cplusplus
}
#endif

#endif /* KELMO_H */
