// NumPy arrays in and out (see arrays.h).
#include "arrays.h"

#include <cmath>
#include <cstring>

namespace kelmo::python {

namespace {

std::string shapeText(const py::array &array) {
    std::string text = "(";
    for (py::ssize_t k = 0; k < array.ndim(); ++k)
        text += (k ? ", " : "") + std::to_string(array.shape(k));
    return text + (array.ndim() == 1 ? ",)" : ")");
}

std::string dtypeText(const py::array &array) { return py::str(array.dtype()).cast<std::string>(); }

// Any array-like as an array (lists and tuples too), without copying arrays.
py::array asArray(py::handle value) {
    return py::module_::import("numpy").attr("asarray")(value).cast<py::array>();
}

// Real numbers of an array-like of `expectedShape`, as float64 in C order.
py::array_t<double> realArray(py::handle value, const char *name, const std::string &expectedShape) {
    const py::array array = asArray(value);
    const char kind = array.dtype().kind();
    if (kind != 'i' && kind != 'u' && kind != 'f')
        throw py::type_error(std::string(name) + " must hold real numbers, shape " + expectedShape + "; got dtype " +
                             dtypeText(array));
    return py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(array);
}

}  // namespace

TAVO_IMAGEMODE Pixels::mode() const {
    return channels == 1 ? TAVO_IMAGEMODE_GREY : channels == 3 ? TAVO_IMAGEMODE_COLOR : TAVO_IMAGEMODE_COLOR_ALPHA;
}

Pixels pixelsArgument(py::handle value, const char *name, bool withGrey) {
    const std::string expected = withGrey ? "(H, W), (H, W, 3) or (H, W, 4)" : "(H, W, 3) or (H, W, 4)";
    if (!py::isinstance<py::array>(value))
        throw py::type_error(std::string(name) + " must be a numpy array of uint8, shape " + expected);
    const py::array array = py::reinterpret_borrow<py::array>(value);
    if (!array.dtype().is(py::dtype::of<uint8_t>()))
        throw py::type_error(std::string(name) + " must be an array of uint8, shape " + expected + "; got dtype " +
                             dtypeText(array));
    const bool grey = withGrey && array.ndim() == 2;
    const bool colour = array.ndim() == 3 && (array.shape(2) == 3 || array.shape(2) == 4);
    if ((!grey && !colour) || array.shape(0) < 1 || array.shape(1) < 1)
        throw py::value_error(std::string(name) + " must have shape " + expected + " with H, W >= 1; got " +
                              shapeText(array));
    if (array.shape(0) > TAVOIMG_MAX_SIDE || array.shape(1) > TAVOIMG_MAX_SIDE ||
        array.shape(0) * array.shape(1) > TAVOIMG_MAX_PIXELS)
        throw py::value_error(std::string(name) + " of shape " + shapeText(array) +
                              " exceeds the imaging library's limits (32768 pixels a side, 2^27 pixels)");
    const auto packed = py::array_t<uint8_t, py::array::c_style>::ensure(array);
    Pixels pixels;
    pixels.height = static_cast<int>(array.shape(0));
    pixels.width = static_cast<int>(array.shape(1));
    pixels.channels = grey ? 1 : static_cast<int>(array.shape(2));
    pixels.bytes.assign(packed.data(), packed.data() + packed.size());
    return pixels;
}

PhotoArgument photoArgument(py::handle value, const char *name, bool withGrey) {
    PhotoArgument photo;
    if (py::isinstance<py::array>(value)) {
        photo.pixels = pixelsArgument(value, name, withGrey);
        return photo;
    }
    if (py::isinstance<py::str>(value) || py::hasattr(value, "__fspath__")) {
        const py::object path = py::module_::import("os").attr("fspath")(value);
        if (!py::isinstance<py::str>(path)) throw py::type_error(std::string(name) + " path must be text, not bytes");
        photo.path = path.cast<std::string>();
        return photo;
    }
    throw py::type_error(std::string(name) + " must be a file path or a numpy array of uint8, shape " +
                         (withGrey ? "(H, W), " : "") + "(H, W, 3) or (H, W, 4)");
}

std::vector<cli::PointI> pointsArgument(py::handle value, const char *name, int count, int maxCount) {
    const std::string expected = count > 0 ? "(" + std::to_string(count) + ", 2)" : "(N, 2)";
    const py::array_t<double> array = realArray(value, name, expected);
    if (count == 0 && array.size() == 0) return {};  // no points, also as an empty list
    const bool rightShape = array.ndim() == 2 && array.shape(1) == 2 &&
                            (count > 0 ? array.shape(0) == count : array.shape(0) <= maxCount);
    if (!rightShape)
        throw py::value_error(std::string(name) + " must have shape " + expected +
                              (count > 0 ? "" : " with N <= " + std::to_string(maxCount)) + "; got " + shapeText(array));
    std::vector<cli::PointI> points(static_cast<std::size_t>(array.shape(0)));
    const double *v = array.data();
    for (std::size_t k = 0; k < points.size(); ++k) {
        for (int c = 0; c < 2; ++c) {
            const double x = v[2 * k + c];
            if (!std::isfinite(x) || std::fabs(x) > cli::kMaxCoordinate)
                throw py::value_error(std::string(name) + "[" + std::to_string(k) + "] is not a finite pixel position");
        }
        points[k] = {static_cast<int32_t>(std::lround(v[2 * k])), static_cast<int32_t>(std::lround(v[2 * k + 1]))};
    }
    return points;
}

cli::FeaturePoints featurePointsArgument(py::handle value, const char *name) {
    const std::vector<cli::PointI> list = pointsArgument(value, name, cli::kFeaturePointCount);
    cli::FeaturePoints points{};
    std::copy(list.begin(), list.end(), points.begin());
    return points;
}

TVector3f vectorArgument(py::handle value, const char *name) {
    const py::array_t<double> array = realArray(value, name, "(3,)");
    if (array.ndim() != 1 || array.shape(0) != 3)
        throw py::value_error(std::string(name) + " must have shape (3,); got " + shapeText(array));
    const double *v = array.data();
    for (int c = 0; c < 3; ++c)
        if (!std::isfinite(v[c])) throw py::value_error(std::string(name) + " must be finite");
    return {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
}

py::array_t<uint8_t> imageArray(const Pixels &pixels) {
    std::vector<py::ssize_t> shape{pixels.height, pixels.width};
    if (pixels.channels > 1) shape.push_back(pixels.channels);
    py::array_t<uint8_t> array(shape);
    if (!pixels.bytes.empty()) std::memcpy(array.mutable_data(), pixels.bytes.data(), pixels.bytes.size());
    return array;
}

py::array_t<float> floatArray(const std::vector<float> &values, std::vector<py::ssize_t> shape) {
    py::array_t<float> array(shape);
    if (!values.empty()) std::memcpy(array.mutable_data(), values.data(), values.size() * sizeof(float));
    return array;
}

py::array_t<int32_t> intArray(const std::vector<int32_t> &values, std::vector<py::ssize_t> shape) {
    py::array_t<int32_t> array(shape);
    if (!values.empty()) std::memcpy(array.mutable_data(), values.data(), values.size() * sizeof(int32_t));
    return array;
}

}  // namespace kelmo::python
