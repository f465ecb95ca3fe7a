// Built into every test program: before main, the process gets a home of its own (with the
// freedesktop config, data, cache and state folders inside it) and a runtime folder of its own,
// all removed when it ends, and the project's font configuration unless CTest already named it.
// Qt and the desktop libraries write file-dialog history, data folders and caches under the home,
// and without a runtime folder Qt makes "runtime-<user>" in the temporary folder; programs the
// tests start inherit all of it, and test programs running side by side never share a
// single-instance socket.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "support/test_support.h"

namespace {

struct PrivateHome {
    PrivateHome() : folder("calvoro-test-home-") {
        if (folder.path().empty()) return;
        std::error_code ec;
        const std::pair<const char*, const char*> places[] = {{"HOME", "home"},
                                                              {"XDG_CONFIG_HOME", "home/.config"},
                                                              {"XDG_DATA_HOME", "home/.local/share"},
                                                              {"XDG_STATE_HOME", "home/.local/state"},
                                                              {"XDG_CACHE_HOME", "home/.cache"},
                                                              {"XDG_RUNTIME_DIR", "run"}};
        for (const auto& [variable, name] : places) {
            const auto path = folder.path() / name;
            std::filesystem::create_directories(path, ec);
            setenv(variable, path.c_str(), 1);
        }
        ::chmod((folder.path() / "run").c_str(), 0700);
#ifdef CALVORO_TEST_FONTCONFIG_FILE
        setenv("FONTCONFIG_FILE", CALVORO_TEST_FONTCONFIG_FILE, 0);
#endif
    }
    calvoro::testing::ProcessFolder folder;
};

const PrivateHome privateHome;

}  // namespace
