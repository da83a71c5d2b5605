#include "frame/kernel_level.h"

#include "tavoimage.h"

namespace kelmo {

namespace {

KernelLevel detectBestLevel() {
#if (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32)
    __builtin_cpu_init();
    // The AVX-512 kernels use the foundation, the byte/word and the
    // doubleword/quadword instructions on 128- to 512-bit vectors.
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl"))
        return KernelLevel::Avx512;
    if (__builtin_cpu_supports("avx2")) return KernelLevel::Avx2;
#endif
    return KernelLevel::Baseline;
}

bool detectByteShuffles() {
#if (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512vbmi");
#else
    return false;
#endif
}

bool &byteShufflesOn() {
    static bool on = detectByteShuffles();
    return on;
}

KernelLevel &currentLevel() {
    static KernelLevel level = bestKernelLevel();
    return level;
}

}  // namespace

KernelLevel bestKernelLevel() {
    static const KernelLevel best = detectBestLevel();
    return best;
}

KernelLevel kernelLevel() { return currentLevel(); }

KernelLevel setKernelLevel(KernelLevel level) {
    const KernelLevel best = bestKernelLevel();
    currentLevel() = static_cast<int32_t>(level) > static_cast<int32_t>(best) ? best : level;
#if !defined(TAVOIMAGE_BUILDING)
    // One choice for both libraries: the imaging library keeps its own copy
    // of this unit (its turn runs on the same levels), set through its export.
    TAVO_SetImageKernelLevel(static_cast<int32_t>(currentLevel()));
#endif
    return currentLevel();
}

bool byteShufflesEnabled() { return byteShufflesOn(); }

bool setByteShufflesEnabled(bool enabled) {
    static const bool available = detectByteShuffles();
    byteShufflesOn() = enabled && available;
    return byteShufflesOn();
}

}  // namespace kelmo
