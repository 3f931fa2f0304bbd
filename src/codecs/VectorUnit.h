#pragma once
// The instruction sets our pixel and sample kernels come in, and the one way
// a kernel is chosen: the widest unit is asked of the processor once per
// process (widestVectorUnit), read once when an encode, a picture or a meter
// starts, and passed down to the block and row functions as a value or a
// template argument; nothing below that asks again. Every unit gives the same
// bytes; the wider ones are only faster.
//
// Kernels for AVX2 are compiled with FW_TARGET_AVX2 (or, for a whole file
// section, `#pragma GCC target("avx2,fma")`) only where
// FW_HAS_AVX2_KERNELS is defined. SSE2 is the x86-64 baseline and needs no
// check.
//
// Header-only and free of our other code, so that the codecs (which use
// nothing of ours) and the layers above them share it.
// Thread-safety: widestVectorUnit() may be called from any thread.

namespace fw {

enum class VectorUnit { portable, sse2, avx2 };

#if defined(__x86_64__) && defined(__GNUC__)
#define FW_HAS_AVX2_KERNELS 1
#define FW_TARGET_AVX2 __attribute__((target("avx2,fma")))
#endif

// The widest unit this build and this processor run. AVX2 counts only
// together with FMA, as every processor with one has the other.
inline VectorUnit widestVectorUnit() {
    static const VectorUnit unit = [] {
#if defined(FW_HAS_AVX2_KERNELS)
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return VectorUnit::avx2;
#endif
#if defined(__SSE2__)
        return VectorUnit::sse2;
#else
        return VectorUnit::portable;
#endif
    }();
    return unit;
}

}  // namespace fw
