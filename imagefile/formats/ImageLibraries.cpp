#include "ImageLibraries.h"

#include "Codecs.h"

namespace velora {

VELORA_LIBRARY_TABLE(PngFunctions, PngLib, VELORA_PNG_LIBRARY, VELORA_PNG_FUNCTIONS)

VELORA_LIBRARY_TABLE(GifFunctions, GifLib, VELORA_GIF_LIBRARY, VELORA_GIF_FUNCTIONS)

// The demuxer's library brings the decoder's, whose functions are found through it.
VELORA_LIBRARY_TABLE(WebpFunctions, WebpLib, VELORA_WEBPDEMUX_LIBRARY, VELORA_WEBP_FUNCTIONS)

bool LibraryReady(bool loaded, const char* library, const char* pictures, DecodeOutcome& out) {
    if (!loaded) {
        out.Code = Status::GenericError;
        out.Message =
            std::string(pictures) + " cannot be read here: " + library + " cannot be loaded";
    }
    return loaded;
}

}  // namespace velora
