// Opening the module of Exiv2Module.h: beside the installed program by the path from its bin
// folder that the build worked out, or in a build tree by the search path the build gave.
#include "Codecs.h"
#include "Exiv2Module.h"

namespace velora {

const Exiv2Functions& Exiv2() {
    static const Exiv2Functions functions = [] {
        Exiv2Functions f;
        void* library = OpenOwnModule(VELORA_EXIV2_MODULE, f.Problem);
        if (library == nullptr) {
            return f;
        }
        bool all = true;
        VELORA_EXIV2_FUNCTIONS(VELORA_RESOLVE_FUNCTION)
        if (!all) {
            Exiv2Functions missing;
            missing.Problem = std::string(VELORA_EXIV2_MODULE) + " lacks a function Velora needs";
            return missing;
        }
        f.velora_exiv2_start();
        f.Loaded = true;
        return f;
    }();
    return functions;
}

bool MetadataModuleReady(DecodeOutcome& out, const char* pictures) {
    if (Exiv2().Loaded) {
        return true;
    }
    out.Code = Status::GenericError;
    out.Message = std::string(pictures) +
                  " cannot be read here: the metadata module cannot be loaded (" + Exiv2().Problem +
                  ")";
    return false;
}

void NoteExifKeptWhole(DecodeOutcome& out) {
    if (!out.Meta.Exif.empty() && !Exiv2().Loaded) {
        out.Warnings.push_back(
            "the EXIF block travels as it came, with any tags of its file's "
            "layout: the metadata module cannot be loaded (" +
            Exiv2().Problem + ")");
    }
}

}  // namespace velora
