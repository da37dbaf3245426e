#include "TiffLibrary.h"

#include "Codecs.h"
#include "FileSystem.h"

namespace velora {

const TiffFunctions& Tiff() {
    static const TiffFunctions functions = [] {
        TiffFunctions f;
        void* library = OpenSharedLibrary(VELORA_TIFF_LIBRARY);
        if (library == nullptr) {
            return f;
        }
        bool all = true;
#define VELORA_TIFF_LOAD(name)                                                         \
    f.name = reinterpret_cast<decltype(&::name)>(SharedLibrarySymbol(library, #name)); \
    all = all && f.name != nullptr;
        VELORA_TIFF_FUNCTIONS(VELORA_TIFF_LOAD)
#undef VELORA_TIFF_LOAD
        if (!all) {
            return TiffFunctions{};
        }
        f.Loaded = true;
        return f;
    }();
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
