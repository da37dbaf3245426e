// The colour library (Little CMS), opened with the first picture that needs a colour conversion
// or a profile made here (CMYK, grey with a profile, Lab, camera raws) instead of loaded with the
// program: an RGB JPEG never needs it, and loading it was a fifth of such a conversion's start.
#pragma once

#include <lcms2.h>

#include "SharedFunctions.h"

namespace velora {

#define VELORA_LCMS_FUNCTIONS(X)    \
    X(cmsBuildParametricToneCurve)  \
    X(cmsBuildTabulatedToneCurve16) \
    X(cmsCloseProfile)              \
    X(cmsCreateLab4Profile)         \
    X(cmsCreateRGBProfile)          \
    X(cmsCreateTransform)           \
    X(cmsCreateXYZProfile)          \
    X(cmsCreate_sRGBProfile)        \
    X(cmsDeleteTransform)           \
    X(cmsDoTransform)               \
    X(cmsFreeToneCurve)             \
    X(cmsGetColorSpace)             \
    X(cmsGetProfileInfoASCII)       \
    X(cmsMLUalloc)                  \
    X(cmsMLUfree)                   \
    X(cmsMLUsetASCII)               \
    X(cmsOpenProfileFromMem)        \
    X(cmsSaveProfileToMem)          \
    X(cmsSetProfileVersion)         \
    X(cmsWriteTag)

VELORA_LIBRARY_DECLARATION(LcmsFunctions, Lcms, VELORA_LCMS_FUNCTIONS)

// The library's name, for the messages of the pictures that cannot do without it.
constexpr const char* LcmsLibraryName = VELORA_LCMS_LIBRARY;

}  // namespace velora
