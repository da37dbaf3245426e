#include "TiffLibrary.h"

#include "Codecs.h"
#include "SharedFunctions.h"

namespace velora {

VELORA_LIBRARY_TABLE(TiffFunctions, Tiff, VELORA_TIFF_LIBRARY, VELORA_TIFF_FUNCTIONS)

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
