// NumPy arrays in and out: the checks that turn a wrong array into a
// TypeError (dtype) or ValueError (shape, values) naming what was expected,
// and the conversions between arrays and the interface's buffers. These run
// with the GIL held and never call the libraries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "kelmo.h"
#include "tools/kelmo/points_file.h"

namespace kelmo::python {

namespace py = pybind11;

// Pixels of an image, packed rows, top row first: 1 (grey), 3 (R, G, B) or
// 4 (R, G, B, A) bytes per pixel.
struct Pixels {
    std::vector<uint8_t> bytes;
    int width = 0, height = 0, channels = 0;
    TAVO_IMAGEMODE mode() const;
};

// A photo argument: a file path (str or os.PathLike), or pixels from an
// array (H, W, 3) or (H, W, 4) of uint8.
struct PhotoArgument {
    std::string path;  // empty for pixels
    Pixels pixels;
};

// `name` is the parameter's name in messages. withGrey also accepts (H, W)
// arrays of grey levels.
PhotoArgument photoArgument(py::handle value, const char *name, bool withGrey = false);
Pixels pixelsArgument(py::handle value, const char *name, bool withGrey);

// An (N, 2) array-like of real numbers in pixels, rounded to the nearest
// integer (halves away from zero), as points files are read. count > 0
// requires exactly that many rows; 0 accepts 0 to maxCount.
std::vector<cli::PointI> pointsArgument(py::handle value, const char *name, int count, int maxCount = 4096);
cli::FeaturePoints featurePointsArgument(py::handle value, const char *name);

// A point in model units: a sequence of three real numbers.
TVector3f vectorArgument(py::handle value, const char *name);

// New arrays holding a copy of the data.
py::array_t<uint8_t> imageArray(const Pixels &pixels);
py::array_t<float> floatArray(const std::vector<float> &values, std::vector<py::ssize_t> shape);
py::array_t<int32_t> intArray(const std::vector<int32_t> &values, std::vector<py::ssize_t> shape);

}  // namespace kelmo::python
