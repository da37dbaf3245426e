// LibRaw, opened with the first file that may be a camera raw instead of loaded with the program:
// loading it (and what it pulls in) is a large share of the start of every run, which a run over
// JPEGs alone would pay for nothing.
#pragma once

#include <libraw.h>

#include <memory>

#include "SharedFunctions.h"

namespace velora {

#define VELORA_LIBRAW_FUNCTIONS(X)  \
    X(libraw_close)                 \
    X(libraw_dcraw_clear_mem)       \
    X(libraw_dcraw_make_mem_image)  \
    X(libraw_dcraw_process)         \
    X(libraw_get_decoder_info)      \
    X(libraw_init)                  \
    X(libraw_open_buffer)           \
    X(libraw_set_dataerror_handler) \
    X(libraw_strerror)              \
    X(libraw_unpack)

VELORA_LIBRARY_DECLARATION(LibRawFunctions, LibRawLibrary, VELORA_LIBRAW_FUNCTIONS)

// What the loader knows the library by, for messages.
const char* LibRawLibraryName();

struct LibRawCloser {
    void operator()(libraw_data_t* raw) const { LibRawLibrary().libraw_close(raw); }
};
using LibRawHandle = std::unique_ptr<libraw_data_t, LibRawCloser>;

// A new decoder with `flags` (LIBRAW_OPIONS_...), null when the library is missing or out of
// memory.
LibRawHandle OpenLibRaw(unsigned flags);

// The decoder's layout of the raw data (offset, bits and samples a pixel, compression), which the
// library keeps beside the data the functions above see.
const unpacker_data_t& LibRawUnpackerData(libraw_data_t& raw);

}  // namespace velora
