// kelmo._kelmo: the extension module of the Python package, with the
// docstrings that help() shows. Arguments are checked here, with the GIL
// held; the work runs in unlocked(...) (session.h).
#include <cstdlib>
#include <optional>
#include <string>

#include <pybind11/stl.h>

#include "arrays.h"
#include "model.h"
#include "session.h"
#include "tools/kelmo/atomic_file.h"
#include "tools/kelmo/cli.h"

namespace py = pybind11;
using namespace kelmo;
using namespace kelmo::python;

namespace {

// The exception types, created once with the module and kept for the
// translator.
PyObject *g_kelmoError = nullptr;
PyObject *g_unsupportedError = nullptr;

void raise(PyObject *type, const char *message, int32_t status) {
    py::object error = py::reinterpret_borrow<py::object>(type)(message);
    error.attr("status") = status;
    PyErr_SetObject(type, error.ptr());
}

// (width, height) from an int (a square) or a pair.
std::pair<int, int> sizeArgument(py::handle value, const char *name) {
    long width = 0, height = 0;
    if (py::isinstance<py::int_>(value) && !py::isinstance<py::bool_>(value)) {
        width = height = value.cast<long>();
    } else {
        py::sequence pair;
        try {
            pair = value.cast<py::sequence>();
        } catch (const py::cast_error &) {
            throw py::type_error(std::string(name) + " must be an int or a pair (width, height)");
        }
        if (pair.size() != 2 || !py::isinstance<py::int_>(pair[0]) || !py::isinstance<py::int_>(pair[1]))
            throw py::type_error(std::string(name) + " must be an int or a pair of ints (width, height)");
        width = pair[0].cast<long>();
        height = pair[1].cast<long>();
    }
    if (width < 1 || height < 1 || width > TAVOIMG_MAX_SIDE || height > TAVOIMG_MAX_SIDE ||
        width * height > TAVOIMG_MAX_PIXELS)
        throw py::value_error(std::string(name) + " must be 1 to 32768 pixels a side (at most 2^27 pixels); got " +
                              std::to_string(width) + " x " + std::to_string(height));
    return {static_cast<int>(width), static_cast<int>(height)};
}

std::string photoName(const PhotoArgument &photo) { return photo.path.empty() ? "the photo array" : photo.path; }

std::string defaultDataDirectory() {
    if (const char *env = std::getenv("KELMO_DATA_DIR"); env != nullptr && *env != '\0') return env;
    return py::module_::import("kelmo._settings").attr("DATA_DIR").cast<std::string>();
}

std::optional<int> faceArgument(std::optional<int> face) {
    if (face && *face < 1) throw py::value_error("face is numbered from 1 (the leftmost face)");
    return face;
}

// Chooses the face as `kelmo landmarks --face` does, with a message in
// this interface's terms.
cli::FeaturePoints landmarksOf(Session &session, const cli::Image &photo, const std::string &name,
                               std::optional<int> face) {
    if (face) {
        const auto faces = session.landmarker().detect(photo.pixels(TAVO_IMAGEMODE_COLOR), photo.width(),
                                                       photo.height());
        if (static_cast<std::size_t>(*face) > faces.size())
            throw KelmoError("face=" + std::to_string(*face) + ": " + name + " shows " + std::to_string(faces.size()) +
                                 (faces.size() == 1 ? " face" : " faces"),
                             TAVO_ERR_GENERAL);
        return faces[static_cast<std::size_t>(*face - 1)].points;
    }
    return detectLandmarks(session, photo, name, std::nullopt);
}

py::array_t<float> pointsArray(const cli::FeaturePoints &points) {
    std::vector<float> flat;
    for (const cli::PointI &p : points) flat.insert(flat.end(), {static_cast<float>(p.x), static_cast<float>(p.y)});
    return floatArray(flat, {cli::kFeaturePointCount, 2});
}

const char *kModuleDoc = R"(A textured 3D head from one frontal face photo, with NumPy arrays in and out.

Open the library once per process, find the 66 landmarks of a face, create
a head and render it:

    with kelmo.Library() as lib:
        head = lib.create("photo.jpg")
        picture = head.render(size=(512, 512), yaw=30)   # (512, 512, 4) uint8
        kelmo.save_image(picture, "turned.png")

Images are uint8 arrays (H, W, 3) of R, G, B or (H, W, 4) with alpha, top row
first; points are (N, 2) arrays of pixel positions (x, y), origin at the
top-left pixel, y down. Failures of the library raise KelmoError; arrays of
the wrong dtype raise TypeError and of the wrong shape ValueError. The
library takes one call at a time: calls from several threads wait for each
other (the GIL is released meanwhile).)";

}  // namespace

PYBIND11_MODULE(_kelmo, m) {
    m.doc() = kModuleDoc;

    g_kelmoError = PyErr_NewExceptionWithDoc(
        "kelmo.KelmoError",
        "A call into the library failed. `status` holds its negative status (TAVO_ERR_* of kelmo.h,\n"
        "TAVOIMG_ERR_* of tavoimage.h), or -1 for failures that no call reports (no face found,\n"
        "a file that cannot be read).",
        PyExc_Exception, nullptr);
    py::object bases = py::make_tuple(py::handle(g_kelmoError), py::handle(PyExc_NotImplementedError));
    g_unsupportedError = PyErr_NewExceptionWithDoc(
        "kelmo.UnsupportedError", "Something this build of kelmo cannot do yet (a KelmoError and a NotImplementedError).",
        bases.ptr(), nullptr);
    m.attr("KelmoError") = py::handle(g_kelmoError);
    m.attr("UnsupportedError") = py::handle(g_unsupportedError);
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const UnsupportedError &e) {
            raise(g_unsupportedError, e.what(), e.status());
        } catch (const KelmoError &e) {
            raise(g_kelmoError, e.what(), e.status());
        } catch (const cli::CliError &e) {
            raise(g_kelmoError, e.what(), TAVO_ERR_GENERAL);
        }
    });

    // ---- Library ----------------------------------------------------------
    py::class_<Session, std::shared_ptr<Session>> library(m, "Library", R"(The initialised library.

Reads the generic head from a data directory. The library's state is
process-wide, so a process has one open Library at a time: opening a
second one raises KelmoError. Use it as a context manager, or call close();
it also closes when neither it nor any of its models is referenced any more.
Closing frees every model it created.)");
    library.def(py::init([](std::optional<std::string> dataDir, std::optional<std::string> shapePredictor) {
                    const std::string directory = dataDir ? *dataDir : defaultDataDirectory();
                    const std::string predictor = shapePredictor.value_or(cli::kDefaultShapePredictor);
                    return unlocked([&] { return std::make_shared<Session>(directory, predictor); });
                }),
                py::arg("data_dir") = py::none(), py::arg("shape_predictor") = py::none(),
                R"(Opens the library.

data_dir: the data directory of the generic head; by default $KELMO_DATA_DIR,
    else the one this package was built or installed with.
shape_predictor: dlib's 68-point landmark model, by default Debian's
    /usr/share/dlib/shape_predictor_68_face_landmarks.dat (trained on data
    whose terms exclude commercial use; give points to create() instead, or
    a model of your own here). Loaded on the first landmarks() call.
Raises KelmoError when another Library is open or the directory is unusable.)")
        .def_property_readonly("data_dir", &Session::dataDirectory, "The data directory, with its trailing separator.")
        .def_property_readonly("closed", [](const Session &s) { return !s.isOpen(); }, "Whether close() has run.")
        .def("close", [](Session &s) { unlocked([&] { s.close(); }); },
             "Frees every model of the library and finalises it. Calling it again does nothing.")
        .def("__enter__", [](std::shared_ptr<Session> s) { return s; })
        .def("__exit__", [](Session &s, py::args) { unlocked([&] { s.close(); }); })
        .def(
            "landmarks",
            [](Session &s, py::object photo, std::optional<int> face) {
                const PhotoArgument argument = photoArgument(photo, "photo");
                face = faceArgument(face);
                const cli::FeaturePoints points = unlocked([&] {
                    s.requireOpen();
                    const cli::Image image = photoImage(argument);
                    return landmarksOf(s, image, photoName(argument), face);
                });
                return pointsArray(points);
            },
            py::arg("photo"), py::arg("face") = py::none(),
            R"(The 66 feature points of a face in a photo, as an ndarray (66, 2) float32.

photo: an ndarray (H, W, 3|4) uint8 (alpha ignored) or a file path (PNG, JPEG, BMP).
face: which face, numbered from 1 from the left; by default the largest.
dlib's face detector and 68-point shape predictor find the points, which are
mapped to the library's 66-point scheme (docs/landmarks.md), whole pixels.
Raises KelmoError when no face (or no such face) is found.)")
        .def(
            "create",
            [](std::shared_ptr<Session> s, py::object photo, py::object points, bool smile, bool openMouth, bool mask,
               bool faceOnly, bool genericTeeth, std::optional<int> face) {
                const PhotoArgument argument = photoArgument(photo, "photo");
                std::optional<cli::FeaturePoints> given;
                if (!points.is_none()) given = featurePointsArgument(points, "points");
                face = faceArgument(face);
                if (given && face) throw py::value_error("face chooses among detected faces; leave it out with points");
                cli::CreateOptions options;
                options.noSmile = !smile;
                options.closedMouth = !openMouth;
                options.noMask = !mask;
                options.faceOnly = faceOnly;
                options.genericTeeth = genericTeeth;
                return unlocked([&] {
                    s->requireOpen();
                    cli::Image image = photoImage(argument);
                    const cli::FeaturePoints used = given ? *given : landmarksOf(*s, image, photoName(argument), face);
                    return std::make_unique<ModelObject>(s, std::move(image), argument.path, used, options);
                });
            },
            py::arg("photo"), py::arg("points") = py::none(), py::arg("smile") = true, py::arg("open_mouth") = true,
            py::arg("mask") = true, py::arg("face_only") = false, py::arg("generic_teeth") = false, py::arg("face") = py::none(),
            R"(Creates the 3D head of the face in a photo.

photo: an ndarray (H, W, 3|4) uint8 (alpha ignored) or a file path.
points: the 66 feature points, (66, 2) pixel positions (rounded to whole
    pixels, halves away from zero); by default found with landmarks().
smile, open_mouth: allow a smiling, an open-mouth expression mesh (the
    expression is read from the points); False never takes one.
mask: put the alpha mask into the texture (False: an opaque texture).
face_only: keep the masked face alone, for compositing onto photos; by
    default the texture outside the face is completed with the face's own
    skin tone, so that the head is whole when turned.
generic_teeth: draw the teeth with the data directory's teeth images
    instead of the photo's own mouth.
face: with points found automatically, which face (as for landmarks()).
Returns a Model, the same head that `kelmo create` makes from the photo.)");

    // ---- Model -------------------------------------------------------------
    py::class_<ModelObject> model(m, "Model", R"(A textured 3D head, made by Library.create().

Model units: y up, the face looking toward +z. Transforms (rotate, scale)
apply when the model is rendered; morphs and muscles move its vertices.
The handles are freed on close(), when the object is collected, or when
its Library closes; any use after that raises KelmoError.)");
    model
        .def_property_readonly(
            "regions",
            [](const ModelObject &self) {
                const auto regions = unlocked([&] { return self.regions(); });
                py::list list;
                for (const RegionData &r : regions) {
                    const auto n = static_cast<py::ssize_t>(r.vertices.size() / 3);
                    list.append(py::make_tuple(floatArray(r.vertices, {n, 3}),
                                               intArray(r.quads, {static_cast<py::ssize_t>(r.quads.size() / 4), 4}),
                                               floatArray(r.uvs, {n, 2})));
                }
                return list;
            },
            R"(The mesh, one (vertices, faces, uvs) tuple per region, as fresh copies.

vertices: (N, 3) float32 in model units; faces: (M, 4) int32 quads of
vertex indices (a repeated corner makes a triangle); uvs: (N, 2) float32,
the texture coordinate (u, v, v up) that rendering gives each vertex.
Regions: 0 head, 1 and 2 the eyes, 3 and 4 upper and lower teeth, 5 the
mouth's inside, 6 unused, 7 the mouth cavity (depth only, rebuilt by every
render), 8 six loose eye points. Writing to the arrays changes nothing.)")
        .def_property_readonly(
            "texture", [](const ModelObject &self) { return imageArray(unlocked([&] { return self.texture(); })); },
            "The texture, an ndarray (256, 256, 4) uint8: the upright face frame with its alpha mask.")
        .def_property_readonly(
            "feature_points",
            [](const ModelObject &self) {
                return floatArray(unlocked([&] { return self.featurePoints(); }), {cli::kFeaturePointCount, 3});
            },
            "The 66 feature points on the mesh, an ndarray (66, 3) float32 in model units.")
        .def_property_readonly("rotation", &ModelObject::rotation, "The model's rotation (x, y, z) in degrees.")
        .def_property_readonly("scale_factors", &ModelObject::scaleFactors, "The model's scale factors (x, y, z).")
        .def_property_readonly("closed", &ModelObject::closed, "Whether the model's handles are freed.")
        .def(
            "rotate", [](ModelObject &self, float x, float y, float z) { unlocked([&] { self.rotate(x, y, z); }); },
            py::arg("x") = 0.0f, py::arg("y") = 0.0f, py::arg("z") = 0.0f,
            R"(Sets the model's rotation, replacing the earlier one.

x, y, z: degrees about the fixed x, y and z axes, applied in that order
(y turns the head left and right, x nods it).)")
        .def(
            "scale",
            [](ModelObject &self, float x, std::optional<float> y, std::optional<float> z) {
                unlocked([&] { self.scale(x, y.value_or(x), z.value_or(y.value_or(x))); });
            },
            py::arg("x"), py::arg("y") = py::none(), py::arg("z") = py::none(),
            "Sets the model's scale factors, replacing earlier ones; scale(s) scales uniformly.")
        .def(
            "morph",
            [](ModelObject &self, const std::string &name, float weight) {
                unlocked([&] { self.morph(name, weight); });
            },
            py::arg("name_or_vertex_file"), py::arg("weight") = 1.0f,
            R"(Adds a morph of the generic head, fitted to this head, with a weight.

name_or_vertex_file: a morph of the data directory (jaw_open, smile, blink,
    brow_raise: data/morphs/NAME.vtx) or the path of a vertex file.
weight: 0 changes nothing, 1 is the full expression, negative moves the
    other way. Morphs add up: morph("smile", 0.5) twice is about
    morph("smile", 1). Use copy() to keep the unmorphed head.)")
        .def(
            "muscle",
            [](ModelObject &self, py::object path, py::object attachment, py::object insertion, py::object bound1,
               py::object bound2, std::optional<float> strength, float extension, float sharpness, int regions) {
                if (!path.is_none()) {
                    if (!attachment.is_none() || !insertion.is_none() || !bound1.is_none() || !bound2.is_none() ||
                        strength)
                        throw py::value_error("give either a muscle file or its points, not both");
                    const std::string file = py::module_::import("os").attr("fspath")(path).cast<std::string>();
                    unlocked([&] { self.muscleFile(file); });
                    return;
                }
                if (attachment.is_none() || insertion.is_none() || bound1.is_none() || bound2.is_none() || !strength)
                    throw py::value_error("a muscle needs attachment, insertion, bound1, bound2 and strength "
                                          "(or the path of a muscle file)");
                MuscleRequest request;
                request.attachment = vectorArgument(attachment, "attachment");
                request.insertion = vectorArgument(insertion, "insertion");
                request.bound1 = vectorArgument(bound1, "bound1");
                request.bound2 = vectorArgument(bound2, "bound2");
                request.strength = *strength;
                request.extension = extension;
                request.sharpness = sharpness;
                request.regions = regions;
                unlocked([&] { self.muscle(request); });
            },
            py::arg("path") = py::none(), py::kw_only(), py::arg("attachment") = py::none(),
            py::arg("insertion") = py::none(), py::arg("bound1") = py::none(), py::arg("bound2") = py::none(),
            py::arg("strength") = py::none(), py::arg("extension") = 0.5f, py::arg("sharpness") = 1.0f,
            py::arg("regions") = 3,
            R"(Contracts one straight muscle: vertices in its cone move toward the attachment (x and y only).

path: a muscle file as `kelmo render --muscle` reads (points named by
    feature points); or give the muscle here:
attachment, insertion: the fixed end A and the moving end B, (3,) model units
    (feature_points gives the places to start from);
bound1, bound2: two points that bound the cone's opening around A-B;
strength: the pull at |B - A|, model units; extension: the cone reaches
    B + extension (B - A); sharpness: the angular fall-off;
regions: regions 0 to regions - 1 move.
Raises KelmoError when the cone is degenerate (a bound or B equal to A).)")
        .def(
            "render",
            [](ModelObject &self, py::object size, float yaw, float pitch, float roll, float fov) {
                RenderRequest request;
                std::tie(request.width, request.height) = sizeArgument(size, "size");
                request.yaw = yaw;
                request.pitch = pitch;
                request.roll = roll;
                request.fov = fov;
                return imageArray(unlocked([&] { return self.render(request); }));
            },
            py::arg("size") = py::make_tuple(512, 512), py::arg("yaw") = 0.0f, py::arg("pitch") = 0.0f,
            py::arg("roll") = 0.0f, py::arg("fov") = 1.0f,
            R"(Renders the head, an ndarray (height, width, 4) uint8, transparent where nothing is drawn.

size: (width, height) in pixels, or one int for a square.
yaw, pitch, roll: degrees about y, x and z, added to the model's rotation
    for this picture only (yaw=30 with no rotation is `kelmo render --yaw 30`).
fov: the perspective angle in degrees; 1 (the default) is nearly orthographic.)")
        .def(
            "save",
            [](const ModelObject &self, py::object folder, const std::string &format) {
                const std::string dir = py::module_::import("os").attr("fspath")(folder).cast<std::string>();
                const SaveFormat f = saveFormat(format);
                unlocked([&] { self.save(dir, f); });
            },
            py::arg("dir"), py::arg("format") = "obj",
            R"(Writes a model folder as `kelmo create` does.

dir: the folder (created; files in it are replaced). Every file appears whole
    or not at all.
format: 'obj' writes model.obj and model.mtl (one object per region) with
    texture.png and mouth.png; 'glb' writes model.glb, glTF 2.0 with the
    textures embedded and the data directory's morphs as morph targets
    (UnsupportedError in builds without glTF export). `kelmo create` writes
    both: save twice into one folder to get the same files.
The folder also receives the photo, points.txt and model.txt, from which
`kelmo render DIR` creates the head again (as created: the mesh files hold
the current shape, with morphs and muscles).)")
        .def("copy", [](const ModelObject &self) { return unlocked([&] { return self.copy(); }); },
             "An independent copy: the same head, shape, transform and texture, with handles of its own.")
        .def("close", [](ModelObject &self) { unlocked([&] { self.release(); }); },
             "Frees the model's handles now. Calling it again does nothing.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](ModelObject &self, py::args) { unlocked([&] { self.release(); }); });

    // ---- Functions -----------------------------------------------------------
    m.def(
        "warp",
        [](py::object image, py::object sourcePoints, py::object destinationPoints) {
            const Pixels pixels = pixelsArgument(image, "image", true);
            const auto from = pointsArgument(sourcePoints, "src_points", 0);
            const auto to = pointsArgument(destinationPoints, "dst_points", 0);
            if (from.size() != to.size())
                throw py::value_error("src_points and dst_points must have the same number of points; got " +
                                      std::to_string(from.size()) + " and " + std::to_string(to.size()));
            return imageArray(unlocked([&] {
                requireOpenSession("kelmo.warp");
                const cli::Image source = cli::Image::fromPixels(pixels.bytes, pixels.width, pixels.height, pixels.mode());
                cli::Image result;
                std::vector<int32_t> a, b;
                for (std::size_t k = 0; k < from.size(); ++k) {
                    a.insert(a.end(), {from[k].x, from[k].y});
                    b.insert(b.end(), {to[k].x, to[k].y});
                }
                check(TAVO_WarpImageRBF(source.handle(), result.handle(), a.data(), b.data(),
                                        static_cast<int32_t>(from.size()), pixels.mode()),
                      "cannot warp the image");
                Pixels out;
                out.width = result.width();
                out.height = result.height();
                out.channels = pixels.channels;
                out.bytes = result.pixels(pixels.mode());
                return out;
            }));
        },
        py::arg("image"), py::arg("src_points"), py::arg("dst_points"),
        R"(Bends an image so that each source point lands on its destination point.

image: an ndarray (H, W), (H, W, 3) or (H, W, 4) uint8, with W^2 + H^2 at most
    2,097,152 (e.g. 1024 x 1024).
src_points, dst_points: (N, 2) pixel positions, rounded to whole pixels;
    N from 0 to 4096. The four corners stay where they are.
Returns an array of the image's shape. Needs an open Library (the warp reads
its square-root table).)");

    m.def(
        "face_frame",
        [](py::object photo, py::object points, py::object size) {
            const PhotoArgument argument = photoArgument(photo, "photo");
            const cli::FeaturePoints feature = featurePointsArgument(points, "points");
            const auto [width, height] = sizeArgument(size, "size");
            return imageArray(unlocked([&] {
                requireOpenSession("kelmo.face_frame");
                const cli::Image image = photoImage(argument, true);
                const std::vector<int32_t> flat = cli::flatten(feature);
                std::vector<int32_t> framePoints(2 * cli::kFeaturePointCount);
                ImageHandle frame = -1;
                check(TAVO_ExtractFaceFrame(image.handle(), flat.data(), &frame, framePoints.data(), width, height),
                      "cannot cut the face frame");
                const cli::Image owned(frame);
                Pixels out;
                out.width = owned.width();
                out.height = owned.height();
                out.channels = argument.path.empty() ? argument.pixels.channels : 3;
                out.bytes = owned.pixels(out.mode());
                return out;
            }));
        },
        py::arg("photo"), py::arg("points"), py::arg("size") = 256,
        R"(The upright face frame that becomes a model's texture, cut from a photo.

photo: an ndarray (H, W, 3|4) uint8 or a file path.
points: the 66 feature points, (66, 2) pixel positions.
size: (width, height) or one int for a square; 256 is the texture's size.
The line through the eye centres becomes level, a square around the face is
cropped (borders repeated where it leaves the photo) and scaled. Returns an
array (height, width, C) uint8 with the photo's channels (3 from a file).
Needs an open Library.)");

    m.def(
        "load_image",
        [](py::object path, bool alpha) {
            const std::string file = py::module_::import("os").attr("fspath")(path).cast<std::string>();
            return imageArray(unlocked([&] {
                const cli::Image image = loadImageFile(file, alpha);
                Pixels out;
                out.width = image.width();
                out.height = image.height();
                out.channels = alpha ? 4 : 3;
                out.bytes = image.pixels(out.mode());
                return out;
            }));
        },
        py::arg("path"), py::arg("alpha") = false,
        R"(Reads a PNG, JPEG or BMP file as an ndarray (H, W, 3) uint8, or (H, W, 4) with alpha=True
(alpha 255 where the file has none).)");

    m.def(
        "save_image",
        [](py::object image, py::object path) {
            const Pixels pixels = pixelsArgument(image, "image", true);
            const std::string file = py::module_::import("os").attr("fspath")(path).cast<std::string>();
            unlocked([&] {
                const cli::Image saved = cli::Image::fromPixels(pixels.bytes, pixels.width, pixels.height, pixels.mode());
                cli::OutputSet out;
                const std::string temporary = out.stage(file);
                check(TAVO_SaveImageToFile(saved.handle(), temporary.c_str()), "cannot write '" + file + "'");
                out.commit();
            });
        },
        py::arg("image"), py::arg("path"),
        R"(Writes an ndarray (H, W), (H, W, 3) or (H, W, 4) uint8 to a file whose format follows
the extension: .png (with alpha), .jpg/.jpeg (quality 95, alpha dropped) or .bmp.
The file appears whole or not at all.)");

    m.def(
        "_live_handles",
        [] {
            const auto [models, images] = unlocked([] { return liveHandles(); });
            return py::make_tuple(models, images);
        },
        "(models, images): how many model and image handles are alive in the process.");
}
