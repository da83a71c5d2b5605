// Which instruction sets the hot kernels (remap, the map resize, the warp's
// displacement field, the 3D interpolator's field, the renderer's spans, and
// in the imaging library the bilinear turn) use. Every level computes the
// same bits: the wider levels only evaluate the plain formulas on several
// pixels at once, each lane through the same roundings in the same order.
//
// Plain is the one-pixel-at-a-time code, kept as the reference that the wider
// levels are tested against. Baseline is the x86-64 baseline's (SSE2) vectors
// through the compiler's generic vector types, which also serve other CPUs.
// Avx2 and Avx512 are chosen at run time when the CPU and the operating
// system support them; the Windows build stays at Baseline (its compiler
// cannot keep 32- and 64-byte spills aligned on the stack).
#pragma once

#include <cstdint>

namespace kelmo {

enum class KernelLevel : int32_t { Plain = 0, Baseline = 1, Avx2 = 2, Avx512 = 3 };

// The widest level this process can run.
KernelLevel bestKernelLevel();

// The level the kernels use now; bestKernelLevel() until set.
KernelLevel kernelLevel();

// Sets the level, lowered to bestKernelLevel() when the CPU cannot run it,
// and returns the level set. Process-wide like the rest of the library's
// state (one call at a time); the imaging library, which keeps its own copy
// of this unit for its turn, is set to the same level.
KernelLevel setKernelLevel(KernelLevel level);

// Whether the Avx512 level may also use AVX-512 VBMI's byte permutes (the
// remap's whole-row kernels): where the CPU has them, until set. Tests turn
// them off to run the AVX-512 kernels of processors that lack them. Returns
// the value set: false where the CPU lacks VBMI.
bool byteShufflesEnabled();
bool setByteShufflesEnabled(bool enabled);

}  // namespace kelmo
