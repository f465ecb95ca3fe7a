#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "engine/conversion_engine.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace calvoro;
using namespace calvoro::testing;

namespace {

// Sets environment variables for one test and puts the old values back.
class Environment {
public:
    void set(const std::string& name, const std::optional<std::string>& value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) setenv(name.c_str(), value->c_str(), 1);
        else unsetenv(name.c_str());
    }
    ~Environment() {
        for (const auto& [name, value] : saved_) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace

TEST(DefaultOutputDirectory, IsCalvoroInTheDocumentsFolderAndStableOnDisk) {
    TempDir home;
    Environment env;
    env.set("HOME", home.path().string());
    env.set("XDG_CONFIG_HOME", std::nullopt);
    env.set("XDG_DOCUMENTS_DIR", (home / "Docs").string());
    const fs::path first = ConversionEngine::defaultOutputDirectory();
    EXPECT_EQ(first, home / "Docs" / "Calvoro");
    EXPECT_TRUE(fs::is_directory(first));
    writeFile(first / "kept.txt", std::string("x"));
    EXPECT_EQ(ConversionEngine::defaultOutputDirectory(), first);
    EXPECT_TRUE(fs::exists(first / "kept.txt"));
}

TEST(DefaultOutputDirectory, ReadsTheUserDirsFile) {
    TempDir home;
    Environment env;
    env.set("HOME", home.path().string());
    env.set("XDG_DOCUMENTS_DIR", std::nullopt);
    env.set("XDG_CONFIG_HOME", std::nullopt);
    writeFile(home / ".config" / "user-dirs.dirs",
              std::string("# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME/Mes documents\"\n"));
    EXPECT_EQ(ConversionEngine::defaultOutputDirectory(), home / "Mes documents" / "Calvoro");
}

TEST(DefaultOutputDirectory, AnExistingDocumentsFolderServesWithoutUserDirs) {
    TempDir home;
    Environment env;
    env.set("HOME", home.path().string());
    env.set("XDG_DOCUMENTS_DIR", std::nullopt);
    env.set("XDG_CONFIG_HOME", std::nullopt);
    env.set("XDG_DATA_HOME", std::nullopt);
    EXPECT_EQ(ConversionEngine::defaultOutputDirectory(), home / ".local" / "share" / "Calvoro");
    fs::create_directory(home / "Documents");
    EXPECT_EQ(ConversionEngine::defaultOutputDirectory(), home / "Documents" / "Calvoro");
    // An entry of the user's own still decides.
    writeFile(home / ".config" / "user-dirs.dirs", std::string("XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n"));
    EXPECT_EQ(ConversionEngine::defaultOutputDirectory(), home / "Papers" / "Calvoro");
}

TEST(DefaultOutputDirectory, FallsBackToTheDataFolderWhenThereIsNoDocumentsFolder) {
    TempDir home;
    Environment env;
    env.set("HOME", home.path().string());
    env.set("XDG_DOCUMENTS_DIR", std::nullopt);
    env.set("XDG_CONFIG_HOME", (home / "cfg").string());
    env.set("XDG_DATA_HOME", (home / "data").string());
    // A documents setting that names the home folder itself means none.
    writeFile(home / "cfg" / "user-dirs.dirs", std::string("XDG_DOCUMENTS_DIR=\"$HOME/\"\n"));
    EXPECT_EQ(ConversionEngine::defaultOutputDirectory(), home / "data" / "Calvoro");
    env.set("XDG_DATA_HOME", std::nullopt);
    EXPECT_EQ(ConversionEngine::defaultOutputDirectory(), home / ".local" / "share" / "Calvoro");
}

TEST(DefaultOutputDirectory, APlainFileInTheWayIsIgnoredAndTheSamePathReturned) {
    TempDir home;
    Environment env;
    env.set("HOME", home.path().string());
    env.set("XDG_DOCUMENTS_DIR", (home / "Documents").string());
    writeFile(home / "Documents" / "Calvoro", std::string("a file"));
    EXPECT_EQ(ConversionEngine::defaultOutputDirectory(), home / "Documents" / "Calvoro");
    EXPECT_TRUE(fs::is_regular_file(home / "Documents" / "Calvoro"));
}
