#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace calvoro::testing {

// A Letter-size PDF with one page per entry, each page showing its text (empty: a blank page).
void makeTextPDF(const std::filesystem::path& path, const std::vector<std::string>& pages);

// Number of files in the temporary folder, or in folders within it, whose names begin with the prefix.
int countTemporaryItems(const std::string& prefix);

}  // namespace calvoro::testing

namespace calvoro::testing {

// Points $TMPDIR at a private folder for the life of the object, so that counts of
// temporary items are not disturbed by other processes.
class ScopedTemporaryFolder {
public:
    ScopedTemporaryFolder();
    ~ScopedTemporaryFolder();
    ScopedTemporaryFolder(const ScopedTemporaryFolder&) = delete;
    ScopedTemporaryFolder& operator=(const ScopedTemporaryFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::string saved_;
    bool hadSaved_ = false;
};

}  // namespace calvoro::testing
