#include "LcmsLibrary.h"

namespace velora {

const LcmsFunctions& Lcms() {
    static const LcmsFunctions functions =
        LoadFunctions<LcmsFunctions>(VELORA_LCMS_LIBRARY, [](void* library, LcmsFunctions& f) {
            bool all = true;
            VELORA_LCMS_FUNCTIONS(VELORA_RESOLVE_FUNCTION)
            return all;
        });
    return functions;
}

}  // namespace velora
