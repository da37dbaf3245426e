#include "LcmsLibrary.h"

namespace velora {

VELORA_LIBRARY_TABLE(LcmsFunctions, Lcms, VELORA_LCMS_LIBRARY, VELORA_LCMS_FUNCTIONS)

}  // namespace velora
