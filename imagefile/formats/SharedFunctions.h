// A table of a shared library's functions, filled when the library is first needed rather than
// when the program starts: each table is an X-macro list of names the library's own header
// declares, so the pointers keep the header's types.
#pragma once

#include "FileSystem.h"

namespace velora {

// One member of a table: `VELORA_..._FUNCTIONS(VELORA_FUNCTION_POINTER)` in the struct.
#define VELORA_FUNCTION_POINTER(name) decltype(&::name) name = nullptr;

// One function resolved into the table `f` from `library`; `all` turns false when it is missing.
#define VELORA_RESOLVE_FUNCTION(name)                                                  \
    f.name = reinterpret_cast<decltype(&::name)>(SharedLibrarySymbol(library, #name)); \
    all = all && f.name != nullptr;

// The table with every function resolved by `resolveAll(library, table)` and Loaded set, or an
// empty table (Loaded false) when the library or any of its functions is missing.
template <typename Functions, typename Resolve>
Functions LoadFunctions(const char* soname, Resolve resolveAll) {
    Functions f;
    void* library = OpenSharedLibrary(soname);
    if (library == nullptr || !resolveAll(library, f)) {
        return Functions{};
    }
    f.Loaded = true;
    return f;
}

// Declares the table `Table` of the functions `LIST` names and its accessor, which
// VELORA_LIBRARY_TABLE defines: the table is resolved once, by whichever thread asks first;
// Loaded is false (and every pointer null) when the library or one of its functions is missing.
#define VELORA_LIBRARY_DECLARATION(Table, accessor, LIST) \
    struct Table {                                        \
        LIST(VELORA_FUNCTION_POINTER)                     \
        bool Loaded = false;                              \
    };                                                    \
    const Table& accessor();

// Defines `const Table& accessor()`: the functions `LIST` names, from `soname`, resolved by the
// first caller and kept.
#define VELORA_LIBRARY_TABLE(Table, accessor, soname, LIST)                                       \
    const Table& accessor() {                                                                     \
        static const Table functions = LoadFunctions<Table>(soname, [](void* library, Table& f) { \
            bool all = true;                                                                      \
            LIST(VELORA_RESOLVE_FUNCTION)                                                         \
            return all;                                                                           \
        });                                                                                       \
        return functions;                                                                         \
    }

}  // namespace velora
