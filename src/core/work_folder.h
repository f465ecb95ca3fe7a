#pragma once

#include <filesystem>

namespace calvoro {

// A private folder (mode 0700) for one piece of work, removed with everything in it when the
// object ends. Its owner holds a lock on the folder for its whole life, so a folder whose
// process was killed is known by its free lock; the first work folder a process makes in a
// parent folder removes such leftovers there.
class WorkFolder {
public:
    // A new folder inside parent (which is created when missing). Throws
    // std::filesystem::filesystem_error when it cannot be made.
    explicit WorkFolder(const std::filesystem::path& parent);
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // $TMPDIR when it is an absolute path, else /tmp.
    static std::filesystem::path temporaryDirectory();
    // Removes the work folders in parent whose owner is gone; returns how many went.
    static int removeAbandoned(const std::filesystem::path& parent);
    // The same, at most once per folder in this process (a new work folder sweeps its parent so).
    static void removeAbandonedOnce(const std::filesystem::path& parent);
    // Whether a file name is that of a work folder.
    static bool isWorkFolderName(const std::string& name);

private:
    std::filesystem::path path_;
    int lock_ = -1;
};

}  // namespace calvoro
