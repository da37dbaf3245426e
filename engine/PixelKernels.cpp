#include "PixelKernels.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#if defined(VELORA_X86_KERNELS)
#if __has_include(<sys/platform/x86.h>)
#include <sys/platform/x86.h>
#define VELORA_LOADER_KNOWS_CPU 1
#else
#include <cpuid.h>
#endif
#endif

namespace velora {

#if defined(VELORA_X86_KERNELS)
namespace {

// AVX2 with FMA, and an operating system that saves the wide registers. Asked once, on first use.
// The C library's loader has surveyed the processor already before main() and answers from
// memory; each cpuid asked again costs microseconds where a virtual machine traps it, and
// __builtin_cpu_supports would link in the compiler runtime's own survey, run at every start.
bool AskAvx2Fma() {
#if defined(VELORA_LOADER_KNOWS_CPU)
    // "Active" counts the operating system's saving of the wide registers in.
    return CPU_FEATURE_ACTIVE(AVX2) && CPU_FEATURE_ACTIVE(FMA);
#else
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0) {
        return false;
    }
    const bool fma = (c & bit_FMA) != 0;
    const bool avx = (c & bit_AVX) != 0 && (c & bit_OSXSAVE) != 0;
    if (!fma || !avx) {
        return false;
    }
    unsigned low = 0, high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    if ((low & 0x6) != 0x6) {  // the XMM and YMM halves both saved
        return false;
    }
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) {
        return false;
    }
    return (b & bit_AVX2) != 0;
#endif
}

}  // namespace
#endif

bool VectorPathSupported(VectorPath path) {
    switch (path) {
        case VectorPath::None:
            return true;
#if defined(VELORA_X86_KERNELS)
        case VectorPath::Sse2:
            return true;  // part of x86-64 itself
        case VectorPath::Avx2: {
            static const bool supported = AskAvx2Fma();
            return supported;
        }
#endif
        default:
            return false;
    }
}

VectorPath BestVectorPath() {
    VectorPath cap = VectorPath::Avx2;
    if (const char* asked = std::getenv("VELORA_SIMD")) {
        if (std::strcmp(asked, "sse2") == 0) {
            cap = VectorPath::Sse2;
        } else if (std::strcmp(asked, "none") == 0) {
            cap = VectorPath::None;
        }
    }
    for (VectorPath path : {VectorPath::Avx2, VectorPath::Sse2}) {
        if (path <= cap && VectorPathSupported(path)) {
            return path;
        }
    }
    return VectorPath::None;
}

const char* VectorPathName(VectorPath path) {
    switch (path) {
        case VectorPath::Avx2:
            return "avx2";
        case VectorPath::Sse2:
            return "sse2";
        default:
            return "none";
    }
}

}  // namespace velora
