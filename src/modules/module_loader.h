#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "core/conversion_error.h"

namespace calvoro::modules {

// Opens one of the program's own modules by file name ("libcalvoro_documents.so") and returns
// the address of the named entry point. Looks beside an installed program first
// (<bin>/../<libdir>/calvoro/), then in the build tree it was built in. When neither works, logs
// the loader's reason and throws ConversionError::converterNotAvailable(displayName).
void* entryPoint(const std::string& fileName, const char* entryName, const std::string& displayName);

// The table a module's entry point returns (a struct whose first member is its int version),
// loaded on the first call: later calls return it, or throw again what the first call threw.
// Module and program are built from one tree, so the layout is checked only by its version.
template <typename Table>
class LoadedTable {
public:
    LoadedTable(std::string fileName, const char* entryName, std::string displayName, int version)
        : fileName_(std::move(fileName)), entryName_(entryName), displayName_(std::move(displayName)), version_(version) {}

    const Table& get() {
        std::call_once(once_, [&] {
            try {
                using Entry = const Table* (*)();
                auto entry = reinterpret_cast<Entry>(entryPoint(fileName_, entryName_, displayName_));
                const Table* table = entry();
                if (!table || table->version != version_) throw ConversionError::converterNotAvailable(displayName_);
                table_ = table;
            } catch (const ConversionError& e) {
                failure_ = e;
            }
        });
        if (!table_) throw *failure_;
        return *table_;
    }

private:
    const std::string fileName_;
    const char* const entryName_;
    const std::string displayName_;
    const int version_;
    std::once_flag once_;
    const Table* table_ = nullptr;
    std::optional<ConversionError> failure_;
};

}  // namespace calvoro::modules
