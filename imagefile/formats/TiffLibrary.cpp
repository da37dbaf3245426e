#include "TiffLibrary.h"

#include "Codecs.h"
#include "SharedFunctions.h"

namespace velora {

const TiffFunctions& Tiff() {
    static const TiffFunctions functions =
        LoadFunctions<TiffFunctions>(VELORA_TIFF_LIBRARY, [](void* library, TiffFunctions& f) {
            bool all = true;
            VELORA_TIFF_FUNCTIONS(VELORA_RESOLVE_FUNCTION)
            return all;
        });
    return functions;
}

TiffOptions NewTiffOptions(DecodeOutcome& out) {
    if (!Tiff().Loaded) {
        out.Code = Status::GenericError;
        out.Message = std::string("TIFF pictures cannot be read here: ") + VELORA_TIFF_LIBRARY +
                      " cannot be loaded";
        return nullptr;
    }
    TiffOptions options(Tiff().TIFFOpenOptionsAlloc());
    if (!options) {
        out.Code = Status::OutOfMemory;
        out.Message = "not enough memory";
    }
    return options;
}

}  // namespace velora
