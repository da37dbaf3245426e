#include "LibRawLibrary.h"

#include "SharedFunctions.h"

namespace velora {

const LibRawFunctions& LibRawLibrary() {
    static const LibRawFunctions functions = LoadFunctions<LibRawFunctions>(
        VELORA_LIBRAW_LIBRARY, [](void* library, LibRawFunctions& f) {
            bool all = true;
            VELORA_LIBRAW_FUNCTIONS(VELORA_RESOLVE_FUNCTION)
            return all;
        });
    return functions;
}

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
