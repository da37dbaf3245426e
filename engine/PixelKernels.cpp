#include "PixelKernels.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace velora {

bool VectorPathSupported(VectorPath path) {
    switch (path) {
        case VectorPath::None:
            return true;
#if defined(VELORA_X86_KERNELS)
        case VectorPath::Sse2:
            return true;  // part of x86-64 itself
        case VectorPath::Avx2:
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
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
