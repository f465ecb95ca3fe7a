// Built into every test program: before main, the process gets a folder of its own holding its
// home (with the freedesktop config, data, cache and state folders inside), its runtime folder and
// its temporary folder, removed when it ends, and the project's font configuration unless CTest
// already named it. Qt and the desktop libraries write file-dialog history, data folders and caches
// under the home, and without a runtime folder Qt makes "runtime-<user>" in the temporary folder.
// Processes a test starts (the program, the test program itself again, death-test children)
// inherit the folder and make none of their own, so what they leave goes with it; test programs
// running side by side never share a single-instance socket.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "support/test_support.h"

namespace {

struct PrivateFolder {
    PrivateFolder() {
#ifdef CALVORO_TEST_FONTCONFIG_FILE
        setenv("FONTCONFIG_FILE", CALVORO_TEST_FONTCONFIG_FILE, 0);
#endif
        std::error_code ec;
        if (const char* inherited = std::getenv("CALVORO_TEST_FOLDER");
            inherited && *inherited && std::filesystem::is_directory(inherited, ec))
            return;
        folder.emplace("calvoro-test-process-");
        if (folder->path().empty()) return;
        const std::pair<const char*, const char*> places[] = {{"HOME", "home"},
                                                              {"XDG_CONFIG_HOME", "home/.config"},
                                                              {"XDG_DATA_HOME", "home/.local/share"},
                                                              {"XDG_STATE_HOME", "home/.local/state"},
                                                              {"XDG_CACHE_HOME", "home/.cache"},
                                                              {"XDG_RUNTIME_DIR", "run"},
                                                              {"TMPDIR", "tmp"}};
        for (const auto& [variable, name] : places) {
            const auto path = folder->path() / name;
            std::filesystem::create_directories(path, ec);
            setenv(variable, path.c_str(), 1);
        }
        ::chmod((folder->path() / "run").c_str(), 0700);
        setenv("CALVORO_TEST_FOLDER", folder->path().c_str(), 1);
    }
    std::optional<calvoro::testing::ProcessFolder> folder;
};

const PrivateFolder privateFolder;

}  // namespace
