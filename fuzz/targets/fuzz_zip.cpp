#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <span>
#include <string_view>

#include "private_folder.h"
#include "platform/zip/zip_archive.h"

namespace {

// Member names are relative and never step up or sideways.
void checkName(const std::string& name) {
    bool bad = name.empty() || name.front() == '/' || name.find('\\') != std::string::npos;
    size_t start = 0;
    while (!bad && start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        std::string_view part(name.data() + start, end - start);
        bad = part == "." || part == "..";
        start = end + 1;
    }
    if (bad) {
        std::fprintf(stderr, "unsafe member name: %s\n", name.c_str());
        std::abort();
    }
}

}  // namespace

// The input is read in memory, then unpacked from a file into a private folder.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> bytes(data, size);
    try {
        for (const auto& member : calvoro::zip::readZIP(bytes, int64_t(64) << 20)) checkName(member.name);
    } catch (const std::exception&) {
        // A clear refusal is the expected answer to hostile bytes.
    }
    PrivateFolder folder;
    if (!folder.ok()) return 0;
    auto source = folder.root() / "in.zip";
    {
        std::ofstream file(source, std::ios::binary);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    try {
        calvoro::zip::extractZIP(source, folder.out());
    } catch (const std::exception&) {
    }
    folder.checkNothingEscaped("in.zip");
    return 0;
}
