// dlib's face detector on a photo (see face_detection.h). This unit is built
// twice: into the tool, and with KELMO_FACE_DETECTION_MODULE for AVX2 into
// the module that exports findFaceDetections under kFaceDetectionSymbol.
#if defined(KELMO_FACE_DETECTION_MODULE)
// dlib picks its vector code from the compiler's target. Its four-float sums
// (the HOG cells' normalised votes) are added in another order with SSE3 and
// SSE4.1 than with SSE2 alone, so the module keeps to the SSE2 forms of
// those; its eight-float operations (the filters) are lane by lane either
// way and take AVX.
#include <dlib/simd/simd_check.h>
#undef DLIB_HAVE_SSE3
#undef DLIB_HAVE_SSE41
#endif

#include "tools/kelmo/face_detection.h"

#include <algorithm>
#include <cmath>

#include <dlib/image_transforms.h>

#if defined(KELMO_FACE_DETECTION_MODULE)
#include "tools/kelmo/separable_filter.h"
#endif

#if !defined(KELMO_FACE_DETECTION_MODULE) && defined(KELMO_FACE_DETECTION_BUILT_MODULE)
#include <dlfcn.h>

#include "tools/kelmo/session.h"
#endif

namespace kelmo::cli {

namespace {

// The module's one exported name.
[[maybe_unused]] constexpr const char *kFaceDetectionSymbol = "kelmo_find_face_detections";

// Scaled copy for the detector, by bilinear interpolation (dlib's own).
dlib::array2d<dlib::rgb_pixel> scaledCopy(const RgbView &image, double factor) {
    dlib::array2d<dlib::rgb_pixel> out(std::max(1L, std::lround(static_cast<double>(image.rows) * factor)),
                                       std::max(1L, std::lround(static_cast<double>(image.columns) * factor)));
    dlib::resize_image(image, out, dlib::interpolate_bilinear());
    return out;
}

}  // namespace

std::vector<dlib::rect_detection> findFaceDetections(dlib::frontal_face_detector &detector, const RgbView &image,
                                                     double threshold) {
    const long longSide = std::max(image.rows, image.columns);
    std::vector<dlib::rect_detection> found;
    if (longSide > kMaxDetectionSide) {
        const double factor = static_cast<double>(kMaxDetectionSide) / static_cast<double>(longSide);
        detector(scaledCopy(image, factor), found, threshold);
        for (dlib::rect_detection &d : found) {
            const dlib::rectangle b = d.rect;
            d.rect = dlib::rectangle(std::lround(b.left() / factor), std::lround(b.top() / factor),
                                     std::lround(b.right() / factor), std::lround(b.bottom() / factor));
        }
    } else {
        detector(image, found, threshold);
        if (found.empty() && longSide * 2 <= kMaxDetectionSide) {
            detector(scaledCopy(image, 2.0), found, threshold);
            for (dlib::rect_detection &d : found) {
                const dlib::rectangle b = d.rect;
                d.rect = dlib::rectangle(b.left() / 2, b.top() / 2, b.right() / 2, b.bottom() / 2);
            }
        }
    }
    return found;
}

#if defined(KELMO_FACE_DETECTION_MODULE)

// The module's entry: every other symbol of the module is hidden.
extern "C" [[gnu::visibility("default")]] FaceDetectionRoutine kelmo_find_face_detections() {
    return &findFaceDetections;
}

#else

FaceDetectionRoutine avx2FaceDetection() {
    static const FaceDetectionRoutine routine = []() -> FaceDetectionRoutine {
#if defined(KELMO_FACE_DETECTION_BUILT_MODULE)
        __builtin_cpu_init();
        if (!__builtin_cpu_supports("avx2")) return nullptr;
        const std::string exeDir = executableDirectory();
        for (const char *relative : {KELMO_FACE_DETECTION_BUILT_MODULE, KELMO_FACE_DETECTION_INSTALLED_MODULE}) {
            const std::string path = exeDir + "/" + relative;
            void *module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (module == nullptr) continue;
            using Entry = FaceDetectionRoutine (*)();
            const auto entry = reinterpret_cast<Entry>(::dlsym(module, kFaceDetectionSymbol));
            if (entry != nullptr) return entry();  // the module stays loaded for the process's life
            ::dlclose(module);
        }
#endif
        return nullptr;
    }();
    return routine;
}

FaceDetectionRoutine fastestFaceDetection() {
    const FaceDetectionRoutine avx2 = avx2FaceDetection();
    return avx2 != nullptr ? avx2 : &findFaceDetections;
}

#endif

}  // namespace kelmo::cli
