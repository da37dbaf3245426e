#include "LibRawLibrary.h"

#include "SharedFunctions.h"

namespace velora {

VELORA_LIBRARY_TABLE(LibRawFunctions, LibRawLibrary, VELORA_LIBRAW_LIBRARY, VELORA_LIBRAW_FUNCTIONS)

const char* LibRawLibraryName() {
    return VELORA_LIBRAW_LIBRARY;
}

LibRawHandle OpenLibRaw(unsigned flags) {
    const LibRawFunctions& lib = LibRawLibrary();
    return LibRawHandle(lib.Loaded ? lib.libraw_init(flags) : nullptr);
}

const unpacker_data_t& LibRawUnpackerData(libraw_data_t& raw) {
    // The accessor is inline in the library's header, so it needs none of the library's symbols.
    // The sanitizer's check of the object's dynamic type would need its type information, which
    // lives in the library; this file is built without that check (CMakeLists.txt).
    return static_cast<LibRaw*>(raw.parent_class)->get_internal_data_pointer()->unpacker_data;
}

}  // namespace velora
