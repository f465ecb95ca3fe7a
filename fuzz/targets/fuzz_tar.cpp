#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>

#include "converters/archive/tar_archive.h"
#include "private_folder.h"

// Each input unpacks into its own private folder; nothing may land outside out/.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PrivateFolder folder;
    if (!folder.ok()) return 0;
    try {
        calvoro::ArchiveConverter::extractTAR(std::span<const uint8_t>(data, size), folder.out());
    } catch (const std::exception&) {
        // A clear refusal is the expected answer to hostile bytes.
    }
    folder.checkNothingEscaped();
    return 0;
}
