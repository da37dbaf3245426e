#include "ImageLibraries.h"

#include "Codecs.h"

namespace velora {

const PngFunctions& PngLib() {
    static const PngFunctions functions =
        LoadFunctions<PngFunctions>(VELORA_PNG_LIBRARY, [](void* library, PngFunctions& f) {
            bool all = true;
            VELORA_PNG_FUNCTIONS(VELORA_RESOLVE_FUNCTION)
            return all;
        });
    return functions;
}

const GifFunctions& GifLib() {
    static const GifFunctions functions =
        LoadFunctions<GifFunctions>(VELORA_GIF_LIBRARY, [](void* library, GifFunctions& f) {
            bool all = true;
            VELORA_GIF_FUNCTIONS(VELORA_RESOLVE_FUNCTION)
            return all;
        });
    return functions;
}

const WebpFunctions& WebpLib() {
    // The demuxer's library brings the decoder's, whose functions are found through it.
    static const WebpFunctions functions =
        LoadFunctions<WebpFunctions>(VELORA_WEBPDEMUX_LIBRARY, [](void* library, WebpFunctions& f) {
            bool all = true;
            VELORA_WEBP_FUNCTIONS(VELORA_RESOLVE_FUNCTION)
            return all;
        });
    return functions;
}

bool LibraryReady(bool loaded, const char* library, const char* pictures, DecodeOutcome& out) {
    if (!loaded) {
        out.Code = Status::GenericError;
        out.Message =
            std::string(pictures) + " cannot be read here: " + library + " cannot be loaded";
    }
    return loaded;
}

}  // namespace velora
