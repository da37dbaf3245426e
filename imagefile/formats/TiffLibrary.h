// libtiff, opened with the first TIFF file instead of loaded with the program: loading it and the
// codecs it brings (LERC, JBIG, ZSTD, LZMA, deflate) is a large share of the start of every run,
// which a run over JPEGs alone would pay for nothing.
#pragma once

#include <tiffio.h>

#include <memory>

#include "SharedFunctions.h"

namespace velora {

struct DecodeOutcome;

#define VELORA_TIFF_FUNCTIONS(X)            \
    X(TIFFClientOpenExt)                    \
    X(TIFFClose)                            \
    X(TIFFGetField)                         \
    X(TIFFGetFieldDefaulted)                \
    X(TIFFGetStrileByteCountWithErr)        \
    X(TIFFGetStrileOffsetWithErr)           \
    X(TIFFIsTiled)                          \
    X(TIFFNumberOfStrips)                   \
    X(TIFFNumberOfTiles)                    \
    X(TIFFOpenOptionsAlloc)                 \
    X(TIFFOpenOptionsFree)                  \
    X(TIFFOpenOptionsSetErrorHandlerExtR)   \
    X(TIFFOpenOptionsSetMaxSingleMemAlloc)  \
    X(TIFFOpenOptionsSetWarningHandlerExtR) \
    X(TIFFRGBAImageBegin)                   \
    X(TIFFRGBAImageEnd)                     \
    X(TIFFRGBAImageGet)                     \
    X(TIFFRGBAImageOK)                      \
    X(TIFFReadScanline)                     \
    X(TIFFReadTile)                         \
    X(TIFFScanlineSize)                     \
    X(TIFFSetField)                         \
    X(TIFFTileRowSize)                      \
    X(TIFFTileSize)

VELORA_LIBRARY_DECLARATION(TiffFunctions, Tiff, VELORA_TIFF_FUNCTIONS)

struct TiffOptionsFree {
    void operator()(TIFFOpenOptions* options) const { Tiff().TIFFOpenOptionsFree(options); }
};
using TiffOptions = std::unique_ptr<TIFFOpenOptions, TiffOptionsFree>;

// The options of a file to open; null, with `out` failed and saying why, when the library cannot
// be loaded or the memory is short.
TiffOptions NewTiffOptions(DecodeOutcome& out);

}  // namespace velora
