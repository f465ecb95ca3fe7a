#pragma once

// Heavy codec libraries (libheif with its HEVC/AV1 plug-ins, libjxl, OpenJPEG, LibRaw) are
// opened on first use rather than linked, so that starting the program or converting a PNG
// does not map them. Each library gets one table of the functions this layer calls, resolved
// once; the pointer types come from the library's own header through decltype.

#include <dlfcn.h>

#include <initializer_list>
#include <string>

#include "core/conversion_error.h"

namespace calvoro::imaging::detail {

// The first of the sonames that opens; nullptr when none does. Never closed: the functions
// resolved from it live as long as the process.
inline void* openLibrary(std::initializer_list<const char*> sonames) {
    for (const char* name : sonames)
        if (void* handle = ::dlopen(name, RTLD_NOW | RTLD_LOCAL)) return handle;
    return nullptr;
}

template <typename Function>
bool bindSymbol(void* handle, const char* name, Function& slot) {
    slot = reinterpret_cast<Function>(::dlsym(handle, name));
    return slot != nullptr;
}

// The error for a file whose codec library is not installed.
inline ConversionError libraryMissing(const std::string& library) { return ConversionError::converterNotAvailable(library); }

}  // namespace calvoro::imaging::detail

// Declares a table member named and typed after the library function.
#define CALVORO_LAZY_MEMBER(name) decltype(&::name) name = nullptr;
// Resolves a member; `handle` and `complete` are in scope where it is used.
#define CALVORO_LAZY_BIND(name) complete = ::calvoro::imaging::detail::bindSymbol(handle, #name, table.name) && complete;

#include <mutex>

namespace calvoro::imaging::detail {

// The table of one library, opened and resolved on the first call (by whichever thread gets
// there first); nullptr when the library or one of its functions is missing.
template <typename Table>
const Table* lazyTable(std::initializer_list<const char*> sonames, bool (*bind)(void* handle, Table& table)) {
    static std::once_flag once;
    static Table table;
    static bool complete = false;
    std::call_once(once, [&] {
        if (void* handle = openLibrary(sonames)) complete = bind(handle, table);
    });
    return complete ? &table : nullptr;
}

}  // namespace calvoro::imaging::detail

// Defines the table type `Table` with one member per function of the X-list FUNCTIONS, and
// `const Table* loader()`, which opens the first of the given sonames that exists on first call
// and returns nullptr when the library or one of the functions is missing.
#define CALVORO_LAZY_LIBRARY(Table, loader, FUNCTIONS, ...)                                       \
    struct Table {                                                                               \
        FUNCTIONS(CALVORO_LAZY_MEMBER)                                                           \
    };                                                                                           \
    inline bool bind##Table(void* handle, Table& table) {                                        \
        bool complete = true;                                                                    \
        FUNCTIONS(CALVORO_LAZY_BIND)                                                             \
        return complete;                                                                         \
    }                                                                                            \
    inline const Table* loader() { return ::calvoro::imaging::detail::lazyTable<Table>({__VA_ARGS__}, bind##Table); }

namespace calvoro::imaging::detail {

// The table, or the error that `library` is not installed.
template <typename Table>
const Table& requireTable(const Table* table, const std::string& library) {
    if (table) return *table;
    throw libraryMissing(library);
}

}  // namespace calvoro::imaging::detail
